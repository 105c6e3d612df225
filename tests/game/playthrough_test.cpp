// The whole game, headless: GameMain with the screen task against the
// library double, a small stage schedule and a fixed pad script. One
// session plays a stage to STAGE CLEAR, a second game to GAME OVER, then
// quits from the title.
#include <stdint.h>
#include <stdlib.h>

#include <map>

#include "Enemy.h"
#include "EnemyDoubles.h"
#include "GameFixture.h"
#include "Player.h"
#include "Screen.h"

using namespace ridov_double;
using namespace enemy_doubles;

namespace {

enum {
  PAD_DOWN = 0x1,
  PAD_UP = 0x8,
  PAD_FIRE = 0x10,
  PAD_LASER = 0x20,
};

// Handles the double gives out: sounds in load order, tiles as load * 1000.
const int SOUND_KILL = 0x0C000000 + 1 + SOUND_ENEMY_DESTROYED;
const int SOUND_ENEMY_HURT = 0x0C000000 + 1 + SOUND_ENEMY_HIT;
const int SOUND_SHOT = 0x0C000000 + 1 + SOUND_PLAYER_SHOT;
const int SOUND_PLAYER_HURT = 0x0C000000 + 1 + SOUND_PLAYER_HIT;
const int MUSIC_STAGE_HANDLE = 0x0C000000 + 11 + MUSIC_STAGE;
const int MUSIC_BOSS_HANDLE = 0x0C000000 + 11 + MUSIC_BOSS;

// Frames of the session (1 = the first frame of the loop). The play scene
// starts the frame after a GAME START and loads for 90 frames; its move
// counter m is reached at the end of frame FIRST_MOVE0 + m.
const int FIRST_START = 3;  // decide on the title
const int FIRST_PLAY = FIRST_START + 1;
const int FIRST_MOVE0 = FIRST_PLAY + 88;
const int BOSS_CLIMB = FIRST_MOVE0 + 1210;  // move up under the boss's entry point
const int CLIMB_FRAMES = 80;               // 4.5 px a frame: y 670 to 310
const int FIRST_LASER = FIRST_MOVE0 + 1340;
const int SECOND_LASER = FIRST_LASER + 305;
const int BOSS_DONE = FIRST_MOVE0 + 1900;  // back down, fire on
// The scene sees 6551 (boss time) a frame later, ends the stage the next
// frame and shows STAGE CLEAR from the one after, for 181 frames.
const int FIRST_CLEAR = FIRST_MOVE0 + 6554;
const int FIRST_TITLE = FIRST_CLEAR + 181;
const int SECOND_START = FIRST_TITLE + 20;
const int SECOND_MOVE0 = SECOND_START + 89;
const int SECOND_CLIMB = SECOND_MOVE0 + 150;  // onto the cannon at y 300, no fire
const int SECOND_TITLE_WAIT = SECOND_MOVE0 + 1600;
const int QUIT_DOWN = SECOND_TITLE_WAIT;
const int QUIT_DECIDE = SECOND_TITLE_WAIT + 2;

// The pad state of a session frame.
int PadAt(int frame) {
  if (frame == FIRST_START || frame == SECOND_START || frame == QUIT_DECIDE) return PAD_FIRE;
  if (frame == QUIT_DOWN) return PAD_DOWN;
  if (frame > FIRST_MOVE0 && frame < FIRST_TITLE) {
    int pad = PAD_FIRE;
    if (frame >= BOSS_CLIMB && frame < BOSS_CLIMB + CLIMB_FRAMES) pad |= PAD_UP;
    if (frame >= BOSS_DONE && frame < BOSS_DONE + CLIMB_FRAMES) pad |= PAD_DOWN;
    if (frame == FIRST_LASER || frame == SECOND_LASER) pad |= PAD_LASER;
    return pad;
  }
  if (frame >= SECOND_CLIMB && frame < SECOND_CLIMB + CLIMB_FRAMES) return PAD_UP;
  return 0;
}

// What a session leaves behind: a digest of every library call in order,
// the count, and the milestones read off the log frame by frame.
struct Session {
  int result = -2;
  int frames = 0;
  uint64_t digest = 1469598103934665603ull;
  long long calls = 0;
  std::map<std::string, int> firstFrame;  // event -> first frame
  std::map<std::string, int> frameCount;  // event -> frames it happened in
  std::map<std::string, int> callCount;   // event -> calls
  int maxBossHp = 0;
  int bossHpAtClear = 1;
  int highScore = 0;
  int scoreBeforeClear = 0;
  int livesLowest = 5;
};

Session* Current = nullptr;

int At(const std::map<std::string, int>& m, const std::string& key) {
  auto it = m.find(key);
  return it != m.end() ? it->second : 0;
}

void Note(Session& s, const std::string& event, int calls = 1) {
  if (s.firstFrame.count(event) == 0) s.firstFrame[event] = s.frames;
  ++s.frameCount[event];
  s.callCount[event] += calls;
}

// Folds the frame's calls into the session, then sleeps on the fake clock.
// Runs once a frame (the frame loop always waits on the fake clock).
void EndOfFrame(unsigned int milliseconds) {
  Session& s = *Current;
  ++s.frames;
  int drawnText[4] = {};
  const char* const texts[4] = {"\"TOP画面\"", "\"Now Loading...\"", "\"STAGE CLEAR\"", "\"GAME OVER\""};
  std::map<std::string, int> sounds;
  for (const std::string& c : Calls()) {
    for (unsigned char ch : c) s.digest = (s.digest ^ ch) * 1099511628211ull;
    s.digest = (s.digest ^ '\n') * 1099511628211ull;
    ++s.calls;
    if (c.compare(0, 17, "DrawTextWithFont(") == 0)
      for (int i = 0; i < 4; ++i)
        if (c.find(texts[i]) != std::string::npos) ++drawnText[i];
    if (c.compare(0, 16, "PlaySoundHandle(") == 0 || c.compare(0, 13, "OpenReadFile(") == 0) ++sounds[c];
  }
  const char* const names[4] = {"title", "loading", "stage clear", "game over"};
  for (int i = 0; i < 4; ++i)
    if (drawnText[i] > 0) Note(s, names[i]);
  for (const auto& kv : sounds) Note(s, kv.first, kv.second);

  int bossHp = StatusInstance.GetStatusField(1, STATUS_BOSS_HP);
  if (bossHp > s.maxBossHp) s.maxBossHp = bossHp;
  if (drawnText[2] > 0 && s.frameCount["stage clear"] == 1) {
    s.bossHpAtClear = bossHp;
    s.scoreBeforeClear = StatusInstance.GetScore(1);
  }
  int lives = StatusInstance.GetStatusField(1, STATUS_LIVES);
  if (drawnText[1] == 0 && lives < s.livesLowest) s.livesLowest = lives;
  s.highScore = StatusInstance.GetStatusField(1, STATUS_HIGH_SCORE);
  if (getenv("PLAYTHROUGH_TRACE") != nullptr && s.frames % 100 == 0) {
    int x = 0, y = 0;
    if (PlayerMessengerPtr != nullptr) PlayerMessengerPtr->GetPlayerPos(1, &x, &y);
    printf("frame %d lives %d boss %d score %d mp %d player %d,%d\n", s.frames, lives, bossHp,
           StatusInstance.GetScore(1), StatusInstance.GetStatusField(1, STATUS_GAUGE), x, y);
  }

  ClearCalls();
  SetPadState(PadAt(s.frames + 1));
  FakeSleep(milliseconds);
}

class PlaythroughTest : public GameTest {
 protected:
  // The first session, played once for the tests that read it.
  Session& FirstSession() {
    static Session first = Play();
    return first;
  }

  // One whole session from a fresh program state.
  Session Play() {
    GameTest::SetUp();
    StatusInstance.HighScore = 0;
    Session s;
    Current = &s;
    FrameSleepFunction = EndOfFrame;
    // The schedule is read at each GAME START.
    std::string schedule = ReadFixture("playthrough.csv");
    EXPECT_FALSE(schedule.empty());
    ScriptFile(schedule);
    ScriptFile(schedule);
    SetPadState(PadAt(1));
    s.result = GameMain(ScreenTaskEntry);
    Current = nullptr;
    return s;
  }
};

TEST_F(PlaythroughTest, ClearTheStageThenLoseAGameAndQuit) {
  const Session& s = FirstSession();
  EXPECT_EQ(0, s.result);
  // QUIT ends the loop in its own frame, before that frame is drawn or paced.
  EXPECT_EQ(QUIT_DECIDE - 1, s.frames);

  // The title, GAME START and the loading screen.
  EXPECT_EQ(1, At(s.firstFrame, "title"));
  EXPECT_EQ(FIRST_PLAY, At(s.firstFrame, "loading"));
  EXPECT_EQ(2 * 89, At(s.frameCount, "loading"));
  EXPECT_EQ(2, At(s.callCount, "OpenReadFile(\"data/enemy_ptn.csv\",0)"));

  // Spawns, fire, hits and kills; the boss enters with its full hit points.
  EXPECT_GT(At(s.callCount, "PlaySoundHandle(" + std::to_string(SOUND_SHOT) + ",1,1)"), 100);
  EXPECT_GT(At(s.callCount, "PlaySoundHandle(" + std::to_string(SOUND_ENEMY_HURT) + ",1,1)"), 50);
  EXPECT_GE(At(s.callCount, "PlaySoundHandle(" + std::to_string(SOUND_KILL) + ",1,1)"), 5);
  EXPECT_EQ(400000, s.maxBossHp);
  EXPECT_EQ(2, At(s.callCount, "PlaySoundHandle(" + std::to_string(MUSIC_STAGE_HANDLE) + ",3,1)"));
  EXPECT_EQ(1, At(s.callCount, "PlaySoundHandle(" + std::to_string(MUSIC_BOSS_HANDLE) + ",3,1)"));

  // STAGE CLEAR with the boss destroyed, shown 181 frames, then the title
  // with the high score kept.
  EXPECT_EQ(181, At(s.frameCount, "stage clear"));
  EXPECT_EQ(FIRST_CLEAR, At(s.firstFrame, "stage clear"));
  EXPECT_LE(s.bossHpAtClear, 0);
  EXPECT_GT(s.scoreBeforeClear, 30000);
  EXPECT_EQ(s.scoreBeforeClear, s.highScore);

  // The second game: GAME OVER shown 181 frames, back to the title.
  EXPECT_EQ(181, At(s.frameCount, "game over"));
  EXPECT_GT(At(s.firstFrame, "game over"), SECOND_MOVE0);
  EXPECT_GE(At(s.callCount, "PlaySoundHandle(" + std::to_string(SOUND_PLAYER_HURT) + ",1,1)"), 5);
  EXPECT_GT(At(s.frameCount, "title"), 3);
}

TEST_F(PlaythroughTest, TwoRunsLogTheSameCalls) {
  const Session& first = FirstSession();
  Session second = Play();
  EXPECT_GT(first.calls, 100000);
  EXPECT_EQ(first.calls, second.calls);
  EXPECT_EQ(first.digest, second.digest);
  EXPECT_EQ(first.frames, second.frames);
  EXPECT_EQ(first.firstFrame, second.firstFrame);
}

}  // namespace
