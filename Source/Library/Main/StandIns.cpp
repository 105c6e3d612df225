// Stand-ins for services whose components are not built yet. Each returns
// what the real function returns when its service is unavailable; remove an
// entry when its component arrives.
#include <windows.h>
#include <string.h>

#include "RaRadara.h"
#include "RaRadaraServices.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaDraw.h"

// ---------------------------------------------------------------------------
// Graphics and drawing.

// Graphic creation: transfer-texture pool (empty).
int ReleaseIdleTransferTextures() { return 0; }

// ---------------------------------------------------------------------------
// Fonts.

// Fonts: no font handles or default settings to set up.
int InitializeFontModule() { return 0; }
// Fonts: nothing to end.
int TerminateFontModule() { return 0; }
// Fonts: no font handle made.
int CreateFontToHandle(const char*, int, int, int, int, int, int, int) { return -1; }
// Fonts: invalid font.
int DrawTextWithFont(int, int, const char*, unsigned int, int, unsigned int, int) { return -1; }
// Fonts: invalid font.
int MeasureTextWidth(const char*, int, int, int) { return -1; }
// On-screen log: refuses to start without the graphics objects.
int StartScreenLog() { return -1; }
// On-screen log: not started.
int EndScreenLog() { return 0; }
// On-screen log: its drawing is never switched on.
int DrawOnScreenLogOverFrame() { return 0; }

// ---------------------------------------------------------------------------
