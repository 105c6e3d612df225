#include <algorithm>
#include <memory>

#include "CharCtl.h"
#include "EnemyDoubles.h"
#include "GameFixture.h"
#include "Item.h"
#include "Menu.h"
#include "Player.h"
#include "Screen.h"

using namespace ridov_double;

namespace {

const int STAGE_MUSIC = 0x0C000002;
const int BOSS_MUSIC = 0x0C000008;
const int STAGE_IMAGE = 30100;

bool Logged(const std::string& line) {
  const std::vector<std::string>& calls = Calls();
  return std::find(calls.begin(), calls.end(), line) != calls.end();
}

int TextDraws(const std::string& text) {
  int n = 0;
  for (const std::string& c : CallsOf("DrawTextWithFont"))
    if (c.find(",\"" + text + "\",") != std::string::npos) ++n;
  return n;
}
bool DrewText(const std::string& text) { return TextDraws(text) > 0; }

// Alphas of the queued fade boxes on the overlay layer.
std::vector<int> FadeAlphas() {
  std::vector<int> out;
  for (int i = 0; i < DrawQueueLayerIndex[9]; ++i)
    if (DrawQueue[9][i].Kind == DRAW_BOX) out.push_back(DrawQueue[9][i].Alpha);
  return out;
}

class ScreenTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    for (int& h : MusicHandles) h = -1;
    for (int& h : SoundEffectHandles) h = -1;
    MusicHandles[MUSIC_STAGE] = STAGE_MUSIC;
    MusicHandles[MUSIC_BOSS] = BOSS_MUSIC;
    DrawCtlInstance.ImageSets[301].Handles[0] = STAGE_IMAGE;
    task.reset(CreateScreenTask());
    task->Init();
  }
  void TearDown() override { task.reset(); }

  // One frame of the loop: update, then draw (which flushes the queue).
  void Frame() {
    task->Update();
    task->Draw();
  }

  CSceneStory* Story() const { return static_cast<CSceneStory*>(task->Scene); }

  // From the title into the play scene's first frame.
  void StartPlay() {
    Frame();
    task->RequestScene(SCENE_PLAY);
  }

  // Runs updates without drawing until the move counter reaches `move`.
  void RunToMove(int move) {
    while (task->MoveCounter < move) {
      task->Update();
      memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);
    }
  }

  std::unique_ptr<CScreenTask> task;
};

TEST_F(ScreenTest, TheFirstUpdateSwitchesToTheTitle) {
  EXPECT_EQ(SCENE_NONE, task->CurrentSceneId);
  EXPECT_EQ(SCENE_TITLE, task->RequestedSceneId);
  EXPECT_EQ(500, task->GetCounter(0));
  EXPECT_EQ(0, task->GetCounter(1));
  EXPECT_EQ(0, task->GetCounter(2));
  EXPECT_EQ(nullptr, task->Scene);  // nothing is built before the first switch
  task->Draw();                     // and nothing breaks either

  StatusInstance.HighScore = 1234;
  StatusInstance.Records[0].Score = 99;
  KeyTaskInstance.InputLock = true;
  ClearCalls();
  Frame();
  EXPECT_EQ(SCENE_TITLE, task->CurrentSceneId);
  EXPECT_EQ(SCENE_NONE, task->RequestedSceneId);
  EXPECT_NE(nullptr, dynamic_cast<CSceneTop*>(task->Scene));
  ASSERT_NE(nullptr, task->MenuCtl);
  EXPECT_NE(nullptr, dynamic_cast<CMenuSelectTop*>(task->MenuCtl->List));
  ASSERT_NE(nullptr, task->CharCtl);
  EXPECT_EQ(nullptr, task->CharCtl->PlayerCtl);
  EXPECT_FALSE(KeyTaskInstance.InputLock);
  EXPECT_EQ(0, StatusInstance.GetScore(1));
  EXPECT_EQ(1234, StatusInstance.GetStatusField(1, STATUS_HIGH_SCORE));
  // The scene's texts, then the menu shown in its first frame.
  for (const char* text : {"TOP画面", "くいんせる", "ハイスコア：1234", "GAME START", "QUIT"})
    EXPECT_TRUE(DrewText(text)) << text;
  EXPECT_EQ(2, TextDraws("くいんせる"));
  EXPECT_EQ(0, CountOf("DrawRectShape"));
}

TEST_F(ScreenTest, FadeAlphaOver60Frames) {
  Frame();
  memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);
  task->StartFadeIn(60);  // as a scene does in its update
  std::vector<int> alphas;
  for (int frame = 1; frame <= 62; ++frame) {
    if (frame > 1) task->SwitchSceneAndUpdate();
    task->DrawOverlays();
    std::vector<int> boxes = FadeAlphas();
    alphas.push_back(boxes.empty() ? -1 : boxes[0]);
    memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);
  }
  EXPECT_EQ(251, alphas[0]);
  EXPECT_EQ(247, alphas[1]);
  EXPECT_EQ(128, alphas[29]);  // 255 - 255 * 30 / 60 = 128 (127.5 toward zero)
  EXPECT_EQ(0, alphas[59]);
  EXPECT_EQ(-1, alphas[60]);
  EXPECT_EQ(-1, alphas[61]);
  EXPECT_EQ(0, task->FadeACounter);
  EXPECT_EQ(0, task->FadeALength);

  // The fade-out climbs; one started while it runs leaves it alone.
  task->StartFadeOut(60);
  task->DrawOverlays();
  EXPECT_EQ((std::vector<int>{4}), FadeAlphas());
  memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);
  for (int i = 0; i < 9; ++i) task->SwitchSceneAndUpdate();
  task->StartFadeIn(10);
  EXPECT_EQ(10, task->FadeBCounter);
  EXPECT_EQ(60, task->FadeBLength);
  task->DrawOverlays();
  EXPECT_EQ((std::vector<int>{230, 42}), FadeAlphas());  // fade A first, then B
  memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);
  for (int i = 0; i < 50; ++i) task->SwitchSceneAndUpdate();
  task->DrawOverlays();
  EXPECT_EQ((std::vector<int>{255}), FadeAlphas());
  memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);

  // A fade of no frames shows nothing (and divides by nothing).
  task->SwitchSceneAndUpdate();
  task->StartFadeIn(0);
  task->StartFadeOut(-3);
  task->DrawOverlays();
  EXPECT_TRUE(FadeAlphas().empty());
}

TEST_F(ScreenTest, PlaySceneTimeline) {
  StartPlay();
  int unlockFrame = 0, stageMusicFrame = 0, loadingFrames = 0;
  for (int frame = 1; frame <= 92; ++frame) {
    ClearCalls();
    Frame();
    if (frame == 1) {
      EXPECT_EQ(SCENE_PLAY, task->CurrentSceneId);
      EXPECT_TRUE(KeyTaskInstance.InputLock);
      EXPECT_TRUE(task->PauseFlag);
      EXPECT_TRUE(task->MenuCtl->List->Lock);
      EXPECT_NE(nullptr, task->CharCtl->PlayerCtl);
      EXPECT_NE(nullptr, task->CharCtl->EnemyCtl);
    }
    if (DrewText("Now Loading...")) ++loadingFrames;
    if (unlockFrame == 0 && !KeyTaskInstance.InputLock) {
      unlockFrame = frame;
      EXPECT_FALSE(task->PauseFlag);
      EXPECT_EQ(1, task->FadeACounter);
      EXPECT_EQ(60, task->FadeALength);
      // The stage fades in from black in its first drawn frame.
      EXPECT_TRUE(Logged("SetBlendMode(1,251)"));
      EXPECT_TRUE(Logged("DrawImageAt(210,-3280,30100,1)"));
    }
    if (Logged("PlaySoundHandle(" + std::to_string(STAGE_MUSIC) + ",3,1)")) {
      EXPECT_EQ(0, stageMusicFrame);
      stageMusicFrame = frame;
      EXPECT_EQ(2, task->MoveCounter);  // the cue saw 1, then the frame counted on
    }
  }
  EXPECT_EQ(89, loadingFrames);
  EXPECT_EQ(90, unlockFrame);
  EXPECT_EQ(91, stageMusicFrame);
  EXPECT_EQ(STAGE_MUSIC, CurrentMusicHandle);
  EXPECT_EQ(-3280000 + 2 * 500, Story()->Y);
  EXPECT_EQ(92, StatusInstance.PlayFrameCounter);  // counted paused or not

  RunToMove(5999);
  ClearCalls();
  RunToMove(6001);
  std::vector<std::string> sounds;
  for (const std::string& c : Calls())
    if (c.find("SoundHandle(") != std::string::npos) sounds.push_back(c);
  EXPECT_EQ((std::vector<std::string>{"StopSoundHandle(" + std::to_string(STAGE_MUSIC) + ")",
                                      "PlaySoundHandle(" + std::to_string(BOSS_MUSIC) + ",3,1)"}),
            sounds);
  EXPECT_EQ(BOSS_MUSIC, CurrentMusicHandle);

  RunToMove(6551);
  EXPECT_FALSE(Story()->BossFlag);
  task->Update();  // the scene sees 6551
  EXPECT_TRUE(Story()->BossFlag);

  RunToMove(6600);
  EXPECT_EQ(0, Story()->Y);  // stopped with the image's top at the screen's top
}

TEST_F(ScreenTest, StageClearShowsFor181FramesThenTheTitle) {
  StartPlay();
  RunToMove(6551);
  task->Update();  // boss flag; no boss ever lived, so its hit points read 0
  StatusInstance.Records[0].Score = 4321;
  StatusInstance.HighScore = 4321;
  ClearCalls();
  Frame();
  EXPECT_EQ(STAGE_CLEAR, Story()->Work[SCENE_WORK_STATE]);
  EXPECT_EQ(NO_MUSIC, CurrentMusicHandle);
  EXPECT_FALSE(KeyTaskInstance.InputLock);  // input stays unlocked
  int shown = 0;
  while (task->CurrentSceneId == SCENE_PLAY && shown < 300) {
    ClearCalls();
    Frame();
    if (DrewText("STAGE CLEAR")) ++shown;
  }
  EXPECT_EQ(181, shown);
  EXPECT_EQ(SCENE_TITLE, task->CurrentSceneId);
  EXPECT_TRUE(DrewText("ハイスコア：4321"));
  EXPECT_EQ(0, StatusInstance.GetScore(1));
  EXPECT_EQ(5, StatusInstance.GetStatusField(1, STATUS_LIVES));
}

TEST_F(ScreenTest, GameOverComesFirstAndShowsFor181Frames) {
  StartPlay();
  RunToMove(100);
  Story()->BossFlag = true;  // the boss at 0 too: the lives test wins
  StatusInstance.Records[0].Field[STATUS_LIVES] = 0;
  ClearCalls();
  Frame();
  EXPECT_EQ(STAGE_GAME_OVER, Story()->Work[SCENE_WORK_STATE]);
  EXPECT_EQ((std::vector<std::string>{"StopSoundHandle(" + std::to_string(STAGE_MUSIC) + ")"}),
            CallsOf("StopSoundHandle"));
  EXPECT_TRUE(KeyTaskInstance.InputLock);
  EXPECT_TRUE(task->MenuCtl->List->Lock);
  int shown = 0, frames = 0;
  while (task->CurrentSceneId == SCENE_PLAY && frames < 300) {
    ClearCalls();
    Frame();
    ++frames;
    if (DrewText("GAME OVER")) ++shown;
    EXPECT_FALSE(DrewText("STAGE CLEAR"));
  }
  EXPECT_EQ(181, shown);
  EXPECT_EQ(182, frames);
  EXPECT_FALSE(KeyTaskInstance.InputLock);  // the title unlocks
  EXPECT_EQ(5, StatusInstance.GetStatusField(1, STATUS_LIVES));
}

// The option indexes of the player controller's options, in list order.
std::vector<int> OptionIndexes(CPlayerCtl* players) {
  std::vector<int> out;
  for (CBaseChar* c = players->Head; c != nullptr; c = c->Next)
    if (c->KindWord == CHAR_KIND_OPTION) out.push_back(static_cast<CPlayer*>(c)->OptionIndex);
  return out;
}

void PickUpSeed() {
  CItem seed;
  seed.ItemKind = ITEM_SEED;
  ApplyItemEffect(&seed, 1);
}

TEST_F(ScreenTest, ANewGameStartsWithoutOptions) {
  StartPlay();
  Frame();
  for (int i = 0; i < 4; ++i) PickUpSeed();
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), OptionIndexes(task->CharCtl->PlayerCtl));

  // Game over, back to the title, and a second game.
  StatusInstance.Records[0].Field[STATUS_LIVES] = 0;
  for (int frames = 0; task->CurrentSceneId == SCENE_PLAY && frames < 300; ++frames) Frame();
  ASSERT_EQ(SCENE_TITLE, task->CurrentSceneId);
  StartPlay();
  Frame();
  ASSERT_EQ(SCENE_PLAY, task->CurrentSceneId);
  EXPECT_EQ(0, StatusInstance.GetStatusField(1, STATUS_OPTION_COUNT));
  EXPECT_TRUE(OptionIndexes(task->CharCtl->PlayerCtl).empty());

  // Its seeds grant options again, in the formation's first places.
  PickUpSeed();
  PickUpSeed();
  EXPECT_EQ(2, StatusInstance.GetStatusField(1, STATUS_OPTION_COUNT));
  EXPECT_EQ((std::vector<int>{1, 2}), OptionIndexes(task->CharCtl->PlayerCtl));
}

TEST_F(ScreenTest, PauseFreezesScrollMoveCounterAndCharacters) {
  StartPlay();
  RunToMove(10);
  int y = Story()->Y, play = StatusInstance.PlayFrameCounter;
  task->SetPause(true);
  EXPECT_TRUE(task->IsPaused());
  for (int i = 0; i < 5; ++i) {
    ClearCalls();
    Frame();
  }
  EXPECT_EQ(10, task->MoveCounter);
  EXPECT_EQ(y, Story()->Y);
  EXPECT_EQ(play + 5, StatusInstance.PlayFrameCounter);
  // The status panel is drawn, the player (layer 7, bilinear) is not.
  EXPECT_GT(CountOf("DrawImageAt"), 0);
  EXPECT_EQ(2, CountOf("SetSamplingMode"));  // only the flush's own pair

  task->SetPause(false);
  ClearCalls();
  Frame();
  EXPECT_EQ(11, task->MoveCounter);
  EXPECT_EQ(y + 500, Story()->Y);
  EXPECT_EQ(4, CountOf("SetSamplingMode"));
}

TEST_F(ScreenTest, MusicCueDoesNotRepeatWhilePausedOnItsFrame) {
  StartPlay();
  RunToMove(1);
  auto sounds = []() {
    std::vector<std::string> out;
    for (const std::string& c : Calls())
      if (c.find("SoundHandle(") != std::string::npos) out.push_back(c);
    return out;
  };
  const std::string stage = std::to_string(STAGE_MUSIC);
  // The pause menu opens in the very frame whose scene update starts the
  // stage music: the move counter then stands at 1 while paused.
  KeyTaskInstance.Keys[7].Counter = 1;
  ClearCalls();
  task->Update();
  KeyTaskInstance.Keys[7].Counter = 0;
  EXPECT_EQ(1, task->MoveCounter);
  EXPECT_EQ((std::vector<std::string>{"PlaySoundHandle(" + stage + ",3,1)", "StopSoundHandle(" + stage + ")"}),
            sounds());
  ClearCalls();
  for (int i = 0; i < 3; ++i) task->Update();
  EXPECT_TRUE(sounds().empty());  // no restart under the menu
  KeyTaskInstance.Keys[7].Counter = 1;
  task->Update();
  KeyTaskInstance.Keys[7].Counter = 0;
  task->Update();
  EXPECT_EQ((std::vector<std::string>{"PlaySoundHandle(" + stage + ",3,0)"}), sounds());
  EXPECT_EQ(3, task->MoveCounter);
}

TEST_F(ScreenTest, PlaySceneDrawsPanelsFirstAndTheDebugCounter) {
  StartPlay();
  RunToMove(120);
  DebugTaskInstance.DebugDisplayFlag = 1;
  ClearCalls();
  task->Draw();
  std::vector<std::string> calls = Calls();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ((std::vector<std::string>{"MakeColorValue(204,255,204)", "DrawRectShape(0,0,210,720,0xFFCCFFCC,1)",
                                      "DrawRectShape(750,0,960,720,0xFFCCFFCC,1)", "SetSamplingMode(1)"}),
            std::vector<std::string>(calls.begin(), calls.begin() + 4));
  EXPECT_TRUE(DrewText("ストーリー画面"));
  EXPECT_TRUE(DrewText("move_cnt:120"));
  EXPECT_FALSE(DrewText("Now Loading..."));
}

TEST_F(ScreenTest, RequestsAndTheLoopLink) {
  Frame();
  task->RequestScene(3);  // no such scene: ignored
  Frame();
  EXPECT_EQ(SCENE_TITLE, task->CurrentSceneId);
  EXPECT_EQ(SCENE_NONE, task->RequestedSceneId);

  EXPECT_FALSE(ScreenTaskEntry.IsQuitRequested(task.get()));
  task->RequestQuit();
  EXPECT_TRUE(ScreenTaskEntry.IsQuitRequested(task.get()));

  CTask* made = ScreenTaskEntry.Create();
  ASSERT_NE(nullptr, made);
  EXPECT_FALSE(ScreenTaskEntry.IsQuitRequested(made));
  delete made;
}

TEST_F(ScreenTest, ReturningToTheTitleReleasesThePlayScene) {
  StartPlay();
  RunToMove(5);
  EXPECT_NE(nullptr, PlayerMessengerPtr);
  task->RequestScene(SCENE_TITLE);
  Frame();
  EXPECT_EQ(SCENE_TITLE, task->CurrentSceneId);
  EXPECT_EQ(nullptr, PlayerMessengerPtr);
  EXPECT_EQ(0, task->MoveCounter);
}

TEST_F(ScreenTest, BossFlagIsSetAfter6550EvenWhilePaused) {
  StartPlay();
  RunToMove(6551);
  task->SetPause(true);  // paused before the scene sees 6551
  ClearCalls();
  task->Update();
  EXPECT_EQ(6551, task->MoveCounter);
  EXPECT_TRUE(Story()->BossFlag);
  EXPECT_EQ(0, CountOf("PlaySoundHandle"));  // no music cue under the pause
}

}  // namespace
