#!/usr/bin/env bash
# Takes docs/annotation-editor.png: a generated library under a virtual
# display, the first case's media opened, the annotation editor opened over
# its first image and an arrow, a rectangle, an ellipse and a label drawn
# with the mouse. Needs a build (scripts/build.sh), Xvfb, xdotool and
# ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/annotation-editor.png
./build/ovalis-cli generate --cases 30 --with-files --seed 7 >/dev/null

# A scan-like picture of a realistic size in place of each generated one.
convert -size 1400x1100 -seed 3 plasma:grey45-grey15 -colorspace Gray -blur 0x5 \
  \( -size 1400x1100 radial-gradient:white-black \) -compose multiply -composite \
  \( -size 1400x1100 xc:black -fill grey55 -draw "ellipse 560,560 170,260 0,360 ellipse 840,560 170,260 0,360" -blur 0x25 \) \
  -compose screen -composite -attenuate 0.4 +noise Gaussian -colorspace Gray -normalize \
  "$home/scan.png"
convert "$home/scan.png" -quality 90 "$home/scan.jpg"
while IFS= read -r file; do
  cp "$home/scan.${file##*.}" "$file"
done < <(find "$HOME/Ovalis/Media" -type f \( -name '*.jpg' -o -name '*.png' \) | sort)

run_on_display 1600x1000 '
  # The first case of the list, in the library window at the top left.
  xdotool mousemove 480 103 click --repeat 2 --delay 80 1
  sleep 4
  media=$(xdotool search --name "^Media" | head -n 1)
  xdotool windowactivate --sync "$media" key ctrl+alt+b
  sleep 1
  # The View menu'"'"'s Annotate Image.
  xdotool key alt+v
  sleep 1
  xdotool key Up Return
  sleep 3
  editor=$(xdotool search --name "^Annotate Image" | head -n 1)
  xdotool windowmove --sync "$editor" 0 0 windowsize --sync "$editor" 1000 760
  sleep 2
  eval "$(xdotool getwindowgeometry --shell "$editor")"
  # Positions inside the editor (without window decorations): the toolbar
  # segments along the top, the page below them.
  at() { xdotool mousemove --sync $((X + $1)) $((Y + $2)); }
  press() { at "$1" "$2"; xdotool click 1; sleep 0.3; }
  dragto() {
    at "$1" "$2"; xdotool mousedown 1; sleep 0.2
    at $(( ($1 + $3) / 2 )) $(( ($2 + $4) / 2 )); sleep 0.1
    at "$3" "$4"; sleep 0.2; xdotool mouseup 1; sleep 0.3
  }
  tool() { press $((25 + 36 * $1)) 16; }
  colour() { press $((268 + 30 * $1)) 16; }
  tool 0; dragto 840 170 650 320
  colour 1; tool 1; dragto 290 225 510 600
  colour 2; tool 2; dragto 590 410 720 530
  colour 5; press 230 16; tool 3; press 110 650
  xdotool type --delay 60 "Bilateral hilar masses"
  xdotool key Return
  sleep 1
  at 995 5
  sleep 1
  import -window "$editor" "$output"
'
finish_picture
