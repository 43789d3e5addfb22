#!/usr/bin/env bash
# Installs every build and test dependency from Debian's packages.  Idempotent: when
# everything is already there it only checks and returns within a second or two.
set -euo pipefail

PKGS=(cmake g++ make pkg-config
      mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64
      wine wine32:i386 wine64
      liblzma-dev xz-utils googletest libgtest-dev libcli11-dev
      python3-pytest python3-pefile osslsigncode
      clang-14 llvm-14 libclang-rt-14-dev
      zlib1g-dev dpkg-dev openssl)

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# liblzma for the loader is cross-built from Debian's source package, so deb-src must be on.
need_src=0
src_file=/etc/apt/sources.list.d/debian.sources
if [ -f "$src_file" ] && grep -q '^Types: deb$' "$src_file"; then
  need_src=1
fi
need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

if [ ${#missing[@]} -eq 0 ] && [ $need_src = 0 ] && [ $need_i386 = 0 ]; then
  exit 0
fi

SUDO=
[ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if [ $need_i386 = 1 ]; then $SUDO dpkg --add-architecture i386; fi
if [ $need_src = 1 ]; then $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' "$src_file"; fi
if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list \
   && ! grep -q '^deb-src ' /etc/apt/sources.list; then
  $SUDO sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $SUDO tee -a /etc/apt/sources.list >/dev/null
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${PKGS[@]}"
