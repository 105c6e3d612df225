// Worked examples of the point blit's arithmetic and frame, one row each:
// one source pixel drawn over one destination pixel.
#include "SoftImageFixture.h"

namespace {

enum Src { DIRECT, ALPHA, PAL };

struct Example {
  const char* name;
  int bits;
  Src src;
  int mode, param;
  uint32_t bright;
  int trans;
  int mmx;
  int maskRamp;  // -1: no mask; else the ramp value of the mask byte
  uint32_t s;    // source pixel (alpha sources: with alpha), or palette entry
  uint32_t d;
  uint32_t expect;  // destination afterwards
};

const Example kExamples[] = {
    {"half blend: 255 over 255 gives 254", 32, DIRECT, 1, 128, 0xFFFFFF, 0, 0, -1, 0xFFFFFF, 0xFFFFFF, 0xFEFEFE},
    {"half blend with MMX: the same", 32, DIRECT, 1, 128, 0xFFFFFF, 0, 1, -1, 0xFFFFFF, 0xFFFFFF, 0xFEFEFE},
    {"add P=200: green lowest bits ORed", 32, DIRECT, 2, 200, 0xFFFFFF, 0, 0, -1, 0x000200, 0x000100, 0x000100},
    {"add P=255 without MMX: green 1 + 0 gives 0", 32, DIRECT, 2, 255, 0xFFFFFF, 0, 0, -1, 0x000000, 0x000100,
     0x000000},
    {"add P=255 with MMX: exact", 32, DIRECT, 2, 255, 0xFFFFFF, 0, 1, -1, 0x000000, 0x000100, 0x000100},
    {"packed add: (200,0x81,10) onto (100,0x7F,20,0x55)", 32, ALPHA, 2, 255, 0xFFFFFF, 1, 0, -1, 0xFF0A81C8, 0x55147F64,
     0x001EFFFF},
    {"packed add: red saturates, fourth byte 1", 32, ALPHA, 2, 255, 0xFFFFFF, 1, 0, -1, 0xFFC8140A, 0x5564140A,
     0x01FF2814},
    {"subtract (10,10,10) from (50,21,30)", 32, DIRECT, 3, 255, 0xFFFFFF, 0, 0, -1, 0x0A0A0A, 0x1E1532, 0x150B28},
    {"subtract (60,10,10) from (50,21,30) without MMX", 32, DIRECT, 3, 255, 0xFFFFFF, 0, 0, -1, 0x0A0A3C, 0x1E1532,
     0x150A00},
    {"subtract (60,10,10) from (50,21,30) with MMX", 32, DIRECT, 3, 255, 0xFFFFFF, 0, 1, -1, 0x0A0A3C, 0x1E1532,
     0x140B00},
    {"mode 1 P=255 is a copy", 32, DIRECT, 1, 255, 0xFFFFFF, 0, 0, -1, 0xAB123456, 0x00FFFFFF, 0xAB123456},
    {"mode 1 P=254: 255 over 0 gives 253", 32, DIRECT, 1, 254, 0xFFFFFF, 0, 0, -1, 0xFF, 0x00, 0xFD},
    {"mode 1 P=0 draws nothing", 32, DIRECT, 1, 0, 0xFFFFFF, 0, 0, -1, 0xFFFFFF, 0x123456, 0x123456},
    {"mode 2 P=0 draws nothing", 32, PAL, 2, 0, 0xFFFFFF, 0, 0, -1, 0xFFFFFF, 0x123456, 0x123456},
    {"mode 3 P=0 draws nothing, palettised too", 32, PAL, 3, 0, 0xFFFFFF, 0, 0, -1, 0xFFFFFF, 0x123456, 0x123456},
    {"mode 5 draws nothing", 32, DIRECT, 5, 255, 0xFFFFFF, 0, 0, -1, 0xFFFFFF, 0x123456, 0x123456},
    {"mode 9 draws nothing", 16, DIRECT, 9, 255, 0xFFFFFF, 0, 0, -1, 0xFFFF, 0x1234, 0x1234},
    {"mode 12 draws nothing", 32, DIRECT, 12, 255, 0xFFFFFF, 0, 0, -1, 0xFFFFFF, 0x123456, 0x123456},
    {"key in the colour bytes only: drawn", 32, DIRECT, 0, 255, 0xFFFFFF, 1, 0, -1, 0x01ABCDEF, 0x0, 0x01ABCDEF},
    {"key: skipped", 32, DIRECT, 0, 255, 0xFFFFFF, 1, 0, -1, 0x00ABCDEF, 0x0, 0x0},
    {"mode 4 with mask ramp 0: black", 32, DIRECT, 4, 255, 0xFFFFFF, 0, 0, 0, 0xFFFFFF, 0x808080, 0x000000},
    {"mode 1 with mask ramp 0: unchanged", 32, DIRECT, 1, 200, 0xFFFFFF, 0, 0, 0, 0xFFFFFF, 0x808080, 0x808080},
    {"alpha 0, flag clear, mode 0: copied whole", 32, ALPHA, 0, 255, 0xFFFFFF, 0, 0, -1, 0x00ABCDEF, 0x11111111,
     0x00ABCDEF},
    {"alpha 0, flag set: skipped", 32, ALPHA, 0, 255, 0xFFFFFF, 1, 0, -1, 0x00ABCDEF, 0x11111111, 0x11111111},
    {"alpha 0, flag set, mode 4: weighted to black", 32, ALPHA, 4, 255, 0xFFFFFF, 2, 0, -1, 0x00FFFFFF, 0x11808080,
     0x11000000},
    {"alpha 255 tinted, flag set: tinted copy", 32, ALPHA, 0, 255, 0xFEFEFE, 2, 0, -1, 0xFFFFFFFF, 0x77000000,
     0x77FEFEFE},
    {"alpha 255 tinted, flag clear: weighted by 255/256", 32, ALPHA, 0, 255, 0xFEFEFE, 0, 0, -1, 0xFFFFFFFF, 0x77000000,
     0x77FDFDFD},
    {"16-bit mode 1 P=100: 6-bit mix, green 63 over 0 gives 25", 16, DIRECT, 1, 100, 0xFFFFFF, 0, 0, -1, 0x07E0, 0x0000,
     25 << 5},
    {"16-bit mode 1 P=100 red tint 254: signed table, 24", 16, DIRECT, 1, 100, 0xFEFFFF, 0, 0, -1, 0x07E0, 0x0000,
     24 << 5},
    {"16-bit mode 1 P=128 alpha 255 under the flag: 15, 31, 15", 16, ALPHA, 1, 128, 0xFFFFFF, 1, 0, -1, 0xFFFFFF,
     0x0000, (15 << 11) | (31 << 5) | 15},
    {"16-bit subtract with k = 0: red low bit set, green low bit cleared", 16, DIRECT, 3, 1, 0xFFFFFF, 0, 0, -1, 0x0841,
     (20 << 11) | (21 << 5) | 9, (21 << 11) | (20 << 5) | 9},
    {"16-bit add: blue overflow sets green's lowest bit", 16, ALPHA, 2, 255, 0xFFFFFF, 1, 0, -1, 0xFF0010,
     (4 << 5) | 20, (5 << 5) | 31},
    {"16-bit mode 11 green keeps half steps with alpha", 16, ALPHA, 11, 255, 0xFFFFFF, 0, 0, -1, 0xFF0000 | (1 << 5),
     44 << 5, 1 << 5},
    {"16-bit mode 11 same pixel at alpha 255 under the flag", 16, ALPHA, 11, 255, 0xFFFFFF, 1, 0, -1,
     0xFF0000 | (1 << 5), 44 << 5, 0},
};

class PointBlitExample : public ::testing::TestWithParam<Example> {
 protected:
  void SetUp() override { saved = MmxUsable; }
  void TearDown() override { MmxUsable = saved; }
  int saved;
};

TEST_P(PointBlitExample, Gives) {
  const Example& e = GetParam();
  int type = e.bits == 32 ? MEMIMG_COLOR_32 : MEMIMG_COLOR_16;
  OwnedMemImg src, dest, mask;
  ASSERT_EQ(0, CreateMemImg(src.get(), {1, 1, -1, e.bits == 32 ? 0x00ABCDEFu : 0xF81Fu, type, e.src == PAL,
                                        e.src == ALPHA, 0, nullptr}));
  ASSERT_EQ(0, CreateMemImgOfColorType(dest.get(), 1, 1, type));
  ResetDrawState(1, 1);
  if (e.src == PAL) {
    memcpy(src->header->palette + 4, &e.s, e.bits == 32 ? 4 : 2);
    src->header->paletteEntriesUsed = 2;
    PutPixel(src.get(), 0, 0, 1);
  } else {
    PutPixel(src.get(), 0, 0, e.s);
  }
  PutPixel(dest.get(), 0, 0, e.d);
  if (e.maskRamp >= 0) {
    ASSERT_EQ(0, CreateMemImgOfColorType(mask.get(), 1, 1, MEMIMG_COLOR_8_CHANNEL));
    PutPixel(mask.get(), 0, 0, 9);
    MemImgDrawState.maskAlphaRamp[9] = static_cast<uint8_t>(e.maskRamp);
  }
  SetMemImgBlendMode(e.mode, e.param);
  SetMemImgDrawBright(e.bright);
  MmxUsable = e.mmx;
  BlitMemImg(dest.get(), src.get(), 0, 0, e.trans, e.maskRamp >= 0 ? mask.get() : nullptr);
  EXPECT_EQ(e.expect, GetPixel(dest.get(), 0, 0)) << e.name << std::hex << " got " << GetPixel(dest.get(), 0, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, PointBlitExample, ::testing::ValuesIn(kExamples));

// Frame: refusals and clipping.
class PointBlitFrame : public ::testing::Test {
 protected:
  void SetUp() override { ResetDrawState(8, 8); }
};

TEST_F(PointBlitFrame, RefusesMismatchedOrUnsuitableDestinations) {
  OwnedMemImg src32, src16, dest16, destPal, destAlpha;
  ASSERT_EQ(0, CreateMemImgOfColorType(src32.get(), 2, 2, MEMIMG_COLOR_32));
  ASSERT_EQ(0, CreateMemImgOfColorType(src16.get(), 2, 2, MEMIMG_COLOR_16));
  ASSERT_EQ(0, CreateMemImgOfColorType(dest16.get(), 8, 8, MEMIMG_COLOR_16));
  ASSERT_EQ(0, CreateMemImg(destPal.get(), {8, 8, -1, 0, MEMIMG_COLOR_16, 1, 0, 0, nullptr}));
  ASSERT_EQ(0, CreateMemImg(destAlpha.get(), {8, 8, -1, 0, MEMIMG_COLOR_16, 0, 1, 0, nullptr}));
  FillMemImgRectRaw(src32.get(), nullptr, 0xFFFFFF);
  FillMemImgRectRaw(src16.get(), nullptr, 0xFFFF);
  for (MEMIMG* d : {dest16.get(), destPal.get(), destAlpha.get()}) FillMemImgRectRaw(d, nullptr, 0);
  BlitMemImg(dest16.get(), src32.get(), 0, 0, 0, nullptr);
  BlitMemImg(destPal.get(), src16.get(), 0, 0, 0, nullptr);
  BlitMemImg(destAlpha.get(), src16.get(), 0, 0, 0, nullptr);
  EXPECT_EQ(0u, GetPixel(dest16.get(), 0, 0));
  EXPECT_EQ(0u, GetPixel(destPal.get(), 0, 0));
  EXPECT_EQ(0u, GetPixel(destAlpha.get(), 0, 0));
}

TEST_F(PointBlitFrame, ClipsToTheDrawAreaAndTheDestination) {
  OwnedMemImg src, dest;
  ASSERT_EQ(0, CreateMemImgOfColorType(src.get(), 3, 1, MEMIMG_COLOR_32));
  ASSERT_EQ(0, CreateMemImgOfColorType(dest.get(), 8, 8, MEMIMG_COLOR_32));
  PutPixel(src.get(), 0, 0, 10);
  PutPixel(src.get(), 1, 0, 11);
  PutPixel(src.get(), 2, 0, 12);
  FillMemImgRectRaw(dest.get(), nullptr, 0);
  BlitMemImg(dest.get(), src.get(), -1, 2, 0, nullptr);  // overhangs the left edge by one
  EXPECT_EQ(11u, GetPixel(dest.get(), 0, 2));
  EXPECT_EQ(12u, GetPixel(dest.get(), 1, 2));
  EXPECT_EQ(0u, GetPixel(dest.get(), 2, 2));
  BlitMemImg(dest.get(), src.get(), 8, 2, 0, nullptr);  // wholly outside: nothing
  BlitMemImg(dest.get(), src.get(), 2, 8, 0, nullptr);
  // A draw area larger than the destination: clipped to the destination.
  RECT big = {-100, -100, 100, 100};
  SetMemImgDrawArea(&big);
  BlitMemImg(dest.get(), src.get(), 6, 7, 0, nullptr);
  EXPECT_EQ(10u, GetPixel(dest.get(), 6, 7));
  EXPECT_EQ(11u, GetPixel(dest.get(), 7, 7));
  RECT inner = {0, 0, 7, 8};
  SetMemImgDrawArea(&inner);
  BlitMemImg(dest.get(), src.get(), 5, 5, 0, nullptr);
  EXPECT_EQ(11u, GetPixel(dest.get(), 6, 5));
  EXPECT_EQ(0u, GetPixel(dest.get(), 7, 5));
}

TEST_F(PointBlitFrame, RunCodedPathFollowsTheStreamAndViewsAvoidIt) {
  // A source with run data: a stale stream (written before a change of
  // pixels) would draw old shapes; every writer clears it.
  OwnedMemImg src, dest;
  ASSERT_EQ(0, CreateMemImg(src.get(), {70, 2, -1, 0, MEMIMG_COLOR_32, 0, 0, 1, nullptr}));
  ASSERT_EQ(0, CreateMemImgOfColorType(dest.get(), 80, 2, MEMIMG_COLOR_32));
  ResetDrawState(80, 2);
  FillMemImgRectRaw(dest.get(), nullptr, 0x55);
  FillMemImgRectRaw(src.get(), nullptr, 0);  // transparent colour 0
  RECT opaque = {64, 0, 70, 1};
  FillMemImgRectRaw(src.get(), &opaque, 0x777777);
  BuildMemImgRunData(src.get());
  src->header->runDataValid = 1;
  const uint8_t codes[] = {0x3F, 0x45, 0xC0, 0x3F, 0x05, 0xC0};
  ASSERT_EQ(0, memcmp(codes, src->header->runStream, sizeof(codes)));
  // Rows starting with an end code draw nothing.
  src->header->runStream[0] = 0xC0;
  BlitMemImg(dest.get(), src.get(), 0, 0, 1, nullptr);
  EXPECT_EQ(0x55u, GetPixel(dest.get(), 64, 0));  // row 0 ended at once
  // Row 1 reads on from the next byte: six opaque pixels, then its end.
  EXPECT_EQ(0u, GetPixel(dest.get(), 5, 1));
  EXPECT_EQ(0x55u, GetPixel(dest.get(), 6, 1));
  // A view of the whole image goes the general path.
  MEMIMG view = {};
  CreateSubMemImg(&view, src.get(), 0, 0, 70, 1);
  BlitMemImg(dest.get(), &view, 0, 1, 1, nullptr);
  EXPECT_EQ(0x777777u, GetPixel(dest.get(), 64, 1));
  EXPECT_EQ(0x55u, GetPixel(dest.get(), 63, 1));
  ReleaseMemImg(&view);
  // The flag 2 takes the general path.
  FillMemImgRectRaw(dest.get(), nullptr, 0x55);
  src->header->runDataValid = 1;
  BlitMemImg(dest.get(), src.get(), 0, 0, 2, nullptr);
  EXPECT_EQ(0x777777u, GetPixel(dest.get(), 64, 0));
}

TEST_F(PointBlitFrame, MasksThatDoNotCoverTheSourceAreRefused) {
  OwnedMemImg src, dest, small, wide;
  ASSERT_EQ(0, CreateMemImgOfColorType(src.get(), 4, 4, MEMIMG_COLOR_32));
  ASSERT_EQ(0, CreateMemImgOfColorType(dest.get(), 8, 8, MEMIMG_COLOR_32));
  ASSERT_EQ(0, CreateMemImgOfColorType(small.get(), 4, 3, MEMIMG_COLOR_8_CHANNEL));
  ASSERT_EQ(0, CreateMemImgOfColorType(wide.get(), 4, 4, MEMIMG_COLOR_32));  // four bytes a pixel
  FillMemImgRectRaw(src.get(), nullptr, 0x123456);
  FillMemImgRectRaw(dest.get(), nullptr, 0);
  RECT r = {0, 0, 8, 8};
  for (const MEMIMG* m : {small.get(), wide.get()}) {
    BlitMemImg(dest.get(), src.get(), 0, 0, 0, m);
    BlitScaledMemImg(dest.get(), src.get(), &r, 0, m);
    BlitRotatedMemImg(dest.get(), src.get(), {4, 4, 0.3f, 1.0f, 0, 0}, m);
  }
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) ASSERT_EQ(0u, GetPixel(dest.get(), x, y));
}

TEST_F(PointBlitFrame, EveryDrawClearsTheDestinationsRunData) {
  OwnedMemImg src, dest;
  ASSERT_EQ(0, CreateMemImgOfColorType(src.get(), 4, 4, MEMIMG_COLOR_32));
  ASSERT_EQ(0, CreateMemImg(dest.get(), {8, 8, -1, 0, MEMIMG_COLOR_32, 0, 0, 1, nullptr}));
  FillMemImgRectRaw(src.get(), nullptr, 0x123456);
  RECT r = {0, 0, 6, 6};
  for (int draw = 0; draw < 3; draw++) {
    BuildMemImgRunData(dest.get());
    dest->header->runDataValid = 1;
    if (draw == 0) BlitMemImg(dest.get(), src.get(), 1, 1, 0, nullptr);
    if (draw == 1) BlitScaledMemImg(dest.get(), src.get(), &r, 0, nullptr);
    if (draw == 2) BlitRotatedMemImg(dest.get(), src.get(), {4, 4, 0.5f, 1.0f, 0, 0}, nullptr);
    EXPECT_EQ(0, dest->header->runDataValid) << draw;
  }
}

}  // namespace
