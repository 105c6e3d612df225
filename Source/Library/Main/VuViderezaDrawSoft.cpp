// Drawing helpers and the software path of the draw calls: the whole-graphic
// colour fill, the texture-size division, the glue from each draw call to
// its software renderer routine (point, scaled and rotated blits, textured
// quads, rectangle fill, circles, rings, box outline, triangles, clear).
// Threads: main thread (the colour fill of a render-target graphic may be
// asked for by a loading worker; the device fill is then posted).
// Platform: IDirect3DDevice9::ColorFill through the device call table.
#include "VuViderezaDrawSoft.h"

#include <math.h>

#include "RiRerEziDrawFunction.h"
#include "RiRerEziDrawFunction3.h"
#include "RiRerEziDrawShape.h"
#include "RiDov.h"
#include "VeRavoroString.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VuViderezaShape.h"

MEMIMG* SoftwareBlendImage = nullptr;

namespace {

int ClampByte(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

int DeviceMaxTextureSide() {
  const int w = DeviceCaps.maxTextureWidth, h = DeviceCaps.maxTextureHeight;
  const int side = w < h ? w : h;
  return side > 0 ? side : 256;
}

// The software draw destination, or null outside software drawing.
MEMIMG* SoftDest() { return IsValidMemImg(SoftwareDrawTarget) ? SoftwareDrawTarget : nullptr; }

}  // namespace

// ---------------------------------------------------------------------------
// Texture-size division.

int DivideSizeIntoTextureSizes(int length, int limit, uint16_t* lengths, int single, int pow2) {
  const int limitGiven = limit > 0;
  if (!limitGiven) limit = DeviceMaxTextureSide();
  int n = length;
  auto one = [&](int size) {
    if (lengths != nullptr) lengths[0] = static_cast<uint16_t>(size);
    return 1;
  };
  if (n < 1) return one(1);
  if (!pow2 && (!DeviceCaps.powerOfTwoRequired || DeviceCaps.nonPowerOfTwoConditional) && n <= limit) return one(n);
  if (n < 2) return one(1);
  int p = limit;
  while (p > n && p > 1) p >>= 1;
  const int screenWidth = Screen.width > 0 ? Screen.width : 640;
  if ((single || (!limitGiven && n <= screenWidth)) && 2 * p <= limit) return one(p < n ? 2 * p : p);
  int count = 0, last = 0, beforeLast = 0;
  for (;;) {
    beforeLast = last;
    last = p;
    if (lengths != nullptr) lengths[count] = static_cast<uint16_t>(p);
    count++;
    n -= p;
    if (n < 1) break;
    if (n > 3 * p / 4 && p < limit) {
      last = 2 * p;
      if (lengths != nullptr) lengths[count - 1] = static_cast<uint16_t>(last);
      break;
    }
    while (p > n && p > 1) p >>= 1;
  }
  if (count >= 2 && last == beforeLast && 2 * last <= limit) {
    count--;
    if (lengths != nullptr) lengths[count - 1] = static_cast<uint16_t>(2 * last);
  }
  return count;
}

// ---------------------------------------------------------------------------
// Whole-graphic fill.

int FillGraphWithColor(int handle, int red, int green, int blue, int alpha, int fromWorker) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, fromWorker ? 1 : 0);
  if (record == nullptr || record->image == nullptr) return -1;
  red = ClampByte(red);
  green = ClampByte(green);
  blue = ClampByte(blue);
  alpha = ClampByte(alpha);
  if (!record->image->format.textureBacked) {
    MEMIMG* image = GetGraphicMemImg(record);
    if (image == nullptr) return -1;
    const ColorFormatRecord* format = image->header->colorFormat;
    uint32_t color = MakeColorValue(red, green, blue);
    if (format->alphaWidth != 0)
      color = (color & ~format->alphaMask) |
              ((static_cast<uint32_t>(alpha) >> (8 - format->alphaWidth)) << format->alphaShift);
    FillMemImgWithColor(image, color);
    return 0;
  }
  if (!HasDirect3DDevice()) return -1;
  if (!record->image->format.drawable) return 0;
  const D3DCOLOR color = static_cast<D3DCOLOR>(alpha) << 24 | static_cast<D3DCOLOR>(red) << 16 |
                         static_cast<D3DCOLOR>(green) << 8 | static_cast<D3DCOLOR>(blue);
  for (int i = 0; i < record->pieceCount; i++) {
    const GraphPiece& piece = record->pieces[i];
    if (piece.entry == nullptr || piece.entry->faces[0] == nullptr) continue;
    const RECT rect = {piece.texX, piece.texY, piece.texX + piece.width, piece.texY + piece.height};
    ColorFillDeviceSurfaceOnMainThread(piece.entry->faces[0], &rect, color, fromWorker);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Software glue.

int SoftBlitImageAt(int x, int y, int transFlag, GraphicHandleRecord* graph) {
  MEMIMG* dest = SoftDest();
  MEMIMG* src = GetGraphicMemImg(graph);
  if (dest != nullptr && src != nullptr) BlitMemImg(dest, src, x, y, transFlag, SoftwareBlendImage);
  return 0;
}

int SoftBlitImageStretched(int x1, int y1, int x2, int y2, GraphicHandleRecord* graph, int transFlag) {
  MEMIMG* dest = SoftDest();
  MEMIMG* src = GetGraphicMemImg(graph);
  const RECT rect = {x1, y1, x2, y2};
  if (dest != nullptr && src != nullptr) BlitScaledMemImg(dest, src, &rect, transFlag, SoftwareBlendImage);
  return 0;
}

int SoftBlitImageRotated(float x, float y, double scale, double angle, GraphicHandleRecord* graph, int transFlag,
                         int turnFlag) {
  MEMIMG* dest = SoftDest();
  MEMIMG* src = GetGraphicMemImg(graph);
  if (dest == nullptr || src == nullptr) return 0;
  int cx = TruncateFloatToInt(x), cy = TruncateFloatToInt(y);
  if (turnFlag) {
    // The renderer's mirrored draw lands one pixel further along the
    // image's turned x axis than the mirror of its plain draw; the Direct3D
    // path mirrors in place, so the centre moves back by that pixel.
    cx -= static_cast<int>(lround(cos(angle)));
    cy -= static_cast<int>(lround(sin(angle)));
  } else {
    // The renderer maps each pixel's corner back into the image, Direct3D
    // the pixel's centre; turned by the angle, that half pixel moves the
    // texel hit by up to a whole one. The centre moves by the rounded
    // difference, half the turned (1, 1) less (1, 1): nothing upright, one
    // pixel up and left on a half turn, one left on a quarter turn.
    const double c = cos(angle), s = sin(angle);
    cx += static_cast<int>(lround(0.5 * (c - s - 1.0)));
    cy += static_cast<int>(lround(0.5 * (s + c - 1.0)));
  }
  BlitRotatedMemImg(dest, src, {cx, cy, static_cast<float>(angle), static_cast<float>(scale), transFlag, turnFlag},
                    SoftwareBlendImage);
  return 0;
}

int SoftDrawImageQuad(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                      GraphicHandleRecord* graph, int transFlag) {
  return SoftDrawImageQuadInt(TruncateFloatToInt(x1), TruncateFloatToInt(y1), TruncateFloatToInt(x2),
                              TruncateFloatToInt(y2), TruncateFloatToInt(x3), TruncateFloatToInt(y3),
                              TruncateFloatToInt(x4), TruncateFloatToInt(y4), graph, transFlag);
}

int SoftDrawImageQuadInt(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4, GraphicHandleRecord* graph,
                         int transFlag) {
  MEMIMG* dest = SoftDest();
  MEMIMG* src = GetGraphicMemImg(graph);
  if (dest == nullptr || src == nullptr) return 0;
  const int w = graph->width, h = graph->height;
  const TriangleVertex v[4] = {{x1, y1, 0, 0}, {x2, y2, w, 0}, {x3, y3, 0, h}, {x4, y4, w, h}};
  DrawTriangleMemImg(dest, src, &v[0], transFlag, SoftwareBlendImage, 0);
  DrawTriangleMemImg(dest, src, &v[1], transFlag, SoftwareBlendImage, 0);
  return 0;
}

int SoftFillBox(int x1, int y1, int x2, int y2, uint32_t color) {
  MEMIMG* dest = SoftDest();
  const RECT rect = {x1, y1, x2, y2};
  if (dest != nullptr) FillRectMemImg(dest, &rect, color);
  return 0;
}

int SoftDrawCircle(int x, int y, int r, uint32_t color, int fill) {
  MEMIMG* dest = SoftDest();
  if (dest == nullptr) return 0;
  if (fill) {
    DrawCircleMemImg(dest, x, y, r, color, 1);
    return 0;
  }
  // Each outline pixel once, as on the Direct3D path (the renderer's trace
  // visits the points where octants meet twice).
  struct Plot {
    MEMIMG* dest;
    uint32_t color;
  } plot = {dest, color};
  ForEachCircleOutlinePoint(
      x, y, r,
      [](int px, int py, void* context) {
        const Plot* p = static_cast<const Plot*>(context);
        DrawLineMemImg(p->dest, px, py, px + 1, py, p->color);
      },
      &plot);
  return 0;
}

int SoftDrawRing(int x, int y, int r, uint32_t color, int thickness) {
  if (thickness <= 0) return -1;
  const RECT& area = MemImgDrawState.drawArea;
  RingSpan* table = GetRingSpanTable(area.bottom);
  if (table == nullptr) return -1;
  BuildRingSpans(thickness, r, y, x, table);
  MEMIMG* dest = SoftDest();
  if (dest == nullptr) return 0;
  for (int line = area.top; line < area.bottom; line++) {
    const RingSpan& s = table[line];
    if (s.flags == 0) continue;
    if ((s.flags & (RING_INNER_LEFT | RING_INNER_RIGHT)) != 0 && s.innerLeft < s.innerRight) {
      DrawLineMemImg(dest, s.outerLeft, line, s.innerLeft + 1, line, color);
      DrawLineMemImg(dest, s.innerRight, line, s.outerRight + 1, line, color);
    } else {
      DrawLineMemImg(dest, s.outerLeft, line, s.outerRight + 1, line, color);
    }
  }
  return 0;
}

int SoftDrawBoxOutline(int left, int top, int right, int bottom, uint32_t color) {
  MEMIMG* dest = SoftDest();
  if (left > right || top > bottom) {  // the corners exchanged whole, as on the Direct3D path
    const int x = left, y = top;
    left = right, top = bottom, right = x, bottom = y;
  }
  if (dest != nullptr) DrawBoxOutlineMemImg(dest, left, top, right, bottom, color);
  return 0;
}

int SoftDrawTriangle(const POINT* points, uint32_t color, int fill) {
  MEMIMG* dest = SoftDest();
  if (dest != nullptr) DrawTriangleMemImg3(dest, points, color, fill, SoftwareBlendImage);
  return 0;
}
