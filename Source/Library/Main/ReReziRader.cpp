// Colour formats, base-image creation and release, pixel access, the
// data-size rule, half floats and the image-load settings snapshot.
#include "ReReziRader.h"

#include <stddef.h>
#include <string.h>

#include "VeRavoroString.h"
#include "ZiDezaru.h"
#include "RaRadaraLog.h"

namespace {

// Log texts.
const char LOG_BAD_IMAGE_SIZE[] = "イメージのサイズが不正です( %d x %d )";
const char LOG_IMAGE_TOO_LARGE[] = "イメージのサイズが大きすぎます( %d x %d )";

}  // namespace

ImageLoaderFunc UserImageLoaders[USER_IMAGE_LOADER_MAX];
int UserImageLoaderCount = 0;
int UsePremultipliedAlphaOnLoad = 0;
int KeyColorToAlpha = 0;
int LoadKeyColor = 0;
int Bmp32ZeroAlphaAsXrgb = 0;
int BaseImageModuleStarted = 0;

namespace {

// Largest pixel block an image may have: the allocator adds its own
// overhead and records sizes in 32 bits.
const int64_t kMaxImageBytes = 0x7fffffffLL - 0x1000;

void ClearFormatFields(ColorFormatRecord* format) {
  // Everything before the palette.
  memset(format, 0, offsetof(ColorFormatRecord, palette));
}

void SetFixedFormat(ColorFormatRecord* format, int bytes, int bits, int withAlpha, uint32_t spareMask) {
  ClearFormatFields(format);
  format->bytesPerPixel = static_cast<uint8_t>(bytes);
  format->bitsPerPixel = static_cast<uint8_t>(bits);
  format->redMask = 0xff0000;
  format->greenMask = 0xff00;
  format->blueMask = 0xff;
  format->redShift = 16;
  format->greenShift = 8;
  format->blueShift = 0;
  format->redWidth = format->greenWidth = format->blueWidth = 8;
  if (withAlpha) {
    format->alphaMask = 0xff000000;
    format->alphaShift = 24;
    format->alphaWidth = 8;
  }
  format->spareMask = spareMask;
  if (spareMask != 0) {
    int shift, width;
    GetMaskShiftAndWidth(spareMask, &shift, &width);
    format->spareShift = static_cast<uint8_t>(shift);
    format->spareWidth = static_cast<uint8_t>(width);
  }
}

uint32_t AllPixelBits(int bits) {
  if (bits >= 32) return 0xffffffffu;
  if (bits <= 0) return 0;
  return (1u << bits) - 1;
}

// An 8-bit value placed into a channel of the given width.
uint32_t FitChannel8(int value, int width) {
  if (value < 0) value = 0;
  if (value > 255) value = 255;
  if (width <= 0) return 0;
  if (width <= 8) return static_cast<uint32_t>(value) >> (8 - width);
  // Wider than 8 bits: repeat the byte downwards so that 255 fills the channel.
  uint64_t out = 0;
  int filled = 0;
  while (filled < width) {
    out = (out << 8) | static_cast<uint32_t>(value);
    filled += 8;
  }
  return static_cast<uint32_t>(out >> (filled - width));
}

int ScaleChannelTo255(uint32_t value, int width) {
  if (width <= 0) return 0;
  if (width == 8) return static_cast<int>(value);
  uint64_t max = (width >= 32) ? 0xffffffffull : ((1ull << width) - 1);
  return static_cast<int>(static_cast<uint64_t>(value) * 255 / max);
}

int PixelAccessReady(BaseImageRecord* image, int x, int y) {
  if (image == nullptr || image->pixels == nullptr) return -1;
  if (image->format.kind != 0 && ExpandCompressedBaseImage(image) != 0) return -1;
  if (static_cast<unsigned>(x) >= static_cast<unsigned>(image->width) ||
      static_cast<unsigned>(y) >= static_cast<unsigned>(image->height))
    return -1;
  if (image->format.bytesPerPixel < 1 || image->format.bytesPerPixel > 4) return -1;
  if (IsWideChannelFormat(&image->format)) return -1;
  return 0;
}

}  // namespace

void GetMaskShiftAndWidth(uint32_t mask, int* shift, int* width) {
  int s = 0, w = 0;
  if (mask != 0) {
    while ((mask & (1u << s)) == 0) s++;
    while (s + w < 32 && (mask & (1u << (s + w))) != 0) w++;
  }
  if (shift) *shift = s;
  if (width) *width = w;
}

int IsWideChannelFormat(const ColorFormatRecord* format) {
  return format->channelCount != 0 && format->bitsPerChannel != 0;
}

int IsExactARGB8Format(const ColorFormatRecord* format) {
  return format->kind == 0 && format->floatFlag == 0 && format->channelCount == 0 && format->bytesPerPixel == 4 &&
         format->bitsPerPixel == 32 && format->redMask == 0xff0000 && format->greenMask == 0xff00 &&
         format->blueMask == 0xff && format->alphaMask == 0xff000000 && format->spareMask == 0;
}

int MakeColorFormatXRGB8(ColorFormatRecord* format) {
  SetFixedFormat(format, 4, 32, 0, 0xff000000);
  return 0;
}

int MakeColorFormatARGB8(ColorFormatRecord* format) {
  SetFixedFormat(format, 4, 32, 1, 0);
  return 0;
}

int MakeColorFormatRGB8(ColorFormatRecord* format) {
  SetFixedFormat(format, 3, 24, 0, 0);
  return 0;
}

int MakeColorFormatPal8(ColorFormatRecord* format) {
  SetFixedFormat(format, 1, 8, 0, 0xff000000);
  return 0;
}

int MakeColorFormatGray8(ColorFormatRecord* format) {
  MakeColorFormatPal8(format);
  for (int i = 0; i < 256; i++) {
    format->palette[i][0] = static_cast<uint8_t>(i);
    format->palette[i][1] = static_cast<uint8_t>(i);
    format->palette[i][2] = static_cast<uint8_t>(i);
    format->palette[i][3] = 0;
  }
  return 0;
}

void MakeColorFormatFromMasks(ColorFormatRecord* format, int bitsPerPixel, uint32_t redMask, uint32_t greenMask,
                              uint32_t blueMask, uint32_t alphaMask, int channelCount, int bitsPerChannel,
                              int floatFlag) {
  memset(format, 0, sizeof(*format));
  if (channelCount != 0 && bitsPerChannel != 0) {
    format->channelCount = static_cast<uint8_t>(channelCount);
    format->bitsPerChannel = static_cast<uint8_t>(bitsPerChannel);
    format->floatFlag = static_cast<uint8_t>(floatFlag);
    format->bytesPerPixel = static_cast<uint8_t>(channelCount * bitsPerChannel / 8);
    return;
  }
  format->bytesPerPixel = static_cast<uint8_t>(bitsPerPixel / 8);
  format->bitsPerPixel = static_cast<uint8_t>(bitsPerPixel);
  format->redMask = redMask;
  format->greenMask = greenMask;
  format->blueMask = blueMask;
  format->alphaMask = alphaMask;
  int shift, width;
  GetMaskShiftAndWidth(redMask, &shift, &width);
  format->redShift = static_cast<uint8_t>(shift);
  format->redWidth = static_cast<uint8_t>(width);
  GetMaskShiftAndWidth(greenMask, &shift, &width);
  format->greenShift = static_cast<uint8_t>(shift);
  format->greenWidth = static_cast<uint8_t>(width);
  GetMaskShiftAndWidth(blueMask, &shift, &width);
  format->blueShift = static_cast<uint8_t>(shift);
  format->blueWidth = static_cast<uint8_t>(width);
  GetMaskShiftAndWidth(alphaMask, &shift, &width);
  format->alphaShift = static_cast<uint8_t>(shift);
  format->alphaWidth = static_cast<uint8_t>(width);
  format->spareMask = AllPixelBits(bitsPerPixel) & ~(redMask | greenMask | blueMask | alphaMask);
  GetMaskShiftAndWidth(format->spareMask, &shift, &width);
  format->spareShift = static_cast<uint8_t>(shift);
  format->spareWidth = static_cast<uint8_t>(width);
}

void RecomputeSpareBitsMask(ColorFormatRecord* format) {
  int used = format->redWidth + format->greenWidth + format->blueWidth + format->alphaWidth;
  if (used == format->bitsPerPixel) {
    format->spareMask = 0;
  } else {
    format->spareMask = AllPixelBits(format->bitsPerPixel) &
                        ~(format->redMask | format->greenMask | format->blueMask | format->alphaMask);
  }
}

int CreateBaseImageWithFormat(int width, int height, const ColorFormatRecord* format, BaseImageRecord* image) {
  if (image == nullptr || format == nullptr) return -1;
  // The format may live in the record being remade.
  const ColorFormatRecord copy = *format;
  format = &copy;
  memset(image, 0, sizeof(*image));
  if (width < 0 || height < 0) {
    LogPrintf(LOG_BAD_IMAGE_SIZE, width, height);
    return -1;
  }
  int64_t pitch = (static_cast<int64_t>(format->bytesPerPixel) * width + 3) / 4 * 4;
  int64_t bytes = pitch * height;
  if (pitch > 0x7fffffffLL || bytes > kMaxImageBytes) {
    LogPrintf(LOG_IMAGE_TOO_LARGE, width, height);
    return -1;
  }
  void* pixels = MEM_ALLOC(static_cast<size_t>(bytes));
  if (pixels == nullptr) return -1;
  image->format = *format;
  image->width = width;
  image->height = height;
  image->pitch = static_cast<int>(pitch);
  image->pixels = pixels;
  image->mipLevelCount = 0;
  image->cubeFlag = 0;
  return 0;
}

int CreateBaseImageARGB8(int width, int height, BaseImageRecord* image) {
  ColorFormatRecord format;
  memset(&format, 0, sizeof(format));
  MakeColorFormatARGB8(&format);
  return CreateBaseImageWithFormat(width, height, &format, image);
}

int CreateBaseImageXRGB8(int width, int height, BaseImageRecord* image) {
  ColorFormatRecord format;
  memset(&format, 0, sizeof(format));
  MakeColorFormatXRGB8(&format);
  return CreateBaseImageWithFormat(width, height, &format, image);
}

int ReleaseBaseImage(BaseImageRecord* image) {
  if (image == nullptr) return 0;
  if (image->pixels != nullptr) MemFree(image->pixels);
  memset(image, 0, sizeof(*image));
  return 0;
}

void ClearBaseImageRect(BaseImageRecord* image, int x, int y, int w, int h) {
  if (image == nullptr || image->pixels == nullptr || w <= 0 || h <= 0) return;
  int bytes = image->format.bytesPerPixel;
  uint8_t* row = reinterpret_cast<uint8_t*>(image->pixels) + static_cast<intptr_t>(y) * image->pitch +
                 static_cast<intptr_t>(x) * bytes;
  for (int i = 0; i < h; i++, row += image->pitch) memset(row, 0, static_cast<size_t>(bytes) * w);
}

int64_t GetBaseImageDataSize(const BaseImageRecord* image) {
  const ColorFormatRecord& f = image->format;
  if (f.kind > 5) return -1;
  int64_t size;
  int64_t minimum;
  if (f.kind == 1) {
    size = static_cast<int64_t>(image->width / 4) * (image->height / 4) * 8;
    minimum = 8;
  } else if (f.kind >= 2) {
    size = static_cast<int64_t>(image->width / 4) * (image->height / 4) * 16;
    minimum = 16;
  } else {
    size = static_cast<int64_t>(image->pitch) * image->height;
    minimum = 8;
  }
  if (image->mipLevelCount < 2) return size;
  int64_t total = 0;
  for (int level = 0; level < image->mipLevelCount; level++) {
    total += size < minimum ? minimum : size;
    size /= 4;
  }
  return total;
}

uint32_t MakeFormatPixelFromRGBA(const ColorFormatRecord* format, int red, int green, int blue, int alpha) {
  if (format->bytesPerPixel == 1) {
    int best = 0;
    int bestDistance = 0x7fffffff;
    for (int i = 0; i < 256; i++) {
      int db = format->palette[i][0] - blue;
      int dg = format->palette[i][1] - green;
      int dr = format->palette[i][2] - red;
      int distance = dr * dr + dg * dg + db * db;
      if (distance < bestDistance) {
        bestDistance = distance;
        best = i;
        if (distance == 0) break;
      }
    }
    return static_cast<uint32_t>(best);
  }
  uint32_t value = format->spareMask;
  value += FitChannel8(red, format->redWidth) << format->redShift;
  value += FitChannel8(green, format->greenWidth) << format->greenShift;
  value += FitChannel8(blue, format->blueWidth) << format->blueShift;
  if (format->alphaWidth != 0) value += FitChannel8(alpha, format->alphaWidth) << format->alphaShift;
  return value;
}

int SplitFormatPixelToRGBA(const ColorFormatRecord* format, uint32_t pixel, int* red, int* green, int* blue,
                           int* alpha) {
  uint32_t r = (pixel & format->redMask) >> format->redShift;
  uint32_t g = (pixel & format->greenMask) >> format->greenShift;
  uint32_t b = (pixel & format->blueMask) >> format->blueShift;
  uint32_t a = (pixel & format->alphaMask) >> format->alphaShift;
  if (format->redWidth == 8 && format->greenWidth == 8 && format->blueWidth == 8) {
    if (red) *red = static_cast<int>(r);
    if (green) *green = static_cast<int>(g);
    if (blue) *blue = static_cast<int>(b);
  } else {
    if (red) *red = ScaleChannelTo255(r, format->redWidth);
    if (green) *green = ScaleChannelTo255(g, format->greenWidth);
    if (blue) *blue = ScaleChannelTo255(b, format->blueWidth);
  }
  if (alpha) *alpha = ScaleChannelTo255(a, format->alphaWidth);
  return 0;
}

int GetBaseImagePixelRGBA(BaseImageRecord* image, int x, int y, int* red, int* green, int* blue, int* alpha) {
  if (PixelAccessReady(image, x, y) != 0) return -1;
  const ColorFormatRecord& f = image->format;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(image->pixels) + static_cast<intptr_t>(y) * image->pitch +
                     static_cast<intptr_t>(x) * f.bytesPerPixel;
  if (f.bytesPerPixel == 1) {
    const uint8_t* entry = f.palette[*p];
    if (red) *red = entry[2];
    if (green) *green = entry[1];
    if (blue) *blue = entry[0];
    if (alpha) *alpha = entry[3];
    return 0;
  }
  return SplitFormatPixelToRGBA(&f, ReadPixelBytes(p, f.bytesPerPixel), red, green, blue, alpha);
}

int SetBaseImagePixelRGBA(BaseImageRecord* image, int x, int y, int red, int green, int blue, int alpha) {
  if (PixelAccessReady(image, x, y) != 0) return -1;
  const ColorFormatRecord& f = image->format;
  uint8_t* p = reinterpret_cast<uint8_t*>(image->pixels) + static_cast<intptr_t>(y) * image->pitch +
               static_cast<intptr_t>(x) * f.bytesPerPixel;
  WritePixelBytes(p, f.bytesPerPixel, MakeFormatPixelFromRGBA(&f, red, green, blue, alpha));
  return 0;
}

uint32_t GetBaseImagePixelARGB8(const BaseImageRecord* image, int x, int y) {
  if (image == nullptr || image->pixels == nullptr) return 0;
  if (static_cast<unsigned>(x) >= static_cast<unsigned>(image->width) ||
      static_cast<unsigned>(y) >= static_cast<unsigned>(image->height))
    return 0;
  const ColorFormatRecord& f = image->format;
  if (f.kind != 0 || IsWideChannelFormat(&f) || f.bytesPerPixel < 1 || f.bytesPerPixel > 4) return 0;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(image->pixels) + static_cast<intptr_t>(y) * image->pitch +
                     static_cast<intptr_t>(x) * f.bytesPerPixel;
  if (f.bytesPerPixel == 1) {
    // The palette colour; a palette format has no alpha channel.
    const uint8_t* entry = f.palette[*p];
    return (static_cast<uint32_t>(entry[2]) << 16) | (static_cast<uint32_t>(entry[1]) << 8) | entry[0];
  }
  uint32_t value = ReadPixelBytes(p, f.bytesPerPixel);
  struct {
    uint32_t mask;
    int shift;
    int width;
    int top;
  } channels[4] = {
      {f.redMask, f.redShift, f.redWidth, 23},
      {f.greenMask, f.greenShift, f.greenWidth, 15},
      {f.blueMask, f.blueShift, f.blueWidth, 7},
      {f.alphaMask, f.alphaShift, f.alphaWidth, 31},
  };
  uint32_t out = 0;
  for (const auto& c : channels) {
    if (c.width == 0) continue;
    uint32_t v = (value & c.mask) >> c.shift;
    int lowBit = c.top + 1 - c.width;  // where the channel's lowest bit lands
    int byteLow = c.top - 7;
    uint32_t placed = lowBit >= 0 ? static_cast<uint32_t>(static_cast<uint64_t>(v) << lowBit) : v >> -lowBit;
    out |= placed & (0xffu << byteLow);
  }
  return out;
}

float HalfFloatToFloat(uint16_t half) {
  uint32_t sign = static_cast<uint32_t>(half & 0x8000) << 16;
  uint32_t exponent = (half >> 10) & 0x1f;
  uint32_t mantissa = half & 0x3ff;
  uint32_t bits;
  if (exponent == 0) {
    if (mantissa == 0) {
      bits = sign;
    } else {
      // Subnormal: normalise into the float's range.
      int e = 113;
      while ((mantissa & 0x400) == 0) {
        mantissa <<= 1;
        e--;
      }
      mantissa &= 0x3ff;
      bits = sign | (static_cast<uint32_t>(e) << 23) | (mantissa << 13);
    }
  } else if (exponent == 31) {
    bits = sign | 0x7f800000u | (mantissa << 13);
  } else {
    bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
  }
  float result;
  memcpy(&result, &bits, sizeof(result));
  return result;
}

uint16_t FloatToHalfFloat(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof(bits));
  uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000);
  int exponent = static_cast<int>((bits >> 23) & 0xff);
  uint32_t mantissa = bits & 0x7fffff;
  if (exponent == 0xff) {
    return static_cast<uint16_t>(sign | 0x7c00 | (mantissa ? 0x200 : 0));
  }
  int e = exponent - 127 + 15;
  if (e >= 31) return static_cast<uint16_t>(sign | 0x7c00);
  if (e <= 0) {
    if (e < -10) return sign;
    // Subnormal half, rounded to nearest even.
    mantissa |= 0x800000;
    int shift = 14 - e;
    uint32_t half = mantissa >> shift;
    uint32_t rest = mantissa & ((1u << shift) - 1);
    uint32_t halfway = 1u << (shift - 1);
    if (rest > halfway || (rest == halfway && (half & 1))) half++;
    return static_cast<uint16_t>(sign | half);
  }
  uint32_t half = (static_cast<uint32_t>(e) << 10) | (mantissa >> 13);
  uint32_t rest = mantissa & 0x1fff;
  if (rest > 0x1000 || (rest == 0x1000 && (half & 1))) half++;  // may carry into infinity, as it should
  return static_cast<uint16_t>(sign | half);
}

int InitializeBaseImageModule() {
  if (BaseImageModuleStarted) return -1;
  BaseImageModuleStarted = 1;
  return 0;
}

int TerminateBaseImageModule() {
  if (!BaseImageModuleStarted) return -1;
  BaseImageModuleStarted = 0;
  return 0;
}

int AddUserImageLoader(ImageLoaderFunc loader) {
  if (loader == nullptr || UserImageLoaderCount >= USER_IMAGE_LOADER_MAX) return -1;
  UserImageLoaders[UserImageLoaderCount++] = loader;
  return 0;
}

int SnapshotImageLoadSettings(ImageLoadSettings* settings) {
  int count = UserImageLoaderCount;
  if (count < 0) count = 0;
  if (count > USER_IMAGE_LOADER_MAX) count = USER_IMAGE_LOADER_MAX;
  settings->userLoaderCount = count;
  for (int i = 0; i < count; i++) settings->userLoaders[i] = UserImageLoaders[i];
  settings->fileAccess = *GetFileAccessTable();
  settings->fileStream = *GetFileStreamTable();
  settings->memoryStream = *GetMemoryStreamTable();
  settings->UsePremultipliedAlphaOnLoad = UsePremultipliedAlphaOnLoad;
  settings->KeyColorToAlpha = KeyColorToAlpha;
  settings->LoadKeyColor = LoadKeyColor;
  return 0;
}

int MakeAlphaImageFileName(const char* fileName, char* out) {
  int charSet = GetCharSet();
  // The extension is searched for only in the last path component; lead and
  // trail bytes are stepped over together so a trail byte is never a "\".
  if (fileName == nullptr || out == nullptr) return -1;
  int dot = -1;
  int i = 0;
  while (fileName[i] != '\0') {
    unsigned char c = static_cast<unsigned char>(fileName[i]);
    if (IsLeadByte(c, charSet) && fileName[i + 1] != '\0') {
      i += 2;
      continue;
    }
    if (c == '\\' || c == '/') {
      dot = -1;
    } else if (c == '.') {
      dot = i;
    }
    i++;
  }
  int end = i;
  int split = dot >= 0 ? dot : end;
  memcpy(out, fileName, static_cast<size_t>(split));
  out[split] = '_';
  out[split + 1] = 'a';
  memcpy(out + split + 2, fileName + split, static_cast<size_t>(end - split));
  out[end + 2] = '\0';
  return 0;
}
