// Multimedia-joystick pads, used when DirectInput cannot be had: joystick
// ids found with joyGetDevCapsA, read with joyGetPosEx, raw axes 0..65535
// turned into -1000..1000 with the pad's dead zone.
// Threads: main thread only.
// Platform: winmm's joyGetDevCapsA and joyGetPosEx, through the system
// library table.
#include <stdio.h>
#include <string.h>

#include "RaRadaraInput.h"
#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "RaRadaraSystem.h"

namespace {

// Log texts.
const char LOG_PAD_COUNT[] = "パッドの数は %d 個です";
const char LOG_INPUT_STARTED[] = "入力関連の初期化をしました";

}  // namespace

void StartJoystickMode() {
  LogIndentIn();
  InputState.padCount = 0;
  for (UINT id = 0; id < INPUT_MAX_PADS; id++) {
    if (SystemLibs.joyGetDevCapsAFunc == nullptr) break;
    JOYCAPSA caps;
    memset(&caps, 0, sizeof(caps));
    if (SystemLibs.joyGetDevCapsAFunc(id, &caps, sizeof(caps)) != JOYERR_NOERROR) break;
    JoypadRecord* pad = &InputState.pads[InputState.padCount];
    memset(pad, 0, sizeof(*pad));
    pad->xinputIndex = -1;
    pad->hasZAndR = ((caps.wCaps & JOYCAPS_HASZ) && (caps.wCaps & JOYCAPS_HASR)) ? 1 : 0;
    pad->deadZone = INPUT_PAD_DEAD_ZONE;
    snprintf(pad->instanceName, sizeof(pad->instanceName), "%s", caps.szPname);
    snprintf(pad->productName, sizeof(pad->productName), "%s", caps.szPname);
    InputState.padCount++;
  }
  LogPrintf(LOG_PAD_COUNT, InputState.padCount);
  LogIndentOut();
  InputState.directInput = InputNoDirectInput;
  LogPrintf(LOG_INPUT_STARTED);
}

int ConvertJoystickAxis(unsigned int value, int deadZone) {
  if (value == 0) return -1000;
  if (value >= 65535) return 1000;
  if (value == 32767) return 0;
  unsigned int d = static_cast<unsigned int>(deadZone) * 32768u / 65536u;
  unsigned int low = 32768u - d;
  if (value < low) return -static_cast<int>((low - value) * 1000u / low);
  if (value <= 32768u + d) return 0;
  return static_cast<int>(((value - d) * 1000u - 32768000u) / low);
}

void ConvertJoystickInfo(const JOYINFOEX* info, int hasZAndR, int deadZone, DIJOYSTATE* out) {
  memset(out, 0, sizeof(*out));
  out->lX = ConvertJoystickAxis(info->dwXpos, deadZone);
  out->lY = ConvertJoystickAxis(info->dwYpos, deadZone);
  if (hasZAndR) {
    out->lZ = ConvertJoystickAxis(info->dwZpos, deadZone);
    out->lRz = ConvertJoystickAxis(info->dwRpos, deadZone);
    out->lRx = ConvertJoystickAxis(info->dwUpos, deadZone);
  }
  for (int i = 0; i < 24; i++) out->rgbButtons[i] = (info->dwButtons & (1u << i)) ? 0x80 : 0;
}

int PollJoystickPad(int padIndex) {
  JoypadRecord* pad = &InputState.pads[padIndex];
  int now = GetMillisecondCount();
  if (now == pad->lastPollTime) return 0;
  pad->lastPollTime = now;
  JOYINFOEX info;
  memset(&info, 0, sizeof(info));
  info.dwSize = sizeof(info);
  info.dwFlags = JOY_RETURNALL;
  if (SystemLibs.joyGetPosExFunc == nullptr ||
      SystemLibs.joyGetPosExFunc(static_cast<UINT>(padIndex), &info) != JOYERR_NOERROR) {
    memset(&pad->state, 0, sizeof(pad->state));
    return 0;
  }
  ConvertJoystickInfo(&info, pad->hasZAndR, pad->deadZone, &pad->state);
  return 0;
}
