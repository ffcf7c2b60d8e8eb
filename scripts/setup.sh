#!/usr/bin/env bash
# Installs what building and testing need on Debian 12. Idempotent: installs
# only what is missing, and asks apt for its lists only then.
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev googletest python3
    g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-x86-64
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
    wine wine64 wine32:i386
    # The X libraries 32-bit Wine recommends: without XInput2 (libxi6) it
    # refuses ClipCursor, which confines the Master's pointer.
    libxi6:i386 libxcursor1:i386 libxrandr2:i386 libxinerama1:i386 libxcomposite1:i386 libxfixes3:i386
    libxrender1:i386 libxxf86vm1:i386
    xvfb xdotool xclip x11-utils imagemagick procps iproute2
    # A PC of the rig with several monitors, or one whose resolution
    # changes: a nested X server (Xephyr) on an Xvfb display.
    xserver-xephyr
    # The Linux program: X11 (XTest, RandR, XFixes), OpenSSL 3's libcrypto,
    # and libpng and libjpeg-turbo for the clipboard's pictures; its tests
    # type and read back through xdotool, xclip and setxkbmap.
    pkg-config libx11-dev libxtst-dev libxrandr-dev libxfixes-dev libssl-dev x11-xkb-utils
    libpng-dev libjpeg62-turbo-dev
    # The Linux program in a Wayland session: the compositor's client library
    # with wayland-scanner and the protocols Debian packages, XKB keymaps, and
    # sd-bus for GNOME's remote desktop. Its tests run a headless sway and a
    # headless mutter (in a session bus of its own, PipeWire beside it) as a
    # normal user (made below); wtype and wl-clipboard try a desktop by hand.
    libwayland-dev wayland-protocols libxkbcommon-dev libsystemd-dev
    sway mutter pipewire dbus-daemon wtype wl-clipboard
    # Its Debian package: the capability to listen below port 1024; lintian
    # and desktop-file-validate judge the package, man renders its manual
    # page, and ImageMagick (above) draws its menu icon.
    dpkg-dev libcap2-bin lintian desktop-file-utils man-db
    # The Windows installer.
    wixl msitools
)

# The 32-bit build runs under Wine's 32-bit loader, which comes from i386.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo dpkg --add-architecture i386
fi

missing=()
for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    # A mirror caught mid-sync fails one list now and then: try again, and go
    # on with the lists that came (the install below says if one is missing).
    for attempt in 1 2 3; do
        $sudo apt-get update -q && break
        sleep $((attempt * 5))
    done
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The normal user the Wayland desktops of the tests run as (sway refuses root).
if ! id srtest >/dev/null 2>&1; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo useradd --create-home srtest
fi
