// MP3 decoded through the platform's DirectShow graph (the converter with
// every other format disabled, mask 0x0F) against lame's own decode of the
// same file made by make_fixtures.sh; damaged and empty streams, and the
// program's end while waiting, fail with their log lines and leak nothing;
// a graph rendered without the grabber is built once more.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include "DeVirERer.h"
#include "LogCapture.h"
#include "RaRadara.h"
#include "RaRadaraSystem.h"
#include "SoundFixtures.h"
#include "TestFiles.h"
#include "ZiDezaru.h"

using namespace sound_test;

namespace {

constexpr int kOnlyGraph = 0x0F;

class Mp3Graph : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.reset(new test_support::LogCapture("mp3_graph"));
    LoadSystemLibraries();
    InitializeCom();
  }
  void TearDown() override {
    TerminateCom();
    FreeSystemLibraries();
    log_.reset();
  }
  std::unique_ptr<test_support::LogCapture> log_;
};

// Power of one frequency in a channel (Goertzel).
double TonePower(const std::vector<int16_t>& samples, int channels, int channel, int rate, double frequency) {
  double k = 2.0 * cos(2.0 * 3.14159265358979 * frequency / rate);
  double s1 = 0, s2 = 0;
  for (size_t i = channel; i < samples.size(); i += channels) {
    double s0 = samples[i] + k * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - k * s1 * s2;
}

// The frame shift (within +-limit) that best lines `b` up with `a`.
int BestShift(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int channels, int limit) {
  const int window = 4096;
  size_t start = static_cast<size_t>(limit + 2000) * channels;
  double best = -1e300;
  int bestShift = 0;
  for (int shift = -limit; shift <= limit; shift++) {
    double sum = 0;
    for (int i = 0; i < window * channels; i++) {  // every channel: one alone can match a period off
      size_t ia = start + static_cast<size_t>(i);
      size_t ib = static_cast<size_t>(static_cast<long>(ia) + static_cast<long>(shift) * channels);
      if (ia >= a.size() || ib >= b.size()) break;
      sum += static_cast<double>(a[ia]) * b[ib];
    }
    if (sum > best) {
      best = sum;
      bestShift = shift;
    }
  }
  return bestShift;
}

TEST_F(Mp3Graph, DecodesLikeLameWithinTheDecoderDelay) {
  int channels = 0, rate = 0, bits = 0;
  Bytes reference;
  ASSERT_TRUE(ReadWaveFile(FixturePath("plain.dec.wav"), &channels, &rate, &bits, &reference));
  MemoryConversion m(test_support::ReadFileBytes(FixturePath("plain.mp3")));
  ASSERT_EQ(m.Begin(kOnlyGraph), 0) << "the platform's graph could not decode MP3 (parser or decoder missing?)\n"
                                    << log_->Text();
  EXPECT_EQ(m.conversion.kind, SOUND_CONVERT_MEMORY);
  WAVEFORMATEX format;
  void* buffer = nullptr;
  int size = 0;
  ASSERT_EQ(ConvertWholeSound(&m.conversion, &format, &buffer, &size), 0);
  Bytes decoded(static_cast<unsigned char*>(buffer), static_cast<unsigned char*>(buffer) + size);
  MemFree(buffer);
  EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(format.nChannels, channels);
  EXPECT_EQ(static_cast<int>(format.nSamplesPerSec), rate);
  EXPECT_EQ(format.wBitsPerSample, bits);
  EXPECT_EQ(format.nBlockAlign, channels * bits / 8);
  EXPECT_EQ(format.nAvgBytesPerSec, format.nBlockAlign * format.nSamplesPerSec);
  // Length: within two MP3 frames (decoder delay and padding) of lame's.
  const long frameBytes = 1152L * format.nBlockAlign;
  EXPECT_LE(labs(static_cast<long>(decoded.size()) - static_cast<long>(reference.size())), 2 * frameBytes)
      << decoded.size() << " against " << reference.size();
  // Content: lined up, the same waveform; the left channel carries 440 Hz.
  std::vector<int16_t> a = ToSamples(reference), b = ToSamples(decoded);
  int shift = BestShift(a, b, channels, 1200);
  std::vector<int16_t> aligned;
  std::vector<int16_t> lined;
  for (size_t i = 0; i < a.size(); i++) {
    long j = static_cast<long>(i) + static_cast<long>(shift) * channels;
    if (j < 0) continue;
    if (j >= static_cast<long>(b.size())) break;
    lined.push_back(a[i]);
    aligned.push_back(b[static_cast<size_t>(j)]);
  }
  ASSERT_GT(aligned.size(), static_cast<size_t>(rate));
  EXPECT_GT(Correlation(lined, aligned, aligned.size()), 0.99) << "shift " << shift;
  EXPECT_GT(TonePower(b, channels, 0, rate, 440.0), 100.0 * TonePower(b, channels, 0, rate, 1000.0));
  EXPECT_GT(TonePower(b, channels, 0, rate, 440.0), 100.0 * TonePower(b, channels, 0, rate, 660.0));
  EXPECT_EQ(EndSoundConversion(&m.conversion), 0);
  // The ACM road of the same file: the same format, the length within the
  // decoder delay.
  ASSERT_EQ(LoadAcmLibrary(), 0);
  MemoryConversion acm(test_support::ReadFileBytes(FixturePath("plain.mp3")));
  ASSERT_EQ(acm.Begin(SOUND_CONVERT_SKIP_DSHOW_MP3), 0);
  EXPECT_EQ(acm.conversion.kind, SOUND_CONVERT_ACM);
  WAVEFORMATEX acmFormat;
  GetConvertedWaveFormat(&acm.conversion, &acmFormat);
  EXPECT_EQ(memcmp(&acmFormat, &format, 18), 0);
  EXPECT_LE(labs(static_cast<long>(GetConvertedSoundSize(&acm.conversion)) - static_cast<long>(decoded.size())),
            2 * frameBytes);
  EndSoundConversion(&acm.conversion);
  FreeAcmLibrary();
}

TEST_F(Mp3Graph, DamagedOrEmptyStreamsFailWithALogLineAndLeakNothing) {
  Bytes mp3 = test_support::ReadFileBytes(FixturePath("plain.mp3"));
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {
      {"random", test_support::RandomBytes(6000, 11)},
      {"empty", Bytes()},
      {"zeros", Bytes(4000, 0)},
  };
  int before = GetAllocCount();
  for (const Case& c : cases) {
    MemoryConversion m(c.bytes);
    EXPECT_EQ(m.Begin(kOnlyGraph), -1) << c.name;
  }
  EXPECT_EQ(GetAllocCount(), before);
  // Without MPEG frames they never reach the platform's graph.
  EXPECT_TRUE(log_->Has("MP3変換用のデータにMPEGオーディオのフレームがありません")) << log_->Text();
}

TEST_F(Mp3Graph, ProgramEndingWhileWaitingEndsTheDecode) {
  MemoryConversion m(test_support::ReadFileBytes(FixturePath("plain.mp3")));
  int before = GetAllocCount();
  WinSys.quit = 1;
  EXPECT_EQ(m.Begin(kOnlyGraph), -1);
  WinSys.quit = 0;
  EXPECT_EQ(GetAllocCount(), before);
  EXPECT_TRUE(log_->Has("MP3変換の途中でソフトが終了しました")) << log_->Text();
}

// Unplugs the grabber's input in the first `unplugged` graphs, as the
// platform's rendering sometimes leaves it out of the chain.
struct GrabberUnplugger {
  static int graphs, unplugged;
  static void Run(IGraphBuilder* graph, IBaseFilter* grabber) {
    if (graphs++ >= unplugged) return;
    IPin* input = FindFilterPin(grabber, PINDIR_INPUT);
    IPin* upstream = nullptr;
    if (input != nullptr && SUCCEEDED(input->ConnectedTo(&upstream)) && upstream != nullptr) {
      graph->Disconnect(upstream);
      graph->Disconnect(input);
      upstream->Release();
    }
    if (input != nullptr) input->Release();
  }
};
int GrabberUnplugger::graphs = 0;
int GrabberUnplugger::unplugged = 0;

// Takes the grabber out of the rendered chain the way the platform's
// rendering sometimes builds it: its feed connected straight to the renderer.
void LeaveGrabberOut(IGraphBuilder* graph, IBaseFilter* grabber) {
  IPin* input = FindFilterPin(grabber, PINDIR_INPUT);
  IPin* output = FindFilterPin(grabber, PINDIR_OUTPUT);
  IPin* upstream = nullptr;
  IPin* downstream = nullptr;
  if (input != nullptr && output != nullptr && SUCCEEDED(input->ConnectedTo(&upstream)) &&
      SUCCEEDED(output->ConnectedTo(&downstream))) {
    graph->Disconnect(upstream);
    graph->Disconnect(input);
    graph->Disconnect(output);
    graph->Disconnect(downstream);
    EXPECT_EQ(graph->Connect(upstream, downstream), S_OK);
  }
  for (IPin* pin : {input, output, upstream, downstream})
    if (pin != nullptr) pin->Release();
}

// The grabber takes the renderer's place itself: one graph decodes.
TEST_F(Mp3Graph, AGrabberLeftOutOfTheChainIsSplicedIn) {
  const Bytes mp3 = test_support::ReadFileBytes(FixturePath("plain.mp3"));
  GrabberUnplugger::graphs = 0;
  GrabberUnplugger::unplugged = 0;
  Mp3GraphBeforeSwapHook = LeaveGrabberOut;
  Mp3GraphRenderedHook = GrabberUnplugger::Run;  // counts the graphs
  const int before = GetAllocCount();
  {
    MemoryConversion m(mp3);
    EXPECT_EQ(m.Begin(kOnlyGraph), 0) << log_->Text();
    EXPECT_EQ(m.conversion.kind, SOUND_CONVERT_MEMORY);
    // 2 s of 44100 Hz stereo 16-bit, give or take the decoder's delay.
    EXPECT_GT(GetConvertedSoundSize(&m.conversion), 44100 * 4);
    EXPECT_EQ(EndSoundConversion(&m.conversion), 0);
  }
  Mp3GraphBeforeSwapHook = nullptr;
  Mp3GraphRenderedHook = nullptr;
  EXPECT_EQ(GrabberUnplugger::graphs, 1);
  EXPECT_EQ(GetAllocCount(), before);
}

TEST_F(Mp3Graph, AGraphWithoutTheGrabberIsBuiltOnceMore) {
  const Bytes mp3 = test_support::ReadFileBytes(FixturePath("plain.mp3"));
  const char kNoAudio[] = "音声が含まれていないか、オーディオフォーマットの取得に失敗しました。";
  struct Case {
    int unplugged;
    int result;
  };
  const Case cases[] = {{1, 0}, {2, -1}};
  auto noAudioLines = [&]() {
    const std::string text = log_->Text();
    int n = 0;
    for (size_t at = text.find(kNoAudio); at != std::string::npos; at = text.find(kNoAudio, at + 1)) n++;
    return n;
  };
  for (const Case& k : cases) {
    const int linesBefore = noAudioLines();
    GrabberUnplugger::graphs = 0;
    GrabberUnplugger::unplugged = k.unplugged;
    Mp3GraphRenderedHook = GrabberUnplugger::Run;
    int before = GetAllocCount();
    {
      MemoryConversion m(mp3);
      EXPECT_EQ(m.Begin(kOnlyGraph), k.result) << k.unplugged << "\n" << log_->Text();
      if (k.result == 0) {
        EXPECT_EQ(m.conversion.kind, SOUND_CONVERT_MEMORY);
        EXPECT_GT(GetConvertedSoundSize(&m.conversion), 0);
        EXPECT_EQ(EndSoundConversion(&m.conversion), 0);
      }
    }
    Mp3GraphRenderedHook = nullptr;
    EXPECT_EQ(GrabberUnplugger::graphs, 2) << k.unplugged;
    EXPECT_EQ(noAudioLines() - linesBefore, k.result != 0 ? 1 : 0) << log_->Text();
    EXPECT_EQ(GetAllocCount(), before) << k.unplugged;
  }
}

TEST_F(Mp3Graph, CallbackGrowsThePcmBlockAndStopsAfterAFailedGrow) {
  // Straight calls: a converter whose PCM block is full grows it.
  SoundConversion c;
  memset(&c, 0, sizeof(c));
  c.area.memory.data = static_cast<unsigned char*>(MemAlloc(16, "test", 1));
  c.area.memory.capacity = 16;
  struct FakeSample {
    static IMediaSample* Make(RiDov::D_CMemAllocator** allocator, LONG size) {
      *allocator = RiDov::D_CMemAllocator::Create();
      ALLOCATOR_PROPERTIES want = {1, size, 1, 0}, got;
      (*allocator)->SetProperties(&want, &got);
      (*allocator)->Commit();
      IMediaSample* s = nullptr;
      (*allocator)->GetBuffer(&s, nullptr, nullptr, 0);
      return s;
    }
  };
  RiDov::D_CMemAllocator* allocator = nullptr;
  IMediaSample* sample = FakeSample::Make(&allocator, 3000);
  ASSERT_NE(sample, nullptr);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  for (int i = 0; i < 3000; i++) data[i] = static_cast<BYTE>(i);
  DWORD user = static_cast<DWORD>(reinterpret_cast<uintptr_t>(&c));
  for (int round = 0; round < 3; round++) EXPECT_EQ(Mp3GrabberCallback(sample, nullptr, nullptr, 0, user), 0);
  EXPECT_EQ(c.area.memory.size, 9000);
  EXPECT_GE(c.area.memory.capacity, 9000);
  EXPECT_EQ(memcmp(c.area.memory.data + 6000, data, 3000), 0);
  MemFree(c.area.memory.data);
  c.area.memory.data = nullptr;  // as after a failed grow: nothing more is kept
  EXPECT_EQ(Mp3GrabberCallback(sample, nullptr, nullptr, 0, user), 0);
  EXPECT_EQ(c.area.memory.size, 9000);
  sample->Release();
  allocator->Decommit();
  allocator->Release();
}

TEST_F(Mp3Graph, AStreamTheAcmWalkRefusesStillDecodesThroughTheGraph) {
  // A sync pattern with an invalid header before the first frame.
  Bytes mp3 = test_support::ReadFileBytes(FixturePath("plain.mp3"));
  Bytes bytes = {0xFF, 0xF0, 0x00, 0x00};
  bytes.resize(64, 0);
  bytes.insert(bytes.end(), mp3.begin(), mp3.end());
  ASSERT_EQ(LoadAcmLibrary(), 0);
  {
    MemoryConversion acmOnly(bytes);
    EXPECT_EQ(acmOnly.Begin(SOUND_CONVERT_SKIP_DSHOW_MP3), -1);
  }
  MemoryConversion m(bytes);
  ASSERT_EQ(m.Begin(0), 0) << log_->Text();
  EXPECT_EQ(m.conversion.kind, SOUND_CONVERT_MEMORY);
  EXPECT_GT(GetConvertedSoundSize(&m.conversion), 44100 * 4);
  EndSoundConversion(&m.conversion);
  FreeAcmLibrary();
}

TEST_F(Mp3Graph, DecodesOnAThreadWithoutCom) {
  // As a loading job would: a thread that never started COM.
  MemoryConversion m(test_support::ReadFileBytes(FixturePath("plain.mp3")));
  struct Job {
    static DWORD WINAPI Run(void* conversion) {
      return static_cast<DWORD>(static_cast<MemoryConversion*>(conversion)->Begin(kOnlyGraph));
    }
  };
  int before = GetAllocCount();
  HANDLE thread = CreateThread(nullptr, 0, &Job::Run, &m, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 30000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD result = 1;
  GetExitCodeThread(thread, &result);
  CloseHandle(thread);
  EXPECT_EQ(result, 0u) << log_->Text();
  EXPECT_GT(GetConvertedSoundSize(&m.conversion), 44100 * 4);
  EndSoundConversion(&m.conversion);
  EXPECT_EQ(GetAllocCount(), before);  // graph, reader, allocators and PCM all gone
}

}  // namespace
