// Shared helpers of the software-renderer tests: owned software images,
// random fills and a draw-state reset.
#ifndef TESTS_SOFTRENDER_SOFTIMAGEFIXTURE_H
#define TESTS_SOFTRENDER_SOFTIMAGEFIXTURE_H

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "RiRerEzi.h"
#include "RiRerEziDrawFunction.h"
#include "VeRavoroString.h"

// A software image released at scope end.
struct OwnedMemImg {
  MEMIMG image;
  OwnedMemImg() { memset(&image, 0, sizeof(image)); }
  ~OwnedMemImg() { ReleaseMemImg(&image); }
  OwnedMemImg(const OwnedMemImg&) = delete;
  OwnedMemImg& operator=(const OwnedMemImg&) = delete;
  MEMIMG* operator->() { return &image; }
  MEMIMG* get() { return &image; }
};

inline int BytesOf(const MEMIMG* m) { return MemImgBytesPerPixel(m); }

inline uint32_t GetPixel(const MEMIMG* m, int x, int y) {
  uint32_t v = 0;
  memcpy(&v, m->pixels + static_cast<size_t>(m->header->pitch) * y + static_cast<size_t>(BytesOf(m)) * x,
         static_cast<size_t>(BytesOf(m)));
  return v;
}
inline void PutPixel(MEMIMG* m, int x, int y, uint32_t v) {
  memcpy(m->pixels + static_cast<size_t>(m->header->pitch) * y + static_cast<size_t>(BytesOf(m)) * x, &v,
         static_cast<size_t>(BytesOf(m)));
}

// Copies the whole pixel block (same size and format assumed).
inline void CopyPixels(MEMIMG* to, const MEMIMG* from) {
  memcpy(to->header->pixelBlock, from->header->pixelBlock,
         static_cast<size_t>(from->header->pitch) * from->header->height);
}
inline bool SamePixels(const MEMIMG* a, const MEMIMG* b) {
  return memcmp(a->header->pixelBlock, b->header->pixelBlock,
                static_cast<size_t>(a->header->pitch) * a->header->height) == 0;
}

// Draw state back to: whole area of w x h, mode 0, parameter 255, white,
// identity ramp.
inline void ResetDrawState(int w, int h) {
  BuildBlendLookupTables();
  RECT area = {0, 0, w, h};
  SetMemImgDrawArea(&area);
  SetMemImgBlendMode(0, 255);
  SetMemImgDrawBright(0xFFFFFF);
  SetMaskAlphaRamp(128, 255);
}

enum SourceKind { DIRECT = 0, ALPHA = 1, PALETTISED = 2 };

// Random source pixels of the kind, with the transparent colour, alpha 0
// and 255 and (32-bit) near-misses of the key in the fourth byte mixed in;
// palettised sources get a random full palette.
inline void FillRandomSource(MEMIMG* src, int kind, int bits, std::mt19937& rng) {
  MemImgHeader* h = src->header;
  for (int y = 0; y < src->height; y++) {
    for (int x = 0; x < src->width; x++) {
      uint32_t v = rng();
      int pick = static_cast<int>(rng() % 6);
      if (kind == PALETTISED) {
        v = pick == 0 ? h->transparentColor : (v & 0xFF);
      } else if (kind == ALPHA) {
        uint32_t a = pick == 0 ? 0 : (pick == 1 ? 255 : (pick == 2 ? 255 : (v >> 24)));
        if (bits == 32) v = (v & 0xFFFFFF) | (a << 24);
        else v = (v & 0xFF00FFFFu) | (a << 16);
      } else {
        if (bits == 16) v &= 0xFFFF;
        if (pick == 0) v = h->transparentColor;
        // Equal in the colour bytes but not in the fourth: drawn.
        if (pick == 1 && bits == 32) v = h->transparentColor ^ 0x01000000u;
      }
      PutPixel(src, x, y, v);
    }
  }
  if (kind == PALETTISED) {
    for (int i = 0; i < 256; i++) {
      uint32_t e = rng();
      if (bits == 16) {
        uint16_t w = static_cast<uint16_t>(e);
        memcpy(h->palette + 2 * i, &w, 2);
      } else {
        memcpy(h->palette + 4 * i, &e, 4);
      }
    }
    h->paletteEntriesUsed = 256;
  }
}

#endif
