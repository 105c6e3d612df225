// BMP and TGA loaders, and base images from device-independent bitmaps.
// BMP variants not decoded here go through GDI into a 24-bit image.
#include "ReReziRader.h"

#include <string.h>

#include "RaRadaraLog.h"
#include "VeRavoroString.h"
#include "ZiDezaru.h"

namespace {

// Log texts.
const char LOG_DIB_NOT_CREATED[] = "ＤＩＢの作成に失敗しました3";
const char LOG_NO_MEMORY_FOR_24BIT[] = "２４ビットカラー化したグラフィックを格納するメモリ領域の確保に失敗しました";

enum {
  BMP_FILE_HEADER_SIZE = 14,
  BMP_INFO_HEADER_MIN = 40,
  BMP_INFO_HEADER_MAX = 124,
  BMP_V2_HEADER_SIZE = 52,  // from this size on the header holds the masks itself
  BMP_V5_HEADER_SIZE = 124,
  // The largest header, three masks and a 256-entry colour table.
  BMP_HEADER_BLOCK_SIZE = BMP_INFO_HEADER_MAX + 12 + 256 * 4,

  TGA_HEADER_SIZE = 18,
  TGA_FOOTER_SIZE = 26,
  TGA_SIDE_MAX = 8192,
};

// Header fields by byte offset from the start of the bitmap header.
enum {
  BIH_WIDTH = 4,
  BIH_HEIGHT = 8,
  BIH_BIT_COUNT = 14,
  BIH_COMPRESSION = 16,
  BIH_SIZE_IMAGE = 20,
  BIH_CLR_USED = 32,
  BIH_CLR_IMPORTANT = 36,
  BIH_V5_CS_TYPE = 56,
  BIH_V5_PROFILE_DATA = 112,
  BIH_V5_PROFILE_SIZE = 116,
};

const uint32_t kColorSpaceSRGB = 0x73524742;      // 'sRGB'
const uint32_t kColorSpaceLinked = 0x4c494e4b;    // 'LINK'
const uint32_t kColorSpaceEmbedded = 0x4d424544;  // 'MBED'

// Palette entries from a colour table (blue, green, red, reserved); the
// rest of the 256 entries are zero; alpha bytes are 0.
void SetPaletteFromTable(ColorFormatRecord* format, const uint8_t* table, int entries) {
  memset(format->palette, 0, sizeof(format->palette));
  for (int i = 0; i < entries && i < 256; i++) {
    format->palette[i][0] = table[i * 4 + 0];
    format->palette[i][1] = table[i * 4 + 1];
    format->palette[i][2] = table[i * 4 + 2];
    format->palette[i][3] = 0;
  }
}

// Lets GDI draw any bitmap it understands into a 24-bit top-down section and
// keeps a copy of the result as an RGB8 image.
int ConvertDIBThroughGdi(const BITMAPINFO* info, const void* bits, int width, int height, BaseImageRecord* image) {
  const int64_t expectedRow = (static_cast<int64_t>(width) * 3 + 3) / 4 * 4;
  if (expectedRow * height > GetImageLoadByteLimit()) {
    LogPrintf(LOG_DIB_NOT_CREATED);
    return -1;
  }
  HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) {
    LogPrintf(LOG_DIB_NOT_CREATED);
    return -1;
  }
  BITMAPINFO target;
  memset(&target, 0, sizeof(target));
  target.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  target.bmiHeader.biWidth = width;
  target.bmiHeader.biHeight = -height;
  target.bmiHeader.biPlanes = 1;
  target.bmiHeader.biBitCount = 24;
  target.bmiHeader.biCompression = BI_RGB;
  void* sectionBits = nullptr;
  HBITMAP section = CreateDIBSection(dc, &target, DIB_RGB_COLORS, &sectionBits, nullptr, 0);
  if (section == nullptr || sectionBits == nullptr) {
    if (section != nullptr) DeleteObject(section);
    DeleteDC(dc);
    LogPrintf(LOG_DIB_NOT_CREATED);
    return -1;
  }
  BITMAP object;
  memset(&object, 0, sizeof(object));
  GetObjectA(section, sizeof(object), &object);
  const int64_t sectionRow = (static_cast<int64_t>(object.bmWidthBytes) + 3) / 4 * 4;
  if (sectionRow < expectedRow) {
    DeleteObject(section);
    DeleteDC(dc);
    LogPrintf(LOG_DIB_NOT_CREATED);
    return -1;
  }

  HGDIOBJ old = SelectObject(dc, section);
  int lines = SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                                static_cast<UINT>(height), bits, info, DIB_RGB_COLORS);
  SelectObject(dc, old);
  DeleteDC(dc);
  GdiFlush();
  if (lines <= 0) {
    // GDI could not read the bitmap: no picture to hand out.
    DeleteObject(section);
    return -1;
  }
  uint8_t* copy = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(expectedRow * height)));
  if (copy == nullptr) {
    DeleteObject(section);
    LogPrintf(LOG_NO_MEMORY_FOR_24BIT);
    return -1;
  }
  for (int y = 0; y < height; y++) {
    memcpy(copy + y * expectedRow, reinterpret_cast<const uint8_t*>(sectionBits) + y * sectionRow,
           static_cast<size_t>(expectedRow));
  }
  DeleteObject(section);
  MakeColorFormatRGB8(&image->format);
  SetLoadedImageRecord(image, width, height, static_cast<int>(expectedRow), copy);
  return 0;
}

// Run-length 8- or 4-bit data into a zeroed one-byte-per-pixel image. Runs
// that leave the image are cut; the data is never read past its end.
void DecodeBmpRunLength(const uint8_t* data, size_t size, int rle4, int width, int rows, int topDown, uint8_t* pixels,
                        int pitch) {
  size_t pos = 0;
  int x = 0, row = 0;
  auto put = [&](uint8_t value) {
    if (x < width) {
      const int outRow = topDown ? row : rows - 1 - row;
      pixels[static_cast<intptr_t>(outRow) * pitch + x] = value;
      x++;
    }
  };
  while (row < rows && pos + 2 <= size) {
    const uint8_t count = data[pos];
    const uint8_t value = data[pos + 1];
    pos += 2;
    if (count != 0) {
      for (int i = 0; i < count; i++) put(rle4 ? static_cast<uint8_t>((i & 1) ? (value & 15) : (value >> 4)) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      row++;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // delta
      if (pos + 2 > size) break;
      x += data[pos];
      if (x > width) x = width;
      row += data[pos + 1];
      pos += 2;
    } else {  // literal pixels, padded to a 2-byte boundary
      const size_t bytes = rle4 ? static_cast<size_t>(value + 1) / 2 : value;
      if (pos + bytes > size) break;
      for (int i = 0; i < value; i++) {
        const uint8_t b = rle4 ? data[pos + i / 2] : data[pos + i];
        put(rle4 ? static_cast<uint8_t>((i & 1) ? (b & 15) : (b >> 4)) : b);
      }
      pos += bytes;
      pos += pos & 1;
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// BMP

int LoadBmpImage(ImageLoadStream* stream, BaseImageRecord* image) {
  uint8_t fileHeader[BMP_FILE_HEADER_SIZE];
  uint8_t* block = nullptr;  // header, masks, colour table
  uint8_t* data = nullptr;   // everything from the bits offset on
  uint8_t* pixels = nullptr;
  int64_t streamSize, headerSize, width, height, rows, bitsOffset, tableStart, dataSize, sourcePitch;
  int bitCount, compression, topDown, tableEntries = 0;
  uint8_t* after;

  streamSize = ImageStreamBytesLeft(stream);
  if (streamSize < BMP_FILE_HEADER_SIZE + BMP_INFO_HEADER_MIN) goto refuse;
  if (ImageStreamReadExact(stream, fileHeader, sizeof(fileHeader)) != 0) goto refuse;
  if (fileHeader[0] != 'B' || fileHeader[1] != 'M') goto refuse;
  block = static_cast<uint8_t*>(MEM_ALLOC_ZEROED(BMP_HEADER_BLOCK_SIZE));
  if (block == nullptr) goto refuse;
  if (ImageStreamReadExact(stream, block, 4) != 0) goto refuse;
  headerSize = ReadLE32(block);
  if (headerSize < BMP_INFO_HEADER_MIN || headerSize > BMP_INFO_HEADER_MAX) goto refuse;
  if (ImageStreamReadExact(stream, block + 4, static_cast<size_t>(headerSize) - 4) != 0) goto refuse;

  width = static_cast<int32_t>(ReadLE32(block + BIH_WIDTH));
  height = static_cast<int32_t>(ReadLE32(block + BIH_HEIGHT));
  bitCount = ReadLE16(block + BIH_BIT_COUNT);
  compression = static_cast<int>(ReadLE32(block + BIH_COMPRESSION));
  bitsOffset = ReadLE32(fileHeader + 10);
  topDown = height < 0;
  rows = topDown ? -height : height;
  if (CheckImageLoadSize(width, rows) != 0) goto refuse;
  switch (compression) {
    case BI_RGB:
      if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
        goto refuse;
      break;
    case BI_RLE8:
      if (bitCount != 8) goto refuse;
      break;
    case BI_RLE4:
      if (bitCount != 4) goto refuse;
      break;
    case BI_BITFIELDS:
      if (bitCount != 16 && bitCount != 32) goto refuse;
      break;
    default: goto refuse;
  }

  // Masks follow a header too small to hold them; a colour table follows
  // the header (and masks) and ends at the bits at the latest.
  after = block + headerSize;
  tableStart = BMP_FILE_HEADER_SIZE + headerSize;
  if (compression == BI_BITFIELDS && headerSize < BMP_V2_HEADER_SIZE) {
    if (ImageStreamReadExact(stream, after, 12) != 0) goto refuse;
    after += 12;
    tableStart += 12;
  }
  if (bitsOffset < tableStart || bitsOffset >= streamSize) goto refuse;
  if (bitCount <= 8) {
    tableEntries = 1 << bitCount;
    if ((bitsOffset - tableStart) / 4 < tableEntries) tableEntries = static_cast<int>((bitsOffset - tableStart) / 4);
    if (ImageStreamReadExact(stream, after, static_cast<size_t>(tableEntries) * 4) != 0) goto refuse;
  }

  dataSize = streamSize - bitsOffset;
  if (dataSize > GetImageLoadByteLimit()) goto refuse;
  if (ImageStreamSeek(stream, bitsOffset, FILE_STREAM_SEEK_SET) != 0) goto refuse;
  data = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(dataSize)));
  if (data == nullptr) goto refuse;
  if (ImageStreamReadExact(stream, data, static_cast<size_t>(dataSize)) != 0) goto refuse;

  sourcePitch = (static_cast<int64_t>(bitCount) * width + 31) / 32 * 4;
  if (compression == BI_RLE8 || compression == BI_RLE4) {
    const int64_t pitch = (width + 3) / 4 * 4;
    if (pitch * rows > GetImageLoadByteLimit()) goto refuse;
    pixels = static_cast<uint8_t*>(MEM_ALLOC_ZEROED(static_cast<size_t>(pitch * rows)));
    if (pixels == nullptr) goto refuse;
    DecodeBmpRunLength(data, static_cast<size_t>(dataSize), compression == BI_RLE4, static_cast<int>(width),
                       static_cast<int>(rows), topDown, pixels, static_cast<int>(pitch));
    MakeColorFormatPal8(&image->format);
    SetPaletteFromTable(&image->format, after, tableEntries);
    SetLoadedImageRecord(image, static_cast<int>(width), static_cast<int>(rows), static_cast<int>(pitch), pixels);
  } else {
    // Uncompressed rows must all be there.
    if (dataSize < sourcePitch * rows) goto refuse;
    if (compression == BI_RGB && bitCount == 4) {
      const int64_t pitch = (width + 3) / 4 * 4;
      pixels = static_cast<uint8_t*>(MEM_ALLOC_ZEROED(static_cast<size_t>(pitch * rows)));
      if (pixels == nullptr) goto refuse;
      for (int64_t y = 0; y < rows; y++) {
        const uint8_t* src = data + (topDown ? y : rows - 1 - y) * sourcePitch;
        uint8_t* out = pixels + y * pitch;
        for (int64_t x = 0; x < width; x++) out[x] = (x & 1) ? (src[x / 2] & 15) : (src[x / 2] >> 4);
      }
      MakeColorFormatPal8(&image->format);
      SetPaletteFromTable(&image->format, after, tableEntries);
      SetLoadedImageRecord(image, static_cast<int>(width), static_cast<int>(rows), static_cast<int>(pitch), pixels);
    } else if (compression == BI_RGB && (bitCount == 8 || bitCount == 24 || bitCount == 32)) {
      if (topDown) {
        pixels = data;
        data = nullptr;
      } else {
        pixels = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(sourcePitch * rows)));
        if (pixels == nullptr) goto refuse;
        for (int64_t y = 0; y < rows; y++)
          memcpy(pixels + y * sourcePitch, data + (rows - 1 - y) * sourcePitch, static_cast<size_t>(sourcePitch));
      }
      if (bitCount == 8) {
        MakeColorFormatPal8(&image->format);
        SetPaletteFromTable(&image->format, after, tableEntries);
      } else if (bitCount == 24) {
        MakeColorFormatRGB8(&image->format);
      } else {
        int allZero = Bmp32ZeroAlphaAsXrgb;
        for (int64_t y = 0; allZero && y < rows; y++) {
          const uint8_t* p = pixels + y * sourcePitch;
          for (int64_t x = 0; x < width; x++) {
            if (p[x * 4 + 3] != 0) {
              allZero = 0;
              break;
            }
          }
        }
        if (allZero) {
          MakeColorFormatXRGB8(&image->format);
        } else {
          MakeColorFormatARGB8(&image->format);
        }
      }
      SetLoadedImageRecord(image, static_cast<int>(width), static_cast<int>(rows), static_cast<int>(sourcePitch),
                           pixels);
    } else {
      // 1- and 16-bit and bit-field bitmaps: GDI draws them from the file's
      // own header. The colour-count fields are set to what the block holds.
      WriteLE32(block + BIH_SIZE_IMAGE, static_cast<uint32_t>(sourcePitch * rows));
      WriteLE32(block + BIH_CLR_USED, 0);
      WriteLE32(block + BIH_CLR_IMPORTANT, 0);
      if (headerSize >= BMP_V5_HEADER_SIZE) {
        const uint32_t space = ReadLE32(block + BIH_V5_CS_TYPE);
        if (space == kColorSpaceLinked || space == kColorSpaceEmbedded) {
          WriteLE32(block + BIH_V5_CS_TYPE, kColorSpaceSRGB);
          WriteLE32(block + BIH_V5_PROFILE_DATA, 0);
          WriteLE32(block + BIH_V5_PROFILE_SIZE, 0);
        }
      }
      if (ConvertDIBThroughGdi(reinterpret_cast<const BITMAPINFO*>(block), data, static_cast<int>(width),
                               static_cast<int>(rows), image) != 0)
        goto refuse;
    }
  }
  MemFree(block);
  if (data != nullptr) MemFree(data);
  return 0;

refuse:
  if (pixels != nullptr) MemFree(pixels);
  if (data != nullptr) MemFree(data);
  if (block != nullptr) MemFree(block);
  memset(image, 0, sizeof(*image));
  ImageStreamSeek(stream, 0, FILE_STREAM_SEEK_SET);
  return -1;
}

int CreateBaseImageFromDIB(const BITMAPINFO* info, const void* bits, BaseImageRecord* image, int copyFlag) {
  if (image == nullptr) return -1;
  memset(image, 0, sizeof(*image));
  if (info == nullptr || bits == nullptr) return -1;
  const BITMAPINFOHEADER& header = info->bmiHeader;
  const int64_t width = header.biWidth;
  const int64_t height = header.biHeight < 0 ? -static_cast<int64_t>(header.biHeight) : header.biHeight;
  if (width < 1 || height < 1 || width > 0x7fffffff / 4 || height > 0x7fffffff) return -1;
  const int bitCount = header.biBitCount;
  const DWORD compression = header.biCompression;
  if (header.biHeight < 0 && (bitCount == 16 || bitCount == 24 || bitCount == 32) &&
      (compression == BI_RGB || compression == BI_BITFIELDS)) {
    ColorFormatRecord& format = image->format;
    if (compression == BI_RGB) {
      if (bitCount == 16) {
        MakeColorFormatFromMasks(&format, 16, 0x7c00, 0x3e0, 0x1f, 0, 0, 0, 0);
      } else if (bitCount == 24) {
        MakeColorFormatRGB8(&format);
      } else {
        // The fourth byte of a plain 32-bit bitmap is unused.
        MakeColorFormatXRGB8(&format);
      }
    } else {
      const uint8_t* masks = reinterpret_cast<const uint8_t*>(info) + sizeof(BITMAPINFOHEADER);
      MakeColorFormatFromMasks(&format, bitCount, ReadLE32(masks), ReadLE32(masks + 4), ReadLE32(masks + 8), 0, 0, 0,
                               0);
    }
    RecomputeSpareBitsMask(&format);
    const int64_t pitch = (width * (bitCount / 8) + 3) / 4 * 4;
    if (pitch * height > GetImageLoadByteLimit()) {
      memset(image, 0, sizeof(*image));
      return -1;
    }
    if (copyFlag == 1) {
      void* copy = MEM_ALLOC(static_cast<size_t>(pitch * height));
      if (copy == nullptr) {
        memset(image, 0, sizeof(*image));
        return -1;
      }
      memcpy(copy, bits, static_cast<size_t>(pitch * height));
      SetLoadedImageRecord(image, static_cast<int>(width), static_cast<int>(height), static_cast<int>(pitch), copy);
      return 1;
    }
    SetLoadedImageRecord(image, static_cast<int>(width), static_cast<int>(height), static_cast<int>(pitch),
                         const_cast<void*>(bits));
    return copyFlag;
  }
  if (ConvertDIBThroughGdi(info, bits, static_cast<int>(width), static_cast<int>(height), image) != 0) {
    memset(image, 0, sizeof(*image));
    return -1;
  }
  return 1;
}

// ---------------------------------------------------------------------------
// TGA

int LoadTgaImage(ImageLoadStream* stream, BaseImageRecord* image) {
  uint8_t header[TGA_HEADER_SIZE];
  uint8_t footer[TGA_FOOTER_SIZE];
  uint8_t map[256 * 4];
  uint8_t* mapData = nullptr;
  uint8_t* data = nullptr;  // indices or packets as stored
  uint8_t* pixels = nullptr;
  uint8_t* ordered = nullptr;
  int64_t streamSize, dataEnd, position, width, height, count, total;
  int type, colorMapped, bits, bytes, mapBytes, footerPresent = 0;

  streamSize = ImageStreamBytesLeft(stream);
  if (streamSize < TGA_HEADER_SIZE) goto refuse;
  if (streamSize >= TGA_FOOTER_SIZE) {
    if (ImageStreamSeek(stream, streamSize - TGA_FOOTER_SIZE, FILE_STREAM_SEEK_SET) == 0 &&
        ImageStreamReadExact(stream, footer, sizeof(footer)) == 0) {
      footerPresent = memcmp(footer + 8, "TRUEVISION-XFILE.", 18) == 0 && ReadLE32(footer) == 0;
    }
    if (ImageStreamSeek(stream, 0, FILE_STREAM_SEEK_SET) != 0) goto refuse;
  }
  dataEnd = footerPresent ? streamSize - TGA_FOOTER_SIZE : streamSize;
  if (ImageStreamReadExact(stream, header, sizeof(header)) != 0) goto refuse;

  type = header[2];
  if (type != 1 && type != 2 && type != 9 && type != 10) goto refuse;
  colorMapped = type == 1 || type == 9;
  bits = colorMapped ? header[7] : header[16];
  width = ReadLE16(header + 12);
  height = ReadLE16(header + 14);
  if (ReadLE16(header + 8) != 0 || ReadLE16(header + 10) != 0) goto refuse;
  if (width < 1 || height < 1 || width > TGA_SIDE_MAX || height > TGA_SIDE_MAX) goto refuse;
  if (bits != 16 && bits != 24 && bits != 32) goto refuse;
  // Colour-mapped pixels are one-byte indices into a map that is present.
  if (colorMapped && (header[1] != 1 || header[16] != 8)) goto refuse;
  bytes = bits / 8;
  count = width * height;
  total = count * bytes;
  position = TGA_HEADER_SIZE + header[0];

  memset(map, 0, sizeof(map));
  if (header[1] == 1) {
    const int64_t first = ReadLE16(header + 3);
    const int64_t length = ReadLE16(header + 5);
    const int entryBytes = (header[7] + 7) / 8;
    mapBytes = static_cast<int>(length * entryBytes);
    if (colorMapped) {
      if (ImageStreamSeek(stream, position, FILE_STREAM_SEEK_SET) != 0) goto refuse;
      if (mapBytes > 0) {
        mapData = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(mapBytes)));
        if (mapData == nullptr) goto refuse;
        if (ImageStreamReadExact(stream, mapData, static_cast<size_t>(mapBytes)) != 0) goto refuse;
        // Entries past index 255 can never be used.
        for (int64_t i = 0; i < length && first + i < 256; i++)
          memcpy(map + (first + i) * bytes, mapData + i * bytes, static_cast<size_t>(bytes));
        MemFree(mapData);
        mapData = nullptr;
      }
    }
    position += mapBytes;
  }
  if (position > dataEnd) goto refuse;
  if (ImageStreamSeek(stream, position, FILE_STREAM_SEEK_SET) != 0) goto refuse;

  if (type == 1 || type == 2) {
    if (streamSize - position < (colorMapped ? count : total)) goto refuse;
  } else {
    // A packet covers at most 128 pixels: too little data cannot fill the image.
    if (dataEnd - position < (count + 127) / 128 * (1 + (colorMapped ? 1 : bytes))) goto refuse;
  }
  pixels = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(total)));
  if (pixels == nullptr) goto refuse;

  if (type == 2) {
    if (ImageStreamReadExact(stream, pixels, static_cast<size_t>(total)) != 0) goto refuse;
  } else if (type == 1) {
    data = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(count)));
    if (data == nullptr) goto refuse;
    if (ImageStreamReadExact(stream, data, static_cast<size_t>(count)) != 0) goto refuse;
    for (int64_t i = 0; i < count; i++) memcpy(pixels + i * bytes, map + data[i] * bytes, static_cast<size_t>(bytes));
  } else {
    // Run-length packets up to the footer; the image must be filled.
    const int64_t dataSize = dataEnd - position;
    const int element = colorMapped ? 1 : bytes;
    if (dataSize <= 0) goto refuse;
    data = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(dataSize)));
    if (data == nullptr) goto refuse;
    if (ImageStreamReadExact(stream, data, static_cast<size_t>(dataSize)) != 0) goto refuse;
    int64_t pos = 0, out = 0;
    while (out < count) {
      if (pos >= dataSize) goto refuse;
      const uint8_t packet = data[pos++];
      const int64_t n = (packet & 0x7f) + 1;
      const int64_t take = n < count - out ? n : count - out;
      if (packet & 0x80) {
        if (pos + element > dataSize) goto refuse;
        const uint8_t* value = colorMapped ? map + data[pos] * bytes : data + pos;
        for (int64_t i = 0; i < take; i++) memcpy(pixels + (out + i) * bytes, value, static_cast<size_t>(bytes));
        pos += element;
      } else {
        if (pos + n * element > dataSize) goto refuse;
        for (int64_t i = 0; i < take; i++) {
          const uint8_t* value = colorMapped ? map + data[pos + i] * bytes : data + pos + i * bytes;
          memcpy(pixels + (out + i) * bytes, value, static_cast<size_t>(bytes));
        }
        pos += n * element;
      }
      out += take;
    }
  }

  // Row 0 at the top, pixel 0 at the left.
  if ((header[17] & 0x20) == 0 || (header[17] & 0x10) != 0) {
    const int bottomUp = (header[17] & 0x20) == 0;
    const int rightToLeft = (header[17] & 0x10) != 0;
    const int64_t pitch = width * bytes;
    ordered = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(total)));
    if (ordered == nullptr) goto refuse;
    for (int64_t y = 0; y < height; y++) {
      const uint8_t* src = pixels + (bottomUp ? height - 1 - y : y) * pitch;
      uint8_t* dest = ordered + y * pitch;
      if (!rightToLeft) {
        memcpy(dest, src, static_cast<size_t>(pitch));
      } else {
        for (int64_t x = 0; x < width; x++)
          memcpy(dest + x * bytes, src + (width - 1 - x) * bytes, static_cast<size_t>(bytes));
      }
    }
    MemFree(pixels);
    pixels = ordered;
    ordered = nullptr;
  }

  if (bits == 16) {
    MakeColorFormatFromMasks(&image->format, 16, 0x7c00, 0x3e0, 0x1f, 0, 0, 0, 0);
  } else if (bits == 24) {
    MakeColorFormatRGB8(&image->format);
  } else {
    MakeColorFormatARGB8(&image->format);
  }
  SetLoadedImageRecord(image, static_cast<int>(width), static_cast<int>(height), static_cast<int>(width * bytes),
                       pixels);
  if (data != nullptr) MemFree(data);
  return 0;

refuse:
  if (ordered != nullptr) MemFree(ordered);
  if (pixels != nullptr) MemFree(pixels);
  if (data != nullptr) MemFree(data);
  if (mapData != nullptr) MemFree(mapData);
  memset(image, 0, sizeof(*image));
  ImageStreamSeek(stream, 0, FILE_STREAM_SEEK_SET);
  return -1;
}
