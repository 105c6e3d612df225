// Graphic filters and blends: the entry (validation, clipping, argument
// conversion, passes, the final copy), the filter draw state and its work
// render targets, the shader pass (filter shaders by name from the filter
// archive, the RGBA-mix table, the filter quad drawn outside the batch),
// the software frame over ARGB8 images, every family with both paths, the
// typed public calls and the start-up self-test's invert and read-back.
// Threads: main thread only; the shader handles and work targets are plain
// globals.
// Sources and destinations are graphics or shadow maps; multi-sample
// graphics are resolved before a filter and updated after it.
// Platform pieces: Direct3D 9 (render targets, StretchRect, UpdateSurface,
// DrawPrimitiveUP, render and sampler states through the library's
// wrappers).
#include "VuViderezaFilter.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>

#include "RiDov.h"
#include "VeRavoro.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaFilterSoft.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShader.h"
#include "VuViderezaShaderCode.h"
#include "VuViderezaShadowMap.h"
#include "Windows/RaRadaraLog.h"

namespace {

const char LOG_FILTER_SHADER_FAILED[] = "フィルター用シェーダーの作成に失敗しました %s";
const char LOG_RGBA_MIX_ENTRY_FAILED[] = "RGBAMixS フィルター用シェーダーの作成に失敗しました";
const char LOG_RGBA_MIX_FILE_FAILED[] = "RGBAMixS フィルター用シェーダーの作成に失敗しました %s";

// clang-format off
enum {
  FILTER_FLAG_WORD = 0x3500,
  FULL_RATIO = 255,  // a blend ratio at full strength
  FILTER_FVF = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2,  // 0x2c4
  PIXEL_FLOAT_CONSTANTS = 3,  // constant type: pixel float
  FILTER_CONSTANT_SET = 1,
  FILTER_SET_MASK = 3,
  BASE_SET_MASK = 1,
  RGBA_MIX_FILES = 16,
  GAUSS_CONSTANTS = 12,
  BLEND_CONSTANTS = 4,  // the family's two, then the blend graphic's texel range
};

const int FilterPassTable[FILTER_TYPES] = {1, 2, 1, 1, 2, 1, 1, 1, 1, 1, 1};
const int FilterWorkTable[FILTER_TYPES] = {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const char* const BlendShaderNames[GRAPH_BLEND_TYPES] = {
    "BasBF_Normal.pso",     nullptr,                  "BasBF_Multiple.pso",     "BasBF_Difference.pso",
    "BasBF_Add.pso",        "BasBF_Screen.pso",       "BasBF_Overlay.pso",      "BasBF_Dodge.pso",
    "BasBF_Burn.pso",       "BasBF_Darken.pso",       "BasBF_Lighten.pso",      "BasBF_SoftLight.pso",
    "BasBF_HardLight.pso",  "BasBF_Exclusion.pso",    "BasBF_Normal_AlphaCh.pso", "BasBF_Add_AlphaCh.pso",
    "BasBF_Multiple_AOnly.pso"};

// Shader handles by file (-1: not loaded); deleting a handle sets its
// variable back to -1 (the delete flag pointer), so a device loss or the
// shut-down makes the next use load it again.
struct FilterShaderHandles {
  int mono, brightClip[4], hsb[3], invert, level, twoColor, gradient[2], premul, interp;
  int gauss[3], downScale[3], blend[GRAPH_BLEND_TYPES];
  int rgbaTable[RGBA_MIX_ENTRIES], rgbaFiles[RGBA_MIX_FILES], rgbaBase;
};
// clang-format on
FilterShaderHandles Shaders;
bool ShadersCleared = false;

struct WorkTarget {
  int handle;
  int width, height, alpha;
};
WorkTarget WorkTargets[FILTER_WORK_SLOTS] = {{-1, 0, 0, 0}, {-1, 0, 0, 0}, {-1, 0, 0, 0}};

// The Level gamma table graphic and the gamma it holds.
int LevelTableGraph = -1;
float LevelTableGamma = -10000000.0f;

void ClearShaderHandles() {
  if (ShadersCleared) return;
  memset(&Shaders, 0xFF, sizeof Shaders);
  ShadersCleared = true;
}

// A graphic or a shadow map as the filters see it: its record and single
// texture.
struct FilterGraph {
  GraphicHandleRecord* record;  // null for a shadow map
  ShadowMapRecord* map;         // null for a graphic
  int width, height;
  IDirect3DTexture9* texture;
  IDirect3DSurface9* surface;
  IDirect3DSurface9* multiSampleSurface;  // drawing goes here; the texture is its resolved copy
  int texX, texY, texWidth, texHeight;
  bool single;        // one piece in one texture
  bool renderTarget;  // single and drawable
};

// A live graphic, or with `maps` a live shadow map with its texture.
bool LookUpGraph(int handle, FilterGraph* out, bool maps = false) {
  memset(out, 0, sizeof *out);
  GraphicHandleRecord* record = GetGraphicRecord(handle, 0);
  if (record == nullptr || record->image == nullptr) {
    ShadowMapRecord* map = maps
                               ? reinterpret_cast<ShadowMapRecord*>(GetHandleRecordOfType(handle, HANDLETYPE_SHADOWMAP))
                               : nullptr;
    if (map == nullptr || map->texture == nullptr || map->surface == nullptr) return false;
    out->map = map;
    out->width = map->width;
    out->height = map->height;
    out->texture = map->texture;
    out->surface = map->surface;
    out->texWidth = map->width;
    out->texHeight = map->height;
    out->single = out->renderTarget = true;
    return true;
  }
  out->record = record;
  out->width = record->width;
  out->height = record->height;
  if (record->pieceCount >= 1 && record->pieces[0].entry != nullptr) {
    GraphTextureEntry& entry = *record->pieces[0].entry;
    out->texture = entry.texture;
    out->surface = entry.faces[0];
    out->multiSampleSurface = entry.multiSampleSurface;
    out->texX = record->pieces[0].texX;
    out->texY = record->pieces[0].texY;
    out->texWidth = entry.allocWidth;
    out->texHeight = entry.allocHeight;
    out->single = record->pieceCount == 1 && out->texture != nullptr;
    out->renderTarget = out->single && record->image->format.drawable && out->surface != nullptr;
  }
  return true;
}

bool HasAlphaChannel(const FilterGraph& g) { return g.record != nullptr && g.record->image->format.alpha != 0; }

// A multi-sample graphic is drawn through its multi-sample surface: the
// texture the filter samples is brought up to date first.
void ResolveForFilter(const FilterGraph& g) {
  if (g.multiSampleSurface == nullptr || g.surface == nullptr) return;
  FlushVertexBatch(0);
  EndDrawScene();
  StretchDeviceRect(g.multiSampleSurface, nullptr, g.surface, nullptr, D3DTEXF_NONE);
}

// ...and what the filter wrote into the texture goes back into the
// multi-sample surface, which later drawing and read-back use.
void UpdateMultiSampleFromTexture(int handle) {
  FilterGraph g;
  if (!LookUpGraph(handle, &g) || g.multiSampleSurface == nullptr || g.surface == nullptr) return;
  FlushVertexBatch(0);
  EndDrawScene();
  StretchDeviceRect(g.surface, nullptr, g.multiSampleSurface, nullptr, D3DTEXF_NONE);
}

bool ShaderPath() { return DeviceLayer.hardware && HasDirect3DDevice() && AreShadersUsable(); }

int LoadShaderVariable(int* variable, const char* name) {
  ClearShaderHandles();
  if (*variable >= 0) return *variable;
  *variable = LoadFilterShaderByName(name);
  if (*variable < 0) {
    LogPrintf(LOG_FILTER_SHADER_FAILED, name);
    return -1;
  }
  SetHandleDeleteFlagPtr(*variable, variable);
  return *variable;
}

// A whole ARGB8 image into a 32-bit render-target graphic (its texture
// cannot be locked): through a system-memory surface and UpdateSurface.
int WriteImageToRenderTarget(const BaseImageRecord* image, const FilterGraph& g) {
  D3DSURFACE_DESC desc;
  if (g.surface == nullptr || GetSurfaceDesc(g.surface, &desc) != D3D_OK ||
      (desc.Format != D3DFMT_A8R8G8B8 && desc.Format != D3DFMT_X8R8G8B8))
    return -1;
  IDirect3DSurface9* system = nullptr;
  if (CreateDeviceOffscreenPlainSurface(image->width, image->height, desc.Format, D3DPOOL_SYSTEMMEM, &system,
                                        nullptr) != D3D_OK ||
      system == nullptr)
    return -1;
  int result = -1;
  D3DLOCKED_RECT locked;
  if (LockSurfaceRect(system, &locked, nullptr, 0) == D3D_OK) {
    for (int y = 0; y < image->height; y++) {
      memcpy(static_cast<unsigned char*>(locked.pBits) + y * locked.Pitch,
             static_cast<const unsigned char*>(image->pixels) + y * image->pitch, image->width * 4);
    }
    UnlockSurfaceRect(system);
    FlushVertexBatch(0);
    EndDrawScene();
    const POINT at = {g.texX, g.texY};
    if (UpdateDeviceSurface(system, nullptr, g.surface, &at) == D3D_OK) result = 0;
  }
  ReleaseComObject(system);
  return result;
}

// Writes a rectangle of an image into a graphic at (destX, destY), leaving
// every other pixel as it was: the graphic is read, changed and written
// whole (a partial write repeats its edge texel outward).
int WriteImageRectToGraph(const BaseImageRecord* image, const RECT& rect, int dest, int destX, int destY) {
  BaseImageRecord whole;
  if (ReadGraphToBaseImage(dest, &whole) != 0) return -1;
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  for (int y = 0; y < h; y++) {
    const int ty = destY + y, sy = rect.top + y;
    if (ty < 0 || ty >= whole.height || sy < 0 || sy >= image->height) continue;
    for (int x = 0; x < w; x++) {
      const int tx = destX + x, sx = rect.left + x;
      if (tx < 0 || tx >= whole.width || sx < 0 || sx >= image->width) continue;
      memcpy(static_cast<unsigned char*>(whole.pixels) + ty * whole.pitch + tx * 4,
             static_cast<const unsigned char*>(image->pixels) + sy * image->pitch + sx * 4, 4);
    }
  }
  const RECT all = {0, 0, whole.width, whole.height};
  FilterGraph d;
  const int result = LookUpGraph(dest, &d) && d.renderTarget
                         ? WriteImageToRenderTarget(&whole, d)
                         : TransferImageToGraphTexture({&whole, nullptr, dest, &all, 0, 0, 0, 0}, 0);
  ReleaseBaseImage(&whole);
  return result < 0 ? -1 : 0;
}

// Copies a rectangle between two graphics: a surface copy between render
// targets, else through memory.
int CopyGraphRect(int source, const RECT& rect, int dest, int destX, int destY) {
  FilterGraph s, d;
  if (!LookUpGraph(source, &s, true) || !LookUpGraph(dest, &d, true)) return -1;
  FlushVertexBatch(0);
  if (s.renderTarget && d.renderTarget) {
    const RECT from = {rect.left + s.texX, rect.top + s.texY, rect.right + s.texX, rect.bottom + s.texY};
    const RECT to = {destX + d.texX, destY + d.texY, destX + d.texX + (rect.right - rect.left),
                     destY + d.texY + (rect.bottom - rect.top)};
    EndDrawScene();
    if (StretchDeviceRect(s.surface, &from, d.surface, &to, D3DTEXF_NONE) == D3D_OK) return 0;
  }
  if (s.map != nullptr || d.map != nullptr) return -1;  // shadow maps have no memory road
  // Through memory: the source read whole, its rectangle written.
  BaseImageRecord image;
  if (ReadGraphToBaseImage(source, &image) != 0) return -1;
  const int result = WriteImageRectToGraph(&image, rect, dest, destX, destY);
  ReleaseBaseImage(&image);
  return result;
}

// Reads a rectangle of a graphic into a new ARGB8 image.
int ReadGraphRect(int handle, int x1, int y1, int x2, int y2, BaseImageRecord* out) {
  memset(out, 0, sizeof *out);
  BaseImageRecord whole;
  if (ReadGraphToBaseImage(handle, &whole) != 0) return -1;
  const int w = x2 - x1, h = y2 - y1;
  if (x1 < 0 || y1 < 0 || x2 > whole.width || y2 > whole.height || w <= 0 || h <= 0 ||
      CreateBaseImageARGB8(w, h, out) != 0) {
    ReleaseBaseImage(&whole);
    return -1;
  }
  for (int y = 0; y < h; y++) {
    memcpy(static_cast<unsigned char*>(out->pixels) + y * out->pitch,
           static_cast<unsigned char*>(whole.pixels) + (y1 + y) * whole.pitch + x1 * 4, w * 4);
  }
  ReleaseBaseImage(&whole);
  return 0;
}

// Work shadow maps: the pass targets of a filter into a shadow map, in its
// texture format (slot 0 or 1), kept between calls.
struct WorkMap {
  int handle;
  int width, height, dataBits, floatData;
};
WorkMap WorkMaps[2] = {{-1, 0, 0, 0, 0}, {-1, 0, 0, 0, 0}};

bool WorkMapLive(const WorkMap& w) {
  return w.handle >= 0 && GetHandleRecordOfType(w.handle, HANDLETYPE_SHADOWMAP) != nullptr;
}

int GetFilterWorkShadowMap(int slot, const ShadowMapRecord* like) {
  WorkMap& w = WorkMaps[slot & 1];
  if (WorkMapLive(w) && w.width == like->width && w.height == like->height && w.dataBits == like->dataBits &&
      w.floatData == like->floatData)
    return w.handle;
  if (WorkMapLive(w)) DeleteShadowMap(w.handle);
  w = {-1, 0, 0, 0, 0};
  const int handle = MakeShadowMap(like->width, like->height, like->dataBits, like->floatData);
  if (handle < 0) return -1;
  w = {handle, like->width, like->height, like->dataBits, like->floatData};
  SetHandleDeleteFlagPtr(handle, &w.handle);
  return handle;
}

// The pass target for pass `pass` of `passes`: the destination when it can
// be drawn into and nothing asks for a work target, else a work target of
// the destination's size (alternating between two).
int ChooseFilterPassTarget(int dest, int pass, int passes, bool needWork) {
  FilterGraph d;
  if (!LookUpGraph(dest, &d, true)) return -1;
  if (pass == passes - 1 && !needWork) return dest;
  if (d.map != nullptr) return GetFilterWorkShadowMap(pass & 1, d.map);
  return GetFilterWorkTarget(pass & 1, d.width, d.height, HasAlphaChannel(d) ? 1 : 0);
}

// Clamped float.
float ClampF(float v, float low, float high) { return v < low ? low : v > high ? high : v; }

// A colour value of the screen's format as four floats 0..1 with an alpha.
void ColorFloats(unsigned int color, int alpha, float* out) {
  int r = 0, g = 0, b = 0;
  SplitColorValue(color, &r, &g, &b);
  out[0] = r / 255.0f;
  out[1] = g / 255.0f;
  out[2] = b / 255.0f;
  out[3] = alpha / 255.0f;
}

}  // namespace

// ---------------------------------------------------------------------------
// Filter draw state and work targets.

int BeginFilterDrawState(FilterDrawSave* save) {
  memset(save, 0, sizeof *save);
  FlushVertexBatch(0);
  // Every render-target index; a pass draws into index 0 alone.
  for (int i = 0; i < FILTER_SAVED_TARGETS; i++) save->renderTargets[i] = GetCachedRenderTarget(i);
  for (int i = 1; i < FILTER_SAVED_TARGETS; i++) {
    if (save->renderTargets[i] != nullptr) SetRenderTargetCached(nullptr, i);
  }
  save->blendMode = CurrentDrawState.blendMode;
  save->blendParam = CurrentDrawState.blendParam;
  save->samplingMode = CurrentDrawState.samplingMode;
  save->alphaTestMode = CurrentDrawState.alphaTestMode;
  save->alphaTestRef = CurrentDrawState.alphaTestRef;
  save->fogEnable = CurrentDrawState.fogEnable;
  if (!CurrentDrawState.lockedState) SetBlendMode(BLEND_MODE_REPLACE, 255);
  SetSamplingMode(SAMPLING_BILINEAR);
  SetAlphaTestModeAndRef(ALPHA_TEST_ALWAYS, 0);
  if (CurrentDrawState.fogEnable || RenderState.reapplyAll) {
    FlushVertexBatch(0);
    CurrentDrawState.fogEnable = 0;
    SetFogEnableCached(0);
  }
  if (!HasDirect3DDevice()) return 0;
  EndDrawScene();
  if (GetDeviceDepthStencilSurface(&save->depthSurface) != D3D_OK) save->depthSurface = nullptr;
  return SetDeviceDepthStencilSurface(nullptr) == D3D_OK ? 0 : -1;
}

void EndFilterDrawState(FilterDrawSave* save) {
  FlushVertexBatch(0);
  if (HasDirect3DDevice()) {
    EndDrawScene();
    if (save->depthSurface != nullptr) {
      SetDeviceDepthStencilSurface(save->depthSurface);
      ReleaseComObject(save->depthSurface);
      save->depthSurface = nullptr;
    }
    for (int i = 0; i < FILTER_SAVED_TARGETS; i++) {
      if (save->renderTargets[i] != nullptr || i > 0) SetRenderTargetCached(save->renderTargets[i], i);
    }
    // The viewport of the draw area again.
    const RECT& area = CurrentDrawState.drawArea;
    RenderState.reapplyAll = 1;
    SetViewportRect(area.left, area.top, area.right, area.bottom);
    RenderState.reapplyAll = 0;
  }
  if (save->fogEnable != CurrentDrawState.fogEnable) {
    CurrentDrawState.fogEnable = save->fogEnable;
    SetFogEnableCached(save->fogEnable);
  }
  SetAlphaTestModeAndRef(save->alphaTestMode, save->alphaTestRef);
  SetSamplingMode(save->samplingMode);
  if (!CurrentDrawState.lockedState) SetBlendMode(save->blendMode, save->blendParam);
}

int GetFilterWorkTarget(int slot, int width, int height, int alpha) {
  if (slot < 0 || slot >= FILTER_WORK_SLOTS || width <= 0 || height <= 0) return -1;
  WorkTarget& w = WorkTargets[slot];
  if (w.handle >= 0 && IsGraphicHandleValid(w.handle) && w.width == width && w.height == height && w.alpha == alpha)
    return w.handle;
  if (w.handle >= 0 && IsGraphicHandleValid(w.handle)) DeleteGraphicHandle(w.handle);
  w.handle = -1;
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  settings.drawable = 1;
  settings.drawableAlpha = alpha;
  settings.alpha = alpha;
  settings.colorBits = 32;
  settings.noTransparentColor = 1;
  settings.mipCount = 0;
  settings.multiSampleType = 0;
  const int handle = AllocGraphicHandle();
  if (handle < 0 || CreateGraphicFromImageData(&settings, handle, {width, height, alpha, 0, 0, -1}, 0) != 0) {
    return -1;
  }
  SetGraphInternalFlag(handle, 1);
  FilterGraph g;
  if (!LookUpGraph(handle, &g) || !g.renderTarget) {
    DeleteGraphicHandle(handle);
    return -1;
  }
  w = {handle, width, height, alpha};
  SetHandleDeleteFlagPtr(handle, &w.handle);
  return handle;
}

void ReleaseFilterWorkTargets() {
  for (WorkTarget& w : WorkTargets) {
    if (w.handle >= 0 && IsGraphicHandleValid(w.handle)) DeleteGraphicHandle(w.handle);
    w = {-1, 0, 0, 0};
  }
  for (WorkMap& w : WorkMaps) {
    if (WorkMapLive(w)) DeleteShadowMap(w.handle);
    w = {-1, 0, 0, 0, 0};
  }
}

// ---------------------------------------------------------------------------
// Shader pass.

int LoadFilterShaderByName(const char* name) {
  const void* code = nullptr;
  uint32_t size = 0;
  if (!ShaderCode.setUp || FindShaderCode(2, name, &code, &size) != 0) return -1;
  if (!ShaderPath() || !Screen.graphicsUp) return -1;
  return LoadPixelShaderFromMemory(code, static_cast<int>(size));
}

int DrawFilterQuad(GraphFilterInfo* info, int shader, const float* constants, int constantCount, int stage1,
                   int divisor) {
  FilterGraph source, target, second;
  if (!LookUpGraph(info->source, &source, true) || !LookUpGraph(info->target, &target, true) || !source.single ||
      !target.renderTarget)
    return -1;
  const int stage1Graph = info->isBlend ? info->blendGraph : stage1;
  const bool hasStage1 = stage1Graph >= 0;
  if (hasStage1 && (!LookUpGraph(stage1Graph, &second) || !second.single)) return -1;
  const int w = info->x2 - info->x1, h = info->y2 - info->y1;
  const float left = info->destX - 0.5f, top = info->destY - 0.5f;
  const float right = info->destX + (divisor == 1 ? w : w / divisor) - 0.5f;
  const float bottom = info->destY + (divisor == 1 ? h : h / divisor) - 0.5f;
  const float tw = static_cast<float>(source.texWidth), th = static_cast<float>(source.texHeight);
  // A shrinking quad reads whole blocks: its texture span is the output
  // size times the divisor, not the rectangle's leftover columns and rows.
  const int spanW = divisor == 1 ? w : w / divisor * divisor, spanH = divisor == 1 ? h : h / divisor * divisor;
  const float u1 = (source.texX + info->x1) / tw, u2 = (source.texX + info->x1 + spanW) / tw;
  const float v1 = (source.texY + info->y1) / th, v2 = (source.texY + info->y1 + spanH) / th;
  float bu1 = 0, bv1 = 0, bu2 = 0, bv2 = 0;
  if (hasStage1) {
    const float bw = static_cast<float>(second.texWidth), bh = static_cast<float>(second.texHeight);
    if (!info->isBlend || !info->useBlendPosition) {
      // The whole graphic (lookup tables; a stretched blend graphic).
      bu1 = second.texX / bw;
      bv1 = second.texY / bh;
      bu2 = (second.texX + second.width) / bw;
      bv2 = (second.texY + second.height) / bh;
    } else {
      bu1 = (second.texX + info->blendX) / bw;
      bv1 = (second.texY + info->blendY) / bh;
      bu2 = (second.texX + info->blendX + w) / bw;
      bv2 = (second.texY + info->blendY + h) / bh;
    }
  }
  struct FilterVertex {
    float x, y, z, rhw;
    DWORD diffuse, specular;
    float u1, v1, u2, v2;
  };
  const FilterVertex quad[4] = {{left, top, 0, 1, 0xFFFFFFFF, 0, u1, v1, bu1, bv1},
                                {right, top, 0, 1, 0xFFFFFFFF, 0, u2, v1, bu2, bv1},
                                {left, bottom, 0, 1, 0xFFFFFFFF, 0, u1, v2, bu1, bv2},
                                {right, bottom, 0, 1, 0xFFFFFFFF, 0, u2, v2, bu2, bv2}};
  FlushVertexBatch(0);
  SetRenderTargetCached(target.surface, 0);
  // The cached states the filter relies on (Z and fog off, sampling,
  // clamped addressing), then the raw pass; the next library draw prepares
  // everything again.
  ApplyDrawStateForTexture(source.texture, FILTER_FLAG_WORD);
  UserTextureSetup setup;
  memset(&setup, 0, sizeof setup);
  setup.count = 2;
  setup.stages[0].texture = source.texture;
  setup.stages[1].texture = hasStage1 ? second.texture : nullptr;
  PrepareGraphicDrawStateNow(&setup, 0, 0);
  BeginDrawSceneOnce();
  SetDeviceRenderState(D3DRS_ALPHATESTENABLE, FALSE);
  SetDeviceRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  SetDeviceRenderState(D3DRS_SEPARATEALPHABLENDENABLE, FALSE);
  SetDeviceVertexShader(nullptr);
  RenderState.vertexShader = nullptr;
  RenderState.declaration = nullptr;
  SetDevicePixelShaderFromHandle(shader);
  SetShaderConstantSetMask(&ShaderConstants, FILTER_SET_MASK);
  // A blend's shader keeps its reads of the blend graphic within that
  // graphic's rectangle: c2 and c3 hold its first and last texel centres.
  float blendConstants[BLEND_CONSTANTS * 4];
  if (info->isBlend && hasStage1 && constantCount <= 2) {
    memset(blendConstants, 0, sizeof blendConstants);
    if (constantCount > 0) memcpy(blendConstants, constants, constantCount * 4 * sizeof(float));
    const float bw = static_cast<float>(second.texWidth), bh = static_cast<float>(second.texHeight);
    blendConstants[8] = (second.texX + 0.5f) / bw;
    blendConstants[9] = (second.texY + 0.5f) / bh;
    blendConstants[12] = (second.texX + second.width - 0.5f) / bw;
    blendConstants[13] = (second.texY + second.height - 0.5f) / bh;
    constants = blendConstants;
    constantCount = BLEND_CONSTANTS;
  }
  if (constantCount > 0) {
    SetShaderConstantCached(&ShaderConstants, PIXEL_FLOAT_CONSTANTS, FILTER_CONSTANT_SET, 0, constants, constantCount,
                            0);
  }
  SetDeviceFVF(FILTER_FVF);
  RenderState.fvf = FILTER_FVF;
  DrawDevicePrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(FilterVertex));
  if (constantCount > 0) {
    ReleaseShaderConstantRange(&ShaderConstants, PIXEL_FLOAT_CONSTANTS, FILTER_CONSTANT_SET, 0, constantCount);
  }
  SetShaderConstantSetMask(&ShaderConstants, BASE_SET_MASK);
  RenderState.choosePixelShader = 1;
  RenderState.textureChanged = 1;
  RenderState.statesChanged = 1;
  ForgetLastDrawSetup();
  return 0;
}

// ---------------------------------------------------------------------------
// Software frame.

int BeginSoftwareFilter(GraphFilterInfo* info, int blankOutput, int outWidth, int outHeight) {
  info->outWidth = info->x2 - info->x1;
  info->outHeight = info->y2 - info->y1;
  if (outWidth >= 0 && outHeight >= 0) {
    info->outWidth = outWidth;
    info->outHeight = outHeight;
  }
  memset(&info->sourceImage, 0, sizeof info->sourceImage);
  memset(&info->blendImage, 0, sizeof info->blendImage);
  memset(&info->outputImage, 0, sizeof info->outputImage);
  if (ReadGraphRect(info->source, info->x1, info->y1, info->x2, info->y2, &info->sourceImage) != 0) return -1;
  int result = 0;
  if (info->isBlend) {
    result = ReadGraphRect(info->blendGraph, info->x1, info->y1, info->x2, info->y2, &info->blendImage);
  }
  if (result == 0) {
    if (blankOutput) {
      result = CreateBaseImageARGB8(info->outWidth, info->outHeight, &info->outputImage);
      if (result == 0) memset(info->outputImage.pixels, 0, info->outputImage.pitch * info->outHeight);
    } else {
      result = ReadGraphRect(info->target, info->destX, info->destY, info->destX + info->outWidth,
                             info->destY + info->outHeight, &info->outputImage);
    }
  }
  if (result != 0) {
    ReleaseBaseImage(&info->sourceImage);
    ReleaseBaseImage(&info->blendImage);
    ReleaseBaseImage(&info->outputImage);
    return -1;
  }
  return 0;
}

int EndSoftwareFilter(GraphFilterInfo* info) {
  ReleaseBaseImage(&info->sourceImage);
  ReleaseBaseImage(&info->blendImage);
  if (info->outputImage.pixels != nullptr) {
    const RECT rect = {0, 0, info->outWidth, info->outHeight};
    WriteImageRectToGraph(&info->outputImage, rect, info->target, info->destX, info->destY);
    ReleaseBaseImage(&info->outputImage);
  }
  return 0;
}

namespace {

// One software family call: frame, loop, end; the loop's result decides.
template <typename Loop>
int RunSoftware(GraphFilterInfo* info, int blank, int outWidth, int outHeight, Loop loop) {
  if (BeginSoftwareFilter(info, blank, outWidth, outHeight) != 0) return -1;
  const int result = loop();
  if (result != 0) {
    ReleaseBaseImage(&info->outputImage);  // nothing is written
  }
  EndSoftwareFilter(info);
  return result;
}

// One shader pass of a family: the shader's handle variable and file name,
// its float4 constants, the graphic on stage 1 (-1 none), the divisor and
// the sampling mode the filter wants (-1 keeps the bilinear sampling of the
// filter state).
struct ShaderPass {
  int* variable;
  const char* name;
  const float* constants;
  int count;
  int stage1 = -1;
  int divisor = 1;
  int sampling = 0;
};

int RunShader(GraphFilterInfo* info, const ShaderPass& pass) {
  if (pass.sampling >= 0) SetSamplingMode(pass.sampling);
  const int shader = LoadShaderVariable(pass.variable, pass.name);
  if (shader < 0) return -1;
  return DrawFilterQuad(info, shader, pass.constants, pass.count, pass.stage1, pass.divisor);
}

}  // namespace

// ---------------------------------------------------------------------------
// Colour filters.

int FilterMono(GraphFilterInfo* info, float cb, float cr) {
  if (!ShaderPath()) {
    return RunSoftware(info, 1, -1, -1, [&] { return SoftFilterMono(&info->sourceImage, &info->outputImage, cb, cr); });
  }
  const float cbN = ClampF(cb / 200.0f, -0.5f, 0.5f), crN = ClampF(cr / 200.0f, -0.5f, 0.5f);
  const float c[8] = {0.299f, 0.587f, 0.114f, 0.0f, 1.402f * crN, -0.34414f * cbN - 0.71414f * crN, 1.772f * cbN, 0};
  return RunShader(info, {&Shaders.mono, "Mono.pso", c, 2});
}

int FilterBrightClip(GraphFilterInfo* info, int compare, float threshold, int fill, const float* fillColor) {
  if (compare != FILTER_COMPARE_LESS && compare != FILTER_COMPARE_GREATER) return -1;
  if (fill != 0 && fillColor == nullptr) return -1;
  if (!ShaderPath()) {
    return RunSoftware(info, 0, -1, -1, [&] {
      return SoftFilterBrightClip(&info->sourceImage, &info->outputImage, compare, threshold, fill, fillColor);
    });
  }
  const float t = ClampF(threshold / 255.0f, 0.0f, 1.0f);
  float c[12] = {t, t, t, t, 0.299f, 0.587f, 0.114f, 0.0f, 0, 0, 0, 0};
  if (fill != 0) memcpy(&c[8], fillColor, 4 * sizeof(float));
  static const char* const kNames[4] = {"BrightClipLess.pso", "BrightClipFillLess.pso", "BrightClipGreater.pso",
                                        "BrightClipFillGreater.pso"};
  const int which = (compare == FILTER_COMPARE_GREATER ? 2 : 0) + (fill != 0 ? 1 : 0);
  return RunShader(info, {&Shaders.brightClip[which], kNames[which], c, 3});
}

int FilterHsb(GraphFilterInfo* info, int hueMode, float hue, float saturation, float brightness) {
  if (!ShaderPath()) {
    // clang-format off
    return RunSoftware(info, 1, -1, -1, [&] {
      return SoftFilterHsb(&info->sourceImage, &info->outputImage, hueMode, hue, saturation, brightness);
    });
  }
  float h = hue / 360.0f;
  h = hueMode == 1 ? ClampF(h, 0.0f, 1.0f) : ClampF(h, -0.5f, 0.5f);
  const float s = ClampF(saturation / 100.0f, -1.0f, 1.0f);
  const float sScaled = s > 0 ? 5 * s : s, b = brightness / 100.0f;
  int hueI = static_cast<int>(h * 6 * 256);
  if (hueMode == 1 && hueI >= 1536) hueI -= 1536;
  const float c[16] = {h * 6, sScaled, b, 0, 0.5f, 0.5f, 0.5f, 0.5f, 1, 1, 1, 1, static_cast<float>(hueI),
                       static_cast<float>(static_cast<int>(sScaled * 256) + 256),
                       static_cast<float>(static_cast<int>(b * 256)), 0};
  if (hueMode == 1) return RunShader(info, {&Shaders.hsb[2], "Hsb_HSB_HLOCK.pso", c, 4});
  if (info->pass == 0) return RunShader(info, {&Shaders.hsb[0], "Hsb_RGB_TO_HSB.pso", c, 4});
  return RunShader(info, {&Shaders.hsb[1], "Hsb_HSB_TO_RGB.pso", c, 4});
}
// clang-format on

int FilterInvert(GraphFilterInfo* info) {
  if (!ShaderPath()) {
    return RunSoftware(info, 1, -1, -1, [&] { return SoftFilterInvert(&info->sourceImage, &info->outputImage); });
  }
  return RunShader(info, {&Shaders.invert, "Invert.pso", nullptr, 0});
}

int FilterLevel(GraphFilterInfo* info, float minimum, float maximum, float gamma, float outMinimum, float outMaximum) {
  float mn = ClampF(minimum / 255.0f, 0, 1), mx = ClampF(maximum / 255.0f, 0, 1);
  float omn = ClampF(outMinimum / 255.0f, 0, 1), omx = ClampF(outMaximum / 255.0f, 0, 1);
  if (gamma < 0.001f) gamma = 0.001f;
  if (mn > mx) mn = mx;
  if (omn > omx) omn = omx;
  if (static_cast<int>(mx * 255) - static_cast<int>(mn * 255) <= 0) {
    // An empty input range is refused on both paths (the software loop logs).
    return SoftFilterLevel(nullptr, nullptr, minimum, maximum, gamma, outMinimum, outMaximum);
  }
  if (!ShaderPath()) {
    return RunSoftware(info, 1, -1, -1, [&] {
      return SoftFilterLevel(&info->sourceImage, &info->outputImage, minimum, maximum, gamma, outMinimum, outMaximum);
    });
  }
  if (LevelTableGraph < 0 || !IsGraphicHandleValid(LevelTableGraph) || fabsf(LevelTableGamma - gamma) >= 0.0001f) {
    BaseImageRecord table;
    if (CreateBaseImageXRGB8(256, 1, &table) != 0) return -1;
    for (int i = 0; i < 256; i++) {
      const uint32_t v = static_cast<uint32_t>(LevelGammaEntry(i, gamma));
      static_cast<uint32_t*>(table.pixels)[i] = v << 24 | v << 16 | v << 8 | v;
    }
    if (LevelTableGraph < 0 || !IsGraphicHandleValid(LevelTableGraph)) {
      GraphCreateSettings settings;
      GetGraphCreateSettings(&settings);
      settings.noTransparentColor = 1;
      settings.colorBits = 32;
      LevelTableGraph = AllocGraphicHandle();
      if (LevelTableGraph < 0 ||
          CreateGraphicFromImageData(&settings, LevelTableGraph, {256, 1, 0, 0, 0, -1}, 0) != 0) {
        LevelTableGraph = -1;
        ReleaseBaseImage(&table);
        return -1;
      }
      SetGraphInternalFlag(LevelTableGraph, 1);
      SetHandleDeleteFlagPtr(LevelTableGraph, &LevelTableGraph);
    }
    const RECT all = {0, 0, 256, 1};
    const int sent = TransferImageToGraphTexture({&table, nullptr, LevelTableGraph, &all, 0, 0, 0, 0}, 0);
    ReleaseBaseImage(&table);
    if (sent < 0) return -1;
    LevelTableGamma = gamma;
  }
  const float c[4] = {mn, 1.0f / (mx - mn), omn, omx};
  return RunShader(info, {&Shaders.level, "Level.pso", c, 1, LevelTableGraph, 1, -1});
}

int FilterTwoColor(GraphFilterInfo* info, float threshold, const float* dark, const float* bright) {
  if (dark == nullptr || bright == nullptr) return -1;
  if (!ShaderPath()) {
    return RunSoftware(info, 1, -1, -1, [&] {
      return SoftFilterTwoColor(&info->sourceImage, &info->outputImage, threshold, dark, bright);
    });
  }
  float c[12] = {0.299f, 0.587f, 0.114f, threshold / 255.0f};
  memcpy(&c[4], dark, 4 * sizeof(float));
  memcpy(&c[8], bright, 4 * sizeof(float));
  return RunShader(info, {&Shaders.twoColor, "TwoColor.pso", c, 3});
}

int FilterGradientMap(GraphFilterInfo* info, int gradient, int reverse) {
  FilterGraph g;
  if (!LookUpGraph(gradient, &g)) return -1;
  if (!ShaderPath()) {
    BaseImageRecord image;
    if (ReadGraphToBaseImage(gradient, &image) != 0) return -1;
    const int result = RunSoftware(info, 1, -1, -1, [&] {
      return SoftFilterGradientMap(&info->sourceImage, &info->outputImage, &image, reverse);
    });
    ReleaseBaseImage(&image);
    return result;
  }
  const float c[8] = {0.299f,
                      0.587f,
                      0.114f,
                      0.0f,
                      static_cast<float>(g.width) / g.texWidth,
                      (g.texY + 0.5f) / g.texHeight,
                      static_cast<float>(g.texX) / g.texWidth,
                      0};
  return RunShader(
      info, {&Shaders.gradient[reverse ? 1 : 0], reverse ? "GradientMapRev.pso" : "GradientMap.pso", c, 2, gradient});
}

int FilterPremultipliedAlpha(GraphFilterInfo* info) {
  if (!ShaderPath()) {
    return RunSoftware(info, 1, -1, -1,
                       [&] { return SoftFilterPremultipliedAlpha(&info->sourceImage, &info->outputImage); });
  }
  return RunShader(info, {&Shaders.premul, "PremultipliedAlpha.pso", nullptr, 0});
}

int FilterInterpolatedAlpha(GraphFilterInfo* info) {
  if (!ShaderPath()) {
    return RunSoftware(info, 1, -1, -1,
                       [&] { return SoftFilterInterpolatedAlpha(&info->sourceImage, &info->outputImage); });
  }
  return RunShader(info, {&Shaders.interp, "InterpolatedAlpha.pso", nullptr, 0});
}

// ---------------------------------------------------------------------------
// Gauss and DownScale.

int FilterGauss(GraphFilterInfo* info, int pixelWidth, float strength) {
  const int width = GaussKernelWidth(pixelWidth);
  if (!ShaderPath()) {
    if (info->pass != 0) return 0;  // one software call does both directions
    return RunSoftware(info, 1, -1, -1,
                       [&] { return SoftFilterGauss(&info->sourceImage, &info->outputImage, width, strength); });
  }
  static const char* const kNames[3] = {"Gauss_08Pixel_PS.pso", "Gauss_16Pixel_PS.pso", "Gauss_32Pixel_PS.pso"};
  const int which = width == 8 ? 0 : width == 16 ? 1 : 2;
  if (LoadShaderVariable(&Shaders.gauss[which], kNames[which]) < 0) {
    if (width != 32) return -1;
    // A device without room for the 32-texel kernel's longer shader: the
    // software blur in the first pass, a plain copy in the second.
    if (info->pass == 0) {
      return RunSoftware(info, 1, -1, -1,
                         [&] { return SoftFilterGauss(&info->sourceImage, &info->outputImage, width, strength); });
    }
    return FilterGauss(info, 8, 0.0f);
  }
  const float* w = GaussWeights(width, strength);
  FilterGraph source;
  if (!LookUpGraph(info->source, &source, true)) return -1;
  const float tw = static_cast<float>(source.texWidth), th = static_cast<float>(source.texHeight);
  float c[GAUSS_CONSTANTS * 4];
  memset(c, 0, sizeof c);
  c[0] = tw;
  c[1] = th;
  if (w == nullptr) {
    // Strength 0: the identity weights (a copy).
    c[4] = 1.0f;
  } else {
    for (int i = 0; i < width / 2; i++) c[4 + i] = w[i];
  }
  // Tap distances along the pass's direction, then the direction.
  for (int j = 1; j < 16; j++) c[5 * 4 + j] = (2 * j - 0.5f) / (info->pass == 0 ? tw : th);
  c[9 * 4 + (info->pass == 0 ? 0 : 1)] = 1.0f;
  // Taps stay between the rectangle's first and last texel centres.
  c[10 * 4] = (source.texX + info->x1 + 0.5f) / tw;
  c[10 * 4 + 1] = (source.texY + info->y1 + 0.5f) / th;
  c[11 * 4] = (source.texX + info->x2 - 0.5f) / tw;
  c[11 * 4 + 1] = (source.texY + info->y2 - 0.5f) / th;
  return RunShader(info, {&Shaders.gauss[which], kNames[which], c, GAUSS_CONSTANTS, -1, 1, -1});
}

int FilterDownScale(GraphFilterInfo* info, int divisor) {
  const int d = DownScaleDivisor(divisor);
  const int w = (info->x2 - info->x1) / d, h = (info->y2 - info->y1) / d;
  if (w < 1 || h < 1) return 0;
  if (!ShaderPath()) {
    return RunSoftware(info, 1, w, h, [&] { return SoftFilterDownScale(&info->sourceImage, &info->outputImage, d); });
  }
  FilterGraph source;
  if (!LookUpGraph(info->source, &source, true)) return -1;
  float c[16 * 4];
  int count = 0;
  if (d == 2) {
    c[0] = c[1] = c[2] = c[3] = 0;
    count = 1;
  } else {
    const int span = d == 4 ? 1 : 3;
    for (int y = -span; y <= span; y += 2) {
      for (int x = -span; x <= span; x += 2, count++) {
        c[count * 4] = static_cast<float>(x) / source.texWidth;
        c[count * 4 + 1] = static_cast<float>(y) / source.texHeight;
        c[count * 4 + 2] = c[count * 4 + 3] = 0;
      }
    }
  }
  static const char* const kNames[3] = {"DownScaleX2.pso", "DownScaleX4.pso", "DownScaleX8.pso"};
  const int which = d == 2 ? 0 : d == 4 ? 1 : 2;
  return RunShader(info, {&Shaders.downScale[which], kNames[which], c, count, -1, d, -1});
}

// ---------------------------------------------------------------------------
// Blends.

int BlendGraphBasic(GraphFilterInfo* info) {
  if (info->type < 0 || info->type >= GRAPH_BLEND_TYPES || BlendShaderNames[info->type] == nullptr) return -1;
  if (!ShaderPath()) {
    return RunSoftware(info, 1, -1, -1, [&] {
      return SoftBlendBasic(&info->sourceImage, &info->blendImage, &info->outputImage, info->type, info->blendRatio);
    });
  }
  const float r = info->blendRatio;
  const float c[8] = {r, r, r, r, 1, 1, 1, 0};
  return RunShader(info, {&Shaders.blend[info->type], BlendShaderNames[info->type], c, 2, -1, 1, -1});
}

int ChooseRgbaMixShader(RgbaMixChoice* choice) {
  int* red = &choice->red;
  int* green = &choice->green;
  int* blue = &choice->blue;
  int* alpha = &choice->alpha;
  int* entry = &choice->entry;
  int* swap = &choice->swap;
  char* name = choice->name;
  const int nameSize = static_cast<int>(sizeof choice->name);
  static const char kLetters[] = "RGBA";
  int* all[4] = {red, green, blue, alpha};
  for (int* s : all) {
    if (*s < 0 || *s > 7) return -1;
  }
  *entry = -1;
  *swap = 0;
  name[0] = '\0';
  const bool low = *red < 4 && *green < 4 && *blue < 4 && *alpha < 4;
  const bool high = *red >= 4 && *green >= 4 && *blue >= 4 && *alpha >= 4;
  if (low || high) {
    if (high) {
      for (int* s : all) *s -= 4;
      *swap = 1;
    }
    *entry = ((*red * 4 + *green) * 4 + *blue) * 4 + *alpha;
    return 0;
  }
  auto swapped = [&] {
    *red -= 4, *green -= 4, *blue -= 4;
    *alpha = (*alpha + 4) & 7;
    *swap = 1;
  };
  if (*red == *green && *green == *blue && *red != 3 && *red != 7) {
    if (*red >= 4) swapped();
    if (*alpha >= 4) {
      snprintf(name, nameSize, "RGBAMix_S%cS%cS%cB%c.pso", kLetters[*red], kLetters[*green], kLetters[*blue],
               kLetters[*alpha - 4]);
      return 0;
    }
  } else if ((*red == 0 && *green == 1 && *blue == 2) || (*red == 4 && *green == 5 && *blue == 6)) {
    if (*red == 4) swapped();
    if (*alpha >= 4) {
      snprintf(name, nameSize, "RGBAMix_SRSGSBB%c.pso", kLetters[*alpha - 4]);
      return 0;
    }
  }
  snprintf(name, nameSize, "RGBAMix_Base.pso");
  return 0;
}

int BlendRgbaMix(GraphFilterInfo* info, int red, int green, int blue, int alpha) {
  if (!ShaderPath()) {
    return RunSoftware(info, 1, -1, -1, [&] {
      return SoftBlendRgbaMix(&info->sourceImage, &info->blendImage, &info->outputImage, red, green, blue, alpha);
    });
  }
  RgbaMixChoice choice = {red, green, blue, alpha, -1, "", 0};
  int& entry = choice.entry;
  int& swap = choice.swap;
  char* name = choice.name;
  const size_t nameSize = sizeof choice.name;
  int& r = choice.red;
  int& g = choice.green;
  int& b = choice.blue;
  int& a = choice.alpha;
  if (ChooseRgbaMixShader(&choice) != 0) {
    // A selector outside 0..7 (its channel 0): the base shader reads them.
    r = red, g = green, b = blue, a = alpha;
    entry = -1;
    swap = 0;
    snprintf(name, nameSize, "RGBAMix_Base.pso");
  }
  ClearShaderHandles();
  SetSamplingMode(SAMPLING_NEAREST);
  int shader = -1;
  if (entry >= 0) {
    int& variable = Shaders.rgbaTable[entry];
    if (variable < 0) {
      const ShaderCodeEntry& code = ShaderCode.rgbaMix[entry];
      variable = code.code != nullptr ? LoadPixelShaderFromMemory(code.code, code.size) : -1;
      if (variable < 0) {
        LogPrintf(LOG_RGBA_MIX_ENTRY_FAILED);
        return -1;
      }
      SetHandleDeleteFlagPtr(variable, &variable);
    }
    shader = variable;
  } else if (strcmp(name, "RGBAMix_Base.pso") == 0) {
    shader = LoadShaderVariable(&Shaders.rgbaBase, name);
    if (shader < 0) return -1;
  } else {
    const bool same = name[8] == name[10];
    const int index = same ? (a - 4) + 4 * r : 12 + (a - 4);
    int& variable = Shaders.rgbaFiles[index];
    if (variable < 0) {
      variable = LoadFilterShaderByName(name);
      if (variable < 0) {
        LogPrintf(LOG_RGBA_MIX_FILE_FAILED, name);
        return -1;
      }
      SetHandleDeleteFlagPtr(variable, &variable);
    }
    shader = variable;
  }
  const float ratio = info->blendRatio;
  const float c[8] = {ratio, ratio, ratio, ratio, r + 0.5f, g + 0.5f, b + 0.5f, a + 0.5f};
  if (swap) {
    const int t = info->source;
    info->source = info->blendGraph;
    info->blendGraph = t;
  }
  const int result = DrawFilterQuad(info, shader, c, 2, -1, 1);
  if (swap) {
    const int t = info->source;
    info->source = info->blendGraph;
    info->blendGraph = t;
  }
  return result;
}

// ---------------------------------------------------------------------------
// Entry.

int GraphFilterPassCount(int isBlend, int type, const GraphFilterArgs& args) {
  if (isBlend) return type >= 0 && type < GRAPH_BLEND_TYPES ? 1 : 0;
  if (type < 0 || type >= FILTER_TYPES) return 0;
  if (type == FILTER_HSB && args.v[0] == 1) return 1;
  return FilterPassTable[type];
}

namespace {

int RunFamily(GraphFilterInfo* info, const GraphFilterArgs& a) {
  if (info->isBlend) {
    if (info->type == GRAPH_BLEND_RGBA_MIX) return BlendRgbaMix(info, a.v[0], a.v[1], a.v[2], a.v[3]);
    return BlendGraphBasic(info);
  }
  float colors[8];
  switch (info->type) {
    case FILTER_MONO: return FilterMono(info, a.v[0] * 100.0f / 255, a.v[1] * 100.0f / 255);
    case FILTER_GAUSS: return FilterGauss(info, a.v[0], a.v[1] / 100.0f);
    case FILTER_DOWN_SCALE: return FilterDownScale(info, a.v[0]);
    case FILTER_BRIGHT_CLIP:
      memset(colors, 0, sizeof colors);
      if (a.v[2] != 0) ColorFloats(static_cast<unsigned int>(a.v[3]), a.v[4], colors);
      return FilterBrightClip(info, a.v[0], static_cast<float>(a.v[1]), a.v[2], colors);
    case FILTER_HSB:
      return FilterHsb(info, a.v[0], static_cast<float>(a.v[1]), a.v[2] * 100.0f / 255, a.v[3] * 100.0f / 255);
    case FILTER_INVERT: return FilterInvert(info);
    case FILTER_LEVEL:
      return FilterLevel(info, static_cast<float>(a.v[0]), static_cast<float>(a.v[1]), a.v[2] / 100.0f,
                         static_cast<float>(a.v[3]), static_cast<float>(a.v[4]));
    case FILTER_TWO_COLOR:
      ColorFloats(static_cast<unsigned int>(a.v[1]), a.v[2], colors);
      ColorFloats(static_cast<unsigned int>(a.v[3]), a.v[4], colors + 4);
      return FilterTwoColor(info, static_cast<float>(a.v[0]), colors, colors + 4);
    case FILTER_GRADIENT_MAP: return FilterGradientMap(info, a.v[0], a.v[1]);
    case FILTER_PREMUL_ALPHA: return FilterPremultipliedAlpha(info);
    case FILTER_INTERP_ALPHA: return FilterInterpolatedAlpha(info);
    default: return -1;
  }
}

}  // namespace

namespace {

// The whole w x h source into dest at (0, 0); a blend reads the blend
// graphic at the same position.
GraphFilterRequest WholeGraph(int isBlend, int source, int dest, int type, int w, int h) {
  GraphFilterRequest request;
  request.isBlend = isBlend;
  request.source = source, request.dest = dest;
  request.type = type;
  request.x2 = w, request.y2 = h;
  request.useBlendPosition = isBlend;
  return request;
}

}  // namespace

int ApplyGraphFilter(int graphic, int type, const GraphFilterArgs& args) {
  FilterGraph g;
  if (!LookUpGraph(graphic, &g, true)) return -1;
  return ApplyGraphFilterOrBlend(WholeGraph(0, graphic, graphic, type, g.width, g.height), args);
}

int ApplyGraphFilterOrBlend(const GraphFilterRequest& request, const GraphFilterArgs& args) {
  const int isBlend = request.isBlend, source = request.source, blendGraph = request.blendGraph;
  const int dest = request.dest, type = request.type, useBlendPosition = request.useBlendPosition;
  int blendRatio = request.blendRatio;
  int x1 = request.x1, y1 = request.y1, x2 = request.x2, y2 = request.y2;
  int blendX = request.blendX, blendY = request.blendY, destX = request.destX, destY = request.destY;
  FilterGraph src, dst;
  if (!LookUpGraph(source, &src, true) || !LookUpGraph(dest, &dst, true)) return -1;
  const int srcWidth = src.width, srcHeight = src.height;
  const int dstWidth = dst.width, dstHeight = dst.height;
  if (x2 <= x1 || y2 <= y1) return -1;
  if (isBlend) {
    FilterGraph b;
    if (!LookUpGraph(blendGraph, &b) || static_cast<unsigned>(type) >= GRAPH_BLEND_TYPES) return -1;
  } else if (static_cast<unsigned>(type) >= FILTER_TYPES) {
    return -1;
  }
  blendRatio = blendRatio < 0 ? 0 : blendRatio > FULL_RATIO ? FULL_RATIO : blendRatio;
  // Clipping: the source's top-left, then the destination's.
  if (x1 < 0) destX -= x1, blendX -= x1, x1 = 0;
  if (y1 < 0) destY -= y1, blendY -= y1, y1 = 0;
  if (destX < 0) x1 -= destX, blendX -= destX, destX = 0;
  if (destY < 0) y1 -= destY, blendY -= destY, destY = 0;
  if (x2 <= x1 || y2 <= y1) return 0;
  if (x2 > srcWidth) x2 = srcWidth;
  if (y2 > srcHeight) y2 = srcHeight;
  if (x1 >= srcWidth || y1 >= srcHeight || x2 <= 0 || y2 <= 0 || destX >= dstWidth || destY >= dstHeight) return 0;
  int width = x2 - x1, height = y2 - y1;
  if (width < 1 || height < 1) return 0;
  // Fitting into the destination (DownScale by its shrunk size).
  if (!isBlend && type == FILTER_DOWN_SCALE) {
    const int d = DownScaleDivisor(args.v[0]);
    if (width / d + destX > dstWidth) width = (dstWidth - destX) * d, x2 = x1 + width;
    if (height / d + destY > dstHeight) height = (dstHeight - destY) * d, y2 = y1 + height;
  } else {
    if (width + destX > dstWidth) width = dstWidth - destX, x2 = x1 + width;
    if (height + destY > dstHeight) height = dstHeight - destY, y2 = y1 + height;
  }
  if (width < 1 || height < 1) return 0;

  GraphFilterInfo info;
  memset(&info, 0, sizeof info);
  info.isBlend = isBlend;
  info.type = type;
  info.blendGraph = isBlend ? blendGraph : -1;
  info.blendRatio = blendRatio / static_cast<float>(FULL_RATIO);
  info.x1 = x1, info.y1 = y1, info.x2 = x2, info.y2 = y2;
  info.blendX = blendX, info.blendY = blendY;
  info.useBlendPosition = useBlendPosition;
  info.destX = destX, info.destY = destY;

  const bool shaders = ShaderPath();
  // Shadow maps have no software images: without shaders they are refused.
  if (!shaders && (src.map != nullptr || dst.map != nullptr)) return -1;
  // Multi-sample graphics: the filter reads and writes their textures.
  FilterGraph other;
  ResolveForFilter(src);
  if (dest != source) ResolveForFilter(dst);
  if (isBlend && blendGraph != source && blendGraph != dest && LookUpGraph(blendGraph, &other)) {
    ResolveForFilter(other);
  }
  if (!isBlend && type == FILTER_GRADIENT_MAP && args.v[0] != source && args.v[0] != dest &&
      LookUpGraph(args.v[0], &other)) {
    ResolveForFilter(other);
  }
  int passes = GraphFilterPassCount(isBlend, type, args);
  bool work = !isBlend && FilterWorkTable[type] != 0;
  if (x1 != destX || y1 != destY || !GraphicsSystem.filtersExact) work = true;
  if (!shaders) passes = 1;
  // The shader path draws into render targets only, and never reads what it
  // writes: a destination that is no render target, or the source itself,
  // is reached through a work target.
  const bool needWork = shaders &&
                        (work || !dst.renderTarget || dst.map != nullptr || source == dest || blendGraph == dest ||
                         (!isBlend && type == FILTER_GRADIENT_MAP && args.v[0] == dest));
  int input = source;
  if (shaders && !src.single) {
    // A source in several textures: copied whole into one work target.
    input = GetFilterWorkTarget(2, srcWidth, srcHeight, HasAlphaChannel(src) ? 1 : 0);
    if (input < 0 || CopyGraphRect(source, RECT{0, 0, srcWidth, srcHeight}, input, 0, 0) != 0) return -1;
  }

  FilterDrawSave save;
  if (shaders) BeginDrawSceneOnce();
  BeginFilterDrawState(&save);
  int last = -1, familyResult = -1;
  bool allRan = true;
  const int outWidth = !isBlend && type == FILTER_DOWN_SCALE ? width / DownScaleDivisor(args.v[0]) : width;
  const int outHeight = !isBlend && type == FILTER_DOWN_SCALE ? height / DownScaleDivisor(args.v[0]) : height;
  for (int pass = 0; pass < passes; pass++) {
    const int target = shaders ? ChooseFilterPassTarget(dest, pass, passes, needWork) : dest;
    FilterGraph chosen;
    if (target < 0 || !LookUpGraph(target, &chosen, true)) {
      allRan = false;
      break;
    }
    info.source = input;
    info.target = target;
    info.pass = pass;
    if (pass > 0) {
      // Later passes read what the previous one wrote, where it wrote it.
      info.x1 = destX, info.y1 = destY, info.x2 = destX + width, info.y2 = destY + height;
    }
    familyResult = RunFamily(&info, args);
    last = target;
    input = target;
  }
  EndFilterDrawState(&save);
  if (shaders && last >= 0 && familyResult >= 0 && last != dest) {
    const RECT rect = {destX, destY, destX + outWidth, destY + outHeight};
    if (CopyGraphRect(last, rect, dest, destX, destY) != 0) allRan = false;
  }
  if (dst.multiSampleSurface != nullptr) UpdateMultiSampleFromTexture(dest);
  return allRan ? 0 : -1;
}

// ---------------------------------------------------------------------------
// The start-up self-test: invert an 8 x 8 graphic through the filter and
// read the diagonal back.

int InvertAndReadBackDiagonal(const unsigned char set[4][3], unsigned char read[4][3]) {
  BaseImageRecord image;
  if (CreateBaseImageXRGB8(8, 8, &image) != 0) return -1;
  memset(image.pixels, 0, image.pitch * 8);
  for (int i = 0; i < 4; i++) SetBaseImagePixelRGBA(&image, i, i, set[i][0], set[i][1], set[i][2], 255);
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  const int graphic = AllocGraphicHandle();
  if (graphic < 0) {
    ReleaseBaseImage(&image);
    return -1;
  }
  int result = CreateGraphicFromImageData(&settings, graphic, {8, 8, 0, 0, 0, -1}, 0);
  const RECT all = {0, 0, 8, 8};
  if (result == 0) result = TransferImageToGraphTexture({&image, nullptr, graphic, &all, 0, 0, 0, 0}, 0) < 0 ? -1 : 0;
  ReleaseBaseImage(&image);
  if (result == 0) {
    const int saved = GraphicsSystem.filtersExact;
    GraphicsSystem.filtersExact = 1;
    result = ApplyGraphFilter(graphic, FILTER_INVERT, GraphFilterArgs{});
    GraphicsSystem.filtersExact = saved;
  }
  BaseImageRecord back;
  if (result == 0 && ReadGraphToBaseImage(graphic, &back) == 0) {
    for (int i = 0; i < 4; i++) {
      const uint32_t p = static_cast<const uint32_t*>(
          static_cast<const void*>(static_cast<unsigned char*>(back.pixels) + i * back.pitch))[i];
      read[i][0] = static_cast<unsigned char>(p >> 16);
      read[i][1] = static_cast<unsigned char>(p >> 8);
      read[i][2] = static_cast<unsigned char>(p);
    }
    ReleaseBaseImage(&back);
  } else {
    result = -1;
  }
  DeleteGraphicHandle(graphic);
  ReleaseFilterWorkTargets();  // the start-up leaves no graphic behind
  return result;
}

// ---------------------------------------------------------------------------
// Public calls.

namespace {
GraphFilterArgs Args(std::initializer_list<int> values) {
  GraphFilterArgs a{};
  for (int v : values) a.v[a.count++] = v;
  return a;
}
}  // namespace

int GraphFilterMono(int graphic, int cb, int cr) { return ApplyGraphFilter(graphic, FILTER_MONO, Args({cb, cr})); }
int GraphFilterGauss(int graphic, int pixelWidth, int strength) {
  return ApplyGraphFilter(graphic, FILTER_GAUSS, Args({pixelWidth, strength}));
}
int GraphFilterDownScale(int source, int dest, int divisor) {
  int w = 0, h = 0;
  if (GetGraphicSize(source, &w, &h) != 0) return -1;
  return ApplyGraphFilterOrBlend(WholeGraph(0, source, dest, FILTER_DOWN_SCALE, w, h), Args({divisor}));
}
int GraphFilterBrightClip(int graphic, int compare, int threshold, int fill, unsigned int fillColor, int fillAlpha) {
  return ApplyGraphFilter(graphic, FILTER_BRIGHT_CLIP,
                          Args({compare, threshold, fill, static_cast<int>(fillColor), fillAlpha}));
}
int GraphFilterHsb(int graphic, int hueMode, int hue, int saturation, int brightness) {
  return ApplyGraphFilter(graphic, FILTER_HSB, Args({hueMode, hue, saturation, brightness}));
}
int GraphFilterInvert(int graphic) { return ApplyGraphFilter(graphic, FILTER_INVERT, Args({})); }
int GraphFilterLevel(int graphic, int minimum, int maximum, int gamma, int outMinimum, int outMaximum) {
  return ApplyGraphFilter(graphic, FILTER_LEVEL, Args({minimum, maximum, gamma, outMinimum, outMaximum}));
}
int GraphFilterTwoColor(int graphic, int threshold, unsigned int darkColor, int darkAlpha, unsigned int brightColor,
                        int brightAlpha) {
  return ApplyGraphFilter(
      graphic, FILTER_TWO_COLOR,
      Args({threshold, static_cast<int>(darkColor), darkAlpha, static_cast<int>(brightColor), brightAlpha}));
}
int GraphFilterGradientMap(int graphic, int gradient, int reverse) {
  return ApplyGraphFilter(graphic, FILTER_GRADIENT_MAP, Args({gradient, reverse}));
}
int GraphFilterPremultipliedAlpha(int graphic) { return ApplyGraphFilter(graphic, FILTER_PREMUL_ALPHA, Args({})); }
int GraphFilterInterpolatedAlpha(int graphic) { return ApplyGraphFilter(graphic, FILTER_INTERP_ALPHA, Args({})); }
int GraphBlend(int source, int blend, int dest, int ratio, int type) {
  if (type == GRAPH_BLEND_RGBA_MIX) return -1;  // takes its selectors: GraphBlendRgbaMix
  int w = 0, h = 0;
  if (GetGraphicSize(source, &w, &h) != 0) return -1;
  GraphFilterRequest request = WholeGraph(1, source, dest, type, w, h);
  request.blendGraph = blend, request.blendRatio = ratio;
  return ApplyGraphFilterOrBlend(request, Args({}));
}
int GraphBlendRgbaMix(int source, int blend, int dest, int red, int green, int blue, int alpha) {
  int w = 0, h = 0;
  if (GetGraphicSize(source, &w, &h) != 0) return -1;
  GraphFilterRequest request = WholeGraph(1, source, dest, GRAPH_BLEND_RGBA_MIX, w, h);
  request.blendGraph = blend, request.blendRatio = FULL_RATIO;
  return ApplyGraphFilterOrBlend(request, Args({red, green, blue, alpha}));
}
int GraphBlendRect(int source, int x1, int y1, int x2, int y2, int blend, int blendX, int blendY, int dest, int destX,
                   int destY, int ratio, int type) {
  if (type == GRAPH_BLEND_RGBA_MIX) return -1;
  GraphFilterRequest request = WholeGraph(1, source, dest, type, 0, 0);
  request.blendGraph = blend, request.blendRatio = ratio;
  request.x1 = x1, request.y1 = y1, request.x2 = x2, request.y2 = y2;
  request.blendX = blendX, request.blendY = blendY;
  request.destX = destX, request.destY = destY;
  return ApplyGraphFilterOrBlend(request, Args({}));
}
