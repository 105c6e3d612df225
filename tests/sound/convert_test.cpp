// Sound converter: RIFF WAVE read directly, through ACM, and MP3 through ACM.
#include <gtest/gtest.h>
#include <string.h>

#include <random>

#include "SoundFixtures.h"
#include "TestFiles.h"
#include "VeVirudConvert.h"
#include "ZiDezaru.h"

using namespace sound_test;

namespace {

Bytes ConvertAllInBlocks(SoundConversion* c, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out;
  for (;;) {
    int want = static_cast<int>(random() % 20000) + 1;
    Bytes part(want);
    int got = ConvertSoundBlock(c, part.data(), want);
    if (got <= 0) break;
    out.insert(out.end(), part.begin(), part.begin() + got);
    if (got < want) break;
  }
  return out;
}

Bytes ConvertWhole(SoundConversion* c, WAVEFORMATEX* format) {
  void* buffer = nullptr;
  int size = -1;
  EXPECT_EQ(ConvertWholeSound(c, format, &buffer, &size), 0);
  Bytes out(static_cast<unsigned char*>(buffer), static_cast<unsigned char*>(buffer) + (size > 0 ? size : 0));
  MemFree(buffer);
  return out;
}

TEST(SoundConvert, WholeEqualsDataChunkAndRandomBlocks) {
  Bytes data = ToBytes(Tone16(57331, 2, 44100, 440, 12000));
  MemoryConversion m(PcmWave(2, 44100, 16, data));
  ASSERT_EQ(m.Begin(), 0);
  EXPECT_EQ(m.conversion.kind, SOUND_CONVERT_WAVE);
  EXPECT_EQ(GetConvertedSoundSize(&m.conversion), static_cast<int>(data.size()));
  WAVEFORMATEX format;
  Bytes whole = ConvertWhole(&m.conversion, &format);
  EXPECT_EQ(whole, data);
  EXPECT_EQ(format.nChannels, 2);
  EXPECT_EQ(format.nSamplesPerSec, 44100u);
  EXPECT_EQ(format.wBitsPerSample, 16);
  for (uint32_t seed : {1u, 2u, 3u}) {
    ASSERT_EQ(SeekSoundConversion(&m.conversion, 0), 0);
    EXPECT_EQ(ConvertAllInBlocks(&m.conversion, seed), data) << seed;
    EXPECT_EQ(m.conversion.endFlag, 1);
    unsigned char byte;
    EXPECT_EQ(ConvertSoundBlock(&m.conversion, &byte, 1), 0);
  }
}

struct LayoutCase {
  const char* name;
  std::vector<Chunk> before;  // between "WAVE" and "fmt "
  int formatSize;
  int storedBits;              // bits field as stored
  std::vector<Chunk> between;  // between "fmt " and "data"
};

TEST(SoundConvert, RiffLayouts) {
  Bytes data = ToBytes(Tone16(3001, 1, 22050, 300, 9000));
  const LayoutCase cases[] = {
      {"plain", {}, 16, 16, {}},
      {"bext before fmt", {{"bext", Bytes(602, 1)}}, 16, 16, {}},
      {"odd bext before fmt", {{"bext", Bytes(11, 1)}}, 16, 16, {}},
      {"LIST before fmt", {{"LIST", Bytes(26, 'x')}}, 16, 16, {}},
      {"odd chunks before data", {}, 18, 16, {{"fact", Bytes(3, 7)}, {"junk", Bytes(5, 9)}}},
      {"16-byte fmt with a wrong bits field", {}, 16, 8, {}},
  };
  for (const LayoutCase& c : cases) {
    Bytes format = FormatChunk(1, 1, 22050, 16, c.formatSize);
    format[14] = static_cast<unsigned char>(c.storedBits);
    std::vector<Chunk> chunks = c.before;
    chunks.push_back({"fmt ", format});
    chunks.insert(chunks.end(), c.between.begin(), c.between.end());
    chunks.push_back({"data", data});
    MemoryConversion m(RiffWave(chunks));
    ASSERT_EQ(m.Begin(SOUND_CONVERT_SKIP_ACM_MP3), 0) << c.name;
    WAVEFORMATEX out;
    EXPECT_EQ(ConvertWhole(&m.conversion, &out), data) << c.name;
    EXPECT_EQ(out.wBitsPerSample, 16) << c.name;
    EXPECT_EQ(out.nBlockAlign, 2) << c.name;
  }
}

TEST(SoundConvert, FloatToSixteenBit) {
  const struct {
    float in;
    int16_t out;
  } table[] = {{1.0f, 32767},   {-1.0f, -32768}, {0.5f, 16384},   {2.0f, 32767},
               {-2.0f, -32768}, {0.0f, 0},       {-0.5f, -16384}, {0.25f, 8192}};
  for (const auto& row : table) EXPECT_EQ(FloatSampleTo16(row.in), row.out) << row.in;

  std::vector<float> samples = {1.0f, -1.0f, 0.5f, 2.0f, -2.0f, 0.0f};
  Bytes data(samples.size() * 4);
  memcpy(data.data(), samples.data(), data.size());
  MemoryConversion m(RiffWave({{"fmt ", FormatChunk(3, 2, 48000, 32)}, {"data", data}}));
  ASSERT_EQ(m.Begin(), 0);
  EXPECT_EQ(GetConvertedSoundSize(&m.conversion), static_cast<int>(data.size() / 2));
  WAVEFORMATEX format;
  std::vector<int16_t> out = ToSamples(ConvertWhole(&m.conversion, &format));
  EXPECT_EQ(out, (std::vector<int16_t>{32767, -32768, 16384, 32767, -32768, 0}));
  EXPECT_EQ(format.wFormatTag, 1);
  EXPECT_EQ(format.wBitsPerSample, 16);
  EXPECT_EQ(format.nBlockAlign, 4);
}

// WAVE_FORMAT_EXTENSIBLE chunks of PCM and float samples are read directly
// as their sub-format; another sub-format is not.
TEST(SoundConvert, ExtensibleWavesReadAsTheirSubFormat) {
  auto extensible = [](int subFormat, int channels, int bits) {
    Bytes f = FormatChunk(0xFFFE, channels, 22050, bits, 40);
    const unsigned char tail[24] = {22,   0,    static_cast<unsigned char>(bits),
                                    0,    3,    0,
                                    0,    0,    static_cast<unsigned char>(subFormat),
                                    0,    0,    0,
                                    0,    0,    0x10,
                                    0,    0x80, 0,
                                    0,    0xAA, 0,
                                    0x38, 0x9B, 0x71};
    memcpy(&f[16], tail, sizeof(tail));
    return f;
  };
  const Bytes pcm = ToBytes(Tone16(3000, 2, 22050, 440, 9000));
  MemoryConversion plain(RiffWave({{"fmt ", extensible(1, 2, 16)}, {"data", pcm}}));
  ASSERT_EQ(plain.Begin(SOUND_CONVERT_SKIP_ACM_WAVE | SOUND_CONVERT_SKIP_DSHOW_MP3), 0);
  WAVEFORMATEX format;
  EXPECT_EQ(ConvertWhole(&plain.conversion, &format), pcm);
  EXPECT_EQ(format.nChannels, 2);
  EXPECT_EQ(format.wBitsPerSample, 16);

  const std::vector<float> floats = {0.5f, -0.5f, 1.0f, -1.0f};
  Bytes data(floats.size() * 4);
  memcpy(data.data(), floats.data(), data.size());
  MemoryConversion fromFloat(RiffWave({{"fmt ", extensible(3, 2, 32)}, {"data", data}}));
  ASSERT_EQ(fromFloat.Begin(SOUND_CONVERT_SKIP_ACM_WAVE | SOUND_CONVERT_SKIP_DSHOW_MP3), 0);
  EXPECT_EQ(ToSamples(ConvertWhole(&fromFloat.conversion, &format)),
            (std::vector<int16_t>{16384, -16384, 32767, -32768}));

  MemoryConversion other(RiffWave({{"fmt ", extensible(2, 2, 16)}, {"data", pcm}}));
  EXPECT_EQ(other.Begin(SOUND_CONVERT_SKIP_ACM_WAVE | SOUND_CONVERT_SKIP_DSHOW_MP3), -1);
}

TEST(SoundConvert, DataChunkClaimingMoreThanTheFileHolds) {
  Bytes data = ToBytes(Tone16(1500, 1, 22050, 440, 5000));
  Bytes image = PcmWave(1, 22050, 16, data);
  // Claim 10000 bytes of data where 3000 are present.
  uint32_t claim = 10000;
  memcpy(&image[40], &claim, 4);
  MemoryConversion m(image);
  ASSERT_EQ(m.Begin(), 0);
  WAVEFORMATEX format;
  EXPECT_EQ(ConvertWhole(&m.conversion, &format), data);
  ASSERT_EQ(SeekSoundConversion(&m.conversion, 100), 0);
  ASSERT_EQ(SeekSoundConversion(&m.conversion, 0), 0);
  EXPECT_EQ(ConvertAllInBlocks(&m.conversion, 9), data);
}

TEST(SoundConvert, SeekCountAndValidity) {
  Bytes data = ToBytes(Tone16(2000, 2, 22050, 440, 5000));  // block align 4
  MemoryConversion m(PcmWave(2, 22050, 16, data));
  ASSERT_EQ(m.Begin(), 0);
  unsigned char byte;
  EXPECT_EQ(ConvertSoundBlock(&m.conversion, &byte, 0), 0);
  EXPECT_EQ(m.conversion.bytesLeft, 0);  // nothing filled
  Bytes all(data.size() + 10);
  EXPECT_EQ(ConvertSoundBlock(&m.conversion, all.data(), static_cast<int>(all.size())), static_cast<int>(data.size()));
  EXPECT_EQ(m.conversion.endFlag, 1);
  // 3 samples (12 bytes) back: within 15 bytes, nothing happens.
  EXPECT_EQ(SeekSoundConversion(&m.conversion, 1997), 0);
  EXPECT_EQ(m.conversion.endFlag, 1);
  // 4 samples (16 bytes) back: carried out.
  EXPECT_EQ(SeekSoundConversion(&m.conversion, 1996), 0);
  EXPECT_EQ(m.conversion.endFlag, 0);
  Bytes tail(16);
  EXPECT_EQ(ConvertSoundBlock(&m.conversion, tail.data(), 16), 16);
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), data.end() - 16));
  EXPECT_EQ(EndSoundConversion(&m.conversion), 0);
  EXPECT_EQ(EndSoundConversion(&m.conversion), -1);
  EXPECT_EQ(ConvertSoundBlock(&m.conversion, &byte, 1), -1);

  MemoryConversion refused(PcmWave(2, 22050, 16, data));
  EXPECT_EQ(refused.Begin(31), -1);
}

TEST(SoundConvert, GarbageAndTruncatedFilesAreRefusedWithoutLeaks) {
  ASSERT_EQ(LoadAcmLibrary() == 0 || AcmLibrary.loaded, true);
  Bytes wave = PcmWave(2, 22050, 16, ToBytes(Tone16(200, 2, 22050, 440, 5000)));
  const Bytes cases[] = {
      test_support::RandomBytes(5000, 7),
      Bytes(wave.begin(), wave.begin() + 30),  // inside the format chunk
      Bytes(wave.begin(), wave.begin() + 40),  // no data chunk
      Bytes(),
      Bytes{0xFF, 0xFB, 0x90},
  };
  int before = GetAllocCount();
  for (const Bytes& bytes : cases) {
    MemoryConversion m(bytes);
    EXPECT_EQ(m.Begin(), -1) << bytes.size();
  }
  EXPECT_EQ(GetAllocCount(), before);
  FreeAcmLibrary();
}

// ---------------------------------------------------------------------------
// MP3 frame headers.

TEST(SoundConvert, Mp3FrameHeaders) {
  const struct {
    unsigned char bytes[4];
    int result;
    int version, layer, bitrate, rate, length, samples, channels;
  } table[] = {
      {{0xFF, 0xFB, 0x90, 0x00}, 0, 0, 2, 128, 44100, 417, 1152, 2},  // MPEG-1 L3 128k 44.1k
      {{0xFF, 0xFB, 0x92, 0x00}, 0, 0, 2, 128, 44100, 418, 1152, 2},  // padded
      {{0xFF, 0xF3, 0xD0, 0xC0}, 0, 1, 2, 144, 22050, 470, 576, 1},   // MPEG-2 L3 144k 22.05k mono
      {{0xFF, 0xFB, 0xE4, 0x40}, 0, 0, 2, 320, 48000, 960, 1152, 2},  // 320k 48k
      {{0xFF, 0xFD, 0x84, 0x00}, 0, 0, 1, 128, 48000, 384, 1152, 2},  // Layer II 48k
      {{0xFF, 0xFF, 0x40, 0x00}, 0, 0, 0, 128, 44100, 136, 384, 2},   // Layer I: (128*12000/44100)*4
      {{0xFF, 0xF3, 0x84, 0x00}, 0, 1, 2, 64, 24000, 192, 576, 2},    // MPEG-2 64k 24k
  };
  for (const auto& row : table) {
    Mp3FrameHeader h;
    ASSERT_EQ(ParseMp3FrameHeader(row.bytes, &h), row.result);
    EXPECT_EQ(h.version, row.version);
    EXPECT_EQ(h.layer, row.layer);
    EXPECT_EQ(static_cast<int>(h.bitrate), row.bitrate);
    EXPECT_EQ(static_cast<int>(h.sampleRate), row.rate);
    EXPECT_EQ(static_cast<int>(h.frameLength), row.length) << static_cast<int>(row.bytes[2]);
    EXPECT_EQ(static_cast<int>(h.samplesPerFrame), row.samples);
    EXPECT_EQ(h.channels, row.channels);
  }
  const struct {
    unsigned char bytes[4];
    int result;
  } refused[] = {
      {{0xFE, 0xFB, 0x90, 0x00}, -2},  // no sync
      {{0xFF, 0xEB, 0x90, 0x00}, -2},  // 11-bit sync (MPEG-2.5)
      {{0xFF, 0xF9, 0x90, 0x00}, -1},  // reserved layer
      {{0xFF, 0xFB, 0xF0, 0x00}, -1},  // bitrate index 15
      {{0xFF, 0xFB, 0x00, 0x00}, -1},  // free format
      {{0xFF, 0xFB, 0x9C, 0x00}, -1},  // sample-rate index 3
  };
  for (const auto& row : refused) {
    Mp3FrameHeader h;
    EXPECT_EQ(ParseMp3FrameHeader(row.bytes, &h), row.result) << static_cast<int>(row.bytes[1]);
  }
}

// ---------------------------------------------------------------------------
// Through ACM: fixtures from sox and lame.

class SoundAcm : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FixtureDir().empty()) GTEST_SKIP() << "no sound fixtures";
    ASSERT_EQ(LoadAcmLibrary(), 0);
  }
  void TearDown() override {
    if (AcmLibrary.loaded) FreeAcmLibrary();
  }
};

TEST_F(SoundAcm, CodecsCorrelateWithTheirSource) {
  int channels, rate, bits;
  Bytes source;
  ASSERT_TRUE(ReadWaveFile(FixturePath("src_mono22.wav"), &channels, &rate, &bits, &source));
  std::vector<int16_t> reference = ToSamples(source);
  for (const char* name : {"ima.wav", "msadpcm.wav", "alaw.wav", "ulaw.wav"}) {
    MemoryConversion m(test_support::ReadFileBytes(FixturePath(name)));
    ASSERT_EQ(m.Begin(), 0) << name;
    EXPECT_EQ(m.conversion.kind, SOUND_CONVERT_ACM) << name;
    WAVEFORMATEX format;
    Bytes pcm = ConvertWhole(&m.conversion, &format);
    EXPECT_EQ(format.nSamplesPerSec, 22050u) << name;
    EXPECT_EQ(format.nChannels, 1) << name;
    ASSERT_EQ(format.wBitsPerSample, 16) << name;
    std::vector<int16_t> decoded = ToSamples(pcm);
    EXPECT_GT(decoded.size(), reference.size() * 9 / 10) << name;
    EXPECT_GT(Correlation(decoded, reference, reference.size()), 0.99) << name;
    // The direct reader alone refuses it.
    MemoryConversion direct(m.image);
    EXPECT_EQ(direct.Begin(31 & ~SOUND_CONVERT_SKIP_WAVE), -1) << name;
  }
}

Bytes ConvertRange(SoundConversion* c, int sample, int bytes) {
  Bytes out(bytes);
  EXPECT_EQ(SeekSoundConversion(c, sample), 0);
  int got = ConvertSoundBlock(c, out.data(), bytes);
  out.resize(got > 0 ? got : 0);
  return out;
}

TEST_F(SoundAcm, BackwardSeeksGiveTheBytesOfAFreshDecode) {
  for (const char* name : {"ima.wav", "plain.mp3"}) {
    Bytes file = test_support::ReadFileBytes(FixturePath(name));
    MemoryConversion fresh(file);
    ASSERT_EQ(fresh.Begin(), 0) << name;
    WAVEFORMATEX format;
    Bytes whole = ConvertWhole(&fresh.conversion, &format);
    int align = format.nBlockAlign;
    MemoryConversion m(file);
    ASSERT_EQ(m.Begin(), 0);
    Bytes ahead(whole.size() * 3 / 4);
    ConvertSoundBlock(&m.conversion, ahead.data(), static_cast<int>(ahead.size()));
    for (int sample : {1000, 37, 5000, 0}) {
      Bytes got = ConvertRange(&m.conversion, sample, 4000);
      ASSERT_EQ(got.size(), 4000u) << name << " " << sample;
      EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin() + sample * align)) << name << " " << sample;
    }
  }
}

TEST_F(SoundAcm, Mp3LengthsAgreeWithLame) {
  for (const char* name : {"plain", "id3v2", "id3v1", "id3both", "mpeg2"}) {
    int channels, rate, bits;
    Bytes lame;
    ASSERT_TRUE(ReadWaveFile(FixturePath(std::string(name) + ".dec.wav"), &channels, &rate, &bits, &lame)) << name;
    int lameSamples = static_cast<int>(lame.size() / (channels * bits / 8));
    MemoryConversion m(test_support::ReadFileBytes(FixturePath(std::string(name) + ".mp3")));
    ASSERT_EQ(m.Begin(), 0) << name;
    EXPECT_EQ(m.conversion.kind, SOUND_CONVERT_ACM);
    int frameSamples = std::string(name) == "mpeg2" ? 576 : 1152;
    int counted = m.conversion.area.acm.sampleCount;
    EXPECT_EQ(counted % frameSamples, 0);
    EXPECT_LE(abs(counted - lameSamples), frameSamples) << name << " " << counted << " " << lameSamples;
    WAVEFORMATEX format;
    Bytes pcm = ConvertWhole(&m.conversion, &format);
    EXPECT_EQ(static_cast<int>(format.nSamplesPerSec), rate) << name;
    EXPECT_EQ(format.nChannels, channels) << name;
    EXPECT_EQ(GetConvertedSoundSize(&m.conversion), counted * format.nBlockAlign);
    int decoded = static_cast<int>(pcm.size() / format.nBlockAlign);
    EXPECT_LE(abs(decoded - lameSamples), frameSamples) << name << " " << decoded;
    // The decode is lame's own, shifted by at most one frame of delay.
    std::vector<int16_t> ours = ToSamples(pcm), theirs = ToSamples(lame);
    double best = 0;
    for (int lag = 0; lag <= frameSamples * 2; lag += 1) {
      std::vector<int16_t> shifted(ours.begin() + std::min<size_t>(ours.size(), lag * channels), ours.end());
      double r = Correlation(shifted, theirs, 20000);
      if (r > best) best = r;
      if (best > 0.99) break;
    }
    EXPECT_GT(best, 0.99) << name;
  }
}

// Tags: an ID3v2.4 footer adds 10 bytes beyond the stated size; a v2.3 tag
// with the footer bit set does not.
TEST_F(SoundAcm, Id3TagSizes) {
  Bytes plain = test_support::ReadFileBytes(FixturePath("plain.mp3"));
  MemoryConversion reference(plain);
  ASSERT_EQ(reference.Begin(), 0);
  for (int version : {3, 4}) {
    int body = 300;
    Bytes tagged = {'I', 'D', '3', static_cast<unsigned char>(version), 0, 0x10, 0, 0, 2, 44};  // 300
    tagged.insert(tagged.end(), body, 0);
    if (version == 4) tagged.insert(tagged.end(), {'3', 'D', 'I', 4, 0, 0x10, 0, 0, 2, 44});
    tagged.insert(tagged.end(), plain.begin(), plain.end());
    MemoryConversion m(tagged);
    ASSERT_EQ(m.Begin(), 0) << version;
    EXPECT_EQ(m.conversion.dataStart, static_cast<int>(tagged.size() - plain.size())) << version;
    EXPECT_EQ(m.conversion.dataSize, reference.conversion.dataSize) << version;
    EXPECT_EQ(m.conversion.area.acm.sampleCount, reference.conversion.area.acm.sampleCount) << version;
  }
  // A trailing "TAG" block is not data.
  MemoryConversion v1(test_support::ReadFileBytes(FixturePath("id3v1.mp3")));
  ASSERT_EQ(v1.Begin(), 0);
  EXPECT_EQ(v1.conversion.dataSize, reference.conversion.dataSize);
}

}  // namespace
