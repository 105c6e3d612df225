#include "SoundFixtures.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "TestFiles.h"

namespace sound_test {

namespace {
void Put32(Bytes* b, uint32_t v) {
  for (int i = 0; i < 4; i++) b->push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void Put16(Bytes* b, uint16_t v) {
  b->push_back(static_cast<unsigned char>(v));
  b->push_back(static_cast<unsigned char>(v >> 8));
}
}  // namespace

Bytes FormatChunk(int tag, int channels, int rate, int bits, int size) {
  Bytes b;
  int align = channels * bits / 8;
  Put16(&b, static_cast<uint16_t>(tag));
  Put16(&b, static_cast<uint16_t>(channels));
  Put32(&b, static_cast<uint32_t>(rate));
  Put32(&b, static_cast<uint32_t>(rate * align));
  Put16(&b, static_cast<uint16_t>(align));
  Put16(&b, static_cast<uint16_t>(bits));
  while (static_cast<int>(b.size()) < size) b.push_back(0);
  return b;
}

Bytes RiffWave(const std::vector<Chunk>& chunks) {
  Bytes body;
  for (const Chunk& c : chunks) {
    body.insert(body.end(), c.id.begin(), c.id.end());
    Put32(&body, static_cast<uint32_t>(c.data.size()));
    body.insert(body.end(), c.data.begin(), c.data.end());
    if (c.data.size() & 1) body.push_back(0);
  }
  Bytes out = {'R', 'I', 'F', 'F'};
  Put32(&out, static_cast<uint32_t>(body.size() + 4));
  out.insert(out.end(), {'W', 'A', 'V', 'E'});
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes PcmWave(int channels, int rate, int bits, const Bytes& data) {
  return RiffWave({{"fmt ", FormatChunk(1, channels, rate, bits)}, {"data", data}});
}

std::vector<int16_t> Tone16(int frames, int channels, int rate, double frequency, int amplitude) {
  std::vector<int16_t> out(static_cast<size_t>(frames) * channels);
  for (int f = 0; f < frames; f++) {
    double v = amplitude * sin(2 * M_PI * frequency * f / rate);
    for (int c = 0; c < channels; c++) out[static_cast<size_t>(f) * channels + c] = static_cast<int16_t>(lround(v));
  }
  return out;
}

Bytes ToBytes(const std::vector<int16_t>& samples) {
  Bytes b(samples.size() * 2);
  memcpy(b.data(), samples.data(), b.size());
  return b;
}

std::vector<int16_t> ToSamples(const Bytes& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

double Correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t n) {
  if (n > a.size()) n = a.size();
  if (n > b.size()) n = b.size();
  if (n == 0) return 0;
  double ma = 0, mb = 0;
  for (size_t i = 0; i < n; i++) {
    ma += a[i];
    mb += b[i];
  }
  ma /= n;
  mb /= n;
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < n; i++) {
    double x = a[i] - ma, y = b[i] - mb;
    sab += x * y;
    saa += x * x;
    sbb += y * y;
  }
  return saa > 0 && sbb > 0 ? sab / sqrt(saa * sbb) : 0;
}

std::string FixtureDir() {
  const char* dir = getenv("RIDOV_SOUND_FIXTURES");
  return dir ? dir : "";
}

std::string FixturePath(const std::string& name) { return FixtureDir() + "/" + name; }

bool ReadWaveFile(const std::string& path, int* channels, int* rate, int* bits, Bytes* data) {
  Bytes file = test_support::ReadFileBytes(path);
  if (file.size() < 12 || memcmp(file.data(), "RIFF", 4) != 0) return false;
  size_t at = 12;
  bool haveFormat = false;
  while (at + 8 <= file.size()) {
    uint32_t size;
    memcpy(&size, &file[at + 4], 4);
    if (memcmp(&file[at], "fmt ", 4) == 0) {
      *channels = file[at + 10] | (file[at + 11] << 8);
      *rate = static_cast<int>(file[at + 12] | (file[at + 13] << 8) | (file[at + 14] << 16) | (file[at + 15] << 24));
      *bits = file[at + 22] | (file[at + 23] << 8);
      haveFormat = true;
    } else if (memcmp(&file[at], "data", 4) == 0) {
      size_t n = size;
      if (at + 8 + n > file.size()) n = file.size() - at - 8;
      data->assign(file.begin() + at + 8, file.begin() + at + 8 + n);
      return haveFormat;
    }
    at += 8 + size + (size & 1);
  }
  return false;
}

MemoryConversion::MemoryConversion(const Bytes& bytes) : image(bytes) {
  stream = CreateMemoryStream(image.data(), static_cast<uint32_t>(image.size()));
  data.functions = *GetMemoryStreamTable();
  data.handle = reinterpret_cast<StreamHandle>(stream);
  memset(&conversion, 0, sizeof(conversion));
}

MemoryConversion::~MemoryConversion() {
  if (conversion.valid) EndSoundConversion(&conversion);
  CloseMemoryStream(stream);
}

int MemoryConversion::Begin(int disableMask) { return BeginSoundConversion(&conversion, &data, disableMask, 2, 0); }

}  // namespace sound_test
