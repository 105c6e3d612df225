// Character and IME input: the 1025-byte character ring and GetInputChar,
// the IME messages (composition, result, cursor, clauses, attributes,
// candidate list, open status and its restart after activation), and the
// 256 key-input records with their one-line editor (cursor, selection,
// clipboard, numeric / single-byte / double-byte filters).
// Threads: main thread only (window procedure and message pump); the open
// status notification pumps messages itself and guards against re-entry.
// Platform: Imm32 and WINNLSEnableIME through the system library table,
// DefWindowProcA, the clipboard helpers of the window module.
#include "RaRezezOruror.h"

#include <stdio.h>
#include <string.h>

#include "RaRadaraInput.h"
#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "RaRadaraSysInfo.h"
#include "RaRadaraSystem.h"
#include "VeRavoroString.h"
#include "ZiDezaru.h"

namespace {

// Log texts.
const char LOG_CHAR_BUFFER_STARTING[] = "文字コードバッファの初期化を行います... ";
const char LOG_CHAR_BUFFER_STARTED[] = "完了しました";
const char LOG_STEP_RESULT[] = "%s%s";  // a step and how it ended, on one line
const char LOG_NO_MEMORY_FOR_CANDIDATES[] =
    "漢字変換候補を保存するメモリの確保に失敗しました( 確保しようとしたサイズ %d バイト )";
const char LOG_CANDIDATES_NOT_READ[] = "漢字変換候補の取得に失敗しました  BufSize:%d";
const char LOG_BAD_MAX_LENGTH[] = "キー入力の最大文字数が不正です( %d )";
const char LOG_NO_FREE_KEY_INPUT[] = "キー入力ハンドルの数が上限に達しています";
const char LOG_NO_MEMORY_FOR_KEY_INPUT[] = "キー入力バッファの確保に失敗しました";

}  // namespace

CharInputStateBlock CharInput;

const unsigned char CONTROL_KEY_TABLE[] = {
    VK_DELETE, CTRL_CODE_DELETE, VK_LEFT, CTRL_CODE_LEFT, VK_RIGHT, CTRL_CODE_RIGHT, VK_UP,    CTRL_CODE_UP,
    VK_DOWN,   CTRL_CODE_DOWN,   VK_HOME, CTRL_CODE_HOME, VK_END,   CTRL_CODE_END,   VK_PRIOR, CTRL_CODE_PRIOR,
    VK_NEXT,   CTRL_CODE_NEXT,   0,
};

namespace {

int ShiftFromKeys() { return (IsKeyDown(DIK_LSHIFT) || IsKeyDown(DIK_RSHIFT)) ? 1 : 0; }

}  // namespace

int (*KeyInputShiftSource)() = ShiftFromKeys;

int TranslateControlKey(int virtualKey) {
  for (const unsigned char* p = CONTROL_KEY_TABLE; p[0] != 0; p += 2)
    if (p[0] == virtualKey) return p[1];
  return 0;
}

namespace {

int IsControlKeyCode(unsigned char code) {
  for (const unsigned char* p = CONTROL_KEY_TABLE; p[0] != 0; p += 2)
    if (p[1] == code) return 1;
  return 0;
}

int IsLead(unsigned char byte) { return IsLeadByte(byte, GetCharSet()); }

}  // namespace

// Character ring.

int SetupCharInputBuffer() {
  int enabled = CharInput.imeEnabled;
  int keep = CharInput.keepIme;
  memset(&CharInput, 0, sizeof(CharInput));
  CharInput.imeEnabled = enabled;
  CharInput.keepIme = keep;
  CharInput.activeHandle = -1;
  LogPrintf(LOG_STEP_RESULT, LOG_CHAR_BUFFER_STARTING, LOG_CHAR_BUFFER_STARTED);
  return 0;
}

namespace {

int NextRingIndex(int index) { return index + 1 >= CHAR_RING_SIZE ? 0 : index + 1; }

}  // namespace

int IsCharInputBufferFull() { return NextRingIndex(CharInput.writeIndex) == CharInput.readIndex; }

namespace {

int RingFreeBytes() { return (CharInput.readIndex - CharInput.writeIndex - 1 + CHAR_RING_SIZE) % CHAR_RING_SIZE; }

}  // namespace

int PushInputChar(int byte) {
  if (IsCharInputBufferFull()) return -1;
  CharInput.ring[CharInput.writeIndex] = static_cast<unsigned char>(byte);
  CharInput.writeIndex = NextRingIndex(CharInput.writeIndex);
  return 0;
}

int GetInputChar(char out[2], int consume) {
  out[0] = 0;
  out[1] = 0;
  if (CharInput.readIndex == CharInput.writeIndex) return 0;
  int start = CharInput.readIndex;
  unsigned char first = CharInput.ring[start];
  int read = NextRingIndex(start);
  int count = 1;
  out[0] = static_cast<char>(first);
  if (!IsControlKeyCode(first) && IsLead(first)) {
    // The lead byte waits for its trail byte.
    if (read == CharInput.writeIndex) {
      out[0] = 0;
      return 0;
    }
    out[1] = static_cast<char>(CharInput.ring[read]);
    read = NextRingIndex(read);
    count = 2;
  }
  if (consume) CharInput.readIndex = read;
  return count;
}

// IME.

namespace {

void FreeCandidateList() {
  if (CharInput.candidates != nullptr) MemFree(CharInput.candidates);
  CharInput.candidates = nullptr;
  CharInput.candidateSize = 0;
}

// Reads one composition field into buffer (at most size - 1 bytes and a
// NUL); the bytes read.
int ReadCompositionField(HIMC context, DWORD index, void* buffer, int size, int terminate) {
  if (SystemLibs.ImmGetCompositionStringAFunc == nullptr) {
    if (terminate) static_cast<char*>(buffer)[0] = 0;
    return 0;
  }
  int limit = terminate ? size - 1 : size;
  LONG got = SystemLibs.ImmGetCompositionStringAFunc(context, index, buffer, static_cast<DWORD>(limit));
  int bytes = got < 0 ? 0 : (got > limit ? limit : static_cast<int>(got));
  if (terminate) static_cast<char*>(buffer)[bytes] = 0;
  return bytes;
}

// Characters in the first `bytes` bytes of a text.
int CountCharacters(const char* text, int bytes) {
  int count = 0;
  for (int i = 0; i < bytes && text[i] != 0; count++)
    i += (IsLead(static_cast<unsigned char>(text[i])) && text[i + 1] != 0) ? 2 : 1;
  return count;
}

void OnComposition(HWND window, LPARAM flags) {
  if (SystemLibs.ImmGetContextFunc == nullptr) return;
  HIMC context = SystemLibs.ImmGetContextFunc(window);
  if (context == nullptr) return;
  if (flags & GCS_COMPSTR) ReadCompositionField(context, GCS_COMPSTR, CharInput.composition, IME_STRING_SIZE, 1);
  if (flags & GCS_RESULTSTR) {
    char result[IME_STRING_SIZE];
    int bytes = ReadCompositionField(context, GCS_RESULTSTR, result, IME_STRING_SIZE, 1);
    for (int i = 0; i < bytes; i++) PushInputChar(static_cast<unsigned char>(result[i]));
    ReadCompositionField(context, GCS_COMPSTR, CharInput.composition, IME_STRING_SIZE, 1);
    FreeCandidateList();
  }
  if ((flags & GCS_CURSORPOS) && SystemLibs.ImmGetCompositionStringAFunc != nullptr) {
    LONG bytes = SystemLibs.ImmGetCompositionStringAFunc(context, GCS_CURSORPOS, nullptr, 0);
    if (bytes < 0) bytes = 0;
    int cursor = CountCharacters(CharInput.composition, static_cast<int>(bytes));
    if (cursor != CharInput.compositionCursor) FreeCandidateList();
    CharInput.compositionCursor = cursor;
  }
  if (flags & GCS_COMPCLAUSE)
    CharInput.clauseCount = ReadCompositionField(context, GCS_COMPCLAUSE, CharInput.clauses, IME_CLAUSE_SIZE, 0) / 4;
  if (flags & GCS_COMPATTR)
    CharInput.attributeCount = ReadCompositionField(context, GCS_COMPATTR, CharInput.attributes, IME_STRING_SIZE, 0);
  if (SystemLibs.ImmReleaseContextFunc != nullptr) SystemLibs.ImmReleaseContextFunc(window, context);
}

void FetchCandidateList(HWND window) {
  if (SystemLibs.ImmGetContextFunc == nullptr || SystemLibs.ImmGetCandidateListAFunc == nullptr) return;
  HIMC context = SystemLibs.ImmGetContextFunc(window);
  if (context == nullptr) return;
  DWORD size = SystemLibs.ImmGetCandidateListAFunc(context, 0, nullptr, 0);
  if (size != 0) {
    FreeCandidateList();
    CharInput.candidates = static_cast<CANDIDATELIST*>(MEM_ALLOC(size));
    if (CharInput.candidates == nullptr) {
      char text[LOG_LINE_SIZE];
      snprintf(text, sizeof(text), LOG_NO_MEMORY_FOR_CANDIDATES, static_cast<int>(size));
      FatalErrorExit(text);
    }
    CharInput.candidateSize = static_cast<int>(size);
    if (SystemLibs.ImmGetCandidateListAFunc(context, 0, CharInput.candidates, size) == 0) {
      FreeCandidateList();
      LogPrintf(LOG_CANDIDATES_NOT_READ, static_cast<int>(size));
    }
  }
  if (SystemLibs.ImmReleaseContextFunc != nullptr) SystemLibs.ImmReleaseContextFunc(window, context);
}

LRESULT OnOpenStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = DefWindowProcA(window, message, wParam, lParam);
  if (CharInput.settingOpenStatus) return result;
  CharInput.settingOpenStatus = 1;
  int64_t start = GetMicrosecondCount();
  while (PumpWindowMessagesCore() == 0) {
    int64_t now = GetMicrosecondCount();
    if (now < 0 || now - start >= 2000) break;
  }
  if (SystemLibs.ImmGetContextFunc != nullptr && SystemLibs.ImmGetOpenStatusFunc != nullptr) {
    HIMC context = SystemLibs.ImmGetContextFunc(window);
    if (context != nullptr) {
      CharInput.imeOpen = SystemLibs.ImmGetOpenStatusFunc(context) ? 1 : 0;
      if (SystemLibs.ImmReleaseContextFunc != nullptr) SystemLibs.ImmReleaseContextFunc(window, context);
    }
  }
  CharInput.settingOpenStatus = 0;
  return result;
}

}  // namespace

LRESULT HandleImeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_IME_STARTCOMPOSITION:
      CharInput.compositionCursor = 0;
      CharInput.composing = 1;
      if (GetOsCode() >= OS_WINVISTA && CharInput.imeOpen == 0) CharInput.imeOpen = 1;
      return 0;
    case WM_IME_ENDCOMPOSITION:
      CharInput.composition[0] = 0;
      CharInput.composing = 0;
      if (GetOsCode() >= OS_WINVISTA && CharInput.imeOpen == 1) CharInput.imeOpen = 0;
      return 0;
    case WM_IME_COMPOSITION: OnComposition(window, lParam); return 0;
    case WM_IME_SETCONTEXT:
      // The IME draws none of its own windows.
      return DefWindowProcA(window, message, wParam, 0);
    case WM_IME_NOTIFY:
      switch (wParam) {
        case IMN_OPENCANDIDATE:
        case IMN_CHANGECANDIDATE:
        case IMN_SETCANDIDATEPOS: FetchCandidateList(window); return 0;
        case IMN_CLOSECANDIDATE: FreeCandidateList(); return 0;
        case IMN_SETOPENSTATUS: return OnOpenStatus(window, message, wParam, lParam);
        default: return DefWindowProcA(window, message, wParam, lParam);
      }
    default: return 0;
  }
}

void RequestImeReapplyOnActivation() {
  if (CharInput.imeEnabled && CharInput.imeOpen) CharInput.imeRestartStep = 1;
}

int IsImeEnableRequested() { return CharInput.imeEnabled; }

namespace {

void RunImeRestart() {
  if (CharInput.imeRestartStep == 0) return;
  HWND window = GetMainWindowHandle();
  HIMC context = nullptr;
  if (window != nullptr && SystemLibs.ImmGetContextFunc != nullptr) context = SystemLibs.ImmGetContextFunc(window);
  for (int step = CharInput.imeRestartStep; step <= 4; step++) {
    switch (step) {
      case 1:
        if (context == nullptr) break;
        CharInput.composition[0] = 0;
        ReadCompositionField(context, GCS_COMPSTR, CharInput.savedComposition, IME_STRING_SIZE, 1);
        if (SystemLibs.ImmNotifyIMEFunc != nullptr)
          SystemLibs.ImmNotifyIMEFunc(context, NI_COMPOSITIONSTR, CPS_CANCEL, 0);
        break;
      case 2:
      case 3:
        if (context != nullptr && SystemLibs.ImmSetOpenStatusFunc != nullptr)
          SystemLibs.ImmSetOpenStatusFunc(context, step == 3);
        break;
      case 4:
        if (context == nullptr) break;
        if (SystemLibs.ImmSetOpenStatusFunc != nullptr) SystemLibs.ImmSetOpenStatusFunc(context, TRUE);
        if (SystemLibs.ImmSetCompositionStringAFunc != nullptr)
          SystemLibs.ImmSetCompositionStringAFunc(context, SCS_SETSTR, CharInput.savedComposition,
                                                  static_cast<DWORD>(strlen(CharInput.savedComposition)), nullptr, 0);
        break;
    }
  }
  if (context != nullptr && SystemLibs.ImmReleaseContextFunc != nullptr)
    SystemLibs.ImmReleaseContextFunc(window, context);
  CharInput.imeRestartStep = 0;
}

// Key-input records.

KeyInputRecord* FindKeyInput(int handle) {
  if (handle < 0 || (handle & 0x7C000000) != KEY_INPUT_HANDLE_TYPE) return nullptr;
  int slot = handle & 0xFFFF;
  if (slot >= KEY_INPUT_MAX) return nullptr;
  KeyInputRecord* record = &CharInput.records[slot];
  if (!record->used || record->check != ((handle >> 16) & 0x3FF)) return nullptr;
  return record;
}

void SetImeEnabled(int enabled) {
  if (CharInput.imeEnabled == enabled) return;
  CharInput.imeEnabled = enabled;
  if (SystemLibs.WINNLSEnableIMEFunc != nullptr) SystemLibs.WINNLSEnableIMEFunc(GetMainWindowHandle(), enabled);
  if (!enabled) {
    FreeCandidateList();
    CharInput.composition[0] = 0;
    CharInput.composing = 0;
  }
}

}  // namespace

int MakeKeyInput(int maxLength, int cancelAllowed, int singleByteOnly, int numericOnly, int doubleByteOnly) {
  if (maxLength < 1 || maxLength > KEY_INPUT_MAX_LENGTH) {
    LogPrintf(LOG_BAD_MAX_LENGTH, maxLength);
    return -1;
  }
  int slot = 0;
  while (slot < KEY_INPUT_MAX && CharInput.records[slot].used) slot++;
  if (slot == KEY_INPUT_MAX) {
    LogPrintf(LOG_NO_FREE_KEY_INPUT);
    return -1;
  }
  char* text = static_cast<char*>(MEM_ALLOC_ZEROED(static_cast<size_t>(maxLength) + 1));
  if (text == nullptr) {
    LogPrintf(LOG_NO_MEMORY_FOR_KEY_INPUT);
    return -1;
  }
  // Check values run 1..1023 so that an old handle of the slot is refused.
  CharInput.nextCheck = CharInput.nextCheck % 1023 + 1;
  KeyInputRecord* record = &CharInput.records[slot];
  memset(record, 0, sizeof(*record));
  record->used = 1;
  record->check = CharInput.nextCheck;
  record->maxLength = maxLength;
  record->selectStart = record->selectEnd = -1;
  record->text = text;
  record->cancelAllowed = cancelAllowed ? 1 : 0;
  record->singleByteOnly = singleByteOnly ? 1 : 0;
  record->numericOnly = numericOnly ? 1 : 0;
  record->doubleByteOnly = doubleByteOnly ? 1 : 0;
  return KEY_INPUT_HANDLE_TYPE | (record->check << 16) | slot;
}

int DeleteKeyInputHandle(int handle) {
  KeyInputRecord* record = FindKeyInput(handle);
  if (record == nullptr) return -1;
  MemFree(record->text);
  memset(record, 0, sizeof(*record));
  if (CharInput.activeHandle == handle) CharInput.activeHandle = -1;
  for (const KeyInputRecord& other : CharInput.records)
    if (other.used) return 0;
  SetImeEnabled(CharInput.keepIme);
  return 0;
}

void DeleteAllKeyInputHandles() {
  for (int slot = 0; slot < KEY_INPUT_MAX; slot++) {
    const KeyInputRecord& record = CharInput.records[slot];
    if (record.used) DeleteKeyInputHandle(KEY_INPUT_HANDLE_TYPE | (record.check << 16) | slot);
  }
  if (CharInput.workBuffer != nullptr) MemFree(CharInput.workBuffer);
  CharInput.workBuffer = nullptr;
  CharInput.activeHandle = -1;
}

int SetActiveKeyInput(int handle) {
  if (handle == -1) {
    CharInput.activeHandle = -1;
    return 0;
  }
  KeyInputRecord* record = FindKeyInput(handle);
  if (record == nullptr) return -1;
  record->ended = 0;
  record->cancelled = 0;
  CharInput.activeHandle = handle;
  SetImeEnabled(1);
  return 0;
}

int GetActiveKeyInput() { return CharInput.activeHandle; }

int CheckKeyInput(int handle) {
  KeyInputRecord* record = FindKeyInput(handle);
  if (record == nullptr) return -1;
  if (!record->ended) return 0;
  return record->cancelled ? 2 : 1;
}

int GetKeyInputString(int handle, char* buffer, int bufferSize) {
  KeyInputRecord* record = FindKeyInput(handle);
  if (record == nullptr || buffer == nullptr || bufferSize < 1) return -1;
  int bytes = record->length < bufferSize - 1 ? record->length : bufferSize - 1;
  memcpy(buffer, record->text, static_cast<size_t>(bytes));
  buffer[bytes] = 0;
  return bytes;
}

int GetKeyInputCursorPosition(int handle) {
  KeyInputRecord* record = FindKeyInput(handle);
  return record == nullptr ? -1 : record->cursor;
}

int GetKeyInputSelectArea(int handle, int* start, int* end) {
  KeyInputRecord* record = FindKeyInput(handle);
  if (record == nullptr) return -1;
  if (start != nullptr) *start = record->selectStart;
  if (end != nullptr) *end = record->selectEnd;
  return 0;
}

namespace {

// Size of the character starting at position.
int CharSizeAt(const KeyInputRecord* record, int position) {
  if (position + 1 < record->length && IsLead(static_cast<unsigned char>(record->text[position]))) return 2;
  return 1;
}

// Start of the last character of the text.
int LastCharStart(const KeyInputRecord* record) {
  int position = 0, last = 0;
  while (position < record->length) {
    last = position;
    position += CharSizeAt(record, position);
  }
  return last;
}

void RemoveBytes(KeyInputRecord* record, int start, int count) {
  memmove(record->text + start, record->text + start + count, static_cast<size_t>(record->length - start - count));
  record->length -= count;
  record->text[record->length] = 0;
}

void DeleteSelection(KeyInputRecord* record) {
  if (record->selectStart < 0 || record->selectEnd < 0) return;
  int low = record->selectStart < record->selectEnd ? record->selectStart : record->selectEnd;
  int high = record->selectStart < record->selectEnd ? record->selectEnd : record->selectStart;
  if (high > record->length) high = record->length;
  if (low > high) low = high;
  record->cursor = low;
  RemoveBytes(record, low, high - low);
  record->selectStart = record->selectEnd = -1;
  if (record->firstShown > record->length) record->firstShown = record->length;
}

int HasSelection(const KeyInputRecord* record) { return record->selectStart >= 0 && record->selectEnd >= 0; }

void InsertCharacter(KeyInputRecord* record, const char* bytes, int size) {
  DeleteSelection(record);
  unsigned char first = static_cast<unsigned char>(bytes[0]);
  if (record->numericOnly) {
    int accepted = 0;
    if (size == 1 && first >= '0' && first <= '9') accepted = 1;
    if (size == 1 && first == '-' && record->cursor == 0) accepted = 1;
    if (size == 1 && first == '.' && memchr(record->text, '.', static_cast<size_t>(record->length)) == nullptr)
      accepted = 1;
    if (!accepted) return;
  }
  if (record->singleByteOnly && size == 2) return;
  if (record->doubleByteOnly && size == 1) return;
  // A character wider than the whole record never fits.
  if (size > record->maxLength) return;
  while (record->length + size > record->maxLength) {
    RemoveBytes(record, LastCharStart(record), record->length - LastCharStart(record));
    if (record->cursor > record->length) record->cursor = record->length;
    if (record->firstShown > record->length) record->firstShown = record->length;
  }
  memmove(record->text + record->cursor + size, record->text + record->cursor,
          static_cast<size_t>(record->length - record->cursor));
  memcpy(record->text + record->cursor, bytes, static_cast<size_t>(size));
  record->cursor += size;
  record->length += size;
  record->text[record->length] = 0;
}

}  // namespace

int SetKeyInputString(int handle, const char* text) {
  KeyInputRecord* record = FindKeyInput(handle);
  if (record == nullptr || text == nullptr) return -1;
  record->length = 0;
  record->cursor = 0;
  record->text[0] = 0;
  record->selectStart = record->selectEnd = -1;
  record->firstShown = 0;
  for (int i = 0; text[i] != 0;) {
    int size = (IsLead(static_cast<unsigned char>(text[i])) && text[i + 1] != 0) ? 2 : 1;
    if (record->length + size > record->maxLength) break;
    memcpy(record->text + record->length, text + i, static_cast<size_t>(size));
    record->length += size;
    i += size;
  }
  record->text[record->length] = 0;
  record->cursor = record->length;
  return 0;
}

namespace {

// Moves the cursor to `target`, extending the selection with Shift.
void MoveCursor(KeyInputRecord* record, int target, int shift) {
  if (shift) {
    if (!HasSelection(record)) record->selectStart = record->cursor;
    record->cursor = target;
    record->selectEnd = target;
  } else {
    record->cursor = target;
    record->selectStart = record->selectEnd = -1;
  }
}

void CopySelection(KeyInputRecord* record, int cut) {
  if (!HasSelection(record)) return;
  int low = record->selectStart < record->selectEnd ? record->selectStart : record->selectEnd;
  int high = record->selectStart < record->selectEnd ? record->selectEnd : record->selectStart;
  if (high > record->length) high = record->length;
  char* block = static_cast<char*>(MEM_ALLOC(static_cast<size_t>(high - low) + 1));
  if (block == nullptr) return;
  memcpy(block, record->text + low, static_cast<size_t>(high - low));
  block[high - low] = 0;
  WriteClipboardText(block);
  MemFree(block);
  if (cut) DeleteSelection(record);
}

void PasteClipboard() {
  int size = ReadClipboardText(nullptr, 0);
  if (size <= 0) return;
  char* block = static_cast<char*>(MEM_ALLOC(static_cast<size_t>(size) + 1));
  if (block == nullptr) return;
  if (ReadClipboardText(block, size) != 0) {
    MemFree(block);
    return;
  }
  block[size] = 0;
  for (int i = 0; block[i] != 0;) {
    unsigned char c = static_cast<unsigned char>(block[i]);
    if (c == '\r' || c == '\n') {
      i++;
      continue;
    }
    int bytes = (IsLead(c) && block[i + 1] != 0) ? 2 : 1;
    if (RingFreeBytes() < bytes) break;
    for (int k = 0; k < bytes; k++) PushInputChar(static_cast<unsigned char>(block[i + k]));
    i += bytes;
  }
  MemFree(block);
}

void ApplyCharacter(KeyInputRecord* record, const char* bytes, int size) {
  unsigned char code = static_cast<unsigned char>(bytes[0]);
  if (size == 2) {
    InsertCharacter(record, bytes, size);
    return;
  }
  switch (code) {
    case CTRL_CODE_LEFT:
      if (record->cursor > 0) {
        int step = GetCharBytePositionKind(record->text, record->cursor - 1, GetCharSet()) == 2 ? 2 : 1;
        MoveCursor(record, record->cursor - step, KeyInputShiftSource());
      }
      break;
    case CTRL_CODE_RIGHT:
      if (record->cursor < record->length)
        MoveCursor(record, record->cursor + CharSizeAt(record, record->cursor), KeyInputShiftSource());
      break;
    case CTRL_CODE_HOME: MoveCursor(record, 0, KeyInputShiftSource()); break;
    case CTRL_CODE_END: MoveCursor(record, record->length, KeyInputShiftSource()); break;
    case CTRL_CODE_BACK:
      if (HasSelection(record)) {
        DeleteSelection(record);
      } else if (record->cursor > 0) {
        int step = GetCharBytePositionKind(record->text, record->cursor - 1, GetCharSet()) == 2 ? 2 : 1;
        record->cursor -= step;
        RemoveBytes(record, record->cursor, step);
      }
      break;
    case CTRL_CODE_DELETE:
      if (HasSelection(record)) {
        if (KeyInputShiftSource()) CopySelection(record, 1);
        else DeleteSelection(record);
      } else if (record->cursor < record->length) {
        RemoveBytes(record, record->cursor, CharSizeAt(record, record->cursor));
      }
      break;
    case CTRL_CODE_COPY: CopySelection(record, 0); break;
    case CTRL_CODE_CUT: CopySelection(record, 1); break;
    case CTRL_CODE_PASTE: PasteClipboard(); break;
    case CTRL_CODE_ENTER:
      record->ended = 1;
      CharInput.activeHandle = -1;
      break;
    case CTRL_CODE_ESCAPE:
      if (record->cancelAllowed) {
        record->cancelled = 1;
        record->ended = 1;
        CharInput.activeHandle = -1;
      }
      break;
    case CTRL_CODE_TAB:
    case CTRL_CODE_UP:
    case CTRL_CODE_DOWN: break;
    default: InsertCharacter(record, bytes, size); break;
  }
}

}  // namespace

int ProcessKeyInputHandles() {
  RunImeRestart();
  if (CharInput.activeHandle == -1) return 0;
  KeyInputRecord* record = FindKeyInput(CharInput.activeHandle);
  if (record == nullptr) return -1;
  while (!record->ended) {
    char bytes[2];
    int size = GetInputChar(bytes, 1);
    if (size == 0) break;
    ApplyCharacter(record, bytes, size);
  }
  return 0;
}
