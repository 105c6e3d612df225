// The window procedure's refusals, the clipboard helpers, the inactive wait
// and the full-screen fall-back of start-up, on the library's real window.
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DiDAridIrer.h"
#include "RaRadaraServices.h"
#include "TestFiles.h"
#include "WindowFixture.h"

namespace {

using WindowProcTest = StartedWindowTest;

TEST_F(WindowProcTest, ScreenSaverAndMonitorPowerAreRefused) {
  const WPARAM refused[] = {SC_SCREENSAVE, SC_MONITORPOWER, SC_SCREENSAVE | 2};
  for (WPARAM command : refused) {
    SCOPED_TRACE(command);
    EXPECT_EQ(1, SendMessageA(window_, WM_SYSCOMMAND, command, 0));
  }
  EXPECT_TRUE(IsWindow(window_));
}

TEST_F(WindowProcTest, ClipboardTextRoundTrip) {
  const char text[] = "clipboard テキスト 123";
  ASSERT_EQ(0, WriteClipboardText(text));
  const int size = ReadClipboardText(nullptr, 0);
  ASSERT_GE(size, static_cast<int>(sizeof(text)));
  std::vector<char> buffer(static_cast<size_t>(size), 'x');
  ASSERT_EQ(0, ReadClipboardText(buffer.data(), size));
  EXPECT_STREQ(text, buffer.data());
}

// A buffer smaller than the text gets the text cut, terminated, and not a
// byte beyond its size.
TEST_F(WindowProcTest, ClipboardReadKeepsToTheBuffer) {
  ASSERT_EQ(0, WriteClipboardText("0123456789abcdef"));
  const int sizes[] = {1, 2, 5, 16, 17};
  for (int size : sizes) {
    SCOPED_TRACE(size);
    std::vector<char> buffer(static_cast<size_t>(size) + 8, '#');
    ASSERT_EQ(0, ReadClipboardText(buffer.data(), size));
    EXPECT_EQ(std::string("0123456789abcdef").substr(0, static_cast<size_t>(size - 1)), std::string(buffer.data()));
    for (size_t i = static_cast<size_t>(size); i < buffer.size(); i++) EXPECT_EQ('#', buffer[i]) << i;
  }
  char none[4] = "abc";
  EXPECT_EQ(-1, ReadClipboardText(none, 0));
  EXPECT_STREQ("abc", none);
}

TEST_F(WindowProcTest, ClipboardWithoutTextGivesMinusOne) {
  ASSERT_TRUE(OpenClipboard(window_));
  EmptyClipboard();
  CloseClipboard();
  char buffer[8] = "keep";
  EXPECT_EQ(-1, ReadClipboardText(nullptr, 0));
  EXPECT_EQ(-1, ReadClipboardText(buffer, sizeof(buffer)));
  EXPECT_STREQ("keep", buffer);
  EXPECT_EQ(-1, WriteClipboardText(nullptr));
}

// Minimised and not running while inactive: the wait pumps until the
// window is back (restored from another thread here), then returns 0.
DWORD WINAPI RestoreLater(void* window) {
  Sleep(300);
  PostMessageA(static_cast<HWND>(window), WM_SYSCOMMAND, SC_RESTORE, 0);
  return 0;
}

TEST_F(WindowProcTest, InactiveWaitEndsWhenTheWindowIsRestored) {
  SetAlwaysRunFlag(0);
  ShowWindow(window_, SW_MINIMIZE);
  ASSERT_EQ(1, IsInactiveWaitNeeded());
  HANDLE thread = CreateThread(nullptr, 0, RestoreLater, window_, 0, nullptr);
  const DWORD start = GetTickCount();
  EXPECT_EQ(0, WaitWhileInactive());
  EXPECT_GE(GetTickCount() - start, 250u) << "it waited for the restore";
  EXPECT_EQ(0, WinSys.minimized);
  EXPECT_EQ(0, IsInactiveWaitNeeded());
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

TEST_F(WindowProcTest, InactiveWaitEndsOnClose) {
  SetAlwaysRunFlag(0);
  ShowWindow(window_, SW_MINIMIZE);
  ASSERT_EQ(1, IsInactiveWaitNeeded());
  ASSERT_TRUE(PostMessageA(window_, WM_CLOSE, 0, 0));
  EXPECT_EQ(-1, WaitWhileInactive());
  EXPECT_FALSE(IsWindow(window_));
  // After quit the wait returns at once, without pumping, what the test of
  // the need to wait gave.
  EXPECT_EQ(IsInactiveWaitNeeded(), WaitWhileInactive());
}

// Running while inactive, a minimised window neither waits nor stalls the
// pump; the setter works after start-up.
TEST_F(WindowProcTest, RunWhileInactiveNeverWaits) {
  SetAlwaysRunFlag(0);
  ShowWindow(window_, SW_MINIMIZE);
  ASSERT_EQ(1, IsInactiveWaitNeeded());
  EXPECT_EQ(0, SetAlwaysRunFlag(1));
  EXPECT_EQ(1, GetRunAlwaysFlag());
  EXPECT_EQ(0, IsInactiveWaitNeeded());
  EXPECT_EQ(0, WaitWhileInactive());
  for (int i = 0; i < 3; i++) EXPECT_EQ(0, PumpWindowMessages());
  EXPECT_EQ(1, WinSys.minimized);
}

// A loading worker's call that must run on the main thread is served by
// the pump: window creation started the workers, and the pump serves.
volatile LONG ServedOnMainThread = 0;
volatile LONG WorkerResult = 0;

int ServeOnMain(MainThreadRequest* request) {
  InterlockedExchange(&ServedOnMainThread, GetCurrentThreadId() == WinSys.mainThreadId ? 1 : -1);
  return static_cast<int>(request->params[0]) * 2;
}

int PostFromWorker(ASyncJob*) {
  MainThreadRequest request = {};
  request.function = ServeOnMain;
  request.params[0] = 21;
  InterlockedExchange(&WorkerResult, PostMainThreadRequest(&request));
  return 0;
}

TEST_F(WindowProcTest, PumpServesTheWorkersMainThreadRequests) {
  ServedOnMainThread = 0;
  WorkerResult = 0;
  ASyncJob* job = AllocASyncJob(0);
  ASSERT_NE(nullptr, job);
  job->function = PostFromWorker;
  ASSERT_EQ(0, AddASyncJob(job));
  for (int pass = 0; pass < 2000 && WorkerResult == 0; pass++) {
    ASSERT_EQ(0, PumpWindowMessages());
    Sleep(1);
  }
  EXPECT_EQ(1, ServedOnMainThread);
  EXPECT_EQ(42, WorkerResult);
}

// Full screen asked for a size the display does not offer: start-up logs
// it and falls back to a window.
class FullScreenFallbackTest : public ::testing::Test {
 protected:
  void TearDown() override {
    LibraryShutDown();
    ApplyWindowTestSettings();
  }
  test_support::LogCapture log_{"full_screen"};
};

TEST_F(FullScreenFallbackTest, SizeWithoutDisplayModeStartsInAWindow) {
  ASSERT_EQ(0, log_.StartResult());
  ApplyWindowTestSettings();
  ASSERT_EQ(0, ChangeWindowMode(0));
  ASSERT_EQ(0, IsWindowedMode());
  SetScreenMode(960, 720, 16, 60);  // no display mode of this size here

  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  EXPECT_EQ(1, IsWindowedMode());
  const std::string log = log_.Text();
  const size_t setting = log.find("設定されている画面設定 960x720 16bit color");
  const size_t none = log.find("対応している画面モードなし");
  const size_t windowed = log.find("ウインドウモードフラグが立てられました");
  const size_t created = log.find("ウインドウモード起動用のウインドウを作成します");
  ASSERT_NE(std::string::npos, setting) << log;
  ASSERT_NE(std::string::npos, none);
  ASSERT_NE(std::string::npos, windowed);
  ASSERT_NE(std::string::npos, created);
  EXPECT_LT(setting, none);
  EXPECT_LT(none, windowed);
  EXPECT_LT(windowed, created);

  RECT client;
  GetClientRect(GetMainWindowHandle(), &client);
  EXPECT_EQ(960, client.right);
  EXPECT_EQ(720, client.bottom);
}

}  // namespace
