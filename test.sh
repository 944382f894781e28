#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test without a display or a sound card.
#   ./test.sh             normal build in build/
#   ./test.sh --sanitize  AddressSanitizer and UndefinedBehaviorSanitizer build in build-sanitize/
#   ./test.sh -R REGEX    only the tests whose names match (passed on to ctest)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build_dir="$root/build"
cmake_args=()
ctest_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize)
      build_dir="$root/build-sanitize"
      cmake_args+=(-DKELTO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
      export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_odr_violation=0"
      export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
      export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
      ;;
    *) ctest_args+=("$1") ;;
  esac
  shift
done
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$build_dir" "${cmake_args[@]}"
export QT_QPA_PLATFORM=offscreen
export SDL_AUDIODRIVER=dummy
export KELTO_VERSION_URL=""
export KELTO_NO_POWEROFF=1
# Settings written by tests go to a private folder, never to the user's.
export XDG_CONFIG_HOME="$build_dir/test-config"
cd "$build_dir"
ctest --output-on-failure -j "$(nproc 2>/dev/null || echo 2)" --timeout 300 "${ctest_args[@]}"
