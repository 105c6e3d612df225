// The graphics draw state and its setters: blend mode, alpha test, tint,
// Z-buffer graphic, sampling, the draw area (viewport, scissor and the
// projection correction), the draw target (render target 0, depth-stencil,
// the 3-D view of the target), the blend graphic and fog; the screen colour
// helpers. Each setter keeps the software draw state in step.
// Threads: main thread only.
// Platform: IDirect3DDevice9 SetRenderTarget, SetDepthStencilSurface,
// StretchRect (multi-sample resolve) through the device call table and the
// render-state cache.
#include <string.h>

#include "RaRadara.h"
#include "RuRovoreziZuzu.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaDrawSoft.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphView.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VuViderezaMath.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShadowMap.h"
#include "VuViderezaTransform.h"

GraphicsDrawState CurrentDrawState;

namespace {

const float TAN_30 = 0.57735026f;
const float FIELD_OF_VIEW_60 = 1.0471976f;

int ClampByte(int value) { return value < 0 ? 0 : value > 255 ? 255 : value; }

void WaitIfInactive() {
  if (IsInactiveWaitNeeded()) WaitWhileInactive();
}

bool IsScreenTarget(int target) { return target <= -2 && target >= -5; }

void RebuildDiffuse() {
  if (DeviceLayer.hardware) CurrentDrawState.diffuseColor = MakeDrawDiffuseColor();
}

// Size of a draw target: the screen for -2 and -4, a live graphic's size;
// false for anything else.
bool TargetSize(int target, int* width, int* height) {
  if (target == SCREEN_BACK || target == SCREEN_FRONT) {
    *width = Screen.drawWidth > 0 ? Screen.drawWidth : Screen.width;
    *height = Screen.drawHeight > 0 ? Screen.drawHeight : Screen.height;
    return *width > 0 && *height > 0;
  }
  if (target < 0) return false;
  return GetGraphicSize(target, width, height) == 0;
}

GraphicHandleRecord* TargetGraphic(int target) { return target >= 0 ? GetGraphicRecord(target, 0) : nullptr; }

// A graphic that can be drawn into in the current mode.
bool IsRenderTargetGraphic(const GraphicHandleRecord* record) {
  if (record == nullptr || record->image == nullptr) return false;
  const GraphFormatDesc& format = record->image->format;
  // Software-mode graphics keep no memory image to draw into.
  return format.textureBacked && format.drawable && record->image->textureCount > 0;
}

// A software-mode graphic that can be a draw target: drawn into through its
// memory image, which must have no alpha channel (the software draws write
// colour only).
bool IsSoftwareTargetGraphic(GraphicHandleRecord* record) {
  if (record == nullptr || record->image == nullptr || record->image->format.textureBacked) return false;
  const MEMIMG* image = GetGraphicMemImg(record);
  return record->image->format.drawable && image != nullptr && !image->header->alphaFlag;
}

// The blend graphic as the software draws read it: one byte per pixel
// (weighted through MemImgDrawState's mask alpha ramp), the graphic's alpha,
// 255 where it has none (a texture without alpha samples as 1 on the
// device). Taken when the blend graphic is set.
MEMIMG SoftwareBlendMask;

int MakeSoftwareBlendMask(const MEMIMG* image) {
  ReleaseSoftwareBlendMask();
  if (image == nullptr) return -1;
  if (CreateMemImgOfColorType(&SoftwareBlendMask, image->width, image->height, MEMIMG_COLOR_8_CHANNEL) != 0) {
    FreeFailedMemImg(&SoftwareBlendMask);
    return -1;
  }
  const MemImgHeader* h = image->header;
  const int bytes = MemImgBytesPerPixel(image);
  const bool alpha = h->alphaFlag && !h->palettised && bytes == 4;
  // Alpha byte of a 32-bit word: bits 24-31 (colour type 1) or 16-23 (type 0).
  const int alphaByte = h->colorType == MEMIMG_COLOR_32 ? 3 : 2;
  for (int y = 0; y < image->height; y++) {
    const uint8_t* from = image->pixels + static_cast<size_t>(h->pitch) * y;
    uint8_t* to = SoftwareBlendMask.pixels + static_cast<size_t>(SoftwareBlendMask.header->pitch) * y;
    for (int x = 0; x < image->width; x++) to[x] = alpha ? from[x * 4 + alphaByte] : 255;
  }
  return 0;
}

IDirect3DSurface9* GraphicSurface(const GraphicHandleRecord* record, int index) {
  const GraphTextureEntry& entry = record->image->textures[0];
  if (entry.multiSampleSurface != nullptr) return entry.multiSampleSurface;
  return entry.faces[index >= 0 && index < 6 ? index : 0];
}

void StoreDrawArea(const RECT& area) {
  CurrentDrawState.drawArea = area;
  CurrentDrawState.drawAreaF[0] = static_cast<float>(area.left);
  CurrentDrawState.drawAreaF[1] = static_cast<float>(area.top);
  CurrentDrawState.drawAreaF[2] = static_cast<float>(area.right);
  CurrentDrawState.drawAreaF[3] = static_cast<float>(area.bottom);
  SetMemImgDrawArea(&area);
}

// The 3-D view of a target of this size.
void ResetViewForTarget(int width, int height) {
  SetProjectionAspectScale(1.0f);
  Matrix4 identity;
  CreateIdentityMatrix(&identity);
  StoreWorldMatrix(&identity);
  const float w = static_cast<float>(width), h = static_cast<float>(height);
  SetProjectionCenter(w / 2.0f, h / 2.0f);
  const float d = static_cast<float>(height / 2) / TAN_30;
  SetCameraPositionAndTarget(w / 2.0f, h / 2.0f, -d, w / 2.0f, h / 2.0f, -d + 1.0f, 0.0f, 1.0f, 0.0f);
  SetPerspectiveFov(FIELD_OF_VIEW_60);
  SetProjectionNearFar(d * 0.1f, d + 20000.0f);
}

}  // namespace

void ResetGraphicsDrawState() {
  GraphicsDrawState& s = CurrentDrawState;
  memset(&s, 0, sizeof s);
  s.blendGraph = -1;
  s.alphaTestMode = -1;
  s.zBufferGraph = 0;
  s.drawTarget = SCREEN_BACK;
  s.fogMode = -1;
  s.fogColor = 0;
  s.fogEnd = -1.0f;
  s.drawZ = 0.2f;
  for (DrawZSetting& z : s.zSettings) z = {0, 0, D3DCMP_LESSEQUAL, 0};
  s.fillMode = D3DFILL_SOLID;
  s.cullMode = 0;
  s.addressU = s.addressV = D3DTADDRESS_CLAMP;
  s.maxAnisotropy = 1;
  s.specularSwitch = 1;
  s.diffuseSource = D3DMCS_COLOR1;
  s.specularSource = D3DMCS_COLOR2;
  RenderState.statesChanged = 1;
  SetDrawTint(255, 255, 255);
  SetFogEnable(3);
  SetFogColor(255, 255, 255);
  SetFogRange(0.0f, 1500.0f);
  SetDrawTarget(SCREEN_FRONT);
  int width = 0, height = 0;
  if (TargetSize(SCREEN_FRONT, &width, &height)) SetClipRect(0, 0, width, height);
}

float* MakeFloat4(float* out, float a, float b, float c, float d) {
  out[0] = a, out[1] = b, out[2] = c, out[3] = d;
  return out;
}

uint32_t MakeDrawDiffuseColor() {
  const uint32_t alpha = CurrentDrawState.blendMode != 0 ? static_cast<uint32_t>(CurrentDrawState.blendParam) : 255u;
  return alpha << 24 | (CurrentDrawState.brightness & 0xFFFFFF);
}

int SetBlendMode(int mode, int parameter) {
  if (mode == CurrentDrawState.blendMode && parameter == CurrentDrawState.blendParam) return 0;
  WaitIfInactive();
  if (mode != CurrentDrawState.blendMode) {
    CurrentDrawState.blendMode = mode;
    RenderState.statesChanged = 1;
  }
  CurrentDrawState.blendParam = ClampByte(parameter);
  SetMemImgBlendMode(CurrentDrawState.blendMode, CurrentDrawState.blendParam);
  RebuildDiffuse();
  return 0;
}

int SetAlphaTestModeAndRef(int mode, int reference) {
  if (mode == CurrentDrawState.alphaTestMode && reference == CurrentDrawState.alphaTestRef) return 0;
  WaitIfInactive();
  CurrentDrawState.alphaTestMode = mode;
  CurrentDrawState.alphaTestRef = ClampByte(reference);
  RenderState.statesChanged = 1;
  RebuildDiffuse();
  return 0;
}

int SetDrawTint(int red, int green, int blue) {
  const uint32_t old = CurrentDrawState.brightness;
  if (red == static_cast<int>((old >> 16) & 255) && green == static_cast<int>((old >> 8) & 255) &&
      blue == static_cast<int>(old & 255))
    return 0;
  const uint32_t packed = static_cast<uint32_t>(ClampByte(red)) << 16 | static_cast<uint32_t>(ClampByte(green)) << 8 |
                          static_cast<uint32_t>(ClampByte(blue));
  if ((old == 0xFFFFFF) != (packed == 0xFFFFFF)) RenderState.statesChanged = 1;
  CurrentDrawState.brightness = packed;
  SetMemImgDrawBright(packed);
  RebuildDiffuse();
  return 0;
}

void SetDrawTintPacked(uint32_t rgb) {
  rgb &= 0xFFFFFF;
  if (rgb == CurrentDrawState.brightness) return;
  CurrentDrawState.brightness = rgb;
  SetMemImgDrawBright(rgb);
  RenderState.statesChanged = 1;
  RebuildDiffuse();
}

IDirect3DSurface9* GetDrawTargetSurface() {
  if (!HasDirect3DDevice()) return nullptr;
  if (IsScreenTarget(CurrentDrawState.drawTarget))
    return DeviceLayer.subBackBuffer != nullptr ? DeviceLayer.subBackBuffer : DeviceLayer.backBuffer;
  const GraphicHandleRecord* record = TargetGraphic(CurrentDrawState.drawTarget);
  if (!IsRenderTargetGraphic(record)) return nullptr;
  return GraphicSurface(record, CurrentDrawState.drawSurfaceIndex);
}

namespace {

// A live render-target graphic's own depth surface, or null.
IDirect3DSurface9* OwnDepthSurface(const GraphicHandleRecord* record) {
  if (!IsRenderTargetGraphic(record) || record->image->textureCount < 1) return nullptr;
  return record->image->textures[0].writeOnlySurface;
}

}  // namespace

int ApplyDepthStencilForDrawTarget() {
  if (!HasDirect3DDevice()) return -1;
  IDirect3DSurface9* depth = DeviceLayer.depthBuffer;
  const ShadowMapRecord* map = ShadowMaps.drawing ? reinterpret_cast<const ShadowMapRecord*>(GetHandleRecordOfType(
                                                        ShadowMaps.drawingHandle, HANDLETYPE_SHADOWMAP))
                                                  : nullptr;
  const GraphicHandleRecord* zGraph = CurrentDrawState.zBufferGraph >= 0
                                          ? GetGraphicRecord(CurrentDrawState.zBufferGraph, 0)
                                          : nullptr;
  IDirect3DSurface9* zSurface = OwnDepthSurface(zGraph);
  if (map != nullptr) {
    // A shadow map draws with its own depth surface.
    depth = map->depthSurface;
  } else if (GetMaskUseFlag()) {
    depth = DeviceLayer.depthBuffer;
  } else if (IsScreenTarget(CurrentDrawState.drawTarget)) {
    int w = 0, h = 0;
    GetGraphicSize(-2, &w, &h);
    if (zSurface != nullptr && zGraph->width >= w && zGraph->height >= h) depth = zSurface;
  } else if (const GraphicHandleRecord* target = TargetGraphic(CurrentDrawState.drawTarget)) {
    if (zSurface != nullptr && zGraph->width >= target->width && zGraph->height >= target->height) {
      depth = zSurface;
    } else if (OwnDepthSurface(target) != nullptr) {
      depth = OwnDepthSurface(target);
    } else if (target->width > DeviceLayer.depthBufferWidth || target->height > DeviceLayer.depthBufferHeight) {
      depth = nullptr;  // larger than the Z buffer: drawn without depth
    }
  }
  return FAILED(SetDeviceDepthStencilSurface(depth)) ? -1 : 0;
}

int SetZBufferGraphic(int handle) {
  if (!Screen.graphicsUp) return -1;
  WaitIfInactive();
  const GraphicHandleRecord* record = handle >= 0 ? GetGraphicRecord(handle, 0) : nullptr;
  if (record != nullptr) {
    if (record->image == nullptr || !record->image->format.drawable || !record->image->hasDepthSurface) return -1;
  }
  CurrentDrawState.zBufferGraph = handle;
  if (DeviceLayer.hardware) ApplyDepthStencilForDrawTarget();
  return 0;
}

int SetSamplingMode(int mode) {
  if (mode == CurrentDrawState.samplingMode) return 0;
  CurrentDrawState.samplingMode = mode;
  RenderState.statesChanged = 1;
  if (DeviceLayer.hardware) SetSamplerFilterCached(mode);
  return 0;
}

int GetSamplingMode() { return CurrentDrawState.samplingMode; }

void SetDrawAreaNoViewport(const RECT* area) {
  StoreDrawArea(*area);
  CurrentDrawState.areaEmpty = area->left >= area->right || area->top >= area->bottom ? 1 : 0;
}

int SetClipRect(int left, int top, int right, int bottom) {
  CurrentDrawState.requestedArea = {left, top, right, bottom};
  int width, height;
  if (!TargetSize(CurrentDrawState.drawTarget, &width, &height)) return -1;
  if (left > right) {
    const int t = left;
    left = right, right = t;
  }
  if (top > bottom) {
    const int t = top;
    top = bottom, bottom = t;
  }
  auto clamp = [](int v, int high) { return v < 0 ? 0 : v > high ? high : v; };
  const RECT area = {clamp(left, width), clamp(top, height), clamp(right, width), clamp(bottom, height)};
  StoreDrawArea(area);
  if (area.left == area.right || area.top == area.bottom) {
    CurrentDrawState.areaEmpty = 1;
    return 0;
  }
  CurrentDrawState.areaEmpty = 0;
  if (!DeviceLayer.hardware) return 0;
  if (!HasDirect3DDevice()) return -1;
  SetViewportRect(area.left, area.top, area.right, area.bottom);
  SetScissorRectCached(&area);
  const float w = static_cast<float>(area.right - area.left), h = static_cast<float>(area.bottom - area.top);
  Matrix4 viewport, inverse;
  CreateViewportMatrix(&viewport, area.left + w / 2.0f, area.top + h / 2.0f, w, h);
  if (MatrixInverse(&inverse, &viewport) == 0) StoreDrawAreaAdjustmentMatrix(&inverse);
  return 0;
}

int GetDrawTarget() { return CurrentDrawState.drawTarget; }
int GetDrawTargetSurfaceIndex() { return CurrentDrawState.drawSurfaceIndex; }

int SetDrawTarget(int target) { return SetDrawTargetFace(target, 0); }

namespace {

ShadowMapRecord* ShadowMapTarget(int target) {
  return target > 0 ? reinterpret_cast<ShadowMapRecord*>(GetHandleRecordOfType(target, HANDLETYPE_SHADOWMAP)) : nullptr;
}

// A shadow map as draw target: drawing into it begins (render target 0, its
// depth surface, the light's view and projection; what they replace is
// kept in the map until the next switch ends the drawing). The draw area is
// the whole map, with no area correction of the light's projection.
int SetShadowMapDrawTarget(int handle, ShadowMapRecord* map) {
  if (!DeviceLayer.hardware || !HasDirect3DDevice() || map->surface == nullptr) return -1;
  if (ShadowMaps.drawing && ShadowMaps.drawingHandle == handle) {
    // Already drawn into (a rebuild sets render target 0 again).
    SetRenderTargetCached(map->surface, 0);
    ApplyDepthStencilForDrawTarget();
    return 0;
  }
  if (BeginShadowMapDraw(handle) != 0) return -1;
  CurrentDrawState.drawTarget = handle;
  CurrentDrawState.drawSurfaceIndex = 0;
  CurrentDrawState.drawScreenWidth = map->width;
  CurrentDrawState.drawScreenHeight = map->height;
  RenderState.choosePixelShader = 1;
  UpdateDrawTargetBlendTexture();
  const RECT area = {0, 0, map->width, map->height};
  CurrentDrawState.requestedArea = area;
  SetDrawAreaNoViewport(&area);
  SetViewportRect(area.left, area.top, area.right, area.bottom);
  SetScissorRectCached(&area);
  Matrix4 identity;
  CreateIdentityMatrix(&identity);
  StoreScreenTransformMatrix(&identity);
  StoreDrawAreaAdjustmentMatrix(&identity);
  return 0;
}

}  // namespace

int SetDrawTargetFace(int target, int face) {
  if (!Screen.graphicsUp || face < 0 || face > 5) return -1;
  WaitIfInactive();
  if (ShadowMapRecord* map = ShadowMapTarget(target)) return face == 0 ? SetShadowMapDrawTarget(target, map) : -1;
  GraphicHandleRecord* record = nullptr;
  if (!IsScreenTarget(target)) {
    record = TargetGraphic(target);
    if (DeviceLayer.hardware ? !IsRenderTargetGraphic(record) : !IsSoftwareTargetGraphic(record)) return -1;
  }
  // Faces 1 to 5 exist only on a cube render target.
  if (face != 0 &&
      (record == nullptr || !record->image->format.cube || record->image->textures[0].faces[face] == nullptr))
    return -1;
  // Leaving a shadow map ends its drawing first (what it replaced comes back).
  if (ShadowMaps.drawing) EndShadowMapDraw();
  const int oldTarget = CurrentDrawState.drawTarget;
  const int oldWidth = CurrentDrawState.drawScreenWidth, oldHeight = CurrentDrawState.drawScreenHeight;
  const int maskUse = GetMaskUseFlag();
  SwitchMaskScreenUse(0);
  int width = oldWidth, height = oldHeight;
  TargetSize(target, &width, &height);
  if (IsMaskScreenRequested()) CreateMaskScreen(1, width, height);

  CurrentDrawState.drawTarget = target;
  CurrentDrawState.drawSurfaceIndex = face;
  CurrentDrawState.drawScreenWidth = width;
  CurrentDrawState.drawScreenHeight = height;
  RenderState.choosePixelShader = 1;

  if (DeviceLayer.hardware) {
    if (HasDirect3DDevice()) {
      FlushVertexBatch(0);
      EndDrawScene();
      SetDrawTexture(nullptr);
      const GraphicHandleRecord* old = TargetGraphic(oldTarget);
      if (old != nullptr && old != record && IsRenderTargetGraphic(old)) {
        const GraphTextureEntry& entry = old->image->textures[0];
        if (entry.multiSampleSurface != nullptr && entry.faces[0] != nullptr)
          StretchDeviceRect(entry.multiSampleSurface, nullptr, entry.faces[0], nullptr, D3DTEXF_NONE);
      }
      IDirect3DSurface9* surface = GetActiveMaskSurface();
      if (surface == nullptr) surface = GetDrawTargetSurface();
      if (surface != nullptr) SetRenderTargetCached(surface, 0);
      ApplyDepthStencilForDrawTarget();
    }
  } else {
    MEMIMG* mask = GetActiveMaskWorkImage();
    MEMIMG* own = record != nullptr ? GetGraphicMemImg(record) : &SoftwareScreenImage;
    SoftwareDrawTarget = mask != nullptr ? mask : own;
  }
  UpdateDrawTargetBlendTexture();
  if (target == SCREEN_FRONT) StartWindowTimer(1);
  if (width == oldWidth && height == oldHeight) {
    const RECT a = CurrentDrawState.drawArea;
    SetClipRect(a.left, a.top, a.right, a.bottom);
  } else {
    SetClipRect(0, 0, width, height);
  }
  ResetViewForTarget(width, height);
  SwitchMaskScreenUse(maskUse);
  return 0;
}

int CheckBlendGraphSize(const GraphicHandleRecord* record) {
  const GraphicHandleRecord* blend = CurrentDrawState.blendGraph >= 0 ? GetGraphicRecord(CurrentDrawState.blendGraph, 0)
                                                                      : nullptr;
  if (blend == nullptr || record == nullptr) return -1;
  return blend->width < record->width || blend->height < record->height ? -1 : 0;
}

int SetBlendGraph(int handle, int kind, const int* parameters) {
  GraphicHandleRecord* record = nullptr;
  if (handle <= 0) {
    CurrentDrawState.blendGraph = -1;
  } else {
    record = GetGraphicRecord(handle, 0);
    if (record == nullptr) return -1;
    CurrentDrawState.blendGraph = handle;
  }
  WaitIfInactive();
  int p0 = 0, p1 = 0;
  if (record != nullptr) {
    CurrentDrawState.blendGraphKind = kind;
    if (kind == 0 && parameters != nullptr) {
      p0 = ClampByte(parameters[0]);
    } else if (kind == 1 && parameters != nullptr) {
      p0 = ClampByte(parameters[0]);
      p1 = ClampByte(parameters[1]);
      CurrentDrawState.blendGraphParam[0] = p0;
      CurrentDrawState.blendGraphParam[1] = p1;
    }
  }
  if (!DeviceLayer.hardware) {
    SoftwareBlendImage = nullptr;
    ReleaseSoftwareBlendMask();
    if (record == nullptr) return 0;
    if (MakeSoftwareBlendMask(GetGraphicMemImg(record)) != 0) {
      CurrentDrawState.blendGraph = -1;
      return -1;
    }
    SoftwareBlendImage = &SoftwareBlendMask;
    // Kind 1: the ramp from the border position and range; other kinds
    // weight by the mask byte itself.
    if (kind == 1) {
      SetMaskAlphaRamp(p0, p1);
    } else {
      SetMaskAlphaRamp(128, 255);
    }
    return 0;
  }
  if (!HasDirect3DDevice()) return -1;
  if (record != nullptr && record->image != nullptr && record->image->format.textureBacked && record->pieceCount > 0 &&
      record->pieces[0].entry != nullptr) {
    const GraphTextureEntry* entry = record->pieces[0].entry;
    SetDrawBlendTexture(entry->texture, entry->allocWidth, entry->allocHeight);
    SetBlendTextureModeCached(kind, p0, p1);
    return 0;
  }
  CurrentDrawState.blendGraph = -1;
  if (RenderState.blendTexture != nullptr || RenderState.reapplyAll) {
    FlushVertexBatch(0);
    RenderState.choosePixelShader = 1;
    RenderState.statesChanged = 1;
    SetDrawBlendTexture(nullptr, 0, 0);
  }
  return 0;
}

void ReleaseSoftwareBlendMask() {
  if (SoftwareBlendImage == &SoftwareBlendMask) SoftwareBlendImage = nullptr;
  if (IsValidMemImg(&SoftwareBlendMask)) ReleaseMemImg(&SoftwareBlendMask);
  memset(&SoftwareBlendMask, 0, sizeof SoftwareBlendMask);
}

int SetBlendGraphParam(int handle, int kind, int parameter1, int parameter2) {
  const int parameters[2] = {parameter1, parameter2};
  return SetBlendGraph(handle, kind, parameters);
}

int SetBlendImageTwoParams(int handle, int parameter1, int parameter2) {
  return SetBlendGraphParam(handle, 1, parameter1, parameter2);
}

int SetFogEnable(int mode) {
  if (mode == CurrentDrawState.fogMode && !RenderState.reapplyAll &&
      (!DeviceLayer.hardware || RenderState.fogVertexMode == mode))
    return 0;
  FlushVertexBatch(0);
  CurrentDrawState.fogMode = mode;
  if (DeviceLayer.hardware) SetFogVertexModeCached(mode);
  return 0;
}

int SetFogColor(int red, int green, int blue) {
  const uint32_t color = 0xFF000000u | static_cast<uint32_t>(red & 255) << 16 |
                         static_cast<uint32_t>(green & 255) << 8 | static_cast<uint32_t>(blue & 255);
  if (color == CurrentDrawState.fogColor && !RenderState.reapplyAll &&
      (!DeviceLayer.hardware || RenderState.fogColor == color))
    return 0;
  FlushVertexBatch(0);
  CurrentDrawState.fogColor = color;
  if (DeviceLayer.hardware) SetFogColorCached(color);
  return 0;
}

int SetFogRange(float start, float end) {
  if (start == CurrentDrawState.fogStart && end == CurrentDrawState.fogEnd && !RenderState.reapplyAll &&
      (!DeviceLayer.hardware || (RenderState.fogStart == start && RenderState.fogEnd == end)))
    return 0;
  FlushVertexBatch(0);
  CurrentDrawState.fogStart = start;
  CurrentDrawState.fogEnd = end;
  if (DeviceLayer.hardware) SetFogStartEndCached(start, end);
  return 0;
}

namespace {

const ColorFormatRecord* ScreenColorFormat() {
  const bool deep = Screen.colorBits == 32 || Screen.colorBits == 24;
  if (DeviceLayer.hardware) return GetPixelFormatDescriptor(deep ? D3DFMT_X8R8G8B8 : D3DFMT_R5G6B5);
  return GetMemImgColorFormat(deep ? 1 : 0, 0, 0);
}

}  // namespace

unsigned int MakeColorValue(int red, int green, int blue) {
  const ColorFormatRecord* f = ScreenColorFormat();
  if (f == nullptr) {
    return static_cast<unsigned int>(red & 255) << 16 | static_cast<unsigned int>(green & 255) << 8 |
           static_cast<unsigned int>(blue & 255);
  }
  auto channel = [](int value, int width, int shift) -> uint32_t {
    if (width == 0) return 0;
    return (static_cast<uint32_t>(value & 255) >> (8 - width)) << shift;
  };
  return channel(red, f->redWidth, f->redShift) + channel(green, f->greenWidth, f->greenShift) +
         channel(blue, f->blueWidth, f->blueShift) + f->spareMask;
}

int SplitColorValue(unsigned int value, int* red, int* green, int* blue) {
  const ColorFormatRecord* f = ScreenColorFormat();
  auto channel = [value](uint32_t mask, int shift, int width) -> int {
    if (width == 0) return 0;
    return static_cast<int>(((value & mask) >> shift) * 255 / ((1u << width) - 1));
  };
  if (f == nullptr) {
    if (red != nullptr) *red = static_cast<int>((value >> 16) & 255);
    if (green != nullptr) *green = static_cast<int>((value >> 8) & 255);
    if (blue != nullptr) *blue = static_cast<int>(value & 255);
    return 0;
  }
  if (red != nullptr) *red = channel(f->redMask, f->redShift, f->redWidth);
  if (green != nullptr) *green = channel(f->greenMask, f->greenShift, f->greenWidth);
  if (blue != nullptr) *blue = channel(f->blueMask, f->blueShift, f->blueWidth);
  return 0;
}
