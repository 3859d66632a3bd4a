#!/usr/bin/env bash
# Installs what building and testing floppyset needs on Debian 12; quiet when all is present.
# Usage: scripts/install-deps.sh [GROUP ...]   (default: every group)
#   build   compiler, CMake and Ninja: enough for the programs and the demo (./run.sh)
#   test    unit tests, benchmarks, fuzzing, the format oracles, packaging and manual checks
#   win32   the MinGW-w64 cross build and its tests under Wine in Xvfb
#   vm      the Linux floppy drivers in a virtual machine (tests/vm)
set -euo pipefail

build=(g++ cmake ninja-build)
test=(
  make clang clang-format libfuzzer-14-dev libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libstorm-dev dynamite libdynamite-dev jlha-utils lhasa liblhasa-dev libarchive-dev
  zlib1g-dev libisal-dev libcrcutil-dev mtools dosfstools
  groff-base python3 dpkg-dev file lintian
)
win32=(
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 fonts-wine xvfb xauth xdotool imagemagick osslsigncode
)
vm=(qemu-system-x86 linux-image-amd64 busybox-static cpio kmod python3)

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(build test win32 vm)
packages=()
for group in "${groups[@]}"; do
  case $group in
    build) packages+=("${build[@]}") ;;
    test) packages+=("${test[@]}") ;;
    win32) packages+=("${win32[@]}") ;;
    vm) packages+=("${vm[@]}") ;;
    *) echo "install-deps.sh: unknown group '$group' (build, test, win32, vm)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq </dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null
