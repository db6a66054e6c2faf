#!/usr/bin/env bash
# The main job: builds the library and runs the demonstration host program under Wine, loading
# tarnix.dll the way the genealogy application does.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$TARNIX_ROOT/tools/install-deps.sh"
tarnix_build

trap tarnix_stop_wine EXIT
tarnix_start_wine

bin=$TARNIX_BUILD/x86_64/bin
tarnix_log "demonstration"
(cd "$bin" && wine tarnix_demo.exe tarnix.dll "$@" </dev/null)
