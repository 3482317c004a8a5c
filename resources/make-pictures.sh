#!/bin/sh
# Re-creates the tree pictures and icons in this folder with ImageMagick.
# Flat fills with a dark outline; the BMPs sit on white, the PNGs on
# transparency.
set -e
cd "$(dirname "$0")"

INK='#303030'
YELLOW='#f2c94c'
YELLOW_LIGHT='#fbe28f'
BLUE='#3d7cc9'
BLUE_LIGHT='#a9c8ef'
GREEN='#3fa34d'
RED='#d64541'
GREY='#9aa3ad'

# Closed folder: tab and body.
convert -size 16x16 xc:white +antialias -stroke "$INK" -strokewidth 1 \
    -fill "$YELLOW" -draw 'polygon 1,3 6,3 7,5 14,5 14,13 1,13' \
    -stroke "$YELLOW_LIGHT" -draw 'line 2,6 13,6' \
    -type truecolor BMP3:closed.bmp

# Open folder: back wall, then the flap tilted towards the viewer.
convert -size 16x16 xc:white +antialias -stroke "$INK" -strokewidth 1 \
    -fill "$YELLOW" -draw 'polygon 1,3 6,3 7,5 13,5 13,7 1,13' \
    -fill "$YELLOW_LIGHT" -draw 'polygon 4,7 15,7 12,13 1,13' \
    -type truecolor BMP3:open.bmp

# Leaf: a page with a folded corner and text lines.
convert -size 16x16 xc:white +antialias -stroke "$INK" -strokewidth 1 \
    -fill white -draw 'polygon 3,1 10,1 13,4 13,14 3,14' \
    -fill "$BLUE_LIGHT" -draw 'polygon 10,1 10,4 13,4' \
    -stroke "$BLUE" -draw 'line 5,6 11,6' -draw 'line 5,8 11,8' -draw 'line 5,10 11,10' -draw 'line 5,12 9,12' \
    -type truecolor BMP3:leaf.bmp

# Root: a server box with two drive bays and a green light.
convert -size 16x16 xc:white +antialias -stroke "$INK" -strokewidth 1 \
    -fill "$GREY" -draw 'rectangle 3,1 12,14' \
    -fill "$BLUE_LIGHT" -draw 'rectangle 5,3 10,4' -draw 'rectangle 5,6 10,7' \
    -stroke "$GREEN" -fill "$GREEN" -draw 'rectangle 9,11 10,12' \
    -type truecolor BMP3:root.bmp

png32() {  # output, draw arguments...
    out=$1; shift
    convert -size 32x32 xc:none -stroke "$INK" -strokewidth 1.5 "$@" "PNG32:$out"
}

# Window icon: a blue tile with arrows up and down (the two transfers).
app_icon() {
    convert -size 32x32 xc:none -stroke "$INK" -strokewidth 1.5 \
        -fill "$BLUE" -draw 'roundrectangle 1.5,1.5 30.5,30.5 6,6' \
        -fill "$YELLOW" -draw 'polygon 11,4 18,12 14,12 14,22 8,22 8,12 4,12' \
        -fill white -draw 'polygon 21,28 28,20 24,20 24,10 18,10 18,20 14,20' \
        "PNG32:$1"
}
app_icon icons/app.png
convert icons/app.png -filter Lanczos -resize 16x16 PNG32:icons/app16.png

# Open connection: an open folder with a blue arrow coming out.
png32 icons/open-connection.png \
    -fill "$YELLOW" -draw 'polygon 2,7 11,7 13,10 27,10 27,14 2,28' \
    -fill "$YELLOW_LIGHT" -draw 'polygon 8,14 31,14 25,28 2,28' \
    -fill "$BLUE" -draw 'polygon 18,1 25,7 21,7 21,12 15,12 15,7 11,7'

# Save connection: a disk.
png32 icons/save-connection.png \
    -fill "$BLUE" -draw 'polygon 3,3 25,3 29,7 29,29 3,29' \
    -fill white -draw 'rectangle 8,3 22,12' \
    -fill "$GREY" -draw 'rectangle 17,5 20,10' \
    -fill "$BLUE_LIGHT" -draw 'rectangle 7,17 25,29'

# Connect: plug and socket joined, on a green disc.
png32 icons/connect.png \
    -fill "$GREEN" -draw 'circle 16,16 16,1.5' \
    -fill white -draw 'rectangle 5,12 15,20' -draw 'rectangle 16,12 27,20' \
    -draw 'line 9,16 22,16'

# Disconnect: plug and socket pulled apart, on a red disc.
png32 icons/disconnect.png \
    -fill "$RED" -draw 'circle 16,16 16,1.5' \
    -fill white -draw 'rectangle 3,12 11,20' -draw 'rectangle 20,12 29,20' \
    -draw 'line 11,16 14,16' -draw 'line 17,16 20,16' \
    -stroke white -strokewidth 2 -draw 'line 13,7 19,25'
