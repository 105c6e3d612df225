// Shadow maps: the handle type's record and callbacks, the light basis and
// the orthographic light view fitted around the shadowed area, the
// texture and depth surfaces, the two process-wide slots, drawing into a
// map and its end (with the Gauss blur of the blur count), the shadow constants, release and re-creation around a
// device rebuild.
// Threads: the main thread; surfaces are made through the main-thread
// pairs so a loading job may make them.
// Platform: IDirect3DDevice9 CreateTexture / CreateDepthStencilSurface and
// texture GetSurfaceLevel, through the device call table.
#include "VuViderezaShadowMap.h"

#include <math.h>
#include <string.h>

#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "RuRovoreziZuzu.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaDraw.h"
#include "VuViderezaFilter.h"
#include "VuViderezaGraph.h"
#include "VuViderezaRebuild.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShader.h"
#include "VuViderezaShaderCode.h"
#include "VuViderezaTransform.h"

namespace {

const char LOG_NO_SHADOW_FORMAT[] =
    "シャドウマップデータ用のフォーマットで作成できるテクスチャフォーマットがありませんでした";
const char LOG_SHADOW_DEPTH_FAILED[] = "シャドウマップ用深度サーフェスの作成に失敗しました";
const char LOG_SHADOW_TEXTURE_FAILED[] = "シャドウマップ用テクスチャの作成に失敗しました";
const char LOG_SHADOW_SURFACE_FAILED[] = "シャドウマップ用テクスチャのサーフェスアドレスの取得に失敗しました";
const char LOG_SHADOW_LIGHT_BAD[] = "シャドウマップのライトの向きが不正です";
const char LOG_SHADOW_SIZE_BAD[] = "シャドウマップのサイズが不正です %d x %d";
const char LOG_SHADOW_BLUR_BAD[] = "シャドウマップのぼかしの強さが不正です %d";

}  // namespace

ShadowMapState ShadowMaps;

namespace {

ShadowMapRecord* LiveMap(int handle) {
  HandleRecordHeader* header = GetHandleRecordOfType(handle, HANDLETYPE_SHADOWMAP);
  return reinterpret_cast<ShadowMapRecord*>(header);
}

Vector3 Cross(const Vector3& a, const Vector3& b) {
  return Vector3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float Length(const Vector3& v) { return sqrtf(v.x * v.x + v.y * v.y + v.z * v.z); }

Vector3 Scale(const Vector3& v, float s) { return Vector3{v.x * s, v.y * s, v.z * s}; }

void SetBox(ShadowMapRecord* record, float minX, float minY, float minZ, float maxX, float maxY, float maxZ) {
  for (int i = 0; i < 8; i++) {
    record->areaCorners[i] = Vector3{(i & 1) ? maxX : minX, (i & 2) ? maxY : minY, (i & 4) ? maxZ : minZ};
  }
}

template <typename T>
void ReleaseObject(T** object) {
  if (*object != nullptr) ReleaseComObjectOnMainThread(reinterpret_cast<IUnknown*>(*object), 0);
  *object = nullptr;
}

void ReleaseSurfaces(ShadowMapRecord* record) {
  ReleaseObject(&record->depthSurface);
  ReleaseObject(&record->surface);
  ReleaseObject(&record->texture);
}

template <typename F>
void ForEachShadowMap(F function) {
  HandleManager& manager = HandleManagers[HANDLETYPE_SHADOWMAP];
  if (!manager.initialized) return;
  for (HandleListNode* node = manager.listHead.next; node != nullptr && node != &manager.listTail; node = node->next)
    function(static_cast<ShadowMapRecord*>(node->owner));
}

// Camera and projection values between the state block and a map's saved
// state (the same field names on both sides).
template <typename To, typename From>
void CopyCameraValues(To* to, const From& from) {
  to->position = from.position;
  to->target = from.target;
  to->up = from.up;
  to->verticalRotation = from.verticalRotation;
  to->horizontalRotation = from.horizontalRotation;
  to->twist = from.twist;
  to->viewCopy = from.viewCopy;
  to->zNear = from.zNear;
  to->zFar = from.zFar;
  to->fieldOfView = from.fieldOfView;
  to->orthoHeight = from.orthoHeight;
  to->aspectScale = from.aspectScale;
  to->projectionMode = from.projectionMode;
  to->userProjection = from.userProjection;
}

// The screen or a graphic as draw target again (the draw-target switch sets
// render target 0 through the render-target cache).
void PutBackRenderTarget0(int target, int surface) {
  if (SetDrawTargetOfIndex(0, target, surface) != 0) SetDrawTargetOfIndex(0, SCREEN_BACK, 0);
}

void EndDrawingInto(ShadowMapRecord* record) {
  FlushVertexBatch(0);
  ShadowMaps.drawing = 0;
  ShadowMaps.drawingHandle = 0;
  record->beingDrawn = 0;
  const ShadowMapRecord::SavedDrawState& s = record->saved;
  PutBackRenderTarget0(s.targets[0], s.surfaces[0]);
  for (int i = 1; i < 16; i++)
    if (s.targets[i] != 0) SetDrawTargetOfIndex(i, s.targets[i], s.surfaces[i]);
  ApplyDepthStencilForDrawTarget();
  const RECT& a = s.drawArea;
  SetClipRect(a.left, a.top, a.right, a.bottom);
  CopyCameraValues(&SceneViewState, s);
  StoreViewMatrix(&s.view);
  StoreProjectionMatrix(&s.projection);
  if (HasDirect3DDevice()) {
    const D3DVIEWPORT9 viewport = RenderState.viewport;
    if (viewport.Width != 0) SetDeviceViewport(&viewport);
  }
  UpdateModelShaderSelection();
}

}  // namespace

void BuildShadowLightBasis(Matrix4* basis, Vector3* unitDirection, float x, float y, float z) {
  const float length = sqrtf(x * x + y * y + z * z);
  const Vector3 zAxis{x / length, y / length, z / length};
  Vector3 xAxis = Cross(Vector3{0.0f, 1.0f, 0.0f}, zAxis);
  if (Length(xAxis) < 1e-7f) xAxis = Cross(Vector3{1.0f, 0.0f, 0.0f}, zAxis);
  xAxis = Scale(xAxis, 1.0f / Length(xAxis));
  Vector3 yAxis = Cross(zAxis, xAxis);
  yAxis = Scale(yAxis, 1.0f / Length(yAxis));
  memset(basis, 0, sizeof *basis);
  const Vector3 axes[3] = {xAxis, yAxis, zAxis};
  for (int column = 0; column < 3; column++) {
    basis->m[0][column] = axes[column].x;
    basis->m[1][column] = axes[column].y;
    basis->m[2][column] = axes[column].z;
  }
  basis->m[3][3] = 1.0f;
  *unitDirection = zAxis;
}

int InitShadowMapRecord(HandleRecordHeader* header) {
  ShadowMapRecord* record = reinterpret_cast<ShadowMapRecord*>(header);
  record->bias = 0.002f;
  record->bias2 = 0.0007f;
  record->width = -1;
  record->height = -1;
  record->one = 1.0f;
  record->blurCount = 0;
  record->beingDrawn = 0;
  record->texture = nullptr;
  record->surface = nullptr;
  record->depthSurface = nullptr;
  record->useViewVolume = 0;
  SetBox(record, -1000.0f, -1000.0f, -1000.0f, 1000.0f, 1000.0f, 1000.0f);
  Vector3 direction;
  BuildShadowLightBasis(&record->lightBasis, &direction, 0.0f, -1.0f, 0.0f);
  record->lightDirection = direction;
  return UpdateShadowMapMatrices(record);
}

int CreateShadowMapSurfaces(ShadowMapRecord* record, int async) {
  if (!HasDirect3DDevice()) return -1;
  const int textureFormat = record->floatData
                                ? (record->dataBits == 16 ? DeviceFormats.oneFloat16 : DeviceFormats.oneFloat32)
                                : (record->dataBits == 16 ? DeviceFormats.oneInt16 : DeviceFormats.oneFloat32);
  const int depthFormat = record->dataBits == 16 ? DeviceFormats.z16 : DeviceFormats.z32;
  if (textureFormat == 0 || depthFormat == 0) {
    LogPrintf(LOG_NO_SHADOW_FORMAT);
    return -1;
  }
  const DeviceSurfaceDesc depth = {static_cast<UINT>(record->width),
                                   static_cast<UINT>(record->height),
                                   static_cast<D3DFORMAT>(depthFormat),
                                   D3DMULTISAMPLE_NONE,
                                   0,
                                   FALSE};
  if (record->depthSurface == nullptr &&
      (CreateDeviceDepthStencilSurfaceOnMainThread(depth, &record->depthSurface, async) != D3D_OK ||
       record->depthSurface == nullptr)) {
    record->depthSurface = nullptr;
    LogPrintf(LOG_SHADOW_DEPTH_FAILED);
    return -1;
  }
  if (record->texture != nullptr) return 0;
  const DeviceTextureDesc texture = {static_cast<UINT>(record->width),
                                     static_cast<UINT>(record->height),
                                     1,
                                     D3DUSAGE_RENDERTARGET,
                                     static_cast<D3DFORMAT>(textureFormat),
                                     D3DPOOL_DEFAULT};
  if (CreateDeviceTextureOnMainThread(texture, &record->texture, async) != D3D_OK || record->texture == nullptr) {
    record->texture = nullptr;
    LogPrintf(LOG_SHADOW_TEXTURE_FAILED);
    return -1;
  }
  if (GetTextureSurfaceLevelOnMainThread(record->texture, 0, &record->surface, async) != D3D_OK ||
      record->surface == nullptr) {
    record->surface = nullptr;
    ReleaseObject(&record->texture);
    LogPrintf(LOG_SHADOW_SURFACE_FAILED);
    return -1;
  }
  return 0;
}

int SetShadowMapLightDirection(int handle, float x, float y, float z) {
  ShadowMapRecord* record = LiveMap(handle);
  if (record == nullptr) return -1;
  if (!(x * x + y * y + z * z > 0.0f) || !isfinite(x + y + z)) {
    LogPrintf(LOG_SHADOW_LIGHT_BAD);
    return -1;
  }
  Vector3 direction;
  BuildShadowLightBasis(&record->lightBasis, &direction, x, y, z);
  record->lightDirection = direction;
  return UpdateShadowMapMatrices(record);
}

int UpdateShadowMapMatrices(ShadowMapRecord* record) {
  const Vector3* corners = record->useViewVolume ? SceneViewState.corners : record->areaCorners;
  float low[3] = {1e8f, 1e8f, 1e8f};
  float high[3] = {-1e8f, -1e8f, -1e8f};
  for (int i = 0; i < 8; i++) {
    Vector3 p;
    VectorTransform(&p, &corners[i], &record->lightBasis);
    const float values[3] = {p.x, p.y, p.z};
    for (int k = 0; k < 3; k++) {
      if (values[k] < low[k]) low[k] = values[k];
      if (values[k] > high[k]) high[k] = values[k];
    }
  }
  record->viewTranslation = Vector3{-(low[0] + high[0]) / 2, -(low[1] + high[1]) / 2, -low[2]};
  for (int k = 0; k < 3; k++) {
    const float extent = high[k] - low[k];
    record->projectionScale[k] = extent > 0.0f ? (k < 2 ? 2.0f : 1.0f) / extent : 1.0f;
  }
  record->lightView = record->lightBasis;
  record->lightView.m[3][0] = record->viewTranslation.x;
  record->lightView.m[3][1] = record->viewTranslation.y;
  record->lightView.m[3][2] = record->viewTranslation.z;
  record->lightView.m[3][3] = 1.0f;
  // The light's view replaces the camera only while the map is drawn into.
  if (record->beingDrawn) {
    RenderStateBatchFlush(0);
    StoreViewMatrix(&record->lightView);
    Matrix4 projection;
    memset(&projection, 0, sizeof projection);
    projection.m[0][0] = record->projectionScale[0];
    projection.m[1][1] = record->projectionScale[1];
    projection.m[2][2] = record->projectionScale[2];
    projection.m[3][3] = 1.0f;
    SetProjectionMatrix(&projection.m[0][0]);
  }
  for (int slot = 0; slot < SHADOWMAP_SLOT_COUNT; slot++)
    if (ShadowMaps.slots[slot] != 0 && ShadowMaps.slots[slot] == record->header.handle) {
      UpdateShadowMapVertexConstants();
      break;
    }
  return 0;
}

int ReleaseShadowMapHandleRecord(HandleRecordHeader* header) {
  ShadowMapRecord* record = reinterpret_cast<ShadowMapRecord*>(header);
  for (int slot = 0; slot < SHADOWMAP_SLOT_COUNT; slot++) {
    if (ShadowMaps.slots[slot] != header->handle) continue;
    ShadowMaps.slots[slot] = 0;
    UpdateModelShaderSelection();
    UpdateShadowMapVertexConstants();
    UpdateShadowMapShaderConstants();
  }
  if (ShadowMaps.drawingHandle == header->handle) EndDrawingInto(record);
  ReleaseSurfaces(record);
  return 0;
}

int BeginShadowMapDraw(int handle) {
  ShadowMapRecord* record = LiveMap(handle);
  if (record == nullptr || record->surface == nullptr || !HasDirect3DDevice()) return -1;
  if (ShadowMaps.drawing) EndShadowMapDraw();
  FlushVertexBatch(0);
  EndDrawScene();
  SetDrawTexture(nullptr);
  ShadowMapRecord::SavedDrawState& s = record->saved;
  s.targets[0] = GetDrawTarget();
  s.surfaces[0] = GetDrawTargetSurfaceIndex();
  s.drawArea = CurrentDrawState.requestedArea;
  for (int i = 1; i < 16; i++) s.targets[i] = GetDrawTargetOfIndex(i, &s.surfaces[i]);
  CopyCameraValues(&s, SceneViewState);
  s.view = Transforms.view;
  s.projection = Transforms.projection;
  // Further render targets stay off while the map is drawn.
  for (int i = 1; i < 16; i++)
    if (s.targets[i] != 0) SetDrawTargetOfIndex(i, -1, 0);
  ShadowMaps.drawing = 1;
  ShadowMaps.drawingHandle = handle;
  record->beingDrawn = 1;
  SetRenderTargetCached(record->surface, 0);
  ApplyDepthStencilForDrawTarget();
  SetViewportRect(0, 0, record->width, record->height);
  UpdateShadowMapMatrices(record);
  UpdateModelShaderSelection();
  return 0;
}

int EndShadowMapDraw() {
  if (!ShadowMaps.drawing) return -1;
  ShadowMapRecord* record = LiveMap(ShadowMaps.drawingHandle);
  if (record == nullptr || !record->beingDrawn) return -1;
  EndDrawingInto(record);
  // The blur: a Gauss filter of 8 pixels, the count its strength in
  // hundredths.
  if (record->blurCount >= 1) {
    GraphFilterArgs args{};
    args.count = 2;
    args.v[0] = 8;
    args.v[1] = record->blurCount;
    ApplyGraphFilter(record->header.handle, FILTER_GAUSS, args);
  }
  return 0;
}

int GetShadowMapBeingDrawn() { return ShadowMaps.drawing ? ShadowMaps.drawingHandle : 0; }


void BuildShadowMapVertexBlock(const ShadowMapRecord* record, float out[28]) {
  memset(out, 0, 28 * sizeof(float));
  if (record == nullptr) {
    out[12] = 1.0f;  // bias 1.0, nothing in use
    return;
  }
  // Light view, orthographic scale, then clip space to texture space.
  Matrix4 scale, texture, m;
  memset(&scale, 0, sizeof scale);
  scale.m[0][0] = record->projectionScale[0];
  scale.m[1][1] = record->projectionScale[1];
  scale.m[2][2] = record->projectionScale[2];
  scale.m[3][3] = 1.0f;
  memset(&texture, 0, sizeof texture);
  texture.m[0][0] = 0.5f;
  texture.m[1][1] = -0.5f;
  texture.m[2][2] = 1.0f;
  texture.m[3][0] = 0.5f;
  texture.m[3][1] = 0.5f;
  texture.m[3][3] = 1.0f;
  MatrixMultiply(&m, &record->lightView, &scale);
  MatrixMultiply(&m, &m, &texture);
  for (int row = 0; row < 3; row++)
    for (int k = 0; k < 4; k++) out[row * 4 + k] = m.m[k][row];  // transposed: one output per register
  const float w = static_cast<float>(record->width > 0 ? record->width : 1);
  const float h = static_cast<float>(record->height > 0 ? record->height : 1);
  const float values[16] = {record->bias,
                            record->bias2,
                            1.0f / w,
                            1.0f / h,
                            record->lightDirection.x,
                            record->lightDirection.y,
                            record->lightDirection.z,
                            1.0f,
                            record->projectionScale[0],
                            record->projectionScale[1],
                            record->projectionScale[2],
                            1.0f,
                            1.0f,
                            w,
                            h,
                            static_cast<float>(record->blurCount)};
  memcpy(out + 12, values, sizeof values);
}

void UpdateShadowMapVertexConstants() {
  static const int FIRST_REGISTER[SHADOWMAP_SLOT_COUNT] = {44, 51};
  for (int slot = 0; slot < SHADOWMAP_SLOT_COUNT; slot++) {
    float block[28];
    BuildShadowMapVertexBlock(ShadowMaps.slots[slot] != 0 ? LiveMap(ShadowMaps.slots[slot]) : nullptr, block);
    SetShaderConstantCached(&ShaderConstants, 0, 0, FIRST_REGISTER[slot], block, 7, 1);
  }
}

void UpdateShadowMapShaderConstants() {
  float values[16];
  memset(values, 0, sizeof values);
  for (int slot = 0; slot < SHADOWMAP_SLOT_COUNT; slot++) {
    const ShadowMapRecord* map = ShadowMaps.slots[slot] != 0 ? LiveMap(ShadowMaps.slots[slot]) : nullptr;
    values[slot * 2] = map != nullptr ? map->bias : 1.0f;
    values[slot * 2 + 1] = map != nullptr ? map->bias2 : 0.0f;
    for (int light = 0; light < 6; light++)
      values[4 + light * 2 + slot] = map != nullptr && GetDeviceLightType(light) != 0 ? 1.0f : 0.0f;
  }
  SetShaderConstantCached(&ShaderConstants, 3, 0, 18, values, 4, 1);
}

int MakeShadowMap(int width, int height, int dataBits, int floatData) {
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
    LogPrintf(LOG_SHADOW_SIZE_BAD, width, height);
    return -1;
  }
  const int handle = CreateHandle(HANDLETYPE_SHADOWMAP, -1);
  if (handle == -1) return -1;
  ShadowMapRecord* record = LiveMap(handle);
  record->width = width;
  record->height = height;
  record->dataBits = dataBits == 16 ? 16 : 32;
  record->floatData = floatData ? 1 : 0;
  if (HasDirect3DDevice() && CreateShadowMapSurfaces(record, 0) != 0) {
    DeleteHandle(handle);
    return -1;
  }
  return handle;
}

int GetShadowMapSize(int handle, int* width, int* height) {
  const ShadowMapRecord* record = handle > 0 ? LiveMap(handle) : nullptr;
  if (record == nullptr) return -1;
  if (width != nullptr) *width = record->width;
  if (height != nullptr) *height = record->height;
  return 0;
}

int SetShadowMapBlurCount(int handle, int count) {
  ShadowMapRecord* record = LiveMap(handle);
  if (record == nullptr) return -1;
  if (count < 0) {
    LogPrintf(LOG_SHADOW_BLUR_BAD, count);
    return -1;
  }
  record->blurCount = count;
  return 0;
}

int GetShadowMapBlurCount(int handle) {
  const ShadowMapRecord* record = LiveMap(handle);
  return record != nullptr ? record->blurCount : -1;
}

int DeleteShadowMap(int handle) {
  if (LiveMap(handle) == nullptr) return -1;
  return DeleteHandle(handle);
}

int SetShadowMapDrawArea(int handle, float minX, float minY, float minZ, float maxX, float maxY, float maxZ) {
  ShadowMapRecord* record = LiveMap(handle);
  if (record == nullptr) return -1;
  SetBox(record, minX, minY, minZ, maxX, maxY, maxZ);
  return UpdateShadowMapMatrices(record);
}

int SetShadowMapFitViewVolume(int handle, int flag) {
  ShadowMapRecord* record = LiveMap(handle);
  if (record == nullptr) return -1;
  record->useViewVolume = flag ? 1 : 0;
  return UpdateShadowMapMatrices(record);
}

int SetUseShadowMap(int slot, int handle) {
  if (slot < 0 || slot >= SHADOWMAP_SLOT_COUNT) return -1;
  if (handle == 0 || handle == -1) {
    ShadowMaps.slots[slot] = 0;
  } else {
    if (LiveMap(handle) == nullptr) return -1;
    ShadowMaps.slots[slot] = handle;
  }
  UpdateModelShaderSelection();
  UpdateShadowMapVertexConstants();
  UpdateShadowMapShaderConstants();
  return 0;
}

int ReleaseAllShadowMapSurfaces() {
  ForEachShadowMap([](ShadowMapRecord* record) { ReleaseSurfaces(record); });
  return 0;
}

int RecreateAllShadowMapSurfaces() {
  ForEachShadowMap([](ShadowMapRecord* record) { CreateShadowMapSurfaces(record, 0); });
  return 0;
}
