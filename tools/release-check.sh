# Checks a release folder as a host team would use it. Source it, with Wine started for the
# builds that can run (tools/common.sh), and call tarnix_check_release RELEASE_DIR RUN_X86, RUN_X86
# being yes where the x86 build's programs can run here (its Wine prefix started), else no.
#   - the C and C++ example hosts, built against the release folder alone through its CMake
#     package, link for x86 and x64; they run (under Wine, against the local online-tree
#     service) for x64, and for x86 where this machine runs 32-bit programs;
#   - a host built the way MSVC-style toolchains build (clang for i686-pc-windows-msvc, lld-link
#     with its default safe exception handler checks) links against tarnix.lib, and runs where
#     x86 runs.

tarnix_check_release() {
  local release status=0 arch dir out service_pid= work address run_x86
  release=$(cd "$1" && pwd)
  run_x86=${2:-no}
  work=$(mktemp -d)

  "$TARNIX_BUILD/service/tarnix-service" --port 0 --data "$work/data" \
    --seed "$TARNIX_ROOT/service/seed/haverfield.ged" >"$work/service.out" 2>"$work/service.log" &
  service_pid=$!
  mkdir -p "$work/data/files"
  head -c 300000 /dev/zero | tr '\0' 'g' >"$work/data/files/sample.bin"
  for _ in $(seq 100); do grep -q 'listening on' "$work/service.out" 2>/dev/null && break; sleep 0.1; done
  address=$(sed -n 's/^listening on \([0-9.:]*\).*/\1/p' "$work/service.out" | head -n1)

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
      wine sign_in_and_list_trees.exe demo demo-pass </dev/null | tr -d '\r' | grep -q 'OFTName="Haverfield family tree"' &&
        wine download_with_progress.exe "$address" /files/sample.bin </dev/null | tr -d '\r' |
          grep -qx 'downloaded 300000 bytes'
    ) && echo "release: example hosts ran for $dir against the local service" ||
      { echo "release: the example hosts failed for $dir"; status=1; }
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
      (tarnix_use_wine i686 && cd "$out" && wine host.exe </dev/null) &&
        echo "release: the MSVC-style host ran" || { echo "release: the MSVC-style host failed"; status=1; }
    fi
  else
    echo "release: tarnix.lib does not link with lld-link"
    status=1
  fi

  kill "$service_pid" 2>/dev/null || true
  wait "$service_pid" 2>/dev/null || true
  rm -rf "$work"
  return $status
}
