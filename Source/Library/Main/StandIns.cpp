// Stand-ins for services whose components are not built yet. Each returns
// what the real function returns when its service is unavailable; remove an
// entry when its component arrives.
#include "RaRadaraApiLock.h"
#include "RaRadaraLog.h"

// Device layer: the asynchronous-loading setting (off unless switched on).
int IsASyncLoadEnabled() { return 0; }

// Start-up: the fatal-error exit without the library shut-down, which does
// not exist yet: logs the text, deletes the API lock, ends the process.
void FatalErrorExit(const char* text) {
  LogWriteText(text);
  LogWriteText("\n");
  DeleteLibraryCallLock();
  ExitProcess(static_cast<UINT>(-1));
}

// Window module: no main window yet, so input does not start on its own;
// the application counts as active, nothing is pumped, no clipboard.
HWND GetMainWindowHandle() { return nullptr; }
int IsAppActive() { return 1; }
int IsCloseRequested() { return 0; }
int WaitWhileInactive() { return 0; }
int PumpWindowMessagesCore() { return 0; }
DWORD GetMainThreadId() { return GetCurrentThreadId(); }
int ReadClipboardText(char* buffer, int bufferSize) { return -1; }
int WriteClipboardText(const char* text) { return -1; }
