// The generated stage played through, headless: GameMain against the
// library double with the build's "data/enemy_ptn.csv" and a steering
// player that looks at the screen's objects the way a person would (holds
// fire, keeps under the enemies, sidesteps shots and bodies it sees coming,
// fires the laser at big enemies). It reaches STAGE CLEAR with lives to
// spare after about two minutes of play, meeting every enemy kind.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <set>
#include <string>

#include "Bullet.h"
#include "Enemy.h"
#include "EnemyDoubles.h"
#include "GameFixture.h"
#include "PadBits.h"
#include "Player.h"
#include "Screen.h"

using namespace ridov_double;
using namespace enemy_doubles;

namespace {

const int START_FRAME = 3;          // GAME START on the title
const int FRAME_LIMIT = 12000;      // two minutes of play is about 7700 frames
const double PLAYER_STEP = 4.5;     // px a frame
const double PLAYER_RADIUS = 10.0;  // px
const int LOOK_AHEAD = 10;          // frames

// Something that can hurt the player: a circle or a box (four corners),
// moving at a constant velocity.
struct Threat {
  double x, y, vx, vy, radius;
  bool box;
  double corner[8];
};

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

// What the player sees: enemy shots and enemy bodies.
struct Scene {
  std::vector<Threat> threats;
  std::vector<const CBaseChar*> enemies;
};

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
  static const int MOVES[9] = {0, PAD_UP, PAD_DOWN, PAD_LEFT, PAD_RIGHT, PAD_UP | PAD_LEFT, PAD_UP | PAD_RIGHT,
                               PAD_DOWN | PAD_LEFT, PAD_DOWN | PAD_RIGHT};
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

struct PlayRun {
  int frames = 0;
  int playFrames = 0;
  int clearFrame = 0, overFrame = 0, titleAfterPlay = 0;
  int livesAtEnd = 0;
  int bossHpMax = 0;
  std::set<int> kindsSeen;
};
PlayRun* Current = nullptr;

void EndOfFrame(unsigned int milliseconds) {
  PlayRun& r = *Current;
  ++r.frames;
  bool clear = false, over = false, title = false;
  for (const std::string& c : Calls()) {
    if (c.compare(0, 17, "DrawTextWithFont(") != 0) continue;
    clear |= c.find("\"STAGE CLEAR\"") != std::string::npos;
    over |= c.find("\"GAME OVER\"") != std::string::npos;
    title |= c.find("\"TOP画面\"") != std::string::npos;
  }
  ClearCalls();
  if (clear && r.clearFrame == 0) r.clearFrame = r.frames;
  if (over && r.overFrame == 0) r.overFrame = r.frames;
  if (title && (r.clearFrame || r.overFrame) && r.titleAfterPlay == 0) r.titleAfterPlay = r.frames;
  const bool playing = r.frames > START_FRAME && r.clearFrame == 0 && r.overFrame == 0;
  if (playing) {
    ++r.playFrames;
    r.livesAtEnd = StatusInstance.GetStatusField(1, STATUS_LIVES);
    r.bossHpMax = std::max(r.bossHpMax, StatusInstance.GetStatusField(1, STATUS_BOSS_HP));
    const Scene scene = Look();
    for (const CBaseChar* e : scene.enemies)
      if (const CBaseEnemy* enemy = dynamic_cast<const CBaseEnemy*>(e)) r.kindsSeen.insert(enemy->KindIndex);
    if (getenv("STAGE_PLAY_TRACE") != nullptr && r.frames % 300 == 0) {
      int x = 0, y = 0;
      if (PlayerMessengerPtr != nullptr) PlayerMessengerPtr->GetPlayerPos(1, &x, &y);
      printf("frame %d lives %d boss %d score %d mp %d player %d,%d threats %zu\n", r.frames, r.livesAtEnd,
             StatusInstance.GetStatusField(1, STATUS_BOSS_HP), StatusInstance.GetScore(1),
             StatusInstance.GetStatusField(1, STATUS_GAUGE), x, y, scene.threats.size());
    }
  }
  int pad = 0;
  const int next = r.frames + 1;
  if (next == START_FRAME) pad = PAD_FIRE;
  else if (playing) pad = Steer();
  else if (r.titleAfterPlay && next == r.titleAfterPlay + 20) pad = PAD_DOWN;  // to QUIT
  else if (r.titleAfterPlay && next == r.titleAfterPlay + 22) pad = PAD_FIRE;
  if (r.frames >= FRAME_LIMIT) SetDefaultResult("ClearDrawTarget", -1);  // ends the loop
  SetPadState(pad);
  FakeSleep(milliseconds);
}

class StagePlayTest : public GameTest {};

TEST_F(StagePlayTest, TheGeneratedStageCanBeCleared) {
  const std::string schedule = ReadGeneratedData("data/enemy_ptn.csv");
  ASSERT_FALSE(schedule.empty()) << QUINSEL_DATA_DIR;
  PlayRun r;
  Current = &r;
  FrameSleepFunction = EndOfFrame;
  ScriptFile(schedule);
  SetPadState(0);
  const int result = GameMain(ScreenTaskEntry);
  Current = nullptr;

  EXPECT_EQ(0, result);
  EXPECT_EQ(0, r.overFrame) << "lost every life after " << r.playFrames << " frames";
  ASSERT_GT(r.clearFrame, 0) << "no STAGE CLEAR in " << r.frames << " frames";
  EXPECT_GE(r.livesAtEnd, 1);
  EXPECT_EQ(400000, r.bossHpMax);
  EXPECT_EQ((std::set<int>{0, 1, 2, 3, 4, 5, 6}), r.kindsSeen);
  // About two minutes of play (60 frames a second) before the stage ends.
  EXPECT_GE(r.playFrames, 110 * 60);
  EXPECT_LE(r.playFrames, 150 * 60);
  EXPECT_GT(r.titleAfterPlay, r.clearFrame);
}

}  // namespace
