#include "Enemy.h"

#include <ctype.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "RiDov.h"
#include "Screen.h"
#include "Status.h"

const char* const EnemyScheduleFile = "data/enemy_ptn.csv";

// ---------------------------------------------------------------------------
// Schedule

namespace {

enum {
  END_OF_FILE = -1,
  HANDLE_NOT_VALID = 0,  // what ReadFileChar gives once its handle is gone
};

int Saturate(double value) {
  if (value >= 2147483647.0) return 2147483647;
  if (value <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(value);  // truncates toward zero
}

const char* SkipSpace(const char* p) {
  while (*p != '\0' && isspace(static_cast<unsigned char>(*p))) ++p;
  return p;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ReadFileChar gives bytes as signed values; a byte 0xFF reads like the end.
// A text schedule holds no NUL: a 0 means the handle is no longer valid (a
// failed asynchronous open deletes it), and would otherwise come for ever.
bool IsEnd(int c) { return c == END_OF_FILE || c == HANDLE_NOT_VALID || (c & 0xFF) == 0xFF; }

// Skips up to and including the next line feed; false at the end of the file.
bool SkipLine(int file) {
  for (;;) {
    int c = ReadFileChar(file);
    if (IsEnd(c)) return false;
    if (c == '\n') return true;
  }
}

void StoreCell(SpawnRecord* record, int column, const char* cell) {
  switch (column) {
    case 0: record->Frame = ScheduleCellInt(cell); break;
    case 1: record->Kind = ScheduleCellInt(cell); break;
    case 2: record->X = ScheduleCellInt(cell); break;
    case 3: record->Y = ScheduleCellFloat(cell); break;
    case 4: record->Extra = ScheduleCellInt(cell); break;
    case 5:
    case 6:
    case 7:
    case 8: record->Drop[column - 5] = ScheduleCellFloat(cell); break;
    default: break;  // columns 10-12 are not used
  }
}

}  // namespace

int ScheduleCellInt(const char* cell) {
  const char* p = SkipSpace(cell);
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  double value = 0;
  for (; IsDigit(*p); ++p) value = value * 10 + (*p - '0');
  return Saturate(negative ? -value : value);
}

int ScheduleCellFloat(const char* cell) {
  // Only the decimal form: strtod alone would also take hex, "inf" and "nan".
  const char* start = SkipSpace(cell);
  const char* p = start;
  if (*p == '+' || *p == '-') ++p;
  const char* digits = p;
  while (IsDigit(*p)) ++p;
  int count = static_cast<int>(p - digits);
  if (*p == '.') {
    ++p;
    while (IsDigit(*p)) ++p, ++count;
  }
  if (count == 0) return 0;
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    if (*q == '+' || *q == '-') ++q;
    if (IsDigit(*q)) {
      while (IsDigit(*q)) ++q;
      p = q;
    }
  }
  char number[SCHEDULE_CELL_SIZE + 1];
  size_t length = static_cast<size_t>(p - start);
  memcpy(number, start, length);
  number[length] = '\0';
  return Saturate(strtod(number, nullptr));
}

int LoadEnemyPatterns(const char* path, SpawnRecord* table) {
  for (int i = 0; i < SCHEDULE_RECORDS; ++i) {
    table[i] = SpawnRecord();
    table[i].Frame = -1;
  }

  // Both 0 (not opened) and -1 (no handle) are failures.
  int file = OpenReadFile(path, 0);
  if (file <= 0) return -1;

  int filled = 0;
  if (SkipLine(file) && SkipLine(file)) {
    char cell[SCHEDULE_CELL_SIZE + 1];
    int length = 0;
    int column = 0;
    int record = 0;
    for (;;) {
      int c = ReadFileChar(file);
      if (IsEnd(c)) break;  // the unfinished cell is dropped
      if (c == '/') {
        // A comment runs to the end of its line; the cell starts again.
        length = 0;
        if (!SkipLine(file)) break;
        continue;
      }
      bool delimiter = c == ',' || c == '\n';
      if (!delimiter) cell[length++] = static_cast<char>(c);
      if (delimiter || length == SCHEDULE_CELL_SIZE) {
        cell[length] = '\0';
        if (record < SCHEDULE_USABLE) {
          StoreCell(&table[record], column, cell);
          if (column == 0) filled = record + 1;
        }
        length = 0;
        if (++column == SCHEDULE_CELLS_PER_RECORD) {
          column = 0;
          ++record;
        }
      }
    }
  }
  CloseReadFile(file);
  return filled;
}

// ---------------------------------------------------------------------------
// Controller

CEnemyCtlBase* CreateEnemyCtl(CScreenMessenger* screen) { return new (std::nothrow) CEnemyCtl(screen); }

CEnemyCtl::CEnemyCtl(CScreenMessenger* screen) : CEnemyCtlBase(screen), Faces(), NextEnemyId(0) {
  LoadEnemyPatterns(EnemyScheduleFile, Schedule);
}

CEnemyCtl::~CEnemyCtl() { Destroy(); }

void CEnemyCtl::SetMessengers(const MessengerSet& faces) {
  Faces = faces;
  NextEnemyId = 0;
}

void CEnemyCtl::CreateEnemy(int kind, int x, int y, const int* dropFlags, int extra) {
  CBaseEnemy* enemy = MakeEnemyOfKind(kind);
  if (enemy == nullptr) return;
  enemy->KindIndex = kind;
  enemy->EnemyId = NextEnemyId++;
  enemy->Owner = this;
  enemy->Setup(Faces, x, y, dropFlags, extra);
  Append(enemy);
}

int CEnemyCtl::FindNearestEnemy(int x, int y) {
  int found = -1;
  double best = 960.0;
  for (CBaseChar* c = Head; c != nullptr; c = c->Next) {
    double ex = c->X / 1000.0, ey = c->Y / 1000.0;
    if (ex < PLAY_FIELD_LEFT || ex > PLAY_FIELD_RIGHT || ey < PLAY_FIELD_TOP || ey > PLAY_FIELD_BOTTOM) continue;
    double d = sqrt((ex - x) * (ex - x) + (ey - y) * (ey - y));
    if (d < best) {
      best = d;
      found = static_cast<CBaseEnemy*>(c)->EnemyId;
    }
  }
  return found;
}

int CEnemyCtl::GetEnemyPos(int id, int* x, int* y) {
  if (x == nullptr || y == nullptr) return -1;
  for (CBaseChar* c = Head; c != nullptr; c = c->Next) {
    if (static_cast<CBaseEnemy*>(c)->EnemyId == id) {
      c->GetPositionPx(x, y);
      return id;
    }
  }
  return -1;
}

int CEnemyCtl::CheckHit(int querierKind, int querierShape, int x, int y, int radius, const double* boxCorners,
                        int* firstOut, int* secondOut) {
  if (querierKind != CHAR_KIND_PLAYER && querierKind != CHAR_KIND_PLAYER_BULLET) return 0;
  for (CBaseChar* c = Head; c != nullptr; c = c->Next) {
    // An enemy hits as a bullet of its shape, speed and angle would.
    int damage = TestBulletHit(c, querierKind, x, y, boxCorners, radius, querierShape);
    if (damage > 0) {
      if (secondOut != nullptr) *secondOut = 0;
      return damage;
    }
  }
  return 0;
}

void CEnemyCtl::Remove(CBaseChar* enemy) {
  Unlink(enemy);
  delete enemy;
}

void CEnemyCtl::Update() {
  int move = Screen != nullptr ? Screen->GetCounter(1) : 0;
  for (const SpawnRecord* r = Schedule; r->Frame != -1; ++r)
    if (r->Frame == move) CreateEnemy(r->Kind, r->X, r->Y, r->Drop, r->Extra);

  CBaseChar* c = Head;
  while (c != nullptr) {
    CBaseEnemy* enemy = static_cast<CBaseEnemy*>(c);
    if (enemy->KindIndex == ENEMY_KIND_BOSS) StatusInstance.SetStatusField(1, STATUS_BOSS_HP, enemy->HitPoints);

    if (enemy->Dead) {
      if (enemy->PatternId >= 0 && Faces.BulletPtn != nullptr) Faces.BulletPtn->KillPattern(enemy->PatternId);
      c = enemy->Next;
      Remove(enemy);
      continue;
    }

    enemy->Update();
    if (enemy->PatternId >= 0 && (Faces.BulletPtn == nullptr || !Faces.BulletPtn->IsPatternAlive(enemy->PatternId)))
      enemy->PatternId = -1;
    if (enemy->Airborne == 0) {
      int scroll = Screen != nullptr ? Screen->GetCounter(0) : 0;
      enemy->Y += scroll;
      enemy->PxY += scroll / 1000.0;
    }
    if (enemy->Shape == CHAR_SHAPE_BOX) enemy->UpdateHitBoxCorners();

    // Read after the update: a boss may have appended its summons.
    c = enemy->Next;
    int x, y;
    enemy->GetPositionPx(&x, &y);
    if (x < -290 || x > 1250 || y < -500 || y > 1220) Remove(enemy);  // its pattern runs on
  }
}

void CEnemyCtl::Score(int record, int points) { StatusInstance.AddScore(record, points); }

void CEnemyCtl::TakeHitsFrom(CCharMessenger* other) {
  if (other == nullptr) return;
  for (CBaseChar* c = Head; c != nullptr; c = c->Next) {
    CBaseEnemy* enemy = static_cast<CBaseEnemy*>(c);
    int x, y;
    enemy->GetPositionPx(&x, &y);
    int unused = 0;
    int owner = 0;
    int damage = other->CheckHit(CHAR_KIND_ENEMY, enemy->Shape, x, y, enemy->Radius,
                                 enemy->Shape == CHAR_SHAPE_BOX ? enemy->BoxCorner : nullptr, &unused, &owner);
    if (damage <= 0) continue;
    enemy->HitPoints -= damage;
    int lives = StatusInstance.GetStatusField(owner, STATUS_LIVES);
    if (enemy->HitPoints >= 1) {
      PlaySoundEffect(SOUND_ENEMY_HIT);
      Score(owner, lives * 20 / 5);
      continue;
    }

    PlaySoundEffect(SOUND_ENEMY_DESTROYED);
    Score(owner, EnemyKindTable[enemy->KindIndex].Score * lives / 5);
    for (int i = 0; i < ENEMY_DROP_KINDS; ++i)
      if (enemy->Drop[i] != -1 && ItemMessengerPtr != nullptr) ItemMessengerPtr->CreateItem(i, x, y);
    if (enemy->Faces.Player != nullptr && enemy->Faces.Player->HasSpecial(1) && enemy->Faces.BulletPtn != nullptr) {
      // The revenge shot is not the enemy's pattern: it must outlive it.
      if (enemy->PatternId >= 0) enemy->Faces.BulletPtn->KillPattern(enemy->PatternId);
      enemy->Faces.BulletPtn->CreatePattern(ENEMY_PATTERN_SEARCH, 0, x, y, 0, 0);
    }
    enemy->Dead = true;
  }
}
