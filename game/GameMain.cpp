#include "GameMain.h"

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "DrawCtl.h"
#include "RiDov.h"
#include "Status.h"
#include "StoredRandomTable.h"

const LogicalKeyRow LogicalKeyTable[] = {
    {0, PAD_INPUT_UP},      {1, PAD_INPUT_LEFT},
    {2, PAD_INPUT_DOWN},    {3, PAD_INPUT_RIGHT},
    {4, PAD_INPUT_BUTTON1}, {5, PAD_INPUT_BUTTON2},
    {6, PAD_INPUT_BUTTON3}, {7, PAD_INPUT_BUTTON4},
    {8, PAD_INPUT_BUTTON7}, {9, 0},
};

CKeyTask KeyTaskInstance;
CDebug DebugTaskInstance;
CRand RandInstance;

namespace {

void SleepMilliseconds(unsigned int milliseconds) { Sleep(milliseconds); }

}  // namespace

void (*FrameSleepFunction)(unsigned int milliseconds) = SleepMilliseconds;

void CKeyTask::Init() {
  InputLock = false;
  for (int i = 0; i < LOGICAL_KEY_COUNT && LogicalKeyTable[i].Key != 9; ++i) Keys[i].PadBit = LogicalKeyTable[i].PadBit;
}

bool UpdateKeyCounters() {
  for (CKeyTask::KeySlot& slot : KeyTaskInstance.Keys) {
    int state = GetPadState(INPUT_KEY_PAD1);
    if (state > 0 && (state & slot.PadBit) != 0) {
      if (++slot.Counter >= 1200) slot.Counter = 601;
    } else {
      slot.Counter = 0;
    }
  }
  return true;
}

void CDebug::Update() {
  if (!KeyTaskInstance.InputLock && KeyTaskInstance.Counter(8) == 1) DebugDisplayFlag = DebugDisplayFlag == 1 ? 0 : 1;
}

int NextStoredRandom() {
  int& cursor = RandInstance.RandomCursor;
  if (cursor < 0 || cursor >= STORED_RANDOM_COUNT) cursor = 0;
  int value = StoredRandomTable[cursor];
  if (++cursor >= STORED_RANDOM_COUNT) cursor = 0;
  return value;
}

namespace {

int FormatCut(char* buffer, int size, const char* format, va_list args) {
  vsnprintf(buffer, size, format, args);
  int length = CutTextLength(buffer, size - 1);
  buffer[length] = '\0';
  return length;
}

}  // namespace

int FormatDrawText(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int length = FormatCut(buffer, DRAW_TEXT_BUFFER_SIZE, format, args);
  va_end(args);
  return length;
}

int FormatShortText(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int length = FormatCut(buffer, SHORT_TEXT_BUFFER_SIZE, format, args);
  va_end(args);
  return length;
}

void PaceFrame(unsigned int* frameStamp) {
  // 31-bit difference: the clock wraps from 0x7fffffff to 0.
  unsigned int now = static_cast<unsigned int>(GetMillisecondCount(0));
  int elapsed = static_cast<int>((now - *frameStamp) & 0x7fffffffu);
  int wait = FRAME_PERIOD_MS - elapsed;
  if (wait > 0) FrameSleepFunction(static_cast<unsigned int>(wait));
  *frameStamp = static_cast<unsigned int>(GetMillisecondCount(0));
}

namespace {

// One frame; false when the loop is to end.
bool RunFrame(CTask* screen, const ScreenTaskLink& link, unsigned int* frameStamp) {
  if (ClearDrawTarget(nullptr) != 0) return false;
  UpdateKeyCounters();

  char keys[256];
  memset(keys, 0, sizeof keys);
  if (GetAllKeyStates(keys) == 0 && keys[KEYCODE_ESCAPE] != 0) return false;

  screen->Update();
  if (link.IsQuitRequested(screen)) return false;

  DebugTaskInstance.Update();
  RandInstance.Update();
  screen->Draw();
  PresentBackBuffer();
  PaceFrame(frameStamp);
  return PumpWindowMessages() == 0;
}

}  // namespace

int GameMain(const ScreenTaskLink& screenTask) {
  SetTitleText("quinsel ver0.1");
  SetScreenMode(960, 720, 16, 60);
  SetLogFileEnabled(0);
  if (ChangeWindowMode(1) != 0) return -1;
  if (LibraryStartUp() != 0) return -1;

  CTask* screen = screenTask.Create();
  if (screen == nullptr) {
    LibraryShutDown();
    return -1;
  }
  screen->Init();
  KeyTaskInstance.Init();
  LoadSounds();
  ResetFontCache();
  DrawCtlInstance.Init();
  StatusInstance.Init();
  RandInstance.Init();
  SetDrawTarget(DRAW_TARGET_BACK_BUFFER);

  unsigned int frameStamp = 0;
  if (PumpWindowMessages() == 0) {
    while (RunFrame(screen, screenTask, &frameStamp)) {
    }
  }

  LibraryShutDown();
  return 0;
}
