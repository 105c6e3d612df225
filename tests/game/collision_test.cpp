// Hit geometry and the character controller: box corners, circle against
// box, the bullet test with its side rules and stepped samples, controller
// creation, update order, collision passes and discarding.
#include <math.h>

#include "Bullet.h"
#include "BulletPtn.h"
#include "CharCtl.h"
#include "Item.h"
#include "PlayFixture.h"
#include "Player.h"

using namespace ridov_double;
using namespace messenger_doubles;

namespace {


// A bare character for geometry tests.
class Body : public CBaseChar {
 public:
  Body() {
    Shape = CHAR_SHAPE_CIRCLE;
    Scale = 1.0;
    Angle = 0;
    Speed = 0;
    Radius = 0;
    BoxWidth = BoxHeight = 0;
    Attack = 0;
    KindWord = CHAR_KIND_ENEMY_BULLET;
    PxX = PxY = 0;
    for (double& c : BoxCorner) c = -1;
    for (double& c : LaserCorner) c = -1;
  }
  void Init() override {}
};

// ------------------------------------------------------------ HitCircleVsBox

struct CircleBoxCase {
  const char* name;
  double cx, cy, r;
  double corners[8];
  bool hit;
};

const CircleBoxCase CIRCLE_BOX_CASES[] = {
    // Box (100,100)-(200,100)-(200,200)-(100,200).
    {"corner strictly inside", 95, 95, 10, {100, 100, 200, 100, 200, 200, 100, 200}, true},
    {"centre deep inside a large box", 500, 500, 5, {0, 0, 1000, 0, 1000, 1000, 0, 1000}, true},
    {"edge within r", 150, 92, 10, {100, 100, 200, 100, 200, 200, 100, 200}, true},
    {"edge exactly r away", 150, 90, 10, {100, 100, 200, 100, 200, 200, 100, 200}, false},
    {"corner at exactly r", 94, 92, 10, {100, 100, 200, 100, 200, 200, 100, 200}, false},
    {"far outside", 300, 300, 10, {100, 100, 200, 100, 200, 200, 100, 200}, false},
    {"zero radius inside", 150, 150, 0, {100, 100, 200, 100, 200, 200, 100, 200}, true},
    // Diamond around (0, 0): corners at distance 100 on the axes.
    {"rotated box, centre inside", 40, 40, 1, {0, -100, 100, 0, 0, 100, -100, 0}, true},
    {"rotated box, in its bounding square only", 70, 70, 1, {0, -100, 100, 0, 0, 100, -100, 0}, false},
    {"rotated box, touching an edge", 55, 55, 8, {0, -100, 100, 0, 0, 100, -100, 0}, true},
    // A box whose corners all lie at one point (never computed) has no inside.
    {"collapsed box, far away", 300, 300, 10, {0, 0, 0, 0, 0, 0, 0, 0}, false},
    {"collapsed box, within r", 5, 5, 10, {0, 0, 0, 0, 0, 0, 0, 0}, true},
};

class CircleBoxTest : public ::testing::TestWithParam<CircleBoxCase> {};

TEST_P(CircleBoxTest, Hits) {
  const CircleBoxCase& c = GetParam();
  EXPECT_EQ(c.hit, HitCircleVsBox(c.cx, c.cy, c.r, c.corners)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Table, CircleBoxTest, ::testing::ValuesIn(CIRCLE_BOX_CASES));

TEST(CircleBox, NoCornersNoHit) { EXPECT_FALSE(HitCircleVsBox(0, 0, 100, nullptr)); }

// ------------------------------------------------------------ box corners

void ExpectCorners(const double* expected, const double* actual, const char* what) {
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(expected[i], actual[i], 1e-6) << what << " [" << i << "]";
}

TEST(HitBoxCorners, CircleShapeIsLeftAlone) {
  Body b;
  b.BoxWidth = 10;
  b.BoxHeight = 10;
  b.UpdateHitBoxCorners();
  for (double c : b.BoxCorner) EXPECT_EQ(-1, c);
}

TEST(HitBoxCorners, EnemyFacingUpHasAnUnturnedBox) {
  Body b;
  b.KindWord = CHAR_KIND_ENEMY;
  b.Shape = CHAR_SHAPE_BOX;
  b.BoxWidth = 41;  // halves truncate: 20
  b.BoxHeight = 30;
  b.PxX = 300.9;  // centre truncates to (300, 200)
  b.PxY = 200.2;
  b.Angle = 3 * PI / 2;
  b.UpdateHitBoxCorners();
  const double expected[8] = {280, 185, 320, 185, 320, 215, 280, 215};
  ExpectCorners(expected, b.BoxCorner, "enemy up");
  for (double c : b.LaserCorner) EXPECT_EQ(-1, c) << "enemies have no laser corners";
}

TEST(HitBoxCorners, EnemyFacingDownIsTurnedHalfWay) {
  Body b;
  b.KindWord = CHAR_KIND_ENEMY;
  b.Shape = CHAR_SHAPE_BOX;
  b.BoxWidth = 40;
  b.BoxHeight = 30;
  b.PxX = 300;
  b.PxY = 200;
  b.Angle = PI / 2;
  b.UpdateHitBoxCorners();
  const double expected[8] = {320, 215, 280, 215, 280, 185, 320, 185};
  ExpectCorners(expected, b.BoxCorner, "enemy down");
}

TEST(HitBoxCorners, EnemyFacingRightIsTurnedAQuarter) {
  Body b;
  b.KindWord = CHAR_KIND_ENEMY;
  b.Shape = CHAR_SHAPE_BOX;
  b.BoxWidth = 40;
  b.BoxHeight = 20;
  b.PxX = 100;
  b.PxY = 100;
  b.Angle = 0;  // t = 3 pi / 2: (u, v) -> (-v, u)
  b.UpdateHitBoxCorners();
  const double expected[8] = {110, 80, 110, 120, 90, 120, 90, 80};
  ExpectCorners(expected, b.BoxCorner, "enemy right");
}

TEST(HitBoxCorners, LaserDownwardWithScale) {
  // The enemy's search laser: 32 x 160 at scale 0.8, pointing down.
  Body b;
  b.KindWord = CHAR_KIND_ENEMY_BULLET;
  b.Shape = CHAR_SHAPE_BOX;
  b.BoxWidth = 32;
  b.BoxHeight = 160;
  b.Scale = 0.8;
  b.PxX = 400;
  b.PxY = 100;
  b.Angle = PI / 2;
  b.UpdateHitBoxCorners();
  const double laser[8] = {384, 100, 416, 100, 416, 260, 384, 260};
  ExpectCorners(laser, b.LaserCorner, "laser corners");
  const double hit[8] = {387.2, 116, 412.8, 116, 412.8, 244, 387.2, 244};
  ExpectCorners(hit, b.BoxCorner, "hit box");
}

TEST(HitBoxCorners, LaserUpwardAtFullScaleMatchesItsLaserBox) {
  Body b;
  b.KindWord = CHAR_KIND_PLAYER_BULLET;
  b.Shape = CHAR_SHAPE_BOX;
  b.BoxWidth = 20;
  b.BoxHeight = 100;
  b.Scale = 1.0;
  b.PxX = 300;
  b.PxY = 500;
  b.Angle = 3 * PI / 2;
  b.UpdateHitBoxCorners();
  const double expected[8] = {310, 500, 290, 500, 290, 400, 310, 400};
  ExpectCorners(expected, b.LaserCorner, "laser");
  ExpectCorners(expected, b.BoxCorner, "hit");
  // Inside the beam, beyond its end, beside it.
  EXPECT_TRUE(HitCircleVsBox(300, 450, 1, b.BoxCorner));
  EXPECT_FALSE(HitCircleVsBox(300, 390, 1, b.BoxCorner));
  EXPECT_FALSE(HitCircleVsBox(320, 450, 5, b.BoxCorner));
}

// ------------------------------------------------------------ TestBulletHit

Body CircleBullet(int kindWord, double x, double y, int radius, int speed, double angle) {
  Body b;
  b.KindWord = kindWord;
  b.X = static_cast<int>(x * 1000);
  b.Y = static_cast<int>(y * 1000);
  b.Radius = radius;
  b.Speed = speed;
  b.Angle = angle;
  b.Attack = 7;
  return b;
}

struct SideCase {
  int bulletKind;
  int querierKind;
  int expected;
};

const SideCase SIDE_CASES[] = {
    {CHAR_KIND_PLAYER_BULLET, CHAR_KIND_PLAYER, 0}, {CHAR_KIND_PLAYER_BULLET, CHAR_KIND_SPECIAL, 0},
    {CHAR_KIND_PLAYER_BULLET, CHAR_KIND_OPTION, 7}, {CHAR_KIND_PLAYER_BULLET, CHAR_KIND_ENEMY, 7},
    {CHAR_KIND_ENEMY_BULLET, CHAR_KIND_ENEMY, 0},   {CHAR_KIND_ENEMY_BULLET, CHAR_KIND_PLAYER, 7},
    {CHAR_KIND_ENEMY_BULLET, CHAR_KIND_SPECIAL, 7}, {CHAR_KIND_ENEMY_BULLET, 7, 7},
    {CHAR_KIND_ENEMY, CHAR_KIND_PLAYER, 7},         {CHAR_KIND_PLAYER, 7, 7},
};

TEST(BulletHit, SideRulesForABulletExactlyOnTheQuerier) {
  for (const SideCase& c : SIDE_CASES) {
    Body b = CircleBullet(c.bulletKind, 400, 300, 5, 0, 0);
    EXPECT_EQ(c.expected, TestBulletHit(&b, c.querierKind, 400, 300, nullptr, 5, CHAR_SHAPE_CIRCLE))
        << "bullet kind " << c.bulletKind << " querier " << c.querierKind;
  }
}

TEST(BulletHit, SlowCircleUsesItsPositionWithAStrictBound) {
  Body b = CircleBullet(CHAR_KIND_ENEMY_BULLET, 400, 300, 6, 6000, 0);
  EXPECT_EQ(7, TestBulletHit(&b, 0, 415, 300, nullptr, 10, CHAR_SHAPE_CIRCLE));
  EXPECT_EQ(0, TestBulletHit(&b, 0, 416, 300, nullptr, 10, CHAR_SHAPE_CIRCLE)) << "distance = R";
  Body fractional = CircleBullet(CHAR_KIND_ENEMY_BULLET, 400.5, 300, 6, 6000, 0);
  EXPECT_EQ(7, TestBulletHit(&fractional, 0, 416, 300, nullptr, 10, CHAR_SHAPE_CIRCLE))
      << "the bullet's position keeps its fraction";
}

struct StepCase {
  int offset;  // querier x relative to the bullet, which moves right
  bool hit;
};

// Speed 30 px, R = 5 + 5: samples at -30, -20 and -10 px.
const StepCase STEP_CASES[] = {
    {-30, true}, {-20, true}, {-10, true},  {-25, true}, {-15, true},  {-39, true},
    {-1, true},  {0, false},  {-40, false}, {1, false},  {-45, false},
};

TEST(BulletHit, FastCircleSamplesItsLastMoveNotItsPosition) {
  for (const StepCase& c : STEP_CASES) {
    Body b = CircleBullet(CHAR_KIND_ENEMY_BULLET, 400, 300, 5, 30000, 0);
    EXPECT_EQ(c.hit ? 7 : 0, TestBulletHit(&b, 0, 400 + c.offset, 300, nullptr, 5, CHAR_SHAPE_CIRCLE))
        << "offset " << c.offset;
  }
}

TEST(BulletHit, SampleCountIsSpeedOverReach) {
  // Speed 25 px, R 10: two samples, at -25 and -15.
  Body b = CircleBullet(CHAR_KIND_ENEMY_BULLET, 400, 300, 5, 25000, 0);
  EXPECT_EQ(7, TestBulletHit(&b, 0, 375, 300, nullptr, 5, CHAR_SHAPE_CIRCLE));
  EXPECT_EQ(7, TestBulletHit(&b, 0, 385, 300, nullptr, 5, CHAR_SHAPE_CIRCLE));
  EXPECT_EQ(0, TestBulletHit(&b, 0, 396, 300, nullptr, 5, CHAR_SHAPE_CIRCLE)) << "no sample at -5";
}

TEST(BulletHit, SamplesFollowTheBulletsAngle) {
  // Moving down at 30 px: samples 30, 20, 10 px above it.
  Body b = CircleBullet(CHAR_KIND_ENEMY_BULLET, 400, 300, 5, 30000, PI / 2);
  EXPECT_EQ(7, TestBulletHit(&b, 0, 400, 270, nullptr, 5, CHAR_SHAPE_CIRCLE));
  EXPECT_EQ(0, TestBulletHit(&b, 0, 400, 300, nullptr, 5, CHAR_SHAPE_CIRCLE));
  EXPECT_EQ(0, TestBulletHit(&b, 0, 430, 300, nullptr, 5, CHAR_SHAPE_CIRCLE));
}

TEST(BulletHit, ZeroReachNeverHitsNorDivides) {
  Body b = CircleBullet(CHAR_KIND_ENEMY_BULLET, 400, 300, 0, 30000, 0);
  EXPECT_EQ(0, TestBulletHit(&b, 0, 400, 300, nullptr, 0, CHAR_SHAPE_CIRCLE));
}

TEST(BulletHit, CircleAgainstBoxQuerier) {
  const double box[8] = {100, 100, 200, 100, 200, 200, 100, 200};
  Body b = CircleBullet(CHAR_KIND_PLAYER_BULLET, 150.9, 95.9, 6, 20000, 0);
  // The whole-pixel position (150, 95) is 5 px above the top edge.
  EXPECT_EQ(7, TestBulletHit(&b, CHAR_KIND_ENEMY, 0, 0, box, 0, CHAR_SHAPE_BOX));
  EXPECT_EQ(0, TestBulletHit(&b, CHAR_KIND_ENEMY, 150, 150, nullptr, 50, CHAR_SHAPE_BOX))
      << "a box querier without corners";
  Body far = CircleBullet(CHAR_KIND_PLAYER_BULLET, 150, 80, 6, 20000, 0);
  EXPECT_EQ(0, TestBulletHit(&far, CHAR_KIND_ENEMY, 0, 0, box, 0, CHAR_SHAPE_BOX));
}

TEST(BulletHit, BoxBulletAgainstCircleAndBox) {
  Body b;
  b.KindWord = CHAR_KIND_ENEMY_BULLET;
  b.Shape = CHAR_SHAPE_BOX;
  b.Attack = 3;
  const double corners[8] = {100, 100, 200, 100, 200, 200, 100, 200};
  for (int i = 0; i < 8; ++i) b.BoxCorner[i] = corners[i];
  EXPECT_EQ(3, TestBulletHit(&b, CHAR_KIND_PLAYER, 150, 150, nullptr, 10, CHAR_SHAPE_CIRCLE));
  EXPECT_EQ(3, TestBulletHit(&b, CHAR_KIND_PLAYER, 205, 150, nullptr, 10, CHAR_SHAPE_CIRCLE));
  EXPECT_EQ(0, TestBulletHit(&b, CHAR_KIND_PLAYER, 250, 150, nullptr, 10, CHAR_SHAPE_CIRCLE));
  EXPECT_EQ(0, TestBulletHit(&b, CHAR_KIND_PLAYER, 150, 150, corners, 10, CHAR_SHAPE_BOX))
      << "box against box never hits";
}

// ------------------------------------------------------------ CCharCtl

class CharCtlTest : public PlayTest {};

TEST_F(CharCtlTest, TitleSceneHoldsNothingAndTouchesNoGlobal) {
  FakePlayerMessenger player;
  FakeBulletMessenger bullet;
  FakeItemMessenger item;
  PlayerMessengerPtr = &player;
  BulletMessengerPtr = &bullet;
  ItemMessengerPtr = &item;
  EnemyCtlFactory = FakeEnemyCtl::Create;
  DebugTaskInstance.DebugDisplayFlag = 1;
  {
    CCharCtl ctl(SCENE_ID_TITLE, nullptr);
    EXPECT_EQ(nullptr, ctl.PlayerCtl);
    EXPECT_EQ(nullptr, ctl.EnemyCtl);
    EXPECT_EQ(nullptr, ctl.BulletPtnCtl);
    EXPECT_EQ(nullptr, ctl.BulletCtl);
    EXPECT_EQ(nullptr, ctl.ItemCtl);
    EXPECT_EQ(nullptr, ctl.Messengers.Player);
    EXPECT_EQ(nullptr, ctl.Messengers.Enemy);
    ctl.Init();
    ctl.Update();
    ctl.Draw();
    EXPECT_TRUE(Calls().empty());
    for (int i : DrawQueueLayerIndex) EXPECT_EQ(0, i);
    EXPECT_EQ(0, FakeEnemyCtl::Live);
  }
  EXPECT_EQ(&player, PlayerMessengerPtr);
  EXPECT_EQ(&bullet, BulletMessengerPtr);
  EXPECT_EQ(&item, ItemMessengerPtr);
}

TEST_F(CharCtlTest, PlaySceneWiresFiveControllersAndPublishesTheirFaces) {
  EnemyCtlFactory = FakeEnemyCtl::Create;
  {
    CCharCtl ctl(SCENE_ID_PLAY, nullptr);
    ASSERT_NE(nullptr, ctl.PlayerCtl);
    ASSERT_NE(nullptr, ctl.EnemyCtl);
    ASSERT_NE(nullptr, ctl.BulletPtnCtl);
    ASSERT_NE(nullptr, ctl.BulletCtl);
    ASSERT_NE(nullptr, ctl.ItemCtl);
    EXPECT_EQ(static_cast<CPlayerMessenger*>(ctl.PlayerCtl), PlayerMessengerPtr);
    EXPECT_EQ(static_cast<CBulletMessenger*>(ctl.BulletCtl), BulletMessengerPtr);
    EXPECT_EQ(static_cast<CItemMessenger*>(ctl.ItemCtl), ItemMessengerPtr);
    EXPECT_EQ(static_cast<CPlayerMessenger*>(ctl.PlayerCtl), ctl.Messengers.Player);
    EXPECT_EQ(static_cast<CBulletPtnMessenger*>(ctl.BulletPtnCtl), ctl.Messengers.BulletPtn);
    EXPECT_EQ(static_cast<CBulletMessenger*>(ctl.BulletCtl), ctl.Messengers.Bullet);
    EXPECT_EQ(static_cast<CEnemyMessenger*>(ctl.EnemyCtl), ctl.Messengers.Enemy);
    EXPECT_EQ(static_cast<CItemMessenger*>(ctl.ItemCtl), ctl.Messengers.Item);
    EXPECT_EQ(nullptr, ctl.PlayerCtl->Head) << "the player is made by Init";

    ctl.Init();
    ASSERT_NE(nullptr, ctl.PlayerCtl->Head);
    EXPECT_EQ(ctl.PlayerCtl->Head, ctl.PlayerCtl->Tail);
    EXPECT_EQ(5, StatusInstance.GetStatusField(1, STATUS_LIVES));
    FakeEnemyCtl* enemy = static_cast<FakeEnemyCtl*>(ctl.EnemyCtl);
    EXPECT_EQ(ctl.Messengers.Player, enemy->Faces.Player);
    EXPECT_EQ(ctl.Messengers.Item, enemy->Faces.Item);
    EXPECT_EQ(ctl.Messengers.Enemy, ctl.BulletCtl->Faces.Enemy);
    EXPECT_EQ(ctl.Messengers.Bullet, ctl.BulletPtnCtl->Faces.Bullet);
    EXPECT_EQ(ctl.Messengers.Player, ctl.ItemCtl->Faces.Player);
    EXPECT_EQ(ctl.Messengers.BulletPtn, ctl.PlayerCtl->Faces.BulletPtn);
    EXPECT_EQ(1, FakeEnemyCtl::Live);
  }
  EXPECT_EQ(0, FakeEnemyCtl::Live) << "discarded with the character controller";
  EXPECT_EQ(nullptr, PlayerMessengerPtr) << "no published face outlives its controller";
  EXPECT_EQ(nullptr, BulletMessengerPtr);
  EXPECT_EQ(nullptr, ItemMessengerPtr);
}

TEST_F(CharCtlTest, WithoutAnEnemyFactoryThePlaySceneRunsWithoutEnemies) {
  CCharCtl ctl(SCENE_ID_PLAY, nullptr);
  EXPECT_EQ(nullptr, ctl.EnemyCtl);
  EXPECT_EQ(nullptr, ctl.Messengers.Enemy);
  ctl.Init();
  for (int i = 0; i < 5; ++i) ctl.Update();
  ctl.Draw();
  EXPECT_EQ(1, ListCount(*ctl.PlayerCtl));
}

TEST_F(CharCtlTest, PassesRunInOrderAndTheBulletPassComesFirst) {
  EnemyCtlFactory = FakeEnemyCtl::Create;
  CCharCtl ctl(SCENE_ID_PLAY, nullptr);
  ctl.Init();
  FakeEnemyCtl* enemy = static_cast<FakeEnemyCtl*>(ctl.EnemyCtl);

  ClearCalls();
  ctl.Update();
  std::vector<std::string> expected = {"Enemy.Update", "Enemy.CheckHit(0)", "Enemy.TakeHitsFrom"};
  EXPECT_EQ(expected, Calls());
  EXPECT_EQ(static_cast<CCharMessenger*>(ctl.BulletCtl), enemy->LastHitSource);

  // An enemy bullet on the player: the bullet pass hits first, so the enemy
  // pass of the same frame finds the player invincible and asks nothing.
  BulletParams shot = MakeBulletParams(BULLET_SEARCH, 480, 670, 1, PI / 2, 0);
  ctl.BulletCtl->CreateBullet(shot);
  ctl.BulletCtl->Head->Speed = 0;
  ClearCalls();
  ctl.Update();
  EXPECT_EQ(4, StatusInstance.GetStatusField(1, STATUS_LIVES));
  EXPECT_EQ(0, CountOf("Enemy.CheckHit"));
  EXPECT_EQ(179, ctl.PlayerCtl->Head->InvincibleFrames) << "two passes, one countdown";
}

TEST_F(CharCtlTest, ItemsOnThePlayerArePickedUpInTheSameFrame) {
  CCharCtl ctl(SCENE_ID_PLAY, nullptr);
  ctl.Init();
  ctl.ItemCtl->CreateItem(ITEM_QUINSEL, 480, 670);
  ctl.Update();
  EXPECT_EQ(1, StatusInstance.GetStatusField(1, STATUS_ITEM_COUNT));
  EXPECT_TRUE(ctl.ItemCtl->Head->Dead);
  ctl.Update();
  EXPECT_EQ(nullptr, ctl.ItemCtl->Head);
}

TEST_F(CharCtlTest, DrawOrderAndTheDebugBulletCount) {
  EnemyCtlFactory = FakeEnemyCtl::Create;
  CCharCtl ctl(SCENE_ID_PLAY, nullptr);
  ctl.Init();
  ctl.BulletCtl->CreateBullet(MakeBulletParams(BULLET_SEARCH, 400, 300, 1, 0, 0));
  ctl.BulletCtl->CreateBullet(MakeBulletParams(BULLET_SEARCH, 420, 300, 1, 0, 0));
  ctl.ItemCtl->CreateItem(ITEM_SEED, 300, 300);
  DebugTaskInstance.DebugDisplayFlag = 1;
  ClearCalls();
  ctl.Draw();
  std::vector<std::string> expected = {"SetSamplingMode(1)", "SetSamplingMode(0)", "Enemy.Draw"};
  EXPECT_EQ(expected, Calls());
  EXPECT_EQ(1, DrawQueueLayerIndex[6]) << "the player on layer 7";
  EXPECT_EQ(2, DrawQueueLayerIndex[4]) << "two bullets on layer 5";
  EXPECT_EQ(1, DrawQueueLayerIndex[5]) << "the item on layer 6";
  // Layer 12: the player's debug circle, two bullet circles, the text.
  ASSERT_EQ(4, DrawQueueLayerIndex[11]);
  const DrawEntry& text = DrawQueue[11][3];
  EXPECT_EQ(DRAW_TEXT, text.Kind);
  EXPECT_STREQ("bullet num:2", text.Text);
  EXPECT_EQ(20, text.X1);
  EXPECT_EQ(200, text.Y1);
  EXPECT_EQ(0, text.Color);
  EXPECT_EQ(1, text.FontSizeIndex);
  EXPECT_EQ(0, text.FontTypeIndex);
}

}  // namespace
