#!/usr/bin/env bash
# Regenerates the program's icons and banner bitmap (needs ImageMagick). The results are
# committed; the build does not run this.
set -euo pipefail
cd "$(dirname "$0")"

# A stick with a lightning arrow: blue body, grey connector.
draw_icon() {  # size output
    local s=$1
    convert -size "${s}x${s}" xc:none \
        -fill '#9aa0a6' -draw "rectangle $((s*3/8)),0 $((s*5/8)),$((s/4))" \
        -fill '#1f5fbf' -draw "roundrectangle $((s/4)),$((s/4)) $((s*3/4)),$((s-1)) $((s/8)),$((s/8))" \
        -fill '#ffd200' -draw "polygon $((s*9/16)),$((s*5/16)) $((s*3/8)),$((s*5/8)) $((s/2)),$((s*5/8)) $((s*7/16)),$((s*7/8)) $((s*5/8)),$((s*9/16)) $((s/2)),$((s*9/16))" \
        "$2"
}
draw_icon 32 /tmp/brevant-icon-32.png
draw_icon 16 /tmp/brevant-icon-16.png
convert /tmp/brevant-icon-16.png /tmp/brevant-icon-32.png brevant.ico
rm -f /tmp/brevant-icon-16.png /tmp/brevant-icon-32.png

# The banner at the top left of the main dialog: 113 x 23 dialog units at 8-point MS Sans Serif.
convert -size 170x37 gradient:'#1f5fbf-#0b2f6b' \
    -font DejaVu-Sans-Bold -pointsize 22 -fill white -gravity west -annotate +8+0 'BREVANT' \
    -font DejaVu-Sans -pointsize 9 -fill '#ffd200' -gravity southeast -annotate +6+3 'flash disk formatter' \
    -type TrueColor BMP3:banner.bmp
