// Windows file access: files read directly or through a reader thread of
// their own (with an optional 128 KB read-ahead cache and asynchronous
// reads), folder search, the current directory and temporary files.
#ifndef ZEZEZUDOZ_H
#define ZEZEZUDOZ_H

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "DaDode.h"
#include "ZeZezuDozThread.h"

enum {
  FILE_ACCESS_CACHE_SIZE = 128 * 1024,
  FILE_ACCESS_CACHE_WAIT = 100,  // ms the reader waits before filling its cache
};

// Reader-thread commands.
enum {
  FILE_COMMAND_OPEN = 0,
  FILE_COMMAND_CLOSE = 1,
  FILE_COMMAND_READ = 2,
  FILE_COMMAND_SEEK = 3,
  FILE_COMMAND_END = 4,
};

// One open file. A threaded file's client never touches the reader's
// fields while a command runs: every command first waits for doneEvent.
struct FileAccessRecord {
  HANDLE file;   // direct mode
  int threaded;  // cache or asynchronous
  int cache;
  int async;
  int endOfFile;
  uint64_t position;
  uint64_t size;

  // Reader thread and the command it serves.
  ThreadRecord thread;
  HANDLE threadFile;
  HANDLE requestEvent;  // manual reset, initially off
  HANDLE doneEvent;     // manual reset, initially on
  int command;
  volatile LONG ended;
  int openFailed;
  char path[FILE_PATH_SIZE];
  unsigned char* readTarget;
  uint64_t readPosition;
  uint32_t readSize;
  uint32_t readDone;  // bytes the last read command delivered

  // Read-ahead cache: cacheHeld bytes of the file from cacheStart.
  unsigned char* cacheBuffer;
  uint64_t cacheStart;
  uint64_t cacheHeld;
  uint64_t cacheServed;  // bytes read commands took from the cache (diagnosis)
};

// Null when the file cannot be opened. The block flag is not used.
FileAccessRecord* OpenFileAccess(const char* path, int cacheFlag, int blockFlag, int asyncFlag);
int CloseFileAccess(FileAccessRecord* file);
uint64_t GetFileAccessPosition(FileAccessRecord* file);
// origin 0 start, 1 current, 2 end, anything else goes to 0. A result below
// 0 gives 0; past the end is allowed. -1 when a direct seek fails.
int SeekFileAccess(FileAccessRecord* file, int64_t offset, int origin);
// Whole elements read. An asynchronous file returns at once: test
// IsFileAccessIdle before using the data or sending the next command.
size_t ReadFileAccess(void* buffer, size_t elementSize, size_t count, FileAccessRecord* file);
int IsFileAccessEnd(FileAccessRecord* file);   // -1 at the end, else 0
int IsFileAccessIdle(FileAccessRecord* file);  // 1 when no command runs

int FileAccessSetCurrentDir(const char* path);
int FileAccessGetCurrentDir(char* buffer);  // FILE_PATH_SIZE bytes

// Search handle, or -1. The record may be null.
intptr_t FindFirstFileEntry(const char* pattern, FileInfoRecord* info);
int FindNextFileEntry(intptr_t search, FileInfoRecord* info);  // -1 at the end
int CloseFileFind(intptr_t search);

// A new empty file in the temporary folder, open for writing; its full path
// goes to `path` (FILE_PATH_SIZE bytes) when given. Null on failure, with
// `path` untouched.
HANDLE CreateTempFile(char* path);

#endif  // ZEZEZUDOZ_H
