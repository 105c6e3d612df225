// Direct3D loading and device creation, the vertical-blank measurement and
// timed wait, the window timer, the library-wide end-request, dialog-box and
// asynchronous-load flags, the formatted fatal error, display-mode changes
// and the device resources made right after the probe (Z buffer, sub back
// buffer, scene guards).
// Threads: main thread only; loading workers reach the device through the
// main-thread pairs of the call table.
// Platform (all through the device call table): d3d9.dll by name and its
// Direct3DCreate9, IDirect3D9::CreateDevice, DirectDraw 7 for
// WaitForVerticalBlank, ChangeDisplaySettingsA / EnumDisplaySettingsA;
// SetTimer / KillTimer directly.
#include "VuViderezaDevice.h"

#include <ddraw.h>
#include <stdarg.h>
#include <stdio.h>

#include "RaRadaraLog.h"
#include "RaRadaraSysInfo.h"
#include "RaRadaraSystem.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaGraphics.h"

namespace {

const char LOG_D3D9_LOAD_FAILED[] = "d3d9.dll の読み込みに失敗しました";
const char LOG_D3D9_RELEASE_1[] = "Direct3D9 DLL の解放 1";
const char LOG_DDRAW_GET[] = "DirectDraw オブジェクトの取得を行います....  ";
const char LOG_DDRAW_GET_FAILED[] = "オブジェクトの取得に失敗しました";
const char LOG_SUCCESS[] = "成功";
const char LOG_INIT_CONTINUE[] = "引き続き初期化処理... ";
const char LOG_DDRAW_INIT_FAILED[] = "DirectDrawオブジェクトの初期化に失敗しました";
const char LOG_INIT_DONE[] = "初期化に成功しました";
const char LOG_D3D9_GET[] = "IDirect3D9 オブジェクトを取得します.... ";
const char LOG_CREATE9_ADDRESS_FAILED[] = "Direct3DCreate9 APIのアドレス取得に失敗しました";
const char LOG_D3D9_GET_FAILED[] = "IDirect3D9 オブジェクトの取得に失敗しました";
const char LOG_DEPTH_UNSUPPORTED[] = "非対応のバックバッファービット深度が指定されました";
const char LOG_DWM_OFF[] = "Desktop Window Manager を無効にしました";
const char LOG_DEVICE_GET[] = "IDirect3DDevice9 オブジェクトを取得します.... ";
const char LOG_DEVICE_CREATE_FAILED[] = "Direct3DDevice9 の作成に失敗しました";
const char LOG_ZBUFFER_CREATE[] = "Ｚバッファを作成します.... ";
const char LOG_ZBUFFER_FAILED[] = "Ｚバッファの作成に失敗しました";
const char LOG_SUB_BACK_BUFFER_FAILED[] = "サブバックバッファの作成に失敗しました";
const char LOG_MODE_CHANGE_START[] = "画面モードの変更処理を開始します %u x %u  %u bit ";
const char LOG_RESOLUTION_CHANGE[] = "画面解像度を変更します... ";
const char LOG_MODE_CHANGE_FAILED[] = "画面モードの変更に失敗しました";
const char LOG_MODE_CHANGE_DONE[] = "成功しました";
const char LOG_HARDWARE_VERTICES[] = "ハードウエア頂点演算を使用します";
const char LOG_SOFTWARE_VERTICES[] = "ソフトウエア頂点演算を使用します";
// A step and its outcome on one line.
const char LOG_STEP_OUTCOME[] = "%s%s";

}  // namespace

DeviceLayerState DeviceLayer = {};
ScreenSettings Screen = {};
DeviceFormatTable DeviceFormats = {};
DeviceCapsFlags DeviceCaps = {};

namespace {

enum { SCREEN_TIMER_ID = 0x7FFF, SCREEN_TIMER_PERIOD = 32, OS_VISTA = 264 };

// Display-mode list: {width, height, bits, refresh} per entry.
int* DisplayModes = nullptr;
int DisplayModeCount = 0;

int64_t Now() { return Direct3DCalls->GetMicroseconds(); }

void Wait(DWORD milliseconds) { Direct3DCalls->SleepMilliseconds(milliseconds); }

int WaitBlank() {
  if (!DeviceLayer.directDraw) return -1;
  return Direct3DCalls->WaitForVerticalBlank(DeviceLayer.directDraw, DDWAITVB_BLOCKBEGIN) == DD_OK ? 0 : -1;
}

// A blank wait that returns at once after the 5 ms sleep did not wait for a
// blank (a platform without the wait): such an interval is no refresh.
const int64_t LEAST_BLANK_WAIT = 500;

// Full screen with the emulation on Vista or later: the desktop itself is
// changed and the device is made like a windowed one.
int EmulatedFullScreen() { return !IsWindowedMode() && GetOsCode() >= OS_VISTA && IsScreenEmulationOn(); }

void CALLBACK ScreenTimerProc(HWND window, UINT, UINT_PTR id, DWORD) {
  KillTimer(window, id);
  if (GetDrawTarget() != -4 || GetDrawTargetSurfaceIndex() != 0) return;
  if (IsAppActive()) PresentScreen();
  StartWindowTimer(1);
}

}  // namespace

void ClearEndRequestFlag() { DeviceLayer.endRequest = 0; }
void SetEndRequestFlag() { DeviceLayer.endRequest = 1; }
int GetEndRequestFlag() { return DeviceLayer.endRequest; }

int SetDialogBoxModeFlag(int flag) {
  DeviceLayer.dialogBoxMode = flag;
  if (DeviceLayer.hardware && HasDirect3DDevice()) {
    EndDrawScene();
    SetDeviceDialogBoxModeRaw(FALSE);
    if (flag) SetDeviceDialogBoxModeRaw(TRUE);
  }
  return 0;
}
int GetDialogBoxModeFlag() { return DeviceLayer.dialogBoxMode; }

int SetASyncLoadEnabled(int flag) {
  DeviceLayer.asyncLoad = flag;
  return 0;
}
int IsASyncLoadEnabled() { return DeviceLayer.asyncLoad != 0 ? 1 : 0; }

void FatalErrorFormat(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  FatalErrorExit(text);
}

// ---------------------------------------------------------------------------
// Loading.

int LoadD3D9Dll() {
  if (DeviceLayer.d3d9) return 0;
  DeviceLayer.d3d9 = Direct3DCalls->LoadD3D9Library("d3d9.dll");
  if (!DeviceLayer.d3d9) {
    LogPrintf(LOG_D3D9_LOAD_FAILED);
    return -1;
  }
  return 0;
}

void FreeD3D9Dll() {
  if (DeviceLayer.d3d9) {
    Direct3DCalls->FreeD3D9Library(DeviceLayer.d3d9);
    DeviceLayer.d3d9 = nullptr;
    LogPrintf(LOG_D3D9_RELEASE_1);
  }
}

void ReleaseDirectDrawObject() {
  if (DeviceLayer.directDraw) {
    ReleaseComObject(reinterpret_cast<IUnknown*>(DeviceLayer.directDraw));
    DeviceLayer.directDraw = nullptr;
  }
}

int CreateDirectDrawObject() {
  ReleaseDirectDrawObject();
  IDirectDraw7* object = nullptr;
  if (Direct3DCalls->CreateDirectDraw7(&object) != S_OK || !object) {
    LogPrintf(LOG_STEP_OUTCOME, LOG_DDRAW_GET, LOG_DDRAW_GET_FAILED);
    return -1;
  }
  LogPrintf(LOG_STEP_OUTCOME, LOG_DDRAW_GET, LOG_SUCCESS);
  if (Direct3DCalls->InitializeDirectDraw(object) != DD_OK) {
    LogPrintf(LOG_STEP_OUTCOME, LOG_INIT_CONTINUE, LOG_DDRAW_INIT_FAILED);
    ReleaseComObject(reinterpret_cast<IUnknown*>(object));
    return -1;
  }
  LogPrintf(LOG_STEP_OUTCOME, LOG_INIT_CONTINUE, LOG_INIT_DONE);
  DeviceLayer.directDraw = object;
  // No window: the object only waits for the vertical blank. Named with the
  // main window, a DirectDraw that keeps its own GL swap chain (Wine) gives
  // the window its pixel format, and the Direct3D device's context then sets
  // its own format and restores that one around every draw.
  Direct3DCalls->SetDirectDrawCooperativeLevel(object, nullptr, DDSCL_NORMAL);
  return 0;
}

IDirectDraw7* GetDirectDrawObject() { return DeviceLayer.directDraw; }
IDirectDraw7* GetDirectDrawObjectPointer() { return DeviceLayer.directDraw; }

void ReleaseDirect3D9Object() {
  if (DeviceLayer.direct3D) {
    ReleaseComObject(DeviceLayer.direct3D);
    DeviceLayer.direct3D = nullptr;
  }
}

int CreateDirect3D9() {
  ReleaseDirect3D9Object();
  typedef IDirect3D9*(WINAPI * CreateFunction)(UINT);
  CreateFunction create = reinterpret_cast<CreateFunction>(
      reinterpret_cast<void*>(Direct3DCalls->GetD3D9Entry(DeviceLayer.d3d9, "Direct3DCreate9")));
  if (!create) {
    LogPrintf(LOG_STEP_OUTCOME, LOG_D3D9_GET, LOG_CREATE9_ADDRESS_FAILED);
    return -1;
  }
  DeviceLayer.direct3D = create(D3D_SDK_VERSION);
  if (!DeviceLayer.direct3D) {
    LogPrintf(LOG_STEP_OUTCOME, LOG_D3D9_GET, LOG_D3D9_GET_FAILED);
    return -1;
  }
  LogPrintf(LOG_STEP_OUTCOME, LOG_D3D9_GET, LOG_SUCCESS);
  return 0;
}

// ---------------------------------------------------------------------------
// Device creation.

int CreateDirect3DDevice9() {
  D3DPRESENT_PARAMETERS params = {};
  params.BackBufferWidth = static_cast<UINT>(Screen.width);
  params.BackBufferHeight = static_cast<UINT>(Screen.height);
  params.BackBufferCount = 1;
  params.MultiSampleType = D3DMULTISAMPLE_NONE;
  params.MultiSampleQuality = 0;
  params.SwapEffect = D3DSWAPEFFECT_COPY;
  params.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  params.EnableAutoDepthStencil = FALSE;
  params.hDeviceWindow = GetOutputWindowHandle();
  params.PresentationInterval = Screen.presentImmediately ? D3DPRESENT_INTERVAL_IMMEDIATE : D3DPRESENT_INTERVAL_ONE;
  DeviceLayer.direct3DEx = nullptr;

  if (IsWindowedMode()) {
    D3DDISPLAYMODE mode = {};
    GetAdapterDisplayModeOfDirect3D(0, &mode);
    params.Windowed = TRUE;
    params.BackBufferFormat = mode.Format;
    if (mode.Format == D3DFMT_X8R8G8B8) {
      Screen.colorBits = 32;
      SetMemImgDefaultColorType(1);
    } else if (mode.Format == D3DFMT_R5G6B5 || mode.Format == D3DFMT_X1R5G5B5 || mode.Format == D3DFMT_A1R5G5B5) {
      Screen.colorBits = 16;
      SetMemImgDefaultColorType(0);
    }
    SetDesktopCompositionEnabled(1);
  } else {
    D3DFORMAT format;
    if (Screen.colorBits == 16) {
      format = GetAdapterModeCountOfDirect3D(0, D3DFMT_R5G6B5) != 0 ? D3DFMT_R5G6B5 : D3DFMT_X1R5G5B5;
    } else if (Screen.colorBits == 32) {
      format = D3DFMT_X8R8G8B8;
    } else {
      LogPrintf(LOG_DEPTH_UNSUPPORTED);
      return -1;
    }
    params.BackBufferFormat = format;
    if (EmulatedFullScreen()) {
      params.Windowed = TRUE;
    } else {
      params.Windowed = FALSE;
      params.FullScreen_RefreshRateInHz = static_cast<UINT>(Screen.refreshRate);
      if (SystemLibs.DwmEnableCompositionFunc) LogPrintf(LOG_DWM_OFF);
    }
  }

  D3DCAPS9 caps = {};
  GetDeviceCapsOfDirect3D(0, D3DDEVTYPE_HAL, &caps);
  DeviceLayer.hardwareVertexProcessing = (caps.VertexShaderVersion & 0xFFFF) >= 0x200 &&
                                         (caps.PixelShaderVersion & 0xFFFF) >= 0x200;
  DeviceLayer.vertexShaderVersion = caps.VertexShaderVersion;

  const HWND window = GetMainWindowHandle();
  IDirect3DDevice9* device = nullptr;
  HRESULT result = D3DERR_NOTAVAILABLE;
  if (DeviceLayer.hardwareVertexProcessing) {
    D3DPRESENT_PARAMETERS tried = params;
    result = CreateDeviceOfDirect3D(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &tried, &device);
    if (result != D3D_OK) DeviceLayer.hardwareVertexProcessing = 0;
  }
  if (result != D3D_OK) {
    device = nullptr;
    result = CreateDeviceOfDirect3D(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device);
  }
  if (result != D3D_OK || !device) {
    LogPrintf(LOG_STEP_OUTCOME, LOG_DEVICE_GET, LOG_DEVICE_CREATE_FAILED);
    return -1;
  }
  DeviceLayer.device = device;
  LogPrintf(LOG_STEP_OUTCOME, LOG_DEVICE_GET,
            DeviceLayer.hardwareVertexProcessing ? LOG_HARDWARE_VERTICES : LOG_SOFTWARE_VERTICES);

  SetDeviceRenderState(D3DRS_ZENABLE, 1);
  const D3DCOLOR background = D3DCOLOR_XRGB(Screen.background[0], Screen.background[1], Screen.background[2]);
  for (int i = 0; i < 4; i++) {
    ClearDevice(0, nullptr, D3DCLEAR_TARGET, background, 1.0f, 0);
    if (i < 3) PresentDevice(nullptr, nullptr, GetOutputWindowHandle(), nullptr);
  }
  GetDeviceSwapChain(0, &DeviceLayer.swapChain);
  return 0;
}

// ---------------------------------------------------------------------------
// Vertical blank.

void MeasureRefreshPeriod() {
  DeviceLayer.refreshPeriod = -1;
  if (DeviceLayer.directDraw) {
    WaitBlank();
    int64_t previousTime = Now();
    int64_t previousDelta = -1;
    int64_t sum = 0;
    int counted = 0;
    for (int i = 0; i < 60; i++) {
      const int64_t before = Now();
      const bool waited = WaitBlank() == 0;
      const int64_t time = Now();
      const int64_t delta = time - previousTime;
      previousTime = time;
      const int64_t change = delta - previousDelta;
      if (!waited || time - before < LEAST_BLANK_WAIT) {
        sum = 0;
        counted = 0;
      } else if (previousDelta >= 0 && change < 1000 && change > -1000) {
        sum += delta;
        counted++;
      } else {
        sum = 0;
        counted = 0;
      }
      previousDelta = delta;
      if (counted == 10) {
        DeviceLayer.refreshPeriod = sum / counted;
        break;
      }
      Wait(5);
    }
  }
  WaitVerticalBlankTimed();
}

void WaitVerticalBlankTimed() {
  const int64_t wait = DeviceLayer.refreshPeriod >= 0 ? DeviceLayer.refreshPeriod - 3000 : 4000;
  if (Now() - DeviceLayer.lastVerticalBlank < wait) {
    Wait(0);
    while (Now() - DeviceLayer.lastVerticalBlank < wait) Wait(1);
    WaitBlank();
    DeviceLayer.lastVerticalBlank = Now();
  } else {
    WaitBlank();
    DeviceLayer.lastVerticalBlank = Now();
    Wait(0);
  }
}

void StartWindowTimer(int start) {
  if (start) SetTimer(GetMainWindowHandle(), SCREEN_TIMER_ID, SCREEN_TIMER_PERIOD, ScreenTimerProc);
}

// ---------------------------------------------------------------------------
// Start and end.

int StartGraphicsSystem() {
  if (LoadD3D9Dll() < 0) return -1;
  if (CreateDirectDrawObject() < 0) {
    FreeD3D9Dll();
    return -1;
  }
  DeviceLayer.hardware = 0;
  if (!Screen.software) {
    bool ready = true;
    if (EmulatedFullScreen() && ChangeDisplayMode() < 0) ready = false;
    while (ready) {
      if (CreateDirect3D9() < 0) {
        ready = false;
        break;
      }
      const int probe = ProbeDeviceCapsAndFormats();
      if (probe == -2) continue;
      if (probe < 0) ready = false;
      break;
    }
    if (ready && CreateDepthBuffer() == 0) {
      DeviceLayer.hardware = 1;
      CreateBaseShaders();
      if (AreShadersUsable()) {
        CreateVertexDeclarations();
        CreateBrightnessMaxVolumeTexture();
      }
    }
    if (!DeviceLayer.hardware) {
      if (DeviceLayer.depthBuffer) {
        ReleaseComObject(DeviceLayer.depthBuffer);
        DeviceLayer.depthBuffer = nullptr;
      }
      if (DeviceLayer.backBuffer) {
        ReleaseComObject(DeviceLayer.backBuffer);
        DeviceLayer.backBuffer = nullptr;
      }
      ReleaseDirect3DDevice();
      DeviceLayer.sceneBegun = 0;
      ReleaseDirect3D9Object();
    }
  }
  if (!DeviceLayer.hardware) {
    if (!IsWindowedMode() && ChangeDisplayMode() < 0) return -1;
    MeasureRefreshPeriod();
  }
  return 0;
}

int EndGraphicsSystem() {
  ReleaseModelDeviceResources();
  ReleaseVertexDeclarations();
  ReleaseBaseShaders();
  ReleaseDrawDeviceObjects();
  if (DeviceLayer.displayModeChanged) {
    DeviceLayer.displayModeChanged = 0;
    Direct3DCalls->ChangeDisplaySettings(nullptr, 0);
  }
  IDirect3DSurface9** surfaces[] = {&DeviceLayer.depthBuffer, &DeviceLayer.subBackBuffer, &DeviceLayer.backBuffer};
  for (IDirect3DSurface9** surface : surfaces) {
    if (*surface) {
      ReleaseComObject(*surface);
      *surface = nullptr;
    }
  }
  ReleaseBrightnessMaxVolumeTexture();
  ReleaseDirect3DDevice();
  DeviceLayer.sceneBegun = 0;
  DeviceLayer.hardware = 0;
  ReleaseDirect3D9Object();
  ReleaseDirectDrawObject();
  FreeD3D9Dll();
  FreeDisplayModeList();
  return 0;
}

// ---------------------------------------------------------------------------
// Scene guards, Z buffer and sub back buffer.

void BeginDrawSceneOnce() {
  if (!HasDirect3DObject() || !HasDirect3DDevice() || DeviceLayer.sceneBegun) return;
  BeginDeviceScene();
  DeviceLayer.sceneBegun = 1;
  ForgetLastDrawSetup();
}

void EndDrawScene() {
  if (!HasDirect3DObject() || !HasDirect3DDevice() || !DeviceLayer.sceneBegun) return;
  EndDeviceScene();
  DeviceLayer.sceneBegun = 0;
}

int DepthBufferSideFor(int size) {
  int power = 1;
  while (power < size) power <<= 1;
  return power;
}

int CreateDepthBuffer() {
  if (DeviceLayer.depthBuffer) {
    ReleaseComObject(DeviceLayer.depthBuffer);
    DeviceLayer.depthBuffer = nullptr;
  }
  if (!HasDirect3DDevice()) return -1;
  int width, height;
  if (DeviceLayer.userDepthBufferSize && DeviceLayer.userDepthWidth && DeviceLayer.userDepthHeight) {
    width = DeviceLayer.userDepthWidth;
    height = DeviceLayer.userDepthHeight;
  } else {
    width = DepthBufferSideFor(Screen.width);
    height = DepthBufferSideFor(Screen.height);
  }
  int format = DeviceFormats.z16;
  if (DeviceLayer.userDepthBitsSet) {
    if (DeviceLayer.userDepthBits == 24) format = DeviceFormats.z24;
    if (DeviceLayer.userDepthBits == 32) format = DeviceFormats.z32;
  }
  if (format == 0) format = DeviceFormats.z16;
  IDirect3DSurface9* surface = nullptr;
  if (CreateDeviceDepthStencilSurface(
          static_cast<UINT>(width), static_cast<UINT>(height), static_cast<D3DFORMAT>(format),
          static_cast<D3DMULTISAMPLE_TYPE>(DeviceLayer.multiSampleType),
          static_cast<DWORD>(DeviceLayer.multiSampleQuality), TRUE, &surface, nullptr) != D3D_OK ||
      !surface) {
    LogPrintf(LOG_STEP_OUTCOME, LOG_ZBUFFER_CREATE, LOG_ZBUFFER_FAILED);
    return -1;
  }
  DeviceLayer.depthBuffer = surface;
  DeviceLayer.depthBufferWidth = width;
  DeviceLayer.depthBufferHeight = height;
  SetDeviceDepthStencilSurface(surface);
  ClearDevice(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  LogPrintf(LOG_STEP_OUTCOME, LOG_ZBUFFER_CREATE, LOG_SUCCESS);
  return 0;
}

int CreateSubBackBuffer() {
  if (DeviceLayer.subBackBuffer) {
    ReleaseComObject(DeviceLayer.subBackBuffer);
    DeviceLayer.subBackBuffer = nullptr;
  }
  if (!HasDirect3DDevice()) return -1;
  IDirect3DSurface9* surface = nullptr;
  if (CreateDeviceRenderTarget(
          static_cast<UINT>(Screen.width), static_cast<UINT>(Screen.height),
          static_cast<D3DFORMAT>(DeviceFormats.screen), static_cast<D3DMULTISAMPLE_TYPE>(DeviceLayer.multiSampleType),
          static_cast<DWORD>(DeviceLayer.multiSampleQuality), FALSE, &surface, nullptr) != D3D_OK ||
      !surface) {
    LogPrintf(LOG_SUB_BACK_BUFFER_FAILED);
    return -1;
  }
  DeviceLayer.subBackBuffer = surface;
  return 0;
}

// ---------------------------------------------------------------------------
// Display modes.

int ChangeDisplayMode() {
  LogPrintf(LOG_MODE_CHANGE_START, Screen.width, Screen.height, Screen.colorBits);
  LogIndentIn();
  if (Screen.colorBits != 16 && Screen.colorBits != 32) {
    LogIndentOut();
    return -1;
  }
  DEVMODEA mode = {};
  mode.dmSize = 156;
  mode.dmPelsWidth = static_cast<DWORD>(Screen.width);
  mode.dmPelsHeight = static_cast<DWORD>(Screen.height);
  mode.dmBitsPerPel = static_cast<DWORD>(Screen.colorBits);
  mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
  if (Screen.refreshRate) {
    mode.dmFields |= DM_DISPLAYFREQUENCY;
    mode.dmDisplayFrequency = static_cast<DWORD>(Screen.refreshRate);
  }
  bool changed = Direct3DCalls->ChangeDisplaySettings(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
  if (!changed) {
    mode.dmFields &= ~static_cast<DWORD>(DM_DISPLAYFREQUENCY);
    mode.dmDisplayFrequency = 0;
    Screen.refreshRate = 0;
    changed = Direct3DCalls->ChangeDisplaySettings(&mode, 0) == DISP_CHANGE_SUCCESSFUL;
  }
  if (!changed && Screen.width == 320 && Screen.height == 240) {
    SetScreenSizeSetting(640, 480);
    SetEmulate320x240(1);
    mode.dmPelsWidth = 640;
    mode.dmPelsHeight = 480;
    changed = Direct3DCalls->ChangeDisplaySettings(&mode, 0) == DISP_CHANGE_SUCCESSFUL;
    if (changed) ApplyWindowStyle();
  }
  if (!changed) {
    LogPrintf(LOG_STEP_OUTCOME, LOG_RESOLUTION_CHANGE, LOG_MODE_CHANGE_FAILED);
    LogIndentOut();
    return -1;
  }
  DeviceLayer.displayModeChanged = 1;
  LogPrintf(LOG_STEP_OUTCOME, LOG_RESOLUTION_CHANGE, LOG_MODE_CHANGE_DONE);
  LogIndentOut();
  return 0;
}

void BuildDisplayModeList(int** list, int* count) {
  if (*list) HeapFree(GetProcessHeap(), 0, *list);
  *list = nullptr;
  *count = 0;
  DEVMODEA mode = {};
  mode.dmSize = sizeof(mode);
  int total = 0;
  for (DWORD i = 0; Direct3DCalls->EnumDisplaySettings(i, &mode); i++) {
    if (mode.dmBitsPerPel >= 16) total++;
  }
  if (total == 0) return;
  int* block = static_cast<int*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(total) * 16));
  if (!block) return;
  int filled = 0;
  for (DWORD i = 0; filled < total && Direct3DCalls->EnumDisplaySettings(i, &mode); i++) {
    if (mode.dmBitsPerPel < 16) continue;
    int* entry = block + filled * 4;
    entry[0] = static_cast<int>(mode.dmPelsWidth);
    entry[1] = static_cast<int>(mode.dmPelsHeight);
    entry[2] = static_cast<int>(mode.dmBitsPerPel);
    entry[3] = static_cast<int>(mode.dmDisplayFrequency);
    filled++;
  }
  *list = block;
  *count = filled;
}

void FreeDisplayModeList() {
  if (DisplayModes) HeapFree(GetProcessHeap(), 0, DisplayModes);
  DisplayModes = nullptr;
  DisplayModeCount = 0;
}

int GetDisplayModeCount() {
  if (!DisplayModes) BuildDisplayModeList(&DisplayModes, &DisplayModeCount);
  return DisplayModeCount;
}

DisplayModeEntry GetDisplayModeEntry(int index) {
  if (index < 0 || index >= GetDisplayModeCount()) return DisplayModeEntry{-1, -1, -1, -1};
  const int* entry = DisplayModes + index * 4;
  return DisplayModeEntry{entry[0], entry[1], entry[2], entry[3]};
}

int IsDisplayModeAvailable(int width, int height, int bits) {
  const int count = GetDisplayModeCount();
  for (int i = 0; i < count; i++) {
    const int* entry = DisplayModes + i * 4;
    if (entry[0] == width && entry[1] == height && entry[2] == bits) return 1;
  }
  return 0;
}
