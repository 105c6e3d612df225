// What the device layer calls in the components around it: the window
// layer, drawing and memory images, shaders and models. Those not built yet
// are stand-ins (StandIns.cpp).
#ifndef VUVIDEREZA_DEVICE_LINKS_H
#define VUVIDEREZA_DEVICE_LINKS_H

#include <windows.h>

// Window layer.
HWND GetMainWindowHandle();
HWND GetOutputWindowHandle();
int IsWindowedMode();
int IsAppActive();
int IsWindowMinimized();
int GetRunAlwaysFlag();
double GetWindowScaleRate(double* x, double* y);
int ApplyWindowStyle();
int SetDesktopCompositionEnabled(int enable);
int IsLibraryStarted();
int PumpWindowMessagesCore();
void FatalErrorExit(const char* text);

// Drawing.
int GetDrawTarget();
int GetDrawTargetSurfaceIndex();
void FlushVertexBatch(int post);
void ForgetLastDrawSetup();
void SetMemImgDefaultColorType(int type);

// Shaders, declarations, the brightness texture and models.
int CreateBaseShaders();
int AreShadersUsable();
int ReleaseBaseShaders();
int CreateVertexDeclarations();
int ReleaseVertexDeclarations();
int CreateBrightnessMaxVolumeTexture();
int ReleaseBrightnessMaxVolumeTexture();
int ReleaseModelDeviceResources();

// Graphics system start and end.
int InitializeGraphicsSystem();
int TerminateGraphicsSystem();

#endif  // VUVIDEREZA_DEVICE_LINKS_H
