// Reference arithmetic: each rule as its per-channel statement, in 64-bit
// integers with explicit floor divisions.
#include "BlendOracle.h"

#include <string.h>

#include "VeRavoroString.h"

extern int MmxUsable;

namespace oracle {
namespace {

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) q--;
  return q;
}
int64_t TruncDiv(int64_t a, int64_t b) { return a / b; }

int64_t Mix(int64_t x, int64_t d, int64_t w, int n) {
  int64_t scale = static_cast<int64_t>(1) << (8 * n);
  return FloorDiv(x * w + d * (scale - w), scale);
}

int BrightByte(uint32_t bright, int ch) {
  return static_cast<int>((bright >> (8 * ch)) & 0xFF);
}  // 0 blue, 1 green, 2 red

// 32-bit packed add, per channel: blue exact with saturation; green and
// red add their upper seven bits, saturate, and take as lowest bit the OR
// of both lowest bits and the carry of the channel below (orLow false: only
// the carry); the fourth byte is the red carry.
uint32_t Add32(const int q[3], uint32_t d, bool orLow) {
  int dc[3] = {static_cast<int>(d & 0xFF), static_cast<int>((d >> 8) & 0xFF), static_cast<int>((d >> 16) & 0xFF)};
  int out[3];
  int sum = q[0] + dc[0];
  int carry = sum > 255;
  out[0] = carry ? 255 : sum;
  for (int ch = 1; ch < 3; ch++) {
    int upper = (q[ch] & 0xFE) + (dc[ch] & 0xFE);
    int c = upper > 255;
    int low = carry | (orLow ? ((q[ch] | dc[ch]) & 1) : 0);
    out[ch] = c ? 255 : (upper | low);
    carry = c;
  }
  return (static_cast<uint32_t>(carry) << 24) | (static_cast<uint32_t>(out[2]) << 16) |
         (static_cast<uint32_t>(out[1]) << 8) | static_cast<uint32_t>(out[0]);
}

// 32-bit packed subtract, per channel: blue exact clamped at 0; green and
// red (d | 1) - (q & 0xFE) - borrow below, clamped; fourth byte 0.
uint32_t Sub32(const int q[3], uint32_t d) {
  int dc[3] = {static_cast<int>(d & 0xFF), static_cast<int>((d >> 8) & 0xFF), static_cast<int>((d >> 16) & 0xFF)};
  int out[3];
  int diff = dc[0] - q[0];
  int borrow = diff < 0;
  out[0] = borrow ? 0 : diff;
  for (int ch = 1; ch < 3; ch++) {
    int v = (dc[ch] | 1) - (q[ch] & 0xFE) - borrow;
    borrow = v < 0;
    out[ch] = borrow ? 0 : v;
  }
  return (static_cast<uint32_t>(out[2]) << 16) | (static_cast<uint32_t>(out[1]) << 8) | static_cast<uint32_t>(out[0]);
}

const int kShift16[3] = {0, 5, 11};
const int kWidth16[3] = {5, 6, 5};
const int kMax16[3] = {31, 63, 31};

void Split16(uint32_t v, int f[3]) {
  for (int ch = 0; ch < 3; ch++) f[ch] = static_cast<int>((v >> kShift16[ch]) & static_cast<uint32_t>(kMax16[ch]));
}
uint32_t Pack16(const int f[3]) {
  return (static_cast<uint32_t>(f[2]) << 11) | (static_cast<uint32_t>(f[1]) << 5) | static_cast<uint32_t>(f[0]);
}

// 16-bit add: blue exact, limited to 31; green adds its upper five bits
// (limit 31) and its lowest bit is the OR of both lowest bits (orLow) and
// the blue overflow; red adds its upper four bits, all five set on
// overflow, lowest bit as green's with the green overflow.
uint32_t Add16(const int k[3], uint32_t d, bool orLow) {
  int dc[3];
  Split16(d, dc);
  int out[3];
  int sum = k[0] + dc[0];
  int cb = sum > 31;
  out[0] = cb ? 31 : sum;
  int upper = (k[1] >> 1) + (dc[1] >> 1);
  int cg = upper > 31;
  out[1] = ((cg ? 31 : upper) << 1) | cb | (orLow ? ((k[1] | dc[1]) & 1) : 0);
  int upperRed = (k[2] >> 1) + (dc[2] >> 1);
  if (upperRed > 15) out[2] = 31;
  else out[2] = (upperRed << 1) | cg | (orLow ? ((k[2] | dc[2]) & 1) : 0);
  return Pack16(out);
}

// 16-bit subtract: blue exact clamped; green twice the difference of the
// upper five bits, clamped, lowest bit 0; red 0 when its upper four bits
// borrow, else twice their difference plus 1 when green did not go below 0.
uint32_t Sub16(const int k[3], uint32_t d) {
  int dc[3];
  Split16(d, dc);
  int out[3];
  int diff = dc[0] - k[0];
  out[0] = diff < 0 ? 0 : diff;
  int g = (dc[1] >> 1) - (k[1] >> 1);
  out[1] = g < 0 ? 0 : 2 * g;
  int r = (dc[2] >> 1) - (k[2] >> 1);
  out[2] = r < 0 ? 0 : 2 * r + (g < 0 ? 0 : 1);
  return Pack16(out);
}

// The weights present (mask ramp value, source alpha): product and count.
void Weights(const PixelInput& in, int64_t* product, int* count) {
  *product = 1;
  *count = 0;
  if (in.mask) {
    *product *= in.maskWeight;
    ++*count;
  }
  if (in.alphaWeight) {
    *product *= in.alpha;
    ++*count;
  }
}

uint32_t Pixel32(const PixelInput& in, uint32_t s, uint32_t d) {
  int sc[3] = {static_cast<int>(s & 0xFF), static_cast<int>((s >> 8) & 0xFF), static_cast<int>((s >> 16) & 0xFF)};
  int dc[3] = {static_cast<int>(d & 0xFF), static_cast<int>((d >> 8) & 0xFF), static_cast<int>((d >> 16) & 0xFF)};
  switch (in.form) {
    case FORM_HALF: {
      uint32_t r = 0;
      for (int ch = 0; ch < 3; ch++) r |= static_cast<uint32_t>((sc[ch] >> 1) + (dc[ch] >> 1)) << (8 * ch);
      return r;
    }
    case FORM_ADD255_PLAIN: return Add32(sc, d, false);
    case FORM_SUB255_PLAIN: return Sub32(sc, d);
    case FORM_ADD255_BYTES:
    case FORM_SUB255_BYTES: {
      uint32_t r = 0;
      for (int i = 0; i < 4; i++) {
        int a = static_cast<int>((s >> (8 * i)) & 0xFF), b = static_cast<int>((d >> (8 * i)) & 0xFF);
        int v = in.form == FORM_ADD255_BYTES ? a + b : b - a;
        v = v < 0 ? 0 : (v > 255 ? 255 : v);
        r |= static_cast<uint32_t>(v) << (8 * i);
      }
      return r;
    }
    default: break;
  }
  bool tinted = (in.bright & 0xFFFFFF) != 0xFFFFFF;
  int64_t f;
  int n;
  Weights(in, &f, &n);
  int t[3];
  for (int ch = 0; ch < 3; ch++) {
    int v = in.mode == 10 ? 255 - sc[ch] : sc[ch];
    t[ch] = tinted ? v * BrightByte(in.bright, ch) / 255 : v;
  }
  if (in.mode == 0 && n == 0) {
    if (!tinted) return s;
    return (d & 0xFF000000u) | (static_cast<uint32_t>(t[2]) << 16) | (static_cast<uint32_t>(t[1]) << 8) |
           static_cast<uint32_t>(t[0]);
  }
  if (in.mode == 2 || in.mode == 3) {
    int q[3];
    for (int ch = 0; ch < 3; ch++) {
      if (n == 0) q[ch] = t[ch] * in.param / 255;
      else
        q[ch] = static_cast<int>(
            FloorDiv(static_cast<int64_t>(t[ch]) * in.param * f, static_cast<int64_t>(1) << (8 * (n + 1))));
    }
    return in.mode == 2 ? Add32(q, d, true) : Sub32(q, d);
  }
  uint32_t r = d & 0xFF000000u;
  for (int ch = 0; ch < 3; ch++) {
    int64_t v;
    if (in.mode == 4) v = FloorDiv(static_cast<int64_t>(t[ch]) * dc[ch] * f, static_cast<int64_t>(1) << (8 * (n + 1)));
    else if (in.mode == 0) v = Mix(t[ch], dc[ch], f, n);
    else {
      int64_t x = in.mode == 11 ? static_cast<int64_t>(t[ch]) * dc[ch] / 256 : t[ch];
      v = Mix(x, dc[ch], f * in.param, n + 1);
    }
    r |= static_cast<uint32_t>(v) << (8 * ch);
  }
  return r;
}

uint32_t Pixel16(const PixelInput& in, uint32_t s, uint32_t d) {
  int sc[3], dc[3];
  Split16(s, sc);
  Split16(d, dc);
  switch (in.form) {
    case FORM_HALF: {
      int r[3];
      for (int ch = 0; ch < 3; ch++) r[ch] = (sc[ch] >> 1) + (dc[ch] >> 1);
      return Pack16(r);
    }
    case FORM_ADD255_PLAIN: return Add16(sc, d, false);
    case FORM_SUB255_PLAIN: return Sub16(sc, d);
    default: break;
  }
  bool tinted = (in.bright & 0xFFFFFF) != 0xFFFFFF;
  int64_t f;
  int n;
  Weights(in, &f, &n);
  int src[3];
  Split16(in.mode == 10 ? (~s & 0xFFFF) : s, src);
  int t[3];
  for (int ch = 0; ch < 3; ch++) t[ch] = tinted ? src[ch] * BrightByte(in.bright, ch) / 255 : src[ch];
  if (in.mode == 0 && n == 0) return tinted ? Pack16(t) : (s & 0xFFFF);
  int out[3];
  if (in.mode == 2 || in.mode == 3) {
    int k[3];
    for (int ch = 0; ch < 3; ch++) {
      int x;
      if (n == 0) x = t[ch];
      else if (tinted && in.alphaWeight && !in.mask) x = (src[ch] * in.alpha / 256) * BrightByte(in.bright, ch) / 255;
      else x = static_cast<int>(FloorDiv(t[ch] * f, static_cast<int64_t>(1) << (8 * n)));
      k[ch] = x * in.param / 255;
    }
    return in.mode == 2 ? Add16(k, d, true) : Sub16(k, d);
  }
  for (int ch = 0; ch < 3; ch++) {
    int64_t v;
    if (in.mode == 4) {
      v = FloorDiv(static_cast<int64_t>(dc[ch]) * t[ch] * f, (static_cast<int64_t>(1) << kWidth16[ch]) << (8 * n));
    } else if (in.mode == 0) {
      v = dc[ch] + FloorDiv(static_cast<int64_t>(t[ch] - dc[ch]) * f, static_cast<int64_t>(1) << (8 * n));
    } else {
      int64_t x = in.mode == 11 ? (static_cast<int64_t>(t[ch]) * dc[ch]) >> kWidth16[ch] : t[ch];
      if (n == 0) {
        if (in.mode == 1 && in.family == POINT && !tinted && !in.runPath && !in.alphaSource) {
          int k = in.param >> 2;
          v = (x * k + dc[ch] * (63 - k)) / 63;
        } else {
          v = dc[ch] + TruncDiv((x - dc[ch]) * in.param, 255);
        }
      } else if (in.mode == 11 && ch == 1 && in.alphaWeight && !in.mask && !tinted) {
        int64_t big = static_cast<int64_t>(t[1]) * dc[1] / 2;
        v = FloorDiv(static_cast<int64_t>(dc[1]) * (1 << 21) + (big - 32 * dc[1]) * in.alpha * in.param,
                     static_cast<int64_t>(1) << 21);
      } else {
        v = dc[ch] + FloorDiv((x - dc[ch]) * f * in.param, static_cast<int64_t>(1) << (8 * (n + 1)));
      }
    }
    out[ch] = static_cast<int>(v);
  }
  return Pack16(out);
}

// The 16-bit parameter-255 forms on two adjacent pixels (first in the low
// half), as one 32-bit word.
uint32_t Pair16(int form, uint32_t s, uint32_t d) {
  if (form == FORM_ADD255_PLAIN) {
    uint64_t t = static_cast<uint64_t>(s & 0xF7DEF7DFu) + static_cast<uint64_t>(d & 0xF7DEF7DFu);
    uint32_t c = static_cast<uint32_t>(t >> 32);
    uint32_t tw = static_cast<uint32_t>(t);
    uint32_t k = tw & 0x08210820u;
    return (k - ((k >> 5) | (c << 27))) | tw;
  }
  uint32_t x = d | 0x08210820u, y = s & 0xF7DEF7DFu;
  uint32_t r = x - y;
  uint32_t h = x < y ? 0 : 0xF8000000u;
  uint32_t k = r & 0x08210820u;
  return r & ((k - (k >> 5)) | h);
}

uint32_t ReadPixel(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  memcpy(&v, p, static_cast<size_t>(bytes));
  return v;
}

}  // namespace

uint32_t Pixel(const PixelInput& in, uint32_t s, uint32_t d) {
  return in.bits == 32 ? Pixel32(in, s, d) : Pixel16(in, s & 0xFFFF, d & 0xFFFF);
}

void PointBlit(MEMIMG* dest, const MEMIMG* src, int x, int y, int transFlag, const MEMIMG* mask) {
  const MemImgHeader* dh = dest->header;
  const MemImgHeader* sh = src->header;
  if (sh->colorType != dh->colorType || dh->palettised || dh->alphaFlag) return;
  if (sh->colorType != 0 && sh->colorType != 1) return;
  RECT area = MemImgDrawState.drawArea;
  int left = x, top = y, right = x + src->width, bottom = y + src->height;
  if (left < area.left) left = area.left;
  if (top < area.top) top = area.top;
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (right > area.right) right = area.right;
  if (bottom > area.bottom) bottom = area.bottom;
  if (right > dest->width) right = dest->width;
  if (bottom > dest->height) bottom = dest->height;
  if (right <= left || bottom <= top) return;
  int mode = MemImgDrawState.blendMode, param = MemImgDrawState.blendParam;
  if (mode < 0 || mode > 11 || (mode >= 5 && mode <= 9)) return;
  if (param == 0 && (mode == 1 || mode == 2 || mode == 3)) return;
  if (mode == 1 && param == 255) mode = 0;
  bool tinted = (MemImgDrawState.drawBright & 0xFFFFFF) != 0xFFFFFF;
  int bits = sh->colorType == 1 ? 32 : 16;
  bool whole = right - left == src->width && bottom - top == src->height && src->pixels == sh->pixelBlock &&
               src->width == sh->width && src->height == sh->height;
  bool runPath = transFlag == 1 && sh->runDataValid && sh->runStream != nullptr && whole;
  int form = FORM_NONE;
  if (!runPath && !tinted && mask == nullptr && !sh->alphaFlag) {
    if (mode == 1 && param == 128) form = FORM_HALF;
    if (mode == 2 && param == 255) form = bits == 32 && MmxUsable ? FORM_ADD255_BYTES : FORM_ADD255_PLAIN;
    if (mode == 3 && param == 255) form = bits == 32 && MmxUsable ? FORM_SUB255_BYTES : FORM_SUB255_PLAIN;
  }
  int srcBytes = sh->palettised ? 1 : (bits == 32 || sh->alphaFlag ? 4 : 2);
  int destBytes = bits / 8;
  for (int row = top; row < bottom; row++) {
    int sy = row - y;
    int width = right - left;
    // Per pixel of the row: drawn, colour, alpha weight.
    bool drawn[4096];
    bool weighted[4096];
    uint32_t color[4096];
    int alpha[4096];
    for (int i = 0; i < width; i++) {
      int sx = left + i - x;
      uint32_t raw = ReadPixel(src->pixels + static_cast<size_t>(sh->pitch) * sy + static_cast<size_t>(srcBytes) * sx,
                               srcBytes);
      uint32_t c = raw;
      int a = 0;
      if (sh->palettised) {
        c = bits == 32 ? ReadPixel(sh->palette + 4 * raw, 4) : ReadPixel(sh->palette + 2 * raw, 2);
      } else if (sh->alphaFlag) {
        a = bits == 32 ? static_cast<int>(raw >> 24) : static_cast<int>((raw >> 16) & 0xFF);
        if (bits == 16) c = raw & 0xFFFF;
      }
      bool draw = true, weight = false;
      if (runPath) {
        int kind = sh->alphaFlag ? (a == 0 ? 0 : (a == 255 ? 1 : 2)) : (raw == sh->transparentColor ? 0 : 1);
        draw = kind != 0;
        weight = kind == 2;
      } else if (!sh->alphaFlag) {
        draw = !(transFlag != 0 && raw == sh->transparentColor);
      } else if (transFlag != 0) {
        if (a == 255) weight = false;
        else if (a == 0) {
          draw = mode == 4;
          weight = true;
        } else weight = true;
      } else {
        weight = !(mode == 0 && !tinted && mask == nullptr);
      }
      drawn[i] = draw;
      weighted[i] = weight;
      color[i] = c;
      alpha[i] = a;
    }
    uint8_t* line = dest->pixels + static_cast<size_t>(dh->pitch) * row + static_cast<size_t>(destBytes) * left;
    bool pairs = bits == 16 && (form == FORM_ADD255_PLAIN || form == FORM_SUB255_PLAIN);
    for (int i = 0; i < width; i++) {
      // Pair loops: two drawn neighbours from the row's start go as one word.
      if (pairs && i % 2 == 0 && i + 1 < width && drawn[i] && drawn[i + 1]) {
        uint32_t dw = ReadPixel(line + 2 * i, 4);
        uint32_t r = Pair16(form, (color[i] & 0xFFFF) | (color[i + 1] << 16), dw);
        memcpy(line + 2 * i, &r, 4);
        i++;
        continue;
      }
      if (!drawn[i]) continue;
      PixelInput in = {};
      in.bits = bits;
      in.family = POINT;
      in.mode = mode;
      in.param = param;
      in.bright = MemImgDrawState.drawBright;
      in.mask = mask != nullptr;
      if (mask != nullptr) {
        int mb = mask->pixels[static_cast<size_t>(mask->header->pitch) * sy + (left + i - x)];
        in.maskWeight = MemImgDrawState.maskAlphaRamp[mb];
      }
      in.alphaWeight = weighted[i];
      in.alpha = alpha[i];
      in.alphaSource = sh->alphaFlag != 0;
      in.runPath = runPath;
      in.form = form;
      uint32_t d = ReadPixel(line + destBytes * i, destBytes);
      uint32_t r = Pixel(in, color[i], d);
      memcpy(line + destBytes * i, &r, static_cast<size_t>(destBytes));
    }
  }
}

bool SharedTexel(int bits, uint8_t* p, uint32_t s, int a, bool alphaSource, bool trans, bool mask, int maskByte,
                 bool palettised, int form) {
  int mode = MemImgDrawState.blendMode, param = MemImgDrawState.blendParam;
  if (mode == 1 && param == 255) mode = 0;
  bool weight = false;
  if (alphaSource) {
    if (trans) {
      if (a == 0) return false;  // every mode, multiply included
      weight = a != 255;
    } else {
      weight = true;
    }
  }
  PixelInput in = {};
  in.bits = bits;
  in.family = SHARED;
  in.mode = mode;
  in.param = param;
  in.bright = MemImgDrawState.drawBright;
  in.mask = mask;
  in.maskWeight = mask ? MemImgDrawState.maskAlphaRamp[maskByte] : 0;
  in.alphaWeight = weight;
  in.alpha = a;
  in.alphaSource = alphaSource;
  in.form = form;
  static_cast<void>(palettised);
  int bytes = bits / 8;
  uint32_t d = ReadPixel(p, bytes);
  uint32_t r = Pixel(in, s, d);
  memcpy(p, &r, static_cast<size_t>(bytes));
  return true;
}

namespace {

// Shared-family drawing of the source texel (column, row) over the
// destination pixel at p.
void SharedPixel(uint8_t* p, const MEMIMG* src, int column, int row, int transFlag, const MEMIMG* mask, int form) {
  const MemImgHeader* sh = src->header;
  int bits = sh->colorType == 1 ? 32 : 16;
  int srcBytes = sh->palettised ? 1 : (bits == 32 || sh->alphaFlag ? 4 : 2);
  uint32_t raw = ReadPixel(src->pixels + static_cast<size_t>(sh->pitch) * row + static_cast<size_t>(srcBytes) * column,
                           srcBytes);
  uint32_t color = raw;
  int a = 0;
  if (sh->palettised) {
    if (transFlag && raw == sh->transparentColor) return;
    color = bits == 32 ? ReadPixel(sh->palette + 4 * raw, 4) : ReadPixel(sh->palette + 2 * raw, 2);
  } else if (sh->alphaFlag) {
    a = bits == 32 ? static_cast<int>(raw >> 24) : static_cast<int>((raw >> 16) & 0xFF);
    if (bits == 16) color = raw & 0xFFFF;
  } else if (transFlag && raw == sh->transparentColor) {
    return;
  }
  int maskByte = mask != nullptr ? mask->pixels[static_cast<size_t>(mask->header->pitch) * row + column] : 0;
  SharedTexel(bits, p, color, a, sh->alphaFlag != 0, transFlag != 0, mask != nullptr, maskByte, sh->palettised != 0,
              form);
}

// Refusals and parameter rules the scaled and rotated blits share; false:
// nothing is drawn.
bool SharedDraws(const MEMIMG* dest, const MEMIMG* src) {
  const MemImgHeader* dh = dest->header;
  const MemImgHeader* sh = src->header;
  if (sh->colorType != dh->colorType || dh->palettised || dh->alphaFlag) return false;
  if (sh->colorType != 0 && sh->colorType != 1) return false;
  int mode = MemImgDrawState.blendMode, param = MemImgDrawState.blendParam;
  if (mode < 0 || mode > 11 || (mode >= 5 && mode <= 9)) return false;
  if (param == 0 && (mode == 1 || mode == 2)) return false;
  if (param == 0 && mode == 3 && !sh->palettised) return false;
  return true;
}

RECT DrawRect(const MEMIMG* dest) {
  RECT a = MemImgDrawState.drawArea;
  if (a.left < 0) a.left = 0;
  if (a.top < 0) a.top = 0;
  if (a.right > dest->width) a.right = dest->width;
  if (a.bottom > dest->height) a.bottom = dest->height;
  return a;
}

}  // namespace

void ScaledBlit(MEMIMG* dest, const MEMIMG* src, const RECT* rect, int transFlag, const MEMIMG* mask) {
  int left = rect->left < rect->right ? rect->left : rect->right;
  int right = rect->left < rect->right ? rect->right : rect->left;
  int top = rect->top < rect->bottom ? rect->top : rect->bottom;
  int bottom = rect->top < rect->bottom ? rect->bottom : rect->top;
  bool mirrorX = rect->left > rect->right, mirrorY = rect->top > rect->bottom;
  int w = right - left, h = bottom - top;
  if (w == 0 || h == 0) return;
  if (w == src->width && h == src->height && !mirrorX && !mirrorY) {
    PointBlit(dest, src, left, top, transFlag, mask);
    return;
  }
  if (!SharedDraws(dest, src)) return;
  int64_t rx = static_cast<int64_t>(w) * 65536 / src->width, ry = static_cast<int64_t>(h) * 65536 / src->height;
  const MemImgHeader* sh = src->header;
  bool tinted = (MemImgDrawState.drawBright & 0xFFFFFF) != 0xFFFFFF;
  int form = sh->colorType == 1 && MemImgDrawState.blendMode == 3 && MemImgDrawState.blendParam == 255 && !tinted &&
                     mask == nullptr && !sh->alphaFlag && MmxUsable
                 ? FORM_SUB255_BYTES
                 : FORM_NONE;
  RECT a = DrawRect(dest);
  int bytes = sh->colorType == 1 ? 4 : 2;
  for (int y = top > a.top ? top : a.top; y < bottom && y < a.bottom; y++) {
    for (int x = left > a.left ? left : a.left; x < right && x < a.right; x++) {
      int column = static_cast<int>(static_cast<int64_t>(x - left) * 65536 / rx),
          row = static_cast<int>(static_cast<int64_t>(y - top) * 65536 / ry);
      if (mirrorX) column = src->width - 1 - column;
      if (mirrorY) row = src->height - 1 - row;
      SharedPixel(dest->pixels + static_cast<size_t>(dest->header->pitch) * y + static_cast<size_t>(bytes) * x, src,
                  column, row, transFlag, mask, form);
    }
  }
}

void RotatedBlit(MEMIMG* dest, const MEMIMG* src, int centerX, int centerY, float angle, float scale, int transFlag,
                 const MEMIMG* mask) {
  if (!SharedDraws(dest, src)) return;
  float sN, cN, sP, cP;
  SinCosFloat(-angle, &sN, &cN);
  SinCosFloat(angle, &sP, &cP);
  int sinN = TruncateFloatToInt(sN * 262144.0f), cosN = TruncateFloatToInt(cN * 262144.0f);
  int sinP = TruncateFloatToInt(sP * 262144.0f), cosP = TruncateFloatToInt(cP * 262144.0f);
  float hw = static_cast<float>(src->width) * scale * 0.5f, hh = static_cast<float>(src->height) * scale * 0.5f;
  float wc = hw * static_cast<float>(cosP), ws = hw * static_cast<float>(sinP), hc = hh * static_cast<float>(cosP),
        hs = hh * static_cast<float>(sinP);
  float ox[4] = {hs - wc, -wc - hs, wc - hs, wc + hs};
  float oy[4] = {-hc - ws, hc - ws, hc + ws, ws - hc};
  int minX = 0, maxX = 0, minY = 0, maxY = 0;
  for (int i = 0; i < 4; i++) {
    int x = centerX * 262144 + TruncateFloatToInt(ox[i]), y = centerY * 262144 + TruncateFloatToInt(oy[i]);
    if (i == 0 || x < minX) minX = x;
    if (i == 0 || x > maxX) maxX = x;
    if (i == 0 || y < minY) minY = y;
    if (i == 0 || y > maxY) maxY = y;
  }
  RECT a = DrawRect(dest);
  int left = minX / 262144 - 2, top = minY / 262144 - 2, right = maxX / 262144 + 4, bottom = maxY / 262144 + 4;
  if (left < a.left) left = a.left;
  if (top < a.top) top = a.top;
  if (right > a.right) right = a.right;
  if (bottom > a.bottom) bottom = a.bottom;
  if (right <= left || bottom <= top) return;
  int du = TruncateFloatToInt(static_cast<float>(cosP) / scale),
      dv = TruncateFloatToInt(static_cast<float>(sinN) / scale);
  auto u = [&](int y) {
    int64_t p = static_cast<int64_t>(left - centerX) * cosN - static_cast<int64_t>(y - centerY) * sinN;
    return static_cast<int64_t>(TruncateFloatToInt(static_cast<float>(p) / scale)) + ((src->width >> 1) << 18);
  };
  auto v = [&](int y) {
    int64_t q = static_cast<int64_t>(left - centerX) * sinN + static_cast<int64_t>(y - centerY) * cosN;
    return static_cast<int64_t>(TruncateFloatToInt(static_cast<float>(q) / scale)) + ((src->height >> 1) << 18);
  };
  int rows = bottom - top;
  int64_t rowU = (u(bottom) - u(top)) / rows, rowV = (v(bottom) - v(top)) / rows;
  int bytes = src->header->colorType == 1 ? 4 : 2;
  for (int j = 0; j < rows; j++) {
    for (int i = 0; i < right - left; i++) {
      uint32_t uu = static_cast<uint32_t>(u(top) + j * rowU + static_cast<int64_t>(i) * du);
      uint32_t vv = static_cast<uint32_t>(v(top) + j * rowV + static_cast<int64_t>(i) * dv);
      if (uu >= static_cast<uint32_t>(src->width) << 18 || vv >= static_cast<uint32_t>(src->height) << 18) continue;
      SharedPixel(
          dest->pixels + static_cast<size_t>(dest->header->pitch) * (top + j) + static_cast<size_t>(bytes) * (left + i),
          src, static_cast<int>(uu >> 18), static_cast<int>(vv >> 18), transFlag, mask, FORM_NONE);
    }
  }
}

}  // namespace oracle
