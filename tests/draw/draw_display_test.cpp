// Image draws on the real device (Wine over Mesa, the harness's Xvfb), read
// back from the back buffer with GetRenderTargetData: every blend mode
// against its blend formula over a known background (programmable path and
// fixed-function stage programs), clipping at the draw-area edge, the
// sub-rectangle draw, the turned draw, exact quarter turns, multi-piece
// graphics, empty draw areas, and the state calls of a repeated draw.
#include <windows.h>

#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "RaRadaraServices.h"
#include "ReReziRader.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphView.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaRenderState.h"
#include "WindowFixture.h"

int CreateGraphFromBaseImages(const GraphCreateSettings* settings, int handle, BaseImageRecord* image,
                              BaseImageRecord* alphaImage, int transparent, int inJob);

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr double kPi = 3.14159265358979323846;

using PixelFunction = std::function<uint32_t(int x, int y)>;  // 0xAARRGGBB

// A screen read back whole.
struct Screenshot {
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * kWidth + x] & 0xFFFFFF; }
};

Screenshot ReadScreen() {
  FlushVertexBatch(0);
  EndDrawScene();
  Screenshot shot;
  shot.pixels.assign(static_cast<size_t>(kWidth) * kHeight, 0xDEADu);
  D3DSURFACE_DESC desc;
  if (GetSurfaceDesc(DeviceLayer.backBuffer, &desc) != D3D_OK) return shot;
  IDirect3DSurface9* copy = nullptr;
  if (CreateDeviceOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy, nullptr) !=
      D3D_OK)
    return shot;
  if (GetDeviceRenderTargetData(DeviceLayer.backBuffer, copy) == D3D_OK) {
    D3DLOCKED_RECT locked;
    if (LockSurfaceRect(copy, &locked, nullptr, D3DLOCK_READONLY) == D3D_OK) {
      for (int y = 0; y < kHeight; y++) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(static_cast<const char*>(locked.pBits) +
                                                                y * locked.Pitch);
        std::copy(row, row + kWidth, shot.pixels.begin() + static_cast<size_t>(y) * kWidth);
      }
      UnlockSurfaceRect(copy);
    }
  }
  ReleaseComObject(copy);
  return shot;
}

void ClearScreen(uint32_t rgb) {
  FlushVertexBatch(0);
  BeginDrawSceneOnce();
  const int saved[4] = {CurrentDrawState.drawArea.left, CurrentDrawState.drawArea.top, CurrentDrawState.drawArea.right,
                        CurrentDrawState.drawArea.bottom};
  SetClipRect(0, 0, kWidth, kHeight);
  ClearDevice(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u | rgb, 1.0f, 0);
  SetClipRect(saved[0], saved[1], saved[2], saved[3]);
}

// A graphic made from pixels; alpha: the image keeps an alpha channel.
int MakeGraph(int width, int height, const PixelFunction& pixel, bool alpha, int maxTextureSide = 0) {
  BaseImageRecord image;
  const int made = alpha ? CreateBaseImageARGB8(width, height, &image) : CreateBaseImageXRGB8(width, height, &image);
  if (made != 0) return -1;
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      const uint32_t p = pixel(x, y);
      SetBaseImagePixelRGBA(&image, x, y, (p >> 16) & 255, (p >> 8) & 255, p & 255, alpha ? (p >> 24) & 255 : 255);
    }
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  settings.maxTextureSide = maxTextureSide;
  settings.noTransparentColor = 1;
  const int handle = AllocGraphicHandle();
  const int result = CreateGraphFromBaseImages(&settings, handle, &image, nullptr, 0, 0);
  ReleaseBaseImage(&image);
  return result == 0 ? handle : -1;
}

uint32_t Pattern(int x, int y) {
  return 0xFF000000u | static_cast<uint32_t>((x * 37 + 11) & 255) << 16 |
         static_cast<uint32_t>((y * 53 + 7) & 255) << 8 | static_cast<uint32_t>(((x + y) * 29 + 90) & 255);
}

class DrawDisplayTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(1, DeviceLayer.hardware);
    ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
    SetSamplingMode(0);
    SetBlendMode(0, 0);
  }
  void TearDown() override {
    SetForceFixedFunction(0);
    DeviceWindowTest::TearDown();
  }
};

// ---------------------------------------------------------------------------
// Blend modes.

// What one pixel becomes, from the blend table's factors and the shader
// variants: s the image texel, ta its alpha, d the background, av the
// vertex alpha; all 0..1.
struct BlendCase {
  int mode;
  bool transparent;  // the transparency flag on an image with alpha
};

double Clamp01(double v) { return v < 0.0 ? 0.0 : v > 1.0 ? 1.0 : v; }

// Returns false when the alpha test keeps the background.
bool ExpectedPixel(int mode, bool transparent, int param, int nativeSubtract, const double s[3], double ta,
                   const double d[3], double out[3]) {
  const double av = mode == 0 ? 1.0 : param / 255.0;
  // Flags A (alpha test) and B (alpha blending) of an alpha image drawn with
  // the transparency flag, pixel for pixel.
  const bool flagA = transparent && (mode == 0 || mode == 8);
  const bool flagB = transparent && !flagA;
  const bool textureAlpha = flagA || flagB;
  const double alpha = textureAlpha ? ta * av : av;
  int row = mode;
  if (mode == 0 && flagB) row = 1;
  if (mode == 3 && nativeSubtract) row = 16;
  struct Row {
    int dest, src, variant, op, on;
  };
  static const Row rows[23] = {
      {0, 0, 0, 1, 0}, {6, 5, 0, 1, 1}, {2, 5, 0, 1, 1}, {1, 10, 0, 1, 1}, {3, 1, 0, 1, 1}, {2, 5, 0, 1, 1},
      {0, 0, 0, 1, 0}, {0, 0, 0, 1, 0}, {2, 1, 0, 1, 1}, {1, 10, 0, 1, 1}, {6, 5, 2, 1, 1}, {3, 1, 1, 1, 1},
      {6, 5, 3, 1, 1}, {2, 5, 3, 1, 1}, {1, 2, 0, 1, 1}, {6, 2, 0, 1, 1},  {2, 5, 0, 3, 1}, {6, 2, 4, 1, 1},
      {2, 2, 4, 1, 1}, {2, 2, 4, 3, 1}, {6, 2, 5, 1, 1}, {6, 2, 6, 1, 1},  {2, 2, 6, 1, 1},
  };
  const Row& r = rows[row];
  // Alpha test: flag A greater than 16; a blending row greater than 0.
  const double alpha255 = alpha * 255.0;
  if (flagA && !(alpha255 > 16.5)) {
    for (int i = 0; i < 3; i++) out[i] = d[i];
    return false;
  }
  if (!flagA && r.on && !(alpha255 > 0.5)) {
    for (int i = 0; i < 3; i++) out[i] = d[i];
    return false;
  }
  for (int i = 0; i < 3; i++) {
    double c = s[i];
    switch (r.variant) {
      case 1: c = c * alpha + (1.0 - alpha); break;
      case 2: c = 1.0 - c; break;
      case 3: c = Clamp01(4.0 * c); break;
      case 4: c = c * av; break;
      case 5: c = ((textureAlpha ? ta : 1.0) - c) * av; break;
      case 6: c = Clamp01(4.0 * c * av); break;
      default: break;
    }
    c = Clamp01(c);
    if (!r.on) {
      out[i] = c;
      continue;
    }
    auto factor = [&](int f) {
      switch (f) {
        case 1: return 0.0;
        case 2: return 1.0;
        case 3: return c;
        case 5: return alpha;
        case 6: return 1.0 - alpha;
        case 10: return 1.0 - d[i];
        default: return 0.0;
      }
    };
    const double sourcePart = c * factor(r.src), destPart = d[i] * factor(r.dest);
    out[i] = Clamp01(r.op == 3 ? destPart - sourcePart : sourcePart + destPart);
  }
  return true;
}

// Draws the image in every mode over the background; returns the failures.
std::string RunBlendTable(int background, int image, int width, int height, const PixelFunction& imagePixel) {
  std::string failures;
  const int param = 160;
  const int native = DeviceCaps.subtractBlendNative;
  for (int mode = 0; mode < BLEND_TABLE_ROWS; mode++) {
    for (int transparent = 0; transparent < 2; transparent++) {
      ClearScreen(0);
      SetBlendMode(0, 0);
      DrawImageAt(0, 0, background, 0);
      const Screenshot before = ReadScreen();
      SetBlendMode(mode, param);
      if (DrawImageAt(0, 0, image, transparent) != 0) failures += "draw " + std::to_string(mode) + "\n";
      SetBlendMode(0, 0);
      const Screenshot after = ReadScreen();
      int wrong = 0;
      std::string first;
      for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
          const uint32_t p = imagePixel(x, y), b = before.At(x, y), a = after.At(x, y);
          const double s[3] = {((p >> 16) & 255) / 255.0, ((p >> 8) & 255) / 255.0, (p & 255) / 255.0};
          const double d[3] = {((b >> 16) & 255) / 255.0, ((b >> 8) & 255) / 255.0, (b & 255) / 255.0};
          double e[3];
          ExpectedPixel(mode, transparent != 0, param, native, s, ((p >> 24) & 255) / 255.0, d, e);
          for (int i = 0; i < 3; i++) {
            const int got = static_cast<int>((a >> (16 - 8 * i)) & 255);
            const int want = static_cast<int>(floor(e[i] * 255.0 + 0.5));
            if (abs(got - want) > 1) {
              if (wrong++ == 0) {
                char text[160];
                snprintf(text, sizeof text,
                         "mode %d transparent %d at (%d,%d) channel %d: %d, formula %d (src %08X dst %06X)\n", mode,
                         transparent, x, y, i, got, want, p, b);
                first = text;
              }
            }
          }
        }
      if (wrong != 0) failures += first + "  " + std::to_string(wrong) + " channel values off\n";
    }
  }
  return failures;
}

uint32_t BlendImagePixel(int x, int y) {
  static const uint32_t alphas[6] = {0, 51, 102, 153, 204, 255};
  return alphas[(x / 4 + y / 8) % 6] << 24 | (Pattern(x, y) & 0xFFFFFF);
}
uint32_t BackgroundPixel(int x, int y) {
  return 0xFF000000u | static_cast<uint32_t>((x * 7 + y * 3) & 255) << 16 |
         static_cast<uint32_t>((255 - x * 5) & 255) << 8 | static_cast<uint32_t>((y * 11 + 40) & 255);
}

TEST_F(DrawDisplayTest, EveryBlendModeFollowsItsFormulaOnTheProgrammablePath) {
  const int background = MakeGraph(48, 32, BackgroundPixel, false);
  const int image = MakeGraph(48, 32, BlendImagePixel, true);
  ASSERT_GE(background, 0);
  ASSERT_GE(image, 0);
  SetForceFixedFunction(0);
  const std::string failures = RunBlendTable(background, image, 48, 32, BlendImagePixel);
  EXPECT_EQ(1, DrawPrep.programmable);
  EXPECT_EQ("", failures);
}

TEST_F(DrawDisplayTest, EveryBlendModeFollowsItsFormulaWithTheStagePrograms) {
  const int background = MakeGraph(48, 32, BackgroundPixel, false);
  const int image = MakeGraph(48, 32, BlendImagePixel, true);
  ASSERT_GE(background, 0);
  ASSERT_GE(image, 0);
  SetForceFixedFunction(1);
  const std::string failures = RunBlendTable(background, image, 48, 32, BlendImagePixel);
  EXPECT_EQ(0, DrawPrep.programmable);
  EXPECT_EQ("", failures);
}

// A blend graphic mixed into the draw: kind 0 mixes colours by a ratio,
// kind 1 thresholds the blend graphic's alpha (255 draws nothing), kind 2
// multiplies the alphas.
uint32_t BlendGraphPixel(int x, int y) {
  return static_cast<uint32_t>(((x + y) % 8) * 32 + 16) << 24 | (BackgroundPixel(47 - x, y) & 0xFFFFFF);
}

std::string RunBlendGraphCases(int background, int image, int blend) {
  struct Case {
    int mode, param, kind, p1, p2;
  } cases[] = {{0, 0, 1, 255, 0}, {0, 0, 1, 120, 0}, {1, 255, 2, 0, 0}, {0, 0, 0, 64, 0}};
  std::string failures;
  for (const Case& c : cases) {
    ClearScreen(0);
    SetBlendGraph(-1, 0, nullptr);
    SetBlendMode(0, 0);
    DrawImageAt(0, 0, background, 0);
    const Screenshot before = ReadScreen();
    SetBlendMode(c.mode, c.param);
    SetBlendGraphParam(blend, c.kind, c.p1, c.p2);
    const int result = DrawImageAt(0, 0, image, 0);
    SetBlendGraph(-1, 0, nullptr);
    SetBlendMode(0, 0);
    const Screenshot after = ReadScreen();
    int wrong = 0;
    std::string first;
    for (int y = 0; y < 32; y++)
      for (int x = 0; x < 48; x++) {
        const uint32_t sp = Pattern(x, y), bp = BlendGraphPixel(x, y), dp = before.At(x, y), got = after.At(x, y);
        const int ba = static_cast<int>(bp >> 24);
        for (int i = 0; i < 3; i++) {
          const int shift = 16 - 8 * i;
          const double sc = ((sp >> shift) & 255) / 255.0, bc = ((bp >> shift) & 255) / 255.0,
                       dc = ((dp >> shift) & 255) / 255.0;
          double want;
          if (c.kind == 1) {
            want = ba >= c.p1 && c.p1 < 255 ? sc : dc;
          } else if (c.kind == 2) {
            const double a = ba / 255.0;
            want = sc * a + dc * (1.0 - a);
          } else {
            const double w = c.p1 / 255.0;
            want = sc + (bc - sc) * w;
          }
          const int g = static_cast<int>((got >> shift) & 255), e = static_cast<int>(floor(want * 255.0 + 0.5));
          if (abs(g - e) > 1 && wrong++ == 0)
            first = "kind " + std::to_string(c.kind) + " p1 " + std::to_string(c.p1) + " at " + std::to_string(x) +
                    "," + std::to_string(y) + ": " + std::to_string(g) + " want " + std::to_string(e) + "\n";
        }
      }
    if (result != 0) failures += "draw failed, kind " + std::to_string(c.kind) + "\n";
    if (wrong) failures += first + "  " + std::to_string(wrong) + " channel values off\n";
  }
  return failures;
}

TEST_F(DrawDisplayTest, BlendGraphicsMixThresholdAndMultiplyOnBothPaths) {
  const int background = MakeGraph(48, 32, BackgroundPixel, false);
  const int image = MakeGraph(48, 32, Pattern, false);
  const int blend = MakeGraph(48, 32, BlendGraphPixel, true);
  ASSERT_GE(blend, 0);
  for (int fixed = 0; fixed < 2; fixed++) {
    SCOPED_TRACE(fixed ? "stage programs" : "shaders");
    SetForceFixedFunction(fixed);
    EXPECT_EQ("", RunBlendGraphCases(background, image, blend));
  }
  // A blend graphic smaller than the image refuses the draw.
  const int small = MakeGraph(8, 8, BlendGraphPixel, true);
  SetBlendGraphParam(small, 2, 0, 0);
  EXPECT_EQ(-1, DrawImageAt(0, 0, image, 0));
  EXPECT_EQ(0, SetBlendGraph(0, 0, nullptr));
  EXPECT_EQ(-1, CurrentDrawState.blendGraph);
}

// ---------------------------------------------------------------------------
// Geometry.

constexpr uint32_t kBackground = 0x000000;

TEST_F(DrawDisplayTest, AnImageLeftOfTheAreaShowsItsRightColumns) {
  const int image = MakeGraph(55, 80, Pattern, false);
  ASSERT_GE(image, 0);
  ClearScreen(kBackground);
  ASSERT_EQ(0, DrawImageAt(-10, 0, image, 0));
  const Screenshot shot = ReadScreen();
  int wrong = 0;
  for (int y = 0; y < 80; y++) {
    for (int x = 0; x < 45; x++) wrong += shot.At(x, y) != (Pattern(x + 10, y) & 0xFFFFFF);
    wrong += shot.At(45, y) != kBackground;
  }
  EXPECT_EQ(0, wrong);
  EXPECT_EQ(kBackground, shot.At(0, 80));
}

TEST_F(DrawDisplayTest, ARectangleOfTheImageDrawsItsTexelsAndRestoresTheArea) {
  const int image = MakeGraph(64, 32, Pattern, false);
  ASSERT_GE(image, 0);
  ASSERT_EQ(0, SetClipRect(5, 6, 600, 400));
  ClearScreen(kBackground);
  const RECT before = CurrentDrawState.drawArea;
  ASSERT_EQ(0, DrawImageRect(100, 100, 16, 0, 16, 16, image, 0, 0));
  ASSERT_EQ(0, DrawImageRect(200, 100, 16, 4, 16, 16, image, 0, 1));  // turned
  EXPECT_TRUE(EqualRect(&before, &CurrentDrawState.drawArea));
  EXPECT_EQ(5.0f, CurrentDrawState.drawAreaF[0]);
  EXPECT_TRUE(EqualRect(&before, &MemImgDrawState.drawArea));
  const Screenshot shot = ReadScreen();
  int wrong = 0;
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 16; x++) {
      wrong += shot.At(100 + x, 100 + y) != (Pattern(16 + x, y) & 0xFFFFFF);
      // The turned rectangle shows texels 16..31 of rows 4..19, mirrored.
      wrong += shot.At(200 + x, 100 + y) != (Pattern(31 - x, 4 + y) & 0xFFFFFF);
    }
  for (int i = 0; i < 16; i++) {
    wrong += shot.At(99, 100 + i) != kBackground;
    wrong += shot.At(116, 100 + i) != kBackground;
    wrong += shot.At(100 + i, 99) != kBackground;
    wrong += shot.At(100 + i, 116) != kBackground;
  }
  EXPECT_EQ(0, wrong);
}

TEST_F(DrawDisplayTest, TheTurnedDrawIsTheMirroredStretchedDraw) {
  const int image = MakeGraph(30, 20, Pattern, false);
  ASSERT_GE(image, 0);
  ClearScreen(kBackground);
  ASSERT_EQ(0, DrawImageTurned(40, 50, image, 0));
  ASSERT_EQ(0, DrawImageStretched(130, 50, 100, 70, image, 0));
  ASSERT_EQ(0, DrawImageTurnedF(160.0f, 50.0f, image, 0));
  const Screenshot shot = ReadScreen();
  int wrong = 0;
  for (int y = 0; y < 20; y++)
    for (int x = 0; x < 30; x++) {
      const uint32_t want = Pattern(29 - x, y) & 0xFFFFFF;
      wrong += shot.At(40 + x, 50 + y) != want;
      wrong += shot.At(100 + x, 50 + y) != want;
      wrong += shot.At(160 + x, 50 + y) != want;
    }
  EXPECT_EQ(0, wrong);
  EXPECT_EQ(kBackground, shot.At(39, 50));
  EXPECT_EQ(kBackground, shot.At(70, 50));
}

// A quarter turn about an integer centre moves every pixel: the image's
// column c becomes the row, its row r the column counted from the right.
void ExpectQuarterTurn(int width, int height, int exact) {
  SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + (exact ? " exact" : ""));
  const int image = MakeGraph(width, height, Pattern, false);
  ASSERT_GE(image, 0);
  ClearScreen(kBackground);
  const int cx = 320, cy = 240;
  const int result = exact
                         ? DrawImageRotatedExact(static_cast<float>(cx), static_cast<float>(cy), 1.0, kPi / 2, image, 0,
                                                 0)
                         : DrawImageRotated(static_cast<float>(cx), static_cast<float>(cy), 1.0, kPi / 2, image, 0, 0);
  ASSERT_EQ(0, result);
  const Screenshot shot = ReadScreen();
  int left = kWidth, top = kHeight, right = -1, bottom = -1;
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++)
      if (shot.At(x, y) != kBackground) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  ASSERT_EQ(height, right - left + 1);
  ASSERT_EQ(width, bottom - top + 1);
  int wrong = 0;
  for (int r = 0; r < height; r++)
    for (int c = 0; c < width; c++) wrong += shot.At(left + (height - 1 - r), top + c) != (Pattern(c, r) & 0xFFFFFF);
  EXPECT_EQ(0, wrong);
  if (width % 2 == 0 && height % 2 == 0) {
    // The centre falls between pixels: the turn keeps it there.
    EXPECT_EQ(2 * cx, left + right + 1);
    EXPECT_EQ(2 * cy, top + bottom + 1);
  } else {
    // An odd side turns about a texel's centre: that texel stays on the
    // given point (an even side takes the texel left of or above the middle).
    const int tc = width % 2 ? width / 2 : width / 2 - 1, tr = height % 2 ? height / 2 : height / 2 - 1;
    EXPECT_EQ(cx, left + (height - 1 - tr));
    EXPECT_EQ(cy, top + tc);
  }
}

TEST_F(DrawDisplayTest, AQuarterTurnIsAnExactPermutationForEvenAndOddSizes) {
  ExpectQuarterTurn(8, 6, 1);
  ExpectQuarterTurn(7, 5, 1);
  ExpectQuarterTurn(6, 5, 1);
  ExpectQuarterTurn(8, 6, 0);
  ExpectQuarterTurn(7, 5, 0);
}

TEST_F(DrawDisplayTest, NoTurnAndScaleOneIsThePlainDraw) {
  const int image = MakeGraph(7, 5, Pattern, false);
  ASSERT_GE(image, 0);
  ClearScreen(kBackground);
  ASSERT_EQ(0, DrawImageAt(100, 100, image, 0));
  ASSERT_EQ(0, DrawImageRotated(203.0f, 102.0f, 1.0, 0.0, image, 0, 0));  // centre texel (3, 2)
  const Screenshot shot = ReadScreen();
  int wrong = 0;
  for (int y = -1; y < 6; y++)
    for (int x = -1; x < 8; x++) wrong += shot.At(100 + x, 100 + y) != shot.At(200 + x, 100 + y);
  EXPECT_EQ(0, wrong);
  EXPECT_EQ(Pattern(0, 0) & 0xFFFFFF, shot.At(200, 100));
}

TEST_F(DrawDisplayTest, AGraphicOfSeveralTexturesDrawsWithoutSeams) {
  const int image = MakeGraph(60, 40, Pattern, false, 32);
  ASSERT_GE(image, 0);
  ASSERT_GT(GetGraphicRecord(image, 0)->pieceCount, 1);
  ClearScreen(kBackground);
  ASSERT_EQ(0, DrawImageAt(10, 10, image, 0));
  ASSERT_EQ(0, DrawImageStretched(100, 10, 220, 90, image, 0));  // doubled, nearest
  ASSERT_EQ(0, DrawImageAt(-20, 200, image, 0));                 // clipped on the left
  const Screenshot shot = ReadScreen();
  int wrong = 0;
  for (int y = 0; y < 40; y++)
    for (int x = 0; x < 60; x++) {
      const uint32_t want = Pattern(x, y) & 0xFFFFFF;
      wrong += shot.At(10 + x, 10 + y) != want;
      for (int k = 0; k < 4; k++) wrong += shot.At(100 + 2 * x + k % 2, 10 + 2 * y + k / 2) != want;
      if (x >= 20) wrong += shot.At(x - 20, 200 + y) != want;
    }
  EXPECT_EQ(0, wrong);
}

TEST_F(DrawDisplayTest, AStretchedImageCutAtTheAreaKeepsItsTexelMapping) {
  const int image = MakeGraph(60, 40, Pattern, false);
  ASSERT_GE(image, 0);
  ASSERT_EQ(0, SetClipRect(0, 0, 300, 400));
  ClearScreen(kBackground);
  // Doubled, 11 pixels left of the area and 21 beyond its right edge; a
  // mirrored copy cut at the top.
  ASSERT_EQ(0, DrawImageStretched(-11, 100, 109, 180, image, 0));
  ASSERT_EQ(0, DrawImageStretched(201, 0, 321, 80, image, 0));
  ASSERT_EQ(0, SetClipRect(0, 220, 300, 400));
  ASSERT_EQ(0, DrawImageStretched(60, 210, 0, 250, image, 0));
  const Screenshot shot = ReadScreen();
  int wrong = 0;
  for (int y = 0; y < 80; y++) {
    for (int x = 0; x < 109; x++) wrong += shot.At(x, 100 + y) != (Pattern((x + 11) / 2, y / 2) & 0xFFFFFF);
    for (int x = 201; x < 300; x++) wrong += shot.At(x, y) != (Pattern((x - 201) / 2, y / 2) & 0xFFFFFF);
    wrong += shot.At(300, y) != kBackground;
  }
  for (int y = 210; y < 250; y++)
    for (int x = 0; x < 60; x++)
      wrong += shot.At(x, y) != (y < 220 ? kBackground : Pattern(59 - x, y - 210) & 0xFFFFFF);
  EXPECT_EQ(0, wrong);
}

TEST_F(DrawDisplayTest, AnEmptyAreaDrawsNothingAndABadHandleFails) {
  const int image = MakeGraph(16, 16, Pattern, false);
  ASSERT_GE(image, 0);
  ClearScreen(kBackground);
  ASSERT_EQ(0, SetClipRect(10, 10, 10, 50));
  EXPECT_EQ(0, DrawImageAt(10, 10, image, 0));
  EXPECT_EQ(0, DrawImageRotated(20.0f, 20.0f, 1.0, 1.0, image, 0, 0));
  EXPECT_EQ(0, DrawImageStretched(0, 0, 100, 100, image, 0));
  const Screenshot shot = ReadScreen();
  int touched = 0;
  for (uint32_t p : shot.pixels) touched += (p & 0xFFFFFF) != kBackground;
  EXPECT_EQ(0, touched);
  SetClipRect(0, 0, kWidth, kHeight);
  DeleteGraphicHandle(image);
  EXPECT_EQ(-1, DrawImageAt(10, 10, image, 0));
  EXPECT_EQ(-1, DrawImageStretchedF(1.0f, 1.0f, 1.0f, 9.0f, image, 0));
}

TEST_F(DrawDisplayTest, ARenderTargetGraphicReceivesTheDrawsAndItsOwnArea) {
  const int image = MakeGraph(20, 12, Pattern, false);
  ASSERT_GE(image, 0);
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  settings.drawable = 1;
  const int target = AllocGraphicHandle();
  ASSERT_EQ(0, CreateGraphicFromImageData(&settings, target, {64, 48, 0, 0, 0, -1}, 0));
  EXPECT_EQ(-1, SetDrawTarget(image));  // not a render target: nothing changes
  EXPECT_EQ(SCREEN_BACK, GetDrawTarget());
  ASSERT_EQ(0, SetDrawTarget(target));
  EXPECT_EQ(64, CurrentDrawState.drawScreenWidth);
  EXPECT_EQ(48, CurrentDrawState.drawArea.bottom);
  ClearScreen(0x000000);                        // the target: render target 0
  ASSERT_EQ(0, DrawImageAt(30, 40, image, 0));  // clipped at the bottom
  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
  EXPECT_EQ(kHeight, CurrentDrawState.drawArea.bottom);
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(target, &read));
  int wrong = 0;
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) {
      const bool inside = x >= 30 && x < 50 && y >= 40;
      const uint32_t want = inside ? Pattern(x - 30, y - 40) & 0xFFFFFF : 0;
      wrong += (GetBaseImagePixelARGB8(&read, x, y) & 0xFFFFFF) != want;
    }
  ReleaseBaseImage(&read);
  EXPECT_EQ(0, wrong);
}

TEST_F(DrawDisplayTest, ADeviceRebuildKeepsTheDrawTargetAndItsArea) {
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  settings.drawable = 1;
  const int target = AllocGraphicHandle();
  ASSERT_EQ(0, CreateGraphicFromImageData(&settings, target, {64, 48, 0, 0, 0, -1}, 0));
  ASSERT_EQ(0, SetDrawTarget(target));
  ASSERT_EQ(0, SetClipRect(4, 4, 40, 30));
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_EQ(target, GetDrawTarget());
  EXPECT_EQ(4, CurrentDrawState.drawArea.left);
  EXPECT_EQ(30, CurrentDrawState.drawArea.bottom);
  const int image = MakeGraph(20, 12, Pattern, false);  // made on the new device
  ClearScreen(0x000000);
  ASSERT_EQ(0, DrawImageAt(0, 0, image, 0));  // clipped to (4, 4)-(20, 12)
  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(target, &read));
  int wrong = 0;
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) {
      const bool inside = x >= 4 && x < 20 && y >= 4 && y < 12;
      wrong += (GetBaseImagePixelARGB8(&read, x, y) & 0xFFFFFF) != (inside ? Pattern(x, y) & 0xFFFFFF : 0);
    }
  ReleaseBaseImage(&read);
  EXPECT_EQ(0, wrong);
}

// Shapes into a multi-sample render target and into an alpha render target
// (drawn with the destination copy) give the pixels of a plain render
// target: filled and outlined boxes, filled circles, over a drawn image.
TEST_F(DrawDisplayTest, ShapesReachMultiSampleAndAlphaRenderTargets) {
  const int image = MakeGraph(20, 12, Pattern, false);
  ASSERT_GE(image, 0);
  struct Kind {
    const char* what;
    int multiSample, alpha;
  } kinds[] = {{"plain", 0, 0}, {"multi-sample", 4, 0}, {"alpha", 0, 1}, {"multi-sample alpha", 4, 1}};
  std::vector<uint32_t> pictures[4];
  for (int k = 0; k < 4; k++) {
    GraphCreateSettings settings;
    InitDrawableGraphSettings(&settings, 32, kinds[k].alpha);
    settings.multiSampleType = kinds[k].multiSample;
    const int target = CreateBlankGraphHandle(&settings, 64, 48, 0, 0, 0);
    ASSERT_GT(target, 0) << kinds[k].what;
    if (kinds[k].multiSample != 0 && IsMultiSampleGraph(target) != 1) GTEST_SKIP() << "no multi-sampling";
    ASSERT_EQ(0, SetDrawTarget(target));
    EXPECT_EQ(kinds[k].alpha, CurrentDrawState.destinationBlend) << kinds[k].what;
    ASSERT_EQ(0, ClearDrawTarget(nullptr));
    ASSERT_EQ(0, DrawImageAt(2, 2, image, 0));
    ASSERT_EQ(0, DrawRectShape(10, 8, 30, 20, MakeColorValue(255, 0, 0), 1));
    ASSERT_EQ(0, DrawRectShape(34, 4, 60, 30, MakeColorValue(0, 255, 0), 0));
    ASSERT_EQ(0, DrawCircleShape(20, 34, 8, MakeColorValue(0, 0, 255), 1, 1));
    ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
    BaseImageRecord read;
    ASSERT_EQ(0, ReadGraphToBaseImage(target, &read));
    for (int y = 0; y < 48; y++)
      for (int x = 0; x < 64; x++) pictures[k].push_back(GetBaseImagePixelARGB8(&read, x, y) & 0xFFFFFF);
    ReleaseBaseImage(&read);
    DeleteGraphicHandle(target);
  }
  EXPECT_EQ(0xFF0000u, pictures[0][12 * 64 + 20]) << "the filled box on the plain target";
  EXPECT_EQ(0x0000FFu, pictures[0][34 * 64 + 20]);
  // Multi-sampling may smooth edges: pixels whose neighbours all have their
  // colour are compared there.
  auto uniform = [&](int x, int y) {
    for (int dy = -1; dy <= 1; dy++)
      for (int dx = -1; dx <= 1; dx++) {
        const int nx = x + dx, ny = y + dy;
        if (nx < 0 || ny < 0 || nx >= 64 || ny >= 48) continue;
        if (pictures[0][ny * 64 + nx] != pictures[0][y * 64 + x]) return false;
      }
    return true;
  };
  for (int k = 1; k < 4; k++) {
    int wrong = 0;
    for (int y = 0; y < 48; y++)
      for (int x = 0; x < 64; x++)
        if (kinds[k].multiSample == 0 || uniform(x, y)) wrong += pictures[k][y * 64 + x] != pictures[0][y * 64 + x];
    EXPECT_EQ(0, wrong) << kinds[k].what << ": filled box at (20, 12) " << std::hex << pictures[k][12 * 64 + 20];
  }
}

// ---------------------------------------------------------------------------
// State calls.

int StateCalls = 0;
int DrawCalls = 0;
Direct3DCallTable CountingTable;
const Direct3DCallTable* RealTable = nullptr;

HRESULT CountRenderState(D3DRENDERSTATETYPE s, DWORD v) {
  StateCalls++;
  return RealTable->SetDeviceRenderState(s, v);
}
HRESULT CountSampler(DWORD i, D3DSAMPLERSTATETYPE s, DWORD v) {
  StateCalls++;
  return RealTable->SetDeviceSamplerState(i, s, v);
}
HRESULT CountStage(DWORD i, D3DTEXTURESTAGESTATETYPE s, DWORD v) {
  StateCalls++;
  return RealTable->SetDeviceTextureStageState(i, s, v);
}
HRESULT CountTexture(DWORD i, IDirect3DBaseTexture9* t) {
  StateCalls++;
  return RealTable->SetDeviceTexture(i, t);
}
HRESULT CountShader(IDirect3DPixelShader9* p) {
  StateCalls++;
  return RealTable->SetDevicePixelShader(p);
}
HRESULT CountDraw(D3DPRIMITIVETYPE type, UINT count, const void* vertices, UINT stride) {
  DrawCalls++;
  return RealTable->DrawDevicePrimitiveUP(type, count, vertices, stride);
}

TEST_F(DrawDisplayTest, TheSameImageTwiceAppliesTheStateOnceAndSharesOneDraw) {
  const int image = MakeGraph(16, 16, Pattern, false);
  ASSERT_GE(image, 0);
  RealTable = GetRealDirect3DCallTable();
  CountingTable = *RealTable;
  CountingTable.SetDeviceRenderState = CountRenderState;
  CountingTable.SetDeviceSamplerState = CountSampler;
  CountingTable.SetDeviceTextureStageState = CountStage;
  CountingTable.SetDeviceTexture = CountTexture;
  CountingTable.SetDevicePixelShader = CountShader;
  CountingTable.DrawDevicePrimitiveUP = CountDraw;
  SetBlendMode(1, 200);
  ASSERT_EQ(0, DrawImageAt(0, 0, image, 0));
  FlushVertexBatch(0);
  SetDirect3DCallTable(&CountingTable);
  StateCalls = DrawCalls = 0;
  ASSERT_EQ(0, DrawImageAt(20, 0, image, 0));
  const int first = StateCalls;
  ASSERT_EQ(0, DrawImageAt(40, 0, image, 0));
  const int second = StateCalls - first;
  FlushVertexBatch(0);
  SetDirect3DCallTable(nullptr);
  EXPECT_EQ(0, first);  // unchanged since the draw before
  EXPECT_EQ(0, second);
  EXPECT_EQ(1, DrawCalls);
  SetBlendMode(0, 0);
}

}  // namespace
