#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
# Usage: scripts/test.sh [--sanitize]   (--sanitize: AddressSanitizer + UBSan build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
if [ "${1:-}" = "--sanitize" ]; then
  build_dir="$root/build-sanitize"
  "$root/scripts/build.sh" --sanitize "$build_dir"
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  # The instrumented client draws several times slower: give the end-to-end
  # tests' waits more room.
  export EASEL_E2E_TIMEOUT=${EASEL_E2E_TIMEOUT:-60}
else
  build_dir="$root/build"
  "$root/scripts/build.sh" "$build_dir"
fi
cd "$build_dir"
ctest --output-on-failure -j "$(nproc)"
