#!/usr/bin/env bash
# Makes the release folder of tarnix, build/release/tarnix-<version>/, and its zip beside it:
#   include/            tarnix.h and tarnix_version.h
#   x86/ and x64/       bin/tarnix.dll (stripped) with tarnix.pdb (its symbols for Windows
#                       debuggers, named in the DLL's debug directory) and tarnix.dll.debug
#                       (its DWARF, found by gdb through the DLL's .gnu_debuglink),
#                       bin/tarnix.exe (the command-line host) with tarnix.exe.pdb,
#                       lib/tarnix.lib (import library for MSVC-style linkers) and
#                       lib/libtarnix.dll.a (for MinGW)
#   cmake/              the package: find_package(tarnix) gives tarnix::tarnix, tarnix::x86, ::x64
#   docs/html/          API documentation generated from the header
#   examples/           short C and C++ hosts
#   README.md, CHANGELOG.md
# The version is the build's project version; the changelog's top entry must name it. The folder
# is tarnix_release_dir of tools/common.sh, where callers find it. It is made of the builds in
# $TARNIX_BUILD, which this installs and builds first unless TARNIX_PREPARED=1 says the caller
# has (the test command does).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

tarnix_install_deps
tarnix_build

release=$(tarnix_release_dir)
version=$(tarnix_version)
top=$(sed -n 's/^## \([0-9][0-9.]*\).*/\1/p' "$TARNIX_ROOT/CHANGELOG.md" | head -n1)
[ "$top" = "$version" ] || { echo "CHANGELOG.md's top entry is '$top', the project version is $version" >&2; exit 1; }
header_version=$(sed -n 's/^#define TARNIX_VERSION_STRING "\(.*\)"/\1/p' "$TARNIX_BUILD/x86_64/include/tarnix_version.h")
[ "$header_version" = "$version" ] || { echo "the built header says $header_version, not $version" >&2; exit 1; }

name=${release##*/}
rm -rf "$release" "$release.zip"
mkdir -p "$release/include" "$release/cmake" "$release/examples"
tarnix_log "making $name"

for arch in i686 x86_64; do
  triple=$arch-w64-mingw32
  if [ "$arch" = i686 ]; then dir=x86 machine=i386 kill=-k; else dir=x64 machine=i386:x86-64 kill=; fi
  build=$TARNIX_BUILD/$arch
  mkdir -p "$release/$dir/bin" "$release/$dir/lib"
  # The debug information goes beside the DLL; the DLL keeps only references to it by name:
  # the PDB's in its debug directory (with the PDB's GUID and age, which stripping keeps), the
  # DWARF file's in its .gnu_debuglink. A build made without debug information (e.g.
  # configured by hand as Release) has none to ship.
  "$triple-objdump" -h "$build/bin/tarnix.dll" | grep -q '\.debug_info' ||
    { echo "$build/bin/tarnix.dll has no debug information: build with RelWithDebInfo" >&2; exit 1; }
  cp "$build/bin/tarnix.pdb" "$build/bin/tarnix.exe.pdb" "$release/$dir/bin/"
  "$triple-objcopy" --only-keep-debug "$build/bin/tarnix.dll" "$release/$dir/bin/tarnix.dll.debug"
  (cd "$release/$dir/bin" &&
     "$triple-objcopy" --strip-debug --strip-unneeded --add-gnu-debuglink=tarnix.dll.debug \
       "$build/bin/tarnix.dll" tarnix.dll)
  "$triple-strip" -o "$release/$dir/bin/tarnix.exe" "$build/bin/tarnix.exe"
  cp "$build/lib/libtarnix.dll.a" "$release/$dir/lib/"
  # For MSVC-style linkers: llvm-dlltool's members carry the SAFESEH marks that lld-link and
  # link.exe require by default on x86 (GNU dlltool's do not). x86 names keep their @N for
  # __stdcall callers and import the plain names the DLL exports.
  def=$TARNIX_ROOT/src/tarnix.def
  [ "$arch" = x86_64 ] && def=$build/generated/tarnix.def
  llvm-dlltool-14 -m "$machine" -d "$def" -l "$release/$dir/lib/tarnix.lib" $kill
done

cp "$TARNIX_ROOT/include/tarnix.h" "$TARNIX_BUILD/x86_64/include/tarnix_version.h" "$release/include/"
cp "$TARNIX_ROOT/tools/release/tarnix-config.cmake" "$release/cmake/"
sed "s/@VERSION@/$version/" "$TARNIX_ROOT/tools/release/tarnix-config-version.cmake.in" \
  >"$release/cmake/tarnix-config-version.cmake"
cp "$TARNIX_ROOT"/docs/examples/* "$release/examples/"
cp "$TARNIX_ROOT/README.md" "$TARNIX_ROOT/CHANGELOG.md" "$release/"

tarnix_log "API documentation"
TARNIX_DOCS_OUT=$release/docs TARNIX_DOCS_INPUT=$release/include \
  TARNIX_DOCS_EXAMPLES=$TARNIX_ROOT/docs/examples \
  doxygen "$TARNIX_ROOT/docs/Doxyfile"

(cd "${release%/*}" && rm -f "$name.zip" && zip -qr "$name.zip" "$name")
tarnix_log "release: $release and $release.zip"
