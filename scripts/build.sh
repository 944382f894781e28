#!/usr/bin/env bash
# Configures and builds into a build folder: scripts/build.sh [BUILD_DIR] [extra cmake options...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$root/build}"
shift || true
jobs="$(nproc 2>/dev/null || echo 2)"
if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S "$root" -B "$build_dir" -G Ninja "$@"
else
  cmake "$build_dir" "$@" >/dev/null
fi
cmake --build "$build_dir" -j "$jobs"
