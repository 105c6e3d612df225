// Software images (MEMIMG): the record, its shared header, the four colour
// types with their built-in colour formats, views, the raw fill, the
// software draw state, writing base images into a software image with its
// run data and premultiplied copy, and the plain transfer between images.
#ifndef RIREREZI_H
#define RIREREZI_H

#include <windows.h>
#include <stdint.h>

#include "ReReziRader.h"

enum { MEMIMG_MAGIC = 0x12345678 };

// Colour types: 0 16-bit 5-6-5 (with alpha: a 32-bit word, colour in bits
// 0-15, alpha in bits 16-23), 1 32-bit 0x00RRGGBB (alpha in bits 24-31),
// 2 8-bit one channel, 3 16-bit one channel.
enum MemImgColorType {
  MEMIMG_COLOR_16 = 0,
  MEMIMG_COLOR_32 = 1,
  MEMIMG_COLOR_8_CHANNEL = 2,
  MEMIMG_COLOR_16_CHANNEL = 3,
};

// Shared by a whole image and its views; freed with the last record.
struct MemImgHeader {
  int referenceCount;
  int width, height;
  int pitch;
  int pitchShift;  // k when pitch == 2^k (see CreateMemImg), else -1
  const ColorFormatRecord* colorFormat;
  uint32_t transparentColor;  // raw pixel value, or palette index
  int colorType;
  int palettised;
  int paletteEntriesUsed;
  int alphaFlag;
  int premultipliedValid;
  int runDataValid;
  int callerOwnedPixels;
  uint8_t* palette;        // 2048 bytes, null unless palettised
  uint8_t* secondPalette;  // palette + 1024
  uint8_t* pixelBlock;     // pitch x height
  uint8_t* premultiplied;  // pitch x height, or null
  uint8_t* runStream;      // (width + 5) x height, or null
};

// Kept by value by its holder; several records may share one header.
struct MEMIMG {
  uint32_t magic;  // MEMIMG_MAGIC while valid
  int width, height;
  uint8_t* pixels;  // top-left pixel of this image or view
  uint8_t* premultipliedPixels;
  MemImgHeader* header;
};

// Run stream codes: kind in the top two bits, count - 1 in the low six.
enum {
  MEMIMG_RUN_SKIP = 0x00,
  MEMIMG_RUN_OPAQUE = 0x40,
  MEMIMG_RUN_TRANSLUCENT = 0x80,
  MEMIMG_RUN_END = 0xC0,
};

// The software draw state every software draw routine reads (main thread).
struct MemImgDrawStateRecord {
  int defaultColorType;
  RECT drawArea;        // right and bottom exclusive
  int blendMode;        // draw blend mode number, 0-11
  int blendParam;       // 0-255
  uint32_t drawBright;  // 0x00RRGGBB; low 24 bits 0xFFFFFF = no tint
  uint8_t maskAlphaRamp[256];
};
extern MemImgDrawStateRecord MemImgDrawState;

// 0 done; -1 on a record that is already valid or when memory runs out (the
// blocks taken stay attached to the header; a retry on the same record
// reuses them, ReleaseMemImg-less cleanup goes through FreeMemImgHeaderOf).
// A software image to make: size, pitch (-1: automatic), the transparent
// colour as a raw pixel, colour type, palette and alpha, work blocks and the
// caller's pixels (null: allocated).
struct MemImgDesc {
  int width, height;
  int pitch;
  uint32_t transparentColor;
  int colorType;
  int palettised;
  int alphaFlag;
  int workBlocks;
  void* callerPixels;
};
int CreateMemImg(MEMIMG* image, const MemImgDesc& desc);
// Automatic pitch, allocated pixels, no palette, no alpha, no work blocks;
// colour type -1 takes the default colour type.
int CreateMemImgOfColorType(MEMIMG* image, int width, int height, int colorType);
// A view of (x, y, width, height) of the parent; nothing when it leaves it.
void CreateSubMemImg(MEMIMG* view, const MEMIMG* parent, int x, int y, int width, int height);
int IsValidMemImg(const MEMIMG* image);
void ReleaseMemImg(MEMIMG* image);
// Frees the header (and its blocks) left on a record whose creation failed.
void FreeFailedMemImg(MEMIMG* image);
const ColorFormatRecord* GetMemImgColorFormat(int colorType, int alphaFlag, int palettised);
// Bytes per pixel of the image's own pixels (1, 2 or 4).
inline int MemImgBytesPerPixel(const MEMIMG* image) { return image->header->colorFormat->bytesPerPixel; }
// Raw fill of a rectangle (null = whole image), clipped to the image; no
// blending, draw area or brightness.
void FillMemImgRectRaw(MEMIMG* image, const RECT* rect, uint32_t value);

void SetMemImgDefaultColorType(int colorType);
void SetMemImgDrawArea(const RECT* area);
int SetMemImgBlendMode(int blendMode, int blendParam);
void SetMemImgDrawBright(uint32_t bright);
void SetMaskAlphaRamp(int borderPosition, int borderRange);

// Every writer of a software image calls this: the run data and the
// premultiplied copy no longer describe its pixels.
inline void InvalidateMemImgDerivedData(MEMIMG* image) {
  image->header->runDataValid = 0;
  image->header->premultipliedValid = 0;
}

// A rectangle (srcX, srcY, width, height) of a source written at (destX,
// destY).
struct ImageRectCopy {
  int srcX, srcY, width, height;
  int destX, destY;
};
// Writes the rectangle of a base image (with an optional alpha image) into
// the record; a whole-image write rebuilds the run data and the
// premultiplied copy.
void WriteBaseImageToMemImg(const BaseImageRecord* image, const BaseImageRecord* alphaImage, MEMIMG* dest,
                            const ImageRectCopy& copy, int conversionOption);
// Plain colour-converting copy; the result of ConvertColorBlt.
int TransferMemImg(MEMIMG* dest, const MEMIMG* src, const RECT* srcRect, int destX, int destY);
// Rebuilds the run stream from the record's pixels (whole-image records).
void BuildMemImgRunData(MEMIMG* image);
void BuildMemImgPremultiplied(MEMIMG* image);

#endif  // RIREREZI_H
