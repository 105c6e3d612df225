// Throughput of ConvertColorBlt for the conversions the library uses most,
// at the game's screen size, next to a plain memcpy timed in the same run:
// of the source image's bytes, and of the destination image's bytes (the
// conversion reads the one and writes the other). Ratios are memcpy speed
// over conversion speed.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <vector>

#include "BenchTiming.h"
#include "ReReziRader.h"

namespace {

// Best time of one call over seven rounds of ten calls.
template <typename F>
double BestSeconds(F call) {
  return BenchBestSeconds(call, 7, 10);
}

enum { WIDTH = 960, HEIGHT = 720 };
const double MEGAPIXELS = WIDTH * HEIGHT / 1e6;

ColorFormatRecord Format(int (*make)(ColorFormatRecord*)) {
  ColorFormatRecord f;
  memset(&f, 0, sizeof(f));
  make(&f);
  return f;
}

struct Case {
  const char* name;
  ColorFormatRecord src, dest;
  int keyToAlpha;
  int reduction;
};

}  // namespace

int main() {
  ColorFormatRecord argb8 = Format(MakeColorFormatARGB8);
  ColorFormatRecord xrgb8 = Format(MakeColorFormatXRGB8);
  ColorFormatRecord rgb8 = Format(MakeColorFormatRGB8);
  ColorFormatRecord f565;
  MakeColorFormatFromMasks(&f565, 16, 0xf800, 0x7e0, 0x1f, 0, 0, 0, 0);

  const Case cases[] = {
      {"ARGB8 -> XRGB8", argb8, xrgb8, 0, BLT_REDUCE_NONE},
      {"ARGB8 -> 5-6-5", argb8, f565, 0, BLT_REDUCE_NONE},
      {"ARGB8 -> 5-6-5 ordered dither", argb8, f565, 0, BLT_REDUCE_ORDERED_DITHER},
      {"ARGB8 -> 5-6-5 carried dither", argb8, f565, 0, BLT_REDUCE_CARRY},
      {"5-6-5 -> ARGB8", f565, argb8, 0, BLT_REDUCE_NONE},
      {"5-6-5 -> ARGB8 key colour", f565, argb8, 1, BLT_REDUCE_NONE},
      {"XRGB8 -> ARGB8 key colour", xrgb8, argb8, 1, BLT_REDUCE_NONE},
      {"RGB8 -> ARGB8 key colour", rgb8, argb8, 1, BLT_REDUCE_NONE},
  };

  printf("ConvertColorBlt at %d x %d (%.3f megapixels per call)\n", WIDTH, HEIGHT, MEGAPIXELS);
  printf("%-32s %9s %11s %7s %11s %7s\n", "conversion", "MP/s", "memcpy src", "ratio", "memcpy dest", "ratio");
  for (const Case& c : cases) {
    BaseImageRecord src, dest;
    if (CreateBaseImageWithFormat(WIDTH, HEIGHT, &c.src, &src) != 0 ||
        CreateBaseImageWithFormat(WIDTH, HEIGHT, &c.dest, &dest) != 0) {
      printf("%s: no memory\n", c.name);
      return 1;
    }
    uint32_t seed = 0x1234567;
    uint8_t* bytes = reinterpret_cast<uint8_t*>(src.pixels);
    const size_t srcBytes = static_cast<size_t>(src.pitch) * HEIGHT;
    for (size_t i = 0; i < srcBytes; i++) {
      seed = seed * 1664525u + 1013904223u;
      bytes[i] = static_cast<uint8_t>(seed >> 24);
    }
    // About one pixel in sixteen is the key colour.
    const uint32_t key = 0xff00ff;
    const uint32_t keyPixel = MakeFormatPixelFromRGBA(&c.src, 0xff, 0, 0xff, 0);
    for (int y = 0; y < HEIGHT; y++)
      for (int x = 0; x < WIDTH; x += 16)
        WritePixelBytes(bytes + y * src.pitch + x * c.src.bytesPerPixel, c.src.bytesPerPixel, keyPixel);

    RECT rect = {0, 0, WIDTH, HEIGHT};
    double convert = BestSeconds([&] {
      ConvertColorBlt(dest.pixels, dest.pitch, &dest.format, src.pixels, src.pitch, &src.format, nullptr, 0, nullptr, 0,
                      0, &rect, 0, c.keyToAlpha, key, c.reduction, 0, 0, 0, 0);
    });
    const size_t destBytes = static_cast<size_t>(dest.pitch) * HEIGHT;
    std::vector<uint8_t> copy(srcBytes > destBytes ? srcBytes : destBytes);
    double srcCopy = BestSeconds([&] { memcpy(copy.data(), src.pixels, srcBytes); });
    double destCopy = BestSeconds([&] { memcpy(dest.pixels, copy.data(), destBytes); });
    const double rate = MEGAPIXELS / convert;
    const double srcRate = MEGAPIXELS / srcCopy, destRate = MEGAPIXELS / destCopy;
    printf("%-32s %9.1f %11.1f %6.2fx %11.1f %6.2fx\n", c.name, rate, srcRate, srcRate / rate, destRate,
           destRate / rate);
    ReleaseBaseImage(&src);
    ReleaseBaseImage(&dest);
  }
  return 0;
}
