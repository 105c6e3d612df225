// Sound inside library start-up and shut-down: the start chooses XAudio2
// 2.8 and starts the sound thread; the end waits for that thread, also
// after the window has closed.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "RaRadara.h"
#include "RiDov.h"
#include "TestFiles.h"
#include "VeVirud.h"

namespace {

class SoundStartUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, log_.StartResult());
    ChangeWindowMode(1);
    SetScreenMode(960, 720, 16, 60);
    SetTitleText("RiDov sound start-up test");
    SetAlwaysRunFlag(1);
  }
  void TearDown() override { LibraryShutDown(); }

  test_support::LogCapture log_{"sound_startup"};
};

TEST_F(SoundStartUpTest, EndWaitsForTheSoundThreadAfterTheWindowClosed) {
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  EXPECT_EQ(SOUND_OUTPUT_XAUDIO2_8, GetSoundOutputKind());
  EXPECT_TRUE(log_.Has("XAudio2 の初期化は正常に終了しました")) << log_.Text();
  EXPECT_EQ(1, AcmLibrary.loaded);
  ASSERT_NE(nullptr, SoundSystem.thread);
  EXPECT_EQ(0, SoundSystem.threadStop);

  // A looping stream keeps the thread busy while the window closes.
  std::vector<unsigned char> wave = {'R', 'I', 'F', 'F', 0,  0, 0,   0,   'W', 'A',  'V',  'E',  'f', 'm',  't',
                                     ' ', 16,  0,   0,   0,  1, 0,   1,   0,   0x22, 0x56, 0,    0,   0x44, 0xAC,
                                     0,   0,   2,   0,   16, 0, 'd', 'a', 't', 'a',  0x88, 0x58, 0,   0};
  wave.resize(wave.size() + 22664);
  const std::string folder = log_.Folder();
  test_support::WriteFileBytes(folder + "\\loop.wav", wave);
  SoundLoadSettings settings;
  GetSoundLoadSettings(&settings);
  settings.loadMethod = 2;
  const int sound = LoadSoundFileCore(&settings, (folder + "\\loop.wav").c_str(), 1, -1, 0, 0);
  ASSERT_GE(sound, 0) << log_.Text();
  ASSERT_EQ(0, PlaySoundHandle(sound, PLAY_TYPE_LOOP, 1));

  HWND window = GetMainWindowHandle();
  ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
  EXPECT_EQ(-1, PumpWindowMessages());
  EXPECT_FALSE(IsWindow(window));

  EXPECT_EQ(0, LibraryShutDown());
  EXPECT_EQ(2, SoundSystem.threadStop) << "the thread ended before the sound types went";
  EXPECT_EQ(nullptr, SoundSystem.thread);
  EXPECT_EQ(0, SoundSystem.initialized);
  EXPECT_EQ(SOUND_OUTPUT_NONE, GetSoundOutputKind());
  EXPECT_EQ(0, AcmLibrary.loaded);
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_SOUND].initialized);
}

}  // namespace
