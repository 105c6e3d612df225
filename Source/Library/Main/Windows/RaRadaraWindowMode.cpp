// Window mode: the switch between a window and full screen, the styles of
// each mode, fitting the window to the screen size, bringing it to the
// front, desktop composition, the mouse cursor and the mouse position.
//
// Threads: main thread only (the window's thread).
// Platform: SetWindowLongA, SetWindowPos, AdjustWindowRectEx, MoveWindow,
// ShowCursor, GetCursorPos, AttachThreadInput, SetForegroundWindow,
// SystemParametersInfoA, DwmEnableComposition (loaded by name).
#include "RaRadara.h"

#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "RaRadaraSystem.h"

namespace {

// Log texts.
const char LOG_CHANGE_WINDOW_MODE[] = "ChangeWindowMode実行 ";
const char LOG_WINDOWED_FLAG_SET[] = "ウインドウモードフラグが立てられました";
const char LOG_WINDOWED_FLAG_CLEARED[] = "ウインドウモードフラグが倒されました";
const char LOG_STYLE_TO_WINDOWED[] = "ウインドウスタイルをウインドウモード用に変更します... ";
const char LOG_STYLE_TO_FULL_SCREEN[] = "ウインドウスタイルをフルスクリーンモード用に変更します... ";
const char LOG_DONE[] = "完了";
const char LOG_STEP_RESULT[] = "%s%s";  // a step and how it ended, on one line

enum : DWORD {
  WINDOWED_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
  WINDOWED_EX_STYLE = WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE,
};

#define STYLE_ROW \
  { WINDOWED_STYLE, WINDOWED_EX_STYLE, WS_POPUP, WS_EX_TOPMOST }

enum { CURSOR_TOP_MARGIN = 60 };  // full screen: the cursor is managed below this line

void ScaledSize(int width, int height, int* scaledWidth, int* scaledHeight) {
  double x, y;
  GetWindowScaleRate(&x, &y);
  *scaledWidth = static_cast<int>(width * x);
  *scaledHeight = static_cast<int>(height * y);
}

}  // namespace

// Only row 0 is selected; the full-screen pair is the same in all rows.
const WindowStyleRow WindowStyleTable[WINDOW_STYLE_ROWS] = {
    STYLE_ROW, STYLE_ROW, STYLE_ROW, STYLE_ROW, STYLE_ROW, STYLE_ROW,
    STYLE_ROW, STYLE_ROW, STYLE_ROW, STYLE_ROW, STYLE_ROW, STYLE_ROW,
};

void RefreshClientRect() {
  RECT client;
  GetClientRect(WinSys.mainWindow, &client);
  POINT topLeft = {client.left, client.top}, bottomRight = {client.right, client.bottom};
  ClientToScreen(WinSys.mainWindow, &topLeft);
  ClientToScreen(WinSys.mainWindow, &bottomRight);
  SetRect(&WinSys.clientRect, topLeft.x, topLeft.y, bottomRight.x, bottomRight.y);
}

void GetWindowScreenSize(int* width, int* height) {
  int w, h;
  if (StartupSettings.emulate320x240) {
    w = 640;
    h = 480;
  } else {
    GetScreenSizeSetting(&w, &h);
  }
  if (width) *width = w;
  if (height) *height = h;
}

int ChangeWindowMode(int windowed) {
  LogPrintf(LOG_CHANGE_WINDOW_MODE);
  StartupSettings.windowModeCalled = 1;
  windowed = windowed != 0 ? 1 : 0;
  if (windowed == StartupSettings.windowed) return 0;

  if (!windowed && WinSys.mainWindow != nullptr) {
    int width, height;
    GetScreenSizeSetting(&width, &height);
    int found = 0;
    const int count = GetDisplayModeCount();
    for (int i = 0; i < count && !found; i++) {
      const DisplayModeEntry mode = GetDisplayModeEntry(i);
      found = mode.width == width && mode.height == height;
    }
    const int is320x240 = width == 320 && height == 240;
    if (!found && !(is320x240 && GetUseHardwareRendering())) return -1;
    if (is320x240) {
      StartupSettings.emulate320x240 = 1;
      SetScreenSizeSetting(640, 480);
    }
  }

  WinSys.windowModeApplied = 1;
  WinSys.displayChanged = 0;
  SetWindowModeFlag(windowed);
  if (WinSys.mainWindow == nullptr) return 0;

  WinSys.modeChanging = 1;
  ApplyWindowStyle();
  const int result = ChangeScreenMode(-1, -1, -1, 1, -1);
  WinSys.modeChanging = 0;
  return result;
}

void SetWindowModeFlag(int windowed) {
  StartupSettings.windowed = windowed;
  LogPrintf(windowed ? LOG_WINDOWED_FLAG_SET : LOG_WINDOWED_FLAG_CLEARED);
}

int ApplyWindowStyle() {
  if (WinSys.mainWindow == nullptr) return -1;
  HWND window = WinSys.mainWindow;
  RefreshClientRect();
  int width, height;
  GetWindowScreenSize(&width, &height);

  const char* step = StartupSettings.windowed ? LOG_STYLE_TO_WINDOWED : LOG_STYLE_TO_FULL_SCREEN;
  if (StartupSettings.windowed) {
    const WindowStyleRow& row = WindowStyleTable[0];
    SetWindowLongA(window, GWL_EXSTYLE, static_cast<LONG>(row.windowedEx));
    SetWindowLongA(window, GWL_STYLE, static_cast<LONG>(row.windowed | (WinSys.windowModeApplied ? WS_VISIBLE : 0)));
    int clientWidth, clientHeight;
    ScaledSize(width, height, &clientWidth, &clientHeight);
    RECT rect = {0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&rect, row.windowed, FALSE, row.windowedEx);
    WinSys.captionHeight = -rect.top;
    const int windowWidth = rect.right - rect.left, windowHeight = rect.bottom - rect.top;
    const int x = rect.left + (WinSys.desktopWidth - windowWidth) / 2;
    const int y = rect.top + (WinSys.desktopHeight - windowHeight) / 2;
    SetWindowPos(window, HWND_NOTOPMOST, x, y, windowWidth, windowHeight, 0);
    SetWindowPos(window, HWND_TOP, x, y, windowWidth, windowHeight, 0);
    RefreshClientRect();
    if (WinSys.clientRect.left < 0 || WinSys.clientRect.top < 0) {
      const int dx = WinSys.clientRect.left < 0 ? -WinSys.clientRect.left : 0;
      const int dy = WinSys.clientRect.top < 0 ? -WinSys.clientRect.top : 0;
      OffsetRect(&WinSys.clientRect, dx, dy);
      SetWindowPos(window, HWND_TOP, x + dx, y + dy, windowWidth, windowHeight, 0);
    }
    SetMouseVisibility(1);
  } else {
    SetWindowLongA(window, GWL_EXSTYLE, static_cast<LONG>(WindowStyleTable[0].fullScreenEx));
    SetWindowLongA(window, GWL_STYLE, static_cast<LONG>(WindowStyleTable[0].fullScreen));
    SetRect(&WinSys.clientRect, 0, 0, width, height);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, width, height, SWP_NOREDRAW);
    SetMouseVisibility(0);
  }
  LogPrintf(LOG_STEP_RESULT, step, LOG_DONE);
  SetActiveWindow(window);
  PostMessageA(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), 0);
  return 0;
}

int FitWindowToScreenSize() {
  if (WinSys.mainWindow == nullptr) return -1;
  int width, height;
  if (StartupSettings.windowed) GetScreenSizeSetting(&width, &height);
  else GetWindowScreenSize(&width, &height);
  int desiredWidth, desiredHeight;
  ScaledSize(width, height, &desiredWidth, &desiredHeight);

  RECT windowRect, client;
  GetWindowRect(WinSys.mainWindow, &windowRect);
  GetClientRect(WinSys.mainWindow, &client);
  WinSys.clientRect.right = WinSys.clientRect.left + client.right;
  WinSys.clientRect.bottom = WinSys.clientRect.top + client.bottom;
  const int newWidth = windowRect.right - windowRect.left - client.right + desiredWidth;
  const int newHeight = windowRect.bottom - windowRect.top - client.bottom + desiredHeight;
  MoveWindow(WinSys.mainWindow, windowRect.left, windowRect.top, newWidth, newHeight, TRUE);

  if (StartupSettings.windowed && !WinSys.windowModeApplied) {
    WinSys.windowModeApplied = 1;
    ApplyWindowStyle();
  }
  return 0;
}

double GetWindowScaleRate(double* x, double* y) {
  if (StartupSettings.scaleX <= 0) StartupSettings.scaleX = 1.0;
  if (StartupSettings.scaleY <= 0) StartupSettings.scaleY = 1.0;
  const double rateX = StartupSettings.windowed ? StartupSettings.scaleX : 1.0;
  const double rateY = StartupSettings.windowed ? StartupSettings.scaleY : 1.0;
  if (x) *x = rateX;
  if (y) *y = rateY;
  return rateX;
}

void BringWindowToForeground(HWND window, int topmost) {
  const DWORD windowThread = GetWindowThreadProcessId(window, nullptr);
  const DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  const BOOL attached = windowThread != foregroundThread && AttachThreadInput(windowThread, foregroundThread, TRUE);
  DWORD timeout = 0;
  SystemParametersInfoA(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
  SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, 0);
  SetForegroundWindow(window);
  SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<void*>(static_cast<uintptr_t>(timeout)), 0);
  if (attached) AttachThreadInput(windowThread, foregroundThread, FALSE);
  if (topmost == 1) SetWindowPos(WinSys.mainWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOREDRAW);
}

void SetDesktopCompositionEnabled(int enable) {
  const int off = enable ? 0 : 1;
  if (WinSys.compositionOff == off) return;
  if (SystemLibs.DwmEnableCompositionFunc != nullptr) SystemLibs.DwmEnableCompositionFunc(enable ? 1u : 0u);
  WinSys.compositionOff = off;
}

int SetCursorDisplayCount(int show) {
  // Each call moves the count by one: step until it is at least 0 (shown)
  // or below 0 (hidden), then back to exactly 0 or -1, so that repeated
  // calls never pile counts up.
  int count;
  if (show) {
    do {
      count = ShowCursor(TRUE);
    } while (count < 0);
    while (count > 0) count = ShowCursor(FALSE);
  } else {
    do {
      count = ShowCursor(FALSE);
    } while (count >= 0);
    while (count < -1) count = ShowCursor(TRUE);
  }
  return count;
}

int SetMouseVisibility(int flag) {
  if (flag != -1) WinSys.cursorRequested = flag;
  const int show = WinSys.cursorRequested == 1 ? 1 : 0;
  if (flag != -1 && show == WinSys.cursorShown) return 0;
  SetCursorDisplayCount(show);
  if (WinSys.mainWindow != nullptr)
    PostMessageA(WinSys.mainWindow, WM_SETCURSOR, reinterpret_cast<WPARAM>(WinSys.mainWindow), 0);
  WinSys.cursorShown = show;
  return 0;
}

int GetMousePoint(int* x, int* y) {
  POINT point = {0, 0};
  GetCursorPos(&point);
  int px = point.x, py = point.y;
  if (StartupSettings.windowed) {
    double rateX, rateY;
    GetWindowScaleRate(&rateX, &rateY);
    px = static_cast<int>((px - WinSys.clientRect.left) / rateX);
    py = static_cast<int>((py - WinSys.clientRect.top) / rateY);
  }
  if (x) *x = px;
  if (y) *y = py;
  return 0;
}

void UpdateFullScreenCursor() {
  if (StartupSettings.windowed || WinSys.mainWindow == nullptr) return;
  if (GetUseHardwareRendering()) {
    int y = 0;
    GetMousePoint(nullptr, &y);
    if (y > CURSOR_TOP_MARGIN) SetMouseVisibility(WinSys.cursorRequested);
  } else {
    SetDialogBoxModeFlag(GetDialogBoxModeFlag());
    SetMouseVisibility(WinSys.cursorRequested);
  }
}
