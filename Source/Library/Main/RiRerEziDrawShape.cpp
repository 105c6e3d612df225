// Software renderer: flat-coloured shapes into software images: rectangle
// fill and whole-image colour fill, lines and line lists, filled circles and
// circle outlines; and the flat-colour tint shared with the flat triangles.
//
// Every drawer settles the colour type, the blend mode with its parameter
// tests and the tint once per call (PrepareFlatBlend), then runs its pixel
// walk with the shared blend kernel's operation for that mode.
//
// Threads: caller's thread; reads MemImgDrawState and the blend tables
// without locks. Platform: none (the filled circle's row flags come from the
// tracked allocator).
#include "RiRerEziDrawShape.h"

#include "RiRerEzi.h"
#include "RiRerEziDrawFunction3.h"
#include "RiRerEziDrawShapePixel.h"
#include "VuViderezaMath.h"
#include "ZiDezaru.h"

namespace {

void* AllocRowFlags(size_t size) { return MemAllocZeroed(size, "RiRerEziDrawFunction3", 1324); }

// The draw area, kept inside the destination image.
RECT ShapeArea(const MEMIMG* dest) {
  RECT area = MemImgDrawState.drawArea;
  const RECT bounds{0, 0, dest->width, dest->height};
  ClipRect(&area, &bounds);
  return area;
}

bool IsEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

}  // namespace

void* (*DiscRowFlagsAlloc)(size_t size) = AllocRowFlags;

uint32_t TintFlatColor(uint32_t color, int bits, uint32_t bright, FlatTint tint) {
  const uint32_t b[3] = {bright & 0xFF, (bright >> 8) & 0xFF, (bright >> 16) & 0xFF};  // blue, green, red
  if (tint == FLAT_TINT_SHIFT && (bright & 0xFFFFFFu) == 0xFFFFFFu) return color;
  auto scale = [&](uint32_t value, int channel) {
    return tint == FLAT_TINT_TABLE ? static_cast<uint32_t>(BlendProductTable[b[channel]][value])
                                   : (value * b[channel]) >> 8;
  };
  if (bits == 32) {
    uint32_t out = color & 0xFF000000u;
    for (int ch = 0; ch < 3; ++ch) out |= scale((color >> (8 * ch)) & 0xFF, ch) << (8 * ch);
    return out;
  }
  const uint32_t r = scale((color >> 11) & 31, 2);
  const uint32_t g = scale((color >> 5) & 63, 1);
  const uint32_t bl = scale(color & 31, 0);
  return (r << 11) | (g << 5) | bl;
}

int PrepareFlatBlend(FlatBlend* blend, int colorType, uint32_t color, FlatTint tint) {
  if (colorType == MEMIMG_COLOR_32) {
    blend->bits = 32;
  } else if (colorType == MEMIMG_COLOR_16) {
    blend->bits = 16;
    color &= 0xFFFFu;
  } else {
    return -1;
  }
  if (PrepareBlendCall(&blend->call, BLEND_FAMILY_SHARED, 0) < 0) return -1;
  blend->color = TintFlatColor(color, blend->bits, MemImgDrawState.drawBright, tint);
  return 0;
}

// --- Rectangle fill ------------------------------------------------------------

namespace {

struct RectWalk {
  uint8_t* first;
  int pitch, width, height;
  template <int Bits, class Op>
  void Walk(Op&& op) {
    enum { TEXEL_BYTES = Bits / 8 };
    uint8_t* row = first;
    for (int y = 0; y < height; ++y, row += pitch) {
      uint8_t* p = row;
      for (int x = 0; x < width; ++x, p += TEXEL_BYTES) op(p);
    }
  }
};

}  // namespace

void FillRectMemImg(MEMIMG* image, const RECT* rect, uint32_t color) {
  if (image == nullptr) return;
  const MemImgHeader* header = image->header;
  if (header->palettised == 1 || header->alphaFlag == 1) return;
  RECT r{0, 0, image->width, image->height};
  if (rect != nullptr) {
    r.left = rect->left < rect->right ? rect->left : rect->right;
    r.right = rect->left < rect->right ? rect->right : rect->left;
    r.top = rect->top < rect->bottom ? rect->top : rect->bottom;
    r.bottom = rect->top < rect->bottom ? rect->bottom : rect->top;
  }
  const RECT area = ShapeArea(image);
  ClipRect(&r, &area);
  if (IsEmpty(r)) return;
  FlatBlend blend;
  if (PrepareFlatBlend(&blend, header->colorType, color, FLAT_TINT_SHIFT) < 0) return;
  InvalidateMemImgDerivedData(image);
  RectWalk walk{image->pixels + r.top * header->pitch + r.left * (blend.bits / 8), header->pitch,
                static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top)};
  RunFlatBlend(blend, walk);
}

void FillMemImgWithColor(MEMIMG* image, uint32_t color) {
  // Mode 0 with white brightness over the image's own bounds is a plain
  // store of the whole pixel value; images with an alpha channel get the
  // value's alpha too.
  if (image == nullptr || image->header->palettised == 1) return;
  FillMemImgRectRaw(image, nullptr, color);
}

// --- Lines ---------------------------------------------------------------------

namespace {

struct LineWalk {
  const LinePath& path;
  uint8_t* first;
  int bytes, pitch;
  template <int Bits, class Op>
  void Walk(Op&& op) {
    StepLine(path, reinterpret_cast<intptr_t>(first), bytes, pitch,
             [&op](intptr_t cursor) { op(reinterpret_cast<uint8_t*>(cursor)); });
  }
};

}  // namespace

void DrawLineMemImg(MEMIMG* dest, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color) {
  // A palettised image has one byte per pixel: never written with pixels.
  if (dest == nullptr || dest->header->palettised == 1) return;
  const RECT area = ShapeArea(dest);
  if (IsEmpty(area)) return;
  LinePath path;
  if (!ClipLineToArea(x1, y1, x2, y2, area, &path)) return;
  FlatBlend blend;
  if (PrepareFlatBlend(&blend, dest->header->colorType, color, FLAT_TINT_SHIFT) < 0) return;
  InvalidateMemImgDerivedData(dest);
  const int bytes = MemImgBytesPerPixel(dest);
  const int pitch = dest->header->pitch;
  LineWalk walk{path, dest->pixels + path.y * pitch + path.x * bytes, bytes, pitch};
  RunFlatBlend(blend, walk);
}

void DrawLineListMemImg(MEMIMG* dest, const MemImgLineRecord* lines, int count) {
  if (lines == nullptr) return;
  for (int i = 0; i < count; ++i)
    DrawLineMemImg(dest, lines[i].x1, lines[i].y1, lines[i].x2, lines[i].y2, lines[i].color);
}

int DrawBoxOutlineMemImg(MEMIMG* dest, int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t color) {
  const uint32_t param = static_cast<uint32_t>(MemImgDrawState.blendParam);
  const MemImgLineRecord lines[4] = {
      {left, top, right - 1, top, color, param},
      {right - 1, top, right - 1, bottom - 1, color, param},
      {right - 1, bottom - 1, left, bottom - 1, color, param},
      {left, bottom - 1, left, top, color, param},
  };
  DrawLineListMemImg(dest, lines, 4);
  return 0;
}

int DrawTriangleMemImg3(MEMIMG* dest, const POINT* points, uint32_t color, int fill, const MEMIMG* blendImage) {
  if (fill == 1) {
    const TriangleVertex v[3] = {
        {points[0].x, points[0].y, 0, 0}, {points[1].x, points[1].y, 0, 0}, {points[2].x, points[2].y, 0, 0}};
    DrawTriangleMemImg(dest, nullptr, v, 0, blendImage, color);
    return 0;
  }
  const uint32_t param = static_cast<uint32_t>(MemImgDrawState.blendParam);
  const MemImgLineRecord lines[3] = {
      {points[0].x, points[0].y, points[1].x, points[1].y, color, param},
      {points[1].x, points[1].y, points[2].x, points[2].y, color, param},
      {points[2].x, points[2].y, points[0].x, points[0].y, color, param},
  };
  DrawLineListMemImg(dest, lines, 3);
  return 0;
}

// --- Circles -------------------------------------------------------------------

namespace {

struct DiscWalk {
  int32_t cx, cy, r;
  const RECT& area;
  unsigned char* rowFlags;
  uint8_t* pixels;
  int bytes, pitch;
  template <int Bits, class Op>
  void Walk(Op&& op) {
    TraceDiscSpans(cx, cy, r, area, rowFlags, [&](int32_t row, int32_t x0, int32_t x1) {
      uint8_t* p = pixels + row * pitch + x0 * bytes;
      for (int32_t x = x0; x <= x1; ++x, p += bytes) op(p);
    });
  }
};

struct OutlineWalk {
  int32_t cx, cy, r;
  const RECT& area;
  uint8_t* pixels;
  int bytes, pitch;
  template <int Bits, class Op>
  void Walk(Op&& op) {
    TraceCircleOutline(cx, cy, r, area, [&](int32_t x, int32_t y) { op(pixels + y * pitch + x * bytes); });
  }
};

}  // namespace

void DrawCircleMemImg(MEMIMG* dest, int32_t cx, int32_t cy, int32_t r, uint32_t color, int fill) {
  if (dest == nullptr || dest->header->palettised == 1) return;
  const RECT area = ShapeArea(dest);
  if (IsEmpty(area)) return;
  const int bytes = MemImgBytesPerPixel(dest);
  const int pitch = dest->header->pitch;
  FlatBlend blend;
  if (fill == 0) {
    if (PrepareFlatBlend(&blend, dest->header->colorType, color, FLAT_TINT_SHIFT) < 0) return;
    InvalidateMemImgDerivedData(dest);
    OutlineWalk walk{cx, cy, r, area, dest->pixels, bytes, pitch};
    RunFlatBlend(blend, walk);
    return;
  }
  if (r < 0) return;
  unsigned char* rowFlags = static_cast<unsigned char*>(DiscRowFlagsAlloc(static_cast<size_t>(area.bottom)));
  if (rowFlags == nullptr) return;
  if (PrepareFlatBlend(&blend, dest->header->colorType, color, FLAT_TINT_SHIFT) == 0) {
    InvalidateMemImgDerivedData(dest);
    DiscWalk walk{cx, cy, r, area, rowFlags, dest->pixels, bytes, pitch};
    RunFlatBlend(blend, walk);
  }
  MemFree(rowFlags);
}
