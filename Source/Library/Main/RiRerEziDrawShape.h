// Software renderer: flat-coloured shapes (rectangle fill, lines and line
// lists, filled circles and circle outlines) and their geometry.
//
// Geometry is half-open: the draw area and rectangles include their left
// column and top row and exclude right and bottom; a line includes its first
// end point and excludes its second. The draw area is the only clip.
#ifndef RIRER_EZI_DRAW_SHAPE_H
#define RIRER_EZI_DRAW_SHAPE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>

struct MemImgLineRecord {
  int32_t x1, y1;  // first end point, drawn
  int32_t x2, y2;  // second end point, not drawn
  uint32_t color;  // pixel value in the destination's format
  uint32_t param;  // blend parameter when the list was built; not read here
};

// ---------------------------------------------------------------------------
// Line geometry

// A clipped line ready for stepping: n pixels along the major axis from
// (x, y); pixel k lies at major offset k and minor offset floor(k * m / n).
struct LinePath {
  int32_t x, y;    // first pixel (clipped)
  int32_t n;       // major extent: pixels drawn
  int32_t m;       // minor extent
  int32_t sx, sy;  // -1 or +1
  int32_t xMajor;  // 1 when |dx| >= |dy|
};

// Rejects, clips and measures the line (x1, y1) -> (x2, y2) against `area`.
// Returns 0 when nothing is drawn (bounding box misses the area, or a single
// point after clipping).
int ClipLineToArea(int32_t x1, int32_t y1, int32_t x2, int32_t y2, const RECT& area, LinePath* path);

// Integer stepping. `cursor` starts at the first pixel; the steps are what a
// move of one along x and along y adds (byte offsets for an image, or any
// linear encoding). plot(cursor) is called n times.
template <class Cursor, class Plot>
inline void StepLine(const LinePath& path, Cursor cursor, intptr_t stepX, intptr_t stepY, Plot&& plot) {
  const intptr_t major = path.xMajor ? stepX * path.sx : stepY * path.sy;
  const intptr_t minor = path.xMajor ? stepY * path.sy : stepX * path.sx;
  int32_t e = 0;
  for (int32_t k = path.n; k > 0; --k) {
    plot(cursor);
    e += path.m;
    cursor += major;
    if (e >= path.n) {
      cursor += minor;
      e -= path.n;
    }
  }
}

// ---------------------------------------------------------------------------
// Circle geometry (midpoint method, decision value 3 - 2r)

// Spans of a filled disc, each clipped to `area` and handed over once per row
// as span(row, x0, x1) with x0 <= x1 inclusive. `rowFlags` holds one zeroed
// byte per row 0..area.bottom-1; a row is drawn at most once.
template <class Span>
inline void TraceDiscSpans(int32_t cx, int32_t cy, int32_t r, const RECT& area, unsigned char* rowFlags, Span&& span) {
  if (area.right <= area.left || area.bottom <= area.top) return;
  const int32_t left = area.left, top = area.top, right = area.right - 1, bottom = area.bottom - 1;
  auto one = [&](int32_t row, int32_t x0, int32_t x1) {
    if (row < top || row > bottom) return;
    if (x1 < left || x0 > right) return;
    if (rowFlags[row]) return;
    rowFlags[row] = 1;
    span(row, x0 < left ? left : x0, x1 > right ? right : x1);
  };
  int32_t x = 0, y = r, d = 3 - 2 * r;
  while (y >= x) {
    one(cy + x, cx - y, cx + y);
    one(cy - x, cx - y, cx + y);
    if (d >= 0) {
      one(cy + y, cx - x, cx + x);
      one(cy - y, cx - x, cx + x);
      d += 4 * (x - y) + 10;
      --y;
    } else {
      d += 4 * x + 6;
    }
    ++x;
  }
}

// Points of a one-pixel outline in plot order, each tested against `area`
// by itself: plot(x, y) for the visible ones. Points where the octants meet
// are plotted twice, as the trace visits them.
template <class Plot>
inline void TraceCircleOutline(int32_t cx, int32_t cy, int32_t r, const RECT& area, Plot&& plot) {
  if (area.right <= area.left || area.bottom <= area.top) return;
  const uint32_t spanX = static_cast<uint32_t>(area.right - 1 - area.left);
  const uint32_t spanY = static_cast<uint32_t>(area.bottom - 1 - area.top);
  auto point = [&](int32_t px, int32_t py) {
    if (static_cast<uint32_t>(px - area.left) <= spanX && static_cast<uint32_t>(py - area.top) <= spanY) plot(px, py);
  };
  point(cx - r, cy);
  point(cx + r, cy);
  point(cx, cy + r);
  point(cx, cy - r);
  int32_t i = 0, y = r, d = 3 - 2 * r;
  for (;;) {
    if (d >= 0) {
      --y;
      d -= 4 * y;
    }
    d += 4 * i + 6;
    ++i;
    if (y < i) return;
    point(cx - y, cy + i);
    point(cx + y, cy + i);
    point(cx - y, cy - i);
    point(cx + y, cy - i);
    point(cx - i, cy + y);
    point(cx + i, cy + y);
    point(cx - i, cy - y);
    point(cx + i, cy - y);
  }
}

// ---------------------------------------------------------------------------
// Drawers. Each reads MemImgDrawState (draw area, blend mode and parameter,
// brightness) at the call, tints the colour once (c * b / 256, none for
// white) and applies the blend mode to every covered pixel; a colour type
// other than 0 or 1, a palettised image, modes 5-9 or outside 0-11, and
// parameter 0 in modes 1-3 draw nothing. Colours are pixel values of the destination's format. The
// draw area is further kept inside the destination image.

struct MEMIMG;

// Fills `rect` (left, top, right, bottom in any order; null = the whole
// image). Palettised or alpha-flagged images are left unchanged.
void FillRectMemImg(MEMIMG* image, const RECT* rect, uint32_t color);
// Whole-image colour fill: the image's own bounds in mode 0 with white
// brightness, whatever the draw state (the whole pixel value is stored, an
// alpha channel included). Palettised images are left unchanged.
void FillMemImgWithColor(MEMIMG* image, uint32_t color);
// Line from (x1, y1), drawn, to (x2, y2), not drawn.
void DrawLineMemImg(MEMIMG* dest, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color);
// The records' lines one after the other; count <= 0 draws nothing.
void DrawLineListMemImg(MEMIMG* dest, const MemImgLineRecord* lines, int count);
// Circle of radius r about (cx, cy): a filled disc (fill != 0, each pixel
// changed once; a negative r or a failed work allocation draws nothing) or a
// one-pixel outline (fill 0, each traced point changed once per plot).
void DrawCircleMemImg(MEMIMG* dest, int32_t cx, int32_t cy, int32_t r, uint32_t color, int fill);

// Software paths of the box-outline and triangle shapes, drawn into `dest`
// (the caller's software draw target). The box (left, top) to (right - 1,
// bottom - 1) is four line records, each border pixel changed once; the
// triangle is filled flat (fill 1; `blendImage` is passed as the mask) or
// drawn as three line records V1-V2, V2-V3, V3-V1. Both return 0.
int DrawBoxOutlineMemImg(MEMIMG* dest, int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t color);
int DrawTriangleMemImg3(MEMIMG* dest, const POINT* points, uint32_t color, int fill, const MEMIMG* blendImage);

// Allocation of the filled circle's row flags (zero-filled); replaceable to
// reach the refusal when memory runs out.
extern void* (*DiscRowFlagsAlloc)(size_t size);

#endif  // RIRER_EZI_DRAW_SHAPE_H
