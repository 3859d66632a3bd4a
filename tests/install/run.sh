#!/usr/bin/env bash
# What a user gets from a build (tests/install/run.sh BUILD-DIR): manual pages, JSON reports
# (parsed by python3, compared with the text reports), the installed tree, bash completion,
# and the Debian package, installed with dpkg, run and removed (as root only).
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$build/install-tests
rm -rf "$work" && mkdir -p "$work"
export TZ=UTC LC_ALL=C.UTF-8
failures=0
check() { if "${@:2}"; then echo "ok:   $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi; }
json() { python3 -c "import json, sys; d = json.load(open(sys.argv[1])); $2" "$1" "${@:3}"; }  # FILE CODE ARGS

# --- manual pages -----------------------------------------------------------------------
for page in floppyset mkfloppyset; do
  man=$root/docs/man/$page.1
  check "$page.1 formats without warnings" test -z "$(groff -man -ww -z "$man" 2>&1)"
  missing=$("$build/$page" --help | grep -oE -- '--[a-z][a-z0-9-]*|(^|[ (])(/[A-Z?](:[nN])?|-[a-z],)' |
    tr -d ' (,' | sed 's/:[nN]$/:/' | sort -u | while read -r option; do
      sed 's/\\-/-/g; s/\\fI[^\\]*\\fP//g; s/\\f[BIRP]//g' "$man" | grep -qF -- "$option" || echo "$option"
    done)
  check "$page.1 lists every option of --help${missing:+ (missing: $missing)}" test -z "$missing"
done

check "floppyset --help fits 80 columns" test -z "$("$build/floppyset" --help | awk 'length > 80')"

# --- JSON reports of the demo, an LHA unpack set, and texts outside ASCII -------------------
mkdir -p "$work/flat/disk1/SUB" "$work/flat/disk2" && echo readme >"$work/flat/disk1/README.TXT"
echo inner >"$work/flat/disk1/SUB/INNER.TXT" && head -c 5000 /dev/zero >"$work/flat/disk2/DATA.BIN"
"$build/mkfloppyset" -o "$work/flat.exe" --archive=lha --product="Flat set" --installer= \
  --created=2001-02-03T04:05:06 "$work/flat/disk1" "$work/flat/disk2"
# "Café €" is stored in Windows-1252 and read back as UTF-8.
"$build/mkfloppyset" -o "$work/ansi.exe" --product='Café €' --boot-disk --verify=0 \
  --dialog-style=1 "$build/demo/images/disk1.img"
for set in "$build/demo/demo.exe" "$work/flat.exe" "$work/ansi.exe"; do
  name=$(basename "$set") && "$build/floppyset" "$set" /A /P /L >"$work/$name.txt"
  "$build/floppyset" "$set" --json >"$work/$name.json"
  check "$name: --json agrees with /A /P /L" python3 - "$work/$name.json" "$work/$name.txt" <<'PY'
import json, re, sys
doc = json.load(open(sys.argv[1])); text = open(sys.argv[2], encoding="utf-8").read()
field = lambda label: re.search(label + r"\s*: (.*)", text).group(1)
assert doc["ok"] and doc["integrity"] == {"executable": field("Executable file authenticity") == "OK",
                                          "package": field("Embedded package authenticity") == "OK"}
assert doc["product"] == field("Product name") and doc["disk_count"] == int(field("Number of disks")) == len(doc["images"])
d, m, y, hh, mm = re.match(r"(\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d)", field("Data of creation of the setup")).groups()
assert doc["created"].startswith(f"{y}-{m}-{d}T{hh}:{mm}:") and doc["created"].endswith("Z")
listed, image, directory = {}, None, ""
for line in text.splitlines():
    if (h := re.match(r"Image (\d+):$", line)): image, directory = int(h.group(1)), ""; listed[image] = []
    elif (f := re.match(r"(\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d) +(\d+) (.*)$", line)) and image:
        d, m, y, hh, mm, size, path = f.groups()
        listed[image].append(((directory + path.rstrip(".")).replace("\\", "/"), int(size), f"{y}-{m}-{d}T{hh}:{mm}"))
    elif (s := re.match(r" (.*\\)$", line)) and image: directory = s.group(1)
assert {i["index"]: [(f.get("dos_path", f["path"]), f["size"], f["mtime"][:16]) for f in i["files"]] for i in doc["images"]} == listed
PY
done
check "ansi.exe: header texts become UTF-8 (JSON and a UTF-8 terminal)" json "$work/ansi.exe.json" 'assert d["product"] \
  == "Café €" and "Product name                  : Café €" in open(sys.argv[2], encoding="utf-8").read()' "$work/ansi.exe.txt"
"$build/floppyset" "$work/ansi.exe" /D --dest="$work/dëst" --yes >/dev/null 2>"$work/ansi.unpack.err"
check "ansi.exe: a message with a header text and a UTF-8 path shows both" \
  grep -qF "in $work/dëst/. For install \"Café €\"" "$work/ansi.unpack.err"
check "ansi.exe: --ansi-codepage=1251 reads other letters" json <("$build/floppyset" "$work/ansi.exe" --json /P \
  --ansi-codepage=1251) 'assert d["product"] == "Cafй Ђ"'
# Each file's CRC-32 is that of the file unpacked; several files give one document per line.
"$build/floppyset" -qy --dest "$work/demo-out" /D "$build/demo/demo.exe"
check "demo.exe: files' crc32 agree with the unpacked files" json "$work/demo.exe.json" 'import zlib
assert d["schema"] == 1 and d["file"] == sys.argv[2]
for i in d["images"]:
    for f in i["files"]:
        assert "%08x" % zlib.crc32(open(sys.argv[3] + "/disk%d/" % i["index"] + f["path"], "rb").read()) == f["crc32"], f' \
  "$build/demo/demo.exe" "$work/demo-out"
"$build/floppyset" --json "$build/demo/demo.exe" "$work/flat.exe" "$work/missing.exe" >"$work/several.json" 2>/dev/null
status=$?
check "--json with several files: one document per line, the worst status" python3 - "$work/several.json" "$status" <<'PY'
import json, sys
docs = [json.loads(line) for line in open(sys.argv[1])]
assert [d["ok"] for d in docs] == [True, True, False] and int(sys.argv[2]) == 1
assert docs[1]["images"][0]["empty_directories"] == [] and docs[0]["file"].endswith("demo.exe")
PY
# A report keeps the archive and images in memory: no file of the run grows past 64 KiB.
check "a report writes no temporary file (ulimit -f 64)" bash -c 'ulimit -f 64 && "$1" --json "$2" >/dev/null' _ \
  "$build/floppyset" "$build/demo/demo.exe"
# DOS names unpack in the locale's encoding, as mcopy writes them, and an empty directory is listed.
mkdir -p "$work/oem/disk1/EMPTY" && echo x >"$work/oem/disk1/CAFÉ.TXT"  # stored as CP437 0x90
"$build/mkfloppyset" --fat12 -o "$work/oem-img" "$work/oem/disk1" >/dev/null
"$build/mkfloppyset" -o "$work/oem.exe" "$work/oem-img/disk1.img" >/dev/null
"$build/floppyset" -qy --dest "$work/oem-out" /D "$work/oem.exe"
check "a CP437 name unpacks as UTF-8 under a UTF-8 locale" test -f "$work/oem-out/disk1/CAFÉ.TXT"
if command -v mcopy >/dev/null; then
  mkdir -p "$work/oem-mcopy" && mcopy -s -i "$work/oem-img/disk1.img" ::/ "$work/oem-mcopy/"
  check "... the same names as mcopy gives" diff <(cd "$work/oem-mcopy" && find . | sort) <(cd "$work/oem-out/disk1" && find . | sort)
fi
check "... and JSON lists the empty directory" json <("$build/floppyset" --json /L "$work/oem.exe") \
  'assert d["images"][0]["empty_directories"] == ["EMPTY"] and d["images"][0]["files"][0]["path"] == "CAFÉ.TXT"'
# A damaged or missing set: a document with the reason, and the status of the text run.
cp "$build/demo/demo.exe" "$work/damaged.exe" && printf 'Z' | dd of="$work/damaged.exe" bs=1 seek=30000 conv=notrunc 2>/dev/null
for bad in "$work/damaged.exe" "$work/missing.exe" "$build/mkfloppyset"; do
  "$build/floppyset" "$bad" /P >/dev/null 2>&1; want=$?
  "$build/floppyset" "$bad" /P --json >"$work/bad.json" 2>/dev/null; status=$?
  check "$(basename "$bad"): JSON with the reason, exit status $want" json "$work/bad.json" \
    'assert d["ok"] is False and d["error"] and d["exit_status"] == int(sys.argv[2]) == int(sys.argv[3]) != 0' "$want" "$status"
done

# --- the installed tree and bash completion -------------------------------------------------
DESTDIR=$work/root cmake --install "$build" --prefix /usr >/dev/null && touch "$work/Other.EXE" "$work/notes.txt"
tree=$work/root/usr
for file in bin/floppyset bin/mkfloppyset share/man/man1/floppyset.1.gz share/man/man1/mkfloppyset.1.gz \
  share/doc/floppyset/README.md share/doc/floppyset/copyright share/doc/floppyset/changelog.gz \
  share/bash-completion/completions/floppyset share/bash-completion/completions/mkfloppyset; do
  check "install: $file" test -s "$tree/$file"
done
check "install: the manual page is the source, gzip -9n" cmp <(gzip -dc "$tree/share/man/man1/floppyset.1.gz") \
  "$root/docs/man/floppyset.1"
mkdir -p "$work/outdir"
# What an interactive bash (on a pseudo-terminal, with its own COMP_WORDBREAKS) shows after
# typing KEYS (TAB completes) in $work: Ctrl-A and "echo " turn the line into its own output.
typed() {  # KEYS EXPECTED-LINE
  { printf 'PS1="$ "; source %q; cd %q\n%s\001echo \n' \
      "$tree/share/bash-completion/completions/floppyset" "$work" "$1"; sleep 0.5; printf 'exit\n'; } |
    script -qfc "bash --norc --noprofile -i" /dev/null | sed 's/\x1b\[[?0-9;]*[a-zA-Z@]//g' |
    tr '\r' '\n' | grep -qxF -- "$2"
}
for keys_line in $'floppyset Oth\t|floppyset Other.EXE' $'floppyset n\t|floppyset n' \
  $'floppyset x.exe /C\t|floppyset x.exe /C:' $'floppyset x.exe --j\t|floppyset x.exe --json' \
  $'floppyset --dest=ou\t|floppyset --dest=outdir/' $'floppyset -y --images ou\t|floppyset -y --images outdir/' \
  $'floppyset --drive=ou\t x.exe|floppyset --drive=outdir/ x.exe' $'floppyset --device=Oth\t|floppyset --device=Other.EXE' \
  $'floppyset x.exe --oem-codepage=86\t|floppyset x.exe --oem-codepage=866' \
  $'floppyset --ansi-c\t43\t|floppyset --ansi-codepage=437' $'mkfloppyset --ar\t|mkfloppyset --archive='; do
  keys=${keys_line%%|*}
  check "completion in bash: ${keys//$'\t'/<TAB>} gives ${keys_line#*|}" typed "$keys" "${keys_line#*|}"
done

# --- the Debian package ---------------------------------------------------------------
if ! (cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) || ! deb=$(ls "$work"/deb/floppyset_*.deb); then
  check "cpack makes a .deb" false
else
  check "package depends on libc6 and libstdc++6" grep -qE 'libc6.*libstdc\+\+6|libstdc\+\+6.*libc6' <<<"$(dpkg-deb -f "$deb" Depends)"
  if command -v lintian >/dev/null; then
    lintian --fail-on error,warning --allow-root "$deb" >"$work/lintian.log" 2>&1
    check "lintian: no errors or warnings$(grep -E '^[EW]:' "$work/lintian.log" | sed 's/^/\n  /')" \
      test -z "$(grep -E '^[EW]:' "$work/lintian.log")"
  else
    echo "skip: lintian (scripts/install-deps.sh test installs it)"
  fi
fi
if [ "$(id -u)" != 0 ] || [ -z "${deb-}" ]; then
  echo "skip: installing the Debian package (needs root)"
else
  # Another dpkg (an apt run elsewhere on the machine) may hold the lock for a while.
  for _ in 1 2 3 4 5 6; do
    dpkg -i "$deb" >"$work/dpkg.log" 2>&1 && break
    grep -q 'lock' "$work/dpkg.log" || break
    sleep 10
  done
  check "dpkg -i" test "$(dpkg-query -W -f='${Status}' floppyset 2>/dev/null)" = "install ok installed"
  check "installed floppyset: --version, a report" test "$(/usr/bin/floppyset --version)" = "floppyset 1.0.0" -a \
    -n "$(/usr/bin/floppyset "$build/demo/demo.exe" /P | grep 'Product name *: Tiny Demo')"
  check "the package holds the manual pages and completion" test "$(dpkg -L floppyset |
    grep -cE '/man/man1/(mkfloppyset|floppyset)\.1\.gz$|/completions/(mkfloppyset|floppyset)$')" = 4
  dpkg -r floppyset >>"$work/dpkg.log" 2>&1
  check "dpkg -r removes it" test ! -e /usr/bin/floppyset -a ! -e /usr/bin/mkfloppyset
fi
echo "install tests: $failures failed" && exit $((failures != 0))
