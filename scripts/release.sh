#!/usr/bin/env bash
# Builds the release: the 64-bit and the 32-bit program, stripped and linked
# statically (no runtime DLL beside them), each pair in a folder of its own
# with the user guide, in out/skiprail-<version>-windows.zip.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build}
OUT=${OUT:-$ROOT/out}

bash scripts/setup.sh
VERSION=$(sed -n 's/^#define SKIPRAIL_VERSION_TEXT *"\(.*\)"/\1/p' resources/version.h)
NAME="skiprail-$VERSION-windows"
STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT
mkdir -p "$STAGE/$NAME" "$OUT"

for arch in i686 x86_64; do
    folder=32-bit
    [ "$arch" = x86_64 ] && folder=64-bit
    dir="$BUILD/release-$arch"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-$arch.cmake" -DSKIPRAIL_TESTS=OFF >/dev/null
    ninja -C "$dir" skiprail srhook >/dev/null
    mkdir -p "$STAGE/$NAME/$folder"
    cp "$dir/skiprail.exe" "$dir/hook/srhook.dll" "$STAGE/$NAME/$folder/"
    echo "$folder: $(stat -c %s "$dir/skiprail.exe") + $(stat -c %s "$dir/hook/srhook.dll") bytes;" \
        "imports listed in $dir/imports-skiprail.exe.txt and imports-srhook.dll.txt"
done
# The guide as Windows' own editors read it: CRLF line ends.
sed 's/$/\r/' docs/user-guide.txt >"$STAGE/$NAME/README.txt"

rm -f "$OUT/$NAME.zip"
(cd "$STAGE" && python3 -m zipfile -c "$OUT/$NAME.zip" "$NAME")
python3 -m zipfile -l "$OUT/$NAME.zip"
echo "release: $OUT/$NAME.zip"
