// Stand-ins for services whose components are not built yet. Each returns
// what the real function returns when its service is unavailable; remove an
// entry when its component arrives.
#include "RaRadaraApiLock.h"
#include "RaRadaraLog.h"
#include "RiRerEziDrawFunction.h"

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

// Software triangles: the textured quad (mirrored rotated blits) draws
// nothing until the triangle rasteriser exists.
void DrawQuadMemImg(MEMIMG*, const MEMIMG*, int, int, int, int, int, int, int, int, int, const MEMIMG*) {}
