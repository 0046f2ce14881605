# Sourced by the screenshot scripts, with the default picture as its argument:
# moves to the checkout, sets $output (the script's first argument, else the
# default) and runs the rest with HOME in a temporary folder removed on exit.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
output=$(realpath -m "${script_output:-$1}")
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home

# Starts the application under a virtual display of the given size (e.g.
# 1280x800), gives it six seconds to show its library window, runs the steps
# (bash, typically xdotool and import; $output is in the environment) and
# quits it.
run_on_display() {
  local size=$1 steps=$2
  export output
  xvfb-run -a -s "-screen 0 ${size}x24" bash -c '
    ./build/ovalis >/dev/null 2>&1 &
    app=$!
    sleep 6
    '"$steps"'
    kill $app
  '
}

# A palette of 256 colours keeps the picture small and looks the same.
finish_picture() {
  convert "$output" -dither None -colors 256 "PNG8:$output"
  echo "$output"
}
