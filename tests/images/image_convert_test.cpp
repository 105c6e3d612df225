// Colour-converting blit and the base-image operations built on it: format
// conversions, key colour, dithering, mirroring, palettes, wide channels,
// clipped copies, stretching, premultiplying, turning, halving and bitmap
// output. Conversions run with the dedicated loops and again through the
// general per-pixel path, which must agree.
#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "ReReziRader.h"
#include "image_fixtures.h"
#include "ZiDezaru.h"

namespace {

using imgfix::Masks;

ColorFormatRecord Wide(int channels, int bits, int isFloat) {
  ColorFormatRecord f;
  MakeColorFormatFromMasks(&f, 0, 0, 0, 0, 0, channels, bits, isFloat);
  return f;
}

using imgfix::Fixed;

const ColorFormatRecord kARGB8 = Fixed(MakeColorFormatARGB8);
const ColorFormatRecord kXRGB8 = Fixed(MakeColorFormatXRGB8);
const ColorFormatRecord kRGB8 = Fixed(MakeColorFormatRGB8);
const ColorFormatRecord kGray8 = Fixed(MakeColorFormatGray8);
const ColorFormatRecord k565 = Masks(16, 0xf800, 0x7e0, 0x1f, 0);
const ColorFormatRecord k555 = Masks(16, 0x7c00, 0x3e0, 0x1f, 0);
const ColorFormatRecord k1555 = Masks(16, 0x7c00, 0x3e0, 0x1f, 0x8000);
const ColorFormatRecord k4444 = Masks(16, 0xf00, 0xf0, 0xf, 0xf000);
const ColorFormatRecord k2101010 = Masks(32, 0x3ff00000, 0xffc00, 0x3ff, 0xc0000000);
const ColorFormatRecord kXBGR8 = Masks(32, 0xff, 0xff00, 0xff0000, 0);
const ColorFormatRecord k332 = Masks(16, 0xe0, 0x1c, 0x3, 0xff00);

// A base image that releases itself.
class Image {
 public:
  Image(const ColorFormatRecord& format, int width, int height) {
    EXPECT_EQ(0, CreateBaseImageWithFormat(width, height, &format, &record));
    if (record.pixels) memset(record.pixels, 0, static_cast<size_t>(record.pitch) * height);
  }
  ~Image() { ReleaseBaseImage(&record); }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  uint8_t* At(int x, int y) const {
    return reinterpret_cast<uint8_t*>(record.pixels) + y * record.pitch + x * record.format.bytesPerPixel;
  }
  uint32_t Get(int x, int y) const { return ReadPixelBytes(At(x, y), record.format.bytesPerPixel); }
  void Set(int x, int y, uint32_t value) { WritePixelBytes(At(x, y), record.format.bytesPerPixel, value); }
  void Fill(uint32_t value) {
    for (int y = 0; y < record.height; y++)
      for (int x = 0; x < record.width; x++) Set(x, y, value);
  }
  std::string Bytes() const {
    return std::string(reinterpret_cast<const char*>(record.pixels), static_cast<size_t>(record.pitch) * record.height);
  }

  BaseImageRecord record;
};

struct Flags {
  int mirror = 0;
  int keyToAlpha = 0;
  uint32_t key = 0;
  int reduction = 0;
  int colorOff = 0;
  int alphaFromRed = 0;
  int skipKey = 0;
  int remap = 0;
  const Image* alpha = nullptr;
};

int Convert(Image& dest, const Image& src, const Flags& f, int destX = 0, int destY = 0, const RECT* rect = nullptr) {
  RECT whole = {0, 0, src.record.width, src.record.height};
  const RECT* r = rect ? rect : &whole;
  return ConvertColorBlt(dest.record.pixels, dest.record.pitch, &dest.record.format, src.record.pixels,
                         src.record.pitch, &src.record.format, f.alpha ? f.alpha->record.pixels : nullptr,
                         f.alpha ? f.alpha->record.pitch : 0, f.alpha ? &f.alpha->record.format : nullptr, destX, destY,
                         r, f.mirror, f.keyToAlpha, f.key, f.reduction, f.colorOff, f.alphaFromRed, f.skipKey, f.remap);
}

// Runs a check once with the dedicated loops and once through the general path.
class BothPaths : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { SetConvertColorBltFastPaths(GetParam()); }
  void TearDown() override { SetConvertColorBltFastPaths(1); }
};

std::string PathName(const ::testing::TestParamInfo<int>& info) { return info.param ? "Fast" : "General"; }

// ---- Single conversions -------------------------------------------------------

TEST_P(BothPaths, ConvertsPixelsBetweenFormats) {
  struct Case {
    const char* name;
    ColorFormatRecord src;
    uint32_t in;
    ColorFormatRecord dest;
    uint32_t out;
  } cases[] = {
      {"XRGB8 to 565", kXRGB8, 0x00ff8040, k565, 0xfc08},
      {"XRGB8 to 555", kXRGB8, 0x00ff8040, k555, 0xfe08},
      {"565 white to ARGB8", k565, 0xffff, kARGB8, 0xffffffff},
      {"565 black to ARGB8", k565, 0x0000, kARGB8, 0xff000000},
      {"565 middle to ARGB8", k565, 0x8410, kARGB8, 0xff838183},
      {"555 white to XRGB8", k555, 0x7fff, kXRGB8, 0xffffffff},
      {"ARGB8 to XRGB8", kARGB8, 0x80112233, kXRGB8, 0xff112233},
      {"ARGB8 to RGB8", kARGB8, 0x80112233, kRGB8, 0x112233},
      {"RGB8 to ARGB8", kRGB8, 0x112233, kARGB8, 0xff112233},
      {"ARGB8 to 4444", kARGB8, 0x80ff8040, k4444, 0x8f84},
      {"4444 to ARGB8", k4444, 0x8f84, kARGB8, 0x88ff8844},
      {"1555 to ARGB8", k1555, 0x8000, kARGB8, 0xff000000},
      {"1555 clear to ARGB8", k1555, 0x7fff, kARGB8, 0x00ffffff},
      {"ARGB8 to 2-10-10-10", kARGB8, 0xffff0000, k2101010, 0xfff00000},
      {"2-10-10-10 to ARGB8", k2101010, 0xfff00000, kARGB8, 0xffff0000},
      {"XRGB8 to XBGR8", kXRGB8, 0x00112233, kXBGR8, 0xff332211},
      {"ARGB8 to 8-3-3-2", kARGB8, 0x7fffffff, k332, 0x7fff},
      {"ARGB8 to ARGB8", kARGB8, 0x12345678, kARGB8, 0x12345678},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Wide enough for the vector loops and their tails.
    Image src(c.src, 13, 3), dest(c.dest, 13, 3);
    src.Fill(c.in);
    ASSERT_EQ(0, Convert(dest, src, Flags()));
    for (int y = 0; y < 3; y++)
      for (int x = 0; x < 13; x++) ASSERT_EQ(c.out, dest.Get(x, y)) << std::hex << x << "," << y;
  }
}

TEST_P(BothPaths, KeyColorBecomesTransparent) {
  struct Case {
    const char* name;
    ColorFormatRecord src;
    uint32_t key, other;
  } cases[] = {
      {"RGB8", kRGB8, 0xff00ff, 0xfe00ff},
      {"XRGB8 with spare bits set", kXRGB8, 0x12ff00ff, 0x00ff01ff},
      {"565", k565, 0xf81f, 0xf81e},
      {"555", k555, 0x7c1f, 0x7c1e},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image src(c.src, 9, 2), dest(kARGB8, 9, 2);
    src.Fill(c.other);
    src.Set(0, 0, c.key);
    src.Set(5, 1, c.key);
    src.Set(8, 1, c.key);
    Flags f;
    f.keyToAlpha = 1;
    f.key = 0xff00ff;
    ASSERT_EQ(0, Convert(dest, src, f));
    for (int y = 0; y < 2; y++) {
      for (int x = 0; x < 9; x++) {
        const bool keyed = (x == 0 && y == 0) || (x == 5 && y == 1) || (x == 8 && y == 1);
        EXPECT_EQ(keyed ? 0x00u : 0xffu, dest.Get(x, y) >> 24) << x << "," << y;
      }
    }
    EXPECT_EQ(0x00ff00ffu, dest.Get(0, 0));  // the colour stays
  }
  // A source with alpha keeps its own alpha; a destination without alpha ignores the key.
  Image argb(kARGB8, 4, 1), out(kARGB8, 4, 1), xrgb(kXRGB8, 4, 1);
  argb.Fill(0x40ff00ff);
  Flags f;
  f.keyToAlpha = 1;
  f.key = 0xff00ff;
  ASSERT_EQ(0, Convert(out, argb, f));
  EXPECT_EQ(0x40ff00ffu, out.Get(3, 0));
  Image rgb(kRGB8, 4, 1);
  rgb.Fill(0xff00ff);
  ASSERT_EQ(0, Convert(xrgb, rgb, f));
  EXPECT_EQ(0xffff00ffu, xrgb.Get(2, 0));
}

TEST_P(BothPaths, SkipKeyLeavesTheDestinationAndMirrorCancelsIt) {
  for (const ColorFormatRecord* srcFormat : {&kXRGB8, &kRGB8, &k565}) {
    Image src(*srcFormat, 10, 1), dest(kARGB8, 10, 1);
    uint32_t key = MakeFormatPixelFromRGBA(srcFormat, 0, 255, 0, 0);
    uint32_t other = MakeFormatPixelFromRGBA(srcFormat, 255, 255, 255, 0);
    src.Fill(other);
    src.Set(2, 0, key);
    src.Set(9, 0, key);
    dest.Fill(0xdeadbeef);
    Flags f;
    f.skipKey = 1;
    f.key = 0x00ff00;
    ASSERT_EQ(0, Convert(dest, src, f));
    for (int x = 0; x < 10; x++) {
      EXPECT_EQ((x == 2 || x == 9) ? 0xdeadbeefu : 0xffffffffu, dest.Get(x, 0)) << x;
    }
    f.mirror = 1;
    dest.Fill(0xdeadbeef);
    ASSERT_EQ(0, Convert(dest, src, f));
    EXPECT_EQ(0xff00ff00u, dest.Get(7, 0));  // source pixel 2, written mirrored
    EXPECT_EQ(0xff00ff00u, dest.Get(0, 0));
  }
  // Same layout: the raw copy skips too.
  Image src(kXRGB8, 5, 1), dest(kXRGB8, 5, 1);
  src.Fill(0x00010203);
  src.Set(1, 0, 0x00ff00ff);
  dest.Fill(0x77777777);
  Flags f;
  f.skipKey = 1;
  f.key = 0xff00ff;
  ASSERT_EQ(0, Convert(dest, src, f));
  EXPECT_EQ(0x77777777u, dest.Get(1, 0));
  EXPECT_EQ(0x00010203u, dest.Get(4, 0));
}

TEST_P(BothPaths, MirrorWritesRowsRightToLeft) {
  struct Case {
    ColorFormatRecord src, dest;
  } cases[] = {{kXRGB8, kARGB8}, {kXRGB8, kXRGB8}, {kRGB8, kRGB8}, {k565, kARGB8}, {kARGB8, k565}, {kGray8, kARGB8}};
  for (const Case& c : cases) {
    Image src(c.src, 11, 2), dest(c.dest, 11, 2), plain(c.dest, 11, 2);
    for (int y = 0; y < 2; y++)
      for (int x = 0; x < 11; x++) src.Set(x, y, static_cast<uint32_t>(x * 20 + y * 3 + 1) * 0x010101u);
    Flags f;
    ASSERT_EQ(0, Convert(plain, src, f)) << static_cast<int>(c.src.bytesPerPixel);
    f.mirror = 1;
    ASSERT_GE(Convert(dest, src, f), 0);
    for (int y = 0; y < 2; y++)
      for (int x = 0; x < 11; x++) EXPECT_EQ(plain.Get(x, y), dest.Get(10 - x, y)) << x << "," << y;
  }
}

TEST_P(BothPaths, ColorOffAndAlphaFromRed) {
  Image argb(kARGB8, 6, 1), out(kARGB8, 6, 1), out4444(k4444, 6, 1);
  argb.Fill(0x80112233);
  Flags off;
  off.colorOff = 1;
  ASSERT_EQ(0, Convert(out, argb, off));
  EXPECT_EQ(0x80000000u, out.Get(5, 0));

  Image xrgb(kXRGB8, 6, 1);
  xrgb.Fill(0x00405060);
  Flags red;
  red.alphaFromRed = 1;
  red.keyToAlpha = 1;  // cleared by the alpha-from-red flag
  red.key = 0x405060;
  ASSERT_EQ(0, Convert(out, xrgb, red));
  EXPECT_EQ(0x40405060u, out.Get(0, 0));
  ASSERT_EQ(0, Convert(out4444, xrgb, red));
  EXPECT_EQ(0x4456u, out4444.Get(5, 0));
  ASSERT_EQ(0, Convert(out, argb, red));
  EXPECT_EQ(0x11112233u, out.Get(3, 0));
}

TEST_P(BothPaths, AlphaImageSuppliesAlphaForSourcesWithout) {
  Image src(kXRGB8, 4, 2), alpha(kGray8, 4, 2), dest(kARGB8, 4, 2);
  src.Fill(0x00102030);
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 4; x++) alpha.Set(x, y, static_cast<uint32_t>(x * 60 + y));
  Flags f;
  f.alpha = &alpha;
  ASSERT_EQ(0, Convert(dest, src, f));
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 4; x++) EXPECT_EQ((static_cast<uint32_t>(x * 60 + y) << 24) | 0x102030u, dest.Get(x, y));

  // An alpha image of another format gives its red channel, rescaled.
  Image alpha565(k565, 4, 2), dest4444(k4444, 4, 2);
  alpha565.Fill(0xf800);
  alpha565.Set(1, 1, 0x7800);  // red 15 of 31
  ASSERT_EQ(0, Convert(dest4444, src, Flags{0, 0, 0, 0, 0, 0, 0, 0, &alpha565}));
  EXPECT_EQ(0xf123u, dest4444.Get(0, 0));
  EXPECT_EQ(0x7123u, dest4444.Get(1, 1));

  // A sub-rectangle reads the alpha image at the same place as the source.
  RECT rect = {2, 1, 4, 2};
  dest.Fill(0);
  ASSERT_EQ(0, Convert(dest, src, f, 0, 0, &rect));
  EXPECT_EQ((static_cast<uint32_t>(2 * 60 + 1) << 24) | 0x102030u, dest.Get(0, 0));

  // A source with alpha keeps it.
  Image argb(kARGB8, 4, 2);
  argb.Fill(0x11223344);
  ASSERT_EQ(0, Convert(dest, argb, f));
  EXPECT_EQ(0x11223344u, dest.Get(3, 1));
}

TEST_P(BothPaths, OrderedDitherFollowsTheMatrixFromTheRectangleCorner) {
  static const int kMatrix[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};
  Image src(kARGB8, 6, 6), dest(k565, 8, 8);
  src.Fill(0xff848484);  // 132: red and blue drop 4 of 8, green drops nothing
  src.Set(0, 0, 0xffffffff);
  Flags f;
  f.reduction = BLT_REDUCE_ORDERED_DITHER;
  RECT rect = {1, 1, 6, 6};
  ASSERT_EQ(0, Convert(dest, src, f, 2, 3, &rect));
  for (int y = 0; y < 5; y++) {
    for (int x = 0; x < 5; x++) {
      const int m = kMatrix[(y % 4) * 4 + (x % 4)];
      const uint32_t rb = m < 8 ? 17 : 16;  // 4 > 8 m / 16
      EXPECT_EQ((rb << 11) | (33 << 5) | rb, dest.Get(2 + x, 3 + y)) << x << "," << y << " m " << m;
    }
  }
  // Raised channels stop at their maximum.
  Image white(kARGB8, 4, 4), out(k565, 4, 4);
  white.Fill(0xfffefffe);
  ASSERT_EQ(0, Convert(out, white, f));
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) EXPECT_EQ(0xffffu, out.Get(x, y));
}

TEST_P(BothPaths, CarriedRemainderAddsUpDroppedBits) {
  Image src(kARGB8, 6, 1), dest(k565, 6, 1);
  src.Fill(0xff848484);
  Flags f;
  f.reduction = BLT_REDUCE_CARRY;
  ASSERT_EQ(0, Convert(dest, src, f));
  const uint32_t expected[6] = {16, 17, 16, 17, 16, 17};
  for (int x = 0; x < 6; x++) EXPECT_EQ((expected[x] << 11) | (33 << 5) | expected[x], dest.Get(x, 0)) << x;
}

// ---- Palettes -------------------------------------------------------------------

ColorFormatRecord TestPalette() {
  ColorFormatRecord f = Fixed(MakeColorFormatPal8);
  memset(f.palette, 0, sizeof(f.palette));
  for (int i = 0; i < 256; i++) {
    f.palette[i][2] = static_cast<uint8_t>(i);  // red = index
    f.palette[i][1] = static_cast<uint8_t>(255 - i);
    f.palette[i][3] = 0x40;
  }
  return f;
}

TEST_P(BothPaths, PlainEightBitCopyReturnsTheLargestIndex) {
  Image src(kGray8, 3, 1), dest(kGray8, 3, 1);
  src.Set(0, 0, 3);
  src.Set(1, 0, 9);
  src.Set(2, 0, 4);
  EXPECT_EQ(9, Convert(dest, src, Flags()));
  EXPECT_EQ(src.Bytes(), dest.Bytes());
  // Remapping between equal palettes is the same copy.
  Flags remap;
  remap.remap = 1;
  EXPECT_EQ(9, Convert(dest, src, remap));
  EXPECT_EQ(0, CopyBaseImageTo(0, 0, &src.record, &dest.record));
}

TEST_P(BothPaths, PaletteRemapTakesTheNearestEntry) {
  ColorFormatRecord srcFormat = TestPalette();
  ColorFormatRecord destFormat = Fixed(MakeColorFormatGray8);
  memset(destFormat.palette, 0, sizeof(destFormat.palette));
  // Destination: entry 10 matches source entry 200 exactly, entry 20 is near 100.
  destFormat.palette[10][2] = 200, destFormat.palette[10][1] = 55;
  destFormat.palette[20][2] = 101, destFormat.palette[20][1] = 154;
  Image src(srcFormat, 2, 1), dest(destFormat, 2, 1);
  src.Set(0, 0, 200);
  src.Set(1, 0, 100);
  Flags f;
  f.remap = 1;
  EXPECT_EQ(0, Convert(dest, src, f));
  EXPECT_EQ(10u, dest.Get(0, 0));
  EXPECT_EQ(20u, dest.Get(1, 0));
  // Without the flag the indices are copied.
  EXPECT_EQ(200, Convert(dest, src, Flags()));
  EXPECT_EQ(100u, dest.Get(1, 0));
}

TEST_P(BothPaths, PaletteSourcesConvertThroughTheirEntries) {
  ColorFormatRecord palette = TestPalette();
  Image src(palette, 12, 2), dest(kARGB8, 12, 2), d565(k565, 12, 2);
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 12; x++) src.Set(x, y, static_cast<uint32_t>(x * 20 + y));
  ASSERT_EQ(0, Convert(dest, src, Flags()));
  for (int x = 0; x < 12; x++) {
    const uint32_t i = static_cast<uint32_t>(x * 20 + 1);
    EXPECT_EQ(0xff000000u | (i << 16) | ((255 - i) << 8), dest.Get(x, 1));
  }
  ASSERT_EQ(0, Convert(d565, src, Flags()));
  EXPECT_EQ(((40u >> 3) << 11) | ((215u >> 2) << 5), d565.Get(2, 0));
  // Key colours of a palette source compare the entry's colour.
  Flags key;
  key.keyToAlpha = 1;
  key.key = (40u << 16) | (215u << 8);
  ASSERT_EQ(0, Convert(dest, src, key));
  EXPECT_EQ(0x00000000u, dest.Get(2, 0) & 0xff000000u);
  EXPECT_EQ(0xff000000u, dest.Get(3, 0) & 0xff000000u);
}

TEST_P(BothPaths, PackedSourcesToPaletteWidenBeforeMatching) {
  ColorFormatRecord destFormat = Fixed(MakeColorFormatPal8);
  memset(destFormat.palette, 0, sizeof(destFormat.palette));
  destFormat.palette[1][2] = 248;  // what 5-bit red 31 would be unwidened
  destFormat.palette[2][2] = 255;
  destFormat.palette[3][0] = 255;
  Image src(k565, 3, 1), dest(destFormat, 3, 1);
  src.Set(0, 0, 0xf800);
  src.Set(1, 0, 0x001f);
  src.Set(2, 0, 0x0000);
  ASSERT_EQ(0, Convert(dest, src, Flags()));
  EXPECT_EQ(2u, dest.Get(0, 0));
  EXPECT_EQ(3u, dest.Get(1, 0));
  EXPECT_EQ(0u, dest.Get(2, 0));
  Flags mirror;
  mirror.mirror = 1;
  EXPECT_EQ(-1, Convert(dest, src, mirror));
  Flags red;
  red.alphaFromRed = 1;
  EXPECT_EQ(-1, Convert(dest, src, red));
}

// ---- Wide channels --------------------------------------------------------------

TEST_P(BothPaths, WideChannelFormatsGoThroughFloats) {
  // Four 16-bit float channels, red first: 1.0, 0.5, 0, 1.0.
  Image half(Wide(4, 16, 1), 5, 1), out(kARGB8, 5, 1);
  for (int x = 0; x < 5; x++) {
    uint16_t c[4] = {0x3c00, 0x3800, 0x0000, 0x3c00};
    memcpy(half.At(x, 0), c, 8);
  }
  uint16_t special[4] = {0x7c00, 0x7e00, 0xbc00, 0x3800};  // infinity, NaN, -1, 0.5
  memcpy(half.At(4, 0), special, 8);
  ASSERT_EQ(0, Convert(out, half, Flags()));
  EXPECT_EQ(0xffff7f00u, out.Get(0, 0));
  EXPECT_EQ(0x7fff0000u, out.Get(4, 0));

  // Integer wide channels into a 16-bit format: no channel masks involved.
  Image integer(Wide(4, 16, 0), 3, 1), o565(k565, 3, 1);
  uint16_t c[4] = {0xffff, 0x8000, 0x0000, 0xffff};
  for (int x = 0; x < 3; x++) memcpy(integer.At(x, 0), c, 8);
  ASSERT_EQ(0, Convert(o565, integer, Flags()));
  EXPECT_EQ((31u << 11) | (31u << 5), o565.Get(2, 0));

  // Packed to four 32-bit floats.
  Image argb(kARGB8, 2, 1), f32(Wide(4, 32, 1), 2, 1);
  argb.Fill(0xff00ff80);
  ASSERT_EQ(0, Convert(f32, argb, Flags()));
  float v[4];
  memcpy(v, f32.At(1, 0), 16);
  EXPECT_EQ(0.0f, v[0]);
  EXPECT_EQ(1.0f, v[1]);
  EXPECT_FLOAT_EQ(128.0f / 255.0f, v[2]);
  EXPECT_EQ(1.0f, v[3]);

  // One channel reads as grey.
  Image r16f(Wide(1, 16, 1), 2, 1), xrgb(kXRGB8, 2, 1);
  uint16_t h = 0x3800;
  memcpy(r16f.At(0, 0), &h, 2);
  memcpy(r16f.At(1, 0), &h, 2);
  ASSERT_EQ(0, Convert(xrgb, r16f, Flags()));
  EXPECT_EQ(0xff7f7f7fu, xrgb.Get(1, 0));

  // Back to half floats.
  Image back(Wide(4, 16, 1), 2, 1);
  ASSERT_EQ(0, Convert(back, argb, Flags()));
  uint16_t out16[4];
  memcpy(out16, back.At(0, 0), 8);
  EXPECT_EQ(0x0000, out16[0]);
  EXPECT_EQ(0x3c00, out16[1]);
  EXPECT_EQ(0x3c00, out16[3]);
}

// ---- Refusals -------------------------------------------------------------------

TEST_P(BothPaths, EmptyRectanglesAndCompressedFormatsAreRefused) {
  Image src(kARGB8, 4, 4), dest(kARGB8, 4, 4);
  const RECT empty[] = {{0, 0, 0, 4}, {1, 1, 4, 1}, {3, 0, 1, 4}};
  for (const RECT& r : empty) EXPECT_EQ(-1, Convert(dest, src, Flags(), 0, 0, &r));
  ColorFormatRecord dxt = kARGB8;
  dxt.kind = 1;
  RECT whole = {0, 0, 4, 4};
  EXPECT_EQ(-1, ConvertColorBlt(dest.record.pixels, 16, &kARGB8, src.record.pixels, 16, &dxt, nullptr, 0, nullptr, 0, 0,
                                &whole, 0, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_EQ(-1, ConvertColorBlt(nullptr, 16, &kARGB8, src.record.pixels, 16, &kARGB8, nullptr, 0, nullptr, 0, 0, &whole,
                                0, 0, 0, 0, 0, 0, 0, 0));
}

INSTANTIATE_TEST_SUITE_P(ConvertColorBlt, BothPaths, ::testing::Values(1, 0), PathName);

// ---- The dedicated loops agree with the general path -------------------------------

TEST(ConvertColorBltPaths, DedicatedLoopsMatchTheGeneralPath) {
  struct Case {
    const char* name;
    ColorFormatRecord src, dest;
    Flags flags;
  };
  Flags key;
  key.keyToAlpha = 1;
  key.key = 0x102030;
  Flags skip;
  skip.skipKey = 1;
  skip.key = 0x102030;
  Flags mirror;
  mirror.mirror = 1;
  Flags dither;
  dither.reduction = BLT_REDUCE_ORDERED_DITHER;
  Flags red;
  red.alphaFromRed = 1;
  Flags off;
  off.colorOff = 1;
  Flags ditherKey = key;
  ditherKey.reduction = BLT_REDUCE_ORDERED_DITHER;
  Flags ditherRed = red;
  ditherRed.reduction = BLT_REDUCE_ORDERED_DITHER;
  Flags carry;
  carry.reduction = BLT_REDUCE_CARRY;
  Flags carryKey = key;
  carryKey.reduction = BLT_REDUCE_CARRY;
  const ColorFormatRecord palette = TestPalette();
  const Case cases[] = {
      {"ARGB8 to XRGB8", kARGB8, kXRGB8, Flags()},
      {"XRGB8 to ARGB8", kXRGB8, kARGB8, Flags()},
      {"XRGB8 to ARGB8 keyed", kXRGB8, kARGB8, key},
      {"ARGB8 to 565", kARGB8, k565, Flags()},
      {"ARGB8 to 555", kARGB8, k555, Flags()},
      {"ARGB8 to 1555", kARGB8, k1555, Flags()},
      {"ARGB8 to 4444", kARGB8, k4444, Flags()},
      {"XRGB8 to 4444 keyed", kXRGB8, k4444, key},
      {"ARGB8 to XBGR8", kARGB8, kXBGR8, Flags()},
      {"ARGB8 to ARGB8 red alpha", kARGB8, kARGB8, red},
      {"ARGB8 to 565 dithered", kARGB8, k565, dither},
      {"ARGB8 to XRGB8 dithered", kARGB8, kXRGB8, dither},
      {"ARGB8 to 565 colour off", kARGB8, k565, off},
      {"565 to ARGB8", k565, kARGB8, Flags()},
      {"565 to ARGB8 keyed", k565, kARGB8, key},
      {"565 to ARGB8 skip", k565, kARGB8, skip},
      {"565 to ARGB8 mirrored", k565, kARGB8, mirror},
      {"555 to XRGB8", k555, kXRGB8, Flags()},
      {"4444 to ARGB8", k4444, kARGB8, Flags()},
      {"1555 to 565", k1555, k565, Flags()},
      {"RGB8 to ARGB8 keyed", kRGB8, kARGB8, key},
      {"RGB8 to 565", kRGB8, k565, Flags()},
      {"ARGB8 to RGB8", kARGB8, kRGB8, Flags()},
      {"2-10-10-10 to ARGB8", k2101010, kARGB8, Flags()},
      {"ARGB8 to 2-10-10-10", kARGB8, k2101010, Flags()},
      {"palette to ARGB8", palette, kARGB8, Flags()},
      {"palette to 565 keyed", palette, k565, key},
      {"palette to XRGB8 skip", palette, kXRGB8, skip},
      {"palette to 4444 dithered", palette, k4444, dither},
      {"XRGB8 to 1555 dithered keyed", kXRGB8, k1555, ditherKey},
      {"ARGB8 to 4444 dithered", kARGB8, k4444, dither},
      {"ARGB8 to 4444 dithered red alpha", kARGB8, k4444, ditherRed},
      {"XBGR8 to 565 dithered", kXBGR8, k565, dither},
      {"ARGB8 to 1555", kARGB8, k1555, Flags()},
      {"XBGR8 to 565", kXBGR8, k565, Flags()},
      {"565 to XBGR8", k565, kXBGR8, Flags()},
      {"555 to ARGB8 keyed", k555, kARGB8, key},
      {"1555 to ARGB8 red alpha", k1555, kARGB8, red},
      {"565 to ARGB8 colour off", k565, kARGB8, off},
      {"ARGB8 to 565 carried", kARGB8, k565, carry},
      {"RGB8 to 4444 carried keyed", kRGB8, k4444, carryKey},
      {"565 to 8-3-3-2 carried", k565, k332, carry},
      {"RGB8 to XRGB8", kRGB8, kXRGB8, Flags()},
  };
  std::mt19937 random(12345);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int width = 29, height = 5;
    Image src(c.src, width, height), fast(c.dest, width, height), general(c.dest, width, height);
    for (int y = 0; y < height; y++) {
      for (int x = 0; x < width; x++) {
        uint32_t value = random();
        // Some pixels hit the key colour.
        if (x % 7 == 3) value = c.src.bytesPerPixel == 1 ? 0 : MakeFormatPixelFromRGBA(&c.src, 0x10, 0x20, 0x30, 0);
        src.Set(x, y, value);
      }
    }
    if (c.src.bytesPerPixel == 1) {
      // Give the palette source a key entry.
      ColorFormatRecord& f = src.record.format;
      f.palette[0][2] = 0x10, f.palette[0][1] = 0x20, f.palette[0][0] = 0x30;
    }
    fast.Fill(0x5a5a5a5a);
    general.Fill(0x5a5a5a5a);
    RECT rect = {1, 1, width, height};
    SetConvertColorBltFastPaths(1);
    ASSERT_EQ(0, Convert(fast, src, c.flags, 0, 0, &rect));
    SetConvertColorBltFastPaths(0);
    ASSERT_EQ(0, Convert(general, src, c.flags, 0, 0, &rect));
    SetConvertColorBltFastPaths(1);
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) ASSERT_EQ(general.Get(x, y), fast.Get(x, y)) << x << "," << y;
  }
}

// The 5-6-5 loops against the general path: every 5-6-5 value into byte
// channels, and sampled byte-channel values at all sixteen dither places
// into 5-6-5. Widths leave a few pixels for the loops' single-pixel ends.
// Run with 256-bit vectors (where the processor has them) and without.
class FiveSixFive : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { SetConvertColorBltWideVectors(GetParam()); }
  void TearDown() override { SetConvertColorBltWideVectors(1); }
};

TEST_P(FiveSixFive, LoopsMatchTheGeneralPathOverAllInputs) {
  auto compare = [](const Image& src, const ColorFormatRecord& destFormat, const Flags& flags, const RECT& rect) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    Image fast(destFormat, width, height), general(destFormat, width, height);
    SetConvertColorBltFastPaths(1);
    ASSERT_EQ(0, Convert(fast, src, flags, 0, 0, &rect));
    SetConvertColorBltFastPaths(0);
    ASSERT_EQ(0, Convert(general, src, flags, 0, 0, &rect));
    SetConvertColorBltFastPaths(1);
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) {
        const uint32_t in = src.Get(rect.left + x, rect.top + y);
        ASSERT_EQ(general.Get(x, y), fast.Get(x, y))
            << "pixel " << std::hex << in << " at " << std::dec << x << "," << y;
      }
  };

  Flags plain;
  Flags key;
  key.keyToAlpha = 1;
  key.key = 0x08410c;  // a 5-6-5 colour: 1, 16, 1 widened
  Flags dither;
  dither.reduction = BLT_REDUCE_ORDERED_DITHER;

  {
    SCOPED_TRACE("5-6-5 sources");
    const int width = 259, height = 254;  // 65786 pixels: every value once or more
    Image src(k565, width, height);
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) src.Set(x, y, (uint32_t)(y * width + x) & 0xffff);
    const RECT whole = {0, 0, width, height};
    const RECT inner = {3, 1, width - 2, height};
    for (const ColorFormatRecord* dest : {&kARGB8, &kXRGB8}) {
      compare(src, *dest, plain, whole);
      compare(src, *dest, key, whole);
      compare(src, *dest, plain, inner);
      compare(src, *dest, dither, inner);
    }
  }
  {
    SCOPED_TRACE("byte-channel sources");
    // Every grey level, every level of each channel alone and with the
    // others full, then random colours; each one fills a 4 x 4 block, so
    // it meets every dither place.
    std::vector<uint32_t> values;
    for (uint32_t c = 0; c < 256; c++) {
      values.push_back(0xff000000u | c * 0x010101u);
      values.push_back(c << 16);
      values.push_back(c << 8);
      values.push_back(c);
      values.push_back(0x00ffffffu ^ (c << 16));
      values.push_back(0x00ffffffu ^ (c << 8));
      values.push_back(0x00ffffffu ^ c);
    }
    std::mt19937 random(565);
    while (values.size() < 8192) values.push_back(random());
    const int columns = 64, width = columns * 4 + 3;
    const int height = (int)((values.size() + columns - 1) / columns) * 4;
    for (const ColorFormatRecord* srcFormat : {&kARGB8, &kXRGB8}) {
      Image src(*srcFormat, width, height + 2);
      for (int y = 0; y < height + 2; y++)
        for (int x = 0; x < width; x++) {
          const size_t i = (size_t)(y / 4) * columns + (size_t)(x / 4 < columns ? x / 4 : columns - 1);
          src.Set(x, y, values[i % values.size()]);
        }
      const RECT whole = {0, 0, width, height};
      const RECT shifted = {1, 2, width, height + 2};  // the dither counts from this corner
      compare(src, k565, plain, whole);
      compare(src, k565, dither, whole);
      compare(src, k565, dither, shifted);
    }
  }
}

// The same loops against the width formulas written out here: widening
// as (v << d) + v (2^d - 1) / (2^w - 1), narrowing by dropping bits, the
// ordered dither's raise when the dropped bits exceed 2^drop m / 16 (m from
// the 4 x 4 matrix at the pixel's place from the rectangle's corner).
uint32_t Widen(uint32_t v, int width) {
  const int d = 8 - width;
  return (v << d) + v * ((1u << d) - 1) / ((1u << width) - 1);
}

uint32_t Narrow(uint32_t c, int width, int dither, int x, int y) {
  static const int kMatrix[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};
  const int drop = 8 - width;
  uint32_t q = c >> drop;
  if (dither && (c & ((1u << drop) - 1)) > ((1u << drop) * static_cast<uint32_t>(kMatrix[(y & 3) * 4 + (x & 3)])) / 16)
    ++q;
  const uint32_t top = (1u << width) - 1;
  return q > top ? top : q;
}

TEST_P(FiveSixFive, LoopsFollowTheWidthFormulas) {
  {
    SCOPED_TRACE("every 5-6-5 value");
    const int width = 259, height = 254;
    Image src(k565, width, height), dest(kARGB8, width, height);
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) src.Set(x, y, static_cast<uint32_t>(y * width + x) & 0xffff);
    Flags key;
    key.keyToAlpha = 1;
    key.key = 0x08410c;
    const uint32_t keyPixel = (1u << 11) | (16u << 5) | 1u;
    for (const Flags& flags : {Flags(), key}) {
      ASSERT_EQ(0, Convert(dest, src, flags));
      for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
          const uint32_t v = src.Get(x, y);
          const uint32_t alpha = flags.keyToAlpha && v == keyPixel ? 0u : 0xff000000u;
          const uint32_t expected = alpha | Widen(v >> 11, 5) << 16 | Widen((v >> 5) & 63, 6) << 8 | Widen(v & 31, 5);
          ASSERT_EQ(expected, dest.Get(x, y)) << std::hex << v;
        }
    }
  }
  {
    SCOPED_TRACE("random ARGB8 pixels");
    const int width = 263, height = 23;
    Image src(kARGB8, width, height);
    std::mt19937 random(5656);
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) src.Set(x, y, static_cast<uint32_t>(random()));
    const RECT rects[] = {{0, 0, width, height}, {1, 2, width, height}, {3, 1, width - 2, height}, {2, 3, 37, 9}};
    for (int dither : {0, 1})
      for (const RECT& r : rects) {
        SCOPED_TRACE(testing::Message() << "dither " << dither << " from " << r.left << "," << r.top);
        const int w = r.right - r.left, h = r.bottom - r.top;
        Image dest(k565, w, h);
        Flags flags;
        flags.reduction = dither ? BLT_REDUCE_ORDERED_DITHER : BLT_REDUCE_NONE;
        ASSERT_EQ(0, Convert(dest, src, flags, 0, 0, &r));
        for (int y = 0; y < h; y++)
          for (int x = 0; x < w; x++) {
            const uint32_t v = src.Get(r.left + x, r.top + y);
            const uint32_t expected = Narrow((v >> 16) & 0xff, 5, dither, x, y) << 11 |
                                      Narrow((v >> 8) & 0xff, 6, dither, x, y) << 5 | Narrow(v & 0xff, 5, dither, x, y);
            ASSERT_EQ(expected, dest.Get(x, y)) << std::hex << v << std::dec << " at " << x << "," << y;
          }
      }
  }
}

INSTANTIATE_TEST_SUITE_P(ConvertColorBltPaths, FiveSixFive, ::testing::Values(1, 0),
                         [](const ::testing::TestParamInfo<int>& info) { return info.param ? "Wide" : "Narrow"; });

// ---- Rectangle copies -------------------------------------------------------------

TEST(BltBaseImageRect, ClipsAgainstBothImages) {
  struct Case {
    int sx, sy, w, h, dx, dy;
  } cases[] = {
      {0, 0, 4, 4, 0, 0},     {1, 1, 2, 2, 2, 0},          {-1, 0, 3, 2, 0, 0},
      {0, -2, 4, 4, 1, 1},    {0, 0, 4, 4, -1, -3},        {2, 2, 9, 9, 1, 1},
      {0, 0, 4, 4, 3, 3},     {3, 3, 4, 4, -2, -2},        {0, 0, 4, 4, 4, 0},
      {-5, 0, 4, 4, 0, 0},    {0, 0, 0, 4, 0, 0},          {0, 0, 4, -1, 0, 0},
      {-1, -1, 6, 6, -1, -1}, {0x7fffffff, 0, 4, 4, 0, 0}, {-0x7fffffff, 0, 4, 4, 0x7fffffff, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sx << "," << c.sy << " " << c.w << "x" << c.h << " to " << c.dx << ","
                                    << c.dy);
    Image src(kXRGB8, 4, 4), dest(kXRGB8, 5, 3);
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < 4; x++) src.Set(x, y, static_cast<uint32_t>(1 + x + y * 16));
    ASSERT_EQ(0, BltBaseImageRect(c.sx, c.sy, c.w, c.h, c.dx, c.dy, &src.record, &dest.record));
    for (int y = 0; y < 3; y++) {
      for (int x = 0; x < 5; x++) {
        const int64_t u = static_cast<int64_t>(x) - c.dx, v = static_cast<int64_t>(y) - c.dy;
        const int64_t px = c.sx + u, py = c.sy + v;
        const bool copied = u >= 0 && v >= 0 && u < c.w && v < c.h && px >= 0 && py >= 0 && px < 4 && py < 4;
        EXPECT_EQ(copied ? static_cast<uint32_t>(1 + px + py * 16) : 0u, dest.Get(x, y)) << x << "," << y;
      }
    }
  }
}

TEST(BltBaseImageRect, ConvertsAndCopiesWholeImages) {
  Image src(k565, 3, 2), dest(kARGB8, 6, 4);
  src.Fill(0xffff);
  ASSERT_EQ(0, CopyBaseImageTo(2, 1, &src.record, &dest.record));
  EXPECT_EQ(0xffffffffu, dest.Get(2, 1));
  EXPECT_EQ(0xffffffffu, dest.Get(4, 2));
  EXPECT_EQ(0u, dest.Get(5, 2));
  EXPECT_EQ(0u, dest.Get(2, 3));
  BaseImageRecord empty;
  memset(&empty, 0, sizeof(empty));
  EXPECT_EQ(-1, CopyBaseImageTo(0, 0, &empty, &dest.record));
}

// ---- Stretch ----------------------------------------------------------------------

TEST(StretchBaseImageRect, NearestRepeatsSourcePixels) {
  Image src(kXRGB8, 2, 2), dest(kXRGB8, 4, 4);
  src.Set(0, 0, 0xff110000);
  src.Set(1, 0, 0xff002200);
  src.Set(0, 1, 0xff000033);
  src.Set(1, 1, 0xff444444);
  ASSERT_EQ(0, StretchBaseImageRect(0, 0, 2, 2, &src.record, 0, 0, 4, 4, &dest.record, STRETCH_NEAREST));
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) EXPECT_EQ(src.Get(x / 2, y / 2), dest.Get(x, y)) << x << "," << y;
  // Shrinking steps over every other pixel.
  Image row(kXRGB8, 4, 1), half(kXRGB8, 2, 1);
  for (int x = 0; x < 4; x++) row.Set(x, 0, 0xff000000u | static_cast<uint32_t>(x));
  ASSERT_EQ(0, StretchBaseImageRect(0, 0, 4, 1, &row.record, 0, 0, 2, 1, &half.record, STRETCH_NEAREST));
  EXPECT_EQ(0xff000000u, half.Get(0, 0));
  EXPECT_EQ(0xff000002u, half.Get(1, 0));
}

TEST(StretchBaseImageRect, BilinearKeepsUniformImagesUniform) {
  for (uint32_t color : {0xffffffffu, 0x80808080u, 0x01fe7f00u}) {
    Image src(kARGB8, 3, 3), dest(kARGB8, 7, 5), down(kARGB8, 2, 2);
    src.Fill(color);
    ASSERT_EQ(0, StretchBaseImageRect(0, 0, 3, 3, &src.record, 0, 0, 7, 5, &dest.record, STRETCH_BILINEAR));
    for (int y = 0; y < 5; y++)
      for (int x = 0; x < 7; x++) ASSERT_EQ(color, dest.Get(x, y)) << std::hex << color << " " << x << "," << y;
    ASSERT_EQ(0, StretchBaseImageRect(0, 0, 3, 3, &src.record, 0, 0, 2, 2, &down.record, STRETCH_BILINEAR));
    EXPECT_EQ(color, down.Get(1, 1));
  }
}

TEST(StretchBaseImageRect, BilinearBlendsGradientsAndClampsAtTheEdge) {
  Image src(kARGB8, 2, 1), dest(kARGB8, 4, 1), nearest(kARGB8, 4, 1);
  src.Set(0, 0, 0xff000000);
  src.Set(1, 0, 0xffff0000);
  ASSERT_EQ(0, StretchBaseImageRect(0, 0, 2, 1, &src.record, 0, 0, 4, 1, &dest.record, STRETCH_BILINEAR));
  const uint32_t reds[4] = {0, 127, 255, 255};
  for (int x = 0; x < 4; x++) EXPECT_EQ(0xff000000u | (reds[x] << 16), dest.Get(x, 0)) << x;
  ASSERT_EQ(0, StretchBaseImageRect(0, 0, 2, 1, &src.record, 0, 0, 4, 1, &nearest.record, STRETCH_NEAREST));
  const uint32_t nearestReds[4] = {0, 0, 255, 255};
  for (int x = 0; x < 4; x++) EXPECT_EQ(0xff000000u | (nearestReds[x] << 16), nearest.Get(x, 0)) << x;

  // Samples never reach past the source rectangle.
  Image wide(kARGB8, 3, 1), two(kARGB8, 4, 1);
  wide.Fill(0xff00ff00);
  wide.Set(2, 0, 0xffff0000);
  ASSERT_EQ(0, StretchBaseImageRect(0, 0, 2, 1, &wide.record, 0, 0, 4, 1, &two.record, STRETCH_BILINEAR));
  for (int x = 0; x < 4; x++) EXPECT_EQ(0xff00ff00u, two.Get(x, 0)) << x;
}

TEST(StretchBaseImageRect, RefusesRectanglesOutsideTheImages) {
  Image src(kARGB8, 4, 4), dest(kARGB8, 4, 4);
  struct Case {
    int sl, st, sr, sb, dl, dt, dr, db;
  } cases[] = {
      {-1, 0, 2, 2, 0, 0, 4, 4}, {0, 0, 5, 2, 0, 0, 4, 4}, {2, 0, 2, 2, 0, 0, 4, 4},  {0, 3, 2, 2, 0, 0, 4, 4},
      {4, 0, 4, 2, 0, 0, 4, 4},  {0, 0, 2, 2, 0, 0, 4, 5}, {0, 0, 2, 2, 0, -1, 4, 4}, {0, 0, 2, 2, 3, 0, 3, 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(-1, StretchBaseImageRect(c.sl, c.st, c.sr, c.sb, &src.record, c.dl, c.dt, c.dr, c.db, &dest.record,
                                       STRETCH_BILINEAR));
  }
  // Equal sizes copy.
  src.Set(1, 1, 0x12345678);
  ASSERT_EQ(0, StretchBaseImageRect(1, 1, 3, 3, &src.record, 0, 0, 2, 2, &dest.record, STRETCH_BILINEAR));
  EXPECT_EQ(0x12345678u, dest.Get(0, 0));
}

// ---- Whole-image operations ---------------------------------------------------------

TEST(PremultiplyBaseImageAlpha, ScalesColorsByAlpha) {
  Image image(kARGB8, 3, 1);
  image.Set(0, 0, 0x80c86432);
  image.Set(1, 0, 0x00ffffff);
  image.Set(2, 0, 0xffffffff);
  ASSERT_EQ(0, PremultiplyBaseImageAlpha(&image.record));
  EXPECT_EQ(0x80643219u, image.Get(0, 0));  // 200, 100, 50 times 128 / 255
  EXPECT_EQ(0x00000000u, image.Get(1, 0));
  EXPECT_EQ(0xffffffffu, image.Get(2, 0));

  // Other formats with alpha become ARGB8 first.
  Image other(k4444, 2, 1);
  other.Set(1, 0, 0x8fff);
  ASSERT_EQ(0, PremultiplyBaseImageAlpha(&other.record));
  EXPECT_TRUE(IsExactARGB8Format(&other.record.format));
  EXPECT_EQ(8, other.record.pitch);
  EXPECT_EQ(0x88888888u, other.Get(1, 0));

  // Images without alpha are left alone.
  Image plain(kXRGB8, 1, 1);
  plain.Set(0, 0, 0x00ffffff);
  ASSERT_EQ(0, PremultiplyBaseImageAlpha(&plain.record));
  EXPECT_EQ(0x00ffffffu, plain.Get(0, 0));
}

TEST(MirrorBaseImageHorizontally, ReversesEveryRow) {
  for (const ColorFormatRecord* f : {&kGray8, &k565, &kRGB8, &kARGB8}) {
    Image image(*f, 5, 2);
    for (int y = 0; y < 2; y++)
      for (int x = 0; x < 5; x++) image.Set(x, y, static_cast<uint32_t>(x + 10 * y + 1) * 0x01010101u);
    ASSERT_EQ(0, MirrorBaseImageHorizontally(&image.record));
    const uint32_t mask = f->bytesPerPixel == 4 ? 0xffffffffu : (1u << (8 * f->bytesPerPixel)) - 1;
    for (int y = 0; y < 2; y++)
      for (int x = 0; x < 5; x++)
        EXPECT_EQ((static_cast<uint32_t>(5 - x + 10 * y) * 0x01010101u) & mask, image.Get(x, y));
  }
  BaseImageRecord empty;
  memset(&empty, 0, sizeof(empty));
  EXPECT_EQ(-1, MirrorBaseImageHorizontally(&empty));
}

TEST(RotateBaseImage180, SwapsOppositePixels) {
  for (int height : {3, 4, 1}) {
    for (const ColorFormatRecord* f : {&kGray8, &k565, &kRGB8, &kARGB8}) {
      Image image(*f, 3, height);
      for (int y = 0; y < height; y++)
        for (int x = 0; x < 3; x++) image.Set(x, y, static_cast<uint32_t>(x + 3 * y + 1));
      ASSERT_EQ(0, RotateBaseImage180(&image.record));
      for (int y = 0; y < height; y++)
        for (int x = 0; x < 3; x++)
          EXPECT_EQ(static_cast<uint32_t>((2 - x) + 3 * (height - 1 - y) + 1), image.Get(x, y)) << x << "," << y;
    }
  }
  // On a 3 x 3 image pixel (0, 1) lands on (2, 1).
  Image square(kARGB8, 3, 3);
  square.Set(0, 1, 0xabcdef01);
  RotateBaseImage180(&square.record);
  EXPECT_EQ(0xabcdef01u, square.Get(2, 1));
  square.record.format.kind = 1;
  EXPECT_EQ(-1, RotateBaseImage180(&square.record));
  square.record.format.kind = 0;
}

TEST(HalveImageForMipLevel, AveragesBlocksPairsAndSingles) {
  Image src(k565, 4, 2), dest(k565, 2, 1);
  // Block 0: red 31, 31, 0, 0 -> 15; green 0, 63, 63, 63 -> 47; blue 4, 4, 4, 5 -> 4.
  src.Set(0, 0, (31u << 11) | 4);
  src.Set(1, 0, (31u << 11) | (63u << 5) | 4);
  src.Set(0, 1, (63u << 5) | 4);
  src.Set(1, 1, (63u << 5) | 5);
  src.Set(2, 0, 0xffff);
  src.Set(3, 0, 0xffff);
  src.Set(2, 1, 0xffff);
  src.Set(3, 1, 0xffff);
  ASSERT_EQ(0, HalveImageForMipLevel(&k565, dest.record.pixels, dest.record.pitch, src.record.pixels, src.record.pitch,
                                     0, 0, 0, 0, 4, 2));
  EXPECT_EQ((15u << 11) | (47u << 5) | 4, dest.Get(0, 0));
  EXPECT_EQ(0xffffu, dest.Get(1, 0));

  // 1 pixel wide: vertical pairs; 1 pixel high: horizontal pairs; 1 x 1 copies.
  Image column(kARGB8, 1, 4), columnOut(kARGB8, 1, 2);
  column.Set(0, 0, 0x10203040);
  column.Set(0, 1, 0x30405060);
  column.Set(0, 2, 0xff000000);
  column.Set(0, 3, 0x01000000);
  ASSERT_EQ(0, HalveImageForMipLevel(&kARGB8, columnOut.record.pixels, columnOut.record.pitch, column.record.pixels,
                                     column.record.pitch, 0, 0, 0, 0, 1, 4));
  EXPECT_EQ(0x20304050u, columnOut.Get(0, 0));
  EXPECT_EQ(0x80000000u, columnOut.Get(0, 1));
  Image row(kXRGB8, 2, 1), rowOut(kXRGB8, 1, 1);
  row.Set(0, 0, 0x000000ff);
  row.Set(1, 0, 0x00000001);
  ASSERT_EQ(0, HalveImageForMipLevel(&kXRGB8, rowOut.record.pixels, rowOut.record.pitch, row.record.pixels,
                                     row.record.pitch, 0, 0, 0, 0, 2, 1));
  EXPECT_EQ(0xff000080u, rowOut.Get(0, 0));
  ASSERT_EQ(0, HalveImageForMipLevel(&kXRGB8, rowOut.record.pixels, rowOut.record.pitch, row.record.pixels,
                                     row.record.pitch, 0, 0, 1, 0, 1, 1));
  EXPECT_EQ(0x00000001u, rowOut.Get(0, 0));

  // Regions 3 wide or 3 high and 24-bit or 8-bit formats are refused.
  EXPECT_EQ(-1, HalveImageForMipLevel(&k565, dest.record.pixels, dest.record.pitch, src.record.pixels, src.record.pitch,
                                      0, 0, 0, 0, 3, 2));
  EXPECT_EQ(-1, HalveImageForMipLevel(&k565, dest.record.pixels, dest.record.pitch, src.record.pixels, src.record.pitch,
                                      0, 0, 0, 0, 2, 3));
  EXPECT_EQ(-1, HalveImageForMipLevel(&kRGB8, dest.record.pixels, dest.record.pitch, src.record.pixels,
                                      src.record.pitch, 0, 0, 0, 0, 2, 2));
  EXPECT_EQ(-1, HalveImageForMipLevel(&kGray8, dest.record.pixels, dest.record.pitch, src.record.pixels,
                                      src.record.pitch, 0, 0, 0, 0, 2, 2));
}

struct DibInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
  DWORD spare;
};

TEST(ConvertBaseImageToDIB, PaletteImagesKeepTheirPixelsWhenPitchesAgree) {
  ColorFormatRecord palette = TestPalette();
  Image image(palette, 8, 2);
  image.Set(3, 1, 77);
  DibInfo info;
  void* bits = nullptr;
  EXPECT_EQ(0, ConvertBaseImageToDIB(&image.record, reinterpret_cast<BITMAPINFO*>(&info), &bits, 0, 0));
  EXPECT_EQ(image.record.pixels, bits);
  EXPECT_EQ(40u, info.header.biSize);
  EXPECT_EQ(8, info.header.biWidth);
  EXPECT_EQ(-2, info.header.biHeight);
  EXPECT_EQ(1, info.header.biPlanes);
  EXPECT_EQ(8, info.header.biBitCount);
  EXPECT_EQ(static_cast<DWORD>(BI_RGB), info.header.biCompression);
  EXPECT_EQ(200, info.colors[200].rgbRed);
  EXPECT_EQ(55, info.colors[200].rgbGreen);

  // Copy flag 1 always copies.
  EXPECT_EQ(1, ConvertBaseImageToDIB(&image.record, reinterpret_cast<BITMAPINFO*>(&info), &bits, 1, 0));
  ASSERT_NE(image.record.pixels, bits);
  EXPECT_EQ(77, (reinterpret_cast<uint8_t*>(bits))[8 + 3]);
  MemFree(bits);
}

TEST(ConvertBaseImageToDIB, OtherImagesBecomeTwentyFourBit) {
  Image image(kARGB8, 3, 2);
  image.Set(2, 1, 0x80112233);
  DibInfo info;
  void* bits = nullptr;
  ASSERT_EQ(1, ConvertBaseImageToDIB(&image.record, reinterpret_cast<BITMAPINFO*>(&info), &bits, 0, 0));
  EXPECT_EQ(24, info.header.biBitCount);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(bits) + 12 + 6;  // pitch 12 (9 rounded up)
  EXPECT_EQ(0x33, p[0]);
  EXPECT_EQ(0x22, p[1]);
  EXPECT_EQ(0x11, p[2]);
  MemFree(bits);

  // A palette image forced to 24 bits.
  ColorFormatRecord palette = TestPalette();
  Image indexed(palette, 2, 1);
  indexed.Set(1, 0, 9);
  ASSERT_EQ(1, ConvertBaseImageToDIB(&indexed.record, reinterpret_cast<BITMAPINFO*>(&info), &bits, 0, 1));
  EXPECT_EQ(24, info.header.biBitCount);
  EXPECT_EQ(9, (reinterpret_cast<uint8_t*>(bits))[5]);
  EXPECT_EQ(246, (reinterpret_cast<uint8_t*>(bits))[4]);
  MemFree(bits);

  // An RGB8 image whose pitch matches is handed out as it is.
  Image rgb(kRGB8, 4, 2);
  ASSERT_EQ(0, ConvertBaseImageToDIB(&rgb.record, reinterpret_cast<BITMAPINFO*>(&info), &bits, 0, 0));
  EXPECT_EQ(rgb.record.pixels, bits);
}

TEST(StretchBaseImageRect, RefusesImagesWithoutSinglePixelAccess) {
  // Wide-channel pixels cannot be sampled one by one: a resize is refused
  // rather than reported done with nothing written.
  Image wide(Wide(4, 16, 1), 2, 2), bigWide(Wide(4, 16, 1), 4, 4);
  Image argb(kARGB8, 2, 2), bigArgb(kARGB8, 4, 4);
  argb.Fill(0xff336699);
  bigArgb.Fill(0x12345678);
  EXPECT_EQ(-1, StretchBaseImageRect(0, 0, 2, 2, &wide.record, 0, 0, 4, 4, &bigArgb.record, STRETCH_NEAREST));
  EXPECT_EQ(-1, StretchBaseImageRect(0, 0, 2, 2, &argb.record, 0, 0, 4, 4, &bigWide.record, STRETCH_BILINEAR));
  EXPECT_EQ(0x12345678u, bigArgb.Get(3, 3));
  // Equal sizes are a converting copy, which wide channels have.
  ASSERT_EQ(0, StretchBaseImageRect(0, 0, 2, 2, &argb.record, 0, 0, 2, 2, &wide.record, STRETCH_BILINEAR));
  uint16_t c[4];
  memcpy(c, wide.At(1, 1), 8);
  EXPECT_EQ(0x3c00, c[3]);
}

TEST(ConvertColorBltPaths, UnknownReductionModesReducePlainly) {
  std::mt19937 random(99);
  for (const ColorFormatRecord* srcFormat : {&kARGB8, &kXRGB8, &kRGB8}) {
    Image src(*srcFormat, 19, 4), plain(k565, 19, 4), fast(k565, 19, 4), general(k565, 19, 4);
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < 19; x++) src.Set(x, y, random());
    ASSERT_EQ(0, Convert(plain, src, Flags()));
    for (int mode : {3, -1, 100}) {
      Flags f;
      f.reduction = mode;
      SetConvertColorBltFastPaths(1);
      ASSERT_EQ(0, Convert(fast, src, f));
      SetConvertColorBltFastPaths(0);
      ASSERT_EQ(0, Convert(general, src, f));
      SetConvertColorBltFastPaths(1);
      EXPECT_EQ(plain.Bytes(), fast.Bytes()) << "mode " << mode;
      EXPECT_EQ(plain.Bytes(), general.Bytes()) << "mode " << mode;
    }
  }
}

}  // namespace
