// Graphics-system start and end: screen defaults, the shader-constant
// cache, the Direct3D or software start, the handle types, the device draw
// state, the neighbouring modules and the filter accuracy check; and the
// device resources made after the probe: base shaders (from the embedded
// shader archives), vertex declarations, the brightness volume texture.
// Threads: main thread.
// Platform: IDirect3DDevice9 shader, declaration and volume-texture
// creation, render and sampler states, through the device call table.
#include "VuViderezaGraph.h"
#include "VuViderezaGraphics.h"

#include <stdio.h>
#include <string.h>

#include "MoDerov.h"
#include "RaRadaraLog.h"
#include "RuRovoreziZuzu.h"
#include "VeRavoro.h"
#include "VeRavoroString.h"
#include "VuViderezaBuffer.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaDraw.h"
#include "VuViderezaDrawSoft.h"
#include "VuViderezaGraphPool.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VuViderezaMath.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShader.h"
#include "VuViderezaShaderCode.h"
#include "VuViderezaShadowMap.h"
#include "VuViderezaShape.h"
#include "VuViderezaTransform.h"
#include "ZiDezaru.h"

namespace {

const char LOG_NO_SHADERS[] = "プログラマブルシェーダーを使用しません";
const char LOG_SHADERS[] = "プログラマブルシェーダーを使用します";
const char LOG_MAX_LUMA_VOLUME_FAILED[] =
    "RGBカラーを輝度を最大にしたRGB値に変換するためのボリュームテクスチャの作成に失敗しました";
const char LOG_MAX_LUMA_SOURCE_FAILED[] =
    "RGBカラーを輝度を最大にしたRGB値に変換するための転送元用ボリュームテクスチャの作成に失敗しました";
const char LOG_MAX_LUMA_LOCK_FAILED[] =
    "RGBカラーを輝度を最大にしたRGB値に変換するための転送元用ボリュームテクスチャのロックに失敗しました";

}  // namespace

GraphicsSystemState GraphicsSystem;

namespace {

template <typename T>
void ReleaseObject(T** object) {
  if (*object != nullptr) ReleaseComObject(reinterpret_cast<IUnknown*>(*object));
  *object = nullptr;
}

// Unsets the device shaders and forgets the cached ones.
void UnsetDeviceShaders() {
  if (HasDirect3DDevice()) {
    SetDeviceVertexShader(nullptr);
    SetDevicePixelShader(nullptr);
  }
  RenderState.vertexShader = nullptr;
  RenderState.pixelShader = nullptr;
  RenderState.declaration = nullptr;
  RenderState.choosePixelShader = 1;
}

bool CreatePixelShaderFromArchive(const char* name, IDirect3DPixelShader9** shader, bool* missing) {
  const void* code = nullptr;
  uint32_t size = 0;
  *missing = false;
  if (FindShaderCode(1, name, &code, &size) != 0 || size == 0) {
    *missing = true;
    return false;
  }
  return CreateDevicePixelShader(static_cast<const DWORD*>(code), shader) == D3D_OK && *shader != nullptr;
}

void WriteBaseConstants() {
  const float vertexBase[4] = {0.0f, 1.0f, 0.0f, 0.0f};
  const float pixelBase[4] = {0.0f, 0.5f, 1.0f, 2.0f};
  SetShaderConstantCached(&ShaderConstants, 0, 0, 0, vertexBase, 1, 1);
  SetShaderConstantCached(&ShaderConstants, 3, 0, 0, pixelBase, 1, 1);
}

// Element helpers for the declarations.
D3DVERTEXELEMENT9 Element(int offset, int type, int usage, int index) {
  D3DVERTEXELEMENT9 e;
  e.Stream = 0;
  e.Offset = static_cast<WORD>(offset);
  e.Type = static_cast<BYTE>(type);
  e.Method = D3DDECLMETHOD_DEFAULT;
  e.Usage = static_cast<BYTE>(usage);
  e.UsageIndex = static_cast<BYTE>(index);
  return e;
}
const D3DVERTEXELEMENT9 DeclarationEnd = D3DDECL_END();

}  // namespace

// ---------------------------------------------------------------------------
// Start and end.

int InitializeGraphicsSystem() {
  if (Screen.graphicsUp) return 0;
  const bool small = IsScreenEmulationOn() != 0;
  if (Screen.width == 0 || Screen.height == 0) {
    Screen.width = 640;
    Screen.height = 480;
    Screen.drawWidth = small ? 320 : 640;
    Screen.drawHeight = small ? 240 : 480;
    SetProjectionScreenSize(Screen.drawWidth, Screen.drawHeight);
  }
  if (Screen.colorBits == 0) {
    Screen.colorBits = 16;
    SetMemImgDefaultColorType(0);
  }
  if (Screen.width == 320 && Screen.height == 240 && !IsWindowedMode()) {
    Screen.autoEmulate320x240 = 1;
    Screen.width = 640;
    Screen.height = 480;
    Screen.drawWidth = 320;
    Screen.drawHeight = 240;
    SetProjectionScreenSize(320, 240);
  }
  InitShaderConstantCache(&ShaderConstants);
  SetShaderConstantSetMask(&ShaderConstants, 1);
  if (StartGraphicsSystem() < 0) {
    // What a failed start made (d3d9.dll, DirectDraw) goes with it.
    EndGraphicsSystem();
    ReleaseShaderCodeArchives();
    TerminateGraphicsSystem();
    return -1;
  }
  InitHandleType(HANDLETYPE_SHADER, sizeof(ShaderHandleRecord), 4096, ReturnZero, ReleaseShaderHandleRecord,
                 "シェーダー");
  InitHandleType(HANDLETYPE_VERTEX_BUFFER, sizeof(BufferHandleRecord), 16384, ReturnZero, ReleaseBufferHandleRecord,
                 "頂点バッファ");
  InitHandleType(HANDLETYPE_INDEX_BUFFER, sizeof(BufferHandleRecord), 16384, ReturnZero, ReleaseBufferHandleRecord,
                 "インデックスバッファ");
  InitHandleType(HANDLETYPE_SHADOWMAP, sizeof(ShadowMapRecord), SHADOWMAP_HANDLE_MAX, InitShadowMapRecord,
                 ReleaseShadowMapHandleRecord, "シャドウマップ");
  InitGraphicHandleType();
  Screen.graphicsUp = 1;
  ResetTransforms();
  if (DeviceLayer.hardware) InitializeDeviceDrawState();
  else CreateSoftwareScreenImages();
  InitializeLights();
  BuildBlendLookupTables();
  InitializeFontModule();
  InitMaskSystem();
  ReapplyDeviceStates();
  GraphicsSystem.filtersExact = 0;
  if (!DeviceLayer.hardware || !GraphicsSystem.shadersUsable) return 0;
  GraphicsSystem.filtersExact = RunFilterAccuracyCheck();
  return 0;
}

int TerminateGraphicsSystem() {
  if (!Screen.graphicsUp) return 0;
  DeleteAllHandlesOfType(HANDLETYPE_SHADOWMAP, nullptr);
  DeleteAllModels();
  DeleteAllModelBases();
  TermGraphicHandleType();
  DeleteAllHandlesOfType(HANDLETYPE_VERTEX_BUFFER, nullptr);
  DeleteAllHandlesOfType(HANDLETYPE_INDEX_BUFFER, nullptr);
  DeleteAllHandlesOfType(HANDLETYPE_SHADER, nullptr);
  ReleaseTransferTextures(0);
  EndMaskSystem();
  TerminateFontModule();
  DeleteAllLights();
  ReleaseSoftwareScreenImages();
  EndGraphicsSystem();
  ReleaseShaderCodeArchives();
  TermHandleType(HANDLETYPE_SHADOWMAP);
  memset(&ShadowMaps, 0, sizeof ShadowMaps);
  TermHandleType(HANDLETYPE_VERTEX_BUFFER);
  TermHandleType(HANDLETYPE_INDEX_BUFFER);
  TermHandleType(HANDLETYPE_SHADER);
  FreeCircleWorkBuffers();
  FreeVertexListWork();
  ReleaseSoftwareBlendMask();
  Screen.graphicsUp = 0;
  GraphicsSystem.shadersUsable = 0;
  GraphicsSystem.filtersExact = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// Filter accuracy check.

int CountInverseMatches(const unsigned char set[4][3], const unsigned char read[4][3]) {
  int matches = 0;
  for (int i = 0; i < 4; i++) {
    for (int c = 0; c < 3; c++) {
      const int sum = set[i][c] + read[i][c];
      matches += sum >= 254 && sum <= 256 ? 1 : 0;
    }
  }
  return matches;
}

int RunFilterAccuracyCheck() {
  static const unsigned char colors[4][3] = {{204, 168, 80}, {128, 100, 245}, {66, 222, 143}, {34, 255, 78}};
  unsigned char read[4][3];
  // The graphic, the invert filter and the read-back come from the graphics
  // and filter layers; without them the check fails softly.
  if (InvertAndReadBackDiagonal(colors, read) != 0) return 0;
  return CountInverseMatches(colors, read) == 12 ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Device draw state.

void InitializeDeviceDrawState() {
  if (!HasDirect3DDevice()) return;
  ResetVertexBatchBuffers();
  const int filterMode = GetSamplingMode();
  const DWORD(&filters)[3][3] = SamplerFilterTable;
  const int mode = filterMode >= 0 && filterMode <= 2 ? filterMode : 0;
  memset(&RenderState, 0, sizeof RenderState);
  memset(DeviceLights, 0, sizeof DeviceLights);
  for (int s = 0; s < RENDER_SAMPLERS; s++) {
    SamplerCache& cache = RenderState.samplers[s];
    cache.addressU = cache.addressV = cache.addressW = D3DTADDRESS_CLAMP;
    SetDeviceSamplerState(s, D3DSAMP_ADDRESSU, cache.addressU);
    SetDeviceSamplerState(s, D3DSAMP_ADDRESSV, cache.addressV);
    SetDeviceSamplerState(s, D3DSAMP_ADDRESSW, cache.addressW);
    cache.magFilter = filters[mode][0];
    cache.minFilter = filters[mode][1];
    cache.mipFilter = filters[mode][2];
    SetDeviceSamplerState(s, D3DSAMP_MAGFILTER, cache.magFilter);
    SetDeviceSamplerState(s, D3DSAMP_MINFILTER, cache.minFilter);
    SetDeviceSamplerState(s, D3DSAMP_MIPFILTER, cache.mipFilter);
    cache.maxAnisotropy = 1;
  }
  SetDeviceRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  SetDeviceRenderState(D3DRS_LIGHTING, TRUE);
  SetDeviceRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
  SetDeviceRenderState(D3DRS_DITHERENABLE, FALSE);
  SetDeviceRenderState(D3DRS_SPECULARENABLE, TRUE);
  SetDeviceRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL);
  SetDeviceRenderState(D3DRS_NORMALIZENORMALS, TRUE);
  SetDeviceRenderState(D3DRS_FOGENABLE, FALSE);
  SetDeviceRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_NONE);
  SetDeviceRenderState(D3DRS_FOGCOLOR, 0);
  const float fogStart = 0.0f, fogEnd = 1.0f;
  DWORD bits;
  memcpy(&bits, &fogStart, 4);
  SetDeviceRenderState(D3DRS_FOGSTART, bits);
  memcpy(&bits, &fogEnd, 4);
  SetDeviceRenderState(D3DRS_FOGEND, bits);
  GetDeviceMaterial(&RenderState.material);
  RenderState.zEnable = 1;
  RenderState.zWriteEnable = 0;
  RenderState.zFunc = D3DCMP_LESSEQUAL;
  RenderState.depthBias = 0;
  RenderState.fillMode = D3DFILL_SOLID;
  RenderState.cullSetting = 0;
  RenderState.shadeMode = D3DSHADE_FLAT;
  RenderState.lighting = 1;
  RenderState.specularEnable = 1;
  RenderState.diffuseMaterialSource = 255;
  RenderState.specularMaterialSource = 255;
  RenderState.maxAnisotropy = 1;
  RenderState.viewport = {0, 0, static_cast<DWORD>(Screen.width), static_cast<DWORD>(Screen.height), 0.0f, 1.0f};
  RenderState.fogStart = 0.0f;
  RenderState.fogEnd = 1.0f;
  RenderState.filterMode = 3;  // no mode: the next request reaches the device
  ReapplyDeviceStates();
  BeginDrawSceneOnce();
  PrepareUntexturedDrawState();
}

// The whole cache sent again (after device creation and reset).
int ReapplyDeviceStates() {
  if (!HasDirect3DDevice()) return 0;
  RenderState.reapplyAll = 1;
  InitDeviceRenderStates();
  RenderStateCache& c = RenderState;
  const int filterMode = c.filterMode;
  if (filterMode >= 0 && filterMode <= 2) SetSamplerFilterCached(filterMode);
  SetMaxAnisotropyCached(c.maxAnisotropy);
  SetZEnableCached(c.zEnable);
  SetZWriteEnableCached(c.zWriteEnable);
  SetZFuncCached(c.zFunc);
  SetDepthBiasCached(c.depthBias);
  SetFillModeCached(c.fillMode);
  SetCullModeCached(c.cullSetting);
  SetShadeModeCached(c.shadeMode);
  SetSpecularEnableCached(c.specularEnable);
  SetFogEnableCached(c.fogEnable);
  SetFogVertexModeCached(c.fogVertexMode);
  SetFogColorCached(c.fogColor);
  SetFogStartEndCached(c.fogStart, c.fogEnd);
  SetFogDensityCached(c.fogDensity);
  const D3DMATERIAL9 material = c.material;
  SetMaterialCached(&material);
  for (int s = 0; s < RENDER_SAMPLERS; s++) {
    SetTextureAddressModeCached(s, c.samplers[s].addressU, c.samplers[s].addressV, c.samplers[s].addressW);
  }
  const D3DVIEWPORT9 viewport = c.viewport;
  if (viewport.Width != 0 && viewport.Height != 0) SetViewportCached(&viewport);
  const RECT scissor = c.scissor;
  if (scissor.right > scissor.left && scissor.bottom > scissor.top) SetScissorRectCached(&scissor);
  PrepareGraphicDrawState(nullptr, 0, 1);
  if (Screen.graphicsUp) {
    // The draw target's surface and the requested draw area on the new
    // device (setting render target 0 resets the viewport).
    IDirect3DSurface9* target = GetDrawTargetSurface();
    if (target != nullptr) SetRenderTargetCached(target, 0);
    ApplyDepthStencilForDrawTarget();
    const RECT area = CurrentDrawState.requestedArea;
    SetClipRect(area.left, area.top, area.right, area.bottom);
  }
  ReapplyAllShaderConstants(&ShaderConstants);
  SceneViewState.lights.resendAll = 1;
  RenderState.reapplyAll = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// Base shaders.

int AreShadersUsable() { return GraphicsSystem.shadersUsable; }

int GetShaderModelLevel() {
  if (HasDirect3DDevice() && !GraphicsSystem.shadersUsable) return 0;
  const DWORD vs = DeviceCaps.vertexShaderVersion & 0xFFFF, ps = DeviceCaps.pixelShaderVersion & 0xFFFF;
  if (vs < 0x200 && ps < 0x200) return 0;
  if (vs < 0x300 || ps < 0x300) return 200;
  return 300;
}

void ReleaseBaseShaders() {
  UnsetDeviceShaders();
  for (IDirect3DPixelShader9*& shader : GraphicsSystem.nonetexShaders) ReleaseObject(&shader);
  for (IDirect3DPixelShader9*& shader : GraphicsSystem.blendShaders) ReleaseObject(&shader);
  ReleaseObject(&GraphicsSystem.maskBlendShader);
  ReleaseBatchShaders();
  ReleaseObject(&GraphicsSystem.checkVertexShader);
  ReleaseObject(&GraphicsSystem.checkPixelShader);
}

void CreateBaseShaders() {
  ReleaseBaseShaders();
  GraphicsSystem.shadersUsable = 0;
  const DWORD vs = DeviceCaps.vertexShaderVersion & 0xFFFF, ps = DeviceCaps.pixelShaderVersion & 0xFFFF;
  const bool model3 = vs >= 0x300 && ps >= 0x300;
  const bool model2 = vs >= 0x200 && ps >= 0x200;
  if (DeviceCaps.noShaders || !HasDirect3DDevice() || (!model3 && !model2)) {
    LogPrintf(LOG_NO_SHADERS);
    WriteBaseConstants();
    return;
  }
  GraphicsSystem.shadersUsable = 1;
  const char* failure = nullptr;
  if (!SetupShaderCodeArchives()) {
    failure = "シェーダーコードを展開するメモリ領域の確保に失敗しました\n";
  }
  if (failure == nullptr) {
    const ShaderCodeEntry& vertex = model3 ? ShaderCode.groups[0][0] : ShaderCode.groups[6][0];
    const ShaderCodeEntry& pixel = model3 ? ShaderCode.groups[2][0] : ShaderCode.groups[9][0];
    if (vertex.code == nullptr ||
        CreateDeviceVertexShader(static_cast<const DWORD*>(vertex.code), &GraphicsSystem.checkVertexShader) != D3D_OK ||
        GraphicsSystem.checkVertexShader == nullptr) {
      GraphicsSystem.checkVertexShader = nullptr;
      failure = "頂点シェーダーオブジェクトの作成に失敗しました\n";
    } else if (pixel.code == nullptr ||
               CreateDevicePixelShader(static_cast<const DWORD*>(pixel.code), &GraphicsSystem.checkPixelShader) !=
                   D3D_OK ||
               GraphicsSystem.checkPixelShader == nullptr) {
      GraphicsSystem.checkPixelShader = nullptr;
      failure = "ピクセルシェーダーオブジェクトの作成に失敗しました\n";
    }
  }
  char name[64];
  bool missing;
  for (int slot = 0; failure == nullptr && slot < BASE_NONETEX_SHADERS; slot++) {
    snprintf(name, sizeof name, "ps_nonetex_type%d_ach%d.pso", slot / 2, slot % 2);
    if (!CreatePixelShaderFromArchive(name, &GraphicsSystem.nonetexShaders[slot], &missing) && !missing) {
      GraphicsSystem.nonetexShaders[slot] = nullptr;
      failure = "基本シェーダーオブジェクトの作成に失敗しました\n";
    }
  }
  for (int slot = 0; failure == nullptr && slot < BASE_BLEND_SHADERS; slot++) {
    const int ach = slot % 2, igtalpha = slot / 2 % 2, igcolor = slot / 4 % 2, type = slot / 8 % 7, blend = slot / 56;
    snprintf(name, sizeof name, "ps_blend%d_type%d_igcolor%d_igtalpha%d_ach%d.pso", blend, type, igcolor, igtalpha,
             ach);
    if (!CreatePixelShaderFromArchive(name, &GraphicsSystem.blendShaders[slot], &missing) && !missing) {
      GraphicsSystem.blendShaders[slot] = nullptr;
      failure = "基本シェーダーオブジェクトの作成に失敗しました\n";
    }
  }
  if (failure == nullptr &&
      !CreatePixelShaderFromArchive("ps_mask_blend.pso", &GraphicsSystem.maskBlendShader, &missing)) {
    GraphicsSystem.maskBlendShader = nullptr;
    failure = "マスク処理用シェーダーオブジェクトの作成に失敗しました\n";
  }
  if (failure != nullptr) {
    LogPrintf("%s", failure);
    ReleaseBaseShaders();
    GraphicsSystem.shadersUsable = 0;
    LogPrintf(LOG_NO_SHADERS);
  } else {
    LogPrintf(LOG_SHADERS);
  }
  WriteBaseConstants();
}

// ---------------------------------------------------------------------------
// Vertex declarations.

int GetModelVertexDeclarationElements(int number, D3DVERTEXELEMENT9* elements, int* stride) {
  if (number < 0 || number >= MODEL_VERTEX_DECLARATIONS) return -1;
  const int family = number / 27, type = number / 9 % 3, extra = number % 9;
  int n = 0, offset = 0;
  elements[n++] = Element(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
  offset = 12;
  if (type >= 1) {
    elements[n++] = Element(offset, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 0);
    offset += 4;
    if (type == 2) {
      elements[n++] = Element(offset, D3DDECLTYPE_UBYTE4, D3DDECLUSAGE_BLENDINDICES, 1);
      offset += 4;
    }
    elements[n++] = Element(offset, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_BLENDWEIGHT, 0);
    offset += 16;
    if (type == 2) {
      elements[n++] = Element(offset, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_BLENDWEIGHT, 1);
      offset += 16;
    }
  }
  if (family == 1) {
    elements[n++] = Element(offset, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TANGENT, 0);
    elements[n++] = Element(offset + 12, D3DDECLTYPE_FLOAT3, 7, 0);
    offset += 24;
  }
  elements[n++] = Element(offset, D3DDECLTYPE_FLOAT3, 3, 0);
  elements[n++] = Element(offset + 12, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
  elements[n++] = Element(offset + 16, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
  offset += 20;
  for (int i = 0; i < extra; i++)
    elements[n++] = Element(offset + 16 * i, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_TEXCOORD, i);
  elements[n] = DeclarationEnd;
  if (stride != nullptr) *stride = offset;
  return n;
}

int GetFixedVertexDeclarationElements(int number, D3DVERTEXELEMENT9* elements) {
  int n = 0;
  if (number == 0) {
    elements[n++] = Element(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
    elements[n++] = Element(12, D3DDECLTYPE_FLOAT3, 3, 0);
    elements[n++] = Element(24, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    elements[n++] = Element(28, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
    elements[n++] = Element(32, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0);
    elements[n++] = Element(40, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1);
  } else if (number == 1) {
    elements[n++] = Element(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
    elements[n++] = Element(12, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION, 1);
    elements[n++] = Element(28, D3DDECLTYPE_FLOAT3, 3, 0);
    elements[n++] = Element(40, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TANGENT, 0);
    elements[n++] = Element(52, D3DDECLTYPE_FLOAT3, 7, 0);
    elements[n++] = Element(64, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    elements[n++] = Element(68, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
    elements[n++] = Element(72, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0);
    elements[n++] = Element(80, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1);
  } else {
    return -1;
  }
  elements[n] = DeclarationEnd;
  return n;
}

void ReleaseVertexDeclarations() {
  UnsetDeviceShaders();
  for (IDirect3DVertexDeclaration9*& d : GraphicsSystem.modelDeclarations) ReleaseObject(&d);
  for (IDirect3DVertexDeclaration9*& d : GraphicsSystem.fixedDeclarations) ReleaseObject(&d);
}

void CreateVertexDeclarations() {
  ReleaseVertexDeclarations();
  if (!HasDirect3DDevice()) return;
  D3DVERTEXELEMENT9 elements[24];
  for (int i = 0; i < MODEL_VERTEX_DECLARATIONS; i++) {
    GetModelVertexDeclarationElements(i, elements, nullptr);
    if (CreateDeviceVertexDeclaration(elements, &GraphicsSystem.modelDeclarations[i]) != D3D_OK)
      GraphicsSystem.modelDeclarations[i] = nullptr;
  }
  for (int i = 0; i < 2; i++) {
    GetFixedVertexDeclarationElements(i, elements);
    if (CreateDeviceVertexDeclaration(elements, &GraphicsSystem.fixedDeclarations[i]) != D3D_OK)
      GraphicsSystem.fixedDeclarations[i] = nullptr;
  }
}

// ---------------------------------------------------------------------------
// Brightness volume texture.

void MaxBrightnessColor(int r, int g, int b, int* outR, int* outG, int* outB) {
  if (r + g + b == 0) {
    *outR = *outG = *outB = 255;
    return;
  }
  int c[3] = {r > 255 ? 255 : r, g > 255 ? 255 : g, b > 255 ? 255 : b};
  if (c[0] == c[1] && c[1] == c[2]) {
    *outR = *outG = *outB = 255;
    return;
  }
  int hi = 0, lo = 0;
  for (int i = 1; i < 3; i++) {
    if (c[i] > c[hi]) hi = i;
    if (c[i] < c[lo]) lo = i;
  }
  if (hi == lo) lo = (hi + 1) % 3;
  const int mid = 3 - hi - lo;
  const int max = c[hi], min = c[lo], middle = c[mid];
  const int s = 255 * (max - min) / max;
  int out[3];
  out[hi] = 255;
  out[lo] = 255 - s;
  out[mid] = 255 - (255 - 255 * (middle - min) / (max - min)) * s / 255;
  *outR = out[0];
  *outG = out[1];
  *outB = out[2];
}

void ReleaseBrightnessMaxVolumeTexture() { ReleaseObject(&GraphicsSystem.brightnessTexture); }

int CreateBrightnessMaxVolumeTexture() {
  ReleaseBrightnessMaxVolumeTexture();
  if (!HasDirect3DDevice()) return -1;
  IDirect3DVolumeTexture9* texture = nullptr;
  IDirect3DVolumeTexture9* source = nullptr;
  D3DLOCKED_BOX locked;
  const D3DBOX box = {0, 0, 128, 128, 0, 128};
  if (CreateDeviceVolumeTexture(128, 128, 128, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr) != D3D_OK ||
      texture == nullptr) {
    LogPrintf(LOG_MAX_LUMA_VOLUME_FAILED);
    texture = nullptr;
    goto failed;
  }
  if (CreateDeviceVolumeTexture(128, 128, 128, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &source, nullptr) != D3D_OK ||
      source == nullptr) {
    LogPrintf(LOG_MAX_LUMA_SOURCE_FAILED);
    source = nullptr;
    goto failed;
  }
  if (LockVolumeBox(source, 0, &locked, &box, 0) != D3D_OK || locked.pBits == nullptr) {
    LogPrintf(LOG_MAX_LUMA_LOCK_FAILED);
    goto failed;
  }
  for (int z = 0; z < 128; z++) {
    for (int y = 0; y < 128; y++) {
      unsigned char* row = static_cast<unsigned char*>(locked.pBits) + locked.SlicePitch * z + locked.RowPitch * y;
      for (int x = 0; x < 128; x++) {
        int r = 255, g = 255, b = 255;
        if (x >= 8 || y >= 8 || z >= 8) MaxBrightnessColor(2 * x, 2 * y, 2 * z, &r, &g, &b);
        row[4 * x] = static_cast<unsigned char>(b);
        row[4 * x + 1] = static_cast<unsigned char>(g);
        row[4 * x + 2] = static_cast<unsigned char>(r);
        row[4 * x + 3] = 255;
      }
    }
  }
  UnlockVolumeBox(source, 0);
  UpdateDeviceTexture(source, texture);
  ReleaseObject(&source);
  GraphicsSystem.brightnessTexture = texture;
  return 0;

failed:
  ReleaseObject(&source);
  ReleaseObject(&texture);
  return -1;
}
