#!/usr/bin/env bash
# The one test command: installs what is missing, builds both architectures, and runs every test
# on each build under its own private Wine: x64 always, x86 where this machine runs 32-bit
# Windows programs (elsewhere it says why in one line, and checks the x86 export table only).
# Extra arguments go to both test runs (e.g. -R QueryExports). TARNIX_NO_X86=1 acts as a machine
# without 32-bit support. Then the release folder and hosts built against it, the native
# contract tests of the local online-tree service, a short native fuzz run of the pure text
# routines (their seeds and a few seconds each; the bounded run of its own is tools/run-fuzz.sh),
# and the demonstration as an end-to-end test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tarnix_install_deps
tarnix_build
# The release, fuzz and demo scripts run below with TARNIX_PREPARED=1: they take what is
# installed and built here as it is.

trap 'tarnix_stop_service; tarnix_stop_wine' EXIT
status=0

tarnix_start_wine x86_64 || { echo "Wine does not run 64-bit programs in $WINEPREFIX" >&2; exit 1; }
tarnix_log "x64: every test under Wine ($DISPLAY)"
# One build's tests under its Wine, side by side. A test that outlives its timeout runs once
# more (ctest prints both runs): a rare hang, seen about once in 30 full runs and not yet
# explained, must not fail the whole run; a test that fails, or hangs twice, still does.
run_build_tests() {
  (tarnix_use_wine "$1" && cd "$TARNIX_BUILD/$1" && shift &&
     ctest --output-on-failure --repeat after-timeout:2 -j "$(($(nproc) + 1))" "$@")
}
run_build_tests x86_64 "$@" || status=1

test_names() { ctest -N --test-dir "$1" | sed -n 's/^ *Test *#[0-9]*: //p' | sort; }

x86_obstacle=$(tarnix_x86_obstacle)
if [ -z "$x86_obstacle" ] && ! tarnix_start_wine i686; then
  x86_obstacle="32-bit Windows programs do not start under Wine"
fi
if [ -n "$x86_obstacle" ]; then
  echo "x86: behaviour tests not run ($x86_obstacle): they ran on x64 alone"
  tarnix_log "x86: export table and import library"
  (cd "$TARNIX_BUILD/i686/tests/abi" && ctest --output-on-failure) || status=1
else
  tarnix_log "x86: every test under Wine ($DISPLAY)"
  # The same tests on both builds: a test program that cannot list its tests lists none.
  x64_names=$(tarnix_use_wine x86_64 && test_names "$TARNIX_BUILD/x86_64")
  x86_names=$(tarnix_use_wine i686 && test_names "$TARNIX_BUILD/i686")
  if [ "$x64_names" != "$x86_names" ]; then
    echo "x86: the builds list different tests (< x64, > x86; lists made where the program could"
    echo "not run stay empty until it is rebuilt or build/i686/tests/*_tests.cmake is removed):"
    diff <(echo "$x64_names") <(echo "$x86_names") || true
    status=1
  fi
  run_build_tests i686 "$@" || status=1
fi

tarnix_log "release: the release folder, and hosts built against it alone"
release_x86=no
[ -z "$x86_obstacle" ] && release_x86=yes
source "$TARNIX_ROOT/tools/release-check.sh"
if TARNIX_PREPARED=1 bash "$TARNIX_ROOT/tools/make-release.sh" >"$TARNIX_BUILD/make-release.log" 2>&1; then
  tarnix_check_release "$(tarnix_release_dir)" "$release_x86" || status=1
else
  echo "release: making the release folder failed:"
  tail -20 "$TARNIX_BUILD/make-release.log"
  status=1
fi

tarnix_log "service: contract tests (native)"
(cd "$TARNIX_BUILD/service" && ctest --output-on-failure -j 2) || status=1

tarnix_log "fuzzing: the pure text routines, natively, briefly"
TARNIX_PREPARED=1 bash "$TARNIX_ROOT/tools/run-fuzz.sh" "${TARNIX_FUZZ_SECONDS:-5}" || status=1

# End to end: the demonstration's session of the command-line host through tarnix.dll against
# the real local service; it fails on any failed command or a file that does not come back whole.
tarnix_log "end to end: the demonstration (log in $TARNIX_BUILD/demo.log)"
tarnix_stop_wine || status=1
if TARNIX_PREPARED=1 bash "$TARNIX_ROOT/tools/run-demo.sh" >"$TARNIX_BUILD/demo.log" 2>&1; then
  echo "end to end: $(grep -c '^\$ tarnix' "$TARNIX_BUILD/demo.log") commands of the host, all as expected"
else
  echo "end to end: the demonstration failed:"
  tail -30 "$TARNIX_BUILD/demo.log"
  status=1
fi
exit $status
