#!/usr/bin/env bash
# Takes docs/dicom-lung-window.png: a library of one chest CT case whose
# medium is pydicom's sample CT slice (CT_small.dcm), its media opened with
# a double-click, fitted to the window and shown at the lung window (key 3). Needs a build
# (scripts/build.sh), python3-pydicom's sample files, Xvfb, xdotool and
# ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/dicom-lung-window.png

sample=/usr/lib/python3/dist-packages/pydicom/data/test_files/CT_small.dcm
library=$HOME/Ovalis
identifier=5E1C7A2B-3D94-4F06-8B1E-2C7D9A4F6E13
folder=$library/Media/5E/1C/7A/2B
mkdir -p "$folder"
cp "$sample" "$folder/$identifier.dcm"
cat >"$HOME/.library.json" <<JSON
[{"patient_identifier": "ZAC1234", "sex": "female", "date_of_birth": "1961-04-12",
  "date_of_diagnosis": "2026-11-20", "date_added": "2026-11-23",
  "summary": "Centrilobular emphysema",
  "detail": "Axial CT through the upper thorax. Teaching point: the lung window shows the low-attenuation areas that the soft-tissue window hides.",
  "tags": "Chest,CT",
  "media": [{"identifier": "$identifier", "filename": "chest.dcm", "date_of_creation": "2026-11-23"}]}]
JSON
./build/ovalis-cli --library "$library" restore-backup "$HOME/.library.json" >/dev/null
rm "$HOME/.library.json"

run_on_display 1280x900 '
  # The only case, in the library window at the top left.
  xdotool mousemove 480 103 click --repeat 2 --delay 80 1
  sleep 4
  window=$(xdotool search --name "^Media" | head -n 1)
  xdotool windowactivate --sync "$window" 2>/dev/null || true
  # Fitted to the window (the slice is 128 pixels square), then the lung preset.
  xdotool mousemove 155 45 click 1
  sleep 1
  xdotool mousemove 700 450
  sleep 1
  xdotool key 3
  sleep 1
  xdotool mousemove 1270 890
  sleep 1
  import -window "$window" "$output"
'
finish_picture
