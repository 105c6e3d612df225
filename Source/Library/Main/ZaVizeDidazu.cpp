// Growable circular byte buffer: reserve, write, read or peek across the
// wrap.
#include "ZaVizeDidazu.h"

#include "RaRadaraLog.h"
#include "VeRavoroString.h"
#include "ZiDezaru.h"

namespace {

// Log texts.
const char LOG_GROW_FAILED[] = "リングバッファの再確保に失敗しました(確保しようとしたサイズ %d byte)";

}  // namespace

void* (*RingBufferAlloc)(size_t size, const char* file, int line) = MemAlloc;

int InitRingBuffer(RingBuffer* buffer) {
  buffer->data = nullptr;
  buffer->readPosition = 0;
  buffer->writePosition = 0;
  buffer->dataSize = 0;
  buffer->capacity = 0;
  return 0;
}

int ReleaseRingBuffer(RingBuffer* buffer) {
  MemFree(buffer->data);
  return InitRingBuffer(buffer);
}

namespace {

void FoldPositions(RingBuffer* buffer) {
  if (buffer->readPosition == buffer->capacity) buffer->readPosition = 0;
  if (buffer->writePosition == buffer->capacity) buffer->writePosition = 0;
}

// Copies the first `size` held bytes out, across the wrap; moves nothing.
void CopyHeldBytes(const RingBuffer* buffer, unsigned char* out, int size) {
  const int first = buffer->capacity - buffer->readPosition;
  if (size <= first) {
    MemCopy(out, buffer->data + buffer->readPosition, size);
  } else {
    MemCopy(out, buffer->data + buffer->readPosition, first);
    MemCopy(out + first, buffer->data, size - first);
  }
}

}  // namespace

int ReadRingBuffer(RingBuffer* buffer, void* destination, int size, int peek) {
  if (size < 0 || buffer->dataSize < size) return -1;
  FoldPositions(buffer);
  if (size == 0) return 0;

  CopyHeldBytes(buffer, static_cast<unsigned char*>(destination), size);
  if (peek == 0) {
    buffer->readPosition = (buffer->readPosition + size) % buffer->capacity;
    buffer->dataSize -= size;
  }
  return 0;
}

int ReserveRingBuffer(RingBuffer* buffer, int needed) {
  if (needed < 0) return -1;
  FoldPositions(buffer);
  if (buffer->capacity >= static_cast<long long>(buffer->dataSize) + needed) return 0;

  const long long wanted = static_cast<long long>(buffer->dataSize) * 3 / 2 + needed + 1000;
  unsigned char* block = nullptr;
  if (wanted <= 0x7FFFFFFF)
    block = static_cast<unsigned char*>(RingBufferAlloc(static_cast<size_t>(wanted), __FILE__, __LINE__));
  if (block == nullptr) {
    // The held bytes stay where they are.
    LogPrintf(LOG_GROW_FAILED, wanted <= 0x7FFFFFFF ? static_cast<int>(wanted) : 0x7FFFFFFF);
    return -1;
  }

  const int held = buffer->dataSize;
  if (held > 0) CopyHeldBytes(buffer, block, held);
  MemFree(buffer->data);
  buffer->data = block;
  buffer->capacity = static_cast<int>(wanted);
  buffer->readPosition = 0;
  buffer->writePosition = held;
  return 0;
}

int WriteRingBuffer(RingBuffer* buffer, const void* source, int size) {
  if (size < 0) return -1;
  if (ReserveRingBuffer(buffer, size) != 0) return -1;
  if (size == 0) return 0;

  const unsigned char* in = static_cast<const unsigned char*>(source);
  const int first = buffer->capacity - buffer->writePosition;
  if (size <= first) {
    MemCopy(buffer->data + buffer->writePosition, in, size);
  } else {
    MemCopy(buffer->data + buffer->writePosition, in, first);
    MemCopy(buffer->data, in + first, size - first);
  }
  buffer->writePosition = (buffer->writePosition + size) % buffer->capacity;
  buffer->dataSize += size;
  return 0;
}
