// Device rebuild keeping the screen mode: every graphic's device objects
// released, the device ended and started again through the start-up path,
// the textures re-created and refilled from their remembered sources, the
// cached states sent again.
// Threads: main thread; waits for the loading jobs first. Platform:
// Direct3D 9 through the device layer's start and end.
#include <windows.h>

#include "DiDAridIrer.h"
#include "RaRadara.h"
#include "RaRadaraServices.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaShader.h"

int ReleaseAllDeviceObjects() {
  ReleaseIdleTransferTextures();
  ReleaseAllGraphTextures();
  ReleaseAllShaderHandleObjects();
  return 0;
}

int RebuildGraphicsDeviceKeepMode() {
  while (GetASyncJobCount() > 0) {
    ServeMainThreadRequests();
    Sleep(2);
  }
  if (!Screen.graphicsUp) return 0;
  if (DeviceLayer.hardware) ReleaseAllDeviceObjects();
  EndGraphicsSystem();
  if (StartGraphicsSystem() < 0) return 0;
  if (DeviceLayer.hardware) {
    CreateAllGraphTextures();
    RecreateAllShaderHandleObjects();
    InitializeDeviceDrawState();
    ReapplyDeviceStates();
    DeleteInternalGraphs();
    RestoreGraphicsResources();
    ReapplyDeviceStates();
  }
  return 0;
}
