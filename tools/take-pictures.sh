#!/usr/bin/env bash
# Takes the README's pictures of the library's dialogs: builds tarnix_pictures (tools/pictures), runs
# it on the x64 build under an Xvfb display and Wine prefix of its own (tools/common.sh), against the
# local service inside the program, and writes the pictures into build/x86_64/pictures, or with
# --docs over docs/dialogs. Run on demand; the tests take no pictures.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

case "${1:-}" in
  "") out=$TARNIX_BUILD/x86_64/pictures ;;
  --docs) out=$TARNIX_ROOT/docs/dialogs ;;
  *) echo "usage: bash tools/take-pictures.sh [--docs]" >&2; exit 2 ;;
esac

bash "$TARNIX_ROOT/tools/install-deps.sh"
tarnix_configure x86_64
tarnix_log "building tarnix_pictures"
# Configured again first: a build folder made before the program existed has no rule for it.
cmake -S "$TARNIX_ROOT" -B "$TARNIX_BUILD/x86_64" >/dev/null
cmake --build "$TARNIX_BUILD/x86_64" --target tarnix_pictures -j "$(nproc)" -- --no-print-directory |
  { grep -vE '^\[ *[0-9]+%\]' || true; }

trap tarnix_stop_wine EXIT
tarnix_start_wine x86_64 || { echo "Wine does not run 64-bit programs in $WINEPREFIX" >&2; exit 1; }
mkdir -p "$out"
tarnix_log "taking the pictures into $out"
(cd "$TARNIX_BUILD/x86_64/bin" && timeout 120 wine tarnix_pictures.exe "$(winepath -w "$out" 2>/dev/null)" </dev/null)
