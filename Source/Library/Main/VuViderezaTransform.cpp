// Transform matrices: each store flushes the 2-D batch, keeps the matrix,
// marks the combined transform out of date and updates the view volume;
// with a device it reaches SetTransform and the vertex-shader constants
// (transposed: world 94-97, view 6-9, combined projection 2-5), and a new
// view re-sends the light constants in view space. No cache: a store always
// sends; only a draw-area adjustment made while the batch holds
// pre-transformed vertices is sent at the batch's flush.
// Threads: main thread only.
// Platform: IDirect3DDevice9::SetTransform through the call table.
#include "VuViderezaTransform.h"

#include "RuRovoreziZuzu.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaDraw.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShader.h"

TransformState Transforms = {{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
                             {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
                             {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
                             {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
                             {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
                             0,
                             0,
                             0,
                             0};

namespace {

void SendTransposed(int start, const Matrix4* m) {
  Matrix4 t;
  MatrixTranspose(&t, m);
  SetShaderConstantCached(&ShaderConstants, 0, 0, start, &t, 4, 1);
}

// Steps shared by every store; false when the device part is to be skipped.
bool Store(Matrix4* slot, const Matrix4* m) {
  FlushVertexBatch(0);
  *slot = *m;
  Transforms.combinedCurrent = 0;
  UpdateViewFrustum();
  return DeviceLayer.hardware != 0;
}

int ApplyCombinedProjection() {
  Matrix4 combined;
  GetCombinedProjection(&combined);
  ApplyProjectionMatrixToDevice(&combined);
  Transforms.projectionSet = 1;
  return 0;
}

}  // namespace

void ResetTransforms() {
  CreateIdentityMatrix(&Transforms.world);
  CreateIdentityMatrix(&Transforms.view);
  CreateIdentityMatrix(&Transforms.projection);
  CreateIdentityMatrix(&Transforms.screen);
  CreateIdentityMatrix(&Transforms.adjustment);
  Transforms.combinedCurrent = 0;
  Transforms.worldSet = Transforms.viewSet = Transforms.projectionSet = 0;
}

const Matrix4* GetViewMatrix() { return &Transforms.view; }

void GetCombinedProjection(Matrix4* out) {
  MatrixMultiply(out, &Transforms.projection, &Transforms.screen);
  MatrixMultiply(out, out, &Transforms.adjustment);
}

void ApplyWorldMatrixToDevice(const Matrix4* m) {
  if (!HasDirect3DDevice()) return;
  SetDeviceTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(m));
  SendTransposed(94, m);
}

void ApplyViewMatrixToDevice(const Matrix4* m) {
  if (!HasDirect3DDevice()) return;
  SetDeviceTransform(D3DTS_VIEW, reinterpret_cast<const D3DMATRIX*>(m));
  SendTransposed(6, m);
  ApplyLightShaderConstants();  // positions and directions in view space
}

void ApplyProjectionMatrixToDevice(const Matrix4* m) {
  if (!HasDirect3DDevice()) return;
  SetDeviceTransform(D3DTS_PROJECTION, reinterpret_cast<const D3DMATRIX*>(m));
  SendTransposed(2, m);
}

int StoreWorldMatrix(const Matrix4* m) {
  if (m == nullptr) return -1;
  if (!Store(&Transforms.world, m)) return 0;
  ApplyWorldMatrixToDevice(m);
  Transforms.worldSet = 1;
  return 0;
}

int StoreViewMatrix(const Matrix4* m) {
  if (m == nullptr) return -1;
  if (!Store(&Transforms.view, m)) return 0;
  ApplyViewMatrixToDevice(m);
  Transforms.viewSet = 1;
  return 0;
}

int StoreProjectionMatrix(const Matrix4* m) {
  if (m == nullptr) return -1;
  if (!Store(&Transforms.projection, m)) return 0;
  return ApplyCombinedProjection();
}

int StoreScreenTransformMatrix(const Matrix4* m) {
  if (m == nullptr) return -1;
  if (!Store(&Transforms.screen, m)) return 0;
  return ApplyCombinedProjection();
}

int StoreDrawAreaAdjustmentMatrix(const Matrix4* m) {
  if (m == nullptr) return -1;
  if (HoldProjectionChange()) {
    // The batch's pre-transformed vertices do not read it: sent at the flush.
    Transforms.adjustment = *m;
    Transforms.combinedCurrent = 0;
    UpdateViewFrustum();
    return 0;
  }
  if (!Store(&Transforms.adjustment, m)) return 0;
  return ApplyCombinedProjection();
}

int SendStoredProjection() {
  if (!DeviceLayer.hardware) return 0;
  return ApplyCombinedProjection();
}
