// The play scene's owner of all characters: the five play controllers, the
// messenger set that joins them, the frame's update order and collision
// passes. Also the shared hit geometry.
#ifndef GAME_CHARCTL_H
#define GAME_CHARCTL_H

#include "Task.h"

class CPlayerCtl;
class CBulletPtnCtl;
class CBulletCtl;
class CItemCtl;

// The enemy controller as the character controller drives it. It lives in
// its own file and derives from this; it is made through EnemyCtlFactory.
class CEnemyCtlBase : public CBaseCharCtl, public CCharMessenger, public CEnemyMessenger {
 public:
  explicit CEnemyCtlBase(CScreenMessenger* screen) : CBaseCharCtl(screen) {}
  // Takes the five faces and clears the scheduling counters.
  virtual void SetMessengers(const MessengerSet& faces) = 0;
  // Applies to the enemies the hits the other controller's objects deal.
  virtual void TakeHitsFrom(CCharMessenger* other) = 0;
};

// Builds the play scene's enemy controller (reading its schedule); null, or a
// factory that returns null, gives a play scene without enemies.
extern CEnemyCtlBase* (*EnemyCtlFactory)(CScreenMessenger* screen);

enum { SCENE_ID_TITLE = 1, SCENE_ID_PLAY = 2 };

class CCharCtl : public CTask {
 public:
  // Creates the controllers: only for the play scene (id 2) the player,
  // pattern, bullet, enemy and item controllers, publishing PlayerMessengerPtr,
  // BulletMessengerPtr and ItemMessengerPtr; for any other id none.
  CCharCtl(int sceneId, CScreenMessenger* screen);
  // Destroys each controller's characters, then the controller; clears the
  // published globals that point at them.
  ~CCharCtl() override;

  // Hands the messenger set to the controllers; the player controller also
  // creates the main player.
  void Init() override;
  // Controllers in the order player, enemy, pattern, bullet, item, then the
  // collision passes. The screen task calls it only while not paused.
  void Update() override;
  void Draw() override;

  CPlayerCtl* PlayerCtl;
  CEnemyCtlBase* EnemyCtl;
  CBulletPtnCtl* BulletPtnCtl;
  CBulletCtl* BulletCtl;
  CItemCtl* ItemCtl;
  MessengerSet Messengers;

 private:
  CCharCtl(const CCharCtl&) = delete;
  CCharCtl& operator=(const CCharCtl&) = delete;
};

// True when the circle (cx, cy, r) touches the box of four corners
// (x1, y1 .. x4, y4): a corner strictly inside the circle, the centre inside
// the box, or an edge closer than r. All in px.
bool HitCircleVsBox(double cx, double cy, double r, const double corners[8]);

// The bullet's attack value when it hits the querier, else 0. Player-side
// bullets never hit the player (0) or the special (2), enemy-side bullets
// never hit enemies (3). A circle moving further than the summed radii in a
// frame is sampled back along its last move. Querier position and radius in
// px; corners only for a box-shaped querier (may be null).
int TestBulletHit(const CBaseChar* bullet, int querierKind, int x, int y, const double* corners, int radius,
                  int querierShape);

#endif  // GAME_CHARCTL_H
