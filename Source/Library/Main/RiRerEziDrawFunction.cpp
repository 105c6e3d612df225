// The point blit BlitMemImg (refusals, clipping, source / destination / mask
// walks, scratch palette, general and run-coded paths) and the set-up of the
// shared blend kernel (PrepareBlendCall). Each case runs one loop that
// instantiates BlendKernel for its mode and options; the frequent 32-bit
// cases have SSE2 rows with the kernel's exact results (the MMX loop forms
// included), checked against the plain rows by the tests.
// Threads: main thread only; the scratch palette is static. Platform: SSE2
// intrinsics.
#include "RiRerEziDrawFunction.h"

#include <emmintrin.h>
#include <string.h>

#include "DeVirERerRandom.h"
#include "VuViderezaMath.h"

int MmxUsable = HasMmxSupport();

int PrepareBlendCall(BlendCall* call, int family, int palettisedSource) {
  int mode = MemImgDrawState.blendMode;
  int param = MemImgDrawState.blendParam;
  if (param < 0) param = 0;
  if (param > 255) param = 255;
  if (mode < 0 || mode > 11 || (mode >= 5 && mode <= 9)) return -1;
  if (param == 0 && (mode == 1 || mode == 2)) return -1;
  if (param == 0 && mode == 3 && (family == BLEND_FAMILY_POINT || !palettisedSource)) return -1;
  if (mode == 1 && param == 255) mode = 0;
  call->mode = mode;
  call->param = param;
  call->bright = MemImgDrawState.drawBright & 0xFFFFFFu;
  call->tinted = call->bright != 0xFFFFFFu ? 1 : 0;
  call->paramRow = BlendProductTable[param];
  call->signedRow = &BlendSignedScaleTable[param][256];
  call->mix6 = &BlendMix6Table[param >> 2][0][0];
  call->brightRow[0] = BlendProductTable[call->bright & 0xFF];
  call->brightRow[1] = BlendProductTable[(call->bright >> 8) & 0xFF];
  call->brightRow[2] = BlendProductTable[(call->bright >> 16) & 0xFF];
  call->ramp = MemImgDrawState.maskAlphaRamp;
  return 0;
}

namespace {

uint32_t ScratchPalette[256];

struct PointJob {
  uint8_t* dest;
  int destPitch;
  const uint8_t* src;
  int srcPitch;
  const uint8_t* mask;
  int maskPitch;
  int width, height;
  uint32_t key;
  const uint32_t* palette;
  const uint8_t* runs;
  const BlendCall* call;
};

inline __m128i Select(__m128i keep, __m128i ifKeep, __m128i otherwise) {
  return _mm_or_si128(_mm_and_si128(keep, ifKeep), _mm_andnot_si128(keep, otherwise));
}

// d + floor((s - d) * W / 65536) per 16-bit lane; W unsigned 16-bit.
inline __m128i MixLanes(__m128i s16, __m128i d16, __m128i w) {
  __m128i delta = _mm_sub_epi16(s16, d16);
  __m128i h = _mm_add_epi16(_mm_mulhi_epi16(delta, w), _mm_and_si128(delta, _mm_srai_epi16(w, 15)));
  return _mm_add_epi16(d16, h);
}

inline __m128i BroadcastAlpha(__m128i px16) {
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(px16, 0xFF), 0xFF);
}

inline __m128i ColourLanes() { return _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1); }

// Copies count 32-bit pixels with inline moves (short rows and runs cost
// more through a library call than the copy itself).
inline void CopyWords(uint8_t* d, const uint8_t* s, int count) {
  int x = 0;
  for (; x + 4 <= count; x += 4)
    _mm_storeu_si128((__m128i*)(d + 4 * x), _mm_loadu_si128((const __m128i*)(s + 4 * x)));
  for (; x < count; x++) *(uint32_t*)(d + 4 * x) = *(const uint32_t*)(s + 4 * x);
}

// Runs body(d, s) over groups of four 32-bit pixels; the last 1-3 pixels go
// through a four-pixel scratch copy so that they take the same arithmetic.
template <int SrcBytes, typename Body>
__attribute__((always_inline)) inline void Groups4(uint8_t* d, const uint8_t* s, int width, Body body) {
  int x = 0;
  for (; x + 4 <= width; x += 4) body(d + 4 * x, s + SrcBytes * x);
  int rest = width - x;
  if (rest > 0) {
    // Word copies, not library calls: this runs once per row.
    alignas(16) uint32_t dt[4] = {0, 0, 0, 0};
    static_assert(SrcBytes == 4, "four-byte source pixels");
    alignas(16) uint32_t st[SrcBytes] = {};
    uint32_t* dRow = (uint32_t*)(d + 4 * x);
    const uint8_t* sRow = s + SrcBytes * x;
    const uint32_t* sWords = (const uint32_t*)sRow;
    switch (rest) {  // explicit moves: the compiler would turn loops into library calls
      case 3: dt[2] = dRow[2]; st[2] = sWords[2]; [[fallthrough]];
      case 2: dt[1] = dRow[1]; st[1] = sWords[1]; [[fallthrough]];
      default: dt[0] = dRow[0]; st[0] = sWords[0];
    }
    // Lanes past the row: zero (transparent where that matters), never written back.
    body((uint8_t*)dt, (const uint8_t*)st);
    switch (rest) {
      case 3: dRow[2] = dt[2]; [[fallthrough]];
      case 2: dRow[1] = dt[1]; [[fallthrough]];
      default: dRow[0] = dt[0];
    }
  }
}

// The rows of one case. Generic per-pixel row first; SSE2 rows replace it
// where the options allow.
template <int Bits, int Mode, unsigned F>
struct PointRow {
  using Kernel = BlendKernel<Bits, Mode, F>;
  using Texel = SourceTexel<Bits, F>;
  static constexpr bool kPlain = !(F & (BK_TINT | BK_MASK));
  static constexpr bool kAlpha = (F & BK_ALPHA) != 0;
  static constexpr bool kTrans = (F & BK_TRANS) != 0;
  static constexpr bool kPal = (F & BK_PAL) != 0;
  static constexpr int kDestBytes = Bits / 8;

  static void Generic(uint8_t* d, const uint8_t* s, const uint8_t* m, int width, const PointJob& j) {
    const BlendCall& call = *j.call;
    for (int x = 0; x < width; x++, d += kDestBytes, s += Texel::kBytes) {
      uint32_t colour, alpha = 0;
      if (!Texel::Read(s, j.palette, j.key, &colour, &alpha)) continue;
      Kernel::Draw(d, colour, alpha, (F & BK_MASK) ? call.ramp[m[x]] : 0u, call);
    }
  }

  // 16-bit pair forms: two pixels per 32-bit word, first in the low half.
  static void Pairs16(uint8_t* d, const uint8_t* s, int width, const PointJob& j) {
    int x = 0;
    for (; x + 2 <= width; x += 2, d += 4, s += 2 * Texel::kBytes) {
      uint32_t c0, c1, a = 0;
      bool draw0 = Texel::Read(s, j.palette, j.key, &c0, &a);
      bool draw1 = Texel::Read(s + Texel::kBytes, j.palette, j.key, &c1, &a);
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

  static void Row(uint8_t* d, const uint8_t* s, const uint8_t* m, int width, const PointJob& j) {
    if constexpr (Bits == 16 && (Mode == BLEND_OP_ADD255 || Mode == BLEND_OP_SUB255)) {
      Pairs16(d, s, width, j);
    } else if constexpr (Mode == 0 && kPlain && !kPal && !kTrans && (!kAlpha || (F & BK_POINT)) &&
                         (Bits == 32 || !kAlpha)) {
      if (Bits == 32) CopyWords(d, s, width);
      else memcpy(d, s, (size_t)width * kDestBytes);
    } else if constexpr (Bits == 32 && !kPal && kPlain && !kAlpha &&
                         (Mode == 0 || Mode == 1 || Mode == BLEND_OP_HALF || Mode == BLEND_OP_ADD255_MMX ||
                          Mode == BLEND_OP_SUB255_MMX)) {
      Direct32(d, s, width, j);
    } else if constexpr (Bits == 16 && Mode == 0 && kTrans && !kPal && kPlain && !kAlpha) {
      KeyCopy16(d, s, width, j);
    } else if constexpr (Bits == 32 && kAlpha && kPlain && (Mode == 0 || Mode == 1)) {
      AlphaMix32(d, s, width, j);
    } else if constexpr (Bits == 32 && kAlpha && kPlain && Mode == 2) {
      AlphaAdd32(d, s, width, j);
    } else {
      Generic(d, s, m, width, j);
    }
  }

  // 32-bit direct sources without alpha: key copy, constant-weight mix
  // (mode 1), half blend, saturating add and subtract.
  static void Direct32(uint8_t* d, const uint8_t* s, int width, const PointJob& j) {
    const __m128i key = _mm_set1_epi32((int)j.key);
    const __m128i zero = _mm_setzero_si128();
    const __m128i weight = _mm_and_si128(_mm_set1_epi16((short)(j.call->param << 8)), ColourLanes());
    const __m128i halfMask = _mm_set1_epi32(0x7F7F7F);
    Groups4<4>(d, s, width, [&](uint8_t* dp, const uint8_t* sp) __attribute__((always_inline)) {
      __m128i sv = _mm_loadu_si128((const __m128i*)sp);
      __m128i dv = _mm_loadu_si128((const __m128i*)dp);
      __m128i r;
      if (Mode == 0) {
        r = sv;
      } else if (Mode == 1) {
        __m128i lo = MixLanes(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(dv, zero), weight);
        __m128i hi = MixLanes(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(dv, zero), weight);
        r = _mm_packus_epi16(lo, hi);
      } else if (Mode == BLEND_OP_HALF) {
        r = _mm_add_epi32(_mm_and_si128(_mm_srli_epi32(sv, 1), halfMask), _mm_and_si128(_mm_srli_epi32(dv, 1), halfMask));
      } else if (Mode == BLEND_OP_ADD255_MMX) {
        r = _mm_adds_epu8(sv, dv);
      } else {
        r = _mm_subs_epu8(dv, sv);
      }
      if (kTrans) r = Select(_mm_cmpeq_epi32(sv, key), dv, r);
      _mm_storeu_si128((__m128i*)dp, r);
    });
  }

  static void KeyCopy16(uint8_t* d, const uint8_t* s, int width, const PointJob& j) {
    const __m128i key = _mm_set1_epi16((short)j.key);
    int x = 0;
    if (j.key <= 0xFFFFu) {
      for (; x + 8 <= width; x += 8) {
        __m128i sv = _mm_loadu_si128((const __m128i*)(s + 2 * x));
        __m128i dv = _mm_loadu_si128((const __m128i*)(d + 2 * x));
        _mm_storeu_si128((__m128i*)(d + 2 * x), Select(_mm_cmpeq_epi16(sv, key), dv, sv));
      }
    }
    if (x < width) Generic(d + 2 * x, s + 2 * x, nullptr, width - x, j);
  }

  // Modes 0 and 1 over an alpha source, untinted and unmasked.
  static void AlphaMix32(uint8_t* d, const uint8_t* s, int width, const PointJob& j) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i param = _mm_set1_epi16((short)j.call->param);
    const __m128i paramHigh = _mm_set1_epi16((short)(j.call->param << 8));
    const __m128i v255 = _mm_set1_epi16(255);
    const __m128i alphaBits = _mm_set1_epi32((int)0xFF000000u);
    const __m128i lanes = ColourLanes();
    Groups4<4>(d, s, width, [&](uint8_t* dp, const uint8_t* sp) __attribute__((always_inline)) {
      __m128i sv = _mm_loadu_si128((const __m128i*)sp);
      __m128i alphaOnly = _mm_and_si128(sv, alphaBits);
      if (kTrans) {
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(alphaOnly, zero)) == 0xFFFF) return;
        if (Mode == 0 && _mm_movemask_epi8(_mm_cmpeq_epi32(alphaOnly, alphaBits)) == 0xFFFF) {
          _mm_storeu_si128((__m128i*)dp, sv);
          return;
        }
      }
      __m128i dv = _mm_loadu_si128((const __m128i*)dp);
      __m128i r = _mm_packus_epi16(Half(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(dv, zero), param, paramHigh, v255, lanes),
                                   Half(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(dv, zero), param, paramHigh, v255, lanes));
      if (Mode == 0 && kTrans) r = Select(_mm_cmpeq_epi32(alphaOnly, alphaBits), sv, r);
      _mm_storeu_si128((__m128i*)dp, r);
    });
  }
  static inline __m128i Half(__m128i s16, __m128i d16, __m128i param, __m128i paramHigh, __m128i v255,
                             __m128i lanes) {
    __m128i a = BroadcastAlpha(s16);
    if (Mode == 0) {
      // (s*a + d*(256 - a)) >> 8 stays below 65536: 16-bit lanes suffice.
      a = _mm_and_si128(a, lanes);
      __m128i sum = _mm_add_epi16(_mm_mullo_epi16(s16, a), _mm_mullo_epi16(d16, _mm_sub_epi16(_mm_set1_epi16(256), a)));
      return _mm_srli_epi16(sum, 8);
    }
    __m128i w = _mm_mullo_epi16(a, param);
    if (Mode == 1 && kTrans) w = Select(_mm_cmpeq_epi16(a, v255), paramHigh, w);
    return MixLanes(s16, d16, _mm_and_si128(w, lanes));
  }

  // Mode 2 over an alpha source, untinted and unmasked.
  static void AlphaAdd32(uint8_t* d, const uint8_t* s, int width, const PointJob& j) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i param = _mm_set1_epi16((short)j.call->param);
    const __m128i v255 = _mm_set1_epi16(255);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i alphaBits = _mm_set1_epi32((int)0xFF000000u);
    const __m128i low7 = _mm_set1_epi32(0x00FEFEFF);
    const __m128i carryBits = _mm_set1_epi32(0x01010100);
    const __m128i orBits = _mm_set1_epi32(0x00010100);
    const __m128i lanes = ColourLanes();
    Groups4<4>(d, s, width, [&](uint8_t* dp, const uint8_t* sp) __attribute__((always_inline)) {
      __m128i sv = _mm_loadu_si128((const __m128i*)sp);
      __m128i alphaOnly = _mm_and_si128(sv, alphaBits);
      __m128i clear = _mm_cmpeq_epi32(alphaOnly, zero);
      if (kTrans && _mm_movemask_epi8(clear) == 0xFFFF) return;
      __m128i dv = _mm_loadu_si128((const __m128i*)dp);
      __m128i q = _mm_packus_epi16(Amount(_mm_unpacklo_epi8(sv, zero), param, v255, one, lanes),
                                   Amount(_mm_unpackhi_epi8(sv, zero), param, v255, one, lanes));
      __m128i sum = _mm_add_epi32(_mm_and_si128(q, low7), _mm_and_si128(dv, low7));
      __m128i carries = _mm_and_si128(sum, carryBits);
      __m128i r = _mm_or_si128(_mm_or_si128(_mm_sub_epi32(carries, _mm_srli_epi32(carries, 8)),
                                            _mm_and_si128(_mm_or_si128(q, dv), orBits)),
                               sum);
      if (kTrans) r = Select(clear, dv, r);
      _mm_storeu_si128((__m128i*)dp, r);
    });
  }
  // floor(t * P * a / 65536), or under the transparency flag at a = 255
  // floor(t * P / 255); the fourth lane 0.
  static inline __m128i Amount(__m128i s16, __m128i param, __m128i v255, __m128i one, __m128i lanes) {
    __m128i a = BroadcastAlpha(s16);
    __m128i q = _mm_mulhi_epu16(s16, _mm_mullo_epi16(a, param));
    if (kTrans) {
      __m128i x = _mm_mullo_epi16(s16, param);
      __m128i scaled = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, one), _mm_srli_epi16(x, 8)), 8);
      q = Select(_mm_cmpeq_epi16(a, v255), scaled, q);
    }
    return _mm_and_si128(q, lanes);
  }
};

struct GeneralWalker {
  const PointJob* job;
  template <int Bits, int Mode, unsigned F>
  void Run() {
    const PointJob& j = *job;
    uint8_t* d = j.dest;
    const uint8_t* s = j.src;
    const uint8_t* m = j.mask;
    for (int y = 0; y < j.height; y++) {
      PointRow<Bits, Mode, F>::Row(d, s, m, j.width, j);
      d += j.destPitch;
      s += j.srcPitch;
      if (F & BK_MASK) m += j.maskPitch;
    }
  }
};

// Run-coded path: skip runs leave the destination; opaque runs draw without
// the alpha weight, translucent runs with it. Spans reuse the general rows:
// without the transparency test for sources without alpha, with the alpha
// gating (which the run kinds agree with) for alpha sources.
struct RunWalker {
  const PointJob* job;
  template <int Bits, int Mode, unsigned F>
  void Run() {
    constexpr unsigned kSpan = (F & BK_ALPHA) ? (F | BK_TRANS) : (F & ~BK_TRANS);
    using Row = PointRow<Bits, Mode, kSpan>;
    const PointJob& j = *job;
    constexpr int kSrcBytes = SourceTexel<Bits, kSpan>::kBytes;
    constexpr int kDestBytes = Bits / 8;
    constexpr bool kOpaqueCopy = Bits == 32 && Mode == 0 && !(F & (BK_TINT | BK_MASK | BK_PAL));
    constexpr bool kMergeRuns = Bits == 32 && (F & BK_ALPHA) && !(F & (BK_TINT | BK_MASK)) && (Mode == 0 || Mode == 1 || Mode == 2);
    const uint8_t* code = j.runs;
    uint8_t* dLine = j.dest;
    const uint8_t* sLine = j.src;
    const uint8_t* mLine = j.mask;
    for (int y = 0; y < j.height; y++) {
      int x = 0;
      for (;;) {
        uint8_t c = *code++;
        int kind = c >> 6;
        if (kind == 3) break;
        int count = (c & 0x3F) + 1;
        if (x + count > j.width) count = j.width - x;  // damaged stream: stay inside the line
        if (kMergeRuns && kind != 0) {
          // Alpha sources: consecutive drawn runs become one span; the
          // span's alpha gating agrees with the run kinds.
          int end = x + count;
          while ((*code >> 6) == 1 || (*code >> 6) == 2) {
            int more = (*code & 0x3F) + 1;
            if (end + more > j.width) break;
            end += more;
            code++;
          }
          Row::Row(dLine + kDestBytes * x, sLine + kSrcBytes * x, (F & BK_MASK) ? mLine + x : nullptr, end - x, j);
          x = end;
          continue;
        }
        if (kind != 0 && count > 0) {
          uint8_t* d = dLine + kDestBytes * x;
          const uint8_t* s = sLine + kSrcBytes * x;
          // Opaque runs of an untinted, unmasked copy: the source pixels as they are.
          if (kOpaqueCopy && kind == 1) CopyWords(d, s, count);
          else Row::Row(d, s, (F & BK_MASK) ? mLine + x : nullptr, count, j);
        }
        x += count;
      }
      dLine += j.destPitch;
      sLine += j.srcPitch;
      if (F & BK_MASK) mLine += j.maskPitch;
    }
  }
};

}  // namespace

void BlitMemImg(MEMIMG* dest, const MEMIMG* src, int x, int y, int transFlag, const MEMIMG* mask) {
  if (!IsValidMemImg(dest) || !IsValidMemImg(src)) return;
  const MemImgHeader* dh = dest->header;
  const MemImgHeader* sh = src->header;
  if (sh->colorType != dh->colorType || dh->palettised || dh->alphaFlag) return;
  if (sh->colorType != MEMIMG_COLOR_16 && sh->colorType != MEMIMG_COLOR_32) return;
  if (mask != nullptr && !IsValidMemImg(mask)) mask = nullptr;

  // The draw area and the destination's own bounds.
  RECT bounds = {0, 0, dest->width, dest->height};
  RECT area = MemImgDrawState.drawArea;
  ClipRect(&area, &bounds);
  RECT r = {x, y, x + src->width, y + src->height};
  ClipRect(&r, &area);
  int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return;

  BlendCall call;
  if (PrepareBlendCall(&call, BLEND_FAMILY_POINT, sh->palettised) != 0) return;

  int offsetX = r.left - x, offsetY = r.top - y;
  PointJob job;
  int srcBytes = MemImgBytesPerPixel(src);
  int destBytes = MemImgBytesPerPixel(dest);
  job.dest = dest->pixels + (size_t)dh->pitch * r.top + (size_t)destBytes * r.left;
  job.destPitch = dh->pitch;
  job.src = src->pixels + (size_t)sh->pitch * offsetY + (size_t)srcBytes * offsetX;
  job.srcPitch = sh->pitch;
  job.mask = mask != nullptr ? mask->pixels + (size_t)mask->header->pitch * offsetY + offsetX : nullptr;
  job.maskPitch = mask != nullptr ? mask->header->pitch : 0;
  job.width = width;
  job.height = height;
  job.key = sh->transparentColor;
  job.palette = ScratchPalette;
  job.runs = sh->runStream;
  job.call = &call;
  if (sh->palettised) {
    int count = sh->paletteEntriesUsed > 256 ? 256 : sh->paletteEntriesUsed;
    for (int i = 0; i < count; i++) {
      if (sh->colorType == MEMIMG_COLOR_16) {
        uint16_t v;
        memcpy(&v, sh->palette + 2 * i, 2);
        ScratchPalette[i] = v;
      } else {
        memcpy(&ScratchPalette[i], sh->palette + 4 * i, 4);
      }
    }
  }

  // Views stay off the run-coded path: the stream describes the whole image.
  bool runPath = transFlag == 1 && sh->runDataValid && sh->runStream != nullptr && width == src->width &&
                 height == src->height && src->pixels == sh->pixelBlock && src->width == sh->width &&
                 src->height == sh->height;

  BlendSelection sel;
  sel.bits = sh->colorType == MEMIMG_COLOR_32 ? 32 : 16;
  sel.mode = call.mode;
  sel.flags = (call.tinted ? BK_TINT : 0u) | (mask != nullptr ? BK_MASK : 0u) | (sh->alphaFlag ? BK_ALPHA : 0u) |
              (transFlag != 0 ? BK_TRANS : 0u) | (sh->palettised ? BK_PAL : 0u);
  if (runPath) {
    RunWalker walker = {&job};
    SelectBlend<BK_TINT | BK_MASK | BK_ALPHA | BK_PAL, BK_POINT | BK_RUN | BK_TRANS>(sel, walker);
    return;
  }
  if (!call.tinted && mask == nullptr && !sh->alphaFlag) {
    bool mmx32 = MmxUsable && sel.bits == 32;
    if (call.mode == 1 && call.param == 128) sel.mode = BLEND_OP_HALF;
    else if (call.mode == 2 && call.param == 255) sel.mode = mmx32 ? BLEND_OP_ADD255_MMX : BLEND_OP_ADD255;
    else if (call.mode == 3 && call.param == 255) sel.mode = mmx32 ? BLEND_OP_SUB255_MMX : BLEND_OP_SUB255;
  }
  GeneralWalker walker = {&job};
  SelectBlend<BK_TINT | BK_MASK | BK_ALPHA | BK_TRANS | BK_PAL, BK_POINT>(sel, walker);
}
