// Fixture of the play-controller tests: GameTest plus no published messenger
// faces, sound effects loaded as handles 500 + effect, and image sets whose
// tile t of set s holds 10000 * s + t + 1 (so tile handles are recognisable).
#ifndef PLAY_FIXTURE_H
#define PLAY_FIXTURE_H

#include "GameFixture.h"
#include "MessengerDoubles.h"
#include "Task.h"

class PlayTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    PlayerMessengerPtr = nullptr;
    BulletMessengerPtr = nullptr;
    ItemMessengerPtr = nullptr;
    EnemyCtlFactory = nullptr;
    for (int i = 0; i < SOUND_EFFECT_COUNT; ++i) SoundEffectHandles[i] = SoundHandle(i);
    for (int s = 0; s < IMAGE_SET_COUNT; ++s)
      for (int t = 0; t < IMAGE_SET_SIZE; ++t) DrawCtlInstance.ImageSets[s].Handles[t] = Tile(s, t);
  }
  void TearDown() override {
    PlayerMessengerPtr = nullptr;
    BulletMessengerPtr = nullptr;
    ItemMessengerPtr = nullptr;
    EnemyCtlFactory = nullptr;
  }

  static int SoundHandle(int effect) { return 500 + effect; }
  static int Tile(int set, int tile) { return 10000 * set + tile + 1; }
  static std::string SoundCall(int effect) {
    return "PlaySoundHandle(" + std::to_string(SoundHandle(effect)) + ",1,1)";
  }

  // Holds logical key k with the given counter (0 releases it).
  static void Key(int k, int counter) { KeyTaskInstance.Keys[k].Counter = counter; }
};

// Counts the objects of a controller's list.
inline int ListCount(const CBaseCharCtl& ctl) {
  int n = 0;
  for (CBaseChar* c = ctl.Head; c != nullptr; c = c->Next) ++n;
  return n;
}

#endif  // PLAY_FIXTURE_H
