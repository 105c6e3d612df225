// Graphic filters and blends in software: the per-pixel loops of every
// filter and blend over ARGB8 base images (bytes blue, green, red, alpha).
// Each takes its arguments in the form the filter entry hands to the
// families (floats as converted there, colours as four floats 0..1) and
// writes the output image, which has the output size (the source's, or the
// shrunk size for DownScale). Rows run top to bottom, pixels left to right.
#ifndef VUVIDEREZA_FILTERSOFT_H
#define VUVIDEREZA_FILTERSOFT_H

#include "ReReziRader.h"

enum {
  FILTER_COMPARE_LESS = 2,
  FILTER_COMPARE_GREATER = 5,
  GAUSS_MAX_HALF = 16,
};

// Mono: Cb', Cr' = Cb, Cr x 100 / 255.
int SoftFilterMono(const BaseImageRecord* source, BaseImageRecord* output, float cb, float cr);
// BrightClip: compare 2 (less) or 5 (greater); threshold 0..255; fill
// colour (four floats) when fill is not 0. Unfilled clipped pixels keep the
// output's pixel. -1 for another compare or a fill without its colour.
int SoftFilterBrightClip(const BaseImageRecord* source, BaseImageRecord* output, int compare, float threshold, int fill,
                         const float* fillColor);
// Hsb: hue mode 0 relative / 1 absolute, hue in degrees, saturation' and
// brightness' = value x 100 / 255.
int SoftFilterHsb(const BaseImageRecord* source, BaseImageRecord* output, int hueMode, float hue, float saturation,
                  float brightness);
int SoftFilterInvert(const BaseImageRecord* source, BaseImageRecord* output);
// Level: minimum, maximum, output minimum and maximum 0..255, gamma (1.0
// neutral). -1 when the input range is empty after clamping.
int SoftFilterLevel(const BaseImageRecord* source, BaseImageRecord* output, float minimum, float maximum, float gamma,
                    float outMinimum, float outMaximum);
// TwoColor: threshold 0..255; colours as four floats each. -1 without them.
int SoftFilterTwoColor(const BaseImageRecord* source, BaseImageRecord* output, float threshold, const float* dark,
                       const float* bright);
// GradientMap: the gradient's first row (any width >= 1); reverse flag.
int SoftFilterGradientMap(const BaseImageRecord* source, BaseImageRecord* output, const BaseImageRecord* gradient,
                          int reverse);
int SoftFilterPremultipliedAlpha(const BaseImageRecord* source, BaseImageRecord* output);
int SoftFilterInterpolatedAlpha(const BaseImageRecord* source, BaseImageRecord* output);
// Gauss: pixel width (8, 16, 32 by range), strength = variance (caller's
// value / 100). Both passes; -1 when the work image cannot be made (output
// untouched).
int SoftFilterGauss(const BaseImageRecord* source, BaseImageRecord* output, int pixelWidth, float strength);
// DownScale: divisor 2, 4, 8 by range; output is source / divisor.
int SoftFilterDownScale(const BaseImageRecord* source, BaseImageRecord* output, int divisor);
// Blend types 0 and 2-16; ratio 0..1. The blend image has the source's size.
int SoftBlendBasic(const BaseImageRecord* source, const BaseImageRecord* blend, BaseImageRecord* output, int type,
                   float ratio);
// RGBA mix: selectors 0-3 source R, G, B, A, 4-7 blend R, G, B, A; others
// leave the output channel.
int SoftBlendRgbaMix(const BaseImageRecord* source, const BaseImageRecord* blend, BaseImageRecord* output, int red,
                     int green, int blue, int alpha);

// Kernel sizes and weights shared with the shader path.
int GaussKernelWidth(int pixelWidth);  // 8, 16 or 32
int DownScaleDivisor(int divisor);     // 2, 4 or 8
// The normalised Gaussian weights w_0 .. w_(half-1) for a strength, cached
// (recomputed when the strength moves by more than 0.0002 or the width
// changes); nullptr below strength 1e-7.
const float* GaussWeights(int width, float strength);
// Entry i of the Level gamma table: pow(i / 255, 1 / gamma) x 255, truncated
// and at most 255.
int LevelGammaEntry(int i, float gamma);

#endif  // VUVIDEREZA_FILTERSOFT_H
