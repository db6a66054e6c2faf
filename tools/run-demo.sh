#!/usr/bin/env bash
# The main job: builds the library and the local online-tree service, starts the service on
# 127.0.0.1 with the demo family, points WinINet's proxy setting at it, and runs the
# demonstration host program, which loads tarnix.dll the way the genealogy application does:
# it signs in, lists sites and online trees, downloads the exported tree and a large web file
# with their progress, and the script then checks both files byte for byte.
# Arguments go to the host: [USER PASSWORD [COBRAND]] (default demo demo-pass demo).
# TARNIX_DEMO_FILE_MIB sets the size of the web file (default 64).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$TARNIX_ROOT/tools/install-deps.sh"
tarnix_build

service_pid=
data=$(mktemp -d)
stop_all() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  tarnix_stop_wine
  rm -rf "$data"
}
trap stop_all EXIT
tarnix_start_wine

"$TARNIX_BUILD/service/tarnix-service" --port 0 --data "$data" \
  --seed "$TARNIX_ROOT/service/seed/haverfield.ged" --records "$TARNIX_ROOT/service/seed/records" \
  </dev/null >"$data/started" 2>"$data/service.log" &
service_pid=$!
for _ in $(seq 100); do grep -q '^listening on' "$data/started" && break; sleep 0.1; done
port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$data/started")
[ -n "$port" ] || { cat "$data/service.log" >&2; echo "the local service did not start" >&2; exit 1; }
tarnix_log "local online-tree service on 127.0.0.1:$port (WinINet proxy)"

# A plain HTTP/1.0 GET to the service; prints the answer's body.
service_get() {
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf 'GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' "$1" >&3
  sed '1,/^\r*$/d' <&3
  exec 3<&-
}

# The web file to download, served at /files/<name>.
mkdir -p "$data/files"
head -c $((${TARNIX_DEMO_FILE_MIB:-64} * 1048576)) /dev/urandom >"$data/files/demo-large.bin"

# The tree needs an export before it can be downloaded: ask for one as the demo user, directly.
ticket=$(service_get "/vft/gatekeeper.ashx?op=apilogin&username=demo&password=demo-pass" |
  sed -n 's:.*<ATT>\([^<]*\)</ATT>.*:\1:p')
[ -n "$ticket" ] || { echo "the demo user could not sign in" >&2; exit 1; }
service_get "/vft/gatekeeper.ashx?op=oftexport&att=$ticket&collectionid=$(
  service_get "/vft/gatekeeper.ashx?op=oftlist&att=$ticket" |
    sed -n 's:.*<CollectionID>\([^<]*\)</CollectionID>.*:\1:p' | head -n1)" | grep -q '<ok/>' ||
  { echo "the tree export failed" >&2; exit 1; }
tarnix_log "tree exported for download"

settings='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
wine reg add "$settings" /v ProxyEnable /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1
wine reg add "$settings" /v ProxyServer /t REG_SZ /d "127.0.0.1:$port" /f </dev/null >/dev/null 2>&1

tarnix_log "demonstration host"
status=0
bin=$TARNIX_BUILD/x86_64/bin
(cd "$data" && wine "$bin/tarnix_demo.exe" --dll "$bin/tarnix.dll" \
  --download files.tarnix.example /files/demo-large.bin "$@" </dev/null) || status=$?
wine reg add "$settings" /v ProxyEnable /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1

if [ $status -eq 0 ]; then
  tarnix_log "downloaded files against the originals"
  cmp "$data/downloaded-tree.ged" "$TARNIX_ROOT/service/seed/haverfield.ged" && echo "tree: byte for byte" || status=1
  cmp "$data/downloaded-file.bin" "$data/files/demo-large.bin" && echo "web file: byte for byte" || status=1
fi
exit $status
