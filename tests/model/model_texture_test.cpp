// Model texture images (no device): the three default TGA files decode to
// their stated pixels; power-of-two rounding with the device cap; the
// height-to-normal-map conversion against the formula; colour and alpha
// brought to one size; refusals without leaks.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "ModelRecords.h"
#include "MoDerov.h"
#include "TestFiles.h"
#include "VuViderezaDevice.h"
#include "ZiDezaru.h"

using test_support::MakeBmp;

namespace {

struct Rgba {
  int r, g, b, a;
};

Rgba Pixel(BaseImageRecord* image, int x, int y) {
  Rgba p = {-1, -1, -1, -1};
  GetBaseImagePixelRGBA(image, x, y, &p.r, &p.g, &p.b, &p.a);
  return p;
}

class ModelTextureTest : public ::testing::Test {
 protected:
  test_support::LogCapture log_{test_support::SharedTempFolder("RIDOV_MODEL_TEST_FOLDER", "model")};
  BaseImageRecord color_ = {}, alpha_ = {};
  void SetUp() override {
    DeviceCaps.maxTextureWidth = 8192;
    DeviceCaps.maxTextureHeight = 8192;
  }
  void TearDown() override { DeviceCaps.maxTextureWidth = DeviceCaps.maxTextureHeight = 0; }
  int Load(const std::vector<uint8_t>& color, const std::vector<uint8_t>& alpha, int normalMap = 0, float factor = 1.0f,
           int turn = 0) {
    return LoadModelTextureImages(
        &color_, &alpha_,
        {color.empty() ? nullptr : color.data(), static_cast<int>(color.size()), alpha.empty() ? nullptr : alpha.data(),
         static_cast<int>(alpha.size()), normalMap, factor, turn});
  }
  void Release() {
    if (color_.pixels != nullptr) ReleaseBaseImage(&color_);
    if (alpha_.pixels != nullptr) ReleaseBaseImage(&alpha_);
  }
};

TEST(ModelDefaultTextures, TheThreeFilesDecodeToTheirStatedPixels) {
  const int sizes[3] = {84, 76, 172};
  const int widths[3] = {8, 8, 256};
  for (int i = 0; i < 3; i++) {
    const ModelTextureFile& file = ModelDefaultTextureFiles[i];
    EXPECT_EQ(sizes[i], file.size);
    EXPECT_EQ(0, memcmp(file.bytes + file.size - 18, "TRUEVISION-XFILE.\0", 18)) << i;
    BaseImageRecord image = {};
    ASSERT_EQ(0, LoadImageToBaseImage(nullptr, file.bytes, file.size, 1, &image, 0)) << i;
    ASSERT_EQ(widths[i], image.width);
    ASSERT_EQ(8, image.height);
    for (int y = 0; y < 8; y++) {
      for (int x = 0; x < image.width; x++) {
        const Rgba p = Pixel(&image, x, y);
        if (i == 0) {
          EXPECT_TRUE(p.r == 255 && p.g == 255 && p.b == 255 && p.a == 255) << x << "," << y;
        } else {
          const int grey = i == 1 ? 0 : (x / 64) * 0x55;
          EXPECT_TRUE(p.r == grey && p.g == grey && p.b == grey) << i << ": " << x << "," << y << " " << p.r;
        }
      }
    }
    ReleaseBaseImage(&image);
  }
}

TEST_F(ModelTextureTest, SidesRoundUpToPowersOfTwoWithinHalfTheDeviceLimit) {
  ASSERT_EQ(0, Load(MakeBmp(100, 60, [](int x, int y) { return 0x102030u + x + y; }), {}));
  EXPECT_EQ(128, color_.width);
  EXPECT_EQ(64, color_.height);
  EXPECT_EQ(nullptr, alpha_.pixels);
  Release();

  DeviceCaps.maxTextureWidth = 4096;
  ASSERT_EQ(0, Load(MakeBmp(5000, 3, [](int, int) { return 0x808080u; }), {}));
  EXPECT_EQ(2048, color_.width);
  EXPECT_EQ(4, color_.height);
  Release();

  ASSERT_EQ(0, Load(MakeBmp(1, 1, [](int, int) { return 0x112233u; }), {}));
  EXPECT_EQ(1, color_.width);
  EXPECT_EQ(1, color_.height);
  Release();
}

TEST_F(ModelTextureTest, TheTurnFlagTurnsByHalfATurn) {
  auto corner = [](int x, int y) -> uint32_t {
    return x == 0 && y == 0 ? 0xFF0000u : x == 15 && y == 7 ? 0x0000FFu : 0u;
  };
  ASSERT_EQ(0, Load(MakeBmp(16, 8, corner), {}, 0, 1.0f, 1));
  EXPECT_EQ(255, Pixel(&color_, 0, 0).b);
  EXPECT_EQ(255, Pixel(&color_, 15, 7).r);
  Release();
}

TEST_F(ModelTextureTest, AFlatHeightImageBecomesAFlatNormalMap) {
  const std::vector<uint8_t> flat = MakeBmp(4, 4, [](int, int) { return 0x646464u; });
  struct Case {
    float factor;
    int r, g, b;
  };
  for (const Case& c : {Case{1.0f, 127, 127, 255}, Case{0.0f, 0, 0, 0}, Case{-3.0f, 0, 0, 0}}) {
    ASSERT_EQ(0, Load(flat, {}, 1, c.factor));
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < 4; x++) {
        const Rgba p = Pixel(&color_, x, y);
        EXPECT_TRUE(p.r == c.r && p.g == c.g && p.b == c.b)
            << c.factor << " at " << x << "," << y << ": " << p.r << " " << p.g << " " << p.b;
      }
    Release();
  }
}

TEST_F(ModelTextureTest, NormalsWrapRoundTheEdges) {
  // Red heights: one raised pixel at the top right.
  auto heights = [](int x, int y) -> uint32_t { return x == 3 && y == 0 ? 0xFF0000u : 0u; };
  const float factor = 2.0f;
  ASSERT_EQ(0, Load(MakeBmp(4, 2, heights), {}, 1, factor));
  auto h = [&](int x, int y) { return static_cast<double>((heights(x % 4, y % 2) >> 16) & 255); };
  for (int y = 0; y < 2; y++) {
    for (int x = 0; x < 4; x++) {
      const double dx = (h(x + 1, y) - h(x, y)) / 255.0, dy = (h(x, y + 1) - h(x, y)) / 255.0;
      const double v[3] = {-factor * dx, -factor * dy, factor * factor};
      const double length = sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
      const Rgba p = Pixel(&color_, x, y);
      EXPECT_EQ(static_cast<int>((v[0] / length + 1.0) * 127.5), p.r) << x << "," << y;
      EXPECT_EQ(static_cast<int>((v[1] / length + 1.0) * 127.5), p.g) << x << "," << y;
      EXPECT_EQ(static_cast<int>((v[2] / length + 1.0) * 127.5), p.b) << x << "," << y;
    }
  }
  EXPECT_NE(Pixel(&color_, 3, 1).g, 127) << "the bottom row looks at the top row";
  EXPECT_NE(Pixel(&color_, 3, 0).r, 127) << "the right column looks at the left column";
  Release();
}

TEST_F(ModelTextureTest, ColorAndAlphaReachOneSize) {
  struct Case {
    int cw, ch, aw, ah;  // 0 x 0 colour: alpha bytes only
    int w, h;
  };
  const Case cases[] = {{16, 16, 4, 4, 16, 16}, {4, 4, 16, 8, 16, 8}, {16, 4, 4, 16, 16, 4}, {0, 0, 6, 3, 8, 4}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> color = c.cw ? MakeBmp(c.cw, c.ch, [](int, int) { return 0x204060u; })
                                            : std::vector<uint8_t>{};
    ASSERT_EQ(0, Load(color, MakeBmp(c.aw, c.ah, [](int, int) { return 0x808080u; })));
    EXPECT_EQ(c.w, color_.width);
    EXPECT_EQ(c.h, color_.height);
    EXPECT_EQ(c.w, alpha_.width);
    EXPECT_EQ(c.h, alpha_.height);
    const Rgba p = Pixel(&color_, c.w - 1, c.h - 1);
    if (!c.cw) {
      EXPECT_TRUE(p.r == 255 && p.g == 255 && p.b == 255) << "white colour for an alpha-only texture";
    }
    Release();
  }
}

TEST_F(ModelTextureTest, BadInputIsRefusedWithNothingLeft) {
  const int before = GetAllocCount();
  EXPECT_EQ(-1, Load({}, {}));
  EXPECT_TRUE(log_.Has("モデルのテクスチャに画像データがありません"));
  const std::vector<uint8_t> junk(64, 0x5A);
  EXPECT_EQ(-1, Load(junk, {}));
  EXPECT_EQ(-1, Load(MakeBmp(4, 4, [](int, int) { return 0u; }), junk));
  EXPECT_EQ(-1, Load({}, junk));
  EXPECT_EQ(nullptr, color_.pixels);
  EXPECT_EQ(nullptr, alpha_.pixels);
  EXPECT_EQ(before, GetAllocCount());
}

}  // namespace
