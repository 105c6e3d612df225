// Sound start and end under Wine: the end completes an open capture file,
// and output mode 1 starts DirectSound through a DirectMusic performance,
// with its fall-back and failures.
#include <gtest/gtest.h>
#include <string.h>

#include <dmusici.h>

#include <memory>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "RiDov.h"
#include "SoundFixtures.h"
#include "TestFiles.h"
#include "VeVirud.h"
#include "ZiDezaru.h"

using namespace sound_test;

namespace {

uint32_t U32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

class SoundEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.reset(new test_support::LogCapture("sound_end"));
    LoadSystemLibraries();
    InitializeCom();
    LoadAcmLibrary();
    realCreate_ = SystemLibs.CoCreateInstanceFunc;
    folder_ = test_support::NewTempFolder("sound_end");
  }
  void TearDown() override {
    TerminateSound();
    WriteWaveFile();
    FreeAcmLibrary();
    SystemLibs.CoCreateInstanceFunc = realCreate_;
    SetSoundOutputMode(SOUND_OUTPUT_MODE_XAUDIO2);
    SoundSystem.xaudio2Off = 0;
    test_support::RemoveTree(folder_);
    log_.reset();
  }
  // A one-second tone loaded as a sound; the handle.
  int LoadTone() {
    std::string path = folder_ + "\\tone.wav";
    test_support::WriteFileBytes(path, PcmWave(2, 44100, 16, ToBytes(Tone16(44100, 2, 44100, 440, 9000))));
    return LoadSoundFile(path.c_str(), 1, -1);
  }

  std::unique_ptr<test_support::LogCapture> log_;
  std::string folder_;
  decltype(SystemLibs.CoCreateInstanceFunc) realCreate_ = nullptr;
};

TEST_F(SoundEnd, EndingSoundCompletesAnOpenCaptureFile) {
  ASSERT_EQ(InitializeSound(), 0) << log_->Text();
  const std::string path = folder_ + "\\capture.wav";
  ASSERT_EQ(OpenWaveCaptureFile(path.c_str()), 0);
  std::vector<int16_t> frames = Tone16(1500, 2, 44100, 440, 9000);
  ASSERT_EQ(AddWaveCaptureFrames(frames.data(), 1500), 0);

  ASSERT_EQ(TerminateSound(), 0);
  Bytes b = test_support::ReadFileBytes(path);
  EXPECT_EQ(WriteWaveFile(), -1) << "the end closed the capture";
  ASSERT_EQ(b.size(), 46u + 6000u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
  EXPECT_EQ(U32(b, 4), b.size() - 8) << "RIFF size against the file";
  EXPECT_EQ(std::string(b.begin() + 38, b.begin() + 42), "data");
  EXPECT_EQ(U32(b, 42), b.size() - 46) << "data size against the samples written";
  EXPECT_EQ(ToSamples(Bytes(b.begin() + 46, b.end())), frames);
}

TEST_F(SoundEnd, OutputModeIsSetOnlyWhileSoundIsDown) {
  EXPECT_EQ(SetSoundOutputMode(2), -1);
  EXPECT_EQ(SetSoundOutputMode(-1), -1);
  ASSERT_EQ(InitializeSound(), 0) << log_->Text();
  EXPECT_EQ(SetSoundOutputMode(SOUND_OUTPUT_MODE_DIRECTMUSIC), -1);
  EXPECT_EQ(SoundSystem.outputMode, SOUND_OUTPUT_MODE_XAUDIO2);
  ASSERT_EQ(TerminateSound(), 0);
  EXPECT_EQ(SetSoundOutputMode(SOUND_OUTPUT_MODE_DIRECTMUSIC), 0);
}

TEST_F(SoundEnd, DirectMusicModeMakesTheDirectSoundOutput) {
  ASSERT_EQ(SetSoundOutputMode(SOUND_OUTPUT_MODE_DIRECTMUSIC), 0);
  ASSERT_EQ(InitializeSound(), 0) << log_->Text();
  EXPECT_EQ(GetSoundOutputKind(), SOUND_OUTPUT_DIRECTSOUND);
  EXPECT_NE(SoundSystem.musicLoader, nullptr);
  EXPECT_NE(SoundSystem.musicPerformance, nullptr);
  EXPECT_EQ(SoundSystem.xaudio2Off, 1);
  const std::string text = log_->Text();
  EXPECT_TRUE(log_->Has("DirectSound8 の初期化を行います")) << text;
  EXPECT_TRUE(log_->Has("Device0:")) << "the ports are listed\n" << text;
  EXPECT_TRUE(log_->Has("DirectSound の初期化は正常に終了しました")) << text;
  EXPECT_FALSE(log_->Has("XAudio2 の初期化を行います")) << "no XAudio2 attempt";

  // Sounds play on the performance's DirectSound.
  const int sound = LoadTone();
  ASSERT_NE(sound, -1) << log_->Text();
  ASSERT_EQ(PlaySoundHandle(sound, 1, 1), 0);
  EXPECT_EQ(IsSoundHandlePlaying(sound), 1);

  ASSERT_EQ(TerminateSound(), 0);
  EXPECT_EQ(SoundSystem.musicPerformance, nullptr);
  EXPECT_EQ(SoundSystem.musicLoader, nullptr);
  EXPECT_EQ(GetSoundOutputKind(), SOUND_OUTPUT_NONE);
}

// CoCreateInstance refusing one class.
const GUID* RefusedClass = nullptr;
HRESULT(WINAPI* RealCreate)(REFCLSID, IUnknown*, DWORD, REFIID, void**) = nullptr;
HRESULT WINAPI RefusingCreate(REFCLSID classId, IUnknown* outer, DWORD context, REFIID interfaceId, void** object) {
  if (IsEqualGUID(classId, *RefusedClass)) {
    *object = nullptr;
    return REGDB_E_CLASSNOTREG;
  }
  return RealCreate(classId, outer, context, interfaceId, object);
}

TEST_F(SoundEnd, DirectMusicFailuresFallBackOrEndTheStart) {
  const struct {
    const GUID* refused;
    int result;
    const char* logged;
  } cases[] = {
      {&CLSID_DirectMusicLoader, 0, "前バージョンでの初期化処理に移ります"},
      {&CLSID_DirectMusicPerformance, -1, "DirectMusicPerformance オブジェクトの作成に失敗しました"},
      {&CLSID_DirectMusic, -1, "DirectMusic オブジェクトの取得に失敗しました"},
  };
  RealCreate = realCreate_;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    ASSERT_EQ(SetSoundOutputMode(SOUND_OUTPUT_MODE_DIRECTMUSIC), 0);
    RefusedClass = c.refused;
    SystemLibs.CoCreateInstanceFunc = RefusingCreate;
    const int blocks = GetAllocCount();
    EXPECT_EQ(InitializeSound(), c.result);
    SystemLibs.CoCreateInstanceFunc = realCreate_;
    EXPECT_TRUE(log_->Has(c.logged)) << log_->Text();
    EXPECT_EQ(SoundSystem.musicLoader, nullptr);
    EXPECT_EQ(SoundSystem.musicPerformance, nullptr);
    if (c.result == 0) {
      // The plain DirectSound start, in mode 0 from now on.
      EXPECT_EQ(GetSoundOutputKind(), SOUND_OUTPUT_DIRECTSOUND);
      EXPECT_EQ(SoundSystem.outputMode, SOUND_OUTPUT_MODE_XAUDIO2);
      EXPECT_NE(SoundSystem.primaryBuffer, nullptr);
      EXPECT_EQ(TerminateSound(), 0);
    } else {
      EXPECT_EQ(GetSoundOutputKind(), SOUND_OUTPUT_NONE) << "nothing left started";
      EXPECT_EQ(SoundSystem.initialized, 0);
      EXPECT_EQ(TerminateSound(), -1);
    }
    EXPECT_EQ(GetAllocCount(), blocks);
    SoundSystem.xaudio2Off = 0;
  }
}

// Through the public calls: the mode set before start-up is the one the
// library's start-up uses, and its shut-down ends the performance.
TEST(SoundOutputModeInLibrary, StartUpUsesTheModeSetBefore) {
  test_support::LogCapture log("sound_end_library");
  ChangeWindowMode(1);
  SetScreenMode(640, 480, 32, 60);
  SetAlwaysRunFlag(1);
  ASSERT_EQ(SetSoundOutputMode(1), 0);
  ASSERT_EQ(LibraryStartUp(), 0) << log.Text();
  EXPECT_EQ(GetSoundOutputKind(), SOUND_OUTPUT_DIRECTSOUND);
  EXPECT_NE(SoundSystem.musicPerformance, nullptr) << log.Text();
  EXPECT_EQ(SetSoundOutputMode(0), -1) << "not while sound runs";
  EXPECT_EQ(LibraryShutDown(), 0);
  EXPECT_EQ(SoundSystem.musicPerformance, nullptr);
  EXPECT_EQ(SoundSystem.musicLoader, nullptr);
  EXPECT_EQ(GetSoundOutputKind(), SOUND_OUTPUT_NONE);
  SetSoundOutputMode(0);
  SoundSystem.xaudio2Off = 0;
}

}  // namespace
