// Log file and its front end, the library's clocks and the character-set
// conversion helpers.
#ifndef RARADARA_LOG_H
#define RARADARA_LOG_H

#include <windows.h>
#include <stdint.h>
#include <wchar.h>
#include "RiDov.h"

enum {
  LOG_PATH_SIZE = 260,
  LOG_LINE_SIZE = 1024,  // LogPrintf line buffer, line feed and NUL included
};

// Library-wide log state.
struct LogFileState {
  int logOff;                    // 1: no log file is created or written
  int dateName;                  // 1: the file name carries the local date and time
  char folder[LOG_PATH_SIZE];    // empty: nothing is written
  char fileName[LOG_PATH_SIZE];  // built by LogFileStart ("Log.txt" until then)
  int startTime;                 // millisecond clock at StartLog
  int stampsOff;                 // 1: lines get no time stamp
  int indentLevel;               // tabs before each line
  int midLine;                   // 1: the last text did not end in a line feed
};
extern LogFileState LogState;

// Clock read for the line stamps and the start time; GetMillisecondCount
// unless replaced (tests).
extern int (*LogTimeSource)(int);

// Log file.
int LogFileStart();
int LogWriteText(const char* text);  // always -1
// As LogWriteText, but never takes memory from the tracked allocator (for
// its damage report); a text of more than 2047 bytes goes out unconverted.
int LogWriteTextWithoutAlloc(const char* text);
// Line-end conversion: every LF becomes CR LF until the first LF that already
// has a CR before it; the rest is taken unchanged. Returns the bytes written
// without the NUL; `out` must hold GetLineEndConvertedSize(text) bytes.
int GetLineEndConvertedSize(const char* text);  // with the NUL
int ConvertLineEnds(const char* text, char* out);
// "Log.txt", or "Log" with year, month, day, hour, minute (each followed by
// "_"), second and ".txt".
int MakeLogFileName(char* name, int size, int dateName, const int timeFields[6]);

// Front end.
int StartLog();
int AddLogText(const char* text);
int LogPrintf(const char* format, ...);
int LogPrintfWide(const wchar_t* format, ...);
void LogIndentIn();
void LogIndentOut();
const char* GetLogFolder();

// Clocks. Performance-counter state is set at start-up and window creation.
extern int64_t PerformanceCounterFrequency;
extern int PerformanceCounterAvailable;
int SetupPerformanceCounter();
int MaskMillisecondTime(DWORD time);  // 31 bits, never negative
int64_t CounterToMicroseconds(uint64_t counter, uint64_t frequency);
int64_t MillisecondsToMicroseconds(DWORD milliseconds);
int FileTimeToLocalFields(const FILETIME* fileTime, int* year, int* month, int* day, int* hour, int* minute,
                          int* second);

// Character-set conversion of NUL-terminated texts.
int WideToMultiByte(UINT codePage, const wchar_t* text, char* buffer, int bufferBytes);
int MultiByteToWide(UINT codePage, const char* text, wchar_t* buffer, int bufferChars);

#endif  // RARADARA_LOG_H
