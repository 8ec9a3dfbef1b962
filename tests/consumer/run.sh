#!/usr/bin/env bash
# Installs the built library into a temporary prefix, then builds and runs the consumer project
# against it twice: through find_package(KelXML) and through pkg-config.
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib:${LD_LIBRARY_PATH:-}" "$work/cmake/consumer"
libdir=$(ls -d "$work"/prefix/lib*/pkgconfig | head -n 1)
export PKG_CONFIG_PATH="$libdir"
# shellcheck disable=SC2046
c++ -std=c++17 "$here/main.cpp" -o "$work/consumer-pc" $(pkg-config --cflags --libs kelxml)
LD_LIBRARY_PATH="$(dirname "$libdir"):${LD_LIBRARY_PATH:-}" "$work/consumer-pc"
# The same with the prefix on the program's run path, as the README says: no LD_LIBRARY_PATH.
# shellcheck disable=SC2046
c++ -std=c++17 "$here/main.cpp" -o "$work/consumer-rpath" $(pkg-config --cflags --libs kelxml) \
    -Wl,-rpath,"$(dirname "$libdir")"
env -u LD_LIBRARY_PATH "$work/consumer-rpath"
# The installed tool finds the installed library by itself (relative RPATH), from any folder.
if grep -q '^KELXML_BUILD_TOOLS:BOOL=ON$' "$build/CMakeCache.txt"; then
  (cd "$work" && "$work/prefix/bin/kelxml" check "$here/../../examples/sample.xml")
fi
