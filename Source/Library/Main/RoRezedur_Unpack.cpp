// LZ unpacker. Literal runs are scanned and copied 16 bytes at a time;
// copies run in 16-byte steps once their distance reaches 16, so the hot
// loops stay branch-light. Every step is checked against the unpacked size
// and the packed size from the block's head.
#include <emmintrin.h>
#include <limits.h>
#include <string.h>

#include "RoRezedur_.h"
#include "VeRavoroString.h"


// Copies `length` bytes from `distance` bytes back; `out + length` must
// not pass the end of the output and `distance` not reach before its start.
static inline unsigned char* CopyMatch(unsigned char* out, uint32_t distance, uint32_t length,
                                       const unsigned char* outEnd) {
  if (distance == 1) {
    memset(out, out[-1], length);
    return out + length;
  }
  if (distance < 16) {
    // A multiple of the distance of at least 16 repeats the same bytes;
    // the first bytes go one by one until that far back is written.
    uint32_t step = distance;
    while (step < 16) step += distance;
    uint32_t head = step - distance;
    if (head > length) head = length;
    for (uint32_t i = 0; i < head; ++i) out[i] = out[i - distance];
    out += head;
    length -= head;
    distance = step;
  }
  while (length >= 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(out - distance)));
    out += 16;
    length -= 16;
  }
  if (length > 0) {
    if (outEnd - out >= 16) {
      // The bytes past the copy are written again later.
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(out - distance)));
    } else {
      for (uint32_t i = 0; i < length; ++i) out[i] = out[i - distance];
    }
    out += length;
  }
  return out;
}

int UnpackLZ(const void* block, void* destination) {
  if (block == nullptr) return -1;
  const unsigned char* in = static_cast<const unsigned char*>(block);
  const uint32_t unpackedSize = ReadLE32(in);
  const uint32_t packedSize = ReadLE32(in + 4);
  if (packedSize < LZ_HEAD_SIZE || unpackedSize > static_cast<uint32_t>(INT_MAX)) return -1;
  if (destination == nullptr) return static_cast<int>(unpackedSize);

  const unsigned char escape = in[8];
  const unsigned char* src = in + LZ_HEAD_SIZE;
  const unsigned char* const srcEnd = in + packedSize;
  unsigned char* const start = static_cast<unsigned char*>(destination);
  unsigned char* out = start;
  unsigned char* const outEnd = start + unpackedSize;
  const __m128i escapes = _mm_set1_epi8(static_cast<char>(escape));

  for (;;) {
    // Literal run.
    while (srcEnd - src >= 16 && outEnd - out >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
      const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, escapes));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
      if (mask != 0) {
        const int n = __builtin_ctz(static_cast<unsigned>(mask));
        src += n;
        out += n;
        goto code;
      }
      src += 16;
      out += 16;
    }
    while (src < srcEnd && *src != escape) {
      if (out >= outEnd) return -1;
      *out++ = *src++;
    }
    if (src >= srcEnd) break;

  code:
    // src points at an escape byte.
    if (srcEnd - src < 2) return -1;
    {
      unsigned int c = src[1];
      src += 2;
      if (c == escape) {
        if (out >= outEnd) return -1;
        *out++ = escape;
        continue;
      }
      if (c > escape) --c;
      uint32_t length = c >> 3;
      if (c & LZ_CODE_EXTENDED) {
        if (src >= srcEnd) return -1;
        length |= static_cast<uint32_t>(*src++) << 5;
      }
      length += LZ_MIN_LENGTH;
      const unsigned int fieldSize = (c & 3) + 1;
      if (fieldSize > 3 || static_cast<unsigned>(srcEnd - src) < fieldSize) return -1;
      uint32_t distance = src[0];
      if (fieldSize >= 2) distance |= static_cast<uint32_t>(src[1]) << 8;
      if (fieldSize == 3) distance |= static_cast<uint32_t>(src[2]) << 16;
      src += fieldSize;
      distance += 1;
      if (distance > static_cast<uint32_t>(out - start) || length > static_cast<uint32_t>(outEnd - out)) return -1;
      out = CopyMatch(out, distance, length, outEnd);
    }
  }
  return out == outEnd ? static_cast<int>(unpackedSize) : -1;
}
