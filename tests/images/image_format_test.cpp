// Colour formats and base images: the fixed formats, masks to shifts and
// widths, pitch and data size, pixel packing and access, half floats, the
// load-settings snapshot and alpha-image file names.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <string>

#include "DaDode.h"
#include "ReReziRader.h"
#include "image_fixtures.h"
#include "VeRavoroString.h"
#include "ZiDezaru.h"

namespace {

using imgfix::Masks;

using imgfix::Fixed;

TEST(ColorFormat, FixedFormatsMatchTheirMasks) {
  struct Case {
    const char* name;
    int (*make)(ColorFormatRecord*);
    int bytes, bits;
    uint32_t alphaMask, spareMask;
    int spareShift, spareWidth;
  } cases[] = {
      {"XRGB8", MakeColorFormatXRGB8, 4, 32, 0, 0xff000000, 24, 8},
      {"ARGB8", MakeColorFormatARGB8, 4, 32, 0xff000000, 0, 0, 0},
      {"RGB8", MakeColorFormatRGB8, 3, 24, 0, 0, 0, 0},
      {"Pal8", MakeColorFormatPal8, 1, 8, 0, 0xff000000, 24, 8},
      {"Gray8", MakeColorFormatGray8, 1, 8, 0, 0xff000000, 24, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ColorFormatRecord f;
    memset(&f, 0x5a, sizeof(f));
    EXPECT_EQ(0, c.make(&f));
    EXPECT_EQ(0, f.kind);
    EXPECT_EQ(0, f.channelCount);
    EXPECT_EQ(0, f.bitsPerChannel);
    EXPECT_EQ(0, f.floatFlag);
    EXPECT_EQ(c.bytes, f.bytesPerPixel);
    EXPECT_EQ(c.bits, f.bitsPerPixel);
    EXPECT_EQ(0xff0000u, f.redMask);
    EXPECT_EQ(0xff00u, f.greenMask);
    EXPECT_EQ(0xffu, f.blueMask);
    EXPECT_EQ(16, f.redShift);
    EXPECT_EQ(8, f.greenShift);
    EXPECT_EQ(0, f.blueShift);
    EXPECT_EQ(8, f.redWidth);
    EXPECT_EQ(c.alphaMask, f.alphaMask);
    EXPECT_EQ(c.alphaMask ? 8 : 0, f.alphaWidth);
    EXPECT_EQ(c.alphaMask ? 24 : 0, f.alphaShift);
    EXPECT_EQ(c.spareMask, f.spareMask);
    EXPECT_EQ(c.spareShift, f.spareShift);
    EXPECT_EQ(c.spareWidth, f.spareWidth);
  }
  // Only the grey format touches the palette.
  ColorFormatRecord pal;
  memset(&pal, 0x5a, sizeof(pal));
  MakeColorFormatPal8(&pal);
  EXPECT_EQ(0x5a, pal.palette[7][2]);
  ColorFormatRecord grey = Fixed(MakeColorFormatGray8);
  for (int i : {0, 1, 128, 255}) {
    EXPECT_EQ(i, grey.palette[i][0]);
    EXPECT_EQ(i, grey.palette[i][1]);
    EXPECT_EQ(i, grey.palette[i][2]);
    EXPECT_EQ(0, grey.palette[i][3]);
  }
}

TEST(ColorFormat, MasksGiveShiftsWidthsAndSpareBits) {
  struct Case {
    int bits;
    uint32_t masks[4];
    int shifts[4], widths[4];
    uint32_t spare;
    int spareShift, spareWidth;
  } cases[] = {
      {16, {0x7c00, 0x3e0, 0x1f, 0}, {10, 5, 0, 0}, {5, 5, 5, 0}, 0x8000, 15, 1},
      {16, {0xf800, 0x7e0, 0x1f, 0}, {11, 5, 0, 0}, {5, 6, 5, 0}, 0, 0, 0},
      {16, {0xf00, 0xf0, 0xf, 0xf000}, {8, 4, 0, 12}, {4, 4, 4, 4}, 0, 0, 0},
      {32, {0xff0000, 0xff00, 0xff, 0}, {16, 8, 0, 0}, {8, 8, 8, 0}, 0xff000000, 24, 8},
      {32, {0x3ff00000, 0xffc00, 0x3ff, 0xc0000000}, {20, 10, 0, 30}, {10, 10, 10, 2}, 0, 0, 0},
      {24, {0xff0000, 0xff00, 0xff, 0}, {16, 8, 0, 0}, {8, 8, 8, 0}, 0, 0, 0},
      // A mask with a hole: only its lowest run counts.
      {16, {0x0f0f, 0x00f0, 0, 0}, {0, 4, 0, 0}, {4, 4, 0, 0}, 0xf000, 12, 4},
      {32, {0x00ff00f0, 0, 0, 0}, {4, 0, 0, 0}, {4, 0, 0, 0}, 0xff00ff0f, 0, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.masks[0]);
    ColorFormatRecord f = Masks(c.bits, c.masks[0], c.masks[1], c.masks[2], c.masks[3]);
    EXPECT_EQ(c.bits / 8, f.bytesPerPixel);
    EXPECT_EQ(c.bits, f.bitsPerPixel);
    const int shifts[4] = {f.redShift, f.greenShift, f.blueShift, f.alphaShift};
    const int widths[4] = {f.redWidth, f.greenWidth, f.blueWidth, f.alphaWidth};
    for (int i = 0; i < 4; i++) {
      EXPECT_EQ(c.shifts[i], shifts[i]) << "channel " << i;
      EXPECT_EQ(c.widths[i], widths[i]) << "channel " << i;
    }
    EXPECT_EQ(c.spare, f.spareMask);
    EXPECT_EQ(c.spareShift, f.spareShift);
    EXPECT_EQ(c.spareWidth, f.spareWidth);
  }
}

TEST(ColorFormat, WideChannelFormatKeepsOnlyItsChannelFields) {
  ColorFormatRecord f;
  memset(&f, 0x77, sizeof(f));
  MakeColorFormatFromMasks(&f, 64, 0xff, 0xff00, 0xff0000, 0, 4, 16, 1);
  EXPECT_EQ(4, f.channelCount);
  EXPECT_EQ(16, f.bitsPerChannel);
  EXPECT_EQ(1, f.floatFlag);
  EXPECT_EQ(8, f.bytesPerPixel);
  EXPECT_EQ(0, f.bitsPerPixel);
  EXPECT_EQ(0u, f.redMask);
  EXPECT_EQ(0, f.redWidth);
  EXPECT_EQ(0, f.palette[0][0]);
  EXPECT_TRUE(IsWideChannelFormat(&f));
}

TEST(ColorFormat, RecomputeSpareBitsMaskFollowsTheWidths) {
  ColorFormatRecord f = Masks(16, 0x7c00, 0x3e0, 0x1f, 0);
  f.spareShift = 3;
  f.spareWidth = 2;
  f.spareMask = 0;
  RecomputeSpareBitsMask(&f);
  EXPECT_EQ(0x8000u, f.spareMask);
  EXPECT_EQ(3, f.spareShift);  // left as it was
  EXPECT_EQ(2, f.spareWidth);
  f.alphaMask = 0x8000;
  f.alphaWidth = 1;
  RecomputeSpareBitsMask(&f);
  EXPECT_EQ(0u, f.spareMask);
}

TEST(BaseImage, PitchIsTheRowRoundedUpToFourBytes) {
  struct Case {
    uint32_t bits;
    int width, height, pitch;
  } cases[] = {
      {32, 200, 1, 800}, {24, 3, 2, 12}, {24, 4, 1, 12}, {16, 5, 3, 12}, {8, 1, 1, 4}, {8, 9, 2, 12}, {32, 0, 3, 0},
  };
  for (const Case& c : cases) {
    ColorFormatRecord f = c.bits == 32   ? Fixed(MakeColorFormatARGB8)
                          : c.bits == 24 ? Fixed(MakeColorFormatRGB8)
                          : c.bits == 16 ? Masks(16, 0xf800, 0x7e0, 0x1f, 0)
                                         : Fixed(MakeColorFormatPal8);
    BaseImageRecord image;
    ASSERT_EQ(0, CreateBaseImageWithFormat(c.width, c.height, &f, &image));
    EXPECT_EQ(c.pitch, image.pitch) << c.bits << " bits, width " << c.width;
    EXPECT_EQ(c.width, image.width);
    EXPECT_EQ(c.height, image.height);
    EXPECT_EQ(0, image.mipLevelCount);
    EXPECT_EQ(0, image.cubeFlag);
    EXPECT_EQ(static_cast<int64_t>(c.pitch) * c.height, GetBaseImageDataSize(&image));
    ReleaseBaseImage(&image);
  }
}

TEST(BaseImage, CreateAndReleaseBalanceTheAllocator) {
  const int count = GetAllocCount();
  const size_t total = GetAllocTotalSize();
  BaseImageRecord a, x;
  ASSERT_EQ(0, CreateBaseImageARGB8(16, 8, &a));
  ASSERT_EQ(0, CreateBaseImageXRGB8(3, 3, &x));
  EXPECT_TRUE(IsExactARGB8Format(&a.format));
  EXPECT_EQ(0xff000000u, x.format.spareMask);
  EXPECT_EQ(count + 2, GetAllocCount());
  EXPECT_EQ(total + 16 * 4 * 8 + 12 * 3, GetAllocTotalSize());
  EXPECT_EQ(0, ReleaseBaseImage(&a));
  EXPECT_EQ(0, ReleaseBaseImage(&x));
  EXPECT_EQ(count, GetAllocCount());
  EXPECT_EQ(total, GetAllocTotalSize());
  // Released records are empty, and releasing again is harmless.
  BaseImageRecord empty;
  memset(&empty, 0, sizeof(empty));
  EXPECT_EQ(0, memcmp(&empty, &a, sizeof(a)));
  EXPECT_EQ(0, ReleaseBaseImage(&a));
}

TEST(BaseImage, SizesThatDoNotFitAreRefused) {
  const int count = GetAllocCount();
  struct Case {
    int width, height;
  } cases[] = {{0x7fffffff, 1}, {65536, 65536}, {40000, 20000}, {-1, 4}, {4, -1}};
  for (const Case& c : cases) {
    BaseImageRecord image;
    EXPECT_EQ(-1, CreateBaseImageARGB8(c.width, c.height, &image)) << c.width << " x " << c.height;
    EXPECT_EQ(nullptr, image.pixels);
  }
  EXPECT_EQ(count, GetAllocCount());
}

TEST(BaseImage, DataSizeCountsMipLevelsAndBlocks) {
  struct Case {
    int kind, width, height, pitch, mips;
    int64_t size;
  } cases[] = {
      {1, 256, 256, 0, 9, 32768 + 8192 + 2048 + 512 + 128 + 32 + 8 + 8 + 8},
      {5, 256, 256, 0, 9, 65536 + 16384 + 4096 + 1024 + 256 + 64 + 16 + 16 + 16},
      {3, 256, 256, 0, 9, 65536 + 16384 + 4096 + 1024 + 256 + 64 + 16 + 16 + 16},
      {1, 256, 256, 0, 0, 32768},
      {1, 256, 256, 0, 1, 32768},
      {2, 8, 4, 0, 1, 32},
      {0, 16, 16, 64, 5, 1024 + 256 + 64 + 16 + 8},
      {0, 16, 16, 64, 0, 1024},
      {6, 16, 16, 64, 0, -1},
  };
  for (const Case& c : cases) {
    BaseImageRecord image;
    memset(&image, 0, sizeof(image));
    image.format.kind = static_cast<uint8_t>(c.kind);
    image.width = c.width;
    image.height = c.height;
    image.pitch = c.pitch;
    image.mipLevelCount = c.mips;
    EXPECT_EQ(c.size, GetBaseImageDataSize(&image)) << "kind " << c.kind << ", " << c.mips << " levels";
  }
  // Sizes beyond 32 bits are reckoned exactly.
  BaseImageRecord big;
  memset(&big, 0, sizeof(big));
  big.width = 65536;
  big.height = 65536;
  big.pitch = 65536 * 4;
  EXPECT_EQ(65536LL * 65536 * 4, GetBaseImageDataSize(&big));
}

TEST(BaseImage, ClearRectZeroesOnlyTheRectangle) {
  BaseImageRecord image;
  ASSERT_EQ(0, CreateBaseImageXRGB8(4, 3, &image));
  memset(image.pixels, 0xee, static_cast<size_t>(image.pitch) * image.height);
  ClearBaseImageRect(&image, 1, 1, 2, 2);
  for (int y = 0; y < 3; y++) {
    for (int x = 0; x < 4; x++) {
      const uint32_t* p = reinterpret_cast<const uint32_t*>(reinterpret_cast<uint8_t*>(image.pixels) +
                                                            y * image.pitch) +
                          x;
      const bool inside = x >= 1 && x < 3 && y >= 1 && y < 3;
      EXPECT_EQ(inside ? 0u : 0xeeeeeeeeu, *p) << x << "," << y;
    }
  }
  ReleaseBaseImage(&image);
}

TEST(PixelValue, PaletteMatchTakesTheNearestAndTheLowerIndexOnATie) {
  ColorFormatRecord f = Fixed(MakeColorFormatPal8);
  memset(f.palette, 0, sizeof(f.palette));
  for (int i = 0; i < 256; i++) f.palette[i][2] = 200;  // far from everything tested
  // Entries 3 and 7 are equally near (10, 20, 30).
  f.palette[3][2] = 12, f.palette[3][1] = 20, f.palette[3][0] = 30;
  f.palette[7][2] = 10, f.palette[7][1] = 22, f.palette[7][0] = 30;
  f.palette[9][2] = 0, f.palette[9][1] = 0, f.palette[9][0] = 255;
  EXPECT_EQ(3u, MakeFormatPixelFromRGBA(&f, 10, 20, 30, 0));
  EXPECT_EQ(9u, MakeFormatPixelFromRGBA(&f, 0, 0, 250, 77));  // alpha ignored
  EXPECT_EQ(7u, MakeFormatPixelFromRGBA(&f, 10, 23, 30, 0));
}

TEST(PixelValue, PackingAndSplittingFollowTheMasks) {
  struct Case {
    ColorFormatRecord format;
    int r, g, b, a;
    uint32_t pixel;
    int sr, sg, sb, sa;  // split back
  } cases[] = {
      {Masks(16, 0xf800, 0x7e0, 0x1f, 0), 255, 128, 64, 255, 0xfc08, 255, 129, 65, 0},
      {Masks(16, 0xf800, 0x7e0, 0x1f, 0), 255, 255, 255, 0, 0xffff, 255, 255, 255, 0},
      {Masks(16, 0x7c00, 0x3e0, 0x1f, 0), 0, 0, 0, 0, 0x8000, 0, 0, 0, 0},
      {Masks(16, 0xf00, 0xf0, 0xf, 0xf000), 0x11, 0x22, 0x33, 0xff, 0xf123, 0x11, 0x22, 0x33, 0xff},
      {Fixed(MakeColorFormatARGB8), 1, 2, 3, 4, 0x04010203, 1, 2, 3, 4},
      {Fixed(MakeColorFormatXRGB8), 1, 2, 3, 4, 0xff010203, 1, 2, 3, 0},
      {Masks(32, 0xff0000, 0xff00, 0xff, 0x3000000), 1, 2, 3, 255, 0xff010203, 1, 2, 3, 255},
      {Masks(32, 0x3ff00000, 0xffc00, 0x3ff, 0xc0000000), 255, 0, 255, 255, 0xfff003ff, 255, 0, 255, 255},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pixel);
    EXPECT_EQ(c.pixel, MakeFormatPixelFromRGBA(&c.format, c.r, c.g, c.b, c.a));
    int r = -1, g = -1, b = -1, a = -1;
    EXPECT_EQ(0, SplitFormatPixelToRGBA(&c.format, c.pixel, &r, &g, &b, &a));
    EXPECT_EQ(c.sr, r);
    EXPECT_EQ(c.sg, g);
    EXPECT_EQ(c.sb, b);
    EXPECT_EQ(c.sa, a);
  }
  // Every output may be absent.
  ColorFormatRecord argb = Fixed(MakeColorFormatARGB8);
  EXPECT_EQ(0, SplitFormatPixelToRGBA(&argb, 0x12345678, nullptr, nullptr, nullptr, nullptr));
}

TEST(PixelAccess, SetAndGetRoundTripInEveryPixelSize) {
  ColorFormatRecord formats[] = {Fixed(MakeColorFormatARGB8), Fixed(MakeColorFormatRGB8),
                                 Masks(16, 0xf800, 0x7e0, 0x1f, 0), Fixed(MakeColorFormatGray8)};
  for (const ColorFormatRecord& f : formats) {
    SCOPED_TRACE(static_cast<int>(f.bytesPerPixel));
    BaseImageRecord image;
    ASSERT_EQ(0, CreateBaseImageWithFormat(3, 2, &f, &image));
    memset(image.pixels, 0, static_cast<size_t>(image.pitch) * 2);
    EXPECT_EQ(0, SetBaseImagePixelRGBA(&image, 2, 1, 255, 255, 255, 255));
    EXPECT_EQ(0, SetBaseImagePixelRGBA(&image, 0, 1, 0, 0, 0, 0));
    int r, g, b, a;
    EXPECT_EQ(0, GetBaseImagePixelRGBA(&image, 2, 1, &r, &g, &b, &a));
    EXPECT_EQ(255, r);
    EXPECT_EQ(255, g);
    EXPECT_EQ(255, b);
    EXPECT_EQ(f.alphaWidth ? 255 : 0, a);
    // Outside the image nothing is read or written.
    std::string before(reinterpret_cast<const char*>(image.pixels), static_cast<size_t>(image.pitch) * 2);
    const int outside[][2] = {{3, 0}, {0, 2}, {-1, 0}, {0, -1}, {0x7fffffff, 0}};
    for (const auto& o : outside) {
      EXPECT_EQ(-1, SetBaseImagePixelRGBA(&image, o[0], o[1], 1, 2, 3, 4));
      EXPECT_EQ(-1, GetBaseImagePixelRGBA(&image, o[0], o[1], &r, &g, &b, &a));
    }
    EXPECT_EQ(before, std::string(reinterpret_cast<const char*>(image.pixels), static_cast<size_t>(image.pitch) * 2));
    ReleaseBaseImage(&image);
  }
}

TEST(PixelAccess, ThreeBytePixelsAreLowWordThenHighByte) {
  BaseImageRecord image;
  ColorFormatRecord f = Fixed(MakeColorFormatRGB8);
  ASSERT_EQ(0, CreateBaseImageWithFormat(2, 1, &f, &image));
  SetBaseImagePixelRGBA(&image, 1, 0, 0x11, 0x22, 0x33, 0);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(image.pixels) + 3;
  EXPECT_EQ(0x33, p[0]);
  EXPECT_EQ(0x22, p[1]);
  EXPECT_EQ(0x11, p[2]);
  ReleaseBaseImage(&image);
}

TEST(PixelAccess, PaletteImagesReadTheirPaletteEntry) {
  ColorFormatRecord f = Fixed(MakeColorFormatPal8);
  memset(f.palette, 0, sizeof(f.palette));
  f.palette[5][0] = 10, f.palette[5][1] = 20, f.palette[5][2] = 30, f.palette[5][3] = 40;
  BaseImageRecord image;
  ASSERT_EQ(0, CreateBaseImageWithFormat(1, 1, &f, &image));
  *reinterpret_cast<uint8_t*>(image.pixels) = 5;
  int r, g, b, a;
  ASSERT_EQ(0, GetBaseImagePixelRGBA(&image, 0, 0, &r, &g, &b, &a));
  EXPECT_EQ(30, r);
  EXPECT_EQ(20, g);
  EXPECT_EQ(10, b);
  EXPECT_EQ(40, a);
  EXPECT_EQ(0x001e140au, GetBaseImagePixelARGB8(&image, 0, 0));
  ReleaseBaseImage(&image);
}

TEST(PixelAccess, ARGB8ReadPlacesChannelTopBitsWithoutScaling) {
  struct Case {
    ColorFormatRecord format;
    uint32_t pixel, argb;
  } cases[] = {
      {Masks(16, 0xf800, 0x7e0, 0x1f, 0), 0xffff, 0x00f8fcf8},
      {Masks(16, 0xf00, 0xf0, 0xf, 0xf000), 0x8421, 0x80402010},
      {Masks(16, 0x7c00, 0x3e0, 0x1f, 0x8000), 0x8000, 0x80000000},
      {Fixed(MakeColorFormatXRGB8), 0x7f123456, 0x00123456},
      {Fixed(MakeColorFormatARGB8), 0x7f123456, 0x7f123456},
      {Masks(32, 0x3ff00000, 0xffc00, 0x3ff, 0xc0000000), 0xffffffff, 0xc0ffffff},
  };
  for (const Case& c : cases) {
    BaseImageRecord image;
    ASSERT_EQ(0, CreateBaseImageWithFormat(2, 2, &c.format, &image));
    WritePixelBytes(reinterpret_cast<uint8_t*>(image.pixels) + image.pitch + c.format.bytesPerPixel,
                    c.format.bytesPerPixel, c.pixel);
    EXPECT_EQ(c.argb, GetBaseImagePixelARGB8(&image, 1, 1)) << std::hex << c.pixel;
    EXPECT_EQ(0u, GetBaseImagePixelARGB8(&image, 2, 0));
    EXPECT_EQ(0u, GetBaseImagePixelARGB8(&image, 0, -1));
    ReleaseBaseImage(&image);
  }
  BaseImageRecord empty;
  memset(&empty, 0, sizeof(empty));
  EXPECT_EQ(0u, GetBaseImagePixelARGB8(&empty, 0, 0));
}

TEST(HalfFloat, StandardConversion) {
  struct Case {
    uint16_t half;
    float value;
  } cases[] = {
      {0x3c00, 1.0f},
      {0xc000, -2.0f},
      {0x3800, 0.5f},
      {0x7bff, 65504.0f},
      {0x0000, 0.0f},
      {0x0400, 6.103515625e-05f},
      {0x0001, 5.9604644775390625e-08f},
      {0x03ff, 6.0975551605224609375e-05f},
      {0x3555, 0.333251953125f},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value, HalfFloatToFloat(c.half)) << std::hex << c.half;
  EXPECT_TRUE(signbit(HalfFloatToFloat(0x8000)));
  EXPECT_EQ(0.0f, HalfFloatToFloat(0x8000));
  EXPECT_TRUE(isinf(HalfFloatToFloat(0x7c00)) && HalfFloatToFloat(0x7c00) > 0);
  EXPECT_TRUE(isinf(HalfFloatToFloat(0xfc00)) && HalfFloatToFloat(0xfc00) < 0);
  EXPECT_TRUE(isnan(HalfFloatToFloat(0x7e00)));
  EXPECT_TRUE(isnan(HalfFloatToFloat(0x7c01)));
}

TEST(HalfFloat, EveryHalfSurvivesTheRoundTrip) {
  for (uint32_t h = 0; h < 0x10000; h++) {
    float f = HalfFloatToFloat(static_cast<uint16_t>(h));
    if (isnan(f)) {
      EXPECT_TRUE(isnan(HalfFloatToFloat(FloatToHalfFloat(f))));
      continue;
    }
    ASSERT_EQ(h, FloatToHalfFloat(f)) << std::hex << h;
  }
  EXPECT_EQ(0x7c00, FloatToHalfFloat(1e6f));
  EXPECT_EQ(0x3c00, FloatToHalfFloat(1.0002f));  // nearest
  EXPECT_EQ(0x0000, FloatToHalfFloat(1e-9f));
}

TEST(BaseImageModule, StartsAndEndsOnce) {
  ASSERT_EQ(0, BaseImageModuleStarted);
  EXPECT_EQ(-1, TerminateBaseImageModule());
  EXPECT_EQ(0, InitializeBaseImageModule());
  EXPECT_EQ(-1, InitializeBaseImageModule());
  EXPECT_EQ(1, BaseImageModuleStarted);
  EXPECT_EQ(0, TerminateBaseImageModule());
  EXPECT_EQ(0, BaseImageModuleStarted);
}

int LoaderA(ImageLoadStream*, BaseImageRecord*) { return -1; }
int LoaderB(ImageLoadStream*, BaseImageRecord*) { return -1; }

TEST(ImageLoadSettings, SnapshotCopiesLoadersTablesAndSwitches) {
  const int savedCount = UserImageLoaderCount;
  UserImageLoaderCount = 0;
  ASSERT_EQ(0, AddUserImageLoader(LoaderA));
  ASSERT_EQ(0, AddUserImageLoader(LoaderB));
  UsePremultipliedAlphaOnLoad = 1;
  KeyColorToAlpha = 1;
  LoadKeyColor = 0x00ff00;

  ImageLoadSettings settings;
  memset(&settings, 0xcc, sizeof(settings));
  ASSERT_EQ(0, SnapshotImageLoadSettings(&settings));
  EXPECT_EQ(2, settings.userLoaderCount);
  EXPECT_EQ(&LoaderA, settings.userLoaders[0]);
  EXPECT_EQ(&LoaderB, settings.userLoaders[1]);
  EXPECT_EQ(0, memcmp(&settings.fileAccess, GetFileAccessTable(), sizeof(FileStreamFunctionTable)));
  EXPECT_EQ(0, memcmp(&settings.fileStream, GetFileStreamTable(), sizeof(StreamFunctionTable)));
  EXPECT_EQ(0, memcmp(&settings.memoryStream, GetMemoryStreamTable(), sizeof(StreamFunctionTable)));
  EXPECT_EQ(1, settings.UsePremultipliedAlphaOnLoad);
  EXPECT_EQ(1, settings.KeyColorToAlpha);
  EXPECT_EQ(0x00ff00, settings.LoadKeyColor);

  // Later changes do not reach a snapshot already taken.
  LoadKeyColor = 0x123456;
  EXPECT_EQ(0x00ff00, settings.LoadKeyColor);

  // The list holds ten loaders.
  for (int i = 2; i < USER_IMAGE_LOADER_MAX; i++) EXPECT_EQ(0, AddUserImageLoader(LoaderA));
  EXPECT_EQ(-1, AddUserImageLoader(LoaderB));
  EXPECT_EQ(-1, AddUserImageLoader(nullptr));

  UserImageLoaderCount = savedCount;
  UsePremultipliedAlphaOnLoad = 0;
  KeyColorToAlpha = 0;
  LoadKeyColor = 0;
}

TEST(AlphaImageFileName, InsertsBeforeTheExtensionOfTheFileName) {
  struct Case {
    const char* name;
    const char* expected;
  } cases[] = {
      {"pic.png", "pic_a.png"},
      {"pic", "pic_a"},
      {"", "_a"},
      {"a.b.c", "a.b_a.c"},
      {"img\\chara.png", "img\\chara_a.png"},
      {"dir.old/pic", "dir.old/pic_a"},
      {"dir.old\\pic", "dir.old\\pic_a"},
      {"dir.old/pic.bmp", "dir.old/pic_a.bmp"},
      {".hidden", "_a.hidden"},
      {"dir/", "dir/_a"},
  };
  for (const Case& c : cases) {
    char out[64];
    memset(out, 0x7f, sizeof(out));
    EXPECT_EQ(0, MakeAlphaImageFileName(c.name, out));
    EXPECT_STREQ(c.expected, out) << c.name;
    EXPECT_EQ(0x7f, out[strlen(c.name) + 3]) << "wrote past the name plus two bytes";
  }
}

TEST(AlphaImageFileName, DoubleByteTrailBytesAreNotSeparators) {
  const int saved = GetCharSet();
  SetCharSet(CHARSET_SHIFTJIS);
  // 0x95 0x5c is one character whose trail byte equals "\".
  char out[64];
  MakeAlphaImageFileName("x.y\x95\x5cz", out);
  EXPECT_STREQ("x_a.y\x95\x5cz", out);
  MakeAlphaImageFileName("d\\\x95\x5c.png", out);
  EXPECT_STREQ("d\\\x95\x5c_a.png", out);
  SetCharSet(saved);
}

TEST(BaseImage, RemakingARecordFromItsOwnFormatKeepsTheFormat) {
  ColorFormatRecord f = Masks(16, 0xf800, 0x7e0, 0x1f, 0);
  f.palette[9][1] = 0x42;
  BaseImageRecord image;
  ASSERT_EQ(0, CreateBaseImageWithFormat(2, 2, &f, &image));
  void* old = image.pixels;
  ASSERT_EQ(0, CreateBaseImageWithFormat(5, 3, &image.format, &image));
  EXPECT_EQ(0, memcmp(&f, &image.format, sizeof(f)));
  EXPECT_EQ(12, image.pitch);
  EXPECT_EQ(5, image.width);
  EXPECT_EQ(3, image.height);
  EXPECT_NE(nullptr, image.pixels);
  MemFree(old);
  ReleaseBaseImage(&image);
}

}  // namespace
