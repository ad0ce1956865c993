#!/usr/bin/env bash
# Draws the application icon for the desktop's icon theme (hicolor) at every
# size from 16 to 512 pixels, the same design as resources/desktop/icons/
# org.tovix.Tovix.svg. Output is committed; run this after changing the design.
# Needs ImageMagick (in scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/../resources/desktop/icons"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
big=1024
# The 256-unit design of the SVG, drawn four times as large.
convert -size ${big}x${big} gradient:'#3a4150'-'#101218' \
  \( -size ${big}x${big} xc:none -fill white -draw "roundrectangle 48,48 976,976 224,224" \) \
  -compose CopyOpacity -composite \
  \( -size ${big}x${big} xc:none -fill '#ffffff28' -draw "roundrectangle 48,48 976,512 224,224" \) \
  -compose Over -composite \
  \( -size ${big}x${big} xc:none -fill white -draw "roundrectangle 160,288 864,736 64,64" \
     -fill '#101218' -draw "roundrectangle 224,352 800,672 32,32" \
     -fill '#ffb23e' -draw "path 'M 432,400 L 656,512 L 432,624 Z'" \) -compose Over -composite \
  "$work/icon.png"
for size in 16 22 24 32 48 64 128 256 512; do
  mkdir -p "${size}x${size}"
  convert "$work/icon.png" -filter Lanczos -resize ${size}x${size} -strip "${size}x${size}/org.tovix.Tovix.png"
done
