// Linked into the game's program for the frame comparison of the two
// drawing roads (the link wraps GameMain, GetPadState and PresentBackBuffer;
// the software build also links SoftwareSwitch.cpp). A scripted player
// starts the stage from the title and plays it with the steering player.
// Frames drawn through Direct3D are slow where the CPU is emulated, so the
// probe shortens the way: it ends the loading frames at once, and twice
// moves the stage's move counter (and the scroll with it) ahead, since the
// schedule spawns by move counter: after the fade-in to the third row of
// divers, after them to just before the boss. Then it opens the pause menu
// and ends the program. At
// chosen frames the frame about to be presented is read back (the Direct3D
// back buffer, or the software screen) and written to "<name>.ppm" in the
// working folder, with one line of the game's state in "shots.txt":
//   <name> f <present> s <scene> m <move> p <paused> pl <x> <y> e <enemies>
//     b <bullets> i <items> sc <score> l <lives> bh <boss hp>
// The same run on both roads gives the same lines.
#include <windows.h>
#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "Bullet.h"
#include "CharCtl.h"
#include "FrameReadback.h"
#include "GameMain.h"
#include "Item.h"
#include "PadBits.h"
#include "Player.h"
#include "RiDov.h"
#include "Screen.h"
#include "Status.h"
#include "SteeringPlayer.h"
#include "Task.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraphicsSoftware.h"

extern "C" int __real__Z17PresentBackBufferv();
extern "C" int __real__Z8GameMainRK14ScreenTaskLink(const ScreenTaskLink& link);
extern "C" int __real__Z11GetPadStatei(int pad);

namespace {

const int WIDTH = 960, HEIGHT = 720;
// The script, in title frames and play move counts.
const int TITLE_SHOT_FRAME = 5;
const int START_PRESS_FRAMES[2] = {6, 11};  // GAME START: fire held, then let go
const int LOADING_LAST_FRAME = 178;         // the scene's loading count ends at 180, by 2s
const int FADE_SHOT_MOVE = 20;              // a third of the way through the fade-in
const int DIVERS_JUMP_TO_MOVE = 590;        // the third row of divers runs 560-668
const int BUSY_SHOT_MOVE = 690;
const int BOSS_JUMP_TO_MOVE = 6049;  // the boss is scheduled at 6050, 70 px above the field
const int BOSS_SHOT_MOVE = 6120;     // its body and hit-point ring in the field
const int PAUSE_PRESS_MOVE = 6121;
const int PAUSE_SHOT_AFTER = 3;  // paused frames
const int MAX_PRESENTS = 1500;   // ends a run that went astray
const int PAD1 = 0x1001;

CScreenTask* Screen = nullptr;
const ScreenTaskLink* RealLink = nullptr;
bool Finished = false;
int PadNow = 0;
int Presents = 0;
int TitleFrames = 0;
int PausedFrames = 0;

CTask* CreateScreen() {
  CTask* task = RealLink->Create();
  Screen = static_cast<CScreenTask*>(task);
  return task;
}

bool QuitRequested(CTask* screen) { return Finished || RealLink->IsQuitRequested(screen); }

int Scene() { return Screen != nullptr ? Screen->CurrentSceneId : 0; }
int Move() { return Screen != nullptr ? Screen->MoveCounter : 0; }
bool Paused() { return Screen != nullptr && Screen->PauseFlag; }

int CountList(const CBaseCharCtl* list) {
  int n = 0;
  for (const CBaseChar* c = list != nullptr ? list->Head : nullptr; c != nullptr; c = c->Next) n += !c->Dead;
  return n;
}

// The frame about to be presented as 0xRRGGBB; a 16-bit software screen's
// 5-6-5 values widened by repeating their top bits.
std::vector<uint32_t> ReadFrame() {
  if (DeviceLayer.hardware) return ReadBackBufferFrame(WIDTH, HEIGHT);
  std::vector<uint32_t> out(static_cast<size_t>(WIDTH) * HEIGHT, 0xDEADu);
  const MEMIMG& image = SoftwareScreenImage;
  const int bytes = image.pixels != nullptr ? MemImgBytesPerPixel(&image) : 0;
  if ((bytes != 2 && bytes != 4) || image.width < WIDTH || image.height < HEIGHT) return out;
  for (int y = 0; y < HEIGHT; y++) {
    const uint8_t* row = image.pixels + y * image.header->pitch;
    for (int x = 0; x < WIDTH; x++) {
      uint32_t c;
      if (bytes == 4) {
        c = reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
      } else {
        const uint32_t p = reinterpret_cast<const uint16_t*>(row)[x];
        const uint32_t r = p >> 11 & 0x1F, g = p >> 5 & 0x3F, b = p & 0x1F;
        c = (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
      }
      out[static_cast<size_t>(y) * WIDTH + x] = c;
    }
  }
  return out;
}

void Shot(const char* name) {
  const std::vector<uint32_t> frame = ReadFrame();
  char file[64];
  snprintf(file, sizeof file, "%s.ppm", name);
  if (FILE* out = fopen(file, "wb")) {
    fprintf(out, "P6\n%d %d\n255\n", WIDTH, HEIGHT);
    std::vector<unsigned char> rgb(frame.size() * 3);
    for (size_t i = 0; i < frame.size(); i++) {
      rgb[i * 3] = static_cast<unsigned char>(frame[i] >> 16);
      rgb[i * 3 + 1] = static_cast<unsigned char>(frame[i] >> 8);
      rgb[i * 3 + 2] = static_cast<unsigned char>(frame[i]);
    }
    fwrite(rgb.data(), 1, rgb.size(), out);
    fclose(out);
  }
  int x = 0, y = 0, enemies = 0, bullets = 0, items = 0;
  if (PlayerMessengerPtr != nullptr) PlayerMessengerPtr->GetPlayerPos(1, &x, &y);
  if (Screen != nullptr && Screen->CharCtl != nullptr) {
    enemies = CountList(Screen->CharCtl->EnemyCtl);
    bullets = CountList(Screen->CharCtl->BulletCtl);
    items = CountList(Screen->CharCtl->ItemCtl);
  }
  if (FILE* out = fopen("shots.txt", "ab")) {
    fprintf(out, "%s f %d s %d m %d p %d pl %d %d e %d b %d i %d sc %d l %d bh %d\n", name, Presents, Scene(), Move(),
            Paused() ? 1 : 0, x, y, enemies, bullets, items, StatusInstance.GetScore(1),
            StatusInstance.GetStatusField(1, STATUS_LIVES), StatusInstance.GetStatusField(1, STATUS_BOSS_HP));
    fclose(out);
  }
}

// Takes this frame's shot, if it is one, before the present.
void ShootIfDue() {
  const int scene = Scene();
  if (scene == SCENE_TITLE) {
    if (++TitleFrames == TITLE_SHOT_FRAME) Shot("title");
    return;
  }
  if (scene != SCENE_PLAY) return;
  const int move = Move();
  if (Paused()) {
    if (move >= PAUSE_PRESS_MOVE && ++PausedFrames == PAUSE_SHOT_AFTER) {
      Shot("pause");
      Finished = true;
    }
    return;
  }
  if (move == FADE_SHOT_MOVE) Shot("play_fade");
  if (move == BUSY_SHOT_MOVE) Shot("play_busy");
  if (move == BOSS_SHOT_MOVE) Shot("boss");
}

// The shortened way: the loading frames end at once; after the fade shot
// and after the busy shot the move counter goes ahead, and the scroll by as
// many frames.
void SkipAheadIfDue() {
  if (Scene() != SCENE_PLAY || Screen->Scene == nullptr) return;
  CBaseScene* stage = Screen->Scene;
  int& loading = stage->Work[SCENE_WORK_FRAME];
  if (loading < LOADING_LAST_FRAME) {
    loading = LOADING_LAST_FRAME;
    return;
  }
  if (Paused()) return;
  const int move = Move();
  const int to = move == FADE_SHOT_MOVE ? DIVERS_JUMP_TO_MOVE : move == BUSY_SHOT_MOVE ? BOSS_JUMP_TO_MOVE : 0;
  if (to == 0) return;
  stage->Y += Screen->ScrollSpeed * (to - move);
  if (stage->Y > 0) stage->Y = 0;
  Screen->MoveCounter = to;
}

// The pad for the next frame.
int NextPad() {
  const int scene = Scene();
  if (scene == SCENE_TITLE)
    return TitleFrames >= START_PRESS_FRAMES[0] && TitleFrames < START_PRESS_FRAMES[1] ? PAD_FIRE : 0;
  if (scene != SCENE_PLAY || Paused() || Screen->Scene == nullptr ||
      Screen->Scene->Work[SCENE_WORK_STATE] != STAGE_PLAYING)
    return 0;
  const int move = Move();
  if (move >= PAUSE_PRESS_MOVE && move < PAUSE_PRESS_MOVE + 3) return PAD_PAUSE;
  return steering::Steer();
}

}  // namespace

extern "C" int __wrap__Z8GameMainRK14ScreenTaskLink(const ScreenTaskLink& link) {
  RealLink = &link;
  static const ScreenTaskLink probed = {CreateScreen, QuitRequested};
  return __real__Z8GameMainRK14ScreenTaskLink(probed);
}

extern "C" int __wrap__Z11GetPadStatei(int pad) { return pad == PAD1 ? PadNow : __real__Z11GetPadStatei(pad); }

extern "C" int __wrap__Z17PresentBackBufferv() {
  ++Presents;
  ShootIfDue();
  const int result = __real__Z17PresentBackBufferv();
  SkipAheadIfDue();
  PadNow = NextPad();
  if (Presents >= MAX_PRESENTS && !Finished) {
    if (FILE* out = fopen("shots.txt", "ab")) {
      fprintf(out, "astray f %d s %d m %d l %d\n", Presents, Scene(), Move(),
              StatusInstance.GetStatusField(1, STATUS_LIVES));
      fclose(out);
    }
    Finished = true;
  }
  return result;
}
