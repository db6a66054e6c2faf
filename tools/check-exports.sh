#!/usr/bin/env bash
# Checks a built tarnix.dll against the expected export list:
#   - the DLL's export table holds exactly the expected names, each plain (no _ prefix, no @N);
#   - its version information names tarnix.dll and the build's version, and its five dialogs
#     are in English (US) alone: what installers and support staff read;
#   - on x86 the import library carries each name with its calling convention's decoration
#     (_Name@N for __stdcall, _Name for __cdecl), so hosts built against tarnix.h link.
# Usage: check-exports.sh <dll> <import library> <expected list> <i686|x86_64> <version>
set -euo pipefail
dll=$1 implib=$2 expected=$3 arch=$4 version=$5
triple=$arch-w64-mingw32
fail=0

want_names=$(grep -v '^\s*#' "$expected" | awk 'NF { print $1 }' | sort)
have_names=$("$triple-objdump" -p "$dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\(.*\)$/\1/p' | sort)

if [ "$want_names" != "$have_names" ]; then
  echo "export table differs from $expected (< expected, > in $dll):"
  diff <(echo "$want_names") <(echo "$have_names") || true
  fail=1
fi

if [ "$arch" = i686 ]; then
  symbols=$("$triple-nm" "$implib" 2>/dev/null | awk '{ print $NF }' | sort -u)
  while read -r name convention; do
    case "$convention" in
      stdcall@*) symbol="__imp__${name}@${convention#stdcall@}" ;;
      cdecl) symbol="__imp__${name}" ;;
      *) echo "unknown convention '$convention' for $name"; fail=1; continue ;;
    esac
    if ! grep -qxF "$symbol" <<<"$symbols"; then
      echo "import library lacks $symbol ($name is $convention)"
      fail=1
    fi
  done < <(grep -v '^\s*#' "$expected" | awk 'NF')
fi

info=$("$triple-strings" -el "$dll" | grep -A1 -xE 'OriginalFilename|FileVersion|ProductVersion' | grep -vx -- -- | paste -sd' ')
if [ "$info" != "FileVersion $version OriginalFilename tarnix.dll ProductVersion $version" ]; then
  echo "version information of $dll reads: ${info:-nothing}"
  fail=1
fi
dialogs=$(llvm-readobj-14 --coff-resources "$dll" |
  awk '/^  Type: / { dialog = /DIALOG/ } dialog && /Name: \(ID/ { name = $3 } dialog && /Language: \(ID/ { print name "=" $3 }' |
  tr -d ')' | paste -sd' ')
if [ "$dialogs" != "101=1033 102=1033 103=1033 104=1033 105=1033" ]; then
  echo "dialogs and their languages in $dll: ${dialogs:-none}"
  fail=1
fi

count=$(echo "$want_names" | grep -c . || true)
if [ $fail -eq 0 ]; then
  echo "exports of $(basename "$dll") ($arch): $count names, all as expected"
fi
exit $fail
