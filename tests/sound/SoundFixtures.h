// Sound test helpers: RIFF WAVE images built in memory, tones, a plain WAV
// reader independent of the library, correlation, and the fixture folder
// that tests/sound/make_fixtures.sh fills at test time.
#ifndef SOUND_FIXTURES_H
#define SOUND_FIXTURES_H

#include <stdint.h>

#include <string>
#include <vector>

#include "VeVirudConvert.h"

namespace sound_test {

typedef std::vector<unsigned char> Bytes;

// One chunk: four-character id and its data (a pad byte follows odd sizes).
struct Chunk {
  std::string id;
  Bytes data;
};

Bytes FormatChunk(int tag, int channels, int rate, int bits, int size = 16);
// "RIFF" size "WAVE" and the chunks in order.
Bytes RiffWave(const std::vector<Chunk>& chunks);
// A PCM WAVE of the samples.
Bytes PcmWave(int channels, int rate, int bits, const Bytes& data);

// Interleaved 16-bit tone, amplitude 0..32767.
std::vector<int16_t> Tone16(int frames, int channels, int rate, double frequency, int amplitude);
Bytes ToBytes(const std::vector<int16_t>& samples);
std::vector<int16_t> ToSamples(const Bytes& bytes);

// Pearson correlation over the first n values of both.
double Correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t n);

// The fixture folder (RIDOV_SOUND_FIXTURES); empty when not set.
std::string FixtureDir();
std::string FixturePath(const std::string& name);
// Data chunk and the first 16 bytes of the format chunk of a WAV file.
bool ReadWaveFile(const std::string& path, int* channels, int* rate, int* bits, Bytes* data);

// A converter over a memory stream of the bytes (kept alive by the caller).
struct MemoryConversion {
  explicit MemoryConversion(const Bytes& bytes);
  ~MemoryConversion();
  int Begin(int disableMask = 0);
  Bytes image;
  MemoryStream* stream;
  StreamData data;
  SoundConversion conversion;
};

}  // namespace sound_test

#endif  // SOUND_FIXTURES_H
