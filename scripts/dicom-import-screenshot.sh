#!/usr/bin/env bash
# Takes docs/dicom-import-review.png: the review window of Import DICOM… as it
# opens for a folder of DICOM files handed to Ovalis (as the desktop does when
# a folder is opened with it): a synthetic chest CT study with an axial
# series, a scout and a secondary-capture dose page (which may carry burned-in
# text), the axial series thinned to every second image. Needs a build
# (scripts/build.sh), python3-pydicom, Xvfb, xdotool and ImageMagick.
script_output=${1:-}
source "$(dirname "$0")/screenshot-home.sh" docs/dicom-import-review.png
make_library
study="$HOME/Downloads/CT chest 2021-09-17"
/usr/bin/python3 scripts/dicom-phantom.py "$study" 40

export output study
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
  ./build/ovalis "$study" >/dev/null 2>&1 &
  app=$!
  sleep 8
  window=$(xdotool search --name "^Import DICOM$" | head -n 1)
  xdotool windowmove "$window" 0 0
  sleep 1
  # "Every Nth" of the axial series (second row of the study) set to 2.
  xdotool mousemove '"${EVERY_NTH_X:-590}"' '"${EVERY_NTH_Y:-165}"' click 1 key ctrl+a type 2
  xdotool key Tab
  xdotool mousemove 1270 890
  sleep 2
  import -window "$window" "$output"
  kill $app
'
finish_picture
