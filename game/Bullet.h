// Bullets: the creation record, the kind table, the eight bullet classes and
// the bullet controller (movement, the special's pull, edge removal, hits).
#ifndef GAME_BULLET_H
#define GAME_BULLET_H

#include "Task.h"

// Twelve 32-bit words, passed by value.
struct BulletParams {
  int Kind;            // 0..7, row of BulletKindTable
  int X, Y;            // px
  int Attack;          // damage of a hit
  double Angle;        // radians
  int OwnerId;         // 0 enemy bullet, else the player id
  int Unused7;         // 0
  int Length;          // px, start to end of a box-shaped bullet
  int Unused9;         // creators pass 960
  int TargetId;        // enemy id a homing bullet steers to, -1 none
  unsigned char Flag;  // creators pass 1; not read
};
static_assert(sizeof(BulletParams) == 48, "twelve words");

// Fills a record with the words creators leave at their usual values.
BulletParams MakeBulletParams(int kind, int x, int y, int attack, double angle, int ownerId);

enum {
  BULLET_PLAYER = 0,
  BULLET_PLAYER_HOMING = 1,
  BULLET_PLAYER_BIG = 2,
  BULLET_PLAYER_LAZER = 3,
  BULLET_QUINSEL_FLASH = 4,
  BULLET_SEARCH = 5,
  BULLET_SEARCH_LAZER = 6,
  BULLET_TORNADO = 7,
  BULLET_KIND_COUNT = 8,
};

struct BulletKindRow {
  int Kind;  // BULLET_KIND_COUNT ends the table
  const char* Image;
  int Width, Height;
  int Radius;  // 0: box-shaped
  int BoxWidth, BoxHeight;
  int Alpha;
  int Life, Spare;
  int Speed;  // 1/1000 px a frame
};
extern const BulletKindRow BulletKindTable[BULLET_KIND_COUNT + 1];

enum { BULLET_ITEM_KIND_FROM_FLASH = 100 };

// Work ints of a bullet.
enum { BULLET_WORK_STARTED = 10 };

class CBaseBullet : public CBaseChar {
 public:
  CBaseBullet();
  void Init() override {}
  void Draw() override;
  virtual void Setup(const MessengerSet& faces, const BulletParams& params);

  // Enemy bullets are tagged and drawn toward the special; player-side
  // bullets carry on with their own update.
  void ReactToSpecial();

  // The shared movers: along the angle at speed / 1000 px, or straight up.
  void MoveAlongAngle(double step);
  void MoveUp(double step);
  // Current tile := tile of the kind's sheet (category 2).
  void ShowTile(int sheet, int tile);
  // Animation counter + 1, back to 0 at wrap.
  void AdvanceCounter(int wrap);

  int KindIndex;
  int OwnerId;
  int SpecialTag;
  int TargetId;
  MessengerSet Faces;
  double StartX, StartY;  // px, box-shaped only
  double EndX, EndY;
  double DrawScale;
  int Travelled;  // px
  int Alpha;
  double DrawAngle;
};

class CBulletPlayer : public CBaseBullet {
 public:
  void Update() override;
};
class CBulletPlayerHoming : public CBaseBullet {
 public:
  void Update() override;
  // Turns the angle toward the target by at most the frame's limit.
  void Steer(int t);
};
class CBulletPlayerBig : public CBaseBullet {
 public:
  void Update() override;
};
class CBulletPlayerLazer : public CBaseBullet {
 public:
  void Update() override;
};
class CBulletQuinselFlash : public CBaseBullet {
 public:
  void Update() override;
};
class CBulletSearch : public CBaseBullet {
 public:
  void Update() override;
};
class CBulletSearchLazer : public CBaseBullet {
 public:
  void Update() override;
};
class CBulletTornado : public CBaseBullet {
 public:
  void Update() override;
};

// Homing shots: the scaled step of frame t and the turn limit in radians.
double HomingStep(int speed, int t);
double HomingTurnLimit(int t);
// The new angle: A (target direction, 0..2 pi) is reached when it lies within
// the limit, else the angle turns by the limit the shorter way round.
double HomingTurn(double angle, double target, double limit);

class CBulletCtl : public CBaseCharCtl, public CCharMessenger, public CBulletMessenger {
 public:
  explicit CBulletCtl(CScreenMessenger* screen);
  void Init() override {}
  void Update() override;

  int CheckHit(int querierKind, int querierShape, int x, int y, int radius, const double* boxCorners, int* firstOut,
               int* secondOut) override;
  void CreateBullet(BulletParams params) override;

  void SetMessengers(const MessengerSet& faces) { Faces = faces; }
  int Count() const;

  MessengerSet Faces;
};

#endif  // GAME_BULLET_H
