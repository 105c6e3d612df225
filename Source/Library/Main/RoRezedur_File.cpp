// Archive file layer: the default file-stream functions. A folder "X" on a
// file's path may be replaced by an archive "X.RVA" beside it (the
// outermost such folder wins); the file is then read from inside the
// archive, else from disk. Archives are shared by reference count and stay
// open after their last file closes until the table fills or the layer
// ends.
#include <windows.h>

#include "RaRadaraLog.h"
#include "RoRezedur_.h"
#include "VeRavoroString.h"
#include "ZeZezuDoz.h"
#include "ZiDezaru.h"

namespace {

// Log texts.
const char LOG_DAMAGED_MEMBER[] = "アーカイブ内のファイルのデータが壊れています( %s )";
const char LOG_TOO_MANY_FILES[] = "同時に開けるファイルの数が限界を超えました";
const char LOG_NO_MEMORY_FOR_FILE[] = "ファイルの情報を格納するメモリの確保に失敗しました";

}  // namespace

namespace {

enum {
  FILE_KIND_DISK = 0,
  FILE_KIND_MEMBER = 1,
};

// A member's file position after a failed seek or read, or before the first.
const uint64_t FILE_POSITION_UNKNOWN = ~0ull;

enum {
  PENDING_NONE = 0,
  PENDING_PACKED = 1,  // the packed data of the whole file
  PENDING_STORED = 2,  // one read of a stored file
};

// A file inside an archive.
struct MemberState {
  ArchiveRecord* archive;
  const ArchiveFileEntry* entry;
  ArchiveEntryInfo info;
  uint64_t dataPosition;      // of its data in the archive
  unsigned char* unpacked;    // a packed file, whole
  unsigned char* packedData;  // while its asynchronous read runs
  FileAccessRecord* file;     // the archive file, opened again for this member
  uint64_t filePosition;      // where `file` stands, or FILE_POSITION_UNKNOWN
  uint64_t position;
  int endOfFile;
  int async;
  int broken;  // its packed data turned out damaged
  int pending;
  unsigned char* pendingTarget;
  uint64_t pendingSize;
  uint64_t pendingKeyPosition;
};

struct OpenFileRecord {
  int kind;
  FileAccessRecord* disk;
  int archiveIndex;
  MemberState member;
};

struct SharedArchive {
  int refCount;
  ArchiveRecord record;
  char path[ARCHIVE_PATH_SIZE];
};

// A search on disk or inside an archive.
struct SearchRecord {
  SearchRecord* next;  // live searches
  int inArchive;
  intptr_t disk;
  int archiveIndex;
  const unsigned char* directory;  // the folder searched
  int isRoot;
  int phase;  // 0 ".", 1 "..", 2 the entries
  uint64_t nextEntry;
  char pattern[FILE_PATH_SIZE];  // upper-cased last component
};

const char ArchiveExtension[] = "RVA";

// The last archive found for a path.
struct ArchiveLookupCache {
  int valid;
  char path[ARCHIVE_PATH_SIZE];  // folder prefix + "." + extension
  int prefixLength;
  int index;
};

// Everything the layer holds, guarded by the layer lock.
struct ArchiveLayerState {
  OpenFileRecord* openFiles[ARCHIVE_OPEN_FILE_MAX];
  int openFileCount;
  SharedArchive* archives[ARCHIVE_TABLE_MAX];
  int archiveCount;
  SearchRecord* searches;  // live searches, newest first
  int tableLoads;
  int started;
  char keyText[ARCHIVE_PATH_SIZE];
  ArchiveLookupCache lookupCache;
};
ArchiveLayerState Layer;

OnceLockRecord LayerLock;

struct LayerGuard {
  LayerGuard() { ENTER_ONCE_LOCK(&LayerLock); }
  ~LayerGuard() { LeaveOnceLock(&LayerLock); }
};

// ---------------------------------------------------------------------------
// Shared archives

void CloseSharedArchive(int index) {
  SharedArchive* shared = Layer.archives[index];
  CloseArchive(&shared->record);
  MemFree(shared);
  Layer.archives[index] = nullptr;
  --Layer.archiveCount;
}

int CloseUnusedArchivesLocked() {
  for (int i = 0; i < ARCHIVE_TABLE_MAX; ++i)
    if (Layer.archives[i] != nullptr && Layer.archives[i]->refCount <= 0) CloseSharedArchive(i);
  return 0;
}

// The index of the open archive at `path` with its count raised, opening
// it when needed; -1 when it does not open.
int OpenArchiveShared(int hint, const char* path) {
  if (hint >= 0 && hint < ARCHIVE_TABLE_MAX && Layer.archives[hint] != nullptr &&
      CompareStrings(Layer.archives[hint]->path, path) == 0) {
    ++Layer.archives[hint]->refCount;
    return hint;
  }
  int freeIndex = -1;
  for (int i = 0; i < ARCHIVE_TABLE_MAX; ++i) {
    if (Layer.archives[i] == nullptr) {
      if (freeIndex < 0) freeIndex = i;
    } else if (CompareStrings(Layer.archives[i]->path, path) == 0) {
      ++Layer.archives[i]->refCount;
      return i;
    }
  }
  if (Layer.archiveCount >= ARCHIVE_TABLE_MAX || freeIndex < 0) {
    CloseUnusedArchivesLocked();
    if (Layer.archiveCount >= ARCHIVE_TABLE_MAX) return -1;
    for (int i = 0; i < ARCHIVE_TABLE_MAX && freeIndex < 0; ++i)
      if (Layer.archives[i] == nullptr) freeIndex = i;
    if (freeIndex < 0) return -1;
  }
  if (GetStringLength(path) >= ARCHIVE_PATH_SIZE) return -1;
  SharedArchive* shared = static_cast<SharedArchive*>(MEM_ALLOC(sizeof(SharedArchive)));
  if (shared == nullptr) return -1;
  if (OpenArchiveFileTablesOnly(&shared->record, path, Layer.keyText) != 0) {
    MemFree(shared);
    return -1;
  }
  shared->refCount = 1;
  CopyString(shared->path, path);
  Layer.archives[freeIndex] = shared;
  ++Layer.archiveCount;
  ++Layer.tableLoads;
  return freeIndex;
}

void ReleaseSharedArchive(int index) {
  if (index < 0 || index >= ARCHIVE_TABLE_MAX || Layer.archives[index] == nullptr) return;
  if (Layer.archives[index]->refCount > 0) --Layer.archives[index]->refCount;
}

// Upper-cased full path of `path`; -1 when it cannot be made.
int MakeUpperFullPath(const char* path, char* full) {
  if (path == nullptr || BuildAbsolutePath(path, full, ARCHIVE_PATH_SIZE, nullptr) != 0) return -1;
  UpperCaseString(full);
  return 0;
}

// The archive standing for one of the folders of the upper-cased full
// path, with its count raised; `inside` gets the offset of the path inside
// it. -1 when none does.
int FindArchiveForPath(const char* full, int* inside) {
  const int length = GetStringLength(full);
  if (Layer.lookupCache.valid) {
    const int prefix = Layer.lookupCache.prefixLength;
    if (prefix < length && CompareStringsLimited(full, Layer.lookupCache.path, prefix) == 0 &&
        IsPathSeparator(full[prefix])) {
      const int index = OpenArchiveShared(Layer.lookupCache.index, Layer.lookupCache.path);
      if (index >= 0) {
        Layer.lookupCache.index = index;
        *inside = prefix + 1;
        return index;
      }
      Layer.lookupCache.valid = 0;
    }
  }

  // The first candidate folder follows the drive, or the server and share
  // of a network path.
  const int charSet = GetCharSet();
  int i = 0;
  if (IsPathSeparator(full[0]) && IsPathSeparator(full[1])) {
    i = 2;
    for (int skip = 0; skip < 2; ++skip) {
      while (full[i] != '\0' && !IsPathSeparator(full[i]))
        i += IsLeadByte(static_cast<unsigned char>(full[i]), charSet) && full[i + 1] ? 2 : 1;
      if (full[i] == '\0') return -1;
      ++i;
    }
  } else if (full[0] != '\0' && full[1] == ':') {
    i = IsPathSeparator(full[2]) ? 3 : 2;
  } else if (IsPathSeparator(full[0])) {
    i = 1;
  }

  char candidate[ARCHIVE_PATH_SIZE];
  int componentStart = i;
  while (full[i] != '\0') {
    const unsigned char c = static_cast<unsigned char>(full[i]);
    if (IsLeadByte(c, charSet) && full[i + 1] != '\0') {
      i += 2;
      continue;
    }
    if (!IsPathSeparator(full[i])) {
      ++i;
      continue;
    }
    if (i == componentStart) return -1;  // empty component
    if (i + 1 + static_cast<int>(sizeof(ArchiveExtension)) >= ARCHIVE_PATH_SIZE) return -1;
    MemCopy(candidate, full, i);
    candidate[i] = '.';
    CopyString(candidate + i + 1, ArchiveExtension);
    const int index = OpenArchiveShared(-1, candidate);
    if (index >= 0) {
      Layer.lookupCache.valid = 1;
      CopyString(Layer.lookupCache.path, candidate);
      Layer.lookupCache.prefixLength = i;
      Layer.lookupCache.index = index;
      *inside = i + 1;
      return index;
    }
    ++i;
    componentStart = i;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Members

int UnpackMember(MemberState* state, const unsigned char* packed) {
  const uint64_t packedSize = state->info.packedSize;
  if (packedSize < LZ_HEAD_SIZE) return -1;
  if (ReadLE32(packed) != state->info.size || ReadLE32(packed + 4) != packedSize) return -1;
  unsigned char scratch[1];
  const int result = UnpackLZ(packed, state->unpacked != nullptr ? state->unpacked : scratch);
  return result == static_cast<int>(state->info.size) ? 0 : -1;
}

uint64_t StoredKeyPosition(const MemberState* state, uint64_t position) {
  return ArchiveScramblesByPart(state->archive->header.version) ? state->info.size + position
                                                                : state->dataPosition + position;
}

void LogDamagedMember(const MemberState* state) { LogPrintf(LOG_DAMAGED_MEMBER, state->archive->path); }

// Completes a pending asynchronous read: unscrambles it, and unpacks a
// packed file.
void CompletePending(MemberState* state) {
  if (state->pending == PENDING_NONE) return;
  while (IsFileAccessIdle(state->file) == 0) SleepThread(1);
  const int complete = state->file->readDone == state->pendingSize;
  if (state->pending == PENDING_PACKED) {
    int ok = complete;
    if (ok) {
      ApplyArchiveKey(state->packedData, static_cast<size_t>(state->pendingSize), state->pendingKeyPosition,
                      state->archive->key);
      ok = UnpackMember(state, state->packedData) == 0;
    }
    MemFree(state->packedData);
    state->packedData = nullptr;
    // The whole file is in memory now: the archive file is no longer needed.
    CloseFileAccess(state->file);
    state->file = nullptr;
    if (!ok) {
      state->broken = 1;
      LogDamagedMember(state);
    }
  } else if (complete) {
    ApplyArchiveKey(state->pendingTarget, static_cast<size_t>(state->pendingSize), state->pendingKeyPosition,
                    state->archive->key);
  } else {
    LogDamagedMember(state);
  }
  state->pending = PENDING_NONE;
}

int IsPendingDone(MemberState* state) {
  if (state->pending == PENDING_NONE) return 1;
  if (IsFileAccessIdle(state->file) == 0) return 0;
  CompletePending(state);
  return 1;
}

void EndMember(MemberState* state) {
  CompletePending(state);
  MemFree(state->unpacked);
  MemFree(state->packedData);
  if (state->file != nullptr) CloseFileAccess(state->file);
  MemFill(state, 0, sizeof(MemberState));
}

// Called under the layer lock.
int OpenArchiveMember(MemberState* state, ArchiveRecord* archive, const char* path, int async) {
  MemFill(state, 0, sizeof(MemberState));
  while (FinishArchiveAsyncOpen(archive) == 0) SleepThread(0);
  const ArchiveFileEntry* entry = FindArchiveFile(path, archive);
  if (entry == nullptr) return -1;
  state->archive = archive;
  state->entry = entry;
  state->filePosition = FILE_POSITION_UNKNOWN;
  state->async = async ? 1 : 0;
  GetArchiveEntryInfo(archive, entry, &state->info);
  const int packed = state->info.packedSize != ARCHIVE_STORED_64;
  const uint64_t stored = packed ? state->info.packedSize : state->info.size;
  state->dataPosition = archive->header.dataOffset + state->info.dataOffset;
  if (state->info.dataOffset > archive->imageSize || !RangeFits(state->dataPosition, stored, archive->imageSize) ||
      state->info.size > 0x7FFFFFFFu || stored > 0x7FFFFFFFu) {
    LogDamagedMember(state);
    return -1;
  }

  // A packed file read at once comes through the archive's own file, which
  // only opens use, under the layer lock; the others get a file of their own.
  const int ownFile = !archive->inMemory && (!packed || state->async || archive->file == nullptr);
  if (ownFile) {
    state->file = OpenFileAccess(archive->path, 0, 1, state->async);
    if (state->file == nullptr) return -1;
  }
  if (!packed) return 0;

  if (state->info.size > 0) {
    state->unpacked = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(state->info.size)));
    if (state->unpacked == nullptr) {
      EndMember(state);
      return -1;
    }
  }
  if (archive->inMemory) {
    if (UnpackMember(state, archive->image + state->dataPosition) != 0) {
      LogDamagedMember(state);
      EndMember(state);
      return -1;
    }
    return 0;
  }

  FileAccessRecord* source = ownFile ? state->file : archive->file;
  state->packedData = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(stored)));
  if (state->packedData == nullptr || SeekFileAccess(source, static_cast<int64_t>(state->dataPosition), 0) != 0) {
    EndMember(state);
    return -1;
  }
  const uint64_t keyPosition = ArchiveScramblesByPart(archive->header.version) ? state->info.size : state->dataPosition;
  if (state->async) {
    state->pending = PENDING_PACKED;
    state->pendingTarget = state->packedData;
    state->pendingSize = stored;
    state->pendingKeyPosition = keyPosition;
    ReadFileAccess(state->packedData, static_cast<size_t>(stored), 1, source);
    return 0;
  }
  const int read = ReadFileAccess(state->packedData, static_cast<size_t>(stored), 1, source) == 1;
  if (read) ApplyArchiveKey(state->packedData, static_cast<size_t>(stored), keyPosition, archive->key);
  if (!read || UnpackMember(state, state->packedData) != 0) {
    LogDamagedMember(state);
    EndMember(state);
    return -1;
  }
  // The whole file is in memory: no file is kept.
  MemFree(state->packedData);
  state->packedData = nullptr;
  if (state->file != nullptr) CloseFileAccess(state->file);
  state->file = nullptr;
  return 0;
}

size_t ReadMember(MemberState* state, void* buffer, size_t elementSize, size_t count) {
  CompletePending(state);
  if (elementSize == 0 || count == 0 || buffer == nullptr) return 0;
  const uint64_t size = state->broken ? 0 : state->info.size;
  if (state->position >= size) {
    state->endOfFile = 1;
    return 0;
  }
  const uint64_t left = size - state->position;
  if (count > left / elementSize) count = static_cast<size_t>(left / elementSize);
  if (count == 0) {
    state->endOfFile = 1;
    return 0;
  }
  const size_t bytes = elementSize * count;
  if (state->unpacked != nullptr) {
    MemCopy(buffer, state->unpacked + state->position, static_cast<int>(bytes));
  } else if (state->archive->inMemory) {
    MemCopy(buffer, state->archive->image + state->dataPosition + state->position, static_cast<int>(bytes));
  } else {
    const uint64_t at = state->dataPosition + state->position;
    if (state->filePosition != at && SeekFileAccess(state->file, static_cast<int64_t>(at), 0) != 0) {
      state->filePosition = FILE_POSITION_UNKNOWN;
      return 0;
    }
    const uint64_t keyPosition = StoredKeyPosition(state, state->position);
    if (state->async) {
      state->pending = PENDING_STORED;
      state->pendingTarget = static_cast<unsigned char*>(buffer);
      state->pendingSize = bytes;
      state->pendingKeyPosition = keyPosition;
      ReadFileAccess(buffer, bytes, 1, state->file);
    } else {
      if (ReadFileAccess(buffer, bytes, 1, state->file) != 1) {
        state->filePosition = FILE_POSITION_UNKNOWN;
        return 0;
      }
      ApplyArchiveKey(buffer, bytes, keyPosition, state->archive->key);
    }
    state->filePosition = at + bytes;
  }
  state->position += bytes;
  state->endOfFile = 0;
  return count;
}

int SeekMember(MemberState* state, int64_t offset, int origin) {
  CompletePending(state);
  const int64_t size = static_cast<int64_t>(state->broken ? 0 : state->info.size);
  int64_t base;
  switch (origin) {
    case FILE_STREAM_SEEK_SET: base = 0; break;
    case FILE_STREAM_SEEK_CUR: base = static_cast<int64_t>(state->position); break;
    case FILE_STREAM_SEEK_END: base = size; break;
    default:
      base = 0;
      offset = 0;
      break;  // as disk files do
  }
  // Compared before adding, so no offset can overflow.
  if (offset < -base) state->position = 0;
  else if (offset > size - base) state->position = static_cast<uint64_t>(size);
  else state->position = static_cast<uint64_t>(base + offset);
  state->endOfFile = 0;
  return 0;
}

// The record of a handle of this layer, or null.
OpenFileRecord* LookupOpenFile(StreamHandle handle) {
  if ((handle & ARCHIVE_HANDLE_TAG) != ARCHIVE_HANDLE_TAG) return nullptr;
  const uintptr_t index = handle & ARCHIVE_HANDLE_INDEX_MASK;
  if (index >= ARCHIVE_OPEN_FILE_MAX) return nullptr;
  return Layer.openFiles[index];
}

// ---------------------------------------------------------------------------
// Wildcards and searches

void FillArchiveInfo(const ArchiveRecord* archive, const ArchiveFileEntry* entry, FileInfoRecord* info) {
  if (info == nullptr) return;
  ArchiveEntryInfo e;
  GetArchiveEntryInfo(archive, entry, &e);
  const char* name = GetArchiveEntryName(archive, entry, 0);
  CopyStringLimited(info->name, name != nullptr ? name : "", FILE_PATH_SIZE - 1);
  info->isDirectory = (e.attributes & ARCHIVE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
  info->size = info->isDirectory ? 0 : e.size;
  FILETIME created, written;
  created.dwLowDateTime = static_cast<DWORD>(e.creationTime);
  created.dwHighDateTime = static_cast<DWORD>(e.creationTime >> 32);
  written.dwLowDateTime = static_cast<DWORD>(e.lastWriteTime);
  written.dwHighDateTime = static_cast<DWORD>(e.lastWriteTime >> 32);
  int* c = info->creationTime;
  int* w = info->lastWriteTime;
  FileTimeToLocalFields(&created, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5]);
  FileTimeToLocalFields(&written, &w[0], &w[1], &w[2], &w[3], &w[4], &w[5]);
}

void FillDotInfo(const char* name, FileInfoRecord* info) {
  if (info == nullptr) return;
  MemFill(info, 0, sizeof(FileInfoRecord));
  CopyString(info->name, name);
  info->isDirectory = 1;
}

// The next entry of a search inside an archive that matches, or -1.
int NextArchiveMatch(SearchRecord* search, FileInfoRecord* info) {
  const ArchiveRecord* archive = &Layer.archives[search->archiveIndex]->record;
  const int charSet = archive->charSet;
  if (search->phase == 0) {
    search->phase = 1;
    if (MatchArchiveWildcard(search->pattern, ".", charSet)) {
      FillDotInfo(".", info);
      return 0;
    }
  }
  if (search->phase == 1) {
    search->phase = 2;
    if (!search->isRoot && MatchArchiveWildcard(search->pattern, "..", charSet)) {
      FillDotInfo("..", info);
      return 0;
    }
  }
  // The folder's entries were checked against the table when it was entered.
  uint64_t count = 0;
  uint64_t first = 0;
  if (GetArchiveFolderEntries(archive, search->directory, &count, &first) != 0) return -1;
  const uint64_t entrySize = ArchiveFileEntrySize(archive->header.version);
  while (search->nextEntry < count) {
    const ArchiveFileEntry* entry = reinterpret_cast<const ArchiveFileEntry*>(archive->fileTable + first +
                                                                              search->nextEntry * entrySize);
    ++search->nextEntry;
    const char* upper = GetArchiveEntryName(archive, entry, 1);
    if (upper == nullptr || !MatchArchiveWildcard(search->pattern, upper, charSet)) continue;
    FillArchiveInfo(archive, entry, info);
    return 0;
  }
  return -1;
}

void FreeSearch(SearchRecord* search) {
  for (SearchRecord** link = &Layer.searches; *link != nullptr; link = &(*link)->next)
    if (*link == search) {
      *link = search->next;
      break;
    }
  if (search->inArchive) ReleaseSharedArchive(search->archiveIndex);
  else if (search->disk != -1) CloseFileFind(search->disk);
  MemFree(search);
}

SearchRecord* LookupSearch(intptr_t handle) {
  for (SearchRecord* search = Layer.searches; search != nullptr; search = search->next)
    if (reinterpret_cast<intptr_t>(search) == handle) return search;
  return nullptr;
}

// Sets a search inside an archive over the folder of `inside` (a path
// inside the archive whose last component is the pattern). -1 when the
// folder is not there.
int StartArchiveSearch(SearchRecord* search, const char* inside) {
  ArchiveRecord* archive = &Layer.archives[search->archiveIndex]->record;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(inside);
  int last = 0;
  for (int i = 0; p[i] != 0;) {
    if (ArchiveIsLeadByte(p[i], archive->charSet) && p[i + 1] != 0) {
      i += 2;
      continue;
    }
    if (IsPathSeparator(p[i])) last = i + 1;
    ++i;
  }
  if (inside[last] == '\0' || GetStringLength(inside + last) >= FILE_PATH_SIZE) return -1;
  CopyString(search->pattern, inside + last);

  char folder[ARCHIVE_PATH_SIZE];
  MemCopy(folder, inside, last);
  folder[last] = '\0';
  unsigned char* saved = archive->currentDirectory;
  archive->currentDirectory = archive->directoryTable;
  const int found = ChangeArchiveDirectory(archive, folder, 1, nullptr);
  search->directory = archive->currentDirectory;
  archive->currentDirectory = saved;
  if (found != 0) return -1;
  search->isRoot = search->directory == archive->directoryTable;
  // The folder's entries must lie inside the file table.
  return GetArchiveFolderEntries(archive, search->directory, nullptr, nullptr);
}

}  // namespace

// ---------------------------------------------------------------------------
// File-stream slots

StreamHandle ArchiveFileOpen(const char* path, int cacheFlag, int blockFlag, int asyncFlag) {
  if (path == nullptr) return 0;
  LayerGuard guard;
  if (Layer.openFileCount >= ARCHIVE_OPEN_FILE_MAX) {
    LogPrintf(LOG_TOO_MANY_FILES);
    return 0;
  }
  int index = 0;
  while (index < ARCHIVE_OPEN_FILE_MAX && Layer.openFiles[index] != nullptr) ++index;
  OpenFileRecord* record = index < ARCHIVE_OPEN_FILE_MAX
                               ? static_cast<OpenFileRecord*>(MEM_ALLOC(sizeof(OpenFileRecord)))
                               : nullptr;
  if (record == nullptr) {
    LogPrintf(LOG_NO_MEMORY_FOR_FILE);
    return 0;
  }
  MemFill(record, 0, sizeof(OpenFileRecord));
  record->archiveIndex = -1;

  char full[ARCHIVE_PATH_SIZE];
  int inside = 0;
  const int archiveIndex = MakeUpperFullPath(path, full) == 0 ? FindArchiveForPath(full, &inside) : -1;
  int opened;
  if (archiveIndex < 0) {
    record->kind = FILE_KIND_DISK;
    record->disk = OpenFileAccess(path, cacheFlag, 1, asyncFlag);
    opened = record->disk != nullptr;
  } else {
    record->kind = FILE_KIND_MEMBER;
    record->archiveIndex = archiveIndex;
    opened = OpenArchiveMember(&record->member, &Layer.archives[archiveIndex]->record, full + inside, asyncFlag) == 0;
    if (!opened) ReleaseSharedArchive(archiveIndex);
  }
  if (!opened) {
    MemFree(record);
    return 0;
  }
  Layer.openFiles[index] = record;
  ++Layer.openFileCount;
  return static_cast<StreamHandle>(index) | ARCHIVE_HANDLE_TAG;
}

int ArchiveFileClose(StreamHandle handle) {
  LayerGuard guard;
  OpenFileRecord* record = LookupOpenFile(handle);
  if (record == nullptr) return -1;
  if (record->kind == FILE_KIND_MEMBER) {
    ReleaseSharedArchive(record->archiveIndex);
    EndMember(&record->member);
  } else {
    CloseFileAccess(record->disk);
  }
  MemFree(record);
  Layer.openFiles[handle & ARCHIVE_HANDLE_INDEX_MASK] = nullptr;
  --Layer.openFileCount;
  return 0;
}

int64_t ArchiveFileTell(StreamHandle handle) {
  OpenFileRecord* record = LookupOpenFile(handle);
  if (record == nullptr) return -1;
  if (record->kind == FILE_KIND_DISK) return static_cast<int64_t>(GetFileAccessPosition(record->disk));
  CompletePending(&record->member);
  return static_cast<int64_t>(record->member.position);
}

int ArchiveFileSeek(StreamHandle handle, int64_t offset, int origin) {
  OpenFileRecord* record = LookupOpenFile(handle);
  if (record == nullptr) return -1;
  if (record->kind == FILE_KIND_DISK) return SeekFileAccess(record->disk, offset, origin);
  return SeekMember(&record->member, offset, origin);
}

size_t ArchiveFileRead(void* buffer, size_t elementSize, size_t count, StreamHandle handle) {
  OpenFileRecord* record = LookupOpenFile(handle);
  if (record == nullptr) return 0;
  if (record->kind == FILE_KIND_DISK) return ReadFileAccess(buffer, elementSize, count, record->disk);
  return ReadMember(&record->member, buffer, elementSize, count);
}

int ArchiveFileEof(StreamHandle handle) {
  OpenFileRecord* record = LookupOpenFile(handle);
  if (record == nullptr) return -1;
  if (record->kind == FILE_KIND_DISK) return IsFileAccessEnd(record->disk);
  CompletePending(&record->member);
  return record->member.endOfFile ? -1 : 0;
}

int ArchiveFileIdleCheck(StreamHandle handle) {
  OpenFileRecord* record = LookupOpenFile(handle);
  if (record == nullptr) return -1;
  if (record->kind == FILE_KIND_DISK) return IsFileAccessIdle(record->disk);
  return IsPendingDone(&record->member);
}

int ArchiveLayerSetCurrentDir(const char* path) { return FileAccessSetCurrentDir(path); }

int ArchiveLayerGetCurrentDir(char* buffer) { return FileAccessGetCurrentDir(buffer); }

intptr_t ArchiveFindFirst(const char* pattern, FileInfoRecord* info) {
  if (pattern == nullptr) return -1;
  LayerGuard guard;
  SearchRecord* search = static_cast<SearchRecord*>(MEM_ALLOC(sizeof(SearchRecord)));
  if (search == nullptr) return -1;
  MemFill(search, 0, sizeof(SearchRecord));
  search->disk = -1;
  search->archiveIndex = -1;

  char full[ARCHIVE_PATH_SIZE];
  int inside = 0;
  const int archiveIndex = MakeUpperFullPath(pattern, full) == 0 ? FindArchiveForPath(full, &inside) : -1;
  if (archiveIndex >= 0) {
    search->inArchive = 1;
    search->archiveIndex = archiveIndex;
    if (StartArchiveSearch(search, full + inside) != 0 || NextArchiveMatch(search, info) != 0) {
      ReleaseSharedArchive(archiveIndex);
      MemFree(search);
      return -1;
    }
  } else {
    search->disk = FindFirstFileEntry(pattern, info);
    if (search->disk == -1) {
      MemFree(search);
      return -1;
    }
  }
  search->next = Layer.searches;
  Layer.searches = search;
  return reinterpret_cast<intptr_t>(search);
}

int ArchiveFindNext(intptr_t handle, FileInfoRecord* info) {
  LayerGuard guard;
  SearchRecord* search = LookupSearch(handle);
  if (search == nullptr) return -1;
  if (!search->inArchive) return FindNextFileEntry(search->disk, info);
  return NextArchiveMatch(search, info);
}

int ArchiveFindClose(intptr_t handle) {
  LayerGuard guard;
  SearchRecord* search = LookupSearch(handle);
  if (search == nullptr) return -1;
  FreeSearch(search);
  return 0;
}

const FileStreamFunctionTable* GetArchiveFileFunctions() {
  static const FileStreamFunctionTable table = {
      ArchiveFileOpen,           ArchiveFileClose, ArchiveFileTell,      ArchiveFileSeek,
      ArchiveFileRead,           ArchiveFileEof,   ArchiveFileIdleCheck, ArchiveLayerSetCurrentDir,
      ArchiveLayerGetCurrentDir, ArchiveFindFirst, ArchiveFindNext,      ArchiveFindClose};
  return &table;
}

// ---------------------------------------------------------------------------
// Layer control

int StartArchiveLayer() {
  LayerGuard guard;
  if (Layer.started) return -1;
  CloseUnusedArchivesLocked();
  Layer.tableLoads = 0;
  Layer.started = 1;
  return 0;
}

// The layer lock stays alive until the process ends: another thread may be
// entering it at this very moment, and deleting it under that thread would
// break it.
int EndArchiveLayer() {
  LayerGuard guard;
  if (!Layer.started) return -1;
  CloseUnusedArchivesLocked();
  Layer.lookupCache.valid = 0;
  Layer.started = 0;
  return 0;
}

void SetArchiveKeyText(const char* keyText) {
  LayerGuard guard;
  CopyStringLimited(Layer.keyText, keyText != nullptr ? keyText : "", ARCHIVE_PATH_SIZE - 1);
}

int CloseUnusedArchives() {
  LayerGuard guard;
  return CloseUnusedArchivesLocked();
}

int MatchArchiveWildcard(const char* pattern, const char* name, int charSet) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(pattern);
  const unsigned char* n = reinterpret_cast<const unsigned char*>(name);
  for (;;) {
    // The end of both matches; the end of only one does not, so "T*" does
    // not match "T".
    if (*p == 0) return *n == 0;
    if (*n == 0) return 0;
    if (*p == '*') {
      while (*p == '*') ++p;
      if (*p == 0) return 1;
      // Forward to the first byte equal to the one after the run; no
      // backtracking.
      while (*n != 0 && *n != *p) ++n;
      if (*n == 0) return 0;
      ++p;
      ++n;
      continue;
    }
    if (ArchiveIsLeadByte(*p, charSet) && p[1] != 0) {
      if (n[0] != p[0] || n[1] != p[1]) return 0;
      p += 2;
      n += 2;
      continue;
    }
    if (*p != '?' && *p != *n) return 0;
    ++p;
    ++n;
  }
}

int GetArchiveLayerStats(ArchiveLayerStats* stats) {
  if (stats == nullptr) return -1;
  LayerGuard guard;
  stats->openArchives = Layer.archiveCount;
  stats->openFiles = Layer.openFileCount;
  stats->tableLoads = Layer.tableLoads;
  return 0;
}
