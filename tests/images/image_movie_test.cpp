// Movie-frame colour conversion: the six YUV layouts into 32-bit images,
// the shared colour rule with its clamping, where each chroma sample lands,
// and frames whose size leaves part of a chroma block.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <random>
#include <vector>

#include "ReReziRader.h"

namespace {

enum Layout { YV12, NV11, NV12, YUY2, UYVY, YVYU };

struct Converter {
  Layout layout;
  const char* name;
  int (*convert)(const void*, int, int, BaseImageRecord*);
} const kConverters[] = {
    {YV12, "YV12", ConvertYV12ToBaseImage}, {NV11, "NV11", ConvertNV11ToBaseImage},
    {NV12, "NV12", ConvertNV12ToBaseImage}, {YUY2, "YUY2", ConvertYUY2ToBaseImage},
    {UYVY, "UYVY", ConvertUYVYToBaseImage}, {YVYU, "YVYU", ConvertYVYUToBaseImage},
};

typedef std::function<int(int, int)> Plane;

// The chroma unit that covers pixel (x, y).
void ChromaUnit(Layout layout, int x, int y, int* cx, int* cy) {
  switch (layout) {
    case YV12:
    case NV12: *cx = x / 2, *cy = y / 2; break;
    case NV11: *cx = x / 4, *cy = y; break;
    default: *cx = x / 2, *cy = y; break;
  }
}

// Whether the converter has a whole chroma unit for pixel (x, y).
bool Covered(Layout layout, int width, int height, int x, int y) {
  switch (layout) {
    case YV12:
    case NV12: return x < width / 2 * 2 && y < height / 2 * 2;
    case NV11: return x < width / 4 * 4;
    default: return x < width / 2 * 2;
  }
}

std::vector<uint8_t> BuildFrame(Layout layout, int width, int height, const Plane& luma, const Plane& u,
                                const Plane& v) {
  std::vector<uint8_t> frame;
  auto putLuma = [&]() {
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) frame.push_back(static_cast<uint8_t>(luma(x, y)));
  };
  switch (layout) {
    case YV12:
      putLuma();
      for (int cy = 0; cy < height / 2; cy++)
        for (int cx = 0; cx < width / 2; cx++) frame.push_back(static_cast<uint8_t>(v(cx, cy)));
      for (int cy = 0; cy < height / 2; cy++)
        for (int cx = 0; cx < width / 2; cx++) frame.push_back(static_cast<uint8_t>(u(cx, cy)));
      break;
    case NV12:
      putLuma();
      for (int cy = 0; cy < height / 2; cy++) {
        for (int cx = 0; cx < width / 2; cx++) {
          frame.push_back(static_cast<uint8_t>(u(cx, cy)));
          frame.push_back(static_cast<uint8_t>(v(cx, cy)));
        }
        if (width & 1) frame.push_back(0);
      }
      break;
    case NV11:
      putLuma();
      for (int cy = 0; cy < height; cy++) {
        for (int cx = 0; cx < width / 4; cx++) {
          frame.push_back(static_cast<uint8_t>(u(cx, cy)));
          frame.push_back(static_cast<uint8_t>(v(cx, cy)));
        }
      }
      break;
    default:
      for (int y = 0; y < height; y++) {
        for (int i = 0; i < width / 2; i++) {
          uint8_t y0 = static_cast<uint8_t>(luma(2 * i, y)), y1 = static_cast<uint8_t>(luma(2 * i + 1, y));
          uint8_t cu = static_cast<uint8_t>(u(i, y)), cv = static_cast<uint8_t>(v(i, y));
          if (layout == YUY2) frame.insert(frame.end(), {y0, cu, y1, cv});
          if (layout == UYVY) frame.insert(frame.end(), {cu, y0, cv, y1});
          if (layout == YVYU) frame.insert(frame.end(), {y0, cv, y1, cu});
        }
        if (width & 1) frame.insert(frame.end(), {static_cast<uint8_t>(luma(width - 1, y)), 128});
      }
      break;
  }
  return frame;
}

int Clamp(int sum) { return sum < 0 ? 0 : sum > 255 * 32768 ? 255 : sum >> 15; }

uint32_t Expected(int y, int u, int v) {
  const int b = Clamp(y * 32768 + 58064 * (u - 128));
  const int g = Clamp(y * 32768 - 11272 * (u - 128) - 23396 * (v - 128));
  const int r = Clamp(y * 32768 + 45940 * (v - 128));
  return 0xff000000u | (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
}

class Target {
 public:
  Target(int width, int height) {
    EXPECT_EQ(0, CreateBaseImageXRGB8(width, height, &image));
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) Set(x, y, kUntouched);
  }
  ~Target() { ReleaseBaseImage(&image); }
  uint32_t Get(int x, int y) const {
    return (reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(image.pixels) + y * image.pitch))[x];
  }
  void Set(int x, int y, uint32_t v) {
    (reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(image.pixels) + y * image.pitch))[x] = v;
  }
  static const uint32_t kUntouched = 0x12345678;
  BaseImageRecord image;
};

TEST(MovieFrameConversion, ColorRuleAndClamping) {
  struct Case {
    int y, u, v;
    uint32_t pixel;
  } cases[] = {
      {128, 128, 128, 0xff808080},  // grey
      {255, 128, 255, 0xffffa4ff},  // red clamped at 255, not wrapped
      {0, 0, 128, 0xff002c00},      // blue clamped at 0 from a negative sum
      {0, 128, 128, 0xff000000},   {255, 128, 128, 0xffffffff}, {16, 255, 0, 0xff003ff1},
  };
  for (const Converter& c : kConverters) {
    for (const Case& k : cases) {
      SCOPED_TRACE(testing::Message() << c.name << " Y " << k.y << " U " << k.u << " V " << k.v);
      std::vector<uint8_t> frame = BuildFrame(
          c.layout, 8, 4, [&](int, int) { return k.y; }, [&](int, int) { return k.u; }, [&](int, int) { return k.v; });
      Target target(8, 4);
      ASSERT_EQ(0, c.convert(frame.data(), 8, 4, &target.image));
      for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++) ASSERT_EQ(k.pixel, target.Get(x, y)) << std::hex << x << "," << y;
    }
  }
}

TEST(MovieFrameConversion, EachChromaPairCoversItsOwnPixels) {
  std::mt19937 random(7);
  for (const Converter& c : kConverters) {
    SCOPED_TRACE(c.name);
    const int width = 12, height = 6;
    std::vector<int> luma(width * height), us(width * height), vs(width * height);
    for (int& value : luma) value = static_cast<int>(random() & 0xff);
    for (int& value : us) value = static_cast<int>(random() & 0xff);
    for (int& value : vs) value = static_cast<int>(random() & 0xff);
    auto lumaAt = [&](int x, int y) { return luma[y * width + x]; };
    auto uAt = [&](int cx, int cy) { return us[cy * width + cx]; };
    auto vAt = [&](int cx, int cy) { return vs[cy * width + cx]; };
    std::vector<uint8_t> frame = BuildFrame(c.layout, width, height, lumaAt, uAt, vAt);
    Target target(width, height);
    ASSERT_EQ(0, c.convert(frame.data(), width, height, &target.image));
    for (int y = 0; y < height; y++) {
      for (int x = 0; x < width; x++) {
        int cx, cy;
        ChromaUnit(c.layout, x, y, &cx, &cy);
        ASSERT_EQ(Expected(lumaAt(x, y), uAt(cx, cy), vAt(cx, cy)), target.Get(x, y)) << x << "," << y;
      }
    }
  }
}

TEST(MovieFrameConversion, YV12HoldsVBeforeU) {
  // V plane all 255 and U plane all 0: red saturates and blue vanishes.
  std::vector<uint8_t> frame(4 * 2 + 2 + 2, 128);
  frame[8] = frame[9] = 255;  // V
  frame[10] = frame[11] = 0;  // U
  Target target(4, 2);
  ASSERT_EQ(0, ConvertYV12ToBaseImage(frame.data(), 4, 2, &target.image));
  EXPECT_EQ(0xffff5100u, target.Get(3, 1));
}

TEST(MovieFrameConversion, PartialChromaBlocksAreLeftAlone) {
  for (const Converter& c : kConverters) {
    for (auto size : {std::make_pair(5, 4), std::make_pair(6, 5), std::make_pair(7, 3), std::make_pair(1, 1)}) {
      const int width = size.first, height = size.second;
      SCOPED_TRACE(testing::Message() << c.name << " " << width << " x " << height);
      std::vector<uint8_t> frame = BuildFrame(
          c.layout, width, height, [](int, int) { return 128; }, [](int, int) { return 128; },
          [](int, int) { return 128; });
      frame.resize(frame.size() + 64, 0xee);  // nothing past the frame is read into the image
      Target target(width + 1, height + 1);
      ASSERT_EQ(0, c.convert(frame.data(), width, height, &target.image));
      for (int y = 0; y <= height; y++) {
        for (int x = 0; x <= width; x++) {
          const bool converted = x < width && y < height && Covered(c.layout, width, height, x, y);
          EXPECT_EQ(converted ? 0xff808080u : Target::kUntouched, target.Get(x, y)) << x << "," << y;
        }
      }
    }
  }
}

TEST(MovieFrameConversion, RefusesUnfitTargets) {
  std::vector<uint8_t> frame(64, 128);
  BaseImageRecord small;
  ASSERT_EQ(0, CreateBaseImageXRGB8(2, 2, &small));
  ColorFormatRecord f565;
  MakeColorFormatFromMasks(&f565, 16, 0xf800, 0x7e0, 0x1f, 0, 0, 0, 0);
  BaseImageRecord sixteen;
  ASSERT_EQ(0, CreateBaseImageWithFormat(4, 4, &f565, &sixteen));
  for (const Converter& c : kConverters) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(-1, c.convert(frame.data(), 4, 4, &small));
    EXPECT_EQ(-1, c.convert(frame.data(), 4, 4, &sixteen));
    EXPECT_EQ(-1, c.convert(nullptr, 2, 2, &small));
    EXPECT_EQ(-1, c.convert(frame.data(), 2, 2, nullptr));
    EXPECT_EQ(-1, c.convert(frame.data(), -2, 2, &small));
  }
  ReleaseBaseImage(&small);
  ReleaseBaseImage(&sixteen);
}

}  // namespace
