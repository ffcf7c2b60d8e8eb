#!/usr/bin/env bash
# Packs the Linux program as a Debian package, OUT_DIR/skiprail_<version>_amd64.deb,
# from a native build folder that holds unix/skiprail (built Release by
# scripts/release.sh). Prints the package's path.
#   scripts/pack_deb.sh BUILD_DIR OUT_DIR
# The binary goes to /usr/bin, stripped; the libraries it needs become its
# Depends (dpkg-shlibdeps); the package's postinst grants it the capability
# to listen on ports below 1024 (the default port is 447), which a program
# started by a normal user lacks otherwise. Beside it: the manual page
# (unix/skiprail.1), the desktop menu's entry (unix/skiprail.desktop) and its
# icon, drawn from the program's icon with ImageMagick's convert.
set -euo pipefail
if [ $# -ne 2 ] || [ ! -x "$1/unix/skiprail" ]; then
    echo "usage: $0 BUILD_DIR OUT_DIR (BUILD_DIR holding unix/skiprail)" >&2
    exit 2
fi
BUILD_DIR=$(cd "$1" && pwd)
mkdir -p "$2"
OUT_DIR=$(cd "$2" && pwd)
cd "$(dirname "$0")/.."
VERSION=$(sed -n 's/^#define SKIPRAIL_VERSION_TEXT *"\(.*\)"/\1/p' resources/version.h)
ARCH=$(dpkg --print-architecture)
MAINTAINER=${MAINTAINER:-"Tamberlode Ltd <skiprail@tamberlode.co.uk>"}

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/root
umask 022

install -D -m 0755 "$BUILD_DIR/unix/skiprail" "$root/usr/bin/skiprail"
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$root/usr/bin/skiprail"

install -d "$root/usr/share/man/man1"
gzip -9n <unix/skiprail.1 >"$root/usr/share/man/man1/skiprail.1.gz"
install -D -m 0644 unix/skiprail.desktop "$root/usr/share/applications/skiprail.desktop"
# The icon's squares lie on a grid of 16: scaled by whole pixels it stays
# sharp. No time stamps in the PNG, so the same sources pack the same.
for size in 48 128; do
    icons=$root/usr/share/icons/hicolor/${size}x${size}/apps
    install -d "$icons"
    convert resources/main.ico -filter point -resize "${size}x${size}" -strip \
        -define png:exclude-chunks=date,time "png32:$icons/skiprail.png"
    chmod 0644 "$icons/skiprail.png"
done

# The release's date is the last commit's, so the same sources pack the same;
# the copyright's years run from the first commit's to it.
date=$(git log -1 --format=%cD 2>/dev/null || date -R)
last=$(date -d "$date" +%Y)
first=$(git log --max-parents=0 --format=%cd --date=format:%Y 2>/dev/null | sort -n | sed -n 1p || true)
years=${first:-$last}
[ "$years" = "$last" ] || years="$years-$last"

doc=$root/usr/share/doc/skiprail
install -d "$doc"
cat >"$doc/copyright" <<EOF
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Skiprail
Upstream-Contact: $MAINTAINER

Files: *
Copyright: $years Tamberlode Ltd
License: proprietary
 Copyright (C) $years Tamberlode Ltd. All rights reserved.
 .
 Skiprail is proprietary software, not free software: it may be used,
 copied and passed on only as Tamberlode Ltd's licence for it allows.
EOF
printf 'skiprail (%s) stable; urgency=medium\n\n  * Skiprail %s: a Linux PC as a Slave under X11.\n\n -- %s  %s\n' \
    "$VERSION" "$VERSION" "$MAINTAINER" "$date" | gzip -9n >"$doc/changelog.gz"

# The shared libraries the binary links, as the packages that hold them.
mkdir -p "$stage/debian"
printf 'Source: skiprail\n\nPackage: skiprail\nArchitecture: any\n' >"$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O -e"root/usr/bin/skiprail" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
if [ -z "$depends" ]; then
    echo "dpkg-shlibdeps found no libraries for unix/skiprail" >&2
    exit 1
fi

install -d "$root/DEBIAN"
cat >"$root/DEBIAN/control" <<EOF
Package: skiprail
Version: $VERSION
Architecture: $ARCH
Maintainer: $MAINTAINER
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends, libcap2-bin
Section: x11
Priority: optional
Description: one keyboard and mouse for the PCs on a desk
 Skiprail lets the keyboard and mouse of one PC, the Master, drive the PCs
 beside it on the network: push the pointer past the screen edge and it
 carries on onto the next PC's screen, with the keys, buttons, wheel and the
 clipboard's text.
 .
 This package is the Linux program, a Slave of a Windows Master, for an X11
 session.
EOF
cat >"$root/DEBIAN/postinst" <<'EOF'
#!/bin/sh
# The default port, 447, is below 1024: the capability lets a normal user's
# skiprail listen there.
set -e
if [ "$1" = configure ]; then
    setcap cap_net_bind_service=+ep /usr/bin/skiprail ||
        echo "skiprail: could not grant /usr/bin/skiprail the capability to listen on port 447;" \
            "set a port above 1023 on both PCs instead" >&2
fi
exit 0
EOF
chmod 0755 "$root/DEBIAN/postinst"

# Every file's checksum, for dpkg --verify and debsums.
(cd "$root" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/md5sums"

package="$OUT_DIR/skiprail_${VERSION}_${ARCH}.deb"
# Its files dated no later than the release, as the changelog has it.
SOURCE_DATE_EPOCH=$(date -d "$date" +%s) dpkg-deb --build --root-owner-group "$root" "$package" >/dev/null
echo "$package"
