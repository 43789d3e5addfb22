#!/usr/bin/env bash
# Builds liblzma from Debian's xz-utils source package: static, LZMA1 only, no threads, no
# NLS; for the loader decoders only.  The result is cached in the build tree; a second run with
# the library in place returns at once.
#   build-liblzma.sh <work dir> <install prefix> <host triplet> [small|fast|tool]
# small: --enable-small at -Os (what the loader ships)
# fast:  the default decoder at -O2 (three times the decoder's code; make bench compares)
# For i686 the code is kept to the i386 instruction set: the loader runs on Windows 95
# hardware.  A host triplet builds the same configuration for this machine, as a stand-in
# that can be timed natively.
set -euo pipefail
work=$1 prefix=$2 host=${3:-i686-w64-mingw32} variant=${4:-small}
[ -f "$prefix/lib/liblzma.a" ] && exit 0
coders="--disable-encoders --enable-decoders=lzma1 --enable-match-finders="
case $variant in
  fast) opt="-O2" small="" ;;
  small) opt="-Os" small="--enable-small" ;;
  # kestrune-pack for Windows: encoder and decoder, built as Debian builds its own liblzma,
  # so that the Windows tool writes the same bytes as the Linux one.
  tool) opt="-O2" small="" coders="--enable-encoders=lzma1 --enable-decoders=lzma1 --enable-match-finders=hc3,hc4,bt2,bt3,bt4" ;;
  *) echo "build-liblzma.sh: variant is small, fast or tool" >&2; exit 2 ;;
esac
case $host in i686-*) opt="$opt -march=i386" ;; esac
mkdir -p "$work"
cd "$work"
# Several builds may share the work dir: one fetches the source, the others wait for it.
exec 9>source.lock
flock 9
src=$(ls -d xz-utils-*/ 2>/dev/null | head -n 1 || true)
if [ -z "$src" ]; then
  apt-get source -q xz-utils >apt-source.log 2>&1 || { cat apt-source.log >&2; exit 1; }
  src=$(ls -d xz-utils-*/ | head -n 1)
fi
flock -u 9
obj=obj-$host-$variant
rm -rf "$obj" && mkdir "$obj" && cd "$obj"
"../$src/configure" --host="$host" --prefix="$prefix" \
  --disable-shared --enable-static \
  $coders \
  --enable-checks=crc32 --disable-microlzma --disable-lzip-decoder \
  $small --enable-threads=no --disable-nls --disable-assembler \
  --disable-clmul-crc --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo \
  --disable-lzma-links --disable-scripts --disable-doc --disable-dependency-tracking \
  CFLAGS="$opt -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables -fno-stack-protector" \
  >configure.log 2>&1 || { tail -n 30 configure.log >&2; exit 1; }
make -C src/liblzma -j"$(nproc)" >make.log 2>&1 || { tail -n 30 make.log >&2; exit 1; }
make -C src/liblzma install >>make.log 2>&1
