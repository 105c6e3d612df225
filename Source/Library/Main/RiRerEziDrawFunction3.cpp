// Software renderer: DrawTriangleMemImg (flat-colour and textured triangles
// from palettised, 16-bit and 32-bit direct sources) and DrawQuadMemImg (an
// image on a quadrilateral as two textured triangles).
//
// Each call settles its case once (colour type, source kind, blend mode and
// parameter, mask, tint, source alpha, transparency flag), then runs one
// instantiation of the row walk (WalkTriangleRows) with the shared blend
// kernel (BlendKernel) inside. The triangle spans' own rules:
//   - flat colour: tinted once through the table (c * b / 255), so mode 10
//     inverts the tinted colour; no mask, no transparency test;
//   - textured: no processor-specific forms (mode 3 at 255 is the packed
//     subtract); under the transparency flag an alpha-0 texel is skipped in
//     every mode, mode 4 included, as by the scaled and rotated blits.
// Texels are sampled at U / 2^18, V / 2^18 without centring, wrapping or
// clamping: a pixel whose U or V (unsigned) lies outside the source stays.
//
// Threads: caller's thread; reads MemImgDrawState and the blend tables
// without locks. No platform calls.
#include "RiRerEziDrawFunction3.h"

#include <cstring>

#include "RiRerEzi.h"
#include "RiRerEziDrawFunction.h"
#include "RiRerEziDrawShapePixel.h"
#include "VuViderezaMath.h"

namespace {

// The draw area, kept inside the destination as well (a wider area would
// otherwise write outside the image).
RECT TriangleArea(const MEMIMG* dest) {
  RECT area = MemImgDrawState.drawArea;
  const RECT bounds{0, 0, dest->width, dest->height};
  ClipRect(&area, &bounds);
  return area;
}

struct TriangleTarget {
  TriangleGeometry geometry;
  RECT area;
  uint8_t* pixels;
  int pitch;
};

// --- Flat colour -------------------------------------------------------------

struct FlatTriangleWalk {
  const TriangleTarget& target;
  template <int Bits, class Op>
  void Walk(Op&& op) {
    enum { TEXEL_BYTES = Bits / 8 };
    const TriangleTarget t = target;
    WalkTriangleRows(t.geometry, t.area, 0, [&](const TriangleSpan& s) {
      uint8_t* d = t.pixels + s.y * t.pitch + s.first * TEXEL_BYTES;
      for (int32_t n = TriangleSpanLength(s, t.area.right); n > 0; --n, d += TEXEL_BYTES) op(d);
    });
  }
};

// --- Textured ------------------------------------------------------------------

struct TextureSource {
  const uint8_t* pixels;
  int pitch;
  uint32_t widthFixed;   // width * 2^18
  uint32_t heightFixed;  // height * 2^18
  uint32_t key;          // transparent colour (index for palettised sources)
  const uint8_t* palette;
  const uint8_t* mask;  // mask pixels, or null
  int maskPitch;
};

// Texel fetch: the shared reader, except that a 16-bit palette holds 5-6-5
// words. False: transparent (the raw value or index equals the key).
template <int Bits, unsigned Flags>
inline bool ReadTriangleTexel(const uint8_t* p, const uint8_t* palette, uint32_t key, uint32_t* color,
                              uint32_t* alpha) {
  if ((Flags & BK_PAL) && Bits == 16) {
    const uint32_t index = *p;
    if ((Flags & BK_TRANS) && index == key) return false;
    uint16_t entry;
    std::memcpy(&entry, palette + 2 * index, 2);
    *color = entry;
    return true;
  }
  return SourceTexel<Bits, Flags>::Read(p, reinterpret_cast<const uint32_t*>(palette), key, color, alpha);
}

struct TexturedTriangleVisitor {
  const TriangleTarget& target;
  const TextureSource& source;
  const BlendCall& call;

  template <int Bits, int Mode, unsigned Flags>
  void Run() {
    enum { DEST_BYTES = Bits / 8 };
    enum { SOURCE_BYTES = SourceTexel<Bits, Flags>::TEXEL_BYTES };
    // Local copies: the pixel writes cannot alias them, so nothing is
    // reloaded inside the span loop.
    const TriangleTarget t = target;
    const TextureSource src = source;
    const BlendCall c = call;
    const uint32_t dudx = static_cast<uint32_t>(t.geometry.dudx);
    const uint32_t dvdx = static_cast<uint32_t>(t.geometry.dvdx);
    WalkTriangleRows(t.geometry, t.area, 1, [&](const TriangleSpan& s) {
      uint8_t* d = t.pixels + s.y * t.pitch + s.first * DEST_BYTES;
      uint32_t u = static_cast<uint32_t>(s.u);
      uint32_t v = static_cast<uint32_t>(s.v);
      const uint32_t widthFixed = src.widthFixed, heightFixed = src.heightFixed;
      const uint8_t* const pixels = src.pixels;
      const int pitch = src.pitch;
      for (int32_t n = TriangleSpanLength(s, t.area.right); n > 0; --n, d += DEST_BYTES, u += dudx, v += dvdx) {
        if (u >= widthFixed || v >= heightFixed) continue;
        const uint32_t column = u >> TRIANGLE_FIXED_SHIFT;
        const uint32_t row = v >> TRIANGLE_FIXED_SHIFT;
        uint32_t color, alpha = 0, weight = 0;
        if (!ReadTriangleTexel<Bits, Flags>(pixels + row * pitch + column * SOURCE_BYTES, src.palette, src.key, &color,
                                            &alpha))
          continue;
        if (Flags & BK_MASK) weight = c.ramp[src.mask[row * src.maskPitch + column]];
        BlendKernel<Bits, Mode, Flags>::Draw(d, color, alpha, weight, c);
      }
    });
  }
};

void DrawFlatTriangle(const TriangleTarget& target, int colorType, uint32_t color) {
  FlatBlend blend;
  if (PrepareFlatBlend(&blend, colorType, color, FLAT_TINT_TABLE) < 0) return;
  FlatTriangleWalk walk{target};
  RunFlatBlend(blend, walk);
}

void DrawTexturedTriangle(const TriangleTarget& target, const MEMIMG* src, int transFlag, const MEMIMG* mask) {
  const MemImgHeader* header = src->header;
  const int bits = header->colorType == MEMIMG_COLOR_32 ? 32 : 16;
  if (src->width < 0 || src->height < 0 || src->width > TRIANGLE_COORD_MAX || src->height > TRIANGLE_COORD_MAX) return;
  // The mask is read at texel positions: one smaller than the source would
  // be read past its end.
  if (!MemImgMaskCovers(mask, src)) return;
  const int palettised = header->palettised == 1;
  BlendCall call;
  if (PrepareBlendCall(&call, BLEND_FAMILY_SHARED, palettised) < 0) return;

  TextureSource source;
  source.pixels = src->pixels;
  source.pitch = header->pitch;
  source.widthFixed = static_cast<uint32_t>(src->width) << TRIANGLE_FIXED_SHIFT;
  source.heightFixed = static_cast<uint32_t>(src->height) << TRIANGLE_FIXED_SHIFT;
  source.key = header->transparentColor;
  source.palette = header->palette;
  source.mask = mask != nullptr ? mask->pixels : nullptr;
  source.maskPitch = mask != nullptr ? mask->header->pitch : 0;
  if (palettised && source.palette == nullptr) return;

  unsigned flags = 0;
  if (mask != nullptr) flags |= BK_MASK;
  if (call.tinted) flags |= BK_TINT;
  if (!palettised && header->alphaFlag == 1) flags |= BK_ALPHA;
  if (transFlag != 0) flags |= BK_TRANS;

  TexturedTriangleVisitor visitor{target, source, call};
  const BlendSelection selection{bits, call.mode, flags};
  if (palettised) {
    SelectBlend<BK_TINT | BK_MASK | BK_TRANS, BK_PAL>(selection, visitor);
  } else {
    SelectBlend<BK_TINT | BK_MASK | BK_ALPHA | BK_TRANS, 0u>(selection, visitor);
  }
}

}  // namespace

void DrawTriangleMemImg(MEMIMG* dest, const MEMIMG* src, const TriangleVertex* vertices, int transFlag,
                        const MEMIMG* mask, uint32_t color) {
  if (dest == nullptr || vertices == nullptr) return;
  const MemImgHeader* header = dest->header;
  if (src != nullptr && src->header->colorType != header->colorType) return;
  if (header->palettised == 1 || header->alphaFlag == 1) return;
  if (header->colorType != MEMIMG_COLOR_16 && header->colorType != MEMIMG_COLOR_32) return;

  TriangleTarget target;
  if (!SetUpTriangleGeometry(vertices, src != nullptr, &target.geometry)) return;
  target.area = TriangleArea(dest);
  if (target.area.right <= target.area.left || target.area.bottom <= target.area.top) return;
  target.pixels = dest->pixels;
  target.pitch = header->pitch;

  InvalidateMemImgDerivedData(dest);
  if (src == nullptr) {
    DrawFlatTriangle(target, header->colorType, color);
  } else {
    DrawTexturedTriangle(target, src, transFlag, mask);
  }
}

void DrawQuadMemImg(MEMIMG* dest, const MEMIMG* src, const POINT* corners, int transFlag, const MEMIMG* mask) {
  if (dest == nullptr || src == nullptr || corners == nullptr) return;
  LONG minX = corners[0].x, maxX = corners[0].x, minY = corners[0].y, maxY = corners[0].y;
  for (int i = 1; i < 4; ++i) {
    if (corners[i].x < minX) minX = corners[i].x;
    if (corners[i].x > maxX) maxX = corners[i].x;
    if (corners[i].y < minY) minY = corners[i].y;
    if (corners[i].y > maxY) maxY = corners[i].y;
  }
  // Reject test in 64 bits: the widened box must meet the draw area.
  const RECT& area = MemImgDrawState.drawArea;
  if (area.right <= area.left || area.bottom <= area.top) return;
  if (static_cast<int64_t>(maxX) + 4 <= area.left || static_cast<int64_t>(minX) - 2 >= area.right ||
      static_cast<int64_t>(maxY) + 4 <= area.top || static_cast<int64_t>(minY) - 2 >= area.bottom)
    return;

  const int32_t w = src->width, h = src->height;
  const TriangleVertex q[4] = {
      {corners[0].x, corners[0].y, 0, 0},
      {corners[1].x, corners[1].y, w, 0},
      {corners[2].x, corners[2].y, 0, h},
      {corners[3].x, corners[3].y, w, h},
  };
  DrawTriangleMemImg(dest, src, &q[0], transFlag, mask, 0);
  DrawTriangleMemImg(dest, src, &q[1], transFlag, mask, 0);
}
