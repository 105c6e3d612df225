// The player: set-up and queries, steering and lean, volleys, laser and
// special, hits and invincibility, options, the special and drawing.
#include <math.h>

#include <algorithm>

#include "BulletPtn.h"
#include "PlayFixture.h"
#include "Player.h"

using namespace ridov_double;
using namespace messenger_doubles;

namespace {


enum { UP_KEY = 0, LEFT_KEY = 1, DOWN_KEY = 2, RIGHT_KEY = 3, FIRE_KEY = 4, LASER_KEY = 5, SPECIAL_KEY = 6 };

class PlayerTest : public PlayTest {
 protected:
  void SetUp() override {
    PlayTest::SetUp();
    faces = {&ctl, &patterns, nullptr, &enemies, nullptr};
    PlayerMessengerPtr = &ctl;
    ctl.SetUp(faces);
    main = static_cast<CPlayer*>(ctl.Head);
  }
  void TearDown() override {
    ctl.Destroy();
    PlayTest::TearDown();
  }

  // One frame of the controller; the held keys' counters then advance.
  void Frame() {
    ctl.Update();
    for (auto& slot : KeyTaskInstance.Keys)
      if (slot.Counter > 0) ++slot.Counter;
  }
  int Mp() const { return StatusInstance.GetStatusField(1, STATUS_GAUGE); }
  int CountKind(int kind) const {
    int n = 0;
    for (CBaseChar* c = ctl.Head; c != nullptr; c = c->Next) n += c->KindWord == kind;
    return n;
  }
  CPlayer* Last() const { return static_cast<CPlayer*>(ctl.Tail); }

  FakeBulletPtnMessenger patterns;
  FakeEnemyMessenger enemies;
  MessengerSet faces;
  CPlayerCtl ctl{nullptr};
  CPlayer* main = nullptr;
};

// ------------------------------------------------------------ set-up, queries

TEST_F(PlayerTest, SetUpMakesTheMainPlayer) {
  ASSERT_NE(nullptr, main);
  EXPECT_EQ(main, ctl.Tail);
  EXPECT_EQ(CHAR_KIND_PLAYER, main->KindWord);
  EXPECT_EQ(1, main->PlayerId);
  EXPECT_EQ(5, main->HitPoints);
  EXPECT_EQ(5, StatusInstance.GetStatusField(1, STATUS_LIVES));
  EXPECT_EQ(480000, main->X);
  EXPECT_EQ(670000, main->Y);
  EXPECT_EQ(10, main->Radius);
  EXPECT_EQ(4500, main->Speed);
  EXPECT_EQ(55, main->ImageWidth);
  EXPECT_EQ(80, main->ImageHeight);
  EXPECT_EQ(1000, main->Attack);
  EXPECT_EQ(-1, main->PatternId);
  EXPECT_EQ(CHAR_SHAPE_CIRCLE, main->Shape);
  for (int t = 0; t < PLAYER_TILE_COUNT; ++t) EXPECT_EQ(Tile(0, t), main->Tiles[t]);
  EXPECT_EQ(&patterns, ctl.Faces.BulletPtn);
}

TEST_F(PlayerTest, QueriesAnswerForTheMatchingObjectOnly) {
  main->X = 123456;
  main->Y = -7890;
  int x = 0, y = 0;
  ctl.GetPlayerPos(1, &x, &y);
  EXPECT_EQ(123, x);
  EXPECT_EQ(-7, y);
  ctl.GetPlayerPosRaw(1, &x, &y);
  EXPECT_EQ(123456, x);
  EXPECT_EQ(-7890, y);
  double fx = 0, fy = 0;
  ctl.GetPlayerPosF(1, &fx, &fy);
  EXPECT_DOUBLE_EQ(123.456, fx);
  EXPECT_DOUBLE_EQ(-7.89, fy);

  x = y = 42;
  ctl.GetPlayerPos(2, &x, &y);
  ctl.GetSpecialPosRaw(1, &x, &y);
  EXPECT_EQ(42, x) << "no match leaves the outputs";
  EXPECT_EQ(42, y);
  ctl.GetPlayerPos(1, &x, nullptr);
  EXPECT_EQ(42, x) << "both pointers needed";
  int count = 9;
  ctl.GetLiveShotCount(2, &count);
  EXPECT_EQ(9, count);
  ctl.SetLiveShotCount(1, 4);
  ctl.GetLiveShotCount(1, &count);
  EXPECT_EQ(4, count);
  EXPECT_FALSE(ctl.HasSpecial(1));
}

// ------------------------------------------------------------ steering

struct SteerCase {
  const char* name;
  int up, left, down, right;
  bool moves;
  double angle;
  int lean;
};

const SteerCase STEER_CASES[] = {
    {"nothing held", 0, 0, 0, 0, false, 0, 0},
    {"up", 1, 0, 0, 0, true, 4.7123889803847, 0},
    {"left", 0, 3, 0, 0, true, 3.1415926535898, -1},
    {"down", 0, 0, 9, 0, true, 1.5707963267949, 0},
    {"right", 0, 0, 0, 2, true, 0, 1},
    {"right pressed after left", 0, 5, 0, 3, true, 0, 1},
    {"left pressed after right", 0, 2, 0, 7, true, 3.1415926535898, -1},
    {"left and right in the same frame", 0, 4, 0, 4, true, 3.1415926535898, -1},
    {"up and left", 3, 1, 0, 0, true, 3.92699081698725, -1},
    {"up and right", 1, 0, 0, 3, true, 5.49778714378215, 1},
    {"down and left", 0, 2, 1, 0, true, 2.35619449019235, -1},
    {"down and right", 0, 0, 1, 2, true, 0.78539816339745, 1},
    {"up, left, down: up-left whatever the order", 9, 5, 1, 0, true, 3.92699081698725, -1},
    {"up, left, down pressed the other way", 1, 5, 9, 0, true, 3.92699081698725, -1},
    {"up and down: the later wins", 4, 0, 2, 0, true, 1.5707963267949, 0},
    {"up and down in the same frame: up", 4, 0, 4, 0, true, 4.7123889803847, 0},
    {"up, left, right: up-left, lean to the later", 5, 6, 0, 2, true, 3.92699081698725, 1},
};

TEST(PlayerSteer, DirectionAngleAndLeanFromTheKeys) {
  for (const SteerCase& c : STEER_CASES) {
    int counters[4] = {c.up, c.left, c.down, c.right};
    PlayerSteer s = SteerFromKeys(counters);
    EXPECT_EQ(c.moves, s.Moves) << c.name;
    if (c.moves) {
      EXPECT_DOUBLE_EQ(c.angle, s.Angle) << c.name;
    }
    EXPECT_EQ(c.lean, s.Lean) << c.name;
  }
}

TEST_F(PlayerTest, MovesFourAndAHalfPixelsAFrameInEveryDirection) {
  Key(UP_KEY, 1);
  Key(RIGHT_KEY, 1);
  ctl.Update();
  EXPECT_DOUBLE_EQ(5.49778714378215, main->Angle);
  EXPECT_EQ(static_cast<int>(cos(5.49778714378215) * 4500 + 480000), main->X);
  EXPECT_EQ(static_cast<int>(sin(5.49778714378215) * 4500 + 670000), main->Y);
  double moved = hypot(main->X - 480000, main->Y - 670000);
  EXPECT_NEAR(4500, moved, 2);
}

TEST_F(PlayerTest, InputLockStopsEverything) {
  KeyTaskInstance.InputLock = true;
  Key(LEFT_KEY, 1);
  Key(FIRE_KEY, 1);
  Key(LASER_KEY, 1);
  ctl.Update();
  EXPECT_EQ(480000, main->X);
  EXPECT_EQ(0, main->Work[PLAYER_WORK_FIRE_TIMER]);
  EXPECT_EQ(0, main->Work[PLAYER_WORK_TILT]);
  EXPECT_TRUE(patterns.Requests.empty());
}

struct ClampCase {
  const char* name;
  int key;
  bool horizontal;
  int bound;
};

TEST_F(PlayerTest, ClampBounds) {
  const ClampCase cases[] = {
      {"left", LEFT_KEY, true, 237000},
      {"right", RIGHT_KEY, true, 723000},
      {"up", UP_KEY, false, 40000},
      {"down", DOWN_KEY, false, 680000},
  };
  for (const ClampCase& c : cases) {
    main->X = 480000;
    main->Y = 670000;
    memset(KeyTaskInstance.Keys, 0, sizeof KeyTaskInstance.Keys);
    Key(c.key, 1);
    for (int i = 0; i < 200; ++i) Frame();
    EXPECT_EQ(c.bound, c.horizontal ? main->X : main->Y) << c.name;
  }
  // Clamped even without a move.
  memset(KeyTaskInstance.Keys, 0, sizeof KeyTaskInstance.Keys);
  main->X = 100000;
  main->Y = 900000;
  Frame();
  EXPECT_EQ(237000, main->X);
  EXPECT_EQ(680000, main->Y);
}

// ------------------------------------------------------------ lean and tiles

struct LeanStep {
  int lean;  // -1 left held, 1 right held, 0 none
  int tilt;
  int tile;
};

TEST_F(PlayerTest, LeanTable) {
  std::vector<LeanStep> steps;
  for (int t = 1; t <= 5; ++t) steps.push_back({-1, -t, 13});
  for (int t = 6; t <= 11; ++t) steps.push_back({-1, -t, 12});
  steps.push_back({-1, -12, -1});  // the left loop: checked below
  steps.push_back({-1, -12, -1});
  for (int t = 11; t >= 6; --t) steps.push_back({0, -t, 12});
  for (int t = 5; t >= 0; --t) steps.push_back({0, -t, 13});  // 0 just reached: tile 13
  steps.push_back({0, 0, -2});                                // idle loop
  for (int t = 1; t <= 5; ++t) steps.push_back({1, t, 14});
  for (int t = 6; t <= 11; ++t) steps.push_back({1, t, 15});
  steps.push_back({1, 12, -3});  // the right loop
  steps.push_back({-1, 11, 15});
  for (int t = 10; t >= 6; --t) steps.push_back({0, t, 15});
  for (int t = 5; t >= 0; --t) steps.push_back({0, t, 14});

  int i = 0;
  for (const LeanStep& s : steps) {
    Key(LEFT_KEY, s.lean < 0 ? 1 : 0);
    Key(RIGHT_KEY, s.lean > 0 ? 1 : 0);
    main->X = 480000;  // keep clear of the walls
    int frame = main->FrameCount;
    ctl.Update();
    EXPECT_EQ(s.tilt, main->Work[PLAYER_WORK_TILT]) << "step " << i;
    int tile = s.tile;
    if (tile == -1) tile = 4 + (frame / 8) % 4;
    if (tile == -2) tile = (frame / 8) % 4;
    if (tile == -3) tile = 8 + (frame / 8) % 4;
    EXPECT_EQ(Tile(0, tile), main->Graph[0]) << "step " << i;
    ++i;
  }
}

TEST_F(PlayerTest, ALeanThatReachesZeroKeepsTheTile) {
  main->Work[PLAYER_WORK_TILT] = 1;
  main->ShowTile(15);
  Key(LEFT_KEY, 1);
  ctl.Update();
  EXPECT_EQ(0, main->Work[PLAYER_WORK_TILT]);
  EXPECT_EQ(Tile(0, 15), main->Graph[0]);
}

// ------------------------------------------------------------ volleys

TEST_F(PlayerTest, VolleysAtOneSixAndElevenOfEveryCycle) {
  Key(FIRE_KEY, 1);
  std::vector<int> volleyFrames, timers;
  for (int frame = 1; frame <= 60; ++frame) {
    size_t before = patterns.Requests.size();
    Frame();
    timers.push_back(main->Work[PLAYER_WORK_FIRE_TIMER]);
    if (patterns.Requests.size() > before) volleyFrames.push_back(frame);
  }
  EXPECT_EQ(std::vector<int>({1, 6, 11, 30, 35, 40, 59}), volleyFrames);
  EXPECT_EQ(29, timers[28]);
  EXPECT_EQ(1, timers[29]) << "the timer returns from 29 to 1";
  const PatternRequest& r = patterns.Requests[0];
  EXPECT_EQ(PTN_PLAYER, r.Kind);
  EXPECT_EQ(1, r.OwnerId);
  EXPECT_EQ(480, r.X);
  EXPECT_EQ(696, r.Y) << "a third of the height below the centre";
  EXPECT_EQ(0, r.P1);
  EXPECT_EQ(0, r.P2);
  EXPECT_EQ(7, main->LiveShotCount);
  std::vector<std::string> sounds = CallsOf("PlaySoundHandle");
  EXPECT_EQ(7, std::count(sounds.begin(), sounds.end(), SoundCall(SOUND_PLAYER_SHOT)));
}

TEST_F(PlayerTest, AVolleyWaitsUntilThePreviousPatternIsGone) {
  patterns.AliveAfterCreation = true;
  Key(FIRE_KEY, 1);
  for (int frame = 1; frame <= 8; ++frame) Frame();
  EXPECT_EQ(1u, patterns.Requests.size()) << "timer 6 passed while the first volley ran";
  EXPECT_EQ(0, main->PatternId);
  patterns.Alive.clear();  // the first volley's pattern ends
  Frame();                 // frame 9: the id is forgotten
  EXPECT_EQ(-1, main->PatternId);
  Frame();
  Frame();  // frame 11
  ASSERT_EQ(2u, patterns.Requests.size());
  EXPECT_EQ(1, main->PatternId);
}

TEST_F(PlayerTest, ShotLevelsOneAndTwo) {
  StatusInstance.SetStatusField(1, STATUS_SHOT_TYPE, 1);
  enemies.Nearest = 4;
  Key(FIRE_KEY, 1);
  std::vector<int> frames;
  for (int frame = 1; frame <= 40; ++frame) {
    size_t before = patterns.Requests.size();
    Frame();
    if (patterns.Requests.size() > before) frames.push_back(frame);
  }
  EXPECT_EQ(std::vector<int>({1, 7, 13, 36}), frames) << "timers 1, 7, 13 of a 35-frame cycle";
  EXPECT_EQ(PTN_PLAYER_HOMING, patterns.Requests[0].Kind);
  EXPECT_EQ(4, patterns.Requests[0].P2) << "the nearest enemy";
  ASSERT_FALSE(enemies.NearestQueries.empty());
  EXPECT_EQ(std::make_pair(480, 696), enemies.NearestQueries[0]);

  StatusInstance.SetStatusField(1, STATUS_SHOT_TYPE, 2);
  for (int i = 0; i < 6; ++i) Frame();  // through timer 7
  EXPECT_EQ(PTN_PLAYER_BIG, patterns.Requests.back().Kind);

  StatusInstance.SetStatusField(1, STATUS_SHOT_TYPE, 5);
  size_t before = patterns.Requests.size();
  for (int i = 0; i < 50; ++i) Frame();
  EXPECT_EQ(before, patterns.Requests.size()) << "an unknown level fires nothing";
}

// ------------------------------------------------------------ laser, special

TEST_F(PlayerTest, LaserAndSpecialBoughtInOneFrameWithTwentyThousandMp) {
  ASSERT_EQ(20000, Mp());
  patterns.AliveAfterCreation = true;
  Key(LASER_KEY, 1);
  Key(SPECIAL_KEY, 1);
  ctl.Update();
  EXPECT_EQ(0, Mp());
  EXPECT_EQ(std::vector<int>({PTN_PLAYER_LAZER}), patterns.Kinds());
  EXPECT_EQ(480, patterns.Requests[0].X);
  EXPECT_EQ(696, patterns.Requests[0].Y);
  EXPECT_EQ(0, main->PatternId);
  EXPECT_EQ(1, main->Work[PLAYER_WORK_LASER_TIMER]);
  EXPECT_EQ(1, CountKind(CHAR_KIND_SPECIAL));
  EXPECT_TRUE(ctl.HasSpecial(1));
}

TEST_F(PlayerTest, WithTenThousandMpOnlyTheLaserIsBought) {
  StatusInstance.SetStatusField(1, STATUS_GAUGE, 19999);
  Key(LASER_KEY, 1);
  Key(SPECIAL_KEY, 1);
  ctl.Update();
  EXPECT_EQ(9999, Mp());
  EXPECT_EQ(0, CountKind(CHAR_KIND_SPECIAL));
}

TEST_F(PlayerTest, LaserRunsThreeHundredFramesAndBlocksRegularFire) {
  StatusInstance.SetStatusField(1, STATUS_GAUGE, 30000);
  patterns.AliveAfterCreation = true;
  Key(FIRE_KEY, 1);
  Frame();  // a volley
  ASSERT_EQ(1u, patterns.Requests.size());
  ASSERT_EQ(0, main->PatternId);
  KeyTaskInstance.Keys[LASER_KEY].Counter = 1;
  Frame();
  EXPECT_EQ(std::vector<int>({0}), patterns.Killed) << "the running volley is ended";
  EXPECT_EQ(20000, Mp());
  EXPECT_EQ(1, main->PatternId);
  for (int frame = 2; frame <= 300; ++frame) {
    if (frame == 50) KeyTaskInstance.Keys[LASER_KEY].Counter = 1;  // pressed again
    Frame();
    EXPECT_EQ(0, main->Work[PLAYER_WORK_FIRE_TIMER]) << frame;
  }
  EXPECT_EQ(300, main->Work[PLAYER_WORK_LASER_TIMER]);
  EXPECT_EQ(20000, Mp()) << "paid once";
  EXPECT_EQ(2u, patterns.Requests.size());
  Frame();
  EXPECT_EQ(0, main->Work[PLAYER_WORK_LASER_TIMER]);
  patterns.Alive.clear();
  Frame();
  Frame();
  EXPECT_GT(main->Work[PLAYER_WORK_FIRE_TIMER], 0) << "regular fire resumes";
}

TEST_F(PlayerTest, KeysMustBeFreshPressesForLaserAndSpecial) {
  Key(LASER_KEY, 2);
  Key(SPECIAL_KEY, 2);
  ctl.Update();
  EXPECT_EQ(20000, Mp());
  EXPECT_TRUE(patterns.Requests.empty());
}

TEST_F(PlayerTest, TheSpecialRisesAndEndsInAFlash) {
  ctl.StartSpecial(1);
  ctl.StartSpecial(1);
  ASSERT_EQ(1, CountKind(CHAR_KIND_SPECIAL)) << "one special at a time";
  CPlayer* special = Last();
  EXPECT_EQ(480000, special->X);
  EXPECT_EQ(670000, special->Y);
  EXPECT_EQ(300, special->Speed);
  EXPECT_EQ(17, special->Radius);
  EXPECT_EQ(Tile(132, 0), special->Tiles[0]);
  int spx = 0, spy = 0;
  ctl.GetSpecialPosRaw(1, &spx, &spy);
  EXPECT_EQ(480000, spx);

  ctl.Update();
  EXPECT_NEAR(664700, special->Y, 1) << "5.3 px up on its first frame";
  EXPECT_EQ(300, special->Work[PLAYER_WORK_SPECIAL_LIFE]);
  EXPECT_EQ(480000, special->X);
  special->AbsorbedCount = 12;
  for (int i = 2; i <= 300; ++i) ctl.Update();
  EXPECT_FALSE(special->Dead);
  EXPECT_TRUE(patterns.Requests.empty());
  ctl.Update();  // its 301st update
  EXPECT_TRUE(special->Dead);
  ASSERT_EQ(1u, patterns.Requests.size());
  EXPECT_EQ(PTN_QUINSEL_FLASH, patterns.Requests[0].Kind);
  EXPECT_EQ(1, patterns.Requests[0].OwnerId);
  EXPECT_EQ(12, patterns.Requests[0].P1);
  ctl.Update();
  EXPECT_FALSE(ctl.HasSpecial(1));
}

TEST_F(PlayerTest, SpecialSpeedRampsDownOverSixtyFrames) {
  ctl.StartSpecial(1);
  CPlayer* special = Last();
  for (int i = 0; i < 60; ++i) ctl.Update();
  int y60 = special->Y;
  ctl.Update();
  EXPECT_NEAR(300, y60 - special->Y, 1);
}

// ------------------------------------------------------------ hits

TEST_F(PlayerTest, AHitWithTwoLivesLeft) {
  main->HitPoints = 2;
  StatusInstance.SetStatusField(1, STATUS_LIVES, 2);
  FakeCharMessenger bullets;
  bullets.Damage = 1;
  ClearCalls();
  ctl.TakeHitsFrom(&bullets);
  ASSERT_EQ(1u, bullets.Queries.size());
  const HitQuery& q = bullets.Queries[0];
  EXPECT_EQ(CHAR_KIND_PLAYER, q.Kind);
  EXPECT_EQ(CHAR_SHAPE_CIRCLE, q.Shape);
  EXPECT_EQ(480, q.X);
  EXPECT_EQ(670, q.Y);
  EXPECT_EQ(10, q.Radius);
  EXPECT_FALSE(q.HasBox);
  EXPECT_TRUE(q.HasFirst);
  EXPECT_FALSE(q.HasSecond);
  EXPECT_EQ(1, main->HitPoints);
  EXPECT_EQ(1, StatusInstance.GetStatusField(1, STATUS_LIVES));
  EXPECT_EQ(std::vector<std::string>({SoundCall(SOUND_PLAYER_HIT), SoundCall(SOUND_PLAYER_ALARM)}),
            CallsOf("PlaySoundHandle"));
  EXPECT_EQ(180, main->InvincibleFrames);
  EXPECT_FALSE(main->Dead);

  // Invincibility counts down once per pass and asks nothing meanwhile.
  ctl.TakeHitsFrom(&bullets);
  ctl.TakeHitsFrom(&bullets);
  EXPECT_EQ(178, main->InvincibleFrames);
  EXPECT_EQ(1u, bullets.Queries.size());
}

TEST_F(PlayerTest, InvinciblePlayerBlinksWithTheGlow) {
  main->InvincibleFrames = 180;
  std::vector<int> glowFrames;
  for (int frame = 0; frame < 15; ++frame) {
    main->FrameCount = frame;
    memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);
    ctl.Draw();
    ASSERT_EQ(1, DrawQueueLayerIndex[6]);
    if (DrawQueue[6][0].Kind == DRAW_GLOW) {
      glowFrames.push_back(frame);
    } else {
      EXPECT_EQ(DRAW_IMAGE, DrawQueue[6][0].Kind);
    }
  }
  EXPECT_EQ(std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7}), glowFrames);
}

TEST_F(PlayerTest, TheLastLifeLostEndsThePlayer) {
  main->HitPoints = 1;
  FakeCharMessenger bullets;
  bullets.Damage = 1;
  ClearCalls();
  ctl.TakeHitsFrom(&bullets);
  EXPECT_TRUE(main->Dead);
  EXPECT_EQ(0, StatusInstance.GetStatusField(1, STATUS_LIVES));
  EXPECT_EQ(std::vector<std::string>({SoundCall(SOUND_PLAYER_HIT)}), CallsOf("PlaySoundHandle"));
  EXPECT_EQ(0, main->InvincibleFrames);
  ctl.TakeHitsFrom(&bullets);
  EXPECT_EQ(0, main->HitPoints) << "a dead player takes no further hit";
  ctl.Update();
  EXPECT_EQ(nullptr, ctl.Head);
  int x = -3, y = -3;
  ctl.GetPlayerPos(1, &x, &y);
  EXPECT_EQ(-3, x);
}

TEST_F(PlayerTest, HitsWithThreeLivesPlayNoAlarm) {
  main->HitPoints = 3;
  FakeCharMessenger bullets;
  bullets.Damage = 1;
  ClearCalls();
  ctl.TakeHitsFrom(&bullets);
  EXPECT_EQ(2, main->HitPoints);
  EXPECT_EQ(1, CountOf("PlaySoundHandle"));
}

TEST_F(PlayerTest, TheSpecialCountsAbsorbedBulletsAndOptionsTakeNothing) {
  StatusInstance.SetStatusField(1, STATUS_OPTION_COUNT, 1);
  ctl.AddOption(1);
  ctl.StartSpecial(1);
  CPlayer* special = Last();
  main->InvincibleFrames = 5;
  FakeCharMessenger bullets;
  bullets.Damage = 1;
  ctl.TakeHitsFrom(&bullets);
  EXPECT_EQ(1, special->AbsorbedCount);
  EXPECT_EQ(5, main->HitPoints);
  ASSERT_EQ(2u, bullets.Queries.size()) << "the option and the special asked";
  EXPECT_EQ(CHAR_KIND_OPTION, bullets.Queries[0].Kind);
  EXPECT_EQ(CHAR_KIND_SPECIAL, bullets.Queries[1].Kind);
  special->AbsorbedCount = 250;
  ctl.TakeHitsFrom(&bullets);
  EXPECT_EQ(250, special->AbsorbedCount);
}

TEST_F(PlayerTest, ItemQueriesHitThePlayersCircles) {
  int record = 0;
  EXPECT_EQ(1000, ctl.CheckHit(7, CHAR_SHAPE_CIRCLE, 500, 670, 17, nullptr, nullptr, &record));
  EXPECT_EQ(1, record);
  EXPECT_EQ(0, ctl.CheckHit(7, CHAR_SHAPE_CIRCLE, 507, 670, 17, nullptr, nullptr, &record))
      << "27 px apart: not closer than the summed radii";
  const double box[8] = {470, 660, 490, 660, 490, 680, 470, 680};
  EXPECT_EQ(0, ctl.CheckHit(7, CHAR_SHAPE_BOX, 480, 670, 0, box, nullptr, &record)) << "a box querier never hits";
  EXPECT_EQ(1000, ctl.CheckHit(7, CHAR_SHAPE_CIRCLE, 480, 670, 17, nullptr, nullptr, nullptr));
}

// ------------------------------------------------------------ options

TEST(PlayerOptions, FormationTable) {
  const int expected[4][4][2] = {
      {{0, 50}, {0, 50}, {0, 50}, {0, 50}},
      {{-40, 30}, {40, 30}, {0, 0}, {0, 0}},
      {{-45, 40}, {0, 50}, {45, 40}, {0, 0}},
      {{-85, 50}, {-40, 30}, {40, 30}, {85, 50}},
  };
  for (int count = 1; count <= 4; ++count)
    for (int index = 1; index <= 4; ++index) {
      int dx = 9, dy = 9;
      OptionOffset(count, index, &dx, &dy);
      EXPECT_EQ(expected[count - 1][index - 1][0], dx) << count << "/" << index;
      EXPECT_EQ(expected[count - 1][index - 1][1], dy) << count << "/" << index;
    }
  int dx = 9, dy = 9;
  OptionOffset(5, 1, &dx, &dy);
  EXPECT_EQ(0, dx);
  EXPECT_EQ(0, dy);
  OptionOffset(0, 1, &dx, &dy);
  EXPECT_EQ(0, dy);
}

TEST_F(PlayerTest, OptionsTakeTheirPlaceInTheFormation) {
  StatusInstance.SetStatusField(1, STATUS_OPTION_COUNT, 1);
  ctl.AddOption(1);
  CPlayer* first = Last();
  EXPECT_EQ(CHAR_KIND_OPTION, first->KindWord);
  EXPECT_EQ(1, first->OptionIndex);
  EXPECT_EQ(480000, first->X);
  EXPECT_EQ(670000, first->Y);
  EXPECT_EQ(12000, first->Speed);
  EXPECT_EQ(40, first->ImageWidth);
  StatusInstance.SetStatusField(1, STATUS_OPTION_COUNT, 2);
  ctl.AddOption(1);
  CPlayer* second = Last();
  EXPECT_EQ(2, second->OptionIndex);

  ctl.Update();  // targets (440, 700) and (520, 700): 50 px away, 12 px a frame
  double a = atan2(30.0, -40.0);
  EXPECT_EQ(static_cast<int>((480 + cos(a) * 12) * 1000), first->X);
  EXPECT_EQ(static_cast<int>((670 + sin(a) * 12) * 1000), first->Y);
  for (int i = 0; i < 5; ++i) ctl.Update();
  EXPECT_EQ(440000, first->X) << "within a step it jumps onto its place";
  EXPECT_EQ(700000, first->Y);
  EXPECT_EQ(520000, second->X);
  EXPECT_EQ(Tile(132, 0), first->Graph[0]);
}

TEST_F(PlayerTest, AFifthOptionIsNeverMade) {
  StatusInstance.SetStatusField(1, STATUS_OPTION_COUNT, 5);
  ctl.AddOption(1);
  EXPECT_EQ(0, CountKind(CHAR_KIND_OPTION));
  StatusInstance.SetStatusField(1, STATUS_OPTION_COUNT, 4);
  ctl.AddOption(1);
  EXPECT_EQ(1, CountKind(CHAR_KIND_OPTION));
}

TEST_F(PlayerTest, NothingIsMadeForAnEmptyList) {
  main->Dead = true;
  ctl.Update();
  ASSERT_EQ(nullptr, ctl.Head);
  StatusInstance.SetStatusField(1, STATUS_OPTION_COUNT, 1);
  ctl.AddOption(1);
  ctl.StartSpecial(1);
  EXPECT_EQ(nullptr, ctl.Head);
}

// ------------------------------------------------------------ drawing

TEST_F(PlayerTest, DrawIsBracketedByBilinearSampling) {
  DebugTaskInstance.DebugDisplayFlag = 1;
  ClearCalls();
  ctl.Draw();
  EXPECT_EQ(std::vector<std::string>({"SetSamplingMode(1)", "SetSamplingMode(0)"}), Calls());
  ASSERT_EQ(1, DrawQueueLayerIndex[6]);
  const DrawEntry& e = DrawQueue[6][0];
  EXPECT_EQ(DRAW_IMAGE, e.Kind);
  EXPECT_EQ(453, e.X1);
  EXPECT_EQ(630, e.Y1);
  EXPECT_EQ(255, e.Alpha);
  EXPECT_EQ(Tile(0, 0), e.Graphic);
  EXPECT_TRUE(e.Clip.Enabled);
  ASSERT_EQ(1, DrawQueueLayerIndex[11]);
  EXPECT_EQ(DRAW_CIRCLE, DrawQueue[11][0].Kind);
  EXPECT_EQ(10, DrawQueue[11][0].Radius);
}

}  // namespace
