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

// Log texts.
const char LOG_BACK_BUFFER_LOCK_UNUSABLE[] = "バックバッファロックはロックできません";
const char LOG_BACK_BUFFER_LOCK_USED[] = "バックバッファロックを使用します";
const char LOG_BACK_BUFFER_LOCK_NOT_USED[] = "バックバッファロックを使用しません";
const char LOG_TRANSFER_TIMES[] =
    "バックバッファロック転送の時間:%dnsec  一時的な描画可能バッファを使用した転送の時間:%dnsec";
const char LOG_SUCCEEDED[] = "成功";
const char LOG_DRIVER[] = "Driver:%s  Description:%s";
const char LOG_SCREEN_FORMAT[] = "画面のフォーマットは %s です";
const char LOG_SCREEN_FORMAT_UNSUPPORTED[] = "バックバッファが対応していないフォーマット %d です";
const char LOG_Z16_FORMAT[] = "16bit Zバッファフォーマットは %s です";
const char LOG_Z24_FORMAT[] = "24bit Zバッファフォーマットは %s です";
const char LOG_Z32_FORMAT[] = "32bit Zバッファフォーマットは %s です";
const char LOG_COLOR16_FORMAT[] = "16bit カラーフォーマットは %s です";
const char LOG_NO_COLOR16_FORMAT[] = "使用できる 16bit カラーフォーマットが見つかりませんでした";
const char LOG_COLOR32_FORMAT[] = "32bit カラーフォーマットは %s です";
const char LOG_ALPHA16_FORMAT[] = "アルファ付き 16bit カラーフォーマットは %s です";
const char LOG_NO_ALPHA16_FORMAT[] = "使用できるアルファ付き 16bit カラーフォーマットが見つかりませんでした";
const char LOG_ALPHA32_FORMAT[] = "アルファ付き 32bit カラーフォーマットは %s です";
const char LOG_NO_ALPHA32_FORMAT[] = "使用できるアルファ付き 32bit カラーフォーマットが見つかりませんでした";
const char LOG_ALPHA_TEST16_FORMAT[] = "アルファテスト用 16bit カラーフォーマットは %s です";
const char LOG_NO_ALPHA_TEST16_FORMAT[] = "使用できるアルファテスト用 16bit カラーフォーマットが見つかりませんでした";
const char LOG_ALPHA_TEST32_FORMAT[] = "アルファテスト用 32bit カラーフォーマットは %s です";
const char LOG_NO_ALPHA_TEST32_FORMAT[] = "使用できるアルファテスト用 32bit カラーフォーマットが見つかりませんでした";
const char LOG_TARGET_FORMAT[] = "描画用%sカラーフォーマットは %s です";
const char LOG_NO_TARGET_FORMAT[] = "使用できる描画用%sカラーフォーマットがありませんでした";
const char LOG_MAX_PRIMITIVES[] = "一度に描画できるプリミティブの最大数:%d";
const char LOG_MAX_VERTEX_INDEX[] = "対応している最大頂点インデックス:%d";
const char LOG_MAX_RENDER_TARGETS[] = "同時にレンダリングできるバッファの数:%d";
const char LOG_MAX_TEXTURE_SIZE[] = "最大テクスチャサイズ　幅:%d 高さ:%d";
const char LOG_TEXTURE_STAGE_TEMP[] = "テクスチャステージテンポラリレジスタ：%s";
const char LOG_SUBTRACT_BLEND[] = "減算合成のハードウェア対応：%s";
const char LOG_HARDWARE_VERTEX_SHADER[] = "ハードウェア頂点シェーダーバージョンコード：%x";
const char LOG_NO_EMULATED_VERTEX_SHADER[] = "エミュレーション頂点シェーダーバージョンコード：エミュレーション無し";
const char LOG_EMULATED_VERTEX_SHADER[] = "エミュレーション頂点シェーダーバージョンコード：%x";
const char LOG_PIXEL_SHADER[] = "ピクセルシェーダーバージョンコード：%x";

const char* const LOG_DXT_FORMATS[5] = {"ＤＸＴ１テクスチャフォーマットは%s", "ＤＸＴ２テクスチャフォーマットは%s",
                                        "ＤＸＴ３テクスチャフォーマットは%s", "ＤＸＴ４テクスチャフォーマットは%s",
                                        "ＤＸＴ５テクスチャフォーマットは%s"};

struct FormatName {
  int format;
  const char* name;
};
#define RIDOV_FORMAT(f) \
  { f, #f }
const FormatName FORMAT_NAMES[] = {
    RIDOV_FORMAT(D3DFMT_R8G8B8),
    RIDOV_FORMAT(D3DFMT_A8R8G8B8),
    RIDOV_FORMAT(D3DFMT_X8R8G8B8),
    RIDOV_FORMAT(D3DFMT_R5G6B5),
    RIDOV_FORMAT(D3DFMT_X1R5G5B5),
    RIDOV_FORMAT(D3DFMT_A1R5G5B5),
    RIDOV_FORMAT(D3DFMT_A4R4G4B4),
    RIDOV_FORMAT(D3DFMT_R3G3B2),
    RIDOV_FORMAT(D3DFMT_A8),
    RIDOV_FORMAT(D3DFMT_A8R3G3B2),
    RIDOV_FORMAT(D3DFMT_X4R4G4B4),
    RIDOV_FORMAT(D3DFMT_A2B10G10R10),
    RIDOV_FORMAT(D3DFMT_A8B8G8R8),
    RIDOV_FORMAT(D3DFMT_X8B8G8R8),
    RIDOV_FORMAT(D3DFMT_G16R16),
    RIDOV_FORMAT(D3DFMT_A2R10G10B10),
    RIDOV_FORMAT(D3DFMT_A16B16G16R16),
    RIDOV_FORMAT(D3DFMT_A8P8),
    RIDOV_FORMAT(D3DFMT_P8),
    RIDOV_FORMAT(D3DFMT_L8),
    RIDOV_FORMAT(D3DFMT_A8L8),
    RIDOV_FORMAT(D3DFMT_A4L4),
    RIDOV_FORMAT(D3DFMT_D16_LOCKABLE),
    RIDOV_FORMAT(D3DFMT_D32),
    RIDOV_FORMAT(D3DFMT_D15S1),
    RIDOV_FORMAT(D3DFMT_D24S8),
    RIDOV_FORMAT(D3DFMT_D24X8),
    RIDOV_FORMAT(D3DFMT_D24X4S4),
    RIDOV_FORMAT(D3DFMT_D16),
    RIDOV_FORMAT(D3DFMT_L16),
    RIDOV_FORMAT(D3DFMT_D32F_LOCKABLE),
    RIDOV_FORMAT(D3DFMT_D24FS8),
    RIDOV_FORMAT(D3DFMT_R16F),
    RIDOV_FORMAT(D3DFMT_G16R16F),
    RIDOV_FORMAT(D3DFMT_A16B16G16R16F),
    RIDOV_FORMAT(D3DFMT_R32F),
    RIDOV_FORMAT(D3DFMT_G32R32F),
    RIDOV_FORMAT(D3DFMT_A32B32G32R32F),
    RIDOV_FORMAT(D3DFMT_DXT1),
    RIDOV_FORMAT(D3DFMT_DXT2),
    RIDOV_FORMAT(D3DFMT_DXT3),
    RIDOV_FORMAT(D3DFMT_DXT4),
    RIDOV_FORMAT(D3DFMT_DXT5),
};
#undef RIDOV_FORMAT

UINT Adapter() { return DeviceCaps.adapterSetting > 0 ? static_cast<UINT>(DeviceCaps.adapterSetting) : 0; }

bool DepthUsable(int format) {
  const D3DFORMAT screen = static_cast<D3DFORMAT>(DeviceFormats.screen);
  return CheckDepthStencilMatchOfDirect3D(Adapter(), D3DDEVTYPE_HAL, screen, screen, static_cast<D3DFORMAT>(format)) ==
         D3D_OK;
}
bool TextureUsable(int format, DWORD usage) {
  return CheckDeviceFormatOfDirect3D(Adapter(), D3DDEVTYPE_HAL, static_cast<D3DFORMAT>(DeviceFormats.screen), usage,
                                     D3DRTYPE_TEXTURE, static_cast<D3DFORMAT>(format)) == D3D_OK;
}

enum CheckKind { CHECK_DEPTH, CHECK_TEXTURE, CHECK_TARGET };

// The first usable candidate, 0 when none (the list ends at 0).
int ChooseFormat(CheckKind kind, const int* candidates) {
  for (; *candidates; candidates++) {
    const bool usable = kind == CHECK_DEPTH     ? DepthUsable(*candidates)
                        : kind == CHECK_TEXTURE ? TextureUsable(*candidates, 0)
                                                : TextureUsable(*candidates, D3DUSAGE_RENDERTARGET);
    if (usable) return *candidates;
  }
  return 0;
}

// An obligatory texture slot: -1 with its message when none is usable.
int ChooseObligatory(int* slot, const int* candidates, const char* line, const char* missing) {
  *slot = ChooseFormat(CHECK_TEXTURE, candidates);
  if (!*slot) {
    LogPrintf(missing);
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
  DeviceCaps.squareOnly = (caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) != 0;
  DeviceCaps.maxTextureWidth = caps.MaxTextureWidth ? static_cast<int>(caps.MaxTextureWidth) : 256;
  DeviceCaps.maxTextureHeight = caps.MaxTextureHeight ? static_cast<int>(caps.MaxTextureHeight) : 256;
  DeviceCaps.maxTextureSize = DeviceCaps.maxTextureWidth < DeviceCaps.maxTextureHeight ? DeviceCaps.maxTextureWidth
                                                                                       : DeviceCaps.maxTextureHeight;
  DeviceCaps.maxPrimitiveCount = static_cast<int>(caps.MaxPrimitiveCount);
  DeviceCaps.maxVertexIndex = static_cast<int>(caps.MaxVertexIndex);
  DeviceCaps.vertexShaderVersion = caps.VertexShaderVersion;
  DeviceCaps.pixelShaderVersion = caps.PixelShaderVersion;
}

void CopyRows(const D3DLOCKED_RECT& from, const D3DLOCKED_RECT& to, int side, int bytes) {
  for (int y = 0; y < side; y++)
    memcpy(static_cast<char*>(to.pBits) + y * to.Pitch, static_cast<const char*>(from.pBits) + y * from.Pitch,
           static_cast<size_t>(side * bytes));
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
    LogPrintf(LOG_BACK_BUFFER_LOCK_UNUSABLE);
    return;
  }
  if (copyTime < 0) {
    DeviceCaps.useBackBufferLock = 1;
    LogPrintf(LOG_BACK_BUFFER_LOCK_USED);
    return;
  }
  LogPrintf(LOG_TRANSFER_TIMES, static_cast<int>(lockTime), static_cast<int>(copyTime));
  DeviceCaps.useBackBufferLock = lockTime < copyTime;
  LogPrintf(DeviceCaps.useBackBufferLock ? LOG_BACK_BUFFER_LOCK_USED : LOG_BACK_BUFFER_LOCK_NOT_USED);
}

}  // namespace

const char* GetD3DFormatName(int format) {
  for (const FormatName& entry : FORMAT_NAMES)
    if (entry.format == format) return entry.name;
  return "D3DFMT_UNKNOWN";
}

int GetD3DFormatBytes(int format) {
  switch (format) {
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8R8G8B8: return 4;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: return 2;
    default: return 0;
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
  LogPrintf(LOG_SUCCEEDED);
  D3DCAPS9 caps = {};
  GetDeviceCapsOfDevice(&caps);
  FillCaps(caps);

  D3DADAPTER_IDENTIFIER9 id = {};
  GetAdapterIdentifierOfDirect3D(Adapter(), 0, &id);
  LogPrintf(LOG_DRIVER, id.Driver, id.Description);

  D3DDISPLAYMODE mode = {};
  GetAdapterDisplayModeOfDirect3D(Adapter(), &mode);
  DeviceFormats.screen = mode.Format;
  if (mode.Format == D3DFMT_X8R8G8B8 || mode.Format == D3DFMT_R5G6B5 || mode.Format == D3DFMT_X1R5G5B5)
    LogPrintf(LOG_SCREEN_FORMAT, GetD3DFormatName(mode.Format));
  else LogPrintf(LOG_SCREEN_FORMAT_UNSUPPORTED, static_cast<int>(mode.Format));

  DeviceFormats.z16 = D3DFMT_D16;
  LogPrintf(LOG_Z16_FORMAT, GetD3DFormatName(DeviceFormats.z16));
  static const int Z24[] = {D3DFMT_D24X8, D3DFMT_D32, D3DFMT_D16, 0};
  DeviceFormats.z24 = ChooseFormat(CHECK_DEPTH, Z24);
  if (!DeviceFormats.z24) DeviceFormats.z24 = D3DFMT_D16;
  LogPrintf(LOG_Z24_FORMAT, GetD3DFormatName(DeviceFormats.z24));
  static const int Z32[] = {D3DFMT_D32, D3DFMT_D24X8, D3DFMT_D16, 0};
  DeviceFormats.z32 = ChooseFormat(CHECK_DEPTH, Z32);
  LogPrintf(LOG_Z32_FORMAT, GetD3DFormatName(DeviceFormats.z32));

  static const int COLOR16[] = {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, 0};
  if (ChooseObligatory(&DeviceFormats.color16, COLOR16, LOG_COLOR16_FORMAT, LOG_NO_COLOR16_FORMAT) < 0) return -1;
  static const int COLOR32[] = {D3DFMT_X8R8G8B8, 0};
  DeviceFormats.color32 = ChooseFormat(CHECK_TEXTURE, COLOR32);
  if (!DeviceFormats.color32) DeviceFormats.color32 = DeviceFormats.color16;
  LogPrintf(LOG_COLOR32_FORMAT, GetD3DFormatName(DeviceFormats.color32));
  static const int ALPHA16[] = {D3DFMT_A4R4G4B4, D3DFMT_A8R8G8B8, 0};
  static const int ALPHA32[] = {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, 0};
  static const int TEST16[] = {D3DFMT_A1R5G5B5, D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, 0};
  static const int TEST32[] = {D3DFMT_A8R8G8B8, D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4, 0};
  if (ChooseObligatory(&DeviceFormats.alpha16, ALPHA16, LOG_ALPHA16_FORMAT, LOG_NO_ALPHA16_FORMAT) < 0 ||
      ChooseObligatory(&DeviceFormats.alpha32, ALPHA32, LOG_ALPHA32_FORMAT, LOG_NO_ALPHA32_FORMAT) < 0 ||
      ChooseObligatory(&DeviceFormats.alphaTest16, TEST16, LOG_ALPHA_TEST16_FORMAT, LOG_NO_ALPHA_TEST16_FORMAT) < 0 ||
      ChooseObligatory(&DeviceFormats.alphaTest32, TEST32, LOG_ALPHA_TEST32_FORMAT, LOG_NO_ALPHA_TEST32_FORMAT) < 0)
    return -1;

  static const char* const DXT_NAMES[5] = {"D3DFMT_DXT1 です", "D3DFMT_DXT2 です", "D3DFMT_DXT3 です",
                                           "D3DFMT_DXT4 です", "D3DFMT_DXT5 です"};
  static const int DXT_FORMATS[5] = {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5};
  for (int i = 0; i < 5; i++) {
    const bool usable = TextureUsable(DXT_FORMATS[i], 0);
    DeviceFormats.dxt[i] = usable ? DXT_FORMATS[i] : i == 0 ? DeviceFormats.alphaTest16 : DeviceFormats.alpha32;
    LogPrintf(LOG_DXT_FORMATS[i], usable ? DXT_NAMES[i] : "使えません");
  }

  static const int TARGET16_SCREEN565[] = {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, D3DFMT_X8R8G8B8, 0};
  static const int TARGET16_OTHER[] = {D3DFMT_X1R5G5B5, D3DFMT_R5G6B5, D3DFMT_X8R8G8B8, 0};
  static const int TARGET32[] = {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_X1R5G5B5, 0};
  static const int TARGET_ALPHA32[] = {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4, 0};
  static const int ABGR_INT16[] = {D3DFMT_A16B16G16R16, 0};
  static const int ABGR_FLOAT16[] = {D3DFMT_A16B16G16R16F, 0};
  static const int ABGR_FLOAT32[] = {D3DFMT_A32B32G32R32F, D3DFMT_A16B16G16R16F, 0};
  static const int ONE_INT8[] = {D3DFMT_L8, D3DFMT_A8L8, D3DFMT_A8R8G8B8, 0};
  static const int ONE_INT16[] = {D3DFMT_L16, D3DFMT_G16R16, D3DFMT_A16B16G16R16, 0};
  static const int ONE_FLOAT16[] = {D3DFMT_R16F, D3DFMT_G16R16F, D3DFMT_A16B16G16R16F, D3DFMT_A32B32G32R32F, 0};
  static const int ONE_FLOAT32[] = {D3DFMT_R32F, D3DFMT_G32R32F, D3DFMT_A32B32G32R32F, D3DFMT_A16B16G16R16F, 0};
  static const int TWO_INT8[] = {D3DFMT_A8L8, D3DFMT_A8R8G8B8, 0};
  static const int TWO_INT16[] = {D3DFMT_G16R16, D3DFMT_A16B16G16R16, 0};
  static const int TWO_FLOAT16[] = {D3DFMT_G16R16F, D3DFMT_A16B16G16R16F, D3DFMT_A32B32G32R32F, 0};
  static const int TWO_FLOAT32[] = {D3DFMT_G32R32F, D3DFMT_A32B32G32R32F, D3DFMT_A16B16G16R16F, 0};
  // Render-target slots: the kind of each names it in its two log lines.
  const struct {
    int* slot;
    const int* candidates;
    const char* kind;
  } targets[] = {
      {&DeviceFormats.target16, DeviceFormats.screen == D3DFMT_R5G6B5 ? TARGET16_SCREEN565 : TARGET16_OTHER, " 16bit "},
      {&DeviceFormats.target32, TARGET32, " 32bit "},
      {&DeviceFormats.targetAlpha32, TARGET_ALPHA32, "アルファ付き 32bit "},
      {&DeviceFormats.abgrInt16, ABGR_INT16, "ABGR整数16ビット型"},
      {&DeviceFormats.abgrFloat16, ABGR_FLOAT16, "ABGR浮動小数点16ビット型"},
      {&DeviceFormats.abgrFloat32, ABGR_FLOAT32, "ABGR浮動小数点32ビット型"},
      {&DeviceFormats.oneInt8, ONE_INT8, "１チャンネル整数8ビット型"},
      {&DeviceFormats.oneInt16, ONE_INT16, "１チャンネル整数16ビット型"},
      {&DeviceFormats.oneFloat16, ONE_FLOAT16, "１チャンネル浮動小数点16ビット型"},
      {&DeviceFormats.oneFloat32, ONE_FLOAT32, "１チャンネル浮動小数点32ビット型"},
      {&DeviceFormats.twoInt8, TWO_INT8, "２チャンネル整数8ビット型"},
      {&DeviceFormats.twoInt16, TWO_INT16, "２チャンネル整数16ビット型"},
      {&DeviceFormats.twoFloat16, TWO_FLOAT16, "２チャンネル浮動小数点16ビット型"},
      {&DeviceFormats.twoFloat32, TWO_FLOAT32, "２チャンネル浮動小数点32ビット型"},
  };
  for (const auto& target : targets) {
    *target.slot = ChooseFormat(CHECK_TARGET, target.candidates);
    if (*target.slot) LogPrintf(LOG_TARGET_FORMAT, target.kind, GetD3DFormatName(*target.slot));
    else LogPrintf(LOG_NO_TARGET_FORMAT, target.kind);
  }

  const bool bits32 = Screen.colorBits == 32;
  DeviceFormats.defaultTarget = bits32 ? DeviceFormats.target32 : DeviceFormats.target16;
  DeviceFormats.defaultAlphaTest = bits32 ? DeviceFormats.alphaTest32 : DeviceFormats.alphaTest16;

  LogPrintf(LOG_MAX_PRIMITIVES, DeviceCaps.maxPrimitiveCount);
  LogPrintf(LOG_MAX_VERTEX_INDEX, DeviceCaps.maxVertexIndex);
  LogPrintf(LOG_MAX_RENDER_TARGETS, DeviceCaps.maxRenderTargets);
  LogPrintf(LOG_MAX_TEXTURE_SIZE, DeviceCaps.maxTextureWidth, DeviceCaps.maxTextureHeight);
  LogPrintf(LOG_TEXTURE_STAGE_TEMP, DeviceCaps.textureStageTemp ? "使用可" : "使用不可");
  LogPrintf(LOG_SUBTRACT_BLEND, DeviceCaps.subtractBlendNative ? "ネイティブ" : "エミュレート");
  if (DeviceLayer.hardwareVertexProcessing) {
    LogPrintf(LOG_HARDWARE_VERTEX_SHADER, static_cast<unsigned>(caps.VertexShaderVersion));
    LogPrintf(LOG_NO_EMULATED_VERTEX_SHADER);
  } else {
    LogPrintf(LOG_HARDWARE_VERTEX_SHADER, static_cast<unsigned>(DeviceLayer.vertexShaderVersion));
    LogPrintf(LOG_EMULATED_VERTEX_SHADER, static_cast<unsigned>(caps.VertexShaderVersion));
  }
  LogPrintf(LOG_PIXEL_SHADER, static_cast<unsigned>(caps.PixelShaderVersion));

  ChooseBackBufferReadWay();
  return 0;
}
