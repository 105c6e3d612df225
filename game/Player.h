// The player's side of the play scene: the main player, up to four options
// and the special, all CPlayer objects told apart by their kind word, held by
// CPlayerCtl.
#ifndef GAME_PLAYER_H
#define GAME_PLAYER_H

#include "Task.h"

// Work ints of a CPlayer.
enum {
  PLAYER_WORK_TILT = 0,          // -12..12, the main player's lean
  PLAYER_WORK_FIRE_TIMER = 1,    // frame within the firing cycle
  PLAYER_WORK_SPECIAL_AGE = 2,   // frames the special has lived
  PLAYER_WORK_SPECIAL_LIFE = 3,  // frames the special lives; 0 reads as 300
  PLAYER_WORK_LASER_TIMER = 4,   // 0 off, else 1..300
};

enum {
  PLAYER_TILE_COUNT = 16,
  PLAYER_MAX_TILT = 12,
  PLAYER_INVINCIBLE_FRAMES = 180,
  PLAYER_MAX_ABSORBED = 250,
  PLAYER_MP_COST = 10000,
  PLAYER_LASER_FRAMES = 300,
  PLAYER_SPECIAL_LIFE = 300,
};

// Sound effects the player plays.
enum { SOUND_PLAYER_SHOT = 0, SOUND_PLAYER_ALARM = 8, SOUND_PLAYER_HIT = 9 };

class CPlayer : public CBaseChar {
 public:
  CPlayer();
  void Init() override {}
  void Update() override;
  void Draw() override;

  void UpdateMainPlayer();
  void UpdateOption();
  void UpdateSpecial();

  // Current tile := one of the object's 16 tiles.
  void ShowTile(int tile) { Graph[0] = Tiles[tile]; }

  int Tiles[PLAYER_TILE_COUNT];
  MessengerSet Faces;
  int PlayerId;
  int OptionIndex;    // 1..4, place in the formation
  int LiveShotCount;  // volleys fired minus regular shots gone
  int PatternId;      // -1 none
  int AbsorbedCount;  // enemy bullets the special swallowed, 0..250
};

// The main player's steering from the held direction keys (counters of keys
// 0 up, 1 left, 2 down, 3 right; 0 = released).
struct PlayerSteer {
  bool Moves;    // a direction key is held
  double Angle;  // valid when Moves
  int Lean;      // -1 left, 1 right, 0 none
};
PlayerSteer SteerFromKeys(const int counters[4]);

// Formation offset (px) of option `index` when `count` options exist.
void OptionOffset(int count, int index, int* dx, int* dy);

class CPlayerCtl : public CBaseCharCtl, public CCharMessenger, public CPlayerMessenger {
 public:
  explicit CPlayerCtl(CScreenMessenger* screen);
  void Init() override {}
  // Removes the dead, updates the rest and forgets their finished patterns.
  void Update() override;
  // Each object with bilinear sampling on.
  void Draw() override;

  // Stores the five faces and creates the main player.
  void SetUp(const MessengerSet& faces);
  // Counts down invincibility, else asks the other controller for hits and
  // applies them: lives for the main player, the absorbed count for the
  // special.
  void TakeHitsFrom(CCharMessenger* other);

  // The player objects against a querier (items): 1000 and the object's
  // player id in secondOut on a hit, else 0.
  int CheckHit(int querierKind, int querierShape, int x, int y, int radius, const double* boxCorners, int* firstOut,
               int* secondOut) override;

  // Queries leave their outputs untouched when no object matches.
  void GetPlayerPos(int id, int* x, int* y) override;
  void GetPlayerPosRaw(int id, int* x, int* y) override;
  void GetPlayerPosF(int id, double* x, double* y) override;
  void GetSpecialPosRaw(int id, int* x, int* y) override;
  bool HasSpecial(int id) override;
  void AddOption(int id) override;
  void StartSpecial(int id) override;
  void GetLiveShotCount(int id, int* count) override;
  void SetLiveShotCount(int id, int count) override;

  // The first object of the kind with the player id, or null.
  CPlayer* Find(int kindWord, int id) const;
  // An option or special of the player, made at the player's place and not
  // yet linked; null when memory runs out.
  CPlayer* NewCompanion(int kindWord, int id, int speed);

  MessengerSet Faces;
};

#endif  // GAME_PLAYER_H
