#!/usr/bin/env bash
# Installs what building and testing need on Debian 12. Idempotent: installs
# only what is missing, and asks apt for its lists only then.
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev googletest python3
    g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-x86-64
    wine wine64 xvfb xdotool xclip x11-utils imagemagick procps iproute2
)

missing=()
for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
