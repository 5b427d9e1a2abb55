#!/bin/sh
# Builds and installs the stage prefix of one mingw triple: windows-stage.sh <triple>.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
triple=$1
stage="$root/build/stage/$triple"
[ -f "$stage/.complete" ] && exit 0
cmake -S "$root/cmake/windows-stage" -B "$root/build/stage-build/$triple" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$triple.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$stage" >/dev/null
cmake --build "$root/build/stage-build/$triple" -j "${JOBS:-2}"
cmake --install "$root/build/stage-build/$triple" >/dev/null
touch "$stage/.complete"
