// Bullets: the kind table and creation, the per-kind movers, homing, the
// special's pull and tagging, edge removal and the controller's hit answers.
#include <math.h>

#include "Bullet.h"
#include "Item.h"
#include "RiDov.h"
#include "PlayFixture.h"

using namespace ridov_double;
using namespace messenger_doubles;

namespace {

const double UP = 4.7123889803847;

class BulletTest : public PlayTest {
 protected:
  void SetUp() override {
    PlayTest::SetUp();
    faces = {&player, nullptr, nullptr, &enemies, &items};
    ctl.SetMessengers(faces);
    PlayerMessengerPtr = &player;
    ItemMessengerPtr = &items;
  }
  void TearDown() override {
    ctl.Destroy();
    PlayTest::TearDown();
  }

  CBaseBullet* Fire(int kind, int x, int y, int attack, double angle, int owner) {
    ctl.CreateBullet(MakeBulletParams(kind, x, y, attack, angle, owner));
    return static_cast<CBaseBullet*>(ctl.Tail);
  }
  int Hit(int querierKind, int x, int y, int radius, int* owner = nullptr) {
    int first = 0;
    return ctl.CheckHit(querierKind, CHAR_SHAPE_CIRCLE, x, y, radius, nullptr, &first, owner);
  }

  FakePlayerMessenger player;
  FakeEnemyMessenger enemies;
  FakeItemMessenger items;
  MessengerSet faces;
  CBulletCtl ctl{nullptr};
};

// ------------------------------------------------------------ table, creation

TEST_F(BulletTest, KindTableRows) {
  const int speeds[8] = {20000, 20000, 20000, 150000, 20000, 6000, 6000, 6000};
  const int radii[8] = {8, 8, 25, 77, 8, 6, 0, 15};
  for (int k = 0; k < BULLET_KIND_COUNT; ++k) {
    EXPECT_EQ(k, BulletKindTable[k].Kind);
    EXPECT_EQ(speeds[k], BulletKindTable[k].Speed) << k;
    EXPECT_EQ(radii[k], BulletKindTable[k].Radius) << k;
    EXPECT_EQ(255, BulletKindTable[k].Alpha) << k;
    EXPECT_EQ(0, BulletKindTable[k].Life) << k;
  }
  EXPECT_STREQ("img/bullet/fullfire.png", BulletKindTable[3].Image);
  EXPECT_EQ(32, BulletKindTable[6].BoxWidth);
  EXPECT_EQ(160, BulletKindTable[6].BoxHeight);
  EXPECT_EQ(BULLET_KIND_COUNT, BulletKindTable[8].Kind);
  EXPECT_EQ(1, BulletKindTable[8].Speed);
}

TEST_F(BulletTest, KindsOutsideZeroToSevenMakeNothing) {
  Fire(-1, 400, 300, 1, 0, 0);
  Fire(8, 400, 300, 1, 0, 0);
  EXPECT_EQ(nullptr, ctl.Head);
}

TEST_F(BulletTest, SetupFromTheRecordAndTheTable) {
  BulletParams p = MakeBulletParams(BULLET_PLAYER_BIG, 300, 400, 3000, UP, 1);
  EXPECT_EQ(960, p.Unused9);
  EXPECT_EQ(-1, p.TargetId);
  EXPECT_EQ(1, p.Flag);
  ctl.CreateBullet(p);
  CBaseBullet* b = static_cast<CBaseBullet*>(ctl.Head);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(CHAR_KIND_PLAYER_BULLET, b->KindWord);
  EXPECT_EQ(300000, b->X);
  EXPECT_EQ(400000, b->Y);
  EXPECT_EQ(3000, b->Attack);
  EXPECT_EQ(25, b->Radius);
  EXPECT_EQ(20000, b->Speed);
  EXPECT_EQ(70, b->ImageWidth);
  EXPECT_EQ(CHAR_SHAPE_CIRCLE, b->Shape);
  EXPECT_DOUBLE_EQ(UP, b->Angle);
  EXPECT_DOUBLE_EQ(UP, b->DrawAngle);
  EXPECT_EQ(0, b->SpecialTag);
  EXPECT_EQ(Tile(112, 0), b->Graph[0]);
  EXPECT_EQ(CHAR_KIND_ENEMY_BULLET, Fire(BULLET_SEARCH, 1, 1, 1, 0, 0)->KindWord);
}

TEST_F(BulletTest, TheSearchLaserIsABoxWithAnEndPoint) {
  BulletParams p = MakeBulletParams(BULLET_SEARCH_LAZER, 400, 100, 1, PI / 2, 0);
  p.Length = 25;
  ctl.CreateBullet(p);
  CBaseBullet* b = static_cast<CBaseBullet*>(ctl.Head);
  EXPECT_EQ(CHAR_SHAPE_BOX, b->Shape);
  EXPECT_DOUBLE_EQ(0.8, b->Scale);
  EXPECT_EQ(32, b->BoxWidth);
  EXPECT_EQ(160, b->BoxHeight);
  EXPECT_DOUBLE_EQ(400, b->StartX);
  EXPECT_DOUBLE_EQ(100, b->StartY);
  EXPECT_NEAR(400, b->EndX, 1e-9);
  EXPECT_NEAR(125, b->EndY, 1e-9);

  ctl.Update();  // moves 6 px down, keeps the exact position, refreshes its box
  EXPECT_EQ(106000, b->Y);
  EXPECT_DOUBLE_EQ(106, b->PxY);
  EXPECT_NEAR(387.2, b->BoxCorner[0], 1e-6);
  EXPECT_NEAR(122, b->BoxCorner[1], 1e-6);
  EXPECT_EQ(1, Hit(CHAR_KIND_PLAYER, 400, 200, 10)) << "inside the beam";
  EXPECT_EQ(0, Hit(CHAR_KIND_PLAYER, 400, 90, 10)) << "behind its start";
}

// ------------------------------------------------------------ movers

TEST_F(BulletTest, RegularShotMovesAlongItsAngleAndWrapsItsCounter) {
  CBaseBullet* b = Fire(BULLET_PLAYER, 400, 500, 1000, UP, 1);
  b->FrameCount = 31;
  ctl.Update();
  EXPECT_EQ(400000, b->X);
  EXPECT_EQ(480000, b->Y);
  EXPECT_EQ(200, b->Alpha);
  EXPECT_EQ(0, b->FrameCount);
  EXPECT_EQ(20, b->Travelled);
  EXPECT_EQ(Tile(110, 0), b->Graph[0]);
}

TEST_F(BulletTest, BigShotGoesStraightUpWhateverItsAngle) {
  CBaseBullet* b = Fire(BULLET_PLAYER_BIG, 400, 500, 3000, 0.3, 1);
  ctl.Update();
  EXPECT_EQ(400000, b->X);
  EXPECT_EQ(480000, b->Y);
  EXPECT_EQ(0, b->DrawAngle);
}

TEST_F(BulletTest, LaserBulletStandsStillOnItsFirstUpdate) {
  CBaseBullet* b = Fire(BULLET_PLAYER_LAZER, 400, 600, 2000, UP, 1);
  ctl.Update();
  EXPECT_EQ(600000, b->Y);
  EXPECT_EQ(1, b->Work[BULLET_WORK_STARTED]);
  ctl.Update();
  EXPECT_EQ(450000, b->Y);
}

TEST_F(BulletTest, TornadoDrawsUnturned) {
  CBaseBullet* b = Fire(BULLET_TORNADO, 400, 300, 1, PI / 2, 0);
  ctl.Update();
  EXPECT_EQ(306000, b->Y);
  EXPECT_EQ(0, b->DrawAngle);
}

TEST_F(BulletTest, FlashBulletTurnsIntoAnItemOnItsSixtySecondUpdate) {
  CBaseBullet* b = Fire(BULLET_QUINSEL_FLASH, 333, 444, 200, UP, 1);
  for (int i = 1; i <= 61; ++i) {
    ctl.Update();
    ASSERT_EQ(b, ctl.Head) << "update " << i;
    EXPECT_EQ(333000, b->X);
    EXPECT_EQ(444000, b->Y);
  }
  EXPECT_TRUE(items.Created.empty());
  ctl.Update();
  ASSERT_EQ(1u, items.Created.size());
  EXPECT_EQ(100, items.Created[0].Kind);
  EXPECT_EQ(333, items.Created[0].X);
  EXPECT_EQ(444, items.Created[0].Y);
  EXPECT_EQ(nullptr, ctl.Head) << "removed in the same update";
}

TEST_F(BulletTest, FlashBulletWithoutItemControllerStillDies) {
  ItemMessengerPtr = nullptr;
  Fire(BULLET_QUINSEL_FLASH, 333, 444, 200, UP, 1);
  for (int i = 0; i < 62; ++i) ctl.Update();
  EXPECT_EQ(nullptr, ctl.Head);
}

// ------------------------------------------------------------ homing

TEST(Homing, StepRampsFromHalfSpeedToFull) {
  EXPECT_NEAR(10.0, HomingStep(20000, 0), 1e-9);
  EXPECT_NEAR(20 * (cos(0.75 * PI) + 1) / 2, HomingStep(20000, 30), 1e-9);
  EXPECT_LT(HomingStep(20000, 59), 0.01);
  EXPECT_DOUBLE_EQ(20.0, HomingStep(20000, 60));
  EXPECT_DOUBLE_EQ(20.0, HomingStep(20000, 500));
}

TEST(Homing, TurnLimitSwingsBetweenZeroAndThirtyDegrees) {
  EXPECT_NEAR(0, HomingTurnLimit(0), 1e-12);
  EXPECT_NEAR(15 * PI / 180, HomingTurnLimit(15), 1e-9);
  EXPECT_NEAR(30 * PI / 180, HomingTurnLimit(30), 1e-9);
  EXPECT_NEAR(0, HomingTurnLimit(60), 1e-9);
  EXPECT_NEAR(30 * PI / 180, HomingTurnLimit(90), 1e-9);
}

struct TurnCase {
  const char* name;
  double angle, target, limit, expected;
};

const double L30 = 30 * PI / 180;
const TurnCase TURN_CASES[] = {
    {"clockwise, no wrap", UP, 5.5, L30, UP + L30},
    {"counter-clockwise, no wrap", UP, 3.5, L30, UP - L30},
    {"up to lower right goes clockwise through 0", UP, 0.5, L30, UP + L30},
    {"up to lower left goes counter-clockwise", UP, 2.5, L30, UP - L30},
    {"just above 0 to just below 2 pi", 0.1, 5.5, L30, 0.1 - L30 + 2 * PI},
    {"just below 2 pi to just above 0", 6.0, 0.6, L30, 6.0 + L30 - 2 * PI},
    {"within the limit it locks on", 1.0, 1.3, L30, 1.3},
    {"within the limit the other way", 1.0, 0.6, L30, 0.6},
    {"within the limit across 0", 6.2, 0.1, L30, 0.1},
    {"an angle past 2 pi is taken round", 2 * PI + 1.0, 1.2, L30, 1.2},
    {"a zero limit holds the angle", 1.0, 2.0, 0.0, 1.0},
};

TEST(Homing, TurnsTheShorterWay) {
  for (const TurnCase& c : TURN_CASES) EXPECT_NEAR(c.expected, HomingTurn(c.angle, c.target, c.limit), 1e-9) << c.name;
}

TEST_F(BulletTest, HomingShotSteersTowardItsTargetThenMoves) {
  BulletParams p = MakeBulletParams(BULLET_PLAYER_HOMING, 400, 400, 500, UP, 1);
  p.TargetId = 7;
  ctl.CreateBullet(p);
  CBaseBullet* b = static_cast<CBaseBullet*>(ctl.Head);
  enemies.Positions[7] = {500, 400};  // straight right: A = 0
  b->FrameCount = 30;                 // limit 30 degrees
  ctl.Update();
  double a = b->Angle;
  EXPECT_NEAR(UP + L30, a, 1e-9);
  double step = HomingStep(20000, 30);
  EXPECT_EQ(static_cast<int>((cos(a) * step + 400) * 1000), b->X);
  EXPECT_EQ(static_cast<int>((sin(a) * step + 400) * 1000), b->Y);
  EXPECT_EQ(31, b->FrameCount);
  EXPECT_DOUBLE_EQ(UP, b->DrawAngle) << "drawn at its creation angle";
}

TEST_F(BulletTest, HomingShotWhoseTargetVanishedKeepsItsAngle) {
  BulletParams p = MakeBulletParams(BULLET_PLAYER_HOMING, 400, 400, 500, 4.0, 1);
  p.TargetId = 7;
  ctl.CreateBullet(p);
  CBaseBullet* b = static_cast<CBaseBullet*>(ctl.Head);
  b->FrameCount = 30;
  ctl.Update();  // no enemy 7
  EXPECT_DOUBLE_EQ(4.0, b->Angle);

  BulletParams untargeted = p;
  untargeted.TargetId = -1;
  enemies.Positions[-1] = {500, 400};
  ctl.CreateBullet(untargeted);
  CBaseBullet* c = static_cast<CBaseBullet*>(ctl.Tail);
  ctl.Update();
  EXPECT_DOUBLE_EQ(4.0, c->Angle) << "target -1 is no target";
}

// ------------------------------------------------------------ the special

TEST_F(BulletTest, TheSpecialPullsAndTagsEnemyBullets) {
  player.Special = true;
  player.SpecialRawX = 400000;
  player.SpecialRawY = 100000;
  CBaseBullet* far = Fire(BULLET_SEARCH, 400, 200, 1, PI / 2, 0);
  CBaseBullet* near = Fire(BULLET_TORNADO, 405, 100, 1, PI / 2, 0);
  CBaseBullet* own = Fire(BULLET_PLAYER, 400, 600, 1000, UP, 1);
  ctl.Update();
  EXPECT_EQ(1, far->SpecialTag);
  EXPECT_EQ(400000, far->X);
  EXPECT_EQ(192500, far->Y) << "7.5 px toward the special, not down its own way";
  EXPECT_EQ(7, far->Travelled);
  EXPECT_EQ(Tile(115, 3), far->Graph[0]);
  EXPECT_EQ(1, far->FrameCount);
  EXPECT_EQ(1, near->SpecialTag);
  EXPECT_EQ(400000, near->X) << "within 7.5 px it jumps onto the special";
  EXPECT_EQ(100000, near->Y);
  EXPECT_EQ(0, own->SpecialTag) << "player bullets fly on";
  EXPECT_EQ(580000, own->Y);

  // A tagged bullet on the main player does nothing to it.
  EXPECT_EQ(0, Hit(CHAR_KIND_PLAYER, 400, 192, 10));

  // The special swallows an enemy bullet that touches it.
  int owner = -5;
  EXPECT_EQ(1, Hit(CHAR_KIND_SPECIAL, 400, 100, 17, &owner));
  EXPECT_TRUE(near->Dead);
  EXPECT_EQ(0, owner);

  // Once the special is gone every tagged bullet dies.
  player.Special = false;
  ctl.Update();
  ASSERT_EQ(own, ctl.Head);
  EXPECT_EQ(own, ctl.Tail);
}

TEST_F(BulletTest, SpecialSwallowsOnlyEnemyKinds) {
  CBaseBullet* own = Fire(BULLET_PLAYER, 400, 100, 1000, UP, 1);
  EXPECT_EQ(0, Hit(CHAR_KIND_SPECIAL, 400, 100, 17)) << "player bullets never hit the special";
  EXPECT_FALSE(own->Dead);
  CBaseBullet* enemy = Fire(BULLET_SEARCH, 400, 100, 1, PI / 2, 0);
  EXPECT_EQ(1, Hit(CHAR_KIND_PLAYER, 400, 100, 10)) << "an untagged enemy bullet hurts";
  EXPECT_FALSE(enemy->Dead) << "hitting the player does not remove it";
}

// ------------------------------------------------------------ hits on enemies

struct ImmunityCase {
  int x, y;
  int expected;
};

const ImmunityCase IMMUNITY_CASES[] = {
    {400, 34, 0}, {400, 35, 1000}, {0, 300, 0}, {1, 300, 1000}, {749, 300, 1000}, {750, 300, 0}, {-20, 300, 0},
};

TEST_F(BulletTest, EnemiesAtTheEdgesCannotBeDamaged) {
  for (const ImmunityCase& c : IMMUNITY_CASES) {
    ctl.Destroy();
    StatusInstance.SetStatusField(1, STATUS_GAUGE, 20000);
    CBaseBullet* b = Fire(BULLET_PLAYER, 400, 300, 1000, UP, 1);
    b->X = c.x * 1000;
    b->Y = c.y * 1000;
    EXPECT_EQ(c.expected, Hit(CHAR_KIND_ENEMY, c.x, c.y, 20)) << c.x << "," << c.y;
    EXPECT_EQ(c.expected > 0, b->Dead) << c.x << "," << c.y;
    EXPECT_EQ(c.expected > 0 ? 20030 : 20000, StatusInstance.GetStatusField(1, STATUS_GAUGE));
  }
}

TEST_F(BulletTest, ARegularShotHitAddsMpAndLowersTheLiveShotCount) {
  player.LiveShots = 3;
  CBaseBullet* b = Fire(BULLET_PLAYER, 400, 300, 1000, UP, 1);
  int owner = -1;
  EXPECT_EQ(1000, Hit(CHAR_KIND_ENEMY, 400, 300, 20, &owner));
  EXPECT_EQ(1, owner);
  EXPECT_TRUE(b->Dead);
  EXPECT_EQ(20030, StatusInstance.GetStatusField(1, STATUS_GAUGE));
  EXPECT_EQ(0, Hit(CHAR_KIND_ENEMY, 400, 300, 20)) << "a spent shot hits nothing more";
  EXPECT_EQ(20030, StatusInstance.GetStatusField(1, STATUS_GAUGE));
  EXPECT_EQ(3, player.LiveShots);
  ctl.Update();
  EXPECT_EQ(nullptr, ctl.Head);
  EXPECT_EQ(2, player.LiveShots);
}

TEST_F(BulletTest, MpFromHitsStopsAtTheGaugeLimit) {
  StatusInstance.SetStatusField(1, STATUS_GAUGE, 29990);
  Fire(BULLET_PLAYER_BIG, 400, 300, 3000, UP, 1);
  EXPECT_EQ(3000, Hit(CHAR_KIND_ENEMY, 400, 300, 20));
  EXPECT_EQ(30000, StatusInstance.GetStatusField(1, STATUS_GAUGE));
}

TEST_F(BulletTest, LaserAndFlashBulletsPassThroughAndKeepHitting) {
  // At 150 px a frame the laser bullet is sampled one move back: 150 px
  // below where it stands.
  CBaseBullet* laser = Fire(BULLET_PLAYER_LAZER, 400, 300, 2000, UP, 1);
  EXPECT_EQ(0, Hit(CHAR_KIND_ENEMY, 400, 300, 20));
  EXPECT_EQ(2000, Hit(CHAR_KIND_ENEMY, 400, 450, 20));
  EXPECT_EQ(2000, Hit(CHAR_KIND_ENEMY, 400, 450, 20));
  EXPECT_FALSE(laser->Dead);
  CBaseBullet* flash = Fire(BULLET_QUINSEL_FLASH, 500, 300, 200, UP, 1);
  EXPECT_EQ(200, Hit(CHAR_KIND_ENEMY, 500, 300, 20));
  EXPECT_EQ(200, Hit(CHAR_KIND_ENEMY, 500, 300, 20));
  EXPECT_FALSE(flash->Dead);
  EXPECT_EQ(20000, StatusInstance.GetStatusField(1, STATUS_GAUGE)) << "only regular shots feed MP";
}

TEST_F(BulletTest, EnemyBulletsNeverHitEnemies) {
  Fire(BULLET_SEARCH, 400, 300, 1, 0, 0);
  EXPECT_EQ(0, Hit(CHAR_KIND_ENEMY, 400, 300, 20));
}

// ------------------------------------------------------------ removal

TEST_F(BulletTest, BulletsDieOnTheFrameTheyLeaveThePlayField) {
  player.LiveShots = 5;
  CBaseBullet* edge = Fire(BULLET_SEARCH, 750, 300, 1, 0, 0);
  edge->Speed = 0;
  Fire(BULLET_SEARCH, 748, 300, 1, 0, 0);         // 754 after its move
  Fire(BULLET_PLAYER_BIG, 400, 15, 3000, UP, 1);  // -5 after its move
  Fire(BULLET_TORNADO, 400, 718, 1, PI / 2, 0);   // 724
  ctl.Update();
  EXPECT_EQ(edge, ctl.Head) << "the bound itself is inside";
  EXPECT_EQ(edge, ctl.Tail);
  EXPECT_EQ(4, player.LiveShots) << "only the big shot was the player's";
}

TEST_F(BulletTest, LiveShotCountWithoutThePlayerIsLeftAlone) {
  PlayerMessengerPtr = nullptr;
  Fire(BULLET_PLAYER, 400, 5, 1000, UP, 1);
  ctl.Update();
  EXPECT_EQ(nullptr, ctl.Head);
}

// ------------------------------------------------------------ drawing

TEST_F(BulletTest, CircleBulletsQueueARotatedImage) {
  CBaseBullet* b = Fire(BULLET_SEARCH, 400, 300, 1, 0.5, 0);
  b->X = 400500;
  ctl.Draw();
  ASSERT_EQ(1, DrawQueueLayerIndex[4]);
  const DrawEntry& e = DrawQueue[4][0];
  EXPECT_EQ(DRAW_IMAGE_ROTATED, e.Kind);
  EXPECT_DOUBLE_EQ(400.5, e.Quad[0]);
  EXPECT_DOUBLE_EQ(300, e.Quad[1]);
  EXPECT_DOUBLE_EQ(1.0, e.Scale);
  EXPECT_DOUBLE_EQ(0.5, e.Angle);
  EXPECT_EQ(255, e.Alpha);
  EXPECT_EQ(Tile(115, 0), e.Graphic);
  EXPECT_TRUE(e.Clip.Enabled);
  EXPECT_EQ(210, e.Clip.X1);
  EXPECT_EQ(750, e.Clip.X2);
  EXPECT_EQ(0, DrawQueueLayerIndex[11]);
  DebugTaskInstance.DebugDisplayFlag = 1;
  ctl.Draw();
  ASSERT_EQ(1, DrawQueueLayerIndex[11]);
  EXPECT_EQ(DRAW_CIRCLE, DrawQueue[11][0].Kind);
  EXPECT_EQ(6, DrawQueue[11][0].Radius);
}

TEST_F(BulletTest, BoxBulletsQueueTheirQuadAndDebugMarks) {
  BulletParams p = MakeBulletParams(BULLET_SEARCH_LAZER, 400, 100, 1, PI / 2, 0);
  p.Length = 25;
  ctl.CreateBullet(p);
  CBaseBullet* b = static_cast<CBaseBullet*>(ctl.Head);
  b->Speed = 0;
  ctl.Update();
  DebugTaskInstance.DebugDisplayFlag = 1;
  ClearCalls();
  ctl.Draw();
  ASSERT_EQ(1, DrawQueueLayerIndex[4]);
  const DrawEntry& e = DrawQueue[4][0];
  EXPECT_EQ(DRAW_IMAGE_QUAD, e.Kind);
  const double laser[8] = {384, 100, 416, 100, 416, 260, 384, 260};
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(laser[i], e.Quad[i], 1e-4) << i;
  std::vector<std::string> rects = CallsOf("DrawRectShape");
  ASSERT_EQ(2u, rects.size());
  int ex = static_cast<int>(b->EndX), ey = static_cast<int>(b->EndY);
  EXPECT_EQ(125, ey);
  std::string red = Hex(MakeColorValue(255, 0, 0)), green = Hex(MakeColorValue(0, 255, 0));
  EXPECT_EQ("DrawRectShape(398,98,402,102," + red + ",1)", rects[0]);
  EXPECT_EQ("DrawRectShape(" + std::to_string(ex - 2) + ",123," + std::to_string(ex + 2) + ",127," + green + ",1)",
            rects[1]);
  EXPECT_EQ(2, DrawQueueLayerIndex[11]) << "the hit box as two triangles";
}

}  // namespace
