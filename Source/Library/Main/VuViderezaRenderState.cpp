// Render-state cache: every device state the library changes goes through a
// setter here that compares with the last value sent. A changed value first
// flushes the 2-D vertex batch (it draws with the state current when its
// vertices were added), then reaches the device. With re-apply all on (the
// whole-cache re-send after device creation or reset) every setter sends
// and nothing is flushed. A viewport or scissor change made while the batch
// holds vertices waits for the batch's flush (VuViderezaDrawBatch), so a
// clip area set and set back between two draws costs nothing. Also the
// lights as given to the device and their shader constants, and the grid
// strip draw.
// Threads: main thread only.
// Platform: IDirect3DDevice9 render, sampler and texture-stage states,
// viewport, scissor, material, lights, DrawIndexedPrimitiveUP.
#include "VuViderezaRenderState.h"

#include <math.h>
#include <string.h>

#include <vector>

#include "RaRadaraLog.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaDraw.h"
#include "VuViderezaShader.h"
#include "VuViderezaShaderCode.h"
#include "VuViderezaTransform.h"

namespace {

const char LOG_VIEWPORT_FAILED[] = "ビューポートのセットに失敗しました ErrorCode %x";

}  // namespace

RenderStateCache RenderState;
int (*RenderStateBatchFlush)(int post) = FlushVertexBatch;
DeviceLightCopy DeviceLights[DEVICE_LIGHT_COPIES];

namespace {

// The cache rule's first steps: true when the value must be sent.
bool MustSend(bool same) {
  if (same && !RenderState.reapplyAll) return false;
  if (!RenderState.reapplyAll) RenderStateBatchFlush(0);
  return true;
}

int SendRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  RenderState.statesChanged = 1;
  return FAILED(SetDeviceRenderState(state, value)) ? -1 : 0;
}

// Integer render state through the cache.
int CachedState(int* cached, int value, D3DRENDERSTATETYPE state, int noDeviceResult = -1) {
  if (!HasDirect3DDevice()) return noDeviceResult;
  if (!MustSend(*cached == value)) return 0;
  *cached = value;
  return SendRenderState(state, static_cast<DWORD>(value));
}

// Shader-selection value: no device call, the pixel shader is chosen again.
int SelectionValue(int* cached, int value) {
  if (!HasDirect3DDevice()) return -1;
  if (!MustSend(*cached == value)) return 0;
  *cached = value;
  RenderState.choosePixelShader = 1;
  RenderState.statesChanged = 1;
  return 0;
}

DWORD FloatBits(float f) {
  DWORD d;
  memcpy(&d, &f, 4);
  return d;
}

// Sends one sampler state when it differs from the cached one.
void SamplerState(int sampler, DWORD* cached, D3DSAMPLERSTATETYPE type, DWORD value) {
  if (*cached == value && !RenderState.reapplyAll) return;
  *cached = value;
  SetDeviceSamplerState(sampler, type, value);
  RenderState.statesChanged = 1;
}

// Sampler rule: -1 all 12, 0-11 one, other -1.
bool SamplerRange(int sampler, int* first, int* last) {
  if (sampler == -1) {
    *first = 0;
    *last = RENDER_SAMPLERS - 1;
    return true;
  }
  if (sampler < 0 || sampler >= RENDER_SAMPLERS) return false;
  *first = *last = sampler;
  return true;
}

int AddressMode(int sampler, int which, int mode) {
  if (!HasDirect3DDevice()) return 0;
  int first, last;
  if (!SamplerRange(sampler, &first, &last)) return -1;
  bool any = RenderState.reapplyAll != 0;
  for (int s = first; s <= last && !any; s++) {
    const DWORD* values = &RenderState.samplers[s].addressU;
    any = values[which] != static_cast<DWORD>(mode);
  }
  if (!any) return 0;
  if (!RenderState.reapplyAll) RenderStateBatchFlush(0);
  for (int s = first; s <= last; s++) {
    DWORD* values = &RenderState.samplers[s].addressU;
    SamplerState(s, &values[which], static_cast<D3DSAMPLERSTATETYPE>(D3DSAMP_ADDRESSU + which),
                 static_cast<DWORD>(mode));
  }
  return 0;
}

void Float4(float* out, float a, float b, float c, float d) { out[0] = a, out[1] = b, out[2] = c, out[3] = d; }

}  // namespace

int InitDeviceRenderStates() {
  if (!HasDirect3DDevice()) return -1;
  if (!RenderState.reapplyAll) RenderStateBatchFlush(0);
  for (int s = 0; s < 4; s++) {
    SetDeviceSamplerState(s, D3DSAMP_ADDRESSU, RenderState.samplers[s].addressU);
    SetDeviceSamplerState(s, D3DSAMP_ADDRESSV, RenderState.samplers[s].addressV);
  }
  static const DWORD coordinateSets[4] = {0, 1, 1, 0};
  for (int t = 0; t < 4; t++) {
    SetDeviceTextureStageState(t, D3DTSS_TEXCOORDINDEX, coordinateSets[t]);
    RenderState.stages[t].texCoordIndex = coordinateSets[t];
    RenderState.stages[t].set |= 1;
    if (DeviceCaps.textureStageTemp) {
      SetDeviceTextureStageState(t, D3DTSS_RESULTARG, D3DTA_CURRENT);
      RenderState.stages[t].resultArg = D3DTA_CURRENT;
      RenderState.stages[t].set |= 2;
    }
  }
  SetDeviceRenderState(D3DRS_SHADEMODE, RenderState.shadeMode);
  SetDeviceRenderState(D3DRS_LIGHTING, RenderState.lighting);
  SetDeviceRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  SetDeviceRenderState(D3DRS_DITHERENABLE, FALSE);
  const float vertexBase[4] = {0.0f, 1.0f, 0.0f, 0.0f};
  const float pixelBase[4] = {0.0f, 0.5f, 1.0f, 2.0f};
  SetShaderConstantCached(&ShaderConstants, 0, 0, 0, vertexBase, 1, 1);
  SetShaderConstantCached(&ShaderConstants, 3, 0, 0, pixelBase, 1, 1);
  if (RenderState.vertexShader != nullptr) {
    SetDeviceVertexShader(nullptr);
    RenderState.vertexShader = nullptr;
    RenderState.declaration = nullptr;
  }
  if (RenderState.pixelShader != nullptr) {
    SetDevicePixelShader(nullptr);
    RenderState.pixelShader = nullptr;
    RenderState.choosePixelShader = 1;
    RenderState.statesChanged = 1;
  }
  RenderState.fvf = 0;
  RenderState.furtherWords[0] = RenderState.furtherWords[1] = 0;
  return 0;
}

const DWORD SamplerFilterTable[3][3] = {
    {D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_NONE},
    {D3DTEXF_LINEAR, D3DTEXF_LINEAR, D3DTEXF_NONE},
    {D3DTEXF_LINEAR, D3DTEXF_ANISOTROPIC, D3DTEXF_LINEAR},
};

int SetSamplerFilterCached(int mode) {
  const DWORD(&filters)[3][3] = SamplerFilterTable;
  if (mode < 0 || mode > 2) return -1;
  if (!HasDirect3DDevice()) return -1;
  if (!MustSend(RenderState.filterMode == mode)) return 0;
  RenderState.filterMode = mode;
  for (int s = 0; s < RENDER_SAMPLERS; s++) {
    SamplerState(s, &RenderState.samplers[s].magFilter, D3DSAMP_MAGFILTER, filters[mode][0]);
    SamplerState(s, &RenderState.samplers[s].minFilter, D3DSAMP_MINFILTER, filters[mode][1]);
    SamplerState(s, &RenderState.samplers[s].mipFilter, D3DSAMP_MIPFILTER, filters[mode][2]);
  }
  RenderState.statesChanged = 1;
  return 0;
}

int SetMaxAnisotropyCached(int value) {
  if (value < 1) value = 1;
  if (!HasDirect3DDevice()) return -1;
  if (!MustSend(RenderState.maxAnisotropy == value)) return 0;
  RenderState.maxAnisotropy = value;
  for (int s = 0; s < RENDER_SAMPLERS; s++) {
    SamplerState(s, &RenderState.samplers[s].maxAnisotropy, D3DSAMP_MAXANISOTROPY, static_cast<DWORD>(value));
  }
  return 0;
}

int SetDrawBlendModeCached(int mode, int flagA, int flagB) {
  if (!HasDirect3DDevice()) return -1;
  const bool same = RenderState.blendMode == mode && RenderState.blendFlagA == flagA && RenderState.blendFlagB == flagB;
  if (!MustSend(same)) return 0;
  RenderState.blendMode = mode;
  RenderState.blendFlagA = flagA;
  RenderState.blendFlagB = flagB;
  RenderState.choosePixelShader = 1;
  RenderState.statesChanged = 1;
  return 0;
}

int SetIgnoreColorSelectCached(int value) { return SelectionValue(&RenderState.ignoreColor, value); }
int SetDrawAlphaFlagCached(int flag) { return SelectionValue(&RenderState.alphaFlag, flag); }
int SetDrawUseColorCached(int flag) { return SelectionValue(&RenderState.useColor, flag); }
int SetExtraShaderSelectCached(int value) { return SelectionValue(&RenderState.extraSelect, value); }

int SetAlphaTestCached(int mode, int ref) {
  if (!HasDirect3DDevice()) return -1;
  if (!MustSend(RenderState.alphaTestMode == mode && RenderState.alphaTestRef == ref)) return 0;
  RenderState.alphaTestMode = mode;
  RenderState.alphaTestRef = ref;
  RenderState.choosePixelShader = 1;
  RenderState.statesChanged = 1;
  return 0;
}

int SetBlendTextureModeCached(int mode, int param0, int param1) {
  if (!HasDirect3DDevice()) return -1;
  const bool same = RenderState.blendTextureMode == mode && RenderState.blendTextureParam[0] == param0 &&
                    RenderState.blendTextureParam[1] == param1;
  if (!MustSend(same)) return 0;
  RenderState.blendTextureMode = mode;
  RenderState.blendTextureParam[0] = param0;
  RenderState.blendTextureParam[1] = param1;
  RenderState.choosePixelShader = 1;
  RenderState.statesChanged = 1;
  return 0;
}

int SetZEnableCached(int on) { return CachedState(&RenderState.zEnable, on == 1 ? 1 : 0, D3DRS_ZENABLE); }
int SetZWriteEnableCached(int on) { return CachedState(&RenderState.zWriteEnable, on, D3DRS_ZWRITEENABLE); }
int SetZFuncCached(int func) { return CachedState(&RenderState.zFunc, func, D3DRS_ZFUNC); }
int SetDepthBiasCached(int bias) { return CachedState(&RenderState.depthBias, bias, D3DRS_DEPTHBIAS); }
int SetFillModeCached(int mode) { return CachedState(&RenderState.fillMode, mode, D3DRS_FILLMODE); }
int SetSpecularEnableCached(int on) { return CachedState(&RenderState.specularEnable, on, D3DRS_SPECULARENABLE); }
int SetShadeModeCached(int mode) { return CachedState(&RenderState.shadeMode, mode, D3DRS_SHADEMODE, 0); }
int SetZBufferEnable(int on) { return SetZEnableCached(on); }

int SetCullModeCached(int setting) {
  if (!HasDirect3DDevice()) return 0;
  if (!MustSend(RenderState.cullSetting == setting)) return 0;
  RenderState.cullSetting = setting;
  const DWORD mode = setting == 0 ? D3DCULL_NONE : setting == 2 ? D3DCULL_CW : D3DCULL_CCW;
  return SendRenderState(D3DRS_CULLMODE, mode);
}

int SetDiffuseMaterialSourceCached(int source) {
  const int result = CachedState(&RenderState.diffuseMaterialSource, source, D3DRS_DIFFUSEMATERIALSOURCE);
  ApplyLightShaderConstants();
  return result;
}

int SetSpecularMaterialSourceCached(int source) {
  const int result = CachedState(&RenderState.specularMaterialSource, source, D3DRS_SPECULARMATERIALSOURCE);
  float values[4];
  Float4(values, RenderState.diffuseMaterialSource == D3DMCS_COLOR1 ? 1.0f : 0.0f,
         RenderState.specularMaterialSource == D3DMCS_COLOR2 ? 1.0f : 0.0f, 0.0f, 0.0f);
  SetShaderConstantCached(&ShaderConstants, 0, 0, 43, values, 1, 1);
  return result;
}

int SetDrawTexture(IDirect3DBaseTexture9* texture) {
  if (!HasDirect3DDevice()) return -1;
  // Only the cache changes here: the preparation flushes when it binds the
  // texture, or lets it join the batch's textures.
  if (RenderState.texture == texture && !RenderState.reapplyAll) return 0;
  if ((RenderState.texture == nullptr) != (texture == nullptr)) RenderState.choosePixelShader = 1;
  RenderState.texture = texture;
  RenderState.textureChanged = 1;
  RenderState.statesChanged = 1;
  return 0;
}

int SetDrawBlendTexture(IDirect3DBaseTexture9* texture, int width, int height) {
  if (!HasDirect3DDevice()) return -1;
  const bool same = RenderState.blendTexture == texture && RenderState.blendWidth == static_cast<float>(width) &&
                    RenderState.blendHeight == static_cast<float>(height);
  if (!MustSend(same)) return 0;
  if ((RenderState.blendTexture == nullptr) != (texture == nullptr)) RenderState.choosePixelShader = 1;
  RenderState.blendTexture = texture;
  RenderState.blendWidth = static_cast<float>(width);
  RenderState.blendHeight = static_cast<float>(height);
  RenderState.blendInvWidth = width != 0 ? 1.0f / width : 0.0f;
  RenderState.blendInvHeight = height != 0 ? 1.0f / height : 0.0f;
  RenderState.textureChanged = 1;
  RenderState.statesChanged = 1;
  return 0;
}

int SetMaterialCached(const D3DMATERIAL9* material) {
  if (!HasDirect3DDevice() || material == nullptr) return -1;
  if (!MustSend(memcmp(&RenderState.material, material, sizeof *material) == 0)) return 0;
  RenderState.material = *material;
  RenderState.statesChanged = 1;
  const HRESULT hr = SetDeviceMaterial(material);
  ApplyLightShaderConstants();
  return FAILED(hr) ? -1 : 0;
}

int SetAmbientColor(DWORD argb) {
  if (!HasDirect3DDevice()) return -1;
  if (!RenderState.reapplyAll) RenderStateBatchFlush(0);
  Float4(RenderState.ambient, ((argb >> 16) & 255) / 255.0f, ((argb >> 8) & 255) / 255.0f, (argb & 255) / 255.0f,
         ((argb >> 24) & 255) / 255.0f);
  const int result = SendRenderState(D3DRS_AMBIENT, argb);
  ApplyLightShaderConstants();
  return result;
}

int SetTextureAddressModeCached(int sampler, int u, int v, int w) {
  if (!HasDirect3DDevice()) return 0;
  int first, last;
  if (!SamplerRange(sampler, &first, &last)) return -1;
  AddressMode(sampler, 0, u);
  AddressMode(sampler, 1, v);
  AddressMode(sampler, 2, w);
  return 0;
}
int SetTextureAddressUCached(int sampler, int mode) { return AddressMode(sampler, 0, mode); }
int SetTextureAddressVCached(int sampler, int mode) { return AddressMode(sampler, 1, mode); }
int SetTextureAddressWCached(int sampler, int mode) { return AddressMode(sampler, 2, mode); }

int SetTextureTransformCached(int stage, const D3DMATRIX* matrix) {
  if (!HasDirect3DDevice()) return -1;
  if (stage < -1 || stage > 3) return -1;
  const int first = stage < 0 ? 0 : stage, last = stage < 0 ? 3 : stage;
  const DWORD flags = matrix != nullptr ? D3DTTFF_COUNT3 : D3DTTFF_DISABLE;
  bool changes = matrix != nullptr || RenderState.reapplyAll;
  for (int t = first; t <= last && !changes; t++) {
    const StageCache& cache = RenderState.stages[t];
    changes = !(cache.set & 4) || cache.transformFlags != flags;
  }
  if (!changes) return 0;
  if (!RenderState.reapplyAll) RenderStateBatchFlush(0);
  for (int t = first; t <= last; t++) {
    StageCache& cache = RenderState.stages[t];
    if (!(cache.set & 4) || cache.transformFlags != flags || RenderState.reapplyAll) {
      SetDeviceTextureStageState(t, D3DTSS_TEXTURETRANSFORMFLAGS, flags);
      cache.transformFlags = flags;
      cache.set |= 4;
    }
    if (matrix != nullptr) {
      RenderState.textureTransforms[t] = *matrix;
      SetDeviceTransform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + t), matrix);
    }
  }
  RenderState.statesChanged = 1;
  return 0;
}

int ReapplyTextureTransforms() {
  if (!HasDirect3DDevice()) return -1;
  for (int t = 0; t < TEXTURE_TRANSFORM_STAGES; t++) {
    StageCache& cache = RenderState.stages[t];
    const DWORD flags = (cache.set & 4) ? cache.transformFlags : static_cast<DWORD>(D3DTTFF_DISABLE);
    SetDeviceTextureStageState(t, D3DTSS_TEXTURETRANSFORMFLAGS, flags);
    if (flags != D3DTTFF_DISABLE)
      SetDeviceTransform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + t), &RenderState.textureTransforms[t]);
    cache.transformFlags = flags;
    cache.set |= 4;
  }
  RenderState.statesChanged = 1;
  return 0;
}

int ReapplyTexCoordIndices() {
  if (!HasDirect3DDevice()) return -1;
  for (int t = 0; t < RENDER_STAGES; t++) {
    StageCache& cache = RenderState.stages[t];
    const DWORD index = (cache.set & 1) ? cache.texCoordIndex : static_cast<DWORD>(t);
    SetDeviceTextureStageState(t, D3DTSS_TEXCOORDINDEX, index);
    cache.texCoordIndex = index;
    cache.set |= 1;
  }
  RenderState.statesChanged = 1;
  return 0;
}

DWORD GetAmbientColorWord() {
  DWORD argb = 0;
  static const int shifts[4] = {16, 8, 0, 24};  // red, green, blue, alpha
  for (int i = 0; i < 4; i++) {
    float f = RenderState.ambient[i];
    f = f < 0.0f ? 0.0f : f > 1.0f ? 1.0f : f;
    argb |= static_cast<DWORD>(f * 255.0f + 0.5f) << shifts[i];
  }
  return argb;
}

int ApplyFogShaderConstants() {
  const float range = RenderState.fogEnd - RenderState.fogStart;
  float values[4];
  if (range != 0.0f) {
    Float4(values, RenderState.fogEnd / range, -1.0f / range, RenderState.fogDensity, 2.7182817f);
  } else {
    Float4(values, 0.0f, 0.0f, RenderState.fogDensity, 2.7182817f);  // no range: no linear fog
  }
  return SetShaderConstantCached(&ShaderConstants, 0, 0, 10, values, 1, 1);
}

int SetFogEnableCached(int on) {
  // The constants and the model shader choice follow a change only (every
  // draw passes its fog switch through here).
  const bool changes = RenderState.fogEnable != on || RenderState.reapplyAll;
  const int result = CachedState(&RenderState.fogEnable, on, D3DRS_FOGENABLE);
  if (!changes) return result;
  ApplyFogShaderConstants();
  UpdateModelShaderSelection();
  return result;
}

int SetFogVertexModeCached(int mode) {
  const int result = CachedState(&RenderState.fogVertexMode, mode, D3DRS_FOGVERTEXMODE);
  ApplyFogShaderConstants();
  UpdateModelShaderSelection();
  return result;
}

int SetFogColorCached(DWORD color) {
  if (!HasDirect3DDevice()) return -1;
  if (!MustSend(RenderState.fogColor == color)) return 0;
  RenderState.fogColor = color;
  const int result = SendRenderState(D3DRS_FOGCOLOR, color);
  float values[4];
  Float4(values, ((color >> 16) & 255) / 255.0f, ((color >> 8) & 255) / 255.0f, (color & 255) / 255.0f,
         ((color >> 24) & 255) / 255.0f);
  SetShaderConstantCached(&ShaderConstants, 3, 0, 8, values, 1, 1);
  return result;
}

int SetFogStartEndCached(float start, float end) {
  if (!HasDirect3DDevice()) return -1;
  if (!MustSend(RenderState.fogStart == start && RenderState.fogEnd == end)) return 0;
  RenderState.fogStart = start;
  RenderState.fogEnd = end;
  int result = SendRenderState(D3DRS_FOGSTART, FloatBits(start));
  if (SendRenderState(D3DRS_FOGEND, FloatBits(end)) != 0) result = -1;
  ApplyFogShaderConstants();
  return result;
}

int SetFogDensityCached(float density) {
  if (!HasDirect3DDevice()) return -1;
  if (!MustSend(RenderState.fogDensity == density)) return 0;
  RenderState.fogDensity = density;
  const int result = SendRenderState(D3DRS_FOGDENSITY, FloatBits(density));
  ApplyFogShaderConstants();
  return result;
}

int DrawVertexGridStrip(const void* vertices, int width, int height) {
  if (width < 2 || height < 2 || vertices == nullptr) return -1;
  if (!HasDirect3DDevice()) return 0;
  if (width * height > 65536) return -1;  // 16-bit indices
  // One strip per row pair; rows are joined by repeating the last index of
  // one row and the first of the next (two degenerate triangles).
  std::vector<WORD> indices;
  indices.reserve(GRID_STRIP_MAX_INDICES);
  auto flush = [&]() {
    if (indices.size() >= 3) {
      DrawDeviceIndexedPrimitiveUP(D3DPT_TRIANGLESTRIP, 0, width * height, static_cast<UINT>(indices.size() - 2),
                                   indices.data(), D3DFMT_INDEX16, vertices, 36);
    }
    indices.clear();
  };
  SetDeviceFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2);
  RenderState.fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2;
  RenderState.declaration = nullptr;
  for (int row = 0; row + 1 < height; row++) {
    const size_t rowIndices = static_cast<size_t>(width) * 2;
    // A row that no longer fits starts a new call.
    if (!indices.empty() && indices.size() + 2 + rowIndices > GRID_STRIP_MAX_INDICES) flush();
    if (!indices.empty()) {
      indices.push_back(indices.back());
      indices.push_back(static_cast<WORD>(row * width));
    }
    for (int x = 0; x < width; x++) {
      if (indices.size() + 2 > GRID_STRIP_MAX_INDICES) {  // a row longer than one call
        const WORD a = indices[indices.size() - 2], b = indices.back();
        flush();
        indices.push_back(a);
        indices.push_back(b);
      }
      indices.push_back(static_cast<WORD>(row * width + x));
      indices.push_back(static_cast<WORD>((row + 1) * width + x));
    }
  }
  flush();
  return 0;
}

int SetViewportCached(const D3DVIEWPORT9* viewport) {
  if (!HasDirect3DDevice() || viewport == nullptr) return -1;
  const D3DVIEWPORT9& c = RenderState.viewport;
  const bool same = c.X == viewport->X && c.Y == viewport->Y && c.Width == viewport->Width &&
                    c.Height == viewport->Height;
  if (HoldViewportChange(viewport, same)) return 0;
  if (!MustSend(same)) return 0;
  EndDrawScene();
  const HRESULT hr = SetDeviceViewport(viewport);
  if (FAILED(hr)) {
    LogPrintf(LOG_VIEWPORT_FAILED, static_cast<unsigned>(hr));
    return -1;
  }
  RenderState.viewport = *viewport;
  RenderState.statesChanged = 1;
  return 0;
}

int SetViewportRect(int x1, int y1, int x2, int y2) {
  D3DVIEWPORT9 viewport;
  viewport.X = x1;
  viewport.Y = y1;
  viewport.Width = x2 > x1 ? x2 - x1 : 0;
  viewport.Height = y2 > y1 ? y2 - y1 : 0;
  viewport.MinZ = 0.0f;
  viewport.MaxZ = 1.0f;
  return SetViewportCached(&viewport);
}

int SetScissorRectCached(const RECT* rect) {
  if (!HasDirect3DDevice() || rect == nullptr) return -1;
  const bool same = EqualRect(&RenderState.scissor, rect) != 0;
  if (HoldScissorChange(rect, same)) return 0;
  if (!MustSend(same)) return 0;
  EndDrawScene();
  RenderState.scissor = *rect;
  RenderState.statesChanged = 1;
  return FAILED(SetDeviceScissorRect(rect)) ? -1 : 0;
}

int SetLightingEnableCached(int on) {
  UpdateModelShaderSelection();
  return CachedState(&RenderState.lighting, on, D3DRS_LIGHTING);
}
int ApplyLightingEnable(int on) { return SetLightingEnableCached(on); }

void ResetTexCoordIndexCached() {
  if (!HasDirect3DDevice()) return;
  for (int t = 0; t < RENDER_STAGES; t++) {
    StageCache& cache = RenderState.stages[t];
    if ((cache.set & 1) && cache.texCoordIndex == static_cast<DWORD>(t) && !RenderState.reapplyAll) continue;
    if (!RenderState.reapplyAll) RenderStateBatchFlush(0);
    SetDeviceTextureStageState(t, D3DTSS_TEXCOORDINDEX, t);
    cache.texCoordIndex = t;
    cache.set |= 1;
    RenderState.statesChanged = 1;
  }
}

int SetDeviceDialogBoxMode(int flag) {
  if (!HasDirect3DDevice()) return 0;
  EndDrawScene();
  return FAILED(SetDeviceDialogBoxModeRaw(flag ? TRUE : FALSE)) ? -1 : 0;
}

// ---------------------------------------------------------------------------
// Lights as given to the device, and their constants.

int SetLightToDevice(int index, const D3DLIGHT9* light) {
  if (!HasDirect3DDevice()) return -1;
  if (index < 0 || light == nullptr) return -1;
  if (!RenderState.reapplyAll) RenderStateBatchFlush(0);
  const HRESULT hr = SetDeviceLightRaw(index, light);
  if (index < DEVICE_LIGHT_COPIES) DeviceLights[index].light = *light;
  RenderState.statesChanged = 1;
  ApplyLightShaderConstants();
  UpdateModelShaderSelection();
  return FAILED(hr) ? -1 : 0;
}

int SetLightEnableToDevice(int index, int enable) {
  if (!HasDirect3DDevice()) return -1;
  if (index < 0) return -1;
  if (!RenderState.reapplyAll) RenderStateBatchFlush(0);
  const HRESULT hr = EnableDeviceLight(index, enable ? TRUE : FALSE);
  if (index < DEVICE_LIGHT_COPIES) DeviceLights[index].enabled = enable ? 1 : 0;
  RenderState.statesChanged = 1;
  ApplyLightShaderConstants();
  UpdateModelShaderSelection();
  return FAILED(hr) ? -1 : 0;
}

int SetDeviceLight(int index, int enable, const D3DLIGHT9* light) {
  if (!HasDirect3DDevice()) return 0;
  if (enable == 1 && SetLightToDevice(index, light) != 0) return -1;
  return SetLightEnableToDevice(index, enable);
}

void ApplyLightShaderConstants() {
  const D3DMATERIAL9& m = RenderState.material;
  float ambient[4];
  Float4(ambient, m.Ambient.r * RenderState.ambient[0] + m.Emissive.r,
         m.Ambient.g * RenderState.ambient[1] + m.Emissive.g, m.Ambient.b * RenderState.ambient[2] + m.Emissive.b,
         m.Ambient.a * RenderState.ambient[3] + m.Emissive.a);
  SetShaderConstantCached(&ShaderConstants, 0, 0, 1, ambient, 1, 1);
  SetShaderConstantCached(&ShaderConstants, 3, 0, 1, ambient, 1, 1);
  const Matrix4* view = GetViewMatrix();
  for (int i = 0; i < DEVICE_LIGHT_COPIES; i++) {
    const D3DLIGHT9& l = DeviceLights[i].light;
    Vector3 position = {l.Position.x, l.Position.y, l.Position.z};
    Vector3 direction = {l.Direction.x, l.Direction.y, l.Direction.z};
    VectorTransform(&position, &position, view);
    VectorTransformDirection(&direction, &direction, view);
    float block[7][4];
    Float4(block[0], position.x, position.y, position.z, 1.0f);
    Float4(block[1], direction.x, direction.y, direction.z, 0.0f);
    Float4(block[2], l.Range, l.Falloff, l.Attenuation0, l.Attenuation1);
    Float4(block[3], l.Attenuation2, cosf(l.Theta * 0.5f), cosf(l.Phi * 0.5f), static_cast<float>(l.Type));
    Float4(block[4], l.Diffuse.r * m.Diffuse.r, l.Diffuse.g * m.Diffuse.g, l.Diffuse.b * m.Diffuse.b,
           l.Diffuse.a * m.Diffuse.a);
    Float4(block[5], l.Specular.r * m.Specular.r, l.Specular.g * m.Specular.g, l.Specular.b * m.Specular.b, m.Power);
    Float4(block[6], l.Ambient.r * m.Ambient.r, l.Ambient.g * m.Ambient.g, l.Ambient.b * m.Ambient.b,
           l.Ambient.a * m.Ambient.a);
    if (i < 4) {
      SetShaderConstantCached(&ShaderConstants, 0, 0, 14 + 7 * i, block, 7, 1);
      const BOOL switches[2] = {DeviceLights[i].enabled, l.Type == D3DLIGHT_SPOT};
      SetShaderConstantCached(&ShaderConstants, 2, 0, 5 + 3 * i, switches, 2, 1);
      float colors[3][4];
      memcpy(colors[0], block[6], sizeof colors[0]);
      memcpy(colors[1], block[5], sizeof colors[1]);
      memcpy(colors[2], block[4], sizeof colors[2]);
      SetShaderConstantCached(&ShaderConstants, 3, 0, 9 + 3 * i, colors, 3, 1);
    }
    SetShaderConstantCached(&ShaderConstants, 3, 0, 32 + 7 * i, block, 7, 1);
  }
}
