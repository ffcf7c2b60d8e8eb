#!/usr/bin/env bash
# Makes the installer for all users from one build folder (skiprail.exe and
# hook/srhook.dll in it):
#   scripts/make_msi.sh BUILD_DIR 64|32 OUTPUT.msi [VERSION]
# VERSION (major.minor.build) defaults to the program's own, from
# resources/version.h; a test gives a higher one to try an upgrade.
set -euo pipefail
if [ $# -lt 3 ] || { [ "$2" != 64 ] && [ "$2" != 32 ]; }; then
    echo "usage: $0 BUILD_DIR 64|32 OUTPUT.msi [VERSION]" >&2
    exit 2
fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
bits=$2
output=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
version=${4:-$(sed -n 's/^#define SKIPRAIL_VERSION_NUMBERS *\([0-9]*\),\([0-9]*\),\([0-9]*\),.*/\1.\2.\3/p' \
    "$ROOT/resources/version.h")}
arch=x64
[ "$bits" = 32 ] && arch=x86

# wixl takes the files from beside the source.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$ROOT/installer/skiprail.wxs" "$ROOT/resources/main.ico" "$build/skiprail.exe" "$build/hook/srhook.dll" "$stage/"
size_kb=$(( ($(stat -c %s "$stage/skiprail.exe") + $(stat -c %s "$stage/srhook.dll") + 1023) / 1024 ))
(cd "$stage" && wixl --arch "$arch" -D Bits="$bits" -D Version="$version" -D SizeKB="$size_kb" \
    -o "$output" skiprail.wxs)
# The properties a command line may hand to the part of the install that runs
# with the system's rights (wixl writes only its own upgrade properties).
msibuild "$output" -q "UPDATE Property SET Value = 'OLDERFOUND;NEWERFOUND;START;REMOVESETTINGS'
    WHERE Property = 'SecureCustomProperties'"
echo "$output"
