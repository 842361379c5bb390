#!/usr/bin/env bash
# Draws the window icon (tavrix.ico, and tavrix.png for the desktop menu) and the About-page logo (velmora_logo.png) with
# ImageMagick 6. The generated files are committed; run this only to change the art.
# Needs: imagemagick, fonts-dejavu-core.
set -euo pipefail
cd "$(dirname "$0")"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Icon: a radar scope seen from above (dark disc, range rings, a sweep wedge, one echo).
convert -size 256x256 xc:none \
    -fill '#1f2a36' -stroke '#8fd694' -strokewidth 8 -draw 'circle 128,128 128,8' \
    -fill none -stroke '#4f8f5a' -strokewidth 4 \
    -draw 'circle 128,128 128,48' -draw 'circle 128,128 128,88' \
    -draw 'line 128,16 128,240' -draw 'line 16,128 240,128' \
    -stroke none -fill '#8fd694c0' -draw 'path "M 128,128 L 128,14 A 114,114 0 0,1 209,47 Z"' \
    -stroke '#d8ffdc' -strokewidth 6 -draw 'line 128,128 209,47' \
    -fill '#ffe066' -stroke none -draw 'circle 178,70 178,58' \
    -depth 8 "$tmp/icon-256.png"
for s in 16 32 48 64; do
    convert "$tmp/icon-256.png" -resize ${s}x${s} "$tmp/icon-$s.png"
done
convert "$tmp/icon-16.png" "$tmp/icon-32.png" "$tmp/icon-48.png" "$tmp/icon-64.png" \
    "$tmp/icon-256.png" tavrix.ico
# The desktop menu's icon.
cp "$tmp/icon-256.png" tavrix.png

# Logo: the icon's disc beside the word mark, on a transparent background.
convert "$tmp/icon-256.png" -resize 64x64 "$tmp/mark.png"
convert -background none -fill '#26415c' -font DejaVu-Sans-Bold -pointsize 42 \
    label:'VELMORA' "$tmp/word.png"
convert -background none -fill '#4f8f5a' -font DejaVu-Sans -pointsize 14 \
    label:'radar sensing' "$tmp/tag.png"
convert "$tmp/word.png" "$tmp/tag.png" -background none -gravity west -append "$tmp/text.png"
convert \( "$tmp/mark.png" -background none -gravity east -splice 10x0 \) "$tmp/text.png" \
    -background none -gravity center +append -bordercolor none -border 8 -strip -depth 8 \
    velmora_logo.png
