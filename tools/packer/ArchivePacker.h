// Archive packer core: the LZ packer and the archive writer. Plain C++17,
// built for the host (the command-line tool) and for the target (tests).
// The format constants come from the library's own format header.
#ifndef ARCHIVE_PACKER_H
#define ARCHIVE_PACKER_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

enum PackMode {
  PACK_DEFAULT = -1,  // the archive's setting
  PACK_AUTO = 0,      // packed when that makes it smaller
  PACK_NEVER = 1,
  PACK_ALWAYS = 2,  // packed even when it grows (versions 2 and up)
};

struct LZPackOptions {
  int chainLimit = 48;   // match-finder tree depth searched per position
  int niceLength = 128;  // a copy this long ends the search and is taken at once
  int lazy = 1;          // 1: optimal parse of the code costs; 0: greedy
  int escape = -1;       // escape byte; -1: the least frequent byte
};

// One LZ block (9-byte head and codes) for `size` bytes.
std::vector<uint8_t> PackLZ(const uint8_t* data, size_t size, const LZPackOptions& options = LZPackOptions());

// One file or folder. Folders on the way to a file are made as needed.
struct PackerEntry {
  std::string path;  // inside the archive, components parted by "\" or "/"
  std::vector<uint8_t> data;
  bool folder = false;
  int pack = PACK_DEFAULT;
  uint32_t attributes = 0;    // 0: 0x20 for files, 0x10 for folders
  uint64_t creationTime = 0;  // Windows file times
  uint64_t lastAccessTime = 0;
  uint64_t lastWriteTime = 0;
};

struct PackerOptions {
  int version = 6;
  std::string keyText;       // empty: the key made from no key text
  bool fallbackKey = false;  // scramble with the fixed fallback key instead
  uint32_t codePage = 932;   // written by versions 4 to 6
  int pack = PACK_AUTO;
  LZPackOptions lz;
};

// Where things went, for tools and tests.
struct PackerFileLayout {
  std::string path;        // as given, "\" between components
  uint64_t entryPosition;  // file position of its file entry
  uint64_t dataPosition;   // file position of its data
  uint64_t size;
  uint64_t storedSize;  // bytes in the data area
  bool packed;
};

struct PackerLayout {
  uint64_t headerSize = 0;
  uint64_t dataOffset = 0;
  uint64_t tableOffset = 0;
  uint64_t tableSize = 0;
  uint64_t fileTableOffset = 0;       // inside the table block
  uint64_t directoryTableOffset = 0;  // inside the table block
  std::vector<PackerFileLayout> files;
  uint8_t key[12] = {};
};

// Writes a whole archive into `archive`. False with a message in `error`
// for a bad version, a duplicate name, an empty component, or an archive
// too large for its version.
bool BuildArchive(const std::vector<PackerEntry>& entries, const PackerOptions& options, std::vector<uint8_t>* archive,
                  PackerLayout* layout, std::string* error);

#endif  // ARCHIVE_PACKER_H
