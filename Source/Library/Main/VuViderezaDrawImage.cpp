// Image draw calls: at a position, stretched, turned, rotated and scaled
// about the centre, a sub-rectangle; the common frame (checks, mask hooks,
// subtraction emulation, hardware or software path) and the quad builders
// that clip on the CPU and append to the vertex batch.
// Threads: main thread only (each call first waits while inactive).
// Platform: none directly (the batch and the device preparation).
#include <math.h>

#include "RaRadara.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "VuViderezaMath.h"
#include "VuViderezaRenderState.h"

namespace {

enum {
  DRAW_AT = 0,
  DRAW_STRETCHED = 1,
  DRAW_ROTATED = 2,
  BLEND_SUBTRACT = 3,
  BLEND_INVERTED_ADD = 5,
  WHITE_TINT = 0xFFFFFF,
};

const double AXIS_TOLERANCE = 0.06981317;
const double AXIS_ANGLES[5] = {0.0, 1.5707963, 3.1415927, 4.712389, 6.2831853};
const double AXIS_UPPER_LIMIT = 6.3529985;  // a full turn and the tolerance
const float WHOLE_TOLERANCE = 0.001f;       // a coordinate this near a whole number is on it
const float FRACTION_EPSILON = 0.00001f;    // a position with a smaller fraction is whole
const float EDGE_TOLERANCE = 0.01f;         // corners this close share an edge's line
const double BOUNDS_START = 1e30;           // start of a minimum / maximum search

// One image draw as the common frame sees it.
struct ImageDraw {
  int kind;
  int ix, iy, ix2, iy2;  // integer position / rectangle
  float x, y, x2, y2;    // float position / rectangle / centre
  double scale, angle;
  int transparent, turn, exact;
};

// A corner as the builders move it: position and the image's and the blend
// graphic's texture coordinates.
struct Corner {
  float x, y, u, v, bu, bv;
};

void WaitIfInactive() {
  if (IsInactiveWaitNeeded()) WaitWhileInactive();
}

bool MaskInUse() { return IsMaskScreenRequested() && GetMaskUseFlag(); }

int FlagWord(const GraphicHandleRecord* record, int transparent, bool pixelExact) {
  int flags = transparent ? DRAW_FLAG_TRANSPARENT : 0;
  if (pixelExact) flags |= DRAW_FLAG_PIXEL_EXACT;
  if (record->image->format.alphaTest) flags |= DRAW_FLAG_TRANS_COLOR;
  if (record->image->format.alpha) flags |= DRAW_FLAG_ALPHA_CHANNEL;
  return flags;
}

IDirect3DBaseTexture9* PieceTexture(const GraphPiece& piece) {
  return piece.entry != nullptr ? piece.entry->texture : nullptr;
}

// Applies the draw state for the first piece when anything changed.
void PrepareFor(const GraphicHandleRecord* record, int flags) {
  IDirect3DBaseTexture9* texture = PieceTexture(record->pieces[0]);
  if (DrawStateApplyNeeded(texture, flags)) ApplyDrawStateForTexture(texture, flags);
}

// Second and later pieces: their own texture, the shader chosen again when
// that made it stale.
void SelectPiece(const GraphPiece& piece, int index) {
  if (index == 0) return;
  IDirect3DBaseTexture9* texture = PieceTexture(piece);
  SetDrawTexture(texture);
  if (RenderState.choosePixelShader || RenderState.textureChanged) PrepareGraphicDrawState(nullptr, 0, 1);
  DrawPrep.lastTexture = texture;
}

// Blend-graphic coordinates of a piece corner.
void BlendCoords(Corner* c, const GraphPiece& piece, float px, float py, const GraphicHandleRecord* blend) {
  if (blend == nullptr || blend->pieceCount == 0) return;
  const GraphPiece& b = blend->pieces[0];
  c->bu = (px - b.corners[0]) * RenderState.blendInvWidth;
  c->bv = (py - b.corners[1]) * RenderState.blendInvHeight;
  static_cast<void>(piece);
}

// Writes the quad (corners top-left, top-right, bottom-left, bottom-right)
// as six vertices of the batch.
void AppendQuad(const Corner c[4], bool withBlend) {
  const DWORD color = CurrentDrawState.diffuseColor;
  const float z = CurrentDrawState.drawZ;
  static const int ORDER[6] = {0, 1, 2, 3, 2, 1};
  if (withBlend) {
    Vertex2DTex3* v = static_cast<Vertex2DTex3*>(AppendBatchQuad(VERTEX_KIND_BLEND));
    for (int i = 0; i < 6; i++) {
      const Corner& k = c[ORDER[i]];
      v[i].x = k.x, v[i].y = k.y, v[i].z = z;
      v[i].color = color;
      v[i].u1 = k.bu, v[i].v1 = k.bv, v[i].u2 = k.u, v[i].v2 = k.v;
    }
  } else {
    Vertex2DTex2* v = static_cast<Vertex2DTex2*>(AppendBatchQuad(VERTEX_KIND_TEX));
    for (int i = 0; i < 6; i++) {
      const Corner& k = c[ORDER[i]];
      v[i].x = k.x, v[i].y = k.y, v[i].z = z;
      v[i].color = color;
      v[i].u1 = k.u, v[i].v1 = k.v;
    }
  }
}

// The rectangle corners are moved into, with the screen scale and the
// texture size that turn a move into texture coordinates.
struct CornerClamp {
  float left, top, right, bottom;
  float sx, sy;
  float texWidth, texHeight;
};

// Moves corners into the rectangle; the texture coordinates follow at
// du/dx = 1 / (sx x texture width).
void ClampCorners(Corner c[4], const CornerClamp& clamp) {
  const float left = clamp.left, top = clamp.top, right = clamp.right, bottom = clamp.bottom;
  const float sx = clamp.sx, sy = clamp.sy, texWidth = clamp.texWidth, texHeight = clamp.texHeight;
  for (int i = 0; i < 4; i++) {
    Corner& k = c[i];
    float x = k.x < left ? left : k.x > right ? right : k.x;
    float y = k.y < top ? top : k.y > bottom ? bottom : k.y;
    if (x != k.x) {
      const float du = (x - k.x) / (sx * texWidth);
      k.u += du;
      k.bu += (x - k.x) * RenderState.blendInvWidth;
      k.x = x;
    }
    if (y != k.y) {
      k.v += (y - k.y) / (sy * texHeight);
      k.bv += (y - k.y) * RenderState.blendInvHeight;
      k.y = y;
    }
  }
}

void PieceCorners(Corner c[4], const GraphPiece& piece, float ox, float oy, float sx, float sy,
                  const GraphicHandleRecord* blend) {
  for (int i = 0; i < 4; i++) {
    const float* k = &piece.corners[i * 4];
    c[i].x = ox + k[0] * sx;
    c[i].y = oy + k[1] * sy;
    c[i].u = k[2];
    c[i].v = k[3];
    c[i].bu = c[i].bv = 0.0f;
    BlendCoords(&c[i], piece, k[0], k[1], blend);
  }
}

const GraphicHandleRecord* BlendRecord() {
  if (CurrentDrawState.blendGraph < 0 || RenderState.blendTexture == nullptr) return nullptr;
  return GetGraphicRecord(CurrentDrawState.blendGraph, 0);
}

int BuildAt(const ImageDraw& d, const GraphicHandleRecord* record) {
  if (!HasDirect3DDevice()) return -1;
  const float ox = d.x - 0.5f, oy = d.y - 0.5f;
  BeginDrawSceneOnce();
  PrepareFor(record, FlagWord(record, d.transparent, true));
  const GraphicHandleRecord* blend = BlendRecord();
  const RECT& a = CurrentDrawState.drawArea;
  const bool inside = d.ix >= a.left && d.iy >= a.top && d.ix + record->width - 1 < a.right &&
                      d.iy + record->height - 1 < a.bottom && d.x == static_cast<float>(d.ix) &&
                      d.y == static_cast<float>(d.iy);
  const float* f = CurrentDrawState.drawAreaF;
  for (int i = 0; i < record->pieceCount; i++) {
    const GraphPiece& piece = record->pieces[i];
    SelectPiece(piece, i);
    Corner c[4];
    PieceCorners(c, piece, ox, oy, 1.0f, 1.0f, blend);
    if (!inside && piece.entry != nullptr) {
      const CornerClamp clamp = {f[0],
                                 f[1],
                                 f[2],
                                 f[3],
                                 1.0f,
                                 1.0f,
                                 static_cast<float>(piece.entry->allocWidth),
                                 static_cast<float>(piece.entry->allocHeight)};
      ClampCorners(c, clamp);
    }
    AppendQuad(c, blend != nullptr);
  }
  return 0;
}

int BuildStretched(const ImageDraw& d, const GraphicHandleRecord* record) {
  if (!HasDirect3DDevice()) return -1;
  if (d.x == d.x2 || d.y == d.y2) return 0;
  const float sx = (d.x2 - d.x) / static_cast<float>(record->width);
  const float sy = (d.y2 - d.y) / static_cast<float>(record->height);
  BeginDrawSceneOnce();
  PrepareFor(record, FlagWord(record, d.transparent, CurrentDrawState.samplingMode != 1));
  const GraphicHandleRecord* blend = BlendRecord();
  const float* f = CurrentDrawState.drawAreaF;
  for (int i = 0; i < record->pieceCount; i++) {
    const GraphPiece& piece = record->pieces[i];
    SelectPiece(piece, i);
    Corner c[4];
    PieceCorners(c, piece, d.x - 0.5f, d.y - 0.5f, sx, sy, blend);
    if (piece.entry != nullptr) {
      const CornerClamp clamp = {f[0] - 0.5f,
                                 f[1] - 0.5f,
                                 f[2] - 0.5f,
                                 f[3] - 0.5f,
                                 sx,
                                 sy,
                                 static_cast<float>(piece.entry->allocWidth),
                                 static_cast<float>(piece.entry->allocHeight)};
      ClampCorners(c, clamp);
    }
    AppendQuad(c, blend != nullptr);
  }
  return 0;
}

bool NearAxis(double angle) {
  if (angle < -AXIS_TOLERANCE || angle > AXIS_UPPER_LIMIT) return true;
  for (double axis : AXIS_ANGLES) {
    if (fabs(angle - axis) <= AXIS_TOLERANCE) return true;
  }
  return false;
}

bool NearWhole(float v) { return fabsf(v - floorf(v + 0.5f)) <= WHOLE_TOLERANCE; }

int BuildRotated(const ImageDraw& d, const GraphicHandleRecord* record) {
  if (!HasDirect3DDevice() || d.scale == 0.0) return -1;
  BeginDrawSceneOnce();
  PrepareFor(record, FlagWord(record, d.transparent, false));
  const GraphicHandleRecord* blend = BlendRecord();
  double s = 0.0, co = 1.0;
  if (d.angle != 0.0) {
    s = sin(d.angle);
    co = cos(d.angle);
  }
  const int w = record->width, h = record->height;
  float cx = w * 0.5f, cy = h * 0.5f, X = d.x - 0.5f, Y = d.y - 0.5f;
  bool snap = false;
  if (CurrentDrawState.samplingMode != 0 && !d.exact) {
    // the centre of the image at the texel-centre offset
  } else if (fabsf(d.x - floorf(d.x)) >= FRACTION_EPSILON || fabsf(d.y - floorf(d.y)) >= FRACTION_EPSILON) {
    X = d.x, Y = d.y;
    snap = true;
  } else if (d.scale == 1.0) {
    const bool evenW = w % 2 == 0, evenH = h % 2 == 0;
    if (evenW && evenH) {
      cx = static_cast<float>(w / 2), cy = static_cast<float>(h / 2);
    } else {
      if (evenW) cx -= 0.5f;
      if (evenH) cy -= 0.5f;
      X = d.x, Y = d.y;
      if (d.exact && d.angle != 0.0 && (!evenW || !evenH) && NearAxis(d.angle)) snap = true;
    }
  }
  const float m = d.turn ? -1.0f : 1.0f;
  const float scale = static_cast<float>(d.scale);
  const float fs = static_cast<float>(s), fc = static_cast<float>(co);
  for (int i = 0; i < record->pieceCount; i++) {
    const GraphPiece& piece = record->pieces[i];
    SelectPiece(piece, i);
    Corner c[4];
    for (int k = 0; k < 4; k++) {
      const float* p = &piece.corners[k * 4];
      const float dx = m * scale * (p[0] - cx), dy = scale * (p[1] - cy);
      c[k].x = X + dx * fc - dy * fs;
      c[k].y = Y + dy * fc + dx * fs;
      c[k].u = p[2];
      c[k].v = p[3];
      c[k].bu = c[k].bv = 0.0f;
      BlendCoords(&c[k], piece, p[0], p[1], blend);
    }
    if (snap) {
      const bool vertical = fabsf(c[0].x - c[2].x) < EDGE_TOLERANCE || fabsf(c[0].x - c[1].x) < EDGE_TOLERANCE;
      const bool horizontal = fabsf(c[0].y - c[1].y) < EDGE_TOLERANCE || fabsf(c[0].y - c[2].y) < EDGE_TOLERANCE;
      if (vertical && NearWhole(c[0].x))
        for (Corner& k : c) k.x -= 0.5f;
      if (horizontal && NearWhole(c[0].y))
        for (Corner& k : c) k.y -= 0.5f;
    }
    AppendQuad(c, blend != nullptr);
  }
  return 0;
}

void ClampToArea(RECT* r) { ClipRect(r, &CurrentDrawState.drawArea); }

RECT DestinationRect(const ImageDraw& d, const GraphicHandleRecord* record) {
  RECT r;
  if (d.kind == DRAW_AT) {
    r = {d.ix, d.iy, d.ix + record->width, d.iy + record->height};
  } else if (d.kind == DRAW_STRETCHED) {
    r = {d.ix < d.ix2 ? d.ix : d.ix2, d.iy < d.iy2 ? d.iy : d.iy2, d.ix < d.ix2 ? d.ix2 : d.ix,
         d.iy < d.iy2 ? d.iy2 : d.iy};
  } else {
    const int w = record->width, h = record->height;
    const double left = -(w / 2), right = w - w / 2, top = -(h / 2), bottom = h - h / 2;
    const double px[4] = {left, right, left, right};
    const double py[4] = {top, top, bottom, bottom};
    const double s = sin(d.angle), c = cos(d.angle);
    double minX = BOUNDS_START, minY = BOUNDS_START, maxX = -BOUNDS_START, maxY = -BOUNDS_START;
    for (int i = 0; i < 4; i++) {
      const double x = (px[i] * c - py[i] * s) * d.scale, y = (py[i] * c + px[i] * s) * d.scale;
      minX = x < minX ? x : minX, maxX = x > maxX ? x : maxX;
      minY = y < minY ? y : minY, maxY = y > maxY ? y : maxY;
    }
    const int x = static_cast<int>(d.x), y = static_cast<int>(d.y);
    r = {x + static_cast<int>(floor(minX)), y + static_cast<int>(floor(minY)), x + static_cast<int>(ceil(maxX)),
         y + static_cast<int>(ceil(maxY))};
  }
  ClampToArea(&r);
  return r;
}

int DrawItself(const ImageDraw& d, GraphicHandleRecord* record) {
  if (record->image->format.textureBacked) {
    switch (d.kind) {
      case DRAW_AT: return BuildAt(d, record);
      case DRAW_STRETCHED: return BuildStretched(d, record);
      default: return BuildRotated(d, record);
    }
  }
  switch (d.kind) {
    case DRAW_AT: return SoftBlitImageAt(d.ix, d.iy, d.transparent, record);
    case DRAW_STRETCHED: return SoftBlitImageStretched(d.ix, d.iy, d.ix2, d.iy2, record, d.transparent);
    default: return SoftBlitImageRotated(d.x, d.y, d.scale, d.angle, record, d.transparent, d.turn);
  }
}

int RunImageDraw(const ImageDraw& d, int graphic) {
  if (!IsLibraryStarted()) return -1;
  if (CurrentDrawState.areaEmpty) return 0;
  WaitIfInactive();
  RefreshGraphicMovie(graphic);  // a movie graphic shows its current frame
  GraphicHandleRecord* record = GetGraphicRecord(graphic, 0);
  if (record == nullptr || record->image == nullptr) return -1;
  if (CurrentDrawState.blendGraph >= 0 && CheckBlendGraphSize(record) != 0) return -1;
  const bool emulate = SubtractEmulationNeeded() && record->image->format.textureBacked;
  const bool masked = MaskInUse();
  if (!emulate && !masked) return DrawItself(d, record);
  const DrawFrame frame = {DestinationRect(d, record), masked, emulate};
  return RunInDrawFrame(frame, [&](const RECT&) { return DrawItself(d, record); });
}

// The subtraction emulation's white box between two blend modes: the
// destination inverted (mode 3 at full strength), then the draw's mode.
void InvertingBox(const RECT& rect, int finalMode) {
  const int param = CurrentDrawState.blendParam;
  const uint32_t bright = CurrentDrawState.brightness;
  if (bright != WHITE_TINT) SetDrawTint(255, 255, 255);
  SetBlendMode(BLEND_SUBTRACT, 255);
  DrawFilledBoxHW(rect.left, rect.top, rect.right, rect.bottom, MakeColorValue(255, 255, 255), rect);
  if (bright != WHITE_TINT) SetDrawTintPacked(bright);
  SetBlendMode(finalMode, param);
}

}  // namespace

int SubtractEmulationNeeded() {
  return CurrentDrawState.blendMode == BLEND_SUBTRACT && !DeviceCaps.subtractBlendNative ? 1 : 0;
}

void BeginDrawFrame(const DrawFrame& frame) {
  if (frame.masked) BeginMaskedDraw(frame.dest);
  // Inverting the destination turns the subtraction into an addition
  // (mode 5) between two inversions.
  if (frame.emulate) InvertingBox(frame.dest, BLEND_INVERTED_ADD);
}

void EndDrawFrame(const DrawFrame& frame) {
  if (frame.emulate) InvertingBox(frame.dest, BLEND_SUBTRACT);
  if (frame.masked) ApplyMaskToScreen(frame.dest);
}

int DrawImageAt(int x, int y, int graphic, int transparent) {
  ImageDraw d = {};
  d.kind = DRAW_AT;
  d.ix = x, d.iy = y;
  d.x = static_cast<float>(x), d.y = static_cast<float>(y);
  d.transparent = transparent;
  return RunImageDraw(d, graphic);
}

int DrawImageAtF(float x, float y, int graphic, int transparent) {
  ImageDraw d = {};
  d.kind = DRAW_AT;
  d.ix = static_cast<int>(x), d.iy = static_cast<int>(y);
  d.x = x, d.y = y;
  d.transparent = transparent;
  return RunImageDraw(d, graphic);
}

int DrawImageStretched(int x1, int y1, int x2, int y2, int graphic, int transparent) {
  ImageDraw d = {};
  d.kind = DRAW_STRETCHED;
  d.ix = x1, d.iy = y1, d.ix2 = x2, d.iy2 = y2;
  d.x = static_cast<float>(x1), d.y = static_cast<float>(y1);
  d.x2 = static_cast<float>(x2), d.y2 = static_cast<float>(y2);
  d.transparent = transparent;
  return RunImageDraw(d, graphic);
}

int DrawImageStretchedF(float x1, float y1, float x2, float y2, int graphic, int transparent) {
  if (x1 == x2 || y1 == y2) return -1;
  ImageDraw d = {};
  d.kind = DRAW_STRETCHED;
  d.ix = static_cast<int>(x1), d.iy = static_cast<int>(y1), d.ix2 = static_cast<int>(x2), d.iy2 = static_cast<int>(y2);
  d.x = x1, d.y = y1, d.x2 = x2, d.y2 = y2;
  d.transparent = transparent;
  return RunImageDraw(d, graphic);
}

int DrawImageTurned(int x, int y, int graphic, int transparent) {
  int w, h;
  if (GetGraphicRecord(graphic, 0) == nullptr || GetGraphicSize(graphic, &w, &h) != 0) return -1;
  return DrawImageStretched(x + w, y, x, y + h, graphic, transparent);
}

int DrawImageTurnedF(float x, float y, int graphic, int transparent) {
  int w, h;
  if (GetGraphicRecord(graphic, 0) == nullptr || GetGraphicSize(graphic, &w, &h) != 0) return -1;
  return DrawImageStretchedF(x + w, y, x, y + h, graphic, transparent);
}

namespace {

ImageDraw RotatedDraw(float x, float y, double scale, double angle, int transparent, int turn) {
  ImageDraw d = {};
  d.kind = DRAW_ROTATED;
  d.ix = static_cast<int>(x), d.iy = static_cast<int>(y);
  d.x = x, d.y = y;
  d.scale = scale, d.angle = angle;
  d.transparent = transparent, d.turn = turn;
  return d;
}

}  // namespace

int DrawImageRotated(float x, float y, double scale, double angle, int graphic, int transparent, int turn) {
  return RunImageDraw(RotatedDraw(x, y, scale, angle, transparent, turn), graphic);
}

int DrawImageRotatedExact(float x, float y, double scale, double angle, int graphic, int transparent, int turn) {
  ImageDraw d = RotatedDraw(x, y, scale, angle, transparent, turn);
  d.exact = 1;
  return RunImageDraw(d, graphic);
}

int DrawImageRect(int x, int y, int sourceX, int sourceY, int width, int height, int graphic, int transparent,
                  int turn) {
  if (width < 1 || height < 1) return -1;
  RECT area = {x, y, x + width, y + height};
  ClipRect(&area, &CurrentDrawState.drawArea);
  const DrawAreaScope narrowed(area);
  if (!turn) return DrawImageAt(x - sourceX, y - sourceY, graphic, transparent);
  const GraphicHandleRecord* record = GetGraphicRecord(graphic, 0);
  if (record == nullptr) return -1;
  return DrawImageTurned(x - record->width + sourceX + width, y - sourceY, graphic, transparent);
}
