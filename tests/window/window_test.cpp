// Library start-up and shut-down with the real main window, the message
// pump and the fatal-error exit. Runs on the harness's Xvfb, one window
// test program at a time (they share the window class).
#include <windows.h>

#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "DaDode.h"
#include "DiDAridIrer.h"
#include "LogCapture.h"
#include "RaRadara.h"
#include "RaRadaraApiLock.h"
#include "RaRadaraSystem.h"
#include "RiDov.h"
#include "TestFiles.h"
#include "VeRavoro.h"
#include "WindowFixture.h"

using test_support::LogCapture;
using test_support::ReadFileText;
using test_support::RemoveTree;
using test_support::SharedTempFolder;

namespace {

const char* const kCaption = kWindowTestCaption;
const char kSecondCopySwitch[] = "--second-copy";
const char kFolderVariable[] = "RIDOV_WINDOW_TEST_LOG";
const int kSecondCopyRefused = 3;

// The log after the last allocation dump: "Alloc num:0" and nothing else.
bool EndsWithEmptyDump(const std::string& log) {
  const size_t dump = log.rfind("Alloc memory dump");
  if (dump == std::string::npos) return false;
  const std::string tail = log.substr(dump);
  return tail.find("Total size:0(0.000kb)  Alloc num:0") != std::string::npos &&
         tail.find("size:", tail.find("Alloc num:0")) == std::string::npos && tail.find("file:") == std::string::npos;
}

std::string ClassNameOf(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof(name));
  return name;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, log_.StartResult());
    ApplyWindowTestSettings();
  }
  void TearDown() override {
    LibraryShutDown();
    SetAlwaysRunFlag(1);
    RemoveTree(log_.Folder());
  }
  std::string LogText() const { return log_.Text(); }

  LogCapture log_{SharedTempFolder(kFolderVariable, "window")};
};

TEST_F(WindowTest, StartsOnceAndOpensTheWindow) {
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  EXPECT_EQ(1, IsLibraryStarted());
  const std::string logAfterFirst = LogText();
  EXPECT_EQ(0, LibraryStartUp());
  EXPECT_EQ(logAfterFirst, LogText()) << "a second start-up logs nothing";

  HWND window = GetMainWindowHandle();
  ASSERT_NE(nullptr, window);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(window, FindWindowA(kCaption, nullptr));
  EXPECT_EQ(kCaption, ClassNameOf(window));
  char caption[256] = "";
  GetWindowTextA(window, caption, sizeof(caption));
  EXPECT_STREQ(kCaption, caption);

  const DWORD style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
  const DWORD wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE;
  EXPECT_EQ(wanted, style & (wanted | WS_THICKFRAME | WS_MAXIMIZEBOX));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE));
  EXPECT_EQ(static_cast<DWORD>(WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE),
            exStyle & (WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE | WS_EX_TOPMOST));

  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(960, client.right - client.left);
  EXPECT_EQ(720, client.bottom - client.top);
  EXPECT_EQ(960, WinSys.clientRect.right - WinSys.clientRect.left);
  EXPECT_EQ(720, WinSys.clientRect.bottom - WinSys.clientRect.top);

  // Everything the window brings up is running.
  EXPECT_EQ(1, ASyncLoad.initialized);
  EXPECT_EQ(1, HandleManagers[HANDLETYPE_FILE].initialized);
  EXPECT_EQ(0, PumpWindowMessages());

  EXPECT_EQ(0, LibraryShutDown());
  EXPECT_EQ(0, IsLibraryStarted());
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(nullptr, FindWindowA(kCaption, nullptr));
  EXPECT_EQ(0, ASyncLoad.initialized);
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_FILE].initialized);
  EXPECT_EQ(0, LibraryLock.created) << "shut-down deletes the API lock";
  EXPECT_EQ(0, LibraryShutDown()) << "a second shut-down does nothing";

  const std::string log = LogText();
  const size_t created = log.find("ウインドウの作成に成功しました");
  const size_t closing = log.find("ウインドウを閉じようとしています");
  const size_t destroyed = log.find("ウインドウが破棄されようとしています");
  const size_t comEnd = log.find("ＣＯＭを終了... 完了");
  ASSERT_NE(std::string::npos, created);
  ASSERT_NE(std::string::npos, closing);
  ASSERT_NE(std::string::npos, destroyed);
  ASSERT_NE(std::string::npos, comEnd);
  EXPECT_LT(created, closing);
  EXPECT_LT(closing, destroyed);
  EXPECT_LT(destroyed, comEnd);
  EXPECT_TRUE(EndsWithEmptyDump(log)) << log;
}

TEST_F(WindowTest, PostedCloseEndsThePump) {
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  HWND window = GetMainWindowHandle();
  ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
  EXPECT_EQ(-1, PumpWindowMessages());
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(1, WinSys.windowDestroyed);
  EXPECT_EQ(4, WinSys.closingLevel);
  EXPECT_EQ(-1, PumpWindowMessages()) << "every later pump reports the end";

  EXPECT_EQ(0, LibraryShutDown());
  EXPECT_EQ(0, IsLibraryStarted());
  const std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("ウインドウを閉じようとしています"));
  EXPECT_TRUE(EndsWithEmptyDump(log)) << log;
}

TEST_F(WindowTest, StartsAgainAfterShutDown) {
  for (int round = 0; round < 2; round++) {
    SCOPED_TRACE(round);
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    HWND window = GetMainWindowHandle();
    ASSERT_TRUE(IsWindow(window));
    // Several passes: no quit message of the last run is left to end this one.
    for (int pass = 0; pass < 5; pass++) EXPECT_EQ(0, PumpWindowMessages());
    EXPECT_EQ(0, LibraryShutDown());
    EXPECT_FALSE(IsWindow(window));
  }
}

// Another window of the class makes start-up fail; what it had started is
// undone, so that start-up succeeds once the other window is gone.
LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(WindowTest, FailedStartUpUndoesItsSteps) {
  WNDCLASSA plain = {};
  plain.lpfnWndProc = PlainWindowProc;
  plain.hInstance = GetModuleHandleA(nullptr);
  plain.lpszClassName = kCaption;
  ASSERT_NE(0, RegisterClassA(&plain));
  HWND other = CreateWindowExA(0, kCaption, "other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(nullptr, other);

  EXPECT_EQ(-1, LibraryStartUp());
  EXPECT_EQ(0, IsLibraryStarted());
  EXPECT_EQ(0, LibraryState.startingUp);
  EXPECT_EQ(nullptr, GetMainWindowHandle());
  EXPECT_EQ(0, ASyncLoad.initialized);
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_FILE].initialized);
  EXPECT_EQ(0, IsComInitialized());
  EXPECT_EQ(nullptr, SystemLibs.winmm) << "system libraries released";
  EXPECT_EQ(0, LibraryLock.created) << "the API lock's events closed";
  EXPECT_EQ(0, WinSys.timerPeriod) << "the timer period given back";
  EXPECT_NE(std::string::npos, LogText().find("二重起動されています、ソフトを終了します"));

  DestroyWindow(other);
  UnregisterClassA(kCaption, GetModuleHandleA(nullptr));
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  EXPECT_TRUE(IsWindow(GetMainWindowHandle()));
  EXPECT_EQ(0, LibraryShutDown());
}

// The second copy: this program run again with the switch, which starts
// the library and exits with kSecondCopyRefused when start-up fails.
int RunSecondCopy(const char* folder) {
  LogCapture log{std::string(folder)};
  ApplyWindowTestSettings();
  const int result = LibraryStartUp();
  if (result == 0) LibraryShutDown();
  return result == -1 ? kSecondCopyRefused : 1;
}

TEST_F(WindowTest, SecondCopyIsRefused) {
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  const std::string folder = test_support::NewTempFolder("second_copy");

  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof(path));
  std::string command = std::string("\"") + path + "\" " + kSecondCopySwitch + " \"" + folder + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  // The child's start-up never gets as far as waiting for this window, but
  // keep the window served while it runs.
  DWORD wait;
  const DWORD started = GetTickCount();
  while ((wait = WaitForSingleObject(process.hProcess, 10)) == WAIT_TIMEOUT && GetTickCount() - started < 30000)
    PumpWindowMessages();
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  ASSERT_EQ(WAIT_OBJECT_0, wait);
  EXPECT_EQ(static_cast<DWORD>(kSecondCopyRefused), exitCode);
  const std::string childLog = ReadFileText(folder + "\\Log.txt");
  EXPECT_NE(std::string::npos, childLog.find("二重起動されています、ソフトを終了します")) << childLog;
  RemoveTree(folder);

  EXPECT_TRUE(IsWindow(GetMainWindowHandle())) << "the first copy keeps its window";
  EXPECT_EQ(0, PumpWindowMessages());
}

// ---------------------------------------------------------------------------
// Message pump

TEST_F(WindowTest, PumpWithoutWindowReturnsAtOnce) {
  ASSERT_EQ(nullptr, GetMainWindowHandle());
  // A message waiting for this thread stays: the pump touches nothing.
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_APP, 7, 0));
  WinSys.quit = 0;
  EXPECT_EQ(0, PumpWindowMessages());
  WinSys.quit = 1;  // as after a closed window
  EXPECT_EQ(-1, PumpWindowMessages());
  WinSys.quit = 0;
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_APP, WM_APP, PM_REMOVE));
  EXPECT_EQ(7u, message.wParam);
}

TEST_F(WindowTest, QuitMessageEndsEveryLaterPump) {
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  PostQuitMessage(0);
  EXPECT_EQ(-1, PumpWindowMessages());
  EXPECT_EQ(1, WinSys.quit);
  EXPECT_EQ(-1, PumpWindowMessages());
  EXPECT_EQ(-1, PumpWindowMessages());
  EXPECT_TRUE(IsWindow(GetMainWindowHandle())) << "the quit message alone leaves the window";
  EXPECT_EQ(0, LibraryShutDown());
  EXPECT_FALSE(IsWindow(FindWindowA(kCaption, nullptr)));
  // The class went with the window: the next start-up registers it anew.
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  EXPECT_EQ(0, WinSys.quit);
  EXPECT_EQ(0, PumpWindowMessages());
}

TEST_F(WindowTest, MinimisedPumpEndsDuringShutDown) {
  SetAlwaysRunFlag(0);
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  ShowWindow(GetMainWindowHandle(), SW_MINIMIZE);
  ASSERT_EQ(1, WinSys.minimized);
  ASSERT_EQ(1, IsInactiveWaitNeeded());

  // As shut-down does before it takes the services down.
  WinSys.closingLevel = 1;
  const DWORD start = GetTickCount();
  EXPECT_EQ(0, PumpWindowMessagesCore());
  const DWORD elapsed = GetTickCount() - start;
  EXPECT_EQ(1, WinSys.minimized) << "the pass limit, not a restore, ended the wait";
  // Ten passes of at least 25 ms of sleep each (the test's time-out
  // catches a pump that never ends).
  EXPECT_GE(elapsed, 200u);
  EXPECT_EQ(0, LibraryShutDown());
  EXPECT_FALSE(IsWindow(FindWindowA(kCaption, nullptr)));
}

// A window of the test's own, dispatched by the library's pump, that makes
// 513 activation changes inside one dispatch.
int RingCountInsideDispatch = -1;
int ActiveInsideDispatch = -1;

LRESULT CALLBACK FloodWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) {
    for (int i = 0; i < ACTIVATION_RING_SIZE; i++) QueueActivationChange(WA_ACTIVE, 0);
    QueueActivationChange(WA_INACTIVE, 0);
    RingCountInsideDispatch = WinSys.ringCount;
    ActiveInsideDispatch = WinSys.active;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(WindowTest, ActivationChangesBeyondTheRingApplyAtOnce) {
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  ASSERT_EQ(1, WinSys.active);
  WNDCLASSA flood = {};
  flood.lpfnWndProc = FloodWindowProc;
  flood.hInstance = GetModuleHandleA(nullptr);
  flood.lpszClassName = "RiDovFloodTest";
  ASSERT_NE(0, RegisterClassA(&flood));
  HWND helper = CreateWindowExA(0, "RiDovFloodTest", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(nullptr, helper);
  ASSERT_TRUE(PostMessageA(helper, WM_APP, 0, 0));

  EXPECT_EQ(0, PumpWindowMessages());
  EXPECT_EQ(ACTIVATION_RING_SIZE, RingCountInsideDispatch) << "512 queued";
  EXPECT_EQ(0, ActiveInsideDispatch) << "the 513th applied at once";
  EXPECT_EQ(0, WinSys.ringCount) << "the ring is replayed after the pass";
  EXPECT_EQ(1, WinSys.active) << "the replay applies the queued changes in order";

  DestroyWindow(helper);
  UnregisterClassA("RiDovFloodTest", GetModuleHandleA(nullptr));
}

// ---------------------------------------------------------------------------
// Fatal-error exit: the process ends with -1 on the main thread (after the
// full shut-down) and on any other thread (at once).

DWORD WINAPI FatalOnWorker(void*) {
  FatalErrorExit("fatal error on a worker");
  return 0;
}

using WindowDeathTest = WindowTest;

TEST_F(WindowDeathTest, FatalErrorOnTheMainThreadEndsWithMinusOne) {
  EXPECT_EXIT(
      {
        if (LibraryStartUp() != 0) exit(2);
        FatalErrorExit("fatal error on the main thread");
      },
      ::testing::ExitedWithCode(-1), "");
  const std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("fatal error on the main thread"));
  EXPECT_TRUE(EndsWithEmptyDump(log)) << "the main thread shuts the library down first";
}

TEST_F(WindowDeathTest, FatalErrorOnAWorkerEndsWithMinusOne) {
  EXPECT_EXIT(
      {
        if (LibraryStartUp() != 0) exit(2);
        HANDLE thread = CreateThread(nullptr, 0, FatalOnWorker, nullptr, 0, nullptr);
        // The main thread is busy elsewhere (here: waiting for the worker).
        WaitForSingleObject(thread, 20000);
        exit(3);
      },
      ::testing::ExitedWithCode(-1), "");
  EXPECT_NE(std::string::npos, LogText().find("fatal error on a worker"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], kSecondCopySwitch) == 0) return RunSecondCopy(argv[2]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
