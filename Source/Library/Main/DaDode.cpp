// File streams: the plain table over Windows file access, the archive-aware
// table in use, memory streams, and file handles (type 17) with their
// asynchronous open job.
#include "DaDode.h"

#include "RaRadaraLog.h"
#include "RoRezedur_.h"
#include "VeRavoroString.h"
#include "ZeZezuDoz.h"
#include "ZiDezaru.h"

namespace {

// Log texts.
const char LOG_READ_INVALID_HANDLE[] = "ReadFileChar : 無効なハンドルです( 0x%08x )";

}  // namespace

// Library-wide asynchronous-loading setting (device layer).
int IsASyncLoadEnabled();

// ---------------------------------------------------------------------------
// Plain file functions: disk files through Windows file access.

namespace {

FileAccessRecord* AsFileAccess(StreamHandle stream) { return reinterpret_cast<FileAccessRecord*>(stream); }

StreamHandle PlainFileOpen(const char* path, int cacheFlag, int blockFlag, int asyncFlag) {
  return reinterpret_cast<StreamHandle>(OpenFileAccess(path, cacheFlag, blockFlag, asyncFlag));
}

int PlainFileClose(StreamHandle stream) { return CloseFileAccess(AsFileAccess(stream)); }

int64_t PlainFileTell(StreamHandle stream) {
  if (stream == 0) return -1;
  return static_cast<int64_t>(GetFileAccessPosition(AsFileAccess(stream)));
}

int PlainFileSeek(StreamHandle stream, int64_t offset, int origin) {
  return SeekFileAccess(AsFileAccess(stream), offset, origin);
}

size_t PlainFileRead(void* buffer, size_t elementSize, size_t count, StreamHandle stream) {
  return ReadFileAccess(buffer, elementSize, count, AsFileAccess(stream));
}

int PlainFileEof(StreamHandle stream) {
  if (stream == 0) return -1;
  return IsFileAccessEnd(AsFileAccess(stream));
}

int PlainFileIdle(StreamHandle stream) { return IsFileAccessIdle(AsFileAccess(stream)); }

constexpr FileStreamFunctionTable PlainFileFunctions = {
    PlainFileOpen,           PlainFileClose,     PlainFileTell,     PlainFileSeek,
    PlainFileRead,           PlainFileEof,       PlainFileIdle,     FileAccessSetCurrentDir,
    FileAccessGetCurrentDir, FindFirstFileEntry, FindNextFileEntry, CloseFileFind,
};
FileStreamFunctionTable FileFunctions = PlainFileFunctions;

// The library's default set: the archive layer's, so that an archive can
// stand in for a folder.
const FileStreamFunctionTable* DefaultFileStreamFunctions() { return GetArchiveFileFunctions(); }

}  // namespace

int SetupFileStreamFunctions(const FileStreamFunctionTable* table) {
  FileFunctions = table != nullptr ? *table : *DefaultFileStreamFunctions();
  return 0;
}

StreamHandle FileStreamOpen(const char* path, int cacheFlag, int blockFlag, int asyncFlag) {
  return FileFunctions.Open(path, cacheFlag, blockFlag, asyncFlag);
}
int FileStreamClose(StreamHandle stream) { return FileFunctions.Close(stream); }
int64_t FileStreamTell(StreamHandle stream) { return FileFunctions.Tell(stream); }
int FileStreamSeek(StreamHandle stream, int64_t offset, int origin) {
  return FileFunctions.Seek(stream, offset, origin);
}
size_t FileStreamRead(void* buffer, size_t elementSize, size_t count, StreamHandle stream) {
  return FileFunctions.Read(buffer, elementSize, count, stream);
}
int FileStreamEof(StreamHandle stream) { return FileFunctions.Eof(stream); }
int FileStreamIdleCheck(StreamHandle stream) { return FileFunctions.IdleCheck(stream); }
int FileStreamSetDirectory(const char* path) { return FileFunctions.SetCurrentDir(path); }
int FileStreamGetDirectory(char* buffer) { return FileFunctions.GetCurrentDir(buffer); }

const FileStreamFunctionTable* GetFileAccessTable() { return &FileFunctions; }
const FileStreamFunctionTable* GetPlainFileStreamFunctions() { return &PlainFileFunctions; }

// ---------------------------------------------------------------------------
// Stream tables

namespace {

const StreamFunctionTable FileStreamFunctions = {FileStreamTell, FileStreamSeek,      FileStreamRead,
                                                 FileStreamEof,  FileStreamIdleCheck, FileStreamClose};

MemoryStream* AsMemory(StreamHandle stream) { return reinterpret_cast<MemoryStream*>(stream); }
int64_t MemoryTellSlot(StreamHandle stream) { return MemoryStreamTell(AsMemory(stream)); }
int MemorySeekSlot(StreamHandle stream, int64_t offset, int origin) {
  return MemoryStreamSeek(AsMemory(stream), offset, origin);
}
size_t MemoryReadSlot(void* buffer, size_t elementSize, size_t count, StreamHandle stream) {
  return MemoryStreamRead(buffer, elementSize, count, AsMemory(stream));
}
int MemoryEofSlot(StreamHandle stream) { return MemoryStreamEof(AsMemory(stream)); }
int MemoryIdleSlot(StreamHandle stream) { return MemoryStreamIdle(AsMemory(stream)); }
int MemoryCloseSlot(StreamHandle stream) { return CloseMemoryStream(AsMemory(stream)); }

const StreamFunctionTable MemoryStreamFunctions = {MemoryTellSlot, MemorySeekSlot, MemoryReadSlot,
                                                   MemoryEofSlot,  MemoryIdleSlot, MemoryCloseSlot};

}  // namespace

const StreamFunctionTable* GetFileStreamTable() { return &FileStreamFunctions; }
const StreamFunctionTable* GetMemoryStreamTable() { return &MemoryStreamFunctions; }

// ---------------------------------------------------------------------------
// Memory streams

MemoryStream* CreateMemoryStream(const void* data, uint32_t size) {
  MemoryStream* stream = static_cast<MemoryStream*>(MEM_ALLOC(sizeof(MemoryStream)));
  if (stream == nullptr) return nullptr;
  stream->data = data;
  stream->size = size;
  stream->position = 0;
  stream->endOfFile = 0;
  return stream;
}

int64_t MemoryStreamTell(MemoryStream* stream) { return stream != nullptr ? stream->position : -1; }

int MemoryStreamSeek(MemoryStream* stream, int64_t offset, int origin) {
  if (stream == nullptr) return -1;
  int64_t base;
  switch (origin) {
    case 0: base = 0; break;
    case 1: base = stream->position; break;
    case 2: base = stream->size; break;
    default:
      base = 0;
      offset = 0;
      break;
  }
  // Compared before adding, so no offset can overflow.
  const int64_t size = stream->size;
  if (offset < -base) stream->position = 0;
  else if (offset > size - base) stream->position = stream->size;
  else stream->position = static_cast<uint32_t>(base + offset);
  stream->endOfFile = 0;
  return 0;
}

size_t MemoryStreamRead(void* buffer, size_t elementSize, size_t count, MemoryStream* stream) {
  if (stream == nullptr || elementSize == 0 || count == 0) return 0;
  if (stream->position >= stream->size) {
    stream->endOfFile = 1;
    return 0;
  }
  const uint32_t left = stream->size - stream->position;
  const unsigned char* from = static_cast<const unsigned char*>(stream->data) + stream->position;
  uint64_t bytes = static_cast<uint64_t>(elementSize) * count;
  if (left < bytes) {
    count = left / elementSize;
    if (count == 0) {
      // Less than one element left: it is copied and counts as one.
      MemCopy(buffer, from, static_cast<int>(left));
      stream->position = stream->size;
      stream->endOfFile = 0;
      return 1;
    }
    bytes = static_cast<uint64_t>(elementSize) * count;
  }
  MemCopy(buffer, from, static_cast<int>(bytes));
  stream->position += static_cast<uint32_t>(bytes);
  stream->endOfFile = 0;
  return count;
}

int MemoryStreamEof(MemoryStream* stream) { return stream != nullptr ? static_cast<int>(stream->endOfFile) : -1; }

int MemoryStreamIdle(MemoryStream*) { return 1; }

int CloseMemoryStream(MemoryStream* stream) {
  if (stream == nullptr) return -1;
  MemFree(stream);
  return 0;
}

// ---------------------------------------------------------------------------
// File handles

namespace {

FileOpenJobQueueFunction QueueFileOpenJob = nullptr;

}  // namespace

void SetFileOpenJobQueueFunction(FileOpenJobQueueFunction queue) { QueueFileOpenJob = queue; }

int InitializeFileHandles() {
  if (HandleManagers[HANDLETYPE_FILE].initialized) return -1;
  return InitHandleType(HANDLETYPE_FILE, sizeof(FileHandleRecord), FILE_HANDLE_MAX, ReturnZero, CloseFileHandleRecord,
                        "ファイル");
}

int TerminateFileHandles() {
  if (!HandleManagers[HANDLETYPE_FILE].initialized) return -1;
  return TermHandleType(HANDLETYPE_FILE);
}

int CloseFileHandleRecord(HandleRecordHeader* record) {
  FileHandleRecord* file = reinterpret_cast<FileHandleRecord*>(record);
  if (file->kind == FILE_HANDLE_STREAM) {
    if (file->stream != 0) FileStreamClose(file->stream);
    file->stream = 0;
  } else {
    MemFree(file->memoryImage);
    file->memoryImage = nullptr;
  }
  return 0;
}

namespace {

// Null for an invalid handle, or one that a loading job still works on
// unless allowPending is set.
FileHandleRecord* LookupFileHandle(int handle, int allowPending) {
  HandleRecordHeader* record = GetHandleRecordOfType(handle, HANDLETYPE_FILE);
  if (record == nullptr) return nullptr;
  if (!allowPending && __atomic_load_n(&record->asyncLoadCount, __ATOMIC_SEQ_CST) != 0) return nullptr;
  return reinterpret_cast<FileHandleRecord*>(record);
}

}  // namespace

int OpenFileHandleStream(int handle, const char* path, int asyncRead, int allowPending) {
  FileHandleRecord* file = LookupFileHandle(handle, allowPending);
  if (file == nullptr || file->kind != FILE_HANDLE_STREAM || file->stream != 0) return -1;
  const StreamHandle stream = FileStreamOpen(path, 0, 1, asyncRead);
  if (stream == 0) return -1;
  file->stream = stream;
  return 0;
}

int OpenFileHandleJob(int handle, const char* fullPath, int asyncRead) {
  const int result = OpenFileHandleStream(handle, fullPath, asyncRead, 1);
  SubHandleAsyncCount(handle);
  // A failed open takes its handle with it, so later lookups fail.
  if (result != 0) DeleteHandle(handle);
  return result;
}

int OpenReadFileCore(const char* path, int asyncRead, int asyncLoad) {
  if (!HandleManagers[HANDLETYPE_FILE].initialized) InitializeFileHandles();

  // A refusal returns -1 until the handle's record is found, 0 after.
  int refused = -1;
  char fullPath[FILE_PATH_SIZE];
  const int handle = CreateHandle(HANDLETYPE_FILE, -1);
  if (handle == -1) return -1;
  if (LookupFileHandle(handle, 0) == nullptr) goto refuse;
  refused = 0;

  if (asyncLoad) {
    // The job gets the full path: the current directory may change before it runs.
    if (path == nullptr || BuildAbsolutePath(path, fullPath, FILE_PATH_SIZE, nullptr) != 0 ||
        QueueFileOpenJob == nullptr || QueueFileOpenJob(handle, fullPath, asyncRead) != 0)
      goto refuse;
    return handle;
  }

  if (OpenFileHandleStream(handle, path, asyncRead, 0) != 0) goto refuse;
  return handle;

refuse:
  DeleteHandle(handle);
  return refused;
}

int OpenReadFile(const char* path, int asyncRead) { return OpenReadFileCore(path, asyncRead, IsASyncLoadEnabled()); }

// The next byte as a signed char: -1 at the end of the file, for a memory
// image, or when nothing could be read; 0 for an invalid handle. A byte
// 0xFF reads as -1 like the end; the callers read ASCII text.
int ReadFileChar(int handle) {
  FileHandleRecord* file = LookupFileHandle(handle, 0);
  if (file == nullptr) {
    if (handle >= 0 && GetHandleRecordOfType(handle, HANDLETYPE_FILE) == nullptr)
      LogPrintf(LOG_READ_INVALID_HANDLE, handle);
    return 0;
  }
  if (file->kind != FILE_HANDLE_STREAM || file->stream == 0) return -1;
  if (FileStreamEof(file->stream) != 0) return -1;

  unsigned char byte = 0;
  const size_t read = FileStreamRead(&byte, 1, 1, file->stream);
  while (FileStreamIdleCheck(file->stream) == 0) SleepThread(0);
  if (read != 1) return -1;
  return static_cast<signed char>(byte);
}

int CloseReadFile(int handle) { return DeleteHandle(handle); }

// ---------------------------------------------------------------------------
// Full paths

namespace {

// Output under construction; `fits` drops to 0 at the first byte that has
// no room (one byte is always kept for the NUL).
struct PathOutput {
  char* text;
  int size;
  int length;
  int fits;

  void Add(const char* bytes, int count) {
    for (int i = 0; i < count; ++i) {
      if (length + 1 >= size) {
        fits = 0;
        return;
      }
      text[length++] = bytes[i];
    }
    text[length] = '\0';
  }
};

}  // namespace

namespace {

// Drops the output's last component: cut at its last "\" or "/", or just
// after its last ":". Walks forward so that a trail byte is never a separator.
void DropLastComponent(PathOutput* out, int charSet) {
  int cut = 0;
  for (int i = 0; i < out->length;) {
    const unsigned char c = static_cast<unsigned char>(out->text[i]);
    if (IsLeadByte(c, charSet) && i + 1 < out->length) {
      i += 2;
      continue;
    }
    if (c == '\\' || c == '/') cut = i;
    if (c == ':') cut = i + 1;
    ++i;
  }
  out->length = cut;
  out->text[cut] = '\0';
}

void AddComponent(PathOutput* out, const char* component, int length) {
  out->Add("\\", 1);
  out->Add(component, length);
}

}  // namespace

int BuildAbsolutePath(const char* path, char* output, int outputSize, const char* base) {
  if (output == nullptr || outputSize <= 0) return -1;
  char currentDir[FILE_PATH_SIZE];
  if (base == nullptr) {
    if (FileStreamGetDirectory(currentDir) != 0) {
      output[0] = '\0';
      return -1;
    }
    base = currentDir;
  }
  const int charSet = GetCharSet();
  PathOutput out = {output, outputSize, 0, 1};
  output[0] = '\0';

  if (path == nullptr) {
    out.Add(base, GetStringLength(base));
    if (!out.fits) output[0] = '\0';
    return out.fits ? 0 : -1;
  }

  int i = 0;
  if (IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    // Network path.
    out.Add("\\", 1);
    i = 2;
  } else if (IsPathSeparator(path[0])) {
    // Root of the base's drive.
    out.Add(base, base[0] == '\0' ? 0 : (base[1] == '\0' ? 1 : 2));
    i = 1;
  } else if (path[0] != '\0' && !IsLeadByte(static_cast<unsigned char>(path[0]), charSet) && path[1] == ':') {
    out.Add(path, 2);
    i = IsPathSeparator(path[2]) ? 3 : 2;
  } else {
    int length = GetStringLength(base);
    if (length > 0 && IsPathSeparator(base[length - 1]) && GetCharBytePositionKind(base, length - 1, charSet) == 0)
      --length;
    out.Add(base, length);
  }

  // Components, taken whole up to each separator.
  const char* component = path + i;
  int componentLength = 0;
  while (path[i] != '\0') {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(c, charSet) && path[i + 1] != '\0') {
      componentLength += 2;
      i += 2;
      continue;
    }
    if (IsPathSeparator(path[i])) {
      if (componentLength == 2 && component[0] == '.' && component[1] == '.') {
        DropLastComponent(&out, charSet);
      } else if (componentLength > 0 && !(componentLength == 1 && component[0] == '.')) {
        AddComponent(&out, component, componentLength);
      }
      ++i;
      component = path + i;
      componentLength = 0;
      continue;
    }
    ++componentLength;
    ++i;
  }
  // A last component without a separator after it is kept as it is.
  if (componentLength > 0) AddComponent(&out, component, componentLength);

  if (!out.fits) {
    output[0] = '\0';
    return -1;
  }
  return 0;
}

int ConvertToFullPath(const char* path, char* output, int outputSize, const char* base) {
  return BuildAbsolutePath(path, output, outputSize, base);
}
