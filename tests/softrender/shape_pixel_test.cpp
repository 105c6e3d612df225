// Shape pixel operations, rectangle fill and whole-image fill: read back
// against the stated per-channel results.
#include <vector>

#include "RiRerEziDrawShape.h"
#include "softshape_support.h"

namespace {

struct OpCase {
  int colorType;
  int mode, param;
  uint32_t bright;
  uint32_t dest, color, expected;
};

uint32_t FillOne(const OpCase& c) {
  TestImage img(3, 1, c.colorType);
  img.Fill(c.dest);
  SetDrawState(c.mode, c.param, c.bright);
  const RECT one{1, 0, 2, 1};
  FillRectMemImg(&img.m, &one, c.color);
  EXPECT_EQ(img.Get(0, 0), c.dest);
  EXPECT_EQ(img.Get(2, 0), c.dest);
  return img.Get(1, 0);
}

class ShapePixel : public SoftShapeTest {};

TEST_F(ShapePixel, OperationTable) {
  const uint32_t W = 0xFFFFFF;
  const std::vector<OpCase> cases = {
      // Tint: c * b / 256, all three channels as soon as one byte is below 255.
      {1, 0, 255, W, 0, Rgb(255, 255, 255, 0x12), Rgb(255, 255, 255, 0x12)},
      {1, 0, 255, 0xFFFFFE, 0, Rgb(255, 255, 255, 0x12), Rgb(254, 254, 253, 0x12)},
      {0, 0, 255, 0xFFFFFE, 0, Pack565(31, 63, 31), Pack565(30, 62, 30)},
      {1, 0, 255, 0x808080, 0x55000000, Rgb(255, 255, 255), Rgb(127, 127, 127)},
      // Mode 1.
      {1, 1, 255, W, 0x11111111, 0x12345678, 0x12345678},
      {1, 1, 0, W, 0x11111111, 0x12345678, 0x11111111},
      {1, 1, 128, W, Rgb(0, 255, 0, 0x77), Rgb(255, 0, 255), Rgb(127, 127, 127, 0x77)},
      {0, 1, 128, W, 0, Pack565(31, 0, 0), Pack565(15, 0, 0)},
      // Mode 2 and 3 with S = V at p = 255.
      {1, 2, 255, W, Rgb(40, 1, 200, 0x77), Rgb(40, 1, 100), Rgb(80, 1, 255, 0)},
      {1, 2, 255, W, Rgb(250, 1, 10, 0x77), Rgb(10, 1, 20), Rgb(255, 1, 30, 1)},
      {1, 3, 255, W, Rgb(7, 100, 10, 0x77), Rgb(6, 50, 20), Rgb(1, 50, 0, 0)},
      {1, 3, 255, W, Rgb(7, 100, 30, 0x77), Rgb(6, 50, 20), Rgb(1, 51, 10, 0)},
      {0, 2, 255, W, Pack565(20, 40, 30), Pack565(2, 40, 3), Pack565(23, 63, 31)},
      {0, 3, 255, W, Pack565(7, 20, 10), Pack565(6, 4, 3), Pack565(1, 16, 7)},
      {1, 2, 0, W, 0x11111111, Rgb(9, 9, 9), 0x11111111},
      {1, 3, 0, W, 0x11111111, Rgb(9, 9, 9), 0x11111111},
      // Scaled colour from the parameter row.
      {1, 2, 128, W, Rgb(0, 0, 0), Rgb(255, 255, 255), Rgb(128, 128, 128)},
      // Mode 4 multiplies at p = 0; fourth byte stays.
      {1, 4, 0, W, Rgb(255, 255, 255, 0x66), Rgb(128, 128, 128, 0x99), Rgb(127, 127, 127, 0x66)},
      {0, 4, 0, W, Pack565(31, 63, 31), Pack565(31, 63, 31), Pack565(30, 62, 30)},
      // Modes 10 and 11.
      {1, 10, 0, W, Rgb(1, 2, 3, 4), Rgb(9, 9, 9), Rgb(1, 2, 3, 4)},
      {1, 11, 0, W, Rgb(1, 2, 3, 4), Rgb(9, 9, 9), Rgb(1, 2, 3, 4)},
      {1, 10, 255, W, Rgb(0, 0, 0, 0x44), Rgb(0, 0, 0), Rgb(254, 254, 254, 0x44)},
      {0, 10, 255, W, 0, 0x1234, 0xEDCB},
      {1, 11, 255, W, Rgb(200, 200, 200), Rgb(128, 128, 128), Rgb(100, 100, 100)},
      // Modes that draw nothing.
      {1, 7, 255, W, 0x11111111, 0xFFFFFFFF, 0x11111111},
      {1, 12, 255, W, 0x11111111, 0xFFFFFFFF, 0x11111111},
      {1, -1, 255, W, 0x11111111, 0xFFFFFFFF, 0x11111111},
  };
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(FillOne(cases[i]), cases[i].expected) << "case " << i;
}

TEST_F(ShapePixel, OtherColorTypesDrawNothing) {
  TestImage img(4, 4, 2);
  img.Fill(0x33);
  FillRectMemImg(&img.m, nullptr, 0xFF);
  DrawLineMemImg(&img.m, 0, 0, 3, 3, 0xFF);
  DrawCircleMemImg(&img.m, 2, 2, 1, 0xFF, 1);
  DrawCircleMemImg(&img.m, 2, 2, 1, 0xFF, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(img.Get(x, y), 0x33u);
}

class RectFill : public SoftShapeTest {};

TEST_F(RectFill, NullRectangleFillsTheImageInsideTheDrawArea) {
  TestImage img(32, 32, 1);
  SetDrawState(0, 255, 0xFFFFFF, RECT{10, 10, 640, 480});
  FillRectMemImg(&img.m, nullptr, 0xFF00FF00);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) EXPECT_EQ(img.Get(x, y), x >= 10 && y >= 10 ? 0xFF00FF00u : 0u) << x << "," << y;
}

TEST_F(RectFill, ReversedRectangleFillsItsOrderedTwin) {
  TestImage a(48, 48, 1), b(48, 48, 1);
  SetDrawState(2, 100);
  const RECT reversed{30, 40, 10, 20}, ordered{10, 20, 30, 40};
  FillRectMemImg(&a.m, &reversed, Rgb(90, 90, 90));
  FillRectMemImg(&b.m, &ordered, Rgb(90, 90, 90));
  EXPECT_EQ(reversed.left, 30);
  EXPECT_EQ(reversed.bottom, 20);
  int filled = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) {
      EXPECT_EQ(a.Get(x, y), b.Get(x, y));
      filled += a.Get(x, y) != 0;
    }
  EXPECT_EQ(filled, 400);
}

TEST_F(RectFill, EmptyOrOutsideRectanglesDrawNothing) {
  TestImage img(16, 16, 1);
  SetDrawState(0, 255, 0xFFFFFF, RECT{0, 0, 16, 16});
  const RECT rects[] = {{5, 5, 5, 9}, {3, 7, 9, 7}, {20, 0, 30, 5}, {-9, -9, 0, 16}, {0, 16, 16, 30}};
  for (const RECT& r : rects) FillRectMemImg(&img.m, &r, 0xFFFFFFFF);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_EQ(img.Get(x, y), 0u);
  // Partly outside: only the part inside.
  const RECT part{-5, 12, 3, 40};
  FillRectMemImg(&img.m, &part, 0xFFFFFFFF);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_EQ(img.Get(x, y), x < 3 && y >= 12 ? 0xFFFFFFFFu : 0u);
}

TEST_F(RectFill, OddWidthSixteenBitRowStopsAtItsEnd) {
  TestImage img(9, 3, 0);
  img.Fill(0x1111);
  const RECT r{1, 1, 6, 2};
  FillRectMemImg(&img.m, &r, 0xF81F);
  for (int x = 0; x < 9; ++x) EXPECT_EQ(img.Get(x, 1), x >= 1 && x < 6 ? 0xF81Fu : 0x1111u) << x;
  for (int x = 0; x < 9; ++x) EXPECT_EQ(img.Get(x, 0), 0x1111u);
}

TEST_F(RectFill, ModeZeroWritesTheFourthByteAndTints) {
  TestImage img(4, 4, 1);
  img.Fill(0x77000000);
  FillRectMemImg(&img.m, nullptr, 0xAB102030);
  EXPECT_EQ(img.Get(3, 3), 0xAB102030u);
  SetDrawState(0, 255, 0xFFFF80);
  FillRectMemImg(&img.m, nullptr, Rgb(255, 255, 255));
  EXPECT_EQ(img.Get(0, 0), Rgb(254, 254, 127));
}

TEST_F(RectFill, PalettisedAndAlphaImagesStayInEveryMode) {
  for (int colorType : {0, 1}) {
    TestImage pal(4, 4, colorType, 1, 0), alpha(4, 4, colorType, 0, 1);
    pal.Fill(0x5A);
    alpha.Fill(0x5A5A5A5A);
    for (int mode : {0, 1, 2, 3, 4, 10, 11}) {
      SetDrawState(mode, 200, 0x808080);
      FillRectMemImg(&pal.m, nullptr, 0xFFFFFFFF);
      FillRectMemImg(&alpha.m, nullptr, 0xFFFFFFFF);
    }
    EXPECT_EQ(pal.Get(2, 2), 0x5Au);
    EXPECT_EQ(alpha.Get(2, 2), colorType == 1 ? 0x5A5A5A5Au : 0x5A5A5A5Au);
  }
}

TEST_F(RectFill, FillsInvalidateRunData) {
  TestImage img(4, 4, 1);
  img.m.header->runDataValid = 1;
  FillRectMemImg(&img.m, nullptr, 1);
  EXPECT_EQ(img.m.header->runDataValid, 0);
}

TEST_F(RectFill, WholeImageFillIgnoresTheDrawStateAndKeepsIt) {
  TestImage img(20, 10, 1);
  img.Fill(0x01010101);
  SetDrawState(2, 40, 0x202020, RECT{5, 5, 6, 6});
  FillMemImgWithColor(&img.m, 0xFFFFFFFF);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) EXPECT_EQ(img.Get(x, y), 0xFFFFFFFFu);
  EXPECT_EQ(MemImgDrawState.blendMode, 2);
  EXPECT_EQ(MemImgDrawState.blendParam, 40);
  EXPECT_EQ(MemImgDrawState.drawBright, 0x202020u);
  EXPECT_EQ(MemImgDrawState.drawArea.right, 6);
  TestImage small(7, 3, 0);
  FillMemImgWithColor(&small.m, 0xF81F);
  EXPECT_EQ(small.Get(6, 2), 0xF81Fu);
  // Font cache pages carry alpha: cleared whole, alpha included.
  TestImage alpha(5, 5, 1, 0, 1);
  alpha.Fill(0x12345678);
  FillMemImgWithColor(&alpha.m, 0x00FFFFFF);
  EXPECT_EQ(alpha.Get(4, 4), 0x00FFFFFFu);
  TestImage alpha16(5, 5, 0, 0, 1);
  FillMemImgWithColor(&alpha16.m, 0xFFFF);
  EXPECT_EQ(alpha16.Get(4, 4), 0xFFFFu);
}

TEST_F(RectFill, PalettisedDestinationsAreNeverWritten) {
  TestImage pal(8, 8, 1, 1);
  pal.Fill(0x11);
  DrawLineMemImg(&pal.m, 0, 0, 8, 8, 0xFFFFFFFF);
  DrawCircleMemImg(&pal.m, 7, 7, 5, 0xFFFFFFFF, 1);
  DrawCircleMemImg(&pal.m, 7, 7, 5, 0xFFFFFFFF, 0);
  FillMemImgWithColor(&pal.m, 0xFFFFFFFF);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(pal.Get(x, y), 0x11u);
}

// --- Lines, circles ----------------------------------------------------------

class ShapeDraw : public SoftShapeTest {};

TEST_F(ShapeDraw, BoxOutlineBlendsEachBorderPixelOnce) {
  TestImage img(10, 10, 1);
  img.Fill(Rgb(10, 10, 10));
  SetDrawState(2, 255, 0xFFFFFF, RECT{0, 0, 10, 10});
  const uint32_t c = Rgb(1, 2, 4);
  const MemImgLineRecord box[4] = {
      {2, 2, 5, 2, c, 255}, {5, 2, 5, 4, c, 255}, {5, 4, 2, 4, c, 255}, {2, 4, 2, 2, c, 255}};
  DrawLineListMemImg(&img.m, box, 4);
  int changed = 0;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      const bool border = x >= 2 && x <= 5 && y >= 2 && y <= 4 && (x == 2 || x == 5 || y == 2 || y == 4);
      EXPECT_EQ(img.Get(x, y), border ? Rgb(11, 12, 14) : Rgb(10, 10, 10)) << x << "," << y;
      changed += border;
    }
  EXPECT_EQ(changed, 10);
  DrawLineListMemImg(&img.m, box, 0);
  DrawLineListMemImg(&img.m, box, -1);
  EXPECT_EQ(img.Get(2, 2), Rgb(11, 12, 14));
}

TEST_F(ShapeDraw, BoxAndTriangleOutlinesChangeEachPixelOnce) {
  TestImage img(16, 16, 1);
  img.Fill(Rgb(10, 10, 10));
  SetDrawState(2, 255, 0xFFFFFF, RECT{0, 0, 16, 16});
  EXPECT_EQ(DrawBoxOutlineMemImg(&img.m, 2, 2, 6, 5, Rgb(1, 1, 1)), 0);
  int changed = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const uint32_t v = img.Get(x, y);
      EXPECT_TRUE(v == Rgb(10, 10, 10) || v == Rgb(11, 11, 11)) << x << "," << y;
      changed += v != Rgb(10, 10, 10);
    }
  EXPECT_EQ(changed, 10);
  // Triangle outline: each vertex drawn once, by the line that starts there.
  TestImage tri(16, 16, 1);
  tri.Fill(Rgb(10, 10, 10));
  const POINT p[3] = {{1, 1}, {12, 1}, {1, 12}};
  EXPECT_EQ(DrawTriangleMemImg3(&tri.m, p, Rgb(1, 1, 1), 0, nullptr), 0);
  int outline = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const uint32_t v = tri.Get(x, y);
      EXPECT_TRUE(v == Rgb(10, 10, 10) || v == Rgb(11, 11, 11)) << x << "," << y;
      outline += v != Rgb(10, 10, 10);
    }
  EXPECT_EQ(outline, 33);
  // Filled: the rasteriser's pixels, once each.
  TestImage filled(16, 16, 1);
  filled.Fill(Rgb(10, 10, 10));
  EXPECT_EQ(DrawTriangleMemImg3(&filled.m, p, Rgb(1, 1, 1), 1, nullptr), 0);
  EXPECT_EQ(filled.Get(1, 1), Rgb(11, 11, 11));
  EXPECT_EQ(filled.Get(5, 5), Rgb(11, 11, 11));
  EXPECT_EQ(filled.Get(1, 12), Rgb(10, 10, 10));
}

TEST_F(ShapeDraw, LinesBlendAndTintOncePerLine) {
  TestImage img(10, 10, 0);
  SetDrawState(0, 255, 0x808080, RECT{0, 0, 10, 10});
  DrawLineMemImg(&img.m, 0, 0, 5, 0, 0xFFFF);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(img.Get(x, 0), x < 5 ? Pack565(15, 31, 15) : 0u);
  SetDrawState(1, 0);
  DrawLineMemImg(&img.m, 0, 1, 5, 1, 0xFFFF);
  EXPECT_EQ(img.Get(0, 1), 0u);
}

TEST_F(ShapeDraw, FilledCircleChangesEachPixelOnceInEveryMode) {
  for (int colorType : {0, 1}) {
    for (int mode : {0, 1, 2, 3, 4, 10, 11}) {
      TestImage img(40, 40, colorType);
      const uint32_t bg = colorType == 1 ? Rgb(100, 100, 100, 0x33) : Pack565(12, 30, 12);
      const uint32_t color = colorType == 1 ? Rgb(60, 70, 80) : Pack565(7, 9, 11);
      img.Fill(bg);
      SetDrawState(mode, 37, 0xFFFFFF, RECT{0, 0, 40, 40});
      // The same pixel operation on a one-pixel fill.
      TestImage ref(1, 1, colorType);
      ref.Fill(bg);
      FillRectMemImg(&ref.m, nullptr, color);
      const uint32_t once = ref.Get(0, 0);
      DrawCircleMemImg(&img.m, 20, 19, 10, color, 1);
      int changed = 0;
      for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
          const uint32_t v = img.Get(x, y);
          if (v != bg) {
            EXPECT_EQ(v, once) << "mode " << mode << " at " << x << "," << y;
            ++changed;
          }
        }
      if (once != bg) {
        EXPECT_EQ(changed, 349) << "mode " << mode;
      }
    }
  }
}

TEST_F(ShapeDraw, CircleOutlineRepeatsTheDiagonalPlots) {
  TestImage img(40, 40, 1);
  img.Fill(Rgb(30, 20, 10));
  SetDrawState(2, 255, 0xFFFFFF, RECT{0, 0, 40, 40});
  DrawCircleMemImg(&img.m, 20, 20, 3, Rgb(2, 2, 2), 0);
  int diagonal = 0, single = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      const uint32_t v = img.Get(x, y);
      if (v == Rgb(34, 24, 14)) ++diagonal;
      if (v == Rgb(32, 22, 12)) ++single;
    }
  EXPECT_EQ(diagonal, 4);
  EXPECT_EQ(single, 12);
  EXPECT_EQ(img.Get(18, 18), Rgb(34, 24, 14));
  EXPECT_EQ(img.Get(17, 20), Rgb(32, 22, 12));
  // r = 0: four additions on the centre; mode 0 writes V.
  DrawCircleMemImg(&img.m, 5, 5, 0, Rgb(2, 2, 2), 0);
  EXPECT_EQ(img.Get(5, 5), Rgb(38, 28, 18));
  SetDrawState(1, 255);
  DrawCircleMemImg(&img.m, 8, 8, 0, 0xAB010203, 0);
  EXPECT_EQ(img.Get(8, 8), 0xAB010203u);
}

TEST_F(ShapeDraw, FilledCircleRefusesWhenItsWorkMemoryFails) {
  TestImage img(16, 16, 1);
  auto* saved = DiscRowFlagsAlloc;
  DiscRowFlagsAlloc = [](size_t) -> void* { return nullptr; };
  DrawCircleMemImg(&img.m, 8, 8, 4, 0xFFFFFFFF, 1);
  DiscRowFlagsAlloc = saved;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_EQ(img.Get(x, y), 0u);
  DrawCircleMemImg(&img.m, 8, 8, 4, 0xFFFFFFFF, 1);
  EXPECT_EQ(img.Get(8, 8), 0xFFFFFFFFu);
}

TEST_F(ShapeDraw, CirclesRefuseModesAndEmptyAreas) {
  TestImage img(16, 16, 1);
  for (int mode : {7, 12}) {
    SetDrawState(mode, 255);
    DrawCircleMemImg(&img.m, 8, 8, 4, 0xFFFFFFFF, 1);
    DrawCircleMemImg(&img.m, 8, 8, 4, 0xFFFFFFFF, 0);
  }
  SetDrawState(1, 0);
  DrawCircleMemImg(&img.m, 8, 8, 4, 0xFFFFFFFF, 1);
  SetDrawState(0, 255, 0xFFFFFF, RECT{4, 4, 4, 12});
  DrawCircleMemImg(&img.m, 8, 8, 4, 0xFFFFFFFF, 1);
  DrawCircleMemImg(&img.m, 8, 8, 4, 0xFFFFFFFF, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_EQ(img.Get(x, y), 0u);
}

// A draw area wider than the image is kept inside it.
TEST_F(ShapeDraw, DrawAreaBeyondTheImageIsCutToIt) {
  TestImage img(8, 8, 1);
  TestImage guard(8, 8, 1);
  SetDrawState(0, 255, 0xFFFFFF, RECT{0, 0, 100, 100});
  DrawCircleMemImg(&img.m, 7, 7, 6, 0xFFFFFFFF, 1);
  DrawLineMemImg(&img.m, 0, 7, 50, 7, 0xFFFFFFFF);
  const RECT r{5, 5, 40, 40};
  FillRectMemImg(&img.m, &r, 0xFFFFFFFF);
  EXPECT_EQ(img.Get(7, 7), 0xFFFFFFFFu);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(guard.Get(x, y), 0u);
}

}  // namespace
