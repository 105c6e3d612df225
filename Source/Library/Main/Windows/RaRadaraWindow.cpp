// The main window: creation with the timer check, the double-start check
// and the class registration, the window procedure, activation changes,
// destruction, and the clipboard helpers.
//
// Threads: everything here runs on the main thread, the thread that
// created the window; the window procedure only ever runs there.
// Platform: RegisterClassExA, CreateWindowExA, FindWindowA, DestroyWindow,
// UnregisterClassA, ShowWindow, BeginPaint, ShowCursor, SetCursor,
// SystemParametersInfoA, GlobalMemoryStatus(Ex), timeGetDevCaps,
// timeBeginPeriod, QueryPerformanceCounter, the clipboard functions.
#include "RaRadara.h"

#include <stdio.h>
#include <string.h>

#include "DeVirERerRandom.h"
#include "DiDAridIrer.h"
#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "RaRadaraSysInfo.h"
#include "RaRadaraSystem.h"
#include "VeRavoroString.h"

namespace {

// Log texts.
const char LOG_MEMORY_SIZES[] = "メモリ総量:%.2fMB  空きメモリ領域:%.2fMB ";
const char LOG_CHECKING_TIMERS[] = "タイマーの精度を検査します";
const char LOG_TIMER_RESULTS[] = "精度結果 更新回数 マルチメディアタイマー：%d  パフォーマンスカウンター：%d";
const char LOG_USING_MM_TIMER[] = " Multi Media Timer を使用します Timer 精度 : %d.00 ms ";
const char LOG_USING_PERFORMANCE_COUNTER[] = " パフォーマンスカウンターを使用します タイマー精度 : %lf KHz ";
const char LOG_QUIT_NO_RESTORE_OR_24BIT[] =
    "復元関数が登録されていないためか画面が２４ビットカラーに変更されたため終了します";
const char LOG_QUIT_SCREEN_TOO_SMALL[] = "またはスクリーンが小さすぎるためか色ビット数の違いが大きいためか終了します";
const char LOG_CHECKING_DOUBLE_START[] = "ソフトの二重起動検査... ";
const char LOG_DOUBLE_START[] = "二重起動されています、ソフトを終了します";
const char LOG_NO_DOUBLE_START[] = "二重起動はされていませんでした";
const char LOG_REGISTERING_CLASS[] = "ウインドウクラスを登録します... ";
const char LOG_CLASS_REGISTERED[] = "登録に成功しました";
const char LOG_STEP_RESULT[] = "%s%s";  // a step and how it ended, on one line
const char LOG_CREATING_FULL_SCREEN_WINDOW[] = "フルスクリーンモード用のウインドウを作成します";
const char LOG_CREATING_WINDOW[] = "ウインドウモード起動用のウインドウを作成します";
const char LOG_WINDOW_FAILED[] = "ウインドウの作成に失敗しました";
const char LOG_WINDOW_CREATED[] = "ウインドウの作成に成功しました";
const char LOG_SHOWING_WINDOW[] = "ウインドウを表示します";
const char LOG_CURSOR_HIDDEN[] = "カーソルを不可視にしました";
const char LOG_IME_OFF[] = "ＩＭＥを無効にしました";
const char LOG_ASYNC_THREAD_FAILED[] = "非同期読み込み処理を行うスレッドの立ち上げに失敗しました";
const char LOG_WINDOW_DESTROYING[] = "ウインドウが破棄されようとしています";
const char LOG_READY_TO_QUIT[] = "ソフトを終了する準備が整いました";
const char LOG_WINDOW_CLOSING[] = "ウインドウを閉じようとしています";
const char LOG_QUIT_NO_RESTORE[] = "復元関数が登録されていないため終了します";

}  // namespace

WindowSystemState WinSys;

namespace {

const char DEFAULT_CLASS_NAME[] = "R123987U";
const char DEFAULT_CAPTION[] = "RiDov";
enum { TIMER_CHECK_LIMIT_MS = 1000, TIMER_CHECK_CHANGES = 60 };

int ScreenSaverSwitchedOff = 0;

void RefreshWindowRect() {
  if (WinSys.mainWindow != nullptr) GetWindowRect(WinSys.mainWindow, &WinSys.windowRect);
}

void ReportMemory() {
  if (GetOsCode() >= OS_WIN2000) {
    HMODULE kernel = LoadLibraryA("Kernel32.dll");
    if (kernel != nullptr) {
      typedef BOOL(WINAPI * StatusExFunction)(MEMORYSTATUSEX*);
      StatusExFunction statusEx = reinterpret_cast<StatusExFunction>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "GlobalMemoryStatusEx")));
      if (statusEx != nullptr) {
        MEMORYSTATUSEX status;
        memset(&status, 0, sizeof(status));
        status.dwLength = 64;
        if (statusEx(&status)) {
          WinSys.totalMemory = status.ullTotalPhys;
          WinSys.availableMemory = status.ullAvailPhys;
        }
      }
      FreeLibrary(kernel);
    }
  }
  if (WinSys.totalMemory == 0) {
    MEMORYSTATUS status;
    memset(&status, 0, sizeof(status));
    status.dwLength = sizeof(status);
    GlobalMemoryStatus(&status);
    WinSys.totalMemory = status.dwTotalPhys;
    WinSys.availableMemory = status.dwAvailPhys;
  }
  LogPrintf(LOG_MEMORY_SIZES, WinSys.totalMemory / 1048576.0, WinSys.availableMemory / 1048576.0);
  char line[64];
  snprintf(line, sizeof(line), "%.2fMB\n", WinSys.availableMemory / 1048576.0);
  OutputDebugStringA(line);
}

// Which of the multimedia timer and the performance counter changes more
// often; the performance counter is used only when it is at least as fine.
void CheckTimers() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  PerformanceCounterFrequency = frequency.QuadPart;
  PerformanceCounterAvailable = frequency.QuadPart != 0 ? 1 : 0;
  TIMECAPS caps;
  memset(&caps, 0, sizeof(caps));
  if (SystemLibs.timeGetDevCapsFunc != nullptr && SystemLibs.timeBeginPeriodFunc != nullptr &&
      SystemLibs.timeGetDevCapsFunc(&caps, sizeof(caps)) == TIMERR_NOERROR) {
    SystemLibs.timeBeginPeriodFunc(caps.wPeriodMin);
    WinSys.timerPeriod = caps.wPeriodMin;
  }
  if (!PerformanceCounterAvailable || SystemLibs.timeGetTimeFunc == nullptr) return;

  LogPrintf(LOG_CHECKING_TIMERS);
  int timerChanges = 0, counterChanges = 0;
  const DWORD start = SystemLibs.timeGetTimeFunc();
  DWORD lastTime = start;
  LARGE_INTEGER lastCounter;
  QueryPerformanceCounter(&lastCounter);
  while (timerChanges < TIMER_CHECK_CHANGES && counterChanges < TIMER_CHECK_CHANGES) {
    const DWORD time = SystemLibs.timeGetTimeFunc();
    if (time - start >= static_cast<DWORD>(TIMER_CHECK_LIMIT_MS)) break;
    if (time != lastTime) {
      timerChanges++;
      lastTime = time;
    }
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    if (counter.QuadPart != lastCounter.QuadPart) {
      counterChanges++;
      lastCounter = counter;
    }
  }
  LogPrintf(LOG_TIMER_RESULTS, timerChanges, counterChanges);
  if (counterChanges < timerChanges) {
    LogPrintf(LOG_USING_MM_TIMER, static_cast<int>(caps.wPeriodMin));
    PerformanceCounterAvailable = 0;
  } else {
    LogPrintf(LOG_USING_PERFORMANCE_COUNTER, static_cast<double>(PerformanceCounterFrequency) / 1000.0);
  }
}

void ChooseCharSet() {
  if (GetCharSet() != CHARSET_NONE) return;
  switch (GetOEMCP()) {
    case 932:
      SetCharSet(CHARSET_SHIFTJIS);
      SetCodePage(932);
      break;
    case 936:
      SetCharSet(CHARSET_GB2312);
      SetCodePage(936);
      break;
    case 949:
      SetCharSet(CHARSET_HANGEUL);
      SetCodePage(949);
      break;
    case 950:
      SetCharSet(CHARSET_BIG5);
      SetCodePage(950);
      break;
    default:
      SetCharSet(CHARSET_SHIFTJIS);
      SetCodePage(0);
      break;
  }
}

void FailCreation() {
  WinSys.quit = 1;
  SetEndRequestFlag();
}

// Shows the cursor again (count at least 0) and records it as shown.
void ShowCursorAgain() {
  if (!WinSys.cursorShown) {
    SetCursorDisplayCount(1);
    if (WinSys.mainWindow != nullptr)
      PostMessageA(WinSys.mainWindow, WM_SETCURSOR, reinterpret_cast<WPARAM>(WinSys.mainWindow), 0);
    WinSys.cursorShown = 1;
  }
}

// The cursor rule of the mouse messages: a cursor not to be shown is hidden.
void ApplyCursorRule() {
  if (!WinSys.cursorShown) {
    SetCursor(nullptr);
    SetCursorDisplayCount(0);
  }
}

// Steps of window destruction that also undo a creation that failed
// before the window existed: loading workers, file handles, timer period.
void ReleaseWindowServices() {
  StopASyncLoadThreads();
  TerminateFileHandles();
  EndASyncLoad();
  if (WinSys.timerPeriod != 0 && SystemLibs.timeEndPeriodFunc != nullptr)
    SystemLibs.timeEndPeriodFunc(WinSys.timerPeriod);
  WinSys.timerPeriod = 0;
  if (WinSys.layeredBitmap != nullptr) {
    DeleteObject(WinSys.layeredBitmap);
    WinSys.layeredBitmap = nullptr;
  }
  if (ScreenSaverSwitchedOff) {
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 1, nullptr, SPIF_SENDWININICHANGE);
    ScreenSaverSwitchedOff = 0;
  }
}

void HandlePaint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (StartupSettings.windowed) {
    WinSys.painting = 1;
    if (!LibraryState.started) {
      FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    } else if (GetDrawTarget() == -2) {
      const int keptVSync = GetWaitVSync();
      SetWaitVSync(0);
      RECT client;
      GetClientRect(window, &client);
      const int now = GetMillisecondCount();
      // Wine turns each present into a paint of the whole client area: one
      // that follows a present closely waits like a partial one, or paints
      // and presents would feed each other and starve the frame loop.
      const int justPresented = WinSys.screenPresented &&
                                ((now - WinSys.screenPresentTime) & 0x7fffffff) <= INACTIVE_PRESENT_INTERVAL;
      if (EqualRect(&client, &paint.rcPaint) && !justPresented) {
        PresentScreen();
      } else if (!WinSys.presentPending) {
        WinSys.presentPending = 1;
        WinSys.lastPresentTime = now;
      } else if (((now - WinSys.lastPresentTime) & 0x7fffffff) > INACTIVE_PRESENT_INTERVAL) {
        PresentScreen();
        WinSys.lastPresentTime = now;
      }
      SetWaitVSync(keptVSync);
    }
    WinSys.painting = 0;
  }
  EndPaint(window, &paint);
}

void HandleDisplayChange(WPARAM wParam, LPARAM lParam) {
  if (!StartupSettings.windowed || WinSys.modeChanging) return;
  const int bits = static_cast<int>(wParam);
  const int width = LOWORD(lParam), height = HIWORD(lParam);
  int screenWidth, screenHeight, screenBits;
  GetScreenModeSize(&screenWidth, &screenHeight, &screenBits);
  if (bits == screenBits && width == screenWidth && height == screenHeight) return;
  if (!HasGraphicsRestoreCallback() || bits == 24 || (bits != screenBits && bits == 8) || width < screenWidth ||
      height < screenHeight) {
    LogPrintf(LOG_QUIT_NO_RESTORE_OR_24BIT);
    LogPrintf(LOG_QUIT_SCREEN_TOO_SMALL);
    if (!WinSys.closeRequested) {
      WinSys.closeRequested = 1;
      PostMessageA(WinSys.mainWindow, WM_CLOSE, 0, 0);
    }
  } else {
    CheckMovieSystemReady();
    ResumeAllMovies();
  }
}

void PauseMedia(int pause) {
  if (pause) PauseAllMovies();
  else ResumeAllMovies();
  PauseResumeAllSoundHandles(pause);
  PauseResumeAllSoftSoundPlayers(pause);
}

}  // namespace

int CreateMainWindow() {
  memset(&WinSys, 0, sizeof(WinSys));
  WinSys.inactiveStartTime = -1;

  WinSys.instance = GetModuleHandleA(nullptr);
  WinSys.mainThreadId = GetCurrentThreadId();
  InitASyncLoad(WinSys.mainThreadId);
  InitializeFileHandles();

  HMODULE user32 = LoadLibraryA("user32");
  if (user32 != nullptr) {
    WinSys.UpdateLayeredWindowFunc = reinterpret_cast<decltype(WinSys.UpdateLayeredWindowFunc)>(
        reinterpret_cast<void*>(GetProcAddress(user32, "UpdateLayeredWindow")));
    FreeLibrary(user32);
  }

  if (StartupSettings.className[0] == '\0')
    CopyStringLimited(StartupSettings.className,
                      StartupSettings.captionSet ? StartupSettings.caption : DEFAULT_CLASS_NAME, WINDOW_TEXT_SIZE - 1);

  ReportMemory();
  WinSys.desktopWidth = GetSystemMetrics(SM_CXSCREEN);
  WinSys.desktopHeight = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  WinSys.desktopBits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
  ReleaseDC(nullptr, screen);
  CheckTimers();
  SeedRandomGenerator(static_cast<uint32_t>(GetMillisecondCount()));

  SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 0, nullptr, SPIF_SENDWININICHANGE);
  ScreenSaverSwitchedOff = 1;
  ChooseCharSet();

  if (FindWindowA(StartupSettings.className, nullptr) != nullptr) {
    LogPrintf(LOG_STEP_RESULT, LOG_CHECKING_DOUBLE_START, LOG_DOUBLE_START);
    FailCreation();
    return -1;
  }
  LogPrintf(LOG_STEP_RESULT, LOG_CHECKING_DOUBLE_START, LOG_NO_DOUBLE_START);

  WinSys.creating = 1;
  WNDCLASSEXA windowClass;
  memset(&windowClass, 0, sizeof(windowClass));
  windowClass.cbSize = 48;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = WinSys.instance;
  windowClass.hIcon = LoadIconA(WinSys.instance, MAKEINTRESOURCEA(32512));
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
  windowClass.lpszClassName = StartupSettings.className;
  if (RegisterClassExA(&windowClass) == 0) {
    LogPrintf(LOG_REGISTERING_CLASS);
    FailCreation();
  } else {
    LogPrintf(LOG_STEP_RESULT, LOG_REGISTERING_CLASS, LOG_CLASS_REGISTERED);
  }

  if (!StartupSettings.captionSet) CopyString(StartupSettings.caption, DEFAULT_CAPTION);

  int width, height;
  GetWindowScreenSize(&width, &height);
  if (!StartupSettings.windowed) {
    LogPrintf(LOG_CREATING_FULL_SCREEN_WINDOW);
    WinSys.cursorRequested = 0;
    WinSys.mainWindow = CreateWindowExA(WS_EX_TOPMOST, StartupSettings.className, StartupSettings.caption, WS_POPUP, 0,
                                        0, width, height, nullptr, nullptr, WinSys.instance, nullptr);
  } else {
    LogPrintf(LOG_CREATING_WINDOW);
    WinSys.cursorRequested = 1;
    DWORD style = WindowStyleTable[0].windowed;
    if (StartupSettings.windowModeCalled) style |= WS_VISIBLE;
    const DWORD exStyle = WindowStyleTable[0].windowedEx;
    double scaleX, scaleY;
    GetWindowScaleRate(&scaleX, &scaleY);
    RECT rect = {0, 0, static_cast<LONG>(width * scaleX), static_cast<LONG>(height * scaleY)};
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    WinSys.captionHeight = -rect.top;
    const int windowWidth = rect.right - rect.left, windowHeight = rect.bottom - rect.top;
    const int x = (WinSys.desktopWidth - windowWidth) / 2 + rect.left;
    const int y = (WinSys.desktopHeight - windowHeight) / 2 + rect.top;
    WinSys.mainWindow = CreateWindowExA(exStyle, StartupSettings.className, StartupSettings.caption, style, x, y,
                                        windowWidth, windowHeight, nullptr, nullptr, WinSys.instance, nullptr);
  }
  if (WinSys.mainWindow == nullptr) {
    FailCreation();
    LogPrintf(LOG_WINDOW_FAILED);
    WinSys.creating = 0;
    return -1;
  }
  LogPrintf(LOG_WINDOW_CREATED);

  LogPrintf(LOG_SHOWING_WINDOW);
  ShowWindow(WinSys.mainWindow, SW_SHOW);
  UpdateWindow(WinSys.mainWindow);
  WinSys.closeRequested = 0;
  WinSys.windowDestroyed = 0;
  WinSys.active = 1;

  if (!StartupSettings.windowed) {
    LogPrintf(LOG_CURSOR_HIDDEN);
    SetCursor(nullptr);
  }
  LogPrintf(LOG_IME_OFF);
  if (SystemLibs.WINNLSEnableIMEFunc != nullptr)
    SystemLibs.WINNLSEnableIMEFunc(WinSys.mainWindow, IsImeEnableRequested() ? TRUE : FALSE);

  if (StartupSettings.windowed) RefreshClientRect();
  WinSys.cursorShown = 1;  // the system shows the cursor until told otherwise
  SetMouseVisibility(WinSys.cursorRequested);
  WinSys.closingLevel = 0;
  BringWindowToTop(WinSys.mainWindow);
  FitWindowToScreenSize();
  WinSys.creating = 0;

  if (StartASyncLoadThreads(GetProcessorCount()) != 0) {
    LogPrintf(LOG_ASYNC_THREAD_FAILED);
    FailCreation();
    return -1;
  }
  return 0;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      LogPrintf(LOG_WINDOW_DESTROYING);
      WinSys.windowDestroyed = 1;
      PostQuitMessage(0);
      WinSys.quit = 1;
      SetEndRequestFlag();
      LogPrintf(LOG_READY_TO_QUIT);
      break;

    case WM_MOVE:
      RefreshWindowRect();
      if (StartupSettings.windowed && !WinSys.modeChanging) {
        const int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
        const int clientWidth = WinSys.clientRect.right - WinSys.clientRect.left;
        const int clientHeight = WinSys.clientRect.bottom - WinSys.clientRect.top;
        SetRect(&WinSys.clientRect, x, y, x + clientWidth, y + clientHeight);
        if (GetDrawTarget() == -4) {
          const int maskUse = GetMaskUseFlag();
          SwitchMaskScreenUse(0);
          SwitchMaskScreenUse(maskUse);
        }
      }
      break;

    case WM_SIZE:
      RefreshWindowRect();
      WinSys.minimized = wParam == SIZE_MINIMIZED ? 1 : 0;
      FitWindowToScreenSize();
      break;

    case WM_ACTIVATE: QueueActivationChange(wParam, 0); break;

    case WM_PAINT: HandlePaint(window); break;

    case WM_CLOSE:
      LogPrintf(LOG_WINDOW_CLOSING);
      DestroyWindow(WinSys.mainWindow);
      if (WinSys.closingLevel == 0) WinSys.closingLevel = 4;
      return 0;

    case WM_ACTIVATEAPP:
      if (wParam == 0) QueueActivationChange(0, 1);
      break;

    case WM_SETCURSOR:
      if (WinSys.inMenuOrMove) {
        WinSys.inMenuOrMove = 0;
        QueueActivationChange(1, 0);
      }
      ApplyCursorRule();
      break;

    case WM_DISPLAYCHANGE: HandleDisplayChange(wParam, lParam); break;

    case WM_NCHITTEST:
      if (!StartupSettings.windowed && GetUseHardwareRendering() && static_cast<short>(HIWORD(lParam)) < 8)
        return HTMENU;
      break;

    case WM_NCRBUTTONDOWN:
    case WM_ENTERMENULOOP:
    case WM_ENTERSIZEMOVE:
      if (StartupSettings.windowed && !WinSys.inMenuOrMove) {
        WinSys.inMenuOrMove = 1;
        OnActivationChange(0, 0);
      }
      break;

    case WM_EXITMENULOOP:
    case WM_EXITSIZEMOVE:
      if (WinSys.inMenuOrMove) {
        WinSys.inMenuOrMove = 0;
        QueueActivationChange(1, 0);
      }
      break;

    case WM_KEYDOWN:
      if (const int code = TranslateControlKey(static_cast<int>(wParam))) PushInputChar(code);
      break;

    case WM_CHAR: {
      const int code = static_cast<int>(wParam & 0xFF);
      if (code == 10) PushInputChar(13);
      else if (code >= 32 || code == 1 || code == 3 || code == 8 || code == 9 || code == 13 || code == 16 ||
               code == 22 || code == 24 || code == 27)
        PushInputChar(code);
      break;
    }

    case WM_IME_STARTCOMPOSITION:
    case WM_IME_ENDCOMPOSITION:
    case WM_IME_COMPOSITION:
    case WM_IME_SETCONTEXT:
    case WM_IME_NOTIFY: return HandleImeMessage(window, message, wParam, lParam);

    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_MOVE:
          if (!WinSys.inMenuOrMove) {
            WinSys.inMenuOrMove = 1;
            OnActivationChange(0, 0);
          }
          break;
        case SC_MONITORPOWER:
        case SC_SCREENSAVE: return 1;
      }
      break;

    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP: ApplyCursorRule(); break;

    case WM_MOVING:
      if (!StartupSettings.windowed && lParam != 0) *reinterpret_cast<RECT*>(lParam) = WinSys.windowRect;
      break;

    case MM_MCINOTIFY: HandleMidiPlayEnd(); break;

    case SOCKET_EVENT_MESSAGE: return HandleSocketEventMessage(window, message, wParam, lParam);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int OnActivationChange(WPARAM wParam, LPARAM lParam) {
  const int active = (LOWORD(wParam) != 0 && HIWORD(wParam) == 0) ? 1 : 0;
  if (WinSys.creating) {
    WinSys.active = active;
    return 0;
  }
  if (active == WinSys.active) return 0;
  WinSys.active = active;

  if (!active) {
    if (StartupSettings.windowed) {
      if (!StartupSettings.runAlways) PauseMedia(1);
      ReacquireInputDevices();
    } else {
      const int direct3D = HasDirect3DDevice();
      if (direct3D) {
        ReleaseMaskScreen();
        ReleaseAllDeviceObjects();
      }
      EndGraphicsSystem();
      if (GetOsCode() >= OS_WINVISTA || !direct3D) {
        ChangeDisplaySettingsA(nullptr, 0);
        ShowWindow(WinSys.mainWindow, SW_MINIMIZE);
      }
      if (IsFullScreenMode() && GetDirectDrawObject() != nullptr) {
        if (WinSys.compositionOff) SetDesktopCompositionEnabled(1);
        if (!HasGraphicsRestoreCallback()) {
          LogPrintf(LOG_QUIT_NO_RESTORE);
          if (!WinSys.closeRequested) {
            WinSys.closeRequested = 1;
            PostMessageA(WinSys.mainWindow, WM_CLOSE, 0, 0);
          }
          return -1;
        }
        PauseMedia(1);
      } else {
        if (!StartupSettings.runAlways) PauseMedia(1);
        ReacquireInputDevices();
      }
    }
  } else {
    RequestImeReapplyOnActivation();
    if (StartupSettings.windowed && HasDirect3DDevice()) {
      EndDrawScene();
      if (TestDeviceCooperativeLevel() != 0) RebuildGraphicsDeviceKeepMode();
    }
    if (!StartupSettings.windowed && LibraryState.started) {
      RebuildGraphicsDeviceKeepMode();
      PauseMedia(0);
    } else if (!StartupSettings.runAlways) {
      PauseMedia(0);
    }
    ReacquireInputDevices();
  }
  ApplyPadVibration();
  return 0;
}

void DestroyMainWindow() {
  if (WinSys.mainWindow == nullptr) {
    ReleaseWindowServices();
    return;
  }
  if (ScreenSaverSwitchedOff) {
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, 1, nullptr, SPIF_SENDWININICHANGE);
    ScreenSaverSwitchedOff = 0;
  }
  if (SystemLibs.WINNLSEnableIMEFunc != nullptr) SystemLibs.WINNLSEnableIMEFunc(WinSys.mainWindow, TRUE);
  WinSys.cursorRequested = 1;
  ShowCursorAgain();

  if (!WinSys.closeRequested) {
    WinSys.closeRequested = 1;
    PostMessageA(WinSys.mainWindow, WM_CLOSE, 0, 0);
  }
  while (PumpWindowMessagesCore() == 0 && !WinSys.windowDestroyed) {
  }
  UnregisterClassA(StartupSettings.className, WinSys.instance);

  DeleteAllKeyInputHandles();
  ReleaseWindowServices();
}

int SetTitleText(const char* text) {
  if (text == nullptr) return -1;
  CopyStringLimited(StartupSettings.caption, text, WINDOW_TEXT_SIZE - 1);
  StartupSettings.captionSet = 1;
  if (WinSys.mainWindow != nullptr) SetWindowTextA(WinSys.mainWindow, StartupSettings.caption);
  return 0;
}

HWND GetMainWindowHandle() { return WinSys.mainWindow; }
HWND GetOutputWindowHandle() { return WinSys.mainWindow; }
int IsWindowedMode() { return StartupSettings.windowed; }
int IsAppActive() { return WinSys.active; }
int GetRunAlwaysFlag() { return StartupSettings.runAlways; }
int IsCloseRequested() { return WinSys.closeRequested; }

int GetDesktopMetrics(int* width, int* height, int* bits) {
  int w, h, b;
  if (LibraryState.started) {
    w = WinSys.desktopWidth;
    h = WinSys.desktopHeight;
    b = WinSys.desktopBits;
  } else {
    w = GetSystemMetrics(SM_CXSCREEN);
    h = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    b = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
  }
  if (width) *width = w;
  if (height) *height = h;
  if (bits) *bits = b;
  return 0;
}

int HasDirectDrawAndMainWindow() { return GetDirectDrawObject() != nullptr && WinSys.mainWindow != nullptr ? 1 : 0; }

int ReadClipboardText(char* buffer, int bufferSize) {
  if (!OpenClipboard(WinSys.mainWindow)) return -1;
  if (!IsClipboardFormatAvailable(CF_TEXT)) {
    CloseClipboard();
    return -1;
  }
  HANDLE data = GetClipboardData(CF_TEXT);
  const char* text = data != nullptr ? static_cast<const char*>(GlobalLock(data)) : nullptr;
  if (text == nullptr) {
    CloseClipboard();
    return -1;
  }
  const SIZE_T dataSize = GlobalSize(data);
  int result = 0;
  if (buffer == nullptr) {
    result = static_cast<int>(dataSize) + 1;
  } else if (bufferSize <= 0) {
    result = -1;
  } else {
    // The data may hold no terminator, and may have grown since the caller
    // asked for its size: copy no more than both allow.
    int i = 0;
    while (i < bufferSize - 1 && static_cast<SIZE_T>(i) < dataSize && text[i] != '\0') {
      buffer[i] = text[i];
      i++;
    }
    buffer[i] = '\0';
  }
  GlobalUnlock(data);
  CloseClipboard();
  return result;
}

int WriteClipboardText(const char* text) {
  if (text == nullptr) return -1;
  const int length = GetStringLength(text);
  HGLOBAL block = GlobalAlloc(0, static_cast<SIZE_T>(length) + 1);
  if (block == nullptr) return -1;
  memcpy(block, text, static_cast<size_t>(length) + 1);  // fixed block: the handle is the address
  if (!OpenClipboard(WinSys.mainWindow)) {
    GlobalFree(block);
    return -1;
  }
  EmptyClipboard();
  if (SetClipboardData(CF_TEXT, block) == nullptr) {
    CloseClipboard();
    GlobalFree(block);
    return -1;
  }
  CloseClipboard();
  return 0;
}
