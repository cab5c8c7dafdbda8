#!/usr/bin/env bash
# Regenerates the program's icon and banner bitmaps (needs ImageMagick 6 and the DejaVu fonts).
# The results are committed; the build does not run this.
#
#   brevant.ico         one icon in 16, 20, 24, 32, 40, 48, 64 and 256 px, 32-bit colour with
#                       alpha; the 256 px image is PNG-compressed (ImageMagick does that by itself
#                       for images of 256 px). Used for the window (162) and the About box (128).
#   banner*.bmp         the banner at the top left of the main dialog, 24-bit, at 100, 125, 150
#                       and 200 % of its size at 96 DPI. The program picks one for the window's
#                       DPI and scales it into the picture control (app/win32/banner.cpp).
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- The icon ------------------------------------------------------------------------------
# A flash disk with a lightning arrow, drawn on a grid of 64 units and scaled to each size, so
# every size is drawn from the shapes and none is a scaled-down picture of another.
icon_sizes=(16 20 24 32 40 48 64 256)
draw_icon() {  # size output
    local s=$1 f
    f=$(awk -v s="$s" 'BEGIN { printf "%.6f", s / 64 }')
    # Small sizes get thicker lines (in grid units), so the outline stays visible.
    local line=2 bolt=1.5
    if [ "$s" -le 24 ]; then line=3; bolt=0; fi
    convert -size "${s}x${s}" xc:none -draw "
        scale $f,$f
        stroke-linejoin round
        fill '#b7bcc2' stroke '#5f6368' stroke-width $line rectangle 21,2 43,22
        fill '#5f6368' stroke none rectangle 26,8 30,13 rectangle 34,8 38,13
        fill '#1f5fbf' stroke '#0b2f6b' stroke-width $line roundrectangle 13,19 51,62 7,7
        fill '#3f84e5' stroke none roundrectangle 17,23 22,57 2,2
        fill '#ffd200' stroke '#6b4f00' stroke-width $bolt
        polygon 38,24 22,45 31,45 26,59 44,36 34,36 40,24" \
        PNG32:"$2"
}
icon_files=()
for s in "${icon_sizes[@]}"; do
    draw_icon "$s" "$work/icon-$s.png"
    icon_files+=("$work/icon-$s.png")
done
convert "${icon_files[@]}" brevant.ico

# --- The banner ----------------------------------------------------------------------------
# The picture control is 113 x 23 dialog units: 170 x 37 px with an 8-point MS Sans Serif at
# 96 DPI. The banner is a vertical gradient (so that the program can widen it by repeating its
# edge columns) with the name above a subtitle, both kept well inside its edges: each text is
# fitted into a box of its own, whatever the font's metrics, and placed by its inked extent.
draw_banner() {  # percent output
    local p=$1 w h
    w=$(((170 * p + 50) / 100))
    h=$(((37 * p + 50) / 100))
    local left=$(((8 * p + 50) / 100))
    local titleH=$((h * 46 / 100)) subH=$((h * 32 / 100)) gap=$((h * 8 / 100))
    convert -background none -fill white -font DejaVu-Sans-Bold -size "x${titleH}" \
        label:BREVANT -trim +repage "$work/title.png"
    convert -background none -fill '#ffd200' -font DejaVu-Sans-Bold -size "x${subH}" \
        label:'flash disk formatter' -trim +repage "$work/sub.png"
    local tH sH
    tH=$(identify -format %h "$work/title.png")
    sH=$(identify -format %h "$work/sub.png")
    local top=$(((h - tH - gap - sH) / 2))
    convert -size "${w}x${h}" gradient:'#2a6fd6-#0b2f6b' \
        "$work/title.png" -geometry "+${left}+${top}" -composite \
        "$work/sub.png" -geometry "+$((left + 1))+$((top + tH + gap))" -composite \
        -type TrueColor BMP3:"$2"
}
draw_banner 100 banner.bmp
draw_banner 125 banner-125.bmp
draw_banner 150 banner-150.bmp
draw_banner 200 banner-200.bmp
