// liblzma's options for a package's raw LZMA1 stream, from the header's five property bytes
// and the engine's known size.  One definition for the loader and for kestrune-pack's
// verify, so that both accept exactly the same streams.
#pragma once

#include <lzma.h>
#include <stdint.h>

// False when the bytes are no properties a stream can have (byte 0 of 225 or more, or a
// dictionary of 2 GiB or more); liblzma itself refuses lc + lp above 4.
inline bool LzmaOptionsFromProperties(const uint8_t props[5], uint32_t unpackedSize, lzma_options_lzma* options) {
  uint32_t dictSize = (uint32_t)props[1] | (uint32_t)props[2] << 8 | (uint32_t)props[3] << 16 |
                      (uint32_t)props[4] << 24;
  if (props[0] >= 225 || dictSize > 0x7FFFFFFFu) return false;
  uint8_t* bytes = (uint8_t*)options;
  for (unsigned i = 0; i < sizeof *options; i++) bytes[i] = 0;
  options->lc = props[0] % 9;
  options->lp = (props[0] / 9) % 5;
  options->pb = props[0] / 45;
  // No match reaches further back than the output made so far, so a dictionary larger than
  // the engine buys nothing but memory.
  uint32_t needed = unpackedSize > 4096 ? unpackedSize : 4096;
  options->dict_size = dictSize < needed ? dictSize : needed;
  // Knowing the size, liblzma stops exactly there and refuses a last match that would run
  // past it; a stream may still close with an end marker right after the last byte.
  options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  options->ext_size_low = unpackedSize;
  options->ext_size_high = 0;
  return true;
}
