// Software images (MEMIMG): records, shared headers, built-in colour
// formats, views, raw fill, the software draw state and its mask ramp,
// writing base images in (with run data and premultiplied copy) and the
// plain transfer between images.
// Threads: main thread only, no locks (the built-in colour formats are built
// on first use without a lock). Platform: none beyond the colour-converting
// blit of the image layer.
#include "RiRerEzi.h"

#include <string.h>

#include "VuViderezaMath.h"
#include "ZiDezaru.h"

MemImgDrawStateRecord MemImgDrawState;

namespace {

// [colour type 0/1][alpha][palettised], then types 2 and 3.
ColorFormatRecord BuiltInFormats[10];
int BuiltInFormatBuilt[10];

int BytesPerPixelFor(int colorType, int palettised, int alphaFlag) {
  if (palettised) return 1;
  if (colorType == MEMIMG_COLOR_16 && alphaFlag) return 4;
  static const int PIXEL_BYTES[4] = {2, 4, 1, 2};
  return PIXEL_BYTES[colorType];
}

void FreeHeaderBlocks(MemImgHeader* header) {
  if (!header->callerOwnedPixels && header->pixelBlock != nullptr) MemFree(header->pixelBlock);
  if (header->premultiplied != nullptr) MemFree(header->premultiplied);
  if (header->runStream != nullptr) MemFree(header->runStream);
  if (header->palette != nullptr) MemFree(header->palette);
  header->pixelBlock = header->premultiplied = header->runStream = nullptr;
  header->palette = header->secondPalette = nullptr;
}

}  // namespace

const ColorFormatRecord* GetMemImgColorFormat(int colorType, int alphaFlag, int palettised) {
  if (colorType < 0 || colorType > 3) return nullptr;
  int slot;
  if (colorType <= 1) slot = colorType * 4 + (alphaFlag ? 2 : 0) + (palettised ? 1 : 0);
  else slot = 8 + (colorType - 2);
  ColorFormatRecord* format = &BuiltInFormats[slot];
  if (BuiltInFormatBuilt[slot]) return format;
  memset(format, 0, sizeof(*format));
  if (colorType == MEMIMG_COLOR_16) {
    MakeColorFormatFromMasks(format, palettised ? 8 : (alphaFlag ? 32 : 16), 0xF800, 0x07E0, 0x001F,
                             alphaFlag ? 0x00FF0000u : 0, 0, 0, 0);
  } else if (colorType == MEMIMG_COLOR_32) {
    MakeColorFormatFromMasks(format, palettised ? 8 : 32, 0x00FF0000u, 0x0000FF00u, 0x000000FFu,
                             alphaFlag ? 0xFF000000u : 0, 0, 0, 0);
  } else {
    int bits = colorType == MEMIMG_COLOR_8_CHANNEL ? 8 : 16;
    uint32_t mask = colorType == MEMIMG_COLOR_8_CHANNEL ? 0xFFu : 0xFFFFu;
    format->kind = 0;
    format->bytesPerPixel = static_cast<uint8_t>(bits / 8);
    format->bitsPerPixel = static_cast<uint8_t>(bits);
    format->redWidth = format->greenWidth = format->blueWidth = format->alphaWidth = static_cast<uint8_t>(bits);
    format->redMask = format->greenMask = format->blueMask = format->alphaMask = mask;
    format->spareMask = 0;
  }
  BuiltInFormatBuilt[slot] = 1;
  return format;
}

int CreateMemImg(MEMIMG* image, const MemImgDesc& desc) {
  const int width = desc.width, height = desc.height, pitch = desc.pitch, colorType = desc.colorType;
  const uint32_t transparentColor = desc.transparentColor;
  int palettised = desc.palettised, alphaFlag = desc.alphaFlag;
  const int workBlocks = desc.workBlocks;
  void* callerPixels = desc.callerPixels;
  if (image->magic == MEMIMG_MAGIC) return -1;
  if (colorType < 0 || colorType > 3 || width <= 0 || height <= 0) return -1;
  MemImgHeader* header = image->header;
  if (header == nullptr) {
    header = static_cast<MemImgHeader*>(MEM_ALLOC_ZEROED(sizeof(MemImgHeader)));
    if (header == nullptr) return -1;
    image->header = header;
  }
  if (colorType >= 2) palettised = alphaFlag = 0;
  if (palettised) alphaFlag = 0;
  palettised = palettised ? 1 : 0;
  alphaFlag = alphaFlag ? 1 : 0;
  header->referenceCount = 1;
  header->width = width;
  header->height = height;
  header->transparentColor = transparentColor;
  header->colorType = colorType;
  header->palettised = palettised;
  header->alphaFlag = alphaFlag;
  header->premultipliedValid = 0;
  header->runDataValid = 0;
  if (palettised) {
    if (header->palette == nullptr) {
      header->palette = static_cast<uint8_t*>(MEM_ALLOC_ZEROED(2048));
      if (header->palette == nullptr) return -1;
    }
    header->secondPalette = header->palette + 1024;
  } else {
    if (header->palette != nullptr) MemFree(header->palette);
    header->palette = header->secondPalette = nullptr;
  }
  int bytes = BytesPerPixelFor(colorType, palettised, alphaFlag);
  int lineBytes = bytes * width;
  int actualPitch = pitch == -1 ? (lineBytes + 15) & ~15 : pitch;
  int length = pitch == -1 ? lineBytes : pitch;
  int k = 0;
  while ((1 << k) < length && k < 30) k++;
  header->pitch = actualPitch;
  header->pitchShift = actualPitch == (1 << k) ? k : -1;
  header->colorFormat = GetMemImgColorFormat(colorType, alphaFlag, palettised);
  // A retried creation drops the block an earlier attempt took.
  if (header->pixelBlock != nullptr && !header->callerOwnedPixels) MemFree(header->pixelBlock);
  header->pixelBlock = nullptr;
  if (callerPixels != nullptr) {
    header->pixelBlock = static_cast<uint8_t*>(callerPixels);
    header->callerOwnedPixels = 1;
  } else {
    header->callerOwnedPixels = 0;
    header->pixelBlock = static_cast<uint8_t*>(
        MEM_ALLOC(static_cast<size_t>(actualPitch) * static_cast<size_t>(height)));
    if (header->pixelBlock == nullptr) return -1;
  }
  if (workBlocks) {
    if (alphaFlag && header->premultiplied == nullptr) {
      header->premultiplied = static_cast<uint8_t*>(
          MEM_ALLOC(static_cast<size_t>(actualPitch) * static_cast<size_t>(height)));
      if (header->premultiplied == nullptr) return -1;
    }
    if (colorType != MEMIMG_COLOR_8_CHANNEL && header->runStream == nullptr) {
      header->runStream = static_cast<uint8_t*>(
          MEM_ALLOC(static_cast<size_t>(width + 5) * static_cast<size_t>(height)));
      if (header->runStream == nullptr) return -1;
    }
  }
  image->magic = MEMIMG_MAGIC;
  image->width = width;
  image->height = height;
  image->pixels = header->pixelBlock;
  image->premultipliedPixels = header->premultiplied;
  return 0;
}

int CreateMemImgOfColorType(MEMIMG* image, int width, int height, int colorType) {
  memset(image, 0, sizeof(*image));
  if (colorType == -1) colorType = MemImgDrawState.defaultColorType;
  return CreateMemImg(image, {width, height, -1, 0, colorType, 0, 0, 0, nullptr});
}

void CreateSubMemImg(MEMIMG* view, const MEMIMG* parent, int x, int y, int width, int height) {
  if (!IsValidMemImg(parent)) return;
  if (x < 0 || y < 0 || width < 0 || height < 0 || x + width > parent->width || y + height > parent->height) return;
  MemImgHeader* header = parent->header;
  size_t offset = static_cast<size_t>(header->pitch) * static_cast<size_t>(y) +
                  static_cast<size_t>(MemImgBytesPerPixel(parent)) * static_cast<size_t>(x);
  view->magic = MEMIMG_MAGIC;
  view->width = width;
  view->height = height;
  view->pixels = parent->pixels + offset;
  view->premultipliedPixels = header->premultiplied != nullptr && parent->premultipliedPixels != nullptr
                                  ? parent->premultipliedPixels + offset
                                  : nullptr;
  view->header = header;
  header->referenceCount++;
}

int IsValidMemImg(const MEMIMG* image) {
  return image != nullptr && image->magic == MEMIMG_MAGIC && image->header != nullptr ? 1 : 0;
}

void ReleaseMemImg(MEMIMG* image) {
  if (image == nullptr || image->magic != MEMIMG_MAGIC) return;
  MemImgHeader* header = image->header;
  if (header != nullptr && --header->referenceCount <= 0) {
    FreeHeaderBlocks(header);
    MemFree(header);
  }
  image->header = nullptr;
  image->magic = 0;
}

void FreeFailedMemImg(MEMIMG* image) {
  if (image == nullptr || image->magic == MEMIMG_MAGIC || image->header == nullptr) return;
  FreeHeaderBlocks(image->header);
  MemFree(image->header);
  image->header = nullptr;
}

void FillMemImgRectRaw(MEMIMG* image, const RECT* rect, uint32_t value) {
  if (!IsValidMemImg(image)) return;
  RECT area = {0, 0, image->width, image->height};
  RECT r = area;
  if (rect != nullptr) {
    r = *rect;
    ClipRect(&r, &area);
  }
  int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return;
  int bytes = MemImgBytesPerPixel(image);
  int pitch = image->header->pitch;
  uint8_t* line = image->pixels + static_cast<size_t>(pitch) * r.top + static_cast<size_t>(bytes) * r.left;
  for (int y = 0; y < height; y++, line += pitch) {
    if (bytes == 1) {
      memset(line, static_cast<int>(value & 0xFF), static_cast<size_t>(width));
    } else if (bytes == 2) {
      uint16_t v = static_cast<uint16_t>(value);
      for (int x = 0; x < width; x++) memcpy(line + 2 * x, &v, 2);
    } else if (bytes == 4) {
      for (int x = 0; x < width; x++) memcpy(line + 4 * x, &value, 4);
    }
  }
  InvalidateMemImgDerivedData(image);
}

void SetMemImgDefaultColorType(int colorType) { MemImgDrawState.defaultColorType = colorType; }

void SetMemImgDrawArea(const RECT* area) { MemImgDrawState.drawArea = *area; }

int SetMemImgBlendMode(int blendMode, int blendParam) {
  MemImgDrawState.blendMode = blendMode;
  MemImgDrawState.blendParam = blendParam;
  return 0;
}

void SetMemImgDrawBright(uint32_t bright) { MemImgDrawState.drawBright = bright; }

void SetMaskAlphaRamp(int borderPosition, int borderRange) {
  int start = 256 - ((65536 / (borderRange + 1) + 256) * borderPosition) / 256;
  for (int i = 0; i < 256; i++) {
    int v = (256 * i) / (borderRange + 1) + start;
    MemImgDrawState.maskAlphaRamp[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
}

void BuildMemImgPremultiplied(MEMIMG* image) {
  MemImgHeader* header = image->header;
  if (!header->alphaFlag || header->premultiplied == nullptr) return;
  size_t offset = static_cast<size_t>(image->pixels - header->pixelBlock);
  for (int y = 0; y < image->height; y++) {
    const uint8_t* src = header->pixelBlock + offset + static_cast<size_t>(header->pitch) * y;
    uint8_t* dst = header->premultiplied + offset + static_cast<size_t>(header->pitch) * y;
    for (int x = 0; x < image->width; x++) {
      uint32_t v;
      memcpy(&v, src + 4 * x, 4);
      uint32_t out;
      if (header->colorType == MEMIMG_COLOR_32) {
        uint32_t a = v >> 24;
        out = (v & 0xFF000000u) | ((((v >> 16) & 0xFF) * a >> 8) << 16) | ((((v >> 8) & 0xFF) * a >> 8) << 8) |
              ((v & 0xFF) * a >> 8);
      } else {
        uint32_t a = (v >> 16) & 0xFF;
        uint32_t c = v & 0xFFFF;
        uint32_t color = ((((c & 0xF800) * a) & 0x00F80000u) | (((c & 0x07E0) * a) & 0x0007E000u) |
                          (((c & 0x001F) * a) & 0x00001F00u)) >>
                         8;
        out = color | (a << 16);
      }
      memcpy(dst + 4 * x, &out, 4);
    }
  }
}

void BuildMemImgRunData(MEMIMG* image) {
  MemImgHeader* header = image->header;
  if (header->runStream == nullptr) return;
  uint8_t* out = header->runStream;
  int bytes = MemImgBytesPerPixel(image);
  for (int y = 0; y < image->height; y++) {
    const uint8_t* line = image->pixels + static_cast<size_t>(header->pitch) * y;
    int x = 0;
    while (x < image->width) {
      int kind = -1, count = 0;
      while (x < image->width && count < 64) {
        int k;
        if (header->palettised) {
          k = line[x] == header->transparentColor ? 0 : 1;
        } else if (header->alphaFlag) {
          int a = line[4 * x + (header->colorType == MEMIMG_COLOR_16 ? 2 : 3)];
          k = a == 0 ? 0 : (a == 255 ? 1 : 2);
        } else if (bytes == 2) {
          uint16_t v;
          memcpy(&v, line + 2 * x, 2);
          k = v == header->transparentColor ? 0 : 1;
        } else {
          uint32_t v;
          memcpy(&v, line + 4 * x, 4);
          k = v == header->transparentColor ? 0 : 1;
        }
        if (kind >= 0 && k != kind) break;
        kind = k;
        count++;
        x++;
      }
      *out++ = static_cast<uint8_t>((kind << 6) | (count - 1));
    }
    *out++ = MEMIMG_RUN_END;
  }
}

void WriteBaseImageToMemImg(const BaseImageRecord* image, const BaseImageRecord* alphaImage, MEMIMG* dest,
                            const ImageRectCopy& copy, int conversionOption) {
  const int srcX = copy.srcX, srcY = copy.srcY, width = copy.width, height = copy.height;
  const int destX = copy.destX, destY = copy.destY;
  if (!IsValidMemImg(dest) || image == nullptr) return;
  MemImgHeader* header = dest->header;
  RECT srcRect = {srcX, srcY, srcX + width, srcY + height};
  const ColorFormatRecord* format = header->colorFormat;
  if (header->colorType >= 2) {
    ConvertColorBlt(dest->pixels, header->pitch, format, image->pixels, image->pitch, &image->format, nullptr, 0,
                    nullptr, destX, destY, &srcRect, 0, 0, 0, 0, 0, 1, 1, 0);
    InvalidateMemImgDerivedData(dest);
    return;
  }
  int result;
  if (alphaImage != nullptr) {
    result = ConvertColorBlt(dest->pixels, header->pitch, format, image->pixels, image->pitch, &image->format,
                             alphaImage->pixels, alphaImage->pitch, &alphaImage->format, destX, destY, &srcRect, 0, 0,
                             header->transparentColor, conversionOption, 0, 0, 0, 0);
    if (result < 0) return;
  } else {
    result = ConvertColorBlt(dest->pixels, header->pitch, format, image->pixels, image->pitch, &image->format, nullptr,
                             0, nullptr, destX, destY, &srcRect, 0, 0, header->transparentColor, conversionOption, 0, 0,
                             0, 0);
    if (result < 0) return;
    if (header->palettised) header->paletteEntriesUsed = result + 1;
  }
  if (header->palettised) {
    for (int i = 0; i < 256; i++) {
      const uint8_t* e = image->format.palette[i];
      if (header->colorType == MEMIMG_COLOR_16) {
        uint16_t w = static_cast<uint16_t>(((e[2] & 0xF8) << 8) | ((e[1] & 0xFC) << 3) | (e[0] >> 3));
        memcpy(header->palette + 2 * i, &w, 2);
      } else {
        uint32_t w = static_cast<uint32_t>(e[2]) * 65536u + static_cast<uint32_t>(e[1]) * 256u + e[0];
        memcpy(header->palette + 4 * i, &w, 4);
      }
    }
    memcpy(header->secondPalette, header->palette, header->colorType == MEMIMG_COLOR_16 ? 512 : 1024);
  }
  InvalidateMemImgDerivedData(dest);
  // Views never get run data: the stream describes the header's whole image.
  if (width == dest->width && height == dest->height && header->runStream != nullptr &&
      dest->pixels == header->pixelBlock && dest->width == header->width && dest->height == header->height) {
    header->runDataValid = 1;
    if (header->alphaFlag && header->premultiplied != nullptr) {
      header->premultipliedValid = 1;
      BuildMemImgPremultiplied(dest);
    }
    BuildMemImgRunData(dest);
  }
}

int TransferMemImg(MEMIMG* dest, const MEMIMG* src, const RECT* srcRect, int destX, int destY) {
  if (!IsValidMemImg(dest) || !IsValidMemImg(src)) return -1;
  RECT whole = {0, 0, src->width, src->height};
  if (srcRect == nullptr) srcRect = &whole;
  int result = ConvertColorBlt(dest->pixels, dest->header->pitch, dest->header->colorFormat, src->pixels,
                               src->header->pitch, src->header->colorFormat, nullptr, 0, nullptr, destX, destY, srcRect,
                               0, 0, 0, 0, 0, 0, 0, 0);
  InvalidateMemImgDerivedData(dest);
  return result;
}
