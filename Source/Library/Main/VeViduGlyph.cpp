// Glyph cache of a font: the code map and slots, the cache texture (with
// its system-memory copy) or memory cache, collecting a text's new
// characters, and rasterising glyphs through GDI (on / off, 4- and 8-level
// grey, 4x4 and 8x8 supersampling, edges, TextOutA for fonts without
// outlines) into their cells.
// Threads: the thread that builds or draws with the font (main thread, or a
// loading worker during an asynchronous build); no locks of its own.
// Platform: GDI (CreateCompatibleDC, SelectObject, GetTextMetricsA,
// GetGlyphOutlineA, GetTextExtentPoint32A, TextOutA, SetTextColor,
// SetBkColor, SetBkMode).
#include <string.h>

#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "VeRavoroString.h"
#include "VeVidu.h"
#include "VeViduInternal.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "ZiDezaru.h"

namespace {

const char LOG_GLYPH_FAILED[] = "GetGlyphOutline 関数が失敗しました";
const char FATAL_CACHE_DC[] = "テキストキャッシュサーフェスのＤＣの取得に失敗しました";
const char FATAL_GLYPH_BUFFER[] = "アンチエイリアス文字取得用バッファの確保に失敗しました";
const char FATAL_RESAMPLE_BUFFER[] = "文字イメージリサンプリング用バッファの確保に失敗しました";

// Edge kernels: row widths of the centred masks of sizes 1 to 4.
const uint8_t KERNEL_1[] = {1, 3, 1};
const uint8_t KERNEL_2[] = {3, 5, 5, 5, 3};
const uint8_t KERNEL_3[] = {1, 5, 5, 7, 5, 5, 1};
const uint8_t KERNEL_4[] = {5, 7, 9, 9, 9, 9, 9, 7, 5};

FontRecord* RecordOf(int handle, int acceptBuilding) {
  FontRecord* record = reinterpret_cast<FontRecord*>(GetHandleRecordOfType(handle, HANDLETYPE_FONT));
  if (record == nullptr || (!acceptBuilding && record->header.asyncLoadCount != 0)) return nullptr;
  return record;
}

// Calls f(dx, dy) for every position of the edge kernel of that size; the
// texture cache's size-1 kernel is the 3 x 3 square without its centre.
template <typename F>
void ForEachKernelPosition(int size, int textureKernel, F f) {
  if (size <= 0) return;
  if (size == 1 && textureKernel) {
    for (int dy = -1; dy <= 1; dy++)
      for (int dx = -1; dx <= 1; dx++)
        if (dx != 0 || dy != 0) f(dx, dy);
    return;
  }
  const uint8_t* rows = GetEdgeKernelRows(size);
  for (int dy = -size; dy <= size; dy++) {
    const int half = rows != nullptr ? rows[dy + size] / 2 : size;
    for (int dx = -half; dx <= half; dx++) f(dx, dy);
  }
}

// A rasterised glyph before it is written into its cell: levels 0..levelMax
// of the body and the edge, W x H with the body at (edge, edge).
struct GlyphWork {
  int width, height;
  int levelMax;  // 1 for on / off types
  uint8_t* body;
  uint8_t* edge;
};

// Sizes the work buffers for a glyph image of width x height clipped to the
// cell (texture cells keep a one-pixel border) with the edge around it;
// width and height come back clipped.
void AllocateGlyphWork(const FontRecord* record, int edge, int* width, int* height, GlyphWork* work) {
  const int room = record->cellSize - (record->textureCache ? 1 : 0) - 2 * edge;
  if (*width > room) *width = room;
  if (*height > room) *height = room;
  if (*width < 0) *width = 0;
  if (*height < 0) *height = 0;
  work->width = *width + 2 * edge;
  work->height = *height + 2 * edge;
  const size_t cells = static_cast<size_t>(work->width) * work->height;
  work->body = static_cast<uint8_t*>(MEM_ALLOC_ZEROED(cells * 2 + 1));
  if (work->body == nullptr) FatalErrorExit(FATAL_RESAMPLE_BUFFER);
  work->edge = work->body + cells;
}

// Fetches one glyph through GetGlyphOutlineA into work (levels), fills the
// slot's metrics. -1 when GDI refuses.
int FetchOutlineGlyph(FontRecord* record, HDC dc, const TEXTMETRICA& metrics, unsigned int code, GlyphCacheSlot* slot,
                      GlyphWork* work, int edge) {
  const int s = FontTypeScale(record->type);
  const int antialias = (record->type & FONT_TYPE_ANTIALIAS) != 0;
  const int gray8 = record->textureCache && record->textureBits == 32;
  UINT format = GGO_BITMAP;
  if (s == 1 && antialias) format = gray8 ? GGO_GRAY8_BITMAP : GGO_GRAY4_BITMAP;
  work->levelMax = antialias ? (gray8 ? 64 : 16) : 1;
  const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
  GLYPHMETRICS gm;
  memset(&gm, 0, sizeof gm);
  const DWORD size = GetGlyphOutlineA(dc, code, format, &gm, 0, nullptr, &identity);
  if (size == GDI_ERROR) {
    LogPrintf(LOG_GLYPH_FAILED);
    return -1;
  }
  const int blackX = static_cast<int>(gm.gmBlackBoxX), blackY = static_cast<int>(gm.gmBlackBoxY);
  const int rowBytes = format == GGO_BITMAP ? ((blackX + 31) / 32) * 4 : ((blackX + 3) / 4) * 4;
  const size_t bufferSize = size + static_cast<size_t>(blackY + 2) * rowBytes;
  uint8_t* buffer = static_cast<uint8_t*>(MEM_ALLOC_ZEROED(bufferSize));
  if (buffer == nullptr) FatalErrorExit(FATAL_GLYPH_BUFFER);
  if (size != 0 && GetGlyphOutlineA(dc, code, format, &gm, size, buffer, &identity) == GDI_ERROR) {
    MemFree(buffer);
    LogPrintf(LOG_GLYPH_FAILED);
    return -1;
  }
  const int pitch = blackY > 0 && size != 0 ? static_cast<int>(size) / blackY : 0;
  const int yTop = metrics.tmAscent - gm.gmptGlyphOrigin.y;
  int yOffset = yTop / s, r = yTop % s;
  if (r < 0) {  // a glyph above the ascent: keep the remainder in 0..s-1
    r += s;
    yOffset--;
  }
  slot->xOffset = static_cast<int16_t>((gm.gmptGlyphOrigin.x + s / 4) / s);
  slot->yOffset = static_cast<int16_t>(yOffset);
  slot->advance = static_cast<int16_t>((gm.gmCellIncX + s / 4) / s);
  int width = (blackX + s - 1) / s, height = (blackY + r + s - 1) / s;
  if (pitch == 0) width = height = 0;  // an empty bitmap
  AllocateGlyphWork(record, edge, &width, &height, work);
  for (int y = 0; y < height; y++) {
    uint8_t* out = work->body + (y + edge) * work->width + edge;
    for (int x = 0; x < width; x++) {
      int level = 0;
      if (s == 1) {
        if (y >= blackY || x >= blackX) continue;
        const uint8_t* row = buffer + y * pitch;
        level = format == GGO_BITMAP ? (row[x >> 3] >> (7 - (x & 7))) & 1 : row[x];
      } else {
        int count = 0;
        for (int sy = y * s - r; sy < y * s - r + s; sy++) {
          if (sy < 0 || sy >= blackY) continue;
          const uint8_t* row = buffer + sy * pitch;
          if (s == 8) {
            if (x < pitch) count += BitCountTable[row[x]];
          } else if ((x >> 1) < pitch) {
            const uint8_t byte = row[x >> 1];
            count += BitCountTable[(x & 1) ? (byte & 0x0F) : (byte >> 4)];
          }
        }
        // 0-16 (s = 4) or 0-64 (s = 8) to the cache's level range.
        if (work->levelMax == 64) level = s == 4 ? count * 4 : count;
        else level = s == 8 ? count >> 2 : count;
      }
      out[x] = static_cast<uint8_t>(level > work->levelMax ? work->levelMax : level);
    }
  }
  MemFree(buffer);
  return 0;
}

// Fonts without outlines: TextOutA into the DIB section; covered = non-zero.
int FetchDibGlyph(FontRecord* record, HDC dc, unsigned int code, GlyphCacheSlot* slot, GlyphWork* work, int edge) {
  char text[2];
  int length = 0;
  if (code > 0xFF) text[length++] = static_cast<char>(code >> 8);
  text[length++] = static_cast<char>(code & 0xFF);
  SIZE extent = {0, 0};
  GetTextExtentPoint32A(dc, text, length, &extent);
  memset(record->dibPixels, 0, static_cast<size_t>(record->dibPitch) * record->cellSize);
  TextOutA(dc, 0, 0, text, length);
  GdiFlush();
  slot->xOffset = 0;
  slot->yOffset = 0;
  slot->advance = static_cast<int16_t>(extent.cx);
  int width = extent.cx, height = extent.cy;
  work->levelMax = 1;
  AllocateGlyphWork(record, edge, &width, &height, work);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++)
      work->body[(y + edge) * work->width + x + edge] = record->dibPixels[y * record->dibPitch + x] != 0 ? 1 : 0;
  return 0;
}

// Memory cells: type 0 one bit a pixel; type 1 0 / 1 body / 2 edge; grey
// types level - 1 (0 stays 0), edged grey types body low and edge high nibble.
void WriteMemoryCell(FontRecord* record, const GlyphWork& work, int cellY) {
  const int type = record->type;
  const int edged = (type & FONT_TYPE_EDGE) != 0;
  if (edged && work.width > 0) {
    // Edge values: each covered body pixel raises the kernel around it.
    for (int y = 0; y < work.height; y++)
      for (int x = 0; x < work.width; x++) {
        const int level = work.body[y * work.width + x];
        if (level == 0) continue;
        const int b = work.levelMax == 1 ? 1 : level - 1;
        ForEachKernelPosition(record->edgeSize, 0, [&](int dx, int dy) {
          const int px = x + dx, py = y + dy;
          if (px < 0 || py < 0 || px >= work.width || py >= work.height) return;
          uint8_t& e = work.edge[py * work.width + px];
          if (e < b + 1) e = static_cast<uint8_t>(b + 1);  // stored + 1: 0 = not flagged
        });
      }
  }
  for (int y = 0; y < work.height; y++) {
    uint8_t* row = record->memCache + static_cast<size_t>(cellY + y) * record->memPitch;
    for (int x = 0; x < work.width; x++) {
      const int level = work.body[y * work.width + x];
      const int flagged = work.edge[y * work.width + x];
      if (type == FONT_TYPE_NORMAL) {
        if (level) row[x >> 3] = static_cast<uint8_t>(row[x >> 3] | (0x80 >> (x & 7)));
      } else if (type == FONT_TYPE_EDGE_NORMAL) {
        row[x] = static_cast<uint8_t>(level ? 1 : flagged ? 2 : 0);
      } else {
        const int body = level ? level - 1 : 0;
        row[x] = static_cast<uint8_t>(edged ? (body | ((flagged ? flagged - 1 : 0) << 4)) : body);
      }
    }
  }
}

// Alpha of a level on the cache's range: 0-64 as 0, 4v - 1; 0-16 as 0, 16v - 1.
int LevelToAlpha(int level, int levelMax) {
  if (level <= 0) return 0;
  if (levelMax == 1) return 255;
  return level * (256 / levelMax) - 1;
}

uint32_t TexelOf(const FontRecord* record, const ColorFormatRecord* format, int alpha) {
  if (record->premultiplied) return alpha == 0 ? 0 : MakeFormatPixelFromRGBA(format, alpha, alpha, alpha, alpha);
  return MakeFormatPixelFromRGBA(format, 255, 255, 255, alpha);
}

void StoreTexel(BaseImageRecord* image, int x, int y, uint32_t value) {
  uint8_t* p = static_cast<uint8_t*>(image->pixels) + static_cast<size_t>(y) * image->pitch +
               static_cast<size_t>(x) * image->format.bytesPerPixel;
  if (image->format.bytesPerPixel == 4) memcpy(p, &value, 4);
  else {
    const uint16_t v = static_cast<uint16_t>(value);
    memcpy(p, &v, 2);
  }
}

// Texture cells: white texels with the glyph's alpha, the edge in the right half.
void WriteTextureCell(FontRecord* record, const GlyphWork& work, int cellX, int cellY) {
  BaseImageRecord* image = &record->cacheImage;
  const ColorFormatRecord* format = &image->format;
  const int edged = (record->type & FONT_TYPE_EDGE) != 0;
  const int top = work.levelMax;
  if (edged) {
    for (int y = 0; y < work.height; y++)
      for (int x = 0; x < work.width; x++) {
        const int v = work.body[y * work.width + x];
        if (v == 0) continue;
        ForEachKernelPosition(record->edgeSize, 1, [&](int dx, int dy) {
          const int px = x + dx, py = y + dy;
          if (px < 0 || py < 0 || px >= work.width || py >= work.height) return;
          uint8_t& w = work.edge[py * work.width + px];
          if (top == 1) w = 1;
          else w = static_cast<uint8_t>(w + (top - w) * v / top);
        });
      }
  }
  for (int y = 0; y < work.height; y++)
    for (int x = 0; x < work.width; x++) {
      const int v = work.body[y * work.width + x];
      StoreTexel(image, cellX + 1 + x, cellY + 1 + y, TexelOf(record, format, LevelToAlpha(v, top)));
      if (!edged) continue;
      const int w = v == top ? 0 : work.edge[y * work.width + x];
      StoreTexel(image, record->cacheWidth + cellX + 1 + x, cellY + 1 + y,
                 TexelOf(record, format, LevelToAlpha(w, top)));
    }
}

void SendCellToTexture(FontRecord* record, int cellX, int cellY) {
  const int c = record->cellSize;
  RECT body = {cellX, cellY, cellX + c, cellY + c};
  TransferImageToGraphTexture({&record->cacheImage, nullptr, record->textureGraph, &body, cellX, cellY, 0, 0}, 0);
  if (record->type & FONT_TYPE_EDGE) {
    RECT edge = {record->cacheWidth + cellX, cellY, record->cacheWidth + cellX + c, cellY + c};
    TransferImageToGraphTexture(
        {&record->cacheImage, nullptr, record->textureGraph, &edge, record->cacheWidth + cellX, cellY, 0, 0}, 0);
  }
}

}  // namespace

const uint8_t* GetEdgeKernelRows(int size) {
  switch (size) {
    case 1: return KERNEL_1;
    case 2: return KERNEL_2;
    case 3: return KERNEL_3;
    case 4: return KERNEL_4;
    default: return nullptr;
  }
}

void GetGlyphCellPosition(const FontRecord* font, int cell, int* x, int* y) {
  const int perColumn = font->cellsPerColumn > 0 ? font->cellsPerColumn : 1;
  *x = (cell / perColumn) * font->cellSize;
  *y = (cell % perColumn) * font->cellSize;
}

int ResetGlyphCache(int handle, int acceptBuilding) {
  FontRecord* record = RecordOf(handle, acceptBuilding);
  if (record == nullptr) return -1;
  memset(record->codeMap, 0, sizeof record->codeMap);
  memset(record->slots, 0, sizeof record->slots);
  for (int i = 0; i < record->capacity; i++) record->slots[i].cell = i;
  record->slots[record->capacity].cell = -1;
  record->cursor = 0;
  return 0;
}

int CreateFontCacheTexture(int handle, int async) {
  FontRecord* record = RecordOf(handle, 1);
  if (record == nullptr) return -1;
  if (!record->textureLost) return 0;
  record->textureLost = 0;
  if (record->textureGraph >= 0) {
    DeleteGraphicHandle(record->textureGraph);
    if (record->edgeGraph >= 0) DeleteGraphicHandle(record->edgeGraph);
    record->textureGraph = record->edgeGraph = -1;
  }
  const int antialias = (record->type & FONT_TYPE_ANTIALIAS) != 0;
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  settings.colorBits = record->textureBits;
  settings.alphaTest = antialias ? 0 : 1;
  settings.transparentColor = 0;
  settings.drawable = 0;
  settings.blend = 0;
  settings.cube = 0;
  settings.mipCount = 0;
  settings.notManaged = 0;
  settings.maxTextureSide = 0;
  const int texture = AllocGraphicHandle();
  if (texture < 0) return -1;
  if (CreateGraphicFromImageData(&settings, texture,
                                 {record->cacheImage.width, record->cacheImage.height, antialias, 0, 0, 1}, async) < 0)
    return -1;  // the handle is gone
  record->textureGraph = texture;
  if (record->type & FONT_TYPE_EDGE) {
    record->edgeGraph = AllocGraphicHandle();
    if (record->edgeGraph < 0 || MakeDerivedGraph(record->edgeGraph, texture, record->cacheWidth, 0, record->cacheWidth,
                                                  record->cacheHeight, async) < 0) {
      if (record->edgeGraph >= 0) DeleteGraphicHandle(record->edgeGraph);
      DeleteGraphicHandle(texture);
      record->textureGraph = record->edgeGraph = -1;
      return -1;
    }
  }
  SetGraphicLostFlagPointer(texture, &record->textureLost);
  // White with alpha 0 (0 with premultiplied texels) everywhere.
  const uint32_t clear = TexelOf(record, &record->cacheImage.format, 0);
  for (int y = 0; y < record->cacheImage.height; y++)
    for (int x = 0; x < record->cacheImage.width; x++) StoreTexel(&record->cacheImage, x, y, clear);
  RECT whole = {0, 0, record->cacheImage.width, record->cacheImage.height};
  TransferImageToGraphTexture({&record->cacheImage, nullptr, texture, &whole, 0, 0, 0, 0}, async);
  memset(record->cacheImage.pixels, 0, static_cast<size_t>(record->cacheImage.pitch) * record->cacheImage.height);
  ResetGlyphCache(handle, 1);
  return 0;
}

namespace {
// Module buffers for texts up to 256 bytes.
ParsedGlyph ParsedBuffer[FONT_TEXT_BUFFER_BYTES];
ParsedGlyph NewCodeBuffer[FONT_TEXT_BUFFER_BYTES];
}  // namespace

int CacheTextGlyphs(int length, const char* text, int handle, ParsedGlyph* parsed, int* count) {
  FontRecord* record = RecordOf(handle, 0);
  if (record == nullptr) return -1;
  if (text == nullptr) text = "";
  const int whole = lstrlenA(text);
  if (length < 0 || length > whole) length = whole;
  ParsedGlyph* block = nullptr;
  ParsedGlyph* newCodes = NewCodeBuffer;
  if (length > FONT_TEXT_BUFFER_BYTES) {
    block = static_cast<ParsedGlyph*>(MEM_ALLOC(static_cast<size_t>(length) * 2 * sizeof(ParsedGlyph)));
    if (block == nullptr) return -1;
    newCodes = block;
    if (parsed == nullptr) parsed = block + length;
  } else if (parsed == nullptr) {
    parsed = ParsedBuffer;
  }
  int characters = 0, collected = 0;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  for (int i = 0; i < length;) {
    ParsedGlyph element;
    element.flag = 0;
    if (IsLeadByte(bytes[i], record->charSet) && i + 1 < length && bytes[i + 1] != 0) {
      element.code = static_cast<uint16_t>(bytes[i] | (bytes[i + 1] << 8));
      i += 2;
    } else {
      element.code = bytes[i];
      i += 1;
    }
    parsed[characters++] = element;
    GlyphCodeEntry& entry = record->codeMap[GlyphCodeOf(element)];
    if (!entry.cached && collected < record->capacity) {
      entry.cached = 1;  // flagged while collecting
      newCodes[collected++] = element;
    }
  }
  for (int i = 0; i < collected; i++) record->codeMap[GlyphCodeOf(newCodes[i])].cached = 0;
  if (collected > 0) RasterizeGlyph(handle, collected, newCodes);
  if (count != nullptr) *count = characters;
  if (block != nullptr) MemFree(block);
  return 0;
}

GlyphCacheSlot* RasterizeGlyph(int handle, int count, const ParsedGlyph* elements) {
  if (GetDirectDrawObject() == nullptr) return nullptr;
  FontRecord* record = RecordOf(handle, 1);
  if (record == nullptr || record->capacity <= 0) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr || SelectObject(dc, record->font) == nullptr) FatalErrorExit(FATAL_CACHE_DC);
  HGDIOBJ oldBitmap = nullptr;
  if (record->noOutline) {
    oldBitmap = SelectObject(dc, record->dib);
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, OPAQUE);
  }
  TEXTMETRICA metrics;
  GetTextMetricsA(dc, &metrics);
  const int edge = (record->type & FONT_TYPE_EDGE) ? record->edgeSize : 0;
  const int s = FontTypeScale(record->type);
  GlyphCacheSlot* last = nullptr;
  for (int i = 0; i < count; i++) {
    const unsigned int code = GlyphCodeOf(elements[i]);
    GlyphCacheSlot* slot = &record->slots[record->cursor];
    if (slot->inUse) {
      slot->entry->cached = 0;
      slot->entry->slot = nullptr;
      slot->inUse = 0;
    }
    int cellX, cellY;
    GetGlyphCellPosition(record, slot->cell, &cellX, &cellY);
    const int c = record->cellSize;
    if (record->textureCache) {
      // Vertices still batched may read this cell.
      FlushVertexBatch(0);
      ClearBaseImageRect(&record->cacheImage, cellX, cellY, c, c);
      if (edge) ClearBaseImageRect(&record->cacheImage, record->cacheWidth + cellX, cellY, c, c);
    } else {
      memset(record->memCache + static_cast<size_t>(cellY) * record->memPitch, 0,
             static_cast<size_t>(record->memPitch) * c);
    }
    GlyphWork work = {0, 0, 1, nullptr, nullptr};
    if (code == 0x20 || code == 0x8140) {
      // Spaces: an advance and no pixels.
      int advance = 0;
      if (record->noOutline) {
        char text[2] = {static_cast<char>(code > 0xFF ? code >> 8 : code), static_cast<char>(code & 0xFF)};
        SIZE extent = {0, 0};
        GetTextExtentPoint32A(dc, text, code > 0xFF ? 2 : 1, &extent);
        advance = extent.cx;
      } else {
        GLYPHMETRICS gm;
        memset(&gm, 0, sizeof gm);
        const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
        if (GetGlyphOutlineA(dc, code, GGO_METRICS, &gm, 0, nullptr, &identity) == GDI_ERROR) {
          LogPrintf(LOG_GLYPH_FAILED);
          continue;
        }
        advance = (gm.gmCellIncX + s / 2) / s;
      }
      slot->xOffset = slot->yOffset = 0;
      slot->advance = static_cast<int16_t>(advance + 2 * edge);
      slot->width = slot->height = 0;
    } else {
      const int fetched = record->noOutline ? FetchDibGlyph(record, dc, code, slot, &work, edge)
                                            : FetchOutlineGlyph(record, dc, metrics, code, slot, &work, edge);
      if (fetched < 0) continue;
      if (record->textureCache) WriteTextureCell(record, work, cellX, cellY);
      else WriteMemoryCell(record, work, cellY);
      slot->advance = static_cast<int16_t>(slot->advance + 2 * edge);
      slot->width = static_cast<uint16_t>(work.width);
      slot->height = static_cast<uint16_t>(work.height);
      MemFree(work.body);
    }
    if (record->textureCache && record->textureGraph >= 0) SendCellToTexture(record, cellX, cellY);
    GlyphCodeEntry& entry = record->codeMap[code];
    entry.cached = 1;
    entry.slot = slot;
    slot->entry = &entry;
    slot->inUse = 1;
    record->cursor = record->cursor + 1 >= record->capacity ? 0 : record->cursor + 1;
    last = slot;
  }
  if (oldBitmap != nullptr) SelectObject(dc, oldBitmap);
  DeleteDC(dc);
  return last;
}
