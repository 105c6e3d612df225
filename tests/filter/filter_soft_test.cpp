// The software filters and blends on small ARGB8 images: each filter's
// defining cases (Mono grey, BrightClip at 0, Hsb at 360, Invert twice,
// Level identity and its empty range, TwoColor, GradientMap, the alpha
// filters), Gauss (strength 0, impulse response, clamped borders), DownScale
// (sizes, uniform colour, block averages), every blend mode's table and the
// RGBA mix selectors.
#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "ReReziRader.h"
#include "VuViderezaFilterSoft.h"

namespace {

// An ARGB8 image owning its pixels for the test's lifetime.
struct Image {
  BaseImageRecord record{};
  Image(int w, int h, uint32_t fill = 0) {
    EXPECT_EQ(0, CreateBaseImageARGB8(w, h, &record));
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) At(x, y) = fill;
  }
  Image(int w, int h, const std::vector<uint32_t>& pixels) : Image(w, h) {
    for (int i = 0; i < w * h; i++) At(i % w, i / w) = pixels[i];
  }
  ~Image() { ReleaseBaseImage(&record); }
  uint32_t& At(int x, int y) {
    return reinterpret_cast<uint32_t*>(static_cast<unsigned char*>(record.pixels) + y * record.pitch)[x];
  }
  BaseImageRecord* operator&() { return &record; }
};

int Ch(uint32_t v, int shift) { return static_cast<int>((v >> shift) & 255); }
uint32_t Argb(int a, int r, int g, int b) {
  return static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 |
         static_cast<uint32_t>(b);
}

const std::vector<uint32_t> kSample = {0xFF000000, 0x80FF8040, 0x00FFFFFF, 0x40C02010, 0xFF10E0A0, 0xC0808080,
                                       0x20FF0000, 0xE000FF00, 0x600000FF, 0xFFFFFFFF, 0x01402040, 0xA0F0F0F0,
                                       0x7F7F7F7F, 0xFE3399CC, 0x10FFFF00, 0xD0123456};

TEST(FilterSoft, MonoWithoutChromaIsTheLuminanceInEveryChannel) {
  Image src(4, 4, kSample), out(4, 4);
  ASSERT_EQ(0, SoftFilterMono(&src, &out, 0, 0));
  for (int i = 0; i < 16; i++) {
    const uint32_t p = kSample[i];
    const int y = (1224 * Ch(p, 16) + 2404 * Ch(p, 8) + 466 * Ch(p, 0)) >> 12;
    EXPECT_EQ(Argb(p >> 24, y, y, y), out.At(i % 4, i / 4)) << i;
  }
}

TEST(FilterSoft, MonoChromaShiftsAndSaturates) {
  Image src(1, 1, 0xFF808080), out(1, 1);
  ASSERT_EQ(0, SoftFilterMono(&src, &out, 0, 255 * 100.0f / 255));  // Cr 255 -> 0.5
  const uint32_t p = out.At(0, 0);
  EXPECT_EQ(255, Ch(p, 16));                              // 128 + 178.7 saturates
  EXPECT_NEAR(128 - 0.71414 * 0.5 * 255, Ch(p, 8), 1.0);  // green down
  EXPECT_EQ(127, Ch(p, 0));                               // the luminance of 128 grey, 4094 / 4096 of it
}

TEST(FilterSoft, BrightClipTable) {
  Image src(4, 4, kSample);
  {  // less at threshold 0: nothing is below, the source comes through
    Image out(4, 4, 0x12345678);
    ASSERT_EQ(0, SoftFilterBrightClip(&src, &out, FILTER_COMPARE_LESS, 0, 0, nullptr));
    for (int i = 0; i < 16; i++) EXPECT_EQ(kSample[i], out.At(i % 4, i / 4));
  }
  {  // greater at 128 with fill: bright pixels become the fill colour
    const float fill[4] = {1.0f, 0.0f, 0.5f, 0.25f};
    Image out(4, 4, 0x12345678);
    ASSERT_EQ(0, SoftFilterBrightClip(&src, &out, FILTER_COMPARE_GREATER, 128, 1, fill));
    for (int i = 0; i < 16; i++) {
      const uint32_t p = kSample[i];
      const int y4096 = 1224 * Ch(p, 16) + 2404 * Ch(p, 8) + 466 * Ch(p, 0);
      const uint32_t want = y4096 > 128 * 4096 ? Argb(63, 255, 0, 127) : p;
      EXPECT_EQ(want, out.At(i % 4, i / 4)) << i;
    }
  }
  {  // less at 128 without fill: dark pixels keep the destination
    Image out(4, 4, 0x12345678);
    ASSERT_EQ(0, SoftFilterBrightClip(&src, &out, FILTER_COMPARE_LESS, 128, 0, nullptr));
    EXPECT_EQ(0x12345678u, out.At(0, 0));  // black
    EXPECT_EQ(0xFFFFFFFFu, out.At(1, 2));  // white
  }
  Image out(4, 4);
  EXPECT_EQ(-1, SoftFilterBrightClip(&src, &out, 3, 0, 0, nullptr));
  EXPECT_EQ(-1, SoftFilterBrightClip(&src, &out, FILTER_COMPARE_LESS, 0, 1, nullptr));
}

TEST(FilterSoft, HsbAbsoluteHueAt360EqualsHueZero) {
  Image src(4, 4, kSample), a(4, 4), b(4, 4);
  ASSERT_EQ(0, SoftFilterHsb(&src, &a, 1, 0, 20, 10));
  ASSERT_EQ(0, SoftFilterHsb(&src, &b, 1, 360, 20, 10));
  for (int i = 0; i < 16; i++) EXPECT_EQ(a.At(i % 4, i / 4), b.At(i % 4, i / 4)) << i;
}

TEST(FilterSoft, HsbNeutralKeepsColorsWithinTheIntegerRoundTrip) {
  Image src(4, 4, kSample), out(4, 4);
  ASSERT_EQ(0, SoftFilterHsb(&src, &out, 0, 0, 0, 0));
  for (int i = 0; i < 16; i++) {
    for (int s = 0; s < 24; s += 8) EXPECT_NEAR(Ch(kSample[i], s), Ch(out.At(i % 4, i / 4), s), 3) << i;
    EXPECT_EQ(kSample[i] >> 24, out.At(i % 4, i / 4) >> 24);
  }
  // A relative hue of +120 degrees turns pure red into pure green; -1
  // brightness gives black.
  Image red(1, 1, 0xFFFF0000), turned(1, 1), dark(1, 1);
  ASSERT_EQ(0, SoftFilterHsb(&red, &turned, 0, 120, 0, 0));
  EXPECT_NEAR(0, Ch(turned.At(0, 0), 16), 2);
  EXPECT_NEAR(255, Ch(turned.At(0, 0), 8), 2);
  EXPECT_NEAR(0, Ch(turned.At(0, 0), 0), 2);
  ASSERT_EQ(0, SoftFilterHsb(&red, &dark, 0, 0, 0, -100));
  EXPECT_EQ(0xFF000000u, dark.At(0, 0));
}

TEST(FilterSoft, InvertTwiceIsTheIdentity) {
  Image src(4, 4, kSample), once(4, 4), twice(4, 4);
  ASSERT_EQ(0, SoftFilterInvert(&src, &once));
  ASSERT_EQ(0, SoftFilterInvert(&once, &twice));
  EXPECT_EQ(Argb(0xFF, 255, 255, 255), once.At(0, 0));
  for (int i = 0; i < 16; i++) EXPECT_EQ(kSample[i], twice.At(i % 4, i / 4));
}

TEST(FilterSoft, LevelNeutralIsTheIdentityForEveryValue) {
  std::vector<uint32_t> ramp(256);
  for (int i = 0; i < 256; i++) ramp[i] = Argb(i, i, 255 - i, i / 2);
  Image src(256, 1, ramp), out(256, 1);
  ASSERT_EQ(0, SoftFilterLevel(&src, &out, 0, 255, 1.0f, 0, 255));
  for (int i = 0; i < 256; i++) EXPECT_EQ(ramp[i], out.At(i, 0)) << i;
}

TEST(FilterSoft, LevelStretchesGammaAndOutputRange) {
  Image src(3, 1, {0xFF000000, 0xFF404040, 0xFFC0C0C0}), out(3, 1);
  ASSERT_EQ(0, SoftFilterLevel(&src, &out, 64, 192, 1.0f, 0, 255));
  EXPECT_EQ(0xFF000000u, out.At(0, 0));  // below the range: table[0]
  EXPECT_EQ(0xFF000000u, out.At(1, 0));  // at the minimum
  EXPECT_EQ(0xFFFFFFFFu, out.At(2, 0));  // at the maximum
  Image mid(1, 1, 0xFF808080), g(1, 1);
  ASSERT_EQ(0, SoftFilterLevel(&mid, &g, 0, 255, 2.0f, 20, 220));
  const int value = static_cast<int>(pow(128 / 255.0, 0.5) * 255);  // x = 128
  EXPECT_EQ(20 + (value * 200 + 127) / 255, Ch(g.At(0, 0), 0));
}

TEST(FilterSoft, LevelWithAnEmptyInputRangeIsRefused) {
  Image src(1, 1, 0xFF808080), out(1, 1, 0x11111111);
  EXPECT_EQ(-1, SoftFilterLevel(&src, &out, 100, 100, 1.0f, 0, 255));
  EXPECT_EQ(-1, SoftFilterLevel(&src, &out, 200, 100, 1.0f, 0, 255));  // minimum lowered to the maximum
  EXPECT_EQ(0x11111111u, out.At(0, 0));
}

TEST(FilterSoft, TwoColorSplitsAtTheThreshold) {
  const float dark[4] = {0, 0, 1, 1}, bright[4] = {1, 1, 0, 0.5f};
  Image src(4, 4, kSample), out(4, 4);
  ASSERT_EQ(0, SoftFilterTwoColor(&src, &out, 0, dark, bright));
  for (int i = 0; i < 16; i++) EXPECT_EQ(Argb(127, 255, 255, 0), out.At(i % 4, i / 4));
  ASSERT_EQ(0, SoftFilterTwoColor(&src, &out, 128, dark, bright));
  EXPECT_EQ(Argb(255, 0, 0, 255), out.At(0, 0));    // black is dark
  EXPECT_EQ(Argb(127, 255, 255, 0), out.At(1, 2));  // white is bright
  EXPECT_EQ(-1, SoftFilterTwoColor(&src, &out, 128, dark, nullptr));
}

TEST(FilterSoft, GradientMapPicksAlongTheFirstRow) {
  std::vector<uint32_t> row(16);
  for (int i = 0; i < 16; i++) row[i] = Argb(255 - i, i * 16, 0, 0);
  Image gradient(16, 2, row), src(2, 1, {0xFF000000, 0xFFFFFFFF}), out(2, 1), rev(2, 1);
  ASSERT_EQ(0, SoftFilterGradientMap(&src, &out, &gradient, 0));
  EXPECT_EQ(row[0], out.At(0, 0));
  EXPECT_EQ(row[(254 * 16) >> 8], out.At(1, 0));  // white's luminance index is 254
  ASSERT_EQ(0, SoftFilterGradientMap(&src, &rev, &gradient, 1));
  EXPECT_EQ(row[15], rev.At(0, 0));
  EXPECT_EQ(-1, SoftFilterGradientMap(&src, &out, nullptr, 0));
}

TEST(FilterSoft, PremultipliedAndInterpolatedAlpha) {
  Image src(4, 4, kSample), pre(4, 4), inter(4, 4);
  ASSERT_EQ(0, SoftFilterPremultipliedAlpha(&src, &pre));
  ASSERT_EQ(0, SoftFilterInterpolatedAlpha(&src, &inter));
  for (int i = 0; i < 16; i++) {
    const uint32_t p = kSample[i];
    const int a = p >> 24;
    for (int s = 0; s < 24; s += 8) {
      EXPECT_EQ((Ch(p, s) * a) >> 8, Ch(pre.At(i % 4, i / 4), s));
      const int want = a == 0 ? 0 : (Ch(p, s) * 255 / a > 255 ? 255 : Ch(p, s) * 255 / a);
      EXPECT_EQ(want, Ch(inter.At(i % 4, i / 4), s)) << i;
    }
  }
  EXPECT_EQ(0u, inter.At(2, 0));  // fully transparent turns black
}

TEST(FilterSoft, GaussStrengthZeroCopies) {
  Image src(4, 4, kSample), out(4, 4);
  ASSERT_EQ(0, SoftFilterGauss(&src, &out, 8, 0));
  for (int i = 0; i < 16; i++) EXPECT_EQ(kSample[i], out.At(i % 4, i / 4));
}

TEST(FilterSoft, GaussImpulseResponseIsTheWeights) {
  for (int width : {8, 16, 32}) {
    const int n = 2 * width + 1, c = width;
    Image src(n, 1, 0), out(n, 1);
    src.At(c, 0) = 0xFFFFFFFF;
    ASSERT_EQ(0, SoftFilterGauss(&src, &out, width, 9.0f));
    const float* w = GaussWeights(width, 9.0f);
    ASSERT_NE(nullptr, w);
    // Horizontal: texel 0 gets w0, texels 2j-1 and 2j get w_j / 2; the
    // vertical pass over one row multiplies by the weights' sum (1).
    for (int x = 0; x < n; x++) {
      const int d = abs(x - c);
      const double weight = d == 0 ? w[0] : d <= width - 2 ? w[(d + 1) / 2] / 2 : 0;  // reach 2 (half - 1)
      EXPECT_NEAR(weight * 255, Ch(out.At(x, 0), 16), 1.5) << width << " " << x;
    }
  }
}

TEST(FilterSoft, GaussBordersRepeatTheEdgePixels) {
  Image src(8, 8, 0xFF404040), out(8, 8);
  for (int y = 0; y < 8; y++) src.At(0, y) = 0xFFC0C0C0;  // bright left column
  ASSERT_EQ(0, SoftFilterGauss(&src, &out, 8, 4.0f));
  // The left column sees bright beyond the border: brighter than the next.
  EXPECT_GT(Ch(out.At(0, 4), 0), Ch(out.At(1, 4), 0));
  // A uniform picture keeps its value (the passes round).
  Image flat(8, 8, 0xFF808080), flatOut(8, 8);
  ASSERT_EQ(0, SoftFilterGauss(&flat, &flatOut, 32, 20.0f));
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) EXPECT_EQ(0x80, Ch(flatOut.At(x, y), 0));
}

TEST(FilterSoft, GaussWidthsByRange) {
  EXPECT_EQ(8, GaussKernelWidth(1));
  EXPECT_EQ(8, GaussKernelWidth(8));
  EXPECT_EQ(16, GaussKernelWidth(9));
  EXPECT_EQ(32, GaussKernelWidth(20));
  EXPECT_EQ(nullptr, GaussWeights(8, 0));
}

TEST(FilterSoft, DownScaleAveragesBlocks) {
  EXPECT_EQ(2, DownScaleDivisor(1));
  EXPECT_EQ(4, DownScaleDivisor(3));
  EXPECT_EQ(8, DownScaleDivisor(5));
  Image uniform(10, 10, 0x80C06020), out(2, 2);  // 10 x 10 by 4: 2 x 2
  ASSERT_EQ(0, SoftFilterDownScale(&uniform, &out, 3));
  for (int i = 0; i < 4; i++) EXPECT_EQ(0x80C06020u, out.At(i % 2, i / 2));
  Image checker(4, 4), half(2, 2);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) checker.At(x, y) = ((x + y) & 1) ? 0xFFFFFFFF : 0x00000000;
  ASSERT_EQ(0, SoftFilterDownScale(&checker, &half, 2));
  EXPECT_EQ(0x7F7F7F7Fu, half.At(1, 1));  // 510 >> 2
}

// Blend modes: source and blend pixels and each mode's result.
struct BlendCase {
  int type;
  uint32_t s, b;
  float ratio;
  uint32_t want;
};

TEST(FilterSoft, BlendModeTable) {
  const BlendCase cases[] = {
      {0, 0x80102030, 0xFFC0B0A0, 1.0f, 0x80C0B0A0},   // normal, opaque blend at 255: the blend's colours
      {0, 0x80102030, 0x80C0B0A0, 0.0f, 0x80102030},   // ratio 0 keeps the source
      {2, 0xFF808080, 0xFFFFFFFF, 1.0f, 0xFF7F7F7F},   // multiple by white (>> 8)
      {3, 0xFF804020, 0xFF306040, 1.0f, 0xFF500000},   // difference clamps at 0
      {4, 0xFFF08040, 0xFF204060, 1.0f, 0xFFFFC0A0},   // add saturates
      {7, 0xFF102030, 0xFFFFFFFF, 1.0f, 0xFFFFFFFF},   // dodge with white: 255
      {8, 0xFF102030, 0xFF000000, 1.0f, 0xFF000000},   // burn with black: 0 below 255
      {8, 0xFFFF2030, 0xFF000000, 1.0f, 0xFFFF0000},   // ... and 255 stays
      {9, 0xFF804020, 0xFF306040, 1.0f, 0xFF304020},   // darken
      {10, 0xFF804020, 0xFF306040, 1.0f, 0xFF806040},  // lighten
      {14, 0x00102030, 0x00C0B0A0, 1.0f, 0x5A5A5A5A},  // both transparent: not written
      {14, 0xFF000000, 0xFFFFFFFF, 1.0f, 0xFFFFFFFF},  // opaque blend at full ratio
      {15, 0x00102030, 0x00C0B0A0, 1.0f, 0x5A5A5A5A},  // not written either
      {16, 0x80102030, 0x80FFFFFF, 1.0f, 0x40102030},  // alpha only: sa x ba
  };
  for (const BlendCase& c : cases) {
    Image s(1, 1, c.s), b(1, 1, c.b), out(1, 1, 0x5A5A5A5A);
    ASSERT_EQ(0, SoftBlendBasic(&s, &b, &out, c.type, c.ratio)) << c.type;
    EXPECT_EQ(c.want, out.At(0, 0)) << "type " << c.type << " source " << std::hex << c.s << " blend " << c.b;
  }
}

TEST(FilterSoft, EveryBlendModeAtRatioZeroKeepsTheSourceColors) {
  Image s(4, 4, kSample), b(4, 4);
  for (int i = 0; i < 16; i++) b.At(i % 4, i / 4) = kSample[15 - i] | 0xFF000000;
  for (int type = 0; type <= 13; type++) {
    if (type == 1) continue;
    Image out(4, 4);
    ASSERT_EQ(0, SoftBlendBasic(&s, &b, &out, type, 0.0f));
    for (int i = 0; i < 16; i++) EXPECT_EQ(kSample[i], out.At(i % 4, i / 4)) << type << " " << i;
  }
  Image out(4, 4);
  EXPECT_EQ(-1, SoftBlendBasic(&s, &b, &out, 1, 1.0f));
  EXPECT_EQ(-1, SoftBlendBasic(&s, &b, &out, 17, 1.0f));
}

TEST(FilterSoft, RgbaMixSelectors) {
  Image s(4, 4, kSample), b(4, 4);
  for (int i = 0; i < 16; i++) b.At(i % 4, i / 4) = ~kSample[i];
  Image copy(4, 4), other(4, 4), swizzle(4, 4, 0x5A5A5A5A);
  ASSERT_EQ(0, SoftBlendRgbaMix(&s, &b, &copy, 0, 1, 2, 3));
  ASSERT_EQ(0, SoftBlendRgbaMix(&s, &b, &other, 4, 5, 6, 7));
  ASSERT_EQ(0, SoftBlendRgbaMix(&s, &b, &swizzle, 2, 2, 2, 8));  // blue everywhere, alpha left
  for (int i = 0; i < 16; i++) {
    EXPECT_EQ(kSample[i], copy.At(i % 4, i / 4));
    EXPECT_EQ(~kSample[i], other.At(i % 4, i / 4));
    const int blue = Ch(kSample[i], 0);
    EXPECT_EQ(Argb(0x5A, blue, blue, blue), swizzle.At(i % 4, i / 4));
  }
}

}  // namespace
