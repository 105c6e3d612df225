// The mask screen: mask bytes, the Direct3D mask texture and colour buffer
// or the software work image, creation and growth, switching its use,
// the begin / apply brackets of masked draws (software: copy back through
// the mask; Direct3D: one quad through the mask-blend shader), and the
// mask handle type (7).
// Threads: main thread.
// Platform: IDirect3DDevice9 CreateTexture, StretchRect, SetRenderTarget,
// DrawPrimitiveUP and texture locks through the device call table.
#include "DeRede.h"

#include <string.h>

#include "RaRadara.h"
#include "RiRerEziDrawFunction.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VuViderezaMath.h"
#include "VuViderezaRenderState.h"
#include "ZiDezaru.h"

namespace {

const char LOG_NO_COLOR_FORMAT[] = "マスク描画用カラーバッファで使用できるテクスチャフォーマットがありませんでした";
const char LOG_NO_ALPHA_FORMAT[] =
    "マスク描画用アルファチャンネルバッファで使用できるテクスチャフォーマットがありませんでした";
const char LOG_MASK_TEXTURE_FAILED[] = "マスク用イメージテクスチャの作成に失敗しました";
const char LOG_SCREEN_TEXTURE_FAILED[] = "マスク用スクリーンテクスチャの作成に失敗しました";
const char LOG_MEMIMG_FAILED[] = "マスク用 MEMIMG の作成に失敗しました";
const char MASK_TYPE_NAME[] = "マスク";

enum {
  MASK_RECORD_SIZE = 68,
  MASK_MAX_HANDLES = 512,
  MASK_BYTES_LINE = 1555,
  COMPOSE_FVF = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2,
};
const char MASK_BYTES_FILE[] = "DeRede";

struct ComposeVertex {
  float x, y, z, rhw;
  DWORD color;
  float u1, v1, u2, v2;
};

int PowerOfTwoAtLeast(int n) {
  int p = 1;
  while (p < n) p <<= 1;
  return p;
}

// Texture formats: the colour buffer in the screen's format; the mask in a
// format whose alpha sits in a byte the upload can write.
D3DFORMAT MaskColorFormat() { return static_cast<D3DFORMAT>(DeviceFormats.screen); }
D3DFORMAT MaskAlphaFormat() {
  const D3DFORMAT candidates[2] = {static_cast<D3DFORMAT>(DeviceFormats.alpha32),
                                   static_cast<D3DFORMAT>(DeviceFormats.alpha16)};
  for (D3DFORMAT f : candidates)
    if (f == D3DFMT_A8R8G8B8 || f == D3DFMT_A1R5G5B5 || f == D3DFMT_A4R4G4B4) return f;
  return candidates[0] != 0 || candidates[1] != 0 ? D3DFMT_A8R8G8B8 : D3DFMT_UNKNOWN;
}

// The draw target's own memory image (not the work image).
MEMIMG* TargetMemImg() {
  if (CurrentDrawState.drawTarget >= 0) return GetGraphicMemImg(GetGraphicRecord(CurrentDrawState.drawTarget, 0));
  return IsValidMemImg(&SoftwareScreenImage) ? &SoftwareScreenImage : nullptr;
}

// The draw target's surface to compose onto (no multi-sample surface).
IDirect3DSurface9* TargetSurface() {
  if (CurrentDrawState.drawTarget >= 0) {
    GraphicHandleRecord* record = GetGraphicRecord(CurrentDrawState.drawTarget, 0);
    if (record == nullptr || record->image == nullptr || record->image->textureCount < 1) return nullptr;
    const int index = CurrentDrawState.drawSurfaceIndex;
    return record->image->textures[0].faces[index >= 0 && index < 6 ? index : 0];
  }
  return DeviceLayer.subBackBuffer != nullptr ? DeviceLayer.subBackBuffer : DeviceLayer.backBuffer;
}

RECT ClipToDrawArea(RECT r) {
  ClipRect(&r, &CurrentDrawState.drawArea);
  return r;
}

bool Empty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }

void ViewportToDrawAreaReapplied() {
  const int saved = RenderState.reapplyAll;
  RenderState.reapplyAll = 1;
  const RECT& a = CurrentDrawState.drawArea;
  SetViewportRect(a.left, a.top, a.right, a.bottom);
  RenderState.reapplyAll = saved;
}

// Writes the mask bytes of r (inside the mask screen) into the mask texture.
int UploadMaskBytes(const RECT& r) {
  if (MaskScreen.maskTexture == nullptr || MaskScreen.bytes == nullptr || Empty(r)) return 0;
  D3DLOCKED_RECT locked;
  if (LockTextureRect(MaskScreen.maskTexture, 0, &locked, &r, 0) != D3D_OK) return -1;
  const int texelBytes = MaskAlphaFormat() == D3DFMT_A8R8G8B8 ? 4 : 2;
  for (int y = r.top; y < r.bottom; y++) {
    const uint8_t* from = MaskScreen.bytes + y * MaskScreen.pitch + r.left;
    uint8_t* to = static_cast<uint8_t*>(locked.pBits) + (y - r.top) * locked.Pitch;
    for (int x = 0; x < r.right - r.left; x++) to[x * texelBytes + texelBytes - 1] = from[x];
  }
  UnlockTextureRect(MaskScreen.maskTexture, 0);
  return 0;
}

void ReleaseObject(IUnknown** object) {
  if (*object != nullptr) ReleaseComObject(*object);
  *object = nullptr;
}

// The Direct3D half of creation: textures of the new size, mask texture
// zeroed.
void CreateMaskDeviceObjects() {
  const D3DFORMAT colorFormat = MaskColorFormat(), alphaFormat = MaskAlphaFormat();
  if (colorFormat == D3DFMT_UNKNOWN) FatalErrorExit(LOG_NO_COLOR_FORMAT);
  if (alphaFormat == D3DFMT_UNKNOWN) FatalErrorExit(LOG_NO_ALPHA_FORMAT);
  MaskScreen.textureWidth = PowerOfTwoAtLeast(MaskScreen.width);
  MaskScreen.textureHeight = PowerOfTwoAtLeast(MaskScreen.height);
  const UINT w = static_cast<UINT>(MaskScreen.textureWidth), h = static_cast<UINT>(MaskScreen.textureHeight);
  if (MaskScreen.maskTexture == nullptr) {
    if (CreateDeviceTexture(w, h, 1, D3DUSAGE_DYNAMIC, alphaFormat, D3DPOOL_DEFAULT, &MaskScreen.maskTexture,
                            nullptr) != D3D_OK ||
        MaskScreen.maskTexture == nullptr) {
      MaskScreen.maskTexture = nullptr;
      FatalErrorExit(LOG_MASK_TEXTURE_FAILED);
      return;
    }
    // Cleared by the texture's own height and pitch.
    D3DLOCKED_RECT locked;
    if (LockTextureRect(MaskScreen.maskTexture, 0, &locked, nullptr, 0) == D3D_OK) {
      memset(locked.pBits, 0, static_cast<size_t>(locked.Pitch) * h);
      UnlockTextureRect(MaskScreen.maskTexture, 0);
    }
    // Mask bytes kept over a release go back into the new texture.
    const RECT all = {0, 0, MaskScreen.width, MaskScreen.height};
    UploadMaskBytes(all);
  }
  if (MaskScreen.colorTexture == nullptr) {
    if (CreateDeviceTexture(w, h, 1, D3DUSAGE_RENDERTARGET, colorFormat, D3DPOOL_DEFAULT, &MaskScreen.colorTexture,
                            nullptr) != D3D_OK ||
        MaskScreen.colorTexture == nullptr) {
      MaskScreen.colorTexture = nullptr;
      FatalErrorExit(LOG_SCREEN_TEXTURE_FAILED);
      return;
    }
  }
  if (MaskScreen.colorSurface == nullptr) GetTextureSurfaceLevel(MaskScreen.colorTexture, 0, &MaskScreen.colorSurface);
}

}  // namespace

MaskScreenState MaskScreen;

int InitMaskSystem() {
  if (MaskScreen.initialised) return -1;
  if (InitHandleType(HANDLETYPE_MASK, MASK_RECORD_SIZE, MASK_MAX_HANDLES, ReturnZero, ReleaseMaskHandleRecord,
                     MASK_TYPE_NAME) < 0)
    return -1;
  MaskScreen.initialised = 1;
  return 0;
}

int EndMaskSystem() {
  if (!MaskScreen.initialised) return -1;
  if (MaskScreen.useFlag) SwitchMaskScreenUse(0);
  MaskScreen.requested = 0;
  ReleaseMaskScreen();
  MaskScreen.active = 0;
  MaskScreen.useFlag = 0;
  MaskScreen.nesting = 0;
  DeleteAllHandlesOfType(HANDLETYPE_MASK, nullptr);
  TermHandleType(HANDLETYPE_MASK);
  MaskScreen.initialised = 0;
  return 0;
}

int ReleaseMaskHandleRecord(HandleRecordHeader* header) {
  MaskHandleRecord* record = reinterpret_cast<MaskHandleRecord*>(header);
  if (record->bitmap != nullptr) MemFree(record->bitmap);
  record->bitmap = nullptr;
  return 0;
}

int CreateMaskScreen(int requested, int width, int height) {
  if (!requested) return 0;
  uint8_t* oldBytes = nullptr;
  int oldPitch = 0, oldWidth = 0, oldHeight = 0, remade = 0;
  MEMIMG oldImage;
  memset(&oldImage, 0, sizeof oldImage);
  int oldImageMade = 0;
  IDirect3DTexture9* oldMaskTexture = nullptr;
  IDirect3DTexture9* oldColorTexture = nullptr;
  IDirect3DSurface9* oldColorSurface = nullptr;
  if (MaskScreen.bytes != nullptr) {
    const int newWidth = width > MaskScreen.width ? width : MaskScreen.width;
    const int newHeight = height > MaskScreen.height ? height : MaskScreen.height;
    if (newWidth > MaskScreen.width || newHeight > MaskScreen.height) {
      oldBytes = MaskScreen.bytes;
      oldPitch = MaskScreen.pitch;
      oldWidth = MaskScreen.width;
      oldHeight = MaskScreen.height;
      oldImage = MaskScreen.workImage;
      oldImageMade = MaskScreen.workMade;
      oldMaskTexture = MaskScreen.maskTexture;
      oldColorTexture = MaskScreen.colorTexture;
      oldColorSurface = MaskScreen.colorSurface;
      MaskScreen.bytes = nullptr;
      memset(&MaskScreen.workImage, 0, sizeof MaskScreen.workImage);
      MaskScreen.workMade = 0;
      MaskScreen.maskTexture = nullptr;
      MaskScreen.colorTexture = nullptr;
      MaskScreen.colorSurface = nullptr;
      remade = 1;
    }
    width = newWidth;
    height = newHeight;
  }
  MaskScreen.width = width;
  MaskScreen.height = height;
  if (MaskScreen.bytes == nullptr) {
    MaskScreen.pitch = (width + 3) / 4 * 4;
    MaskScreen.bytes = static_cast<uint8_t*>(
        MemAlloc(static_cast<size_t>(MaskScreen.pitch) * height, MASK_BYTES_FILE, MASK_BYTES_LINE));
    if (MaskScreen.bytes != nullptr) memset(MaskScreen.bytes, 0, static_cast<size_t>(MaskScreen.pitch) * height);
  }
  if (DeviceLayer.hardware) {
    if (HasDirect3DDevice()) CreateMaskDeviceObjects();
  } else if (!IsValidMemImg(&MaskScreen.workImage)) {
    if (CreateMemImgOfColorType(&MaskScreen.workImage, width, height, -1) < 0) {
      FatalErrorExit(LOG_MEMIMG_FAILED);
      return -1;
    }
    MaskScreen.workMade = 1;
  }
  if (!remade) return 0;
  if (oldBytes != nullptr) {
    if (MaskScreen.bytes != nullptr)
      for (int y = 0; y < oldHeight; y++)
        memcpy(MaskScreen.bytes + y * MaskScreen.pitch, oldBytes + y * oldPitch, static_cast<size_t>(oldWidth));
    MemFree(oldBytes);
  }
  if (oldImageMade && IsValidMemImg(&oldImage)) {
    if (IsValidMemImg(&MaskScreen.workImage)) TransferMemImg(&MaskScreen.workImage, &oldImage, nullptr, 0, 0);
    ReleaseMemImg(&oldImage);
  }
  if (DeviceLayer.hardware) {
    const RECT old = {0, 0, oldWidth, oldHeight};
    UploadMaskBytes(old);
    ReleaseObject(reinterpret_cast<IUnknown**>(&oldMaskTexture));
    if (oldColorSurface != nullptr && MaskScreen.colorSurface != nullptr) {
      StretchDeviceRect(oldColorSurface, &old, MaskScreen.colorSurface, &old, D3DTEXF_NONE);
      for (int slot = 0; slot < 16; slot++)
        if (GetCachedRenderTarget(slot) == oldColorSurface) SetRenderTargetCached(MaskScreen.colorSurface, slot);
    }
    ReleaseObject(reinterpret_cast<IUnknown**>(&oldColorSurface));
    ReleaseObject(reinterpret_cast<IUnknown**>(&oldColorTexture));
  }
  return 0;
}

int ReleaseMaskScreen() {
  // While the mask screen is wanted its bytes outlive the device objects
  // (a device rebuild releases and restores them), so the mask survives.
  const int keepBytes = MaskScreen.initialised && MaskScreen.requested;
  if (!keepBytes) {
    if (MaskScreen.bytes != nullptr) MemFree(MaskScreen.bytes);
    MaskScreen.bytes = nullptr;
    MaskScreen.width = MaskScreen.height = 0;
  }
  if (SoftwareDrawTarget == &MaskScreen.workImage) {  // software draws go to the target itself again
    MEMIMG* target = TargetMemImg();
    SoftwareDrawTarget = target != nullptr ? target : &SoftwareScreenImage;
  }
  if (MaskScreen.workMade && IsValidMemImg(&MaskScreen.workImage)) ReleaseMemImg(&MaskScreen.workImage);
  memset(&MaskScreen.workImage, 0, sizeof MaskScreen.workImage);
  MaskScreen.workMade = 0;
  ReleaseObject(reinterpret_cast<IUnknown**>(&MaskScreen.maskTexture));
  ReleaseObject(reinterpret_cast<IUnknown**>(&MaskScreen.colorSurface));
  ReleaseObject(reinterpret_cast<IUnknown**>(&MaskScreen.colorTexture));
  return 0;
}

int RestoreMaskScreen() {
  if (!MaskScreen.initialised) return -1;
  CreateMaskScreen(MaskScreen.requested, CurrentDrawState.drawScreenWidth, CurrentDrawState.drawScreenHeight);
  if (MaskScreen.useFlag) SwitchMaskScreenUse(1);
  return 0;
}

int SwitchMaskScreenUse(int flag) {
  if (!MaskScreen.initialised || MaskScreen.bytes == nullptr) return -1;
  MaskScreen.useFlag = flag;
  MaskScreen.active = flag != 0 && MaskScreen.requested;
  if (DeviceLayer.hardware) {
    if (!HasDirect3DDevice()) return 0;
    FlushVertexBatch(0);
    IDirect3DSurface9* surface = MaskScreen.active && MaskScreen.colorSurface != nullptr ? MaskScreen.colorSurface
                                                                                         : GetDrawTargetSurface();
    if (surface != nullptr) SetRenderTargetCached(surface, 0);
    ApplyDepthStencilForDrawTarget();
    ViewportToDrawAreaReapplied();
    return 0;
  }
  if (MaskScreen.active && IsValidMemImg(&MaskScreen.workImage)) {
    SoftwareDrawTarget = &MaskScreen.workImage;
  } else {
    MEMIMG* target = TargetMemImg();
    SoftwareDrawTarget = target != nullptr ? target : &SoftwareScreenImage;
  }
  return 0;
}

int GetMaskUseFlag() { return MaskScreen.useFlag; }
int IsMaskScreenRequested() { return MaskScreen.requested; }
int IsMaskScreenActive() { return MaskScreen.active && MaskScreen.bytes != nullptr ? 1 : 0; }

IDirect3DSurface9* GetActiveMaskSurface() { return MaskScreen.active ? MaskScreen.colorSurface : nullptr; }

MEMIMG* GetActiveMaskWorkImage() {
  return MaskScreen.active && IsValidMemImg(&MaskScreen.workImage) ? &MaskScreen.workImage : nullptr;
}

int BeginMaskedDraw(RECT rect) {
  if (++MaskScreen.nesting != 1) return 0;
  const RECT r = ClipToDrawArea(rect);
  if (!MaskScreen.active || Empty(r)) return 0;
  if (!DeviceLayer.hardware) {
    MEMIMG* target = TargetMemImg();
    if (target != nullptr && IsValidMemImg(&MaskScreen.workImage))
      TransferMemImg(&MaskScreen.workImage, target, &r, r.left, r.top);
    return 0;
  }
  if (MaskScreen.colorSurface == nullptr || !HasDirect3DDevice()) return 0;
  MaskScreen.beginColorSurface = MaskScreen.colorSurface;
  MaskScreen.targetSurface = TargetSurface();
  if (MaskScreen.targetSurface == nullptr) return 0;
  FlushVertexBatch(0);
  EndDrawScene();
  StretchDeviceRect(MaskScreen.targetSurface, &r, MaskScreen.colorSurface, &r, D3DTEXF_NONE);
  return 0;
}

int ApplyMaskToScreen(RECT rect) {
  if (MaskScreen.nesting <= 0) return 0;
  if (MaskScreen.nesting-- != 1) return 0;
  RECT r = ClipToDrawArea(rect);
  if (Empty(r) || !MaskScreen.active) return 0;
  // Only the part the mask bytes cover can be told apart.
  const RECT maskArea = {0, 0, MaskScreen.width, MaskScreen.height};
  ClipRect(&r, &maskArea);
  if (Empty(r)) return 0;
  if (!DeviceLayer.hardware) {
    MEMIMG* dest = TargetMemImg();
    const MEMIMG* src = &MaskScreen.workImage;
    if (dest == nullptr || !IsValidMemImg(src)) return 0;
    const int bytes = MemImgBytesPerPixel(dest);
    if ((bytes != 2 && bytes != 4) || MemImgBytesPerPixel(src) != bytes) return 0;
    if (r.right > dest->width || r.bottom > dest->height || r.right > src->width || r.bottom > src->height) {
      const RECT both = {0, 0, dest->width < src->width ? dest->width : src->width,
                         dest->height < src->height ? dest->height : src->height};
      ClipRect(&r, &both);
      if (Empty(r)) return 0;
    }
    for (int y = r.top; y < r.bottom; y++) {
      const uint8_t* mask = MaskScreen.bytes + y * MaskScreen.pitch;
      uint8_t* to = dest->pixels + y * dest->header->pitch;
      const uint8_t* from = src->pixels + y * src->header->pitch;
      for (int x = r.left; x < r.right; x++)
        if (mask[x] != 0) memcpy(to + x * bytes, from + x * bytes, static_cast<size_t>(bytes));
    }
    InvalidateMemImgDerivedData(dest);
    return 0;
  }
  if (MaskScreen.colorSurface == nullptr || MaskScreen.targetSurface == nullptr || !HasDirect3DDevice()) return 0;
  FlushVertexBatch(0);
  SetRenderTargetCached(MaskScreen.targetSurface, 0);
  BeginDrawSceneOnce();
  const int zEnable = RenderState.zEnable;
  SetZEnableCached(0);
  SetDeviceVertexShader(nullptr);
  RenderState.vertexShader = nullptr;
  SetDevicePixelShader(nullptr);
  RenderState.pixelShader = nullptr;
  ViewportToDrawAreaReapplied();
  // The composition selects by the shader's alpha: alpha blending at full
  // strength and white brightness, whatever the draw state holds.
  const int blendMode = CurrentDrawState.blendMode, blendParam = CurrentDrawState.blendParam;
  const uint32_t bright = CurrentDrawState.brightness;
  SetBlendMode(BLEND_MODE_ALPHA, 255);
  SetDrawTintPacked(0xFFFFFF);
  UserTextureSetup setup;
  memset(&setup, 0, sizeof setup);
  setup.count = 3;
  setup.stages[0].texture = MaskScreen.colorTexture;
  setup.stages[1].texture = MaskScreen.maskTexture;
  setup.stages[2].texture = nullptr;
  // Blending of alpha mode 1 (the device states), then the two textures.
  ApplyDrawStateForTexture(MaskScreen.colorTexture, 0);
  PrepareGraphicDrawStateNow(&setup, 0, 0);
  const int shaders = GraphicsSystem.shadersUsable && GraphicsSystem.maskBlendShader != nullptr &&
                      !DrawPrep.forceFixedFunction && !DeviceCaps.noShaders;
  if (shaders) {
    SetDevicePixelShader(GraphicsSystem.maskBlendShader);
    RenderState.pixelShader = GraphicsSystem.maskBlendShader;
  } else {
    // Stage program: the colour buffer's colour, the mask's alpha (both
    // through the first coordinate pair); the next full preparation sends
    // its own program again.
    const DWORD stages[][3] = {
        {0, D3DTSS_COLOROP, D3DTOP_SELECTARG1}, {0, D3DTSS_COLORARG1, D3DTA_TEXTURE},
        {0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1}, {0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE},
        {0, D3DTSS_TEXCOORDINDEX, 0},           {1, D3DTSS_COLOROP, D3DTOP_SELECTARG1},
        {1, D3DTSS_COLORARG1, D3DTA_CURRENT},   {1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1},
        {1, D3DTSS_ALPHAARG1, D3DTA_TEXTURE},   {1, D3DTSS_TEXCOORDINDEX, 0},
        {2, D3DTSS_COLOROP, D3DTOP_DISABLE},    {2, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
    };
    for (const DWORD* st : stages)
      SetDeviceTextureStageState(st[0], static_cast<D3DTEXTURESTAGESTATETYPE>(st[1]), st[2]);
    RenderState.stages[0].texCoordIndex = 0;
    RenderState.stages[1].texCoordIndex = 0;
  }
  if (RenderState.fvf != COMPOSE_FVF) {
    SetDeviceFVF(COMPOSE_FVF);
    RenderState.fvf = COMPOSE_FVF;
  }
  const float tw = static_cast<float>(MaskScreen.textureWidth), th = static_cast<float>(MaskScreen.textureHeight);
  const float xs[4] = {static_cast<float>(r.left), static_cast<float>(r.right), static_cast<float>(r.left),
                       static_cast<float>(r.right)};
  const float ys[4] = {static_cast<float>(r.top), static_cast<float>(r.top), static_cast<float>(r.bottom),
                       static_cast<float>(r.bottom)};
  ComposeVertex quad[4];
  for (int i = 0; i < 4; i++) {
    quad[i] = ComposeVertex{xs[i] - 0.5f, ys[i] - 0.5f, 0.0f, 1.0f, 0xFFFFFFFFu, xs[i] / tw, ys[i] / th, 0.0f, 0.0f};
  }
  DrawDevicePrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ComposeVertex));
  EndDrawScene();
  BeginDrawSceneOnce();
  SetUserTextureSetup(nullptr, 0);
  RenderState.choosePixelShader = 1;
  RenderState.statesChanged = 1;
  if (shaders) {
    SetDevicePixelShader(nullptr);
    RenderState.pixelShader = nullptr;
  }
  SetBlendMode(blendMode, blendParam);
  SetDrawTintPacked(bright);
  SetZEnableCached(zEnable);
  ForgetLastDrawSetup();
  SetRenderTargetCached(MaskScreen.colorSurface, 0);
  ViewportToDrawAreaReapplied();
  return 0;
}

int UploadMaskTexture(RECT rect) {
  RECT r = ClipToDrawArea(rect);
  const RECT maskArea = {0, 0, MaskScreen.width, MaskScreen.height};
  ClipRect(&r, &maskArea);
  if (Empty(r)) return 0;
  return UploadMaskBytes(r);
}

int ApplyPendingMaskToScreen() { return 0; }

int SetMaskScreenRequest(int on) {
  if (!MaskScreen.initialised) return -1;
  MaskScreen.requested = on != 0;
  if (on) CreateMaskScreen(1, CurrentDrawState.drawScreenWidth, CurrentDrawState.drawScreenHeight);
  MaskScreen.active = MaskScreen.useFlag != 0 && MaskScreen.requested;
  return 0;
}

int FillMaskScreenRect(const RECT* rect, int value) {
  if (MaskScreen.bytes == nullptr) return -1;
  RECT r = rect != nullptr ? *rect : RECT{0, 0, MaskScreen.width, MaskScreen.height};
  const RECT maskArea = {0, 0, MaskScreen.width, MaskScreen.height};
  ClipRect(&r, &maskArea);
  if (Empty(r)) return 0;
  for (int y = r.top; y < r.bottom; y++)
    memset(MaskScreen.bytes + y * MaskScreen.pitch + r.left, value & 255, static_cast<size_t>(r.right - r.left));
  return DeviceLayer.hardware ? UploadMaskBytes(r) : 0;
}
