// Keyboard input from the system: the DirectInput keyboard (forced through
// the OS-code seam, as on systems before Vista) sees keys sent by
// SendInput; the GetKeyboardState path sees the thread's key state.
#include <gtest/gtest.h>

#include <string.h>

#include "RaRadara.h"
#include "RaRadaraInput.h"
#include "RaRadaraSysInfo.h"
#include "RaRadaraSystem.h"

namespace {

int OsXp() { return OS_WINXP; }
int OsWin7() { return OS_WIN7; }


void SendKey(WORD virtualKey, bool up) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  // Arrow keys are extended keys, apart from the number pad's.
  if (virtualKey >= VK_PRIOR && virtualKey <= VK_DOWN) input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
  ASSERT_EQ(1u, SendInput(1, &input, sizeof(input)));
}

// Pumps this thread's messages for a while so that sent keys arrive.
void PumpFor(int milliseconds) {
  DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
  while (static_cast<int>(end - GetTickCount()) > 0) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(5);
  }
}

// Reads the key state until Z and Left are both held (or both released).
bool WaitForKeys(bool held) {
  for (int i = 0; i < 100; i++) {
    PumpFor(10);
    InputState.keyboardTime = -2;
    UpdateKeyboardState(0);
    bool z = (InputState.keyState[DIK_Z] & 0x80) != 0;
    bool left = (InputState.keyState[DIK_LEFT] & 0x80) != 0;
    if (z == held && left == held) return true;
  }
  return false;
}

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadSystemLibraries();
    InitializeCom();
    memset(&InputState, 0, sizeof(InputState));
    WinSys.mainThreadId = GetCurrentThreadId();
    WinSys.active = 1;
  }
  void TearDown() override {
    TerminateInput();
    InputOsCodeSource = GetOsCode;
    TerminateCom();
  }
};

TEST_F(KeyboardTest, DirectInputKeyboardSeesSentKeys) {
  InputOsCodeSource = OsXp;
  ASSERT_EQ(0, InitializeInput());
  ASSERT_NE(nullptr, InputState.keyboard) << "no DirectInput keyboard";
  SendKey('Z', false);
  SendKey(VK_LEFT, false);
  EXPECT_TRUE(WaitForKeys(true));
  EXPECT_EQ(0, InputState.keyState[DIK_X] & 0x80);
  EXPECT_EQ(0, InputState.keyState[DIK_NUMPAD4] & 0x80);
  SendKey('Z', true);
  SendKey(VK_LEFT, true);
  EXPECT_TRUE(WaitForKeys(false));
}

TEST_F(KeyboardTest, KeyboardStatePathReadsTheThreadsKeys) {
  ASSERT_EQ(0, InitializeInput());
  InputOsCodeSource = OsWin7;
  BYTE state[256] = {};
  state[VK_UP] = 0x80;
  state['X'] = 0x80;
  ASSERT_TRUE(SetKeyboardState(state));
  InputState.keyboardTime = -2;
  ASSERT_EQ(1, UpdateKeyboardState(0));
  EXPECT_EQ(0x80, InputState.keyState[DIK_UP]);
  EXPECT_EQ(0x80, InputState.keyState[DIK_X]);
  EXPECT_EQ(0, InputState.keyState[DIK_Z]);
  BYTE none[256] = {};
  SetKeyboardState(none);
}

}  // namespace
