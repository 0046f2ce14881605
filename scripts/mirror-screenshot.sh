#!/usr/bin/env bash
# Takes docs/mirror-two-machines.png: two machines' libraries mirrored on one
# PostgreSQL server, each open in an application of its own, side by side
# under one virtual display: the hospital's on the left (the screenshot
# library), the laptop's on the right (which took the library from the
# server). A new case is made and saved on the left; a moment later it is in
# the list on the right too, through the server's notification. The server is
# a throw-away one in the home folder, listening only on a Unix socket there.
# Needs a build (scripts/build.sh), PostgreSQL's server (package postgresql),
# Xvfb, xdotool, Python 3 and ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/mirror-two-machines.png
make_library

# initdb and the server refuse to run as root; as root (or as the root of the
# script's namespaces) they run as another user in a user namespace of their own.
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_server() {
  if [[ $(id -u) == 0 ]]; then
    unshare --user --map-user=1000 --map-group=1000 "$@"
  else
    "$@"
  fi
}
server=$HOME/.server
mkdir -p "$server"
as_server "$bin/initdb" -D "$server/data" -U ovalis --auth=trust --no-sync >/dev/null || exit 1
as_server "$bin/pg_ctl" -D "$server/data" -w -l "$server/log" -o "-k $server -c listen_addresses=''" start >/dev/null || exit 1
trap 'as_server "$bin/pg_ctl" -D "$server/data" -m fast -w stop >/dev/null; remove_home' EXIT
conninfo="host=$server dbname=postgres user=ovalis"

laptop=$HOME/laptop
mkdir -p "$laptop"
./build/ovalis-cli sync --server "$conninfo" --machine hospital >/dev/null || exit 1
HOME=$laptop ./build/ovalis-cli sync --server "$conninfo" --machine laptop >/dev/null || exit 1

export output laptop
xvfb-run -a -s "-screen 0 2580x760x24" bash -c '
  ./build/ovalis >/dev/null 2>&1 &
  hospital_app=$!
  sleep 6
  left=$(xdotool search --sync --pid $hospital_app --name "^Ovalis$" | head -n 1)
  xdotool windowsize "$left" 1280 750 windowmove "$left" 0 0
  HOME=$laptop ./build/ovalis >/dev/null 2>&1 &
  laptop_app=$!
  sleep 6
  right=$(xdotool search --sync --pid $laptop_app --name "^Ovalis$" | head -n 1)
  xdotool windowsize "$right" 1280 750 windowmove "$right" 1300 0
  sleep 2
  # The laptop looks for the case that is still to come.
  xdotool windowfocus --sync "$right"
  xdotool mousemove 2345 44 click 1
  sleep 0.5
  xdotool type --delay 60 "MIR0001"
  sleep 2
  # A new case at the hospital, saved at once.
  xdotool windowfocus --sync "$left"
  xdotool mousemove 400 103 click 1
  sleep 0.5
  xdotool key ctrl+n
  sleep 2
  xdotool type --delay 60 "MIR0001"
  xdotool mousemove 1121 359 click 1
  sleep 0.3
  xdotool type --delay 40 "Shared between two machines"
  sleep 0.5
  xdotool key ctrl+s
  sleep 4
  xdotool mousemove 2570 750
  sleep 1
  import -window root "$output"
  kill $hospital_app $laptop_app
'
finish_picture
