#!/usr/bin/env bash
# Takes docs/dicom-lung-window.png: a library of one chest CT case imported
# with ovalis-cli import-dicom from a synthetic study (scripts/dicom-phantom.py),
# its media opened with a double-click, a middle slice shown at the lung
# window (key 3). Needs a build (scripts/build.sh), python3-pydicom, Xvfb,
# xdotool and ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/dicom-lung-window.png

# A synthetic chest CT study, imported (and de-identified) as the only case.
study=$HOME/.study
/usr/bin/python3 scripts/dicom-phantom.py "$study" 12
./build/ovalis-cli import-dicom --series 2 "$study" >/dev/null
rm -rf "$study"

run_on_display 1280x900 '
  # The only case, in the library window at the top left.
  xdotool mousemove 480 103 click --repeat 2 --delay 80 1
  sleep 4
  window=$(xdotool search --name "^Media" | head -n 1)
  xdotool windowactivate --sync "$window" 2>/dev/null || true
  # The middle slice, then the lung preset.
  for i in 1 2 3 4 5; do xdotool key Right; done
  xdotool mousemove 700 450
  sleep 1
  xdotool key 3
  sleep 1
  xdotool mousemove 1270 890
  sleep 1
  import -window "$window" "$output"
'
finish_picture
