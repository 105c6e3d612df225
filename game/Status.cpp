#include "Status.h"

#include <math.h>

#include "DrawCtl.h"
#include "RiDov.h"

CStatus StatusInstance;

int SoundEffectHandles[SOUND_EFFECT_COUNT];
int MusicHandles[MUSIC_COUNT];
int CurrentMusicHandle = NO_MUSIC;

const char* const SoundEffectFiles[SOUND_EFFECT_COUNT] = {
    "sound/tm2_shoot000.wav", "sound/gun13_c.wav",      "sound/tm2_shoot001.wav", "sound/tm2_shoot003.wav",
    "sound/one23.mp3",        "sound/button25.mp3",     "sound/status01.mp3",     "sound/explode.mp3",
    "sound/alarm1.mp3",       "sound/tm2_death001.wav",
};

const char* const MusicFiles[MUSIC_COUNT] = {
    "music/top.mp3",     "music/stage1/cirrus.mp3",     "music/world_2.mp3",
    "music/world_3.mp3", "music/world_4.mp3",           "music/world_5.mp3",
    "music/world_6.mp3", "music/normal_boss/alarm.mp3", "music/hageshii17-090228-karakurinobousou-wav.wav",
};

namespace {

enum { PANEL_LAYER = 8 };

// Status sheets of category 8.
enum {
  SHEET_DIGITS = 0,
  SHEET_FRAME = 1,
  SHEET_LIFE = 2,
  SHEET_GAUGE_FULL = 4,
  SHEET_GAUGE_EMPTY = 5,
  SHEET_GAUGE_WHITE = 6,
};

enum {
  POPUP_SLIDE_FRAMES = 30,
  POPUP_REST_END = 240,
  POPUP_END = 270,
};

int StatusTile(int sheet, int tile) {
  int set = ImageSetNumber(8, sheet);
  return DrawCtlInstance.ImageSets[set].Handles[tile];
}

StatusRecord* RecordOf(StatusRecord* records, int record) {
  return record == 1 || record == 2 ? &records[record - 1] : nullptr;
}

void ResetRecord(StatusRecord* r) {
  r->Score = 0;
  r->Field[0] = 2;
  r->Field[1] = 5;
  r->Field[2] = 20000;
  r->Field[3] = 0;
  r->Field[4] = 0;
  // Options end with their game: a count kept over would refuse the next
  // game's options and misplace them in the formation.
  r->Field[STATUS_OPTION_COUNT] = 0;
  r->Field[6] = 0;
}

// The digits of value from the highest of count places down, leading zeros
// included; a negative value shows as zeros.
void DigitsOf(int value, int count, int* digits) {
  unsigned int v = value < 0 ? 0u : static_cast<unsigned int>(value);
  for (int i = count - 1; i >= 0; --i) {
    digits[i] = static_cast<int>(v % 10);
    v /= 10;
  }
}

}  // namespace

void CStatus::ResetPlayStatus() {
  ResetRecord(&Records[0]);
  ResetRecord(&Records[1]);
  Spare = 0;
  BossHp = 0;
  PlayFrameCounter = 0;
  PopupTimer = 0;
}

void CStatus::Init() {
  ResetPlayStatus();
  HighScore = 0;
}

int CStatus::GetStatusField(int record, int field) const {
  if (field == STATUS_HIGH_SCORE) return HighScore;
  if (field == STATUS_BOSS_HP) return BossHp;
  if (field < 0 || field > 6 || (record != 1 && record != 2)) return 0;
  return Records[record - 1].Field[field];
}

void CStatus::SetStatusField(int record, int field, int value) {
  if (field == STATUS_BOSS_HP) {
    BossHp = value;
    return;
  }
  StatusRecord* r = RecordOf(Records, record);
  if (r == nullptr || field < 0 || field > 6) return;
  switch (field) {
    case STATUS_LIVES:
      if (value > STATUS_MAX_LIVES) return;
      break;
    case STATUS_GAUGE:
      if (value > STATUS_MAX_GAUGE) value = STATUS_MAX_GAUGE;
      break;
    case STATUS_ITEM_COUNT:
      if (value > r->Field[field]) {
        if (PopupTimer == 0) PopupTimer = 1;
        else if (PopupTimer >= POPUP_SLIDE_FRAMES && PopupTimer <= POPUP_REST_END) PopupTimer = POPUP_SLIDE_FRAMES;
      }
      break;
    default: break;
  }
  r->Field[field] = value;
}

void CStatus::AddScore(int record, int gain) {
  StatusRecord* r = RecordOf(Records, record);
  if (r == nullptr) return;
  r->Score += gain;
  if (r->Score > HighScore) HighScore = r->Score;
}

int CStatus::GetScore(int record) const { return record == 1 || record == 2 ? Records[record - 1].Score : 0; }

int CStatus::PopupX(int t) {
  double x;
  if (t < POPUP_SLIDE_FRAMES) x = 750 - 165 * (sin(t * PI / 30 + 3 * PI / 2) + 1) / 2;
  else if (t <= POPUP_REST_END) x = 585;
  else x = 585 + 165 * (sin((t - POPUP_REST_END) * PI / 30 + 3 * PI / 2) + 1) / 2;
  return static_cast<int>(x);
}

void CStatus::Draw() {
  const StatusRecord& player = Records[0];

  // Gauge: the lower h of the 126-pixel band shows full.
  int gauge = player.Field[STATUS_GAUGE];
  int h = gauge * 126 / 30000;
  DrawClip full = {true, 220, 146 - h, 374, 162};
  QueueImage(PANEL_LAYER, 220, 7, StatusTile(SHEET_GAUGE_FULL, 0), 220, &full);
  int pulse = static_cast<int>(fabs(sin(PlayFrameCounter * (gauge / 10000) * PI / 180)) * 220);
  QueueImage(PANEL_LAYER, 220, 7, StatusTile(SHEET_GAUGE_WHITE, 0), pulse, &full);
  DrawClip empty = {true, 220, 7, 374, 146 - h};
  QueueImage(PANEL_LAYER, 220, 7, StatusTile(SHEET_GAUGE_EMPTY, 0), 220, &empty);

  // Five life signs around one point.
  for (int i = 0; i < 5; ++i)
    QueueHpGauge(StatusTile(SHEET_LIFE, i < player.Field[STATUS_LIVES] ? 0 : 1), 1.0, i * 2 * PI / 5);

  QueueImage(PANEL_LAYER, 220, 7, StatusTile(SHEET_FRAME, 0), 220);

  int digits[10];
  DigitsOf(player.Score, 10, digits);
  for (int i = 0; i < 10; ++i) {
    int tile = StatusTile(SHEET_DIGITS, digits[i]);
    if (tile != -1) QueueImage(PANEL_LAYER, 525 + 21 * i, -3, tile, 255);
  }

  if (PopupTimer >= 1) {
    int x = PopupX(PopupTimer);
    DrawClip field = {true, 210, 0, 750, 720};
    int mark = StatusTile(SHEET_DIGITS, 20);
    QueueImage(PANEL_LAYER, x, 30, mark, 255, &field);
    QueueImage(PANEL_LAYER, x + 20, 30, mark, 255, &field);
    int count[5];
    DigitsOf(player.Field[STATUS_ITEM_COUNT], 5, count);
    for (int i = 0; i < 5; ++i)
      QueueImage(PANEL_LAYER, x + 45 + 21 * i, 30, StatusTile(SHEET_DIGITS, count[i]), 255, &field);
    if (++PopupTimer > POPUP_END) PopupTimer = 0;
  }
}

void LoadSounds() {
  CurrentMusicHandle = NO_MUSIC;
  for (int i = 0; i < SOUND_EFFECT_COUNT; ++i) SoundEffectHandles[i] = LoadSoundFile(SoundEffectFiles[i], 3, -1);
  for (int i = 0; i < MUSIC_COUNT; ++i) MusicHandles[i] = LoadSoundFile(MusicFiles[i], 3, -1);
}

void StopMusic() {
  if (CurrentMusicHandle == NO_MUSIC) return;
  StopSoundHandle(CurrentMusicHandle);
  CurrentMusicHandle = NO_MUSIC;
}

void PlaySoundEffect(int effect) {
  if (effect < 0 || effect >= SOUND_EFFECT_COUNT || SoundEffectHandles[effect] == -1) return;
  PlaySoundHandle(SoundEffectHandles[effect], PLAY_TYPE_BACK, 1);
}

void StartMusic(int music) {
  if (music < 0 || music >= MUSIC_COUNT || MusicHandles[music] == -1) return;
  PlaySoundHandle(MusicHandles[music], PLAY_TYPE_LOOP, 1);
  CurrentMusicHandle = MusicHandles[music];
}
