// String and character-set helpers (double-byte aware walkers, copying,
// comparing, formatting), memory fill / copy helpers, number helpers and
// the blend lookup tables.
#include "VeRavoroString.h"

#include <emmintrin.h>
#include <math.h>
#include <stdio.h>

namespace {

int CurrentCharSet = CHARSET_NONE;
int CurrentCodePage = 0;

}  // namespace

unsigned char BlendMix6Table[64][64][64];
int BlendProductTable[256][256];
int BlendSignedScaleTable[256][512];

// ---------------------------------------------------------------------------
// Character set

void SetCharSet(int charSet) { CurrentCharSet = charSet; }
int GetCharSet() { return CurrentCharSet; }
void SetCodePage(int codePage) { CurrentCodePage = codePage; }
int GetCodePage() { return CurrentCodePage; }

int IsLeadByte(unsigned char byte, int charSet) {
  switch (charSet) {
    case CHARSET_HANGEUL:
    case CHARSET_BIG5:
    case CHARSET_GB2312: return byte >= 0x80 ? 1 : 0;
    default:
      // 0x81-0x9F and 0xE0-0xFC fold onto 0xA1-0xDC.
      return static_cast<unsigned char>((byte ^ 0x20) - 0xA1) < 0x3C ? 1 : 0;
  }
}

int GetCharBytePositionKind(const char* text, int position, int charSet) {
  if (text == nullptr || position < 0) return -1;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  int i = 0;
  while (p[i] != 0) {
    if (IsLeadByte(p[i], charSet)) {
      // A lead byte with no trail byte is half a character cut off by a
      // truncation, not a character: -1, as past the end (rather than 1).
      // Callers rely on it to find such a cut end (the log drops the lone
      // byte before writing a truncated line).
      if (p[i + 1] == 0) return -1;
      if (position == i) return 1;
      if (position == i + 1) return 2;
      i += 2;
    } else {
      if (position == i) return 0;
      i += 1;
    }
  }
  return -1;
}

const char* FindChar(const char* text, int c) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char wanted = static_cast<unsigned char>(c);
  const int charSet = CurrentCharSet;
  while (*p != 0) {
    if (IsLeadByte(*p, charSet)) {
      if (p[1] == 0) return nullptr;
      p += 2;
      continue;
    }
    if (*p == wanted) return reinterpret_cast<const char*>(p);
    ++p;
  }
  return nullptr;
}

void UpperCaseString(char* text) {
  unsigned char* p = reinterpret_cast<unsigned char*>(text);
  const int charSet = CurrentCharSet;
  while (*p != 0) {
    if (IsLeadByte(*p, charSet)) {
      if (p[1] == 0) return;
      p += 2;
      continue;
    }
    if (*p >= 'a' && *p <= 'z') *p = static_cast<unsigned char>(*p - 'a' + 'A');
    ++p;
  }
}

// ---------------------------------------------------------------------------
// Byte strings

void CopyString(char* destination, const char* source) {
  while ((*destination++ = *source++) != '\0') {
  }
}

void CopyStringLimited(char* destination, const char* source, int n) {
  int i = 0;
  for (; i < n && source[i] != '\0'; ++i) destination[i] = source[i];
  destination[i] = '\0';
}

void AppendString(char* destination, const char* source) {
  while (*destination != '\0') ++destination;
  CopyString(destination, source);
}

void AppendWideString(wchar_t* destination, const wchar_t* source) {
  while (*destination != L'\0') ++destination;
  while ((*destination++ = *source++) != L'\0') {
  }
}

const char* FindString(const char* text, const char* pattern) {
  if (text == nullptr || text[0] == '\0') return nullptr;
  for (const char* start = text; *start != '\0'; ++start) {
    int i = 0;
    while (pattern[i] != '\0' && start[i] == pattern[i]) ++i;
    if (pattern[i] == '\0') return start;
  }
  return nullptr;
}

int GetStringLength(const char* text) {
  int n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

int CompareStrings(const char* a, const char* b) {
  for (;; ++a, ++b) {
    if (*a != *b) return 1;
    if (*a == '\0') return 0;
  }
}

int CompareStringsLimited(const char* a, const char* b, int n) {
  if (n < 0) return 1;
  for (int i = 0; i < n; ++i) {
    if (a[i] != b[i]) return 1;
    if (a[i] == '\0') return 0;
  }
  return 0;
}

void FormatStringV(char* buffer, const char* format, va_list args) { vsprintf(buffer, format, args); }

int FormatString(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatStringV(buffer, format, args);
  va_end(args);
  return 0;
}

// ---------------------------------------------------------------------------
// Memory

int MemFill(void* destination, int byte, int count) {
  if (count <= 0) return 0;
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char value = static_cast<unsigned char>(byte);
  for (int i = 0; i < count; ++i) d[i] = value;
  return value;
}

void MemFill32(void* destination, uint32_t value, int count) {
  uint32_t* d = static_cast<uint32_t*>(destination);
  for (int i = 0; i < count; ++i) d[i] = value;
}

int MemCompare(const void* a, const void* b, int count) {
  const unsigned char* pa = static_cast<const unsigned char*>(a);
  const unsigned char* pb = static_cast<const unsigned char*>(b);
  for (int i = 0; i < count; ++i) {
    if (pa[i] != pb[i]) return 1;
  }
  return 0;
}

void MemCopy(void* destination, const void* source, int count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  for (int i = 0; i < count; ++i) d[i] = s[i];
}

int MemMove(void* destination, const void* source, int count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  if (count <= 0 || d == s) return count;
  if (reinterpret_cast<uintptr_t>(d) > reinterpret_cast<uintptr_t>(s)) {
    for (int i = count - 1; i >= 0; --i) d[i] = s[i];
  } else {
    for (int i = 0; i < count; ++i) d[i] = s[i];
  }
  return count;
}

char* IntToText(int value, char* buffer, int radix) {
  if (radix < 2 || radix > 36) {
    buffer[0] = '\0';
    return buffer;
  }
  // Work on the magnitude as unsigned so INT_MIN has one.
  unsigned int magnitude = value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
  char digits[33];
  int n = 0;
  do {
    const unsigned int d = magnitude % static_cast<unsigned int>(radix);
    digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + (d - 10));
    magnitude /= static_cast<unsigned int>(radix);
  } while (magnitude != 0);
  char* out = buffer;
  if (value < 0) *out++ = '-';
  while (n > 0) *out++ = digits[--n];
  *out = '\0';
  return buffer;
}

// ---------------------------------------------------------------------------
// Numbers

void SinCosFloat(float angle, float* sine, float* cosine) {
  *sine = sinf(angle);
  *cosine = cosf(angle);
}

float PowFloat(float x, float y) { return powf(x, y); }
float Atan2Float(float y, float x) { return atan2f(y, x); }
float ExpFloat(float x) { return expf(x); }
float AcosFloat(float x) { return acosf(x); }
double Log10Double(double x) { return log10(x); }
float SqrtFloat(float x) { return sqrtf(x); }

int AbsInt(int x) {
  // INT_MIN has no positive counterpart and comes back unchanged.
  return x < 0 ? static_cast<int>(0u - static_cast<unsigned int>(x)) : x;
}

float AbsFloat(float x) { return x < 0.0f ? -x : x; }

// The cvtt* instructions always truncate, whatever MXCSR's rounding field
// holds; values out of int range give 0x80000000.
int TruncateFloatToInt(float x) { return _mm_cvtt_ss2si(_mm_set_ss(x)); }

int TruncateDoubleToInt(double x) { return _mm_cvttsd_si32(_mm_set_sd(x)); }

void TruncateFloat4ToInt4(const float* in, int* out) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_cvttps_epi32(_mm_loadu_ps(in)));
}

void TruncateDouble4ToInt4(const double* in, int* out) {
  const __m128i low = _mm_cvttpd_epi32(_mm_loadu_pd(in));
  const __m128i high = _mm_cvttpd_epi32(_mm_loadu_pd(in + 2));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi64(low, high));
}

void Multiply64To128(const uint32_t* a, const uint32_t* b, uint32_t* result) {
  uint32_t r[4] = {0, 0, 0, 0};
  for (int i = 0; i < 2; ++i) {
    uint64_t carry = 0;
    for (int j = 0; j < 2; ++j) {
      const uint64_t t = static_cast<uint64_t>(a[i]) * b[j] + r[i + j] + carry;
      r[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    r[i + 2] = static_cast<uint32_t>(carry);
  }
  for (int i = 0; i < 4; ++i) result[i] = r[i];
}

void Divide128By64(const uint32_t* dividend, const uint32_t* divisor, uint32_t* quotient) {
  // Restoring division, one quotient bit per step from the top. The
  // remainder is kept in 65 bits (high bit in remainderTop) so a divisor
  // with its top bit set still compares correctly. A zero divisor gives
  // a quotient of all ones.
  const uint64_t d = (static_cast<uint64_t>(divisor[1]) << 32) | divisor[0];
  uint64_t remainder = 0;
  uint64_t quotientLow = 0;
  for (int bit = 127; bit >= 0; --bit) {
    const uint32_t remainderTop = static_cast<uint32_t>(remainder >> 63);
    remainder = (remainder << 1) | ((dividend[bit >> 5] >> (bit & 31)) & 1u);
    quotientLow <<= 1;
    if (remainderTop != 0 || remainder >= d) {
      remainder -= d;
      quotientLow |= 1;
    }
  }
  quotient[0] = static_cast<uint32_t>(quotientLow);
  quotient[1] = static_cast<uint32_t>(quotientLow >> 32);
}

int BuildBlendLookupTables() {
  for (int k = 0; k < 64; ++k) {
    for (int a = 0; a < 64; ++a) {
      for (int b = 0; b < 64; ++b) {
        BlendMix6Table[k][a][b] = static_cast<unsigned char>((a * k + b * (63 - k)) / 63);
      }
    }
  }
  for (int b = 0; b < 256; ++b) {
    for (int a = 0; a < 256; ++a) BlendProductTable[b][a] = a * b / 255;
  }
  for (int a = 0; a < 256; ++a) {
    BlendSignedScaleTable[a][0] = 0;
    for (int v = -255; v <= 255; ++v) BlendSignedScaleTable[a][v + 256] = v * a / 255;
  }
  return 0;
}
