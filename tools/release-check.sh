# Checks a release folder as a host team would use it. Source it, with Wine started for the
# builds that can run (tools/common.sh), and call tarnix_check_release RELEASE_DIR RUN_X86, RUN_X86
# being yes where the x86 build's programs can run here (its Wine prefix started), else no.
#   - the C and C++ example hosts, built against the release folder alone through its CMake
#     package, link for x86 and x64; they run (under Wine, against the local online-tree
#     service) for x64, and for x86 where this machine runs 32-bit programs;
#   - a host built the way MSVC-style toolchains build (clang for i686-pc-windows-msvc, lld-link
#     with its default safe exception handler checks) links against tarnix.lib, and runs where
#     x86 runs;
#   - each PDB is the one its binary names, with the binary's GUID and age, and a debugger
#     reading it finds every export of tarnix.dll, by its address, in its function and source
#     line (and tarnix.exe's main).
# It starts the local online-tree service for the example hosts (tarnix_start_service) and stops
# it before it returns; every program it runs under Wine is bounded in time.

# What a binary's debug directory names: "PDB-FILE-NAME {GUID} AGE", the GUID written as
# llvm-pdbutil writes a PDB's.
tarnix_pdb_reference() {
  llvm-readobj-14 --coff-debug-directory "$1" | tr -d '()' | awk '
    $1 == "PDBGUID:" { for (i = 2; i <= 17; i++) b[i - 2] = $i }
    $1 == "PDBAge:" { age = $2 }
    $1 == "PDBFileName:" { name = $2 }
    END {
      if (name == "") exit 1
      printf "%s {%s%s%s%s-%s%s-%s%s-%s%s-%s%s%s%s%s%s} %s\n", name, b[3], b[2], b[1], b[0],
        b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15], age
    }'
}

# "{GUID} AGE" of a PDB.
tarnix_pdb_identity() {
  llvm-pdbutil-14 dump -summary "$1" | awk '$1 == "GUID:" { g = $2 } $1 == "Age:" { a = $2 } END { print g, a }'
}

# tarnix_check_pdb DIR BINARY PDB: the binary in DIR names PDB (without a folder, so that a
# debugger looks beside the binary and on its symbol path) and PDB carries its GUID and age.
tarnix_check_pdb() {
  local reference identity
  reference=$(tarnix_pdb_reference "$1/$2") || { echo "$2 names no PDB"; return 1; }
  identity=$(tarnix_pdb_identity "$1/$3" 2>/dev/null)
  if [ "$reference" != "$3 $identity" ]; then
    echo "$2 names '$reference'; $3 is '$identity'"
    return 1
  fi
}

# tarnix_check_pdbs RELEASE_BIN: both PDBs match, every export of tarnix.dll symbolizes from
# tarnix.pdb to its own function in a source file of the library, and tarnix.exe.pdb holds main.
tarnix_check_pdbs() {
  local bin=$1 status=0 name rva place count=0 misses=0
  tarnix_check_pdb "$bin" tarnix.dll tarnix.pdb || status=1
  tarnix_check_pdb "$bin" tarnix.exe tarnix.exe.pdb || status=1
  while read -r name rva; do
    # The stripped DLL has no DWARF: what llvm-symbolizer finds, it reads from the PDB.
    place=$(cd "$bin" && llvm-symbolizer-14 --obj=tarnix.dll --relative-address "$rva" 2>&1 | sed -n 1,2p | paste -sd' ')
    if [[ "$place" =~ ^"$name "/.*/src/[^\ ]*\.cpp:[1-9][0-9]*: ]]; then
      count=$((count + 1))
    else
      misses=$((misses + 1))
      [ $misses -le 3 ] && echo "tarnix.pdb: the export $name at $rva reads as '$place'"
      status=1
    fi
  done < <(llvm-readobj-14 --coff-exports "$bin/tarnix.dll" | awk '$1 == "Name:" { n = $2 } $1 == "RVA:" && n != "" { print n, $2; n = "" }')
  [ $misses -le 3 ] || echo "tarnix.pdb: $((misses - 3)) more exports like these"
  [ $((count + misses)) -gt 0 ] || { echo "tarnix.dll: no exports read"; status=1; }
  # (grep reads to the end: an early exit would fail the pipe under pipefail.)
  llvm-pdbutil-14 dump -symbols "$bin/tarnix.exe.pdb" | grep 'S_GPROC32 .* `main`$' >/dev/null ||
    { echo "tarnix.exe.pdb holds no main"; status=1; }
  [ $status -eq 0 ] && echo "$(tarnix_pdb_identity "$bin/tarnix.pdb") $count"
  return $status
}

tarnix_check_release() {
  local release status=0 arch dir out work address run_x86 guid age count
  release=$(cd "$1" && pwd)
  run_x86=${2:-no}
  work=$(mktemp -d)

  mkdir -p "$work/data/files"
  head -c 300000 /dev/zero | tr '\0' 'g' >"$work/data/files/sample.bin"
  if ! tarnix_start_service "$work" --seed "$TARNIX_ROOT/service/seed/haverfield.ged" 2>&1; then
    echo "release: the local service did not start: the release is not checked"
    rm -rf "$work"
    return 1
  fi
  address=$TARNIX_SERVICE_ADDRESS

  for arch in x86_64 i686; do
    [ "$arch" = i686 ] && dir=x86 || dir=x64
    out=$TARNIX_BUILD/release-check/$arch
    rm -rf "$out"
    if ! cmake -S "$TARNIX_ROOT/tests/release" -B "$out" \
         -DCMAKE_TOOLCHAIN_FILE="$TARNIX_ROOT/cmake/toolchain-mingw-$arch.cmake" \
         -Dtarnix_DIR="$release/cmake" >"$work/configure.log" 2>&1 ||
       ! cmake --build "$out" >"$work/build.log" 2>&1; then
      echo "release: the example hosts do not build for $dir against the release folder:"
      cat "$work/configure.log" "$work/build.log" | tail -20
      status=1
      continue
    fi
    echo "release: example hosts built for $dir from the release folder alone"
    [ "$arch" = i686 ] && [ "$run_x86" = no ] && continue
    cp "$release/$dir/bin/tarnix.dll" "$out/"
    (
      tarnix_use_wine "$arch"
      export TARNIX_SERVICE=$address
      cd "$out"
      timeout 120 wine sign_in_and_list_trees.exe demo demo-pass </dev/null | tr -d '\r' | grep -q 'OFTName="Haverfield family tree"' &&
        timeout 120 wine download_with_progress.exe "$address" /files/sample.bin </dev/null | tr -d '\r' |
          grep -qx 'downloaded 300000 bytes'
    ) && echo "release: example hosts ran for $dir against the local service" ||
      { echo "release: the example hosts failed for $dir"; status=1; }
  done

  for dir in x86 x64; do
    if out=$(tarnix_check_pdbs "$release/$dir/bin"); then
      read -r guid age count <<<"$out"
      echo "release: $dir tarnix.pdb matches tarnix.dll (GUID $guid, age $age) and places its $count exports in their sources; tarnix.exe.pdb matches tarnix.exe"
    else
      echo "release: the $dir PDBs do not serve:"
      echo "$out"
      status=1
    fi
  done

  out=$TARNIX_BUILD/release-check/msvc-x86
  rm -rf "$out" && mkdir -p "$out"
  printf 'LIBRARY kernel32.dll\nEXPORTS\nExitProcess@4\n' >"$out/kernel32.def"
  if clang-14 --target=i686-pc-windows-msvc -O1 -c "$TARNIX_ROOT/tests/release/MsvcStyleHost.c" -o "$out/host.obj" &&
     llvm-dlltool-14 -m i386 -d "$out/kernel32.def" -l "$out/kernel32.lib" -k &&
     lld-link-14 /nologo /entry:Start /subsystem:console /nodefaultlib "/out:$out/host.exe" \
       "$out/host.obj" "$release/x86/lib/tarnix.lib" "$out/kernel32.lib"; then
    echo "release: tarnix.lib links for x86 with lld-link and its default safe exception handler checks"
    if [ "$run_x86" = yes ]; then
      cp "$release/x86/bin/tarnix.dll" "$out/"
      (tarnix_use_wine i686 && cd "$out" && timeout 120 wine host.exe </dev/null) &&
        echo "release: the MSVC-style host ran" || { echo "release: the MSVC-style host failed"; status=1; }
    fi
  else
    echo "release: tarnix.lib does not link with lld-link"
    status=1
  fi

  tarnix_stop_service
  rm -rf "$work"
  return $status
}
