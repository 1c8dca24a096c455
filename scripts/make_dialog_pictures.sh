#!/bin/sh
# Draws the pictures of the splash screen, the help pages and the About box into res/.
# Needs ImageMagick 6 (convert) and the DejaVu fonts. Run from anywhere:
#   sh scripts/make_dialog_pictures.sh
set -eu

RES="$(cd "$(dirname "$0")/.." && pwd)/res"
OUT="$RES/dialogs"
mkdir -p "$OUT"

# The shared palette.
LINE='#25324a'
TEAL='#1f8a70'
BLUE='#2a5da8'
GREEN='#c6f4d4'
PINK='#f680d3'
GREY='#e8ecf2'
WHITE='#ffffff'

# --- Help page "General" and the About box: a server on the network -------------------
# Colour pictures with a plain on/off mask, like the three palette ones below.
convert -size 32x32 xc:none -strokewidth 1.5 -stroke "$LINE" \
    -fill none -strokewidth 3 -draw "line 16,23 16,27" -draw "line 4,27 28,27" \
    -strokewidth 1.5 -stroke "$TEAL" -draw "line 16,23 16,27" -draw "line 4,27 28,27" \
    -stroke "$LINE" -fill "$GREEN" -draw "rectangle 1,24 7,30" -draw "rectangle 25,24 31,30" \
    -fill "$BLUE" -draw "roundrectangle 7,1 25,23 2,2" \
    -fill "$GREY" -draw "rectangle 10,5 22,8" \
    -draw "rectangle 10,11 22,14" \
    -draw "rectangle 10,17 22,20" \
    -stroke none -fill "$TEAL" -draw "rectangle 19,6 21,7" \
    -draw "rectangle 19,12 21,13" \
    -fill "$PINK" -draw "rectangle 19,18 21,19" \
    -channel A -threshold 50% +channel \
    -strip PNG32:"$OUT/general.png"

# --- Help page "File" (Abort and Clear): a page with an abort mark ----------------------
convert -size 32x32 xc:none -strokewidth 1.5 -stroke "$LINE" \
    -fill "$WHITE" -draw "polygon 4,2 19,2 25,8 25,29 4,29" \
    -fill "$GREY" -draw "polygon 19,2 19,8 25,8" \
    -strokewidth 2 -stroke "$BLUE" -draw "line 8,11 20,11" \
    -draw "line 8,16 20,16" -draw "line 8,21 14,21" \
    -strokewidth 1.5 -stroke "$LINE" -fill "$PINK" -draw "circle 23,23 23,31" \
    -strokewidth 2.5 -stroke "$WHITE" -draw "line 20,20 26,26" -draw "line 26,20 20,26" \
    -strip -colors 256 PNG8:"$OUT/file.png"

# --- Help page "Setup": a gear on a folder --------------------------------------------
convert -size 32x32 xc:none -strokewidth 1.5 -stroke "$LINE" \
    -fill "$TEAL" -draw "polygon 2,6 11,6 14,9 29,9 29,28 2,28" \
    -fill "$GREEN" -draw "rectangle 2,12 29,28" \
    -fill "$BLUE" \
    -draw "translate 18,19 rectangle -2,-10 2,10" \
    -draw "translate 18,19 rotate 45 rectangle -2,-10 2,10" \
    -draw "translate 18,19 rotate 90 rectangle -2,-10 2,10" \
    -draw "translate 18,19 rotate 135 rectangle -2,-10 2,10" \
    -draw "circle 18,19 18,26" \
    -stroke none -draw "circle 18,19 18,25" \
    -stroke "$LINE" -fill "$GREY" -draw "circle 18,19 18,22" \
    -strip -colors 256 PNG8:"$OUT/setup.png"

# --- Help page "Security": a padlock -------------------------------------------------
convert -size 32x32 xc:none \
    -fill none -strokewidth 5 -stroke "$LINE" -draw "arc 8,3 24,21 180,360" \
    -draw "line 8,12 8,15" -draw "line 24,12 24,15" \
    -strokewidth 2.5 -stroke "$BLUE" -draw "arc 8,3 24,21 180,360" \
    -draw "line 8,12 8,15" -draw "line 24,12 24,15" \
    -strokewidth 1.5 -stroke "$LINE" -fill "$TEAL" -draw "roundrectangle 4,14 28,30 2,2" \
    -fill "$LINE" -stroke none -draw "circle 16,20 16,23" -draw "rectangle 15,21 17,26" \
    -strip -colors 256 PNG8:"$OUT/security.png"

# --- Help page "Protocol": packets going both ways between two ports -----------------
convert -size 32x32 xc:none -strokewidth 1.5 -stroke "$LINE" \
    -fill "$GREY" -draw "roundrectangle 1,3 9,29 2,2" -draw "roundrectangle 23,3 31,29 2,2" \
    -fill "$TEAL" -draw "rectangle 3,7 7,11" -draw "rectangle 25,7 29,11" \
    -fill "$BLUE" -draw "polygon 11,10 18,10 18,6 22,12 18,18 18,14 11,14" \
    -fill "$PINK" -draw "polygon 21,18 14,18 14,14 10,20 14,26 14,22 21,22" \
    -strip -colors 256 PNG8:"$OUT/protocol.png"

# --- The splash picture, 397 by 340 --------------------------------------------------
# Three computers networked with a server, under the product name.
computer() { # x y: the top left corner of a 70 by 64 computer, as one MVG drawing
    x=$1
    y=$2
    cat <<EOF
stroke '$LINE' stroke-width 3 fill '$WHITE'
roundrectangle $x,$y $((x + 70)),$((y + 48)) 5,5
fill '$BLUE' rectangle $((x + 7)),$((y + 7)) $((x + 63)),$((y + 41))
stroke none fill '$TEAL' rectangle $((x + 12)),$((y + 13)) $((x + 40)),$((y + 17))
fill '$GREEN' rectangle $((x + 12)),$((y + 22)) $((x + 52)),$((y + 26))
fill '$PINK' rectangle $((x + 12)),$((y + 31)) $((x + 32)),$((y + 35))
stroke '$LINE' stroke-width 3 fill '$GREY'
polygon $((x + 29)),$((y + 48)) $((x + 41)),$((y + 48)) $((x + 45)),$((y + 58)) $((x + 25)),$((y + 58))
roundrectangle $((x + 15)),$((y + 58)) $((x + 55)),$((y + 64)) 2,2
EOF
}

convert -size 397x340 xc:"$GREEN" \
    -stroke none -fill "$BLUE" -draw "rectangle 0,0 397,118" \
    -fill "$TEAL" -draw "rectangle 0,118 397,126" \
    -font DejaVu-Sans-Bold -pointsize 34 -fill "$WHITE" -stroke none \
    -gravity north -annotate +0+28 'Vantrel Server 1.0' \
    -font DejaVu-Sans -pointsize 15 -fill "$GREY" \
    -annotate +0+80 'Trivial File Transfer Protocol server' \
    -gravity northwest \
    -stroke "$LINE" -strokewidth 4 -fill none \
    -draw "line 78,216 78,250" -draw "line 198,216 198,250" -draw "line 318,216 318,250" \
    -draw "line 78,250 318,250" \
    -stroke "$TEAL" -strokewidth 2 \
    -draw "line 78,216 78,250" -draw "line 198,216 198,250" -draw "line 318,216 318,250" \
    -draw "line 78,250 318,250" \
    -draw "$(computer 43 150)" -draw "$(computer 163 150)" -draw "$(computer 283 150)" \
    -stroke "$LINE" -strokewidth 4 -draw "line 198,250 198,266" \
    -stroke "$TEAL" -strokewidth 2 -draw "line 198,250 198,266" \
    -stroke "$LINE" -strokewidth 3 -fill "$BLUE" -draw "roundrectangle 170,266 226,322 4,4" \
    -fill "$GREY" -draw "rectangle 178,274 218,282" -draw "rectangle 178,290 218,298" \
    -draw "rectangle 178,306 218,314" \
    -stroke none -fill "$TEAL" -draw "rectangle 208,276 215,280" -draw "rectangle 208,292 215,296" \
    -fill "$PINK" -draw "rectangle 208,308 215,312" \
    -stroke "$LINE" -strokewidth 2 -fill "$PINK" -draw "circle 198,250 198,257" \
    -stroke none -fill "$LINE" -font DejaVu-Sans -pointsize 13 \
    -gravity southeast -annotate +16+12 'Freeware' \
    -gravity northwest -stroke "$LINE" -strokewidth 2 -fill none \
    -draw "rectangle 1,1 395,338" \
    -strip -type TrueColor PNG24:"$RES/splash.png"

echo "pictures written to $RES"
