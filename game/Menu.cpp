#include "Menu.h"

#include <stdio.h>
#include <string.h>

#include "DrawCtl.h"
#include "GameMain.h"
#include "RiDov.h"
#include "Screen.h"
#include "Status.h"

namespace {

enum { TITLE_DECISION_START = 1, TITLE_DECISION_QUIT = 2 };
enum { PAUSE_DECISION_TITLE = 1, PAUSE_DECISION_CONTINUE = 2 };

void CopyText(char* out, const char* text) {
  if (text == nullptr) text = "";
  size_t length = strlen(text);
  if (length > MENU_TEXT_SIZE - 1) length = MENU_TEXT_SIZE - 1;
  memcpy(out, text, length);
  out[length] = '\0';
}

MenuLayoutRow Row(int level, const char* attributes, const char* label, int y, int decision, const char* tag) {
  MenuLayoutRow row = {};
  row.Level = level;
  snprintf(row.Attributes, sizeof row.Attributes, "%s", attributes);
  CopyText(row.Label, label);
  row.Y = y;
  row.Decision = decision;
  CopyText(row.Tag, tag);
  return row;
}

bool Selectable(const MenuElement* e) { return e->NotSelectable == 0; }

MenuElement* FirstSibling(MenuElement* e) {
  while (e->PrevSibling != nullptr) e = e->PrevSibling;
  return e;
}

// The nearest selectable sibling before e, else the last selectable one
// after it, else the first sibling.
MenuElement* SiblingBefore(MenuElement* e) {
  for (MenuElement* p = e->PrevSibling; p != nullptr; p = p->PrevSibling)
    if (Selectable(p)) return p;
  MenuElement* last = nullptr;
  for (MenuElement* n = e->NextSibling; n != nullptr; n = n->NextSibling)
    if (Selectable(n)) last = n;
  return last != nullptr ? last : FirstSibling(e);
}

// The nearest selectable sibling after e, else the parent's first child.
MenuElement* SiblingAfter(MenuElement* e) {
  for (MenuElement* n = e->NextSibling; n != nullptr; n = n->NextSibling)
    if (Selectable(n)) return n;
  return e->Parent != nullptr ? e->Parent->FirstChild : e;
}

// Applies the comma-separated attribute words of a row.
void ApplyAttributes(MenuElement* e, const char* attributes) {
  char words[MENU_ATTRIBUTE_SIZE];
  snprintf(words, sizeof words, "%s", attributes);
  int count = 0;
  char* start = words;
  while (start != nullptr && count < MENU_MAX_WORDS) {
    char* comma = strchr(start, ',');
    if (comma != nullptr) *comma = '\0';
    while (*start == ' ') ++start;
    for (char* end = start + strlen(start); end > start && end[-1] == ' '; --end) end[-1] = '\0';
    ++count;
    if (strcmp(start, "select") == 0) {
      e->Kind = MENU_KIND_SELECT;
    } else if (strcmp(start, "tab") == 0) {
      e->Kind = MENU_KIND_TAB;
    } else if (strcmp(start, "tab_noselect_show") == 0) {
      e->TabShowsUnselectable = 1;
    } else if (strcmp(start, "self_noselect") == 0) {
      e->NotSelectable = 1;
    } else if (strstr(start, "fontsize") != nullptr) {
      // A size missing from the table leaves the current index.
      int size = 0;
      if (sscanf(start, "fontsize%d", &size) == 1)
        for (int i = 0; i < FONT_SIZE_COUNT; ++i)
          if (FontSizeTable[i] == size) e->FontSizeIndex = i;
    }
    start = comma != nullptr ? comma + 1 : nullptr;
  }
}

void DrawElementImageOrText(int image, const char* label, int x, int y, int color, int fontSizeIndex) {
  if (image != 0) QueueImage(MENU_LAYER, x, y, image, 255);
  else if (label[0] != '\0') DrawCenteredMenuText(label, x, y, color, fontSizeIndex);
}

// The cursor and every not-selectable element in the cursor look; the others
// in the other look unless hidden.
void DrawMenuElement(const MenuElement* e, bool isCursor) {
  bool cursorLook = isCursor || !Selectable(e);
  if (!cursorLook && (e->Hidden == 1 || e->HiddenUnlessCursor == 1)) return;
  int color = cursorLook ? e->CursorColor : e->OtherColor;
  DrawElementImageOrText(cursorLook ? e->CursorImage : e->OtherImage, e->Label, e->X, e->Y, color, e->FontSizeIndex);
  DrawElementImageOrText(cursorLook ? e->CursorImage2 : e->OtherImage2, e->Label2, e->X2, e->Y2, color,
                         e->FontSizeIndex);
}

void DeleteTree(MenuElement* e) {
  while (e != nullptr) {
    MenuElement* next = e->NextSibling;
    DeleteTree(e->FirstChild);
    delete e;
    e = next;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Layout

void ParseMenuLayout(CBaseMenuSelect* list, const MenuLayoutRow* rows) {
  list->Clear();
  MenuElement* previous = nullptr;
  int previousLevel = 0;
  for (const MenuLayoutRow* row = rows; row->Level != 0; ++row) {
    MenuElement* e = new MenuElement();
    e->FontSizeIndex = MENU_DEFAULT_FONT_SIZE;
    ApplyAttributes(e, row->Attributes);
    CopyText(e->Label, row->Label);
    CopyText(e->Tag, row->Tag);
    e->Hidden = row->Hidden;
    e->CursorImage = row->CursorImage;
    e->OtherImage = row->OtherImage;
    e->HiddenUnlessCursor = row->HiddenUnlessCursor;
    e->X = row->X;
    e->Y = row->Y;
    e->Decision = row->Decision;
    e->CursorColor = MENU_CURSOR_COLOR;
    e->OtherColor = MENU_OTHER_COLOR;

    if (previous == nullptr) {
      list->Root = e;
    } else if (row->Level > previousLevel) {
      e->Parent = previous;
      previous->FirstChild = e;
      previous->Remembered = e;
    } else {
      // Same level: a next sibling; shallower: climb to that level first.
      MenuElement* sibling = previous;
      for (int climb = previousLevel - row->Level; climb > 0 && sibling->Parent != nullptr; --climb)
        sibling = sibling->Parent;
      if (sibling->Parent == nullptr) {
        // A second root-level row has nowhere to go.
        delete e;
        continue;
      }
      e->Parent = sibling->Parent;
      e->PrevSibling = sibling;
      sibling->NextSibling = e;
    }
    previous = e;
    previousLevel = row->Level;
  }

  MenuElement* root = list->Root;
  if (root == nullptr) return;
  if (root->Kind == MENU_KIND_SELECT) {
    root->Remembered = root->FirstChild;
    list->Cursor = root->FirstChild;
  } else if (root->Kind == MENU_KIND_TAB) {
    root->Remembered = root->FirstChild;
    MenuElement* tab = root->FirstChild;
    list->Cursor = tab == nullptr ? nullptr : tab->Remembered != nullptr ? tab->Remembered : tab;
  } else {
    list->Cursor = root->FirstChild;
  }
  if (list->Cursor == nullptr) list->Cursor = root;
}

void DrawCenteredMenuText(const char* text, int x, int y, int color, int fontSizeIndex) {
  int font = GetCachedFont(fontSizeIndex, 0);
  int width = MeasureTextWidth(text, static_cast<int>(strlen(text)), font, 0);
  if (x == 0) x = (SCREEN_WIDTH - width) / 2;
  char buffer[DRAW_TEXT_BUFFER_SIZE];
  FormatDrawText(buffer, "%s", text);
  if (color != MENU_OTHER_COLOR) QueueText(MENU_LAYER, buffer, x + 2, y + 2, MENU_OTHER_COLOR, fontSizeIndex, 0);
  QueueText(MENU_LAYER, buffer, x, y, color, fontSizeIndex, 0);
}

// ---------------------------------------------------------------------------
// Menu list

CBaseMenuSelect::CBaseMenuSelect()
    : Lock(false), Decision(0), Root(nullptr), Cursor(nullptr), Owner(nullptr), Shown(false), AlwaysShown(false) {}

CBaseMenuSelect::~CBaseMenuSelect() { Clear(); }

void CBaseMenuSelect::Clear() {
  DeleteTree(Root);
  Root = nullptr;
  Cursor = nullptr;
}

void CBaseMenuSelect::MoveUp() {
  if (Cursor == nullptr) return;
  Cursor = SiblingBefore(Cursor);
  if (Cursor->Parent != nullptr) Cursor->Parent->Remembered = Cursor;
}

void CBaseMenuSelect::MoveDown() {
  if (Cursor == nullptr) return;
  Cursor = SiblingAfter(Cursor);
  if (Cursor->Parent != nullptr) Cursor->Parent->Remembered = Cursor;
}

void CBaseMenuSelect::PreviousTab() {
  if (Root == nullptr || Root->Kind != MENU_KIND_TAB || Root->Remembered == nullptr) return;
  MenuElement* tab = SiblingBefore(Root->Remembered);
  Root->Remembered = tab;
  Cursor = tab->Remembered != nullptr ? tab->Remembered : tab;
}

void CBaseMenuSelect::NextTab() {
  if (Root == nullptr || Root->Kind != MENU_KIND_TAB || Root->Remembered == nullptr) return;
  MenuElement* tab = SiblingAfter(Root->Remembered);
  Root->Remembered = tab;
  Cursor = tab->Remembered != nullptr ? tab->Remembered : tab;
}

void CBaseMenuSelect::Back() {
  if (Cursor == nullptr) return;
  MenuElement* parent = Cursor->Parent;
  if (parent == nullptr || parent == Root) return;
  if (Root->Kind == MENU_KIND_TAB && parent->Parent == Root) return;
  Cursor = parent;
}

bool CBaseMenuSelect::Select() {
  if (Cursor == nullptr) return false;
  if (Cursor->FirstChild != nullptr) {
    Cursor = Cursor->Remembered != nullptr ? Cursor->Remembered : Cursor->FirstChild;
    return false;
  }
  if (Cursor->Decision != 0) Decision = Cursor->Decision;
  return true;
}

void CBaseMenuSelect::ExecuteCommand(int command) {
  switch (command) {
    case MENU_COMMAND_UP: MoveUp(); break;
    case MENU_COMMAND_DOWN: MoveDown(); break;
    case MENU_COMMAND_PREVIOUS_TAB: PreviousTab(); break;
    case MENU_COMMAND_NEXT_TAB: NextTab(); break;
    case MENU_COMMAND_SELECT: Select(); break;
    case MENU_COMMAND_BACK: Back(); break;
    default: break;
  }
}

void CBaseMenuSelect::Draw() {
  if (!Shown || Root == nullptr) return;
  if (Root->Kind == MENU_KIND_TAB) {
    // The tabs, then the elements of the current tab.
    MenuElement* current = Root->Remembered;
    for (MenuElement* tab = Root->FirstChild; tab != nullptr; tab = tab->NextSibling)
      DrawMenuElement(tab, tab == current);
    if (current == nullptr) return;
    for (MenuElement* e = current->FirstChild; e != nullptr; e = e->NextSibling) {
      if (!Selectable(e) && current->TabShowsUnselectable == 0 && e != Cursor) continue;
      DrawMenuElement(e, e == Cursor);
    }
    return;
  }
  if (Cursor == nullptr || Cursor->Parent == nullptr || Cursor->Parent->Kind != MENU_KIND_SELECT) return;
  for (MenuElement* e = Cursor->Parent->FirstChild; e != nullptr; e = e->NextSibling) DrawMenuElement(e, e == Cursor);
}

// ---------------------------------------------------------------------------
// Title and pause menus

void CMenuSelectTop::Init() {
  const MenuLayoutRow rows[] = {
      Row(1, "select", "", 200, 0, ""),
      Row(2, "", "GAME START", 350, TITLE_DECISION_START, "story"),
      Row(2, "", "QUIT", 375, TITLE_DECISION_QUIT, "end"),
      Row(0, "", "", 0, 0, ""),
  };
  ParseMenuLayout(this, rows);
  AlwaysShown = true;
}

void CMenuSelectTop::ExecuteCommand(int command) {
  switch (command) {
    case MENU_COMMAND_SHOW: Shown = true; break;
    case MENU_COMMAND_HIDE: Shown = false; break;
    case MENU_COMMAND_SELECT:
      // The title moves on after a choice, as "down" would, when it can.
      if (Select() && Cursor->NextSibling != nullptr) MoveDown();
      break;
    default: CBaseMenuSelect::ExecuteCommand(command); break;
  }
}

void CMenuSelectTop::Decide() {
  if (Owner != nullptr) {
    if (Decision == TITLE_DECISION_START) {
      Owner->RequestScene(SCENE_PLAY);
      RandInstance.RandomCursor = (RandInstance.FrameCounter / 60) % 4;
    } else if (Decision == TITLE_DECISION_QUIT) {
      Owner->RequestQuit();
    }
  }
  Decision = 0;
}

void CMenuSelectPlay::Init() {
  const MenuLayoutRow rows[] = {
      Row(1, "select", "", 200, 0, ""),
      Row(2, "", "つづける", 200, PAUSE_DECISION_CONTINUE, ""),
      Row(2, "", "タイトルにもどる", 225, PAUSE_DECISION_TITLE, ""),
      Row(0, "", "", 0, 0, ""),
  };
  ParseMenuLayout(this, rows);
}

void CMenuSelectPlay::ExecuteCommand(int command) {
  switch (command) {
    case MENU_COMMAND_SHOW:
      // The music stops but stays the current music, to resume where it was.
      if (Owner != nullptr) Owner->SetPause(true);
      if (CurrentMusicHandle != NO_MUSIC) StopSoundHandle(CurrentMusicHandle);
      Shown = true;
      break;
    case MENU_COMMAND_HIDE:
      if (Owner != nullptr) Owner->SetPause(false);
      if (CurrentMusicHandle != NO_MUSIC) PlaySoundHandle(CurrentMusicHandle, PLAY_TYPE_LOOP, 0);
      Shown = false;
      break;
    default: CBaseMenuSelect::ExecuteCommand(command); break;
  }
}

void CMenuSelectPlay::Decide() {
  if (Owner != nullptr) {
    if (Decision == PAUSE_DECISION_TITLE) Owner->RequestScene(SCENE_TITLE);
    else if (Decision == PAUSE_DECISION_CONTINUE) Owner->PostMenuCommand(MENU_COMMAND_HIDE);
  }
  Decision = 0;
}

// ---------------------------------------------------------------------------
// Controller

void ReadMenuKeys(int slots[MENU_KEY_SLOTS]) {
  for (int i = 0; i < MENU_KEY_SLOTS; ++i) slots[i] = 0;
  if (KeyTaskInstance.InputLock) return;
  slots[0] = KeyTaskInstance.Counter(7);
  slots[1] = KeyTaskInstance.Counter(0);
  slots[2] = KeyTaskInstance.Counter(2);
  slots[5] = KeyTaskInstance.Counter(4);
  slots[6] = KeyTaskInstance.Counter(5);
}

CMenuCtl::CMenuCtl(int sceneId, CScreenMessenger* screen)
    : List(nullptr), Screen(screen), PostedCommand(MENU_COMMAND_NONE) {
  if (sceneId == SCENE_TITLE) List = new CMenuSelectTop();
  else if (sceneId == SCENE_PLAY) List = new CMenuSelectPlay();
  if (List == nullptr) return;
  List->Owner = this;
  List->Init();
}

CMenuCtl::~CMenuCtl() { delete List; }

void CMenuCtl::Update() {
  if (List == nullptr) return;
  int keys[MENU_KEY_SLOTS];
  ReadMenuKeys(keys);
  int command = MENU_COMMAND_NONE;
  if (PostedCommand != MENU_COMMAND_NONE) {
    for (int& k : keys) k = 0;
    if (PostedCommand >= 0 && PostedCommand < MENU_KEY_SLOTS) keys[PostedCommand] = 1;
    command = PostedCommand;
    PostedCommand = MENU_COMMAND_NONE;
  }

  if (List->Lock) {
    if (List->Shown) command = MENU_COMMAND_HIDE;
  } else if (List->AlwaysShown && !List->Shown) {
    command = MENU_COMMAND_SHOW;
  } else if (keys[0] == 1) {
    command = List->Shown ? MENU_COMMAND_HIDE : MENU_COMMAND_SHOW;
  } else if (List->Shown) {
    for (int slot = 1; slot <= 6; ++slot) {
      if (keys[slot] == 1) {
        command = slot;
        break;
      }
    }
  }

  List->ExecuteCommand(command);
  List->Decide();
}

void CMenuCtl::Draw() {
  if (List != nullptr) List->Draw();
}

void CMenuCtl::RequestScene(int sceneId) {
  if (Screen != nullptr) Screen->RequestScene(sceneId);
}

void CMenuCtl::PostMenuCommand(int command) { PostedCommand = command; }

void CMenuCtl::SetPause(bool paused) {
  if (Screen != nullptr) Screen->SetPause(paused);
}

void CMenuCtl::RequestQuit() {
  if (Screen != nullptr) Screen->RequestQuit();
}
