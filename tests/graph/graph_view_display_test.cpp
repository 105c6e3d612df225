// Views, screen copies, read-back and work render targets on the real
// device (Wine over Mesa, the harness's Xvfb): pixels read back against the
// file or the colour put on the back buffer.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "RaRadara.h"
#include "ReReziRader.h"
#include "RiDov.h"
#include "VeRavoro.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphView.h"
#include "WindowFixture.h"

namespace {

std::string SheetPath() {
  char full[MAX_PATH];
  std::string path = std::string(QUINSEL_DATA_DIR) + "/img/player/thiko.png";
  return GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr) ? std::string(full) : path;
}

int GraphCount() { return HandleManagers[HANDLETYPE_GRAPH].count; }

class GraphViewTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(1, DeviceLayer.hardware);
    ASSERT_EQ(0, LoadImageToBaseImage(SheetPath().c_str(), nullptr, 0, 0, &file_, 0));
  }
  void TearDown() override {
    ReleaseBaseImage(&file_);
    DeviceWindowTest::TearDown();
  }
  // The back buffer filled with one colour (render target 0 is the back buffer).
  void FillBackBuffer(D3DCOLOR colour) {
    EndDrawScene();
    ASSERT_EQ(D3D_OK, ColorFillDeviceSurface(DeviceLayer.backBuffer, nullptr, colour));
  }
  // Pixels of a graphic (or of rect of it) that differ from value.
  int Other(int handle, uint32_t value, const RECT* rect = nullptr) {
    BaseImageRecord read;
    if (ReadGraphToBaseImage(handle, &read, rect) != 0) return -1;
    int other = 0;
    for (int y = 0; y < read.height; y++)
      for (int x = 0; x < read.width; x++) other += GetBaseImagePixelARGB8(&read, x, y) != value;
    ReleaseBaseImage(&read);
    return other;
  }
  BaseImageRecord file_{};
};

uint32_t Expected(uint32_t filePixel) { return (filePixel & 0xffffff) == 0 ? 0 : filePixel; }

TEST_F(GraphViewTest, AViewShowsItsRectangleAndAnOverhangIsClipped) {
  int whole[1];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 1, 1, 1, 220, 320, whole, 1));
  const int view = CreateDerivedGraph(60, 90, 40, 50, whole[0]);
  ASSERT_GT(view, 0);
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(view, &read));
  ASSERT_EQ(40, read.width);
  int wrong = 0;
  for (int y = 0; y < 50; y++)
    for (int x = 0; x < 40; x++)
      wrong += GetBaseImagePixelARGB8(&read, x, y) != Expected(GetBaseImagePixelARGB8(&file_, 60 + x, 90 + y));
  EXPECT_EQ(0, wrong);
  ReleaseBaseImage(&read);
  const int overhang = CreateDerivedGraph(200, 300, 50, 50, whole[0]);
  int w = 0, h = 0;
  ASSERT_EQ(0, GetGraphicSize(overhang, &w, &h));
  EXPECT_EQ(20, w);
  EXPECT_EQ(20, h);
  const int before = GraphCount();
  EXPECT_EQ(-1, CreateDerivedGraph(220, 0, 5, 5, whole[0])) << "the point lies outside";
  EXPECT_EQ(-1, CreateDerivedGraph(0, 0, 0, 5, whole[0]));
  EXPECT_EQ(-1, CreateDerivedGraph(0, 0, 5, 5, 12345));
  EXPECT_EQ(before, GraphCount()) << "a refused view leaves no handle";
  // A part of a graphic read back.
  const RECT part = {10, 20, 30, 25};
  ASSERT_EQ(0, ReadGraphToBaseImage(whole[0], &read, &part));
  EXPECT_EQ(20, read.width);
  EXPECT_EQ(5, read.height);
  EXPECT_EQ(Expected(GetBaseImagePixelARGB8(&file_, 15, 22)), GetBaseImagePixelARGB8(&read, 5, 2));
  ReleaseBaseImage(&read);
  const RECT outside = {0, 0, 221, 10};
  EXPECT_EQ(-1, ReadGraphToBaseImage(whole[0], &read, &outside));
}

TEST_F(GraphViewTest, TheDrawTargetCopiesIntoRenderTargetsAndPlainTextures) {
  FillBackBuffer(0xFF2050A0);
  const int drawable = MakeBlankGraph(32, 16, 1, 0);
  const int plain = MakeBlankGraph(32, 16, 0, 0);
  ASSERT_GT(drawable, 0);
  ASSERT_GT(plain, 0);
  ASSERT_EQ(0, CopyDrawTargetRectToGraph(100, 100, 132, 116, drawable)) << log_.Text();
  EXPECT_EQ(0, Other(drawable, 0xFF2050A0));
  ASSERT_EQ(0, CopyDrawTargetRectToGraph(0, 0, 32, 16, plain)) << log_.Text();
  EXPECT_EQ(0, Other(plain, 0xFF2050A0));
  EXPECT_EQ(-1, CopyDrawTargetRectToGraph(0, 0, 33, 16, plain)) << "another size";
}

TEST_F(GraphViewTest, ACopyReachingBeyondTheScreenFailsWithoutTouchingTheTarget) {
  FillBackBuffer(0xFF00FF00);
  const int target = MakeBlankGraph(64, 64, 1, 1);
  ASSERT_GT(target, 0);
  int sw = 0, sh = 0;
  ASSERT_EQ(0, GetGraphicSize(-2, &sw, &sh));
  EXPECT_EQ(-1, CopyScreenRectToGraph(-2, 0, sw - 10, 0, sw + 1, 10, 0, 0, target));
  EXPECT_EQ(-1, CopyScreenRectToGraph(-2, 0, 0, 0, 10, 10, 60, 0, target)) << "does not fit the target";
  EXPECT_EQ(0, Other(target, 0)) << "the target stays cleared";
  ASSERT_EQ(0, CopyScreenRectToGraph(-2, 0, 0, 0, 10, 10, 54, 54, target));
  const RECT corner = {54, 54, 64, 64};
  EXPECT_EQ(0, Other(target, 0xFF00FF00, &corner));
}

TEST_F(GraphViewTest, AWideTexturePieceReadsBackWholeBeyondTheScreenWidth) {
  BaseImageRecord image;
  ASSERT_EQ(0, CreateBaseImageARGB8(1024, 8, &image));
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 1024; x++) SetBaseImagePixelRGBA(&image, x, y, x & 255, x >> 2 & 255, y * 30, 255);
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  const int handle = AllocGraphicHandle();
  ASSERT_EQ(0, CreateGraphFromBaseImages(&settings, handle, &image, nullptr, 0, 0));
  int sw = 0;
  ASSERT_EQ(0, GetGraphicSize(-2, &sw, nullptr));
  ASSERT_LT(sw, 1024);
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(handle, &read));
  int wrong = 0;
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 1024; x++) wrong += GetBaseImagePixelARGB8(&read, x, y) != GetBaseImagePixelARGB8(&image, x, y);
  EXPECT_EQ(0, wrong);
  ReleaseBaseImage(&read);
  ReleaseBaseImage(&image);
}

TEST_F(GraphViewTest, WorkRenderTargetsAreSharedByPowerOfTwoSizeFloatnessAndSlot) {
  const int a = GetWorkRenderTargetGraph(0, 300, 20, 0);
  ASSERT_GT(a, 0) << log_.Text();
  EXPECT_EQ(a, GetWorkRenderTargetGraph(0, 500, 500, 0));
  int w = 0, h = 0;
  ASSERT_EQ(0, GetGraphicSize(a, &w, &h));
  EXPECT_EQ(512, w);
  EXPECT_EQ(512, h);
  const int other = GetWorkRenderTargetGraph(0, 300, 20, 1);
  EXPECT_GT(other, 0);
  EXPECT_NE(a, other);
  EXPECT_NE(a, GetWorkRenderTargetGraph(0, 100, 100, 0));
  ASSERT_EQ(0, DeleteGraphicHandle(a));
  const int again = GetWorkRenderTargetGraph(0, 400, 1, 0);
  EXPECT_GT(again, 0);
  EXPECT_NE(a, again) << "a deleted work target is made again";
  EXPECT_EQ(0, Other(again, 0));
}

TEST_F(GraphViewTest, ReadBackOfTheBackBufferDescribesTheRectangle) {
  FillBackBuffer(0xFF123456);
  const RECT rect = {5, 6, 25, 16};
  BaseImageRecord read;
  ASSERT_EQ(0, ReadBackGraphicPixels(&rect, &read, -2, 0, 1, 0));
  EXPECT_EQ(20, read.width);
  EXPECT_EQ(10, read.height);
  EXPECT_EQ(0x123456u, GetBaseImagePixelARGB8(&read, 19, 9) & 0xffffff);
  EXPECT_EQ(0, EndGraphicPixelReadBack());
  const RECT wrong = {5, 6, 4, 16};
  EXPECT_EQ(-1, ReadBackGraphicPixels(&wrong, &read, -2, 0, 1, 0));
}

}  // namespace
