// Image files written in code for the loader tests: byte builders for BMP,
// TGA, DDS, PNG, JPEG and raw BGRA files, the valid fixtures of every
// format with the pixels they must decode to, pixel comparison, and the
// checks and test base the image tests share.
#ifndef TESTS_IMAGE_FIXTURES_H
#define TESTS_IMAGE_FIXTURES_H

#include <gtest/gtest.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ReReziRader.h"

namespace imgfix {

using Bytes = std::vector<uint8_t>;

struct Rgba {
  uint8_t r, g, b, a;
};

// A picture as it should look: row 0 at the top.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<Rgba> pixels;
  Rgba& At(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
  const Rgba& At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
Picture MakePicture(int width, int height, const std::function<Rgba(int, int)>& color);
// A varied colour per position, so that flips and shifts show.
Rgba PatternColor(int x, int y);

void Put8(Bytes& out, uint32_t v);
void Put16(Bytes& out, uint32_t v);
void Put32(Bytes& out, uint32_t v);
void Patch16(Bytes& out, size_t at, uint32_t v);
void Patch32(Bytes& out, size_t at, uint32_t v);
void Append(Bytes& out, const Bytes& more);
uint32_t Get32(const Bytes& in, size_t at);

// BMP. Rows are given top row first; `value` returns an index (1-8 bits),
// a raw 16-bit value, 0xRRGGBB (24) or 0xAARRGGBB (32).
Bytes PackBmpRows(int width, int rows, int bitCount, bool bottomUp, const std::function<uint32_t(int, int)>& value);
struct BmpLayout {
  int headerSize = 40;
  int width = 0;
  int height = 0;  // negative: top-down
  int bitCount = 24;
  uint32_t compression = 0;
  uint32_t headerMasks[4] = {0, 0, 0, 0};  // written into headers of 52 bytes and more
  std::vector<uint32_t> afterHeader;       // masks or colour-table entries
  Bytes bits;
  int64_t bitsOffset = -1;  // -1: right after afterHeader
};
Bytes BuildBmp(const BmpLayout& layout);
// A plain bitmap of `bitCount` bits whose rows come from `value` (top row
// first), stored bottom-up for a positive height.
BmpLayout BmpOf(int width, int height, int bitCount, const std::function<uint32_t(int, int)>& value);

// TGA.
struct TgaLayout {
  std::string id;
  int mapType = 0;
  int type = 2;
  int mapFirst = 0;
  int mapLength = 0;
  int mapBits = 0;
  int xOrigin = 0, yOrigin = 0;
  int width = 0, height = 0;
  int pixelBits = 24;
  int descriptor = 0;
  Bytes map;
  Bytes data;
  bool footer = false;
  uint32_t extensionOffset = 0;
};
Bytes BuildTga(const TgaLayout& layout);
// A top-down type 1 file of 8-bit indices into a colour map of 24-bit
// entries (blue, green, red) that starts at index `first`; no pixels yet.
TgaLayout ColorMappedTga(int width, int height, int first, const Bytes& map);

// DDS.
struct DdsLayout {
  uint32_t headerSize = 124;
  uint32_t flags = 0x1007;
  uint32_t width = 0, height = 0;
  uint32_t pitch = 0;
  uint32_t mipCount = 0;
  uint32_t formatFlags = 0x4;
  uint32_t fourCC = 0;
  uint32_t bitCount = 0;
  uint32_t masks[4] = {0, 0, 0, 0};
  uint32_t caps = 0x1000;
  uint32_t caps2 = 0;
  Bytes data;
};
Bytes BuildDds(const DdsLayout& layout);
// A file of the given size with a four-character code (or a format
// number), its data still to be appended.
DdsLayout DdsOf(uint32_t width, uint32_t height, uint32_t fourCC);
// Declares a mip chain of `count` levels (the count with its flag and caps).
void SetMipLevels(DdsLayout& layout, uint32_t count);
// A file of plain pixels described by its bit count and masks (the alpha
// flag set with an alpha mask), its data still to be appended.
DdsLayout DdsMasksOf(uint32_t width, uint32_t height, uint32_t bitCount, uint32_t red, uint32_t green, uint32_t blue,
                     uint32_t alpha);
uint32_t FourCC(const char* code);
Bytes Dxt1Block(uint16_t c0, uint16_t c1, uint32_t indices);
Bytes Dxt3Alpha(const int alphas[16]);
Bytes Dxt5Alpha(int a0, int a1, const int indices[16]);

// PNG. Rows hold the packed samples of each row (no filter byte).
struct PngLayout {
  int width = 0, height = 0;
  int depth = 8;
  int colorType = 2;
  int interlace = 0;
  std::vector<Bytes> rows;
  std::vector<Rgba> palette;  // PLTE (alpha unused)
  Bytes transparency;         // tRNS body
};
Bytes BuildPng(const PngLayout& layout);
Bytes PngChunk(const char* type, const Bytes& body);

// JPEG through libjpeg's compressor. components 1 (grey), 3 (RGB) or 4 (CMYK).
Bytes BuildJpeg(int width, int height, int components, const Bytes& samples, int quality, bool progressive);

// What libjpeg itself decodes from the bytes (from memory, RGB or grey).
Picture DecodeJpegReference(const Bytes& jpeg);

// Raw "BGRA".
Bytes BuildBgra(const Picture& picture, bool sixteenBit);

// A valid file and what it must decode to.
struct ImageFixture {
  std::string format;  // "BMP", "TGA", "DDS", "PNG", "JPEG", "BGRA"
  std::string name;
  Bytes data;
  Picture expected;
  bool hasAlpha;  // the result's format has an alpha channel
  int tolerance;  // per channel
};
std::vector<ImageFixture> BmpFixtures();
std::vector<ImageFixture> TgaFixtures();
std::vector<ImageFixture> DdsFixtures();
std::vector<ImageFixture> PngFixtures();
std::vector<ImageFixture> JpegFixtures();
std::vector<ImageFixture> BgraFixtures();
std::vector<ImageFixture> AllFixtures();

// Every pixel through GetBaseImagePixelRGBA against the picture; alpha is
// compared only when the image's format has alpha, which must agree with
// `hasAlpha`.
::testing::AssertionResult PixelsMatch(BaseImageRecord* image, const Picture& expected, bool hasAlpha, int tolerance);

// The fixture of that name; a test failure (and the first one) without it.
const ImageFixture& FixtureNamed(const std::vector<ImageFixture>& all, const std::string& name);

// Loads bytes from memory with the current settings.
int LoadFromMemory(const Bytes& data, BaseImageRecord* image, int mirror = 0);

// Each fixture loads from memory and matches its pixels.
void ExpectFixturesDecode(const std::vector<ImageFixture>& fixtures);

// Files the loader table must refuse, each with what is wrong with it.
using NamedBytes = std::vector<std::pair<std::string, Bytes>>;
void ExpectAllRefused(const NamedBytes& cases);
// Each file is refused by `loader` alone: -1, no pixels, and the stream
// back at 0, where it reads from the start again.
void ExpectLoaderRefuses(ImageLoaderFunc loader, const NamedBytes& cases);

// with(name, change) adds to `cases` the file `build` makes of a copy of
// `base` after `change`.
template <typename Spec>
std::function<void(const char*, const std::function<void(Spec&)>&)> VariantMaker(NamedBytes& cases, const Spec& base,
                                                                                 Bytes (*build)(const Spec&)) {
  return [&cases, base, build](const char* name, const std::function<void(Spec&)>& change) {
    Spec s = base;
    change(s);
    cases.push_back({name, build(s)});
  };
}

// After each test the allocator's blocks are whole and none is left behind.
class ImageAllocTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  int allocCount_ = 0;
};

// An image load stream over a memory stream (closed by the destructor).
struct MemoryLoadStream {
  explicit MemoryLoadStream(const Bytes& data);
  ~MemoryLoadStream();
  ImageLoadStream stream;
};

// Colour formats: from channel masks, and one of the fixed formats.
ColorFormatRecord Masks(int bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a);
ColorFormatRecord Fixed(int (*make)(ColorFormatRecord*));

}  // namespace imgfix

#endif  // TESTS_IMAGE_FIXTURES_H
