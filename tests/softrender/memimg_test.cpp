// Software image records: creation, pitch, views, release, raw fill, the
// mask ramp, built-in formats; writing base images in with run data,
// premultiplied copy and palettes; the plain transfer.
#include "SoftImageFixture.h"
#include "ZiDezaru.h"

namespace {

TEST(MemImg, AutomaticPitchAndPitchShift) {
  struct Case {
    int width, type, alpha, pal, pitch, shift, bytes;
  } cases[] = {
      {100, MEMIMG_COLOR_16, 0, 0, 208, -1, 2},     {128, MEMIMG_COLOR_16, 0, 0, 256, 8, 2},
      {4, MEMIMG_COLOR_16, 0, 0, 16, -1, 2},        {10, MEMIMG_COLOR_16, 1, 0, 48, -1, 4},
      {10, MEMIMG_COLOR_16, 0, 1, 16, 4, 1},        {64, MEMIMG_COLOR_32, 0, 0, 256, 8, 4},
      {3, MEMIMG_COLOR_8_CHANNEL, 1, 1, 16, -1, 1},
  };
  for (const Case& c : cases) {
    OwnedMemImg m;
    ASSERT_EQ(0, CreateMemImg(m.get(), {c.width, 3, -1, 0, c.type, c.pal, c.alpha, 0, nullptr}));
    EXPECT_EQ(c.pitch, m->header->pitch) << c.width;
    EXPECT_EQ(c.shift, m->header->pitchShift) << c.width;
    EXPECT_EQ(c.bytes, BytesOf(m.get())) << c.width;
  }
}

TEST(MemImg, PalettisedWithAlphaBecomesPalettisedWithoutAlpha) {
  OwnedMemImg m;
  ASSERT_EQ(0, CreateMemImg(m.get(), {8, 8, -1, 0, MEMIMG_COLOR_32, 1, 1, 1, nullptr}));
  EXPECT_EQ(1, m->header->palettised);
  EXPECT_EQ(0, m->header->alphaFlag);
  EXPECT_NE(nullptr, m->header->palette);
  EXPECT_EQ(m->header->palette + 1024, m->header->secondPalette);
  EXPECT_EQ(nullptr, m->header->premultiplied);
  EXPECT_NE(nullptr, m->header->runStream);
}

TEST(MemImg, CreatingOverAValidRecordIsRefused) {
  OwnedMemImg m;
  ASSERT_EQ(0, CreateMemImgOfColorType(m.get(), 4, 4, MEMIMG_COLOR_32));
  uint8_t* pixels = m->pixels;
  EXPECT_EQ(-1, CreateMemImg(m.get(), {8, 8, -1, 0, MEMIMG_COLOR_32, 0, 0, 0, nullptr}));
  EXPECT_EQ(pixels, m->pixels);
  EXPECT_EQ(4, m->width);
}

TEST(MemImg, DefaultColorTypeAndTypeFourFormat) {
  SetMemImgDefaultColorType(MEMIMG_COLOR_16);
  OwnedMemImg m;
  ASSERT_EQ(0, CreateMemImgOfColorType(m.get(), 4, 4, -1));
  EXPECT_EQ(MEMIMG_COLOR_16, m->header->colorType);
  EXPECT_EQ(nullptr, GetMemImgColorFormat(4, 0, 0));
  EXPECT_EQ(GetMemImgColorFormat(1, 1, 0), GetMemImgColorFormat(1, 1, 0));
  const ColorFormatRecord* f = GetMemImgColorFormat(0, 1, 0);
  EXPECT_EQ(4, f->bytesPerPixel);
  EXPECT_EQ(0x00FF0000u, f->alphaMask);
  EXPECT_EQ(0xF800u, f->redMask);
  const ColorFormatRecord* channel = GetMemImgColorFormat(3, 1, 1);
  EXPECT_EQ(2, channel->bytesPerPixel);
  EXPECT_EQ(0xFFFFu, channel->alphaMask);
  SetMemImgDefaultColorType(MEMIMG_COLOR_32);
}

TEST(MemImg, ViewsShareTheHeaderAndKeepPixelsAlive) {
  MEMIMG parent = {}, view = {}, inner = {}, refused = {};
  ASSERT_EQ(0, CreateMemImg(&parent, {10, 8, -1, 0, MEMIMG_COLOR_32, 0, 0, 0, nullptr}));
  CreateSubMemImg(&view, &parent, 0, 0, 10, 8);
  EXPECT_EQ(1, IsValidMemImg(&view));
  CreateSubMemImg(&refused, &parent, 1, 0, 10, 8);
  EXPECT_EQ(0, IsValidMemImg(&refused));
  CreateSubMemImg(&inner, &view, 2, 3, 4, 4);
  ASSERT_EQ(1, IsValidMemImg(&inner));
  EXPECT_EQ(parent.pixels + parent.header->pitch * 3 + 4 * 2, inner.pixels);
  EXPECT_EQ(3, parent.header->referenceCount);
  ReleaseMemImg(&parent);
  EXPECT_EQ(0u, parent.magic);
  PutPixel(&inner, 0, 0, 0xABCDEF);  // the block is still alive
  EXPECT_EQ(0xABCDEFu, GetPixel(&view, 2, 3));
  ReleaseMemImg(&view);
  ReleaseMemImg(&inner);
  ReleaseMemImg(&inner);  // invalid now: nothing
}

TEST(MemImg, RawFillClipsToTheImage) {
  OwnedMemImg m;
  ASSERT_EQ(0, CreateMemImgOfColorType(m.get(), 6, 4, MEMIMG_COLOR_16));
  FillMemImgRectRaw(m.get(), nullptr, 0x12345);
  EXPECT_EQ(0x2345u, GetPixel(m.get(), 5, 3));
  RECT outside = {10, 10, 20, 20};
  FillMemImgRectRaw(m.get(), &outside, 0x1111);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 6; x++) EXPECT_EQ(0x2345u, GetPixel(m.get(), x, y));
  RECT part = {-2, 1, 2, 9};
  FillMemImgRectRaw(m.get(), &part, 0x7777);
  EXPECT_EQ(0x7777u, GetPixel(m.get(), 0, 1));
  EXPECT_EQ(0x7777u, GetPixel(m.get(), 1, 3));
  EXPECT_EQ(0x2345u, GetPixel(m.get(), 2, 1));
  EXPECT_EQ(0x2345u, GetPixel(m.get(), 0, 0));
}

TEST(MemImg, MaskAlphaRamp) {
  struct Case {
    int position, range, index, value;
  } cases[] = {
      {0, 0, 0, 255},   {0, 200, 17, 255},  {128, 255, 0, 0},   {128, 255, 77, 77}, {128, 255, 255, 255},
      {128, 0, 127, 0}, {128, 0, 128, 128}, {128, 0, 129, 255}, {255, 0, 254, 0},   {255, 0, 255, 1},
  };
  for (const Case& c : cases) {
    SetMaskAlphaRamp(c.position, c.range);
    EXPECT_EQ(c.value, MemImgDrawState.maskAlphaRamp[c.index]) << c.position << " " << c.range << " " << c.index;
  }
}

TEST(MemImg, RetriedCreationAfterAFailureLeaksNothing) {
  // A record whose creation left a header behind (as after a failed
  // allocation) is created again over it; releasing frees everything.
  MEMIMG m = {};
  ASSERT_EQ(0, CreateMemImg(&m, {8, 8, -1, 0, MEMIMG_COLOR_32, 1, 0, 1, nullptr}));
  m.magic = 0;  // as if the run stream had failed: header and blocks attached
  ASSERT_EQ(0, CreateMemImg(&m, {8, 8, -1, 0, MEMIMG_COLOR_32, 1, 0, 1, nullptr}));
  ReleaseMemImg(&m);
  EXPECT_EQ(nullptr, m.header);
}

// Base images for the writer.
BaseImageRecord MakeArgb(int w, int h) {
  BaseImageRecord b;
  memset(&b, 0, sizeof(b));
  MakeColorFormatARGB8(&b.format);
  b.width = w;
  b.height = h;
  b.pitch = w * 4;
  b.pixels = MEM_ALLOC(static_cast<size_t>(b.pitch) * h);
  memset(b.pixels, 0, static_cast<size_t>(b.pitch) * h);
  return b;
}

TEST(MemImgWrite, RunDataOfALongTransparentLine) {
  BaseImageRecord b = MakeArgb(200, 2);
  uint32_t* p = reinterpret_cast<uint32_t*>(b.pixels);
  for (int x = 0; x < 200; x++) p[200 + x] = (x < 70 ? 0xFF000000u : (x < 75 ? 0x80000000u : 0x00000000u)) | 0x10;
  OwnedMemImg m;
  ASSERT_EQ(0, CreateMemImg(m.get(), {200, 2, -1, 0, MEMIMG_COLOR_32, 0, 1, 1, nullptr}));
  WriteBaseImageToMemImg(&b, nullptr, m.get(), {0, 0, 200, 2, 0, 0}, 0);
  ASSERT_EQ(1, m->header->runDataValid);
  const uint8_t expect[] = {0x3F, 0x3F, 0x3F, 0x07, 0xC0};
  // Second row: 64 + 6 opaque, 5 translucent, 125 transparent (64 + 61).
  const uint8_t second[] = {0x7F, 0x45, 0x84, 0x3F, 0x3C, 0xC0};
  EXPECT_EQ(0, memcmp(expect, m->header->runStream, 5));
  EXPECT_EQ(0, memcmp(second, m->header->runStream + 5, sizeof(second)));
  MemFree(b.pixels);
}

TEST(MemImgWrite, PremultipliedCopy) {
  BaseImageRecord b = MakeArgb(1, 1);
  *reinterpret_cast<uint32_t*>(b.pixels) = 0x803264C8u;  // alpha 128, red 50, green 100, blue 200
  OwnedMemImg m;
  ASSERT_EQ(0, CreateMemImg(m.get(), {1, 1, -1, 0, MEMIMG_COLOR_32, 0, 1, 1, nullptr}));
  WriteBaseImageToMemImg(&b, nullptr, m.get(), {0, 0, 1, 1, 0, 0}, 0);
  ASSERT_EQ(1, m->header->premultipliedValid);
  uint32_t v;
  memcpy(&v, m->header->premultiplied, 4);
  EXPECT_EQ(0x80193264u, v);  // 100, 50, 25, alpha 128
  MemFree(b.pixels);
}

TEST(MemImgWrite, PartialWriteClearsRunDataAndWholeWriteSetsIt) {
  BaseImageRecord small = MakeArgb(10, 10), whole = MakeArgb(20, 20);
  OwnedMemImg m;
  ASSERT_EQ(0, CreateMemImg(m.get(), {20, 20, -1, 0, MEMIMG_COLOR_16, 0, 0, 1, nullptr}));
  WriteBaseImageToMemImg(&whole, nullptr, m.get(), {0, 0, 20, 20, 0, 0}, 0);
  EXPECT_EQ(1, m->header->runDataValid);
  WriteBaseImageToMemImg(&small, nullptr, m.get(), {0, 0, 10, 10, 0, 0}, 0);
  EXPECT_EQ(0, m->header->runDataValid);
  WriteBaseImageToMemImg(&whole, nullptr, m.get(), {0, 0, 20, 20, 0, 0}, 0);
  EXPECT_EQ(1, m->header->runDataValid);
  // Any other writer clears it again.
  FillMemImgRectRaw(m.get(), nullptr, 0);
  EXPECT_EQ(0, m->header->runDataValid);
  OwnedMemImg channel;
  ASSERT_EQ(0, CreateMemImg(channel.get(), {20, 20, -1, 0, MEMIMG_COLOR_8_CHANNEL, 0, 0, 1, nullptr}));
  EXPECT_EQ(nullptr, channel->header->runStream);
  WriteBaseImageToMemImg(&whole, nullptr, channel.get(), {0, 0, 20, 20, 0, 0}, 0);
  EXPECT_EQ(0, channel->header->runDataValid);
  MemFree(small.pixels);
  MemFree(whole.pixels);
}

TEST(MemImgWrite, PaletteEntriesInTheImagesOwnForm) {
  for (int type : {MEMIMG_COLOR_16, MEMIMG_COLOR_32}) {
    BaseImageRecord b;
    memset(&b, 0, sizeof(b));
    MakeColorFormatPal8(&b.format);
    b.format.palette[3][0] = 0xFF;
    b.format.palette[3][1] = 0x80;
    b.format.palette[3][2] = 0x08;
    uint8_t pixels[4] = {3, 0, 3, 1};
    b.width = 2;
    b.height = 2;
    b.pitch = 2;
    b.pixels = pixels;
    OwnedMemImg m;
    ASSERT_EQ(0, CreateMemImg(m.get(), {2, 2, 2, 0, type, 1, 0, 0, nullptr}));
    WriteBaseImageToMemImg(&b, nullptr, m.get(), {0, 0, 2, 2, 0, 0}, 0);
    uint32_t entry = 0;
    memcpy(&entry, m->header->palette + (type == MEMIMG_COLOR_16 ? 6 : 12), type == MEMIMG_COLOR_16 ? 2 : 4);
    EXPECT_EQ(type == MEMIMG_COLOR_16 ? 0x0C1Fu : 0x000880FFu, entry);
    EXPECT_EQ(0, memcmp(m->header->palette, m->header->secondPalette, type == MEMIMG_COLOR_16 ? 512 : 1024));
    EXPECT_EQ(3u, GetPixel(m.get(), 0, 0));
    EXPECT_EQ(1u, GetPixel(m.get(), 1, 1));
  }
}

TEST(MemImgWrite, TransferConvertsBetweenColorTypes) {
  OwnedMemImg src, dest;
  ASSERT_EQ(0, CreateMemImgOfColorType(src.get(), 3, 2, MEMIMG_COLOR_32));
  ASSERT_EQ(0, CreateMemImgOfColorType(dest.get(), 4, 4, MEMIMG_COLOR_16));
  FillMemImgRectRaw(dest.get(), nullptr, 0);
  PutPixel(src.get(), 1, 1, 0x00FF8010u);
  RECT r = {1, 1, 2, 2};
  EXPECT_GE(TransferMemImg(dest.get(), src.get(), &r, 2, 3), 0);
  EXPECT_EQ(0xFC02u, GetPixel(dest.get(), 2, 3));
  EXPECT_EQ(0u, GetPixel(dest.get(), 1, 3));
}

}  // namespace
