// Reading and verifying installers.  Files come from anywhere: every offset and size is
// checked against the file before it is used.
#include <string.h>

#include "CRC32.h"
#include "Pack.h"

namespace kpack {
namespace {

bool Inside(const std::string& file, uint64_t offset, uint64_t length) {
  return offset <= file.size() && length <= file.size() - offset;
}

std::string Hex32(uint32_t v) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

}  // namespace

Installer ReadInstaller(const std::string& file) {
  Installer in;
  in.fileSize = file.size();
  if (Inside(file, kLocatorFileOffset, sizeof in.locator))
    memcpy(&in.locator, file.data() + kLocatorFileOffset, sizeof in.locator);
  if (in.locator.packageOffset != 0 && Inside(file, in.locator.packageOffset, sizeof in.header)) {
    memcpy(&in.header, file.data() + in.locator.packageOffset, sizeof in.header);
    in.hasHeader = true;
  }
  return in;
}

std::optional<std::string> InstallerProblem(const std::string& file, const Installer& in) {
  if (ClassifyImage(file).kind == ImageKind::NotWindows) return std::string("not a Windows executable");
  // The loader leaves bytes 128..151 for the locator and puts its PE header behind them.
  uint32_t peHeader = 0;
  memcpy(&peHeader, file.data() + 60, 4);
  if (peHeader < kLocatorFileOffset + sizeof(TPackageLocator))
    return std::string("a Windows executable with no room for a package locator (no Kestrune loader)");
  if (in.locator.packageOffset == 0) return std::string("no package attached (a loader as built?)");
  if (!in.hasHeader) return std::string("its locator points outside the file");
  return std::nullopt;
}

std::optional<std::string> ReadMessage(const std::string& file, const TPackageMessage& message) {
  if (message.offset >= 0x80000000u || !Inside(file, message.offset, 2ull * message.length)) return std::nullopt;
  std::u16string text;
  for (uint32_t i = 0; i < message.length; i++) {
    size_t at = message.offset + 2ull * i;
    text += (char16_t)((uint8_t)file[at] | (uint8_t)file[at + 1] << 8);
  }
  return Utf16ToUtf8(text);
}

std::vector<Check> VerifyInstaller(const std::string& file) {
  std::vector<Check> checks;
  auto add = [&](const std::string& name, bool passed, const std::string& detail) {
    checks.push_back({name, passed, detail});
    return passed;
  };
  Installer in = ReadInstaller(file);
  const TPackageLocator& l = in.locator;
  if (!add("locator", Inside(file, kLocatorFileOffset, sizeof l), "24 bytes at file offset 128")) return checks;
  if (!add("package attached", l.packageOffset != 0, "packageOffset is " + Hex32(l.packageOffset))) return checks;

  bool sizeOk;
  std::string sizeDetail;
  if (l.detachedMinSize) {
    sizeOk = l.detachedMinSize <= (uint32_t)file.size();
    sizeDetail = "detached: low 32 bits of the size " + std::to_string((uint32_t)file.size()) + ", at least " +
                 std::to_string(l.detachedMinSize) + " needed";
  } else {
    sizeOk = l.expectedFileSize <= (int64_t)file.size();
    sizeDetail = "file has " + std::to_string(file.size()) + " bytes, " + std::to_string(l.expectedFileSize) +
                 " expected";
  }
  if (!add("size", sizeOk, sizeOk ? sizeDetail : "truncated: " + sizeDetail)) return checks;

  bool regionOk = l.checkedLength < 0x80000000u && l.packageOffset < 0x80000000u &&
                  Inside(file, l.packageOffset, l.checkedLength);
  if (!add("checked region", regionOk,
           std::to_string(l.checkedLength) + " bytes at " + std::to_string(l.packageOffset) +
               (regionOk ? "" : ": not inside the file or not below 2 GiB")))
    return checks;
  uint32_t crc = ComputeCrc32(file.data() + l.packageOffset, (int32_t)l.checkedLength);
  if (!add("crc-32", crc == l.checkedCrc, "computed " + Hex32(crc) + ", recorded " + Hex32(l.checkedCrc)))
    return checks;
  if (!add("header", in.hasHeader && l.packageOffset < 0x80000000u, "70 bytes at " + std::to_string(l.packageOffset)))
    return checks;

  const TPackageHeader& h = in.header;
  bool any = h.payload32.offset != 0 || (h.payload64.offset != 0 && h.payload64.offset != kPayload64Refused);
  add("engines", any, std::string("bitness mode ") + BitnessName(h));
  struct {
    const char* name;
    const TPayloadEntry* entry;
  } engines[] = {{"engine 32", &h.payload32}, {"engine 64", &h.payload64}};
  for (auto& e : engines) {
    const TPayloadEntry& p = *e.entry;
    if (p.offset == 0 || (e.entry == &h.payload64 && p.offset == kPayload64Refused)) continue;
    if (p.offset >= 0x80000000u || !Inside(file, p.offset, p.packedSize)) {
      add(e.name, false, std::to_string(p.packedSize) + " bytes at " + std::to_string(p.offset) + " not inside the file");
      continue;
    }
    std::string why, head;
    bool exact =
        LzmaDecodesExactly(file.substr(p.offset, p.packedSize), h.lzmaProperties, p.unpackedSize, &why, &head);
    add(e.name, exact, exact ? "decodes to exactly " + std::to_string(p.unpackedSize) + " bytes" : "does not decode: " + why);
    // What the loader will start: an executable for the Windows that gets this slot.  In
    // the 32-for-all mode the one 32-bit engine serves 64-bit Windows too.
    if (exact) {
      ImageInfo image = ClassifyImage(head);
      int bits = e.entry == &h.payload32 ? 32 : 64;
      std::string problem = EngineSlotProblem(image, bits);
      add(std::string(e.name) + " image", problem.empty(), problem.empty() ? ImageKindText(image) : problem);
    }
  }
  struct {
    const char* name;
    const TPackageMessage* message;
  } messages[] = {{"bitness message", &h.bitnessMessage}, {"unsupported-Windows message", &h.unsupportedWindowsMessage}};
  for (auto& m : messages) {
    bool ok = ReadMessage(file, *m.message).has_value();
    add(m.name, ok,
        std::to_string(m.message->length) + " units at " + std::to_string(m.message->offset) +
            (ok ? "" : ": not inside the file or not below 2 GiB"));
  }
  return checks;
}

}  // namespace kpack
