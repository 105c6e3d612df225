// Linked into the game's program for the scripted sessions only. The link
// wraps GameMain() (to learn the screen task) and PresentBackBuffer(); each
// present appends one line to "session_probe.txt" in the working folder
// whenever the game's visible state changes:
//   f <frame> s <scene> p <paused> t <stage state> m <move counter>
//     y <stage top, px> l <lives> h <high score> pl <x> <y> <shots>
//     e <count> [<x> <y>]...
// The session driver reads it to know where the game is and what a
// screenshot of the window must show. Every 60 s (and on the first frame) a
// line goes to "session_stats.txt" for the soak run:
//   <seconds> mem <committed bytes> peak <peak working set> handles <kernel
//   handles> blocks <allocator blocks> bytes <allocator bytes> live <library
//   handles>
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <string.h>

#include "CharCtl.h"
#include "GameMain.h"
#include "RiDov.h"
#include "Screen.h"
#include "Status.h"
#include "Task.h"
#include "VeRavoro.h"
#include "ZiDezaru.h"

extern "C" int __real__Z17PresentBackBufferv();
extern "C" int __real__Z8GameMainRK14ScreenTaskLink(const ScreenTaskLink& link);

namespace {

CScreenTask* ProbedScreen = nullptr;
const ScreenTaskLink* RealLink = nullptr;

CTask* CreateProbedScreen() {
  CTask* task = RealLink->Create();
  ProbedScreen = static_cast<CScreenTask*>(task);
  return task;
}

bool ProbedQuitRequested(CTask* screen) { return RealLink->IsQuitRequested(screen); }

enum { MAX_LISTED_ENEMIES = 16 };

// The state line of this frame, without the frame number.
void FormatState(char* line, size_t size) {
  int scene = 0, paused = 0, state = -1, move = 0, stageY = 0;
  if (ProbedScreen != nullptr) {
    scene = ProbedScreen->CurrentSceneId;
    paused = ProbedScreen->PauseFlag ? 1 : 0;
    move = ProbedScreen->MoveCounter;
    if (scene == SCENE_PLAY && ProbedScreen->Scene != nullptr) {
      state = ProbedScreen->Scene->Work[SCENE_WORK_STATE];
      stageY = ProbedScreen->Scene->Y / 1000;
    }
  }
  int x = 0, y = 0, shots = 0;
  if (PlayerMessengerPtr != nullptr) {
    PlayerMessengerPtr->GetPlayerPos(1, &x, &y);
    PlayerMessengerPtr->GetLiveShotCount(1, &shots);
  }
  int used = snprintf(line, size, "s %d p %d t %d m %d y %d l %d h %d pl %d %d %d", scene, paused, state, move, stageY,
                      StatusInstance.GetStatusField(1, STATUS_LIVES),
                      StatusInstance.GetStatusField(1, STATUS_HIGH_SCORE), x, y, shots);
  CBaseCharCtl* enemies = nullptr;
  if (ProbedScreen != nullptr && ProbedScreen->CharCtl != nullptr) enemies = ProbedScreen->CharCtl->EnemyCtl;
  int count = 0;
  char list[MAX_LISTED_ENEMIES * 24] = "";
  size_t listUsed = 0;
  for (CBaseChar* c = enemies != nullptr ? enemies->Head : nullptr; c != nullptr; c = c->Next) {
    if (c->Dead) continue;
    if (count < MAX_LISTED_ENEMIES && listUsed < sizeof list) {
      int px = 0, py = 0;
      c->GetPositionPx(&px, &py);
      listUsed += snprintf(list + listUsed, sizeof list - listUsed, " %d %d", px, py);
    }
    ++count;
  }
  if (used > 0 && static_cast<size_t>(used) < size) snprintf(line + used, size - used, " e %d%s", count, list);
}

void WriteStats() {
  static DWORD start = GetTickCount();
  static DWORD next = 0;
  const DWORD now = GetTickCount();
  if (next != 0 && static_cast<int>(now - next) < 0) return;
  next = now + 60000;
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
  DWORD kernelHandles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &kernelHandles);
  int live = 0;
  for (int type = 0; type < HANDLE_TYPE_COUNT; ++type)
    if (HandleManagers[type].initialized) live += HandleManagers[type].count;
  if (FILE* file = fopen("session_stats.txt", "ab")) {
    fprintf(file, "%lu mem %lu peak %lu handles %lu blocks %d bytes %lu live %d\n",
            static_cast<unsigned long>((now - start) / 1000), static_cast<unsigned long>(memory.PagefileUsage),
            static_cast<unsigned long>(memory.PeakWorkingSetSize), static_cast<unsigned long>(kernelHandles),
            GetAllocCount(), static_cast<unsigned long>(GetAllocTotalSize()), live);
    fclose(file);
  }
}

}  // namespace

extern "C" int __wrap__Z8GameMainRK14ScreenTaskLink(const ScreenTaskLink& link) {
  RealLink = &link;
  static const ScreenTaskLink probed = {CreateProbedScreen, ProbedQuitRequested};
  return __real__Z8GameMainRK14ScreenTaskLink(probed);
}

extern "C" int __wrap__Z17PresentBackBufferv() {
  static char last[1024] = "";
  static int frame = 0;
  char line[1024];
  FormatState(line, sizeof line);
  ++frame;
  WriteStats();
  if (strcmp(line, last) != 0) {
    if (FILE* file = fopen("session_probe.txt", "ab")) {
      fprintf(file, "f %d %s\n", frame, line);
      fclose(file);
    }
    memcpy(last, line, sizeof last);
  }
  return __real__Z17PresentBackBufferv();
}
