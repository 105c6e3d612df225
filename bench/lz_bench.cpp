// UnpackLZ throughput next to zlib's inflate on the same data: text, a game
// image's raw pixels, random bytes and the three together. Both packers run
// at their usual settings; the times are for unpacking only, in MB/s of
// unpacked output.
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "ArchivePacker.h"
#include "RoRezedur_.h"

namespace {

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Words of made-up text with a few frequent ones, lines and numbers, as in
// scripts, tables and logs.
std::vector<uint8_t> MakeText(size_t size) {
  std::mt19937 random(1);
  std::vector<std::string> words;
  for (int i = 0; i < 2000; ++i) {
    std::string word;
    const int length = 2 + static_cast<int>(random() % 8);
    for (int j = 0; j < length; ++j) word += static_cast<char>('a' + random() % 26);
    words.push_back(word);
  }
  std::vector<uint8_t> text;
  while (text.size() < size) {
    // Rank-weighted choice: low ranks are far more frequent.
    const double u = std::uniform_real_distribution<double>(0, 1)(random);
    const size_t rank = static_cast<size_t>(words.size() * u * u * u);
    const std::string& word = words[rank];
    text.insert(text.end(), word.begin(), word.end());
    const unsigned r = random() % 100;
    if (r < 8) {
      text.push_back(',');
    } else if (r < 12) {
      const std::string number = std::to_string(random() % 10000);
      text.push_back(' ');
      text.insert(text.end(), number.begin(), number.end());
    } else if (r < 16) {
      text.push_back('.');
      text.push_back('\n');
      continue;
    }
    text.push_back(' ');
  }
  text.resize(size);
  return text;
}

// A 32-bit sprite sheet: tiles of shaded shapes with outlines on a clear
// background, a little noise from the drawing tool's dithering.
std::vector<uint8_t> MakeImage(int width, int height) {
  std::mt19937 random(2);
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4, 0);
  const int tile = 64;
  for (int ty = 0; ty < height / tile; ++ty)
    for (int tx = 0; tx < width / tile; ++tx) {
      const int cx = tile / 2, cy = tile / 2;
      const int radius = 12 + static_cast<int>(random() % 18);
      const uint8_t r = static_cast<uint8_t>(random()), g = static_cast<uint8_t>(random()),
                    b = static_cast<uint8_t>(random());
      for (int y = 0; y < tile; ++y)
        for (int x = 0; x < tile; ++x) {
          const int dx = x - cx, dy = y - cy;
          const int d2 = dx * dx + dy * dy;
          uint8_t* p = &pixels[((static_cast<size_t>(ty) * tile + y) * width + tx * tile + x) * 4];
          if (d2 > radius * radius) continue;
          if (d2 > (radius - 2) * (radius - 2)) {
            p[0] = p[1] = p[2] = 16;
            p[3] = 255;
            continue;
          }
          const int shade = 160 + (-dx - dy) * 2;
          const int noise = (random() % 8 == 0) ? static_cast<int>(random() % 9) - 4 : 0;
          auto channel = [&](int c) {
            int v = c * shade / 255 + noise;
            return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
          };
          p[0] = channel(b);
          p[1] = channel(g);
          p[2] = channel(r);
          p[3] = 255;
        }
    }
  return pixels;
}

std::vector<uint8_t> MakeRandom(size_t size) {
  std::mt19937 random(3);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random() >> 24);
  return bytes;
}

struct Result {
  double lzSpeed;
  double inflateSpeed;
  size_t lzSize;
  size_t zlibSize;
};

// Runs `body` until at least `seconds` have passed; MB/s of `bytes` a run.
template <typename Body>
double Measure(size_t bytes, double seconds, Body body) {
  body();  // warm the caches
  int runs = 0;
  const double start = Now();
  double elapsed = 0;
  do {
    body();
    ++runs;
    elapsed = Now() - start;
  } while (elapsed < seconds);
  return static_cast<double>(bytes) * runs / elapsed / (1024.0 * 1024.0);
}

bool Run(const char* name, const std::vector<uint8_t>& data, Result* result) {
  const std::vector<uint8_t> block = PackLZ(data.data(), data.size());
  uLongf zlibSize = compressBound(static_cast<uLong>(data.size()));
  std::vector<uint8_t> deflated(zlibSize);
  if (compress2(deflated.data(), &zlibSize, data.data(), static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION) != Z_OK) {
    printf("%s: deflate failed\n", name);
    return false;
  }
  std::vector<uint8_t> out(data.size());
  if (UnpackLZ(block.data(), out.data()) != static_cast<int>(data.size()) || out != data) {
    printf("%s: UnpackLZ gave other bytes\n", name);
    return false;
  }

  z_stream stream;
  memset(&stream, 0, sizeof(stream));
  inflateInit(&stream);
  auto inflateAll = [&]() {
    inflateReset(&stream);
    stream.next_in = deflated.data();
    stream.avail_in = static_cast<uInt>(zlibSize);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    return inflate(&stream, Z_FINISH) == Z_STREAM_END;
  };
  std::fill(out.begin(), out.end(), 0);
  if (!inflateAll() || out != data) {
    printf("%s: inflate gave other bytes\n", name);
    inflateEnd(&stream);
    return false;
  }

  result->lzSize = block.size();
  result->zlibSize = zlibSize;
  result->lzSpeed = Measure(data.size(), 1.0, [&]() { UnpackLZ(block.data(), out.data()); });
  result->inflateSpeed = Measure(data.size(), 1.0, [&]() { inflateAll(); });
  inflateEnd(&stream);
  printf("%-8s %10zu %10zu %6.1f%% %10zu %6.1f%% %10.1f %10.1f %7.2fx\n", name, data.size(), result->lzSize,
         100.0 * result->lzSize / data.size(), result->zlibSize, 100.0 * result->zlibSize / data.size(),
         result->lzSpeed, result->inflateSpeed, result->lzSpeed / result->inflateSpeed);
  return true;
}

}  // namespace

int main() {
  const std::vector<uint8_t> text = MakeText(8 << 20);
  const std::vector<uint8_t> image = MakeImage(2048, 1024);
  const std::vector<uint8_t> random = MakeRandom(8 << 20);
  std::vector<uint8_t> mix;
  mix.insert(mix.end(), text.begin(), text.end());
  mix.insert(mix.end(), image.begin(), image.end());
  mix.insert(mix.end(), random.begin(), random.end());

  printf("%-8s %10s %10s %7s %10s %7s %10s %10s %8s\n", "data", "bytes", "LZ", "", "zlib", "", "LZ MB/s",
         "zlib MB/s", "ratio");
  Result result;
  int ok = 1;
  ok &= Run("text", text, &result);
  ok &= Run("image", image, &result);
  ok &= Run("random", random, &result);
  ok &= Run("mix", mix, &result);
  return ok ? 0 : 1;
}
