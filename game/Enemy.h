// Enemies: the stage's spawn schedule read from "data/enemy_ptn.csv", the
// enemy controller (spawning, the per-frame walk, hits, score, drops, the
// revenge shot) and the seven enemy kinds.
#ifndef GAME_ENEMY_H
#define GAME_ENEMY_H

#include "CharCtl.h"
#include "Task.h"

enum {
  SCHEDULE_RECORDS = 501,  // the last one always ends the table
  SCHEDULE_USABLE = 500,
  SCHEDULE_CELL_SIZE = 64,  // bytes of one cell
  SCHEDULE_CELLS_PER_RECORD = 12,
  ENEMY_KIND_COUNT = 7,
  ENEMY_KIND_BOSS = 6,
  ENEMY_TILE_COUNT = 16,
  ENEMY_DROP_KINDS = 4,
};

extern const char* const EnemyScheduleFile;  // "data/enemy_ptn.csv"

// One row of the schedule; Frame -1 ends the table.
struct SpawnRecord {
  int Frame;                   // move-counter value at which the enemy enters
  int Kind;                    // 0..6; other values spawn nothing
  int X, Y;                    // px
  int Extra;                   // handed to the enemy
  int Drop[ENEMY_DROP_KINDS];  // per item kind: -1 no drop, else drop one
};

// Fills table (SCHEDULE_RECORDS records) from the schedule file: every
// record's Frame -1 and the other fields 0 first, then the rows read. The
// number of records filled, or -1 when the file does not open. Reading ends at
// the end of the file, a byte 0xFF, or a 0 (the handle is no longer valid).
int LoadEnemyPatterns(const char* path, SpawnRecord* table);

// Converts a cell the way the schedule wants: leading white space, an
// optional sign, then digits (and for the float form a fraction and an
// exponent) up to the first other character; 0 when there are none. The
// float form is truncated toward zero; both saturate at the int range.
int ScheduleCellInt(const char* cell);
int ScheduleCellFloat(const char* cell);

struct EnemyKindRow {
  const char* ImagePath;
  int Width, Height;
  int Zero1, Zero2;
  int HitPoints;
  int Attack;
  int Speed;     // 1/1000 px a frame
  int Airborne;  // 1 flies; 0 ground object, carried by the scroll
  int Radius;    // 0: box-shaped
  int BoxWidth, BoxHeight;
  int Score;
  int KindPlusOne;
};
extern const EnemyKindRow EnemyKindTable[ENEMY_KIND_COUNT];

// Pattern kinds the enemies create.
enum {
  ENEMY_PATTERN_SEARCH = 6,
  ENEMY_PATTERN_2WAY5CONT = 8,
  ENEMY_PATTERN_RAND15 = 10,
  ENEMY_PATTERN_KUKURU_EVEN8 = 11,
};

// Sound effects of enemy hits.
enum { SOUND_ENEMY_HIT = 2, SOUND_ENEMY_DESTROYED = 3 };

class CBaseEnemy : public CBaseChar {
 public:
  CBaseEnemy();
  void Init() override {}
  void Draw() override;
  // Fills the enemy from its kind's table row; drops may be null.
  virtual void Setup(const MessengerSet& faces, int x, int y, const int* drops, int extra);

  // False when a ground enemy is within 110 px of the main player, when
  // y >= 576, or outside the play field; (x, y) in px.
  static bool MayFire(const CBaseEnemy* enemy, double x, double y);

  // Moves `Speed` along `Angle` (or straight down) from the integer
  // position, keeping the exact position.
  void MoveAlongAngle();
  void MoveDown();
  // Creates a pattern at (x, y) px through the pattern face and keeps its id.
  void CreatePattern(int kind, int x, int y);
  // The main player's position in px through the player face; (0, 0) when
  // there is none.
  void PlayerPosition(int* x, int* y) const;
  void ShowTile(int slot, int tile) { Graph[slot] = Tiles[tile]; }

  MessengerSet Faces;
  CEnemyMessenger* Owner;
  int EnemyId;
  int KindIndex;
  int Drop[ENEMY_DROP_KINDS];
  int PatternId;  // latest pattern created, -1 none
  int Extra;
  int Airborne;
  int DrawOffsetX, DrawOffsetY;  // px
  double GraphAngle[5];          // draw angle per tile slot
  int Tiles[ENEMY_TILE_COUNT];   // the kind's sheet

 private:
  void DrawBossGauge() const;
};

class CEnemy_Rubyrou : public CBaseEnemy {
 public:
  void Update() override;
};

class CEnemy_FlameFly : public CBaseEnemy {
 public:
  void Update() override;
};

class CEnemy_Agcat : public CBaseEnemy {
 public:
  void Update() override;
};

class CEnemy_Cannon : public CBaseEnemy {
 public:
  void Update() override;
};

class CEnemy_Doradora : public CBaseEnemy {
 public:
  void Update() override;
};

class CEnemy_FairyKnight : public CBaseEnemy {
 public:
  CEnemy_FairyKnight() { DrawOffsetY = 50; }
  void Update() override;
};

class CEnemy_Kukuru : public CBaseEnemy {
 public:
  CEnemy_Kukuru() { DrawOffsetY = 10; }
  void Update() override;
};

// Makes the enemy object of kind 0..6 (not set up), null for another kind.
CBaseEnemy* MakeEnemyOfKind(int kind);

class CEnemyCtl : public CEnemyCtlBase {
 public:
  // Reads the schedule.
  explicit CEnemyCtl(CScreenMessenger* screen);
  ~CEnemyCtl() override;
  void Init() override {}
  void Update() override;

  void SetMessengers(const MessengerSet& faces) override;
  void TakeHitsFrom(CCharMessenger* other) override;

  // CCharMessenger: answers the main player (0) and kind 4 only.
  int CheckHit(int querierKind, int querierShape, int x, int y, int radius, const double* boxCorners, int* firstOut,
               int* secondOut) override;
  // CEnemyMessenger.
  void CreateEnemy(int kind, int x, int y, const int* dropFlags, int extra) override;
  int FindNearestEnemy(int x, int y) override;
  int GetEnemyPos(int id, int* x, int* y) override;

  MessengerSet Faces;
  int NextEnemyId;
  SpawnRecord Schedule[SCHEDULE_RECORDS];

 private:
  void Remove(CBaseChar* enemy);
  void Score(int record, int points);
};

// The factory the character controller uses.
CEnemyCtlBase* CreateEnemyCtl(CScreenMessenger* screen);

#endif  // GAME_ENEMY_H
