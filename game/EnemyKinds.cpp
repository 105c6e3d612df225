// The seven enemy kinds and their common base.
#include <math.h>
#include <string.h>

#include <new>

#include "DrawCtl.h"
#include "Enemy.h"
#include "GameMain.h"
#include "Screen.h"

const EnemyKindRow EnemyKindTable[ENEMY_KIND_COUNT] = {
    {"img/enemy/rubyrou.png", 50, 50, 0, 0, 1500, 1, 2000, 1, 20, 0, 0, 100, 1},
    {"img/enemy/flamefly.png", 50, 50, 0, 0, 1500, 1, 4500, 1, 20, 0, 0, 200, 2},
    {"img/enemy/agcat.png", 150, 120, 0, 0, 23000, 1, 700, 1, 0, 130, 90, 500, 3},
    {"img/enemy/cannon.png", 75, 75, 0, 0, 5000, 1, 500, 0, 0, 40, 50, 300, 4},
    {"img/enemy/doradora.png", 150, 120, 0, 0, 20000, 1, 700, 1, 0, 120, 100, 700, 5},
    {"img/enemy/fairyknight.png", 150, 240, 0, 0, 33000, 1, 800, 1, 0, 100, 90, 1500, 6},
    {"img/enemy/kukuru.png", 130, 130, 0, 0, 400000, 1, 2000, 1, 0, 110, 90, 30000, 7},
};

namespace {

const double ANGLE_DOWN = 1.5707963267949;
const double ANGLE_UP = 4.7123889803847;
const double TEN_DEGREES = 0.17453292519943334;

enum {
  GROUND_LAYER = 3,
  AIR_LAYER = 4,
  GAUGE_LAYER = 8,
  DEBUG_LAYER = 12,
};

const double NO_FIRE_DISTANCE = 110.0;  // ground enemies hold fire this close to the player
const double NO_FIRE_BELOW = 576.0;

enum { GAUGE_STRIPS = 1440 };

const DrawClip PLAY_FIELD_CLIP = {true, PLAY_FIELD_LEFT, PLAY_FIELD_TOP, PLAY_FIELD_RIGHT, PLAY_FIELD_BOTTOM};

// Positions come from the schedule file: one far past every bound is held a
// million px out, where it still fits an int in 1/1000 px while it moves (the
// controller removes it at its first update like any enemy out of bounds).
enum { POSITION_LIMIT_PX = 1000000 };

int LimitPosition(int px) {
  if (px < -POSITION_LIMIT_PX) return -POSITION_LIMIT_PX;
  if (px > POSITION_LIMIT_PX) return POSITION_LIMIT_PX;
  return px;
}

int FirstHandle(int category, int index) {
  int handles[IMAGE_SET_SIZE] = {};
  DrawCtlInstance.CopyImageSet(category, index, handles);
  return handles[0];
}

}  // namespace

CBaseEnemy* MakeEnemyOfKind(int kind) {
  switch (kind) {
    case 0: return new (std::nothrow) CEnemy_Rubyrou();
    case 1: return new (std::nothrow) CEnemy_FlameFly();
    case 2: return new (std::nothrow) CEnemy_Agcat();
    case 3: return new (std::nothrow) CEnemy_Cannon();
    case 4: return new (std::nothrow) CEnemy_Doradora();
    case 5: return new (std::nothrow) CEnemy_FairyKnight();
    case 6: return new (std::nothrow) CEnemy_Kukuru();
    default: return nullptr;
  }
}

// ---------------------------------------------------------------------------
// Base

CBaseEnemy::CBaseEnemy()
    : Faces(), Owner(nullptr), EnemyId(-1), KindIndex(0), PatternId(-1), Extra(0), Airborne(1), DrawOffsetX(0),
      DrawOffsetY(0) {
  HitPoints = 0;
  KindWord = CHAR_KIND_ENEMY;
  Shape = CHAR_SHAPE_CIRCLE;
  PxX = PxY = 0;
  memset(BoxCorner, 0, sizeof BoxCorner);
  memset(LaserCorner, 0, sizeof LaserCorner);
  Attack = Speed = 0;
  Angle = ANGLE_DOWN;
  Radius = BoxWidth = BoxHeight = 0;
  Scale = 1.0;
  ImageWidth = ImageHeight = 0;
  for (int& d : Drop) d = -1;
  for (double& a : GraphAngle) a = 0;
  for (int& t : Tiles) t = 0;
}

void CBaseEnemy::Setup(const MessengerSet& faces, int x, int y, const int* drops, int extra) {
  x = LimitPosition(x);
  y = LimitPosition(y);
  X = x * 1000;
  Y = y * 1000;
  if (drops != nullptr)
    for (int i = 0; i < ENEMY_DROP_KINDS; ++i) Drop[i] = drops[i];
  Faces = faces;
  if (KindIndex < 0 || KindIndex >= ENEMY_KIND_COUNT) KindIndex = 0;
  const EnemyKindRow& row = EnemyKindTable[KindIndex];
  HitPoints = row.HitPoints;
  KindWord = CHAR_KIND_ENEMY;
  Shape = row.Radius == 0 ? CHAR_SHAPE_BOX : CHAR_SHAPE_CIRCLE;
  Attack = row.Attack;
  Airborne = row.Airborne;
  Radius = row.Radius;
  BoxWidth = row.BoxWidth;
  BoxHeight = row.BoxHeight;
  ImageWidth = row.Width;
  ImageHeight = row.Height;
  Speed = row.Speed;
  Scale = 1.0;
  PxX = x;
  PxY = y;
  Extra = extra;
  Angle = ANGLE_DOWN;
  int handles[IMAGE_SET_SIZE] = {};
  DrawCtlInstance.CopyImageSet(1, KindIndex, handles);
  memcpy(Tiles, handles, sizeof Tiles);
}

bool CBaseEnemy::MayFire(const CBaseEnemy* enemy, double x, double y) {
  double px = 0, py = 0;
  if (PlayerMessengerPtr != nullptr) PlayerMessengerPtr->GetPlayerPosF(1, &px, &py);
  double distance = sqrt((px - x) * (px - x) + (py - y) * (py - y));
  if (distance < NO_FIRE_DISTANCE && enemy->Airborne == 0) return false;
  if (y >= NO_FIRE_BELOW) return false;
  return x >= PLAY_FIELD_LEFT && x <= PLAY_FIELD_RIGHT && y >= PLAY_FIELD_TOP && y <= PLAY_FIELD_BOTTOM;
}

namespace {

void StorePosition(CBaseChar* c, double x, double y) {
  c->X = static_cast<int>(x * 1000);
  c->Y = static_cast<int>(y * 1000);
  c->PxX = x;
  c->PxY = y;
}

}  // namespace

void CBaseEnemy::MoveAlongAngle() {
  double step = Speed / 1000.0;
  StorePosition(this, X / 1000.0 + cos(Angle) * step, Y / 1000.0 + sin(Angle) * step);
}

void CBaseEnemy::MoveDown() {
  double step = Speed / 1000.0;
  StorePosition(this, X / 1000.0, Y / 1000.0 + step);
}

void CBaseEnemy::CreatePattern(int kind, int x, int y) {
  if (Faces.BulletPtn == nullptr) return;
  PatternId = Faces.BulletPtn->CreatePattern(kind, 0, x, y, 0, 0);
}

void CBaseEnemy::PlayerPosition(int* x, int* y) const {
  *x = 0;
  *y = 0;
  if (Faces.Player != nullptr) Faces.Player->GetPlayerPos(1, x, y);
}

void CBaseEnemy::Draw() {
  int layer = Airborne != 0 ? AIR_LAYER : GROUND_LAYER;
  for (int slot = 0; slot < 5; ++slot) {
    if (Graph[slot] == -1) continue;
    if (Shape == CHAR_SHAPE_CIRCLE)
      QueueImage(layer, X / 1000 - ImageWidth / 2, Y / 1000 - ImageHeight / 2, Graph[slot], 255, &PLAY_FIELD_CLIP);
    else
      QueueImageRotated(layer, Graph[slot], 255, PxX + DrawOffsetX, PxY + DrawOffsetY, Scale, GraphAngle[slot],
                        &PLAY_FIELD_CLIP);
    if (KindIndex == ENEMY_KIND_BOSS) DrawBossGauge();
  }

  if (DebugTaskInstance.DebugDisplayFlag != 1) return;
  if (Shape == CHAR_SHAPE_CIRCLE) {
    QueueCircle(X / 1000, Y / 1000, Radius);
    return;
  }
  int x = X / 1000, y = Y / 1000;
  int ex = static_cast<int>(PxX), ey = static_cast<int>(PxY);
  QueueBox(DEBUG_LAYER, x - 2, y - 2, x + 2, y + 2, 0xFF0000, 255);
  QueueBox(DEBUG_LAYER, ex - 2, ey - 2, ex + 2, ey + 2, 0x00FF00, 255);
  QueueDebugHitBox(BoxCorner, 150);
}

// A ring of 1440 strips about the boss: the frame at every angle, the gauge
// where its share of the circle is below the share of hit points left.
void CBaseEnemy::DrawBossGauge() const {
  int gauge = FirstHandle(8, 7);
  int frame = FirstHandle(8, 8);
  double cx = X / 1000.0, cy = Y / 1000.0;
  double share = static_cast<double>(HitPoints) / EnemyKindTable[ENEMY_KIND_BOSS].HitPoints;
  for (int j = 0; j < GAUGE_STRIPS; ++j) {
    double angle = (j / 720.0) * PI;
    if ((GAUGE_STRIPS - j) / static_cast<double>(GAUGE_STRIPS) < share)
      QueueImageRotated(GAUGE_LAYER, gauge, 255, cx, cy, 1.0, angle, &PLAY_FIELD_CLIP);
    QueueImageRotated(GAUGE_LAYER, frame, 255, cx, cy, 1.0, angle, &PLAY_FIELD_CLIP);
  }
}

// ---------------------------------------------------------------------------
// Kinds

// Dives straight down; fires an aimed shot when its timer passes a drawn
// threshold of 120..240 frames.
void CEnemy_Rubyrou::Update() {
  int& timer = Work[0];
  int& threshold = Work[1];
  if (threshold == 0) threshold = 120 + NextStoredRandom() % 121;
  int fromX = X / 1000, fromY = Y / 1000;
  MoveAlongAngle();
  if (timer > 0 && timer > threshold && MayFire(this, PxX, PxY)) {
    CreatePattern(ENEMY_PATTERN_SEARCH, fromX, fromY);
    timer = 0;
    threshold = 120 + NextStoredRandom() % 121;
  }
  ++timer;
  ShowTile(0, 0);
  ++FrameCount;
}

// Swoops down, hovers and fires, then dashes at where the player was.
void CEnemy_FlameFly::Update() {
  int& phase = Work[0];
  int& t = Work[1];
  int& baseY = Work[2];
  if (FrameCount == 0) baseY = Y / 1000;
  int playerX, playerY;
  PlayerPosition(&playerX, &playerY);
  double x = X / 1000.0, y = Y / 1000.0;

  switch (phase) {
    case 0:
      if (t < 120) {
        y = baseY + static_cast<int>(504 * sin(t * ANGLE_DOWN / 120));
      } else {
        phase = 1;
        t = 0;
      }
      break;
    case 1:
      if (t == 60 && MayFire(this, x, y)) CreatePattern(ENEMY_PATTERN_SEARCH, X / 1000, Y / 1000);
      if (t > 120) {
        Angle = atan2(playerY - y, playerX - x);
        t = 0;
        phase = 2;
      }
      break;
    default: {
      double step = Speed / 1000.0;
      if (t < 60) step *= 2.0 * t / 60 - static_cast<double>(t) * t / 3600;
      x += cos(Angle) * step;
      y += sin(Angle) * step;
      break;
    }
  }
  ++t;
  StorePosition(this, x, y);
  ++FrameCount;

  int tile = (FrameCount / 16) % 4;
  if (phase == 1) {
    int q = t / 7;
    if (q >= 2 && q <= 7) tile = q + 2 < 7 ? q + 2 : 7;
    else if (q >= 8 && q <= 10) tile = 14 - q;
  }
  ShowTile(0, tile);
}

namespace {

// Agcat and Doradora: drift down, fire every 150 frames. True when fired.
bool DriftAndFire(CBaseEnemy* e, int pattern) {
  int& countdown = e->Work[0];
  if (countdown == 0) countdown = 150;
  e->GraphAngle[0] = 0;
  e->MoveDown();
  bool fired = false;
  if (--countdown == 0 && CBaseEnemy::MayFire(e, e->PxX, e->PxY)) {
    e->CreatePattern(pattern, e->X / 1000, e->Y / 1000);
    countdown = 150;
    fired = true;
  }
  ++e->FrameCount;
  return fired;
}

}  // namespace

void CEnemy_Agcat::Update() {
  DriftAndFire(this, ENEMY_PATTERN_2WAY5CONT);
  ShowTile(0, 0);
}

void CEnemy_Doradora::Update() {
  int& flash = Work[1];
  if (DriftAndFire(this, ENEMY_PATTERN_RAND15)) flash = 90;
  if (flash > 0) {
    ShowTile(0, 4);
    --flash;
  } else {
    ShowTile(0, 0);
  }
}

// A ground turret: faces up (standing still against the scroll) or turned
// by the extra value in steps of 10 degrees; its barrel follows the player.
void CEnemy_Cannon::Update() {
  int& countdown = Work[0];
  if (countdown == 0) countdown = 180 + NextStoredRandom() % 121;
  Angle = ANGLE_UP;
  if (Extra >= 0 && Extra <= 35) Angle = ANGLE_UP - Extra * TEN_DEGREES;
  MoveAlongAngle();
  if (--countdown == 0 && MayFire(this, PxX, PxY)) {
    CreatePattern(ENEMY_PATTERN_SEARCH, X / 1000, Y / 1000);
    countdown = 180 + NextStoredRandom() % 121;
  }
  ShowTile(0, 1);
  GraphAngle[0] = Angle;
  int playerX, playerY, x, y;
  PlayerPosition(&playerX, &playerY);
  GetPositionPx(&x, &y);
  ShowTile(1, 8);
  GraphAngle[1] = atan2(static_cast<double>(playerY - y), static_cast<double>(playerX - x)) + ANGLE_DOWN;
  ++FrameCount;
}

// Comes down to y 150, then glides at the player and back up above it,
// 90 frames each way with a 31-frame hold; never fires.
void CEnemy_FairyKnight::Update() {
  int& phase = Work[0];
  int& t = Work[1];
  int& hold = Work[2];
  int& startX = Work[3];
  int& startY = Work[4];
  int& targetX = Work[5];
  int& targetY = Work[6];

  if (phase == 0) {
    if (Y / 1000.0 + Speed / 1000.0 <= 150) {
      MoveDown();
    } else {
      t = hold = 0;
      GetPositionPx(&startX, &startY);
      PlayerPosition(&targetX, &targetY);
      phase = 1;
    }
  } else if (t + 1 <= 90) {
    double f = (cos(t * PI / 90 + PI) + 1.0) * 0.5;
    StorePosition(this, startX + (targetX - startX) * f, startY + (targetY - startY) * f);
    ++t;
  } else if (++hold > 30) {
    t = hold = 0;
    GetPositionPx(&startX, &startY);
    PlayerPosition(&targetX, &targetY);
    if (phase == 1) {
      targetY -= 350;
      phase = 2;
    } else {
      phase = 1;
    }
  }

  static const int GLIDE_DOWN_TILES[4] = {4, 0, 5, 6};
  static const int GLIDE_UP_TILES[4] = {6, 5, 0, 4};
  int step = t < 30 ? t / 10 : 3;
  if (phase == 1) ShowTile(0, GLIDE_DOWN_TILES[step]);
  else if (phase == 2) ShowTile(0, GLIDE_UP_TILES[step]);
  else ShowTile(0, 0);
  ++FrameCount;
}

// The boss: enters to y 200, then every 330 frames either fires its ring
// pattern or summons twenty FlameFly, by the parity of a stored random value.
void CEnemy_Kukuru::Update() {
  int& phase = Work[0];
  int& countdown = Work[1];
  if (countdown == 0) countdown = 330;
  --countdown;

  switch (phase) {
    case 0:
      MoveDown();
      if (PxY > 200) {
        countdown = 330;
        phase = 1;
      }
      break;
    case 1:
      if (countdown == 0) {
        phase = NextStoredRandom() % 2 == 0 ? 2 : 3;
        countdown = 330;
      }
      break;
    case 2:
      CreatePattern(ENEMY_PATTERN_KUKURU_EVEN8, X / 1000, Y / 1000);
      countdown = 330;
      phase = 1;
      break;
    default:
      for (int i = 0; i < 20; ++i) {
        int r1 = NextStoredRandom();
        int r2 = NextStoredRandom();
        if (Owner != nullptr) Owner->CreateEnemy(1, 264 + r1 % 433, -50 - r2 % 301, nullptr, 0);
      }
      countdown = 330;
      phase = 1;
      break;
  }
  ShowTile(0, 0);
  GraphAngle[0] = 0;
  ++FrameCount;
}
