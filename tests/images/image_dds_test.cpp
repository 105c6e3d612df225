// DDS loader and DXT expansion: blocks kept as stored with their mip
// chains and cube faces, the DXT1-DXT5 decoding rules, plain formats by
// number or masks, and refusal of damaged headers.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "ReReziRader.h"
#include "ZiDezaru.h"
#include "image_fixtures.h"

using namespace imgfix;

namespace {

class DdsTest : public ImageAllocTest {};

const size_t kHeader = 128;  // magic and header before the data

TEST_F(DdsTest, EveryDdsFixtureDecodesToItsPixels) { ExpectFixturesDecode(DdsFixtures()); }

TEST_F(DdsTest, CompressedDataIsKeptAsStored) {
  const std::vector<ImageFixture> all = DdsFixtures();
  struct Case {
    const char* name;
    int kind, bits, mips, cube;
    int64_t dataSize;
  } cases[] = {
      {"dxt1 blocks", 1, 4, 0, 0, 24},         {"dxt5 alpha steps", 5, 8, 0, 0, 32},
      {"dxt3 explicit alpha", 3, 8, 0, 0, 16}, {"dxt1 mip chain", 1, 4, 4, 0, 32 + 8 + 8 + 8},
      {"dxt1 cube map", 1, 4, 0, 6, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ImageFixture& f = FixtureNamed(all, c.name);
    BaseImageRecord image;
    ASSERT_EQ(0, LoadFromMemory(f.data, &image));
    EXPECT_EQ(c.kind, image.format.kind);
    EXPECT_EQ(c.bits, image.format.bitsPerPixel);
    EXPECT_EQ(0, image.pitch);
    EXPECT_EQ(c.mips, image.mipLevelCount);
    EXPECT_EQ(c.cube, image.cubeFlag);
    EXPECT_EQ(c.dataSize, GetBaseImageDataSize(&image));
    const int64_t faces = c.cube ? 6 : 1;
    ASSERT_EQ(static_cast<size_t>(c.dataSize * faces), f.data.size() - kHeader);
    EXPECT_EQ(0, memcmp(image.pixels, f.data.data() + kHeader, static_cast<size_t>(c.dataSize * faces)));

    // Expansion: ARGB8, top level of each face, no mip levels.
    ASSERT_EQ(0, ExpandCompressedBaseImage(&image));
    EXPECT_TRUE(IsExactARGB8Format(&image.format));
    EXPECT_EQ(image.width * 4, image.pitch);
    EXPECT_EQ(0, image.mipLevelCount);
    EXPECT_EQ(c.cube, image.cubeFlag);
    ReleaseBaseImage(&image);
  }
}

TEST_F(DdsTest, CubeFacesExpandEachFromItsOwnChain) {
  // 4 x 4 faces with three levels each (one block per level).
  DdsLayout s = DdsOf(4, 4, FourCC("DXT1"));
  SetMipLevels(s, 3);
  s.caps2 = 0xfe00;
  for (int face = 0; face < 6; face++) {
    Append(s.data, Dxt1Block(static_cast<uint16_t>((face + 1) << 11), 0, 0));
    Append(s.data, Dxt1Block(0x07e0, 0, 0));
    Append(s.data, Dxt1Block(0x001f, 0, 0));
  }
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(BuildDds(s), &image));
  EXPECT_EQ(6, image.cubeFlag);
  EXPECT_EQ(3, image.mipLevelCount);
  EXPECT_EQ(24, GetBaseImageFaceStride(&image));
  ASSERT_EQ(0, ExpandCompressedBaseImage(&image));
  for (int face = 0; face < 6; face++) {
    const uint8_t* texel = reinterpret_cast<const uint8_t*>(image.pixels) + face * 64 + 5 * 4;
    EXPECT_EQ((face + 1) * 255 / 31, texel[2]) << face;
    EXPECT_EQ(0, texel[1]) << face;
    EXPECT_EQ(255, texel[3]) << face;
  }
  ReleaseBaseImage(&image);

  // Five face bits: one face, and only its data is needed.
  s.caps2 = 0x200 | 0x7c00;
  s.data.resize(24);
  ASSERT_EQ(0, LoadFromMemory(BuildDds(s), &image));
  EXPECT_EQ(0, image.cubeFlag);
  ReleaseBaseImage(&image);
}

TEST_F(DdsTest, MipCountNeedsTheMipCapsBits) {
  DdsLayout s = DdsOf(8, 8, FourCC("DXT1"));
  SetMipLevels(s, 9);
  s.caps = 0x1000 | 0x8;     // complex without the mip-map bit
  s.data = Bytes(32, 0x5a);  // the top level only
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(BuildDds(s), &image));
  EXPECT_EQ(0, image.mipLevelCount);
  EXPECT_EQ(32, GetBaseImageDataSize(&image));
  ReleaseBaseImage(&image);
}

TEST_F(DdsTest, PlainFormatsByNumberOrMasks) {
  const std::vector<ImageFixture> all = DdsFixtures();
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(FixtureNamed(all, "dds format number 21").data, &image));
  EXPECT_EQ(0, image.format.kind);
  EXPECT_EQ(0xff000000u, image.format.alphaMask);
  EXPECT_EQ(32, image.format.bitsPerPixel);
  EXPECT_EQ(12, image.pitch);
  ReleaseBaseImage(&image);

  ASSERT_EQ(0, LoadFromMemory(FixtureNamed(all, "dds rgb masks 565").data, &image));
  EXPECT_EQ(8, image.pitch);  // the header's pitch
  EXPECT_EQ(0xf800u, image.format.redMask);
  ReleaseBaseImage(&image);

  // Every row of the format table.
  const uint32_t codes[] = {20, 21, 22, 23, 24, 25, 26, 27, 29, 30, 31, 32, 33, 35};
  const int bits[] = {24, 32, 32, 16, 16, 16, 16, 8, 16, 16, 32, 32, 32, 32};
  for (size_t i = 0; i < sizeof(codes) / sizeof(codes[0]); i++) {
    SCOPED_TRACE(codes[i]);
    DdsLayout s = DdsOf(2, 2, codes[i]);
    s.data = Bytes(static_cast<size_t>(bits[i]) / 8 * 4, 0x3c);
    ASSERT_EQ(0, LoadFromMemory(BuildDds(s), &image));
    EXPECT_EQ(bits[i], image.format.bitsPerPixel);
    EXPECT_EQ(bits[i] / 8 * 2, image.pitch);
    ReleaseBaseImage(&image);
  }
}

TEST_F(DdsTest, DamagedHeadersAreRefused) {
  NamedBytes cases;
  DdsLayout valid = DdsOf(4, 4, FourCC("DXT1"));
  valid.data = Bytes(8, 0);
  auto with = VariantMaker(cases, valid, BuildDds);
  with("header size 100", [](DdsLayout& s) { s.headerSize = 100; });
  with("header size 200", [](DdsLayout& s) { s.headerSize = 200; });
  with("header size 0", [](DdsLayout& s) { s.headerSize = 0; });
  with("code DXT6", [](DdsLayout& s) { s.fourCC = FourCC("DXT6"); });
  with("code ATI2", [](DdsLayout& s) { s.fourCC = FourCC("ATI2"); });
  with("format number 28", [](DdsLayout& s) { s.fourCC = 28; });
  with("no format flags", [](DdsLayout& s) { s.formatFlags = 0; });
  with("12-bit masks", [](DdsLayout& s) {
    s.formatFlags = 0x40;
    s.bitCount = 12;
  });
  with("data short", [](DdsLayout& s) { s.data.resize(7); });
  with("zero wide", [](DdsLayout& s) { s.width = 0; });
  with("16385 high", [](DdsLayout& s) { s.height = 16385; });
  with("huge mip count", [](DdsLayout& s) { SetMipLevels(s, 0xffffffff); });
  with("pitch narrower than a row", [](DdsLayout& s) {
    s.fourCC = 21;
    s.flags |= 0x8;
    s.pitch = 4;
    s.data = Bytes(64, 0);
  });
  with("magic", [](DdsLayout&) {});
  cases.back().second[2] = 'X';
  ExpectAllRefused(cases);
}

TEST_F(DdsTest, PartialBlocksStayZeroAndBadRecordsAreNotExpanded) {
  // 6 x 6: one whole block; the rest of the pixels are zero.
  DdsLayout s = DdsOf(6, 6, FourCC("DXT1"));
  s.data = Dxt1Block(0xffff, 0xffff, 0);
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(BuildDds(s), &image));
  ASSERT_EQ(0, ExpandCompressedBaseImage(&image));
  EXPECT_EQ(0xffffffffu, GetBaseImagePixelARGB8(&image, 3, 3));
  EXPECT_EQ(0u, GetBaseImagePixelARGB8(&image, 4, 0));
  EXPECT_EQ(0u, GetBaseImagePixelARGB8(&image, 0, 5));
  ReleaseBaseImage(&image);

  // An unknown kind fails and leaves the record; a plain one is done.
  uint8_t block[16] = {};
  BaseImageRecord odd;
  memset(&odd, 0, sizeof(odd));
  odd.format.kind = 6;
  odd.width = odd.height = 4;
  odd.pixels = block;
  EXPECT_EQ(-1, ExpandCompressedBaseImage(&odd));
  EXPECT_EQ(block, odd.pixels);
  odd.format.kind = 0;
  EXPECT_EQ(0, ExpandCompressedBaseImage(&odd));
  EXPECT_EQ(block, odd.pixels);
}

}  // namespace
