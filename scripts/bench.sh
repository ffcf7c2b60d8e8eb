#!/usr/bin/env bash
# Prints latency figures of the input path under Wine: the Slave's replay
# round trip (PKT_INPUT until its READY) and the Master's forwarding (a
# SendInput move until its PKT_INPUT is on the wire).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build}
COUNT=${COUNT:-1000}

bash scripts/setup.sh
cmake -S . -B "$BUILD/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DSKIPRAIL_TESTS=ON -DGTEST_SOURCE_DIR=/usr/src/googletest >/dev/null
ninja -C "$BUILD/windows" roundtrip >/dev/null

source scripts/wine_env.sh
trap cleanup_wine EXIT
PREFIX=$(new_prefix bench)
DISPLAY_NAME=$(start_display 1280x1024)
cd "$BUILD/windows/wine-tests"
for side in slave master; do
    WINEPREFIX="$PREFIX" DISPLAY="$DISPLAY_NAME" timeout 300 wine roundtrip.exe "$side" "$COUNT"
    WINEPREFIX="$PREFIX" wineserver -k 2>/dev/null || true
done
