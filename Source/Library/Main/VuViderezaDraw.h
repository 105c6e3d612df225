// Drawing on the device: the graphics draw state and its setters, the 2-D
// vertex batch, the device preparation for a draw (flag word, blend table,
// shader choice or fixed-function stage programs) and the image draw calls
// with their quad builders. The software path and the shapes, quads and
// mask screen they reach are declared at the end.
#ifndef VUVIDEREZA_DRAW_H
#define VUVIDEREZA_DRAW_H

#include <windows.h>
#include <d3d9.h>
#include <stdint.h>

#include "RiRerEzi.h"
#include "RiDov.h"

struct GraphicHandleRecord;

// ---------------------------------------------------------------------------
// Draw state.

// Screen values of the draw target.
enum {
  SCREEN_BACK = -2,
  SCREEN_FRONT = -4,
};

// One Z setting set (the draw state keeps two; flag bit 11 picks the second).
struct DrawZSetting {
  int enable, write, func, bias;
};

struct GraphicsDrawState {
  int blendMode;
  int blendParam;          // 0..255
  int blendGraph;          // -1 none
  int blendGraphKind;      // 0, 1, 2
  int blendGraphParam[2];  // kind 1: 0..255 each
  int alphaTestMode;       // -1: the draw chooses
  int alphaTestRef;
  uint32_t brightness;  // 0x00RRGGBB
  int zBufferGraph;     // no live graphic: none
  int samplingMode;     // 0 point, 1 bilinear, 2 anisotropic
  RECT drawArea;        // right and bottom exclusive
  float drawAreaF[4];   // left, top, right, bottom
  RECT requestedArea;   // as passed to SetClipRect
  int areaEmpty;
  int drawTarget;  // graphic handle or screen value
  int drawSurfaceIndex;
  int drawScreenWidth, drawScreenHeight;
  int destinationBlend;  // the target is a texture-backed render target
  int fogMode;           // 0 none, 1 exp, 2 exp2, 3 linear
  uint32_t fogColor;     // 0xFFRRGGBB
  float fogStart, fogEnd;
  int fogEnable;          // the draw state's fog switch (flag bit 7)
  uint32_t diffuseColor;  // MakeDrawDiffuseColor, hardware mode
  float drawZ;            // 0.2
  DrawZSetting zSettings[2];
  int fillMode;
  int cullMode;            // flag bit 14
  int addressU, addressV;  // flag bit 12
  int maxAnisotropy;
  int specularSwitch;
  int diffuseSource, specularSource;
  int userShaderSwitch;
  int ignoreColor;
  int lockedState;  // a filter's locked draw settings
};
extern GraphicsDrawState CurrentDrawState;

// Setters: 0 on success or when nothing changes, -1 on failure.
void SetDrawTintPacked(uint32_t rgb);
// The draw target with the surface drawn into: face 0..5 of a cube
// render-target graphic (0 for any other target). 0 / -1.
int SetDrawTargetFace(int target, int face);
int GetDrawTargetSurfaceIndex();
uint32_t MakeDrawDiffuseColor();
int CheckBlendGraphSize(const GraphicHandleRecord* record);
float* MakeFloat4(float* out, float a, float b, float c, float d);
// The graphics draw state to its start values (graphics start-up).
void ResetGraphicsDrawState();
// The draw target's render surface (a graphic's multi-sample surface or its
// surface at the draw surface index; for a screen the sub back buffer or the
// back buffer); null without one.
IDirect3DSurface9* GetDrawTargetSurface();
// Sets the depth-stencil surface for the current draw target: the Z-buffer
// graphic's own depth surface when it covers the target, else the default.
int ApplyDepthStencilForDrawTarget();
// Sets the draw area without touching the device viewport and scissor (the
// quad builders clip on the CPU); the software draw area follows.
void SetDrawAreaNoViewport(const RECT* area);
// Narrows the draw area (as SetDrawAreaNoViewport) for the scope's life;
// the draw area and its empty mark come back at its end.
class DrawAreaScope {
 public:
  explicit DrawAreaScope(const RECT& area) : saved(CurrentDrawState.drawArea), savedEmpty(CurrentDrawState.areaEmpty) {
    SetDrawAreaNoViewport(&area);
  }
  ~DrawAreaScope() {
    SetDrawAreaNoViewport(&saved);
    CurrentDrawState.areaEmpty = savedEmpty;
  }
  DrawAreaScope(const DrawAreaScope&) = delete;
  DrawAreaScope& operator=(const DrawAreaScope&) = delete;

 private:
  const RECT saved;
  const int savedEmpty;
};
// Draws through the device's clip rectangle (viewport and scissor) for the
// scope's life; the draw area comes back at its end.
class ClipRectScope {
 public:
  explicit ClipRectScope(const RECT& clip) : saved(CurrentDrawState.drawArea) {
    SetClipRect(clip.left, clip.top, clip.right, clip.bottom);
  }
  ~ClipRectScope() { SetClipRect(saved.left, saved.top, saved.right, saved.bottom); }
  ClipRectScope(const ClipRectScope&) = delete;
  ClipRectScope& operator=(const ClipRectScope&) = delete;

 private:
  const RECT saved;
};
// When active: no blend graphic for the scope's life; the blend graphic and
// the tint (draws inside may tint) come back at its end.
class BlendAndTintScope {
 public:
  explicit BlendAndTintScope(bool active)
      : active(active), tint(CurrentDrawState.brightness), blendGraph(active ? CurrentDrawState.blendGraph : -1),
        kind(CurrentDrawState.blendGraphKind), params{CurrentDrawState.blendGraphParam[0],
                                                      CurrentDrawState.blendGraphParam[1]} {
    if (blendGraph >= 0) SetBlendImageTwoParams(-1, 0, 0);
  }
  ~BlendAndTintScope() {
    if (!active) return;
    SetDrawTintPacked(tint);
    if (blendGraph >= 0) SetBlendGraph(blendGraph, kind, params);
  }
  BlendAndTintScope(const BlendAndTintScope&) = delete;
  BlendAndTintScope& operator=(const BlendAndTintScope&) = delete;

 private:
  const bool active;
  const uint32_t tint;
  const int blendGraph;
  const int kind;
  const int params[2];
};

// ---------------------------------------------------------------------------
// 2-D vertex batch.

enum {
  VERTEX_CLASS_2D = 0,
  VERTEX_CLASS_3D = 1,
  VERTEX_KIND_PLAIN = 0,  // untextured
  VERTEX_KIND_TEX = 1,    // one texture
  VERTEX_KIND_BLEND = 2,  // blend graphic + image
  VERTEX_2D_KINDS = 3,
  VERTEX_3D_KINDS = 2,
  VERTEX_3D_BUFFER_BYTES = 65536,
};

struct Vertex2D {  // kind 0 and 1: FVF 0x144
  float x, y, z, rhw;
  DWORD color;
  float u, v;
};
struct Vertex2DTex2 {  // FVF 0x244
  float x, y, z, rhw;
  DWORD color;
  float u1, v1, u2, v2;
};
struct Vertex2DTex3 {  // FVF 0x3C4
  float x, y, z, rhw;
  DWORD color, specular;
  float u1, v1, u2, v2, u3, v3;
};
struct Vertex3D {  // FVF 0x42
  float x, y, z;
  DWORD color;
};
struct Vertex3DTex {  // FVF 0x142
  float x, y, z;
  DWORD color;
  float u, v;
};

struct VertexFormatInfo {
  DWORD fvf;
  int stride;
  int capacity;
};
// Indexed by class x 3 + kind.
extern const VertexFormatInfo VertexFormats[6];

struct VertexBatchState {
  int vertexClass;
  int kind;
  int primitiveType;
  int count;
  unsigned char* write;
  int drawNothing;
};
extern VertexBatchState VertexBatch;

// Draws what the batch holds (post non-zero: runs the flush on the main
// thread and waits). 0, or -1 without a device.
int FlushVertexBatch(int post);
int FlushDrawBatch();
// Room for six vertices of a class-0 triangle-list quad of the kind: flushes
// first when the batch is of another class, type or kind or is full; returns
// the write position and counts the six vertices.
void* AppendBatchQuad(int kind);
// Flushes and starts an empty batch of the class, kind and primitive type;
// returns the start of its buffer.
void* BeginVertexBatch(int vertexClass, int kind, int primitiveType);
// Primitives of n vertices of a Direct3D primitive type (0 for others).
int PrimitiveCount(int type, int n);
// The buffer of (class, kind).
void* GetVertexBatchBuffer(int vertexClass, int kind);
// The buffers pre-filled (z 0, rhw 1, specular white) and the batch emptied.
void ResetVertexBatchBuffers();
// Flushes, then copies the rectangle of render target 0 to the same rectangle
// of the destination work surface. The device result.
int StretchDrawTargetToWork(const RECT* rect);
// The destination work surface of a texture-backed render-target draw target
// (null: none).
extern IDirect3DSurface9* DrawTargetWorkSurface;

// Textures one batch of one-texture quads can sample (shader model 2 path).
enum { BATCH_TEXTURE_SLOTS = 4 };
// For a texture change of the draw state: binds the texture to one of the
// batch's samplers (a free one, or the one that holds it) so that the quads
// appended next sample it, with no flush. 1 done; 0 when the batch is empty,
// holds other vertices, is drawn another way (fixed-function stages, a blend
// graphic, user textures, destination copy) or has no free sampler: the
// caller flushes and binds the texture itself.
int JoinBatchTexture(IDirect3DBaseTexture9* texture);
// Textures the batch's quads sample (1 when the set is not open).
int GetBatchTextureCount();
// The selecting shaders released (device release and rebuild).
void ReleaseBatchShaders();
// A viewport or scissor change while the batch holds vertices: kept for the
// flush (which the next vertices then force), or a kept one cancelled when
// the value is set back (`same`: equal to the device's). 1 when handled so;
// 0: the caller sends as usual.
int HoldViewportChange(const D3DVIEWPORT9* viewport, bool same);
int HoldScissorChange(const RECT* rect, bool same);
// 1 while a viewport or scissor change waits for the flush.
int BatchHoldsClipChange();
// 1 when a projection change may wait for the flush (the batch holds
// pre-transformed vertices drawn without a vertex shader or fog); the flush
// then sends the stored projection.
int HoldProjectionChange();

// ---------------------------------------------------------------------------
// Device preparation.

// Per-draw flag word.
enum {
  DRAW_FLAG_TRANSPARENT = 0x1,
  DRAW_FLAG_PIXEL_EXACT = 0x2,
  DRAW_FLAG_GOURAUD = 0x8,
  DRAW_FLAG_USE_COLOR = 0x20,
  DRAW_FLAG_USE_ALPHA = 0x40,
  DRAW_FLAG_FOG = 0x80,
  DRAW_FLAG_KEEP_SELECTION = 0x100,
  DRAW_FLAG_LIGHTING = 0x200,
  DRAW_FLAG_SPECULAR = 0x400,
  DRAW_FLAG_Z_SET_2 = 0x800,
  DRAW_FLAG_ADDRESS_MODES = 0x1000,
  DRAW_FLAG_USER_SHADERS = 0x2000,
  DRAW_FLAG_CULL = 0x4000,
  DRAW_FLAG_TRANS_COLOR = 0x8000,
  DRAW_FLAG_ALPHA_CHANNEL = 0x10000,
  DRAW_FLAG_EXTRA_SELECT = 0x20000,
};

enum { BLEND_TABLE_ROWS = 23, USER_TEXTURE_STAGES = 16 };

// One row of the blend table: device factors (0 = keep the device's), shader
// variant, blend operation, blending on.
struct BlendTableRow {
  int destBlend, srcBlend, variant, blendOp, enable;
};
extern const BlendTableRow BlendTable[BLEND_TABLE_ROWS];

// A user texture set-up: count stage entries, each a graphic or shadow-map
// handle (handles flag 1) or a texture object (handles flag 0).
struct UserTextureStage {
  int handle;
  IDirect3DBaseTexture9* texture;
};
struct UserTextureSetup {
  int count;
  UserTextureStage stages[USER_TEXTURE_STAGES];
};

// What the last full preparation chose (tests and the builders read it).
struct DrawPreparation {
  int row;           // blend-table row
  int vertexKind;    // 0, 1, 2
  int programmable;  // 1: pixel shader, 0: stage program
  int shaderIndex;   // in the base shader table of the path (-1 none)
  int stageCount;
  int alphaTestOn, alphaFunc, alphaRef;
  DWORD textureFactor;
  int forceFixedFunction;  // 1: the stage programs even with shaders
  IDirect3DBaseTexture9* lastTexture;
  int lastFlags;
  int lastValid;
  int userSetupOn;
  int userSetupValue;
  UserTextureSetup userSetup;
};
extern DrawPreparation DrawPrep;

void ApplyDrawStateForTexture(IDirect3DBaseTexture9* texture, int flags);
// 0 done, -1 without a device or when nothing needed doing. The stage-program
// flag is taken for the documented call form; the steps choose the program.
int PrepareGraphicDrawState(const UserTextureSetup* setup, int stageProgram, int handles);
int PrepareGraphicDrawStateNow(const UserTextureSetup* setup, int stageProgram, int handles);
int SetUserTextureSetup(const UserTextureSetup* setup, int value);
// True when a builder must apply the draw state for (texture, flags).
bool DrawStateApplyNeeded(IDirect3DBaseTexture9* texture, int flags);
void ForgetLastDrawSetup();
// Untextured draw state for the shapes (flag word as the builders pass it).
void PrepareUntexturedDrawState();
// -1 without a device or for a slot above 15.
int SetRenderTargetCached(IDirect3DSurface9* surface, int slot);
IDirect3DSurface9* GetCachedRenderTarget(int slot);
// Forgets the cached render targets (device start and rebuild).
void ForgetCachedRenderTargets();
// The fixed-function stage programs even where pixel shaders are usable.
int SetForceFixedFunction(int on);
// The texture the preparation last bound to a stage, and one stage's
// texture bound through that record (the batch's texture set).
IDirect3DBaseTexture9* GetStageTexture(int stage);
void SetStageTexture(int stage, IDirect3DBaseTexture9* texture);
// The drawing pixel shader the preparation chose; setting one puts it on the
// device as the chosen one (the batch's selecting shader and back).
IDirect3DPixelShader9* GetChosenDrawShader();
void SetChosenDrawShader(IDirect3DPixelShader9* shader);

// ---------------------------------------------------------------------------
// Image draws: 0 on success or when the draw area is empty, -1 on failure.

// The rotated quad builder with the pixel-exact request (the rotated draws
// about a point use it).
int DrawImageRotatedExact(float x, float y, double scale, double angle, int graphic, int transparent, int turn);

// The frame around one draw: the mask screen's begin and apply outside, the
// subtraction emulation's inverting boxes inside (a device without blend
// operations), both over the draw's destination rectangle.
struct DrawFrame {
  RECT dest;     // clamped to the draw area
  bool masked;   // the mask screen is in use
  bool emulate;  // blend mode 3 is emulated
};
void BeginDrawFrame(const DrawFrame& frame);
void EndDrawFrame(const DrawFrame& frame);
// Runs draw(dest) inside the frame; the draw copies the destination over
// dest when it blends with it. The draw's result.
template <class Draw>
int RunInDrawFrame(const DrawFrame& frame, Draw&& draw) {
  BeginDrawFrame(frame);
  const int result = draw(frame.dest);
  EndDrawFrame(frame);
  return result;
}
// 1 when mode 3 must be emulated for a texture draw.
int SubtractEmulationNeeded();

// ---------------------------------------------------------------------------
// Called here, built with the software path, shapes and mask screen.

int SoftBlitImageAt(int x, int y, int transparent, GraphicHandleRecord* record);
int SoftBlitImageStretched(int x1, int y1, int x2, int y2, GraphicHandleRecord* record, int transparent);
int SoftBlitImageRotated(float x, float y, double scale, double angle, GraphicHandleRecord* record, int transparent,
                         int turn);
int DrawFilledBoxHW(int x1, int y1, int x2, int y2, unsigned int color, const RECT& dest);
int BeginMaskedDraw(RECT rect);
int ApplyMaskToScreen(RECT rect);
int GetMaskUseFlag();
int SwitchMaskScreenUse(int flag);
int CreateMaskScreen(int requested, int width, int height);
// 1 when the mask screen is requested (exists for re-creation).
int IsMaskScreenRequested();
// The mask screen's colour buffer surface / software work image while it is
// active; null otherwise.
IDirect3DSurface9* GetActiveMaskSurface();
MEMIMG* GetActiveMaskWorkImage();

#endif  // VUVIDEREZA_DRAW_H
