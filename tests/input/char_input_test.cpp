// The character ring, the key-input records and their editor, and the IME
// messages through faked Imm32 entries.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "InputRing.h"
#include "LogCapture.h"
#include "RaRadaraSystem.h"
#include "RaRezezOruror.h"
#include "VeRavoroString.h"

namespace {

void PushText(const std::string& text) {
  for (unsigned char c : text) ASSERT_EQ(0, PushInputChar(c));
}

int ShiftHeld = 0;
int FakeShift() { return ShiftHeld; }

class CharInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCharSet(CHARSET_SHIFTJIS);
    SetupCharInputBuffer();
    ShiftHeld = 0;
    KeyInputShiftSource = FakeShift;
  }
  void TearDown() override { DeleteAllKeyInputHandles(); }
};

TEST_F(CharInputTest, RingHoldsTenTwentyFourBytes) {
  for (int i = 0; i < 1024; i++) ASSERT_EQ(0, PushInputChar('a' + i % 26)) << i;
  EXPECT_EQ(1, IsCharInputBufferFull());
  EXPECT_EQ(-1, PushInputChar('x'));
  std::string out = test_support::DrainInputRing();
  ASSERT_EQ(1024u, out.size());
  for (int i = 0; i < 1024; i++) ASSERT_EQ('a' + i % 26, out[static_cast<size_t>(i)]) << i;
  // Wrapped around: the ring fills again to the same count.
  for (int i = 0; i < 1024; i++) ASSERT_EQ(0, PushInputChar('0')) << i;
  EXPECT_EQ(-1, PushInputChar('0'));
}

TEST_F(CharInputTest, LeadByteWaitsForItsTrailByte) {
  char bytes[2];
  ASSERT_EQ(0, PushInputChar(0x82));
  EXPECT_EQ(0, GetInputChar(bytes, 1));
  EXPECT_EQ(0, GetInputChar(bytes, 1));
  ASSERT_EQ(0, PushInputChar(0xA0));
  ASSERT_EQ(0, PushInputChar('q'));
  // Peeking leaves the ring unchanged.
  EXPECT_EQ(2, GetInputChar(bytes, 0));
  EXPECT_EQ(2, GetInputChar(bytes, 1));
  EXPECT_EQ('\x82', bytes[0]);
  EXPECT_EQ('\xA0', bytes[1]);
  EXPECT_EQ(1, GetInputChar(bytes, 1));
  EXPECT_EQ('q', bytes[0]);
  EXPECT_EQ(0, bytes[1]);
  EXPECT_EQ(0, GetInputChar(bytes, 1));
}

TEST_F(CharInputTest, ControlKeysTranslate) {
  EXPECT_EQ(CTRL_CODE_DELETE, TranslateControlKey(VK_DELETE));
  EXPECT_EQ(CTRL_CODE_LEFT, TranslateControlKey(VK_LEFT));
  EXPECT_EQ(CTRL_CODE_NEXT, TranslateControlKey(VK_NEXT));
  EXPECT_EQ(0, TranslateControlKey('A'));
  EXPECT_EQ(0, TranslateControlKey(VK_RETURN));
}

struct EditorCase {
  const char* name;
  int maxLength;
  int numeric, singleByte, doubleByte;
  std::string typed;
  int shift;
  std::string text;
  int cursor;
  int selectStart, selectEnd;
};

const std::string kA = "\x82\xA0";  // one double-byte character
const std::string kI = "\x82\xA2";
const std::string kLeft = "\x1D", kRight = "\x1C", kHome = "\x1A", kEnd = "\x19", kBack = "\x08", kDel = "\x10";

const EditorCase kEditorCases[] = {
    {"plain", 10, 0, 0, 0, "abc", 0, "abc", 3, -1, -1},
    {"numeric drops letters", 10, 1, 0, 0, "12a3", 0, "123", 3, -1, -1},
    {"numeric minus at the start only", 10, 1, 0, 0, "-5-" + kHome + "-", 0, "--5", 1, -1, -1},
    {"numeric single point", 10, 1, 0, 0, "1.2.3", 0, "1.23", 4, -1, -1},
    {"numeric drops double-byte", 10, 1, 0, 0, "1" + kA, 0, "1", 1, -1, -1},
    {"full record loses its last character", 3, 0, 0, 0, "abc" + kLeft + kLeft + "d", 0, "adb", 2, -1, -1},
    {"full record at the end", 3, 0, 0, 0, "abcd", 0, "abd", 3, -1, -1},
    {"full record drops a whole double-byte character", 4, 0, 0, 0, "ab" + kA + "c", 0, "abc", 3, -1, -1},
    {"too wide for the record", 1, 0, 0, 0, kA + "x", 0, "x", 1, -1, -1},
    {"single-byte only", 10, 0, 1, 0, "a" + kA + "b", 0, "ab", 2, -1, -1},
    {"double-byte only", 10, 0, 0, 1, "a" + kA + "b", 0, kA, 2, -1, -1},
    {"left over a double-byte character", 10, 0, 0, 0, "a" + kA + kLeft, 0, "a" + kA, 1, -1, -1},
    {"shift left selects a double-byte character", 10, 0, 0, 0, "a" + kA + kLeft, 1, "a" + kA, 1, 3, 1},
    {"typing replaces the selection", 10, 0, 0, 0, "a" + kA + kI + kLeft + kLeft, 1, "a" + kA + kI, 1, 5, 1},
    {"backspace over a double-byte character", 10, 0, 0, 0, "a" + kA + kBack, 0, "a", 1, -1, -1},
    {"backspace deletes the selection", 10, 0, 0, 0, "abcd" + kLeft + kLeft + kBack, 1, "ab", 2, -1, -1},
    {"right over a double-byte character", 10, 0, 0, 0, kA + "b" + kHome + kRight, 0, kA + "b", 2, -1, -1},
    {"delete at the cursor", 10, 0, 0, 0, kA + "b" + kHome + kDel, 0, "b", 0, -1, -1},
    {"shift home and end", 10, 0, 0, 0, "abc" + kLeft + kHome, 1, "abc", 0, 3, 0},
    {"end clears the selection", 10, 0, 0, 0, "abc" + kHome + kRight, 0, "abc", 1, -1, -1},
    {"tab, up and down are ignored", 10, 0, 0, 0,
     "a\t\x1E\x1F"
     "b",
     0, "ab", 2, -1, -1},
    {"page keys are inserted", 10, 0, 0, 0, "a\x15\x17", 0, "a\x15\x17", 3, -1, -1},
};

class EditorTest : public CharInputTest, public ::testing::WithParamInterface<EditorCase> {};

TEST_P(EditorTest, EditsTheActiveRecord) {
  const EditorCase& c = GetParam();
  int handle = MakeKeyInput(c.maxLength, 1, c.singleByte, c.numeric, c.doubleByte);
  ASSERT_NE(-1, handle);
  ASSERT_EQ(0, SetActiveKeyInput(handle));
  // Shift counts only for the moves: type the text first.
  ShiftHeld = 0;
  size_t moves = c.typed.find_first_of("\x1C\x1D\x1A\x19");
  std::string before = c.typed.substr(0, moves == std::string::npos ? c.typed.size() : moves);
  PushText(before);
  ASSERT_EQ(0, ProcessKeyInputHandles());
  if (moves != std::string::npos) {
    std::string rest = c.typed.substr(moves);
    // Moves go with Shift as the case says; characters after them without.
    for (char ch : rest) {
      bool isMove = ch == '\x1C' || ch == '\x1D' || ch == '\x1A' || ch == '\x19';
      ShiftHeld = isMove ? c.shift : 0;
      PushText(std::string(1, ch));
      ASSERT_EQ(0, ProcessKeyInputHandles());
    }
  }
  char text[64];
  ASSERT_EQ(static_cast<int>(c.text.size()), GetKeyInputString(handle, text, sizeof(text)));
  EXPECT_EQ(c.text, std::string(text));
  EXPECT_EQ(c.cursor, GetKeyInputCursorPosition(handle));
  int start, end;
  ASSERT_EQ(0, GetKeyInputSelectArea(handle, &start, &end));
  EXPECT_EQ(c.selectStart, start);
  EXPECT_EQ(c.selectEnd, end);
  EXPECT_EQ(0, CheckKeyInput(handle));
}

INSTANTIATE_TEST_SUITE_P(Cases, EditorTest, ::testing::ValuesIn(kEditorCases),
                         [](const ::testing::TestParamInfo<EditorCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; p++)
                             name += (isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
                           return name;
                         });

TEST_F(CharInputTest, EnterEndsAndLeavesTheRestInTheRing) {
  int handle = MakeKeyInput(8, 0, 0, 0);
  ASSERT_EQ(0, SetActiveKeyInput(handle));
  PushText("ab\rcd\x1B");
  ASSERT_EQ(0, ProcessKeyInputHandles());
  EXPECT_EQ(1, CheckKeyInput(handle));
  EXPECT_EQ(-1, GetActiveKeyInput());
  EXPECT_EQ("cd\x1B", test_support::DrainInputRing());
  // Taken up again it goes on; Escape without the cancel flag does nothing.
  ASSERT_EQ(0, SetActiveKeyInput(handle));
  PushText("e\x1B");
  ASSERT_EQ(0, ProcessKeyInputHandles());
  EXPECT_EQ(0, CheckKeyInput(handle));
  char text[16];
  GetKeyInputString(handle, text, sizeof(text));
  EXPECT_STREQ("abe", text);
}

TEST_F(CharInputTest, EscapeCancelsWhenAllowed) {
  int handle = MakeKeyInput(8, 1, 0, 0);
  ASSERT_EQ(0, SetActiveKeyInput(handle));
  PushText("x\x1B");
  ASSERT_EQ(0, ProcessKeyInputHandles());
  EXPECT_EQ(2, CheckKeyInput(handle));
  EXPECT_EQ(-1, GetActiveKeyInput());
}

TEST_F(CharInputTest, LeadByteWaitsInTheEditor) {
  int handle = MakeKeyInput(8, 0, 0, 0);
  ASSERT_EQ(0, SetActiveKeyInput(handle));
  PushText("a\x82");
  ASSERT_EQ(0, ProcessKeyInputHandles());
  char text[16];
  EXPECT_EQ(1, GetKeyInputString(handle, text, sizeof(text)));
  PushText("\xA0");
  ASSERT_EQ(0, ProcessKeyInputHandles());
  EXPECT_EQ(3, GetKeyInputString(handle, text, sizeof(text)));
  EXPECT_EQ("a" + kA, std::string(text));
}

TEST_F(CharInputTest, HandlesAreCheckedAndSlotsReused) {
  EXPECT_EQ(-1, MakeKeyInput(0, 0, 0, 0));
  EXPECT_EQ(-1, MakeKeyInput(KEY_INPUT_MAX_LENGTH + 1, 0, 0, 0));
  int first = MakeKeyInput(4, 0, 0, 0);
  ASSERT_NE(-1, first);
  EXPECT_EQ(KEY_INPUT_HANDLE_TYPE, first & 0x7C000000);
  ASSERT_EQ(0, DeleteKeyInputHandle(first));
  EXPECT_EQ(-1, DeleteKeyInputHandle(first));
  int second = MakeKeyInput(4, 0, 0, 0);
  EXPECT_EQ(first & 0xFFFF, second & 0xFFFF);  // the same slot, another check value
  EXPECT_NE(first, second);
  EXPECT_EQ(-1, CheckKeyInput(first));
  EXPECT_EQ(-1, SetActiveKeyInput(first));
  for (int bad : {-1, 0, 0x24000000 | 0xFFFF, second ^ 0x10000, second & ~0x7C000000})
    EXPECT_EQ(-1, CheckKeyInput(bad)) << bad;
  // All 256 records, then no more.
  std::vector<int> handles;
  for (int i = 1; i < KEY_INPUT_MAX; i++) handles.push_back(MakeKeyInput(2, 0, 0, 0));
  for (int h : handles) ASSERT_NE(-1, h);
  EXPECT_EQ(-1, MakeKeyInput(2, 0, 0, 0));
  // An active handle that was deleted behind the editor's back.
  ASSERT_EQ(0, SetActiveKeyInput(second));
  CharInput.records[second & 0xFFFF].check ^= 1;
  EXPECT_EQ(-1, ProcessKeyInputHandles());
  CharInput.records[second & 0xFFFF].check ^= 1;
}

TEST_F(CharInputTest, SetStringKeepsWholeCharacters) {
  int handle = MakeKeyInput(4, 0, 0, 0);
  ASSERT_EQ(0, SetKeyInputString(handle, ("abc" + kA).c_str()));
  char text[16];
  EXPECT_EQ(3, GetKeyInputString(handle, text, sizeof(text)));
  EXPECT_EQ(3, GetKeyInputCursorPosition(handle));
  EXPECT_EQ(2, GetKeyInputString(handle, text, 3));
  EXPECT_STREQ("ab", text);
}

// Faked Imm32.
struct FakeIme {
  std::string composition, result;
  LONG cursorBytes;
  int candidateSize;
  int candidateFetchFails;
  int contexts, releases;
  std::vector<DWORD> reads;
} Ime;

HIMC WINAPI FakeGetContext(HWND) {
  Ime.contexts++;
  return reinterpret_cast<HIMC>(0x1234);
}
BOOL WINAPI FakeReleaseContext(HWND, HIMC context) {
  Ime.releases++;
  return context == reinterpret_cast<HIMC>(0x1234);
}
LONG WINAPI FakeGetCompositionString(HIMC, DWORD index, void* buffer, DWORD length) {
  Ime.reads.push_back(index);
  if (index == GCS_CURSORPOS) return Ime.cursorBytes;
  std::string source;
  if (index == GCS_COMPSTR) source = Ime.composition;
  else if (index == GCS_RESULTSTR) source = Ime.result;
  else if (index == GCS_COMPCLAUSE) source = std::string(12, '\0');
  else if (index == GCS_COMPATTR) source = std::string(5, '\1');
  if (buffer == nullptr || length == 0) return static_cast<LONG>(source.size());
  size_t n = source.size() < length ? source.size() : length;
  memcpy(buffer, source.data(), n);
  return static_cast<LONG>(n);
}
DWORD WINAPI FakeGetCandidateList(HIMC, DWORD, CANDIDATELIST* list, DWORD length) {
  if (length == 0) return static_cast<DWORD>(Ime.candidateSize);
  if (Ime.candidateFetchFails) return 0;
  memset(list, 0x5A, length);
  list->dwSize = length;
  return length;
}

class ImeTest : public CharInputTest {
 protected:
  void SetUp() override {
    CharInputTest::SetUp();
    saved_ = SystemLibs;
    Ime = FakeIme();
    SystemLibs.ImmGetContextFunc = FakeGetContext;
    SystemLibs.ImmReleaseContextFunc = FakeReleaseContext;
    SystemLibs.ImmGetCompositionStringAFunc = FakeGetCompositionString;
    SystemLibs.ImmGetCandidateListAFunc = FakeGetCandidateList;
  }
  void TearDown() override {
    CharInputTest::TearDown();
    SystemLibs = saved_;
  }
  SystemLibraryTable saved_;
};

TEST_F(ImeTest, ResultTextReachesTheRingInOrder) {
  Ime.result = kA + "xy" + kI;
  Ime.composition = "";
  EXPECT_EQ(0, HandleImeMessage(nullptr, WM_IME_COMPOSITION, 0, GCS_RESULTSTR));
  EXPECT_EQ(kA + "xy" + kI, test_support::DrainInputRing());
  EXPECT_EQ(1, Ime.contexts);
  EXPECT_EQ(1, Ime.releases);
  // Result first, then the composition read again.
  ASSERT_EQ(2u, Ime.reads.size());
  EXPECT_EQ(DWORD(GCS_RESULTSTR), Ime.reads[0]);
  EXPECT_EQ(DWORD(GCS_COMPSTR), Ime.reads[1]);

  // Through the ring into the active record.
  int handle = MakeKeyInput(16, 0, 0, 0);
  ASSERT_EQ(0, SetActiveKeyInput(handle));
  Ime.result = "ok" + kA;
  HandleImeMessage(nullptr, WM_IME_COMPOSITION, 0, GCS_RESULTSTR);
  ASSERT_EQ(0, ProcessKeyInputHandles());
  char text[32];
  GetKeyInputString(handle, text, sizeof(text));
  EXPECT_EQ("ok" + kA, std::string(text));
}

TEST_F(ImeTest, CompositionStringsAreBounded) {
  Ime.composition = std::string(1500, 'k');
  Ime.result = std::string(1500, 'r');
  HandleImeMessage(nullptr, WM_IME_COMPOSITION, 0, GCS_COMPSTR);
  EXPECT_EQ(1023u, strlen(CharInput.composition));
  HandleImeMessage(nullptr, WM_IME_COMPOSITION, 0, GCS_RESULTSTR);
  EXPECT_EQ(std::string(1023, 'r'), test_support::DrainInputRing());
}

TEST_F(ImeTest, CompositionFieldsAndCursor) {
  Ime.composition = kA + "b" + kI;
  Ime.cursorBytes = 3;  // after the first two characters
  HandleImeMessage(nullptr, WM_IME_STARTCOMPOSITION, 0, 0);
  EXPECT_EQ(1, CharInput.composing);
  HandleImeMessage(nullptr, WM_IME_COMPOSITION, 0, GCS_COMPSTR | GCS_CURSORPOS | GCS_COMPCLAUSE | GCS_COMPATTR);
  EXPECT_EQ(kA + "b" + kI, std::string(CharInput.composition));
  EXPECT_EQ(2, CharInput.compositionCursor);
  EXPECT_EQ(3, CharInput.clauseCount);
  EXPECT_EQ(5, CharInput.attributeCount);
  HandleImeMessage(nullptr, WM_IME_ENDCOMPOSITION, 0, 0);
  EXPECT_EQ(0, CharInput.composing);
  EXPECT_EQ(0, CharInput.composition[0]);
}

TEST_F(ImeTest, CandidateListIsKeptUntilClosed) {
  Ime.candidateSize = 64;
  HandleImeMessage(nullptr, WM_IME_NOTIFY, IMN_OPENCANDIDATE, 0);
  ASSERT_NE(nullptr, CharInput.candidates);
  EXPECT_EQ(64, CharInput.candidateSize);
  EXPECT_EQ(64u, CharInput.candidates->dwSize);
  HandleImeMessage(nullptr, WM_IME_NOTIFY, IMN_CLOSECANDIDATE, 0);
  EXPECT_EQ(nullptr, CharInput.candidates);

  test_support::LogCapture log("input_ime");
  Ime.candidateFetchFails = 1;
  HandleImeMessage(nullptr, WM_IME_NOTIFY, IMN_CHANGECANDIDATE, 0);
  EXPECT_EQ(nullptr, CharInput.candidates);
  EXPECT_EQ(0, CharInput.candidateSize);
  EXPECT_TRUE(log.Has("漢字変換候補の取得に失敗しました  BufSize:64"));
  // Nothing to fetch: nothing changes.
  Ime.candidateSize = 0;
  HandleImeMessage(nullptr, WM_IME_NOTIFY, IMN_SETCANDIDATEPOS, 0);
  EXPECT_EQ(nullptr, CharInput.candidates);
}

}  // namespace
