// Throughput of the software renderer's triangle and shape drawers into a
// 960 x 720 software screen, next to memcpy of the same screen's bytes timed
// in the same run: flat and textured triangle fill (Mpix/s, with alpha
// blending), filled circles and lines per second. Ratios are drawer speed
// over memcpy speed in pixels.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <vector>

#include "BenchTiming.h"
#include "RiRerEzi.h"
#include "RiRerEziDrawFunction3.h"
#include "RiRerEziDrawShape.h"
#include "VeRavoroString.h"

namespace {

enum { WIDTH = 960, HEIGHT = 720 };

// Pixels the rasteriser covers for these vertices inside the screen.
long long TrianglePixels(const TriangleVertex* v) {
  TriangleGeometry g;
  if (!SetUpTriangleGeometry(v, 0, &g)) return 0;
  long long n = 0;
  const RECT area{0, 0, WIDTH, HEIGHT};
  WalkTriangleRows(g, area, 0, [&](const TriangleSpan& s) { n += TriangleSpanLength(s, area.right); });
  return n;
}

void SetState(int mode, int param) {
  const RECT area{0, 0, WIDTH, HEIGHT};
  SetMemImgDrawArea(&area);
  SetMemImgBlendMode(mode, param);
  SetMemImgDrawBright(0xFFFFFF);
}

}  // namespace

int main() {
  BuildBlendLookupTables();
  for (int i = 0; i < 256; i++) MemImgDrawState.maskAlphaRamp[i] = static_cast<uint8_t>(i);

  MEMIMG screen32 = {}, screen16 = {}, tex32 = {}, texAlpha = {};
  CreateMemImg(&screen32, {WIDTH, HEIGHT, -1, 0, 1, 0, 0, 0, nullptr});
  CreateMemImg(&screen16, {WIDTH, HEIGHT, -1, 0, 0, 0, 0, 0, nullptr});
  CreateMemImg(&tex32, {256, 256, -1, 0, 1, 0, 0, 0, nullptr});
  CreateMemImg(&texAlpha, {256, 256, -1, 0, 1, 0, 1, 0, nullptr});
  for (int y = 0; y < 256; y++)
    for (int x = 0; x < 256; x++) {
      uint32_t v = static_cast<uint32_t>(x * 0x010203 + y * 0x030201) & 0xFFFFFF;
      memcpy(tex32.pixels + y * tex32.header->pitch + 4 * x, &v, 4);
      v |= static_cast<uint32_t>((x ^ y) & 0xFF) << 24;
      memcpy(texAlpha.pixels + y * texAlpha.header->pitch + 4 * x, &v, 4);
    }

  // memcpy of the whole 32-bit screen.
  std::vector<uint8_t> from(static_cast<size_t>(WIDTH) * HEIGHT * 4, 0x5A), to(from.size());
  const double copySeconds = BenchBestSeconds([&] { memcpy(to.data(), from.data(), from.size()); }, 5, 20);
  const double copyMpix = WIDTH * HEIGHT / copySeconds / 1e6;
  printf("%-44s %10.1f Mpix/s\n", "memcpy (32-bit screen)", copyMpix);

  // Two triangles covering the screen.
  const TriangleVertex upper[3] = {{0, 0, 0, 0}, {WIDTH, 0, 255, 0}, {0, HEIGHT, 0, 255}};
  const TriangleVertex lower[3] = {{WIDTH, 0, 255, 0}, {0, HEIGHT, 0, 255}, {WIDTH, HEIGHT, 255, 255}};
  const long long pixels = TrianglePixels(upper) + TrianglePixels(lower);

  struct TriCase {
    const char* name;
    MEMIMG* dest;
    const MEMIMG* src;
    int mode, param;
  };
  const TriCase tris[] = {
      {"flat triangle, 32-bit, mode 0", &screen32, nullptr, 0, 255},
      {"flat triangle, 32-bit, mode 1 (alpha 128)", &screen32, nullptr, 1, 128},
      {"flat triangle, 16-bit, mode 1 (alpha 128)", &screen16, nullptr, 1, 128},
      {"textured triangle, 32-bit, mode 0", &screen32, &tex32, 0, 255},
      {"textured triangle, 32-bit, mode 1 (128)", &screen32, &tex32, 1, 128},
      {"textured triangle, alpha source, mode 1", &screen32, &texAlpha, 1, 200},
  };
  for (const TriCase& t : tris) {
    SetState(t.mode, t.param);
    const double s = BenchBestSeconds(
        [&] {
          DrawTriangleMemImg(t.dest, t.src, upper, 0, nullptr, 0x80402010);
          DrawTriangleMemImg(t.dest, t.src, lower, 0, nullptr, 0x80402010);
        },
        5, 5);
    const double mpix = pixels / s / 1e6;
    printf("%-44s %10.1f Mpix/s  %5.3f x memcpy\n", t.name, mpix, mpix / copyMpix);
  }

  // Filled circles of radius 32 (3,209 pixels each) and lines of about 300
  // pixels, in mode 1.
  SetState(1, 128);
  const int circles = 2000;
  double s = BenchBestSeconds(
      [&] {
        for (int i = 0; i < circles; i++)
          DrawCircleMemImg(&screen32, 40 + (i * 37) % 880, 40 + (i * 53) % 640, 32, 0x00FF8040, 1);
      },
      5, 1);
  printf("%-44s %10.0f /s     %6.1f Mpix/s  %5.3f x memcpy\n", "filled circles r 32, 32-bit, mode 1", circles / s,
         circles * 3209.0 / s / 1e6, circles * 3209.0 / s / 1e6 / copyMpix);
  s = BenchBestSeconds(
      [&] {
        for (int i = 0; i < circles; i++)
          DrawCircleMemImg(&screen32, 40 + (i * 37) % 880, 40 + (i * 53) % 640, 32, 0x00FF8040, 0);
      },
      5, 1);
  printf("%-44s %10.0f /s\n", "circle outlines r 32, 32-bit, mode 1", circles / s);
  const int lines = 20000;
  auto drawLines = [&] {
    for (int i = 0; i < lines; i++) {
      const int x = (i * 37) % 600, y = (i * 53) % 400;
      DrawLineMemImg(&screen32, x, y, x + 300 - (i % 7) * 20, y + (i % 11) * 25, 0x00FF8040);
    }
  };
  s = BenchBestSeconds(drawLines, 5, 1);
  printf("%-44s %10.0f /s\n", "lines ~300 px, 32-bit, mode 1", lines / s);
  SetState(0, 255);
  s = BenchBestSeconds(drawLines, 5, 1);
  printf("%-44s %10.0f /s\n", "lines ~300 px, 32-bit, mode 0", lines / s);

  ReleaseMemImg(&screen32);
  ReleaseMemImg(&screen16);
  ReleaseMemImg(&tex32);
  ReleaseMemImg(&texAlpha);
  return 0;
}
