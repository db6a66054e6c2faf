#!/usr/bin/env bash
# The main job: builds everything, starts the local online-tree service with its seed data,
# points the library at it (TARNIX_SERVICE), and runs a scripted session of the `tarnix`
# command-line host through the library's operations, printing each command and what came back.
# The session runs on the x86 build (the one the genealogy application loads) where this
# machine runs 32-bit programs, else on x64. The service is stopped at the end.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tarnix_install_deps
tarnix_build

work=$(mktemp -d)
stop_all() {
  tarnix_stop_service
  tarnix_stop_wine || true
  rm -rf "$work"
}
trap stop_all EXIT

arch=x86_64
if [ -z "$(tarnix_x86_obstacle)" ] && tarnix_start_wine i686 2>/dev/null; then
  arch=i686
else
  tarnix_start_wine x86_64 || { echo "Wine does not run 64-bit programs in $WINEPREFIX" >&2; exit 1; }
fi
bin=$TARNIX_BUILD/$arch/bin

tarnix_log "starting the local online-tree service (native, seeded)"
mkdir -p "$work/data/files"
printf 'A page of the Haverfield parish register, transcribed.\r\n%.0s' $(seq 40000) >"$work/data/files/register.txt"
tarnix_start_service "$work" \
  --seed "$TARNIX_ROOT/service/seed/haverfield.ged" --records "$TARNIX_ROOT/service/seed/records" \
  --exe-version 7.2.16 --webctl-version 3.1.0 --tarnix-version 1.0.0
address=$TARNIX_SERVICE_ADDRESS
export TARNIX_SERVICE=$address
echo "service at $address (TARNIX_SERVICE), demo user demo / demo-pass; library: $arch build"

# Runs the command-line host, showing the command line first.
tarnix() {
  printf '\n$ tarnix %s\n' "$*"
  (cd "$bin" && wine tarnix.exe "$@" </dev/null)
}

tarnix_log "a scripted session of the command-line host"
tarnix connect || true
printf '\n$ tarnix login demo ********\n'
TARNIX_TICKET=$(cd "$bin" && wine tarnix.exe login demo demo-pass </dev/null | tr -d '\r')
export TARNIX_TICKET
echo "(a ticket of ${#TARNIX_TICKET} characters, kept in the environment only)"
tarnix sites
tarnix trees

# A tree made from a GEDCOM file, exported, downloaded back and compared.
gedcom=$work/haverfield-upload.ged
cp "$TARNIX_ROOT/service/seed/haverfield.ged" "$gedcom"
gedcom_win=$(winepath -w "$gedcom" 2>/dev/null)
tarnix create "$gedcom_win" --site 4102 --name "Haverfield (uploaded)" --world-tree
tarnix trees
tree=$(cd "$bin" && wine tarnix.exe trees </dev/null | tr -d '\r' |
       sed -n 's/.*CollectionID="\([^"]*\)" OFTName="Haverfield (uploaded)".*/\1/p' | head -n1)
[ -n "$tree" ] || { echo "the new tree is not listed" >&2; exit 1; }
# The tree replaced by a second version of the file, one note longer.
replacement=$work/haverfield-replacement.ged
sed 's/^0 TRLR/0 @N900@ NOTE Replaced by the demonstration\r\n0 TRLR/' "$gedcom" >"$replacement"
tarnix replace "$(winepath -w "$replacement" 2>/dev/null)" --tree "$tree"
gedcom=$replacement
tarnix export --tree "$tree"
downloaded=$work/downloaded.ged
tarnix download-tree --tree "$tree" --out "$(winepath -w "$downloaded" 2>/dev/null)"
if cmp -s "$gedcom" "$downloaded"; then
  echo "(the downloaded GEDCOM file is byte for byte the replacement uploaded)"
else
  echo "the downloaded GEDCOM file differs from the uploaded one" >&2
  exit 1
fi

# The library's dialogs against the service, from the host's dialog commands under the display,
# each bounded in time. tarnix_dialog_user plays the user of the tree browser: it must offer the
# user's sites, and saving under the name of an existing tree (Enter in the name box, then Yes to
# replacing it) must return that tree. Then the tree downloaded again under the download dialog,
# which closes itself once the file is whole.
tarnix_dialog() {
  printf '\n$ tarnix %s\n' "$*"
  (cd "$bin" && timeout 120 wine tarnix.exe "$@" </dev/null | tr -d '\r')
}
printf '\n$ tarnix dialog-save\n'
echo "(the user: the site \"The Haverfield family\", the name \"Haverfield family tree\", Enter, Yes)"
(cd "$bin" && exec timeout 120 wine tarnix.exe dialog-save </dev/null >"$work/dialog-save.out" 2>&1) &
dialog_pid=$!
user_status=0
(cd "$bin" && timeout 120 wine tarnix_dialog_user.exe replace "The Haverfield family" "Haverfield family tree" \
  </dev/null | tr -d '\r') || user_status=$?
dialog_status=0
wait "$dialog_pid" || dialog_status=$?
tr -d '\r' <"$work/dialog-save.out"
for line in 'returned: 1' 'SiteID: 4101' 'CollectionID: 77001' 'OFTName: Haverfield family tree' 'Permission: ADMN'; do
  if [ "$user_status" != 0 ] || [ "$dialog_status" != 0 ] || ! tr -d '\r' <"$work/dialog-save.out" | grep -qxF "$line"; then
    echo "the tree browser did not return the tree the user confirmed (no \"$line\")" >&2
    exit 1
  fi
done
dialog_downloaded=$work/dialog-downloaded.ged
tarnix_dialog dialog-download-tree --tree "$tree" --name "Haverfield (uploaded)" \
  --out "$(winepath -w "$dialog_downloaded" 2>/dev/null)"
if cmp -s "$gedcom" "$dialog_downloaded"; then
  echo "(the download dialog's file is byte for byte the replacement uploaded)"
else
  echo "the file downloaded under the dialog differs from the uploaded one" >&2
  exit 1
fi

# Search counts, the version check and the silent update check, then a web file with progress.
tarnix search-trees --surname Haverfield
tarnix search-data --surname Haverfield --birth-place Bristol
tarnix version 7.2.15 3.1.0 1.0.0
tarnix update-check 7.2.15 3.1.0 1.0.0 --company "Tarnix Demo" --product "Family Tree"
tarnix get "$address" /files/register.txt --out "$(winepath -w "$work/register.txt" 2>/dev/null)"
if cmp -s "$work/data/files/register.txt" "$work/register.txt"; then
  echo "(the web file arrived whole)"
else
  echo "the web file differs from the one the service holds" >&2
  exit 1
fi

# Addresses for the host's browser, and what a failure looks like.
tarnix address search-trees --surname Haverfield --birth-year 1851 --method 1
tarnix encode "Mary Ann O'Brien & co"
printf '\n$ tarnix login demo wrong-password\n'
(cd "$bin" && wine tarnix.exe login demo wrong-password </dev/null) && exit 1 || echo "(refused, as it should be)"
tarnix get "$address" /files/no-such-file.txt || echo "(an error status is never handed over as the file)"

tarnix_log "the service's log (one line per request, no secrets)"
cat "$work/service.log"
