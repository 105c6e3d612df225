// Firing patterns: creation and serial ids, the timing of every kind, the
// bullets each fires, and the laser beam drawing.
#include <math.h>

#include "Bullet.h"
#include "BulletPtn.h"
#include "PlayFixture.h"
#include "StoredRandomTable.h"

using namespace ridov_double;
using namespace messenger_doubles;

namespace {

const double UP = 4.7123889803847;

class BulletPtnTest : public PlayTest {
 protected:
  void SetUp() override {
    PlayTest::SetUp();
    MessengerSet faces = {&player, nullptr, &bullets, nullptr, nullptr};
    ctl.SetMessengers(faces);
    PlayerMessengerPtr = &player;
  }
  void TearDown() override {
    ctl.Destroy();
    PlayTest::TearDown();
  }

  // Creates the pattern and runs the controller until it is gone; returns
  // the bullets fired at each update that fired any, and the update in which
  // the pattern ended itself.
  struct Run {
    std::vector<std::pair<int, int>> Fires;  // (update, bullets)
    int DeadAt = -1;
  };
  Run RunPattern(int kind, int p1 = 0, int p2 = 0, int limit = 1000) {
    int serial = ctl.CreatePattern(kind, 1, 400, 100, p1, p2);
    Run run;
    for (int update = 0; update < limit && ctl.IsPatternAlive(serial); ++update) {
      size_t before = bullets.Created.size();
      ctl.Update();
      if (!ctl.IsPatternAlive(serial)) break;
      size_t fired = bullets.Created.size() - before;
      if (fired > 0) run.Fires.push_back({update, static_cast<int>(fired)});
      if (ctl.Tail->Dead && run.DeadAt < 0) run.DeadAt = update;
    }
    return run;
  }

  FakePlayerMessenger player;
  FakeBulletMessenger bullets;
  CBulletPtnCtl ctl{nullptr};
};

// ------------------------------------------------------------ the controller

TEST_F(BulletPtnTest, KindsOutsideOneToElevenReturnMinusOne) {
  for (int kind : {0, 12, -1, 100}) EXPECT_EQ(-1, ctl.CreatePattern(kind, 1, 0, 0, 0, 0)) << kind;
  EXPECT_EQ(nullptr, ctl.Head);
  EXPECT_EQ(0, ctl.NextSerialId) << "a refused kind takes no serial id";
}

TEST_F(BulletPtnTest, SerialIdsAreUniqueAndNeverReused) {
  std::vector<int> ids;
  for (int kind = 1; kind <= 11; ++kind) ids.push_back(ctl.CreatePattern(kind, 1, 400, 100, 0, 0));
  for (int i = 0; i < 11; ++i) EXPECT_EQ(i, ids[i]);
  EXPECT_EQ(11, ListCount(ctl));
  for (int i = 0; i < 400; ++i) ctl.Update();
  EXPECT_EQ(nullptr, ctl.Head) << "every kind ends itself";
  EXPECT_EQ(11, ctl.CreatePattern(1, 1, 400, 100, 0, 0));
  for (int id : ids) EXPECT_FALSE(ctl.IsPatternAlive(id));
  EXPECT_TRUE(ctl.IsPatternAlive(11));
}

TEST_F(BulletPtnTest, KilledPatternCountsAsAliveUntilTheNextUpdate) {
  int a = ctl.CreatePattern(PTN_2WAY_5CONT, 0, 400, 100, 0, 0);
  int b = ctl.CreatePattern(PTN_2WAY_5CONT, 0, 400, 100, 0, 0);
  ctl.KillPattern(a);
  EXPECT_TRUE(ctl.IsPatternAlive(a));
  ctl.Update();
  EXPECT_FALSE(ctl.IsPatternAlive(a));
  EXPECT_TRUE(ctl.IsPatternAlive(b));
  ctl.KillPattern(a);   // already gone
  ctl.KillPattern(77);  // never made
  ctl.Update();
  EXPECT_TRUE(ctl.IsPatternAlive(b));
  EXPECT_FALSE(ctl.IsPatternAlive(-1));
}

// ------------------------------------------------------------ timing

struct TimingCase {
  const char* name;
  int kind, p1;
  std::vector<std::pair<int, int>> fires;
  int deadAt;
};

std::vector<std::pair<int, int>> Every(int first, int step, int last, int bullets) {
  std::vector<std::pair<int, int>> v;
  for (int u = first; u <= last; u += step) v.push_back({u, bullets});
  return v;
}

std::vector<std::pair<int, int>> Concat(std::vector<std::pair<int, int>> a, const std::vector<std::pair<int, int>>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(BulletPtnTest, TimingOfTheKindsTheGameUses) {
  const TimingCase cases[] = {
      {"player volley", PTN_PLAYER, 0, {{0, 3}}, 0},
      {"homing volley", PTN_PLAYER_HOMING, 0, {{0, 2}}, 0},
      {"big volley", PTN_PLAYER_BIG, 0, {{0, 1}}, 0},
      {"laser: 49 bullets over 301 updates", PTN_PLAYER_LAZER, 0, Every(0, 6, 288, 1), 300},
      {"flash of 4", PTN_QUINSEL_FLASH, 4, {{0, 4}}, 0},
      {"flash of 0", PTN_QUINSEL_FLASH, 0, {}, 0},
      {"search", PTN_SEARCH, 0, {{0, 1}}, 0},
      {"search laser", PTN_SEARCH_LAZER, 0, {{0, 1}}, 0},
      {"2-way x5", PTN_2WAY_5CONT, 0, Every(10, 10, 50, 2), 50},
      {"1-way wide x5", PTN_1WAY_W5CONT, 0, Every(10, 10, 50, 2), 50},
      {"random 15", PTN_RAND15, 0, Every(3, 3, 45, 1), 45},
      {"boss even 8", PTN_KUKURU_EVEN8, 0, Concat(Every(30, 30, 90, 8), Every(180, 30, 240, 3)), 240},
  };
  for (const TimingCase& c : cases) {
    Run run = RunPattern(c.kind, c.p1);
    EXPECT_EQ(c.fires, run.Fires) << c.name;
    EXPECT_EQ(c.deadAt, run.DeadAt) << c.name;
    EXPECT_EQ(nullptr, ctl.Head) << c.name << ": removed on the update after";
  }
}

// ------------------------------------------------------------ the bullets

void ExpectBullet(const BulletParams& b, int kind, int x, int y, int attack, double angle, int owner, int length,
                  const char* what) {
  EXPECT_EQ(kind, b.Kind) << what;
  EXPECT_EQ(x, b.X) << what;
  EXPECT_EQ(y, b.Y) << what;
  EXPECT_EQ(attack, b.Attack) << what;
  EXPECT_NEAR(angle, b.Angle, 1e-9) << what;
  EXPECT_EQ(owner, b.OwnerId) << what;
  EXPECT_EQ(length, b.Length) << what;
  EXPECT_EQ(0, b.Unused7) << what;
  EXPECT_EQ(960, b.Unused9) << what;
  EXPECT_EQ(1, b.Flag) << what;
}

TEST_F(BulletPtnTest, PlayerVolleys) {
  ctl.CreatePattern(PTN_PLAYER, 1, 480, 696, 0, 0);
  ctl.CreatePattern(PTN_PLAYER_HOMING, 1, 480, 696, 0, 9);
  ctl.CreatePattern(PTN_PLAYER_BIG, 1, 480, 696, 0, 0);
  ctl.Update();
  ASSERT_EQ(6u, bullets.Created.size());
  const auto& b = bullets.Created;
  ExpectBullet(b[0], BULLET_PLAYER, 480, 686, 500, UP - PI / 14, 1, 0, "left");
  ExpectBullet(b[1], BULLET_PLAYER, 480, 686, 1000, UP, 1, 0, "middle");
  ExpectBullet(b[2], BULLET_PLAYER, 480, 686, 500, UP + PI / 14, 1, 0, "right");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(-1, b[i].TargetId);
  ExpectBullet(b[3], BULLET_PLAYER_HOMING, 480, 686, 500, UP - PI / 3, 1, 0, "homing 1");
  ExpectBullet(b[4], BULLET_PLAYER_HOMING, 480, 686, 500, UP, 1, 0, "homing 2");
  EXPECT_EQ(9, b[3].TargetId);
  EXPECT_EQ(9, b[4].TargetId);
  ExpectBullet(b[5], BULLET_PLAYER_BIG, 480, 686, 3000, UP, 1, 0, "big");
}

TEST_F(BulletPtnTest, LaserFiresFromThePlayerAndCyclesItsTiles) {
  ctl.CreatePattern(PTN_PLAYER_LAZER, 1, 0, 0, 0, 0);
  player.MainX = 300;
  player.MainY = 600;
  ctl.Update();
  ASSERT_EQ(1u, bullets.Created.size());
  ExpectBullet(bullets.Created[0], BULLET_PLAYER_LAZER, 300, 600, 2000, UP, 1, 0, "laser");
  EXPECT_EQ(Tile(113, 0), ctl.Head->Graph[0]);
  for (int i = 0; i < 5; ++i) ctl.Update();
  EXPECT_EQ(Tile(113, 2), ctl.Head->Graph[0]) << "frame 5: tile 5 / 2";
  player.HasMain = false;
  ctl.Update();
  ASSERT_EQ(2u, bullets.Created.size());
  EXPECT_EQ(0, bullets.Created[1].X) << "no player reads as (0, 0)";
  EXPECT_EQ(0, bullets.Created[1].Y);
}

TEST_F(BulletPtnTest, FlashScattersBulletsFromTheStoredRandoms) {
  RandInstance.RandomCursor = 10;
  ctl.CreatePattern(PTN_QUINSEL_FLASH, 1, 999, 999, 3, 0);
  ctl.Update();
  ASSERT_EQ(3u, bullets.Created.size());
  for (int i = 0; i < 3; ++i) {
    int x = 242 + StoredRandomTable[10 + 2 * i] % 509;
    int y = 32 + StoredRandomTable[11 + 2 * i] % 541;
    ExpectBullet(bullets.Created[i], BULLET_QUINSEL_FLASH, x, y, 200, UP, 1, 0, "flash");
  }
  EXPECT_EQ(16, RandInstance.RandomCursor);
}

TEST_F(BulletPtnTest, SearchShotsAimAtThePlayerNow) {
  player.MainX = 400;
  player.MainY = 600;
  ctl.CreatePattern(PTN_SEARCH, 5, 400, 100, 0, 0);
  ctl.CreatePattern(PTN_SEARCH_LAZER, 5, 400, 100, 0, 0);
  player.MainX = 900;
  player.MainY = 100;  // moved before the first update: aimed straight right
  ctl.Update();
  ASSERT_EQ(2u, bullets.Created.size());
  ExpectBullet(bullets.Created[0], BULLET_SEARCH, 400, 100, 1, 0, 0, 0, "search");
  ExpectBullet(bullets.Created[1], BULLET_SEARCH, 400, 100, 1, 0, 0, 25, "search laser");

  player.HasMain = false;
  ctl.CreatePattern(PTN_SEARCH, 0, 400, 100, 0, 0);
  ctl.Update();
  EXPECT_NEAR(atan2(-100.0, -400.0), bullets.Created[2].Angle, 1e-12) << "aimed at (0, 0)";
}

TEST_F(BulletPtnTest, TwoWayFiresADownwardV) {
  ctl.CreatePattern(PTN_2WAY_5CONT, 5, 400, 100, 0, 0);
  for (int i = 0; i <= 10; ++i) ctl.Update();
  ASSERT_EQ(2u, bullets.Created.size());
  ExpectBullet(bullets.Created[0], BULLET_SEARCH, 375, 165, 1, 5 * PI / 8, 0, 25, "left");
  ExpectBullet(bullets.Created[1], BULLET_SEARCH, 425, 165, 1, 3 * PI / 8, 0, 25, "right");
}

TEST_F(BulletPtnTest, OneWayWideAimsAtWhereThePlayerWasAtCreation) {
  player.MainX = 400;
  player.MainY = 600;
  ctl.CreatePattern(PTN_1WAY_W5CONT, 0, 400, 100, 0, 0);
  player.MainX = 100;
  for (int i = 0; i <= 10; ++i) ctl.Update();
  ASSERT_EQ(2u, bullets.Created.size());
  double a = atan2(500.0, 0.0);
  double p1 = a - 1.0471975511966, p2 = a - 1.0471975511966 + 2 * PI / 3;
  int x1 = static_cast<int>(400 + 20 * cos(p1)), y1 = static_cast<int>(100 + 20 * sin(p1));
  int x2 = static_cast<int>(400 + 20 * cos(p2)), y2 = static_cast<int>(100 + 20 * sin(p2));
  EXPECT_EQ(417, x1);
  EXPECT_EQ(382, x2);
  ExpectBullet(bullets.Created[0], BULLET_SEARCH, x1, y1, 1, a, 0, 25, "first");
  ExpectBullet(bullets.Created[1], BULLET_SEARCH, x2, y2, 1, a, 0, 25, "second");
}

TEST_F(BulletPtnTest, RandomFifteenSpreadsEachShotByAFreshDraw) {
  player.MainX = 400;
  player.MainY = 600;
  RandInstance.RandomCursor = 500;
  Run run = RunPattern(PTN_RAND15);
  ASSERT_EQ(15u, bullets.Created.size());
  for (int i = 0; i < 15; ++i) {
    double expected = PI / 2 - 0.5235987755983 + (StoredRandomTable[500 + i] % 61) * PI / 180;
    EXPECT_NEAR(expected, bullets.Created[i].Angle, 1e-9) << i;
    EXPECT_EQ(400, bullets.Created[i].X);
  }
  EXPECT_EQ(515, RandInstance.RandomCursor);
}

TEST_F(BulletPtnTest, BossPatternRingsThenRetakesAimForItsSpreads) {
  player.MainX = 400;
  player.MainY = 600;
  ctl.CreatePattern(PTN_KUKURU_EVEN8, 0, 400, 100, 0, 0);
  for (int i = 0; i <= 30; ++i) ctl.Update();
  ASSERT_EQ(8u, bullets.Created.size());
  for (int i = 0; i < 8; ++i)
    ExpectBullet(bullets.Created[i], BULLET_TORNADO, 400, 100, 1, PI / 2 + i * PI / 4 + PI / 8, 0, 25, "ring");

  for (int i = 31; i <= 149; ++i) ctl.Update();
  player.MainX = 800;  // aim is taken again at the phase's count 60 (update 150)
  player.MainY = 100;
  ctl.Update();
  player.MainX = 0;  // later moves are not followed
  for (int i = 151; i <= 180; ++i) ctl.Update();
  ASSERT_EQ(27u, bullets.Created.size());
  for (int i = 0; i < 3; ++i) {
    double place = 0.0 - 1.0471975511966 + i * PI / 3;
    ExpectBullet(bullets.Created[24 + i], BULLET_TORNADO, static_cast<int>(400 + 40 * cos(place)),
                 static_cast<int>(100 + 40 * sin(place)), 1, 0, 0, 25, "spread");
  }
}

// ------------------------------------------------------------ the beam

TEST_F(BulletPtnTest, LaserBeamIsDrawnFromThePlayerUpPastTheTop) {
  ctl.CreatePattern(PTN_PLAYER_LAZER, 1, 0, 0, 0, 0);
  ctl.Update();
  player.MainX = 480;
  player.MainY = 670;
  ctl.Draw();
  ASSERT_EQ(5, DrawQueueLayerIndex[4]);
  const int ys[5] = {440, 250, 60, -130, -320};
  for (int i = 0; i < 5; ++i) {
    const DrawEntry& e = DrawQueue[4][i];
    EXPECT_EQ(DRAW_IMAGE, e.Kind);
    EXPECT_EQ(403, e.X1);
    EXPECT_EQ(ys[i], e.Y1);
    EXPECT_EQ(200, e.Alpha);
    EXPECT_EQ(Tile(113, 0), e.Graphic);
    EXPECT_TRUE(e.Clip.Enabled);
  }
}

TEST_F(BulletPtnTest, LaserBeamStaysBoundedWhateverThePositionReads) {
  ctl.CreatePattern(PTN_PLAYER_LAZER, 1, 0, 0, 0, 0);
  player.HasMain = false;
  ctl.Draw();
  EXPECT_EQ(1, DrawQueueLayerIndex[4]) << "no player: one piece above the screen";
  EXPECT_EQ(-77, DrawQueue[4][0].X1);

  memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);
  player.HasMain = true;
  player.MainY = 2000000;
  ctl.Draw();
  EXPECT_LE(DrawQueueLayerIndex[4], 6);
  EXPECT_LT(DrawQueue[4][0].Y1, SCREEN_HEIGHT);
  EXPECT_LE(DrawQueue[4][DrawQueueLayerIndex[4] - 1].Y1, -190);
}

TEST_F(BulletPtnTest, OtherPatternsDrawNothing) {
  for (int kind = 1; kind <= 11; ++kind)
    if (kind != PTN_PLAYER_LAZER) ctl.CreatePattern(kind, 1, 400, 100, 0, 0);
  ctl.Draw();
  for (int i : DrawQueueLayerIndex) EXPECT_EQ(0, i);
}

}  // namespace
