# Shared by run-tests.sh and run-demo.sh: building both architectures and a private, warm Wine
# with its own X display. Source it; call tarnix_stop_wine (an EXIT trap does) to stop what
# tarnix_start_wine started, by process id.

TARNIX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TARNIX_BUILD=${TARNIX_BUILD:-$TARNIX_ROOT/build}
TARNIX_XVFB_PID=
TARNIX_WINESERVER_PID=

tarnix_log() { printf '== %s\n' "$*"; }

tarnix_build() {
  local arch emulator
  for arch in i686 x86_64; do
    emulator=()
    [ "$arch" = x86_64 ] && emulator=(-DCMAKE_CROSSCOMPILING_EMULATOR=wine)
    if [ ! -f "$TARNIX_BUILD/$arch/CMakeCache.txt" ]; then
      tarnix_log "configuring $arch"
      cmake -S "$TARNIX_ROOT" -B "$TARNIX_BUILD/$arch" \
        -DCMAKE_TOOLCHAIN_FILE="$TARNIX_ROOT/cmake/toolchain-mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo "${emulator[@]}" >/dev/null
    fi
    tarnix_log "building $arch"
    cmake --build "$TARNIX_BUILD/$arch" -j "$(nproc)" -- --no-print-directory | grep -vE '^\[ *[0-9]+%\]' || true
    [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "build of $arch failed" >&2; return 1; }
  done
}

tarnix_start_wine() {
  export WINEPREFIX=$TARNIX_BUILD/x86_64/wineprefix
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEARCH=win64
  # No Mono or Gecko: nothing here needs them, and their installers would wait for a click.
  # No debugger either: a crashing program must end at once. (Wine starts winedbg even without
  # an AeDebug entry, and with the 32-bit Wine installed winedbg waits for ever.)
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  # Wine's WinINet also honours these: keep the tests' own proxy setting in charge.
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY

  local displayfile
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" </dev/null >/dev/null 2>&1 &
  TARNIX_XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
  [ -s "$displayfile" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=:$(head -n1 "$displayfile")
  rm -f "$displayfile"

  mkdir -p "$WINEPREFIX"
  # Wine's service processes must not inherit our pipes, or whoever reads them waits forever.
  wineserver -p </dev/null >/dev/null 2>&1 &
  TARNIX_WINESERVER_PID=$!
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    tarnix_log "making the Wine prefix"
  fi
  wine wineboot --init </dev/null >/dev/null 2>&1
  # Let Wine draw captions and frames itself: Xvfb has no window manager.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
}

tarnix_stop_wine() {
  if [ -n "${WINEPREFIX:-}" ] && [ -n "$TARNIX_WINESERVER_PID" ]; then
    wineserver -k </dev/null >/dev/null 2>&1 || true
    kill "$TARNIX_WINESERVER_PID" 2>/dev/null || true
    wait "$TARNIX_WINESERVER_PID" 2>/dev/null || true
  fi
  if [ -n "$TARNIX_XVFB_PID" ]; then
    kill "$TARNIX_XVFB_PID" 2>/dev/null || true
    wait "$TARNIX_XVFB_PID" 2>/dev/null || true
  fi
  TARNIX_XVFB_PID= TARNIX_WINESERVER_PID=
}
