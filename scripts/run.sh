#!/usr/bin/env bash
# Installs the dependencies (Debian 12), builds the program and starts it.
#   scripts/run.sh [--build-dir DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
if [ "${1:-}" = "--build-dir" ]; then
  build_dir="$2"
fi

scripts/install-deps.sh
# The folder scripts/test.sh builds in too: only the program is built here,
# whatever else the folder is configured for.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" -j"$(nproc)" --target corvanta
exec "$build_dir/src/app/corvanta"
