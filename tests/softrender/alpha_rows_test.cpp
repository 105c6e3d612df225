// The alpha-source rows (modes 0 and 1) against the reference arithmetic
// with the AVX2 rows on and off: every width from 1 to 40, source and
// destination starts at each pixel offset of a 32-byte group, rows of
// opaque, transparent and partial runs, 16 and 32 bits, tint on and off,
// transparency flag 0 / 1 / 2, the general and run-coded point blit and the
// scaled blit's gathered rows.
#include <stdio.h>

#include "BlendOracle.h"
#include "SoftImageFixture.h"

namespace {

const int kSrcW = 48, kSrcH = 6;
const int kDestW = 72, kDestH = 9;

// Row 0 opaque, row 1 transparent, row 2 partial; the rest random runs of
// the three kinds, 1 to 12 pixels long. Colours random; 16-bit texels get a
// random fourth byte.
void FillRuns(MEMIMG* src, int bits, std::mt19937& rng) {
  for (int y = 0; y < src->height; y++) {
    int kind = 0, left = 0;
    for (int x = 0; x < src->width; x++) {
      if (y < 3) {
        kind = y;
      } else if (left == 0) {
        kind = static_cast<int>(rng() % 3);
        left = 1 + static_cast<int>(rng() % 12);
      }
      if (left > 0) left--;
      uint32_t a = kind == 0 ? 255u : (kind == 1 ? 0u : 1u + rng() % 254u);
      uint32_t v = rng();
      PutPixel(src, x, y, bits == 32 ? ((v & 0xFFFFFFu) | (a << 24)) : ((v & 0xFF00FFFFu) | (a << 16)));
    }
  }
}

struct Setting {
  int mode, param;
};
const Setting kSettings[] = {{0, 255}, {1, 255}, {1, 1}, {1, 100}, {1, 200}, {1, 254}};
const uint32_t kTints[] = {0xFFFFFF, 0xC080FE};

class AlphaRows : public ::testing::Test {
 protected:
  void SetUp() override {
    savedAvx2 = Avx2Usable;
    ResetDrawState(kDestW, kDestH);
  }
  void TearDown() override { Avx2Usable = savedAvx2; }
  int savedAvx2;
  int blits = 0, failures = 0;
  OwnedMemImg dest, expect, start;

  // Destination, expected and start images of the colour type; random start.
  void MakeDestinations(int type, int bits, std::mt19937& rng) {
    for (OwnedMemImg* m : {&dest, &expect, &start}) {
      ReleaseMemImg(m->get());
      memset(m->get(), 0, sizeof(MEMIMG));
      ASSERT_EQ(0, CreateMemImg(m->get(), {kDestW, kDestH, -1, 0, type, 0, 0, 0, nullptr}));
    }
    for (int y = 0; y < kDestH; y++)
      for (int x = 0; x < kDestW; x++) PutPixel(start.get(), x, y, bits == 32 ? rng() : rng() & 0xFFFF);
  }

  void Use(const Setting& s, int tint, int avx2) {
    SetMemImgBlendMode(s.mode, s.param);
    SetMemImgDrawBright(kTints[tint]);
    Avx2Usable = avx2 && savedAvx2;
  }

  // Draws through draw(dest) and reference(expect) from the same start;
  // reports the first differing pixel.
  template <typename Draw, typename Reference>
  void Check(const char* what, Draw draw, Reference reference) {
    CopyPixels(dest.get(), start.get());
    CopyPixels(expect.get(), start.get());
    reference(expect.get());
    draw(dest.get());
    blits++;
    if (SamePixels(dest.get(), expect.get())) return;
    if (++failures > 10) return;
    for (int y = 0; y < kDestH; y++)
      for (int x = 0; x < kDestW; x++)
        if (GetPixel(dest.get(), x, y) != GetPixel(expect.get(), x, y)) {
          ADD_FAILURE() << what << " at (" << x << "," << y << "): got " << std::hex << GetPixel(dest.get(), x, y)
                        << " want " << GetPixel(expect.get(), x, y) << " start " << GetPixel(start.get(), x, y);
          return;
        }
  }
};

TEST_F(AlphaRows, PointBlitEveryWidthAndStartMatchesTheReference) {
  std::mt19937 rng(2024);
  for (int bits : {32, 16}) {
    int type = bits == 32 ? MEMIMG_COLOR_32 : MEMIMG_COLOR_16;
    OwnedMemImg src;
    ASSERT_EQ(0, CreateMemImg(src.get(), {kSrcW, kSrcH, -1, 0, type, 0, 1, 0, nullptr}));
    FillRuns(src.get(), bits, rng);
    MakeDestinations(type, bits, rng);
    for (const Setting& s : kSettings)
      for (int tint = 0; tint < 2; tint++)
        for (int trans = 0; trans < 3; trans++)
          for (int avx2 = 0; avx2 < 2; avx2++)
            for (int width = 1; width <= 40; width++)
              for (int srcStart = 0; srcStart < 8; srcStart++) {
                // The destination start walks the offsets independently.
                int destStart = (srcStart * 3 + width) % 8;
                RECT area = {destStart, 1, destStart + width, 1 + kSrcH};
                SetMemImgDrawArea(&area);
                Use(s, tint, avx2);
                char what[160];
                snprintf(what, sizeof(what), "bits %d mode %d param %d tint %d trans %d avx2 %d width %d start %d/%d",
                         bits, s.mode, s.param, tint, trans, avx2, width, srcStart, destStart);
                int x = destStart - srcStart;
                Check(
                    what, [&](MEMIMG* d) { BlitMemImg(d, src.get(), x, 1, trans, nullptr); },
                    [&](MEMIMG* e) { oracle::PointBlit(e, src.get(), x, 1, trans, nullptr); });
              }
  }
  EXPECT_EQ(0, failures) << "of " << blits << " blits";
  EXPECT_EQ(2 * 6 * 2 * 3 * 2 * 40 * 8, blits);
}

// The run-coded path draws whole sources only: one source per width.
TEST_F(AlphaRows, RunCodedPathEveryWidthMatchesTheReference) {
  std::mt19937 rng(77);
  for (int bits : {32, 16}) {
    int type = bits == 32 ? MEMIMG_COLOR_32 : MEMIMG_COLOR_16;
    MakeDestinations(type, bits, rng);
    for (int width = 1; width <= 40; width++) {
      OwnedMemImg src;
      ASSERT_EQ(0, CreateMemImg(src.get(), {width, kSrcH, -1, 0, type, 0, 1, 1, nullptr}));
      FillRuns(src.get(), bits, rng);
      BuildMemImgRunData(src.get());
      src->header->runDataValid = 1;
      for (const Setting& s : kSettings)
        for (int tint = 0; tint < 2; tint++)
          for (int avx2 = 0; avx2 < 2; avx2++)
            for (int destStart = 0; destStart < 8; destStart++) {
              Use(s, tint, avx2);
              char what[160];
              snprintf(what, sizeof(what), "run-coded bits %d mode %d param %d tint %d avx2 %d width %d start %d", bits,
                       s.mode, s.param, tint, avx2, width, destStart);
              Check(
                  what, [&](MEMIMG* d) { BlitMemImg(d, src.get(), destStart, 2, 1, nullptr); },
                  [&](MEMIMG* e) { oracle::PointBlit(e, src.get(), destStart, 2, 1, nullptr); });
            }
    }
  }
  EXPECT_EQ(0, failures) << "of " << blits << " blits";
}

// The scaled blit gathers texels into rows of any width.
TEST_F(AlphaRows, ScaledBlitEveryWidthMatchesTheReference) {
  std::mt19937 rng(5);
  for (int bits : {32, 16}) {
    int type = bits == 32 ? MEMIMG_COLOR_32 : MEMIMG_COLOR_16;
    OwnedMemImg src;
    ASSERT_EQ(0, CreateMemImg(src.get(), {27, kSrcH, -1, 0, type, 0, 1, 0, nullptr}));
    FillRuns(src.get(), bits, rng);
    MakeDestinations(type, bits, rng);
    RECT all = {0, 0, kDestW, kDestH};
    SetMemImgDrawArea(&all);
    for (const Setting& s : kSettings)
      for (int tint = 0; tint < 2; tint++)
        for (int trans = 0; trans < 2; trans++)
          for (int avx2 = 0; avx2 < 2; avx2++)
            for (int width = 1; width <= 40; width++) {
              int left = width % 8;
              RECT r = {left, 0, left + width, kDestH};
              Use(s, tint, avx2);
              char what[160];
              snprintf(what, sizeof(what), "scaled bits %d mode %d param %d tint %d trans %d avx2 %d width %d", bits,
                       s.mode, s.param, tint, trans, avx2, width);
              Check(
                  what, [&](MEMIMG* d) { BlitScaledMemImg(d, src.get(), &r, trans, nullptr); },
                  [&](MEMIMG* e) { oracle::ScaledBlit(e, src.get(), &r, trans, nullptr); });
            }
  }
  EXPECT_EQ(0, failures) << "of " << blits << " blits";
}

}  // namespace
