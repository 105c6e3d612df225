// The layered draw queue, its flush through the library's draw calls, the
// font cache, and the image sets loaded at start-up.
#ifndef GAME_DRAWCTL_H
#define GAME_DRAWCTL_H

#include "Task.h"

enum {
  DRAW_LAYER_COUNT = 12,       // layers 1..12, drawn in ascending order
  DRAW_LAYER_CAPACITY = 3000,  // entries a layer holds in one frame
  DRAW_TEXT_SIZE = 128,        // text bytes of an entry, NUL included
  IMAGE_SET_COUNT = 350,
  IMAGE_SET_SIZE = 60,
  FONT_SIZE_COUNT = 13,
  FONT_TYPE_COUNT = 4,
  FONT_CACHE_SIZE = FONT_SIZE_COUNT * FONT_TYPE_COUNT,
  SCREEN_WIDTH = 960,
  SCREEN_HEIGHT = 720,
};

// Queued colours are plain 0xRRGGBB; the flush converts them.
enum { COLOR_WHITE = 0xFFFFFF };

// Entry kinds; 0 is empty and ends a layer during the flush.
enum {
  DRAW_EMPTY = 0,
  DRAW_IMAGE = 1,
  DRAW_IMAGE_ROTATED = 2,
  DRAW_IMAGE_ROTATED_ABOUT = 3,
  DRAW_IMAGE_ROTATED_SCALED_XY = 4,
  DRAW_IMAGE_QUAD = 8,
  DRAW_CIRCLE = 9,
  DRAW_BOX = 10,
  DRAW_TRIANGLE = 11,
  DRAW_GLOW = 12,
  DRAW_GLOW_ROTATED = 13,
  DRAW_TEXT = 14,
};

struct DrawClip {
  bool Enabled;
  int X1, Y1, X2, Y2;
};

// Colours are 0x00RRGGBB; the flush turns them into screen colours with
// MakeColorValue.
struct DrawEntry {
  int Kind;
  int X1, Y1, X2, Y2, X3, Y3;
  double Quad[8];  // quad corners x1, y1 .. x4, y4; the rotated kinds' centre in [0], [1]
  int CenterX, CenterY;
  int Radius;
  int Color;
  int Fill;
  double Scale, ScaleX, ScaleY;
  double Angle;
  int Graphic;
  int Transparent;
  int Alpha;
  int FontSizeIndex, FontTypeIndex;
  char Text[DRAW_TEXT_SIZE];
  DrawClip Clip;
};

// Storage of layer L is DrawQueue[L - 1]; the write index wraps at the
// capacity, so later entries overwrite the oldest of the frame.
extern DrawEntry DrawQueue[DRAW_LAYER_COUNT][DRAW_LAYER_CAPACITY];
extern int DrawQueueLayerIndex[DRAW_LAYER_COUNT];

// Appends a copy of the entry to layer 1..12; other layers are ignored.
void QueueEntry(int layer, const DrawEntry& entry);

// The queue operations; a null clip means none.
void QueueImage(int layer, int x, int y, int graphic, int alpha, const DrawClip* clip = nullptr);
void QueueImageRotated(int layer, int graphic, int alpha, double centerX, double centerY, double scale, double angle,
                       const DrawClip* clip = nullptr);
void QueueHpGauge(int graphic, double scale, double angle);
// Corners in the order top-left, top-right, bottom-right, bottom-left of the image.
void QueueQuad(const float corners[8], int graphic, const DrawClip* clip = nullptr);
void QueueCircle(int x, int y, int radius);
void QueueBox(int layer, int x1, int y1, int x2, int y2, int color, int alpha);
void QueueTriangle(int x1, int y1, int x2, int y2, int x3, int y3, int color, int alpha);
void QueueGlowImage(int x, int y, int graphic);
void QueueText(int layer, const char* text, int x, int y, int color, int fontSizeIndex, int fontTypeIndex);
// Two red triangles (c1, c2, c3) and (c1, c4, c3) over the corners x1, y1 .. x4, y4.
void QueueDebugHitBox(const double corners[8], int alpha);

// Bytes of text to keep within maxBytes: stops at the NUL and never splits a
// Shift-JIS lead byte from its trail byte.
int CutTextLength(const char* text, int maxBytes);

extern const int FontSizeTable[FONT_SIZE_COUNT];
extern const int FontTypeTable[FONT_TYPE_COUNT];
// Index size x 4 + type; -1 = not created yet.
extern int FontCache[FONT_CACHE_SIZE];
void ResetFontCache();
// The font of (size index, type index), created on first use; -1 when the
// indexes are out of range or the font cannot be created.
int GetCachedFont(int fontSizeIndex, int fontTypeIndex);

struct ImageSetRecord {
  int Handles[IMAGE_SET_SIZE];
};

// Init loads every image sheet, Draw flushes the draw queue.
class CDrawCtl : public CTask {
 public:
  void Init() override { LoadImages(); }
  void Update() override {}
  void Draw() override { FlushDrawQueue(); }

  void LoadImages();
  void FlushDrawQueue();
  // Copies the set of (category, index) into out; an unknown category or a
  // set number out of range leaves out untouched.
  void CopyImageSet(int category, int index, int out[IMAGE_SET_SIZE]) const;

  ImageSetRecord ImageSets[IMAGE_SET_COUNT];
};
extern CDrawCtl DrawCtlInstance;

// Set number of (category, index), -1 for a category that holds no sheets.
int ImageSetNumber(int category, int index);

#endif  // GAME_DRAWCTL_H
