// BMP and TGA loaders and base images from bitmaps: every variant decodes
// to its pixels, pitches and formats are as documented, damaged headers
// and data are refused, and run-length data never writes outside.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "LogCapture.h"
#include "ReReziRader.h"
#include "ZiDezaru.h"
#include "image_fixtures.h"

using namespace imgfix;

namespace {

// Restores the 32-bit bitmap switch.
class BmpTgaTest : public ImageAllocTest {
 protected:
  void SetUp() override {
    savedXrgb_ = Bmp32ZeroAlphaAsXrgb;
    ImageAllocTest::SetUp();
  }
  void TearDown() override {
    Bmp32ZeroAlphaAsXrgb = savedXrgb_;
    ImageAllocTest::TearDown();
  }
  int savedXrgb_ = 0;
};

TEST_F(BmpTgaTest, EveryBmpFixtureDecodesToItsPixels) { ExpectFixturesDecode(BmpFixtures()); }

TEST_F(BmpTgaTest, EveryTgaFixtureDecodesToItsPixels) { ExpectFixturesDecode(TgaFixtures()); }

TEST_F(BmpTgaTest, BmpFormatsAndPitches) {
  const std::vector<ImageFixture> all = BmpFixtures();
  struct Case {
    const char* name;
    int bytesPerPixel;
    int pitch;
    uint32_t alphaMask;
  } cases[] = {
      {"bmp24 bottom-up", 3, 12, 0},  // width 3: 9 bytes padded to 12
      {"bmp24 top-down", 3, 16, 0},    {"bmp8 palette", 1, 8, 0},
      {"bmp4 bottom-up", 1, 8, 0},  // one byte per pixel, width rounded up to 4
      {"bmp4 top-down", 1, 8, 0},      {"rle8 bottom-up", 1, 8, 0},
      {"rle4 bottom-up", 1, 8, 0},     {"bmp32 alpha", 4, 16, 0xff000000},
      {"bmp1 through GDI", 3, 32, 0},  // 24-bit rows of GDI
      {"bmp16 through GDI", 3, 12, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BaseImageRecord image;
    ASSERT_EQ(0, LoadFromMemory(FixtureNamed(all, c.name).data, &image));
    EXPECT_EQ(c.bytesPerPixel, image.format.bytesPerPixel);
    EXPECT_EQ(c.pitch, image.pitch);
    EXPECT_EQ(c.alphaMask, image.format.alphaMask);
    if (c.bytesPerPixel == 1) {
      // Palette alpha bytes are 0 and unused entries are zero.
      EXPECT_EQ(0, image.format.palette[3][3]);
      EXPECT_EQ(0, image.format.palette[200][0] | image.format.palette[200][1] | image.format.palette[200][2]);
    }
    ReleaseBaseImage(&image);
  }
}

TEST_F(BmpTgaTest, ZeroAlphaBitmapIsXrgbOnlyWhenAsked) {
  const std::vector<ImageFixture> all = BmpFixtures();
  const ImageFixture& f = FixtureNamed(all, "bmp32 zero alpha");
  BaseImageRecord image;
  Bmp32ZeroAlphaAsXrgb = 0;
  ASSERT_EQ(0, LoadFromMemory(f.data, &image));
  EXPECT_TRUE(IsExactARGB8Format(&image.format));
  ReleaseBaseImage(&image);
  Bmp32ZeroAlphaAsXrgb = 1;
  ASSERT_EQ(0, LoadFromMemory(f.data, &image));
  EXPECT_EQ(0u, image.format.alphaMask);
  EXPECT_EQ(0xff000000u, image.format.spareMask);
  ReleaseBaseImage(&image);
  // One non-zero alpha byte keeps ARGB8.
  ASSERT_EQ(0, LoadFromMemory(FixtureNamed(all, "bmp32 alpha").data, &image));
  EXPECT_EQ(0xff000000u, image.format.alphaMask);
  ReleaseBaseImage(&image);
}

// A bottom-up 24-bit 2 x 2 bitmap to damage.
BmpLayout SmallBmp() {
  return BmpOf(2, 2, 24, [](int x, int y) { return static_cast<uint32_t>(x * 100 + y); });
}

TEST_F(BmpTgaTest, DamagedBitmapsAreRefused) {
  NamedBytes cases;
  auto with = VariantMaker(cases, SmallBmp(), BuildBmp);
  with("header size 12", [](BmpLayout& s) { s.headerSize = 12; });
  with("header size 125", [](BmpLayout& s) { s.headerSize = 125; });
  with("zero width", [](BmpLayout& s) { s.width = 0; });
  with("height 16385", [](BmpLayout& s) { s.height = 16385; });
  with("height -2^31", [](BmpLayout& s) { s.height = static_cast<int>(0x80000000u); });
  with("width 16385", [](BmpLayout& s) { s.width = 16385; });
  with("rows missing", [](BmpLayout& s) { s.bits.resize(s.bits.size() - 1); });
  with("rle8 with 24 bits", [](BmpLayout& s) { s.compression = 1; });
  with("bit fields with 8 bits", [](BmpLayout& s) {
    s.bitCount = 8;
    s.compression = 3;
  });
  with("compression 4", [](BmpLayout& s) { s.compression = 4; });
  with("bit count 7", [](BmpLayout& s) { s.bitCount = 7; });
  with("bits offset inside the header", [](BmpLayout& s) { s.bitsOffset = 20; });
  Bytes farOffset = BuildBmp(SmallBmp());
  Patch32(farOffset, 10, 4000);
  cases.push_back({"bits offset past the end", farOffset});
  Bytes truncated = BuildBmp(SmallBmp());
  truncated.resize(30);
  cases.push_back({"cut in the header", truncated});
  ExpectAllRefused(cases);
}

TEST_F(BmpTgaTest, RunLengthDataNeverWritesOutsideTheImage) {
  struct Case {
    const char* name;
    int bitCount;
    Bytes rle;
    std::vector<int> row0;  // indices of the bottom row
  } cases[] = {
      {"run past the row end", 8, {200, 3, 0, 1}, {3, 3, 3}},
      {"literal past the row end", 8, {0, 5, 1, 2, 3, 4, 5, 0, 0, 1}, {1, 2, 3}},
      {"delta past the right edge", 8, {0, 2, 250, 0, 2, 7, 0, 1}, {0, 0, 0}},
      {"delta below the image", 8, {1, 4, 0, 2, 0, 200, 5, 5}, {4, 0, 0}},
      {"literal cut by the end of data", 8, {0, 9, 1, 2}, {0, 0, 0}},
      {"lines past the last row", 8, {1, 1, 0, 0, 1, 2, 0, 0, 1, 3, 0, 0, 1, 9}, {1, 0, 0}},
      {"rle4 run past the row end", 4, {9, 0xab, 0, 1}, {10, 11, 10}},
      {"rle4 literal past the row end", 4, {0, 7, 0x12, 0x34, 0x56, 0x70, 0, 1}, {1, 2, 3}},
      {"no end code", 8, {2, 6}, {6, 6, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BmpLayout s;
    s.width = 3;
    s.height = 2;
    s.bitCount = c.bitCount;
    s.compression = c.bitCount == 8 ? 1 : 2;
    std::vector<uint32_t> table;
    for (int i = 0; i < (c.bitCount == 8 ? 256 : 16); i++) table.push_back(static_cast<uint32_t>(i));  // blue = index
    s.afterHeader = table;
    s.bits = c.rle;
    BaseImageRecord image;
    ASSERT_EQ(0, LoadFromMemory(BuildBmp(s), &image));
    EXPECT_EQ(4, image.pitch);
    for (int x = 0; x < 3; x++)
      EXPECT_EQ(c.row0[x], (reinterpret_cast<uint8_t*>(image.pixels))[4 + x]) << x;  // bottom row is row 1
    CheckAllAllocHeaders();
    ReleaseBaseImage(&image);
  }
}

TEST_F(BmpTgaTest, ColorTableIsCutAtTheBits) {
  // An 8-bit bitmap with two table entries before its bits.
  BmpLayout s;
  s.width = 2;
  s.height = 1;
  s.bitCount = 8;
  s.afterHeader = {0x112233, 0x445566};
  s.bits = {1, 0, 9, 9};
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(BuildBmp(s), &image));
  EXPECT_EQ(0x44, image.format.palette[1][2]);
  EXPECT_EQ(0, image.format.palette[2][0]);  // not the pixel bytes
  ReleaseBaseImage(&image);
}

TEST_F(BmpTgaTest, BaseImageFromABitmapInMemory) {
  struct Info {
    BITMAPINFOHEADER header;
    uint32_t extra[256];
  };
  auto makeInfo = [](int width, int height, int bits, DWORD compression) {
    Info info;
    memset(&info, 0, sizeof(info));
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = height;
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(bits);
    info.header.biCompression = compression;
    return info;
  };
  uint8_t bits[64];
  for (int i = 0; i < 64; i++) bits[i] = static_cast<uint8_t>(i * 7);
  BaseImageRecord image;

  // Top-down 24-bit: used in place (copy flag 0 comes back) or copied (1).
  Info rgb = makeInfo(2, -2, 24, BI_RGB);
  ASSERT_EQ(0, CreateBaseImageFromDIB(reinterpret_cast<BITMAPINFO*>(&rgb), bits, &image, 0));
  EXPECT_EQ(bits, image.pixels);
  EXPECT_EQ(8, image.pitch);
  EXPECT_EQ(3, image.format.bytesPerPixel);
  EXPECT_EQ(0x0e0700u, GetBaseImagePixelARGB8(&image, 0, 0) & 0xffffff);
  ASSERT_EQ(1, CreateBaseImageFromDIB(reinterpret_cast<BITMAPINFO*>(&rgb), bits, &image, 1));
  EXPECT_NE(bits, image.pixels);
  EXPECT_EQ(0, memcmp(bits, image.pixels, 16));
  ReleaseBaseImage(&image);

  // 16-bit plain is 5-5-5; bit fields take the masks after the header.
  Info five = makeInfo(2, -1, 16, BI_RGB);
  ASSERT_EQ(7, CreateBaseImageFromDIB(reinterpret_cast<BITMAPINFO*>(&five), bits, &image, 7));
  EXPECT_EQ(0x7c00u, image.format.redMask);
  EXPECT_EQ(0x8000u, image.format.spareMask);
  Info fields = makeInfo(2, -1, 16, BI_BITFIELDS);
  fields.extra[0] = 0xf800;
  fields.extra[1] = 0x7e0;
  fields.extra[2] = 0x1f;
  ASSERT_EQ(0, CreateBaseImageFromDIB(reinterpret_cast<BITMAPINFO*>(&fields), bits, &image, 0));
  EXPECT_EQ(11, image.format.redShift);
  EXPECT_EQ(6, image.format.greenWidth);
  EXPECT_EQ(0u, image.format.spareMask);
  // A plain 32-bit bitmap: the fourth byte is unused.
  Info plain32 = makeInfo(2, -1, 32, BI_RGB);
  ASSERT_EQ(0, CreateBaseImageFromDIB(reinterpret_cast<BITMAPINFO*>(&plain32), bits, &image, 0));
  EXPECT_EQ(0u, image.format.alphaMask);
  EXPECT_EQ(0xff000000u, image.format.spareMask);

  // Bottom-up and palette bitmaps go through GDI into 24-bit rows.
  Info pal = makeInfo(3, 2, 8, BI_RGB);
  pal.extra[0] = 0x102030;
  pal.extra[1] = 0xa0b0c0;
  uint8_t indices[8] = {0, 1, 0, 0, 1, 1, 0, 0};  // bottom row first
  ASSERT_EQ(1, CreateBaseImageFromDIB(reinterpret_cast<BITMAPINFO*>(&pal), indices, &image, 0));
  EXPECT_EQ(3, image.format.bytesPerPixel);
  EXPECT_EQ(0xa0b0c0u, GetBaseImagePixelARGB8(&image, 0, 0) & 0xffffff);
  EXPECT_EQ(0x102030u, GetBaseImagePixelARGB8(&image, 0, 1) & 0xffffff);
  ReleaseBaseImage(&image);

  Info zero = makeInfo(0, -1, 24, BI_RGB);
  EXPECT_EQ(-1, CreateBaseImageFromDIB(reinterpret_cast<BITMAPINFO*>(&zero), bits, &image, 0));
  EXPECT_EQ(nullptr, image.pixels);
}

TgaLayout SmallTga() {
  TgaLayout s;
  s.width = 2;
  s.height = 2;
  s.data = Bytes(12, 0x40);
  return s;
}

TEST_F(BmpTgaTest, TgaVariantsTheLoaderDoesNotTakeAreRefused) {
  NamedBytes cases;
  auto with = VariantMaker(cases, SmallTga(), BuildTga);
  with("grey (type 3)", [](TgaLayout& s) { s.type = 3; });
  with("type 11", [](TgaLayout& s) { s.type = 11; });
  with("y origin 5", [](TgaLayout& s) { s.yOrigin = 5; });
  with("x origin 1", [](TgaLayout& s) { s.xOrigin = 1; });
  with("9000 wide", [](TgaLayout& s) { s.width = 9000; });
  with("zero high", [](TgaLayout& s) { s.height = 0; });
  with("15-bit pixels", [](TgaLayout& s) { s.pixelBits = 15; });
  with("pixels missing", [](TgaLayout& s) { s.data.resize(11); });
  with("colour-mapped without a map", [](TgaLayout& s) {
    s.type = 1;
    s.pixelBits = 8;
    s.mapBits = 24;
  });
  with("colour-mapped with 16-bit indices", [](TgaLayout& s) {
    s.type = 1;
    s.mapType = 1;
    s.mapLength = 2;
    s.mapBits = 24;
    s.map = Bytes(6, 1);
    s.pixelBits = 16;
  });
  with("run-length data ends early", [](TgaLayout& s) {
    s.type = 10;
    s.data = {0x81, 1, 2, 3};  // two of four pixels
  });
  with("run-length packet cut", [](TgaLayout& s) {
    s.type = 10;
    s.data = {0x03, 1, 2, 3, 4};
  });
  ExpectAllRefused(cases);
}

TEST_F(BmpTgaTest, TgaColorMapAppliesAndClampsAt256Entries) {
  // Entries from index 250 on: those past 255 are dropped, not written.
  Bytes entries;
  for (int i = 0; i < 10; i++) {
    entries.push_back(static_cast<uint8_t>(i));
    entries.push_back(0);
    entries.push_back(0);
  }
  TgaLayout s = ColorMappedTga(3, 1, 250, entries);
  s.data = {250, 255, 7};
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(BuildTga(s), &image));
  EXPECT_EQ(3, image.format.bytesPerPixel);
  EXPECT_EQ(9, image.pitch);
  EXPECT_EQ(0u, GetBaseImagePixelARGB8(&image, 0, 0));
  EXPECT_EQ(5u, GetBaseImagePixelARGB8(&image, 1, 0));
  EXPECT_EQ(0u, GetBaseImagePixelARGB8(&image, 2, 0));
  ReleaseBaseImage(&image);
}

TEST_F(BmpTgaTest, TgaPitchIsTheRowSizeAndFooterBoundsRunLengthData) {
  const std::vector<ImageFixture> all = TgaFixtures();
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(FixtureNamed(all, "tga2 16-bit").data, &image));
  EXPECT_EQ(6, image.pitch);
  EXPECT_EQ(0x8000u, image.format.spareMask);
  ReleaseBaseImage(&image);

  // The footer's bytes are not taken as packets: a stream that needs them
  // is short.
  const ImageFixture& withFooter = FixtureNamed(all, "tga10 32-bit with footer");
  Bytes cut = withFooter.data;
  cut.erase(cut.end() - 26 - 3, cut.end() - 26);
  EXPECT_EQ(-1, LoadFromMemory(cut, &image));
  // With an extension offset the footer does not count, and data runs to
  // the end of the file: trailing bytes are ignored after the last pixel.
  Bytes extended = withFooter.data;
  Patch32(extended, extended.size() - 26, 1234);
  ASSERT_EQ(0, LoadFromMemory(extended, &image));
  EXPECT_TRUE(PixelsMatch(&image, withFooter.expected, true, 0));
  ReleaseBaseImage(&image);
}

TEST_F(BmpTgaTest, GdiConversionThatCannotMakeItsBitmapLogsIt) {
  // A palette bitmap far too large for a 24-bit section.
  test_support::LogCapture log("imgdib");
  struct {
    BITMAPINFOHEADER header;
    uint32_t colors[256];
  } info;
  memset(&info, 0, sizeof(info));
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = 100000;
  info.header.biHeight = 100000;
  info.header.biPlanes = 1;
  info.header.biBitCount = 8;
  uint8_t bits[16] = {};
  BaseImageRecord image;
  EXPECT_EQ(-1, CreateBaseImageFromDIB(reinterpret_cast<BITMAPINFO*>(&info), bits, &image, 0));
  EXPECT_EQ(nullptr, image.pixels);
  EXPECT_NE(std::string::npos, log.Text().find("ＤＩＢの作成に失敗しました3\r\n"));
}

TEST_F(BmpTgaTest, TrueColorTgaSkipsAColorMapItCarries) {
  // Type 2 with a 4-entry map before the pixels: the map is not pixel data.
  Picture p = MakePicture(2, 1, PatternColor);
  TgaLayout s;
  s.mapType = 1;
  s.mapLength = 4;
  s.mapBits = 24;
  s.map = Bytes(12, 0xee);
  s.width = 2;
  s.height = 1;
  s.descriptor = 0x20;
  for (const Rgba& c : p.pixels) s.data.insert(s.data.end(), {c.b, c.g, c.r});
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(BuildTga(s), &image));
  EXPECT_TRUE(PixelsMatch(&image, p, false, 0));
  ReleaseBaseImage(&image);
}

}  // namespace
