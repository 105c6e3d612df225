// Input tables and conversions, GetPadState bit assembly over the keyboard
// state, the limits of the reading entries, and the multimedia-joystick
// mode through faked winmm entries.
#include <gtest/gtest.h>

#include <string.h>

#include "LogCapture.h"
#include "RaRadara.h"
#include "RaRadaraInput.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"

namespace {

// Input counted as started without DirectInput and without pads, so the
// reading entries go on to the GetKeyboardState path.
class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadSystemLibraries();
    memset(&InputState, 0, sizeof(InputState));
    BuildDefaultKeyToPadTable();
    InputState.joystickMode = 1;
    InputState.directInput = InputNoDirectInput;
    // This thread stands for the main thread of an active application.
    WinSys.mainThreadId = GetCurrentThreadId();
    WinSys.active = 1;
  }
  void TearDown() override {
    BYTE none[256] = {};
    SetKeyboardState(none);
    memset(&InputState, 0, sizeof(InputState));
  }
  // Holds exactly the given virtual keys; the next read refreshes.
  static void Hold(std::initializer_list<int> keys) {
    BYTE state[256] = {};
    for (int key : keys) state[key] = 0x80;
    ASSERT_TRUE(SetKeyboardState(state));
    InputState.keyboardTime = -2;
  }
};

TEST(InputTableTest, VirtualKeyTableHasItsHundredRows) {
  int rows = 0;
  while (VirtualKeyToKeyCodeTable[rows].virtualKey != 0xFFFF) rows++;
  EXPECT_EQ(100, rows);
}

TEST(InputTableTest, VirtualKeysTranslateToKeyCodes) {
  struct Case {
    int virtualKey;
    std::vector<int> held;  // key codes that read as held
  } cases[] = {
      {VK_RETURN, {DIK_RETURN, DIK_NUMPADENTER}},
      {'Z', {DIK_Z}},
      {VK_OEM_PLUS, {DIK_SEMICOLON}},
      {VK_OEM_5, {DIK_YEN}},
      {VK_RCONTROL, {DIK_RCONTROL}},
      {VK_PAUSE, {DIK_PAUSE}},
      {VK_F12, {DIK_F12}},
      {VK_LWIN, {}},  // outside the table
      {VK_NUMLOCK, {}},
  };
  for (const Case& c : cases) {
    unsigned char virtualKeys[256] = {};
    virtualKeys[c.virtualKey] = 0x81;
    unsigned char keys[256];
    memset(keys, 0xEE, sizeof(keys));
    TranslateKeyboardState(virtualKeys, keys);
    for (int code = 0; code < 256; code++) {
      bool expected = std::find(c.held.begin(), c.held.end(), code) != c.held.end();
      EXPECT_EQ(expected ? 0x81 : 0, keys[code]) << "virtual key " << c.virtualKey << " code " << code;
    }
  }
}

TEST(InputTableTest, DefaultKeyTableFeedsPadOneOnly) {
  memset(&InputState, 0, sizeof(InputState));
  BuildDefaultKeyToPadTable();
  unsigned char keys[256] = {};
  struct Case {
    std::vector<int> held;
    unsigned int bits;
  } cases[] = {
      {{}, 0},
      {{DIK_DOWN, DIK_RIGHT}, PAD_INPUT_DOWN | PAD_INPUT_RIGHT},
      {{DIK_NUMPAD8, DIK_NUMPAD4}, PAD_INPUT_UP | PAD_INPUT_LEFT},
      {{DIK_Z}, 0x10},
      {{DIK_X, DIK_C}, 0x60},
      {{DIK_A, DIK_S, DIK_D}, 0x380},
      {{DIK_Q, DIK_W}, 0xC00},
      {{DIK_ESCAPE}, 0x1000},
      {{DIK_SPACE}, 0x2000},
      {{DIK_RETURN, DIK_LSHIFT}, 0},
  };
  for (const Case& c : cases) {
    memset(keys, 0, sizeof(keys));
    for (int code : c.held) keys[code] = 0x80;
    EXPECT_EQ(c.bits, AssemblePadBits(nullptr, InputState.keyToPad[0], keys));
    // Pad 2's row is empty.
    EXPECT_EQ(0u, AssemblePadBits(nullptr, InputState.keyToPad[1], keys));
  }
}

TEST(InputTableTest, PadStateBitsFromAxesAndButtons) {
  unsigned char keys[256] = {};
  DIJOYSTATE state = {};
  EXPECT_EQ(0u, AssemblePadBits(&state, nullptr, keys));
  state.lX = -1;
  state.lY = 1000;
  EXPECT_EQ(unsigned(PAD_INPUT_LEFT | PAD_INPUT_DOWN), AssemblePadBits(&state, nullptr, keys));
  state.lX = 5;
  state.lY = -5;
  EXPECT_EQ(unsigned(PAD_INPUT_RIGHT | PAD_INPUT_UP), AssemblePadBits(&state, nullptr, keys));
  state = DIJOYSTATE{};
  state.rgbButtons[0] = 0x80;
  state.rgbButtons[23] = 0x80;  // the highest button that counts
  state.rgbButtons[24] = 0x80;  // past it
  state.rgbButtons[5] = 0x7F;   // bit 7 clear
  EXPECT_EQ(0x10u | 0x8000000u, AssemblePadBits(&state, nullptr, keys));
  // Points of view never show.
  state = DIJOYSTATE{};
  state.rgdwPOV[0] = 9000;
  EXPECT_EQ(0u, AssemblePadBits(&state, nullptr, keys));
}

TEST(InputTableTest, XInputThumbConversion) {
  struct Case {
    int thumb;
    int value;
  } cases[] = {
      {0, 0},       {11000, 0},     {-11000, 0},  {11468, 0},      {-11468, 0},   {11469, 0},
      {20000, 400}, {-20000, -400}, {32766, 999}, {-32767, -1000}, {32767, 1000}, {-32768, -1000},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value, ConvertXInputThumb(c.thumb, INPUT_PAD_DEAD_ZONE)) << c.thumb;
  EXPECT_EQ(1, ConvertXInputThumb(48, 0));
}

TEST(InputTableTest, XInputTriggersMakeZ) {
  struct Case {
    int left, right, z;
  } cases[] = {
      {0, 0, 0}, {89, 89, 0}, {90, 0, 6}, {255, 0, 1000}, {0, 255, -1000}, {255, 255, 0}, {172, 0, 500},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.z, ConvertXInputTriggers(c.left, c.right, INPUT_PAD_DEAD_ZONE)) << c.left << "," << c.right;
}

TEST(InputTableTest, XInputDpadToPointOfView) {
  struct Case {
    unsigned int buttons;
    int pov;
  } cases[] = {
      {0, -1},
      {XINPUT_GAMEPAD_DPAD_UP, 0},
      {XINPUT_GAMEPAD_DPAD_UP | XINPUT_GAMEPAD_DPAD_RIGHT, 4500},
      {XINPUT_GAMEPAD_DPAD_RIGHT, 9000},
      {XINPUT_GAMEPAD_DPAD_RIGHT | XINPUT_GAMEPAD_DPAD_DOWN, 13500},
      {XINPUT_GAMEPAD_DPAD_DOWN, 18000},
      {XINPUT_GAMEPAD_DPAD_DOWN | XINPUT_GAMEPAD_DPAD_LEFT, 22500},
      {XINPUT_GAMEPAD_DPAD_LEFT, 27000},
      {XINPUT_GAMEPAD_DPAD_LEFT | XINPUT_GAMEPAD_DPAD_UP, 31500},
      {XINPUT_GAMEPAD_DPAD_UP | XINPUT_GAMEPAD_DPAD_DOWN, -1},
      {XINPUT_GAMEPAD_A, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.pov, ConvertXInputDpad(c.buttons)) << c.buttons;
}

TEST(InputTableTest, XInputStateInDirectInputLayout) {
  XINPUT_STATE raw = {};
  raw.Gamepad.sThumbLX = 32767;
  raw.Gamepad.sThumbLY = -32768;  // stick down
  raw.Gamepad.sThumbRX = -20000;
  raw.Gamepad.sThumbRY = 20000;
  raw.Gamepad.bLeftTrigger = 255;
  raw.Gamepad.wButtons = XINPUT_GAMEPAD_A | XINPUT_GAMEPAD_START | XINPUT_GAMEPAD_RIGHT_THUMB |
                         XINPUT_GAMEPAD_DPAD_LEFT;
  DIJOYSTATE state;
  ConvertXInputState(&raw, INPUT_PAD_DEAD_ZONE, &state);
  EXPECT_EQ(1000, state.lX);
  EXPECT_EQ(1000, state.lY);
  EXPECT_EQ(-400, state.lRx);
  EXPECT_EQ(-400, state.lRy);
  EXPECT_EQ(1000, state.lZ);
  EXPECT_EQ(0x80, state.rgbButtons[0]);  // A
  EXPECT_EQ(0, state.rgbButtons[1]);
  EXPECT_EQ(0x80, state.rgbButtons[7]);  // start
  EXPECT_EQ(0x80, state.rgbButtons[9]);  // right thumb
  EXPECT_EQ(27000u, state.rgdwPOV[0]);
  EXPECT_EQ(DWORD(-1), state.rgdwPOV[3]);
  unsigned char keys[256] = {};
  EXPECT_EQ(unsigned(PAD_INPUT_RIGHT | PAD_INPUT_DOWN | 0x10 | (0x10 << 7) | (0x10 << 9)),
            AssemblePadBits(&state, nullptr, keys));
}

TEST(InputTableTest, JoystickAxisConversion) {
  struct Case {
    unsigned int raw;
    int value;
  } cases[] = {
      {0, -1000}, {1, -999},  {10650, -500}, {21299, 0},   {21300, 0},   {32767, 0},
      {32768, 0}, {44236, 0}, {44237, 0},    {54886, 500}, {65534, 999}, {65535, 1000},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value, ConvertJoystickAxis(c.raw, INPUT_PAD_DEAD_ZONE)) << c.raw;
}

TEST(InputTableTest, VibrationPowerSplitsAcrossTheMotors) {
  struct Case {
    int power, motor1, motor2;
    int left, right;
  } cases[] = {
      {10000, 1, 1, 65535, 65535},
      {7500, 1, 1, 65535, 32767},
      {5000, 1, 0, 65535, 0},
      {2500, 1, 0, 32767, 0},
      {0, 1, 0, 0, 0},
      {10000, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    XINPUT_VIBRATION vibration;
    PadVibrationSpeeds(c.power, c.motor1, c.motor2, &vibration);
    EXPECT_EQ(c.left, vibration.wLeftMotorSpeed) << c.power;
    EXPECT_EQ(c.right, vibration.wRightMotorSpeed) << c.power;
  }
}

TEST_F(InputTest, KeyboardMergesPadOnesKeys) {
  Hold({VK_DOWN, VK_RIGHT});
  EXPECT_EQ(PAD_INPUT_DOWN | PAD_INPUT_RIGHT, GetPadState(INPUT_KEYBOARD_FLAG));
  EXPECT_EQ(PAD_INPUT_DOWN | PAD_INPUT_RIGHT, GetPadState(INPUT_KEYBOARD_FLAG | 1));
  Hold({'Z'});
  EXPECT_EQ(0x10, GetPadState(INPUT_KEYBOARD_FLAG | 1));
  Hold({VK_SPACE});
  EXPECT_EQ(0x2000, GetPadState(INPUT_KEYBOARD_FLAG | 1));
  // Pad 2's row is empty, and there is no row past pad 16.
  EXPECT_EQ(0, GetPadState(INPUT_KEYBOARD_FLAG | 2));
  EXPECT_EQ(0, GetPadState(INPUT_KEYBOARD_FLAG | 17));
  EXPECT_EQ(0, GetPadState(INPUT_KEYBOARD_FLAG | 0xFFF));
}

TEST_F(InputTest, NoPadsGiveNothing) {
  Hold({VK_DOWN, 'Z'});
  EXPECT_EQ(0, GetPadState(1));
  EXPECT_EQ(0, GetPadState(17));
  EXPECT_EQ(0, GetPadState(-5));
}

TEST_F(InputTest, KeysOutsideTheRangeReadAsReleased) {
  Hold({VK_RETURN});
  EXPECT_EQ(1, IsKeyDown(DIK_RETURN));
  InputState.keyboardTime = -2;
  EXPECT_EQ(1, IsKeyDown(DIK_NUMPADENTER));
  EXPECT_EQ(0, IsKeyDown(-1));
  EXPECT_EQ(0, IsKeyDown(256));
  EXPECT_EQ(0, IsKeyDown(0x7FFFFFFF));
  char keys[256];
  InputState.keyboardTime = -2;
  EXPECT_EQ(0, GetAllKeyStates(keys));
  for (int code = 0; code < 256; code++)
    EXPECT_EQ(code == DIK_RETURN || code == DIK_NUMPADENTER ? 1 : 0, keys[code]) << code;
}

DWORD FakeTime = 5000;
DWORD WINAPI FakeTimeGetTime() { return FakeTime; }

TEST_F(InputTest, OneReadPerMillisecond) {
  auto realClock = SystemLibs.timeGetTimeFunc;
  SystemLibs.timeGetTimeFunc = FakeTimeGetTime;
  Hold({'Z'});
  EXPECT_EQ(1, UpdateKeyboardState(0));
  Hold({'X'});
  InputState.keyboardTime = static_cast<int>(FakeTime);
  EXPECT_EQ(0, UpdateKeyboardState(0));  // same tick: the old state
  EXPECT_EQ(0, IsKeyDown(DIK_X));
  EXPECT_EQ(1, IsKeyDown(DIK_Z));
  FakeTime++;
  EXPECT_EQ(1, UpdateKeyboardState(0));
  EXPECT_EQ(0x80, InputState.keyState[DIK_X]);
  EXPECT_EQ(0, InputState.keyState[DIK_Z]);
  SystemLibs.timeGetTimeFunc = realClock;
}

TEST(InputBeforeStartTest, ReadingEntriesStartNothingBeforeStartUp) {
  memset(&InputState, 0, sizeof(InputState));
  char keys[256];
  memset(keys, 0x55, sizeof(keys));
  EXPECT_EQ(0, GetAllKeyStates(keys));
  for (char key : keys) EXPECT_EQ(0, key);
  EXPECT_EQ(0, IsKeyDown(DIK_Z));
  EXPECT_EQ(0, GetPadState(INPUT_KEYBOARD_FLAG | 1));
  EXPECT_EQ(nullptr, InputState.directInput);
  EXPECT_EQ(-1, GetAllKeyStates(nullptr));
}

// Multimedia joysticks: two sticks, the first with Z and R.
struct FakeStick {
  JOYINFOEX info;
  int fail;
};
FakeStick FakeSticks[2];
int FakeCapsCalls = 0;

MMRESULT WINAPI FakeJoyGetDevCaps(UINT_PTR id, JOYCAPSA* caps, UINT size) {
  FakeCapsCalls++;
  if (id >= 2 || size != sizeof(JOYCAPSA)) return JOYERR_UNPLUGGED;
  caps->wCaps = id == 0 ? (JOYCAPS_HASZ | JOYCAPS_HASR | JOYCAPS_HASU) : JOYCAPS_HASZ;
  strcpy(caps->szPname, "Fake stick");
  return JOYERR_NOERROR;
}

MMRESULT WINAPI FakeJoyGetPosEx(UINT id, JOYINFOEX* info) {
  if (id >= 2 || FakeSticks[id].fail) return JOYERR_UNPLUGGED;
  if (info->dwFlags != JOY_RETURNALL) return JOYERR_PARMS;
  DWORD size = info->dwSize;
  *info = FakeSticks[id].info;
  info->dwSize = size;
  return JOYERR_NOERROR;
}

class JoystickModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadSystemLibraries();
    savedCaps_ = SystemLibs.joyGetDevCapsAFunc;
    savedPos_ = SystemLibs.joyGetPosExFunc;
    SystemLibs.joyGetDevCapsAFunc = FakeJoyGetDevCaps;
    SystemLibs.joyGetPosExFunc = FakeJoyGetPosEx;
    memset(&InputState, 0, sizeof(InputState));
    memset(FakeSticks, 0, sizeof(FakeSticks));
    for (FakeStick& stick : FakeSticks) {
      stick.info.dwXpos = stick.info.dwYpos = stick.info.dwZpos = 32767;
      stick.info.dwRpos = stick.info.dwUpos = 32767;
    }
    ForceJoystickInputMode(1);
  }
  void TearDown() override {
    TerminateInput();
    SystemLibs.joyGetDevCapsAFunc = savedCaps_;
    SystemLibs.joyGetPosExFunc = savedPos_;
    memset(&InputState, 0, sizeof(InputState));
  }
  static void NextTick(int pad) { InputState.pads[pad].lastPollTime = -2; }
  decltype(SystemLibs.joyGetDevCapsAFunc) savedCaps_;
  decltype(SystemLibs.joyGetPosExFunc) savedPos_;
};

TEST_F(JoystickModeTest, SticksAreCountedAndRead) {
  test_support::LogCapture log("input_joystick");
  ASSERT_EQ(0, InitializeInput());
  EXPECT_EQ(InputNoDirectInput, InputState.directInput);
  EXPECT_EQ(2, GetPadCount());
  EXPECT_TRUE(log.Has("パッドの数は 2 個です"));
  EXPECT_TRUE(log.Has("入力関連の初期化をしました"));
  EXPECT_EQ(1, InputState.pads[0].hasZAndR);
  EXPECT_EQ(0, InputState.pads[1].hasZAndR);
  EXPECT_EQ(INPUT_PAD_DEAD_ZONE, InputState.pads[1].deadZone);

  FakeSticks[0].info.dwXpos = 0;
  FakeSticks[0].info.dwYpos = 65535;
  FakeSticks[0].info.dwZpos = 0;
  FakeSticks[0].info.dwRpos = 65535;
  FakeSticks[0].info.dwUpos = 10650;
  FakeSticks[0].info.dwButtons = 0x1 | 0x800000 | 0x1000000;  // buttons 0, 23 and 24
  NextTick(0);
  EXPECT_EQ(PAD_INPUT_LEFT | PAD_INPUT_DOWN | 0x10 | 0x8000000, GetPadState(1));
  EXPECT_EQ(-1000, InputState.pads[0].state.lZ);
  EXPECT_EQ(1000, InputState.pads[0].state.lRz);
  EXPECT_EQ(-500, InputState.pads[0].state.lRx);

  // Without Z and R only X and Y count.
  FakeSticks[1].info.dwXpos = 65535;
  FakeSticks[1].info.dwZpos = 0;
  NextTick(1);
  EXPECT_EQ(PAD_INPUT_RIGHT, GetPadState(2));
  EXPECT_EQ(0, InputState.pads[1].state.lZ);

  // A failed read clears the pad.
  FakeSticks[0].fail = 1;
  NextTick(0);
  EXPECT_EQ(0, GetPadState(1));
  // Past the pads and without the keyboard flag: nothing.
  EXPECT_EQ(0, GetPadState(3));
}

TEST_F(JoystickModeTest, ModeSurvivesARestartAndTheTableStays) {
  ASSERT_EQ(0, InitializeInput());
  int codes[4] = {DIK_J, -1, -1, -1};
  ASSERT_EQ(0, SetKeyToPadEntry(2, 4, codes));
  EXPECT_EQ(-1, SetKeyToPadEntry(17, 0, codes));
  EXPECT_EQ(-1, SetKeyToPadEntry(1, 32, codes));
  ASSERT_EQ(0, TerminateInput());
  EXPECT_EQ(nullptr, InputState.directInput);
  FakeCapsCalls = 0;
  ASSERT_EQ(0, InitializeInput());
  EXPECT_EQ(1, InputState.joystickMode);
  EXPECT_EQ(3, FakeCapsCalls);  // ids 0, 1, then the failing 2
  EXPECT_EQ(DIK_J, InputState.keyToPad[1][4][0]);
  EXPECT_EQ(DIK_Z, InputState.keyToPad[0][4][0]);
  // Started input is not started again.
  EXPECT_EQ(0, InitializeInput());
  EXPECT_EQ(3, FakeCapsCalls);
}

}  // namespace
