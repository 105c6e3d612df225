// Shapes (boxes, circles, rings, triangles), clearing the draw target, and
// the quad and vertex-list draws: the public calls with their entry frame,
// the Direct3D drawers and the shared ring-span table.
#ifndef VUVIDEREZA_SHAPE_H
#define VUVIDEREZA_SHAPE_H

#include <windows.h>
#include <stdint.h>

#include "VuViderezaDraw.h"
#include "RiDov.h"

// One scan line of a ring: outer and inner edges and which are set.
struct RingSpan {
  int16_t outerLeft, outerRight, innerLeft, innerRight, flags;
};
enum {
  RING_OUTER_LEFT = 1,
  RING_OUTER_RIGHT = 2,
  RING_INNER_LEFT = 4,
  RING_INNER_RIGHT = 8,
};

// The work block shared by the ring drawers and the filled circle (it only
// grows), zeroed over `lines` entries; null when it cannot be had.
RingSpan* GetRingSpanTable(int lines);
// Frees the span block and the shape vertex buffer (graphics end); the
// next circle or ring takes them anew.
void FreeCircleWorkBuffers();
// Fills the table for the ring about (cx, cy): outer radius r + t / 2, inner
// radius r - t / 2 (+ 1 for an even t), rows inside the draw area only.
int BuildRingSpans(int thickness, int r, int cy, int cx, RingSpan* table);

// The one-pixel outline's points, each once, in the midpoint stepping's order.
void ForEachCircleOutlinePoint(int x, int y, int r, void (*plot)(int px, int py, void* context), void* context);

// The destination copy of a texture render-target draw target: in use, and
// the reciprocal size of its work surface.
struct DestCopyScale {
  int active;
  float invWidth, invHeight;
};
DestCopyScale CurrentDestCopy();
// A rectangle with each edge moved into the draw area.
RECT ClampRectToDrawArea(RECT r);

// Public shape calls (x2 and y2 exclusive).
int DrawFilledBoxShape(int x1, int y1, int x2, int y2, unsigned int color);
int DrawBoxOutlineShape(int x1, int y1, int x2, int y2, unsigned int color);

// Direct3D drawers: 0 when drawn (also when nothing was visible), -1
// without a device. dest: the rectangle the destination copy covers.
int DrawFilledBoxHW(int x1, int y1, int x2, int y2, unsigned int color, const RECT& dest);
int DrawBoxOutlineHW(int x1, int y1, int x2, int y2, unsigned int color, const RECT& dest);
int G_D3D_DrawCircle(int x, int y, int r, unsigned int color, int fill, const RECT& dest);
int DrawRingHW(int x, int y, int r, unsigned int color, int thickness, const RECT& dest);
// A triangle: corners, colour, filled or outlined.
struct TriangleShape {
  int x1, y1, x2, y2, x3, y3;
  unsigned int color;
  int fill;
};
int DrawTriangleHW(const TriangleShape& triangle, const RECT& dest);
// The shape vertex colour: colour times the draw brightness, alpha of the
// vertex diffuse colour.
uint32_t MakeShapeVertexColor(unsigned int color);

// A graphic mapped onto a quad, corners in the public order: top-left,
// top-right, bottom-right, bottom-left.
struct ImageQuadRequest {
  int handle;
  float x[4], y[4];
  int trans;
};
int DrawImageQuadCore(const ImageQuadRequest& quad);
// Vertex lists of 28-byte vertices (x, y, z, rhw, colour, u, v); handle -5
// draws without a graphic. Primitive types as Direct3D's. dest: the
// rectangle the destination copy covers.
int DrawVertex2DPrimitiveHW(const void* vertices, int count, int type, struct GraphicHandleRecord* record, int trans,
                            const RECT& dest);
// Frees the vertex lists' work copy (graphics end).
void FreeVertexListWork();
// 36-byte vertices with a graphic or shadow map; quadMode gives each group
// of six the first piece's texture coordinates (left and right exchanged
// with turn).
int DrawVertex2DPrimitiveWithGraph(const void* vertices, int count, int type, int handle, int trans, int quadMode,
                                   int turn);

#endif  // VUVIDEREZA_SHAPE_H
