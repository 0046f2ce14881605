# Sourced by the screenshot scripts, with the default picture as its argument:
# moves to the checkout, sets $output (the script's first argument, else the
# default) and runs the rest with HOME in a temporary folder removed on exit.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
output=$(realpath -m "${script_output:-$1}")
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home
