#!/usr/bin/env bash
# What the Windows cross build needs besides the native build's packages: Debian's mingw-w64
# compilers and wine (installed when missing), and GoogleTest cross-built from Debian's
# googletest sources and installed into build-windows/deps, where the build finds it as a package.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine64 googletest

prefix=$PWD/build-windows/deps
[ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ] && exit 0
# The package's source tree of GoogleTest with GoogleMock: the folder whose googletest/ builds.
source=""
for listed in $(dpkg -L googletest | grep '/CMakeLists.txt$'); do
  folder=$(dirname "$listed")
  if [ -f "$folder/googletest/CMakeLists.txt" ]; then source=$folder; break; fi
done
[ -n "$source" ] || { echo "no GoogleTest sources in the googletest package" >&2; exit 1; }
echo "building GoogleTest for Windows from $source"
cmake -S "$source" -B build-windows/deps-build/googletest -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_GMOCK=OFF >/dev/null
cmake --build build-windows/deps-build/googletest -j "$(nproc)" >/dev/null
cmake --install build-windows/deps-build/googletest >/dev/null
