// The 2-D vertex batch: fixed system-memory buffers per vertex format, the
// append rule of the quad builders and the flush through DrawPrimitiveUP;
// the copy of the render target into the destination work surface.
// Threads: main thread; a worker's flush is posted to the main thread.
// Platform: IDirect3DDevice9 SetFVF, DrawPrimitiveUP, SetTransform,
// StretchRect through the device call table.
#include <string.h>

#include "DiDAridIrer.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaMath.h"
#include "VuViderezaRenderState.h"
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

unsigned char Buffer2D0[2304 * 28];
unsigned char Buffer2D1[1820 * 36];
unsigned char Buffer2D2[1365 * 48];
unsigned char Buffer3D[VERTEX_3D_BUFFER_BYTES];

unsigned char* BufferOf(int vertexClass, int kind) {
  if (vertexClass == VERTEX_CLASS_3D) return Buffer3D;
  return kind == 0 ? Buffer2D0 : kind == 1 ? Buffer2D1 : Buffer2D2;
}

const VertexFormatInfo& FormatOf(int vertexClass, int kind) { return VertexFormats[vertexClass * 3 + kind]; }

int FlushOnMainThread(MainThreadRequest*) { return FlushVertexBatch(0); }

void ResetWrite() {
  VertexBatch.count = 0;
  VertexBatch.write = BufferOf(VertexBatch.vertexClass, VertexBatch.kind);
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
  return 0;
}

int FlushDrawBatch() { return FlushVertexBatch(0); }

void* AppendBatchQuad(int kind) {
  const VertexFormatInfo& format = FormatOf(VERTEX_CLASS_2D, kind);
  if (VertexBatch.vertexClass != VERTEX_CLASS_2D || VertexBatch.primitiveType != D3DPT_TRIANGLELIST ||
      VertexBatch.kind != kind || VertexBatch.count + 6 >= format.capacity) {
    FlushVertexBatch(0);
    VertexBatch.vertexClass = VERTEX_CLASS_2D;
    VertexBatch.kind = kind;
    VertexBatch.primitiveType = D3DPT_TRIANGLELIST;
    ResetWrite();
  }
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
  return VertexBatch.write;
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
