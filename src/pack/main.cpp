// kestrune-pack: builds installers from the loader and one or two setup engines, and reads
// and verifies installers.
#include <stdio.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Host.h"
#include "Pack.h"

using namespace kpack;
using Json = nlohmann::ordered_json;

namespace {

const char kLoaderName[] = "Stub98.exe";

// Where the tool looks for its loader: beside itself (the build tree's dist/, or a folder
// it was unpacked to), then where an installation keeps it.
std::vector<std::string> LoaderCandidates() {
  std::string self = SelfFolder();
  if (self.empty()) return {};
  const char sep = PathSeparator();
  size_t up = self.rfind(sep);
  std::vector<std::string> places = {self + sep + kLoaderName};
  if (up != std::string::npos)
    places.push_back(self.substr(0, up) + sep + "share" + sep + "kestrune" + sep + kLoaderName);
  return places;
}

std::optional<std::string> FindLoader() {
  for (const std::string& path : LoaderCandidates())
    if (IsFile(path)) return path;
  return std::nullopt;
}

std::string LoaderPath(const std::string& given) {
  if (!given.empty()) return given;
  if (auto found = FindLoader()) return *found;
  std::string looked;
  for (const std::string& path : LoaderCandidates()) looked += (looked.empty() ? "" : " and ") + path;
  throw PackError("no loader found (looked for " + (looked.empty() ? std::string("none") : looked) +
                  "); name one with --loader");
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

Json MessageJson(const std::string& file, const TPackageMessage& m) {
  auto text = ReadMessage(file, m);
  return {{"offset", m.offset}, {"length", m.length}, {"text", text ? Json(*text) : Json(nullptr)}};
}

Json PayloadJson(const TPayloadEntry& p) {
  return {{"offset", p.offset}, {"packedSize", p.packedSize}, {"unpackedSize", p.unpackedSize}};
}

// Everything inspect can read of the file, with the records' field names.
Json InspectJson(const std::string& file, const Installer& in) {
  const TPackageLocator& l = in.locator;
  const TPackageHeader& h = in.header;
  Json o;
  o["fileSize"] = in.fileSize;
  if (in.fileSize >= kLocatorFileOffset + sizeof l)
    o["locator"] = {{"packageOffset", l.packageOffset},
                    {"checkedLength", l.checkedLength},
                    {"checkedCrc", l.checkedCrc},
                    {"expectedFileSize", l.expectedFileSize},
                    {"detachedMinSize", l.detachedMinSize}};
  if (in.hasHeader) {
    Json header;
    header["lzmaProperties"] = std::vector<unsigned>(h.lzmaProperties, h.lzmaProperties + 5);
    header["supportedVersions"] = VersionNames(h.supportedVersions);
    header["minReleaseId"] = h.minReleaseId;
    header["maxReleaseId"] = h.maxReleaseId;
    header["elevationMode"] = h.elevationMode;
    header["bitness"] = BitnessName(h);
    header["payload32"] = PayloadJson(h.payload32);
    header["payload64"] = PayloadJson(h.payload64);
    header["setupDataOffset"] = h.setupDataOffset;
    header["bitnessMessage"] = MessageJson(file, h.bitnessMessage);
    header["unsupportedWindowsMessage"] = MessageJson(file, h.unsupportedWindowsMessage);
    o["header"] = header;
  }
  if (auto version = ReadVersionBlock(file)) {
    Json block = Json::object();
    for (auto& [k, v] : version->strings) block[k] = v;
    o["versionBlock"] = block;
  }
  return o;
}

int Inspect(const std::string& path, bool json) {
  std::string file = ReadFile(path, "installer");
  Installer in = ReadInstaller(file);
  std::optional<std::string> problem = InstallerProblem(file, in);
  if (json) {
    Json o = InspectJson(file, in);
    o["installer"] = !problem;
    if (problem) o["problem"] = *problem;
    std::cout << o.dump(2) << "\n";
    return problem ? 1 : 0;
  }
  if (problem) {
    fprintf(stderr, "kestrune-pack: %s is not a Kestrune installer: %s\n", path.c_str(), problem->c_str());
    return 1;
  }
  // An installer: the locator and the header lie inside the file.
  const TPackageLocator& l = in.locator;
  const TPackageHeader& h = in.header;
  printf("Installer %s: %llu bytes\n", path.c_str(), (unsigned long long)in.fileSize);
  printf("Locator\n  packageOffset     %u\n  checkedLength     %u\n  checkedCrc        0x%08X\n"
         "  expectedFileSize  %lld\n  detachedMinSize   %u%s\n",
         l.packageOffset, l.checkedLength, l.checkedCrc, (long long)l.expectedFileSize, l.detachedMinSize,
         l.detachedMinSize ? " (detached: the loader does not wait)" : "");
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
    auto text = ReadMessage(file, *m);
    printf("  %s (%u units at %u): %s\n", name, m->length, m->offset,
           text ? ("\"" + *text + "\"").c_str() : "<not inside the file>");
  }
  if (auto version = ReadVersionBlock(file)) {
    printf("Version block\n");
    for (auto& [k, v] : version->strings) printf("  %-17s \"%s\"\n", k.c_str(), v.c_str());
  }
  return 0;
}

int Verify(const std::string& path, bool json) {
  std::string file = ReadFile(path, "installer");
  std::vector<Check> checks = VerifyInstaller(file);
  bool all = true;
  for (const Check& c : checks) all = all && c.passed;
  if (json) {
    Json list = Json::array();
    for (const Check& c : checks) list.push_back({{"name", c.name}, {"passed", c.passed}, {"detail", c.detail}});
    std::cout << Json{{"installer", path}, {"passed", all}, {"checks", list}}.dump(2) << "\n";
    return all ? 0 : 1;
  }
  for (const Check& c : checks) printf("%-4s %-28s %s\n", c.passed ? "ok" : "FAIL", c.name.c_str(), c.detail.c_str());
  printf(all ? "The installer passes every check.\n" : "The installer FAILS verification.\n");
  return all ? 0 : 1;
}

int Version() {
  printf("kestrune-pack %s\n", KESTRUNE_VERSION);
  if (auto loader = FindLoader()) {
    printf("loader: %s\nsha256: %s\n", loader->c_str(), Sha256Hex(ReadFile(*loader, "loader")).c_str());
  } else {
    std::string looked;
    for (const std::string& path : LoaderCandidates()) looked += (looked.empty() ? "" : ", ") + path;
    printf("loader: none found (looked for %s); build needs --loader\n", looked.c_str());
  }
  return 0;
}

// The progress line on a terminal: input bytes of all engines, rewritten in place.
class ProgressLine {
 public:
  void operator()(uint64_t done, uint64_t total) {
    int percent = total ? (int)(done * 100 / total) : 100;
    if (percent == shown_) return;
    shown_ = percent;
    fprintf(stderr, "\rcompressing: %.1f of %.1f MiB (%d%%)", done / 1048576.0, total / 1048576.0, percent);
    fflush(stderr);
  }
  ~ProgressLine() {
    if (shown_ >= 0) fprintf(stderr, "\n");
  }

 private:
  int shown_ = -1;
};

// An engine's bytes, checked to be an executable for the Windows that gets its slot.
std::string ReadEngine(const std::string& path, int bits, bool allowAny) {
  // The loader holds an engine in one block with a signed 32-bit size.
  std::string data = ReadFile(path, "engine", 0x7FFFFFFF);
  std::string problem = EngineSlotProblem(ClassifyImage(data), bits);
  if (!problem.empty() && !allowAny)
    throw PackError(path + ": " + problem + " (--allow-any-engine packs it anyway)");
  return data;
}

// The author's text (given on the command line or in a UTF-8 file), or the default when
// the author gave neither; an explicitly empty text stays empty.
std::u16string MessageFrom(CLI::App* build, const char* option, const std::string& text, const std::string& file,
                           const std::u16string& fallback) {
  if (!file.empty()) return Utf8ToUtf16(ReadFile(file, "message file"));
  if (build->count(option)) return Utf8ToUtf16(text);
  return fallback;
}

}  // namespace

int Main(int argc, char** argv) {
  PrepareConsole();
  CLI::App app{"kestrune-pack: builds, inspects and verifies Kestrune installers"};
  app.require_subcommand(0, 1);
  bool version = false;
  app.add_flag("--version", version, "The tool's version, and the loader it would use (path and SHA-256)");

  auto* build = app.add_subcommand("build", "Build an installer from the loader and setup engines");
  std::string loader, engine32, engine64, output, bitness, windows = "all", elevation = "asinvoker";
  std::string bitMsg, bitMsgFile, winMsg, winMsgFile, setupData;
  VersionInfo versionInfo;
  uint16_t minRelease = 0, maxRelease = kNoMaxReleaseId;
  bool detached = false, extreme = false, quiet = false, allowAnyEngine = false;
  uint32_t preset = 6;
  unsigned jobs = 2;
  build->add_option("--loader", loader,
                    "The loader as built (Stub98.exe); default: the one beside this tool, or in\n"
                    "../share/kestrune/ from it (kestrune-pack --version names it)")
      ;
  build->add_option("--engine32", engine32, "The setup engine for 32-bit Windows (an i386 Windows executable)");
  build->add_option("--engine64", engine64, "The setup engine for 64-bit Windows (an x86-64 Windows executable)");
  build->add_flag("--allow-any-engine", allowAnyEngine,
                  "Pack engines even when they are no Windows executable fitting their slot");
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
  build->add_option("--bitness-message", bitMsg,
                    "Text shown when no engine fits the Windows bitness; default: a plain text for the\n"
                    "bitness mode (\"\" stores an empty text)");
  build->add_option("--bitness-message-file", bitMsgFile, "The same, from a UTF-8 file");
  build->add_option("--unsupported-message", winMsg,
                    "Text shown on an unsupported Windows version; %USER% becomes the version's name;\n"
                    "default: a plain text that names it");
  build->add_option("--unsupported-message-file", winMsgFile, "The same, from a UTF-8 file");
  build->add_option("--setup-data", setupData, "A file appended to the package for the setup engine");
  build->add_option("--preset", preset, "LZMA preset 0..9")->check(CLI::Range(0, 9))->capture_default_str();
  build->add_flag("--extreme", extreme, "LZMA extreme mode");
  build->add_option("--jobs", jobs, "Threads for compressing two engines: 1 or 2 (the bytes are the same)")
      ->check(CLI::Range(1, 2))
      ->capture_default_str();
  build->add_flag("-q,--quiet", quiet, "No progress line and no summary");
  build->add_option("--company", versionInfo.company, "CompanyName of the version block");
  build->add_option("--description", versionInfo.description, "FileDescription of the version block");
  build->add_option("--product-version", versionInfo.version, "The product's version, 1.2.3.4")->default_val("1.0.0.0");
  build->add_option("--copyright", versionInfo.copyright, "LegalCopyright of the version block");
  build->add_option("-o,--output", output, "The installer to write")->required();

  auto* inspect = app.add_subcommand("inspect", "Show an installer's locator, header, messages and version block");
  std::string inspectPath;
  bool inspectJson = false;
  inspect->add_option("installer", inspectPath)->required();
  inspect->add_flag("--json", inspectJson, "The same as JSON, with the records' field names");

  auto* verify = app.add_subcommand("verify", "Check an installer as the loader will, and every engine's decoding");
  std::string verifyPath;
  bool verifyJson = false;
  verify->add_option("installer", verifyPath)->required();
  verify->add_flag("--json", verifyJson, "Each check's name, result and detail as JSON");

  CLI11_PARSE(app, argc, argv);
  try {
    if (version) return Version();
    if (*inspect) return Inspect(inspectPath, inspectJson);
    if (*verify) return Verify(verifyPath, verifyJson);
    if (!*build) {
      fprintf(stderr, "%s", app.help().c_str());
      return 2;
    }

    BuildOptions o;
    o.loader = ReadFile(LoaderPath(loader), "loader");
    if (!engine32.empty()) o.engine32 = ReadEngine(engine32, 32, allowAnyEngine);
    if (!engine64.empty()) o.engine64 = ReadEngine(engine64, 64, allowAnyEngine);
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
    o.bitnessMessage = MessageFrom(build, "--bitness-message", bitMsg, bitMsgFile, DefaultBitnessMessage(o.bitness));
    o.unsupportedMessage =
        MessageFrom(build, "--unsupported-message", winMsg, winMsgFile, DefaultUnsupportedMessage());
    if (!setupData.empty()) o.setupData = ReadFile(setupData, "setup data");
    o.lzma.preset = preset;
    o.lzma.extreme = extreme;
    o.version = versionInfo;
    o.jobs = jobs;
    std::string installer;
    if (!quiet && StderrIsTerminal()) {
      ProgressLine progress;
      installer = BuildInstaller(o, std::ref(progress));
    } else {
      installer = BuildInstaller(o);
    }
    WriteFileAtomically(output, installer);
    if (!quiet) printf("Wrote %s (%zu bytes)\n", output.c_str(), installer.size());
    return 0;
  } catch (const PackError& e) {
    fprintf(stderr, "kestrune-pack: %s\n", e.what());
    return 2;
  }
}

#ifdef _WIN32
// The command line as Windows has it, in UTF-16, turned into UTF-8 for everything inside.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; i++) args.push_back(Utf16ToUtf8(std::u16string(argv[i], argv[i] + wcslen(argv[i]))));
  std::vector<char*> pointers;
  for (std::string& a : args) pointers.push_back(&a[0]);
  pointers.push_back(nullptr);
  return Main(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return Main(argc, argv); }
#endif
