#!/usr/bin/env bash
# Takes docs/v1-import-window.png: the "Found Ovalis v1 Documents" window as
# it opens by itself when Ovalis starts on an empty library and finds
# version-1 documents in the home folder, with one of them unselected. Needs
# a build (scripts/build.sh), Xvfb, xdotool and ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/v1-import-window.png
mkdir -p "$HOME/Documents/Teaching" "$HOME/Documents/Old Mac/Radiology" "$HOME/Desktop"
touch "$HOME/Documents/Teaching/Chest Teaching.ovalis" \
      "$HOME/Documents/Teaching/Neuro Cases 2009.ovalis" \
      "$HOME/Documents/Old Mac/Radiology/Registrar Teaching Files.ovalis" \
      "$HOME/Desktop/MSK.ovalis"

# The window is moved to the top left of the screen so that the click on the
# second row's toggle lands where it is.
run_on_display 1280x800 '
  window=$(xdotool search --name "^Found Ovalis v1 Documents$" | head -n 1)
  xdotool windowmove "$window" 0 0
  sleep 1
  xdotool mousemove 38 '"${V1_ROW_Y:-160}"' click 1
  xdotool mousemove 1270 790
  sleep 1
  import -window "$window" "$output"
'
finish_picture
