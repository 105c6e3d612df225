// Archive format: header and tables, path lookup, scrambling, and opening
// an archive from caller memory, as tables only, or whole into memory.
// Every offset read from an archive is checked against the table block or
// the image before it is used.
#include "RoRezedur_.h"

#include <emmintrin.h>

#include "RaRadaraLog.h"
#include "VeRavoroString.h"
#include "ZeZezuDoz.h"
#include "ZiDezaru.h"

namespace {

// Log texts.
const char LOG_ARCHIVE_FILE_UNREADABLE[] = "アーカイブファイル %s を開けませんでした、壊れているか鍵が違います";
const char LOG_MEMORY_ARCHIVE_UNREADABLE[] = "メモリ上のアーカイブを開けませんでした、壊れているか鍵が違います";
const char LOG_NO_MEMORY_FOR_TABLES[] = "アーカイブのテーブルを読み込むメモリの確保に失敗しました( %s )";
const char LOG_NO_MEMORY_FOR_ARCHIVE[] = "アーカイブファイルを読み込むメモリの確保に失敗しました( %s )";

}  // namespace

// Deepest folder nesting walked when a whole image is unscrambled.
enum { ARCHIVE_WALK_DEPTH_MAX = 512 };

// ---------------------------------------------------------------------------
// Tables

namespace {

int Version(const ArchiveRecord* archive) { return archive->header.version; }

uint64_t TableSize(const ArchiveRecord* archive) { return archive->header.tableSize; }

const unsigned char* DirectoryAt(const ArchiveRecord* archive, uint64_t offset) {
  const uint64_t start = archive->header.directoryTableOffset;
  if (offset > TableSize(archive) ||
      !RangeFits(start + offset, ArchiveDirectoryEntrySize(Version(archive)), TableSize(archive)))
    return nullptr;
  return archive->directoryTable + offset;
}

// The name entry at `offset`: u16 units, u16 sum, the upper-cased name and
// the name as written, each units * 4 bytes. Null outside the block.
const unsigned char* NameAt(const ArchiveRecord* archive, uint64_t offset) {
  if (!RangeFits(offset, 4, TableSize(archive))) return nullptr;
  const unsigned char* entry = archive->nameTable + offset;
  const uint64_t units = ReadLE16(entry);
  if (units == 0 || !RangeFits(offset + 4, units * 8, TableSize(archive))) return nullptr;
  return entry;
}

struct DirectoryInfo {
  uint64_t fileEntryOffset;
  uint64_t parentOffset;
  uint64_t entryCount;
  uint64_t firstEntryOffset;
};

void ReadDirectory(const ArchiveRecord* archive, const unsigned char* directory, DirectoryInfo* info) {
  if (archive->oldLayout) {
    info->fileEntryOffset = ReadLE32(directory);
    const uint32_t parent = ReadLE32(directory + 4);
    info->parentOffset = parent == ARCHIVE_NO_PARENT_32 ? ARCHIVE_NO_PARENT_64 : parent;
    info->entryCount = ReadLE32(directory + 8);
    info->firstEntryOffset = ReadLE32(directory + 12);
  } else {
    info->fileEntryOffset = ReadLE64(directory);
    info->parentOffset = ReadLE64(directory + 8);
    info->entryCount = ReadLE64(directory + 16);
    info->firstEntryOffset = ReadLE64(directory + 24);
  }
}

// Checks that a folder's entries lie inside the file table.
int DirectoryEntriesFit(const ArchiveRecord* archive, const DirectoryInfo& info) {
  const uint64_t entrySize = ArchiveFileEntrySize(Version(archive));
  const uint64_t start = archive->header.fileTableOffset;
  if (info.firstEntryOffset > TableSize(archive)) return 0;
  const uint64_t begin = start + info.firstEntryOffset;
  if (begin > TableSize(archive)) return 0;
  return info.entryCount <= (TableSize(archive) - begin) / entrySize;
}

}  // namespace

int GetArchiveFolderEntries(const ArchiveRecord* archive, const unsigned char* directory, uint64_t* count,
                            uint64_t* firstOffset) {
  if (archive == nullptr || directory == nullptr) return -1;
  DirectoryInfo info;
  ReadDirectory(archive, directory, &info);
  if (!DirectoryEntriesFit(archive, info)) return -1;
  if (count != nullptr) *count = info.entryCount;
  if (firstOffset != nullptr) *firstOffset = info.firstEntryOffset;
  return 0;
}

int GetArchiveEntryInfo(const ArchiveRecord* archive, const ArchiveFileEntry* entry, ArchiveEntryInfo* info) {
  if (archive == nullptr || entry == nullptr || info == nullptr) return -1;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(entry);
  if (archive->oldLayout) {
    info->nameOffset = ReadLE32(p);
    info->attributes = ReadLE32(p + 4);
    info->creationTime = ReadLE64(p + 8);
    info->lastAccessTime = ReadLE64(p + 16);
    info->lastWriteTime = ReadLE64(p + 24);
    info->dataOffset = ReadLE32(p + 32);
    info->size = ReadLE32(p + 36);
    info->packedSize = ARCHIVE_STORED_64;
    if (ArchiveCanPack(Version(archive))) {
      const uint32_t packed = ReadLE32(p + 40);
      if (packed != ARCHIVE_STORED_32) info->packedSize = packed;
    }
  } else {
    info->nameOffset = ReadLE64(p);
    info->attributes = ReadLE64(p + 8);
    info->creationTime = ReadLE64(p + 16);
    info->lastAccessTime = ReadLE64(p + 24);
    info->lastWriteTime = ReadLE64(p + 32);
    info->dataOffset = ReadLE64(p + 40);
    info->size = ReadLE64(p + 48);
    info->packedSize = ReadLE64(p + 56);
  }
  return 0;
}

const char* GetArchiveEntryName(const ArchiveRecord* archive, const ArchiveFileEntry* entry, int upper) {
  ArchiveEntryInfo info;
  if (GetArchiveEntryInfo(archive, entry, &info) != 0) return nullptr;
  const unsigned char* name = NameAt(archive, info.nameOffset);
  if (name == nullptr) return nullptr;
  const uint32_t bytes = ReadLE16(name) * 4u;
  const unsigned char* text = name + 4 + (upper ? 0 : bytes);
  if (text[bytes - 1] != 0) return nullptr;  // no NUL: damaged
  return reinterpret_cast<const char*>(text);
}

// ---------------------------------------------------------------------------
// Search names and folders

int MakeArchiveSearchName(const char* text, const ArchiveRecord* archive, ArchiveSearchName* name, int* consumed) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const int charSet = archive != nullptr ? archive->charSet : 0;
  int length = 0;
  while (p[length] != 0 && !IsPathSeparator(p[length])) {
    int width = (ArchiveIsLeadByte(p[length], charSet) && p[length + 1] != 0) ? 2 : 1;
    if (length + width >= ARCHIVE_NAME_MAX) {
      if (consumed != nullptr) *consumed = 0;
      return -1;
    }
    if (width == 2) {
      name->bytes[length] = p[length];
      name->bytes[length + 1] = p[length + 1];
    } else {
      unsigned char c = p[length];
      if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
      name->bytes[length] = c;
    }
    length += width;
  }
  const int units = ArchiveNameUnits(length);
  MemFill(name->bytes + length, 0, units * 4 - length);
  uint16_t sum = 0;
  for (int i = 0; i < length; ++i) sum = static_cast<uint16_t>(sum + name->bytes[i]);
  name->sum = sum;
  name->units = static_cast<uint16_t>(units);
  if (consumed != nullptr) *consumed = length + (p[length] != 0 ? 1 : 0);
  return length;
}

namespace {

int NameMatches(const ArchiveRecord* archive, uint64_t nameOffset, const ArchiveSearchName* name) {
  const unsigned char* entry = NameAt(archive, nameOffset);
  if (entry == nullptr) return 0;
  if (ReadLE16(entry) != name->units || ReadLE16(entry + 2) != name->sum) return 0;
  return MemCompare(entry + 4, name->bytes, name->units * 4) == 0;
}

const unsigned char* RootDirectory(const ArchiveRecord* archive) { return archive->directoryTable; }

// Finds among the current folder's entries the first whose folder flag is
// `folder` and whose name matches. Null when none does (or the folder's
// entries lie outside the table).
const unsigned char* FindInCurrentFolder(const ArchiveRecord* archive, const ArchiveSearchName* name, int folder) {
  DirectoryInfo directory;
  ReadDirectory(archive, archive->currentDirectory, &directory);
  if (!DirectoryEntriesFit(archive, directory)) return nullptr;
  const uint64_t entrySize = ArchiveFileEntrySize(Version(archive));
  for (uint64_t i = 0; i < directory.entryCount; ++i) {
    const unsigned char* entry = archive->fileTable + directory.firstEntryOffset + i * entrySize;
    ArchiveEntryInfo info;
    GetArchiveEntryInfo(archive, reinterpret_cast<const ArchiveFileEntry*>(entry), &info);
    if (((info.attributes & ARCHIVE_ATTRIBUTE_DIRECTORY) != 0) != (folder != 0)) continue;
    if (NameMatches(archive, info.nameOffset, name)) return entry;
  }
  return nullptr;
}

}  // namespace

int EnterArchiveSubDirectory(ArchiveRecord* archive, const ArchiveSearchName* name) {
  if (archive == nullptr || archive->table == nullptr || name == nullptr) return -1;
  const unsigned char* entry = FindInCurrentFolder(archive, name, 1);
  if (entry == nullptr) return -1;
  ArchiveEntryInfo info;
  GetArchiveEntryInfo(archive, reinterpret_cast<const ArchiveFileEntry*>(entry), &info);
  const unsigned char* directory = DirectoryAt(archive, info.dataOffset);
  if (directory == nullptr) return -1;
  archive->currentDirectory = const_cast<unsigned char*>(directory);
  return 0;
}

namespace {

int GoToParent(ArchiveRecord* archive) {
  DirectoryInfo directory;
  ReadDirectory(archive, archive->currentDirectory, &directory);
  if (directory.parentOffset == ARCHIVE_NO_PARENT_64) return 0;  // the root's parent is the root
  const unsigned char* parent = DirectoryAt(archive, directory.parentOffset);
  if (parent == nullptr) return -1;
  archive->currentDirectory = const_cast<unsigned char*>(parent);
  return 0;
}

// Walks `length` bytes of `path` from the current folder.
int WalkArchivePath(ArchiveRecord* archive, const char* path, int length, ArchiveSearchName* failedName) {
  int i = 0;
  if (length > 0 && IsPathSeparator(static_cast<unsigned char>(path[0]))) {
    archive->currentDirectory = const_cast<unsigned char*>(RootDirectory(archive));
    i = 1;
  }
  ArchiveSearchName name;
  while (i < length) {
    int consumed = 0;
    const int componentLength = MakeArchiveSearchName(path + i, archive, &name, &consumed);
    if (componentLength < 0) return -1;
    if (i + componentLength > length) return -1;
    const char* component = path + i;
    i += consumed;
    if (componentLength == 0) continue;
    if (componentLength == 1 && component[0] == '.') continue;
    if (componentLength == 2 && component[0] == '.' && component[1] == '.') {
      if (GoToParent(archive) != 0) return -1;
      continue;
    }
    if (EnterArchiveSubDirectory(archive, &name) != 0) {
      if (failedName != nullptr) *failedName = name;
      return -1;
    }
  }
  return 0;
}

// Waits for a pending whole-image read; false when the archive is not open.
int ArchiveReady(ArchiveRecord* archive) {
  if (archive == nullptr) return 0;
  while (FinishArchiveAsyncOpen(archive) == 0) SleepThread(0);
  return archive->table != nullptr;
}

}  // namespace

int ChangeArchiveDirectory(ArchiveRecord* archive, const char* path, int restore, ArchiveSearchName* failedName) {
  if (!ArchiveReady(archive) || path == nullptr) return -1;
  unsigned char* saved = archive->currentDirectory;
  if (WalkArchivePath(archive, path, GetStringLength(path), failedName) != 0) {
    if (restore == 1) archive->currentDirectory = saved;
    return -1;
  }
  return 0;
}

namespace {

const ArchiveFileEntry* FindEntry(const char* path, ArchiveRecord* archive) {
  if (!ArchiveReady(archive) || path == nullptr) return nullptr;
  // The last component starts after the last separator (trail bytes are
  // never separators).
  const unsigned char* p = reinterpret_cast<const unsigned char*>(path);
  int last = 0;
  int i = 0;
  while (p[i] != 0) {
    if (ArchiveIsLeadByte(p[i], archive->charSet) && p[i + 1] != 0) {
      i += 2;
      continue;
    }
    if (IsPathSeparator(p[i])) last = i + 1;
    ++i;
  }
  if (p[last] == 0) return nullptr;

  unsigned char* saved = archive->currentDirectory;
  const unsigned char* entry = nullptr;
  if (WalkArchivePath(archive, path, last, nullptr) == 0) {
    ArchiveSearchName name;
    if (MakeArchiveSearchName(path + last, archive, &name, nullptr) > 0) entry = FindInCurrentFolder(archive, &name, 0);
  }
  archive->currentDirectory = saved;
  return reinterpret_cast<const ArchiveFileEntry*>(entry);
}

}  // namespace

const ArchiveFileEntry* FindArchiveFileEntryOld(const char* path, ArchiveRecord* archive) {
  if (archive == nullptr || !ArchiveReady(archive) || !archive->oldLayout) return nullptr;
  return FindEntry(path, archive);
}

const ArchiveFileEntry* FindArchiveFileEntry(const char* path, ArchiveRecord* archive) {
  if (archive == nullptr || !ArchiveReady(archive) || archive->oldLayout) return nullptr;
  return FindEntry(path, archive);
}

const ArchiveFileEntry* FindArchiveFile(const char* path, ArchiveRecord* archive) { return FindEntry(path, archive); }

// ---------------------------------------------------------------------------
// Scrambling

void MakeArchiveKey(const char* keyText, unsigned char* key) { BuildArchiveKey(keyText, key); }

void ApplyArchiveKey(void* data, size_t size, uint64_t keyPosition, const unsigned char* key) {
  unsigned char* p = static_cast<unsigned char*>(data);
  const unsigned start = static_cast<unsigned>(keyPosition % ARCHIVE_KEY_SIZE);
  // 48 bytes hold the key four times over, so three 16-byte vectors repeat.
  alignas(16) unsigned char pattern[48];
  for (int i = 0; i < 48; ++i) pattern[i] = key[(start + i) % ARCHIVE_KEY_SIZE];
  size_t i = 0;
  if (size >= 48) {
    const __m128i k0 = _mm_load_si128(reinterpret_cast<const __m128i*>(pattern));
    const __m128i k1 = _mm_load_si128(reinterpret_cast<const __m128i*>(pattern + 16));
    const __m128i k2 = _mm_load_si128(reinterpret_cast<const __m128i*>(pattern + 32));
    for (; i + 48 <= size; i += 48) {
      __m128i* v = reinterpret_cast<__m128i*>(p + i);
      _mm_storeu_si128(v, _mm_xor_si128(_mm_loadu_si128(v), k0));
      _mm_storeu_si128(v + 1, _mm_xor_si128(_mm_loadu_si128(v + 1), k1));
      _mm_storeu_si128(v + 2, _mm_xor_si128(_mm_loadu_si128(v + 2), k2));
    }
  }
  for (; i < size; ++i) p[i] ^= pattern[i % 48];
}

int ReadArchiveBlock(void* buffer, size_t size, const unsigned char* key, uint64_t keyPosition, uint64_t filePosition,
                     FileAccessRecord* file) {
  if (file == nullptr || (buffer == nullptr && size > 0)) return -1;
  if (filePosition != ~0ull && SeekFileAccess(file, static_cast<int64_t>(filePosition), 0) != 0) return -1;
  if (size == 0) return 0;
  if (ReadFileAccess(buffer, size, 1, file) != 1) return -1;
  if (key != nullptr) ApplyArchiveKey(buffer, size, keyPosition, key);
  return 0;
}

// ---------------------------------------------------------------------------
// Header

namespace {

// Which of the key of the key text and the fallback key turns the first two
// bytes into the magic; the chosen key goes to `key`.
int ChooseKey(const unsigned char* first, const char* keyText, unsigned char* key) {
  MakeArchiveKey(keyText, key);
  if ((ReadLE16(first) ^ ReadLE16(key)) == ARCHIVE_MAGIC) return 0;
  BuildArchiveFallbackKey(key);
  if ((ReadLE16(first) ^ ReadLE16(key)) == ARCHIVE_MAGIC) return 0;
  return -1;
}

void ParseHeader(const unsigned char* bytes, ArchiveHeader* header) {
  header->magic = ReadLE16(bytes);
  header->version = ReadLE16(bytes + 2);
  header->tableSize = ReadLE32(bytes + 4);
  if (header->version >= 6) {
    header->dataOffset = ReadLE64(bytes + 8);
    header->tableOffset = ReadLE64(bytes + 16);
    header->fileTableOffset = ReadLE64(bytes + 24);
    header->directoryTableOffset = ReadLE64(bytes + 32);
    header->codePage = ReadLE64(bytes + 40);
  } else {
    header->dataOffset = ReadLE32(bytes + 8);
    header->tableOffset = ReadLE32(bytes + 12);
    header->fileTableOffset = ReadLE32(bytes + 16);
    header->directoryTableOffset = ReadLE32(bytes + 20);
    header->codePage = header->version >= 4 ? ReadLE32(bytes + ARCHIVE_CODE_PAGE_POSITION) : 0;
  }
}

// Header fields that can be checked before the table block is read.
int HeaderFits(const ArchiveHeader& header, uint64_t imageSize) {
  if (header.magic != ARCHIVE_MAGIC || header.version > ARCHIVE_VERSION_MAX) return 0;
  if (header.tableSize == 0 || !RangeFits(header.tableOffset, header.tableSize, imageSize)) return 0;
  if (header.dataOffset > imageSize) return 0;
  if (header.fileTableOffset > header.tableSize) return 0;
  return RangeFits(header.directoryTableOffset, ArchiveDirectoryEntrySize(header.version), header.tableSize);
}

// Sets the record's version fields and table pointers over a loaded table
// block and checks the root folder.
int SetTables(ArchiveRecord* archive, const ArchiveHeader& header, unsigned char* table) {
  archive->header = header;
  archive->oldLayout = header.version < 6 ? 1 : 0;
  archive->charSet = header.version >= 6 && (header.codePage >> 32) != 0 ? 0
                                                                         : ArchiveCodePageToCharSet(header.codePage);
  archive->table = table;
  archive->nameTable = table;
  archive->fileTable = table + header.fileTableOffset;
  archive->directoryTable = table + header.directoryTableOffset;
  archive->currentDirectory = archive->directoryTable;
  DirectoryInfo root;
  ReadDirectory(archive, archive->directoryTable, &root);
  return DirectoryEntriesFit(archive, root) ? 0 : -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Images in memory

// Calls `visit` with the data of every file under `directory` (versions 5
// and 6, whose files are scrambled one by one). -1 when an entry or its
// data lies outside the tables or the image, or the folders nest too deep.
typedef void (*FileDataVisitor)(unsigned char* data, uint64_t size, uint64_t keyPosition, const unsigned char* key);

namespace {

int WalkFileData(ArchiveRecord* archive, const unsigned char* directory, int depth, FileDataVisitor visit,
                 int* budget) {
  if (depth > ARCHIVE_WALK_DEPTH_MAX || --*budget < 0) return -1;
  DirectoryInfo info;
  ReadDirectory(archive, directory, &info);
  if (!DirectoryEntriesFit(archive, info)) return -1;
  const uint64_t entrySize = ArchiveFileEntrySize(Version(archive));
  for (uint64_t i = 0; i < info.entryCount; ++i) {
    ArchiveEntryInfo entry;
    GetArchiveEntryInfo(
        archive, reinterpret_cast<const ArchiveFileEntry*>(archive->fileTable + info.firstEntryOffset + i * entrySize),
        &entry);
    if (entry.attributes & ARCHIVE_ATTRIBUTE_DIRECTORY) {
      const unsigned char* sub = DirectoryAt(archive, entry.dataOffset);
      if (sub == nullptr || sub == directory) return -1;
      if (WalkFileData(archive, sub, depth + 1, visit, budget) != 0) return -1;
      continue;
    }
    const uint64_t length = entry.packedSize != ARCHIVE_STORED_64 ? entry.packedSize : entry.size;
    if (entry.dataOffset > archive->imageSize) return -1;
    const uint64_t start = archive->header.dataOffset + entry.dataOffset;
    if (!RangeFits(start, length, archive->imageSize)) return -1;
    // Data over the header or the tables would change them while they are
    // walked, and the image could not be restored.
    const uint64_t tableStart = archive->header.tableOffset;
    if (length > 0 && (start < static_cast<uint64_t>(ArchiveHeaderSize(Version(archive))) ||
                       (start < tableStart + TableSize(archive) && tableStart < start + length)))
      return -1;
    if (visit != nullptr) visit(archive->image + start, length, entry.size, archive->key);
  }
  return 0;
}

void ScrambleFileData(unsigned char* data, uint64_t size, uint64_t keyPosition, const unsigned char* key) {
  ApplyArchiveKey(data, static_cast<size_t>(size), keyPosition, key);
}

int WalkAllFileData(ArchiveRecord* archive, FileDataVisitor visit) {
  // Every folder has a directory entry, so no walk visits more folders than
  // the table can hold; a longer walk loops.
  int budget = static_cast<int>(TableSize(archive) / ArchiveDirectoryEntrySize(Version(archive))) + 1;
  return WalkFileData(archive, archive->directoryTable, 0, visit, &budget);
}

// Unscrambles an image in place and sets the record over it. The key is
// already in the record. On failure the image is as it was.
int OpenImage(ArchiveRecord* archive, unsigned char* image, uint64_t size) {
  if (size < 4) return -1;
  unsigned char head[4];
  MemCopy(head, image, 4);
  ApplyArchiveKey(head, 4, 0, archive->key);
  const int version = ReadLE16(head + 2);
  if (version > ARCHIVE_VERSION_MAX || size < static_cast<uint64_t>(ArchiveHeaderSize(version))) return -1;
  archive->image = image;
  archive->imageSize = size;

  ArchiveHeader header;
  if (!ArchiveScramblesByPart(version)) {
    if (size > static_cast<uint64_t>(SIZE_MAX)) return -1;
    ApplyArchiveKey(image, static_cast<size_t>(size), 0, archive->key);
    ParseHeader(image, &header);
    if (!HeaderFits(header, size) || SetTables(archive, header, image + header.tableOffset) != 0) {
      ApplyArchiveKey(image, static_cast<size_t>(size), 0, archive->key);
      return -1;
    }
    return 0;
  }

  const int headerSize = ArchiveHeaderSize(version);
  ApplyArchiveKey(image, headerSize, 0, archive->key);
  ParseHeader(image, &header);
  if (!HeaderFits(header, size)) {
    ApplyArchiveKey(image, headerSize, 0, archive->key);
    return -1;
  }
  unsigned char* table = image + header.tableOffset;
  ApplyArchiveKey(table, header.tableSize, 0, archive->key);
  if (SetTables(archive, header, table) != 0 || WalkAllFileData(archive, nullptr) != 0) {
    ApplyArchiveKey(table, header.tableSize, 0, archive->key);
    ApplyArchiveKey(image, headerSize, 0, archive->key);
    return -1;
  }
  WalkAllFileData(archive, ScrambleFileData);
  return 0;
}

// Scrambles an opened image back as it was before OpenImage.
void ScrambleImageBack(ArchiveRecord* archive) {
  if (!ArchiveScramblesByPart(Version(archive))) {
    ApplyArchiveKey(archive->image, static_cast<size_t>(archive->imageSize), 0, archive->key);
    return;
  }
  WalkAllFileData(archive, ScrambleFileData);
  ApplyArchiveKey(archive->table, TableSize(archive), 0, archive->key);
  ApplyArchiveKey(archive->image, ArchiveHeaderSize(Version(archive)), 0, archive->key);
}

void CopyPath(ArchiveRecord* archive, const char* path) {
  CopyStringLimited(archive->path, path, ARCHIVE_PATH_SIZE - 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Records

int InitArchiveRecord(ArchiveRecord* archive) {
  if (archive == nullptr) return -1;
  MemFill(archive, 0, sizeof(ArchiveRecord));
  return 0;
}

int ReleaseArchiveRecord(ArchiveRecord* archive) {
  if (archive == nullptr) return -1;
  CloseArchive(archive);
  return InitArchiveRecord(archive);
}

namespace {

// An archive that is there but does not read: damaged, or made with
// another key.
void LogUnreadableArchive(const char* path) {
  if (path != nullptr) LogPrintf(LOG_ARCHIVE_FILE_UNREADABLE, path);
  else LogPrintf(LOG_MEMORY_ARCHIVE_UNREADABLE);
}

}  // namespace

int OpenArchiveFromMemory(ArchiveRecord* archive, void* image, uint64_t size, const char* keyText) {
  if (archive == nullptr) return -1;
  InitArchiveRecord(archive);
  unsigned char* bytes = static_cast<unsigned char*>(image);
  if (bytes == nullptr) return -1;
  if (size < 4 || ChooseKey(bytes, keyText, archive->key) != 0 || OpenImage(archive, bytes, size) != 0) {
    InitArchiveRecord(archive);
    LogUnreadableArchive(nullptr);
    return -1;
  }
  archive->inMemory = 1;
  archive->callerMemory = 1;
  return 0;
}

int OpenArchiveFileTablesOnly(ArchiveRecord* archive, const char* path, const char* keyText) {
  if (archive == nullptr) return -1;
  InitArchiveRecord(archive);
  if (path == nullptr) return -1;
  FileAccessRecord* file = OpenFileAccess(path, 0, 1, 0);
  if (file == nullptr) return -1;

  unsigned char headerBytes[ARCHIVE_HEADER_SIZE_V6];
  unsigned char* table = nullptr;
  ArchiveHeader header;
  int unreadable = 1;  // 0 once the failure is logged otherwise
  if (file->size < 4 || ReadArchiveBlock(headerBytes, 4, nullptr, 0, 0, file) != 0 ||
      ChooseKey(headerBytes, keyText, archive->key) != 0)
    goto refuse;
  {
    ApplyArchiveKey(headerBytes, 4, 0, archive->key);
    const int version = ReadLE16(headerBytes + 2);
    if (version > ARCHIVE_VERSION_MAX) goto refuse;
    const int headerSize = ArchiveHeaderSize(version);
    // The header sits at file position and key position 0 in every version.
    if (file->size < static_cast<uint64_t>(headerSize) ||
        ReadArchiveBlock(headerBytes, headerSize, archive->key, 0, 0, file) != 0)
      goto refuse;
    ParseHeader(headerBytes, &header);
    if (!HeaderFits(header, file->size)) goto refuse;
    table = static_cast<unsigned char*>(MEM_ALLOC(header.tableSize));
    if (table == nullptr) {
      LogPrintf(LOG_NO_MEMORY_FOR_TABLES, path);
      unreadable = 0;
      goto refuse;
    }
    const uint64_t keyPosition = ArchiveScramblesByPart(version) ? 0 : header.tableOffset;
    if (ReadArchiveBlock(table, header.tableSize, archive->key, keyPosition, header.tableOffset, file) != 0 ||
        SetTables(archive, header, table) != 0)
      goto refuse;
  }
  archive->file = file;
  archive->imageSize = file->size;
  CopyPath(archive, path);
  return 0;

refuse:
  if (unreadable) LogUnreadableArchive(path);
  if (table != nullptr) MemFree(table);
  CloseFileAccess(file);
  InitArchiveRecord(archive);
  return -1;
}

namespace {

// Turns a whole image read from a file into an open archive; frees the
// image and zeroes the record when it is no archive.
int FinishImageOpen(ArchiveRecord* archive, unsigned char* image, uint64_t size, const char* keyText) {
  if (ChooseKey(image, keyText, archive->key) != 0 || OpenImage(archive, image, size) != 0) {
    LogUnreadableArchive(archive->path);
    MemFree(image);
    InitArchiveRecord(archive);
    return -1;
  }
  archive->inMemory = 1;
  archive->callerMemory = 0;
  return 0;
}

}  // namespace

int OpenArchiveFileInMemory(ArchiveRecord* archive, const char* path, const char* keyText, int async) {
  if (archive == nullptr) return -1;
  InitArchiveRecord(archive);
  if (path == nullptr) return -1;
  FileAccessRecord* file = OpenFileAccess(path, 0, 1, async ? 1 : 0);
  if (file == nullptr) return -1;
  const uint64_t size = file->size;
  unsigned char* image = nullptr;
  int read;
  if (size < 4 || size > 0x7FFFFFFFu) {
    LogUnreadableArchive(path);
    goto refuse;
  }
  image = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(size)));
  if (image == nullptr) {
    LogPrintf(LOG_NO_MEMORY_FOR_ARCHIVE, path);
    goto refuse;
  }
  CopyPath(archive, path);

  if (async) {
    // The key of the key text is tried first when the read is done; the
    // fallback key after it.
    MakeArchiveKey(keyText, archive->key);
    ReadFileAccess(image, static_cast<size_t>(size), 1, file);
    archive->image = image;
    archive->imageSize = size;
    archive->pendingRead = 1;
    archive->pendingFile = file;
    return 0;
  }

  read = ReadFileAccess(image, static_cast<size_t>(size), 1, file) == 1;
  CloseFileAccess(file);
  file = nullptr;
  if (!read) goto refuse;
  return FinishImageOpen(archive, image, size, keyText);

refuse:
  if (image != nullptr) MemFree(image);
  if (file != nullptr) CloseFileAccess(file);
  InitArchiveRecord(archive);
  return -1;
}

int FinishArchiveAsyncOpen(ArchiveRecord* archive) {
  if (archive == nullptr || !archive->pendingRead) return 1;
  FileAccessRecord* file = archive->pendingFile;
  if (IsFileAccessIdle(file) == 0) return 0;
  const int complete = file->readDone == archive->imageSize;
  CloseFileAccess(file);
  archive->pendingFile = nullptr;
  archive->pendingRead = 0;

  // The key of the key text was made at the open; the fallback key after it.
  unsigned char* image = archive->image;
  if ((ReadLE16(image) ^ ReadLE16(archive->key)) != ARCHIVE_MAGIC) BuildArchiveFallbackKey(archive->key);
  if (!complete || (ReadLE16(image) ^ ReadLE16(archive->key)) != ARCHIVE_MAGIC ||
      OpenImage(archive, image, archive->imageSize) != 0) {
    LogUnreadableArchive(archive->path);
    MemFree(image);
    InitArchiveRecord(archive);
    return 1;
  }
  archive->inMemory = 1;
  archive->callerMemory = 0;
  return 1;
}

int CloseArchive(ArchiveRecord* archive) {
  if (archive == nullptr) return -1;
  if (archive->pendingRead) {
    while (IsFileAccessIdle(archive->pendingFile) == 0) SleepThread(0);
    CloseFileAccess(archive->pendingFile);
    MemFree(archive->image);
  } else if (archive->table != nullptr) {
    if (archive->inMemory) {
      if (archive->callerMemory) ScrambleImageBack(archive);
      else MemFree(archive->image);
    } else {
      CloseFileAccess(archive->file);
      MemFree(archive->table);
    }
  }
  return InitArchiveRecord(archive);
}

int GetArchiveFileLocation(ArchiveRecord* archive, const char* path, uint32_t* position, uint32_t* size) {
  if (!ArchiveReady(archive)) return -1;
  ArchiveEntryInfo info;
  if (GetArchiveEntryInfo(archive, FindArchiveFile(path, archive), &info) != 0) return -1;
  if (info.packedSize != ARCHIVE_STORED_64) return -1;
  const uint64_t start = archive->header.dataOffset + info.dataOffset;
  if (info.dataOffset > archive->imageSize || !RangeFits(start, info.size, archive->imageSize) ||
      start + info.size > 0xFFFFFFFFu)
    return -1;
  if (position != nullptr) *position = static_cast<uint32_t>(start);
  if (size != nullptr) *size = static_cast<uint32_t>(info.size);
  return 0;
}

void* GetArchiveMemoryImage(ArchiveRecord* archive) {
  if (!ArchiveReady(archive) || !archive->inMemory) return nullptr;
  return archive->image;
}
