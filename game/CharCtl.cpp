#include "CharCtl.h"

#include <math.h>
#include <new>

#include "Bullet.h"
#include "BulletPtn.h"
#include "DrawCtl.h"
#include "GameMain.h"
#include "Item.h"
#include "Player.h"

CEnemyCtlBase* (*EnemyCtlFactory)(CScreenMessenger* screen) = nullptr;

namespace {


double Cross(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }
double Dot(double ax, double ay, double bx, double by) { return ax * bx + ay * by; }

// The angle at corner i from its edge toward corner i+1 to the point, in
// (-pi, pi]; 0..pi/2 on the inner side of both edges meeting there.
double CornerAngle(const double* c, int from, int to, double px, double py) {
  double ex = c[to * 2] - c[from * 2], ey = c[to * 2 + 1] - c[from * 2 + 1];
  double dx = px - c[from * 2], dy = py - c[from * 2 + 1];
  return atan2(Cross(ex, ey, dx, dy), Dot(ex, ey, dx, dy));
}

template <typename T>
void DiscardController(T*& ctl) {
  if (ctl == nullptr) return;
  ctl->Destroy();
  delete ctl;
  ctl = nullptr;
}

}  // namespace

// --------------------------------------------------------------- geometry

void CBaseChar::UpdateHitBoxCorners() {
  if (Shape != CHAR_SHAPE_BOX) return;
  int w2 = BoxWidth / 2, h2 = BoxHeight / 2;
  if (KindWord == CHAR_KIND_ENEMY) {
    double cx = static_cast<int>(PxX), cy = static_cast<int>(PxY);
    double t = 3 * PI / 2 - Angle;
    double ct = cos(t), st = sin(t);
    const int local[4][2] = {{-w2, -h2}, {w2, -h2}, {w2, h2}, {-w2, h2}};
    for (int i = 0; i < 4; ++i) {
      double u = local[i][0], v = local[i][1];
      BoxCorner[i * 2] = u * ct + v * st + cx;
      BoxCorner[i * 2 + 1] = v * ct - u * st + cy;
    }
    return;
  }
  double a = Angle, h = BoxHeight, k = Scale;
  double sideX = cos(a + PI / 2), sideY = sin(a + PI / 2);    // toward corner 1
  double otherX = cos(a - PI / 2), otherY = sin(a - PI / 2);  // toward corner 2
  double alongX = cos(a), alongY = sin(a);
  double l1x = PxX + w2 * sideX, l1y = PxY + w2 * sideY;
  double l2x = PxX + w2 * otherX, l2y = PxY + w2 * otherY;
  LaserCorner[0] = l1x;
  LaserCorner[1] = l1y;
  LaserCorner[2] = l2x;
  LaserCorner[3] = l2y;
  LaserCorner[4] = l2x + h * alongX;
  LaserCorner[5] = l2y + h * alongY;
  LaserCorner[6] = l1x + h * alongX;
  LaserCorner[7] = l1y + h * alongY;
  double m = (1 - k) / 2;
  double c1x = PxX + k * w2 * sideX + m * h * alongX, c1y = PxY + k * w2 * sideY + m * h * alongY;
  double c2x = PxX + k * w2 * otherX + m * h * alongX, c2y = PxY + k * w2 * otherY + m * h * alongY;
  BoxCorner[0] = c1x;
  BoxCorner[1] = c1y;
  BoxCorner[2] = c2x;
  BoxCorner[3] = c2y;
  BoxCorner[4] = c2x + k * h * alongX;
  BoxCorner[5] = c2y + k * h * alongY;
  BoxCorner[6] = c1x + k * h * alongX;
  BoxCorner[7] = c1y + k * h * alongY;
}

bool HitCircleVsBox(double cx, double cy, double r, const double corners[8]) {
  if (corners == nullptr) return false;
  for (int i = 0; i < 4; ++i) {
    double dx = corners[i * 2] - cx, dy = corners[i * 2 + 1] - cy;
    if (dx * dx + dy * dy < r * r) return true;
  }
  // A box collapsed to a line or a point has no inside (atan2(0, 0) would
  // put every point in it).
  bool flat = (corners[2] == corners[0] && corners[3] == corners[1]) ||
              (corners[6] == corners[4] && corners[7] == corners[5]);
  double alpha = CornerAngle(corners, 0, 1, cx, cy);
  double beta = CornerAngle(corners, 2, 3, cx, cy);
  if (!flat && alpha >= 0 && alpha <= PI / 2 && beta >= 0 && beta <= PI / 2) return true;
  for (int i = 0; i < 4; ++i) {
    int j = (i + 1) % 4;
    double ax = corners[i * 2], ay = corners[i * 2 + 1];
    double ex = corners[j * 2] - ax, ey = corners[j * 2 + 1] - ay;
    double length2 = ex * ex + ey * ey;
    double t = length2 > 0 ? Dot(cx - ax, cy - ay, ex, ey) / length2 : 0;
    if (t < 0) t = 0;
    if (t > 1) t = 1;
    double nx = ax + t * ex - cx, ny = ay + t * ey - cy;
    if (nx * nx + ny * ny < r * r) return true;
  }
  return false;
}

int TestBulletHit(const CBaseChar* bullet, int querierKind, int x, int y, const double* corners, int radius,
                  int querierShape) {
  if (bullet->KindWord == CHAR_KIND_PLAYER_BULLET &&
      (querierKind == CHAR_KIND_PLAYER || querierKind == CHAR_KIND_SPECIAL))
    return 0;
  if (bullet->KindWord == CHAR_KIND_ENEMY_BULLET && querierKind == CHAR_KIND_ENEMY) return 0;

  bool hit = false;
  if (bullet->Shape == CHAR_SHAPE_CIRCLE && querierShape == CHAR_SHAPE_CIRCLE) {
    double bx = bullet->X / 1000.0, by = bullet->Y / 1000.0;
    int reach = bullet->Radius + radius;
    if (reach <= 0) return 0;
    double r2 = static_cast<double>(reach) * reach;
    int step = bullet->Speed / 1000;
    if (step <= reach) {
      double dx = bx - x, dy = by - y;
      hit = dx * dx + dy * dy < r2;
    } else {
      // Sample the last move back from one step behind, R apart.
      double a = bullet->Angle;
      double px = bx + step * cos(a + PI), py = by + step * sin(a + PI);
      int samples = step / reach;
      for (int i = 0; i < samples && !hit; ++i) {
        double dx = px - x, dy = py - y;
        hit = dx * dx + dy * dy < r2;
        px += reach * cos(a);
        py += reach * sin(a);
      }
    }
  } else if (bullet->Shape == CHAR_SHAPE_CIRCLE) {
    if (corners == nullptr) return 0;
    int bx = 0, by = 0;
    bullet->GetPositionPx(&bx, &by);
    hit = HitCircleVsBox(bx, by, bullet->Radius, corners);
  } else if (querierShape == CHAR_SHAPE_CIRCLE) {
    hit = HitCircleVsBox(x, y, radius, bullet->BoxCorner);
  }
  return hit ? bullet->Attack : 0;
}

// --------------------------------------------------------------- CCharCtl

CCharCtl::CCharCtl(int sceneId, CScreenMessenger* screen)
    : PlayerCtl(nullptr), EnemyCtl(nullptr), BulletPtnCtl(nullptr), BulletCtl(nullptr), ItemCtl(nullptr), Messengers() {
  if (sceneId != SCENE_ID_PLAY) return;
  PlayerCtl = new (std::nothrow) CPlayerCtl(screen);
  if (PlayerCtl != nullptr) PlayerMessengerPtr = PlayerCtl;
  BulletPtnCtl = new (std::nothrow) CBulletPtnCtl(screen);
  BulletCtl = new (std::nothrow) CBulletCtl(screen);
  if (BulletCtl != nullptr) BulletMessengerPtr = BulletCtl;
  if (EnemyCtlFactory != nullptr) EnemyCtl = EnemyCtlFactory(screen);
  ItemCtl = new (std::nothrow) CItemCtl(screen);
  if (ItemCtl != nullptr) ItemMessengerPtr = ItemCtl;

  Messengers.Player = PlayerCtl;
  Messengers.BulletPtn = BulletPtnCtl;
  Messengers.Bullet = BulletCtl;
  Messengers.Enemy = EnemyCtl;
  Messengers.Item = ItemCtl;
}

CCharCtl::~CCharCtl() {
  // The published faces must not outlive their controllers.
  if (PlayerCtl != nullptr && PlayerMessengerPtr == PlayerCtl) PlayerMessengerPtr = nullptr;
  if (BulletCtl != nullptr && BulletMessengerPtr == BulletCtl) BulletMessengerPtr = nullptr;
  if (ItemCtl != nullptr && ItemMessengerPtr == ItemCtl) ItemMessengerPtr = nullptr;
  DiscardController(PlayerCtl);
  DiscardController(EnemyCtl);
  DiscardController(BulletPtnCtl);
  DiscardController(BulletCtl);
  DiscardController(ItemCtl);
}

void CCharCtl::Init() {
  if (PlayerCtl != nullptr) PlayerCtl->SetUp(Messengers);
  if (EnemyCtl != nullptr) EnemyCtl->SetMessengers(Messengers);
  if (ItemCtl != nullptr) ItemCtl->SetMessengers(Messengers);
  if (BulletPtnCtl != nullptr) BulletPtnCtl->SetMessengers(Messengers);
  if (BulletCtl != nullptr) BulletCtl->SetMessengers(Messengers);
}

void CCharCtl::Update() {
  if (PlayerCtl != nullptr) PlayerCtl->Update();
  if (EnemyCtl != nullptr) EnemyCtl->Update();
  if (BulletPtnCtl != nullptr) BulletPtnCtl->Update();
  if (BulletCtl != nullptr) BulletCtl->Update();
  if (ItemCtl != nullptr) ItemCtl->Update();

  if (PlayerCtl != nullptr && BulletCtl != nullptr) PlayerCtl->TakeHitsFrom(BulletCtl);
  if (PlayerCtl != nullptr && EnemyCtl != nullptr) PlayerCtl->TakeHitsFrom(EnemyCtl);
  if (EnemyCtl != nullptr && BulletCtl != nullptr) EnemyCtl->TakeHitsFrom(BulletCtl);
  if (ItemCtl != nullptr && PlayerCtl != nullptr) ItemCtl->CheckPickUpBy(PlayerCtl);
}

void CCharCtl::Draw() {
  if (PlayerCtl != nullptr) PlayerCtl->Draw();
  if (EnemyCtl != nullptr) EnemyCtl->Draw();
  if (BulletPtnCtl != nullptr) BulletPtnCtl->Draw();
  if (BulletCtl != nullptr) {
    BulletCtl->Draw();
    if (DebugTaskInstance.DebugDisplayFlag == 1) {
      char text[DRAW_TEXT_BUFFER_SIZE];
      FormatDrawText(text, "bullet num:%d", BulletCtl->Count());
      QueueText(12, text, 20, 200, 0, 1, 0);
    }
  }
  if (ItemCtl != nullptr) ItemCtl->Draw();
}
