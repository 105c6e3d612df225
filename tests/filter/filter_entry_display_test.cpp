// Graphic filters and blends through the entry on the real device (Wine
// over Mesa, the harness's Xvfb): refusals, clipping and fitting, pass
// counts, the start-up self-test, every filter and blend on graphics by the
// shader path against the same call by the software path (programmable
// shaders switched off), the work-target road when the shaders are not
// known exact, a graphic inside a larger texture, DownScale into a render
// target, multi-sample graphics, shadow maps (Gauss against a float
// computation, the blur at the end of drawing into a map), the 32-pixel
// Gauss on a device without ps_2_x shaders, the software path into a
// render target.
#include <windows.h>

#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

#include "ReReziRader.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaFilter.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphView.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaShadowMap.h"
#include "RaRadaraServices.h"
#include "DeviceTestImages.h"
#include "WindowFixture.h"

namespace {

using PixelFunction = std::function<uint32_t(int, int)>;

uint32_t Picture(int x, int y) {
  const int r = (x * 8 + y * 3) & 255, g = (y * 8 + x * 5 + 40) & 255, b = (x * y * 7 + 90) & 255;
  const int a = (x * 7 + y * 11 + 20) & 255;
  return static_cast<uint32_t>(a) << 24 | r << 16 | g << 8 | b;
}
uint32_t Second(int x, int y) {
  const int r = (255 - x * 8) & 255, g = (x * 3 + y * 6 + 17) & 255, b = (y * 8 + 3) & 255;
  const int a = (y * 8 + x * 2 + 30) & 255;
  return static_cast<uint32_t>(a) << 24 | r << 16 | g << 8 | b;
}
int Channel(uint32_t v, int shift) { return static_cast<int>((v >> shift) & 255); }

int MakeGraph(int width, int height, const PixelFunction& pixel) {
  return test_support::MakeArgbGraph(width, height, pixel);
}

int MakeRenderTarget(int width, int height) { return test_support::MakeArgbRenderTargetGraph(width, height); }

uint32_t PixelOf(int graphic, int x, int y) {
  BaseImageRecord image;
  if (ReadGraphToBaseImage(graphic, &image) != 0) return 0xDEADDEAD;
  const uint32_t p = GetBaseImagePixelARGB8(&image, x, y);
  ReleaseBaseImage(&image);
  return p;
}

// Counts pixels of the w x h area differing by more than `tolerance` in a
// channel; the first few go to `text`.
int Differences(int a, int b, int w, int h, int tolerance, std::string* text) {
  BaseImageRecord ia, ib;
  if (ReadGraphToBaseImage(a, &ia) != 0) return -1;
  if (ReadGraphToBaseImage(b, &ib) != 0) {
    ReleaseBaseImage(&ia);
    return -1;
  }
  int count = 0;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const uint32_t pa = GetBaseImagePixelARGB8(&ia, x, y), pb = GetBaseImagePixelARGB8(&ib, x, y);
      for (int s = 0; s < 32; s += 8) {
        if (abs(Channel(pa, s) - Channel(pb, s)) > tolerance) {
          if (count++ < 4) {
            char line[96];
            snprintf(line, sizeof line, "(%d,%d) %08X %08X\n", x, y, pa, pb);
            *text += line;
          }
          break;
        }
      }
    }
  ReleaseBaseImage(&ia);
  ReleaseBaseImage(&ib);
  return count;
}

class FilterEntryTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(1, AreShadersUsable());
  }
  void TearDown() override {
    GraphicsSystem.shadersUsable = 1;
    EXPECT_EQ(0, LibraryShutDown());
    DeviceWindowTest::TearDown();
  }
  // Runs `call` on a fresh picture by the shader path and by the software
  // path; the two results agree within 2 per channel.
  void Agree(const char* what, const std::function<int(int graphic, int blend)>& call) {
    const int a = MakeGraph(32, 32, Picture), b = MakeGraph(32, 32, Picture), blend = MakeGraph(32, 32, Second);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_GE(blend, 0);
    ASSERT_EQ(0, call(a, blend)) << what;
    GraphicsSystem.shadersUsable = 0;
    ASSERT_EQ(0, call(b, blend)) << what << " (software)";
    GraphicsSystem.shadersUsable = 1;
    std::string text;
    EXPECT_EQ(0, Differences(a, b, 32, 32, 2, &text)) << what << "\n" << text;
    DeleteGraphicHandle(a);
    DeleteGraphicHandle(b);
    DeleteGraphicHandle(blend);
  }
};

TEST_F(FilterEntryTest, TheStartUpSelfTestFindsTheShadersExact) { EXPECT_EQ(1, GraphicsSystem.filtersExact); }

TEST_F(FilterEntryTest, RefusalsClippingAndPassCounts) {
  const int g = MakeGraph(16, 16, Picture), blend = MakeGraph(16, 16, Second);
  ASSERT_GE(g, 0);
  const GraphFilterArgs none{};
  EXPECT_EQ(-1, ApplyGraphFilterOrBlend({0, g, -1, g, 0, FILTER_INVERT, 4, 0, 4, 16, 0, 0, 0, 0, 0}, none));
  EXPECT_EQ(-1, ApplyGraphFilterOrBlend({0, g, -1, g, 0, FILTER_INVERT, 8, 0, 4, 16, 0, 0, 0, 0, 0}, none));
  EXPECT_EQ(-1, ApplyGraphFilter(g, 11, none));
  EXPECT_EQ(-1, ApplyGraphFilter(g, -1, none));
  EXPECT_EQ(-1, ApplyGraphFilterOrBlend({1, g, blend, g, 255, 17, 0, 0, 16, 16, 0, 0, 1, 0, 0}, none));
  EXPECT_EQ(-1, ApplyGraphFilterOrBlend({1, g, -1, g, 255, 0, 0, 0, 16, 16, 0, 0, 1, 0, 0}, none));
  EXPECT_EQ(-1, ApplyGraphFilter(-5, FILTER_INVERT, none));
  // Wholly outside: nothing, 0; the picture is unchanged.
  EXPECT_EQ(0, ApplyGraphFilterOrBlend({0, g, -1, g, 0, FILTER_INVERT, 20, 0, 30, 16, 0, 0, 0, 20, 0}, none));
  EXPECT_EQ(0, ApplyGraphFilterOrBlend({0, g, -1, g, 0, FILTER_INVERT, 0, 0, 16, 16, 0, 0, 0, 16, 0}, none));
  EXPECT_EQ(Picture(3, 3), PixelOf(g, 3, 3));
  // Pass counts.
  GraphFilterArgs hsb{};
  EXPECT_EQ(2, GraphFilterPassCount(0, FILTER_HSB, hsb));
  hsb.v[0] = 1;
  EXPECT_EQ(1, GraphFilterPassCount(0, FILTER_HSB, hsb));
  EXPECT_EQ(2, GraphFilterPassCount(0, FILTER_GAUSS, none));
  EXPECT_EQ(1, GraphFilterPassCount(0, FILTER_MONO, none));
  EXPECT_EQ(1, GraphFilterPassCount(1, 16, none));
  DeleteGraphicHandle(g);
  DeleteGraphicHandle(blend);
}

TEST_F(FilterEntryTest, ANegativeDestinationShortensFromTheLeft) {
  for (int software = 0; software < 2; software++) {
    const int g = MakeGraph(16, 16, Picture), dest = MakeGraph(16, 16, [](int, int) { return 0xFF000000u; });
    ASSERT_GE(dest, 0);
    GraphicsSystem.shadersUsable = software ? 0 : 1;
    // Invert of (0..16) drawn at x = -3: source columns 3..15 land at 0..12,
    // the rest of the destination stays.
    EXPECT_EQ(0, ApplyGraphFilterOrBlend({0, g, -1, dest, 0, FILTER_INVERT, 0, 0, 16, 16, 0, 0, 0, -3, 0},
                                         GraphFilterArgs{}));
    GraphicsSystem.shadersUsable = 1;
    EXPECT_EQ(Picture(3, 5) ^ 0x00FFFFFFu, PixelOf(dest, 0, 5)) << software;
    EXPECT_EQ(Picture(15, 5) ^ 0x00FFFFFFu, PixelOf(dest, 12, 5)) << software;
    EXPECT_EQ(0xFF000000u, PixelOf(dest, 13, 5)) << software;
    DeleteGraphicHandle(g);
    DeleteGraphicHandle(dest);
  }
}

TEST_F(FilterEntryTest, InvertInAGraphicInsideALargerTexture) {
  const int g = MakeGraph(20, 12, Picture);  // a 32 x 16 texture
  ASSERT_GE(g, 0);
  ASSERT_EQ(0, GraphFilterInvert(g));
  int wrong = 0;
  BaseImageRecord image;
  ASSERT_EQ(0, ReadGraphToBaseImage(g, &image));
  for (int y = 0; y < 12; y++)
    for (int x = 0; x < 20; x++) wrong += GetBaseImagePixelARGB8(&image, x, y) != (Picture(x, y) ^ 0x00FFFFFFu);
  ReleaseBaseImage(&image);
  EXPECT_EQ(0, wrong);
  DeleteGraphicHandle(g);
}

// A 100 x 60 graphic inside a 128 x 64 texture (a view of a larger
// picture, at the texture's corner or inside it), its last column and row
// bright and other colours all around it in the texture: the filters that
// read neighbours (Gauss, DownScale) give the software results, edges
// included, and leave the texture around the graphic alone.
constexpr int kViewW = 100, kViewH = 60;

uint32_t Framed(int vx, int vy, int x, int y) {
  const int ix = x - vx, iy = y - vy;
  if (ix < 0 || iy < 0 || ix >= kViewW || iy >= kViewH) return (x + y) & 1 ? 0xFF00FF00u : 0x20FF00FFu;
  if (ix == kViewW - 1 || iy == kViewH - 1) return 0xFFFFF0E0u;
  return Picture(ix, iy);
}

TEST_F(FilterEntryTest, AGraphicInsideALargerTextureReadsOnlyItsOwnRectangle) {
  struct Case {
    const char* what;
    std::function<int(int view, int dest)> call;
    bool toDest;  // the result is in `dest`, else in the view
  };
  const Case cases[] = {
      {"Gauss 8", [](int v, int) { return GraphFilterGauss(v, 8, 300); }, false},
      {"Gauss 16", [](int v, int) { return GraphFilterGauss(v, 16, 900); }, false},
      {"Gauss 32", [](int v, int) { return GraphFilterGauss(v, 32, 2500); }, false},
      {"DownScale 2", [](int v, int d) { return GraphFilterDownScale(v, d, 2); }, true},
      {"DownScale 4", [](int v, int d) { return GraphFilterDownScale(v, d, 4); }, true},
      {"DownScale 8", [](int v, int d) { return GraphFilterDownScale(v, d, 8); }, true},
  };
  for (const int offset : {0, 8}) {
    const int vx = offset, vy = offset / 4;
    for (const Case& c : cases) {
      int views[2], parents[2], dests[2];
      for (int software = 0; software < 2; software++) {
        parents[software] = MakeGraph(128, 64, [&](int x, int y) { return Framed(vx, vy, x, y); });
        ASSERT_GE(parents[software], 0);
        views[software] = CreateDerivedGraph(vx, vy, kViewW, kViewH, parents[software]);
        ASSERT_GE(views[software], 0);
        dests[software] = MakeGraph(kViewW, kViewH, [](int, int) { return 0xFF102030u; });
        GraphicHandleRecord* record = GetGraphicRecord(views[software], 0);
        ASSERT_NE(nullptr, record);
        ASSERT_EQ(128, record->pieces[0].entry->allocWidth);
        ASSERT_EQ(64, record->pieces[0].entry->allocHeight);
        ASSERT_EQ(vx, record->pieces[0].texX);
        GraphicsSystem.shadersUsable = software ? 0 : 1;
        const int result = c.call(views[software], dests[software]);
        GraphicsSystem.shadersUsable = 1;
        ASSERT_EQ(0, result) << c.what << (software ? " (software)" : "");
      }
      std::string text;
      const int shown = c.toDest ? dests[0] : views[0], want = c.toDest ? dests[1] : views[1];
      EXPECT_EQ(0, Differences(shown, want, kViewW, kViewH, 2, &text)) << c.what << " at " << offset << "\n" << text;
      // The texture around the view keeps its colours (but for the column
      // and row after it, where writing a graphic repeats its edge texels).
      BaseImageRecord parent;
      ASSERT_EQ(0, ReadGraphToBaseImage(parents[0], &parent));
      int touched = 0;
      for (int y = 0; y < 64; y++)
        for (int x = 0; x < 128; x++) {
          const bool inside = x >= vx && y >= vy && x <= vx + kViewW && y <= vy + kViewH;
          if (!inside) touched += GetBaseImagePixelARGB8(&parent, x, y) != Framed(vx, vy, x, y);
        }
      ReleaseBaseImage(&parent);
      EXPECT_EQ(0, touched) << c.what << " at " << offset;
      for (int i = 0; i < 2; i++) {
        DeleteGraphicHandle(views[i]);
        DeleteGraphicHandle(parents[i]);
        DeleteGraphicHandle(dests[i]);
      }
    }
  }
}

// A multi-sample render-target graphic is drawn through its multi-sample
// surface: filtered while it is the draw target, the filter reads what was
// drawn, and drawing after the filter continues on the filtered picture.
// The same steps on a plain render target give the same pixels.
TEST_F(FilterEntryTest, AMultiSampleDrawTargetIsResolvedForTheFilter) {
  const int picture = MakeGraph(32, 32, [](int x, int y) { return Picture(x, y) | 0xFF000000u; });
  ASSERT_GE(picture, 0);
  int targets[2];
  for (int sampled = 0; sampled < 2; sampled++) {
    GraphCreateSettings settings;
    InitDrawableGraphSettings(&settings, 32, 1);
    settings.multiSampleType = sampled ? 4 : 0;
    targets[sampled] = CreateBlankGraphHandle(&settings, 32, 32, 0, 0, 0);
    ASSERT_GT(targets[sampled], 0) << log_.Text();
  }
  if (IsMultiSampleGraph(targets[1]) != 1) GTEST_SKIP() << "no multi-sampling on this device";
  const int white = MakeGraph(4, 4, [](int, int) { return 0xFFFFFFFFu; });
  for (const int g : targets) {
    ASSERT_EQ(0, SetDrawTarget(g));
    ASSERT_EQ(0, ClearDrawTarget(nullptr));
    ASSERT_EQ(0, DrawImageAt(0, 0, picture, 0));
    ASSERT_EQ(0, GraphFilterGauss(g, 8, 400));
    ASSERT_EQ(0, DrawImageAt(2, 2, white, 0));
    ASSERT_EQ(0, SetDrawTarget(DRAW_TARGET_BACK_BUFFER));
  }
  std::string text;
  EXPECT_EQ(0, Differences(targets[1], targets[0], 32, 32, 2, &text)) << text;
  EXPECT_EQ(0xFFFFFFFFu, PixelOf(targets[1], 3, 3));
  // Filtered again while it is not the draw target: the result reaches the
  // multi-sample surface too (read-back and later drawing use it).
  for (const int g : targets) ASSERT_EQ(0, GraphFilterInvert(g));
  text.clear();
  EXPECT_EQ(0, Differences(targets[1], targets[0], 32, 32, 2, &text)) << text;
  EXPECT_EQ(0xFF000000u, PixelOf(targets[1], 3, 3));
  for (const int g : targets) DeleteGraphicHandle(g);
  DeleteGraphicHandle(picture);
  DeleteGraphicHandle(white);
}

// Shadow maps (one float channel): read back, filled with rectangles of
// values, blurred by an independent float computation of the 8- and
// 16-pixel kernels (texel pairs averaged, edge texels repeated).
struct MapPixels {
  int width = 0, height = 0;
  std::vector<float> v;
  float At(int x, int y) const {
    x = x < 0 ? 0 : x >= width ? width - 1 : x;
    y = y < 0 ? 0 : y >= height ? height - 1 : y;
    return v[y * width + x];
  }
};

ShadowMapRecord* MapRecord(int handle) {
  return reinterpret_cast<ShadowMapRecord*>(GetHandleRecordOfType(handle, HANDLETYPE_SHADOWMAP));
}

bool ReadMap(int handle, MapPixels* out) {
  ShadowMapRecord* map = MapRecord(handle);
  if (map == nullptr || map->surface == nullptr) return false;
  D3DSURFACE_DESC desc;
  if (map->surface->GetDesc(&desc) != D3D_OK || desc.Format != D3DFMT_R32F) return false;
  IDirect3DSurface9* copy = nullptr;
  EndDrawScene();
  if (CreateDeviceOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy, nullptr) !=
      D3D_OK)
    return false;
  bool ok = false;
  D3DLOCKED_RECT locked;
  if (GetDeviceRenderTargetData(map->surface, copy) == D3D_OK &&
      copy->LockRect(&locked, nullptr, D3DLOCK_READONLY) == D3D_OK) {
    out->width = desc.Width;
    out->height = desc.Height;
    out->v.resize(desc.Width * desc.Height);
    for (UINT y = 0; y < desc.Height; y++)
      memcpy(&out->v[y * desc.Width], static_cast<const char*>(locked.pBits) + y * locked.Pitch, desc.Width * 4);
    copy->UnlockRect();
    ok = true;
  }
  copy->Release();
  return ok;
}

struct MapRect {
  RECT rect;
  D3DCOLOR color;
};
void FillMap(int handle, std::initializer_list<MapRect> rects) {
  EndDrawScene();
  for (const MapRect& r : rects) ColorFillDeviceSurface(MapRecord(handle)->surface, &r.rect, r.color);
}

MapPixels GaussOf(const MapPixels& in, int width, float strength) {
  const int half = width / 2;
  double w[16], sum = 0;
  for (int i = 0; i < half; i++) {
    w[i] = exp(-0.5 * i * i / strength);
    sum += i == 0 ? w[i] : 2 * w[i];
  }
  MapPixels across = in, out = in;
  for (int pass = 0; pass < 2; pass++) {
    const MapPixels& from = pass == 0 ? in : across;
    MapPixels& to = pass == 0 ? across : out;
    for (int y = 0; y < in.height; y++)
      for (int x = 0; x < in.width; x++) {
        auto p = [&](int k) { return pass == 0 ? from.At(x + k, y) : from.At(x, y + k); };
        double r = w[0] * p(0);
        for (int j = 1; j < half; j++) r += w[j] * ((p(2 * j - 1) + p(2 * j)) / 2 + (p(-2 * j + 1) + p(-2 * j)) / 2);
        to.v[y * in.width + x] = static_cast<float>(r / sum);
      }
  }
  return out;
}

int MapDifferences(const MapPixels& a, const MapPixels& b, float tolerance, std::string* text) {
  if (a.width != b.width || a.height != b.height) return -1;
  int count = 0;
  for (int y = 0; y < a.height; y++)
    for (int x = 0; x < a.width; x++)
      if (fabsf(a.At(x, y) - b.At(x, y)) > tolerance && count++ < 4) {
        char line[96];
        snprintf(line, sizeof line, "(%d,%d) %f %f\n", x, y, a.At(x, y), b.At(x, y));
        *text += line;
      }
  return count;
}

TEST_F(FilterEntryTest, GaussOnAShadowMap) {
  const int map = MakeShadowMap(40, 24, 32, 1);
  ASSERT_GT(map, 0) << log_.Text();
  MapPixels before;
  if (!ReadMap(map, &before)) GTEST_SKIP() << "no R32F shadow map here";
  struct Case {
    int width, strength;
  };
  for (const Case c : {Case{8, 300}, Case{16, 900}}) {
    FillMap(map, {{{0, 0, 40, 24}, 0xFF282828},
                  {{10, 5, 30, 15}, 0xFFDCDCDC},
                  {{39, 0, 40, 24}, 0xFFFFFFFF},
                  {{0, 23, 40, 24}, 0xFFB4B4B4},
                  {{3, 2, 4, 20}, 0xFF909090}});
    ASSERT_TRUE(ReadMap(map, &before));
    ASSERT_EQ(0, GraphFilterGauss(map, c.width, c.strength));
    MapPixels after;
    ASSERT_TRUE(ReadMap(map, &after));
    std::string text;
    EXPECT_EQ(0, MapDifferences(after, GaussOf(before, c.width, c.strength / 100.0f), 2e-3f, &text))
        << c.width << " " << c.strength << "\n"
        << text;
  }
  // Into another map of the same size, and refused in software.
  const int other = MakeShadowMap(40, 24, 32, 1);
  ASSERT_GT(other, 0);
  FillMap(other, {{{0, 0, 40, 24}, 0xFF000000}});
  ASSERT_EQ(0, ApplyGraphFilterOrBlend({0, map, -1, other, 0, FILTER_INVERT, 0, 0, 40, 24, 0, 0, 0, 0, 0},
                                       GraphFilterArgs{}));
  MapPixels source, inverted;
  ASSERT_TRUE(ReadMap(map, &source));
  ASSERT_TRUE(ReadMap(other, &inverted));
  EXPECT_NEAR(1.0f - source.At(20, 10), inverted.At(20, 10), 2e-3f);
  EXPECT_NEAR(1.0f - source.At(0, 0), inverted.At(0, 0), 2e-3f);
  GraphicsSystem.shadersUsable = 0;
  EXPECT_EQ(-1, GraphFilterGauss(map, 8, 300));
  GraphicsSystem.shadersUsable = 1;
  EXPECT_EQ(0, DeleteShadowMap(map));
  EXPECT_EQ(0, DeleteShadowMap(other));
}

// The blur count: set and read back, refused when negative or for anything
// but a shadow map; drawing into a map with a hard edge keeps the edge with
// count 0 and ends with the Gauss filter of 8 pixels and the count's
// strength otherwise, as applying that filter by hand gives.
TEST_F(FilterEntryTest, ShadowMapBlurAtTheEndOfDrawing) {
  const int blurred = MakeShadowMap(32, 16, 32, 1), byHand = MakeShadowMap(32, 16, 32, 1);
  ASSERT_GT(blurred, 0) << log_.Text();
  ASSERT_GT(byHand, 0);
  MapPixels probe;
  if (!ReadMap(blurred, &probe)) GTEST_SKIP() << "no R32F shadow map here";
  const int graphic = MakeGraph(8, 8, Picture);
  EXPECT_EQ(0, GetShadowMapBlurCount(blurred));
  EXPECT_EQ(-1, SetShadowMapBlurCount(blurred, -1));
  EXPECT_EQ(-1, SetShadowMapBlurCount(graphic, 3));
  EXPECT_EQ(-1, SetShadowMapBlurCount(0, 3));
  EXPECT_EQ(-1, GetShadowMapBlurCount(graphic));
  EXPECT_EQ(-1, GetShadowMapBlurCount(-1));
  EXPECT_EQ(0, GetShadowMapBlurCount(blurred));

  auto drawHardEdge = [](int map) {
    ASSERT_EQ(0, BeginShadowMapDraw(map));
    FillMap(map, {{{0, 0, 16, 16}, 0xFF000000}, {{16, 0, 32, 16}, 0xFFFFFFFF}});
    ASSERT_EQ(0, EndShadowMapDraw());
  };
  for (const int count : {0, 1, 400}) {
    ASSERT_EQ(0, SetShadowMapBlurCount(blurred, count));
    EXPECT_EQ(count, GetShadowMapBlurCount(blurred));
    drawHardEdge(blurred);
    drawHardEdge(byHand);  // its count stays 0
    MapPixels got, want;
    ASSERT_TRUE(ReadMap(blurred, &got));
    if (count == 0) {
      EXPECT_EQ(0.0f, got.At(15, 8));
      EXPECT_EQ(1.0f, got.At(16, 8));
      continue;
    }
    ASSERT_EQ(0, GraphFilterGauss(byHand, 8, count));
    ASSERT_TRUE(ReadMap(byHand, &want));
    std::string text;
    EXPECT_EQ(0, MapDifferences(got, want, 1e-5f, &text)) << count << "\n" << text;
    if (count == 400) {
      EXPECT_GT(got.At(15, 8), 0.1f);
      EXPECT_LT(got.At(16, 8), 0.9f);
    }
  }
  EXPECT_EQ(0, GetShadowMapBeingDrawn());
  DeleteGraphicHandle(graphic);
  DeleteShadowMap(blurred);
  DeleteShadowMap(byHand);
}

// A device that takes only ps_2_0 shaders (the 32-texel Gauss kernel's
// ps_2_x shader is refused): the 32-pixel Gauss still gives the software
// result, through the software blur and a shader copy.
HRESULT RefuseLongPixelShaders(const DWORD* code, IDirect3DPixelShader9** shader) {
  if (code != nullptr && code[0] == 0xFFFF0201u) return D3DERR_INVALIDCALL;
  return GetRealDirect3DCallTable()->CreateDevicePixelShader(code, shader);
}

TEST_F(FilterEntryTest, Gauss32WithoutLongShadersFallsBackToSoftware) {
  Direct3DCallTable table = *GetRealDirect3DCallTable();
  table.CreateDevicePixelShader = RefuseLongPixelShaders;
  SetDirect3DCallTable(&table);
  Agree("Gauss 32 on ps_2_0", [](int g, int) { return GraphFilterGauss(g, 32, 1600); });
  SetDirect3DCallTable(nullptr);
  EXPECT_NE(std::string::npos, log_.Text().find("Gauss_32Pixel_PS.pso"));
}

// The software path writes into a render-target destination (its texture
// is not lockable) and leaves the rest of it alone.
TEST_F(FilterEntryTest, SoftwarePathIntoARenderTarget) {
  const int g = MakeGraph(16, 16, Picture), dest = MakeRenderTarget(20, 20);
  ASSERT_GE(dest, 0);
  ASSERT_EQ(0, SetDrawTarget(dest));
  ASSERT_EQ(0, ClearDrawTarget(nullptr));
  ASSERT_EQ(0, SetDrawTarget(DRAW_TARGET_BACK_BUFFER));
  const uint32_t cleared = PixelOf(dest, 19, 19);
  GraphicsSystem.shadersUsable = 0;
  EXPECT_EQ(
      0, ApplyGraphFilterOrBlend({0, g, -1, dest, 0, FILTER_INVERT, 0, 0, 16, 16, 0, 0, 0, 2, 3}, GraphFilterArgs{}));
  GraphicsSystem.shadersUsable = 1;
  EXPECT_EQ(Picture(3, 5) ^ 0x00FFFFFFu, PixelOf(dest, 5, 8));
  EXPECT_EQ(Picture(15, 15) ^ 0x00FFFFFFu, PixelOf(dest, 17, 18));
  EXPECT_EQ(cleared, PixelOf(dest, 19, 19));
  EXPECT_EQ(cleared, PixelOf(dest, 1, 1));
  DeleteGraphicHandle(g);
  DeleteGraphicHandle(dest);
}

// The filter shaders loaded before a device rebuild draw on the new device.
TEST_F(FilterEntryTest, FiltersWorkAfterADeviceRebuild) {
  const int before = MakeGraph(16, 16, Picture);
  ASSERT_EQ(0, GraphFilterInvert(before));
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  const int after = MakeGraph(16, 16, Picture);
  ASSERT_EQ(0, GraphFilterInvert(after));
  EXPECT_EQ(Picture(5, 7) ^ 0x00FFFFFFu, PixelOf(after, 5, 7));
  EXPECT_EQ(Picture(15, 0) ^ 0x00FFFFFFu, PixelOf(after, 15, 0));
  DeleteGraphicHandle(before);
  DeleteGraphicHandle(after);
}

TEST_F(FilterEntryTest, WithoutExactShadersTheWorkTargetGivesTheSamePixels) {
  const int a = MakeGraph(32, 32, Picture), b = MakeGraph(32, 32, Picture);
  ASSERT_EQ(0, GraphFilterMono(a, 40, -30));
  GraphicsSystem.filtersExact = 0;
  ASSERT_EQ(0, GraphFilterMono(b, 40, -30));
  GraphicsSystem.filtersExact = 1;
  std::string text;
  EXPECT_EQ(0, Differences(a, b, 32, 32, 0, &text)) << text;
  DeleteGraphicHandle(a);
  DeleteGraphicHandle(b);
}

TEST_F(FilterEntryTest, DownScaleIntoARenderTargetFitsTheDestination) {
  const int source = MakeGraph(32, 32, [](int, int) { return 0x80C06020u; });
  const int dest = MakeRenderTarget(8, 8);
  ASSERT_GE(dest, 0);
  // By 3 (as 4) from (0, 0) at (4, 4): 16 x 16 source pixels fit, 4 x 4 out.
  ASSERT_EQ(0, ApplyGraphFilterOrBlend({0, source, -1, dest, 0, FILTER_DOWN_SCALE, 0, 0, 32, 32, 0, 0, 0, 4, 4},
                                       GraphFilterArgs{1, {3}}));
  EXPECT_EQ(0x80C06020u, PixelOf(dest, 4, 4));
  EXPECT_EQ(0x80C06020u, PixelOf(dest, 7, 7));
  EXPECT_NE(0x80C06020u, PixelOf(dest, 3, 3));
  DeleteGraphicHandle(source);
  DeleteGraphicHandle(dest);
}

TEST_F(FilterEntryTest, EveryFilterAgreesWithTheSoftwarePath) {
  const unsigned int dark = MakeColorValue(20, 40, 60), bright = MakeColorValue(240, 200, 180);
  Agree("Mono", [](int g, int) { return GraphFilterMono(g, -60, 90); });
  Agree("Gauss 8", [](int g, int) { return GraphFilterGauss(g, 8, 300); });
  Agree("Gauss 32", [](int g, int) { return GraphFilterGauss(g, 32, 1600); });
  Agree("Gauss 0", [](int g, int) { return GraphFilterGauss(g, 16, 0); });
  Agree("BrightClip", [&](int g, int) { return GraphFilterBrightClip(g, 5, 120, 1, bright, 128); });
  Agree("Hsb relative", [](int g, int) { return GraphFilterHsb(g, 0, 70, 40, 20); });
  Agree("Hsb absolute", [](int g, int) { return GraphFilterHsb(g, 1, 200, -30, -10); });
  Agree("Invert", [](int g, int) { return GraphFilterInvert(g); });
  Agree("Level", [](int g, int) { return GraphFilterLevel(g, 30, 220, 150, 10, 240); });
  Agree("TwoColor", [&](int g, int) { return GraphFilterTwoColor(g, 120, dark, 255, bright, 128); });
  Agree("PremultipliedAlpha", [](int g, int) { return GraphFilterPremultipliedAlpha(g); });
  Agree("InterpolatedAlpha", [](int g, int) { return GraphFilterInterpolatedAlpha(g); });
  Agree("GradientMap", [](int g, int blend) { return GraphFilterGradientMap(g, blend, 0); });
}

TEST_F(FilterEntryTest, EveryBlendAgreesWithTheSoftwarePath) {
  for (int type = 0; type < GRAPH_BLEND_TYPES; type++) {
    if (type == GRAPH_BLEND_RGBA_MIX) continue;
    char what[32];
    snprintf(what, sizeof what, "blend %d", type);
    Agree(what, [&](int g, int blend) { return GraphBlend(g, blend, g, 200, type); });
  }
  Agree("RGBA mix 5 3 0 6", [](int g, int blend) { return GraphBlendRgbaMix(g, blend, g, 5, 3, 0, 6); });
  Agree("RGBA mix 2 2 2 7", [](int g, int blend) { return GraphBlendRgbaMix(g, blend, g, 2, 2, 2, 7); });
  Agree("RGBA mix 4 5 6 7", [](int g, int blend) { return GraphBlendRgbaMix(g, blend, g, 4, 5, 6, 7); });
  Agree("RGBA mix 0 1 2 3", [](int g, int blend) { return GraphBlendRgbaMix(g, blend, g, 0, 1, 2, 3); });
}

TEST_F(FilterEntryTest, RgbaMixShaderChoice) {
  RgbaMixChoice choice = {2, 2, 2, 7, 0, "", 0};
  int &r = choice.red, &g = choice.green, &b = choice.blue, &a = choice.alpha;
  const int& entry = choice.entry;
  const int& swap = choice.swap;
  const char* name = choice.name;
  ASSERT_EQ(0, ChooseRgbaMixShader(&choice));
  EXPECT_STREQ("RGBAMix_SBSBSBBA.pso", name);
  EXPECT_EQ(-1, entry);
  r = 4, g = 5, b = 6, a = 7;
  ASSERT_EQ(0, ChooseRgbaMixShader(&choice));
  EXPECT_EQ(27, entry);  // 0 1 2 3 with the graphics swapped
  EXPECT_EQ(1, swap);
  r = 5, g = 5, b = 5, a = 2;
  ASSERT_EQ(0, ChooseRgbaMixShader(&choice));
  EXPECT_STREQ("RGBAMix_SGSGSGBB.pso", name);
  EXPECT_EQ(1, swap);
  r = 5, g = 3, b = 0, a = 6;
  ASSERT_EQ(0, ChooseRgbaMixShader(&choice));
  EXPECT_STREQ("RGBAMix_Base.pso", name);
  r = 8;
  EXPECT_EQ(-1, ChooseRgbaMixShader(&choice));
}

}  // namespace
