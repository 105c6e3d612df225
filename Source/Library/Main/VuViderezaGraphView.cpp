// Graphic views, screen copies and read-back: views of a rectangle of a
// graphic, copies from the draw target or the back buffer into a graphic
// (StretchRect into a render target, else read back and transferred), the
// read-back of a texture or the back buffer (locked in place, or through a
// render target and a system-memory surface), a graphic read into a base
// image piece by piece, a rectangle of a graphic drawn stretched through a
// temporary view, the cached work render targets, the destination blend
// set-up and multi-sample resolution.
// Threads: main thread only. Platform: Direct3D 9 surfaces through the
// device call table (StretchRect, GetRenderTargetData, LockRect).
#include "VuViderezaGraphView.h"

#include <string.h>

#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VuViderezaRebuild.h"
#include "VuViderezaRenderState.h"

namespace {

const char LOG_TARGET_SURFACE_FAILED[] = "バックバッファロック用描画可能サーフェスの作成に失敗しました";
const char LOG_SYSTEM_SURFACE_FAILED[] = "バックバッファロック用システムメモリサーフェスの作成に失敗しました";
const char LOG_WORK_TARGET_FAILED[] = "作業用描画可能テクスチャの作成に失敗しました Size:%dx%d";

}  // namespace

DestinationBlendSetup DestinationBlend;

namespace {

struct ReadBackState {
  IDirect3DSurface9* lockedSurface;
  IDirect3DTexture9* lockedTexture;   // a texture locked at level 0 instead
  IDirect3DCubeTexture9* lockedCube;  // or a cube face at level 0
  int lockedFace;
  IDirect3DSurface9* temporary;  // system-memory copy made for the read-back
  int inReadBack;
};
ReadBackState ReadBack;

int WorkTargets[WORK_TARGET_CACHE_SIZE];

// A live texture-backed graphic's texture entry of that index, else null.
GraphTextureEntry* EntryOf(GraphicHandleRecord* record, int textureIndex) {
  if (record == nullptr || record->image == nullptr || !record->image->format.textureBacked) return nullptr;
  if (textureIndex < 0 || textureIndex >= record->image->textureCount) return nullptr;
  return &record->image->textures[textureIndex];
}

IDirect3DSurface9* ScreenSurface() {
  return DeviceLayer.subBackBuffer != nullptr ? DeviceLayer.subBackBuffer : DeviceLayer.backBuffer;
}

bool RectInside(const RECT* r, int width, int height) {
  return r->left >= 0 && r->top >= 0 && r->left < r->right && r->top < r->bottom && r->right <= width &&
         r->bottom <= height;
}

// Copies rect of a render-target surface into a new system-memory surface
// of the rectangle's size through a render target. Null on failure.
IDirect3DSurface9* CopyOutThroughTarget(IDirect3DSurface9* source, D3DFORMAT format, const RECT* rect) {
  const UINT w = static_cast<UINT>(rect->right - rect->left), h = static_cast<UINT>(rect->bottom - rect->top);
  IDirect3DSurface9* target = nullptr;
  if (CreateDeviceRenderTarget(w, h, format, D3DMULTISAMPLE_NONE, 0, FALSE, &target, nullptr) != D3D_OK ||
      target == nullptr) {
    LogPrintf(LOG_TARGET_SURFACE_FAILED);
    return nullptr;
  }
  IDirect3DSurface9* system = nullptr;
  if (CreateDeviceOffscreenPlainSurface(w, h, format, D3DPOOL_SYSTEMMEM, &system, nullptr) != D3D_OK ||
      system == nullptr) {
    LogPrintf(LOG_SYSTEM_SURFACE_FAILED);
    ReleaseComObject(target);
    return nullptr;
  }
  const RECT whole = {0, 0, static_cast<LONG>(w), static_cast<LONG>(h)};
  if (StretchDeviceRect(source, rect, target, &whole, D3DTEXF_NONE) != D3D_OK ||
      GetDeviceRenderTargetData(target, system) != D3D_OK) {
    ReleaseComObject(target);
    ReleaseComObject(system);
    return nullptr;
  }
  ReleaseComObject(target);
  return system;
}

// The memory image a software read-back or copy works on: a graphic's own
// view, else the software screen (-1 or a screen value). Null for anything else.
MEMIMG* SoftwareImageOf(int source) {
  if (source == -1) source = GetDrawTarget();
  GraphicHandleRecord* record = GetGraphicRecord(source, 0);
  if (record != nullptr)
    return record->image != nullptr && IsValidMemImg(&record->softImage) ? &record->softImage : nullptr;
  if (source < -5 || source > -2) return nullptr;
  return IsValidMemImg(&SoftwareScreenImage) ? &SoftwareScreenImage : nullptr;
}

int ReadBackSoftwarePixels(const RECT* rect, BaseImageRecord* out, int source) {
  MEMIMG* image = SoftwareImageOf(source);
  if (image == nullptr || !RectInside(rect, image->width, image->height)) return -1;
  const MemImgHeader* header = image->header;
  memset(out, 0, sizeof *out);
  out->format = *header->colorFormat;
  out->width = rect->right - rect->left;
  out->height = rect->bottom - rect->top;
  out->pitch = header->pitch;
  out->pixels = image->pixels + rect->top * header->pitch + rect->left * header->colorFormat->bytesPerPixel;
  ReadBack.inReadBack = 1;
  return 0;
}

}  // namespace

int EndGraphicPixelReadBack() {
  if (!ReadBack.inReadBack) return 0;
  if (ReadBack.lockedCube != nullptr)
    UnlockCubeTextureRect(ReadBack.lockedCube, static_cast<D3DCUBEMAP_FACES>(ReadBack.lockedFace), 0);
  else if (ReadBack.lockedTexture != nullptr) UnlockTextureRect(ReadBack.lockedTexture, 0);
  else if (ReadBack.lockedSurface != nullptr) UnlockSurfaceRect(ReadBack.lockedSurface);
  if (ReadBack.temporary != nullptr) ReleaseComObject(ReadBack.temporary);
  memset(&ReadBack, 0, sizeof ReadBack);
  return 0;
}

int ReadBackGraphicPixels(const RECT* rect, BaseImageRecord* out, int source, int face, int readOnly,
                          int textureIndex) {
  if (rect == nullptr || out == nullptr || !Screen.graphicsUp) return -1;
  if (!DeviceLayer.hardware) return ReadBackSoftwarePixels(rect, out, source);
  if (!HasDirect3DDevice()) return -1;
  EndGraphicPixelReadBack();
  FlushVertexBatch(0);
  EndDrawScene();
  if (source == -1) {
    source = GetDrawTarget();
    if (face == -1) face = GetDrawTargetSurfaceIndex();
  }
  if (face < 0 || face > 5) face = 0;
  const DWORD lockFlags = readOnly ? D3DLOCK_READONLY : 0;
  D3DLOCKED_RECT locked;
  D3DFORMAT format;
  GraphicHandleRecord* record = GetGraphicRecord(source, 0);
  GraphTextureEntry* entry = EntryOf(record, textureIndex);
  if (entry != nullptr) {
    // Bounded by the texture itself, not by the screen.
    if (!RectInside(rect, entry->allocWidth, entry->allocHeight)) return -1;
    const GraphImageDescriptor* desc = record->image;
    format = static_cast<D3DFORMAT>(GetDeviceFormatForPixelFormat(desc->pixelFormat));
    IDirect3DTexture9* texture = desc->format.managed ? entry->texture : entry->systemTexture;
    if (!desc->format.drawable && desc->format.cube && texture != nullptr) {
      // A cube face locked in place; the face surface unlocks it.
      IDirect3DCubeTexture9* cube = reinterpret_cast<IDirect3DCubeTexture9*>(texture);
      if (LockCubeTextureRect(cube, static_cast<D3DCUBEMAP_FACES>(face), 0, &locked, rect, lockFlags) != D3D_OK)
        return -1;
      ReadBack.lockedCube = cube;
      ReadBack.lockedFace = face;
    } else if (!desc->format.drawable && texture != nullptr) {
      if (LockTextureRect(texture, 0, &locked, rect, lockFlags) != D3D_OK) return -1;
      ReadBack.lockedTexture = texture;
    } else {
      IDirect3DSurface9* surface = entry->multiSampleSurface != nullptr ? entry->multiSampleSurface
                                                                        : entry->faces[face];
      if (surface == nullptr) return -1;
      IDirect3DSurface9* system = CopyOutThroughTarget(surface, format, rect);
      if (system == nullptr) return -1;
      if (LockSurfaceRect(system, &locked, nullptr, lockFlags) != D3D_OK) {
        ReleaseComObject(system);
        return -1;
      }
      ReadBack.temporary = ReadBack.lockedSurface = system;
    }
  } else {
    if (record != nullptr) return -1;  // a graphic without that texture
    IDirect3DSurface9* surface = ScreenSurface();
    D3DSURFACE_DESC sd;
    if (surface == nullptr || GetSurfaceDesc(surface, &sd) != D3D_OK) return -1;
    if (!RectInside(rect, static_cast<int>(sd.Width), static_cast<int>(sd.Height))) return -1;
    format = sd.Format;
    // The probe found locking the (lockable) back buffer faster: read in place.
    if (DeviceCaps.useBackBufferLock == 1 && surface == DeviceLayer.backBuffer &&
        LockSurfaceRect(surface, &locked, rect, lockFlags) == D3D_OK) {
      ReadBack.lockedSurface = surface;
    } else {
      IDirect3DSurface9* system = CopyOutThroughTarget(surface, format, rect);
      if (system == nullptr) return -1;
      if (LockSurfaceRect(system, &locked, nullptr, lockFlags) != D3D_OK) {
        ReleaseComObject(system);
        return -1;
      }
      ReadBack.temporary = ReadBack.lockedSurface = system;
    }
  }
  const ColorFormatRecord* color = GetPixelFormatDescriptor(format);
  if (color == nullptr) {
    ReadBack.inReadBack = 1;
    EndGraphicPixelReadBack();
    return -1;
  }
  memset(out, 0, sizeof *out);
  out->format = *color;
  out->width = rect->right - rect->left;
  out->height = rect->bottom - rect->top;
  out->pitch = locked.Pitch;
  out->pixels = locked.pBits;
  ReadBack.inReadBack = 1;
  return 0;
}

int ReadGraphToBaseImage(int handle, BaseImageRecord* out, const RECT* rect) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, 0);
  if (out == nullptr || record == nullptr || record->image == nullptr) return -1;
  RECT area = {0, 0, record->width, record->height};
  if (rect != nullptr) {
    if (!RectInside(rect, record->width, record->height)) return -1;
    area = *rect;
  }
  if (CreateBaseImageARGB8(area.right - area.left, area.bottom - area.top, out) < 0) return -1;
  GraphImageDescriptor* desc = record->image;
  if (!desc->format.textureBacked) {
    BaseImageRecord read;
    if (ReadBackGraphicPixels(&area, &read, handle, 0, 1, 0) != 0) {
      ReleaseBaseImage(out);
      return -1;
    }
    const RECT whole = {0, 0, area.right - area.left, area.bottom - area.top};
    ConvertColorBlt(out->pixels, out->pitch, &out->format, read.pixels, read.pitch, &read.format, nullptr, 0, nullptr,
                    0, 0, &whole, 0, 0, 0, BLT_REDUCE_NONE, 0, 0, 0, 0);
    EndGraphicPixelReadBack();
    return 0;
  }
  for (int i = 0; i < record->pieceCount; i++) {
    const GraphPiece& p = record->pieces[i];
    // The overlap in the graphic, then in the piece's texture.
    const int left = p.x > area.left ? p.x : area.left, top = p.y > area.top ? p.y : area.top;
    const int right = p.x + p.width < area.right ? p.x + p.width : area.right;
    const int bottom = p.y + p.height < area.bottom ? p.y + p.height : area.bottom;
    if (left >= right || top >= bottom) continue;
    const RECT inTexture = {p.texX + left - p.x, p.texY + top - p.y, p.texX + right - p.x, p.texY + bottom - p.y};
    BaseImageRecord read;
    if (ReadBackGraphicPixels(&inTexture, &read, handle, 0, 1, static_cast<int>(p.entry - desc->textures)) != 0) {
      ReleaseBaseImage(out);
      return -1;
    }
    const RECT whole = {0, 0, right - left, bottom - top};
    ConvertColorBlt(out->pixels, out->pitch, &out->format, read.pixels, read.pitch, &read.format, nullptr, 0, nullptr,
                    left - area.left, top - area.top, &whole, 0, 0, 0, BLT_REDUCE_NONE, 0, 0, 0, 0);
    EndGraphicPixelReadBack();
  }
  return 0;
}

int CreateDerivedGraph(int x, int y, int width, int height, int source, int acceptPending) {
  if (width < 1 || height < 1 || GetGraphicRecord(source, acceptPending) == nullptr) return -1;
  const int handle = AllocGraphicHandle();
  if (handle < 0) return -1;
  if (MakeDerivedTile(handle, x, y, width, height, source, 0) != 0) {
    DeleteGraphicHandle(handle);
    return -1;
  }
  RememberGraphicSource(handle, nullptr, nullptr, nullptr, 0, source);
  return handle;
}

int CreateDerivedGraph(int x, int y, int width, int height, int source) {
  return CreateDerivedGraph(x, y, width, height, source, 0);
}

int DrawGraphRectStretchedF(float x1, float y1, float x2, float y2, int x, int y, int width, int height, int source,
                            int transparent) {
  if (width < 1 || height < 1) return -1;
  // A view of the rectangle, drawn and dropped (the textures stay with the
  // source, so vertices still in the batch keep theirs).
  const int view = AllocGraphicHandle();
  if (view < 0) return -1;
  int result = -1;
  if (MakeDerivedTile(view, x, y, width, height, source, 0) == 0)
    result = DrawImageStretchedF(x1, y1, x2, y2, view, transparent);
  DeleteGraphicHandle(view);
  return result;
}

namespace {

// Where a copy goes: the target graphic (handle and record) at (dx, dy).
struct CopyTarget {
  GraphicHandleRecord* to;
  int target;
  int dx, dy;
};

// Copies src (in texture coordinates of surface) into the target: a
// StretchRect into a drawable single-texture target, else a read-back of
// the source's texture textureIndex (-2: the back buffer) transferred.
int CopySurfaceRectToGraph(IDirect3DSurface9* surface, const RECT& src, int source, int face, int textureIndex,
                           const CopyTarget& copy) {
  GraphicHandleRecord* to = copy.to;
  const int target = copy.target, dx = copy.dx, dy = copy.dy;
  const int w = src.right - src.left, h = src.bottom - src.top;
  GraphTextureEntry* toEntry = EntryOf(to, 0);
  const int toX = to->x + dx, toY = to->y + dy;
  if (to->image->format.drawable && toEntry != nullptr && surface != nullptr && to->image->textureCount == 1 &&
      toX + w <= toEntry->allocWidth && toY + h <= toEntry->allocHeight) {
    const RECT dest = {toX, toY, toX + w, toY + h};
    return StretchDeviceRect(surface, &src, toEntry->faces[0], &dest, D3DTEXF_NONE) == D3D_OK ? 0 : -1;
  }
  BaseImageRecord read;
  if (ReadBackGraphicPixels(&src, &read, source, face, 1, textureIndex) != 0) return -1;
  const RECT whole = {0, 0, w, h};
  const int result = TransferImageToGraphTexture({&read, nullptr, target, &whole, dx, dy, 0, 0}, 0);
  EndGraphicPixelReadBack();
  return result;
}

}  // namespace

int CopyScreenRectToGraph(int source, int face, const RECT& rect, int dx, int dy, int target) {
  GraphicHandleRecord* to = GetGraphicRecord(target, 0);
  if (to == nullptr || to->image == nullptr) return -1;
  const int x1 = rect.left, y1 = rect.top, x2 = rect.right, y2 = rect.bottom;
  const int w = x2 - x1, h = y2 - y1;
  if (!DeviceLayer.hardware) {
    MEMIMG* from = SoftwareImageOf(source == -1 ? -2 : source);
    if (from == nullptr || !IsValidMemImg(&to->softImage) || !RectInside(&rect, from->width, from->height) || dx < 0 ||
        dy < 0 || dx + w > to->width || dy + h > to->height)
      return -1;
    return TransferMemImg(&to->softImage, from, &rect, dx, dy) < 0 ? -1 : 0;
  }
  if (!HasDirect3DDevice()) return -1;
  FlushVertexBatch(0);
  EndDrawScene();
  if (dx < 0 || dy < 0 || dx + w > to->width || dy + h > to->height) return -1;
  if (face < 0 || face > 5) face = 0;
  GraphicHandleRecord* from = GetGraphicRecord(source, 0);
  if (from == nullptr) {
    IDirect3DSurface9* surface = ScreenSurface();
    D3DSURFACE_DESC sd;
    if (surface == nullptr || GetSurfaceDesc(surface, &sd) != D3D_OK) return -1;
    if (!RectInside(&rect, static_cast<int>(sd.Width), static_cast<int>(sd.Height))) return -1;
    return CopySurfaceRectToGraph(surface, rect, -2, face, 0, {to, target, dx, dy});
  }
  // A tile or view lies somewhere in its shared image: each piece of it
  // that the rectangle covers is copied from its own texture.
  if (from->image == nullptr || !from->image->format.textureBacked || !RectInside(&rect, from->width, from->height))
    return -1;
  int copied = 0;
  for (int i = 0; i < from->pieceCount; i++) {
    const GraphPiece& p = from->pieces[i];
    const int left = p.x > x1 ? p.x : x1, top = p.y > y1 ? p.y : y1;
    const int right = p.x + p.width < x2 ? p.x + p.width : x2;
    const int bottom = p.y + p.height < y2 ? p.y + p.height : y2;
    if (left >= right || top >= bottom || p.entry == nullptr) continue;
    const RECT inTexture = {p.texX + left - p.x, p.texY + top - p.y, p.texX + right - p.x, p.texY + bottom - p.y};
    IDirect3DSurface9* surface = p.entry->multiSampleSurface != nullptr ? p.entry->multiSampleSurface
                                                                        : p.entry->faces[face];
    const int index = static_cast<int>(p.entry - from->image->textures);
    const CopyTarget copy = {to, target, dx + left - x1, dy + top - y1};
    if (CopySurfaceRectToGraph(surface, inTexture, source, face, index, copy) != 0) return -1;
    copied = 1;
  }
  return copied ? 0 : -1;
}

int CopyDrawTargetRectToGraph(int x1, int y1, int x2, int y2, int target, int) {
  int w = 0, h = 0;
  if (GetGraphicSize(target, &w, &h) != 0 || w != x2 - x1 || h != y2 - y1) return -1;
  return CopyScreenRectToGraph(GetDrawTarget(), GetDrawTargetSurfaceIndex(), {x1, y1, x2, y2}, 0, 0, target);
}

int GetWorkRenderTargetGraph(int floatFlag, int width, int height, int slot) {
  const int size = width > height ? width : height;
  int k = 0;
  while ((1 << k) < size) k++;
  const int index = (slot ? 1 : 0) + ((floatFlag ? 1 : 0) * 16 + k) * 2;
  if (k > 15 || index >= WORK_TARGET_CACHE_SIZE) return -1;
  if (IsGraphicHandleValid(WorkTargets[index])) return WorkTargets[index];
  GraphCreateSettings settings;
  InitDrawableGraphSettings(&settings, 32, 1);
  settings.floatFlag = floatFlag ? 1 : 0;
  const int handle = CreateBlankGraphHandle(&settings, 1 << k, 1 << k, 0, 0, 0);
  if (handle < 0) {
    LogPrintf(LOG_WORK_TARGET_FAILED, 1 << k, 1 << k);
    WorkTargets[index] = 0;
    return -1;
  }
  WorkTargets[index] = handle;
  return handle;
}

namespace {

// The setup is read by the draws through the draw state's destination-blend
// switch (the blend row) and the work surface the destination copy fills.
void PublishDestinationBlend() {
  CurrentDrawState.destinationBlend = DestinationBlend.active;
  DrawTargetWorkSurface = DestinationBlend.active ? DestinationBlend.workSurface : nullptr;
}

int DestinationBlendOff() {
  DestinationBlend.workTexture = nullptr;
  DestinationBlend.targetSurface = DestinationBlend.workSurface = nullptr;
  DestinationBlend.workHandle = 0;
  if (DestinationBlend.active) {
    DestinationBlend.active = 0;
    RenderState.statesChanged = 1;
  }
  PublishDestinationBlend();
  return 0;
}

}  // namespace

int UpdateDrawTargetBlendTexture() {
  for (int i = 1; i < DRAW_TARGET_SLOTS; i++)
    if (DrawTargets.graphs[i] != 0) return DestinationBlendOff();
  const int target = GetDrawTarget();
  GraphicHandleRecord* record = target >= -5 && target <= -2 ? nullptr : GetGraphicRecord(target, 0);
  GraphTextureEntry* entry = EntryOf(record, 0);
  if (entry == nullptr || !record->image->format.drawable || !record->image->format.alpha || !HasDirect3DDevice())
    return DestinationBlendOff();
  const int work = GetWorkRenderTargetGraph(record->image->format.floatFlag, record->width, record->height, 0);
  GraphTextureEntry* workEntry = EntryOf(GetGraphicRecord(work, 0), 0);
  if (workEntry == nullptr) {
    DestinationBlendOff();
    return -1;
  }
  DestinationBlend.workHandle = work;
  DestinationBlend.workTexture = workEntry->texture;
  const int face = GetDrawTargetSurfaceIndex();
  DestinationBlend.targetSurface = entry->faces[face >= 0 && face < 6 ? face : 0];
  DestinationBlend.workSurface = workEntry->faces[0];
  DestinationBlend.invWidth = 1.0f / static_cast<float>(workEntry->allocWidth);
  DestinationBlend.invHeight = 1.0f / static_cast<float>(workEntry->allocHeight);
  if (!DestinationBlend.active) {
    DestinationBlend.active = 1;
    RenderState.statesChanged = 1;
  }
  PublishDestinationBlend();
  return 0;
}

void ForgetDestinationBlendGraph(int handle) {
  if (handle != 0 && handle == DestinationBlend.workHandle) DestinationBlendOff();
}

int ResolveMultiSampleSurface(GraphTextureEntry* entry, int face) {
  if (entry == nullptr || entry->multiSampleSurface == nullptr || face < 0 || face > 5 || entry->faces[face] == nullptr)
    return 0;
  StretchDeviceRect(entry->multiSampleSurface, nullptr, entry->faces[face], nullptr, D3DTEXF_NONE);
  return 0;
}

int IsMultiSampleGraph(int handle) {
  GraphTextureEntry* entry = EntryOf(GetGraphicRecord(handle, 0), 0);
  return entry != nullptr && entry->multiSampleSurface != nullptr ? 1 : 0;
}
