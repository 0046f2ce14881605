#!/usr/bin/env bash
# Takes every screenshot of the README and the user guide again, one
# scripts/*-screenshot.sh after another, each writing its docs/*.png from the
# screenshot library. Builds the application and the command-line tool first.
# Goes on after a script that fails and names the failures at the end.
# Needs Xvfb, xdotool, Python 3 and ImageMagick (scripts/install-deps.sh
# --with-display).
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh --target ovalis ovalis-cli -j 2 || exit 1
failed=()
for script in scripts/*-screenshot.sh; do
  echo "== $script"
  "$script" || failed+=("$script")
done
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "Failed: ${failed[*]}" >&2
  exit 1
fi
