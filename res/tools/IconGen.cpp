// Draws the installer's icon, a kestrel's wing over a rounded square, and writes it as an
// .ico with 13 32-bit images from 16 to 96 pixels and one 256-pixel PNG.  Deterministic:
// the same program always writes the same bytes.
//   icon-gen <out.ico>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

struct Rgba {
  double r, g, b, a;
};

double Clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

// Signed distance to a rounded square of half-size h and corner radius r, centred at 0.
double RoundedSquare(double x, double y, double h, double r) {
  double qx = fabs(x) - (h - r), qy = fabs(y) - (h - r);
  double ox = qx > 0 ? qx : 0, oy = qy > 0 ? qy : 0;
  double inside = qx > qy ? qx : qy;
  return sqrt(ox * ox + oy * oy) + (inside < 0 ? inside : 0) - r;
}

// The artwork in the unit square [-1, 1]^2.
Rgba Shade(double x, double y) {
  Rgba c = {0, 0, 0, 0};
  if (RoundedSquare(x, y, 0.94, 0.28) > 0) return c;
  double t = Clamp01((y + 1) / 2);
  c = {0.80 - 0.35 * t, 0.42 - 0.16 * t, 0.16 - 0.04 * t, 1};  // kestrel rust, darker below
  // A wing: the region between two circles, swept up to the right.
  double d1 = hypot(x + 0.35, y - 0.95), d2 = hypot(x + 0.05, y - 1.25);
  if (d1 < 1.25 && d2 > 1.22 && y < 0.55) c = {0.98, 0.93, 0.84, 1};
  // The eye.
  if (hypot(x - 0.42, y + 0.42) < 0.11) c = {0.12, 0.10, 0.09, 1};
  return c;
}

std::vector<uint8_t> Render(int size) {  // BGRA, top row first
  const int ss = 4;
  std::vector<uint8_t> px((size_t)size * size * 4);
  for (int py = 0; py < size; py++)
    for (int pxl = 0; pxl < size; pxl++) {
      double r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < ss; sy++)
        for (int sx = 0; sx < ss; sx++) {
          double x = ((pxl + (sx + 0.5) / ss) / size) * 2 - 1;
          double y = ((py + (sy + 0.5) / ss) / size) * 2 - 1;
          Rgba c = Shade(x, y);
          r += c.r * c.a, g += c.g * c.a, b += c.b * c.a, a += c.a;
        }
      uint8_t* p = &px[((size_t)py * size + pxl) * 4];
      double n = ss * ss;
      p[3] = (uint8_t)lround(a / n * 255);
      p[2] = (uint8_t)lround(a ? r / a * 255 : 0);
      p[1] = (uint8_t)lround(a ? g / a * 255 : 0);
      p[0] = (uint8_t)lround(a ? b / a * 255 : 0);
    }
  return px;
}

void Put16(std::string& s, uint16_t v) { s += (char)v, s += (char)(v >> 8); }
void Put32(std::string& s, uint32_t v) { Put16(s, (uint16_t)v), Put16(s, (uint16_t)(v >> 16)); }
void PutBE32(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; i--) s += (char)(v >> (8 * i));
}

std::string BmpImage(int size) {
  std::vector<uint8_t> px = Render(size);
  std::string s;
  int maskRow = ((size + 31) / 32) * 4;
  Put32(s, 40);
  Put32(s, (uint32_t)size);
  Put32(s, (uint32_t)size * 2);  // colour rows and mask rows
  Put16(s, 1);
  Put16(s, 32);
  Put32(s, 0);
  Put32(s, (uint32_t)(size * size * 4 + maskRow * size));
  Put32(s, 0), Put32(s, 0), Put32(s, 0), Put32(s, 0);
  for (int y = size - 1; y >= 0; y--) s.append((const char*)&px[(size_t)y * size * 4], (size_t)size * 4);
  for (int y = size - 1; y >= 0; y--) {  // AND mask: set where fully transparent
    std::string row((size_t)maskRow, '\0');
    for (int x = 0; x < size; x++)
      if (px[((size_t)y * size + x) * 4 + 3] == 0) row[x / 8] = (char)(row[x / 8] | (0x80 >> (x % 8)));
    s += row;
  }
  return s;
}

void PngChunk(std::string& png, const char* type, const std::string& data) {
  PutBE32(png, (uint32_t)data.size());
  std::string body = std::string(type, 4) + data;
  png += body;
  PutBE32(png, (uint32_t)crc32(0, (const Bytef*)body.data(), (uInt)body.size()));
}

std::string PngImage(int size) {
  std::vector<uint8_t> px = Render(size);
  std::string raw;
  for (int y = 0; y < size; y++) {
    raw += '\0';  // filter: none
    for (int x = 0; x < size; x++) {
      const uint8_t* p = &px[((size_t)y * size + x) * 4];
      raw += (char)p[2], raw += (char)p[1], raw += (char)p[0], raw += (char)p[3];
    }
  }
  uLongf packedSize = compressBound((uLong)raw.size());
  std::string packed(packedSize, '\0');
  compress2((Bytef*)&packed[0], &packedSize, (const Bytef*)raw.data(), (uLong)raw.size(), 9);
  packed.resize(packedSize);
  std::string ihdr;
  PutBE32(ihdr, (uint32_t)size);
  PutBE32(ihdr, (uint32_t)size);
  ihdr += (char)8, ihdr += (char)6, ihdr += '\0', ihdr += '\0', ihdr += '\0';  // 8-bit RGBA
  std::string png = "\x89PNG\r\n\x1a\n";
  PngChunk(png, "IHDR", ihdr);
  PngChunk(png, "IDAT", packed);
  PngChunk(png, "IEND", "");
  return png;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: icon-gen <out.ico>\n");
    return 1;
  }
  const int sizes[] = {16, 20, 24, 28, 32, 36, 40, 48, 56, 64, 72, 80, 96, 256};
  const int count = sizeof sizes / sizeof sizes[0];
  std::vector<std::string> images;
  for (int size : sizes) images.push_back(size == 256 ? PngImage(size) : BmpImage(size));
  std::string ico;
  Put16(ico, 0), Put16(ico, 1), Put16(ico, count);
  uint32_t offset = 6 + 16 * count;
  for (int i = 0; i < count; i++) {
    ico += (char)(sizes[i] == 256 ? 0 : sizes[i]);
    ico += (char)(sizes[i] == 256 ? 0 : sizes[i]);
    ico += '\0', ico += '\0';
    Put16(ico, 1), Put16(ico, 32);
    Put32(ico, (uint32_t)images[i].size());
    Put32(ico, offset);
    offset += (uint32_t)images[i].size();
  }
  for (const std::string& image : images) ico += image;
  FILE* f = fopen(argv[1], "wb");
  if (!f || fwrite(ico.data(), 1, ico.size(), f) != ico.size() || fclose(f) != 0) {
    fprintf(stderr, "icon-gen: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
