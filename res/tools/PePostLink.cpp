// Post-link step for the loader image.  GNU ld always writes its own 64-byte DOS header and
// stub with the PE header at 0x80, and a checksum.  The loader needs bytes 120..255 free of
// anything Windows reads (the package locator goes at 128), so this rewrites bytes 0..255
// with our DOS header and stub, moves the NT headers and section table to 256, sets the
// image's characteristics and zeroes the checksum.
//   pe-postlink <image.exe>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace {

uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return (uint16_t)(b[at] | b[at + 1] << 8); }
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) { return Get16(b, at) | (uint32_t)Get16(b, at + 2) << 16; }
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = (uint8_t)v;
  b[at + 1] = (uint8_t)(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, (uint16_t)v);
  Put16(b, at + 2, (uint16_t)(v >> 16));
}

const uint32_t kNewHeaderOffset = 0x100;
const uint16_t kCharacteristics = 0x818F;

// DOS header fields (as 16-bit words from offset 2) and the stub that prints the message
// at stub offset 16 and ends with exit code 1.
const uint16_t kDosWords[] = {0x50, 2, 0, 4, 0x0F, 0xFFFF, 0, 0xB8, 0, 0, 0, 0x40, 0x1A};
const uint8_t kDosCode[16] = {0x0E, 0x1F, 0xBA, 0x10, 0x00, 0xB4, 0x09, 0xCD,
                              0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21, 0x90, 0x90};
const char kDosMessage[] = "This program must be run under Win32\r\n$";

int Fail(const char* what) {
  fprintf(stderr, "pe-postlink: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Fail("usage: pe-postlink <image.exe>");
  std::vector<uint8_t> image;
  {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) return Fail("cannot read the image");
    image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (image.size() < 0x400 || image[0] != 'M' || image[1] != 'Z') return Fail("not an MZ image");
  uint32_t oldHeader = Get32(image, 60);
  if (oldHeader + 24 > image.size() || memcmp(&image[oldHeader], "PE\0\0", 4) != 0) return Fail("no PE header");
  uint16_t sections = Get16(image, oldHeader + 6);
  uint16_t optionalSize = Get16(image, oldHeader + 20);
  size_t optional = oldHeader + 24;
  if (Get16(image, optional) != 0x10B) return Fail("not a PE32 image");
  uint32_t sizeOfHeaders = Get32(image, optional + 60);
  size_t length = 24 + optionalSize + (size_t)sections * 40;
  if (oldHeader + length > sizeOfHeaders) return Fail("headers run past SizeOfHeaders");
  if (kNewHeaderOffset + length > sizeOfHeaders) return Fail("no room for the headers at 256");
  uint32_t firstRaw = UINT32_MAX;
  uint32_t rawEnd = 0;
  for (uint16_t i = 0; i < sections; i++) {
    size_t s = oldHeader + 24 + optionalSize + (size_t)i * 40;
    uint32_t rawSize = Get32(image, s + 16), rawPointer = Get32(image, s + 20);
    if (rawSize && rawPointer < firstRaw) firstRaw = rawPointer;
    if (rawPointer + rawSize > rawEnd) rawEnd = rawPointer + rawSize;
  }
  if (firstRaw < sizeOfHeaders) return Fail("a section starts inside the headers");
  if (rawEnd % 512 != 0) return Fail("the last section does not end at a multiple of 512");
  // Anything behind the sections (a symbol table) is not part of the image.
  if (image.size() > rawEnd) image.resize(rawEnd);

  std::vector<uint8_t> headers(image.begin() + oldHeader, image.begin() + oldHeader + length);
  memset(&image[0], 0, sizeOfHeaders);
  image[0] = 'M';
  image[1] = 'Z';
  for (size_t i = 0; i < sizeof kDosWords / sizeof kDosWords[0]; i++) Put16(image, 2 + 2 * i, kDosWords[i]);
  Put32(image, 60, kNewHeaderOffset);
  memcpy(&image[64], kDosCode, sizeof kDosCode);
  memcpy(&image[80], kDosMessage, sizeof kDosMessage - 1);
  memcpy(&image[kNewHeaderOffset], headers.data(), headers.size());
  Put16(image, kNewHeaderOffset + 22, kCharacteristics);
  Put32(image, kNewHeaderOffset + 24 + 64, 0);  // CheckSum

  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write((const char*)image.data(), (std::streamsize)image.size());
  return out ? 0 : Fail("cannot write the image");
}
