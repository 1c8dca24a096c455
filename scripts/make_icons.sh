#!/bin/sh
# Makes the program icon for the desktop: the drawing of res/icon16.png and
# res/icon32.png (two arrows, one up and one down, on a teal tile) as an SVG, and
# PNGs for the hicolor theme rendered from that SVG at each size, so the large ones
# are sharp rather than blown up.
#   res/icons/org.vantrel.Server.svg
#   res/icons/<N>/org.vantrel.Server.png   N = 16 24 32 48 64 128 256
# Needs rsvg-convert (librsvg2-bin).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/res/icons"
id=org.vantrel.Server
mkdir -p "$out"

# The program's colours (scripts/make_window_pictures.sh).
OUT='#25324a'
TEAL='#1f8a70'
PINK='#f680d3'
WHITE='#ffffff'

# Same 64x64 geometry as the window's icon.
cat > "$out/$id.svg" <<SVG
<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">
  <title>Vantrel Server</title>
  <rect x="3" y="3" width="57" height="57" rx="10" ry="10"
        fill="$TEAL" stroke="$OUT" stroke-width="3"/>
  <g stroke="$OUT" stroke-width="2.5" stroke-linejoin="round">
    <polygon fill="$WHITE" points="22,10 36,26 27,26 27,52 17,52 17,26 8,26"/>
    <polygon fill="$PINK" points="42,54 56,38 47,38 47,12 37,12 37,38 28,38"/>
  </g>
</svg>
SVG

for s in 16 24 32 48 64 128 256; do
    mkdir -p "$out/$s"
    rsvg-convert -w "$s" -h "$s" -f png -o "$out/$s/$id.png" "$out/$id.svg"
done
ls -l "$out/$id.svg" "$out"/*/"$id.png" | awk '{ print $5, $NF }'
