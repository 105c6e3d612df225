// Stand-ins for services whose components are not built yet. Each returns
// what the real function returns when its service is unavailable; remove an
// entry when its component arrives.
#include "RaRadaraApiLock.h"
#include "RaRadaraLog.h"
#include "VuViderezaDeviceLinks.h"

// Window layer: no window, windowed, inactive, not started.
HWND GetMainWindowHandle() { return nullptr; }
HWND GetOutputWindowHandle() { return nullptr; }
int IsWindowedMode() { return 1; }
int IsAppActive() { return 0; }
int IsWindowMinimized() { return 0; }
int GetRunAlwaysFlag() { return 0; }
double GetWindowScaleRate(double* x, double* y) {
  if (x) *x = 1.0;
  if (y) *y = 1.0;
  return 1.0;
}
int ApplyWindowStyle() { return 0; }
int SetDesktopCompositionEnabled(int) { return 0; }
int IsLibraryStarted() { return 0; }
int PumpWindowMessagesCore() { return 0; }

// Drawing: the back screen is the draw target, no batch, no memory images.
int GetDrawTarget() { return -2; }
int GetDrawTargetSurfaceIndex() { return 0; }
void FlushVertexBatch(int) {}
void ForgetLastDrawSetup() {}
void SetMemImgDefaultColorType(int) {}

// Shaders, declarations, the brightness texture and models: no programmable
// shaders, nothing made, nothing to release.
int CreateBaseShaders() { return 0; }
int AreShadersUsable() { return 0; }
int ReleaseBaseShaders() { return 0; }
int CreateVertexDeclarations() { return 0; }
int ReleaseVertexDeclarations() { return 0; }
int CreateBrightnessMaxVolumeTexture() { return -1; }
int ReleaseBrightnessMaxVolumeTexture() { return 0; }
int ReleaseModelDeviceResources() { return 0; }

// Start-up: the fatal-error exit without the library shut-down, which does
// not exist yet: logs the text, deletes the API lock, ends the process.
void FatalErrorExit(const char* text) {
  LogWriteText(text);
  LogWriteText("\n");
  DeleteLibraryCallLock();
  ExitProcess(static_cast<UINT>(-1));
}
