// Windows file access: direct reads or a reader thread per file with its
// read-ahead cache, folder search, current directory and temporary files.
#include "ZeZezuDoz.h"

#include "DaDode.h"
#include "RaRadaraLog.h"
#include "VeRavoroString.h"
#include "ZiDezaru.h"

namespace {

// Log texts.
const char LOG_NO_MEMORY_FOR_CACHE[] = "ファイル読み込みキャッシュ用メモリの確保に失敗しました";
const char LOG_FILE_THREAD_NOT_CREATED[] = "ファイルアクセス専用スレッドの作成に失敗しました";
const char LOG_FILE_NOT_OPENED[] = "ファイルのオープンに失敗しました";

HANDLE OpenForReading(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

int SetFilePosition(HANDLE file, uint64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) ? 0 : -1;
}

// Bytes read, 0 when the read fails.
uint32_t ReadBytes(HANDLE file, void* target, uint32_t size) {
  DWORD got = 0;
  if (!ReadFile(file, target, size, &got, nullptr)) return 0;
  return got;
}

// ---------------------------------------------------------------------------
// Reader thread

void FillReadCache(FileAccessRecord* file) {
  const uint64_t room = FILE_ACCESS_CACHE_SIZE - file->cacheHeld;
  if (SetFilePosition(file->threadFile, file->cacheStart + file->cacheHeld) != 0) return;
  file->cacheHeld += ReadBytes(file->threadFile, file->cacheBuffer + file->cacheHeld, static_cast<uint32_t>(room));
}

void RunReadCommand(FileAccessRecord* file) {
  unsigned char* target = file->readTarget;
  uint64_t position = file->readPosition;
  uint32_t size = file->readSize;
  uint32_t done = 0;

  if (file->cacheBuffer != nullptr && position == file->cacheStart && file->cacheHeld > 0) {
    const uint32_t take = file->cacheHeld < size ? static_cast<uint32_t>(file->cacheHeld) : size;
    MemCopy(target, file->cacheBuffer, static_cast<int>(take));
    target += take;
    position += take;
    size -= take;
    done += take;
    file->cacheStart += take;
    file->cacheHeld -= take;
    file->cacheServed += take;
    if (file->cacheHeld > 0) MemMove(file->cacheBuffer, file->cacheBuffer + take, static_cast<int>(file->cacheHeld));
  }

  if (size > 0) {
    uint32_t got = 0;
    if (SetFilePosition(file->threadFile, position) == 0) got = ReadBytes(file->threadFile, target, size);
    done += got;
    if (file->cacheBuffer != nullptr) {
      file->cacheStart = position + got;
      file->cacheHeld = 0;
    }
  }
  file->readDone = done;
}

void EndReaderThread(FileAccessRecord* file) {
  SetEvent(file->doneEvent);
  InterlockedExchange(&file->ended, 1);
}

void FileReadThreadProc(ThreadRecord*, void* parameter) {
  FileAccessRecord* file = static_cast<FileAccessRecord*>(parameter);
  for (;;) {
    // With a cache, every quiet slice tops the cache up.
    const DWORD wait = file->cacheBuffer != nullptr ? static_cast<DWORD>(FILE_ACCESS_CACHE_WAIT) : INFINITE;
    if (WaitForSingleObject(file->requestEvent, wait) != WAIT_OBJECT_0) {
      if (file->threadFile != nullptr && file->cacheHeld < FILE_ACCESS_CACHE_SIZE) FillReadCache(file);
      continue;
    }
    ResetEvent(file->requestEvent);
    ResetEvent(file->doneEvent);

    switch (file->command) {
      case FILE_COMMAND_OPEN:
        file->threadFile = OpenForReading(file->path);
        if (file->threadFile == nullptr) {
          file->openFailed = 1;
          EndReaderThread(file);
          return;
        }
        break;
      case FILE_COMMAND_CLOSE:
        if (file->threadFile != nullptr) CloseHandle(file->threadFile);
        file->threadFile = nullptr;
        break;
      case FILE_COMMAND_READ: RunReadCommand(file); break;
      case FILE_COMMAND_SEEK:
        if (file->threadFile != nullptr) SetFilePosition(file->threadFile, file->readPosition);
        if (file->cacheBuffer != nullptr) {
          file->cacheStart = file->readPosition;
          file->cacheHeld = 0;
        }
        break;
      case FILE_COMMAND_END:
        if (file->threadFile != nullptr) CloseHandle(file->threadFile);
        file->threadFile = nullptr;
        EndReaderThread(file);
        return;
      default: break;
    }
    SetEvent(file->doneEvent);
  }
}

// Client side of a command: the caller first waits with WaitForCommandDone,
// then stores the command's data, then posts it.
void WaitForCommandDone(FileAccessRecord* file) { WaitForSingleObject(file->doneEvent, INFINITE); }

void PostCommand(FileAccessRecord* file, int command) {
  file->command = command;
  ResetEvent(file->doneEvent);
  SetEvent(file->requestEvent);
}

void WaitForThreadExit(FileAccessRecord* file, int sleepMilliseconds) {
  DWORD code = 0;
  while (GetExitCodeThread(file->thread.thread, &code) && code == STILL_ACTIVE) Sleep(sleepMilliseconds);
}

void FreeThreadObjects(FileAccessRecord* file) {
  if (file->cacheBuffer != nullptr) MemFree(file->cacheBuffer);
  file->cacheBuffer = nullptr;
  if (file->requestEvent != nullptr) CloseHandle(file->requestEvent);
  if (file->doneEvent != nullptr) CloseHandle(file->doneEvent);
  file->requestEvent = nullptr;
  file->doneEvent = nullptr;
  CloseThreadRecord(&file->thread);
}

// ---------------------------------------------------------------------------
// Opening and closing

// The cache, the events and the reader thread, which opens the file. On
// failure everything made is freed again (FreeThreadObjects).
int StartReaderThread(FileAccessRecord* file, const char* path) {
  if (file->cache) {
    file->cacheBuffer = static_cast<unsigned char*>(MEM_ALLOC(FILE_ACCESS_CACHE_SIZE));
    if (file->cacheBuffer == nullptr) {
      LogPrintf(LOG_NO_MEMORY_FOR_CACHE);
      goto refuse;
    }
  }

  file->requestEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  file->doneEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (file->requestEvent == nullptr || file->doneEvent == nullptr ||
      StartThreadRecord(&file->thread, FileReadThreadProc, file) != 0) {
    LogPrintf(LOG_FILE_THREAD_NOT_CREATED);
    goto refuse;
  }
  SetThreadRecordPriority(&file->thread, 0);
  // The thread suspends itself first; resume until it has done so.
  while (ResumeThreadRecord(&file->thread) == 0) Sleep(0);

  CopyString(file->path, path);
  WaitForCommandDone(file);
  PostCommand(file, FILE_COMMAND_OPEN);
  WaitForCommandDone(file);
  if (file->openFailed) {
    WaitForThreadExit(file, 0);
    LogPrintf(LOG_FILE_NOT_OPENED);
    goto refuse;
  }
  return 0;

refuse:
  FreeThreadObjects(file);
  return -1;
}

}  // namespace

FileAccessRecord* OpenFileAccess(const char* path, int cacheFlag, int blockFlag, int asyncFlag) {
  if (path == nullptr) return nullptr;
  FileAccessRecord* file = static_cast<FileAccessRecord*>(MEM_ALLOC_ZEROED(sizeof(FileAccessRecord)));
  if (file == nullptr) return nullptr;
  file->cache = cacheFlag != 0 ? 1 : 0;
  file->async = asyncFlag != 0 ? 1 : 0;
  file->threaded = file->cache | file->async;

  // A missing file fails here in both modes, before any thread exists.
  HANDLE handle = OpenForReading(path);
  LARGE_INTEGER size;
  if (handle == nullptr || !GetFileSizeEx(handle, &size)) goto refuse;
  file->size = static_cast<uint64_t>(size.QuadPart);

  if (!file->threaded) {
    file->file = handle;
  } else {
    CloseHandle(handle);
    handle = nullptr;
    // The reader reopens the file by its path, which must fit its field.
    if (GetStringLength(path) >= FILE_PATH_SIZE || StartReaderThread(file, path) != 0) goto refuse;
  }
  file->position = 0;
  file->endOfFile = 0;
  return file;

refuse:
  if (handle != nullptr) CloseHandle(handle);
  MemFree(file);
  return nullptr;
}

int CloseFileAccess(FileAccessRecord* file) {
  if (file == nullptr) return -1;
  if (file->threaded) {
    WaitForCommandDone(file);
    PostCommand(file, FILE_COMMAND_END);
    WaitForCommandDone(file);
    WaitForThreadExit(file, 1);
    FreeThreadObjects(file);
  } else if (file->file != nullptr) {
    CloseHandle(file->file);
  }
  MemFree(file);
  return 0;
}

// ---------------------------------------------------------------------------
// Position, reading

uint64_t GetFileAccessPosition(FileAccessRecord* file) { return file != nullptr ? file->position : 0; }

int SeekFileAccess(FileAccessRecord* file, int64_t offset, int origin) {
  if (file == nullptr) return -1;
  int64_t base;
  switch (origin) {
    case 0: base = 0; break;
    case 1: base = static_cast<int64_t>(file->position); break;
    case 2: base = static_cast<int64_t>(file->size); break;
    default:
      base = 0;
      offset = 0;
      break;
  }
  int64_t target;
  if (offset > 0 && base > INT64_MAX - offset) target = INT64_MAX;
  else target = base + offset;
  if (target < 0) target = 0;

  if (!file->threaded) {
    if (SetFilePosition(file->file, static_cast<uint64_t>(target)) != 0) return -1;
  } else {
    WaitForCommandDone(file);
    file->readPosition = static_cast<uint64_t>(target);
    PostCommand(file, FILE_COMMAND_SEEK);
  }
  file->position = static_cast<uint64_t>(target);
  file->endOfFile = 0;
  return 0;
}

size_t ReadFileAccess(void* buffer, size_t elementSize, size_t count, FileAccessRecord* file) {
  if (file == nullptr || elementSize == 0 || count == 0) return 0;
  if (file->position >= file->size) {
    file->endOfFile = 1;
    return 0;
  }
  const uint64_t left = file->size - file->position;
  uint64_t bytes = static_cast<uint64_t>(elementSize) * count;
  if (left < bytes) {
    count = static_cast<size_t>(left / elementSize);
    if (count == 0) {
      file->endOfFile = 1;
      return 0;
    }
    bytes = static_cast<uint64_t>(elementSize) * count;
  }
  if (bytes > 0xFFFFFFFFu) return 0;  // larger than any buffer of this process

  uint32_t got;
  if (!file->threaded) {
    got = ReadBytes(file->file, buffer, static_cast<uint32_t>(bytes));
  } else {
    WaitForCommandDone(file);
    file->readTarget = static_cast<unsigned char*>(buffer);
    file->readPosition = file->position;
    file->readSize = static_cast<uint32_t>(bytes);
    file->readDone = 0;
    PostCommand(file, FILE_COMMAND_READ);
    if (file->async) {
      // The reader fills the buffer in the background.
      file->position += bytes;
      file->endOfFile = 0;
      return count;
    }
    WaitForCommandDone(file);
    got = file->readDone;
  }
  // The file may have shrunk since it was opened: count what really came.
  file->position += got;
  if (got > 0) file->endOfFile = 0;
  return got / elementSize;
}

int IsFileAccessEnd(FileAccessRecord* file) { return file != nullptr && file->endOfFile ? -1 : 0; }

int IsFileAccessIdle(FileAccessRecord* file) {
  if (file == nullptr) return -1;
  if (!file->threaded) return 1;
  return WaitForSingleObject(file->doneEvent, 0) == WAIT_OBJECT_0 ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Current directory, search

int FileAccessSetCurrentDir(const char* path) {
  if (path == nullptr) return -1;
  return SetCurrentDirectoryA(path) ? 0 : -1;
}

int FileAccessGetCurrentDir(char* buffer) {
  if (buffer == nullptr) return -1;
  const DWORD length = GetCurrentDirectoryA(FILE_PATH_SIZE, buffer);
  if (length == 0 || length >= FILE_PATH_SIZE) {
    buffer[0] = '\0';
    return -1;
  }
  return 0;
}

namespace {

void FillFileInfo(const WIN32_FIND_DATAA& data, FileInfoRecord* info) {
  if (info == nullptr) return;
  CopyStringLimited(info->name, data.cFileName, FILE_PATH_SIZE - 1);
  info->isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
  info->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  int* c = info->creationTime;
  int* w = info->lastWriteTime;
  FileTimeToLocalFields(&data.ftCreationTime, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5]);
  FileTimeToLocalFields(&data.ftLastWriteTime, &w[0], &w[1], &w[2], &w[3], &w[4], &w[5]);
}

}  // namespace

intptr_t FindFirstFileEntry(const char* pattern, FileInfoRecord* info) {
  if (pattern == nullptr) return -1;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) return -1;
  FillFileInfo(data, info);
  return reinterpret_cast<intptr_t>(search);
}

int FindNextFileEntry(intptr_t search, FileInfoRecord* info) {
  if (search == -1 || search == 0) return -1;
  WIN32_FIND_DATAA data;
  if (!FindNextFileA(reinterpret_cast<HANDLE>(search), &data)) return -1;
  FillFileInfo(data, info);
  return 0;
}

int CloseFileFind(intptr_t search) {
  if (search == -1 || search == 0) return -1;
  return FindClose(reinterpret_cast<HANDLE>(search)) ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Temporary files

HANDLE CreateTempFile(char* path) {
  char folder[FILE_PATH_SIZE];
  const DWORD length = GetTempPathA(256, folder);
  if (length == 0 || length >= 256) return nullptr;
  if (GetCharBytePositionKind(folder, static_cast<int>(length) - 1, GetCharSet()) != 0 || folder[length - 1] != '\\') {
    folder[length] = '\\';
    folder[length + 1] = '\0';
  }

  // GetTempFileNameA makes the file to claim the name.
  char name[FILE_PATH_SIZE];
  if (GetTempFileNameA(folder, "tmp", 0, name) == 0) return nullptr;
  char fullPath[FILE_PATH_SIZE];
  if (BuildAbsolutePath(name, fullPath, FILE_PATH_SIZE, nullptr) != 0) {
    DeleteFileA(name);
    return nullptr;
  }
  DeleteFileA(fullPath);
  HANDLE file = CreateFileA(fullPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  if (path != nullptr) CopyString(path, fullPath);
  return file;
}
