// System information: OS table, CPUID evaluation, speed measurement and the
// logged block.
#include <gtest/gtest.h>

#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "LogCapture.h"
#include "RaRadaraLog.h"
#include "RaRadaraSysInfo.h"
#include "RaRadaraSystem.h"

namespace {

using test_support::LogCapture;

// ---------------------------------------------------------------------------
// Operating system

OsVersionFields Version(unsigned int platform, unsigned int major, unsigned int minor, const char* sp) {
  OsVersionFields version = {};
  version.platformId = platform;
  version.major = major;
  version.minor = minor;
  version.build = 1234;
  strcpy(version.servicePack, sp);
  return version;
}

struct OsCase {
  unsigned int platform, major, minor;
  const char* servicePack;
  const char* name;
  int code;
};

TEST(SystemInfoOs, VersionTable) {
  const OsCase cases[] = {
      {VER_PLATFORM_WIN32s, 3, 10, "", "Windows3.1", 0},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 0, "", "Windows95", 1},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 0, "C", "Windows95OSR2", 1},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 0, "B", "Windows95", 1},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 10, "", "Windows98", 2},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 10, "A", "Windows98SE", 2},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 90, "", "WindowsMe", 3},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 50, "", "Windows", -1},
      {VER_PLATFORM_WIN32_NT, 3, 51, "", "WindowsNT 3.51", 260},
      {VER_PLATFORM_WIN32_NT, 4, 0, "Service Pack 6", "Windows4.0", 261},
      {VER_PLATFORM_WIN32_NT, 5, 0, "", "Windows2000", 262},
      {VER_PLATFORM_WIN32_NT, 5, 1, "Service Pack 3", "WindowsXP", 263},
      {VER_PLATFORM_WIN32_NT, 5, 2, "", "Windows", -1},
      {VER_PLATFORM_WIN32_NT, 6, 0, "", "WindowsVista", 264},
      {VER_PLATFORM_WIN32_NT, 6, 1, "Service Pack 1", "Windows7", 265},
      {VER_PLATFORM_WIN32_NT, 6, 2, "", "Windows8", 266},
      {VER_PLATFORM_WIN32_NT, 6, 3, "", "Windows", -1},
      {VER_PLATFORM_WIN32_NT, 10, 0, "", "Windows", -1},
  };
  for (const OsCase& c : cases) {
    SCOPED_TRACE(c.name);
    const OsVersionFields version = Version(c.platform, c.major, c.minor, c.servicePack);
    char name[64];
    EXPECT_EQ(c.code, DescribeWindowsVersion(&version, name, sizeof(name)));
    EXPECT_STREQ(c.name, name);
  }
}

// ---------------------------------------------------------------------------
// Processor

constexpr uint32_t kTsc = 1u << 4, kMmx = 1u << 23, kSse = 1u << 25, kSse2 = 1u << 26;

CpuidResults Cpuid(uint32_t features, uint32_t maxExtended = 0x80000008u, const char* brand = "Test CPU") {
  CpuidResults r = {};
  r.available = 1;
  r.maxFunction = 0xD;
  memcpy(&r.vendor[0], "Genu", 4);
  memcpy(&r.vendor[1], "ineI", 4);
  memcpy(&r.vendor[2], "ntel", 4);
  r.features = features;
  r.maxExtended = maxExtended;
  strncpy(reinterpret_cast<char*>(r.brand), brand, 48);
  return r;
}

struct LevelCase {
  uint32_t features;
  int level, mmx, sse, sse2;
  const char* lines;
};

TEST(SystemInfoCpu, LevelsNeedEveryStepBefore) {
  const LevelCase cases[] = {
      {0, 1, 0, 0, 0, "ＭＭＸは使えません\r\n"},
      {kSse | kSse2, 1, 0, 0, 0, "ＭＭＸは使えません\r\n"},
      {kMmx, 3, 1, 0, 0, "ＭＭＸ命令を使用します\r\n"},
      {kMmx | kSse2, 3, 1, 0, 0, "ＭＭＸ命令を使用します\r\n"},
      {kMmx | kSse, 4, 1, 1, 0, "ＭＭＸ命令を使用します\r\nＳＳＥ命令が使用可能です\r\n"},
      {kMmx | kSse | kSse2, 5, 1, 1, 1,
       "ＭＭＸ命令を使用します\r\nＳＳＥ命令が使用可能です\r\nＳＳＥ２命令が使用可能です\r\n"},
  };
  for (const LevelCase& c : cases) {
    SCOPED_TRACE(c.features);
    const CpuidResults results = Cpuid(c.features);
    CpuFeatures features;
    EXPECT_EQ(c.level, EvaluateCpuid(&results, &features));
    EXPECT_EQ(c.level, features.level);
    EXPECT_EQ(c.mmx, features.mmx);
    EXPECT_EQ(c.sse, features.sse);
    EXPECT_EQ(c.sse2, features.sse2);
    LogCapture log("sysinfo");
    LogCpuLevel(&features);
    EXPECT_EQ(c.lines, log.Text());
  }
}

TEST(SystemInfoCpu, NoCpuid) {
  CpuidResults results = Cpuid(kMmx | kTsc);
  results.available = 0;
  CpuFeatures features;
  EXPECT_EQ(0, EvaluateCpuid(&results, &features));
  EXPECT_EQ(0, features.mmx);
  EXPECT_EQ(0, features.hasTimeStampCounter);
  EXPECT_EQ(0, features.hasBrand);
  LogCapture log("sysinfo");
  LogCpuLevel(&features);
  LogCpuIdentity(&features);
  EXPECT_EQ("ＣＰＵＩＤ命令は使えません\r\n", log.Text());
}

TEST(SystemInfoCpu, TimeStampCounterVendorAndBrand) {
  CpuidResults results = Cpuid(kTsc, 0x80000004u, "  Some Processor @ 2.40GHz");
  CpuFeatures features;
  EvaluateCpuid(&results, &features);
  EXPECT_EQ(1, features.hasTimeStampCounter);
  EXPECT_STREQ("GenuineIntel", features.vendor);
  EXPECT_EQ(1, features.hasBrand);
  EXPECT_STREQ("  Some Processor @ 2.40GHz", features.name);
  {
    LogCapture log("sysinfo");
    LogCpuIdentity(&features);
    EXPECT_EQ("ＣＰＵベンダ：GenuineIntel\r\nＣＰＵ名：  Some Processor @ 2.40GHz\r\n", log.Text());
  }

  // No brand string below extended function 0x80000004; a full 48 bytes
  // stays terminated.
  results = Cpuid(0, 0x80000003u);
  EvaluateCpuid(&results, &features);
  EXPECT_EQ(0, features.hasBrand);
  EXPECT_EQ(0, features.hasTimeStampCounter);
  EXPECT_STREQ("", features.name);
  results = Cpuid(0);
  memset(results.brand, 'x', sizeof(results.brand));
  EvaluateCpuid(&results, &features);
  EXPECT_EQ(std::string(48, 'x'), features.name);
  LogCapture log("sysinfo");
  LogCpuIdentity(&features);
  EXPECT_EQ("ＣＰＵベンダ：GenuineIntel\r\nＣＰＵ名：" + std::string(48, 'x') + "\r\n", log.Text());
}

TEST(SystemInfoCpu, ReadsThisProcessor) {
  CpuidResults results;
  ASSERT_EQ(0, ReadCpuid(&results));
  ASSERT_EQ(1, results.available);
  CpuFeatures features;
  // The library is built for SSE2.
  EXPECT_EQ(5, EvaluateCpuid(&results, &features));
  EXPECT_EQ(12u, strlen(features.vendor));
}

// ---------------------------------------------------------------------------
// Speed

struct FakeClock {
  std::vector<int> readings;  // the last one repeats
  size_t next = 0;
  int calls = 0;
};
FakeClock Clock;
uint64_t TimeStampNow = 0;
uint64_t TimeStampStep = 0;

int ReadFakeClock(int) {
  ++Clock.calls;
  const int value = Clock.readings[Clock.next];
  if (Clock.next + 1 < Clock.readings.size()) ++Clock.next;
  TimeStampNow += TimeStampStep;
  return value;
}

uint64_t ReadFakeTimeStamp() { return TimeStampNow; }

void SetClock(std::vector<int> readings, uint64_t ticksPerRead) {
  Clock = FakeClock();
  Clock.readings = std::move(readings);
  TimeStampNow = 5000;
  TimeStampStep = ticksPerRead;
}

TEST(SystemInfoSpeed, WaitsFor100Milliseconds) {
  SetClock({1000, 1030, 1099, 1100, 1200}, 100000000);
  uint64_t ticks = 0;
  ASSERT_EQ(0, MeasureProcessorSpeed(ReadFakeTimeStamp, ReadFakeClock, &ticks));
  EXPECT_EQ(4, Clock.calls);
  EXPECT_EQ(300000000u, ticks);
}

TEST(SystemInfoSpeed, ClockWrapsAt31Bits) {
  SetClock({0x7FFFFFF0, 0x7FFFFFFF, 0, 83, 84}, 1000);
  uint64_t ticks = 0;
  ASSERT_EQ(0, MeasureProcessorSpeed(ReadFakeTimeStamp, ReadFakeClock, &ticks));
  EXPECT_EQ(5, Clock.calls);
  EXPECT_EQ(4000u, ticks);
}

TEST(SystemInfoSpeed, UnavailableClockEndsTheWait) {
  uint64_t ticks = 77;
  SetClock({-1}, 1);
  EXPECT_EQ(-1, MeasureProcessorSpeed(ReadFakeTimeStamp, ReadFakeClock, &ticks));
  EXPECT_EQ(1, Clock.calls);
  SetClock({10, 20, -1}, 1);
  EXPECT_EQ(-1, MeasureProcessorSpeed(ReadFakeTimeStamp, ReadFakeClock, &ticks));
  EXPECT_EQ(3, Clock.calls);
  EXPECT_EQ(77u, ticks);
}

TEST(SystemInfoSpeed, StoppedClockEndsTheWait) {
  SetClock({500}, 1);
  uint64_t ticks = 0;
  EXPECT_EQ(-1, MeasureProcessorSpeed(ReadFakeTimeStamp, ReadFakeClock, &ticks));
  EXPECT_EQ(SPEED_MEASURE_MAX_POLLS + 2, Clock.calls);
}

TEST(SystemInfoSpeed, MegahertzFromTicks) {
  const struct {
    uint64_t ticks;
    int mhz;
    int64_t div10;
  } cases[] = {
      {0, 0, 0},
      {99999, 0, 9999},
      {299999999, 2999, 29999999},
      {300000000, 3000, 30000000},
      {500000000000ull, 5000000, 50000000000ll},
  };
  for (const auto& c : cases) {
    int mhz = -1;
    int64_t div10 = -1;
    ASSERT_EQ(0, ProcessorSpeedFromTicks(c.ticks, &mhz, &div10));
    EXPECT_EQ(c.mhz, mhz) << c.ticks;
    EXPECT_EQ(c.div10, div10) << c.ticks;
  }
}

// ---------------------------------------------------------------------------
// The block

class SystemInfoBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = SystemInfo;
    memset(&SystemInfo, 0, sizeof(SystemInfo));
    probe_ = {};
    probe_.processorCount = 4;
    probe_.version = Version(VER_PLATFORM_WIN32_NT, 6, 2, "");
    probe_.version.build = 9200;
    probe_.cpuid = Cpuid(kTsc | kMmx | kSse | kSse2, 0x80000008u, "Test CPU @ 3.00GHz");
    probe_.readTimeStamp = ReadFakeTimeStamp;
    probe_.readMilliseconds = ReadFakeClock;
    SetClock({0, 50, 100}, 150000000);
  }
  void TearDown() override { SystemInfo = saved_; }
  SystemInfoValues saved_;
  SystemProbe probe_;
};

TEST_F(SystemInfoBlockTest, LoggedInOrder) {
  LogCapture log("sysinfo");
  ASSERT_EQ(0, LogSystemInfoFrom(&probe_));
  EXPECT_EQ(
      "システムの情報を出力します\r\n"
      "\tZEvudid Ver3.11d\r\n"
      "\t論理プロセッサの数 : 4\r\n"
      "\tＯＳ  Windows8 ( Build 9200  )\r\n"
      "\tＣＰＵ動作速度：大体3.00GHz\r\n"
      "\tＭＭＸ命令を使用します\r\n"
      "\tＳＳＥ命令が使用可能です\r\n"
      "\tＳＳＥ２命令が使用可能です\r\n"
      "\tＣＰＵベンダ：GenuineIntel\r\n"
      "\tＣＰＵ名：Test CPU @ 3.00GHz\r\n",
      log.Text());
  EXPECT_EQ(0, LogState.indentLevel);

  EXPECT_EQ(4, SystemInfo.processorCount);
  EXPECT_EQ(4, GetProcessorCount());
  EXPECT_EQ(266, SystemInfo.osCode);
  EXPECT_EQ(266, GetOsCode());
  EXPECT_EQ(0x70000, SystemInfo.directXVersion);
  EXPECT_EQ(5, SystemInfo.cpuLevel);
  EXPECT_EQ(1, SystemInfo.mmx);
  EXPECT_EQ(1, SystemInfo.sse);
  EXPECT_EQ(1, SystemInfo.sse2);
  EXPECT_EQ(1, SystemInfo.hasTimeStampCounter);
  EXPECT_EQ(3000, SystemInfo.cpuSpeedMHz);
  EXPECT_EQ(30000000, SystemInfo.speedTicksDiv10);
  EXPECT_STREQ("GenuineIntel", SystemInfo.vendor);
  EXPECT_STREQ("Test CPU @ 3.00GHz", SystemInfo.cpuName);
}

TEST_F(SystemInfoBlockTest, WithoutTimeStampCounterNoSpeedLine) {
  probe_.cpuid = Cpuid(kMmx, 0x80000000u);
  probe_.version = Version(VER_PLATFORM_WIN32_NT, 5, 1, "Service Pack 3");
  probe_.version.build = 2600;
  LogCapture log("sysinfo");
  ASSERT_EQ(0, LogSystemInfoFrom(&probe_));
  EXPECT_EQ(
      "システムの情報を出力します\r\n"
      "\tZEvudid Ver3.11d\r\n"
      "\t論理プロセッサの数 : 4\r\n"
      "\tＯＳ  WindowsXP ( Build 2600 Service Pack 3 )\r\n"
      "\tＭＭＸ命令を使用します\r\n"
      "\tＣＰＵベンダ：GenuineIntel\r\n",
      log.Text());
  EXPECT_EQ(0, Clock.calls);
  EXPECT_EQ(0, SystemInfo.cpuSpeedMHz);
  EXPECT_EQ(263, SystemInfo.osCode);
  EXPECT_STREQ("", SystemInfo.cpuName);
}

TEST_F(SystemInfoBlockTest, UnavailableClockSkipsTheSpeed) {
  SetClock({-1}, 1);
  LogCapture log("sysinfo");
  const DWORD start = GetTickCount();
  ASSERT_EQ(0, LogSystemInfoFrom(&probe_));
  EXPECT_LT(GetTickCount() - start, 2000u);
  EXPECT_EQ(std::string::npos, log.Text().find("ＣＰＵ動作速度"));
  EXPECT_EQ(0, SystemInfo.cpuSpeedMHz);
  EXPECT_EQ(1, SystemInfo.hasTimeStampCounter);
}

TEST_F(SystemInfoBlockTest, NewerSystemKeepsThePreviousCode) {
  probe_.version = Version(VER_PLATFORM_WIN32_NT, 10, 0, "");
  probe_.version.build = 19045;
  probe_.cpuid.available = 0;
  LogCapture log("sysinfo");
  ASSERT_EQ(0, LogSystemInfoFrom(&probe_));
  EXPECT_EQ(0, SystemInfo.osCode);
  EXPECT_EQ(
      "システムの情報を出力します\r\n"
      "\tZEvudid Ver3.11d\r\n"
      "\t論理プロセッサの数 : 4\r\n"
      "\tＯＳ  Windows ( Build 19045  )\r\n"
      "\tＣＰＵＩＤ命令は使えません\r\n",
      log.Text());

  SystemInfo.osCode = 265;
  ASSERT_EQ(0, LogSystemInfoFrom(&probe_));
  EXPECT_EQ(265, SystemInfo.osCode);
}

TEST_F(SystemInfoBlockTest, Windows9xBuildIsTheLowWord) {
  probe_.version = Version(VER_PLATFORM_WIN32_WINDOWS, 4, 10, "A");
  probe_.version.build = 0x040A08AE;
  LogCapture log("sysinfo");
  ASSERT_EQ(0, LogSystemInfoFrom(&probe_));
  EXPECT_NE(std::string::npos, log.Text().find("\tＯＳ  Windows98SE ( Build 2222 A )\r\n"));
  EXPECT_EQ(2, SystemInfo.osCode);
}

// This machine. The project's 32-bit Wine prefix reports Windows 7 (6.1);
// an unmanifested program on a newer setting sees 6.2.
TEST_F(SystemInfoBlockTest, ThisMachine) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  ASSERT_TRUE(GetVersionExA(&version));
  ASSERT_EQ(6u, version.dwMajorVersion);
  ASSERT_TRUE(version.dwMinorVersion == 1 || version.dwMinorVersion == 2) << version.dwMinorVersion;
  const int expectedCode = version.dwMinorVersion == 1 ? 265 : 266;
  const std::string osLine = std::string("\tＯＳ  ") + (expectedCode == 265 ? "Windows7" : "Windows8") + " ( Build " +
                             std::to_string(version.dwBuildNumber) + " " + version.szCSDVersion + " )\r\n";

  LogCapture log("sysinfo");
  ASSERT_EQ(0, LogSystemInfo());
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  EXPECT_EQ(static_cast<int>(system.dwNumberOfProcessors), GetProcessorCount());
  EXPECT_EQ(expectedCode, GetOsCode());
  EXPECT_EQ(5, SystemInfo.cpuLevel);
  EXPECT_GT(SystemInfo.cpuSpeedMHz, 0);

  const std::string text = log.Text();
  const char* inOrder[] = {
      "システムの情報を出力します\r\n",
      "\tZEvudid Ver3.11d\r\n",
      "\t論理プロセッサの数 : ",
      osLine.c_str(),
      "\tＣＰＵ動作速度：大体",
      "\tＭＭＸ命令を使用します\r\n\tＳＳＥ命令が使用可能です\r\n\tＳＳＥ２命令が使用可能です\r\n",
      "\tＣＰＵベンダ：",
  };
  size_t at = 0;
  for (const char* piece : inOrder) {
    const size_t found = text.find(piece, at);
    ASSERT_NE(std::string::npos, found) << piece << "\n" << text;
    at = found + strlen(piece);
  }
}

}  // namespace
