// Drawing helpers beside the draw calls: the whole-graphic colour fill, the
// texture-size division, and the software path of the draw calls (the glue
// from each draw to its software renderer routine, always into the software
// draw destination with the software blend image).
#ifndef VUVIDEREZA_DRAW_SOFT_H
#define VUVIDEREZA_DRAW_SOFT_H

#include <windows.h>
#include <stdint.h>

#include "RiRerEzi.h"

struct GraphicHandleRecord;

// The blend graphic's one-byte weight image while one is set (SetBlendGraph
// in software mode), else null; the image routines take it as their mask.
extern MEMIMG* SoftwareBlendImage;
// Frees that image (graphics end; SetBlendGraph makes it anew).
void ReleaseSoftwareBlendMask();

// Fills the whole graphic with one colour (components clamped to 0..255):
// software graphics through the rectangle fill, render-target textures
// through the device colour fill (on the main thread when `fromWorker`);
// other textures stay unchanged. 0, or -1 for a bad handle / no device.
int FillGraphWithColor(int handle, int red, int green, int blue, int alpha, int fromWorker);

// Software glue: 0 whatever the renderer does (it refuses silently).
int SoftBlitImageAt(int x, int y, int transFlag, GraphicHandleRecord* graph);
int SoftBlitImageStretched(int x1, int y1, int x2, int y2, GraphicHandleRecord* graph, int transFlag);
// Centre truncated toward zero.
int SoftBlitImageRotated(float x, float y, double scale, double angle, GraphicHandleRecord* graph, int transFlag,
                         int turnFlag);
// Corners top-left, top-right, bottom-left, bottom-right.
int SoftDrawImageQuad(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                      GraphicHandleRecord* graph, int transFlag);
int SoftDrawImageQuadInt(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4, GraphicHandleRecord* graph,
                         int transFlag);
int SoftFillBox(int x1, int y1, int x2, int y2, uint32_t color);
int SoftDrawCircle(int x, int y, int r, uint32_t color, int fill);
// Ring of thickness t about radius r as horizontal spans; -1 for t <= 0 or
// when the span table cannot be had.
int SoftDrawRing(int x, int y, int r, uint32_t color, int thickness);
// Box (left, top) to (right - 1, bottom - 1) as four lines; triangle filled
// flat (fill 1) or as three lines. Both 0.
int SoftDrawBoxOutline(int left, int top, int right, int bottom, uint32_t color);
int SoftDrawTriangle(const POINT* points, uint32_t color, int fill);

#endif  // VUVIDEREZA_DRAW_SOFT_H
