// The point blit BlitMemImg (refusals, clipping, source / destination / mask
// walks, scratch palette, general and run-coded paths) and the set-up of the
// shared blend kernel (PrepareBlendCall). Each case runs one loop that
// instantiates BlendKernel for its mode and options; the frequent 32-bit
// cases have SSE2 rows with the kernel's exact results (the MMX loop forms
// included), alpha sources AVX2 rows where Avx2Usable, checked against the
// plain rows by the tests.
// Threads: main thread only; the scratch palette is static. Platform: SSE2
// intrinsics.
#include "RiRerEziDrawFunction.h"
#include "RiRerEziDrawFunctionRow.h"

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

struct PointJob : BlendRowContext {
  uint8_t* dest;
  int destPitch;
  const uint8_t* src;
  int srcPitch;
  const uint8_t* mask;
  int maskPitch;
  int width, height;
  const uint8_t* runs;
};

struct GeneralWalker {
  const PointJob* job;
  template <int Bits, int Mode, unsigned F>
  void Run() {
    const PointJob& j = *job;
    uint8_t* d = j.dest;
    const uint8_t* s = j.src;
    const uint8_t* m = j.mask;
    if (blendrow::SpanRow<Bits, Mode, F>::Avx2Block(d, j.destPitch, s, j.srcPitch, j.width, j.height, j)) return;
    for (int y = 0; y < j.height; y++) {
      blendrow::SpanRow<Bits, Mode, F>::Row(d, s, m, j.width, j);
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
    enum : unsigned { SPAN_FLAGS = (F & BK_ALPHA) ? (F | BK_TRANS) : (F & ~BK_TRANS) };
    using Row = blendrow::SpanRow<Bits, Mode, SPAN_FLAGS>;
    const PointJob& j = *job;
    enum { SRC_BYTES = SourceTexel<Bits, SPAN_FLAGS>::TEXEL_BYTES };
    enum { DEST_BYTES = Bits / 8 };
    constexpr bool OPAQUE_COPY = Bits == 32 && Mode == 0 && !(F & (BK_TINT | BK_MASK | BK_PAL));
    constexpr bool MERGE_RUNS = (F & BK_ALPHA) && !(F & (BK_TINT | BK_MASK)) &&
                                (Bits == 32 ? (Mode == 0 || Mode == 1 || Mode == 2) : (Mode == 0 || Mode == 1));
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
        if (MERGE_RUNS && kind != 0) {
          // Alpha sources: consecutive drawn runs become one span; the
          // span's alpha gating agrees with the run kinds.
          int end = x + count;
          while ((*code >> 6) == 1 || (*code >> 6) == 2) {
            int more = (*code & 0x3F) + 1;
            if (end + more > j.width) break;
            end += more;
            code++;
          }
          uint8_t* d = dLine + DEST_BYTES * x;
          const uint8_t* s = sLine + SRC_BYTES * x;
          if (!Row::Avx2Block(d, 0, s, 0, end - x, 1, j))
            Row::Row(d, s, (F & BK_MASK) ? mLine + x : nullptr, end - x, j);
          x = end;
          continue;
        }
        if (kind != 0 && count > 0) {
          uint8_t* d = dLine + DEST_BYTES * x;
          const uint8_t* s = sLine + SRC_BYTES * x;
          // Opaque runs of an untinted, unmasked copy: the source pixels as they are.
          if (OPAQUE_COPY && kind == 1) blendrow::CopyWords(d, s, count);
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
  if (!MemImgMaskCovers(mask, src)) return;

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

  // The destination's run data no longer describe its pixels.
  InvalidateMemImgDerivedData(dest);
  int offsetX = r.left - x, offsetY = r.top - y;
  PointJob job;
  int srcBytes = MemImgBytesPerPixel(src);
  int destBytes = MemImgBytesPerPixel(dest);
  job.dest = dest->pixels + static_cast<size_t>(dh->pitch) * r.top + static_cast<size_t>(destBytes) * r.left;
  job.destPitch = dh->pitch;
  job.src = src->pixels + static_cast<size_t>(sh->pitch) * offsetY + static_cast<size_t>(srcBytes) * offsetX;
  job.srcPitch = sh->pitch;
  job.mask = mask != nullptr ? mask->pixels + static_cast<size_t>(mask->header->pitch) * offsetY + offsetX : nullptr;
  job.maskPitch = mask != nullptr ? mask->header->pitch : 0;
  job.width = width;
  job.height = height;
  job.key = sh->transparentColor;
  job.palette = ScratchPalette;
  job.runs = sh->runStream;
  job.call = &call;
  if (sh->palettised) CopyPaletteWords(sh, ScratchPalette);

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
