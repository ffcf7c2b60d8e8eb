#!/usr/bin/env bash
# Builds the release: the 64-bit and the 32-bit program, stripped and linked
# statically (no runtime DLL beside them), each pair in a folder of its own
# with the user guide, in out/skiprail-<version>-windows.zip (compressed);
# and beside it the installers for all users, one per build
# (out/skiprail-<version>-64-bit.msi and -32-bit.msi), and the Linux program,
# built Release by a plain native configure, as the Debian package
# out/skiprail_<version>_amd64.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build}
OUT=${OUT:-$ROOT/out}

bash scripts/setup.sh
VERSION=$(sed -n 's/^#define SKIPRAIL_VERSION_TEXT *"\(.*\)"/\1/p' resources/version.h)
NAME="skiprail-$VERSION-windows"
mkdir -p "$OUT"

builds=()
installers=()
for arch in i686 x86_64; do
    folder=32-bit
    [ "$arch" = x86_64 ] && folder=64-bit
    dir="$BUILD/release-$arch"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-$arch.cmake" -DSKIPRAIL_TESTS=OFF >/dev/null
    ninja -C "$dir" skiprail srhook >/dev/null
    builds+=("$folder=$dir")
    installers+=("$dir:${folder%-bit}:$OUT/skiprail-$VERSION-$folder.msi")
    echo "$folder: $(stat -c %s "$dir/skiprail.exe") + $(stat -c %s "$dir/hook/srhook.dll") bytes;" \
        "imports listed in $dir/imports-skiprail.exe.txt and imports-srhook.dll.txt"
done

rm -f "$OUT/$NAME.zip"
size=$(python3 scripts/pack_release.py "$OUT/$NAME.zip" "$NAME" docs/user-guide.txt "${builds[@]}")
python3 -m zipfile -l "$OUT/$NAME.zip"
echo "release: $OUT/$NAME.zip ($size bytes)"
for installer in "${installers[@]}"; do
    IFS=: read -r dir bits msi <<<"$installer"
    bash scripts/make_msi.sh "$dir" "$bits" "$msi" >/dev/null
    echo "installer: $msi ($(stat -c %s "$msi") bytes)"
done

linux="$BUILD/release-linux"
cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKIPRAIL_TESTS=OFF >/dev/null
ninja -C "$linux" skiprail >/dev/null
package=$(bash scripts/pack_deb.sh "$linux" "$OUT")
dpkg-deb -I "$package"
dpkg-deb -c "$package"
echo "release: $package ($(stat -c %s "$package") bytes)"
