#include <algorithm>

#include "GameFixture.h"

using namespace ridov_double;

namespace {

// Screen task of the loop tests: logs its steps, spends `WorkMs` of fake
// time in each update and asks to quit at update `QuitAtUpdate`.
class FakeScreen : public CTask {
 public:
  void Init() override { Record("Screen.Init"); }
  void Update() override {
    ++Updates;
    Record("Screen.Update");
    unsigned int work = Updates <= static_cast<int>(WorkMs.size()) ? WorkMs[Updates - 1] : 1;
    AdvanceClock(work);
    if (Updates == QuitAtUpdate) Quit = true;
  }
  void Draw() override { Record("Screen.Draw"); }

  int Updates = 0;
  int QuitAtUpdate = -1;
  bool Quit = false;
  std::vector<unsigned int> WorkMs;
};

FakeScreen* Screen = nullptr;

CTask* CreateFakeScreen() {
  Record("Screen.Create");
  return Screen;
}
bool FakeQuitRequested(CTask* screen) { return static_cast<FakeScreen*>(screen)->Quit; }

const ScreenTaskLink FakeLink = {CreateFakeScreen, FakeQuitRequested};

class GameLoopTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    Screen = &screen;
    SetClock(100000);
  }

  int Run() { return GameMain(FakeLink); }

  // The log without the per-key reads, the clock and the loads.
  static std::vector<std::string> Steps() {
    std::vector<std::string> out;
    for (const std::string& c : Calls())
      if (c.rfind("GetPadState(", 0) != 0 && c.rfind("GetMillisecondCount(", 0) != 0 && c.rfind("Sleep(", 0) != 0 &&
          c.rfind("LoadSoundFile(", 0) != 0 && c.rfind("LoadImageDivided(", 0) != 0)
        out.push_back(c);
    return out;
  }

  static std::vector<std::string> After(const std::vector<std::string>& steps, const std::string& first) {
    auto it = std::find(steps.begin(), steps.end(), first);
    return std::vector<std::string>(it, steps.end());
  }

  FakeScreen screen;
};

TEST_F(GameLoopTest, StartUpRunsInOrderAndFramesFollowTheSteps) {
  QueueResults("PumpWindowMessages", {0, -1});
  EXPECT_EQ(0, Run());

  std::vector<std::string> expected = {
      "SetTitleText(\"quinsel ver0.1\")",
      "SetScreenMode(960,720,16,60)",
      "SetLogFileEnabled(0)",
      "ChangeWindowMode(1)",
      "LibraryStartUp()",
      "Screen.Create",
      "Screen.Init",
      "SetDrawTarget(-2)",
      "PumpWindowMessages()",
      "ClearDrawTarget(null)",
      "GetAllKeyStates(ptr)",
      "Screen.Update",
      "Screen.Draw",
      "PresentBackBuffer()",
      "PumpWindowMessages()",
      "LibraryShutDown()",
  };
  EXPECT_EQ(expected, Steps());
  EXPECT_EQ(19, CountOf("LoadSoundFile"));
  EXPECT_EQ(30, CountOf("LoadImageDivided"));
  // Sounds, then images, between the screen task's Init and the draw target.
  const std::vector<std::string>& all = Calls();
  auto at = [&](const std::string& prefix, bool last) {
    int found = -1;
    for (int i = 0; i < static_cast<int>(all.size()); ++i)
      if (all[i].rfind(prefix, 0) == 0 && (found < 0 || last)) found = i;
    return found;
  };
  EXPECT_LT(at("Screen.Init", false), at("LoadSoundFile(", false));
  EXPECT_LT(at("LoadSoundFile(", true), at("LoadImageDivided(", false));
  EXPECT_LT(at("LoadImageDivided(", true), at("SetDrawTarget(", false));
  EXPECT_EQ(9, CountOf("GetPadState")) << "one key update per frame";
  EXPECT_EQ(1, RandInstance.FrameCounter);
  EXPECT_EQ(-1, FontCache[0]);
  EXPECT_EQ(5, StatusInstance.GetStatusField(1, STATUS_LIVES));
}

TEST_F(GameLoopTest, EscapeHeldAtTheFirstFrameEndsBeforeTheFirstUpdate) {
  SetKeyDown(1, true);
  EXPECT_EQ(0, Run());
  std::vector<std::string> expected = {"ClearDrawTarget(null)", "GetAllKeyStates(ptr)", "LibraryShutDown()"};
  EXPECT_EQ(expected, After(Steps(), "ClearDrawTarget(null)"));
  EXPECT_EQ(0, screen.Updates);
}

TEST_F(GameLoopTest, FailedKeyboardReadSkipsTheEscapeTest) {
  SetKeyDown(1, true);
  QueueResults("GetAllKeyStates", {-1});
  QueueResults("PumpWindowMessages", {0, -1});
  EXPECT_EQ(0, Run());
  EXPECT_EQ(1, screen.Updates);
  EXPECT_EQ(1, CountOf("PresentBackBuffer"));
}

TEST_F(GameLoopTest, QuitEndsTheLoopBeforeThatFrameIsDrawn) {
  screen.QuitAtUpdate = 3;
  EXPECT_EQ(0, Run());
  EXPECT_EQ(3, screen.Updates);
  std::vector<std::string> steps = Steps();
  EXPECT_EQ(2, std::count(steps.begin(), steps.end(), "Screen.Draw"));
  EXPECT_EQ(2, CountOf("PresentBackBuffer"));
  EXPECT_EQ(2, RandInstance.FrameCounter);
  EXPECT_EQ("Screen.Update", steps[steps.size() - 2]);
  EXPECT_EQ("LibraryShutDown()", steps.back());
}

TEST_F(GameLoopTest, FailedClearEndsTheLoopNormally) {
  QueueResults("ClearDrawTarget", {0, 0, 1});
  EXPECT_EQ(0, Run());
  EXPECT_EQ(2, screen.Updates);
  EXPECT_EQ(3, CountOf("ClearDrawTarget"));
  EXPECT_EQ(18, CountOf("GetPadState")) << "no key update after the failed clear";
  EXPECT_EQ(1, CountOf("LibraryShutDown"));
}

TEST_F(GameLoopTest, ClosedWindowEndsAfterTheFrameIsShown) {
  QueueResults("PumpWindowMessages", {0, 0, -1});
  EXPECT_EQ(0, Run());
  EXPECT_EQ(2, screen.Updates);
  EXPECT_EQ(2, CountOf("PresentBackBuffer"));
  std::vector<std::string> steps = Steps();
  std::vector<std::string> tail(steps.end() - 4, steps.end());
  std::vector<std::string> expected = {"Screen.Draw", "PresentBackBuffer()", "PumpWindowMessages()",
                                       "LibraryShutDown()"};
  EXPECT_EQ(expected, tail);
}

TEST_F(GameLoopTest, WindowClosedBeforeTheLoopRunsNoFrame) {
  QueueResults("PumpWindowMessages", {-1});
  EXPECT_EQ(0, Run());
  EXPECT_EQ(0, CountOf("ClearDrawTarget"));
  EXPECT_EQ(1, CountOf("LibraryShutDown"));
}

TEST_F(GameLoopTest, RefusedWindowModeEndsWithoutStartingTheLibrary) {
  QueueResults("ChangeWindowMode", {-1});
  EXPECT_EQ(-1, Run());
  EXPECT_EQ(0, CountOf("LibraryStartUp"));
  EXPECT_EQ(0, CountOf("LibraryShutDown"));
  EXPECT_EQ(0, CountOf("LoadSoundFile"));
}

TEST_F(GameLoopTest, FailedLibraryStartUpBuildsNothing) {
  QueueResults("LibraryStartUp", {-1});
  EXPECT_EQ(-1, Run());
  std::vector<std::string> steps = Steps();
  EXPECT_EQ("LibraryStartUp()", steps.back());
  EXPECT_EQ(0, CountOf("LoadSoundFile"));
  EXPECT_EQ(0, CountOf("LibraryShutDown"));
}

TEST_F(GameLoopTest, MissingScreenTaskShutsTheLibraryDown) {
  Screen = nullptr;
  EXPECT_EQ(-1, Run());
  EXPECT_EQ(1, CountOf("LibraryShutDown"));
  EXPECT_EQ(0, CountOf("ClearDrawTarget"));
}

TEST_F(GameLoopTest, PacingSleepsTheRestOfSixteenMilliseconds) {
  // First frame: no wait (the stamp starts at 0); 5 ms: 11; 40 ms: none;
  // then 16 ms from the end of the late frame again.
  screen.WorkMs = {5, 5, 40, 5, 16, 15};
  screen.QuitAtUpdate = 7;
  EXPECT_EQ(0, Run());
  std::vector<std::string> sleeps = CallsOf("Sleep");
  std::vector<std::string> expected = {"Sleep(11)", "Sleep(11)", "Sleep(1)"};
  EXPECT_EQ(expected, sleeps);
  EXPECT_EQ(7, screen.Updates);
}

struct PaceCase {
  unsigned int stamp;
  unsigned int now;
  int sleep;  // -1: none
};

class PaceFrameTest : public GameTest, public ::testing::WithParamInterface<PaceCase> {};

TEST_P(PaceFrameTest, SleepsSixteenMinusTheElapsedTime) {
  const PaceCase& c = GetParam();
  SetClock(c.now);
  unsigned int stamp = c.stamp;
  PaceFrame(&stamp);
  std::vector<std::string> sleeps = CallsOf("Sleep");
  if (c.sleep < 0) {
    EXPECT_TRUE(sleeps.empty());
  } else {
    ASSERT_EQ(1u, sleeps.size());
    EXPECT_EQ("Sleep(" + std::to_string(c.sleep) + ")", sleeps[0]);
  }
  EXPECT_EQ(Clock(), stamp) << "the stamp is taken after the wait";
}

INSTANTIATE_TEST_SUITE_P(Frames, PaceFrameTest,
                         ::testing::Values(PaceCase{1000, 1005, 11}, PaceCase{1000, 1015, 1}, PaceCase{1000, 1016, -1},
                                           PaceCase{1000, 1040, -1}, PaceCase{0, 100000, -1},
                                           // Across the 31-bit wrap of the clock.
                                           PaceCase{0x7FFFFFFEu, 3, 11}, PaceCase{0x7FFFFFF0u, 5, -1},
                                           PaceCase{0x7FFFFFFFu, 0, 15}));

TEST_F(GameLoopTest, UnavailableClockNeverSleepsLong) {
  SetDefaultResult("GetMillisecondCount", -1);
  unsigned int stamp = 0;
  for (int frame = 0; frame < 3; ++frame) PaceFrame(&stamp);
  for (const std::string& s : CallsOf("Sleep")) EXPECT_EQ("Sleep(16)", s);
}

}  // namespace
