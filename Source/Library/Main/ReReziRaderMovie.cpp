// Movie frames in YUV layouts to 32-bit base images (blue, green, red, 255).
// Colours in 15-bit fixed point; the chroma terms are computed once per
// chroma pair. Odd last columns (and, in the 2 x 2 planar layouts, an odd
// last row) have no chroma pair of their own and are left as they are.
#include "ReReziRader.h"

#include "RaRadaraLog.h"

namespace {

// Log texts.
const char LOG_BAD_MOVIE_TARGET[] = "ムービーフレームの変換先イメージが不正です( %d x %d )";

}  // namespace

namespace {

struct ChromaTerms {
  int blue, green, red;
};

inline ChromaTerms MakeTerms(int u, int v) {
  ChromaTerms t;
  t.blue = 58064 * (u - 128);
  t.green = -11272 * (u - 128) - 23396 * (v - 128);
  t.red = 45940 * (v - 128);
  return t;
}

inline uint8_t ClampShift(int sum) {
  if (sum < 0) return 0;
  if (sum > 255 * 32768) return 255;
  return static_cast<uint8_t>(sum >> 15);
}

inline void PutPixel(uint8_t* out, int y, const ChromaTerms& t) {
  int luma = y << 15;
  out[0] = ClampShift(luma + t.blue);
  out[1] = ClampShift(luma + t.green);
  out[2] = ClampShift(luma + t.red);
  out[3] = 255;
}

int CheckTarget(const void* frame, int width, int height, const BaseImageRecord* image) {
  if (frame == nullptr || image == nullptr || image->pixels == nullptr || width < 0 || height < 0 ||
      image->format.bytesPerPixel != 4 || image->width < width || image->height < height) {
    LogPrintf(LOG_BAD_MOVIE_TARGET, width, height);
    return -1;
  }
  return 0;
}

inline uint8_t* OutRow(const BaseImageRecord* image, int y) {
  return reinterpret_cast<uint8_t*>(image->pixels) + static_cast<intptr_t>(y) * image->pitch;
}

// 2 x 2 blocks; chroma (U, V) of block (i, j) read by `chroma`.
template <typename ChromaReader>
void ConvertPlanar420(const uint8_t* luma, int width, int height, const BaseImageRecord* image, ChromaReader chroma) {
  for (int j = 0; j < height / 2; j++) {
    const uint8_t* y0 = luma + static_cast<intptr_t>(2 * j) * width;
    const uint8_t* y1 = y0 + width;
    uint8_t* out0 = OutRow(image, 2 * j);
    uint8_t* out1 = OutRow(image, 2 * j + 1);
    for (int i = 0; i < width / 2; i++) {
      int u, v;
      chroma(i, j, &u, &v);
      ChromaTerms t = MakeTerms(u, v);
      PutPixel(out0 + i * 8, y0[2 * i], t);
      PutPixel(out0 + i * 8 + 4, y0[2 * i + 1], t);
      PutPixel(out1 + i * 8, y1[2 * i], t);
      PutPixel(out1 + i * 8 + 4, y1[2 * i + 1], t);
    }
  }
}

// Packed rows of two pixels per four bytes; offsets of Y0, U, Y1, V.
void ConvertPacked422(const uint8_t* frame, int width, int height, const BaseImageRecord* image, int y0, int u, int y1,
                      int v) {
  for (int j = 0; j < height; j++) {
    const uint8_t* in = frame + static_cast<intptr_t>(j) * width * 2;
    uint8_t* out = OutRow(image, j);
    for (int i = 0; i < width / 2; i++, in += 4, out += 8) {
      ChromaTerms t = MakeTerms(in[u], in[v]);
      PutPixel(out, in[y0], t);
      PutPixel(out + 4, in[y1], t);
    }
  }
}

}  // namespace

int ConvertYV12ToBaseImage(const void* frame, int width, int height, BaseImageRecord* image) {
  if (CheckTarget(frame, width, height, image) != 0) return -1;
  const uint8_t* luma = reinterpret_cast<const uint8_t*>(frame);
  const int chromaPitch = width / 2;
  const uint8_t* vPlane = luma + static_cast<intptr_t>(width) * height;
  const uint8_t* uPlane = vPlane + static_cast<intptr_t>(chromaPitch) * (height / 2);
  ConvertPlanar420(luma, width, height, image, [&](int i, int j, int* u, int* v) {
    *u = uPlane[static_cast<intptr_t>(j) * chromaPitch + i];
    *v = vPlane[static_cast<intptr_t>(j) * chromaPitch + i];
  });
  return 0;
}

int ConvertNV12ToBaseImage(const void* frame, int width, int height, BaseImageRecord* image) {
  if (CheckTarget(frame, width, height, image) != 0) return -1;
  const uint8_t* luma = reinterpret_cast<const uint8_t*>(frame);
  const uint8_t* uv = luma + static_cast<intptr_t>(width) * height;
  ConvertPlanar420(luma, width, height, image, [&](int i, int j, int* u, int* v) {
    const uint8_t* pair = uv + static_cast<intptr_t>(j) * width + 2 * i;
    *u = pair[0];
    *v = pair[1];
  });
  return 0;
}

int ConvertNV11ToBaseImage(const void* frame, int width, int height, BaseImageRecord* image) {
  if (CheckTarget(frame, width, height, image) != 0) return -1;
  // One U, V pair per four pixels of a row; every row has its own chroma.
  const uint8_t* luma = reinterpret_cast<const uint8_t*>(frame);
  const int chromaPitch = width / 4 * 2;
  const uint8_t* uv = luma + static_cast<intptr_t>(width) * height;
  for (int j = 0; j < height; j++) {
    const uint8_t* y = luma + static_cast<intptr_t>(j) * width;
    const uint8_t* pair = uv + static_cast<intptr_t>(j) * chromaPitch;
    uint8_t* out = OutRow(image, j);
    for (int i = 0; i < width / 4; i++, pair += 2, y += 4, out += 16) {
      ChromaTerms t = MakeTerms(pair[0], pair[1]);
      PutPixel(out, y[0], t);
      PutPixel(out + 4, y[1], t);
      PutPixel(out + 8, y[2], t);
      PutPixel(out + 12, y[3], t);
    }
  }
  return 0;
}

int ConvertYUY2ToBaseImage(const void* frame, int width, int height, BaseImageRecord* image) {
  if (CheckTarget(frame, width, height, image) != 0) return -1;
  ConvertPacked422(reinterpret_cast<const uint8_t*>(frame), width, height, image, 0, 1, 2, 3);
  return 0;
}

int ConvertUYVYToBaseImage(const void* frame, int width, int height, BaseImageRecord* image) {
  if (CheckTarget(frame, width, height, image) != 0) return -1;
  ConvertPacked422(reinterpret_cast<const uint8_t*>(frame), width, height, image, 1, 0, 3, 2);
  return 0;
}

int ConvertYVYUToBaseImage(const void* frame, int width, int height, BaseImageRecord* image) {
  if (CheckTarget(frame, width, height, image) != 0) return -1;
  ConvertPacked422(reinterpret_cast<const uint8_t*>(frame), width, height, image, 0, 3, 2, 1);
  return 0;
}
