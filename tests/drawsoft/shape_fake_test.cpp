// The Direct3D shape drawers against the fake device call table: boxes and
// triangles share the 2-D batch (a run of them is one draw), outlines switch
// to line lists, circles are drawn from their own buffer in blocks of 2000
// vertices with each outline point once, rings refuse thin thicknesses, and
// ClearDrawTarget clears target and Z over the target's own size.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "FakeDirect3D.h"
#include "LogCapture.h"
#include "RaRadara.h"
#include "RingReference.h"
#include "TestFiles.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaShape.h"

using test_support::FakeDirect3D;

namespace {

struct DrawCall {
  D3DPRIMITIVETYPE type;
  UINT count;
  UINT stride;
};
std::vector<DrawCall> Draws;

HRESULT RecordDraw(D3DPRIMITIVETYPE type, UINT count, const void*, UINT stride) {
  Draws.push_back({type, count, stride});
  return D3D_OK;
}

class ShapeFakeTest : public ::testing::Test {
 protected:
  FakeDirect3D fake;
  test_support::LogCapture log_{test_support::SharedTempFolder("RIDOV_DRAW_TEST_FOLDER", "shape_fake")};
  void SetUp() override {
    StartupSettings.windowed = 1;
    Screen.width = 1600;
    Screen.height = 1200;
    Screen.colorBits = 32;
    ASSERT_EQ(0, InitializeGraphicsSystem());
    fake.table.DrawDevicePrimitiveUP = RecordDraw;
    ASSERT_EQ(0, SetClipRect(0, 0, 1600, 1200));
    FlushVertexBatch(0);
    Draws.clear();
    fake.calls.clear();
  }
  void TearDown() override {
    TerminateGraphicsSystem();
    StartupSettings.windowed = 0;
  }
};

TEST_F(ShapeFakeTest, BoxesAndTrianglesShareTheBatch) {
  for (int i = 0; i < 100; i++) ASSERT_EQ(0, DrawRectShape(i, i, i + 10, i + 5, 0xFFFFFFFF, 1));
  ASSERT_EQ(0, DrawTriangleShape(0, 0, 50, 0, 0, 50, 0xFFFFFFFF, 1));
  EXPECT_TRUE(Draws.empty());
  FlushVertexBatch(0);
  ASSERT_EQ(1u, Draws.size());
  EXPECT_EQ(D3DPT_TRIANGLELIST, Draws[0].type);
  EXPECT_EQ(201u, Draws[0].count);
  EXPECT_EQ(28u, Draws[0].stride);
  // Outlines: a box is four thin quads; a triangle outline switches to lines.
  Draws.clear();
  ASSERT_EQ(0, DrawRectShape(10, 10, 20, 15, 0xFFFFFFFF, 0));
  ASSERT_EQ(0, DrawTriangleShape(0, 0, 50, 0, 0, 50, 0xFFFFFFFF, 0));
  ASSERT_EQ(1u, Draws.size());
  EXPECT_EQ(8u, Draws[0].count);
  FlushVertexBatch(0);
  ASSERT_EQ(2u, Draws.size());
  EXPECT_EQ(D3DPT_LINELIST, Draws[1].type);
  EXPECT_EQ(3u, Draws[1].count);
}

TEST_F(ShapeFakeTest, CirclesDrawInBlocksOf2000EachPointOnce) {
  ASSERT_EQ(0, DrawCircleShape(800, 600, 590, 0xFFFFFFFF, 0, 1));
  const size_t points = OutlineReference(800, 600, 590, 1600, 1200).size();
  ASSERT_GT(points, 2000u);
  ASSERT_EQ(2u, Draws.size());
  EXPECT_EQ(D3DPT_POINTLIST, Draws[0].type);
  EXPECT_EQ(2000u, Draws[0].count);
  EXPECT_EQ(points - 2000u, Draws[1].count);
  // A disc: one line per scan line.
  Draws.clear();
  ASSERT_EQ(0, DrawCircleShape(800, 600, 300, 0xFFFFFFFF, 1, 1));
  ASSERT_EQ(1u, Draws.size());
  EXPECT_EQ(D3DPT_LINELIST, Draws[0].type);
  EXPECT_EQ(601u, Draws[0].count);
}

TEST_F(ShapeFakeTest, RingsRefuseThicknessesBelowTwo) {
  EXPECT_EQ(-1, DrawRingHW(100, 100, 10, 0xFFFFFFFF, 1));
  EXPECT_EQ(-1, DrawCircleShape(100, 100, 10, 0xFFFFFFFF, 0, 0));
  EXPECT_EQ(-1, DrawCircleShape(100, 100, 10, 0xFFFFFFFF, 0, -3));
  EXPECT_TRUE(Draws.empty());
  EXPECT_EQ(0, DrawCircleShape(100, 100, -1, 0xFFFFFFFF, 0, 4));  // a negative radius draws nothing
  EXPECT_EQ(0, DrawCircleShape(100, 100, 10, 0xFFFFFFFF, 0, 2));
  ASSERT_EQ(1u, Draws.size());
}

TEST_F(ShapeFakeTest, ClearFlushesThenClearsTargetAndZOverTheTargetSize) {
  ASSERT_EQ(0, SetClipRect(10, 20, 300, 200));
  ASSERT_EQ(0, DrawRectShape(10, 20, 30, 40, 0xFFFFFFFF, 1));
  Screen.background[0] = 0x12, Screen.background[1] = 0x34, Screen.background[2] = 0x56;
  fake.calls.clear();
  ASSERT_EQ(0, ClearDrawTarget(nullptr));
  ASSERT_EQ(1u, Draws.size());  // the batched box went first
  const std::string calls = fake.Joined();
  const size_t viewport = calls.find("Viewport(0,0,1600,1200)");
  const size_t target = calls.find("Clear(1,00123456)");
  ASSERT_NE(std::string::npos, viewport) << calls;
  ASSERT_NE(std::string::npos, target) << calls;
  EXPECT_LT(viewport, target);
  if (DeviceLayer.depthBuffer != nullptr) {
    EXPECT_NE(std::string::npos, calls.find("Clear(2,", target)) << calls;
  }
  EXPECT_NE(std::string::npos, calls.find("Viewport(10,20,290,180)", target)) << calls;
  Screen.background[0] = Screen.background[1] = Screen.background[2] = 0;
}

}  // namespace
