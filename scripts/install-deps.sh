#!/usr/bin/env bash
# Installs every build and test dependency from Debian's packages, and makes sure that
# 32-bit programs run (Wine's 32-bit side needs them).  Idempotent: when everything is
# already there it only checks and returns within a second or two.
#
#   install-deps.sh                 32-bit programs natively where the kernel can; where it
#                                   cannot, qemu-user-static from bookworm-backports is
#                                   installed and registered for i386 ELF through binfmt_misc
#   install-deps.sh --emulate-i386  take the emulated path even where i386 runs natively
#   install-deps.sh --native-i386   remove that registration again
# KESTRUNE_I386=emulate or KESTRUNE_I386=native does the same as the options (for make).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=i386-mode.sh
. "$here/i386-mode.sh"

want=${KESTRUNE_I386:-auto}
case ${1:-} in
  --emulate-i386) want=emulate ;;
  --native-i386) want=native ;;
  "") ;;
  *) echo "usage: install-deps.sh [--emulate-i386 | --native-i386]" >&2; exit 2 ;;
esac
case $want in auto|emulate|native) ;; *) echo "install-deps: KESTRUNE_I386 is auto, emulate or native" >&2; exit 2 ;; esac

SUDO=
[ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

PKGS=(cmake g++ make pkg-config
      mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64
      wine wine32:i386 wine64
      liblzma-dev xz-utils googletest libgtest-dev libcli11-dev nlohmann-json3-dev
      python3-pytest python3-pefile osslsigncode
      clang-14 llvm-14 libclang-rt-14-dev
      zlib1g-dev dpkg-dev openssl)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "${PKGS[@]}"; do installed "$p" || missing+=("$p"); done

# liblzma for the loader is cross-built from Debian's source package, so deb-src must be on.
need_src=0
src_file=/etc/apt/sources.list.d/debian.sources
if [ -f "$src_file" ] && grep -q '^Types: deb$' "$src_file"; then
  need_src=1
fi
need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

if [ ${#missing[@]} -gt 0 ] || [ $need_src = 1 ] || [ $need_i386 = 1 ]; then
  if [ $need_i386 = 1 ]; then $SUDO dpkg --add-architecture i386; fi
  if [ $need_src = 1 ]; then $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' "$src_file"; fi
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list \
     && ! grep -q '^deb-src ' /etc/apt/sources.list; then
    $SUDO sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $SUDO tee -a /etc/apt/sources.list >/dev/null
  fi
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${PKGS[@]}"
fi

# ---- 32-bit programs.
# Where the kernel has its i386 user mode switched off, every i386 ELF fails with "Exec
# format error"; qemu's user-mode emulator, registered with binfmt_misc, runs them instead.
# Only qemu 10 (bookworm-backports) is fast enough: 7.2 from bookworm needs about a minute
# for each 32-bit Wine process.
BACKPORTS=/etc/apt/sources.list.d/kestrune-backports.sources
QEMU=/usr/bin/qemu-i386
ENTRY=qemu-i386
STAMP=/var/lib/kestrune/qemu-i386.registered

# The Debian archive this machine already uses, for the backports suite of its own.
debian_uri() {
  local uri
  uri=$(awk '/^URIs:/ {u=$2} /^Suites:/ && / bookworm( |$)/ {print u; exit}' /etc/apt/sources.list.d/*.sources 2>/dev/null)
  [ -n "$uri" ] || uri=$(awk '$1=="deb" && $3=="bookworm" {print $2; exit}' /etc/apt/sources.list 2>/dev/null)
  printf '%s\n' "$uri"
}

install_qemu() {
  local version
  version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
  case $version in 1:1[0-9].*|1:[2-9][0-9].*) [ -x "$QEMU" ] && return 0 ;; esac
  if [ ! -f "$BACKPORTS" ]; then
    local uri
    uri=$(debian_uri)
    [ -n "$uri" ] || { echo "install-deps: no Debian bookworm archive in the apt sources to take bookworm-backports from" >&2; exit 1; }
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$uri" | $SUDO tee "$BACKPORTS" >/dev/null
  fi
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user-static
}

# What identifies the interpreter file: a new qemu package means a new registration, since
# with flag F the kernel keeps the file it opened when the handler was registered.
qemu_identity() { stat -L -c '%i %s %Y' "$QEMU"; }

unregister() {
  [ -e "/proc/sys/fs/binfmt_misc/$ENTRY" ] && echo -1 | $SUDO tee "/proc/sys/fs/binfmt_misc/$ENTRY" >/dev/null
  $SUDO rm -f "$STAMP"
}

# Registers qemu for i386 ELF, once: again only when the interpreter changed.
register() {
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || {
      echo "install-deps: cannot mount binfmt_misc at /proc/sys/fs/binfmt_misc, so qemu cannot be registered for 32-bit programs" >&2
      exit 1; }
  fi
  local entry=/proc/sys/fs/binfmt_misc/$ENTRY
  if [ -e "$entry" ] && grep -qx "interpreter $QEMU" "$entry" \
     && [ "$(cat "$STAMP" 2>/dev/null)" = "$(qemu_identity)" ]; then
    grep -qx enabled "$entry" || echo 1 | $SUDO tee "$entry" >/dev/null
    return 0
  fi
  [ -e "$entry" ] && echo -1 | $SUDO tee "$entry" >/dev/null
  # i386 ELF executables and shared objects (e_type 2 or 3, e_machine 3).  F: the kernel
  # opens the interpreter now, so it works inside chroots and namespaces; P: argv[0] is kept.
  printf '%s' ":$ENTRY:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\xfc\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$QEMU:FP" \
    | $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
  $SUDO mkdir -p "${STAMP%/*}"
  qemu_identity | $SUDO tee "$STAMP" >/dev/null
}

case $want in
  native)
    unregister
    if i386_runs; then
      echo "install-deps: 32-bit programs run natively."
    else
      echo "install-deps: the emulator is unregistered, and this kernel cannot run 32-bit programs by itself;" \
           "'scripts/install-deps.sh' registers it again." >&2
      exit 1
    fi
    exit 0 ;;
  emulate)
    install_qemu
    register ;;
  auto)
    if handler=$(i386_handler) && [ "${handler##*/}" = "$ENTRY" ]; then
      install_qemu
      register            # a no-op unless qemu changed since it was registered
    elif ! i386_runs; then
      echo "install-deps: this kernel cannot run 32-bit programs; registering qemu-i386 from bookworm-backports." >&2
      install_qemu
      register
    fi ;;
esac

if ! i386_runs; then
  if [ -e /proc/sys/fs/binfmt_misc/$ENTRY ]; then
    echo "install-deps: 32-bit programs do not run, not even through qemu-i386 registered with binfmt_misc:" \
         "/usr/lib/wine/wine --version fails.  Wine's 32-bit side, Stub98.exe and the tests need one of the two." >&2
  else
    echo "install-deps: 32-bit programs do not run (/usr/lib/wine/wine --version fails), and no emulator is registered." >&2
  fi
  exit 1
fi
