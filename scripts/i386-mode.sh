#!/usr/bin/env bash
# How 32-bit (i386) programs run on this machine, and with them Wine's 32-bit side and every
# 32-bit Windows program: natively, emulated by qemu through binfmt_misc, or not at all.
#   i386-mode.sh            one line for people
#   i386-mode.sh --short    native | emulated | unavailable
# Sourced by install-deps.sh for i386_handler and i386_runs.
BINFMT=${KESTRUNE_BINFMT:-/proc/sys/fs/binfmt_misc}  # another folder only for tests

# The enabled binfmt_misc entry that takes i386 ELF programs, if any: its file name.
# The kernel consults these before its own ELF loader, so such an entry means emulation
# even on a machine that could run i386 itself.
i386_handler() {
  [ "$(cat "$BINFMT/status" 2>/dev/null)" = enabled ] || return 1
  local entry
  for entry in "$BINFMT"/*; do
    case "${entry##*/}" in register|status) continue ;; esac
    grep -qx enabled "$entry" 2>/dev/null || continue
    # ELF, 32-bit, little-endian ... e_machine 3 (i386) at offset 18.
    if grep -q '^magic 7f454c460101.\{24\}0300' "$entry" 2>/dev/null; then
      printf '%s\n' "$entry"
      return 0
    fi
  done
  return 1
}

# True when a 32-bit program of Wine's starts and answers.
i386_runs() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

i386_mode() {
  if ! i386_runs; then echo unavailable
  elif i386_handler >/dev/null; then echo emulated
  else echo native
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  mode=$(i386_mode)
  if [ "${1:-}" = --short ]; then
    echo "$mode"
    exit 0
  fi
  case $mode in
    native) echo "32-bit Windows programs run natively (i386 user mode of the kernel)." ;;
    emulated)
      interp=$(sed -n 's/^interpreter //p' "$(i386_handler)")
      version=$("$interp" --version 2>/dev/null | head -n 1)
      echo "32-bit Windows programs run EMULATED: ${version:-$interp} through binfmt_misc" \
           "(about 10x slower to start; timings of 32-bit code say nothing about a real machine)." ;;
    *) echo "32-bit Windows programs cannot run here: run scripts/install-deps.sh." ;;
  esac
fi
