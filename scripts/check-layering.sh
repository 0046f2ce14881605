#!/usr/bin/env bash
# Checks the #include lines under src/ against the layering of its folders:
#
#   util <- store <- library, find, media, exchange, transfer <- app, cli
#
# A folder includes its own files and those of lower layers, never a higher
# layer; app and cli stay apart. Widgets live in a folder's ui/ subfolder (and
# in app/): code outside them includes no ui/ header. A ui/ folder may use a
# lower folder's ui/, and a peer folder's ui/ only on a link listed below. Prints each include that
# breaks the layering and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A layer=([util]=0 [store]=1 [library]=2 [find]=2 [media]=2 [exchange]=2 [transfer]=2 [app]=3 [cli]=3)

# Widgets that use a peer folder's widgets: the library window shows the
# media, find, exchange and transfer views, and the find rows reuse the
# library's date field, and the media grid hands DICOM dropped on it to the
# DICOM import's review. "including folder -> included folder".
declare -A uiLinks=(
  ["library/ui -> media/ui"]=1
  ["library/ui -> exchange/ui"]=1
  ["library/ui -> find/ui"]=1
  ["library/ui -> transfer/ui"]=1
  ["find/ui -> library/ui"]=1
  ["media/ui -> exchange/ui"]=1
)

status=0
while IFS= read -r line; do
  file=${line%%:*}
  rest=${line#*:}
  number=${rest%%:*}
  [[ ${rest#*:} =~ include[[:space:]]*\"([^\"]+)\" ]] || continue
  included=${BASH_REMATCH[1]}
  [[ $included == */* ]] || continue
  relative=${file#src/}
  from=${relative%%/*}
  to=${included%%/*}
  [[ -n ${layer[$to]:-} ]] || continue
  fromUi=0; [[ $relative == "$from"/ui/* ]] && fromUi=1
  toUi=0; [[ $included == "$to"/ui/* ]] && toUi=1
  problem=""
  if ((layer[$to] > layer[$from])); then
    problem="$from/ is below $to/"
  elif ((layer[$to] == layer[$from])) && [[ $to != "$from" ]] && ((layer[$to] == 3)); then
    problem="$from/ and $to/ stay apart"
  elif ((toUi)) && ((!fromUi)) && [[ $from != app ]]; then
    problem="only widgets include widgets"
  elif ((toUi)) && ((fromUi)) && ((layer[$to] == layer[$from])) && [[ $to != "$from" ]] \
    && [[ -z ${uiLinks["$from/ui -> $to/ui"]:-} ]]; then
    problem="$from/ui/ does not use $to/ui/"
  fi
  if [[ -n $problem ]]; then
    echo "$file:$number includes $included: $problem"
    status=1
  fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' src --include='*.h' --include='*.cpp')
exit $status
