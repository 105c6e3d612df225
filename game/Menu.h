// Menus: the menu controller of a scene, menu lists built from layout rows,
// key-to-command mapping, cursor moves and the title and pause menus.
#ifndef GAME_MENU_H
#define GAME_MENU_H

#include "Task.h"

enum {
  MENU_TEXT_SIZE = 64,        // tag and label bytes, NUL included
  MENU_ATTRIBUTE_SIZE = 128,  // attribute words of a layout row
  MENU_MAX_WORDS = 10,        // attribute words read from one row
  MENU_KEY_SLOTS = 8,
};

// Menu commands; MENU_COMMAND_NONE is "no command".
enum {
  MENU_COMMAND_SHOW = 0,
  MENU_COMMAND_UP = 1,
  MENU_COMMAND_DOWN = 2,
  MENU_COMMAND_PREVIOUS_TAB = 3,
  MENU_COMMAND_NEXT_TAB = 4,
  MENU_COMMAND_SELECT = 5,
  MENU_COMMAND_BACK = 6,
  MENU_COMMAND_HIDE = 7,
  MENU_COMMAND_NONE = 8,
};

// Element kinds.
enum { MENU_KIND_PLAIN = 0, MENU_KIND_SELECT = 1, MENU_KIND_TAB = 2 };

enum {
  MENU_LAYER = 9,
  MENU_DEFAULT_FONT_SIZE = 2,
  MENU_CURSOR_COLOR = 0xFFFFFF,
  MENU_OTHER_COLOR = 0x303030,
};

// One node of a menu tree; owned by its list.
struct MenuElement {
  char Tag[MENU_TEXT_SIZE];    // kept, never shown
  char Label[MENU_TEXT_SIZE];  // the text shown
  int Hidden;                  // 1: not drawn unless it is the cursor
  int FontSizeIndex;           // into FontSizeTable
  int CursorColor, OtherColor;
  int CursorImage, OtherImage;  // graphic handles, 0 = draw the label
  int HiddenUnlessCursor;
  // A second text and image pair drawn after the first when present.
  char Label2[MENU_TEXT_SIZE];
  int CursorImage2, OtherImage2;
  int X2, Y2;
  int X, Y;  // px; x 0 centres the text on the screen
  int Decision;
  int Kind;
  MenuElement* Remembered;  // last selected child
  int TabShowsUnselectable;
  int NotSelectable;
  MenuElement* Parent;
  MenuElement* FirstChild;
  MenuElement* PrevSibling;
  MenuElement* NextSibling;
};

// Input of ParseMenuLayout; an array ends with a row of level 0.
struct MenuLayoutRow {
  int Level;                             // 1 the root, 2 its children, ...
  char Attributes[MENU_ATTRIBUTE_SIZE];  // comma-separated words
  char Label[MENU_TEXT_SIZE];
  int Hidden;
  int CursorImage;
  int OtherImage;
  int HiddenUnlessCursor;
  int X, Y;
  int Decision;
  char Tag[MENU_TEXT_SIZE];
};

// A menu list: a tree of elements, a cursor and a decision code.
class CBaseMenuSelect : public CTask {
 public:
  CBaseMenuSelect();
  ~CBaseMenuSelect() override;
  void Init() override = 0;  // builds the tree
  void Final() override {}
  void Update() override {}
  void Draw() override;
  virtual void Decide() = 0;
  virtual void ExecuteCommand(int command);

  // Cursor moves among the cursor's siblings.
  void MoveUp();
  void MoveDown();
  void PreviousTab();
  void NextTab();
  void Back();
  // Enters an element with children; a leaf hands over its decision code.
  // True when a leaf was selected.
  bool Select();

  // Deletes every element.
  void Clear();

  bool Lock;     // set and cleared with the key task's input lock
  int Decision;  // 0 none
  MenuElement* Root;
  MenuElement* Cursor;
  CMenuCtlMessenger* Owner;
  bool Shown;
  bool AlwaysShown;
};

// Builds list's tree from rows (ended by level 0); replaces any tree it had.
void ParseMenuLayout(CBaseMenuSelect* list, const MenuLayoutRow* rows);

// Queues text on the menu layer with a shadow unless the colour is the
// shadow colour; x 0 centres it on the 960-pixel screen.
void DrawCenteredMenuText(const char* text, int x, int y, int color, int fontSizeIndex);

// The title menu: GAME START and QUIT, always shown.
class CMenuSelectTop : public CBaseMenuSelect {
 public:
  void Init() override;
  void Decide() override;
  void ExecuteCommand(int command) override;
};

// The pause menu of the play scene: つづける and タイトルにもどる.
class CMenuSelectPlay : public CBaseMenuSelect {
 public:
  void Init() override;
  void Decide() override;
  void ExecuteCommand(int command) override;
};

// Key snapshot of a menu: slot 0 menu key, 1 up, 2 down, 5 decide, 6 back;
// all 0 while the key task's input is locked.
void ReadMenuKeys(int slots[MENU_KEY_SLOTS]);

// A scene's menu: owns its list and turns keys into commands.
class CMenuCtl : public CTask, public CMenuCtlMessenger {
 public:
  // Scene 1 the title menu, 2 the pause menu, anything else no list.
  CMenuCtl(int sceneId, CScreenMessenger* screen);
  ~CMenuCtl() override;
  void Update() override;
  void Draw() override;

  void RequestScene(int sceneId) override;
  void PostMenuCommand(int command) override;
  void SetPause(bool paused) override;
  void RequestQuit() override;

  CBaseMenuSelect* List;
  CScreenMessenger* Screen;
  int PostedCommand;  // MENU_COMMAND_NONE when nothing is posted
};

#endif  // GAME_MENU_H
