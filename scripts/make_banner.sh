#!/usr/bin/env bash
# Draws the settings dialog's banner into resources/banner.bmp: 521 x 63
# pixels, 24 bits, in the icons' colours (navy, screen blue, rail orange):
# the name, a line on what it does, and the two screens joined by a rail.
# Needs ImageMagick and the DejaVu fonts; the bitmap is kept in the
# repository, so building does not need either.
set -euo pipefail
cd "$(dirname "$0")/.."

# Two screens on stands, joined by a rail between them and one beneath.
screens="fill #0f1626 roundrectangle 384,9 442,45 4,4 roundrectangle 452,9 510,45 4,4
         fill #3ca0eb rectangle 388,13 438,41 rectangle 456,13 506,41
         fill #5fb8f5 polygon 388,13 438,13 388,33 polygon 456,13 506,13 456,33
         fill #0f1626 rectangle 409,45 417,50 rectangle 477,45 485,50
         fill #fa9628 rectangle 436,25 458,29 roundrectangle 380,51 514,55 2,2"

convert -size 521x63 gradient:'#182238'-'#2d4d7c' -rotate -90 -resize '521x63!' \
    -draw "$screens" \
    -font DejaVu-Sans-Bold -pointsize 27 -fill '#0b1020' -annotate +17+33 'Skiprail' \
    -fill white -annotate +16+32 'Skiprail' \
    -font DejaVu-Sans -pointsize 15 -fill '#fa9628' -annotate +152+32 'Settings' \
    -font DejaVu-Sans -pointsize 11 -fill '#c4dcf4' -annotate +17+51 'One keyboard and mouse for two PCs side by side' \
    -fill '#fa9628' -draw 'rectangle 0,61 520,62' \
    -type TrueColor BMP3:resources/banner.bmp
