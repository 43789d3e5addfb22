#include "TestSupport.h"

namespace test {

// Written out here, word for word, independently of the loader's own copies.
const char* const kTextPackageDamaged =
    "An error occurred while trying to read the setup package.  It has most likely been damaged.  Please obtain a "
    "new copy from the vendor.";
const char* const kTextTruncated =
    "The setup package has been truncated.  You most likely have an incomplete download.  Try downloading it again.";
const char* const kTextTempCopy =
    "An error occurred while trying to create a temporary copy of the setup package.  Please make sure that you have "
    "sufficient access rights to this computer to install software and that the Windows TEMP folder can be written "
    "to.  You can make this installer use a different folder for its temporary files using the /temp command line "
    "parameter followed by the path to a folder you can write to and run applications from.";
const char* const kTextLaunch =
    "The temporary copy of the setup package could not be executed.  Your system may have a software restriction "
    "policy in place that blocks executables in the temporary files folder.  You can make this installer use a "
    "different folder for its temporary files using the /temp command line parameter followed by the path to a "
    "folder you can write to and run applications from.";

void ExpectFatal(const Outcome& o, const char* text, const std::string& caption) {
  ASSERT_FALSE(o.crashed);
  ASSERT_EQ(o.boxes.size(), 1u);
  EXPECT_EQ(o.boxes[0].text, text);
  EXPECT_EQ(o.boxes[0].caption, caption);
  EXPECT_TRUE(o.boxes[0].ownerNull);
  EXPECT_EQ(o.boxes[0].style, 0x10u);
  EXPECT_TRUE(o.exited);
  EXPECT_EQ(o.exitCode, 0u);
}

}  // namespace test

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "CRC32.h"
#include "Pack.h"

namespace test {

Package::Package() : image(1024, '\0') {
  memset(&header, 0, sizeof header);
  for (unsigned i = 0; i < 12; i++) VersionSetAdd(header.supportedVersions, i);
  VersionSetAdd(header.supportedVersions, wvOther);
  header.maxReleaseId = 9999;
  const uint8_t props[5] = {0x5D, 0, 0, 1, 0};  // lc 3 lp 0 pb 2, 64 KiB
  memcpy(header.lzmaProperties, props, 5);
}

uint32_t Package::Add(const std::string& bytes) {
  uint32_t at = Here();
  body += bytes;
  return at;
}

TPayloadEntry Package::AddEngine(const std::string& data, int bits) {
  kpack::LzmaSettings settings;
  settings.preset = 1;
  std::string packed = kpack::LzmaEncode(data, settings, header.lzmaProperties);
  TPayloadEntry entry{Add(packed), (uint32_t)packed.size(), (uint32_t)data.size()};
  (bits == 32 ? header.payload32 : header.payload64) = entry;
  return entry;
}

std::string Utf16(const std::u16string& text) {
  std::string bytes;
  for (char16_t u : text) bytes += (char)(u & 0xFF), bytes += (char)(u >> 8);
  return bytes;
}

TPackageMessage Package::AddMessage(const std::u16string& text, TPackageMessage& field) {
  field.offset = Add(Utf16(text));
  field.length = (uint16_t)text.size();
  return field;
}

std::string Package::Finish(uint32_t detachedMinSize) const {
  std::string file = image;
  file.append((const char*)&header, sizeof header);
  file += body;
  TPackageLocator locator;
  memset(&locator, 0, sizeof locator);
  locator.packageOffset = PackageOffset();
  locator.checkedLength = (uint32_t)(file.size() - PackageOffset());
  locator.checkedCrc = ComputeCrc32(file.data() + PackageOffset(), (int32_t)locator.checkedLength);
  locator.expectedFileSize = (int64_t)file.size();
  locator.detachedMinSize = detachedMinSize;
  memcpy(&file[kLocatorFileOffset], &locator, sizeof locator);
  return file;
}

std::string EngineBytes(size_t size, unsigned seed) {
  std::string data(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; i++) {
    x = x * 1103515245u + 12345u;
    // Mostly a small alphabet with repeats, like code and tables.
    data[i] = (i % 64 < 40) ? (char)("MZPE\0\0\x90\xCC"[(x >> 16) & 7]) : (char)(x >> 24);
  }
  if (size >= 2) data[0] = 'M', data[1] = 'Z';
  return data;
}

std::string XzRawEncode(const std::string& data, uint32_t dictSize) {
  char in[] = "/tmp/kestrune-xz-XXXXXX";
  int fd = mkstemp(in);
  if (fd < 0 || write(fd, data.data(), data.size()) != (ssize_t)data.size()) abort();
  close(fd);
  std::string command = "xz --format=raw --lzma1=preset=6,dict=" + std::to_string(dictSize) +
                        ",lc=3,lp=0,pb=2 -c < " + in;
  FILE* p = popen(command.c_str(), "r");
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (pclose(p) != 0) abort();
  unlink(in);
  return out;
}

Machine MachineWith(const std::string& installer) {
  Machine m;
  m.AddFile(m.modulePath, installer);
  return m;
}

}  // namespace test
