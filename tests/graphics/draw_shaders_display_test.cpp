// The drawing pixel shaders on the real Direct3D 9 (Wine over Mesa, the
// harness's Xvfb): every untextured and textured variant draws a 4 x 4 quad
// into an A8R8G8B8 render target with blending off, and each pixel read
// back (colour and alpha) equals the variant's formula computed here;
// the mask-blend shader keeps the target where the mask is 0 with blending
// off as well.
#include <windows.h>

#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraphics.h"
#include "DeviceTestImages.h"
#include "WindowFixture.h"

namespace {

constexpr int kCell = 4;    // quad size, texture size
constexpr int kStride = 5;  // cells one pixel apart
constexpr int kTargetWidth = 640;
constexpr int kTargetHeight = 64;
constexpr int kPerRow = kTargetWidth / kStride;

struct Color {
  double r, g, b, a;  // 0..1
};

Color FromArgb(DWORD v) {
  return {((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0, (v >> 24) / 255.0};
}

double Sat(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

// The image and the blend graphic: every texel different, alphas from 0 to
// 255, colours across the range.
const DWORD kImage[kCell * kCell] = {0xFF000000, 0x80FF8040, 0x00FFFFFF, 0x40C02010, 0xFF10E0A0, 0xC0808080,
                                     0x20FF0000, 0xE000FF00, 0x600000FF, 0xFFFFFFFF, 0x01402040, 0xA0F0F0F0,
                                     0x7F7F7F7F, 0xFE3399CC, 0x10FFFF00, 0xD0123456};
const DWORD kBlend[kCell * kCell] = {0x00FFFFFF, 0xFF204060, 0x80A0A0A0, 0x40FF00FF, 0xC0000000, 0xFFE0E0E0,
                                     0x10102030, 0x9080FF80, 0x20FFFFFF, 0x00000000, 0xFF00FF00, 0x60606060,
                                     0xB0B0B0B0, 0x30C03060, 0xF00000FF, 0x70FEDCBA};

// One draw setting: the vertex colour and the per-draw constant c0.
struct Setting {
  DWORD diffuse;
  float c0[4];
};

// What a variant writes for one pixel, from the meaning of its digits:
// blend 0 none / 1 mix by ratio / 2 wipe alpha / 3 blend alpha; type 0
// plain, 1 multiply-toward-white, 2 inverted source, 3 four times, 4
// premultiplied, 5 premultiplied inverted, 6 premultiplied four times;
// ignored texture colour and alpha; alpha-channel output premultiplied.
Color Expected(bool textured, int blend, int type, int igcolor, int igtalpha, int ach, const Color& image,
               const Color& blendTexel, const Color& d, const float* c0) {
  Color s = d;
  double* ch[3] = {&s.r, &s.g, &s.b};
  if (!textured) {
    // The vertex colour alone; premultiplied types weigh it by its alpha.
    for (double* c : ch) {
      if (type == 1) *c = 1 - s.a * (1 - *c);
      if (type == 2) *c = 1 - *c;
      if (type == 3) *c = Sat(4 * *c);
      if (type == 4) *c *= s.a;
      if (type == 5) *c = (1 - *c) * s.a;
      if (type == 6) *c = Sat(4 * *c * s.a);
      if (ach && (type == 0 || type == 2 || type == 3)) *c *= s.a;
    }
    return {Sat(s.r), Sat(s.g), Sat(s.b), Sat(s.a)};
  }
  s = image;
  if (igtalpha) s.a = 1;
  if (igcolor) s.r = s.g = s.b = type >= 4 ? s.a : 1;
  if (blend == 1) {  // mix toward the blend graphic by the ratio
    const double w = c0[3];
    s = {s.r + (blendTexel.r - s.r) * w, s.g + (blendTexel.g - s.g) * w, s.b + (blendTexel.b - s.b) * w,
         s.a + (blendTexel.a - s.a) * w};
  } else if (blend == 2) {  // wipe: threshold-shifted blend alpha, scaled
    s.a = Sat(Sat(blendTexel.a + c0[3]) * s.a * c0[2]);
  } else if (blend == 3) {  // the blend graphic's alpha weighs the image's
    s.a *= blendTexel.a;
  }
  for (double* c : ch) {
    if (type == 2) *c = 1 - *c;
    if (type == 5) *c = s.a - *c;  // inverse of a premultiplied colour
  }
  s.r *= d.r;
  s.g *= d.g;
  s.b *= d.b;
  if (blend != 2) s.a *= d.a;  // the wipe's alpha is its coverage alone
  for (double* c : ch) {
    if (type == 1) *c = 1 - s.a * (1 - *c);
    if (type == 3) *c = Sat(4 * *c);
    if (type == 4 || type == 5) *c *= d.a;
    if (type == 6) *c = Sat(4 * *c * d.a);
    if (ach && (type == 0 || type == 2 || type == 3)) *c *= s.a;
  }
  return {Sat(s.r), Sat(s.g), Sat(s.b), Sat(s.a)};  // the target's range
}

IDirect3DTexture9* MakeTexture(const DWORD* texels) {
  return test_support::MakeArgbTexture(kCell, kCell, [&](int x, int y) { return texels[y * kCell + x]; });
}

class DrawShadersTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(1, AreShadersUsable());
    ASSERT_TRUE(target_.Create(kTargetWidth, kTargetHeight));
    image_ = MakeTexture(kImage);
    blend_ = MakeTexture(kBlend);
    ASSERT_NE(nullptr, image_);
    ASSERT_NE(nullptr, blend_);
  }
  void TearDown() override {
    if (DeviceLayer.device != nullptr) {
      SetDevicePixelShader(nullptr);
      SetDeviceTexture(0, nullptr);
      SetDeviceTexture(1, nullptr);
      IDirect3DSurface9* back = nullptr;
      if (GetDeviceBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back) == D3D_OK) {
        SetDeviceRenderTarget(0, back);
        ReleaseComObject(back);
      }
    }
    ReleaseComObject(image_);
    ReleaseComObject(blend_);
    target_.Release();
    EXPECT_EQ(0, LibraryShutDown());
    DeviceWindowTest::TearDown();
  }

  // Draw states that leave the shader output alone: no blending, alpha
  // test, Z, fog or culling; point sampling; the target cleared to grey.
  void BeginTarget() {
    test_support::BeginRawShaderDraw(target_.Surface(), D3DCOLOR_ARGB(0x55, 0x55, 0x55, 0x55), false);
    SetDeviceTexture(0, image_);
    SetDeviceTexture(1, blend_);
  }

  // One quad into cell `cell`. Untextured: position and colour; textured
  // without a blend graphic: the image's coordinates; with one: the blend
  // graphic's coordinates first (mirrored left to right, so that a
  // swapped pair shows), then the image's.
  void DrawCell(int cell, int blend, bool textured, DWORD diffuse) {
    const float x0 = static_cast<float>(cell % kPerRow * kStride) - 0.5f;
    const float y0 = static_cast<float>(cell / kPerRow * kStride) - 0.5f;
    struct Vertex {
      float x, y, z, rhw;
      DWORD color;
      float u0, v0, u1, v1;
    };
    Vertex quad[4];
    for (int i = 0; i < 4; i++) {
      const float u = static_cast<float>(i & 1), v = static_cast<float>(i >> 1);
      quad[i] = {x0 + u * kCell, y0 + v * kCell, 0, 1, diffuse, u, v, u, v};
      if (blend != 0) quad[i].u0 = 1 - u;
    }
    // Pack each vertex's leading fields: 20 bytes untextured, 28 with one
    // coordinate pair, 36 with two.
    DWORD fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;
    if (textured) fvf |= blend != 0 ? D3DFVF_TEX2 : D3DFVF_TEX1;
    const size_t stride = textured ? (blend != 0 ? 36 : 28) : 20;
    unsigned char packed[4 * sizeof(Vertex)];
    for (int i = 0; i < 4; i++) memcpy(packed + i * stride, &quad[i], stride);
    SetDeviceFVF(fvf);
    EXPECT_EQ(D3D_OK, DrawDevicePrimitiveUP(D3DPT_TRIANGLESTRIP, 2, packed, static_cast<UINT>(stride)));
  }

  std::vector<uint32_t> ReadTarget() { return target_.Read(kTargetWidth, kTargetHeight); }

  // Compares cell `cell` with the formula; returns the failures as text.
  std::string CheckCell(const std::vector<uint32_t>& pixels, int cell, const char* name, bool textured, int blend,
                        int type, int igcolor, int igtalpha, int ach, const Setting& setting) {
    std::string failures;
    const int cx = cell % kPerRow * kStride, cy = cell / kPerRow * kStride;
    for (int y = 0; y < kCell; y++) {
      for (int x = 0; x < kCell; x++) {
        const Color want = Expected(textured, blend, type, igcolor, igtalpha, ach, FromArgb(kImage[y * kCell + x]),
                                    FromArgb(kBlend[y * kCell + (kCell - 1 - x)]), FromArgb(setting.diffuse),
                                    setting.c0);
        const DWORD got = pixels[(cy + y) * kTargetWidth + cx + x];
        const double channels[4] = {want.a, want.r, want.g, want.b};
        for (int k = 0; k < 4; k++) {
          const int expected = static_cast<int>(lround(channels[k] * 255));
          const int actual = static_cast<int>((got >> (24 - 8 * k)) & 0xFF);
          if (abs(expected - actual) > 1) {
            char line[160];
            snprintf(line, sizeof line, "%s texel (%d,%d) %c: want %d got %d (pixel %08lX)\n", name, x, y, "argb"[k],
                     expected, actual, got);
            failures += line;
          }
        }
      }
    }
    return failures;
  }

  void RunTable(const Setting& setting) {
    BeginTarget();
    SetDevicePixelShaderConstantF(0, setting.c0, 1);
    int cell = 0;
    for (int slot = 0; slot < BASE_NONETEX_SHADERS; slot++, cell++) {
      ASSERT_NE(nullptr, GraphicsSystem.nonetexShaders[slot]) << slot;
      SetDevicePixelShader(GraphicsSystem.nonetexShaders[slot]);
      DrawCell(cell, 0, false, setting.diffuse);
    }
    for (int slot = 0; slot < BASE_BLEND_SHADERS; slot++, cell++) {
      ASSERT_NE(nullptr, GraphicsSystem.blendShaders[slot]) << slot;
      SetDevicePixelShader(GraphicsSystem.blendShaders[slot]);
      DrawCell(cell, slot / 56, true, setting.diffuse);
    }
    const std::vector<uint32_t> pixels = ReadTarget();
    std::string failures;
    char name[64];
    cell = 0;
    for (int slot = 0; slot < BASE_NONETEX_SHADERS; slot++, cell++) {
      snprintf(name, sizeof name, "nonetex type%d ach%d", slot / 2, slot % 2);
      failures += CheckCell(pixels, cell, name, false, 0, slot / 2, 0, 0, slot % 2, setting);
    }
    for (int slot = 0; slot < BASE_BLEND_SHADERS; slot++, cell++) {
      const int blend = slot / 56, type = slot / 8 % 7, igcolor = slot / 4 % 2, igtalpha = slot / 2 % 2, ach = slot % 2;
      snprintf(name, sizeof name, "blend%d type%d igcolor%d igtalpha%d ach%d", blend, type, igcolor, igtalpha, ach);
      failures += CheckCell(pixels, cell, name, true, blend, type, igcolor, igtalpha, ach, setting);
    }
    EXPECT_EQ("", failures.substr(0, 3000)) << failures.size() / 60 << " channels or so differ";
  }

  test_support::ReadableTarget target_;
  IDirect3DTexture9* image_ = nullptr;
  IDirect3DTexture9* blend_ = nullptr;
};

// A tint and a half blend parameter; mixing ratio 100 / wipe with a soft
// subtracting threshold at twice the image alpha.
TEST_F(DrawShadersTest, EveryVariantGivesItsFormulaWithATint) { RunTable({0x96C8783C, {0.0f, 0.0f, 2.0f, -0.3f}}); }

// White at full alpha; the ratio and threshold of the other kinds.
TEST_F(DrawShadersTest, EveryVariantGivesItsFormulaInWhite) {
  RunTable({0xFFFFFFFF, {0.0f, 0.0f, 1.0f, 100.0f / 255.0f}});
}

// A dark tint at a low parameter; the hard wipe's constant (alpha test form).
TEST_F(DrawShadersTest, EveryVariantGivesItsFormulaDark) { RunTable({0x2040A0FF, {0.0f, 0.0f, 4.0f, 0.25f}}); }

// Where the mask is 0 the mask-blend shader leaves the target even with
// blending and the alpha test off; where it is set the colour buffer shows.
TEST_F(DrawShadersTest, TheMaskBlendShaderKeepsTheTargetWithoutBlending) {
  const DWORD color[kCell * kCell] = {0xFFC86432, 0xFFC86432, 0xFFC86432, 0xFFC86432, 0xFF123456, 0xFF123456,
                                      0xFF123456, 0xFF123456, 0xFFC86432, 0xFFC86432, 0xFFC86432, 0xFFC86432,
                                      0xFF123456, 0xFF123456, 0xFF123456, 0xFF123456};
  const DWORD mask[kCell * kCell] = {0xFF000000, 0x00000000, 0x01000000, 0x00FFFFFF, 0x80000000, 0x00000000,
                                     0xFF000000, 0x00000000, 0x00000000, 0x02000000, 0x00000000, 0xFFFFFFFF,
                                     0x00000000, 0x00000000, 0x40000000, 0x00000000};
  IDirect3DTexture9* colorTexture = MakeTexture(color);
  IDirect3DTexture9* maskTexture = MakeTexture(mask);
  ASSERT_NE(nullptr, colorTexture);
  ASSERT_NE(nullptr, maskTexture);
  BeginTarget();
  SetDeviceTexture(0, colorTexture);
  SetDeviceTexture(1, maskTexture);
  SetDevicePixelShader(GraphicsSystem.maskBlendShader);
  DrawCell(0, 0, true, 0xFFFFFFFF);
  const std::vector<uint32_t> pixels = ReadTarget();
  for (int i = 0; i < kCell * kCell; i++) {
    const DWORD want = (mask[i] >> 24) != 0 ? color[i] : 0x55555555u;
    EXPECT_EQ(want, pixels[(i / kCell) * kTargetWidth + i % kCell]) << "texel " << i;
  }
  ReleaseComObject(colorTexture);
  ReleaseComObject(maskTexture);
}

}  // namespace
