#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, as root. Idempotent: packages already
# present are not fetched again, and apt is not touched at all when nothing is missing.
set -euo pipefail

packages=(
  cmake make
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64
  wine wine64
  xvfb xauth x11-utils
  googletest
  # the local online-tree service, a native Linux program, and its tests
  g++ pkg-config libcpp-httplib-dev libsqlite3-dev libssl-dev libgtest-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: must run as root to install packages" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
# No recommends: they would pull in the 32-bit wine, which cannot run on these machines.
apt-get install -y -q --no-install-recommends "${missing[@]}"
