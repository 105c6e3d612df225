#include <string.h>

#include <array>
#include <memory>

#include "Enemy.h"
#include "EnemyDoubles.h"
#include "GameFixture.h"

using namespace ridov_double;
using namespace enemy_doubles;

namespace {

using Fields = std::array<int, 9>;  // frame, kind, x, y, extra, drops 0-3

Fields FieldsOf(const SpawnRecord& r) {
  return {r.Frame, r.Kind, r.X, r.Y, r.Extra, r.Drop[0], r.Drop[1], r.Drop[2], r.Drop[3]};
}

const char* const HEAD = "frame,kind,x,y,extra,d0,d1,d2,d3,a,b,c\nsecond header line\n";

struct ReadCase {
  const char* name;
  std::string bytes;
  std::vector<Fields> records;  // then the end of the table
  int reads;                    // ReadFileChar calls, -1 = one per byte plus the end
};

std::string Head(const std::string& rows) { return HEAD + rows; }

class ScheduleTest : public GameTest {
 protected:
  // Reads bytes as the schedule; the table as fields up to its end.
  std::vector<Fields> Read(const std::string& bytes, int* result = nullptr) {
    ScriptFile(bytes);
    int filled = LoadEnemyPatterns(EnemyScheduleFile, table);
    if (result != nullptr) *result = filled;
    std::vector<Fields> out;
    for (int i = 0; i < SCHEDULE_RECORDS && table[i].Frame != -1; ++i) out.push_back(FieldsOf(table[i]));
    return out;
  }

  // Every record from `from` on is the empty end record.
  void ExpectEmptyFrom(int from) {
    for (int i = from; i < SCHEDULE_RECORDS; ++i)
      ASSERT_EQ((Fields{-1, 0, 0, 0, 0, 0, 0, 0, 0}), FieldsOf(table[i])) << "record " << i;
  }

  SpawnRecord table[SCHEDULE_RECORDS];
};

TEST_F(ScheduleTest, ReaderTable) {
  const std::string cell64 = std::string(61, ' ') + "123";  // 64 bytes
  const std::vector<ReadCase> cases = {
      {"one row", Head("60,0,480,-30,0,-1,-1,-1,-1,0,0,0\n"), {{60, 0, 480, -30, 0, -1, -1, -1, -1}}, -1},
      {"CRLF line ends, floats truncated",
       "h1\r\nh2\r\n60,0,480,-30.7,5,-1,1.9,-1,2e0,0,0,0\r\n70,1,300,-50,0,-1,-1,-1,-1,0,0,0\r\n",
       {{60, 0, 480, -30, 5, -1, 1, -1, 2}, {70, 1, 300, -50, 0, -1, -1, -1, -1}},
       -1},
      {"comment line costs no cell",
       Head("60,0,480,-30,0,-1,-1,-1,-1,0,0,0\n// wave two\n70,1,300,-50,0,-1,-1,-1,-1,0,0,0\n"),
       {{60, 0, 480, -30, 0, -1, -1, -1, -1}, {70, 1, 300, -50, 0, -1, -1, -1, -1}},
       -1},
      {"slash drops the partial cell, the record goes on",
       Head("100,2/ the kind follows\n3,480,-30,0,-1,-1,-1,-1,0,0,0\n"),
       {{100, 3, 480, -30, 0, -1, -1, -1, -1}},
       -1},
      {"0xFF ends the reading inside a cell",
       Head("60,0,480,-30,0,-1,-1,-1,-1,0,0,0\n70,1,3\xFF"
            "00,-50,0,-1,-1,-1,-1,0,0,0\n"),
       {{60, 0, 480, -30, 0, -1, -1, -1, -1}, {70, 1, 0, 0, 0, 0, 0, 0, 0}},
       static_cast<int>(strlen(HEAD)) + 40},
      {"a 64-byte cell ends there; the next bytes start a cell",
       Head(cell64 + "4,480,-30,0,-1,-1,-1,-1,0,0,0\n"),
       {{123, 4, 480, -30, 0, -1, -1, -1, -1}},
       -1},
      {"a 64-byte cell before a comma leaves an empty cell",
       Head(cell64 + ",4,480,-30,0,-1,-1,-1,-1,0,0\n"),
       {{123, 0, 4, 480, -30, 0, -1, -1, -1}},
       -1},
      {"last row without a line feed",
       Head("60,0,480,-30,0,-1,-1,-1,-1,0,0,0"),
       {{60, 0, 480, -30, 0, -1, -1, -1, -1}},
       -1},
      {"a row cut short keeps its cells",
       Head("60,0,480,-30,0,-1,-1,-1,-1,0,0,0\n70,1,300"),
       {{60, 0, 480, -30, 0, -1, -1, -1, -1}, {70, 1, 0, 0, 0, 0, 0, 0, 0}},
       -1},
      {"nine cells shift the next row",
       Head("60,0,480,-30,0,-1,-1,-1,-1\n70,1,300,-50,0,-1,-1,-1,-1,0,0,0\n"),
       {{60, 0, 480, -30, 0, -1, -1, -1, -1}, {-50, 0, -1, -1, -1, -1, 0, 0, 0}},
       -1},
      {"cells without a number are 0",
       Head(" x,+1,  7y,-.5e1,z,,1e400,-1e400,\r\n,,\n"),
       {{0, 1, 7, -5, 0, 0, 2147483647, -2147483647 - 1, 0}},
       -1},
      {"empty file", "", {}, 1},
      {"one header line only", "frame,kind\n", {}, -1},
      {"both header lines only", HEAD, {}, -1},
      {"end inside the second header line", "h1\nh2 without end", {}, -1},
      {"end inside a comment",
       Head("60,0,480,-30,0,-1,-1,-1,-1,0,0,0\n/ trailing note"),
       {{60, 0, 480, -30, 0, -1, -1, -1, -1}},
       -1},
  };
  for (const ReadCase& c : cases) {
    Reset();
    EXPECT_EQ(c.records, Read(c.bytes)) << c.name;
    ExpectEmptyFrom(static_cast<int>(c.records.size()));
    EXPECT_EQ((std::vector<std::string>{"OpenReadFile(\"data/enemy_ptn.csv\",0)"}), CallsOf("OpenReadFile")) << c.name;
    EXPECT_EQ(1, CountOf("CloseReadFile")) << c.name;
    int reads = c.reads == -1 ? static_cast<int>(c.bytes.size()) + 1 : c.reads;
    EXPECT_EQ(reads, CountOf("ReadFileChar")) << c.name;
  }
}

TEST_F(ScheduleTest, AFileThatDoesNotOpenLeavesTheTableEmpty) {
  for (int handle : {0, -1, -5}) {
    Reset();
    QueueResults("OpenReadFile", {handle});
    QueueResults("ReadFileChar", {'6', '0', ','});
    EXPECT_EQ(-1, LoadEnemyPatterns(EnemyScheduleFile, table)) << handle;
    ExpectEmptyFrom(0);
    EXPECT_EQ(0, CountOf("ReadFileChar")) << handle;
    EXPECT_EQ(0, CountOf("CloseReadFile")) << handle;
  }
}

// ReadFileChar gives 0 for a handle that is no longer valid (a failed
// asynchronous open deletes its handle): the reader stops at the first 0
// instead of taking zeros as cells for ever.
TEST_F(ScheduleTest, AHandleThatTurnsInvalidEndsTheReading) {
  struct Case {
    const char* bytes;  // then zeros without end
    std::vector<Fields> records;
  };
  const Case cases[] = {
      {"", {}},
      {"h1\n", {}},
      {"h1\nh2\n", {}},
      {"h1\nh2\n60,0,480,-30,0,-1,-1,-1,-1,0,0,0\n70,1,3",
       {{60, 0, 480, -30, 0, -1, -1, -1, -1}, {70, 1, 0, 0, 0, 0, 0, 0, 0}}},
      {"h1\nh2\n/ a comment", {}},
  };
  for (const Case& c : cases) {
    Reset();
    QueueResults("OpenReadFile", {0x44000001});
    for (unsigned char b : std::string(c.bytes)) QueueResults("ReadFileChar", {static_cast<signed char>(b)});
    SetDefaultResult("ReadFileChar", 0);
    LoadEnemyPatterns(EnemyScheduleFile, table);
    std::vector<Fields> out;
    for (int i = 0; i < SCHEDULE_RECORDS && table[i].Frame != -1; ++i) out.push_back(FieldsOf(table[i]));
    EXPECT_EQ(c.records, out) << c.bytes;
    ExpectEmptyFrom(static_cast<int>(c.records.size()));
    EXPECT_EQ(static_cast<int>(strlen(c.bytes)) + 1, CountOf("ReadFileChar")) << c.bytes;
    EXPECT_EQ(1, CountOf("CloseReadFile")) << c.bytes;
  }
}

TEST_F(ScheduleTest, AtMost500RecordsAreFilled) {
  std::string rows;
  for (int i = 1; i <= 502; ++i) rows += std::to_string(i) + ",0,480,-30,0,-1,-1,-1,-1,0,0,0\n";
  int filled = 0;
  std::vector<Fields> records = Read(Head(rows), &filled);
  EXPECT_EQ(500, filled);
  ASSERT_EQ(500u, records.size());
  EXPECT_EQ(500, records[499][0]);
  EXPECT_EQ(-1, table[500].Frame);
  EXPECT_EQ(static_cast<int>(Head(rows).size()) + 1, CountOf("ReadFileChar"));  // read to the end
}

TEST_F(ScheduleTest, CellConversions) {
  struct {
    const char* cell;
    int asInt, asFloat;
  } cases[] = {
      {"12", 12, 12},
      {"  -7\r", -7, -7},
      {"+5x", 5, 5},
      {"", 0, 0},
      {"abc", 0, 0},
      {"-", 0, 0},
      {"3.99", 3, 3},
      {"-3.99", -3, -3},
      {"1e3", 1, 1000},
      {"1e", 1, 1},
      {".5", 0, 0},
      {"0x10", 0, 0},
      {"inf", 0, 0},
      {"nan", 0, 0},
      {"99999999999", 2147483647, 2147483647},
      {"-99999999999", -2147483647 - 1, -2147483647 - 1},
      {"\t 8,9", 8, 8},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.asInt, ScheduleCellInt(c.cell)) << '"' << c.cell << '"';
    EXPECT_EQ(c.asFloat, ScheduleCellFloat(c.cell)) << '"' << c.cell << '"';
  }
}

TEST_F(ScheduleTest, FixtureFileReads) {
  std::string bytes = ReadFixture("spawn.csv");
  ASSERT_FALSE(bytes.empty()) << FixturePath("spawn.csv");
  EXPECT_EQ((std::vector<Fields>{{60, 0, 480, -30, 0, -1, -1, -1, -1},
                                 {60, 2, 300, -60, 0, 1, -1, 0, -1},
                                 {61, 9, 400, -30, 0, -1, -1, -1, -1},
                                 {100000, 0, 480, -30, 0, -1, -1, -1, -1}}),
            Read(bytes));
}

// ---------------------------------------------------------------------------
// The controller

class EnemyCtlTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    for (int i = 0; i < SOUND_EFFECT_COUNT; ++i) SoundEffectHandles[i] = 100 + i;
    PlayerMessengerPtr = &player;
    ItemMessengerPtr = &items;
  }
  void TearDown() override {
    PlayerMessengerPtr = nullptr;
    ItemMessengerPtr = nullptr;
  }

  // A controller reading `bytes` as its schedule (none when empty).
  CEnemyCtl* Make(const std::string& bytes = "") {
    if (!bytes.empty()) ScriptFile(bytes);
    ctl.reset(new CEnemyCtl(&screen));
    MessengerSet faces = {&player, &patterns, nullptr, ctl.get(), &items};
    ctl->SetMessengers(faces);
    return ctl.get();
  }

  std::vector<CBaseEnemy*> Enemies() const {
    std::vector<CBaseEnemy*> out;
    for (CBaseChar* c = ctl->Head; c != nullptr; c = c->Next) out.push_back(static_cast<CBaseEnemy*>(c));
    return out;
  }

  void Frame(int move) {
    screen.MoveCounter = move;
    ctl->Update();
  }

  FakeScreen screen;
  FakePlayer player;
  FakePatterns patterns;
  FakeItems items;
  FakeHits hits;
  std::unique_ptr<CEnemyCtl> ctl;
};

TEST_F(EnemyCtlTest, RecordsSpawnAtTheirMoveCounter) {
  Make(ReadFixture("spawn.csv"));
  Frame(59);
  EXPECT_TRUE(Enemies().empty());

  Frame(60);  // both frame-60 records
  std::vector<CBaseEnemy*> e = Enemies();
  ASSERT_EQ(2u, e.size());
  EXPECT_EQ(0, e[0]->KindIndex);
  EXPECT_EQ(0, e[0]->EnemyId);
  EXPECT_EQ(480000, e[0]->X);
  EXPECT_EQ(-28000, e[0]->Y);  // spawned at -30 and updated in the same frame
  EXPECT_EQ((std::vector<int>{-1, -1, -1, -1}), std::vector<int>(e[0]->Drop, e[0]->Drop + 4));
  EXPECT_EQ(2, e[1]->KindIndex);
  EXPECT_EQ(1, e[1]->EnemyId);
  EXPECT_EQ(300000, e[1]->X);
  EXPECT_EQ((std::vector<int>{1, -1, 0, -1}), std::vector<int>(e[1]->Drop, e[1]->Drop + 4));
  EXPECT_EQ(ctl.get(), e[1]->Owner);
  EXPECT_EQ(&patterns, e[1]->Faces.BulletPtn);

  Frame(61);  // kind 9 spawns nothing
  EXPECT_EQ(2u, Enemies().size());
  Frame(60);  // a record is never consumed
  EXPECT_EQ(4u, Enemies().size());
  EXPECT_EQ(3, Enemies()[3]->EnemyId);
}

TEST_F(EnemyCtlTest, MissingScheduleGivesNoEnemies) {
  Make();
  for (int move = 0; move < 100; ++move) Frame(move);
  EXPECT_TRUE(Enemies().empty());
  EXPECT_EQ(-1, ctl->Schedule[0].Frame);
}

TEST_F(EnemyCtlTest, CreateEnemyKindsAndIds) {
  Make();
  ctl->CreateEnemy(7, 400, 100, nullptr, 0);
  ctl->CreateEnemy(-1, 400, 100, nullptr, 0);
  EXPECT_TRUE(Enemies().empty());
  for (int kind = 0; kind < ENEMY_KIND_COUNT; ++kind) ctl->CreateEnemy(kind, 400, 100, nullptr, kind);
  std::vector<CBaseEnemy*> e = Enemies();
  ASSERT_EQ(7u, e.size());
  for (int kind = 0; kind < ENEMY_KIND_COUNT; ++kind) {
    EXPECT_EQ(kind, e[kind]->KindIndex);
    EXPECT_EQ(kind, e[kind]->EnemyId);
    EXPECT_EQ(kind, e[kind]->Extra);
  }
  MessengerSet faces = {};
  ctl->SetMessengers(faces);
  ctl->CreateEnemy(0, 400, 100, nullptr, 0);
  EXPECT_EQ(0, Enemies().back()->EnemyId);
}

TEST_F(EnemyCtlTest, DeadEnemiesEndTheirPatternAndGo) {
  Make();
  ctl->CreateEnemy(2, 400, 100, nullptr, 0);
  ctl->CreateEnemy(2, 500, 100, nullptr, 0);
  std::vector<CBaseEnemy*> e = Enemies();
  e[0]->PatternId = patterns.CreatePattern(8, 0, 400, 100, 0, 0);
  e[0]->Dead = true;
  e[1]->PatternId = 77;  // a pattern that has ended
  ClearCalls();
  Frame(1);
  EXPECT_EQ((std::vector<std::string>{"Ptn.Kill(0)"}), CallsOf("Ptn.Kill"));
  ASSERT_EQ(1u, Enemies().size());
  EXPECT_EQ(-1, Enemies()[0]->PatternId);
}

TEST_F(EnemyCtlTest, LeavingTheBoundsRemovesAtOnceAndLeavesThePatternRunning) {
  Make();
  ctl->CreateEnemy(0, 480, 1219, nullptr, 0);  // moves 2 px down: 1221 is out
  ctl->CreateEnemy(0, -291, 100, nullptr, 0);
  ctl->CreateEnemy(0, 1250, 1217, nullptr, 0);  // 1219 is still in
  Enemies()[0]->PatternId = patterns.CreatePattern(6, 0, 480, 1219, 0, 0);
  ClearCalls();
  Frame(1);
  std::vector<CBaseEnemy*> e = Enemies();
  ASSERT_EQ(1u, e.size());
  EXPECT_EQ(1250000, e[0]->X);
  EXPECT_EQ(0, CountOf("Ptn.Kill"));
  EXPECT_TRUE(patterns.IsPatternAlive(0));
}

TEST_F(EnemyCtlTest, GroundEnemiesScrollWithTheStage) {
  Make();
  ctl->CreateEnemy(3, 400, 100, nullptr, 0);   // a cannon facing up stands still
  ctl->CreateEnemy(3, 400, 100, nullptr, 18);  // facing down: twice the scroll
  ctl->CreateEnemy(2, 400, 100, nullptr, 0);   // airborne: its own 0.7 px only
  Frame(1);
  std::vector<CBaseEnemy*> e = Enemies();
  EXPECT_EQ(100000, e[0]->Y);
  EXPECT_DOUBLE_EQ(100.0, e[0]->PxY);
  EXPECT_EQ(101000, e[1]->Y);
  EXPECT_EQ(100700, e[2]->Y);
  // Box corners follow: the upright cannon's box is 40 x 50 about (400, 100).
  EXPECT_NEAR(380, e[0]->BoxCorner[0], 1e-9);
  EXPECT_NEAR(75, e[0]->BoxCorner[1], 1e-9);
  EXPECT_NEAR(420, e[0]->BoxCorner[4], 1e-9);
  EXPECT_NEAR(125, e[0]->BoxCorner[5], 1e-9);

  screen.ScrollSpeed = 0;
  Frame(2);
  EXPECT_EQ(99500, e[0]->Y);
}

TEST_F(EnemyCtlTest, BossHitPointsGoToTheStatus) {
  Make();
  ctl->CreateEnemy(6, 480, -65, nullptr, 0);
  Frame(1);
  EXPECT_EQ(400000, StatusInstance.GetStatusField(1, STATUS_BOSS_HP));
  Enemies()[0]->HitPoints = -250;
  Enemies()[0]->Dead = true;
  Frame(2);
  EXPECT_TRUE(Enemies().empty());
  EXPECT_EQ(-250, StatusInstance.GetStatusField(1, STATUS_BOSS_HP));
  Frame(3);
  EXPECT_EQ(-250, StatusInstance.GetStatusField(1, STATUS_BOSS_HP));  // kept after removal
}

TEST_F(EnemyCtlTest, ScoresPerHitAndOnAKill) {
  struct Case {
    int lives;
    int kind;
    std::vector<int> damage;
    int score;
    bool dead;
  } cases[] = {
      {5, 2, {1000}, 20, false},        {1, 2, {1000}, 4, false},      {3, 5, {33000}, 900, true},  // kind worth 1500
      {3, 0, {1499, 1}, 12 + 60, true}, {2, 6, {500000}, 12000, true},
  };
  for (const Case& c : cases) {
    StatusInstance.Init();
    StatusInstance.HighScore = 50;
    StatusInstance.Records[0].Field[STATUS_LIVES] = c.lives;
    Make();
    ctl->CreateEnemy(c.kind, 400, 300, nullptr, 0);
    hits.Damage = c.damage;
    for (size_t i = 0; i < c.damage.size(); ++i) ctl->TakeHitsFrom(&hits);
    EXPECT_EQ(c.score, StatusInstance.GetScore(1)) << c.kind << " " << c.lives;
    EXPECT_EQ(c.score > 50 ? c.score : 50, StatusInstance.GetStatusField(1, STATUS_HIGH_SCORE));
    EXPECT_EQ(c.dead, Enemies()[0]->Dead) << c.kind;
  }
}

TEST_F(EnemyCtlTest, HitsPlaySoundsAndAskWithTheEnemyShape) {
  Make();
  ctl->CreateEnemy(0, 400, 300, nullptr, 0);
  ctl->CreateEnemy(3, 500, 300, nullptr, 0);
  Frame(1);
  ClearCalls();
  hits.Damage = {0, 1000, 1000, 5000};
  ctl->TakeHitsFrom(&hits);  // the cannon takes 1000
  ctl->TakeHitsFrom(&hits);  // the small one dies of 1000, the cannon of 5000 more
  EXPECT_EQ(
      (std::vector<std::string>{"Hits.Check(3,0,400,302,20,0)", "Hits.Check(3,1,500,300,0,1)",
                                "PlaySoundHandle(102,1,1)", "Hits.Check(3,0,400,302,20,0)", "PlaySoundHandle(102,1,1)",
                                "Hits.Check(3,1,500,300,0,1)", "PlaySoundHandle(103,1,1)"}),
      Calls());
  EXPECT_EQ(500, Enemies()[0]->HitPoints);
  EXPECT_FALSE(Enemies()[0]->Dead);
  EXPECT_TRUE(Enemies()[1]->Dead);

  SoundEffectHandles[2] = SoundEffectHandles[3] = -1;  // not loaded: silent
  ClearCalls();
  hits.Damage = {5000};
  ctl->TakeHitsFrom(&hits);
  EXPECT_EQ(0, CountOf("PlaySoundHandle"));
}

TEST_F(EnemyCtlTest, DropsOnAKill) {
  Make();
  const int drops[4] = {0, -1, 5, -1};
  ctl->CreateEnemy(0, 400, 300, drops, 0);
  ClearCalls();
  hits.Damage = {1500};
  ctl->TakeHitsFrom(&hits);
  EXPECT_EQ((std::vector<std::string>{"Item.Create(0,400,300)", "Item.Create(2,400,300)"}), CallsOf("Item.Create"));

  // Without a published item face nothing drops, and nothing breaks.
  ItemMessengerPtr = nullptr;
  ctl->CreateEnemy(0, 400, 300, drops, 0);
  ClearCalls();
  hits.Damage = {0, 1500};
  ctl->TakeHitsFrom(&hits);
  EXPECT_EQ(0, CountOf("Item.Create"));
  EXPECT_TRUE(Enemies()[1]->Dead);
}

TEST_F(EnemyCtlTest, AKillWhileTheSpecialIsOutFiresOneAimedShot) {
  Make();
  ctl->CreateEnemy(2, 400, 300, nullptr, 0);
  CBaseEnemy* e = Enemies()[0];
  e->PatternId = patterns.CreatePattern(8, 0, 400, 300, 0, 0);  // id 0
  player.Special = true;
  ClearCalls();
  hits.Damage = {23000};
  ctl->TakeHitsFrom(&hits);
  EXPECT_EQ((std::vector<std::string>{"Hits.Check(3,1,400,300,0,1)", "PlaySoundHandle(103,1,1)", "Ptn.Kill(0)",
                                      "Ptn.Create(6,0,400,300,0,0)"}),
            Calls());
  // The revenge shot is not the enemy's pattern: removing the enemy leaves it.
  EXPECT_EQ(0, e->PatternId);
  Frame(1);
  EXPECT_TRUE(Enemies().empty());
  EXPECT_TRUE(patterns.IsPatternAlive(1));

  // Without the special, no shot.
  player.Special = false;
  ctl->CreateEnemy(0, 400, 300, nullptr, 0);
  ClearCalls();
  hits.Damage = {1500};
  ctl->TakeHitsFrom(&hits);
  EXPECT_EQ(0, CountOf("Ptn.Create"));
}

TEST_F(EnemyCtlTest, CheckHitAnswersThePlayerAndItsBullets) {
  Make();
  ctl->CreateEnemy(0, 400, 300, nullptr, 0);  // circle, radius 20
  ctl->CreateEnemy(3, 600, 300, nullptr, 0);  // box 40 x 50
  Frame(1);                                   // the circle is at (400, 302)
  int out = 99;
  EXPECT_EQ(1, ctl->CheckHit(0, 0, 400, 330, 10, nullptr, nullptr, &out));
  EXPECT_EQ(0, out);
  EXPECT_EQ(0, ctl->CheckHit(0, 0, 400, 332, 10, nullptr, nullptr, &out));    // exactly 30 apart
  EXPECT_EQ(1, ctl->CheckHit(4, 0, 600, 330, 8, nullptr, nullptr, nullptr));  // box vs circle
  EXPECT_EQ(0, ctl->CheckHit(4, 0, 600, 334, 8, nullptr, nullptr, nullptr));
  for (int kind : {1, 2, 3, 5, 7}) {
    out = 99;
    EXPECT_EQ(0, ctl->CheckHit(kind, 0, 400, 302, 10, nullptr, nullptr, &out)) << kind;
    EXPECT_EQ(99, out);
  }
  // A box querier against the circle; box against box never hits.
  double box[8] = {390, 290, 410, 290, 410, 310, 390, 310};
  EXPECT_EQ(1, ctl->CheckHit(0, 1, 400, 300, 0, box, nullptr, nullptr));
  double boxAtCannon[8] = {590, 290, 610, 290, 610, 310, 590, 310};
  EXPECT_EQ(0, ctl->CheckHit(0, 1, 600, 300, 0, boxAtCannon, nullptr, nullptr));
}

TEST_F(EnemyCtlTest, NearestEnemyAndPositions) {
  Make();
  ctl->CreateEnemy(0, 300, 100, nullptr, 0);  // id 0
  ctl->CreateEnemy(0, 200, 400, nullptr, 0);  // id 1: left of the field
  ctl->CreateEnemy(0, 700, 400, nullptr, 0);  // id 2
  ctl->CreateEnemy(0, 300, 700, nullptr, 0);  // id 3: as far as id 0 from (300, 400)
  ctl->CreateEnemy(0, 600, -1, nullptr, 0);   // id 4: above the field
  EXPECT_EQ(0, ctl->FindNearestEnemy(300, 400));
  EXPECT_EQ(2, ctl->FindNearestEnemy(450, 400));
  EXPECT_EQ(0, ctl->FindNearestEnemy(200, 0));
  EXPECT_EQ(-1, ctl->FindNearestEnemy(-700, 100));  // 1000 px away

  int x = 7, y = 7;
  EXPECT_EQ(2, ctl->GetEnemyPos(2, &x, &y));
  EXPECT_EQ(700, x);
  EXPECT_EQ(400, y);
  x = y = 7;
  EXPECT_EQ(-1, ctl->GetEnemyPos(9, &x, &y));
  EXPECT_EQ(-1, ctl->GetEnemyPos(2, nullptr, &y));
  EXPECT_EQ(7, x);
  EXPECT_EQ(7, y);

  Make();
  EXPECT_EQ(-1, ctl->FindNearestEnemy(480, 360));
}

}  // namespace
