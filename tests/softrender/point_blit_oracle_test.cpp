// The point blit against the reference arithmetic over every branch: 16 and
// 32 bits, direct / alpha / palettised sources, every mode and the
// parameters that switch loops, tint, transparency flag 0 / 1 / 2, mask,
// MMX on and off, clipping at each edge, draw areas inside and larger than
// the destination, general and run-coded paths.
#include <stdio.h>

#include "BlendOracle.h"
#include "SoftImageFixture.h"

namespace {

const char* const kKindName[] = {"direct", "alpha", "palettised"};

const int kDestW = 24, kDestH = 16;
const int kSrcW = 13, kSrcH = 7;

struct Combo {
  int bits, kind, mode, param, tint, trans, mask, mmx, pos, area, run;
  std::string Name() const {
    char text[200];
    snprintf(text, sizeof(text), "bits %d %s mode %d param %d tint %d trans %d mask %d mmx %d pos %d area %d run %d",
             bits, kKindName[kind], mode, param, tint, trans, mask, mmx, pos, area, run);
    return text;
  }
};

class PointBlitOracle : public ::testing::Test {
 protected:
  void SetUp() override {
    savedMmx = MmxUsable;
    ResetDrawState(kDestW, kDestH);
  }
  void TearDown() override { MmxUsable = savedMmx; }
  int savedMmx;
};

TEST_F(PointBlitOracle, EveryBranchMatchesTheReference) {
  std::mt19937 rng(12345);
  const int modes[] = {0, 1, 2, 3, 4, 5, 10, 11, 12};
  const int params[] = {0, 1, 100, 128, 200, 254, 255};
  const uint32_t tints[] = {0xFFFFFF, 0xC080FE};
  const int positions[][2] = {{5, 4}, {-4, 3}, {kDestW - 6, 5}, {6, -3}, {4, kDestH - 3}};
  const RECT areas[] = {{0, 0, kDestW, kDestH}, {2, 1, kDestW - 1, kDestH - 2}, {-10, -10, 200, 200}};
  // A ramp with 0, 255 and values between.
  for (int i = 0; i < 256; i++)
    MemImgDrawState.maskAlphaRamp[i] = static_cast<uint8_t>(i < 40 ? 0 : (i > 215 ? 255 : i * 3 % 256));

  int blits = 0, failures = 0;
  for (int bits : {32, 16}) {
    for (int kind = 0; kind < 3; kind++) {
      for (int run = 0; run < 2; run++) {
        int type = bits == 32 ? MEMIMG_COLOR_32 : MEMIMG_COLOR_16;
        OwnedMemImg src, dest, expect, mask;
        uint32_t key = kind == PALETTISED ? 7u : (bits == 32 ? 0x12345678u : 0xF81Fu);
        ASSERT_EQ(
            0, CreateMemImg(src.get(), {kSrcW, kSrcH, -1, key, type, kind == PALETTISED, kind == ALPHA, run, nullptr}));
        ASSERT_EQ(0, CreateMemImg(dest.get(), {kDestW, kDestH, -1, 0, type, 0, 0, 0, nullptr}));
        ASSERT_EQ(0, CreateMemImg(expect.get(), {kDestW, kDestH, -1, 0, type, 0, 0, 0, nullptr}));
        ASSERT_EQ(0, CreateMemImgOfColorType(mask.get(), kSrcW, kSrcH, MEMIMG_COLOR_8_CHANNEL));
        FillRandomSource(src.get(), kind, bits, rng);
        for (int y = 0; y < kSrcH; y++)
          for (int x = 0; x < kSrcW; x++) PutPixel(mask.get(), x, y, rng() & 0xFF);
        if (run) {
          BuildMemImgRunData(src.get());
          src->header->runDataValid = 1;
        }
        OwnedMemImg start;
        ASSERT_EQ(0, CreateMemImg(start.get(), {kDestW, kDestH, -1, 0, type, 0, 0, 0, nullptr}));
        for (int y = 0; y < kDestH; y++)
          for (int x = 0; x < kDestW; x++) PutPixel(start.get(), x, y, bits == 32 ? rng() : rng() & 0xFFFF);

        for (int mode : modes)
          for (int param : params)
            for (int tint = 0; tint < 2; tint++)
              for (int trans = 0; trans < 3; trans++)
                for (int useMask = 0; useMask < 2; useMask++)
                  for (int mmx = 0; mmx < 2; mmx++)
                    for (int pos = 0; pos < 5; pos++)
                      for (int area = 0; area < 3; area++) {
                        if (run && trans != 1) continue;
                        if (area != 0 && pos != 0 && pos != 1) continue;
                        Combo c = {bits, kind, mode, param, tint, trans, useMask, mmx, pos, area, run};
                        SetMemImgBlendMode(mode, param);
                        SetMemImgDrawBright(tints[tint]);
                        SetMemImgDrawArea(&areas[area]);
                        MmxUsable = mmx;
                        CopyPixels(dest.get(), start.get());
                        CopyPixels(expect.get(), start.get());
                        const MEMIMG* m = useMask ? mask.get() : nullptr;
                        oracle::PointBlit(expect.get(), src.get(), positions[pos][0], positions[pos][1], trans, m);
                        BlitMemImg(dest.get(), src.get(), positions[pos][0], positions[pos][1], trans, m);
                        blits++;
                        if (!SamePixels(dest.get(), expect.get())) {
                          if (++failures <= 10) {
                            std::string where;
                            for (int y = 0; y < kDestH && where.empty(); y++)
                              for (int x = 0; x < kDestW && where.empty(); x++)
                                if (GetPixel(dest.get(), x, y) != GetPixel(expect.get(), x, y)) {
                                  char t[120];
                                  snprintf(t, sizeof(t), " at (%d,%d): got %08X want %08X start %08X", x, y,
                                           GetPixel(dest.get(), x, y), GetPixel(expect.get(), x, y),
                                           GetPixel(start.get(), x, y));
                                  where = t;
                                }
                            ADD_FAILURE() << c.Name() << where;
                          }
                        }
                      }
      }
    }
  }
  EXPECT_EQ(0, failures) << "of " << blits << " blits";
  EXPECT_GT(blits, 50000);
}

// The oracle's packed forms as stated formulas, checked once against their
// per-channel readings over many values, so that both readings agree.
TEST_F(PointBlitOracle, PackedAddAndSubtractPerChannelReadingsAgreeWithTheWordFormulas) {
  std::mt19937 rng(7);
  oracle::PixelInput in = {};
  in.bright = 0xFFFFFF;
  in.param = 255;
  for (int i = 0; i < 200000; i++) {
    uint32_t s = rng(), d = rng();
    in.bits = 32;
    in.mode = 2;
    uint32_t q = s & 0xFFFFFF;
    uint32_t sum = (q & 0x00FEFEFFu) + (d & 0x00FEFEFFu);
    uint32_t k = sum & 0x01010100u;
    ASSERT_EQ((k - (k >> 8)) | ((q | d) & 0x00010100u) | sum, oracle::Pixel(in, s, d));
    in.mode = 3;
    uint32_t diff = (d | 0x01010100u) - (q & 0xFEFEFEFFu);
    k = diff & 0x01010100u;
    ASSERT_EQ(diff & (k - (k >> 8)), oracle::Pixel(in, s, d));
    in.bits = 16;
    uint32_t s16 = s & 0xFFFF, d16 = d & 0xFFFF;
    in.mode = 2;
    uint32_t t = (d16 & 0xF7DF) + (s16 & 0xF7DF);
    k = t & 0x08210820u;
    ASSERT_EQ(((k - (k >> 5)) | ((d16 | s16) & 0x0820) | t) & 0xFFFF, oracle::Pixel(in, s16, d16));
    in.mode = 3;
    uint32_t r = (d16 | 0x08210820u) - (s16 & 0xF7DFu);
    k = r & 0x08210820u;
    ASSERT_EQ(r & (k - (k >> 5)) & 0xFFFF, oracle::Pixel(in, s16, d16));
  }
}

}  // namespace
