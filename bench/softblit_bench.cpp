// Software blits: 55 x 80 sprites into a 960 x 720 software screen, in
// megapixels per second of destination, next to memcpy of the same rows and
// next to the reference loop of the tests (BlendOracle) on the same draw.
// Sprites: an ellipse with a soft edge (alpha 0 outside, 255 inside, a ramp
// between; or the transparent colour outside for the key-colour cases).
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <vector>

#include "BenchTiming.h"
#include "BlendOracle.h"
#include "RiRerEzi.h"
#include "RiRerEziDrawFunction.h"
#include "VeRavoroString.h"

namespace {

// Best time of one call over `rounds` rounds.
template <typename F>
double BestSeconds(F call, int rounds = 25) {
  return BenchBestSeconds(call, rounds, 1);
}

enum { SCREEN_W = 960, SCREEN_H = 720, SPRITE_W = 55, SPRITE_H = 80, SPRITES = 400 };


struct Position {
  int x, y;
};

std::vector<Position> Positions(int w, int h) {
  std::vector<Position> out;
  uint32_t seed = 99;
  for (int i = 0; i < SPRITES; i++) {
    seed = seed * 1103515245u + 12345u;
    int x = static_cast<int>((seed >> 8) % static_cast<uint32_t>(SCREEN_W - w));
    seed = seed * 1103515245u + 12345u;
    int y = static_cast<int>((seed >> 8) % static_cast<uint32_t>(SCREEN_H - h));
    out.push_back({x, y});
  }
  return out;
}

// Alpha 0..255 of the soft ellipse at (x, y).
int EllipseAlpha(int x, int y) {
  double dx = (x + 0.5 - SPRITE_W / 2.0) / (SPRITE_W / 2.0), dy = (y + 0.5 - SPRITE_H / 2.0) / (SPRITE_H / 2.0);
  double r = dx * dx + dy * dy;
  if (r >= 1.0) return 0;
  if (r <= 0.8) return 255;
  return static_cast<int>((1.0 - r) / 0.2 * 255.0);
}

void MakeSprite(MEMIMG* m, int bits, int alpha, int key) {
  int type = bits == 32 ? MEMIMG_COLOR_32 : MEMIMG_COLOR_16;
  uint32_t keyValue = bits == 32 ? 0x00FF00FFu : 0xF81Fu;
  memset(m, 0, sizeof(*m));
  CreateMemImg(m, {SPRITE_W, SPRITE_H, -1, keyValue, type, 0, alpha, 1, nullptr});
  for (int y = 0; y < SPRITE_H; y++) {
    for (int x = 0; x < SPRITE_W; x++) {
      int a = EllipseAlpha(x, y);
      uint32_t color32 = 0x203040u + static_cast<uint32_t>(x * 3) * 0x10000u + static_cast<uint32_t>(y * 2) * 0x100u +
                         static_cast<uint32_t>(x);
      uint32_t color16 = (((color32 >> 19) & 31) << 11) | (((color32 >> 10) & 63) << 5) | ((color32 >> 3) & 31);
      uint32_t v;
      if (alpha)
        v = bits == 32 ? (color32 | (static_cast<uint32_t>(a) << 24)) : (color16 | (static_cast<uint32_t>(a) << 16));
      else if (key && a == 0) v = keyValue;
      else v = bits == 32 ? color32 : color16;
      memcpy(m->pixels + static_cast<size_t>(m->header->pitch) * y + static_cast<size_t>(MemImgBytesPerPixel(m)) * x,
             &v, static_cast<size_t>(MemImgBytesPerPixel(m)));
    }
  }
  BuildMemImgRunData(m);
  m->header->runDataValid = 1;
}

void NoRuns(MEMIMG* m) { m->header->runDataValid = 0; }

struct Row {
  const char* name;
  double mpix;
  double oracleMpix;
};

double Mpix(double seconds, double pixels) { return pixels / seconds / 1e6; }

}  // namespace

int main() {
  BuildBlendLookupTables();
  std::vector<Position> at = Positions(SPRITE_W, SPRITE_H);
  const double pixels = static_cast<double>(SPRITES) * SPRITE_W * SPRITE_H;
  printf("Software blits: %d sprites of %d x %d into a %d x %d screen; Mpix/s of destination (best of 25 rounds)\n",
         SPRITES, SPRITE_W, SPRITE_H, SCREEN_W, SCREEN_H);
  printf("MMX usable: %d, AVX2 usable: %d\n\n", MmxUsable, Avx2Usable);

  for (int bits : {32, 16}) {
    MEMIMG screen = {};
    CreateMemImgOfColorType(&screen, SCREEN_W, SCREEN_H, bits == 32 ? MEMIMG_COLOR_32 : MEMIMG_COLOR_16);
    FillMemImgRectRaw(&screen, nullptr, 0x00336699);
    RECT area = {0, 0, SCREEN_W, SCREEN_H};
    SetMemImgDrawArea(&area);
    SetMemImgDrawBright(0xFFFFFF);
    MEMIMG opaque, keyed, alpha;
    MakeSprite(&opaque, bits, 0, 0);
    MakeSprite(&keyed, bits, 0, 1);
    MakeSprite(&alpha, bits, 1, 0);
    int srcBytes = MemImgBytesPerPixel(&opaque);

    double memcpySeconds = BestSeconds([&] {
      for (const Position& p : at)
        for (int y = 0; y < SPRITE_H; y++)
          memcpy(screen.pixels + static_cast<size_t>(screen.header->pitch) * (p.y + y) +
                     static_cast<size_t>(srcBytes) * p.x,
                 opaque.pixels + static_cast<size_t>(opaque.header->pitch) * y,
                 static_cast<size_t>(srcBytes) * SPRITE_W);
    });
    double memcpyMpix = Mpix(memcpySeconds, pixels);

    struct Case {
      const char* name;
      MEMIMG* sprite;
      int mode, param, trans, runs;
    } cases[] = {
        {"opaque copy (mode 0, flag 0)", &opaque, 0, 255, 0, 0},
        {"key-colour copy, general path (flag 2)", &keyed, 0, 255, 2, 0},
        {"key-colour copy, run-coded path (flag 1)", &keyed, 0, 255, 1, 1},
        {"alpha blend mode 1 P=255, alpha source, general", &alpha, 1, 255, 2, 0},
        {"alpha blend mode 1 P=255, alpha source, run-coded", &alpha, 1, 255, 1, 1},
        {"alpha blend mode 1 P=200, alpha source, general", &alpha, 1, 200, 2, 0},
        {"alpha blend mode 1 P=200, alpha source, flag 0", &alpha, 1, 200, 0, 0},
        {"additive mode 2 P=255, key source (P=255 form)", &keyed, 2, 255, 2, 0},
        {"additive mode 2 P=255, alpha source, general", &alpha, 2, 255, 2, 0},
        {"additive mode 2 P=128, alpha source, general", &alpha, 2, 128, 2, 0},
    };
    printf("%d-bit screen                                       Mpix/s   x memcpy   x reference loop\n", bits);
    printf("  memcpy of the same rows                        %8.0f\n", memcpyMpix);
    // With the AVX2 rows, the alpha cases again without them.
    const int machineAvx2 = Avx2Usable;
    for (int avx2 = machineAvx2; avx2 >= 0; avx2--) {
      Avx2Usable = avx2;
      if (machineAvx2 && !avx2) printf("  with the AVX2 rows off:\n");
      for (const Case& c : cases) {
        if (machineAvx2 && !avx2 && c.sprite != &alpha) continue;
        if (c.runs) {
          BuildMemImgRunData(c.sprite);
          c.sprite->header->runDataValid = 1;
        } else {
          NoRuns(c.sprite);
        }
        SetMemImgBlendMode(c.mode, c.param);
        double seconds = BestSeconds([&] {
          for (const Position& p : at) BlitMemImg(&screen, c.sprite, p.x, p.y, c.trans, nullptr);
        });
        // The reference loop on a tenth of the sprites.
        double oracleSeconds = BestSeconds(
            [&] {
              for (int i = 0; i < SPRITES / 10; i++)
                oracle::PointBlit(&screen, c.sprite, at[i].x, at[i].y, c.trans, nullptr);
            },
            2);
        double mpix = Mpix(seconds, pixels);
        double oracleMpix = Mpix(oracleSeconds, pixels / 10);
        printf("  %-46s %8.0f   %6.2f     %7.1f\n", c.name, mpix, mpix / memcpyMpix, mpix / oracleMpix);
      }
      // Scaled and rotated alpha blends (destination pixels).
      SetMemImgBlendMode(1, 255);
      NoRuns(&alpha);
      {
        int w = SPRITE_W * 3 / 2, h = SPRITE_H * 3 / 2;
        std::vector<Position> at2 = Positions(w, h);
        double scaledPixels = static_cast<double>(SPRITES) * w * h;
        double seconds = BestSeconds([&] {
          for (const Position& p : at2) {
            RECT r = {p.x, p.y, p.x + w, p.y + h};
            BlitScaledMemImg(&screen, &alpha, &r, 1, nullptr);
          }
        });
        double oracleSeconds = BestSeconds(
            [&] {
              for (int i = 0; i < SPRITES / 10; i++) {
                RECT r = {at2[i].x, at2[i].y, at2[i].x + w, at2[i].y + h};
                oracle::ScaledBlit(&screen, &alpha, &r, 1, nullptr);
              }
            },
            2);
        double mpix = Mpix(seconds, scaledPixels);
        printf("  %-46s %8.0f   %6.2f     %7.1f\n", "scaled 1.5x alpha blend (mode 1 P=255)", mpix, mpix / memcpyMpix,
               mpix / Mpix(oracleSeconds, scaledPixels / 10));
      }
      {
        // Destination pixels of a turned 55 x 80 sprite: its area.
        std::vector<Position> at2 = Positions(100, 100);
        double seconds = BestSeconds([&] {
          for (const Position& p : at2)
            BlitRotatedMemImg(&screen, &alpha, {p.x + 50, p.y + 50, 0.5235988f, 1.0f, 1, 0}, nullptr);
        });
        double mpix = Mpix(seconds, pixels);
        double oracleSeconds = BestSeconds(
            [&] {
              for (int i = 0; i < SPRITES / 10; i++)
                oracle::RotatedBlit(&screen, &alpha, at2[i].x + 50, at2[i].y + 50, 0.5235988f, 1.0f, 1, nullptr);
            },
            2);
        printf("  %-46s %8.0f   %6.2f     %7.1f\n", "rotated 30 degrees alpha blend (mode 1 P=255)", mpix,
               mpix / memcpyMpix, mpix / Mpix(oracleSeconds, pixels / 10));
      }
    }
    Avx2Usable = machineAvx2;
    printf("\n");
    ReleaseMemImg(&opaque);
    ReleaseMemImg(&keyed);
    ReleaseMemImg(&alpha);
    ReleaseMemImg(&screen);
  }
  return 0;
}
