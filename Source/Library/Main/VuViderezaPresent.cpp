// Screen present and screen settings: the frame flip (Direct3D present of
// swap chain 0 with source and destination rectangles, or the software
// screen through GDI), the sub back buffer, the screen size, depth and
// refresh settings, the display-mode queries and the screen-mode change
// with its fall-back chain.
// Threads: main thread.
// Platform: the device call table; GetDC / ReleaseDC, SetDIBitsToDevice,
// StretchDIBits.
#include <string.h>

#include "RaRadaraLog.h"
#include "VeVidu.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaDraw.h"
#include "VuViderezaMath.h"
#include "VuViderezaRebuild.h"
#include "VuViderezaRenderState.h"

namespace {

const char LOG_SCREEN_MODE_CHANGE_START[] = "画面モード変更処理を開始します";
const char LOG_SCREEN_MODE_CHANGE_DONE[] = "画面モード変更処理は正常に終了しました";

}  // namespace

namespace {

SoftwareScreenView SoftScreen = {};

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

// A rectangle of the destination mapped to the source it shows.
RECT MapToSource(const RECT& rect, const RECT& source, const RECT& dest) {
  RECT mapped = rect;
  if (Width(dest) > 0 && Height(dest) > 0) {
    mapped.left = (rect.left - dest.left) * Width(source) / Width(dest) + source.left;
    mapped.right = (rect.right - dest.left) * Width(source) / Width(dest) + source.left;
    mapped.top = (rect.top - dest.top) * Height(source) / Height(dest) + source.top;
    mapped.bottom = (rect.bottom - dest.top) * Height(source) / Height(dest) + source.top;
  }
  return mapped;
}

int PresentDirect3D(const RECT* update, RECT source, RECT dest, bool emulation) {
  FlushVertexBatch(0);
  EndDrawScene();
  if (emulation) {
    dest = {0, 0, 640, 480};
    source = {0, 0, 320, 240};
  }
  if (DeviceLayer.subBackBuffer &&
      StretchDeviceRect(DeviceLayer.subBackBuffer, nullptr, DeviceLayer.backBuffer, nullptr, D3DTEXF_NONE) != D3D_OK)
    return -1;
  if (!DeviceLayer.swapChain) return 0;
  const int64_t start = Direct3DCalls->GetMicroseconds();
  if (!WinSys.minimized) {
    HRESULT result;
    const HWND window = GetOutputWindowHandle();
    if (IsWindowedMode()) {
      if (!update) {
        DeviceLayer.lastSource = source;
        DeviceLayer.lastDest = dest;
        result = PresentSwapChain(DeviceLayer.swapChain, &source, &dest, window, nullptr, 0);
      } else {
        const RECT from = MapToSource(*update, source, dest);
        result = PresentSwapChain(DeviceLayer.swapChain, &from, update, window, nullptr, 0);
      }
    } else if (emulation) {
      result = PresentSwapChain(DeviceLayer.swapChain, &source, &dest, window, nullptr, 0);
    } else {
      result = PresentSwapChain(DeviceLayer.swapChain, nullptr, nullptr, window, nullptr, 0);
    }
    if (result != D3D_OK) return -1;
  }
  if (GetRunAlwaysFlag() && !Screen.presentImmediately && Direct3DCalls->GetMicroseconds() - start < 500)
    WaitVerticalBlankTimed();
  return 0;
}

int PresentGdi(const RECT* update, const RECT& source, const RECT& dest, bool emulation) {
  if (!SoftScreen.pixels || (SoftScreen.bits != 16 && SoftScreen.bits != 32)) return 0;
  if (!Screen.presentImmediately) WaitVerticalBlankTimed();
  struct {
    BITMAPINFOHEADER header;
    DWORD masks[3];
  } info = {};
  const int bytes = SoftScreen.bits / 8;
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = SoftScreen.pitch / bytes;
  info.header.biHeight = -Screen.height;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(SoftScreen.bits);
  info.header.biCompression = BI_BITFIELDS;
  info.masks[0] = SoftScreen.redMask;
  info.masks[1] = SoftScreen.greenMask;
  info.masks[2] = SoftScreen.blueMask;
  const BITMAPINFO* bitmap = reinterpret_cast<const BITMAPINFO*>(&info);
  const HWND window = GetOutputWindowHandle();
  HDC dc = GetDC(window);
  if (!dc) return 0;
  // Source rectangles of StretchDIBits count rows from the image's bottom.
  auto stretch = [&](const RECT& to, const RECT& from) {
    StretchDIBits(dc, to.left, to.top, Width(to), Height(to), from.left, Screen.height - from.bottom, Width(from),
                  Height(from), SoftScreen.pixels, bitmap, DIB_RGB_COLORS, SRCCOPY);
  };
  if (emulation) {
    const RECT whole = {0, 0, 640, 480};
    stretch(whole, {0, 0, 320, 240});
    DeviceLayer.lastSource = {0, 0, 320, 240};
    DeviceLayer.lastDest = whole;
  } else if (update) {
    stretch(*update, MapToSource(*update, source, dest));
  } else {
    DeviceLayer.lastSource = source;
    DeviceLayer.lastDest = {0, 0, Width(dest), Height(dest)};
    if (Width(dest) == Screen.width && Height(dest) == Screen.height)
      SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(Screen.width), static_cast<DWORD>(Screen.height), 0, 0, 0,
                        static_cast<UINT>(Screen.height), SoftScreen.pixels, bitmap, DIB_RGB_COLORS);
    else stretch(DeviceLayer.lastDest, source);
  }
  ReleaseDC(window, dc);
  return 0;
}

}  // namespace

void SetSoftwareScreenView(const SoftwareScreenView* view) { SoftScreen = view ? *view : SoftwareScreenView{}; }

int PresentSoftwareScreen(const RECT* update) {
  if (update) {
    const RECT mapped = MapToSource(*update, DeviceLayer.lastSource, DeviceLayer.lastDest);
    if (mapped.right <= mapped.left || mapped.bottom <= mapped.top) return -1;
  }
  RECT source = {0, 0, Screen.width, Screen.height};
  const bool emulation = IsScreenEmulationOn() && Screen.width == 640 && Screen.height == 480;
  if (emulation) source = {0, 0, 320, 240};
  Screen.emulationActive = emulation;
  RECT dest = {0, 0, Screen.width, Screen.height};
  if (IsWindowedMode() && !emulation) {
    double scaleY = 1.0;
    const double scaleX = GetWindowScaleRate(nullptr, &scaleY);
    dest.right = static_cast<int>(Screen.width * scaleX);
    dest.bottom = static_cast<int>(Screen.height * scaleY);
  }
  if (DeviceLayer.hardware) return PresentDirect3D(update, source, dest, emulation);
  return PresentGdi(update, source, dest, emulation);
}

int PresentBackBufferEx(const RECT* rect) {
  if (DeviceLayer.presenting) return 0;
  DeviceLayer.presenting = 1;
  if (!IsLibraryStarted() || DeviceLayer.endRequest) {
    DeviceLayer.presenting = 0;
    return -1;
  }
  // Overlays of the frame: a pending mask update over the draw area (when
  // masks are on), then the on-screen log when its drawing is switched on.
  ApplyPendingMaskToScreen();
  DrawOnScreenLogOverFrame();
  PresentSoftwareScreen(rect);
  // The screen is current: a paint waiting for a present needs none now.
  WinSys.screenPresentTime = GetMillisecondCount();
  WinSys.screenPresented = 1;
  WinSys.presentPending = 0;
  DeviceLayer.presenting = 0;
  return 0;
}

int PresentBackBuffer() { return PresentBackBufferEx(nullptr); }

int GetPresentingFlag() { return DeviceLayer.presenting; }

int PresentScreen() {
  if (!IsWindowedMode() && DeviceLayer.hardware) UseSubBackBuffer();
  return PresentBackBufferEx(nullptr);
}

int UseSubBackBuffer() {
  if (DeviceLayer.subBackBuffer) return 0;
  FlushVertexBatch(0);
  EndDrawScene();
  if (CreateSubBackBuffer() < 0) return -1;
  StretchDeviceRect(DeviceLayer.backBuffer, nullptr, DeviceLayer.subBackBuffer, nullptr, D3DTEXF_NONE);
  // Through the caches, so that they hold what the device has. Drawing into a
  // graphic or the mask keeps its own render target 0.
  const int reapply = RenderState.reapplyAll;
  RenderState.reapplyAll = 1;
  if (GetActiveMaskSurface() == nullptr && GetDrawTargetSurface() == DeviceLayer.subBackBuffer) {
    SetRenderTargetCached(DeviceLayer.subBackBuffer, 0);
    SetViewportRect(0, 0, Screen.width, Screen.height);
  }
  RenderState.reapplyAll = reapply;
  return 0;
}

// ---------------------------------------------------------------------------
// Settings.

int GetScreenModeSize(int* width, int* height, int* bits) {
  const bool small = IsScreenEmulationOn();
  if (width) *width = small ? 320 : Screen.width;
  if (height) *height = small ? 240 : Screen.height;
  if (bits) *bits = Screen.colorBits;
  return 0;
}

int GetUseHardwareRendering() { return Screen.software ? 0 : 1; }

int SetUseHardwareRendering(int on) {
  if (IsLibraryStarted()) return -1;
  Screen.software = on ? 0 : 1;
  return 0;
}

void SetScreenSizeSetting(int width, int height) {
  Screen.width = width;
  Screen.height = height;
  if (IsScreenEmulationOn() && width == 640) {
    Screen.drawWidth = height == 480 ? 320 : 640;
    Screen.drawHeight = height == 480 ? 240 : (height ? height : 480);
  } else {
    Screen.drawWidth = width ? width : 640;
    Screen.drawHeight = height ? height : 480;
  }
  SetProjectionScreenSize(Screen.drawWidth, Screen.drawHeight);
}

int GetScreenSizeSetting(int* width, int* height) {
  if (width) *width = Screen.drawWidth ? Screen.drawWidth : 640;
  if (height) *height = Screen.drawHeight ? Screen.drawHeight : 480;
  return 0;
}

int GetColorBitDepth() { return Screen.colorBits ? Screen.colorBits : 16; }

int GetRefreshRateSetting() { return Screen.refreshRate; }

int IsScreenEmulationOn() {
  return Screen.emulate320x240 || Screen.autoEmulate320x240 || StartupSettings.emulate320x240;
}

int IsFullScreenMode() { return IsWindowedMode() ? 0 : 1; }

int SetWaitVSync(int wait) {
  Screen.presentImmediately = wait ? 0 : 1;
  return 0;
}
int GetWaitVSync() { return Screen.presentImmediately ? 0 : 1; }

int SetEmulate320x240(int on) {
  Screen.emulate320x240 = on;
  return 0;
}

int SetBackgroundColor(int red, int green, int blue) {
  Screen.background[0] = red;
  Screen.background[1] = green;
  Screen.background[2] = blue;
  return 0;
}

int SetScreenMode(int width, int height, int colorBits, int refreshRate) {
  if (width <= 0 || height <= 0 || (colorBits != 8 && colorBits != 16 && colorBits != 32)) return -1;
  if (!IsLibraryStarted()) {
    SetScreenSizeSetting(width, height);
    Screen.colorBits = colorBits;
    Screen.refreshRate = refreshRate;
    SetMemImgDefaultColorType(colorBits == 32 ? 1 : 0);
    return 0;
  }
  const int oldWidth = Screen.width, oldHeight = Screen.height;
  const int oldBits = Screen.colorBits, oldRefresh = Screen.refreshRate;
  ChangeScreenMode(width, height, colorBits, 0, refreshRate);
  // 320 x 240 is drawn doubled on a 640 x 480 screen: the size the program
  // draws at is what it asked for.
  int drawnWidth = 0, drawnHeight = 0;
  GetScreenModeSize(&drawnWidth, &drawnHeight, nullptr);
  if ((drawnWidth == width && drawnHeight == height) || (Screen.width == width && Screen.height == height)) {
    if (IsWindowedMode()) return 0;
    if (Screen.colorBits == colorBits && Screen.refreshRate == refreshRate) return 0;
  }
  if (Screen.width == oldWidth && Screen.height == oldHeight && Screen.colorBits == oldBits &&
      Screen.refreshRate == oldRefresh)
    return -1;
  if (Screen.width != 640 || Screen.height != 480) return -1;
  if (IsWindowedMode()) return -2;
  return Screen.colorBits == 16 && Screen.refreshRate == 0 ? -2 : -1;
}

namespace {

void StoreMode(int width, int height, int bits, int refresh) {
  SetScreenSizeSetting(width, height);
  Screen.colorBits = bits;
  Screen.refreshRate = refresh;
  SetMemImgDefaultColorType(bits == 32 ? 1 : 0);
}

int RestartGraphics(int width, int height, int bits, int refresh) {
  if (Screen.graphicsUp) TerminateGraphicsSystem();
  StoreMode(width, height, bits, refresh);
  return InitializeGraphicsSystem();
}

}  // namespace

int ChangeScreenMode(int width, int height, int bits, int force, int refresh) {
  Screen.modeChanging = 1;
  FlushVertexBatch(0);
  const bool wasUp = Screen.graphicsUp != 0;
  const int oldAutoEmulation = Screen.autoEmulate320x240;
  if (width == 320 && height == 240) {
    width = 640;
    height = 480;
    Screen.autoEmulate320x240 = 1;
  } else if (width != -1 || height != -1) {
    Screen.autoEmulate320x240 = 0;
  }
  if (width == -1) width = Screen.width;
  if (height == -1) height = Screen.height;
  if (bits == -1) bits = Screen.colorBits;
  if (refresh == -1) refresh = Screen.refreshRate;
  // Switching the 320 x 240 emulation alone is a change too.
  if (!force && width == Screen.width && height == Screen.height && bits == Screen.colorBits &&
      refresh == Screen.refreshRate && Screen.autoEmulate320x240 == oldAutoEmulation) {
    Screen.modeChanging = 0;
    return 0;
  }
  LogPrintf(LOG_SCREEN_MODE_CHANGE_START);
  LogIndentIn();
  if ((!IsLibraryStarted() && !wasUp) || (!IsWindowedMode() && !IsDisplayModeAvailable(width, height, bits))) {
    Screen.autoEmulate320x240 = oldAutoEmulation;  // the mode stays as it was
    LogIndentOut();
    Screen.modeChanging = 0;
    return 0;
  }
  const int oldWidth = Screen.width, oldHeight = Screen.height;
  const int oldBits = Screen.colorBits, oldRefresh = Screen.refreshRate;
  const bool small = Screen.autoEmulate320x240 && width == 640 && height == 480;
  // The default font's face, size and thickness outlive the restart.
  char fontName[FONT_FACE_SIZE] = "";
  int fontSize = -1, fontThickness = -1;
  const int keepFont = IsFontHandleValid(GetDefaultFontHandle()) &&
                       GetFontHandleInfo(fontName, &fontSize, &fontThickness, GetDefaultFontHandle()) == 0;
  if (RestartGraphics(width, height, bits, refresh) < 0) {
    bool done = false;
    if (small || (width == 320 && height == 240)) {
      Screen.autoEmulate320x240 = 1;
      done = RestartGraphics(640, 480, bits, refresh) == 0;
    }
    // The mode from before comes back with its own emulation switch; the
    // 640 x 480 defaults draw at full size.
    if (!done) {
      Screen.autoEmulate320x240 = oldAutoEmulation;
      done = RestartGraphics(oldWidth, oldHeight, oldBits, oldRefresh) == 0;
    }
    if (!done) Screen.autoEmulate320x240 = 0;
    if (!done) done = RestartGraphics(640, 480, 16, 0) == 0;
    if (!done) done = RestartGraphics(640, 480, 32, 0) == 0;
    if (!done) FatalErrorExit("予期せぬ画面モード変更不能現象が起きました2\n");
  }
  if (keepFont) SetDefaultFontNameSizeThickness(fontName, fontSize, fontThickness);
  // Full screen takes the style of its mode; a window's client area follows the new size.
  if (!IsWindowedMode()) ApplyWindowStyle();
  else FitWindowToScreenSize();
  LogIndentOut();
  LogPrintf(LOG_SCREEN_MODE_CHANGE_DONE);
  PumpWindowMessagesCore();
  ResetDrawTargetsAfterModeChange();
  Screen.modeChanging = 0;
  return 0;
}
