#include "Screen.h"

#include "CharCtl.h"
#include "DrawCtl.h"
#include "Enemy.h"
#include "GameMain.h"
#include "Menu.h"
#include "RiDov.h"
#include "Status.h"

namespace {

enum {
  OVERLAY_LAYER = 10,
  DEBUG_LAYER = 12,
  SCENE_TEXT_LAYER = 9,
  STAGE_LAYER = 1,
};

enum {
  TITLE_COLOR = 0xFD2848,
  SIDE_PANEL_COLOR = 0xCCFFCC,
};

// The stage image's top-left at the start: its bottom 720 rows fill the field.
enum {
  STAGE_START_X = 210000,
  STAGE_START_Y = -3280000,
};

enum {
  LOADING_END = 180,  // scene frame counter, advanced by 2 while loading
  FADE_IN_FRAMES = 60,
  END_MESSAGE_FRAMES = 180,
  STAGE_MUSIC_AT = 1,
  BOSS_MUSIC_AT = 6000,
  BOSS_ENTERED_AFTER = 6550,
};

int StageGraphic() {
  int handles[IMAGE_SET_SIZE] = {};
  DrawCtlInstance.CopyImageSet(7, 1, handles);
  return handles[0];
}

CTask* CreateScreenTaskAsTask() { return CreateScreenTask(); }
bool ScreenQuitRequested(CTask* screen) { return screen != nullptr && static_cast<CScreenTask*>(screen)->QuitFlag; }

}  // namespace

const ScreenTaskLink ScreenTaskEntry = {CreateScreenTaskAsTask, ScreenQuitRequested};

// ---------------------------------------------------------------------------
// Title scene

void CSceneTop::Init() {
  Screen->UnlockInput();
  StatusInstance.ResetPlayStatus();
}

void CSceneTop::Draw() {
  QueueText(SCENE_TEXT_LAYER, "TOP画面", 50, 20, COLOR_WHITE, 1, 0);
  QueueText(SCENE_TEXT_LAYER, "くいんせる", 381, 171, COLOR_WHITE, 8, 0);
  QueueText(SCENE_TEXT_LAYER, "くいんせる", 380, 170, TITLE_COLOR, 8, 0);
  char text[SHORT_TEXT_BUFFER_SIZE];
  FormatShortText(text, "ハイスコア：%d", StatusInstance.GetStatusField(1, STATUS_HIGH_SCORE));
  QueueText(SCENE_TEXT_LAYER, text, 410, 500, COLOR_WHITE, 1, 0);
}

// ---------------------------------------------------------------------------
// Play scene

void CSceneStory::Init() {
  X = STAGE_START_X;
  Y = STAGE_START_Y;
  Speed = DEFAULT_SCROLL_SPEED;
  // Known from the start, so the first stage frame has its image.
  Graph[0] = StageGraphic();
  Screen->LockInput();
  Screen->SetPause(true);
}

void CSceneStory::Update() {
  UpdateStageEnd();
  int move = Screen->GetCounter(1);
  if (move > BOSS_ENTERED_AFTER) BossFlag = true;
  // The music cues run on unpaused frames only: a counter standing still
  // under the pause menu must not restart the music every frame.
  if (Screen->IsPaused()) return;
  if (move == STAGE_MUSIC_AT) {
    StopMusic();
    StartMusic(MUSIC_STAGE);
  }
  if (move == BOSS_MUSIC_AT) {
    StopMusic();
    StartMusic(MUSIC_BOSS);
  }
}

void CSceneStory::UpdateStageEnd() {
  int& frame = Work[SCENE_WORK_FRAME];
  int& state = Work[SCENE_WORK_STATE];
  int& endCount = Work[SCENE_WORK_END_COUNT];

  if (frame + 1 < LOADING_END) {
    frame += 2;
    if (frame >= LOADING_END) {
      Screen->UnlockInput();
      Screen->SetPause(false);
      Screen->StartFadeIn(FADE_IN_FRAMES);
    }
    return;
  }

  ++frame;
  switch (state) {
    case STAGE_PLAYING:
      if (StatusInstance.GetStatusField(1, STATUS_LIVES) <= 0) {
        StopMusic();
        Screen->LockInput();
        state = STAGE_GAME_OVER;
        endCount = 0;
      } else if (BossFlag && StatusInstance.GetStatusField(1, STATUS_BOSS_HP) <= 0) {
        StopMusic();
        state = STAGE_CLEAR;
        endCount = 0;
      }
      break;
    case STAGE_CLEAR:
    case STAGE_GAME_OVER:
      if (state == STAGE_CLEAR) QueueText(OVERLAY_LAYER, "STAGE CLEAR", 360, 360, COLOR_WHITE, 6, 1);
      else QueueText(OVERLAY_LAYER, "GAME OVER", 380, 360, COLOR_WHITE, 6, 1);
      if (++endCount > END_MESSAGE_FRAMES) Screen->RequestScene(SCENE_TITLE);
      break;
    default: break;
  }

  if (!Screen->IsPaused()) {
    Y += Screen->GetCounter(0);
    if (Y >= 0) Y = 0;
  }
  Graph[0] = StageGraphic();
}

void CSceneStory::Draw() {
  unsigned int panel = MakeColorValue((SIDE_PANEL_COLOR >> 16) & 0xFF, (SIDE_PANEL_COLOR >> 8) & 0xFF,
                                      SIDE_PANEL_COLOR & 0xFF);
  DrawRectShape(0, 0, PLAY_FIELD_LEFT, SCREEN_HEIGHT, panel, 1);
  DrawRectShape(PLAY_FIELD_RIGHT, 0, SCREEN_WIDTH, SCREEN_HEIGHT, panel, 1);
  QueueText(SCENE_TEXT_LAYER, "ストーリー画面", 50, 20, 0, 1, 0);
  if (Work[SCENE_WORK_FRAME] < LOADING_END) {
    QueueBox(OVERLAY_LAYER, PLAY_FIELD_LEFT, PLAY_FIELD_TOP, PLAY_FIELD_RIGHT, PLAY_FIELD_BOTTOM, 0, 255);
    QueueText(OVERLAY_LAYER, "Now Loading...", 580, 690, COLOR_WHITE, 2, 0);
  } else {
    QueueImage(STAGE_LAYER, X / 1000, Y / 1000, Graph[0], 255);
  }
}

// ---------------------------------------------------------------------------
// Screen task

CScreenTask::CScreenTask()
    : Scene(nullptr), CurrentSceneId(SCENE_NONE), RequestedSceneId(SCENE_TITLE), FadeACounter(0), FadeALength(0),
      FadeBCounter(0), FadeBLength(0), QuitFlag(false), PauseFlag(false), ScrollSpeed(0), MoveCounter(0),
      CharCtl(nullptr), MenuCtl(nullptr) {}

CScreenTask::~CScreenTask() {
  if (Scene != nullptr) Scene->Final();
  delete Scene;
  delete MenuCtl;
  delete CharCtl;
}

CScreenTask* CreateScreenTask() {
  // The play scene's character controller reads the schedule into this one.
  EnemyCtlFactory = CreateEnemyCtl;
  return new CScreenTask();
}

void CScreenTask::Init() { ScrollSpeed = DEFAULT_SCROLL_SPEED; }

void CScreenTask::RequestScene(int sceneId) { RequestedSceneId = sceneId; }
void CScreenTask::RequestQuit() { QuitFlag = true; }
void CScreenTask::SetPause(bool paused) { PauseFlag = paused; }
bool CScreenTask::IsPaused() { return PauseFlag; }

// A fade of no frames has nothing to show.
void CScreenTask::StartFadeIn(int frames) {
  if (frames <= 0) return;
  FadeACounter = 1;
  FadeALength = frames;
}

void CScreenTask::StartFadeOut(int frames) {
  if (frames <= 0) return;
  FadeBCounter = 1;
  FadeBLength = frames;
}

void CScreenTask::LockInput() {
  KeyTaskInstance.InputLock = true;
  if (MenuCtl != nullptr && MenuCtl->List != nullptr) MenuCtl->List->Lock = true;
}

void CScreenTask::UnlockInput() {
  KeyTaskInstance.InputLock = false;
  if (MenuCtl != nullptr && MenuCtl->List != nullptr) MenuCtl->List->Lock = false;
}

int CScreenTask::GetCounter(int which) {
  if (which == 0) return ScrollSpeed;
  if (which == 1) return MoveCounter;
  return 0;
}

void CScreenTask::SwitchScene() {
  int id = RequestedSceneId;
  RequestedSceneId = SCENE_NONE;
  if (id != SCENE_TITLE && id != SCENE_PLAY) return;  // no such scene

  if (Scene != nullptr) Scene->Final();
  delete Scene;
  Scene = nullptr;
  delete MenuCtl;
  MenuCtl = nullptr;
  delete CharCtl;
  CharCtl = nullptr;

  if (id == SCENE_TITLE) Scene = new CSceneTop();
  else Scene = new CSceneStory();
  Scene->Screen = this;
  Scene->BossFlag = false;
  MenuCtl = new CMenuCtl(id, this);
  CharCtl = new CCharCtl(id, this);
  CharCtl->Init();
  CurrentSceneId = id;
  MoveCounter = 0;
  Scene->Init();
}

void CScreenTask::SwitchSceneAndUpdate() {
  if (RequestedSceneId != SCENE_NONE) SwitchScene();

  if (FadeACounter > 0 && ++FadeACounter > FadeALength) FadeACounter = FadeALength = 0;
  if (FadeBCounter > 0 && ++FadeBCounter > FadeBLength) FadeBCounter = FadeBLength = 0;

  if (Scene != nullptr) Scene->Update();
  if (MenuCtl != nullptr) MenuCtl->Update();

  if (CurrentSceneId == SCENE_PLAY) {
    StatusInstance.Update();
    if (!PauseFlag) {
      ++MoveCounter;
      if (CharCtl != nullptr) CharCtl->Update();
    }
  }
}

void CScreenTask::DrawOverlays() {
  if (DebugTaskInstance.DebugDisplayFlag == 1) {
    char text[DRAW_TEXT_BUFFER_SIZE];
    FormatDrawText(text, "move_cnt:%d", MoveCounter);
    QueueText(DEBUG_LAYER, text, 20, 100, 0, 1, 0);
  }
  if (FadeACounter > 0)
    QueueBox(OVERLAY_LAYER, PLAY_FIELD_LEFT, PLAY_FIELD_TOP, PLAY_FIELD_RIGHT, PLAY_FIELD_BOTTOM, 0,
             255 - 255 * FadeACounter / FadeALength);
  if (FadeBCounter > 0)
    QueueBox(OVERLAY_LAYER, PLAY_FIELD_LEFT, PLAY_FIELD_TOP, PLAY_FIELD_RIGHT, PLAY_FIELD_BOTTOM, 0,
             255 * FadeBCounter / FadeBLength);
}

void CScreenTask::DrawScreenTask() {
  DrawOverlays();
  if (Scene != nullptr) Scene->Draw();
  if (MenuCtl != nullptr) MenuCtl->Draw();
  if (CurrentSceneId == SCENE_PLAY) {
    StatusInstance.Draw();
    if (!PauseFlag && CharCtl != nullptr) CharCtl->Draw();
  }
  DrawCtlInstance.FlushDrawQueue();
}
