// Graphic records without a device: pixel-format choice over every branch,
// the colour formats of the indices and of the device formats, texture
// splitting and the texture layout (square-only devices included).
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <vector>

#include "VuViderezaGraph.h"

namespace {

GraphFormatDesc Desc(int dxt, int channels, int floatFlag, int bpc, int bits, int drawable, int alpha, int alphaTest) {
  GraphFormatDesc d;
  memset(&d, 0, sizeof d);
  d.dxt = static_cast<uint8_t>(dxt);
  d.channelCount = static_cast<uint8_t>(channels);
  d.floatFlag = static_cast<uint8_t>(floatFlag);
  d.bitsPerChannel = static_cast<uint8_t>(bpc);
  d.colorBits = static_cast<uint8_t>(bits);
  d.drawable = static_cast<uint8_t>(drawable);
  d.alpha = static_cast<uint8_t>(alpha);
  d.alphaTest = static_cast<uint8_t>(alphaTest);
  return d;
}

TEST(GraphTable, SelectPixelFormatIndexCoversEveryBranch) {
  struct Case {
    int dxt, channels, floatFlag, bpc, bits, drawable, alpha, alphaTest, expected;
  } cases[] = {
      {1, 0, 0, 0, 32, 0, 0, 0, 6},    {5, 2, 1, 0, 32, 1, 1, 0, 10},  // DXT first
      {0, 1, 1, 32, 16, 0, 0, 0, 20},  {0, 1, 1, 16, 32, 0, 0, 0, 19}, {0, 1, 1, 0, 32, 0, 0, 0, 20},
      {0, 1, 1, 0, 16, 0, 0, 0, 19},   {0, 1, 0, 16, 8, 0, 0, 0, 18},  {0, 1, 0, 8, 32, 0, 0, 0, 17},
      {0, 1, 0, 0, 16, 0, 0, 0, 18},   {0, 1, 0, 0, 8, 0, 0, 0, 17},   {0, 2, 1, 32, 16, 0, 0, 0, 24},
      {0, 2, 1, 16, 128, 0, 0, 0, 23}, {0, 2, 1, 0, 64, 0, 0, 0, 24},  {0, 2, 1, 0, 32, 0, 0, 0, 23},
      {0, 2, 0, 16, 8, 0, 0, 0, 22},   {0, 2, 0, 8, 64, 0, 0, 0, 21},  {0, 2, 0, 0, 32, 0, 0, 0, 22},
      {0, 2, 0, 0, 16, 0, 0, 0, 21},   {0, 0, 1, 32, 16, 0, 0, 0, 16}, {0, 0, 1, 16, 128, 0, 0, 0, 15},
      {0, 0, 1, 0, 128, 0, 0, 0, 16},  {0, 0, 1, 0, 64, 0, 0, 0, 15},  {0, 0, 0, 9, 32, 1, 1, 0, 14},
      {0, 0, 0, 0, 32, 1, 1, 0, 13},   {0, 0, 0, 0, 16, 1, 0, 1, 13},  {0, 0, 0, 0, 16, 1, 0, 0, 11},
      {0, 0, 0, 0, 32, 1, 0, 0, 12},   {0, 0, 0, 0, 16, 0, 1, 1, 2},   {0, 0, 0, 0, 32, 0, 1, 0, 3},
      {0, 0, 0, 0, 16, 0, 0, 1, 4},    {0, 0, 0, 0, 32, 0, 0, 1, 5},   {0, 0, 0, 0, 16, 0, 0, 0, 0},
      {0, 0, 0, 0, 32, 0, 0, 0, 1},    {0, 0, 0, 8, 24, 0, 0, 0, 1},
  };
  for (const Case& c : cases) {
    GraphFormatDesc d = Desc(c.dxt, c.channels, c.floatFlag, c.bpc, c.bits, c.drawable, c.alpha, c.alphaTest);
    EXPECT_EQ(c.expected, SelectPixelFormatIndex(&d))
        << "dxt " << c.dxt << " ch " << c.channels << " float " << c.floatFlag << " bpc " << c.bpc << " bits " << c.bits
        << " drawable " << c.drawable << " alpha " << c.alpha << " test " << c.alphaTest;
  }
}

TEST(GraphTable, ColorFormatsOfIndicesAndDeviceFormats) {
  EXPECT_EQ(nullptr, GetColorFormatForPixelFormat(25));
  EXPECT_EQ(nullptr, GetColorFormatForPixelFormat(-1));
  EXPECT_EQ(0xf800u, GetColorFormatForPixelFormat(0)->redMask);
  EXPECT_EQ(0xff000000u, GetColorFormatForPixelFormat(3)->alphaMask);
  EXPECT_EQ(0x8000u, GetColorFormatForPixelFormat(4)->alphaMask);
  EXPECT_EQ(4, GetColorFormatForPixelFormat(6)->bitsPerPixel);
  EXPECT_EQ(3, GetColorFormatForPixelFormat(8)->kind);
  EXPECT_EQ(4, GetColorFormatForPixelFormat(16)->channelCount);
  EXPECT_EQ(0xf000u, GetColorFormatForTextureDesc(1, 0, 0, 0)->alphaMask);
  EXPECT_EQ(0u, GetColorFormatForTextureDesc(0, 0, 1, 1)->alphaMask);
  EXPECT_EQ(0xff000000u, GetPixelFormatDescriptor(D3DFMT_A8R8G8B8)->alphaMask);
  EXPECT_EQ(0x7e0u, GetPixelFormatDescriptor(D3DFMT_R5G6B5)->greenMask);
  EXPECT_EQ(0xff0000u, GetPixelFormatDescriptor(D3DFMT_A8B8G8R8)->blueMask);
  EXPECT_EQ(1, GetPixelFormatDescriptor(D3DFMT_R32F)->floatFlag);
  EXPECT_EQ(nullptr, GetPixelFormatDescriptor(D3DFMT_DXT1));
  EXPECT_EQ(nullptr, GetPixelFormatDescriptor(0));
}

TEST(GraphTable, TextureSplitting) {
  // Graphic creation's call: doubling allowed, powers of two forced.
  uint16_t lengths[8];
  ASSERT_EQ(5, DivideSizeIntoTextureSizes(600, 256, lengths, 1, 1));
  EXPECT_EQ(256, lengths[0]);
  EXPECT_EQ(256, lengths[1]);
  EXPECT_EQ(64, lengths[2]);
  ASSERT_EQ(1, DivideSizeIntoTextureSizes(220, 2048, lengths, 1, 1));
  EXPECT_EQ(256, lengths[0]);
  ASSERT_EQ(1, DivideSizeIntoTextureSizes(1, 256, lengths, 1, 1));
  EXPECT_EQ(1, lengths[0]);
  ASSERT_EQ(2, DivideSizeIntoTextureSizes(512, 256, lengths, 1, 1));
  EXPECT_EQ(1, DivideSizeIntoTextureSizes(0, 256, lengths, 1, 1));
}

TEST(GraphTable, TextureLayoutAcrossThenDownAndSquaresOnASquareOnlyDevice) {
  struct Area {
    int x, y, allocWidth, allocHeight, usedWidth, usedHeight;
  };
  auto layout = [](int width, int height, int limit, int squareOnly) {
    std::vector<GraphTextureEntry> entries(
        static_cast<size_t>(LayOutGraphTextures(width, height, limit, squareOnly, nullptr)));
    EXPECT_EQ(static_cast<int>(entries.size()), LayOutGraphTextures(width, height, limit, squareOnly, entries.data()));
    std::vector<Area> areas;
    for (const GraphTextureEntry& e : entries)
      areas.push_back({e.x, e.y, e.allocWidth, e.allocHeight, e.usedWidth, e.usedHeight});
    return areas;
  };
  // Any device: 600 across is 256 + 256 + 64 + 16 + 8, 200 down one 256.
  const std::vector<Area> plain = layout(600, 200, 256, 0);
  ASSERT_EQ(5u, plain.size());
  const int plainX[] = {0, 256, 512, 576, 592}, plainW[] = {256, 256, 64, 16, 8};
  for (size_t i = 0; i < plain.size(); i++) {
    EXPECT_EQ(plainX[i], plain[i].x);
    EXPECT_EQ(plainW[i], plain[i].allocWidth);
    EXPECT_EQ(256, plain[i].allocHeight);
    EXPECT_EQ(200, plain[i].usedHeight);
  }
  // Square only: the 64, 16 and 8 wide columns become squares down the
  // column until the image ends (4 + 13 + 25), each at its own place.
  const std::vector<Area> square = layout(600, 200, 256, 1);
  ASSERT_EQ(44u, square.size());
  std::vector<int> covered(600 * 200, 0);
  for (const Area& a : square) {
    EXPECT_EQ(a.allocWidth, a.allocHeight) << a.x << "," << a.y;
    EXPECT_EQ(std::min(a.allocWidth, 600 - a.x), a.usedWidth);
    EXPECT_EQ(std::min(a.allocHeight, 200 - a.y), a.usedHeight);
    for (int y = a.y; y < a.y + a.usedHeight; y++)
      for (int x = a.x; x < a.x + a.usedWidth; x++) covered[static_cast<size_t>(y) * 600 + x]++;
  }
  EXPECT_EQ(600 * 200, std::count(covered.begin(), covered.end(), 1)) << "every pixel in exactly one texture";
  EXPECT_EQ(512, square[2].x);
  EXPECT_EQ(0, square[2].y);
  EXPECT_EQ(64, square[2].allocWidth);
  EXPECT_EQ(512, square[5].x);
  EXPECT_EQ(192, square[5].y);
  EXPECT_EQ(8, square[5].usedHeight);
  EXPECT_EQ(576, square[6].x);
  EXPECT_EQ(16, square[6].allocWidth);
  EXPECT_EQ(592, square.back().x);
  EXPECT_EQ(192, square.back().y);
  // A tall image: its 256 x 512 texture is two squares down; already square
  // textures stay as they are.
  const std::vector<Area> tall = layout(200, 300, 512, 1);
  ASSERT_EQ(2u, tall.size());
  EXPECT_EQ(256, tall[1].y);
  EXPECT_EQ(44, tall[1].usedHeight);
  EXPECT_EQ(1u, layout(256, 256, 256, 1).size());
  EXPECT_EQ(-1, LayOutGraphTextures(0, 10, 256, 1, nullptr));
}

}  // namespace
