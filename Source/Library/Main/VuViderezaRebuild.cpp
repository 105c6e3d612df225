// Device loss and rebuild: every device object of the library released
// (transfer pool, graphics, shadow maps, buffers, shaders), the device ended
// and started again through the start-up path, the objects re-created and
// refilled from what they were made from, the render-state cache, the
// transforms, the lights, the draw area and the further render targets sent
// to the new device; the user's before-reset and after-restore callbacks.
// The further render targets (index 1 and up) are kept here.
// Threads: main thread; a rebuild first waits for the loading jobs while
// serving their main-thread requests. Platform: Direct3D 9 through the
// device layer's call table (SetRenderTarget, StretchRect).
#include "VuViderezaRebuild.h"

#include <windows.h>

#include "DeRede.h"
#include "DiDAridIrer.h"
#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "RiDov.h"
#include "RuRovoreziZuzu.h"
#include "VuViderezaBuffer.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphPool.h"
#include "VuViderezaGraphView.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShader.h"
#include "VuViderezaShaderCode.h"
#include "VuViderezaShadowMap.h"
#include "VuViderezaTransform.h"

DrawTargetTable DrawTargets;

namespace {

const char LOG_SOFTWARE_FALLBACK[] = "Direct3D デバイスを作り直せなかったのでソフトウエア描画に切り替えます";

struct RebuildState {
  DeviceRebuildCallback beforeReset;
  void* beforeData;
  DeviceRebuildCallback afterRestore;
  void* afterData;
  int rebuilt;
};
RebuildState Rebuild;

void WaitForLoadJobs() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const DWORD pause = info.dwNumberOfProcessors > 1 ? 0 : 2;
  while (GetASyncJobCount() > 0) {
    ServeMainThreadRequests();
    Sleep(pause);
  }
}

int RenderTargetLimit() {
  const int max = DeviceCaps.maxRenderTargets;
  if (max < 1) return 1;
  return max < DRAW_TARGET_SLOTS ? max : DRAW_TARGET_SLOTS;
}

// The first texture entry of a live texture-backed graphic, else null.
GraphTextureEntry* FirstEntry(int graphic) {
  GraphicHandleRecord* record = GetGraphicRecord(graphic, 0);
  if (record == nullptr || record->image == nullptr || !record->image->format.textureBacked ||
      record->image->textureCount < 1)
    return nullptr;
  return &record->image->textures[0];
}

// A graphic drawn through a multi-sample surface: copied into its texture.
void ResolveIfMultiSample(int graphic, int surface) {
  ResolveMultiSampleSurface(FirstEntry(graphic), surface >= 0 && surface < 6 ? surface : 0);
}

bool FurtherTargetsUsable() { return DeviceLayer.hardware && AreShadersUsable() && HasDirect3DDevice(); }

// The cache as it was before the rebuild, without the old device's objects.
void PutBackCache(const RenderStateCache& saved, int keepViewport) {
  const RenderStateCache fresh = RenderState;
  RenderState = saved;
  RenderState.texture = fresh.texture;
  RenderState.blendTexture = fresh.blendTexture;
  RenderState.fvf = fresh.fvf;
  RenderState.vertexShader = fresh.vertexShader;
  RenderState.pixelShader = fresh.pixelShader;
  RenderState.declaration = fresh.declaration;
  RenderState.reapplyAll = 0;
  if (!keepViewport) {
    RenderState.viewport = fresh.viewport;
    RenderState.scissor = fresh.scissor;
  }
}

}  // namespace

void SetDeviceBeforeResetCallback(DeviceRebuildCallback callback, void* data) {
  Rebuild.beforeReset = callback;
  Rebuild.beforeData = data;
}

void SetDeviceAfterRestoreCallback(DeviceRebuildCallback callback, void* data) {
  Rebuild.afterRestore = callback;
  Rebuild.afterData = data;
}

int GetDeviceRebuiltFlag() { return Rebuild.rebuilt; }
void ClearDeviceRebuiltFlag() { Rebuild.rebuilt = 0; }

int ReleaseAllDeviceObjects() {
  ReleasePooledTransferTextureObjects();
  ReleaseAllGraphTextures();
  ReleaseAllShadowMapSurfaces();
  ReleaseAllBufferObjects();
  ReleaseAllShaderObjects();
  return 0;
}

int RecreateAllDeviceObjects() {
  RecreatePooledTransferTextureObjects();
  CreateAllGraphTextures();
  RecreateAllShadowMapSurfaces();
  RecreateAllBufferObjects();
  RecreateAllShaderObjects();
  return 0;
}

void ReleaseGraphicsDevice() {
  if (!Screen.graphicsUp) return;
  if (DeviceLayer.hardware) {
    ReleaseMaskScreen();
    ReleaseAllDeviceObjects();
  }
  EndGraphicsSystem();
}

int ReapplyDeviceStatesAfterRebuild() {
  if (!HasDirect3DDevice()) return -1;
  RenderStateCache& c = RenderState;
  c.reapplyAll = 1;
  SetDeviceRenderState(D3DRS_DITHERENABLE, FALSE);
  SetDrawTexture(nullptr);
  ResetVertexBatchBuffers();
  ForgetLastDrawSetup();
  SetDrawBlendModeCached(c.blendMode, c.blendFlagA, c.blendFlagB);
  SetIgnoreColorSelectCached(c.ignoreColor);
  SetCullModeCached(c.cullSetting);
  if (c.filterMode >= 0 && c.filterMode <= 2) SetSamplerFilterCached(c.filterMode);
  SetShadeModeCached(c.shadeMode);
  SetMaxAnisotropyCached(c.maxAnisotropy);
  for (int s = 0; s < 8; s++)
    SetTextureAddressModeCached(s, static_cast<int>(c.samplers[s].addressU), static_cast<int>(c.samplers[s].addressV),
                                static_cast<int>(c.samplers[s].addressW));
  ReapplyTextureTransforms();
  SetFogEnableCached(c.fogEnable);
  SetFogVertexModeCached(c.fogVertexMode);
  SetFogColorCached(c.fogColor);
  SetFogStartEndCached(c.fogStart, c.fogEnd);
  SetFogDensityCached(c.fogDensity);
  SetZEnableCached(c.zEnable);
  SetZWriteEnableCached(c.zWriteEnable);
  SetZFuncCached(c.zFunc);
  SetDepthBiasCached(c.depthBias);
  SetFillModeCached(c.fillMode);
  FlushVertexBatch(0);
  Transforms.combinedCurrent = 0;
  UpdateViewFrustum();
  if (DeviceLayer.hardware) {
    ApplyWorldMatrixToDevice(&Transforms.world);
    ApplyViewMatrixToDevice(&Transforms.view);
    Matrix4 projection;
    GetCombinedProjection(&projection);
    ApplyProjectionMatrixToDevice(&projection);
  }
  UpdateModelShaderSelection();
  SetLightingEnableCached(c.lighting);
  SetAmbientColor(GetAmbientColorWord());
  SceneViewState.lights.resendAll = 1;
  ApplyLightsToDevice();
  // The viewport and scissor of the draw area; an empty area keeps the cached ones.
  const RECT area = CurrentDrawState.drawArea;
  if (!CurrentDrawState.areaEmpty && area.right > area.left && area.bottom > area.top) {
    SetViewportRect(area.left, area.top, area.right, area.bottom);
    SetScissorRectCached(&area);
  } else {
    const D3DVIEWPORT9 viewport = c.viewport;
    if (viewport.Width != 0 && viewport.Height != 0) SetViewportCached(&viewport);
    const RECT scissor = c.scissor;
    if (scissor.right > scissor.left && scissor.bottom > scissor.top) SetScissorRectCached(&scissor);
  }
  ReapplyTexCoordIndices();
  PrepareUntexturedDrawState();
  ReapplyDeviceStates();
  c.reapplyAll = 0;
  return 0;
}

namespace {

// The device did not come back: drawing goes on into memory images shown
// through GDI, as after a start-up without a device. Every graphic becomes
// a memory image refilled from its source, the draw target and draw area
// stay, fonts and the mask screen are made again for memory drawing.
void FallBackToSoftwareScreen() {
  LogPrintf(LOG_SOFTWARE_FALLBACK);
  const int target = GetDrawTarget();
  const RECT area = CurrentDrawState.drawArea;
  const int areaEmpty = CurrentDrawState.areaEmpty;
  DeleteInternalGraphs();
  CreateSoftwareScreenImages();
  ConvertAllGraphsToMemImg();
  RestoreMaskScreen();
  for (int i = 1; i < DRAW_TARGET_SLOTS; i++) DrawTargets.graphs[i] = DrawTargets.surfaces[i] = 0;
  if (SetDrawTarget(target) != 0) SetDrawTarget(SCREEN_BACK);
  if (!areaEmpty) SetClipRect(area.left, area.top, area.right, area.bottom);
  ClearDrawTarget(nullptr);
  RestoreGraphicsResources();
  if (Rebuild.afterRestore != nullptr) Rebuild.afterRestore(Rebuild.afterData);
  ReapplyDeviceStates();
  Rebuild.rebuilt = 1;
}

}  // namespace

int RebuildGraphicsDevice(int bits, int width, int height, int refresh, int changeMode) {
  WaitForLoadJobs();
  if (Rebuild.beforeReset != nullptr) Rebuild.beforeReset(Rebuild.beforeData);
  const bool graphicsOn = Screen.graphicsUp != 0;
  // What comes back on the new device: the cached states and the transforms.
  const RenderStateCache savedCache = RenderState;
  const TransformState savedTransforms = Transforms;
  const bool hadSubBackBuffer = DeviceLayer.subBackBuffer != nullptr;
  if (graphicsOn) {
    if (DeviceLayer.hardware) {
      ReleaseMaskScreen();
      ReleaseAllDeviceObjects();
    }
    EndGraphicsSystem();
  }
  if (changeMode == 0) {
    if (LibraryState.started) {
      TerminateInput();
      InitializeInput();
    }
  } else {
    SetScreenSizeSetting(width, height);
    Screen.colorBits = bits;
    Screen.refreshRate = refresh;
    SetMemImgDefaultColorType(bits == 32 ? 1 : 0);
  }
  if (!graphicsOn) return 0;
  // Graphics held in memory images (software from the start, or after an
  // earlier fall-back) stay there: a device now would find no textures.
  const bool inMemory = IsValidMemImg(&SoftwareScreenImage) != 0;
  const int choice = Screen.software;
  if (inMemory) Screen.software = 1;
  const int started = StartGraphicsSystem();
  Screen.software = choice;
  if (inMemory) return started < 0 ? -1 : 0;
  if (started < 0 || !DeviceLayer.hardware || !HasDirect3DDevice()) {
    FallBackToSoftwareScreen();
    return started < 0 ? -1 : 0;
  }

  RecreateAllDeviceObjects();
  RestoreMaskScreen();
  InitializeDeviceDrawState();  // the new device's defaults; the kept cache goes over them
  PutBackCache(savedCache, changeMode == 0);
  // Full-screen drawing that went into the sub back buffer goes on there.
  if (hadSubBackBuffer) UseSubBackBuffer();
  SetDrawTargetOfIndex(0, GetDrawTarget(), GetDrawTargetSurfaceIndex());
  ReapplyDeviceStatesAfterRebuild();
  for (int i = 0; i < 2; i++) {
    ClearDrawTarget(nullptr);
    PresentBackBuffer();
  }
  DeleteInternalGraphs();
  RestoreGraphicsResources();
  if (Rebuild.afterRestore != nullptr) Rebuild.afterRestore(Rebuild.afterData);
  ReapplyDeviceStates();
  RebuildModelDeviceResources();
  Rebuild.rebuilt = 1;
  if (changeMode == 0) {
    const D3DVIEWPORT9 viewport = savedCache.viewport;
    if (viewport.Width != 0 && viewport.Height != 0) SetViewportCached(&viewport);
    StoreWorldMatrix(&savedTransforms.world);
    StoreViewMatrix(&savedTransforms.view);
    StoreProjectionMatrix(&savedTransforms.projection);
    StoreScreenTransformMatrix(&savedTransforms.screen);
    StoreDrawAreaAdjustmentMatrix(&savedTransforms.adjustment);
  }
  const int limit = RenderTargetLimit();
  for (int i = 1; i < limit; i++)
    if (DrawTargets.graphs[i] != 0) SetDrawTargetOfIndex(i, DrawTargets.graphs[i], DrawTargets.surfaces[i]);
  return 0;
}

int RebuildGraphicsDeviceKeepMode() { return RebuildGraphicsDevice(-1, -1, -1, -1, 0); }

int SetDrawTargetOfIndex(int index, int graphic, int surface) {
  if (index < 0 || index >= RenderTargetLimit()) return -1;
  // Render target 0 is the draw target; a surface above 0 is a cube face.
  if (index == 0) return SetDrawTargetFace(graphic, surface);
  if (!FurtherTargetsUsable()) return -1;
  FlushVertexBatch(0);
  EndDrawScene();
  SetDrawTexture(nullptr);
  if (DrawTargets.graphs[index] != 0) ResolveIfMultiSample(DrawTargets.graphs[index], DrawTargets.surfaces[index]);
  GraphicHandleRecord* record = GetGraphicRecord(graphic, 0);
  if (record != nullptr && record->image != nullptr) {
    GraphTextureEntry* entry = FirstEntry(graphic);
    if (!record->image->format.drawable || entry == nullptr) return -1;
    const int face = surface >= 0 && surface < 6 ? surface : 0;
    IDirect3DSurface9* target = entry->multiSampleSurface != nullptr ? entry->multiSampleSurface : entry->faces[face];
    if (target == nullptr) return -1;
    DrawTargets.graphs[index] = graphic;
    DrawTargets.surfaces[index] = face;
    UpdateDrawTargetBlendTexture();
    // Through the render-target cache, so what saves and restores render
    // targets (the filter passes) sees this one.
    SetRenderTargetCached(target, index);
    return 0;
  }
  DrawTargets.graphs[index] = 0;
  DrawTargets.surfaces[index] = 0;
  UpdateDrawTargetBlendTexture();
  SetRenderTargetCached(nullptr, index);
  return 0;
}

int GetDrawTargetOfIndex(int index, int* surface) {
  if (index < 1 || index >= DRAW_TARGET_SLOTS) return -1;
  if (surface != nullptr) *surface = DrawTargets.surfaces[index];
  return DrawTargets.graphs[index];
}

void ForgetDrawTargetGraph(int graphic) {
  for (int i = 1; i < DRAW_TARGET_SLOTS; i++) {
    if (DrawTargets.graphs[i] != graphic) continue;
    if (FurtherTargetsUsable()) {
      FlushVertexBatch(0);
      EndDrawScene();
      SetDrawTexture(nullptr);
      ResolveIfMultiSample(graphic, DrawTargets.surfaces[i]);
      SetRenderTargetCached(nullptr, i);
    }
    DrawTargets.graphs[i] = 0;
    DrawTargets.surfaces[i] = 0;
    UpdateDrawTargetBlendTexture();
  }
}

void ResetDrawTargetsAfterModeChange() {
  if (!Screen.graphicsUp) return;
  if (SetDrawTargetOfIndex(0, GetDrawTarget(), GetDrawTargetSurfaceIndex()) != 0)
    SetDrawTargetOfIndex(0, SCREEN_BACK, 0);
  for (int i = 1; i < DRAW_TARGET_SLOTS; i++) {
    if (i < RenderTargetLimit() && FurtherTargetsUsable()) SetDrawTargetOfIndex(i, 0, 0);
    DrawTargets.graphs[i] = 0;
    DrawTargets.surfaces[i] = 0;
  }
}
