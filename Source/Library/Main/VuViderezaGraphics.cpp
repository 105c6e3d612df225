// Graphics-system start and end, the device part: screen defaults, the
// Direct3D or software start and its end. The handle types, the software
// screen images, the device draw state, the neighbouring modules and the
// filter check join here with the graphics-handle layer.
// Threads: main thread.
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaMath.h"

int InitializeGraphicsSystem() {
  if (Screen.graphicsUp) return 0;
  const bool small = IsScreenEmulationOn() != 0;
  if (Screen.width == 0 || Screen.height == 0) {
    Screen.width = 640;
    Screen.height = 480;
    Screen.drawWidth = small ? 320 : 640;
    Screen.drawHeight = small ? 240 : 480;
    SetProjectionScreenSize(Screen.drawWidth, Screen.drawHeight);
  }
  if (Screen.colorBits == 0) {
    Screen.colorBits = 16;
    SetMemImgDefaultColorType(0);
  }
  if (Screen.width == 320 && Screen.height == 240 && !IsWindowedMode()) {
    Screen.autoEmulate320x240 = 1;
    Screen.width = 640;
    Screen.height = 480;
    Screen.drawWidth = 320;
    Screen.drawHeight = 240;
    SetProjectionScreenSize(320, 240);
  }
  if (StartGraphicsSystem() < 0) {
    // What a failed start made (d3d9.dll, DirectDraw) goes with it.
    EndGraphicsSystem();
    TerminateGraphicsSystem();
    return -1;
  }
  Screen.graphicsUp = 1;
  return 0;
}

int TerminateGraphicsSystem() {
  if (!Screen.graphicsUp) return 0;
  EndGraphicsSystem();
  Screen.graphicsUp = 0;
  return 0;
}
