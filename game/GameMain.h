// The entry function and its frame loop, the key task, the debug toggle and
// the frame / stored-random counters.
#ifndef GAME_GAMEMAIN_H
#define GAME_GAMEMAIN_H

#include "Task.h"

enum { LOGICAL_KEY_COUNT = 9 };

// Logical key 0 up, 1 left, 2 down, 3 right, 4 fire / decide, 5 and 6 player
// actions (5 also menu back), 7 pause menu, 8 debug display.
struct LogicalKeyRow {
  int Key;     // 9 ends the table
  int PadBit;  // GetPadState bit
};
extern const LogicalKeyRow LogicalKeyTable[];

// Per-key hold counters: 0 while up, 1 on the first frame down, then
// counting; past 1199 it cycles through 601..1199.
class CKeyTask : public CTask {
 public:
  void Init() override;
  void Update() override {}
  void Draw() override {}

  int Counter(int key) const { return Keys[key].Counter; }

  struct KeySlot {
    int Counter;
    int PadBit;
  };
  bool InputLock;  // menus see no keys and the debug toggle is ignored
  KeySlot Keys[LOGICAL_KEY_COUNT];
};
extern CKeyTask KeyTaskInstance;

// Reads the keyboard merged with pad 1 once per key slot; always true.
bool UpdateKeyCounters();

// Toggles DebugDisplayFlag on a fresh press of key 8 unless input is locked.
class CDebug : public CTask {
 public:
  void Update() override;
  void Draw() override {}

  int DebugDisplayFlag;
};
extern CDebug DebugTaskInstance;

// Frames run by the loop, and the read position in StoredRandomTable.
class CRand : public CTask {
 public:
  void Init() override { RandomCursor = 0; }
  void Update() override { ++FrameCounter; }
  void Draw() override {}

  int FrameCounter;
  int RandomCursor;
};
extern CRand RandInstance;

// The value at RandomCursor; the cursor then advances, wrapping to 0.
int NextStoredRandom();

// printf-style formatting for queued texts: FormatDrawText into a 130-byte
// buffer (debug texts), FormatShortText into a 128-byte one (titles, menus).
// A longer result is cut at a whole character.
enum { DRAW_TEXT_BUFFER_SIZE = 130, SHORT_TEXT_BUFFER_SIZE = 128 };
int FormatDrawText(char* buffer, const char* format, ...);
int FormatShortText(char* buffer, const char* format, ...);

// Frame pacing: a frame lasts at least 16 ms from the end of the previous
// frame's wait; no catch-up. The wait goes through FrameSleepFunction.
enum { FRAME_PERIOD_MS = 16 };
extern void (*FrameSleepFunction)(unsigned int milliseconds);
void PaceFrame(unsigned int* frameStamp);

// How the entry function reaches the screen task: Create builds it (its Init
// is still to run), IsQuitRequested reads its quit flag.
struct ScreenTaskLink {
  CTask* (*Create)();
  bool (*IsQuitRequested)(CTask* screen);
};
// Defined with the screen task.
extern const ScreenTaskLink ScreenTaskEntry;

// Starts the library, builds the game, runs the frame loop, shuts the
// library down. 0 after an ordinary run, -1 when the library did not start.
int GameMain(const ScreenTaskLink& screenTask);

#endif  // GAME_GAMEMAIN_H
