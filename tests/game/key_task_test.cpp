#include "GameFixture.h"

using namespace ridov_double;

namespace {

const int FIRE_BIT = 0x10;    // logical key 4
const int DEBUG_BIT = 0x400;  // logical key 8

class KeyTaskTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    KeyTaskInstance.Init();
  }
};

TEST_F(KeyTaskTest, InitTakesPadBitsFromTheTableAndClearsTheLock) {
  KeyTaskInstance.InputLock = true;
  KeyTaskInstance.Init();
  EXPECT_FALSE(KeyTaskInstance.InputLock);
  const int bits[LOGICAL_KEY_COUNT] = {0x8, 0x2, 0x1, 0x4, 0x10, 0x20, 0x40, 0x80, 0x400};
  for (int key = 0; key < LOGICAL_KEY_COUNT; ++key)
    EXPECT_EQ(bits[key], KeyTaskInstance.Keys[key].PadBit) << "key " << key;
}

TEST_F(KeyTaskTest, EachSlotReadsTheKeyboardMergedWithPadOne) {
  EXPECT_TRUE(UpdateKeyCounters());
  std::vector<std::string> reads = CallsOf("GetPadState");
  ASSERT_EQ(9u, reads.size());
  for (const std::string& r : reads) EXPECT_EQ("GetPadState(4097)", r);
}

TEST_F(KeyTaskTest, StateIsReadAnewForEverySlot) {
  // Only the read for slot 3 (right) sees its bit.
  QueuePadStates({0x4 | 0x8, 0, 0, 0x4, 0, 0, 0, 0, 0});
  UpdateKeyCounters();
  EXPECT_EQ(1, KeyTaskInstance.Counter(0));
  EXPECT_EQ(1, KeyTaskInstance.Counter(3));
  for (int key : {1, 2, 4, 5, 6, 7, 8}) EXPECT_EQ(0, KeyTaskInstance.Counter(key)) << key;
}

TEST_F(KeyTaskTest, HeldKeyCountsTo1199ThenCyclesFrom601AndNeverReturnsTo1) {
  SetPadState(FIRE_BIT);
  for (int frame = 1; frame <= 1199; ++frame) {
    UpdateKeyCounters();
    ASSERT_EQ(frame, KeyTaskInstance.Counter(4));
  }
  UpdateKeyCounters();
  EXPECT_EQ(601, KeyTaskInstance.Counter(4));
  for (int frame = 0; frame < 2000; ++frame) {
    UpdateKeyCounters();
    ASSERT_GE(KeyTaskInstance.Counter(4), 601);
    ASSERT_LE(KeyTaskInstance.Counter(4), 1199);
  }
  EXPECT_EQ(0, KeyTaskInstance.Counter(0)) << "other keys stay up";
}

TEST_F(KeyTaskTest, ReleaseOrANonPositiveStateGivesZero) {
  for (int state : {0, -1, static_cast<int>(0x80000000u | FIRE_BIT), 0x20}) {
    SetPadState(FIRE_BIT);
    UpdateKeyCounters();
    UpdateKeyCounters();
    ASSERT_EQ(2, KeyTaskInstance.Counter(4));
    SetPadState(state);
    UpdateKeyCounters();
    EXPECT_EQ(0, KeyTaskInstance.Counter(4)) << "state " << state;
  }
}

TEST_F(KeyTaskTest, DebugToggleOncePerPress) {
  SetPadState(DEBUG_BIT);
  for (int frame = 0; frame < 5; ++frame) {
    UpdateKeyCounters();
    DebugTaskInstance.Update();
  }
  EXPECT_EQ(1, DebugTaskInstance.DebugDisplayFlag);

  SetPadState(0);
  UpdateKeyCounters();
  DebugTaskInstance.Update();
  EXPECT_EQ(1, DebugTaskInstance.DebugDisplayFlag);

  SetPadState(DEBUG_BIT);
  UpdateKeyCounters();
  DebugTaskInstance.Update();
  EXPECT_EQ(0, DebugTaskInstance.DebugDisplayFlag);
}

TEST_F(KeyTaskTest, DebugToggleIgnoredWhileInputIsLocked) {
  KeyTaskInstance.InputLock = true;
  SetPadState(DEBUG_BIT);
  UpdateKeyCounters();
  DebugTaskInstance.Update();
  EXPECT_EQ(0, DebugTaskInstance.DebugDisplayFlag);

  // The press is not remembered: unlocking while held does not toggle.
  KeyTaskInstance.InputLock = false;
  UpdateKeyCounters();
  DebugTaskInstance.Update();
  EXPECT_EQ(0, DebugTaskInstance.DebugDisplayFlag);
}

TEST_F(KeyTaskTest, FormattedTextsAreCutAtAWholeCharacter) {
  char draw[DRAW_TEXT_BUFFER_SIZE];
  EXPECT_EQ(11, FormatDrawText(draw, "move_cnt:%d", 42));
  EXPECT_STREQ("move_cnt:42", draw);

  std::string longText(300, 'x');
  char shortText[SHORT_TEXT_BUFFER_SIZE];
  EXPECT_EQ(127, FormatShortText(shortText, "%s", longText.c_str()));
  EXPECT_EQ(129, FormatDrawText(draw, "%s", longText.c_str()));

  // A double-byte character straddling the end is dropped whole.
  std::string kana = std::string(126, 'a') + "\x82\xA0" + "b";
  EXPECT_EQ(126, FormatShortText(shortText, "%s", kana.c_str()));
  EXPECT_EQ(std::string(126, 'a'), shortText);
}

}  // namespace
