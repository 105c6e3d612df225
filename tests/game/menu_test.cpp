#include <string.h>

#include "EnemyDoubles.h"
#include "GameFixture.h"
#include "Menu.h"

using namespace ridov_double;
using enemy_doubles::FakeScreen;

namespace {

MenuLayoutRow LayoutRow(int level, const char* attributes, const char* label, int decision = 0) {
  MenuLayoutRow row = {};
  row.Level = level;
  strcpy(row.Attributes, attributes);
  strcpy(row.Label, label);
  row.Decision = decision;
  return row;
}

// A list with a layout given by the test.
class TestList : public CBaseMenuSelect {
 public:
  void Init() override {}
  void Decide() override {}
};

std::vector<std::string> Labels(const MenuElement* first) {
  std::vector<std::string> out;
  for (const MenuElement* e = first; e != nullptr; e = e->NextSibling) out.push_back(e->Label);
  return out;
}

// Text entries of the menu layer: "text@x,y#colour".
std::vector<std::string> MenuTexts() {
  std::vector<std::string> out;
  for (int i = 0; i < DrawQueueLayerIndex[MENU_LAYER - 1]; ++i) {
    const DrawEntry& e = DrawQueue[MENU_LAYER - 1][i];
    out.push_back(std::string(e.Text) + "@" + std::to_string(e.X1) + "," + std::to_string(e.Y1) + "#" + Hex(e.Color));
  }
  return out;
}

class MenuTest : public GameTest {
 protected:
  void Press(int key) { KeyTaskInstance.Keys[key].Counter = 1; }
  void ReleaseAll() {
    for (auto& k : KeyTaskInstance.Keys) k.Counter = 0;
  }
  // One update with `key` just pressed (or none for -1).
  void Frame(CMenuCtl& menu, int key = -1) {
    ReleaseAll();
    if (key >= 0) Press(key);
    menu.Update();
    ReleaseAll();
  }

  FakeScreen screen;
};

TEST_F(MenuTest, LayoutsBuildTheTitleAndPauseTrees) {
  CMenuCtl title(1, &screen);
  CBaseMenuSelect* list = title.List;
  ASSERT_NE(nullptr, list);
  EXPECT_EQ(MENU_KIND_SELECT, list->Root->Kind);
  EXPECT_EQ(200, list->Root->Y);
  EXPECT_EQ((std::vector<std::string>{"GAME START", "QUIT"}), Labels(list->Root->FirstChild));
  const MenuElement* start = list->Root->FirstChild;
  EXPECT_EQ(list->Cursor, start);
  EXPECT_EQ(list->Root->Remembered, start);
  EXPECT_STREQ("story", start->Tag);
  EXPECT_STREQ("end", start->NextSibling->Tag);
  EXPECT_EQ(350, start->Y);
  EXPECT_EQ(375, start->NextSibling->Y);
  EXPECT_EQ(1, start->Decision);
  EXPECT_EQ(2, start->NextSibling->Decision);
  EXPECT_EQ(MENU_DEFAULT_FONT_SIZE, start->FontSizeIndex);
  EXPECT_EQ(0xFFFFFF, start->CursorColor);
  EXPECT_EQ(0x303030, start->OtherColor);
  EXPECT_TRUE(list->AlwaysShown);
  EXPECT_FALSE(list->Shown);

  CMenuCtl pause(2, &screen);
  EXPECT_EQ((std::vector<std::string>{"つづける", "タイトルにもどる"}), Labels(pause.List->Root->FirstChild));
  EXPECT_EQ(2, pause.List->Root->FirstChild->Decision);
  EXPECT_EQ(225, pause.List->Root->FirstChild->NextSibling->Y);
  EXPECT_FALSE(pause.List->AlwaysShown);
  EXPECT_FALSE(pause.List->Shown);
  EXPECT_EQ(MENU_COMMAND_NONE, pause.PostedCommand);

  CMenuCtl none(3, &screen);
  EXPECT_EQ(nullptr, none.List);
  none.Update();
  none.Draw();
}

TEST_F(MenuTest, AttributeWordsAndLevelsLinkTheTree) {
  const MenuLayoutRow rows[] = {
      LayoutRow(1, "tab", "root"),
      LayoutRow(2, "select,fontsize30", "tab A"),
      LayoutRow(3, " self_noselect , fontsize31", "a1"),
      LayoutRow(3, "fontsize 20,unknown", "a2"),
      LayoutRow(2, "tab_noselect_show", "tab B"),
      LayoutRow(3, "", "b1"),
      LayoutRow(4, "fontsize90", "b1x"),
      LayoutRow(2, "", "tab C"),
      LayoutRow(0, "", ""),
  };
  TestList list;
  ParseMenuLayout(&list, rows);
  MenuElement* root = list.Root;
  EXPECT_EQ(MENU_KIND_TAB, root->Kind);
  EXPECT_EQ((std::vector<std::string>{"tab A", "tab B", "tab C"}), Labels(root->FirstChild));
  MenuElement* tabA = root->FirstChild;
  MenuElement* tabB = tabA->NextSibling;
  EXPECT_EQ(MENU_KIND_SELECT, tabA->Kind);
  EXPECT_EQ(4, tabA->FontSizeIndex);  // 30 px
  EXPECT_EQ((std::vector<std::string>{"a1", "a2"}), Labels(tabA->FirstChild));
  EXPECT_EQ(1, tabA->FirstChild->NotSelectable);
  EXPECT_EQ(MENU_DEFAULT_FONT_SIZE, tabA->FirstChild->FontSizeIndex);  // 31 is no table size
  EXPECT_EQ(MENU_DEFAULT_FONT_SIZE, tabA->FirstChild->NextSibling->FontSizeIndex);
  EXPECT_EQ(1, tabB->TabShowsUnselectable);
  EXPECT_EQ(12, tabB->FirstChild->FirstChild->FontSizeIndex);  // 90 px
  EXPECT_EQ(tabB, tabB->FirstChild->Parent);
  EXPECT_EQ(root, tabB->NextSibling->Parent);  // level 4 back to 2 climbs two parents
  // The tab root remembers its first tab; the cursor is that tab's first child.
  EXPECT_EQ(tabA, root->Remembered);
  EXPECT_EQ(tabA->FirstChild, list.Cursor);

  list.ExecuteCommand(MENU_COMMAND_NEXT_TAB);
  EXPECT_EQ(tabB, root->Remembered);
  EXPECT_STREQ("b1", list.Cursor->Label);
  list.ExecuteCommand(MENU_COMMAND_PREVIOUS_TAB);
  list.ExecuteCommand(MENU_COMMAND_PREVIOUS_TAB);  // wraps to the last tab
  EXPECT_STREQ("tab C", root->Remembered->Label);
  EXPECT_STREQ("tab C", list.Cursor->Label);   // a tab without children
  list.ExecuteCommand(MENU_COMMAND_NEXT_TAB);  // wraps to the first
  EXPECT_EQ(tabA, root->Remembered);

  // Select enters b1, back climbs out again, but never to a tab itself.
  list.ExecuteCommand(MENU_COMMAND_NEXT_TAB);
  list.ExecuteCommand(MENU_COMMAND_SELECT);
  EXPECT_STREQ("b1x", list.Cursor->Label);
  list.ExecuteCommand(MENU_COMMAND_BACK);
  EXPECT_STREQ("b1", list.Cursor->Label);
  list.ExecuteCommand(MENU_COMMAND_BACK);
  EXPECT_STREQ("b1", list.Cursor->Label);
}

TEST_F(MenuTest, CursorMovesSkipUnselectableAndWrap) {
  const MenuLayoutRow rows[] = {
      LayoutRow(1, "select", ""),
      LayoutRow(2, "self_noselect", "head"),
      LayoutRow(2, "", "one"),
      LayoutRow(2, "self_noselect", "gap"),
      LayoutRow(2, "", "two"),
      LayoutRow(2, "", "three"),
      LayoutRow(2, "self_noselect", "tail"),
      LayoutRow(0, "", ""),
  };
  struct Case {
    const char* from;
    int command;
    const char* to;
  } cases[] = {
      {"one", MENU_COMMAND_DOWN, "two"},                                        // skips the unselectable gap
      {"two", MENU_COMMAND_UP, "one"},      {"one", MENU_COMMAND_UP, "three"},  // wraps to the last selectable
      {"three", MENU_COMMAND_DOWN, "head"},  // wraps to the first child, selectable or not
      {"head", MENU_COMMAND_DOWN, "one"},
  };
  for (const Case& c : cases) {
    TestList list;
    ParseMenuLayout(&list, rows);
    for (MenuElement* e = list.Root->FirstChild; e != nullptr; e = e->NextSibling)
      if (strcmp(e->Label, c.from) == 0) list.Cursor = e;
    list.ExecuteCommand(c.command);
    EXPECT_STREQ(c.to, list.Cursor->Label) << c.from << " " << c.command;
    EXPECT_EQ(list.Cursor, list.Root->Remembered) << c.from;
  }

  // Only unselectable siblings: up goes to the first one.
  const MenuLayoutRow lone[] = {LayoutRow(1, "select", ""), LayoutRow(2, "self_noselect", "a"),
                                LayoutRow(2, "self_noselect", "b"), LayoutRow(0, "", "")};
  TestList list;
  ParseMenuLayout(&list, lone);
  list.Cursor = list.Root->FirstChild->NextSibling;
  list.ExecuteCommand(MENU_COMMAND_UP);
  EXPECT_STREQ("a", list.Cursor->Label);
}

TEST_F(MenuTest, TitleCursorWrapsBothWays) {
  CMenuCtl menu(1, &screen);
  Frame(menu);  // shows the always-shown menu
  EXPECT_TRUE(menu.List->Shown);
  Frame(menu, 2);
  EXPECT_STREQ("QUIT", menu.List->Cursor->Label);
  Frame(menu, 2);
  EXPECT_STREQ("GAME START", menu.List->Cursor->Label);
  Frame(menu, 0);
  EXPECT_STREQ("QUIT", menu.List->Cursor->Label);
  Frame(menu, 0);
  EXPECT_STREQ("GAME START", menu.List->Cursor->Label);
  // A held key (counter above 1) does not repeat.
  KeyTaskInstance.Keys[2].Counter = 2;
  menu.Update();
  EXPECT_STREQ("GAME START", menu.List->Cursor->Label);
}

TEST_F(MenuTest, TitleMenuKeyHidesForOneFrame) {
  CMenuCtl menu(1, &screen);
  Frame(menu);
  EXPECT_TRUE(menu.List->Shown);
  Frame(menu, 7);
  EXPECT_FALSE(menu.List->Shown);
  Frame(menu);
  EXPECT_TRUE(menu.List->Shown);
  // Keys other than the menu key do nothing while it is hidden.
  Frame(menu, 7);
  Frame(menu, 2);
  EXPECT_TRUE(menu.List->Shown);
  EXPECT_STREQ("GAME START", menu.List->Cursor->Label);
}

TEST_F(MenuTest, GameStartAtFrame300SetsTheRandomCursorTo1) {
  CMenuCtl menu(1, &screen);
  Frame(menu);
  RandInstance.FrameCounter = 300;
  RandInstance.RandomCursor = 777;
  ClearCalls();
  Frame(menu, 4);
  EXPECT_EQ(2, screen.Requested);
  EXPECT_EQ(1, RandInstance.RandomCursor);
  EXPECT_EQ((std::vector<std::string>{"Screen.RequestScene(2)"}), Calls());
  EXPECT_EQ(0, menu.List->Decision);
  EXPECT_STREQ("QUIT", menu.List->Cursor->Label);  // the title moves on after a choice

  RandInstance.FrameCounter = 239;
  Frame(menu, 0);
  Frame(menu, 4);
  EXPECT_EQ(3, RandInstance.RandomCursor);
}

TEST_F(MenuTest, QuitRequestsTheEnd) {
  CMenuCtl menu(1, &screen);
  Frame(menu);
  Frame(menu, 2);
  Frame(menu, 4);
  EXPECT_TRUE(screen.Quit);
  EXPECT_EQ(0, screen.Requested);
  EXPECT_STREQ("QUIT", menu.List->Cursor->Label);  // no next sibling: stays
}

TEST_F(MenuTest, PauseAndResumeKeepTheMusic) {
  CurrentMusicHandle = 0x0C000002;
  CMenuCtl menu(2, &screen);
  Frame(menu);
  EXPECT_FALSE(menu.List->Shown);
  EXPECT_EQ(0, CountOf("Screen.SetPause"));

  ClearCalls();
  Frame(menu, 7);
  EXPECT_TRUE(menu.List->Shown);
  EXPECT_TRUE(screen.Paused);
  EXPECT_EQ((std::vector<std::string>{"Screen.SetPause(1)", "StopSoundHandle(201326594)"}), Calls());
  EXPECT_EQ(0x0C000002, CurrentMusicHandle);  // still the current music

  // The menu key closes it again and resumes without restarting.
  ClearCalls();
  Frame(menu, 7);
  EXPECT_FALSE(menu.List->Shown);
  EXPECT_FALSE(screen.Paused);
  EXPECT_EQ((std::vector<std::string>{"Screen.SetPause(0)", "PlaySoundHandle(201326594,3,0)"}), Calls());

  // "つづける" closes it through the posted command on the next frame.
  Frame(menu, 7);
  ClearCalls();
  Frame(menu, 4);
  EXPECT_TRUE(menu.List->Shown);
  EXPECT_EQ(MENU_COMMAND_HIDE, menu.PostedCommand);
  EXPECT_TRUE(Calls().empty());
  Frame(menu);
  EXPECT_FALSE(menu.List->Shown);
  EXPECT_EQ(MENU_COMMAND_NONE, menu.PostedCommand);
  EXPECT_EQ((std::vector<std::string>{"Screen.SetPause(0)", "PlaySoundHandle(201326594,3,0)"}), Calls());
}

TEST_F(MenuTest, PauseWithoutMusicTouchesNoSound) {
  CMenuCtl menu(2, &screen);
  Frame(menu, 7);
  Frame(menu, 7);
  EXPECT_EQ(0, CountOf("StopSoundHandle"));
  EXPECT_EQ(0, CountOf("PlaySoundHandle"));
}

TEST_F(MenuTest, ReturnToTitleFromThePauseMenu) {
  CMenuCtl menu(2, &screen);
  Frame(menu, 7);
  Frame(menu, 2);
  EXPECT_STREQ("タイトルにもどる", menu.List->Cursor->Label);
  Frame(menu, 4);
  EXPECT_EQ(1, screen.Requested);
  EXPECT_STREQ("タイトルにもどる", menu.List->Cursor->Label);  // the pause menu stays put
  EXPECT_TRUE(screen.Paused);
}

TEST_F(MenuTest, LockClosesAShownPauseMenuAndKeepsItClosed) {
  CMenuCtl menu(2, &screen);
  Frame(menu, 7);
  ASSERT_TRUE(menu.List->Shown);
  menu.List->Lock = true;
  KeyTaskInstance.InputLock = true;
  Frame(menu);
  EXPECT_FALSE(menu.List->Shown);
  EXPECT_FALSE(screen.Paused);
  ClearCalls();
  Frame(menu, 7);
  Frame(menu, 7);
  EXPECT_FALSE(menu.List->Shown);
  EXPECT_TRUE(Calls().empty());

  // The list lock alone also keeps the menu key from opening it.
  KeyTaskInstance.InputLock = false;
  Frame(menu, 7);
  EXPECT_FALSE(menu.List->Shown);
  menu.List->Lock = false;
  Frame(menu, 7);
  EXPECT_TRUE(menu.List->Shown);
}

TEST_F(MenuTest, KeySnapshotIsEmptyWhileInputIsLocked) {
  for (int k = 0; k < LOGICAL_KEY_COUNT; ++k) KeyTaskInstance.Keys[k].Counter = 10 + k;
  int slots[MENU_KEY_SLOTS];
  ReadMenuKeys(slots);
  EXPECT_EQ((std::vector<int>{17, 10, 12, 0, 0, 14, 15, 0}), std::vector<int>(slots, slots + 8));
  KeyTaskInstance.InputLock = true;
  ReadMenuKeys(slots);
  EXPECT_EQ(std::vector<int>(8, 0), std::vector<int>(slots, slots + 8));
}

TEST_F(MenuTest, TitleDrawsTheCursorWhiteWithShadowAndTheOtherGrey) {
  SetDefaultResult("MeasureTextWidth", 100);
  CMenuCtl menu(1, &screen);
  menu.Draw();
  EXPECT_EQ(0, DrawQueueLayerIndex[MENU_LAYER - 1]);  // not shown yet
  Frame(menu);
  ClearCalls();
  menu.Draw();
  EXPECT_EQ(
      (std::vector<std::string>{"GAME START@432,352#0x303030", "GAME START@430,350#0xFFFFFF", "QUIT@430,375#0x303030"}),
      MenuTexts());
  // The default size-2 type-0 font measures both texts.
  EXPECT_EQ((std::vector<std::string>{"CreateFontToHandle(null,20,-1,0,-1,-1,0,-1)",
                                      "MeasureTextWidth(\"GAME START\",10,536870913,0)",
                                      "MeasureTextWidth(\"QUIT\",4,536870913,0)"}),
            Calls());
  const DrawEntry& e = DrawQueue[MENU_LAYER - 1][1];
  EXPECT_EQ(DRAW_TEXT, e.Kind);
  EXPECT_EQ(MENU_DEFAULT_FONT_SIZE, e.FontSizeIndex);
  EXPECT_EQ(0, e.FontTypeIndex);
  EXPECT_EQ(255, e.Alpha);
}

TEST_F(MenuTest, HiddenAndImageElementsDraw) {
  MenuLayoutRow rows[] = {
      LayoutRow(1, "select", ""),
      LayoutRow(2, "", "shown"),
      LayoutRow(2, "", "hidden"),
      LayoutRow(2, "", "pic"),
      LayoutRow(2, "self_noselect", "fixed"),
      LayoutRow(0, "", ""),
  };
  rows[1].X = 40;
  rows[2].Hidden = 1;
  rows[2].X = 40;
  rows[3].CursorImage = 71;
  rows[3].OtherImage = 72;
  rows[3].X = 5;
  rows[3].Y = 6;
  rows[4].Hidden = 1;
  rows[4].X = 40;
  TestList list;
  ParseMenuLayout(&list, rows);
  list.Shown = true;
  list.Draw();
  ASSERT_EQ(5, DrawQueueLayerIndex[MENU_LAYER - 1]);
  EXPECT_STREQ("shown", DrawQueue[MENU_LAYER - 1][1].Text);
  EXPECT_EQ(DRAW_IMAGE, DrawQueue[MENU_LAYER - 1][2].Kind);
  EXPECT_EQ(72, DrawQueue[MENU_LAYER - 1][2].Graphic);
  EXPECT_EQ(5, DrawQueue[MENU_LAYER - 1][2].X1);
  // A not-selectable element takes the cursor look even when hidden.
  EXPECT_STREQ("fixed", DrawQueue[MENU_LAYER - 1][4].Text);
  EXPECT_EQ(0xFFFFFF, DrawQueue[MENU_LAYER - 1][4].Color);

  memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);
  list.Cursor = list.Root->FirstChild->NextSibling->NextSibling;
  list.Draw();
  EXPECT_EQ(71, DrawQueue[MENU_LAYER - 1][1].Graphic);  // the cursor image
}

}  // namespace
