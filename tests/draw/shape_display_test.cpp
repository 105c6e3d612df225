// Shapes, clearing and the mask screen in the started library, run once on
// the real Direct3D device (read back from the back buffer) and once in
// software mode (read from the software screen): both give the same pixel
// sets. Differences allowed between the two: the half-alpha disc's value
// (the device computes 255 x 128 / 255 in its blender, the software shapes
// their own weight), within 2 per channel.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "DeRede.h"
#include "FrameReadback.h"
#include "RaRadara.h"
#include "RiDov.h"
#include "RiRerEziDrawFunction.h"
#include "RiRerEziDrawFunction3.h"
#include "VuViderezaGraph.h"
#include "ZiDezaru.h"
#include "RingReference.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaDrawSoft.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShape.h"
#include "WindowFixture.h"

namespace {

constexpr int kW = 640, kH = 480;

class ShapeDisplayTest : public test_support::DeviceWindowTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    hardware_ = GetParam();
    SetUseHardwareRendering(hardware_);
    ASSERT_EQ(0, LibraryStartUp());
    ASSERT_EQ(hardware_, DeviceLayer.hardware);
    ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
    Background(0, 0, 0);
  }

  void Background(int r, int g, int b) {
    Screen.background[0] = r, Screen.background[1] = g, Screen.background[2] = b;
    ASSERT_EQ(0, ClearDrawTarget(nullptr));
  }

  // The whole target as 0xRRGGBB.
  std::vector<uint32_t> Frame() {
    if (hardware_) return ReadBackBufferFrame(kW, kH);
    std::vector<uint32_t> out(kW * kH, 0xDEADu);
    const MEMIMG& m = SoftwareScreenImage;
    for (int y = 0; y < kH; y++) {
      const uint32_t* row = reinterpret_cast<const uint32_t*>(m.pixels + y * m.header->pitch);
      for (int x = 0; x < kW; x++) out[y * kW + x] = row[x] & 0xFFFFFF;
    }
    return out;
  }

  // Every pixel of the set equals `inside`, every other one `outside`.
  void ExpectSet(const std::vector<uint32_t>& frame, const PixelSet& set, uint32_t inside, uint32_t outside,
                 const char* what) {
    int wrong = 0;
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++) {
        const uint32_t want = set.count({x, y}) ? inside : outside;
        if (frame[y * kW + x] != want && wrong++ < 5)
          ADD_FAILURE() << what << " at " << x << "," << y << ": " << std::hex << frame[y * kW + x] << " not " << want;
      }
    EXPECT_EQ(0, wrong) << what;
  }

  // The mask open over (20, 10)-(40, 30) (set here unless setMask is false).
  void CheckMaskedDraws(bool setMask = true);

  int hardware_ = 1;
};

TEST_P(ShapeDisplayTest, BoxOutlineCoversItsBorderOnce) {
  ASSERT_EQ(0, SetBlendMode(2, 255));  // additive: a pixel drawn twice shows
  const unsigned int c = MakeColorValue(64, 64, 64);
  ASSERT_EQ(0, DrawRectShape(10, 10, 20, 15, c, 0));
  ASSERT_EQ(0, DrawRectShape(100, 60, 30, 40, c, 0));  // reversed corners
  PixelSet set;
  auto border = [&](int l, int t, int r, int b) {
    for (int x = l; x < r; x++) set.insert({x, t}), set.insert({x, b - 1});
    for (int y = t; y < b; y++) set.insert({l, y}), set.insert({r - 1, y});
  };
  border(10, 10, 20, 15);
  border(30, 40, 100, 60);
  ExpectSet(Frame(), set, 0x404040, 0, "outline");
}

TEST_P(ShapeDisplayTest, FilledBoxAndTrianglesMatchTheirSets) {
  const unsigned int c = MakeColorValue(0, 200, 0);
  ASSERT_EQ(0, DrawRectShape(50, 40, 10, 10, c, 1));  // fills (10, 10)-(50, 40)
  ASSERT_EQ(0, DrawRectShape(60, 10, 60, 50, c, 1));  // empty
  PixelSet set;
  for (int y = 10; y < 40; y++)
    for (int x = 10; x < 50; x++) set.insert({x, y});
  ExpectSet(Frame(), set, 0x00C800, 0, "box");
}

TEST_P(ShapeDisplayTest, OutlineCircleAndRingsCoverTheReferenceSetsOnce) {
  ASSERT_EQ(0, SetBlendMode(2, 255));
  const unsigned int c = MakeColorValue(64, 64, 64);
  struct Ring {
    int x, y, r, t;
  };
  for (Ring ring : {Ring{300, 200, 12, 1}, Ring{300, 200, 0, 1}, Ring{200, 150, 10, 2}, Ring{200, 150, 10, 3},
                    Ring{400, 300, 25, 6}, Ring{5, 470, 20, 4}}) {
    Background(0, 0, 0);
    ASSERT_EQ(0, SetBlendMode(2, 255));
    ASSERT_EQ(0, DrawCircleShape(ring.x, ring.y, ring.r, c, 0, ring.t));
    const PixelSet set = ring.t == 1 ? OutlineReference(ring.x, ring.y, ring.r, kW, kH)
                                     : RingReference(ring.x, ring.y, ring.r, ring.t, kW, kH);
    ExpectSet(Frame(), set, 0x404040, 0, ring.t == 1 ? "outline circle" : "ring");
  }
  // Thickness 3 with the fill flag draws the same ring.
  Background(0, 0, 0);
  ASSERT_EQ(0, SetBlendMode(2, 255));
  ASSERT_EQ(0, DrawCircleShape(200, 150, 10, c, 1, 3));
  ExpectSet(Frame(), RingReference(200, 150, 10, 3, kW, kH), 0x404040, 0, "filled-flag ring");
}

TEST_P(ShapeDisplayTest, HalfAlphaDiscIsUniform) {
  ASSERT_EQ(0, SetBlendMode(1, 128));
  ASSERT_EQ(0, DrawCircleShape(100, 100, 30, MakeColorValue(255, 255, 255), 1, 1));
  ASSERT_EQ(0, DrawCircleShape(620, 20, 40, MakeColorValue(255, 255, 255), 1, 1));  // clipped
  const std::vector<uint32_t> frame = Frame();
  PixelSet set = DiscReference(100, 100, 30, kW, kH);
  const PixelSet clipped = DiscReference(620, 20, 40, kW, kH);
  set.insert(clipped.begin(), clipped.end());
  const uint32_t v = frame[100 * kW + 100];
  EXPECT_NEAR(128, static_cast<int>(v & 255), 2);
  ExpectSet(frame, set, v, 0, "disc");
  // The single-pixel disc.
  Background(0, 0, 0);
  ASSERT_EQ(0, SetBlendMode(0, 255));
  ASSERT_EQ(0, DrawCircleShape(7, 9, 0, MakeColorValue(255, 0, 0), 1, 1));
  ExpectSet(Frame(), PixelSet{{7, 9}}, 0xFF0000, 0, "r = 0");
  EXPECT_EQ(0, DrawCircleShape(7, 9, -1, MakeColorValue(255, 0, 0), 1, 1));
}

TEST_P(ShapeDisplayTest, AnEmptyDrawAreaDrawsNothing) {
  const unsigned int c = MakeColorValue(255, 255, 255);
  ASSERT_EQ(0, DrawRectShape(5, 5, 40, 40, MakeColorValue(0, 0, 255), 1));
  const std::vector<uint32_t> before = Frame();
  ASSERT_EQ(0, SetClipRect(30, 30, 30, 60));
  EXPECT_EQ(0, DrawRectShape(0, 0, kW, kH, c, 1));
  EXPECT_EQ(0, DrawRectShape(0, 0, kW, kH, c, 0));
  EXPECT_EQ(0, DrawCircleShape(100, 100, 50, c, 1, 1));
  EXPECT_EQ(0, DrawCircleShape(100, 100, 50, c, 0, 1));
  EXPECT_EQ(0, DrawCircleShape(100, 100, 50, c, 0, 5));
  EXPECT_EQ(0, DrawTriangleShape(0, 0, 300, 0, 0, 300, c, 1));
  EXPECT_EQ(0, DrawTriangleShape(0, 0, 300, 0, 0, 300, c, 0));
  EXPECT_EQ(before, Frame());
}

TEST_P(ShapeDisplayTest, ClearCoversTheWholeTargetWhateverTheDrawArea) {
  ASSERT_EQ(0, DrawRectShape(0, 0, kW, kH, MakeColorValue(9, 9, 9), 1));
  ASSERT_EQ(0, SetClipRect(10, 10, 100, 100));
  Background(0x20, 0x40, 0x60);
  ExpectSet(Frame(), PixelSet{}, 0, 0x204060, "clear");
  // A rectangle clears only itself; a negative left counts as the whole.
  ASSERT_EQ(0, SetClipRect(0, 0, kW, kH));
  ASSERT_EQ(0, DrawRectShape(0, 0, kW, kH, MakeColorValue(9, 9, 9), 1));
  const RECT part = {20, 30, 50, 40};
  ASSERT_EQ(0, ClearDrawTarget(&part));
  PixelSet set;
  for (int y = 30; y < 40; y++)
    for (int x = 20; x < 50; x++) set.insert({x, y});
  ExpectSet(Frame(), set, 0x204060, 0x090909, "part");
  const RECT negative = {-1, 0, 5, 5};
  ASSERT_EQ(0, ClearDrawTarget(&negative));
  ExpectSet(Frame(), PixelSet{}, 0, 0x204060, "negative left");
}

TEST_P(ShapeDisplayTest, ClearResetsTheZBuffer) {
  if (!hardware_ || DeviceLayer.depthBuffer == nullptr) GTEST_SKIP() << "Direct3D with a Z buffer only";
  CurrentDrawState.zSettings[0] = DrawZSetting{1, 1, D3DCMP_LESS, 0};
  RenderState.statesChanged = 1;
  ForgetLastDrawSetup();
  const float savedZ = CurrentDrawState.drawZ;
  CurrentDrawState.drawZ = 0.2f;
  ASSERT_EQ(0, DrawRectShape(10, 10, 50, 50, MakeColorValue(255, 0, 0), 1));
  CurrentDrawState.drawZ = 0.5f;  // behind: refused by the Z test
  ASSERT_EQ(0, DrawRectShape(10, 10, 50, 50, MakeColorValue(0, 255, 0), 1));
  EXPECT_EQ(0xFF0000u, Frame()[20 * kW + 20]);
  ASSERT_EQ(0, ClearDrawTarget(nullptr));
  ASSERT_EQ(0, DrawRectShape(10, 10, 50, 50, MakeColorValue(0, 255, 0), 1));
  EXPECT_EQ(0x00FF00u, Frame()[20 * kW + 20]);
  CurrentDrawState.drawZ = savedZ;
  CurrentDrawState.zSettings[0] = DrawZSetting{0, 0, D3DCMP_LESSEQUAL, 0};
  RenderState.statesChanged = 1;
}

// The mask screen: a masked draw lands where the mask bytes are set and
// leaves the target elsewhere (the software rule), on both paths.
TEST_P(ShapeDisplayTest, MaskedDrawsFollowTheMask) { CheckMaskedDraws(); }

// A device rebuild releases and restores the mask screen: the mask stays.
TEST_P(ShapeDisplayTest, TheMaskSurvivesItsReleaseAndRestore) {
  ASSERT_EQ(0, SetMaskScreenRequest(1));
  const RECT open = {20, 10, 40, 30};
  ASSERT_EQ(0, FillMaskScreenRect(&open, 255));
  ASSERT_EQ(0, ReleaseMaskScreen());
  ASSERT_EQ(0, RestoreMaskScreen());
  CheckMaskedDraws(false);
}

TEST_P(ShapeDisplayTest, MaskedDrawsFollowTheMaskOnTheStagePrograms) {
  if (!hardware_) GTEST_SKIP() << "Direct3D only";
  ASSERT_EQ(0, SetForceFixedFunction(1));
  CheckMaskedDraws();
  SetForceFixedFunction(0);
}

void ShapeDisplayTest::CheckMaskedDraws(bool setMask) {
  Background(0x10, 0x20, 0x30);
  if (setMask) {
    ASSERT_EQ(0, SetMaskScreenRequest(1));
    const RECT open = {20, 10, 40, 30};
    ASSERT_EQ(0, FillMaskScreenRect(&open, 255));
  }
  ASSERT_EQ(0, SwitchMaskScreenUse(1));
  ASSERT_EQ(0, SetBlendMode(0, 255));
  ASSERT_EQ(0, DrawRectShape(0, 0, 60, 45, MakeColorValue(0, 200, 0), 1));
  ASSERT_EQ(0, DrawCircleShape(30, 20, 15, MakeColorValue(200, 0, 0), 0, 1));
  ASSERT_EQ(0, SwitchMaskScreenUse(0));
  std::vector<uint32_t> frame = Frame();
  const PixelSet outline = OutlineReference(30, 20, 15, kW, kH);
  int wrong = 0;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      const bool inMask = x >= 20 && x < 40 && y >= 10 && y < 30;
      const uint32_t want = !inMask ? 0x102030u : outline.count({x, y}) ? 0xC80000u : 0x00C800u;
      if (frame[y * kW + x] != want && wrong++ < 5)
        ADD_FAILURE() << x << "," << y << ": " << std::hex << frame[y * kW + x] << " not " << want;
    }
  EXPECT_EQ(0, wrong);
  // Unmasked again: draws reach everywhere.
  ASSERT_EQ(0, DrawRectShape(0, 0, 10, 10, MakeColorValue(0, 0, 255), 1));
  EXPECT_EQ(0x0000FFu, Frame()[5 * kW + 5]);
}

// Software mode: the image draws end in the software renderer's own blits.
// The graphic is made here as software-mode graphics keep it: a descriptor
// without textures and the record's memory image.
TEST_P(ShapeDisplayTest, SoftwareImageDrawsAreTheRenderersOwnBlits) {
  if (hardware_) GTEST_SKIP() << "software mode only";
  const int handle = AllocGraphicHandle();
  GraphicHandleRecord* record = GetGraphicRecord(handle, 1);
  ASSERT_NE(nullptr, record);
  auto* image = static_cast<GraphImageDescriptor*>(MEM_ALLOC_ZEROED(sizeof(GraphImageDescriptor)));
  image->refCount = 1;
  image->width = record->width = 24;
  image->height = record->height = 16;
  record->image = image;
  ASSERT_EQ(0, CreateMemImgOfColorType(&record->softImage, 24, 16, MEMIMG_COLOR_32));
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 24; x++)
      reinterpret_cast<uint32_t*>(record->softImage.pixels + y * record->softImage.header->pitch)[x] =
          static_cast<uint32_t>((x * 40) << 16 | (y * 15) << 8 | ((x + y) * 7));
  MEMIMG expect;
  memset(&expect, 0, sizeof expect);
  ASSERT_EQ(0, CreateMemImgOfColorType(&expect, kW, kH, MEMIMG_COLOR_32));
  TransferMemImg(&expect, &SoftwareScreenImage, nullptr, 0, 0);
  ASSERT_EQ(0, SetBlendMode(1, 160));
  ASSERT_EQ(0, DrawImageAt(-5, 7, handle, 0));
  BlitMemImg(&expect, &record->softImage, -5, 7, 0, nullptr);
  ASSERT_EQ(0, DrawImageStretched(100, 40, 60, 90, handle, 0));
  const RECT stretched = {100, 40, 60, 90};
  BlitScaledMemImg(&expect, &record->softImage, &stretched, 0, nullptr);
  ASSERT_EQ(0, DrawImageTurned(200, 50, handle, 0));  // the stretched draw, mirrored
  const RECT turned = {224, 50, 200, 66};
  BlitScaledMemImg(&expect, &record->softImage, &turned, 0, nullptr);
  ASSERT_EQ(0, DrawImageRotated(300.9f, 200.2f, 1.5, 0.5, handle, 0, 0));
  BlitRotatedMemImg(&expect, &record->softImage, {300, 200, 0.5f, 1.5f, 0, 0}, nullptr);
  ASSERT_EQ(0, DrawImageQuad(400, 300, 440, 310, 430, 350, 395, 340, handle, 0));
  const TriangleVertex v[4] = {{400, 300, 0, 0}, {440, 310, 24, 0}, {395, 340, 0, 16}, {430, 350, 24, 16}};
  DrawTriangleMemImg(&expect, &record->softImage, &v[0], 0, nullptr, 0);
  DrawTriangleMemImg(&expect, &record->softImage, &v[1], 0, nullptr, 0);
  const std::vector<uint32_t> frame = Frame();
  int wrong = 0;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      const uint32_t want = reinterpret_cast<const uint32_t*>(expect.pixels + y * expect.header->pitch)[x] & 0xFFFFFF;
      if (frame[y * kW + x] != want && wrong++ < 5) ADD_FAILURE() << x << "," << y;
    }
  EXPECT_EQ(0, wrong);
  // As a blend graphic it gives the software blend image: one byte a pixel
  // of its size (its alpha; 255 here, as it has none).
  ASSERT_EQ(0, SetBlendGraph(handle, 0, nullptr));
  ASSERT_NE(nullptr, SoftwareBlendImage);
  EXPECT_EQ(1, MemImgBytesPerPixel(SoftwareBlendImage));
  EXPECT_EQ(24, SoftwareBlendImage->width);
  EXPECT_EQ(16, SoftwareBlendImage->height);
  EXPECT_EQ(255, SoftwareBlendImage->pixels[SoftwareBlendImage->header->pitch * 15 + 23]);
  ASSERT_EQ(0, SetBlendGraph(-1, 0, nullptr));
  EXPECT_EQ(nullptr, SoftwareBlendImage);
  ReleaseMemImg(&expect);
  ReleaseMemImg(&record->softImage);
  DeleteGraphicHandle(handle);
}

INSTANTIATE_TEST_SUITE_P(Paths, ShapeDisplayTest, ::testing::Values(1, 0),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return info.param ? std::string("Direct3D") : std::string("Software");
                         });

}  // namespace
