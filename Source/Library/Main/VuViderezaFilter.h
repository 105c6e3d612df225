// Graphic filters and blends: the entry (validation, clipping, passes), the
// filter draw state and work targets, the shader pass (filter shaders by
// name, the filter quad), the software frame over ARGB8 images and the
// families of every filter and blend type.
#ifndef VUVIDEREZA_FILTER_H
#define VUVIDEREZA_FILTER_H

#include <windows.h>
#include <d3d9.h>

#include "ReReziRader.h"

enum {
  FILTER_MONO = 0,
  FILTER_GAUSS = 1,
  FILTER_DOWN_SCALE = 2,
  FILTER_BRIGHT_CLIP = 3,
  FILTER_HSB = 4,
  FILTER_INVERT = 5,
  FILTER_LEVEL = 6,
  FILTER_TWO_COLOR = 7,
  FILTER_GRADIENT_MAP = 8,
  FILTER_PREMUL_ALPHA = 9,
  FILTER_INTERP_ALPHA = 10,
  FILTER_TYPES = 11,
  GRAPH_BLEND_RGBA_MIX = 1,
  GRAPH_BLEND_TYPES = 17,
  GRAPH_FILTER_MAX_ARGS = 8,
  FILTER_WORK_SLOTS = 3,      // two pass targets and a copy of the source
  FILTER_SAVED_TARGETS = 16,  // render-target indices a filter pass saves
};

// The packed arguments of a type, in the order of its table (ints).
struct GraphFilterArgs {
  int count;
  int v[GRAPH_FILTER_MAX_ARGS];
};

struct GraphFilterInfo {
  int isBlend;
  int type;
  int source;
  int blendGraph;
  int target;
  float blendRatio;  // 0..1
  int pass;
  int x1, y1, x2, y2;
  int blendX, blendY;
  int useBlendPosition;
  int destX, destY;
  int outWidth, outHeight;
  BaseImageRecord sourceImage, blendImage, outputImage;
};

// What the filter passes change, saved and restored around them.
struct FilterDrawSave {
  IDirect3DSurface9* renderTargets[FILTER_SAVED_TARGETS];
  IDirect3DSurface9* depthSurface;
  int blendMode, blendParam;
  int samplingMode;
  int alphaTestMode, alphaTestRef;
  int fogEnable;
};

// The start-up self-test's result (the filter shaders give exact results)
// is GraphicsSystem.filtersExact.

int ApplyGraphFilter(int graphic, int type, const GraphFilterArgs& args);
// One filter or blend: the source rectangle (x2, y2 exclusive) into dest at
// (destX, destY); a blend mixes in the blend graphic by blendRatio
// (0..255), read at (blendX, blendY) with useBlendPosition.
struct GraphFilterRequest {
  int isBlend = 0;
  int source = -1, blendGraph = -1, dest = -1;
  int blendRatio = 0;
  int type = 0;
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  int blendX = 0, blendY = 0;
  int useBlendPosition = 0;
  int destX = 0, destY = 0;
};
int ApplyGraphFilterOrBlend(const GraphFilterRequest& request, const GraphFilterArgs& args);
// Passes per type (filters, then blends) and the types' own work flags.
int GraphFilterPassCount(int isBlend, int type, const GraphFilterArgs& args);

int BeginFilterDrawState(FilterDrawSave* save);
void EndFilterDrawState(FilterDrawSave* save);
// A render-target graphic of the size (alpha: with an alpha channel) in work
// slot 0..2, kept between calls; -1 when none can be made.
int GetFilterWorkTarget(int slot, int width, int height, int alpha);
// Deletes the kept work targets.
void ReleaseFilterWorkTargets();

// Shader pass: the filter shader of the archive by file name (a handle, or
// -1 with the log line), its float constants and one quad from the pass
// source into the pass target; divisor 1, 2, 4 or 8.
int LoadFilterShaderByName(const char* name);
int DrawFilterQuad(GraphFilterInfo* info, int shader, const float* constants, int constantCount, int stage1,
                   int divisor);
// Software frame: reads the pass source (and blend) rectangle into ARGB8
// images and the output image (blank, or the destination's pixels);
// EndSoftwareFilter writes the output into the target and frees them.
int BeginSoftwareFilter(GraphFilterInfo* info, int blankOutput, int outWidth, int outHeight);
int EndSoftwareFilter(GraphFilterInfo* info);

// Families: 0, or -1 on refusal or failure.
int FilterMono(GraphFilterInfo* info, float cb, float cr);
int FilterGauss(GraphFilterInfo* info, int pixelWidth, float strength);
int FilterDownScale(GraphFilterInfo* info, int divisor);
int FilterBrightClip(GraphFilterInfo* info, int compare, float threshold, int fill, const float* fillColor);
int FilterHsb(GraphFilterInfo* info, int hueMode, float hue, float saturation, float brightness);
int FilterInvert(GraphFilterInfo* info);
int FilterLevel(GraphFilterInfo* info, float minimum, float maximum, float gamma, float outMinimum, float outMaximum);
int FilterTwoColor(GraphFilterInfo* info, float threshold, const float* dark, const float* bright);
int FilterGradientMap(GraphFilterInfo* info, int gradient, int reverse);
int FilterPremultipliedAlpha(GraphFilterInfo* info);
int FilterInterpolatedAlpha(GraphFilterInfo* info);
int BlendGraphBasic(GraphFilterInfo* info);
int BlendRgbaMix(GraphFilterInfo* info, int red, int green, int blue, int alpha);
// The RGBA-mix shader a selector set uses after normalisation: a table
// entry (0..255, name empty) or a file name; swap 1 when source and blend
// trade places. -1 for a selector outside 0..7.
enum { RGBA_MIX_NAME_BYTES = 48 };
struct RgbaMixChoice {
  int red, green, blue, alpha;     // selectors, normalised by the choice
  int entry;                       // table entry, or -1
  char name[RGBA_MIX_NAME_BYTES];  // file name without an entry
  int swap;
};
int ChooseRgbaMixShader(RgbaMixChoice* choice);

#endif  // VUVIDEREZA_FILTER_H
