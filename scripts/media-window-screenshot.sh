#!/usr/bin/env bash
# Takes docs/media-window.png: the screenshot library under a virtual display,
# the first case's media opened with a double-click and its description shown
# with Return. Needs a build (scripts/build.sh), Xvfb, xdotool, Python 3 and
# ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/media-window.png
make_library

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
