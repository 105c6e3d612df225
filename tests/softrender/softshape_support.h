// Software images and draw state for the shape and triangle tests.
#ifndef SOFTSHAPE_SUPPORT_H
#define SOFTSHAPE_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "RiRerEzi.h"
#include "SoftImageFixture.h"
#include "VeRavoroString.h"

// A software image of one colour type, released at the end of its scope.
struct TestImage {
  MEMIMG m{};
  TestImage(int w, int h, int colorType, int palettised = 0, int alphaFlag = 0, uint32_t key = 0) {
    EXPECT_EQ(CreateMemImg(&m, {w, h, -1, key, colorType, palettised, alphaFlag, 0, nullptr}), 0);
    std::memset(m.pixels, 0, static_cast<size_t>(m.header->pitch) * h);
  }
  ~TestImage() { ReleaseMemImg(&m); }
  TestImage(const TestImage&) = delete;
  TestImage& operator=(const TestImage&) = delete;
  int Bytes() const { return MemImgBytesPerPixel(&m); }
  uint8_t* At(int x, int y) const { return m.pixels + y * m.header->pitch + x * Bytes(); }
  uint32_t Get(int x, int y) const { return GetPixel(&m, x, y); }
  void Set(int x, int y, uint32_t v) { PutPixel(&m, x, y, v); }
  void Fill(uint32_t v) {
    for (int y = 0; y < m.height; ++y)
      for (int x = 0; x < m.width; ++x) Set(x, y, v);
  }
  void SetPalette(int index, uint32_t entry) {
    std::memcpy(m.header->palette + index * (m.header->colorType == MEMIMG_COLOR_16 ? 2 : 4), &entry,
                m.header->colorType == MEMIMG_COLOR_16 ? 2 : 4);
  }
};

inline void SetDrawState(int mode, int param, uint32_t bright = 0xFFFFFF, RECT area = RECT{0, 0, 64, 64}) {
  MemImgDrawState.drawArea = area;
  MemImgDrawState.blendMode = mode;
  MemImgDrawState.blendParam = param;
  MemImgDrawState.drawBright = bright;
  for (int i = 0; i < 256; ++i) MemImgDrawState.maskAlphaRamp[i] = static_cast<uint8_t>(i);
}

class SoftShapeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BuildBlendLookupTables(); }
  void SetUp() override { SetDrawState(0, 255); }
};

inline uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b, uint32_t fourth = 0) {
  return (fourth << 24) | (r << 16) | (g << 8) | b;
}
inline uint32_t Pack565(uint32_t r, uint32_t g, uint32_t b) { return (r << 11) | (g << 5) | b; }

#endif  // SOFTSHAPE_SUPPORT_H
