// Quads, draws about a point, vertex lists and graphic fills on the real
// device, read back: the reductions to the plain image draws give their
// pixels, a parallelogram is one batched quad and a trapezoid a vertex grid,
// vertex lists keep or tint the caller's colours; a render-target graphic
// is filled (and cleared as a draw target) over its whole size.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "FrameReadback.h"
#include "ReReziRader.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "VuViderezaShape.h"
#include "WindowFixture.h"

int CreateGraphFromBaseImages(const GraphCreateSettings* settings, int handle, BaseImageRecord* image,
                              BaseImageRecord* alphaImage, int transparent, int inJob);
int FillGraphWithColor(int handle, int red, int green, int blue, int alpha, int fromWorker);

namespace {

constexpr int kW = 640, kH = 480;

std::vector<uint32_t> Frame() { return ReadBackBufferFrame(kW, kH); }

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

// With a blend graphic: an axis-aligned quad is the stretched draw with it,
// any other quad is drawn at once through the blend preparation.
TEST_F(QuadDisplayTest, BlendGraphicQuads) {
  const int blend = MakePatternGraph(40, 30);
  ASSERT_GE(blend, 0);
  ASSERT_EQ(0, SetBlendGraphParam(blend, 0, 64, 0));
  ASSERT_EQ(0, DrawImageStretched(40, 50, 70, 70, graph_, 0));
  const std::vector<uint32_t> stretched = Frame();
  Clear();
  ASSERT_EQ(0, DrawImageQuad(40, 50, 70, 50, 70, 70, 40, 70, graph_, 0));
  EXPECT_EQ(stretched, Frame());
  Clear();
  FlushVertexBatch(0);
  ASSERT_EQ(0, DrawImageQuad(200, 100, 240, 110, 230, 150, 195, 140, graph_, 0));
  EXPECT_EQ(0, VertexBatch.count);  // drawn at once, not batched
  const std::vector<uint32_t> frame = Frame();
  EXPECT_NE(0u, frame[125 * kW + 215]);
  EXPECT_EQ(0u, frame[100 * kW + 238]);
  SetBlendGraph(-1, 0, nullptr);
  // A blend graphic smaller than the image refuses the quad.
  const int small = MakePatternGraph(8, 8);
  ASSERT_EQ(0, SetBlendGraphParam(small, 0, 64, 0));
  EXPECT_EQ(-1, DrawImageQuad(200, 100, 240, 110, 230, 150, 195, 140, graph_, 0));
  SetBlendGraph(-1, 0, nullptr);
}

TEST_F(QuadDisplayTest, VertexListsKeepOrTintTheCallersColors) {
  const Vertex2D tri[3] = {{10, 10, 0.2f, 1, 0xFF4080C0u, 0, 0},
                           {110, 10, 0.2f, 1, 0xFF4080C0u, 0, 0},
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

int MakeTargetGraph(int width, int height) {
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  settings.drawable = 1;
  const int handle = AllocGraphicHandle();
  return CreateGraphicFromImageData(&settings, handle, {width, height, 0, 0, 0, -1}, 0) == 0 ? handle : -1;
}

// Pixels of the graphic that differ from want(x, y) (0xRRGGBB).
int WrongPixels(int handle, int width, int height, const std::function<uint32_t(int, int)>& want) {
  BaseImageRecord read;
  if (ReadGraphToBaseImage(handle, &read) != 0) return -1;
  int wrong = 0;
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) wrong += (GetBaseImagePixelARGB8(&read, x, y) & 0xFFFFFF) != want(x, y);
  ReleaseBaseImage(&read);
  return wrong;
}

TEST_F(QuadDisplayTest, FillGraphWithColorFillsRenderTargetsOnly) {
  const int target = MakeTargetGraph(64, 48);
  ASSERT_GE(target, 0);
  EXPECT_EQ(0, FillGraphWithColor(target, 300, 20, -5, 255, 0));  // clamped, never refused
  EXPECT_EQ(0, WrongPixels(target, 64, 48, [](int, int) { return 0xFF1400u; }));
  EXPECT_EQ(0, FillGraphWithColor(graph_, 255, 255, 255, 255, 0));  // a plain texture stays as it is
  EXPECT_EQ(0, WrongPixels(graph_, 30, 20, Pattern));
  EXPECT_EQ(-1, FillGraphWithColor(-7, 0, 0, 0, 0, 0));
}

// Clearing a render-target draw target larger than the screen covers the
// whole graphic: the viewport takes the target's own size.
TEST_F(QuadDisplayTest, ClearingALargeDrawTargetCoversAllOfIt) {
  const int target = MakeTargetGraph(800, 600);
  ASSERT_GE(target, 0);
  ASSERT_EQ(0, FillGraphWithColor(target, 1, 2, 3, 255, 0));
  ASSERT_EQ(0, SetDrawTarget(target));
  Screen.background[0] = 0x50, Screen.background[1] = 0x60, Screen.background[2] = 0x70;
  ASSERT_EQ(0, ClearDrawTarget(nullptr));
  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
  Screen.background[0] = Screen.background[1] = Screen.background[2] = 0;
  EXPECT_EQ(0, WrongPixels(target, 800, 600, [](int, int) { return 0x506070u; }));
}

}  // namespace
