// String, character-set and number helpers. The text walkers know
// double-byte character sets, so a trail byte is never taken for a
// separator or a letter.
#ifndef VERAVORO_STRING_H
#define VERAVORO_STRING_H

#include <stdarg.h>
#include <stdint.h>
#include <wchar.h>

// Character sets: 0 not set (as 1), 1 Shift-JIS, 2 Korean, 3 Traditional
// Chinese, 4 Simplified Chinese.
enum {
  CHARSET_NONE = 0,
  CHARSET_SHIFTJIS = 1,
  CHARSET_HANGEUL = 2,
  CHARSET_BIG5 = 3,
  CHARSET_GB2312 = 4,
};

void SetCharSet(int charSet);
int GetCharSet();
void SetCodePage(int codePage);
int GetCodePage();

int IsLeadByte(unsigned char byte, int charSet);
int GetCharBytePositionKind(const char* text, int position, int charSet);

const char* FindChar(const char* text, int c);
void UpperCaseString(char* text);

void CopyString(char* destination, const char* source);
void CopyStringLimited(char* destination, const char* source, int n);
void AppendString(char* destination, const char* source);
void AppendWideString(wchar_t* destination, const wchar_t* source);
const char* FindString(const char* text, const char* pattern);
int GetStringLength(const char* text);
int CompareStrings(const char* a, const char* b);
int CompareStringsLimited(const char* a, const char* b, int n);
void FormatStringV(char* buffer, const char* format, va_list args);
int FormatString(char* buffer, const char* format, ...);
int MemFill(void* destination, int byte, int count);
void MemFill32(void* destination, uint32_t value, int count);
int MemCompare(const void* a, const void* b, int count);
void MemCopy(void* destination, const void* source, int count);
int MemMove(void* destination, const void* source, int count);
char* IntToText(int value, char* buffer, int radix);

// "\" or "/": the path separators every path helper accepts.
inline int IsPathSeparator(int c) { return c == '\\' || c == '/'; }

// True when [offset, offset + length) lies inside [0, limit), without
// overflow whatever the values.
inline int RangeFits(uint64_t offset, uint64_t length, uint64_t limit) {
  return offset <= limit && length <= limit - offset;
}

// Little-endian fields of file formats, at any alignment.
inline uint16_t ReadLE16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLE32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t ReadLE64(const unsigned char* p) {
  return static_cast<uint64_t>(ReadLE32(p)) | (static_cast<uint64_t>(ReadLE32(p + 4)) << 32);
}
// Big-endian fields (box sizes of MP4 / QuickTime files).
inline uint32_t ReadBE32(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint64_t ReadBE64(const unsigned char* p) {
  return (static_cast<uint64_t>(ReadBE32(p)) << 32) | static_cast<uint64_t>(ReadBE32(p + 4));
}
inline void WriteLE32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

void SinCosFloat(float angle, float* sine, float* cosine);
float PowFloat(float x, float y);
float Atan2Float(float y, float x);
float ExpFloat(float x);
float AcosFloat(float x);
double Log10Double(double x);
float SqrtFloat(float x);
int AbsInt(int x);
float AbsFloat(float x);
int TruncateFloatToInt(float x);
int TruncateDoubleToInt(double x);
void TruncateFloat4ToInt4(const float* in, int* out);
void TruncateDouble4ToInt4(const double* in, int* out);
void Multiply64To128(const uint32_t* a, const uint32_t* b, uint32_t* result);
void Divide128By64(const uint32_t* dividend, const uint32_t* divisor, uint32_t* quotient);

// Software-renderer blend tables, filled by BuildBlendLookupTables.
extern unsigned char BlendMix6Table[64][64][64];  // [k][a][b] = (a*k + b*(63-k)) / 63
extern int BlendProductTable[256][256];           // [b][a] = a*b / 255
extern int BlendSignedScaleTable[256][512];       // [a][v+256] = v*a/255 toward zero
int BuildBlendLookupTables();

#endif  // VERAVORO_STRING_H
