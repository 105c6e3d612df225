#include "BulletPtn.h"

#include <math.h>
#include <new>

#include "Bullet.h"
#include "DrawCtl.h"
#include "GameMain.h"

namespace {

const double UP = 4.7123889803847;
const double SIXTY_DEGREES = 1.0471975511966;
const DrawClip PLAY_FIELD = {true, 210, 0, 750, 720};

enum { LASER_PIECE_HEIGHT = 190 };

CBaseBulletPtn* NewPattern(int kind, const MessengerSet& faces) {
  switch (kind) {
    case PTN_PLAYER: return new (std::nothrow) CBulletPtn_Player(faces);
    case PTN_PLAYER_HOMING: return new (std::nothrow) CBulletPtn_PlayerHoming(faces);
    case PTN_PLAYER_BIG: return new (std::nothrow) CBulletPtn_PlayerBig(faces);
    case PTN_PLAYER_LAZER: return new (std::nothrow) CBulletPtn_PlayerLazer(faces);
    case PTN_QUINSEL_FLASH: return new (std::nothrow) CBulletPtn_QuinselFlash(faces);
    case PTN_SEARCH: return new (std::nothrow) CBulletPtn_Search(faces);
    case PTN_SEARCH_LAZER: return new (std::nothrow) CBulletPtn_SearchLazer(faces);
    case PTN_2WAY_5CONT: return new (std::nothrow) CBulletPtn_2way5cont(faces);
    case PTN_1WAY_W5CONT: return new (std::nothrow) CBulletPtn_1wayW5cont(faces);
    case PTN_RAND15: return new (std::nothrow) CBulletPtn_Rand15(faces);
    case PTN_KUKURU_EVEN8: return new (std::nothrow) CBulletPtn_Kukuru_Even8(faces);
    default: return nullptr;
  }
}

// True on frame counts 10, 20, ... (never 0).
bool OnBeat(int frame, int period) { return frame > 0 && frame % period == 0; }

}  // namespace

// ------------------------------------------------------------ CBaseBulletPtn

CBaseBulletPtn::CBaseBulletPtn(const MessengerSet& faces)
    : Faces(faces), SerialId(0), OriginX(0), OriginY(0), TargetEnemyId(-1), OwnerId(0), BulletCount(0) {
  Dead = false;
  FrameCount = 0;
  for (int& w : Work) w = 0;
}

void CBaseBulletPtn::Fire(int bulletKind, int x, int y, int attack, double angle, int length, int targetId) {
  if (Faces.Bullet == nullptr) return;
  BulletParams p = MakeBulletParams(bulletKind, x, y, attack, angle, OwnerId);
  p.Length = length;
  p.TargetId = targetId;
  Faces.Bullet->CreateBullet(p);
}

void CBaseBulletPtn::ReadPlayerPos(int* x, int* y) {
  *x = 0;
  *y = 0;
  if (PlayerMessengerPtr != nullptr) PlayerMessengerPtr->GetPlayerPos(1, x, y);
}

double CBaseBulletPtn::AimAt(int x, int y) const {
  return atan2(static_cast<double>(y - OriginY), static_cast<double>(x - OriginX));
}

// ------------------------------------------------------------ setup variants

void CBulletPtn_Player::Setup(int ownerId, int x, int y, int, int) {
  OwnerId = ownerId;
  OriginX = x;
  OriginY = y;
}

void CBulletPtn_PlayerHoming::Setup(int ownerId, int x, int y, int, int p2) {
  OwnerId = ownerId;
  OriginX = x;
  OriginY = y;
  TargetEnemyId = p2;
}

void CBulletPtn_QuinselFlash::Setup(int ownerId, int, int, int p1, int) {
  OwnerId = ownerId;
  BulletCount = p1;
}

void CBulletPtn_Search::Setup(int, int x, int y, int, int) {
  OriginX = x;
  OriginY = y;
}

void CBulletPtn_1wayW5cont::Setup(int, int x, int y, int, int) {
  OriginX = x;
  OriginY = y;
  ReadPlayerPos(&Work[PTN_WORK_TARGET_X], &Work[PTN_WORK_TARGET_Y]);
}

// ------------------------------------------------------------ the kinds

void CBulletPtn_Player::Update() {
  for (int i = -1; i <= 1; ++i) Fire(BULLET_PLAYER, OriginX, OriginY - 10, i == 0 ? 1000 : 500, UP + i * PI / 14);
  Dead = true;
  ++FrameCount;
}

void CBulletPtn_PlayerHoming::Update() {
  for (int i = -1; i <= 0; ++i)
    Fire(BULLET_PLAYER_HOMING, OriginX, OriginY - 10, 500, UP + i * PI / 3, 0, TargetEnemyId);
  Dead = true;
  ++FrameCount;
}

void CBulletPtn_PlayerBig::Update() {
  Fire(BULLET_PLAYER_BIG, OriginX, OriginY - 10, 3000, UP);
  Dead = true;
  ++FrameCount;
}

void CBulletPtn_PlayerLazer::Update() {
  int px = 0, py = 0;
  ReadPlayerPos(&px, &py);
  if (FrameCount % 6 == 0 && FrameCount < 294) Fire(BULLET_PLAYER_LAZER, px, py, 2000, UP);
  int set = ImageSetNumber(2, BULLET_PLAYER_LAZER);
  Graph[0] = DrawCtlInstance.ImageSets[set].Handles[(FrameCount / 2) % 8];
  if (++FrameCount > 300) Dead = true;
}

void CBulletPtn_PlayerLazer::Draw() {
  int px = 0, py = 0;
  ReadPlayerPos(&px, &py);
  // Pieces wholly below the screen are skipped, so the beam never needs
  // more than a screen's worth of pieces whatever the position reads.
  int y = py - 230;
  if (y >= SCREEN_HEIGHT) y -= ((y - SCREEN_HEIGHT) / LASER_PIECE_HEIGHT + 1) * LASER_PIECE_HEIGHT;
  for (;; y -= LASER_PIECE_HEIGHT) {
    QueueImage(5, px - 77, y, Graph[0], 200, &PLAY_FIELD);
    if (y <= -LASER_PIECE_HEIGHT) break;
  }
}

void CBulletPtn_QuinselFlash::Update() {
  for (int i = 0; i < BulletCount; ++i) {
    int x = 242 + NextStoredRandom() % 509;
    int y = 32 + NextStoredRandom() % 541;
    Fire(BULLET_QUINSEL_FLASH, x, y, 200, UP);
  }
  Dead = true;
  ++FrameCount;
}

void CBulletPtn_Search::Update() {
  int px = 0, py = 0;
  ReadPlayerPos(&px, &py);
  Fire(BULLET_SEARCH, OriginX, OriginY, 1, AimAt(px, py));
  Dead = true;
  ++FrameCount;
}

void CBulletPtn_SearchLazer::Update() {
  int px = 0, py = 0;
  ReadPlayerPos(&px, &py);
  Fire(BULLET_SEARCH, OriginX, OriginY, 1, AimAt(px, py), 25);
  Dead = true;
  ++FrameCount;
}

void CBulletPtn_2way5cont::Update() {
  if (OnBeat(FrameCount, 10)) {
    Fire(BULLET_SEARCH, OriginX - 25, OriginY + 65, 1, 1.9634954084936207, 25);
    Fire(BULLET_SEARCH, OriginX + 25, OriginY + 65, 1, 1.1780972450961724, 25);
    if (++Work[PTN_WORK_VOLLEYS] >= 5) Dead = true;
  }
  ++FrameCount;
}

void CBulletPtn_1wayW5cont::Update() {
  if (OnBeat(FrameCount, 10)) {
    double a = AimAt(Work[PTN_WORK_TARGET_X], Work[PTN_WORK_TARGET_Y]);
    for (int i = 0; i < 2; ++i) {
      double place = a - SIXTY_DEGREES + i * 2 * PI / 3;
      Fire(BULLET_SEARCH, static_cast<int>(OriginX + 20 * cos(place)), static_cast<int>(OriginY + 20 * sin(place)), 1,
           a, 25);
    }
    if (++Work[PTN_WORK_VOLLEYS] >= 5) Dead = true;
  }
  ++FrameCount;
}

void CBulletPtn_Rand15::Update() {
  if (OnBeat(FrameCount, 3)) {
    int r = NextStoredRandom();
    double a = AimAt(Work[PTN_WORK_TARGET_X], Work[PTN_WORK_TARGET_Y]) - 0.5235987755983 + (r % 61) * PI / 180;
    Fire(BULLET_SEARCH, OriginX, OriginY, 1, a, 25);
    if (++Work[PTN_WORK_VOLLEYS] >= 15) Dead = true;
  }
  ++FrameCount;
}

void CBulletPtn_Kukuru_Even8::Update() {
  int& phase = Work[PTN_WORK_PHASE];
  int& volleys = Work[PTN_WORK_VOLLEYS];
  if (phase == 0) {
    if (OnBeat(FrameCount, 30)) {
      double a = AimAt(Work[PTN_WORK_TARGET_X], Work[PTN_WORK_TARGET_Y]);
      for (int i = 0; i < 8; ++i)
        Fire(BULLET_TORNADO, OriginX, OriginY, 1, a + i * 0.78539816339745 + 0.392699081698725, 25);
      if (++volleys >= 3) {
        FrameCount = 0;
        volleys = 0;
        phase = 1;
      }
    }
  } else {
    if (FrameCount == 60) ReadPlayerPos(&Work[PTN_WORK_TARGET_X], &Work[PTN_WORK_TARGET_Y]);
    if (FrameCount > 60 && FrameCount % 30 == 0) {
      double a = AimAt(Work[PTN_WORK_TARGET_X], Work[PTN_WORK_TARGET_Y]);
      for (int i = 0; i < 3; ++i) {
        double place = a - SIXTY_DEGREES + i * PI / 3;
        Fire(BULLET_TORNADO, static_cast<int>(OriginX + 40 * cos(place)), static_cast<int>(OriginY + 40 * sin(place)),
             1, a, 25);
      }
      if (++volleys >= 3) Dead = true;
    }
  }
  ++FrameCount;
}

// ------------------------------------------------------------ CBulletPtnCtl

CBulletPtnCtl::CBulletPtnCtl(CScreenMessenger* screen) : CBaseCharCtl(screen), Faces(), NextSerialId(0) {}

int CBulletPtnCtl::CreatePattern(int kind, int ownerId, int x, int y, int p1, int p2) {
  CBaseBulletPtn* pattern = NewPattern(kind, Faces);
  if (pattern == nullptr) return -1;
  Append(pattern);
  pattern->Setup(ownerId, x, y, p1, p2);
  pattern->SerialId = NextSerialId++;
  return pattern->SerialId;
}

bool CBulletPtnCtl::IsPatternAlive(int serialId) {
  for (CBaseChar* c = Head; c != nullptr; c = c->Next)
    if (static_cast<CBaseBulletPtn*>(c)->SerialId == serialId) return true;
  return false;
}

void CBulletPtnCtl::KillPattern(int serialId) {
  for (CBaseChar* c = Head; c != nullptr; c = c->Next)
    if (static_cast<CBaseBulletPtn*>(c)->SerialId == serialId) {
      c->Dead = true;
      return;
    }
}
