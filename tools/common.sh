# Shared by the install, test and demo scripts: building both architectures, telling whether this
# machine can run the x86 build, and a private, warm Wine per build (one prefix and one
# wineserver each) on one X display. Source it; call tarnix_stop_wine (an EXIT trap does) to
# stop what tarnix_start_wine started: each prefix's wineserver, then the display.

TARNIX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TARNIX_BUILD=${TARNIX_BUILD:-$TARNIX_ROOT/build}
TARNIX_XVFB_PID=
# The prefixes whose wineserver this shell started (the servers are not its children).
TARNIX_WINE_PREFIXES=()

# The 32-bit Wine's loader. Once it is installed, `wine` starts it first, and a 64-bit prefix
# made without it fails every program ("could not load kernel32.dll").
TARNIX_WINE32_LOADER=/usr/lib/wine/wine

tarnix_log() { printf '== %s\n' "$*"; }

# True when this kernel starts 32-bit x86 programs, asked of the kernel itself before anything
# 32-bit is installed: a 93-byte i386 program that only exits with status 42. A kernel built
# without 32-bit support, or with it switched off at boot, refuses to start it.
tarnix_kernel_runs_x86() {
  [ "$(uname -m)" = x86_64 ] || return 1
  local dir status=0
  dir=$(mktemp -d) || return 1
  {
    # ELF header: 32-bit, little-endian, an executable for the 386, entry 0x08048054
    printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0'
    printf '\0\0\0\0\0\0\0\0\64\0\40\0\1\0\50\0\0\0\0\0'
    # one loadable, executable segment: the whole file (93 bytes) at 0x08048000
    printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0'
    # xor ebx,ebx; mov bl,42; xor eax,eax; inc eax (exit); int 0x80
    printf '\61\333\263\52\61\300\100\315\200'
  } >"$dir/probe"
  chmod +x "$dir/probe"
  "$dir/probe" 2>/dev/null || status=$?
  rm -rf "$dir"
  [ "$status" -eq 42 ]
}

# Why the x86 build's behaviour tests cannot run here, in a few words; nothing when nothing known
# before starting its Wine stands in the way. TARNIX_NO_X86=1 gives the answer of a machine
# without 32-bit support.
tarnix_x86_obstacle() {
  if [ "${TARNIX_NO_X86:-0}" != 0 ]; then
    echo "TARNIX_NO_X86 is set"
  elif ! tarnix_kernel_runs_x86; then
    echo "this kernel does not run 32-bit programs"
  elif [ ! -x "$TARNIX_WINE32_LOADER" ]; then
    echo "the 32-bit Wine (wine32:i386) is not installed"
  fi
}

# Configures the build of $1 (i686 or x86_64) unless it already is configured as the scripts
# configure it. Both builds run their test programs under wine, the x86 one only where it can.
# A build folder configured with another compiler (before clang) is configured afresh: CMake
# would otherwise drop its cache on its own, and with it these settings.
tarnix_configure() {
  local arch=$1 build=$TARNIX_BUILD/$1
  if ! grep -qx 'CMAKE_CROSSCOMPILING_EMULATOR:[A-Z]*=wine' "$build/CMakeCache.txt" 2>/dev/null ||
     ! cat "$build"/CMakeFiles/*/CMakeCXXCompiler.cmake 2>/dev/null |
       grep -qx 'set(CMAKE_CXX_COMPILER "\(.*/\)\?clang++-14")'; then
    tarnix_log "configuring $arch"
    cmake --fresh -S "$TARNIX_ROOT" -B "$TARNIX_BUILD/$arch" \
      -DCMAKE_TOOLCHAIN_FILE="$TARNIX_ROOT/cmake/toolchain-mingw-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CROSSCOMPILING_EMULATOR=wine >/dev/null
  fi
}

# Installs what is missing (tools/install-deps.sh; `bench` adds what the benchmarks need).
# Nothing with TARNIX_PREPARED=1: a script run by another that has installed and built already
# (the test command runs the release, fuzz and demo scripts so) takes the machine as it is.
tarnix_install_deps() {
  [ "${TARNIX_PREPARED:-0}" = 1 ] && return 0
  bash "$TARNIX_ROOT/tools/install-deps.sh" "$@"
}

# Configures and builds both architectures into $TARNIX_BUILD: every target and then the local
# service, or only the given targets (and what they need). Nothing with TARNIX_PREPARED=1.
tarnix_build() {
  local arch what=
  [ "${TARNIX_PREPARED:-0}" = 1 ] && return 0
  [ $# -gt 0 ] && what=" ($*)"
  for arch in i686 x86_64; do
    tarnix_configure "$arch" || { echo "configuring $arch failed" >&2; return 1; }
    tarnix_log "building $arch$what"
    cmake --build "$TARNIX_BUILD/$arch" ${1:+--target "$@"} -j "$(nproc)" -- --no-print-directory |
      grep -vE '^\[ *[0-9]+%\]' || true
    [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "build of $arch failed" >&2; return 1; }
  done
  [ $# -gt 0 ] || tarnix_build_service
}

# The local online-tree service (service/) is a native Linux program: the system g++, no mingw.
tarnix_build_service() {
  if [ ! -f "$TARNIX_BUILD/service/CMakeCache.txt" ]; then
    tarnix_log "configuring service"
    cmake -S "$TARNIX_ROOT/service" -B "$TARNIX_BUILD/service" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  tarnix_log "building service"
  cmake --build "$TARNIX_BUILD/service" -j 2 -- --no-print-directory | grep -vE '^\[ *[0-9]+%\]' || true
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "build of the service failed" >&2; return 1; }
}

# The project's version, set once in CMakeLists.txt, and the release folder that
# tools/make-release.sh makes of it (its zip beside it, with .zip added).
tarnix_version() {
  sed -n 's/^project(tarnix VERSION \([0-9.]*\).*/\1/p' "$TARNIX_ROOT/CMakeLists.txt"
}
tarnix_release_dir() {
  local version
  version=$(tarnix_version)
  [ -n "$version" ] || { echo "no project version in CMakeLists.txt" >&2; return 1; }
  echo "$TARNIX_BUILD/release/tarnix-$version"
}

# The local online-tree service of $TARNIX_BUILD/service on a free port, with the data folder
# $1/data (and the options after $1), its first line in $1/service.out and its log in
# $1/service.log. Ready when this returns: the service prints "listening on 127.0.0.1:PORT" once
# it accepts connections, and TARNIX_SERVICE_ADDRESS then holds that address. Fails, showing its
# log, when it ends or has not said so within 10 s. One at a time; tarnix_stop_service stops it
# by its process id (it does not fork).
TARNIX_SERVICE_PID=
TARNIX_SERVICE_ADDRESS=
tarnix_start_service() {
  local work=$1
  shift
  mkdir -p "$work/data"
  "$TARNIX_BUILD/service/tarnix-service" --port 0 --data "$work/data" "$@" \
    </dev/null >"$work/service.out" 2>"$work/service.log" &
  TARNIX_SERVICE_PID=$!
  TARNIX_SERVICE_ADDRESS=
  for _ in $(seq 100); do
    # A whole first line, or nothing yet.
    if [ "$(wc -l <"$work/service.out")" -ge 1 ]; then
      TARNIX_SERVICE_ADDRESS=$(sed -n '1s/^listening on \([0-9.]*:[0-9]*\)$/\1/p' "$work/service.out")
      break
    fi
    kill -0 "$TARNIX_SERVICE_PID" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$TARNIX_SERVICE_ADDRESS" ] && return 0
  echo "the local service did not start:" >&2
  cat "$work/service.out" "$work/service.log" >&2
  tarnix_stop_service
  return 1
}

tarnix_stop_service() {
  [ -n "$TARNIX_SERVICE_PID" ] || return 0
  kill "$TARNIX_SERVICE_PID" 2>/dev/null || true
  wait "$TARNIX_SERVICE_PID" 2>/dev/null || true
  TARNIX_SERVICE_PID=
  TARNIX_SERVICE_ADDRESS=
}

# Points wine at the prefix of one build: i686 (a 32-bit prefix) or x86_64.
tarnix_use_wine() {
  export WINEPREFIX=$TARNIX_BUILD/$1/wineprefix
  if [ "$1" = i686 ]; then export WINEARCH=win32; else export WINEARCH=win64; fi
}

tarnix_start_display() {
  [ -n "$TARNIX_XVFB_PID" ] && return 0
  local displayfile
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" </dev/null >/dev/null 2>&1 &
  TARNIX_XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
  [ -s "$displayfile" ] || { rm -f "$displayfile"; echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=:$(head -n1 "$displayfile")
  rm -f "$displayfile"
}

# Starts the display (once) and a warm wineserver on the prefix of build $1 (i686 or x86_64),
# making or updating the prefix, and leaves wine pointed at it. Fails when Windows programs of
# that architecture do not run there.
tarnix_start_wine() {
  local arch=$1 made probe
  tarnix_start_display || return 1
  tarnix_use_wine "$arch"
  export WINEDEBUG=${WINEDEBUG:--all}
  # No Mono or Gecko: nothing here needs them, and their installers would wait for a click.
  # No debugger either: a crashing program must end at once. (Wine starts winedbg even without
  # an AeDebug entry, and with the 32-bit Wine installed winedbg waits for ever.)
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  # Wine's WinINet also honours these: keep the tests' own proxy setting in charge.
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY

  # A prefix made before the 32-bit Wine arrived fails every program once it is there: the
  # prefix records which Wine made it, and is made again when that changed.
  made="without wine32"
  [ -x "$TARNIX_WINE32_LOADER" ] && made="with wine32"
  if [ -d "$WINEPREFIX" ] && [ "$(cat "$WINEPREFIX/tarnix-made" 2>/dev/null)" != "$made" ]; then
    tarnix_log "the $arch Wine prefix was not made $made: making it again"
    tarnix_stop_wineserver "$WINEPREFIX" || return 1
    rm -rf "$WINEPREFIX"
  fi
  [ -f "$WINEPREFIX/system.reg" ] || tarnix_log "making the $arch Wine prefix"
  mkdir -p "$WINEPREFIX"

  tarnix_start_wineserver || return 1
  wine wineboot --init </dev/null >/dev/null 2>&1 || return 1
  # Let Wine draw captions and frames itself: Xvfb has no window manager.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1 || return 1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f </dev/null >/dev/null 2>&1 || return 1
  # Wine's own fonts (Debian's fonts-wine), where this Wine looks for a program's fonts: without
  # them the dialogs' close boxes (Marlett) are drawn as letters.
  cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  # Direct connections to begin with: a test that set the proxy and then crashed leaves it in
  # the prefix, pointing at a server long gone (the tests set their own; the demonstration and
  # the benchmarks connect directly).
  wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' /v ProxyEnable /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1 || return 1

  # A program must run and say so: a Wine that lacks the prefix's side may end a program at
  # once with status 0 and no word.
  probe=$WINEPREFIX/tarnix-probe.txt
  rm -f "$probe"
  wine cmd.exe /c echo tarnix </dev/null >"$probe" 2>/dev/null || true
  [ "$(tr -d '\r' <"$probe" 2>/dev/null)" = tarnix ] || return 1
  echo "$made" >"$WINEPREFIX/tarnix-made"
}

# Starts a persistent wineserver for $WINEPREFIX, ready when this returns: wineserver binds and
# listens on its socket, then forks into the background, and the command returns once the child
# holds the socket (measured with Wine 8.0: 15-50 ms, the server a child of init, so `$!` of a
# backgrounded call is never its id; a second start on the same prefix returns 2). With a file,
# the server traces every request into it (-d1). Its output goes to /dev/null or the trace, never
# to our pipes: Wine's processes must not inherit them, or whoever reads them waits forever.
tarnix_start_wineserver() {
  local trace=${1:-/dev/null} debug= status=0 prefix
  [ -n "${1:-}" ] && debug=-d1
  mkdir -p "$WINEPREFIX"
  prefix=$(cd "$WINEPREFIX" && pwd)
  wineserver -p $debug </dev/null >/dev/null 2>"$trace" || status=$?
  if [ "$status" -eq 2 ]; then
    # A server of this build's prefix outlived an earlier run: ours from now on.
    tarnix_log "a wineserver already serves $prefix: stopping it"
    tarnix_stop_wineserver "$prefix" || return 1
    status=0
    wineserver -p $debug </dev/null >/dev/null 2>"$trace" || status=$?
  fi
  [ "$status" -eq 0 ] || { echo "wineserver did not start for $prefix (status $status)" >&2; return 1; }
  [[ " ${TARNIX_WINE_PREFIXES[*]} " == *" $prefix "* ]] || TARNIX_WINE_PREFIXES+=("$prefix")
}

# Stops the wineserver of prefix $1, and with it every Wine process of that prefix, and returns
# once it is gone. `wineserver -k` interrupts the server and waits until it lets go of its lock,
# killing it outright when it holds on for some 10 s (here it is gone in about 0.8 s);
# `wineserver -w` then returns once the lock is free, at once when no server runs. Bounded, for a
# server that does not let go.
tarnix_stop_wineserver() {
  WINEPREFIX=$1 wineserver -k </dev/null >/dev/null 2>&1 || true
  WINEPREFIX=$1 timeout 20 wineserver -w </dev/null >/dev/null 2>&1 ||
    { echo "the wineserver of $1 did not stop" >&2; return 1; }
}

tarnix_stop_wine() {
  local prefix status=0
  for prefix in "${TARNIX_WINE_PREFIXES[@]}"; do
    tarnix_stop_wineserver "$prefix" || status=1
  done
  TARNIX_WINE_PREFIXES=()
  if [ -n "$TARNIX_XVFB_PID" ]; then
    kill "$TARNIX_XVFB_PID" 2>/dev/null || true
    wait "$TARNIX_XVFB_PID" 2>/dev/null || true
  fi
  TARNIX_XVFB_PID=
  return $status
}
