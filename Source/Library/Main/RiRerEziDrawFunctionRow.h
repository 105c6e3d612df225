// The blend rows shared by the software walkers: a row of source texels
// (raw values as SourceTexel reads them, already gathered by the walker)
// drawn over a row of destination pixels through BlendKernel, with SSE2
// forms of the frequent 32-bit cases that give the kernel's exact results.
// Include only from the draw-function sources.
#ifndef RIREREZI_DRAWFUNCTIONROW_H
#define RIREREZI_DRAWFUNCTIONROW_H

#include <emmintrin.h>
#include <string.h>

#include "RiRerEziDrawFunction.h"

// What a row needs besides its pointers.
struct BlendRowContext {
  uint32_t key;             // transparent colour (raw value or index)
  const uint32_t* palette;  // palettised sources: entries as 32-bit words
  const BlendCall* call;
};

// Copies a palettised source's entries in use into 32-bit words (16-bit
// entries zero-extended), the form SourceTexel reads.
inline void CopyPaletteWords(const MemImgHeader* h, uint32_t* out) {
  int count = h->paletteEntriesUsed > 256 ? 256 : h->paletteEntriesUsed;
  for (int i = 0; i < count; i++) {
    if (h->colorType == MEMIMG_COLOR_16) {
      uint16_t v;
      memcpy(&v, h->palette + 2 * i, 2);
      out[i] = v;
    } else {
      memcpy(&out[i], h->palette + 4 * i, 4);
    }
  }
}

// Functions compiled for AVX2; called only when Avx2Usable is set.
#define RIREREZI_AVX2 __attribute__((target("avx2")))

namespace blendrow {

// Height rows of width pixels: the destination and source starts and
// pitches.
struct RowBlock {
  uint8_t* d;
  int dPitch;
  const uint8_t* s;
  int sPitch;
  int width, height;
};

// Alpha sources, untinted and unmasked (RiRerEziDrawFunctionAvx2.cpp): mode
// 1 over 32-bit pixels; modes 0 and 1 over 16-bit pixels (four-byte texels).
RIREREZI_AVX2 void AlphaMixRows32Avx2(const RowBlock& rows, int trans, int param);
RIREREZI_AVX2 void AlphaRows16Avx2(const RowBlock& rows, int mode, int trans, int param);

inline __m128i Select(__m128i keep, __m128i ifKeep, __m128i otherwise) {
  return _mm_or_si128(_mm_and_si128(keep, ifKeep), _mm_andnot_si128(keep, otherwise));
}

// d + floor((s - d) * W / 65536) per 16-bit lane; W unsigned 16-bit.
inline __m128i MixLanes(__m128i s16, __m128i d16, __m128i w) {
  __m128i delta = _mm_sub_epi16(s16, d16);
  __m128i h = _mm_add_epi16(_mm_mulhi_epi16(delta, w), _mm_and_si128(delta, _mm_srai_epi16(w, 15)));
  return _mm_add_epi16(d16, h);
}

inline __m128i BroadcastAlpha(__m128i px16) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(px16, 0xFF), 0xFF); }

inline __m128i ColorLanes() { return _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1); }

// Copies count 32-bit pixels with inline moves (short rows and runs cost
// more through a library call than the copy itself).
inline void CopyWords(uint8_t* d, const uint8_t* s, int count) {
  int x = 0;
  for (; x + 4 <= count; x += 4)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * x),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * x)));
  for (; x < count; x++) *reinterpret_cast<uint32_t*>(d + 4 * x) = *reinterpret_cast<const uint32_t*>(s + 4 * x);
}

// Alpha sources under the transparency flag: drops the alpha-0 pixels at
// both ends of a row (sprite rows start and end transparent), so that the
// groups cover the drawn part.
inline void TrimTransparentEnds(uint8_t*& d, const uint8_t*& s, int& width) {
  const uint32_t* words = reinterpret_cast<const uint32_t*>(s);
  int first = 0;
  while (first < width && (words[first] >> 24) == 0) first++;
  while (width > first && (words[width - 1] >> 24) == 0) width--;
  d += 4 * first;
  s += 4 * first;
  width -= first;
}

// The first 1-3 32-bit words at p in the low lanes, zeros above.
inline __m128i LoadWords(const uint32_t* p, int count) {
  if (count == 1) return _mm_cvtsi32_si128(static_cast<int>(p[0]));
  __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  if (count == 2) return low;
  return _mm_unpacklo_epi64(low, _mm_cvtsi32_si128(static_cast<int>(p[2])));
}
inline void StoreWords(uint32_t* p, __m128i v, int count) {
  if (count == 1) {
    p[0] = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
    return;
  }
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
  if (count == 3) p[2] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(v, v)));
}

// Runs body(d, s) over groups of four 32-bit pixels; the last 1-3 pixels go
// through a four-pixel scratch copy so that they take the same arithmetic.
// The scratch is filled and read with whole-register moves (word-by-word
// stores under a 16-byte load stall the load).
template <int SrcBytes, typename Body>
__attribute__((always_inline)) inline void Groups4(uint8_t* d, const uint8_t* s, int width, Body body) {
  static_assert(SrcBytes == 4, "four-byte source pixels");
  int x = 0;
  for (; x + 4 <= width; x += 4) body(d + 4 * x, s + SrcBytes * x);
  int rest = width - x;
  if (rest > 0) {
    alignas(16) uint32_t dt[4];
    alignas(16) uint32_t st[4];
    uint32_t* dRow = reinterpret_cast<uint32_t*>(d + 4 * x);
    const uint32_t* sRow = reinterpret_cast<const uint32_t*>(s + SrcBytes * x);
    // Lanes past the row: zero (transparent where that matters), never written back.
    _mm_store_si128(reinterpret_cast<__m128i*>(dt), LoadWords(dRow, rest));
    _mm_store_si128(reinterpret_cast<__m128i*>(st), LoadWords(sRow, rest));
    body(reinterpret_cast<uint8_t*>(dt), reinterpret_cast<const uint8_t*>(st));
    StoreWords(dRow, _mm_load_si128(reinterpret_cast<const __m128i*>(dt)), rest);
  }
}

// The rows of one case. Generic per-pixel row first; SSE2 rows replace it
// where the options allow.
template <int Bits, int Mode, unsigned F>
struct SpanRow {
  using Kernel = BlendKernel<Bits, Mode, F>;
  using Texel = SourceTexel<Bits, F>;
  static constexpr bool IS_PLAIN = !(F & (BK_TINT | BK_MASK));
  static constexpr bool HAS_ALPHA = (F & BK_ALPHA) != 0;
  static constexpr bool HAS_TRANS = (F & BK_TRANS) != 0;
  static constexpr bool HAS_PAL = (F & BK_PAL) != 0;
  enum { DEST_BYTES = Bits / 8 };

  static void Generic(uint8_t* d, const uint8_t* s, const uint8_t* m, int width, const BlendRowContext& j) {
    const BlendCall& call = *j.call;
    for (int x = 0; x < width; x++, d += DEST_BYTES, s += Texel::TEXEL_BYTES) {
      uint32_t color, alpha = 0;
      if (!Texel::Read(s, j.palette, j.key, &color, &alpha)) continue;
      Kernel::Draw(d, color, alpha, (F & BK_MASK) ? call.ramp[m[x]] : 0u, call);
    }
  }

  // 16-bit pair forms: two pixels per 32-bit word, first in the low half.
  static void Pairs16(uint8_t* d, const uint8_t* s, int width, const BlendRowContext& j) {
    int x = 0;
    for (; x + 2 <= width; x += 2, d += 4, s += 2 * Texel::TEXEL_BYTES) {
      uint32_t c0, c1, a = 0;
      bool draw0 = Texel::Read(s, j.palette, j.key, &c0, &a);
      bool draw1 = Texel::Read(s + Texel::TEXEL_BYTES, j.palette, j.key, &c1, &a);
      if (draw0 && draw1) {
        uint32_t dw;
        memcpy(&dw, d, 4);
        uint32_t sw = (c0 & 0xFFFFu) | (c1 << 16);
        uint32_t r = Mode == BLEND_OP_ADD255 ? blendkernel::Add255Pair16(sw, dw) : blendkernel::Sub255Pair16(sw, dw);
        memcpy(d, &r, 4);
      } else if (draw0) {
        Kernel::template Blend<false>(d, c0, 0, 0, *j.call);
      } else if (draw1) {
        Kernel::template Blend<false>(d + 2, c1, 0, 0, *j.call);
      }
    }
    if (x < width) Generic(d, s, nullptr, 1, j);
  }

  // Cases with AVX2 rows: alpha sources in modes 0 and 1, untinted and
  // unmasked, except the point blit's whole copy (mode 0 without the
  // transparency flag) and 32-bit mode 0 (AlphaMix32's opaque stretches
  // are faster there).
  static constexpr bool HAS_AVX2 = HAS_ALPHA && IS_PLAIN && !HAS_PAL && (Mode == 0 || Mode == 1) &&
                                   !(Mode == 0 && !HAS_TRANS && (F & BK_POINT)) && !(Bits == 32 && Mode == 0);

  // Draws height rows through the AVX2 rows when the case has them and they
  // may run; false: nothing drawn.
  static bool Avx2Block(uint8_t* d, int dPitch, const uint8_t* s, int sPitch, int width, int height,
                        const BlendRowContext& j) {
    if constexpr (HAS_AVX2) {
      if (Avx2Usable) {
        const RowBlock rows = {d, dPitch, s, sPitch, width, height};
        if (Bits == 32) AlphaMixRows32Avx2(rows, HAS_TRANS, j.call->param);
        else AlphaRows16Avx2(rows, Mode, HAS_TRANS, j.call->param);
        return true;
      }
    }
    return false;
  }

  static void Row(uint8_t* d, const uint8_t* s, const uint8_t* m, int width, const BlendRowContext& j) {
    if constexpr (Bits == 16 && (Mode == BLEND_OP_ADD255 || Mode == BLEND_OP_SUB255)) {
      Pairs16(d, s, width, j);
    } else if constexpr (Mode == 0 && IS_PLAIN && !HAS_PAL && !HAS_TRANS && (!HAS_ALPHA || (F & BK_POINT)) &&
                         (Bits == 32 || !HAS_ALPHA)) {
      if (Bits == 32) CopyWords(d, s, width);
      else memcpy(d, s, static_cast<size_t>(width) * DEST_BYTES);
    } else if constexpr (Bits == 32 && !HAS_PAL && IS_PLAIN && !HAS_ALPHA &&
                         (Mode == 0 || Mode == 1 || Mode == BLEND_OP_HALF || Mode == BLEND_OP_ADD255_MMX ||
                          Mode == BLEND_OP_SUB255_MMX)) {
      Direct32(d, s, width, j);
    } else if constexpr (Bits == 16 && Mode == 0 && HAS_TRANS && !HAS_PAL && IS_PLAIN && !HAS_ALPHA) {
      KeyCopy16(d, s, width, j);
    } else if constexpr (Bits == 32 && HAS_ALPHA && IS_PLAIN && (Mode == 0 || Mode == 1)) {
      AlphaMix32(d, s, width, j);
    } else if constexpr (Bits == 16 && HAS_ALPHA && IS_PLAIN && Mode == 0 && (HAS_TRANS || !(F & BK_POINT))) {
      AlphaMix16(d, s, width, j);
    } else if constexpr (Bits == 32 && HAS_ALPHA && IS_PLAIN && Mode == 2) {
      AlphaAdd32(d, s, width, j);
    } else {
      Generic(d, s, m, width, j);
    }
  }

  // 32-bit direct sources without alpha: key copy, constant-weight mix
  // (mode 1), half blend, saturating add and subtract.
  static void Direct32(uint8_t* d, const uint8_t* s, int width, const BlendRowContext& j) {
    const __m128i key = _mm_set1_epi32(static_cast<int>(j.key));
    const __m128i zero = _mm_setzero_si128();
    const __m128i weight = _mm_and_si128(_mm_set1_epi16(static_cast<short>(j.call->param << 8)), ColorLanes());
    const __m128i halfMask = _mm_set1_epi32(0x7F7F7F);
    Groups4<4>(
        d, s, width, [&](uint8_t * dp, const uint8_t* sp) __attribute__((always_inline)) {
          __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp));
          __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dp));
          __m128i r;
          if (Mode == 0) {
            r = sv;
          } else if (Mode == 1) {
            __m128i lo = MixLanes(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(dv, zero), weight);
            __m128i hi = MixLanes(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(dv, zero), weight);
            r = _mm_packus_epi16(lo, hi);
          } else if (Mode == BLEND_OP_HALF) {
            r = _mm_add_epi32(_mm_and_si128(_mm_srli_epi32(sv, 1), halfMask),
                              _mm_and_si128(_mm_srli_epi32(dv, 1), halfMask));
          } else if (Mode == BLEND_OP_ADD255_MMX) {
            r = _mm_adds_epu8(sv, dv);
          } else {
            r = _mm_subs_epu8(dv, sv);
          }
          if (HAS_TRANS) r = Select(_mm_cmpeq_epi32(sv, key), dv, r);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(dp), r);
        });
  }

  static void KeyCopy16(uint8_t* d, const uint8_t* s, int width, const BlendRowContext& j) {
    const __m128i key = _mm_set1_epi16(static_cast<short>(j.key));
    int x = 0;
    if (j.key <= 0xFFFFu) {
      for (; x + 8 <= width; x += 8) {
        __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * x));
        __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 2 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * x), Select(_mm_cmpeq_epi16(sv, key), dv, sv));
      }
    }
    if (x < width) Generic(d + 2 * x, s + 2 * x, nullptr, width - x, j);
  }

  // Modes 0 and 1 over an alpha source, untinted and unmasked.
  static void AlphaMix32(uint8_t* d, const uint8_t* s, int width, const BlendRowContext& j) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i param = _mm_set1_epi16(static_cast<short>(j.call->param));
    const __m128i paramHigh = _mm_set1_epi16(static_cast<short>(j.call->param << 8));
    const __m128i v255 = _mm_set1_epi16(255);
    const __m128i alphaBits = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i lanes = ColorLanes();
    if (HAS_TRANS) TrimTransparentEnds(d, s, width);
    auto block = [&](uint8_t * dp, const uint8_t* sp) __attribute__((always_inline)) {
      __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp));
      __m128i alphaOnly = _mm_and_si128(sv, alphaBits);
      if (HAS_TRANS) {
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(alphaOnly, zero)) == 0xFFFF) return;
        if (Mode == 0 && _mm_movemask_epi8(_mm_cmpeq_epi32(alphaOnly, alphaBits)) == 0xFFFF) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(dp), sv);
          return;
        }
      }
      __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dp));
      __m128i r = _mm_packus_epi16(
          Half(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(dv, zero), param, paramHigh, v255, lanes),
          Half(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(dv, zero), param, paramHigh, v255, lanes));
      if (Mode == 0 && HAS_TRANS) r = Select(_mm_cmpeq_epi32(alphaOnly, alphaBits), sv, r);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dp), r);
    };
    if (Mode == 0 && HAS_TRANS) {
      // Opaque stretches eight pixels a step with one test.
      int x = 0;
      for (; x + 8 <= width; x += 8) {
        __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * x));
        __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * x + 16));
        __m128i both = _mm_and_si128(_mm_and_si128(s0, s1), alphaBits);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(both, alphaBits)) == 0xFFFF) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * x), s0);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * x + 16), s1);
          continue;
        }
        block(d + 4 * x, s + 4 * x);
        block(d + 4 * x + 16, s + 4 * x + 16);
      }
      d += 4 * x;
      s += 4 * x;
      width -= x;
    }
    Groups4<4>(d, s, width, block);
  }
  static inline __m128i Half(__m128i s16, __m128i d16, __m128i param, __m128i paramHigh, __m128i v255, __m128i lanes) {
    __m128i a = BroadcastAlpha(s16);
    if (Mode == 0) {
      // (s*a + d*(256 - a)) >> 8 stays below 65536: 16-bit lanes suffice.
      a = _mm_and_si128(a, lanes);
      __m128i sum = _mm_add_epi16(_mm_mullo_epi16(s16, a), _mm_mullo_epi16(d16, _mm_sub_epi16(_mm_set1_epi16(256), a)));
      return _mm_srli_epi16(sum, 8);
    }
    __m128i w = _mm_mullo_epi16(a, param);
    if (Mode == 1 && HAS_TRANS) w = Select(_mm_cmpeq_epi16(a, v255), paramHigh, w);
    return MixLanes(s16, d16, _mm_and_si128(w, lanes));
  }

  // Mode 0 over a 16-bit alpha source (four-byte texels: the colour word,
  // then alpha), untinted and unmasked, eight pixels a step: per field
  // (s*a + d*(256 - a)) >> 8; under the transparency flag alpha 255 stores
  // the colour word and alpha 0 gives d by the same formula.
  static void AlphaMix16(uint8_t* d, const uint8_t* s, int width, const BlendRowContext& j) {
    if (HAS_TRANS) {
      const uint32_t* words = reinterpret_cast<const uint32_t*>(s);
      int first = 0;
      while (first < width && ((words[first] >> 16) & 0xFF) == 0) first++;
      while (width > first && ((words[width - 1] >> 16) & 0xFF) == 0) width--;
      d += 2 * first;
      s += 4 * first;
      width -= first;
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i v255 = _mm_set1_epi16(255);
    const __m128i v256 = _mm_set1_epi16(256);
    const __m128i low8 = _mm_set1_epi32(0xFF);
    const __m128i mask5 = _mm_set1_epi16(31);
    const __m128i mask6 = _mm_set1_epi16(63);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
      __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * x));
      __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * x + 16));
      __m128i a = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(s0, 16), low8),
                                  _mm_and_si128(_mm_srli_epi32(s1, 16), low8));
      int clear = _mm_movemask_epi8(_mm_cmpeq_epi16(a, zero));
      if (HAS_TRANS && clear == 0xFFFF) continue;
      __m128i sw = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(s0, 16), 16),
                                   _mm_srai_epi32(_mm_slli_epi32(s1, 16), 16));
      __m128i opaque = _mm_cmpeq_epi16(a, v255);
      if (HAS_TRANS && _mm_movemask_epi8(opaque) == 0xFFFF) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * x), sw);
        continue;
      }
      __m128i dw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 2 * x));
      __m128i inv = _mm_sub_epi16(v256, a);
      __m128i r = _mm_srli_epi16(
          _mm_add_epi16(_mm_mullo_epi16(_mm_srli_epi16(sw, 11), a), _mm_mullo_epi16(_mm_srli_epi16(dw, 11), inv)), 8);
      __m128i g = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(_mm_srli_epi16(sw, 5), mask6), a),
                                               _mm_mullo_epi16(_mm_and_si128(_mm_srli_epi16(dw, 5), mask6), inv)),
                                 8);
      __m128i b = _mm_srli_epi16(
          _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(sw, mask5), a), _mm_mullo_epi16(_mm_and_si128(dw, mask5), inv)),
          8);
      __m128i out = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(r, 11), _mm_slli_epi16(g, 5)), b);
      if (HAS_TRANS) out = Select(opaque, sw, out);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * x), out);
    }
    if (x < width) Generic(d + 2 * x, s + 4 * x, nullptr, width - x, j);
  }

  // Mode 2 over an alpha source, untinted and unmasked.
  static void AlphaAdd32(uint8_t* d, const uint8_t* s, int width, const BlendRowContext& j) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i param = _mm_set1_epi16(static_cast<short>(j.call->param));
    const __m128i v255 = _mm_set1_epi16(255);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i alphaBits = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i low7 = _mm_set1_epi32(0x00FEFEFF);
    const __m128i carryBits = _mm_set1_epi32(0x01010100);
    const __m128i orBits = _mm_set1_epi32(0x00010100);
    const __m128i lanes = ColorLanes();
    if (HAS_TRANS) TrimTransparentEnds(d, s, width);
    Groups4<4>(
        d, s, width, [&](uint8_t * dp, const uint8_t* sp) __attribute__((always_inline)) {
          __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp));
          __m128i alphaOnly = _mm_and_si128(sv, alphaBits);
          __m128i clear = _mm_cmpeq_epi32(alphaOnly, zero);
          if (HAS_TRANS && _mm_movemask_epi8(clear) == 0xFFFF) return;
          __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dp));
          __m128i q = _mm_packus_epi16(Amount(_mm_unpacklo_epi8(sv, zero), param, v255, one, lanes),
                                       Amount(_mm_unpackhi_epi8(sv, zero), param, v255, one, lanes));
          __m128i sum = _mm_add_epi32(_mm_and_si128(q, low7), _mm_and_si128(dv, low7));
          __m128i carries = _mm_and_si128(sum, carryBits);
          __m128i r = _mm_or_si128(_mm_or_si128(_mm_sub_epi32(carries, _mm_srli_epi32(carries, 8)),
                                                _mm_and_si128(_mm_or_si128(q, dv), orBits)),
                                   sum);
          if (HAS_TRANS) r = Select(clear, dv, r);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(dp), r);
        });
  }
  // floor(t * P * a / 65536), or under the transparency flag at a = 255
  // floor(t * P / 255); the fourth lane 0.
  static inline __m128i Amount(__m128i s16, __m128i param, __m128i v255, __m128i one, __m128i lanes) {
    __m128i a = BroadcastAlpha(s16);
    __m128i q = _mm_mulhi_epu16(s16, _mm_mullo_epi16(a, param));
    if (HAS_TRANS) {
      __m128i x = _mm_mullo_epi16(s16, param);
      __m128i scaled = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, one), _mm_srli_epi16(x, 8)), 8);
      q = Select(_mm_cmpeq_epi16(a, v255), scaled, q);
    }
    return _mm_and_si128(q, lanes);
  }
};


}  // namespace blendrow

// Draws width gathered texels at s (SourceTexel<Bits, F> layout) over the
// destination pixels at d; m: one mask byte per texel (BK_MASK) or null.
template <int Bits, int Mode, unsigned F>
inline void DrawBlendRow(uint8_t* d, const uint8_t* s, const uint8_t* m, int width, const BlendRowContext& context) {
  blendrow::SpanRow<Bits, Mode, F>::Row(d, s, m, width, context);
}
// The same, through the AVX2 rows where the case has them and they may run.
// For walkers whose rows are long: the possible call costs short-row loops
// (the rotated blit's) more than it saves.
template <int Bits, int Mode, unsigned F>
inline void DrawBlendRowWide(uint8_t* d, const uint8_t* s, const uint8_t* m, int width,
                             const BlendRowContext& context) {
  using Row = blendrow::SpanRow<Bits, Mode, F>;
  if (!Row::Avx2Block(d, 0, s, 0, width, 1, context)) Row::Row(d, s, m, width, context);
}

#endif  // RIREREZI_DRAWFUNCTIONROW_H
