// Colour formats and base images, the colour-converting blit with the
// whole-image operations built on it, and movie-frame YUV conversion.
#ifndef REREZIRADER_H
#define REREZIRADER_H

#include <windows.h>
#include <stdint.h>

#include "DaDode.h"

// How a pixel is laid out. A pixel value is a little-endian integer of
// bytesPerPixel bytes (3-byte pixels: the low 16 bits, then the third byte).
struct ColorFormatRecord {
  uint8_t kind;             // 0 plain pixels, 1-5 block-compressed DXT1-DXT5
  uint8_t channelCount;     // wide-channel formats: number of channels, else 0
  uint8_t bitsPerChannel;   // wide-channel formats: bits of each channel, else 0
  uint8_t floatFlag;        // 1 when wide channels hold floating-point values
  uint8_t bytesPerPixel;
  uint8_t bitsPerPixel;
  uint8_t spareShift;
  uint8_t spareWidth;
  uint8_t redWidth, greenWidth, blueWidth, alphaWidth;  // alpha width 0: no alpha
  uint8_t redShift, greenShift, blueShift, alphaShift;
  uint32_t redMask, greenMask, blueMask, alphaMask;
  uint32_t spareMask;       // bits of no channel, ORed into every made pixel
  uint8_t palette[256][4];  // blue, green, red, alpha
};

struct BaseImageRecord {
  ColorFormatRecord format;
  int width;
  int height;
  int pitch;          // bytes from one row to the next
  void* pixels;       // owned by the record
  int mipLevelCount;  // 0 or 1: one level
  int cubeFlag;       // above 0: six faces, each with its mip chain
};

// Image loaders (the loader table and its driver build on these).
struct ImageLoadStream;
typedef int (*ImageLoaderFunc)(ImageLoadStream* stream, BaseImageRecord* image);

enum { USER_IMAGE_LOADER_MAX = 10 };

// Taken at the start of every image load, so that one load (also one that
// runs as an asynchronous job) sees one consistent set.
struct ImageLoadSettings {
  ImageLoaderFunc userLoaders[USER_IMAGE_LOADER_MAX];
  int userLoaderCount;
  FileStreamFunctionTable fileAccess;
  StreamFunctionTable fileStream;
  StreamFunctionTable memoryStream;
  int UsePremultipliedAlphaOnLoad;
  int KeyColourToAlpha;
  int LoadKeyColour;  // 0xRRGGBB
};

// Module globals.
extern ImageLoaderFunc UserImageLoaders[USER_IMAGE_LOADER_MAX];
extern int UserImageLoaderCount;
extern int UsePremultipliedAlphaOnLoad;
extern int KeyColourToAlpha;
extern int LoadKeyColour;
extern int Bmp32ZeroAlphaAsXrgb;
extern int BaseImageModuleStarted;

// A pixel value of 1 to 4 bytes, little-endian.
inline uint32_t ReadPixelBytes(const void* pixel, int bytes) {
  const uint8_t* p = (const uint8_t*)pixel;
  switch (bytes) {
    case 1: return p[0];
    case 2: return (uint32_t)p[0] | ((uint32_t)p[1] << 8);
    case 3: return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16);
    case 4: return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
  }
  return 0;
}

inline void WritePixelBytes(void* pixel, int bytes, uint32_t value) {
  uint8_t* p = (uint8_t*)pixel;
  switch (bytes) {
    case 4: p[3] = (uint8_t)(value >> 24); /* fall through */
    case 3: p[2] = (uint8_t)(value >> 16); /* fall through */
    case 2: p[1] = (uint8_t)(value >> 8); /* fall through */
    case 1: p[0] = (uint8_t)value; break;
  }
}

// Fixed formats; each returns 0 and leaves the palette as it was (except
// the grey one, which sets it to the grey ramp).
int MakeColorFormatXRGB8(ColorFormatRecord* format);
int MakeColorFormatARGB8(ColorFormatRecord* format);
int MakeColorFormatRGB8(ColorFormatRecord* format);
int MakeColorFormatPal8(ColorFormatRecord* format);
int MakeColorFormatGray8(ColorFormatRecord* format);
// channelCount and bitsPerChannel both non-zero: a wide-channel format.
int MakeColorFormatFromMasks(ColorFormatRecord* format, int bitsPerPixel, uint32_t redMask,
                             uint32_t greenMask, uint32_t blueMask, uint32_t alphaMask,
                             int channelCount, int bitsPerChannel, int floatFlag);
int RecomputeSpareBitsMask(ColorFormatRecord* format);
// Shift and width of the lowest run of set bits of a mask (0, 0 for 0).
void GetMaskShiftAndWidth(uint32_t mask, int* shift, int* width);
int IsWideChannelFormat(const ColorFormatRecord* format);
int IsExactARGB8Format(const ColorFormatRecord* format);

// Images made here have pitch = row size rounded up to 4 bytes. Sizes are
// reckoned in 64 bits; an image whose byte size does not fit is refused.
int CreateBaseImageWithFormat(int width, int height, const ColorFormatRecord* format, BaseImageRecord* image);
int CreateBaseImageARGB8(int width, int height, BaseImageRecord* image);
int CreateBaseImageXRGB8(int width, int height, BaseImageRecord* image);
int ReleaseBaseImage(BaseImageRecord* image);
int ClearBaseImageRect(BaseImageRecord* image, int x, int y, int w, int h);
// Bytes of the pixel block, mip levels included (cube faces not); -1 for an
// unknown kind.
int64_t GetBaseImageDataSize(const BaseImageRecord* image);

uint32_t MakeFormatPixelFromRGBA(const ColorFormatRecord* format, int red, int green, int blue, int alpha);
int SplitFormatPixelToRGBA(const ColorFormatRecord* format, uint32_t pixel, int* red, int* green,
                           int* blue, int* alpha);
int GetBaseImagePixelRGBA(BaseImageRecord* image, int x, int y, int* red, int* green, int* blue, int* alpha);
int SetBaseImagePixelRGBA(BaseImageRecord* image, int x, int y, int red, int green, int blue, int alpha);
// 0xAARRGGBB with each channel's top bit on bit 31/23/15/7; 0 outside the
// image or without pixels.
uint32_t GetBaseImagePixelARGB8(const BaseImageRecord* image, int x, int y);

float HalfFloatToFloat(uint16_t half);
uint16_t FloatToHalfFloat(float value);

int InitializeBaseImageModule();
int TerminateBaseImageModule();
// Appends a loader tried before the built-in ones; -1 when the list is full.
int AddUserImageLoader(ImageLoaderFunc loader);
int SnapshotImageLoadSettings(ImageLoadSettings* settings);
// "pic.png" -> "pic_a.png"; out holds the name plus two bytes.
int MakeAlphaImageFileName(const char* fileName, char* out);

// Block-compressed images are expanded to ARGB8 in place before pixel work.
int ExpandCompressedBaseImage(BaseImageRecord* image);

// Colour-converting blit. Returns 0, -1, or for a plain 8-bit copy the
// largest palette index copied.
enum {
  BLT_REDUCE_NONE = 0,
  BLT_REDUCE_ORDERED_DITHER = 1,
  BLT_REDUCE_CARRY = 2,
};
int ConvertColorBlt(void* destPixels, int destPitch, const ColorFormatRecord* destFormat,
                    const void* srcPixels, int srcPitch, const ColorFormatRecord* srcFormat,
                    const void* alphaPixels, int alphaPitch, const ColorFormatRecord* alphaFormat,
                    int destX, int destY, const RECT* srcRect,
                    int mirror, int keyToAlpha, uint32_t keyColour, int reductionMode,
                    int colourOff, int alphaFromRed, int skipKey, int paletteRemap);
// Test seam: 0 sends every conversion through the general per-pixel path.
void SetConvertColorBltFastPaths(int enable);

int BltBaseImageRect(int srcX, int srcY, int width, int height, int destX, int destY,
                     BaseImageRecord* src, BaseImageRecord* dest);
int CopyBaseImageTo(int x, int y, BaseImageRecord* src, BaseImageRecord* dest);
enum { STRETCH_NEAREST = 0, STRETCH_BILINEAR = 1 };
int StretchBaseImageRect(int srcLeft, int srcTop, int srcRight, int srcBottom, BaseImageRecord* src,
                         int destLeft, int destTop, int destRight, int destBottom, BaseImageRecord* dest,
                         int filter);
int PremultiplyBaseImageAlpha(BaseImageRecord* image);
int MirrorBaseImageHorizontally(BaseImageRecord* image);
int RotateBaseImage180(BaseImageRecord* image);
int HalveImageForMipLevel(const ColorFormatRecord* format, void* dest, int destPitch, const void* src,
                          int srcPitch, int destX, int destY, int srcX, int srcY, int width, int height);
// 1: *bits is a new block (MemFree); the copy flag's value: *bits points
// into the image; -1: allocation failure. info needs room for the 40-byte
// header and 256 colour entries.
int ConvertBaseImageToDIB(BaseImageRecord* image, BITMAPINFO* info, void** bits, int copyFlag, int force24);

// Movie frames to an existing 32-bit image of at least the frame's size.
int ConvertYV12ToBaseImage(const void* frame, int width, int height, BaseImageRecord* image);
int ConvertNV11ToBaseImage(const void* frame, int width, int height, BaseImageRecord* image);
int ConvertNV12ToBaseImage(const void* frame, int width, int height, BaseImageRecord* image);
int ConvertYUY2ToBaseImage(const void* frame, int width, int height, BaseImageRecord* image);
int ConvertUYVYToBaseImage(const void* frame, int width, int height, BaseImageRecord* image);
int ConvertYVYUToBaseImage(const void* frame, int width, int height, BaseImageRecord* image);

#endif  // REREZIRADER_H
