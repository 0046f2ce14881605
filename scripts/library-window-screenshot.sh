#!/usr/bin/env bash
# Takes docs/library-window.png: the library window as it opens on the
# screenshot library under a virtual display, its newest case selected
# and shown in the detail side. Needs a build (scripts/build.sh), Xvfb, xdotool,
# Python 3 and ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/library-window.png
make_library

run_on_display 1280x800 '
  # The first row of the case list.
  xdotool mousemove 480 103 click 1
  sleep 1
  xdotool mousemove 1270 790
  sleep 1
  import -window "$(xdotool search --name "^Ovalis$" | head -n 1)" "$output"
'
finish_picture
