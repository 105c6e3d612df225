// Archives: one file that holds a folder tree of files, each optionally
// LZ-packed, the whole scrambled with a keyed XOR. The format reader, the
// LZ unpacker and the archive record; and the archive file layer, the
// default file-stream functions, which let an archive "X.RVA" stand in for
// a folder "X".
#ifndef ROREZEDUR_H
#define ROREZEDUR_H

#include <stddef.h>
#include <stdint.h>

#include "DaDode.h"
#include "RoRezedur_Format.h"
#include "ZeZezuDoz.h"

enum {
  ARCHIVE_PATH_SIZE = 1024,
};

// Archive header in the version 6 widths; older headers are widened.
struct ArchiveHeader {
  uint16_t magic;
  uint16_t version;
  uint32_t tableSize;
  uint64_t dataOffset;            // file offset of the data area
  uint64_t tableOffset;           // file offset of the table block
  uint64_t fileTableOffset;       // inside the table block
  uint64_t directoryTableOffset;  // inside the table block
  uint64_t codePage;              // 0 when the version has none
};

// A file entry as it lies in the file table (its layout depends on the
// version); read it with GetArchiveEntryInfo.
struct ArchiveFileEntry;

// A file entry in the version 6 widths.
struct ArchiveEntryInfo {
  uint64_t nameOffset;    // of its name entry in the name table
  uint64_t attributes;    // Windows file attributes
  uint64_t creationTime;  // Windows file times
  uint64_t lastAccessTime;
  uint64_t lastWriteTime;
  uint64_t dataOffset;  // from the data area; a folder: its directory entry
  uint64_t size;        // unpacked
  uint64_t packedSize;  // ARCHIVE_STORED_64 when stored
};

// An open archive.
struct ArchiveRecord {
  int oldLayout;  // 1 for versions below 6
  ArchiveHeader header;
  int charSet;             // from the code page
  FileAccessRecord* file;  // tables only: the archive file
  unsigned char* image;    // the whole archive when held in memory
  unsigned char* table;    // table block
  unsigned char* fileTable;
  unsigned char* directoryTable;
  unsigned char* nameTable;
  unsigned char* currentDirectory;  // directory entry of the current folder
  char path[ARCHIVE_PATH_SIZE];
  unsigned char key[ARCHIVE_KEY_SIZE];
  int inMemory;
  int callerMemory;    // the image belongs to the caller
  uint64_t imageSize;  // in memory: the image; tables only: the file
  int pendingRead;     // a whole-image read runs
  FileAccessRecord* pendingFile;
};

// One path component in its search form.
struct ArchiveSearchName {
  unsigned char bytes[ARCHIVE_NAME_MAX];  // upper-cased, NUL-padded to whole units
  uint16_t sum;                           // of the bytes
  uint16_t units;                         // length in 4-byte units
};

// ---------------------------------------------------------------------------
// Format, lookup, unpacker and scrambling

// Builds the search form of `text` up to its first "\" or "/" (or its end).
// Returns the component's length in bytes, -1 when it does not fit;
// `consumed` gets the bytes to step over, the separator included.
int MakeArchiveSearchName(const char* text, const ArchiveRecord* archive, ArchiveSearchName* name, int* consumed);
int EnterArchiveSubDirectory(ArchiveRecord* archive, const ArchiveSearchName* name);
// "." stays, "\" or "/" goes to the root, ".." to the parent; longer paths
// are walked component by component. On failure the current folder goes
// back when `restore` is 1 and the missing component's name goes to
// `failedName` when given.
int ChangeArchiveDirectory(ArchiveRecord* archive, const char* path, int restore, ArchiveSearchName* failedName);
// The entry of a file (not a folder) at `path`, or null.
const ArchiveFileEntry* FindArchiveFileEntryOld(const char* path, ArchiveRecord* archive);
const ArchiveFileEntry* FindArchiveFileEntry(const char* path, ArchiveRecord* archive);
// Either of the two, by the archive's layout.
const ArchiveFileEntry* FindArchiveFile(const char* path, ArchiveRecord* archive);
int GetArchiveEntryInfo(const ArchiveRecord* archive, const ArchiveFileEntry* entry, ArchiveEntryInfo* info);
// The entries of the folder entry `directory`: their count and the offset of
// the first in the file table. -1 when they do not lie inside the table.
int GetArchiveFolderEntries(const ArchiveRecord* archive, const unsigned char* directory, uint64_t* count,
                            uint64_t* firstOffset);
// The entry's name as written (`upper` 0) or upper-cased (1); null when the
// name entry lies outside the table block.
const char* GetArchiveEntryName(const ArchiveRecord* archive, const ArchiveFileEntry* entry, int upper);

// Unpacks an LZ block whose packed size (from its head) is readable. The
// unpacked size, or -1 for damaged data (nothing beyond the unpacked size
// is written, nothing beyond the packed size is read). With a null
// destination only the size is returned.
int UnpackLZ(const void* block, void* destination);

void MakeArchiveKey(const char* keyText, unsigned char* key);
void ApplyArchiveKey(void* data, size_t size, uint64_t keyPosition, const unsigned char* key);
// Reads `size` bytes at `filePosition` (all ones: the current position)
// and unscrambles them as from `keyPosition` (no key: left as read).
int ReadArchiveBlock(void* buffer, size_t size, const unsigned char* key, uint64_t keyPosition, uint64_t filePosition,
                     FileAccessRecord* file);

int InitArchiveRecord(ArchiveRecord* archive);
int ReleaseArchiveRecord(ArchiveRecord* archive);
// The image must be writable: it is unscrambled in place and scrambled back
// when the archive closes.
int OpenArchiveFromMemory(ArchiveRecord* archive, void* image, uint64_t size, const char* keyText);
int OpenArchiveFileTablesOnly(ArchiveRecord* archive, const char* path, const char* keyText);
int OpenArchiveFileInMemory(ArchiveRecord* archive, const char* path, const char* keyText, int async);
int CloseArchive(ArchiveRecord* archive);
// Where a stored file's bytes lie in the in-memory image.
int GetArchiveFileLocation(ArchiveRecord* archive, const char* path, uint32_t* position, uint32_t* size);
void* GetArchiveMemoryImage(ArchiveRecord* archive);
int FinishArchiveAsyncOpen(ArchiveRecord* archive);

// ---------------------------------------------------------------------------
// Archive file layer

enum {
  ARCHIVE_OPEN_FILE_MAX = 32768,
  ARCHIVE_TABLE_MAX = 4096,
};
#define ARCHIVE_HANDLE_TAG 0xF0000000u
#define ARCHIVE_HANDLE_INDEX_MASK 0x0FFFFFFFu

// The twelve file-stream slots.
StreamHandle ArchiveFileOpen(const char* path, int cacheFlag, int blockFlag, int asyncFlag);
int ArchiveFileClose(StreamHandle handle);
int64_t ArchiveFileTell(StreamHandle handle);
int ArchiveFileSeek(StreamHandle handle, int64_t offset, int origin);
// Whole elements read; 0 for an unknown handle.
size_t ArchiveFileRead(void* buffer, size_t elementSize, size_t count, StreamHandle handle);
int ArchiveFileEof(StreamHandle handle);
int ArchiveFileIdleCheck(StreamHandle handle);
int ArchiveLayerSetCurrentDir(const char* path);
int ArchiveLayerGetCurrentDir(char* buffer);
intptr_t ArchiveFindFirst(const char* pattern, FileInfoRecord* info);
int ArchiveFindNext(intptr_t search, FileInfoRecord* info);
int ArchiveFindClose(intptr_t search);

// The table of the twelve slots above.
const FileStreamFunctionTable* GetArchiveFileFunctions();

// 0, or -1 when already started / not started. Ending closes the archives
// nobody holds; the layer lock lives on until the process ends.
int StartArchiveLayer();
int EndArchiveLayer();
// Key text for archives opened from now on (null or empty: none).
void SetArchiveKeyText(const char* keyText);
// Closes every archive that no open file or search holds.
int CloseUnusedArchives();

// Wildcard match of an upper-cased name ("*" without backtracking, "?").
int MatchArchiveWildcard(const char* pattern, const char* name, int charSet);

struct ArchiveLayerStats {
  int openArchives;
  int openFiles;
  int tableLoads;  // archives whose tables were read since the layer started
};
int GetArchiveLayerStats(ArchiveLayerStats* stats);

#endif  // ROREZEDUR_H
