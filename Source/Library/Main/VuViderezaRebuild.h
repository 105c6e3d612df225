// Device loss and rebuild: every device object released, the device ended
// and started again through the start-up path, the objects re-created and
// refilled, the cached states and the further render targets set again.
#ifndef VUVIDEREZA_REBUILD_H
#define VUVIDEREZA_REBUILD_H

#include "RiDov.h"

enum { DRAW_TARGET_SLOTS = 16 };

// The further render targets (index 1 and up; index 0 is the draw target):
// a graphic handle and its surface index per slot, 0 / 0 when unused.
struct DrawTargetTable {
  int graphs[DRAW_TARGET_SLOTS];
  int surfaces[DRAW_TARGET_SLOTS];
};
extern DrawTargetTable DrawTargets;

// Called with its data word before the device objects are released / after
// the graphics are restored (null: none).
typedef void (*DeviceRebuildCallback)(void* data);
void SetDeviceBeforeResetCallback(DeviceRebuildCallback callback, void* data);
void SetDeviceAfterRestoreCallback(DeviceRebuildCallback callback, void* data);

// bits, width, height, refresh become the screen settings with changeMode
// 1 and are ignored with 0. When no device can be made again, drawing falls
// back to the software screen (every graphic a memory image refilled from
// its source). 0, or -1 when not even the software screen could start.
int RebuildGraphicsDevice(int bits, int width, int height, int refresh, int changeMode);
int RebuildGraphicsDeviceKeepMode();
// The release-only half (deactivation of a full-screen window).
void ReleaseGraphicsDevice();
int ReleaseAllDeviceObjects();
int RecreateAllDeviceObjects();
// The whole render-state cache, the transforms, lights, viewport and
// scissor sent to a new device; -1 without a device.
int ReapplyDeviceStatesAfterRebuild();
// 1 once a rebuild has run (cleared by nobody but the lights code).
int GetDeviceRebuiltFlag();
void ClearDeviceRebuiltFlag();

// Render target index: index 0 with surface 0 is the draw-target switch;
// else the graphic (a render target) or none at that index. 0 / -1.
// The graphic at a further index (0 none); the surface index into *surface.
int GetDrawTargetOfIndex(int index, int* surface);
// A deleted graphic leaves every further slot that holds it.
void ForgetDrawTargetGraph(int graphic);
// After a screen-mode change: render target 0 back to the draw target (the
// back buffer when that is gone), the further ones resolved and emptied.
void ResetDrawTargetsAfterModeChange();

#endif  // VUVIDEREZA_REBUILD_H
