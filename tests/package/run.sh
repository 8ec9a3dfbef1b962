#!/usr/bin/env bash
# Builds the library, the tool and the examples alone, as on a machine without GoogleTest or
# Google Benchmark, with the distribution's hardening flags, and makes the two Debian packages
# with CPack: kelxml (library, tool, man page, completion) and kelxml-dev. Lists them, checks
# their contents and fields, runs lintian when it is there, then installs them with dpkg (as
# root, or through passwordless sudo), builds tests/consumer against the installed -dev package
# (CMake package and pkg-config), runs the installed tool, and purges both, checking that
# nothing is left behind. Without root or sudo, the install part is skipped with a message and
# the tool runs from an unpacked copy instead.
# Usage: run.sh [DIR]   (DIR: where to keep the two packages; by default they are thrown away)
set -euo pipefail
keep=${1:-}
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
as_root=()
installed=no
cleanup() {
  if [ "$installed" = yes ]; then "${as_root[@]}" dpkg --purge kelxml-dev kelxml >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package: $*" >&2; exit 1; }

# The distribution's compiler and linker flags (fortify, stack protector, relro, bind now), as a
# Debian package build uses them.
if command -v dpkg-buildflags >/dev/null; then
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CXXFLAGS="$(cd "$top" && dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
  export CXXFLAGS LDFLAGS
fi
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
(cd "$top" && cmake -S . -B "$work/build" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=None \
   -DKELXML_BUILD_TESTS=OFF -DKELXML_BUILD_BENCH=OFF -DKELXML_WERROR=ON "${launcher[@]}" >/dev/null)
cmake --build "$work/build" -j"${KELXML_JOBS:-2}" >/dev/null
(cd "$work/build" && cpack -G DEB >/dev/null 2>&1) || (cd "$work/build" && cpack -G DEB)
run=$(ls "$work"/build/kelxml_*.deb)
dev=$(ls "$work"/build/kelxml-dev_*.deb)
if [ -n "$keep" ]; then mkdir -p "$keep" && cp "$run" "$dev" "$keep"/; fi
version=$(dpkg-deb -f "$run" Version)
# The library's file names follow the project version: libKel_XML.so.MAJOR and .so.MAJOR.MINOR.PATCH.
upstream=${version%-*}
major=${upstream%%.*}
multiarch=$(grep -oP '^CMAKE_INSTALL_LIBDIR:PATH=lib/\K.*' "$work/build/CMakeCache.txt" || true)
libdir=/usr/lib${multiarch:+/$multiarch}

# contains DEB PATTERN...: every pattern (an extended regex for one line of dpkg-deb -c) matches.
contains() {
  local deb=$1 listing
  shift
  listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
  for pattern in "$@"; do
    grep -qE "^$pattern\$" <<<"$listing" || fail "$(basename "$deb") holds no $pattern"
  done
}
# paths KIND: the absolute paths both packages hold, of directories (d) or of the rest (-).
paths() {
  for deb in "$run" "$dev"; do
    dpkg-deb -c "$deb" | awk -v kind="$1" '(substr($1, 1, 1) == "d") == (kind == "d") { print substr($6, 2) }'
  done | sed 's|/$||' | grep -v '^$' | sort -u
}
for deb in "$run" "$dev"; do
  echo "== $(basename "$deb")"
  dpkg-deb -f "$deb" Package Version Section Depends
  dpkg-deb -c "$deb" | awk '{ $2 = $4 = $5 = ""; print }' | tr -s ' '
done
contains "$run" ./usr/bin/kelxml ".$libdir/libKel_XML.so.$major" ".$libdir/libKel_XML.so.$upstream" \
  ./usr/share/man/man1/kelxml.1.gz ./usr/share/bash-completion/completions/kelxml \
  ./usr/share/doc/kelxml/copyright ./usr/share/doc/kelxml/changelog.Debian.gz
contains "$dev" ./usr/include/XML/CKelXML.h ./usr/include/XML/KelXMLVersion.h ".$libdir/libKel_XML.so" \
  ".$libdir/cmake/KelXML/KelXMLConfig.cmake" ".$libdir/pkgconfig/kelxml.pc" ./usr/share/doc/kelxml-dev/copyright
# Each file in one package only: the library's development link and headers are not in the run-time one.
if dpkg-deb -c "$run" | awk '{ print $6 }' | grep -E '/include/|\.so$|pkgconfig|/cmake/'; then
  fail "kelxml holds development files"
fi
if dpkg-deb -c "$dev" | awk '{ print $6 }' | grep -E '/bin/|\.so\.[0-9]'; then
  fail "kelxml-dev holds run-time files"
fi
grep -q 'libxerces-c3\.2' <<<"$(dpkg-deb -f "$run" Depends)" || fail "kelxml does not depend on libxerces-c3.2"
[ "$(dpkg-deb -f "$dev" Depends)" = "kelxml (= $version), libxerces-c-dev" ] || fail "kelxml-dev's dependencies"
[ "$(dpkg-deb -I "$run" shlibs)" = "libKel_XML $major kelxml (>= $version)" ] || fail "kelxml's shlibs file"
[ "$(dpkg-deb -I "$run" triggers)" = 'activate-noawait ldconfig' ] || fail "kelxml has no ldconfig trigger"
dpkg-deb -x "$run" "$work/unpacked"
dpkg-deb -x "$dev" "$work/unpacked"
for f in /usr/bin/kelxml "$libdir/libKel_XML.so.$upstream"; do
  if grep -q '\.symtab' <<<"$(readelf -S "$work/unpacked$f")"; then fail "$f is not stripped"; fi
done
if grep -qE 'RPATH|RUNPATH' <<<"$(readelf -d "$work/unpacked/usr/bin/kelxml")"; then fail "kelxml has a run path"; fi
if command -v lintian >/dev/null; then
  # Errors and warnings fail; what is by design is overridden in the packages (cmake/debian/).
  lint=$(lintian --fail-on error,warning "$run" "$dev" 2>&1) || fail "lintian: $lint"
  echo "lintian: no error or warning"
else
  echo "lintian not installed: the packages are not linted"
fi

# Install, as root or through passwordless sudo; never over a kelxml installed otherwise.
if [ "$(id -u)" -eq 0 ]; then
  as_root=(env)
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
  as_root=(sudo -n)
fi
# known: the packages dpkg knows in some state other than not installed.
known() { dpkg-query -W -f='${Package} ${Status}\n' kelxml kelxml-dev 2>/dev/null | grep -v ' not-installed$' || true; }
if [ "${#as_root[@]}" -eq 0 ] || [ -n "$(known)" ]; then
  if [ "${#as_root[@]}" -eq 0 ]; then
    echo "SKIPPED: installing the packages needs root or passwordless sudo; the tool runs from an unpacked copy"
  else
    echo "SKIPPED: a kelxml package is already installed; the tool runs from an unpacked copy"
  fi
  root=$work/unpacked
  export LD_LIBRARY_PATH="$root$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
else
  # The folders the packages would create, to check that purging removes them again.
  new_dirs=$(paths d | while read -r d; do if [ ! -e "$d" ]; then echo "$d"; fi; done)
  installed=yes
  "${as_root[@]}" dpkg -i "$run" "$dev" >/dev/null
  grep -q "libKel_XML\\.so\\.$major " <<<"$(ldconfig -p)" || fail "the ldconfig trigger did not run"
  root=/
  # pkg-config gives the system folders as they are.
  [ "$(pkg-config --variable=includedir kelxml)" = /usr/include ] || fail "pkg-config's includedir"
  [ "$(pkg-config --variable=libdir kelxml)" = "$libdir" ] || fail "pkg-config's libdir"
  # The consumer project against the installed -dev package: find_package, then pkg-config.
  cmake -S "$top/tests/consumer" -B "$work/consumer" >/dev/null
  cmake --build "$work/consumer" >/dev/null
  "$work/consumer/consumer"
  # shellcheck disable=SC2046
  c++ -std=c++17 "$top/tests/consumer/main.cpp" -o "$work/consumer-pc" $(pkg-config --cflags --libs kelxml)
  "$work/consumer-pc"
fi

tool=$root/usr/bin/kelxml
header_version=$(sed -n 's/^#define KELXML_VERSION_STRING "\(.*\)"$/\1/p' \
                 "$work/unpacked/usr/include/XML/KelXMLVersion.h")
[ "$("$tool" --version | head -n 1)" = "kelxml (Kel_XML) $header_version" ] || fail "kelxml --version disagrees"
[ "${version%-*}" = "$header_version" ] || fail "package version $version, library $header_version"
(cd "$work" && "$tool" check "$top/examples/sample.xml")
echo '<a><b/></a>' | "$tool" count - b
# The man page renders without a warning; the completion completes a command.
zcat "$root/usr/share/man/man1/kelxml.1.gz" | groff -man -ww -z
completion=$root/usr/share/bash-completion/completions/kelxml
bash -c "source '$completion'; COMP_WORDS=(kelxml ch); COMP_CWORD=1; _kelxml; [ \"\${COMPREPLY[*]}\" = check ]" ||
  fail "the completion does not complete 'ch'"

if [ "$installed" = yes ]; then
  "${as_root[@]}" dpkg --purge kelxml-dev kelxml >/dev/null
  installed=no
  [ -z "$(known)" ] || fail "still known to dpkg: $(known)"
  left=$(paths - | while read -r f; do if [ -e "$f" ] || [ -L "$f" ]; then echo "$f"; fi; done
         for d in $new_dirs; do if [ -e "$d" ]; then echo "$d/"; fi; done)
  [ -z "$left" ] || fail "left behind after purging: $left"
  if grep -q 'libKel_XML\.so' <<<"$(ldconfig -p)"; then fail "the library is still in the linker cache"; fi
  echo "installed, used and purged; nothing left behind"
fi
echo "package ok ($SECONDS s)"
