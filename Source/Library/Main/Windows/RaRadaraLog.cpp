// Log file, log front end, clocks and character-set conversion.
#include "RaRadaraLog.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "RaRadaraSystem.h"
#include "VeRavoroString.h"
#include "ZeZezuDozThread.h"
#include "ZiDezaru.h"

LogFileState LogState = {0, 0, "", "Log.txt", 0, 0, 0, 0};
int (*LogTimeSource)(int) = GetMillisecondCount;

int64_t PerformanceCounterFrequency = 0;
int PerformanceCounterAvailable = 0;

namespace {

// Serialises file access between the main thread and the workers; created
// on first use.
LockRecord LogLock;
volatile LONG LogLockState = 0;  // 0 none, 1 being created, 2 ready

void EnterLogLock() {
  InitLockOnce(&LogLock, &LogLockState);
  ENTER_LOCK(&LogLock);
}

void LeaveLogLock() { LeaveLock(&LogLock); }

}  // namespace

// ---------------------------------------------------------------------------
// Log file

int MakeLogFileName(char* name, int size, int dateName, const int timeFields[6]) {
  int length;
  if (dateName) {
    length = snprintf(name, size, "Log%d_%d_%d_%d_%d_%d.txt", timeFields[0], timeFields[1], timeFields[2],
                      timeFields[3], timeFields[4], timeFields[5]);
  } else {
    length = snprintf(name, size, "Log.txt");
  }
  return (length < 0 || length >= size) ? -1 : 0;
}

namespace {

// Folder, a "\" unless the folder ends in one, and the file name.
int MakeLogFilePath(char* path, int size) {
  const char* folder = LogState.folder;
  int length = GetStringLength(folder);
  int separator = 1;
  if (length > 0 && folder[length - 1] == '\\' && GetCharBytePositionKind(folder, length - 1, GetCharSet()) == 0)
    separator = 0;
  int written = snprintf(path, size, "%s%s%s", folder, separator ? "\\" : "", LogState.fileName);
  return (written < 0 || written >= size) ? -1 : 0;
}

}  // namespace

int LogFileStart() {
  if (LogState.logOff) return 0;
  int fields[6];
  GetLocalTimeFields(&fields[0], &fields[1], &fields[2], &fields[3], &fields[4], &fields[5]);
  EnterLogLock();
  if (MakeLogFileName(LogState.fileName, sizeof(LogState.fileName), LogState.dateName, fields) != 0)
    CopyString(LogState.fileName, "Log.txt");
  char path[LOG_PATH_SIZE * 2];
  // Without a folder nothing is written, so no file is made either.
  if (LogState.folder[0] != '\0' && MakeLogFilePath(path, sizeof(path)) == 0) {
    DeleteFileA(path);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  LeaveLogLock();
  return 0;
}

int GetLineEndConvertedSize(const char* text) {
  int size = 1;
  int converting = 1;
  for (int i = 0; text[i] != '\0'; i++) {
    if (converting && text[i] == '\n') {
      if (i > 0 && text[i - 1] == '\r') converting = 0;
      else size++;
    }
    size++;
  }
  return size;
}

int ConvertLineEnds(const char* text, char* out) {
  int o = 0;
  int i = 0;
  for (; text[i] != '\0'; i++) {
    if (text[i] == '\n') {
      if (i > 0 && text[i - 1] == '\r') break;
      out[o++] = '\r';
    }
    out[o++] = text[i];
  }
  for (; text[i] != '\0'; i++) out[o++] = text[i];
  out[o] = '\0';
  return o;
}

namespace {

void WritePiece(HANDLE file, const char* text, int length) {
  if (length <= 0) return;
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written;
    WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
  }
  OutputDebugStringA(text);
}

// `mayAllocate` 0: a text too long for the local buffers goes out
// unconverted rather than taking a block from the allocator.
int WriteLogText(const char* text, int mayAllocate) {
  if (SystemLibs.timeGetTimeFunc == nullptr || text == nullptr) return -1;
  // Log off or no folder: nothing at all, not even to the debugger.
  if (LogState.logOff || LogState.folder[0] == '\0') return -1;

  // Convert before taking the log lock: a long text takes a block from the
  // allocator, whose own lock is held while it logs.
  char local[256];
  char wide[LOG_LINE_SIZE * 2];
  char* converted = local;
  char* block = nullptr;
  int size = GetLineEndConvertedSize(text);
  int length;
  if (size > static_cast<int>(sizeof(local))) {
    if (mayAllocate) {
      block = static_cast<char*>(MemAlloc(static_cast<size_t>(size), nullptr, 65535));
      converted = block;
    } else {
      converted = size <= static_cast<int>(sizeof(wide)) ? wide : nullptr;
    }
  }
  if (converted != nullptr) {
    length = ConvertLineEnds(text, converted);
  } else {
    // No memory for the conversion: the text goes out as it stands.
    converted = const_cast<char*>(text);
    length = GetStringLength(text);
  }

  EnterLogLock();
  char path[LOG_PATH_SIZE * 2];
  if (!LogState.logOff && LogState.folder[0] != '\0' && MakeLogFilePath(path, sizeof(path)) == 0) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) SetFilePointer(file, 0, nullptr, FILE_END);
    if (!LogState.midLine) {
      if (!LogState.stampsOff) {
        char stamp[16];
        int elapsed = (LogTimeSource(0) - LogState.startTime) & 0x7fffffff;
        int stampLength = snprintf(stamp, sizeof(stamp), "%d:", elapsed);
        WritePiece(file, stamp, stampLength);
      }
      char tabs[33];
      for (int left = LogState.indentLevel; left > 0;) {
        int n = left < 32 ? left : 32;
        MemFill(tabs, '\t', n);
        tabs[n] = '\0';
        WritePiece(file, tabs, n);
        left -= n;
      }
    }
    WritePiece(file, converted, length);
    LogState.midLine = (length == 0 || converted[length - 1] != '\n') ? 1 : 0;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  LeaveLogLock();

  if (block != nullptr) MemFree(block);
  return -1;
}

}  // namespace

int LogWriteText(const char* text) { return WriteLogText(text, 1); }

int LogWriteTextWithoutAlloc(const char* text) { return WriteLogText(text, 0); }

// ---------------------------------------------------------------------------
// Front end

int StartLog() {
  if (LogFileStart() != 0) return -1;
  LogState.indentLevel = 0;
  LogState.midLine = 0;
  LogState.startTime = LogTimeSource(0);
  return 0;
}

int AddLogText(const char* text) { return LogWriteText(text); }

namespace {

// Drops a lead byte left alone at the end by a cut.
int TrimBrokenCharacter(char* text, int length, int charSet) {
  if (length > 0 && GetCharBytePositionKind(text, length - 1, charSet) < 0) text[--length] = '\0';
  return length;
}

}  // namespace

int LogPrintf(const char* format, ...) {
  char buffer[LOG_LINE_SIZE];
  buffer[0] = '\0';
  va_list args;
  va_start(args, format);
  // At most LOG_LINE_SIZE - 2 characters, leaving room for the line feed.
  const int formatted = vsnprintf(buffer, LOG_LINE_SIZE - 1, format, args);
  va_end(args);
  buffer[LOG_LINE_SIZE - 2] = '\0';
  int length = GetStringLength(buffer);
  // Only a cut can split a character; a line that fits is written as made.
  if (formatted < 0 || formatted > LOG_LINE_SIZE - 2) length = TrimBrokenCharacter(buffer, length, GetCharSet());
  buffer[length] = '\n';
  buffer[length + 1] = '\0';
  return LogWriteText(buffer);
}

int LogPrintfWide(const wchar_t* format, ...) {
  wchar_t wide[LOG_LINE_SIZE];
  va_list args;
  va_start(args, format);
  _vsnwprintf(wide, LOG_LINE_SIZE - 1, format, args);
  va_end(args);
  wide[LOG_LINE_SIZE - 2] = L'\0';
  AppendWideString(wide, L"\n");

  // Code page 932 takes at most two bytes per wide character.
  char text[LOG_LINE_SIZE * 2];
  if (WideToMultiByte(932, wide, text, sizeof(text)) <= 0) text[0] = '\0';
  int length = GetStringLength(text);
  if (length > LOG_LINE_SIZE - 1) {
    text[LOG_LINE_SIZE - 2] = '\0';
    length = TrimBrokenCharacter(text, LOG_LINE_SIZE - 2, CHARSET_SHIFTJIS);
    text[length] = '\n';
    text[length + 1] = '\0';
  }
  return LogWriteText(text);
}

void LogIndentIn() { LogState.indentLevel++; }

void LogIndentOut() {
  if (LogState.indentLevel > 0) LogState.indentLevel--;
}

int SetLogFileEnabled(int flag) {
  LogState.logOff = flag == 0 ? 1 : 0;
  return 0;
}

int SetLogFolder(const char* path) {
  if (path == nullptr) path = "";
  if (GetStringLength(path) >= LOG_PATH_SIZE) return -1;
  CopyString(LogState.folder, path);
  return 0;
}

const char* GetLogFolder() { return LogState.folder; }

// ---------------------------------------------------------------------------
// Clocks

int SetupPerformanceCounter() {
  LARGE_INTEGER frequency;
  if (!QueryPerformanceFrequency(&frequency)) frequency.QuadPart = 0;
  PerformanceCounterFrequency = frequency.QuadPart;
  PerformanceCounterAvailable = frequency.QuadPart != 0 ? 1 : 0;
  return 0;
}

int MaskMillisecondTime(DWORD time) { return static_cast<int>(time & 0x7fffffff); }

int GetMillisecondCount(int ignored) {
  if (SystemLibs.timeGetTimeFunc == nullptr) return -1;
  return MaskMillisecondTime(SystemLibs.timeGetTimeFunc());
}

int64_t CounterToMicroseconds(uint64_t counter, uint64_t frequency) {
  if (frequency == 0) return -1;
  uint32_t a[2] = {static_cast<uint32_t>(counter), static_cast<uint32_t>(counter >> 32)};
  uint32_t b[2] = {1000000, 0};
  uint32_t product[4];
  Multiply64To128(a, b, product);
  uint32_t divisor[2] = {static_cast<uint32_t>(frequency), static_cast<uint32_t>(frequency >> 32)};
  uint32_t quotient[2];
  Divide128By64(product, divisor, quotient);
  return static_cast<int64_t>((static_cast<uint64_t>(quotient[1]) << 32) | quotient[0]);
}

int64_t MillisecondsToMicroseconds(DWORD milliseconds) { return static_cast<int64_t>(milliseconds) * 1000; }

int64_t GetMicrosecondCount() {
  if (PerformanceCounterAvailable) {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return CounterToMicroseconds(static_cast<uint64_t>(counter.QuadPart),
                                 static_cast<uint64_t>(PerformanceCounterFrequency));
  }
  if (SystemLibs.timeGetTimeFunc == nullptr) return -1;
  return MillisecondsToMicroseconds(SystemLibs.timeGetTimeFunc());
}

namespace {

void StoreTimeFields(const SYSTEMTIME& time, int* year, int* month, int* day, int* hour, int* minute, int* second) {
  if (year) *year = time.wYear;
  if (month) *month = time.wMonth;
  if (day) *day = time.wDay;
  if (hour) *hour = time.wHour;
  if (minute) *minute = time.wMinute;
  if (second) *second = time.wSecond;
}

}  // namespace

int GetLocalTimeFields(int* year, int* month, int* day, int* hour, int* minute, int* second) {
  SYSTEMTIME time;
  GetLocalTime(&time);
  StoreTimeFields(time, year, month, day, hour, minute, second);
  return 0;
}

int FileTimeToLocalFields(const FILETIME* fileTime, int* year, int* month, int* day, int* hour, int* minute,
                          int* second) {
  FILETIME local;
  SYSTEMTIME time;
  if (fileTime == nullptr || !FileTimeToLocalFileTime(fileTime, &local) || !FileTimeToSystemTime(&local, &time))
    return -1;
  StoreTimeFields(time, year, month, day, hour, minute, second);
  return 0;
}

// ---------------------------------------------------------------------------
// Character-set conversion

int WideToMultiByte(UINT codePage, const wchar_t* text, char* buffer, int bufferBytes) {
  return WideCharToMultiByte(codePage, 0, text, -1, buffer, bufferBytes, nullptr, nullptr);
}

int MultiByteToWide(UINT codePage, const char* text, wchar_t* buffer, int bufferChars) {
  return MultiByteToWideChar(codePage, 0, text, -1, buffer, bufferChars);
}
