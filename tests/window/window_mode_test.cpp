// Window mode, the window's fit to the screen size, the mouse position and
// the cursor's display count, on the library's real window.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "WindowFixture.h"

namespace {

// ShowCursor moves the count by one and returns it: one step each way.
int CursorCount() {
  const int count = ShowCursor(TRUE) - 1;
  ShowCursor(FALSE);
  return count;
}

RECT ClientRectOf(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  return client;
}

using WindowModeTest = StartedWindowTest;

TEST_F(WindowModeTest, SameModeTwiceChangesNothing) {
  RECT before;
  GetWindowRect(window_, &before);
  const LONG style = GetWindowLongA(window_, GWL_STYLE);
  const std::string logBefore = log_.Text();

  EXPECT_EQ(0, ChangeWindowMode(1));
  EXPECT_EQ(0, ChangeWindowMode(1));
  PumpWindowMessages();

  RECT after;
  GetWindowRect(window_, &after);
  EXPECT_TRUE(EqualRect(&before, &after));
  EXPECT_EQ(style, GetWindowLongA(window_, GWL_STYLE));
  const std::string added = log_.Text().substr(logBefore.size());
  EXPECT_EQ("ChangeWindowMode実行 \r\nChangeWindowMode実行 \r\n", added);
  EXPECT_EQ(1, IsWindowedMode());
}

// Whatever size the window is given from outside, the fit on WM_SIZE puts
// the client area back to the screen size.
TEST_F(WindowModeTest, ClientAreaStaysAfterOutsideResize) {
  const SIZE sizes[] = {{500, 400}, {1200, 900}, {961, 721}, {100, 2000}};
  for (const SIZE& size : sizes) {
    SCOPED_TRACE(testing::Message() << size.cx << " x " << size.cy);
    SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    PumpWindowMessages();
    const RECT client = ClientRectOf(window_);
    EXPECT_EQ(960, client.right - client.left);
    EXPECT_EQ(720, client.bottom - client.top);
    EXPECT_EQ(960, WinSys.clientRect.right - WinSys.clientRect.left);
    EXPECT_EQ(720, WinSys.clientRect.bottom - WinSys.clientRect.top);
  }
}

// The stored client rectangle follows a moved window, so the mouse point
// stays relative to the client area.
TEST_F(WindowModeTest, MousePointIsRelativeToTheClientArea) {
  SetWindowPos(window_, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  PumpWindowMessages();
  POINT origin = {0, 0};
  ClientToScreen(window_, &origin);
  ASSERT_EQ(origin.x, WinSys.clientRect.left);
  ASSERT_EQ(origin.y, WinSys.clientRect.top);

  const POINT offsets[] = {{0, 0}, {100, 50}, {959, 719}, {-10, -5}, {1000, 800}};
  for (const POINT& offset : offsets) {
    SCOPED_TRACE(testing::Message() << offset.x << ", " << offset.y);
    ASSERT_TRUE(SetCursorPos(origin.x + offset.x, origin.y + offset.y));
    int x = -12345, y = -12345;
    EXPECT_EQ(0, GetMousePoint(&x, &y));
    EXPECT_EQ(offset.x, x);
    EXPECT_EQ(offset.y, y);
  }
  EXPECT_EQ(0, GetMousePoint(nullptr, nullptr));
}

// Hiding brings the display count to -1 and showing to 0, however often
// either is asked for; the cursor messages keep a hidden cursor hidden.
TEST_F(WindowModeTest, CursorShowAndHideCounting) {
  EXPECT_EQ(0, CursorCount()) << "a window-mode start-up shows the cursor";
  EXPECT_EQ(1, WinSys.cursorShown);

  EXPECT_EQ(0, SetMouseVisibility(0));
  EXPECT_EQ(-1, CursorCount());
  EXPECT_EQ(0, SetMouseVisibility(0));
  EXPECT_EQ(-1, CursorCount()) << "hiding twice counts once";
  for (int i = 0; i < 3; i++) {
    SendMessageA(window_, WM_SETCURSOR, reinterpret_cast<WPARAM>(window_), HTCLIENT);
    SendMessageA(window_, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
  }
  EXPECT_EQ(-1, CursorCount()) << "the cursor rule keeps the count at -1";
  EXPECT_EQ(0, SetMouseVisibility(-1));
  EXPECT_EQ(-1, CursorCount()) << "re-applying the wish to hide";

  EXPECT_EQ(0, SetMouseVisibility(1));
  EXPECT_EQ(0, CursorCount());
  EXPECT_EQ(0, SetMouseVisibility(1));
  EXPECT_EQ(0, SetMouseVisibility(-1));
  EXPECT_EQ(0, CursorCount()) << "showing again and re-applying count once";

  // An application's own extra hide is undone by the next show.
  ShowCursor(FALSE);
  ShowCursor(FALSE);
  SetMouseVisibility(0);
  SetMouseVisibility(1);
  EXPECT_EQ(0, CursorCount());

  SetMouseVisibility(0);
  LibraryShutDown();
  EXPECT_EQ(0, CursorCount()) << "shut-down shows the cursor again";
}

TEST_F(WindowModeTest, TitleTextChangesTheCaption) {
  EXPECT_EQ(0, SetTitleText("another caption"));
  char caption[64] = "";
  GetWindowTextA(window_, caption, sizeof(caption));
  EXPECT_STREQ("another caption", caption);
  SetTitleText(kWindowTestCaption);
}

}  // namespace
