#!/usr/bin/env bash
# Fuzzes the library's pure text routines natively, for a bounded time:
#   bash tools/run-fuzz.sh [seconds per target]      (default 120)
# Each target (tests/fuzz) is built with clang's libFuzzer and the address and undefined-behaviour
# sanitizers, starts from its committed seeds (tests/fuzz/corpus/<target>, never written) and
# checks properties of what the routine gives, not only that it survives. Inputs that reach new
# code are kept in build/fuzz/corpus/<target>, outside the tree; an input that breaks a property
# or trips a sanitizer is kept as build/fuzz/<target>-crash-*, and the command fails.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

seconds=${1:-120}
case $seconds in '' | *[!0-9]* | 0) echo "usage: $0 [seconds per target]" >&2; exit 2 ;; esac
targets=(search_count decimal_text version_text result_table)
build=$TARNIX_BUILD/fuzz

tarnix_install_deps
if [ ! -f "$build/CMakeCache.txt" ]; then
  tarnix_log "configuring fuzz (clang-14, libFuzzer, address and undefined-behaviour sanitizers)"
  cmake -S "$TARNIX_ROOT/tests/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
fi
tarnix_log "building fuzz"
cmake --build "$build" -j 2 -- --no-print-directory | grep -vE '^\[ *[0-9]+%\]' || true
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "build of the fuzz targets failed" >&2; exit 1; }

tarnix_log "fuzz: $seconds s per target"
status=0
passed=0
printf '%-14s %12s %8s %8s  %s\n' target runs seconds corpus result
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target"
  log=$build/$target.log
  # One worker, bounded in time, memory and per input; the committed seeds are read, not written.
  if (cd "$build" && "./fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/$target-" \
        "corpus/$target" "$TARNIX_ROOT/tests/fuzz/corpus/$target") >"$log" 2>&1; then
    result=passed
    passed=$((passed + 1))
  else
    result="FAILED (see $log)"
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n1)
  printf '%-14s %12s %8s %8s  %s\n' "$target" "${runs:-?}" "${took:-?}" \
    "$(find "$build/corpus/$target" -type f | wc -l)" "$result"
  [ "$result" = passed ] || grep -E 'property broken|ERROR: |SUMMARY: ' "$log" | head -n 5 || true
done
echo "fuzz: $passed passed, $((${#targets[@]} - passed)) failed"
exit $status
