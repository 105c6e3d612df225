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

static IDirectInput7A* DirectInput7() { return static_cast<IDirectInput7A*>(InputState.directInput); }
static IDirectInput8A* DirectInput8() { return static_cast<IDirectInput8A*>(InputState.directInput); }

// A zeroed property record of type Property with its header filled.
template <typename Property>
static Property MakeProperty(DWORD object, DWORD how) {
  Property property;
  memset(&property, 0, sizeof(property));
  property.diph.dwSize = sizeof(property);
  property.diph.dwHeaderSize = sizeof(property.diph);
  property.diph.dwObj = object;
  property.diph.dwHow = how;
  return property;
}

static IDirectInputDevice7A* CreateInputDevice(REFGUID guid) {
  void* device = nullptr;
  HRESULT result;
  if (InputState.directInput8)
    result = DirectInput8()->CreateDevice(guid, reinterpret_cast<IDirectInputDevice8A**>(&device), nullptr);
  else
    result = DirectInput7()->CreateDeviceEx(guid, IID_IDirectInputDevice7A, &device, nullptr);
  if (FAILED(result)) return nullptr;
  return static_cast<IDirectInputDevice7A*>(device);
}

static void ReleaseDirectInputObject() {
  if (InputState.directInput != nullptr && InputState.directInput != INPUT_NO_DIRECTINPUT)
    static_cast<IUnknown*>(InputState.directInput)->Release();
  InputState.directInput = nullptr;
}

// Creates and initialises one DirectInput object. S_OK with the object,
// S_FALSE when it was created but failed to initialise, else the creation's
// error.
template <typename Interface>
static HRESULT TryDirectInput(REFCLSID classId, REFIID interfaceId, DWORD version, Interface** out) {
  *out = nullptr;
  void* object = nullptr;
  HRESULT result = CreateComInstance(classId, nullptr, CLSCTX_INPROC_SERVER, interfaceId, &object, 0);
  if (FAILED(result) || object == nullptr) return FAILED(result) ? result : E_NOINTERFACE;
  LogWriteText("成功\n");
  LogIndentIn();
  LogWriteText("引き続き初期化処理... ");
  Interface* directInput = static_cast<Interface*>(object);
  if (SUCCEEDED(directInput->Initialize(GetModuleHandleA(nullptr), version))) {
    LogWriteText("初期化成功\n");
    LogIndentOut();
    *out = directInput;
    return S_OK;
  }
  LogWriteText("初期化に失敗。");
  LogIndentOut();
  directInput->Release();
  return S_FALSE;
}

int StartDirectInput() {
  LogWriteText("DirectInput7 の取得中... ");
  IDirectInput7A* di7;
  HRESULT result = TryDirectInput(CLSID_DirectInput, IID_IDirectInput7A, 0x0700, &di7);
  if (result == S_OK) {
    InputState.directInput = di7;
    InputState.directInput8 = 0;
    return 0;
  }
  if (result != S_FALSE) {
    LogWriteText("取得に失敗。\n");
    LogPrintf("エラーコード 0x%x", static_cast<unsigned int>(result));
  }

  LogWriteText("DirectInput8 の取得を試みます...");
  IDirectInput8A* di8;
  result = TryDirectInput(CLSID_DirectInput8, IID_IDirectInput8A, 0x0800, &di8);
  if (result == S_OK) {
    InputState.directInput = di8;
    InputState.directInput8 = 1;
    return 0;
  }
  if (result != S_FALSE) LogWriteText("取得に失敗。");
  LogWriteText("DirectInput を使用しません。\n");
  InputState.directInput = nullptr;
  return -1;
}

// Fatal keyboard failures release what was made and end the process.
static void KeyboardFatal(const char* text) {
  if (InputState.mouse != nullptr) InputState.mouse->Release();
  InputState.mouse = nullptr;
  if (InputState.keyboard != nullptr) InputState.keyboard->Release();
  InputState.keyboard = nullptr;
  if (InputState.keyboardEvent != nullptr) CloseHandle(InputState.keyboardEvent);
  InputState.keyboardEvent = nullptr;
  ReleaseDirectInputObject();
  InputState.starting = 0;
  FatalErrorExit(text);
}

static void SetupMouse(HWND window) {
  LogWriteText("マウスデバイスの初期化... ");
  IDirectInputDevice7A* mouse = CreateInputDevice(GUID_SysMouse);
  if (mouse == nullptr) {
    LogWriteText("マウスデバイスの取得に失敗しました\n");
    return;
  }
  if (FAILED(mouse->SetDataFormat(&c_dfDIMouse)) ||
      FAILED(mouse->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND))) {
    mouse->Release();
    LogWriteText("マウスデバイスの取得に失敗しました\n");
    return;
  }
  InputState.mouse = mouse;
  LogWriteText("初期化成功\n");
}

int StartDirectInputDevices() {
  HWND window = GetMainWindowHandle();
  PumpWindowMessagesCore();
  SetupJoypads();
  SetupMouse(window);
  InputState.keyboardTime = GetMillisecondCount();

  LogWriteText("キーボードデバイスの初期化... ");
  IDirectInputDevice7A* keyboard = CreateInputDevice(GUID_SysKeyboard);
  if (keyboard == nullptr) KeyboardFatal("キーボードデバイスの取得に失敗しました");
  InputState.keyboard = keyboard;
  if (FAILED(keyboard->SetDataFormat(&c_dfDIKeyboard)))
    KeyboardFatal("キーボードデバイスのデータ形式の設定に失敗しました");
  if (FAILED(keyboard->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND)))
    KeyboardFatal("キーボードデバイスの協調レベルの設定に失敗しました");
  DIPROPDWORD property = MakeProperty<DIPROPDWORD>(0, DIPH_DEVICE);
  property.dwData = 100;
  if (FAILED(keyboard->SetProperty(DIPROP_BUFFERSIZE, &property.diph)))
    LogWriteText("キーボードのプロパティ設定に失敗しました\n");
  InputState.keyboardEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HRESULT result = keyboard->SetEventNotification(InputState.keyboardEvent);
  if (result != DI_OK && result != DI_POLLEDDEVICE) {
    LogWriteText("キーボードイベントのセットアップが失敗しました\n");
    keyboard->Release();
    InputState.keyboard = nullptr;
    if (InputState.keyboardEvent != nullptr) CloseHandle(InputState.keyboardEvent);
    InputState.keyboardEvent = nullptr;
    return -1;
  }
  if (FAILED(keyboard->Acquire()) && FAILED(keyboard->Acquire()))
    KeyboardFatal("キーボードデバイスの取得に失敗しました");
  LogWriteText("初期化成功\n");
  InputState.keyboardTime = GetMillisecondCount();
  return 0;
}

int ReleaseDirectInput() {
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
  return 0;
}

static int HasDirectInputObject() {
  return InputState.directInput != nullptr && InputState.directInput != INPUT_NO_DIRECTINPUT;
}

static void ReleasePadDevice(JoypadRecord* pad) {
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

static int SetAxisRange(IDirectInputDevice7A* device, DWORD offset, LONG low, LONG high) {
  DIPROPRANGE range = MakeProperty<DIPROPRANGE>(offset, DIPH_BYOFFSET);
  range.lMin = low;
  range.lMax = high;
  return SUCCEEDED(device->SetProperty(DIPROP_RANGE, &range.diph)) ? 0 : -1;
}

static int SetAxisDeadZone(IDirectInputDevice7A* device, DWORD offset, DWORD deadZone) {
  DIPROPDWORD value = MakeProperty<DIPROPDWORD>(offset, DIPH_BYOFFSET);
  value.dwData = deadZone;
  return SUCCEEDED(device->SetProperty(DIPROP_DEADZONE, &value.diph)) ? 0 : -1;
}

static void CreatePadEffects(JoypadRecord* pad) {
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
    LogWriteText("周期的エフェクトの作成に失敗しました。\n");
  }
}

static BOOL CALLBACK EnumJoypadCallback(const DIDEVICEINSTANCEA* instance, void* context) {
  if (InputState.padCount >= INPUT_MAX_PADS) return DIENUM_STOP;
  JoypadRecord* pad = &InputState.pads[InputState.padCount];
  memset(pad, 0, sizeof(*pad));
  pad->xinputIndex = -1;
  IDirectInputDevice7A* device = CreateInputDevice(instance->guidInstance);
  if (device == nullptr) {
    LogWriteText("入力装置の取得に失敗しました\n");
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
  LogWriteText("入力装置を見つけました\n");
  snprintf(pad->instanceName, sizeof(pad->instanceName), "%s", info.tszInstanceName);
  snprintf(pad->productName, sizeof(pad->productName), "%s", info.tszProductName);
  LogIndentIn();
  LogPrintf("デバイスの登録名:%s", pad->instanceName);
  LogPrintf("デバイスの製品登録名:%s", pad->productName);
  LogIndentOut();

  if (FAILED(device->SetDataFormat(&c_dfDIJoystick))) {
    device->Release();
    LogWriteText("ジョイパッドデバイスではありませんでした、又は設定に失敗しました\n");
    return DIENUM_CONTINUE;
  }
  if (FAILED(device->SetCooperativeLevel(GetMainWindowHandle(), DISCL_EXCLUSIVE | DISCL_FOREGROUND)))
    LogWriteText("ジョイパッドデバイスの協調レベルの設定に失敗しました\n");

  static const DWORD axes[6] = {DIJOFS_X, DIJOFS_Y, DIJOFS_Z, DIJOFS_RX, DIJOFS_RY, DIJOFS_RZ};
  for (int i = 0; i < 6; i++) {
    if (SetAxisRange(device, axes[i], -1000, 1000) != 0) {
      if (i == 0) LogWriteText("ジョイパッドデバイスのＸ軸関係の設定に失敗しました\n");
      if (i == 1) LogWriteText("ジョイパッドデバイスのＹ軸関係の設定に失敗しました\n");
    }
  }
  pad->deadZone = INPUT_PAD_DEAD_ZONE;
  for (int i = 0; i < 6; i++) {
    if (SetAxisDeadZone(device, axes[i], 3499) != 0) {
      if (i == 0) LogWriteText("ジョイパッドデバイスのＸ軸の無効ゾーンの設定に失敗しました\n");
      if (i == 1) LogWriteText("ジョイパッドデバイスのＹ軸の無効ゾーンの設定に失敗しました\n");
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
    LogWriteText("ジョイパッドイベントのセットアップが失敗しました\n");
    ReleasePadDevice(pad);
    memset(pad, 0, sizeof(*pad));
    return DIENUM_CONTINUE;
  }
  device->Acquire();
  memset(&pad->state, 0, sizeof(pad->state));
  InputState.padCount++;
  LogWriteText("ジョイパッドの追加は正常に終了しました\n");
  return InputState.padCount < INPUT_MAX_PADS ? DIENUM_CONTINUE : DIENUM_STOP;
}

int SetupJoypads() {
  if (!HasDirectInputObject()) return -1;
  ReleaseJoypads();
  LogWriteText("ジョイパッドの初期化... \n");
  LogIndentIn();
  InputState.padCount = 0;
  AddXInputPads();
  if (InputState.directInput8)
    DirectInput8()->EnumDevices(DI8DEVCLASS_GAMECTRL, EnumJoypadCallback, nullptr, DIEDFL_ATTACHEDONLY);
  else
    DirectInput7()->EnumDevices(DIDEVTYPE_JOYSTICK, EnumJoypadCallback, nullptr, DIEDFL_ATTACHEDONLY);
  LogIndentOut();
  LogWriteText("ジョイパッドの初期化は正常に終了しました\n");
  return 0;
}

static int IsSignalled(HANDLE event) {
  return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

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
