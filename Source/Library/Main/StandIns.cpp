// Stand-ins for services whose components are not built yet. Each returns
// what the real function returns when its service is unavailable; remove an
// entry when its component arrives.
#include <windows.h>
#include <string.h>

#include "RaRadara.h"
#include "RaRadaraServices.h"
#include "RiDov.h"
#include "RiRerEziDrawFunction.h"

// Device layer: the asynchronous-loading setting (off unless switched on).
int IsASyncLoadEnabled() { return 0; }

// ---------------------------------------------------------------------------
// Device layer: end request, dialog-box mode, screen settings (stored as
// before initialisation), graphics system (software rendering, no device).

static int StandInEndRequest = 0;
static int StandInDialogBoxMode = 0;
static int StandInScreenWidth = 0, StandInScreenHeight = 0, StandInColorBits = 0;
static int StandInRefreshRate = 0;

// Device layer: clears the end-request flag.
int ClearEndRequestFlag() { StandInEndRequest = 0; return 0; }
// Device layer: sets the end-request flag.
int SetEndRequestFlag() { StandInEndRequest = 1; return 0; }
// Device layer: the end-request flag.
int GetEndRequestFlag() { return StandInEndRequest; }
// Device layer: dialog-box mode flag.
int SetDialogBoxModeFlag(int flag) { StandInDialogBoxMode = flag; return 0; }
// Device layer: dialog-box mode flag.
int GetDialogBoxModeFlag() { return StandInDialogBoxMode; }
// Screen settings: colour depth, 16 when unset.
int GetColorBitDepth() { return StandInColorBits == 0 ? 16 : StandInColorBits; }
// Screen settings: draw size, 640 x 480 when unset.
int GetScreenSizeSetting(int* width, int* height) {
  if (width) *width = StandInScreenWidth == 0 ? 640 : StandInScreenWidth;
  if (height) *height = StandInScreenHeight == 0 ? 480 : StandInScreenHeight;
  return 0;
}
// Screen settings: stores the screen size.
void SetScreenSizeSetting(int width, int height) {
  StandInScreenWidth = width;
  StandInScreenHeight = height;
}
// Screen settings: stores size, depth and refresh (the before-initialisation path).
int SetScreenMode(int width, int height, int colorBits, int refreshRate) {
  if (width <= 0 || height <= 0 || (colorBits != 8 && colorBits != 16 && colorBits != 32)) return -1;
  SetScreenSizeSetting(width, height);
  StandInColorBits = colorBits;
  StandInRefreshRate = refreshRate;
  return 0;
}
// Screen settings: screen size and depth.
int GetScreenModeSize(int* width, int* height, int* colorBits) {
  GetScreenSizeSetting(width, height);
  if (colorBits) *colorBits = GetColorBitDepth();
  return 0;
}
// Screen settings: refresh rate.
int GetRefreshRateSetting() { return StandInRefreshRate; }
// Display-mode list: none known.
int GetDisplayModeCount() { return 0; }
// Display-mode list: four -1 words for an index out of range.
DisplayModeEntry GetDisplayModeEntry(int) { return DisplayModeEntry{-1, -1, -1, -1}; }
// Device layer: the display is never switched to full screen.
int IsFullScreenMode() { return 0; }
// Device layer: software rendering.
int GetUseHardwareRendering() { return 0; }
// Device layer: screen-mode change (nothing to rebuild).
int ChangeScreenMode(int, int, int, int, int) { return 0; }
// Graphics system: software rendering is ready.
int InitializeGraphicsSystem() { return 0; }
// Graphics system: end.
int TerminateGraphicsSystem() { return 0; }
// Device layer: graphics objects end.
int EndGraphicsSystem() { return 0; }
// Present: nothing to show.
int PresentScreen() { return 0; }
// Present: nothing to show.
int PresentBackBuffer() { return 0; }
// Present: no present runs.
int GetPresentingFlag() { return 0; }
// Device layer: no DirectDraw object.
IDirectDraw7* GetDirectDrawObject() { return nullptr; }
// Device layer: no Direct3D device.
int HasDirect3DDevice() { return 0; }
// Device layer: no scene to end.
void EndDrawScene() {}
// Device layer: cooperative-level test (only called with a device).
int TestDeviceCooperativeLevel() { return 0; }
// Device loss: no device objects.
int ReleaseAllDeviceObjects() { return 0; }
// Device loss: rebuild.
int RebuildGraphicsDeviceKeepMode() { return 0; }

// ---------------------------------------------------------------------------
// Graphics and drawing.

static GraphicsRestoreFunction StandInRestoreFunction = nullptr;
static void StandInRestoreAllGraphics() {}
static int StandInDrawTarget = -2;
static int StandInWaitVSync = 1;

// Graphics restore: installs the function, null the default one.
int SetGraphicsRestoreCallback(GraphicsRestoreFunction function) {
  StandInRestoreFunction = function != nullptr ? function : StandInRestoreAllGraphics;
  return 0;
}
// Graphics restore: whether a function is installed.
int HasGraphicsRestoreCallback() { return StandInRestoreFunction != nullptr ? 1 : 0; }
// Graphics state: the draw target.
int GetDrawTarget() { return StandInDrawTarget; }
// Graphics state: vertical-sync wait.
int SetWaitVSync(int flag) { StandInWaitVSync = flag; return 0; }
// Graphics state: vertical-sync wait.
int GetWaitVSync() { return StandInWaitVSync; }
// Graphic creation: transfer-texture pool (empty).
int ReleaseIdleTransferTextures() { return 0; }
// Drawing: draw target (screen values only).
int SetDrawTarget(int target) {
  if (target > -2 || target < -5) return -1;
  StandInDrawTarget = target;
  return 0;
}
// Drawing: mask screen.
int ReleaseMaskScreen() { return 0; }
// Drawing: mask screen use.
int GetMaskUseFlag() { return 0; }
// Drawing: mask screen use.
int SwitchMaskScreenUse(int) { return 0; }
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
// Drawing: no graphic handles exist.
int DrawImageAt(int, int, int, int) { return -1; }
// Drawing: no graphic handles exist.
int DrawImageRotated(float, float, double, double, int, int, int) { return -1; }
// Drawing: no graphic handles exist.
int DrawImageRotatedAbout(int, int, int, int, double, double, int, int, int) { return -1; }
// Drawing: no graphic handles exist.
int DrawImageRotatedScaledXY(int, int, int, int, double, double, double, int, int, int) { return -1; }
// Drawing: no graphic handles exist.
int DrawImageQuad(float, float, float, float, float, float, float, float, int, int) { return -1; }
// Drawing: shapes on the software screen.
int DrawRectShape(int, int, int, int, unsigned int, int) { return 0; }
// Drawing: shapes on the software screen.
int DrawCircleShape(int, int, int, unsigned int, int, int) { return 0; }
// Drawing: shapes on the software screen.
int DrawTriangleShape(int, int, int, int, int, int, unsigned int, int) { return 0; }
// Graphic loading: no graphics; every handle -1.
int LoadImageDivided(const char*, int count, int, int, int, int, int* handles, int) {
  for (int i = 0; handles != nullptr && i < count; i++) handles[i] = -1;
  return -1;
}

// ---------------------------------------------------------------------------
// Fonts.

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

// ---------------------------------------------------------------------------
// Sound.

// Sound: ACM library not loaded.
int LoadAcmLibrary() { return -1; }
// Sound: ACM library.
int FreeAcmLibrary() { return 0; }
// Sound: no output.
int InitializeSound() { return -1; }
// Sound: end.
int TerminateSound() { return 0; }
// Sound: nothing plays.
int StopAllSounds() { return 0; }
// Sound upkeep: not set up.
int ProcessAllStreamSounds() { return -1; }
// Sound upkeep: not set up.
int UpdateAllSoftSoundPlayers() { return -1; }
// Sound upkeep: not set up.
int DeleteStoppedAutoDeleteSounds() { return -1; }
// Sound upkeep: not set up.
int UpdateSoundStopWaitList() { return -1; }
// Music upkeep: not set up.
int UpdateMusicPlayStates() { return -1; }
// Sound: pause or resume (nothing plays).
int PauseResumeAllSoundHandles(int) { return 0; }
// Sound: pause or resume (nothing plays).
int PauseResumeAllSoftSoundPlayers(int) { return 0; }
// Sound: MIDI end notification.
int HandleMidiPlayEnd() { return 0; }
// Sound: load fails.
int LoadSoundFile(const char*, int, int) { return -1; }
// Sound: not set up.
int PlaySoundHandle(int, int, int) { return -1; }
// Sound: invalid handle.
int StopSoundHandle(int) { return -1; }

// ---------------------------------------------------------------------------
// Movies, models, network.

// Movies: YUV tables.
int SetupYuvToRgbTables() { return 0; }
// Movies: handle type.
int SetupMovieHandleType() { return 0; }
// Movies: not set up.
int EndMovieSystem() { return -1; }
// Movies: none play.
int PauseAllMovies() { return 0; }
// Movies: none play.
int ResumeAllMovies() { return 0; }
// Movies: handle type not set up.
int CheckMovieSystemReady() { return -1; }
// Models: handle types.
int SetupModelHandleTypes() { return 0; }
// Models: handle types.
int ShutdownModelHandleTypes() { return 0; }
// Network: not started.
int ShutdownNetwork() { return 0; }
// Network: no socket window.
int PumpNetworkWindowMessages(int) { return 0; }
// Network: no sockets.
LRESULT HandleSocketEventMessage(HWND, UINT, WPARAM, LPARAM) { return 0; }

// ---------------------------------------------------------------------------
// Input devices: without DirectInput the keyboard is read with
// GetKeyboardState (the path taken on Vista and later); no pads.

static const struct {
  unsigned char virtualKey, keyCode;
} StandInKeyTable[] = {
    {VK_ESCAPE, 0x01}, {'Z', 0x2C},       {'X', 0x2D},       {'C', 0x2E},     {'A', 0x1E},
    {'S', 0x1F},       {'D', 0x20},       {'Q', 0x10},       {'W', 0x11},     {VK_SPACE, 0x39},
    {VK_UP, 0xC8},     {VK_DOWN, 0xD0},   {VK_LEFT, 0xCB},   {VK_RIGHT, 0xCD}, {VK_RETURN, 0x1C},
    {VK_NUMPAD2, 0x50}, {VK_NUMPAD4, 0x4B}, {VK_NUMPAD6, 0x4D}, {VK_NUMPAD8, 0x48},
};

static void StandInReadKeys(unsigned char keys[256]) {
  BYTE state[256];
  memset(keys, 0, 256);
  if (GetCurrentThreadId() != WinSys.mainThreadId || !GetKeyboardState(state)) return;
  for (const auto& row : StandInKeyTable) keys[row.keyCode] = state[row.virtualKey] & 0x80;
}

// Input: started without DirectInput.
int InitializeInput() { return 0; }
// Input: end.
int TerminateInput() { return 0; }
// Input: key state refreshed on demand.
int UpdateKeyboardState(int) { return 0; }
// Input: no pads.
int UpdatePadVibration() { return 0; }
// Input: no devices.
int ReacquireInputDevices() { return 0; }
// Input: no pads.
int ApplyPadVibration() { return 0; }
// Input: 1 for each held key of the keyboard-state path.
int GetAllKeyStates(char* keyStates) {
  if (!IsAppActive()) WaitWhileInactive();
  unsigned char keys[256];
  StandInReadKeys(keys);
  for (int i = 0; i < 256; i++) keyStates[i] = keys[i] ? 1 : 0;
  return 0;
}
// Input: pad 1's keyboard row (no pads).
int GetPadState(int inputType) {
  if (!IsAppActive()) WaitWhileInactive();
  if ((inputType & 0x1000) == 0) return 0;
  static const struct {
    int bit;
    unsigned char codes[2];
  } rows[] = {{0x1, {0x50, 0xD0}}, {0x2, {0x4B, 0xCB}}, {0x4, {0x4D, 0xCD}}, {0x8, {0x48, 0xC8}},
              {0x10, {0x2C, 0}},   {0x20, {0x2D, 0}},   {0x40, {0x2E, 0}},   {0x80, {0x1E, 0}},
              {0x100, {0x1F, 0}},  {0x200, {0x20, 0}},  {0x400, {0x10, 0}},  {0x800, {0x11, 0}},
              {0x1000, {0x01, 0}}, {0x2000, {0x39, 0}}};
  unsigned char keys[256];
  StandInReadKeys(keys);
  int result = 0;
  for (const auto& row : rows)
    for (unsigned char code : row.codes)
      if (code != 0 && keys[code]) result |= row.bit;
  return result;
}

// ---------------------------------------------------------------------------
// Character and IME input.

// Character input: buffers.
int SetupCharInputBuffer() { return 0; }
// Character input: no ring; the byte is dropped.
int PushInputChar(int) { return -1; }
// Character input: IME messages go to the default procedure.
LRESULT HandleImeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}
// Character input: no key-input handles.
int ProcessKeyInputHandles() { return 0; }
// Character input: no key-input handles.
int DeleteAllKeyInputHandles() { return 0; }
// Character input: the IME is not asked for.
int IsImeEnableRequested() { return 0; }
// Character input: IME flags are never set.
int RequestImeReapplyOnActivation() { return 0; }

// ---------------------------------------------------------------------------
// Software triangles.

// Software triangles: the textured quad (mirrored rotated blits) draws
// nothing until the triangle rasteriser exists.
void DrawQuadMemImg(MEMIMG*, const MEMIMG*, int, int, int, int, int, int, int, int, int, const MEMIMG*) {}
