#!/usr/bin/env bash
# Cross-builds the loader's liblzma from Debian's xz-utils source package: static, decoders
# only, LZMA1 only, no threads, no NLS, size-optimised.  The result is cached in the build
# tree; a second run with the library in place returns at once.
#   build-liblzma.sh <work dir> <install prefix> <host triplet>
set -euo pipefail
work=$1 prefix=$2 host=${3:-i686-w64-mingw32}
[ -f "$prefix/lib/liblzma.a" ] && exit 0
mkdir -p "$work"
cd "$work"
src=$(ls -d xz-utils-*/ 2>/dev/null | head -n 1 || true)
if [ -z "$src" ]; then
  apt-get source -q xz-utils >apt-source.log 2>&1 || { cat apt-source.log >&2; exit 1; }
  src=$(ls -d xz-utils-*/ | head -n 1)
fi
rm -rf obj && mkdir obj && cd obj
"../$src/configure" --host="$host" --prefix="$prefix" \
  --disable-shared --enable-static \
  --disable-encoders --enable-decoders=lzma1 --enable-match-finders= \
  --enable-checks=crc32 --disable-microlzma --disable-lzip-decoder \
  --enable-small --enable-threads=no --disable-nls --disable-assembler \
  --disable-clmul-crc --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo \
  --disable-lzma-links --disable-scripts --disable-doc --disable-dependency-tracking \
  CFLAGS="-Os -march=i386 -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables -fno-stack-protector" \
  >configure.log 2>&1 || { tail -n 30 configure.log >&2; exit 1; }
make -C src/liblzma -j"$(nproc)" >make.log 2>&1 || { tail -n 30 make.log >&2; exit 1; }
make -C src/liblzma install >>make.log 2>&1
