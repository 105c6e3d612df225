// Quads, draws about a point and vertex lists on the real device, read back
// from the back buffer: the reductions to the plain image draws give their
// pixels, a parallelogram is one batched quad and a trapezoid a vertex grid,
// vertex lists keep or tint the caller's colours.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "ReReziRader.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "VuViderezaShape.h"
#include "WindowFixture.h"

int CreateGraphFromBaseImages(const GraphCreateSettings* settings, int handle, BaseImageRecord* image,
                              BaseImageRecord* alphaImage, int transparent, int inJob);

namespace {

constexpr int kW = 640, kH = 480;

std::vector<uint32_t> Frame() {
  FlushVertexBatch(0);
  EndDrawScene();
  std::vector<uint32_t> out(kW * kH, 0xDEADu);
  D3DLOCKED_RECT locked = {};
  if (LockSurfaceRect(DeviceLayer.backBuffer, &locked, nullptr, D3DLOCK_READONLY) != D3D_OK) return out;
  for (int y = 0; y < kH; y++) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch);
    for (int x = 0; x < kW; x++) out[y * kW + x] = row[x] & 0xFFFFFF;
  }
  UnlockSurfaceRect(DeviceLayer.backBuffer);
  return out;
}

uint32_t Pattern(int x, int y) {
  return static_cast<uint32_t>((x * 37 + 11) & 255) << 16 | static_cast<uint32_t>((y * 53 + 7) & 255) << 8 |
         static_cast<uint32_t>(((x + y) * 29 + 90) & 255);
}

int MakePatternGraph(int width, int height) {
  BaseImageRecord image;
  if (CreateBaseImageXRGB8(width, height, &image) != 0) return -1;
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      const uint32_t p = Pattern(x, y);
      SetBaseImagePixelRGBA(&image, x, y, (p >> 16) & 255, (p >> 8) & 255, p & 255, 255);
    }
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  settings.noTransparentColor = 1;
  const int handle = AllocGraphicHandle();
  const int result = CreateGraphFromBaseImages(&settings, handle, &image, nullptr, 0, 0);
  ReleaseBaseImage(&image);
  return result == 0 ? handle : -1;
}

class QuadDisplayTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, LibraryStartUp());
    ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
    ASSERT_EQ(0, SetSamplingMode(0));
    graph_ = MakePatternGraph(30, 20);
    ASSERT_GE(graph_, 0);
    Clear();
  }
  void Clear() { ASSERT_EQ(0, ClearDrawTarget(nullptr)); }
  int graph_ = -1;
};

TEST_F(QuadDisplayTest, DrawsAboutAPointReduceToThePlainDraws) {
  ASSERT_EQ(0, DrawImageAt(100, 100, graph_, 0));
  const std::vector<uint32_t> at = Frame();
  EXPECT_EQ(Pattern(3, 4), at[104 * kW + 103]);
  Clear();
  ASSERT_EQ(0, DrawImageRotatedAbout(100, 100, 0, 0, 1.0, 0.0, graph_, 0, 0));
  EXPECT_EQ(at, Frame());
  Clear();
  ASSERT_EQ(0, DrawImageRotatedAbout(110, 107, 10, 7, 1.0, 0.0, graph_, 0, 0));
  EXPECT_EQ(at, Frame());
  Clear();
  ASSERT_EQ(0, DrawImageRotatedScaledXY(110, 107, 10, 7, 1.0, 1.0, 0.0, graph_, 0, 0));
  EXPECT_EQ(at, Frame());
  // Scale 2, angle 0, turned: the mirrored stretch from (x - 2 cx, y - 2 cy).
  Clear();
  ASSERT_EQ(0, DrawImageStretched(100 - 20 + 60, 100 - 14, 100 - 20, 100 - 14 + 40, graph_, 0));
  const std::vector<uint32_t> stretched = Frame();
  Clear();
  ASSERT_EQ(0, DrawImageRotatedAbout(100, 100, 10, 7, 2.0, 0.0, graph_, 0, 1));
  EXPECT_EQ(stretched, Frame());
}

TEST_F(QuadDisplayTest, AnAxisAlignedQuadIsThePlainDraw) {
  ASSERT_EQ(0, DrawImageAt(40, 50, graph_, 0));
  const std::vector<uint32_t> at = Frame();
  Clear();
  // Public corner order: top-left, top-right, bottom-right, bottom-left.
  ASSERT_EQ(0, DrawImageQuad(40, 50, 70, 50, 70, 70, 40, 70, graph_, 0));
  EXPECT_EQ(at, Frame());
}

TEST_F(QuadDisplayTest, AParallelogramIsOneBatchedQuadATrapezoidAGrid) {
  FlushVertexBatch(0);
  ASSERT_EQ(0, DrawImageQuad(200, 100, 260, 120, 260, 160, 200, 140, graph_, 0));
  EXPECT_EQ(6, VertexBatch.count);
  FlushVertexBatch(0);
  Clear();
  FlushVertexBatch(0);
  // A trapezoid: the top edge 20 wide, the bottom 80; drawn at once.
  ASSERT_EQ(0, DrawImageQuad(230, 300, 250, 300, 280, 360, 200, 360, graph_, 0));
  EXPECT_EQ(0, VertexBatch.count);
  const std::vector<uint32_t> frame = Frame();
  EXPECT_NE(0u, frame[310 * kW + 240]);
  EXPECT_NE(0u, frame[355 * kW + 205]);
  EXPECT_EQ(0u, frame[305 * kW + 215]);  // outside the slanted left edge
  EXPECT_EQ(0u, frame[305 * kW + 265]);
  // The texture runs along the rows: the top-left corner shows the image's
  // first row near its left end (the narrow top squeezes 30 texels into 20).
  const uint32_t corner = frame[300 * kW + 230];
  EXPECT_TRUE(corner == Pattern(0, 0) || corner == Pattern(1, 0)) << std::hex << corner;
  const uint32_t bottomRight = frame[359 * kW + 279];
  EXPECT_TRUE(bottomRight == Pattern(29, 19) || bottomRight == Pattern(28, 19)) << std::hex << bottomRight;
}

TEST_F(QuadDisplayTest, VertexListsKeepOrTintTheCallersColours) {
  const Vertex2D tri[3] = {{10, 10, 0.2f, 1, 0xFF4080C0u, 0, 0}, {110, 10, 0.2f, 1, 0xFF4080C0u, 0, 0},
                           {10, 110, 0.2f, 1, 0xFF4080C0u, 0, 0}};
  ASSERT_EQ(0, SetBlendMode(1, 255));
  ASSERT_EQ(0, DrawVertexPrimitive2D(tri, 3, D3DPT_TRIANGLELIST, -5, 0));
  EXPECT_EQ(0x4080C0u, Frame()[20 * kW + 20]);
  Clear();
  ASSERT_EQ(0, SetBlendMode(0, 255));
  ASSERT_EQ(0, SetDrawTint(128, 255, 255));
  ASSERT_EQ(0, DrawVertexPrimitive2D(tri, 3, D3DPT_TRIANGLELIST, -5, 0));
  EXPECT_EQ(static_cast<uint32_t>(0x40 * 128 / 255) << 16 | 0x80C0u, Frame()[20 * kW + 20]);
  EXPECT_EQ(0xFF4080C0u, tri[0].color);  // the caller's list is left alone
  EXPECT_EQ(-1, DrawVertexPrimitive2D(tri, 3, D3DPT_TRIANGLELIST, 12345, 0));
}

}  // namespace
