// Graphics on the real device (Wine over Mesa, the harness's Xvfb) read back
// against the pixels they were made from: a picture split into square
// textures for a square-only device, a rectangle of a graphic drawn
// stretched into float rectangles, and a cube render target drawn face by
// face, through a switch back to the screen and a device rebuild.
#include <windows.h>

#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>

#include <vector>

#include "DeviceTestImages.h"
#include "RaRadara.h"
#include "ReReziRader.h"
#include "RiDov.h"
#include "VeRavoro.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphView.h"
#include "VuViderezaRebuild.h"
#include "WindowFixture.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr uint32_t kBackground = 0x203040;

uint32_t Pattern(int x, int y) {
  return 0xFF000000u | static_cast<uint32_t>((x * 37 + 11) & 255) << 16 |
         static_cast<uint32_t>((y * 53 + 7) & 255) << 8 | static_cast<uint32_t>(((x + y) * 29 + 90) & 255);
}

int GraphCount() { return HandleManagers[HANDLETYPE_GRAPH].count; }

// Pixels of rect of a source as 0xRRGGBB, row by row (source: a graphic
// with its face, or -2 for the back buffer); empty when it cannot be read.
std::vector<uint32_t> Read(int source, int face, const RECT& rect) {
  BaseImageRecord image;
  std::vector<uint32_t> pixels;
  if (ReadBackGraphicPixels(&rect, &image, source, face, 1, 0) != 0) return pixels;
  for (int y = 0; y < image.height; y++)
    for (int x = 0; x < image.width; x++) pixels.push_back(GetBaseImagePixelARGB8(&image, x, y) & 0xFFFFFF);
  EndGraphicPixelReadBack();
  return pixels;
}

class GraphTargetsTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(1, DeviceLayer.hardware);
    ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
    SetSamplingMode(SAMPLING_NEAREST);
    SetBlendMode(BLEND_MODE_NONE, 0);
    GetGraphCreateSettings(&saved_);
  }
  void TearDown() override {
    SetGraphCreateSettings(&saved_);
    DeviceWindowTest::TearDown();
  }
  void ClearScreen() {
    ASSERT_EQ(0, SetClipRect(0, 0, kWidth, kHeight));
    const RECT all = {0, 0, kWidth, kHeight};
    ASSERT_EQ(0, DrawRectShape(all.left, all.top, all.right, all.bottom,
                               MakeColorValue(kBackground >> 16, (kBackground >> 8) & 255, kBackground & 255), 1));
  }
  GraphCreateSettings saved_{};
};

// ---------------------------------------------------------------------------
// Square-only devices.

TEST_F(GraphTargetsTest, APictureSplitIntoSquaresReadsBackAndDrawsAsItsPixels) {
  GraphCreateSettings settings = saved_;
  settings.maxTextureSide = 256;
  SetGraphCreateSettings(&settings);
  DeviceCaps.squareOnly = 1;  // what the probe sets for a device with D3DPTEXTURECAPS_SQUAREONLY
  const int picture = test_support::MakeArgbGraph(600, 200, Pattern);
  const int tile = picture > 0 ? CreateDerivedGraph(500, 60, 100, 100, picture) : -1;  // over 3 columns of squares
  DeviceCaps.squareOnly = 0;
  ASSERT_GT(picture, 0) << log_.Text();
  ASSERT_GT(tile, 0);
  const GraphImageDescriptor* image = GetGraphicRecord(picture, 0)->image;
  ASSERT_EQ(44, image->textureCount);
  for (int i = 0; i < image->textureCount; i++) {
    D3DSURFACE_DESC desc;
    ASSERT_EQ(D3D_OK, GetSurfaceDesc(image->textures[i].faces[0], &desc));
    EXPECT_EQ(desc.Width, desc.Height) << "texture " << i;
    EXPECT_EQ(static_cast<UINT>(image->textures[i].allocWidth), desc.Width);
  }
  EXPECT_GT(GetGraphicRecord(tile, 0)->pieceCount, 4) << "the record grew for the tile's pieces";

  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(picture, &read));
  int wrong = 0;
  for (int y = 0; y < 200; y++)
    for (int x = 0; x < 600; x++) wrong += GetBaseImagePixelARGB8(&read, x, y) != Pattern(x, y);
  ReleaseBaseImage(&read);
  EXPECT_EQ(0, wrong) << "read back texture by texture";

  ClearScreen();
  ASSERT_EQ(0, DrawImageAt(20, 20, picture, 0));
  ASSERT_EQ(0, DrawImageAt(30, 300, tile, 0));
  ASSERT_EQ(0, DrawImageStretched(200, 260, 400, 460, tile, 0));  // doubled: no seam shows
  const std::vector<uint32_t> whole = Read(-2, 0, RECT{0, 0, kWidth, kHeight});
  ASSERT_EQ(static_cast<size_t>(kWidth * kHeight), whole.size());
  auto at = [&](int x, int y) { return whole[static_cast<size_t>(y) * kWidth + x]; };
  wrong = 0;
  for (int y = 0; y < 200; y++)
    for (int x = 0; x < 600; x++) wrong += at(20 + x, 20 + y) != (Pattern(x, y) & 0xFFFFFF);
  for (int y = 0; y < 100; y++)
    for (int x = 0; x < 100; x++) {
      const uint32_t want = Pattern(500 + x, 60 + y) & 0xFFFFFF;
      wrong += at(30 + x, 300 + y) != want;
      for (int k = 0; k < 4; k++) wrong += at(200 + 2 * x + k % 2, 260 + 2 * y + k / 2) != want;
    }
  EXPECT_EQ(0, wrong);
  EXPECT_EQ(kBackground, at(19, 20));
  EXPECT_EQ(kBackground, at(620, 20));
}

// ---------------------------------------------------------------------------
// A rectangle of a graphic drawn stretched.

// Where the rectangle (x, y, w, h) of the source lands in (x1, y1)-(x2, y2):
// a pixel n is drawn when n + 0.5 lies in [x1, x2) and shows source texel
// x + floor((n + 0.5 - x1) / scale) (nearest sampling).
struct StretchCase {
  float x1, y1, x2, y2;
  int x, y, w, h;
};

TEST_F(GraphTargetsTest, ARectangleDrawnStretchedShowsItsTexelsAndNothingElse) {
  const int source = test_support::MakeArgbGraph(60, 40, Pattern);
  ASSERT_GT(source, 0);
  const StretchCase cases[] = {
      {100.0f, 50.0f, 140.0f, 90.0f, 10, 5, 20, 20},       // doubled, whole pixels
      {20.0f, 150.0f, 50.0f, 175.0f, 30, 15, 30, 25},      // the same size
      {200.25f, 60.75f, 250.25f, 90.75f, 4, 8, 20, 20},    // 2.5 x 1.5 from quarter points
      {300.25f, 150.25f, 320.25f, 160.25f, 0, 0, 40, 20},  // halved
      {400.0f, 200.0f, 370.0f, 230.0f, 0, 0, 15, 15},      // mirrored left-right, doubled
  };
  ClearScreen();
  const int handles = GraphCount();
  for (const StretchCase& c : cases)
    ASSERT_EQ(0, DrawGraphRectStretchedF(c.x1, c.y1, c.x2, c.y2, c.x, c.y, c.w, c.h, source, 0));
  EXPECT_EQ(handles, GraphCount()) << "every temporary view deleted";
  // The reference for the same-size case: the plain rectangle draw.
  ASSERT_EQ(0, DrawImageRect(20, 300, 30, 15, 30, 25, source, 0, 0));
  const std::vector<uint32_t> whole = Read(-2, 0, RECT{0, 0, kWidth, kHeight});
  ASSERT_EQ(static_cast<size_t>(kWidth * kHeight), whole.size());
  auto at = [&](int x, int y) { return whole[static_cast<size_t>(y) * kWidth + x]; };
  for (const StretchCase& c : cases) {
    const float left = fminf(c.x1, c.x2), right = fmaxf(c.x1, c.x2);
    const float sx = (right - left) / c.w, sy = (c.y2 - c.y1) / c.h;
    int wrong = 0, drawn = 0;
    for (int y = static_cast<int>(c.y1) - 2; y < static_cast<int>(c.y2) + 2; y++)
      for (int x = static_cast<int>(left) - 2; x < static_cast<int>(right) + 2; x++) {
        const float px = x + 0.5f, py = y + 0.5f;
        uint32_t want = kBackground;
        if (px >= left && px < right && py >= c.y1 && py < c.y2) {
          int tx = static_cast<int>(floorf((px - left) / sx)), ty = static_cast<int>(floorf((py - c.y1) / sy));
          if (c.x2 < c.x1) tx = c.w - 1 - tx;
          want = Pattern(c.x + tx, c.y + ty) & 0xFFFFFF;
          drawn++;
        }
        wrong += at(x, y) != want;
      }
    EXPECT_EQ(0, wrong) << "into " << c.x1 << "," << c.y1 << " - " << c.x2 << "," << c.y2;
    EXPECT_GT(drawn, 0);
  }
  int differ = 0;
  for (int y = 0; y < 25; y++)
    for (int x = 0; x < 30; x++) differ += at(20 + x, 150 + y) != at(20 + x, 300 + y);
  EXPECT_EQ(0, differ) << "same size equals the rectangle draw";
}

TEST_F(GraphTargetsTest, AnEmptyOrOutsideRectangleIsRefusedAndDrawsNothing) {
  const int source = test_support::MakeArgbGraph(60, 40, Pattern);
  ASSERT_GT(source, 0);
  ClearScreen();
  const int handles = GraphCount();
  EXPECT_EQ(-1, DrawGraphRectStretchedF(10.0f, 10.0f, 50.0f, 50.0f, 0, 0, 0, 10, source, 0));
  EXPECT_EQ(-1, DrawGraphRectStretchedF(10.0f, 10.0f, 50.0f, 50.0f, 0, 0, 10, 0, source, 0));
  EXPECT_EQ(-1, DrawGraphRectStretchedF(10.0f, 10.0f, 50.0f, 50.0f, 60, 0, 10, 10, source, 0));
  EXPECT_EQ(-1, DrawGraphRectStretchedF(10.0f, 10.0f, 50.0f, 50.0f, 0, 0, 10, 10, source + 4096, 0));
  EXPECT_EQ(handles, GraphCount());
  const std::vector<uint32_t> area = Read(-2, 0, RECT{0, 0, 64, 64});
  ASSERT_EQ(64u * 64u, area.size());
  int drawn = 0;
  for (uint32_t p : area) drawn += p != kBackground;
  EXPECT_EQ(0, drawn);
}

// ---------------------------------------------------------------------------
// Cube render targets.

const uint32_t kFaceColors[6] = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00, 0x00ffff, 0xff00ff};

unsigned int Color(uint32_t rgb) { return MakeColorValue(rgb >> 16, (rgb >> 8) & 255, rgb & 255); }

// Pixels of a face that differ from the colour inside rect (and from
// outside elsewhere); -1 when it cannot be read.
int FaceOther(int cube, int face, int size, uint32_t inside, const RECT& rect, uint32_t outside) {
  const std::vector<uint32_t> pixels = Read(cube, face, RECT{0, 0, size, size});
  if (pixels.size() != static_cast<size_t>(size * size)) return -1;
  int other = 0;
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      const bool in = x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
      other += pixels[static_cast<size_t>(y) * size + x] != (in ? inside : outside);
    }
  return other;
}

TEST_F(GraphTargetsTest, EachCubeFaceIsDrawnIntoAndReadBackOnItsOwn) {
  constexpr int kSize = 64;
  const int cube = MakeBlankCubeGraph(kSize, 0);
  ASSERT_GT(cube, 0) << log_.Text();
  const int picture = test_support::MakeArgbGraph(16, 16, Pattern);
  ASSERT_GT(picture, 0);
  ASSERT_EQ(0, SetClipRect(10, 20, 300, 200));
  for (int face = 0; face < 6; face++) {
    ASSERT_EQ(0, SetDrawTargetOfIndex(0, cube, face));
    EXPECT_EQ(cube, GetDrawTarget());
    EXPECT_EQ(face, GetDrawTargetSurfaceIndex());
    EXPECT_EQ(GetGraphicRecord(cube, 0)->image->textures[0].faces[face], GetCachedRenderTarget(0));
    ASSERT_EQ(0, SetClipRect(0, 0, kSize, kSize));
    ASSERT_EQ(0, DrawRectShape(0, 0, kSize, kSize, Color(kFaceColors[face]), 1));
  }
  ASSERT_EQ(0, SetDrawTargetOfIndex(0, cube, 4));
  ASSERT_EQ(0, DrawImageAt(8, 8, picture, 0));

  // Back to the screen: render target, surface index and draw area.
  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
  EXPECT_EQ(0, GetDrawTargetSurfaceIndex());
  EXPECT_EQ(DeviceLayer.backBuffer, GetCachedRenderTarget(0));
  EXPECT_EQ(0, CurrentDrawState.drawArea.left);
  EXPECT_EQ(kWidth, CurrentDrawState.drawArea.right);
  EXPECT_EQ(kHeight, CurrentDrawState.drawArea.bottom);
  ClearScreen();
  const std::vector<uint32_t> screen = Read(-2, 0, RECT{0, 0, 8, 8});
  ASSERT_EQ(64u, screen.size());
  EXPECT_EQ(kBackground, screen[0]) << "drawing reaches the back buffer again";

  const RECT whole = {0, 0, kSize, kSize};
  for (int face = 0; face < 6; face++) {
    if (face == 4) continue;
    EXPECT_EQ(0, FaceOther(cube, face, kSize, kFaceColors[face], whole, 0)) << "face " << face;
  }
  const std::vector<uint32_t> four = Read(cube, 4, whole);
  ASSERT_EQ(static_cast<size_t>(kSize * kSize), four.size());
  int wrong = 0;
  for (int y = 0; y < kSize; y++)
    for (int x = 0; x < kSize; x++) {
      const bool in = x >= 8 && x < 24 && y >= 8 && y < 24;
      wrong += four[static_cast<size_t>(y) * kSize + x] != (in ? Pattern(x - 8, y - 8) & 0xFFFFFF : kFaceColors[4]);
    }
  EXPECT_EQ(0, wrong) << "the picture on face 4 only";
}

TEST_F(GraphTargetsTest, FacesAreRefusedWhereNoCubeOrFaceExists) {
  const int cube = MakeBlankCubeGraph(32, 1);
  const int flat = test_support::MakeArgbRenderTargetGraph(32, 32);
  ASSERT_GT(cube, 0);
  ASSERT_GT(flat, 0);
  EXPECT_EQ(-1, SetDrawTargetOfIndex(0, cube, 6));
  EXPECT_EQ(-1, SetDrawTargetOfIndex(0, cube, -1));
  EXPECT_EQ(-1, SetDrawTargetOfIndex(0, flat, 1)) << "a flat render target has one surface";
  EXPECT_EQ(-1, SetDrawTargetOfIndex(0, SCREEN_BACK, 2));
  EXPECT_EQ(SCREEN_BACK, GetDrawTarget()) << "a refused face leaves the target";
  EXPECT_EQ(0, SetDrawTargetOfIndex(0, flat, 0));
  EXPECT_EQ(-1, MakeBlankCubeGraph(0, 0));
  // Deleting the cube while a face is the draw target moves drawing to the screen.
  ASSERT_EQ(0, SetDrawTargetOfIndex(0, cube, 5));
  ASSERT_EQ(0, DeleteGraphicHandle(cube));
  EXPECT_NE(cube, GetDrawTarget());
  EXPECT_EQ(0, GetDrawTargetSurfaceIndex());
}

TEST_F(GraphTargetsTest, ACubeFaceStaysTheDrawTargetThroughADeviceRebuild) {
  constexpr int kSize = 64;
  const int cube = MakeBlankCubeGraph(kSize, 0);
  ASSERT_GT(cube, 0);
  ASSERT_EQ(0, SetDrawTargetOfIndex(0, cube, 3));
  ASSERT_EQ(0, SetClipRect(4, 6, 40, 50));
  ASSERT_EQ(0, DrawRectShape(0, 0, kSize, kSize, Color(kFaceColors[3]), 1));
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_EQ(cube, GetDrawTarget());
  EXPECT_EQ(3, GetDrawTargetSurfaceIndex());
  EXPECT_EQ(4, CurrentDrawState.drawArea.left);
  EXPECT_EQ(6, CurrentDrawState.drawArea.top);
  EXPECT_EQ(40, CurrentDrawState.drawArea.right);
  EXPECT_EQ(50, CurrentDrawState.drawArea.bottom);
  EXPECT_EQ(GetGraphicRecord(cube, 0)->image->textures[0].faces[3], GetCachedRenderTarget(0));
  const RECT none = {0, 0, 0, 0};
  for (int face = 0; face < 6; face++)
    EXPECT_EQ(0, FaceOther(cube, face, kSize, 0, none, 0)) << "face " << face << " comes back cleared";
  // Drawing goes on into face 3, inside the kept draw area.
  ASSERT_EQ(0, DrawRectShape(0, 0, kSize, kSize, Color(kFaceColors[1]), 1));
  EXPECT_EQ(0, FaceOther(cube, 3, kSize, kFaceColors[1], RECT{4, 6, 40, 50}, 0));
  EXPECT_EQ(0, FaceOther(cube, 2, kSize, 0, none, 0));
  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
  EXPECT_EQ(DeviceLayer.backBuffer, GetCachedRenderTarget(0));
}

}  // namespace
