#!/usr/bin/env bash
# Drives floppyset.exe under wine64 in a private Xvfb as a person would: builds setup
# programs with mkfloppyset, starts them, reads window titles, control and message-box
# texts, presses keys, and keeps a screenshot of every dialog in BUILD-WIN64/artefacts.
# Usage: tests/win32/run.sh BUILD-WIN64 LINUX-BUILD [--screenshots DIR]
#   (non-zero exit on any failure; --screenshots also refreshes the README's pictures in DIR)
set -u
screenshots=
if [ "${3:-}" = --screenshots ]; then
  mkdir -p "${4:?--screenshots needs a directory}" && screenshots=$(cd "$4" && pwd)
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
win_build=$(cd "$1" && pwd)
linux_build=$(cd "$2" && pwd)
stub=$win_build/floppyset.exe
mkfloppyset=$linux_build/mkfloppyset
work=$win_build/wine-tests
artefacts=$win_build/artefacts

export LC_ALL=C TZ=UTC WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX=$work/prefix

failures=0
fail() { echo "FAIL: $* [${SECONDS}s]"; failures=$((failures + 1)); }
pass() { echo "ok:   $* [${SECONDS}s]"; }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }

for tool in "$stub" "$mkfloppyset"; do
  [ -x "$tool" ] || { echo "missing $tool"; exit 1; }
done
for tool in "$WINE" Xvfb xdotool import x86_64-w64-mingw32-g++; do
  command -v "$tool" >/dev/null || { echo "missing $tool"; exit 1; }
done

rm -rf "$work" "$artefacts"
mkdir -p "$work" "$artefacts"

# --- display, prefix, helpers ---------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
cleanup() {
  "$WINESERVER" -k >/dev/null 2>&1
  kill "$xvfb_pid" 2>/dev/null
  [ -n "${tmpfs_dir:-}" ] && umount "$tmpfs_dir" 2>/dev/null
}
trap cleanup EXIT

helper() {  # NAME SOURCES...: a small Windows program for the tests
  local name=$1
  shift
  x86_64-w64-mingw32-g++ -std=c++20 -Os -s -static -I"$root/src" -I"$root/resources" \
    -o "$work/$name.exe" "$@"
}
# The installer is a GUI program as real ones are (a console one brings a console host
# along, which keeps disk1 as its current directory a moment after the installer ended).
helper wintext "$here/wintext.cpp" && helper installer -mwindows "$here/installer.cpp" &&
  helper string_table_check "$here/string_table_check.cpp" &&
  helper floppy_device_check "$here/floppy_device_check.cpp" \
    "$root/src/platform/win32/win32_floppy.cpp" ||
  { echo "cannot build the test helpers"; exit 1; }

"$WINE" wineboot --init >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
"$WINESERVER" -k >/dev/null 2>&1
start_session() {
  "$WINESERVER" -p </dev/null >/dev/null 2>&1
  "$WINE" wineboot </dev/null >/dev/null 2>&1
}
start_session

wt() { "$WINE" "$work/wintext.exe" "$@"; }
# The X window of the visible window titled exactly $1 (xdotool matches case-insensitively).
xwin() {
  local w
  for w in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
    [ "$(xdotool getwindowname "$w")" = "$1" ] && echo "$w"
  done | tail -1
}
# Real keystrokes into the window titled $1.
xkey() {
  local w
  w=$(xwin "$1")
  [ -n "$w" ] || return 1
  shift
  timeout 5 xdotool windowfocus --sync "$w" key --delay 40 "$@"
}
xtype() {
  local w
  w=$(xwin "$1")
  [ -n "$w" ] || return 1
  timeout 5 xdotool windowfocus --sync "$w" type --delay 40 "$2"
}
# shot NAME TITLE [CONTROL]: screenshot of that window.
shot() {
  local geometry
  geometry=$(wt geometry "$2" ${3:+"$3"} 2>/dev/null) || { echo "  no picture of $1"; return 1; }
  import -window root -crop "$geometry" +repage "$artefacts/$1.png"
}
# same TEXT-FILE EXPECTED...: the file holds exactly the printf of EXPECTED.
same() {
  local file=$1
  shift
  # shellcheck disable=SC2059
  printf "$@" >"$file.want"
  cmp -s "$file" "$file.want" || {
    echo "  got:  $(cat -A "$file")"
    echo "  want: $(cat -A "$file.want")"
    return 1
  }
}
# box_text TITLE EXPECTED...: the text of the open message box.
box_text() {
  local title=$1
  shift
  wt text "$title" 65535 >"$work/box.txt" && same "$work/box.txt" "$@"
}
win_path() { local p=${1//\//\\}; echo "Z:$p"; }

# start NAME EXE ARGS...: start a program in the background as $pid.
start() {
  local name=$1
  shift
  "$WINE" "$@" >"$work/$name.log" 2>&1 &
  pid=$!
}
# finish NAME: the program ends by itself with status 0 within 20 s.
finish() {
  local name=$1 status
  for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    fail "$name: the program did not end"
    wt >"$work/$name.windows.txt" 2>&1
    "$WINESERVER" -k >/dev/null 2>&1
    wait "$pid" 2>/dev/null
    start_session
    return 1
  fi
  wait "$pid"
  status=$?
  check "$name: exit status 0 (was $status)" [ "$status" = 0 ]
}

# --- the sets under test ----------------------------------------------------------------
src=$work/src
mkdir -p "$src/disk1/SUB" "$src/disk2"
printf 'Demo Product readme\r\n' >"$src/disk1/README.TXT"
cp "$work/installer.exe" "$src/disk1/SETUP.EXE"
printf 'no extension\r\n' >"$src/disk1/NOEXT"
printf 'inner file\r\n' >"$src/disk1/SUB/INNER.TXT"
head -c 300000 /dev/urandom >"$src/disk2/DATA.BIN"
find "$src" -exec touch -d '2024-03-05 14:30:00' {} +
"$mkfloppyset" --fat12 -o "$work/img" "$src/disk1" "$src/disk2" >/dev/null ||
  { echo "mkfloppyset cannot make the images"; exit 1; }
images=("$work/img/disk1.img" "$work/img/disk2.img")
make_set() {  # NAME OPTIONS... (the images or directories come last)
  local name=$1
  shift
  "$mkfloppyset" --stub="$stub" -o "$work/$name.exe" --product="Demo Product" \
    --created=2024-03-05T14:30:00 "$@" >/dev/null || {
    echo "mkfloppyset cannot make $name.exe"
    exit 1
  }
}
# Flat images (unpack only) in an imploded archive, banner windows.
make_set unpack --autostart=0 --dialog-style=1 "$src/disk1" "$src/disk2"
# FAT12 images in an LHA archive, plain windows: floppies, or unpacking with /D.
make_set floppy --archive=lha --dialog-style=0 "${images[@]}"
# Autostart of SETUP.EXE from the unpacked disk1 (no subdirectories: the set is deleted whole).
mkdir -p "$work/auto/disk1" "$work/auto/disk2"
cp "$src/disk1/README.TXT" "$src/disk1/SETUP.EXE" "$work/auto/disk1/"
cp "$src/disk2/DATA.BIN" "$work/auto/disk2/"
make_set auto --autostart=1 --installer=SETUP.EXE --final-message="Thanks for installing." \
  "$work/auto/disk1" "$work/auto/disk2"
cp "$work/unpack.exe" "$work/tampered.exe"
size=$(stat -c %s "$work/tampered.exe")
printf '\x5a' | dd of="$work/tampered.exe" bs=1 seek=$((size - 100)) conv=notrunc 2>/dev/null

rule='========================================================='

# --- the program files: stub layout, resources of both builds -----------------------------
image_size() {  # OBJDUMP EXE
  local hex
  hex=$("$1" -p "$2" | awk '/^SizeOfImage/ {print $2}')
  echo $((16#${hex:-0}))
}
check "x86_64 program ends at or before SizeOfImage" \
  test "$(stat -c %s "$stub")" -le "$(image_size x86_64-w64-mingw32-objdump "$stub")"
"$WINE" "$work/string_table_check.exe" "$stub" >"$work/string_table.txt" 2>&1
status=$?
check "string table of floppyset.exe is messages.def ($(tail -1 "$work/string_table.txt"))" \
  test "$status" = 0
stub32=$(dirname "$win_build")/build-win32/floppyset.exe
if [ -f "$stub32" ]; then
  check "i686 program is a 32-bit GUI program" \
    test -n "$(i686-w64-mingw32-objdump -p "$stub32" | grep -E '^Magic[[:space:]]+010b')" -a \
    -n "$(i686-w64-mingw32-objdump -p "$stub32" | grep -E '^Subsystem[[:space:]]+00000002')"
  check "i686 program ends at or before SizeOfImage" \
    test "$(stat -c %s "$stub32")" -le "$(image_size i686-w64-mingw32-objdump "$stub32")"
  # Windows 95 and NT 4.0 lack the ...Ex file calls of Windows 2000.
  check "i686 program imports nothing that Windows 95 and NT 4.0 lack" test -z \
    "$(i686-w64-mingw32-objdump -p "$stub32" | grep -wE 'SetFilePointerEx|GetFileSizeEx|GetFileAttributesExA|GetTickCount64|InitializeCriticalSectionEx')"
  x86_64-w64-mingw32-windres -J coff -O rc -i "$stub" -o "$work/resources64.rc" &&
    i686-w64-mingw32-windres -J coff -O rc -i "$stub32" -o "$work/resources32.rc"
  check "i686 program carries the same dialogs, strings, icons and version" \
    cmp -s "$work/resources64.rc" "$work/resources32.rc"
  check "resources: dialogs 100-108, 110, 111 and icons 130, 131" test \
    "$(grep -cE '^(10[0-8]|11[01]) DIALOG' "$work/resources32.rc")" = 11 -a \
    "$(grep -cE '^13[01] 14 ' "$work/resources32.rc")" = 2
else
  echo "skip: no i686 build next to $win_build"
fi

# --- the NT floppy device on drive A: backed by a floppy image -------------------------------
cp "${images[0]}" "$work/a.img"
mkdir -p "$work/a-root"
ln -sfn "$work/a.img" "$WINEPREFIX/dosdevices/a::"
ln -sfn "$work/a-root" "$WINEPREFIX/dosdevices/a:"
"$WINE" reg add 'HKLM\Software\Wine\Drives' /v a: /d floppy /f >/dev/null 2>&1
"$WINE" "$work/floppy_device_check.exe" "$(win_path "$work/a.img")" >"$work/floppy_device.txt" 2>&1
status=$?
sed 's/^/  /' "$work/floppy_device.txt"
check "floppy device layer" test "$status" = 0
check "floppy device: the image is unchanged" cmp -s "$work/a.img" "${images[0]}"
rm -f "$WINEPREFIX/dosdevices/a::" "$WINEPREFIX/dosdevices/a:"

# --- every dialog template: client size in dialog units, and a picture --------------------
template_check() {  # ID CX CY POINTS TITLE
  rm -f "$work/stop"
  WINTEXT_STOP=$(win_path "$work/stop") "$WINE" "$work/wintext.exe" template "$stub" "$1" "$2" \
    "$3" "$4" 30 >"$work/template$1.txt" 2>&1 &
  local helper=$!
  if wt wait "$5" 30 >/dev/null 2>&1; then
    sleep 0.2
    shot "template-$1" "$5"
  fi
  touch "$work/stop"
  wait "$helper"
  local status=$?
  check "dialog $1 is $2 x $3 dialog units ($(cat "$work/template$1.txt"))" \
    test "$status" = 0 -a -n "$(grep "^dialog $1: client" "$work/template$1.txt")"
}
template_check 100 227 58 8 About
template_check 101 262 181 8 Setup
template_check 102 130 48 8 "Select floppy drive"
template_check 103 379 226 8 Setup
template_check 104 262 181 8 Setup
template_check 105 220 35 8 Setup
template_check 106 190 44 8 "Enter directory for image unpack"
template_check 107 277 146 8 SETUP
template_check 108 180 55 9 Setup
template_check 110 220 80 8 Setup
template_check 111 220 35 8 Setup

# --- help, bad switches, a tampered set -------------------------------------------------
start help "$work/floppy.exe" '/?'
if wt waitcontrol SETUP "Command line parameters:" 20 >/dev/null; then
  shot help SETUP "Command line parameters:"
  wt text SETUP "- Force floppy disks creation mode." >/dev/null ||
    fail "help: the /F line is missing"
  check "help: the no-break spaces of the /P line" \
    grep -aqF $'text="\xa0\xa0data of creation of the setup"' <(wt)
  check "help: client size 277 x 146 units" wt checksize SETUP "Command line parameters:" 277 146
  xkey SETUP Return
else
  fail "help: no help dialog"
fi
finish help

exe_path=$(win_path "$work/floppy.exe")
start bad-switch "$work/floppy.exe" /X
if wt wait SETUP 20 >/dev/null; then
  check "bad switch: message 511" box_text SETUP 'Unknown command line parameter: /X.\nRun %s /? for help.' "$exe_path"
  shot message-511 SETUP
  xkey SETUP Return
else
  fail "bad switch: no message"
fi
finish bad-switch

# Texts come from the program's own string table: upper-case message 511 in a copy of the
# program (a byte patch of its UTF-16 resource) and the message box shows the edited text.
python3 - "$stub" "$work/patched-stub.exe" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
old = "Unknown command line parameter".encode("utf-16-le")
assert data.count(old) == 1, "message 511 not found once in the string table"
open(sys.argv[2], "wb").write(data.replace(old, old.decode("utf-16-le").upper().encode("utf-16-le")))
PY
"$mkfloppyset" --stub="$work/patched-stub.exe" -o "$work/patched.exe" --product="Demo Product" \
  "${images[@]}" >/dev/null
start patched "$work/patched.exe" /X
if wt wait SETUP 20 >/dev/null; then
  check "edited string table: message 511 as edited" box_text SETUP \
    'UNKNOWN COMMAND LINE PARAMETER: /X.\nRun %s /? for help.' "$(win_path "$work/patched.exe")"
  xkey SETUP Return
else
  fail "edited string table: no message"
fi
finish patched

start bad-disk "$work/floppy.exe" /C:9
if wt wait SETUP 20 >/dev/null; then
  check "/C:9: message 513" box_text SETUP 'Incorrect disk number: 9'
  xkey SETUP Return
else
  fail "/C:9: no message"
fi
finish bad-disk

start tampered "$work/tampered.exe"
if wt wait SETUP 20 >/dev/null; then
  check "tampered set: message 536" box_text SETUP \
    'File %s failed authenticity check!\n\nFile was changed or infected by virus.\n\nPlease contact software vendor for the replacement.' \
    "$(win_path "$work/tampered.exe")"
  shot message-536 SETUP
  xkey SETUP Return
else
  fail "tampered set: no message"
fi
finish tampered

# --- reports in window 103, and the About box from its system menu -----------------------
report() {  # NAME EXE SWITCHES...: leaves the report text in $work/NAME.txt
  local name=$1
  shift
  start "$name" "$@"
  if ! wt waitcontrol Setup 152 30 >/dev/null; then
    fail "$name: no report window"
    finish "$name"
    return 1
  fi
  # The report is complete when its closing rule has arrived and the text stays put.
  : >"$work/$name.previous"
  for _ in $(seq 50); do
    wt text Setup 152 >"$work/$name.txt"
    [ -s "$work/$name.txt" ] && cmp -s "$work/$name.txt" "$work/$name.previous" && break
    cp "$work/$name.txt" "$work/$name.previous"
    sleep 0.3
  done
}
close_report() {  # NAME
  xkey Setup alt+F4 || wt syscommand Setup 152 61536
  finish "$1"
}

if report report-p "$work/unpack.exe" /P; then
  check "/P report text" same "$work/report-p.txt" \
    'Package processing:\r\n%s\r\nProduct name                  : Demo Product\r\nNumber of disks               : 2\r\nData of creation of the setup : 05/03/2024 14:30\r\n%s\r\n' \
    "$rule" "$rule"
  shot report Setup 152
  check "report window: client size 379 x 226 units" wt checksize Setup 152 379 226
  xkey Setup alt+space && sleep 0.5 && xkey Setup Up Return
  if wt wait About 10 >/dev/null; then
    shot about About
    check "About box: client size 227 x 58 units" wt checksize About 1.00 227 58
    check "About box: version and release" wt waitcontrol About beta 1
    xkey About Return
    check "About box closes on OK" wt gone About 5
  else
    fail "About box: not opened from the system menu"
  fi
  close_report report-p
fi

if report report-a "$work/unpack.exe" /A; then
  check "/A report text" same "$work/report-a.txt" \
    'Package processing:\r\n%s\r\nExecutable file authenticity  : OK\r\nEmbedded package authenticity : OK\r\n%s\r\n' \
    "$rule" "$rule"
  close_report report-a
fi

if report report-l "$work/floppy.exe" /L; then
  list_ok=true
  for line in 'Image 1:' 'Image 2:' \
    '05/03/2024 14:30              21 README.TXT' \
    '05/03/2024 14:30              14 NOEXT.' \
    "05/03/2024 14:30 $(printf '%15d' "$(stat -c %s "$src/disk1/SETUP.EXE")") SETUP.EXE" \
    ' SUB\' \
    '05/03/2024 14:30              12 INNER.TXT' \
    '05/03/2024 14:30          300000 DATA.BIN'; do
    grep -aqxF "$line"$'\r' "$work/report-l.txt" || { echo "  missing line: $line"; list_ok=false; }
  done
  check "/L report lists every file of both images" $list_ok
  check "/L report: image 1 before image 2, closing rule last" \
    test "$(grep -an -e '^Image' "$work/report-l.txt" | cut -d: -f2 | tr -d '\r' | tr '\n' ,)" = \
    "Image 1,Image 2," -a "$(tail -c 59 "$work/report-l.txt" | od -v -An -c | tr -d ' \n')" = \
    "$rule\\r\\n"
  close_report report-l
fi

# --- unpack with a typed destination: 540, creation, 509; and the live dialogs ----------------
rm -rf "$WINEPREFIX/drive_c/dest"
start unpack "$work/unpack.exe"
# Dialog 105 is busy with its checks and then pauses a second: measure it at once.
check "dialog 105: client size 220 x 35 units" wt checksize Setup 118 220 35
shot dialog-105 Setup 118
if wt wait "Enter directory for image unpack" 30 >/dev/null; then
  shot dialog-106 "Enter directory for image unpack"
  shot main-101 Setup 121
  check "main window 101: client size 262 x 181 units" wt checksize Setup 121 262 181
  check "main window 101: relabelled for unpacking" wt waitcontrol Setup 'Images processing...' 1
  xtype "Enter directory for image unpack" 'C:\dest\sub'
  xkey "Enter directory for image unpack" Return
  if wt wait SETUP 10 >/dev/null; then
    check "unpack: message 540" box_text SETUP \
      "The directory:\n'C:\\\\dest\\\\sub'\ndoes not exist. Do you want the directory to be created?"
    shot message-540 SETUP
    xkey SETUP y
  else
    fail "unpack: no question 540"
  fi
  if wt waitcontrol SETUP 65535 30 >/dev/null && sleep 0.3; then
    check "unpack: message 509" box_text SETUP \
      'Congratulations! All disks are successfully unpacked in C:\\dest\\sub\\. For install "Demo Product" please run SETUP.EXE from C:\\dest\\sub\\disk1\\.'
    xkey SETUP Return
  else
    fail "unpack: no completion message"
  fi
else
  fail "unpack: no destination dialog"
fi
finish unpack
dest=$WINEPREFIX/drive_c/dest/sub
check "unpack: disk1 files as packed" cmp -s "$dest/disk1/README.TXT" "$src/disk1/README.TXT"
check "unpack: subdirectory files as packed" cmp -s "$dest/disk1/SUB/INNER.TXT" "$src/disk1/SUB/INNER.TXT"
check "unpack: disk2 files as packed" cmp -s "$dest/disk2/DATA.BIN" "$src/disk2/DATA.BIN"

# The "..." button: the shell's folder browser fills in the folder with a backslash.
# A bare name cannot be created (542); Cancel then ends the run without a message.
start unpack-542 "$work/unpack.exe"
if wt wait "Enter directory for image unpack" 30 >/dev/null; then
  wt click "Enter directory for image unpack" ...
  if wt wait "Browse for Folder" 20 >/dev/null; then
    shot browse "Browse for Folder"
    xkey "Browse for Folder" Return  # the Desktop, selected at first
    wt gone "Browse for Folder" 10 >/dev/null
    browsed=$(wt text "Enter directory for image unpack" 155)
    check "folder browser: the Desktop folder with a backslash ($browsed)" \
      test -n "$(echo "$browsed" | grep -E '^C:.*\\Desktop\\$')"
    wt settext "Enter directory for image unpack" 155 ""
  else
    fail "folder browser: not opened by the ... button"
  fi
  xtype "Enter directory for image unpack" 'nodir'
  xkey "Enter directory for image unpack" Return
  wt wait SETUP 10 >/dev/null && xkey SETUP y
  sleep 0.5
  if wt wait SETUP 10 >/dev/null; then
    check "unpack: message 542" box_text SETUP \
      "Can't create specified directory.\nIt is invalid, incomplete or write protected.\nPlease type full path with drive letter;\nFor example 'C:\\\\VORIXSETUP'."
    shot message-542 SETUP
    xkey SETUP Return
  else
    fail "unpack: no message 542"
  fi
  check "unpack: the dialog stays open after 542" wt wait "Enter directory for image unpack" 5
  xkey "Enter directory for image unpack" Escape
else
  fail "unpack-542: no destination dialog"
fi
finish unpack-542

# A second instance of the same program file is refused while the first one runs.
start first "$work/unpack.exe"
first_pid=$pid
if wt wait "Enter directory for image unpack" 30 >/dev/null; then
  start second "$work/unpack.exe"
  if wt wait Error 20 >/dev/null; then
    check "second instance: message 539" box_text Error 'Another instance of the program is already running'
    shot message-539 Error
    xkey Error Return
  else
    fail "second instance: no message 539"
  fi
  finish second
  pid=$first_pid
  xkey "Enter directory for image unpack" Escape
else
  fail "second instance: the first one shows no destination dialog"
fi
finish first

# Too little space at the destination: a 1 MB tmpfs as drive D: (needs root).
tmpfs_dir=$work/small
mkdir -p "$tmpfs_dir"
if mount -t tmpfs -o size=1m tmpfs "$tmpfs_dir" 2>/dev/null; then
  ln -sfn "$tmpfs_dir" "$WINEPREFIX/dosdevices/d:"
  start space "$work/floppy.exe" /D
  if wt wait "Enter directory for image unpack" 30 >/dev/null; then
    xtype "Enter directory for image unpack" 'D:\'
    xkey "Enter directory for image unpack" Return
    # UnpackedSpace is the header's field at offset 18; shown as FormatSize makes it.
    header=$(image_size x86_64-w64-mingw32-objdump "$work/floppy.exe")
    needed=$(od -An -tu4 -j $((header + 18)) -N4 "$work/floppy.exe" | tr -d ' ')
    needed_text=$(awk -v n="$needed" 'BEGIN { v = n / 1048576
      printf(n % 1048576 ? "%.2f MB" : "%.0f MB", v) }')
    if wt wait SETUP 20 >/dev/null; then
      check "no space: message 544 ($needed bytes needed)" box_text SETUP \
        'Setup requires at least %s of free disk space on on drive D:\\ to unpack files. You have only 1 MB on this drive. Please free more disk space and run the installation again' \
        "$needed_text"
      shot message-544 SETUP
      xkey SETUP Return
    else
      fail "no space: no message 544"
    fi
  else
    fail "no space: no destination dialog"
  fi
  finish space
  check "no space: nothing unpacked" test -z "$(ls -A "$tmpfs_dir")"
  rm -f "$WINEPREFIX/dosdevices/d:"
  umount "$tmpfs_dir"
else
  echo "skip: no space (cannot mount a tmpfs here)"
fi
tmpfs_dir=

# --- floppy mode: confirmation 503, drive choice 102, and 505 after Cancel ------------------
start floppy "$work/floppy.exe"
if wt wait SETUP 30 >/dev/null; then
  check "floppy: message 503" box_text SETUP \
    'This program creates the "Demo Product" floppy disks.\n\nYou will need 2 High Density 3.5" / 1.44MB floppy disks.\n\nWARNING! All data on those disks will be overwritten.\nPress OK to proceed or Cancel to abort floppies creation.'
  shot message-503 SETUP
  # The box covers the middle of window 110: move it aside for the window's picture.
  timeout 5 xdotool windowmove "$(xwin SETUP)" 600 500 && sleep 0.5
  shot main-110 Setup 126
  check "main window 110: client size 220 x 80 units" wt checksize Setup 126 220 80
  xkey SETUP Return
  if wt wait "Select floppy drive" 20 >/dev/null; then
    shot dialog-102 "Select floppy drive"
    xkey "Select floppy drive" Escape
  else
    echo "note: no drive choice (the system offers exactly one floppy drive)"
  fi
else
  fail "floppy: no confirmation"
fi
finish floppy

start floppy-cancel "$work/floppy.exe"
if wt wait SETUP 30 >/dev/null; then
  xkey SETUP Escape
  sleep 0.5
  if wt waitcontrol SETUP 'Would you like to unpack images on hard disk?' 10 >/dev/null; then
    pass "floppy cancelled: question 505"
    shot message-505 SETUP
    xkey SETUP n
  else
    fail "floppy cancelled: no question 505"
  fi
else
  fail "floppy-cancel: no confirmation"
fi
finish floppy-cancel

# --- autostart: the installer runs from disk1, /W shows the notice until it is up ----------
marker=$work/marker.txt
export FLOPPYSET_TEST_MARKER
FLOPPYSET_TEST_MARKER=$(win_path "$marker")
notice='There may by very long delay with setup starting on the some platforms. It may take several minutes. Please close all other tasks and wait.'
rm -f "$marker" "$marker.release" "$marker.end"
start autostart-w "$work/auto.exe" /W
if wt waitcontrol Setup "$notice" 30 >/dev/null; then
  check "notice 108: client size 180 x 55 units (9 points)" wt checksize Setup "$notice" 180 55 9
  geometry=$(wt geometry Setup "$notice")
  import -window root -crop "$geometry" +repage "$artefacts/dialog-108.png"
  check "notice 108: at the top-left corner ($geometry)" test "${geometry#*+}" = 0+0
  touch "$marker.release"
  if wt gone Setup 20 >/dev/null; then
    check "notice closes once the installer released the semaphore" grep -q semaphore=found "$marker"
    check "notice closes while the installer still runs" test -z "$(grep ended "$marker")"
  else
    fail "notice 108 does not close"
  fi
else
  fail "autostart /W: no notice"
fi
touch "$marker.release" "$marker.end"
if wt wait SETUP 30 >/dev/null; then
  check "autostart: final message after the installer" box_text SETUP 'Thanks for installing.'
  check "autostart: the installer ended before the final message" grep -q ended "$marker"
  xkey SETUP Return
else
  fail "autostart: no final message"
fi
finish autostart-w
run_dir=$(sed -n 's/^cwd=//p' "$marker" | tr -d '\r')
check "autostart: the installer ran in disk1 ($run_dir)" test "${run_dir##*\\}" = disk1
check "autostart: the installer saw its files" grep -q file=README.TXT "$marker"
unix_run_dir=$WINEPREFIX/drive_c/$(echo "${run_dir#C:\\}" | tr '\\' /)
check "autostart: the unpacked set is deleted" test ! -e "$(dirname "$unix_run_dir")"

rm -f "$marker"
touch "$marker.release" "$marker.end"
start autostart "$work/auto.exe"
wt wait SETUP 30 >/dev/null && xkey SETUP Return
finish autostart
check "autostart without /W: no semaphore is made" grep -q semaphore=none "$marker"

# The README's pictures, small: palette PNGs without metadata.
if [ -n "$screenshots" ]; then
  for picture in report:win32-report dialog-106:win32-destination main-110:win32-floppy-run \
    message-503:win32-question; do
    if [ -f "$artefacts/${picture%%:*}.png" ]; then
      convert "$artefacts/${picture%%:*}.png" -strip +dither -colors 32 "PNG8:$screenshots/${picture#*:}.png"
    else
      fail "screenshot ${picture%%:*} was not taken"
    fi
  done
  echo "pictures written to $screenshots"
fi

echo
if [ "$failures" = 0 ]; then
  echo "Win32 tests: all passed (screenshots in $artefacts)"
  exit 0
fi
echo "Win32 tests: $failures failed"
exit 1
