// What kind of Windows image an engine is, read from its first bytes: the MZ header, the PE
// signature at e_lfanew and the machine of the file header.
#include "Pack.h"

namespace kpack {
namespace {

uint32_t Le(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; i--) v = v << 8 | (uint8_t)b[at + i];
  return v;
}

}  // namespace

ImageInfo ClassifyImage(const std::string& bytes) {
  ImageInfo info;
  if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return info;
  uint32_t nt = Le(bytes, 60, 4);
  if (nt > bytes.size() || bytes.size() - nt < 24 || Le(bytes, nt, 4) != 0x4550) return info;
  info.machine = (uint16_t)Le(bytes, nt + 4, 2);
  uint16_t characteristics = (uint16_t)Le(bytes, nt + 22, 2);
  const uint16_t kExecutable = 0x0002, kDll = 0x2000;
  info.kind = !(characteristics & kExecutable) || (characteristics & kDll) ? ImageKind::NotExecutable
              : info.machine == kMachineI386                               ? ImageKind::I386
              : info.machine == kMachineX8664                              ? ImageKind::X8664
                                                                           : ImageKind::OtherMachine;
  return info;
}

std::string ImageKindText(const ImageInfo& info) {
  char machine[8];
  snprintf(machine, sizeof machine, "0x%04X", info.machine);
  switch (info.kind) {
    case ImageKind::I386: return "a 32-bit (i386) Windows executable";
    case ImageKind::X8664: return "a 64-bit (x86-64) Windows executable";
    case ImageKind::OtherMachine: return std::string("a Windows executable for machine ") + machine;
    case ImageKind::NotExecutable: return "a Windows image that is no executable (a DLL?)";
    case ImageKind::NotWindows: break;
  }
  return "not a Windows executable";
}

std::string EngineSlotProblem(const ImageInfo& info, int bits) {
  ImageKind fits = bits == 32 ? ImageKind::I386 : ImageKind::X8664;
  if (info.kind == fits) return "";
  if (info.kind == ImageKind::I386) return "a 32-bit image given as the 64-bit engine";
  if (info.kind == ImageKind::X8664) return "a 64-bit image given as the 32-bit engine";
  return ImageKindText(info);
}

}  // namespace kpack
