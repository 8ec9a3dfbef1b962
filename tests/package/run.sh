#!/usr/bin/env bash
# Builds the library, the tool and the examples alone, as on a machine without GoogleTest or
# Google Benchmark, makes the Debian package with CPack, lists its contents, and runs the tool
# from an unpacked copy of it.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S "$top" -B "$work/build" -DKELXML_BUILD_TESTS=OFF -DKELXML_BUILD_BENCH=OFF \
      -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
cmake --build "$work/build" -j2 >/dev/null
(cd "$work/build" && cpack -G DEB >/dev/null)
deb=$(ls "$work"/build/kelxml_*.deb)
echo "== $(basename "$deb")"
dpkg-deb -f "$deb" Package Version Depends
contents=$(dpkg-deb -c "$deb")
echo "$contents"
for f in ./usr/bin/kelxml ./usr/lib/libKel_XML.so.1 ./usr/include/XML/CKelXML.h ./usr/include/XML/KelXMLVersion.h \
         /pkgconfig/kelxml.pc ./usr/share/man/man1/kelxml.1 ./usr/share/bash-completion/completions/kelxml \
         ./usr/share/doc/kelxml/LICENSE; do
  grep -qF -- "$f" <<<"$contents" || { echo "missing from the package: $f" >&2; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q xerces || { echo "the package does not depend on Xerces-C" >&2; exit 1; }

# The tool runs from an unpacked copy, finding the library beside it through its RPATH.
dpkg-deb -x "$deb" "$work/root"
tool=$work/root/usr/bin/kelxml
version=$(sed -n 's/^#define KELXML_VERSION_STRING "\(.*\)"$/\1/p' "$work/root/usr/include/XML/KelXMLVersion.h")
[ -n "$version" ] || { echo "no version string in KelXMLVersion.h" >&2; exit 1; }
[ "$("$tool" --version | head -n 1)" = "kelxml (Kel_XML) $version" ] || { echo "kelxml --version disagrees" >&2; exit 1; }
(cd "$work" && "$tool" check "$top/examples/sample.xml")
echo '<a><b/></a>' | "$tool" count - b

# The man page renders without a warning; the completion completes a command.
groff -man -ww -z "$work/root/usr/share/man/man1/kelxml.1"
completion=$work/root/usr/share/bash-completion/completions/kelxml
bash -c "shopt -s extglob; source '$completion'; COMP_WORDS=(kelxml ch); COMP_CWORD=1; _kelxml; \
         [ \"\${COMPREPLY[*]}\" = check ]" || { echo "the completion does not complete 'ch'" >&2; exit 1; }
echo "package ok"
