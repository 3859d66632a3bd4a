#!/usr/bin/env bash
# Drives floppyset.exe under wine64 in a private Xvfb as a person would: starts sets made by
# mkfloppyset, reads window texts, presses keys; pictures go to BUILD-WIN64/artefacts.
# Usage: tests/win32/run.sh BUILD-WIN64 LINUX-BUILD [--screenshots DIR (the README's pictures)]
set -u
screenshots=
[ "${3:-}" = --screenshots ] && mkdir -p "${4:?--screenshots needs a directory}" && screenshots=$(cd "$4" && pwd)
here=$(cd "$(dirname "$0")" && pwd) && root=$(cd "$here/../.." && pwd)
win_build=$(cd "$1" && pwd) && linux_build=$(cd "$2" && pwd)
stub=$win_build/floppyset.exe work=$win_build/wine-tests artefacts=$win_build/artefacts
export LC_ALL=C TZ=UTC WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
export WINEPREFIX=$work/prefix
WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver
failures=0
check() {  # WHAT COMMAND...
  if "${@:2}"; then echo "ok:   $1 [${SECONDS}s]"; else
    echo "FAIL: $1 [${SECONDS}s]" && failures=$((failures + 1)) && return 1
  fi
}
for tool in "$stub" "$linux_build/mkfloppyset" "$WINE" Xvfb xdotool import x86_64-w64-mingw32-g++; do
  command -v "$tool" >/dev/null || { echo "missing $tool"; exit 1; }; done
rm -rf "$work" "$artefacts" && mkdir -p "$work" "$artefacts"

# --- display, prefix, helpers ---------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
trap '"$WINESERVER" -k >/dev/null 2>&1; kill $xvfb_pid; [ -n "${small:-}" ] && umount "$small" 2>/dev/null' EXIT
helper() {  # NAME SOURCES...: a small Windows program for the tests
  x86_64-w64-mingw32-g++ -std=c++20 -Os -s -static -I"$root/src" -I"$root/resources" -o "$work/$1.exe" "${@:2}"
}
# The installer is a GUI program as real ones are (a console one brings a console host
# along, which keeps disk1 as its current directory a moment after the installer ended).
helper wintext "$here/wintext.cpp" && helper installer -mwindows "$here/installer.cpp" &&
  helper floppy_device_check "$here/floppy_device_check.cpp" \
    "$root/src/platform/win32/win32_floppy.cpp" "$root/src/ui/messages.cpp" \
    "$root/src/platform/win32/win32_host.cpp" "$root/src/base/path.cpp" ||
    { echo "cannot build the test helpers"; exit 1; }
"$WINE" wineboot --init >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
"$WINESERVER" -k >/dev/null 2>&1
session() { "$WINESERVER" -p </dev/null >/dev/null 2>&1 && "$WINE" wineboot </dev/null >/dev/null 2>&1; }
session

wt() { "$WINE" "$work/wintext.exe" "$@"; }
xwin() {  # the X window of the visible window titled exactly $1 (xdotool ignores case)
  for w in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
    [ "$(xdotool getwindowname "$w")" = "$1" ] && echo "$w"; done | tail -1
}
xdo() {  # TITLE key|type ARGS...: real keystrokes into the window titled TITLE
  local w
  w=$(xwin "$1") && [ -n "$w" ] && timeout 5 xdotool windowfocus --sync "$w" "$2" --delay 40 "${@:3}"
}
shot() {  # NAME TITLE [CONTROL]: a picture of that window
  local g
  g=$(wt geometry "$2" ${3:+"$3"} 2>/dev/null) && import -window root -crop "$g" +repage "$artefacts/$1.png"
}
win_path() { local p=${1//\//\\}; echo "Z:$p"; }
msg() {  # ID ARGS...: message ID of messages.def, formatted with ARGS
  # shellcheck disable=SC2059
  printf "$(sed -n "s/^FLOPPYSET_MESSAGE($1, [^,]*, \"\(.*\)\")\$/\1/p" "$root/resources/messages.def")" "${@:2}"
}
until_same() {  # WHAT FILE COMMAND...: COMMAND's output becomes FILE.want's text (polled)
  for _ in $(seq 30); do "${@:3}" >"$2" 2>/dev/null && cmp -s "$2" "$2.want" && break; sleep 0.3; done
  check "$1" cmp -s "$2" "$2.want" || { echo "  got:  $(cat -A "$2")"; echo "  want: $(cat -A "$2.want")"; }
}
box() {  # NAME TITLE KEY TEXT: message box TITLE says TEXT; a picture, then KEY (- for none)
  printf %s "$4" >"$work/$1.want"
  wt wait "$2" 30 >/dev/null
  until_same "$1: the message box" "$work/$1" wt text "$2" 65535 && shot "$1" "$2"
  [ "$3" = - ] || xdo "$2" key "$3"
}
run() { "$WINE" "${@:2}" >"$work/$1.log" 2>&1 & pid=$!; }  # NAME EXE ARGS...: in the background
ends() {  # NAME: the program ends by itself with status 0 within 20 s
  local status=running
  for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || { wait "$pid"; status=$?; break; }; sleep 0.1; done
  check "$1: ends with status 0 ($status)" [ "$status" = 0 ]
  [ "$status" = running ] && { "$WINESERVER" -k >/dev/null 2>&1; wait "$pid" 2>/dev/null; session; }
}
up() { check "window $1" wt wait "$1" 30; }
image_size() { echo $((16#$("$1" -p "$2" | awk '/^SizeOfImage/ {print $2}'))); }  # OBJDUMP EXE

# --- the sets under test ----------------------------------------------------------------
src=$work/src
mkdir -p "$src/disk1/SUB" "$src/disk2" "$work/auto/disk1" "$work/auto/disk2"
for file in 'README.TXT:Demo Product readme' 'NOEXT:no extension' 'SUB/INNER.TXT:inner file'; do
  printf '%s\r\n' "${file#*:}" >"$src/disk1/${file%%:*}"; done
cp "$work/installer.exe" "$src/disk1/SETUP.EXE"
head -c 300000 /dev/urandom >"$src/disk2/DATA.BIN"
find "$src" -exec touch -d '2024-03-05 14:30:00' {} +
# Autostart of SETUP.EXE from the unpacked disk1 (no subdirectories: the set is deleted whole).
cp "$src/disk1/README.TXT" "$src/disk1/SETUP.EXE" "$work/auto/disk1/"
cp "$src/disk2/DATA.BIN" "$work/auto/disk2/"
make_set() {  # NAME STUB OPTIONS... (the images or directories come last)
  "$linux_build/mkfloppyset" --stub="$2" -o "$work/$1.exe" --product="Demo Product" \
    --created=2024-03-05T14:30:00 "${@:3}" >/dev/null || { echo "cannot make $1.exe"; exit 1; }
}
"$linux_build/mkfloppyset" --fat12 -o "$work/img" "$src/disk1" "$src/disk2" >/dev/null ||
  { echo "mkfloppyset cannot make the images"; exit 1; }
images=("$work/img/disk1.img" "$work/img/disk2.img")
# Flat images (unpack only) in an imploded archive, banner windows; FAT12 images in an LHA
# archive, plain windows: floppies, or unpacking with /D; autostart.
make_set unpack "$stub" --autostart=0 --dialog-style=1 "$src/disk1" "$src/disk2"
make_set floppy "$stub" --archive=lha --dialog-style=0 "${images[@]}"
make_set auto "$stub" --autostart=1 --installer=SETUP.EXE --final-message="Thanks for installing." \
  "$work/auto/disk1" "$work/auto/disk2"
cp "$work/unpack.exe" "$work/tampered.exe"
printf '\x5a' | dd of="$work/tampered.exe" bs=1 seek=$(($(stat -c %s "$work/tampered.exe") - 100)) \
  conv=notrunc 2>/dev/null
# A copy of the program with message 511 upper-cased in its string table (UTF-16).
python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); o = "Unknown command line parameter"
o, u = o.encode("utf-16-le"), o.upper().encode("utf-16-le"); assert d.count(o) == 1
open(sys.argv[2], "wb").write(d.replace(o, u))' "$stub" "$work/patched-stub.exe" &&
  make_set patched "$work/patched-stub.exe" "${images[@]}"

# --- the program files: layout, string table, resources of both builds ---------------------
stub32=$(dirname "$win_build")/build-win32/floppyset.exe
for arch in x86_64:"$stub" i686:"$stub32"; do
  [ -f "${arch#*:}" ] && check "${arch%%:*} program ends at or before SizeOfImage" test \
    "$(stat -c %s "${arch#*:}")" -le "$(image_size "${arch%%:*}-w64-mingw32-objdump" "${arch#*:}")"
done
wt strings "$stub" >"$work/string_table.txt" 2>&1; status=$?
check "string table of floppyset.exe is messages.def ($(tail -1 "$work/string_table.txt"))" test $status = 0
if [ -f "$stub32" ]; then
  dump32=$(i686-w64-mingw32-objdump -p "$stub32")
  check "i686 program is a 32-bit GUI program" test \
    "$(grep -cE '^(Magic[[:space:]]+010b|Subsystem[[:space:]]+00000002)' <<<"$dump32")" = 2
  # Windows 95 and NT 4.0 lack the ...Ex file calls of Windows 2000.
  check "i686 program imports nothing that Windows 95 and NT 4.0 lack" test -z "$(grep -wE \
    'SetFilePointerEx|GetFileSizeEx|GetFileAttributesExA|GetTickCount64|InitializeCriticalSectionEx' <<<"$dump32")"
  x86_64-w64-mingw32-windres -J coff -O rc -i "$stub" -o "$work/resources64.rc" &&
    i686-w64-mingw32-windres -J coff -O rc -i "$stub32" -o "$work/resources32.rc"
  check "i686 program carries the same dialogs, strings, icons and version" \
    cmp -s "$work/resources64.rc" "$work/resources32.rc"
fi

# --- the NT floppy device on drive A: backed by a floppy image -------------------------------
cp "${images[0]}" "$work/a.img" && mkdir -p "$work/a-root"
ln -sfn "$work/a.img" "$WINEPREFIX/dosdevices/a::" && ln -sfn "$work/a-root" "$WINEPREFIX/dosdevices/a:"
"$WINE" reg add 'HKLM\Software\Wine\Drives' /v a: /d floppy /f >/dev/null 2>&1
"$WINE" "$work/floppy_device_check.exe" "$(win_path "$work/a.img")" >"$work/floppy_device.txt" 2>&1; status=$?
check "floppy device layer: $(tr '\n' ' ' <"$work/floppy_device.txt")" test $status = 0
check "floppy device: the image is unchanged" cmp -s "$work/a.img" "${images[0]}"
rm -f "$WINEPREFIX/dosdevices/a::" "$WINEPREFIX/dosdevices/a:"

# --- every dialog template of the .rc: client size in dialog units, and a picture ------------
mapfile -t dialogs < <(awk '/^[0-9]+ DIALOG/ {id = $1; split($0, a, ", *"); cx = a[3]; cy = a[4]}
  /^CAPTION/ && id {t = $0; sub(/^CAPTION "/, "", t); sub(/"$/, "", t)}
  /^FONT/ && id {print id, cx, cy, $2 + 0, t; id = ""}' "$root/resources/floppyset.rc")
check "dialog templates found (${#dialogs[@]})" test "${#dialogs[@]}" -ge 11
for dialog in "${dialogs[@]}"; do
  read -r id cx cy points title <<<"$dialog"
  rm -f "$work/stop"
  WINTEXT_STOP=$(win_path "$work/stop") wt template "$stub" "$id" "$cx" "$cy" "$points" \
    >"$work/template$id.txt" 2>&1 &
  wt wait "$title" 30 >/dev/null && sleep 0.2 && shot "template-$id" "$title"
  touch "$work/stop" && wait $!; status=$?
  check "dialog $id is $cx x $cy units ($(cat "$work/template$id.txt"))" test $status = 0
done

# --- help, refusals (511 from the edited string table: texts are loaded at run time) ----------
run help "$work/floppy.exe" '/?'
check "help dialog" wt waitcontrol SETUP "Command line parameters:" 30 && xdo SETUP key Return
ends help
refused() { run "$1" "$work/$2" ${3:+"$3"} && box "$1" SETUP Return "$4"; ends "$1"; }  # NAME EXE SWITCH TEXT
refused edited-table patched.exe /X "$(msg 511 /X "$(win_path "$work/patched.exe")" |
  sed 's/^Unknown command line parameter/UNKNOWN COMMAND LINE PARAMETER/')"
refused message-513 floppy.exe /C:9 "$(msg 513 9)"
refused message-536 tampered.exe "" "$(msg 536 "$(win_path "$work/tampered.exe")")"

# --- reports in window 103 (as the Linux program's), the About box from its system menu -------
for case_line in "report unpack.exe /P" "report-a unpack.exe /A" "report-l floppy.exe /L"; do
  read -r name exe switch <<<"$case_line"
  "$linux_build/floppyset" "$work/$exe" "$switch" | sed 's/$/\r/' >"$work/$name.want"
  run "$name" "$work/$exe" "$switch"
  up Setup && until_same "$switch report" "$work/$name" wt text Setup 152 && shot "$name" Setup 152
  if [ "$switch" = /P ]; then
    xdo Setup key alt+space && sleep 0.5 && xdo Setup key Up Return
    check "About box from the system menu" wt wait About 10 && xdo About key Return &&
      check "About box closes on OK" wt gone About 5
  fi
  xdo Setup key alt+F4 || wt syscommand Setup 152 61536
  ends "$name"
done

# --- unpack: typed destination, 540 and 509; the folder browser and 542; 539; 544 -------------
dest="Enter directory for image unpack"
run unpack "$work/unpack.exe"
if up "$dest"; then
  shot dialog-106 "$dest"
  check "main window 101: relabelled for unpacking" wt waitcontrol Setup "$(msg 520)" 1
  xdo "$dest" type 'C:\dest\sub' && xdo "$dest" key Return
  box message-540 SETUP y "$(msg 540 'C:\dest\sub')"
  box message-509 SETUP Return "$(msg 509 'C:\dest\sub\' 'Demo Product' 'C:\dest\sub\')"
fi
ends unpack
for f in disk1/README.TXT disk1/SUB/INNER.TXT disk2/DATA.BIN; do
  check "unpack: $f as packed" cmp -s "$WINEPREFIX/drive_c/dest/sub/$f" "$src/$f"; done

# The "..." button: the shell's folder browser fills in the folder with a backslash. A bare
# name cannot be created (542) and the dialog stays; Cancel then ends the run quietly.
run unpack-542 "$work/unpack.exe"
if up "$dest"; then
  wt click "$dest" ...
  if up "Browse for Folder"; then
    xdo "Browse for Folder" key Return  # the Desktop, selected at first
    wt gone "Browse for Folder" 10 >/dev/null
    browsed=$(wt text "$dest" 155)
    check "folder browser: the Desktop folder with a backslash ($browsed)" \
      grep -qE '^C:.*\\Desktop\\$' <<<"$browsed"
    wt settext "$dest" 155 ""
  fi
  xdo "$dest" type nodir && xdo "$dest" key Return
  wt wait SETUP 10 >/dev/null && xdo SETUP key y
  box message-542 SETUP Return "$(msg 542)"
  check "unpack: the dialog stays open after 542" wt wait "$dest" 5
  xdo "$dest" key Escape
fi
ends unpack-542

# A second instance of the same program file is refused while the first one runs.
run first "$work/unpack.exe"
first_pid=$pid
if up "$dest"; then
  run second "$work/unpack.exe" && box message-539 Error Return "$(msg 539)"
  ends second
  pid=$first_pid && xdo "$dest" key Escape
fi
ends first

# Too little space at the destination: a 1 MB tmpfs as drive D: (needs root).
small=$work/small && mkdir -p "$small"
if mount -t tmpfs -o size=1m tmpfs "$small" 2>/dev/null; then
  ln -sfn "$small" "$WINEPREFIX/dosdevices/d:"
  # UnpackedSpace is the header's field at offset 18; shown as FormatSize makes it.
  header=$(image_size x86_64-w64-mingw32-objdump "$work/floppy.exe")
  needed=$(od -An -tu4 -j $((header + 18)) -N4 "$work/floppy.exe" | tr -d ' ')
  needed=$(awk -v n="$needed" 'BEGIN { printf(n % 1048576 ? "%.2f MB" : "%.0f MB", n / 1048576) }')
  run space "$work/floppy.exe" /D
  if up "$dest"; then
    xdo "$dest" type 'D:\' && xdo "$dest" key Return
    box message-544 SETUP Return "$(msg 544 "$needed" 'D:\' '1 MB')"
  fi
  ends space
  check "no space: nothing unpacked" test -z "$(ls -A "$small")"
  rm -f "$WINEPREFIX/dosdevices/d:" && umount "$small"
else
  echo "skip: no space (cannot mount a tmpfs here)"
fi
small=

# --- floppy mode: confirmation 503, drive choice 102, and 505 after Cancel ------------------
run floppy "$work/floppy.exe"
box message-503 SETUP - "$(msg 503 'Demo Product' 2)"
# The box covers the middle of window 110: move it aside for the window's picture.
timeout 5 xdotool windowmove "$(xwin SETUP)" 600 500 && sleep 0.5 && shot main-110 Setup 126
xdo SETUP key Return
# No drive choice when the system offers exactly one floppy drive.
wt wait "Select floppy drive" 20 >/dev/null && xdo "Select floppy drive" key Escape
ends floppy
run floppy-cancel "$work/floppy.exe"
up SETUP && xdo SETUP key Escape && box message-505 SETUP n "$(msg 505)"
ends floppy-cancel

# --- autostart: the installer runs from disk1, /W shows the notice until it is up ----------
marker=$work/marker.txt
export FLOPPYSET_TEST_MARKER=Z:${marker//\//\\}
notice='There may by very long delay with setup starting on the some platforms. It may take several minutes. Please close all other tasks and wait.'
run autostart-w "$work/auto.exe" /W
if check "autostart /W: notice 108" wt waitcontrol Setup "$notice" 30; then
  geometry=$(wt geometry Setup "$notice")
  check "notice 108: at the top-left corner ($geometry)" test "${geometry#*+}" = 0+0
  touch "$marker.release"
  check "notice closes" wt gone Setup 20 &&
    check "notice closes once the installer released the semaphore, while it still runs" \
      test "$(grep -E 'semaphore|ended' "$marker" | tr -d '\r')" = semaphore=found
fi
touch "$marker.release" "$marker.end"
box autostart-final SETUP - 'Thanks for installing.'
check "autostart: the installer ended before the final message" grep -q ended "$marker"
xdo SETUP key Return
ends autostart-w
run_dir=$(sed -n 's/^cwd=//p' "$marker" | tr -d '\r')
check "autostart: the installer ran in disk1 ($run_dir) and saw its files" \
  test "${run_dir##*\\}" = disk1 -a -n "$(grep file=README.TXT "$marker")"
check "autostart: the unpacked set is deleted" \
  test ! -e "$(dirname "$WINEPREFIX/drive_c/$(echo "${run_dir#C:\\}" | tr '\\' /)")"
rm -f "$marker"
run autostart "$work/auto.exe"
wt wait SETUP 30 >/dev/null && xdo SETUP key Return
ends autostart
check "autostart without /W: no semaphore is made" grep -q semaphore=none "$marker"

# The README's pictures, small: palette PNGs without metadata.
for picture in report:win32-report dialog-106:win32-destination main-110:win32-floppy-run \
  message-503:win32-question; do
  [ -z "$screenshots" ] || check "picture ${picture#*:}" convert "$artefacts/${picture%%:*}.png" \
    -strip +dither -colors 32 "PNG8:$screenshots/${picture#*:}.png"; done
[ "$failures" = 0 ] && { echo "Win32 tests: all passed (pictures in $artefacts)"; exit 0; }
echo "Win32 tests: $failures failed" && exit 1
