// Ogg Vorbis conversion against oggdec's decode of the same file, through
// vorbisfile and through the large-read file layer.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "DeVirERerOgg.h"
#include "SoundFixtures.h"
#include "TestFiles.h"
#include "VeVirudConvert.h"
#include "ZiDezaru.h"

using namespace sound_test;

namespace {

const int kFrames = 44100;

// A memory stream whose reads are recorded.
std::vector<size_t> ReadRequests;
MemoryStream* CountedStream;
size_t CountedRead(void* buffer, size_t size, size_t count, StreamHandle) {
  ReadRequests.push_back(size * count);
  return MemoryStreamRead(buffer, size, count, CountedStream);
}

class SoundOgg : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FixtureDir().empty()) GTEST_SKIP() << "no sound fixtures";
    ogg = test_support::ReadFileBytes(FixturePath("tone.ogg"));
    ASSERT_FALSE(ogg.empty());
  }
  // Opens the Ogg file with every other format skipped.
  int Begin(MemoryConversion* m, int bytesPerSample, int variant) {
    m->data.functions = *GetMemoryStreamTable();
    return BeginSoundConversion(&m->conversion, &m->data, ~SOUND_CONVERT_SKIP_OGG & 31, bytesPerSample, variant);
  }
  Bytes Decode(SoundConversion* c, int chunk) {
    Bytes out;
    Bytes part(chunk);
    for (int got; (got = ConvertSoundBlock(c, part.data(), chunk)) > 0;)
      out.insert(out.end(), part.begin(), part.begin() + got);
    return out;
  }
  Bytes ogg;
};

// Sample values equal within one step.
void ExpectWithinOne(const Bytes& got, const Bytes& want, int bytesPerSample) {
  ASSERT_EQ(got.size(), want.size());
  size_t apart = 0;
  for (size_t i = 0; i < got.size(); i += bytesPerSample) {
    int a = bytesPerSample == 2 ? static_cast<int16_t>(got[i] | got[i + 1] << 8) : got[i];
    int b = bytesPerSample == 2 ? static_cast<int16_t>(want[i] | want[i + 1] << 8) : want[i];
    if (a - b > 1 || b - a > 1) apart++;
  }
  EXPECT_EQ(apart, 0u);
}

TEST_F(SoundOgg, BothLayersMatchTheHostDecoderInBothSampleSizes) {
  const Bytes s16 = test_support::ReadFileBytes(FixturePath("tone.s16"));
  const Bytes u8 = test_support::ReadFileBytes(FixturePath("tone.u8"));
  ASSERT_EQ(s16.size(), static_cast<size_t>(kFrames * 4));
  const struct {
    int bytesPerSample;
    int variant;
    const Bytes* want;
  } rows[] = {{2, 0, &s16}, {2, 1, &s16}, {1, 0, &u8}, {1, 1, &u8}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.bytesPerSample << " byte(s), variant " << row.variant);
    MemoryConversion m(ogg);
    ASSERT_EQ(Begin(&m, row.bytesPerSample, row.variant), 0);
    EXPECT_EQ(m.conversion.kind, SOUND_CONVERT_OGG);
    WAVEFORMATEX f;
    GetConvertedWaveFormat(&m.conversion, &f);
    EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.nChannels, 2);
    EXPECT_EQ(f.nSamplesPerSec, 44100u);
    EXPECT_EQ(f.nBlockAlign, 2 * row.bytesPerSample);
    EXPECT_EQ(f.wBitsPerSample, 8 * row.bytesPerSample);
    EXPECT_EQ(f.nAvgBytesPerSec, 44100u * f.nBlockAlign);
    EXPECT_EQ(GetConvertedSoundSize(&m.conversion), kFrames * 2 * row.bytesPerSample);
    ExpectWithinOne(Decode(&m.conversion, 7000), *row.want, row.bytesPerSample);
  }
}

TEST_F(SoundOgg, ReadingPastTheEndSetsTheEndFlag) {
  MemoryConversion m(ogg);
  ASSERT_EQ(Begin(&m, 2, 0), 0);
  Bytes all(kFrames * 4 + 100);
  EXPECT_EQ(ConvertSoundBlock(&m.conversion, all.data(), static_cast<int>(all.size())), kFrames * 4);
  EXPECT_EQ(m.conversion.endFlag, 1);
  EXPECT_EQ(ConvertSoundBlock(&m.conversion, all.data(), 4), 0);
}

TEST_F(SoundOgg, SeekThenConvertGivesTheTailOfAWholeDecode) {
  for (int variant = 0; variant < 2; variant++) {
    MemoryConversion m(ogg);
    ASSERT_EQ(Begin(&m, 2, variant), 0);
    Bytes whole = Decode(&m.conversion, 4096);
    ASSERT_EQ(whole.size(), static_cast<size_t>(kFrames * 4));
    for (int sample : {30000, 1234, 0, 44000}) {
      SCOPED_TRACE(testing::Message() << "variant " << variant << ", sample " << sample);
      EXPECT_EQ(SeekSoundConversion(&m.conversion, sample), 0);
      EXPECT_EQ(m.conversion.outputPosition, sample * 4);
      ExpectWithinOne(Decode(&m.conversion, 5000), Bytes(whole.begin() + sample * 4, whole.end()), 2);
    }
  }
}

TEST_F(SoundOgg, TheLargeReadLayerAsksForWholeBlocks) {
  for (int variant = 0; variant < 2; variant++) {
    MemoryConversion m(ogg);
    CountedStream = m.stream;
    ReadRequests.clear();
    m.data.functions = *GetMemoryStreamTable();
    m.data.functions.Read = CountedRead;
    ASSERT_EQ(BeginSoundConversion(&m.conversion, &m.data, ~SOUND_CONVERT_SKIP_OGG & 31, 2, variant), 0);
    EXPECT_EQ(Decode(&m.conversion, 4096).size(), static_cast<size_t>(kFrames * 4));
    ASSERT_FALSE(ReadRequests.empty());
    size_t largest = 0;
    for (size_t r : ReadRequests) largest = r > largest ? r : largest;
    if (variant) {
      for (size_t r : ReadRequests) EXPECT_EQ(r, static_cast<size_t>(OGG_LAYER_READ_SIZE));
    } else {
      EXPECT_LE(largest, 4096u);
    }
  }
}

TEST_F(SoundOgg, OtherDataIsRefusedAndReleased) {
  const Bytes cases[] = {test_support::RandomBytes(5000, 3), Bytes(ogg.begin(), ogg.begin() + 60), Bytes()};
  int before = GetAllocCount();
  for (int variant = 0; variant < 2; variant++) {
    for (const Bytes& bytes : cases) {
      MemoryConversion m(bytes);
      EXPECT_EQ(Begin(&m, 2, variant), -1) << bytes.size();
    }
  }
  EXPECT_EQ(GetAllocCount(), before);
  // An Ogg stream is still found after the formats tried before it.
  MemoryConversion m(ogg);
  ASSERT_EQ(m.Begin(), 0);
  EXPECT_EQ(m.conversion.kind, SOUND_CONVERT_OGG);
  EXPECT_EQ(EndSoundConversion(&m.conversion), 0);
}

}  // namespace
