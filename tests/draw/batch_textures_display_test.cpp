// Draws that switch textures inside one batch, on the real device (Wine over
// Mesa, the harness's Xvfb): each scene is drawn in a row and again with a
// flush after every draw (each texture then bound the ordinary way), both
// read back whole and compared pixel for pixel; overlapping images over four
// and five textures, every blend mode, tints, bilinear rotation, clip areas
// changed and set back between draws, shapes in between, the stage programs.
// Also the device draw calls such a frame makes.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "DeviceTestImages.h"
#include "FrameReadback.h"
#include "ReReziRader.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "WindowFixture.h"

int CreateGraphFromBaseImages(const GraphCreateSettings* settings, int handle, BaseImageRecord* image,
                              BaseImageRecord* alphaImage, int transparent, int inJob);

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kImages = 5;

// Five graphics of different sizes and patterns, with alpha steps.
int MakeImage(int index) {
  static const int sizes[kImages][2] = {{24, 16}, {16, 24}, {20, 20}, {32, 12}, {10, 30}};
  return test_support::MakeArgbGraph(sizes[index][0], sizes[index][1], [index](int x, int y) {
    const uint32_t alpha = ((x / 3 + y / 2 + index) % 5) * 255 / 4;
    return alpha << 24 | static_cast<uint32_t>((x * 41 + index * 70) & 255) << 16 |
           static_cast<uint32_t>((y * 23 + index * 50) & 255) << 8 |
           static_cast<uint32_t>(((x + y) * 17 + index * 90) & 255);
  });
}

// One step of a scene.
struct Step {
  enum Kind { AT, ROTATED, STRETCHED, BOX, CLIP } kind;
  int image;  // index into the fixture's images
  int x, y, x2, y2;
  double angle;
};

int DrawCalls = 0;
Direct3DCallTable CountingTable;
const Direct3DCallTable* RealTable = nullptr;
HRESULT CountDraw(D3DPRIMITIVETYPE type, UINT count, const void* vertices, UINT stride) {
  DrawCalls++;
  return RealTable->DrawDevicePrimitiveUP(type, count, vertices, stride);
}

class BatchTexturesTest : public test_support::DeviceWindowTest {
 protected:
  int images[kImages] = {};

  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(1, DeviceLayer.hardware);
    ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
    for (int i = 0; i < kImages; i++) {
      images[i] = MakeImage(i);
      ASSERT_GE(images[i], 0);
    }
    RealTable = GetRealDirect3DCallTable();
    CountingTable = *RealTable;
    CountingTable.DrawDevicePrimitiveUP = CountDraw;
  }
  void TearDown() override {
    SetDirect3DCallTable(nullptr);
    SetForceFixedFunction(0);
    DeviceWindowTest::TearDown();
  }

  void ClearBack() {
    FlushVertexBatch(0);
    SetClipRect(0, 0, kWidth, kHeight);
    FlushVertexBatch(0);
    ClearDevice(0, nullptr, D3DCLEAR_TARGET, 0xFF304050u, 1.0f, 0);
  }

  void RunStep(const Step& s) {
    const int g = images[s.image];
    switch (s.kind) {
      case Step::AT: DrawImageAt(s.x, s.y, g, 1); break;
      case Step::ROTATED:
        DrawImageRotated(static_cast<float>(s.x), static_cast<float>(s.y), 1.5, s.angle, g, 1, 0);
        break;
      case Step::STRETCHED: DrawImageStretched(s.x, s.y, s.x2, s.y2, g, 1); break;
      case Step::BOX: DrawRectShape(s.x, s.y, s.x2, s.y2, MakeColorValue(200, 60, 30), 1); break;
      case Step::CLIP: SetClipRect(s.x, s.y, s.x2, s.y2); break;
    }
  }

  // The scene drawn in a row (counting the device draw calls) or with a
  // flush after every step; the back buffer read back.
  std::vector<uint32_t> Draw(const std::vector<Step>& scene, bool oneByOne, int* calls = nullptr) {
    ClearBack();
    SetDirect3DCallTable(&CountingTable);
    DrawCalls = 0;
    for (const Step& s : scene) {
      RunStep(s);
      if (oneByOne) FlushVertexBatch(0);
    }
    FlushVertexBatch(0);
    SetDirect3DCallTable(nullptr);
    if (calls != nullptr) *calls = DrawCalls;
    SetClipRect(0, 0, kWidth, kHeight);
    return ReadBackBufferFrame(kWidth, kHeight);
  }

  // Pixels of the two drawings that differ; the first one described.
  static int Differences(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, std::string* first) {
    int wrong = 0;
    for (size_t i = 0; i < a.size(); i++) {
      if (a[i] == b[i]) continue;
      if (wrong++ == 0) {
        char text[96];
        snprintf(text, sizeof text, "(%d,%d): %06X one by one %06X", static_cast<int>(i % kWidth),
                 static_cast<int>(i / kWidth), a[i], b[i]);
        *first = text;
      }
    }
    return wrong;
  }
};

// Overlapping images cycling through all five textures (the fifth finds
// the four samplers taken), images repeated, stretched and rotated ones.
std::vector<Step> OverlapScene() {
  std::vector<Step> scene;
  for (int i = 0; i < 40; i++) {
    const int image = (i * 3 + i / 7) % kImages;
    const int x = 20 + (i * 37) % 560, y = 20 + (i * 53) % 400;
    if (i % 5 == 3) {
      scene.push_back({Step::ROTATED, image, x, y, 0, 0, 0.3 * i});
    } else if (i % 5 == 4) {
      scene.push_back({Step::STRETCHED, image, x, y, x + 45, y + 33, 0});
    } else {
      scene.push_back({Step::AT, image, x, y, 0, 0, 0});
    }
    scene.push_back({Step::AT, image % 2, x + 9, y + 5, 0, 0, 0});
  }
  return scene;
}

TEST_F(BatchTexturesTest, EveryBlendModeDrawsAsTheDrawsMadeOneByOne) {
  const std::vector<Step> scene = OverlapScene();
  std::string failures;
  for (int mode = 0; mode < BLEND_TABLE_ROWS; mode++) {
    SetBlendMode(mode, 160);
    int calls = 0;
    const std::vector<uint32_t> batched = Draw(scene, false, &calls);
    const std::vector<uint32_t> single = Draw(scene, true);
    std::string first;
    const int wrong = Differences(batched, single, &first);
    if (wrong != 0)
      failures += "mode " + std::to_string(mode) + ": " + std::to_string(wrong) + " pixels, " + first + "\n";
    if (mode == 1) {
      EXPECT_LT(calls, 30) << "the texture switches kept the batch";
    }
  }
  SetBlendMode(0, 0);
  EXPECT_EQ("", failures);
}

struct LookCase {
  const char* what;
  int mode, param;
  int red, green, blue;
  int sampling;
  int fixedFunction;
};

TEST_F(BatchTexturesTest, TintsSamplingAndTheStageProgramsDrawAsOneByOne) {
  static const LookCase cases[] = {
      {"tinted alpha", 1, 200, 255, 120, 40, 0, 0},
      {"tinted add", 2, 255, 90, 200, 255, 0, 0},
      {"tinted premultiplied", 17, 180, 200, 200, 80, 0, 0},
      {"bilinear alpha", 1, 255, 255, 255, 255, 1, 0},
      {"bilinear tinted invert", 10, 220, 160, 255, 100, 1, 0},
      {"stage programs alpha", 1, 200, 255, 255, 255, 0, 1},
      {"stage programs tinted add", 2, 255, 120, 255, 60, 1, 1},
  };
  const std::vector<Step> scene = OverlapScene();
  for (const LookCase& c : cases) {
    SetForceFixedFunction(c.fixedFunction);
    SetSamplingMode(c.sampling);
    SetDrawTint(c.red, c.green, c.blue);
    SetBlendMode(c.mode, c.param);
    const std::vector<uint32_t> batched = Draw(scene, false);
    const std::vector<uint32_t> single = Draw(scene, true);
    std::string first;
    EXPECT_EQ(0, Differences(batched, single, &first)) << c.what << ": " << first;
  }
  SetForceFixedFunction(0);
  SetSamplingMode(0);
  SetDrawTint(255, 255, 255);
  SetBlendMode(0, 0);
}

TEST_F(BatchTexturesTest, ClipAreasAndShapesBetweenTheDrawsKeepTheirPlaceInTheOrder) {
  std::vector<Step> scene;
  for (int i = 0; i < 30; i++) {
    const int x = 100 + (i * 29) % 400, y = 80 + (i * 31) % 300;
    // The game's pattern: a clip area for one draw, then the whole screen.
    scene.push_back({Step::CLIP, 0, 150, 100, 450, 360, 0});
    scene.push_back({Step::ROTATED, i % 3, x, y, 0, 0, 0.21 * i});
    scene.push_back({Step::CLIP, 0, 0, 0, kWidth, kHeight, 0});
    if (i % 4 == 1) scene.push_back({Step::BOX, 0, x - 6, y - 6, x + 12, y + 8, 0});
    if (i % 6 == 2) scene.push_back({Step::CLIP, 0, 0, 0, 320, 240, 0});  // kept for the next draws
    scene.push_back({Step::AT, (i + 1) % 4, x + 10, y - 12, 0, 0, 0});
  }
  SetBlendMode(1, 230);
  const std::vector<uint32_t> batched = Draw(scene, false);
  const std::vector<uint32_t> single = Draw(scene, true);
  SetBlendMode(0, 0);
  std::string first;
  EXPECT_EQ(0, Differences(batched, single, &first)) << first;
}

struct CountCase {
  int textures;  // the draws cycle through this many images
  int draws;
  int calls;  // device draw calls of the frame
};

TEST_F(BatchTexturesTest, AFrameOfAlternatingDrawsMakesOneDrawCallPerFourTextures) {
  static const CountCase cases[] = {
      {2, 300, 1},                           // two textures in turn: one batch
      {3, 200, 1}, {4, 300, 1}, {5, 10, 3},  // the fifth texture finds the samplers taken: ABCD | EABC | DE
      {2, 700, 3},                           // 303 quads fill a batch
  };
  SetBlendMode(1, 255);
  for (const CountCase& c : cases) {
    std::vector<Step> scene;
    for (int i = 0; i < c.draws; i++)
      scene.push_back({Step::AT, i % c.textures, (i * 7) % 600, (i * 11) % 450, 0, 0, 0});
    int calls = 0;
    Draw(scene, false, &calls);
    EXPECT_EQ(c.calls, calls) << c.textures << " textures, " << c.draws << " draws";
  }
  // The stage programs have one texture per draw call.
  SetForceFixedFunction(1);
  std::vector<Step> scene;
  for (int i = 0; i < 12; i++) scene.push_back({Step::AT, i % 2, i * 20, 40, 0, 0, 0});
  int calls = 0;
  Draw(scene, false, &calls);
  EXPECT_EQ(12, calls);
  SetForceFixedFunction(0);
  SetBlendMode(0, 0);
}

TEST_F(BatchTexturesTest, TheBossRingOfStripsIsAFewDrawCalls) {
  // The game's gauge: strips about one centre alternating between two
  // graphics, each with its clip area and blend mode set and set back.
  std::vector<Step> scene;
  for (int j = 0; j < 1440; j += 3) {
    scene.push_back({Step::CLIP, 0, 100, 40, 540, 440, 0});
    scene.push_back({Step::ROTATED, (j / 3) % 2, 320, 240, 0, 0, j / 720.0 * 3.14159265358979});
    scene.push_back({Step::CLIP, 0, 0, 0, kWidth, kHeight, 0});
  }
  SetBlendMode(1, 255);
  int calls = 0;
  const std::vector<uint32_t> batched = Draw(scene, false, &calls);
  const std::vector<uint32_t> single = Draw(scene, true);
  SetBlendMode(0, 0);
  EXPECT_EQ(2, calls) << "480 quads, 303 to a batch";
  std::string first;
  EXPECT_EQ(0, Differences(batched, single, &first)) << first;
}

}  // namespace
