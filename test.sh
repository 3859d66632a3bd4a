#!/usr/bin/env bash
# Installs what is missing, builds every configuration and passes every test:
#   build/        normal build (Release): unit and behaviour tests (ctest), the installed
#                 tree and the Debian package (tests/install/run.sh), then the Linux floppy
#                 drivers in a virtual machine (tests/vm, skipped where QEMU is missing)
#   build-asan/   the same tests under AddressSanitizer + UndefinedBehaviorSanitizer
#   build-fuzz/   libFuzzer targets (clang), each run for FUZZ_SECONDS
#   build-win64/  build-win32/   the Win32 program (MinGW-w64); the x86_64 one is tested under Wine
# Environment: JOBS (parallel jobs), FUZZ_SECONDS (default 20), SKIP_WIN32=1, SKIP_FUZZ=1.
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
jobs=${JOBS:-$(nproc)}
fuzz_seconds=${FUZZ_SECONDS:-20}

step() { printf '\n=== %s ===\n' "$*"; }

step "dependencies"
scripts/install-deps.sh

# Warnings are errors in every build made here (not in a user's build).
configure() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLOPPYSET_WERROR=ON "$@" >/dev/null
}

step "normal build (Release) and tests"
configure build -DCMAKE_BUILD_TYPE=Release -DFLOPPYSET_TESTS=ON -DFLOPPYSET_BENCH=ON
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure --timeout 300

step "installed tree, manual pages and Debian package"
tests/install/run.sh build

step "floppy drivers in a virtual machine"
python3 tests/vm/run.py build

step "sanitizer build and tests"
configure build-asan -DFLOPPYSET_SANITIZE=ON -DFLOPPYSET_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure --timeout 600

if [ "${SKIP_FUZZ:-0}" != 1 ]; then
  step "fuzz targets (${fuzz_seconds}s each)"
  configure build-fuzz -DFLOPPYSET_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
  cmake --build build-fuzz -j "$jobs"
  for fuzzer in build-fuzz/fuzz/*/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    # From the kept corpus (fuzz/corpus, grown by fuzz/grow_corpus.sh) and the seeds, in a
    # scratch copy: what a short run finds is not written back.
    corpus=build-fuzz/corpus/$name
    rm -rf "$corpus" && mkdir -p "$corpus"
    for kept in "fuzz/corpus/$name" "fuzz/seeds/$name"; do
      [ -d "$kept" ] && cp -r "$kept"/. "$corpus"/
    done
    echo "--- $name"
    "$fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
      -artifact_prefix="build-fuzz/$name-" "$corpus" 2>"build-fuzz/$name.log" ||
      { tail -50 "build-fuzz/$name.log"; exit 1; }
    grep -E '^Done|^#[0-9]+.*DONE' "build-fuzz/$name.log" | tail -1 || true
  done
fi

if [ "${SKIP_WIN32:-0}" != 1 ]; then
  step "Win32 builds (MinGW-w64)"
  for arch in x86_64 i686; do
    dir=build-win$([ $arch = x86_64 ] && echo 64 || echo 32)
    configure "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake" -DCMAKE_BUILD_TYPE=Release
    cmake --build "$dir" -j "$jobs"
  done
  rm -rf build-win64/installed
  DESTDIR=$root/build-win64/installed cmake --install build-win64 --prefix / >/dev/null
  [ -f build-win64/installed/bin/floppyset.exe ] && [ -f build-win64/installed/bin/mkfloppyset.exe ] ||
    { echo "the Win32 install lacks floppyset.exe or mkfloppyset.exe"; exit 1; }
  if [ -x tests/win32/run.sh ]; then
    step "Win32 program under Wine"
    tests/win32/run.sh build-win64 build
  fi
fi

step "all tests passed"
