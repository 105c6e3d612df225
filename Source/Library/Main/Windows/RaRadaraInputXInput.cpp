// XInput pads: the library loaded by name (1.4, then 1.3, then 9.1.0), the
// pads found on user indices 0..3, their polling with the thumb, trigger
// and D-pad conversions into the DIJOYSTATE layout, and motor speeds.
// Threads: main thread only.
// Platform: LoadLibraryA / GetProcAddress, XInputGetState, XInputSetState.
#include <string.h>

#include "RaRadaraInput.h"
#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RaRadaraServices.h"

namespace {

// Log texts.
const char LOG_XINPUT_LOADING[] = "XInput DLL の読み込み中... ";
const char LOG_XINPUT_LOADED[] = "成功";
const char LOG_XINPUT_NOT_LOADED[] = "失敗、XInputは使用しません";
const char LOG_STEP_RESULT[] = "%s%s";  // a step and how it ended, on one line
const char LOG_XINPUT_PAD[] = "ジョイパッドナンバー %d は Xbox360 Controller です";

const char* const XINPUT_LIBRARY_NAMES[] = {"xinput1_4.dll", "xinput1_3.dll", "xinput9_1_0.dll"};

// The library stays loaded once loaded: XInput may run a thread of its own
// that outlives the last call, and unloading the code under it crashes
// the process. A restart of input takes the same module again.
HMODULE KeptXInputModule = nullptr;

}  // namespace

int LoadXInput() {
  for (const char* name : XINPUT_LIBRARY_NAMES) {
    HMODULE module = KeptXInputModule != nullptr ? KeptXInputModule : LoadLibraryA(name);
    if (module == nullptr) continue;
    KeptXInputModule = module;
    InputState.xinputModule = module;
    FARPROC getState = GetProcAddress(module, "XInputGetState");
    FARPROC setState = GetProcAddress(module, "XInputSetState");
    memcpy(&InputState.XInputGetStateFunc, &getState, sizeof(getState));
    memcpy(&InputState.XInputSetStateFunc, &setState, sizeof(setState));
    LogPrintf(LOG_STEP_RESULT, LOG_XINPUT_LOADING, LOG_XINPUT_LOADED);
    return 0;
  }
  LogPrintf(LOG_STEP_RESULT, LOG_XINPUT_LOADING, LOG_XINPUT_NOT_LOADED);
  return -1;
}

void FreeXInput() {
  InputState.xinputModule = nullptr;
  InputState.XInputGetStateFunc = nullptr;
  InputState.XInputSetStateFunc = nullptr;
}

void AddXInputPads() {
  if (InputState.XInputGetStateFunc == nullptr) return;
  for (int user = 0; user < INPUT_XINPUT_USERS && InputState.padCount < INPUT_MAX_PADS; user++) {
    XINPUT_STATE state;
    memset(&state, 0, sizeof(state));
    if (InputState.XInputGetStateFunc(static_cast<DWORD>(user), &state) != ERROR_SUCCESS) continue;
    LogPrintf(LOG_XINPUT_PAD, InputState.padCount);
    JoypadRecord* pad = &InputState.pads[InputState.padCount];
    memset(pad, 0, sizeof(*pad));
    pad->xinputIndex = user;
    pad->deadZone = INPUT_PAD_DEAD_ZONE;
    pad->vibrationPower = INPUT_VIBRATION_FULL;
    strcpy(pad->instanceName, XInputPadName);
    strcpy(pad->productName, XInputPadName);
    InputState.padCount++;
  }
}

int ConvertXInputThumb(int thumb, int deadZone) {
  int d = deadZone * 32767 / 65536;
  if (thumb <= -32768) return -1000;
  if (thumb >= 32767) return 1000;
  if (thumb >= -d && thumb <= d) return 0;
  if (thumb < -d) return (thumb + d) * 1000 / (32767 - d);
  return (thumb - d) * 1000 / (32767 - d);
}

int ConvertXInputTriggers(int leftTrigger, int rightTrigger, int deadZone) {
  int t8 = deadZone * 255 / 65536;
  int z = 0;
  if (leftTrigger > t8) z += (leftTrigger - t8) * 1000 / (255 - t8);
  if (rightTrigger > t8) z += (t8 - rightTrigger) * 1000 / (255 - t8);
  return z;
}

int ConvertXInputDpad(unsigned int buttons) {
  int up = (buttons & XINPUT_GAMEPAD_DPAD_UP) != 0;
  int down = (buttons & XINPUT_GAMEPAD_DPAD_DOWN) != 0;
  int left = (buttons & XINPUT_GAMEPAD_DPAD_LEFT) != 0;
  int right = (buttons & XINPUT_GAMEPAD_DPAD_RIGHT) != 0;
  int pattern = up | (right << 1) | (down << 2) | (left << 3);
  switch (pattern) {
    case 0x1: return 0;
    case 0x3: return 4500;
    case 0x2: return 9000;
    case 0x6: return 13500;
    case 0x4: return 18000;
    case 0xC: return 22500;
    case 0x8: return 27000;
    case 0x9: return 31500;
    default: return -1;
  }
}

namespace {

// Button bytes 0..9 in this order.
const WORD XINPUT_BUTTON_MASKS[] = {
    XINPUT_GAMEPAD_A,
    XINPUT_GAMEPAD_B,
    XINPUT_GAMEPAD_X,
    XINPUT_GAMEPAD_Y,
    XINPUT_GAMEPAD_LEFT_SHOULDER,
    XINPUT_GAMEPAD_RIGHT_SHOULDER,
    XINPUT_GAMEPAD_BACK,
    XINPUT_GAMEPAD_START,
    XINPUT_GAMEPAD_LEFT_THUMB,
    XINPUT_GAMEPAD_RIGHT_THUMB,
};

}  // namespace

void ConvertXInputState(const XINPUT_STATE* raw, int deadZone, DIJOYSTATE* out) {
  memset(out, 0, sizeof(*out));
  const XINPUT_GAMEPAD& pad = raw->Gamepad;
  out->lX = ConvertXInputThumb(pad.sThumbLX, deadZone);
  out->lY = -ConvertXInputThumb(pad.sThumbLY, deadZone);
  out->lRx = ConvertXInputThumb(pad.sThumbRX, deadZone);
  out->lRy = -ConvertXInputThumb(pad.sThumbRY, deadZone);
  out->lZ = ConvertXInputTriggers(pad.bLeftTrigger, pad.bRightTrigger, deadZone);
  int count = static_cast<int>(sizeof(XINPUT_BUTTON_MASKS) / sizeof(XINPUT_BUTTON_MASKS[0]));
  for (int i = 0; i < count; i++) out->rgbButtons[i] = (pad.wButtons & XINPUT_BUTTON_MASKS[i]) ? 0x80 : 0;
  out->rgdwPOV[0] = static_cast<DWORD>(ConvertXInputDpad(pad.wButtons));
  out->rgdwPOV[1] = out->rgdwPOV[2] = out->rgdwPOV[3] = static_cast<DWORD>(-1);
}

int PollXInputPad(JoypadRecord* pad) {
  int now = GetMillisecondCount();
  if (now == pad->lastPollTime) return 0;
  pad->lastPollTime = now;
  if (InputState.XInputGetStateFunc == nullptr ||
      InputState.XInputGetStateFunc(static_cast<DWORD>(pad->xinputIndex), &pad->rawState) != ERROR_SUCCESS) {
    memset(&pad->rawState, 0, sizeof(pad->rawState));
    memset(&pad->state, 0, sizeof(pad->state));
    return 0;
  }
  ConvertXInputState(&pad->rawState, pad->deadZone, &pad->state);
  return 0;
}

int ApplyXInputVibration(JoypadRecord* pad, int motor1, int motor2) {
  if (InputState.XInputSetStateFunc == nullptr) return -1;
  XINPUT_VIBRATION vibration;
  PadVibrationSpeeds(pad->vibrationPower, motor1, motor2, &vibration);
  InputState.XInputSetStateFunc(static_cast<DWORD>(pad->xinputIndex), &vibration);
  return 0;
}
