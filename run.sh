#!/usr/bin/env bash
# Installs what is missing, builds, and starts the converter window.
# ./run.sh --cli ARGS...  runs the headless front end kelto-cli instead.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" >&2
if [ "${1:-}" = "--cli" ]; then
  shift
  exec "$root/build/bin/kelto-cli" "$@"
fi
exec "$root/build/bin/kelto-converter" "$@"
