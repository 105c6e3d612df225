// XInput pads through the fake xinput1_4.dll beside this program (loaded
// in place of the system's by WINEDLLOVERRIDES): counting, naming and the
// log line, reading, vibration and its stop on deactivation.
#include <gtest/gtest.h>

#include <string.h>

#include "LogCapture.h"
#include "RaRadara.h"
#include "RaRadaraInput.h"
#include "RaRadaraSystem.h"

namespace {

typedef void(WINAPI* SetPadFunction)(DWORD, int, const XINPUT_STATE*);
typedef int(WINAPI* GetVibrationFunction)(DWORD, XINPUT_VIBRATION*);

class XInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadSystemLibraries();
    InitializeCom();
    fake_ = LoadLibraryA("xinput1_4.dll");
    ASSERT_NE(nullptr, fake_);
    FARPROC setPad = GetProcAddress(fake_, "FakeXInputSetPad");
    FARPROC getVibration = GetProcAddress(fake_, "FakeXInputGetVibration");
    memcpy(&setPad_, &setPad, sizeof(setPad));
    memcpy(&getVibration_, &getVibration, sizeof(getVibration));
    ASSERT_NE(nullptr, setPad_) << "the system's xinput1_4.dll was loaded, not the fake";
    ASSERT_NE(nullptr, getVibration_);
    memset(&InputState, 0, sizeof(InputState));
    WinSys.active = 1;  // an active application, without a window
  }
  void TearDown() override {
    TerminateInput();
    if (fake_ != nullptr) {
      for (DWORD user = 0; user < 4; user++) setPad_(user, 0, nullptr);
      FreeLibrary(fake_);
    }
    TerminateCom();
  }
  XINPUT_VIBRATION Vibration(DWORD user) {
    XINPUT_VIBRATION vibration = {};
    getVibration_(user, &vibration);
    return vibration;
  }
  static void NextTick() {
    for (JoypadRecord& pad : InputState.pads) pad.lastPollTime = -2;
  }
  HMODULE fake_ = nullptr;
  SetPadFunction setPad_ = nullptr;
  GetVibrationFunction getVibration_ = nullptr;
};

TEST_F(XInputTest, OneConnectedPadIsCountedNamedAndLogged) {
  setPad_(1, 1, nullptr);
  test_support::LogCapture log("input_xinput");
  ASSERT_EQ(0, InitializeInput());
  ASSERT_NE(nullptr, InputState.directInput);
  EXPECT_NE(InputNoDirectInput, InputState.directInput);
  EXPECT_TRUE(log.Has("XInput DLL の読み込み中... 成功")) << log.Text();
  ASSERT_GE(GetPadCount(), 1);
  int xinputPads = 0;
  for (int i = 0; i < GetPadCount(); i++) xinputPads += InputState.pads[i].xinputIndex >= 0;
  EXPECT_EQ(1, xinputPads);
  EXPECT_EQ(1, InputState.pads[0].xinputIndex);
  char instance[INPUT_PAD_NAME_SIZE], product[INPUT_PAD_NAME_SIZE];
  ASSERT_EQ(0, GetPadName(1, instance, product));
  EXPECT_STREQ("Controller (XBOX 360 For Windows)", instance);
  EXPECT_STREQ("Controller (XBOX 360 For Windows)", product);
  EXPECT_TRUE(log.Has("ジョイパッドナンバー 0 は Xbox360 Controller です"));
  EXPECT_TRUE(log.Has("DirectInput 関連の初期化は正常に終了しました"));
  EXPECT_TRUE(log.Has("\tDirectInput7 の取得中... 成功\r\n\t\t引き続き初期化処理... 初期化成功\r\n")) << log.Text();
  EXPECT_EQ(-1, GetPadName(GetPadCount() + 1, instance, product));
}

TEST_F(XInputTest, PadStateIsReadAndConverted) {
  XINPUT_STATE state = {};
  state.Gamepad.sThumbLX = -20000;
  state.Gamepad.sThumbLY = 11000;  // inside the dead zone
  state.Gamepad.wButtons = XINPUT_GAMEPAD_B | XINPUT_GAMEPAD_DPAD_DOWN;
  setPad_(0, 1, &state);
  ASSERT_EQ(0, InitializeInput());
  ASSERT_GE(GetPadCount(), 1);
  NextTick();
  EXPECT_EQ(PAD_INPUT_LEFT | 0x20, GetPadState(1));
  EXPECT_EQ(18000u, InputState.pads[0].state.rgdwPOV[0]);
  state.Gamepad.sThumbLY = -32768;
  setPad_(0, 1, &state);
  NextTick();
  EXPECT_EQ(PAD_INPUT_LEFT | PAD_INPUT_DOWN | 0x20, GetPadState(1));
  // A pad that went away reads as nothing.
  setPad_(0, 0, nullptr);
  NextTick();
  EXPECT_EQ(0, GetPadState(1));
}

TEST_F(XInputTest, VibrationSplitsAndStops) {
  setPad_(0, 1, nullptr);
  ASSERT_EQ(0, InitializeInput());
  ASSERT_GE(GetPadCount(), 1);
  ASSERT_EQ(0, StartPadVibration(1, 7500, -1));
  EXPECT_EQ(65535, Vibration(0).wLeftMotorSpeed);
  EXPECT_EQ(32767, Vibration(0).wRightMotorSpeed);
  ASSERT_EQ(0, StartPadVibration(1, 2500, -1));
  EXPECT_EQ(32767, Vibration(0).wLeftMotorSpeed);
  EXPECT_EQ(0, Vibration(0).wRightMotorSpeed);

  // Deactivation stops the motors; activation brings them back.
  int calls = getVibration_(0, nullptr);
  ApplyPadVibrationFor(0);
  EXPECT_EQ(0, Vibration(0).wLeftMotorSpeed);
  EXPECT_EQ(0, Vibration(0).wRightMotorSpeed);
  ApplyPadVibrationFor(0);
  EXPECT_EQ(calls + 1, getVibration_(0, nullptr));  // stopped once
  ApplyPadVibrationFor(1);
  EXPECT_EQ(32767, Vibration(0).wLeftMotorSpeed);

  ASSERT_EQ(0, StopPadVibration(1));
  EXPECT_EQ(0, Vibration(0).wLeftMotorSpeed);
  EXPECT_EQ(0, Vibration(0).wRightMotorSpeed);
  EXPECT_EQ(-1, StartPadVibration(GetPadCount() + 1, 5000, -1));
  EXPECT_EQ(-1, StopPadVibration(0));
}

TEST_F(XInputTest, TimedVibrationEnds) {
  setPad_(0, 1, nullptr);
  ASSERT_EQ(0, InitializeInput());
  ASSERT_EQ(0, StartPadVibration(1, 10000, 30));
  EXPECT_EQ(65535, Vibration(0).wRightMotorSpeed);
  UpdatePadVibration();
  EXPECT_EQ(65535, Vibration(0).wLeftMotorSpeed);
  Sleep(60);
  UpdatePadVibration();
  EXPECT_EQ(0, Vibration(0).wLeftMotorSpeed);
  EXPECT_EQ(0, Vibration(0).wRightMotorSpeed);
  EXPECT_EQ(0, InputState.pads[0].vibrationRequested);
}

TEST_F(XInputTest, ShutDownStopsMotorsAndFreesTheLibrary) {
  setPad_(0, 1, nullptr);
  ASSERT_EQ(0, InitializeInput());
  ASSERT_EQ(0, StartPadVibration(1, 9000, -1));
  EXPECT_NE(0, Vibration(0).wLeftMotorSpeed);
  ASSERT_EQ(0, TerminateInput());
  EXPECT_EQ(0, Vibration(0).wLeftMotorSpeed);
  EXPECT_EQ(nullptr, InputState.directInput);
  EXPECT_EQ(nullptr, InputState.xinputModule);
  EXPECT_EQ(0, GetPadCount());
}

}  // namespace
