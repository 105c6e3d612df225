// Device capability probe and format choice: device creation with its
// fall-back screen modes, the capability flags, one format per kind of
// surface (each logged), and the timing that chooses how the back buffer is
// read.
// Threads: main thread, inside the graphics-system start.
// Platform (through the device call table): IDirect3D9 CheckDeviceFormat,
// CheckDepthStencilMatch, GetAdapterIdentifier, GetAdapterDisplayMode;
// device GetDeviceCaps, GetBackBuffer, surface creation, locks, StretchRect,
// GetRenderTargetData.
#include <string.h>

#include "RaRadaraLog.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaMath.h"

namespace {

struct FormatName {
  int format;
  const char* name;
};
#define RIDOV_FORMAT(f) {f, #f}
const FormatName kFormatNames[] = {
    RIDOV_FORMAT(D3DFMT_R8G8B8),        RIDOV_FORMAT(D3DFMT_A8R8G8B8),
    RIDOV_FORMAT(D3DFMT_X8R8G8B8),      RIDOV_FORMAT(D3DFMT_R5G6B5),
    RIDOV_FORMAT(D3DFMT_X1R5G5B5),      RIDOV_FORMAT(D3DFMT_A1R5G5B5),
    RIDOV_FORMAT(D3DFMT_A4R4G4B4),      RIDOV_FORMAT(D3DFMT_R3G3B2),
    RIDOV_FORMAT(D3DFMT_A8),            RIDOV_FORMAT(D3DFMT_A8R3G3B2),
    RIDOV_FORMAT(D3DFMT_X4R4G4B4),      RIDOV_FORMAT(D3DFMT_A2B10G10R10),
    RIDOV_FORMAT(D3DFMT_A8B8G8R8),      RIDOV_FORMAT(D3DFMT_X8B8G8R8),
    RIDOV_FORMAT(D3DFMT_G16R16),        RIDOV_FORMAT(D3DFMT_A2R10G10B10),
    RIDOV_FORMAT(D3DFMT_A16B16G16R16),  RIDOV_FORMAT(D3DFMT_A8P8),
    RIDOV_FORMAT(D3DFMT_P8),            RIDOV_FORMAT(D3DFMT_L8),
    RIDOV_FORMAT(D3DFMT_A8L8),          RIDOV_FORMAT(D3DFMT_A4L4),
    RIDOV_FORMAT(D3DFMT_D16_LOCKABLE),  RIDOV_FORMAT(D3DFMT_D32),
    RIDOV_FORMAT(D3DFMT_D15S1),         RIDOV_FORMAT(D3DFMT_D24S8),
    RIDOV_FORMAT(D3DFMT_D24X8),         RIDOV_FORMAT(D3DFMT_D24X4S4),
    RIDOV_FORMAT(D3DFMT_D16),           RIDOV_FORMAT(D3DFMT_L16),
    RIDOV_FORMAT(D3DFMT_D32F_LOCKABLE), RIDOV_FORMAT(D3DFMT_D24FS8),
    RIDOV_FORMAT(D3DFMT_R16F),          RIDOV_FORMAT(D3DFMT_G16R16F),
    RIDOV_FORMAT(D3DFMT_A16B16G16R16F), RIDOV_FORMAT(D3DFMT_R32F),
    RIDOV_FORMAT(D3DFMT_G32R32F),       RIDOV_FORMAT(D3DFMT_A32B32G32R32F),
    RIDOV_FORMAT(D3DFMT_DXT1),          RIDOV_FORMAT(D3DFMT_DXT2),
    RIDOV_FORMAT(D3DFMT_DXT3),          RIDOV_FORMAT(D3DFMT_DXT4),
    RIDOV_FORMAT(D3DFMT_DXT5),
};
#undef RIDOV_FORMAT

UINT Adapter() { return DeviceCaps.adapterSetting > 0 ? static_cast<UINT>(DeviceCaps.adapterSetting) : 0; }

bool DepthUsable(int format) {
  const D3DFORMAT screen = static_cast<D3DFORMAT>(DeviceFormats.screen);
  return CheckDepthStencilMatchOfDirect3D(Adapter(), D3DDEVTYPE_HAL, screen, screen,
                                          static_cast<D3DFORMAT>(format)) == D3D_OK;
}
bool TextureUsable(int format, DWORD usage) {
  return CheckDeviceFormatOfDirect3D(Adapter(), D3DDEVTYPE_HAL,
                                     static_cast<D3DFORMAT>(DeviceFormats.screen), usage,
                                     D3DRTYPE_TEXTURE, static_cast<D3DFORMAT>(format)) == D3D_OK;
}

enum CheckKind { kDepth, kTexture, kTarget };

// The first usable candidate, 0 when none (the list ends at 0).
int ChooseFormat(CheckKind kind, const int* candidates) {
  for (; *candidates; candidates++) {
    const bool usable = kind == kDepth     ? DepthUsable(*candidates)
                        : kind == kTexture ? TextureUsable(*candidates, 0)
                                           : TextureUsable(*candidates, D3DUSAGE_RENDERTARGET);
    if (usable) return *candidates;
  }
  return 0;
}

// An obligatory texture slot: -1 with its message when none is usable.
int ChooseObligatory(int* slot, const int* candidates, const char* line, const char* missing) {
  *slot = ChooseFormat(kTexture, candidates);
  if (!*slot) {
    AddLogText(missing);
    return -1;
  }
  LogPrintf(line, GetD3DFormatName(*slot));
  return 0;
}

int AdapterShaderLevel() {
  D3DCAPS9 caps = {};
  if (GetDeviceCapsOfDirect3D(Adapter(), D3DDEVTYPE_HAL, &caps) != D3D_OK) return 0;
  const DWORD vs = caps.VertexShaderVersion & 0xFFFF, ps = caps.PixelShaderVersion & 0xFFFF;
  if (vs < 0x200 && ps < 0x200) return 0;
  if (vs < 0x300 || ps < 0x300) return 200;
  return 300;
}

int CreateDeviceWithFallbacks() {
  if (CreateDirect3DDevice9() == 0) return 0;
  Screen.colorBits = 32;
  SetMemImgDefaultColorType(1);
  if (CreateDirect3DDevice9() == 0) return 0;
  SetScreenSizeSetting(800, 600);
  if (CreateDirect3DDevice9() == 0) return 0;
  SetScreenSizeSetting(1024, 768);
  if (CreateDirect3DDevice9() == 0) return 0;
  return -1;
}

void FillCaps(const D3DCAPS9& caps) {
  DeviceCaps.maxRenderTargets = caps.NumSimultaneousRTs > 16 ? 16 : static_cast<int>(caps.NumSimultaneousRTs);
  DeviceCaps.textureStageTemp = (caps.PrimitiveMiscCaps & 0x400) != 0;
  DeviceCaps.subtractBlendNative = (caps.PrimitiveMiscCaps & 0x800) != 0;
  const DWORD vs = caps.VertexShaderVersion & 0xFFFF, ps = caps.PixelShaderVersion & 0xFFFF;
  const bool shaders = !DeviceCaps.noShaders;
  DeviceCaps.vertexShader2 = shaders && vs >= 0x200;
  DeviceCaps.pixelShader2 = shaders && ps >= 0x200;
  DeviceCaps.vertexShader3 = shaders && vs >= 0x300;
  DeviceCaps.pixelShader3 = shaders && ps >= 0x300;
  DeviceCaps.powerOfTwoRequired = (caps.TextureCaps & 0x2) != 0;
  DeviceCaps.nonPowerOfTwoConditional = (caps.TextureCaps & 0x100) != 0;
  DeviceCaps.maxTextureWidth = caps.MaxTextureWidth ? static_cast<int>(caps.MaxTextureWidth) : 256;
  DeviceCaps.maxTextureHeight = caps.MaxTextureHeight ? static_cast<int>(caps.MaxTextureHeight) : 256;
  DeviceCaps.maxTextureSize = DeviceCaps.maxTextureWidth < DeviceCaps.maxTextureHeight
                                  ? DeviceCaps.maxTextureWidth
                                  : DeviceCaps.maxTextureHeight;
  DeviceCaps.maxPrimitiveCount = static_cast<int>(caps.MaxPrimitiveCount);
  DeviceCaps.maxVertexIndex = static_cast<int>(caps.MaxVertexIndex);
  DeviceCaps.vertexShaderVersion = caps.VertexShaderVersion;
  DeviceCaps.pixelShaderVersion = caps.PixelShaderVersion;
}

void CopyRows(const D3DLOCKED_RECT& from, const D3DLOCKED_RECT& to, int side, int bytes) {
  for (int y = 0; y < side; y++)
    memcpy(static_cast<char*>(to.pBits) + y * to.Pitch,
           static_cast<const char*>(from.pBits) + y * from.Pitch, static_cast<size_t>(side * bytes));
}

void Release(IDirect3DSurface9** surface) {
  if (*surface) ReleaseComObject(*surface);
  *surface = nullptr;
}

// Way A: lock the back buffer and copy into a system-memory surface.
int64_t TimeBackBufferLock(int side, int bytes) {
  const D3DFORMAT format = static_cast<D3DFORMAT>(DeviceFormats.screen);
  IDirect3DSurface9* system = nullptr;
  int64_t time = -1;
  if (CreateDeviceOffscreenPlainSurface(side, side, format, D3DPOOL_SYSTEMMEM, &system, nullptr) == D3D_OK) {
    const int64_t start = Direct3DCalls->GetMicroseconds();
    D3DLOCKED_RECT to = {}, from = {};
    const RECT area = {0, 0, side, side};
    if (LockSurfaceRect(system, &to, nullptr, 0) == D3D_OK) {
      if (LockSurfaceRect(DeviceLayer.backBuffer, &from, &area, D3DLOCK_READONLY) == D3D_OK) {
        CopyRows(from, to, side, bytes);
        UnlockSurfaceRect(DeviceLayer.backBuffer);
        time = Direct3DCalls->GetMicroseconds() - start;
      }
      UnlockSurfaceRect(system);
    }
  }
  Release(&system);
  return time;
}

// Way B: stretch into a render target, fetch it, lock the copy.
int64_t TimeRenderTargetCopy(int side, int bytes) {
  const D3DFORMAT format = static_cast<D3DFORMAT>(DeviceFormats.screen);
  IDirect3DSurface9 *target = nullptr, *system = nullptr, *copy = nullptr;
  int64_t time = -1;
  const RECT area = {0, 0, side, side};
  if (CreateDeviceRenderTarget(side, side, format, D3DMULTISAMPLE_NONE, 0, FALSE, &target, nullptr) == D3D_OK &&
      CreateDeviceOffscreenPlainSurface(side, side, format, D3DPOOL_SYSTEMMEM, &system, nullptr) == D3D_OK &&
      CreateDeviceOffscreenPlainSurface(side, side, format, D3DPOOL_SYSTEMMEM, &copy, nullptr) == D3D_OK) {
    const int64_t start = Direct3DCalls->GetMicroseconds();
    D3DLOCKED_RECT from = {}, to = {};
    if (StretchDeviceRect(DeviceLayer.backBuffer, &area, target, nullptr, D3DTEXF_NONE) == D3D_OK &&
        GetDeviceRenderTargetData(target, system) == D3D_OK &&
        LockSurfaceRect(system, &from, nullptr, D3DLOCK_READONLY) == D3D_OK) {
      if (LockSurfaceRect(copy, &to, nullptr, 0) == D3D_OK) {
        CopyRows(from, to, side, bytes);
        UnlockSurfaceRect(copy);
        time = Direct3DCalls->GetMicroseconds() - start;
      }
      UnlockSurfaceRect(system);
    }
  }
  Release(&copy);
  Release(&system);
  Release(&target);
  return time;
}

void ChooseBackBufferReadWay() {
  int side = 256;
  while (side > 1 && (side > Screen.width || side > Screen.height)) side /= 2;
  const int bytes = GetD3DFormatBytes(DeviceFormats.screen);
  int64_t lockTime = -1, copyTime = -1;
  for (int pass = 0; pass < 3; pass++) {
    lockTime = bytes ? TimeBackBufferLock(side, bytes) : -1;
    copyTime = bytes ? TimeRenderTargetCopy(side, bytes) : -1;
  }
  DeviceCaps.useBackBufferLock = 0;
  if (lockTime < 0) {
    AddLogText("バックバッファロックはロックできません\n");
    return;
  }
  if (copyTime < 0) {
    DeviceCaps.useBackBufferLock = 1;
    AddLogText("バックバッファロックを使用します\n");
    return;
  }
  LogPrintf("バックバッファロック転送の時間:%dnsec  一時的な描画可能バッファを使用した転送の時間:%dnsec",
            static_cast<int>(lockTime), static_cast<int>(copyTime));
  DeviceCaps.useBackBufferLock = lockTime < copyTime;
  AddLogText(DeviceCaps.useBackBufferLock ? "バックバッファロックを使用します\n"
                                          : "バックバッファロックを使用しません\n");
}

}  // namespace

const char* GetD3DFormatName(int format) {
  for (const FormatName& entry : kFormatNames)
    if (entry.format == format) return entry.name;
  return "D3DFMT_UNKNOWN";
}

int GetD3DFormatBytes(int format) {
  switch (format) {
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8R8G8B8:
      return 4;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
      return 2;
    default:
      return 0;
  }
}

int ProbeDeviceCapsAndFormats() {
  if (!HasDirect3DObject()) return -1;
  // Surfaces of an earlier device hold it: they go first.
  Release(&DeviceLayer.backBuffer);
  Release(&DeviceLayer.subBackBuffer);
  Release(&DeviceLayer.depthBuffer);
  ReleaseDirect3DDevice();
  DeviceLayer.sceneBegun = 0;
  if (AdapterShaderLevel() < 200) {
    DeviceLayer.multiSampleType = 0;
    DeviceLayer.multiSampleQuality = 0;
  }
  if (CreateDeviceWithFallbacks() < 0) return -1;

  MeasureRefreshPeriod();

  GetDeviceBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &DeviceLayer.backBuffer);
  AddLogText("成功\n");
  D3DCAPS9 caps = {};
  GetDeviceCapsOfDevice(&caps);
  FillCaps(caps);

  D3DADAPTER_IDENTIFIER9 id = {};
  GetAdapterIdentifierOfDirect3D(Adapter(), 0, &id);
  LogPrintf("Driver:%s  Description:%s", id.Driver, id.Description);

  D3DDISPLAYMODE mode = {};
  GetAdapterDisplayModeOfDirect3D(Adapter(), &mode);
  DeviceFormats.screen = mode.Format;
  if (mode.Format == D3DFMT_X8R8G8B8 || mode.Format == D3DFMT_R5G6B5 || mode.Format == D3DFMT_X1R5G5B5)
    LogPrintf("画面のフォーマットは %s です", GetD3DFormatName(mode.Format));
  else
    LogPrintf("バックバッファが対応していないフォーマット %d です", static_cast<int>(mode.Format));

  DeviceFormats.z16 = D3DFMT_D16;
  LogPrintf("16bit Zバッファフォーマットは %s です", GetD3DFormatName(DeviceFormats.z16));
  static const int z24[] = {D3DFMT_D24X8, D3DFMT_D32, D3DFMT_D16, 0};
  DeviceFormats.z24 = ChooseFormat(kDepth, z24);
  if (!DeviceFormats.z24) DeviceFormats.z24 = D3DFMT_D16;
  LogPrintf("24bit Zバッファフォーマットは %s です", GetD3DFormatName(DeviceFormats.z24));
  static const int z32[] = {D3DFMT_D32, D3DFMT_D24X8, D3DFMT_D16, 0};
  DeviceFormats.z32 = ChooseFormat(kDepth, z32);
  LogPrintf("32bit Zバッファフォーマットは %s です", GetD3DFormatName(DeviceFormats.z32));

  static const int color16[] = {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, 0};
  if (ChooseObligatory(&DeviceFormats.color16, color16, "16bit カラーフォーマットは %s です",
                       "使用できる 16bit カラーフォーマットが見つかりませんでした\n") < 0)
    return -1;
  static const int color32[] = {D3DFMT_X8R8G8B8, 0};
  DeviceFormats.color32 = ChooseFormat(kTexture, color32);
  if (!DeviceFormats.color32) DeviceFormats.color32 = DeviceFormats.color16;
  LogPrintf("32bit カラーフォーマットは %s です", GetD3DFormatName(DeviceFormats.color32));
  static const int alpha16[] = {D3DFMT_A4R4G4B4, D3DFMT_A8R8G8B8, 0};
  static const int alpha32[] = {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, 0};
  static const int test16[] = {D3DFMT_A1R5G5B5, D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, 0};
  static const int test32[] = {D3DFMT_A8R8G8B8, D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4, 0};
  if (ChooseObligatory(&DeviceFormats.alpha16, alpha16, "アルファ付き 16bit カラーフォーマットは %s です",
                       "使用できるアルファ付き 16bit カラーフォーマットが見つかりませんでした\n") < 0 ||
      ChooseObligatory(&DeviceFormats.alpha32, alpha32, "アルファ付き 32bit カラーフォーマットは %s です",
                       "使用できるアルファ付き 32bit カラーフォーマットが見つかりませんでした\n") < 0 ||
      ChooseObligatory(&DeviceFormats.alphaTest16, test16,
                       "アルファテスト用 16bit カラーフォーマットは %s です",
                       "使用できるアルファテスト用 16bit カラーフォーマットが見つかりませんでした\n") < 0 ||
      ChooseObligatory(&DeviceFormats.alphaTest32, test32,
                       "アルファテスト用 32bit カラーフォーマットは %s です",
                       "使用できるアルファテスト用 32bit カラーフォーマットが見つかりませんでした\n") < 0)
    return -1;

  static const char* const kDxtLines[5] = {"ＤＸＴ１テクスチャフォーマットは%s", "ＤＸＴ２テクスチャフォーマットは%s",
                                           "ＤＸＴ３テクスチャフォーマットは%s", "ＤＸＴ４テクスチャフォーマットは%s",
                                           "ＤＸＴ５テクスチャフォーマットは%s"};
  static const char* const kDxtNames[5] = {"D3DFMT_DXT1 です", "D3DFMT_DXT2 です", "D3DFMT_DXT3 です",
                                           "D3DFMT_DXT4 です", "D3DFMT_DXT5 です"};
  static const int kDxt[5] = {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5};
  for (int i = 0; i < 5; i++) {
    const bool usable = TextureUsable(kDxt[i], 0);
    DeviceFormats.dxt[i] = usable ? kDxt[i] : i == 0 ? DeviceFormats.alphaTest16 : DeviceFormats.alpha32;
    LogPrintf(kDxtLines[i], usable ? kDxtNames[i] : "使えません");
  }

  static const int target16Screen565[] = {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_X8R8G8B8, 0};
  static const int target16Other[] = {D3DFMT_X1R5G5B5, D3DFMT_R5G6B5, D3DFMT_X8R8G8B8, 0};
  static const int target32[] = {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, 0};
  static const int targetAlpha32[] = {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, 0};
  static const int abgrInt16[] = {D3DFMT_A16B16G16R16, 0};
  static const int abgrFloat16[] = {D3DFMT_A16B16G16R16F, 0};
  static const int abgrFloat32[] = {D3DFMT_A32B32G32R32F, D3DFMT_A16B16G16R16F, 0};
  static const int oneInt8[] = {D3DFMT_L8, D3DFMT_A8L8, D3DFMT_A8R8G8B8, 0};
  static const int oneInt16[] = {D3DFMT_L16, D3DFMT_G16R16, D3DFMT_A16B16G16R16, 0};
  static const int oneFloat16[] = {D3DFMT_R16F, D3DFMT_G16R16F, D3DFMT_A16B16G16R16F, D3DFMT_A32B32G32R32F, 0};
  static const int oneFloat32[] = {D3DFMT_R32F, D3DFMT_G32R32F, D3DFMT_A32B32G32R32F, D3DFMT_A16B16G16R16F, 0};
  static const int twoInt8[] = {D3DFMT_A8L8, D3DFMT_A8R8G8B8, 0};
  static const int twoInt16[] = {D3DFMT_G16R16, D3DFMT_A16B16G16R16, 0};
  static const int twoFloat16[] = {D3DFMT_G16R16F, D3DFMT_A16B16G16R16F, D3DFMT_A32B32G32R32F, 0};
  static const int twoFloat32[] = {D3DFMT_G32R32F, D3DFMT_A32B32G32R32F, D3DFMT_A16B16G16R16F, 0};
  // Render-target slots: the kind of each names it in its two log lines.
  const struct {
    int* slot;
    const int* candidates;
    const char* kind;
  } targets[] = {
      {&DeviceFormats.target16, DeviceFormats.screen == D3DFMT_R5G6B5 ? target16Screen565 : target16Other,
       " 16bit "},
      {&DeviceFormats.target32, target32, " 32bit "},
      {&DeviceFormats.targetAlpha32, targetAlpha32, "アルファ付き 32bit "},
      {&DeviceFormats.abgrInt16, abgrInt16, "ABGR整数16ビット型"},
      {&DeviceFormats.abgrFloat16, abgrFloat16, "ABGR浮動小数点16ビット型"},
      {&DeviceFormats.abgrFloat32, abgrFloat32, "ABGR浮動小数点32ビット型"},
      {&DeviceFormats.oneInt8, oneInt8, "１チャンネル整数8ビット型"},
      {&DeviceFormats.oneInt16, oneInt16, "１チャンネル整数16ビット型"},
      {&DeviceFormats.oneFloat16, oneFloat16, "１チャンネル浮動小数点16ビット型"},
      {&DeviceFormats.oneFloat32, oneFloat32, "１チャンネル浮動小数点32ビット型"},
      {&DeviceFormats.twoInt8, twoInt8, "２チャンネル整数8ビット型"},
      {&DeviceFormats.twoInt16, twoInt16, "２チャンネル整数16ビット型"},
      {&DeviceFormats.twoFloat16, twoFloat16, "２チャンネル浮動小数点16ビット型"},
      {&DeviceFormats.twoFloat32, twoFloat32, "２チャンネル浮動小数点32ビット型"},
  };
  for (const auto& target : targets) {
    *target.slot = ChooseFormat(kTarget, target.candidates);
    if (*target.slot)
      LogPrintf("描画用%sカラーフォーマットは %s です", target.kind, GetD3DFormatName(*target.slot));
    else
      LogPrintf("使用できる描画用%sカラーフォーマットがありませんでした", target.kind);
  }

  const bool bits32 = Screen.colorBits == 32;
  DeviceFormats.defaultTarget = bits32 ? DeviceFormats.target32 : DeviceFormats.target16;
  DeviceFormats.defaultAlphaTest = bits32 ? DeviceFormats.alphaTest32 : DeviceFormats.alphaTest16;

  LogPrintf("一度に描画できるプリミティブの最大数:%d", DeviceCaps.maxPrimitiveCount);
  LogPrintf("対応している最大頂点インデックス:%d", DeviceCaps.maxVertexIndex);
  LogPrintf("同時にレンダリングできるバッファの数:%d", DeviceCaps.maxRenderTargets);
  LogPrintf("最大テクスチャサイズ　幅:%d 高さ:%d", DeviceCaps.maxTextureWidth, DeviceCaps.maxTextureHeight);
  LogPrintf("テクスチャステージテンポラリレジスタ：%s", DeviceCaps.textureStageTemp ? "使用可" : "使用不可");
  LogPrintf("減算合成のハードウェア対応：%s", DeviceCaps.subtractBlendNative ? "ネイティブ" : "エミュレート");
  if (DeviceLayer.hardwareVertexProcessing) {
    LogPrintf("ハードウェア頂点シェーダーバージョンコード：%x", static_cast<unsigned>(caps.VertexShaderVersion));
    AddLogText("エミュレーション頂点シェーダーバージョンコード：エミュレーション無し\n");
  } else {
    LogPrintf("ハードウェア頂点シェーダーバージョンコード：%x", static_cast<unsigned>(DeviceLayer.vertexShaderVersion));
    LogPrintf("エミュレーション頂点シェーダーバージョンコード：%x", static_cast<unsigned>(caps.VertexShaderVersion));
  }
  LogPrintf("ピクセルシェーダーバージョンコード：%x", static_cast<unsigned>(caps.PixelShaderVersion));

  ChooseBackBufferReadWay();
  return 0;
}
