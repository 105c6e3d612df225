// Log file, log front end, clocks and character-set conversion.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "TestFiles.h"
#include "ZiDezaru.h"

namespace {

using test_support::NewTempFolder;
using test_support::ReadFileText;
using test_support::RemoveTree;

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Injected millisecond clock for the line stamps.
int FakeNow = 0;
int FakeClock(int) { return FakeNow; }

// A started log in a temporary folder, stamped by the fake clock.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadSystemLibraries();
    savedState_ = LogState;
    savedSource_ = LogTimeSource;
    folder_ = NewTempFolder("log");
    ASSERT_EQ(0, SetLogFolder(folder_.c_str()));
    ASSERT_EQ(0, SetLogFileEnabled(1));
    LogState.dateName = 0;
    LogState.stampsOff = 0;
    LogTimeSource = FakeClock;
    FakeNow = 1000;
    ASSERT_EQ(0, StartLog());
  }
  void TearDown() override {
    LogState = savedState_;
    LogTimeSource = savedSource_;
    RemoveTree(folder_);
  }
  std::string LogPath() const { return folder_ + "\\Log.txt"; }
  std::string LogText() const { return ReadFileText(LogPath()); }

  LogFileState savedState_;
  int (*savedSource_)(int);
  std::string folder_;
};

TEST_F(LogTest, StartCreatesAnEmptyFile) {
  ASSERT_TRUE(FileExists(LogPath()));
  EXPECT_EQ("", LogText());
}

TEST_F(LogTest, StartReplacesAnOldFile) {
  LogWriteText("old\n");
  ASSERT_EQ(0, StartLog());
  EXPECT_EQ("", LogText());
}

TEST_F(LogTest, StampedIndentedLine) {
  LogIndentIn();
  LogIndentIn();
  FakeNow = 2500;
  EXPECT_EQ(-1, LogWriteText("abc\n"));
  EXPECT_EQ(std::string("1500:\t\tabc\r\n"), LogText());
}

TEST_F(LogTest, StampIsTakenInThirtyOneBits) {
  FakeNow = 0x7ffffff0;
  ASSERT_EQ(0, StartLog());
  FakeNow = 0x10;  // the clock wrapped
  LogWriteText("w\n");
  EXPECT_EQ("32:w\r\n", LogText());
}

TEST_F(LogTest, ContinuedLineGetsNoSecondStamp) {
  LogIndentIn();
  FakeNow = 1200;
  LogWriteText("ab");
  FakeNow = 1300;
  LogWriteText("c\n");
  LogWriteText("d\n");
  EXPECT_EQ(
      "200:\tab"
      "c\r\n"
      "300:\td\r\n",
      LogText());
}

TEST_F(LogTest, StampsOffWritesOnlyTabsAndText) {
  LogState.stampsOff = 1;
  LogIndentIn();
  LogWriteText("x\n");
  EXPECT_EQ("\tx\r\n", LogText());
}

TEST_F(LogTest, IndentOutStopsAtZero) {
  LogIndentOut();
  EXPECT_EQ(0, LogState.indentLevel);
  LogIndentIn();
  LogIndentOut();
  LogIndentOut();
  EXPECT_EQ(0, LogState.indentLevel);
  StartLog();
  EXPECT_EQ(0, LogState.indentLevel);
}

struct LineEndCase {
  const char* text;
  const char* expected;
};

TEST_F(LogTest, LineEndConversionTable) {
  const LineEndCase cases[] = {
      {"abc", "abc"},
      {"abc\n", "abc\r\n"},
      {"abc\r\n", "abc\r\n"},            // already converted: unchanged
      {"a\nb\r\nc\n", "a\r\nb\r\nc\n"},  // stops at the first CR LF
      {"\n", "\r\n"},                    // a first-byte LF has no CR before it
      {"\n\n", "\r\n\r\n"},
      {"\r\n\n", "\r\n\n"},
      {"a\rb\n", "a\rb\r\n"},  // a lone CR stays
      {"", ""},
  };
  LogState.stampsOff = 1;
  for (const LineEndCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.text)));
    char out[64];
    EXPECT_EQ(static_cast<int>(strlen(c.expected)), ConvertLineEnds(c.text, out));
    EXPECT_EQ(std::string(c.expected), out);
    EXPECT_LE(static_cast<int>(strlen(c.expected)) + 1, GetLineEndConvertedSize(c.text));

    ASSERT_EQ(0, StartLog());
    LogWriteText(c.text);
    EXPECT_EQ(std::string(c.expected), LogText());
  }
}

TEST_F(LogTest, ThreeHundredLineFeedsAreWrittenWhole) {
  const std::string text(300, '\n');
  EXPECT_EQ(601, GetLineEndConvertedSize(text.c_str()));
  const int countBefore = GetAllocCount();
  FakeNow = 1007;
  LogWriteText(text.c_str());
  std::string expected = "7:";
  for (int i = 0; i < 300; i++) expected += "\r\n";
  EXPECT_EQ(expected, LogText());
  EXPECT_EQ(countBefore, GetAllocCount());  // the conversion block was given back
}

TEST_F(LogTest, LongMixedTextIsWrittenWhole) {
  std::string text;
  std::string expected = "0:";
  for (int i = 0; i < 200; i++) {
    text += "line\n";
    expected += "line\r\n";
  }
  LogWriteText(text.c_str());
  EXPECT_EQ(expected, LogText());
}

TEST_F(LogTest, LogOffCreatesNoFile) {
  RemoveTree(folder_);
  folder_ = NewTempFolder("logoff");
  SetLogFolder(folder_.c_str());
  ASSERT_EQ(0, SetLogFileEnabled(0));
  EXPECT_EQ(0, StartLog());
  EXPECT_EQ(-1, LogWriteText("abc\n"));
  EXPECT_EQ(-1, LogPrintf("%d", 5));
  EXPECT_EQ(-1, LogPrintfWide(L"%d", 5));
  EXPECT_FALSE(FileExists(LogPath()));
  EXPECT_EQ(0, LogState.midLine);
}

TEST_F(LogTest, EmptyFolderWritesNothing) {
  char current[MAX_PATH];
  GetCurrentDirectoryA(sizeof(current), current);
  SetCurrentDirectoryA(folder_.c_str());
  DeleteFileA(LogPath().c_str());
  SetLogFolder("");
  EXPECT_EQ(0, StartLog());
  LogWriteText("abc\n");
  SetCurrentDirectoryA(current);
  EXPECT_FALSE(FileExists(LogPath()));
  EXPECT_EQ(0, LogState.midLine);
}

TEST_F(LogTest, MissingFolderLosesTheTextQuietly) {
  SetLogFolder((folder_ + "\\missing").c_str());
  EXPECT_EQ(0, StartLog());
  EXPECT_EQ(-1, LogWriteText("abc\n"));
  EXPECT_FALSE(FileExists(folder_ + "\\missing\\Log.txt"));
}

TEST_F(LogTest, FolderEndingInSeparatorGetsNoSecond) {
  SetLogFolder((folder_ + "\\").c_str());
  ASSERT_EQ(0, StartLog());
  LogWriteText("s\n");
  EXPECT_EQ("0:s\r\n", LogText());
}

TEST_F(LogTest, NoClockLibraryWritesNothing) {
  auto saved = SystemLibs.timeGetTimeFunc;
  SystemLibs.timeGetTimeFunc = nullptr;
  EXPECT_EQ(-1, LogWriteText("abc\n"));
  SystemLibs.timeGetTimeFunc = saved;
  EXPECT_EQ("", LogText());
}

TEST(LogFileNameTest, DateName) {
  const int fields[6] = {2009, 3, 4, 5, 6, 7};
  char name[64];
  ASSERT_EQ(0, MakeLogFileName(name, sizeof(name), 1, fields));
  EXPECT_STREQ("Log2009_3_4_5_6_7.txt", name);
  ASSERT_EQ(0, MakeLogFileName(name, sizeof(name), 0, fields));
  EXPECT_STREQ("Log.txt", name);
  EXPECT_EQ(-1, MakeLogFileName(name, 10, 1, fields));
}

TEST_F(LogTest, DateNamedFileIsWrittenTo) {
  LogState.dateName = 1;
  ASSERT_EQ(0, StartLog());
  ASSERT_EQ(0, strncmp(LogState.fileName, "Log2", 4));
  LogWriteText("d\n");
  EXPECT_EQ("0:d\r\n", ReadFileText(folder_ + "\\" + LogState.fileName));
}

TEST_F(LogTest, PrintfAddsTheLineFeed) {
  FakeNow = 1042;
  EXPECT_EQ(-1, LogPrintf("%s=%d", "value", 12));
  EXPECT_EQ("42:value=12\r\n", LogText());
}

TEST_F(LogTest, PrintfCutsAnOverlongLine) {
  const std::string longText(5000, 'x');
  LogState.stampsOff = 1;
  LogPrintf("%s", longText.c_str());
  EXPECT_EQ(std::string(1022, 'x') + "\r\n", LogText());
}

TEST_F(LogTest, PrintfCutDropsAHalfCharacter) {
  // 1021 single bytes, then two-byte characters: the cut at 1022 bytes
  // would leave a lead byte alone.
  std::string text(1021, 'a');
  for (int i = 0; i < 10; i++) text += "\x82\xa0";
  LogState.stampsOff = 1;
  LogPrintf("%s", text.c_str());
  EXPECT_EQ(std::string(1021, 'a') + "\r\n", LogText());
}

TEST_F(LogTest, PrintfWideConvertsToShiftJis) {
  LogState.stampsOff = 1;
  LogPrintfWide(L"%ls%d", L"\x5024", 7);  // U+5024 is 0x926C in code page 932
  EXPECT_EQ(
      "\x92\x6c"
      "7\r\n",
      LogText());
}

TEST_F(LogTest, PrintfWideCutsAnOverlongLine) {
  std::wstring longText(3000, L'\x3042');  // two bytes each in code page 932
  LogState.stampsOff = 1;
  LogPrintfWide(L"%ls", longText.c_str());
  std::string expected;
  for (int i = 0; i < 511; i++) expected += "\x82\xa0";
  EXPECT_EQ(expected + "\r\n", LogText());
}

TEST_F(LogTest, WorkerThreadWritesAreSerialised) {
  const int threads = 8;
  const int lines = 100;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; t++) {
    workers.emplace_back([t] {
      for (int i = 0; i < lines; i++) LogPrintf("thread %d line %d", t, i);
    });
  }
  for (std::thread& worker : workers) worker.join();

  std::istringstream in(LogText());
  std::string line;
  std::vector<int> seen(threads, 0);
  const std::regex pattern("\\d+:thread (\\d+) line (\\d+)\r");
  int count = 0;
  while (std::getline(in, line)) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, pattern)) << line;
    const int t = std::stoi(match[1]);
    EXPECT_EQ(seen[t], std::stoi(match[2]));  // each thread's lines in order
    seen[t]++;
    count++;
  }
  EXPECT_EQ(threads * lines, count);
}

// ---------------------------------------------------------------------------
// Clocks

struct MicrosecondCase {
  uint64_t counter;
  uint64_t frequency;
  int64_t expected;
};

TEST(ClockTest, CounterToMicrosecondsTable) {
  const MicrosecondCase cases[] = {
      {0, 3579545, 0},
      {3579545, 3579545, 1000000},
      {10, 1000000, 10},
      {1, 3, 333333},                                           // truncated
      {0x7FFFFFFFFFFFFFFFull, 10000000, 922337203685477580ll},  // product needs 128 bits
      {0xFFFFFFFFFFFFull, 0xFFFFFFFFFFFFull, 1000000},
  };
  for (const MicrosecondCase& c : cases) {
    SCOPED_TRACE(c.counter);
    EXPECT_EQ(c.expected, CounterToMicroseconds(c.counter, c.frequency));
  }
  EXPECT_EQ(-1, CounterToMicroseconds(100, 0));
}

TEST(ClockTest, MillisecondsKeepThirtyOneBits) {
  EXPECT_EQ(0x7fffffff, MaskMillisecondTime(0x7fffffff));
  EXPECT_EQ(0, MaskMillisecondTime(0x80000000u));  // wraps to 0, never negative
  EXPECT_EQ(0x7fffffff, MaskMillisecondTime(0xffffffffu));
  EXPECT_EQ(5, MaskMillisecondTime(0x80000005u));
}

TEST(ClockTest, MillisecondsToMicroseconds) {
  EXPECT_EQ(0, MillisecondsToMicroseconds(0));
  EXPECT_EQ(4294967295000ll, MillisecondsToMicroseconds(0xffffffffu));  // unsigned, no overflow
}

class ClockStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadSystemLibraries();
    savedAvailable_ = PerformanceCounterAvailable;
    savedFrequency_ = PerformanceCounterFrequency;
    savedTime_ = SystemLibs.timeGetTimeFunc;
  }
  void TearDown() override {
    PerformanceCounterAvailable = savedAvailable_;
    PerformanceCounterFrequency = savedFrequency_;
    SystemLibs.timeGetTimeFunc = savedTime_;
  }
  int savedAvailable_;
  int64_t savedFrequency_;
  DWORD(WINAPI* savedTime_)(void);
};

TEST_F(ClockStateTest, MicrosecondsWithoutPerformanceCounterAreWholeMilliseconds) {
  PerformanceCounterAvailable = 0;
  for (int i = 0; i < 5; i++) {
    const int64_t now = GetMicrosecondCount();
    ASSERT_GT(now, 0);
    EXPECT_EQ(0, now % 1000);
    Sleep(1);
  }
}

TEST_F(ClockStateTest, NoMultimediaLibraryGivesMinusOne) {
  PerformanceCounterAvailable = 0;
  SystemLibs.timeGetTimeFunc = nullptr;
  EXPECT_EQ(-1, GetMillisecondCount());
  EXPECT_EQ(-1, GetMicrosecondCount());
}

TEST_F(ClockStateTest, PerformanceCounterFollowsTheMillisecondClock) {
  ASSERT_EQ(0, SetupPerformanceCounter());
  ASSERT_EQ(1, PerformanceCounterAvailable);
  ASSERT_GT(PerformanceCounterFrequency, 0);
  const int64_t microStart = GetMicrosecondCount();
  const int milliStart = GetMillisecondCount();
  ASSERT_GE(milliStart, 0);
  Sleep(100);
  const int64_t microElapsed = GetMicrosecondCount() - microStart;
  const int milliElapsed = (GetMillisecondCount() - milliStart) & 0x7fffffff;
  EXPECT_GE(milliElapsed, 90);
  EXPECT_NEAR(milliElapsed * 1000.0, static_cast<double>(microElapsed), 20000.0);
}

TEST(LocalTimeTest, FileTimeToLocalFields) {
  SYSTEMTIME localTime = {};
  localTime.wYear = 2009;
  localTime.wMonth = 3;
  localTime.wDay = 4;
  localTime.wHour = 5;
  localTime.wMinute = 6;
  localTime.wSecond = 7;
  localTime.wMilliseconds = 890;
  FILETIME local, utc;
  ASSERT_TRUE(SystemTimeToFileTime(&localTime, &local));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
  int f[6] = {};
  ASSERT_EQ(0, FileTimeToLocalFields(&utc, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]));
  const int expected[6] = {2009, 3, 4, 5, 6, 7};
  for (int i = 0; i < 6; i++) EXPECT_EQ(expected[i], f[i]) << i;
  EXPECT_EQ(-1, FileTimeToLocalFields(nullptr, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]));
}

TEST(LocalTimeTest, LocalTimeFieldsMatchTheSystem) {
  int f[6] = {};
  SYSTEMTIME before, after;
  GetLocalTime(&before);
  ASSERT_EQ(0, GetLocalTimeFields(&f[0], &f[1], &f[2], &f[3], &f[4], &f[5]));
  GetLocalTime(&after);
  EXPECT_TRUE(f[0] == before.wYear || f[0] == after.wYear);
  EXPECT_TRUE(f[1] == before.wMonth || f[1] == after.wMonth);
  EXPECT_TRUE(f[2] == before.wDay || f[2] == after.wDay);
  EXPECT_TRUE(f[3] == before.wHour || f[3] == after.wHour);
  EXPECT_GE(f[4], 0);
  EXPECT_LT(f[5], 60);
}

// ---------------------------------------------------------------------------
// Character-set conversion

TEST(CodePageTest, RoundTripThroughShiftJis) {
  const wchar_t wide[] =
      L"\x65e5\x672c\x8a9e"
      L"abc";  // three kanji and abc
  char narrow[32];
  EXPECT_EQ(10, WideToMultiByte(932, wide, narrow, sizeof(narrow)));  // bytes with the NUL
  EXPECT_STREQ(
      "\x93\xfa\x96\x7b\x8c\xea"
      "abc",
      narrow);
  wchar_t back[32];
  EXPECT_EQ(7, MultiByteToWide(932, narrow, back, 32));  // characters with the NUL
  EXPECT_EQ(std::wstring(wide), back);
}

TEST(CodePageTest, TooSmallBufferGivesZero) {
  char narrow[4];
  EXPECT_EQ(0, WideToMultiByte(932, L"abcdef", narrow, sizeof(narrow)));
  wchar_t wide[2];
  EXPECT_EQ(0, MultiByteToWide(932, "abcdef", wide, 2));
}

// ---------------------------------------------------------------------------
// Lines that fit are written as formatted

TEST_F(LogTest, PrintfKeepsATrailingLeadByteWhenNothingIsCut) {
  LogState.stampsOff = 1;
  LogPrintf("%s", "ab\x82");
  std::string fits(1021, 'a');
  fits += "\x82";  // exactly 1022 bytes: no cut
  LogPrintf("%s", fits.c_str());
  EXPECT_EQ("ab\x82\r\n" + fits + "\r\n", LogText());
}

}  // namespace
