// Archive format constants shared by the reader and the packer tool, so the
// two cannot drift apart: header and table layouts, the LZ block head and
// copy codes, the scrambling key and the name rules. Depends on nothing but
// <stdint.h>, so that host tools compile it as it is.
#ifndef ROREZEDUR_FORMAT_H
#define ROREZEDUR_FORMAT_H

#include <stdint.h>

enum {
  ARCHIVE_MAGIC = 0x5652,       // the bytes "R", "V"
  ARCHIVE_VERSION_MAX = 6,      // versions 0..6 are read
  ARCHIVE_HEADER_SIZE_V0 = 24,  // versions 0-3
  ARCHIVE_HEADER_SIZE_V4 = 28,  // versions 4-5: a code page follows
  ARCHIVE_HEADER_SIZE_V6 = 48,
  ARCHIVE_CODE_PAGE_POSITION = 24,  // versions 4-5
  ARCHIVE_FILE_ENTRY_SIZE_V0 = 40,  // versions 0-1: no packed size
  ARCHIVE_FILE_ENTRY_SIZE_V2 = 44,  // versions 2-5
  ARCHIVE_FILE_ENTRY_SIZE_V6 = 64,
  ARCHIVE_DIRECTORY_ENTRY_SIZE_V0 = 16,
  ARCHIVE_DIRECTORY_ENTRY_SIZE_V6 = 32,
  ARCHIVE_ATTRIBUTE_DIRECTORY = 0x10,
  ARCHIVE_KEY_SIZE = 12,
  ARCHIVE_NAME_MAX = 1024,  // a name with its padding
};

// Packed size of a stored file (all ones in the field's width).
#define ARCHIVE_STORED_32 0xFFFFFFFFu
#define ARCHIVE_STORED_64 0xFFFFFFFFFFFFFFFFull
// Parent of the root folder.
#define ARCHIVE_NO_PARENT_32 0xFFFFFFFFu
#define ARCHIVE_NO_PARENT_64 0xFFFFFFFFFFFFFFFFull

inline int ArchiveHeaderSize(int version) {
  return version >= 6 ? ARCHIVE_HEADER_SIZE_V6 : version >= 4 ? ARCHIVE_HEADER_SIZE_V4 : ARCHIVE_HEADER_SIZE_V0;
}
inline int ArchiveFileEntrySize(int version) {
  return version >= 6   ? ARCHIVE_FILE_ENTRY_SIZE_V6
         : version >= 2 ? ARCHIVE_FILE_ENTRY_SIZE_V2
                        : ARCHIVE_FILE_ENTRY_SIZE_V0;
}
inline int ArchiveDirectoryEntrySize(int version) {
  return version >= 6 ? ARCHIVE_DIRECTORY_ENTRY_SIZE_V6 : ARCHIVE_DIRECTORY_ENTRY_SIZE_V0;
}
// Versions 5 and 6 scramble each part on its own; older ones the whole file
// as one stream keyed by file position.
inline int ArchiveScramblesByPart(int version) { return version >= 5; }
// Versions 0 and 1 have no packed-size field: every file is stored.
inline int ArchiveCanPack(int version) { return version >= 2; }

// ---------------------------------------------------------------------------
// LZ block: u32 unpacked size, u32 packed size (head included), u8 escape
// byte, then the codes. A copy code byte c (written as c + 1 when c is at
// or above the escape byte, so that it never equals the escape byte) holds:
// bits 0-1 the distance field size - 1, bit 2 an extension byte for the
// length, bits 3-7 the low 5 bits of length - 4. The distance field holds
// distance - 1.
enum {
  LZ_HEAD_SIZE = 9,
  LZ_MIN_LENGTH = 4,
  LZ_MAX_LENGTH = 4 + 31 + 255 * 32,  // 8195
  LZ_MAX_DISTANCE = 1 << 24,
  LZ_CODE_EXTENDED = 0x04,
};

// ---------------------------------------------------------------------------
// Scrambling key. Without key text the 12 bytes start as the fill byte; the
// fallback key is 12 equal bytes. Each byte then takes its own step.
enum {
  ARCHIVE_KEY_FILL = 0xAA,
  ARCHIVE_FALLBACK_KEY = 0xC3,
};

enum {
  KEY_STEP_NOT = 0,     // ~b
  KEY_STEP_ROTATE,      // rotate left by n
  KEY_STEP_XOR,         // b ^ x
  KEY_STEP_ROTATE_NOT,  // ~(rotate left by n)
  KEY_STEP_ROTATE_XOR,  // (rotate left by n) ^ x
};

struct ArchiveKeyStep {
  uint8_t kind;
  uint8_t rotate;
  uint8_t value;
};

const ArchiveKeyStep ArchiveKeySteps[ARCHIVE_KEY_SIZE] = {
    {KEY_STEP_NOT, 0, 0x00},        {KEY_STEP_ROTATE, 4, 0x00},     {KEY_STEP_XOR, 0, 0x8A},
    {KEY_STEP_ROTATE_NOT, 3, 0x00}, {KEY_STEP_ROTATE_XOR, 2, 0xB5}, {KEY_STEP_ROTATE, 7, 0x00},
    {KEY_STEP_XOR, 0, 0x5D},        {KEY_STEP_NOT, 0, 0x00},        {KEY_STEP_ROTATE_XOR, 5, 0x2E},
    {KEY_STEP_ROTATE, 1, 0x00},     {KEY_STEP_ROTATE_NOT, 6, 0x00}, {KEY_STEP_XOR, 0, 0xF1},
};

inline uint8_t ArchiveKeyRotate(uint8_t b, int n) {
  n &= 7;
  return n == 0 ? b : static_cast<uint8_t>((b << n) | (b >> (8 - n)));
}

// The key of a key text (null or empty: none).
inline void BuildArchiveKey(const char* keyText, uint8_t key[ARCHIVE_KEY_SIZE]) {
  const int hasText = keyText != nullptr && keyText[0] != '\0';
  int t = 0;
  for (int i = 0; i < ARCHIVE_KEY_SIZE; ++i) {
    if (!hasText) {
      key[i] = ARCHIVE_KEY_FILL;
      continue;
    }
    if (keyText[t] == '\0') t = 0;
    key[i] = static_cast<uint8_t>(keyText[t++]);
  }
  for (int i = 0; i < ARCHIVE_KEY_SIZE; ++i) {
    const ArchiveKeyStep& step = ArchiveKeySteps[i];
    uint8_t b = key[i];
    switch (step.kind) {
      case KEY_STEP_NOT: b = static_cast<uint8_t>(~b); break;
      case KEY_STEP_ROTATE: b = ArchiveKeyRotate(b, step.rotate); break;
      case KEY_STEP_XOR: b = static_cast<uint8_t>(b ^ step.value); break;
      case KEY_STEP_ROTATE_NOT: b = static_cast<uint8_t>(~ArchiveKeyRotate(b, step.rotate)); break;
      default: b = static_cast<uint8_t>(ArchiveKeyRotate(b, step.rotate) ^ step.value); break;
    }
    key[i] = b;
  }
}

inline void BuildArchiveFallbackKey(uint8_t key[ARCHIVE_KEY_SIZE]) {
  for (int i = 0; i < ARCHIVE_KEY_SIZE; ++i) key[i] = ARCHIVE_FALLBACK_KEY;
}

// ---------------------------------------------------------------------------
// Names. The code page of versions 4-6 picks the character set that splits
// names into characters; a lead byte and the byte after it are one
// character, kept as it is when names are upper-cased.
inline int ArchiveCodePageToCharSet(uint64_t codePage) {
  switch (codePage) {
    case 932: return 1;
    case 936: return 4;
    case 949: return 2;
    case 950: return 3;
    default: return 0;
  }
}

inline int ArchiveIsLeadByte(uint8_t byte, int charSet) {
  if (charSet >= 2 && charSet <= 4) return byte >= 0x80;
  return static_cast<uint8_t>((byte ^ 0x20) - 0xA1) < 0x3C;
}

inline uint16_t ArchiveNameUnits(int length) { return static_cast<uint16_t>(length / 4 + 1); }

#endif  // ROREZEDUR_FORMAT_H
