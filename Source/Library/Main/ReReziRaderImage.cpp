// Whole-image operations on base images: rectangle copy and stretch,
// premultiplied alpha, mirroring, turning by 180 degrees, halving for mip
// levels and bitmap output.
#include "ReReziRader.h"

#include <string.h>

#include "ZiDezaru.h"

namespace {

int ExpandIfCompressed(BaseImageRecord* image) {
  if (image->format.kind == 0) return 0;
  return ExpandCompressedBaseImage(image);
}

inline uint32_t RunMask(int shift, int width) {
  if (width <= 0) return 0;
  uint32_t bits = width >= 32 ? 0xffffffffu : ((1u << width) - 1);
  return bits << shift;
}

void SwapPixels(uint8_t* a, uint8_t* b, int bytes) {
  for (int i = 0; i < bytes; i++) {
    uint8_t t = a[i];
    a[i] = b[i];
    b[i] = t;
  }
}

void ReverseRow(uint8_t* row, int width, int bytes) {
  uint8_t* left = row;
  uint8_t* right = row + static_cast<intptr_t>(width - 1) * bytes;
  while (left < right) {
    SwapPixels(left, right, bytes);
    left += bytes;
    right -= bytes;
  }
}

int HasPixelAccess(const ColorFormatRecord& format) {
  return !IsWideChannelFormat(&format) && format.bytesPerPixel >= 1 && format.bytesPerPixel <= 4;
}

// Reads one sample of the stretch, clamped to the source rectangle.
void ReadStretchSample(BaseImageRecord* src, int x, int y, int right, int bottom, int out[4]) {
  if (x >= right) x = right - 1;
  if (y >= bottom) y = bottom - 1;
  out[0] = out[1] = out[2] = out[3] = 0;
  GetBaseImagePixelRGBA(src, x, y, &out[0], &out[1], &out[2], &out[3]);
}

}  // namespace

int BltBaseImageRect(int srcX, int srcY, int width, int height, int destX, int destY, BaseImageRecord* src,
                     BaseImageRecord* dest) {
  if (src == nullptr || dest == nullptr || src->pixels == nullptr || dest->pixels == nullptr) return -1;
  if (ExpandIfCompressed(src) != 0 || ExpandIfCompressed(dest) != 0) return -1;
  int64_t sx = srcX, sy = srcY, dx = destX, dy = destY, w = width, h = height;
  if (sx < 0) {
    dx -= sx;
    w += sx;
    sx = 0;
  }
  if (sy < 0) {
    dy -= sy;
    h += sy;
    sy = 0;
  }
  if (dx < 0) {
    sx -= dx;
    w += dx;
    dx = 0;
  }
  if (dy < 0) {
    sy -= dy;
    h += dy;
    dy = 0;
  }
  if (dx + w > dest->width) w = dest->width - dx;
  if (dy + h > dest->height) h = dest->height - dy;
  if (sx + w > src->width) w = src->width - sx;
  if (sy + h > src->height) h = src->height - sy;
  if (w <= 0 || h <= 0) return 0;
  RECT rect;
  rect.left = static_cast<LONG>(sx);
  rect.top = static_cast<LONG>(sy);
  rect.right = static_cast<LONG>(sx + w);
  rect.bottom = static_cast<LONG>(sy + h);
  int result = ConvertColorBlt(dest->pixels, dest->pitch, &dest->format, src->pixels, src->pitch, &src->format, nullptr,
                               0, nullptr, static_cast<int>(dx), static_cast<int>(dy), &rect, 0, 0, 0, 0, 0, 0, 0, 1);
  return result < 0 ? -1 : 0;
}

int CopyBaseImageTo(int x, int y, BaseImageRecord* src, BaseImageRecord* dest) {
  if (src == nullptr) return -1;
  return BltBaseImageRect(0, 0, src->width, src->height, x, y, src, dest);
}

int StretchBaseImageRect(int srcLeft, int srcTop, int srcRight, int srcBottom, BaseImageRecord* src, int destLeft,
                         int destTop, int destRight, int destBottom, BaseImageRecord* dest, int filter) {
  if (src == nullptr || dest == nullptr || src->pixels == nullptr || dest->pixels == nullptr) return -1;
  if (srcLeft < 0 || srcTop < 0 || srcLeft >= src->width || srcTop >= src->height) return -1;
  if (srcRight < 1 || srcBottom < 1 || srcRight > src->width || srcBottom > src->height) return -1;
  if (srcRight <= srcLeft || srcBottom <= srcTop) return -1;
  if (destLeft < 0 || destTop < 0 || destLeft >= dest->width || destTop >= dest->height) return -1;
  if (destRight < 1 || destBottom < 1 || destRight > dest->width || destBottom > dest->height) return -1;
  if (destRight <= destLeft || destBottom <= destTop) return -1;
  int sw = srcRight - srcLeft, sh = srcBottom - srcTop;
  int dw = destRight - destLeft, dh = destBottom - destTop;
  if (sw == dw && sh == dh) return BltBaseImageRect(srcLeft, srcTop, sw, sh, destLeft, destTop, src, dest);
  if (ExpandIfCompressed(src) != 0 || ExpandIfCompressed(dest) != 0) return -1;
  // Samples go through single-pixel access, which wide-channel pixels do not have.
  if (!HasPixelAccess(src->format) || !HasPixelAccess(dest->format)) return -1;

  const int64_t stepX = (static_cast<int64_t>(sw) << 16) / dw;
  const int64_t stepY = (static_cast<int64_t>(sh) << 16) / dh;
  for (int j = 0; j < dh; j++) {
    int64_t fy64 = stepY * j;
    int sy = srcTop + static_cast<int>(fy64 >> 16);
    int64_t fy = fy64 & 0xffff;
    for (int i = 0; i < dw; i++) {
      int64_t fx64 = stepX * i;
      int sx = srcLeft + static_cast<int>(fx64 >> 16);
      int64_t fx = fx64 & 0xffff;
      int out[4];
      if (filter == STRETCH_BILINEAR) {
        int p00[4], p10[4], p01[4], p11[4];
        ReadStretchSample(src, sx, sy, srcRight, srcBottom, p00);
        ReadStretchSample(src, sx + 1, sy, srcRight, srcBottom, p10);
        ReadStretchSample(src, sx, sy + 1, srcRight, srcBottom, p01);
        ReadStretchSample(src, sx + 1, sy + 1, srcRight, srcBottom, p11);
        // Weights sum to exactly 1 << 32, so uniform areas stay uniform.
        const int64_t w00 = (65536 - fx) * (65536 - fy);
        const int64_t w10 = fx * (65536 - fy);
        const int64_t w01 = (65536 - fx) * fy;
        const int64_t w11 = fx * fy;
        for (int c = 0; c < 4; c++) {
          int64_t sum = w00 * p00[c] + w10 * p10[c] + w01 * p01[c] + w11 * p11[c];
          out[c] = static_cast<int>(sum >> 32);
        }
      } else {
        ReadStretchSample(src, sx, sy, srcRight, srcBottom, out);
      }
      SetBaseImagePixelRGBA(dest, destLeft + i, destTop + j, out[0], out[1], out[2], out[3]);
    }
  }
  return 0;
}

int ConvertBaseImageToARGB8(BaseImageRecord* image) {
  if (image == nullptr || image->pixels == nullptr) return -1;
  if (ExpandIfCompressed(image) != 0) return -1;
  if (IsExactARGB8Format(&image->format)) return 0;
  BaseImageRecord converted;
  if (CreateBaseImageARGB8(image->width, image->height, &converted) != 0) return -1;
  if (CopyBaseImageTo(0, 0, image, &converted) != 0) {
    ReleaseBaseImage(&converted);
    return -1;
  }
  ReleaseBaseImage(image);
  *image = converted;
  return 0;
}

int PremultiplyBaseImageAlpha(BaseImageRecord* image) {
  if (image == nullptr || image->pixels == nullptr) return -1;
  if (image->format.alphaWidth == 0) return 0;
  if (ConvertBaseImageToARGB8(image) != 0) return -1;
  for (int y = 0; y < image->height; y++) {
    uint8_t* p = reinterpret_cast<uint8_t*>(image->pixels) + static_cast<intptr_t>(y) * image->pitch;
    for (int x = 0; x < image->width; x++, p += 4) {
      unsigned a = p[3];
      p[0] = static_cast<uint8_t>(p[0] * a / 255);
      p[1] = static_cast<uint8_t>(p[1] * a / 255);
      p[2] = static_cast<uint8_t>(p[2] * a / 255);
    }
  }
  return 0;
}

int MirrorBaseImageHorizontally(BaseImageRecord* image) {
  if (image == nullptr || image->width <= 0 || image->height <= 0 || image->pixels == nullptr) return -1;
  // Compressed data has no rows to reverse: work on the expanded pixels.
  if (ExpandIfCompressed(image) != 0) return -1;
  int bytes = image->format.bytesPerPixel;
  if (bytes < 1 || bytes > 4) return 0;
  for (int y = 0; y < image->height; y++) {
    ReverseRow(reinterpret_cast<uint8_t*>(image->pixels) + static_cast<intptr_t>(y) * image->pitch, image->width,
               bytes);
  }
  return 0;
}

int RotateBaseImage180(BaseImageRecord* image) {
  if (image == nullptr || image->format.kind != 0) return -1;
  if (image->width <= 0 || image->height <= 0) return 0;
  if (image->pixels == nullptr) return -1;
  int bytes = image->format.bytesPerPixel;
  if (bytes < 1 || bytes > 4) return 0;
  uint8_t* base = reinterpret_cast<uint8_t*>(image->pixels);
  int top = 0, bottom = image->height - 1;
  for (; top < bottom; top++, bottom--) {
    uint8_t* a = base + static_cast<intptr_t>(top) * image->pitch;
    uint8_t* b = base + static_cast<intptr_t>(bottom) * image->pitch + static_cast<intptr_t>(image->width - 1) * bytes;
    for (int x = 0; x < image->width; x++, a += bytes, b -= bytes) SwapPixels(a, b, bytes);
  }
  if (top == bottom) ReverseRow(base + static_cast<intptr_t>(top) * image->pitch, image->width, bytes);
  return 0;
}

int HalveImageForMipLevel(const ColorFormatRecord* format, void* dest, int destPitch, const void* src, int srcPitch,
                          int destX, int destY, int srcX, int srcY, int width, int height) {
  if (format == nullptr || dest == nullptr || src == nullptr) return -1;
  const int bytes = format->bytesPerPixel;
  if (bytes != 2 && bytes != 4) return -1;
  if (width <= 0 || height <= 0) return -1;
  if ((width != 1 && (width & 1)) || (height != 1 && (height & 1))) return -1;
  const uint32_t masks[4] = {
      RunMask(format->redShift, format->redWidth), RunMask(format->greenShift, format->greenWidth),
      RunMask(format->blueShift, format->blueWidth), RunMask(format->alphaShift, format->alphaWidth)};
  const int shifts[4] = {format->redShift, format->greenShift, format->blueShift, format->alphaShift};
  const int stepX = width == 1 ? 0 : 1;
  const int stepY = height == 1 ? 0 : 1;
  const int samples = (stepX + 1) * (stepY + 1);
  const int sampleShift = samples == 4 ? 2 : samples == 2 ? 1 : 0;
  const int outW = width == 1 ? 1 : width / 2;
  const int outH = height == 1 ? 1 : height / 2;
  for (int j = 0; j < outH; j++) {
    const uint8_t* row0 = reinterpret_cast<const uint8_t*>(src) +
                          static_cast<intptr_t>(srcY + j * 2 * stepY) * srcPitch;
    const uint8_t* row1 = row0 + static_cast<intptr_t>(stepY) * srcPitch;
    uint8_t* out = reinterpret_cast<uint8_t*>(dest) + static_cast<intptr_t>(destY + j) * destPitch +
                   static_cast<intptr_t>(destX) * bytes;
    for (int i = 0; i < outW; i++, out += bytes) {
      intptr_t x0 = static_cast<intptr_t>(srcX + i * 2 * stepX) * bytes;
      intptr_t x1 = x0 + static_cast<intptr_t>(stepX) * bytes;
      uint32_t v[4] = {ReadPixelBytes(row0 + x0, bytes), ReadPixelBytes(row0 + x1, bytes),
                       ReadPixelBytes(row1 + x0, bytes), ReadPixelBytes(row1 + x1, bytes)};
      if (samples == 1) {
        WritePixelBytes(out, bytes, v[0]);
        continue;
      }
      uint32_t result = format->spareMask;
      for (int c = 0; c < 4; c++) {
        if (masks[c] == 0) continue;
        uint64_t sum;
        if (samples == 4) {
          sum = static_cast<uint64_t>((v[0] & masks[c]) >> shifts[c]) + ((v[1] & masks[c]) >> shifts[c]) +
                ((v[2] & masks[c]) >> shifts[c]) + ((v[3] & masks[c]) >> shifts[c]);
        } else {
          // A 1-wide region pairs rows (v[0], v[2]); a 1-high one pairs columns (v[0], v[1]).
          uint32_t other = stepX ? v[1] : v[2];
          sum = static_cast<uint64_t>((v[0] & masks[c]) >> shifts[c]) + ((other & masks[c]) >> shifts[c]);
        }
        result |= (static_cast<uint32_t>(sum >> sampleShift) << shifts[c]) & masks[c];
      }
      WritePixelBytes(out, bytes, result);
    }
  }
  return 0;
}

int ConvertBaseImageToDIB(BaseImageRecord* image, BITMAPINFO* info, void** bits, int copyFlag, int force24) {
  if (image == nullptr || info == nullptr || bits == nullptr || image->pixels == nullptr) return -1;
  if (image->width < 0 || image->height < 0) return -1;
  if (ExpandIfCompressed(image) != 0) return -1;
  const ColorFormatRecord& f = image->format;
  BITMAPINFOHEADER* header = &info->bmiHeader;
  memset(header, 0, sizeof(*header));
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = image->width;
  header->biHeight = -image->height;
  header->biPlanes = 1;
  header->biCompression = BI_RGB;

  const int wide = IsWideChannelFormat(&f);
  const int palette = !wide && f.bytesPerPixel == 1 && !force24;
  const int rowBytes = palette ? image->width : image->width * 3;
  const int64_t dibPitch = (static_cast<int64_t>(palette ? 1 : 3) * image->width + 3) / 4 * 4;
  const int64_t total = dibPitch * image->height;
  if (total > 0x7fffffffLL - 0x1000) return -1;
  header->biBitCount = static_cast<WORD>(palette ? 8 : 24);
  if (palette) {
    for (int i = 0; i < 256; i++) {
      info->bmiColors[i].rgbBlue = f.palette[i][0];
      info->bmiColors[i].rgbGreen = f.palette[i][1];
      info->bmiColors[i].rgbRed = f.palette[i][2];
      info->bmiColors[i].rgbReserved = 0;
    }
  }
  const int sameLayout = palette || (!wide && f.bytesPerPixel == 3 && f.bitsPerPixel == 24 && f.redMask == 0xff0000 &&
                                     f.greenMask == 0xff00 && f.blueMask == 0xff);
  if (sameLayout && copyFlag != 1 && image->pitch == dibPitch) {
    *bits = image->pixels;
    return copyFlag;
  }
  uint8_t* block = static_cast<uint8_t*>(MEM_ALLOC_ZEROED(static_cast<size_t>(total)));
  if (block == nullptr) return -1;
  if (sameLayout) {
    for (int y = 0; y < image->height; y++) {
      memcpy(block + static_cast<intptr_t>(y) * dibPitch,
             reinterpret_cast<const uint8_t*>(image->pixels) + static_cast<intptr_t>(y) * image->pitch,
             static_cast<size_t>(rowBytes));
    }
  } else if (image->width > 0 && image->height > 0) {
    ColorFormatRecord rgb;
    memset(&rgb, 0, sizeof(rgb));
    MakeColorFormatRGB8(&rgb);
    RECT rect = {0, 0, image->width, image->height};
    if (ConvertColorBlt(block, static_cast<int>(dibPitch), &rgb, image->pixels, image->pitch, &f, nullptr, 0, nullptr,
                        0, 0, &rect, 0, 0, 0, 0, 0, 0, 0, 0) < 0) {
      MemFree(block);
      return -1;
    }
  }
  *bits = block;
  return 1;
}
