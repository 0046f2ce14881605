#!/usr/bin/env bash
# Takes docs/detail-side.png: the screenshot library under a virtual display,
# the case list searched for web addresses and its fourth case selected, so
# that the detail side shows a case with tags, dates, a summary and a detail
# with a link. Needs a build (scripts/build.sh), Xvfb, xdotool, Python 3 and
# ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/detail-side.png
make_library

run_on_display 1280x800 '
  # The search field in the toolbar, then the fourth row of the case list.
  xdotool mousemove 1010 45 click 1
  sleep 0.5
  xdotool type --delay 60 "https://"
  sleep 2
  xdotool mousemove 450 169 click 1
  sleep 2
  xdotool mousemove 1270 790
  sleep 1
  import -window "$(xdotool search --name "^Ovalis$" | head -n 1)" "$output"
'
finish_picture
