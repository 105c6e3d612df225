// AVX2 forms of the alpha-source blend rows, with the kernel's exact
// results: 32-bit mode 1 four pixels a step, 16-bit modes 0 and 1 eight a
// step, untinted and unmasked, without per-pixel branches; and the
// processor / system check that enables them (Avx2Usable). They use the
// AVX2 instruction set on 128-bit registers only: under Wine, 256-bit use
// left the SSE2 rows that ran after it in the same process at half speed
// now and then. Only the functions marked RIREREZI_AVX2 are compiled for
// AVX2; callers reach them only when Avx2Usable is set.
// Threads: none of their own; no shared state besides Avx2Usable.
// Platform: CPUID, XGETBV, AVX2 intrinsics.
#include "RiRerEziDrawFunction.h"
#include "RiRerEziDrawFunctionRow.h"

#include <cpuid.h>
#include <immintrin.h>

namespace {

// AVX2 present and its register state enabled by the system.
int HasAvx2Rows() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
  if (!(c & bit_OSXSAVE) || !(c & bit_AVX)) return 0;
  unsigned lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  if ((lo & 6u) != 6u) return 0;  // XMM and YMM state
  if (__get_cpuid_max(0, nullptr) < 7) return 0;
  __cpuid_count(7, 0, a, b, c, d);
  return (b & bit_AVX2) ? 1 : 0;
}

#define AVX2_INLINE RIREREZI_AVX2 __attribute__((always_inline)) inline

// The rows use 128-bit registers only: under Wine, 256-bit use left the
// SSE2 code that ran after it (other blits) at half speed now and then.

// d + floor((s - d) * w / 65536) per 16-bit lane; w unsigned 16-bit.
AVX2_INLINE __m128i MixLanes(__m128i s16, __m128i d16, __m128i w) {
  __m128i delta = _mm_sub_epi16(s16, d16);
  __m128i h = _mm_add_epi16(_mm_mulhi_epi16(delta, w), _mm_and_si128(delta, _mm_srai_epi16(w, 15)));
  return _mm_add_epi16(d16, h);
}

// ---------------------------------------------------------------------------
// 32-bit: 0xAARRGGBB texels over 0xXXRRGGBB pixels, four a step.

struct Consts32 {
  __m128i zero, v255, alphaBits, alphaLo, alphaHi, param, paramHigh;
};

AVX2_INLINE Consts32 MakeConsts32(int param) {
  Consts32 k;
  k.zero = _mm_setzero_si128();
  k.v255 = _mm_set1_epi16(255);
  k.alphaBits = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  // Each pixel's alpha into its three colour lanes of the unpacked halves;
  // the fourth lane 0 (the destination's fourth byte stays).
  const char z = static_cast<char>(0x80);
  k.alphaLo = _mm_setr_epi8(3, z, 3, z, 3, z, z, z, 7, z, 7, z, 7, z, z, z);
  k.alphaHi = _mm_setr_epi8(11, z, 11, z, 11, z, z, z, 15, z, 15, z, 15, z, z, z);
  k.param = _mm_set1_epi16(static_cast<short>(param));
  k.paramHigh = _mm_set1_epi16(static_cast<short>(param << 8));
  return k;
}

// Mode 1: d + floor((s - d)*a*P / 65536) per channel (alpha 0 gives d);
// under the transparency flag alpha 255 weighs by P alone.
template <bool Trans>
AVX2_INLINE __m128i Half32(__m128i s16, __m128i d16, __m128i a, const Consts32& k) {
  __m128i w = _mm_mullo_epi16(a, k.param);
  if (Trans) w = _mm_blendv_epi8(w, k.paramHigh, _mm_cmpeq_epi16(a, k.v255));
  return MixLanes(s16, d16, w);
}

template <bool Trans>
AVX2_INLINE __m128i Mix4(__m128i sv, __m128i dv, const Consts32& k) {
  __m128i lo = Half32<Trans>(_mm_unpacklo_epi8(sv, k.zero), _mm_unpacklo_epi8(dv, k.zero),
                             _mm_shuffle_epi8(sv, k.alphaLo), k);
  __m128i hi = Half32<Trans>(_mm_unpackhi_epi8(sv, k.zero), _mm_unpackhi_epi8(dv, k.zero),
                             _mm_shuffle_epi8(sv, k.alphaHi), k);
  return _mm_packus_epi16(lo, hi);
}

template <bool Trans>
RIREREZI_AVX2 void Rows32(uint8_t* d, int dPitch, const uint8_t* s, int sPitch, int width, int height, int param) {
  const Consts32 k = MakeConsts32(param);
  if (width < 4) {
    // One masked group per row.
    __m128i lanes = _mm_cmpgt_epi32(_mm_set1_epi32(width), _mm_setr_epi32(0, 1, 2, 3));
    for (int y = 0; y < height; y++, d += dPitch, s += sPitch) {
      int* dp = reinterpret_cast<int*>(d);
      __m128i sv = _mm_maskload_epi32(reinterpret_cast<const int*>(s), lanes);
      __m128i dv = _mm_maskload_epi32(dp, lanes);
      _mm_maskstore_epi32(dp, lanes, Mix4<Trans>(sv, dv, k));
    }
    return;
  }
  const int last = 4 * (width - 4);
  for (int y = 0; y < height; y++, d += dPitch, s += sPitch) {
    // The last four pixels from the untouched destination first, stored
    // after the groups that may overlap them.
    __m128i tail = Mix4<Trans>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + last)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + last)), k);
    for (int x = 0; x < last; x += 16) {
      __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
      if (Trans && _mm_testz_si128(sv, k.alphaBits)) continue;  // all clear
      __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), Mix4<Trans>(sv, dv, k));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + last), tail);
  }
}

// ---------------------------------------------------------------------------
// 16-bit: four-byte texels (5-6-5 word, then alpha) over 5-6-5 pixels,
// eight a step.

struct Consts16 {
  __m128i low16, low8, v256, v255, one, mask5, mask6, param;
};

AVX2_INLINE Consts16 MakeConsts16(int param) {
  Consts16 k;
  k.low16 = _mm_set1_epi32(0xFFFF);
  k.low8 = _mm_set1_epi16(0xFF);
  k.v256 = _mm_set1_epi16(256);
  k.v255 = _mm_set1_epi16(255);
  k.one = _mm_set1_epi16(1);
  k.mask5 = _mm_set1_epi16(31);
  k.mask6 = _mm_set1_epi16(63);
  k.param = _mm_set1_epi16(static_cast<short>(param));
  return k;
}

// One field: mode 0 (s*a + d*(256 - a)) >> 8; mode 1 d + floor((s - d)*w /
// 65536) with w = a*P, or where `whole` (alpha 255 under the transparency
// flag) d + (s - d)*P/255 rounded toward zero.
template <int Mode, bool Trans>
AVX2_INLINE __m128i Field16(__m128i sf, __m128i df, __m128i a, __m128i w, __m128i whole, const Consts16& k) {
  if (Mode == 0)
    return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(sf, a), _mm_mullo_epi16(df, _mm_sub_epi16(k.v256, a))), 8);
  __m128i r = MixLanes(sf, df, w);
  if (Trans) {
    __m128i delta = _mm_sub_epi16(sf, df);
    __m128i u = _mm_mullo_epi16(_mm_abs_epi16(delta), k.param);  // at most 63 * 255
    __m128i q = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(u, k.one), _mm_srli_epi16(u, 8)), 8);
    r = _mm_blendv_epi8(r, _mm_add_epi16(df, _mm_sign_epi16(q, delta)), whole);
  }
  return r;
}

// Eight texels at s (32 bytes): colour words and alphas.
struct Texels8 {
  __m128i sw, a;
};
AVX2_INLINE Texels8 LoadTexels8(const uint8_t* s, const Consts16& k) {
  __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
  Texels8 t;
  t.sw = _mm_packus_epi32(_mm_and_si128(s0, k.low16), _mm_and_si128(s1, k.low16));
  t.a = _mm_and_si128(_mm_packus_epi32(_mm_srli_epi32(s0, 16), _mm_srli_epi32(s1, 16)), k.low8);
  return t;
}

// Eight texels over the pixels dw.
template <int Mode, bool Trans>
AVX2_INLINE __m128i Mix8(const Texels8& t, __m128i dw, const Consts16& k) {
  const __m128i sw = t.sw, a = t.a;
  __m128i whole = _mm_cmpeq_epi16(a, k.v255);
  __m128i w = Mode == 1 ? _mm_mullo_epi16(a, k.param) : a;
  __m128i r = Field16<Mode, Trans>(_mm_srli_epi16(sw, 11), _mm_srli_epi16(dw, 11), a, w, whole, k);
  __m128i g = Field16<Mode, Trans>(_mm_and_si128(_mm_srli_epi16(sw, 5), k.mask6),
                                   _mm_and_si128(_mm_srli_epi16(dw, 5), k.mask6), a, w, whole, k);
  __m128i b = Field16<Mode, Trans>(_mm_and_si128(sw, k.mask5), _mm_and_si128(dw, k.mask5), a, w, whole, k);
  __m128i out = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(r, 11), _mm_slli_epi16(g, 5)), b);
  if (Mode == 0 && Trans) out = _mm_blendv_epi8(out, sw, whole);
  return out;
}

template <int Mode, bool Trans>
RIREREZI_AVX2 void Rows16(uint8_t* d, int dPitch, const uint8_t* s, int sPitch, int width, int height, int param) {
  const Consts16 k = MakeConsts16(param);
  if (width < 8) {
    // Through an eight-pixel scratch row; lanes past the row are never
    // written back.
    uint32_t st[8] = {};
    uint16_t dt[8] = {};
    for (int y = 0; y < height; y++, d += dPitch, s += sPitch) {
      memcpy(st, s, 4 * static_cast<size_t>(width));
      memcpy(dt, d, 2 * static_cast<size_t>(width));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dt),
                       Mix8<Mode, Trans>(LoadTexels8(reinterpret_cast<const uint8_t*>(st), k),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(dt)), k));
      memcpy(d, dt, 2 * static_cast<size_t>(width));
    }
    return;
  }
  const int last = width - 8;
  for (int y = 0; y < height; y++, d += dPitch, s += sPitch) {
    __m128i tail = Mix8<Mode, Trans>(LoadTexels8(s + 4 * last, k),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 2 * last)), k);
    for (int x = 0; x < last; x += 8) {
      __m128i* dp = reinterpret_cast<__m128i*>(d + 2 * x);
      Texels8 texels = LoadTexels8(s + 4 * x, k);
      if (Mode == 0 && Trans) {
        // Sprites are mostly opaque or clear: those groups skip the arithmetic.
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(texels.a, k.v255)) == 0xFFFF) {
          _mm_storeu_si128(dp, texels.sw);
          continue;
        }
        if (_mm_testz_si128(texels.a, texels.a)) continue;
      }
      _mm_storeu_si128(dp, Mix8<Mode, Trans>(texels, _mm_loadu_si128(dp), k));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * last), tail);
  }
}

}  // namespace

int Avx2Usable = HasAvx2Rows();

namespace blendrow {

RIREREZI_AVX2 void AlphaMixRows32Avx2(const RowBlock& rows, int trans, int param) {
  uint8_t* d = rows.d;
  const uint8_t* s = rows.s;
  const int dPitch = rows.dPitch, sPitch = rows.sPitch, width = rows.width, height = rows.height;
  if (trans) Rows32<true>(d, dPitch, s, sPitch, width, height, param);
  else Rows32<false>(d, dPitch, s, sPitch, width, height, param);
}

RIREREZI_AVX2 void AlphaRows16Avx2(const RowBlock& rows, int mode, int trans, int param) {
  uint8_t* d = rows.d;
  const uint8_t* s = rows.s;
  const int dPitch = rows.dPitch, sPitch = rows.sPitch, width = rows.width, height = rows.height;
  if (mode == 0) {
    if (trans) Rows16<0, true>(d, dPitch, s, sPitch, width, height, param);
    else Rows16<0, false>(d, dPitch, s, sPitch, width, height, param);
  } else {
    if (trans) Rows16<1, true>(d, dPitch, s, sPitch, width, height, param);
    else Rows16<1, false>(d, dPitch, s, sPitch, width, height, param);
  }
}

}  // namespace blendrow
