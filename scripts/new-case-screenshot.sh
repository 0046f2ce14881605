#!/usr/bin/env bash
# Takes docs/new-case.png: the screenshot library under a virtual display, the
# case list searched for "pneumo", then New Case (Ctrl+N) and an identifier
# typed straight away: the search is cleared, the new case is selected and the
# identifier lands in its Patient ID field. Needs a build (scripts/build.sh),
# Xvfb, xdotool, Python 3 and ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/new-case.png
make_library

run_on_display 1280x800 '
  # The search field in the toolbar, then New Case and an identifier.
  xdotool mousemove 1010 45 click 1
  sleep 0.5
  xdotool type --delay 60 "pneumo"
  sleep 2
  xdotool key ctrl+n
  sleep 2
  xdotool type --delay 60 "ZAC1234"
  sleep 1
  xdotool mousemove 1270 790
  sleep 1
  import -window "$(xdotool search --name "^Ovalis$" | head -n 1)" "$output"
'
finish_picture
