// Library start-up and shut-down: every service brought up in a fixed
// order and taken down in another, and the fatal-error exit.
//
// Threads and locks: start-up, shut-down and the fatal exit run on the
// main thread (the one that creates the window); the two public entries
// hold the API lock around their bodies. The fatal exit called on another
// thread only logs and ends the process.
// Platform: QueryPerformanceFrequency, GetDeviceCaps, FindWindowA,
// DestroyWindow, UnregisterClassA, ExitProcess.
#include "RaRadara.h"

#include "DiDAridIrer.h"
#include "RaRadaraApiLock.h"
#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "RaRadaraSysInfo.h"
#include "RaRadaraSystem.h"
#include "ReReziRader.h"
#include "RoRezedur_.h"
#include "VeRavoroString.h"
#include "VuViderezaSoftImage.h"
#include "ZiDezaru.h"

namespace {

// Log texts.
const char LOG_SCREEN_SETTING[] = "設定されている画面設定 %dx%d %dbit color";
const char LOG_NO_SCREEN_MODE[] = "対応している画面モードなし";
const char LOG_UNDOING_START_UP[] = "起動処理に失敗したため、開始した処理を終了します";
const char LOG_NO_24BIT_COLOR[] = "ZEvudidは２４ビットカラーモードに対応していません";
const char LOG_FATAL[] = "%s";  // the caller's text

}  // namespace

StartupSettingsBlock StartupSettings;
LibraryStateBlock LibraryState;

int IsLibraryStarted() { return LibraryState.started; }

int SetAlwaysRunFlag(int flag) {
  StartupSettings.runAlways = flag != 0 ? 1 : 0;
  return 0;
}

int SetWindowClassName(const char* name) {
  if (name == nullptr) return -1;
  CopyStringLimited(StartupSettings.className, name, WINDOW_TEXT_SIZE - 1);
  StartupSettings.className[WINDOW_TEXT_SIZE - 1] = '\0';
  return 0;
}

namespace {

// Full-screen mode check: a display mode with the configured size and
// depth, else the fall-backs. Only called in full-screen mode.
void ChooseFullScreenMode() {
  for (;;) {
    int width, height;
    const int bits = GetColorBitDepth();
    GetScreenSizeSetting(&width, &height);
    LogPrintf(LOG_SCREEN_SETTING, width, height, bits);

    int found = 0;
    const int count = GetDisplayModeCount();
    for (int i = 0; i < count; i++) {
      const DisplayModeEntry mode = GetDisplayModeEntry(i);
      if (mode.width == width && mode.height == height && mode.colorBits == bits) {
        found = 1;
        break;
      }
    }
    if (!found) {
      LogPrintf(LOG_NO_SCREEN_MODE);
      if (width == 640 && height == 480 && bits == 16) {
        SetScreenMode(640, 480, 32, GetRefreshRateSetting());
        continue;
      }
      if (!(width == 320 && height == 240 && GetUseHardwareRendering())) ChangeWindowMode(1);
    }
    break;
  }
  int width, height;
  GetScreenSizeSetting(&width, &height);
  if (width == 320 && height == 240 && !StartupSettings.windowed) {
    StartupSettings.emulate320x240 = 1;
    SetScreenSizeSetting(640, 480);
  }
}

// The quit message the window posted when it was destroyed: left in the
// thread's queue it would end the first pump of a later start-up.
void DiscardQuitMessage() {
  MSG message;
  while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

// How far a start-up got, for undoing it.
enum StartUpStage {
  STAGE_BEFORE_WINDOW,  // system libraries, archives, log, COM
  STAGE_WINDOW,         // + the window, loading workers, file handles
  STAGE_INPUT,          // + input
  STAGE_SERVICES,       // + sound, base images, soft images, movies
};

// Undoes a failed start-up: the steps done so far, in shut-down order.
int UndoStartUp(StartUpStage stage) {
  LogPrintf(LOG_UNDOING_START_UP);
  const int keptClosing = WinSys.closingLevel;
  WinSys.closingLevel = 1;
  if (stage >= STAGE_SERVICES) {
    TerminateBaseImageModule();
    ShutdownSoftImageHandles();
    EndMovieSystem();
  }
  if (stage >= STAGE_INPUT) TerminateInput();
  if (stage >= STAGE_SERVICES) {
    TerminateSound();
    FreeAcmLibrary();
  }
  // Without a window this still ends the loading set-up, the file handles
  // and the timer period that window creation began before it failed.
  DestroyMainWindow();
  WinSys.closingLevel = keptClosing;
  if (WinSys.mainWindow != nullptr && IsWindow(WinSys.mainWindow)) DestroyWindow(WinSys.mainWindow);
  UnregisterClassA(StartupSettings.className, WinSys.instance);
  WinSys.mainWindow = nullptr;
  DiscardQuitMessage();
  TerminateCom();
  FileStreamSetDirectory(LibraryState.savedDirectory);
  EndArchiveLayer();
  FreeSystemLibraries();
  LibraryState.startingUp = 0;
  return -1;
}

}  // namespace

int StartUpCore() {
  if (LibraryState.started) return 0;
  LibraryState.startingUp = 1;

  ClearEndRequestFlag();
  LoadSystemLibraries();
  SetupYuvToRgbTables();
  StartArchiveLayer();
  SetupFileStreamFunctions(nullptr);
  FileStreamGetDirectory(LibraryState.savedDirectory);
  if (GetLogFolder()[0] == '\0') SetLogFolder(LibraryState.savedDirectory);
  StartLog();

  if (!StartupSettings.windowed) ChooseFullScreenMode();

  HDC screen = GetDC(nullptr);
  const int desktopBits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
  ReleaseDC(nullptr, screen);
  if ((desktopBits == 24 && StartupSettings.windowed) || GetColorBitDepth() == 24) {
    LogPrintf(LOG_NO_24BIT_COLOR);
    return UndoStartUp(STAGE_BEFORE_WINDOW);
  }

  SetupPerformanceCounter();
  LogSystemInfo();
  SetGraphicsRestoreCallback(nullptr);
  InitializeCom();

  if (CreateMainWindow() == -1) return UndoStartUp(WinSys.mainWindow != nullptr ? STAGE_WINDOW : STAGE_BEFORE_WINDOW);
  if (InitializeInput() == -1) return UndoStartUp(STAGE_WINDOW);
  LoadAcmLibrary();
  InitializeSound();
  InitializeBaseImageModule();
  SetupSoftImageHandles();
  SetupMovieHandleType();
  if (InitializeGraphicsSystem() < 0) return UndoStartUp(STAGE_SERVICES);
  SetupCharInputBuffer();

  LibraryState.started = 1;
  if (!StartupSettings.windowed) BringWindowToForeground(WinSys.mainWindow, 1);
  StartScreenLog();
  SetDrawTarget(DRAW_TARGET_BACK_BUFFER);
  SetDrawTarget(DRAW_TARGET_FRONT_SCREEN);
  SetupModelHandleTypes();
  LibraryState.startingUp = 0;
  return 0;
}

int ShutDownCore() {
  if (!LibraryState.started) return 0;
  WinSys.closingLevel = 1;

  DeleteAllSoftImages();
  EndScreenLog();
  ShutdownNetwork();
  StopLibraryMusic();
  ShutdownModelHandleTypes();
  TerminateGraphicsSystem();
  TerminateBaseImageModule();
  ShutdownSoftImageHandles();
  EndMovieSystem();
  TerminateInput();
  TerminateSound();
  FreeAcmLibrary();
  DestroyMainWindow();
  TerminateCom();

  LibraryState.started = 0;

  while (PumpWindowMessagesCore() == 0 && !WinSys.quit && !WinSys.windowDestroyed) {
  }
  UnregisterClassA(StartupSettings.className, WinSys.instance);
  for (;;) {
    HWND found = FindWindowA(StartupSettings.className, nullptr);
    if (found == nullptr || found != WinSys.mainWindow) break;
    DestroyWindow(found);
    Sleep(100);
  }
  // A window destroyed only by the loop above kept its class registered,
  // and a later start-up could not register it again.
  UnregisterClassA(StartupSettings.className, WinSys.instance);
  WinSys.mainWindow = nullptr;
  DiscardQuitMessage();

  FileStreamSetDirectory(LibraryState.savedDirectory);
  EndArchiveLayer();
  DumpAllocList();
  FreeSystemLibraries();
  return 0;
}

int LibraryStartUp() {
  if (LibraryState.started) return 0;
  LockLibraryCall();
  const int result = StartUpCore();
  UnlockLibraryCall();
  // A failed start-up leaves nothing behind, the lock's events included.
  if (result != 0) DeleteLibraryCallLock();
  return result;
}

int LibraryShutDown() {
  if (!LibraryState.started) return 0;
  LockLibraryCall();
  const int result = ShutDownCore();
  UnlockLibraryCall();
  DeleteLibraryCallLock();
  return result;
}

void FatalErrorExit(const char* text) {
  LogPrintf(LOG_FATAL, text);
  // Shut-down waits for the loading workers and pumps the window, which
  // only the main thread may do; elsewhere the process ends at once.
  if (WinSys.mainThreadId != 0 && GetCurrentThreadId() != WinSys.mainThreadId) ExitProcess(static_cast<UINT>(-1));
  ShutDownCore();
  DeleteLibraryCallLock();
  ExitProcess(static_cast<UINT>(-1));
}
