#!/usr/bin/env bash
# The benchmark command: the library's own cost against the bare platform and against native
# curl, measured in one run on this machine. Installs what is missing (nginx among it), builds tarnix.dll and the
# benchmark host (tarnix_bench), starts nginx on 127.0.0.1 with a configuration of its own in a
# temporary folder, and runs every benchmark under a private Wine: on the x64 build, then on the
# x86 build where this machine runs 32-bit programs (TARNIX_NO_X86=1 skips it). Each build's
# ratios come out as one table, written with the wineserver request counts to
# build/bench/results.md (the whole output in build/bench/output.txt). It stops what it started:
# nginx by its process id, each build's wineserver with `wineserver -k` for its prefix.
#
#   bash tools/run-bench.sh [--rounds-scale N] [--only BENCHMARK]
#   (N multiplies every benchmark's rounds; BENCHMARK is download, query, search-pool, upload,
#   memory, answers or calls, the wineserver request counts)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

scale=1
only=
while [ $# -ge 2 ]; do
  case $1 in
    --rounds-scale) scale=$2 ;;
    --only) only=$2 ;;
    *) echo "run-bench: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
rounds() { echo $(($1 * scale)); }
wanted() { [ -z "$only" ] || [ "$only" = "$1" ]; }

tarnix_install_deps bench
# tarnix_bench and what it needs, tarnix.dll among it.
tarnix_build tarnix_bench

archs=(x86_64)
x86_obstacle=$(tarnix_x86_obstacle)
[ -n "$x86_obstacle" ] || archs+=(i686)

work=$(mktemp -d /tmp/tarnix-bench.XXXXXX)
nginx_pid=
stop_all() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  tarnix_stop_wine || true
  rm -rf "$work"
}
trap stop_all EXIT

# A port on 127.0.0.1 that nothing answers on.
free_port() {
  local port
  for port in $(shuf -i 20000-60000 -n 100); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return
    fi
  done
  return 1
}

tarnix_log "files and nginx on 127.0.0.1"
mkdir -p "$work/www/files"
for mib in 16 32 256; do head -c $((mib << 20)) /dev/urandom >"$work/www/files/${mib}m.bin"; done
# Tree lists of many rows, and an answer beyond the library's limit of 8 MiB.
mkdir -p "$work/www/answers"
for rows in 10000 40000; do
  awk -v n="$rows" 'BEGIN { printf "<gatekeeper op=\"oftlist\"><ok/>"
    for (i = 1; i <= n; i++) printf "<oft><SiteID>4101</SiteID><SiteName>Site</SiteName><CollectionID>%d</CollectionID>" \
      "<OFTName>Tree %d</OFTName><Permission>ADMN</Permission><DownloadStatus>0</DownloadStatus></oft>", i, i
    printf "</gatekeeper>" }' >"$work/www/answers/rows-$rows.xml"
done
{ printf '<gatekeeper op="oftlist"><ok/>'; head -c $((16 << 20)) /dev/zero | tr '\0' ' '; printf '</gatekeeper>'; } \
  >"$work/www/answers/oversized.xml"
port=$(free_port)
sink_port=$(free_port)
[ "$port" != "$sink_port" ] || sink_port=$(free_port)
sed -e "s|@WORK@|$work|g" -e "s|@PORT@|$port|g" -e "s|@SINK_PORT@|$sink_port|g" \
  "$TARNIX_ROOT/bench/nginx.conf.in" >"$work/nginx.conf"
nginx -p "$work" -c "$work/nginx.conf" -e "$work/error.log" </dev/null >/dev/null 2>&1 &
nginx_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
(exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "nginx did not start:" >&2; cat "$work/error.log" >&2; exit 1; }

# The upload sink must read the whole body before it answers: with half of a body sent, no
# answer may come; with the rest, it must.
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'POST /vft/gatekeeper.ashx?op=oftcreate HTTP/1.0\r\nHost: x\r\nContent-Length: 2097152\r\n\r\n' >&3
head -c 1048576 /dev/zero >&3
if read -r -t 1 -u 3 line; then echo "nginx answered an upload before its body was in: $line" >&2; exit 1; fi
head -c 1048576 /dev/zero >&3
read -r -t 10 -u 3 line || line=
exec 3<&-
[[ "$line" == "HTTP/1.1 200"* ]] || { echo "nginx's upload sink did not answer: $line" >&2; exit 1; }
echo "nginx on 127.0.0.1:$port (upload sink on $sink_port; it answers only once the whole body is in)"

mkdir -p "$TARNIX_BUILD/bench"
output=$TARNIX_BUILD/bench/output.txt
results=$TARNIX_BUILD/bench/results.md
: >"$output"
: >"$results"

# Runs one benchmark on the current build, its output kept in $output.
bench() {
  tarnix_log "$label: $1"
  (cd "$build/bin" && wine tarnix_bench.exe "$@" </dev/null) 2>&1 | tr -d '\r' | sed "s/^RESULT /RESULT $label /" |
    tee -a "$output"
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "tarnix_bench $1 failed" >&2; exit 1; }
}

# The download: one round per process of tarnix_bench (the library and the bare loops) and one
# curl download of the same file into a file, natively (the ceiling of this machine), the two
# taking turns at going first; the ratios of each round's times, summarized by tarnix_bench.
download_rounds() {
  local rounds=$1 round times=$work/download-times-$label.txt
  : >"$times"
  curl_round() {
    printf 'TIME curl %s\n' "$(curl -s -o "$work/curl.bin" -w '%{time_total}' "http://127.0.0.1:$port/files/256m.bin")" |
      tee -a "$output" >>"$times"
    rm -f "$work/curl.bin"
  }
  library_round() {
    (cd "$build/bin" && wine tarnix_bench.exe download --server "127.0.0.1:$port" --path /files/256m.bin --mib 256 \
      --warm-path /files/16m.bin --warm-mib 16 --rounds 1 </dev/null) 2>&1 | tr -d '\r' | tee -a "$output" |
      grep '^TIME ' >>"$times"
  }
  tarnix_log "$label: download ($rounds rounds, each beside curl)"
  for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then curl_round; library_round; else library_round; curl_round; fi
  done
  # Throughput ratios of round n: the reference's time over the variant's, above 1 is faster.
  ratios() {
    awk -v a="$1" -v b="$2" '{ name = $2; for (i = 3; i < NF; i++) name = name " " $i }
      name == a { x[++na] = $NF } name == b { y[++nb] = $NF }
      END { for (i = 1; i <= na && i <= nb; i++) printf " %.6f", y[i] / x[i] }' "$times"
  }
  report() {
    (cd "$build/bin" && wine tarnix_bench.exe report "$1" "throughput ratio" $(ratios "$2" "$3") </dev/null) 2>&1 |
      tr -d '\r' | sed "s/^RESULT /RESULT $label /" | tee -a "$output"
  }
  report download.library_vs_bare_sync_256k library "bare sync 256 KiB"
  report download.library_vs_bare_async_256k library "bare async 256 KiB"
  report download.library_vs_curl library curl
  report download.bare_sync_256k_vs_curl "bare sync 256 KiB" curl
  report download.library_vs_bare_sync_4k library "bare sync 4 KiB"
}

# wineserver requests that one run of tarnix_bench makes, counted in the server's own trace:
# every request line, less the replies (printed as "name() = ...").
count_calls() {
  local before after
  before=$(wc -l <"$trace")
  (cd "$build/bin" && WINEDEBUG=+server wine tarnix_bench.exe "$@" </dev/null >/dev/null 2>&1) ||
    { echo "traced tarnix_bench $1 failed" >&2; exit 1; }
  sleep 0.5
  after=$(wc -l <"$trace")
  sed -n "$((before + 1)),${after}p" "$trace" | grep -E '^[0-9a-f]{4}: [a-z_]+\(' |
    grep -cvE '^[0-9a-f]{4}: [a-z_]+\(\) = ' || true
}

# The requests per 4 KiB of a download and per sign-in, as the difference between a run with
# twice the work and one with the work once, so that starting the program cancels out.
count_all_calls() {
  tarnix_log "$label: wineserver requests, from the server's trace"
  # The build's warm server makes way for one that traces; it is ready when started.
  tarnix_stop_wineserver "$WINEPREFIX" || exit 1
  trace=$work/trace-$arch.txt
  tarnix_start_wineserver "$trace" || exit 1
  # The first program on a new server also starts Wine's own services: not counted.
  count_calls query --service "127.0.0.1:$port" --requests 1 --only library >/dev/null
  local variant small large
  for variant in "library" "bare sync 256 KiB" "bare async 256 KiB" "bare sync 4 KiB"; do
    small=$(count_calls download --server "127.0.0.1:$port" --path /files/16m.bin --mib 16 --only "$variant")
    large=$(count_calls download --server "127.0.0.1:$port" --path /files/32m.bin --mib 32 --only "$variant")
    echo "CALLS $label $(awk -v a="$small" -v b="$large" 'BEGIN { printf "%.2f", (b - a) / 4096 }') download, $variant" |
      tee -a "$output"
  done
  for variant in "library" "bare sync" "bare async"; do
    small=$(count_calls query --service "127.0.0.1:$port" --requests 20 --only "$variant")
    large=$(count_calls query --service "127.0.0.1:$port" --requests 40 --only "$variant")
    echo "CALLS $label $(awk -v a="$small" -v b="$large" 'BEGIN { printf "%.2f", (b - a) / 20 }') sign-in, $variant" |
      tee -a "$output"
  done
  # Stopped before its trace goes: nothing else of this build runs under Wine after it.
  tarnix_stop_wineserver "$WINEPREFIX" || exit 1
  rm -f "$trace"
}

# One table per build: a row per ratio, with its target where the project set one.
target() {
  case $1 in
    download.library_vs_bare_sync_256k) echo ">= 0.9" ;;
    download.library_vs_curl) echo ">= 0.4" ;;
    query.library_vs_bare_sync) echo "<= 1.15" ;;
    answers.list_40000_vs_10000_rows) echo "<= 5" ;;
    answers.oversized_peak_growth) echo "<= 2" ;;
    memory.*_peak_256_vs_16) echo "<= 1.05" ;;
  esac
}
write_table() {
  echo
  echo "$label ($(date -u +%Y-%m-%d), benchmarks took $((SECONDS - started)) s):"
  echo
  echo "| measure | median | interquartile range | range | rounds | unit | target |"
  echo "|---|---|---|---|---|---|---|"
  { grep "^RESULT $label " "$output" || true; } | while read -r _ _ name _ median _ iqr _ range _ n unit; do
    verdict=
    read -r op limit <<<"$(target "$name")"
    if [ -n "$op" ]; then
      if awk -v m="$median" -v l="$limit" -v op="$op" 'BEGIN { exit !(op == ">=" ? m >= l : m <= l) }'; then
        verdict="$op $limit: met"
      else
        verdict="$op $limit: missed"
      fi
    fi
    echo "| $name | $median | $iqr | $range | $n | $unit | $verdict |"
  done
  echo
  echo "wineserver requests ($label), each a round trip to Wine's server process: per 4 KiB of a download"
  echo "(16 MiB more), per sign-in (20 more)"
  echo
  echo "| what | requests |"
  echo "|---|---|"
  { grep "^CALLS $label " "$output" || true; } | while read -r _ _ count name; do echo "| $name | $count |"; done
}

status=0
for arch in "${archs[@]}"; do
  build=$TARNIX_BUILD/$arch
  if [ "$arch" = x86_64 ]; then
    label=x64
    tarnix_start_wine x86_64 || { echo "Wine does not run 64-bit programs in $WINEPREFIX" >&2; exit 1; }
  else
    label=x86
    if ! tarnix_start_wine i686; then
      echo "x86: not measured (32-bit Windows programs do not start under Wine)"
      continue
    fi
  fi
  files_win=$(winepath -w "$work/www/files" 2>/dev/null)
  started=$SECONDS
  if wanted download; then download_rounds "$(rounds 7)"; fi
  if wanted query; then bench query --service "127.0.0.1:$port" --requests 200 --burst 50 --rounds "$(rounds 10)"; fi
  if wanted search-pool; then bench search-pool --count-ms 500 --general-ms 1500 --rounds "$(rounds 5)"; fi
  if wanted upload; then bench upload --service "127.0.0.1:$port" --file "$files_win\\256m.bin" --rounds "$(rounds 7)"; fi
  if wanted memory; then
    bench memory --server "127.0.0.1:$port" --service "127.0.0.1:$port" --sizes 16,256 --rounds "$(rounds 3)" \
      --path-format '/files/%um.bin' --file-format "$files_win\\%um.bin"
  fi
  if wanted answers; then bench answers --service "127.0.0.1:$port" --rounds "$(rounds 5)"; fi
  if wanted calls; then count_all_calls; fi
  write_table >>"$results"
done
[ -n "$x86_obstacle" ] && echo "x86: not measured ($x86_obstacle)" | tee -a "$results"
tarnix_log "results"
cat "$results"
exit $status
