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
  memcpy(&v, m->pixels + (size_t)m->header->pitch * y + (size_t)BytesOf(m) * x, (size_t)BytesOf(m));
  return v;
}
inline void PutPixel(MEMIMG* m, int x, int y, uint32_t v) {
  memcpy(m->pixels + (size_t)m->header->pitch * y + (size_t)BytesOf(m) * x, &v, (size_t)BytesOf(m));
}

// Copies the whole pixel block (same size and format assumed).
inline void CopyPixels(MEMIMG* to, const MEMIMG* from) {
  memcpy(to->header->pixelBlock, from->header->pixelBlock, (size_t)from->header->pitch * from->header->height);
}
inline bool SamePixels(const MEMIMG* a, const MEMIMG* b) {
  return memcmp(a->header->pixelBlock, b->header->pixelBlock, (size_t)a->header->pitch * a->header->height) == 0;
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

#endif
