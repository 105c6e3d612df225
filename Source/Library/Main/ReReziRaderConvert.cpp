// Colour-converting blit between any two plain colour formats. Wide-channel
// formats go through floats; palette destinations, same-layout copies and the
// general per-pixel path apply the conversion rules directly; the dedicated
// loops (palette tables, vector loops, channel tables) give the same results
// for the common cases, with every per-format constant worked out once per
// call.
#include "ReReziRader.h"

#include <emmintrin.h>
#include <immintrin.h>
#include <string.h>

#include "VeRavoroString.h"

namespace {

int FastPathsEnabled = 1;
// The 5-6-5 loops use 256-bit vectors when the processor has them.
int WideVectorsEnabled = 1;

int HaveWideVectors() {
  static const int have = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? 1 : 0;
  }();
  return have && WideVectorsEnabled;
}

enum { CH_RED = 0, CH_GREEN = 1, CH_BLUE = 2, CH_ALPHA = 3 };

// Where the destination alpha comes from.
enum {
  ALPHA_NONE,    // the destination has no alpha
  ALPHA_FULL,    // the full alpha value
  ALPHA_SOURCE,  // the source alpha, rescaled
  ALPHA_IMAGE,   // the alpha image's red channel, rescaled
  ALPHA_RED,     // the source red channel, rescaled
  ALPHA_KEY,     // 0 for the key colour, else full
};

const int kDitherMatrix[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};

inline uint32_t ChannelMax(int width) { return width >= 32 ? 0xffffffffu : ((1u << width) - 1); }

// Width change without reduction: narrowing drops low bits, widening maps
// 0 to 0 and the source maximum to the destination maximum.
inline uint32_t ChangeWidth(uint32_t v, int sw, int dw) {
  if (dw == sw) return v;
  if (dw < sw) return v >> (sw - dw);
  if (sw == 0) return 0;
  int d = dw - sw;
  return static_cast<uint32_t>((static_cast<uint64_t>(v) << d) +
                               static_cast<uint64_t>(v) * ((1ull << d) - 1) / ((1ull << sw) - 1));
}

struct BltSetup {
  int width, height;
  int srcBytes, destBytes;
  int srcPalette, destPalette;
  const ColorFormatRecord* srcFormat;
  const ColorFormatRecord* destFormat;
  // Source channels (palette sources: 8 bits from the palette entry).
  uint32_t srcMask[4];
  int srcShift[4];
  int srcWidth[4];
  // Destination channels; a palette destination matches 8-bit channels.
  int destShift[4];
  int destWidth[4];
  uint32_t destSpare;
  int alphaMode;
  // Alpha image.
  const uint8_t* alphaPixels;
  int alphaPitch;
  int alphaBytes;
  const ColorFormatRecord* alphaFormat;
  uint32_t alphaRedMask;
  int alphaRedShift, alphaRedWidth;
  // Key colour, in the source's colour bits.
  uint32_t keyMask;
  uint32_t keyValue;
  uint8_t keyMatch[256];  // palette sources
  int reduction;
  int colorOff;
  int mirror;
  int skipKey;
};

inline int IsKeyPixel(const BltSetup& s, uint32_t value) {
  return s.srcPalette ? s.keyMatch[value & 0xff] : ((value & s.keyMask) == s.keyValue);
}

void ReadSourceChannels(const BltSetup& s, uint32_t value, uint32_t out[4]) {
  if (s.srcPalette) {
    const uint8_t* e = s.srcFormat->palette[value & 0xff];
    out[CH_RED] = e[2];
    out[CH_GREEN] = e[1];
    out[CH_BLUE] = e[0];
    out[CH_ALPHA] = e[3];
    return;
  }
  for (int c = 0; c < 4; c++) out[c] = (value & s.srcMask[c]) >> s.srcShift[c];
}

uint32_t ReadAlphaImageRed(const BltSetup& s, const uint8_t* pixel, int destAlphaWidth) {
  uint32_t value = ReadPixelBytes(pixel, s.alphaBytes);
  if (s.alphaBytes == 1) return ChangeWidth(s.alphaFormat->palette[value][2], 8, destAlphaWidth);
  return ChangeWidth((value & s.alphaRedMask) >> s.alphaRedShift, s.alphaRedWidth, destAlphaWidth);
}

// Packs channels already in destination widths.
inline uint32_t PackDestination(const BltSetup& s, const uint32_t ch[4]) {
  if (s.destPalette)
    return MakeFormatPixelFromRGBA(s.destFormat, static_cast<int>(ch[0]), static_cast<int>(ch[1]),
                                   static_cast<int>(ch[2]), 0);
  uint32_t out = s.destSpare;
  for (int c = 0; c < 4; c++) {
    if (s.destWidth[c] != 0) out |= ch[c] << s.destShift[c];
  }
  return out;
}

// One pixel through the general rules. x, y count from the corner of the
// copied rectangle; carry holds the running remainders of reduction mode 2.
uint32_t ConvertOnePixel(const BltSetup& s, uint32_t value, const uint8_t* alphaPixel, int x, int y,
                         uint32_t carry[3]) {
  uint32_t src[4];
  ReadSourceChannels(s, value, src);
  uint32_t ch[4] = {0, 0, 0, 0};
  for (int c = 0; c < 3; c++) {
    int sw = s.srcWidth[c], dw = s.destWidth[c];
    if (dw == 0 || s.colorOff) continue;
    if (dw >= sw || s.reduction == BLT_REDUCE_NONE) {
      ch[c] = ChangeWidth(src[c], sw, dw);
      continue;
    }
    int n = sw - dw;
    uint32_t dropped = src[c] & ((1u << n) - 1);
    uint32_t v = src[c] >> n;
    if (s.reduction == BLT_REDUCE_ORDERED_DITHER) {
      uint32_t m = static_cast<uint32_t>(kDitherMatrix[(y & 3) * 4 + (x & 3)]);
      if (dropped > (((1u << n) * m) >> 4)) v++;
    } else {
      carry[c] += dropped;
      if (carry[c] >= (1u << n)) {
        v++;
        carry[c] &= (1u << n) - 1;
      }
    }
    uint32_t max = ChannelMax(dw);
    ch[c] = v > max ? max : v;
  }
  int aw = s.destWidth[CH_ALPHA];
  switch (s.alphaMode) {
    case ALPHA_FULL: ch[CH_ALPHA] = ChannelMax(aw); break;
    case ALPHA_SOURCE: ch[CH_ALPHA] = ChangeWidth(src[CH_ALPHA], s.srcWidth[CH_ALPHA], aw); break;
    case ALPHA_RED: ch[CH_ALPHA] = ChangeWidth(src[CH_RED], s.srcWidth[CH_RED], aw); break;
    case ALPHA_IMAGE: ch[CH_ALPHA] = ReadAlphaImageRed(s, alphaPixel, aw); break;
    case ALPHA_KEY: ch[CH_ALPHA] = IsKeyPixel(s, value) ? 0 : ChannelMax(aw); break;
    default: break;
  }
  return PackDestination(s, ch);
}

// ---- General path ---------------------------------------------------------

void GeneralLoop(const BltSetup& s, uint8_t* destStart, intptr_t destPitch, const uint8_t* srcStart, intptr_t srcPitch,
                 const uint8_t* alphaStart) {
  uint32_t carry[3] = {0, 0, 0};
  intptr_t destStep = s.mirror ? -s.destBytes : s.destBytes;
  // A palette destination matches each colour once per run of equal pixels.
  uint32_t lastValue = 0, lastOut = 0;
  int haveLast = 0;
  int cacheable = s.destPalette && s.reduction == BLT_REDUCE_NONE && s.alphaMode != ALPHA_IMAGE;
  for (int y = 0; y < s.height; y++) {
    const uint8_t* sp = srcStart + y * srcPitch;
    const uint8_t* ap = alphaStart ? alphaStart + y * static_cast<intptr_t>(s.alphaPitch) : nullptr;
    uint8_t* dp = destStart + y * destPitch + (s.mirror ? static_cast<intptr_t>(s.width - 1) * s.destBytes : 0);
    for (int x = 0; x < s.width; x++, sp += s.srcBytes, dp += destStep) {
      uint32_t value = ReadPixelBytes(sp, s.srcBytes);
      if (s.skipKey && IsKeyPixel(s, value)) continue;
      uint32_t out;
      if (cacheable && haveLast && value == lastValue) {
        out = lastOut;
      } else {
        out = ConvertOnePixel(s, value, ap ? ap + static_cast<intptr_t>(x) * s.alphaBytes : nullptr, x, y, carry);
        lastValue = value;
        lastOut = out;
        haveLast = 1;
      }
      WritePixelBytes(dp, s.destBytes, out);
    }
  }
}

// ---- Fast paths -------------------------------------------------------------

// Per-channel tables: destination bits in place for every source value.
struct ChannelTables {
  uint32_t base;       // spare bits and a constant alpha
  uint32_t alphaBits;  // cleared for key pixels
  uint32_t mask[4];    // after the shift
  int shift[4];
  uint32_t* table[4];
};

enum { kTableMaxWidth = 10 };

int TablePathFits(const BltSetup& s) {
  if (s.srcPalette || s.destPalette || s.alphaMode == ALPHA_IMAGE) return 0;
  for (int c = 0; c < 4; c++) {
    if (s.srcWidth[c] > kTableMaxWidth) return 0;
    if (s.reduction != BLT_REDUCE_NONE && c < 3 && s.destWidth[c] < s.srcWidth[c] && s.destWidth[c] != 0 && !s.colorOff)
      return 0;
  }
  return 1;
}

void BuildChannelTables(const BltSetup& s, ChannelTables* t, uint32_t storage[4][1 << kTableMaxWidth]) {
  t->base = s.destSpare;
  t->alphaBits = 0;
  int aw = s.destWidth[CH_ALPHA];
  for (int c = 0; c < 4; c++) {
    int source = c;
    int useSource = 1;
    if (c < 3) {
      useSource = s.destWidth[c] != 0 && !s.colorOff;
    } else {
      switch (s.alphaMode) {
        case ALPHA_SOURCE: break;
        case ALPHA_RED: source = CH_RED; break;
        case ALPHA_FULL:
        case ALPHA_KEY:
          useSource = 0;
          t->base |= ChannelMax(aw) << s.destShift[CH_ALPHA];
          if (s.alphaMode == ALPHA_KEY) t->alphaBits = ChannelMax(aw) << s.destShift[CH_ALPHA];
          break;
        default: useSource = 0; break;
      }
    }
    int sw = useSource ? s.srcWidth[source] : 0;
    t->shift[c] = s.srcShift[source];
    t->mask[c] = useSource ? ChannelMax(sw) : 0;
    t->table[c] = storage[c];
    uint32_t count = t->mask[c] + 1;
    for (uint32_t v = 0; v < count; v++) {
      t->table[c][v] = useSource ? ChangeWidth(v, sw, s.destWidth[c]) << s.destShift[c] : 0;
    }
  }
}

template <int SrcBytes, int DestBytes>
void TableLoop(const BltSetup& s, const ChannelTables& t, uint8_t* destStart, intptr_t destPitch,
               const uint8_t* srcStart, intptr_t srcPitch) {
  intptr_t destStep = s.mirror ? -DestBytes : DestBytes;
  const uint32_t* t0 = t.table[0];
  const uint32_t* t1 = t.table[1];
  const uint32_t* t2 = t.table[2];
  const uint32_t* t3 = t.table[3];
  const int s0 = t.shift[0], s1 = t.shift[1], s2 = t.shift[2], s3 = t.shift[3];
  const uint32_t m0 = t.mask[0], m1 = t.mask[1], m2 = t.mask[2], m3 = t.mask[3];
  const int keyed = s.skipKey || t.alphaBits != 0;
  for (int y = 0; y < s.height; y++) {
    const uint8_t* sp = srcStart + y * srcPitch;
    uint8_t* dp = destStart + y * destPitch + (s.mirror ? static_cast<intptr_t>(s.width - 1) * DestBytes : 0);
    for (int x = 0; x < s.width; x++, sp += SrcBytes, dp += destStep) {
      uint32_t v = ReadPixelBytes(sp, SrcBytes);
      uint32_t out = t.base | t0[(v >> s0) & m0] | t1[(v >> s1) & m1] | t2[(v >> s2) & m2] | t3[(v >> s3) & m3];
      if (keyed && (v & s.keyMask) == s.keyValue) {
        if (s.skipKey) continue;
        out &= ~t.alphaBits;
      }
      WritePixelBytes(dp, DestBytes, out);
    }
  }
}

typedef void (*TableLoopFunc)(const BltSetup&, const ChannelTables&, uint8_t*, intptr_t, const uint8_t*, intptr_t);

TableLoopFunc PickTableLoop(int srcBytes, int destBytes) {
  static const TableLoopFunc loops[3][3] = {
      {TableLoop<2, 2>, TableLoop<2, 3>, TableLoop<2, 4>},
      {TableLoop<3, 2>, TableLoop<3, 3>, TableLoop<3, 4>},
      {TableLoop<4, 2>, TableLoop<4, 3>, TableLoop<4, 4>},
  };
  if (srcBytes < 2 || srcBytes > 4 || destBytes < 2 || destBytes > 4) return nullptr;
  return loops[srcBytes - 2][destBytes - 2];
}

// 16-, 24- and 32-bit sources into 16- and 32-bit destinations, four pixels
// per vector. Each channel is one of: a masked shift (channels kept or
// narrowed; channels with the same shifts share one op), a scale
// ((v * mul) >> shift, exact for every source value, for widened channels),
// or a reduced narrowing: ordered dither, whose thresholds repeat every four
// pixels of a row, or carried remainders (a scalar loop).
struct VectorOps {
  // Red and blue of 8-bit-channel sources narrowed together: one multiply-add
  // moves both into place.
  int pairCount;
  uint32_t pairMask;
  int pairMul;  // low 16 bits for the low word, high 16 bits for the high word
  int pairShift;
  int shiftCount;
  uint32_t shiftMask[4];  // source bits kept
  int shiftRight[4];      // shift right, then left
  int shiftLeft[4];
  int scaleCount;
  int scaleSrcShift[4];
  uint32_t scaleSrcMax[4];
  int scaleMul[4];
  int scaleShift[4];
  int scaleDestShift[4];
  int ditherCount;
  int ditherSrcShift[4];
  uint32_t ditherSrcMax[4];
  int ditherDrop[4];
  uint32_t ditherDestMax[4];
  int ditherDestShift[4];
  uint32_t ditherThreshold[4][16];  // by (y & 3) * 4 + (x & 3)
  uint32_t base;
  uint32_t alphaBits;  // cleared for key pixels
};

// (v * mul) >> shift == ChangeWidth(v, sw, dw) for every v, with mul fitting
// a signed 16-bit multiply.
int FindScale(int sw, int dw, int* mul, int* shift) {
  if (sw > 12) return 0;
  const uint32_t count = 1u << sw;
  for (int s = 0; s <= 24; s++) {
    const uint64_t m = (((static_cast<uint64_t>(1) << dw) - 1) << s) / (count - 1) + 1;
    for (int step = 0; step < 2; step++) {
      const uint64_t candidate = m - 1 + step;
      if (candidate == 0 || candidate > 32767) continue;
      uint32_t v = 0;
      for (; v < count; v++) {
        if (static_cast<uint32_t>((v * candidate) >> s) != ChangeWidth(v, sw, dw)) break;
      }
      if (v == count) {
        *mul = static_cast<int>(candidate);
        *shift = s;
        return 1;
      }
    }
  }
  return 0;
}

void AddShiftOp(VectorOps* ops, uint32_t mask, int right, int left) {
  int i = 0;
  while (i < ops->shiftCount && (ops->shiftRight[i] != right || ops->shiftLeft[i] != left)) i++;
  if (i == ops->shiftCount) {
    ops->shiftCount++;
    ops->shiftMask[i] = 0;
    ops->shiftRight[i] = right;
    ops->shiftLeft[i] = left;
  }
  ops->shiftMask[i] |= mask;
}

int BuildVectorOps(const BltSetup& s, VectorOps* ops) {
  if (s.srcBytes < 2 || s.srcBytes > 4 || (s.destBytes != 4 && s.destBytes != 2)) return 0;
  if (s.srcPalette || s.destPalette || s.mirror || s.skipKey || s.alphaMode == ALPHA_IMAGE) return 0;
  memset(ops, 0, sizeof(*ops));
  ops->base = s.destSpare;
  int aw = s.destWidth[CH_ALPHA];
  struct {
    int used;
    uint32_t mask;
    int right, left;
  } shiftOf[4] = {};
  for (int c = 0; c < 4; c++) {
    int source = c;
    if (c < 3) {
      if (s.destWidth[c] == 0 || s.colorOff || s.srcWidth[c] == 0) continue;
    } else {
      if (s.alphaMode == ALPHA_FULL || s.alphaMode == ALPHA_KEY) {
        ops->base |= ChannelMax(aw) << s.destShift[CH_ALPHA];
        if (s.alphaMode == ALPHA_KEY) ops->alphaBits = ChannelMax(aw) << s.destShift[CH_ALPHA];
        continue;
      }
      if (s.alphaMode == ALPHA_RED) source = CH_RED;
      else if (s.alphaMode != ALPHA_SOURCE) continue;
    }
    const int sw = s.srcWidth[source], dw = s.destWidth[c];
    const int ss = s.srcShift[source];
    if (dw < sw && c < 3 && s.reduction != BLT_REDUCE_NONE) {
      const int n = sw - dw;
      if (sw > 16) return 0;
      const int i = ops->ditherCount++;
      ops->ditherSrcShift[i] = ss;
      ops->ditherSrcMax[i] = ChannelMax(sw);
      ops->ditherDrop[i] = n;
      ops->ditherDestMax[i] = ChannelMax(dw);
      ops->ditherDestShift[i] = s.destShift[c];
      for (int k = 0; k < 16; k++)
        ops->ditherThreshold[i][k] = ((1u << n) * static_cast<uint32_t>(kDitherMatrix[k])) >> 4;
    } else if (dw <= sw) {
      const int drop = sw - dw;
      const int k = ss + drop - s.destShift[c];
      shiftOf[c].used = 1;
      shiftOf[c].mask = s.srcMask[source] & ~((1u << (ss + drop)) - 1);
      shiftOf[c].right = k > 0 ? k : 0;
      shiftOf[c].left = k < 0 ? -k : 0;
    } else {
      int mul, shift;
      if (!FindScale(sw, dw, &mul, &shift)) return 0;
      const int i = ops->scaleCount++;
      ops->scaleSrcShift[i] = ss;
      ops->scaleSrcMax[i] = ChannelMax(sw);
      ops->scaleMul[i] = mul;
      ops->scaleShift[i] = shift;
      ops->scaleDestShift[i] = s.destShift[c];
    }
  }
  // Red at bits 16-23 and blue at bits 0-7 lie in separate words: when they
  // need different shifts, a multiply-add by two powers of two places both.
  if (shiftOf[CH_RED].used && shiftOf[CH_BLUE].used && s.alphaMode != ALPHA_RED && s.srcShift[CH_RED] == 16 &&
      s.srcWidth[CH_RED] == 8 && s.srcShift[CH_BLUE] == 0 && s.srcWidth[CH_BLUE] == 8 &&
      (shiftOf[CH_RED].right != shiftOf[CH_BLUE].right || shiftOf[CH_RED].left != shiftOf[CH_BLUE].left)) {
    const int rw = s.destWidth[CH_RED], rs = s.destShift[CH_RED];
    const int bw = s.destWidth[CH_BLUE], bs = s.destShift[CH_BLUE];
    int shift = 0;
    if (8 - rs - rw > shift) shift = 8 - rs - rw;
    if (8 - bs - bw > shift) shift = 8 - bs - bw;
    const int tr = rs + rw - 8 + shift, tb = bs + bw - 8 + shift;
    if (tr <= 14 && tb <= 14) {
      ops->pairCount = 1;
      ops->pairMask = shiftOf[CH_RED].mask | shiftOf[CH_BLUE].mask;
      ops->pairMul = (1 << tb) | ((1 << tr) << 16);
      ops->pairShift = shift;
      shiftOf[CH_RED].used = shiftOf[CH_BLUE].used = 0;
    }
  }
  for (int c = 0; c < 4; c++) {
    if (shiftOf[c].used) AddShiftOp(ops, shiftOf[c].mask, shiftOf[c].right, shiftOf[c].left);
  }
  return 1;
}

inline uint32_t PairPixel(const VectorOps& o, uint32_t v) {
  const uint32_t m = v & o.pairMask;
  return ((m & 0xffff) * static_cast<uint32_t>(o.pairMul & 0xffff) +
          (m >> 16) * (static_cast<uint32_t>(o.pairMul) >> 16)) >>
         o.pairShift;
}

inline uint32_t VectorOpsPixel(const VectorOps& o, const BltSetup& s, uint32_t v, int x, int y) {
  uint32_t out = o.base;
  if (o.pairCount) out |= PairPixel(o, v);
  for (int i = 0; i < o.shiftCount; i++) out |= ((v & o.shiftMask[i]) >> o.shiftRight[i]) << o.shiftLeft[i];
  for (int i = 0; i < o.scaleCount; i++) {
    uint32_t c = (v >> o.scaleSrcShift[i]) & o.scaleSrcMax[i];
    out |= ((c * static_cast<uint32_t>(o.scaleMul[i])) >> o.scaleShift[i]) << o.scaleDestShift[i];
  }
  for (int i = 0; i < o.ditherCount; i++) {
    uint32_t c = (v >> o.ditherSrcShift[i]) & o.ditherSrcMax[i];
    uint32_t q = c >> o.ditherDrop[i];
    uint32_t dropped = c & ((1u << o.ditherDrop[i]) - 1);
    if (dropped > o.ditherThreshold[i][(y & 3) * 4 + (x & 3)]) q++;
    if (q > o.ditherDestMax[i]) q = o.ditherDestMax[i];
    out |= q << o.ditherDestShift[i];
  }
  if (o.alphaBits != 0 && (v & s.keyMask) == s.keyValue) out &= ~o.alphaBits;
  return out;
}

struct VectorConstants {
  __m128i pairMask, pairMul, pairShift;
  __m128i shiftMask[4], shiftRight[4], shiftLeft[4];
  __m128i scaleSrcShift[4], scaleSrcMax[4], scaleMul[4], scaleShift[4], scaleDestShift[4];
  __m128i ditherSrcShift[4], ditherSrcMax[4], ditherDrop[4], ditherDropMask[4], ditherDestMax[4], ditherDestShift[4];
  __m128i ditherThreshold[4];  // the current row's
  __m128i base, keyMask, keyValue, alphaBits;
};

// Counts known at compile time unroll the op loops; -1 takes them from the ops.
template <int NPair, int NShift, int NScale, int NDither>
inline __m128i VectorOpsApply(const VectorOps& o, const VectorConstants& k, int keyed, __m128i v) {
  const int pairs = NPair >= 0 ? NPair : o.pairCount;
  const int shifts = NShift >= 0 ? NShift : o.shiftCount;
  const int scales = NScale >= 0 ? NScale : o.scaleCount;
  const int dithers = NDither >= 0 ? NDither : o.ditherCount;
  __m128i out = k.base;
  if (pairs) {
    __m128i t = _mm_madd_epi16(_mm_and_si128(v, k.pairMask), k.pairMul);
    out = _mm_or_si128(out, _mm_srl_epi32(t, k.pairShift));
  }
#pragma GCC unroll 4
  for (int i = 0; i < shifts; i++) {
    __m128i t = _mm_and_si128(v, k.shiftMask[i]);
    t = _mm_sll_epi32(_mm_srl_epi32(t, k.shiftRight[i]), k.shiftLeft[i]);
    out = _mm_or_si128(out, t);
  }
#pragma GCC unroll 4
  for (int i = 0; i < scales; i++) {
    __m128i t = _mm_and_si128(_mm_srl_epi32(v, k.scaleSrcShift[i]), k.scaleSrcMax[i]);
    t = _mm_madd_epi16(t, k.scaleMul[i]);  // channel and multiplier both in the low 16 bits
    t = _mm_sll_epi32(_mm_srl_epi32(t, k.scaleShift[i]), k.scaleDestShift[i]);
    out = _mm_or_si128(out, t);
  }
#pragma GCC unroll 4
  for (int i = 0; i < dithers; i++) {
    __m128i c = _mm_and_si128(_mm_srl_epi32(v, k.ditherSrcShift[i]), k.ditherSrcMax[i]);
    __m128i q = _mm_srl_epi32(c, k.ditherDrop[i]);
    __m128i raise = _mm_cmpgt_epi32(_mm_and_si128(c, k.ditherDropMask[i]), k.ditherThreshold[i]);
    q = _mm_sub_epi32(q, raise);
    q = _mm_add_epi32(q, _mm_cmpgt_epi32(q, k.ditherDestMax[i]));  // back to the maximum
    out = _mm_or_si128(out, _mm_sll_epi32(q, k.ditherDestShift[i]));
  }
  if (keyed) {
    __m128i eq = _mm_cmpeq_epi32(_mm_and_si128(v, k.keyMask), k.keyValue);
    out = _mm_andnot_si128(_mm_and_si128(eq, k.alphaBits), out);
  }
  return out;
}

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

template <int SrcBytes>
inline void LoadEight(const uint8_t* p, __m128i* a, __m128i* b) {
  if (SrcBytes == 4) {
    *a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    *b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  } else if (SrcBytes == 2) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    *a = _mm_unpacklo_epi16(v, _mm_setzero_si128());
    *b = _mm_unpackhi_epi16(v, _mm_setzero_si128());
  } else {
    // Four bytes per pixel; the byte above each pixel is masked off by the
    // ops (the caller keeps one more pixel in the row).
    *a = _mm_setr_epi32(static_cast<int>(Load32(p)), static_cast<int>(Load32(p + 3)), static_cast<int>(Load32(p + 6)),
                        static_cast<int>(Load32(p + 9)));
    *b = _mm_setr_epi32(static_cast<int>(Load32(p + 12)), static_cast<int>(Load32(p + 15)),
                        static_cast<int>(Load32(p + 18)), static_cast<int>(Load32(p + 21)));
  }
}

void MakeVectorConstants(const BltSetup& s, const VectorOps& o, VectorConstants* k) {
  k->pairMask = _mm_set1_epi32(static_cast<int>(o.pairMask));
  k->pairMul = _mm_set1_epi32(o.pairMul);
  k->pairShift = _mm_cvtsi32_si128(o.pairShift);
  for (int i = 0; i < o.shiftCount; i++) {
    k->shiftMask[i] = _mm_set1_epi32(static_cast<int>(o.shiftMask[i]));
    k->shiftRight[i] = _mm_cvtsi32_si128(o.shiftRight[i]);
    k->shiftLeft[i] = _mm_cvtsi32_si128(o.shiftLeft[i]);
  }
  for (int i = 0; i < o.scaleCount; i++) {
    k->scaleSrcShift[i] = _mm_cvtsi32_si128(o.scaleSrcShift[i]);
    k->scaleSrcMax[i] = _mm_set1_epi32(static_cast<int>(o.scaleSrcMax[i]));
    k->scaleMul[i] = _mm_set1_epi32(o.scaleMul[i]);
    k->scaleShift[i] = _mm_cvtsi32_si128(o.scaleShift[i]);
    k->scaleDestShift[i] = _mm_cvtsi32_si128(o.scaleDestShift[i]);
  }
  for (int i = 0; i < o.ditherCount; i++) {
    k->ditherSrcShift[i] = _mm_cvtsi32_si128(o.ditherSrcShift[i]);
    k->ditherSrcMax[i] = _mm_set1_epi32(static_cast<int>(o.ditherSrcMax[i]));
    k->ditherDrop[i] = _mm_cvtsi32_si128(o.ditherDrop[i]);
    k->ditherDropMask[i] = _mm_set1_epi32(static_cast<int>((1u << o.ditherDrop[i]) - 1));
    k->ditherDestMax[i] = _mm_set1_epi32(static_cast<int>(o.ditherDestMax[i]));
    k->ditherDestShift[i] = _mm_cvtsi32_si128(o.ditherDestShift[i]);
  }
  k->base = _mm_set1_epi32(static_cast<int>(o.base));
  k->keyMask = _mm_set1_epi32(static_cast<int>(s.keyMask));
  k->keyValue = _mm_set1_epi32(static_cast<int>(s.keyValue));
  k->alphaBits = _mm_set1_epi32(static_cast<int>(o.alphaBits));
}

template <int SrcBytes, int DestBytes, int NPair, int NShift, int NScale, int NDither>
void VectorLoop(const BltSetup& s, const VectorOps& o, uint8_t* destStart, intptr_t destPitch, const uint8_t* srcStart,
                intptr_t srcPitch) {
  VectorConstants k;
  MakeVectorConstants(s, o, &k);
  const __m128i bias32 = _mm_set1_epi32(0x8000);
  const __m128i bias16 = _mm_set1_epi16(static_cast<short>(0x8000));
  const int keyed = o.alphaBits != 0;
  // 3-byte sources read one byte past each group of eight.
  const int vectorEnd = SrcBytes == 3 ? s.width - 1 : s.width;
  for (int y = 0; y < s.height; y++) {
    const uint8_t* sp = srcStart + y * srcPitch;
    uint8_t* dp = destStart + y * destPitch;
    for (int i = 0; i < (NDither >= 0 ? NDither : o.ditherCount); i++) {
      const uint32_t* t = &o.ditherThreshold[i][(y & 3) * 4];
      k.ditherThreshold[i] = _mm_setr_epi32(static_cast<int>(t[0]), static_cast<int>(t[1]), static_cast<int>(t[2]),
                                            static_cast<int>(t[3]));
    }
    int x = 0;
    for (; x + 8 <= vectorEnd; x += 8) {
      __m128i a, b;
      LoadEight<SrcBytes>(sp + x * SrcBytes, &a, &b);
      a = VectorOpsApply<NPair, NShift, NScale, NDither>(o, k, keyed, a);
      b = VectorOpsApply<NPair, NShift, NScale, NDither>(o, k, keyed, b);
      if (DestBytes == 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dp + x * 4), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dp + x * 4 + 16), b);
      } else {
        // Unsigned 16-bit packing through the signed pack.
        __m128i packed = _mm_packs_epi32(_mm_sub_epi32(a, bias32), _mm_sub_epi32(b, bias32));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dp + x * 2), _mm_add_epi16(packed, bias16));
      }
    }
    for (; x < s.width; x++) {
      uint32_t out = VectorOpsPixel(o, s, ReadPixelBytes(sp + x * SrcBytes, SrcBytes), x, y);
      WritePixelBytes(dp + x * DestBytes, DestBytes, out);
    }
  }
}

typedef void (*VectorLoopFunc)(const BltSetup&, const VectorOps&, uint8_t*, intptr_t, const uint8_t*, intptr_t);

template <int SrcBytes, int DestBytes>
VectorLoopFunc PickVectorLoopCounts(const VectorOps& o) {
  // The shapes of the common conversions; anything else counts at run time.
  struct Shape {
    int pairs, shifts, scales, dithers;
    VectorLoopFunc loop;
  } static const shapes[] = {
      {0, 1, 0, 0, VectorLoop<SrcBytes, DestBytes, 0, 1, 0, 0>},  // same channels, other spare or alpha bits
      {0, 2, 0, 0, VectorLoop<SrcBytes, DestBytes, 0, 2, 0, 0>},
      {0, 3, 0, 0, VectorLoop<SrcBytes, DestBytes, 0, 3, 0, 0>},
      {1, 1, 0, 0, VectorLoop<SrcBytes, DestBytes, 1, 1, 0, 0>},  // 8-bit channels to 5-6-5 or 5-5-5
      {1, 2, 0, 0, VectorLoop<SrcBytes, DestBytes, 1, 2, 0, 0>},  // the same with alpha
      {0, 0, 3, 0, VectorLoop<SrcBytes, DestBytes, 0, 0, 3, 0>},  // narrow channels widened
      {0, 0, 4, 0, VectorLoop<SrcBytes, DestBytes, 0, 0, 4, 0>},
      {0, 0, 0, 3, VectorLoop<SrcBytes, DestBytes, 0, 0, 0, 3>},  // dithered to 5-6-5 or 5-5-5
      {0, 1, 0, 3, VectorLoop<SrcBytes, DestBytes, 0, 1, 0, 3>},
  };
  for (const Shape& shape : shapes) {
    if (shape.pairs == o.pairCount && shape.shifts == o.shiftCount && shape.scales == o.scaleCount &&
        shape.dithers == o.ditherCount)
      return shape.loop;
  }
  return VectorLoop<SrcBytes, DestBytes, -1, -1, -1, -1>;
}

void RunVectorLoop(const BltSetup& s, const VectorOps& o, uint8_t* destStart, intptr_t destPitch,
                   const uint8_t* srcStart, intptr_t srcPitch) {
  VectorLoopFunc loop;
  if (s.srcBytes == 4) {
    loop = s.destBytes == 4 ? PickVectorLoopCounts<4, 4>(o) : PickVectorLoopCounts<4, 2>(o);
  } else if (s.srcBytes == 3) {
    loop = s.destBytes == 4 ? PickVectorLoopCounts<3, 4>(o) : PickVectorLoopCounts<3, 2>(o);
  } else {
    loop = s.destBytes == 4 ? PickVectorLoopCounts<2, 4>(o) : PickVectorLoopCounts<2, 2>(o);
  }
  loop(s, o, destStart, destPitch, srcStart, srcPitch);
}

// 16-bit sources into 32-bit destinations whose channels are whole bytes:
// eight pixels per vector in 16-bit lanes. A channel widens to 8 bits as
// c * k + ((c * m) >> 16), exact for every source value; the two words of
// each destination pixel are built apart and interleaved at the end.
struct WordOps {
  int count;
  int srcShift[4];
  uint16_t srcMax[4];
  uint16_t factor[4];    // k
  uint16_t fraction[4];  // m
  int highWord[4];       // the channel's byte is in the destination's bits 16-31
  int highByte[4];       // ... in the upper byte of that word
  uint16_t base[2];
  int keyed;
  int alphaWord;
  uint16_t alphaByteMask;
};

int FindByteWidening(int sw, uint16_t* factor, uint16_t* fraction) {
  const uint32_t count = 1u << sw;
  const uint32_t max = count - 1;
  const uint32_t whole = 255 / max;
  const uint64_t ideal = (static_cast<uint64_t>(255 - whole * max) << 16) / max;
  for (uint64_t m = ideal; m <= ideal + 2 && m <= 0xffff; m++) {
    uint32_t c = 0;
    for (; c < count; c++) {
      if (c * whole + static_cast<uint32_t>((c * m) >> 16) != ChangeWidth(c, sw, 8)) break;
    }
    if (c == count) {
      *factor = static_cast<uint16_t>(whole);
      *fraction = static_cast<uint16_t>(m);
      return 1;
    }
  }
  return 0;
}

int BuildWordOps(const BltSetup& s, WordOps* ops) {
  if (s.srcBytes != 2 || s.destBytes != 4 || s.srcPalette || s.destPalette) return 0;
  if (s.mirror || s.skipKey || s.alphaMode == ALPHA_IMAGE) return 0;
  memset(ops, 0, sizeof(*ops));
  ops->base[0] = static_cast<uint16_t>(s.destSpare & 0xffff);
  ops->base[1] = static_cast<uint16_t>(s.destSpare >> 16);
  for (int c = 0; c < 4; c++) {
    int source = c;
    const int dw = s.destWidth[c], ds = s.destShift[c];
    if (c < 3) {
      if (dw == 0 || s.colorOff) continue;
    } else if (s.alphaMode == ALPHA_NONE) {
      continue;
    }
    if (dw != 8 || (ds & 7) != 0) return 0;
    if (c == 3) {
      if (s.alphaMode == ALPHA_FULL || s.alphaMode == ALPHA_KEY) {
        ops->base[ds >> 4] |= static_cast<uint16_t>(0xff << (ds & 8));
        if (s.alphaMode == ALPHA_KEY) {
          ops->keyed = 1;
          ops->alphaWord = ds >> 4;
          ops->alphaByteMask = static_cast<uint16_t>(0xff << (ds & 8));
        }
        continue;
      }
      if (s.alphaMode == ALPHA_RED) source = CH_RED;
    }
    const int sw = s.srcWidth[source];
    if (sw == 0) continue;
    if (sw > 8) return 0;
    const int i = ops->count++;
    ops->srcShift[i] = s.srcShift[source];
    ops->srcMax[i] = static_cast<uint16_t>(ChannelMax(sw));
    if (!FindByteWidening(sw, &ops->factor[i], &ops->fraction[i])) return 0;
    ops->highWord[i] = ds >> 4;
    ops->highByte[i] = (ds & 8) != 0;
  }
  return 1;
}

inline uint32_t WordOpsPixel(const WordOps& o, const BltSetup& s, uint32_t v) {
  uint32_t word[2] = {o.base[0], o.base[1]};
  for (int i = 0; i < o.count; i++) {
    const uint32_t c = (v >> o.srcShift[i]) & o.srcMax[i];
    const uint32_t wide = c * o.factor[i] + ((c * o.fraction[i]) >> 16);
    word[o.highWord[i]] |= wide << (o.highByte[i] ? 8 : 0);
  }
  if (o.keyed && (v & s.keyMask) == s.keyValue) word[o.alphaWord] &= ~static_cast<uint32_t>(o.alphaByteMask);
  return word[0] | (word[1] << 16);
}

// Standard: the ops are red, green, blue (and alpha) of a destination with
// red at bits 16-23, green 8-15, blue 0-7 (alpha 24-31), placed directly.
template <int N, bool Standard>
void WordLoop(const BltSetup& s, const WordOps& o, uint8_t* destStart, intptr_t destPitch, const uint8_t* srcStart,
              intptr_t srcPitch) {
  __m128i srcShift[4], srcMax[4], factor[4], fraction[4], byteShift[4], lowWord[4];
  for (int i = 0; i < N; i++) {
    srcShift[i] = _mm_cvtsi32_si128(o.srcShift[i]);
    srcMax[i] = _mm_set1_epi16(static_cast<short>(o.srcMax[i]));
    factor[i] = _mm_set1_epi16(static_cast<short>(o.factor[i]));
    fraction[i] = _mm_set1_epi16(static_cast<short>(o.fraction[i]));
    byteShift[i] = _mm_cvtsi32_si128(o.highByte[i] ? 8 : 0);
    lowWord[i] = _mm_set1_epi16(o.highWord[i] ? 0 : -1);
  }
  const __m128i base0 = _mm_set1_epi16(static_cast<short>(o.base[0]));
  const __m128i base1 = _mm_set1_epi16(static_cast<short>(o.base[1]));
  const __m128i keyMask = _mm_set1_epi16(static_cast<short>(s.keyMask));
  const __m128i keyValue = _mm_set1_epi16(static_cast<short>(s.keyValue));
  const __m128i alphaClear0 = _mm_set1_epi16(static_cast<short>(o.alphaWord == 0 ? o.alphaByteMask : 0));
  const __m128i alphaClear1 = _mm_set1_epi16(static_cast<short>(o.alphaWord == 1 ? o.alphaByteMask : 0));
  for (int y = 0; y < s.height; y++) {
    const uint8_t* sp = srcStart + y * srcPitch;
    uint8_t* dp = destStart + y * destPitch;
    int x = 0;
    for (; x + 8 <= s.width; x += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp + x * 2));
      __m128i word0 = base0, word1 = base1;
#pragma GCC unroll 4
      for (int i = 0; i < N; i++) {
        const __m128i c = _mm_and_si128(_mm_srl_epi16(v, srcShift[i]), srcMax[i]);
        __m128i wide = _mm_add_epi16(_mm_mullo_epi16(c, factor[i]), _mm_mulhi_epu16(c, fraction[i]));
        if (Standard) {
          if (i == 0) word1 = _mm_or_si128(word1, wide);
          if (i == 1) word0 = _mm_or_si128(word0, _mm_slli_epi16(wide, 8));
          if (i == 2) word0 = _mm_or_si128(word0, wide);
          if (i == 3) word1 = _mm_or_si128(word1, _mm_slli_epi16(wide, 8));
        } else {
          wide = _mm_sll_epi16(wide, byteShift[i]);
          word0 = _mm_or_si128(word0, _mm_and_si128(wide, lowWord[i]));
          word1 = _mm_or_si128(word1, _mm_andnot_si128(lowWord[i], wide));
        }
      }
      if (o.keyed) {
        const __m128i eq = _mm_cmpeq_epi16(_mm_and_si128(v, keyMask), keyValue);
        word0 = _mm_andnot_si128(_mm_and_si128(eq, alphaClear0), word0);
        word1 = _mm_andnot_si128(_mm_and_si128(eq, alphaClear1), word1);
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dp + x * 4), _mm_unpacklo_epi16(word0, word1));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dp + x * 4 + 16), _mm_unpackhi_epi16(word0, word1));
    }
    for (; x < s.width; x++) {
      const uint32_t out = WordOpsPixel(o, s, ReadPixelBytes(sp + x * 2, 2));
      memcpy(dp + x * 4, &out, 4);
    }
  }
}

void RunWordLoop(const BltSetup& s, const WordOps& o, uint8_t* destStart, intptr_t destPitch, const uint8_t* srcStart,
                 intptr_t srcPitch) {
  static const int kStandardWord[4] = {1, 0, 0, 1}, kStandardByte[4] = {0, 1, 0, 1};
  int standard = o.count >= 3;
  for (int i = 0; i < o.count && standard; i++) {
    standard = o.highWord[i] == kStandardWord[i] && o.highByte[i] == kStandardByte[i];
  }
  if (standard && o.count == 3) return WordLoop<3, true>(s, o, destStart, destPitch, srcStart, srcPitch);
  if (standard && o.count == 4) return WordLoop<4, true>(s, o, destStart, destPitch, srcStart, srcPitch);
  switch (o.count) {
    case 0: WordLoop<0, false>(s, o, destStart, destPitch, srcStart, srcPitch); break;
    case 1: WordLoop<1, false>(s, o, destStart, destPitch, srcStart, srcPitch); break;
    case 2: WordLoop<2, false>(s, o, destStart, destPitch, srcStart, srcPitch); break;
    case 3: WordLoop<3, false>(s, o, destStart, destPitch, srcStart, srcPitch); break;
    default: WordLoop<4, false>(s, o, destStart, destPitch, srcStart, srcPitch); break;
  }
}

// Ordered dither from 32-bit sources whose channels are whole bytes into
// 16-bit destinations: eight pixels per vector in 16-bit lanes, after the
// pixels are split into their low and high words.
struct ByteDitherOps {
  int count;
  int fromHigh[4];   // the source byte is in bits 16-31
  int upperByte[4];  // ... in the upper byte of that word
  int drop[4];       // bits dropped by the narrowing
  uint16_t destMax[4];
  int destShift[4];
  uint16_t threshold[4][16];  // by (y & 3) * 4 + (x & 3)
  uint16_t base;
  int keyed;
  uint16_t alphaBits;
};

int BuildByteDitherOps(const BltSetup& s, ByteDitherOps* ops) {
  if (s.reduction != BLT_REDUCE_ORDERED_DITHER || s.srcBytes != 4 || s.destBytes != 2) return 0;
  if (s.srcPalette || s.destPalette || s.mirror || s.skipKey || s.alphaMode == ALPHA_IMAGE) return 0;
  memset(ops, 0, sizeof(*ops));
  ops->base = static_cast<uint16_t>(s.destSpare);
  for (int c = 0; c < 4; c++) {
    int source = c;
    const int dw = s.destWidth[c];
    if (c < 3) {
      if (dw == 0 || s.colorOff) continue;
    } else {
      if (s.alphaMode == ALPHA_NONE) continue;
      if (s.alphaMode == ALPHA_FULL || s.alphaMode == ALPHA_KEY) {
        ops->base |= static_cast<uint16_t>(ChannelMax(dw) << s.destShift[c]);
        if (s.alphaMode == ALPHA_KEY) {
          ops->keyed = 1;
          ops->alphaBits = static_cast<uint16_t>(ChannelMax(dw) << s.destShift[c]);
        }
        continue;
      }
      if (s.alphaMode == ALPHA_RED) source = CH_RED;
    }
    const int sw = s.srcWidth[source], ss = s.srcShift[source];
    if (sw == 0) continue;
    if (sw != 8 || (ss & 7) != 0 || dw > 8) return 0;
    const int i = ops->count++;
    ops->fromHigh[i] = ss >= 16;
    ops->upperByte[i] = (ss & 8) != 0;
    // Alpha is narrowed without dither.
    ops->drop[i] = 8 - dw;
    ops->destMax[i] = static_cast<uint16_t>(ChannelMax(dw));
    ops->destShift[i] = s.destShift[c];
    for (int k = 0; k < 16; k++) {
      ops->threshold[i][k] = c < 3 ? static_cast<uint16_t>(
                                         ((1u << (8 - dw)) * static_cast<uint32_t>(kDitherMatrix[k])) >> 4)
                                   : 0xff;
    }
  }
  return 1;
}

inline uint32_t ByteDitherPixel(const ByteDitherOps& o, const BltSetup& s, uint32_t v, int x, int y) {
  uint32_t out = o.base;
  for (int i = 0; i < o.count; i++) {
    const uint32_t c = (v >> (o.fromHigh[i] * 16 + o.upperByte[i] * 8)) & 0xff;
    uint32_t q = c >> o.drop[i];
    if ((c & ((1u << o.drop[i]) - 1)) > o.threshold[i][(y & 3) * 4 + (x & 3)]) q++;
    if (q > o.destMax[i]) q = o.destMax[i];
    out |= q << o.destShift[i];
  }
  if (o.keyed && (v & s.keyMask) == s.keyValue) out &= ~static_cast<uint32_t>(o.alphaBits);
  return out;
}

template <int N>
void ByteDitherLoop(const BltSetup& s, const ByteDitherOps& o, uint8_t* destStart, intptr_t destPitch,
                    const uint8_t* srcStart, intptr_t srcPitch) {
  __m128i fromHigh[4], byteShift[4], drop[4], dropMask[4], destMax[4], destShift[4], threshold[4];
  for (int i = 0; i < N; i++) {
    fromHigh[i] = _mm_set1_epi16(o.fromHigh[i] ? -1 : 0);
    byteShift[i] = _mm_cvtsi32_si128(o.upperByte[i] ? 8 : 0);
    drop[i] = _mm_cvtsi32_si128(o.drop[i]);
    dropMask[i] = _mm_set1_epi16(static_cast<short>((1 << o.drop[i]) - 1));
    destMax[i] = _mm_set1_epi16(static_cast<short>(o.destMax[i]));
    destShift[i] = _mm_cvtsi32_si128(o.destShift[i]);
  }
  const __m128i base = _mm_set1_epi16(static_cast<short>(o.base));
  const __m128i byteMask = _mm_set1_epi16(0xff);
  const __m128i keyLow = _mm_set1_epi16(static_cast<short>(s.keyMask & 0xffff));
  const __m128i keyHigh = _mm_set1_epi16(static_cast<short>(s.keyMask >> 16));
  const __m128i valueLow = _mm_set1_epi16(static_cast<short>(s.keyValue & 0xffff));
  const __m128i valueHigh = _mm_set1_epi16(static_cast<short>(s.keyValue >> 16));
  const __m128i alphaBits = _mm_set1_epi16(static_cast<short>(o.alphaBits));
  for (int y = 0; y < s.height; y++) {
    const uint8_t* sp = srcStart + y * srcPitch;
    uint8_t* dp = destStart + y * destPitch;
    for (int i = 0; i < N; i++) {
      const uint16_t* t = &o.threshold[i][(y & 3) * 4];
      threshold[i] = _mm_setr_epi16(static_cast<short>(t[0]), static_cast<short>(t[1]), static_cast<short>(t[2]),
                                    static_cast<short>(t[3]), static_cast<short>(t[0]), static_cast<short>(t[1]),
                                    static_cast<short>(t[2]), static_cast<short>(t[3]));
    }
    int x = 0;
    for (; x + 8 <= s.width; x += 8) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp + x * 4));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp + x * 4 + 16));
      const __m128i low = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a, 16), 16),
                                          _mm_srai_epi32(_mm_slli_epi32(b, 16), 16));
      const __m128i high = _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16));
      __m128i out = base;
#pragma GCC unroll 4
      for (int i = 0; i < N; i++) {
        __m128i word = _mm_or_si128(_mm_andnot_si128(fromHigh[i], low), _mm_and_si128(fromHigh[i], high));
        const __m128i c = _mm_and_si128(_mm_srl_epi16(word, byteShift[i]), byteMask);
        __m128i q = _mm_srl_epi16(c, drop[i]);
        q = _mm_sub_epi16(q, _mm_cmpgt_epi16(_mm_and_si128(c, dropMask[i]), threshold[i]));
        q = _mm_min_epi16(q, destMax[i]);
        out = _mm_or_si128(out, _mm_sll_epi16(q, destShift[i]));
      }
      if (o.keyed) {
        const __m128i eq = _mm_and_si128(_mm_cmpeq_epi16(_mm_and_si128(low, keyLow), valueLow),
                                         _mm_cmpeq_epi16(_mm_and_si128(high, keyHigh), valueHigh));
        out = _mm_andnot_si128(_mm_and_si128(eq, alphaBits), out);
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dp + x * 2), out);
    }
    for (; x < s.width; x++) {
      const uint16_t out = static_cast<uint16_t>(ByteDitherPixel(o, s, ReadPixelBytes(sp + x * 4, 4), x, y));
      memcpy(dp + x * 2, &out, 2);
    }
  }
}

void RunByteDitherLoop(const BltSetup& s, const ByteDitherOps& o, uint8_t* destStart, intptr_t destPitch,
                       const uint8_t* srcStart, intptr_t srcPitch) {
  switch (o.count) {
    case 0: ByteDitherLoop<0>(s, o, destStart, destPitch, srcStart, srcPitch); break;
    case 1: ByteDitherLoop<1>(s, o, destStart, destPitch, srcStart, srcPitch); break;
    case 2: ByteDitherLoop<2>(s, o, destStart, destPitch, srcStart, srcPitch); break;
    case 3: ByteDitherLoop<3>(s, o, destStart, destPitch, srcStart, srcPitch); break;
    default: ByteDitherLoop<4>(s, o, destStart, destPitch, srcStart, srcPitch); break;
  }
}

// Carried remainders run pixel after pixel; the reduced channels are the
// dither ops of the same set.
template <int SrcBytes, int DestBytes, int NDither>
void CarryLoop(const BltSetup& s, const VectorOps& shared, uint8_t* destStart, intptr_t destPitch,
               const uint8_t* srcStart, intptr_t srcPitch) {
  const VectorOps o = shared;  // a private copy: the stores below cannot touch it
  const int dithers = NDither >= 0 ? NDither : o.ditherCount;
  const uint32_t keyMask = s.keyMask, keyValue = s.keyValue;
  uint32_t carry[4] = {0, 0, 0, 0};
  uint32_t dropMask[4] = {0, 0, 0, 0};
  for (int i = 0; i < dithers; i++) dropMask[i] = (1u << o.ditherDrop[i]) - 1;
  const int keyed = o.alphaBits != 0;
  for (int y = 0; y < s.height; y++) {
    const uint8_t* sp = srcStart + y * srcPitch;
    uint8_t* dp = destStart + y * destPitch;
    for (int x = 0; x < s.width; x++, sp += SrcBytes, dp += DestBytes) {
      const uint32_t v = ReadPixelBytes(sp, SrcBytes);
      uint32_t out = o.base;
      if (o.pairCount) out |= PairPixel(o, v);
      for (int i = 0; i < o.shiftCount; i++) out |= ((v & o.shiftMask[i]) >> o.shiftRight[i]) << o.shiftLeft[i];
      for (int i = 0; i < o.scaleCount; i++) {
        uint32_t c = (v >> o.scaleSrcShift[i]) & o.scaleSrcMax[i];
        out |= ((c * static_cast<uint32_t>(o.scaleMul[i])) >> o.scaleShift[i]) << o.scaleDestShift[i];
      }
#pragma GCC unroll 4
      for (int i = 0; i < dithers; i++) {
        const uint32_t c = (v >> o.ditherSrcShift[i]) & o.ditherSrcMax[i];
        // The sum carries at most one unit out of the dropped bits.
        const uint32_t sum = carry[i] + (c & dropMask[i]);
        uint32_t q = (c >> o.ditherDrop[i]) + (sum >> o.ditherDrop[i]);
        carry[i] = sum & dropMask[i];
        if (q > o.ditherDestMax[i]) q = o.ditherDestMax[i];
        out |= q << o.ditherDestShift[i];
      }
      if (keyed && (v & keyMask) == keyValue) out &= ~o.alphaBits;
      WritePixelBytes(dp, DestBytes, out);
    }
  }
}

void RunCarryLoop(const BltSetup& s, const VectorOps& o, uint8_t* destStart, intptr_t destPitch,
                  const uint8_t* srcStart, intptr_t srcPitch) {
  static const VectorLoopFunc loops[3][2][2] = {
      {{CarryLoop<2, 2, -1>, CarryLoop<2, 2, 3>}, {CarryLoop<2, 4, -1>, CarryLoop<2, 4, 3>}},
      {{CarryLoop<3, 2, -1>, CarryLoop<3, 2, 3>}, {CarryLoop<3, 4, -1>, CarryLoop<3, 4, 3>}},
      {{CarryLoop<4, 2, -1>, CarryLoop<4, 2, 3>}, {CarryLoop<4, 4, -1>, CarryLoop<4, 4, 3>}},
  };
  loops[s.srcBytes - 2][s.destBytes == 4 ? 1 : 0][o.ditherCount == 3 ? 1 : 0](s, o, destStart, destPitch, srcStart,
                                                                              srcPitch);
}

// 8-bit sources through their palette converted once.
void PaletteTableLoop(const BltSetup& s, uint8_t* destStart, intptr_t destPitch, const uint8_t* srcStart,
                      intptr_t srcPitch) {
  uint32_t table[256];
  uint32_t carry[3] = {0, 0, 0};
  for (int i = 0; i < 256; i++) table[i] = ConvertOnePixel(s, static_cast<uint32_t>(i), nullptr, 0, 0, carry);
  intptr_t destStep = s.mirror ? -s.destBytes : s.destBytes;
  for (int y = 0; y < s.height; y++) {
    const uint8_t* sp = srcStart + y * srcPitch;
    uint8_t* dp = destStart + y * destPitch + (s.mirror ? static_cast<intptr_t>(s.width - 1) * s.destBytes : 0);
    if (s.destBytes == 4 && !s.mirror && !s.skipKey) {
      for (int x = 0; x < s.width; x++) memcpy(dp + x * 4, &table[sp[x]], 4);
      continue;
    }
    for (int x = 0; x < s.width; x++, dp += destStep) {
      if (s.skipKey && s.keyMatch[sp[x]]) continue;
      WritePixelBytes(dp, s.destBytes, table[sp[x]]);
    }
  }
}

int PaletteTableFits(const BltSetup& s) {
  if (!s.srcPalette || s.destPalette || s.alphaMode == ALPHA_IMAGE) return 0;
  if (s.reduction == BLT_REDUCE_NONE || s.colorOff) return 1;
  for (int c = 0; c < 3; c++) {
    if (s.destWidth[c] != 0 && s.destWidth[c] < 8) return 0;
  }
  return 1;
}

// Same layout: rows copied as they are.
void SameLayoutCopy(const BltSetup& s, uint8_t* destStart, intptr_t destPitch, const uint8_t* srcStart,
                    intptr_t srcPitch) {
  const int bytes = s.srcBytes;
  for (int y = 0; y < s.height; y++) {
    const uint8_t* sp = srcStart + y * srcPitch;
    uint8_t* dp = destStart + y * destPitch;
    if (!s.mirror && !s.skipKey) {
      memmove(dp, sp, static_cast<size_t>(s.width) * bytes);
      continue;
    }
    intptr_t step = s.mirror ? -bytes : bytes;
    uint8_t* d = dp + (s.mirror ? static_cast<intptr_t>(s.width - 1) * bytes : 0);
    for (int x = 0; x < s.width; x++, d += step) {
      uint32_t v = ReadPixelBytes(sp + x * bytes, bytes);
      if (s.skipKey && IsKeyPixel(s, v)) continue;
      WritePixelBytes(d, bytes, v);
    }
  }
}

// ---- 5-6-5 ------------------------------------------------------------------
// The 16-bit screen format (red 11-15, green 5-10, blue 0-4) to and from
// 32-bit pixels with red in bits 16-23, green 8-15, blue 0-7.

inline int ChannelsAre(const int shift[4], const int width[4], int rs, int rw, int gs, int gw, int bs, int bw) {
  return shift[CH_RED] == rs && width[CH_RED] == rw && shift[CH_GREEN] == gs && width[CH_GREEN] == gw &&
         shift[CH_BLUE] == bs && width[CH_BLUE] == bw;
}

int Plain565Blt(const BltSetup& s) { return !s.srcPalette && !s.destPalette && !s.mirror && !s.skipKey && !s.colorOff; }

// 5-6-5 into byte channels, with full, keyed or no alpha.
int Fits565ToBytes(const BltSetup& s) {
  if (!Plain565Blt(s) || s.srcBytes != 2 || s.destBytes != 4) return 0;
  if (!ChannelsAre(s.srcShift, s.srcWidth, 11, 5, 5, 6, 0, 5) ||
      !ChannelsAre(s.destShift, s.destWidth, 16, 8, 8, 8, 0, 8))
    return 0;
  if (s.alphaMode == ALPHA_NONE) return 1;
  return (s.alphaMode == ALPHA_FULL || s.alphaMode == ALPHA_KEY) && s.destShift[CH_ALPHA] == 24 &&
         s.destWidth[CH_ALPHA] == 8;
}

// Eight pixels a step in 16-bit lanes. Each channel widens as
// (c << a) * k >> 16, which equals ChangeWidth for every value (green: the
// field as it lies, times 8290; red and blue moved to bits 8-12, times
// 2106); the low and high words of the results are interleaved at the end.
void Loop565ToBytes(const BltSetup& s, uint8_t* destStart, intptr_t destPitch, const uint8_t* srcStart,
                    intptr_t srcPitch) {
  const int keyed = s.alphaMode == ALPHA_KEY;
  const uint32_t alpha = s.alphaMode == ALPHA_NONE ? 0 : 0xff000000u;
  const uint32_t base = s.destSpare | alpha;
  const __m128i base0 = _mm_set1_epi16(static_cast<short>(base & 0xffff));
  const __m128i base1 = _mm_set1_epi16(static_cast<short>(base >> 16));
  // Red and blue moved to bits 8-12; green as it lies.
  const __m128i field5 = _mm_set1_epi16(0x1f00), field6 = _mm_set1_epi16(0x07e0);
  const __m128i k5 = _mm_set1_epi16(2106), k6 = _mm_set1_epi16(8290);
  const __m128i keyMask = _mm_set1_epi16(static_cast<short>(s.keyMask)),
                keyValue = _mm_set1_epi16(static_cast<short>(s.keyValue));
  const __m128i alphaByte = _mm_set1_epi16(static_cast<short>(0xff00));
  for (int y = 0; y < s.height; y++) {
    const uint8_t* sp = srcStart + y * srcPitch;
    uint8_t* dp = destStart + y * destPitch;
    int x = 0;
    for (; x + 8 <= s.width; x += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp + x * 2));
      const __m128i b = _mm_mulhi_epu16(_mm_and_si128(_mm_slli_epi16(v, 8), field5), k5);
      const __m128i g = _mm_mulhi_epu16(_mm_and_si128(v, field6), k6);
      const __m128i r = _mm_mulhi_epu16(_mm_and_si128(_mm_srli_epi16(v, 3), field5), k5);
      const __m128i word0 = _mm_or_si128(_mm_or_si128(b, _mm_slli_epi16(g, 8)), base0);
      __m128i word1 = _mm_or_si128(r, base1);
      if (keyed) {
        const __m128i key = _mm_cmpeq_epi16(_mm_and_si128(v, keyMask), keyValue);
        word1 = _mm_andnot_si128(_mm_and_si128(key, alphaByte), word1);
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dp + x * 4), _mm_unpacklo_epi16(word0, word1));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dp + x * 4 + 16), _mm_unpackhi_epi16(word0, word1));
    }
    for (; x < s.width; x++) {
      const uint32_t v = ReadPixelBytes(sp + x * 2, 2);
      uint32_t out = base | (ChangeWidth(v >> 11, 5, 8) << 16) | (ChangeWidth((v >> 5) & 63, 6, 8) << 8) |
                     ChangeWidth(v & 31, 5, 8);
      if (keyed && (v & s.keyMask) == s.keyValue) out &= 0x00ffffffu;
      memcpy(dp + x * 4, &out, 4);
    }
  }
}

// Byte channels into 5-6-5, plain or with ordered dither.
int FitsBytesTo565(const BltSetup& s) {
  if (!Plain565Blt(s) || s.srcBytes != 4 || s.destBytes != 2 || s.alphaMode != ALPHA_NONE) return 0;
  if (s.reduction == BLT_REDUCE_CARRY) return 0;
  return ChannelsAre(s.srcShift, s.srcWidth, 16, 8, 8, 8, 0, 8) &&
         ChannelsAre(s.destShift, s.destWidth, 11, 5, 5, 6, 0, 5);
}

// Ordered dither adds (1 << n) - 1 - threshold to each byte with unsigned
// saturation before the low n bits are dropped: the sum carries into the
// kept bits exactly when the dropped bits exceed the threshold, and a sum
// that saturates gives the channel maximum, as the clamp does.
void BytesTo565Bias(int y, uint8_t bias[16]) {
  for (int x = 0; x < 4; x++) {
    const uint32_t m = static_cast<uint32_t>(kDitherMatrix[(y & 3) * 4 + x]);
    bias[x * 4 + 0] = static_cast<uint8_t>(7 - ((8 * m) >> 4));  // blue, 3 bits dropped
    bias[x * 4 + 1] = static_cast<uint8_t>(3 - ((4 * m) >> 4));  // green, 2 bits dropped
    bias[x * 4 + 2] = static_cast<uint8_t>(7 - ((8 * m) >> 4));  // red
    bias[x * 4 + 3] = 0;
  }
}

// Four pixels: red and blue through one multiply-add of their masked
// bytes, green by a shift; the 16-bit results are offset into the signed
// range so that the saturating pack keeps them.
inline __m128i Pack565Half(__m128i v) {
  const __m128i redBlue = _mm_madd_epi16(_mm_and_si128(v, _mm_set1_epi32(0x00f800f8)), _mm_set1_epi32(0x08000001));
  const __m128i green = _mm_and_si128(_mm_srli_epi32(v, 5), _mm_set1_epi32(0x07e0));
  return _mm_sub_epi32(_mm_or_si128(_mm_srli_epi32(redBlue, 3), green), _mm_set1_epi32(0x8000));
}

template <bool Dither>
void LoopBytesTo565(const BltSetup& s, uint8_t* destStart, intptr_t destPitch, const uint8_t* srcStart,
                    intptr_t srcPitch) {
  const __m128i spare = _mm_set1_epi16(static_cast<short>((s.destSpare & 0xffff) ^ 0x8000));
  for (int y = 0; y < s.height; y++) {
    const uint8_t* sp = srcStart + y * srcPitch;
    uint8_t* dp = destStart + y * destPitch;
    alignas(16) uint8_t bias[16];
    BytesTo565Bias(y, bias);
    const __m128i biasVector = _mm_load_si128(reinterpret_cast<const __m128i*>(bias));
    int x = 0;
    for (; x + 8 <= s.width; x += 8) {
      __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp + x * 4));
      __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp + x * 4 + 16));
      if (Dither) {
        a = _mm_adds_epu8(a, biasVector);
        b = _mm_adds_epu8(b, biasVector);
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dp + x * 2),
                       _mm_xor_si128(_mm_packs_epi32(Pack565Half(a), Pack565Half(b)), spare));
    }
    for (; x < s.width; x++) {
      uint32_t v = ReadPixelBytes(sp + x * 4, 4);
      uint32_t ch[3] = {(v >> 16) & 0xff, (v >> 8) & 0xff, v & 0xff};
      if (Dither) {
        const int i = (x & 3) * 4;
        ch[0] = ch[0] + bias[i + 2] > 255 ? 255 : ch[0] + bias[i + 2];
        ch[1] = ch[1] + bias[i + 1] > 255 ? 255 : ch[1] + bias[i + 1];
        ch[2] = ch[2] + bias[i + 0] > 255 ? 255 : ch[2] + bias[i + 0];
      }
      const uint16_t out = static_cast<uint16_t>(s.destSpare | ((ch[0] >> 3) << 11) | ((ch[1] >> 2) << 5) |
                                                 (ch[2] >> 3));
      memcpy(dp + x * 2, &out, 2);
    }
  }
}

// The same two loops sixteen pixels a step in 256-bit vectors. The packs
// and unpacks work within 128-bit halves, so the halves are put back in
// pixel order before the stores.
__attribute__((target("avx2"))) void Loop565ToBytesWide(const BltSetup& s, uint8_t* destStart, intptr_t destPitch,
                                                        const uint8_t* srcStart, intptr_t srcPitch) {
  const int keyed = s.alphaMode == ALPHA_KEY;
  const uint32_t base = s.destSpare | (s.alphaMode == ALPHA_NONE ? 0 : 0xff000000u);
  const __m256i base0 = _mm256_set1_epi16(static_cast<short>(base & 0xffff));
  const __m256i base1 = _mm256_set1_epi16(static_cast<short>(base >> 16));
  const __m256i field5 = _mm256_set1_epi16(0x1f00), field6 = _mm256_set1_epi16(0x07e0);
  const __m256i k5 = _mm256_set1_epi16(2106), k6 = _mm256_set1_epi16(8290);
  const __m256i keyMask = _mm256_set1_epi16(static_cast<short>(s.keyMask)),
                keyValue = _mm256_set1_epi16(static_cast<short>(s.keyValue));
  const __m256i alphaByte = _mm256_set1_epi16(static_cast<short>(0xff00));
  const int wide = s.width & ~15;
  for (int y = 0; y < s.height; y++) {
    const uint8_t* sp = srcStart + y * srcPitch;
    uint8_t* dp = destStart + y * destPitch;
    for (int x = 0; x < wide; x += 16) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sp + x * 2));
      const __m256i b = _mm256_mulhi_epu16(_mm256_and_si256(_mm256_slli_epi16(v, 8), field5), k5);
      const __m256i g = _mm256_mulhi_epu16(_mm256_and_si256(v, field6), k6);
      const __m256i r = _mm256_mulhi_epu16(_mm256_and_si256(_mm256_srli_epi16(v, 3), field5), k5);
      const __m256i word0 = _mm256_or_si256(_mm256_or_si256(b, _mm256_slli_epi16(g, 8)), base0);
      __m256i word1 = _mm256_or_si256(r, base1);
      if (keyed) {
        const __m256i key = _mm256_cmpeq_epi16(_mm256_and_si256(v, keyMask), keyValue);
        word1 = _mm256_andnot_si256(_mm256_and_si256(key, alphaByte), word1);
      }
      const __m256i low = _mm256_unpacklo_epi16(word0, word1), high = _mm256_unpackhi_epi16(word0, word1);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dp + x * 4), _mm256_permute2x128_si256(low, high, 0x20));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dp + x * 4 + 32), _mm256_permute2x128_si256(low, high, 0x31));
    }
  }
  // The last pixels of each row.
  if (wide < s.width) {
    BltSetup rest = s;
    rest.width = s.width - wide;
    Loop565ToBytes(rest, destStart + static_cast<intptr_t>(wide) * 4, destPitch,
                   srcStart + static_cast<intptr_t>(wide) * 2, srcPitch);
  }
}

// Eight pixels to 5-6-5 in 32-bit lanes, in two multiply-adds: the masked
// bytes give (blue & 0xf8) + (green & 0xfc) * 64 in the low word and
// red & 0xf8 in the high word, which the word multiply-add joins as eight
// times the 5-6-5 value; every term is a multiple of 8, so the shift is
// exact.
__attribute__((target("avx2"))) inline __m256i Pack565HalfWide(__m256i v) {
  const __m256i bytes = _mm256_maddubs_epi16(_mm256_and_si256(v, _mm256_set1_epi32(0x00f8fcf8)),
                                             _mm256_set1_epi32(0x00014001));
  return _mm256_srli_epi32(_mm256_madd_epi16(bytes, _mm256_set1_epi32(0x08000001)), 3);
}

template <bool Dither>
__attribute__((target("avx2"))) void LoopBytesTo565Wide(const BltSetup& s, uint8_t* destStart, intptr_t destPitch,
                                                        const uint8_t* srcStart, intptr_t srcPitch) {
  const __m256i spare = _mm256_set1_epi16(static_cast<short>(s.destSpare & 0xffff));
  const int wide = s.width & ~15;
  for (int y = 0; y < s.height; y++) {
    const uint8_t* sp = srcStart + y * srcPitch;
    uint8_t* dp = destStart + y * destPitch;
    alignas(16) uint8_t bias[16];
    BytesTo565Bias(y, bias);
    const __m128i bias4 = _mm_load_si128(reinterpret_cast<const __m128i*>(bias));
    const __m256i biasVector = _mm256_inserti128_si256(_mm256_castsi128_si256(bias4), bias4, 1);
    for (int x = 0; x < wide; x += 16) {
      __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sp + x * 4));
      __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sp + x * 4 + 32));
      if (Dither) {
        a = _mm256_adds_epu8(a, biasVector);
        b = _mm256_adds_epu8(b, biasVector);
      }
      const __m256i packed = _mm256_packus_epi32(Pack565HalfWide(a), Pack565HalfWide(b));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dp + x * 2),
                          _mm256_or_si256(_mm256_permute4x64_epi64(packed, 0xd8), spare));
    }
  }
  // The last pixels of each row; the dither counts from the rectangle's
  // corner, and 16 is a multiple of its 4-pixel period.
  if (wide < s.width) {
    BltSetup rest = s;
    rest.width = s.width - wide;
    LoopBytesTo565<Dither>(rest, destStart + static_cast<intptr_t>(wide) * 2, destPitch,
                           srcStart + static_cast<intptr_t>(wide) * 4, srcPitch);
  }
}

// ---- Wide-channel path --------------------------------------------------------

void ReadWideChannels(const ColorFormatRecord* f, const uint8_t* p, float out[4]) {
  int n = f->channelCount > 4 ? 4 : f->channelCount;
  float v[4] = {0, 0, 0, 1};
  for (int c = 0; c < n; c++) {
    switch (f->bitsPerChannel) {
      case 8: v[c] = p[c] / 255.0f; break;
      case 16: {
        uint16_t h;
        memcpy(&h, p + c * 2, 2);
        v[c] = f->floatFlag ? HalfFloatToFloat(h) : h / 65535.0f;
        break;
      }
      case 32: {
        uint32_t w;
        memcpy(&w, p + c * 4, 4);
        if (f->floatFlag) {
          memcpy(&v[c], &w, 4);
        } else {
          v[c] = static_cast<float>(w / 4294967295.0);
        }
        break;
      }
      default: break;
    }
  }
  // A single channel reads as grey.
  if (n == 1) v[1] = v[2] = v[0];
  for (int c = 0; c < 4; c++) out[c] = v[c];
}

inline float Clamp01(float f) {
  if (!(f > 0.0f)) return 0.0f;  // also NaN
  return f > 1.0f ? 1.0f : f;
}

uint32_t FloatToChannel(float f, int width) {
  if (width <= 0) return 0;
  double scaled = static_cast<double>(Clamp01(f)) * static_cast<double>(ChannelMax(width));
  if (width < 32) return static_cast<uint32_t>(TruncateDoubleToInt(scaled));
  return static_cast<uint32_t>(static_cast<int64_t>(scaled));
}

void WriteWideChannels(const ColorFormatRecord* f, uint8_t* p, const float v[4]) {
  int n = f->channelCount > 4 ? 4 : f->channelCount;
  for (int c = 0; c < n; c++) {
    switch (f->bitsPerChannel) {
      case 8: p[c] = static_cast<uint8_t>(TruncateFloatToInt(Clamp01(v[c]) * 255.0f)); break;
      case 16: {
        uint16_t h = f->floatFlag ? FloatToHalfFloat(v[c]) : static_cast<uint16_t>(FloatToChannel(v[c], 16));
        memcpy(p + c * 2, &h, 2);
        break;
      }
      case 32: {
        uint32_t w;
        if (f->floatFlag) memcpy(&w, &v[c], 4);
        else w = FloatToChannel(v[c], 32);
        memcpy(p + c * 4, &w, 4);
        break;
      }
      default: break;
    }
  }
}

int WideLoop(const BltSetup& s, uint8_t* destStart, intptr_t destPitch, const uint8_t* srcStart, intptr_t srcPitch,
             const uint8_t* alphaStart) {
  const ColorFormatRecord* sf = s.srcFormat;
  const ColorFormatRecord* df = s.destFormat;
  int srcWide = IsWideChannelFormat(sf);
  int destWide = IsWideChannelFormat(df);
  intptr_t destStep = s.mirror ? -s.destBytes : s.destBytes;
  for (int y = 0; y < s.height; y++) {
    const uint8_t* sp = srcStart + y * srcPitch;
    const uint8_t* ap = alphaStart ? alphaStart + y * static_cast<intptr_t>(s.alphaPitch) : nullptr;
    uint8_t* dp = destStart + y * destPitch + (s.mirror ? static_cast<intptr_t>(s.width - 1) * s.destBytes : 0);
    for (int x = 0; x < s.width; x++, sp += s.srcBytes, dp += destStep) {
      float v[4];
      uint32_t raw = 0;
      if (srcWide) {
        ReadWideChannels(sf, sp, v);
      } else {
        raw = ReadPixelBytes(sp, s.srcBytes);
        if (s.skipKey && IsKeyPixel(s, raw)) continue;
        uint32_t ch[4];
        ReadSourceChannels(s, raw, ch);
        for (int c = 0; c < 4; c++) {
          v[c] = s.srcWidth[c] != 0
                     ? static_cast<float>(static_cast<double>(ch[c]) / static_cast<double>(ChannelMax(s.srcWidth[c])))
                     : 0.0f;
        }
        if (s.srcWidth[CH_ALPHA] == 0) v[CH_ALPHA] = 1.0f;
      }
      float alpha = 1.0f;
      switch (s.alphaMode) {
        case ALPHA_SOURCE: alpha = v[CH_ALPHA]; break;
        case ALPHA_RED: alpha = v[CH_RED]; break;
        case ALPHA_IMAGE: {
          uint32_t a = ReadAlphaImageRed(s, ap + static_cast<intptr_t>(x) * s.alphaBytes, 16);
          alpha = a / 65535.0f;
          break;
        }
        case ALPHA_KEY: alpha = (!srcWide && IsKeyPixel(s, raw)) ? 0.0f : 1.0f; break;
        default: break;
      }
      v[CH_ALPHA] = alpha;
      if (s.colorOff) v[0] = v[1] = v[2] = 0.0f;
      if (destWide) {
        WriteWideChannels(df, dp, v);
      } else if (s.destPalette) {
        WritePixelBytes(dp, 1,
                        MakeFormatPixelFromRGBA(df, static_cast<int>(FloatToChannel(v[0], 8)),
                                                static_cast<int>(FloatToChannel(v[1], 8)),
                                                static_cast<int>(FloatToChannel(v[2], 8)), 0));
      } else {
        uint32_t ch[4];
        for (int c = 0; c < 4; c++) ch[c] = FloatToChannel(v[c], s.destWidth[c]);
        if (s.alphaMode == ALPHA_NONE) ch[CH_ALPHA] = 0;
        WritePixelBytes(dp, s.destBytes, PackDestination(s, ch));
      }
    }
  }
  return 0;
}

int ValidFormat(const ColorFormatRecord* f) {
  if (f == nullptr || f->kind != 0) return 0;
  if (IsWideChannelFormat(f)) {
    return (f->bitsPerChannel == 8 || f->bitsPerChannel == 16 || f->bitsPerChannel == 32) && f->bytesPerPixel != 0;
  }
  return f->bytesPerPixel >= 1 && f->bytesPerPixel <= 4;
}

void SetupChannels(BltSetup* s, const ColorFormatRecord* sf, const ColorFormatRecord* df) {
  if (s->srcPalette) {
    for (int c = 0; c < 3; c++) {
      s->srcMask[c] = 0xff;
      s->srcShift[c] = 0;
      s->srcWidth[c] = 8;
    }
    s->srcMask[CH_ALPHA] = sf->alphaWidth ? 0xff : 0;
    s->srcShift[CH_ALPHA] = 0;
    s->srcWidth[CH_ALPHA] = sf->alphaWidth ? 8 : 0;
  } else {
    const uint32_t masks[4] = {sf->redMask, sf->greenMask, sf->blueMask, sf->alphaMask};
    const int shifts[4] = {sf->redShift, sf->greenShift, sf->blueShift, sf->alphaShift};
    const int widths[4] = {sf->redWidth, sf->greenWidth, sf->blueWidth, sf->alphaWidth};
    // Only the lowest run of a mask with holes belongs to the channel.
    for (int c = 0; c < 4; c++) {
      s->srcShift[c] = shifts[c] > 31 ? 31 : shifts[c];
      s->srcWidth[c] = widths[c] > 32 - s->srcShift[c] ? 32 - s->srcShift[c] : widths[c];
      s->srcMask[c] = masks[c] == 0 ? 0 : (ChannelMax(s->srcWidth[c]) << s->srcShift[c]);
    }
  }
  if (s->destPalette) {
    for (int c = 0; c < 3; c++) {
      s->destShift[c] = 0;
      s->destWidth[c] = 8;
    }
    s->destShift[CH_ALPHA] = 0;
    s->destWidth[CH_ALPHA] = 0;
    s->destSpare = 0;
  } else {
    const int shifts[4] = {df->redShift, df->greenShift, df->blueShift, df->alphaShift};
    const int widths[4] = {df->redWidth, df->greenWidth, df->blueWidth, df->alphaWidth};
    for (int c = 0; c < 4; c++) {
      s->destShift[c] = shifts[c];
      s->destWidth[c] = widths[c] > 32 ? 32 : widths[c];
    }
    s->destSpare = df->spareMask;
  }
}

}  // namespace

void SetConvertColorBltFastPaths(int enable) { FastPathsEnabled = enable != 0; }

// Test seam: 0 keeps the 5-6-5 loops to 128-bit vectors on processors that
// have wider ones, so that both forms can be checked on one machine.
void SetConvertColorBltWideVectors(int enable) { WideVectorsEnabled = enable != 0; }

int ConvertColorBlt(void* destPixels, int destPitch, const ColorFormatRecord* destFormat, const void* srcPixels,
                    int srcPitch, const ColorFormatRecord* srcFormat, const void* alphaPixels, int alphaPitch,
                    const ColorFormatRecord* alphaFormat, int destX, int destY, const RECT* srcRect, int mirror,
                    int keyToAlpha, uint32_t keyColor, int reductionMode, int colorOff, int alphaFromRed, int skipKey,
                    int paletteRemap) {
  if (destPixels == nullptr || srcPixels == nullptr || srcRect == nullptr) return -1;
  int64_t w = static_cast<int64_t>(srcRect->right) - srcRect->left;
  int64_t h = static_cast<int64_t>(srcRect->bottom) - srcRect->top;
  if (w <= 0 || h <= 0 || w > 0x7fffffff || h > 0x7fffffff) return -1;
  if (!ValidFormat(destFormat) || !ValidFormat(srcFormat)) return -1;
  const ColorFormatRecord* sf = srcFormat;
  const ColorFormatRecord* df = destFormat;

  if (mirror) skipKey = 0;
  if (alphaPixels != nullptr) {
    if (alphaFormat == nullptr || alphaFormat->kind != 0 || IsWideChannelFormat(alphaFormat) ||
        alphaFormat->bytesPerPixel < 1 || alphaFormat->bytesPerPixel > 4)
      return -1;
  }

  BltSetup s;
  memset(&s, 0, sizeof(s));
  s.width = static_cast<int>(w);
  s.height = static_cast<int>(h);
  s.srcFormat = sf;
  s.destFormat = df;
  s.srcBytes = sf->bytesPerPixel;
  s.destBytes = df->bytesPerPixel;
  int srcWide = IsWideChannelFormat(sf), destWide = IsWideChannelFormat(df);
  s.srcPalette = !srcWide && s.srcBytes == 1;
  s.destPalette = !destWide && s.destBytes == 1;
  // Unknown reduction modes reduce plainly, whichever loop runs.
  s.reduction = (reductionMode == BLT_REDUCE_ORDERED_DITHER || reductionMode == BLT_REDUCE_CARRY) ? reductionMode
                                                                                                  : BLT_REDUCE_NONE;
  s.colorOff = colorOff != 0;
  s.mirror = mirror != 0;
  s.skipKey = skipKey != 0;
  SetupChannels(&s, sf, df);

  int destHasAlpha = destWide ? df->channelCount >= 4 : (!s.destPalette && df->alphaWidth != 0);
  int srcHasAlpha = srcWide ? sf->channelCount >= 4 : sf->alphaWidth != 0;
  if (!destHasAlpha) s.alphaMode = ALPHA_NONE;
  else if (alphaFromRed) s.alphaMode = ALPHA_RED;
  else if (alphaPixels != nullptr && !srcHasAlpha) s.alphaMode = ALPHA_IMAGE;
  else if (srcHasAlpha) s.alphaMode = ALPHA_SOURCE;
  else if (keyToAlpha) s.alphaMode = ALPHA_KEY;
  else s.alphaMode = ALPHA_FULL;
  if (s.alphaMode != ALPHA_KEY) keyToAlpha = 0;

  if ((keyToAlpha || s.skipKey) && !srcWide) {
    int kr = static_cast<int>((keyColor >> 16) & 0xff), kg = static_cast<int>((keyColor >> 8) & 0xff),
        kb = static_cast<int>(keyColor & 0xff);
    if (s.srcPalette) {
      for (int i = 0; i < 256; i++) {
        s.keyMatch[i] = sf->palette[i][2] == kr && sf->palette[i][1] == kg && sf->palette[i][0] == kb;
      }
    } else {
      s.keyMask = s.srcMask[CH_RED] | s.srcMask[CH_GREEN] | s.srcMask[CH_BLUE];
      s.keyValue = MakeFormatPixelFromRGBA(sf, kr, kg, kb, 0) & s.keyMask;
    }
  } else {
    // Never matches.
    s.keyMask = 0;
    s.keyValue = 1;
  }

  if (s.alphaMode == ALPHA_IMAGE) {
    s.alphaPixels = static_cast<const uint8_t*>(alphaPixels);
    s.alphaPitch = alphaPitch;
    s.alphaBytes = alphaFormat->bytesPerPixel;
    s.alphaFormat = alphaFormat;
    s.alphaRedMask = alphaFormat->redMask;
    s.alphaRedShift = alphaFormat->redShift;
    s.alphaRedWidth = alphaFormat->redWidth;
  }

  uint8_t* destStart = static_cast<uint8_t*>(destPixels) + static_cast<intptr_t>(destY) * destPitch +
                       static_cast<intptr_t>(destX) * s.destBytes;
  const uint8_t* srcStart = static_cast<const uint8_t*>(srcPixels) + static_cast<intptr_t>(srcRect->top) * srcPitch +
                            static_cast<intptr_t>(srcRect->left) * s.srcBytes;
  const uint8_t* alphaStart = s.alphaMode == ALPHA_IMAGE
                                  ? s.alphaPixels + static_cast<intptr_t>(srcRect->top) * alphaPitch +
                                        static_cast<intptr_t>(srcRect->left) * s.alphaBytes
                                  : nullptr;

  // Wide channels, float or integer.
  if (srcWide || destWide || sf->floatFlag || df->floatFlag) {
    return WideLoop(s, destStart, destPitch, srcStart, srcPitch, alphaStart);
  }

  // 8-bit destination.
  if (s.destPalette) {
    if (s.srcPalette && paletteRemap && !s.mirror && memcmp(sf->palette, df->palette, sizeof(sf->palette)) != 0) {
      uint8_t remap[256];
      for (int i = 0; i < 256; i++) {
        remap[i] = static_cast<uint8_t>(
            MakeFormatPixelFromRGBA(df, sf->palette[i][2], sf->palette[i][1], sf->palette[i][0], 0));
      }
      for (int y = 0; y < s.height; y++) {
        const uint8_t* sp = srcStart + static_cast<intptr_t>(y) * srcPitch;
        uint8_t* dp = destStart + static_cast<intptr_t>(y) * destPitch;
        for (int x = 0; x < s.width; x++) dp[x] = remap[sp[x]];
      }
      return 0;
    }
    if (!s.srcPalette) {
      if (s.mirror || alphaFromRed) return -1;
      // Raw channels widened to 8 bits, then the nearest palette entry.
      for (int c = 0; c < 3; c++) s.destWidth[c] = 8;
      s.reduction = BLT_REDUCE_NONE;
      GeneralLoop(s, destStart, destPitch, srcStart, srcPitch, nullptr);
      return 0;
    }
    if (!s.mirror && !s.colorOff && !alphaFromRed && !s.skipKey) {
      int largest = 0;
      for (int y = 0; y < s.height; y++) {
        const uint8_t* sp = srcStart + static_cast<intptr_t>(y) * srcPitch;
        uint8_t* dp = destStart + static_cast<intptr_t>(y) * destPitch;
        memmove(dp, sp, static_cast<size_t>(s.width));
        for (int x = 0; x < s.width; x++) {
          if (sp[x] > largest) largest = sp[x];
        }
      }
      return largest;
    }
  }

  // Same layout.
  if (sf->bitsPerPixel == df->bitsPerPixel && s.srcBytes == s.destBytes && sf->redMask == df->redMask &&
      sf->greenMask == df->greenMask && sf->blueMask == df->blueMask && sf->alphaMask == df->alphaMask && !keyToAlpha &&
      !s.colorOff && !alphaFromRed && alphaPixels == nullptr) {
    SameLayoutCopy(s, destStart, destPitch, srcStart, srcPitch);
    return 0;
  }

  if (FastPathsEnabled) {
    if (PaletteTableFits(s)) {
      PaletteTableLoop(s, destStart, destPitch, srcStart, srcPitch);
      return 0;
    }
    if (Fits565ToBytes(s)) {
      if (HaveWideVectors()) Loop565ToBytesWide(s, destStart, destPitch, srcStart, srcPitch);
      else Loop565ToBytes(s, destStart, destPitch, srcStart, srcPitch);
      return 0;
    }
    if (FitsBytesTo565(s)) {
      const int dither = s.reduction == BLT_REDUCE_ORDERED_DITHER;
      if (HaveWideVectors()) {
        if (dither) LoopBytesTo565Wide<true>(s, destStart, destPitch, srcStart, srcPitch);
        else LoopBytesTo565Wide<false>(s, destStart, destPitch, srcStart, srcPitch);
      } else if (dither) {
        LoopBytesTo565<true>(s, destStart, destPitch, srcStart, srcPitch);
      } else {
        LoopBytesTo565<false>(s, destStart, destPitch, srcStart, srcPitch);
      }
      return 0;
    }
    ByteDitherOps byteDither;
    if (BuildByteDitherOps(s, &byteDither)) {
      RunByteDitherLoop(s, byteDither, destStart, destPitch, srcStart, srcPitch);
      return 0;
    }
    WordOps words;
    if (BuildWordOps(s, &words)) {
      RunWordLoop(s, words, destStart, destPitch, srcStart, srcPitch);
      return 0;
    }
    VectorOps ops;
    if (BuildVectorOps(s, &ops)) {
      if (s.reduction == BLT_REDUCE_CARRY && ops.ditherCount != 0) {
        RunCarryLoop(s, ops, destStart, destPitch, srcStart, srcPitch);
      } else {
        RunVectorLoop(s, ops, destStart, destPitch, srcStart, srcPitch);
      }
      return 0;
    }
    if (TablePathFits(s)) {
      TableLoopFunc loop = PickTableLoop(s.srcBytes, s.destBytes);
      if (loop != nullptr) {
        uint32_t storage[4][1 << kTableMaxWidth];
        ChannelTables tables;
        BuildChannelTables(s, &tables, storage);
        loop(s, tables, destStart, destPitch, srcStart, srcPitch);
        return 0;
      }
    }
  }

  GeneralLoop(s, destStart, destPitch, srcStart, srcPitch, alphaStart);
  return 0;
}
