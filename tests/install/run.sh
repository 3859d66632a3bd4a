#!/usr/bin/env bash
# What a user gets from a build: the manual pages (formatting, every --help option), the
# installed tree, the JSON reports (parsed by python3's json and compared with the text
# reports of the demo and test sets), bash completion, and the Debian package, installed
# with dpkg, run and removed again (as root only).
# Usage: tests/install/run.sh BUILD-DIR
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$build/install-tests
rm -rf "$work" && mkdir -p "$work"
export TZ=UTC LC_ALL=C.UTF-8

failures=0
check() { local what=$1; shift; if "$@"; then echo "ok:   $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi; }

# --- manual pages ---------------------------------------------------------------------
for page in floppyset mkfloppyset; do
  man=$root/docs/man/$page.1
  check "$page.1 formats without warnings" test -z "$(groff -man -ww -z "$man" 2>&1)"
  missing=$("$build/$page" --help | grep -oE -- '--[a-z][a-z0-9-]*|(^|[ (])(/[A-Z?](:[nN])?|-[a-z],)' |
    tr -d ' (,' | sed 's/:[nN]$/:/' | sort -u | while read -r option; do
      sed 's/\\-/-/g; s/\\fI[^\\]*\\fP//g; s/\\f[BIRP]//g' "$man" | grep -qF -- "$option" ||
        echo "$option"
    done)
  check "$page.1 lists every option of --help${missing:+ (missing: $missing)}" test -z "$missing"
done

# --- the sets: the demo, an unpack set in an LHA archive, texts outside ASCII -------------
sets=("$build/demo/demo.exe")
mkdir -p "$work/flat/disk1/SUB" "$work/flat/disk2"
echo readme >"$work/flat/disk1/README.TXT"
echo inner >"$work/flat/disk1/SUB/INNER.TXT"
head -c 5000 /dev/zero >"$work/flat/disk2/DATA.BIN"
"$build/mkfloppyset" -o "$work/flat.exe" --archive=lha --product="Flat set" --installer= \
  --created=2001-02-03T04:05:06 "$work/flat/disk1" "$work/flat/disk2" && sets+=("$work/flat.exe")
# "Caf\xe9 \x80" in Windows-1252 is "Café €" in UTF-8.
"$build/mkfloppyset" -o "$work/ansi.exe" --product=$'Caf\xe9 \x80' --boot-disk --verify=0 \
  --dialog-style=1 "$build/demo/images/disk1.img" && sets+=("$work/ansi.exe")

for set in "${sets[@]}"; do
  name=$(basename "$set")
  "$build/floppyset" "$set" /A /P /L >"$work/$name.txt" 2>"$work/$name.err"
  "$build/floppyset" "$set" --json >"$work/$name.json" 2>>"$work/$name.err"
  check "$name: --json is valid JSON" python3 -m json.tool "$work/$name.json" /dev/null
  check "$name: --json agrees with /A /P /L" python3 - "$work/$name.json" "$work/$name.txt" <<'PY'
import json, re, sys
doc = json.load(open(sys.argv[1])); text = open(sys.argv[2], encoding="utf-8").read()
field = lambda label: re.search(label + r"\s*: (.*)", text).group(1)
assert doc["ok"] and doc["integrity"] == {"executable": field("Executable file authenticity") == "OK",
                                          "package": field("Embedded package authenticity") == "OK"}
assert doc["product"] == field("Product name"), doc["product"]
assert doc["disk_count"] == int(field("Number of disks")) == len(doc["images"])
d, m, y, hh, mm = re.match(r"(\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d)", field("Data of creation of the setup")).groups()
assert doc["created"].startswith(f"{y}-{m}-{d}T{hh}:{mm}:") and doc["created"].endswith("Z")
listed = {}
image = None; directory = ""
for line in text.splitlines():
    if (h := re.match(r"Image (\d+):$", line)): image = int(h.group(1)); directory = ""; listed[image] = []
    elif (f := re.match(r"(\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d) +(\d+) (.*)$", line)) and image:
        d, m, y, hh, mm, size, path = f.groups()
        path = (directory + path.rstrip(".")).replace("\\", "/")
        listed[image].append((path, int(size), f"{y}-{m}-{d}T{hh}:{mm}"))
    elif (s := re.match(r" (.*\\)$", line)) and image: directory = s.group(1)
for img in doc["images"]:
    got = [(f["path"], f["size"], f["mtime"][:16]) for f in img["files"]]
    assert got == listed[img["index"]], (got, listed[img["index"]])
    assert 0 <= img["used_size"] <= img["size"] and re.fullmatch("[0-9a-f]{8}", img["crc32"])
    assert all(re.fullmatch("R?H?S?A?", f["attributes"]) for f in img["files"])
PY
done
check "ansi.exe: header texts become UTF-8 (JSON and a UTF-8 terminal)" test \
  "$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["product"])' "$work/ansi.exe.json")" = \
  "Café €" -a -n "$(grep -F 'Product name                  : Café €' "$work/ansi.exe.txt")"
"$build/floppyset" "$work/ansi.exe" /D --dest="$work/dëst" --yes >/dev/null 2>"$work/ansi.unpack.err"
check "ansi.exe: a message with a header text and a UTF-8 path shows both" \
  grep -qF "in $work/dëst/. For install \"Café €\"" "$work/ansi.unpack.err"
check "ansi.exe: --ansi-codepage=1251 reads other letters" test "$("$build/floppyset" "$work/ansi.exe" \
  --json /P --ansi-codepage=1251 | python3 -c 'import json,sys; print(json.load(sys.stdin)["product"])')" = "Cafй Ђ"
check "ansi.exe: flags of the header" python3 -c '
import json, sys; p = json.load(open(sys.argv[1]))["package"]
assert (p["boot_disk"], p["verify"], p["dialog_style"], p["archive"], p["images"]) == (True, False, 1, "apst", "fat12")' \
  "$work/ansi.exe.json"
check "flat.exe: an LHA unpack set without installer" python3 -c '
import json, sys; p = json.load(open(sys.argv[1]))["package"]
assert (p["archive"], p["images"], p["unpack"], p["installer"]) == ("lha", "flat", True, "")' "$work/flat.exe.json"
# A damaged or missing set: a document with the reason, and the status of the text run.
cp "$build/demo/demo.exe" "$work/damaged.exe"
printf 'Z' | dd of="$work/damaged.exe" bs=1 seek=30000 conv=notrunc 2>/dev/null
for bad in "$work/damaged.exe" "$work/missing.exe" "$build/mkfloppyset"; do
  "$build/floppyset" "$bad" /P >/dev/null 2>&1
  want=$?
  "$build/floppyset" "$bad" /P --json >"$work/bad.json" 2>/dev/null
  status=$?
  check "$(basename "$bad"): JSON with the reason, exit status $want" python3 -c '
import json, sys; d = json.load(open(sys.argv[1]))
assert d["ok"] is False and d["error"] and d["exit_status"] == int(sys.argv[2]) == int(sys.argv[3]) != 0' \
    "$work/bad.json" "$want" "$status"
done

# --- the installed tree and bash completion -------------------------------------------------
DESTDIR=$work/root cmake --install "$build" --prefix /usr >/dev/null
tree=$work/root/usr
check "install: programs, manual pages, documents, completion" test -x "$tree/bin/floppyset" -a \
  -x "$tree/bin/mkfloppyset" -a -f "$tree/share/man/man1/floppyset.1" -a \
  -f "$tree/share/man/man1/mkfloppyset.1" -a -f "$tree/share/doc/floppyset/README.md" -a \
  -f "$tree/share/doc/floppyset/LICENSE" -a -f "$tree/share/bash-completion/completions/floppyset" \
  -a -f "$tree/share/bash-completion/completions/mkfloppyset"
complete_words() {  # COMPLETION-FILE WORDS...: the completions of the last word
  (cd "$work" && bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    compopt() { :; }; _${1}; printf "%s\n" "${COMPREPLY[@]}"' _ "$@" | sort | tr '\n' ' ')
}
touch "$work/Other.EXE" "$work/notes.txt"
comp=$tree/share/bash-completion/completions/floppyset
check "completion: .exe files first" test "$(complete_words "$comp" floppyset '')" != "" -a \
  -n "$(complete_words "$comp" floppyset O | grep -F Other.EXE)" -a \
  -z "$(complete_words "$comp" floppyset n | grep -F notes.txt)"
check "completion: switches and long options" test \
  "$(complete_words "$comp" floppyset x.exe /)" = "/? /A /C: /D /E /F /L /P /S /W " -a \
  "$(complete_words "$comp" floppyset x.exe --j)" = "--json "
check "completion: mkfloppyset options" test "$(complete_words "$comp" mkfloppyset --ar)" = "--archive= "

# --- the Debian package ---------------------------------------------------------------
if [ "$(id -u)" = 0 ] && command -v dpkg-shlibdeps >/dev/null; then
  (cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1)
  deb=$(ls "$work"/deb/floppyset_*.deb 2>/dev/null | head -1)
  check "cpack: a .deb was made" test -n "$deb"
  if [ -n "$deb" ]; then
    depends=$(dpkg-deb -f "$deb" Depends)
    check "package depends on libc6 and libstdc++6 ($depends)" \
      test -n "$(echo "$depends" | grep -w libc6 | grep -w 'libstdc++6')"
    dpkg -i "$deb" >"$work/dpkg.log" 2>&1
    check "dpkg -i" test "$(dpkg-query -W -f='${Status}' floppyset 2>/dev/null)" = "install ok installed"
    check "installed floppyset --version" test "$(/usr/bin/floppyset --version)" = "floppyset 1.0.0"
    check "installed floppyset reports on the demo set" \
      grep -q 'Product name *: Tiny Demo' <(/usr/bin/floppyset "$build/demo/demo.exe" /P)
    check "the package holds the manual pages and completion" test "$(dpkg -L floppyset |
      grep -cE '/man/man1/(mkfloppyset|floppyset)\.1$|/completions/(mkfloppyset|floppyset)$')" = 4
    dpkg -r floppyset >>"$work/dpkg.log" 2>&1
    check "dpkg -r removes it" test ! -e /usr/bin/floppyset -a ! -e /usr/bin/mkfloppyset
  fi
else
  echo "skip: the Debian package (needs root and dpkg-shlibdeps)"
fi

[ "$failures" = 0 ] && { echo "install tests: all passed"; exit 0; }
echo "install tests: $failures failed"
exit 1
