// Software mode through the started library's public calls: a graphic as
// draw target takes the draws into its memory image (one with alpha is
// refused); a blend graphic weights the image draws by its alpha through
// the ramp its parameters give; textured triangles (a mirrored rotated draw,
// a quad) skip fully transparent texels in the multiply mode as the blits
// do; masked text reaches the screen where the mask is set; the on-screen
// log after the screen height shrinks, and its wrap of a double-byte
// character at the line's end.
#include <windows.h>

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "DeRede.h"
#include "RiDov.h"
#include "RiRerEzi.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VeRavoro.h"
#include "WindowFixture.h"

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr uint32_t kBackground = 0x00C86432;  // red 200, green 100, blue 50

class SoftLibraryTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, SetUseHardwareRendering(0));
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(0, DeviceLayer.hardware);
    ASSERT_EQ(32, GetColorBitDepth());
    ASSERT_EQ(0, SetDrawTarget(-2));
    ASSERT_EQ(0, SetClipRect(0, 0, kWidth, kHeight));
    ASSERT_EQ(0, SetBlendMode(0, 255));
    FillMemImgRectRaw(&SoftwareScreenImage, nullptr, kBackground);
  }
  static uint32_t ScreenPixel(int x, int y) {
    uint32_t v;
    memcpy(&v, SoftwareScreenImage.pixels + static_cast<size_t>(y) * SoftwareScreenImage.header->pitch + x * 4, 4);
    return v & 0xFFFFFF;
  }
  // A graphic from a picture given by a pixel function (0xAARRGGBB; the
  // alpha byte kept only with `alpha`), a blend graphic with `blend`.
  template <class Pixel>
  static int MakeGraphic(int w, int h, Pixel&& pixel, int alpha, int blend = 0) {
    BaseImageRecord image;
    if ((alpha ? CreateBaseImageARGB8(w, h, &image) : CreateBaseImageXRGB8(w, h, &image)) != 0) return -1;
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++)
        reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(image.pixels) + y * image.pitch)[x] = pixel(x, y);
    GraphCreateSettings saved, settings;
    GetGraphCreateSettings(&saved);
    settings = saved;
    settings.blend = blend;
    SetGraphCreateSettings(&settings);
    const int handle = MakeGraphFromBaseImages(&image, nullptr, 0);
    SetGraphCreateSettings(&saved);
    ReleaseBaseImage(&image);
    return handle;
  }
  static uint32_t GraphPixel(int handle, int x, int y) {
    BaseImageRecord read;
    if (ReadGraphToBaseImage(handle, &read) != 0) return 0xDEADDEAD;
    const uint32_t v = GetBaseImagePixelARGB8(&read, x, y) & 0xFFFFFF;
    ReleaseBaseImage(&read);
    return v;
  }
};

TEST_F(SoftLibraryTest, AGraphicAsDrawTargetTakesTheDraws) {
  const int target = MakeBlankGraph(32, 24, 1, 0);
  ASSERT_GT(target, 0) << log_.Text();
  const int sprite = MakeGraphic(
      4, 4, [](int, int) { return 0xFF0000FFu; }, 0);
  ASSERT_GT(sprite, 0);
  ASSERT_EQ(0, SetDrawTarget(target));
  EXPECT_EQ(target, GetDrawTarget());
  ASSERT_EQ(0, DrawRectShape(2, 3, 10, 8, MakeColorValue(255, 0, 0), 1));
  ASSERT_EQ(0, DrawImageAt(20, 10, sprite, 0));
  ASSERT_EQ(0, DrawRectShape(28, 20, 60, 60, MakeColorValue(0, 255, 0), 1));  // cut at the graphic's edge
  for (int y = 0; y < 24; y++)
    for (int x = 0; x < 32; x++) {
      const bool box = x >= 2 && x < 10 && y >= 3 && y < 8, blue = x >= 20 && x < 24 && y >= 10 && y < 14;
      const bool green = x >= 28 && y >= 20;
      const uint32_t want = box ? 0xFF0000u : blue ? 0x0000FFu : green ? 0x00FF00u : 0u;
      ASSERT_EQ(want, GraphPixel(target, x, y)) << x << "," << y;
    }
  // The screen saw none of it.
  for (int y = 0; y < 40; y++)
    for (int x = 0; x < 70; x++) ASSERT_EQ(kBackground, ScreenPixel(x, y)) << x << "," << y;
  // Back on the screen, the graphic draws what it holds.
  ASSERT_EQ(0, SetDrawTarget(-2));
  ASSERT_EQ(0, DrawImageAt(100, 100, target, 0));
  EXPECT_EQ(0xFF0000u, ScreenPixel(105, 105));
  EXPECT_EQ(0x0000FFu, ScreenPixel(121, 111));
  EXPECT_EQ(0u, ScreenPixel(100, 100));
  // A graphic with an alpha channel is refused, the target left as it was.
  const int withAlpha = MakeBlankGraph(16, 16, 1, 1);
  ASSERT_GT(withAlpha, 0);
  EXPECT_EQ(-1, SetDrawTarget(withAlpha));
  EXPECT_EQ(-2, GetDrawTarget());
  ASSERT_EQ(0, DrawRectShape(0, 0, 4, 4, MakeColorValue(0, 255, 0), 1));
  EXPECT_EQ(0x00FF00u, ScreenPixel(1, 1));
  // Deleting the graphic being drawn into sends the draws back to the screen.
  ASSERT_EQ(0, SetDrawTarget(target));
  ASSERT_EQ(0, DeleteGraphicHandle(target));
  ASSERT_EQ(0, DrawRectShape(200, 200, 204, 204, MakeColorValue(255, 255, 255), 1));
  EXPECT_EQ(0xFFFFFFu, ScreenPixel(201, 201));
  DeleteGraphicHandle(sprite);
  DeleteGraphicHandle(withAlpha);
}

// The ramp of blend kind 1 from border position p and range w, written out
// from its definition: s = 256 - ((65536 / (w + 1) + 256) p) / 256, entry
// i = 256 i / (w + 1) + s clamped to 0..255.
int Ramp(int p, int w, int i) {
  const int s = 256 - ((65536 / (w + 1) + 256) * p) / 256;
  const int v = 256 * i / (w + 1) + s;
  return v < 0 ? 0 : v > 255 ? 255 : v;
}

TEST_F(SoftLibraryTest, ABlendGraphicWeightsTheImageDrawsByItsAlpha) {
  // Blend alpha grows across the graphic: 4 x + y / 8 (0..255).
  const int blend = MakeGraphic(
      64, 32, [](int x, int y) { return static_cast<uint32_t>(4 * x + y / 8) << 24 | 0x123456u; }, 1, 1);
  ASSERT_GT(blend, 0) << log_.Text();
  const int sprite = MakeGraphic(
      64, 32, [](int, int) { return 0xFF10F0A0u; }, 0);
  ASSERT_GT(sprite, 0);
  struct Case {
    int kind, p1, p2;
  } cases[] = {{1, 128, 255}, {1, 128, 0}, {1, 200, 40}, {1, 0, 0}, {0, 0, 0}};
  for (const Case& c : cases) {
    FillMemImgRectRaw(&SoftwareScreenImage, nullptr, kBackground);
    ASSERT_EQ(0, SetBlendGraphParam(blend, c.kind, c.p1, c.p2));
    ASSERT_EQ(0, DrawImageAt(10, 20, sprite, 0));
    ASSERT_EQ(0, SetBlendGraph(-1, 0, nullptr));
    int wrong = 0, mixed = 0;
    for (int y = 0; y < 32; y++)
      for (int x = 0; x < 64; x++) {
        const int a = 4 * x + y / 8;
        const int w = c.kind == 1 ? Ramp(c.p1, c.p2, a) : a;
        uint32_t want = 0;
        for (int ch = 0; ch < 3; ch++) {
          const int s = (0x10F0A0 >> (8 * ch)) & 255, d = (kBackground >> (8 * ch)) & 255;
          want |= static_cast<uint32_t>((s * w + d * (256 - w)) >> 8) << (8 * ch);
        }
        mixed += w > 0 && w < 255;
        if (ScreenPixel(10 + x, 20 + y) != want && wrong++ < 3)
          ADD_FAILURE() << "kind " << c.kind << " (" << c.p1 << ", " << c.p2 << ") at " << x << "," << y << ": "
                        << std::hex << ScreenPixel(10 + x, 20 + y) << " not " << want;
      }
    EXPECT_EQ(0, wrong);
    if (c.kind == 1 && c.p2 == 255) {
      EXPECT_GT(mixed, 1000);
    }
  }
  // Without the blend graphic the image draws whole again.
  FillMemImgRectRaw(&SoftwareScreenImage, nullptr, kBackground);
  ASSERT_EQ(0, DrawImageAt(10, 20, sprite, 0));
  EXPECT_EQ(0x10F0A0u, ScreenPixel(10, 20));
  DeleteGraphicHandle(blend);
  DeleteGraphicHandle(sprite);
}

// Multiply mode, transparency on: the alpha-0 surround of a sprite stays as
// the screen had it whether the draw goes through a blit or the textured
// triangles (mirrored rotated draw, quad).
TEST_F(SoftLibraryTest, MultiplyDrawsLeaveFullyTransparentTexelsInEveryRoute) {
  const int sprite = MakeGraphic(
      16, 16, [](int x, int y) { return x >= 4 && x < 12 && y >= 4 && y < 12 ? 0xFF808080u : 0x00FFFFFFu; }, 1);
  ASSERT_GT(sprite, 0);
  ASSERT_EQ(0, SetBlendMode(4, 255));
  struct Route {
    const char* name;
    int (*draw)(int sprite);
  } routes[] = {
      {"rotated", [](int g) { return DrawImageRotated(40.0f, 40.0f, 1.0, 0.5, g, 1, 0); }},
      {"rotated, mirrored", [](int g) { return DrawImageRotated(40.0f, 40.0f, 1.0, 0.0, g, 1, 1); }},
      {"rotated, turned", [](int g) { return DrawImageRotated(40.0f, 40.0f, 1.0, 0.5, g, 1, 1); }},
      {"quad", [](int g) { return DrawImageQuad(32, 32, 48, 32, 48, 48, 32, 48, g, 1); }},
  };
  for (const Route& r : routes) {
    FillMemImgRectRaw(&SoftwareScreenImage, nullptr, kBackground);
    ASSERT_EQ(0, r.draw(sprite)) << r.name;
    int changed = 0, black = 0;
    for (int y = 20; y < 60; y++)
      for (int x = 20; x < 60; x++) {
        changed += ScreenPixel(x, y) != kBackground;
        black += ScreenPixel(x, y) == 0;
      }
    EXPECT_GT(changed, 40) << r.name;
    EXPECT_LE(changed, 8 * 8 + 16) << r.name;  // the opaque centre (its edges may move a pixel)
    EXPECT_EQ(0, black) << r.name;
  }
  DeleteGraphicHandle(sprite);
}

TEST_F(SoftLibraryTest, MaskedTextReachesTheScreenWhereTheMaskIsSet) {
  ASSERT_EQ(0, SetMaskScreenRequest(1));
  const RECT all = {0, 0, kWidth, kHeight}, open = {0, 0, 60, kHeight};
  ASSERT_EQ(0, FillMaskScreenRect(&all, 0));
  ASSERT_EQ(0, FillMaskScreenRect(&open, 1));
  ASSERT_EQ(0, SwitchMaskScreenUse(1));
  const int font = CreateFontToHandle(nullptr, 24, -1, 0, -1, -1, 0, -1);
  ASSERT_NE(-1, font);
  // Through the text work image (blend parameter below 255) and straight.
  for (int parameter : {128, 255}) {
    FillMemImgRectRaw(&SoftwareScreenImage, nullptr, 0);
    ASSERT_EQ(0, SetBlendMode(1, parameter));
    ASSERT_EQ(0, DrawTextWithFont(10, 10, "MMMMMMMMMM", MakeColorValue(255, 255, 255), font, 0, 0));
    int inside = 0, outside = 0;
    for (int y = 0; y < 60; y++)
      for (int x = 0; x < 300; x++) (x < 60 ? inside : outside) += ScreenPixel(x, y) != 0;
    EXPECT_GT(inside, 50) << "parameter " << parameter;
    EXPECT_EQ(0, outside) << "parameter " << parameter;
  }
  SwitchMaskScreenUse(0);
  SetMaskScreenRequest(0);
  DeleteHandle(font);
}

// Ink (white pixels) in the on-screen log's row (16 pixels high).
int RowInk(int row) {
  int ink = 0;
  for (int y = 16 * row; y < 16 * row + 16; y++)
    for (int x = 0; x < 200; x++) {
      uint32_t v;
      memcpy(&v, SoftwareScreenImage.pixels + static_cast<size_t>(y) * SoftwareScreenImage.header->pitch + x * 4, 4);
      ink += (v & 0xFFFFFF) == 0xFFFFFF;
    }
  return ink;
}

TEST_F(SoftLibraryTest, OnScreenLogKeepsWritingIntoShownRowsAfterTheScreenShrinks) {
  ClearScreenLog();
  for (int i = 0; i < 30; i++) ScreenLogPrintf("\n");  // the 30 rows of 480 lines, empty
  const int savedHeight = Screen.drawHeight;
  Screen.drawHeight = 240;  // 15 rows
  ScreenLogPrintf("ZZZZ\nYYYY");
  ASSERT_EQ(0, SetOnScreenLogDrawFlag(1));
  FillMemImgRectRaw(&SoftwareScreenImage, nullptr, 0);
  ASSERT_EQ(0, DrawOnScreenLogOverFrame());
  const int z = RowInk(13), y = RowInk(14);
  Screen.drawHeight = savedHeight;
  SetOnScreenLogDrawFlag(0);
  EXPECT_GT(z, 10);
  EXPECT_GT(y, 10);
  ClearScreenLog();
}

TEST_F(SoftLibraryTest, OnScreenLogWrapsADoubleByteCharacterWhole) {
  ASSERT_EQ(0, SetOnScreenLogDrawFlag(1));
  auto rowPixels = [](int row) {
    std::vector<uint32_t> pixels;
    for (int y = 16 * row; y < 16 * row + 16; y++)
      for (int x = 0; x < 64; x++) {
        uint32_t v;
        memcpy(&v, SoftwareScreenImage.pixels + static_cast<size_t>(y) * SoftwareScreenImage.header->pitch + x * 4, 4);
        pixels.push_back(v & 0xFFFFFF);
      }
    return pixels;
  };
  // "あb" as a row of its own.
  const char wide[] =
      "\x82\xa0"
      "b";
  ClearScreenLog();
  ScreenLogPrintf("%s", wide);
  FillMemImgRectRaw(&SoftwareScreenImage, nullptr, 0);
  ASSERT_EQ(0, DrawOnScreenLogOverFrame());
  const std::vector<uint32_t> reference = rowPixels(0);
  // 253 bytes leave one byte in the 254-byte row: the character goes whole
  // onto the next row.
  ClearScreenLog();
  ScreenLogPrintf("%s%s", std::string(253, '.').c_str(), wide);
  FillMemImgRectRaw(&SoftwareScreenImage, nullptr, 0);
  ASSERT_EQ(0, DrawOnScreenLogOverFrame());
  EXPECT_TRUE(rowPixels(1) == reference);
  int ink = 0;
  for (uint32_t v : reference) ink += v == 0xFFFFFF;
  EXPECT_GT(ink, 20);
  SetOnScreenLogDrawFlag(0);
  ClearScreenLog();
}

}  // namespace
