// Plain per-pixel reference of the software renderer's blend arithmetic,
// written from the stated per-channel rules (not from the library's
// kernel), and reference walkers built on it. Slow on purpose.
#ifndef TESTS_SOFTRENDER_BLENDORACLE_H
#define TESTS_SOFTRENDER_BLENDORACLE_H

#include <stdint.h>

#include "RiRerEzi.h"

namespace oracle {

enum Family { POINT = 0, SHARED = 1 };
enum Form { FORM_NONE = 0, FORM_HALF, FORM_ADD255_PLAIN, FORM_SUB255_PLAIN, FORM_ADD255_BYTES, FORM_SUB255_BYTES };

// One pixel's inputs.
struct PixelInput {
  int bits;  // 32 or 16
  int family;
  int mode;  // after the parameter-255 rule of mode 1
  int param;
  uint32_t bright;   // 0x00RRGGBB
  bool mask;         // a mask weight is present
  int maskWeight;    // MaskAlphaRamp value
  bool alphaWeight;  // the source alpha takes part
  int alpha;
  bool alphaSource;  // the source has the alpha flag
  bool runPath;
  bool tintAfterAlpha;  // unused by callers; derived inside
  int form;             // FORM_* loop form of the point blit
};

// The destination pixel after drawing colour s over d (16-bit: low 16 bits).
uint32_t Pixel(const PixelInput& in, uint32_t s, uint32_t d);

// Point blit reference: the destination after BlitMemImg, computed from the
// draw state and MmxUsable as they are now.
void PointBlit(MEMIMG* dest, const MEMIMG* src, int x, int y, int transFlag, const MEMIMG* mask);

// Shared-family gating and pixel: draws source colour s (alpha a) over the
// destination pixel at p under the draw state; false when skipped.
bool SharedTexel(int bits, uint8_t* p, uint32_t s, int a, bool alphaSource, bool trans, bool mask, int maskByte,
                 bool palettised, int form = FORM_NONE);

// Scaled and rotated blit references (shared-family rules), each pixel
// found by its closed-form source position.
void ScaledBlit(MEMIMG* dest, const MEMIMG* src, const RECT* rect, int transFlag, const MEMIMG* mask);
void RotatedBlit(MEMIMG* dest, const MEMIMG* src, int centerX, int centerY, float angle, float scale, int transFlag,
                 const MEMIMG* mask);

}  // namespace oracle

#endif
