// Small scripted doubles of the messenger interfaces, for testing one play
// controller without the others. Each records what it was asked.
#ifndef MESSENGER_DOUBLES_H
#define MESSENGER_DOUBLES_H

#include <map>
#include <set>
#include <string>
#include <vector>

#include "Bullet.h"
#include "CharCtl.h"
#include "RiDovDouble.h"
#include "Task.h"

namespace messenger_doubles {

class FakePlayerMessenger : public CPlayerMessenger {
 public:
  void GetPlayerPos(int id, int* x, int* y) override {
    if (!HasMain || id != 1 || x == nullptr || y == nullptr) return;
    *x = MainX;
    *y = MainY;
  }
  void GetPlayerPosRaw(int id, int* x, int* y) override {
    if (!HasMain || id != 1 || x == nullptr || y == nullptr) return;
    *x = MainX * 1000;
    *y = MainY * 1000;
  }
  void GetPlayerPosF(int id, double* x, double* y) override {
    if (!HasMain || id != 1 || x == nullptr || y == nullptr) return;
    *x = MainX;
    *y = MainY;
  }
  void GetSpecialPosRaw(int id, int* x, int* y) override {
    if (!Special || id != 1 || x == nullptr || y == nullptr) return;
    *x = SpecialRawX;
    *y = SpecialRawY;
  }
  bool HasSpecial(int id) override { return Special && id == 1; }
  void AddOption(int id) override { AddedOptions.push_back(id); }
  void StartSpecial(int id) override { StartedSpecials.push_back(id); }
  void GetLiveShotCount(int id, int* count) override {
    if (HasMain && id == 1 && count != nullptr) *count = LiveShots;
  }
  void SetLiveShotCount(int id, int count) override {
    if (HasMain && id == 1) LiveShots = count;
  }

  bool HasMain = true;
  int MainX = 480, MainY = 670;
  bool Special = false;
  int SpecialRawX = 0, SpecialRawY = 0;
  int LiveShots = 0;
  std::vector<int> AddedOptions;
  std::vector<int> StartedSpecials;
};

class FakeBulletMessenger : public CBulletMessenger {
 public:
  void CreateBullet(BulletParams params) override { Created.push_back(params); }
  std::vector<BulletParams> Created;
};

struct PatternRequest {
  int Kind, OwnerId, X, Y, P1, P2;
};

class FakeBulletPtnMessenger : public CBulletPtnMessenger {
 public:
  int CreatePattern(int kind, int ownerId, int x, int y, int p1, int p2) override {
    Requests.push_back({kind, ownerId, x, y, p1, p2});
    int serial = NextSerial++;
    if (AliveAfterCreation) Alive.insert(serial);
    return serial;
  }
  bool IsPatternAlive(int serialId) override { return Alive.count(serialId) != 0; }
  void KillPattern(int serialId) override {
    Killed.push_back(serialId);
    Alive.erase(serialId);
  }
  // Kinds requested, in order.
  std::vector<int> Kinds() const {
    std::vector<int> kinds;
    for (const PatternRequest& r : Requests) kinds.push_back(r.Kind);
    return kinds;
  }

  bool AliveAfterCreation = false;
  int NextSerial = 0;
  std::set<int> Alive;
  std::vector<int> Killed;
  std::vector<PatternRequest> Requests;
};

class FakeEnemyMessenger : public CEnemyMessenger {
 public:
  void CreateEnemy(int kind, int x, int y, const int*, int extra) override { Created.push_back({kind, x, y, extra}); }
  int FindNearestEnemy(int x, int y) override {
    NearestQueries.push_back({x, y});
    return Nearest;
  }
  int GetEnemyPos(int id, int* x, int* y) override {
    auto it = Positions.find(id);
    if (it == Positions.end() || x == nullptr || y == nullptr) return -1;
    *x = it->second.first;
    *y = it->second.second;
    return id;
  }
  struct Spawn {
    int Kind, X, Y, Extra;
  };
  std::vector<Spawn> Created;
  std::vector<std::pair<int, int>> NearestQueries;
  int Nearest = -1;
  std::map<int, std::pair<int, int>> Positions;
};

class FakeItemMessenger : public CItemMessenger {
 public:
  struct Item {
    int Kind, X, Y;
  };
  void CreateItem(int kind, int x, int y) override { Created.push_back({kind, x, y}); }
  std::vector<Item> Created;
};

struct HitQuery {
  int Kind, Shape, X, Y, Radius;
  bool HasBox, HasFirst, HasSecond;
};

// Answers every hit query with Damage (writing SecondValue through the second
// out pointer on a hit).
class FakeCharMessenger : public CCharMessenger {
 public:
  int CheckHit(int querierKind, int querierShape, int x, int y, int radius, const double* boxCorners, int* firstOut,
               int* secondOut) override {
    Queries.push_back(
        {querierKind, querierShape, x, y, radius, boxCorners != nullptr, firstOut != nullptr, secondOut != nullptr});
    if (Damage > 0 && secondOut != nullptr) *secondOut = SecondValue;
    return Damage;
  }
  int Damage = 0;
  int SecondValue = 1;
  std::vector<HitQuery> Queries;
};

// An enemy controller that logs its steps to the library double's call log,
// so that tests can see the character controller's order.
class FakeEnemyCtl : public CEnemyCtlBase {
 public:
  explicit FakeEnemyCtl(CScreenMessenger* screen) : CEnemyCtlBase(screen) { ++Live; }
  ~FakeEnemyCtl() override { --Live; }
  void Init() override {}
  void Update() override { ridov_double::Record("Enemy.Update"); }
  void Draw() override { ridov_double::Record("Enemy.Draw"); }
  void SetMessengers(const MessengerSet& faces) override {
    Faces = faces;
    ridov_double::Record("Enemy.SetMessengers");
  }
  void TakeHitsFrom(CCharMessenger* other) override {
    LastHitSource = other;
    ridov_double::Record("Enemy.TakeHitsFrom");
  }
  int CheckHit(int querierKind, int, int, int, int, const double*, int*, int*) override {
    ridov_double::Record("Enemy.CheckHit(" + std::to_string(querierKind) + ")");
    return 0;
  }
  void CreateEnemy(int, int, int, const int*, int) override {}
  int FindNearestEnemy(int, int) override { return -1; }
  int GetEnemyPos(int, int*, int*) override { return -1; }

  static CEnemyCtlBase* Create(CScreenMessenger* screen) { return new FakeEnemyCtl(screen); }

  MessengerSet Faces = {};
  CCharMessenger* LastHitSource = nullptr;
  static inline int Live = 0;
};

}  // namespace messenger_doubles

#endif  // MESSENGER_DOUBLES_H
