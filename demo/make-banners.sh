#!/usr/bin/env bash
# Draws the demo's three banner images (1380x400 PNG, our own artwork) into the folder given.
# ImageMagick by full path: a stand-in `convert` may come first in PATH.
set -euo pipefail
out="$1"
mkdir -p "$out"
convert=/usr/bin/convert
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf

# banner NAME FROM TO TITLE SUBTITLE: a diagonal gradient, a few soft circles and two lines of text.
banner() {
  local name="$1" from="$2" to="$3" title="$4" subtitle="$5"
  local text=()
  if [ -f "$font" ]; then
    text=(-font "$font" -fill white -gravity west
          -pointsize 86 -annotate +90-40 "$title"
          -pointsize 40 -annotate +94+55 "$subtitle")
  fi
  "$convert" -size 400x1380 "gradient:$from-$to" -rotate 90 \
    -fill 'rgba(255,255,255,0.10)' -draw 'circle 1150,80 1150,330' -draw 'circle 1290,360 1290,470' \
    -fill 'rgba(255,255,255,0.18)' -draw 'circle 980,300 980,360' \
    -fill 'rgba(0,0,0,0.25)' -draw 'rectangle 0,372 1380,400' \
    "${text[@]}" \
    -strip -define png:exclude-chunks=date,time "$out/$name"
}

banner banner-news.png '#1d3557' '#457b9d' 'Demo Game 1.1' 'Patch notes: what is new in this update'
banner banner-levels.png '#3a0ca3' '#f72585' 'New level' 'Harbour at dusk: a night-time race across the docks'
banner banner-korean.png '#2b9348' '#aacc00' 'Now in Korean' 'The interface now speaks Korean'
