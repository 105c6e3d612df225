// Quad and vertex-list draws: a graphic mapped onto any quadrilateral (one
// batched quad per texture piece when the quad is a parallelogram, else an
// 8 x 8 vertex grid so the texture does not fold along a diagonal), the
// draws scaled and rotated about a chosen point (reduced to the plain image
// draws where they can be), and caller-given 2-D vertex lists.
// Threads: main thread.
// Platform: IDirect3DDevice9 DrawPrimitiveUP and indexed grid strips through
// the device call table.
#include <math.h>
#include <string.h>

#include "RaRadara.h"
#include "RiDov.h"
#include "VeRavoroString.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaDrawSoft.h"
#include "VuViderezaGraph.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShadowMap.h"
#include "VuViderezaShape.h"
#include "ZiDezaru.h"

namespace {

enum {
  GRID_SIDE = 8,
  VERTEX_LIST_FVF = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1,
  VERTEX_LIST_FLAGS = 0x5078,
  VERTEX_LIST_QUAD_FLAGS = 0x1000,
  VERTEX_LIST_NO_GRAPH = -5,
  BOUNDS_START = 16777215,  // start of a bounding-box minimum search
};

struct Point2 {
  float x, y;
};

const float CORNER_TOLERANCE = 1.0f;     // corners this close count as one point
const float GRID_INSET = 0.001f;         // a grid's texture inset, in texels
const float EDGE_COORD_LOW = 0.000001f;  // texture coordinates beyond these lie inside
const float EDGE_COORD_HIGH = 0.99999f;  // the texture (not on its edge)

void* VertexWork = nullptr;
int VertexWorkBytes = 0;

void WaitIfInactive() {
  if (IsInactiveWaitNeeded()) WaitWhileInactive();
}

bool MaskActive() { return IsMaskScreenRequested() && GetMaskUseFlag(); }

int GraphFlags(const GraphicHandleRecord* record, int base) {
  int flags = base;
  if (record->image->format.alphaTest) flags |= DRAW_FLAG_TRANS_COLOR;
  if (record->image->format.alpha) flags |= DRAW_FLAG_ALPHA_CHANNEL;
  return flags;
}

IDirect3DBaseTexture9* PieceTexture(const GraphPiece& piece) {
  return piece.entry != nullptr ? piece.entry->texture : nullptr;
}

// P(u, v) of the quad TL, TR, BL, BR.
Point2 MapIntoQuad(const Point2 q[4], float u, float v) {
  const Point2 l = {q[0].x + (q[2].x - q[0].x) * v, q[0].y + (q[2].y - q[0].y) * v};
  const Point2 r = {q[1].x + (q[3].x - q[1].x) * v, q[1].y + (q[3].y - q[1].y) * v};
  return Point2{l.x + (r.x - l.x) * u, l.y + (r.y - l.y) * u};
}

void PieceCornersInQuad(const GraphicHandleRecord* record, const GraphPiece& piece, const Point2 q[4], Point2 out[4]) {
  const float w = static_cast<float>(record->width), h = static_cast<float>(record->height);
  const float u0 = static_cast<float>(piece.x) / w, u1 = static_cast<float>(piece.x + piece.width) / w;
  const float v0 = static_cast<float>(piece.y) / h, v1 = static_cast<float>(piece.y + piece.height) / h;
  out[0] = MapIntoQuad(q, u0, v0);
  out[1] = MapIntoQuad(q, u1, v0);
  out[2] = MapIntoQuad(q, u0, v1);
  out[3] = MapIntoQuad(q, u1, v1);
}

void FillTex2(Vertex2DTex2* v, float x, float y, float u, float tv, const DestCopyScale& copy) {
  v->x = x;
  v->y = y;
  v->z = CurrentDrawState.drawZ;
  v->rhw = 1.0f;
  v->color = CurrentDrawState.diffuseColor;
  v->u1 = u;
  v->v1 = tv;
  if (copy.active) {
    v->u2 = (x + 0.5f) * copy.invWidth;
    v->v2 = (y + 0.5f) * copy.invHeight;
  } else {
    v->u2 = v->v2 = 0.0f;
  }
}

bool Near(float a, float b) { return fabsf(a - b) < CORNER_TOLERANCE; }

// One piece onto its four corners (TL, TR, BL, BR), positions already
// offset to texel centres.
void DrawQuadPieceHW(const GraphPiece& piece, const Point2 c[4], int flags, const DestCopyScale& copy) {
  IDirect3DBaseTexture9* texture = PieceTexture(piece);
  if (DrawPrep.lastTexture != texture || DrawStateApplyNeeded(texture, flags)) ApplyDrawStateForTexture(texture, flags);
  const float* k = piece.corners;  // x, y, u, v of TL, TR, BL, BR
  float ua = k[2], va = k[3], ub = k[14], vb = k[15];
  const bool parallelogram = Near(c[1].x - c[0].x, c[3].x - c[2].x) && Near(c[1].y - c[0].y, c[3].y - c[2].y) &&
                             Near(c[2].x - c[0].x, c[3].x - c[1].x) && Near(c[2].y - c[0].y, c[3].y - c[1].y);
  if (parallelogram) {
    Vertex2DTex2* v = static_cast<Vertex2DTex2*>(AppendBatchQuad(VERTEX_KIND_TEX));
    static const int ORDER[6] = {0, 1, 2, 3, 2, 1};
    const float us[4] = {ua, ub, ua, ub}, vs[4] = {va, va, vb, vb};
    for (int i = 0; i < 6; i++) FillTex2(&v[i], c[ORDER[i]].x, c[ORDER[i]].y, us[ORDER[i]], vs[ORDER[i]], copy);
    return;
  }
  // Keep the grid from sampling the neighbouring piece.
  const float du = GRID_INSET * (ub - ua) / static_cast<float>(piece.width);
  const float dv = GRID_INSET * (vb - va) / static_cast<float>(piece.height);
  if (ua > EDGE_COORD_LOW) ua += du;
  if (ub < EDGE_COORD_HIGH) ub -= du;
  if (va > EDGE_COORD_LOW) va += dv;
  if (vb < EDGE_COORD_HIGH) vb -= dv;
  Vertex2DTex2 grid[GRID_SIDE * GRID_SIDE];
  const float steps = static_cast<float>(GRID_SIDE - 1);
  for (int row = 0; row < GRID_SIDE; row++) {
    const float t = static_cast<float>(row) / steps;
    const Point2 l = {c[0].x + (c[2].x - c[0].x) * t, c[0].y + (c[2].y - c[0].y) * t};
    const Point2 r = {c[1].x + (c[3].x - c[1].x) * t, c[1].y + (c[3].y - c[1].y) * t};
    for (int col = 0; col < GRID_SIDE; col++) {
      const float s = static_cast<float>(col) / steps;
      FillTex2(&grid[row * GRID_SIDE + col], l.x + (r.x - l.x) * s, l.y + (r.y - l.y) * s, ua + (ub - ua) * s,
               va + (vb - va) * t, copy);
    }
  }
  FlushVertexBatch(0);
  DrawVertexGridStrip(grid, GRID_SIDE, GRID_SIDE);
}

// One quad draw on the device: the graphic, the blend graphic (null: none),
// transparency and the rectangle the destination copy covers.
struct QuadDrawHW {
  GraphicHandleRecord* record;
  const GraphicHandleRecord* blend;
  int trans;
  RECT dest;
};

int DrawImageQuadBlendHW(const QuadDrawHW& draw, const int c[8]);

// Corners TL, TR, BL, BR.
int DrawImageQuadHW(const Point2 q[4], const QuadDrawHW& draw) {
  if (!HasDirect3DDevice()) return -1;
  GraphicHandleRecord* record = draw.record;
  const int trans = draw.trans;
  if (draw.blend != nullptr) {
    int c[8];
    for (int i = 0; i < 4; i++) c[i * 2] = TruncateFloatToInt(q[i].x), c[i * 2 + 1] = TruncateFloatToInt(q[i].y);
    return DrawImageQuadBlendHW(draw, c);
  }
  if (record->pieceCount < 1) return 0;
  BeginDrawSceneOnce();
  const int flags = GraphFlags(record, trans ? DRAW_FLAG_TRANSPARENT : 0);
  IDirect3DBaseTexture9* first = PieceTexture(record->pieces[0]);
  if (DrawStateApplyNeeded(first, flags)) ApplyDrawStateForTexture(first, flags);
  const DestCopyScale copy = CurrentDestCopy();
  if (copy.active) StretchDrawTargetToWork(&draw.dest);
  for (int i = 0; i < record->pieceCount; i++) {
    Point2 c[4];
    if (record->pieceCount == 1) {
      for (int k = 0; k < 4; k++) c[k] = q[k];
    } else {
      PieceCornersInQuad(record, record->pieces[i], q, c);
    }
    for (Point2& p : c) p.x -= 0.5f, p.y -= 0.5f;  // texel centres, as the image draws
    DrawQuadPieceHW(record->pieces[i], c, flags, copy);
  }
  return 0;
}

int DrawImageQuadBlendHW(const QuadDrawHW& draw, const int c[8]) {
  GraphicHandleRecord* record = draw.record;
  const GraphicHandleRecord* blend = draw.blend;
  const int trans = draw.trans;
  if (c[0] == c[4] && c[2] == c[6] && c[1] == c[3] && c[5] == c[7])
    return DrawImageStretched(c[0], c[1], c[6], c[7], record->header.handle, trans);
  if (!HasDirect3DDevice()) return -1;
  FlushVertexBatch(0);
  BeginDrawSceneOnce();
  const int flags = GraphFlags(record, (trans ? DRAW_FLAG_TRANSPARENT : 0) | DRAW_FLAG_PIXEL_EXACT);
  IDirect3DBaseTexture9* first = PieceTexture(record->pieces[0]);
  ApplyDrawStateForTexture(first, flags);
  const DestCopyScale copy = CurrentDestCopy();
  if (copy.active) StretchDrawTargetToWork(&draw.dest);
  const Point2 q[4] = {{static_cast<float>(c[0]), static_cast<float>(c[1])},
                       {static_cast<float>(c[2]), static_cast<float>(c[3])},
                       {static_cast<float>(c[4]), static_cast<float>(c[5])},
                       {static_cast<float>(c[6]), static_cast<float>(c[7])}};
  const GraphPiece& b = blend->pieces[0];
  for (int i = 0; i < record->pieceCount; i++) {
    const GraphPiece& piece = record->pieces[i];
    if (i > 0) {
      SetDrawTexture(PieceTexture(piece));
      if (RenderState.choosePixelShader || RenderState.textureChanged) PrepareGraphicDrawState(nullptr, 0, 1);
    }
    Point2 p[4];
    PieceCornersInQuad(record, piece, q, p);
    const float* k = piece.corners;
    const float us[4] = {k[2], k[6], k[10], k[14]}, vs[4] = {k[3], k[7], k[11], k[15]};
    // The blend graphic is addressed at the same screen position: its
    // coordinates follow the quad's corners relative to the quad's origin.
    const float bx[4] = {p[0].x - q[0].x, p[1].x - q[0].x, p[2].x - q[0].x, p[3].x - q[0].x};
    const float by[4] = {p[0].y - q[0].y, p[1].y - q[0].y, p[2].y - q[0].y, p[3].y - q[0].y};
    if (DrawPrep.vertexKind == VERTEX_KIND_TEX) {
      Vertex2DTex2 v[4];
      for (int n = 0; n < 4; n++) {
        FillTex2(&v[n], p[n].x - 0.5f, p[n].y - 0.5f, us[n], vs[n], copy);
        v[n].u2 = (bx[n] - b.corners[0]) * RenderState.blendInvWidth;
        v[n].v2 = (by[n] - b.corners[1]) * RenderState.blendInvHeight;
      }
      SetDeviceFVF(VertexFormats[VERTEX_KIND_TEX].fvf);
      RenderState.fvf = VertexFormats[VERTEX_KIND_TEX].fvf;
      DrawDevicePrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(Vertex2DTex2));
    } else if (DrawPrep.vertexKind == VERTEX_KIND_BLEND) {
      Vertex2DTex3 v[4];
      for (int n = 0; n < 4; n++) {
        v[n].x = p[n].x - 0.5f, v[n].y = p[n].y - 0.5f, v[n].z = CurrentDrawState.drawZ, v[n].rhw = 1.0f;
        v[n].color = CurrentDrawState.diffuseColor;
        v[n].specular = 0xFFFFFFFFu;
        v[n].u1 = (bx[n] - b.corners[0]) * RenderState.blendInvWidth;
        v[n].v1 = (by[n] - b.corners[1]) * RenderState.blendInvHeight;
        v[n].u2 = us[n], v[n].v2 = vs[n];
        v[n].u3 = v[n].u1, v[n].v3 = v[n].v1;
        if (copy.active) {
          v[n].u3 = (v[n].x + 0.5f) * copy.invWidth;
          v[n].v3 = (v[n].y + 0.5f) * copy.invHeight;
        }
      }
      SetDeviceFVF(VertexFormats[VERTEX_KIND_BLEND].fvf);
      RenderState.fvf = VertexFormats[VERTEX_KIND_BLEND].fvf;
      DrawDevicePrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(Vertex2DTex3));
    }
  }
  return 0;
}

// The float position draw, mirrored with turn.
int DrawAtF(float x, float y, int handle, int trans, int turn) {
  return turn ? DrawImageTurnedF(x, y, handle, trans) : DrawImageAtF(x, y, handle, trans);
}

// A draw about a point of the graphic: its point (cx, cy) lands on (x, y),
// scaled by (sx, sy) or, rotated, by sx in both directions; left and right
// exchanged with turn.
struct AboutPointDraw {
  float x, y, cx, cy;
  double sx, sy, angle;
  int w, h;  // the graphic's size
  int handle, trans, turn;
};

// The graphic scaled about the point, not rotated.
int DrawStretchedAbout(const AboutPointDraw& a) {
  const float x = a.x, y = a.y, cx = a.cx, cy = a.cy;
  const double sx = a.sx, sy = a.sy;
  const int w = a.w, h = a.h, turn = a.turn;
  float left = static_cast<float>(x - sx * cx), top = static_cast<float>(y - sy * cy);
  float right = static_cast<float>(left + w * sx), bottom = static_cast<float>(top + h * sy);
  if (turn) {
    const float t = left;
    left = right;
    right = t;
  }
  return DrawImageStretchedF(left, top, right, bottom, a.handle, a.trans);
}

// The graphic rotated and scaled (by sx) about the point; reduced to the
// plain draws without rotation or scale.
int DrawImageRotatedAboutCore(const AboutPointDraw& a) {
  const double scale = a.sx, angle = a.angle;
  if (angle != 0.0) {
    const double dx = (a.w * 0.5 - a.cx) * scale, dy = (a.h * 0.5 - a.cy) * scale;
    const double s = sin(angle), c = cos(angle);
    return DrawImageRotatedExact(static_cast<float>(a.x + dx * c - dy * s), static_cast<float>(a.y + dx * s + dy * c),
                                 scale, angle, a.handle, a.trans, a.turn);
  }
  if (scale != 1.0) return DrawStretchedAbout(a);
  return DrawAtF(a.x - a.cx, a.y - a.cy, a.handle, a.trans, a.turn);
}

void GrowVertexWork(int bytes, int* ok) {
  *ok = 1;
  if (VertexWorkBytes >= bytes) return;
  if (VertexWork != nullptr) MemFree(VertexWork);
  VertexWork = MEM_ALLOC(static_cast<size_t>(bytes));
  VertexWorkBytes = VertexWork != nullptr ? bytes : 0;
  *ok = VertexWork != nullptr;
}


}  // namespace

void FreeVertexListWork() {
  if (VertexWork != nullptr) MemFree(VertexWork);
  VertexWork = nullptr;
  VertexWorkBytes = 0;
}

// ---------------------------------------------------------------------------
// Quads.

int DrawImageQuadCore(const ImageQuadRequest& quad) {
  const int handle = quad.handle, trans = quad.trans;
  const float x1 = quad.x[0], y1 = quad.y[0], x2 = quad.x[1], y2 = quad.y[1];
  const float x3 = quad.x[2], y3 = quad.y[2], x4 = quad.x[3], y4 = quad.y[3];
  if (CurrentDrawState.areaEmpty) return 0;
  WaitIfInactive();
  RefreshGraphicMovie(handle);  // a movie graphic shows its current frame
  GraphicHandleRecord* record = GetGraphicRecord(handle, 0);
  if (record == nullptr || record->image == nullptr) return -1;
  if (CurrentDrawState.blendGraph >= 0 && CheckBlendGraphSize(record) != 0) return -1;
  const bool hw = record->image->format.textureBacked != 0;
  const bool emulate = hw && SubtractEmulationNeeded();
  const bool masked = MaskActive();
  const bool destCopy = hw && CurrentDrawState.destinationBlend && DrawTargetWorkSurface != nullptr;
  // Public order TL, TR, BR, BL; the drawers take TL, TR, BL, BR.
  const Point2 q[4] = {{x1, y1}, {x2, y2}, {x4, y4}, {x3, y3}};
  const GraphicHandleRecord* blend = CurrentDrawState.blendGraph >= 0 && RenderState.blendTexture != nullptr
                                         ? GetGraphicRecord(CurrentDrawState.blendGraph, 0)
                                         : nullptr;
  auto draw = [&](const RECT& dest) {
    const QuadDrawHW device = {record, blend, trans, dest};
    return hw ? DrawImageQuadHW(q, device) : SoftDrawImageQuad(x1, y1, x2, y2, x4, y4, x3, y3, record, trans);
  };
  // Without a frame the destination is not copied: the draw area stands in.
  if (!destCopy && !emulate && !masked) return draw(CurrentDrawState.drawArea);
  RECT r = {BOUNDS_START, BOUNDS_START, 0, 0};
  for (const Point2& p : q) {
    const int x = TruncateFloatToInt(p.x), y = TruncateFloatToInt(p.y);
    if (x < r.left) r.left = x;
    if (y < r.top) r.top = y;
    if (x > r.right) r.right = x;
    if (y > r.bottom) r.bottom = y;
  }
  const DrawFrame frame = {ClampRectToDrawArea(r), masked, emulate};
  return RunInDrawFrame(frame, draw);
}

int DrawImageQuad(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int handle,
                  int trans) {
  const ImageQuadRequest quad = {handle, {x1, x2, x3, x4}, {y1, y2, y3, y4}, trans};
  return DrawImageQuadCore(quad);
}

int DrawImageRotatedAbout(int x, int y, int cx, int cy, double scale, double angle, int handle, int trans, int turn) {
  int w = 0, h = 0;
  if (GetGraphicSize(handle, &w, &h) < 0 || handle < 0) return -1;
  if (angle == 0.0 && scale == 1.0)
    return turn ? DrawImageTurned(x - cx, y - cy, handle, trans) : DrawImageAt(x - cx, y - cy, handle, trans);
  const AboutPointDraw about = {static_cast<float>(x),
                                static_cast<float>(y),
                                static_cast<float>(cx),
                                static_cast<float>(cy),
                                scale,
                                scale,
                                angle,
                                w,
                                h,
                                handle,
                                trans,
                                turn};
  return DrawImageRotatedAboutCore(about);
}

int DrawImageRotatedScaledXY(int x, int y, int cx, int cy, double scaleX, double scaleY, double angle, int handle,
                             int trans, int turn) {
  int w = 0, h = 0;
  if (GetGraphicSize(handle, &w, &h) < 0 || handle < 0) return -1;
  if (angle == 0.0 && scaleX == 1.0 && scaleY == 1.0)
    return turn ? DrawImageTurned(x - cx, y - cy, handle, trans) : DrawImageAt(x - cx, y - cy, handle, trans);
  const float fx = static_cast<float>(x), fy = static_cast<float>(y), fcx = static_cast<float>(cx),
              fcy = static_cast<float>(cy);
  if (angle == 0.0) {
    const AboutPointDraw about = {fx, fy, fcx, fcy, scaleX, scaleY, 0.0, w, h, handle, trans, turn};
    return DrawStretchedAbout(about);
  }
  if (scaleX == 1.0 && scaleY == 1.0) {
    const AboutPointDraw about = {fx, fy, fcx, fcy, 1.0, 1.0, angle, w, h, handle, trans, turn};
    return DrawImageRotatedAboutCore(about);
  }
  const double s = sin(angle), c = cos(angle);
  const double ox[4] = {-fcx * scaleX, (w - fcx) * scaleX, (w - fcx) * scaleX, -fcx * scaleX};
  const double oy[4] = {-fcy * scaleY, -fcy * scaleY, (h - fcy) * scaleY, (h - fcy) * scaleY};
  float px[4], py[4];  // TL, TR, BR, BL
  for (int i = 0; i < 4; i++) {
    px[i] = static_cast<float>(ox[i] * c - oy[i] * s + fx);
    py[i] = static_cast<float>(ox[i] * s + oy[i] * c + fy);
  }
  if (turn) {
    float t = px[0];
    px[0] = px[1], px[1] = t;
    t = py[0], py[0] = py[1], py[1] = t;
    t = px[2], px[2] = px[3], px[3] = t;
    t = py[2], py[2] = py[3], py[3] = t;
  }
  const ImageQuadRequest quad = {handle, {px[0], px[1], px[2], px[3]}, {py[0], py[1], py[2], py[3]}, trans};
  return DrawImageQuadCore(quad);
}

// ---------------------------------------------------------------------------
// Vertex lists.

int DrawVertex2DPrimitiveHW(const void* vertices, int count, int type, GraphicHandleRecord* record, int trans,
                            const RECT& dest) {
  if (!HasDirect3DDevice()) return -1;
  FlushVertexBatch(0);
  BeginDrawSceneOnce();
  int flags = VERTEX_LIST_FLAGS | (trans ? DRAW_FLAG_TRANSPARENT : 0);
  IDirect3DBaseTexture9* texture = nullptr;
  if (record != nullptr) {
    flags = GraphFlags(record, flags);
    if (record->pieceCount > 0) texture = PieceTexture(record->pieces[0]);
  }
  if (DrawStateApplyNeeded(texture, flags)) ApplyDrawStateForTexture(texture, flags);
  if (CurrentDrawState.destinationBlend && DrawTargetWorkSurface != nullptr) StretchDrawTargetToWork(&dest);
  SetDeviceFVF(VERTEX_LIST_FVF);
  RenderState.fvf = VERTEX_LIST_FVF;
  const int prims = PrimitiveCount(type, count);
  if (prims > 0)
    DrawDevicePrimitiveUP(static_cast<D3DPRIMITIVETYPE>(type), static_cast<UINT>(prims), vertices, sizeof(Vertex2D));
  return 0;
}

int DrawVertexPrimitive2D(const void* vertices, int count, int type, int handle, int trans) {
  WaitIfInactive();
  if (vertices == nullptr || count < 0) return -1;
  GraphicHandleRecord* record = nullptr;
  bool hw;
  if (handle == VERTEX_LIST_NO_GRAPH) {
    hw = DeviceLayer.hardware != 0;
  } else {
    record = GetGraphicRecord(handle, 0);
    if (record == nullptr || record->image == nullptr) return -1;
    hw = record->image->format.textureBacked != 0;
  }
  const void* use = vertices;
  const uint32_t bright = CurrentDrawState.brightness & 0xFFFFFF;
  if (!(bright == 0xFFFFFF && (CurrentDrawState.blendMode == 0 || CurrentDrawState.blendParam == 255))) {
    int ok = 0;
    GrowVertexWork(count * static_cast<int>(sizeof(Vertex2D)), &ok);
    if (!ok) return -1;
    memcpy(VertexWork, vertices, static_cast<size_t>(count) * sizeof(Vertex2D));
    Vertex2D* v = static_cast<Vertex2D*>(VertexWork);
    const int br = static_cast<int>((bright >> 16) & 255), bg = static_cast<int>((bright >> 8) & 255),
              bb = static_cast<int>(bright & 255);
    for (int i = 0; i < count; i++) {
      const DWORD c = v[i].color;
      const int b = BlendProductTable[bb][c & 255], g = BlendProductTable[bg][(c >> 8) & 255];
      const int r = BlendProductTable[br][(c >> 16) & 255];
      int a = static_cast<int>(c >> 24);
      if (CurrentDrawState.blendMode != 0) a = BlendProductTable[CurrentDrawState.blendParam][a];
      v[i].color = static_cast<DWORD>(a) << 24 | static_cast<DWORD>(r) << 16 | static_cast<DWORD>(g) << 8 |
                   static_cast<DWORD>(b);
    }
    use = VertexWork;
  }
  const bool emulate = hw && SubtractEmulationNeeded();
  const bool masked = MaskActive();
  const bool destCopy = hw && CurrentDrawState.destinationBlend && DrawTargetWorkSurface != nullptr;
  auto draw = [&](const RECT& dest) { return hw ? DrawVertex2DPrimitiveHW(use, count, type, record, trans, dest) : 0; };
  if (!destCopy && !emulate && !masked) return draw(CurrentDrawState.drawArea);
  const DrawFrame frame = {CurrentDrawState.drawArea, masked, emulate};
  return RunInDrawFrame(frame, draw);
}

int DrawVertex2DPrimitiveWithGraph(const void* vertices, int count, int type, int handle, int trans, int quadMode,
                                   int turn) {
  if (!HasDirect3DDevice() || vertices == nullptr || count < 0) return -1;
  FlushVertexBatch(0);
  BeginDrawSceneOnce();
  int flags = (quadMode ? VERTEX_LIST_QUAD_FLAGS : VERTEX_LIST_FLAGS) | (trans ? DRAW_FLAG_TRANSPARENT : 0);
  GraphicHandleRecord* record = handle >= 0 ? GetGraphicRecord(handle, 0) : nullptr;
  IDirect3DBaseTexture9* texture = nullptr;
  if (record != nullptr && record->image != nullptr) {
    flags = GraphFlags(record, flags);
    if (record->pieceCount > 0) texture = PieceTexture(record->pieces[0]);
  } else if (handle >= 0) {
    HandleRecordHeader* shadow = GetHandleRecordOfType(handle, HANDLETYPE_SHADOWMAP);
    if (shadow == nullptr) return -1;
    texture = reinterpret_cast<ShadowMapRecord*>(shadow)->texture;
  }
  if (DrawStateApplyNeeded(texture, flags)) ApplyDrawStateForTexture(texture, flags);
  const bool setsPieceCoords = quadMode && record != nullptr && record->pieceCount > 0;
  const DestCopyScale copy = CurrentDestCopy();
  // The caller's vertices stay as given: texture coordinates are written
  // into a copy.
  const void* use = vertices;
  Vertex2DTex2* v = nullptr;
  if (setsPieceCoords || copy.active) {
    int ok = 0;
    GrowVertexWork(count * static_cast<int>(sizeof(Vertex2DTex2)), &ok);
    if (!ok) return -1;
    if (count > 0) memcpy(VertexWork, vertices, static_cast<size_t>(count) * sizeof(Vertex2DTex2));
    v = static_cast<Vertex2DTex2*>(VertexWork);
    use = VertexWork;
  }
  if (setsPieceCoords) {
    const float* k = record->pieces[0].corners;
    float ul = k[2], ur = k[6];
    if (turn) {
      const float t = ul;
      ul = ur;
      ur = t;
    }
    const float us[6] = {ul, ur, ul, ur, ul, ur}, vs[6] = {k[3], k[3], k[11], k[11], k[11], k[3]};
    for (int i = 0; i + 6 <= count; i += 6)
      for (int n = 0; n < 6; n++) v[i + n].u1 = us[n], v[i + n].v1 = vs[n];
  }
  if (copy.active) {
    StretchDrawTargetToWork(&CurrentDrawState.drawArea);
    for (int i = 0; i < count; i++) {
      v[i].u2 = (v[i].x + 0.5f) * copy.invWidth;
      v[i].v2 = (v[i].y + 0.5f) * copy.invHeight;
    }
  }
  SetDeviceFVF(VertexFormats[VERTEX_KIND_TEX].fvf);
  RenderState.fvf = VertexFormats[VERTEX_KIND_TEX].fvf;
  const int prims = PrimitiveCount(type, count);
  if (prims > 0)
    DrawDevicePrimitiveUP(static_cast<D3DPRIMITIVETYPE>(type), static_cast<UINT>(prims), use, sizeof(Vertex2DTex2));
  return 0;
}
