#!/usr/bin/env bash
# Builds Ovalis and launches it on the default library (~/Ovalis).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh --target ovalis
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  echo "No graphical display was found (DISPLAY and WAYLAND_DISPLAY are not set)." >&2
  echo "Run Ovalis from a desktop session, or under a virtual display:" >&2
  echo "  scripts/install-deps.sh --with-display && xvfb-run -a ./build/ovalis" >&2
  exit 1
fi
exec ./build/ovalis "$@"
