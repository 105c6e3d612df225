#include "image_fixtures.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <jpeglib.h>
#include <zlib.h>

#include "DaDode.h"
#include "ZiDezaru.h"

namespace imgfix {

Picture MakePicture(int width, int height, const std::function<Rgba(int, int)>& color) {
  Picture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels.resize(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) picture.At(x, y) = color(x, y);
  return picture;
}

Rgba PatternColor(int x, int y) {
  return {static_cast<uint8_t>(30 + 40 * x + 3 * y), static_cast<uint8_t>(20 + 70 * y + x),
          static_cast<uint8_t>(200 - 25 * x - 15 * y), static_cast<uint8_t>(250 - 30 * x - 20 * y)};
}

void Put8(Bytes& out, uint32_t v) { out.push_back(static_cast<uint8_t>(v)); }
void Put16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& out, uint32_t v) {
  Put16(out, v & 0xffff);
  Put16(out, v >> 16);
}
void Patch16(Bytes& out, size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Patch32(Bytes& out, size_t at, uint32_t v) {
  Patch16(out, at, v & 0xffff);
  Patch16(out, at + 2, v >> 16);
}
void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
uint32_t Get32(const Bytes& in, size_t at) {
  return static_cast<uint32_t>(in[at]) | (static_cast<uint32_t>(in[at + 1]) << 8) |
         (static_cast<uint32_t>(in[at + 2]) << 16) | (static_cast<uint32_t>(in[at + 3]) << 24);
}

namespace {

void PutBE32(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

uint32_t Rgb(const Rgba& c) { return (static_cast<uint32_t>(c.r) << 16) | (static_cast<uint32_t>(c.g) << 8) | c.b; }
uint32_t Argb(const Rgba& c) { return (static_cast<uint32_t>(c.a) << 24) | Rgb(c); }

void PutBgr(Bytes& out, const Rgba& c) {
  out.push_back(c.b);
  out.push_back(c.g);
  out.push_back(c.r);
}
void PutBgra(Bytes& out, const Rgba& c) {
  PutBgr(out, c);
  out.push_back(c.a);
}

// 5-bit channel widened the way the base-image core reads it.
uint8_t Widen5(int v) { return static_cast<uint8_t>(v * 255 / 31); }
uint8_t Widen6(int v) { return static_cast<uint8_t>(v * 255 / 63); }
// GDI widens 5- and 6-bit channels by shifting; compared with a tolerance.
uint8_t Shift5(int v) { return static_cast<uint8_t>(v << 3); }
uint8_t Shift6(int v) { return static_cast<uint8_t>(v << 2); }

std::vector<uint32_t> ColorTable(const std::vector<Rgba>& palette, size_t entries) {
  std::vector<uint32_t> table(entries, 0);
  for (size_t i = 0; i < palette.size() && i < entries; i++) table[i] = Rgb(palette[i]);
  return table;
}

std::vector<Rgba> SamplePalette(int count) {
  std::vector<Rgba> palette;
  for (int i = 0; i < count; i++)
    palette.push_back({static_cast<uint8_t>(16 * i + 5), static_cast<uint8_t>(250 - 15 * i),
                       static_cast<uint8_t>((i * 53 + 11) & 255), 0});
  return palette;
}

// Greedy TGA run-length packets over whole pixels of `size` bytes.
Bytes TgaRunLength(const Bytes& pixels, int size) {
  Bytes out;
  const size_t count = pixels.size() / size;
  auto same = [&](size_t a, size_t b) { return memcmp(&pixels[a * size], &pixels[b * size], size) == 0; };
  size_t i = 0;
  while (i < count) {
    size_t run = 1;
    while (i + run < count && run < 128 && same(i, i + run)) run++;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
      out.insert(out.end(), pixels.begin() + i * size, pixels.begin() + (i + 1) * size);
      i += run;
      continue;
    }
    size_t raw = 1;
    while (i + raw < count && raw < 128 && !(i + raw + 1 < count && same(i + raw, i + raw + 1))) raw++;
    out.push_back(static_cast<uint8_t>(raw - 1));
    out.insert(out.end(), pixels.begin() + i * size, pixels.begin() + (i + raw) * size);
    i += raw;
  }
  return out;
}

uint16_t To565(const Rgba& c) { return static_cast<uint16_t>(((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3)); }

int PngChannels(int colorType) {
  switch (colorType) {
    case 0: return 1;
    case 2: return 3;
    case 3: return 1;
    case 4: return 2;
    case 6: return 4;
  }
  return 1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Builders

Bytes PackBmpRows(int width, int rows, int bitCount, bool bottomUp, const std::function<uint32_t(int, int)>& value) {
  const int pitch = (bitCount * width + 31) / 32 * 4;
  Bytes out(static_cast<size_t>(pitch) * rows, 0);
  for (int s = 0; s < rows; s++) {
    const int y = bottomUp ? rows - 1 - s : s;
    uint8_t* row = &out[static_cast<size_t>(s) * pitch];
    for (int x = 0; x < width; x++) {
      const uint32_t v = value(x, y);
      switch (bitCount) {
        case 1: row[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8)); break;
        case 4: row[x / 2] |= static_cast<uint8_t>((v & 15) << ((x & 1) ? 0 : 4)); break;
        case 8: row[x] = static_cast<uint8_t>(v); break;
        case 16:
          row[x * 2] = static_cast<uint8_t>(v);
          row[x * 2 + 1] = static_cast<uint8_t>(v >> 8);
          break;
        case 24:
          row[x * 3] = static_cast<uint8_t>(v);
          row[x * 3 + 1] = static_cast<uint8_t>(v >> 8);
          row[x * 3 + 2] = static_cast<uint8_t>(v >> 16);
          break;
        case 32:
          row[x * 4] = static_cast<uint8_t>(v);
          row[x * 4 + 1] = static_cast<uint8_t>(v >> 8);
          row[x * 4 + 2] = static_cast<uint8_t>(v >> 16);
          row[x * 4 + 3] = static_cast<uint8_t>(v >> 24);
          break;
      }
    }
  }
  return out;
}

Bytes BuildBmp(const BmpLayout& layout) {
  Bytes header;
  Put32(header, static_cast<uint32_t>(layout.headerSize));
  Put32(header, static_cast<uint32_t>(layout.width));
  Put32(header, static_cast<uint32_t>(layout.height));
  Put16(header, 1);
  Put16(header, static_cast<uint32_t>(layout.bitCount));
  Put32(header, layout.compression);
  Put32(header, static_cast<uint32_t>(layout.bits.size()));
  Put32(header, 2835);
  Put32(header, 2835);
  Put32(header, 0);
  Put32(header, 0);
  header.resize(static_cast<size_t>(layout.headerSize), 0);
  if (layout.headerSize >= 52) {
    for (int i = 0; i < 3; i++) Patch32(header, 40 + 4 * i, layout.headerMasks[i]);
  }
  if (layout.headerSize >= 56) Patch32(header, 52, layout.headerMasks[3]);
  if (layout.headerSize >= 108) Patch32(header, 56, 0x73524742);  // sRGB

  Bytes out;
  out.push_back('B');
  out.push_back('M');
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Append(out, header);
  for (uint32_t v : layout.afterHeader) Put32(out, v);
  const size_t offset = layout.bitsOffset >= 0 ? static_cast<size_t>(layout.bitsOffset) : out.size();
  if (out.size() < offset) out.resize(offset, 0);
  Patch32(out, 10, static_cast<uint32_t>(offset));
  Append(out, layout.bits);
  Patch32(out, 2, static_cast<uint32_t>(out.size()));
  return out;
}

BmpLayout BmpOf(int width, int height, int bitCount, const std::function<uint32_t(int, int)>& value) {
  BmpLayout s;
  s.width = width;
  s.height = height;
  s.bitCount = bitCount;
  s.bits = PackBmpRows(width, height < 0 ? -height : height, bitCount, height > 0, value);
  return s;
}

Bytes BuildTga(const TgaLayout& layout) {
  Bytes out;
  Put8(out, static_cast<uint32_t>(layout.id.size()));
  Put8(out, static_cast<uint32_t>(layout.mapType));
  Put8(out, static_cast<uint32_t>(layout.type));
  Put16(out, static_cast<uint32_t>(layout.mapFirst));
  Put16(out, static_cast<uint32_t>(layout.mapLength));
  Put8(out, static_cast<uint32_t>(layout.mapBits));
  Put16(out, static_cast<uint32_t>(layout.xOrigin));
  Put16(out, static_cast<uint32_t>(layout.yOrigin));
  Put16(out, static_cast<uint32_t>(layout.width));
  Put16(out, static_cast<uint32_t>(layout.height));
  Put8(out, static_cast<uint32_t>(layout.pixelBits));
  Put8(out, static_cast<uint32_t>(layout.descriptor));
  out.insert(out.end(), layout.id.begin(), layout.id.end());
  Append(out, layout.map);
  Append(out, layout.data);
  if (layout.footer) {
    Put32(out, layout.extensionOffset);
    Put32(out, 0);
    const char signature[] = "TRUEVISION-XFILE.";
    out.insert(out.end(), signature, signature + 18);  // with its zero byte
  }
  return out;
}

TgaLayout ColorMappedTga(int width, int height, int first, const Bytes& map) {
  TgaLayout s;
  s.mapType = 1;
  s.type = 1;
  s.mapFirst = first;
  s.mapLength = static_cast<int>(map.size()) / 3;
  s.mapBits = 24;
  s.width = width;
  s.height = height;
  s.pixelBits = 8;
  s.descriptor = 0x20;
  s.map = map;
  return s;
}

uint32_t FourCC(const char* code) {
  return static_cast<uint32_t>(static_cast<uint8_t>(code[0])) |
         (static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(code[3])) << 24);
}

Bytes BuildDds(const DdsLayout& layout) {
  Bytes out = {'D', 'D', 'S', ' '};
  Put32(out, layout.headerSize);
  Put32(out, layout.flags);
  Put32(out, layout.height);
  Put32(out, layout.width);
  Put32(out, layout.pitch);
  Put32(out, 0);
  Put32(out, layout.mipCount);
  for (int i = 0; i < 11; i++) Put32(out, 0);
  Put32(out, 32);
  Put32(out, layout.formatFlags);
  Put32(out, layout.fourCC);
  Put32(out, layout.bitCount);
  for (int i = 0; i < 4; i++) Put32(out, layout.masks[i]);
  Put32(out, layout.caps);
  Put32(out, layout.caps2);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Append(out, layout.data);
  return out;
}

DdsLayout DdsOf(uint32_t width, uint32_t height, uint32_t fourCC) {
  DdsLayout s;
  s.width = width;
  s.height = height;
  s.fourCC = fourCC;
  return s;
}

void SetMipLevels(DdsLayout& layout, uint32_t count) {
  layout.flags |= 0x20000;
  layout.caps |= 0x400008;
  layout.mipCount = count;
}

DdsLayout DdsMasksOf(uint32_t width, uint32_t height, uint32_t bitCount, uint32_t red, uint32_t green, uint32_t blue,
                     uint32_t alpha) {
  DdsLayout s = DdsOf(width, height, 0);
  s.formatFlags = alpha != 0 ? 0x41 : 0x40;
  s.bitCount = bitCount;
  s.masks[0] = red;
  s.masks[1] = green;
  s.masks[2] = blue;
  s.masks[3] = alpha;
  return s;
}

Bytes Dxt1Block(uint16_t c0, uint16_t c1, uint32_t indices) {
  Bytes out;
  Put16(out, c0);
  Put16(out, c1);
  Put32(out, indices);
  return out;
}

Bytes Dxt3Alpha(const int alphas[16]) {
  Bytes out(8, 0);
  for (int i = 0; i < 16; i++) out[i / 2] |= static_cast<uint8_t>((alphas[i] & 15) << ((i & 1) * 4));
  return out;
}

Bytes Dxt5Alpha(int a0, int a1, const int indices[16]) {
  Bytes out = {static_cast<uint8_t>(a0), static_cast<uint8_t>(a1)};
  uint64_t bits = 0;
  for (int i = 0; i < 16; i++) bits |= static_cast<uint64_t>(indices[i] & 7) << (3 * i);
  for (int i = 0; i < 6; i++) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  return out;
}

Bytes PngChunk(const char* type, const Bytes& body) {
  Bytes out;
  PutBE32(out, static_cast<uint32_t>(body.size()));
  Bytes typed(type, type + 4);
  Append(typed, body);
  Append(out, typed);
  PutBE32(out, static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
  return out;
}

Bytes BuildPng(const PngLayout& layout) {
  Bytes out = {137, 80, 78, 71, 13, 10, 26, 10};
  Bytes ihdr;
  PutBE32(ihdr, static_cast<uint32_t>(layout.width));
  PutBE32(ihdr, static_cast<uint32_t>(layout.height));
  ihdr.push_back(static_cast<uint8_t>(layout.depth));
  ihdr.push_back(static_cast<uint8_t>(layout.colorType));
  ihdr.push_back(0);
  ihdr.push_back(0);
  ihdr.push_back(static_cast<uint8_t>(layout.interlace));
  Append(out, PngChunk("IHDR", ihdr));
  if (!layout.palette.empty()) {
    Bytes plte;
    for (const Rgba& c : layout.palette) {
      plte.push_back(c.r);
      plte.push_back(c.g);
      plte.push_back(c.b);
    }
    Append(out, PngChunk("PLTE", plte));
  }
  if (!layout.transparency.empty()) Append(out, PngChunk("tRNS", layout.transparency));

  Bytes raw;
  if (layout.interlace == 0) {
    for (const Bytes& row : layout.rows) {
      raw.push_back(0);
      Append(raw, row);
    }
  } else {
    // Adam7 passes; byte-aligned pixels only.
    const int pixelBytes = PngChannels(layout.colorType) * layout.depth / 8;
    static const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (const auto& p : passes) {
      if (p[0] >= layout.width || p[1] >= layout.height) continue;
      for (int y = p[1]; y < layout.height; y += p[3]) {
        raw.push_back(0);
        for (int x = p[0]; x < layout.width; x += p[2])
          raw.insert(raw.end(), layout.rows[y].begin() + x * pixelBytes, layout.rows[y].begin() + (x + 1) * pixelBytes);
      }
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(packedSize);
  compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9);
  packed.resize(packedSize);
  Append(out, PngChunk("IDAT", packed));
  Append(out, PngChunk("IEND", {}));
  return out;
}

Bytes BuildJpeg(int width, int height, int components, const Bytes& samples, int quality, bool progressive) {
  jpeg_compress_struct c;
  jpeg_error_mgr error;
  c.err = jpeg_std_error(&error);
  jpeg_create_compress(&c);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  for (int i = 0; i < c.num_components; i++) {
    c.comp_info[i].h_samp_factor = 1;
    c.comp_info[i].v_samp_factor = 1;
  }
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&samples[static_cast<size_t>(c.next_scanline) * width * components]);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  Bytes out(buffer, buffer + size);
  jpeg_destroy_compress(&c);
  free(buffer);
  return out;
}

Picture DecodeJpegReference(const Bytes& jpeg) {
  jpeg_decompress_struct d;
  jpeg_error_mgr error;
  d.err = jpeg_std_error(&error);
  error.output_message = [](j_common_ptr) {};  // the cut files warn
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&d, TRUE);
  jpeg_start_decompress(&d);
  Picture out;
  out.width = static_cast<int>(d.output_width);
  out.height = static_cast<int>(d.output_height);
  out.pixels.resize(static_cast<size_t>(out.width) * out.height);
  Bytes row(static_cast<size_t>(d.output_width) * d.output_components);
  while (d.output_scanline < d.output_height) {
    const int y = static_cast<int>(d.output_scanline);
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&d, rows, 1);
    for (int x = 0; x < out.width; x++) {
      const uint8_t* s = &row[static_cast<size_t>(x) * d.output_components];
      out.At(x, y) = d.output_components == 1 ? Rgba{s[0], s[0], s[0], 0} : Rgba{s[0], s[1], s[2], 0};
    }
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return out;
}

Bytes BuildBgra(const Picture& picture, bool sixteenBit) {
  Bytes out = {'B', 'G', 'R', 'A'};
  Put32(out, sixteenBit ? 0x10101010 : 0x08080808);
  Put32(out, static_cast<uint32_t>(picture.width));
  Put32(out, static_cast<uint32_t>(picture.height));
  for (int y = 0; y < picture.height; y++) {
    for (int x = 0; x < picture.width; x++) {
      const Rgba& c = picture.At(x, y);
      if (sixteenBit) {
        // The low byte is noise that must not matter.
        const uint8_t low = static_cast<uint8_t>(x * 37 + y * 11);
        for (uint8_t v : {c.b, c.g, c.r, c.a}) Put16(out, (static_cast<uint32_t>(v) << 8) | low);
      } else {
        PutBgra(out, c);
      }
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Fixtures

std::vector<ImageFixture> BmpFixtures() {
  std::vector<ImageFixture> out;
  auto rgb = [](int x, int y) { return Rgb(PatternColor(x, y)); };
  out.push_back({"BMP", "bmp24 bottom-up", BuildBmp(BmpOf(3, 2, 24, rgb)), MakePicture(3, 2, PatternColor), false, 0});
  out.push_back({"BMP", "bmp24 top-down", BuildBmp(BmpOf(5, -3, 24, rgb)), MakePicture(5, 3, PatternColor), false, 0});
  const std::vector<Rgba> palette = SamplePalette(16);
  auto fromPalette = [&](const std::function<int(int, int)>& index) {
    return [&palette, index](int x, int y) { return palette[index(x, y)]; };
  };
  {
    auto index = [](int x, int y) { return (x + 3 * y) % 16; };
    BmpLayout s = BmpOf(5, 3, 8, [&](int x, int y) { return static_cast<uint32_t>(index(x, y)); });
    s.afterHeader = ColorTable(palette, 256);
    out.push_back({"BMP", "bmp8 palette", BuildBmp(s), MakePicture(5, 3, fromPalette(index)), false, 0});
    // A colour table of 16 entries ends where the bits begin.
    s.afterHeader = ColorTable(palette, 16);
    out.push_back({"BMP", "bmp8 short colour table", BuildBmp(s), MakePicture(5, 3, fromPalette(index)), false, 0});
  }
  {
    auto index = [](int x, int y) { return (x * 2 + y) % 16; };
    for (const int height : {3, -2}) {
      const int width = height > 0 ? 5 : 7;
      BmpLayout s = BmpOf(width, height, 4, [&](int x, int y) { return static_cast<uint32_t>(index(x, y)); });
      s.afterHeader = ColorTable(palette, 16);
      out.push_back({"BMP", height > 0 ? "bmp4 bottom-up" : "bmp4 top-down", BuildBmp(s),
                     MakePicture(width, height > 0 ? height : -height, fromPalette(index)), false, 0});
    }
  }
  {
    out.push_back({"BMP", "bmp32 alpha",
                   BuildBmp(BmpOf(4, 2, 32, [](int x, int y) { return Argb(PatternColor(x, y)); })),
                   MakePicture(4, 2, PatternColor), true, 0});
    Picture clear = MakePicture(3, 2, [](int x, int y) {
      Rgba c = PatternColor(x, y);
      c.a = 0;
      return c;
    });
    out.push_back({"BMP", "bmp32 zero alpha", BuildBmp(BmpOf(3, 2, 32, rgb)), clear, true, 0});
  }
  {
    // Indices per file row (bottom row first for a positive height).
    static const int fileRows[4][6] = {
        {1, 1, 1, 2, 3, 4}, {5, 5, 0, 0, 0, 0}, {0, 0, 0, 0, 6, 6}, {7, 8, 9, 10, 11, 0}};
    const Bytes rle = {3, 1, 0, 3, 2, 3,  4,  0, 0, 0,  // run, literal of 3 padded, end of line
                       2, 5, 0, 2, 2, 1,                // run, delta (2, 1)
                       2, 6, 0, 0,                      // run at x 4 of row 2, end of line
                       0, 5, 7, 8, 9, 10, 11, 0,        // literal of 5 padded
                       0, 1};                           // end of bitmap
    for (int topDown = 0; topDown < 2; topDown++) {
      BmpLayout s;
      s.width = 6;
      s.height = topDown ? -4 : 4;
      s.bitCount = 8;
      s.compression = 1;
      s.afterHeader = ColorTable(palette, 256);
      s.bits = rle;
      Picture expected = MakePicture(6, 4, [&](int x, int y) { return palette[fileRows[topDown ? y : 3 - y][x]]; });
      out.push_back({"BMP", topDown ? "rle8 top-down" : "rle8 bottom-up", BuildBmp(s), expected, false, 0});
    }
  }
  {
    static const int fileRows[4][6] = {{1, 2, 1, 2, 1, 0}, {0, 0, 0, 3, 4, 5}, {6, 7, 6, 7, 6, 7}, {0, 0, 0, 0, 0, 0}};
    const Bytes rle = {5, 0x12, 0,    0,           // run of 5 nibbles, end of line
                       0, 2,    3,    0,           // delta (3, 0)
                       0, 3,    0x34, 0x50, 0, 0,  // literal of 3 nibbles, end of line
                       6, 0x67, 0,    0,           // run of 6, end of line
                       0, 1};
    BmpLayout s;
    s.width = 6;
    s.height = 4;
    s.bitCount = 4;
    s.compression = 2;
    s.afterHeader = ColorTable(palette, 16);
    s.bits = rle;
    Picture expected = MakePicture(6, 4, [&](int x, int y) { return palette[fileRows[3 - y][x]]; });
    out.push_back({"BMP", "rle4 bottom-up", BuildBmp(s), expected, false, 0});
  }
  {
    const std::vector<Rgba> two = {{10, 20, 30, 0}, {200, 150, 100, 0}};
    auto index = [](int x, int y) { return (x / 2 + y) % 2; };
    BmpLayout s = BmpOf(10, 3, 1, [&](int x, int y) { return static_cast<uint32_t>(index(x, y)); });
    s.afterHeader = ColorTable(two, 2);
    out.push_back({"BMP", "bmp1 through GDI", BuildBmp(s),
                   MakePicture(10, 3, [&](int x, int y) { return two[index(x, y)]; }), false, 0});
  }
  {
    auto five = [](int x, int y, int c) { return (x * 7 + y * 11 + c * 5) % 32; };
    auto value555 = [&](int x, int y) {
      return static_cast<uint32_t>((five(x, y, 0) << 10) | (five(x, y, 1) << 5) | five(x, y, 2));
    };
    Picture expected = MakePicture(3, 2, [&](int x, int y) {
      return Rgba{Shift5(five(x, y, 0)), Shift5(five(x, y, 1)), Shift5(five(x, y, 2)), 0};
    });
    out.push_back({"BMP", "bmp16 through GDI", BuildBmp(BmpOf(3, 2, 16, value555)), expected, false, 7});
    out.push_back({"BMP", "bmp16 top-down through GDI", BuildBmp(BmpOf(3, -2, 16, value555)), expected, false, 7});

    auto six = [](int x, int y) { return (x * 13 + y * 29) % 64; };
    BmpLayout f = BmpOf(3, 2, 16, [&](int x, int y) {
      return static_cast<uint32_t>((five(x, y, 0) << 11) | (six(x, y) << 5) | five(x, y, 2));
    });
    f.compression = 3;
    f.afterHeader = {0xf800, 0x7e0, 0x1f};
    Picture expected565 = MakePicture(3, 2, [&](int x, int y) {
      return Rgba{Shift5(five(x, y, 0)), Shift6(six(x, y)), Shift5(five(x, y, 2)), 0};
    });
    out.push_back({"BMP", "bmp16 bit fields through GDI", BuildBmp(f), expected565, false, 7});
  }
  {
    BmpLayout s = BmpOf(4, -2, 24, rgb);
    s.headerSize = 124;
    out.push_back({"BMP", "bmp24 with a 124-byte header", BuildBmp(s), MakePicture(4, 2, PatternColor), false, 0});

    BmpLayout v4 = BmpOf(3, 2, 32, [](int x, int y) { return Argb(PatternColor(x, y)); });
    v4.headerSize = 108;
    v4.compression = 3;
    v4.headerMasks[0] = 0xff0000;
    v4.headerMasks[1] = 0xff00;
    v4.headerMasks[2] = 0xff;
    out.push_back(
        {"BMP", "bmp32 bit fields in a 108-byte header", BuildBmp(v4), MakePicture(3, 2, PatternColor), false, 0});
  }
  return out;
}

std::vector<ImageFixture> TgaFixtures() {
  std::vector<ImageFixture> out;
  auto rows = [](const Picture& p, int bytes, bool bottomUp, bool rightToLeft) {
    Bytes data;
    for (int s = 0; s < p.height; s++) {
      const int y = bottomUp ? p.height - 1 - s : s;
      for (int t = 0; t < p.width; t++) {
        const Rgba& c = p.At(rightToLeft ? p.width - 1 - t : t, y);
        if (bytes == 3) PutBgr(data, c);
        if (bytes == 4) PutBgra(data, c);
      }
    }
    return data;
  };
  {
    Picture p = MakePicture(4, 3, PatternColor);
    TgaLayout s;
    s.width = 4;
    s.height = 3;
    s.data = rows(p, 3, true, false);
    out.push_back({"TGA", "tga2 24-bit bottom-left", BuildTga(s), p, false, 0});
    s.pixelBits = 32;
    s.descriptor = 0x28;
    s.data = rows(p, 4, false, false);
    out.push_back({"TGA", "tga2 32-bit top-left", BuildTga(s), p, true, 0});
    s.descriptor = 0x08;
    s.data = rows(p, 4, true, false);
    out.push_back({"TGA", "tga2 32-bit bottom-left", BuildTga(s), p, true, 0});
  }
  {
    auto five = [](int x, int y, int c) { return (x * 9 + y * 5 + c * 7) % 32; };
    TgaLayout s;
    s.width = 3;
    s.height = 2;
    s.pixelBits = 16;
    s.descriptor = 0x20;
    for (int y = 0; y < 2; y++)
      for (int x = 0; x < 3; x++)
        Put16(s.data, static_cast<uint32_t>((five(x, y, 0) << 10) | (five(x, y, 1) << 5) | five(x, y, 2)));
    Picture expected = MakePicture(3, 2, [&](int x, int y) {
      return Rgba{Widen5(five(x, y, 0)), Widen5(five(x, y, 1)), Widen5(five(x, y, 2)), 0};
    });
    out.push_back({"TGA", "tga2 16-bit", BuildTga(s), expected, false, 0});
  }
  const std::vector<Rgba> map = {{250, 10, 10, 0}, {10, 250, 10, 0}, {10, 10, 250, 0}, {120, 130, 140, 0}};
  {
    auto index = [](int x, int y) { return 2 + (x + y) % 4; };
    Bytes entries;
    for (const Rgba& c : map) PutBgr(entries, c);
    TgaLayout s = ColorMappedTga(5, 3, 2, entries);
    s.id = "hi";
    for (int y = 0; y < 3; y++)
      for (int x = 0; x < 5; x++) s.data.push_back(static_cast<uint8_t>(index(x, y)));
    out.push_back({"TGA", "tga1 colour-mapped", BuildTga(s),
                   MakePicture(5, 3, [&](int x, int y) { return map[index(x, y) - 2]; }), false, 0});

    s.type = 9;
    s.width = 6;
    s.height = 2;
    s.id.clear();
    const int indices[12] = {3, 3, 3, 3, 2, 4, 5, 2, 2, 2, 2, 2};
    s.data = {0x83, 3, 0x02, 2, 4, 5, 0x84, 2};
    out.push_back({"TGA", "tga9 run-length colour-mapped", BuildTga(s),
                   MakePicture(6, 2, [&](int x, int y) { return map[indices[y * 6 + x] - 2]; }), false, 0});
  }
  {
    // Rows with runs: row 1 is one colour.
    Picture p = MakePicture(5, 3, [](int x, int y) { return y == 1 ? Rgba{90, 80, 70, 255} : PatternColor(x, y); });
    TgaLayout s;
    s.type = 10;
    s.width = 5;
    s.height = 3;
    s.descriptor = 0x30;  // top row first, right to left
    s.data = TgaRunLength(rows(p, 3, false, true), 3);
    out.push_back({"TGA", "tga10 24-bit right-to-left", BuildTga(s), p, false, 0});

    Picture q = MakePicture(4, 4, [](int x, int y) { return y >= 2 ? Rgba{1, 2, 3, 4} : PatternColor(x, y); });
    TgaLayout f;
    f.type = 10;
    f.width = 4;
    f.height = 4;
    f.pixelBits = 32;
    f.descriptor = 0x08;
    f.data = TgaRunLength(rows(q, 4, true, false), 4);
    f.footer = true;
    out.push_back({"TGA", "tga10 32-bit with footer", BuildTga(f), q, true, 0});
  }
  return out;
}

std::vector<ImageFixture> DdsFixtures() {
  std::vector<ImageFixture> out;
  auto blockPicture = [](int width, int height, const std::function<Rgba(int block, int texel)>& texel) {
    return MakePicture(width, height,
                       [&](int x, int y) { return texel(x / 4 + (y / 4) * (width / 4), (y % 4) * 4 + x % 4); });
  };
  {
    // Grey 170 from colour 2; red with alpha 0 from colour 3 of equal end
    // points; and the four colours of red-to-blue.
    DdsLayout s = DdsOf(12, 4, FourCC("DXT1"));
    Append(s.data, Dxt1Block(0xffff, 0x0000, 0xaaaaaaaa));
    Append(s.data, Dxt1Block(0xf800, 0xf800, 0xffffffff));
    Append(s.data, Dxt1Block(0xf800, 0x001f, 0xe4e4e4e4));  // texel i has index i % 4
    const Rgba four[4] = {{255, 0, 0, 255}, {0, 0, 255, 255}, {170, 0, 85, 255}, {85, 0, 170, 255}};
    out.push_back({"DDS", "dxt1 blocks", BuildDds(s),
                   blockPicture(12, 4,
                                [&](int b, int t) {
                                  if (b == 0) return Rgba{170, 170, 170, 255};
                                  if (b == 1) return Rgba{255, 0, 0, 0};
                                  return four[t % 4];
                                }),
                   true, 0});
  }
  {
    const int steps[16] = {0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0};
    DdsLayout s = DdsOf(8, 4, FourCC("DXT5"));
    Append(s.data, Dxt5Alpha(0, 255, steps));
    Append(s.data, Dxt1Block(0x07e0, 0x07e0, 0));
    Append(s.data, Dxt5Alpha(255, 0, steps));
    Append(s.data, Dxt1Block(0x07e0, 0x07e0, 0));
    const int fiveStep[8] = {0, 255, 51, 102, 153, 204, 0, 255};
    const int sevenStep[8] = {255, 0, 218, 182, 145, 109, 72, 36};
    out.push_back(
        {"DDS", "dxt5 alpha steps", BuildDds(s),
         blockPicture(8, 4,
                      [&](int b, int t) {
                        return Rgba{0, 255, 0, static_cast<uint8_t>(b == 0 ? fiveStep[steps[t]] : sevenStep[steps[t]])};
                      }),
         true, 0});
  }
  {
    int alphas[16];
    for (int i = 0; i < 16; i++) alphas[i] = i;
    DdsLayout s = DdsOf(4, 4, FourCC("DXT3"));
    Append(s.data, Dxt3Alpha(alphas));
    Append(s.data, Dxt1Block(0x001f, 0xffff, 0xe4e4e4e4));  // four colours although c0 < c1
    const Rgba four[4] = {{0, 0, 255, 0}, {255, 255, 255, 0}, {85, 85, 255, 0}, {170, 170, 255, 0}};
    out.push_back({"DDS", "dxt3 explicit alpha", BuildDds(s),
                   blockPicture(4, 4,
                                [&](int, int t) {
                                  Rgba c = four[t % 4];
                                  c.a = static_cast<uint8_t>(t * 17);
                                  return c;
                                }),
                   true, 0});
  }
  {
    // Premultiplied: white at alpha 136 clamps at 255; black stays black;
    // alpha 0 keeps its colour; 85 at alpha 170 becomes 127.
    const int alphas[16] = {8, 8, 8, 8, 15, 15, 15, 15, 15, 15, 15, 15, 0, 0, 10, 10};
    const uint32_t indices = 0xf0005500;  // texels 0-3: 0, 4-7: 1, 8-13: 0, 14-15: 3
    DdsLayout s = DdsOf(4, 4, FourCC("DXT2"));
    Append(s.data, Dxt3Alpha(alphas));
    Append(s.data, Dxt1Block(0xffff, 0x0000, indices));
    out.push_back({"DDS", "dxt2 premultiplied", BuildDds(s),
                   blockPicture(4, 4,
                                [&](int, int t) {
                                  const int index = (indices >> (2 * t)) & 3;
                                  const uint8_t a = static_cast<uint8_t>(alphas[t] * 17);
                                  if (index == 3) return Rgba{127, 127, 127, a};
                                  if (index == 1) return Rgba{0, 0, 0, a};
                                  return Rgba{255, 255, 255, a};
                                }),
                   true, 0});
  }
  {
    int steps[16];
    for (int i = 0; i < 16; i++) steps[i] = i % 3;
    DdsLayout s = DdsOf(4, 4, FourCC("DXT4"));
    Append(s.data, Dxt5Alpha(200, 100, steps));
    Append(s.data, Dxt1Block(0x8410, 0x0000, 0));
    const Rgba byStep[3] = {{167, 164, 167, 200}, {255, 255, 255, 100}, {180, 177, 180, 185}};
    out.push_back({"DDS", "dxt4 premultiplied", BuildDds(s),
                   blockPicture(4, 4, [&](int, int t) { return byStep[steps[t]]; }), true, 0});
  }
  {
    // 8 x 8 with four mip levels; the top level shows four colours.
    const uint16_t colors[4] = {0xf800, 0x07e0, 0x001f, 0xffff};
    const Rgba rgba[4] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 255, 255}};
    DdsLayout s = DdsOf(8, 8, FourCC("DXT1"));
    SetMipLevels(s, 4);
    for (uint16_t c : colors) Append(s.data, Dxt1Block(c, c, 0));
    for (int level = 1; level < 4; level++) Append(s.data, Dxt1Block(0x0841 * level, 0, 0x55555555));
    out.push_back(
        {"DDS", "dxt1 mip chain", BuildDds(s), blockPicture(8, 8, [&](int b, int) { return rgba[b]; }), true, 0});
  }
  {
    // Six faces of one block each; face 0 is checked here.
    DdsLayout s = DdsOf(4, 4, FourCC("DXT1"));
    s.caps |= 0x8;
    s.caps2 = 0x200 | 0xfc00;
    for (int face = 0; face < 6; face++) Append(s.data, Dxt1Block(static_cast<uint16_t>(0x0800 * (face + 1)), 0, 0));
    out.push_back({"DDS", "dxt1 cube map", BuildDds(s),
                   MakePicture(4, 4,
                               [](int, int) {
                                 return Rgba{Widen5(1), 0, 0, 255};
                               }),
                   true, 0});
  }
  {
    Picture p = MakePicture(3, 2, PatternColor);
    DdsLayout s = DdsOf(3, 2, 21);
    for (const Rgba& c : p.pixels) PutBgra(s.data, c);
    out.push_back({"DDS", "dds format number 21", BuildDds(s), p, true, 0});
  }
  {
    // 5-6-5 with a padded pitch.
    DdsLayout s = DdsMasksOf(3, 2, 16, 0xf800, 0x7e0, 0x1f, 0);
    s.flags |= 0x8;
    s.pitch = 8;
    Picture expected = MakePicture(3, 2, [](int x, int y) {
      const Rgba c = PatternColor(x, y);
      return Rgba{Widen5(c.r >> 3), Widen6(c.g >> 2), Widen5(c.b >> 3), 0};
    });
    for (int y = 0; y < 2; y++) {
      for (int x = 0; x < 3; x++) Put16(s.data, To565(PatternColor(x, y)));
      Put16(s.data, 0xdead);
    }
    out.push_back({"DDS", "dds rgb masks 565", BuildDds(s), expected, false, 0});
  }
  {
    DdsLayout s = DdsOf(4, 2, 27);  // 3-3-2 in one byte
    for (int i = 0; i < 8; i++) s.data.push_back(static_cast<uint8_t>(i * 37 + 5));
    Picture expected = MakePicture(4, 2, [](int x, int y) {
      const int v = (y * 4 + x) * 37 + 5;
      return Rgba{static_cast<uint8_t>(((v >> 5) & 7) * 255 / 7), static_cast<uint8_t>(((v >> 2) & 7) * 255 / 7),
                  static_cast<uint8_t>((v & 3) * 255 / 3), 0};
    });
    out.push_back({"DDS", "dds format number 27", BuildDds(s), expected, false, 0});
  }
  {
    Picture p = MakePicture(2, 2, PatternColor);
    DdsLayout s = DdsMasksOf(2, 2, 32, 0xff, 0xff00, 0xff0000, 0xff000000);
    for (const Rgba& c : p.pixels) {
      s.data.push_back(c.r);
      s.data.push_back(c.g);
      s.data.push_back(c.b);
      s.data.push_back(c.a);
    }
    out.push_back({"DDS", "dds rgba masks", BuildDds(s), p, true, 0});
  }
  return out;
}

std::vector<ImageFixture> PngFixtures() {
  std::vector<ImageFixture> out;
  auto samples = [](const Picture& p, const char* layout, bool sixteen) {
    std::vector<Bytes> rows;
    for (int y = 0; y < p.height; y++) {
      Bytes row;
      for (int x = 0; x < p.width; x++) {
        const Rgba& c = p.At(x, y);
        for (const char* k = layout; *k; k++) {
          const uint8_t v = *k == 'r' ? c.r : *k == 'g' ? c.g : *k == 'b' ? c.b : c.a;
          row.push_back(v);
          if (sixteen) row.push_back(static_cast<uint8_t>(x * 31 + y * 7 + 3));  // dropped low byte
        }
      }
      rows.push_back(row);
    }
    return rows;
  };
  auto grey = [](int x, int y) {
    const uint8_t v = static_cast<uint8_t>(20 + 50 * x + 30 * y);
    return Rgba{v, v, v, static_cast<uint8_t>(255 - 60 * x - 10 * y)};
  };
  auto add = [&](const char* name, const PngLayout& layout, const Picture& expected, bool alpha) {
    out.push_back({"PNG", name, BuildPng(layout), expected, alpha, 0});
  };
  // The picture's samples in `layout`, 16-bit samples with a low byte that
  // must be dropped.
  auto of = [&](const Picture& p, int colorType, const char* layout, int depth = 8, int interlace = 0) {
    PngLayout s;
    s.width = p.width;
    s.height = p.height;
    s.colorType = colorType;
    s.depth = depth;
    s.interlace = interlace;
    s.rows = samples(p, layout, depth == 16);
    return s;
  };
  const Picture small = MakePicture(3, 2, PatternColor);
  const Picture wider = MakePicture(4, 3, PatternColor);
  add("png rgb", of(small, 2, "rgb"), small, false);
  add("png rgba", of(wider, 6, "rgba"), wider, true);
  add("png rgba 16-bit", of(small, 6, "rgba", 16), small, true);
  const std::vector<Rgba> palette = SamplePalette(6);
  {
    auto index = [](int x, int y) { return (x + 2 * y) % 6; };
    PngLayout s;
    s.width = 5;
    s.height = 3;
    s.colorType = 3;
    s.palette = palette;
    for (int y = 0; y < 3; y++) {
      Bytes row;
      for (int x = 0; x < 5; x++) row.push_back(static_cast<uint8_t>(index(x, y)));
      s.rows.push_back(row);
    }
    add("png palette", s, MakePicture(5, 3, [&](int x, int y) { return palette[index(x, y)]; }), false);

    s.transparency = {0, 128, 255};
    Picture clear = MakePicture(5, 3, [&](int x, int y) {
      Rgba c = palette[index(x, y)];
      c.a = index(x, y) == 0 ? 0 : index(x, y) == 1 ? 128 : 255;
      return c;
    });
    add("png palette with tRNS", s, clear, true);
  }
  {
    const std::vector<Rgba> two = {{0, 0, 255, 0}, {255, 255, 0, 0}};
    auto bit = [](int x, int y) { return (x * 3 + y) % 2; };
    PngLayout s;
    s.width = 10;
    s.height = 2;
    s.depth = 1;
    s.colorType = 3;
    s.palette = two;
    for (int y = 0; y < 2; y++) {
      Bytes row(2, 0);
      for (int x = 0; x < 10; x++) row[x / 8] |= static_cast<uint8_t>(bit(x, y) << (7 - x % 8));
      s.rows.push_back(row);
    }
    add("png palette 1-bit", s, MakePicture(10, 2, [&](int x, int y) { return two[bit(x, y)]; }), false);

    s.colorType = 0;
    s.palette.clear();
    add("png grey 1-bit", s,
        MakePicture(10, 2,
                    [&](int x, int y) {
                      const uint8_t v = bit(x, y) ? 255 : 0;
                      return Rgba{v, v, v, 0};
                    }),
        false);
  }
  {
    Picture p = MakePicture(4, 2, grey);
    Picture q = MakePicture(3, 2, grey);
    add("png grey", of(p, 0, "r"), p, false);
    add("png grey 16-bit", of(q, 0, "r", 16), q, false);
    add("png grey with alpha", of(p, 4, "ra"), p, true);

    PngLayout s = of(p, 0, "r");
    s.transparency = {0, 70};  // grey 70 is transparent
    Picture keyed = MakePicture(4, 2, [&](int x, int y) {
      Rgba c = grey(x, y);
      c.a = c.r == 70 ? 0 : 255;
      return c;
    });
    add("png grey with tRNS", s, keyed, true);
  }
  {
    Picture p = MakePicture(9, 7, PatternColor);
    Picture q = MakePicture(5, 5, grey);
    add("png rgb interlaced", of(p, 2, "rgb", 8, 1), p, false);
    add("png grey with alpha interlaced", of(q, 4, "ra", 8, 1), q, true);
  }
  return out;
}

namespace {

// 8 x 8 blocks of one colour each, so that the codec keeps them closely.
const Rgba kJpegBlocks[8] = {{200, 30, 40, 0},   {30, 180, 60, 0},   {40, 60, 190, 0}, {220, 220, 40, 0},
                             {128, 128, 128, 0}, {250, 250, 250, 0}, {10, 10, 10, 0},  {90, 160, 200, 0}};

Picture JpegPicture() {
  return MakePicture(32, 16, [](int x, int y) { return kJpegBlocks[(y / 8) * 4 + x / 8]; });
}

Bytes RgbSamples(const Picture& p) {
  Bytes out;
  for (const Rgba& c : p.pixels) {
    out.push_back(c.r);
    out.push_back(c.g);
    out.push_back(c.b);
  }
  return out;
}

}  // namespace

std::vector<ImageFixture> JpegFixtures() {
  std::vector<ImageFixture> out;
  const Picture color = JpegPicture();
  out.push_back({"JPEG", "jpeg colour", BuildJpeg(32, 16, 3, RgbSamples(color), 95, false), color, false, 6});
  out.push_back(
      {"JPEG", "jpeg colour progressive", BuildJpeg(32, 16, 3, RgbSamples(color), 95, true), color, false, 6});

  Picture grey = MakePicture(16, 16, [](int x, int y) {
    const uint8_t v = static_cast<uint8_t>(40 + 60 * (x / 8) + 100 * (y / 8));
    return Rgba{v, v, v, 0};
  });
  Bytes greySamples;
  for (const Rgba& c : grey.pixels) greySamples.push_back(c.r);
  out.push_back({"JPEG", "jpeg grey", BuildJpeg(16, 16, 1, greySamples, 95, false), grey, false, 4});

  // Cut after the first scan (the DC values): decoded as libjpeg decodes
  // the same bytes, the missing detail smoothed from the DC values.
  Bytes progressive = BuildJpeg(32, 16, 3, RgbSamples(color), 95, true);
  size_t cut = 0;
  int scans = 0;
  for (size_t i = 0; i + 1 < progressive.size(); i++) {
    if (progressive[i] == 0xFF && progressive[i + 1] == 0xDA && ++scans == 2) {
      cut = i;
      break;
    }
  }
  progressive.resize(cut);
  out.push_back({"JPEG", "jpeg cut after its first scan", progressive, DecodeJpegReference(progressive), false, 0});
  return out;
}

std::vector<ImageFixture> BgraFixtures() {
  Picture p = MakePicture(3, 2, PatternColor);
  return {{"BGRA", "bgra 8-bit", BuildBgra(p, false), p, true, 0},
          {"BGRA", "bgra 16-bit", BuildBgra(p, true), p, true, 0}};
}

std::vector<ImageFixture> AllFixtures() {
  std::vector<ImageFixture> out;
  for (auto make : {BmpFixtures, TgaFixtures, DdsFixtures, PngFixtures, JpegFixtures, BgraFixtures}) {
    std::vector<ImageFixture> part = make();
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

// ---------------------------------------------------------------------------
// Checks

::testing::AssertionResult PixelsMatch(BaseImageRecord* image, const Picture& expected, bool hasAlpha, int tolerance) {
  if (image->width != expected.width || image->height != expected.height) {
    return ::testing::AssertionFailure() << "size " << image->width << " x " << image->height << ", expected "
                                         << expected.width << " x " << expected.height;
  }
  if (image->format.kind == 0 && (image->format.alphaWidth != 0) != hasAlpha) {
    return ::testing::AssertionFailure() << "alpha width " << static_cast<int>(image->format.alphaWidth)
                                         << ", expected " << (hasAlpha ? "alpha" : "no alpha");
  }
  int failures = 0;
  ::testing::AssertionResult result = ::testing::AssertionSuccess();
  for (int y = 0; y < expected.height; y++) {
    for (int x = 0; x < expected.width; x++) {
      int r = -1, g = -1, b = -1, a = -1;
      if (GetBaseImagePixelRGBA(image, x, y, &r, &g, &b, &a) != 0)
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") unreadable";
      const Rgba& e = expected.At(x, y);
      const bool same = abs(r - e.r) <= tolerance && abs(g - e.g) <= tolerance && abs(b - e.b) <= tolerance &&
                        (!hasAlpha || abs(a - e.a) <= tolerance);
      if (!same && failures++ < 8) {
        if (failures == 1) result = ::testing::AssertionFailure();
        result << "\n  (" << x << ", " << y << "): got " << r << " " << g << " " << b << " " << a << ", expected "
               << static_cast<int>(e.r) << " " << static_cast<int>(e.g) << " " << static_cast<int>(e.b) << " "
               << static_cast<int>(e.a);
      }
    }
  }
  return result;
}

const ImageFixture& FixtureNamed(const std::vector<ImageFixture>& all, const std::string& name) {
  for (const ImageFixture& f : all)
    if (f.name == name) return f;
  ADD_FAILURE() << "no fixture " << name;
  return all.front();
}

int LoadFromMemory(const Bytes& data, BaseImageRecord* image, int mirror) {
  static const uint8_t empty = 0;
  return LoadImageToBaseImage(nullptr, data.empty() ? &empty : data.data(), static_cast<int>(data.size()), 1, image,
                              mirror);
}

void ExpectFixturesDecode(const std::vector<ImageFixture>& fixtures) {
  for (const ImageFixture& f : fixtures) {
    SCOPED_TRACE(f.name);
    BaseImageRecord image;
    ASSERT_EQ(0, LoadFromMemory(f.data, &image));
    EXPECT_TRUE(PixelsMatch(&image, f.expected, f.hasAlpha, f.tolerance));
    ReleaseBaseImage(&image);
  }
}

void ExpectAllRefused(const NamedBytes& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    BaseImageRecord image;
    EXPECT_EQ(-1, LoadFromMemory(c.second, &image));
  }
}

void ExpectLoaderRefuses(ImageLoaderFunc loader, const NamedBytes& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    MemoryLoadStream in(c.second);
    BaseImageRecord image;
    memset(&image, 0, sizeof(image));
    EXPECT_EQ(-1, loader(&in.stream, &image));
    EXPECT_EQ(nullptr, image.pixels);
    EXPECT_EQ(0, ImageStreamTell(&in.stream));
    const size_t head = c.second.size() < 8 ? c.second.size() : 8;
    uint8_t again[8] = {};
    EXPECT_EQ(0, ImageStreamReadExact(&in.stream, again, head));
    EXPECT_EQ(0, memcmp(again, c.second.data(), head));
  }
}

void ImageAllocTest::SetUp() { allocCount_ = GetAllocCount(); }

void ImageAllocTest::TearDown() {
  CheckAllAllocHeaders();
  EXPECT_EQ(allocCount_, GetAllocCount()) << "blocks left behind";
}

MemoryLoadStream::MemoryLoadStream(const Bytes& data) {
  stream.functions = *GetMemoryStreamTable();
  stream.handle = reinterpret_cast<StreamHandle>(CreateMemoryStream(data.data(), static_cast<uint32_t>(data.size())));
}

MemoryLoadStream::~MemoryLoadStream() { stream.functions.Close(stream.handle); }

ColorFormatRecord Masks(int bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  ColorFormatRecord f;
  MakeColorFormatFromMasks(&f, bits, r, g, b, a, 0, 0, 0);
  return f;
}

ColorFormatRecord Fixed(int (*make)(ColorFormatRecord*)) {
  ColorFormatRecord f;
  memset(&f, 0, sizeof(f));
  make(&f);
  return f;
}

}  // namespace imgfix
