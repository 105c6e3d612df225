// Wave images, the capture file, whole-stream reads, and the 3-D volume and
// pan of the DirectSound computation.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include "SoundFixtures.h"
#include "TestFiles.h"
#include "VeVirud.h"
#include "ZiDezaru.h"

using namespace sound_test;

namespace {

uint32_t U32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t U16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
std::string Id(const Bytes& b, size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); }

TEST(SoundWave, BuildWaveImageLayoutAndRoundTrip) {
  WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, 22050, 22050 * 4, 4, 16, 0};
  Bytes data = ToBytes(Tone16(300, 2, 22050, 440, 8000));
  void* image = nullptr;
  int size = 0;
  ASSERT_EQ(BuildWaveImage(&image, &size, &format, 18, data.data(), static_cast<int>(data.size())), 0);
  Bytes b(static_cast<unsigned char*>(image), static_cast<unsigned char*>(image) + size);
  MemFree(image);
  ASSERT_EQ(b.size(), 18 + data.size() + 28);
  EXPECT_EQ(Id(b, 0), "RIFF");
  EXPECT_EQ(U32(b, 4), b.size() - 8);
  EXPECT_EQ(Id(b, 8), "WAVE");
  EXPECT_EQ(Id(b, 12), "fmt ");
  EXPECT_EQ(U32(b, 16), 18u);
  EXPECT_EQ(memcmp(b.data() + 20, &format, 18), 0);
  EXPECT_EQ(Id(b, 38), "data");
  EXPECT_EQ(U32(b, 42), data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), b.begin() + 46));
  // The converter reads it back as the same PCM.
  MemoryConversion m(b);
  ASSERT_EQ(m.Begin(), 0);
  WAVEFORMATEX back;
  GetConvertedWaveFormat(&m.conversion, &back);
  EXPECT_EQ(memcmp(&back, &format, 16), 0);
  Bytes out(data.size() + 8);
  EXPECT_EQ(ConvertSoundBlock(&m.conversion, out.data(), static_cast<int>(out.size())), static_cast<int>(data.size()));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));

  EXPECT_EQ(BuildWaveImage(nullptr, &size, &format, 18, data.data(), 4), -1);
  EXPECT_EQ(BuildWaveImage(&image, &size, &format, 18, nullptr, 4), -1);
}

TEST(SoundWave, CaptureFileGetsTheFortySixByteHeader) {
  EXPECT_EQ(WriteWaveFile(), -1);  // nothing open
  EXPECT_EQ(AddWaveCaptureFrames(nullptr, 0), -1);
  std::string folder = test_support::NewTempFolder("wave");
  std::string path = folder + "\\capture.wav";
  ASSERT_EQ(OpenWaveCaptureFile(path.c_str()), 0);
  EXPECT_EQ(OpenWaveCaptureFile(path.c_str()), -1);  // one at a time
  std::vector<int16_t> frames = Tone16(1000, 2, 44100, 440, 9000);
  ASSERT_EQ(AddWaveCaptureFrames(frames.data(), 600), 0);
  ASSERT_EQ(AddWaveCaptureFrames(frames.data() + 1200, 400), 0);
  ASSERT_EQ(WriteWaveFile(), 0);
  EXPECT_EQ(WriteWaveFile(), -1);  // closed and cleared
  Bytes b = test_support::ReadFileBytes(path);
  ASSERT_EQ(b.size(), 46u + 4000u);
  EXPECT_EQ(Id(b, 0), "RIFF");
  EXPECT_EQ(U32(b, 4), 38u + 4000u);
  EXPECT_EQ(Id(b, 8), "WAVE");
  EXPECT_EQ(Id(b, 12), "fmt ");
  const struct {
    size_t at;
    uint32_t value;
    int bytes;
  } fields[] = {{16, 18, 4}, {20, 1, 2},  {22, 2, 2}, {24, 44100, 4}, {28, 176400, 4},
                {32, 4, 2},  {34, 16, 2}, {36, 0, 2}, {42, 4000, 4}};
  for (const auto& f : fields) {
    EXPECT_EQ(f.bytes == 4 ? U32(b, f.at) : U16(b, f.at), f.value) << "offset " << f.at;
  }
  EXPECT_EQ(Id(b, 38), "data");
  EXPECT_EQ(ToSamples(Bytes(b.begin() + 46, b.end())), frames);
  // The file reads back through the platform-independent reader too.
  int channels, rate, bits;
  Bytes data;
  EXPECT_TRUE(ReadWaveFile(path, &channels, &rate, &bits, &data));
  EXPECT_EQ(data.size(), 4000u);
  test_support::RemoveTree(folder);
}

TEST(SoundWave, ReadWholeStream) {
  Bytes bytes = test_support::PatternBytes(70001, 5);
  MemoryStream* stream = CreateMemoryStream(bytes.data(), static_cast<uint32_t>(bytes.size()));
  StreamData data = {*GetMemoryStreamTable(), reinterpret_cast<StreamHandle>(stream)};
  MemoryStreamSeek(stream, 100, FILE_STREAM_SEEK_SET);  // read from the start whatever the position
  void* out = nullptr;
  int size = 0;
  ASSERT_EQ(ReadWholeStream(&data, &out, &size), 0);
  ASSERT_EQ(size, 70001);
  EXPECT_EQ(memcmp(out, bytes.data(), bytes.size()), 0);
  MemFree(out);
  CloseMemoryStream(stream);
}

// ---------------------------------------------------------------------------
// 3-D sound.

TEST(Sound3D, DistanceConeAndPanTable) {
  Sound3DListener listener;
  ResetSound3DListener(&listener);
  const float pi = 3.14159265f;
  const float c = 0.38268343f, s = 0.92387953f;  // cos and sin of 3 pi / 8
  const struct {
    const char* name;
    bool cone;
    Vector3 position;
    float volume, pan;
  } rows[] = {
      {"ahead", false, {0, 0, 5}, 0.5f, 0.0f},
      {"ahead right", false, {3, 0, 4}, 0.5f, 0.6f},
      {"ahead left", false, {-3, 0, 4}, 0.5f, -0.6f},
      {"right at the radius", false, {10, 0, 0}, 0.0f, 0.8f},
      {"beyond the radius", false, {0, 0, 20}, 0.0f, 0.0f},
      {"on the listener", false, {0, 0, 0}, 1.0f, 0.0f},
      {"behind, outside the cone", true, {0, 0, -5}, 0.1f, 0.0f},
      {"between the cones", true, {5 * s, 0, 5 * c}, 0.3f, 0.8f},
      {"inside the inner cone", true, {0, 0, 2}, 0.8f, 0.0f},
  };
  for (const auto& row : rows) {
    if (row.cone) {
      listener.innerAngle = pi / 2;
      listener.outerAngle = pi;
      listener.innerVolume = 1.0f;
      listener.outerVolume = 0.2f;
    }
    float volume = -1, pan = -1;
    ComputeSound3DVolumePan(&listener, &row.position, 10.0f, &volume, &pan);
    EXPECT_NEAR(volume, row.volume, 1e-4f) << row.name;
    EXPECT_NEAR(pan, row.pan, 1e-4f) << row.name;
  }
}

TEST(Sound3D, PanFollowsTheListenersRightAndMirrors) {
  // Facing +x with y up, the listener's right is -z.
  Vector3 position = {1, 2, 3}, front = {2, 0, 0}, up = {0, 1, 0};
  ResetSound3DListener(&SoundSystem.listener);
  ASSERT_EQ(SetSound3DListener(&position, &front, &up), 0);
  Vector3 right = {1, 2, -1}, left = {1, 2, 7};
  float rightVolume, rightPan, leftVolume, leftPan;
  ComputeSound3DVolumePan(&SoundSystem.listener, &right, 8.0f, &rightVolume, &rightPan);
  ComputeSound3DVolumePan(&SoundSystem.listener, &left, 8.0f, &leftVolume, &leftPan);
  EXPECT_NEAR(rightPan, 0.8f, 1e-5f);
  EXPECT_NEAR(leftPan, -0.8f, 1e-5f);
  EXPECT_NEAR(rightVolume, 0.5f, 1e-5f);
  EXPECT_FLOAT_EQ(leftVolume, rightVolume);
  // The pan becomes the buffer's DirectSound pan: right is louder.
  int volume, dsPan;
  ComputeDirectSoundVolumePan(0, 0, static_cast<int>(rightPan * 10000), &volume, &dsPan);
  EXPECT_GT(dsPan, 0);
  Vector3 parallel = {0, 3, 0};
  EXPECT_EQ(SetSound3DListener(&position, &parallel, &up), -1);
  ResetSound3DListener(&SoundSystem.listener);
}

TEST(Sound3D, SmallMovesChangeNothingAndIdleBuffersAreOnlyFlagged) {
  ResetSound3DListener(&SoundSystem.listener);
  SoundBufferRecord b;
  memset(&b, 0, sizeof(b));
  Vector3 p = {0, 0, 1};
  EXPECT_EQ(SetPlayBuffer3DPosition(&b, &p), -1);  // no buffer
  b.present = 1;
  EXPECT_EQ(SetPlayBuffer3DPosition(&b, &p), -1);  // not a 3-D buffer
  InitPlayBuffer3D(&b, nullptr);
  EXPECT_FLOAT_EQ(b.emitter.radius, 14.0f);
  b.emitter.dirty = 0;
  const struct {
    Vector3 move;
    int dirty;
  } rows[] = {{{0.0009f, -0.0009f, 0.0009f}, 0}, {{0, 0, 0.0011f}, 1}, {{-0.002f, 0, 0}, 1}};
  for (const auto& row : rows) {
    b.emitter.dirty = 0;
    Vector3 at = {b.emitter.position.x + row.move.x, b.emitter.position.y + row.move.y,
                  b.emitter.position.z + row.move.z};
    Vector3 before = b.emitter.position;
    EXPECT_EQ(SetPlayBuffer3DPosition(&b, &at), 0);
    EXPECT_EQ(b.emitter.dirty, row.dirty);
    if (!row.dirty) {
      EXPECT_EQ(memcmp(&b.emitter.position, &before, sizeof(before)), 0);
    }
    b.emitter.dirty = 0;
    EXPECT_EQ(SetPlayBuffer3DVelocity(&b, &row.move), 0);
    EXPECT_EQ(b.emitter.dirty, row.dirty);
  }
  b.emitter.dirty = 0;
  EXPECT_EQ(SetPlayBuffer3DRadius(&b, 14.0005f), 0);
  EXPECT_EQ(b.emitter.dirty, 0);
  EXPECT_EQ(SetPlayBuffer3DRadius(&b, 20.0f), 0);
  EXPECT_EQ(b.emitter.dirty, 1);
  // Not playing: the values are left for the next play.
  EXPECT_FLOAT_EQ(b.emitter.volume, 1.0f);
}

}  // namespace
