// Graphic filters and blends in software: the per-pixel loops of the colour
// filters, Gauss and DownScale, the blend modes and the RGBA mix over ARGB8
// base images, in integer arithmetic (luminance Y4096 = 1224 R + 2404 G +
// 466 B), plus the Gaussian weight cache and the Level gamma entries the
// shader path shares.
// Threads: main thread only (the weight cache is a plain global).
// Platform pieces: none.
#include "VuViderezaFilterSoft.h"

#include <math.h>
#include <stdint.h>
#include <string.h>

#include "Windows/RaRadaraLog.h"
#include "ZiDezaru.h"

namespace {

const char LOG_LEVEL_EMPTY_RANGE[] = "レベル補正フィルターの入力範囲が空です";

struct Pixel {
  int b, g, r, a;
};

inline uint32_t* Row(const BaseImageRecord* image, int y) {
  return reinterpret_cast<uint32_t*>(static_cast<unsigned char*>(image->pixels) + y * image->pitch);
}
inline Pixel Split(uint32_t v) {
  return {static_cast<int>(v & 255), static_cast<int>((v >> 8) & 255), static_cast<int>((v >> 16) & 255),
          static_cast<int>(v >> 24)};
}
inline uint32_t Pack(int b, int g, int r, int a) {
  return static_cast<uint32_t>(b & 255) | static_cast<uint32_t>(g & 255) << 8 | static_cast<uint32_t>(r & 255) << 16 |
         static_cast<uint32_t>(a & 255) << 24;
}
inline int Clamp(int v, int low, int high) { return v < low ? low : v > high ? high : v; }
inline float ClampF(float v, float low, float high) { return v < low ? low : v > high ? high : v; }
inline int Luminance4096(const Pixel& p) { return 1224 * p.r + 2404 * p.g + 466 * p.b; }
// A colour of four floats (red, green, blue, alpha; 0..1) as a pixel.
uint32_t ColorPixel(const float* c) {
  int v[4];
  for (int i = 0; i < 4; i++) v[i] = Clamp(static_cast<int>(c[i] * 255), 0, 255);
  return Pack(v[2], v[1], v[0], v[3]);
}
bool Usable(const BaseImageRecord* image) { return image != nullptr && image->pixels != nullptr; }

// Runs `op(source pixel, &output pixel)` over the output's size.
template <typename Op>
int ForEachPixel(const BaseImageRecord* source, BaseImageRecord* output, Op op) {
  if (!Usable(source) || !Usable(output)) return -1;
  for (int y = 0; y < output->height; y++) {
    const uint32_t* s = Row(source, y);
    uint32_t* o = Row(output, y);
    for (int x = 0; x < output->width; x++) op(s[x], &o[x]);
  }
  return 0;
}

struct GaussCache {
  float weights[GAUSS_MAX_HALF];
  float strength;
  int width;
};
GaussCache GaussWeightCache;

}  // namespace

int SoftFilterMono(const BaseImageRecord* source, BaseImageRecord* output, float cb, float cr) {
  const double cbN = ClampF(cb / 200.0f, -0.5f, 0.5f), crN = ClampF(cr / 200.0f, -0.5f, 0.5f);
  const int dR = static_cast<int>(1.402 * crN * 255 * 4096);
  const int dG = static_cast<int>((-0.34414 * cbN - 0.71414 * crN) * 255 * 4096);
  const int dB = static_cast<int>(1.772 * cbN * 255 * 4096);
  return ForEachPixel(source, output, [&](uint32_t in, uint32_t* out) {
    const Pixel p = Split(in);
    const int y = Luminance4096(p);
    *out = Pack(Clamp((y + dB) >> 12, 0, 255), Clamp((y + dG) >> 12, 0, 255), Clamp((y + dR) >> 12, 0, 255), p.a);
  });
}

int SoftFilterBrightClip(const BaseImageRecord* source, BaseImageRecord* output, int compare, float threshold, int fill,
                         const float* fillColor) {
  if (compare != FILTER_COMPARE_LESS && compare != FILTER_COMPARE_GREATER) return -1;
  if (fill != 0 && fillColor == nullptr) return -1;
  const float t = ClampF(threshold / 255.0f, 0.0f, 1.0f);
  const int limit = static_cast<int>(t * 255 * 4096);
  const uint32_t fillPixel = fill != 0 ? ColorPixel(fillColor) : 0;
  return ForEachPixel(source, output, [&](uint32_t in, uint32_t* out) {
    const int y = Luminance4096(Split(in));
    const bool clipped = compare == FILTER_COMPARE_LESS ? y < limit : y > limit;
    if (!clipped) {
      *out = in;
    } else if (fill != 0) {
      *out = fillPixel;
    }
  });
}

int SoftFilterHsb(const BaseImageRecord* source, BaseImageRecord* output, int hueMode, float hue, float saturation,
                  float brightness) {
  float h = hue / 360.0f;
  h = hueMode == 1 ? ClampF(h, 0.0f, 1.0f) : ClampF(h, -0.5f, 0.5f);
  const float s = ClampF(saturation / 100.0f, -1.0f, 1.0f);
  const float sScaled = s > 0 ? 5 * s : s;
  const int hueI = static_cast<int>(h * 6 * 256);
  const int satI = static_cast<int>(sScaled * 256) + 256;
  const int brightI = static_cast<int>(brightness / 100.0f * 256);
  return ForEachPixel(source, output, [&](uint32_t in, uint32_t* out) {
    const Pixel p = Split(in);
    int c[3] = {p.r, p.g, p.b};
    for (int& v : c) {
      v = brightI > 0 ? v + (((255 - v) * brightI) >> 8) : (v * (brightI + 256)) >> 8;
      v = Clamp(v, 0, 255);  // brightness beyond +-1 saturates
    }
    const int maxC = c[0] > c[1] ? (c[0] > c[2] ? c[0] : c[2]) : (c[1] > c[2] ? c[1] : c[2]);
    const int minC = c[0] < c[1] ? (c[0] < c[2] ? c[0] : c[2]) : (c[1] < c[2] ? c[1] : c[2]);
    const int lightness = (maxC + minC) >> 1;
    const int d = maxC - minC;
    int sat = 0, hueV = 0;
    if (d != 0) {
      sat = lightness <= 128 ? (d << 8) / (maxC + minC) : (d << 8) / (512 - maxC - minC);
      if (hueMode != 1) {
        const int rc = ((maxC - c[0]) << 8) / d, gc = ((maxC - c[1]) << 8) / d, bc = ((maxC - c[2]) << 8) / d;
        hueV = c[0] == maxC ? bc - gc : c[1] == maxC ? 512 + rc - bc : 1024 + gc - rc;
        if (hueV < 0) hueV += 1536;
      }
    }
    if (hueMode == 1) {
      hueV = hueI >= 1536 ? hueI - 1536 : hueI;
    } else {
      hueV = ((hueV + hueI) % 1536 + 1536) % 1536;
    }
    int newSat = (satI * sat) >> 8;
    if (newSat > 256) newSat = 256;
    const int f = hueV & 255;
    static const int kSectors[6][3][2] = {// (constant, f sign) per channel: value = constant + sign * f
                                          {{255, 0}, {0, 1}, {0, 0}}, {{255, -1}, {255, 0}, {0, 0}},
                                          {{0, 0}, {255, 0}, {0, 1}}, {{0, 0}, {255, -1}, {255, 0}},
                                          {{0, 1}, {0, 0}, {255, 0}}, {{255, 0}, {0, 0}, {255, -1}}};
    const int sector = hueV >> 8;
    int o[3];
    for (int ch = 0; ch < 3; ch++) {
      int v = kSectors[sector][ch][0] + kSectors[sector][ch][1] * f;
      v += ((128 - v) * (256 - newSat)) >> 8;
      if (lightness <= 128) {
        v = (2 * lightness * v) >> 8;
      } else {
        v = v + (((255 - v) * (lightness - 128) * 2) >> 8);
      }
      o[ch] = v & 255;
    }
    *out = Pack(o[2], o[1], o[0], p.a);
  });
}

int SoftFilterInvert(const BaseImageRecord* source, BaseImageRecord* output) {
  return ForEachPixel(source, output, [](uint32_t in, uint32_t* out) { *out = in ^ 0x00FFFFFFu; });
}

int LevelGammaEntry(int i, float gamma) {
  const double v = pow(i / 255.0, 1.0 / gamma) * 255.0;
  return v > 255 ? 255 : static_cast<int>(v);
}

int SoftFilterLevel(const BaseImageRecord* source, BaseImageRecord* output, float minimum, float maximum, float gamma,
                    float outMinimum, float outMaximum) {
  float mn = ClampF(minimum / 255.0f, 0, 1), mx = ClampF(maximum / 255.0f, 0, 1);
  float omn = ClampF(outMinimum / 255.0f, 0, 1), omx = ClampF(outMaximum / 255.0f, 0, 1);
  if (gamma < 0.001f) gamma = 0.001f;
  if (mn > mx) mn = mx;
  if (omn > omx) omn = omx;
  const int minI = static_cast<int>(mn * 255), rangeI = static_cast<int>(mx * 255) - minI;
  const int outMinI = static_cast<int>(omn * 255), outRangeI = static_cast<int>(omx * 255) - outMinI;
  if (rangeI <= 0) {
    LogPrintf(LOG_LEVEL_EMPTY_RANGE);
    return -1;
  }
  static int table[256];
  static float tableGamma = -10000000.0f;
  if (fabsf(tableGamma - gamma) >= 0.0001f) {
    for (int i = 0; i < 256; i++) table[i] = LevelGammaEntry(i, gamma);
    tableGamma = gamma;
  }
  auto map = [&](int c) {
    const int x = (c - minI) * 256 / rangeI;
    const int value = x < 0 ? table[0] : x > 255 ? table[255] : table[x];
    return outMinI + (value * outRangeI + 127) / 255;  // rounded: 255 stays 255
  };
  return ForEachPixel(source, output, [&](uint32_t in, uint32_t* out) {
    const Pixel p = Split(in);
    *out = Pack(map(p.b), map(p.g), map(p.r), p.a);
  });
}

int SoftFilterTwoColor(const BaseImageRecord* source, BaseImageRecord* output, float threshold, const float* dark,
                       const float* bright) {
  if (dark == nullptr || bright == nullptr) return -1;
  const int limit = static_cast<int>(threshold * 4096);
  const uint32_t darkPixel = ColorPixel(dark), brightPixel = ColorPixel(bright);
  return ForEachPixel(source, output, [&](uint32_t in, uint32_t* out) {
    *out = Luminance4096(Split(in)) < limit ? darkPixel : brightPixel;
  });
}

int SoftFilterGradientMap(const BaseImageRecord* source, BaseImageRecord* output, const BaseImageRecord* gradient,
                          int reverse) {
  if (!Usable(gradient) || gradient->width < 1 || gradient->height < 1) return -1;
  uint32_t table[256];
  const uint32_t* row = Row(gradient, 0);
  for (int i = 0; i < 256; i++) table[reverse != 0 ? 255 - i : i] = row[(i * gradient->width) >> 8];
  return ForEachPixel(source, output,
                      [&](uint32_t in, uint32_t* out) { *out = table[Luminance4096(Split(in)) >> 12]; });
}

int SoftFilterPremultipliedAlpha(const BaseImageRecord* source, BaseImageRecord* output) {
  return ForEachPixel(source, output, [](uint32_t in, uint32_t* out) {
    const Pixel p = Split(in);
    *out = Pack((p.b * p.a) >> 8, (p.g * p.a) >> 8, (p.r * p.a) >> 8, p.a);
  });
}

int SoftFilterInterpolatedAlpha(const BaseImageRecord* source, BaseImageRecord* output) {
  return ForEachPixel(source, output, [](uint32_t in, uint32_t* out) {
    const Pixel p = Split(in);
    if (p.a == 0) {
      *out = 0;
      return;
    }
    auto div = [&](int c) { return c * 255 / p.a > 255 ? 255 : c * 255 / p.a; };
    *out = Pack(div(p.b), div(p.g), div(p.r), p.a);
  });
}

int GaussKernelWidth(int pixelWidth) { return pixelWidth <= 8 ? 8 : pixelWidth <= 16 ? 16 : 32; }

const float* GaussWeights(int width, float strength) {
  if (strength < 1e-7f) return nullptr;
  GaussCache& c = GaussWeightCache;
  if (fabsf(c.strength - strength) <= 0.0002f && c.width == width) return c.weights;
  c.strength = strength;
  c.width = width;
  const int half = width / 2;
  double w[GAUSS_MAX_HALF];
  double sum = 0;
  for (int i = 0; i < half; i++) {
    w[i] = exp(-0.5 * i * i / strength);
    sum += i == 0 ? w[i] : 2 * w[i];
  }
  for (int i = 0; i < GAUSS_MAX_HALF; i++) c.weights[i] = i < half ? static_cast<float>(w[i] / sum) : 0.0f;
  return c.weights;
}

namespace {

// One Gauss direction: `count` lines of `length` pixels; step between the
// pixels of a line and between lines, in pixels, for input and output.
void GaussLine(const uint32_t* in, int inStep, uint32_t* out, int outStep, int length, const int* weights, int half) {
  for (int i = 0; i < length; i++) {
    int sum[4] = {0, 0, 0, 0};
    for (int j = 1; j < half; j++) {
      const int at[4] = {i - (2 * j - 1), i - 2 * j, i + 2 * j - 1, i + 2 * j};
      for (int k : at) {
        const uint32_t v = in[Clamp(k, 0, length - 1) * inStep];
        for (int ch = 0; ch < 4; ch++) sum[ch] += weights[j] * static_cast<int>((v >> (8 * ch)) & 255);
      }
    }
    const uint32_t centre = in[i * inStep];
    uint32_t result = 0;
    for (int ch = 0; ch < 4; ch++) {
      // Rounded, so that a uniform area keeps its value through both passes.
      const int v = ((sum[ch] >> 1) + weights[0] * static_cast<int>((centre >> (8 * ch)) & 255) + 0x8000) >> 16;
      result |= static_cast<uint32_t>(Clamp(v, 0, 255)) << (8 * ch);
    }
    out[i * outStep] = result;
  }
}

}  // namespace

int SoftFilterGauss(const BaseImageRecord* source, BaseImageRecord* output, int pixelWidth, float strength) {
  if (!Usable(source) || !Usable(output)) return -1;
  const int width = GaussKernelWidth(pixelWidth);
  const float* w = GaussWeights(width, strength);
  if (w == nullptr) {
    for (int y = 0; y < output->height; y++) memcpy(Row(output, y), Row(source, y), output->width * 4);
    return 0;
  }
  const int half = width / 2;
  int weights[GAUSS_MAX_HALF];
  for (int j = 0; j < half; j++) weights[j] = static_cast<int>(w[j] * 65536);
  BaseImageRecord work;
  if (CreateBaseImageARGB8(output->width, output->height, &work) < 0) return -1;
  const int pitchW = work.pitch / 4, pitchO = output->pitch / 4;
  for (int y = 0; y < output->height; y++) {
    GaussLine(Row(source, y), 1, Row(&work, y), 1, output->width, weights, half);
  }
  for (int x = 0; x < output->width; x++) {
    GaussLine(Row(&work, 0) + x, pitchW, Row(output, 0) + x, pitchO, output->height, weights, half);
  }
  ReleaseBaseImage(&work);
  return 0;
}

int DownScaleDivisor(int divisor) { return divisor <= 2 ? 2 : divisor <= 4 ? 4 : 8; }

int SoftFilterDownScale(const BaseImageRecord* source, BaseImageRecord* output, int divisor) {
  if (!Usable(source) || !Usable(output)) return -1;
  const int d = DownScaleDivisor(divisor);
  const int shift = d == 2 ? 2 : d == 4 ? 4 : 6;
  for (int y = 0; y < output->height; y++) {
    uint32_t* o = Row(output, y);
    for (int x = 0; x < output->width; x++) {
      int sum[4] = {0, 0, 0, 0};
      for (int by = 0; by < d; by++) {
        const uint32_t* s = Row(source, y * d + by) + x * d;
        for (int bx = 0; bx < d; bx++) {
          for (int ch = 0; ch < 4; ch++) sum[ch] += static_cast<int>((s[bx] >> (8 * ch)) & 255);
        }
      }
      o[x] = Pack(sum[0] >> shift, sum[1] >> shift, sum[2] >> shift, sum[3] >> shift);
    }
  }
  return 0;
}

namespace {

// Soft light's value for every blend and source byte, made once: the pow
// per channel costs more than the rest of the blend together.
struct SoftLightTable {
  uint8_t value[256][256];  // [blend][source]
  SoftLightTable() {
    for (int b = 0; b < 256; b++) {
      const double e = b < 128 ? 2 * (1 - b / 255.0) : 0.5 / (b / 255.0);
      for (int s = 0; s < 256; s++)
        value[b][s] = static_cast<uint8_t>(Clamp(static_cast<int>(pow(s / 255.0, e) * 255), 0, 255));
    }
  }
};

int SoftLight(int s, int b) {
  static const SoftLightTable table;
  return table.value[b][s];
}

// The blend value f of modes 0 and 2-13 for one channel.
int BlendChannel(int type, int s, int b) {
  switch (type) {
    case 0: return b;
    case 2: return (b * s) >> 8;
    case 3: return s - b > 0 ? s - b : 0;
    case 4: return s + b < 255 ? s + b : 255;
    case 5: return Clamp(255 - (((255 - b) * (255 - s)) >> 8), 0, 255);
    case 6:
    case 12: {
      const int select = type == 6 ? s : b;
      if (select < 128) return (2 * b * s) >> 8;
      const int v = ((((256 - s) * b + 256 * s) * 2) >> 8) - 255;
      return v < 255 ? v : 255;
    }
    case 7: return b == 255 ? 255 : Clamp((s << 8) / (255 - b), 0, 255);
    case 8: {
      const int v = ((s - 255) * 256) / (b + 1) + 255;
      return v > 0 ? v : 0;
    }
    case 9: return s < b ? s : b;
    case 10: return s > b ? s : b;
    case 11: return SoftLight(s, b);
    case 13: {
      const int v = (((128 - s) * b + 128 * s) * 2) >> 8;
      return v < 255 ? v : 255;
    }
    default: return s;
  }
}

}  // namespace

int SoftBlendBasic(const BaseImageRecord* source, const BaseImageRecord* blend, BaseImageRecord* output, int type,
                   float ratio) {
  if (!Usable(source) || !Usable(blend) || !Usable(output) || type < 0 || type > 16 || type == 1) return -1;
  const int r256 = static_cast<int>(ratio * 256);
  for (int y = 0; y < output->height; y++) {
    const uint32_t* sRow = Row(source, y);
    const uint32_t* bRow = Row(blend, y);
    uint32_t* o = Row(output, y);
    for (int x = 0; x < output->width; x++) {
      const Pixel s = Split(sRow[x]), b = Split(bRow[x]);
      const int sc[3] = {s.b, s.g, s.r}, bc[3] = {b.b, b.g, b.r};
      // The blend alpha on a 0..256 scale, so that an opaque blend graphic
      // at full ratio gives its own colours.
      const int blendAlpha = b.a + (b.a >> 7);
      int out[3];
      if (type <= 13) {
        const int k = blendAlpha * r256;
        for (int ch = 0; ch < 3; ch++) {
          out[ch] = ((BlendChannel(type, sc[ch], bc[ch]) - sc[ch]) * k + sc[ch] * 65536) >> 16;
        }
        o[x] = Pack(out[0], out[1], out[2], s.a);
      } else if (type == 14) {
        const int k = (blendAlpha * r256) >> 8;
        const unsigned total = static_cast<unsigned>(s.a * (256 - k) + k * 256);
        if (total == 0) continue;
        for (int ch = 0; ch < 3; ch++) {
          out[ch] = static_cast<int>(
              (static_cast<unsigned>(sc[ch] * s.a * (256 - k)) + static_cast<unsigned>(bc[ch] * k * 256)) / total);
        }
        o[x] = Pack(out[0], out[1], out[2], total >> 8 > 255 ? 255 : static_cast<int>(total >> 8));
      } else if (type == 15) {
        const int k = (blendAlpha * r256) >> 8;
        int a8 = ((256 - k) * s.a + k * 256) >> 8;
        if (a8 == 0) continue;
        if (a8 > 255) a8 = 255;
        for (int ch = 0; ch < 3; ch++) {
          const int v = (sc[ch] * s.a + bc[ch] * k) / a8;
          out[ch] = v < 255 ? v : 255;
        }
        o[x] = Pack(out[0], out[1], out[2], a8);
      } else {
        const int alpha = ((((b.a * s.a) >> 8) - s.a) * r256 * 255 + s.a * 65536) >> 16;
        o[x] = Pack(s.b, s.g, s.r, alpha);
      }
    }
  }
  return 0;
}

int SoftBlendRgbaMix(const BaseImageRecord* source, const BaseImageRecord* blend, BaseImageRecord* output, int red,
                     int green, int blue, int alpha) {
  if (!Usable(source) || !Usable(blend) || !Usable(output)) return -1;
  const int selectors[4] = {blue, green, red, alpha};  // output bytes in memory order
  static const int kShift[4] = {16, 8, 0, 24};         // selector's channel R, G, B, A
  for (int y = 0; y < output->height; y++) {
    const uint32_t* sRow = Row(source, y);
    const uint32_t* bRow = Row(blend, y);
    uint32_t* o = Row(output, y);
    for (int x = 0; x < output->width; x++) {
      uint32_t v = o[x];
      for (int k = 0; k < 4; k++) {
        const int sel = selectors[k];
        if (sel < 0 || sel > 7) continue;
        const uint32_t from = sel < 4 ? sRow[x] : bRow[x];
        const uint32_t channel = (from >> kShift[sel & 3]) & 255;
        v = (v & ~(255u << (8 * k))) | channel << (8 * k);
      }
      o[x] = v;
    }
  }
  return 0;
}
