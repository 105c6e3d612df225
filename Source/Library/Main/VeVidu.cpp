// Font handles (type 8): the module's start and end, the default font, font
// creation (at once or as a loading job) with its face and charset
// fall-backs and leading correction, the cache geometry, re-creation of
// every font after a device restore, and face enumeration.
// Threads: main thread, or a loading worker for an asynchronous build; the
// record is reached through the handle manager (type lock on creation and
// deletion, deletion waits for a pending build).
// Platform: GDI (CreateFontA, CreateCompatibleDC, GetTextMetricsA,
// GetGlyphOutlineA, CreateDIBSection, EnumFontFamiliesExA).
#include "VeVidu.h"

#include <math.h>
#include <string.h>

#include "DiDAridIrer.h"
#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "VeRavoroString.h"
#include "VeViduInternal.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "ZiDezaru.h"

namespace {

const char LOG_RESET_START[] = "フォントの初期化を行います";
const char LOG_RESET_DONE[] = "フォントの初期化は正常に終了しました";
const char LOG_NAMED_FONT_FAILED[] = "指定のフォントの作成に失敗しました";
const char LOG_FONT_FAILED[] = "フォントの作成に失敗しました";
const char LOG_DC_FAILED[] = "ＤＣの取得に失敗しました";
const char LOG_TEXTURE_CACHE_FAILED[] = "テクスチャ文字キャッシュの作成に失敗しました";
const char LOG_CACHE_IMAGE_MEMORY[] = "文字キャッシュ基本イメージ用のメモリの確保に失敗しました";
const char LOG_CACHE_MEMORY[] = "フォントのキャッシュ用メモリの確保に失敗しました in CreateFontToHandle";
const char LOG_BAD_FONT_ARGUMENT[] = "フォントの作成に渡された値が異常です";
const char FATAL_DIB_HEADER[] = "メモリの確保に失敗しました in CFont";
const wchar_t LOG_FACE_REPLACED[] = L"フォント %ls はないため %ls で作成しました";
// "ＭＳ ゴシック", by its UTF-16 name: a name in the code page of the process
// would reach GDI only where that code page is Shift-JIS.
const wchar_t DEFAULT_FACE[] = L"ＭＳ ゴシック";
// Code pages of the library's character sets, in which a program passes face
// names (0, not set, is taken as Shift-JIS like everywhere else).
const UINT CHARSET_CODE_PAGE[5] = {932, 932, 949, 950, 936};

const int GDI_CHARSET_TABLE[5] = {DEFAULT_CHARSET, SHIFTJIS_CHARSET, HANGUL_CHARSET, CHINESEBIG5_CHARSET,
                                  GB2312_CHARSET};

struct DefaultFontSettings {
  char faceName[128];
  int size, thickness, type, charSet, edgeSize, italic, charSpacing;
};

int ModuleInitialized = 0;
int DefaultFontHandle = -1;
DefaultFontSettings DefaultFont;
FontCreateSettings CurrentCreateSettings = {0, 0, 0, 0};

int IsGraphicsUp() { return GetDirectDrawObject() != nullptr ? 1 : 0; }

FontRecord* RecordOf(int handle) {
  return reinterpret_cast<FontRecord*>(GetHandleRecordOfType(handle, HANDLETYPE_FONT));
}

int SupersampleScale(int type) {
  if (type == FONT_TYPE_ANTIALIASING_4X4 || type == FONT_TYPE_ANTIALIASING_EDGE_4X4) return 4;
  if (type == FONT_TYPE_ANTIALIASING_8X8 || type == FONT_TYPE_ANTIALIASING_EDGE_8X8) return 8;
  return 1;
}

// 2 -> 0, 3 -> 1, 18 and 34 -> 0, 19 and 35 -> 1.
int DropAntialias(int type) { return (type & FONT_TYPE_ANTIALIAS) ? (type & FONT_TYPE_EDGE) : type; }

int IsKnownType(int type) {
  switch (type) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 18:
    case 19:
    case 34:
    case 35: return 1;
    default: return 0;
  }
}

void RegisterDefaultHandle(int handle) {
  DefaultFontHandle = handle;
  if (handle >= 0) SetHandleDeleteFlagPtr(handle, &DefaultFontHandle);
}

// A face name in the library's character set as UTF-16, cut to what a
// LOGFONT holds; empty for none or an unconvertible name.
void FaceNameToWide(const char* name, wchar_t* out) {
  out[0] = 0;
  if (name == nullptr || name[0] == 0) return;
  const int charSet = GetCharSet();
  const UINT codePage = charSet >= 0 && charSet <= 4 ? CHARSET_CODE_PAGE[charSet] : 932;
  wchar_t wide[FONT_FACE_SIZE];
  if (MultiByteToWideChar(codePage, 0, name, -1, wide, FONT_FACE_SIZE) <= 0) {
    wide[FONT_FACE_SIZE - 1] = 0;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
  }
  lstrcpynW(out, wide, LF_FACESIZE);
}

// A UTF-16 face name in the library's character set, as a zero-terminated
// text of at most `bytes` - 1 bytes (a character that does not fit is left out).
void FaceNameFromWide(const wchar_t* name, char* out, int bytes) {
  const int charSet = GetCharSet();
  const UINT codePage = charSet >= 0 && charSet <= 4 ? CHARSET_CODE_PAGE[charSet] : 932;
  char text[LF_FULLFACESIZE * 2 + 1];
  if (WideCharToMultiByte(codePage, 0, name, -1, text, sizeof text, nullptr, nullptr) <= 0) text[0] = 0;
  int length = GetStringLength(text);
  if (length > bytes - 1) {
    length = bytes - 1;
    if (GetCharBytePositionKind(text, length - 1, charSet) < 0) length--;
  }
  text[length] = 0;
  CopyStringLimited(out, text, bytes - 1);
}

HFONT CreateGdiFont(int height, int thickness, int italic, int gdiCharSet, const wchar_t* face) {
  return CreateFontW(height, 0, 0, 0, thickness * 100, italic ? TRUE : FALSE, FALSE, FALSE,
                     static_cast<DWORD>(gdiCharSet), 0, 0, NONANTIALIASED_QUALITY, FIXED_PITCH, face);
}

// The fall-back chains of a named and of the default face; null when all fail (logged).
HFONT CreateFontWithFallBacks(int height, int thickness, int italic, int gdiCharSet, const wchar_t* name) {
  HFONT font;
  if (name[0] != 0) {
    font = CreateGdiFont(height, thickness, italic, gdiCharSet, name);
    if (font == nullptr) font = CreateGdiFont(height, thickness, italic, DEFAULT_CHARSET, name);
    if (font == nullptr) font = CreateGdiFont(height, thickness, italic, SHIFTJIS_CHARSET, name);
    if (font == nullptr) LogPrintf(LOG_NAMED_FONT_FAILED);
    return font;
  }
  font = CreateGdiFont(height, thickness, italic, gdiCharSet, DEFAULT_FACE);
  if (font == nullptr) font = CreateGdiFont(height, thickness, 0, DEFAULT_CHARSET, DEFAULT_FACE);
  if (font == nullptr) font = CreateGdiFont(height, thickness, 0, DEFAULT_CHARSET, nullptr);
  if (font == nullptr) LogPrintf(LOG_FONT_FAILED);
  return font;
}

struct EnumFaceState {
  char* buffer;
  int count;
  int max;
};

int CALLBACK EnumFontFaceCallback(const LOGFONTW* logFont, const TEXTMETRICW*, DWORD, LPARAM param) {
  EnumFaceState* state = reinterpret_cast<EnumFaceState*>(param);
  const wchar_t* wideName = reinterpret_cast<const ENUMLOGFONTEXW*>(logFont)->elfFullName;
  if (wideName[0] == L'@') return 1;
  char fullName[FONT_ENUM_ENTRY_SIZE];
  FaceNameFromWide(wideName, fullName, FONT_ENUM_ENTRY_SIZE);
  for (int i = 0; i < state->count; i++)
    if (strcmp(state->buffer + i * FONT_ENUM_ENTRY_SIZE, fullName) == 0) return 1;
  char* entry = state->buffer + state->count * FONT_ENUM_ENTRY_SIZE;
  strncpy(entry, fullName, FONT_ENUM_ENTRY_SIZE - 1);
  entry[FONT_ENUM_ENTRY_SIZE - 1] = 0;
  state->count++;
  return state->max != 0 && state->count >= state->max ? 0 : 1;
}

// Does a face of that full name exist for the GDI charset?
int FaceExists(const char* name, int charSet) {
  char small[16 * FONT_ENUM_ENTRY_SIZE];
  char* buffer = small;
  int count = EnumFontFaces(buffer, 16, name, charSet);
  if (count >= 16) {
    count = EnumFontFaces(nullptr, 0, name, charSet);
    buffer = static_cast<char*>(MEM_ALLOC(static_cast<size_t>(count) * FONT_ENUM_ENTRY_SIZE));
    if (buffer == nullptr) return 1;
    count = EnumFontFaces(buffer, count, name, charSet);
  }
  int found = 0;
  for (int i = 0; i < count && !found; i++)
    if (strcmp(buffer + i * FONT_ENUM_ENTRY_SIZE, name) == 0) found = 1;
  if (buffer != small) MemFree(buffer);
  return found;
}

// Cache geometry and memory; -1 on a memory failure (logged).
int SetUpGlyphCache(FontRecord* record, const FontCreateSettings* settings, int async) {
  const int c = record->cellSize;
  const int n = settings->cacheCharCount;
  if (record->textureCache) {
    int width, height;
    if (n == 0) {
      width = height = 512;
      while ((width / c) * (height / c) < 10) {
        if (width <= height) width *= 2;
        else height *= 2;
      }
    } else {
      int side = 8;
      const int need = c * (static_cast<int>(sqrt(static_cast<double>(n))) + 1);
      while (side < need) side *= 2;
      width = height = side;
    }
    int slots = (width / c) * (height / c);
    if (slots > FONT_SLOT_MAX) slots = FONT_SLOT_MAX;
    record->cacheWidth = width;
    record->cacheHeight = height;
    record->cellsPerColumn = height / c;
    record->capacity = slots;
    const int antialias = (record->type & FONT_TYPE_ANTIALIAS) != 0;
    const ColorFormatRecord* format = GetColorFormatForTextureDesc(antialias, !antialias,
                                                                   record->textureBits == 32 ? 1 : 0, 0);
    const int imageWidth = (record->type & FONT_TYPE_EDGE) ? width * 2 : width;
    if (format == nullptr || CreateBaseImageWithFormat(imageWidth, height, format, &record->cacheImage) < 0) {
      LogPrintf(LOG_CACHE_IMAGE_MEMORY);
      return -1;
    }
    memset(record->cacheImage.pixels, 0, static_cast<size_t>(record->cacheImage.pitch) * height);
    record->textureLost = 1;
    if (CreateFontCacheTexture(record->header.handle, async) == 0) return 0;
    LogPrintf(LOG_TEXTURE_CACHE_FAILED);
    record->textureCache = 0;
    ReleaseBaseImage(&record->cacheImage);
    memset(&record->cacheImage, 0, sizeof record->cacheImage);
  }
  int slots = n != 0 ? n : 0x50000 / (c * c);
  if (slots < 20) slots = 20;
  if (slots > FONT_SLOT_MAX) slots = FONT_SLOT_MAX;
  record->capacity = slots;
  record->cellsPerColumn = slots;
  record->cacheWidth = c;
  record->cacheHeight = slots * c;
  record->memBits = record->type == FONT_TYPE_NORMAL ? 1 : 8;
  record->memPitch = (c * record->memBits + 7) / 8;
  record->memCache = static_cast<uint8_t*>(MEM_ALLOC_ZEROED(static_cast<size_t>(record->memPitch) * slots * c));
  if (record->memCache == nullptr) {
    LogPrintf(LOG_CACHE_MEMORY);
    return -1;
  }
  return 0;
}

// The 8-bit top-down DIB section that fonts without outlines draw into.
int CreateNoOutlineDib(FontRecord* record) {
  const int c = record->cellSize;
  BITMAPINFO* info = static_cast<BITMAPINFO*>(MEM_ALLOC_ZEROED(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD)));
  if (info == nullptr) FatalErrorExit(FATAL_DIB_HEADER);
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->bmiHeader.biWidth = c;
  info->bmiHeader.biHeight = -c;
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = 8;
  info->bmiHeader.biCompression = BI_RGB;
  info->bmiHeader.biSizeImage = static_cast<DWORD>(c * c);
  for (int i = 0; i < 256; i++) {
    info->bmiColors[i].rgbBlue = static_cast<BYTE>(i);
    info->bmiColors[i].rgbRed = static_cast<BYTE>(i);
  }
  HDC dc = CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  record->dib = CreateDIBSection(dc, info, DIB_PAL_COLORS, &bits, nullptr, 0);
  if (dc != nullptr) DeleteDC(dc);
  MemFree(info);
  if (record->dib == nullptr) return -1;
  record->dibPixels = static_cast<uint8_t*>(bits);
  BITMAP object;
  GetObjectA(record->dib, sizeof object, &object);
  record->dibPitch = object.bmWidthBytes;
  return 0;
}

int BuildFontDataJob(ASyncJob* job) {
  int offset = 0;
  FontCreateSettings settings;
  memcpy(&settings, UnpackASyncData(job->params, &offset), sizeof settings);
  const int handle = UnpackASyncInt(job->params, &offset);
  FontRequest font;
  font.name = UnpackASyncString(job->params, &offset);
  font.size = UnpackASyncInt(job->params, &offset);
  font.thickness = UnpackASyncInt(job->params, &offset);
  font.type = UnpackASyncInt(job->params, &offset);
  font.charSet = UnpackASyncInt(job->params, &offset);
  font.edgeSize = UnpackASyncInt(job->params, &offset);
  font.italic = UnpackASyncInt(job->params, &offset);
  const int result = BuildFontData(&settings, handle, font, 1);
  SubHandleAsyncCount(handle);
  if (result != 0) DeleteHandle(handle);
  return 0;
}

}  // namespace

// Set at static initialisation: resets the module at exit (nothing once the
// graphics system is gone).
namespace {
void ResetFontModuleAtExit() { ResetFontModule(0); }
struct FontExitRegistration {
  FontExitRegistration() { atexit(ResetFontModuleAtExit); }
} FontExitRegistrationInstance;
}  // namespace

int BitCountTable[256];

int FontCharSetToGdi(int charSet) {
  if (charSet < 0 || charSet > 4) return DEFAULT_CHARSET;
  return GDI_CHARSET_TABLE[charSet];
}

void GetFontCreateSettings(FontCreateSettings* settings) { *settings = CurrentCreateSettings; }

int InitializeFontModule() {
  if (ModuleInitialized) return -1;
  ModuleInitialized = 1;
  InitHandleType(HANDLETYPE_FONT, sizeof(FontRecord), FONT_HANDLE_MAX, InitFontHandleRecord, ReleaseFontHandleRecord,
                 "フォント");
  memset(&DefaultFont, 0, sizeof DefaultFont);
  DefaultFont.size = 16;
  DefaultFont.thickness = 6;
  DefaultFont.type = 0;
  DefaultFont.charSet = GetCharSet();
  DefaultFont.edgeSize = 1;
  for (int i = 0; i < 256; i++) {
    int bits = 0;
    for (int v = i; v != 0; v >>= 1) bits += v & 1;
    BitCountTable[i] = bits;
  }
  DefaultFontHandle = -1;
  ResetFontModule(0);
  return 0;
}

int TerminateFontModule() {
  if (!ModuleInitialized) return -1;
  ResetFontModule(1);
  if (DefaultFontHandle >= 0) DeleteHandle(DefaultFontHandle);
  DefaultFontHandle = -1;
  TermHandleType(HANDLETYPE_FONT);
  ModuleInitialized = 0;
  return 0;
}

int ResetFontModule(int end) {
  if (!IsGraphicsUp() || !ModuleInitialized) return -1;
  LogPrintf(LOG_RESET_START);
  LogIndentIn();
  DefaultFontSettings remembered = DefaultFont;
  remembered.faceName[0] = 0;
  const int hadDefault = IsFontHandleValid(DefaultFontHandle);
  if (hadDefault) {
    FontRecord* record = RecordOf(DefaultFontHandle);
    CopyStringLimited(remembered.faceName, record->faceName, sizeof remembered.faceName - 1);
    remembered.size = record->size;
    remembered.thickness = record->thickness;
    remembered.type = record->type;
    remembered.charSet = record->charSet;
    remembered.edgeSize = record->edgeSize;
    remembered.italic = record->italic;
  }
  DeleteAllHandlesOfType(HANDLETYPE_FONT, nullptr);
  DefaultFontHandle = -1;
  if (!end) {
    FontCreateSettings settings;
    GetFontCreateSettings(&settings);
    FontRequest font;
    font.name = remembered.faceName;
    font.size = remembered.size, font.thickness = remembered.thickness, font.type = remembered.type;
    font.charSet = remembered.charSet, font.edgeSize = remembered.edgeSize, font.italic = remembered.italic;
    const int handle = AllocateFontHandle(&settings, font, -1, 0);
    RegisterDefaultHandle(handle);
  }
  LogIndentOut();
  LogPrintf(LOG_RESET_DONE);
  return 0;
}

int InitFontHandleRecord(HandleRecordHeader* header) {
  FontRecord* record = reinterpret_cast<FontRecord*>(header);
  record->textureGraph = -1;
  record->edgeGraph = -1;
  return 0;
}

int ReleaseFontHandleRecord(HandleRecordHeader* header) {
  FontRecord* record = reinterpret_cast<FontRecord*>(header);
  if (record->font != nullptr) DeleteObject(record->font);
  record->font = nullptr;
  if (record->memCache != nullptr) MemFree(record->memCache);
  record->memCache = nullptr;
  if (record->textureGraph >= 0) {
    DeleteGraphicHandle(record->textureGraph);
    if (record->edgeGraph >= 0) DeleteGraphicHandle(record->edgeGraph);
    record->textureGraph = record->edgeGraph = -1;
  }
  if (record->cacheImage.pixels != nullptr) ReleaseBaseImage(&record->cacheImage);
  if (record->dib != nullptr) DeleteObject(record->dib);
  record->dib = nullptr;
  record->dibPixels = nullptr;
  if (record->lostFlag != nullptr) *record->lostFlag = 1;
  return 0;
}

int CreateFontToHandle(const char* faceName, int size, int thickness, int fontType, int charSet, int edgeSize,
                       int italic, int reuseHandle) {
  FontCreateSettings settings;
  GetFontCreateSettings(&settings);
  FontRequest font;
  font.name = faceName;
  font.size = size, font.thickness = thickness, font.type = fontType;
  font.charSet = charSet, font.edgeSize = edgeSize, font.italic = italic;
  return AllocateFontHandle(&settings, font, reuseHandle, IsASyncLoadEnabled());
}

int AllocateFontHandle(const FontCreateSettings* settings, const FontRequest& font, int handle, int async) {
  const char* name = font.name;
  if (!ModuleInitialized) return -1;
  if (!WinSys.active) WaitWhileInactive();
  handle = CreateHandle(HANDLETYPE_FONT, handle);
  if (handle == -1) return -1;
  if (async) {
    int size8 = 0;
    PackASyncData(nullptr, &size8, settings, sizeof *settings);
    PackASyncInt(nullptr, &size8, handle);
    PackASyncString(nullptr, &size8, name);
    for (int i = 0; i < 6; i++) PackASyncInt(nullptr, &size8, 0);
    ASyncJob* job = AllocASyncJob(size8);
    if (job == nullptr) {
      DeleteHandle(handle);
      return -1;
    }
    int offset = 0;
    PackASyncData(job->params, &offset, settings, sizeof *settings);
    PackASyncInt(job->params, &offset, handle);
    PackASyncString(job->params, &offset, name);
    PackASyncInt(job->params, &offset, font.size);
    PackASyncInt(job->params, &offset, font.thickness);
    PackASyncInt(job->params, &offset, font.type);
    PackASyncInt(job->params, &offset, font.charSet);
    PackASyncInt(job->params, &offset, font.edgeSize);
    PackASyncInt(job->params, &offset, font.italic);
    job->function = BuildFontDataJob;
    if (AddASyncJobForHandle(job, handle) < 0) {
      DeleteHandle(handle);
      return -1;
    }
    return handle;
  }
  if (BuildFontData(settings, handle, font, 0) != 0) {
    DeleteHandle(handle);
    return -1;
  }
  return handle;
}

int BuildFontData(const FontCreateSettings* settings, int handle, const FontRequest& request, int async) {
  const char* name = request.name;
  int size = request.size, thickness = request.thickness, type = request.type, charSet = request.charSet;
  int edgeSize = request.edgeSize;
  const int italic = request.italic;
  if (WinSys.windowDestroyed) return -1;
  if (type == -1) type = 0;
  if (edgeSize > 1) type |= FONT_TYPE_EDGE;
  if (size == -1) size = 16;
  if (thickness == -1) thickness = 6;
  if (edgeSize == -1) edgeSize = 1;
  int autoCharSet = 0;
  if (charSet == -1) {
    charSet = GetCharSet();
    autoCharSet = 1;
  }
  if (!IsKnownType(type) || size < 1 || size > 4096 || edgeSize < 0 || edgeSize > 64 || thickness < 0 ||
      thickness > 10) {
    LogPrintf(LOG_BAD_FONT_ARGUMENT);
    return -1;
  }
  FontRecord* record = RecordOf(handle);
  if (record == nullptr) return -1;
  if (GetColorBitDepth() == 8) type = DropAntialias(type);
  const int scale = SupersampleScale(type);
  record->thickness = thickness;
  record->italic = italic ? 1 : 0;
  record->size = size;
  record->type = type;
  record->edgeSize = edgeSize;
  record->charSpacing = 0;
  record->textureCache = DeviceLayer.hardware && HasDirect3DDevice() && settings->noTextureCache == 0 ? 1 : 0;
  record->textureBits = record->textureCache && (type & FONT_TYPE_ANTIALIAS) && settings->antialias16Bit == 0 ? 32 : 16;
  record->premultiplied = settings->premultiplied;
  record->faceName[0] = 0;
  if (name != nullptr) CopyStringLimited(record->faceName, name, FONT_FACE_SIZE - 1);
  if (name != nullptr && name[0] != 0 && autoCharSet && !FaceExists(name, charSet)) charSet = 0;

  // GDI font, metrics, and the taller font of the leading correction.
  const int baseHeight = scale * size;
  int extra = 0;
  HFONT font = nullptr;
  HDC dc = nullptr;
  TEXTMETRICA metrics;
  int firstHeight = 0;
  wchar_t wideName[LF_FACESIZE];
  FaceNameToWide(name, wideName);
  for (int pass = 0; pass < 2; pass++) {
    font = CreateFontWithFallBacks(baseHeight + extra, thickness, italic, FontCharSetToGdi(charSet), wideName);
    if (font == nullptr) return -1;
    dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr) {
      LogPrintf(LOG_DC_FAILED);
      DeleteObject(font);
      return -1;
    }
    HGDIOBJ old = SelectObject(dc, font);
    GetTextMetricsA(dc, &metrics);
    // GDI gives the nearest face it has when the one asked for is missing.
    if (pass == 0) {
      const wchar_t* wanted = wideName[0] != 0 ? wideName : DEFAULT_FACE;
      wchar_t got[LF_FACESIZE];
      if (GetTextFaceW(dc, LF_FACESIZE, got) > 0 && lstrcmpiW(got, wanted) != 0)
        LogPrintfWide(LOG_FACE_REPLACED, wanted, got);
    }
    if (pass == 1) {
      record->addedHeight = (metrics.tmHeight - firstHeight) / scale;
      SelectObject(dc, old);
      break;
    }
    const int leading = metrics.tmInternalLeading + metrics.tmExternalLeading;
    if (leading < 1 || metrics.tmHeight <= leading) {
      record->addedHeight = 0;
      SelectObject(dc, old);
      break;
    }
    firstHeight = metrics.tmHeight;
    extra = static_cast<int>(static_cast<float>(baseHeight / (1.0 - static_cast<double>(leading) / metrics.tmHeight))) -
            baseHeight;
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(font);
  }

  // Cell and character box.
  const int edge2 = (type & FONT_TYPE_EDGE) ? 2 * edgeSize : 0;
  int cellWidth = metrics.tmMaxCharWidth / scale + 4 + edge2;
  cellWidth = (cellWidth + 7) & ~7;
  int charHeight = metrics.tmHeight / scale + 1 + edge2;
  if (charHeight & 1) charHeight++;
  record->charHeight = charHeight;
  record->cellSize = cellWidth > charHeight ? cellWidth : charHeight;
  record->cellSize = (record->cellSize + 7) & ~7;

  // Outline probe.
  HGDIOBJ old = SelectObject(dc, font);
  GLYPHMETRICS glyph;
  const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
  record->noOutline = GetGlyphOutlineA(dc, ' ', GGO_BITMAP, &glyph, 0, nullptr, &identity) == GDI_ERROR ? 1 : 0;
  if (record->noOutline) record->textureBits = 16;
  SelectObject(dc, old);
  DeleteDC(dc);
  if (record->font != nullptr) DeleteObject(record->font);
  record->font = font;
  if (record->noOutline) record->type = type = DropAntialias(type);

  if (SetUpGlyphCache(record, settings, async) < 0) return -1;
  if (record->noOutline && CreateNoOutlineDib(record) < 0) return -1;
  ResetGlyphCache(handle, 1);
  record->lostFlag = nullptr;
  record->charSet = charSet;
  return 0;
}

int SetFontLostFlagPointer(int handle, int* flag) {
  FontRecord* record = GetFontRecord(handle);
  if (record == nullptr) return -1;
  record->lostFlag = flag;
  if (flag != nullptr) *flag = 0;
  return 0;
}

int SetFontCharSpacing(int spacing, int handle) {
  FontRecord* record = GetFontRecord(handle);
  if (record == nullptr) return -1;
  record->charSpacing = spacing;
  return 0;
}

int GetFontHandleInfo(char* name, int* size, int* thickness, int handle) {
  FontRecord* record = GetFontRecord(handle);
  if (record == nullptr) return -1;
  if (name != nullptr) CopyString(name, record->faceName);
  if (size != nullptr) *size = record->size;
  if (thickness != nullptr) *thickness = record->thickness;
  return 0;
}

int GetFontHandleSize(int handle) {
  FontRecord* record = GetFontRecord(handle);
  return record != nullptr ? record->size : -1;
}

int IsFontHandleValid(int handle) { return GetFontRecord(handle) != nullptr ? 1 : 0; }

int GetDefaultFontHandle() { return DefaultFontHandle; }

FontRecord* GetFontRecord(int handle) {
  if (handle < 0 || !ModuleInitialized) return nullptr;
  FontRecord* record = RecordOf(handle);
  if (record == nullptr || record->header.asyncLoadCount != 0) return nullptr;
  return record;
}

int SetDefaultFontNameSizeThickness(const char* name, int size, int thickness) {
  if (!IsGraphicsUp()) return -1;
  DefaultFont.faceName[0] = 0;
  if (name != nullptr) CopyStringLimited(DefaultFont.faceName, name, sizeof DefaultFont.faceName - 1);
  DefaultFont.size = size == -1 ? 16 : size;
  DefaultFont.thickness = thickness == -1 ? 6 : thickness;
  return RefreshDefaultFont();
}

int RefreshDefaultFont() {
  FontRecord* record = GetFontRecord(DefaultFontHandle);
  if (record != nullptr && strcmp(record->faceName, DefaultFont.faceName) == 0 && record->type == DefaultFont.type &&
      record->size == DefaultFont.size && record->thickness == DefaultFont.thickness &&
      record->charSet == DefaultFont.charSet && record->edgeSize == DefaultFont.edgeSize &&
      record->italic == DefaultFont.italic)
    return 0;
  if (DefaultFontHandle >= 0) DeleteHandle(DefaultFontHandle);
  DefaultFontHandle = -1;
  FontCreateSettings settings;
  GetFontCreateSettings(&settings);
  FontRequest font;
  font.name = DefaultFont.faceName;
  font.size = DefaultFont.size, font.thickness = DefaultFont.thickness, font.type = DefaultFont.type;
  font.charSet = DefaultFont.charSet;
  font.edgeSize = (DefaultFont.type & FONT_TYPE_EDGE) ? DefaultFont.edgeSize : -1;
  font.italic = DefaultFont.italic;
  const int handle = AllocateFontHandle(&settings, font, -1, 0);
  RegisterDefaultHandle(handle);
  if (handle >= 0) SetFontCharSpacing(DefaultFont.charSpacing, handle);
  return 0;
}

int RecreateAllFontHandles() {
  HandleManager& manager = HandleManagers[HANDLETYPE_FONT];
  if (!manager.initialized) return -1;
  const int last = manager.highestSlot;
  for (int slot = manager.lowestSlot; slot <= last && slot < manager.maxCount; slot++) {
    FontRecord* record = reinterpret_cast<FontRecord*>(manager.slots[slot]);
    if (record == nullptr || record->header.asyncLoadCount != 0) continue;
    const int handle = record->header.handle;
    char face[FONT_FACE_SIZE];
    CopyString(face, record->faceName);
    const int charSet = record->charSet, edgeSize = record->edgeSize, size = record->size;
    const int thickness = record->thickness, type = record->type, italic = record->italic;
    const int spacing = record->charSpacing;
    const int wasDefault = handle == DefaultFontHandle;
    int* ownerFlag = record->lostFlag;
    DeleteHandle(handle);
    if (!WinSys.active) WaitWhileInactive();
    if (CreateHandle(HANDLETYPE_FONT, handle) != handle) continue;
    FontCreateSettings settings;
    GetFontCreateSettings(&settings);
    FontRequest font;
    font.name = face;
    font.size = size, font.thickness = thickness, font.type = type;
    font.charSet = charSet, font.edgeSize = edgeSize, font.italic = italic;
    if (BuildFontData(&settings, handle, font, 0) != 0) {
      DeleteHandle(handle);
      continue;
    }
    SetFontCharSpacing(spacing, handle);
    // The default font keeps its place (its delete flag was cleared), and an
    // owner that watches its font keeps the same handle instead of making
    // another one beside it.
    if (wasDefault) RegisterDefaultHandle(handle);
    if (ownerFlag != nullptr) SetFontLostFlagPointer(handle, ownerFlag);
  }
  return 0;
}

int EnumFontFaces(char* buffer, int maxCount, const char* faceName, int charSet) {
  LOGFONTW logFont;
  memset(&logFont, 0, sizeof logFont);
  FaceNameToWide(faceName, logFont.lfFaceName);
  logFont.lfCharSet = static_cast<BYTE>(charSet < 0 ? DEFAULT_CHARSET : FontCharSetToGdi(charSet));
  logFont.lfPitchAndFamily = 0;
  char* temporary = nullptr;
  EnumFaceState state = {buffer, 0, buffer != nullptr ? maxCount : 0};
  if (buffer == nullptr) {
    temporary = static_cast<char*>(MEM_ALLOC(4096 * FONT_ENUM_ENTRY_SIZE));
    if (temporary == nullptr) return -1;
    state.buffer = temporary;
    state.max = 4096;
  }
  HDC dc = GetDC(nullptr);
  EnumFontFamiliesExW(dc, &logFont, reinterpret_cast<FONTENUMPROCW>(EnumFontFaceCallback),
                      reinterpret_cast<LPARAM>(&state), 0);
  ReleaseDC(nullptr, dc);
  if (temporary != nullptr) MemFree(temporary);
  return state.count;
}
