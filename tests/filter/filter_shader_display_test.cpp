// The filter and blend shaders on the real Direct3D 9 (Wine over Mesa, the
// harness's Xvfb) against the software loops: each shader draws a 32 x 32
// picture (with its constants as the filters write them) into an A8R8G8B8
// target, two-pass filters through a render-target texture, and every
// pixel read back is within 2 per channel of the software result on the
// same pixels (pixels at a threshold's edge excepted).
#include <windows.h>

#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "ReReziRader.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaFilterSoft.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaShaderCode.h"
#include "DeviceTestImages.h"
#include "WindowFixture.h"

namespace {

constexpr int kSize = 32;         // picture and texture size
constexpr int kTarget = 64;       // render-target size
constexpr int kTolerance = 2;     // per channel, shader against software
const DWORD kClear = 0x5A3C1E0F;  // the target before a draw

struct Float4 {
  float v[4];
};

int Channel(uint32_t v, int shift) { return static_cast<int>((v >> shift) & 255); }
int Luminance4096(uint32_t p) { return 1224 * Channel(p, 16) + 2404 * Channel(p, 8) + 466 * Channel(p, 0); }

// The test pictures: every channel runs over its range in steps that are
// not multiples of each other; alphas from 0 to 255.
uint32_t SourcePixel(int x, int y) {
  const int r = (x * 8 + y * 3) & 255, g = (y * 8 + x * 5 + 40) & 255, b = (x * y * 7 + 90) & 255;
  const int a = (x * 7 + y * 11) & 255;
  return static_cast<uint32_t>(a) << 24 | r << 16 | g << 8 | b;
}
uint32_t BlendPixel(int x, int y) {
  const int r = (255 - x * 8) & 255, g = (x * 3 + y * 6 + 17) & 255, b = (y * 8 + 3) & 255;
  const int a = (y * 8 + x * 2 + 30) & 255;
  return static_cast<uint32_t>(a) << 24 | r << 16 | g << 8 | b;
}

// An ARGB8 base image owning its pixels.
struct Image {
  BaseImageRecord record{};
  Image(int w, int h, const std::function<uint32_t(int, int)>& fill) {
    EXPECT_EQ(0, CreateBaseImageARGB8(w, h, &record));
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) At(x, y) = fill(x, y);
  }
  ~Image() { ReleaseBaseImage(&record); }
  uint32_t& At(int x, int y) {
    return reinterpret_cast<uint32_t*>(static_cast<unsigned char*>(record.pixels) + y * record.pitch)[x];
  }
  BaseImageRecord* operator&() { return &record; }
};

using test_support::MakeArgbTexture;

class FilterShaderTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(1, AreShadersUsable());
    ASSERT_TRUE(target_.Create(kTarget, kTarget));
    ASSERT_EQ(D3D_OK, CreateDeviceTexture(kSize, kSize, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                          &work_, nullptr));
    ASSERT_EQ(D3D_OK, work_->GetSurfaceLevel(0, &workSurface_));
    source_ = MakeArgbTexture(kSize, kSize, SourcePixel);
    blend_ = MakeArgbTexture(kSize, kSize, BlendPixel);
    ASSERT_NE(nullptr, source_);
    ASSERT_NE(nullptr, blend_);
  }
  void TearDown() override {
    if (DeviceLayer.device != nullptr) {
      EndDrawScene();
      SetDevicePixelShader(nullptr);
      for (int s = 0; s < 2; s++) SetDeviceTexture(s, nullptr);
      IDirect3DSurface9* back = nullptr;
      if (GetDeviceBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back) == D3D_OK) {
        SetDeviceRenderTarget(0, back);
        ReleaseComObject(back);
      }
    }
    for (IDirect3DPixelShader9* shader : shaders_) ReleaseComObject(shader);
    for (IUnknown* object : std::initializer_list<IUnknown*>{source_, blend_, workSurface_, work_}) {
      if (object != nullptr) ReleaseComObject(object);
    }
    target_.Release();
    EXPECT_EQ(0, LibraryShutDown());
    DeviceWindowTest::TearDown();
  }

  IDirect3DPixelShader9* Shader(const char* name) {
    const void* code = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(0, FindShaderCode(2, name, &code, &size)) << name;
    return ShaderFromCode(code);
  }
  IDirect3DPixelShader9* ShaderFromCode(const void* code) {
    IDirect3DPixelShader9* shader = nullptr;
    if (code == nullptr || CreateDevicePixelShader(static_cast<const DWORD*>(code), &shader) != D3D_OK) {
      ADD_FAILURE() << "no shader";
      return nullptr;
    }
    shaders_.push_back(shader);
    return shader;
  }

  // One quad: the whole source texture (t0 and t1) into (0, 0) of `surface`
  // at 1 / divisor size, through `shader` with `constants` from c0.
  void Draw(IDirect3DSurface9* surface, IDirect3DBaseTexture9* stage0, IDirect3DBaseTexture9* stage1,
            IDirect3DPixelShader9* shader, const std::vector<Float4>& constants, bool linear, int divisor = 1) {
    test_support::BeginRawShaderDraw(surface, kClear, linear);
    SetDeviceTexture(0, stage0);
    SetDeviceTexture(1, stage1);
    SetDevicePixelShader(shader);
    if (!constants.empty()) {
      SetDevicePixelShaderConstantF(0, constants[0].v, static_cast<UINT>(constants.size()));
    }
    const float w = static_cast<float>(kSize / divisor);
    struct Vertex {
      float x, y, z, rhw, u0, v0, u1, v1;
    };
    const Vertex quad[4] = {{-0.5f, -0.5f, 0, 1, 0, 0, 0, 0},
                            {w - 0.5f, -0.5f, 0, 1, 1, 0, 1, 0},
                            {-0.5f, w - 0.5f, 0, 1, 0, 1, 0, 1},
                            {w - 0.5f, w - 0.5f, 0, 1, 1, 1, 1, 1}};
    SetDeviceFVF(D3DFVF_XYZRHW | D3DFVF_TEX2);
    EXPECT_EQ(D3D_OK, DrawDevicePrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex)));
    EndDrawScene();
  }

  // The target's top-left n x n pixels.
  std::vector<uint32_t> Read(int n) { return target_.Read(n, n); }

  // Compares the n x n result with the software image; `skip` leaves out
  // pixels (by source position) whose result hangs on a threshold.
  void Compare(const char* what, const std::vector<uint32_t>& got, Image& want, int n,
               const std::function<bool(int, int)>& skip = nullptr) {
    int failures = 0;
    std::string text;
    for (int y = 0; y < n; y++) {
      for (int x = 0; x < n; x++) {
        if (skip && skip(x, y)) continue;
        const uint32_t g = got[y * n + x], w = want.At(x, y);
        for (int shift = 0; shift < 32; shift += 8) {
          if (abs(Channel(g, shift) - Channel(w, shift)) > kTolerance) {
            if (failures++ < 6) {
              char line[128];
              snprintf(line, sizeof line, "(%d,%d) shader %08X software %08X\n", x, y, g, w);
              text += line;
            }
            break;
          }
        }
      }
    }
    EXPECT_EQ(0, failures) << what << "\n" << text;
  }

  // A one-pass filter of the source picture against its software loop.
  void OnePass(const char* name, const std::vector<Float4>& constants, bool linear,
               const std::function<int(Image&, Image&)>& software, IDirect3DBaseTexture9* stage1 = nullptr,
               const std::function<bool(int, int)>& skip = nullptr) {
    Draw(target_.Surface(), source_, stage1, Shader(name), constants, linear);
    Image src(kSize, kSize, SourcePixel), out(kSize, kSize, [](int, int) { return kClear; });
    ASSERT_EQ(0, software(src, out)) << name;
    Compare(name, Read(kSize), out, kSize, skip);
  }

  test_support::ReadableTarget target_;
  IDirect3DTexture9* work_ = nullptr;
  IDirect3DSurface9* workSurface_ = nullptr;
  IDirect3DTexture9* source_ = nullptr;
  IDirect3DTexture9* blend_ = nullptr;
  std::vector<IDirect3DPixelShader9*> shaders_;
};

const Float4 kWeights = {{0.299f, 0.587f, 0.114f, 0.0f}};
// The first and last texel centres of the whole picture, as the Gauss and
// blend shaders take a rectangle.
const Float4 kFirstTexel = {{0.5f / kSize, 0.5f / kSize, 0, 0}};
const Float4 kLastTexel = {{(kSize - 0.5f) / kSize, (kSize - 0.5f) / kSize, 0, 0}};

TEST_F(FilterShaderTest, ColorFiltersAgreeWithSoftware) {
  // Mono, Cb' and Cr' as the entry converts -60 and 90.
  const float cb = -60 * 100.0f / 255, cr = 90 * 100.0f / 255;
  const float cbN = cb / 200, crN = cr / 200;
  OnePass("Mono.pso", {kWeights, {{1.402f * crN, -0.34414f * cbN - 0.71414f * crN, 1.772f * cbN, 0}}}, false,
          [&](Image& s, Image& o) { return SoftFilterMono(&s, &o, cb, cr); });
  OnePass("Invert.pso", {}, false, [](Image& s, Image& o) { return SoftFilterInvert(&s, &o); });
  OnePass("PremultipliedAlpha.pso", {}, false, [](Image& s, Image& o) { return SoftFilterPremultipliedAlpha(&s, &o); });
  OnePass("InterpolatedAlpha.pso", {}, false, [](Image& s, Image& o) { return SoftFilterInterpolatedAlpha(&s, &o); });
}

TEST_F(FilterShaderTest, ThresholdFiltersAgreeAwayFromTheThreshold) {
  const float threshold = 120;
  const float fill[4] = {0.2f, 0.9f, 0.4f, 0.6f};
  auto nearThreshold = [&](int x, int y) {
    return abs(Luminance4096(SourcePixel(x, y)) - static_cast<int>(threshold * 4096)) < 2 * 4096;
  };
  const float t = threshold / 255;
  const char* names[4] = {"BrightClipLess.pso", "BrightClipFillLess.pso", "BrightClipGreater.pso",
                          "BrightClipFillGreater.pso"};
  for (int i = 0; i < 4; i++) {
    const int compare = i < 2 ? FILTER_COMPARE_LESS : FILTER_COMPARE_GREATER, withFill = i & 1;
    OnePass(
        names[i], {{{t, t, t, t}}, kWeights, {{fill[0], fill[1], fill[2], fill[3]}}}, false,
        [&](Image& s, Image& o) { return SoftFilterBrightClip(&s, &o, compare, threshold, withFill, fill); }, nullptr,
        nearThreshold);
  }
  const float dark[4] = {0.1f, 0.2f, 0.3f, 0.4f}, bright[4] = {0.9f, 0.8f, 0.7f, 1.0f};
  OnePass(
      "TwoColor.pso",
      {{{0.299f, 0.587f, 0.114f, t}},
       {{dark[0], dark[1], dark[2], dark[3]}},
       {{bright[0], bright[1], bright[2], bright[3]}}},
      false, [&](Image& s, Image& o) { return SoftFilterTwoColor(&s, &o, threshold, dark, bright); }, nullptr,
      nearThreshold);
}

TEST_F(FilterShaderTest, LevelAndGradientMapAgreeThroughTheirTables) {
  for (const float gamma : {1.0f, 2.2f, 0.6f}) {
    IDirect3DTexture9* table = MakeArgbTexture(256, 1, [&](int x, int) {
      const DWORD v = static_cast<DWORD>(LevelGammaEntry(x, gamma));
      return v << 24 | v << 16 | v << 8 | v;
    });
    const float mn = 30, mx = 220, omn = 10, omx = 240;
    OnePass(
        "Level.pso", {{{mn / 255, 1 / ((mx - mn) / 255), omn / 255, omx / 255}}}, true,
        [&](Image& s, Image& o) { return SoftFilterLevel(&s, &o, mn, mx, gamma, omn, omx); }, table);
    ReleaseComObject(table);
  }
  // A 20-texel gradient in the first row of a 32 x 2 texture.
  auto gradient = [](int x, int y) -> uint32_t {
    if (y > 0 || x >= 20) return 0xFFFF00FF;
    return static_cast<uint32_t>(255 - x * 3) << 24 | (x * 12) << 16 | (200 - x * 5) << 8 | (x * 7 + 20);
  };
  IDirect3DTexture9* texture = MakeArgbTexture(32, 2, gradient);
  Image image(20, 1, gradient);
  for (int reverse = 0; reverse < 2; reverse++) {
    OnePass(
        reverse ? "GradientMapRev.pso" : "GradientMap.pso", {kWeights, {{20.0f / 32, 0.25f, 0, 0}}}, false,
        [&](Image& s, Image& o) { return SoftFilterGradientMap(&s, &o, &image, reverse); }, texture);
  }
  ReleaseComObject(texture);
}

TEST_F(FilterShaderTest, HsbAgreesInBothModes) {
  struct Case {
    int mode;
    float hue, saturation, brightness;  // as the entry converts them: x 100 / 255 for the last two
  };
  const Case cases[] = {{0, 0, 0, 0}, {0, 70, 40, 15}, {0, -150, -60, -30}, {1, 200, 20, 0}, {1, 360, -100, 10}};
  for (const Case& c : cases) {
    float h = c.hue / 360.0f;
    h = c.mode == 1 ? (h < 0 ? 0 : h > 1 ? 1 : h) : (h < -0.5f ? -0.5f : h > 0.5f ? 0.5f : h);
    float s = c.saturation / 100.0f;
    s = s < -1 ? -1 : s > 1 ? 1 : s;
    const Float4 k = {{h * 6, s > 0 ? 5 * s : s, c.brightness / 100.0f, 0}};
    int hueI = static_cast<int>(k.v[0] * 256);
    if (c.mode == 1 && hueI >= 1536) hueI -= 1536;
    const Float4 integers = {{static_cast<float>(hueI), static_cast<float>(static_cast<int>(k.v[1] * 256) + 256),
                              static_cast<float>(static_cast<int>(k.v[2] * 256)), 0}};
    const std::vector<Float4> constants = {k, {{0.5f, 0.5f, 0.5f, 0.5f}}, {{1, 1, 1, 1}}, integers};
    if (c.mode == 1) {
      Draw(target_.Surface(), source_, nullptr, Shader("Hsb_HSB_HLOCK.pso"), constants, false);
    } else {
      Draw(workSurface_, source_, nullptr, Shader("Hsb_RGB_TO_HSB.pso"), constants, false);
      Draw(target_.Surface(), work_, nullptr, Shader("Hsb_HSB_TO_RGB.pso"), constants, false);
    }
    Image src(kSize, kSize, SourcePixel), out(kSize, kSize, [](int, int) { return 0u; });
    ASSERT_EQ(0, SoftFilterHsb(&src, &out, c.mode, c.hue, c.saturation, c.brightness));
    char what[64];
    snprintf(what, sizeof what, "Hsb mode %d hue %g", c.mode, c.hue);
    Compare(what, Read(kSize), out, kSize);
  }
}

TEST_F(FilterShaderTest, GaussAndDownScaleAgree) {
  for (const int width : {8, 16, 32}) {
    const float strength = width * 0.5f;
    const float* w = GaussWeights(width, strength);
    ASSERT_NE(nullptr, w);
    const char* name = width == 8    ? "Gauss_08Pixel_PS.pso"
                       : width == 16 ? "Gauss_16Pixel_PS.pso"
                                     : "Gauss_32Pixel_PS.pso";
    IDirect3DPixelShader9* shader = Shader(name);
    for (int pass = 0; pass < 2; pass++) {
      std::vector<Float4> c(12, Float4{{0, 0, 0, 0}});
      c[0] = {{static_cast<float>(kSize), static_cast<float>(kSize), 0, 0}};
      for (int i = 0; i < 16; i++) c[1 + i / 4].v[i % 4] = i < width / 2 ? w[i] : 0;
      for (int j = 1; j < 16; j++) c[5 + j / 4].v[j % 4] = (2 * j - 0.5f) / kSize;
      c[9].v[pass] = 1;
      c[10] = kFirstTexel;
      c[11] = kLastTexel;
      if (pass == 0) {
        Draw(workSurface_, source_, nullptr, shader, c, true);
      } else {
        Draw(target_.Surface(), work_, nullptr, shader, c, true);
      }
    }
    Image src(kSize, kSize, SourcePixel), out(kSize, kSize, [](int, int) { return 0u; });
    ASSERT_EQ(0, SoftFilterGauss(&src, &out, width, strength));
    Compare(name, Read(kSize), out, kSize);
  }
  for (const int divisor : {2, 4, 8}) {
    std::vector<Float4> taps;
    if (divisor == 2) taps.push_back({{0, 0, 0, 0}});
    const int span = divisor == 4 ? 1 : 3;
    for (int y = -span; divisor > 2 && y <= span; y += 2) {
      for (int x = -span; x <= span; x += 2)
        taps.push_back({{static_cast<float>(x) / kSize, static_cast<float>(y) / kSize, 0, 0}});
    }
    char name[32];
    snprintf(name, sizeof name, "DownScaleX%d.pso", divisor);
    Draw(target_.Surface(), source_, nullptr, Shader(name), taps, true, divisor);
    Image src(kSize, kSize, SourcePixel), out(kSize / divisor, kSize / divisor, [](int, int) { return 0u; });
    ASSERT_EQ(0, SoftFilterDownScale(&src, &out, divisor));
    Compare(name, Read(kSize / divisor), out, kSize / divisor);
  }
}

TEST_F(FilterShaderTest, EveryBlendModeAgrees) {
  static const char* const kNames[17] = {
      "Normal",    "",          "Multiple",       "Difference",  "Add",           "Screen",
      "Overlay",   "Dodge",     "Burn",           "Darken",      "Lighten",       "SoftLight",
      "HardLight", "Exclusion", "Normal_AlphaCh", "Add_AlphaCh", "Multiple_AOnly"};
  for (const float ratio : {1.0f, 0.6f}) {
    for (int type = 0; type <= 16; type++) {
      if (type == 1) continue;
      char name[48];
      snprintf(name, sizeof name, "BasBF_%s.pso", kNames[type]);
      Draw(target_.Surface(), source_, blend_, Shader(name),
           {{{ratio, ratio, ratio, ratio}}, {{1, 1, 1, 0}}, kFirstTexel, kLastTexel}, true);
      Image src(kSize, kSize, SourcePixel), bl(kSize, kSize, BlendPixel),
          out(kSize, kSize, [](int, int) { return 0u; });
      ASSERT_EQ(0, SoftBlendBasic(&src, &bl, &out, type, ratio));
      snprintf(name, sizeof name, "%s at %g", kNames[type], ratio);
      Compare(name, Read(kSize), out, kSize);
    }
  }
}

TEST_F(FilterShaderTest, RgbaMixTableFilesAndBaseAgree) {
  Image src(kSize, kSize, SourcePixel), bl(kSize, kSize, BlendPixel);
  auto check = [&](IDirect3DPixelShader9* shader, int r, int g, int b, int a, const char* what) {
    Draw(target_.Surface(), source_, blend_, shader,
         {{{1, 1, 1, 1}}, {{r + 0.5f, g + 0.5f, b + 0.5f, a + 0.5f}}, kFirstTexel, kLastTexel}, false);
    Image out(kSize, kSize, [](int, int) { return 0u; });
    ASSERT_EQ(0, SoftBlendRgbaMix(&src, &bl, &out, r, g, b, a));
    Compare(what, Read(kSize), out, kSize);
  };
  char what[64];
  for (int entry = 0; entry < RGBA_MIX_ENTRIES; entry++) {
    ASSERT_NE(nullptr, ShaderCode.rgbaMix[entry].code) << entry;
    snprintf(what, sizeof what, "table entry %d", entry);
    check(ShaderFromCode(ShaderCode.rgbaMix[entry].code), entry >> 6, (entry >> 4) & 3, (entry >> 2) & 3, entry & 3,
          what);
  }
  const char letters[] = "RGBA";
  for (int c = 0; c < 3; c++) {
    for (int a = 0; a < 4; a++) {
      snprintf(what, sizeof what, "RGBAMix_S%cS%cS%cB%c.pso", letters[c], letters[c], letters[c], letters[a]);
      check(Shader(what), c, c, c, 4 + a, what);
    }
  }
  for (int a = 0; a < 4; a++) {
    snprintf(what, sizeof what, "RGBAMix_SRSGSBB%c.pso", letters[a]);
    check(Shader(what), 0, 1, 2, 4 + a, what);
  }
  IDirect3DPixelShader9* base = Shader("RGBAMix_Base.pso");
  check(base, 5, 3, 0, 6, "base 5 3 0 6");
  check(base, 7, 7, 1, 2, "base 7 7 1 2");
  check(base, 8, 4, 2, 1, "base with red out of range");
}

}  // namespace
