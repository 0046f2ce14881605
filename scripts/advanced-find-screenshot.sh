#!/usr/bin/env bash
# Takes docs/advanced-find.png: the screenshot library under a virtual
# display, the Advanced Find window opened from the toolbar with two rules
# (summary contains "fracture", sex is Female), searched. Needs a build
# (scripts/build.sh), Xvfb, xdotool, Python 3 and ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/advanced-find.png
make_library

# The toolbar item opens the window, which is moved to the top left of the
# screen so that its controls are where the clicks below go.
open_window='
  xdotool mousemove 198 45 click 1
  sleep 2
  window=$(xdotool search --name "^Advanced Find$" | head -n 1)
  xdotool windowmove "$window" 0 0
  sleep 1
'
# Summary contains fracture; + adds a second rule, whose field and value
# pop-ups are opened and chosen from by typing: Sex is Female. Then Search.
search='
  xdotool mousemove 530 54 click 1
  xdotool type --delay 60 "fracture"
  xdotool mousemove 775 54 click 1
  sleep 1
  for choice in "70 82 Sex" "380 82 Female"; do
    read -r x y item <<<"$choice"
    xdotool mousemove "$x" "$y" click 1
    sleep 0.5
    xdotool type --delay 60 "$item"
    xdotool key Return
    sleep 0.5
  done
  xdotool mousemove 747 22 click 1
  sleep 1
'
run_on_display 1280x800 "$open_window$search"'
  xdotool mousemove 1270 790
  sleep 1
  import -window "$window" "$output"
'
finish_picture
