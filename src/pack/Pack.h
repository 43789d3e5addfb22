// kestrune-pack's library: putting installers together, and reading and verifying them.
// Installers are whole files in memory (std::string of bytes).
#pragma once

#include <stdint.h>

#include <functional>
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
// Called with the count of input bytes consumed so far; from the encoding thread.
using BytesInCallback = std::function<void(uint64_t bytesIn)>;
// Raw LZMA1 with no end marker; fills the five property bytes.  Deterministic: the same
// data and settings give the same bytes, on any thread.
std::string LzmaEncode(const std::string& data, const LzmaSettings& settings, uint8_t props[5],
                       const BytesInCallback& onBytesIn = nullptr);
// True when the stream decodes to exactly unpackedSize bytes as the loader decodes it; the
// bytes are passed through a small buffer, not kept, but for the first up to 64 KiB, which
// go to head when it is given.  On failure, why says what is wrong.
bool LzmaDecodesExactly(const std::string& packed, const uint8_t props[5], uint32_t unpackedSize,
                        std::string* why, std::string* head = nullptr);

// ---- Engines: Windows executable images
const uint16_t kMachineI386 = 0x014C, kMachineX8664 = 0x8664;
enum class ImageKind { NotWindows, NotExecutable, I386, X8664, OtherMachine };
struct ImageInfo {
  ImageKind kind = ImageKind::NotWindows;
  uint16_t machine = 0;
};
// Reads the MZ header, the PE signature and the file header of an image's first bytes.
ImageInfo ClassifyImage(const std::string& bytes);
// "a 32-bit (i386) Windows executable", "not a Windows executable", ...
std::string ImageKindText(const ImageInfo& info);
// Empty when the image fits the engine slot of that bitness (32 or 64); otherwise what is
// wrong, e.g. "a 32-bit image given as the 64-bit engine".
std::string EngineSlotProblem(const ImageInfo& info, int bits);

// ---- SHA-256 of bytes, as 64 lowercase hex digits.
std::string Sha256Hex(const std::string& data);

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
  unsigned jobs = 2;  // threads for compressing the engines
};

// What the loader shows when the author gives no text: plain words fit to the bitness mode,
// and the unsupported Windows named through %USER%.
std::u16string DefaultBitnessMessage(Bitness bitness);
std::u16string DefaultUnsupportedMessage();

// Called with the input bytes of all engines consumed so far and their total; from the
// encoding threads, one call at a time.
using ProgressCallback = std::function<void(uint64_t done, uint64_t total)>;

// Two engines are compressed on two threads when jobs allows; the bytes are the same as
// those of a build on one thread.
std::string BuildInstaller(const BuildOptions& options, const ProgressCallback& onProgress = nullptr);

// ---- Reading
struct Installer {
  TPackageLocator locator{};
  TPackageHeader header{};
  bool hasHeader = false;
  uint64_t fileSize = 0;
};
// Reads the locator and (when it lies inside the file) the header; never reads past the file.
Installer ReadInstaller(const std::string& file);
// Why the file is no installer of ours (no MZ/PE image, no package attached, a locator that
// points outside the file), or nullopt when it is one.
std::optional<std::string> InstallerProblem(const std::string& file, const Installer& installer);
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
