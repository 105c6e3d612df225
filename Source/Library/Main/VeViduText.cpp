// Text drawing and measuring: the layout core (pen, line shift, colours,
// glyphs from the cache), the texture route through the image draws (edge
// then body, tinted; vertical text as turned quads clipped to each glyph
// box), the memory route (cells written into a software image, straight
// into the draw destination or through the text work image and the point
// blit), and the public draw and measure calls.
// Threads: main thread.
// Platform: none directly (the image draws and the software renderer).
#include <string.h>

#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RiDov.h"
#include "RiRerEziDrawFunction.h"
#include "VeVidu.h"
#include "VeViduInternal.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VuViderezaMath.h"
#include "ZiDezaru.h"

namespace {

const char LOG_BAD_FONT_HANDLE[] = "フォントハンドル値が異常です";
const char LOG_TEXT_CACHE_FAILED[] = "テキストキャッシュの作成に失敗しました";

enum {
  LINE_BOX_MARGIN = 3,  // a line's box: the font size and this margin
  BLEND_SUBTRACT = 3,
};

ParsedGlyph TextParseBuffer[FONT_TEXT_BUFFER_BYTES];

// Text and edge colours after the draw tint: channels, and packed 0x00RRGGBB.
struct TextColors {
  int text[3];
  int edge[3];
  uint32_t textPacked, edgePacked;
};

void PrepareColors(unsigned int color, unsigned int edgeColor, TextColors* out) {
  const uint32_t tint = CurrentDrawState.brightness;
  const int tintChannel[3] = {static_cast<int>((tint >> 16) & 255), static_cast<int>((tint >> 8) & 255),
                              static_cast<int>(tint & 255)};
  SplitColorValue(color, &out->text[0], &out->text[1], &out->text[2]);
  SplitColorValue(edgeColor, &out->edge[0], &out->edge[1], &out->edge[2]);
  for (int i = 0; i < 3; i++) {
    out->text[i] = out->text[i] * tintChannel[i] / 255;
    out->edge[i] = out->edge[i] * tintChannel[i] / 255;
  }
  out->textPacked = static_cast<uint32_t>(out->text[0] << 16 | out->text[1] << 8 | out->text[2]);
  out->edgePacked = static_cast<uint32_t>(out->edge[0] << 16 | out->edge[1] << 8 | out->edge[2]);
}

// A pixel of the image's own format, without the bits outside the channels.
uint32_t ImagePixel(const MEMIMG* image, const int rgb[3], int alpha) {
  const ColorFormatRecord* format = image->header->colorFormat;
  return MakeFormatPixelFromRGBA(format, rgb[0], rgb[1], rgb[2], alpha) & ~format->spareMask;
}

void StorePixel(uint8_t* p, int bytes, uint32_t value) {
  if (bytes == 4) memcpy(p, &value, 4);
  else if (bytes == 2) {
    const uint16_t v = static_cast<uint16_t>(value);
    memcpy(p, &v, 2);
  } else {
    *p = static_cast<uint8_t>(value);
  }
}

// What a cache cell value gives: 0 uncovered, else the colour and alpha.
int CellPixel(const FontRecord* font, int value, const TextColors& colors, int rgb[3], int* alpha) {
  switch (font->type) {
    case FONT_TYPE_NORMAL:
      if (!value) return 0;
      memcpy(rgb, colors.text, sizeof colors.text);
      *alpha = 255;
      return 1;
    case FONT_TYPE_EDGE_NORMAL:
      if (!value) return 0;
      memcpy(rgb, value == 1 ? colors.text : colors.edge, sizeof colors.text);
      *alpha = 255;
      return 1;
    case FONT_TYPE_ANTIALIASING:
    case FONT_TYPE_ANTIALIASING_4X4:
    case FONT_TYPE_ANTIALIASING_8X8:
      if (!value) return 0;
      memcpy(rgb, colors.text, sizeof colors.text);
      *alpha = value * 16;
      return 1;
    default: {
      const int body = value & 15, edge = value >> 4;
      if (body == 15) {
        memcpy(rgb, colors.text, sizeof colors.text);
        *alpha = 255;
        return 1;
      }
      if (body == 0) {
        if (edge == 0) return 0;
        memcpy(rgb, colors.edge, sizeof colors.edge);
        *alpha = edge * 16;
        return 1;
      }
      const int a = body * 16 + (15 - body) * edge;
      const int t = body * 4096 / a;
      for (int i = 0; i < 3; i++) rgb[i] = colors.edge[i] + (colors.text[i] - colors.edge[i]) * t / 256;
      *alpha = a;
      return 1;
    }
  }
}

// Where one glyph of a memory cache goes. Horizontal: the glyph image at
// (gx, gy); vertical: turned a quarter clockwise, its top at column
// lineRight - 1 and its left at row gy.
struct GlyphPlacement {
  int gx, gy;
  int vertical;
  int lineRight;
};

// Writes one glyph of a memory cache into the request's image, inside clip.
void WriteGlyphToMemImg(const FontRecord* font, const GlyphCacheSlot* slot, const TextRequest& request,
                        const RECT& clip, const GlyphPlacement& place, const TextColors& colors) {
  MEMIMG* dest = request.dest;
  const int gx = place.gx, gy = place.gy, vertical = place.vertical, lineRight = place.lineRight;
  const int transparent = request.transparent;
  const int w = slot->width, h = slot->height;
  RECT box;
  if (!vertical) box = {gx, gy, gx + w, gy + h};
  else box = {lineRight - h, gy, lineRight, gy + w};
  RECT area = clip;
  const RECT bounds = {0, 0, dest->width, dest->height};
  ClipRect(&area, &bounds);
  ClipRect(&box, &area);
  if (box.right <= box.left || box.bottom <= box.top) return;
  int cellX, cellY;
  GetGlyphCellPosition(font, slot->cell, &cellX, &cellY);
  const int bytes = MemImgBytesPerPixel(dest);
  const int pitch = dest->header->pitch;
  for (int sy = box.top; sy < box.bottom; sy++) {
    uint8_t* row = dest->pixels + static_cast<size_t>(sy) * pitch;
    for (int sx = box.left; sx < box.right; sx++) {
      // The glyph pixel shown at (sx, sy).
      const int px = vertical ? sy - gy : sx - gx;
      const int py = vertical ? lineRight - 1 - sx : sy - gy;
      const uint8_t* cellRow = font->memCache + static_cast<size_t>(cellY + py) * font->memPitch;
      const int value = font->memBits == 1 ? (cellRow[px >> 3] >> (7 - (px & 7))) & 1 : cellRow[px];
      int rgb[3], alpha = 255;
      uint8_t* p = row + static_cast<size_t>(sx) * bytes;
      if (CellPixel(font, value, colors, rgb, &alpha)) StorePixel(p, bytes, ImagePixel(dest, rgb, alpha));
      else if (!transparent) StorePixel(p, bytes, 0);
    }
  }
  InvalidateMemImgDerivedData(dest);
}

// A graphic showing (x, y, width, height) of source; -1 when none can be made.
int MakeEmptyGraphic(int x, int y, int width, int height, int source) {
  const int handle = AllocGraphicHandle();
  if (handle < 0) return -1;
  if (MakeDerivedGraph(handle, source, x, y, width, height, 0) < 0) {
    DeleteGraphicHandle(handle);
    return -1;
  }
  return handle;
}

// The whole graphic turned a quarter clockwise so that its point (srcX,
// srcY) lands on the screen corner (right, top): the glyph's top row goes
// to column right - 1.
void DrawTurnedGraphic(int graph, float right, float top, float srcX, float srcY) {
  int width = 0, height = 0;
  GetGraphicSize(graph, &width, &height);
  // The quad draw puts pixel centres on texel centres itself.
  const float ox = right + srcY, oy = top - srcX;
  DrawImageQuad(ox, oy, ox, oy + width, ox - height, oy + width, ox - height, oy, graph, 1);
}

// Draws one glyph of a texture cache (edge, then body) at the pen position
// of the run (x, y: the run's origin after the line shift).
void DrawGlyphFromTexture(const FontRecord* font, const GlyphCacheSlot* slot, const TextRequest& request, int x, int y,
                          double pen, const TextColors& colors) {
  const int scaled = request.scaling, vertical = request.vertical;
  const double scaleX = request.scaleX, scaleY = request.scaleY;
  int cellX, cellY;
  GetGlyphCellPosition(font, slot->cell, &cellX, &cellY);
  const int srcX = cellX + 1, srcY = cellY + 1, w = slot->width, h = slot->height;
  const int edged = (font->type & FONT_TYPE_EDGE) != 0 && font->edgeGraph >= 0;
  const int graphs[2] = {edged ? font->edgeGraph : -1, font->textureGraph};
  const uint32_t tints[2] = {colors.edgePacked, colors.textPacked};
  if (!vertical) {
    for (int i = 0; i < 2; i++) {
      if (graphs[i] < 0) continue;
      SetDrawTintPacked(tints[i]);
      if (!scaled) {
        DrawImageRect(x + TruncateDoubleToInt(pen) + slot->xOffset, y + slot->yOffset, srcX, srcY, w, h, graphs[i], 1,
                      0);
      } else {
        const float x1 = static_cast<float>(x + pen + slot->xOffset * scaleX);
        const float y1 = static_cast<float>(y + slot->yOffset * scaleY);
        DrawGraphRectStretchedF(x1, y1, x1 + static_cast<float>(w * scaleX), y1 + static_cast<float>(h * scaleY), srcX,
                                srcY, w, h, graphs[i], 1);
      }
    }
    return;
  }
  const int lineRight = x + font->charHeight - slot->yOffset;
  const int top = y + TruncateDoubleToInt(pen) + slot->xOffset;
  if (!scaled) {
    RECT box = {lineRight - h - 1, top, lineRight + 1, top + w};
    ClipRect(&box, &CurrentDrawState.drawArea);
    if (box.right > box.left && box.bottom > box.top) {
      const ClipRectScope clip(box);
      for (int i = 0; i < 2; i++) {
        if (graphs[i] < 0) continue;
        SetDrawTintPacked(tints[i]);
        DrawTurnedGraphic(graphs[i], static_cast<float>(lineRight), static_cast<float>(top), static_cast<float>(srcX),
                          static_cast<float>(srcY));
      }
    }
    return;
  }
  const int sampling = GetSamplingMode();
  SetSamplingMode(1);
  for (int i = 0; i < 2; i++) {
    if (graphs[i] < 0) continue;
    const int part = MakeEmptyGraphic(srcX, srcY, w, h, graphs[i]);
    if (part < 0) continue;
    SetDrawTintPacked(tints[i]);
    const float right = static_cast<float>(x + (font->charHeight - slot->yOffset) * scaleX);
    const float y1 = static_cast<float>(y + pen + slot->xOffset * scaleY);
    const float sw = static_cast<float>(w * scaleY), sh = static_cast<float>(h * scaleX);
    DrawImageQuad(right, y1, right, y1 + sw, right - sh, y1 + sw, right - sh, y1, part, 1);
    DeleteGraphicHandle(part);
  }
  SetSamplingMode(sampling);
}

}  // namespace

int DrawTextCore(const TextRequest& request, SIZE* size) {
  const int draw = request.draw, handle = request.handle, vertical = request.vertical;
  const char* text = request.text;
  int x = request.x, y = request.y, length = request.length;
  double scaleX = request.scaleX, scaleY = request.scaleY;
  if (GetDirectDrawObject() == nullptr) return -1;
  FontRecord* font = GetFontRecord(handle);
  if (font == nullptr) return -1;
  if (size != nullptr) size->cx = size->cy = 0;
  if (text == nullptr || text[0] == 0) return 0;
  if (!(request.scaling && draw && font->textureCache)) scaleX = scaleY = 1.0;
  TextRequest scaled = request;
  scaled.scaleX = scaleX, scaled.scaleY = scaleY;
  const int shift = TruncateDoubleToInt(font->addedHeight * scaleY);
  if (!vertical) y -= shift / 2;
  else x -= shift / 2;
  const double penScale = vertical ? scaleY : scaleX;
  TextColors colors;
  PrepareColors(request.color, request.edgeColor, &colors);
  const int whole = lstrlenA(text);
  if (length < 0 || length > whole) length = whole;
  ParsedGlyph* parsed = TextParseBuffer;
  ParsedGlyph* block = nullptr;
  if (length > FONT_TEXT_BUFFER_BYTES) {
    block = static_cast<ParsedGlyph*>(MEM_ALLOC(static_cast<size_t>(length) * sizeof(ParsedGlyph)));
    if (block == nullptr) return -1;
    parsed = block;
  }
  int count = 0;
  if (CacheTextGlyphs(length, text, handle, parsed, &count) < 0) {
    if (block != nullptr) MemFree(block);
    return -1;
  }
  RECT area = request.clip != nullptr ? *request.clip : CurrentDrawState.drawArea;
  const int textureRoute = draw && font->textureCache;
  double pen = 0.0;
  int result = 0;
  {
    const BlendAndTintScope glyphDraws(textureRoute);
    for (int i = 0; i < count; i++) {
      const unsigned int code = GlyphCodeOf(parsed[i]);
      const GlyphCodeEntry& entry = font->codeMap[code];
      const GlyphCacheSlot* slot = entry.cached ? entry.slot : RasterizeGlyph(handle, 1, &parsed[i]);
      if (slot == nullptr) {
        LogPrintf(LOG_TEXT_CACHE_FAILED);
        result = -1;
        break;
      }
      const int space = code == 0x20 || code == 0x8140 || slot->width == 0 || slot->height == 0;
      if (draw && !space) {
        if (textureRoute) {
          DrawGlyphFromTexture(font, slot, scaled, x, y, pen, colors);
        } else if (request.dest != nullptr) {
          const int gy = vertical ? y + TruncateDoubleToInt(pen) + slot->xOffset : y + slot->yOffset;
          const GlyphPlacement place = {x + TruncateDoubleToInt(pen) + slot->xOffset, gy, vertical,
                                        x + font->charHeight - slot->yOffset};
          WriteGlyphToMemImg(font, slot, request, area, place, colors);
        }
      }
      pen += (slot->advance + font->charSpacing) * penScale;
    }
  }
  if (block != nullptr) MemFree(block);
  if (result < 0) return -1;
  const int penLength = TruncateDoubleToInt(pen);
  if (size != nullptr) {
    size->cx = vertical ? font->charHeight : penLength;
    size->cy = vertical ? penLength : font->charHeight;
  }
  return penLength;
}

int MeasureTextWidth(const char* text, int length, int font, int vertical) {
  TextRequest request;
  request.text = text, request.length = length, request.handle = font, request.vertical = vertical;
  return DrawTextCore(request, nullptr);
}

void DrawTextToTextureCacheFont(int x, int y, unsigned int color, unsigned int edgeColor, int vertical,
                                const char* text, int handle) {
  FontRecord* font = GetFontRecord(handle);
  if (font == nullptr || !font->textureCache) return;
  CreateFontCacheTexture(handle, 0);
  TextRequest request;
  request.text = text, request.length = lstrlenA(text), request.handle = handle;
  request.x = x, request.y = y, request.vertical = vertical;
  request.color = color, request.edgeColor = edgeColor;
  request.draw = 1, request.transparent = 1;
  DrawTextCore(request, nullptr);
}

void DrawTextThroughMemImg(int x, int y, const char* text, unsigned int color, unsigned int edgeColor, int vertical,
                           int handle) {
  FontRecord* font = GetFontRecord(handle);
  MEMIMG* screen = SoftwareDrawTarget;
  if (font == nullptr || screen == nullptr || !IsValidMemImg(screen)) return;
  TextRequest measure;
  measure.text = text, measure.handle = handle, measure.vertical = vertical;
  measure.color = color, measure.edgeColor = edgeColor;
  SIZE size;
  if (DrawTextCore(measure, &size) < 0) return;
  // Drawn: cells written into an image, uncovered ones left as they are.
  TextRequest written = measure;
  written.draw = 1, written.transparent = 1;
  const int antialias = (font->type & FONT_TYPE_ANTIALIAS) != 0;
  const int mode = MemImgDrawState.blendMode, param = MemImgDrawState.blendParam;
  if (!antialias && (mode == 0 || (mode == 1 && param == 255))) {
    written.x = x, written.y = y;
    written.dest = screen, written.clip = &MemImgDrawState.drawArea;
    DrawTextCore(written, nullptr);
    return;
  }
  MEMIMG* work = &SoftwareWorkImages[antialias ? 1 : 0];
  if (!IsValidMemImg(work)) return;
  const RECT savedArea = MemImgDrawState.drawArea;
  const uint32_t savedBright = MemImgDrawState.drawBright;
  RECT area = {0, 0, size.cx, size.cy};
  const RECT workBounds = {0, 0, work->width, work->height};
  ClipRect(&area, &workBounds);
  SetMemImgDrawArea(&area);
  uint32_t clear = 0;
  if (!antialias) {
    TextColors colors;
    PrepareColors(color, edgeColor, &colors);
    const uint32_t textPixel = ImagePixel(work, colors.text, 255), edgePixel = ImagePixel(work, colors.edge, 255);
    clear = work->header->transparentColor;
    while (clear == textPixel || clear == edgePixel) clear++;
  }
  work->header->transparentColor = clear;
  FillMemImgRectRaw(work, &area, clear);
  written.dest = work, written.clip = &area;
  DrawTextCore(written, nullptr);
  SetMemImgDrawBright(0xFFFFFF);
  RECT target = {x, y, x + area.right, y + area.bottom};
  ClipRect(&target, &savedArea);
  SetMemImgDrawArea(&target);
  if (area.right > 0 && area.bottom > 0) {
    MEMIMG view;
    memset(&view, 0, sizeof view);
    CreateSubMemImg(&view, work, 0, 0, area.right, area.bottom);
    if (IsValidMemImg(&view)) {
      // No weight image: while the mask is on, `screen` is already the
      // mask screen's work image and the mask bracket does the masking.
      BlitMemImg(screen, &view, x, y, 1, nullptr);
      ReleaseMemImg(&view);
    }
  }
  SetMemImgDrawArea(&savedArea);
  SetMemImgDrawBright(savedBright);
}

int DrawTextWithFont(int x, int y, const char* text, unsigned int color, int font, unsigned int edgeColor,
                     int vertical) {
  if (text == nullptr || text[0] == 0 || CurrentDrawState.areaEmpty) return 0;
  FontRecord* record = GetFontRecord(font);
  if (record == nullptr) {
    LogPrintf(LOG_BAD_FONT_HANDLE);
    return -1;
  }
  if (!WinSys.active) WaitWhileInactive();
  const int emulate = CurrentDrawState.blendMode == BLEND_SUBTRACT && record->textureCache && SubtractEmulationNeeded();
  const int maskOn = GetMaskUseFlag();
  RECT rect = CurrentDrawState.drawArea;
  if (emulate || CurrentDrawState.destinationBlend || maskOn) {
    const RECT& a = CurrentDrawState.drawArea;
    const int half = record->addedHeight / 2;
    if (!vertical) {
      if (x >= a.right) return 0;
      rect = {x, y - half, a.right, y - half + record->size + LINE_BOX_MARGIN};
    } else {
      if (x + half >= a.right) return 0;
      rect = {x + half, y, x + half + record->size + LINE_BOX_MARGIN, a.bottom};
    }
    if (rect.left < a.left || rect.top < a.top || rect.right > a.right || rect.bottom > a.bottom) ClipRect(&rect, &a);
  }
  // An emulated subtraction draws without the mask.
  const DrawFrame frame = {rect, maskOn && !emulate, emulate != 0};
  return RunInDrawFrame(frame, [&](const RECT&) {
    if (record->textureCache) DrawTextToTextureCacheFont(x, y, color, edgeColor, vertical, text, font);
    else DrawTextThroughMemImg(x, y, text, color, edgeColor, vertical, font);
    return 0;
  });
}
