// Input devices: start and end of input, the key state (DirectInput
// keyboard or GetKeyboardState through the virtual-key table), IsKeyDown,
// GetAllKeyStates, GetPadState with the key-to-pad table, and pad vibration
// upkeep. The device sources live in RaRadaraInputXInput.cpp,
// RaRadaraInputDirect.cpp and RaRadaraInputJoystick.cpp.
// Threads: main thread only; the keyboard-state path refuses other threads.
// The starting flag and the keyboard guard stop re-entry through the
// message pump, which input runs while reading.
// Platform: GetKeyboardState (User32).
#include "RaRadaraInput.h"

#include <string.h>

#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "RaRadaraSysInfo.h"

namespace {

// Log texts.
const char LOG_DIRECTINPUT_STARTING[] = "DirectInput関係初期化処理";
const char LOG_DIRECTINPUT_STARTED[] = "DirectInput 関連の初期化は正常に終了しました";
const char LOG_INPUT_ENDED[] = "入力関連の終了処理... 完了";
const char LOG_DIRECTINPUT_ENDED[] = "DirectInput 関連の終了処理... 完了";

}  // namespace

InputStateBlock InputState;

int (*InputOsCodeSource)() = GetOsCode;

#define ROW(vk, dik) \
  { static_cast<unsigned short>(vk), static_cast<unsigned short>(dik), 0 }

// clang-format off
const VirtualKeyRow VirtualKeyToKeyCodeTable[] = {
    ROW('A', DIK_A), ROW('B', DIK_B), ROW('C', DIK_C), ROW('D', DIK_D), ROW('E', DIK_E),
    ROW('F', DIK_F), ROW('G', DIK_G), ROW('H', DIK_H), ROW('I', DIK_I), ROW('J', DIK_J),
    ROW('K', DIK_K), ROW('L', DIK_L), ROW('M', DIK_M), ROW('N', DIK_N), ROW('O', DIK_O),
    ROW('P', DIK_P), ROW('Q', DIK_Q), ROW('R', DIK_R), ROW('S', DIK_S), ROW('T', DIK_T),
    ROW('U', DIK_U), ROW('V', DIK_V), ROW('W', DIK_W), ROW('X', DIK_X), ROW('Y', DIK_Y),
    ROW('Z', DIK_Z),
    ROW('0', DIK_0), ROW('1', DIK_1), ROW('2', DIK_2), ROW('3', DIK_3), ROW('4', DIK_4),
    ROW('5', DIK_5), ROW('6', DIK_6), ROW('7', DIK_7), ROW('8', DIK_8), ROW('9', DIK_9),
    ROW(VK_LEFT, DIK_LEFT), ROW(VK_UP, DIK_UP), ROW(VK_RIGHT, DIK_RIGHT), ROW(VK_DOWN, DIK_DOWN),
    // Japanese-layout punctuation.
    ROW(VK_OEM_PLUS, DIK_SEMICOLON), ROW(VK_OEM_1, DIK_COLON), ROW(VK_OEM_4, DIK_LBRACKET),
    ROW(VK_OEM_6, DIK_RBRACKET), ROW(VK_OEM_3, DIK_AT), ROW(VK_OEM_102, DIK_BACKSLASH),
    ROW(VK_OEM_COMMA, DIK_COMMA), ROW(VK_OEM_7, DIK_CIRCUMFLEX), ROW(VK_OEM_MINUS, DIK_MINUS),
    ROW(VK_OEM_5, DIK_YEN), ROW(VK_OEM_PERIOD, DIK_PERIOD), ROW(VK_OEM_2, DIK_SLASH),
    ROW(VK_DELETE, DIK_DELETE), ROW(VK_ESCAPE, DIK_ESCAPE), ROW(VK_SPACE, DIK_SPACE),
    ROW(VK_BACK, DIK_BACK), ROW(VK_TAB, DIK_TAB), ROW(VK_RETURN, DIK_RETURN),
    ROW(VK_NUMPAD0, DIK_NUMPAD0), ROW(VK_NUMPAD1, DIK_NUMPAD1), ROW(VK_NUMPAD2, DIK_NUMPAD2),
    ROW(VK_NUMPAD3, DIK_NUMPAD3), ROW(VK_NUMPAD4, DIK_NUMPAD4), ROW(VK_NUMPAD5, DIK_NUMPAD5),
    ROW(VK_NUMPAD6, DIK_NUMPAD6), ROW(VK_NUMPAD7, DIK_NUMPAD7), ROW(VK_NUMPAD8, DIK_NUMPAD8),
    ROW(VK_NUMPAD9, DIK_NUMPAD9),
    ROW(VK_MULTIPLY, DIK_MULTIPLY), ROW(VK_ADD, DIK_ADD), ROW(VK_SUBTRACT, DIK_SUBTRACT),
    ROW(VK_DECIMAL, DIK_DECIMAL), ROW(VK_DIVIDE, DIK_DIVIDE),
    ROW(VK_RETURN, DIK_NUMPADENTER),
    ROW(VK_LSHIFT, DIK_LSHIFT), ROW(VK_RSHIFT, DIK_RSHIFT), ROW(VK_LCONTROL, DIK_LCONTROL),
    ROW(VK_RCONTROL, DIK_RCONTROL), ROW(VK_PRIOR, DIK_PRIOR), ROW(VK_NEXT, DIK_NEXT),
    ROW(VK_END, DIK_END), ROW(VK_HOME, DIK_HOME), ROW(VK_INSERT, DIK_INSERT),
    ROW(VK_LMENU, DIK_LMENU), ROW(VK_RMENU, DIK_RMENU),
    ROW(VK_SCROLL, DIK_SCROLL), ROW(VK_CAPITAL, DIK_CAPITAL), ROW(VK_PAUSE, DIK_PAUSE),
    ROW(VK_F1, DIK_F1), ROW(VK_F2, DIK_F2), ROW(VK_F3, DIK_F3), ROW(VK_F4, DIK_F4),
    ROW(VK_F5, DIK_F5), ROW(VK_F6, DIK_F6), ROW(VK_F7, DIK_F7), ROW(VK_F8, DIK_F8),
    ROW(VK_F9, DIK_F9), ROW(VK_F10, DIK_F10), ROW(VK_F11, DIK_F11), ROW(VK_F12, DIK_F12),
    {0xFFFF, 0, 0},
};
// clang-format on

#undef ROW

namespace {

// Pad 1's default keys: entry n feeds GetPadState bit n.
// clang-format off
const int DEFAULT_PAD_KEYS[][2] = {
    {DIK_NUMPAD2, DIK_DOWN}, {DIK_NUMPAD4, DIK_LEFT}, {DIK_NUMPAD6, DIK_RIGHT},
    {DIK_NUMPAD8, DIK_UP},   {DIK_Z, -1},             {DIK_X, -1},
    {DIK_C, -1},             {DIK_A, -1},             {DIK_S, -1},
    {DIK_D, -1},             {DIK_Q, -1},             {DIK_W, -1},
    {DIK_ESCAPE, -1},        {DIK_SPACE, -1},
};
// clang-format on

}  // namespace

void BuildDefaultKeyToPadTable() {
  for (auto& pad : InputState.keyToPad)
    for (auto& entry : pad)
      for (int& code : entry) code = -1;
  int entries = static_cast<int>(sizeof(DEFAULT_PAD_KEYS) / sizeof(DEFAULT_PAD_KEYS[0]));
  for (int n = 0; n < entries; n++) {
    InputState.keyToPad[0][n][0] = DEFAULT_PAD_KEYS[n][0];
    InputState.keyToPad[0][n][1] = DEFAULT_PAD_KEYS[n][1];
  }
  InputState.keyToPadBuilt = 1;
}

void ForceJoystickInputMode(int on) { InputState.joystickMode = on ? 1 : 0; }

int InitializeInput() {
  if (InputState.directInput != nullptr || InputState.starting) return 0;

  // Everything but the key-to-pad table, its flag and the joystick mode.
  int keptTable[INPUT_MAX_PADS][INPUT_PAD_TABLE_ENTRIES][INPUT_PAD_TABLE_CODES];
  memcpy(keptTable, InputState.keyToPad, sizeof(keptTable));
  int built = InputState.keyToPadBuilt;
  int joystickMode = InputState.joystickMode;
  memset(&InputState, 0, sizeof(InputState));
  memcpy(InputState.keyToPad, keptTable, sizeof(keptTable));
  InputState.keyToPadBuilt = built;
  InputState.joystickMode = joystickMode;
  InputState.starting = 1;

  if (!InputState.joystickMode) {
    LogPrintf(LOG_DIRECTINPUT_STARTING);
    LogIndentIn();
    LoadXInput();
    if (StartDirectInput() == 0) {
      if (StartDirectInputDevices() < 0) {
        // A failed start leaves input not started.
        ReleaseJoypads();
        ReleaseDirectInput();
        FreeXInput();
        LogIndentOut();
        InputState.starting = 0;
        return -1;
      }
      LogIndentOut();
      LogPrintf(LOG_DIRECTINPUT_STARTED);
    } else {
      LogIndentOut();
      InputState.joystickMode = 1;
    }
  }
  if (InputState.joystickMode) StartJoystickMode();

  if (!InputState.keyToPadBuilt) BuildDefaultKeyToPadTable();
  InputState.starting = 0;
  return 0;
}

int TerminateInput() {
  if (InputState.directInput == nullptr) return 0;
  if (InputState.directInput == InputNoDirectInput) {
    LogPrintf(LOG_INPUT_ENDED);
    InputState.directInput = nullptr;
    return 0;
  }
  LogPrintf(LOG_DIRECTINPUT_ENDED);
  ReleaseJoypads();
  ReleaseDirectInput();
  FreeXInput();
  return 0;
}

int GetPadCount() { return InputState.padCount; }

int GetPadName(int padNumber, char* instanceName, char* productName) {
  int index = padNumber - 1;
  if (index < 0 || index >= InputState.padCount) return -1;
  if (instanceName != nullptr) memcpy(instanceName, InputState.pads[index].instanceName, INPUT_PAD_NAME_SIZE);
  if (productName != nullptr) memcpy(productName, InputState.pads[index].productName, INPUT_PAD_NAME_SIZE);
  return 0;
}

int SetKeyToPadEntry(int padNumber, int entry, const int codes[INPUT_PAD_TABLE_CODES]) {
  if (padNumber < 1 || padNumber > INPUT_MAX_PADS || entry < 0 || entry >= INPUT_PAD_TABLE_ENTRIES || codes == nullptr)
    return -1;
  if (!InputState.keyToPadBuilt) BuildDefaultKeyToPadTable();
  for (int i = 0; i < INPUT_PAD_TABLE_CODES; i++) InputState.keyToPad[padNumber - 1][entry][i] = codes[i];
  return 0;
}

void TranslateKeyboardState(const unsigned char virtualKeys[256], unsigned char keyState[256]) {
  memset(keyState, 0, 256);
  for (const VirtualKeyRow* row = VirtualKeyToKeyCodeTable; row->virtualKey != 0xFFFF; row++)
    keyState[row->keyCode] = virtualKeys[row->virtualKey];
}

namespace {

int ReadKeyboardStatePath(int pumpFirst) {
  if (GetCurrentThreadId() != WinSys.mainThreadId) return 0;
  int now = GetMillisecondCount();
  if (now == InputState.keyboardTime) return 0;
  InputState.keyboardTime = now;
  if (pumpFirst && PumpWindowMessagesCore() != 0) return 0;
  unsigned char virtualKeys[256];
  if (!GetKeyboardState(virtualKeys)) return 0;
  TranslateKeyboardState(virtualKeys, InputState.keyState);
  return 1;
}

}  // namespace

int UpdateKeyboardState(int pumpFirst) {
  if (InputState.keyboardGuard) return 0;
  InputState.keyboardGuard = 1;
  int result;
  if (!InputState.joystickMode && InputState.keyboard != nullptr && InputOsCodeSource() < OS_WINVISTA)
    result = ReadDirectInputKeyboard(pumpFirst);
  else result = ReadKeyboardStatePath(pumpFirst);
  InputState.keyboardGuard = 0;
  return result;
}

namespace {

// Common head of the reading entries: wait while inactive, then start input
// on first use once the library runs. 1 when the caller returns at once
// (input was not started).
int BeginInputRead(int* result) {
  if (!IsAppActive()) WaitWhileInactive();
  if (InputState.directInput != nullptr) return 0;
  *result = 0;
  // Input never starts outside a started library: DirectInput needs its window.
  if (!IsLibraryStarted() || GetMainWindowHandle() == nullptr) return 1;
  if (!IsCloseRequested()) {
    *result = InitializeInput();
    return 1;
  }
  return 0;
}

}  // namespace

int IsKeyDown(int keyCode) {
  int result;
  if (BeginInputRead(&result)) return 0;
  if (InputState.directInput == nullptr) return 0;
  if (keyCode < 0 || keyCode > 255) return 0;
  UpdateKeyboardState(1);
  return (InputState.keyState[keyCode] & 0x80) ? 1 : 0;
}

int GetAllKeyStates(char* keyStates) {
  if (keyStates == nullptr) return -1;
  int result;
  if (BeginInputRead(&result)) {
    memset(keyStates, 0, 256);
    return result;
  }
  UpdateKeyboardState(1);
  for (int i = 0; i < 256; i++) keyStates[i] = (InputState.keyState[i] & 0x80) ? 1 : 0;
  return 0;
}

unsigned int AssemblePadBits(const DIJOYSTATE* state, const int (*row)[INPUT_PAD_TABLE_CODES],
                             const unsigned char keyState[256]) {
  unsigned int bits = 0;
  if (state != nullptr) {
    if (state->lX < 0) bits |= PAD_INPUT_LEFT;
    if (state->lX > 0) bits |= PAD_INPUT_RIGHT;
    if (state->lY < 0) bits |= PAD_INPUT_UP;
    if (state->lY > 0) bits |= PAD_INPUT_DOWN;
    for (int i = 0; i < 24; i++)
      if (state->rgbButtons[i] & 0x80) bits |= PAD_INPUT_BUTTON1 << i;
  }
  if (row != nullptr) {
    for (int n = 0; n < INPUT_PAD_TABLE_ENTRIES; n++) {
      for (int c = 0; c < INPUT_PAD_TABLE_CODES; c++) {
        int code = row[n][c];
        if (code > 0 && code < 256 && (keyState[code] & 0x80)) {
          bits |= 1u << n;
          break;
        }
      }
    }
  }
  return bits;
}

int GetPadState(int inputType) {
  int result;
  if (BeginInputRead(&result)) return 0;
  if (inputType < 0) return 0;
  int keyboard = inputType & INPUT_KEYBOARD_FLAG;
  int padIndex = (inputType & ~INPUT_KEYBOARD_FLAG) - 1;
  int padCount = InputState.padCount;
  if ((padIndex < -1 || padIndex >= padCount) && padCount != 0 && !keyboard) return 0;

  const DIJOYSTATE* state = nullptr;
  if (padIndex >= 0 && padIndex < padCount) {
    PollJoypad(padIndex);
    state = &InputState.pads[padIndex].state;
  }
  const int(*row)[INPUT_PAD_TABLE_CODES] = nullptr;
  if (keyboard) {
    int rowIndex = padIndex < 0 ? 0 : padIndex;
    // The table has a row for 16 pads only.
    if (rowIndex < INPUT_MAX_PADS && InputState.keyToPadBuilt) {
      UpdateKeyboardState(1);
      row = InputState.keyToPad[rowIndex];
    }
  }
  return static_cast<int>(AssemblePadBits(state, row, InputState.keyState));
}

int PollJoypad(int padIndex) {
  if (padIndex < 0 || padIndex >= InputState.padCount) return -1;
  if (InputState.joystickMode) return PollJoystickPad(padIndex);
  JoypadRecord* pad = &InputState.pads[padIndex];
  if (pad->xinputIndex >= 0) return PollXInputPad(pad);
  return PollDirectInputPad(pad);
}

// Vibration.

void PadVibrationSpeeds(int power, int motor1, int motor2, XINPUT_VIBRATION* out) {
  if (power < 0) power = 0;
  if (power > INPUT_VIBRATION_FULL) power = INPUT_VIBRATION_FULL;
  int left = power > INPUT_VIBRATION_SPLIT ? 65535 : power * 65535 / INPUT_VIBRATION_SPLIT;
  int right = (power - INPUT_VIBRATION_SPLIT) * 65535 / INPUT_VIBRATION_SPLIT;
  out->wLeftMotorSpeed = static_cast<WORD>(motor1 ? left : 0);
  out->wRightMotorSpeed = static_cast<WORD>(motor2 ? right : 0);
}

namespace {

int IsVibratingPad(const JoypadRecord* pad) {
  if (pad->xinputIndex >= 0) return 1;
  return pad->device != nullptr && (pad->constantEffect != nullptr || pad->periodicEffect != nullptr);
}

int SetPadMotors(JoypadRecord* pad, int motor1, int motor2) {
  if (pad->xinputIndex >= 0) return ApplyXInputVibration(pad, motor1, motor2);
  return ApplyDirectInputVibration(pad, motor1, motor2);
}

}  // namespace

int ApplyPadVibrationFor(int appActive) {
  if (InputState.joystickMode) return 0;
  for (int i = 0; i < InputState.padCount; i++) {
    JoypadRecord* pad = &InputState.pads[i];
    if (appActive) {
      int motor1 = pad->vibrationRequested ? 1 : 0;
      int motor2 = (pad->vibrationRequested && pad->vibrationPower > INPUT_VIBRATION_SPLIT) ? 1 : 0;
      if (motor1 == pad->motor1Applied && motor2 == pad->motor2Applied) continue;
      SetPadMotors(pad, motor1, motor2);
      pad->motor1Applied = motor1;
      pad->motor2Applied = motor2;
    } else {
      if (pad->motor1Applied || pad->motor2Applied) SetPadMotors(pad, 0, 0);
      pad->motor1Applied = 0;
      pad->motor2Applied = 0;
    }
  }
  return 0;
}

int ApplyPadVibration() { return ApplyPadVibrationFor(IsAppActive()); }

int UpdatePadVibration() {
  if (InputState.joystickMode || InputState.directInput == nullptr) return 0;
  int now = GetMillisecondCount();
  for (int i = 0; i < InputState.padCount; i++) {
    JoypadRecord* pad = &InputState.pads[i];
    if (!pad->vibrationRequested || pad->vibrationLimit < 0) continue;
    if (now < pad->vibrationLastTime) pad->vibrationLastTime = now;
    pad->vibrationElapsed += now - pad->vibrationLastTime;
    pad->vibrationLastTime = now;
    if (pad->vibrationElapsed >= pad->vibrationLimit) StopPadVibration(i + 1);
  }
  return ApplyPadVibration();
}

int StartPadVibration(int padNumber, int power, int timeMs) {
  int result;
  if (BeginInputRead(&result)) return -1;
  int index = padNumber - 1;
  if (InputState.joystickMode || index < 0 || index >= InputState.padCount) return -1;
  JoypadRecord* pad = &InputState.pads[index];
  if (!IsVibratingPad(pad)) return -1;
  if (power < 0) power = 0;
  if (power > INPUT_VIBRATION_FULL) power = INPUT_VIBRATION_FULL;
  // A new power is applied even when the motors' states stay.
  if (pad->vibrationRequested && pad->vibrationPower != power) {
    pad->motor1Applied = -1;
    pad->motor2Applied = -1;
  }
  pad->vibrationRequested = 1;
  pad->vibrationPower = power;
  pad->vibrationLimit = timeMs;
  pad->vibrationElapsed = 0;
  pad->vibrationLastTime = GetMillisecondCount();
  ApplyPadVibration();
  return 0;
}

int StopPadVibration(int padNumber) {
  int result;
  if (BeginInputRead(&result)) return result;
  int index = padNumber - 1;
  if (InputState.joystickMode || index < 0 || index >= InputState.padCount) return -1;
  JoypadRecord* pad = &InputState.pads[index];
  if (!IsVibratingPad(pad)) return -1;
  if (!pad->vibrationRequested) return 0;
  pad->vibrationRequested = 0;
  pad->vibrationPower = INPUT_VIBRATION_FULL;
  ApplyPadVibration();
  return 0;
}

int ReacquireInputDevices() {
  if (InputState.joystickMode || InputState.directInput == nullptr || InputState.directInput == InputNoDirectInput)
    return 0;
  return ReacquireDirectInputDevices(IsAppActive());
}
