#include "Item.h"

#include <math.h>
#include <new>

#include "DrawCtl.h"
#include "GameMain.h"
#include "Status.h"

const ItemKindRow ItemKindTable[] = {
    {ITEM_QUINSEL, "quinsel.png", 35, 35, 17}, {ITEM_SEED, "seed.png", 40, 40, 17},
    {ITEM_SEED_2, "seed.png", 45, 45, 17},     {ITEM_FLASH_QUINSEL, "quinsel.png", 35, 35, 17},
    {ITEM_MAGIC, "magic.png", 80, 80, 35},     {ITEM_TABLE_END, nullptr, 0, 0, 0},
};

namespace {

const DrawClip PLAY_FIELD = {true, 210, 0, 750, 720};
enum { SOUND_PICK_UP = 5 };
const double BOUNCE_STEP = 3.375;
enum {
  BOUNCE_FRAMES = 1800,
  PHASE_FRAMES = 240,
};

int SheetTile(int sheet, int tile) {
  int set = ImageSetNumber(3, sheet);
  return set < 0 ? -1 : DrawCtlInstance.ImageSets[set].Handles[tile];
}

// The main player's position in px, (0, 0) when it cannot be read.
void PlayerPos(int* x, int* y) {
  *x = 0;
  *y = 0;
  if (PlayerMessengerPtr != nullptr) PlayerMessengerPtr->GetPlayerPos(1, x, y);
}

bool OutsideField(const CBaseChar* c) {
  int x = 0, y = 0;
  c->GetPositionPx(&x, &y);
  return x < 210 || x > 750 || y < -500 || y > 720;
}

}  // namespace

const ItemKindRow* FindItemKind(int kind) {
  for (const ItemKindRow* row = ItemKindTable; row->Kind != ITEM_TABLE_END; ++row)
    if (row->Kind == kind) return row;
  return nullptr;
}

void GetItemKindSize(int kind, int* width, int* height) {
  const ItemKindRow* row = FindItemKind(kind);
  if (row == nullptr || width == nullptr || height == nullptr) return;
  *width = row->Width;
  *height = row->Height;
}

// ---------------------------------------------------------------------- CItem

CItem::CItem() : Faces(), ItemKind(0) {
  HitPoints = 1;
  KindWord = CHAR_KIND_ITEM;
}

void CItem::Setup(const MessengerSet& faces, int kind, int x, int y) {
  Faces = faces;
  ItemKind = kind;
  Angle = (NextStoredRandom() % 360) * PI / 180;
  X = x * 1000;
  Y = y * 1000;
  Speed = -5000;
  Shape = CHAR_SHAPE_CIRCLE;
  const ItemKindRow* row = FindItemKind(kind);
  Radius = row != nullptr ? row->Radius : 0;
  BoxWidth = 0;
  BoxHeight = 0;
  ImageWidth = 0;
  ImageHeight = 0;
  GetItemKindSize(kind, &ImageWidth, &ImageHeight);
}

void CItem::Update() {
  if (ItemKind == ITEM_FLASH_QUINSEL) MoveToPlayer();
  else if (ItemKind == ITEM_MAGIC) MoveBouncing();
  else MoveDefault();
  Work[ITEM_WORK_STARTED] = 1;
  ++FrameCount;
}

void CItem::MoveDefault() {
  if (Speed < 5000) Speed += 100;
  int x = 0, y = 0, px = 0, py = 0;
  GetPositionPx(&x, &y);
  PlayerPos(&px, &py);
  double fx = X / 1000.0, fy = Y / 1000.0;
  double dx = px - x, dy = py - y;
  if (dx * dx + dy * dy <= 10000) {
    double a = atan2(dy, dx);
    fx += cos(a) * (9000 / 1000);
    fy += sin(a) * (9000 / 1000);
  } else {
    fy += Speed / 1000.0;
  }
  X = static_cast<int>(fx * 1000);
  Y = static_cast<int>(fy * 1000);
  Graph[0] = SheetTile(ItemKind, 0);
}

void CItem::MoveToPlayer() {
  int x = 0, y = 0;
  GetPositionPx(&x, &y);
  if (Work[ITEM_WORK_STARTED] == 0) Work[ITEM_WORK_BASE_Y] = y;
  if (FrameCount < 80) {
    Y = (Work[ITEM_WORK_BASE_Y] + static_cast<int>(50 * cos(PI / 2 + FrameCount * PI / 80))) * 1000;
  } else {
    int px = 0, py = 0;
    PlayerPos(&px, &py);
    double fx = X / 1000.0, fy = Y / 1000.0;
    double a = atan2(static_cast<double>(py) - fy, static_cast<double>(px) - fx);
    X = static_cast<int>((fx + cos(a) * 7.875) * 1000);
    Y = static_cast<int>((fy + sin(a) * 7.875) * 1000);
  }
  Graph[0] = SheetTile(ITEM_QUINSEL, 0);
}

void CItem::MoveBouncing() {
  if (Work[ITEM_WORK_STARTED] == 0) FrameCount = (NextStoredRandom() % 3) * PHASE_FRAMES;
  double fx = X / 1000.0, fy = Y / 1000.0;
  if (FrameCount < BOUNCE_FRAMES) {
    double nx = fx + BOUNCE_STEP * cos(Angle), ny = fy + BOUNCE_STEP * sin(Angle);
    if (nx < 210 || nx > 750) Angle = PI - Angle;
    else if (ny < 0 || ny > 720) Angle = -Angle;
  }
  X = static_cast<int>((fx + BOUNCE_STEP * cos(Angle)) * 1000);
  Y = static_cast<int>((fy + BOUNCE_STEP * sin(Angle)) * 1000);
  int phase = (FrameCount / PHASE_FRAMES) % 3;
  Work[ITEM_WORK_PHASE] = phase;
  Graph[0] = SheetTile(ITEM_MAGIC, phase * 4);
}

void CItem::Draw() {
  int x = 0, y = 0;
  GetPositionPx(&x, &y);
  QueueImage(6, x - ImageWidth / 2, y - ImageHeight / 2, Graph[0], 255, &PLAY_FIELD);
}

void ApplyItemEffect(const CItem* item, int record) {
  CStatus& s = StatusInstance;
  switch (item->ItemKind) {
    case ITEM_QUINSEL:
    case ITEM_FLASH_QUINSEL:
      s.SetStatusField(record, STATUS_ITEM_COUNT, s.GetStatusField(record, STATUS_ITEM_COUNT) + 1);
      s.AddScore(1, s.GetStatusField(1, STATUS_LIVES) * 50 / 5);
      s.SetStatusField(1, STATUS_GAUGE, s.GetStatusField(1, STATUS_GAUGE) + 32);
      break;
    case ITEM_SEED: {
      int count = s.GetStatusField(record, STATUS_OPTION_COUNT);
      if (count >= 4) break;
      s.SetStatusField(record, STATUS_OPTION_COUNT, count + 1);
      CPlayerMessenger* player = item->Faces.Player != nullptr ? item->Faces.Player : PlayerMessengerPtr;
      if (player != nullptr) player->AddOption(record);
      break;
    }
    case ITEM_SEED_2: {
      int count = s.GetStatusField(record, STATUS_ITEM_COUNT_2);
      if (count < 4) s.SetStatusField(record, STATUS_ITEM_COUNT_2, count + 1);
      break;
    }
    case ITEM_MAGIC: s.SetStatusField(1, STATUS_SHOT_TYPE, item->Work[ITEM_WORK_PHASE]); break;
    default: break;
  }
}

// ------------------------------------------------------------------- CItemCtl

CItemCtl::CItemCtl(CScreenMessenger* screen) : CBaseCharCtl(screen), Faces() {}

int CItemCtl::CheckHit(int, int, int, int, int, const double*, int*, int*) { return 0; }

void CItemCtl::CreateItem(int kind, int x, int y) {
  CItem* item = new (std::nothrow) CItem;
  if (item == nullptr) return;
  Append(item);
  item->Setup(Faces, kind, x, y);
}

void CItemCtl::Update() {
  CBaseChar* object = Head;
  while (object != nullptr) {
    CBaseChar* next = object->Next;
    if (!object->Dead) {
      object->Update();
      next = object->Next;
      if (!OutsideField(object)) {
        object = next;
        continue;
      }
    }
    Unlink(object);
    delete object;
    object = next;
  }
}

void CItemCtl::CheckPickUpBy(CCharMessenger* player) {
  if (player == nullptr) return;
  for (CBaseChar* object = Head; object != nullptr; object = object->Next) {
    if (object->Dead) continue;
    CItem* item = static_cast<CItem*>(object);
    int x = 0, y = 0;
    item->GetPositionPx(&x, &y);
    int record = 0;
    int damage = player->CheckHit(CHAR_KIND_ITEM, item->Shape, x, y, item->Radius,
                                  item->Shape == CHAR_SHAPE_BOX ? item->BoxCorner : nullptr, nullptr, &record);
    if (damage <= 0) continue;
    item->HitPoints -= damage;
    if (item->HitPoints > 0) continue;
    PlaySoundEffect(SOUND_PICK_UP);
    ApplyItemEffect(item, record);
    item->Dead = true;
  }
}
