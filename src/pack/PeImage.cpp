// The few things kestrune-pack reads and writes in the loader's PE image: where the image
// ends, and the version block in the resources.
#include <string.h>

#include "Pack.h"

namespace kpack {
namespace {

uint32_t Get16(const std::string& b, size_t at) {
  if (at + 2 > b.size()) throw PackError("the loader image is cut short");
  return (uint8_t)b[at] | (uint32_t)(uint8_t)b[at + 1] << 8;
}
uint32_t Get32(const std::string& b, size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }
void Put16(std::string& b, size_t at, uint32_t v) {
  b[at] = (char)v;
  b[at + 1] = (char)(v >> 8);
}

struct Section {
  uint32_t va, vsize, raw, rawSize;
};

struct Pe {
  std::vector<Section> sections;
  uint32_t resourceRva = 0;
};

Pe ParsePe(const std::string& image) {
  if (image.size() < 64 || image[0] != 'M' || image[1] != 'Z') throw PackError("the loader is not an MZ image");
  uint32_t nt = Get32(image, 60);
  if (Get32(image, nt) != 0x4550) throw PackError("the loader has no PE header");
  uint32_t count = Get16(image, nt + 6), optionalSize = Get16(image, nt + 20);
  size_t optional = nt + 24;
  if (Get16(image, optional) != 0x10B) throw PackError("the loader is not a PE32 image");
  Pe pe;
  if (Get32(image, optional + 92) > 2) pe.resourceRva = Get32(image, optional + 96 + 2 * 8);
  for (uint32_t i = 0; i < count; i++) {
    size_t s = optional + optionalSize + i * 40;
    pe.sections.push_back({Get32(image, s + 12), Get32(image, s + 8), Get32(image, s + 20), Get32(image, s + 16)});
  }
  return pe;
}

size_t RvaToOffset(const Pe& pe, uint32_t rva) {
  for (const Section& s : pe.sections)
    if (rva >= s.va && rva - s.va < s.rawSize) return s.raw + (rva - s.va);
  throw PackError("the loader's resources point outside its sections");
}

// The file offset and size of the first RT_VERSION resource.
std::pair<size_t, size_t> FindVersionResource(const std::string& image) {
  Pe pe = ParsePe(image);
  if (!pe.resourceRva) throw PackError("the loader has no resources");
  size_t root = RvaToOffset(pe, pe.resourceRva);
  // Descends type 16 (RT_VERSION), then the first name, then the first language.
  auto entryFor = [&](size_t dir, int id) -> uint32_t {
    uint32_t named = Get16(image, dir + 12), ids = Get16(image, dir + 14);
    for (uint32_t i = 0; i < named + ids; i++) {
      size_t e = dir + 16 + i * 8;
      if (id < 0 || Get32(image, e) == (uint32_t)id) return Get32(image, e + 4);
    }
    throw PackError("the loader has no version block");
  };
  uint32_t level = entryFor(root, 16);
  if (!(level & 0x80000000u)) throw PackError("malformed resource directory");
  level = entryFor(root + (level & 0x7FFFFFFFu), -1);
  if (!(level & 0x80000000u)) throw PackError("malformed resource directory");
  level = entryFor(root + (level & 0x7FFFFFFFu), -1);
  if (level & 0x80000000u) throw PackError("malformed resource directory");
  size_t data = root + level;
  size_t offset = RvaToOffset(pe, Get32(image, data));
  size_t size = Get32(image, data + 4);
  if (offset + size > image.size()) throw PackError("the version block runs past the image");
  return {offset, size};
}

// One node of the version block: wLength, wValueLength, wType, key, value, children.
struct Node {
  size_t start, length, valueAt, valueLength, childrenAt;
  std::u16string key;
};

size_t Align4(size_t at, size_t base) { return base + ((at - base + 3) & ~(size_t)3); }

Node ReadNode(const std::string& b, size_t at, size_t base) {
  Node n;
  n.start = at;
  n.length = Get16(b, at);
  n.valueLength = Get16(b, at + 2);
  size_t p = at + 6;
  while (Get16(b, p) != 0) {
    n.key += (char16_t)Get16(b, p);
    p += 2;
  }
  p += 2;
  n.valueAt = Align4(p, base);
  bool text = Get16(b, at + 4) == 1;
  size_t valueBytes = text ? n.valueLength * 2 : n.valueLength;
  n.childrenAt = Align4(n.valueAt + valueBytes, base);
  if (n.length < 6 || at + n.length > b.size()) throw PackError("malformed version block");
  return n;
}

template <typename F>
void ForEachChild(const std::string& b, const Node& parent, size_t base, F f) {
  for (size_t at = parent.childrenAt; at + 6 <= parent.start + parent.length;) {
    Node child = ReadNode(b, at, base);
    f(child);
    at = Align4(child.start + child.length, base);
  }
}

template <typename F>
void ForEachString(const std::string& image, F f) {
  size_t offset = FindVersionResource(image).first;
  Node root = ReadNode(image, offset, offset);
  ForEachChild(image, root, offset, [&](const Node& info) {
    if (info.key != u"StringFileInfo") return;
    ForEachChild(image, info, offset, [&](const Node& table) {
      ForEachChild(image, table, offset, [&](const Node& s) { f(s); });
    });
  });
}

// "1.2.3.4" into four numbers.
void ParseVersion(const std::string& text, uint16_t out[4]) {
  memset(out, 0, 4 * sizeof out[0]);
  size_t i = 0;
  int part = 0;
  while (part < 4) {
    size_t start = i;
    unsigned long v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 6) v = v * 10 + (unsigned)(text[i++] - '0');
    if (i == start || v > 65535) throw PackError("the version must be up to four numbers 0..65535, as 1.2.3.4");
    out[part++] = (uint16_t)v;
    if (i == text.size()) return;
    if (text[i++] != '.') break;
  }
  throw PackError("the version must be up to four numbers 0..65535, as 1.2.3.4");
}

}  // namespace

uint32_t ImageEnd(const std::string& image) {
  Pe pe = ParsePe(image);
  uint32_t end = 0;
  for (const Section& s : pe.sections)
    if (s.rawSize && s.raw + s.rawSize > end) end = s.raw + s.rawSize;
  if (end > image.size()) throw PackError("the loader image is cut short");
  return end;
}

void FillVersionBlock(std::string& image, const VersionInfo& info) {
  uint16_t numbers[4];
  ParseVersion(info.version.empty() ? "0.0.0.0" : info.version, numbers);
  std::string shortVersion = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]);
  const std::pair<const char16_t*, std::string> values[] = {
      {u"CompanyName", info.company},
      {u"FileDescription", info.description},
      {u"FileVersion", info.version},
      {u"LegalCopyright", info.copyright},
      {u"ProductVersion", shortVersion},
      {u"Comments", "Built with kestrune-pack by Tarnwell - https://www.tarnwell.com/kestrune"},
  };
  ForEachString(image, [&](const Node& s) {
    for (const auto& [key, value] : values) {
      if (s.key != key) continue;
      std::u16string text = Utf8ToUtf16(value);
      size_t room = s.valueLength ? s.valueLength - 1 : 0;  // the terminator stays
      if (text.size() > room)
        throw PackError(Utf16ToUtf8(key) + " is longer than the " + std::to_string(room) + " characters it has room for");
      text.resize(room, u' ');
      for (size_t i = 0; i < room; i++) Put16(image, s.valueAt + 2 * i, text[i]);
    }
  });
  size_t offset = FindVersionResource(image).first;
  Node root = ReadNode(image, offset, offset);
  if (root.valueLength < 52 || Get32(image, root.valueAt) != 0xFEEF04BDu) throw PackError("malformed version block");
  size_t fixed = root.valueAt;
  for (size_t pair : {fixed + 8, fixed + 16}) {  // file version, then product version
    Put16(image, pair, numbers[1]);
    Put16(image, pair + 2, numbers[0]);
    Put16(image, pair + 4, numbers[3]);
    Put16(image, pair + 6, numbers[2]);
  }
}

std::optional<VersionBlock> ReadVersionBlock(const std::string& image) {
  try {
    VersionBlock block;
    ForEachString(image, [&](const Node& s) {
      std::u16string value;
      for (size_t i = 0; i + 1 < s.valueLength; i++) value += (char16_t)Get16(image, s.valueAt + 2 * i);
      block.strings.emplace_back(Utf16ToUtf8(s.key), Utf16ToUtf8(value));
    });
    size_t offset = FindVersionResource(image).first;
    Node root = ReadNode(image, offset, offset);
    size_t fixed = root.valueAt;
    uint16_t* targets[2] = {block.fileVersion, block.productVersion};
    for (int k = 0; k < 2; k++) {
      size_t pair = fixed + 8 + 8 * k;
      targets[k][0] = (uint16_t)Get16(image, pair + 2);
      targets[k][1] = (uint16_t)Get16(image, pair);
      targets[k][2] = (uint16_t)Get16(image, pair + 6);
      targets[k][3] = (uint16_t)Get16(image, pair + 4);
    }
    return block;
  } catch (const PackError&) {
    return std::nullopt;
  }
}

}  // namespace kpack
