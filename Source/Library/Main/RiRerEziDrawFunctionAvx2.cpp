// AVX2 forms of the alpha-source blend rows (modes 0 and 1, untinted,
// unmasked; 32-bit eight pixels a step, 16-bit sixteen), with the kernel's
// exact results, and the processor / system check that enables them
// (Avx2Usable). Only the functions marked RIREREZI_AVX2 use AVX2; the rest
// of the library stays at the baseline instruction set, and callers reach
// these rows only when Avx2Usable is set.
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

// d + floor((s - d) * w / 65536) per 16-bit lane; w unsigned 16-bit.
AVX2_INLINE __m256i MixLanes(__m256i s16, __m256i d16, __m256i w) {
  __m256i delta = _mm256_sub_epi16(s16, d16);
  __m256i h = _mm256_add_epi16(_mm256_mulhi_epi16(delta, w), _mm256_and_si256(delta, _mm256_srai_epi16(w, 15)));
  return _mm256_add_epi16(d16, h);
}

// ---------------------------------------------------------------------------
// 32-bit: 0xAARRGGBB texels over 0xXXRRGGBB pixels.

struct Consts32 {
  __m256i zero, v256, v255, alphaBits, alphaLo, alphaHi, param, paramHigh;
};

RIREREZI_AVX2 Consts32 MakeConsts32(int param) {
  Consts32 k;
  k.zero = _mm256_setzero_si256();
  k.v256 = _mm256_set1_epi16(256);
  k.v255 = _mm256_set1_epi16(255);
  k.alphaBits = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  // Each pixel's alpha into its three colour lanes of the unpacked halves;
  // the fourth lane 0 (the destination's fourth byte stays).
  const char z = static_cast<char>(0x80);
  k.alphaLo = _mm256_setr_epi8(3, z, 3, z, 3, z, z, z, 7, z, 7, z, 7, z, z, z, 3, z, 3, z, 3, z, z, z, 7, z, 7, z, 7,
                               z, z, z);
  k.alphaHi = _mm256_setr_epi8(11, z, 11, z, 11, z, z, z, 15, z, 15, z, 15, z, z, z, 11, z, 11, z, 11, z, z, z, 15, z,
                               15, z, 15, z, z, z);
  k.param = _mm256_set1_epi16(static_cast<short>(param));
  k.paramHigh = _mm256_set1_epi16(static_cast<short>(param << 8));
  return k;
}

// Mode 0: (s*a + d*(256 - a)) >> 8 per channel (alpha 0 gives d);
// mode 1: d + floor((s - d)*a*P / 65536). Under the transparency flag
// alpha 255 stores the source word (mode 0) or weighs by P alone (mode 1).
template <int Mode, bool Trans>
AVX2_INLINE __m256i Half32(__m256i s16, __m256i d16, __m256i a, const Consts32& k) {
  if (Mode == 0)
    return _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(s16, a), _mm256_mullo_epi16(d16, _mm256_sub_epi16(k.v256, a))), 8);
  __m256i w = _mm256_mullo_epi16(a, k.param);
  if (Trans) w = _mm256_blendv_epi8(w, k.paramHigh, _mm256_cmpeq_epi16(a, k.v255));
  return MixLanes(s16, d16, w);
}

template <int Mode, bool Trans>
AVX2_INLINE __m256i Mix8(__m256i sv, __m256i dv, const Consts32& k) {
  __m256i lo = Half32<Mode, Trans>(_mm256_unpacklo_epi8(sv, k.zero), _mm256_unpacklo_epi8(dv, k.zero),
                                   _mm256_shuffle_epi8(sv, k.alphaLo), k);
  __m256i hi = Half32<Mode, Trans>(_mm256_unpackhi_epi8(sv, k.zero), _mm256_unpackhi_epi8(dv, k.zero),
                                   _mm256_shuffle_epi8(sv, k.alphaHi), k);
  __m256i r = _mm256_packus_epi16(lo, hi);
  if (Mode == 0 && Trans)
    r = _mm256_blendv_epi8(r, sv, _mm256_cmpeq_epi32(_mm256_and_si256(sv, k.alphaBits), k.alphaBits));
  return r;
}

template <int Mode, bool Trans>
RIREREZI_AVX2 void Rows32(uint8_t* d, int dPitch, const uint8_t* s, int sPitch, int width, int height, int param) {
  const Consts32 k = MakeConsts32(param);
  if (width < 8) {
    // One masked group per row.
    __m256i lanes = _mm256_cmpgt_epi32(_mm256_set1_epi32(width), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    for (int y = 0; y < height; y++, d += dPitch, s += sPitch) {
      int* dp = reinterpret_cast<int*>(d);
      __m256i sv = _mm256_maskload_epi32(reinterpret_cast<const int*>(s), lanes);
      __m256i dv = _mm256_maskload_epi32(dp, lanes);
      _mm256_maskstore_epi32(dp, lanes, Mix8<Mode, Trans>(sv, dv, k));
    }
    return;
  }
  const int last = 4 * (width - 8);
  for (int y = 0; y < height; y++, d += dPitch, s += sPitch) {
    // The last eight pixels from the untouched destination first, stored
    // after the groups that may overlap them.
    __m256i tail = Mix8<Mode, Trans>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + last)),
                                     _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + last)), k);
    for (int x = 0; x < last; x += 32) {
      __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + x));
      if (Trans && _mm256_testz_si256(sv, k.alphaBits)) continue;  // all alpha 0
      __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + x));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), Mix8<Mode, Trans>(sv, dv, k));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + last), tail);
  }
}

// ---------------------------------------------------------------------------
// 16-bit: four-byte texels (5-6-5 word, then alpha) over 5-6-5 pixels.

struct Consts16 {
  __m256i low16, low8, v256, v255, one, mask5, mask6, param, paramHigh;
};

RIREREZI_AVX2 Consts16 MakeConsts16(int param) {
  Consts16 k;
  k.low16 = _mm256_set1_epi32(0xFFFF);
  k.low8 = _mm256_set1_epi16(0xFF);
  k.v256 = _mm256_set1_epi16(256);
  k.v255 = _mm256_set1_epi16(255);
  k.one = _mm256_set1_epi16(1);
  k.mask5 = _mm256_set1_epi16(31);
  k.mask6 = _mm256_set1_epi16(63);
  k.param = _mm256_set1_epi16(static_cast<short>(param));
  k.paramHigh = _mm256_set1_epi16(static_cast<short>(param << 8));
  return k;
}

// One field: mode 0 (s*a + d*(256 - a)) >> 8; mode 1 d + floor((s - d)*w /
// 65536) with w = a*P, or where `whole` (alpha 255 under the transparency
// flag) d + (s - d)*P/255 rounded toward zero.
template <int Mode, bool Trans>
AVX2_INLINE __m256i Field16(__m256i sf, __m256i df, __m256i a, __m256i w, __m256i whole, const Consts16& k) {
  if (Mode == 0)
    return _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(sf, a), _mm256_mullo_epi16(df, _mm256_sub_epi16(k.v256, a))), 8);
  __m256i r = MixLanes(sf, df, w);
  if (Trans) {
    __m256i delta = _mm256_sub_epi16(sf, df);
    __m256i u = _mm256_mullo_epi16(_mm256_abs_epi16(delta), k.param);  // at most 63 * 255
    __m256i q = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(u, k.one), _mm256_srli_epi16(u, 8)), 8);
    r = _mm256_blendv_epi8(r, _mm256_add_epi16(df, _mm256_sign_epi16(q, delta)), whole);
  }
  return r;
}

// Sixteen pixels: texels at s (64 bytes), pixels dw.
template <int Mode, bool Trans>
AVX2_INLINE __m256i Mix16(const uint8_t* s, __m256i dw, const Consts16& k) {
  __m256i s0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
  __m256i s1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 32));
  // Packing works per 128-bit half: the quarter swap puts pixels in order.
  __m256i sw = _mm256_permute4x64_epi64(
      _mm256_packus_epi32(_mm256_and_si256(s0, k.low16), _mm256_and_si256(s1, k.low16)), 0xD8);
  __m256i a = _mm256_and_si256(
      _mm256_permute4x64_epi64(_mm256_packus_epi32(_mm256_srli_epi32(s0, 16), _mm256_srli_epi32(s1, 16)), 0xD8),
      k.low8);
  __m256i whole = _mm256_cmpeq_epi16(a, k.v255);
  __m256i w = Mode == 1 ? _mm256_mullo_epi16(a, k.param) : a;
  __m256i r = Field16<Mode, Trans>(_mm256_srli_epi16(sw, 11), _mm256_srli_epi16(dw, 11), a, w, whole, k);
  __m256i g = Field16<Mode, Trans>(_mm256_and_si256(_mm256_srli_epi16(sw, 5), k.mask6),
                                   _mm256_and_si256(_mm256_srli_epi16(dw, 5), k.mask6), a, w, whole, k);
  __m256i b = Field16<Mode, Trans>(_mm256_and_si256(sw, k.mask5), _mm256_and_si256(dw, k.mask5), a, w, whole, k);
  __m256i out = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(r, 11), _mm256_slli_epi16(g, 5)), b);
  if (Mode == 0 && Trans) out = _mm256_blendv_epi8(out, sw, whole);
  return out;
}

template <int Mode, bool Trans>
RIREREZI_AVX2 void Rows16(uint8_t* d, int dPitch, const uint8_t* s, int sPitch, int width, int height, int param) {
  const Consts16 k = MakeConsts16(param);
  if (width < 16) {
    // Through a sixteen-pixel scratch row; lanes past the row are never
    // written back.
    uint32_t st[16] = {};
    uint16_t dt[16] = {};
    for (int y = 0; y < height; y++, d += dPitch, s += sPitch) {
      memcpy(st, s, 4 * static_cast<size_t>(width));
      memcpy(dt, d, 2 * static_cast<size_t>(width));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dt),
                          Mix16<Mode, Trans>(reinterpret_cast<const uint8_t*>(st),
                                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dt)), k));
      memcpy(d, dt, 2 * static_cast<size_t>(width));
    }
    return;
  }
  const int last = width - 16;
  for (int y = 0; y < height; y++, d += dPitch, s += sPitch) {
    __m256i tail = Mix16<Mode, Trans>(s + 4 * last, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + 2 * last)), k);
    for (int x = 0; x < last; x += 16) {
      __m256i* dp = reinterpret_cast<__m256i*>(d + 2 * x);
      _mm256_storeu_si256(dp, Mix16<Mode, Trans>(s + 4 * x, _mm256_loadu_si256(dp), k));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 2 * last), tail);
  }
}

}  // namespace

int Avx2Usable = HasAvx2Rows();

namespace blendrow {

RIREREZI_AVX2 void AlphaRows32Avx2(uint8_t* d, int dPitch, const uint8_t* s, int sPitch, int width, int height,
                                   int mode, int trans, int param) {
  if (mode == 0) {
    if (trans) Rows32<0, true>(d, dPitch, s, sPitch, width, height, param);
    else Rows32<0, false>(d, dPitch, s, sPitch, width, height, param);
  } else {
    if (trans) Rows32<1, true>(d, dPitch, s, sPitch, width, height, param);
    else Rows32<1, false>(d, dPitch, s, sPitch, width, height, param);
  }
}

RIREREZI_AVX2 void AlphaRows16Avx2(uint8_t* d, int dPitch, const uint8_t* s, int sPitch, int width, int height,
                                   int mode, int trans, int param) {
  if (mode == 0) {
    if (trans) Rows16<0, true>(d, dPitch, s, sPitch, width, height, param);
    else Rows16<0, false>(d, dPitch, s, sPitch, width, height, param);
  } else {
    if (trans) Rows16<1, true>(d, dPitch, s, sPitch, width, height, param);
    else Rows16<1, false>(d, dPitch, s, sPitch, width, height, param);
  }
}

}  // namespace blendrow
