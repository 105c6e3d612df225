#include "DrawCtl.h"

#include <string.h>

#include "RiDov.h"

DrawEntry DrawQueue[DRAW_LAYER_COUNT][DRAW_LAYER_CAPACITY];
int DrawQueueLayerIndex[DRAW_LAYER_COUNT];

const int FontSizeTable[FONT_SIZE_COUNT] = {10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 90};
const int FontTypeTable[FONT_TYPE_COUNT] = {FONT_TYPE_NORMAL, FONT_TYPE_EDGE_NORMAL, FONT_TYPE_ANTIALIASING,
                                            FONT_TYPE_ANTIALIASING_EDGE_4X4};
int FontCache[FONT_CACHE_SIZE];

CDrawCtl DrawCtlInstance;

namespace {

enum { COLOR_RED = 0xFF0000 };

bool IsShiftJisLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

void SetClip(DrawEntry* entry, const DrawClip* clip) {
  if (clip != nullptr) entry->Clip = *clip;
}

unsigned int ScreenColor(int rgb) { return MakeColorValue((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

struct SheetLoad {
  int Set;
  const char* File;
  int Count, Across, Down, Width, Height;
};

const SheetLoad SheetLoadTable[] = {
    {0, "img/player/thiko.png", 16, 4, 4, 55, 80},
    {10, "img/enemy/rubyrou.png", 16, 4, 4, 50, 50},
    {11, "img/enemy/flamefly.png", 16, 4, 4, 50, 50},
    {12, "img/enemy/agcat.png", 16, 4, 4, 150, 120},
    {13, "img/enemy/cannon.png", 16, 4, 4, 75, 75},
    {14, "img/enemy/doradora.png", 16, 4, 4, 150, 120},
    {15, "img/enemy/fairyknight.png", 16, 4, 4, 150, 240},
    {16, "img/enemy/kukuru.png", 16, 4, 4, 130, 130},
    {110, "img/bullet/player.png", 16, 4, 4, 32, 32},
    {111, "img/bullet/player.png", 16, 4, 4, 32, 32},
    {112, "img/bullet/bigfire.png", 16, 4, 4, 70, 70},
    {113, "img/bullet/fullfire.png", 16, 4, 4, 155, 190},
    {114, "img/bullet/flower.png", 16, 4, 4, 51, 51},
    {115, "img/bullet/bullet.png", 16, 4, 4, 38, 38},
    {116, "img/bullet/lazer.png", 16, 4, 4, 32, 160},
    {117, "img/bullet/tornado.png", 16, 4, 4, 40, 40},
    {130, "img/item/quinsel.png", 16, 4, 4, 35, 35},
    {131, "img/item/seed.png", 16, 4, 4, 40, 40},
    {132, "img/item/seed.png", 16, 4, 4, 45, 45},
    {230, "img/item/quinsel.png", 16, 4, 4, 35, 35},
    {133, "img/item/magic.png", 16, 4, 4, 80, 80},
    {301, "img/stage/stage1.png", 1, 1, 1, 540, 4000},
    {310, "img/status/status.png", 40, 10, 4, 40, 40},
    {311, "img/status/frame3.png", 1, 1, 1, 154, 155},
    {312, "img/status/hp_bar.png", 2, 2, 1, 53, 46},
    {314, "img/status/mp_on2.png", 1, 1, 1, 154, 155},
    {316, "img/status/mp_on2_white.png", 1, 1, 1, 154, 155},
    {315, "img/status/mp_off2.png", 1, 1, 1, 154, 155},
    {317, "img/status/enemy_hp.png", 1, 1, 1, 1, 300},
    {318, "img/status/enemy_hp_frame.png", 1, 1, 1, 1, 300},
};

// First set of each category 0..9; -1 where the category holds no sheets.
const int CategoryFirstSet[10] = {0, 10, 110, 130, -1, -1, -1, 300, 310, -1};

void DrawGlowPasses(const DrawEntry& entry, bool rotated) {
  auto draw = [&]() {
    if (rotated)
      DrawImageRotated(static_cast<float>(entry.Quad[0]), static_cast<float>(entry.Quad[1]), entry.Scale, entry.Angle,
                       entry.Graphic, 1, 0);
    else DrawImageAt(entry.X1, entry.Y1, entry.Graphic, 1);
  };
  SetDrawTint((entry.Color >> 16) & 0xFF, (entry.Color >> 8) & 0xFF, entry.Color & 0xFF);
  SetBlendMode(BLEND_MODE_INVERT_SOURCE, 255);
  draw();
  SetBlendMode(BLEND_MODE_ADD, 255);
  draw();
  SetDrawTint(255, 255, 255);
  SetBlendMode(BLEND_MODE_ALPHA, entry.Alpha);
  draw();
  SetBlendMode(BLEND_MODE_NONE, 0);
}

void DrawQueuedEntry(const DrawEntry& e) {
  switch (e.Kind) {
    case DRAW_IMAGE: DrawImageAt(e.X1, e.Y1, e.Graphic, e.Transparent); break;
    case DRAW_IMAGE_ROTATED:
      DrawImageRotated(static_cast<float>(e.Quad[0]), static_cast<float>(e.Quad[1]), e.Scale, e.Angle, e.Graphic,
                       e.Transparent, 0);
      break;
    case DRAW_IMAGE_ROTATED_ABOUT:
      DrawImageRotatedAbout(e.X1, e.Y1, e.CenterX, e.CenterY, e.Scale, e.Angle, e.Graphic, e.Transparent, 0);
      break;
    case DRAW_IMAGE_ROTATED_SCALED_XY:
      DrawImageRotatedScaledXY(e.X1, e.Y1, e.CenterX, e.CenterY, e.ScaleX, e.ScaleY, e.Angle, e.Graphic, e.Transparent,
                               0);
      break;
    case DRAW_IMAGE_QUAD:
      DrawImageQuad(static_cast<float>(e.Quad[0]), static_cast<float>(e.Quad[1]), static_cast<float>(e.Quad[2]),
                    static_cast<float>(e.Quad[3]), static_cast<float>(e.Quad[4]), static_cast<float>(e.Quad[5]),
                    static_cast<float>(e.Quad[6]), static_cast<float>(e.Quad[7]), e.Graphic, e.Transparent);
      break;
    case DRAW_CIRCLE: DrawCircleShape(e.X1, e.Y1, e.Radius, ScreenColor(e.Color), e.Fill, 1); break;
    case DRAW_BOX: DrawRectShape(e.X1, e.Y1, e.X2, e.Y2, ScreenColor(e.Color), e.Fill); break;
    case DRAW_TRIANGLE: DrawTriangleShape(e.X1, e.Y1, e.X2, e.Y2, e.X3, e.Y3, ScreenColor(e.Color), e.Fill); break;
    case DRAW_GLOW: DrawGlowPasses(e, false); break;
    case DRAW_GLOW_ROTATED: DrawGlowPasses(e, true); break;
    case DRAW_TEXT: {
      int font = GetCachedFont(e.FontSizeIndex, e.FontTypeIndex);
      if (font != -1) DrawTextWithFont(e.X1, e.Y1, e.Text, ScreenColor(e.Color), font, 0, 0);
      break;
    }
    default:  // 5, 6, 7 draw nothing
      break;
  }
}

}  // namespace

int CutTextLength(const char* text, int maxBytes) {
  int n = 0;
  while (n < maxBytes && text[n] != '\0') {
    if (IsShiftJisLeadByte(static_cast<unsigned char>(text[n]))) {
      if (n + 1 >= maxBytes || text[n + 1] == '\0') break;
      n += 2;
    } else {
      ++n;
    }
  }
  return n;
}

void QueueEntry(int layer, const DrawEntry& entry) {
  if (layer < 1 || layer > DRAW_LAYER_COUNT) return;
  int& index = DrawQueueLayerIndex[layer - 1];
  DrawQueue[layer - 1][index] = entry;
  if (++index >= DRAW_LAYER_CAPACITY) index = 0;
}

void QueueImage(int layer, int x, int y, int graphic, int alpha, const DrawClip* clip) {
  DrawEntry e = {};
  e.Kind = DRAW_IMAGE;
  e.X1 = x;
  e.Y1 = y;
  e.Graphic = graphic;
  e.Transparent = 1;
  e.Alpha = alpha;
  SetClip(&e, clip);
  QueueEntry(layer, e);
}

void QueueImageRotated(int layer, int graphic, int alpha, double centerX, double centerY, double scale, double angle,
                       const DrawClip* clip) {
  DrawEntry e = {};
  e.Kind = DRAW_IMAGE_ROTATED;
  e.Quad[0] = centerX;
  e.Quad[1] = centerY;
  e.Scale = scale;
  e.Angle = angle;
  e.Graphic = graphic;
  e.Transparent = 1;
  e.Alpha = alpha;
  SetClip(&e, clip);
  QueueEntry(layer, e);
}

void QueueHpGauge(int graphic, double scale, double angle) {
  DrawEntry e = {};
  e.Kind = DRAW_IMAGE_ROTATED_ABOUT;
  e.X1 = 277;
  e.Y1 = 81;
  e.CenterX = 26;
  e.CenterY = 46;
  e.Scale = scale;
  e.Angle = angle;
  e.Graphic = graphic;
  e.Transparent = 1;
  e.Alpha = 220;
  QueueEntry(8, e);
}

void QueueQuad(const float corners[8], int graphic, const DrawClip* clip) {
  DrawEntry e = {};
  e.Kind = DRAW_IMAGE_QUAD;
  for (int i = 0; i < 8; ++i) e.Quad[i] = corners[i];
  e.Graphic = graphic;
  e.Transparent = 1;
  e.Alpha = 255;
  SetClip(&e, clip);
  QueueEntry(5, e);
}

void QueueCircle(int x, int y, int radius) {
  DrawEntry e = {};
  e.Kind = DRAW_CIRCLE;
  e.X1 = x;
  e.Y1 = y;
  e.Radius = radius;
  e.Color = COLOR_WHITE;
  e.Fill = 0;
  e.Alpha = 255;
  QueueEntry(12, e);
}

void QueueBox(int layer, int x1, int y1, int x2, int y2, int color, int alpha) {
  DrawEntry e = {};
  e.Kind = DRAW_BOX;
  e.X1 = x1;
  e.Y1 = y1;
  e.X2 = x2;
  e.Y2 = y2;
  e.Color = color;
  e.Fill = 1;
  e.Alpha = alpha;
  QueueEntry(layer, e);
}

void QueueTriangle(int x1, int y1, int x2, int y2, int x3, int y3, int color, int alpha) {
  DrawEntry e = {};
  e.Kind = DRAW_TRIANGLE;
  e.X1 = x1;
  e.Y1 = y1;
  e.X2 = x2;
  e.Y2 = y2;
  e.X3 = x3;
  e.Y3 = y3;
  e.Color = color;
  e.Fill = 1;
  e.Alpha = alpha;
  QueueEntry(12, e);
}

void QueueGlowImage(int x, int y, int graphic) {
  DrawEntry e = {};
  e.Kind = DRAW_GLOW;
  e.X1 = x;
  e.Y1 = y;
  e.Graphic = graphic;
  e.Color = COLOR_WHITE;
  e.Alpha = 30;
  QueueEntry(7, e);
}

void QueueText(int layer, const char* text, int x, int y, int color, int fontSizeIndex, int fontTypeIndex) {
  DrawEntry e = {};
  e.Kind = DRAW_TEXT;
  e.X1 = x;
  e.Y1 = y;
  e.Color = color;
  e.FontSizeIndex = fontSizeIndex;
  e.FontTypeIndex = fontTypeIndex;
  e.Alpha = 255;
  if (text != nullptr) {
    int length = CutTextLength(text, DRAW_TEXT_SIZE - 1);
    memcpy(e.Text, text, length);
    e.Text[length] = '\0';
  }
  QueueEntry(layer, e);
}

void QueueDebugHitBox(const double c[8], int alpha) {
  int x1 = static_cast<int>(c[0]), y1 = static_cast<int>(c[1]);
  int x2 = static_cast<int>(c[2]), y2 = static_cast<int>(c[3]);
  int x3 = static_cast<int>(c[4]), y3 = static_cast<int>(c[5]);
  int x4 = static_cast<int>(c[6]), y4 = static_cast<int>(c[7]);
  QueueTriangle(x1, y1, x2, y2, x3, y3, COLOR_RED, alpha);
  QueueTriangle(x1, y1, x4, y4, x3, y3, COLOR_RED, alpha);
}

void ResetFontCache() {
  for (int& font : FontCache) font = -1;
}

int GetCachedFont(int fontSizeIndex, int fontTypeIndex) {
  if (fontSizeIndex < 0 || fontSizeIndex >= FONT_SIZE_COUNT || fontTypeIndex < 0 || fontTypeIndex >= FONT_TYPE_COUNT)
    return -1;
  int& font = FontCache[fontSizeIndex * FONT_TYPE_COUNT + fontTypeIndex];
  if (font == -1)
    font = CreateFontToHandle(nullptr, FontSizeTable[fontSizeIndex], -1, FontTypeTable[fontTypeIndex], -1, -1, 0, -1);
  return font;
}

int ImageSetNumber(int category, int index) {
  if (category < 0 || category >= 10 || CategoryFirstSet[category] < 0) return -1;
  int set = CategoryFirstSet[category] + index;
  return set >= 0 && set < IMAGE_SET_COUNT ? set : -1;
}

void CDrawCtl::LoadImages() {
  for (const SheetLoad& sheet : SheetLoadTable)
    LoadImageDivided(sheet.File, sheet.Count, sheet.Across, sheet.Down, sheet.Width, sheet.Height,
                     ImageSets[sheet.Set].Handles, 0);
}

void CDrawCtl::CopyImageSet(int category, int index, int out[IMAGE_SET_SIZE]) const {
  int set = ImageSetNumber(category, index);
  if (set < 0) return;
  memcpy(out, ImageSets[set].Handles, sizeof ImageSets[set].Handles);
}

void CDrawCtl::FlushDrawQueue() {
  SetSamplingMode(SAMPLING_BILINEAR);
  for (int layer = 0; layer < DRAW_LAYER_COUNT; ++layer) {
    for (DrawEntry& entry : DrawQueue[layer]) {
      if (entry.Kind == DRAW_EMPTY) break;
      if (entry.Clip.Enabled) SetClipRect(entry.Clip.X1, entry.Clip.Y1, entry.Clip.X2, entry.Clip.Y2);
      SetBlendMode(BLEND_MODE_ALPHA, entry.Alpha);
      DrawQueuedEntry(entry);
      SetBlendMode(BLEND_MODE_NONE, 0);
      SetClipRect(0, 0, SCREEN_WIDTH, SCREEN_HEIGHT);
      entry.Kind = DRAW_EMPTY;
    }
    DrawQueueLayerIndex[layer] = 0;
  }
  SetSamplingMode(SAMPLING_NEAREST);
}
