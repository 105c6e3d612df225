// Colour formats and base images, the colour-converting blit with the
// whole-image operations built on it, and movie-frame YUV conversion.
#ifndef REREZIRADER_H
#define REREZIRADER_H

#include <windows.h>
#include <stdint.h>

#include "DaDode.h"
#include "RiDov.h"

// What an image loader reads from: the six functions of a stream table
// (over files or over memory) and the stream they work on.
struct ImageLoadStream {
  StreamFunctionTable functions;
  StreamHandle handle;
};
// 0 when the loader recognised and decoded the data; any other value refuses
// (the built-in loaders return -1 and leave the stream rewound to 0).
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
  int KeyColorToAlpha;
  int LoadKeyColor;  // 0xRRGGBB
};

// Module globals.
extern ImageLoaderFunc UserImageLoaders[USER_IMAGE_LOADER_MAX];
extern int UserImageLoaderCount;
extern int UsePremultipliedAlphaOnLoad;
extern int KeyColorToAlpha;
extern int LoadKeyColor;
extern int Bmp32ZeroAlphaAsXrgb;
extern int BaseImageModuleStarted;

// A pixel value of 1 to 4 bytes, little-endian.
inline uint32_t ReadPixelBytes(const void* pixel, int bytes) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(pixel);
  switch (bytes) {
    case 1: return p[0];
    case 2: return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
    case 3:
      return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
    case 4:
      return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
             (static_cast<uint32_t>(p[3]) << 24);
  }
  return 0;
}

inline void WritePixelBytes(void* pixel, int bytes, uint32_t value) {
  uint8_t* p = reinterpret_cast<uint8_t*>(pixel);
  switch (bytes) {
    case 4: p[3] = static_cast<uint8_t>(value >> 24); /* fall through */
    case 3: p[2] = static_cast<uint8_t>(value >> 16); /* fall through */
    case 2: p[1] = static_cast<uint8_t>(value >> 8);  /* fall through */
    case 1: p[0] = static_cast<uint8_t>(value); break;
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
void MakeColorFormatFromMasks(ColorFormatRecord* format, int bitsPerPixel, uint32_t redMask, uint32_t greenMask,
                              uint32_t blueMask, uint32_t alphaMask, int channelCount, int bitsPerChannel,
                              int floatFlag);
void RecomputeSpareBitsMask(ColorFormatRecord* format);
// Shift and width of the lowest run of set bits of a mask (0, 0 for 0).
void GetMaskShiftAndWidth(uint32_t mask, int* shift, int* width);
int IsWideChannelFormat(const ColorFormatRecord* format);
int IsExactARGB8Format(const ColorFormatRecord* format);

// Images made here have pitch = row size rounded up to 4 bytes. Sizes are
// reckoned in 64 bits; an image whose byte size does not fit is refused.
int CreateBaseImageWithFormat(int width, int height, const ColorFormatRecord* format, BaseImageRecord* image);
void ClearBaseImageRect(BaseImageRecord* image, int x, int y, int w, int h);
// Bytes of the pixel block, mip levels included (cube faces not); -1 for an
// unknown kind.
int64_t GetBaseImageDataSize(const BaseImageRecord* image);

uint32_t MakeFormatPixelFromRGBA(const ColorFormatRecord* format, int red, int green, int blue, int alpha);
int SplitFormatPixelToRGBA(const ColorFormatRecord* format, uint32_t pixel, int* red, int* green, int* blue,
                           int* alpha);
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
// The result holds the top level of each face only (mip count 0).
int ExpandCompressedBaseImage(BaseImageRecord* image);
// Bytes from one cube face to the next in the pixel block (the whole mip
// chain of a face).
int64_t GetBaseImageFaceStride(const BaseImageRecord* image);

// Image loading. Loaders refuse images wider or higher than this, and every
// byte size is reckoned in 64 bits.
enum { IMAGE_LOAD_SIDE_MAX = 16384 };

// Stream helpers for loaders. ReadExact: 0 when all bytes arrived, else -1.
int ImageStreamReadExact(ImageLoadStream* stream, void* buffer, size_t bytes);
int ImageStreamSeek(ImageLoadStream* stream, int64_t offset, int origin);
int64_t ImageStreamTell(ImageLoadStream* stream);
// Bytes from the current position to the end; the position is kept. -1 when
// the stream cannot tell.
int64_t ImageStreamBytesLeft(ImageLoadStream* stream);
// 0 when a side pair lies in 1..IMAGE_LOAD_SIDE_MAX (both), else -1.
int CheckImageLoadSize(int64_t width, int64_t height);
// Largest pixel block a loader allocates.
int64_t GetImageLoadByteLimit();
// Fills the size, pitch and pixels of a decoded single-level image (no mip
// levels, no cube faces); the format is the caller's.
void SetLoadedImageRecord(BaseImageRecord* image, int width, int height, int pitch, void* pixels);

// The built-in loaders, in the order they are tried; ends with a null slot.
enum { IMAGE_LOADER_TABLE_SIZE = 7 };
extern const ImageLoaderFunc ImageLoaderTable[IMAGE_LOADER_TABLE_SIZE];
int LoadBmpImage(ImageLoadStream* stream, BaseImageRecord* image);
int LoadJpegImage(ImageLoadStream* stream, BaseImageRecord* image);
int LoadPngImage(ImageLoadStream* stream, BaseImageRecord* image);
int LoadBgraImage(ImageLoadStream* stream, BaseImageRecord* image);
int LoadTgaImage(ImageLoadStream* stream, BaseImageRecord* image);
int LoadDdsImage(ImageLoadStream* stream, BaseImageRecord* image);

// User loaders of the snapshot, then the built-in ones, each on the stream
// rewound to 0; -1 when every loader refused.
int LoadImageByLoaders(const ImageLoadSettings* settings, ImageLoadStream* stream, BaseImageRecord* image);
// Decodes a file (memoryFlag 0) or image bytes (memoryFlag 1). mirrorFlag 1
// mirrors left to right. bitmapFlag non-zero hands the result out as a
// device-independent bitmap: *bitmapInfo (1068 bytes) and *bitmapBits, both
// MemFree'd by the caller; else *image gets the record. -1 with a log line
// when nothing could decode the data.
int LoadBaseImageCore(const ImageLoadSettings* settings, const char* fileName, const void* bytes, int byteCount,
                      int memoryFlag, int bitmapFlag, int mirrorFlag, BaseImageRecord* image, BITMAPINFO** bitmapInfo,
                      void** bitmapBits);
int LoadBaseImageWithSettings(const char* fileName, const void* bytes, int byteCount, int memoryFlag, int bitmapFlag,
                              int mirrorFlag, BaseImageRecord* image, BITMAPINFO** bitmapInfo, void** bitmapBits);
// Colour image plus its separate alpha image. alphaMode 0: the file named by
// MakeAlphaImageFileName; 1: alphaBytes from memory; other: none. -1 when
// the colour image fails, 0 with both, 1 without an alpha image (then
// *alphaImage is empty).
int LoadBaseImagePair(const ImageLoadSettings* settings, const char* fileName, const void* bytes, int byteCount,
                      int memoryFlag, const void* alphaBytes, int alphaByteCount, int alphaMode, BaseImageRecord* image,
                      BaseImageRecord* alphaImage, int mirrorFlag);
int LoadBaseImagePairWithSettings(const char* fileName, const void* bytes, int byteCount, int memoryFlag,
                                  const void* alphaBytes, int alphaByteCount, int alphaMode, BaseImageRecord* image,
                                  BaseImageRecord* alphaImage, int mirrorFlag);

// A base image from a bitmap header (with its masks or colour table after
// it) and its bits. 1: the image owns a copy; copyFlag's value: the image
// points at the caller's bits; -1 on failure.
int CreateBaseImageFromDIB(const BITMAPINFO* info, const void* bits, BaseImageRecord* image, int copyFlag);

// Colour-converting blit. Returns 0, -1, or for a plain 8-bit copy the
// largest palette index copied.
enum {
  BLT_REDUCE_NONE = 0,
  BLT_REDUCE_ORDERED_DITHER = 1,
  BLT_REDUCE_CARRY = 2,
};
int ConvertColorBlt(void* destPixels, int destPitch, const ColorFormatRecord* destFormat, const void* srcPixels,
                    int srcPitch, const ColorFormatRecord* srcFormat, const void* alphaPixels, int alphaPitch,
                    const ColorFormatRecord* alphaFormat, int destX, int destY, const RECT* srcRect, int mirror,
                    int keyToAlpha, uint32_t keyColor, int reductionMode, int colorOff, int alphaFromRed, int skipKey,
                    int paletteRemap);
// Test seam: 0 sends every conversion through the general per-pixel path.
void SetConvertColorBltFastPaths(int enable);
// Test seam: 0 keeps the 5-6-5 loops to 128-bit vectors where wider ones exist.
void SetConvertColorBltWideVectors(int enable);

int BltBaseImageRect(int srcX, int srcY, int width, int height, int destX, int destY, BaseImageRecord* src,
                     BaseImageRecord* dest);
int CopyBaseImageTo(int x, int y, BaseImageRecord* src, BaseImageRecord* dest);
enum { STRETCH_NEAREST = 0, STRETCH_BILINEAR = 1 };
int StretchBaseImageRect(int srcLeft, int srcTop, int srcRight, int srcBottom, BaseImageRecord* src, int destLeft,
                         int destTop, int destRight, int destBottom, BaseImageRecord* dest, int filter);
// Expands a block-compressed image and remakes any other format as exact
// ARGB8 in place (the old pixels copied into a new block); 0 or -1.
int ConvertBaseImageToARGB8(BaseImageRecord* image);
int PremultiplyBaseImageAlpha(BaseImageRecord* image);
int MirrorBaseImageHorizontally(BaseImageRecord* image);
int RotateBaseImage180(BaseImageRecord* image);
int HalveImageForMipLevel(const ColorFormatRecord* format, void* dest, int destPitch, const void* src, int srcPitch,
                          int destX, int destY, int srcX, int srcY, int width, int height);
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
