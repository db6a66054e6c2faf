#!/usr/bin/env bash
# The planted-fault probe: each fault of tools/probe/faults.py in turn, the whole x64 suite run
# against it, and a table of what caught it. About 2 minutes a fault. Run by hand on a build that
# the test command made (bash tools/probe-faults.sh [fault numbers...]); it restores every file.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
tarnix_build
trap tarnix_stop_wine EXIT
tarnix_start_wine x86_64
python3 "$TARNIX_ROOT/tools/probe/faults.py" "$TARNIX_BUILD/x86_64" "$@"
