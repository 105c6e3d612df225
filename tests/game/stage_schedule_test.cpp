// The generated stage schedule ("data/enemy_ptn.csv" from the build's
// game data) read by the game's own reader: every row lands in its own
// record, every kind and every item drop appears, spawns cover the stage
// without long gaps, and the boss enters after its music starts and early
// enough for the stage to end.
#include <stdio.h>

#include <set>
#include <string>

#include "Enemy.h"
#include "EnemyDoubles.h"
#include "GameFixture.h"

using namespace ridov_double;
using namespace enemy_doubles;

namespace {

const int BOSS_KIND = 6;
const int BOSS_MUSIC_AT = 6000;  // the play scene's boss music cue
const int BOSS_TIME = 6550;      // the move counter after which the stage can end

// Rows after the two header lines that are not comments.
int DataRows(const std::string& text) {
  int rows = 0, line = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string row = text.substr(start, end - start);
    if (++line > 2 && !row.empty() && row.find('/') == std::string::npos) ++rows;
    start = end + 1;
  }
  return rows;
}

class StageScheduleTest : public GameTest {};

TEST_F(StageScheduleTest, GeneratedStageReadsWithEveryKindAndTheBoss) {
  const std::string text = ReadGeneratedData("data/enemy_ptn.csv");
  ASSERT_FALSE(text.empty()) << QUINSEL_DATA_DIR;
  static SpawnRecord table[SCHEDULE_RECORDS];
  ScriptFile(text);
  const int filled = LoadEnemyPatterns(EnemyScheduleFile, table);

  // Twelve cells a row: the reader's records match the file's rows.
  EXPECT_EQ(DataRows(text), filled);
  ASSERT_GT(filled, 100);
  ASSERT_LT(filled, SCHEDULE_RECORDS);

  std::set<int> kinds, drops;
  std::set<int> busyWindows;  // 600-frame windows with a spawn
  int bosses = 0, bossFrame = -1, lastFrame = 0;
  for (int i = 0; i < filled; ++i) {
    const SpawnRecord& r = table[i];
    SCOPED_TRACE("record " + std::to_string(i));
    ASSERT_GE(r.Kind, 0);
    ASSERT_LE(r.Kind, BOSS_KIND);
    kinds.insert(r.Kind);
    EXPECT_GE(r.Frame, lastFrame) << "rows in order of their frame";
    lastFrame = r.Frame;
    // Enemies enter over the play field from above its top edge.
    EXPECT_GE(r.X, 240);
    EXPECT_LE(r.X, 720);
    EXPECT_LT(r.Y, 0);
    for (int k = 0; k < 4; ++k) {
      EXPECT_TRUE(r.Drop[k] == -1 || r.Drop[k] == 1);
      if (r.Drop[k] != -1) drops.insert(k);
    }
    busyWindows.insert(r.Frame / 600);
    if (r.Kind == BOSS_KIND) {
      ++bosses;
      bossFrame = r.Frame;
    }
  }
  EXPECT_EQ(7u, kinds.size());
  EXPECT_EQ((std::set<int>{0, 1, 2, 3}), drops);
  EXPECT_EQ(1, bosses);
  EXPECT_GE(bossFrame, BOSS_MUSIC_AT);
  EXPECT_LE(bossFrame, BOSS_TIME);
  EXPECT_EQ(bossFrame, lastFrame) << "the boss comes last";
  // No ten seconds without a new enemy before the boss.
  for (int w = 0; w <= bossFrame / 600; ++w) EXPECT_EQ(1u, busyWindows.count(w)) << "frames " << w * 600;
  EXPECT_EQ(-1, table[filled].Frame);
}

}  // namespace
