#!/usr/bin/env bash
# Configures and builds into a build folder: scripts/build.sh [BUILD_DIR] [extra cmake options...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$root/build}"
shift || true
jobs="$(nproc 2>/dev/null || echo 2)"
# One build at a time per build folder: a second caller waits for the first.
mkdir -p "$build_dir"
exec 9>"$build_dir/.build.lock"
flock 9
if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S "$root" -B "$build_dir" -G Ninja "$@"
else
  cmake "$build_dir" "$@" >/dev/null
fi
cmake --build "$build_dir" -j "$jobs"
