#!/usr/bin/env bash
# Builds floppyset and shows it at work on the demo set that comes with the sources:
# lists the set, unpacks it into ./demo-out and writes its floppies as image files.
# Environment: BUILD_DIR (default: build), JOBS (parallel build jobs).
set -euo pipefail
cd "$(dirname "$0")"
build=${BUILD_DIR:-build}
jobs=${JOBS:-$(nproc)}
out=demo-out

say() { printf '\n\033[1m%s\033[0m\n' "$*"; }
show() { printf '  $ %s\n' "$*"; }

say "Building floppyset (cmake + ninja) ..."
scripts/install-deps.sh build
log=$(mktemp)
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLOPPYSET_TESTS=OFF \
         -DFLOPPYSET_BENCH=OFF &&
       cmake --build "$build" -j "$jobs" --target floppyset mkfloppyset demo; } >"$log" 2>&1; then
  tail -40 "$log"; rm -f "$log"
  echo "run.sh: the build failed (full log above)" >&2
  exit 1
fi
rm -f "$log"
floppyset=$build/floppyset
demo=$build/demo/demo.exe
echo "  built $floppyset and the demo set $demo"

say "1. What is in the set"
show "floppyset $demo /P /L"
"$floppyset" "$demo" /P /L

say "2. Unpacking it into ./$out"
rm -rf "$out"
show "floppyset $demo /D --dest=$out --yes"
"$floppyset" "$demo" /D --dest="$out" --yes
(cd "$out" && find . -type f | sort | sed 's|^\./|  |')

say "3. Writing the floppies as 1.44 MB image files into ./$out/floppies"
show "floppyset $demo /F --drive=$out/floppies --yes"
"$floppyset" "$demo" /F --drive="$out/floppies" --yes
ls -l "$out/floppies" | sed -n '2,$s/^/  /p'

say "Done."
cat <<MSG
  Unpacked files:   ./$out/disk1 ./$out/disk2 ./$out/disk3 (start with disk1/README.TXT)
  Floppy images:    ./$out/floppies/disk1.img ... (mount, mdir -i, or write them with dd)
  Try also:         $floppyset --help     (or: man -l docs/man/floppyset.1)
                    $floppyset $demo --json   (the reports for scripts)
                    FLOPPYSET_RUNNER=sh $floppyset $demo /E   (autostart the demo installer)
MSG
