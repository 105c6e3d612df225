// Graphic handles (handle type 1): records and their shared image
// descriptors, pixel-format indices and their colour formats, texture
// splitting and creation (managed pool), the pieces each graphic draws
// with, pixel transfer into the textures (repeated edge texels) and
// read-back into a base image.
// Threads: main thread (the handle type's lock belongs to the handle
// manager). Platform: Direct3D 9 textures through the device call table.
#include "VuViderezaGraph.h"

#include <string.h>

#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RiDov.h"
#include "RaRadaraServices.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaGraphView.h"
#include "VuViderezaRebuild.h"
#include "VuViderezaShadowMap.h"
#include "ZiDezaru.h"

namespace {

const char LOG_NO_TEXTURE_FORMAT[] = "指定のフォーマットで作成できるテクスチャフォーマットがありませんでした";
const char LOG_TEXTURE_FAILED[] = "テクスチャの作成に失敗しました";
const char LOG_MEMORY_TEXTURE_FAILED[] = "メモリテクスチャの作成に失敗しました";
const char LOG_TEXTURE_SURFACE_FAILED[] = "テクスチャのサーフェスアドレスの取得に失敗しました";
const char LOG_ORIGINAL_MEMORY_FAILED[] = "グラフィックのオリジナル画像データ保存用メモリの確保に失敗しました";
const char LOG_MIP_LOCK_FAILED[] = "ミップマップテクスチャのロックに失敗しました";
const char LOG_CUBE_MIP_LOCK_FAILED[] = "キューブマップミップマップテクスチャのロックに失敗しました";
const char LOG_WRITE_SURFACE_FAILED[] = "書き込み専用サーフェスの作成に失敗しました";
const char LOG_WRITE_DEPTH_FAILED[] = "書き込み専用マルチサンプル深度サーフェスの作成に失敗しました";
const char LOG_CUBE_TEXTURE_FAILED[] = "キューブマップテクスチャの作成に失敗しました";
const char LOG_CUBE_SURFACE_FAILED[] = "キューブテクスチャのサーフェスアドレスの取得に失敗しました";
const char LOG_MEMORY_IMAGE_FAILED[] = "メモリイメージの作成に失敗しました";
const char LOG_BLEND_IMAGE_FAILED[] = "ブレンド画像用メモリイメージの作成に失敗しました";
const char LOG_DRAW_INFO_MEMORY_FAILED[] = "画像描画情報格納用メモリの確保に失敗しました";
const char LOG_DXT_TRANSFER[] = "DXTフォーマットのテクスチャに標準形式のイメージを転送することはできません";
const char LOG_TEXTURE_LOCK_FAILED[] = "テクスチャのロックに失敗しました";
const char LOG_STANDARD_IMAGE_MEMORY_FAILED[] = "標準イメージ用のメモリ確保に失敗しました";

// Graphic textures stay powers of two, so a region that ends early has room
// for its repeated edge texel.
enum { GRAPH_TEXTURE_POW2 = 1, MAX_TEXTURES_PER_SIDE = 64 };

}  // namespace

namespace {

// Creation settings as the graphics state reset leaves them: alpha test on,
// managed pool on (stored inverted: 0), one mip level, transparent black.
GraphCreateSettings CurrentCreateSettings = {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

ColorFormatRecord PixelFormats[25];
int PixelFormatsBuilt = 0;

void BuildPixelFormats() {
  if (PixelFormatsBuilt) return;
  ColorFormatRecord* f = PixelFormats;
  MakeColorFormatFromMasks(&f[0], 16, 0xf800, 0x07e0, 0x001f, 0, 0, 0, 0);
  MakeColorFormatXRGB8(&f[1]);
  MakeColorFormatFromMasks(&f[2], 16, 0x0f00, 0x00f0, 0x000f, 0xf000, 0, 0, 0);
  MakeColorFormatARGB8(&f[3]);
  MakeColorFormatFromMasks(&f[4], 16, 0x7c00, 0x03e0, 0x001f, 0x8000, 0, 0, 0);
  MakeColorFormatARGB8(&f[5]);
  for (int i = 0; i < 5; i++) {
    MakeColorFormatARGB8(&f[6 + i]);
    f[6 + i].kind = static_cast<uint8_t>(1 + i);
    f[6 + i].bitsPerPixel = i == 0 ? 4 : 8;
  }
  MakeColorFormatFromMasks(&f[11], 16, 0xf800, 0x07e0, 0x001f, 0, 0, 0, 0);
  MakeColorFormatXRGB8(&f[12]);
  MakeColorFormatARGB8(&f[13]);
  MakeColorFormatFromMasks(&f[14], 64, 0, 0, 0, 0, 4, 16, 0);
  MakeColorFormatFromMasks(&f[15], 64, 0, 0, 0, 0, 4, 16, 1);
  MakeColorFormatFromMasks(&f[16], 128, 0, 0, 0, 0, 4, 32, 1);
  MakeColorFormatFromMasks(&f[17], 8, 0, 0, 0, 0, 1, 8, 0);
  MakeColorFormatFromMasks(&f[18], 16, 0, 0, 0, 0, 1, 16, 0);
  MakeColorFormatFromMasks(&f[19], 16, 0, 0, 0, 0, 1, 16, 1);
  MakeColorFormatFromMasks(&f[20], 32, 0, 0, 0, 0, 1, 32, 1);
  MakeColorFormatFromMasks(&f[21], 16, 0, 0, 0, 0, 2, 8, 0);
  MakeColorFormatFromMasks(&f[22], 32, 0, 0, 0, 0, 2, 16, 0);
  MakeColorFormatFromMasks(&f[23], 32, 0, 0, 0, 0, 2, 16, 1);
  MakeColorFormatFromMasks(&f[24], 64, 0, 0, 0, 0, 2, 32, 1);
  PixelFormatsBuilt = 1;
}

struct D3DFormatEntry {
  int code, bits;
  uint32_t r, g, b, a;
  int channels, channelBits, floatFlag;
};
const D3DFormatEntry D3DFormatEntries[25] = {
    {20, 24, 0xff0000, 0xff00, 0xff, 0, 0, 0, 0},
    {21, 32, 0xff0000, 0xff00, 0xff, 0xff000000, 0, 0, 0},
    {22, 32, 0xff0000, 0xff00, 0xff, 0, 0, 0, 0},
    {23, 16, 0xf800, 0x7e0, 0x1f, 0, 0, 0, 0},
    {24, 16, 0x7c00, 0x3e0, 0x1f, 0, 0, 0, 0},
    {25, 16, 0x7c00, 0x3e0, 0x1f, 0x8000, 0, 0, 0},
    {26, 16, 0xf00, 0xf0, 0xf, 0xf000, 0, 0, 0},
    {27, 8, 0xe0, 0x1c, 0x3, 0, 0, 0, 0},
    {29, 16, 0xe0, 0x1c, 0x3, 0xff00, 0, 0, 0},
    {30, 16, 0xf00, 0xf0, 0xf, 0, 0, 0, 0},
    {31, 32, 0x3ff, 0xffc00, 0x3ff00000, 0xc0000000, 0, 0, 0},
    {32, 32, 0xff, 0xff00, 0xff0000, 0xff000000, 0, 0, 0},
    {33, 32, 0xff, 0xff00, 0xff0000, 0, 0, 0, 0},
    {34, 32, 0, 0, 0, 0, 2, 16, 0},
    {35, 32, 0x3ff00000, 0xffc00, 0x3ff, 0xc0000000, 0, 0, 0},
    {36, 64, 0, 0, 0, 0, 4, 16, 0},
    {50, 8, 0, 0, 0, 0, 1, 8, 0},
    {60, 16, 0, 0, 0, 0, 2, 8, 0},
    {81, 16, 0, 0, 0, 0, 1, 16, 0},
    {111, 16, 0, 0, 0, 0, 1, 16, 1},
    {112, 32, 0, 0, 0, 0, 2, 16, 1},
    {113, 64, 0, 0, 0, 0, 4, 16, 1},
    {114, 32, 0, 0, 0, 0, 1, 32, 1},
    {115, 64, 0, 0, 0, 0, 2, 32, 1},
    {116, 128, 0, 0, 0, 0, 4, 32, 1},
};
ColorFormatRecord D3DFormats[25];
int D3DFormatsBuilt = 0;

int GraphicsReady() { return Screen.graphicsUp && DeviceLayer.hardware && HasDirect3DDevice(); }

void FreeDescriptor(GraphImageDescriptor* image) {
  ReleaseImageTextures(image);
  if (IsValidMemImg(&image->softImage)) ReleaseMemImg(&image->softImage);
  MemFree(image);
}

// A cube texture is kept in the entry's texture fields; these give it back.
IDirect3DCubeTexture9* AsCube(IDirect3DTexture9* texture) { return reinterpret_cast<IDirect3DCubeTexture9*>(texture); }

// A texture, or a cube texture of the width (kept as a texture pointer).
HRESULT MakeTexture(bool cube, const DeviceTextureDesc& desc, IDirect3DTexture9** out, int inJob) {
  if (!cube) return CreateDeviceTextureOnMainThread(desc, out, inJob);
  IDirect3DCubeTexture9* texture = nullptr;
  const HRESULT hr = CreateDeviceCubeTextureOnMainThread(desc, &texture, inJob);
  *out = reinterpret_cast<IDirect3DTexture9*>(texture);
  return hr;
}

// A drawable graphic's multi-sample render surface (when it asks for
// multi-sampling, in what the device supports) and its depth surface (when
// asked for, or when its sampling differs from the device layer's Z buffer).
int MakeTargetSurfaces(GraphImageDescriptor* image, GraphTextureEntry& e, D3DFORMAT format, int inJob) {
  D3DMULTISAMPLE_TYPE samples = static_cast<D3DMULTISAMPLE_TYPE>(image->format.multiSampleType);
  DWORD quality = image->format.multiSampleQuality;
  if (samples != D3DMULTISAMPLE_NONE) {
    FindSupportedMultiSampleType(format, &samples, &quality, 0);
    image->format.multiSampleType = static_cast<uint8_t>(samples);
    image->format.multiSampleQuality = static_cast<uint8_t>(quality);
  }
  if (samples != D3DMULTISAMPLE_NONE && e.multiSampleSurface == nullptr) {
    const DeviceSurfaceDesc surface = {
        static_cast<UINT>(e.allocWidth), static_cast<UINT>(e.allocHeight), format, samples, quality, FALSE};
    if (CreateDeviceRenderTargetOnMainThread(surface, &e.multiSampleSurface, inJob) != D3D_OK ||
        e.multiSampleSurface == nullptr) {
      e.multiSampleSurface = nullptr;
      LogPrintf(LOG_WRITE_SURFACE_FAILED);
      return -1;
    }
  }
  const bool deviceSampling = DeviceLayer.multiSampleType != 0;
  const bool wantDepth = image->hasDepthSurface || (samples != D3DMULTISAMPLE_NONE) != deviceSampling;
  if (!wantDepth) {
    if (e.writeOnlySurface != nullptr) ReleaseComObjectOnMainThread(e.writeOnlySurface, inJob);
    e.writeOnlySurface = nullptr;
    return 0;
  }
  if (e.writeOnlySurface != nullptr) return 0;
  const int depthFormats[3] = {DeviceFormats.z16, DeviceFormats.z24, DeviceFormats.z32};
  int depth = depthFormats[image->depthFormat >= 0 && image->depthFormat < 3 ? image->depthFormat : 0];
  if (depth == 0) depth = DeviceFormats.z16;
  DeviceSurfaceDesc surface = {};
  surface.width = static_cast<UINT>(e.allocWidth), surface.height = static_cast<UINT>(e.allocHeight);
  surface.format = static_cast<D3DFORMAT>(depth);
  surface.samples = samples, surface.quality = quality, surface.flag = FALSE;
  if (CreateDeviceDepthStencilSurfaceOnMainThread(surface, &e.writeOnlySurface, inJob) != D3D_OK ||
      e.writeOnlySurface == nullptr) {
    e.writeOnlySurface = nullptr;
    LogPrintf(LOG_WRITE_DEPTH_FAILED);
    return -1;
  }
  return 0;
}

// One level of a texture, or one face's level of a cube.
struct TextureLevel {
  IDirect3DTexture9* texture;
  bool cube;
  int face;
  int level;
};

// Lock and unlock of the level.
HRESULT LockLevel(const TextureLevel& at, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags, int inJob) {
  return at.cube ? LockCubeTextureRectOnMainThread(AsCube(at.texture), static_cast<D3DCUBEMAP_FACES>(at.face), at.level,
                                                   locked, rect, flags, inJob)
                 : LockTextureRectOnMainThread(at.texture, at.level, locked, rect, flags, inJob);
}

void UnlockLevel(const TextureLevel& at, int inJob) {
  if (at.cube)
    UnlockCubeTextureRectOnMainThread(AsCube(at.texture), static_cast<D3DCUBEMAP_FACES>(at.face), at.level, inJob);
  else UnlockTextureRectOnMainThread(at.texture, at.level, inJob);
}

// The transparent colour 0x00RRGGBB as a raw pixel of a software image type.
uint32_t SoftwareKeyValue(uint32_t color, int colorType) {
  if (colorType == MEMIMG_COLOR_32) return color & 0xffffff;
  return ((color >> 19 & 0x1f) << 11) | ((color >> 10 & 0x3f) << 5) | (color >> 3 & 0x1f);
}

// A zeroed descriptor with room for `entries` texture entries and its head
// filled (one reference); null after the log line when out of memory.
GraphImageDescriptor* AllocDescriptor(const GraphFormatDesc& desc, const GraphCreateSettings* settings, int width,
                                      int height, int entries) {
  GraphImageDescriptor* image = static_cast<GraphImageDescriptor*>(
      MEM_ALLOC_ZEROED(sizeof(GraphImageDescriptor) + (entries - 1) * sizeof(GraphTextureEntry)));
  if (image == nullptr) {
    LogPrintf(LOG_ORIGINAL_MEMORY_FAILED);
    return nullptr;
  }
  image->refCount = 1;
  image->format = desc;
  image->pixelFormat = SelectPixelFormatIndex(&desc);
  image->transparentColor = static_cast<uint32_t>(settings->transparentColor);
  image->width = width;
  image->height = height;
  return image;
}

// The descriptor's whole image as a memory image. 0 / -1 (logged).
int CreateDescriptorMemImg(GraphImageDescriptor* image) {
  const GraphFormatDesc& desc = image->format;
  // A blend image is a 32-bit image with alpha here.
  const int colorType = desc.colorBits == 32 || desc.blend ? MEMIMG_COLOR_32 : MEMIMG_COLOR_16;
  const int alpha = desc.alpha || desc.blend;
  const uint32_t key = desc.palette8 ? 0xffffffffu : SoftwareKeyValue(image->transparentColor, colorType);
  if (CreateMemImg(&image->softImage,
                   {image->width, image->height, -1, key, colorType, desc.palette8, alpha, 0, nullptr}) < 0) {
    LogPrintf(desc.blend ? LOG_BLEND_IMAGE_FAILED : LOG_MEMORY_IMAGE_FAILED);
    FreeFailedMemImg(&image->softImage);
    memset(&image->softImage, 0, sizeof image->softImage);
    return -1;
  }
  return 0;
}

// Software mode: a descriptor holding one memory image of width x height.
GraphImageDescriptor* CreateSoftwareDescriptor(const GraphFormatDesc& desc, const GraphCreateSettings* settings,
                                               int width, int height) {
  GraphImageDescriptor* image = AllocDescriptor(desc, settings, width, height, 1);
  if (image == nullptr) return nullptr;
  if (CreateDescriptorMemImg(image) < 0) {
    MemFree(image);
    return nullptr;
  }
  return image;
}

}  // namespace

void GetGraphCreateSettings(GraphCreateSettings* settings) { *settings = CurrentCreateSettings; }
void SetGraphCreateSettings(const GraphCreateSettings* settings) { CurrentCreateSettings = *settings; }

int InitGraphicHandleType() {
  return InitHandleType(HANDLETYPE_GRAPH, sizeof(GraphicHandleRecord), 32768, InitGraphicHandleRecord,
                        TermGraphicRecord, "グラフィック");
}

int TermGraphicHandleType() {
  DeleteAllHandlesOfType(HANDLETYPE_GRAPH, nullptr);
  return TermHandleType(HANDLETYPE_GRAPH);
}

int AllocGraphicHandle() { return CreateHandle(HANDLETYPE_GRAPH, -1); }

int InitGraphicHandleRecord(HandleRecordHeader* record) {
  reinterpret_cast<GraphicHandleRecord*>(record)->dependentHandle = -1;
  return 0;
}

GraphicHandleRecord* GetGraphicRecord(int handle, int acceptPending) {
  if (handle < 0) return nullptr;
  HandleRecordHeader* header = GetHandleRecordOfType(handle, HANDLETYPE_GRAPH);
  if (header == nullptr) return nullptr;
  if (!acceptPending && header->asyncLoadCount > 0) return nullptr;
  return reinterpret_cast<GraphicHandleRecord*>(header);
}

int IsGraphicHandleValid(int handle) { return GetGraphicRecord(handle, 0) != nullptr ? 1 : 0; }

int SetGraphicLostFlagPointer(int handle, int* flag) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, 0);
  if (record == nullptr) return -1;
  record->lostFlag = flag;
  if (flag != nullptr) *flag = 0;
  return 0;
}

int SetGraphInternalFlag(int handle, int flag) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, 0);
  if (record == nullptr) return -1;
  record->internalFlag = flag != 0 ? 1 : 0;
  return 0;
}

int GetGraphicSize(int handle, int* width, int* height) {
  int w, h;
  if (handle == -2 || handle == -4) {
    w = Screen.drawWidth > 0 ? Screen.drawWidth : 640;
    h = Screen.drawHeight > 0 ? Screen.drawHeight : 480;
  } else if (GraphicHandleRecord* record = GetGraphicRecord(handle, 1)) {
    w = record->width;
    h = record->height;
  } else {
    return GetShadowMapSize(handle, width, height);
  }
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
  return 0;
}

int GetGraphTextureSize(int handle, int* width, int* height) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, 1);
  if (record == nullptr) return GetShadowMapSize(handle, width, height);
  int w = record->width, h = record->height;
  if (record->image != nullptr && record->image->format.textureBacked && record->image->textureCount > 0) {
    w = record->image->textures[0].allocWidth;
    h = record->image->textures[0].allocHeight;
  }
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
  return 0;
}

int DeleteGraphicHandle(int handle, int) { return DeleteHandle(handle); }

int TermGraphicRecord(HandleRecordHeader* header) {
  GraphicHandleRecord* record = reinterpret_cast<GraphicHandleRecord*>(header);
  if (record->dependentHandle != -1) {
    DeleteHandle(record->dependentHandle);
    record->dependentHandle = -1;
  }
  if (GetDrawTarget() == header->handle) SetDrawTarget(DRAW_TARGET_FRONT_SCREEN);
  ForgetDrawTargetGraph(header->handle);
  ForgetDestinationBlendGraph(header->handle);
  if (IsValidMemImg(&record->softImage)) ReleaseMemImg(&record->softImage);
  if (record->image != nullptr) {
    if (--record->image->refCount <= 0) FreeDescriptor(record->image);
    record->image = nullptr;
  }
  if (record->ownedBlock1 != nullptr) MemFree(record->ownedBlock1);
  if (record->ownedBlock2 != nullptr) MemFree(record->ownedBlock2);
  record->ownedBlock1 = record->ownedBlock2 = nullptr;
  ReleaseGraphSourceBlock(static_cast<GraphSourceBlock*>(record->sourceBlock));
  record->sourceBlock = nullptr;
  if (record->lostFlag != nullptr) *record->lostFlag = 1;
  return 0;
}

int ConvertAllGraphsToMemImg() {
  HandleManager& manager = HandleManagers[HANDLETYPE_GRAPH];
  if (!manager.initialized) return 0;
  int result = 0;
  // Each shared descriptor once (the first graphic that shows it), then
  // every graphic's view of it.
  for (int slot = manager.lowestSlot; slot <= manager.highestSlot && slot < manager.maxCount; slot++) {
    GraphicHandleRecord* record = reinterpret_cast<GraphicHandleRecord*>(manager.slots[slot]);
    if (record == nullptr || record->image == nullptr || !record->image->format.textureBacked) continue;
    GraphImageDescriptor* image = record->image;
    ReleaseImageTextures(image);
    // The format a software-mode graphic of these switches has.
    GraphFormatDesc& format = image->format;
    format.textureBacked = format.dxt = format.channelCount = format.floatFlag = 0;
    format.cube = format.managed = format.alphaTest = format.mipCount = 0;
    format.multiSampleType = format.multiSampleQuality = 0;
    format.systemMemory = 1;
    format.drawable = !format.blend;
    if (format.colorBits != 16 && format.colorBits != 32) format.colorBits = 32;
    image->hasDepthSurface = 0;
    image->textureCount = 0;
    if (CreateDescriptorMemImg(image) < 0) result = -1;
  }
  for (int slot = manager.lowestSlot; slot <= manager.highestSlot && slot < manager.maxCount; slot++) {
    GraphicHandleRecord* record = reinterpret_cast<GraphicHandleRecord*>(manager.slots[slot]);
    if (record == nullptr || record->image == nullptr || IsValidMemImg(&record->softImage)) continue;
    if (!IsValidMemImg(&record->image->softImage) || BuildGraphDrawInfo(record->header.handle, 0) < 0) result = -1;
  }
  return result;
}

void DeleteInternalGraphs() {
  HandleManager& manager = HandleManagers[HANDLETYPE_GRAPH];
  if (!manager.initialized) return;
  for (int slot = 0; slot < manager.maxCount; slot++) {
    GraphicHandleRecord* record = reinterpret_cast<GraphicHandleRecord*>(manager.slots[slot]);
    if (record != nullptr && record->internalFlag && record->image != nullptr) DeleteHandle(record->header.handle);
  }
}

int SelectPixelFormatIndex(const GraphFormatDesc* d) {
  if (d->dxt >= 1 && d->dxt <= 5) return 5 + d->dxt;
  const int bpc = d->bitsPerChannel;
  if (d->channelCount == 1) {
    if (d->floatFlag) return (bpc != 0 ? bpc : d->colorBits) >= 32 ? 20 : 19;
    return (bpc != 0 ? bpc : d->colorBits) >= 16 ? 18 : 17;
  }
  if (d->channelCount == 2) {
    if (d->floatFlag) return (bpc != 0 ? bpc >= 32 : d->colorBits >= 64) ? 24 : 23;
    return (bpc != 0 ? bpc >= 16 : d->colorBits >= 32) ? 22 : 21;
  }
  if (d->floatFlag) return (bpc != 0 ? bpc >= 32 : d->colorBits >= 128) ? 16 : 15;
  if (bpc >= 9) return 14;
  const int deep = d->colorBits != 16 ? 1 : 0;
  if (d->drawable) return d->alpha || d->alphaTest ? 13 : 11 + deep;
  if (d->alpha) return 2 + deep;
  if (d->alphaTest) return 4 + deep;
  return deep;
}

const ColorFormatRecord* GetColorFormatForPixelFormat(int index) {
  if (index < 0 || index > 24) return nullptr;
  BuildPixelFormats();
  return &PixelFormats[index];
}

const ColorFormatRecord* GetPixelFormatDescriptor(int d3dFormat) {
  if (!D3DFormatsBuilt) {
    for (int i = 0; i < 25; i++) {
      const D3DFormatEntry& e = D3DFormatEntries[i];
      MakeColorFormatFromMasks(&D3DFormats[i], e.bits, e.r, e.g, e.b, e.a, e.channels, e.channelBits, e.floatFlag);
    }
    D3DFormatsBuilt = 1;
  }
  for (int i = 0; i < 25; i++)
    if (D3DFormatEntries[i].code == d3dFormat) return &D3DFormats[i];
  return nullptr;
}

const ColorFormatRecord* GetColorFormatForTextureDesc(int alpha, int alphaTest, int use32Bit, int drawable) {
  GraphFormatDesc desc;
  memset(&desc, 0, sizeof desc);
  desc.alpha = alpha != 0;
  desc.alphaTest = alphaTest != 0;
  desc.drawable = drawable != 0;
  desc.colorBits = use32Bit ? 32 : 16;
  return GetColorFormatForPixelFormat(SelectPixelFormatIndex(&desc));
}

int GetDeviceFormatForPixelFormat(int index) {
  const DeviceFormatTable& t = DeviceFormats;
  const int table[25] = {t.color16,     t.color32,     t.alpha16,  t.alpha32,       t.alphaTest16,
                         t.alphaTest32, t.dxt[0],      t.dxt[1],   t.dxt[2],        t.dxt[3],
                         t.dxt[4],      t.target16,    t.target32, t.targetAlpha32, t.abgrInt16,
                         t.abgrFloat16, t.abgrFloat32, t.oneInt8,  t.oneInt16,      t.oneFloat16,
                         t.oneFloat32,  t.twoInt8,     t.twoInt16, t.twoFloat16,    t.twoFloat32};
  return index >= 0 && index < 25 ? table[index] : 0;
}

int ReleaseImageTextures(GraphImageDescriptor* image) {
  if (image == nullptr || !image->format.textureBacked) return 0;
  for (int i = 0; i < image->textureCount; i++) {
    GraphTextureEntry& e = image->textures[i];
    for (int f = 0; f < 6; f++)
      if (e.faces[f] != nullptr) {
        ReleaseComObject(e.faces[f]);
        e.faces[f] = nullptr;
      }
    if (e.multiSampleSurface != nullptr) ReleaseComObject(e.multiSampleSurface);
    if (e.writeOnlySurface != nullptr) ReleaseComObject(e.writeOnlySurface);
    if (e.texture != nullptr) ReleaseComObject(e.texture);
    if (e.systemTexture != nullptr) ReleaseComObject(e.systemTexture);
    e.multiSampleSurface = e.writeOnlySurface = nullptr;
    e.texture = e.systemTexture = nullptr;
  }
  return 0;
}

MEMIMG* GetGraphicMemImg(GraphicHandleRecord* record) {
  return record != nullptr && IsValidMemImg(&record->softImage) ? &record->softImage : nullptr;
}

void BuildGraphFormatDesc(GraphFormatDesc* out, const GraphCreateSettings* s, const GraphImageShape& shape) {
  const int width = shape.width, height = shape.height, hasAlpha = shape.hasAlpha, palette8 = shape.palette8;
  const int dxtCode = shape.dxtCode, mipCount = shape.mipCount;
  memset(out, 0, sizeof *out);
  out->textureBacked = DeviceLayer.hardware ? 1 : 0;
  out->cube = s->cube != 0;
  out->managed = s->notManaged == 0;
  out->dxt = static_cast<uint8_t>(dxtCode);
  int mips = mipCount;
  if (mips == -1 || mips == 0) {
    if (s->mipCount == -1) {
      mips = 1;
      for (int w = width, h = height; w > 1 || h > 1; mips++) {
        w = w > 1 ? w / 2 : 1;
        h = h > 1 ? h / 2 : 1;
      }
    } else {
      mips = s->mipCount == 0 ? 1 : (s->mipCount & 255);
    }
  }
  out->mipCount = static_cast<uint8_t>(mips);
  if (s->drawable == 1) {
    out->drawable = 1;
    out->alpha = s->drawableAlpha != 0;
    out->managed = 0;
    out->mipCount = 1;
    out->multiSampleType = static_cast<uint8_t>(s->multiSampleType);
    out->multiSampleQuality = static_cast<uint8_t>(s->multiSampleQuality);
  } else {
    out->alpha = hasAlpha != 0;
    out->alphaTest = s->alphaTest != 0;
    out->blend = s->blend != 0;
  }
  const int screenBits = Screen.colorBits != 0 ? Screen.colorBits : 16;
  if (!DeviceLayer.hardware) {
    out->dxt = 0;
    out->systemMemory = 1;
    out->colorBits = static_cast<uint8_t>(s->colorBits != 0 ? s->colorBits : screenBits);
    out->channelCount = 0;
    out->drawable = !out->blend;
    out->palette8 = palette8 != 0;
    out->cube = out->managed = out->alphaTest = 0;
    out->mipCount = 0;
    return;
  }
  out->colorBits = static_cast<uint8_t>(s->colorBits != 0 ? s->colorBits : hasAlpha ? 32 : screenBits);
  if (out->alpha) out->alphaTest = 0;
  if (out->drawable && s->channelCount != 0) {
    out->channelCount = static_cast<uint8_t>(s->channelCount);
    out->bitsPerChannel = static_cast<uint8_t>(s->bitsPerChannel);
    out->floatFlag = s->floatFlag != 0;
  }
  if (out->blend) {
    out->drawable = 0;
    out->alphaTest = 0;
    out->colorBits = 32;
    out->alpha = 1;
  }
}

int CreateImageTextures(GraphImageDescriptor* image, int inJob) {
  if (image == nullptr || image->textureCount == 0) return 0;
  if (!HasDirect3DDevice()) return -1;
  const int format = GetDeviceFormatForPixelFormat(image->pixelFormat);
  if (format == 0) {
    LogPrintf(LOG_NO_TEXTURE_FORMAT);
    return -1;
  }
  if (HasDirect3D9Ex()) image->format.managed = 0;
  for (int i = 0; i < image->textureCount; i++) {
    GraphTextureEntry& e = image->textures[i];
    const int drawable = image->format.drawable;
    const int managed = image->format.managed && !drawable;
    const bool cube = image->format.cube != 0;
    if (drawable && !cube && MakeTargetSurfaces(image, e, static_cast<D3DFORMAT>(format), inJob) < 0) return -1;
    if (e.texture == nullptr) {
      DeviceTextureDesc texture = {};
      texture.width = static_cast<UINT>(e.allocWidth), texture.height = static_cast<UINT>(e.allocHeight);
      texture.levels = static_cast<UINT>(image->mipCount);
      texture.usage = static_cast<DWORD>(drawable ? D3DUSAGE_RENDERTARGET : 0);
      texture.format = static_cast<D3DFORMAT>(format);
      texture.pool = managed ? D3DPOOL_MANAGED : D3DPOOL_DEFAULT;
      HRESULT hr = MakeTexture(cube, texture, &e.texture, inJob);
      if (hr != D3D_OK || e.texture == nullptr) {
        e.texture = nullptr;
        LogPrintf(cube ? LOG_CUBE_TEXTURE_FAILED : LOG_TEXTURE_FAILED);
        return -1;
      }
    }
    if (!drawable && !managed && e.systemTexture == nullptr) {
      const DeviceTextureDesc texture = {static_cast<UINT>(e.allocWidth),    static_cast<UINT>(e.allocHeight),
                                         static_cast<UINT>(image->mipCount), D3DUSAGE_DYNAMIC,
                                         static_cast<D3DFORMAT>(format),     D3DPOOL_SYSTEMMEM};
      HRESULT hr = MakeTexture(cube, texture, &e.systemTexture, inJob);
      if (hr != D3D_OK || e.systemTexture == nullptr) {
        e.systemTexture = nullptr;
        LogPrintf(LOG_MEMORY_TEXTURE_FAILED);
        ReleaseComObject(e.texture);
        e.texture = nullptr;
        return -1;
      }
    }
    const int faces = cube ? 6 : 1;
    for (int f = 0; f < faces; f++) {
      if (e.faces[f] != nullptr) continue;
      const HRESULT hr = cube ? GetCubeTextureSurfaceOnMainThread(AsCube(e.texture), static_cast<D3DCUBEMAP_FACES>(f),
                                                                  0, &e.faces[f], inJob)
                              : GetTextureSurfaceLevelOnMainThread(e.texture, 0, &e.faces[f], inJob);
      if (hr != D3D_OK || e.faces[f] == nullptr) {
        e.faces[f] = nullptr;
        LogPrintf(cube ? LOG_CUBE_SURFACE_FAILED : LOG_TEXTURE_SURFACE_FAILED);
        return -1;
      }
      if (drawable) ColorFillDeviceSurfaceOnMainThread(e.faces[f], nullptr, 0, inJob);
    }
  }
  return 0;
}

int LayOutGraphTextures(int width, int height, int limit, int squareOnly, GraphTextureEntry* entries) {
  uint16_t across[MAX_TEXTURES_PER_SIDE], down[MAX_TEXTURES_PER_SIDE];
  const int countX = DivideSizeIntoTextureSizes(width, limit, nullptr, 1, GRAPH_TEXTURE_POW2);
  const int countY = DivideSizeIntoTextureSizes(height, limit, nullptr, 1, GRAPH_TEXTURE_POW2);
  if (width <= 0 || height <= 0 || countX > MAX_TEXTURES_PER_SIDE || countY > MAX_TEXTURES_PER_SIDE) return -1;
  DivideSizeIntoTextureSizes(width, limit, across, 1, GRAPH_TEXTURE_POW2);
  DivideSizeIntoTextureSizes(height, limit, down, 1, GRAPH_TEXTURE_POW2);
  int count = 0;
  for (int row = 0, y = 0; row < countY; y += down[row++]) {
    for (int column = 0, x = 0; column < countX; x += across[column++]) {
      // A square-only device gets the texture as squares of its shorter
      // side, laid along the longer one; squares past the image are left out.
      int side = 0, stepX = 0, stepY = 0, pieces = 1;
      int w = across[column], h = down[row];
      if (squareOnly && w != h) {
        side = w < h ? w : h;
        stepX = w > h ? side : 0;
        stepY = h > w ? side : 0;
        pieces = (w > h ? w : h) / side;
        w = h = side;
      }
      for (int k = 0; k < pieces; k++) {
        const int px = x + k * stepX, py = y + k * stepY;
        if (px >= width || py >= height) break;
        if (entries != nullptr) {
          GraphTextureEntry& e = entries[count];
          e.x = px;
          e.y = py;
          e.allocWidth = w;
          e.allocHeight = h;
          e.usedWidth = width - px < w ? width - px : w;
          e.usedHeight = height - py < h ? height - py : h;
        }
        count++;
      }
    }
  }
  return count;
}

int CreateGraphicFromImageData(const GraphCreateSettings* settings, int handle, const GraphImageShape& shape,
                               int inJob) {
  const int width = shape.width, height = shape.height;
  GraphicHandleRecord* record = GetGraphicRecord(handle, 1);
  if (record == nullptr || width <= 0 || height <= 0) {
    DeleteHandle(handle);
    return -1;
  }
  if (!Screen.graphicsUp || (DeviceLayer.hardware && !HasDirect3DDevice())) {
    DeleteHandle(handle);
    return -1;
  }
  GraphFormatDesc desc;
  BuildGraphFormatDesc(&desc, settings, shape);
  if (!DeviceLayer.hardware) {
    GraphImageDescriptor* image = CreateSoftwareDescriptor(desc, settings, width, height);
    if (image == nullptr) {
      DeleteHandle(handle);
      return -1;
    }
    if (record->image != nullptr && --record->image->refCount <= 0) FreeDescriptor(record->image);
    record->image = image;
    record->width = width;
    record->height = height;
    record->x = record->y = 0;
    if (BuildGraphDrawInfo(handle, inJob) < 0) {
      DeleteHandle(handle);
      return -1;
    }
    return 0;
  }
  int limit = settings->maxTextureSide;
  int deviceMax = DeviceCaps.maxTextureWidth < DeviceCaps.maxTextureHeight ? DeviceCaps.maxTextureWidth
                                                                           : DeviceCaps.maxTextureHeight;
  if (deviceMax <= 0) deviceMax = 2048;
  if (limit <= 0 || limit > deviceMax) limit = deviceMax;
  const int textures = LayOutGraphTextures(width, height, limit, DeviceCaps.squareOnly, nullptr);
  if (textures < 1) {
    DeleteHandle(handle);
    return -1;
  }
  GraphImageDescriptor* image = AllocDescriptor(desc, settings, width, height, textures);
  if (image == nullptr) {
    DeleteHandle(handle);
    return -1;
  }
  image->mipCount = image->pixelFormat >= 6 && image->pixelFormat <= 10 ? 1 : (desc.mipCount > 0 ? desc.mipCount : 1);
  image->textureCount = textures;
  if (desc.drawable && settings->noDepth == 0) {
    image->hasDepthSurface = 1;
    image->depthFormat = settings->depthBits == 24 ? 1 : settings->depthBits == 32 ? 2 : 0;
  }
  LayOutGraphTextures(width, height, limit, DeviceCaps.squareOnly, image->textures);
  if (record->image != nullptr && --record->image->refCount <= 0) FreeDescriptor(record->image);
  record->image = image;
  record->width = width;
  record->height = height;
  record->x = record->y = 0;
  if (CreateImageTextures(image, inJob) < 0 || BuildGraphDrawInfo(handle, inJob) < 0) {
    DeleteHandle(handle);
    return -1;
  }
  return 0;
}

int BuildGraphDrawInfo(int handle, int) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, 1);
  if (record == nullptr || record->image == nullptr) return -1;
  GraphImageDescriptor* image = record->image;
  if (!image->format.textureBacked) {
    if (IsValidMemImg(&record->softImage)) ReleaseMemImg(&record->softImage);
    CreateSubMemImg(&record->softImage, &image->softImage, record->x, record->y, record->width, record->height);
    record->pieceCount = 0;
    return IsValidMemImg(&record->softImage) ? 0 : -1;
  }
  const int left = record->x, top = record->y, right = left + record->width, bottom = top + record->height;
  int count = 0;
  for (int i = 0; i < image->textureCount; i++) {
    const GraphTextureEntry& e = image->textures[i];
    if (e.x < right && e.x + e.usedWidth > left && e.y < bottom && e.y + e.usedHeight > top) count++;
  }
  if (count > GRAPH_RECORD_PIECES) {
    const int size = static_cast<int>(sizeof(GraphicHandleRecord) + (count - GRAPH_RECORD_PIECES) * sizeof(GraphPiece));
    if (ResizeHandleRecord(handle, size) < 0) {
      LogPrintf(LOG_DRAW_INFO_MEMORY_FAILED);
      return -1;
    }
    record = GetGraphicRecord(handle, 1);
  }
  record->pieceCount = 0;
  for (int i = 0; i < image->textureCount; i++) {
    GraphTextureEntry& e = image->textures[i];
    const int x0 = e.x > left ? e.x : left, y0 = e.y > top ? e.y : top;
    const int x1 = e.x + e.usedWidth < right ? e.x + e.usedWidth : right;
    const int y1 = e.y + e.usedHeight < bottom ? e.y + e.usedHeight : bottom;
    if (x0 >= x1 || y0 >= y1) continue;
    GraphPiece& p = record->pieces[record->pieceCount++];
    p.x = x0 - left;
    p.y = y0 - top;
    p.texX = x0 - e.x;
    p.texY = y0 - e.y;
    p.width = x1 - x0;
    p.height = y1 - y0;
    const float u0 = static_cast<float>(p.texX) / e.allocWidth, v0 = static_cast<float>(p.texY) / e.allocHeight;
    const float u1 = static_cast<float>(p.texX + p.width) / e.allocWidth;
    const float v1 = static_cast<float>(p.texY + p.height) / e.allocHeight;
    const float gx0 = static_cast<float>(p.x), gy0 = static_cast<float>(p.y);
    const float gx1 = static_cast<float>(p.x + p.width), gy1 = static_cast<float>(p.y + p.height);
    const float corners[16] = {gx0, gy0, u0, v0, gx1, gy0, u1, v0, gx0, gy1, u0, v1, gx1, gy1, u1, v1};
    memcpy(p.corners, corners, sizeof corners);
    p.reserved = 0;
    p.entry = &e;
  }
  return 0;
}

int MakeDerivedGraph(int dst, int src, int x, int y, int width, int height, int inJob) {
  GraphicHandleRecord* source = GetGraphicRecord(src, 1);
  GraphicHandleRecord* record = GetGraphicRecord(dst, 1);
  if (source == nullptr || record == nullptr || source->image == nullptr) return -1;
  source->image->refCount++;
  if (record->image != nullptr && --record->image->refCount <= 0) FreeDescriptor(record->image);
  record->image = source->image;
  record->sourceX = source->sourceX + x;
  record->sourceY = source->sourceY + y;
  record->x = source->x + x;
  record->y = source->y + y;
  record->width = width;
  record->height = height;
  return BuildGraphDrawInfo(dst, inJob);
}

namespace {

// Levels 1 and up of a texture made again from level 0, each the previous
// one halved (power-of-two sides). 0 / -1.
// base: level 0 of the texture or cube face, width x height.
int BuildMipChain(const TextureLevel& base, int levels, const ColorFormatRecord* format, int width, int height,
                  int inJob) {
  D3DLOCKED_RECT previous;
  const char* failed = base.cube ? LOG_CUBE_MIP_LOCK_FAILED : LOG_MIP_LOCK_FAILED;
  if (LockLevel(base, &previous, nullptr, D3DLOCK_READONLY, inJob) != D3D_OK) {
    LogPrintf(failed);
    return -1;
  }
  TextureLevel held = base;
  int result = 0;
  for (int level = 1; level < levels; level++) {
    TextureLevel at = base;
    at.level = level;
    D3DLOCKED_RECT next;
    if (LockLevel(at, &next, nullptr, 0, inJob) != D3D_OK) {
      LogPrintf(failed);
      result = -1;
      break;
    }
    HalveImageForMipLevel(format, next.pBits, next.Pitch, previous.pBits, previous.Pitch, 0, 0, 0, 0, width, height);
    UnlockLevel(held, inJob);
    previous = next;
    held = at;
    width = width > 1 ? width / 2 : 1;
    height = height > 1 ? height / 2 : 1;
  }
  UnlockLevel(held, inJob);
  return result;
}

// Whole level 0 of a block-compressed texture from an image of the same
// block format (rows of 4 x 4 blocks, 8 bytes each for DXT1, else 16); a
// system-memory texture is then sent on to the entry's texture. 0 / -1.
int CopyBlocks(IDirect3DTexture9* target, int kind, const BaseImageRecord* src, int w, int h, GraphTextureEntry* sent,
               int inJob) {
  D3DLOCKED_RECT locked;
  if (LockTextureRectOnMainThread(target, 0, &locked, nullptr, 0, inJob) != D3D_OK) {
    LogPrintf(LOG_TEXTURE_LOCK_FAILED);
    return -1;
  }
  const int rowBytes = (w + 3) / 4 * (kind == 1 ? 8 : 16);
  const int sourcePitch = src->pitch >= rowBytes ? src->pitch : rowBytes;
  for (int row = 0; row < (h + 3) / 4; row++)
    memcpy(static_cast<unsigned char*>(locked.pBits) + row * locked.Pitch,
           static_cast<const unsigned char*>(src->pixels) + row * sourcePitch, rowBytes);
  UnlockTextureRectOnMainThread(target, 0, inJob);
  if (sent != nullptr && UpdateDeviceTextureOnMainThread(sent->systemTexture, sent->texture, inJob) != D3D_OK)
    return -1;
  return 0;
}

// Face k of a cube image (its own mip chain follows it); any other image as is.
BaseImageRecord FaceOf(const BaseImageRecord* image, int face) {
  BaseImageRecord view = *image;
  if (image->cubeFlag > 0 && face > 0) {
    view.pixels = static_cast<unsigned char*>(image->pixels) + face * GetBaseImageDataSize(image);
  }
  view.cubeFlag = 0;
  return view;
}

// One rectangle for a texture piece: source rectangle (sx, sy, w, h) of the
// image (alpha image optional) to (tx, ty) of the texture, keyed with
// applyKey.
struct PieceWrite {
  const BaseImageRecord* src;
  const BaseImageRecord* alpha;
  int sx, sy, w, h;
  int tx, ty;
  int applyKey;
};

// Writes the rectangle into the piece's texture; a rectangle ending one
// texel short of a larger texture's right or bottom edge (or anywhere inside
// it) repeats its last column / row.
int WritePieceRect(GraphImageDescriptor* image, GraphTextureEntry& e, const PieceWrite& piece, int inJob) {
  const BaseImageRecord* src = piece.src;
  const BaseImageRecord* alpha = piece.alpha;
  const int sx = piece.sx, sy = piece.sy, w = piece.w, h = piece.h, tx = piece.tx, ty = piece.ty;
  const int applyKey = piece.applyKey;
  const ColorFormatRecord* format = GetColorFormatForPixelFormat(image->pixelFormat);
  const int extendX = tx + w < e.allocWidth ? 1 : 0;
  const int extendY = ty + h < e.allocHeight ? 1 : 0;
  IDirect3DTexture9* target = image->format.managed ? e.texture : e.systemTexture;
  const bool cube = image->format.cube != 0;
  if (format->kind != 0) {
    // Blocks go in as they are, only whole textures of the same block format.
    if (src->format.kind != format->kind || sx != 0 || sy != 0 || tx != 0 || ty != 0 || w != e.allocWidth ||
        h != e.allocHeight || cube) {
      LogPrintf(LOG_DXT_TRANSFER);
      return 0;
    }
    return CopyBlocks(target, format->kind, src, w, h, image->format.managed ? nullptr : &e, inJob);
  }
  if (target == nullptr) {
    // A render target in the default pool has no lockable texture.
    LogPrintf(LOG_TEXTURE_LOCK_FAILED);
    return -1;
  }
  const RECT lock = {tx, ty, tx + w + extendX, ty + h + extendY};
  const RECT rect = {sx, sy, sx + w, sy + h};
  const int key = applyKey && format->alphaWidth != 0 && alpha == nullptr;
  const int bytes = format->bytesPerPixel;
  for (int face = 0; face < (cube ? 6 : 1); face++) {
    const TextureLevel level0 = {target, cube, face, 0};
    D3DLOCKED_RECT locked;
    if (LockLevel(level0, &locked, &lock, 0, inJob) != D3D_OK) {
      LogPrintf(LOG_TEXTURE_LOCK_FAILED);
      return -1;
    }
    const BaseImageRecord from = FaceOf(src, face);
    const BaseImageRecord fromAlpha = alpha != nullptr ? FaceOf(alpha, face) : BaseImageRecord{};
    ConvertColorBlt(locked.pBits, locked.Pitch, format, from.pixels, from.pitch, &from.format,
                    alpha != nullptr ? fromAlpha.pixels : nullptr, alpha != nullptr ? fromAlpha.pitch : 0,
                    alpha != nullptr ? &fromAlpha.format : nullptr, 0, 0, &rect, 0, key, image->transparentColor,
                    BLT_REDUCE_NONE, 0, 0, 0, 0);
    unsigned char* bits = static_cast<unsigned char*>(locked.pBits);
    if (extendX)
      for (int row = 0; row < h; row++) {
        unsigned char* line = bits + row * locked.Pitch;
        memcpy(line + w * bytes, line + (w - 1) * bytes, bytes);
      }
    if (extendY) memcpy(bits + h * locked.Pitch, bits + (h - 1) * locked.Pitch, (w + extendX) * bytes);
    UnlockLevel(level0, inJob);
    if (image->mipCount >= 2 && BuildMipChain(level0, image->mipCount, format, e.allocWidth, e.allocHeight, inJob) < 0)
      return -1;
  }
  if (!image->format.managed && UpdateDeviceTextureOnMainThread(e.systemTexture, e.texture, inJob) != D3D_OK) return -1;
  return 0;
}

// Software mode: the rectangle written into the descriptor's memory image
// at (left, top) of the shared image, clipped to the graphic (or to the
// whole image); a palette image then takes as transparent index the first
// palette entry equal to the transparent colour, else none.
// dest: the destination rectangle in the shared image.
void WriteSoftwareRect(GraphicHandleRecord* record, const BaseImageRecord* color, const BaseImageRecord* alpha,
                       const RECT* src, const RECT& dest, int wholeDescriptor) {
  const int left = dest.left, top = dest.top, w = dest.right - dest.left, h = dest.bottom - dest.top;
  GraphImageDescriptor* desc = record->image;
  MEMIMG* target = &desc->softImage;
  const RECT area = wholeDescriptor ? RECT{0, 0, desc->width, desc->height}
                                    : RECT{record->x, record->y, record->x + record->width, record->y + record->height};
  const int x0 = left > area.left ? left : area.left, y0 = top > area.top ? top : area.top;
  const int x1 = left + w < area.right ? left + w : area.right, y1 = top + h < area.bottom ? top + h : area.bottom;
  if (x0 >= x1 || y0 >= y1 || !IsValidMemImg(target)) return;
  WriteBaseImageToMemImg(color, alpha, target, {src->left + x0 - left, src->top + y0 - top, x1 - x0, y1 - y0, x0, y0},
                         0);
  MemImgHeader* header = target->header;
  if (!header->palettised) return;
  const uint32_t key = SoftwareKeyValue(desc->transparentColor, header->colorType);
  header->transparentColor = 0xffffffffu;
  for (int i = 0; i < 256; i++) {
    uint32_t entry = 0;
    if (header->colorType == MEMIMG_COLOR_16) {
      uint16_t word;
      memcpy(&word, header->palette + 2 * i, 2);
      entry = word;
    } else {
      memcpy(&entry, header->palette + 4 * i, 4);
      entry &= 0xffffff;
    }
    if (entry == key) {
      header->transparentColor = static_cast<uint32_t>(i);
      break;
    }
  }
}

}  // namespace

int TransferImageToGraphTexture(const GraphTransfer& transfer, int inJob) {
  const BaseImageRecord* image = transfer.image;
  const BaseImageRecord* alphaImage = transfer.alphaImage;
  const RECT* src = transfer.src;
  const int handle = transfer.handle, destX = transfer.destX, destY = transfer.destY;
  const int applyTransparent = transfer.applyTransparent, wholeDescriptor = transfer.wholeDescriptor;
  GraphicHandleRecord* record = GetGraphicRecord(handle, 1);
  if (record == nullptr || record->image == nullptr || src == nullptr || image == nullptr) return -1;
  const bool software = !record->image->format.textureBacked;
  if (software ? !Screen.graphicsUp : !GraphicsReady()) return -1;
  const int w = src->right - src->left, h = src->bottom - src->top;
  if (w <= 0 || h <= 0) return 0;
  if ((image->cubeFlag > 0) != (record->image->format.cube != 0)) return -1;
  FlushVertexBatch(1);
  BaseImageRecord expanded, expandedAlpha;
  const BaseImageRecord* color = image;
  const BaseImageRecord* alpha = alphaImage != nullptr && alphaImage->pixels != nullptr ? alphaImage : nullptr;
  int expandedColor = 0, expandedAlphaMade = 0, result = 0;
  if (color->format.kind != 0) {
    const ColorFormatRecord* target = GetColorFormatForPixelFormat(record->image->pixelFormat);
    if (target->kind != color->format.kind) {
      expanded = *color;
      if (ExpandCompressedBaseImage(&expanded) < 0) {
        LogPrintf(LOG_STANDARD_IMAGE_MEMORY_FAILED);
        return -1;
      }
      color = &expanded;
      expandedColor = 1;
    }
  }
  if (alpha != nullptr && alpha->format.kind != 0) {
    expandedAlpha = *alpha;
    if (ExpandCompressedBaseImage(&expandedAlpha) < 0) {
      if (expandedColor) ReleaseBaseImage(&expanded);
      LogPrintf(LOG_STANDARD_IMAGE_MEMORY_FAILED);
      return -1;
    }
    alpha = &expandedAlpha;
    expandedAlphaMade = 1;
  }
  GraphImageDescriptor* desc = record->image;
  // Destination rectangle in the shared image.
  const int left = (wholeDescriptor ? 0 : record->x) + destX, top = (wholeDescriptor ? 0 : record->y) + destY;
  if (software) WriteSoftwareRect(record, color, alpha, src, RECT{left, top, left + w, top + h}, wholeDescriptor);
  for (int i = 0; i < desc->textureCount && result == 0; i++) {
    GraphTextureEntry& e = desc->textures[i];
    int x0 = e.x > left ? e.x : left, y0 = e.y > top ? e.y : top;
    int x1 = e.x + e.usedWidth < left + w ? e.x + e.usedWidth : left + w;
    int y1 = e.y + e.usedHeight < top + h ? e.y + e.usedHeight : top + h;
    if (!wholeDescriptor) {
      // Only the graphic's own rectangle.
      x0 = x0 > record->x ? x0 : record->x;
      y0 = y0 > record->y ? y0 : record->y;
      x1 = x1 < record->x + record->width ? x1 : record->x + record->width;
      y1 = y1 < record->y + record->height ? y1 : record->y + record->height;
    }
    if (x0 >= x1 || y0 >= y1) continue;
    const PieceWrite piece = {color,    alpha,    src->left + x0 - left, src->top + y0 - top, x1 - x0, y1 - y0,
                              x0 - e.x, y0 - e.y, applyTransparent};
    result = WritePieceRect(desc, e, piece, inJob);
  }
  if (expandedColor) ReleaseBaseImage(&expanded);
  if (expandedAlphaMade) ReleaseBaseImage(&expandedAlpha);
  return result;
}
