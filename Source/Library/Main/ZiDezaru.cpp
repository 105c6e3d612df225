// Tracked memory allocator.
#include "ZiDezaru.h"

#include <stdio.h>
#include <string.h>

#include "RaRadaraLog.h"
#include "VeRavoroString.h"
#include "ZeZezuDozThread.h"

namespace {

// Log texts.
const char LOG_DAMAGED_BLOCK[] = "以下のメモリ確保情報が破損しました、強制終了します\n";
// A prefix, then 32 bytes in groups of four (four blanks after the 16th).
const char LOG_GUARD_BYTES[] =
    "%s%02x %02x %02x %02x  %02x %02x %02x %02x  %02x %02x %02x %02x  %02x %02x %02x %02x"
    "    %02x %02x %02x %02x  %02x %02x %02x %02x  %02x %02x %02x %02x  %02x %02x %02x %02x\n";
const char LOG_HEAD_BASE[] = "HEAD  BASE:";
const char LOG_HEAD_TEMP1[] = "HEAD TEMP1:";
const char LOG_HEAD_TEMP2[] = "HEAD TEMP2:";
const char LOG_TRACE_ALLOC[] = "mem alloc  ";
const char LOG_TRACE_REALLOC[] = "mem realloc  ";
const char LOG_TRACE_FREE[] = "mem free  ";
const char LOG_TOTALS[] = "\tTotal size:%d(%.3fkb)  Alloc num:%d";
const char LOG_DUMP_TITLE[] = "Alloc memory dump";
const char LOG_BLANK_LINE[] = "";
const char LOG_NO_PREFIX[] = "";
const char LOG_PREFIXED_LINE[] = "%s%s";
const char LOG_BLOCK_LINE[] = "\tsize:%10d(%10.3fkb)  file:%-26s  line:%-5d  ID:%-5d  addr:%08x";

}  // namespace

static_assert(sizeof(MemBlockHeader) == 64, "header and guard copy 1 take 64 bytes");
static_assert(offsetof(MemBlockHeader, guard1) == MEM_HEADER_FIELDS_SIZE, "guard copy 1 follows the fields");

enum {
  MEM_USER_OFFSET = sizeof(MemBlockHeader),
  BLOCK_INFO_LINE_SIZE = 320,  // a dump line, data part included
};

namespace {

// Fixed old end of the list: a block of user size 0 with room for its
// trailing guard copy, so every real block has an older neighbour.
struct {
  MemBlockHeader header;
  unsigned char guard2[MEM_HEADER_FIELDS_SIZE];
} EndBlockStorage;
#define END_BLOCK (&EndBlockStorage.header)

MemBlockHeader* NewestBlock = nullptr;
uint16_t AllocNumberCounter = 0;
size_t AllocTotalSize = 0;
int AllocCount = 0;

// Debug settings (no operation changes them): blocks of the trace size are
// traced (a negative size traces all); the others trace everything, log the
// totals after each call, check every block on each call.
int TraceSize = 0;
int TraceAll = 0;
int LogTotalsEachCall = 0;
int CheckAllEachCall = 0;

OnceLockRecord AllocLock;

}  // namespace

// ---------------------------------------------------------------------------
// Process heap

void* SystemHeapAlloc(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void* SystemHeapReAlloc(void* pointer, size_t size) {
  return HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, pointer, size);
}

int SystemHeapFree(void* pointer) { return HeapFree(GetProcessHeap(), 0, pointer) ? 0 : -1; }

// ---------------------------------------------------------------------------
// Block helpers

namespace {

unsigned char* UserData(MemBlockHeader* block) { return reinterpret_cast<unsigned char*>(block) + MEM_USER_OFFSET; }

MemBlockHeader* BlockOf(void* pointer) {
  return reinterpret_cast<MemBlockHeader*>(static_cast<unsigned char*>(pointer) - MEM_USER_OFFSET);
}

unsigned char* GuardCopy2(MemBlockHeader* block, size_t size) { return UserData(block) + size; }

void RefreshGuards(MemBlockHeader* block) {
  if (block == nullptr) return;
  memcpy(block->guard1, block, MEM_HEADER_FIELDS_SIZE);
  memcpy(GuardCopy2(block, block->size), block, MEM_HEADER_FIELDS_SIZE);
}

void SetPlace(MemBlockHeader* block, const char* file, int line) {
  memset(block->fileTail, 0xA5, sizeof(block->fileTail));
  if (file == nullptr) {
    block->fileTail[0] = '\0';
  } else {
    size_t length = strlen(file);
    const char* tail = length > 15 ? file + length - 15 : file;
    memcpy(block->fileTail, tail, strlen(tail) + 1);
  }
  block->line = static_cast<uint16_t>(line);
}

int IsTraced(size_t size) { return TraceAll || TraceSize < 0 || size == static_cast<size_t>(TraceSize); }

void AfterCall() {
  if (LogTotalsEachCall) LogAllocTotals();
  if (CheckAllEachCall) CheckAllAllocHeaders();
}

// A user size that, with the block's own 96 bytes, still fits a size_t.
int IsSizeAllowed(size_t size) { return size <= static_cast<size_t>(0xFFFFFFFFu) - MEM_BLOCK_OVERHEAD; }

// ---------------------------------------------------------------------------
// Header check

// The damage report is written without taking memory from the allocator:
// its list may be what is damaged.
void LogGuardBytes(const char* prefix, const unsigned char* b) {
  char line[160];
  snprintf(line, sizeof(line), LOG_GUARD_BYTES, prefix, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9],
           b[10], b[11], b[12], b[13], b[14], b[15], b[16], b[17], b[18], b[19], b[20], b[21], b[22], b[23], b[24],
           b[25], b[26], b[27], b[28], b[29], b[30], b[31]);
  LogWriteTextWithoutAlloc(line);
}

void FormatBlockInfo(const MemBlockHeader* block, int withData, char* line, size_t size);

void ReportBlockInfo(const MemBlockHeader* block, int withData) {
  char line[BLOCK_INFO_LINE_SIZE];
  FormatBlockInfo(block, withData, line, sizeof(line) - 1);
  AppendString(line, "\n");  // the raw writer takes the line end with the text
  LogWriteTextWithoutAlloc(line);
}

// One block's line after `prefix`; the caller holds the allocator lock.
void LogBlockLine(const char* prefix, const MemBlockHeader* block, int withData) {
  char line[BLOCK_INFO_LINE_SIZE];
  FormatBlockInfo(block, withData, line, sizeof(line));
  LogPrintf(LOG_PREFIXED_LINE, prefix, line);
}

// The user size a block can really have: what the heap block holds beyond
// the 96 bytes of header and guards. 0 when the heap cannot tell.
size_t HeapBoundOfBlock(MemBlockHeader* block) {
  const SIZE_T heapSize = HeapSize(GetProcessHeap(), 0, block);
  if (heapSize == static_cast<SIZE_T>(-1) || heapSize < MEM_BLOCK_OVERHEAD) return 0;
  return heapSize - MEM_BLOCK_OVERHEAD;
}

void CheckAllocHeader(MemBlockHeader* block) {
  const MemBlockHeader* copy1 = reinterpret_cast<const MemBlockHeader*>(block->guard1);
  // The stored size may be part of the damage, in the header and guard copy
  // 1 alike (one value written over both): guard copy 2 is never looked for
  // beyond the heap block, and a block found damaged is reported with the
  // copy where the heap block puts it.
  const size_t bound = HeapBoundOfBlock(block);
  if (memcmp(block, block->guard1, MEM_HEADER_FIELDS_SIZE) == 0 && block->size <= bound &&
      memcmp(block, GuardCopy2(block, block->size), MEM_HEADER_FIELDS_SIZE) == 0)
    return;
  unsigned char* copy2 = GuardCopy2(block, bound);

  LogWriteTextWithoutAlloc(LOG_DAMAGED_BLOCK);
  LogGuardBytes(LOG_HEAD_BASE, reinterpret_cast<const unsigned char*>(block));
  LogGuardBytes(LOG_HEAD_TEMP1, block->guard1);
  LogGuardBytes(LOG_HEAD_TEMP2, copy2);
  ReportBlockInfo(block, 1);
  ReportBlockInfo(copy1, 0);
  ReportBlockInfo(reinterpret_cast<const MemBlockHeader*>(copy2), 0);
  ExitProcess(static_cast<UINT>(-1));
}

}  // namespace

int CheckAllAllocHeaders() {
  ENTER_ONCE_LOCK(&AllocLock);
  for (MemBlockHeader* block = NewestBlock; block != nullptr && block != END_BLOCK; block = block->older)
    CheckAllocHeader(block);
  LeaveOnceLock(&AllocLock);
  return 0;
}

// ---------------------------------------------------------------------------
// Allocation

void* MemAlloc(size_t size, const char* file, int line) {
  ENTER_ONCE_LOCK(&AllocLock);
  MemBlockHeader* block = nullptr;
  if (IsSizeAllowed(size)) block = static_cast<MemBlockHeader*>(SystemHeapAlloc(size + MEM_BLOCK_OVERHEAD));
  if (block == nullptr) {
    DumpAllocList();
    CheckAllAllocHeaders();
    LeaveOnceLock(&AllocLock);
    return nullptr;
  }

  SetPlace(block, file, line);
  block->allocNumber = ++AllocNumberCounter;
  block->size = static_cast<uint32_t>(size);

  if (NewestBlock == nullptr) NewestBlock = END_BLOCK;
  NewestBlock->newer = block;
  block->older = NewestBlock;
  block->newer = nullptr;
  NewestBlock = block;
  RefreshGuards(block);
  RefreshGuards(block->older);

  AllocTotalSize += size;
  AllocCount++;

  if (IsTraced(size)) {
    LogBlockLine(LOG_TRACE_ALLOC, block, 1);
  }
  AfterCall();
  LeaveOnceLock(&AllocLock);
  return UserData(block);
}

void* MemAllocZeroed(size_t size, const char* file, int line) {
  void* pointer = MemAlloc(size, file, line);
  if (pointer != nullptr) MemFill(pointer, 0, static_cast<int>(size));
  return pointer;
}

void* MemRealloc(void* pointer, size_t newSize, const char* file, int line) {
  if (pointer == nullptr) return MemAlloc(newSize, file, line);

  ENTER_ONCE_LOCK(&AllocLock);
  MemBlockHeader* old = BlockOf(pointer);
  // A damaged block would link its neighbours to garbage.
  CheckAllocHeader(old);
  size_t oldSize = old->size;
  MemBlockHeader* block = old;
  if (newSize != oldSize) {
    block = nullptr;
    if (IsSizeAllowed(newSize))
      block = static_cast<MemBlockHeader*>(SystemHeapReAlloc(old, newSize + MEM_BLOCK_OVERHEAD));
    if (block == nullptr) {
      DumpAllocList();
      LeaveOnceLock(&AllocLock);
      return nullptr;
    }
    // The old trailing guard copy lies inside the added bytes.
    if (newSize > oldSize) MemFill(UserData(block) + oldSize, 0, static_cast<int>(newSize - oldSize));
  }

  SetPlace(block, file, line);
  block->allocNumber = ++AllocNumberCounter;
  if (block->older != nullptr) block->older->newer = block;
  if (block->newer != nullptr) block->newer->older = block;
  if (NewestBlock == old) NewestBlock = block;
  AllocTotalSize = AllocTotalSize - oldSize + newSize;
  block->size = static_cast<uint32_t>(newSize);
  RefreshGuards(block);
  RefreshGuards(block->older);
  RefreshGuards(block->newer);

  if (IsTraced(newSize)) {
    LogBlockLine(LOG_TRACE_REALLOC, block, 1);
  }
  AfterCall();
  LeaveOnceLock(&AllocLock);
  return UserData(block);
}

void MemFree(void* pointer) {
  if (pointer == nullptr) return;
  ENTER_ONCE_LOCK(&AllocLock);
  MemBlockHeader* block = BlockOf(pointer);
  if (CheckAllEachCall) CheckAllAllocHeaders();
  else CheckAllocHeader(block);

  AllocTotalSize -= block->size;
  AllocCount--;

  MemBlockHeader* older = block->older;
  MemBlockHeader* newer = block->newer;
  if (older != nullptr) older->newer = newer;
  if (newer != nullptr) newer->older = older;
  if (NewestBlock == block) NewestBlock = older;
  RefreshGuards(older);
  RefreshGuards(newer);

  if (IsTraced(block->size)) {
    LogBlockLine(LOG_TRACE_FREE, block, 1);
  }
  if (LogTotalsEachCall) LogAllocTotals();
  SystemHeapFree(block);
  LeaveOnceLock(&AllocLock);
}

// ---------------------------------------------------------------------------
// Reports

namespace {

void FormatBlockInfo(const MemBlockHeader* block, int withData, char* line, size_t size) {
  // The name field of a damaged header need not end in a NUL.
  char name[sizeof(block->fileTail) + 1];
  memcpy(name, block->fileTail, sizeof(block->fileTail));
  name[sizeof(block->fileTail)] = '\0';

  const unsigned char* data = reinterpret_cast<const unsigned char*>(block) + MEM_USER_OFFSET;
  int length = snprintf(line, size, LOG_BLOCK_LINE, static_cast<int>(block->size),
                        static_cast<double>(block->size) / 1024.0, name, block->line, block->allocNumber,
                        static_cast<unsigned int>(reinterpret_cast<uintptr_t>(data)));
  // Keep room for the data part whatever the header fields hold.
  if (length < 0 || length > 200) {
    length = 200;
    line[length] = '\0';
  }
  if (!withData) return;
  int count = block->size < 16 ? static_cast<int>(block->size) : 16;
  length += snprintf(line + length, size - length, "  data:<");
  for (int i = 0; i < count; i++)
    line[length++] = (data[i] < 0x20 || data[i] >= 0x80) ? '.' : static_cast<char>(data[i]);
  length += snprintf(line + length, size - length, "> [");
  for (int i = 0; i < count; i++) length += snprintf(line + length, size - length, "%02x ", data[i]);
  // "]" goes over the last blank (over the "[" when there is no data).
  CopyString(line + length - 1, "]");
}

}  // namespace

void LogAllocBlockInfo(const MemBlockHeader* block, int withData) {
  ENTER_ONCE_LOCK(&AllocLock);
  LogBlockLine(LOG_NO_PREFIX, block, withData);
  LeaveOnceLock(&AllocLock);
}

void LogAllocTotals() {
  ENTER_ONCE_LOCK(&AllocLock);
  LogPrintf(LOG_TOTALS, static_cast<int>(AllocTotalSize), static_cast<double>(AllocTotalSize) / 1024.0, AllocCount);
  LeaveOnceLock(&AllocLock);
}

void DumpAllocList() {
  ENTER_ONCE_LOCK(&AllocLock);
  LogPrintf(LOG_BLANK_LINE);
  LogPrintf(LOG_DUMP_TITLE);
  for (MemBlockHeader* block = NewestBlock; block != nullptr && block != END_BLOCK; block = block->older)
    LogAllocBlockInfo(block, 1);
  LogAllocTotals();
  LogPrintf(LOG_BLANK_LINE);
  LeaveOnceLock(&AllocLock);
}

size_t GetAllocTotalSize() {
  ENTER_ONCE_LOCK(&AllocLock);
  size_t total = AllocTotalSize;
  LeaveOnceLock(&AllocLock);
  return total;
}

int GetAllocCount() {
  ENTER_ONCE_LOCK(&AllocLock);
  int count = AllocCount;
  LeaveOnceLock(&AllocLock);
  return count;
}
