// Character-set aware text helpers, byte/memory helpers, number helpers
// and the blend lookup tables.
#include <gtest/gtest.h>

#include <limits.h>
#include <math.h>
#include <string.h>
#include <windows.h>
#include <xmmintrin.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "VeRavoroString.h"

namespace {

// Restores the library-wide character set after each test.
class CharSetFixture : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = GetCharSet(); }
  void TearDown() override { SetCharSet(saved_); }
  int saved_ = 0;
};

// A text placed so that its terminating NUL is the last readable byte:
// the page after it is inaccessible, so any read past the NUL faults.
class GuardedText {
 public:
  explicit GuardedText(const std::string& bytes) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
    base_ = static_cast<char*>(VirtualAlloc(nullptr, page_ * 2, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
    text_ = base_ + page_ - (bytes.size() + 1);
    memcpy(text_, bytes.c_str(), bytes.size() + 1);
  }
  ~GuardedText() { VirtualFree(base_, 0, MEM_RELEASE); }
  char* text() const { return text_; }

 private:
  DWORD page_ = 0;
  char* base_ = nullptr;
  char* text_ = nullptr;
};

// ---------------------------------------------------------------------------
// Character set and lead bytes

TEST_F(CharSetFixture, SetAndGetCharSetAndCodePage) {
  const int savedPage = GetCodePage();
  SetCharSet(CHARSET_BIG5);
  SetCodePage(950);
  EXPECT_EQ(CHARSET_BIG5, GetCharSet());
  EXPECT_EQ(950, GetCodePage());
  SetCodePage(savedPage);
}

struct LeadByteCase {
  unsigned char byte;
  int charSet;
  int expected;
};

TEST(LeadByte, BoundaryTable) {
  // clang-format off
  const LeadByteCase cases[] = {
      // Shift-JIS (and the unset value 0, and values above 4).
      {0x00, 1, 0}, {0x41, 1, 0}, {0x5C, 1, 0}, {0x7F, 1, 0}, {0x80, 1, 0}, {0x81, 1, 1},
      {0x95, 1, 1}, {0x9F, 1, 1}, {0xA0, 1, 0}, {0xA1, 1, 0}, {0xB1, 1, 0}, {0xDF, 1, 0},
      {0xE0, 1, 1}, {0xFC, 1, 1}, {0xFD, 1, 0}, {0xFF, 1, 0},
      {0x81, 0, 1}, {0xA0, 0, 0}, {0xE0, 0, 1}, {0xFD, 0, 0},
      {0x81, 5, 1}, {0xA0, 5, 0}, {0x81, -1, 1}, {0xB0, -1, 0},
      // Korean, Traditional and Simplified Chinese: every byte from 0x80.
      {0x7F, 2, 0}, {0x80, 2, 1}, {0xA0, 2, 1}, {0xDF, 2, 1}, {0xFF, 2, 1},
      {0x7F, 3, 0}, {0x80, 3, 1}, {0xB0, 3, 1}, {0xFF, 3, 1},
      {0x7F, 4, 0}, {0x80, 4, 1}, {0xC0, 4, 1}, {0xFF, 4, 1},
  };
  // clang-format on
  for (const LeadByteCase& c : cases) {
    EXPECT_EQ(c.expected, IsLeadByte(c.byte, c.charSet))
        << "byte 0x" << std::hex << int(c.byte) << " charset " << std::dec << c.charSet;
  }
}

TEST(LeadByte, EveryByteOfEveryCharSet) {
  for (int charSet = -1; charSet <= 6; ++charSet) {
    const bool wide = charSet == 2 || charSet == 3 || charSet == 4;
    for (int b = 0; b < 256; ++b) {
      const bool lead = wide ? b >= 0x80 : ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC));
      ASSERT_EQ(lead ? 1 : 0, IsLeadByte(static_cast<unsigned char>(b), charSet))
          << "byte " << b << " charset " << charSet;
    }
  }
}

// ---------------------------------------------------------------------------
// GetCharBytePositionKind

struct PositionCase {
  const char* text;
  int charSet;
  int position;
  int expected;
};

TEST(CharBytePositionKind, Table) {
  const PositionCase cases[] = {
      {"\x82\xA0\x41", 1, 0, 1},
      {"\x82\xA0\x41", 1, 1, 2},
      {"\x82\xA0\x41", 1, 2, 0},
      {"\x82\xA0\x41", 1, 3, -1},
      {"\x82\xA0\x41", 1, 40, -1},
      {"\x82\xA0\x41", 1, -1, -1},
      {"", 1, 0, -1},
      // Half-width katakana are single bytes in Shift-JIS, lead bytes in Korean.
      {"\xB1\x82\xA0", 1, 0, 0},
      {"\xB1\x82\xA0", 1, 1, 1},
      {"\xB1\x82\xA0", 1, 2, 2},
      {"\xB1\x41", 2, 0, 1},
      {"\xB1\x41", 2, 1, 2},
      {"\xB1\x41", 0, 0, 0},
      {"\xB1\x41", 0, 1, 0},
      // A trail byte equal to '\' stays a trail byte.
      {"\x95\x5C\x5C", 1, 1, 2},
      {"\x95\x5C\x5C", 1, 2, 0},
      // A lead byte directly before the NUL ends the text.
      {"A\x82", 1, 0, 0},
      {"A\x82", 1, 1, -1},
      {"A\x82", 1, 2, -1},
      {"\x82", 1, 0, -1},
      {"A\xB1", 4, 1, -1},
  };
  for (const PositionCase& c : cases) {
    EXPECT_EQ(c.expected, GetCharBytePositionKind(c.text, c.position, c.charSet))
        << "charset " << c.charSet << " position " << c.position;
  }
}

TEST(CharBytePositionKind, NeverReadsPastTheNul) {
  GuardedText lone("AB\x82");
  for (int position = 0; position < 6; ++position) {
    EXPECT_EQ(position < 2 ? 0 : -1, GetCharBytePositionKind(lone.text(), position, 1)) << position;
  }
  GuardedText whole("\x82\xA0");
  EXPECT_EQ(2, GetCharBytePositionKind(whole.text(), 1, 1));
  EXPECT_EQ(-1, GetCharBytePositionKind(whole.text(), 2, 1));
  EXPECT_EQ(-1, GetCharBytePositionKind(whole.text(), 3, 1));
}

// ---------------------------------------------------------------------------
// FindChar and UpperCaseString

struct FindCharCase {
  const char* text;
  int charSet;
  int c;
  int expectedOffset;  // -1: not found
};

TEST_F(CharSetFixture, FindCharTable) {
  const FindCharCase cases[] = {
      {"\x95\x5C\\", 1, '\\', 2},
      {"\x95\x5C\\", 0, '\\', 2},
      {"\x95\x5C", 1, '\\', -1},
      {"\x95\x5C/a/b", 1, '/', 2},
      {"\xB0\\", 1, '\\', 1},    // half-width katakana is one byte
      {"\xB0\\\\", 2, '\\', 2},  // but a lead byte in Korean
      {"\xA4\x5C\\", 3, '\\', 2},
      {"\xA4\x5C\\", 4, '\\', 2},
      {"\xA0x", 1, static_cast<char>(0xA0), 0},
      {"a\x82", 1, static_cast<char>(0x82), -1},  // lone lead byte ends the text
      {"a\x82"
       "b",
       1, 'b', -1},  // 0x82 'b' is one character
      {"abc", 1, 'c', 2},
      {"abc", 1, 'z', -1},
      {"abc", 1, 0, -1},
      {"", 1, 'a', -1},
  };
  for (const FindCharCase& c : cases) {
    SetCharSet(c.charSet);
    const char* found = FindChar(c.text, c.c);
    const int offset = found == nullptr ? -1 : static_cast<int>(found - c.text);
    EXPECT_EQ(c.expectedOffset, offset) << "charset " << c.charSet << " c " << c.c;
  }
}

TEST_F(CharSetFixture, FindCharOnShiftJisLiteral) {
  // U+8868 is 0x95 0x5C in Shift-JIS; the literal is compiled to it.
  const char text[] = "表\\";
  ASSERT_EQ(3u, strlen(text));
  ASSERT_EQ(0x5C, static_cast<unsigned char>(text[1]));
  SetCharSet(CHARSET_SHIFTJIS);
  EXPECT_EQ(text + 2, FindChar(text, '\\'));
}

TEST_F(CharSetFixture, FindCharNeverReadsPastTheNul) {
  SetCharSet(CHARSET_SHIFTJIS);
  GuardedText text("ab\x82");
  EXPECT_EQ(nullptr, FindChar(text.text(), 'z'));
  EXPECT_EQ(text.text() + 1, FindChar(text.text(), 'b'));
}

struct UpperCase {
  const char* text;
  int charSet;
  const char* expected;
};

TEST_F(CharSetFixture, UpperCaseStringTable) {
  const UpperCase cases[] = {
      {"\x82\x61"
       "b",
       1,
       "\x82\x61"
       "B"},
      {"\x82\x61"
       "b",
       0,
       "\x82\x61"
       "B"},
      {"abc\x95\x5Cz", 1, "ABC\x95\x5CZ"},
      {"\xB0"
       "aa",
       1,
       "\xB0"
       "AA"},  // half-width katakana is one byte
      {"\xB0"
       "aa",
       2,
       "\xB0"
       "aA"},  // Korean: 0xB0 'a' is one character
      {"\xC4"
       "ab",
       4,
       "\xC4"
       "aB"},
      {"Mixed 09_z{", 1, "MIXED 09_Z{"},
      {"ab\x82", 1, "AB\x82"},
      {"", 1, ""},
  };
  for (const UpperCase& c : cases) {
    SetCharSet(c.charSet);
    char buffer[32];
    strcpy(buffer, c.text);
    UpperCaseString(buffer);
    EXPECT_STREQ(c.expected, buffer) << "charset " << c.charSet;
  }
}

TEST_F(CharSetFixture, UpperCaseStringNeverReadsPastTheNul) {
  SetCharSet(CHARSET_SHIFTJIS);
  GuardedText text("ab\x82");
  UpperCaseString(text.text());
  EXPECT_STREQ("AB\x82", text.text());
}

// ---------------------------------------------------------------------------
// Byte strings

TEST(ByteString, CopyAndAppend) {
  char buffer[16];
  memset(buffer, 'x', sizeof(buffer));
  CopyString(buffer, "abc");
  EXPECT_STREQ("abc", buffer);
  EXPECT_EQ('x', buffer[4]);
  AppendString(buffer, "de");
  EXPECT_STREQ("abcde", buffer);
  AppendString(buffer, "");
  EXPECT_STREQ("abcde", buffer);
  CopyString(buffer, "");
  EXPECT_STREQ("", buffer);

  wchar_t wide[16] = L"ab";
  AppendWideString(wide, L"\x3042z");
  EXPECT_EQ(0, wcscmp(L"ab\x3042z", wide));
}

struct LimitedCopyCase {
  const char* source;
  int n;
  const char* expected;
};

TEST(ByteString, CopyStringLimitedTable) {
  const LimitedCopyCase cases[] = {
      {"abcdef", 3, "abc"}, {"abcdef", 6, "abcdef"}, {"abcdef", 10, "abcdef"}, {"ab", 5, "ab"},
      {"abcdef", 1, "a"},   {"abcdef", 0, ""},       {"abcdef", -1, ""},       {"", 4, ""},
  };
  for (const LimitedCopyCase& c : cases) {
    char buffer[16];
    memset(buffer, 'x', sizeof(buffer));
    CopyStringLimited(buffer, c.source, c.n);
    EXPECT_STREQ(c.expected, buffer) << c.source << " n " << c.n;
    // Nothing beyond the NUL is written.
    EXPECT_EQ('x', buffer[strlen(c.expected) + 1]) << c.source << " n " << c.n;
  }
}

struct FindStringCase {
  const char* text;
  const char* pattern;
  int expectedOffset;  // -1: null
};

TEST(ByteString, FindStringTable) {
  const FindStringCase cases[] = {
      {"hello", "ll", 2},  {"hello", "hello", 0}, {"hello", "o", 4}, {"aab", "ab", 1}, {"hello", "", 0},
      {"abc", "abcd", -1}, {"abc", "x", -1},      {"", "", -1},      {"", "a", -1},
  };
  for (const FindStringCase& c : cases) {
    const char* found = FindString(c.text, c.pattern);
    const int offset = found == nullptr ? -1 : static_cast<int>(found - c.text);
    EXPECT_EQ(c.expectedOffset, offset) << '"' << c.text << "\" / \"" << c.pattern << '"';
  }
}

TEST(ByteString, LengthAndCompare) {
  EXPECT_EQ(0, GetStringLength(""));
  EXPECT_EQ(5, GetStringLength("ab\x82\xA0z"));

  EXPECT_EQ(0, CompareStrings("abc", "abc"));
  EXPECT_EQ(0, CompareStrings("", ""));
  EXPECT_EQ(1, CompareStrings("abc", "abd"));
  EXPECT_EQ(1, CompareStrings("abd", "abc"));  // no ordering
  EXPECT_EQ(1, CompareStrings("ab", "abc"));
  EXPECT_EQ(1, CompareStrings("abc", "ab"));
}

struct LimitedCompareCase {
  const char* a;
  const char* b;
  int n;
  int expected;
};

TEST(ByteString, CompareStringsLimitedTable) {
  const LimitedCompareCase cases[] = {
      {"abc", "abd", 2, 0}, {"abc", "abd", 3, 1},  {"abd", "abc", 3, 1}, {"a", "b", 0, 0},    {"abc", "abc", -1, 1},
      {"a", "b", -5, 1},    {"abc", "abc", 10, 0}, {"ab", "abc", 5, 1},  {"ab", "abc", 2, 0}, {"", "", 1, 0},
  };
  for (const LimitedCompareCase& c : cases) {
    EXPECT_EQ(c.expected, CompareStringsLimited(c.a, c.b, c.n)) << c.a << " / " << c.b << " n " << c.n;
  }
}

TEST(ByteString, Format) {
  char buffer[64];
  EXPECT_EQ(0, FormatString(buffer, "%d-%s-%04x-%.2f", -5, "x", 0xBEEF, 1.5));
  EXPECT_STREQ("-5-x-beef-1.50", buffer);
}

// ---------------------------------------------------------------------------
// Memory

TEST(Memory, FillAndCompare) {
  unsigned char buffer[8];
  memset(buffer, 0x11, sizeof(buffer));
  EXPECT_EQ(0, MemFill(buffer, 0x7F, 0));
  EXPECT_EQ(0x11, buffer[0]);
  EXPECT_EQ(0xAB, MemFill(buffer + 1, 0x1AB, 3));
  const unsigned char filled[8] = {0x11, 0xAB, 0xAB, 0xAB, 0x11, 0x11, 0x11, 0x11};
  EXPECT_EQ(0, memcmp(filled, buffer, 8));

  uint32_t words[4] = {1, 2, 3, 4};
  MemFill32(words, 0xDEADBEEF, 3);
  EXPECT_EQ(0xDEADBEEFu, words[0]);
  EXPECT_EQ(0xDEADBEEFu, words[2]);
  EXPECT_EQ(4u, words[3]);

  const char a[] = "abcdef";
  const char b[] = "abcdeg";
  EXPECT_EQ(0, MemCompare(a, b, 0));
  EXPECT_EQ(0, MemCompare(a, b, 5));
  EXPECT_EQ(1, MemCompare(a, b, 6));
  EXPECT_EQ(1, MemCompare("\x80", "\x7F", 1));
}

TEST(Memory, CopyAndMoveBothDirections) {
  char buffer[11];
  MemCopy(buffer, "0123456789", 11);
  EXPECT_STREQ("0123456789", buffer);

  // Destination above the source: copied backwards.
  EXPECT_EQ(6, MemMove(buffer + 2, buffer, 6));
  EXPECT_STREQ("0101234589", buffer);

  // Destination below the source: copied forwards.
  MemCopy(buffer, "0123456789", 11);
  EXPECT_EQ(6, MemMove(buffer, buffer + 2, 6));
  EXPECT_STREQ("2345676789", buffer);

  // Overlap by one byte, and the same range.
  MemCopy(buffer, "0123456789", 11);
  EXPECT_EQ(9, MemMove(buffer + 1, buffer, 9));
  EXPECT_STREQ("0012345678", buffer);
  EXPECT_EQ(10, MemMove(buffer, buffer, 10));
  EXPECT_STREQ("0012345678", buffer);
  EXPECT_EQ(0, MemMove(buffer, buffer + 3, 0));
  EXPECT_STREQ("0012345678", buffer);
}

// ---------------------------------------------------------------------------
// IntToText

struct IntTextCase {
  int value;
  int radix;
  const char* expected;
};

TEST(IntToText, Table) {
  const IntTextCase cases[] = {
      {0, 10, "0"},
      {0, 2, "0"},
      {0, 16, "0"},
      {255, 16, "ff"},
      {-255, 16, "-ff"},
      {-1, 10, "-1"},
      {5, 2, "101"},
      {-5, 2, "-101"},
      {8, 8, "10"},
      {35, 36, "z"},
      {36, 36, "10"},
      {123456789, 10, "123456789"},
      {INT_MAX, 10, "2147483647"},
      {INT_MAX, 36, "zik0zj"},
      {INT_MIN, 10, "-2147483648"},
      {INT_MIN, 16, "-80000000"},
      {INT_MIN, 2, "-10000000000000000000000000000000"},
      {INT_MIN, 36, "-zik0zk"},
  };
  for (const IntTextCase& c : cases) {
    char buffer[40];
    memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(buffer, IntToText(c.value, buffer, c.radix));
    EXPECT_STREQ(c.expected, buffer) << c.value << " radix " << c.radix;
  }
}

TEST(IntToText, RadixOutOfRangeGivesEmptyText) {
  char buffer[8] = "junk";
  EXPECT_STREQ("", IntToText(12, buffer, 1));
  strcpy(buffer, "junk");
  EXPECT_STREQ("", IntToText(12, buffer, 37));
  strcpy(buffer, "junk");
  EXPECT_STREQ("", IntToText(12, buffer, 0));
}

// ---------------------------------------------------------------------------
// Number functions

TEST(NumberFunctions, Values) {
  float s = 0, c = 0;
  SinCosFloat(3.14159265f / 6.0f, &s, &c);
  EXPECT_NEAR(0.5f, s, 1e-6f);
  EXPECT_NEAR(0.8660254f, c, 1e-6f);
  SinCosFloat(0.0f, &s, &c);
  EXPECT_EQ(0.0f, s);
  EXPECT_EQ(1.0f, c);

  EXPECT_FLOAT_EQ(1024.0f, PowFloat(2.0f, 10.0f));
  EXPECT_FLOAT_EQ(3.0f, PowFloat(9.0f, 0.5f));
  EXPECT_FLOAT_EQ(1.5707964f, Atan2Float(1.0f, 0.0f));
  EXPECT_FLOAT_EQ(3.1415927f, Atan2Float(0.0f, -1.0f));
  EXPECT_FLOAT_EQ(-0.7853982f, Atan2Float(-1.0f, 1.0f));
  EXPECT_FLOAT_EQ(1.0f, ExpFloat(0.0f));
  EXPECT_FLOAT_EQ(2.7182817f, ExpFloat(1.0f));
  EXPECT_FLOAT_EQ(3.1415927f, AcosFloat(-1.0f));
  EXPECT_FLOAT_EQ(0.0f, AcosFloat(1.0f));
  EXPECT_DOUBLE_EQ(3.0, Log10Double(1000.0));
  EXPECT_DOUBLE_EQ(-2.0, Log10Double(0.01));
  EXPECT_FLOAT_EQ(1.4142135f, SqrtFloat(2.0f));

  EXPECT_EQ(5, AbsInt(-5));
  EXPECT_EQ(5, AbsInt(5));
  EXPECT_EQ(0, AbsInt(0));
  EXPECT_EQ(INT_MAX, AbsInt(-INT_MAX));
  EXPECT_EQ(INT_MIN, AbsInt(INT_MIN));
}

uint32_t FloatBits(float f) {
  uint32_t u;
  memcpy(&u, &f, 4);
  return u;
}

TEST(NumberFunctions, AbsFloatKeepsNanAndNegativeZero) {
  EXPECT_EQ(2.5f, AbsFloat(-2.5f));
  EXPECT_EQ(2.5f, AbsFloat(2.5f));
  EXPECT_EQ(FloatBits(-0.0f), FloatBits(AbsFloat(-0.0f)));
  EXPECT_EQ(FloatBits(INFINITY), FloatBits(AbsFloat(-INFINITY)));
  const float negativeNan = -NAN;
  ASSERT_TRUE(signbit(negativeNan));
  EXPECT_EQ(FloatBits(negativeNan), FloatBits(AbsFloat(negativeNan)));
  EXPECT_EQ(FloatBits(NAN), FloatBits(AbsFloat(NAN)));
}

// Truncation must not follow the rounding mode of either the x87 unit or
// SSE; every combination of the two is tried.
struct TruncCase {
  double value;
  int expected;
};

// clang-format off
const TruncCase kTruncCases[] = {
    {2.5, 2},        {-2.5, -2},      {2.7, 2},          {-2.7, -2},          {0.5, 0},
    {-0.5, 0},       {0.999, 0},      {-0.999, 0},       {1.0, 1},            {-1.0, -1},
    {3.5, 3},        {-3.5, -3},      {0.0, 0},          {16777215.0, 16777215},
    {-16777215.0, -16777215},         {2147483520.0, 2147483520},        {-2147483648.0, INT_MIN},
};
// clang-format on

// The x87 control word is read and written directly: the runtime's
// control-word calls merge it with the SSE state.
unsigned short GetX87ControlWord() {
  unsigned short word = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(word));
  return word;
}

void SetX87ControlWord(unsigned short word) { __asm__ __volatile__("fldcw %0" : : "m"(word)); }

TEST(Truncate, TowardZeroUnderEveryRoundingMode) {
  // x87 rounding-control field (bits 10-11): nearest, down, up, toward zero.
  const unsigned short x87Modes[] = {0x0000, 0x0400, 0x0800, 0x0C00};
  const unsigned int sseModes[] = {_MM_ROUND_NEAREST, _MM_ROUND_DOWN, _MM_ROUND_UP, _MM_ROUND_TOWARD_ZERO};
  const int n = sizeof(kTruncCases) / sizeof(kTruncCases[0]);
  const unsigned short savedX87 = GetX87ControlWord();
  const unsigned int savedSse = _MM_GET_ROUNDING_MODE();

  for (unsigned short x87 : x87Modes) {
    for (unsigned int sse : sseModes) {
      std::vector<int> floatOut(n), doubleOut(n), float4Out(n + 3), double4Out(n + 3);
      std::vector<float> floats(n + 3, 0.0f);
      std::vector<double> doubles(n + 3, 0.0);
      for (int i = 0; i < n; ++i) {
        floats[i] = static_cast<float>(kTruncCases[i].value);
        doubles[i] = kTruncCases[i].value;
      }
      volatile float probe = 2.2f;
      int roundedProbe = 0;
      unsigned short x87Now = 0;

      SetX87ControlWord(static_cast<unsigned short>((savedX87 & ~0x0C00) | x87));
      _MM_SET_ROUNDING_MODE(sse);
      x87Now = GetX87ControlWord() & 0x0C00;
      roundedProbe = _mm_cvtss_si32(_mm_set_ss(probe));
      for (int i = 0; i < n; ++i) {
        floatOut[i] = TruncateFloatToInt(floats[i]);
        doubleOut[i] = TruncateDoubleToInt(doubles[i]);
      }
      for (int i = 0; i < n; i += 4) {
        TruncateFloat4ToInt4(&floats[i], &float4Out[i]);
        TruncateDouble4ToInt4(&doubles[i], &double4Out[i]);
      }
      _MM_SET_ROUNDING_MODE(savedSse);
      SetX87ControlWord(savedX87);

      // The modes really were in force while the values were converted.
      ASSERT_EQ(x87, x87Now);
      ASSERT_EQ(sse == _MM_ROUND_UP ? 3 : 2, roundedProbe);
      for (int i = 0; i < n; ++i) {
        const TruncCase& c = kTruncCases[i];
        EXPECT_EQ(c.expected, floatOut[i]) << c.value << " x87 " << x87 << " sse " << sse;
        EXPECT_EQ(c.expected, doubleOut[i]) << c.value << " x87 " << x87 << " sse " << sse;
        EXPECT_EQ(c.expected, float4Out[i]) << c.value << " x87 " << x87 << " sse " << sse;
        EXPECT_EQ(c.expected, double4Out[i]) << c.value << " x87 " << x87 << " sse " << sse;
      }
    }
  }
}

TEST(Truncate, DoubleEdgesAndOutOfRange) {
  EXPECT_EQ(INT_MAX, TruncateDoubleToInt(2147483647.9));
  EXPECT_EQ(INT_MIN, TruncateDoubleToInt(-2147483648.9));
  // Values out of int range and NaN give the integer-indefinite value.
  EXPECT_EQ(INT_MIN, TruncateDoubleToInt(3e9));
  EXPECT_EQ(INT_MIN, TruncateFloatToInt(3e9f));
  EXPECT_EQ(INT_MIN, TruncateFloatToInt(NAN));
  const float in[4] = {1.9f, -1.9f, 1e20f, 7.0f};
  int out[4];
  TruncateFloat4ToInt4(in, out);
  EXPECT_EQ(1, out[0]);
  EXPECT_EQ(-1, out[1]);
  EXPECT_EQ(INT_MIN, out[2]);
  EXPECT_EQ(7, out[3]);
}

// ---------------------------------------------------------------------------
// 128-bit multiply and divide

void Split(uint64_t v, uint32_t* words) {
  words[0] = static_cast<uint32_t>(v);
  words[1] = static_cast<uint32_t>(v >> 32);
}

struct MultiplyCase {
  uint64_t a;
  uint64_t b;
  uint32_t expected[4];  // low word first
};

TEST(Wide128, MultiplyTable) {
  const MultiplyCase cases[] = {
      {0, 0, {0, 0, 0, 0}},
      {0, ~0ull, {0, 0, 0, 0}},
      {1, ~0ull, {0xFFFFFFFF, 0xFFFFFFFF, 0, 0}},
      {~0ull, ~0ull, {1, 0, 0xFFFFFFFE, 0xFFFFFFFF}},  // 2^128 - 2^65 + 1
      {0xFFFFFFFFull, 0xFFFFFFFFull, {1, 0xFFFFFFFE, 0, 0}},
      {1ull << 32, 1ull << 32, {0, 0, 1, 0}},
      {1ull << 63, 2, {0, 0, 1, 0}},
      {1ull << 63, 1ull << 63, {0, 0, 0, 0x40000000}},
      {0x123456789ABCDEF0ull, 0x0FEDCBA987654321ull, {0xE5618CF0, 0x2236D88F, 0xAD77D742, 0x0121FA00}},
  };
  for (const MultiplyCase& c : cases) {
    uint32_t a[2], b[2], r[4] = {9, 9, 9, 9};
    Split(c.a, a);
    Split(c.b, b);
    Multiply64To128(a, b, r);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(c.expected[i], r[i]) << std::hex << c.a << " * " << c.b << " word " << i;
    }
  }
}

uint64_t Join(const uint32_t* words) { return (static_cast<uint64_t>(words[1]) << 32) | words[0]; }

// Adds a 64-bit value into a 128-bit number in place.
void Add128(uint32_t* n, uint64_t v) {
  uint64_t carry = v;
  for (int i = 0; i < 4 && carry != 0; ++i) {
    const uint64_t t = static_cast<uint64_t>(n[i]) + static_cast<uint32_t>(carry);
    n[i] = static_cast<uint32_t>(t);
    carry = (carry >> 32) + (t >> 32);
  }
}

TEST(Wide128, DivideUndoesMultiply) {
  std::mt19937_64 rng(12345);
  std::vector<std::pair<uint64_t, uint64_t>> pairs = {
      {~0ull, ~0ull},      {~0ull, 1},      {1, ~0ull},         {0, 7},
      {12345, 1ull << 63}, {1ull << 63, 3}, {1000000, 3579545},  // microsecond clock: ticks x 1,000,000 / frequency
  };
  for (int i = 0; i < 200; ++i) {
    const uint64_t b = rng() >> (rng() % 64);
    pairs.push_back({rng(), b == 0 ? 1 : b});
  }
  for (const auto& p : pairs) {
    uint32_t a[2], b[2], product[4], q[2];
    Split(p.first, a);
    Split(p.second, b);
    Multiply64To128(a, b, product);
    Divide128By64(product, b, q);
    ASSERT_EQ(p.first, Join(q)) << std::hex << p.first << " / " << p.second;
    // A remainder below the divisor does not change the quotient.
    Add128(product, p.second - 1);
    Divide128By64(product, b, q);
    ASSERT_EQ(p.first, Join(q)) << std::hex << p.first << " / " << p.second << " + remainder";
  }
}

TEST(Wide128, DivideSmallValuesAndWideQuotients) {
  const uint32_t hundred[4] = {100, 0, 0, 0};
  const uint32_t seven[2] = {7, 0};
  uint32_t q[2];
  Divide128By64(hundred, seven, q);
  EXPECT_EQ(14u, Join(q));

  // Only the low 64 bits of a wider quotient are stored.
  const uint32_t wide[4] = {7, 0, 5, 0};  // 5 * 2^64 + 7
  const uint32_t one[2] = {1, 0};
  Divide128By64(wide, one, q);
  EXPECT_EQ(7u, Join(q));
  const uint32_t two[2] = {2, 0};
  Divide128By64(wide, two, q);  // (5 * 2^64 + 7) / 2 = 2^65 + 2^63 + 3
  EXPECT_EQ((1ull << 63) + 3, Join(q));

  // A zero divisor saturates rather than faulting.
  const uint32_t zero[2] = {0, 0};
  Divide128By64(hundred, zero, q);
  EXPECT_EQ(~0ull, Join(q));
}

// ---------------------------------------------------------------------------
// Blend lookup tables

class BlendTablesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(0, BuildBlendLookupTables()); }
};

TEST_F(BlendTablesTest, Mix6) {
  for (int a = 0; a < 64; ++a) {
    for (int b = 0; b < 64; ++b) {
      ASSERT_EQ(a, BlendMix6Table[63][a][b]);
      ASSERT_EQ(b, BlendMix6Table[0][a][b]);
    }
  }
  EXPECT_EQ(32, BlendMix6Table[32][63][0]);
  EXPECT_EQ(31, BlendMix6Table[32][0][63]);  // 31*63/63
  EXPECT_EQ(20, BlendMix6Table[10][5][23]);  // (50 + 23*53) / 63 = 20.1
  EXPECT_EQ(63, BlendMix6Table[17][63][63]);
}

TEST_F(BlendTablesTest, Product) {
  for (int a = 0; a < 256; ++a) {
    ASSERT_EQ(a, BlendProductTable[255][a]);
    ASSERT_EQ(0, BlendProductTable[0][a]);
    for (int b = 0; b < 256; ++b) ASSERT_EQ(BlendProductTable[b][a], BlendProductTable[a][b]);
  }
  EXPECT_EQ(128, BlendProductTable[128][255]);
  EXPECT_EQ(64, BlendProductTable[128][128]);  // 16384/255 = 64.25
  EXPECT_EQ(0, BlendProductTable[1][254]);
}

TEST_F(BlendTablesTest, SignedScale) {
  EXPECT_EQ(-255, BlendSignedScaleTable[255][-255 + 256]);
  EXPECT_EQ(0, BlendSignedScaleTable[128][-1 + 256]);
  EXPECT_EQ(255, BlendSignedScaleTable[255][255 + 256]);
  EXPECT_EQ(-39, BlendSignedScaleTable[100][-100 + 256]);  // -39.2 toward zero
  EXPECT_EQ(39, BlendSignedScaleTable[100][100 + 256]);
  for (int a = 0; a < 256; ++a) {
    ASSERT_EQ(0, BlendSignedScaleTable[a][0]);
    ASSERT_EQ(0, BlendSignedScaleTable[a][256]);
    for (int v = 1; v <= 255; ++v) {
      // Symmetric around zero, which only truncation toward zero gives.
      ASSERT_EQ(-BlendSignedScaleTable[a][v + 256], BlendSignedScaleTable[a][256 - v]) << a << " " << v;
    }
  }
}

}  // namespace
