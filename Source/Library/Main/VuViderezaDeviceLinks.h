// What the device layer calls in the components around it: the window
// layer and start-up, drawing and memory images, shaders and models. Those not built yet
// are stand-ins (StandIns.cpp).
#ifndef VUVIDEREZA_DEVICE_LINKS_H
#define VUVIDEREZA_DEVICE_LINKS_H

#include <windows.h>

// Window layer, start-up and the services they call.
#include "RaRadara.h"
#include "RaRadaraServices.h"

// Drawing.
int GetDrawTargetSurfaceIndex();
void FlushVertexBatch(int post);
void ForgetLastDrawSetup();
int SetMemImgDefaultColorType(int type);

// Shaders, declarations, the brightness texture and models.
int CreateBaseShaders();
int AreShadersUsable();
int ReleaseBaseShaders();
int CreateVertexDeclarations();
int ReleaseVertexDeclarations();
int CreateBrightnessMaxVolumeTexture();
int ReleaseBrightnessMaxVolumeTexture();
int ReleaseModelDeviceResources();

#endif  // VUVIDEREZA_DEVICE_LINKS_H
