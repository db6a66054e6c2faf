#!/usr/bin/env bash
# The one test command: installs what is missing, builds both architectures, checks the x86
# export table, runs every behaviour test on the x64 build under a private Wine, and runs the
# native tests of the local online-tree service.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$TARNIX_ROOT/tools/install-deps.sh"
tarnix_build

trap tarnix_stop_wine EXIT
tarnix_start_wine

status=0
tarnix_log "x86: export table and import library"
(cd "$TARNIX_BUILD/i686" && ctest --output-on-failure) || status=1
tarnix_log "x64: every test under Wine ($DISPLAY)"
(cd "$TARNIX_BUILD/x86_64" && ctest --output-on-failure -j "$(nproc)" "$@") || status=1
tarnix_log "service: contract tests (native)"
(cd "$TARNIX_BUILD/service" && ctest --output-on-failure -j 2) || status=1
exit $status
