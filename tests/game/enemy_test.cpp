#include <math.h>

#include <memory>

#include "Enemy.h"
#include "EnemyDoubles.h"
#include "GameFixture.h"
#include "StoredRandomTable.h"

using namespace ridov_double;
using namespace enemy_doubles;

namespace {


// Enemy face of a controller: logs the enemies asked for.
class FakeEnemyOwner : public CEnemyMessenger {
 public:
  void CreateEnemy(int kind, int x, int y, const int* drops, int extra) override {
    Record("Enemy.Create(" + Args({kind, x, y, drops != nullptr, extra}) + ")");
  }
  int FindNearestEnemy(int, int) override { return -1; }
  int GetEnemyPos(int, int*, int*) override { return -1; }
};

// The first cursor from `from` on whose stored value satisfies `want`.
int CursorWhere(int from, bool (*want)(int)) {
  for (int c = from; c < STORED_RANDOM_COUNT; ++c)
    if (want(StoredRandomTable[c])) return c;
  return -1;
}

class EnemyKindTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    PlayerMessengerPtr = &player;
    for (int kind = 0; kind < ENEMY_KIND_COUNT; ++kind)
      for (int t = 0; t < 16; ++t) DrawCtlInstance.ImageSets[10 + kind].Handles[t] = 1000 * (kind + 1) + t;
    DrawCtlInstance.ImageSets[317].Handles[0] = 317;
    DrawCtlInstance.ImageSets[318].Handles[0] = 318;
  }
  void TearDown() override { PlayerMessengerPtr = nullptr; }

  // An enemy of `kind` set up at (x, y) px with the fake faces.
  CBaseEnemy* Make(int kind, int x, int y, int extra = 0) {
    enemy.reset(MakeEnemyOfKind(kind));
    enemy->KindIndex = kind;
    enemy->EnemyId = 5;
    enemy->Owner = &owner;
    MessengerSet faces = {&player, &patterns, nullptr, &owner, nullptr};
    enemy->Setup(faces, x, y, nullptr, extra);
    return enemy.get();
  }

  // Updates until the first pattern is created; the update count or -1.
  int UpdatesToFirstPattern(int limit) {
    int before = CountOf("Ptn.Create");
    for (int i = 1; i <= limit; ++i) {
      enemy->Update();
      if (CountOf("Ptn.Create") > before) return i;
    }
    return -1;
  }

  int LayerCount(int layer) const { return DrawQueueLayerIndex[layer - 1]; }
  int CountGraphic(int layer, int graphic) const {
    int n = 0;
    for (int i = 0; i < DrawQueueLayerIndex[layer - 1]; ++i)
      if (DrawQueue[layer - 1][i].Graphic == graphic) ++n;
    return n;
  }

  FakePlayer player;
  FakePatterns patterns;
  FakeEnemyOwner owner;
  std::unique_ptr<CBaseEnemy> enemy;
};

TEST_F(EnemyKindTest, SetupFillsFromTheKindTable) {
  struct {
    int hp, shape, radius, boxW, boxH, speed, airborne, w, h;
  } rows[] = {
      {1500, 0, 20, 0, 0, 2000, 1, 50, 50},       {1500, 0, 20, 0, 0, 4500, 1, 50, 50},
      {23000, 1, 0, 130, 90, 700, 1, 150, 120},   {5000, 1, 0, 40, 50, 500, 0, 75, 75},
      {20000, 1, 0, 120, 100, 700, 1, 150, 120},  {33000, 1, 0, 100, 90, 800, 1, 150, 240},
      {400000, 1, 0, 110, 90, 2000, 1, 130, 130},
  };
  const int drops[4] = {3, -1, 0, -1};
  for (int kind = 0; kind < ENEMY_KIND_COUNT; ++kind) {
    CBaseEnemy* e = MakeEnemyOfKind(kind);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(-1, e->EnemyId);
    EXPECT_EQ(-1, e->PatternId);
    EXPECT_EQ(-1, e->Drop[0]);
    e->KindIndex = kind;
    MessengerSet faces = {&player, &patterns, nullptr, &owner, nullptr};
    e->Setup(faces, 321, -45, kind == 2 ? drops : nullptr, 9);
    EXPECT_EQ(rows[kind].hp, e->HitPoints) << kind;
    EXPECT_EQ(CHAR_KIND_ENEMY, e->KindWord);
    EXPECT_EQ(rows[kind].shape, e->Shape) << kind;
    EXPECT_EQ(rows[kind].radius, e->Radius) << kind;
    EXPECT_EQ(rows[kind].boxW, e->BoxWidth) << kind;
    EXPECT_EQ(rows[kind].boxH, e->BoxHeight) << kind;
    EXPECT_EQ(rows[kind].speed, e->Speed) << kind;
    EXPECT_EQ(rows[kind].airborne, e->Airborne) << kind;
    EXPECT_EQ(rows[kind].w, e->ImageWidth) << kind;
    EXPECT_EQ(rows[kind].h, e->ImageHeight) << kind;
    EXPECT_EQ(1, e->Attack);
    EXPECT_EQ(321000, e->X);
    EXPECT_EQ(-45000, e->Y);
    EXPECT_DOUBLE_EQ(321.0, e->PxX);
    EXPECT_DOUBLE_EQ(-45.0, e->PxY);
    EXPECT_DOUBLE_EQ(1.0, e->Scale);
    EXPECT_EQ(9, e->Extra);
    EXPECT_EQ(1000 * (kind + 1) + 15, e->Tiles[15]);
    EXPECT_EQ(kind == 2 ? 3 : -1, e->Drop[0]);
    EXPECT_EQ(kind == 5 ? 50 : kind == 6 ? 10 : 0, e->DrawOffsetY);
    delete e;
  }
  EXPECT_EQ(nullptr, MakeEnemyOfKind(7));
  EXPECT_EQ(100, EnemyKindTable[0].Score);
  EXPECT_EQ(30000, EnemyKindTable[6].Score);
}

TEST_F(EnemyKindTest, FiringGate) {
  struct Case {
    int airborne;
    int playerX, playerY;
    double x, y;
    bool fires;
  } cases[] = {
      {0, 400, 400, 400, 291, false},    // ground, 109 px from the player
      {0, 400, 400, 400, 290, true},     // 110 px away
      {0, 400, 400, 400, 290.5, false},  // 109.5 px
      {1, 400, 400, 400, 350, true},     // airborne kinds ignore the distance
      {1, 0, 0, 400, 576, false},       {1, 0, 0, 400, 575.9, true}, {1, 0, 0, 209.9, 100, false},
      {1, 0, 0, 210, 0, true},          {1, 0, 0, 750, 100, true},   {1, 0, 0, 750.1, 100, false},
      {1, 0, 0, 400, -0.1, false},
  };
  Make(0, 400, 100);
  for (const Case& c : cases) {
    enemy->Airborne = c.airborne;
    player.X = c.playerX;
    player.Y = c.playerY;
    EXPECT_EQ(c.fires, CBaseEnemy::MayFire(enemy.get(), c.x, c.y)) << c.x << "," << c.y;
  }
  // Without a player face the player is taken at (0, 0), out of reach.
  PlayerMessengerPtr = nullptr;
  enemy->Airborne = 0;
  EXPECT_TRUE(CBaseEnemy::MayFire(enemy.get(), 210, 50));
}

TEST_F(EnemyKindTest, RubyrouFiresAfterItsDrawnThresholdFromBeforeItsMove) {
  RandInstance.RandomCursor = 40;
  int threshold = 120 + StoredRandomTable[40] % 121;
  Make(0, 400, 100);
  int updates = UpdatesToFirstPattern(400);
  // The timer passes the threshold (t > T) on update T + 2.
  EXPECT_EQ(threshold + 2, updates);
  EXPECT_EQ(42, RandInstance.RandomCursor);  // a new threshold was drawn
  int fromY = 100 + 2 * (updates - 1);
  EXPECT_EQ((std::vector<std::string>{"Ptn.Create(6,0,400," + std::to_string(fromY) + ",0,0)"}), CallsOf("Ptn.Create"));
  EXPECT_EQ(0, enemy->PatternId);
  EXPECT_EQ(1000, enemy->Graph[0]);
  EXPECT_EQ(updates, enemy->FrameCount);

  // Below y 576 it never fires.
  RandInstance.RandomCursor = 40;
  Make(0, 400, 330);
  ClearCalls();
  EXPECT_EQ(-1, UpdatesToFirstPattern(400));
}

TEST_F(EnemyKindTest, CannonAngleTable) {
  struct {
    int extra;
    int dx, dy;  // 1/1000 px after one update
  } cases[] = {
      {0, 0, -500}, {9, -500, 0}, {18, 0, 500}, {27, 500, 0}, {35, 86, -492}, {36, 0, -500}, {-1, 0, -500},
  };
  player.X = 0;
  player.Y = 0;
  for (const auto& c : cases) {
    Make(3, 400, 300, c.extra);
    enemy->Update();
    EXPECT_NEAR(c.dx, enemy->X - 400000, 1) << c.extra;
    EXPECT_NEAR(c.dy, enemy->Y - 300000, 1) << c.extra;
    double angle = c.extra >= 0 && c.extra <= 35 ? 4.7123889803847 - c.extra * 0.17453292519943334 : 4.7123889803847;
    EXPECT_DOUBLE_EQ(angle, enemy->GraphAngle[0]) << c.extra;
    EXPECT_EQ(4001, enemy->Graph[0]);  // base
    EXPECT_EQ(4008, enemy->Graph[1]);  // barrel
  }
  // The barrel turns toward the player from the cannon's new whole-pixel
  // position (400, 299), a quarter turn on from the direction.
  player.X = 100;
  player.Y = 300;
  Make(3, 400, 300);
  enemy->Update();
  EXPECT_DOUBLE_EQ(atan2(1.0, -300.0) + 1.5707963267949, enemy->GraphAngle[1]);
}

TEST_F(EnemyKindTest, CannonHoldsFireWithin110PxOfThePlayer) {
  struct {
    int playerY;
    bool fires;
  } cases[] = {{409, false}, {411, true}};  // the cannon stands at y 299.5 after its move
  for (const auto& c : cases) {
    player.X = 400;
    player.Y = c.playerY;
    Make(3, 400, 300);
    enemy->Work[0] = 1;  // the countdown runs out this update
    ClearCalls();
    enemy->Update();
    EXPECT_EQ(c.fires ? 1 : 0, CountOf("Ptn.Create")) << c.playerY;
    if (c.fires) {
      EXPECT_EQ("Ptn.Create(6,0,400,299,0,0)", CallsOf("Ptn.Create")[0]);
    }
    // Refused: a new countdown is drawn on the next update.
    if (!c.fires) {
      int cursor = RandInstance.RandomCursor;
      enemy->Update();
      EXPECT_EQ(cursor + 1, RandInstance.RandomCursor);
      EXPECT_EQ(180 + StoredRandomTable[cursor] % 121 - 1, enemy->Work[0]);
    }
  }
}

TEST_F(EnemyKindTest, AgcatAndDoradoraFireEvery150Frames) {
  Make(2, 400, 100);
  EXPECT_EQ(150, UpdatesToFirstPattern(400));
  // 150 moves of 0.7 px, each truncated to 1/1000 px: just short of 205.
  EXPECT_EQ("Ptn.Create(8,0,400,204,0,0)", CallsOf("Ptn.Create")[0]);
  EXPECT_EQ(150, UpdatesToFirstPattern(400));

  Make(4, 400, 100);
  ClearCalls();
  EXPECT_EQ(150, UpdatesToFirstPattern(400));
  EXPECT_EQ("Ptn.Create(10,0,400,204,0,0)", CallsOf("Ptn.Create")[0]);
  EXPECT_EQ(5004, enemy->Graph[0]);  // the flash
  for (int i = 0; i < 89; ++i) enemy->Update();
  EXPECT_EQ(5004, enemy->Graph[0]);
  enemy->Update();
  EXPECT_EQ(5000, enemy->Graph[0]);

  // Refused by the gate (below y 576): the countdown restarts at 150.
  Make(2, 400, 600);
  enemy->Work[0] = 1;
  enemy->Update();
  EXPECT_EQ(0, enemy->Work[0]);
  enemy->Update();
  EXPECT_EQ(149, enemy->Work[0]);
}

TEST_F(EnemyKindTest, FlameFlySwoopsHoversFiresAndDashes) {
  Make(1, 400, 100);
  for (int i = 0; i < 61; ++i) enemy->Update();
  EXPECT_EQ((100 + static_cast<int>(504 * sin(60 * 1.5707963267949 / 120))) * 1000, enemy->Y);
  for (int i = 61; i < 121; ++i) enemy->Update();
  EXPECT_EQ(1, enemy->Work[0]);  // hovering
  EXPECT_EQ(100000 + 503000, enemy->Y);
  // Hovering at y 603 is below the firing line: try it higher.
  Make(1, 400, -450);
  player.X = 400;
  player.Y = 670;
  for (int i = 0; i < 121 + 60; ++i) enemy->Update();
  EXPECT_EQ((std::vector<std::string>{"Ptn.Create(6,0,400,53,0,0)"}), CallsOf("Ptn.Create"));
  // Tiles during the hover follow t / 7: t 61 gives q 8, tile 14 - 8.
  EXPECT_EQ(2006, enemy->Graph[0]);
  for (int i = 0; i < 61; ++i) enemy->Update();  // t runs past 120
  EXPECT_EQ(2, enemy->Work[0]);                  // dashing
  EXPECT_NEAR(PI / 2, enemy->Angle, 1e-12);
  int y = enemy->Y;
  enemy->Update();  // t 1 of the dash: a tiny step
  EXPECT_NEAR(4.5 * (2.0 / 60 - 1.0 / 3600), (enemy->Y - y) / 1000.0, 1e-3);
}

TEST_F(EnemyKindTest, FairyKnightDescendsThenGlidesAtThePlayer) {
  player.X = 300;
  player.Y = 600;
  Make(5, 480, 100);
  int updates = 0;
  while (enemy->Work[0] == 0 && updates < 100) {
    enemy->Update();
    ++updates;
  }
  EXPECT_EQ(63, updates);  // 62 moves of 0.8 px to 149.6, then the turn
  EXPECT_EQ(480, enemy->Work[3]);
  EXPECT_EQ(149, enemy->Work[4]);
  EXPECT_EQ(300, enemy->Work[5]);
  EXPECT_EQ(600, enemy->Work[6]);
  for (int i = 0; i < 90; ++i) enemy->Update();
  EXPECT_NEAR(300, enemy->X / 1000.0, 0.5);
  EXPECT_NEAR(600, enemy->Y / 1000.0, 0.5);
  EXPECT_EQ(6006, enemy->Graph[0]);
  for (int i = 0; i < 31; ++i) enemy->Update();
  EXPECT_EQ(2, enemy->Work[0]);
  EXPECT_EQ(250, enemy->Work[6]);  // 350 px above the player
  EXPECT_EQ(0, CountOf("Ptn.Create"));
}

TEST_F(EnemyKindTest, BossChoosesByTheParityOfAStoredValue) {
  auto even = [](int v) { return v % 2 == 0; };
  auto odd = [](int v) { return v % 2 != 0; };
  for (bool summons : {false, true}) {
    Make(6, 480, -65);
    ClearCalls();
    int entry = 0;
    while (enemy->Work[0] == 0) {
      enemy->Update();
      ++entry;
    }
    EXPECT_EQ(133, entry);  // 2 px a frame from -65 past 200
    int cursor = CursorWhere(100, summons ? +odd : +even);
    RandInstance.RandomCursor = cursor;
    for (int i = 0; i < 330; ++i) enemy->Update();
    EXPECT_EQ(summons ? 3 : 2, enemy->Work[0]);
    EXPECT_EQ(cursor + 1, RandInstance.RandomCursor);
    enemy->Update();
    EXPECT_EQ(1, enemy->Work[0]);
    if (!summons) {
      EXPECT_EQ((std::vector<std::string>{"Ptn.Create(11,0,480,201,0,0)"}), CallsOf("Ptn.Create"));
      EXPECT_EQ(0, CountOf("Enemy.Create"));
      continue;
    }
    std::vector<std::string> expected;
    for (int i = 0; i < 20; ++i) {
      int r1 = StoredRandomTable[cursor + 1 + 2 * i], r2 = StoredRandomTable[cursor + 2 + 2 * i];
      expected.push_back("Enemy.Create(" + Args({1, 264 + r1 % 433, -50 - r2 % 301, 0, 0}) + ")");
    }
    EXPECT_EQ(expected, CallsOf("Enemy.Create"));
    EXPECT_EQ(0, CountOf("Ptn.Create"));
  }
}

TEST_F(EnemyKindTest, BossRingStripsFollowItsHitPoints) {
  struct {
    int hp;
    int strips;
  } cases[] = {{400000, 1439}, {400001, 1440}, {200000, 719}, {200001, 720}, {1000, 3}, {1, 0}, {0, 0}, {-5, 0}};
  for (const auto& c : cases) {
    memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);
    Make(6, 480, 200);
    enemy->Graph[0] = 7000;
    enemy->HitPoints = c.hp;
    enemy->Draw();
    EXPECT_EQ(c.strips, CountGraphic(8, 317)) << c.hp;
    EXPECT_EQ(1440, CountGraphic(8, 318)) << c.hp;
    EXPECT_EQ(c.strips + 1440, LayerCount(8));
  }
  // Strip j stands at angle j / 720 * pi about the boss.
  const DrawEntry& last = DrawQueue[7][LayerCount(8) - 1];
  EXPECT_DOUBLE_EQ(1439 / 720.0 * PI, last.Angle);
  EXPECT_DOUBLE_EQ(480.0, last.Quad[0]);
  EXPECT_DOUBLE_EQ(200.0, last.Quad[1]);
  EXPECT_TRUE(last.Clip.Enabled);
}

TEST_F(EnemyKindTest, DrawByShapeAndLayer) {
  Make(0, 400, 300);
  enemy->Update();  // tile 0, at y 302
  enemy->Draw();
  ASSERT_EQ(1, LayerCount(4));
  const DrawEntry& small = DrawQueue[3][0];
  EXPECT_EQ(DRAW_IMAGE, small.Kind);
  EXPECT_EQ(375, small.X1);
  EXPECT_EQ(277, small.Y1);
  EXPECT_EQ(1000, small.Graphic);
  EXPECT_EQ(255, small.Alpha);
  EXPECT_TRUE(small.Clip.Enabled);
  EXPECT_EQ(210, small.Clip.X1);
  EXPECT_EQ(750, small.Clip.X2);
  EXPECT_EQ(720, small.Clip.Y2);

  Make(3, 400, 300);  // ground, two slots, rotated
  enemy->Update();
  enemy->Draw();
  ASSERT_EQ(2, LayerCount(3));
  EXPECT_EQ(DRAW_IMAGE_ROTATED, DrawQueue[2][0].Kind);
  EXPECT_EQ(4001, DrawQueue[2][0].Graphic);
  EXPECT_EQ(4008, DrawQueue[2][1].Graphic);
  EXPECT_DOUBLE_EQ(299.5, DrawQueue[2][0].Quad[1]);

  Make(5, 400, 100);
  enemy->Update();
  enemy->Draw();
  EXPECT_DOUBLE_EQ(100.8 + 50, DrawQueue[3][1].Quad[1]);  // the draw offset

  // Debug display: the circle, or the box's markers and hit box.
  memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);
  DebugTaskInstance.DebugDisplayFlag = 1;
  Make(0, 400, 300);
  enemy->Update();
  enemy->Draw();
  ASSERT_EQ(1, LayerCount(12));
  EXPECT_EQ(DRAW_CIRCLE, DrawQueue[11][0].Kind);
  EXPECT_EQ(20, DrawQueue[11][0].Radius);
  Make(3, 400, 300);
  enemy->Update();
  enemy->UpdateHitBoxCorners();
  enemy->Draw();
  ASSERT_EQ(5, LayerCount(12));
  EXPECT_EQ(DRAW_BOX, DrawQueue[11][1].Kind);
  EXPECT_EQ(0xFF0000, DrawQueue[11][1].Color);
  EXPECT_EQ(0x00FF00, DrawQueue[11][2].Color);
  EXPECT_EQ(DRAW_TRIANGLE, DrawQueue[11][3].Kind);
  EXPECT_EQ(150, DrawQueue[11][3].Alpha);
}

}  // namespace

namespace {

// A schedule row is data: a position far past any bound (the reader keeps
// whole ints up to 2^31) must not overflow when it becomes 1/1000 px or
// moves; such an enemy is held a million px out and leaves at its first
// update like any other enemy out of bounds.
TEST_F(EnemyKindTest, PositionsFarOutsideAreHeldWhereTheyFitInAnInt) {
  struct {
    int x, y;
    int heldX, heldY;
  } cases[] = {
      {3000000, -9000000, 1000000, -1000000},
      {2147483647, -2147483647 - 1, 1000000, -1000000},
      {-1000000, 1000000, -1000000, 1000000},
      {480, -30, 480, -30},
  };
  for (const auto& c : cases) {
    for (int kind = 0; kind < ENEMY_KIND_COUNT; ++kind) {
      Make(kind, c.x, c.y);
      EXPECT_EQ(c.heldX * 1000, enemy->X) << kind << ": " << c.x;
      EXPECT_EQ(c.heldY * 1000, enemy->Y) << kind << ": " << c.y;
      EXPECT_DOUBLE_EQ(c.heldX, enemy->PxX) << kind;
      EXPECT_DOUBLE_EQ(c.heldY, enemy->PxY) << kind;
      enemy->Update();  // a frame of movement stays in range
      EXPECT_NEAR(c.heldX, enemy->X / 1000.0, 5) << kind;
      EXPECT_NEAR(c.heldY, enemy->Y / 1000.0, 5) << kind;
    }
  }
}

}  // namespace
