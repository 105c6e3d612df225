// Shapes and clearing the draw target: the public box, circle, ring and
// triangle calls with their entry frame (draw area, mask, subtract
// emulation), their Direct3D drawers (boxes and triangles through the 2-D
// batch, circles and rings as point and line lists from a work buffer of
// 2000 vertices, each scan line of a disc or ring drawn once), the ring span
// table, and ClearDrawTarget for both paths.
// Threads: main thread; the span table and vertex buffer serve one draw at a
// time.
// Platform: IDirect3DDevice9 Clear, DrawPrimitiveUP, SetRenderTarget and
// StretchRect through the device call table.
#include "VuViderezaShape.h"

#include <string.h>

#include "RaRadara.h"
#include "RiRerEzi.h"
#include "RiDov.h"
#include "VeRavoroString.h"
#include "DeRede.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaDrawSoft.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VuViderezaMath.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShadowMap.h"
#include "ZiDezaru.h"

namespace {

const char LOG_CIRCLE_MEMORY_FAILED[] = "メモリの確保に失敗しました in G_D3D_DrawCircle";

enum {
  SHAPE_FLAGS = DRAW_FLAG_USE_COLOR,  // untextured, flat shading
  BOUNDS_START = 16777215,            // start of a bounding-box minimum search
  SHAPE_BUFFER_VERTICES = 2000,
  WORK_BLOCK_LINE = 4817,
};
// The place the shapes' work blocks are charged to in memory reports.
const char WORK_BLOCK_FILE[] = "VuVidereza";

RingSpan* SpanBlock = nullptr;
int SpanBlockLines = 0;
Vertex2D* ShapeVertexBuffer = nullptr;

void WaitIfInactive() {
  if (IsInactiveWaitNeeded()) WaitWhileInactive();
}

const RECT& DrawArea() { return CurrentDrawState.drawArea; }

// Midpoint circle stepping: emit(dx, dy, decisionNotNegative) per step, for
// dy = 0 and then while dx >= dy.
template <class Emit>
void StepCircle(int r, Emit&& emit) {
  int dx = r, dy = 0, d = 3 - 2 * r;
  do {
    emit(dx, dy, d >= 0);
    if (d < 0) {
      d += 4 * dy + 6;
    } else {
      d += 4 * (dy - dx) + 10;
      dx--;
    }
    dy++;
  } while (dx >= dy);
}

// The outline points of one step: four at dy = 0, else eight (a point may
// repeat where dx = dy; the callers that plot skip repeats).
template <class Point>
void StepPoints(int x, int y, int dx, int dy, Point&& point) {
  if (dx == 0 && dy == 0) {
    point(x, y);
    return;
  }
  if (dy == 0) {
    point(x - dx, y);
    point(x + dx, y);
    point(x, y + dx);
    point(x, y - dx);
    return;
  }
  point(x + dx, y + dy);
  point(x - dx, y + dy);
  point(x + dx, y - dy);
  point(x - dx, y - dy);
  if (dx == dy) return;  // the same four points again
  point(x + dy, y + dx);
  point(x - dy, y + dx);
  point(x + dy, y - dx);
  point(x - dy, y - dx);
}

// Room for n more untextured 2-D vertices of the primitive type in the batch.
Vertex2D* AppendShapeVertices(int primitiveType, int n) {
  const VertexFormatInfo& format = VertexFormats[VERTEX_KIND_PLAIN];
  if (VertexBatch.vertexClass != VERTEX_CLASS_2D || VertexBatch.kind != VERTEX_KIND_PLAIN ||
      VertexBatch.primitiveType != primitiveType || VertexBatch.count + n >= format.capacity || BatchHoldsClipChange())
    BeginVertexBatch(VERTEX_CLASS_2D, VERTEX_KIND_PLAIN, primitiveType);
  Vertex2D* at = reinterpret_cast<Vertex2D*>(VertexBatch.write);
  VertexBatch.write += n * format.stride;
  VertexBatch.count += n;
  return at;
}

void SetVertex(Vertex2D* v, int x, int y, DWORD color, const DestCopyScale& copy) {
  v->x = static_cast<float>(x);
  v->y = static_cast<float>(y);
  v->z = CurrentDrawState.drawZ;
  v->rhw = 1.0f;
  v->color = color;
  if (copy.active) {
    v->u = (static_cast<float>(x) + 0.5f) * copy.invWidth;
    v->v = (static_cast<float>(y) + 0.5f) * copy.invHeight;
  }
}

// Scene, untextured draw state, destination copy: what every drawer does
// before writing vertices.
DestCopyScale PrepareShapeDraw(const RECT& dest) {
  BeginDrawSceneOnce();
  if (DrawStateApplyNeeded(nullptr, SHAPE_FLAGS)) ApplyDrawStateForTexture(nullptr, SHAPE_FLAGS);
  const DestCopyScale copy = CurrentDestCopy();
  if (copy.active) StretchDrawTargetToWork(&dest);
  return copy;
}

// Six vertices of the quad box in the batch's quad order; the colour on the
// first vertex of each triangle, or on all six.
void WriteQuad(Vertex2D* v, const RECT& box, DWORD color, int colorAll, const DestCopyScale& copy) {
  const int l = box.left, t = box.top, r = box.right, b = box.bottom;
  const int xs[6] = {l, r, l, r, l, r}, ys[6] = {t, t, b, b, b, t};
  for (int i = 0; i < 6; i++) {
    const DWORD c = v[i].color;
    SetVertex(&v[i], xs[i], ys[i], colorAll || i == 0 || i == 3 ? color : c, copy);
  }
}

bool ShapeWorkBuffer() {
  if (ShapeVertexBuffer == nullptr)
    ShapeVertexBuffer = static_cast<Vertex2D*>(
        MemAlloc(SHAPE_BUFFER_VERTICES * sizeof(Vertex2D), WORK_BLOCK_FILE, WORK_BLOCK_LINE));
  return ShapeVertexBuffer != nullptr;
}

// Writes vertices into the shape buffer, drawing each full block of 2000.
struct ShapeStream {
  int primitive;  // D3DPT_POINTLIST or D3DPT_LINELIST
  int count;
  DestCopyScale copy;
  DWORD color;
  void Put(int x, int y) {
    SetVertex(&ShapeVertexBuffer[count++], x, y, color, copy);
    if (count == SHAPE_BUFFER_VERTICES) Draw();
  }
  void Draw() {
    const int prims = primitive == D3DPT_POINTLIST ? count : count / 2;
    if (prims > 0)
      DrawDevicePrimitiveUP(static_cast<D3DPRIMITIVETYPE>(primitive), static_cast<UINT>(prims), ShapeVertexBuffer,
                            sizeof(Vertex2D));
    count = 0;
  }
};

ShapeStream BeginShapeStream(int primitive, unsigned int color, const RECT& dest) {
  FlushVertexBatch(0);
  ShapeStream s = {primitive, 0, PrepareShapeDraw(dest), MakeShapeVertexColor(color)};
  SetDeviceFVF(VertexFormats[VERTEX_KIND_PLAIN].fvf);
  RenderState.fvf = VertexFormats[VERTEX_KIND_PLAIN].fvf;
  return s;
}

// The entry frame of the shape calls.
template <class Hardware, class Software>
int ShapeEntry(const RECT& bounds, Hardware&& hardware, Software&& software) {
  if (CurrentDrawState.areaEmpty) return 0;
  WaitIfInactive();
  const int hw = DeviceLayer.hardware;
  const int emulate = hw && CurrentDrawState.blendMode == 3 && !DeviceCaps.subtractBlendNative;
  const int masked = IsMaskScreenActive();
  const int destCopy = hw && CurrentDrawState.destinationBlend && DrawTargetWorkSurface != nullptr;
  // Without a frame the destination is not copied: the draw area stands in.
  if (!destCopy && !emulate && !masked) return hw ? hardware(CurrentDrawState.drawArea) : software();
  const DrawFrame frame = {ClampRectToDrawArea(bounds), masked != 0, emulate != 0};
  return RunInDrawFrame(frame, [&](const RECT& dest) { return emulate || hw ? hardware(dest) : software(); });
}

}  // namespace

// ---------------------------------------------------------------------------
// Frame helpers shared with the quad draws.

DestCopyScale CurrentDestCopy() {
  DestCopyScale copy = {0, 0.0f, 0.0f};
  if (!CurrentDrawState.destinationBlend || DrawTargetWorkSurface == nullptr) return copy;
  D3DSURFACE_DESC desc;
  if (GetSurfaceDesc(DrawTargetWorkSurface, &desc) != D3D_OK || desc.Width == 0 || desc.Height == 0) return copy;
  copy.active = 1;
  copy.invWidth = 1.0f / static_cast<float>(desc.Width);
  copy.invHeight = 1.0f / static_cast<float>(desc.Height);
  return copy;
}

RECT ClampRectToDrawArea(RECT r) {
  const RECT& a = CurrentDrawState.drawArea;
  auto clamp = [](LONG v, LONG lo, LONG hi) { return v < lo ? lo : v > hi ? hi : v; };
  r.left = clamp(r.left, a.left, a.right);
  r.right = clamp(r.right, a.left, a.right);
  r.top = clamp(r.top, a.top, a.bottom);
  r.bottom = clamp(r.bottom, a.top, a.bottom);
  return r;
}

// ---------------------------------------------------------------------------
// Work blocks and ring spans.

void FreeCircleWorkBuffers() {
  if (SpanBlock != nullptr) MemFree(SpanBlock);
  SpanBlock = nullptr;
  SpanBlockLines = 0;
  if (ShapeVertexBuffer != nullptr) MemFree(ShapeVertexBuffer);
  ShapeVertexBuffer = nullptr;
}

RingSpan* GetRingSpanTable(int lines) {
  if (lines < 1) lines = 1;
  if (SpanBlockLines < lines) {
    RingSpan* block = static_cast<RingSpan*>(MemAlloc(lines * sizeof(RingSpan), WORK_BLOCK_FILE, WORK_BLOCK_LINE));
    if (block == nullptr) return nullptr;
    if (SpanBlock != nullptr) MemFree(SpanBlock);
    SpanBlock = block;
    SpanBlockLines = lines;
  }
  memset(SpanBlock, 0, lines * sizeof(RingSpan));
  return SpanBlock;
}

int BuildRingSpans(int thickness, int r, int cy, int cx, RingSpan* table) {
  const RECT& area = DrawArea();
  const int outer = r + thickness / 2;
  const int inner = r - thickness / 2 + (thickness % 2 == 0 ? 1 : 0);
  auto outerPoint = [&](int px, int py) {
    if (py < area.top || py >= area.bottom) return;
    RingSpan& s = table[py];
    if (px <= cx && (!(s.flags & RING_OUTER_LEFT) || px < s.outerLeft)) {
      s.outerLeft = static_cast<int16_t>(px);
      s.flags |= RING_OUTER_LEFT;
    }
    if (px >= cx && (!(s.flags & RING_OUTER_RIGHT) || px > s.outerRight)) {
      s.outerRight = static_cast<int16_t>(px);
      s.flags |= RING_OUTER_RIGHT;
    }
  };
  auto innerPoint = [&](int px, int py) {
    if (py < area.top || py >= area.bottom) return;
    RingSpan& s = table[py];
    if (px <= cx && (!(s.flags & RING_INNER_LEFT) || px > s.innerLeft)) {
      s.innerLeft = static_cast<int16_t>(px);
      s.flags |= RING_INNER_LEFT;
    }
    if (px >= cx && (!(s.flags & RING_INNER_RIGHT) || px < s.innerRight)) {
      s.innerRight = static_cast<int16_t>(px);
      s.flags |= RING_INNER_RIGHT;
    }
  };
  if (outer >= 0) StepCircle(outer, [&](int dx, int dy, bool) { StepPoints(cx, cy, dx, dy, outerPoint); });
  if (inner >= 0) StepCircle(inner, [&](int dx, int dy, bool) { StepPoints(cx, cy, dx, dy, innerPoint); });
  return 0;
}

void ForEachCircleOutlinePoint(int x, int y, int r, void (*plot)(int px, int py, void* context), void* context) {
  if (r < 0) return;
  StepCircle(r,
             [&](int dx, int dy, bool) { StepPoints(x, y, dx, dy, [&](int px, int py) { plot(px, py, context); }); });
}

uint32_t MakeShapeVertexColor(unsigned int color) {
  int r = 0, g = 0, b = 0;
  SplitColorValue(color, &r, &g, &b);
  const uint32_t d = CurrentDrawState.diffuseColor;
  r = r * static_cast<int>((d >> 16) & 255) / 255;
  g = g * static_cast<int>((d >> 8) & 255) / 255;
  b = b * static_cast<int>(d & 255) / 255;
  return (d & 0xFF000000u) | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b);
}

// ---------------------------------------------------------------------------
// Direct3D drawers.

int DrawFilledBoxHW(int x1, int y1, int x2, int y2, unsigned int color, const RECT& dest) {
  if (!HasDirect3DDevice()) return -1;
  RECT r = {x1 < x2 ? x1 : x2, y1 < y2 ? y1 : y2, x1 < x2 ? x2 : x1, y1 < y2 ? y2 : y1};
  ClipRect(&r, &DrawArea());
  if (r.left >= r.right || r.top >= r.bottom) return 0;
  const DestCopyScale copy = PrepareShapeDraw(dest);
  Vertex2D* v = AppendShapeVertices(D3DPT_TRIANGLELIST, 6);
  WriteQuad(v, r, MakeShapeVertexColor(color), 0, copy);
  return 0;
}

int DrawBoxOutlineHW(int x1, int y1, int x2, int y2, unsigned int color, const RECT& dest) {
  if (!HasDirect3DDevice()) return -1;
  if (x1 > x2 || y1 > y2) {
    const int tx = x1, ty = y1;
    x1 = x2, y1 = y2, x2 = tx, y2 = ty;
  }
  const DestCopyScale copy = PrepareShapeDraw(dest);
  const DWORD c = MakeShapeVertexColor(color);
  Vertex2D* v = AppendShapeVertices(D3DPT_TRIANGLELIST, 24);
  WriteQuad(v, {x1, y1, x2, y1 + 1}, c, 1, copy);
  WriteQuad(v + 6, {x2 - 1, y1 + 1, x2, y2}, c, 1, copy);
  WriteQuad(v + 12, {x1, y1 + 1, x1 + 1, y2}, c, 1, copy);
  WriteQuad(v + 18, {x1 + 1, y2 - 1, x2 - 1, y2}, c, 1, copy);
  return 0;
}

int G_D3D_DrawCircle(int x, int y, int r, unsigned int color, int fill, const RECT& dest) {
  FlushVertexBatch(0);
  if (!HasDirect3DDevice()) return -1;
  if (!ShapeWorkBuffer()) return -1;
  const RECT area = DrawArea();
  unsigned char* rowFlags = nullptr;
  if (fill) {
    RingSpan* block = GetRingSpanTable(area.bottom);
    if (block == nullptr) {
      FatalErrorExit(LOG_CIRCLE_MEMORY_FAILED);
      return -1;
    }
    rowFlags = reinterpret_cast<unsigned char*>(block);
  }
  ShapeStream s = BeginShapeStream(fill ? D3DPT_LINELIST : D3DPT_POINTLIST, color, dest);
  if (!fill) {
    auto point = [&](int px, int py) {
      if (px >= area.left && px < area.right && py >= area.top && py < area.bottom) s.Put(px, py);
    };
    StepCircle(r, [&](int dx, int dy, bool) { StepPoints(x, y, dx, dy, point); });
  } else {
    auto span = [&](int line, int xa, int xb) {
      if (line < area.top || line >= area.bottom || rowFlags[line]) return;
      if (xb < area.left || xa >= area.right) return;
      if (xa < area.left) xa = area.left;
      if (xb > area.right - 1) xb = area.right - 1;
      rowFlags[line] = 1;
      s.Put(xa, line);
      s.Put(xb + 1, line);
    };
    span(y, x - r, x + r);
    StepCircle(r, [&](int dx, int dy, bool notNegative) {
      span(y + dy, x - dx, x + dx);
      span(y - dy, x - dx, x + dx);
      if (notNegative) {
        span(y + dx, x - dy, x + dy);
        span(y - dx, x - dy, x + dy);
      }
    });
  }
  s.Draw();
  return 0;
}

int DrawRingHW(int x, int y, int r, unsigned int color, int thickness, const RECT& dest) {
  if (thickness < 2 || !HasDirect3DDevice()) return -1;
  if (!ShapeWorkBuffer()) return -1;
  const RECT area = DrawArea();
  RingSpan* table = GetRingSpanTable(area.bottom);
  if (table == nullptr) return -1;
  ShapeStream s = BeginShapeStream(D3DPT_LINELIST, color, dest);
  BuildRingSpans(thickness, r, y, x, table);
  auto span = [&](int line, int xa, int xb) {
    if (xa < area.left) xa = area.left;
    if (xb > area.right - 1) xb = area.right - 1;
    if (xa > xb) return;
    s.Put(xa, line);
    s.Put(xb + 1, line);
  };
  for (int line = area.top; line < area.bottom; line++) {
    const RingSpan& e = table[line];
    if (e.flags == 0) continue;
    if ((e.flags & (RING_INNER_LEFT | RING_INNER_RIGHT)) != 0 && e.innerLeft < e.innerRight) {
      span(line, e.outerLeft, e.innerLeft);
      span(line, e.innerRight, e.outerRight);
    } else {
      span(line, e.outerLeft, e.outerRight);
    }
  }
  s.Draw();
  return 0;
}

int DrawTriangleHW(const TriangleShape& t, const RECT& dest) {
  if (!HasDirect3DDevice()) return -1;
  const DestCopyScale copy = PrepareShapeDraw(dest);
  const DWORD c = MakeShapeVertexColor(t.color);
  const int x1 = t.x1, y1 = t.y1, x2 = t.x2, y2 = t.y2, x3 = t.x3, y3 = t.y3;
  if (!t.fill) {
    Vertex2D* v = AppendShapeVertices(D3DPT_LINELIST, 6);
    const int xs[6] = {x1, x2, x2, x3, x3, x1}, ys[6] = {y1, y2, y2, y3, y3, y1};
    for (int i = 0; i < 6; i++) SetVertex(&v[i], xs[i], ys[i], c, copy);
  } else {
    Vertex2D* v = AppendShapeVertices(D3DPT_TRIANGLELIST, 3);
    SetVertex(&v[0], x1, y1, c, copy);
    SetVertex(&v[1], x2, y2, c, copy);
    SetVertex(&v[2], x3, y3, c, copy);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Public shape calls.

int DrawRectShape(int x1, int y1, int x2, int y2, unsigned int color, int fill) {
  return fill ? DrawFilledBoxShape(x1, y1, x2, y2, color) : DrawBoxOutlineShape(x1, y1, x2, y2, color);
}

int DrawFilledBoxShape(int x1, int y1, int x2, int y2, unsigned int color) {
  const RECT bounds = {x1, y1, x2, y2};
  return ShapeEntry(
      bounds, [&](const RECT& dest) { return DrawFilledBoxHW(x1, y1, x2, y2, color, dest); },
      [&] { return SoftFillBox(x1, y1, x2, y2, color); });
}

int DrawBoxOutlineShape(int x1, int y1, int x2, int y2, unsigned int color) {
  const RECT bounds = {x1, y1, x2, y2};
  return ShapeEntry(
      bounds, [&](const RECT& dest) { return DrawBoxOutlineHW(x1, y1, x2, y2, color, dest); },
      [&] { return SoftDrawBoxOutline(x1, y1, x2, y2, color); });
}

int DrawCircleShape(int x, int y, int r, unsigned int color, int fill, int thickness) {
  if (r < 0) return 0;
  const RECT bounds = {x - r - 1, y - r - 1, x + r + 1, y + r + 1};
  if (thickness == 1)
    return ShapeEntry(
        bounds, [&](const RECT& dest) { return G_D3D_DrawCircle(x, y, r, color, fill, dest); },
        [&] { return SoftDrawCircle(x, y, r, color, fill); });
  return ShapeEntry(
      bounds, [&](const RECT& dest) { return DrawRingHW(x, y, r, color, thickness, dest); },
      [&] { return SoftDrawRing(x, y, r, color, thickness); });
}

int DrawTriangleShape(int x1, int y1, int x2, int y2, int x3, int y3, unsigned int color, int fill) {
  RECT bounds = {BOUNDS_START, BOUNDS_START, 0, 0};
  const int xs[3] = {x1, x2, x3}, ys[3] = {y1, y2, y3};
  for (int i = 0; i < 3; i++) {
    if (xs[i] < bounds.left) bounds.left = xs[i];
    if (ys[i] < bounds.top) bounds.top = ys[i];
    if (xs[i] > bounds.right) bounds.right = xs[i];
    if (ys[i] > bounds.bottom) bounds.bottom = ys[i];
  }
  return ShapeEntry(
      bounds,
      [&](const RECT& dest) {
        const TriangleShape triangle = {x1, y1, x2, y2, x3, y3, color, fill};
        return DrawTriangleHW(triangle, dest);
      },
      [&] {
        const POINT points[3] = {{x1, y1}, {x2, y2}, {x3, y3}};
        return SoftDrawTriangle(points, color, fill ? 1 : 0);
      });
}

// ---------------------------------------------------------------------------
// Clearing the draw target.

namespace {

IDirect3DSurface9* ClearTargetSurface() {
  HandleRecordHeader* header = CurrentDrawState.drawTarget >= 0
                                   ? GetHandleRecordOfType(CurrentDrawState.drawTarget, HANDLETYPE_SHADOWMAP)
                                   : nullptr;
  if (header != nullptr) return reinterpret_cast<ShadowMapRecord*>(header)->surface;
  return GetDrawTargetSurface();
}

MEMIMG* ClearTargetImage() {
  if (CurrentDrawState.drawTarget >= 0) return GetGraphicMemImg(GetGraphicRecord(CurrentDrawState.drawTarget, 0));
  return IsValidMemImg(&SoftwareScreenImage) ? &SoftwareScreenImage : nullptr;
}

uint32_t BackgroundPixelOf(const ColorFormatRecord* f) {
  auto channel = [](int value, int width, int shift) {
    return width == 0 ? 0u : static_cast<uint32_t>((value & 255) >> (8 - width)) << shift;
  };
  return channel(Screen.background[0], f->redWidth, f->redShift) |
         channel(Screen.background[1], f->greenWidth, f->greenShift) |
         channel(Screen.background[2], f->blueWidth, f->blueShift) | f->spareMask;
}

}  // namespace

int ClearDrawTarget(const RECT* rect) {
  if (rect != nullptr && (rect->left < 0 || rect->top < 0)) rect = nullptr;
  if (!DeviceLayer.hardware) {
    MEMIMG* image = ClearTargetImage();
    if (image != nullptr) {
      FillMemImgRectRaw(image, rect, BackgroundPixelOf(image->header->colorFormat));
      InvalidateMemImgDerivedData(image);
    }
    return 0;
  }
  if (!HasDirect3DDevice()) return 0;
  FlushVertexBatch(0);
  EndDrawScene();
  IDirect3DSurface9* target = ClearTargetSurface();
  IDirect3DSurface9* mask = GetActiveMaskSurface();
  if (mask != nullptr && target != nullptr) SetRenderTargetCached(target, 0);
  // The viewport covers the target itself (a render-target graphic may be
  // larger than the screen).
  int width = CurrentDrawState.drawScreenWidth, height = CurrentDrawState.drawScreenHeight;
  D3DSURFACE_DESC desc;
  if (target != nullptr && GetSurfaceDesc(target, &desc) == D3D_OK) {
    width = static_cast<int>(desc.Width);
    height = static_cast<int>(desc.Height);
  }
  SetViewportRect(0, 0, width, height);
  const D3DRECT area = rect != nullptr ? D3DRECT{rect->left, rect->top, rect->right, rect->bottom}
                                       : D3DRECT{0, 0, 0, 0};
  const D3DCOLOR color = static_cast<D3DCOLOR>((Screen.background[0] & 255) << 16 | (Screen.background[1] & 255) << 8 |
                                               (Screen.background[2] & 255));
  ClearDevice(rect != nullptr ? 1 : 0, rect != nullptr ? &area : nullptr, D3DCLEAR_TARGET, color, 1.0f, 0);
  if (DeviceLayer.depthBuffer != nullptr)
    ClearDevice(rect != nullptr ? 1 : 0, rect != nullptr ? &area : nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  if (mask != nullptr) SetRenderTargetCached(mask, 0);
  const RECT& a = DrawArea();
  SetViewportRect(a.left, a.top, a.right, a.bottom);
  return 0;
}
