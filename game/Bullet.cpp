#include "Bullet.h"

#include <math.h>
#include <new>

#include "CharCtl.h"
#include "DrawCtl.h"
#include "GameMain.h"
#include "RiDov.h"
#include "Status.h"

const BulletKindRow BulletKindTable[BULLET_KIND_COUNT + 1] = {
    {0, "img/bullet/player.png", 32, 32, 8, 0, 0, 255, 0, 0, 20000},
    {1, "img/bullet/player.png", 32, 32, 8, 0, 0, 255, 0, 0, 20000},
    {2, "img/bullet/bigfire.png", 70, 70, 25, 0, 0, 255, 0, 0, 20000},
    {3, "img/bullet/fullfire.png", 155, 190, 77, 0, 0, 255, 0, 0, 150000},
    {4, "img/bullet/flower.png", 51, 51, 8, 0, 0, 255, 0, 0, 20000},
    {5, "img/bullet/bullet.png", 38, 38, 6, 0, 0, 255, 0, 0, 6000},
    {6, "img/bullet/lazer.png", 32, 160, 0, 32, 160, 255, 0, 0, 6000},
    {7, "img/bullet/tornado.png", 40, 40, 15, 0, 0, 255, 0, 0, 6000},
    {BULLET_KIND_COUNT, nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 1},
};

namespace {

const double TWO_PI = 6.2831853071796;
const double SPECIAL_PULL = 7.5;  // px a frame
const DrawClip PLAY_FIELD = {true, 210, 0, 750, 720};

int SheetTile(int sheet, int tile) {
  int set = ImageSetNumber(2, sheet);
  return set < 0 ? -1 : DrawCtlInstance.ImageSets[set].Handles[tile];
}

bool OutsidePlayField(const CBaseChar* c) {
  int x = 0, y = 0;
  c->GetPositionPx(&x, &y);
  return x < 210 || x > 750 || y < 0 || y > 720;
}

CBaseBullet* NewBullet(int kind) {
  switch (kind) {
    case BULLET_PLAYER: return new (std::nothrow) CBulletPlayer;
    case BULLET_PLAYER_HOMING: return new (std::nothrow) CBulletPlayerHoming;
    case BULLET_PLAYER_BIG: return new (std::nothrow) CBulletPlayerBig;
    case BULLET_PLAYER_LAZER: return new (std::nothrow) CBulletPlayerLazer;
    case BULLET_QUINSEL_FLASH: return new (std::nothrow) CBulletQuinselFlash;
    case BULLET_SEARCH: return new (std::nothrow) CBulletSearch;
    case BULLET_SEARCH_LAZER: return new (std::nothrow) CBulletSearchLazer;
    case BULLET_TORNADO: return new (std::nothrow) CBulletTornado;
    default: return nullptr;
  }
}

}  // namespace

BulletParams MakeBulletParams(int kind, int x, int y, int attack, double angle, int ownerId) {
  BulletParams p = {};
  p.Kind = kind;
  p.X = x;
  p.Y = y;
  p.Attack = attack;
  p.Angle = angle;
  p.OwnerId = ownerId;
  p.Unused9 = 960;
  p.TargetId = -1;
  p.Flag = 1;
  return p;
}

// ---------------------------------------------------------------- CBaseBullet

CBaseBullet::CBaseBullet()
    : KindIndex(0), OwnerId(0), SpecialTag(0), TargetId(-1), Faces(), StartX(0), StartY(0), EndX(0), EndY(0),
      DrawScale(1.0), Travelled(0), Alpha(255), DrawAngle(0) {
  Scale = 1.0;
}

void CBaseBullet::Setup(const MessengerSet& faces, const BulletParams& params) {
  const BulletKindRow& row = BulletKindTable[params.Kind];
  Faces = faces;
  KindIndex = params.Kind;
  OwnerId = params.OwnerId;
  TargetId = params.TargetId;
  KindWord = params.OwnerId >= 1 ? CHAR_KIND_PLAYER_BULLET : CHAR_KIND_ENEMY_BULLET;
  X = params.X * 1000;
  Y = params.Y * 1000;
  PxX = params.X;
  PxY = params.Y;
  HitPoints = row.Life;
  ImageWidth = row.Width;
  ImageHeight = row.Height;
  Alpha = row.Alpha;
  Radius = row.Radius;
  Speed = row.Speed;
  Attack = params.Attack;
  Angle = params.Angle;
  DrawAngle = params.Angle;
  Dead = false;
  for (int& w : Work) w = 0;
  for (double& c : BoxCorner) c = 0;
  for (double& c : LaserCorner) c = 0;
  Travelled = 0;
  DrawScale = 1.0;
  if (row.Radius == 0) {
    Shape = CHAR_SHAPE_BOX;
    BoxWidth = row.BoxWidth;
    BoxHeight = row.BoxHeight;
    StartX = params.X;
    StartY = params.Y;
    EndX = StartX + params.Length * cos(params.Angle);
    EndY = StartY + params.Length * sin(params.Angle);
  } else {
    Shape = CHAR_SHAPE_CIRCLE;
    BoxWidth = 0;
    BoxHeight = 0;
  }
  Graph[0] = SheetTile(KindIndex, 0);
}

void CBaseBullet::MoveAlongAngle(double step) {
  X = static_cast<int>((cos(Angle) * step + X / 1000.0) * 1000);
  Y = static_cast<int>((sin(Angle) * step + Y / 1000.0) * 1000);
  Travelled += static_cast<int>(step);
}

void CBaseBullet::MoveUp(double step) {
  Y = static_cast<int>((Y / 1000.0 - step) * 1000);
  Travelled += static_cast<int>(step);
}

void CBaseBullet::ShowTile(int sheet, int tile) { Graph[0] = SheetTile(sheet, tile); }

void CBaseBullet::AdvanceCounter(int wrap) {
  if (++FrameCount >= wrap) FrameCount = 0;
}

void CBaseBullet::ReactToSpecial() {
  if (OwnerId != 0) {
    Update();
    return;
  }
  SpecialTag = 1;
  int sx = 0, sy = 0;
  if (PlayerMessengerPtr != nullptr) PlayerMessengerPtr->GetSpecialPosRaw(1, &sx, &sy);
  double tx = sx / 1000.0, ty = sy / 1000.0;
  double x = X / 1000.0, y = Y / 1000.0;
  double dx = tx - x, dy = ty - y;
  if (sqrt(dx * dx + dy * dy) > SPECIAL_PULL) {
    double a = atan2(dy, dx);
    x += cos(a) * SPECIAL_PULL;
    y += sin(a) * SPECIAL_PULL;
  } else {
    x = tx;
    y = ty;
  }
  X = static_cast<int>(x * 1000);
  Y = static_cast<int>(y * 1000);
  Travelled += static_cast<int>(SPECIAL_PULL);
  AdvanceCounter(32);
  ShowTile(BULLET_SEARCH, 3);
}

void CBaseBullet::Draw() {
  if (Shape == CHAR_SHAPE_CIRCLE) {
    QueueImageRotated(5, Graph[0], Alpha, X / 1000.0, Y / 1000.0, DrawScale, DrawAngle, &PLAY_FIELD);
    if (DebugTaskInstance.DebugDisplayFlag == 1) QueueCircle(X / 1000, Y / 1000, Radius);
    return;
  }
  float quad[8];
  for (int i = 0; i < 8; ++i) quad[i] = static_cast<float>(LaserCorner[i]);
  QueueQuad(quad, Graph[0], &PLAY_FIELD);
  if (DebugTaskInstance.DebugDisplayFlag == 1) {
    int sx = static_cast<int>(StartX), sy = static_cast<int>(StartY);
    int ex = static_cast<int>(EndX), ey = static_cast<int>(EndY);
    DrawRectShape(sx - 2, sy - 2, sx + 2, sy + 2, MakeColorValue(255, 0, 0), 1);
    DrawRectShape(ex - 2, ey - 2, ex + 2, ey + 2, MakeColorValue(0, 255, 0), 1);
    QueueDebugHitBox(BoxCorner, 150);
  }
}

// ---------------------------------------------------------------- the kinds

void CBulletPlayer::Update() {
  Alpha = 200;
  MoveAlongAngle(Speed / 1000.0);
  AdvanceCounter(32);
  ShowTile(KindIndex, 0);
}

double HomingStep(int speed, int t) {
  double step = speed / 1000.0;
  if (t < 60) step *= (cos((t + 60) * PI / 120) + 1.0) * 0.5;
  return step;
}

double HomingTurnLimit(int t) {
  double degrees = (cos(t * PI / 30 + PI) + 1.0) * 0.5 * 30.0;
  return degrees * 0.017453292519943334;
}

double HomingTurn(double angle, double target, double limit) {
  double a = fmod(angle, TWO_PI);
  if (a < 0) a += TWO_PI;
  double direct = fabs(a - target);  // without crossing 0
  double around = TWO_PI - direct;   // crossing 0
  if (!(limit < direct && limit < around)) return target;
  double turned;
  if (around <= direct) turned = a < target ? a - limit : a + limit;
  else turned = a <= target ? a + limit : a - limit;
  if (turned < 0) turned += TWO_PI;
  if (turned >= TWO_PI) turned -= TWO_PI;
  return turned;
}

void CBulletPlayerHoming::Steer(int t) {
  if (TargetId < 0 || Faces.Enemy == nullptr) return;
  int tx = 0, ty = 0;
  if (Faces.Enemy->GetEnemyPos(TargetId, &tx, &ty) == -1) return;
  int x = 0, y = 0;
  GetPositionPx(&x, &y);
  double target = atan2(static_cast<double>(ty - y), static_cast<double>(tx - x));
  if (target < 0) target += TWO_PI;
  Angle = HomingTurn(Angle, target, HomingTurnLimit(t));
}

void CBulletPlayerHoming::Update() {
  int t = FrameCount;
  double step = HomingStep(Speed, t);
  Steer(t);
  Alpha = 200;
  MoveAlongAngle(step);
  ShowTile(KindIndex, 0);
  ++FrameCount;
}

void CBulletPlayerBig::Update() {
  Alpha = 200;
  MoveUp(Speed / 1000.0);
  DrawAngle = 0;
  AdvanceCounter(32);
  ShowTile(KindIndex, 0);
}

void CBulletPlayerLazer::Update() {
  if (Work[BULLET_WORK_STARTED] == 0) Work[BULLET_WORK_STARTED] = 1;  // stands still for one frame
  else MoveAlongAngle(Speed / 1000.0);
  ShowTile(KindIndex, 0);
}

void CBulletQuinselFlash::Update() {
  Alpha = 200;
  ShowTile(KindIndex, 0);
  if (FrameCount > 60) {
    int x = 0, y = 0;
    GetPositionPx(&x, &y);
    if (ItemMessengerPtr != nullptr) ItemMessengerPtr->CreateItem(BULLET_ITEM_KIND_FROM_FLASH, x, y);
    Dead = true;
  }
  ++FrameCount;
}

void CBulletSearch::Update() {
  MoveAlongAngle(Speed / 1000.0);
  AdvanceCounter(32);
  ShowTile(KindIndex, 0);
}

void CBulletSearchLazer::Update() {
  MoveAlongAngle(Speed / 1000.0);
  PxX = X / 1000.0;
  PxY = Y / 1000.0;
  AdvanceCounter(360);
  ShowTile(KindIndex, 0);
}

void CBulletTornado::Update() {
  MoveAlongAngle(Speed / 1000.0);
  DrawAngle = 0;
  AdvanceCounter(32);
  ShowTile(KindIndex, 0);
}

// ---------------------------------------------------------------- CBulletCtl

CBulletCtl::CBulletCtl(CScreenMessenger* screen) : CBaseCharCtl(screen), Faces() {}

void CBulletCtl::CreateBullet(BulletParams params) {
  CBaseBullet* bullet = NewBullet(params.Kind);
  if (bullet == nullptr) return;
  bullet->SpecialTag = 0;
  bullet->Scale = params.Kind == BULLET_SEARCH_LAZER ? 0.8 : 1.0;
  Append(bullet);
  bullet->Setup(Faces, params);
}

int CBulletCtl::Count() const {
  int n = 0;
  for (CBaseChar* c = Head; c != nullptr; c = c->Next) ++n;
  return n;
}

void CBulletCtl::Update() {
  bool special = Faces.Player != nullptr && Faces.Player->HasSpecial(1);
  CBaseChar* object = Head;
  while (object != nullptr) {
    CBaseBullet* bullet = static_cast<CBaseBullet*>(object);
    CBaseChar* next = object->Next;
    if (!bullet->Dead) {
      if (special) bullet->ReactToSpecial();
      else if (bullet->SpecialTag != 0) bullet->Dead = true;
      else bullet->Update();
      bullet->UpdateHitBoxCorners();
      if (OutsidePlayField(bullet)) bullet->Dead = true;
    }
    if (bullet->Dead) {
      if (bullet->KindIndex <= BULLET_PLAYER_BIG && bullet->OwnerId > 0 && PlayerMessengerPtr != nullptr) {
        int count = 0;
        PlayerMessengerPtr->GetLiveShotCount(bullet->OwnerId, &count);
        PlayerMessengerPtr->SetLiveShotCount(bullet->OwnerId, count - 1);
      }
      Unlink(object);
      delete bullet;
    }
    object = next;
  }
}

int CBulletCtl::CheckHit(int querierKind, int querierShape, int x, int y, int radius, const double* boxCorners,
                         int* /*firstOut*/, int* secondOut) {
  for (CBaseChar* object = Head; object != nullptr; object = object->Next) {
    if (object->Dead) continue;  // already spent this frame
    int damage = TestBulletHit(object, querierKind, x, y, boxCorners, radius, querierShape);
    if (damage <= 0) continue;
    CBaseBullet* bullet = static_cast<CBaseBullet*>(object);
    switch (querierKind) {
      case CHAR_KIND_SPECIAL:
        if (bullet->KindIndex > BULLET_PLAYER_BIG) bullet->Dead = true;
        break;
      case CHAR_KIND_PLAYER:
        if (bullet->SpecialTag != 0) damage = 0;
        break;
      case CHAR_KIND_ENEMY:
        if (y < 35 || x < 1 || x > 749) {
          damage = 0;
        } else if (bullet->KindIndex <= BULLET_PLAYER_BIG) {
          bullet->Dead = true;
          StatusInstance.SetStatusField(1, STATUS_GAUGE, StatusInstance.GetStatusField(1, STATUS_GAUGE) + 30);
        }
        break;
      default: break;
    }
    if (secondOut != nullptr) *secondOut = bullet->OwnerId;
    return damage;
  }
  return 0;
}
