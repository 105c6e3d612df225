// UnpackLZ throughput next to zlib's inflate and LZ4's safe decoder on the
// same data: text, a game image's raw pixels, random bytes and the three
// together. Our packer and zlib (level 6) run at their usual settings, LZ4 as
// LZ4_compress_HC level 9. The first table gives packed sizes and packing
// speed, the second unpacking speed (best of many turns); all speeds in MB/s
// of unpacked data.
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>

#include <algorithm>
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
  const char* name = "";
  size_t bytes = 0;
  size_t lzSize = 0, zlibSize = 0, lz4Size = 0;
  double lzPack = 0, zlibPack = 0, lz4Pack = 0;  // MB/s
  double lzSpeed = 0, inflateSpeed = 0, lz4Speed = 0;
};

double MegabytesPerSecond(size_t bytes, double seconds) {
  return static_cast<double>(bytes) / seconds / (1024.0 * 1024.0);
}

// The three decoders take turns, one whole unpacking each, until `seconds`
// have passed; each one's best time counts, which keeps other work on the
// machine out of the ratios.
template <typename A, typename B, typename C>
void MeasureBest(size_t bytes, double seconds, A a, B b, C c, double* speedA, double* speedB, double* speedC) {
  a();  // warm the caches
  b();
  c();
  double best[3] = {1e30, 1e30, 1e30};
  const double start = Now();
  int rounds = 0;
  double u = start;
  do {
    double t = Now();
    a();
    u = Now();
    best[0] = std::min(best[0], u - t);
    b();
    t = Now();
    best[1] = std::min(best[1], t - u);
    c();
    u = Now();
    best[2] = std::min(best[2], u - t);
    ++rounds;
  } while (u - start < seconds || rounds < 5);
  *speedA = MegabytesPerSecond(bytes, best[0]);
  *speedB = MegabytesPerSecond(bytes, best[1]);
  *speedC = MegabytesPerSecond(bytes, best[2]);
}

bool Run(const char* name, const std::vector<uint8_t>& data, Result* result) {
  result->name = name;
  result->bytes = data.size();
  double t = Now();
  const std::vector<uint8_t> block = PackLZ(data.data(), data.size());
  result->lzPack = MegabytesPerSecond(data.size(), Now() - t);

  uLongf zlibSize = compressBound(static_cast<uLong>(data.size()));
  std::vector<uint8_t> deflated(zlibSize);
  t = Now();
  if (compress2(deflated.data(), &zlibSize, data.data(), static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION) !=
      Z_OK) {
    printf("%s: deflate failed\n", name);
    return false;
  }
  result->zlibPack = MegabytesPerSecond(data.size(), Now() - t);

  const int dataSize = static_cast<int>(data.size());
  std::vector<char> lz4(LZ4_compressBound(dataSize));
  t = Now();
  const int lz4Size = LZ4_compress_HC(reinterpret_cast<const char*>(data.data()), lz4.data(), dataSize,
                                      static_cast<int>(lz4.size()), 9);
  result->lz4Pack = MegabytesPerSecond(data.size(), Now() - t);
  if (lz4Size <= 0) {
    printf("%s: LZ4_compress_HC failed\n", name);
    return false;
  }

  std::vector<uint8_t> out(data.size());
  if (UnpackLZ(block.data(), out.data()) != dataSize || out != data) {
    printf("%s: UnpackLZ gave other bytes\n", name);
    return false;
  }
  std::fill(out.begin(), out.end(), 0);
  if (LZ4_decompress_safe(lz4.data(), reinterpret_cast<char*>(out.data()), lz4Size, dataSize) != dataSize ||
      out != data) {
    printf("%s: LZ4_decompress_safe gave other bytes\n", name);
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
  result->lz4Size = static_cast<size_t>(lz4Size);
  MeasureBest(
      data.size(), 3.0, [&]() { UnpackLZ(block.data(), out.data()); }, [&]() { inflateAll(); },
      [&]() { LZ4_decompress_safe(lz4.data(), reinterpret_cast<char*>(out.data()), lz4Size, dataSize); },
      &result->lzSpeed, &result->inflateSpeed, &result->lz4Speed);
  inflateEnd(&stream);
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

  Result results[4];
  int ok = 1;
  ok &= Run("text", text, &results[0]);
  ok &= Run("image", image, &results[1]);
  ok &= Run("random", random, &results[2]);
  ok &= Run("mix", mix, &results[3]);
  if (!ok) return 1;

  printf("Packed sizes (%% of the data) and packing speed (MB/s)\n");
  printf("%-8s %10s %7s %7s %7s %8s %9s %9s %9s\n", "data", "bytes", "LZ", "zlib", "LZ4", "LZ/zlib", "LZ pack",
         "zlib pack", "LZ4 pack");
  for (const Result& r : results) {
    const double n = static_cast<double>(r.bytes);
    printf("%-8s %10zu %6.1f%% %6.1f%% %6.1f%% %7.3fx %9.1f %9.1f %9.1f\n", r.name, r.bytes, 100.0 * r.lzSize / n,
           100.0 * r.zlibSize / n, 100.0 * r.lz4Size / n, static_cast<double>(r.lzSize) / r.zlibSize, r.lzPack,
           r.zlibPack, r.lz4Pack);
  }
  printf("\nUnpacking speed (MB/s of unpacked data)\n");
  printf("%-8s %10s %10s %10s %10s %10s\n", "data", "UnpackLZ", "inflate", "LZ4 safe", "LZ/inflate", "LZ/LZ4");
  for (const Result& r : results)
    printf("%-8s %10.1f %10.1f %10.1f %9.2fx %9.2fx\n", r.name, r.lzSpeed, r.inflateSpeed, r.lz4Speed,
           r.lzSpeed / r.inflateSpeed, r.lzSpeed / r.lz4Speed);
  return 0;
}
