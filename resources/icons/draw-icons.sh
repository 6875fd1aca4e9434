#!/usr/bin/env bash
# Draws the program's two icons with ImageMagick: app.ico (a shield with a sweep line) and
# product.ico (a box with a cross), each at 16, 32 and 48 pixels.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
for size in 16 32 48; do
  s=$((size - 1))
  convert -size ${size}x${size} xc:none -fill '#1f5fa8' -stroke '#0b2f5a' \
    -draw "polygon $((size/2)),1 $s,$((size/5)) $((size*4/5)),$s $((size/5)),$s 1,$((size/5))" \
    -stroke white -strokewidth $((size/12 + 1)) \
    -draw "line $((size/4)),$((size*3/4)) $((size*3/4)),$((size/4))" "$tmp/app$size.png"
  convert -size ${size}x${size} xc:none -fill '#c8c8c8' -stroke '#505050' \
    -draw "rectangle 1,$((size/4)) $s,$s" -stroke '#b00000' -strokewidth $((size/10 + 1)) \
    -draw "line $((size/4)),$((size*3/8)) $((size*3/4)),$((size*7/8))" \
    -draw "line $((size*3/4)),$((size*3/8)) $((size/4)),$((size*7/8))" "$tmp/product$size.png"
done
convert "$tmp"/app16.png "$tmp"/app32.png "$tmp"/app48.png app.ico
convert "$tmp"/product16.png "$tmp"/product32.png "$tmp"/product48.png product.ico
rm -rf "$tmp"
