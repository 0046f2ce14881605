#!/usr/bin/env bash
# Takes docs/about-window.png: the About window opened from the Help menu
# under a virtual display. Needs a build (scripts/build.sh), Xvfb, xdotool,
# Python 3 and ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/about-window.png
make_library

run_on_display 1280x800 '
  # Help, then its last item (About Ovalis).
  xdotool mousemove 258 8 click 1
  sleep 1
  xdotool key Up Return
  sleep 2
  window=""
  for candidate in $(xdotool search --onlyvisible --class ovalis); do
    if xdotool getwindowgeometry "$candidate" | grep -q "Geometry: 600x240"; then
      window=$candidate
    fi
  done
  import -window "${window:-root}" "$output"
'
finish_picture
