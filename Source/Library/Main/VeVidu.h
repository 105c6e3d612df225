// Fonts (handle type 8): font records over GDI fonts, the default font, the
// glyph cache (a texture graphic with a system-memory copy, or a memory
// image) with its GDI rasteriser, and text drawing and measuring.
#ifndef VEVIDU_H
#define VEVIDU_H

#include <windows.h>
#include <stdint.h>

#include "ReReziRader.h"
#include "RiRerEzi.h"
#include "VeRavoro.h"
#include "RiDov.h"

enum {
  FONT_HANDLE_MAX = 40,
  FONT_SLOT_TABLE_SIZE = 2025,  // usable slots and the end entry
  FONT_SLOT_MAX = 2024,
  FONT_CODE_COUNT = 65536,
  FONT_FACE_SIZE = 256,
  FONT_ENUM_ENTRY_SIZE = 64,     // one full name in EnumFontFaces' buffer
  FONT_TEXT_BUFFER_BYTES = 256,  // texts up to this length need no allocation
};

// Font type bits and values.
enum {
  FONT_TYPE_EDGE = 1,
  FONT_TYPE_ANTIALIAS = 2,
};

// Creation settings copied by every creation (no setter: all 0 at run time).
struct FontCreateSettings {
  int noTextureCache;  // memory cache even with Direct3D drawing
  int antialias16Bit;  // anti-aliased texture cache in 16 bits
  int cacheCharCount;  // glyph slots, 0 = computed
  int premultiplied;   // texture cache holds the level in all four channels
};

struct GlyphCacheSlot;
struct GlyphCodeEntry {
  uint32_t cached;
  GlyphCacheSlot* slot;
};

struct GlyphCacheSlot {
  uint8_t inUse;
  int16_t xOffset;  // glyph image from the pen position
  int16_t yOffset;  // from the top of the character box
  int16_t advance;
  int32_t cell;  // slot i owns cell i; -1 after the last usable slot
  uint16_t width, height;
  GlyphCodeEntry* entry;
};

// Parsed text element: code (first byte low, second byte or 0 high), flag.
#pragma pack(push, 1)
struct ParsedGlyph {
  uint16_t code;
  uint8_t flag;
};
#pragma pack(pop)

struct FontRecord {
  HandleRecordHeader header;
  int noOutline;  // no glyph outlines: TextOutA into the DIB section
  HBITMAP dib;
  uint8_t* dibPixels;
  int dibPitch;
  int* lostFlag;  // set to 1 when the handle is deleted
  GlyphCacheSlot slots[FONT_SLOT_TABLE_SIZE];
  GlyphCodeEntry codeMap[FONT_CODE_COUNT];
  int cursor;         // slot the next new glyph takes
  int capacity;       // usable slots
  uint8_t* memCache;  // memory cache: one column of cells
  int memPitch;
  int memBits;                    // 1 or 8
  char faceName[FONT_FACE_SIZE];  // empty for the default face
  int thickness, size;
  int charHeight;   // even; the character box with the edge
  int addedHeight;  // leading correction added to the GDI font
  int italic;
  int charSpacing;
  int cellSize;  // multiple of 8
  HFONT font;
  int type, charSet, edgeSize;
  int cacheWidth, cacheHeight, cellsPerColumn;
  int textureGraph, edgeGraph;  // -1 when none
  int textureLost;              // 1 while the cache texture must be made
  BaseImageRecord cacheImage;   // system-memory copy of the texture cache
  int textureBits;              // 16 or 32
  int premultiplied;
  int textureCache;  // 1: the cache is a texture
};

// Module.
int InitializeFontModule();
int TerminateFontModule();
int ResetFontModule(int end);
void GetFontCreateSettings(FontCreateSettings* settings);
int InitFontHandleRecord(HandleRecordHeader* record);
int ReleaseFontHandleRecord(HandleRecordHeader* record);

// The look of a font to make: -1 members select the defaults.
struct FontRequest {
  const char* name = nullptr;  // face; null: the default face
  int size = -1;
  int thickness = -1;
  int type = -1;
  int charSet = -1;
  int edgeSize = -1;
  int italic = 0;
};
// Handles. AllocateFontHandle: handle -1 makes a new one; with async the
// build runs as a loading job.
int AllocateFontHandle(const FontCreateSettings* settings, const FontRequest& font, int handle, int async);
int BuildFontData(const FontCreateSettings* settings, int handle, const FontRequest& font, int async);
FontRecord* GetFontRecord(int handle);
int RefreshDefaultFont();
int RecreateAllFontHandles();
// The GDI charset of a library character set (0-4); DEFAULT_CHARSET otherwise.
int FontCharSetToGdi(int charSet);

// Glyph cache.
int ResetGlyphCache(int handle, int acceptBuilding);
int CreateFontCacheTexture(int handle, int async);
int CacheTextGlyphs(int length, const char* text, int handle, ParsedGlyph* parsed, int* count);
GlyphCacheSlot* RasterizeGlyph(int handle, int count, const ParsedGlyph* elements);
// The cell's top-left pixel in the cache image.
void GetGlyphCellPosition(const FontRecord* font, int cell, int* x, int* y);
// The edge kernel's row widths (2 x size + 1 rows); null above size 4 (full square).
const uint8_t* GetEdgeKernelRows(int size);

// Text.
// One run of text through the layout core: measured only, drawn through the
// font's texture cache, or written into a software image.
struct TextRequest {
  const char* text = nullptr;
  int length = -1;  // bytes; below 0 or beyond the text: all of it
  int handle = -1;  // font
  int x = 0, y = 0;
  int vertical = 0;
  unsigned int color = 0, edgeColor = 0;
  int draw = 0;     // 0: measure only
  int scaling = 0;  // scaleX / scaleY apply (texture cache only)
  double scaleX = 1.0, scaleY = 1.0;
  MEMIMG* dest = nullptr;      // memory cache: the image written into
  const RECT* clip = nullptr;  // in dest; null: the draw area
  int transparent = 0;         // uncovered cells keep dest's pixels
};
// The pen length in pixels (size: the text's box when not null); -1 on
// failure.
int DrawTextCore(const TextRequest& request, SIZE* size);
void DrawTextToTextureCacheFont(int x, int y, unsigned int color, unsigned int edgeColor, int vertical,
                                const char* text, int handle);
void DrawTextThroughMemImg(int x, int y, const char* text, unsigned int color, unsigned int edgeColor, int vertical,
                           int handle);

#endif  // VEVIDU_H
