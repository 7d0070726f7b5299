#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan) and runs each
# for a bounded time from its committed seed corpus. Fails on any crash, leak,
# time-out or sanitizer report. Usage: scripts/fuzz.sh [seconds per target]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build_dir=${EASEL_FUZZ_BUILD_DIR:-$root/build-fuzz}

CC=clang CXX=clang++ cmake -S "$root" -B "$build_dir" -DEASEL_FUZZ=ON >/dev/null
cmake --build "$build_dir" -j 2 --target fuzz_targets

work=$(mktemp -d /tmp/easel-fuzz-XXXXXX)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
summary=()
for target in "$build_dir"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$work/$name"
  mkdir -p "$corpus"
  seeds="$root/fuzz/corpus/$name"
  log="$work/$name.log"
  echo "== $name: ${seconds}s"
  # stdout closed: the server's log lines would only slow the run down.
  if ! "$target" -max_total_time="$seconds" -timeout=10 -max_len=4096 -close_fd_mask=1 \
      -print_final_stats=1 -artifact_prefix="$work/$name-" "$corpus" "$seeds" >"$log" 2>&1 ||
      grep -qE "ERROR: (Address|Leak)Sanitizer|runtime error:|deadly signal" "$log"; then
    status=1
    tail -n 60 "$log"
    for artifact in "$work/$name"-*; do
      [ -e "$artifact" ] || continue
      mkdir -p "$root/fuzz/findings"
      cp "$artifact" "$root/fuzz/findings/"
      echo "input kept in fuzz/findings/$(basename "$artifact")"
    done
    summary+=("$name: FAILED")
    continue
  fi
  last=$(grep -E "^#[0-9]+" "$log" | tail -n 1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9a-zA-Z]*\).*/\1/p' <<<"$last")
  summary+=("$name: $runs runs, $speed exec/s, cov $cov, ft $ft, corpus $corp")
done

echo
printf '%s\n' "${summary[@]}"
exit $status
