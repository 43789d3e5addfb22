#include "Pack.h"

namespace kpack {

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  size_t i = 0;
  auto bad = [] { throw PackError("the message is not valid UTF-8"); };
  while (i < text.size()) {
    unsigned char c = (unsigned char)text[i];
    uint32_t cp = 0;
    int extra = 0;
    if (c < 0x80) cp = c, extra = 0;
    else if ((c & 0xE0) == 0xC0) cp = c & 0x1F, extra = 1;
    else if ((c & 0xF0) == 0xE0) cp = c & 0x0F, extra = 2;
    else if ((c & 0xF8) == 0xF0) cp = c & 0x07, extra = 3;
    else bad();
    if (i + extra >= text.size()) bad();
    for (int k = 1; k <= extra; k++) {
      unsigned char t = (unsigned char)text[i + k];
      if ((t & 0xC0) != 0x80) bad();
      cp = cp << 6 | (t & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) bad();
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += (char16_t)(0xD800 + (cp >> 10));
      out += (char16_t)(0xDC00 + (cp & 0x3FF));
    } else {
      out += (char16_t)cp;
    }
    i += (size_t)extra + 1;
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      i++;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += (char)cp;
    } else if (cp < 0x800) {
      out += (char)(0xC0 | cp >> 6);
      out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += (char)(0xE0 | cp >> 12);
      out += (char)(0x80 | ((cp >> 6) & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    } else {
      out += (char)(0xF0 | cp >> 18);
      out += (char)(0x80 | ((cp >> 12) & 0x3F));
      out += (char)(0x80 | ((cp >> 6) & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

static const char* const kVersionNames[12] = {"win95", "win98", "winme", "nt4",  "win2000", "winxp",
                                              "vista", "win7",  "win8",  "win81", "win10",  "win11"};

const char* WindowsVersionName(unsigned ordinal) {
  if (ordinal < 12) return kVersionNames[ordinal];
  if (ordinal == wvOther) return "other";
  return nullptr;
}

std::optional<unsigned> WindowsVersionOrdinal(const std::string& name) {
  for (unsigned i = 0; i < 12; i++)
    if (name == kVersionNames[i]) return i;
  if (name == "other") return (unsigned)wvOther;
  return std::nullopt;
}

const char* ElevationName(uint8_t mode) {
  switch (mode) {
    case emAsInvoker: return "asinvoker";
    case emRunAs: return "runas";
    case emNoAdmin: return "noadmin";
    default: return "asinvoker (unknown value)";
  }
}

const char* BitnessName(const TPackageHeader& h) {
  if (h.payload32.offset == 0) return "64-only";
  if (h.payload64.offset == kPayload64Refused) return "32-only";
  if (h.payload64.offset == 0) return "32-for-all";
  return "both";
}

}  // namespace kpack
