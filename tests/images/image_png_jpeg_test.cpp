// PNG and JPEG loaders: every colour type and depth decodes to its pixels
// in the documented format, damaged files are refused with the stream left
// usable, and a JPEG cut short still decodes.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <string.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "DeVirERerImage.h"
#include "ReReziRader.h"
#include "ZiDezaru.h"
#include "image_fixtures.h"

using namespace imgfix;

namespace {

class PngJpegTest : public ImageAllocTest {};

TEST_F(PngJpegTest, EveryPngFixtureDecodesToItsPixels) { ExpectFixturesDecode(PngFixtures()); }

TEST_F(PngJpegTest, EveryJpegFixtureDecodesToItsPixels) { ExpectFixturesDecode(JpegFixtures()); }

TEST_F(PngJpegTest, PngResultFormats) {
  const std::vector<ImageFixture> all = PngFixtures();
  struct Case {
    const char* name;
    int bytesPerPixel;
    int pitch;  // the decoded row size, not rounded
    bool argb8;
  } cases[] = {
      {"png rgb", 3, 9, false},
      {"png rgba", 4, 16, true},
      {"png rgba 16-bit", 4, 12, true},
      {"png palette", 1, 5, false},
      {"png palette with tRNS", 4, 20, true},
      {"png palette 1-bit", 1, 10, false},
      {"png grey", 1, 4, false},
      {"png grey 16-bit", 1, 3, false},
      {"png grey 1-bit", 1, 10, false},
      {"png grey with alpha", 4, 16, true},
      {"png grey with tRNS", 4, 16, true},
      {"png rgb interlaced", 3, 27, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BaseImageRecord image;
    ASSERT_EQ(0, LoadFromMemory(FixtureNamed(all, c.name).data, &image));
    EXPECT_EQ(c.bytesPerPixel, image.format.bytesPerPixel);
    EXPECT_EQ(c.pitch, image.pitch);
    EXPECT_EQ(c.argb8, IsExactARGB8Format(&image.format) != 0);
    ReleaseBaseImage(&image);
  }
}

TEST_F(PngJpegTest, PngPalettesAndByteOrder) {
  const std::vector<ImageFixture> all = PngFixtures();
  BaseImageRecord image;
  // 1-bit palette: indices 0 and 1, entries past the second zero.
  ASSERT_EQ(0, LoadFromMemory(FixtureNamed(all, "png palette 1-bit").data, &image));
  const uint8_t* p = reinterpret_cast<const uint8_t*>(image.pixels);
  for (int x = 0; x < 10; x++) EXPECT_EQ((x * 3) % 2, p[x]) << x;
  // Entry 1 is (255, 255, 0), stored blue, green, red, alpha 0.
  EXPECT_EQ(0, image.format.palette[1][0]);
  EXPECT_EQ(255, image.format.palette[1][2]);
  EXPECT_EQ(0, image.format.palette[1][3]);
  for (int i = 2; i < 256; i++) EXPECT_EQ(0u, *reinterpret_cast<const uint32_t*>(image.format.palette[i])) << i;
  ReleaseBaseImage(&image);

  // Grey comes with the grey ramp.
  ASSERT_EQ(0, LoadFromMemory(FixtureNamed(all, "png grey").data, &image));
  EXPECT_EQ(77, image.format.palette[77][1]);
  ReleaseBaseImage(&image);

  // 16-bit RGBA: bytes blue, green, red, alpha of the high bytes.
  const ImageFixture& deep = FixtureNamed(all, "png rgba 16-bit");
  ASSERT_EQ(0, LoadFromMemory(deep.data, &image));
  const Rgba& e = deep.expected.At(1, 1);
  const uint8_t* q = reinterpret_cast<const uint8_t*>(image.pixels) + image.pitch + 4;
  EXPECT_EQ(e.b, q[0]);
  EXPECT_EQ(e.g, q[1]);
  EXPECT_EQ(e.r, q[2]);
  EXPECT_EQ(e.a, q[3]);
  ReleaseBaseImage(&image);
}

// The PNG with a chunk's CRC recomputed after a change.
void FixCrc(Bytes& png, size_t chunkStart) {
  const uint32_t length = (static_cast<uint32_t>(png[chunkStart]) << 24) |
                          (static_cast<uint32_t>(png[chunkStart + 1]) << 16) |
                          (static_cast<uint32_t>(png[chunkStart + 2]) << 8) | png[chunkStart + 3];
  const uint32_t crc = static_cast<uint32_t>(crc32(0, &png[chunkStart + 4], length + 4));
  for (int i = 0; i < 4; i++) png[chunkStart + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

TEST_F(PngJpegTest, DamagedPngsAreRefusedAndTheStreamStaysUsable) {
  const Bytes good = FixtureNamed(PngFixtures(), "png rgb interlaced").data;
  NamedBytes cases;
  Bytes cut(good.begin(), good.begin() + (good.size() - 30));  // inside the image data
  cases.push_back({"cut in the image data", cut});
  Bytes crc = good;
  crc[20] ^= 1;  // IHDR body without a new CRC
  cases.push_back({"IHDR CRC", crc});
  Bytes wide = good;
  wide[16] = 0;
  wide[17] = 0;
  wide[18] = 0x40;
  wide[19] = 0x01;  // 16385
  FixCrc(wide, 8);
  cases.push_back({"16385 wide", wide});
  Bytes zero = good;
  zero[20] = zero[21] = zero[22] = zero[23] = 0;
  FixCrc(zero, 8);
  cases.push_back({"zero high", zero});
  Bytes depth = good;
  depth[24] = 3;  // RGB at 3 bits
  FixCrc(depth, 8);
  cases.push_back({"bad depth", depth});
  for (const auto& c : cases) ASSERT_LE(8u, c.second.size()) << c.first;  // the signature reads again
  ExpectLoaderRefuses(LoadPngImage, cases);
}

// Offset of the first frame header (SOF0 or SOF2).
size_t FindFrameHeader(const Bytes& jpeg) {
  for (size_t i = 0; i + 1 < jpeg.size(); i++)
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) return i;
  return 0;
}

TEST_F(PngJpegTest, JpegResultFormats) {
  const std::vector<ImageFixture> all = JpegFixtures();
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(FixtureNamed(all, "jpeg colour").data, &image));
  EXPECT_EQ(3, image.format.bytesPerPixel);
  EXPECT_EQ(0xff0000u, image.format.redMask);
  EXPECT_EQ(96, image.pitch);
  ReleaseBaseImage(&image);
  ASSERT_EQ(0, LoadFromMemory(FixtureNamed(all, "jpeg grey").data, &image));
  EXPECT_EQ(1, image.format.bytesPerPixel);
  EXPECT_EQ(16, image.pitch);
  EXPECT_EQ(200, image.format.palette[200][2]);
  ReleaseBaseImage(&image);
}

TEST_F(PngJpegTest, JpegsTheLoaderCannotTakeAreRefused) {
  const Bytes good = FixtureNamed(JpegFixtures(), "jpeg colour").data;
  const size_t sof = FindFrameHeader(good);
  ASSERT_NE(0u, sof);
  NamedBytes cases;
  cases.push_back({"empty", Bytes()});
  cases.push_back({"first byte not 0xFF", Bytes(good.begin() + 1, good.end())});
  cases.push_back({"only the start marker", Bytes(good.begin(), good.begin() + 2)});
  cases.push_back({"cut before the frame", Bytes(good.begin(), good.begin() + sof)});
  Bytes high = good;
  high[sof + 5] = 0x40;
  high[sof + 6] = 0x01;  // 16385
  cases.push_back({"16385 high", high});
  Bytes zeroWide = good;
  zeroWide[sof + 7] = zeroWide[sof + 8] = 0;
  cases.push_back({"zero wide", zeroWide});
  Bytes cmyk(16 * 16 * 4, 0x80);
  cases.push_back({"CMYK", BuildJpeg(16, 16, 4, cmyk, 90, false)});
  ExpectLoaderRefuses(LoadJpegImage, cases);
}

TEST_F(PngJpegTest, JpegCutInsideItsScanStillDecodes) {
  // A baseline image cut half way: the top rows keep their colours.
  const std::vector<ImageFixture> all = JpegFixtures();
  const ImageFixture& f = FixtureNamed(all, "jpeg colour");
  size_t scan = 0;
  for (size_t i = 0; i + 1 < f.data.size() && scan == 0; i++)
    if (f.data[i] == 0xFF && f.data[i + 1] == 0xDA) scan = i;
  ASSERT_NE(0u, scan);
  Bytes cut(f.data.begin(), f.data.begin() + scan + (f.data.size() - scan) / 2);
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(cut, &image));
  EXPECT_EQ(32, image.width);
  EXPECT_EQ(16, image.height);
  int r, g, b;
  ASSERT_EQ(0, GetBaseImagePixelRGBA(&image, 3, 3, &r, &g, &b, nullptr));
  EXPECT_NEAR(f.expected.At(3, 3).r, r, 6);
  EXPECT_NEAR(f.expected.At(3, 3).g, g, 6);
  EXPECT_TRUE(PixelsMatch(&image, DecodeJpegReference(cut), false, 0));
  ReleaseBaseImage(&image);
}

int FormatWide(wchar_t* buffer, int size, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = FormatWideLogText(buffer, size, format, args);
  va_end(args);
  return result;
}

TEST_F(PngJpegTest, WideLogTextFormatsIntoTheBuffer) {
  wchar_t buffer[16];
  EXPECT_EQ(6, FormatWide(buffer, 16, L"%d-%ls", 42, L"abc"));
  EXPECT_EQ(0, wcscmp(buffer, L"42-abc"));
  FormatWide(buffer, 4, L"%d", 123456);
  EXPECT_EQ(3u, wcslen(buffer));
}

}  // namespace
