// Putting an installer together: the loader's image, then the package
//   header | bitness message | unsupported-Windows message | engine 32 | engine 64 | setup data
// with the whole package under the CRC-32, the locator at 128 and the version block filled.
#include <string.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "CRC32.h"
#include "Pack.h"

namespace kpack {
namespace {

const uint64_t kTwoGiB = 0x80000000ull;

void CheckOffset(uint64_t offset, const char* what) {
  if (offset >= kTwoGiB)
    throw PackError(std::string(what) + " would lie at or past 2 GiB, which the loader cannot seek to");
}

void Append(std::string& file, const std::string& bytes, const char* what) {
  CheckOffset(file.size(), what);
  file += bytes;
}

std::string Utf16Bytes(const std::u16string& text) {
  std::string bytes;
  for (char16_t u : text) {
    bytes += (char)(u & 0xFF);
    bytes += (char)(u >> 8);
  }
  return bytes;
}

// One engine compressed, with its input bytes counted for the progress line.
struct Compressed {
  std::string packed;
  uint8_t props[5] = {0, 0, 0, 0, 0};
  std::atomic<uint64_t> bytesIn{0};
  std::exception_ptr error;
};

void Compress(const std::string& data, const LzmaSettings& settings, Compressed& out, const std::function<void()>& tick) {
  try {
    out.packed = LzmaEncode(data, settings, out.props, [&](uint64_t n) {
      out.bytesIn = n;
      if (tick) tick();
    });
  } catch (...) {
    out.error = std::current_exception();
  }
}

}  // namespace

std::u16string DefaultBitnessMessage(Bitness bitness) {
  switch (bitness) {
    case Bitness::Only64:
      return u"This installer needs a 64-bit version of Windows.  It cannot run on this 32-bit Windows.";
    case Bitness::Only32:
      return u"This installer is for 32-bit Windows only.  It cannot run on this 64-bit Windows.";
    default:
      return u"This installer has no setup program that can run on this Windows.";
  }
}

std::u16string DefaultUnsupportedMessage() {
  return u"This installer does not support %USER%.  Please run it on a version of Windows that the product "
         u"supports.";
}

std::string BuildInstaller(const BuildOptions& o, const ProgressCallback& onProgress) {
  std::string image = o.loader;
  uint32_t imageEnd = ImageEnd(image);
  if (image.size() != imageEnd)
    throw PackError("the loader carries " + std::to_string(image.size() - imageEnd) +
                    " bytes behind its image (is it an installer already?)");
  for (size_t i = kLocatorFileOffset; i < kLocatorFileOffset + sizeof(TPackageLocator); i++)
    if (image[i] != 0) throw PackError("the loader's bytes 128..151 are not zero: it is no loader as built");
  FillVersionBlock(image, o.version);

  bool need32 = o.bitness != Bitness::Only64, need64 = o.bitness == Bitness::Both || o.bitness == Bitness::Only64;
  if (need32 && !o.engine32) throw PackError("this bitness mode needs a 32-bit engine (--engine32)");
  if (need64 && !o.engine64) throw PackError("this bitness mode needs a 64-bit engine (--engine64)");
  if (!need32 && o.engine32) throw PackError("a 64-bit-only package takes no 32-bit engine");
  if (!need64 && o.engine64) throw PackError("this bitness mode takes no 64-bit engine");
  for (const auto* engine : {&o.engine32, &o.engine64})
    if (*engine && (*engine)->size() >= kTwoGiB) throw PackError("an engine of 2 GiB or more cannot be packaged");
  for (const auto* text : {&o.bitnessMessage, &o.unsupportedMessage})
    if (text->size() > 65535) throw PackError("a message is longer than 65535 UTF-16 units");

  TPackageHeader header;
  memset(&header, 0, sizeof header);
  header.supportedVersions = o.versions;
  header.minReleaseId = o.minReleaseId;
  header.maxReleaseId = o.maxReleaseId;
  header.elevationMode = o.elevation;

  std::string file = image;
  uint32_t packageOffset = (uint32_t)file.size();
  file.append(sizeof header, '\0');  // filled in below

  auto message = [&](const std::u16string& text, TPackageMessage& record) {
    CheckOffset(file.size(), "a message");
    record.offset = (uint32_t)file.size();
    record.length = (uint16_t)text.size();
    Append(file, Utf16Bytes(text), "a message");
  };
  message(o.bitnessMessage, header.bitnessMessage);
  message(o.unsupportedMessage, header.unsupportedWindowsMessage);

  // Each engine is compressed on its own: two of them on two threads when jobs allows.  An
  // encoding depends on its data and settings alone, so the bytes never depend on that.
  Compressed c32, c64;
  uint64_t total = (need32 ? o.engine32->size() : 0) + (need64 ? o.engine64->size() : 0);
  std::mutex progressLock;
  std::function<void()> tick;
  if (onProgress)
    tick = [&] {
      std::lock_guard<std::mutex> hold(progressLock);
      onProgress(c32.bytesIn + c64.bytesIn, total);
    };
  if (need32 && need64 && o.jobs >= 2) {
    std::thread second([&] { Compress(*o.engine64, o.lzma, c64, tick); });
    Compress(*o.engine32, o.lzma, c32, tick);
    second.join();
  } else {
    if (need32) Compress(*o.engine32, o.lzma, c32, tick);
    if (need64) Compress(*o.engine64, o.lzma, c64, tick);
  }
  for (Compressed* c : {&c32, &c64})
    if (c->error) std::rethrow_exception(c->error);

  // Both engines share one set of properties; the dictionary is the larger one.
  uint8_t props[5];
  memcpy(props, need32 ? c32.props : c64.props, 5);
  if (need32 && need64) {
    uint32_t a = props[1] | props[2] << 8 | props[3] << 16 | (uint32_t)props[4] << 24;
    uint32_t b = c64.props[1] | c64.props[2] << 8 | c64.props[3] << 16 | (uint32_t)c64.props[4] << 24;
    if (b > a) memcpy(props + 1, c64.props + 1, 4);
  }
  auto engine = [&](const std::string& data, const Compressed& c, TPayloadEntry& entry) {
    CheckOffset(file.size(), "an engine");
    entry.offset = (uint32_t)file.size();
    entry.packedSize = (uint32_t)c.packed.size();
    entry.unpackedSize = (uint32_t)data.size();
    Append(file, c.packed, "an engine");
  };
  if (need32) engine(*o.engine32, c32, header.payload32);
  if (need64) engine(*o.engine64, c64, header.payload64);
  if (o.bitness == Bitness::Only32) header.payload64.offset = kPayload64Refused;
  memcpy(header.lzmaProperties, props, 5);
  header.setupDataOffset = (uint32_t)file.size();
  if (!o.setupData.empty()) Append(file, o.setupData, "the setup data");
  if (file.size() - packageOffset >= kTwoGiB) throw PackError("the package is 2 GiB or more");
  memcpy(&file[packageOffset], &header, sizeof header);

  TPackageLocator locator;
  memset(&locator, 0, sizeof locator);
  locator.packageOffset = packageOffset;
  locator.checkedLength = (uint32_t)(file.size() - packageOffset);
  locator.checkedCrc = ComputeCrc32(file.data() + packageOffset, (int32_t)locator.checkedLength);
  locator.expectedFileSize = (int64_t)file.size();
  locator.detachedMinSize = o.detached ? (uint32_t)file.size() : 0;
  memcpy(&file[kLocatorFileOffset], &locator, sizeof locator);
  return file;
}

}  // namespace kpack
