#include "GameFixture.h"
#include "StoredRandomTable.h"

namespace {

TEST(StoredRandomTableTest, ValuesAreFixedAndRoughlyUniformInZeroTo1000) {
  // The first values of the generated table.
  EXPECT_EQ(142, StoredRandomTable[0]);
  EXPECT_EQ(109, StoredRandomTable[1]);
  EXPECT_EQ(67, StoredRandomTable[2]);
  EXPECT_EQ(670, StoredRandomTable[STORED_RANDOM_COUNT - 1]);

  int buckets[10] = {};
  long long sum = 0;
  for (int v : StoredRandomTable) {
    ASSERT_GE(v, 0);
    ASSERT_LE(v, 1000);
    sum += v;
    ++buckets[v == 1000 ? 9 : v / 100];
  }
  EXPECT_NEAR(500.0, static_cast<double>(sum) / STORED_RANDOM_COUNT, 5.0);
  for (int b : buckets) EXPECT_NEAR(10000, b, 500);
}

class RandomCursorTest : public GameTest {};

TEST_F(RandomCursorTest, ReadsInOrderAndWrapsAtTheEnd) {
  RandInstance.RandomCursor = 7;
  RandInstance.Init();
  EXPECT_EQ(0, RandInstance.RandomCursor);
  EXPECT_EQ(StoredRandomTable[0], NextStoredRandom());
  EXPECT_EQ(StoredRandomTable[1], NextStoredRandom());
  EXPECT_EQ(2, RandInstance.RandomCursor);

  RandInstance.RandomCursor = STORED_RANDOM_COUNT - 1;
  EXPECT_EQ(StoredRandomTable[STORED_RANDOM_COUNT - 1], NextStoredRandom());
  EXPECT_EQ(0, RandInstance.RandomCursor);
  EXPECT_EQ(StoredRandomTable[0], NextStoredRandom());
}

TEST_F(RandomCursorTest, CursorOutOfRangeStartsAgainAtZero) {
  RandInstance.RandomCursor = -5;
  EXPECT_EQ(StoredRandomTable[0], NextStoredRandom());
  RandInstance.RandomCursor = STORED_RANDOM_COUNT + 3;
  EXPECT_EQ(StoredRandomTable[0], NextStoredRandom());
}

TEST_F(RandomCursorTest, FrameCounterCountsUpdatesAndIsNotReset) {
  RandInstance.Update();
  RandInstance.Update();
  RandInstance.Init();
  EXPECT_EQ(2, RandInstance.FrameCounter);
}

}  // namespace
