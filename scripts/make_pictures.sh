#!/usr/bin/env bash
# Draws the splash, the connection notice and the About banner into
# resources/ with ImageMagick: the Master's screen and the Slave's laptop
# joined by a rail the pointer skips along. Written as 24-bit bitmaps,
# uncompressed (about half a megabyte in all; the release zip compresses
# them). Run by hand after changing the artwork; the build uses the files.
set -euo pipefail
OUT="$(cd "$(dirname "$0")/../resources" && pwd)"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

BOLD=DejaVu-Sans-Bold
BOOK=DejaVu-Sans

# screen X Y W H: a monitor's frame and glass, drawn with -draw primitives.
screen() {
    local x=$1 y=$2 w=$3 h=$4 r=$5
    echo "fill #dfe8f2 stroke none roundrectangle $x,$y $((x + w)),$((y + h)) $r,$r"
    echo "fill #0f3557 roundrectangle $((x + 5)),$((y + 5)) $((x + w - 5)),$((y + h - 5)) 2,2"
}

# bmp IN OUT: 24 bits per pixel, no compression, no alpha.
bmp() {
    convert "$1" -alpha off -type TrueColor -compress None "BMP3:$2"
}

# ---- splash, 475 x 276
convert -size 475x276 gradient:'#0b2340'-'#175a8c' \
    -draw "fill #ffffff0f stroke none circle 380,40 520,40" \
    -draw "fill #ffffff0a circle 60,250 150,250" \
    -draw "$(screen 52 46 150 102 7)" \
    -draw "fill #1e78c2 rectangle 60,54 194,140" \
    -draw "fill #2c8fe0 rectangle 60,54 194,66" \
    -draw "fill #ffffff40 rectangle 68,74 128,80 rectangle 68,86 150,92 rectangle 68,98 112,104" \
    -draw "fill #dfe8f2 polygon 115,148 139,148 145,164 109,164" \
    -draw "fill #dfe8f2 roundrectangle 94,163 160,169 3,3" \
    -draw "$(screen 290 70 124 80 6)" \
    -draw "fill #1e78c2 rectangle 297,77 407,143" \
    -draw "fill #2c8fe0 rectangle 297,77 407,87" \
    -draw "fill #ffffff40 rectangle 304,96 360,101 rectangle 304,107 380,112" \
    -draw "fill #c9d6e4 polygon 278,150 426,150 436,162 268,162" \
    -draw "fill #9fb2c7 rectangle 268,162 436,165" \
    -draw "fill none stroke #ffb347 stroke-width 4 stroke-linecap round stroke-dasharray 2,12 path 'M 204,92 Q 246,20 288,96'" \
    -draw "fill #ffb347 stroke none circle 204,92 208,92 circle 288,96 292,96" \
    -draw "fill #ffffff stroke #0b2340 stroke-width 1.5 path 'M 240,44 L 240,66 L 245,61 L 249,70 L 253,68 L 249,59 L 256,59 Z'" \
    -font $BOLD -pointsize 42 -fill '#ffffff' -stroke none -gravity north -annotate +0+182 'Skiprail' \
    -font $BOOK -pointsize 14 -fill '#bcd9f2' -annotate +0+232 'One keyboard and mouse for two PCs' \
    -gravity southeast -pointsize 10 -fill '#7fa6c9' -annotate +10+6 'Version 1.0  ·  Tamberlode Ltd' \
    "$WORK/splash.png"
bmp "$WORK/splash.png" "$OUT/splash.bmp"

# ---- notice, 116 x 47: shown above the taskbar while the Slave has control
convert -size 116x47 gradient:'#12395f'-'#0b2340' \
    -draw "fill #dfe8f2 roundrectangle 6,10 22,22 2,2 fill #1e78c2 rectangle 8,12 20,20" \
    -draw "fill #dfe8f2 roundrectangle 27,14 39,23 2,2 fill #1e78c2 rectangle 29,16 37,21" \
    -draw "fill #c9d6e4 rectangle 25,23 41,25" \
    -draw "fill #dfe8f2 rectangle 12,22 16,26 rectangle 10,26 18,27" \
    -draw "fill none stroke #ffb347 stroke-width 2 stroke-linecap round path 'M 15,10 Q 24,1 33,13'" \
    -draw "fill #ffb347 stroke none circle 33,13 35,13" \
    -font $BOLD -pointsize 11 -fill '#ffffff' -annotate +45+19 'Skiprail' \
    -font DejaVu-Sans-Condensed -pointsize 9 -fill '#bcd9f2' -annotate +45+32 'Slave in control' \
    -draw "fill #ffb347 rectangle 0,44 116,47" \
    "$WORK/notice.png"
bmp "$WORK/notice.png" "$OUT/notice.bmp"

# ---- About banner, 412 x 74, across the top of the About box
convert -size 412x74 gradient:'#0b2340'-'#175a8c' \
    -draw "fill #ffffff0f stroke none circle 370,10 440,10" \
    -draw "$(screen 16 16 44 32 3)" \
    -draw "fill #1e78c2 rectangle 20,20 56,44" \
    -draw "fill #dfe8f2 polygon 33,48 43,48 45,54 31,54" \
    -draw "$(screen 72 24 36 24 3)" \
    -draw "fill #1e78c2 rectangle 76,28 104,44" \
    -draw "fill #c9d6e4 polygon 68,48 112,48 115,53 65,53" \
    -draw "fill none stroke #ffb347 stroke-width 2.5 stroke-linecap round stroke-dasharray 1,6 path 'M 52,22 Q 68,2 86,24'" \
    -font $BOLD -pointsize 30 -fill '#ffffff' -stroke none -annotate +132+42 'Skiprail' \
    -font $BOOK -pointsize 12 -fill '#bcd9f2' -annotate +134+62 'One keyboard and mouse for two PCs' \
    "$WORK/about.png"
bmp "$WORK/about.png" "$OUT/about.bmp"

for f in splash notice about; do identify "$OUT/$f.bmp"; done
