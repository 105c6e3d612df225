// Character and IME input: the character ring fed by the window procedure,
// the IME composition state, and the key-input records, one-line text
// editors that take their characters from the ring. Main thread only.
#ifndef RAREZEZORUROR_H
#define RAREZEZORUROR_H

#include <windows.h>
#include <imm.h>
#include "RiDov.h"

enum {
  CHAR_RING_SIZE = 1025,  // holds at most 1024 bytes
  IME_STRING_SIZE = 1024,
  IME_CLAUSE_SIZE = 4096,
  KEY_INPUT_MAX = 256,
  KEY_INPUT_HANDLE_TYPE = 0x24000000,  // type 9 in bits 26-30
  KEY_INPUT_MAX_LENGTH = 65536,
};

// Codes in the character stream.
enum {
  CTRL_CODE_COPY = 0x03,
  CTRL_CODE_BACK = 0x08,
  CTRL_CODE_TAB = 0x09,
  CTRL_CODE_ENTER = 0x0D,
  CTRL_CODE_DELETE = 0x10,
  CTRL_CODE_NEXT = 0x15,
  CTRL_CODE_PASTE = 0x16,
  CTRL_CODE_PRIOR = 0x17,
  CTRL_CODE_CUT = 0x18,
  CTRL_CODE_END = 0x19,
  CTRL_CODE_HOME = 0x1A,
  CTRL_CODE_ESCAPE = 0x1B,
  CTRL_CODE_RIGHT = 0x1C,
  CTRL_CODE_LEFT = 0x1D,
  CTRL_CODE_UP = 0x1E,
  CTRL_CODE_DOWN = 0x1F,
};

struct KeyInputRecord {
  int used;
  int check;
  int ended;
  int cancelled;
  int length;       // bytes
  int maxLength;    // bytes
  int selectStart;  // -1: no selection; either order
  int selectEnd;
  int firstShown;  // display scroll position
  int cursor;      // bytes
  char* text;      // tracked memory, maxLength + 1 bytes
  int cancelAllowed;
  int singleByteOnly;
  int numericOnly;
  int doubleByteOnly;
};

struct CharInputStateBlock {
  unsigned char ring[CHAR_RING_SIZE];
  int readIndex;
  int writeIndex;
  int composing;
  char composition[IME_STRING_SIZE];
  int compositionCursor;  // characters
  char savedComposition[IME_STRING_SIZE];
  unsigned char clauses[IME_CLAUSE_SIZE];
  int clauseCount;
  unsigned char attributes[IME_STRING_SIZE];
  int attributeCount;
  CANDIDATELIST* candidates;  // tracked memory
  int candidateSize;
  int imeOpen;
  int imeEnabled;  // survives SetupCharInputBuffer
  int keepIme;     // survives SetupCharInputBuffer
  int imeRestartStep;
  int activeHandle;
  KeyInputRecord records[KEY_INPUT_MAX];
  void* workBuffer;
  int settingOpenStatus;  // IMN_SETOPENSTATUS runs
  int nextCheck;
};
extern CharInputStateBlock CharInput;

// The WM_KEYDOWN table: (virtual key, code) byte pairs ending with a zero.
extern const unsigned char ControlKeyTable[];
// The stream code of a virtual key, 0 when the table has none.
int TranslateControlKey(int virtualKey);

int SetupCharInputBuffer();
int PushInputChar(int byte);  // 0, -1 when full (dropped)
int IsCharInputBufferFull();
LRESULT HandleImeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Activation: restart the IME when it is enabled and open.
void RequestImeReapplyOnActivation();
// 1 when the window is to be made with the IME on.
int IsImeEnableRequested();

// Key-input records; their public calls (MakeKeyInput and the rest) are in
// RiDov.h. A finished input taken up again goes on editing; a text set is
// cut at the maximum (whole characters), the cursor at its end.
void DeleteAllKeyInputHandles();
int ProcessKeyInputHandles();

// Shift held for selections; IsKeyDown on both shift keys unless replaced
// (tests).
extern int (*KeyInputShiftSource)();

#endif  // RAREZEZORUROR_H
