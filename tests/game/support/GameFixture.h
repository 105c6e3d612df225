// Fixture of the game tests: a fresh test double, the sleep seam on the fake
// clock, and every global game object back to its start-of-program state.
#ifndef GAME_FIXTURE_H
#define GAME_FIXTURE_H

#include <gtest/gtest.h>
#include <string.h>

#include "DrawCtl.h"
#include "GameMain.h"
#include "RiDovDouble.h"
#include "Status.h"

class GameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ridov_double::Reset();
    FrameSleepFunction = ridov_double::FakeSleep;
    memset(KeyTaskInstance.Keys, 0, sizeof KeyTaskInstance.Keys);
    KeyTaskInstance.InputLock = false;
    DebugTaskInstance.DebugDisplayFlag = 0;
    RandInstance.FrameCounter = 0;
    RandInstance.RandomCursor = 0;
    memset(DrawQueue, 0, sizeof DrawQueue);
    memset(DrawQueueLayerIndex, 0, sizeof DrawQueueLayerIndex);
    memset(DrawCtlInstance.ImageSets, 0, sizeof DrawCtlInstance.ImageSets);
    ResetFontCache();
    StatusInstance.Init();
    for (StatusRecord& r : StatusInstance.Records) r.Field[STATUS_OPTION_COUNT] = 0;
    CurrentMusicHandle = NO_MUSIC;
  }

  // Flushes the queue with a clean log; returns the calls it made.
  std::vector<std::string> Flush() {
    ridov_double::ClearCalls();
    DrawCtlInstance.FlushDrawQueue();
    return ridov_double::Calls();
  }
};

#endif  // GAME_FIXTURE_H
