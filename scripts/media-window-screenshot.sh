#!/usr/bin/env bash
# Takes docs/media-window.png: a generated library under a virtual display,
# the first case's media opened with a double-click and its description
# shown with Return. Needs a build (scripts/build.sh), Xvfb, xdotool and
# ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/media-window.png
./build/ovalis-cli generate --cases 30 --with-files --seed 7 >/dev/null

# The generated pictures are thumbnails; scan-like pictures of a realistic
# size take their places, in their own formats.
shapes=(
  "ellipse 560,560 170,260 0,360 ellipse 840,560 170,260 0,360"
  "circle 700,520 700,700"
  "ellipse 700,600 330,180 0,360 circle 560,380 560,440"
)
for variant in 1 2 3; do
  convert -size 1400x1100 -seed "$variant" plasma:grey45-grey15 -colorspace Gray -blur 0x5 \
    \( -size 1400x1100 radial-gradient:white-black \) -compose multiply -composite \
    \( -size 1400x1100 xc:black -fill grey55 -draw "${shapes[$((variant - 1))]}" -blur 0x25 \) \
    -compose screen -composite -attenuate 0.4 +noise Gaussian -colorspace Gray -normalize \
    "$home/scan-$variant.png"
  convert "$home/scan-$variant.png" -quality 90 "$home/scan-$variant.jpg"
done
index=0
while IFS= read -r file; do
  variant=$((index % 3 + 1))
  cp "$home/scan-$variant.${file##*.}" "$file"
  index=$((index + 1))
done < <(find "$HOME/Ovalis/Media" -type f \( -name '*.jpg' -o -name '*.png' \) | sort)

run_on_display 1600x1000 '
  # The first case of the list, in the library window at the top left.
  xdotool mousemove 480 103 click --repeat 2 --delay 80 1
  sleep 4
  xdotool key Return
  sleep 2
  xdotool mousemove 1590 990
  sleep 1
  import -window "$(xdotool search --name "^Media" | head -n 1)" "$output"
'
finish_picture
