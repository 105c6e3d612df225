// The message pump: dispatches the main thread's window messages, stalls
// while the application is inactive, replays the activation changes that
// arrived during a pass, and runs the library's per-pass upkeep (sound
// without a sound thread, main-thread requests of the loading workers,
// music, keyboard and pads, network, string input). The inactive wait of
// the drawing and input entries.
//
// Threads and locks: PumpWindowMessages holds the API lock. Only the main
// thread dispatches; on another thread the loop leaves after one pass.
// Platform: PeekMessageA, TranslateMessage, DispatchMessageA, Sleep.
#include "RaRadara.h"

#include "DiDAridIrer.h"
#include "RaRadaraApiLock.h"
#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "RaRadaraSysInfo.h"

namespace {

int IsInactive() { return !WinSys.active || WinSys.minimized; }

int Elapsed(int now, int then) { return (now - then) & 0x7fffffff; }

// The sound upkeep the sound thread does when there is one.
void UpdateSoundsWithoutThread() {
  if (GetProcessorCount() > 1) return;
  ProcessAllStreamSounds();
  UpdateAllSoftSoundPlayers();
  DeleteStoppedAutoDeleteSounds();
  UpdateSoundStopWaitList();
}

// One message of this thread: any window's first, then one posted to the
// thread, then one for the main window.
int TakeMessage(MSG* message) {
  if (PeekMessageA(message, nullptr, 0, 0, PM_NOREMOVE)) return PeekMessageA(message, nullptr, 0, 0, PM_REMOVE);
  if (PeekMessageA(message, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE)) return 1;
  return WinSys.mainWindow != nullptr && PeekMessageA(message, WinSys.mainWindow, 0, 0, PM_REMOVE);
}

}  // namespace

int PumpWindowMessagesCore() {
  if (WinSys.stringInputGuard) return 0;
  WinSys.inPump = 1;
  if (WinSys.mainWindow == nullptr) {
    WinSys.inPump = 0;
    return WinSys.quit ? -1 : 0;
  }

  const int onMainThread = GetCurrentThreadId() == WinSys.mainThreadId;
  int passes = 0;
  int passDone = 0;
  int messageCount = 0;
  int inactiveTimeTaken = 0;
  for (;;) {
    if ((WinSys.closeRequested || WinSys.ringCount != 0 || StartupSettings.runAlways || !IsInactive()) &&
        (passDone || WinSys.quit))
      break;
    const int waiting = IsInactive() && !StartupSettings.runAlways;
    if (!inactiveTimeTaken && waiting) {
      inactiveTimeTaken = 1;
      WinSys.inactiveStartTime = GetMillisecondCount();
      WinSys.inactiveStartValid = 1;
    }
    passDone = 1;

    if (waiting) {
      Sleep(1);
      const int now = GetMillisecondCount();
      if (WinSys.presentPending && Elapsed(now, WinSys.lastPresentTime) > INACTIVE_PRESENT_INTERVAL) {
        PresentScreen();
        WinSys.lastPresentTime = now;
        WinSys.presentPending = 0;
      }
    }

    int quitSeen = 0;
    MSG message;
    while (TakeMessage(&message)) {
      if (message.message == WM_ACTIVATEAPP && StartupSettings.windowed)
        WinSys.active = LOWORD(message.wParam) != 0 ? 1 : 0;
      if (WinSys.quit) {
        quitSeen = 1;
        break;
      }
      if (message.message == WM_QUIT) {
        WinSys.quit = 1;
        SetEndRequestFlag();
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
      if (++messageCount == PUMP_MESSAGES_PER_PASS) {
        messageCount = 0;
        passDone = 1;
        break;
      }
      passDone = 0;
    }
    if (quitSeen) break;

    if (IsInactive() && !StartupSettings.runAlways) {
      PumpNetworkWindowMessages(1);
      UpdateSoundsWithoutThread();
      ReleaseIdleTransferTextures();
      ServeMainThreadRequests();
      Sleep(24);
    }

    if (WinSys.quit || !onMainThread) break;
    passes++;
    if (WinSys.closingLevel != 0 && passes >= PUMP_CLOSING_PASS_LIMIT) break;
  }

  if (onMainThread) UpdateFullScreenCursor();

  if (!WinSys.closeRequested) {
    while (WinSys.ringCount > 0) {
      const ActivationEntry entry = WinSys.ring[WinSys.ringHead];
      WinSys.ringHead = (WinSys.ringHead + 1) % ACTIVATION_RING_SIZE;
      WinSys.ringCount--;
      OnActivationChange(entry.wParam, entry.lParam);
    }
  }

  UpdateSoundsWithoutThread();
  ReleaseIdleTransferTextures();
  if (!WinSys.quit) ServeMainThreadRequests();
  UpdateMusicPlayStates();
  UpdateKeyboardState(0);
  UpdatePadVibration();
  PumpNetworkWindowMessages(1);
  WinSys.stringInputGuard = 1;
  ProcessKeyInputHandles();
  WinSys.stringInputGuard = 0;

  WinSys.inPump = 0;
  return WinSys.quit ? -1 : 0;
}

int PumpWindowMessages() {
  LockLibraryCall();
  const int result = PumpWindowMessagesCore();
  UnlockLibraryCall();
  return result;
}

int QueueActivationChange(WPARAM wParam, LPARAM lParam) {
  if (WinSys.inPump && !WinSys.creating && WinSys.ringCount < ACTIVATION_RING_SIZE) {
    WinSys.ring[WinSys.ringTail].wParam = wParam;
    WinSys.ring[WinSys.ringTail].lParam = lParam;
    WinSys.ringTail = (WinSys.ringTail + 1) % ACTIVATION_RING_SIZE;
    WinSys.ringCount++;
    return 0;
  }
  return OnActivationChange(wParam, lParam);
}

int IsInactiveWaitNeeded() {
  if (WinSys.painting || !IsInactive()) return 0;
  if (GetPresentingFlag()) return 0;
  return StartupSettings.runAlways ? 0 : 1;
}

int WaitWhileInactive() {
  const int needed = IsInactiveWaitNeeded();
  if (needed == 0 || WinSys.quit || WinSys.mainWindow == nullptr) return needed;
  WinSys.inactiveStartTime = GetMillisecondCount();
  WinSys.inactiveStartValid = 1;
  int result;
  do {
    result = PumpWindowMessagesCore();
    // Called from the string-input upkeep the pump does nothing: no wait.
  } while (result == 0 && IsInactive() && !WinSys.stringInputGuard);
  return result;
}
