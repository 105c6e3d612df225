// DirectInput devices: the DirectInput 7 (else 8) object created through
// COM, the mouse and keyboard devices, one device per attached game
// controller with its two force-feedback effects, their polling, the
// keyboard read, re-acquisition on activation changes and release.
// DirectInput 7 and 8 devices share the method layout used here, so both
// are held as IDirectInputDevice7A.
// Threads: main thread only.
// Platform: DirectInput 7/8 (COM), events, GetKeyboardState.
#include <stdio.h>
#include <string.h>

#include "RaRadaraInput.h"
#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "RaRadaraSystem.h"

namespace {

// Log texts.
const char LOG_SUCCEEDED[] = "成功";
const char LOG_CONTINUING[] = "引き続き初期化処理... ";
const char LOG_START_SUCCEEDED[] = "初期化成功";
const char LOG_START_FAILED[] = "初期化に失敗。";
const char LOG_GETTING_DIRECTINPUT7[] = "DirectInput7 の取得中... ";
const char LOG_GET_FAILED_LINE[] = "取得に失敗。";
const char LOG_ERROR_CODE[] = "エラーコード 0x%x";
const char LOG_TRYING_DIRECTINPUT8[] = "DirectInput8 の取得を試みます...";
const char LOG_GET_FAILED[] = "取得に失敗。";
const char LOG_NOT_USING_DIRECTINPUT[] = "DirectInput を使用しません。";
const char LOG_MOUSE_STARTING[] = "マウスデバイスの初期化... ";
const char LOG_MOUSE_NOT_CREATED[] = "マウスデバイスの取得に失敗しました";
const char LOG_KEYBOARD_STARTING[] = "キーボードデバイスの初期化... ";
const char LOG_KEYBOARD_NOT_CREATED[] = "キーボードデバイスの取得に失敗しました";
const char LOG_KEYBOARD_FORMAT_FAILED[] = "キーボードデバイスのデータ形式の設定に失敗しました";
const char LOG_KEYBOARD_COOPERATION_FAILED[] = "キーボードデバイスの協調レベルの設定に失敗しました";
const char LOG_KEYBOARD_PROPERTY_FAILED[] = "キーボードのプロパティ設定に失敗しました";
const char LOG_KEYBOARD_EVENT_FAILED[] = "キーボードイベントのセットアップが失敗しました";
const char LOG_EFFECT_FAILED[] = "周期的エフェクトの作成に失敗しました。";
const char LOG_DEVICE_NOT_CREATED[] = "入力装置の取得に失敗しました";
const char LOG_DEVICE_FOUND[] = "入力装置を見つけました";
const char LOG_DEVICE_INSTANCE_NAME[] = "デバイスの登録名:%s";
const char LOG_DEVICE_PRODUCT_NAME[] = "デバイスの製品登録名:%s";
const char LOG_NOT_A_PAD[] = "ジョイパッドデバイスではありませんでした、又は設定に失敗しました";
const char LOG_PAD_COOPERATION_FAILED[] = "ジョイパッドデバイスの協調レベルの設定に失敗しました";
const char LOG_PAD_X_RANGE_FAILED[] = "ジョイパッドデバイスのＸ軸関係の設定に失敗しました";
const char LOG_PAD_Y_RANGE_FAILED[] = "ジョイパッドデバイスのＹ軸関係の設定に失敗しました";
const char LOG_PAD_X_DEAD_ZONE_FAILED[] = "ジョイパッドデバイスのＸ軸の無効ゾーンの設定に失敗しました";
const char LOG_PAD_Y_DEAD_ZONE_FAILED[] = "ジョイパッドデバイスのＹ軸の無効ゾーンの設定に失敗しました";
const char LOG_PAD_EVENT_FAILED[] = "ジョイパッドイベントのセットアップが失敗しました";
const char LOG_PAD_ADDED[] = "ジョイパッドの追加は正常に終了しました";
const char LOG_PADS_STARTING[] = "ジョイパッドの初期化... ";
const char LOG_PADS_STARTED[] = "ジョイパッドの初期化は正常に終了しました";
// A step and how it ended, on one line; with a note after it.
const char LOG_STEP_RESULT[] = "%s%s";
const char LOG_STEP_RESULT_NOTE[] = "%s%s%s";
const char LOG_EMPTY[] = "";

IDirectInput7A* DirectInput7() { return static_cast<IDirectInput7A*>(InputState.directInput); }
IDirectInput8A* DirectInput8() { return static_cast<IDirectInput8A*>(InputState.directInput); }

// A zeroed property record of type Property with its header filled.
template <typename Property>
Property MakeProperty(DWORD object, DWORD how) {
  Property property;
  memset(&property, 0, sizeof(property));
  property.diph.dwSize = sizeof(property);
  property.diph.dwHeaderSize = sizeof(property.diph);
  property.diph.dwObj = object;
  property.diph.dwHow = how;
  return property;
}

IDirectInputDevice7A* CreateInputDevice(REFGUID guid) {
  void* device = nullptr;
  HRESULT result;
  if (InputState.directInput8)
    result = DirectInput8()->CreateDevice(guid, reinterpret_cast<IDirectInputDevice8A**>(&device), nullptr);
  else result = DirectInput7()->CreateDeviceEx(guid, IID_IDirectInputDevice7A, &device, nullptr);
  if (FAILED(result)) return nullptr;
  return static_cast<IDirectInputDevice7A*>(device);
}

void ReleaseDirectInputObject() {
  if (InputState.directInput != nullptr && InputState.directInput != InputNoDirectInput)
    static_cast<IUnknown*>(InputState.directInput)->Release();
  InputState.directInput = nullptr;
}

// Creates and initialises one DirectInput object, logged as the `step`
// that gets it. S_OK with the object, S_FALSE when it was created but
// failed to initialise, else the creation's error (the caller logs it).
template <typename Interface>
HRESULT TryDirectInput(REFCLSID classId, REFIID interfaceId, DWORD version, const char* step, Interface** out) {
  *out = nullptr;
  void* object = nullptr;
  HRESULT result = CreateComInstance(classId, nullptr, CLSCTX_INPROC_SERVER, interfaceId, &object, 0);
  if (FAILED(result) || object == nullptr) return FAILED(result) ? result : E_NOINTERFACE;
  LogPrintf(LOG_STEP_RESULT, step, LOG_SUCCEEDED);
  LogIndentIn();
  Interface* directInput = static_cast<Interface*>(object);
  if (SUCCEEDED(directInput->Initialize(GetModuleHandleA(nullptr), version))) {
    LogPrintf(LOG_STEP_RESULT, LOG_CONTINUING, LOG_START_SUCCEEDED);
    LogIndentOut();
    *out = directInput;
    return S_OK;
  }
  LogPrintf(LOG_STEP_RESULT, LOG_CONTINUING, LOG_START_FAILED);
  LogIndentOut();
  directInput->Release();
  return S_FALSE;
}

}  // namespace

int StartDirectInput() {
  IDirectInput7A* di7;
  HRESULT result = TryDirectInput(CLSID_DirectInput, IID_IDirectInput7A, 0x0700, LOG_GETTING_DIRECTINPUT7, &di7);
  if (result == S_OK) {
    InputState.directInput = di7;
    InputState.directInput8 = 0;
    return 0;
  }
  if (result != S_FALSE) {
    LogPrintf(LOG_STEP_RESULT, LOG_GETTING_DIRECTINPUT7, LOG_GET_FAILED_LINE);
    LogPrintf(LOG_ERROR_CODE, static_cast<unsigned int>(result));
  }

  IDirectInput8A* di8;
  result = TryDirectInput(CLSID_DirectInput8, IID_IDirectInput8A, 0x0800, LOG_TRYING_DIRECTINPUT8, &di8);
  if (result == S_OK) {
    InputState.directInput = di8;
    InputState.directInput8 = 1;
    return 0;
  }
  if (result != S_FALSE)
    LogPrintf(LOG_STEP_RESULT_NOTE, LOG_TRYING_DIRECTINPUT8, LOG_GET_FAILED, LOG_NOT_USING_DIRECTINPUT);
  else LogPrintf(LOG_NOT_USING_DIRECTINPUT);
  InputState.directInput = nullptr;
  return -1;
}

namespace {

// Ends the line that `*step` opens with `text`; later lines open with nothing.
void EndStepLine(const char** step, const char* text) {
  LogPrintf(LOG_STEP_RESULT, *step, text);
  *step = LOG_EMPTY;
}

// Fatal keyboard failures release what was made and end the process, the
// failure logged on the line `step` opens.
void KeyboardFatal(const char* step, const char* text) {
  char line[LOG_LINE_SIZE];
  snprintf(line, sizeof(line), LOG_STEP_RESULT, step, text);
  if (InputState.mouse != nullptr) InputState.mouse->Release();
  InputState.mouse = nullptr;
  if (InputState.keyboard != nullptr) InputState.keyboard->Release();
  InputState.keyboard = nullptr;
  if (InputState.keyboardEvent != nullptr) CloseHandle(InputState.keyboardEvent);
  InputState.keyboardEvent = nullptr;
  ReleaseDirectInputObject();
  InputState.starting = 0;
  FatalErrorExit(line);
}

void SetupMouse(HWND window) {
  IDirectInputDevice7A* mouse = CreateInputDevice(GUID_SysMouse);
  if (mouse == nullptr) {
    LogPrintf(LOG_STEP_RESULT, LOG_MOUSE_STARTING, LOG_MOUSE_NOT_CREATED);
    return;
  }
  if (FAILED(mouse->SetDataFormat(&c_dfDIMouse)) ||
      FAILED(mouse->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND))) {
    mouse->Release();
    LogPrintf(LOG_STEP_RESULT, LOG_MOUSE_STARTING, LOG_MOUSE_NOT_CREATED);
    return;
  }
  InputState.mouse = mouse;
  LogPrintf(LOG_STEP_RESULT, LOG_MOUSE_STARTING, LOG_START_SUCCEEDED);
}

}  // namespace

int StartDirectInputDevices() {
  HWND window = GetMainWindowHandle();
  PumpWindowMessagesCore();
  SetupJoypads();
  SetupMouse(window);
  InputState.keyboardTime = GetMillisecondCount();

  const char* step = LOG_KEYBOARD_STARTING;
  IDirectInputDevice7A* keyboard = CreateInputDevice(GUID_SysKeyboard);
  if (keyboard == nullptr) KeyboardFatal(step, LOG_KEYBOARD_NOT_CREATED);
  InputState.keyboard = keyboard;
  if (FAILED(keyboard->SetDataFormat(&c_dfDIKeyboard))) KeyboardFatal(step, LOG_KEYBOARD_FORMAT_FAILED);
  if (FAILED(keyboard->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND)))
    KeyboardFatal(step, LOG_KEYBOARD_COOPERATION_FAILED);
  DIPROPDWORD property = MakeProperty<DIPROPDWORD>(0, DIPH_DEVICE);
  property.dwData = 100;
  if (FAILED(keyboard->SetProperty(DIPROP_BUFFERSIZE, &property.diph)))
    EndStepLine(&step, LOG_KEYBOARD_PROPERTY_FAILED);
  InputState.keyboardEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HRESULT result = keyboard->SetEventNotification(InputState.keyboardEvent);
  if (result != DI_OK && result != DI_POLLEDDEVICE) {
    EndStepLine(&step, LOG_KEYBOARD_EVENT_FAILED);
    keyboard->Release();
    InputState.keyboard = nullptr;
    if (InputState.keyboardEvent != nullptr) CloseHandle(InputState.keyboardEvent);
    InputState.keyboardEvent = nullptr;
    return -1;
  }
  if (FAILED(keyboard->Acquire()) && FAILED(keyboard->Acquire())) KeyboardFatal(step, LOG_KEYBOARD_NOT_CREATED);
  EndStepLine(&step, LOG_START_SUCCEEDED);
  InputState.keyboardTime = GetMillisecondCount();
  return 0;
}

void ReleaseDirectInput() {
  if (InputState.keyboard != nullptr) {
    InputState.keyboard->Unacquire();
    InputState.keyboard->Release();
    InputState.keyboard = nullptr;
  }
  if (InputState.keyboardEvent != nullptr) CloseHandle(InputState.keyboardEvent);
  InputState.keyboardEvent = nullptr;
  if (InputState.mouse != nullptr) {
    InputState.mouse->Unacquire();
    InputState.mouse->Release();
    InputState.mouse = nullptr;
  }
  ReleaseDirectInputObject();
}

namespace {

int HasDirectInputObject() { return InputState.directInput != nullptr && InputState.directInput != InputNoDirectInput; }

void ReleasePadDevice(JoypadRecord* pad) {
  if (pad->device != nullptr) {
    pad->device->Unacquire();
    pad->device->SetEventNotification(nullptr);
  }
  IDirectInputEffect* effects[2] = {pad->constantEffect, pad->periodicEffect};
  for (IDirectInputEffect* effect : effects) {
    if (effect == nullptr) continue;
    effect->Stop();
    effect->Release();
  }
  pad->constantEffect = nullptr;
  pad->periodicEffect = nullptr;
  if (pad->device != nullptr) pad->device->Release();
  pad->device = nullptr;
  if (pad->event != nullptr) CloseHandle(pad->event);
  pad->event = nullptr;
}

}  // namespace

int ReleaseJoypads() {
  if (!HasDirectInputObject()) return -1;
  for (int i = 0; i < InputState.padCount; i++) {
    JoypadRecord* pad = &InputState.pads[i];
    if (pad->xinputIndex < 0) {
      ReleasePadDevice(pad);
    } else if (pad->motor1Applied || pad->motor2Applied) {
      // Motors left running would go on after the pad is forgotten.
      ApplyXInputVibration(pad, 0, 0);
    }
  }
  memset(InputState.pads, 0, sizeof(InputState.pads));
  InputState.padCount = 0;
  return 0;
}

namespace {

int SetAxisRange(IDirectInputDevice7A* device, DWORD offset, LONG low, LONG high) {
  DIPROPRANGE range = MakeProperty<DIPROPRANGE>(offset, DIPH_BYOFFSET);
  range.lMin = low;
  range.lMax = high;
  return SUCCEEDED(device->SetProperty(DIPROP_RANGE, &range.diph)) ? 0 : -1;
}

int SetAxisDeadZone(IDirectInputDevice7A* device, DWORD offset, DWORD deadZone) {
  DIPROPDWORD value = MakeProperty<DIPROPDWORD>(offset, DIPH_BYOFFSET);
  value.dwData = deadZone;
  return SUCCEEDED(device->SetProperty(DIPROP_DEADZONE, &value.diph)) ? 0 : -1;
}

void CreatePadEffects(JoypadRecord* pad) {
  DWORD axes[2] = {DIJOFS_X, DIJOFS_Y};
  LONG directions[2] = {0, 0};

  DIPERIODIC periodic = {10000, 0, 0, 1500000};
  DIENVELOPE envelope = {sizeof(DIENVELOPE), 0, 500000, 0, 1000000};
  DIEFFECT effect;
  memset(&effect, 0, sizeof(effect));
  effect.dwSize = sizeof(effect);
  effect.dwFlags = DIEFF_POLAR | DIEFF_OBJECTOFFSETS;
  effect.dwDuration = INFINITE;
  effect.dwGain = 10000;
  effect.dwTriggerButton = DIEB_NOTRIGGER;
  effect.cAxes = 2;
  effect.rgdwAxes = axes;
  effect.rglDirection = directions;
  effect.lpEnvelope = &envelope;
  effect.cbTypeSpecificParams = sizeof(periodic);
  effect.lpvTypeSpecificParams = &periodic;
  if (FAILED(pad->device->CreateEffect(GUID_Sine, &effect, &pad->periodicEffect, nullptr)))
    pad->periodicEffect = nullptr;

  DICONSTANTFORCE constant = {10000};
  effect.dwFlags = DIEFF_CARTESIAN | DIEFF_OBJECTOFFSETS;
  effect.lpEnvelope = nullptr;
  effect.cbTypeSpecificParams = sizeof(constant);
  effect.lpvTypeSpecificParams = &constant;
  if (FAILED(pad->device->CreateEffect(GUID_ConstantForce, &effect, &pad->constantEffect, nullptr))) {
    pad->constantEffect = nullptr;
    LogPrintf(LOG_EFFECT_FAILED);
  }
}

BOOL CALLBACK EnumJoypadCallback(const DIDEVICEINSTANCEA* instance, void* context) {
  if (InputState.padCount >= INPUT_MAX_PADS) return DIENUM_STOP;
  JoypadRecord* pad = &InputState.pads[InputState.padCount];
  memset(pad, 0, sizeof(*pad));
  pad->xinputIndex = -1;
  IDirectInputDevice7A* device = CreateInputDevice(instance->guidInstance);
  if (device == nullptr) {
    LogPrintf(LOG_DEVICE_NOT_CREATED);
    return DIENUM_CONTINUE;
  }
  DIDEVICEINSTANCEA info;
  memset(&info, 0, sizeof(info));
  info.dwSize = sizeof(info);
  device->GetDeviceInfo(&info);
  if (strstr(info.tszInstanceName, "XBOX 360 For Windows") != nullptr) {
    for (int i = 0; i < InputState.padCount; i++) {
      if (InputState.pads[i].xinputIndex >= 0) {
        device->Release();
        return DIENUM_CONTINUE;
      }
    }
  }
  LogPrintf(LOG_DEVICE_FOUND);
  snprintf(pad->instanceName, sizeof(pad->instanceName), "%s", info.tszInstanceName);
  snprintf(pad->productName, sizeof(pad->productName), "%s", info.tszProductName);
  LogIndentIn();
  LogPrintf(LOG_DEVICE_INSTANCE_NAME, pad->instanceName);
  LogPrintf(LOG_DEVICE_PRODUCT_NAME, pad->productName);
  LogIndentOut();

  if (FAILED(device->SetDataFormat(&c_dfDIJoystick))) {
    device->Release();
    LogPrintf(LOG_NOT_A_PAD);
    return DIENUM_CONTINUE;
  }
  if (FAILED(device->SetCooperativeLevel(GetMainWindowHandle(), DISCL_EXCLUSIVE | DISCL_FOREGROUND)))
    LogPrintf(LOG_PAD_COOPERATION_FAILED);

  static const DWORD axes[6] = {DIJOFS_X, DIJOFS_Y, DIJOFS_Z, DIJOFS_RX, DIJOFS_RY, DIJOFS_RZ};
  for (int i = 0; i < 6; i++) {
    if (SetAxisRange(device, axes[i], -1000, 1000) != 0) {
      if (i == 0) LogPrintf(LOG_PAD_X_RANGE_FAILED);
      if (i == 1) LogPrintf(LOG_PAD_Y_RANGE_FAILED);
    }
  }
  pad->deadZone = INPUT_PAD_DEAD_ZONE;
  for (int i = 0; i < 6; i++) {
    if (SetAxisDeadZone(device, axes[i], 3499) != 0) {
      if (i == 0) LogPrintf(LOG_PAD_X_DEAD_ZONE_FAILED);
      if (i == 1) LogPrintf(LOG_PAD_Y_DEAD_ZONE_FAILED);
    }
  }
  pad->device = device;
  CreatePadEffects(pad);
  pad->vibrationRequested = 0;
  pad->vibrationPower = INPUT_VIBRATION_FULL;
  pad->motor1Applied = pad->motor2Applied = 0;

  pad->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HRESULT result = device->SetEventNotification(pad->event);
  if (result != DI_OK && result != DI_POLLEDDEVICE) {
    LogPrintf(LOG_PAD_EVENT_FAILED);
    ReleasePadDevice(pad);
    memset(pad, 0, sizeof(*pad));
    return DIENUM_CONTINUE;
  }
  device->Acquire();
  memset(&pad->state, 0, sizeof(pad->state));
  InputState.padCount++;
  LogPrintf(LOG_PAD_ADDED);
  return InputState.padCount < INPUT_MAX_PADS ? DIENUM_CONTINUE : DIENUM_STOP;
}

}  // namespace

int SetupJoypads() {
  if (!HasDirectInputObject()) return -1;
  ReleaseJoypads();
  LogPrintf(LOG_PADS_STARTING);
  LogIndentIn();
  InputState.padCount = 0;
  AddXInputPads();
  if (InputState.directInput8)
    DirectInput8()->EnumDevices(DI8DEVCLASS_GAMECTRL, EnumJoypadCallback, nullptr, DIEDFL_ATTACHEDONLY);
  else DirectInput7()->EnumDevices(DIDEVTYPE_JOYSTICK, EnumJoypadCallback, nullptr, DIEDFL_ATTACHEDONLY);
  LogIndentOut();
  LogPrintf(LOG_PADS_STARTED);
  return 0;
}

namespace {

int IsSignalled(HANDLE event) { return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

}  // namespace

int PollDirectInputPad(JoypadRecord* pad) {
  if (pad->device == nullptr) return -1;
  int now = GetMillisecondCount();
  int signalled = IsSignalled(pad->event);
  if (now == pad->lastPollTime && !signalled) return 0;
  pad->lastPollTime = now;
  DIJOYSTATE state;
  pad->device->Poll();
  HRESULT result = pad->device->GetDeviceState(sizeof(state), &state);
  if (FAILED(result)) {
    if (PumpWindowMessagesCore() != 0 || InputState.directInput == nullptr) return -1;
    pad->device->Acquire();
    if (PumpWindowMessagesCore() != 0 || InputState.directInput == nullptr) return -1;
    result = pad->device->GetDeviceState(sizeof(state), &state);
  }
  if (SUCCEEDED(result)) pad->state = state;
  if (signalled) ResetEvent(pad->event);
  return 0;
}

int ReadDirectInputKeyboard(int pumpFirst) {
  int now = GetMillisecondCount();
  int signalled = IsSignalled(InputState.keyboardEvent);
  if (now == InputState.keyboardTime && !signalled) return 0;
  if (pumpFirst && PumpWindowMessagesCore() != 0) return 0;
  if (!HasDirectInputObject() || InputState.keyboard == nullptr) return 0;
  unsigned char keys[256];
  if (FAILED(InputState.keyboard->GetDeviceState(sizeof(keys), keys))) {
    if (FAILED(InputState.keyboard->Acquire())) return 0;
    if (FAILED(InputState.keyboard->GetDeviceState(sizeof(keys), keys))) return 0;
  }
  memcpy(InputState.keyState, keys, sizeof(keys));
  InputState.keyboardTime = now;
  if (signalled) ResetEvent(InputState.keyboardEvent);
  // The right shift key as Windows sees it.
  unsigned char virtualKeys[256];
  if (GetKeyboardState(virtualKeys)) InputState.keyState[DIK_RSHIFT] = virtualKeys[VK_RSHIFT];
  return 1;
}

int ApplyDirectInputVibration(JoypadRecord* pad, int motor1, int motor2) {
  if (motor1 != pad->motor1Applied && pad->constantEffect != nullptr) {
    if (motor1) pad->constantEffect->Start(1, 0);
    else pad->constantEffect->Stop();
  }
  if (motor2 != pad->motor2Applied && pad->periodicEffect != nullptr) {
    if (motor2) pad->periodicEffect->Start(1, 0);
    else pad->periodicEffect->Stop();
  }
  return 0;
}

int ReacquireDirectInputDevices(int appActive) {
  HWND window = GetMainWindowHandle();
  DWORD level = appActive ? (DISCL_EXCLUSIVE | DISCL_FOREGROUND) : (DISCL_NONEXCLUSIVE | DISCL_BACKGROUND);
  for (int i = 0; i < InputState.padCount; i++) {
    JoypadRecord* pad = &InputState.pads[i];
    if (pad->xinputIndex >= 0 || pad->device == nullptr) continue;
    pad->device->Unacquire();
    pad->device->SetCooperativeLevel(window, level);
    pad->device->Acquire();
  }
  if (InputState.keyboard != nullptr) {
    InputState.keyboard->Unacquire();
    InputState.keyboard->Acquire();
  }
  return 0;
}
