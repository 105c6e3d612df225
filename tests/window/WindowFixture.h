// Settings and a fixture shared by the window tests.
#ifndef WINDOW_FIXTURE_H
#define WINDOW_FIXTURE_H

#include <windows.h>

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "RaRadara.h"
#include "RiDov.h"

// The caption, which also names the window class.
constexpr char kWindowTestCaption[] = "RiDov window test";

// The settings every start-up here uses: a 960 x 720 window and the
// caption. Running while inactive keeps a window whose focus another
// program on the display takes from stalling the pump; the tests of the
// inactive wait switch it off.
inline void ApplyWindowTestSettings() {
  ChangeWindowMode(1);
  SetScreenMode(960, 720, 16, 60);
  SetTitleText(kWindowTestCaption);
  SetAlwaysRunFlag(1);
}

// The library started with those settings, logging into a folder of its own.
class StartedWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, log_.StartResult());
    ApplyWindowTestSettings();
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    window_ = GetMainWindowHandle();
    ASSERT_NE(nullptr, window_);
  }
  void TearDown() override {
    LibraryShutDown();
    SetAlwaysRunFlag(1);
  }

  test_support::LogCapture log_{"window"};
  HWND window_ = nullptr;
};

#endif  // WINDOW_FIXTURE_H
