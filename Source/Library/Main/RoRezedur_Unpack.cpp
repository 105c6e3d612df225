// LZ unpacker. While at least 48 code bytes and 32 output bytes are left,
// a fast loop runs: literals are stored 16 bytes at a time (32 in long runs,
// whose code bytes are prefetched) and the escapes found with one compare
// per 16 bytes, the bytes after each code scanned before the code is read;
// copies are written in whole 16-byte stores that may run past their end
// into output still to be written, and short distances repeat a 16-byte
// pattern. Each code's distance and length are checked against the output
// before any store, and every store stays inside the output. A copy that
// would end near the output's end, and the last bytes, go through a plain
// loop with a check at every step. No threads, locks or platform calls.
#include <emmintrin.h>
#include <limits.h>
#include <string.h>

#include "RoRezedur_.h"
#include "VeRavoroString.h"

namespace {

inline __m128i Load16(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store16(unsigned char* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Copies `length` bytes from `distance` bytes back; `out + length` must
// not pass the end of the output and `distance` not reach before its start.
unsigned char* CopyMatchExact(unsigned char* out, uint32_t distance, uint32_t length, const unsigned char* outEnd) {
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
    for (uint32_t i = 0; i < head; ++i) out[i] = (out - distance)[i];
    out += head;
    length -= head;
    distance = step;
  }
  while (length >= 16) {
    Store16(out, Load16(out - distance));
    out += 16;
    length -= 16;
  }
  if (length > 0) {
    if (outEnd - out >= 16) {
      // The bytes past the copy are written again later.
      Store16(out, Load16(out - distance));
    } else {
      for (uint32_t i = 0; i < length; ++i) out[i] = (out - distance)[i];
    }
    out += length;
  }
  return out;
}

// A copy with at least `length` + 32 bytes of output left: whole 16-byte
// stores, running up to 31 bytes past the copy.
inline void CopyMatchFast(unsigned char* out, uint32_t distance, uint32_t length) {
  if (distance >= 32) {
    // Most copies are at most 32 bytes: two stores with no loop.
    const unsigned char* from = out - distance;
    Store16(out, Load16(from));
    Store16(out + 16, Load16(from + 16));
    for (uint32_t i = 32; i < length; i += 32) {
      Store16(out + i, Load16(from + i));
      Store16(out + i + 16, Load16(from + i + 16));
    }
    return;
  }
  if (distance >= 16) {
    const unsigned char* from = out - distance;
    Store16(out, Load16(from));
    for (uint32_t i = 16; i < length; i += 16) Store16(out + i, Load16(from + i));
    return;
  }
  // Distances 1, 2, 4 and 8: the 16 bytes that repeat.
  __m128i pattern;
  switch (distance) {
    case 1: pattern = _mm_set1_epi8(static_cast<char>(out[-1])); break;
    case 2: {
      uint16_t v;
      memcpy(&v, out - 2, 2);
      pattern = _mm_set1_epi16(static_cast<short>(v));
      break;
    }
    case 4: {
      uint32_t v;
      memcpy(&v, out - 4, 4);
      pattern = _mm_set1_epi32(static_cast<int>(v));
      break;
    }
    case 8: {
      const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(out - 8));
      pattern = _mm_unpacklo_epi64(v, v);
      break;
    }
    default: {
      // The first 16 bytes one by one, then whole stores from the nearest
      // multiple of the distance that is 16 or more back.
      static const unsigned char kBack[16] = {0, 16, 16, 18, 16, 20, 18, 21, 16, 18, 20, 22, 24, 26, 28, 30};
      for (int i = 0; i < 16; ++i) out[i] = out[i - static_cast<int>(distance)];
      const uint32_t back = kBack[distance];
      for (uint32_t i = 16; i < length; i += 16) Store16(out + i, Load16(out + i - back));
      return;
    }
  }
  for (uint32_t i = 0; i < length; i += 32) {
    Store16(out + i, pattern);
    Store16(out + i + 16, pattern);
  }
}

// A copy code byte's value looked up instead of taken apart: code bytes
// past the shortest code (the extension byte, a wider distance field), the
// shift that takes the distance field from the 4 bytes ending the code
// (0xFF for the unused field size 4), the length without the extension
// byte's part, and the extension byte's mask. Fewer instructions a code keep more codes,
// and so more copies from far back, under way at once.
struct CodeInfo {
  unsigned char skip, shift, length, extension;
};
struct CodeTable {
  CodeInfo info[256];
  constexpr CodeTable() : info() {
    for (int c = 0; c < 256; ++c) {
      const int extended = (c >> 2) & 1, field = c & 3;
      info[c].skip = static_cast<unsigned char>(extended + field);
      info[c].shift = static_cast<unsigned char>(field == 3 ? 0xFF : 24 - 8 * field);
      info[c].length = static_cast<unsigned char>((c >> 3) + LZ_MIN_LENGTH);
      info[c].extension = static_cast<unsigned char>(extended ? 0xFF : 0);
    }
  }
};
constexpr CodeTable kCodes;

// Code bytes and output bytes the fast loop needs left at the start of a
// step: it reads up to 34 code bytes (16 literals, then 16 bytes from the
// code's fourth byte) and stores 16 literal bytes; copies check their own
// room.
enum { FAST_SOURCE = 48, FAST_OUTPUT = 32 };

}  // namespace

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

  // Fast loop, while at least FAST_SOURCE code bytes and FAST_OUTPUT
  // output bytes are left at the start of a step. `m` holds one bit per
  // byte from `src` on that is the escape (at least the first 13 bytes'
  // worth; 0 when none was seen). A step stores the 16 bytes at `src` as
  // literals (those past the escape are written again later), takes the code
  // at the first escape and finds the escapes after it from the 16 bytes
  // that follow its shortest form, so that the next step's place does not
  // wait for a second scan.
  const bool fast = srcEnd - src >= FAST_SOURCE && outEnd - out >= FAST_OUTPUT;
  const unsigned char* const srcFastEnd = fast ? srcEnd - FAST_SOURCE : src;
  unsigned char* const outFastEnd = fast ? outEnd - FAST_OUTPUT : out;
  if (fast) {
    // The table by the code byte as written: one above its value when
    // above the escape byte.
    CodeInfo codes[256];
    memcpy(codes, kCodes.info, (escape + 1) * sizeof(CodeInfo));
    memcpy(codes + escape + 1, kCodes.info + escape, (255 - escape) * sizeof(CodeInfo));
    uint32_t m = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(Load16(src), escapes)));
    for (;;) {
      if (__builtin_expect(m == 0, 0)) {
        // A long run of literals, 32 bytes a step; escaped escape bytes are
        // taken without leaving this loop. The output advances no faster
        // than the code bytes, so one limit on `src` keeps both inside
        // their margins.
        const unsigned char* const limit = outFastEnd - out < srcFastEnd - src ? src + (outFastEnd - out) : srcFastEnd;
        for (;;) {
          // 32 bytes a step while neither half holds an escape. Long runs
          // come from data that did not pack, read once from far away: ask
          // for it ahead (never faults).
          uint32_t found = 0;
          while (limit - src >= 16) {
            _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(src) + 512), _MM_HINT_T0);
            const __m128i v0 = Load16(src), v1 = Load16(src + 16);
            Store16(out, v0);
            Store16(out + 16, v1);
            const __m128i e0 = _mm_cmpeq_epi8(v0, escapes), e1 = _mm_cmpeq_epi8(v1, escapes);
            if (_mm_movemask_epi8(_mm_or_si128(e0, e1)) != 0) {
              found = static_cast<uint32_t>(_mm_movemask_epi8(e0)) |
                      (static_cast<uint32_t>(_mm_movemask_epi8(e1)) << 16);
              break;
            }
            src += 32;
            out += 32;
          }
          if (found == 0) {
            // The last steps before the limit, 16 bytes each.
            if (src > limit) goto fastDone;
            const __m128i v = Load16(src);
            Store16(out, v);
            found = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, escapes)));
            if (found == 0) {
              src += 16;
              out += 16;
              continue;
            }
          }
          const uint32_t at = static_cast<uint32_t>(__builtin_ctz(found));
          // A copy code ends the run; an escaped escape byte is already
          // stored.
          if (src[at + 1] != escape) {
            src += at;
            out += at;
            m = 1;
            break;
          }
          src += at + 2;
          out += at + 1;
        }
      }
      Store16(out, Load16(src));
      const unsigned char* const code = src + __builtin_ctz(m);
      out += code - src;
      unsigned int c = code[1];
      // Escapes in the 16 bytes after the shortest code (escape, code,
      // one distance byte).
      const uint32_t after = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(Load16(code + 3), escapes)));
      if (c == escape) {
        // An escaped escape byte: already stored with the literals.
        out += 1;
        src = code + 2;
        m = ((after << 1) | (code[2] == escape)) & 0xFFFF;
        if (src > srcFastEnd || out > outFastEnd) break;
      } else {
        // Escape, code, the extension byte when bit 2 is set, the distance
        // field (read as the top bytes of the 4 that end the code).
        const CodeInfo& info = codes[c];
        src = code + 3 + info.skip;
        m = after >> info.skip;
        if (info.shift == 0xFF) return -1;
        const uint32_t length = info.length + (static_cast<uint32_t>(code[2] & info.extension) << 5);
        uint32_t last4;
        memcpy(&last4, src - 4, 4);
        const uint32_t distance = (last4 >> info.shift) + 1;
        if (distance > static_cast<uint32_t>(out - start)) return -1;
        if (static_cast<ptrdiff_t>(length) > outFastEnd - out) {
          // The copy would end within FAST_OUTPUT bytes of the output's
          // end: the checked loop takes this code. Otherwise the output
          // stays inside its margin, so only `src` is checked below.
          src = code;
          break;
        }
        CopyMatchFast(out, distance, length);
        out += length;
        if (src > srcFastEnd) break;
      }
    }
  }
fastDone:

  // The rest, checked at every step.
  for (;;) {
    while (src < srcEnd && *src != escape) {
      if (out >= outEnd) return -1;
      *out++ = *src++;
    }
    if (src >= srcEnd) break;
    if (srcEnd - src < 2) return -1;
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
    out = CopyMatchExact(out, distance, length, outEnd);
  }
  return out == outEnd ? static_cast<int>(unpackedSize) : -1;
}
