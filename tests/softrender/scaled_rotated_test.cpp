// Scaled and rotated blits: against the reference over every branch, and
// their geometry (clipping, stepping, mirroring, rotation by quarter turns).
#include <math.h>
#include <stdio.h>

#include "BlendOracle.h"
#include "SoftImageFixture.h"

namespace {

const int kDestW = 40, kDestH = 30;
const int kSrcW = 9, kSrcH = 6;

class SoftBlitSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    savedMmx = MmxUsable;
    ResetDrawState(kDestW, kDestH);
    for (int i = 0; i < 256; i++)
      MemImgDrawState.maskAlphaRamp[i] = static_cast<uint8_t>(i < 30 ? 0 : (i > 220 ? 255 : i));
  }
  void TearDown() override { MmxUsable = savedMmx; }
  int savedMmx;

  // Runs draw(dest) and reference(expect) for every setting; counts
  // mismatches.
  template <typename Draw, typename Reference>
  void Sweep(const char* what, int count, Draw draw, Reference reference) {
    std::mt19937 rng(321);
    const int modes[] = {0, 1, 2, 3, 4, 6, 10, 11};
    const int params[] = {0, 1, 128, 200, 255};
    const uint32_t tints[] = {0xFFFFFF, 0x80FFC0};
    int blits = 0, failures = 0;
    for (int bits : {32, 16}) {
      for (int kind = 0; kind < 3; kind++) {
        int type = bits == 32 ? MEMIMG_COLOR_32 : MEMIMG_COLOR_16;
        OwnedMemImg src, dest, expect, start, mask;
        uint32_t key = kind == PALETTISED ? 3u : (bits == 32 ? 0x00ABCDEFu : 0x1234u);
        ASSERT_EQ(
            0, CreateMemImg(src.get(), {kSrcW, kSrcH, -1, key, type, kind == PALETTISED, kind == ALPHA, 0, nullptr}));
        for (MEMIMG* m : {dest.get(), expect.get(), start.get()})
          ASSERT_EQ(0, CreateMemImg(m, {kDestW, kDestH, -1, 0, type, 0, 0, 0, nullptr}));
        ASSERT_EQ(0, CreateMemImgOfColorType(mask.get(), kSrcW, kSrcH, MEMIMG_COLOR_8_CHANNEL));
        FillRandomSource(src.get(), kind, bits, rng);
        for (int y = 0; y < kSrcH; y++)
          for (int x = 0; x < kSrcW; x++) PutPixel(mask.get(), x, y, rng() & 0xFF);
        for (int y = 0; y < kDestH; y++)
          for (int x = 0; x < kDestW; x++) PutPixel(start.get(), x, y, bits == 32 ? rng() : rng() & 0xFFFF);
        for (int mode : modes)
          for (int param : params)
            for (int tint = 0; tint < 2; tint++)
              for (int trans = 0; trans < 2; trans++)
                for (int useMask = 0; useMask < 2; useMask++)
                  for (int mmx = 0; mmx < 2; mmx++)
                    for (int geometry = 0; geometry < count; geometry++) {
                      SetMemImgBlendMode(mode, param);
                      SetMemImgDrawBright(tints[tint]);
                      MmxUsable = mmx;
                      CopyPixels(dest.get(), start.get());
                      CopyPixels(expect.get(), start.get());
                      const MEMIMG* m = useMask ? mask.get() : nullptr;
                      draw(dest.get(), src.get(), trans, m, geometry);
                      reference(expect.get(), src.get(), trans, m, geometry);
                      blits++;
                      if (!SamePixels(dest.get(), expect.get()) && ++failures <= 8) {
                        for (int y = 0, found = 0; y < kDestH && !found; y++)
                          for (int x = 0; x < kDestW && !found; x++)
                            if (GetPixel(dest.get(), x, y) != GetPixel(expect.get(), x, y)) {
                              ADD_FAILURE()
                                  << what << " bits " << bits << " kind " << kind << " mode " << mode << " param "
                                  << param << " tint " << tint << " trans " << trans << " mask " << useMask << " mmx "
                                  << mmx << " geometry " << geometry << " at " << x << "," << y << std::hex << " got "
                                  << GetPixel(dest.get(), x, y) << " want " << GetPixel(expect.get(), x, y);
                              found = 1;
                            }
                      }
                    }
      }
    }
    EXPECT_EQ(0, failures) << "of " << blits;
  }
};

const RECT kScaledRects[] = {
    {3, 2, 21, 14},                // 2x enlargement
    {5, 4, 10, 8},                 // shrink, odd sizes
    {20, 3, 2, 15},                // mirrored horizontally
    {4, 20, 17, 5},                // mirrored vertically
    {-7, -5, 13, 9},               // negative origin, clipped left and top
    {30, 22, 45, 35},              // clipped right and bottom
    {8, 8, 8 + kSrcW, 8 + kSrcH},  // own size: the point blit
    {1, 1, 39, 29},                // larger ratio than 4
};

TEST_F(SoftBlitSweep, ScaledBlitMatchesTheReference) {
  Sweep(
      "scaled", 8,
      [](MEMIMG* d, const MEMIMG* s, int trans, const MEMIMG* m, int g) {
        BlitScaledMemImg(d, s, &kScaledRects[g], trans, m);
      },
      [](MEMIMG* d, const MEMIMG* s, int trans, const MEMIMG* m, int g) {
        oracle::ScaledBlit(d, s, &kScaledRects[g], trans, m);
      });
}

struct Turn {
  int cx, cy;
  float angle, scale;
};
const Turn kTurns[] = {
    {20, 15, 0.0f, 1.0f}, {20, 15, 0.5235988f, 1.0f}, {21, 14, 1.5707964f, 1.0f}, {19, 15, 3.1415927f, 1.0f},
    {2, 3, -1.1f, 1.7f},  {38, 27, 2.3f, 0.6f},       {20, 15, 0.3f, -1.0f},
};

TEST_F(SoftBlitSweep, RotatedBlitMatchesTheReference) {
  Sweep(
      "rotated", 7,
      [](MEMIMG* d, const MEMIMG* s, int trans, const MEMIMG* m, int g) {
        BlitRotatedMemImg(d, s, {kTurns[g].cx, kTurns[g].cy, kTurns[g].angle, kTurns[g].scale, trans, 0}, m);
      },
      [](MEMIMG* d, const MEMIMG* s, int trans, const MEMIMG* m, int g) {
        oracle::RotatedBlit(d, s, kTurns[g].cx, kTurns[g].cy, kTurns[g].angle, kTurns[g].scale, trans, m);
      });
}

// Geometry on a source whose pixel values name their column and row.
class SoftBlitGeometry : public ::testing::Test {
 protected:
  void Make(int w, int h) {
    ASSERT_EQ(0, CreateMemImgOfColorType(src.get(), w, h, MEMIMG_COLOR_32));
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++)
        PutPixel(src.get(), x, y, 0x01000000u | static_cast<uint32_t>(y << 8) | static_cast<uint32_t>(x));
    ASSERT_EQ(0, CreateMemImgOfColorType(dest.get(), 100, 80, MEMIMG_COLOR_32));
    FillMemImgRectRaw(dest.get(), nullptr, 0xEEEEEEEE);
    ResetDrawState(100, 80);
  }
  int Column(int x, int y) { return static_cast<int>(GetPixel(dest.get(), x, y) & 0xFF); }
  int Row(int x, int y) { return static_cast<int>((GetPixel(dest.get(), x, y) >> 8) & 0xFF); }
  OwnedMemImg src, dest;
};

TEST_F(SoftBlitGeometry, ScaledSteppingAndClipping) {
  struct Case {
    int srcW, srcH;
    RECT rect;
    RECT area;
    int x, y, column, row;
  } cases[] = {
      {32, 32, {0, 0, 64, 32}, {0, 0, 100, 80}, 0, 0, 0, 0},
      {32, 32, {0, 0, 64, 32}, {0, 0, 100, 80}, 1, 0, 0, 0},
      {32, 32, {0, 0, 64, 32}, {0, 0, 100, 80}, 2, 0, 1, 0},
      {64, 32, {0, 0, 32, 32}, {0, 0, 100, 80}, 1, 5, 2, 5},
      {64, 32, {0, 0, 32, 32}, {0, 0, 100, 80}, 31, 0, 62, 0},
      {10, 20, {10, 0, 0, 20}, {0, 0, 100, 80}, 0, 0, 9, 0},
      {10, 20, {10, 0, 0, 20}, {0, 0, 100, 80}, 9, 19, 0, 19},
      {10, 20, {0, 20, 10, 0}, {0, 0, 100, 80}, 3, 0, 3, 19},
      // Starting 3 columns left of the draw area at 2:1: the first visible
      // column is the second copy of source column 1.
      {8, 8, {7, 0, 23, 8}, {10, 0, 100, 80}, 10, 0, 1, 0},
      {8, 8, {7, 0, 23, 8}, {10, 0, 100, 80}, 11, 0, 2, 0},
      {3, 3, {-5, -4, 7, 8}, {0, 0, 100, 80}, 0, 0, 1, 1},
  };
  for (const Case& c : cases) {
    OwnedMemImg s;
    Make(c.srcW, c.srcH);
    SetMemImgDrawArea(&c.area);
    BlitScaledMemImg(dest.get(), src.get(), &c.rect, 0, nullptr);
    EXPECT_EQ(c.column, Column(c.x, c.y)) << c.rect.left << "," << c.rect.right << " at " << c.x;
    EXPECT_EQ(c.row, Row(c.x, c.y)) << c.rect.top << "," << c.rect.bottom << " at " << c.y;
    ReleaseMemImg(src.get());
    ReleaseMemImg(dest.get());
  }
}

TEST_F(SoftBlitGeometry, ScaledRefusalsAndEmptyRectangles) {
  Make(8, 8);
  RECT flat = {5, 5, 5, 20}, outside = {200, 200, 230, 230}, huge = {0, 0, 40000, 10};
  BlitScaledMemImg(dest.get(), src.get(), &flat, 0, nullptr);
  BlitScaledMemImg(dest.get(), src.get(), &outside, 0, nullptr);
  BlitScaledMemImg(dest.get(), src.get(), &huge, 0, nullptr);
  OwnedMemImg alphaDest;
  ASSERT_EQ(0, CreateMemImg(alphaDest.get(), {20, 20, -1, 0, MEMIMG_COLOR_32, 0, 1, 0, nullptr}));
  FillMemImgRectRaw(alphaDest.get(), nullptr, 0x11111111);
  RECT r = {0, 0, 16, 16};
  BlitScaledMemImg(alphaDest.get(), src.get(), &r, 0, nullptr);
  EXPECT_EQ(0x11111111u, GetPixel(alphaDest.get(), 3, 3));
  for (int y = 0; y < 80; y++)
    for (int x = 0; x < 100; x++) ASSERT_EQ(0xEEEEEEEEu, GetPixel(dest.get(), x, y));
}

TEST_F(SoftBlitGeometry, RotationIdentityAndQuarterTurns) {
  Make(10, 6);
  BlitRotatedMemImg(dest.get(), src.get(), {40, 30, 0.0f, 1.0f, 0, 0}, nullptr);
  for (int y = 0; y < 6; y++)
    for (int x = 0; x < 10; x++) {
      ASSERT_EQ(x, Column(35 + x, 27 + y));
      ASSERT_EQ(y, Row(35 + x, 27 + y));
    }
  EXPECT_EQ(0xEEEEEEEEu, GetPixel(dest.get(), 34, 27));
  EXPECT_EQ(0xEEEEEEEEu, GetPixel(dest.get(), 45, 27));
  EXPECT_EQ(0xEEEEEEEEu, GetPixel(dest.get(), 35, 33));

  // Half a turn: a 10 x 6 image again, both axes reversed.
  FillMemImgRectRaw(dest.get(), nullptr, 0xEEEEEEEE);
  BlitRotatedMemImg(dest.get(), src.get(), {40, 30, 3.1415927f, 1.0f, 0, 0}, nullptr);
  int minX = 100, maxX = -1, minY = 80, maxY = -1, drawn = 0;
  auto bounds = [&] {
    minX = 100, maxX = -1, minY = 80, maxY = -1, drawn = 0;
    for (int y = 0; y < 80; y++)
      for (int x = 0; x < 100; x++)
        if (GetPixel(dest.get(), x, y) != 0xEEEEEEEEu) {
          drawn++;
          minX = x < minX ? x : minX;
          maxX = x > maxX ? x : maxX;
          minY = y < minY ? y : minY;
          maxY = y > maxY ? y : maxY;
        }
  };
  bounds();
  EXPECT_EQ(60, drawn);
  ASSERT_EQ(10, maxX - minX + 1);
  ASSERT_EQ(6, maxY - minY + 1);
  for (int j = 0; j < 6; j++)
    for (int i = 0; i < 10; i++) {
      EXPECT_EQ(9 - i, Column(minX + i, minY + j));
      EXPECT_EQ(5 - j, Row(minX + i, minY + j));
    }

  // A negative scale turns the image half a turn as well.
  FillMemImgRectRaw(dest.get(), nullptr, 0xEEEEEEEE);
  BlitRotatedMemImg(dest.get(), src.get(), {40, 30, 0.0f, -1.0f, 0, 0}, nullptr);
  bounds();
  EXPECT_EQ(60, drawn);
  ASSERT_EQ(10, maxX - minX + 1);
  EXPECT_EQ(9, Column(minX, minY));
  EXPECT_EQ(5, Row(minX, minY));
  EXPECT_EQ(0, Column(maxX, maxY));

  // A quarter turn (clockwise on screen): the image stands 6 wide, 10 tall;
  // source columns run down the screen, source rows run right to left.
  FillMemImgRectRaw(dest.get(), nullptr, 0xEEEEEEEE);
  BlitRotatedMemImg(dest.get(), src.get(), {40, 30, 1.5707964f, 1.0f, 0, 0}, nullptr);
  bounds();
  EXPECT_EQ(60, drawn);
  EXPECT_EQ(6, maxX - minX + 1);
  EXPECT_EQ(10, maxY - minY + 1);
  EXPECT_EQ(0, Column(maxX, minY));
  EXPECT_EQ(0, Row(maxX, minY));
  EXPECT_EQ(9, Column(maxX, maxY));
  EXPECT_EQ(5, Row(minX, minY));
}

// The turn flag draws the image mirrored left to right about its vertical
// axis, through the textured quadrilateral: the plain draw reflected. The
// quadrilateral samples at pixel corners, not centres, so the reflection
// lands one pixel further along the mirrored axis.
TEST_F(SoftBlitGeometry, MirroredRotationIsThePlainDrawReflected) {
  // Unturned, where both draws land on whole pixels (even sides after the
  // scale); the quadrilateral's corners are truncated, which moves odd
  // sides and turned draws by a pixel.
  struct Case {
    int w, h;
    float scale;
  } cases[] = {{10, 6, 1.0f}, {16, 4, 1.0f}, {10, 6, 2.0f}};
  for (const Case& c : cases) {
    Make(c.w, c.h);
    OwnedMemImg plain;
    ASSERT_EQ(0, CreateMemImgOfColorType(plain.get(), 100, 80, MEMIMG_COLOR_32));
    FillMemImgRectRaw(plain.get(), nullptr, 0xEEEEEEEE);
    BlitRotatedMemImg(plain.get(), src.get(), {40, 30, 0.0f, c.scale, 0, 0}, nullptr);
    BlitRotatedMemImg(dest.get(), src.get(), {40, 30, 0.0f, c.scale, 0, 1}, nullptr);
    int minX = 100, maxX = -1, minY = 80, maxY = -1, drawn = 0;
    for (int y = 0; y < 80; y++)
      for (int x = 0; x < 100; x++)
        if (GetPixel(plain.get(), x, y) != 0xEEEEEEEEu) {
          drawn++;
          minX = x < minX ? x : minX, maxX = x > maxX ? x : maxX;
          minY = y < minY ? y : minY, maxY = y > maxY ? y : maxY;
        }
    ASSERT_EQ(static_cast<int>(c.w * c.h * c.scale * c.scale), drawn) << c.scale;
    for (int y = 0; y < 80; y++)
      for (int x = 0; x < 100; x++) {
        const int mx = minX + maxX + 1 - x;
        const bool inside = mx >= minX && mx <= maxX && y >= minY && y <= maxY;
        const uint32_t expected = inside ? GetPixel(plain.get(), mx, y) : 0xEEEEEEEEu;
        ASSERT_EQ(expected, GetPixel(dest.get(), x, y))
            << c.w << "x" << c.h << " scale " << c.scale << " at " << x << "," << y;
      }
    ReleaseMemImg(src.get());
    ReleaseMemImg(dest.get());
  }
}

TEST_F(SoftBlitGeometry, RotatedRefusals) {
  Make(10, 6);
  BlitRotatedMemImg(dest.get(), src.get(), {40, 30, 0.3f, 0.0f, 0, 0}, nullptr);
  BlitRotatedMemImg(dest.get(), src.get(), {40, 30, NAN, 1.0f, 0, 0}, nullptr);
  BlitRotatedMemImg(dest.get(), src.get(), {40, 30, 0.3f, INFINITY, 0, 0}, nullptr);
  BlitRotatedMemImg(dest.get(), src.get(), {100000, 30, 0.3f, 1.0f, 0, 0}, nullptr);
  BlitRotatedMemImg(dest.get(), src.get(), {40, 30, 0.3f, 5000.0f, 0, 0}, nullptr);
  BlitRotatedMemImg(dest.get(), src.get(), {-500, 30, 0.3f, 1.0f, 0, 0}, nullptr);  // box wholly outside
  OwnedMemImg smallMask;
  ASSERT_EQ(0, CreateMemImgOfColorType(smallMask.get(), 4, 4, MEMIMG_COLOR_8_CHANNEL));
  BlitRotatedMemImg(dest.get(), src.get(), {40, 30, 0.3f, 1.0f, 0, 0}, smallMask.get());
  for (int y = 0; y < 80; y++)
    for (int x = 0; x < 100; x++) ASSERT_EQ(0xEEEEEEEEu, GetPixel(dest.get(), x, y));
}

// Large sources at large scales still fit the fixed point: a 960 x 720
// picture at 2.5, a 512 x 512 sprite at 4 (also turned, and with its
// centre off the destination), drawn as the reference draws them; the refusal comes only where
// a corner leaves 32-bit fixed point.
TEST_F(SoftBlitGeometry, LargeScalesDrawWhileTheFixedPointFits) {
  struct Case {
    int w, h, cx, cy;
    float angle, scale;
  } cases[] = {{960, 720, 50, 40, 0.0f, 2.5f},
               {960, 720, 50, 40, 0.7f, 2.5f},
               {512, 512, 40, 30, 0.0f, 4.0f},
               {512, 512, 40, 30, 2.0f, -4.0f},
               {512, 512, -400, 30, 0.0f, 4.0f}};
  Make(4, 4);  // the 100 x 80 destination
  for (const Case& c : cases) {
    OwnedMemImg big, expect;
    ASSERT_EQ(0, CreateMemImgOfColorType(big.get(), c.w, c.h, MEMIMG_COLOR_32));
    for (int y = 0; y < c.h; y++)
      for (int x = 0; x < c.w; x++) PutPixel(big.get(), x, y, static_cast<uint32_t>(y << 12 | x));
    ASSERT_EQ(0, CreateMemImgOfColorType(expect.get(), 100, 80, MEMIMG_COLOR_32));
    FillMemImgRectRaw(dest.get(), nullptr, 0xEEEEEEEE);
    FillMemImgRectRaw(expect.get(), nullptr, 0xEEEEEEEE);
    BlitRotatedMemImg(dest.get(), big.get(), {c.cx, c.cy, c.angle, c.scale, 0, 0}, nullptr);
    oracle::RotatedBlit(expect.get(), big.get(), c.cx, c.cy, c.angle, c.scale, 0, nullptr);
    EXPECT_TRUE(SamePixels(dest.get(), expect.get())) << c.w << "x" << c.h << " at " << c.scale;
    int drawn = 0;
    for (int y = 0; y < 80; y++)
      for (int x = 0; x < 100; x++) drawn += GetPixel(dest.get(), x, y) != 0xEEEEEEEEu;
    EXPECT_EQ(100 * 80, drawn) << c.w << "x" << c.h << " at " << c.scale;
  }
  // Past the bound: a corner 8192 pixels or more from the origin.
  OwnedMemImg big;
  ASSERT_EQ(0, CreateMemImgOfColorType(big.get(), 512, 512, MEMIMG_COLOR_32));
  FillMemImgRectRaw(big.get(), nullptr, 0x00123456);
  FillMemImgRectRaw(dest.get(), nullptr, 0xEEEEEEEE);
  BlitRotatedMemImg(dest.get(), big.get(), {40, 30, 0.0f, 16.0f, 0, 0}, nullptr);
  BlitRotatedMemImg(dest.get(), big.get(), {7900, 30, 0.0f, 1.0f, 0, 0}, nullptr);
  for (int y = 0; y < 80; y++)
    for (int x = 0; x < 100; x++) ASSERT_EQ(0xEEEEEEEEu, GetPixel(dest.get(), x, y));
}

// Shared-family rules the point blit does not share.
TEST_F(SoftBlitGeometry, SharedFamilyRules) {
  struct Case {
    const char* name;
    int bits, alpha, pal, mode, param, trans;
    uint32_t s, d, expect;
  } cases[] = {
      {"alpha 0 under the flag is skipped in mode 4", 32, 1, 0, 4, 255, 1, 0x00FFFFFF, 0x00808080, 0x00808080},
      {"alpha 0 without the flag: mode 4 black", 32, 1, 0, 4, 255, 0, 0x00FFFFFF, 0x00808080, 0x00000000},
      {"alpha 255 without the flag weighs 255/256 in mode 0", 16, 1, 0, 0, 255, 0, 0xFF0000 | (31u << 11), 0,
       30u << 11},
      {"alpha 255 under the flag copies", 16, 1, 0, 0, 255, 1, 0xFF0000 | (31u << 11), 0, 31u << 11},
      {"16-bit mode 1 uses the signed table, not the 6-bit mix", 16, 0, 0, 1, 100, 0, 0x07E0, 0, 24 << 5},
      {"palettised mode 3 at 0 draws with k = 0", 16, 0, 1, 3, 0, 0, 0x0000, (20 << 11) | (21 << 5) | 9,
       (21 << 11) | (20 << 5) | 9},
      {"direct mode 3 at 0 draws nothing", 16, 0, 0, 3, 0, 0, 0x0000, (20 << 11) | (21 << 5) | 9,
       (20 << 11) | (21 << 5) | 9},
      {"mode 10 with red brightness 128 on black", 16, 0, 0, 10, 255, 0, 0x0000, 0x0000, (15 << 11) | (63 << 5) | 31},
      {"brightness just below white scales red 31 to 30", 16, 0, 0, 0, 255, 0, 0xFFFF, 0x0000,
       (30 << 11) | (63 << 5) | 31},
      {"16-bit packed add: blue overflow sets green's lowest bit", 16, 0, 0, 2, 255, 0, 0x0010, (4 << 5) | 20,
       (5 << 5) | 31},
      {"16-bit mode 11 green keeps half steps with alpha", 16, 1, 0, 11, 255, 0, 0xFF0000 | (1 << 5), 44 << 5, 1 << 5},
  };
  for (const Case& c : cases) {
    int type = c.bits == 32 ? MEMIMG_COLOR_32 : MEMIMG_COLOR_16;
    OwnedMemImg s, d;
    ASSERT_EQ(0, CreateMemImg(s.get(), {1, 1, -1, 0xFFFFFFFFu, type, c.pal, c.alpha, 0, nullptr}));
    ASSERT_EQ(0, CreateMemImgOfColorType(d.get(), 2, 2, type));
    ResetDrawState(2, 2);
    if (c.pal) {
      memcpy(s->header->palette, &c.s, 2);
      s->header->paletteEntriesUsed = 1;
      PutPixel(s.get(), 0, 0, 0);
    } else {
      PutPixel(s.get(), 0, 0, c.s);
    }
    FillMemImgRectRaw(d.get(), nullptr, c.d);
    SetMemImgBlendMode(c.mode, c.param);
    if (c.mode == 10) SetMemImgDrawBright(0x80FFFF);
    if (strstr(c.name, "just below white") != nullptr) SetMemImgDrawBright(0xFEFFFF);
    RECT r = {0, 0, 2, 2};
    BlitScaledMemImg(d.get(), s.get(), &r, c.trans, nullptr);
    EXPECT_EQ(c.expect, GetPixel(d.get(), 1, 1)) << "scaled: " << c.name;
    FillMemImgRectRaw(d.get(), nullptr, c.d);
    BlitRotatedMemImg(d.get(), s.get(), {0, 0, 0.0f, 1.0f, c.trans, 0}, nullptr);
    EXPECT_EQ(c.expect, GetPixel(d.get(), 0, 0)) << "rotated: " << c.name;
  }
}

}  // namespace
