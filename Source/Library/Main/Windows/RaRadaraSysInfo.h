// System information: the block written to the log at start-up, and the
// values kept from it (processor count, OS code, instruction-set level,
// processor speed).
#ifndef RARADARA_SYSINFO_H
#define RARADARA_SYSINFO_H

#include <stdint.h>

// Operating-system codes.
enum {
  OS_WIN31 = 0,
  OS_WIN95 = 1,
  OS_WIN98 = 2,
  OS_WINME = 3,
  OS_WINNT351 = 260,
  OS_WINNT40 = 261,
  OS_WIN2000 = 262,
  OS_WINXP = 263,
  OS_WINVISTA = 264,
  OS_WIN7 = 265,
  OS_WIN8 = 266,
};

// Instruction-set levels: each step needs the one before.
enum {
  CPU_LEVEL_NONE = 0,  // no CPUID
  CPU_LEVEL_CPUID = 1,
  CPU_LEVEL_MMX = 3,
  CPU_LEVEL_SSE = 4,
  CPU_LEVEL_SSE2 = 5,
};

struct SystemInfoValues {
  int processorCount;
  int osCode;
  int directXVersion;  // 0x70000
  int cpuLevel;
  int mmx;
  int sse;
  int sse2;
  int hasTimeStampCounter;
  int cpuSpeedMHz;          // 0 when not measured
  int64_t speedTicksDiv10;  // time-stamp ticks of the measurement / 10
  char vendor[13];
  char cpuName[49];  // empty when the brand string is not offered
};
extern SystemInfoValues SystemInfo;

// OSVERSIONINFO fields the OS name is made from.
struct OsVersionFields {
  unsigned int platformId;  // VER_PLATFORM_WIN32s / _WINDOWS / _NT
  unsigned int major;
  unsigned int minor;
  unsigned int build;
  char servicePack[128];
};

// "Windows" followed by the version text into name (64 bytes are enough).
// Returns the OS code, or -1 for a version the table does not know.
int DescribeWindowsVersion(const OsVersionFields* version, char* name, int nameSize);

// CPUID results as read from the processor.
struct CpuidResults {
  int available;         // the ID bit of EFLAGS could be toggled
  uint32_t maxFunction;  // function 0 EAX
  uint32_t vendor[3];    // function 0 EBX, EDX, ECX
  uint32_t features;     // function 1 EDX
  uint32_t maxExtended;  // function 0x80000000 EAX
  uint32_t brand[12];    // functions 0x80000002-0x80000004 EAX, EBX, ECX, EDX
};

struct CpuFeatures {
  int level;
  int mmx;
  int sse;
  int sse2;
  int hasTimeStampCounter;
  int hasBrand;
  char vendor[13];
  char name[49];
};

int ReadCpuid(CpuidResults* results);
int EvaluateCpuid(const CpuidResults* results, CpuFeatures* features);
// The instruction-set lines, then vendor and name.
void LogCpuLevel(const CpuFeatures* features);
void LogCpuIdentity(const CpuFeatures* features);

// Time-stamp ticks over a wait of 100 ms on the millisecond clock. The wait
// gives up when the clock is unavailable (-1) or has not reached 100 ms
// after the poll bound; -1 then.
typedef uint64_t (*TimeStampFunction)();
typedef int (*MillisecondFunction)(int);
enum {
  SPEED_MEASURE_MS = 100,
  SPEED_MEASURE_MAX_POLLS = 50000000,
};
int MeasureProcessorSpeed(TimeStampFunction readTimeStamp, MillisecondFunction readMilliseconds, uint64_t* ticks);
int ProcessorSpeedFromTicks(uint64_t ticks, int* mhz, int64_t* ticksDiv10);

// Everything the block is made from; LogSystemInfo reads it from the machine.
struct SystemProbe {
  int processorCount;
  OsVersionFields version;
  CpuidResults cpuid;
  TimeStampFunction readTimeStamp;
  MillisecondFunction readMilliseconds;
};
void ReadSystemProbe(SystemProbe* probe);
int LogSystemInfoFrom(const SystemProbe* probe);
int LogSystemInfo();

int GetProcessorCount();
int GetOsCode();

#endif  // RARADARA_SYSINFO_H
