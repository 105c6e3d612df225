#include "Player.h"

#include <math.h>
#include <string.h>
#include <new>

#include "BulletPtn.h"
#include "CharCtl.h"
#include "DrawCtl.h"
#include "GameMain.h"
#include "RiDov.h"
#include "Status.h"

namespace {

// The play field in pixels; positions count in thousandths of a pixel.
enum { FIELD_LEFT = 210, FIELD_TOP = 0, FIELD_RIGHT = 750, FIELD_BOTTOM = 720, POSITION_UNIT = 1000 };
const DrawClip PLAY_FIELD = {true, FIELD_LEFT, FIELD_TOP, FIELD_RIGHT, FIELD_BOTTOM};

// Move directions in radians (y grows downwards).
const double ANGLE_UP_LEFT = 3.92699081698725;
const double ANGLE_UP_RIGHT = 5.49778714378215;
const double ANGLE_DOWN_LEFT = 2.35619449019235;
const double ANGLE_DOWN_RIGHT = 0.78539816339745;
const double ANGLE_UP = 4.7123889803847;
const double ANGLE_DOWN = 1.5707963267949;
const double ANGLE_RIGHT = 0;

// The special weapon rises along half a sine over its first frames.
enum { SPECIAL_RISE_FRAMES = 60, SPECIAL_TILE_FRAMES = 15 };
const double SPECIAL_RISE_PHASE_STEP = 0.026179938779915;  // pi / 120 a frame
const double SPECIAL_RISE_HEIGHT = 5.0;

// Starting values of the main player and its companions.
enum {
  PLAYER_START_ATTACK = 1000,
  MAIN_PLAYER_SPEED = 4500,
  MAIN_PLAYER_WIDTH = 55,
  MAIN_PLAYER_HEIGHT = 80,
  MAIN_PLAYER_RADIUS = 10,
  MAIN_PLAYER_START_X = 480000,
  MAIN_PLAYER_START_Y = 670000,
  COMPANION_SIZE = 40,
  COMPANION_RADIUS = 17,
  OPTION_SPEED = 12000,
  SPECIAL_SPEED = 300,
  OPTION_MAX = 4,
};

enum { KEY_UP = 0, KEY_LEFT = 1, KEY_DOWN = 2, KEY_RIGHT = 3, KEY_FIRE = 4, KEY_LASER = 5, KEY_SPECIAL = 6 };

// Main player tiles: idle loop 0-3, full left loop 4-7, full right loop 8-11.
enum {
  TILE_LEFT_LOOP = 4,
  TILE_RIGHT_LOOP = 8,
  TILE_STRONG_LEFT = 12,
  TILE_LIGHT_LEFT = 13,
  TILE_LIGHT_RIGHT = 14,
  TILE_STRONG_RIGHT = 15
};

void CopyTiles(int category, int index, int tiles[PLAYER_TILE_COUNT]) {
  int set[IMAGE_SET_SIZE];
  memset(set, 0, sizeof set);
  DrawCtlInstance.CopyImageSet(category, index, set);
  memcpy(tiles, set, PLAYER_TILE_COUNT * sizeof(int));
}

// Shot levels: the plain shot, homing, and the strongest level.
enum { SHOT_LEVEL_PLAIN = 0, SHOT_LEVEL_HOMING = 1, SHOT_LEVEL_TOP = 2 };

// A fire cycle: three volleys a period apart, then as long again without.
enum { VOLLEYS_PER_CYCLE = 3, PLAIN_VOLLEY_PERIOD = 5, VOLLEY_PERIOD = 6 };

int ShotCycle(int level) {
  switch (level) {
    case SHOT_LEVEL_PLAIN: return PLAIN_VOLLEY_PERIOD * 2 * VOLLEYS_PER_CYCLE;
    case SHOT_LEVEL_HOMING:
    case SHOT_LEVEL_TOP: return VOLLEY_PERIOD * 2 * VOLLEYS_PER_CYCLE;
    default: return 0;
  }
}

// Whether the fire timer value starts a volley at the shot level.
bool VolleyDue(int level, int timer) {
  int period = level == SHOT_LEVEL_PLAIN ? PLAIN_VOLLEY_PERIOD : VOLLEY_PERIOD;
  if (level < SHOT_LEVEL_PLAIN || level > SHOT_LEVEL_TOP) return false;
  return timer % period == 1 && timer / period < VOLLEYS_PER_CYCLE;
}

int Gauge() { return StatusInstance.GetStatusField(1, STATUS_GAUGE); }
void SetGauge(int value) { StatusInstance.SetStatusField(1, STATUS_GAUGE, value); }

// Tile loops show each of their LOOP_TILES tiles for LOOP_TILE_FRAMES frames;
// a tilt of STRONG_TILT or more leans strongly.
enum { LOOP_TILES = 4, LOOP_TILE_FRAMES = 8, STRONG_TILT = 6 };

// The tile a leaning main player shows at the new tilt; -1 keeps the tile.
int LeanTile(int tilt, int frame) {
  if (tilt <= -PLAYER_MAX_TILT) return TILE_LEFT_LOOP + (frame / LOOP_TILE_FRAMES) % LOOP_TILES;
  if (tilt <= -STRONG_TILT) return TILE_STRONG_LEFT;
  if (tilt <= -1) return TILE_LIGHT_LEFT;
  if (tilt == 0) return -1;
  if (tilt < STRONG_TILT) return TILE_LIGHT_RIGHT;
  if (tilt < PLAYER_MAX_TILT) return TILE_STRONG_RIGHT;
  return TILE_RIGHT_LOOP + (frame / LOOP_TILE_FRAMES) % LOOP_TILES;
}

}  // namespace

PlayerSteer SteerFromKeys(const int c[4]) {
  PlayerSteer s = {false, 0.0, 0};
  int direction = -1;
  for (int k = KEY_UP; k <= KEY_RIGHT; ++k)
    if (c[k] > 0 && (direction < 0 || c[k] < c[direction])) direction = k;
  if (c[KEY_LEFT] > 0 && (c[KEY_RIGHT] == 0 || c[KEY_LEFT] <= c[KEY_RIGHT])) s.Lean = -1;
  else if (c[KEY_RIGHT] > 0) s.Lean = 1;
  if (direction < 0) return s;
  s.Moves = true;
  bool up = c[KEY_UP] > 0, left = c[KEY_LEFT] > 0, down = c[KEY_DOWN] > 0, right = c[KEY_RIGHT] > 0;
  if (up && left) s.Angle = ANGLE_UP_LEFT;
  else if (up && right) s.Angle = ANGLE_UP_RIGHT;
  else if (down && left) s.Angle = ANGLE_DOWN_LEFT;
  else if (down && right) s.Angle = ANGLE_DOWN_RIGHT;
  else if (direction == KEY_UP) s.Angle = ANGLE_UP;
  else if (direction == KEY_LEFT) s.Angle = PI;
  else if (direction == KEY_DOWN) s.Angle = ANGLE_DOWN;
  else s.Angle = ANGLE_RIGHT;
  return s;
}

void OptionOffset(int count, int index, int* dx, int* dy) {
  static const int TABLE[4][4][2] = {
      {{0, 50}, {0, 50}, {0, 50}, {0, 50}},
      {{-40, 30}, {40, 30}, {0, 0}, {0, 0}},
      {{-45, 40}, {0, 50}, {45, 40}, {0, 0}},
      {{-85, 50}, {-40, 30}, {40, 30}, {85, 50}},
  };
  *dx = 0;
  *dy = 0;
  if (count < 1 || count > 4 || index < 1 || index > 4) return;
  *dx = TABLE[count - 1][index - 1][0];
  *dy = TABLE[count - 1][index - 1][1];
}

// -------------------------------------------------------------------- CPlayer

CPlayer::CPlayer() : Faces(), PlayerId(0), OptionIndex(0), LiveShotCount(0), PatternId(-1), AbsorbedCount(0) {
  Attack = PLAYER_START_ATTACK;
  Work[PLAYER_WORK_TILT] = 0;
  NoHit = false;
  for (int& t : Tiles) t = -1;
}

void CPlayer::Update() {
  switch (KindWord) {
    case CHAR_KIND_PLAYER: UpdateMainPlayer(); break;
    case CHAR_KIND_OPTION: UpdateOption(); break;
    case CHAR_KIND_SPECIAL: UpdateSpecial(); break;
    default: break;
  }
  ++FrameCount;
}

void CPlayer::UpdateMainPlayer() {
  const CKeyTask& keys = KeyTaskInstance;
  bool allowed = !keys.InputLock;
  int& fire = Work[PLAYER_WORK_FIRE_TIMER];
  int& laser = Work[PLAYER_WORK_LASER_TIMER];
  int& tilt = Work[PLAYER_WORK_TILT];
  int level = StatusInstance.GetStatusField(1, STATUS_SHOT_TYPE);
  int px = 0, py = 0;
  GetPositionPx(&px, &py);
  int originX = px, originY = py + ImageHeight / 3;

  // 1. Fire timer.
  if (laser != 0) {
    fire = 0;
  } else if (allowed && keys.Counter(KEY_FIRE) > 0) {
    int cycle = ShotCycle(level);
    if (++fire >= cycle && cycle > 0) fire = 1;
  } else {
    fire = 0;
  }

  // 2. Volley, once the previous volley's pattern is gone.
  if (PatternId == -1 && fire > 0 && Faces.BulletPtn != nullptr && VolleyDue(level, fire)) {
    int serial = -1;
    if (level == 0) {
      serial = Faces.BulletPtn->CreatePattern(PTN_PLAYER, PlayerId, originX, originY, 0, 0);
    } else if (level == 1) {
      int target = Faces.Enemy != nullptr ? Faces.Enemy->FindNearestEnemy(originX, originY) : -1;
      serial = Faces.BulletPtn->CreatePattern(PTN_PLAYER_HOMING, PlayerId, originX, originY, 0, target);
    } else {
      serial = Faces.BulletPtn->CreatePattern(PTN_PLAYER_BIG, PlayerId, originX, originY, 0, 0);
    }
    if (serial != -1) {
      ++LiveShotCount;
      PatternId = serial;
      PlaySoundEffect(SOUND_PLAYER_SHOT);
    }
  }

  // 3. Laser.
  if (laser == 0) {
    if (allowed && keys.Counter(KEY_LASER) == 1 && Gauge() >= PLAYER_MP_COST && Faces.BulletPtn != nullptr) {
      SetGauge(Gauge() - PLAYER_MP_COST);
      if (PatternId != -1) Faces.BulletPtn->KillPattern(PatternId);
      PatternId = Faces.BulletPtn->CreatePattern(PTN_PLAYER_LAZER, PlayerId, originX, originY, 0, 0);
      laser = 1;
    }
  } else if (++laser > PLAYER_LASER_FRAMES) {
    laser = 0;
  }

  // 4. Special.
  CPlayerMessenger* self = Faces.Player != nullptr ? Faces.Player : PlayerMessengerPtr;
  if (self != nullptr && PlayerMessengerPtr != nullptr && !self->HasSpecial(PlayerId) && allowed &&
      keys.Counter(KEY_SPECIAL) == 1 && Gauge() >= PLAYER_MP_COST) {
    SetGauge(Gauge() - PLAYER_MP_COST);
    PlayerMessengerPtr->StartSpecial(PlayerId);
  }

  // 5-7. Direction, angle, move.
  PlayerSteer steer = {false, 0.0, 0};
  if (allowed) {
    int counters[4];
    for (int k = 0; k < 4; ++k) counters[k] = keys.Counter(k);
    steer = SteerFromKeys(counters);
  }
  if (steer.Moves) {
    Angle = steer.Angle;
    X = static_cast<int>(cos(Angle) * Speed + X);
    Y = static_cast<int>(sin(Angle) * Speed + Y);
  }

  // 8. Clamp to the play field.
  int hw = (ImageWidth / 2) * POSITION_UNIT, hh = (ImageHeight / 2) * POSITION_UNIT;
  if (X < FIELD_LEFT * POSITION_UNIT + hw) X = FIELD_LEFT * POSITION_UNIT + hw;
  if (X > FIELD_RIGHT * POSITION_UNIT - hw) X = FIELD_RIGHT * POSITION_UNIT - hw;
  if (Y < FIELD_TOP * POSITION_UNIT + hh) Y = FIELD_TOP * POSITION_UNIT + hh;
  if (Y > FIELD_BOTTOM * POSITION_UNIT - hh) Y = FIELD_BOTTOM * POSITION_UNIT - hh;

  // 9. Lean and tile.
  if (steer.Lean != 0) {
    tilt += steer.Lean;
    if (tilt <= -PLAYER_MAX_TILT) tilt = -PLAYER_MAX_TILT;
    if (tilt >= PLAYER_MAX_TILT) tilt = PLAYER_MAX_TILT;
    int tile = LeanTile(tilt, FrameCount);
    if (tile >= 0) ShowTile(tile);
  } else if (tilt < 0) {
    ++tilt;
    ShowTile(tilt > -PLAYER_MAX_TILT && tilt <= -STRONG_TILT ? TILE_STRONG_LEFT : TILE_LIGHT_LEFT);
  } else if (tilt > 0) {
    --tilt;
    ShowTile(tilt >= STRONG_TILT && tilt < PLAYER_MAX_TILT ? TILE_STRONG_RIGHT : TILE_LIGHT_RIGHT);
  } else {
    ShowTile((FrameCount / LOOP_TILE_FRAMES) % LOOP_TILES);
  }
}

void CPlayer::UpdateOption() {
  int x = 0, y = 0;
  GetPositionPx(&x, &y);
  int mx = 0, my = 0;
  if (PlayerMessengerPtr != nullptr) PlayerMessengerPtr->GetPlayerPos(PlayerId, &mx, &my);
  int ox = 0, oy = 0;
  OptionOffset(StatusInstance.GetStatusField(PlayerId, STATUS_OPTION_COUNT), OptionIndex, &ox, &oy);
  int tx = mx + ox, ty = my + oy;
  int dx = tx - x, dy = ty - y;
  double step = static_cast<double>(Speed) / POSITION_UNIT;
  double fx, fy;
  if (sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy) <= step) {
    fx = tx;
    fy = ty;
  } else {
    double a = atan2(static_cast<double>(dy), static_cast<double>(dx));
    fx = static_cast<double>(X) / POSITION_UNIT + cos(a) * step;
    fy = static_cast<double>(Y) / POSITION_UNIT + sin(a) * step;
  }
  X = static_cast<int>(fx * POSITION_UNIT);
  Y = static_cast<int>(fy * POSITION_UNIT);
  ShowTile(0);
}

void CPlayer::UpdateSpecial() {
  int& age = Work[PLAYER_WORK_SPECIAL_AGE];
  int& life = Work[PLAYER_WORK_SPECIAL_LIFE];
  if (life == 0) life = PLAYER_SPECIAL_LIFE;
  double step = static_cast<double>(Speed) / POSITION_UNIT;
  double y = static_cast<double>(Y) / POSITION_UNIT;
  if (age < SPECIAL_RISE_FRAMES) y -= (sin(age * SPECIAL_RISE_PHASE_STEP + PI) + 1.0) * SPECIAL_RISE_HEIGHT + step;
  else y -= step;
  Y = static_cast<int>(y * POSITION_UNIT);
  ShowTile((age / SPECIAL_TILE_FRAMES) % LOOP_TILES);
  if (++age > life) {
    if (Faces.BulletPtn != nullptr)
      PatternId = Faces.BulletPtn->CreatePattern(PTN_QUINSEL_FLASH, PlayerId, 0, 0, AbsorbedCount, 0);
    Dead = true;
  }
}

void CPlayer::Draw() {
  int x = 0, y = 0;
  GetPositionPx(&x, &y);
  int left = x - ImageWidth / 2, top = y - ImageHeight / 2;
  if (KindWord == CHAR_KIND_PLAYER && InvincibleFrames > 0 && FrameCount % 15 <= 7) QueueGlowImage(left, top, Graph[0]);
  else QueueImage(7, left, top, Graph[0], 255, &PLAY_FIELD);
  if (DebugTaskInstance.DebugDisplayFlag == 1) QueueCircle(x, y, Radius);
}

// ----------------------------------------------------------------- CPlayerCtl

CPlayerCtl::CPlayerCtl(CScreenMessenger* screen) : CBaseCharCtl(screen), Faces() {}

void CPlayerCtl::SetUp(const MessengerSet& faces) {
  Faces = faces;
  CPlayer* p = new (std::nothrow) CPlayer;
  if (p == nullptr) return;
  p->Faces = faces;
  p->KindWord = CHAR_KIND_PLAYER;
  p->PlayerId = 1;
  p->HitPoints = STATUS_MAX_LIVES;
  StatusInstance.SetStatusField(1, STATUS_LIVES, STATUS_MAX_LIVES);
  p->LiveShotCount = 0;
  p->Shape = CHAR_SHAPE_CIRCLE;
  p->Angle = 0;
  CopyTiles(0, 0, p->Tiles);
  p->ShowTile(0);
  p->Radius = MAIN_PLAYER_RADIUS;
  p->Speed = MAIN_PLAYER_SPEED;
  p->ImageWidth = MAIN_PLAYER_WIDTH;
  p->ImageHeight = MAIN_PLAYER_HEIGHT;
  p->X = MAIN_PLAYER_START_X;
  p->Y = MAIN_PLAYER_START_Y;
  Append(p);
}

CPlayer* CPlayerCtl::Find(int kindWord, int id) const {
  for (CBaseChar* c = Head; c != nullptr; c = c->Next) {
    CPlayer* p = static_cast<CPlayer*>(c);
    if (p->KindWord == kindWord && p->PlayerId == id) return p;
  }
  return nullptr;
}

void CPlayerCtl::GetPlayerPos(int id, int* x, int* y) {
  CPlayer* p = Find(CHAR_KIND_PLAYER, id);
  if (p != nullptr) p->GetPositionPx(x, y);
}

void CPlayerCtl::GetPlayerPosRaw(int id, int* x, int* y) {
  CPlayer* p = Find(CHAR_KIND_PLAYER, id);
  if (p == nullptr || x == nullptr || y == nullptr) return;
  *x = p->X;
  *y = p->Y;
}

void CPlayerCtl::GetPlayerPosF(int id, double* x, double* y) {
  CPlayer* p = Find(CHAR_KIND_PLAYER, id);
  if (p == nullptr || x == nullptr || y == nullptr) return;
  *x = static_cast<double>(p->X) / POSITION_UNIT;
  *y = static_cast<double>(p->Y) / POSITION_UNIT;
}

void CPlayerCtl::GetSpecialPosRaw(int id, int* x, int* y) {
  CPlayer* p = Find(CHAR_KIND_SPECIAL, id);
  if (p == nullptr || x == nullptr || y == nullptr) return;
  *x = p->X;
  *y = p->Y;
}

bool CPlayerCtl::HasSpecial(int id) { return Find(CHAR_KIND_SPECIAL, id) != nullptr; }

CPlayer* CPlayerCtl::NewCompanion(int kindWord, int id, int speed) {
  int x = 0, y = 0;
  GetPlayerPos(id, &x, &y);
  CPlayer* p = new (std::nothrow) CPlayer;
  if (p == nullptr) return nullptr;
  p->Faces = Faces;
  p->KindWord = kindWord;
  p->PlayerId = id;
  p->Angle = 0;
  p->LiveShotCount = 0;
  p->Shape = CHAR_SHAPE_CIRCLE;
  CopyTiles(3, 2, p->Tiles);
  p->ShowTile(0);
  p->ImageWidth = COMPANION_SIZE;
  p->ImageHeight = COMPANION_SIZE;
  p->Radius = COMPANION_RADIUS;
  p->Speed = speed;
  p->X = x * POSITION_UNIT;
  p->Y = y * POSITION_UNIT;
  return p;
}

void CPlayerCtl::AddOption(int id) {
  int count = StatusInstance.GetStatusField(id, STATUS_OPTION_COUNT);
  if (Head == nullptr || count > OPTION_MAX) return;
  CPlayer* p = NewCompanion(CHAR_KIND_OPTION, id, OPTION_SPEED);
  if (p == nullptr) return;
  p->OptionIndex = count;
  Append(p);
}

void CPlayerCtl::StartSpecial(int id) {
  if (Head == nullptr || HasSpecial(id)) return;
  CPlayer* p = NewCompanion(CHAR_KIND_SPECIAL, id, SPECIAL_SPEED);
  if (p == nullptr) return;
  p->AbsorbedCount = 0;
  Append(p);
}

void CPlayerCtl::GetLiveShotCount(int id, int* count) {
  CPlayer* p = Find(CHAR_KIND_PLAYER, id);
  if (p != nullptr && count != nullptr) *count = p->LiveShotCount;
}

void CPlayerCtl::SetLiveShotCount(int id, int count) {
  CPlayer* p = Find(CHAR_KIND_PLAYER, id);
  if (p != nullptr) p->LiveShotCount = count;
}

void CPlayerCtl::TakeHitsFrom(CCharMessenger* other) {
  if (other == nullptr) return;
  for (CBaseChar* c = Head; c != nullptr; c = c->Next) {
    CPlayer* p = static_cast<CPlayer*>(c);
    if (p->InvincibleFrames > 0) {
      --p->InvincibleFrames;
      continue;
    }
    if (p->NoHit || p->Dead) continue;
    int x = 0, y = 0;
    p->GetPositionPx(&x, &y);
    int first = 0;
    int damage = other->CheckHit(p->KindWord, p->Shape, x, y, p->Radius, nullptr, &first, nullptr);
    if (damage <= 0) continue;
    if (p->KindWord == CHAR_KIND_PLAYER) {
      p->HitPoints -= damage;
      PlaySoundEffect(SOUND_PLAYER_HIT);
      StatusInstance.SetStatusField(p->PlayerId, STATUS_LIVES, p->HitPoints);
      if (p->HitPoints < 1) {
        p->Dead = true;
      } else {
        p->InvincibleFrames = PLAYER_INVINCIBLE_FRAMES;
        if (p->HitPoints == 1) PlaySoundEffect(SOUND_PLAYER_ALARM);
      }
    } else if (p->KindWord == CHAR_KIND_SPECIAL) {
      if (p->AbsorbedCount < PLAYER_MAX_ABSORBED) ++p->AbsorbedCount;
    }
  }
}

int CPlayerCtl::CheckHit(int querierKind, int querierShape, int x, int y, int radius, const double* boxCorners,
                         int* /*firstOut*/, int* secondOut) {
  if (querierShape != CHAR_SHAPE_CIRCLE) return 0;
  for (CBaseChar* c = Head; c != nullptr; c = c->Next) {
    if (c->Dead) continue;
    int damage = TestBulletHit(c, querierKind, x, y, boxCorners, radius, querierShape);
    if (damage <= 0) continue;
    if (secondOut != nullptr) *secondOut = static_cast<CPlayer*>(c)->PlayerId;
    return damage;
  }
  return 0;
}

void CPlayerCtl::Update() {
  CBaseChar* object = Head;
  while (object != nullptr) {
    CPlayer* p = static_cast<CPlayer*>(object);
    if (p->Dead) {
      CBaseChar* next = object->Next;
      Unlink(object);
      delete p;
      object = next;
      continue;
    }
    p->Update();  // may append a special, which this pass then updates too
    if (p->PatternId != -1 && Faces.BulletPtn != nullptr && !Faces.BulletPtn->IsPatternAlive(p->PatternId))
      p->PatternId = -1;
    object = object->Next;
  }
}

void CPlayerCtl::Draw() {
  SetSamplingMode(SAMPLING_BILINEAR);
  CBaseCharCtl::Draw();
  SetSamplingMode(SAMPLING_NEAREST);
}
