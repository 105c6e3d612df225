// The library's process frame: start-up and shut-down, the main window and
// its window procedure, the message pump with the inactive wait, window
// mode, styles and the mouse cursor.
#ifndef RARADARA_H
#define RARADARA_H

#include <windows.h>
#include <stdint.h>

#include "DaDode.h"
#include "RiDov.h"

enum {
  WINDOW_TEXT_SIZE = 256,  // caption and class name, terminator included
  ACTIVATION_RING_SIZE = 512,
  INACTIVE_PRESENT_INTERVAL = 64,  // ms between presents while inactive or painting
  PUMP_MESSAGES_PER_PASS = 5,
  PUMP_CLOSING_PASS_LIMIT = 10,
  WINDOW_STYLE_ROWS = 12,
  SOCKET_EVENT_MESSAGE = 1285,
};

// Settings an application makes before start-up, read by it. They survive
// window creation and shut-down.
struct StartupSettingsBlock {
  int windowed;        // 1 window, 0 full screen (default)
  int emulate320x240;  // full screen at 320 x 240 drawn into 640 x 480
  int runAlways;       // keep running while inactive
  int captionSet;
  char caption[WINDOW_TEXT_SIZE];
  char className[WINDOW_TEXT_SIZE];  // empty: the caption, else "R123987U"
  int windowModeCalled;              // ChangeWindowMode has been called
  double scaleX, scaleY;             // window scale rates; 0 or less reads as 1.0
};
extern StartupSettingsBlock StartupSettings;

// Library state words.
struct LibraryStateBlock {
  int started;                          // 1 from the end of a successful start-up until shut-down begins
  int startingUp;                       // 1 while StartUpCore runs
  char savedDirectory[FILE_PATH_SIZE];  // current directory at start-up
};
extern LibraryStateBlock LibraryState;

struct ActivationEntry {
  WPARAM wParam;
  LPARAM lParam;
};

// Window-system state, zeroed by CreateMainWindow (the settings live in
// StartupSettings and are kept).
struct WindowSystemState {
  HINSTANCE instance;
  HWND mainWindow;
  DWORD mainThreadId;

  int active;
  int minimized;
  int closeRequested;
  int windowDestroyed;
  int quit;
  int closingLevel;  // 0 running, 1 shut-down, 4 closed by WM_CLOSE
  int creating;      // CreateMainWindow runs
  int modeChanging;  // ChangeWindowMode rebuilds the screen
  int painting;      // WM_PAINT is being handled
  int presentPending;
  int lastPresentTime;
  int screenPresentTime;  // last finished screen present (any caller)
  int screenPresented;    // screenPresentTime is set
  int inactiveStartTime;  // -1 after creation
  int inactiveStartValid;
  int inPump;
  int stringInputGuard;
  int inMenuOrMove;
  int windowModeApplied;
  int displayChanged;
  int compositionOff;  // desktop composition switched off by the library

  RECT windowRect;
  RECT clientRect;  // screen coordinates
  int captionHeight;

  int cursorRequested;  // requested-visible
  int cursorShown;

  ActivationEntry ring[ACTIVATION_RING_SIZE];
  int ringHead, ringTail, ringCount;

  int desktopWidth, desktopHeight, desktopBits;
  uint64_t totalMemory, availableMemory;
  UINT timerPeriod;  // timeBeginPeriod minimum, 0 when none was set

  BOOL(WINAPI* UpdateLayeredWindowFunc)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);
  HBITMAP layeredBitmap;
};
extern WindowSystemState WinSys;

// Start-up and shut-down.
int StartUpCore();
int ShutDownCore();
// Never returns: logs the text, shuts the library down (main thread only)
// and ends the process with -1.
void FatalErrorExit(const char* text);
int IsLibraryStarted();
int SetWindowClassName(const char* name);

// Message pump and the inactive wait.
int PumpWindowMessagesCore();
int WaitWhileInactive();
int IsInactiveWaitNeeded();
int QueueActivationChange(WPARAM wParam, LPARAM lParam);

// Main window.
int CreateMainWindow();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int OnActivationChange(WPARAM wParam, LPARAM lParam);
void DestroyMainWindow();
int HasDirectDrawAndMainWindow();

// Window mode, styles and cursor.
void SetWindowModeFlag(int windowed);
int ApplyWindowStyle();
int FitWindowToScreenSize();
void BringWindowToForeground(HWND window, int topmost);
void SetDesktopCompositionEnabled(int enable);
// The cursor display count brought to exactly 0 (show) or -1 (hide).
int SetCursorDisplayCount(int show);
void UpdateFullScreenCursor();
// The screen size the window is made for: the setting, or 640 x 480 while
// a 320 x 240 screen is emulated.
void GetWindowScreenSize(int* width, int* height);
// The stored client rectangle read anew from the window (screen coordinates).
void RefreshClientRect();

// Window styles of each mode, indexed by the window style number (always 0).
struct WindowStyleRow {
  DWORD windowed, windowedEx, fullScreen, fullScreenEx;
};
extern const WindowStyleRow WindowStyleTable[WINDOW_STYLE_ROWS];

#endif  // RARADARA_H
