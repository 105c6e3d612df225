#include "SteeringPlayer.h"

#include <math.h>

#include <algorithm>

#include "Bullet.h"
#include "Enemy.h"
#include "PadBits.h"
#include "Player.h"
#include "Status.h"
#include "Task.h"

namespace steering {

namespace {

const double PLAYER_STEP = 4.5;     // px a frame
const double PLAYER_RADIUS = 10.0;  // px
const int LOOK_AHEAD = 10;          // frames

double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay;
  const double len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0;
  t = std::max(0.0, std::min(1.0, t));
  return hypot(px - (ax + t * dx), py - (ay + t * dy));
}

// Distance from a point to a threat's edge at frame t ahead (0 inside).
double ThreatDistance(const Threat& th, double px, double py, int t) {
  const double ox = th.vx * t, oy = th.vy * t;
  if (!th.box) return std::max(0.0, hypot(px - th.x - ox, py - th.y - oy) - th.radius);
  double best = 1e9;
  int left = 0, right = 0;  // edges with the point on that side
  for (int i = 0; i < 4; ++i) {
    const double ax = th.corner[i * 2] + ox, ay = th.corner[i * 2 + 1] + oy;
    const double bx = th.corner[(i + 1) % 4 * 2] + ox, by = th.corner[(i + 1) % 4 * 2 + 1] + oy;
    best = std::min(best, SegmentDistance(px, py, ax, ay, bx, by));
    const double side = (bx - ax) * (py - ay) - (by - ay) * (px - ax);
    left += side >= 0;
    right += side <= 0;
  }
  return left == 4 || right == 4 ? 0.0 : best;
}

void AddThreat(std::vector<Threat>* out, const CBaseChar* c, bool moving) {
  Threat th;
  th.x = c->X / 1000.0;
  th.y = c->Y / 1000.0;
  th.vx = moving ? cos(c->Angle) * c->Speed / 1000.0 : 0;
  th.vy = moving ? sin(c->Angle) * c->Speed / 1000.0 : 0;
  th.box = c->Radius == 0;
  th.radius = c->Radius;
  for (int i = 0; i < 8; ++i) th.corner[i] = c->BoxCorner[i];
  out->push_back(th);
}


}  // namespace

Scene Look() {
  Scene s;
  CBulletCtl* bullets = dynamic_cast<CBulletCtl*>(BulletMessengerPtr);
  if (bullets == nullptr) return s;
  for (const CBaseChar* b = bullets->Head; b != nullptr; b = b->Next)
    if (!b->Dead && b->KindWord == 5) AddThreat(&s.threats, b, true);
  CEnemyCtl* enemies = dynamic_cast<CEnemyCtl*>(bullets->Faces.Enemy);
  if (enemies == nullptr) return s;
  for (const CBaseChar* e = enemies->Head; e != nullptr; e = e->Next) {
    if (e->Dead) continue;
    AddThreat(&s.threats, e, false);
    s.enemies.push_back(e);
  }
  return s;
}

// The pad for the next frame: the move (of nine) whose path over the next
// frames keeps clear of every threat, then stays under the lowest enemy
// above the player and near the bottom of the field.
int Steer() {
  int px = 0, py = 0;
  if (PlayerMessengerPtr == nullptr) return PAD_FIRE;
  PlayerMessengerPtr->GetPlayerPos(1, &px, &py);
  const Scene scene = Look();
  double targetX = 480, targetY = 620, lowest = -1e9;
  bool big = false;
  for (const CBaseChar* e : scene.enemies) {
    const double ex = e->X / 1000.0, ey = e->Y / 1000.0;
    if (ey > 0 && ey < py - 60 && ey > lowest && ex > 210 && ex < 750) {
      lowest = ey;
      targetX = ex;
    }
    if (e->HitPoints > 15000 && ey > 0) big = true;
  }
  static const int MOVES[9] = {0,
                               PAD_UP,
                               PAD_DOWN,
                               PAD_LEFT,
                               PAD_RIGHT,
                               PAD_UP | PAD_LEFT,
                               PAD_UP | PAD_RIGHT,
                               PAD_DOWN | PAD_LEFT,
                               PAD_DOWN | PAD_RIGHT};
  int best = 0;
  double bestScore = -1e18;
  for (int move : MOVES) {
    double dx = (move & PAD_RIGHT ? 1 : 0) - (move & PAD_LEFT ? 1 : 0);
    double dy = (move & PAD_DOWN ? 1 : 0) - (move & PAD_UP ? 1 : 0);
    const double len = hypot(dx, dy);
    if (len > 0) dx /= len, dy /= len;
    double danger = 0, x = px, y = py;
    for (int t = 1; t <= LOOK_AHEAD; ++t) {
      x = std::max(238.0, std::min(722.0, x + dx * PLAYER_STEP));
      y = std::max(40.0, std::min(680.0, y + dy * PLAYER_STEP));
      for (const Threat& th : scene.threats) {
        const double d = ThreatDistance(th, x, y, t) - PLAYER_RADIUS;
        if (d < 6) danger += 1000.0 / t;
        else if (d < 40) danger += (40 - d) / (40.0 * t);
      }
    }
    const double score = -danger * 100 - fabs(x - targetX) * 0.02 - fabs(y - targetY) * 0.01;
    if (score > bestScore) bestScore = score, best = move;
  }
  int pad = best | PAD_FIRE;
  static int laserWait = 0;
  if (laserWait > 0) --laserWait;
  if (big && laserWait == 0 && StatusInstance.GetStatusField(1, STATUS_GAUGE) >= PLAYER_MP_COST) {
    pad |= PAD_LASER;
    laserWait = 2;
  }
  return pad;
}

}  // namespace steering
