// Tracked memory allocator. Every block carries the tail of the caller's
// source-file name, the caller's line, a running allocation number and its
// size in a header guarded by two copies (one before, one after the user
// data); all live blocks form one list that can be dumped to the log.
#ifndef ZIDEZARU_H
#define ZIDEZARU_H

#include <stddef.h>
#include <stdint.h>

// Header placed directly before the user data of every block. Guard copy 1
// follows it; guard copy 2 follows the user data. Both hold the first 32
// bytes (the fields up to `newer`).
struct MemBlockHeader {
  char fileTail[16];     // 0xA5-filled, then the last 15 characters of the name and a NUL
  uint16_t allocNumber;  // running number, wraps at 65536
  uint16_t line;
  uint32_t size;          // user size in bytes
  MemBlockHeader* older;  // block allocated before this one
  MemBlockHeader* newer;  // block allocated after this one (null for the newest)
  unsigned char guard1[32];
};

enum {
  MEM_HEADER_FIELDS_SIZE = 32,  // bytes covered by the guard copies
  MEM_BLOCK_OVERHEAD = 96,      // header, guard copy 1 and guard copy 2
};

// Process heap back end.
void* SystemHeapAlloc(size_t size);
void* SystemHeapReAlloc(void* pointer, size_t size);  // bytes gained are zero
int SystemHeapFree(void* pointer);

void* MemAlloc(size_t size, const char* file, int line);
void* MemAllocZeroed(size_t size, const char* file, int line);
// Null with the old block unchanged on failure; a null pointer allocates.
void* MemRealloc(void* pointer, size_t newSize, const char* file, int line);
void MemFree(void* pointer);

void DumpAllocList();
int CheckAllAllocHeaders();
size_t GetAllocTotalSize();
int GetAllocCount();
void LogAllocTotals();
void LogAllocBlockInfo(const MemBlockHeader* block, int withData);

// Callers record their own place.
#define MEM_ALLOC(size) MemAlloc((size), __FILE__, __LINE__)
#define MEM_ALLOC_ZEROED(size) MemAllocZeroed((size), __FILE__, __LINE__)
#define MEM_REALLOC(pointer, size) MemRealloc((pointer), (size), __FILE__, __LINE__)

#endif  // ZIDEZARU_H
