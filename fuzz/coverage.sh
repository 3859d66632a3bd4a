#!/usr/bin/env bash
# Line coverage of codec/, image/ and package/ by the kept corpora: a coverage build of the
# fuzz targets runs each corpus once, then llvm-cov reports per target and for all together.
#   fuzz/coverage.sh [BUILD_DIR]   (default build-cov, configured here when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-cov}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLOPPYSET_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    "-DCMAKE_CXX_FLAGS=-fprofile-instr-generate -fcoverage-mapping" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fprofile-instr-generate" >/dev/null
fi
targets=$(grep -ho 'floppyset_add_fuzzer(fuzz_[a-z0-9_]*' fuzz/*/CMakeLists.txt | cut -d'(' -f2)
cmake --build "$build" -j "${JOBS:-2}" --target $targets
profiles=$build/profiles
rm -rf "$profiles" && mkdir -p "$profiles"
objects=()
for fuzzer in "$build"/fuzz/*/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  inputs=()
  for dir in "fuzz/corpus/$name" "fuzz/seeds/$name"; do
    [ -d "$dir" ] && [ -n "$(ls -A "$dir")" ] && inputs+=("$dir")
  done
  [ ${#inputs[@]} -gt 0 ] || continue
  LLVM_PROFILE_FILE=$profiles/$name.profraw ASAN_OPTIONS=detect_leaks=0 \
    "$fuzzer" -runs=0 -timeout=30 "${inputs[@]}" >"$profiles/$name.log" 2>&1
  llvm-profdata merge -sparse "$profiles/$name.profraw" -o "$profiles/$name.profdata"
  printf '%-18s %s\n' "$name" "$(llvm-cov report "$fuzzer" -instr-profile="$profiles/$name.profdata" \
    src/codec src/image src/package | awk '/^TOTAL/ {print "lines " $(NF-3) " of " $(NF-5)}')"
  objects+=(-object "$fuzzer")
done
llvm-profdata merge -sparse "$profiles"/*.profraw -o "$profiles/all.profdata"
llvm-cov report "${objects[@]:1}" -instr-profile="$profiles/all.profdata" \
  src/codec src/image src/package
for dir in codec image package; do
  printf 'all targets, %-8s %s\n' "$dir/" "$(llvm-cov report "${objects[@]:1}" \
    -instr-profile="$profiles/all.profdata" "src/$dir" | awk '/^TOTAL/ {print "lines " $(NF-3) " of " $(NF-5)}')"
done
echo "inputs run in total (fuzz/runs.tsv):"
awk -F'\t' '!/^#/ {n[$2] += $3} END {for (t in n) printf "  %-18s %d\n", t, n[t]}' fuzz/runs.tsv | sort
