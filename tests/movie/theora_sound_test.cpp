// The Vorbis track of a Theora movie through the converter road its sound
// handle takes (only the Ogg try, the library's own Ogg file layer, pulled
// block by block as a stream sound pulls it), and through vorbisfile, from a
// file and from memory: the whole 1 s tone of 440 Hz comes out, exactly as
// many bytes as claimed, also when the whole track sits in one last page
// behind the first video pages.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <vector>

#include "DamagedMovies.h"
#include "MovieFixtures.h"
#include "TestFiles.h"
#include "VeVirudConvert.h"
#include "ZiDezaru.h"

namespace {

// The movie's sound settings: every try but Ogg disabled, the own Ogg layer.
constexpr int kMovieSoundMask = -5;
constexpr int kMovieOggVariant = 1;

// Power of one frequency (Goertzel) over mono samples.
double TonePower(const std::vector<int16_t>& s, int rate, double frequency) {
  const double k = 2.0 * cos(2.0 * 3.14159265358979 * frequency / rate);
  double s1 = 0, s2 = 0;
  for (int16_t v : s) {
    const double s0 = v + k * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - k * s1 * s2;
}

// The clip with its sound in one page: the last Vorbis page dropped and the
// one before it (all the sound but 162 frames) marked as the end.
movie_test::Bytes SoundInOnePage(const movie_test::Bytes& clip) {
  const std::vector<movie_test::OggPage> pages = movie_test::OggPages(clip);
  const uint32_t vorbis = pages[1].serial;  // ffmpeg: video first, then sound
  size_t last = 0, before = 0;
  for (size_t i = 0; i < pages.size(); i++)
    if (pages[i].serial == vorbis) before = last, last = i;
  movie_test::Bytes out(clip.begin(), clip.begin() + pages[last].at);
  out.insert(out.end(), clip.begin() + pages[last].at + pages[last].size, clip.end());
  out[pages[before].at + 5] |= 4;
  return movie_test::FixOggCrc(out, pages[before]);
}

}  // namespace

TEST(TheoraSound, VorbisTrackBehindTheVideoDecodesWhole) {
  const std::vector<unsigned char> fixture = test_support::ReadFileBytes(movie_test::FixturePath("withsound.ogv"));
  ASSERT_GT(fixture.size(), 1000u);
  const std::string folder = test_support::NewTempFolder("theora_sound");
  const struct {
    const char* name;
    std::vector<unsigned char> bytes;
    size_t least;  // frames at least
  } clips[] = {{"withsound.ogv", fixture, 21000}, {"sound in one page", SoundInOnePage(fixture), 21000}};
  for (const auto& clip : clips) {
    const std::string path = folder + "\\clip.ogv";
    test_support::WriteFileBytes(path, clip.bytes);
    for (int run = 0; run < 4; run++) {
      const bool fromFile = run < 2;
      const int variant = run % 2 == 0 ? kMovieOggVariant : 0;
      SCOPED_TRACE(testing::Message() << clip.name << ", file " << fromFile << ", variant " << variant);
      const int before = GetAllocCount();
      MemoryStream* memory = nullptr;
      StreamData data;
      if (fromFile) {
        data.functions = *GetFileStreamTable();
        data.handle = FileStreamOpen(path.c_str(), 0, 1, 0);
        ASSERT_NE(data.handle, 0u);
      } else {
        memory = CreateMemoryStream(clip.bytes.data(), static_cast<uint32_t>(clip.bytes.size()));
        ASSERT_NE(memory, nullptr);
        data.functions = *GetMemoryStreamTable();
        data.handle = reinterpret_cast<StreamHandle>(memory);
      }
      SoundConversion c;
      memset(&c, 0, sizeof(c));
      ASSERT_EQ(BeginSoundConversion(&c, &data, kMovieSoundMask, 2, variant), 0);
      WAVEFORMATEX format;
      GetConvertedWaveFormat(&c, &format);
      EXPECT_EQ(format.nChannels, 1);
      EXPECT_EQ(format.nSamplesPerSec, 22050u);
      const int claimed = GetConvertedSoundSize(&c);
      // Twice: from the open, and after a seek away and back to the start.
      for (int pass = 0; pass < 2; pass++) {
        std::vector<int16_t> samples;
        for (;;) {
          int16_t block[2048];
          const int got = ConvertSoundBlock(&c, block, sizeof(block));
          if (got <= 0) break;
          samples.insert(samples.end(), block, block + got / 2);
        }
        EXPECT_EQ(static_cast<int>(samples.size() * 2), claimed) << pass;
        EXPECT_GE(samples.size(), clip.least) << pass;
        EXPECT_LE(samples.size(), 22050u) << pass;
        EXPECT_GT(TonePower(samples, 22050, 440), 100 * TonePower(samples, 22050, 1000)) << pass;
        SeekSoundConversion(&c, 5000);
        SeekSoundConversion(&c, 0);
      }
      EXPECT_EQ(EndSoundConversion(&c), 0);
      if (memory != nullptr) {
        CloseMemoryStream(memory);
      } else {
        FileStreamClose(data.handle);
      }
      EXPECT_EQ(GetAllocCount(), before);
    }
  }
  test_support::RemoveTree(folder);
}
