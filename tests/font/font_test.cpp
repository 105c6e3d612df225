// Fonts through the started library (the harness's Xvfb, the Japanese Gothic
// the set-up maps to the default face): handles, defaults and limits, the
// glyph cache's geometry and reuse, glyph levels and edges against GDI's
// own bitmaps read here, measuring, the memory route's pixels, and the
// on-screen log.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DiDAridIrer.h"
#include "FrameReadback.h"
#include "RaRadara.h"
#include "RaRadaraServices.h"
#include "RiDov.h"
#include "RiRerEzi.h"
#include "VeRavoro.h"
#include "VeRavoroString.h"
#include "VeVidu.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VuViderezaRenderState.h"
#include "WindowFixture.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

int FontCount() { return HandleManagers[HANDLETYPE_FONT].count; }

// Whole-screen draw area, blend none, white tint, in both draw states.
void ResetTextDrawState() {
  SetClipRect(0, 0, kWidth, kHeight);
  SetBlendMode(BLEND_MODE_NONE, 255);
  SetDrawTint(255, 255, 255);
  const RECT whole = {0, 0, kWidth, kHeight};
  CurrentDrawState.drawArea = whole;
  CurrentDrawState.areaEmpty = 0;
  CurrentDrawState.blendMode = 0;
  CurrentDrawState.blendParam = 255;
  CurrentDrawState.brightness = 0xFFFFFF;
  SetMemImgDrawArea(&whole);
  SetMemImgBlendMode(0, 255);
  SetMemImgDrawBright(0xFFFFFF);
}

// GDI's own view of one glyph of a font record's HFONT.
struct GdiGlyph {
  GLYPHMETRICS gm;
  int ascent;
  int pitch;
  std::vector<unsigned char> bits;
  bool ok;
};

GdiGlyph ReadGdiGlyph(HFONT font, unsigned int code, UINT format) {
  GdiGlyph g = {};
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA tm;
  GetTextMetricsA(dc, &tm);
  g.ascent = tm.tmAscent;
  const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
  const DWORD size = GetGlyphOutlineA(dc, code, format, &g.gm, 0, nullptr, &identity);
  g.ok = size != GDI_ERROR;
  if (g.ok && size > 0) {
    g.bits.resize(size);
    GetGlyphOutlineA(dc, code, format, &g.gm, size, g.bits.data(), &identity);
    g.pitch = static_cast<int>(size / g.gm.gmBlackBoxY);
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  return g;
}

int Bit(const GdiGlyph& g, int x, int y) {
  if (x < 0 || y < 0 || x >= static_cast<int>(g.gm.gmBlackBoxX) || y >= static_cast<int>(g.gm.gmBlackBoxY) ||
      g.bits.empty())
    return 0;
  return (g.bits[static_cast<size_t>(y) * g.pitch + (x >> 3)] >> (7 - (x & 7))) & 1;
}

// Covered sub-pixels of output pixel (x, y) of a glyph reduced s x s, the
// rows shifted down by the remainder of (ascent - origin y) / s.
int BlockCount(const GdiGlyph& g, int s, int x, int y) {
  const int r = (g.ascent - g.gm.gmptGlyphOrigin.y) % s;
  int count = 0;
  for (int sy = y * s - r; sy < y * s - r + s; sy++)
    for (int sx = x * s; sx < x * s + s; sx++) count += Bit(g, sx, sy);
  return count;
}

uint32_t Texel(const BaseImageRecord& image, int x, int y) {
  const unsigned char* p = static_cast<const unsigned char*>(image.pixels) + static_cast<size_t>(y) * image.pitch +
                           static_cast<size_t>(x) * image.format.bytesPerPixel;
  uint32_t v = 0;
  memcpy(&v, p, image.format.bytesPerPixel);
  return v;
}

const GlyphCacheSlot* CachedSlot(FontRecord* font, unsigned int code) {
  return font->codeMap[code].cached ? font->codeMap[code].slot : nullptr;
}

// The codes of a Shift-JIS text.
std::vector<unsigned int> CodesOf(const char* text) {
  std::vector<unsigned int> codes;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p;) {
    if (IsLeadByte(*p, 1) && p[1] != 0) {
      codes.push_back(static_cast<unsigned>(p[0] << 8 | p[1]));
      p += 2;
    } else {
      codes.push_back(*p++);
    }
  }
  return codes;
}

// A one-bit text as GDI draws it: colour where GDI's glyph bitmaps are set,
// placed by GDI's own metrics (pen from the advances, the line moved up by
// half the leading correction).
void PaintExpectedText(FontRecord* font, const char* text, int x0, int y0, uint32_t color,
                       std::vector<uint32_t>* screen) {
  int pen = 0;
  for (unsigned int code : CodesOf(text)) {
    const GdiGlyph g = ReadGdiGlyph(font->font, code, GGO_BITMAP);
    const int gx = x0 + pen + g.gm.gmptGlyphOrigin.x;
    const int gy = y0 - font->addedHeight / 2 + g.ascent - g.gm.gmptGlyphOrigin.y;
    for (int y = 0; y < static_cast<int>(g.gm.gmBlackBoxY); y++)
      for (int x = 0; x < static_cast<int>(g.gm.gmBlackBoxX); x++)
        if (Bit(g, x, y) && gx + x >= 0 && gx + x < kWidth && gy + y >= 0 && gy + y < kHeight)
          (*screen)[static_cast<size_t>(gy + y) * kWidth + gx + x] = color;
    pen += g.gm.gmCellIncX + font->charSpacing;
  }
}

// ---------------------------------------------------------------------------
// Direct3D mode: texture caches.

class FontHardwareTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(1, DeviceLayer.hardware);
  }
};

TEST_F(FontHardwareTest, DefaultsFallBacksAndEdgeBit) {
  struct Case {
    const char* face;
    int size, thickness, type, edge;
    int wantSize, wantThickness, wantType, wantEdge;
  };
  const Case cases[] = {
      {nullptr, -1, -1, -1, -1, 16, 6, 0, 1},
      {"", 20, 3, 2, -1, 20, 3, 2, 1},
      {nullptr, 24, -1, 0, 2, 24, 6, 1, 2},  // an edge above 1 sets the edge bit
      {nullptr, 12, -1, 35, 3, 12, 6, 35, 3},
  };
  for (const Case& c : cases) {
    const int h = CreateFontToHandle(c.face, c.size, c.thickness, c.type, -1, c.edge, 0, -1);
    ASSERT_NE(-1, h) << c.size;
    FontRecord* font = GetFontRecord(h);
    ASSERT_NE(nullptr, font);
    EXPECT_EQ(c.wantSize, font->size);
    EXPECT_EQ(c.wantThickness, font->thickness);
    EXPECT_EQ(c.wantType, font->type);
    EXPECT_EQ(c.wantEdge, font->edgeSize);
    EXPECT_STREQ("", font->faceName);
    EXPECT_EQ(0, font->charHeight % 2);
    EXPECT_EQ(0, font->cellSize % 8);
    EXPECT_EQ(1, font->textureCache);
    EXPECT_EQ((c.wantType & 2) ? 32 : 16, font->textureBits);
    EXPECT_EQ(0, DeleteHandle(h));
  }
  // A face that does not exist: the automatic charset falls to 0, and GDI
  // still gives a font, whose face the log names.
  EXPECT_FALSE(log_.Has("NoSuchFaceAnywhere"));
  const int missing = CreateFontToHandle("NoSuchFaceAnywhere", 16, -1, 0, -1, -1, 0, -1);
  ASSERT_NE(-1, missing);
  EXPECT_TRUE(log_.Has("フォント NoSuchFaceAnywhere はないため ")) << log_.Text();
  EXPECT_STREQ("NoSuchFaceAnywhere", GetFontRecord(missing)->faceName);
  EXPECT_EQ(0, GetFontRecord(missing)->charSet);
  // Bad type: refused with a line.
  EXPECT_EQ(-1, CreateFontToHandle(nullptr, 16, -1, 5, -1, -1, 0, -1));
  EXPECT_TRUE(log_.Has("フォントの作成に渡された値が異常です"));
}

TEST_F(FontHardwareTest, FortyHandlesAtMost) {
  // The default font and the on-screen log's font exist from start-up.
  ASSERT_TRUE(IsFontHandleValid(GetDefaultFontHandle()));
  ASSERT_EQ(2, FontCount());
  std::vector<int> handles;
  for (int i = FontCount(); i < FONT_HANDLE_MAX; i++) {
    const int h = CreateFontToHandle(nullptr, 10, -1, 0, -1, -1, 0, -1);
    ASSERT_NE(-1, h) << i;
    handles.push_back(h);
  }
  EXPECT_EQ(-1, CreateFontToHandle(nullptr, 10, -1, 0, -1, -1, 0, -1));
  EXPECT_EQ(0, DeleteHandle(handles.back()));
  EXPECT_NE(-1, CreateFontToHandle(nullptr, 10, -1, 0, -1, -1, 0, -1));
}

TEST_F(FontHardwareTest, RecreateKeepsHandlesSpacingAndTheDefaultFont) {
  const int a = CreateFontToHandle(nullptr, 18, -1, 3, -1, 2, 0, -1);
  const int b = CreateFontToHandle(nullptr, 30, -1, 0, -1, -1, 1, -1);
  ASSERT_NE(-1, a);
  ASSERT_NE(-1, b);
  ASSERT_EQ(0, SetFontCharSpacing(5, a));
  int lost = 7;
  ASSERT_EQ(0, SetFontLostFlagPointer(b, &lost));
  EXPECT_EQ(0, lost);
  const int widthBefore = MeasureTextWidth("Wide text", -1, a, 0);
  const int def = GetDefaultFontHandle();
  const int count = FontCount();
  ASSERT_EQ(0, RecreateAllFontHandles());
  EXPECT_EQ(0, lost);  // the owner's handle is valid again: nothing to re-make
  EXPECT_EQ(def, GetDefaultFontHandle());
  EXPECT_TRUE(IsFontHandleValid(def));
  ASSERT_TRUE(IsFontHandleValid(a));
  ASSERT_TRUE(IsFontHandleValid(b));
  EXPECT_EQ(5, GetFontRecord(a)->charSpacing);
  EXPECT_EQ(3, GetFontRecord(a)->type);
  EXPECT_EQ(2, GetFontRecord(a)->edgeSize);
  EXPECT_EQ(1, GetFontRecord(b)->italic);
  EXPECT_EQ(widthBefore, MeasureTextWidth("Wide text", -1, a, 0));
  // No orphan: the same number of fonts as before.
  EXPECT_EQ(count, FontCount());
  // A real rebuild of the device does the same.
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_TRUE(IsFontHandleValid(GetDefaultFontHandle()));
  EXPECT_TRUE(IsFontHandleValid(a));
  EXPECT_EQ(0, lost);
  EXPECT_EQ(count, FontCount());
  EXPECT_EQ(widthBefore, MeasureTextWidth("Wide text", -1, a, 0));
}

TEST_F(FontHardwareTest, AsynchronousBuildIsInvalidUntilItsJobEnds) {
  SetASyncLoadEnabled(1);
  // Holding the queue's lock keeps the workers from taking the job.
  EnterLock(&ASyncLoad.lock, __FILE__, __LINE__);
  const int h = CreateFontToHandle(nullptr, 22, -1, 2, -1, -1, 0, -1);
  ASSERT_NE(-1, h);
  EXPECT_EQ(0, IsFontHandleValid(h));
  EXPECT_EQ(nullptr, GetFontRecord(h));
  EXPECT_EQ(-1, MeasureTextWidth("abc", -1, h, 0));
  EXPECT_EQ(-1, GetFontHandleSize(h));
  LeaveLock(&ASyncLoad.lock);
  for (int i = 0; i < 500 && !IsFontHandleValid(h); i++) {
    ServeMainThreadRequests();
    Sleep(10);
  }
  SetASyncLoadEnabled(0);
  ASSERT_EQ(1, IsFontHandleValid(h));
  EXPECT_EQ(22, GetFontHandleSize(h));
  EXPECT_GT(MeasureTextWidth("abc", -1, h, 0), 0);
}

TEST_F(FontHardwareTest, TextureCacheGeometry) {
  bool saw24 = false;
  for (int size = 8; size <= 40; size += 2) {
    const int h = CreateFontToHandle(nullptr, size, -1, 0, -1, -1, 0, -1);
    ASSERT_NE(-1, h);
    FontRecord* font = GetFontRecord(h);
    const int c = font->cellSize;
    int w = 512, hh = 512;
    while ((w / c) * (hh / c) < 10) (w <= hh ? w : hh) *= 2;
    const int slots = (w / c) * (hh / c) > 2024 ? 2024 : (w / c) * (hh / c);
    EXPECT_EQ(w, font->cacheWidth);
    EXPECT_EQ(hh, font->cacheHeight);
    EXPECT_EQ(slots, font->capacity) << "cell " << c;
    EXPECT_EQ(hh / c, font->cellsPerColumn);
    if (c == 24) {
      saw24 = true;
      EXPECT_EQ(441, font->capacity);
    }
    DeleteHandle(h);
  }
  EXPECT_TRUE(saw24);
  // Edged types: the texture is twice as wide, the edge graphic its right half.
  const int edged = CreateFontToHandle(nullptr, 20, -1, 1, -1, -1, 0, -1);
  FontRecord* font = GetFontRecord(edged);
  int gw = 0, gh = 0;
  ASSERT_EQ(0, GetGraphicSize(font->textureGraph, &gw, &gh));
  EXPECT_EQ(2 * font->cacheWidth, gw);
  ASSERT_EQ(0, GetGraphicSize(font->edgeGraph, &gw, &gh));
  EXPECT_EQ(font->cacheWidth, gw);
  EXPECT_EQ(font->cacheHeight, gh);
}

TEST_F(FontHardwareTest, TheGlyphAfterAFullCacheTakesTheOldestSlot) {
  const int h = CreateFontToHandle(nullptr, 40, -1, 0, -1, -1, 0, -1);
  FontRecord* font = GetFontRecord(h);
  const int capacity = font->capacity;
  // capacity + 1 distinct double-byte codes in one text.
  std::string text;
  std::vector<unsigned int> codes;
  for (int lead = 0x88; lead <= 0x9F && static_cast<int>(codes.size()) <= capacity; lead++)
    for (int trail = 0x9F; trail <= 0xFC && static_cast<int>(codes.size()) <= capacity; trail++) {
      text += static_cast<char>(lead);
      text += static_cast<char>(trail);
      codes.push_back(static_cast<unsigned>(lead << 8 | trail));
    }
  ASSERT_EQ(capacity + 1, static_cast<int>(codes.size()));
  int sum = 0;
  for (unsigned int code : codes) {
    const char one[3] = {static_cast<char>(code >> 8), static_cast<char>(code & 255), 0};
    sum += MeasureTextWidth(one, -1, h, 0);
  }
  ResetGlyphCache(h, 0);
  // Long texts are measured whole even when they hold more new glyphs than slots.
  EXPECT_EQ(sum, MeasureTextWidth(text.c_str(), -1, h, 0));
  EXPECT_EQ(nullptr, CachedSlot(font, codes[0]));  // the first was replaced
  const GlyphCacheSlot* last = CachedSlot(font, codes.back());
  ASSERT_NE(nullptr, last);
  EXPECT_EQ(0, last->cell);
  EXPECT_EQ(1, font->cursor);
  ASSERT_NE(nullptr, CachedSlot(font, codes[1]));
  EXPECT_EQ(1, CachedSlot(font, codes[1])->cell);
  // A cached code is not rasterised again.
  const int cursor = font->cursor;
  MeasureTextWidth(text.c_str() + 2, 2, h, 0);
  EXPECT_EQ(cursor, font->cursor);
}

// Texture texels against GDI: levels of grey and supersampled glyphs.
TEST_F(FontHardwareTest, TextureLevelsMatchGdiBitmaps) {
  struct Case {
    int type;
    int scale;
    UINT format;
  };
  const Case cases[] = {{0, 1, GGO_BITMAP}, {2, 1, GGO_GRAY8_BITMAP}, {18, 4, GGO_BITMAP}, {34, 8, GGO_BITMAP}};
  for (const Case& c : cases) {
    const int h = CreateFontToHandle(nullptr, 24, -1, c.type, -1, -1, 0, -1);
    ASSERT_NE(-1, h);
    FontRecord* font = GetFontRecord(h);
    ASSERT_EQ(0, MeasureTextWidth("g\x8a\xbf", -1, h, 0) < 0 ? 1 : 0);
    BaseImageRecord read;
    ASSERT_EQ(0, ReadGraphToBaseImage(font->textureGraph, &read));
    for (unsigned int code : {static_cast<unsigned>('g'), 0x8ABFu}) {
      const GlyphCacheSlot* slot = CachedSlot(font, code);
      ASSERT_NE(nullptr, slot);
      const GdiGlyph g = ReadGdiGlyph(font->font, code, c.format);
      ASSERT_TRUE(g.ok);
      EXPECT_EQ((g.gm.gmCellIncX + c.scale / 4) / c.scale, slot->advance);
      int cellX = 0, cellY = 0;
      GetGlyphCellPosition(font, slot->cell, &cellX, &cellY);
      int wrong = 0, covered = 0;
      for (int y = 0; y < slot->height; y++)
        for (int x = 0; x < slot->width; x++) {
          int alpha;
          if (c.format == GGO_GRAY8_BITMAP) {
            const int v = x < static_cast<int>(g.gm.gmBlackBoxX) ? g.bits[static_cast<size_t>(y) * g.pitch + x] : 0;
            alpha = v == 0 ? 0 : 4 * v - 1;
          } else if (c.scale == 1) {
            alpha = Bit(g, x, y) ? 255 : 0;
          } else {
            int count = BlockCount(g, c.scale, x, y);
            if (c.scale == 4) count *= 4;
            alpha = count == 0 ? 0 : 4 * count - 1;
          }
          const uint32_t texel = Texel(read, cellX + 1 + x, cellY + 1 + y);
          const int got = static_cast<int>(texel >> 24);
          const int want = c.type == 0 ? (alpha ? 255 : 0) : alpha;
          if (got != want || (texel & 0xFFFFFF) != 0xFFFFFF) wrong++;
          covered += want != 0;
        }
      EXPECT_EQ(0, wrong) << "type " << c.type << " code " << code;
      EXPECT_GT(covered, 4) << "type " << c.type;
    }
    ReleaseBaseImage(&read);
    DeleteHandle(h);
  }
}

// Edge texels: flagged around every covered body texel by the kernel (size 1:
// the eight neighbours), none under the body.
TEST_F(FontHardwareTest, TextureEdgesFollowTheKernel) {
  for (int edge : {1, 2, 3}) {
    const int h = CreateFontToHandle(nullptr, 24, -1, 1, -1, edge, 0, -1);
    FontRecord* font = GetFontRecord(h);
    ASSERT_EQ(1, font->type);
    MeasureTextWidth("W", -1, h, 0);
    const GlyphCacheSlot* slot = CachedSlot(font, 'W');
    ASSERT_NE(nullptr, slot);
    int cellX = 0, cellY = 0;
    GetGlyphCellPosition(font, slot->cell, &cellX, &cellY);
    const BaseImageRecord& image = font->cacheImage;
    auto body = [&](int x, int y) {
      if (x < 0 || y < 0 || x >= slot->width || y >= slot->height) return false;
      return (Texel(image, cellX + 1 + x, cellY + 1 + y) >> 15) != 0;
    };
    const uint8_t* rows = GetEdgeKernelRows(edge);
    int wrong = 0, edges = 0;
    for (int y = 0; y < slot->height; y++)
      for (int x = 0; x < slot->width; x++) {
        bool adjacent = false;
        for (int dy = -edge; dy <= edge && !adjacent; dy++) {
          const int half = edge == 1 ? 1 : rows[dy + edge] / 2;
          for (int dx = -half; dx <= half && !adjacent; dx++)
            if ((dx || dy) && body(x - dx, y - dy)) adjacent = true;
        }
        const bool want = adjacent && !body(x, y);
        const bool got = (Texel(image, font->cacheWidth + cellX + 1 + x, cellY + 1 + y) >> 15) != 0;
        wrong += want != got;
        edges += got;
      }
    EXPECT_EQ(0, wrong) << "edge " << edge;
    EXPECT_GT(edges, 10);
    // The body sits edge pixels right of and below the glyph's corner.
    for (int x = 0; x < slot->width; x++) EXPECT_FALSE(body(x, edge - 1)) << edge;
    DeleteHandle(h);
  }
}

TEST_F(FontHardwareTest, SpacesTakeASlotWithAnAdvanceOnly) {
  const int h = CreateFontToHandle(nullptr, 20, -1, 0, -1, -1, 0, -1);
  FontRecord* font = GetFontRecord(h);
  const int spaceWidth = MeasureTextWidth(" ", -1, h, 0);
  const int wideWidth = MeasureTextWidth("\x81\x40", -1, h, 0);
  for (unsigned int code : {0x20u, 0x8140u}) {
    const GlyphCacheSlot* slot = CachedSlot(font, code);
    ASSERT_NE(nullptr, slot);
    EXPECT_EQ(1, slot->inUse);
    EXPECT_EQ(0, slot->width);
    EXPECT_EQ(0, slot->height);
    EXPECT_GT(slot->advance, 0);
  }
  EXPECT_GT(wideWidth, spaceWidth);
  EXPECT_EQ(2, font->cursor);
}

TEST_F(FontHardwareTest, MeasuredWidthIsTheSumOfGdiAdvancesPlusSpacing) {
  const int h = CreateFontToHandle(nullptr, 20, -1, 0, -1, -1, 0, -1);
  FontRecord* font = GetFontRecord(h);
  // "GAME OVER テスト"
  const char* text = "GAME OVER テスト";
  std::vector<unsigned int> codes;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p;) {
    if (IsLeadByte(*p, 1)) {
      codes.push_back(static_cast<unsigned>(p[0] << 8 | p[1]));
      p += 2;
    } else {
      codes.push_back(*p++);
    }
  }
  int sum = 0;
  for (unsigned int code : codes) {
    const GdiGlyph g = ReadGdiGlyph(font->font, code, GGO_METRICS);
    ASSERT_TRUE(g.ok) << code;
    sum += g.gm.gmCellIncX;
  }
  EXPECT_EQ(sum, MeasureTextWidth(text, -1, h, 0));
  ASSERT_EQ(0, SetFontCharSpacing(3, h));
  EXPECT_EQ(sum + 3 * static_cast<int>(codes.size()), MeasureTextWidth(text, -1, h, 0));
  // Past 256 bytes: an allocated parse block.
  std::string longText;
  for (int i = 0; i < 40; i++) longText += "ab\x83\x65xyz";  // 7 bytes, 6 characters
  ASSERT_GT(longText.size(), 256u);
  const int one = MeasureTextWidth("ab\x83\x65xyz", -1, h, 0);
  EXPECT_EQ(40 * one, MeasureTextWidth(longText.c_str(), -1, h, 0));
  // A length shorter than the text measures its start; vertical the same pen.
  EXPECT_EQ(MeasureTextWidth("GA", -1, h, 0), MeasureTextWidth(text, 2, h, 0));
  EXPECT_EQ(MeasureTextWidth(text, -1, h, 0), MeasureTextWidth(text, -1, h, 1));
  EXPECT_EQ(0, MeasureTextWidth("", -1, h, 0));
  // The Japanese glyphs are real: GDI gives them ink.
  const GdiGlyph kana = ReadGdiGlyph(font->font, 0x8365, GGO_BITMAP);
  ASSERT_TRUE(kana.ok);
  EXPECT_GT(kana.gm.gmBlackBoxX, 4u);
}

TEST_F(FontHardwareTest, BadHandlesAreRefused) {
  const int h = CreateFontToHandle(nullptr, 16, -1, 0, -1, -1, 0, -1);
  ASSERT_EQ(0, DeleteHandle(h));
  for (int bad : {h, -1, 12345, 0x04010000}) {
    EXPECT_EQ(-1, MeasureTextWidth("a", -1, bad, 0));
    EXPECT_EQ(-1, SetFontCharSpacing(1, bad));
    EXPECT_EQ(-1, GetFontHandleSize(bad));
    EXPECT_EQ(-1, GetFontHandleInfo(nullptr, nullptr, nullptr, bad));
    EXPECT_EQ(0, IsFontHandleValid(bad));
    EXPECT_EQ(-1, DrawTextWithFont(0, 0, "a", 0xFFFFFF, bad, 0, 0));
  }
  EXPECT_TRUE(log_.Has("フォントハンドル値が異常です"));
  EXPECT_EQ(0, DrawTextWithFont(0, 0, "", 0xFFFFFF, 12345, 0, 0));
  EXPECT_EQ(0, DrawTextWithFont(0, 0, nullptr, 0xFFFFFF, 12345, 0, 0));
}

TEST_F(FontHardwareTest, DefaultFontFollowsItsSettings) {
  const int before = GetDefaultFontHandle();
  ASSERT_EQ(0, SetDefaultFontNameSizeThickness(nullptr, 24, 3));
  const int after = GetDefaultFontHandle();
  ASSERT_TRUE(IsFontHandleValid(after));
  EXPECT_FALSE(IsFontHandleValid(before));
  char name[256] = "x";
  int size = 0, thickness = 0;
  ASSERT_EQ(0, GetFontHandleInfo(name, &size, &thickness, after));
  EXPECT_STREQ("", name);
  EXPECT_EQ(24, size);
  EXPECT_EQ(3, thickness);
  // A screen-mode change rebuilds every font; the default keeps its settings.
  ASSERT_EQ(0, ChangeScreenMode(800, 600, 32, 0, -1));
  ASSERT_EQ(0, GetFontHandleInfo(name, &size, &thickness, GetDefaultFontHandle()));
  EXPECT_EQ(24, size);
  EXPECT_EQ(3, thickness);
  ASSERT_EQ(0, SetDefaultFontNameSizeThickness(nullptr, -1, -1));
  ASSERT_EQ(0, GetFontHandleInfo(name, &size, &thickness, GetDefaultFontHandle()));
  EXPECT_EQ(16, size);
  EXPECT_EQ(6, thickness);
  const int same = GetDefaultFontHandle();
  ASSERT_EQ(0, SetDefaultFontNameSizeThickness(nullptr, -1, -1));
  EXPECT_EQ(same, GetDefaultFontHandle());  // unchanged settings keep the font
}

TEST_F(FontHardwareTest, FaceEnumerationListsTheJapaneseGothic) {
  const int all = EnumFontFaces(nullptr, 0, "", 1);
  EXPECT_GT(all, 0);
  std::vector<char> names(static_cast<size_t>(all) * 64);
  ASSERT_EQ(all, EnumFontFaces(names.data(), all, "", 1));
  bool found = false;
  for (int i = 0; i < all; i++) {
    EXPECT_NE('@', names[static_cast<size_t>(i) * 64]);
    if (strstr(&names[static_cast<size_t>(i) * 64], "IPA") != nullptr) found = true;
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(1, EnumFontFaces(names.data(), 1, "", 1));
}

// Text drawn through the texture route, read back from the back buffer.
std::vector<uint32_t> ReadBackBuffer() { return ReadBackBufferFrame(kWidth, kHeight); }

void ClearBackBuffer(uint32_t rgb) {
  FlushVertexBatch(0);
  BeginDrawSceneOnce();
  SetClipRect(0, 0, kWidth, kHeight);
  ClearDevice(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u | rgb, 1.0f, 0);
}

uint32_t At(const std::vector<uint32_t>& shot, int x, int y) { return shot[static_cast<size_t>(y) * kWidth + x]; }

TEST_F(FontHardwareTest, DrawnTextReadsBackAsGdiGlyphs) {
  const int h = CreateFontToHandle(nullptr, 24, -1, 0, -1, -1, 0, -1);
  FontRecord* font = GetFontRecord(h);
  ClearBackBuffer(0);
  ASSERT_EQ(0, DrawTextWithFont(30, 40, "Ag\x83\x65", MakeColorValue(255, 0, 0), h, 0, 0));
  const std::vector<uint32_t> shot = ReadBackBuffer();
  std::vector<uint32_t> want(static_cast<size_t>(kWidth) * kHeight, 0);
  PaintExpectedText(font, "Ag\x83\x65", 30, 40, 0xFF0000, &want);
  int wrong = 0, ink = 0;
  for (int y = 0; y < 120; y++)
    for (int x = 0; x < 200; x++) {
      wrong += At(shot, x, y) != At(want, x, y);
      ink += At(want, x, y) != 0;
    }
  EXPECT_EQ(0, wrong);
  EXPECT_GT(ink, 40);
  // The tint scales the text colour; the tint and blend graphic are kept.
  ClearBackBuffer(0);
  SetDrawTint(128, 64, 255);
  ASSERT_EQ(0, SetFontCharSpacing(4, h));
  ASSERT_EQ(0, DrawTextWithFont(30, 40, "Ag\x83\x65", MakeColorValue(255, 255, 255), h, 0, 0));
  EXPECT_EQ(0x8040FFu, CurrentDrawState.brightness);
  EXPECT_EQ(-1, CurrentDrawState.blendGraph);
  const std::vector<uint32_t> tinted = ReadBackBuffer();
  std::fill(want.begin(), want.end(), 0);
  PaintExpectedText(font, "Ag\x83\x65", 30, 40, 0x8040FF, &want);
  wrong = 0;
  for (int y = 0; y < 120; y++)
    for (int x = 0; x < 220; x++) wrong += At(tinted, x, y) != At(want, x, y);
  EXPECT_EQ(0, wrong);
  SetDrawTint(255, 255, 255);
}

// The default face reaches the Japanese Gothic the set-up maps it to,
// whatever the process's code page and whatever other fonts claim Japanese
// (a font without Latin letters gives the same box for every one of them):
// distinct characters have distinct glyphs in the cache, and the drawn text
// is the text that GDI draws with the Gothic asked for by its own name.
TEST_F(FontHardwareTest, DefaultFaceDrawsTheJapaneseGothic) {
  const char text[] = "GAME START 0123456789 ハイスコア：";
  const wchar_t wideText[] = L"GAME START 0123456789 ハイスコア：";
  const int h = CreateFontToHandle(nullptr, 20, -1, 0, -1, -1, 0, -1);
  ASSERT_NE(-1, h);
  FontRecord* font = GetFontRecord(h);
  EXPECT_FALSE(log_.Has("はないため")) << log_.Text();
  ASSERT_GT(MeasureTextWidth(text, -1, h, 0), 0);

  // Glyph cells: one image per distinct character.
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(font->textureGraph, &read));
  std::vector<unsigned int> codes = CodesOf(text);
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  codes.erase(std::remove(codes.begin(), codes.end(), static_cast<unsigned>(' ')), codes.end());
  std::vector<std::string> images;
  for (unsigned int code : codes) {
    const GlyphCacheSlot* slot = CachedSlot(font, code);
    ASSERT_NE(nullptr, slot) << code;
    int cellX = 0, cellY = 0;
    GetGlyphCellPosition(font, slot->cell, &cellX, &cellY);
    std::string image = std::to_string(slot->width) + "x" + std::to_string(slot->height) + ":";
    for (int y = 0; y < slot->height; y++)
      for (int x = 0; x < slot->width; x++) image += (Texel(read, cellX + 1 + x, cellY + 1 + y) >> 24) ? '#' : '.';
    images.push_back(image);
  }
  ReleaseBaseImage(&read);
  std::string same;
  for (size_t i = 0; i < codes.size(); i++)
    for (size_t j = i + 1; j < codes.size(); j++)
      if (images[i] == images[j]) same += " " + std::to_string(codes[i]) + "=" + std::to_string(codes[j]);
  EXPECT_EQ("", same) << "characters with one glyph (codes)";

  // The drawn text against GDI's own text in the Gothic at the same height.
  LOGFONTW asked;
  ASSERT_NE(0, GetObjectW(font->font, sizeof asked, &asked));
  HFONT gothic = CreateFontW(asked.lfHeight, 0, 0, 0, asked.lfWeight, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, 0, 0,
                             NONANTIALIASED_QUALITY, FIXED_PITCH, L"IPAGothic");
  ASSERT_NE(nullptr, gothic);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kWidth;
  info.bmiHeader.biHeight = -kHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(nullptr, dib);
  HGDIOBJ oldBitmap = SelectObject(dc, dib);
  HGDIOBJ oldFont = SelectObject(dc, gothic);
  memset(bits, 0, static_cast<size_t>(kWidth) * kHeight * 4);
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkMode(dc, TRANSPARENT);
  const int x0 = 20, y0 = 50;
  TextOutW(dc, x0, y0 - font->addedHeight / 2, wideText, lstrlenW(wideText));
  GdiFlush();
  std::vector<uint32_t> want(static_cast<const uint32_t*>(bits),
                             static_cast<const uint32_t*>(bits) + static_cast<size_t>(kWidth) * kHeight);
  SelectObject(dc, oldFont);
  SelectObject(dc, oldBitmap);
  DeleteObject(dib);
  DeleteObject(gothic);
  DeleteDC(dc);

  ClearBackBuffer(0);
  ASSERT_EQ(0, DrawTextWithFont(x0, y0, text, MakeColorValue(255, 255, 255), h, 0, 0));
  const std::vector<uint32_t> shot = ReadBackBuffer();
  int wrong = 0, ink = 0;
  for (int y = 0; y < 120; y++)
    for (int x = 0; x < kWidth; x++) {
      const bool lit = (At(shot, x, y) & 0xFFFFFF) != 0;
      const bool wanted = (At(want, x, y) & 0xFFFFFF) != 0;
      wrong += lit != wanted;
      ink += wanted;
    }
  EXPECT_EQ(0, wrong);
  EXPECT_GT(ink, 500);
  DeleteHandle(h);
}

TEST_F(FontHardwareTest, EdgeIsDrawnUnderTheBody) {
  const int h = CreateFontToHandle(nullptr, 24, -1, 1, -1, 1, 0, -1);
  FontRecord* font = GetFontRecord(h);
  ClearBackBuffer(0);
  ASSERT_EQ(0, DrawTextWithFont(20, 20, "H\x8e\x9a", MakeColorValue(255, 255, 255), h, MakeColorValue(0, 0, 255), 0));
  const std::vector<uint32_t> shot = ReadBackBuffer();
  // The body is GDI's glyph, one edge pixel right of and below the plain place.
  std::vector<uint32_t> body(static_cast<size_t>(kWidth) * kHeight, 0);
  const int saved = font->charSpacing;
  font->charSpacing = 2;  // each advance grows by twice the edge
  PaintExpectedText(font, "H\x8e\x9a", 21, 21, 0xFFFFFF, &body);
  font->charSpacing = saved;
  int wrongBody = 0, edges = 0, stray = 0;
  for (int y = 1; y < 100; y++)
    for (int x = 1; x < 150; x++) {
      const uint32_t p = At(shot, x, y);
      wrongBody += (p == 0xFFFFFF) != (At(body, x, y) == 0xFFFFFF);
      if (p == 0x0000FF) {
        bool adjacent = false;
        for (int dy = -1; dy <= 1; dy++)
          for (int dx = -1; dx <= 1; dx++) adjacent = adjacent || At(shot, x + dx, y + dy) == 0xFFFFFF;
        (adjacent ? edges : stray)++;
      } else if (p != 0 && p != 0xFFFFFF) {
        stray++;
      }
    }
  EXPECT_EQ(0, wrongBody);
  EXPECT_GT(edges, 30);
  EXPECT_EQ(0, stray);
}

TEST_F(FontHardwareTest, AntialiasedTextFollowsTheGreyLevels) {
  const int h = CreateFontToHandle(nullptr, 30, -1, 2, -1, -1, 0, -1);
  FontRecord* font = GetFontRecord(h);
  ClearBackBuffer(0);
  ASSERT_EQ(0, DrawTextWithFont(10, 10, "S", MakeColorValue(255, 255, 255), h, 0, 0));
  const std::vector<uint32_t> shot = ReadBackBuffer();
  const GdiGlyph g = ReadGdiGlyph(font->font, 'S', GGO_GRAY8_BITMAP);
  const int gx = 10 + g.gm.gmptGlyphOrigin.x, gy = 10 - font->addedHeight / 2 + g.ascent - g.gm.gmptGlyphOrigin.y;
  int wrong = 0, full = 0, outsideInk = 0;
  for (int y = 0; y < 80; y++)
    for (int x = 0; x < 80; x++) {
      const int lx = x - gx, ly = y - gy;
      const bool inBox = lx >= 0 && ly >= 0 && lx < static_cast<int>(g.gm.gmBlackBoxX) &&
                         ly < static_cast<int>(g.gm.gmBlackBoxY);
      const int level = inBox ? g.bits[static_cast<size_t>(ly) * g.pitch + lx] : 0;
      const uint32_t p = At(shot, x, y);
      if (level == 0) outsideInk += p != 0;
      if (level == 64) {
        full++;
        wrong += p != 0xFFFFFF;
      }
    }
  EXPECT_GT(full, 20);
  EXPECT_EQ(0, wrong);
  EXPECT_EQ(0, outsideInk);
}

// Vertical text: each glyph turned a quarter clockwise (its top to the
// right) inside its box; the whole cache texture is drawn per glyph, yet
// nothing lands outside the boxes.
TEST_F(FontHardwareTest, VerticalTextIsTurnedInsideItsGlyphBoxes) {
  const int h = CreateFontToHandle(nullptr, 24, -1, 0, -1, -1, 0, -1);
  FontRecord* font = GetFontRecord(h);
  MeasureTextWidth("Lj\x8e\x9a", -1, h, 1);  // cache first: the boxes come from the slots
  ClearBackBuffer(0);
  const int x0 = 100, y0 = 50;
  ASSERT_EQ(0, DrawTextWithFont(x0, y0, "Lj\x8e\x9a", MakeColorValue(255, 255, 0), h, 0, 1));
  const std::vector<uint32_t> shot = ReadBackBuffer();
  std::vector<uint32_t> want(static_cast<size_t>(kWidth) * kHeight, 0);
  int pen = 0;
  const int x = x0 - font->addedHeight / 2;
  std::vector<RECT> boxes;
  for (unsigned int code : {static_cast<unsigned>('L'), static_cast<unsigned>('j'), 0x8E9Au}) {
    const GlyphCacheSlot* slot = CachedSlot(font, code);
    ASSERT_NE(nullptr, slot);
    const GdiGlyph g = ReadGdiGlyph(font->font, code, GGO_BITMAP);
    const int right = x + font->charHeight - slot->yOffset, top = y0 + pen + slot->xOffset;
    boxes.push_back({right - slot->height - 1, top, right + 1, top + slot->width});
    for (int gy = 0; gy < slot->height; gy++)
      for (int gx = 0; gx < slot->width; gx++)
        if (Bit(g, gx, gy)) want[static_cast<size_t>(top + gx) * kWidth + right - 1 - gy] = 0xFFFF00;
    pen += slot->advance;
  }
  int wrong = 0, ink = 0, outside = 0;
  for (int yy = 0; yy < 200; yy++)
    for (int xx = 0; xx < 200; xx++) {
      bool in = false;
      for (const RECT& b : boxes) in = in || (xx >= b.left && xx < b.right && yy >= b.top && yy < b.bottom);
      if (!in) {
        outside += At(shot, xx, yy) != 0;
        continue;
      }
      wrong += At(shot, xx, yy) != At(want, xx, yy);
      ink += At(want, xx, yy) != 0;
    }
  EXPECT_EQ(0, outside);
  EXPECT_EQ(0, wrong);
  EXPECT_GT(ink, 40);
  // The draw area is back as it was.
  EXPECT_EQ(0, CurrentDrawState.drawArea.left);
  EXPECT_EQ(kWidth, CurrentDrawState.drawArea.right);
}

// A text with more new glyphs than slots: the glyph drawn first is drawn
// before its cell is taken by a later one.
TEST_F(FontHardwareTest, ACellIsNotRewrittenUnderBatchedGlyphs) {
  const int h = CreateFontToHandle(nullptr, 40, -1, 0, -1, -1, 0, -1);
  FontRecord* font = GetFontRecord(h);
  std::string text = "A";
  for (int lead = 0x88; lead <= 0x9F && static_cast<int>(text.size()) < 2 * font->capacity + 1; lead++)
    for (int trail = 0x9F; trail <= 0xFC && static_cast<int>(text.size()) < 2 * font->capacity + 1; trail++) {
      text += static_cast<char>(lead);
      text += static_cast<char>(trail);
    }
  ClearBackBuffer(0);
  ASSERT_EQ(0, DrawTextWithFont(0, 50, text.c_str(), MakeColorValue(0, 255, 0), h, 0, 0));
  EXPECT_EQ(nullptr, CachedSlot(font, 'A'));  // its cell went to the last glyph
  const std::vector<uint32_t> shot = ReadBackBuffer();
  std::vector<uint32_t> want(static_cast<size_t>(kWidth) * kHeight, 0);
  PaintExpectedText(font, "A", 0, 50, 0x00FF00, &want);
  const int advance = MeasureTextWidth("A", -1, h, 0);
  int wrong = 0, ink = 0;
  for (int y = 0; y < 120; y++)
    for (int x = 0; x < advance; x++) {
      wrong += At(shot, x, y) != At(want, x, y);
      ink += At(want, x, y) != 0;
    }
  EXPECT_EQ(0, wrong);
  EXPECT_GT(ink, 30);
}

// ---------------------------------------------------------------------------
// Software mode: memory caches and the memory route.

class FontSoftwareTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, SetUseHardwareRendering(0));
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(0, DeviceLayer.hardware);
    ResetTextDrawState();
    FillScreen(kBackground);
  }
  void FillScreen(uint32_t value) { FillMemImgRectRaw(&SoftwareScreenImage, nullptr, value); }
  uint32_t ScreenPixel(int x, int y) const {
    uint32_t v;
    memcpy(&v, SoftwareScreenImage.pixels + static_cast<size_t>(y) * SoftwareScreenImage.header->pitch + x * 4, 4);
    return v;
  }
  static constexpr uint32_t kBackground = 0x00102030;
};

TEST_F(FontSoftwareTest, MemoryCacheGeometry) {
  for (int size : {8, 12, 16, 24, 40, 140}) {
    const int h = CreateFontToHandle(nullptr, size, -1, size == 12 ? 0 : 2, -1, -1, 0, -1);
    ASSERT_NE(-1, h);
    FontRecord* font = GetFontRecord(h);
    EXPECT_EQ(0, font->textureCache);
    const int c = font->cellSize;
    int slots = 0x50000 / (c * c);
    slots = slots < 20 ? 20 : slots > 2024 ? 2024 : slots;
    EXPECT_EQ(slots, font->capacity) << "cell " << c;
    EXPECT_EQ(size == 12 ? 1 : 8, font->memBits);
    EXPECT_EQ((c * font->memBits + 7) / 8, font->memPitch);
    if (c == 16) EXPECT_EQ(1280, font->capacity);
    if (c >= 160) EXPECT_EQ(20, font->capacity);
    DeleteHandle(h);
  }
}

TEST_F(FontSoftwareTest, MemoryCellsHoldGdiLevels) {
  // Type 0 one bit a pixel; type 2 GDI's 16 grey levels minus one.
  const int plain = CreateFontToHandle(nullptr, 22, -1, 0, -1, -1, 0, -1);
  const int grey = CreateFontToHandle(nullptr, 22, -1, 2, -1, -1, 0, -1);
  for (int h : {plain, grey}) {
    FontRecord* font = GetFontRecord(h);
    MeasureTextWidth("R\x8e\x9a", -1, h, 0);
    for (unsigned int code : {static_cast<unsigned>('R'), 0x8E9Au}) {
      const GlyphCacheSlot* slot = CachedSlot(font, code);
      ASSERT_NE(nullptr, slot);
      const GdiGlyph g = ReadGdiGlyph(font->font, code, font->type == 0 ? GGO_BITMAP : GGO_GRAY4_BITMAP);
      EXPECT_EQ(static_cast<int>(g.gm.gmBlackBoxX), slot->width);
      EXPECT_EQ(g.ascent - g.gm.gmptGlyphOrigin.y, slot->yOffset);
      int cellX = 0, cellY = 0;
      GetGlyphCellPosition(font, slot->cell, &cellX, &cellY);
      int wrong = 0;
      for (int y = 0; y < slot->height; y++) {
        const uint8_t* row = font->memCache + static_cast<size_t>(cellY + y) * font->memPitch;
        for (int x = 0; x < slot->width; x++) {
          if (font->type == 0) {
            wrong += ((row[x >> 3] >> (7 - (x & 7))) & 1) != Bit(g, x, y);
          } else {
            const int v = g.bits[static_cast<size_t>(y) * g.pitch + x];
            wrong += row[x] != (v ? v - 1 : 0);
          }
        }
      }
      EXPECT_EQ(0, wrong) << "type " << font->type << " code " << code;
    }
  }
}

TEST_F(FontSoftwareTest, MemoryEdgesUseTheCrossKernel) {
  const int h = CreateFontToHandle(nullptr, 20, -1, 1, -1, 1, 0, -1);
  FontRecord* font = GetFontRecord(h);
  MeasureTextWidth("X", -1, h, 0);
  const GlyphCacheSlot* slot = CachedSlot(font, 'X');
  ASSERT_NE(nullptr, slot);
  int cellX = 0, cellY = 0;
  GetGlyphCellPosition(font, slot->cell, &cellX, &cellY);
  auto cell = [&](int x, int y) -> int {
    if (x < 0 || y < 0 || x >= slot->width || y >= slot->height) return 0;
    return font->memCache[static_cast<size_t>(cellY + y) * font->memPitch + x];
  };
  int wrong = 0, edges = 0;
  for (int y = 0; y < slot->height; y++)
    for (int x = 0; x < slot->width; x++) {
      const bool adjacent = cell(x - 1, y) == 1 || cell(x + 1, y) == 1 || cell(x, y - 1) == 1 || cell(x, y + 1) == 1;
      const int want = cell(x, y) == 1 ? 1 : adjacent ? 2 : 0;
      wrong += cell(x, y) != want;
      edges += cell(x, y) == 2;
    }
  EXPECT_EQ(0, wrong);
  EXPECT_GT(edges, 10);
}

TEST_F(FontSoftwareTest, DrawnTextMatchesGdiGlyphs) {
  const int h = CreateFontToHandle(nullptr, 24, -1, 0, -1, -1, 0, -1);
  FontRecord* font = GetFontRecord(h);
  const uint32_t red = 0x00FF0000;
  const int x0 = 30, y0 = 40;
  ASSERT_EQ(0, DrawTextWithFont(x0, y0, "Ag\x83\x65", MakeColorValue(255, 0, 0), h, 0, 0));
  std::vector<uint32_t> want(static_cast<size_t>(kWidth) * kHeight, kBackground);
  PaintExpectedText(font, "Ag\x83\x65", x0, y0, red, &want);
  int wrong = 0, ink = 0;
  for (int y = 0; y < 100; y++)
    for (int x = 0; x < 200; x++) {
      wrong += ScreenPixel(x, y) != want[static_cast<size_t>(y) * kWidth + x];
      ink += ScreenPixel(x, y) == red;
    }
  EXPECT_EQ(0, wrong);
  EXPECT_GT(ink, 40);
  // The draw area clips: nothing right of x = 40.
  FillScreen(kBackground);
  const RECT narrow = {0, 0, 40, kHeight};
  SetMemImgDrawArea(&narrow);
  CurrentDrawState.drawArea = narrow;
  DrawTextWithFont(x0, y0, "Ag\x83\x65", MakeColorValue(255, 0, 0), h, 0, 0);
  for (int y = 0; y < 100; y++)
    for (int x = 40; x < 200; x++) ASSERT_EQ(kBackground, ScreenPixel(x, y)) << x << "," << y;
}

TEST_F(FontSoftwareTest, EdgedTextPutsTheEdgeAroundTheBody) {
  const int h = CreateFontToHandle(nullptr, 24, -1, 1, -1, 1, 0, -1);
  const uint32_t white = 0x00FFFFFF, blue = 0x000000FF;
  ASSERT_EQ(0, DrawTextWithFont(10, 10, "H", MakeColorValue(255, 255, 255), h, MakeColorValue(0, 0, 255), 0));
  int bodies = 0, edgesNextToBody = 0, strayEdges = 0;
  for (int y = 1; y < 60; y++)
    for (int x = 1; x < 60; x++) {
      const uint32_t p = ScreenPixel(x, y);
      if (p == white) bodies++;
      if (p != blue) continue;
      const bool adjacent = ScreenPixel(x - 1, y) == white || ScreenPixel(x + 1, y) == white ||
                            ScreenPixel(x, y - 1) == white || ScreenPixel(x, y + 1) == white;
      (adjacent ? edgesNextToBody : strayEdges)++;
    }
  EXPECT_GT(bodies, 20);
  EXPECT_GT(edgesNextToBody, 20);
  EXPECT_EQ(0, strayEdges);
}

// Cell values to colours for each kind of memory cell, written into an image
// with alpha by the core.
TEST_F(FontSoftwareTest, MemoryRouteCellValuesToColors) {
  struct Case {
    int type;
    int values;  // distinct cell values to try
  };
  for (const Case& c : {Case{1, 3}, Case{2, 16}, Case{3, 256}}) {
    const int h = CreateFontToHandle(nullptr, 100, -1, c.type, -1, -1, 0, -1);
    FontRecord* font = GetFontRecord(h);
    MeasureTextWidth("M", -1, h, 0);
    GlyphCacheSlot* slot = font->codeMap['M'].slot;
    ASSERT_NE(nullptr, slot);
    ASSERT_GE(slot->width * slot->height, c.values);
    int cellX = 0, cellY = 0;
    GetGlyphCellPosition(font, slot->cell, &cellX, &cellY);
    for (int i = 0; i < slot->width * slot->height; i++)
      font->memCache[static_cast<size_t>(cellY + i / slot->width) * font->memPitch + i % slot->width] =
          static_cast<uint8_t>(i % c.values);
    MEMIMG dest;
    memset(&dest, 0, sizeof dest);
    ASSERT_EQ(0, CreateMemImg(&dest, {200, 200, -1, 0, MEMIMG_COLOR_32, 0, 1, 0, nullptr}));
    FillMemImgRectRaw(&dest, nullptr, 0x12345678);
    const RECT whole = {0, 0, 200, 200};
    const int text[3] = {250, 100, 10}, edge[3] = {20, 200, 90};
    TextRequest request;
    request.text = "M", request.handle = h;
    request.color = MakeColorValue(250, 100, 10), request.edgeColor = MakeColorValue(20, 200, 90);
    request.draw = 1, request.dest = &dest, request.clip = &whole, request.transparent = 1;
    DrawTextCore(request, nullptr);
    const int gx = slot->xOffset, gy = slot->yOffset - font->addedHeight / 2;
    int wrong = 0;
    for (int i = 0; i < c.values; i++) {
      const int x = gx + i % slot->width, y = gy + i / slot->width;
      uint32_t got;
      memcpy(&got, dest.pixels + static_cast<size_t>(y) * dest.header->pitch + x * 4, 4);
      uint32_t expected = 0x12345678;  // untouched
      auto pack = [](const int rgb[3], int a) {
        return static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(rgb[0]) << 16 |
               static_cast<uint32_t>(rgb[1]) << 8 | static_cast<uint32_t>(rgb[2]);
      };
      if (c.type == 1) {
        if (i == 1) expected = pack(text, 255);
        if (i == 2) expected = pack(edge, 255);
      } else if (c.type == 2) {
        if (i != 0) expected = pack(text, i * 16);
      } else {
        const int body = i & 15, e = i >> 4;
        if (body == 15) {
          expected = pack(text, 255);
        } else if (body == 0) {
          if (e != 0) expected = pack(edge, e * 16);
        } else {
          const int a = body * 16 + (15 - body) * e, t = body * 4096 / a;
          int mix[3];
          for (int k = 0; k < 3; k++) mix[k] = edge[k] + (text[k] - edge[k]) * t / 256;
          expected = pack(mix, a);
        }
      }
      if (got != expected) {
        wrong++;
        ADD_FAILURE() << "type " << c.type << " value " << i << " got " << std::hex << got << " want " << expected;
        if (wrong > 5) break;
      }
    }
    ReleaseMemImg(&dest);
    DeleteHandle(h);
  }
}

TEST_F(FontSoftwareTest, VerticalTextStaysInsideItsGlyphBoxes) {
  const int h = CreateFontToHandle(nullptr, 24, -1, 0, -1, -1, 0, -1);
  FontRecord* font = GetFontRecord(h);
  const int x0 = 100, y0 = 50;
  ASSERT_EQ(0, DrawTextWithFont(x0, y0, "Lj\x8e\x9a", MakeColorValue(0, 255, 0), h, 0, 1));
  std::vector<RECT> boxes;
  int pen = 0;
  const int x = x0 - font->addedHeight / 2;
  for (unsigned int code : {static_cast<unsigned>('L'), static_cast<unsigned>('j'), 0x8E9Au}) {
    const GlyphCacheSlot* slot = CachedSlot(font, code);
    ASSERT_NE(nullptr, slot);
    const int right = x + font->charHeight - slot->yOffset;
    const int top = y0 + pen + slot->xOffset;
    boxes.push_back({right - slot->height, top, right, top + slot->width});
    pen += slot->advance;
  }
  int inside = 0, outside = 0;
  for (int yy = 0; yy < kHeight; yy++)
    for (int xx = 0; xx < kWidth; xx++) {
      if (ScreenPixel(xx, yy) == kBackground) continue;
      bool in = false;
      for (const RECT& b : boxes) in = in || (xx >= b.left && xx < b.right && yy >= b.top && yy < b.bottom);
      (in ? inside : outside)++;
    }
  EXPECT_GT(inside, 40);
  EXPECT_EQ(0, outside);
  // 'L' turned clockwise: its vertical stroke becomes a horizontal run along
  // the top of its box... and its foot runs down the box's left side.
  const RECT& l = boxes[0];
  int leftColumn = 0;
  for (int yy = l.top; yy < l.bottom; yy++) leftColumn += ScreenPixel(l.left, yy) != kBackground;
  EXPECT_GT(leftColumn, (l.bottom - l.top) / 2);
}

TEST_F(FontSoftwareTest, AntialiasedTextBlendsThroughTheWorkImage) {
  const int h = CreateFontToHandle(nullptr, 30, -1, 2, -1, -1, 0, -1);
  FillScreen(0);
  ASSERT_EQ(0, DrawTextWithFont(20, 20, "O", MakeColorValue(255, 255, 255), h, 0, 0));
  int full = 0, partial = 0;
  for (int y = 0; y < 80; y++)
    for (int x = 0; x < 80; x++) {
      const uint32_t v = ScreenPixel(x, y) & 0xFF;
      if (v >= 0xE0) full++;
      else if (v > 0) partial++;
    }
  EXPECT_GT(full, 20);
  EXPECT_GT(partial, 10);  // grey levels at the glyph's rim
}

TEST_F(FontSoftwareTest, EvictionWithTwentySlots) {
  const int h = CreateFontToHandle(nullptr, 140, -1, 0, -1, -1, 0, -1);
  FontRecord* font = GetFontRecord(h);
  ASSERT_EQ(20, font->capacity);
  const char* text = "ABCDEFGHIJKLMNOPQRSTU";  // 21 distinct
  int sum = 0;
  for (int i = 0; i < 21; i++) sum += MeasureTextWidth(text + i, 1, h, 0);
  ResetGlyphCache(h, 0);
  EXPECT_EQ(sum, MeasureTextWidth(text, -1, h, 0));
  EXPECT_EQ(nullptr, CachedSlot(font, 'A'));
  ASSERT_NE(nullptr, CachedSlot(font, 'U'));
  EXPECT_EQ(0, CachedSlot(font, 'U')->cell);
  // Drawing the text draws every glyph although the cache is too small.
  FillScreen(kBackground);
  ASSERT_EQ(0, DrawTextWithFont(0, 0, "AU", MakeColorValue(255, 255, 255), h, 0, 0));
  int ink = 0;
  for (int y = 0; y < 160; y++)
    for (int x = 0; x < 70; x++) ink += ScreenPixel(x, y) == 0x00FFFFFF;
  EXPECT_GT(ink, 100);  // the 'A', rasterised again
}

TEST_F(FontSoftwareTest, OnScreenLogLinesAppearAndSurviveARebuild) {
  ASSERT_EQ(0, ScreenLogPrintf("LOG %d\n", 42));
  ASSERT_EQ(0, ScreenLogPrintf("second line"));
  ASSERT_EQ(0, SetOnScreenLogDrawFlag(1));
  auto rowInk = [&](int top) {
    int ink = 0;
    for (int y = top; y < top + 16; y++)
      for (int x = 0; x < 120; x++) ink += (ScreenPixel(x, y) & 0xFFFFFF) == 0xFFFFFF;
    return ink;
  };
  FillScreen(0);
  ASSERT_EQ(0, PresentBackBuffer());
  EXPECT_GT(rowInk(0), 20);
  EXPECT_GT(rowInk(16), 20);
  EXPECT_EQ(0, rowInk(48));
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  ResetTextDrawState();
  FillScreen(0);
  ASSERT_EQ(0, PresentBackBuffer());
  EXPECT_GT(rowInk(0), 20);
  SetOnScreenLogDrawFlag(0);
  FillScreen(0);
  ASSERT_EQ(0, PresentBackBuffer());
  EXPECT_EQ(0, rowInk(0));
  // Lines scroll up once the screen is full (480 / 16 = 30 lines).
  ClearScreenLog();
  for (int i = 0; i < 40; i++) ScreenLogPrintf("%d\n", i);
  SetOnScreenLogDrawFlag(1);
  FillScreen(0);
  ASSERT_EQ(0, PresentBackBuffer());
  EXPECT_GT(rowInk(0), 5);
  EXPECT_GT(rowInk(16 * 28), 5);
}

}  // namespace
