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

// ---------------------------------------------------------------------------
// Graphics and drawing.

namespace {
int StandInDrawTarget = -2;
}  // namespace

// Graphics state: the draw target.
int GetDrawTarget() { return StandInDrawTarget; }
// Drawing: draw target (screen values only).
int SetDrawTarget(int target) {
  if (target > -2 || target < -5) return -1;
  StandInDrawTarget = target;
  StartWindowTimer(target == -4 ? 1 : 0);  // the front screen is shown by the timer
  return 0;
}
// Drawing: mask screen.
int ReleaseMaskScreen() { return 0; }
// Drawing: mask screen (nothing to make again).
int RestoreMaskScreen() { return 0; }
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
// Drawing: blend mode.
int SetBlendMode(int, int) { return 0; }
// Drawing: tint.
int SetDrawTint(int, int, int) { return 0; }
// Drawing: sampling mode.
int SetSamplingMode(int) { return 0; }
// Drawing: clip area.
int SetClipRect(int, int, int, int) { return 0; }
// Drawing: colour word (X8R8G8B8 without a screen format).
unsigned int MakeColorValue(int red, int green, int blue) {
  return (static_cast<unsigned int>(red & 255) << 16) | (static_cast<unsigned int>(green & 255) << 8) |
         static_cast<unsigned int>(blue & 255);
}
// Drawing: clear of the software screen.
int ClearDrawTarget(const tagRECT*) { return 0; }
// Drawing: image draws are not built (the draw fails).
int DrawImageAt(int, int, int, int) { return -1; }
// Drawing: image draws are not built (the draw fails).
int DrawImageRotated(float, float, double, double, int, int, int) { return -1; }
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

// Drawing: the draw target's surface index, the vertex batch (empty), the
// remembered draw set-up.
int GetDrawTargetSurfaceIndex() { return 0; }
void FlushVertexBatch(int) {}
void ForgetLastDrawSetup() {}

// Drawing: the vertex batch buffers, the sampling mode (nearest point), the
// untextured draw state.
void ResetVertexBatchBuffers() {}
int GetSamplingMode() { return 0; }
void PrepareUntexturedDrawState() {}
// Graphics and filters: no graphic handles or filters yet.
int InvertAndReadBackDiagonal(const unsigned char[4][3], unsigned char[4][3]) { return -1; }

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
// Movies.

// Movies: the DirectShow road (no graph can be built).
struct MovieRecord;
int OpenMovieWithMediaGraph(MovieRecord*, const char*, int*, int*, int, int) { return -1; }
