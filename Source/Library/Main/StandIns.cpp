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
// Drawing: mask screen.
int ReleaseMaskScreen() { return 0; }
// Masks: no mask handles or mask screen to set up.
int InitMaskSystem() { return 0; }
// Masks: nothing to end.
int EndMaskSystem() { return 0; }
// Drawing: mask screen use.
int GetMaskUseFlag() { return 0; }
// Drawing: mask screen use.
int SwitchMaskScreenUse(int) { return 0; }
// Drawing: mask screen: no mask update is ever pending.
int ApplyPendingMaskToScreen() { return 0; }
// Drawing: clear of the software screen.
int ClearDrawTarget(const tagRECT*) { return 0; }
// Drawing: image draws are not built (the draw fails).
int DrawImageRotatedAbout(int, int, int, int, double, double, int, int, int) { return -1; }
// Drawing: image draws are not built (the draw fails).
int DrawImageRotatedScaledXY(int, int, int, int, double, double, double, int, int, int) { return -1; }
// Drawing: image draws are not built (the draw fails).
int DrawImageQuad(float, float, float, float, float, float, float, float, int, int) { return -1; }
// Drawing: shapes on the software screen.
int DrawRectShape(int, int, int, int, unsigned int, int) { return 0; }
// Drawing: shapes on the software screen.
int DrawCircleShape(int, int, int, unsigned int, int, int) { return 0; }
// Drawing: shapes on the software screen.
int DrawTriangleShape(int, int, int, int, int, int, unsigned int, int) { return 0; }

// Drawing: software path of the image draws (the glue returns 0 whatever
// the renderer does).
struct GraphicHandleRecord;
int SoftBlitImageAt(int, int, int, GraphicHandleRecord*) { return 0; }
int SoftBlitImageStretched(int, int, int, int, GraphicHandleRecord*, int) { return 0; }
int SoftBlitImageRotated(float, float, double, double, GraphicHandleRecord*, int, int) { return 0; }
// Drawing: filled box on the device (not drawn).
int DrawFilledBoxHW(int, int, int, int, unsigned int) { return -1; }
// Drawing: mask screen never requested, so never active.
int BeginMaskedDraw(tagRECT) { return 0; }
int ApplyMaskToScreen(tagRECT) { return 0; }
int CreateMaskScreen(int, int, int) { return 0; }
int IsMaskScreenRequested() { return 0; }
IDirect3DSurface9* GetActiveMaskSurface() { return nullptr; }
MEMIMG* GetActiveMaskWorkImage() { return nullptr; }
// Graphics and filters: no graphic handles or filters yet.
int InvertAndReadBackDiagonal(const unsigned char[4][3], unsigned char[4][3]) { return -1; }
// Models: nothing to release.
int ReleaseModelDeviceResources() { return 0; }

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
// Movies, models.

// Movies: the DirectShow road (no graph can be built).
struct MovieRecord;
int OpenMovieWithMediaGraph(MovieRecord*, const char*, int*, int*, int, int) { return -1; }
// Models: handle types.
int SetupModelHandleTypes() { return 0; }
// Models: handle types.
int ShutdownModelHandleTypes() { return 0; }
