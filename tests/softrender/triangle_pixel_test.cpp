// Triangle spans: flat colour and textured from palettised, 16-bit and
// 32-bit direct sources, read back against the stated per-pixel results.
#include <vector>

#include "RiRerEziDrawFunction.h"
#include "RiRerEziDrawFunction3.h"
#include "softshape_support.h"

namespace {

class TrianglePixel : public SoftShapeTest {};

// Triangle (0,0) (10,0) (0,1): row 0, columns 0..10.
const TriangleVertex kRow0[3] = {{0, 0, 0, 0}, {10, 0, 0, 0}, {0, 1, 0, 0}};

struct FlatCase {
  int colorType;
  int mode, param;
  uint32_t bright;
  uint32_t dest, color, expected;
};

TEST_F(TrianglePixel, FlatColorTable) {
  const uint32_t W = 0xFFFFFF;
  const std::vector<FlatCase> cases = {
      {1, 0, 255, W, 0, 0x80FF0000, 0x80FF0000},
      // The triangle tints through the table (/ 255); shapes shift (/ 256).
      {1, 0, 255, 0x808080, 0x55000000, 0x00FFFFFF, 0x00808080},
      {0, 0, 255, 0x808080, 0, 0xFFFF, 0x7BEF},
      {1, 1, 128, W, Rgb(0, 255, 0), Rgb(255, 0, 255), Rgb(127, 127, 127)},
      {0, 1, 128, W, Pack565(0, 0, 0), Pack565(0, 63, 0), Pack565(0, 31, 0)},
      {0, 1, 128, W, Pack565(0, 63, 0), Pack565(0, 0, 0), Pack565(0, 32, 0)},
      {1, 2, 255, W, 0x00F0F0F0, 0x00202020, 0x01FFFFFF},
      {1, 2, 255, W, 0x00010101, 0x00010101, 0x00010102},
      {1, 3, 255, W, 0x00102030, 0x00203010, 0x00000020},
      {1, 3, 255, W, 0x00303030, 0x00101010, 0x00212120},
      {0, 2, 255, W, 0x0841, 0x0841, 0x0882},
      {0, 3, 255, W, 0x1082, 0x0841, 0x1841},
      {1, 1, 0, W, 0x12345678, 0xFFFFFFFF, 0x12345678},
      {1, 2, 0, W, 0x12345678, 0xFFFFFFFF, 0x12345678},
      {1, 3, 0, W, 0x12345678, 0xFFFFFFFF, 0x12345678},
      {0, 3, 0, W, 0x1234, 0xFFFF, 0x1234},
      {1, 1, 255, W, 0x12345678, 0x9ABCDEF0, 0x9ABCDEF0},
      {1, 10, 0, W, 0x12345678, 0x9ABCDEF0, 0x12345678},
      {1, 11, 0, W, 0x12345678, 0x9ABCDEF0, 0x12345678},
      // Mode 10 inverts the tinted colour.
      {1, 10, 255, 0x808080, Rgb(0, 0, 0), Rgb(255, 255, 255), Rgb(126, 126, 126)},
      {0, 10, 255, 0x808080, 0, 0xFFFF, Pack565(16, 32, 16)},
      {1, 4, 0, W, Rgb(255, 255, 255, 9), Rgb(255, 255, 255), Rgb(254, 254, 254, 9)},
      {1, 7, 255, W, 0x12345678, 0xFFFFFFFF, 0x12345678},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const FlatCase& c = cases[i];
    TestImage img(12, 2, c.colorType);
    img.Fill(c.dest);
    SetDrawState(c.mode, c.param, c.bright);
    DrawTriangleMemImg(&img.m, nullptr, kRow0, 0, nullptr, c.color);
    for (int x = 0; x < 12; ++x) EXPECT_EQ(img.Get(x, 0), x <= 10 ? c.expected : c.dest) << "case " << i << " x " << x;
    EXPECT_EQ(img.Get(0, 1), c.dest) << "case " << i;
  }
}

TEST_F(TrianglePixel, FlatIgnoresMaskAndTransparencyFlag) {
  TestImage a(12, 2, 1), b(12, 2, 1), mask(4, 4, 2);
  SetDrawState(1, 100);
  a.Fill(Rgb(5, 6, 7));
  b.Fill(Rgb(5, 6, 7));
  DrawTriangleMemImg(&a.m, nullptr, kRow0, 0, nullptr, Rgb(200, 100, 50));
  DrawTriangleMemImg(&b.m, nullptr, kRow0, 1, &mask.m, Rgb(200, 100, 50));
  for (int x = 0; x < 12; ++x) EXPECT_EQ(a.Get(x, 0), b.Get(x, 0));
}

TEST_F(TrianglePixel, RefusedDestinationsAndSources) {
  TestImage pal(12, 2, 1, 1), alpha(12, 2, 1, 0, 1), src16(4, 4, 0);
  TestImage dest(12, 2, 1);
  DrawTriangleMemImg(&pal.m, nullptr, kRow0, 0, nullptr, 0xFFFFFFFF);
  DrawTriangleMemImg(&alpha.m, nullptr, kRow0, 0, nullptr, 0xFFFFFFFF);
  src16.Fill(0xFFFF);
  const TriangleVertex tex[3] = {{0, 0, 0, 0}, {10, 0, 3, 0}, {0, 1, 0, 1}};
  DrawTriangleMemImg(&dest.m, &src16.m, tex, 0, nullptr, 0);
  EXPECT_EQ(pal.Get(0, 0), 0u);
  EXPECT_EQ(alpha.Get(0, 0), 0u);
  EXPECT_EQ(dest.Get(0, 0), 0u);
  // A mask smaller than the source is refused rather than read past its end.
  TestImage src32(4, 4, 1), smallMask(4, 3, 2);
  src32.Fill(0xFFFFFFFF);
  DrawTriangleMemImg(&dest.m, &src32.m, tex, 0, &smallMask.m, 0);
  EXPECT_EQ(dest.Get(0, 0), 0u);
  DrawTriangleMemImg(&dest.m, &src32.m, tex, 0, nullptr, 0);
  EXPECT_EQ(dest.Get(0, 0), 0xFFFFFFFFu);
}

// --- Textured ------------------------------------------------------------------

enum SourceKind { DIRECT, ALPHA, PALETTE };

struct TexCase {
  int colorType;
  SourceKind kind;
  uint32_t texel;  // direct: the pixel (16-bit alpha source: colour | alpha << 16); palette: the entry of index 3
  int mode, param;
  uint32_t bright;
  int maskWeight;  // -1: no mask
  int trans;
  uint32_t key;
  uint32_t dest, expected;
};

uint32_t DrawTextured(const TexCase& c) {
  const int palettised = c.kind == PALETTE;
  TestImage src(4, 4, c.colorType, palettised, c.kind == ALPHA, c.key);
  TestImage mask(4, 4, 2);
  if (palettised) {
    src.SetPalette(3, c.texel);
    src.Fill(3);
  } else {
    src.Fill(c.texel);
  }
  mask.Fill(c.maskWeight < 0 ? 0 : c.maskWeight);
  TestImage dest(12, 2, c.colorType);
  dest.Fill(c.dest);
  SetDrawState(c.mode, c.param, c.bright);
  const TriangleVertex tex[3] = {{0, 0, 0, 0}, {10, 0, 3, 0}, {0, 1, 0, 1}};
  DrawTriangleMemImg(&dest.m, &src.m, tex, c.trans, c.maskWeight < 0 ? nullptr : &mask.m, 0);
  // Every pixel of the row samples the same colour.
  for (int x = 1; x <= 10; ++x) EXPECT_EQ(dest.Get(x, 0), dest.Get(0, 0)) << "x " << x;
  EXPECT_EQ(dest.Get(11, 0), c.dest);
  return dest.Get(0, 0);
}

std::vector<TexCase> TexturedCases() {
  const uint32_t W = 0xFFFFFF;
  return {
      // 32-bit direct.
      {1, DIRECT, Rgb(200, 200, 200), 1, 128, W, -1, 0, 0, Rgb(100, 100, 100), Rgb(150, 150, 150)},
      {1, DIRECT, 0xAB112233, 1, 255, W, -1, 0, 0, 0, 0xAB112233},
      {1, DIRECT, Rgb(255, 255, 255), 0, 255, W, 255, 0, 0, 0, Rgb(254, 254, 254)},
      {1, DIRECT, Rgb(255, 255, 255), 1, 0, W, -1, 0, 0, 0x12345678, 0x12345678},
      {1, DIRECT, Rgb(255, 255, 255), 4, 0, W, 0, 0, 0, 0x12345678, 0x12000000},
      {1, DIRECT, Rgb(255, 255, 255), 1, 200, W, 0, 0, 0, 0x12345678, 0x12345678},
      {1, ALPHA, 0xFFFFFFFF, 0, 255, W, -1, 0, 0, 0, Rgb(254, 254, 254)},
      {1, ALPHA, 0xFFFFFFFF, 0, 255, W, -1, 1, 0, 0, 0xFFFFFFFF},
      {1, ALPHA, Rgb(200, 200, 200, 128), 0, 255, W, -1, 1, 0, Rgb(100, 100, 100), Rgb(150, 150, 150)},
      {1, ALPHA, Rgb(200, 200, 200, 0), 0, 255, W, -1, 1, 0, 0x55C8C8C8, 0x55C8C8C8},
      {1, ALPHA, Rgb(200, 200, 200, 0), 2, 255, W, -1, 1, 0, 0x55C8C8C8, 0x55C8C8C8},
      // Alpha 0 under the transparency flag: skipped in mode 4 as well (as by
      // the scaled and rotated blits); without the flag it turns black.
      {1, ALPHA, Rgb(200, 200, 200, 0), 4, 255, W, -1, 1, 0, 0x55C8C8C8, 0x55C8C8C8},
      {1, ALPHA, Rgb(200, 200, 200, 0), 4, 255, W, -1, 0, 0, 0x55C8C8C8, 0x55000000},
      {1, ALPHA, Rgb(200, 200, 200, 0), 0, 255, W, -1, 0, 0, 0x55C8C8C8, 0x55C8C8C8},
      {1, ALPHA, Rgb(200, 200, 200, 0), 2, 255, W, -1, 0, 0, 0x55C8C8C8, 0x00C8C8C8},
      {1, ALPHA, Rgb(200, 200, 200, 0), 3, 255, W, -1, 0, 0, 0x55C8C8C8, Rgb(201, 201, 200, 0)},
      {1, DIRECT, 0x01102030, 0, 255, W, -1, 1, 0x02102030, 0, 0x01102030},
      {1, DIRECT, 0x01102030, 0, 255, W, -1, 1, 0x01102030, 0x77, 0x77},
      {1, DIRECT, Rgb(200, 0, 100), 2, 255, W, -1, 0, 0, Rgb(100, 0, 200), 0x01FF01FF},
      {1, DIRECT, Rgb(100, 100, 100), 3, 255, W, -1, 0, 0, Rgb(200, 200, 200), Rgb(101, 101, 100)},
      {1, DIRECT, Rgb(255, 255, 255), 4, 0, W, -1, 0, 0, Rgb(255, 255, 255), Rgb(254, 254, 254)},
      {1, DIRECT, Rgb(0, 0, 0), 10, 255, W, -1, 0, 0, 0, Rgb(254, 254, 254)},
      {1, DIRECT, Rgb(0, 0, 0), 10, 255, 0x808080, -1, 0, 0, 0, Rgb(127, 127, 127)},
      {1, DIRECT, Rgb(128, 128, 128), 11, 255, W, -1, 0, 0, Rgb(200, 200, 200), Rgb(100, 100, 100)},
      {1, DIRECT, Rgb(255, 255, 255, 0xAA), 0, 255, 0x808080, -1, 0, 0, 0x55000000, Rgb(128, 128, 128, 0x55)},
      // Mode 3 at 255 is the packed subtract here: the fourth byte becomes 0.
      {1, DIRECT, Rgb(10, 10, 10, 0), 3, 255, W, -1, 0, 0, Rgb(30, 21, 50, 0x66), Rgb(21, 11, 40, 0)},
      // 16-bit direct.
      {0, DIRECT, 0xF81F, 0, 255, W, -1, 0, 0, 0, 0xF81F},
      {0, ALPHA, 0xFFFF | (255u << 16), 0, 255, W, -1, 1, 0, 0, 0xFFFF},
      {0, ALPHA, 0xFFFF | (255u << 16), 0, 255, W, -1, 0, 0, 0, 0xF7DE},
      {0, ALPHA, 0xFFFF, 0, 255, W, -1, 1, 0, 0x1234, 0x1234},
      {0, ALPHA, 0xFFFF, 3, 255, W, -1, 1, 0, 0x1234, 0x1234},
      {0, ALPHA, 0xFFFF, 4, 255, W, -1, 1, 0, 0x1234, 0x1234},
      {0, ALPHA, 0xFFFF, 4, 255, W, -1, 0, 0, 0x1234, 0x0000},
      {0, DIRECT, 0x1234, 0, 255, W, -1, 1, 0x1234, 0x5555, 0x5555},
      {0, DIRECT, 0x1234, 0, 255, W, -1, 1, 0x11234, 0x5555, 0x1234},
      {0, DIRECT, 0xFFFF, 1, 128, W, -1, 0, 0, 0, 0x7BEF},
      {0, DIRECT, 0x0841, 2, 255, W, -1, 0, 0, 0x0841, 0x0882},
      {0, DIRECT, 0x0001, 2, 255, W, -1, 0, 0, 0x001F, 0x003F},
      {0, DIRECT, 0xFFFF, 3, 255, W, -1, 0, 0, 0x1234, 0x0000},
      {0, DIRECT, 0xFFFF, 3, 255, W, -1, 0, 0, 0xFFFF, 0x0800},
      {0, DIRECT, 0xFFFF, 3, 255, W, 0, 0, 0, 0x07E0, 0x0FC0},
      {0, DIRECT, 0x07C0, 2, 255, W, -1, 0, 0, 0x07C0, 0x0FC0},
      {0, DIRECT, 0xF000, 2, 255, W, -1, 0, 0, 0xF000, 0xF800},
      {0, ALPHA, 0x000B | (100u << 16), 2, 255, 0x808080, -1, 0, 0, 0, 0x0002},
      {0, ALPHA, 0x000B | (100u << 16), 2, 255, 0x808080, 255, 0, 0, 0, 0x0001},
      {0, ALPHA, 0x00E0 | (255u << 16), 11, 255, W, -1, 0, 0, 0x0120, 0x0020},
      {0, ALPHA, 0x00E0 | (255u << 16), 11, 255, W, 255, 0, 0, 0x0120, 0x0000},
      {0, ALPHA, 0x00E0 | (255u << 16), 11, 255, W, -1, 1, 0, 0x0120, 0x0000},
      {0, ALPHA, 0x00E0 | (254u << 16), 11, 255, W, -1, 1, 0, 0x0120, 0x0020},
      {0, DIRECT, 0xFFFF, 4, 255, W, -1, 0, 0, 0xFFFF, 0xF7DE},
      {0, DIRECT, 0xFFFF, 4, 255, W, 0, 0, 0, 0xFFFF, 0x0000},
      {0, DIRECT, 0x1234, 10, 255, W, -1, 0, 0, 0, 0xEDCB},
      {0, DIRECT, 0x0000, 10, 255, 0x808080, -1, 0, 0, 0, 0x7BEF},
      {0, DIRECT, 0xFFFF, 11, 255, W, -1, 0, 0, 0xFFFF, 0xF7DE},
      {0, DIRECT, 0xFFFF, 2, 0, W, -1, 0, 0, 0x1234, 0x1234},
      {0, DIRECT, 0xFFFF, 3, 0, W, -1, 0, 0, 0x1234, 0x1234},
      // Palettised, 32-bit.
      {1, PALETTE, 0x11223344, 0, 255, W, -1, 0, 0, 0, 0x11223344},
      {1, PALETTE, Rgb(255, 255, 255, 0xAA), 0, 255, 0x808080, -1, 0, 0, 0x55000000, Rgb(128, 128, 128, 0x55)},
      {1, PALETTE, Rgb(200, 200, 200), 1, 128, W, -1, 0, 0, Rgb(100, 100, 100), Rgb(150, 150, 150)},
      {1, PALETTE, Rgb(255, 255, 255), 0, 255, W, 255, 0, 0, 0, Rgb(254, 254, 254)},
      {1, PALETTE, Rgb(9, 9, 9), 3, 0, W, -1, 0, 0, Rgb(200, 200, 200, 0x55), Rgb(201, 201, 200, 0)},
      {1, PALETTE, Rgb(9, 9, 9), 4, 255, W, 0, 0, 0, Rgb(200, 200, 200, 0x55), Rgb(0, 0, 0, 0x55)},
      {1, PALETTE, Rgb(9, 9, 9), 1, 255, W, 0, 0, 0, Rgb(200, 200, 200, 0x55), Rgb(200, 200, 200, 0x55)},
      {1, PALETTE, Rgb(0, 0, 0), 10, 255, 0x808080, -1, 0, 0, 0, Rgb(127, 127, 127)},
      {1, PALETTE, Rgb(255, 255, 255), 2, 255, W, 128, 0, 0, 0, Rgb(127, 127, 127)},
      {1, PALETTE, Rgb(255, 255, 255), 0, 255, W, -1, 1, 3, 0x66, 0x66},
      {1, PALETTE, Rgb(255, 255, 255), 0, 255, W, -1, 1, 256 + 3, 0x66, Rgb(255, 255, 255)},
      // Palettised, 16-bit.
      {0, PALETTE, Pack565(31, 0, 0), 1, 128, W, -1, 0, 0, 0, Pack565(15, 0, 0)},
      {0, PALETTE, Pack565(0, 0, 0), 1, 128, W, -1, 0, 0, Pack565(31, 0, 0), Pack565(16, 0, 0)},
      {0, PALETTE, Pack565(0, 63, 0), 1, 128, W, -1, 0, 0, 0, Pack565(0, 31, 0)},
      {0, PALETTE, Pack565(0, 0, 0), 1, 128, W, -1, 0, 0, Pack565(0, 63, 0), Pack565(0, 32, 0)},
      {0, PALETTE, Pack565(31, 0, 0), 1, 254, W, -1, 0, 0, 0, Pack565(30, 0, 0)},
      {0, PALETTE, Pack565(31, 63, 31), 0, 255, W, 255, 0, 0, 0, Pack565(30, 62, 30)},
      {0, PALETTE, Pack565(20, 40, 20), 2, 255, W, -1, 0, 0, Pack565(20, 40, 20), Pack565(31, 63, 31)},
      {0, PALETTE, Pack565(1, 1, 1), 2, 255, W, -1, 0, 0, Pack565(1, 1, 1), Pack565(1, 1, 2)},
      {0, PALETTE, Pack565(5, 5, 5), 3, 0, W, -1, 0, 0, 0xFFFF, 0xFFDF},
      {0, PALETTE, Pack565(5, 5, 5), 3, 0, W, -1, 0, 0, 0x0000, 0x0800},
      {0, PALETTE, Pack565(10, 10, 10), 3, 255, W, -1, 0, 0, Pack565(30, 30, 30), Pack565(21, 20, 20)},
      {0, PALETTE, Pack565(31, 63, 31), 4, 255, W, -1, 0, 0, Pack565(31, 63, 31), Pack565(30, 62, 30)},
      {0, PALETTE, Pack565(31, 63, 31), 4, 255, W, 255, 0, 0, Pack565(31, 63, 31), Pack565(29, 61, 29)},
      {0, PALETTE, Pack565(0, 0, 0), 10, 255, W, -1, 0, 0, 0, Pack565(31, 63, 31)},
      {0, PALETTE, Pack565(16, 32, 16), 11, 255, W, -1, 0, 0, Pack565(31, 63, 31), Pack565(15, 31, 15)},
      {0, PALETTE, Pack565(31, 63, 31), 0, 255, 0x808080, -1, 0, 0, 0, Pack565(15, 31, 15)},
      {0, PALETTE, Pack565(31, 63, 31), 0, 255, W, -1, 1, 3, 0x4321, 0x4321},
  };
}

TEST_F(TrianglePixel, TexturedTableWithMmxOnAndOff) {
  const int savedMmx = MmxUsable;
  const std::vector<TexCase> cases = TexturedCases();
  for (int mmx : {0, 1}) {
    MmxUsable = mmx;
    for (size_t i = 0; i < cases.size(); ++i)
      EXPECT_EQ(DrawTextured(cases[i]), cases[i].expected) << "case " << i << " mmx " << mmx;
  }
  MmxUsable = savedMmx;
}

// The transparency test compares the index, not its colour.
TEST_F(TrianglePixel, PaletteKeyIsTheIndex) {
  TestImage src(2, 1, 1, 1, 0, 7), dest(12, 2, 1);
  src.SetPalette(7, Rgb(9, 9, 9));
  src.SetPalette(8, Rgb(9, 9, 9));
  src.Set(0, 0, 7);
  src.Set(1, 0, 8);
  dest.Fill(0x42);
  // u runs 0..2 over columns 0..10, truncated: columns 0..5 read index 7,
  // 6..10 index 8.
  const TriangleVertex tex[3] = {{0, 0, 0, 0}, {10, 0, 2, 0}, {0, 1, 0, 1}};
  DrawTriangleMemImg(&dest.m, &src.m, tex, 1, nullptr, 0);
  for (int x = 0; x <= 10; ++x) {
    const uint32_t expected = x >= 6 ? Rgb(9, 9, 9) : 0x42u;
    EXPECT_EQ(dest.Get(x, 0), expected) << x;
  }
}

// Each pixel reads the texel that contains (U, V); outside the source the
// pixel stays; the mask is read at the texel's position.
TEST_F(TrianglePixel, SamplingBoundsAndMaskPosition) {
  TestImage src(5, 4, 1), mask(5, 4, 2), dest(24, 24, 1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) {
      src.Set(x, y, Rgb(x * 40, y * 60, 7));
      mask.Set(x, y, (x + y) % 2 ? 255 : 0);
    }
  dest.Fill(0x77777777);
  // u from -5 at x = 2 to 10 at x = 17, v from -2 at y = 2 to 6 at y = 18.
  const TriangleVertex tex[3] = {{2, 2, -5, -2}, {17, 2, 10, -2}, {2, 18, -5, 6}};
  TriangleGeometry g;
  ASSERT_EQ(SetUpTriangleGeometry(tex, 1, &g), 1);
  DrawTriangleMemImg(&dest.m, &src.m, tex, 0, nullptr, 0);
  int inside = 0, outside = 0;
  WalkTriangleRows(g, RECT{0, 0, 24, 24}, 1, [&](const TriangleSpan& s) {
    uint32_t u = s.u, v = s.v;
    for (int i = 0; i < s.count; ++i, u += g.dudx, v += g.dvdx) {
      const int x = s.first + i;
      if (u >= 5u << 18 || v >= 4u << 18) {
        EXPECT_EQ(dest.Get(x, s.y), 0x77777777u) << x << "," << s.y;
        ++outside;
      } else {
        EXPECT_EQ(dest.Get(x, s.y), src.Get(u >> 18, v >> 18)) << x << "," << s.y;
        ++inside;
      }
    }
  });
  EXPECT_GT(inside, 20);
  EXPECT_GT(outside, 20);
  // With the mask in mode 4: weight 0 blackens, weight 255 multiplies.
  dest.Fill(Rgb(255, 255, 255));
  SetDrawState(4, 255);
  DrawTriangleMemImg(&dest.m, &src.m, tex, 0, &mask.m, 0);
  WalkTriangleRows(g, RECT{0, 0, 24, 24}, 1, [&](const TriangleSpan& s) {
    uint32_t u = s.u, v = s.v;
    for (int i = 0; i < s.count; ++i, u += g.dudx, v += g.dvdx) {
      if (u >= 5u << 18 || v >= 4u << 18) continue;
      const int tx = u >> 18, ty = v >> 18;
      // floor(t * d * m / 2^16) with d = 255 and m = 255.
      const uint32_t expected = (tx + ty) % 2 ? Rgb((tx * 40 * 255 * 255) >> 16, (ty * 60 * 255 * 255) >> 16,
                                                    (7 * 255 * 255) >> 16)
                                              : 0u;
      EXPECT_EQ(dest.Get(s.first + i, s.y) & 0xFFFFFF, expected) << s.first + i << "," << s.y;
    }
  });
}

// Quadrilaterals: early reject of the widened box, and the corner mapping.
TEST_F(TrianglePixel, QuadRejectAndMapping) {
  TestImage src(32, 32, 1), dest(64, 64, 1);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) src.Set(x, y, Rgb(x, y, 1));
  SetDrawState(0, 255, 0xFFFFFF, RECT{0, 0, 64, 64});
  const POINT corners[4] = {{10, 10}, {42, 10}, {10, 42}, {42, 42}};
  DrawQuadMemImg(&dest.m, &src.m, corners, 0, nullptr);
  EXPECT_EQ(dest.Get(10, 10), Rgb(0, 0, 1));
  EXPECT_EQ(dest.Get(41, 41), Rgb(31, 31, 1));
  EXPECT_EQ(dest.Get(20, 30), Rgb(10, 20, 1));
  EXPECT_EQ(dest.Get(9, 10), 0u);
  EXPECT_EQ(dest.Get(42, 42), 0u);  // bottom row of the quad is not drawn
  // A degenerate quad on one point draws nothing.
  TestImage empty(64, 64, 1);
  const POINT point[4] = {{5, 5}, {5, 5}, {5, 5}, {5, 5}};
  DrawQuadMemImg(&empty.m, &src.m, point, 0, nullptr);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(empty.Get(x, y), 0u);
}

}  // namespace
