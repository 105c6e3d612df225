// The image loader table and base-image loading: loader order and rewinds,
// refusals, files and memory, mirroring, key colour and premultiplied
// alpha, bitmap output, the colour-plus-alpha pair and raw "BGRA" files.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "DaDode.h"
#include "LogCapture.h"
#include "ReReziRader.h"
#include "TestFiles.h"
#include "ZiDezaru.h"
#include "image_fixtures.h"

using namespace imgfix;
using test_support::LogCapture;
using test_support::WriteFileBytes;

namespace {

// Restores the load switches, checks that nothing stays allocated and
// gives each test a folder with the log in it.
class ImageLoadTest : public ImageAllocTest {
 protected:
  void SetUp() override {
    savedPremultiply_ = UsePremultipliedAlphaOnLoad;
    savedKeyToAlpha_ = KeyColorToAlpha;
    savedKey_ = LoadKeyColor;
    log_.reset(new LogCapture("imgload"));
    ImageAllocTest::SetUp();  // the log's own blocks stay until after the check
  }
  void TearDown() override {
    ImageAllocTest::TearDown();
    UsePremultipliedAlphaOnLoad = savedPremultiply_;
    KeyColorToAlpha = savedKeyToAlpha_;
    LoadKeyColor = savedKey_;
    log_.reset();
  }
  std::string Path(const char* name) const { return log_->Folder() + "\\" + name; }
  std::string LogText() const { return log_->Text(); }

  int savedPremultiply_, savedKeyToAlpha_, savedKey_;
  std::unique_ptr<LogCapture> log_;
};

// User loaders that note where the stream stood when they were called.
std::vector<int64_t> UserLoaderPositions;
int ConsumingRefuser(ImageLoadStream* stream, BaseImageRecord* image) {
  UserLoaderPositions.push_back(ImageStreamTell(stream));
  uint8_t skip[10];
  stream->functions.Read(skip, 1, sizeof(skip), stream->handle);
  memset(image, 0x77, sizeof(*image));  // a refusing loader may leave litter
  return 5;
}
int OnePixelLoader(ImageLoadStream* stream, BaseImageRecord* image) {
  UserLoaderPositions.push_back(ImageStreamTell(stream));
  if (CreateBaseImageARGB8(1, 1, image) != 0) return -1;
  *reinterpret_cast<uint32_t*>(image->pixels) = 0x11223344;
  return 0;
}

TEST_F(ImageLoadTest, DataNoLoaderTakesIsRefusedWithALogLine) {
  const Bytes garbage(64, 0x55);
  BaseImageRecord image;
  memset(&image, 0x33, sizeof(image));
  EXPECT_EQ(-1, LoadFromMemory(garbage, &image));
  BaseImageRecord empty;
  memset(&empty, 0, sizeof(empty));
  EXPECT_EQ(0, memcmp(&empty, &image, sizeof(image)));
  EXPECT_NE(std::string::npos,
            LogText().find("メモリ上の画像データを読み込めませんでした、対応していない形式か壊れています"));

  EXPECT_EQ(-1, LoadFromMemory(Bytes(), &image));
  EXPECT_EQ(-1, LoadImageToBaseImage(Path("missing.png").c_str(), nullptr, 0, 0, &image, 0));
  EXPECT_NE(std::string::npos, LogText().find("missing.png を開けませんでした"));
}

TEST_F(ImageLoadTest, UserLoadersRunFirstAndEveryLoaderStartsAtZero) {
  // The DDS loader is the last of the table: it can only decode the file if
  // the stream was rewound after each loader before it.
  const std::vector<ImageFixture> dds = DdsFixtures();
  const ImageFixture& fixture = FixtureNamed(dds, "dds format number 21");
  ImageLoadSettings settings;
  SnapshotImageLoadSettings(&settings);
  settings.userLoaderCount = 2;
  settings.userLoaders[0] = ConsumingRefuser;
  settings.userLoaders[1] = ConsumingRefuser;
  UserLoaderPositions.clear();
  BaseImageRecord image;
  ASSERT_EQ(0, LoadBaseImageCore(&settings, nullptr, fixture.data.data(), static_cast<int>(fixture.data.size()), 1, 0,
                                 0, &image, nullptr, nullptr));
  EXPECT_EQ((std::vector<int64_t>{0, 0}), UserLoaderPositions);
  EXPECT_TRUE(PixelsMatch(&image, fixture.expected, true, 0));
  ReleaseBaseImage(&image);

  // A user loader that accepts wins over the built-in PNG loader.
  const std::vector<ImageFixture> png = PngFixtures();
  const Bytes& data = FixtureNamed(png, "png rgb").data;
  settings.userLoaders[1] = OnePixelLoader;
  UserLoaderPositions.clear();
  ASSERT_EQ(0, LoadBaseImageCore(&settings, nullptr, data.data(), static_cast<int>(data.size()), 1, 0, 0, &image,
                                 nullptr, nullptr));
  EXPECT_EQ((std::vector<int64_t>{0, 0}), UserLoaderPositions);
  EXPECT_EQ(1, image.width);
  EXPECT_EQ(0x11223344u, GetBaseImagePixelARGB8(&image, 0, 0));
  ReleaseBaseImage(&image);
}

TEST_F(ImageLoadTest, RegisteredUserLoaderIsInTheSnapshot) {
  const int savedCount = UserImageLoaderCount;
  ASSERT_EQ(0, AddUserImageLoader(OnePixelLoader));
  BaseImageRecord image;
  UserLoaderPositions.clear();
  EXPECT_EQ(0, LoadFromMemory(Bytes(8, 0), &image));
  EXPECT_EQ(1u, UserLoaderPositions.size());
  ReleaseBaseImage(&image);
  UserImageLoaderCount = savedCount;
}

TEST_F(ImageLoadTest, RefusingLoadersLeaveTheStreamAtTheStart) {
  NamedBytes inputs = {{"empty", Bytes()}, {"JPEG start", Bytes{0xFF, 0xD8, 0xFF}}, {"noise", Bytes(64, 0x55)}};
  for (const ImageFixture& f : AllFixtures()) {
    // Cut every format short inside its header or data.
    inputs.push_back(
        {f.name + " cut", Bytes(f.data.begin(), f.data.begin() + (f.data.size() > 20 ? 20 : f.data.size() / 2))});
  }
  const char* names[] = {"BMP", "JPEG", "PNG", "BGRA", "TGA", "DDS"};
  for (int i = 0; ImageLoaderTable[i] != nullptr; i++) {
    SCOPED_TRACE(names[i]);
    ExpectLoaderRefuses(ImageLoaderTable[i], inputs);
  }
}

TEST_F(ImageLoadTest, PngNamedLikeABitmapLoadsFromAFile) {
  const std::vector<ImageFixture> png = PngFixtures();
  const ImageFixture& fixture = FixtureNamed(png, "png rgba");
  WriteFileBytes(Path("pic.bmp"), fixture.data);
  BaseImageRecord image;
  ASSERT_EQ(0, LoadImageToBaseImage(Path("pic.bmp").c_str(), nullptr, 0, 0, &image, 0));
  EXPECT_TRUE(PixelsMatch(&image, fixture.expected, true, 0));
  ReleaseBaseImage(&image);
}

TEST_F(ImageLoadTest, BgraKeepsTheHighByteOfSixteenBitChannels) {
  Bytes data = {'B', 'G', 'R', 'A'};
  Put32(data, 0x10101010);
  Put32(data, 2);
  Put32(data, 1);
  for (uint32_t v : {0x12ffu, 0x3400u, 0xab00u, 0xffffu, 0u, 0x80u, 0xff01u, 0x7f7fu}) Put16(data, v);
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(data, &image));
  EXPECT_TRUE(IsExactARGB8Format(&image.format));
  EXPECT_EQ(8, image.pitch);
  EXPECT_EQ(0xffab3412u, GetBaseImagePixelARGB8(&image, 0, 0));
  EXPECT_EQ(0x7fff0000u, GetBaseImagePixelARGB8(&image, 1, 0));
  ReleaseBaseImage(&image);

  for (const ImageFixture& f : BgraFixtures()) {
    SCOPED_TRACE(f.name);
    ASSERT_EQ(0, LoadFromMemory(f.data, &image));
    EXPECT_TRUE(PixelsMatch(&image, f.expected, f.hasAlpha, 0));
    ReleaseBaseImage(&image);
  }

  // Another depth code, a missing row or a zero width is refused.
  Bytes other = data;
  Patch32(other, 4, 0x08080810);
  Bytes shortData(data.begin(), data.end() - 1);
  Bytes zeroWide = data;
  Patch32(zeroWide, 8, 0);
  for (const Bytes& bad : {other, shortData, zeroWide}) EXPECT_EQ(-1, LoadFromMemory(bad, &image));
}

TEST_F(ImageLoadTest, MirrorFlagReversesEachRow) {
  const std::vector<ImageFixture> bmp = BmpFixtures();
  const ImageFixture& fixture = FixtureNamed(bmp, "bmp24 top-down");
  Picture mirrored = fixture.expected;
  for (int y = 0; y < mirrored.height; y++)
    for (int x = 0; x < mirrored.width; x++) mirrored.At(x, y) = fixture.expected.At(mirrored.width - 1 - x, y);
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(fixture.data, &image, 1));
  EXPECT_TRUE(PixelsMatch(&image, mirrored, false, 0));
  ReleaseBaseImage(&image);

  // Block-compressed images are expanded first.
  const std::vector<ImageFixture> dds = DdsFixtures();
  const ImageFixture& blocks = FixtureNamed(dds, "dxt1 blocks");
  ASSERT_EQ(0, LoadFromMemory(blocks.data, &image, 1));
  EXPECT_EQ(0, image.format.kind);
  int r, g, b, a;
  ASSERT_EQ(0, GetBaseImagePixelRGBA(&image, 11, 0, &r, &g, &b, &a));
  EXPECT_EQ(170, r);
  EXPECT_EQ(255, a);
  ReleaseBaseImage(&image);

  // Any flag other than 1 leaves the image as it is.
  ASSERT_EQ(0, LoadFromMemory(fixture.data, &image, 2));
  EXPECT_TRUE(PixelsMatch(&image, fixture.expected, false, 0));
  ReleaseBaseImage(&image);
}

TEST_F(ImageLoadTest, KeyColorBecomesTransparentWhenPremultiplying) {
  const uint32_t row[3] = {0x00ff00, 0x0a141e, 0x00ff00};
  const Bytes data = BuildBmp(BmpOf(3, -1, 24, [&](int x, int) { return row[x]; }));
  UsePremultipliedAlphaOnLoad = 1;
  KeyColorToAlpha = 1;
  LoadKeyColor = 0x00ff00;
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(data, &image));
  EXPECT_TRUE(IsExactARGB8Format(&image.format));
  EXPECT_EQ(0u, GetBaseImagePixelARGB8(&image, 0, 0));
  EXPECT_EQ(0xff0a141eu, GetBaseImagePixelARGB8(&image, 1, 0));
  EXPECT_EQ(0u, GetBaseImagePixelARGB8(&image, 2, 0));
  ReleaseBaseImage(&image);

  // Without the key switch an image without alpha stays as it is.
  KeyColorToAlpha = 0;
  ASSERT_EQ(0, LoadFromMemory(data, &image));
  EXPECT_EQ(3, image.format.bytesPerPixel);
  ReleaseBaseImage(&image);
}

TEST_F(ImageLoadTest, PremultipliesImagesWithAlpha) {
  const std::vector<ImageFixture> tga = TgaFixtures();
  const ImageFixture& fixture = FixtureNamed(tga, "tga2 32-bit top-left");
  UsePremultipliedAlphaOnLoad = 1;
  KeyColorToAlpha = 1;  // not used: the image has alpha
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(fixture.data, &image));
  Picture expected = fixture.expected;
  for (Rgba& c : expected.pixels) {
    c.r = static_cast<uint8_t>(c.r * c.a / 255);
    c.g = static_cast<uint8_t>(c.g * c.a / 255);
    c.b = static_cast<uint8_t>(c.b * c.a / 255);
  }
  EXPECT_TRUE(PixelsMatch(&image, expected, true, 0));
  ReleaseBaseImage(&image);
}

TEST_F(ImageLoadTest, BitmapOutputHandsOutHeaderAndBits) {
  const std::vector<ImageFixture> bmp = BmpFixtures();
  const std::vector<ImageFixture> png = PngFixtures();
  struct Case {
    const ImageFixture* fixture;
    int bitCount;
  } cases[] = {
      {&FixtureNamed(bmp, "bmp24 bottom-up"), 24},  // rows as the image has them
      {&FixtureNamed(png, "png rgba"), 24},         // converted
      {&FixtureNamed(bmp, "bmp8 palette"), 8},      // colour table
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture->name);
    BITMAPINFO* info = nullptr;
    void* bits = nullptr;
    ASSERT_EQ(0, LoadBaseImageWithSettings(nullptr, c.fixture->data.data(), static_cast<int>(c.fixture->data.size()), 1,
                                           1, 0, nullptr, &info, &bits));
    ASSERT_NE(nullptr, info);
    ASSERT_NE(nullptr, bits);
    const Picture& e = c.fixture->expected;
    EXPECT_EQ(40u, info->bmiHeader.biSize);
    EXPECT_EQ(e.width, info->bmiHeader.biWidth);
    EXPECT_EQ(-e.height, info->bmiHeader.biHeight);
    EXPECT_EQ(c.bitCount, info->bmiHeader.biBitCount);
    const int pitch = (e.width * c.bitCount / 8 + 3) / 4 * 4;
    for (int y = 0; y < e.height; y++) {
      for (int x = 0; x < e.width; x++) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(bits) + y * pitch + x * c.bitCount / 8;
        const uint8_t* bgr = c.bitCount == 8 ? &info->bmiColors[*p].rgbBlue : p;
        EXPECT_EQ(e.At(x, y).b, bgr[0]);
        EXPECT_EQ(e.At(x, y).g, bgr[1]);
        EXPECT_EQ(e.At(x, y).r, bgr[2]);
      }
    }
    MemFree(bits);
    MemFree(info);
  }
}

TEST_F(ImageLoadTest, PairLoadsTheSeparateAlphaImage) {
  const std::vector<ImageFixture> png = PngFixtures();
  const ImageFixture& color = FixtureNamed(png, "png rgb");
  const ImageFixture& alpha = FixtureNamed(png, "png grey");
  WriteFileBytes(Path("chara.png"), color.data);
  WriteFileBytes(Path("chara_a.png"), alpha.data);
  WriteFileBytes(Path("lone.png"), color.data);
  BaseImageRecord image, alphaImage;
  BaseImageRecord empty;
  memset(&empty, 0, sizeof(empty));

  ASSERT_EQ(0, LoadBaseImagePairWithSettings(Path("chara.png").c_str(), nullptr, 0, 0, nullptr, 0, 0, &image,
                                             &alphaImage, 0));
  EXPECT_TRUE(PixelsMatch(&image, color.expected, false, 0));
  EXPECT_TRUE(PixelsMatch(&alphaImage, alpha.expected, false, 0));
  ReleaseBaseImage(&image);
  ReleaseBaseImage(&alphaImage);

  // No alpha file: 1, the colour image stays; no log line for the absence.
  StartLog();
  ASSERT_EQ(
      1, LoadBaseImagePairWithSettings(Path("lone.png").c_str(), nullptr, 0, 0, nullptr, 0, 0, &image, &alphaImage, 0));
  EXPECT_TRUE(PixelsMatch(&image, color.expected, false, 0));
  EXPECT_EQ(0, memcmp(&empty, &alphaImage, sizeof(empty)));
  EXPECT_EQ(std::string::npos, LogText().find("lone_a.png"));
  ReleaseBaseImage(&image);

  // Alpha bytes from memory; undecodable alpha bytes give 1; other modes 1.
  ASSERT_EQ(0, LoadBaseImagePairWithSettings(nullptr, color.data.data(), static_cast<int>(color.data.size()), 1,
                                             alpha.data.data(), static_cast<int>(alpha.data.size()), 1, &image,
                                             &alphaImage, 0));
  EXPECT_TRUE(PixelsMatch(&alphaImage, alpha.expected, false, 0));
  ReleaseBaseImage(&image);
  ReleaseBaseImage(&alphaImage);
  const Bytes junk(40, 0x55);
  EXPECT_EQ(1, LoadBaseImagePairWithSettings(nullptr, color.data.data(), static_cast<int>(color.data.size()), 1,
                                             junk.data(), static_cast<int>(junk.size()), 1, &image, &alphaImage, 0));
  EXPECT_EQ(0, memcmp(&empty, &alphaImage, sizeof(empty)));
  ReleaseBaseImage(&image);
  EXPECT_EQ(1, LoadBaseImagePairWithSettings(Path("chara.png").c_str(), nullptr, 0, 0, nullptr, 0, 2, &image,
                                             &alphaImage, 0));
  ReleaseBaseImage(&image);

  // The colour image failing fails the pair.
  EXPECT_EQ(-1, LoadBaseImagePairWithSettings(nullptr, junk.data(), static_cast<int>(junk.size()), 1, alpha.data.data(),
                                              static_cast<int>(alpha.data.size()), 1, &image, &alphaImage, 0));
  EXPECT_EQ(0, memcmp(&empty, &image, sizeof(empty)));
  EXPECT_EQ(0, memcmp(&empty, &alphaImage, sizeof(empty)));
}

TEST_F(ImageLoadTest, KeyColorTurnsAPaletteImageIntoArgb8) {
  // Index 0 is the key colour; the palette image is remade as ARGB8 first.
  BmpLayout layout = BmpOf(3, -1, 8, [](int x, int) { return static_cast<uint32_t>(x == 1 ? 1 : 0); });
  layout.afterHeader = {0x00ff00, 0x102030};
  UsePremultipliedAlphaOnLoad = 1;
  KeyColorToAlpha = 1;
  LoadKeyColor = 0x00ff00;
  BaseImageRecord image;
  ASSERT_EQ(0, LoadFromMemory(BuildBmp(layout), &image));
  EXPECT_TRUE(IsExactARGB8Format(&image.format));
  EXPECT_EQ(0u, GetBaseImagePixelARGB8(&image, 0, 0));
  EXPECT_EQ(0xff102030u, GetBaseImagePixelARGB8(&image, 1, 0));
  EXPECT_EQ(0u, GetBaseImagePixelARGB8(&image, 2, 0));
  ReleaseBaseImage(&image);
}

}  // namespace
