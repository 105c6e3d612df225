// Firing patterns: short-lived invisible objects that fire one volley or a
// timed series of bullets, and their controller with serial ids.
#ifndef GAME_BULLETPTN_H
#define GAME_BULLETPTN_H

#include "Task.h"

enum {
  PTN_PLAYER = 1,
  PTN_PLAYER_HOMING = 2,
  PTN_PLAYER_BIG = 3,
  PTN_PLAYER_LAZER = 4,
  PTN_QUINSEL_FLASH = 5,
  PTN_SEARCH = 6,
  PTN_SEARCH_LAZER = 7,
  PTN_2WAY_5CONT = 8,
  PTN_1WAY_W5CONT = 9,
  PTN_RAND15 = 10,
  PTN_KUKURU_EVEN8 = 11,
};

// Work ints of a pattern.
enum {
  PTN_WORK_VOLLEYS = 0,
  PTN_WORK_PHASE = 1,
  PTN_WORK_TARGET_X = 2,
  PTN_WORK_TARGET_Y = 3,
};

class CBaseBulletPtn : public CBaseChar {
 public:
  explicit CBaseBulletPtn(const MessengerSet& faces);
  void Init() override {}
  // Keeps what the kind reads of (owner id, x px, y px, p1, p2).
  virtual void Setup(int ownerId, int x, int y, int p1, int p2) = 0;

  // Sends one bullet through the bullet face.
  void Fire(int bulletKind, int x, int y, int attack, double angle, int length = 0, int targetId = -1);
  // The main player's position in px, (0, 0) when it cannot be read.
  static void ReadPlayerPos(int* x, int* y);
  // atan2 from the origin to the point.
  double AimAt(int x, int y) const;

  MessengerSet Faces;
  int SerialId;
  int OriginX, OriginY;  // px
  int TargetEnemyId;
  int OwnerId;
  int BulletCount;
};

// Setup variants.
class CBulletPtn_Player : public CBaseBulletPtn {
 public:
  using CBaseBulletPtn::CBaseBulletPtn;
  void Setup(int ownerId, int x, int y, int p1, int p2) override;
  void Update() override;
};
class CBulletPtn_PlayerHoming : public CBaseBulletPtn {
 public:
  using CBaseBulletPtn::CBaseBulletPtn;
  void Setup(int ownerId, int x, int y, int p1, int p2) override;
  void Update() override;
};
class CBulletPtn_QuinselFlash : public CBaseBulletPtn {
 public:
  using CBaseBulletPtn::CBaseBulletPtn;
  void Setup(int ownerId, int x, int y, int p1, int p2) override;
  void Update() override;
};
class CBulletPtn_Search : public CBaseBulletPtn {
 public:
  using CBaseBulletPtn::CBaseBulletPtn;
  void Setup(int ownerId, int x, int y, int p1, int p2) override;
  void Update() override;
};
class CBulletPtn_1wayW5cont : public CBaseBulletPtn {
 public:
  using CBaseBulletPtn::CBaseBulletPtn;
  void Setup(int ownerId, int x, int y, int p1, int p2) override;
  void Update() override;
};

// Kinds that share a variant's Setup.
class CBulletPtn_PlayerBig : public CBulletPtn_Player {
 public:
  using CBulletPtn_Player::CBulletPtn_Player;
  void Update() override;
};
class CBulletPtn_PlayerLazer : public CBulletPtn_Player {
 public:
  using CBulletPtn_Player::CBulletPtn_Player;
  void Update() override;
  // The beam: image pieces 190 px apart from the player up past the top.
  void Draw() override;
};
class CBulletPtn_SearchLazer : public CBulletPtn_Search {
 public:
  using CBulletPtn_Search::CBulletPtn_Search;
  void Update() override;
};
class CBulletPtn_2way5cont : public CBulletPtn_Search {
 public:
  using CBulletPtn_Search::CBulletPtn_Search;
  void Update() override;
};
class CBulletPtn_Rand15 : public CBulletPtn_1wayW5cont {
 public:
  using CBulletPtn_1wayW5cont::CBulletPtn_1wayW5cont;
  void Update() override;
};
class CBulletPtn_Kukuru_Even8 : public CBulletPtn_1wayW5cont {
 public:
  using CBulletPtn_1wayW5cont::CBulletPtn_1wayW5cont;
  void Update() override;
};

class CBulletPtnCtl : public CBaseCharCtl, public CBulletPtnMessenger {
 public:
  explicit CBulletPtnCtl(CScreenMessenger* screen);
  void Init() override {}

  // Kind 1..11: the pattern's serial id; any other kind -1.
  int CreatePattern(int kind, int ownerId, int x, int y, int p1, int p2) override;
  // A pattern marked dead but not yet removed still counts.
  bool IsPatternAlive(int serialId) override;
  // Marks the pattern dead; the next update removes it.
  void KillPattern(int serialId) override;

  void SetMessengers(const MessengerSet& faces) { Faces = faces; }

  MessengerSet Faces;
  int NextSerialId;
};

#endif  // GAME_BULLETPTN_H
