#!/usr/bin/env bash
# Takes docs/sync-media.png: the Sync Media window connected to a second
# library. The second library is the screenshot library with its media
# files, served by ovalis-cli serve-peer on port 47300; the application's
# library is a copy of its records without the files, so it has media to
# fetch. The window finds the other library by itself, through an Avahi
# daemon on a network private to the script (see screenshot-home.sh); it
# connects and shows the missing count. Needs a build (scripts/build.sh),
# Xvfb, xdotool, Python 3 and ImageMagick.
script_output=${1:-}
screenshot_discovery=yes
source "$(dirname "$0")/screenshot-home.sh" docs/sync-media.png
other=$HOME/Other
make_library "$other"
mkdir -p "$HOME/Ovalis"
find "$other" -maxdepth 1 -type f -exec cp {} "$HOME/Ovalis/" \;
discovery=no
if start_discovery; then
  discovery=yes
else
  echo "No Avahi daemon of its own: the window connects through Connect to Address…" >&2
fi
./build/ovalis-cli --library "$other" serve-peer --port 47300 --accept-from-any >/dev/null 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; remove_home' EXIT

# The toolbar item opens the window, moved to the top left of the screen so
# that its controls are where the clicks below go. The other library is found
# nearby and connected with Connect, or else through Connect to Address…,
# which asks for its address.
open_window='
  xdotool mousemove 295 45 click 1
  sleep 3
  window=$(xdotool search --name "^Sync Media$" | head -n 1)
  xdotool windowmove "$window" 0 0
  sleep 1
'
if [[ $discovery == yes ]]; then
  connect='
    xdotool mousemove 200 60 click 1
    sleep 0.5
    xdotool mousemove 443 376 click 1
    sleep 4
  '
else
  connect='
    xdotool mousemove 84 348 click 1
    sleep 1
    xdotool type --delay 40 "127.0.0.1:47300"
    xdotool key Return
    sleep 4
  '
fi
run_on_display 1280x800 "$open_window$connect"'
  xdotool mousemove 200 60 click 1
  sleep 1
  xdotool mousemove 1270 790
  sleep 1
  import -window "$window" "$output"
'
finish_picture
