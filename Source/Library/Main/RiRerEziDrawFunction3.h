// Software renderer: triangle rasteriser (set-up, edges, row walk with
// clipping) and the textured quadrilateral built on it.
//
// Fixed point: positions, texture coordinates and steps are int32 with 18
// fraction bits; a value becomes a whole pixel by a division rounding toward
// zero (TrianglePixelOf). Vertices sit at pixel centres (x * 2^18 + 2^17).
// Both ends of every row span are drawn, so a shared edge belongs to both
// triangles; the top vertex's row is drawn and the bottom vertex's row is not.
#ifndef RIRER_EZI_DRAW_FUNCTION3_H
#define RIRER_EZI_DRAW_FUNCTION3_H

#include <windows.h>

#include <cstdint>

struct TriangleVertex {
  int32_t x;  // destination column, whole pixels
  int32_t y;  // destination row
  int32_t u;  // source column, whole texels (ignored without a source)
  int32_t v;  // source row
};

struct TriangleEdge {
  int32_t x;      // fixed 18: position on the current row
  int32_t slope;  // fixed 18: added after each row
  int32_t rows;   // rows left in the current segment
  int32_t final;  // 1: no second segment follows
  int32_t nextX;
  int32_t nextSlope;
  int32_t nextRows;
  int32_t nextRow;  // left edge only: row where its second segment starts
};

// Per-call geometry: texture mapping from the reference vertex and both
// edges positioned on the first row.
struct TriangleGeometry {
  int32_t xref, yref;  // reference pixel
  int32_t uref, vref;  // fixed 18
  int32_t dudx, dudy, dvdx, dvdy;
  TriangleEdge left;
  TriangleEdge right;
  int32_t y;  // first row
};

// One clipped row handed to a span loop: `count` pixels from column `first`
// (not yet clipped on the right), U and V at the first pixel.
struct TriangleSpan {
  int32_t y;
  int32_t first;
  int32_t count;
  int32_t u;
  int32_t v;
};

enum : int32_t {
  TRIANGLE_FIXED_SHIFT = 18,
  TRIANGLE_FIXED_ONE = 1 << TRIANGLE_FIXED_SHIFT,
  // Coordinates, texture coordinates, their differences between vertices and
  // source sizes must lie inside this range to keep the fixed point exact.
  TRIANGLE_COORD_MIN = -8192,
  TRIANGLE_COORD_MAX = 8191,
};

inline int32_t TrianglePixelOf(int32_t fixed) {
  return (fixed < 0 ? fixed + (TRIANGLE_FIXED_ONE - 1) : fixed) >> TRIANGLE_FIXED_SHIFT;
}

// Builds the geometry of one triangle. Returns 0 when it draws nothing: the
// vertices lie on one line (or coincide), or a coordinate or a difference
// between two vertices leaves TRIANGLE_COORD_MIN..MAX (refused rather than
// overflowing). `textured` 0 leaves u and v unread.
int SetUpTriangleGeometry(const TriangleVertex* vertices, int textured, TriangleGeometry* geometry);

// Walks the rows of a set-up triangle and calls span(const TriangleSpan&) for
// every row that lies inside `area` (right and bottom exclusive) and holds at
// least one pixel left of area.right. Rows outside are walked, not drawn. The
// span loop itself stops at area.right.
template <class SpanLoop>
inline void WalkTriangleRows(const TriangleGeometry& g, const RECT& area, int textured, SpanLoop&& span) {
  TriangleEdge left = g.left;
  TriangleEdge right = g.right;
  int32_t y = g.y;
  for (;;) {
    TriangleSpan s;
    s.first = TrianglePixelOf(left.x);
    s.count = TrianglePixelOf(right.x) - s.first + 1;
    if (s.first < area.left) {
      s.count -= area.left - s.first;
      s.first = area.left;
    }
    if (y >= area.top && y < area.bottom && s.first < area.right && s.count > 0) {
      s.y = y;
      if (textured) {
        // Wrapping 32-bit arithmetic, recomputed on every row.
        const uint32_t dy = static_cast<uint32_t>(y - g.yref);
        const uint32_t dx = static_cast<uint32_t>(s.first - g.xref);
        s.u = static_cast<int32_t>(static_cast<uint32_t>(g.uref) + dy * static_cast<uint32_t>(g.dudy) +
                                   dx * static_cast<uint32_t>(g.dudx));
        s.v = static_cast<int32_t>(static_cast<uint32_t>(g.vref) + dy * static_cast<uint32_t>(g.dvdy) +
                                   dx * static_cast<uint32_t>(g.dvdx));
      } else {
        s.u = 0;
        s.v = 0;
      }
      span(static_cast<const TriangleSpan&>(s));
    }
    left.x += left.slope;
    right.x += right.slope;
    ++y;
    --left.rows;
    --right.rows;
    if (left.rows <= 0) {
      if (left.final) return;
      left.x = left.nextX;
      left.slope = left.nextSlope;
      left.rows = left.nextRows;
      left.final = 1;
      y = left.nextRow;
    }
    if (right.rows <= 0) {
      if (right.final) return;
      right.x = right.nextX;
      right.slope = right.nextSlope;
      right.rows = right.nextRows;
      right.final = 1;
    }
  }
}

// The pixels a span loop may write: from `first` while the count lasts and
// the column stays below `areaRight`.
inline int32_t TriangleSpanLength(const TriangleSpan& s, int32_t areaRight) {
  const int32_t room = areaRight - s.first;
  return s.count < room ? s.count : room;
}

struct MEMIMG;

// Draws one triangle into `dest` under MemImgDrawState: textured from `src`
// at the vertices' u, v (transparency flag and mask apply), or with the flat
// `colour` (destination format) when `src` is null. Draws nothing when the
// source's colour type differs from the destination's, the destination is
// palettised or has an alpha channel, the triangle has no area or leaves the
// coordinate range, a mask is smaller than the source, or the blend mode
// draws nothing. Clipped to the draw area
// (kept inside the destination).
void DrawTriangleMemImg(MEMIMG* dest, const MEMIMG* src, const TriangleVertex* vertices, int transFlag,
                        const MEMIMG* mask, uint32_t color);

// Draws the whole of `src` onto the quadrilateral whose corners[0..3] receive
// the source's top-left, top-right, bottom-left and bottom-right corners, as
// the triangles (0, 1, 2) and (1, 2, 3). Dropped early when the corners'
// box, widened by 2 left and up and 4 right and down, misses the draw area.
void DrawQuadMemImg(MEMIMG* dest, const MEMIMG* src, const POINT* corners, int transFlag, const MEMIMG* mask);

#endif  // RIRER_EZI_DRAW_FUNCTION3_H
