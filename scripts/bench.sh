#!/usr/bin/env bash
# The benchmark: builds the program, its floors (bench/floor.cpp) and the
# benchmark's tool (bench/srbench.cpp), runs two PCs under Wine on the
# two-PC rig and prints every figure beside its floor measured in the same
# run, as a ratio, with each target met or not. The table goes to
# bench/results.md (RESULTS=FILE to write it elsewhere). Every section runs
# three times in turn and each figure is the median run, with the spread
# between the runs (--runs N to change it). About 25 minutes.
# The "linux", "linuxclip" and "linuxmaster" sections measure the Linux
# program, built natively (Release); "wayland" the same program on a headless
# sway and a headless mutter.
#   bash scripts/bench.sh [--only slave,master,flood,crossing,e2e,pointer,idle,clipboard,files,linkkey,desk,hotkeys,slowlink,linux,linuxclip,linuxmaster,wayland] [--runs N]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build}
RESULTS=${RESULTS:-$ROOT/bench/results.md}

bash scripts/setup.sh
cmake -S . -B "$BUILD/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DSKIPRAIL_TESTS=ON -DGTEST_SOURCE_DIR=/usr/src/googletest >/dev/null
ninja -C "$BUILD/windows" skiprail srhook srdrive srbench floor >/dev/null

linux=()
if [ -f unix/main.cpp ]; then
    cmake -S . -B "$BUILD/native-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DSKIPRAIL_TESTS=ON -DGTEST_SOURCE_DIR=/usr/src/googletest >/dev/null
    ninja -C "$BUILD/native-release" skiprail xwatch wlwatch xfloor >/dev/null
    linux=(--linux-build "$BUILD/native-release")
fi

exec python3 bench/bench.py --build "$BUILD/windows" --results "$RESULTS" "${linux[@]}" "$@"
