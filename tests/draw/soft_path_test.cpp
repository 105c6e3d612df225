// The drawing layer's helpers and software path without a window: the
// texture-size division table, the software glue against the software
// renderer's own results, ring spans against a reference set, the shape
// calls in software mode, the mask screen's software rule.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "DeRede.h"
#include "RingReference.h"
#include "RaRadara.h"
#include "RiRerEzi.h"
#include "RiRerEziDrawFunction.h"
#include "RiRerEziDrawFunction3.h"
#include "RiRerEziDrawShape.h"
#include "VeRavoro.h"
#include "VeRavoroString.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaDrawSoft.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VuViderezaShape.h"

namespace {

// ---------------------------------------------------------------------------
// Texture-size division.

struct DivisionCase {
  int length, limit, single, pow2;
  int powerOfTwoDevice;
  std::vector<int> expected;
};

TEST(TextureSizeDivision, Table) {
  const std::vector<DivisionCase> cases = {
      // Device restricted to powers of two, explicit limit, no doubling.
      {300, 256, 0, 0, 1, {256, 32, 8, 4}},
      {456, 256, 0, 0, 1, {256, 128, 64, 8}},
      {456, 512, 0, 0, 1, {512}},  // the rest 200 exceeds 3/4 of 256
      {1, 256, 0, 0, 1, {1}},
      {1, 256, 1, 1, 0, {1}},
      {256, 256, 0, 0, 1, {256}},
      {600, 256, 0, 0, 1, {256, 256, 64, 16, 8}},
      {200, 256, 0, 0, 1, {128, 64, 8}},
      // Doubling allowed: one power of two covers the side when it fits.
      {200, 256, 1, 0, 1, {256}},
      {220, 2048, 1, 1, 0, {256}},
      {320, 2048, 1, 1, 0, {512}},
      {600, 256, 1, 0, 1, {256, 256, 64, 16, 8}},
      // No limit: the device maximum (2048); sides up to the screen width
      // (640) double, wider ones are cut.
      {300, 0, 0, 0, 1, {512}},
      {1000, 0, 0, 0, 1, {1024}},  // 512, then the rest 488 > 384 doubles it
      {1500, 0, 0, 0, 1, {1024, 512}},
      // Non-power-of-two device: the exact length when it fits, unless forced.
      {200, 256, 0, 0, 0, {200}},
      {300, 256, 0, 0, 0, {256, 32, 8, 4}},
      {200, 256, 0, 1, 0, {128, 64, 8}},
  };
  const DeviceCapsFlags saved = DeviceCaps;
  const int savedWidth = Screen.width;
  Screen.width = 640;
  DeviceCaps.maxTextureWidth = DeviceCaps.maxTextureHeight = 2048;
  for (const DivisionCase& c : cases) {
    DeviceCaps.powerOfTwoRequired = c.powerOfTwoDevice;
    DeviceCaps.nonPowerOfTwoConditional = 0;
    uint16_t lengths[32] = {};
    const int count = DivideSizeIntoTextureSizes(c.length, c.limit, lengths, c.single, c.pow2);
    EXPECT_EQ(count, DivideSizeIntoTextureSizes(c.length, c.limit, nullptr, c.single, c.pow2));
    std::vector<int> got(lengths, lengths + (count > 0 && count <= 32 ? count : 0));
    EXPECT_EQ(c.expected, got) << c.length << " / " << c.limit << " single " << c.single << " pow2 " << c.pow2;
  }
  // A conditional non-power-of-two device takes the exact length too.
  DeviceCaps.powerOfTwoRequired = 1;
  DeviceCaps.nonPowerOfTwoConditional = 1;
  uint16_t one = 0;
  EXPECT_EQ(1, DivideSizeIntoTextureSizes(100, 256, &one, 0, 0));
  EXPECT_EQ(100, one);
  DeviceCaps = saved;
  Screen.width = savedWidth;
}

// ---------------------------------------------------------------------------
// Software path.

constexpr int kW = 96, kH = 80;

uint32_t Pixel(const MEMIMG& image, int x, int y) {
  const uint8_t* row = image.pixels + y * image.header->pitch;
  return MemImgBytesPerPixel(&image) == 4 ? reinterpret_cast<const uint32_t*>(row)[x]
                                          : reinterpret_cast<const uint16_t*>(row)[x];
}

void Fill(MEMIMG* image, uint32_t seed) {
  for (int y = 0; y < image->height; y++)
    for (int x = 0; x < image->width; x++) {
      uint32_t v = (x * 37 + y * 91 + seed) * 2654435761u;
      v = (v >> 8) & 0xFFFFFF;
      uint8_t* row = image->pixels + y * image->header->pitch;
      if (MemImgBytesPerPixel(image) == 4) reinterpret_cast<uint32_t*>(row)[x] = v;
      else reinterpret_cast<uint16_t*>(row)[x] = static_cast<uint16_t>(v);
    }
  InvalidateMemImgDerivedData(image);
}

bool SameImage(const MEMIMG& a, const MEMIMG& b) {
  for (int y = 0; y < a.height; y++)
    for (int x = 0; x < a.width; x++)
      if (Pixel(a, x, y) != Pixel(b, x, y)) return false;
  return true;
}

class SoftPathTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    colorType_ = GetParam();
    BuildBlendLookupTables();
    savedHardware_ = DeviceLayer.hardware;
    DeviceLayer.hardware = 0;
    SetAlwaysRunFlag(1);
    memset(&screen_, 0, sizeof screen_);
    memset(&expect_, 0, sizeof expect_);
    memset(&graph_, 0, sizeof graph_);
    ASSERT_EQ(0, CreateMemImgOfColorType(&screen_, kW, kH, colorType_));
    ASSERT_EQ(0, CreateMemImgOfColorType(&expect_, kW, kH, colorType_));
    ASSERT_EQ(0, CreateMemImgOfColorType(&graph_.softImage, 21, 14, colorType_));
    graph_.width = 21;
    graph_.height = 14;
    Fill(&screen_, 1);
    Fill(&expect_, 1);
    Fill(&graph_.softImage, 7);
    SoftwareDrawTarget = &screen_;
    SoftwareBlendImage = nullptr;
    SetArea(RECT{0, 0, kW, kH});
    SetMemImgBlendMode(0, 255);
    SetMemImgDrawBright(0xFFFFFF);
    CurrentDrawState.blendMode = 0;
    CurrentDrawState.blendParam = 255;
  }
  void TearDown() override {
    ReleaseMemImg(&screen_);
    ReleaseMemImg(&expect_);
    ReleaseMemImg(&graph_.softImage);
    SoftwareDrawTarget = nullptr;
    DeviceLayer.hardware = savedHardware_;
  }
  void SetArea(const RECT& area) {
    CurrentDrawState.drawArea = area;
    CurrentDrawState.areaEmpty = area.right <= area.left || area.bottom <= area.top;
    SetMemImgDrawArea(&area);
  }

  int colorType_ = 1;
  int savedHardware_ = 0;
  MEMIMG screen_, expect_;
  GraphicHandleRecord graph_;
};

TEST_P(SoftPathTest, ImageGlueEqualsTheRenderersOwnCalls) {
  struct Step {
    int mode, param;
  };
  for (Step s : {Step{0, 255}, Step{1, 128}, Step{2, 200}}) {
    SetMemImgBlendMode(s.mode, s.param);
    EXPECT_EQ(0, SoftBlitImageAt(-5, 7, 1, &graph_));
    BlitMemImg(&expect_, &graph_.softImage, -5, 7, 1, nullptr);
    EXPECT_EQ(0, SoftBlitImageStretched(60, 10, 30, 50, &graph_, 0));
    const RECT stretched = {60, 10, 30, 50};
    BlitScaledMemImg(&expect_, &graph_.softImage, &stretched, 0, nullptr);
    // The rotated centre is truncated toward zero: 40.9 draws about 40.
    EXPECT_EQ(0, SoftBlitImageRotated(40.9f, 30.99f, 1.5, 0.7, &graph_, 1, 0));
    BlitRotatedMemImg(&expect_, &graph_.softImage, {40, 30, 0.7f, 1.5f, 1, 0}, nullptr);
    EXPECT_TRUE(SameImage(screen_, expect_)) << "mode " << s.mode;
  }
}

// The turned rotated draw is the plain one mirrored in place about the
// image's vertical axis, as on the Direct3D path (which negates the corner
// offsets from the centre): same box, columns reversed. Upright, even sides
// (odd sides and other angles move by the renderer's corner truncation and
// are not pinned here).
TEST_P(SoftPathTest, TurnedRotatedDrawIsThePlainDrawMirroredInPlace) {
  struct Turn {
    double angle;
    int w, h;
  };
  for (Turn t : {Turn{0.0, 20, 14}, Turn{0.0, 12, 8}, Turn{0.0, 32, 2}}) {
    GraphicHandleRecord g;
    memset(&g, 0, sizeof g);
    ASSERT_EQ(0, CreateMemImgOfColorType(&g.softImage, t.w, t.h, colorType_));
    g.width = t.w, g.height = t.h;
    Fill(&g.softImage, 3);
    FillMemImgRectRaw(&screen_, nullptr, 0);
    FillMemImgRectRaw(&expect_, nullptr, 0);
    SoftwareDrawTarget = &expect_;
    SoftBlitImageRotated(48.0f, 40.0f, 1.0, t.angle, &g, 0, 0);
    SoftwareDrawTarget = &screen_;
    SoftBlitImageRotated(48.0f, 40.0f, 1.0, t.angle, &g, 0, 1);
    // The mirror axis runs along the image's y axis through the middle of
    // the plain draw's box.
    const bool across = true;
    int minX = kW, maxX = -1, minY = kH, maxY = -1;
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++)
        if (Pixel(expect_, x, y) != 0)
          minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
    int drawn = 0;
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) {
        const int mx = across ? minX + maxX - x : x, my = across ? y : minY + maxY - y;
        const uint32_t plain = mx >= 0 && mx < kW && my >= 0 && my < kH ? Pixel(expect_, mx, my) : 0;
        drawn += Pixel(expect_, x, y) != 0;
        ASSERT_EQ(plain, Pixel(screen_, x, y)) << "angle " << t.angle << " at " << x << "," << y;
      }
    EXPECT_EQ(t.w * t.h, drawn);
    ReleaseMemImg(&g.softImage);
  }
}

TEST_P(SoftPathTest, QuadIsTheTwoTrianglesWithTheTopRightToBottomLeftDiagonal) {
  EXPECT_EQ(0, SoftDrawImageQuad(10.7f, 12.2f, 50.9f, 12.0f, 10.0f, 40.5f, 50.0f, 40.0f, &graph_, 0));
  const TriangleVertex v[4] = {{10, 12, 0, 0}, {50, 12, 21, 0}, {10, 40, 0, 14}, {50, 40, 21, 14}};
  DrawTriangleMemImg(&expect_, &graph_.softImage, &v[0], 0, nullptr, 0);
  DrawTriangleMemImg(&expect_, &graph_.softImage, &v[1], 0, nullptr, 0);
  EXPECT_TRUE(SameImage(screen_, expect_));
}

TEST_P(SoftPathTest, RingsCoverTheReferenceSetOnceEach) {
  if (colorType_ != 1) GTEST_SKIP() << "counted through the 32-bit additive mode";
  struct RingCase {
    int cx, cy, r, t;
  };
  for (RingCase c : {RingCase{40, 40, 10, 2}, RingCase{40, 40, 10, 3}, RingCase{30, 35, 20, 6}, RingCase{47, 39, 1, 4},
                     RingCase{5, 5, 12, 5}}) {
    FillMemImgRectRaw(&screen_, nullptr, 0);
    SetMemImgBlendMode(2, 255);
    SetArea(RECT{0, 0, kW, kH});
    ASSERT_EQ(0, DrawCircleShape(c.cx, c.cy, c.r, 0x404040, 0, c.t));
    const auto expected = RingReference(c.cx, c.cy, c.r, c.t, kW, kH);
    std::set<std::pair<int, int>> got;
    int twice = 0;
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) {
        const uint32_t p = Pixel(screen_, x, y) & 0xFFFFFF;
        if (p != 0) got.insert({x, y});
        if ((p & 0xFF) > 0x50) twice++;
      }
    EXPECT_EQ(expected, got) << "ring " << c.r << " / " << c.t;
    EXPECT_EQ(0, twice);
  }
  // Thickness 2 radius 10 lies between the circles of radius 10 and 11.
  const auto ring = RingReference(40, 40, 10, 2, kW, kH);
  for (auto p : ring) {
    const int dx = p.first - 40, dy = p.second - 40;
    EXPECT_GE(dx * dx + dy * dy, 9 * 9);
    EXPECT_LE(dx * dx + dy * dy, 12 * 12);
  }
  // Thickness 0 or less is refused.
  EXPECT_EQ(-1, SoftDrawRing(40, 40, 10, 0x010101, 0));
}

TEST_P(SoftPathTest, ShapeCallsDrawThroughTheRenderer) {
  SetMemImgBlendMode(1, 128);
  EXPECT_EQ(0, DrawRectShape(50, 40, 10, 10, 0x123456, 1));  // reversed corners fill (10, 10)-(50, 40)
  const RECT box = {50, 40, 10, 10};
  FillRectMemImg(&expect_, &box, 0x123456);
  EXPECT_EQ(0, DrawRectShape(10, 10, 10, 50, 0xFFFFFF, 1));  // empty: nothing
  EXPECT_EQ(0, DrawRectShape(20, 15, 40, 30, 0x00FF00, 0));
  DrawBoxOutlineMemImg(&expect_, 20, 15, 40, 30, 0x00FF00);
  EXPECT_EQ(0, DrawCircleShape(60, 40, 15, 0xFF0000, 1, 1));
  DrawCircleMemImg(&expect_, 60, 40, 15, 0xFF0000, 1);
  EXPECT_EQ(0, DrawCircleShape(60, 40, -1, 0xFF0000, 1, 1));
  EXPECT_EQ(0, DrawTriangleShape(5, 70, 40, 60, 20, 79, 0x0000FF, 1));
  const POINT points[3] = {{5, 70}, {40, 60}, {20, 79}};
  DrawTriangleMemImg3(&expect_, points, 0x0000FF, 1, nullptr);
  EXPECT_EQ(0, DrawTriangleShape(5, 5, 40, 8, 20, 30, 0xFF00FF, 0));
  const POINT outline[3] = {{5, 5}, {40, 8}, {20, 30}};
  DrawTriangleMemImg3(&expect_, outline, 0xFF00FF, 0, nullptr);
  EXPECT_TRUE(SameImage(screen_, expect_));
}

// The circle call's outline blends each of its pixels once. The renderer's
// own outline trace (DrawCircleMemImg without fill) plots the four diagonal
// points of a radius such as 3 twice, so an additive outline would come out
// brighter there; the circle call does not use it.
TEST_P(SoftPathTest, CircleOutlineBlendsEachPixelOnce) {
  if (colorType_ != 1) GTEST_SKIP() << "counted through the 32-bit additive mode";
  const uint32_t background = 0x1E140A;  // red 30, green 20, blue 10
  for (int r : {3, 7, 10, 11}) {
    FillMemImgRectRaw(&screen_, nullptr, background);
    FillMemImgRectRaw(&expect_, nullptr, background);
    SetMemImgBlendMode(2, 255);
    CurrentDrawState.blendMode = 2;
    ASSERT_EQ(0, DrawCircleShape(40, 40, r, 0x020202, 0, 1));
    DrawCircleMemImg(&expect_, 40, 40, r, 0x020202, 0);
    int once = 0, twice = 0, trace = 0;
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) {
        const uint32_t p = Pixel(screen_, x, y) & 0xFFFFFF;
        ASSERT_TRUE(p == background || p == background + 0x020202) << r << ": " << x << "," << y;
        once += p != background;
        const uint32_t e = Pixel(expect_, x, y) & 0xFFFFFF;
        trace += e != background;
        twice += e == background + 0x040404;
        // The same pixels either way.
        ASSERT_EQ(p != background, e != background) << r << ": " << x << "," << y;
      }
    EXPECT_EQ(static_cast<int>(OutlineReference(40, 40, r, kW, kH).size()), once) << r;
    EXPECT_EQ(once, trace);
    EXPECT_EQ(4, twice) << "the renderer's trace at radius " << r;
  }
}

TEST_P(SoftPathTest, AnEmptyDrawAreaDrawsNothing) {
  SetArea(RECT{30, 30, 30, 60});
  EXPECT_EQ(0, DrawRectShape(0, 0, kW, kH, 0xFFFFFF, 1));
  EXPECT_EQ(0, DrawRectShape(0, 0, kW, kH, 0xFFFFFF, 0));
  EXPECT_EQ(0, DrawCircleShape(40, 40, 30, 0xFFFFFF, 1, 1));
  EXPECT_EQ(0, DrawCircleShape(40, 40, 30, 0xFFFFFF, 1, 4));
  EXPECT_EQ(0, DrawTriangleShape(0, 0, 90, 0, 0, 70, 0xFFFFFF, 1));
  EXPECT_TRUE(SameImage(screen_, expect_));
}

TEST_P(SoftPathTest, VertexListsWithoutAGraphicDrawNothing) {
  const Vertex2D tri[3] = {
      {1, 1, 0, 1, 0xFFFFFFFFu, 0, 0}, {90, 1, 0, 1, 0xFFFFFFFFu, 0, 0}, {1, 70, 0, 1, 0xFFFFFFFFu, 0, 0}};
  EXPECT_EQ(0, DrawVertexPrimitive2D(tri, 3, D3DPT_TRIANGLELIST, -5, 0));
  EXPECT_TRUE(SameImage(screen_, expect_));
}

TEST_P(SoftPathTest, ClearFillsTheTargetWithTheBackground) {
  const int saved[3] = {Screen.background[0], Screen.background[1], Screen.background[2]};
  Screen.background[0] = 0x40, Screen.background[1] = 0x80, Screen.background[2] = 0xC0;
  const int savedTarget = CurrentDrawState.drawTarget;
  CurrentDrawState.drawTarget = SCREEN_BACK;
  MEMIMG savedScreen = SoftwareScreenImage;
  SoftwareScreenImage = screen_;
  const uint32_t bg = colorType_ == 1 ? 0x4080C0u : ((0x40 >> 3) << 11 | (0x80 >> 2) << 5 | (0xC0 >> 3));
  const RECT part = {10, 5, 30, 20};
  EXPECT_EQ(0, ClearDrawTarget(&part));
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      const bool inside = x >= 10 && x < 30 && y >= 5 && y < 20;
      EXPECT_EQ(inside ? bg : Pixel(expect_, x, y), Pixel(screen_, x, y) & (colorType_ == 1 ? 0xFFFFFF : 0xFFFF));
    }
  const RECT negative = {-1, 0, 5, 5};  // counts as the whole target
  EXPECT_EQ(0, ClearDrawTarget(&negative));
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) ASSERT_EQ(bg, Pixel(screen_, x, y) & (colorType_ == 1 ? 0xFFFFFF : 0xFFFF));
  SoftwareScreenImage = savedScreen;
  CurrentDrawState.drawTarget = savedTarget;
  for (int i = 0; i < 3; i++) Screen.background[i] = saved[i];
}

INSTANTIATE_TEST_SUITE_P(ColorTypes, SoftPathTest, ::testing::Values(0, 1));

// ---------------------------------------------------------------------------
// Mask screen, software side.

class MaskSoftTest : public SoftPathTest {
 protected:
  void SetUp() override {
    SoftPathTest::SetUp();
    savedScreen_ = SoftwareScreenImage;
    SoftwareScreenImage = screen_;
    savedTarget_ = CurrentDrawState.drawTarget;
    CurrentDrawState.drawTarget = SCREEN_BACK;
    CurrentDrawState.drawScreenWidth = 64;
    CurrentDrawState.drawScreenHeight = 48;
    savedColorType_ = MemImgDrawState.defaultColorType;
    SetMemImgDefaultColorType(colorType_);  // the screen's type, as start-up sets it
    if (!HandleManagers[HANDLETYPE_MASK].initialized) {
      ASSERT_EQ(0, InitMaskSystem());
    }
    ASSERT_EQ(0, SetMaskScreenRequest(1));
  }
  void TearDown() override {
    EXPECT_EQ(0, EndMaskSystem());
    SetMemImgDefaultColorType(savedColorType_);
    SoftwareScreenImage = savedScreen_;
    CurrentDrawState.drawTarget = savedTarget_;
    SoftPathTest::TearDown();
  }
  MEMIMG savedScreen_;
  int savedColorType_ = 0;
  int savedTarget_ = SCREEN_BACK;
};

TEST_P(MaskSoftTest, DrawsReachOnlyWhereTheMaskIsSet) {
  const RECT open = {20, 10, 40, 30};
  ASSERT_EQ(0, FillMaskScreenRect(&open, 1));
  ASSERT_EQ(0, SwitchMaskScreenUse(1));
  EXPECT_EQ(&MaskScreen.workImage, SoftwareDrawTarget);
  SetMemImgBlendMode(1, 128);
  EXPECT_EQ(0, DrawRectShape(0, 0, 60, 45, 0x00FF00, 1));
  // The rule: the drawn pixel where the mask byte is set, the old one
  // elsewhere (also outside the mask screen's 64 x 48).
  const RECT all = {0, 0, 60, 45};
  FillRectMemImg(&expect_, &all, 0x00FF00);
  MEMIMG before;
  memset(&before, 0, sizeof before);
  ASSERT_EQ(0, CreateMemImgOfColorType(&before, kW, kH, colorType_));
  Fill(&before, 1);
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      const bool inMask = x >= 20 && x < 40 && y >= 10 && y < 30;
      ASSERT_EQ(inMask ? Pixel(expect_, x, y) : Pixel(before, x, y), Pixel(screen_, x, y)) << x << "," << y;
    }
  // A draw where the mask is all zero leaves the target as it is.
  const RECT closed = {0, 0, 64, 48};
  FillMaskScreenRect(&closed, 0);
  MEMIMG copy;
  memset(&copy, 0, sizeof copy);
  ASSERT_EQ(0, CreateMemImgOfColorType(&copy, kW, kH, colorType_));
  TransferMemImg(&copy, &screen_, nullptr, 0, 0);
  EXPECT_EQ(0, DrawCircleShape(30, 20, 15, 0xFF0000, 1, 1));
  EXPECT_TRUE(SameImage(screen_, copy));
  ReleaseMemImg(&before);
  ReleaseMemImg(&copy);
  EXPECT_EQ(0, SwitchMaskScreenUse(0));
  EXPECT_EQ(&SoftwareScreenImage, SoftwareDrawTarget);
}

TEST_P(MaskSoftTest, NestedBracketsActOnceAtTheOutermostPair) {
  const RECT open = {0, 0, 64, 48};
  FillMaskScreenRect(&open, 1);
  ASSERT_EQ(0, SwitchMaskScreenUse(1));
  const RECT r = {0, 0, 64, 48};
  BeginMaskedDraw(r);
  BeginMaskedDraw(r);  // inner: no copy
  FillMemImgRectRaw(&MaskScreen.workImage, nullptr, 0x0000FF);
  ApplyMaskToScreen(r);  // inner: nothing yet
  EXPECT_NE(0x0000FFu, Pixel(screen_, 5, 5));
  ApplyMaskToScreen(r);
  EXPECT_EQ(0x0000FFu, Pixel(screen_, 5, 5));
  EXPECT_EQ(0, MaskScreen.nesting);
  SwitchMaskScreenUse(0);
}

TEST_P(MaskSoftTest, GrowthKeepsOldBytesAndZeroesTheNewArea) {
  const RECT some = {3, 4, 20, 9};
  FillMaskScreenRect(&some, 7);
  FillMemImgRectRaw(&MaskScreen.workImage, nullptr, 0x0000AA);
  ASSERT_EQ(0, CreateMaskScreen(1, 40, 30));  // smaller: kept as it is
  EXPECT_EQ(64, MaskScreen.width);
  EXPECT_EQ(48, MaskScreen.height);
  ASSERT_EQ(0, CreateMaskScreen(1, 90, 70));
  EXPECT_EQ(90, MaskScreen.width);
  EXPECT_EQ(70, MaskScreen.height);
  EXPECT_EQ(92, MaskScreen.pitch);
  for (int y = 0; y < 70; y++)
    for (int x = 0; x < 90; x++) {
      const int expected = x >= 3 && x < 20 && y >= 4 && y < 9 ? 7 : 0;
      ASSERT_EQ(expected, MaskScreen.bytes[y * MaskScreen.pitch + x]) << x << "," << y;
    }
  // The old work image was copied plainly into the new one.
  EXPECT_EQ(0x0000AAu, Pixel(MaskScreen.workImage, 63, 47));
}

TEST(MaskScreen, SwitchingOnBeforeAnyMaskScreenIsRefused) {
  if (!HandleManagers[HANDLETYPE_MASK].initialized) {
    ASSERT_EQ(0, InitMaskSystem());
  }
  EXPECT_EQ(-1, SwitchMaskScreenUse(1));
  EXPECT_EQ(0, EndMaskSystem());
  EXPECT_EQ(-1, EndMaskSystem());
}

INSTANTIATE_TEST_SUITE_P(ColorTypes, MaskSoftTest, ::testing::Values(0, 1));

}  // namespace
