// Input in the running library: start-up starts it and shut-down ends it,
// keys reach GetPadState through the real window and pump, window messages
// feed the character ring, the pump drives the active key input with the
// real clipboard and Shift, IME messages reach the ring through the window
// procedure, and the IME restart after activation runs its four steps.
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "InputRing.h"
#include "LogCapture.h"
#include "RaRadara.h"
#include "RaRadaraInput.h"
#include "RaRadaraSystem.h"
#include "RaRezezOruror.h"
#include "RiDov.h"
#include "TestFiles.h"
#include "VeRavoroString.h"

using test_support::LogCapture;
using test_support::RemoveTree;
using test_support::SharedTempFolder;

namespace {

void HoldKeys(std::initializer_list<int> keys) {
  BYTE state[256] = {};
  for (int key : keys) state[key] = 0x80;
  SetKeyboardState(state);
  // The next read is in a later millisecond.
  Sleep(2);
}

DWORD WINAPI UpdateOnOtherThread(void*) { return static_cast<DWORD>(UpdateKeyboardState(0)); }

class InputWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, log_.StartResult());
    ChangeWindowMode(1);
    SetScreenMode(960, 720, 16, 60);
    SetTitleText("RiDov input test");
    SetAlwaysRunFlag(1);
    SetCharSet(CHARSET_SHIFTJIS);
    ASSERT_EQ(0, LibraryStartUp());
  }
  void TearDown() override {
    HoldKeys({});
    SystemLibs = LibsAtStart();
    LibraryShutDown();
    RemoveTree(log_.Folder());
  }
  static SystemLibraryTable& LibsAtStart() {
    static SystemLibraryTable saved;
    return saved;
  }
  LogCapture log_{SharedTempFolder("RIDOV_INPUT_WINDOW_TEST_LOG", "input_window")};
};

TEST_F(InputWindowTest, StartUpStartsInputAndShutDownEndsIt) {
  EXPECT_NE(nullptr, InputState.directInput);
  EXPECT_TRUE(log_.Has("DirectInput 関連の初期化は正常に終了しました"));
  EXPECT_TRUE(log_.Has("文字コードバッファの初期化を行います... 完了しました"));
  EXPECT_EQ(-1, GetActiveKeyInput());
  ASSERT_EQ(0, LibraryShutDown());
  EXPECT_EQ(nullptr, InputState.directInput);
  EXPECT_TRUE(log_.Has("DirectInput 関連の終了処理... 完了"));
  // After shut-down the reading entries start nothing.
  EXPECT_EQ(0, IsKeyDown(DIK_Z));
  EXPECT_EQ(0, GetPadState(INPUT_KEYBOARD_FLAG | 1));
  EXPECT_EQ(nullptr, InputState.directInput);
}

TEST_F(InputWindowTest, FirstReadStartsStoppedInput) {
  ASSERT_EQ(0, TerminateInput());
  ASSERT_EQ(nullptr, InputState.directInput);
  HoldKeys({'Z'});
  EXPECT_EQ(0, IsKeyDown(DIK_Z));  // starts input, reads nothing
  EXPECT_NE(nullptr, InputState.directInput);
  Sleep(2);
  EXPECT_EQ(1, IsKeyDown(DIK_Z));
}

TEST_F(InputWindowTest, KeysReachThePadStateOnTheMainThreadOnly) {
  HoldKeys({VK_RIGHT, VK_DOWN, 'Z'});
  EXPECT_EQ(PAD_INPUT_RIGHT | PAD_INPUT_DOWN | 0x10, GetPadState(INPUT_KEYBOARD_FLAG | 1));
  EXPECT_EQ(1, IsKeyDown(DIK_Z));
  char keys[256];
  ASSERT_EQ(0, GetAllKeyStates(keys));
  EXPECT_EQ(1, keys[DIK_RIGHT]);
  EXPECT_EQ(0, keys[DIK_LEFT]);
  HoldKeys({VK_ESCAPE});
  EXPECT_EQ(0x1000, GetPadState(INPUT_KEYBOARD_FLAG | 1));
  // Another thread gets no refresh.
  HoldKeys({});
  HANDLE thread = CreateThread(nullptr, 0, UpdateOnOtherThread, nullptr, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  WaitForSingleObject(thread, 5000);
  DWORD code = 99;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  EXPECT_EQ(0u, code);
}

TEST_F(InputWindowTest, WindowMessagesFeedTheRing) {
  HWND window = GetMainWindowHandle();
  ASSERT_NE(nullptr, window);
  test_support::DrainInputRing();
  SendMessageA(window, WM_CHAR, 'a', 0);
  SendMessageA(window, WM_CHAR, '\n', 0);
  SendMessageA(window, WM_KEYDOWN, VK_LEFT, 0);
  SendMessageA(window, WM_KEYDOWN, 'Q', 0);  // not a control key
  EXPECT_EQ("a\r\x1D", test_support::DrainInputRing());
}

TEST_F(InputWindowTest, PumpEditsWithTheClipboardAndShift) {
  int handle = MakeKeyInput(8, 1, 0, 1);
  ASSERT_NE(-1, handle);
  ASSERT_EQ(0, SetActiveKeyInput(handle));
  ASSERT_EQ(0, WriteClipboardText("12\r\n3x4"));
  test_support::DrainInputRing();
  PushInputChar(CTRL_CODE_PASTE);
  PumpWindowMessages();
  char text[16];
  GetKeyInputString(handle, text, sizeof(text));
  EXPECT_STREQ("1234", text);

  // Shift+Left selects; copy puts the selection on the clipboard.
  HoldKeys({VK_LSHIFT});
  PushInputChar(CTRL_CODE_LEFT);
  PumpWindowMessages();
  int start, end;
  GetKeyInputSelectArea(handle, &start, &end);
  EXPECT_EQ(4, start);
  EXPECT_EQ(3, end);
  HoldKeys({});
  PushInputChar(CTRL_CODE_COPY);
  PushInputChar(CTRL_CODE_ENTER);
  PumpWindowMessages();
  EXPECT_EQ(1, CheckKeyInput(handle));
  char clip[16] = "";
  ASSERT_GE(ReadClipboardText(nullptr, 0), 2);
  ASSERT_EQ(0, ReadClipboardText(clip, sizeof(clip)));
  EXPECT_STREQ("4", clip);
}

// Faked Imm32 entries, recording what the restart does.
std::vector<std::string> ImeCalls;
HIMC WINAPI FakeGetContext(HWND) { return reinterpret_cast<HIMC>(0x77); }
BOOL WINAPI FakeReleaseContext(HWND, HIMC) { return TRUE; }
LONG WINAPI FakeGetCompositionString(HIMC, DWORD index, void* buffer, DWORD length) {
  const std::string source = index == GCS_RESULTSTR ? "\x82\xA0ok" : "kana";
  if (buffer == nullptr || length == 0) return static_cast<LONG>(source.size());
  size_t n = source.size() < length ? source.size() : length;
  memcpy(buffer, source.data(), n);
  return static_cast<LONG>(n);
}
BOOL WINAPI FakeGetOpenStatus(HIMC) { return TRUE; }
BOOL WINAPI FakeNotifyIme(HIMC, DWORD action, DWORD index, DWORD) {
  ImeCalls.push_back("notify " + std::to_string(action) + " " + std::to_string(index));
  return TRUE;
}
BOOL WINAPI FakeSetOpenStatus(HIMC, BOOL open) {
  ImeCalls.push_back("open " + std::to_string(open));
  return TRUE;
}
BOOL WINAPI FakeSetCompositionString(HIMC, DWORD index, void* text, DWORD length, void*, DWORD) {
  ImeCalls.push_back("set " + std::to_string(index) + " " + std::string(static_cast<const char*>(text), length));
  return TRUE;
}

TEST_F(InputWindowTest, ImeThroughTheWindowProcedure) {
  LibsAtStart() = SystemLibs;
  SystemLibs.ImmGetContextFunc = FakeGetContext;
  SystemLibs.ImmReleaseContextFunc = FakeReleaseContext;
  SystemLibs.ImmGetCompositionStringAFunc = FakeGetCompositionString;
  SystemLibs.ImmNotifyIMEFunc = FakeNotifyIme;
  SystemLibs.ImmSetOpenStatusFunc = FakeSetOpenStatus;
  SystemLibs.ImmSetCompositionStringAFunc = FakeSetCompositionString;
  SystemLibs.ImmGetOpenStatusFunc = FakeGetOpenStatus;
  HWND window = GetMainWindowHandle();
  test_support::DrainInputRing();
  EXPECT_EQ(0, SendMessageA(window, WM_IME_COMPOSITION, 0, GCS_RESULTSTR));
  EXPECT_EQ("\x82\xA0ok", test_support::DrainInputRing());

  // The open status is read after the notification.
  CharInput.imeOpen = 0;
  SendMessageA(window, WM_IME_NOTIFY, IMN_SETOPENSTATUS, 0);
  EXPECT_EQ(1, CharInput.imeOpen);

  // Activation with the IME enabled and open restarts it in four steps.
  CharInput.imeEnabled = 1;
  ImeCalls.clear();
  RequestImeReapplyOnActivation();
  EXPECT_EQ(1, CharInput.imeRestartStep);
  ASSERT_EQ(0, ProcessKeyInputHandles());
  EXPECT_EQ(0, CharInput.imeRestartStep);
  std::vector<std::string> expected = {"notify " + std::to_string(NI_COMPOSITIONSTR) + " " + std::to_string(CPS_CANCEL),
                                       "open 0", "open 1", "open 1", "set " + std::to_string(SCS_SETSTR) + " kana"};
  EXPECT_EQ(expected, ImeCalls);
  CharInput.imeEnabled = 0;
  CharInput.imeOpen = 0;
}

}  // namespace
