#!/bin/sh
# Makes the window's pictures with ImageMagick drawing primitives:
#   res/row.png         16x16   three networked computers on the list's pale green
#   res/toolbar.png     128x32  Clear, Setup, Security, Help, side by side
#   res/icon16.png, res/icon32.png   the program icon
#   res/transfer.gif    150x50, 30 frames at 10 per second: a packet travelling
#                       from one computer to another
# Flat pictures in the program's colours with a dark outline and no text.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
res="$here/res"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$res"

OUT='#25324a'    # outline
TEAL='#1f8a70'
BLUE='#2a5da8'
PALE='#c6f4d4'   # the list background, 198,244,212
PINK='#f680d3'   # the progress bar, 246,128,211
GREY='#e8ecf2'
WHITE='#ffffff'

# Strip metadata and time stamps so the files only change when the drawing does.
STRIP="-strip -define png:exclude-chunks=date,time"

# ---- row picture: pixel art, no smoothing at this size.
convert -size 16x16 xc:"$PALE" +antialias \
    -fill "$TEAL" -stroke none \
    -draw "rectangle 3,7 12,7" -draw "rectangle 7,7 8,9" \
    -fill "$BLUE" -stroke "$OUT" -strokewidth 1 \
    -draw "rectangle 0,1 6,5" -draw "rectangle 9,1 15,5" -draw "rectangle 4,9 11,13" \
    -fill "$GREY" -stroke none \
    -draw "rectangle 1,2 2,2" -draw "rectangle 10,2 11,2" -draw "rectangle 5,10 6,10" \
    -fill "$OUT" \
    -draw "rectangle 3,6 3,6" -draw "rectangle 12,6 12,6" -draw "rectangle 5,14 10,14" \
    $STRIP "PNG24:$res/row.png"

# ---- toolbar: four 32x32 pictures on a transparent ground.
# Clear: a list sheet with an eraser wiping its lower lines.
convert -size 32x32 xc:none -strokewidth 1.5 \
    -fill "$WHITE" -stroke "$OUT" -draw "roundrectangle 4,3 21,28 2,2" \
    -stroke "$TEAL" -strokewidth 2 \
    -draw "line 8,9 17,9" -draw "line 8,14 17,14" -draw "line 8,19 13,19" \
    -stroke "$OUT" -strokewidth 1.5 -fill "$PINK" \
    -draw "polygon 15,22 23,14 29,20 21,28" \
    -fill "$WHITE" -draw "polygon 15,22 18,19 24,25 21,28" \
    "$tmp/clear.png"

# Setup: a gear, teal with a pale centre.
gear=$(awk 'BEGIN {
    pi = atan2(0, -1); n = 8; s = "";
    for (i = 0; i < n * 4; i++) {
        a = (i - 0.5) * pi * 2 / (n * 4);
        r = (int(i / 2) % 2 == 0) ? 13.5 : 10;
        s = s sprintf("%.2f,%.2f ", 16 + r * cos(a), 16 + r * sin(a));
    }
    print s }')
convert -size 32x32 xc:none -strokewidth 1.5 \
    -fill "$TEAL" -stroke "$OUT" -draw "polygon $gear" \
    -fill "$PALE" -draw "circle 16,16 16,21" \
    "$tmp/setup.png"

# Security: a padlock, blue body with a keyhole.
convert -size 32x32 xc:none -fill none \
    -stroke "$OUT" -strokewidth 5.5 -draw "roundrectangle 9.5,4.5 22.5,24 6.5,6.5" \
    -stroke "$GREY" -strokewidth 2.5 -draw "roundrectangle 9.5,4.5 22.5,24 6.5,6.5" \
    -fill "$BLUE" -stroke "$OUT" -strokewidth 1.5 -draw "roundrectangle 5,14 27,29 3,3" \
    -fill "$OUT" -stroke none -draw "circle 16,20 16,22.5" -draw "polygon 14.8,21 17.2,21 18,26 14,26" \
    "$tmp/security.png"

# Help: a lifebuoy, white ring with pink quarters.
convert -size 32x32 xc:none \
    -fill "$WHITE" -stroke "$OUT" -strokewidth 1.5 -draw "circle 16,16 16,3" \
    -fill "$PINK" -stroke none \
    -draw "path 'M 16,16 L 25.2,6.8 A 13,13 0 0,1 25.2,25.2 Z'" \
    -draw "path 'M 16,16 L 6.8,25.2 A 13,13 0 0,1 6.8,6.8 Z'" \
    -fill "$GREY" -stroke "$OUT" -strokewidth 1.5 -draw "circle 16,16 16,10" \
    -fill none -draw "circle 16,16 16,3" \
    "$tmp/help.png"

convert "$tmp/clear.png" "$tmp/setup.png" "$tmp/security.png" "$tmp/help.png" +append \
    $STRIP "PNG32:$res/toolbar.png"

# ---- program icon: two arrows, one up and one down, on a teal tile.
icon() {
    s=$1
    convert -size 64x64 xc:none \
        -fill "$TEAL" -stroke "$OUT" -strokewidth 3 -draw "roundrectangle 3,3 60,60 10,10" \
        -fill "$WHITE" -stroke "$OUT" -strokewidth 2.5 \
        -draw "polygon 22,10 36,26 27,26 27,52 17,52 17,26 8,26" \
        -fill "$PINK" \
        -draw "polygon 42,54 56,38 47,38 47,12 37,12 37,38 28,38" \
        -resize "${s}x${s}" $STRIP "PNG32:$res/icon$s.png"
}
icon 16
icon 32

# ---- transfer clip: 30 frames; a pink packet crosses from the left computer to
# the right one along a teal cable, the cable lighting up behind it.
# The still part: two computers joined by the cable.
convert -size 150x50 xc:none \
    -stroke "$TEAL" -strokewidth 3 -draw "line 36,24 114,24" \
    -fill "$BLUE" -stroke "$OUT" -strokewidth 1.5 \
    -draw "roundrectangle 4,8 34,32 2,2" -draw "roundrectangle 116,8 146,32 2,2" \
    -fill "$GREY" -stroke none \
    -draw "rectangle 8,12 30,15" -draw "rectangle 120,12 142,15" \
    -fill "$OUT" \
    -draw "rectangle 16,33 22,37" -draw "rectangle 128,33 134,37" \
    -draw "roundrectangle 10,38 28,41 1,1" -draw "roundrectangle 122,38 140,41 1,1" \
    "$tmp/still.png"
frames=""
i=0
while [ $i -lt 30 ]; do
    # Packet centre from x=44 to x=106, easing in and out.
    px=$(awk -v i=$i 'BEGIN { t = i / 29; e = t * t * (3 - 2 * t); printf "%d", 44 + e * 62 }')
    f=$(printf '%s/f%02d.png' "$tmp" $i)
    convert "$tmp/still.png" \
        -stroke "$PALE" -strokewidth 1 -draw "line 36,24 $px,24" \
        -fill "$PINK" -stroke "$OUT" -strokewidth 1.5 \
        -draw "roundrectangle $((px - 7)),18 $((px + 7)),30 2,2" \
        -stroke "$WHITE" -strokewidth 1 -draw "line $((px - 4)),22 $((px + 4)),22" \
        "$f"
    frames="$frames $f"
    i=$((i + 1))
done
# -delay is in hundredths of a second: 10 frames per second. Loops without end; the
# window itself decides when to stop.
convert -dispose background -delay 10 -loop 0 $frames -strip "$res/transfer.gif"

identify "$res/row.png" "$res/toolbar.png" "$res/icon16.png" "$res/icon32.png" | cut -d' ' -f1-3
echo "transfer.gif: $(identify "$res/transfer.gif" | wc -l) frames, $(identify -format '%wx%h %T\n' "$res/transfer.gif" | sort -u)"
