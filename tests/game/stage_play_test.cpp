// The generated stage played through, headless: GameMain against the
// library double with the build's "data/enemy_ptn.csv" and a steering
// player that looks at the screen's objects the way a person would (holds
// fire, keeps under the enemies, sidesteps shots and bodies it sees coming,
// fires the laser at big enemies). It reaches STAGE CLEAR with lives to
// spare after about two minutes of play, meeting every enemy kind.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <set>
#include <string>

#include "Bullet.h"
#include "Enemy.h"
#include "EnemyDoubles.h"
#include "GameFixture.h"
#include "PadBits.h"
#include "Player.h"
#include "Screen.h"
#include "SteeringPlayer.h"

using namespace ridov_double;
using namespace enemy_doubles;
using steering::Look;
using steering::Scene;
using steering::Steer;

namespace {

const int START_FRAME = 3;      // GAME START on the title
const int FRAME_LIMIT = 12000;  // two minutes of play is about 7700 frames
struct PlayRun {
  int frames = 0;
  int playFrames = 0;
  int clearFrame = 0, overFrame = 0, titleAfterPlay = 0;
  int livesAtEnd = 0;
  int bossHpMax = 0;
  std::set<int> kindsSeen;
};
PlayRun* Current = nullptr;

void EndOfFrame(unsigned int milliseconds) {
  PlayRun& r = *Current;
  ++r.frames;
  bool clear = false, over = false, title = false;
  for (const std::string& c : Calls()) {
    if (c.compare(0, 17, "DrawTextWithFont(") != 0) continue;
    clear |= c.find("\"STAGE CLEAR\"") != std::string::npos;
    over |= c.find("\"GAME OVER\"") != std::string::npos;
    title |= c.find("\"TOP画面\"") != std::string::npos;
  }
  ClearCalls();
  if (clear && r.clearFrame == 0) r.clearFrame = r.frames;
  if (over && r.overFrame == 0) r.overFrame = r.frames;
  if (title && (r.clearFrame || r.overFrame) && r.titleAfterPlay == 0) r.titleAfterPlay = r.frames;
  const bool playing = r.frames > START_FRAME && r.clearFrame == 0 && r.overFrame == 0;
  if (playing) {
    ++r.playFrames;
    r.livesAtEnd = StatusInstance.GetStatusField(1, STATUS_LIVES);
    r.bossHpMax = std::max(r.bossHpMax, StatusInstance.GetStatusField(1, STATUS_BOSS_HP));
    const Scene scene = Look();
    for (const CBaseChar* e : scene.enemies)
      if (const CBaseEnemy* enemy = dynamic_cast<const CBaseEnemy*>(e)) r.kindsSeen.insert(enemy->KindIndex);
    if (getenv("STAGE_PLAY_TRACE") != nullptr && r.frames % 300 == 0) {
      int x = 0, y = 0;
      if (PlayerMessengerPtr != nullptr) PlayerMessengerPtr->GetPlayerPos(1, &x, &y);
      printf("frame %d lives %d boss %d score %d mp %d player %d,%d threats %zu\n", r.frames, r.livesAtEnd,
             StatusInstance.GetStatusField(1, STATUS_BOSS_HP), StatusInstance.GetScore(1),
             StatusInstance.GetStatusField(1, STATUS_GAUGE), x, y, scene.threats.size());
    }
  }
  int pad = 0;
  const int next = r.frames + 1;
  if (next == START_FRAME) pad = PAD_FIRE;
  else if (playing) pad = Steer();
  else if (r.titleAfterPlay && next == r.titleAfterPlay + 20) pad = PAD_DOWN;  // to QUIT
  else if (r.titleAfterPlay && next == r.titleAfterPlay + 22) pad = PAD_FIRE;
  if (r.frames >= FRAME_LIMIT) SetDefaultResult("ClearDrawTarget", -1);  // ends the loop
  SetPadState(pad);
  FakeSleep(milliseconds);
}

class StagePlayTest : public GameTest {};

TEST_F(StagePlayTest, TheGeneratedStageCanBeCleared) {
  const std::string schedule = ReadGeneratedData("data/enemy_ptn.csv");
  ASSERT_FALSE(schedule.empty()) << QUINSEL_DATA_DIR;
  PlayRun r;
  Current = &r;
  FrameSleepFunction = EndOfFrame;
  ScriptFile(schedule);
  SetPadState(0);
  const int result = GameMain(ScreenTaskEntry);
  Current = nullptr;

  EXPECT_EQ(0, result);
  EXPECT_EQ(0, r.overFrame) << "lost every life after " << r.playFrames << " frames";
  ASSERT_GT(r.clearFrame, 0) << "no STAGE CLEAR in " << r.frames << " frames";
  EXPECT_GE(r.livesAtEnd, 1);
  EXPECT_EQ(400000, r.bossHpMax);
  EXPECT_EQ((std::set<int>{0, 1, 2, 3, 4, 5, 6}), r.kindsSeen);
  // About two minutes of play (60 frames a second) before the stage ends.
  EXPECT_GE(r.playFrames, 110 * 60);
  EXPECT_LE(r.playFrames, 150 * 60);
  EXPECT_GT(r.titleAfterPlay, r.clearFrame);
}

}  // namespace
