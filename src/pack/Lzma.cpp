#include <lzma.h>
#include <stdio.h>

#include "LzmaSetup.h"
#include "Pack.h"

namespace kpack {

std::string LzmaEncode(const std::string& data, const LzmaSettings& settings, uint8_t props[5],
                       const BytesInCallback& onBytesIn) {
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, settings.preset | (settings.extreme ? LZMA_PRESET_EXTREME : 0)))
    throw PackError("unknown LZMA preset " + std::to_string(settings.preset));
  // The dictionary never needs to be larger than the data (nor smaller than 4 KiB): the
  // loader then asks for no more memory than the engine's size.
  uint64_t fit = data.size() < 4096 ? 4096 : data.size();
  if (options.dict_size > fit) options.dict_size = (uint32_t)fit;
  options.ext_flags = 0;  // no end marker: the header stores the size
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&strm, filters) != LZMA_OK) throw PackError("cannot set up the LZMA encoder");
  uint32_t d = options.dict_size;
  props[0] = (uint8_t)((options.pb * 5 + options.lp) * 9 + options.lc);
  for (int i = 0; i < 4; i++) props[1 + i] = (uint8_t)(d >> (8 * i));

  std::string out;
  const size_t kChunk = 1 << 20;
  std::string buffer(kChunk, '\0');
  size_t fed = 0;
  for (;;) {
    if (strm.avail_in == 0 && fed < data.size()) {
      size_t n = std::min(kChunk, data.size() - fed);
      strm.next_in = (const uint8_t*)data.data() + fed;
      strm.avail_in = n;
      fed += n;
    }
    strm.next_out = (uint8_t*)&buffer[0];
    strm.avail_out = kChunk;
    lzma_ret ret = lzma_code(&strm, fed == data.size() ? LZMA_FINISH : LZMA_RUN);
    out.append(buffer, 0, kChunk - strm.avail_out);
    if (onBytesIn) onBytesIn(strm.total_in);
    if (ret == LZMA_STREAM_END) break;
    if (ret != LZMA_OK) {
      lzma_end(&strm);
      throw PackError("LZMA encoding failed (" + std::to_string((int)ret) + ")");
    }
  }
  lzma_end(&strm);
  return out;
}

bool LzmaDecodesExactly(const std::string& packed, const uint8_t props[5], uint32_t unpackedSize,
                        std::string* why, std::string* head) {
  if (unpackedSize > 0x7FFFFFFFu) {
    *why = "the unpacked size is 2 GiB or more";
    return false;
  }
  lzma_options_lzma options;
  if (!LzmaOptionsFromProperties(props, unpackedSize, &options)) {
    *why = "the LZMA properties are not valid";
    return false;
  }
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream strm = LZMA_STREAM_INIT;
  lzma_ret ret = lzma_raw_decoder(&strm, filters);
  if (ret != LZMA_OK) {
    *why = ret == LZMA_MEM_ERROR ? "not enough memory for the decoder"
                                 : "the decoder refuses the LZMA properties (lc + lp above 4?)";
    return false;
  }
  if (unpackedSize == 0) {
    lzma_end(&strm);
    return true;
  }
  static thread_local uint8_t scratch[1 << 16];
  strm.next_in = (const uint8_t*)packed.data();
  strm.avail_in = packed.size();
  do {
    strm.next_out = scratch;
    strm.avail_out = sizeof scratch;
    ret = lzma_code(&strm, LZMA_FINISH);
    if (head && head->empty()) head->assign((const char*)scratch, sizeof scratch - strm.avail_out);
  } while (ret == LZMA_OK);
  bool exact = ret == LZMA_STREAM_END && strm.total_out == unpackedSize;
  if (!exact)
    *why = ret == LZMA_DATA_ERROR  ? "the compressed data are corrupt"
           : ret == LZMA_MEM_ERROR ? "not enough memory for the decoder"
                                   : "the compressed data end after " + std::to_string(strm.total_out) + " of " +
                                         std::to_string(unpackedSize) + " bytes";
  lzma_end(&strm);
  return exact;
}

}  // namespace kpack
