#!/usr/bin/env bash
# Checks that every picture under docs/ shown by README.md or docs/*.md exists
# and is written by a scripts/*-screenshot.sh (the picture it takes by
# default), so that scripts/all-screenshots.sh can take it again. Prints each
# picture that falls short and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
declare -A written=()
for script in scripts/*-screenshot.sh; do
  while read -r picture; do
    written[$picture]=$script
  done < <(sed -n 's|^source .*screenshot-home\.sh" *\(docs/[^ ]*\.png\).*|\1|p' "$script")
done
for document in README.md docs/*.md; do
  folder=$(dirname "$document")
  # Markdown images: ![text](path.png), with the path relative to the document;
  # examples in code spans are not pictures.
  while read -r reference; do
    picture=$(realpath -m --relative-to=. "$folder/$reference")
    [[ $picture == docs/* ]] || continue
    if [[ ! -f $picture ]]; then
      echo "$document shows $picture, which does not exist"
      status=1
    elif [[ -z ${written[$picture]:-} ]]; then
      echo "$document shows $picture, which no scripts/*-screenshot.sh takes"
      status=1
    fi
  done < <(sed 's/`[^`]*`//g' "$document" | grep -o '!\[[^]]*\]([^)]*\.png)' | sed 's/.*](\(.*\))/\1/')
done
exit $status
