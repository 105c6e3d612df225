// The screen task: the current scene with its menu and character
// controllers, scene switches, fades, pause, input lock and the move
// counter; the title and play scenes.
#ifndef GAME_SCREEN_H
#define GAME_SCREEN_H

#include "Task.h"

class CCharCtl;
class CMenuCtl;

enum { SCENE_NONE = 0, SCENE_TITLE = 1, SCENE_PLAY = 2 };

enum {
  PLAY_FIELD_LEFT = 210,
  PLAY_FIELD_RIGHT = 750,
  PLAY_FIELD_TOP = 0,
  PLAY_FIELD_BOTTOM = 720,
  DEFAULT_SCROLL_SPEED = 500,  // 1/1000 px a frame
};

// Work ints of a scene.
enum { SCENE_WORK_STATE = 0, SCENE_WORK_FRAME = 1, SCENE_WORK_END_COUNT = 2 };
// Play scene states.
enum { STAGE_PLAYING = 0, STAGE_CLEAR = 1, STAGE_GAME_OVER = 2 };

class CBaseScene : public CBaseChar {
 public:
  CBaseScene() : Screen(nullptr), BossFlag(false) {}
  void Init() override {}
  void Final() override {}
  void Update() override = 0;
  void Draw() override {}

  CScreenMessenger* Screen;
  bool BossFlag;  // play scene: the boss has had time to enter
};

// Title: the game's name, the high score and the title menu's scene.
class CSceneTop : public CBaseScene {
 public:
  void Init() override;
  void Update() override {}
  void Draw() override;
};

// The stage: loading frames, music cues, scrolling, stage clear and game
// over.
class CSceneStory : public CBaseScene {
 public:
  void Init() override;
  void Update() override;
  void Draw() override;
  void UpdateStageEnd();
};

class CScreenTask : public CScreenMessenger, public CTask {
 public:
  CScreenTask();
  ~CScreenTask() override;

  // CTask face.
  void Init() override;
  void Final() override {}
  void Update() override { SwitchSceneAndUpdate(); }
  void Draw() override { DrawScreenTask(); }

  // CScreenMessenger face.
  void RequestScene(int sceneId) override;
  void RequestQuit() override;
  void SetPause(bool paused) override;
  bool IsPaused() override;
  void StartFadeIn(int frames) override;
  void StartFadeOut(int frames) override;
  void LockInput() override;
  void UnlockInput() override;
  int GetCounter(int which) override;

  void SwitchSceneAndUpdate();
  void DrawScreenTask();
  void DrawOverlays();

  CBaseScene* Scene;
  int CurrentSceneId;
  int RequestedSceneId;           // 0: no request
  int FadeACounter, FadeALength;  // fade-in; counter 0 = not running
  int FadeBCounter, FadeBLength;  // fade-out
  bool QuitFlag;
  bool PauseFlag;
  int ScrollSpeed;
  int MoveCounter;  // unpaused play frames since the play scene began
  CCharCtl* CharCtl;
  CMenuCtl* MenuCtl;

 private:
  void SwitchScene();
};

// Builds the screen task; its first update switches to the title.
CScreenTask* CreateScreenTask();

#endif  // GAME_SCREEN_H
