// Movie handles and playback control on the Theora road: the handle type,
// refusals, the frame callback, the frame due by the clock and by the sound
// position, looping and the end, pause of one and of all, resume of all.
// The clock and the sound calls are injected.
#include <gtest/gtest.h>

#include <string>

#include "LogCapture.h"
#include "MovieFixtures.h"

using movie_test::FixturePath;
using movie_test::FrameOfGrey;

namespace {

int64_t FakeNow = 0;
int64_t FakeClock() { return FakeNow; }

int FakeSoundPlaying = 0;
int FakeSoundPosition = 0;
int SoundPlays = 0, SoundStops = 0;
int FakeIsPlaying(int) { return FakeSoundPlaying; }
int FakePosition(int) { return FakeSoundPosition; }
int FakePlay(int, int, int) {
  SoundPlays++;
  FakeSoundPlaying = 1;
  return 0;
}
int FakeStop(int) {
  SoundStops++;
  FakeSoundPlaying = 0;
  return 0;
}

int CallbackCount = 0;
uint32_t CallbackParameter = 0;
void CountingCallback(MovieRecord*, uint32_t parameter) {
  CallbackCount++;
  CallbackParameter = parameter;
}
int OtherCount = 0;
void OtherCallback(MovieRecord*, uint32_t) { OtherCount++; }

const int64_t kSecond = 1000000;

class MoviePlayback : public ::testing::Test {
 protected:
  void SetUp() override {
    SetupYuvToRgbTables();
    ASSERT_EQ(SetupMovieHandleType(), 0);
    FakeNow = 5 * kSecond;
    FakeSoundPlaying = FakeSoundPosition = SoundPlays = SoundStops = 0;
    CallbackCount = OtherCount = 0;
    SetMovieClockSource(FakeClock);
    MovieSoundFunctions sound = {FakeIsPlaying, FakePosition, FakePlay, FakeStop};
    SetMovieSoundFunctions(&sound);
  }
  void TearDown() override {
    EXPECT_EQ(EndMovieSystem(), 0);
    SetMovieClockSource(nullptr);
    SetMovieSoundFunctions(nullptr);
  }
  int Open(const char* name = "grey30.ogv") {
    MovieLoadSettings settings;
    GetMovieLoadSettings(&settings);
    return CreateMovieFromFile(&settings, FixturePath(name).c_str(), nullptr, nullptr, 0, 0);
  }
  // The frame shown after a refresh at the given clock.
  int FrameAt(int handle, int64_t now) {
    FakeNow = now;
    EXPECT_EQ(RefreshMovieFrame(handle, 0), 0);
    TheoraDecoder* d = GetMovieRecord(handle)->decoder;
    EXPECT_EQ(FetchTheoraFrame(d, 1, 0, 0) >= 0, true);
    EXPECT_EQ(FrameOfGrey(GetTheoraBaseImage(d)), GetTheoraCurrentFrame(d));
    return GetTheoraCurrentFrame(d);
  }
};

}  // namespace

TEST(MovieHandles, SystemReadyOnlyBetweenSetupAndEnd) {
  EXPECT_EQ(CheckMovieSystemReady(), -1);
  EXPECT_EQ(EndMovieSystem(), -1);
  EXPECT_EQ(PauseAllMovies(), -1);
  EXPECT_EQ(ResumeAllMovies(), -1);
  ASSERT_EQ(SetupMovieHandleType(), 0);
  EXPECT_EQ(SetupMovieHandleType(), -1);
  EXPECT_EQ(CheckMovieSystemReady(), 0);
  MovieLoadSettings settings = {7, 7};
  GetMovieLoadSettings(&settings);
  EXPECT_EQ(settings.rightHalfAlpha, 0);
  EXPECT_EQ(settings.useAlpha, 0);
  EXPECT_EQ(EndMovieSystem(), 0);
  EXPECT_EQ(CheckMovieSystemReady(), -1);
}

TEST_F(MoviePlayback, OpenGivesSizeAndAStoppedMovie) {
  MovieLoadSettings settings = {0, 0};
  int w = 0, h = 0;
  int handle = CreateMovieFromFile(&settings, FixturePath("grey30.ogv").c_str(), &w, &h, 0, 0);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 48);
  MovieRecord* m = GetMovieRecord(handle);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->theoraFlag, 1);
  EXPECT_EQ(m->stopped, 1);
  EXPECT_EQ(m->playWanted, 0);
  EXPECT_EQ(m->playType, 1);
  EXPECT_EQ(m->frameRate, 30.0);
  EXPECT_EQ(m->currentImage, GetTheoraBaseImage(m->decoder));
  EXPECT_EQ(m->soundHandle, -1);  // no sound system in this test
}

TEST_F(MoviePlayback, FileNoRoadCanPlayLeavesNoHandle) {
  test_support::LogCapture log("movie_open");
  EXPECT_EQ(Open("notogg.bin"), -1);
  EXPECT_TRUE(log.Has("ムービーファイルオープン処理時にエラーが発生しました")) << log.Text();
  EXPECT_EQ(HandleManagers[HANDLETYPE_MOVIE].count, 0);
}

TEST_F(MoviePlayback, BadHandlesAreRefused) {
  int handle = Open();
  ASSERT_GE(handle, 0);
  int otherType = (HANDLETYPE_SOUND << HANDLE_TYPE_SHIFT) | (handle & ~HANDLE_TYPE_MASK);
  for (int bad : {-1, otherType}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(GetMovieRecord(bad), nullptr);
    EXPECT_EQ(SetMovieFrameCallback(bad, CountingCallback, 1), -1);
    EXPECT_EQ(RefreshMovieFrame(bad, 0), -1);
    EXPECT_EQ(StartMoviePlayback(bad, 1, 0), -1);
    EXPECT_EQ(PauseMoviePlayback(bad, 0), -1);
    EXPECT_EQ(RequestMovieFrameRefresh(bad), -1);
  }
  ASSERT_EQ(DeleteHandle(handle), 0);
  EXPECT_EQ(GetMovieRecord(handle), nullptr);
  EXPECT_EQ(RefreshMovieFrame(handle, 0), -1);
  EXPECT_EQ(StartMoviePlayback(handle, 1, 0), -1);
}

TEST_F(MoviePlayback, FrameCallbackRunsOnEveryRefreshAndCanBeReplaced) {
  int handle = Open();
  ASSERT_GE(handle, 0);
  ASSERT_EQ(SetMovieFrameCallback(handle, CountingCallback, 42), 0);
  RefreshMovieFrame(handle, 0);  // stopped: still called
  RefreshMovieFrame(handle, 0);
  EXPECT_EQ(CallbackCount, 2);
  EXPECT_EQ(CallbackParameter, 42u);
  ASSERT_EQ(SetMovieFrameCallback(handle, OtherCallback, 1), 0);
  RefreshMovieFrame(handle, 0);
  EXPECT_EQ(CallbackCount, 2);
  EXPECT_EQ(OtherCount, 1);
  ASSERT_EQ(SetMovieFrameCallback(handle, nullptr, 0), 0);
  RefreshMovieFrame(handle, 0);
  EXPECT_EQ(OtherCount, 1);
}

TEST_F(MoviePlayback, FrameFromTheClockWithAndWithoutLoop) {
  int handle = Open();
  ASSERT_GE(handle, 0);
  const int64_t start = FakeNow;
  ASSERT_EQ(StartMoviePlayback(handle, 0, 0), 0);
  MovieRecord* m = GetMovieRecord(handle);
  EXPECT_EQ(m->playType, 1);  // 0 is stored as 1
  EXPECT_EQ(FrameAt(handle, start + kSecond * 10 / 30 + 10), 10);
  EXPECT_EQ(FrameAt(handle, start + kSecond * 25 / 30 + 10), 25);
  // Without the loop bit: the last frame, then the end.
  EXPECT_EQ(FrameAt(handle, start + 2 * kSecond), 29);
  EXPECT_EQ(m->stopped, 1);
  EXPECT_EQ(m->playWanted, 0);

  // With it: the clock wraps modulo the frame count (frame 35 -> 5).
  ASSERT_EQ(StartMoviePlayback(handle, 3, 0), 0);  // resumes at the frame shown
  EXPECT_EQ(m->playType, 3);
  const int64_t from = FakeNow - m->startTime;
  EXPECT_EQ(from, kSecond * 29 / 30);  // truncated
  EXPECT_EQ(FrameAt(handle, m->startTime + kSecond * 35 / 30 + 10), 5);
  EXPECT_EQ(FrameAt(handle, m->startTime + kSecond * 4 + kSecond * 2 / 30 + 10), 2);  // 122 -> 2
  EXPECT_EQ(m->stopped, 0);
  // Starting a playing movie changes nothing.
  EXPECT_EQ(StartMoviePlayback(handle, 1, 0), 0);
  EXPECT_EQ(m->playType, 3);
}

TEST_F(MoviePlayback, FrameFromTheSoundPosition) {
  int handle = Open();
  ASSERT_GE(handle, 0);
  MovieRecord* m = GetMovieRecord(handle);
  m->soundHandle = 12345;  // the injected sound calls stand for it
  ASSERT_EQ(StartMoviePlayback(handle, 1, 0), 0);
  EXPECT_EQ(SoundPlays, 1);
  FakeSoundPosition = 500;
  EXPECT_EQ(FrameAt(handle, FakeNow + 7 * kSecond), 15);  // the clock is not read
  // Past the end while the sound plays: the last frame, not the end.
  FakeSoundPosition = 2500;
  EXPECT_EQ(FrameAt(handle, FakeNow), 29);
  EXPECT_EQ(m->stopped, 0);
  // The sound stops: the movie ends at the last frame.
  FakeSoundPlaying = 0;
  FakeNow = m->startTime + 3 * kSecond;
  EXPECT_EQ(FrameAt(handle, FakeNow), 29);
  EXPECT_EQ(m->stopped, 1);
  m->soundHandle = -1;
}

TEST_F(MoviePlayback, PauseOnePauseAllResumeAll) {
  int a = Open(), b = Open(), fresh = Open();
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  ASSERT_GE(fresh, 0);
  ASSERT_EQ(StartMoviePlayback(a, 1, 0), 0);
  ASSERT_EQ(StartMoviePlayback(b, 3, 0), 0);
  ASSERT_EQ(PauseMoviePlayback(a, 0), 0);
  EXPECT_EQ(GetMovieRecord(a)->stopped, 1);
  EXPECT_EQ(GetMovieRecord(a)->playWanted, 0);
  ASSERT_EQ(PauseAllMovies(), 0);
  EXPECT_EQ(GetMovieRecord(b)->stopped, 1);
  EXPECT_EQ(GetMovieRecord(b)->playWanted, 1);
  // The paused movie keeps its frame across the pause.
  FakeNow += kSecond / 3;
  ASSERT_EQ(ResumeAllMovies(), 0);
  EXPECT_EQ(GetMovieRecord(a)->stopped, 1);
  EXPECT_EQ(GetMovieRecord(b)->stopped, 0);
  EXPECT_EQ(GetMovieRecord(b)->playType, 3);
  EXPECT_EQ(GetMovieRecord(fresh)->stopped, 1);
  EXPECT_EQ(FrameAt(b, FakeNow), 0);
  EXPECT_EQ(FrameAt(b, FakeNow + kSecond * 10 / 30 + 10), 10);
  EXPECT_EQ(RequestMovieFrameRefresh(b), 0);
  EXPECT_EQ(GetMovieRecord(b)->decoder->surfaceRecreate, 1);
}
