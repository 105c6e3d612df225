// Tasks, the character base record, character lists and the messenger
// interfaces through which the game's parts reach each other.
#ifndef GAME_TASK_H
#define GAME_TASK_H

struct BulletParams;

// Angles are radians, 0 pointing right and pi / 2 down; pi as the game
// writes it.
const double PI = 3.1415926535898;

// Every updatable object: initialised, finalised, updated and drawn once a
// frame. An owner that discards a task calls Final first where it must.
class CTask {
 public:
  virtual void Init() {}
  virtual void Final() {}
  virtual void Update() = 0;
  virtual void Draw() = 0;
  virtual ~CTask() {}
};

// Messenger interfaces: pure operations, implemented by the controllers and
// the screen task.
class CScreenMessenger {
 public:
  virtual void RequestScene(int sceneId) = 0;
  virtual void RequestQuit() = 0;
  virtual void SetPause(bool paused) = 0;
  virtual bool IsPaused() = 0;
  virtual void StartFadeIn(int frames) = 0;
  virtual void StartFadeOut(int frames) = 0;
  virtual void LockInput() = 0;
  virtual void UnlockInput() = 0;
  // 0: the scroll speed; 1: the move counter; anything else: 0.
  virtual int GetCounter(int which) = 0;
};

class CMenuCtlMessenger {
 public:
  virtual void RequestScene(int sceneId) = 0;
  virtual void PostMenuCommand(int command) = 0;
  virtual void SetPause(bool paused) = 0;
  virtual void RequestQuit() = 0;
};

class CCharMessenger {
 public:
  // Damage the answering controller's objects deal to the querier, 0 for no
  // hit. boxCorners (8 doubles) only for a box-shaped querier; either out
  // pointer may be null.
  virtual int CheckHit(int querierKind, int querierShape, int x, int y, int radius, const double* boxCorners,
                       int* firstOut, int* secondOut) = 0;
};

class CPlayerMessenger {
 public:
  virtual void GetPlayerPos(int id, int* x, int* y) = 0;
  virtual void GetPlayerPosRaw(int id, int* x, int* y) = 0;
  virtual void GetPlayerPosF(int id, double* x, double* y) = 0;
  virtual void GetSpecialPosRaw(int id, int* x, int* y) = 0;
  virtual bool HasSpecial(int id) = 0;
  virtual void AddOption(int id) = 0;
  virtual void StartSpecial(int id) = 0;
  virtual void GetLiveShotCount(int id, int* count) = 0;
  virtual void SetLiveShotCount(int id, int count) = 0;
};

class CEnemyMessenger {
 public:
  virtual void CreateEnemy(int kind, int x, int y, const int* dropFlags, int extra) = 0;
  virtual int FindNearestEnemy(int x, int y) = 0;
  virtual int GetEnemyPos(int id, int* x, int* y) = 0;
};

class CBulletMessenger {
 public:
  virtual void CreateBullet(BulletParams params) = 0;
};

class CBulletPtnMessenger {
 public:
  virtual int CreatePattern(int kind, int ownerId, int x, int y, int p1, int p2) = 0;
  virtual bool IsPatternAlive(int serialId) = 0;
  virtual void KillPattern(int serialId) = 0;
};

class CItemMessenger {
 public:
  virtual void CreateItem(int kind, int x, int y) = 0;
};

// The faces one play controller hands to the characters it creates; any may
// be null (outside the play scene all are).
struct MessengerSet {
  CPlayerMessenger* Player;
  CBulletPtnMessenger* BulletPtn;
  CBulletMessenger* Bullet;
  CEnemyMessenger* Enemy;
  CItemMessenger* Item;
};

// Published when the play controllers are created.
extern CPlayerMessenger* PlayerMessengerPtr;
extern CBulletMessenger* BulletMessengerPtr;
extern CItemMessenger* ItemMessengerPtr;

// Kind words.
enum {
  CHAR_KIND_PLAYER = 0,
  CHAR_KIND_OPTION = 1,
  CHAR_KIND_SPECIAL = 2,
  CHAR_KIND_ENEMY = 3,
  CHAR_KIND_PLAYER_BULLET = 4,
  CHAR_KIND_ENEMY_BULLET = 5,
};

enum { CHAR_SHAPE_CIRCLE = 0, CHAR_SHAPE_BOX = 1 };

// The common record of everything on screen. Positions in 1/1000 px unless
// said; angles in radians, 0 pointing right, pi/2 down.
class CBaseChar : public CTask {
 public:
  CBaseChar();
  void Init() override = 0;
  void Final() override {}
  void Update() override {}
  void Draw() override {}

  // Whole pixels, truncated toward zero; writes nothing unless both
  // pointers are given.
  void GetPositionPx(int* x, int* y) const;
  // Box shape only: recomputes BoxCorner (and, for non-enemies, LaserCorner)
  // from the pixel position, angle, box size and scale.
  void UpdateHitBoxCorners();

  int HitPoints;
  int KindWord;
  int X, Y;
  int Shape;
  double PxX, PxY;      // pixel copy of the position
  double BoxCorner[8];  // x1, y1 .. x4, y4 of the box hit area, px
  bool Dead;            // the controller removes the object on its next pass
  CBaseChar* Prev;
  CBaseChar* Next;
  int Attack;
  int Speed;  // 1/1000 px a frame
  int FrameCount;
  double Angle;
  int Radius;               // px, circle shape
  int BoxWidth, BoxHeight;  // px, box shape
  double Scale;
  int Graph[5];  // -1 = none
  int ImageWidth, ImageHeight;
  double LaserCorner[8];  // unshrunk corners of a long box, px
  int Work[20];
  int InvincibleFrames;
  bool NoHit;
};

// Holds the characters of one sort in a doubly linked list; updates, draws
// and prunes them.
class CBaseCharCtl : public CTask {
 public:
  explicit CBaseCharCtl(CScreenMessenger* screen);
  void Init() override = 0;
  void Final() override {}
  // Removes (without Final) and deletes every dead object, updates the rest.
  void Update() override;
  void Draw() override;
  virtual void Reserved1() {}
  virtual void Reserved2() {}

  // Links an object at the tail.
  void Append(CBaseChar* object);
  // Takes an object out of the list, joining its neighbours; the caller
  // deletes it.
  void Unlink(CBaseChar* object);
  // Deletes every object, head to tail.
  void Destroy();

  CScreenMessenger* Screen;
  CBaseChar* Head;
  CBaseChar* Tail;
};

#endif  // GAME_TASK_H
