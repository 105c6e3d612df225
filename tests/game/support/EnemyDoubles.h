// Test doubles of the messenger faces that scenes, menus and enemies talk
// to, and scripting of a file's bytes through the library double. Every
// fake records its calls into the double's log ("Fake.Op(args)"), so the
// order against library calls is visible.
#ifndef ENEMY_DOUBLES_H
#define ENEMY_DOUBLES_H

#include <stdio.h>

#include <string>
#include <vector>

#include "RiDovDouble.h"
#include "Task.h"

namespace enemy_doubles {

inline std::string Args(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) {
    if (!out.empty()) out += ",";
    out += std::to_string(v);
  }
  return out;
}

// Screen face: stores what it is told and answers the counters it holds.
class FakeScreen : public CScreenMessenger {
 public:
  void RequestScene(int id) override {
    Requested = id;
    ridov_double::Record("Screen.RequestScene(" + Args({id}) + ")");
  }
  void RequestQuit() override {
    Quit = true;
    ridov_double::Record("Screen.RequestQuit()");
  }
  void SetPause(bool paused) override {
    Paused = paused;
    ridov_double::Record("Screen.SetPause(" + Args({paused ? 1 : 0}) + ")");
  }
  bool IsPaused() override { return Paused; }
  void StartFadeIn(int frames) override { ridov_double::Record("Screen.StartFadeIn(" + Args({frames}) + ")"); }
  void StartFadeOut(int frames) override { ridov_double::Record("Screen.StartFadeOut(" + Args({frames}) + ")"); }
  void LockInput() override { ridov_double::Record("Screen.LockInput()"); }
  void UnlockInput() override { ridov_double::Record("Screen.UnlockInput()"); }
  int GetCounter(int which) override { return which == 0 ? ScrollSpeed : which == 1 ? MoveCounter : 0; }

  int Requested = 0;
  bool Quit = false;
  bool Paused = false;
  int ScrollSpeed = 500;
  int MoveCounter = 0;
};

// Player face: one main player at a settable position; a settable special.
class FakePlayer : public CPlayerMessenger {
 public:
  void GetPlayerPos(int id, int* x, int* y) override {
    if (id != 1 || !Present || x == nullptr || y == nullptr) return;
    *x = X;
    *y = Y;
  }
  void GetPlayerPosRaw(int id, int* x, int* y) override {
    if (id != 1 || !Present || x == nullptr || y == nullptr) return;
    *x = X * 1000;
    *y = Y * 1000;
  }
  void GetPlayerPosF(int id, double* x, double* y) override {
    if (id != 1 || !Present || x == nullptr || y == nullptr) return;
    *x = X;
    *y = Y;
  }
  void GetSpecialPosRaw(int, int*, int*) override {}
  bool HasSpecial(int id) override { return id == 1 && Special; }
  void AddOption(int) override {}
  void StartSpecial(int) override {}
  void GetLiveShotCount(int, int*) override {}
  void SetLiveShotCount(int, int) override {}

  bool Present = true;
  int X = 480, Y = 670;
  bool Special = false;
};

// Pattern face: hands out serial ids, logs creations and ends.
class FakePatterns : public CBulletPtnMessenger {
 public:
  int CreatePattern(int kind, int owner, int x, int y, int p1, int p2) override {
    ridov_double::Record("Ptn.Create(" + Args({kind, owner, x, y, p1, p2}) + ")");
    Alive.push_back(NextId);
    return NextId++;
  }
  bool IsPatternAlive(int id) override {
    for (int a : Alive)
      if (a == id) return true;
    return false;
  }
  void KillPattern(int id) override {
    ridov_double::Record("Ptn.Kill(" + Args({id}) + ")");
    for (size_t i = 0; i < Alive.size(); ++i)
      if (Alive[i] == id) Alive.erase(Alive.begin() + i);
  }

  int NextId = 0;
  std::vector<int> Alive;
};

class FakeItems : public CItemMessenger {
 public:
  void CreateItem(int kind, int x, int y) override { ridov_double::Record("Item.Create(" + Args({kind, x, y}) + ")"); }
};

// Hit query answering scripted damage per call (0 once the script ends)
// and writing an owner id through the second out pointer.
class FakeHits : public CCharMessenger {
 public:
  int CheckHit(int kind, int shape, int x, int y, int radius, const double* box, int* first, int* second) override {
    ridov_double::Record("Hits.Check(" + Args({kind, shape, x, y, radius, box != nullptr}) + ")");
    if (Damage.empty()) return 0;
    int d = Damage.front();
    Damage.erase(Damage.begin());
    if (d > 0 && second != nullptr) *second = Owner;
    return d;
  }

  std::vector<int> Damage;
  int Owner = 1;
};

// The next OpenReadFile gives `handle`; ReadFileChar then serves the bytes
// the way the library does (signed, so 0xFF reads as -1), then -1.
inline void ScriptFile(const std::string& bytes, int handle = 0x44000001) {
  ridov_double::QueueResults("OpenReadFile", {handle});
  for (unsigned char c : bytes) ridov_double::QueueResults("ReadFileChar", {static_cast<signed char>(c)});
  ridov_double::QueueResults("ReadFileChar", {-1});
}

// Path of a file beside the test sources, as the test program under Wine
// sees it.
inline std::string FixturePath(const char* name) {
  std::string here = __FILE__;  // .../tests/game/support/EnemyDoubles.h
  std::string dir = here.substr(0, here.find_last_of("/\\"));
  dir = dir.substr(0, dir.find_last_of("/\\"));
  if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  return dir + "/fixtures/" + name;
}

// The bytes of a file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::string out;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  fclose(f);
  return out;
}

// The bytes of a fixture file; empty when it cannot be read.
inline std::string ReadFixture(const char* name) { return ReadWholeFile(FixturePath(name)); }

#ifdef QUINSEL_DATA_DIR
// The bytes of a file of the game data the build generated ("data/...").
inline std::string ReadGeneratedData(const char* rel) {
  std::string path = std::string(QUINSEL_DATA_DIR) + "/" + rel;
  if (path[0] == '/') path = "Z:" + path;
  return ReadWholeFile(path);
}
#endif

}  // namespace enemy_doubles

#endif  // ENEMY_DOUBLES_H
