// The 2-D vertex batch: fixed system-memory buffers per vertex format, the
// append rule of the quad builders and the flush through DrawPrimitiveUP;
// the copy of the render target into the destination work surface.
// A batch of one-texture quads drawn through the drawing shaders may sample
// up to BATCH_TEXTURE_SLOTS textures: a texture change binds the new texture
// to a free sampler and switches to the shader that takes each quad's sample
// from the sampler its second coordinate set names (written at the flush),
// so the batch goes on without a draw. The flush puts back the one-texture
// binding and shader. Device state the batched vertices do not read yet is
// held until the flush: viewport and scissor changes (a change of them
// flushes before the next vertices are added, and setting the old value
// back cancels it) and, for pre-transformed vertices, the projection.
// Threads: main thread; a worker's flush is posted to the main thread.
// Platform: IDirect3DDevice9 SetFVF, DrawPrimitiveUP, SetTransform,
// SetTexture, SetPixelShader, CreatePixelShader, StretchRect through the
// device call table.
#include <string.h>

#include <stdio.h>

#include "DiDAridIrer.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaMath.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShaderCode.h"
#include "VuViderezaTransform.h"

const VertexFormatInfo VertexFormats[6] = {
    {D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, 28, 2304},
    {D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2, 36, 1820},
    {D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX3, 48, 1365},
    {D3DFVF_XYZ | D3DFVF_DIFFUSE, 16, 4096},
    {D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1, 24, 2730},
    {0, 0, 0},
};

VertexBatchState VertexBatch;
IDirect3DSurface9* DrawTargetWorkSurface = nullptr;

namespace {

enum {
  TEX_BATCH_QUADS = 1820 / 6,                     // quads the one-texture buffer holds
  BATCH_SELECTIONS = 56,                          // textured shader choices without a blend graphic
  BATCH_SHADER_COUNTS = BATCH_TEXTURE_SLOTS - 1,  // shaders for 2 .. slots textures
};

unsigned char Buffer2D0[2304 * 28];
unsigned char Buffer2D1[1820 * 36];
unsigned char Buffer2D2[1365 * 48];
unsigned char Buffer3D[VERTEX_3D_BUFFER_BYTES];

// The textures of a batch of one-texture quads. Inactive (count 0) while
// the quads sample one texture the ordinary way.
struct BatchTextureSet {
  IDirect3DBaseTexture9* textures[BATCH_TEXTURE_SLOTS];
  int count;                      // samplers 0 .. count - 1 hold textures[]; 2 or more: the selecting shader is on
  int current;                    // slot of the quads that follow
  int selection;                  // the drawing shader choice the set was opened under
  IDirect3DPixelShader9* single;  // that choice's one-texture shader
  int quadsOnly;                  // the batch was filled by AppendBatchQuad alone
  unsigned char quadSlots[TEX_BATCH_QUADS];
  IDirect3DPixelShader9* shaders[BATCH_SHADER_COUNTS][BATCH_SELECTIONS];  // made on first use
};
BatchTextureSet BatchTextures;

// Device state set while the batch holds vertices, sent at its flush.
struct HeldDeviceState {
  int viewport;
  D3DVIEWPORT9 viewportValue;
  int scissor;
  RECT scissorValue;
  int projection;
};
HeldDeviceState Held;

unsigned char* BufferOf(int vertexClass, int kind) {
  if (vertexClass == VERTEX_CLASS_3D) return Buffer3D;
  return kind == 0 ? Buffer2D0 : kind == 1 ? Buffer2D1 : Buffer2D2;
}

const VertexFormatInfo& FormatOf(int vertexClass, int kind) { return VertexFormats[vertexClass * 3 + kind]; }

int FlushOnMainThread(MainThreadRequest*) { return FlushVertexBatch(0); }

void ResetWrite() {
  VertexBatch.count = 0;
  VertexBatch.write = BufferOf(VertexBatch.vertexClass, VertexBatch.kind);
  BatchTextures.quadsOnly = 1;
}

bool IsQuadBatchOfKind(int kind) {
  return VertexBatch.vertexClass == VERTEX_CLASS_2D && VertexBatch.primitiveType == D3DPT_TRIANGLELIST &&
         VertexBatch.kind == kind;
}

// Each quad's slot into its vertices' second coordinate set.
void WriteQuadSlots() {
  Vertex2DTex2* v = reinterpret_cast<Vertex2DTex2*>(Buffer2D1);
  const int quads = VertexBatch.count / 6;
  for (int q = 0; q < quads; q++, v += 6) {
    const float slot = static_cast<float>(BatchTextures.quadSlots[q]);
    for (int i = 0; i < 6; i++) v[i].u2 = slot;
  }
}

// The one-texture binding and shader back: the current texture on sampler
// 0, the other samplers empty.
void CloseBatchTextures() {
  BatchTextureSet& s = BatchTextures;
  if (s.count > 1) {
    SetStageTexture(0, s.textures[s.current]);
    for (int i = 1; i < s.count; i++) SetStageTexture(i, nullptr);
    SetChosenDrawShader(s.single);
  }
  s.count = 0;
  s.current = 0;
}

void ReleaseHeldState() {
  if (Held.viewport) {
    Held.viewport = 0;
    SetViewportCached(&Held.viewportValue);
  }
  if (Held.scissor) {
    Held.scissor = 0;
    SetScissorRectCached(&Held.scissorValue);
  }
  if (Held.projection) {
    Held.projection = 0;
    SendStoredProjection();
  }
}

IDirect3DPixelShader9* BatchShader(int count, int selection) {
  IDirect3DPixelShader9*& shader = BatchTextures.shaders[count - 2][selection];
  if (shader != nullptr) return shader;
  const int ach = selection % 2, igtalpha = selection / 2 % 2, igcolor = selection / 4 % 2, type = selection / 8;
  char name[64];
  snprintf(name, sizeof name, "ps_batch%d_type%d_igcolor%d_igtalpha%d_ach%d.pso", count, type, igcolor, igtalpha, ach);
  const void* code = nullptr;
  uint32_t size = 0;
  if (FindShaderCode(1, name, &code, &size) != 0 || size == 0) return nullptr;
  if (CreateDevicePixelShader(static_cast<const DWORD*>(code), &shader) != D3D_OK) shader = nullptr;
  return shader;
}

// Opens the set on what sampler 0 and the chosen shader hold; false when
// the batch's quads were not drawn that way.
bool OpenBatchTextures(int selection) {
  BatchTextureSet& s = BatchTextures;
  IDirect3DPixelShader9* single = GetChosenDrawShader();
  IDirect3DBaseTexture9* first = GetStageTexture(0);
  if (single == nullptr || single != RenderState.pixelShader || first == nullptr) return false;
  s.textures[0] = first;
  s.count = 1;
  s.current = 0;
  s.selection = selection;
  s.single = single;
  // The selecting shaders read the slot through stage 1's coordinates.
  StageCache& stage1 = RenderState.stages[1];
  if (!(stage1.set & 1) || stage1.texCoordIndex != 1) {
    SetDeviceTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
    stage1.texCoordIndex = 1;
    stage1.set |= 1;
  }
  return true;
}

}  // namespace

int FlushVertexBatch(int post) {
  if (post != 0 && IsASyncLoadWorkerThread()) {
    MainThreadRequest request = {};
    request.function = FlushOnMainThread;
    return PostMainThreadRequest(&request);
  }
  if (!HasDirect3DDevice()) return -1;
  if (VertexBatch.count != 0 && !GetEndRequestFlag()) {
    BeginDrawSceneOnce();
    if (!VertexBatch.drawNothing) {
      if (BatchTextures.count > 1 && IsQuadBatchOfKind(VERTEX_KIND_TEX)) WriteQuadSlots();
      const VertexFormatInfo& format = FormatOf(VertexBatch.vertexClass, VertexBatch.kind);
      if (RenderState.fvf != format.fvf) {
        SetDeviceFVF(format.fvf);
        RenderState.fvf = format.fvf;
        RenderState.declaration = nullptr;
      }
      const int primitives = PrimitiveCount(VertexBatch.primitiveType, VertexBatch.count);
      const void* vertices = BufferOf(VertexBatch.vertexClass, VertexBatch.kind);
      if (VertexBatch.vertexClass == VERTEX_CLASS_3D) {
        Matrix4 identity;
        CreateIdentityMatrix(&identity);
        ApplyWorldMatrixToDevice(&identity);
        DrawDevicePrimitiveUP(static_cast<D3DPRIMITIVETYPE>(VertexBatch.primitiveType), primitives, vertices,
                              format.stride);
        ApplyWorldMatrixToDevice(&Transforms.world);
      } else if (primitives > 0) {
        DrawDevicePrimitiveUP(static_cast<D3DPRIMITIVETYPE>(VertexBatch.primitiveType), primitives, vertices,
                              format.stride);
      }
    }
  }
  ResetWrite();
  if (BatchTextures.count != 0) CloseBatchTextures();
  ReleaseHeldState();
  return 0;
}

int FlushDrawBatch() { return FlushVertexBatch(0); }

void* AppendBatchQuad(int kind) {
  const VertexFormatInfo& format = FormatOf(VERTEX_CLASS_2D, kind);
  if (!IsQuadBatchOfKind(kind) || VertexBatch.count + 6 >= format.capacity || Held.viewport || Held.scissor) {
    FlushVertexBatch(0);
    VertexBatch.vertexClass = VERTEX_CLASS_2D;
    VertexBatch.kind = kind;
    VertexBatch.primitiveType = D3DPT_TRIANGLELIST;
    ResetWrite();
  }
  if (kind == VERTEX_KIND_TEX)
    BatchTextures.quadSlots[VertexBatch.count / 6] = static_cast<unsigned char>(BatchTextures.current);
  unsigned char* at = VertexBatch.write;
  VertexBatch.write += 6 * format.stride;
  VertexBatch.count += 6;
  return at;
}

void* BeginVertexBatch(int vertexClass, int kind, int primitiveType) {
  FlushVertexBatch(0);
  VertexBatch.vertexClass = vertexClass;
  VertexBatch.kind = kind;
  VertexBatch.primitiveType = primitiveType;
  ResetWrite();
  BatchTextures.quadsOnly = 0;  // the caller writes the vertices itself
  return VertexBatch.write;
}

int JoinBatchTexture(IDirect3DBaseTexture9* texture) {
  BatchTextureSet& s = BatchTextures;
  if (texture == nullptr || VertexBatch.count == 0 || !s.quadsOnly || !IsQuadBatchOfKind(VERTEX_KIND_TEX)) return 0;
  if (!DrawPrep.programmable || DrawPrep.vertexKind != VERTEX_KIND_TEX || DrawPrep.userSetupOn ||
      RenderState.blendTexture != nullptr || CurrentDrawState.destinationBlend)
    return 0;
  const int selection = DrawPrep.shaderIndex;
  if (selection < 0 || selection >= BATCH_SELECTIONS) return 0;
  if (s.count == 0 && !OpenBatchTextures(selection)) return 0;
  if (s.selection != selection) return 0;
  int slot = 0;
  while (slot < s.count && s.textures[slot] != texture) slot++;
  if (slot == s.count) {
    if (s.count == BATCH_TEXTURE_SLOTS) return 0;
    IDirect3DPixelShader9* shader = BatchShader(s.count + 1, selection);
    if (shader == nullptr) return 0;
    SetStageTexture(slot, texture);
    s.textures[slot] = texture;
    s.count++;
    SetChosenDrawShader(shader);
  }
  s.current = slot;
  return 1;
}

int GetBatchTextureCount() { return BatchTextures.count > 1 ? BatchTextures.count : 1; }

void ReleaseBatchShaders() {
  BatchTextures.count = 0;
  BatchTextures.current = 0;
  for (auto& row : BatchTextures.shaders)
    for (IDirect3DPixelShader9*& shader : row) {
      if (shader != nullptr) ReleaseComObject(shader);
      shader = nullptr;
    }
}

int HoldViewportChange(const D3DVIEWPORT9* viewport, bool same) {
  if (RenderState.reapplyAll) return 0;
  if (same) {
    if (!Held.viewport) return 0;
    Held.viewport = 0;  // set back before anything was drawn under it
    return 1;
  }
  if (VertexBatch.count == 0) return 0;
  Held.viewport = 1;
  Held.viewportValue = *viewport;
  return 1;
}

int HoldScissorChange(const RECT* rect, bool same) {
  if (RenderState.reapplyAll) return 0;
  if (same) {
    if (!Held.scissor) return 0;
    Held.scissor = 0;
    return 1;
  }
  if (VertexBatch.count == 0) return 0;
  Held.scissor = 1;
  Held.scissorValue = *rect;
  return 1;
}

int BatchHoldsClipChange() { return Held.viewport || Held.scissor; }

int HoldProjectionChange() {
  if (!DeviceLayer.hardware || !HasDirect3DDevice() || RenderState.reapplyAll || VertexBatch.count == 0 ||
      VertexBatch.vertexClass != VERTEX_CLASS_2D || RenderState.vertexShader != nullptr || RenderState.fogEnable)
    return 0;
  Held.projection = 1;
  return 1;
}

void* GetVertexBatchBuffer(int vertexClass, int kind) { return BufferOf(vertexClass, kind); }

void ResetVertexBatchBuffers() {
  Vertex2D* v0 = reinterpret_cast<Vertex2D*>(Buffer2D0);
  for (int i = 0; i < VertexFormats[0].capacity; i++) v0[i].z = 0.0f, v0[i].rhw = 1.0f;
  Vertex2DTex2* v1 = reinterpret_cast<Vertex2DTex2*>(Buffer2D1);
  for (int i = 0; i < VertexFormats[1].capacity; i++) v1[i].z = 0.0f, v1[i].rhw = 1.0f;
  Vertex2DTex3* v2 = reinterpret_cast<Vertex2DTex3*>(Buffer2D2);
  for (int i = 0; i < VertexFormats[2].capacity; i++) {
    v2[i].z = 0.0f, v2[i].rhw = 1.0f;
    v2[i].specular = 0xFFFFFFFF;
  }
  VertexBatch.vertexClass = VERTEX_CLASS_2D;
  VertexBatch.kind = 0;
  VertexBatch.primitiveType = D3DPT_TRIANGLELIST;
  VertexBatch.drawNothing = 0;
  ResetWrite();
  BatchTextures.count = 0;
  BatchTextures.current = 0;
  Held = HeldDeviceState();
  ForgetCachedRenderTargets();
  ForgetLastDrawSetup();
}

int StretchDrawTargetToWork(const RECT* rect) {
  if (!HasDirect3DDevice()) return -1;
  FlushVertexBatch(0);
  IDirect3DSurface9* target = GetCachedRenderTarget(0);
  if (target == nullptr || DrawTargetWorkSurface == nullptr || rect == nullptr) return -1;
  EndDrawScene();
  return StretchDeviceRect(target, rect, DrawTargetWorkSurface, rect, D3DTEXF_NONE);
}

int PrimitiveCount(int type, int n) {
  switch (type) {
    case D3DPT_POINTLIST: return n;
    case D3DPT_LINELIST: return n / 2;
    case D3DPT_LINESTRIP: return n - 1;
    case D3DPT_TRIANGLELIST: return n / 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return n - 2;
    default: return 0;
  }
}
