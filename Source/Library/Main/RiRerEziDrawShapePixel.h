// Software renderer: flat-colour pixel operations shared by the shape drawers
// and the flat triangle spans. The colour is tinted once per call, then every
// covered pixel goes through the shared blend kernel (BlendKernel) with no
// mask, no source alpha and no further tint, so that mode 10 inverts the
// tinted colour.
//
// The two families differ only in the tint's divisor:
//   FLAT_TINT_TABLE: c * b / 255 through BlendProductTable (triangles);
//   FLAT_TINT_SHIFT: c * b / 256 by a shift, skipped for white (shapes).
#ifndef RIRER_EZI_DRAW_SHAPE_PIXEL_H
#define RIRER_EZI_DRAW_SHAPE_PIXEL_H

#include <cstdint>

#include "RiRerEziDrawFunction.h"

enum FlatTint { FLAT_TINT_TABLE = 0, FLAT_TINT_SHIFT = 1 };

// The tinted colour: 32-bit keeps its fourth byte; 16-bit is repacked 5-6-5
// with the upper 16 bits zero.
uint32_t TintFlatColor(uint32_t color, int bits, uint32_t bright, FlatTint tint);

// One flat draw call, settled before the first pixel.
struct FlatBlend {
  BlendCall call;  // resolved mode (1 at 255 runs 0) and the table rows
  uint32_t color;  // after the tint
  int bits;        // 32 or 16
};

// Reads MemImgDrawState: colour type (1 = 32-bit, 0 = 16-bit), blend mode
// and parameter tests, and the tint. -1: the call draws nothing.
int PrepareFlatBlend(FlatBlend* blend, int colorType, uint32_t color, FlatTint tint);

// Runs walk.template Walk<Bits>(op) with op(uint8_t* pixel) the call's kernel
// operation, chosen once per call.
template <class Walker>
struct FlatBlendVisitor {
  const FlatBlend& blend;
  Walker& walker;
  template <int Bits, int Mode, unsigned Flags>
  void Run() {
    // A local copy: the pixel writes cannot alias it.
    const BlendCall call = blend.call;
    const uint32_t color = blend.color;
    walker.template Walk<Bits>([&call, color](uint8_t* pixel) {
      BlendKernel<Bits, Mode, Flags>::template Blend<false>(pixel, color, 0, 0, call);
    });
  }
};

template <class Walker>
inline void RunFlatBlend(const FlatBlend& blend, Walker& walker) {
  FlatBlendVisitor<Walker> visitor{blend, walker};
  const BlendSelection selection{blend.bits, blend.call.mode, 0u};
  SelectBlend<0u, 0u>(selection, visitor);
}

#endif  // RIRER_EZI_DRAW_SHAPE_PIXEL_H
