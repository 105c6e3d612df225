// What the device layer calls in the components around it: the window
// layer and start-up, drawing and memory images, shaders and models.
#ifndef VUVIDEREZA_DEVICE_LINKS_H
#define VUVIDEREZA_DEVICE_LINKS_H

#include <windows.h>

// Window layer, start-up and the services they call.
#include "RaRadara.h"
#include "RaRadaraServices.h"
#include "RiDov.h"

// Drawing.
int GetDrawTargetSurfaceIndex();
int FlushVertexBatch(int post);
void ForgetLastDrawSetup();
void SetMemImgDefaultColorType(int type);
// Before a present: applies a pending mask update to the draw area when
// masks are on, and clears the pending flag. 0.
int ApplyPendingMaskToScreen();
// Fonts and masks: started and ended with the graphics system.
int InitializeFontModule();
int TerminateFontModule();
int InitMaskSystem();
int EndMaskSystem();
// Before a present, when the on-screen log's draw flag is set: draws the log
// over the whole screen with blend none and white tint, keeping draw area,
// blend mode and tint. 0.
int DrawOnScreenLogOverFrame();

void ResetVertexBatchBuffers();
// Releases the drawing's own device objects (the white texture) and forgets
// the cached render targets and stage textures; 0.
void ReleaseDrawDeviceObjects();
void PrepareUntexturedDrawState();

// Graphics and filters: an 8 x 8 graphic with the four colours on its
// diagonal, the invert filter applied, the diagonal read back; -1 when any
// step is unavailable or fails.
int InvertAndReadBackDiagonal(const unsigned char set[4][3], unsigned char read[4][3]);

// Shaders, declarations, the brightness texture (VuViderezaGraphics.h) and models.
#include "VuViderezaGraphics.h"
int ReleaseModelDeviceResources();
// After a device rebuild: every model base's device objects made again. 0.
void RebuildModelDeviceResources();
// After a device rebuild: the mask screen made again in the current size.
int RestoreMaskScreen();

#endif  // VUVIDEREZA_DEVICE_LINKS_H
