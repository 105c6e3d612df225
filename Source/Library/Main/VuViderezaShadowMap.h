// Shadow maps (handle type 18): a render-target texture of depth-like
// values seen from a directional light, its own depth-stencil surface, and
// the light's orthographic view fitted around the area to be shadowed.
#ifndef VUVIDEREZA_SHADOWMAP_H
#define VUVIDEREZA_SHADOWMAP_H

#include <windows.h>
#include <d3d9.h>

#include "VeRavoro.h"
#include "VuViderezaMath.h"
#include "RiDov.h"

enum { SHADOWMAP_SLOT_COUNT = 2, SHADOWMAP_HANDLE_MAX = 8192 };

struct ShadowMapRecord {
  HandleRecordHeader header;
  unsigned char floatData;  // 1: a floating-point texture format
  unsigned char dataBits;   // 16, or 32 for any other request
  int width, height;        // -1 until made
  int beingDrawn;
  Matrix4 lightView;  // basis with the fitted translation in the last row
  Vector3 viewTranslation;
  float projectionScale[3];  // 2 / width, 2 / height, 1 / depth of the fitted box
  float one;
  float bias;              // 0.002
  int blurCount;           // Gauss strength (hundredths) when drawing ends, 0 none
  float bias2;             // 0.0007
  Vector3 lightDirection;  // unit length
  Matrix4 lightBasis;      // columns: the light's x, y and z axes
  // The fit reads the area box's corners, or with useViewVolume the
  // camera's view volume.
  Vector3 areaCorners[8];
  int useViewVolume;
  IDirect3DTexture9* texture;
  IDirect3DSurface9* surface;  // level 0 of the texture
  IDirect3DSurface9* depthSurface;
  // What drawing into the map replaced, put back when it ends.
  struct SavedDrawState {
    int targets[16], surfaces[16];  // render targets 0-15 (0: the draw target)
    RECT drawArea;                  // as last asked of SetClipRect
    Vector3 position, target, up;
    float verticalRotation, horizontalRotation, twist;
    Matrix4 viewCopy, view;
    float zNear, zFar, fieldOfView, orthoHeight, aspectScale;
    int projectionMode;
    Matrix4 userProjection, projection;
  } saved;
};

struct ShadowMapState {
  int slots[SHADOWMAP_SLOT_COUNT];  // 0 = none
  int drawingHandle;                // the map being drawn into, 0 none
  int drawing;
};
extern ShadowMapState ShadowMaps;

// The public calls (MakeShadowMap, its setters and getters) are in RiDov.h.

int InitShadowMapRecord(HandleRecordHeader* header);
int CreateShadowMapSurfaces(ShadowMapRecord* record, int async);
int UpdateShadowMapMatrices(ShadowMapRecord* record);
int ReleaseShadowMapHandleRecord(HandleRecordHeader* header);

// Light basis of a direction: the unit direction as the third axis, the
// first from its cross product with (0, 1, 0), or (1, 0, 0) when that is
// shorter than 1e-7; the second from the other two. Columns hold the axes.
void BuildShadowLightBasis(Matrix4* basis, Vector3* unitDirection, float x, float y, float z);

// Drawing into a map: render target 0 becomes the map (with its own depth
// surface) and the light's view and projection replace the camera's.
// SetDrawTarget with a map's handle calls BeginShadowMapDraw and makes the
// map the draw target; the next draw-target switch (or EndShadowMapDraw)
// ends it, putting back the draw target, further render targets, draw
// area, camera, view and projection: 0, or -1 when no map is being drawn.
int BeginShadowMapDraw(int handle);
// The handle of the map being drawn into (0 none).
int GetShadowMapBeingDrawn();
// The depth-stencil surface for the current draw target (a map being drawn
// uses its own; the rule is with the draw state).
int ApplyDepthStencilForDrawTarget();
// Shadow constants of the two slots: vertex float registers 44-50 / 51-57
// (rows of the light view-projection into texture space, then biases, size,
// direction, scales, in-use flag; a neutral block for an empty slot) and
// pixel float registers 18-21 (biases of both slots, then a flag per slot
// for each of six lights: 1.0 when the light is on and the slot in use).
void UpdateShadowMapVertexConstants();
void UpdateShadowMapShaderConstants();
// The seven vertex registers of one slot (28 floats), as sent.
void BuildShadowMapVertexBlock(const ShadowMapRecord* record, float out[28]);

// Device rebuild: every map's device objects released / made again.
int ReleaseAllShadowMapSurfaces();
int RecreateAllShadowMapSurfaces();

#endif  // VUVIDEREZA_SHADOWMAP_H
