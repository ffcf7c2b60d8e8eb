#!/usr/bin/env bash
# Builds the program and runs it under Wine on a virtual display, where there
# is no Windows, and leaves a screenshot in out/.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build}
SECONDS_TO_RUN=${SECONDS_TO_RUN:-8}

bash scripts/setup.sh
cmake -S . -B "$BUILD/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
ninja -C "$BUILD/windows" skiprail

source scripts/wine_env.sh
trap cleanup_wine EXIT
PREFIX=$(new_prefix pc)
DISPLAY_NAME=$(start_display 1280x1024)
KEY='HKLM\Software\Tamberlode\Skiprail'
export WINEPREFIX="$PREFIX" DISPLAY="$DISPLAY_NAME"
wine reg add "$KEY" /v SRMaster /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg add "$KEY" /v ScreenPos /t REG_DWORD /d 1 /f >/dev/null 2>&1
wine reg add "$KEY" /v SRPartner /t REG_SZ /d 127.0.0.1 /f >/dev/null 2>&1
wine reg add "$KEY" /v SRPort /t REG_SZ /d 24470 /f >/dev/null 2>&1

cp "$BUILD/windows/hook/srhook.dll" "$BUILD/windows/"
(cd "$BUILD/windows" && wine skiprail.exe) &
sleep "$SECONDS_TO_RUN"
mkdir -p out
import -display "$DISPLAY_NAME" -window root out/screen.png
echo "Skiprail ran for $SECONDS_TO_RUN s; screenshot in out/screen.png"
