// Items: the pick-ups enemies leave, their movers, and the controller that
// removes them off the field and asks the player controller for pick-ups.
#ifndef GAME_ITEM_H
#define GAME_ITEM_H

#include "Task.h"

enum {
  ITEM_QUINSEL = 0,
  ITEM_SEED = 1,
  ITEM_SEED_2 = 2,
  ITEM_MAGIC = 3,
  ITEM_TABLE_END = 4,
  ITEM_FLASH_QUINSEL = 100,
  CHAR_KIND_ITEM = 7,
};

struct ItemKindRow {
  int Kind;  // ITEM_TABLE_END ends the table
  const char* Image;
  int Width, Height;
  int Radius;
};
extern const ItemKindRow ItemKindTable[];

// The kind's row, null when the table has none.
const ItemKindRow* FindItemKind(int kind);
// Writes the kind's image size when both pointers are given and the kind is
// in the table.
void GetItemKindSize(int kind, int* width, int* height);

// Work ints of an item.
enum {
  ITEM_WORK_BASE_Y = 0,   // kind 100: the pixel y it hops about
  ITEM_WORK_STARTED = 1,  // 1 after the first update
  ITEM_WORK_PHASE = 2,    // kind 3: the look shown, 0..2
};

class CItem : public CBaseChar {
 public:
  CItem();
  void Init() override {}
  void Final() override {}
  void Update() override;
  void Draw() override;

  void Setup(const MessengerSet& faces, int kind, int x, int y);
  void MoveDefault();
  void MoveToPlayer();
  void MoveBouncing();

  MessengerSet Faces;
  int ItemKind;
};

// What picking the item up does to status record `record`.
void ApplyItemEffect(const CItem* item, int record);

class CItemCtl : public CBaseCharCtl, public CCharMessenger, public CItemMessenger {
 public:
  explicit CItemCtl(CScreenMessenger* screen);
  void Init() override {}
  // Removes the dead, updates the rest and removes at once those outside
  // x 210..750, y -500..720.
  void Update() override;

  // Items do no damage.
  int CheckHit(int querierKind, int querierShape, int x, int y, int radius, const double* boxCorners, int* firstOut,
               int* secondOut) override;
  void CreateItem(int kind, int x, int y) override;

  // Asks the player controller whether it touches each item; a touched item
  // plays the pick-up sound, takes effect and is marked dead.
  void CheckPickUpBy(CCharMessenger* player);

  void SetMessengers(const MessengerSet& faces) { Faces = faces; }

  MessengerSet Faces;
};

#endif  // GAME_ITEM_H
