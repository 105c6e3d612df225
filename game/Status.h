// The numbers of a game (score, lives, gauge, counts, boss hit points, high
// score), the status panel, and the sound and music tables.
#ifndef GAME_STATUS_H
#define GAME_STATUS_H

#include "Task.h"

// Status fields of GetStatusField / SetStatusField.
enum {
  STATUS_RESET_MARK = 0,
  STATUS_LIVES = 1,
  STATUS_GAUGE = 2,
  STATUS_SHOT_TYPE = 3,
  STATUS_ITEM_COUNT = 4,
  STATUS_OPTION_COUNT = 5,
  STATUS_ITEM_COUNT_2 = 6,
  STATUS_HIGH_SCORE = 8,
  STATUS_BOSS_HP = 9,
};

enum { STATUS_MAX_LIVES = 5, STATUS_MAX_GAUGE = 30000 };

struct StatusRecord {
  int Score;
  int Field[7];
};

class CStatus : public CTask {
 public:
  // Fresh records (option count 0 too); high score, pop-up and frame
  // counter 0.
  void Init() override;
  void Update() override { ++PlayFrameCounter; }
  // Queues the gauge, life signs, frame, score digits and item pop-up.
  void Draw() override;

  // As Init, but the high score stays.
  void ResetPlayStatus();

  // record 1 or 2; fields 0-6 of the record, 8 the high score, 9 the
  // boss's hit points; anything else reads 0.
  int GetStatusField(int record, int field) const;
  // Applies the limits: lives above 5 are ignored, the gauge is capped at
  // 30000, a rise of field 4 starts or holds the pop-up; fields 7 and 8 are
  // not written.
  void SetStatusField(int record, int field, int value);

  // Adds to the record's score; the high score follows.
  void AddScore(int record, int gain);
  int GetScore(int record) const;

  // X of the pop-up at timer value t (1..270).
  static int PopupX(int t);

  StatusRecord Records[2];
  int Spare;
  int BossHp;
  int HighScore;
  int PlayFrameCounter;
  int PopupTimer;  // 0 = no pop-up
};
extern CStatus StatusInstance;

enum { SOUND_EFFECT_COUNT = 10, MUSIC_COUNT = 9, NO_MUSIC = 9 };
enum { MUSIC_STAGE = 1, MUSIC_BOSS = 7 };

// Handles from LoadSounds; -1 where a file failed to load.
extern int SoundEffectHandles[SOUND_EFFECT_COUNT];
extern int MusicHandles[MUSIC_COUNT];
// The playing music's handle, NO_MUSIC when none.
extern int CurrentMusicHandle;

extern const char* const SoundEffectFiles[SOUND_EFFECT_COUNT];
extern const char* const MusicFiles[MUSIC_COUNT];

void LoadSounds();
// Stops the current music, if any.
void StopMusic();
// Plays an effect once from the start; nothing when it did not load.
void PlaySoundEffect(int effect);
// Loops a music from the start and makes it the current music; nothing when
// it did not load.
void StartMusic(int music);

#endif  // GAME_STATUS_H
