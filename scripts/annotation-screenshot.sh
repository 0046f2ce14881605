#!/usr/bin/env bash
# Takes docs/annotation-editor.png: the screenshot library under a virtual
# display, the first case's media opened, the annotation editor opened over
# its first image and an arrow, a rectangle, an ellipse and a label drawn with
# the mouse. Needs a build (scripts/build.sh), Xvfb, xdotool, Python 3 and
# ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/annotation-editor.png
make_library

run_on_display 1600x1000 '
  # The first case of the list, in the library window at the top left.
  xdotool mousemove 480 103 click --repeat 2 --delay 80 1
  sleep 4
  media=$(xdotool search --name "^Media" | head -n 1)
  xdotool windowfocus --sync "$media" key ctrl+alt+b
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
  # An arrow at the left hilum, a rectangle around both hila, an ellipse
  # around the clear upper zone of the left lung and a label.
  tool 0; dragto 860 200 600 360
  colour 1; tool 1; dragto 395 290 615 470
  colour 2; tool 2; dragto 640 190 770 330
  colour 5; press 230 16; tool 3; press 110 680
  xdotool type --delay 60 "Bilateral hilar lymphadenopathy"
  xdotool key Return
  sleep 1
  xdotool mousemove 1590 990
  sleep 1
  import -window "$editor" "$output"
'
finish_picture
