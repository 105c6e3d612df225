// The game's frame benchmark: linked into the game's program (the link
// wraps GameMain, GetPadState and PresentBackBuffer; quinsel_frames_soft
// also links the software switch, so the same run draws in software mode). A steering player
// starts the stage from the title, plays it to its end and chooses QUIT;
// every present measures the frame's CPU time (the main thread's and the
// whole process's) and counts the objects in play. At the end it prints,
// and writes to "game_frames.txt": the time from process start to the first
// title frame, CPU per frame on the title, on the busiest play frames, on
// the boss, and the peak memory.
// A shorter route, for machines where frames are slow (an emulated CPU):
// RIDOV_GAME_FRAMES_BOSS_AT=<move> moves the stage's move counter (and the
// scroll) from there to just before the boss enters, since the schedule
// spawns by move counter; RIDOV_GAME_FRAMES_LIMIT=<presents> ends the run
// after that many frames.
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "Bullet.h"
#include "CharCtl.h"
#include "GameMain.h"
#include "PadBits.h"
#include "RiDov.h"
#include "Screen.h"
#include "Status.h"
#include "SteeringPlayer.h"
#include "Task.h"

extern "C" int __real__Z17PresentBackBufferv();
extern "C" int __real__Z8GameMainRK14ScreenTaskLink(const ScreenTaskLink& link);
extern "C" int __real__Z11GetPadStatei(int pad);

namespace {

CScreenTask* Screen = nullptr;
const ScreenTaskLink* RealLink = nullptr;

CTask* CreateScreen() {
  CTask* task = RealLink->Create();
  Screen = static_cast<CScreenTask*>(task);
  return task;
}
bool LimitReached = false;
bool QuitRequested(CTask* screen) { return LimitReached || RealLink->IsQuitRequested(screen); }

const int BOSS_ENTERS_MOVE = 6049;  // the schedule's boss comes at 6050

int EnvironmentNumber(const char* name) {
  const char* text = getenv(name);
  return text != nullptr ? atoi(text) : 0;
}

// The shorter route's move to the boss, once, at the given move count.
void JumpToBossIfDue() {
  static const int at = EnvironmentNumber("RIDOV_GAME_FRAMES_BOSS_AT");
  static bool jumped = false;
  if (at <= 0 || jumped || Screen == nullptr || Screen->CurrentSceneId != SCENE_PLAY || Screen->PauseFlag ||
      Screen->Scene == nullptr || Screen->MoveCounter != at)
    return;
  jumped = true;
  Screen->Scene->Y += Screen->ScrollSpeed * (BOSS_ENTERS_MOVE - at);
  if (Screen->Scene->Y > 0) Screen->Scene->Y = 0;
  Screen->MoveCounter = BOSS_ENTERS_MOVE;
}

struct Frame {
  double threadMs, processMs;
  int objects;
};
enum Phase { PHASE_TITLE, PHASE_PLAY, PHASE_BOSS, PHASE_COUNT };
std::vector<Frame> Frames[PHASE_COUNT];
double FirstTitleMs = -1;
int PadNow = 0;
int FrameIndex = 0;
int PlayEndedAt = 0;  // frame of the title after play, 0 before

double FileTimeMs(const FILETIME& t) {
  return (static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000.0;
}
double NowMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FileTimeMs(now);
}
double ThreadCpuMs() {
  FILETIME created, ended, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  return FileTimeMs(kernel) + FileTimeMs(user);
}
double ProcessCpuMs() {
  FILETIME created, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  return FileTimeMs(kernel) + FileTimeMs(user);
}
double ProcessStartMs() {
  FILETIME created, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  return FileTimeMs(created);
}

int CountList(const CBaseCharCtl* list) {
  int n = 0;
  for (const CBaseChar* c = list != nullptr ? list->Head : nullptr; c != nullptr; c = c->Next) n += !c->Dead;
  return n;
}

int CountObjects() {
  int n = 0;
  if (Screen != nullptr && Screen->CharCtl != nullptr) {
    n += CountList(Screen->CharCtl->EnemyCtl);
    n += CountList(Screen->CharCtl->BulletCtl);
  }
  return n;
}

// The pad for the next frame.
int NextPad() {
  const int scene = Screen != nullptr ? Screen->CurrentSceneId : 0;
  if (scene == SCENE_TITLE) {
    if (PlayEndedAt == 0) return FrameIndex % 20 < 5 ? PAD_FIRE : 0;  // GAME START
    const int since = FrameIndex - PlayEndedAt;                       // then QUIT
    if (since >= 30 && since < 35) return PAD_DOWN;
    if (since >= 45 && since < 50) return PAD_FIRE;
    return 0;
  }
  if (scene == SCENE_PLAY && !Screen->PauseFlag && Screen->Scene != nullptr &&
      Screen->Scene->Work[SCENE_WORK_STATE] == STAGE_PLAYING)
    return steering::Steer();
  return 0;
}

// Mean of the given frames' times.
void Mean(const std::vector<Frame>& frames, double* thread, double* process) {
  *thread = *process = 0;
  for (const Frame& f : frames) *thread += f.threadMs, *process += f.processMs;
  if (!frames.empty()) *thread /= frames.size(), *process /= frames.size();
}

// The busiest tenth (at least 60 frames) of a phase, by objects in play.
std::vector<Frame> Busiest(std::vector<Frame> frames) {
  std::sort(frames.begin(), frames.end(), [](const Frame& a, const Frame& b) { return a.objects > b.objects; });
  const size_t keep = std::min(frames.size(), std::max<size_t>(60, frames.size() / 10));
  frames.resize(keep);
  return frames;
}

void Report() {
  FILE* out = fopen("game_frames.txt", "wb");
  auto line = [out](const char* format, auto... args) {
    printf(format, args...);
    if (out != nullptr) fprintf(out, format, args...);
  };
  line("first title frame: %.0f ms after the process started\n", FirstTitleMs);
  static const char* const NAMES[PHASE_COUNT] = {"title", "play", "boss"};
  for (int p = 0; p < PHASE_COUNT; ++p) {
    double thread, process;
    Mean(Frames[p], &thread, &process);
    line("%-5s %6zu frames: CPU per frame %.2f ms main thread, %.2f ms process\n", NAMES[p], Frames[p].size(), thread,
         process);
    if (p == PHASE_TITLE || Frames[p].empty()) continue;
    const std::vector<Frame> busy = Busiest(Frames[p]);
    Mean(busy, &thread, &process);
    line("%-5s busiest %zu frames (%d-%d objects): %.2f ms main thread, %.2f ms process\n", NAMES[p], busy.size(),
         busy.back().objects, busy.front().objects, thread, process);
  }
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  line("peak memory: working set %.1f MB, committed %.1f MB\n", memory.PeakWorkingSetSize / 1048576.0,
       memory.PeakPagefileUsage / 1048576.0);
  line("stage: %s\n", PlayEndedAt != 0 ? "ended" : LimitReached ? "not ended (frame limit)" : "not ended");
  if (out != nullptr) fclose(out);
}

}  // namespace

extern "C" int __wrap__Z8GameMainRK14ScreenTaskLink(const ScreenTaskLink& link) {
  RealLink = &link;
  static const ScreenTaskLink probed = {CreateScreen, QuitRequested};
  const int result = __real__Z8GameMainRK14ScreenTaskLink(probed);
  Report();
  return result;
}

extern "C" int __wrap__Z11GetPadStatei(int pad) { return pad == 0x1001 ? PadNow : __real__Z11GetPadStatei(pad); }

extern "C" int __wrap__Z17PresentBackBufferv() {
  static double lastThread = ThreadCpuMs(), lastProcess = ProcessCpuMs();
  static bool played = false;
  const int result = __real__Z17PresentBackBufferv();
  const double thread = ThreadCpuMs(), process = ProcessCpuMs();
  const Frame frame = {thread - lastThread, process - lastProcess, CountObjects()};
  lastThread = thread;
  lastProcess = process;
  ++FrameIndex;

  const int scene = Screen != nullptr ? Screen->CurrentSceneId : 0;
  if (scene == SCENE_TITLE) {
    if (FirstTitleMs < 0) FirstTitleMs = NowMs() - ProcessStartMs();
    if (played && PlayEndedAt == 0) PlayEndedAt = FrameIndex;
    if (!played) Frames[PHASE_TITLE].push_back(frame);
  } else if (scene == SCENE_PLAY && !Screen->PauseFlag) {
    played = true;
    const bool boss = StatusInstance.GetStatusField(1, STATUS_BOSS_HP) > 0;
    Frames[boss ? PHASE_BOSS : PHASE_PLAY].push_back(frame);
  }
  JumpToBossIfDue();
  static const int limit = EnvironmentNumber("RIDOV_GAME_FRAMES_LIMIT");
  if (limit > 0 && FrameIndex >= limit) LimitReached = true;
  PadNow = NextPad();
  if (FrameIndex % 120 == 0) {
    if (FILE* progress = fopen("game_frames_progress.txt", "ab")) {
      fprintf(progress, "%lu ms frame %d scene %d objects %d lives %d boss %d\n",
              static_cast<unsigned long>(GetTickCount()), FrameIndex, scene, frame.objects,
              StatusInstance.GetStatusField(1, STATUS_LIVES), StatusInstance.GetStatusField(1, STATUS_BOSS_HP));
      fclose(progress);
    }
  }
  return result;
}
