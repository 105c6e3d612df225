// Growable circular byte buffer. Writers make room with ReserveRingBuffer and
// then copy their bytes at the write position (or use WriteRingBuffer);
// readers take bytes out with ReadRingBuffer, or peek at them.
#ifndef ZAVIZEDIDAZU_H
#define ZAVIZEDIDAZU_H

struct RingBuffer {
  unsigned char* data;  // MemAlloc block, null while empty
  int readPosition;     // 0 .. capacity - 1 (capacity means 0)
  int writePosition;
  int dataSize;  // bytes held, starting at the read position
  int capacity;
};

#include <stddef.h>

// Allocation of the data blocks: MemAlloc unless replaced (tests); a
// replacement returns MemAlloc blocks or null.
extern void* (*RingBufferAlloc)(size_t size, const char* file, int line);

int InitRingBuffer(RingBuffer* buffer);
int ReleaseRingBuffer(RingBuffer* buffer);
// -1 when fewer than size bytes are held; nothing changes then. A non-zero
// peek flag leaves the bytes in the buffer.
int ReadRingBuffer(RingBuffer* buffer, void* destination, int size, int peek);
// Afterwards at least `needed` bytes fit beside the held ones. -1 when the
// memory runs out; the buffer then keeps its old block and bytes.
int ReserveRingBuffer(RingBuffer* buffer, int needed);
// Reserves and copies size bytes in at the write position.
int WriteRingBuffer(RingBuffer* buffer, const void* source, int size);

#endif  // ZAVIZEDIDAZU_H
