// What start-up, shut-down, the window procedure and the message pump call
// in the other subsystems. A subsystem that implements one of these keeps
// the declaration as written here.
#ifndef RARADARA_SERVICES_H
#define RARADARA_SERVICES_H

#include <windows.h>
#include "RiDov.h"

struct IDirectDraw7;

// Device layer: end request, screen settings, graphics system, present.
void ClearEndRequestFlag();
void SetEndRequestFlag();
int GetEndRequestFlag();
int GetRefreshRateSetting();  // 0 = the default
int InitializeGraphicsSystem();
int TerminateGraphicsSystem();
int EndGraphicsSystem();
int PresentScreen();
int GetPresentingFlag();  // 1 while a present runs
IDirectDraw7* GetDirectDrawObject();
int HasDirect3DDevice();
void EndDrawScene();
int TestDeviceCooperativeLevel();  // 0 when the device is usable
int ReleaseAllDeviceObjects();
int RebuildGraphicsDeviceKeepMode();

// Graphics: restore function, draw target, vertical sync, transfer pool.
int HasGraphicsRestoreCallback();
int ReleaseIdleTransferTextures();

// Drawing: draw target and the mask screen.
int ReleaseMaskScreen();
int GetMaskUseFlag();
int SwitchMaskScreenUse(int flag);

// Sound.
int LoadAcmLibrary();
int FreeAcmLibrary();
int InitializeSound();
int TerminateSound();
void StopLibraryMusic();
int ProcessAllStreamSounds();
int UpdateAllSoftSoundPlayers();
int DeleteStoppedAutoDeleteSounds();
int UpdateSoundStopWaitList();
int UpdateMusicPlayStates();
int PauseResumeAllSoundHandles(int pause);
int PauseResumeAllSoftSoundPlayers(int pause);
int HandleMidiPlayEnd();

// Movies.
void SetupYuvToRgbTables();
int SetupMovieHandleType();
int EndMovieSystem();
int PauseAllMovies();
int ResumeAllMovies();
int CheckMovieSystemReady();

// Models.
int SetupModelHandleTypes();
int ShutdownModelHandleTypes();

// Network.
int ShutdownNetwork();
int PumpNetworkWindowMessages(int flag);
LRESULT HandleSocketEventMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Input devices.
int InitializeInput();
int TerminateInput();
int UpdateKeyboardState(int pumpFirst);
int UpdatePadVibration();
int ReacquireInputDevices();
int ApplyPadVibration();

// Character and IME input.
int SetupCharInputBuffer();
int PushInputChar(int code);              // -1 when the ring is full
int TranslateControlKey(int virtualKey);  // the ring's code of a WM_KEYDOWN key, 0 for none
LRESULT HandleImeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int ProcessKeyInputHandles();
void DeleteAllKeyInputHandles();
int IsImeEnableRequested();            // the window is made with the IME on
void RequestImeReapplyOnActivation();  // both IME flags set: re-apply on activation

// On-screen log.
int StartScreenLog();
void EndScreenLog();

#endif  // RARADARA_SERVICES_H
