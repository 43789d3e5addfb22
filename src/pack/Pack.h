// kestrune-pack's library: putting installers together, and reading and verifying them.
// Installers are whole files in memory (std::string of bytes).
#pragma once

#include <stdint.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "StubTypes.h"

namespace kpack {

// A refusal with a message for the user.
struct PackError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// ---- Text
std::u16string Utf8ToUtf16(const std::string& text);  // throws PackError on bad UTF-8
std::string Utf16ToUtf8(const std::u16string& text);    // lone surrogates become U+FFFD

// ---- LZMA
struct LzmaSettings {
  uint32_t preset = 6;
  bool extreme = false;
};
// Raw LZMA1 with no end marker; fills the five property bytes.
std::string LzmaEncode(const std::string& data, const LzmaSettings& settings, uint8_t props[5],
                       bool showProgress = false);
// True when the stream decodes to exactly unpackedSize bytes as the loader decodes it; the
// bytes are passed through a small buffer, not kept.  On failure, why says what is wrong.
bool LzmaDecodesExactly(const std::string& packed, const uint8_t props[5], uint32_t unpackedSize,
                        std::string* why);

// ---- The loader's PE image
struct VersionInfo {
  std::string company, description, version, copyright;
};
// End of the last section's raw data: where the package goes.
uint32_t ImageEnd(const std::string& image);
// Writes the product's values into the image's version block (fixed-width fields).
void FillVersionBlock(std::string& image, const VersionInfo& info);
// The version block's strings, key by key in their order, and the fixed file version.
struct VersionBlock {
  std::vector<std::pair<std::string, std::string>> strings;
  uint16_t fileVersion[4] = {0, 0, 0, 0};
  uint16_t productVersion[4] = {0, 0, 0, 0};
};
std::optional<VersionBlock> ReadVersionBlock(const std::string& image);

// ---- Building
enum class Bitness { Both, Engine32ForAll, Only32, Only64 };

struct BuildOptions {
  std::string loader;  // the loader's bytes
  std::optional<std::string> engine32, engine64;
  Bitness bitness = Bitness::Both;
  TWindowsVersionSet versions = {{0, 0, 0, 0, 0, 0, 0, 0}};
  uint16_t minReleaseId = 0, maxReleaseId = kNoMaxReleaseId;
  uint8_t elevation = emAsInvoker;
  bool detached = false;
  std::u16string bitnessMessage, unsupportedMessage;
  std::string setupData;
  LzmaSettings lzma;
  VersionInfo version;
  bool progress = false;
};

std::string BuildInstaller(const BuildOptions& options);

// ---- Reading
struct Installer {
  TPackageLocator locator{};
  TPackageHeader header{};
  bool hasHeader = false;
  uint64_t fileSize = 0;
};
// Reads the locator and (when it lies inside the file) the header; never reads past the file.
Installer ReadInstaller(const std::string& file);
// A stored message as UTF-8, or nullopt when it does not lie inside the file.
std::optional<std::string> ReadMessage(const std::string& file, const TPackageMessage& message);

struct Check {
  std::string name;
  bool passed;
  std::string detail;
};
// The loader's checks, in its order, plus every engine decoding to exactly its size.
std::vector<Check> VerifyInstaller(const std::string& file);

// ---- Names
const char* WindowsVersionName(unsigned ordinal);  // "win10", or nullptr for no meaning
std::optional<unsigned> WindowsVersionOrdinal(const std::string& name);
const char* ElevationName(uint8_t mode);
const char* BitnessName(const TPackageHeader& header);

}  // namespace kpack
