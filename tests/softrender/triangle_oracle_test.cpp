// Textured and flat triangles, and the shapes' fill, against the reference blend arithmetic
// (BlendOracle): every source family, mode, parameter edge, tint, mask,
// transparency flag and source alpha, with MMX on and off. The reference
// walks the same spans and applies the triangle's own rules: texels outside
// the source stay, the key compares the raw value (the index for palettised
// sources), an alpha-0 texel under the transparency flag is skipped in every
// mode (mode 4 included, as by the scaled and rotated blits), and mode 3 at
// parameter 0 draws only from palettised sources.
#include <random>
#include <vector>

#include "BlendOracle.h"
#include "RiRerEziDrawFunction.h"
#include "RiRerEziDrawFunction3.h"
#include "RiRerEziDrawShape.h"
#include "softshape_support.h"

namespace {

enum Kind { DIRECT = 0, ALPHA = 1, PALETTE = 2 };

bool ModeDraws(int mode, int param, bool palettised) {
  if (mode < 0 || mode > 11 || (mode >= 5 && mode <= 9)) return false;
  if (param == 0 && (mode == 1 || mode == 2)) return false;
  if (param == 0 && mode == 3 && !palettised) return false;
  return true;
}

uint32_t ReadRaw(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  std::memcpy(&v, p, bytes);
  return v;
}

// Reference of one textured triangle into `dest` (a copy of the destination
// before the draw).
void ReferenceTriangle(TestImage& dest, const TestImage& src, const TestImage* mask, const TriangleVertex* v,
                       int trans) {
  const MemImgHeader* h = src.m.header;
  const int bits = h->colorType == 1 ? 32 : 16;
  const bool palettised = h->palettised == 1;
  const bool alphaSource = h->alphaFlag == 1;
  if (!ModeDraws(MemImgDrawState.blendMode, MemImgDrawState.blendParam, palettised)) return;
  TriangleGeometry g;
  if (!SetUpTriangleGeometry(v, 1, &g)) return;
  const RECT area = MemImgDrawState.drawArea;
  WalkTriangleRows(g, area, 1, [&](const TriangleSpan& s) {
    uint32_t u = s.u, w = s.v;
    for (int i = 0; i < s.count && s.first + i < area.right; ++i, u += g.dudx, w += g.dvdx) {
      if (u >= uint32_t(src.m.width) << 18 || w >= uint32_t(src.m.height) << 18) continue;
      const int tx = u >> 18, ty = w >> 18;
      const uint32_t raw = ReadRaw(src.At(tx, ty), src.Bytes());
      uint32_t color = raw;
      int alpha = 0;
      if (palettised) {
        if (trans && raw == h->transparentColor) continue;
        color = ReadRaw(h->palette + raw * (bits / 8), bits / 8);
      } else if (alphaSource) {
        alpha = bits == 32 ? int(raw >> 24) : int((raw >> 16) & 0xFF);
        color = bits == 32 ? raw : (raw & 0xFFFF);
      } else if (trans && raw == h->transparentColor) {
        continue;
      }
      const int maskByte = mask ? mask->At(tx, ty)[0] : 0;
      uint8_t* p = dest.At(s.first + i, s.y);
      oracle::SharedTexel(bits, p, color, alpha, alphaSource, trans != 0, mask != nullptr, maskByte, palettised);
    }
  });
}

// The same random pixels in two images of one colour type.
void FillSameRandom(TestImage& a, TestImage& b, std::mt19937& rng) {
  const bool wide = a.m.header->colorType == 1;
  for (int y = 0; y < a.m.height; ++y)
    for (int x = 0; x < a.m.width; ++x) {
      const uint32_t d = wide ? rng() : (rng() & 0xFFFF);
      a.Set(x, y, d);
      b.Set(x, y, d);
    }
}

// A flat colour's tint, channel by channel: c * b / divisor rounded down.
uint32_t ReferenceTint(uint32_t color, int bits, uint32_t bright, uint32_t divisor) {
  auto scale = [&](uint32_t c, int byte) { return c * ((bright >> (8 * byte)) & 0xFF) / divisor; };
  if (bits == 32) {
    uint32_t t = color & 0xFF000000u;
    for (int ch = 0; ch < 3; ++ch) t |= scale((color >> (8 * ch)) & 0xFF, ch) << (8 * ch);
    return t;
  }
  return (scale((color >> 11) & 31, 2) << 11) | (scale((color >> 5) & 63, 1) << 5) | scale(color & 31, 0);
}

// The reference pixel's inputs for an already tinted flat colour.
oracle::PixelInput FlatPixelInput(int bits, int mode, int param) {
  oracle::PixelInput in = {};
  in.bits = bits;
  in.family = oracle::SHARED;
  in.mode = mode == 1 && param == 255 ? 0 : mode;
  in.param = param;
  in.bright = 0xFFFFFF;
  return in;
}

class TriangleOracle : public SoftShapeTest {};

TEST_F(TriangleOracle, TexturedSweep) {
  std::mt19937 rng(1234);
  const int savedMmx = MmxUsable;
  const int modes[] = {0, 1, 2, 3, 4, 7, 10, 11, 12};
  const int params[] = {0, 1, 128, 254, 255};
  const uint32_t brights[] = {0xFFFFFF, 0x80C0FF};
  // Vertices whose texture coordinates run past the source on some pixels.
  const TriangleVertex shapes[2][3] = {{{1, 2, -1, 0}, {21, 4, 8, -1}, {5, 19, 2, 6}},
                                       {{22, 1, 7, 0}, {3, 20, -2, 5}, {20, 21, 6, 6}}};
  int draws = 0, compared = 0;
  for (int colorType : {1, 0})
    for (int kind : {DIRECT, ALPHA, PALETTE}) {
      const bool pal = kind == PALETTE;
      const uint32_t key = pal ? 5u : (colorType == 1 ? 0x00102030u : 0x1234u);
      TestImage src(7, 6, colorType, pal, kind == ALPHA, key);
      TestImage mask(7, 6, 2);
      if (pal)
        for (int i = 0; i < 256; ++i) src.SetPalette(i, colorType == 1 ? rng() : (rng() & 0xFFFF));
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 7; ++x) {
          uint32_t t = rng();
          if (pal) t &= 0x0F;  // indices 0..15, some equal to the key
          else if (kind == ALPHA) {
            const uint32_t alphas[] = {0, 255, 1, 128, t >> 24};
            const uint32_t a = alphas[(x + y) % 5];
            t = colorType == 1 ? ((t & 0xFFFFFF) | (a << 24)) : ((t & 0xFFFF) | (a << 16));
          } else if ((x + 2 * y) % 6 == 0) {
            t = key;
          } else if (colorType == 0) {
            t &= 0xFFFF;
          }
          src.Set(x, y, t);
          mask.Set(x, y, rng() & 0xFF);
        }
      for (int mode : modes)
        for (int param : params)
          for (uint32_t bright : brights)
            for (int withMask : {0, 1})
              for (int trans : {0, 1})
                for (int mmx : {0, 1}) {
                  MmxUsable = mmx;
                  const auto& v = shapes[(mode + param + withMask) % 2];
                  TestImage dest(24, 24, colorType), ref(24, 24, colorType);
                  FillSameRandom(dest, ref, rng);
                  SetDrawState(mode, param, bright, RECT{0, 0, 24, 23});
                  for (int i = 0; i < 256; ++i) MemImgDrawState.maskAlphaRamp[i] = uint8_t(255 - i);
                  DrawTriangleMemImg(&dest.m, &src.m, v, trans, withMask ? &mask.m : nullptr, 0);
                  ReferenceTriangle(ref, src, withMask ? &mask : nullptr, v, trans);
                  ++draws;
                  for (int y = 0; y < 24; ++y)
                    for (int x = 0; x < 24; ++x) {
                      ++compared;
                      ASSERT_EQ(dest.Get(x, y), ref.Get(x, y))
                          << "bits " << (colorType ? 32 : 16) << " kind " << kind << " mode " << mode << " p " << param
                          << " bright " << std::hex << bright << std::dec << " mask " << withMask << " trans " << trans
                          << " mmx " << mmx << " at " << x << "," << y;
                    }
                }
    }
  MmxUsable = savedMmx;
  EXPECT_EQ(draws, 2 * 3 * 9 * 5 * 2 * 2 * 2 * 2);
  EXPECT_GT(compared, 0);
}

// Flat triangles: the reference pixel of each mode with the colour tinted
// through the table (c * b / 255) and no further tint, which inverts the
// tinted colour in mode 10.
TEST_F(TriangleOracle, FlatSweep) {
  std::mt19937 rng(99);
  const TriangleVertex v[3] = {{2, 1, 0, 0}, {19, 6, 0, 0}, {6, 17, 0, 0}};
  for (int colorType : {1, 0})
    for (int mode : {0, 1, 2, 3, 4, 6, 10, 11})
      for (int param : {0, 1, 100, 255})
        for (uint32_t bright : {0xFFFFFFu, 0x4080FFu}) {
          const int bits = colorType == 1 ? 32 : 16;
          const uint32_t color = bits == 32 ? rng() : (rng() & 0xFFFF);
          TestImage dest(24, 24, colorType), ref(24, 24, colorType);
          FillSameRandom(dest, ref, rng);
          SetDrawState(mode, param, bright, RECT{0, 0, 24, 24});
          DrawTriangleMemImg(&dest.m, nullptr, v, 1, nullptr, color);
          if (ModeDraws(mode, param, false)) {
            const uint32_t t = ReferenceTint(color, bits, bright, 255);
            const oracle::PixelInput in = FlatPixelInput(bits, mode, param);
            TriangleGeometry g;
            ASSERT_EQ(SetUpTriangleGeometry(v, 0, &g), 1);
            WalkTriangleRows(g, RECT{0, 0, 24, 24}, 0, [&](const TriangleSpan& s) {
              for (int i = 0; i < TriangleSpanLength(s, 24); ++i)
                ref.Set(s.first + i, s.y, oracle::Pixel(in, t, ref.Get(s.first + i, s.y)));
            });
          }
          for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x)
              ASSERT_EQ(dest.Get(x, y), ref.Get(x, y))
                  << "bits " << bits << " mode " << mode << " p " << param << " at " << x << "," << y;
        }
}

}  // namespace

namespace {

// Shapes: the reference pixel of each mode with the colour tinted by a shift
// (c * b / 256, none for white), over random destination pixels.
TEST_F(TriangleOracle, ShapeFillSweep) {
  std::mt19937 rng(7);
  for (int colorType : {1, 0})
    for (int mode : {0, 1, 2, 3, 4, 8, 10, 11, -1})
      for (int param : {0, 1, 77, 254, 255})
        for (uint32_t bright : {0xFFFFFFu, 0xFFFFFEu, 0x20A0F0u}) {
          const int bits = colorType == 1 ? 32 : 16;
          const uint32_t color = bits == 32 ? rng() : (rng() & 0xFFFF);
          TestImage img(16, 4, colorType);
          std::vector<uint32_t> before;
          for (int i = 0; i < 64; ++i) {
            before.push_back(bits == 32 ? rng() : (rng() & 0xFFFF));
            img.Set(i % 16, i / 16, before.back());
          }
          SetDrawState(mode, param, bright, RECT{0, 0, 16, 4});
          FillRectMemImg(&img.m, nullptr, color);
          const uint32_t t = (bright & 0xFFFFFF) == 0xFFFFFF ? color : ReferenceTint(color, bits, bright, 256);
          const oracle::PixelInput in = FlatPixelInput(bits, mode, param);
          for (int i = 0; i < 64; ++i) {
            const uint32_t expected = ModeDraws(mode, param, false) ? oracle::Pixel(in, t, before[i]) : before[i];
            ASSERT_EQ(img.Get(i % 16, i / 16), expected)
                << "bits " << bits << " mode " << mode << " p " << param << " bright " << std::hex << bright;
          }
        }
}

}  // namespace
