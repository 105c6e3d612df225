// The scaled blit (BlitScaledMemImg: nearest-pixel scaling with 16.16
// stepping, mirroring by reversed corners) and the rotated blit
// (BlitRotatedMemImg: inverse mapping with 18-bit fixed point, mirrored
// draws through DrawQuadMemImg). Both walkers gather the sampled texels of a
// destination row (and their mask bytes) and draw them through the shared
// blend rows, so their arithmetic is the kernel's, family rules of the
// scaled and rotated blits (BLEND_FAMILY_SHARED).
// Threads: main thread only, no locks; no state survives a call. Platform:
// SSE2 through the blend rows.
#include <math.h>
#include <string.h>

#include "RiRerEziDrawFunction.h"
#include "RiRerEziDrawFunction3.h"
#include "RiRerEziDrawFunctionRow.h"
#include "VeRavoroString.h"
#include "VuViderezaMath.h"

namespace {

enum { ROW_CHUNK = 512 };  // texels gathered per row piece

uint32_t ScaledPalette[256];

unsigned KernelFlags(const BlendCall& call, const MEMIMG* src, int transFlag, const MEMIMG* mask) {
  const MemImgHeader* h = src->header;
  return (call.tinted ? BK_TINT : 0u) | (mask != nullptr ? BK_MASK : 0u) | (h->alphaFlag ? BK_ALPHA : 0u) |
         (transFlag != 0 ? BK_TRANS : 0u) | (h->palettised ? BK_PAL : 0u);
}

// The destination rectangle both blits clip to: the draw area inside the
// destination's own bounds.
RECT ClipArea(const MEMIMG* dest) {
  RECT bounds = {0, 0, dest->width, dest->height};
  RECT area = MemImgDrawState.drawArea;
  ClipRect(&area, &bounds);
  return area;
}

bool Refused(const MEMIMG* dest, const MEMIMG* src) {
  if (!IsValidMemImg(dest) || !IsValidMemImg(src)) return true;
  const MemImgHeader* dh = dest->header;
  const MemImgHeader* sh = src->header;
  if (sh->colorType != dh->colorType || dh->palettised || dh->alphaFlag) return true;
  return sh->colorType != MEMIMG_COLOR_16 && sh->colorType != MEMIMG_COLOR_32;
}

struct ScaledJob : BlendRowContext {
  uint8_t* dest;  // clipped top-left
  int destPitch;
  const uint8_t* src;  // first sampled source pixel
  int srcColumnStep, srcRowStep;
  const uint8_t* mask;  // its mask byte, or null
  int maskColumnStep, maskRowStep;
  int width, height;  // clipped
  uint32_t ratioX, ratioY;
  int startX, startY;  // start accumulators
};

struct ScaledWalker {
  const ScaledJob* job;
  template <int Bits, int Mode, unsigned F>
  void Run() {
    enum { TEXEL_BYTES = SourceTexel<Bits, F>::TEXEL_BYTES };
    constexpr bool HAS_MASK = (F & BK_MASK) != 0;
    const ScaledJob& j = *job;
    uint8_t texels[ROW_CHUNK * TEXEL_BYTES];
    uint8_t maskBytes[ROW_CHUNK];
    const uint8_t* sRow = j.src;
    const uint8_t* mRow = j.mask;
    const uint8_t* gatheredFrom = nullptr;  // source row of the gathered texels
    uint8_t* dRow = j.dest;
    int accY = j.startY;
    for (int y = 0; y < j.height; y++) {
      const uint8_t* sp = sRow;
      const uint8_t* mp = mRow;
      int accX = j.startX;
      for (int x0 = 0; x0 < j.width; x0 += ROW_CHUNK) {
        int n = j.width - x0 < ROW_CHUNK ? j.width - x0 : ROW_CHUNK;
        // A row of the width of one piece repeats its texels while the
        // source row stays the same.
        if (!(j.width <= ROW_CHUNK && gatheredFrom == sRow)) {
          for (int i = 0; i < n; i++) {
            memcpy(texels + TEXEL_BYTES * i, sp, TEXEL_BYTES);
            if (HAS_MASK) maskBytes[i] = *mp;
            accX -= 65536;
            while (accX <= 0) {
              accX += static_cast<int>(j.ratioX);
              sp += j.srcColumnStep;
              if (HAS_MASK) mp += j.maskColumnStep;
            }
          }
          gatheredFrom = j.width <= ROW_CHUNK ? sRow : nullptr;
        }
        DrawBlendRowWide<Bits, Mode, F>(dRow + (Bits / 8) * x0, texels, HAS_MASK ? maskBytes : nullptr, n, j);
      }
      dRow += j.destPitch;
      accY -= 65536;
      while (accY <= 0) {
        accY += static_cast<int>(j.ratioY);
        sRow += j.srcRowStep;
        if (HAS_MASK) mRow += j.maskRowStep;
      }
    }
  }
};

struct RotatedJob : BlendRowContext {
  uint8_t* dest;  // clipped box top-left
  int destPitch;
  int columns, rows;
  uint32_t u, v;        // at the box's top-left pixel
  uint32_t du, dv;      // per column
  uint32_t rowU, rowV;  // per row
  uint32_t limitU, limitV;
  const MEMIMG* src;
  const MEMIMG* mask;
};

struct RotatedWalker {
  const RotatedJob* job;
  template <int Bits, int Mode, unsigned F>
  void Run() {
    enum { TEXEL_BYTES = SourceTexel<Bits, F>::TEXEL_BYTES };
    constexpr bool HAS_MASK = (F & BK_MASK) != 0;
    const RotatedJob& j = *job;
    const uint8_t* srcBase = j.src->pixels;
    int srcPitch = j.src->header->pitch;
    const uint8_t* maskBase = HAS_MASK ? j.mask->pixels : nullptr;
    int maskPitch = HAS_MASK ? j.mask->header->pitch : 0;
    uint8_t texels[ROW_CHUNK * TEXEL_BYTES];
    uint8_t maskBytes[ROW_CHUNK];
    uint8_t* dRow = j.dest;
    uint32_t rowStartU = j.u, rowStartV = j.v;
    for (int y = 0; y < j.rows; y++) {
      uint32_t u = rowStartU, v = rowStartV;
      int runStart = -1, n = 0;
      for (int x = 0; x <= j.columns; x++) {
        bool inside = x < j.columns && u < j.limitU && v < j.limitV;
        if (inside) {
          if (runStart < 0) runStart = x;
          int col = static_cast<int>(u >> 18), row = static_cast<int>(v >> 18);
          memcpy(texels + TEXEL_BYTES * n,
                 srcBase + static_cast<size_t>(srcPitch) * row + static_cast<size_t>(TEXEL_BYTES) * col, TEXEL_BYTES);
          if (HAS_MASK) maskBytes[n] = maskBase[static_cast<size_t>(maskPitch) * row + col];
          n++;
        }
        if (runStart >= 0 && (!inside || n == ROW_CHUNK)) {
          DrawBlendRow<Bits, Mode, F>(dRow + (Bits / 8) * runStart, texels, HAS_MASK ? maskBytes : nullptr, n, j);
          runStart = inside ? x + 1 : -1;
          n = 0;
        }
        u += j.du;
        v += j.dv;
      }
      rowStartU += j.rowU;
      rowStartV += j.rowV;
      dRow += j.destPitch;
    }
  }
};

// Fix(f): f times 262144, rounded to a float, truncated.
int Fix(float f) { return TruncateFloatToInt(static_cast<float>(f * 262144.0f)); }

}  // namespace

void BlitScaledMemImg(MEMIMG* dest, const MEMIMG* src, const RECT* rect, int transFlag, const MEMIMG* mask) {
  if (rect == nullptr || !IsValidMemImg(dest) || !IsValidMemImg(src)) return;
  if (!MemImgMaskCovers(mask, src)) return;
  int left = rect->left < rect->right ? rect->left : rect->right;
  int right = rect->left < rect->right ? rect->right : rect->left;
  int top = rect->top < rect->bottom ? rect->top : rect->bottom;
  int bottom = rect->top < rect->bottom ? rect->bottom : rect->top;
  int dirX = rect->left > rect->right ? -1 : 1;
  int dirY = rect->top > rect->bottom ? -1 : 1;
  long long wide = static_cast<long long>(right) - left, tall = static_cast<long long>(bottom) - top;
  if (wide == 0 || tall == 0) return;
  if (wide == src->width && tall == src->height && dirX == 1 && dirY == 1) {
    BlitMemImg(dest, src, left, top, transFlag, mask);
    return;
  }
  if (Refused(dest, src)) return;
  // Limits: sizes whose 16.16 products fit, and ratios above 0.
  if (wide >= 32768 || tall >= 32768 || src->width <= 0 || src->height <= 0) return;
  uint32_t ratioX = static_cast<uint32_t>((wide * 65536) / src->width);
  uint32_t ratioY = static_cast<uint32_t>((tall * 65536) / src->height);
  if (ratioX == 0 || ratioY == 0) return;
  const MemImgHeader* sh = src->header;
  BlendCall call;
  if (PrepareBlendCall(&call, BLEND_FAMILY_SHARED, sh->palettised) != 0) return;

  RECT area = ClipArea(dest);
  RECT r = {left, top, right, bottom};
  ClipRect(&r, &area);
  int cx = r.left - left, cy = r.top - top;
  int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return;
  InvalidateMemImgDerivedData(dest);
  int ox = static_cast<int>((static_cast<long long>(cx) * 65536) / ratioX),
      rx = static_cast<int>((static_cast<long long>(cx) * 65536) % ratioX);
  int oy = static_cast<int>((static_cast<long long>(cy) * 65536) / ratioY),
      ry = static_cast<int>((static_cast<long long>(cy) * 65536) % ratioY);
  int column = dirX > 0 ? ox : src->width - ox - 1;
  int row = dirY > 0 ? oy : src->height - oy - 1;
  int srcBytes = MemImgBytesPerPixel(src);

  ScaledJob job;
  job.key = sh->transparentColor;
  job.palette = ScaledPalette;
  job.call = &call;
  job.dest = dest->pixels + static_cast<size_t>(dest->header->pitch) * r.top +
             static_cast<size_t>(MemImgBytesPerPixel(dest)) * r.left;
  job.destPitch = dest->header->pitch;
  job.src = src->pixels + static_cast<ptrdiff_t>(sh->pitch) * row + static_cast<ptrdiff_t>(srcBytes) * column;
  job.srcColumnStep = dirX * srcBytes;
  job.srcRowStep = dirY * sh->pitch;
  job.mask = mask != nullptr ? mask->pixels + static_cast<ptrdiff_t>(mask->header->pitch) * row + column : nullptr;
  job.maskColumnStep = dirX;
  job.maskRowStep = mask != nullptr ? dirY * mask->header->pitch : 0;
  job.width = width;
  job.height = height;
  job.ratioX = ratioX;
  job.ratioY = ratioY;
  job.startX = static_cast<int>(ratioX) - rx;
  job.startY = static_cast<int>(ratioY) - ry;
  if (sh->palettised) CopyPaletteWords(sh, ScaledPalette);

  BlendSelection sel;
  sel.bits = sh->colorType == MEMIMG_COLOR_32 ? 32 : 16;
  sel.mode = call.mode;
  sel.flags = KernelFlags(call, src, transFlag, mask);
  if (sel.bits == 32 && call.mode == 3 && call.param == 255 && !call.tinted && mask == nullptr && !sh->alphaFlag &&
      MmxUsable)
    sel.mode = BLEND_OP_SUB255_MMX;
  ScaledWalker walker = {&job};
  SelectBlend<BK_TINT | BK_MASK | BK_ALPHA | BK_TRANS | BK_PAL, 0>(sel, walker);
}

void BlitRotatedMemImg(MEMIMG* dest, const MEMIMG* src, const RotatedBlit& blit, const MEMIMG* mask) {
  const int centerX = blit.centerX, centerY = blit.centerY, transFlag = blit.transFlag, turnFlag = blit.turnFlag;
  const float angle = blit.angle, scale = blit.scale;
  if (Refused(dest, src) || !MemImgMaskCovers(mask, src)) return;
  // Limits: finite angle and non-zero finite scale; sizes whose 18-bit
  // fixed-point coordinates fit; corners inside 32-bit fixed point. A
  // corner is the centre (x 2^18) plus at most (w + h) / 2 x |scale| pixels
  // (x 2^18); the box adds 4 pixels on each side.
  if (!isfinite(angle) || !isfinite(scale) || fabsf(scale) < 1.0f / 65536.0f) return;
  if (src->width <= 0 || src->height <= 0 || src->width >= 16384 || src->height >= 16384) return;
  const double reach = static_cast<double>(fabsf(scale)) * (static_cast<double>(src->width) + src->height) / 2.0;
  const double limit = 2147483647.0 / 262144.0 - 8.0;
  if (fabs(static_cast<double>(centerX)) + reach >= limit || fabs(static_cast<double>(centerY)) + reach >= limit)
    return;

  float sN, cN, sP, cP;
  SinCosFloat(-angle, &sN, &cN);
  int sinN = Fix(sN), cosN = Fix(cN);
  SinCosFloat(angle, &sP, &cP);
  int sinP = Fix(sP), cosP = Fix(cP);
  float hw = static_cast<float>(static_cast<float>(src->width) * scale * 0.5f);
  float hh = static_cast<float>(static_cast<float>(src->height) * scale * 0.5f);
  float wc = static_cast<float>(hw * static_cast<float>(cosP)), ws = static_cast<float>(hw * static_cast<float>(sinP));
  float hc = static_cast<float>(hh * static_cast<float>(cosP)), hs = static_cast<float>(hh * static_cast<float>(sinP));
  int baseX = centerX * 262144, baseY = centerY * 262144;
  int kx[4] = {
      baseX + TruncateFloatToInt(static_cast<float>(hs - wc)), baseX + TruncateFloatToInt(static_cast<float>(-wc - hs)),
      baseX + TruncateFloatToInt(static_cast<float>(wc - hs)), baseX + TruncateFloatToInt(static_cast<float>(wc + hs))};
  int ky[4] = {
      baseY + TruncateFloatToInt(static_cast<float>(-hc - ws)), baseY + TruncateFloatToInt(static_cast<float>(hc - ws)),
      baseY + TruncateFloatToInt(static_cast<float>(hc + ws)), baseY + TruncateFloatToInt(static_cast<float>(ws - hc))};
  if (turnFlag) {
    // K3, K0, K2, K1 receive the source's top-left, top-right, bottom-left
    // and bottom-right: the left edge lands on the right side.
    const POINT corners[4] = {{kx[3] / 262144, ky[3] / 262144},
                              {kx[0] / 262144, ky[0] / 262144},
                              {kx[2] / 262144, ky[2] / 262144},
                              {kx[1] / 262144, ky[1] / 262144}};
    DrawQuadMemImg(dest, src, corners, transFlag, mask);
    return;
  }
  int minX = kx[0], maxX = kx[0], minY = ky[0], maxY = ky[0];
  for (int i = 1; i < 4; i++) {
    if (kx[i] < minX) minX = kx[i];
    if (kx[i] > maxX) maxX = kx[i];
    if (ky[i] < minY) minY = ky[i];
    if (ky[i] > maxY) maxY = ky[i];
  }
  RECT box = {minX / 262144 - 2, minY / 262144 - 2, maxX / 262144 + 4, maxY / 262144 + 4};
  RECT area = ClipArea(dest);
  ClipRect(&box, &area);
  int columns = box.right - box.left, rows = box.bottom - box.top;
  if (columns <= 0 || rows <= 0) return;
  const MemImgHeader* sh = src->header;
  BlendCall call;
  if (PrepareBlendCall(&call, BLEND_FAMILY_SHARED, sh->palettised) != 0) return;

  InvalidateMemImgDerivedData(dest);
  int du = TruncateFloatToInt(static_cast<float>(static_cast<float>(cosP) / scale));
  int dv = TruncateFloatToInt(static_cast<float>(static_cast<float>(sinN) / scale));
  uint32_t halfW = (static_cast<uint32_t>(src->width) >> 1) << 18, halfH = (static_cast<uint32_t>(src->height) >> 1)
                                                                           << 18;
  auto startU = [&](int y) {
    long long dx = box.left - centerX, dy = y - centerY;
    long long p = dx * cosN - dy * sinN;
    return static_cast<uint32_t>(TruncateFloatToInt(static_cast<float>(static_cast<float>(p) / scale))) + halfW;
  };
  auto startV = [&](int y) {
    long long dx = box.left - centerX, dy = y - centerY;
    long long q = dx * sinN + dy * cosN;
    return static_cast<uint32_t>(TruncateFloatToInt(static_cast<float>(static_cast<float>(q) / scale))) + halfH;
  };
  uint32_t uTop = startU(box.top), vTop = startV(box.top);
  int rowStepU = (static_cast<int>(startU(box.bottom) - uTop)) / rows;
  int rowStepV = (static_cast<int>(startV(box.bottom) - vTop)) / rows;

  static uint32_t RotatedPalette[256];
  RotatedJob job;
  job.key = sh->transparentColor;
  job.palette = RotatedPalette;
  job.call = &call;
  job.dest = dest->pixels + static_cast<size_t>(dest->header->pitch) * box.top +
             static_cast<size_t>(MemImgBytesPerPixel(dest)) * box.left;
  job.destPitch = dest->header->pitch;
  job.columns = columns;
  job.rows = rows;
  job.u = uTop;
  job.v = vTop;
  job.du = static_cast<uint32_t>(du);
  job.dv = static_cast<uint32_t>(dv);
  job.rowU = static_cast<uint32_t>(rowStepU);
  job.rowV = static_cast<uint32_t>(rowStepV);
  job.limitU = static_cast<uint32_t>(src->width) << 18;
  job.limitV = static_cast<uint32_t>(src->height) << 18;
  job.src = src;
  job.mask = mask;
  if (sh->palettised) CopyPaletteWords(sh, RotatedPalette);

  BlendSelection sel;
  sel.bits = sh->colorType == MEMIMG_COLOR_32 ? 32 : 16;
  sel.mode = call.mode;
  sel.flags = KernelFlags(call, src, transFlag, mask);
  RotatedWalker walker = {&job};
  SelectBlend<BK_TINT | BK_MASK | BK_ALPHA | BK_TRANS | BK_PAL, 0>(sel, walker);
}
