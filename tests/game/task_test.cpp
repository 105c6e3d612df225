#include <algorithm>
#include <set>

#include "GameFixture.h"

namespace {

std::vector<int> Deleted;

// A character that logs its updates, draws and deletion by id.
class Probe : public CBaseChar {
 public:
  explicit Probe(int id) : Id(id) {}
  ~Probe() override { Deleted.push_back(Id); }
  void Init() override {}
  void Update() override {
    ++Updates;
    if (DieInUpdate) Dead = true;
  }
  void Draw() override { ++Draws; }

  int Id;
  int Updates = 0;
  int Draws = 0;
  bool DieInUpdate = false;
};

class ProbeCtl : public CBaseCharCtl {
 public:
  ProbeCtl() : CBaseCharCtl(nullptr) {}
  void Init() override {}
};

// The ids from head to tail, checking the links both ways.
std::vector<int> Ids(const ProbeCtl& ctl) {
  std::vector<int> ids;
  const CBaseChar* prev = nullptr;
  for (const CBaseChar* c = ctl.Head; c != nullptr; c = c->Next) {
    EXPECT_EQ(prev, c->Prev);
    ids.push_back(static_cast<const Probe*>(c)->Id);
    prev = c;
  }
  EXPECT_EQ(prev, ctl.Tail);
  return ids;
}

struct PruneCase {
  const char* name;
  int count;
  std::set<int> dead;
  std::vector<int> left;
};

class PruneTest : public ::testing::TestWithParam<PruneCase> {};

TEST_P(PruneTest, OneUpdateRemovesTheDeadAndUpdatesTheRestOnce) {
  const PruneCase& c = GetParam();
  Deleted.clear();
  ProbeCtl ctl;
  std::vector<Probe*> probes;
  for (int id = 0; id < c.count; ++id) {
    probes.push_back(new Probe(id));
    ctl.Append(probes.back());
    if (c.dead.count(id)) probes.back()->Dead = true;
  }
  std::vector<int> survivors;
  for (Probe* p : probes)
    if (!p->Dead) survivors.push_back(p->Id);

  ctl.Update();
  EXPECT_EQ(c.left, Ids(ctl));
  EXPECT_EQ(std::vector<int>(c.dead.begin(), c.dead.end()), Deleted);
  for (Probe* p : probes) {
    if (std::count(survivors.begin(), survivors.end(), p->Id)) {
      EXPECT_EQ(1, p->Updates) << p->Id;
    }
  }
  ctl.Destroy();
}

INSTANTIATE_TEST_SUITE_P(Lists, PruneTest,
                         ::testing::Values(PruneCase{"DeadHead", 3, {0}, {1, 2}}, PruneCase{"DeadTail", 3, {2}, {0, 1}},
                                           PruneCase{"OnlyElement", 1, {0}, {}},
                                           PruneCase{"AdjacentDead", 5, {1, 2}, {0, 3, 4}},
                                           PruneCase{"AllDead", 3, {0, 1, 2}, {}},
                                           PruneCase{"NoneDead", 2, {}, {0, 1}}),
                         [](const ::testing::TestParamInfo<PruneCase>& info) { return info.param.name; });

TEST(TaskTest, ObjectDyingInItsUpdateIsDrawnOnceMoreThenRemoved) {
  Deleted.clear();
  ProbeCtl ctl;
  Probe* a = new Probe(1);
  Probe* b = new Probe(2);
  ctl.Append(a);
  ctl.Append(b);
  a->DieInUpdate = true;

  ctl.Update();
  EXPECT_EQ((std::vector<int>{1, 2}), Ids(ctl));
  ctl.Draw();
  EXPECT_EQ(1, a->Draws);
  EXPECT_EQ(1, b->Draws);

  ctl.Update();
  EXPECT_EQ((std::vector<int>{2}), Ids(ctl));
  EXPECT_EQ(2, b->Updates);
  ctl.Destroy();
  EXPECT_EQ((std::vector<int>{1, 2}), Deleted);
  EXPECT_EQ(nullptr, ctl.Head);
  EXPECT_EQ(nullptr, ctl.Tail);
}

TEST(TaskTest, ConstructionSetsTheBaseRecord) {
  Probe p(0);
  EXPECT_EQ(0, p.X);
  EXPECT_EQ(0, p.Y);
  EXPECT_EQ(0, p.FrameCount);
  EXPECT_FALSE(p.Dead);
  EXPECT_FALSE(p.NoHit);
  EXPECT_EQ(0, p.InvincibleFrames);
  EXPECT_EQ(nullptr, p.Prev);
  EXPECT_EQ(nullptr, p.Next);
  for (int g : p.Graph) EXPECT_EQ(-1, g);
  for (int w : p.Work) EXPECT_EQ(0, w);
}

TEST(TaskTest, PositionInWholePixelsTruncatesTowardZero) {
  Probe p(0);
  p.X = -1500;
  p.Y = 2999;
  int x = 7, y = 7;
  p.GetPositionPx(&x, &y);
  EXPECT_EQ(-1, x);
  EXPECT_EQ(2, y);

  x = y = 7;
  p.GetPositionPx(&x, nullptr);
  p.GetPositionPx(nullptr, &y);
  EXPECT_EQ(7, x);
  EXPECT_EQ(7, y);
}

}  // namespace
