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
  int noTextureCache;   // memory cache even with Direct3D drawing
  int antialias16Bit;   // anti-aliased texture cache in 16 bits
  int cacheCharCount;   // glyph slots, 0 = computed
  int premultiplied;    // texture cache holds the level in all four channels
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
  int32_t cell;     // slot i owns cell i; -1 after the last usable slot
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
  int noOutline;            // no glyph outlines: TextOutA into the DIB section
  HBITMAP dib;
  uint8_t* dibPixels;
  int dibPitch;
  int* lostFlag;            // set to 1 when the handle is deleted
  GlyphCacheSlot slots[FONT_SLOT_TABLE_SIZE];
  GlyphCodeEntry codeMap[FONT_CODE_COUNT];
  int cursor;               // slot the next new glyph takes
  int capacity;             // usable slots
  uint8_t* memCache;        // memory cache: one column of cells
  int memPitch;
  int memBits;              // 1 or 8
  char faceName[FONT_FACE_SIZE];  // empty for the default face
  int thickness, size;
  int charHeight;           // even; the character box with the edge
  int addedHeight;          // leading correction added to the GDI font
  int italic;
  int charSpacing;
  int cellSize;             // multiple of 8
  HFONT font;
  int type, charSet, edgeSize;
  int cacheWidth, cacheHeight, cellsPerColumn;
  int textureGraph, edgeGraph;  // -1 when none
  int textureLost;          // 1 while the cache texture must be made
  BaseImageRecord cacheImage;   // system-memory copy of the texture cache
  int textureBits;          // 16 or 32
  int premultiplied;
  int textureCache;         // 1: the cache is a texture
};

// Module.
int InitializeFontModule();
int TerminateFontModule();
int ResetFontModule(int end);
void GetFontCreateSettings(FontCreateSettings* settings);
int InitFontHandleRecord(HandleRecordHeader* record);
int ReleaseFontHandleRecord(HandleRecordHeader* record);

// Handles. AllocateFontHandle: -1 arguments select the defaults; handle -1
// makes a new one; with async the build runs as a loading job.
int AllocateFontHandle(const FontCreateSettings* settings, const char* name, int size, int thickness, int type,
                       int charSet, int edgeSize, int italic, int handle, int async);
int BuildFontData(int size, const FontCreateSettings* settings, int handle, const char* name, int thickness,
                  int type, int charSet, int edgeSize, int italic, int async);
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
int DrawTextCore(int draw, int x, int y, int scaling, double scaleX, double scaleY, const char* text,
                 unsigned int color, MEMIMG* dest, const RECT* clip, int transparent, int handle,
                 unsigned int edgeColor, int length, int vertical, SIZE* size);
int DrawTextToTextureCacheFont(int x, int y, unsigned int color, unsigned int edgeColor, int vertical,
                               const char* text, int handle);
int DrawTextThroughMemImg(int x, int y, const char* text, unsigned int color, unsigned int edgeColor,
                          int vertical, int handle);

#endif  // VEVIDU_H
