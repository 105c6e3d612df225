// System information: Windows version, CPUID features and level, processor
// speed from the time-stamp counter, and the block they make in the log.
#include "RaRadaraSysInfo.h"

#include <windows.h>
#include <cpuid.h>
#include <stdio.h>
#include <string.h>
#include <x86intrin.h>

#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "RiDov.h"

namespace {

// Log texts.
const char LOG_NO_CPUID[] = "ＣＰＵＩＤ命令は使えません";
const char LOG_NO_MMX[] = "ＭＭＸは使えません";
const char LOG_USING_MMX[] = "ＭＭＸ命令を使用します";
const char LOG_SSE_AVAILABLE[] = "ＳＳＥ命令が使用可能です";
const char LOG_SSE2_AVAILABLE[] = "ＳＳＥ２命令が使用可能です";
const char LOG_CPU_VENDOR[] = "ＣＰＵベンダ：%s%s%s";  // the vendor text in its three register pieces
const char LOG_CPU_NAME[] = "ＣＰＵ名：%s";
const char LOG_SYSTEM_INFO[] = "システムの情報を出力します";
const char LOG_LIBRARY_VERSION[] = "ZEvudid Ver%s";
const char LOG_PROCESSOR_COUNT[] = "論理プロセッサの数 : %d";
const char LOG_OS_VERSION[] = "ＯＳ  %s ( Build %d %s )";
const char LOG_CPU_SPEED[] = "ＣＰＵ動作速度：大体%.2fGHz";

}  // namespace

SystemInfoValues SystemInfo;

int GetProcessorCount() { return SystemInfo.processorCount; }
int GetOsCode() { return SystemInfo.osCode; }

// ---------------------------------------------------------------------------
// Operating system

int DescribeWindowsVersion(const OsVersionFields* version, char* name, int nameSize) {
  const char* text = "";
  const char* extra = "";
  int code = -1;
  const char spLead = version->servicePack[0];

  switch (version->platformId) {
    case VER_PLATFORM_WIN32s:
      text = "3.1";
      code = OS_WIN31;
      break;
    case VER_PLATFORM_WIN32_WINDOWS:
      if (version->minor == 0) {
        text = "95";
        if (spLead == 'C') extra = "OSR2";
        code = OS_WIN95;
      } else if (version->minor == 10) {
        text = "98";
        if (spLead == 'A') extra = "SE";
        code = OS_WIN98;
      } else if (version->minor == 90) {
        text = "Me";
        code = OS_WINME;
      }
      break;
    case VER_PLATFORM_WIN32_NT:
      if (version->major == 3) {
        text = "NT 3.51";
        code = OS_WINNT351;
      } else if (version->major == 4) {
        text = "4.0";
        code = OS_WINNT40;
      } else if (version->major == 5) {
        if (version->minor == 0) {
          text = "2000";
          code = OS_WIN2000;
        } else if (version->minor == 1) {
          text = "XP";
          code = OS_WINXP;
        }
      } else if (version->major == 6) {
        if (version->minor == 0) {
          text = "Vista";
          code = OS_WINVISTA;
        } else if (version->minor == 1) {
          text = "7";
          code = OS_WIN7;
        } else if (version->minor == 2) {
          text = "8";
          code = OS_WIN8;
        }
      }
      break;
    default: break;
  }
  snprintf(name, nameSize, "Windows%s%s", text, extra);
  return code;
}

// ---------------------------------------------------------------------------
// Processor

namespace {

// EFLAGS bit 21 can be toggled only where CPUID exists.
int CanToggleIdFlag() {
  uint32_t before, after;
  __asm__ volatile(
      "pushfl\n\t"
      "popl %0\n\t"
      "movl %0, %1\n\t"
      "xorl $0x200000, %1\n\t"
      "pushl %1\n\t"
      "popfl\n\t"
      "pushfl\n\t"
      "popl %1\n\t"
      "pushl %0\n\t"
      "popfl\n\t"
      : "=&r"(before), "=&r"(after)
      :
      : "cc");
  return ((before ^ after) & 0x200000u) != 0;
}

}  // namespace

int ReadCpuid(CpuidResults* results) {
  memset(results, 0, sizeof(*results));
  if (!CanToggleIdFlag()) return 0;
  results->available = 1;

  unsigned int eax, ebx, ecx, edx;
  __cpuid(0, eax, ebx, ecx, edx);
  results->maxFunction = eax;
  results->vendor[0] = ebx;
  results->vendor[1] = edx;
  results->vendor[2] = ecx;
  if (results->maxFunction >= 1) {
    __cpuid(1, eax, ebx, ecx, edx);
    results->features = edx;
  }
  __cpuid(0x80000000u, eax, ebx, ecx, edx);
  results->maxExtended = eax;
  if (results->maxExtended >= 0x80000004u) {
    for (unsigned int i = 0; i < 3; ++i) {
      __cpuid(0x80000002u + i, eax, ebx, ecx, edx);
      results->brand[i * 4 + 0] = eax;
      results->brand[i * 4 + 1] = ebx;
      results->brand[i * 4 + 2] = ecx;
      results->brand[i * 4 + 3] = edx;
    }
  }
  return 0;
}

int EvaluateCpuid(const CpuidResults* results, CpuFeatures* features) {
  memset(features, 0, sizeof(*features));
  if (!results->available) return CPU_LEVEL_NONE;

  features->level = CPU_LEVEL_CPUID;
  memcpy(features->vendor, results->vendor, 12);
  const uint32_t edx = results->maxFunction >= 1 ? results->features : 0;
  features->hasTimeStampCounter = (edx >> 4) & 1;
  if (results->maxExtended >= 0x80000004u) {
    memcpy(features->name, results->brand, 48);
    features->hasBrand = 1;
  }

  if (edx & (1u << 23)) {
    features->level = CPU_LEVEL_MMX;
    features->mmx = 1;
    if (edx & (1u << 25)) {
      features->level = CPU_LEVEL_SSE;
      features->sse = 1;
      if (edx & (1u << 26)) {
        features->level = CPU_LEVEL_SSE2;
        features->sse2 = 1;
      }
    }
  }
  return features->level;
}

void LogCpuLevel(const CpuFeatures* features) {
  switch (features->level) {
    case CPU_LEVEL_NONE: LogPrintf(LOG_NO_CPUID); break;
    case CPU_LEVEL_CPUID: LogPrintf(LOG_NO_MMX); break;
    default:
      LogPrintf(LOG_USING_MMX);
      if (features->level >= CPU_LEVEL_SSE) LogPrintf(LOG_SSE_AVAILABLE);
      if (features->level >= CPU_LEVEL_SSE2) LogPrintf(LOG_SSE2_AVAILABLE);
      break;
  }
}

void LogCpuIdentity(const CpuFeatures* features) {
  if (features->level == CPU_LEVEL_NONE) return;
  char pieces[3][5];
  for (int i = 0; i < 3; ++i) {
    memcpy(pieces[i], features->vendor + i * 4, 4);
    pieces[i][4] = '\0';
  }
  LogPrintf(LOG_CPU_VENDOR, pieces[0], pieces[1], pieces[2]);
  if (features->hasBrand) LogPrintf(LOG_CPU_NAME, features->name);
}

// ---------------------------------------------------------------------------
// Processor speed

int MeasureProcessorSpeed(TimeStampFunction readTimeStamp, MillisecondFunction readMilliseconds, uint64_t* ticks) {
  const int start = readMilliseconds(0);
  if (start < 0) return -1;
  const uint64_t first = readTimeStamp();
  for (int polls = 0;; ++polls) {
    const int now = readMilliseconds(0);
    if (now < 0) return -1;
    // The clock has 31 bits and may wrap during the wait.
    const unsigned int elapsed = (static_cast<unsigned int>(now) - static_cast<unsigned int>(start)) & 0x7FFFFFFFu;
    if (elapsed >= SPEED_MEASURE_MS) break;
    if (polls >= SPEED_MEASURE_MAX_POLLS) return -1;
  }
  *ticks = readTimeStamp() - first;
  return 0;
}

int ProcessorSpeedFromTicks(uint64_t ticks, int* mhz, int64_t* ticksDiv10) {
  *mhz = static_cast<int>(static_cast<double>(ticks) / 100000.0);
  *ticksDiv10 = static_cast<int64_t>(ticks / 10);
  return 0;
}

// ---------------------------------------------------------------------------
// The block

namespace {

uint64_t ReadTimeStampCounter() { return __rdtsc(); }

}  // namespace

void ReadSystemProbe(SystemProbe* probe) {
  memset(probe, 0, sizeof(*probe));

  SYSTEM_INFO system;
  GetSystemInfo(&system);
  probe->processorCount = static_cast<int>(system.dwNumberOfProcessors);

  OSVERSIONINFOA version;
  memset(&version, 0, sizeof(version));
  version.dwOSVersionInfoSize = sizeof(version);
  if (GetVersionExA(&version)) {
    probe->version.platformId = version.dwPlatformId;
    probe->version.major = version.dwMajorVersion;
    probe->version.minor = version.dwMinorVersion;
    probe->version.build = version.dwBuildNumber;
    memcpy(probe->version.servicePack, version.szCSDVersion, sizeof(version.szCSDVersion));
    probe->version.servicePack[sizeof(probe->version.servicePack) - 1] = '\0';
  }

  ReadCpuid(&probe->cpuid);
  probe->readTimeStamp = ReadTimeStampCounter;
  probe->readMilliseconds = GetMillisecondCount;
}

int LogSystemInfoFrom(const SystemProbe* probe) {
  LogPrintf(LOG_SYSTEM_INFO);
  LogIndentIn();

  LogPrintf(LOG_LIBRARY_VERSION, RIDOV_VERSION_TEXT);

  SystemInfo.processorCount = probe->processorCount;
  LogPrintf(LOG_PROCESSOR_COUNT, probe->processorCount);

  char osName[64];
  const int osCode = DescribeWindowsVersion(&probe->version, osName, sizeof(osName));
  if (osCode >= 0) SystemInfo.osCode = osCode;
  // Windows 9x keeps the version in the build number's high word.
  const unsigned int build = probe->version.platformId == VER_PLATFORM_WIN32_WINDOWS ? (probe->version.build & 0xFFFFu)
                                                                                     : probe->version.build;
  LogPrintf(LOG_OS_VERSION, osName, static_cast<int>(build), probe->version.servicePack);

  SystemInfo.directXVersion = 0x70000;
  if (SystemLibs.timeGetDevCapsFunc != nullptr && SystemLibs.timeBeginPeriodFunc != nullptr) {
    TIMECAPS caps;
    if (SystemLibs.timeGetDevCapsFunc(&caps, sizeof(caps)) == TIMERR_NOERROR)
      SystemLibs.timeBeginPeriodFunc(caps.wPeriodMin);
  }

  CpuFeatures features;
  EvaluateCpuid(&probe->cpuid, &features);
  SystemInfo.cpuLevel = features.level;
  SystemInfo.mmx = features.mmx;
  SystemInfo.sse = features.sse;
  SystemInfo.sse2 = features.sse2;
  SystemInfo.hasTimeStampCounter = features.hasTimeStampCounter;
  SystemInfo.cpuSpeedMHz = 0;
  SystemInfo.speedTicksDiv10 = 0;

  uint64_t ticks = 0;
  if (features.hasTimeStampCounter &&
      MeasureProcessorSpeed(probe->readTimeStamp, probe->readMilliseconds, &ticks) == 0) {
    ProcessorSpeedFromTicks(ticks, &SystemInfo.cpuSpeedMHz, &SystemInfo.speedTicksDiv10);
    LogPrintf(LOG_CPU_SPEED, SystemInfo.cpuSpeedMHz / 1000.0);
  }

  LogCpuLevel(&features);

  memcpy(SystemInfo.vendor, features.vendor, sizeof(SystemInfo.vendor));
  SystemInfo.cpuName[0] = '\0';
  if (features.hasBrand) memcpy(SystemInfo.cpuName, features.name, sizeof(SystemInfo.cpuName));
  LogCpuIdentity(&features);

  LogIndentOut();
  return 0;
}

int LogSystemInfo() {
  SystemProbe probe;
  ReadSystemProbe(&probe);
  return LogSystemInfoFrom(&probe);
}
