// Items: the kind table, creation, the three movers, removal off the field,
// pick-up and its effects, drawing.
#include <math.h>

#include "Item.h"
#include "PlayFixture.h"
#include "StoredRandomTable.h"

using namespace ridov_double;
using namespace messenger_doubles;

namespace {


class ItemTest : public PlayTest {
 protected:
  void SetUp() override {
    PlayTest::SetUp();
    MessengerSet faces = {&player, nullptr, nullptr, nullptr, &ctl};
    ctl.SetMessengers(faces);
    PlayerMessengerPtr = &player;
    ItemMessengerPtr = &ctl;
  }
  void TearDown() override {
    ctl.Destroy();
    PlayTest::TearDown();
  }

  CItem* Make(int kind, int x, int y) {
    ctl.CreateItem(kind, x, y);
    return static_cast<CItem*>(ctl.Tail);
  }
  // Picks the item up through a player double that touches everything.
  void PickUp() {
    FakeCharMessenger touching;
    touching.Damage = 1000;
    touching.SecondValue = 1;
    ctl.CheckPickUpBy(&touching);
  }
  int Field(int field) const { return StatusInstance.GetStatusField(1, field); }

  FakePlayerMessenger player;
  CItemCtl ctl{nullptr};
};

// ------------------------------------------------------------ table, creation

TEST_F(ItemTest, KindTableAndSizes) {
  struct Row {
    int kind, w, h, r;
  };
  const Row rows[] = {{0, 35, 35, 17}, {1, 40, 40, 17}, {2, 45, 45, 17}, {100, 35, 35, 17}, {3, 80, 80, 35}};
  for (const Row& row : rows) {
    const ItemKindRow* k = FindItemKind(row.kind);
    ASSERT_NE(nullptr, k) << row.kind;
    EXPECT_EQ(row.r, k->Radius) << row.kind;
    int w = 0, h = 0;
    GetItemKindSize(row.kind, &w, &h);
    EXPECT_EQ(row.w, w) << row.kind;
    EXPECT_EQ(row.h, h) << row.kind;
  }
  EXPECT_STREQ("magic.png", FindItemKind(3)->Image);
  EXPECT_EQ(nullptr, FindItemKind(4)) << "4 ends the table";
  int w = -1, h = -1;
  GetItemKindSize(4, &w, &h);
  GetItemKindSize(0, &w, nullptr);
  EXPECT_EQ(-1, w);
  EXPECT_EQ(-1, h);
}

TEST_F(ItemTest, CreationSetsUpTheItem) {
  RandInstance.RandomCursor = 7;
  CItem* item = Make(ITEM_MAGIC, 300, 200);
  EXPECT_EQ(CHAR_KIND_ITEM, item->KindWord);
  EXPECT_EQ(1, item->HitPoints);
  EXPECT_EQ(ITEM_MAGIC, item->ItemKind);
  EXPECT_EQ(300000, item->X);
  EXPECT_EQ(200000, item->Y);
  EXPECT_EQ(-5000, item->Speed);
  EXPECT_EQ(CHAR_SHAPE_CIRCLE, item->Shape);
  EXPECT_EQ(35, item->Radius);
  EXPECT_EQ(80, item->ImageWidth);
  EXPECT_DOUBLE_EQ((StoredRandomTable[7] % 360) * PI / 180, item->Angle);
  EXPECT_EQ(8, RandInstance.RandomCursor);
  EXPECT_EQ(&player, item->Faces.Player);

  CItem* odd = Make(50, 300, 200);
  EXPECT_EQ(0, odd->Radius) << "a kind missing from the table";
  EXPECT_EQ(0, odd->ImageWidth);
  EXPECT_EQ(0, ctl.CheckHit(0, 0, 300, 200, 100, nullptr, nullptr, nullptr)) << "no damage";
}

// ------------------------------------------------------------ removal

TEST_F(ItemTest, ItemsLeavingTheFieldAreRemovedAtOnce) {
  CItem* inside = Make(ITEM_SEED, 400, 300);
  Make(ITEM_SEED, 200, 300);   // left of the field
  Make(ITEM_SEED, 760, 300);   // right of it
  Make(ITEM_SEED, 400, -497);  // rises past -500
  CItem* high = Make(ITEM_SEED, 400, -495);
  CItem* dead = Make(ITEM_QUINSEL, 400, 300);
  dead->Dead = true;
  ctl.Update();
  EXPECT_EQ(inside, ctl.Head);
  EXPECT_EQ(high, ctl.Tail);
  EXPECT_EQ(2, ListCount(ctl));
  EXPECT_NEAR(295100, inside->Y, 1) << "rises 4.9 px on its first update";
  EXPECT_EQ(1, inside->FrameCount);
}

TEST_F(ItemTest, ItemBelowTheFieldIsRemoved) {
  CItem* item = Make(ITEM_SEED, 300, 700);  // too far from the player to be drawn in
  item->Speed = 5000;
  for (int i = 0; i < 4; ++i) ctl.Update();
  EXPECT_EQ(item, ctl.Head) << "at 720 it is still inside";
  ctl.Update();
  EXPECT_EQ(nullptr, ctl.Head);
}

// ------------------------------------------------------------ movers

TEST_F(ItemTest, DefaultMoverRisesThenFallsAndIsDrawnToThePlayer) {
  CItem* item = Make(ITEM_QUINSEL, 400, 300);
  for (int i = 0; i < 50; ++i) ctl.Update();
  EXPECT_EQ(0, item->Speed);
  int top = item->Y;
  for (int i = 0; i < 100; ++i) ctl.Update();
  EXPECT_EQ(5000, item->Speed);
  EXPECT_GT(item->Y, top);
  EXPECT_EQ(400000, item->X) << "falls straight";
  EXPECT_EQ(Tile(130, 0), item->Graph[0]);

  CItem* near = Make(ITEM_SEED, 480, 570);  // 100 px above the player
  ctl.Update();
  EXPECT_EQ(480000, near->X);
  EXPECT_EQ(579000, near->Y) << "9 px toward the player";
  EXPECT_EQ(Tile(131, 0), near->Graph[0]);
}

TEST_F(ItemTest, FlashItemHopsThenFliesToThePlayer) {
  CItem* item = Make(ITEM_FLASH_QUINSEL, 400, 300);
  ctl.Update();
  EXPECT_EQ(300000, item->Y);
  EXPECT_EQ(Tile(130, 0), item->Graph[0]) << "the kind-0 sheet";
  for (int i = 1; i < 40; ++i) ctl.Update();
  ctl.Update();  // frame 40: the top of the hop
  EXPECT_EQ(250000, item->Y);
  for (int i = 41; i < 80; ++i) ctl.Update();
  EXPECT_EQ(400000, item->X);
  int x = item->X, y = item->Y;
  ctl.Update();  // frame 80: flies
  double a = atan2(670 - y / 1000.0, 480 - x / 1000.0);
  EXPECT_EQ(static_cast<int>((x / 1000.0 + cos(a) * 7.875) * 1000), item->X);
  EXPECT_EQ(static_cast<int>((y / 1000.0 + sin(a) * 7.875) * 1000), item->Y);
}

TEST_F(ItemTest, MagicItemStartsAtADrawnPhase) {
  RandInstance.RandomCursor = 0;
  CItem* item = Make(ITEM_MAGIC, 400, 300);
  int r = StoredRandomTable[1];
  ctl.Update();
  EXPECT_EQ((r % 3) * 240 + 1, item->FrameCount);
  EXPECT_EQ(r % 3, item->Work[ITEM_WORK_PHASE]);
  EXPECT_EQ(Tile(133, (r % 3) * 4), item->Graph[0]);
}

struct BounceCase {
  const char* name;
  double x, y, angle;
  double expectedAngle;
};

TEST_F(ItemTest, BouncingItemReflectsOffTheFieldEdges) {
  const BounceCase cases[] = {
      {"right wall", 748, 300, 0, PI},
      {"left wall", 212, 300, PI, 0},
      {"top", 400, 2, -PI / 2, PI / 2},
      {"bottom", 400, 718, PI / 2, -PI / 2},
      {"corner: the side wall first", 748, 2, -PI / 4, PI + PI / 4},
      {"free flight", 400, 300, 0.5, 0.5},
  };
  for (const BounceCase& c : cases) {
    CItem* item = Make(ITEM_MAGIC, 400, 300);
    item->Work[ITEM_WORK_STARTED] = 1;
    item->FrameCount = 100;
    item->X = static_cast<int>(c.x * 1000);
    item->Y = static_cast<int>(c.y * 1000);
    item->Angle = c.angle;
    ctl.Update();
    EXPECT_NEAR(c.expectedAngle, item->Angle, 1e-12) << c.name;
    EXPECT_EQ(static_cast<int>((c.x + 3.375 * cos(item->Angle)) * 1000), item->X) << c.name;
    EXPECT_EQ(static_cast<int>((c.y + 3.375 * sin(item->Angle)) * 1000), item->Y) << c.name;
    ctl.Destroy();
  }
}

TEST_F(ItemTest, BouncingStopsAfterEighteenHundredFrames) {
  CItem* item = Make(ITEM_MAGIC, 400, 300);
  item->Work[ITEM_WORK_STARTED] = 1;
  item->FrameCount = 1800;
  item->X = 748000;
  item->Angle = 0;
  ctl.Update();
  EXPECT_DOUBLE_EQ(0, item->Angle);
  EXPECT_EQ(nullptr, ctl.Head) << "it flew out and was removed";
}

// ------------------------------------------------------------ pick-up

TEST_F(ItemTest, PickUpAsksThePlayerAndRemovesTheItem) {
  CItem* item = Make(ITEM_SEED_2, 401, 302);
  FakeCharMessenger touching;
  touching.Damage = 1000;
  ClearCalls();
  ctl.CheckPickUpBy(&touching);
  ASSERT_EQ(1u, touching.Queries.size());
  const HitQuery& q = touching.Queries[0];
  EXPECT_EQ(CHAR_KIND_ITEM, q.Kind);
  EXPECT_EQ(CHAR_SHAPE_CIRCLE, q.Shape);
  EXPECT_EQ(401, q.X);
  EXPECT_EQ(302, q.Y);
  EXPECT_EQ(17, q.Radius);
  EXPECT_FALSE(q.HasBox);
  EXPECT_FALSE(q.HasFirst);
  EXPECT_TRUE(q.HasSecond);
  EXPECT_TRUE(item->Dead);
  EXPECT_EQ(std::vector<std::string>({SoundCall(5)}), Calls());
  ctl.Update();
  EXPECT_EQ(nullptr, ctl.Head);
}

TEST_F(ItemTest, NoTouchNoPickUp) {
  CItem* item = Make(ITEM_QUINSEL, 400, 300);
  FakeCharMessenger missing;
  ctl.CheckPickUpBy(&missing);
  EXPECT_FALSE(item->Dead);
  EXPECT_EQ(1, item->HitPoints);
  EXPECT_EQ(0, Field(STATUS_ITEM_COUNT));
  EXPECT_EQ(0, CountOf("PlaySoundHandle"));
}

TEST_F(ItemTest, QuinselScoresByLivesFeedsTheGaugeAndCounts) {
  StatusInstance.SetStatusField(1, STATUS_LIVES, 3);
  StatusInstance.AddScore(1, 100);
  StatusInstance.HighScore = 120;
  StatusInstance.SetStatusField(1, STATUS_GAUGE, 29990);
  Make(ITEM_QUINSEL, 400, 300);
  PickUp();
  EXPECT_EQ(130, StatusInstance.GetScore(1)) << "3 lives: 30 points";
  EXPECT_EQ(130, Field(STATUS_HIGH_SCORE)) << "the high score follows";
  EXPECT_EQ(30000, Field(STATUS_GAUGE)) << "the gauge stops at its limit";
  EXPECT_EQ(1, Field(STATUS_ITEM_COUNT));
  EXPECT_EQ(1, StatusInstance.PopupTimer) << "the count's rise starts the pop-up";

  StatusInstance.SetStatusField(1, STATUS_LIVES, 5);
  Make(ITEM_FLASH_QUINSEL, 400, 300);
  PickUp();
  EXPECT_EQ(180, StatusInstance.GetScore(1));
  EXPECT_EQ(2, Field(STATUS_ITEM_COUNT));
}

TEST_F(ItemTest, HighScoreStaysWhenNotBeaten) {
  StatusInstance.HighScore = 5000;
  Make(ITEM_QUINSEL, 400, 300);
  PickUp();
  EXPECT_EQ(50, StatusInstance.GetScore(1));
  EXPECT_EQ(5000, Field(STATUS_HIGH_SCORE));
  EXPECT_EQ(20032, Field(STATUS_GAUGE));
}

TEST_F(ItemTest, SeedsAddOptionsUpToFour) {
  StatusInstance.SetStatusField(1, STATUS_OPTION_COUNT, 2);
  Make(ITEM_SEED, 400, 300);
  PickUp();
  EXPECT_EQ(3, Field(STATUS_OPTION_COUNT));
  EXPECT_EQ(std::vector<int>({1}), player.AddedOptions);

  StatusInstance.SetStatusField(1, STATUS_OPTION_COUNT, 4);
  CItem* fifth = Make(ITEM_SEED, 400, 300);
  PickUp();
  EXPECT_EQ(4, Field(STATUS_OPTION_COUNT));
  EXPECT_EQ(1u, player.AddedOptions.size()) << "no fifth option";
  EXPECT_TRUE(fifth->Dead) << "but the item is still taken";
}

TEST_F(ItemTest, SecondSeedsCountUpToFour) {
  for (int i = 0; i < 6; ++i) {
    Make(ITEM_SEED_2, 400, 300);
    PickUp();
  }
  EXPECT_EQ(4, Field(STATUS_ITEM_COUNT_2));
  EXPECT_TRUE(player.AddedOptions.empty());
}

TEST_F(ItemTest, MagicItemSetsTheShotTypeFromItsPhase) {
  // Find a cursor whose first-update draw starts the item at phase 0.
  int cursor = 0;
  while (StoredRandomTable[cursor + 1] % 3 != 0) ++cursor;
  RandInstance.RandomCursor = cursor;
  CItem* item = Make(ITEM_MAGIC, 480, 360);
  item->Angle = 0;  // bounces between the side walls only
  for (int i = 0; i < 250; ++i) ctl.Update();
  ASSERT_EQ(item, ctl.Head);
  EXPECT_EQ(250, item->FrameCount);
  PickUp();
  EXPECT_EQ(1, Field(STATUS_SHOT_TYPE));

  StatusInstance.SetStatusField(1, STATUS_SHOT_TYPE, 1);
  CItem* later = Make(ITEM_MAGIC, 480, 360);
  later->Work[ITEM_WORK_STARTED] = 1;
  later->FrameCount = 2 * 240 + 3;
  ctl.Update();
  PickUp();
  EXPECT_EQ(2, Field(STATUS_SHOT_TYPE));
}

TEST_F(ItemTest, UnknownKindsDoNothingWhenTaken) {
  Make(50, 400, 300);
  PickUp();
  EXPECT_EQ(0, StatusInstance.GetScore(1));
  EXPECT_EQ(20000, Field(STATUS_GAUGE));
  EXPECT_EQ(0, Field(STATUS_ITEM_COUNT));
}

// ------------------------------------------------------------ drawing

TEST_F(ItemTest, DrawnOnLayerSixClippedToTheField) {
  CItem* item = Make(ITEM_SEED_2, 400, 300);
  ctl.Update();
  ctl.Draw();
  ASSERT_EQ(1, DrawQueueLayerIndex[5]);
  const DrawEntry& e = DrawQueue[5][0];
  EXPECT_EQ(DRAW_IMAGE, e.Kind);
  EXPECT_EQ(item->X / 1000 - 22, e.X1);
  EXPECT_EQ(item->Y / 1000 - 22, e.Y1);
  EXPECT_EQ(255, e.Alpha);
  EXPECT_EQ(Tile(132, 0), e.Graphic);
  EXPECT_TRUE(e.Clip.Enabled);
  EXPECT_EQ(210, e.Clip.X1);
  EXPECT_EQ(0, e.Clip.Y1);
  EXPECT_EQ(750, e.Clip.X2);
  EXPECT_EQ(720, e.Clip.Y2);
}

}  // namespace
