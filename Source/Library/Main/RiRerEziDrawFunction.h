// The software renderer's blits and the one per-pixel blend kernel that
// every software walker (point, scaled and rotated blits, triangle spans,
// shapes) uses.
//
// Kernel interface (stable):
//  1. Once per call, PrepareBlendCall(&call, family, palettisedSource) reads
//     MemImgDrawState and the blend tables; a negative result means the call
//     draws nothing (modes 5-9 or above 11, parameter-0 shortcuts). It
//     resolves mode 1 at parameter 255 to mode 0 (call.mode).
//  2. The walker picks, once per call, one instantiation of
//       BlendKernel<Bits, Mode, Flags>
//     Bits 32 or 16 (destination), Mode the resolved mode (0, 1, 2, 3, 4,
//     10, 11 or one of the BLEND_OP_* loop forms below), Flags an OR of
//     BK_* bits. SelectBlend (below) turns run-time settings into a call of
//     a functor templated on those three, so walkers need no hand-written
//     switch.
//  3. Per source texel the walker reads the raw value and calls
//       SourceTexel<Bits, Flags>::Read(texel pointer, palette, key, &colour,
//                                      &alpha)  -> false: transparent key, skip
//     (or fetches the colour itself), then
//       Kernel::Draw(dest, colour, alpha, weight, call)
//     which applies alpha gating (transparency flag, alpha 0 / 255), the
//     tint, the weights (parameter, mask weight = MaskAlphaRamp[mask byte],
//     source alpha) and the mode, and writes the destination pixel.
//     Kernel::Blend<UseAlpha>(...) skips the gating (run-coded spans).
//  4. Walkers that can gather a row of texels (raw values in SourceTexel's
//     layout) and their mask bytes call DrawBlendRow<Bits, Mode, Flags>
//     (RiRerEziDrawFunctionRow.h) instead: the same results, with SSE2 rows
//     for the frequent 32-bit cases (DrawBlendRowWide: also the AVX2 rows
//     of alpha sources, for long rows).
//  Family differences are Flags bits: BK_POINT (rules of the point blit),
//  BK_RUN (run-coded path). Colours: 32-bit 0xXXRRGGBB words; 16-bit the
//  5-6-5 word in the low 16 bits. A 16-bit source with alpha passes its
//  alpha separately.
#ifndef RIREREZI_DRAWFUNCTION_H
#define RIREREZI_DRAWFUNCTION_H

#include <stdint.h>
#include <string.h>

#include "RiRerEzi.h"
#include "VeRavoroString.h"

// 1 when the MMX loops may run (set from the processor at load; tests may
// change it between blits).
extern int MmxUsable;
// 1 when the AVX2 rows may run (processor and system support, set at load;
// tests may change it between blits). RiRerEziDrawFunctionAvx2.cpp.
extern int Avx2Usable;

// Kernel flags, fixed per instantiation.
enum : unsigned {
  BK_TINT = 1u,    // brightness not white
  BK_MASK = 2u,    // mask image given: weight = MaskAlphaRamp[mask byte]
  BK_ALPHA = 4u,   // direct source whose pixels carry alpha
  BK_TRANS = 8u,   // transparency flag non-zero
  BK_PAL = 16u,    // palettised source
  BK_POINT = 32u,  // point blit: 6-bit mix in 16-bit mode 1, mode 4 draws alpha 0,
                   // mode 0 without tint and mask copies alpha sources whole when
                   // the transparency flag is clear
  BK_RUN = 64u,    // run-coded path of the point blit (no 6-bit mix)
};

// Loop forms of the point blit beside the seven modes (white, no mask,
// source without alpha); BLEND_OP_SUB255_MMX is also the scaled blit's MMX
// subtract.
enum {
  BLEND_OP_HALF = 100,        // mode 1 at parameter 128
  BLEND_OP_ADD255 = 101,      // mode 2 at 255 without MMX (no low-bit OR)
  BLEND_OP_SUB255 = 102,      // mode 3 at 255 without MMX
  BLEND_OP_ADD255_MMX = 103,  // per-byte saturating add over four bytes
  BLEND_OP_SUB255_MMX = 104,  // per-byte saturating subtract over four bytes
};

// Which family's rules PrepareBlendCall applies.
enum { BLEND_FAMILY_POINT = 0, BLEND_FAMILY_SHARED = 1 };

// Everything resolved once per call.
struct BlendCall {
  int mode;                   // resolved mode (1 at 255 becomes 0)
  int param;                  // P, 0-255
  uint32_t bright;            // 0x00RRGGBB
  int tinted;                 // 1 when the brightness is not white
  const int* paramRow;        // BlendProductTable[P]: v*P/255
  const int* signedRow;       // &BlendSignedScaleTable[P][256]: v*P/255 toward 0
  const unsigned char* mix6;  // BlendMix6Table[P >> 2], [x][y]
  const int* brightRow[3];    // blue, green, red rows of BlendProductTable
  const unsigned char* ramp;  // MaskAlphaRamp
};

// 0: draw; -1: the call draws nothing.
int PrepareBlendCall(BlendCall* call, int family, int palettisedSource);

namespace blendkernel {

inline uint32_t MixUnsigned(uint32_t x, uint32_t d, uint32_t weight, int shift) {
  // floor((x*W + d*(2^k - W)) / 2^k); exact in 32-bit unsigned wrap-around.
  return ((x - d) * weight + (d << shift)) >> shift;
}

inline uint32_t PackedAdd32(uint32_t q, uint32_t d) {
  uint32_t sum = (q & 0x00FEFEFFu) + (d & 0x00FEFEFFu);
  uint32_t carries = sum & 0x01010100u;
  return (carries - (carries >> 8)) | ((q | d) & 0x00010100u) | sum;
}
inline uint32_t PackedSub32(uint32_t q, uint32_t d) {
  uint32_t diff = (d | 0x01010100u) - (q & 0x00FEFEFFu);
  uint32_t borrow = diff & 0x01010100u;
  return diff & (borrow - (borrow >> 8));
}
inline uint32_t PackedAdd16(uint32_t k, uint32_t d) {
  uint32_t a = (k & 0xF7DEF7DFu) + (d & 0xF7DEF7DFu);
  uint32_t g = a & 0x08210820u;
  return (a | (g - (g >> 5)) | ((k | d) & 0x0820u)) & 0xFFFFu;
}
inline uint32_t PackedSub16(uint32_t k, uint32_t d) {
  uint32_t x = (d | 0x08210820u) - (k & 0xF7DEF7DFu);
  uint32_t g = x & 0x08210820u;
  return x & (g - (g >> 5)) & 0xFFFFu;
}
// Parameter-255 forms without MMX.
inline uint32_t Add255Plain32(uint32_t s, uint32_t d) {
  uint32_t t = (s & 0x00FEFEFFu) + (d & 0x00FEFEFFu);
  uint32_t k = t & 0x01010100u;
  return (k - (k >> 8)) | t;
}
inline uint32_t Add255Single16(uint32_t s, uint32_t d) {
  uint32_t t = (d & 0xF7DFu) + (s & 0xF7DFu);
  uint32_t k = t & 0x08210820u;
  return ((k - (k >> 5)) | t) & 0xFFFFu;
}
// Two 16-bit pixels in one word, first pixel in the low half.
inline uint32_t Add255Pair16(uint32_t s, uint32_t d) {
  uint32_t a = s & 0xF7DEF7DFu, b = d & 0xF7DEF7DFu;
  uint32_t t = a + b;
  uint32_t c = t < a ? 1u : 0u;
  uint32_t k = t & 0x08210820u;
  return (k - ((k >> 5) | (c << 27))) | t;
}
inline uint32_t Sub255Pair16(uint32_t s, uint32_t d) {
  uint32_t x = d | 0x08210820u;
  uint32_t y = s & 0xF7DEF7DFu;
  uint32_t r = x - y;
  uint32_t h = x >= y ? 0xF8000000u : 0u;
  uint32_t k = r & 0x08210820u;
  return r & ((k - (k >> 5)) | h);
}
inline uint32_t Half32(uint32_t s, uint32_t d) { return ((s >> 1) & 0x7F7F7Fu) + ((d >> 1) & 0x7F7F7Fu); }
inline uint32_t Half16(uint32_t s, uint32_t d) { return ((s >> 1) & 0x7BEFu) + ((d >> 1) & 0x7BEFu); }
inline uint32_t SaturatingAddBytes(uint32_t s, uint32_t d) {
  uint32_t r = 0;
  for (int i = 0; i < 32; i += 8) {
    uint32_t v = ((s >> i) & 0xFF) + ((d >> i) & 0xFF);
    r |= (v > 255 ? 255u : v) << i;
  }
  return r;
}
inline uint32_t SaturatingSubBytes(uint32_t s, uint32_t d) {
  uint32_t r = 0;
  for (int i = 0; i < 32; i += 8) {
    int v = static_cast<int>((d >> i) & 0xFF) - static_cast<int>((s >> i) & 0xFF);
    r |= static_cast<uint32_t>(v < 0 ? 0 : v) << i;
  }
  return r;
}

}  // namespace blendkernel

template <int Bits, int Mode, unsigned Flags>
struct BlendKernel {
  static constexpr bool HAS_TINT = (Flags & BK_TINT) != 0;
  static constexpr bool HAS_MASK = (Flags & BK_MASK) != 0;
  static constexpr bool HAS_ALPHA = (Flags & BK_ALPHA) != 0;
  static constexpr bool HAS_TRANS = (Flags & BK_TRANS) != 0;
  static constexpr bool IS_POINT = (Flags & BK_POINT) != 0;
  static constexpr bool IS_RUN = (Flags & BK_RUN) != 0;

  // Gating for alpha sources, then Blend. alpha: the source alpha (HAS_ALPHA);
  // weight: the mask ramp value (HAS_MASK).
  static inline void Draw(uint8_t* dest, uint32_t color, uint32_t alpha, uint32_t weight, const BlendCall& c) {
    if (HAS_ALPHA) {
      if (HAS_TRANS) {
        if (alpha == 255) {
          Blend<false>(dest, color, alpha, weight, c);
        } else if (alpha != 0 || (IS_POINT && Mode == 4)) {
          Blend<true>(dest, color, alpha, weight, c);
        }
      } else if (IS_POINT && Mode == 0 && !HAS_TINT && !HAS_MASK) {
        Blend<false>(dest, color, alpha, weight, c);
      } else {
        Blend<true>(dest, color, alpha, weight, c);
      }
    } else {
      Blend<false>(dest, color, 0, weight, c);
    }
  }

  template <bool UseAlpha>
  static inline void Blend(uint8_t* dest, uint32_t color, uint32_t alpha, uint32_t weight, const BlendCall& c) {
    if (Bits == 32) {
      uint32_t d;
      memcpy(&d, dest, 4);
      uint32_t r = Blend32<UseAlpha>(color, d, alpha, weight, c);
      memcpy(dest, &r, 4);
    } else {
      uint16_t d;
      memcpy(&d, dest, 2);
      uint16_t r = static_cast<uint16_t>(Blend16<UseAlpha>(color & 0xFFFFu, d, alpha, weight, c));
      memcpy(dest, &r, 2);
    }
  }

  // The weights other than the parameter: their product and count.
  template <bool UseAlpha>
  static inline void Factors(uint32_t alpha, uint32_t weight, uint32_t* product, int* count) {
    uint32_t f = 1;
    int n = 0;
    if (HAS_MASK) {
      f *= weight;
      n++;
    }
    if (UseAlpha) {
      f *= alpha;
      n++;
    }
    *product = f;
    *count = n;
  }

  template <bool UseAlpha>
  static inline uint32_t Blend32(uint32_t s, uint32_t d, uint32_t alpha, uint32_t weight, const BlendCall& c) {
    using namespace blendkernel;
    if (Mode == BLEND_OP_HALF) return Half32(s, d);
    if (Mode == BLEND_OP_ADD255) return Add255Plain32(s, d);
    if (Mode == BLEND_OP_SUB255) return PackedSub32(s, d);
    if (Mode == BLEND_OP_ADD255_MMX) return SaturatingAddBytes(s, d);
    if (Mode == BLEND_OP_SUB255_MMX) return SaturatingSubBytes(s, d);
    uint32_t f;
    int n;
    Factors<UseAlpha>(alpha, weight, &f, &n);
    uint32_t t[3];
    for (int ch = 0; ch < 3; ch++) {
      uint32_t v = (s >> (8 * ch)) & 0xFF;
      if (Mode == 10) v = 255 - v;
      t[ch] = HAS_TINT ? static_cast<uint32_t>(c.brightRow[ch][v]) : v;
    }
    uint32_t out = d;
    if (Mode == 0 && n == 0) {
      if (!HAS_TINT) return s;
      return (d & 0xFF000000u) | (t[2] << 16) | (t[1] << 8) | t[0];
    }
    if (Mode == 2 || Mode == 3) {
      uint32_t q[3];
      for (int ch = 0; ch < 3; ch++) {
        if (n == 0) q[ch] = static_cast<uint32_t>(c.paramRow[t[ch]]) & 0xFF;
        else q[ch] = (t[ch] * static_cast<uint32_t>(c.param) * f) >> (8 * (n + 1));
      }
      uint32_t qw = (q[2] << 16) | (q[1] << 8) | q[0];
      return Mode == 2 ? PackedAdd32(qw, d) : PackedSub32(qw, d);
    }
    out &= 0xFF000000u;
    for (int ch = 0; ch < 3; ch++) {
      uint32_t dc = (d >> (8 * ch)) & 0xFF;
      uint32_t r;
      if (Mode == 4) {
        r = (t[ch] * dc * f) >> (8 + 8 * n);
      } else {
        uint32_t x = Mode == 11 ? (t[ch] * dc) >> 8 : t[ch];
        if (Mode == 0) r = MixUnsigned(x, dc, f, 8 * n);
        else r = MixUnsigned(x, dc, f * static_cast<uint32_t>(c.param), 8 * (n + 1));
      }
      out |= (r & 0xFF) << (8 * ch);
    }
    return out;
  }

  template <bool UseAlpha>
  static inline uint32_t Blend16(uint32_t s, uint32_t d, uint32_t alpha, uint32_t weight, const BlendCall& c) {
    using namespace blendkernel;
    if (Mode == BLEND_OP_HALF) return Half16(s, d);
    if (Mode == BLEND_OP_ADD255) return Add255Single16(s, d);
    if (Mode == BLEND_OP_SUB255) return PackedSub16(s, d);
    uint32_t f;
    int n;
    Factors<UseAlpha>(alpha, weight, &f, &n);
    static const int kShift[3] = {0, 5, 11};
    static const uint32_t kMax[3] = {31, 63, 31};
    static const int kBits[3] = {5, 6, 5};
    uint32_t sv = Mode == 10 ? (~s & 0xFFFFu) : s;
    uint32_t t[3], sc[3], dc[3];
    for (int ch = 0; ch < 3; ch++) {
      sc[ch] = (sv >> kShift[ch]) & kMax[ch];
      dc[ch] = (d >> kShift[ch]) & kMax[ch];
      t[ch] = HAS_TINT ? static_cast<uint32_t>(c.brightRow[ch][sc[ch]]) : sc[ch];
    }
    if (Mode == 0 && n == 0) {
      if (!HAS_TINT) return s;
      return (t[2] << 11) | (t[1] << 5) | t[0];
    }
    if (Mode == 2 || Mode == 3) {
      uint32_t k[3];
      for (int ch = 0; ch < 3; ch++) {
        uint32_t x;
        if (n == 0) x = t[ch];
        else if (HAS_TINT && UseAlpha && !HAS_MASK) x = static_cast<uint32_t>(c.brightRow[ch][(sc[ch] * alpha) >> 8]);
        else x = (t[ch] * f) >> (8 * n);
        k[ch] = static_cast<uint32_t>(c.paramRow[x]);
      }
      uint32_t kw = (k[2] << 11) | (k[1] << 5) | k[0];
      return Mode == 2 ? PackedAdd16(kw, d) : PackedSub16(kw, d);
    }
    uint32_t r[3];
    for (int ch = 0; ch < 3; ch++) {
      if (Mode == 4) {
        r[ch] = (dc[ch] * t[ch] * f) >> (kBits[ch] + 8 * n);
      } else if (Mode == 0) {
        r[ch] = MixUnsigned(t[ch], dc[ch], f, 8 * n);
      } else {
        uint32_t x = Mode == 11 ? (t[ch] * dc[ch]) >> kBits[ch] : t[ch];
        if (n == 0) {
          if (Mode == 1 && IS_POINT && !IS_RUN && !HAS_TINT && !HAS_ALPHA) r[ch] = c.mix6[x * 64 + dc[ch]];
          else
            r[ch] = static_cast<uint32_t>(static_cast<int>(dc[ch]) +
                                          c.signedRow[static_cast<int>(x) - static_cast<int>(dc[ch])]);
        } else if (Mode == 11 && ch == 1 && UseAlpha && !HAS_MASK && !HAS_TINT) {
          uint32_t w = alpha * static_cast<uint32_t>(c.param);
          uint32_t big = (t[1] * dc[1]) >> 1;
          r[ch] = ((big - 32 * dc[1]) * w + (dc[1] << 21)) >> 21;
        } else {
          r[ch] = MixUnsigned(x, dc[ch], f * static_cast<uint32_t>(c.param), 8 * (n + 1));
        }
      }
    }
    return (r[2] << 11) | (r[1] << 5) | r[0];
  }
};

// Reads one source texel: the colour (palette entry for palettised sources)
// and the alpha; false when the transparency flag is on and the raw value is
// the source's transparent colour (never for alpha sources).
template <int Bits, unsigned Flags>
struct SourceTexel {
  enum { TEXEL_BYTES = (Flags & BK_PAL) ? 1 : ((Bits == 32 || (Flags & BK_ALPHA)) ? 4 : 2) };
  static inline bool Read(const uint8_t* p, const uint32_t* palette, uint32_t key, uint32_t* color, uint32_t* alpha) {
    if (Flags & BK_PAL) {
      uint32_t index = *p;
      if ((Flags & BK_TRANS) && index == key) return false;
      *color = palette[index];
      return true;
    }
    if (TEXEL_BYTES == 4) {
      uint32_t v;
      memcpy(&v, p, 4);
      if (Flags & BK_ALPHA) {
        *alpha = Bits == 32 ? (v >> 24) : ((v >> 16) & 0xFF);
        *color = Bits == 32 ? v : (v & 0xFFFFu);
        return true;
      }
      if ((Flags & BK_TRANS) && v == key) return false;
      *color = v;
      return true;
    }
    uint16_t v;
    memcpy(&v, p, 2);
    if ((Flags & BK_TRANS) && v == key) return false;
    *color = v;
    return true;
  }
};

// Run-time settings of one walker call, turned into template arguments by
// SelectBlend.
struct BlendSelection {
  int bits;        // 32 or 16
  int mode;        // resolved mode or BLEND_OP_*
  unsigned flags;  // BK_* bits
};

// Calls visitor.template Run<Bits, Mode, Flags>() for the selection; false
// when the mode has no kernel. Instantiates every combination of the flags
// in `Allowed`.
template <unsigned Allowed, unsigned Fixed, typename Visitor>
bool SelectBlend(const BlendSelection& sel, Visitor& visitor);

#include "RiRerEziDrawFunctionSelect.inl"

// 1 when mask is null or a one-byte-per-pixel image covering the source;
// the blits refuse any other mask (they read it at source positions).
inline int MemImgMaskCovers(const MEMIMG* mask, const MEMIMG* src) {
  if (mask == nullptr) return 1;
  return IsValidMemImg(mask) && MemImgBytesPerPixel(mask) == 1 && mask->width >= src->width &&
                 mask->height >= src->height
             ? 1
             : 0;
}

// Point blit: draws source onto dest at (x, y) under MemImgDrawState.
// Refused (nothing drawn) for mismatched colour types, a palettised or alpha
// destination, and a mask that does not cover the source.
void BlitMemImg(MEMIMG* dest, const MEMIMG* src, int x, int y, int transFlag, const MEMIMG* mask);

// Scaled blit: the whole source into the rectangle (left, top) - (right,
// bottom), exclusive; a reversed pair mirrors that axis. An unmirrored call
// of the source's own size is the point blit. Refused (nothing drawn) for
// mismatched colour types, a palettised or alpha destination, sides of 32768
// or more, a source more than 65536 times the rectangle, or a mask that does
// not cover the source.
void BlitScaledMemImg(MEMIMG* dest, const MEMIMG* src, const RECT* rect, int transFlag, const MEMIMG* mask);
// Rotated blit: the source turned by angle (radians, clockwise on screen)
// and scaled about (centerX, centerY); turnFlag mirrors left to right through
// DrawQuadMemImg. Refused for the point blit's destinations, a scale of 0 or
// not finite, an angle not finite, sides of 16384 or more, a mask smaller
// than the source, or geometry beyond 4096 pixels from the origin.
struct RotatedBlit {
  int centerX, centerY;
  float angle, scale;
  int transFlag, turnFlag;
};
void BlitRotatedMemImg(MEMIMG* dest, const MEMIMG* src, const RotatedBlit& blit, const MEMIMG* mask);

#endif  // RIREREZI_DRAWFUNCTION_H
