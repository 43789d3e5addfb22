// kestrune-pack: builds installers from the loader and one or two setup engines, and reads
// and verifies installers.
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Pack.h"

using namespace kpack;

namespace {

std::string ReadFile(const std::string& path, const char* what, uint64_t limit = UINT64_MAX) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    throw PackError(std::string("cannot read ") + what + " " + path + ": no such file");
  if ((uint64_t)st.st_size > limit)
    throw PackError(std::string(what) + " " + path + " is too large (" + std::to_string(st.st_size) + " bytes)");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackError(std::string("cannot read ") + what + " " + path);
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) throw PackError(std::string("cannot read ") + what + " " + path);
  return s.str();
}

// Written to a temporary name and renamed: a refused or failed build leaves no output file.
void WriteFileAtomically(const std::string& path, const std::string& bytes) {
  std::string temp = path + ".kestrune-tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    out.close();
    if (!out) {
      unlink(temp.c_str());
      throw PackError("cannot write " + path);
    }
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    throw PackError("cannot write " + path);
  }
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') out += '\\', out += (char)c;
    else if (c < 0x20) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else out += (char)c;
  }
  return out + "\"";
}

std::vector<std::string> VersionNames(const TWindowsVersionSet& set) {
  std::vector<std::string> names;
  for (unsigned i = 0; i < 64; i++)
    if (VersionSetHas(set, i) && WindowsVersionName(i)) names.push_back(WindowsVersionName(i));
  return names;
}

std::string Props(const uint8_t p[5]) {
  char buf[64];
  uint32_t dict = p[1] | p[2] << 8 | p[3] << 16 | (uint32_t)p[4] << 24;
  snprintf(buf, sizeof buf, "lc %u lp %u pb %u dictionary %u", p[0] % 9, (p[0] / 9) % 5, p[0] / 45, dict);
  return buf;
}

int Inspect(const std::string& path, bool json) {
  std::string file = ReadFile(path, "installer");
  Installer in = ReadInstaller(file);
  const TPackageLocator& l = in.locator;
  const TPackageHeader& h = in.header;
  auto message = [&](const TPackageMessage& m) { return ReadMessage(file, m); };
  auto version = ReadVersionBlock(file);
  if (json) {
    std::ostringstream o;
    o << "{\n  \"fileSize\": " << in.fileSize << ",\n  \"locator\": {\"packageOffset\": " << l.packageOffset
      << ", \"checkedLength\": " << l.checkedLength << ", \"checkedCrc\": " << l.checkedCrc
      << ", \"expectedFileSize\": " << l.expectedFileSize << ", \"detachedMinSize\": " << l.detachedMinSize << "}";
    if (in.hasHeader) {
      o << ",\n  \"header\": {\n    \"lzmaProperties\": [";
      for (int i = 0; i < 5; i++) o << (i ? ", " : "") << (unsigned)h.lzmaProperties[i];
      o << "],\n    \"supportedVersions\": [";
      auto names = VersionNames(h.supportedVersions);
      for (size_t i = 0; i < names.size(); i++) o << (i ? ", " : "") << JsonString(names[i]);
      o << "],\n    \"minReleaseId\": " << h.minReleaseId << ",\n    \"maxReleaseId\": " << h.maxReleaseId
        << ",\n    \"elevationMode\": " << (unsigned)h.elevationMode << ",\n    \"bitness\": "
        << JsonString(BitnessName(h));
      for (auto [name, p] : {std::pair<const char*, const TPayloadEntry*>{"payload32", &h.payload32},
                             {"payload64", &h.payload64}})
        o << ",\n    \"" << name << "\": {\"offset\": " << p->offset << ", \"packedSize\": " << p->packedSize
          << ", \"unpackedSize\": " << p->unpackedSize << "}";
      o << ",\n    \"setupDataOffset\": " << h.setupDataOffset;
      for (auto [name, m] : {std::pair<const char*, const TPackageMessage*>{"bitnessMessage", &h.bitnessMessage},
                             {"unsupportedWindowsMessage", &h.unsupportedWindowsMessage}}) {
        auto text = message(*m);
        o << ",\n    \"" << name << "\": {\"offset\": " << m->offset << ", \"length\": " << m->length
          << ", \"text\": " << (text ? JsonString(*text) : "null") << "}";
      }
      o << "\n  }";
    }
    if (version) {
      o << ",\n  \"versionBlock\": {";
      bool first = true;
      for (auto& [k, v] : version->strings) {
        o << (first ? "" : ", ") << JsonString(k) << ": " << JsonString(v);
        first = false;
      }
      o << "}";
    }
    o << "\n}\n";
    std::cout << o.str();
    return 0;
  }
  printf("Installer %s: %llu bytes\n", path.c_str(), (unsigned long long)in.fileSize);
  printf("Locator\n  packageOffset     %u\n  checkedLength     %u\n  checkedCrc        0x%08X\n"
         "  expectedFileSize  %lld\n  detachedMinSize   %u%s\n",
         l.packageOffset, l.checkedLength, l.checkedCrc, (long long)l.expectedFileSize, l.detachedMinSize,
         l.detachedMinSize ? " (detached: the loader does not wait)" : "");
  if (!in.hasHeader) {
    printf("No package header inside the file.\n");
  } else {
    printf("Header\n  lzmaProperties    %s\n  supportedVersions", Props(h.lzmaProperties).c_str());
    for (auto& n : VersionNames(h.supportedVersions)) printf(" %s", n.c_str());
    printf("\n  releases          %u..%u%s\n  elevationMode     %s\n  bitness           %s\n", h.minReleaseId,
           h.maxReleaseId, h.maxReleaseId >= kNoMaxReleaseId ? " (no upper bound)" : "", ElevationName(h.elevationMode),
           BitnessName(h));
    for (auto [name, p] : {std::pair<const char*, const TPayloadEntry*>{"payload32", &h.payload32},
                           {"payload64", &h.payload64}})
      printf("  %-17s offset %u, packed %u, unpacked %u\n", name, p->offset, p->packedSize, p->unpackedSize);
    printf("  setupDataOffset   %u\n", h.setupDataOffset);
    for (auto [name, m] : {std::pair<const char*, const TPackageMessage*>{"bitnessMessage", &h.bitnessMessage},
                           {"unsupportedWindowsMessage", &h.unsupportedWindowsMessage}}) {
      auto text = message(*m);
      printf("  %s (%u units at %u): %s\n", name, m->length, m->offset,
             text ? ("\"" + *text + "\"").c_str() : "<not inside the file>");
    }
  }
  if (version) {
    printf("Version block\n");
    for (auto& [k, v] : version->strings) printf("  %-17s \"%s\"\n", k.c_str(), v.c_str());
  }
  return 0;
}

int Verify(const std::string& path) {
  std::string file = ReadFile(path, "installer");
  bool all = true;
  for (const Check& c : VerifyInstaller(file)) {
    printf("%-4s %-28s %s\n", c.passed ? "ok" : "FAIL", c.name.c_str(), c.detail.c_str());
    all = all && c.passed;
  }
  printf(all ? "The installer passes every check.\n" : "The installer FAILS verification.\n");
  return all ? 0 : 1;
}

std::u16string MessageFrom(const std::string& text, const std::string& file) {
  if (!file.empty()) return Utf8ToUtf16(ReadFile(file, "message file"));
  return Utf8ToUtf16(text);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"kestrune-pack: builds, inspects and verifies Kestrune installers"};
  app.require_subcommand(1);

  auto* build = app.add_subcommand("build", "Build an installer from the loader and setup engines");
  std::string loader, engine32, engine64, output, bitness, windows = "all", elevation = "asinvoker";
  std::string bitMsg, bitMsgFile, winMsg, winMsgFile, setupData;
  VersionInfo version;
  uint16_t minRelease = 0, maxRelease = kNoMaxReleaseId;
  bool detached = false, extreme = false;
  uint32_t preset = 6;
  build->add_option("--loader", loader, "The loader as built (Stub98.exe)")->required()->check(CLI::ExistingFile);
  build->add_option("--engine32", engine32, "The setup engine for 32-bit Windows");
  build->add_option("--engine64", engine64, "The setup engine for 64-bit Windows");
  build->add_option("--bitness", bitness,
                    "both | 32-for-all (one 32-bit engine everywhere) | 32-only (64-bit Windows refused) | 64-only;\n"
                    "default: both with two engines, 32-for-all or 64-only with one")
      ->check(CLI::IsMember({"both", "32-for-all", "32-only", "64-only"}));
  build->add_option("--windows", windows,
                    "Supported Windows versions, comma-separated: win95 win98 winme nt4 win2000 winxp vista win7\n"
                    "win8 win81 win10 win11 other, or all")
      ->capture_default_str();
  build->add_option("--min-release", minRelease, "Lowest accepted Windows 10 release, e.g. 1809")->capture_default_str();
  build->add_option("--max-release", maxRelease, "Highest accepted Windows 10 release; 9999: no upper bound")
      ->capture_default_str();
  build->add_option("--elevation", elevation, "asinvoker | runas | noadmin")
      ->check(CLI::IsMember({"asinvoker", "runas", "noadmin"}))
      ->capture_default_str();
  build->add_flag("--detached", detached, "The loader starts the engine and returns without waiting");
  build->add_option("--bitness-message", bitMsg, "Text shown when no engine fits the Windows bitness");
  build->add_option("--bitness-message-file", bitMsgFile, "The same, from a UTF-8 file");
  build->add_option("--unsupported-message", winMsg,
                    "Text shown on an unsupported Windows version; %USER% becomes the version's name");
  build->add_option("--unsupported-message-file", winMsgFile, "The same, from a UTF-8 file");
  build->add_option("--setup-data", setupData, "A file appended to the package for the setup engine");
  build->add_option("--preset", preset, "LZMA preset 0..9")->check(CLI::Range(0, 9))->capture_default_str();
  build->add_flag("--extreme", extreme, "LZMA extreme mode");
  build->add_option("--company", version.company, "CompanyName of the version block");
  build->add_option("--description", version.description, "FileDescription of the version block");
  build->add_option("--product-version", version.version, "The product's version, 1.2.3.4")->default_val("1.0.0.0");
  build->add_option("--copyright", version.copyright, "LegalCopyright of the version block");
  build->add_option("-o,--output", output, "The installer to write")->required();

  auto* inspect = app.add_subcommand("inspect", "Show an installer's locator, header, messages and version block");
  std::string inspectPath;
  bool json = false;
  inspect->add_option("installer", inspectPath)->required();
  inspect->add_flag("--json", json, "The same as JSON, with the records' field names");

  auto* verify = app.add_subcommand("verify", "Check an installer as the loader will, and every engine's decoding");
  std::string verifyPath;
  verify->add_option("installer", verifyPath)->required();

  CLI11_PARSE(app, argc, argv);
  try {
    if (*inspect) return Inspect(inspectPath, json);
    if (*verify) return Verify(verifyPath);

    BuildOptions o;
    o.loader = ReadFile(loader, "loader");
    // The loader holds an engine in one block with a signed 32-bit size.
    const uint64_t kEngineLimit = 0x7FFFFFFF;
    if (!engine32.empty()) o.engine32 = ReadFile(engine32, "engine", kEngineLimit);
    if (!engine64.empty()) o.engine64 = ReadFile(engine64, "engine", kEngineLimit);
    if (bitness.empty()) bitness = o.engine32 && o.engine64 ? "both" : o.engine64 ? "64-only" : "32-for-all";
    o.bitness = bitness == "both"         ? Bitness::Both
                : bitness == "32-for-all" ? Bitness::Engine32ForAll
                : bitness == "32-only"    ? Bitness::Only32
                                          : Bitness::Only64;
    std::stringstream list(windows);
    for (std::string name; std::getline(list, name, ',');) {
      if (name == "all") {
        for (unsigned i = 0; i < 12; i++) VersionSetAdd(o.versions, i);
        VersionSetAdd(o.versions, wvOther);
      } else if (auto ordinal = WindowsVersionOrdinal(name)) {
        VersionSetAdd(o.versions, *ordinal);
      } else if (!name.empty()) {
        throw PackError("unknown Windows version '" + name + "' (see --help)");
      }
    }
    o.minReleaseId = minRelease;
    o.maxReleaseId = maxRelease;
    o.elevation = elevation == "runas" ? emRunAs : elevation == "noadmin" ? emNoAdmin : emAsInvoker;
    o.detached = detached;
    o.bitnessMessage = MessageFrom(bitMsg, bitMsgFile);
    o.unsupportedMessage = MessageFrom(winMsg, winMsgFile);
    if (!setupData.empty()) o.setupData = ReadFile(setupData, "setup data");
    o.lzma.preset = preset;
    o.lzma.extreme = extreme;
    o.version = version;
    o.progress = isatty(2);
    std::string installer = BuildInstaller(o);
    WriteFileAtomically(output, installer);
    printf("Wrote %s (%zu bytes)\n", output.c_str(), installer.size());
    return 0;
  } catch (const PackError& e) {
    fprintf(stderr, "kestrune-pack: %s\n", e.what());
    return 2;
  }
}
