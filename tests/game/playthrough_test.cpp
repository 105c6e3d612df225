// The whole game, headless: GameMain with the screen task against the
// library double, a small stage schedule and a fixed pad script. One
// session plays a stage to STAGE CLEAR (every enemy kind, every item kind,
// the pause menu with the music, the debug display, the special, a laser
// and the boss near the stage's end), a second game to GAME OVER, then
// quits from the title.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "CharCtl.h"
#include "Enemy.h"
#include "EnemyDoubles.h"
#include "GameFixture.h"
#include "PadBits.h"
#include "Item.h"
#include "Player.h"
#include "Screen.h"

using namespace ridov_double;
using namespace enemy_doubles;

namespace {

// Handles the double gives out: sounds in load order, tiles as load * 1000.
const int SOUND_BASE = 0x0C000000 + 1;
const int SOUND_KILL = SOUND_BASE + SOUND_ENEMY_DESTROYED;
const int SOUND_ENEMY_HURT = SOUND_BASE + SOUND_ENEMY_HIT;
const int SOUND_SHOT = SOUND_BASE + SOUND_PLAYER_SHOT;
const int SOUND_PLAYER_HURT = SOUND_BASE + SOUND_PLAYER_HIT;
const int SOUND_PICK_UP = SOUND_BASE + 5;
const int MUSIC_STAGE_HANDLE = 0x0C000000 + 11 + MUSIC_STAGE;
const int MUSIC_BOSS_HANDLE = 0x0C000000 + 11 + MUSIC_BOSS;

// Schedule frames of tests/game/fixtures/playthrough.csv, by enemy kind.
const int SPAWN_MOVE[ENEMY_KIND_COUNT] = {120, 600, 300, 200, 900, 1300, 6400};
const int BOSS_MUSIC_MOVE = 6000;
const int BOSS_FLAG_MOVE = 6551;

// Frames of the session (1 = the first frame of the loop). The play scene
// starts the frame after a GAME START and loads for 90 frames; its move
// counter m is reached at the end of frame FIRST_MOVE0 + m while no pause
// came between.
const int FIRST_START = 3;  // decide on the title
const int FIRST_PLAY = FIRST_START + 1;
const int FIRST_MOVE0 = FIRST_PLAY + 88;
const int DEBUG_ON = FIRST_MOVE0 + 50;
const int DEBUG_OFF = FIRST_MOVE0 + 130;
const int PAUSE_AT = FIRST_MOVE0 + 2000;
const int PAUSE_FRAMES = 45;
const int RESUME_AT = PAUSE_AT + PAUSE_FRAMES;
// After the pause the move counter runs PAUSE_FRAMES behind.
const int LATE_MOVE0 = FIRST_MOVE0 + PAUSE_FRAMES;
const int BOSS_CLIMB = LATE_MOVE0 + 6420;  // move up under the boss's entry point
const int CLIMB_FRAMES = 80;               // 4.5 px a frame: y 670 to 310
const int FIRST_LASER = LATE_MOVE0 + 6560;
const int SECOND_LASER = FIRST_LASER + 305;
const int BOSS_DONE = SECOND_LASER + 310;      // back down after the second laser, fire on
const int FIRST_TITLE_BY = LATE_MOVE0 + 7700;  // STAGE CLEAR and its 181 frames are over by then
const int SECOND_START = FIRST_TITLE_BY + 20;
const int SECOND_MOVE0 = SECOND_START + 89;
const int SPECIAL_AT = SECOND_MOVE0 + 100;
const int SECOND_CLIMB = SECOND_MOVE0 + 150;  // onto the cannon at y 300, no fire
const int SECOND_TITLE_WAIT = SECOND_MOVE0 + 1600;
const int QUIT_DOWN = SECOND_TITLE_WAIT;
const int QUIT_DECIDE = SECOND_TITLE_WAIT + 2;

int ClearFrame();  // the first frame showing STAGE CLEAR, 0 before it

// The pad state of a session frame.
int PadAt(int frame) {
  if (frame == FIRST_START || frame == SECOND_START || frame == QUIT_DECIDE) return PAD_FIRE;
  if (frame == QUIT_DOWN) return PAD_DOWN;
  if (frame > FIRST_MOVE0 && frame < FIRST_TITLE_BY) {
    if (frame == PAUSE_AT || frame == RESUME_AT) return PAD_PAUSE;
    if (frame > PAUSE_AT && frame < RESUME_AT) return 0;
    // Everything is let go once STAGE CLEAR shows: the title sees fresh keys.
    const int clear = ClearFrame();
    if (clear > 0 && frame > clear) return 0;
    int pad = PAD_FIRE;
    if (frame == DEBUG_ON || frame == DEBUG_OFF) pad |= PAD_DEBUG;
    if (frame >= BOSS_CLIMB && frame < BOSS_CLIMB + CLIMB_FRAMES) pad |= PAD_UP;
    if (frame >= BOSS_DONE && frame < BOSS_DONE + CLIMB_FRAMES) pad |= PAD_DOWN;
    if (frame == FIRST_LASER || frame == SECOND_LASER) pad |= PAD_LASER;
    return pad;
  }
  if (frame == SPECIAL_AT) return PAD_SPECIAL;
  if (frame >= SECOND_CLIMB && frame < SECOND_CLIMB + CLIMB_FRAMES) return PAD_UP;
  return 0;
}

// A status field's change, read at the end of a frame.
struct Change {
  int frame;
  int from;
  int to;
  bool operator==(const Change& o) const { return frame == o.frame && from == o.from && to == o.to; }
};

// What a session leaves behind: a digest of every library call in order,
// the count, and the milestones read off the log and the game's state frame
// by frame.
struct Session {
  int result = -2;
  int frames = 0;
  uint64_t digest = 1469598103934665603ull;
  long long calls = 0;
  std::map<std::string, int> firstFrame;             // event -> first frame
  std::map<std::string, int> frameCount;             // event -> frames it happened in
  std::map<std::string, int> callCount;              // event -> calls
  std::map<std::string, std::vector<int>> framesOf;  // music and pick-up calls -> frames
  std::vector<int> move;                             // move counter at the end of each frame (index frame)
  std::vector<std::string> debugText;                // the debug line drawn in each frame, or ""
  int enemyFirstMove[ENEMY_KIND_COUNT] = {-1, -1, -1, -1, -1, -1, -1};
  int itemFirstFrame[4] = {-1, -1, -1, -1};
  std::map<int, std::vector<Change>> changes;      // status field of record 1 -> its changes
  std::vector<int> specialFrames;                  // frames the main player had a special out
  int optionsSeen = 0;                             // most option objects at once
  int optionOffsetX = 1000, optionOffsetY = 1000;  // the option against the player, last frame seen
  int maxBossHp = 0;
  int bossHpAtClear = 1;
  int bossDownFrame = 0;  // first frame with the boss spawned and its hit points at 0 or below
  int highScore = 0;
  int scoreBeforeClear = 0;
  int livesAtClear = 0;
  int firstGameEnd = 0;  // the first frame of the title after the first game
  int sideSteps = 0;     // the player's steps right less steps left while it meets the magic item
};

Session* Current = nullptr;
CScreenTask* Screen = nullptr;

int ClearFrame() {
  if (Current == nullptr) return 0;
  auto it = Current->firstFrame.find("stage clear");
  return it != Current->firstFrame.end() ? it->second : 0;
}

int At(const std::map<std::string, int>& m, const std::string& key) {
  auto it = m.find(key);
  return it != m.end() ? it->second : 0;
}

void Note(Session& s, const std::string& event, int calls = 1) {
  if (s.firstFrame.count(event) == 0) s.firstFrame[event] = s.frames;
  ++s.frameCount[event];
  s.callCount[event] += calls;
}

std::vector<Change> ChangesOf(const Session& s, int field) {
  auto it = s.changes.find(field);
  return it != s.changes.end() ? it->second : std::vector<Change>();
}

std::string Call(const char* name, int handle, const char* rest = "") {
  return std::string(name) + "(" + std::to_string(handle) + rest + ")";
}

// Reads the play scene's objects: enemy kinds, items, options, the special.
void ReadPlayObjects(Session& s) {
  if (Screen == nullptr || Screen->CharCtl == nullptr) return;
  CCharCtl* ctl = Screen->CharCtl;
  const int move = Screen->MoveCounter;
  if (ctl->EnemyCtl != nullptr)
    for (CBaseChar* c = ctl->EnemyCtl->Head; c != nullptr; c = c->Next) {
      const int kind = static_cast<CBaseEnemy*>(c)->KindIndex;
      if (kind >= 0 && kind < ENEMY_KIND_COUNT && s.enemyFirstMove[kind] < 0) s.enemyFirstMove[kind] = move;
    }
  if (ctl->ItemCtl != nullptr)
    for (CBaseChar* c = ctl->ItemCtl->Head; c != nullptr; c = c->Next) {
      const int kind = static_cast<CItem*>(c)->ItemKind;
      if (kind >= 0 && kind < 4 && s.itemFirstFrame[kind] < 0) s.itemFirstFrame[kind] = s.frames;
    }
  int options = 0;
  if (ctl->PlayerCtl != nullptr && PlayerMessengerPtr != nullptr) {
    int px = 0, py = 0;
    PlayerMessengerPtr->GetPlayerPos(1, &px, &py);
    for (CBaseChar* c = ctl->PlayerCtl->Head; c != nullptr; c = c->Next) {
      if (c->KindWord != CHAR_KIND_OPTION || c->Dead) continue;
      ++options;
      int x = 0, y = 0;
      c->GetPositionPx(&x, &y);
      s.optionOffsetX = x - px;
      s.optionOffsetY = y - py;
    }
    if (PlayerMessengerPtr->HasSpecial(1)) s.specialFrames.push_back(s.frames);
  }
  if (options > s.optionsSeen) s.optionsSeen = options;
}

// The magic item bounces about the field: in the first game, before the
// boss, the player goes sideways to meet it, then back to where it was.
int ChaseMagic(Session& s) {
  if (s.frames + 1 <= FIRST_MOVE0 || s.frames + 1 >= BOSS_CLIMB || Screen == nullptr || Screen->CharCtl == nullptr ||
      Screen->CharCtl->ItemCtl == nullptr || PlayerMessengerPtr == nullptr)
    return 0;
  if (s.frames + 1 >= PAUSE_AT && s.frames + 1 <= RESUME_AT) return 0;
  int px = 0, py = 0;
  PlayerMessengerPtr->GetPlayerPos(1, &px, &py);
  for (CBaseChar* c = Screen->CharCtl->ItemCtl->Head; c != nullptr; c = c->Next) {
    if (c->Dead || static_cast<CItem*>(c)->ItemKind != ITEM_MAGIC) continue;
    int x = 0, y = 0;
    c->GetPositionPx(&x, &y);
    if (x < px - 4 && px > 250) {
      --s.sideSteps;
      return PAD_LEFT;
    }
    if (x > px + 4 && px < 710) {
      ++s.sideSteps;
      return PAD_RIGHT;
    }
    return 0;
  }
  if (s.sideSteps < 0) {
    ++s.sideSteps;
    return PAD_RIGHT;
  }
  if (s.sideSteps > 0) {
    --s.sideSteps;
    return PAD_LEFT;
  }
  return 0;
}

// Folds the frame's calls into the session, then sleeps on the fake clock.
// Runs once a frame (the frame loop always waits on the fake clock).
void EndOfFrame(unsigned int milliseconds) {
  Session& s = *Current;
  ++s.frames;
  int drawnText[4] = {};
  const char* const texts[4] = {"\"TOP画面\"", "\"Now Loading...\"", "\"STAGE CLEAR\"", "\"GAME OVER\""};
  std::map<std::string, int> sounds;
  std::string debug;
  for (const std::string& c : Calls()) {
    for (unsigned char ch : c) s.digest = (s.digest ^ ch) * 1099511628211ull;
    s.digest = (s.digest ^ '\n') * 1099511628211ull;
    ++s.calls;
    if (c.compare(0, 17, "DrawTextWithFont(") == 0) {
      for (int i = 0; i < 4; ++i)
        if (c.find(texts[i]) != std::string::npos) ++drawnText[i];
      const size_t at = c.find("\"move_cnt:");
      if (at != std::string::npos) debug = c.substr(at + 1, c.find('"', at + 1) - at - 1);
    }
    if (c.compare(0, 16, "PlaySoundHandle(") == 0 || c.compare(0, 16, "StopSoundHandle(") == 0 ||
        c.compare(0, 13, "OpenReadFile(") == 0)
      ++sounds[c];
  }
  if (drawnText[0] > 0 && s.frames > FIRST_PLAY && s.firstGameEnd == 0) s.firstGameEnd = s.frames;
  const char* const names[4] = {"title", "loading", "stage clear", "game over"};
  for (int i = 0; i < 4; ++i)
    if (drawnText[i] > 0) Note(s, names[i]);
  for (const auto& kv : sounds) {
    Note(s, kv.first, kv.second);
    for (int i = 0; i < kv.second; ++i) s.framesOf[kv.first].push_back(s.frames);
  }
  s.debugText.push_back(debug);
  s.move.push_back(Screen != nullptr ? Screen->MoveCounter : 0);

  const bool firstGame = s.frames > FIRST_PLAY && s.frames < SECOND_START;
  ReadPlayObjects(s);
  static std::map<int, int> last;
  for (int field : {STATUS_GAUGE, STATUS_SHOT_TYPE, STATUS_ITEM_COUNT, STATUS_OPTION_COUNT, STATUS_ITEM_COUNT_2}) {
    const int value = StatusInstance.GetStatusField(1, field);
    if (s.frames <= FIRST_PLAY) last[field] = value;
    if (value != last[field]) s.changes[field].push_back({s.frames, last[field], value});
    last[field] = value;
  }

  int bossHp = StatusInstance.GetStatusField(1, STATUS_BOSS_HP);
  if (bossHp > s.maxBossHp) s.maxBossHp = bossHp;
  if (firstGame && s.maxBossHp > 0 && bossHp <= 0 && s.bossDownFrame == 0) s.bossDownFrame = s.frames;
  if (drawnText[2] > 0 && s.frameCount["stage clear"] == 1) {
    s.bossHpAtClear = bossHp;
    s.scoreBeforeClear = StatusInstance.GetScore(1);
  }
  int lives = StatusInstance.GetStatusField(1, STATUS_LIVES);
  if (drawnText[2] > 0 && s.frameCount["stage clear"] == 1) s.livesAtClear = lives;
  s.highScore = StatusInstance.GetStatusField(1, STATUS_HIGH_SCORE);
  if (getenv("PLAYTHROUGH_TRACE") != nullptr && s.frames % 100 == 0) {
    int x = 0, y = 0;
    if (PlayerMessengerPtr != nullptr) PlayerMessengerPtr->GetPlayerPos(1, &x, &y);
    printf("frame %d move %d lives %d boss %d score %d mp %d player %d,%d\n", s.frames, s.move.back(), lives, bossHp,
           StatusInstance.GetScore(1), StatusInstance.GetStatusField(1, STATUS_GAUGE), x, y);
  }

  ClearCalls();
  SetPadState(PadAt(s.frames + 1) | ChaseMagic(s));
  FakeSleep(milliseconds);
}

// The screen task as the entry function makes it, kept for reading.
CTask* CreateWatchedScreen() {
  CTask* task = ScreenTaskEntry.Create();
  Screen = static_cast<CScreenTask*>(task);
  return task;
}

bool WatchedQuitRequested(CTask* screen) { return ScreenTaskEntry.IsQuitRequested(screen); }

const ScreenTaskLink WatchedScreenTask = {CreateWatchedScreen, WatchedQuitRequested};

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
    s.result = GameMain(WatchedScreenTask);
    Current = nullptr;
    Screen = nullptr;
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
  EXPECT_GT(At(s.callCount, Call("PlaySoundHandle", SOUND_SHOT, ",1,1")), 100);
  EXPECT_GT(At(s.callCount, Call("PlaySoundHandle", SOUND_ENEMY_HURT, ",1,1")), 50);
  EXPECT_GE(At(s.callCount, Call("PlaySoundHandle", SOUND_KILL, ",1,1")), 7);
  EXPECT_EQ(400000, s.maxBossHp);
  EXPECT_EQ(2, At(s.callCount, Call("PlaySoundHandle", MUSIC_STAGE_HANDLE, ",3,1")));
  EXPECT_EQ(1, At(s.callCount, Call("PlaySoundHandle", MUSIC_BOSS_HANDLE, ",3,1")));

  // STAGE CLEAR once the boss is down and its time has come, shown 181
  // frames, then the title with the high score kept.
  EXPECT_EQ(181, At(s.frameCount, "stage clear"));
  ASSERT_GT(s.bossDownFrame, 0);
  EXPECT_GT(s.move[s.bossDownFrame - 1], BOSS_FLAG_MOVE);
  EXPECT_EQ(s.bossDownFrame + 2, At(s.firstFrame, "stage clear"));
  EXPECT_LE(s.bossHpAtClear, 0);
  // The boss alone is worth 30000 * lives / 5; the score still rises while
  // STAGE CLEAR shows, and the title keeps the high score.
  EXPECT_GT(s.scoreBeforeClear, 30000 * s.livesAtClear / 5);
  EXPECT_GE(s.highScore, s.scoreBeforeClear);
  EXPECT_LT(At(s.firstFrame, "stage clear") + 181, SECOND_START);
  EXPECT_GE(s.livesAtClear, 1);

  // The second game: GAME OVER shown 181 frames, back to the title.
  EXPECT_EQ(181, At(s.frameCount, "game over"));
  EXPECT_GT(At(s.firstFrame, "game over"), SECOND_MOVE0);
  EXPECT_GE(At(s.callCount, Call("PlaySoundHandle", SOUND_PLAYER_HURT, ",1,1")), 5);
  EXPECT_GT(At(s.frameCount, "title"), 3);
}

// Every enemy kind enters at its scheduled move, the boss near the end of
// the stage after the boss music.
TEST_F(PlaythroughTest, EveryEnemyKindEntersOnTime) {
  const Session& s = FirstSession();
  for (int kind = 0; kind < ENEMY_KIND_COUNT; ++kind) EXPECT_EQ(SPAWN_MOVE[kind], s.enemyFirstMove[kind]) << kind;
  const std::vector<int>& bossMusic = s.framesOf.at(Call("PlaySoundHandle", MUSIC_BOSS_HANDLE, ",3,1"));
  ASSERT_EQ(1u, bossMusic.size());
  // The scene sees the counter before the frame advances it.
  EXPECT_EQ(BOSS_MUSIC_MOVE + 1, s.move[bossMusic[0] - 1]);
  // The stage music stops for it in the same frame.
  const std::vector<int>& stops = s.framesOf.at(Call("StopSoundHandle", MUSIC_STAGE_HANDLE));
  EXPECT_EQ(1, std::count(stops.begin(), stops.end(), bossMusic[0]));
}

// The pause menu stops the stage music and holds the move counter; leaving
// it resumes the music where it was (not from the top).
TEST_F(PlaythroughTest, PauseStopsAndResumesTheMusic) {
  const Session& s = FirstSession();
  const std::vector<int> stops = s.framesOf.count(Call("StopSoundHandle", MUSIC_STAGE_HANDLE))
                                     ? s.framesOf.at(Call("StopSoundHandle", MUSIC_STAGE_HANDLE))
                                     : std::vector<int>();
  EXPECT_EQ(1, std::count(stops.begin(), stops.end(), PAUSE_AT));
  EXPECT_EQ((std::vector<int>{RESUME_AT}), s.framesOf.at(Call("PlaySoundHandle", MUSIC_STAGE_HANDLE, ",3,0")));
  const int held = s.move[PAUSE_AT - 2];
  EXPECT_EQ(PAUSE_AT - 1 - FIRST_MOVE0, held);
  for (int frame = PAUSE_AT; frame < RESUME_AT; ++frame) EXPECT_EQ(held, s.move[frame - 1]) << frame;
  EXPECT_EQ(held + 1, s.move[RESUME_AT - 1]);
}

// The debug key shows the move counter from the frame it is pressed until
// it is pressed again.
TEST_F(PlaythroughTest, DebugKeyTogglesTheMoveCounterLine) {
  const Session& s = FirstSession();
  for (int frame = FIRST_MOVE0; frame < DEBUG_OFF + 10; ++frame) {
    // The line is queued in the frame's draw, with the counter of that frame.
    const std::string expected = frame >= DEBUG_ON && frame < DEBUG_OFF
                                     ? "move_cnt:" + std::to_string(s.move[frame - 1])
                                     : "";
    EXPECT_EQ(expected, s.debugText[frame - 1]) << frame;
  }
}

// The special takes its magic points at once and stays out for its life.
TEST_F(PlaythroughTest, SpecialTakesItsPointsAndStaysOut) {
  const Session& s = FirstSession();
  const std::vector<Change> gauge = ChangesOf(s, STATUS_GAUGE);
  bool found = false;
  for (const Change& c : gauge)
    if (c.frame == SPECIAL_AT) {
      found = true;
      EXPECT_EQ(c.from - PLAYER_MP_COST, c.to);
    }
  EXPECT_TRUE(found);
  ASSERT_FALSE(s.specialFrames.empty());
  EXPECT_EQ(SPECIAL_AT, s.specialFrames.front());
  EXPECT_EQ(static_cast<size_t>(PLAYER_SPECIAL_LIFE + 1), s.specialFrames.size());
  EXPECT_EQ(SPECIAL_AT + PLAYER_SPECIAL_LIFE, s.specialFrames.back());
}

// Every item kind drops and is picked up, each pick-up with its sound and
// its own effect: points and gauge, an option, the second counter, the shot
// type.
TEST_F(PlaythroughTest, EveryItemKindIsPickedUp) {
  const Session& s = FirstSession();
  for (int kind = 0; kind < 4; ++kind) EXPECT_GT(s.itemFirstFrame[kind], FIRST_MOVE0) << kind;
  // The first game's changes and pick-ups, up to the title that resets them.
  ASSERT_GT(s.firstGameEnd, 0);
  auto firstGame = [&](const std::vector<Change>& all) {
    std::vector<Change> out;
    for (const Change& c : all)
      if (c.frame < s.firstGameEnd) out.push_back(c);
    return out;
  };
  std::vector<int> pickUps;
  for (int frame : s.framesOf.at(Call("PlaySoundHandle", SOUND_PICK_UP, ",1,1")))
    if (frame < s.firstGameEnd) pickUps.push_back(frame);

  const std::vector<Change> items = firstGame(ChangesOf(s, STATUS_ITEM_COUNT));
  ASSERT_GE(items.size(), 1u);
  for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ((Change{items[i].frame, int(i), int(i) + 1}), items[i]);
  const std::vector<Change> options = firstGame(ChangesOf(s, STATUS_OPTION_COUNT));
  ASSERT_EQ(1u, options.size());
  EXPECT_EQ((Change{options[0].frame, 0, 1}), options[0]);
  const std::vector<Change> seeds = firstGame(ChangesOf(s, STATUS_ITEM_COUNT_2));
  ASSERT_EQ(1u, seeds.size());
  EXPECT_EQ((Change{seeds[0].frame, 0, 1}), seeds[0]);
  const std::vector<Change> shot = firstGame(ChangesOf(s, STATUS_SHOT_TYPE));
  ASSERT_EQ(1u, shot.size());
  EXPECT_EQ(0, shot[0].from);
  EXPECT_NE(0, shot[0].to);

  // One pick-up sound in each frame a field rose, and no other.
  std::vector<int> rises;
  for (const std::vector<Change>* changes : {&items, &options, &seeds, &shot})
    for (const Change& c : *changes) rises.push_back(c.frame);
  std::sort(rises.begin(), rises.end());
  EXPECT_EQ(rises, pickUps);

  // The option follows the player at its one-option place.
  EXPECT_EQ(1, s.optionsSeen);
  int dx = 0, dy = 0;
  OptionOffset(1, 1, &dx, &dy);
  EXPECT_EQ(dx, s.optionOffsetX);
  EXPECT_EQ(dy, s.optionOffsetY);
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
