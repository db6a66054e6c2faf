#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, as root. Idempotent: packages already
# present are not fetched again, and apt is not touched at all when nothing is missing.
# The 32-bit Wine comes too, but only where the kernel runs 32-bit programs (and TARNIX_NO_X86
# is not set): it needs the i386 architecture, and elsewhere it could not start.
# `install-deps.sh bench` adds what the benchmarks need (nginx, run by them on a private
# configuration, the package's own service not used; curl, the native reference).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

packages=(
  cmake make
  # the Windows builds: clang and lld (which writes the PDBs; llvm-14 reads them for the release
  # check) against mingw-w64's headers and the posix-threaded libstdc++ and libgcc of its gcc;
  # mingw-w64's binutils for the resources, the MinGW import library and the debug file
  clang-14 lld-14 llvm-14
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64
  wine wine64 fonts-wine
  xvfb xauth x11-utils
  googletest
  # the local online-tree service, a native Linux program, and its tests
  g++ pkg-config libcpp-httplib-dev libsqlite3-dev libssl-dev libgtest-dev zlib1g-dev
  # the release: API documentation, its zip
  doxygen zip
  # the fuzz targets of the pure text routines: libFuzzer and the sanitizers' run-time libraries
  # (libclang-rt-14-dev holds libclang_rt.fuzzer, asan and ubsan)
  libclang-rt-14-dev
)
if [ "${1:-}" = bench ]; then
  packages+=(nginx curl)
fi
if [ "${TARNIX_NO_X86:-0}" = 0 ] && tarnix_kernel_runs_x86; then
  packages+=(wine32:i386)
fi

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: must run as root to $1" >&2
    exit 1
  fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  need_root "install packages"
  export DEBIAN_FRONTEND=noninteractive
  if [[ " ${missing[*]} " == *:i386\ * ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -q
  # No recommends: nothing here needs them, and wine's would pull in the 32-bit Wine everywhere.
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The 32-bit Wine's user32 and wininet load zlib1.dll, which its package copies from mingw's
# zlib as it installs; where that copy is missing, mingw's own zlib1.dll serves.
wine32_zlib=/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
if [ -x "$TARNIX_WINE32_LOADER" ] && [ -d "${wine32_zlib%/*}" ] && [ ! -e "$wine32_zlib" ]; then
  echo "install-deps: adding mingw's zlib1.dll to the 32-bit Wine"
  need_root "add zlib1.dll to the 32-bit Wine"
  install -m 644 /usr/i686-w64-mingw32/lib/zlib1.dll "$wine32_zlib"
fi
