// Graphic views, screen copies and read-back: views of a rectangle of a
// graphic, copies from the draw target or the back buffer into a graphic,
// read-back of a graphic's texture or the back buffer, the cached work
// render targets, the destination-blend set-up and multi-sample resolution.
#ifndef VUVIDEREZA_GRAPH_VIEW_H
#define VUVIDEREZA_GRAPH_VIEW_H

#include <windows.h>
#include <d3d9.h>

#include "ReReziRader.h"
#include "VuViderezaGraph.h"
#include "RiDov.h"

enum { WORK_TARGET_CACHE_SIZE = 64 };

// Destination blending: the work copy of the current render-target graphic.
struct DestinationBlendSetup {
  IDirect3DTexture9* workTexture;
  IDirect3DSurface9* targetSurface;
  IDirect3DSurface9* workSurface;
  float invWidth, invHeight;  // of the work texture
  int workHandle;             // the work render-target graphic, 0 none
  int active;
};
extern DestinationBlendSetup DestinationBlend;

// A view of (x, y, w, h) of source: the point must lie inside it, the size
// is clipped. The new handle or -1 (nothing left behind).
int CreateDerivedGraph(int x, int y, int width, int height, int source, int acceptPending);

// DrawGraphRectStretchedF (RiDov.h) draws through a temporary view.

// Rectangle rect (right and bottom exclusive) of source (a graphic's first
// texture, face index face; any other value: the back buffer) into target
// at (dx, dy).
int CopyScreenRectToGraph(int source, int face, const RECT& rect, int dx, int dy, int target);
// CopyDrawTargetRectToGraph (RiDov.h) copies from the current draw target.

// Locks rect of the source (-1: the draw target; a graphic: its texture of
// that index, face face; else the back buffer) for reading and describes it
// in out; EndGraphicPixelReadBack gives it back. The rectangle must lie
// inside the source surface. 0 / -1.
int ReadBackGraphicPixels(const RECT* rect, BaseImageRecord* out, int source, int face, int readOnly, int textureIndex);
int EndGraphicPixelReadBack();

// A cached square drawable graphic of the smallest power of two not below
// max(w, h), per float-ness and slot (0 or 1). The handle or -1.
int GetWorkRenderTargetGraph(int floatFlag, int width, int height, int slot);
// After a draw-target change: the destination copy for a texture-backed
// render-target graphic with alpha as draw target (no further render target
// set), else off; the draw state's destination-blend switch and the work
// surface follow it. 0 / -1.
int UpdateDrawTargetBlendTexture();
// A deleted work render target leaves the destination copy off.
void ForgetDestinationBlendGraph(int handle);

int ResolveMultiSampleSurface(GraphTextureEntry* entry, int face);
int IsMultiSampleGraph(int handle);

#endif  // VUVIDEREZA_GRAPH_VIEW_H
