// File streams. All library file reading goes through one table of twelve
// file functions, so that files on disk and files inside archives are read
// alike; loaders read files and memory blocks alike through six-slot stream
// tables. Also file handles (handle type 17) for the public reading calls
// and the conversion of relative paths to full paths.
#ifndef DADODE_H
#define DADODE_H

#include <stddef.h>
#include <stdint.h>

#include "VeRavoro.h"
#include "RiDov.h"

enum {
  FILE_PATH_SIZE = 260,  // MAX_PATH: every path and directory buffer
  FILE_HANDLE_MAX = 32768,
};

// Seek origins.
enum {
  FILE_STREAM_SEEK_SET = 0,
  FILE_STREAM_SEEK_CUR = 1,
  FILE_STREAM_SEEK_END = 2,
};

// A stream of a file-stream table, or the address of a MemoryStream in the
// memory stream table. 0 is no stream.
typedef uintptr_t StreamHandle;

// One entry of a folder search.
struct FileInfoRecord {
  char name[FILE_PATH_SIZE];
  int isDirectory;
  uint64_t size;
  int creationTime[6];  // local year, month, day, hour, minute, second
  int lastWriteTime[6];
};

struct FileStreamFunctionTable {
  StreamHandle (*Open)(const char* path, int cacheFlag, int blockFlag, int asyncFlag);  // 0 on failure
  int (*Close)(StreamHandle stream);
  int64_t (*Tell)(StreamHandle stream);
  int (*Seek)(StreamHandle stream, int64_t offset, int origin);
  size_t (*Read)(void* buffer, size_t elementSize, size_t count, StreamHandle stream);
  int (*Eof)(StreamHandle stream);        // non-zero at the end
  int (*IdleCheck)(StreamHandle stream);  // non-zero when no asynchronous read is pending
  int (*SetCurrentDir)(const char* path);
  int (*GetCurrentDir)(char* buffer);                                // FILE_PATH_SIZE bytes
  intptr_t (*FindFirst)(const char* pattern, FileInfoRecord* info);  // -1 on failure
  int (*FindNext)(intptr_t search, FileInfoRecord* info);            // -1 at the end
  int (*FindClose)(intptr_t search);
};

struct StreamFunctionTable {
  int64_t (*Tell)(StreamHandle stream);
  int (*Seek)(StreamHandle stream, int64_t offset, int origin);
  size_t (*Read)(void* buffer, size_t elementSize, size_t count, StreamHandle stream);
  int (*Eof)(StreamHandle stream);
  int (*IdleCheck)(StreamHandle stream);
  int (*Close)(StreamHandle stream);
};

struct MemoryStream {
  const void* data;
  uint32_t size;
  uint32_t position;
  uint32_t endOfFile;
};

// File handle kinds.
enum {
  FILE_HANDLE_STREAM = 0,
  FILE_HANDLE_MEMORY = 1,
};

struct FileHandleRecord {
  HandleRecordHeader header;
  int kind;
  StreamHandle stream;  // FILE_HANDLE_STREAM
  void* memoryImage;    // FILE_HANDLE_MEMORY: a MemAlloc block owned by the record
};

// File-stream table. With null installs the library's default set.
int SetupFileStreamFunctions(const FileStreamFunctionTable* table);
StreamHandle FileStreamOpen(const char* path, int cacheFlag, int blockFlag, int asyncFlag);
int FileStreamClose(StreamHandle stream);
int64_t FileStreamTell(StreamHandle stream);
int FileStreamSeek(StreamHandle stream, int64_t offset, int origin);
size_t FileStreamRead(void* buffer, size_t elementSize, size_t count, StreamHandle stream);
int FileStreamEof(StreamHandle stream);
int FileStreamIdleCheck(StreamHandle stream);
int FileStreamSetDirectory(const char* path);
int FileStreamGetDirectory(char* buffer);  // FILE_PATH_SIZE bytes

const FileStreamFunctionTable* GetFileAccessTable();
// The set over Windows file access alone, without archives.
const FileStreamFunctionTable* GetPlainFileStreamFunctions();
// Over the current file-stream table (follows SetupFileStreamFunctions).
const StreamFunctionTable* GetFileStreamTable();
// Over MemoryStream records.
const StreamFunctionTable* GetMemoryStreamTable();

// Memory streams. The stream does not own its data.
MemoryStream* CreateMemoryStream(const void* data, uint32_t size);
int64_t MemoryStreamTell(MemoryStream* stream);
// A result below 0 gives 0, above the size gives the size; clears the end flag.
int MemoryStreamSeek(MemoryStream* stream, int64_t offset, int origin);
// Whole elements; a last partial element is copied and counts as 1.
size_t MemoryStreamRead(void* buffer, size_t elementSize, size_t count, MemoryStream* stream);
int MemoryStreamEof(MemoryStream* stream);
int MemoryStreamIdle(MemoryStream* stream);
int CloseMemoryStream(MemoryStream* stream);

// File handles.
int InitializeFileHandles();
int TerminateFileHandles();
int CloseFileHandleRecord(HandleRecordHeader* record);
// The handle; -1 when no handle could be made; 0 when the file does not open.
int OpenReadFileCore(const char* path, int asyncRead, int asyncLoad);
int OpenFileHandleStream(int handle, const char* path, int asyncRead, int allowPending);

// Asynchronous open. Asynchronous loading installs the function that turns
// an open into a loading job: it packs the three arguments, queues a job
// that calls OpenFileHandleJob with them and counts that job on the handle
// (AddHandleAsyncCount) before any worker can take it. Result 0, or -1
// when no job could be made (nothing counted). With none installed no job
// can be made.
typedef int (*FileOpenJobQueueFunction)(int handle, const char* fullPath, int asyncRead);
void SetFileOpenJobQueueFunction(FileOpenJobQueueFunction queue);
// The job's body, run by a loading worker: opens the stream, counts the
// job as done, and deletes the handle when the open failed.
int OpenFileHandleJob(int handle, const char* fullPath, int asyncRead);

// Full path of `path` (null: the base itself) against `base` (null: the
// current directory). -1 when the result does not fit in outputSize bytes
// (the output is then empty).
int BuildAbsolutePath(const char* path, char* output, int outputSize, const char* base);
int ConvertToFullPath(const char* path, char* output, int outputSize, const char* base);

#endif  // DADODE_H
