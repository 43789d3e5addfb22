// Times the loader's own DecodePayload (the same sources, over the simulated Windows) on one
// raw LZMA1 stream, and reports the heap it held at its peak.
//   decode-bench <stream file> <unpacked size> <property byte> <dictionary size>
// Prints: decode_seconds=<s> peak_heap=<bytes>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "CRC32.h"
#include "SimMachine.h"
#include "StubCore.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: decode-bench <stream> <unpacked size> <property byte> <dictionary size>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  std::string stream = s.str();
  uint32_t unpacked = (uint32_t)strtoul(argv[2], nullptr, 10);
  uint32_t dict = (uint32_t)strtoul(argv[4], nullptr, 10);

  // A package with the stream right behind the header; the checked region is the header.
  std::string file(1024, '\0');
  TPackageHeader header;
  memset(&header, 0, sizeof header);
  header.lzmaProperties[0] = (uint8_t)strtoul(argv[3], nullptr, 10);
  memcpy(header.lzmaProperties + 1, &dict, 4);
  header.payload32 = {(uint32_t)(file.size() + sizeof header), (uint32_t)stream.size(), unpacked};
  file.append((const char*)&header, sizeof header);
  file += stream;
  TPackageLocator locator{1024, (uint32_t)sizeof header, 0, (int64_t)file.size(), 0};
  locator.checkedCrc = ComputeCrc32(file.data() + 1024, (int32_t)sizeof header);
  memcpy(&file[128], &locator, sizeof locator);

  simwin::Machine m;
  m.AddFile(m.modulePath, file);
  double seconds = 0;
  bool ok = false;
  simwin::Outcome o = simwin::RunInProcess(m, [&] {
    HANDLE h = VerifyPackage();
    TStream input, output;
    auto start = std::chrono::steady_clock::now();
    DecodePayload(h, gHeader.payload32, input, output);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ok = (uint32_t)output.GetSize() == unpacked;
  });
  if (!ok || !o.boxes.empty()) {
    fprintf(stderr, "decode-bench: the loader refused the stream\n");
    return 1;
  }
  printf("decode_seconds=%.4f peak_heap=%llu\n", seconds, (unsigned long long)o.peakHeapBytes);
  return 0;
}
