#!/usr/bin/env bash
# Fuzzes one target for a while from its kept corpus and seeds, then merges what it found
# into fuzz/corpus/<target> (-merge=1 adds only the inputs that add coverage to it).
#   fuzz/grow_corpus.sh BUILD_DIR TARGET SECONDS
# Run it at low priority, e.g. `nice -n 19 fuzz/grow_corpus.sh build-fuzz fuzz_program 3600`.
# Every run adds a line to fuzz/runs.tsv, the ledger of inputs run per target over time.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1 name=$2 seconds=$3 status=0
fuzzer=$(echo "$build"/fuzz/*/"$name")
kept=fuzz/corpus/$name
scratch=$(mktemp -d "${TMPDIR:-/tmp}/corpus-$name-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$kept" "$scratch/run"
cp -r "$kept"/. "$scratch/run/" 2>/dev/null || true
[ -d "fuzz/seeds/$name" ] && cp -r "fuzz/seeds/$name"/. "$scratch/run/"
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$build/$name-" "$scratch/run" \
  >"$build/$name.grow.log" 2>&1 || { tail -40 "$build/$name.grow.log"; status=1; }
"$fuzzer" -merge=1 "$kept" "$scratch/run" >"$build/$name.merge.log" 2>&1
runs=$(grep -oE 'number_of_executed_units: [0-9]+' "$build/$name.grow.log" | tail -1 | grep -oE '[0-9]+$')
sanitizers=$(grep -oE '^FLOPPYSET_FUZZ_SANITIZERS:STRING=.*' "$build/CMakeCache.txt" | cut -d= -f2)
grep -q '^CMAKE_CXX_FLAGS:STRING=.*-fno-sanitize-coverage=trace-cmp' "$build/CMakeCache.txt" &&
  sanitizers="${sanitizers:-address,undefined}, no trace-cmp"
printf '%s\t%s\t%s\t%s\t%s\n' "$(date -u +%F)" "$name" "${runs:-0}" "$seconds" \
  "${sanitizers:-address,undefined}" >>fuzz/runs.tsv
echo "$name: $(ls "$kept" | wc -l) inputs kept; ${runs:-0} inputs run"
exit $status
