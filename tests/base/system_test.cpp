// System libraries loaded by name, and COM.
#include <gtest/gtest.h>

#include <string.h>
#include <windows.h>
#include <objbase.h>

#include <string>

#include "LogCapture.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"

namespace {

bool TableIsEmpty() {
  SystemLibraryTable empty;
  memset(&empty, 0, sizeof(empty));
  return memcmp(&empty, &SystemLibs, sizeof(empty)) == 0;
}

TEST(SystemLibraryTest, LoadFillsEveryLibraryAndItsEntries) {
  ASSERT_EQ(0, LoadSystemLibraries());
  EXPECT_NE(nullptr, SystemLibs.ws2_32);
  EXPECT_NE(nullptr, SystemLibs.imm32);
  EXPECT_NE(nullptr, SystemLibs.winmm);
  EXPECT_NE(nullptr, SystemLibs.ole32);
  EXPECT_NE(nullptr, SystemLibs.comctl32);
  EXPECT_NE(nullptr, SystemLibs.user32);
  EXPECT_NE(nullptr, SystemLibs.WSAStartupFunc);
  EXPECT_NE(nullptr, SystemLibs.getaddrinfoFunc);
  EXPECT_NE(nullptr, SystemLibs.recvFunc);
  EXPECT_NE(nullptr, SystemLibs.ImmGetContextFunc);
  EXPECT_NE(nullptr, SystemLibs.ImmSetCompositionStringAFunc);
  EXPECT_NE(nullptr, SystemLibs.timeGetTimeFunc);
  EXPECT_NE(nullptr, SystemLibs.mciSendCommandAFunc);
  EXPECT_NE(nullptr, SystemLibs.CoCreateInstanceFunc);
  EXPECT_NE(nullptr, SystemLibs.CoUninitializeFunc);
  EXPECT_NE(nullptr, SystemLibs.InitCommonControlsFunc);
  EXPECT_NE(nullptr, SystemLibs.WINNLSEnableIMEFunc);
  // The entries are the libraries' own exports.
  EXPECT_EQ(reinterpret_cast<void*>(SystemLibs.timeGetTimeFunc),
            reinterpret_cast<void*>(GetProcAddress(SystemLibs.winmm, "timeGetTime")));
  EXPECT_EQ(reinterpret_cast<void*>(SystemLibs.htonsFunc),
            reinterpret_cast<void*>(GetProcAddress(SystemLibs.ws2_32, "htons")));
  EXPECT_EQ(0x3412, SystemLibs.htonsFunc(0x1234));
  if (SystemLibs.dwmapi != nullptr) {
    EXPECT_NE(nullptr, SystemLibs.DwmEnableCompositionFunc);
  } else {
    EXPECT_EQ(nullptr, SystemLibs.DwmEnableCompositionFunc);
  }
}

TEST(SystemLibraryTest, SecondLoadKeepsTheLoadedLibraries) {
  ASSERT_EQ(0, LoadSystemLibraries());
  const SystemLibraryTable before = SystemLibs;
  ASSERT_EQ(0, LoadSystemLibraries());
  EXPECT_EQ(0, memcmp(&before, &SystemLibs, sizeof(before)));
}

TEST(SystemLibraryTest, FreeClearsEverythingAndLoadComesBack) {
  ASSERT_EQ(0, LoadSystemLibraries());
  ASSERT_EQ(0, FreeSystemLibraries());
  EXPECT_TRUE(TableIsEmpty());
  EXPECT_EQ(-1, GetMillisecondCount());
  EXPECT_EQ(0, FreeSystemLibraries());  // nothing loaded: nothing to do
  ASSERT_EQ(0, LoadSystemLibraries());
  EXPECT_NE(nullptr, SystemLibs.winmm);
  EXPECT_NE(nullptr, SystemLibs.timeGetTimeFunc);
  EXPECT_GE(GetMillisecondCount(), 0);
}

TEST(SystemLibraryTest, MissingLibraryLeavesItsEntriesEmpty) {
  HMODULE module = nullptr;
  void* first = &first;  // anything but null
  void* second = &second;
  const SystemEntryPoint entries[] = {{"First", &first}, {"Second", &second}};
  EXPECT_EQ(-1, LoadSystemLibrary("ridov_no_such_library.dll", &module, entries, 2));
  EXPECT_EQ(nullptr, module);
  EXPECT_EQ(nullptr, first);
  EXPECT_EQ(nullptr, second);
}

TEST(SystemLibraryTest, MissingEntryIsLeftEmptyAndTheOthersLoad) {
  HMODULE module = nullptr;
  DWORD(WINAPI * tickCount)(void) = nullptr;
  void* missing = &missing;
  const SystemEntryPoint entries[] = {{"RidovNoSuchEntry", &missing}, {"GetTickCount", &tickCount}};
  ASSERT_EQ(0, LoadSystemLibrary("kernel32.dll", &module, entries, 2));
  EXPECT_NE(nullptr, module);
  EXPECT_EQ(nullptr, missing);
  ASSERT_NE(nullptr, tickCount);
  EXPECT_GT(tickCount(), 0u);
  EXPECT_EQ(0, FreeSystemLibrary(&module, entries, 2));
  EXPECT_EQ(nullptr, module);
  EXPECT_EQ(nullptr, tickCount);
}

// ---------------------------------------------------------------------------
// COM

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, LoadSystemLibraries());
    ASSERT_EQ(0, log_.StartResult());
  }
  void TearDown() override {
    if (IsComInitialized()) TerminateCom();
  }
  std::string LogText() const { return log_.Text(); }

  test_support::LogCapture log_{"com"};
};

TEST_F(ComTest, StartTwiceAndEndTwice) {
  ASSERT_EQ(0, InitializeCom());
  EXPECT_EQ(1, IsComInitialized());
  EXPECT_EQ("ＣＯＭの初期化... 成功しました\r\n", LogText());
  EXPECT_EQ(-1, InitializeCom());  // no log line the second time
  EXPECT_EQ("ＣＯＭの初期化... 成功しました\r\n", LogText());

  StartLog();
  EXPECT_EQ(0, TerminateCom());
  EXPECT_EQ(0, IsComInitialized());
  EXPECT_EQ("ＣＯＭを終了... 完了\r\n", LogText());
  EXPECT_EQ(-1, TerminateCom());
  EXPECT_EQ("ＣＯＭを終了... 完了\r\n", LogText());
}

TEST_F(ComTest, StartFailsWithoutTheLibrary) {
  auto saved = SystemLibs.CoInitializeExFunc;
  SystemLibs.CoInitializeExFunc = nullptr;
  EXPECT_EQ(-1, InitializeCom());
  SystemLibs.CoInitializeExFunc = saved;
  EXPECT_EQ(0, IsComInitialized());
  EXPECT_EQ("ＣＯＭの初期化... ＣＯＭの初期化に失敗しました\r\n", LogText());
}

TEST_F(ComTest, CreateInstanceDirectAndForTheMainThread) {
  ASSERT_EQ(0, InitializeCom());
  for (int onMainThread = 0; onMainThread < 2; onMainThread++) {
    SCOPED_TRACE(onMainThread);
    IUnknown* object = nullptr;
    EXPECT_EQ(S_OK, CreateComInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                      reinterpret_cast<void**>(&object), onMainThread));
    ASSERT_NE(nullptr, object);
    object->Release();
  }
}

TEST_F(ComTest, CreateInstanceOfAnUnknownClassFails) {
  ASSERT_EQ(0, InitializeCom());
  const CLSID unknown = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  IUnknown* object = reinterpret_cast<IUnknown*>(&object);
  EXPECT_TRUE(FAILED(
      CreateComInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object), 0)));
  EXPECT_EQ(nullptr, object);
}

TEST_F(ComTest, CreateInstanceWithoutTheLibraryFails) {
  auto saved = SystemLibs.CoCreateInstanceFunc;
  SystemLibs.CoCreateInstanceFunc = nullptr;
  IUnknown* object = reinterpret_cast<IUnknown*>(&object);
  EXPECT_TRUE(FAILED(CreateComInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                       reinterpret_cast<void**>(&object), 1)));
  SystemLibs.CoCreateInstanceFunc = saved;
  EXPECT_EQ(nullptr, object);
}

}  // namespace
