#!/bin/sh
# Renders the committed PNG icons from the SVGs (needs rsvg-convert, from
# librsvg2-bin); the build only installs the PNGs and never renders them.
# 16 px has a drawing of its own on the pixel grid: the large one blurs there.
set -eu
cd "$(dirname "$0")"
rsvg-convert -w 16 -h 16 velkaro-small.svg -o velkaro-16.png
for size in 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" velkaro.svg -o "velkaro-$size.png"
done
