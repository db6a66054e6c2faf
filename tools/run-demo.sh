#!/usr/bin/env bash
# The main job: builds the library, starts a stand-in for the online service on 127.0.0.1, points
# WinINet's proxy setting at it, and runs the demonstration host program, which loads tarnix.dll
# the way the genealogy application does and signs in, lists sites and lists online trees.
# Arguments go to the host: [USER PASSWORD [COBRAND]].
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$TARNIX_ROOT/tools/install-deps.sh"
tarnix_build

service_pid=
stop_all() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
  tarnix_stop_wine
}
trap stop_all EXIT
tarnix_start_wine x86_64 || { echo "Wine does not run 64-bit programs in $WINEPREFIX" >&2; exit 1; }

bin=$TARNIX_BUILD/x86_64/bin
portfile=$(mktemp)
(cd "$bin" && exec wine tarnix_demo_service.exe </dev/null >"$portfile") &
service_pid=$!
for _ in $(seq 200); do grep -q '^port ' "$portfile" && break; sleep 0.1; done
port=$(sed -n 's/^port \([0-9]*\).*/\1/p' "$portfile" | head -n1)
rm -f "$portfile"
[ -n "$port" ] || { echo "the demonstration service did not start" >&2; exit 1; }
tarnix_log "stand-in service on 127.0.0.1:$port (WinINet proxy)"

settings='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
wine reg add "$settings" /v ProxyEnable /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1
wine reg add "$settings" /v ProxyServer /t REG_SZ /d "127.0.0.1:$port" /f </dev/null >/dev/null 2>&1

tarnix_log "demonstration host"
status=0
(cd "$bin" && wine tarnix_demo.exe --dll tarnix.dll "$@" </dev/null) || status=$?
wine reg add "$settings" /v ProxyEnable /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
exit $status
