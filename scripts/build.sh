#!/usr/bin/env bash
# Configures and builds Ovalis into ./build (the targets given, or everything).
# Compiles through ccache when it is installed, so a rebuild in another clone
# of the same sources reuses the objects.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [[ ! -f build/build.ninja ]]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
fi
cmake --build build "$@"
