#!/usr/bin/env bash
# Installs what building and testing floppyset needs on Debian 12; quiet when all is present.
set -euo pipefail

packages=(
  g++ cmake make ninja-build clang clang-format libfuzzer-14-dev libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libstorm-dev dynamite libdynamite-dev jlha-utils lhasa liblhasa-dev libarchive-dev
  zlib1g-dev libisal-dev libcrcutil-dev mtools dosfstools
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine64 fonts-wine xvfb xauth xdotool imagemagick file osslsigncode
  # the floppy drivers in a virtual machine (tests/vm)
  qemu-system-x86 linux-image-amd64 busybox-static cpio kmod python3
)

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
