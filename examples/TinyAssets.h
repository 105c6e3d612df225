// Tiny files the examples write at start-up and then load, so that they need
// no data of their own: a 24-bit BMP painted by a function of (x, y) giving
// 0xRRGGBB, and a 16-bit mono WAV of a sine tone. Plain C library only.
#ifndef RIDOV_EXAMPLES_TINY_ASSETS_H
#define RIDOV_EXAMPLES_TINY_ASSETS_H

#include <math.h>
#include <stdio.h>

inline void PutLittleEndian(FILE* file, unsigned value, int bytes) {
  for (int i = 0; i < bytes; i++) fputc(static_cast<int>((value >> (8 * i)) & 0xFF), file);
}

// Black (0x000000) is the colour the library treats as transparent.
inline bool WriteBmp(const char* path, int width, int height, unsigned (*color)(int x, int y)) {
  FILE* file = fopen(path, "wb");
  if (file == nullptr) return false;
  const unsigned rowBytes = (static_cast<unsigned>(width) * 3 + 3) & ~3u;
  const unsigned dataBytes = rowBytes * static_cast<unsigned>(height);
  fputs("BM", file);
  PutLittleEndian(file, 54 + dataBytes, 4);
  PutLittleEndian(file, 0, 4);
  PutLittleEndian(file, 54, 4);  // file header, then the 40-byte info header
  PutLittleEndian(file, 40, 4);
  PutLittleEndian(file, static_cast<unsigned>(width), 4);
  PutLittleEndian(file, static_cast<unsigned>(height), 4);
  PutLittleEndian(file, 1, 2);   // planes
  PutLittleEndian(file, 24, 2);  // bits per pixel
  PutLittleEndian(file, 0, 4);   // no compression
  PutLittleEndian(file, dataBytes, 4);
  for (int i = 0; i < 4; i++) PutLittleEndian(file, 0, 4);                  // resolution and palette
  for (int y = height - 1; y >= 0; y--) {                                   // bottom row first
    for (int x = 0; x < width; x++) PutLittleEndian(file, color(x, y), 3);  // B, G, R
    for (unsigned pad = static_cast<unsigned>(width) * 3; pad < rowBytes; pad++) fputc(0, file);
  }
  return fclose(file) == 0;
}

inline bool WriteToneWav(const char* path, double hertz, int milliseconds) {
  FILE* file = fopen(path, "wb");
  if (file == nullptr) return false;
  const unsigned rate = 22050, samples = rate * static_cast<unsigned>(milliseconds) / 1000;
  fputs("RIFF", file);
  PutLittleEndian(file, 36 + samples * 2, 4);
  fputs("WAVEfmt ", file);
  PutLittleEndian(file, 16, 4);
  PutLittleEndian(file, 1, 2);  // PCM
  PutLittleEndian(file, 1, 2);  // mono
  PutLittleEndian(file, rate, 4);
  PutLittleEndian(file, rate * 2, 4);
  PutLittleEndian(file, 2, 2);
  PutLittleEndian(file, 16, 2);
  fputs("data", file);
  PutLittleEndian(file, samples * 2, 4);
  for (unsigned i = 0; i < samples; i++) {
    const double wave = sin(2 * 3.14159265358979 * hertz * i / rate);
    PutLittleEndian(file, static_cast<unsigned>(static_cast<int>(wave * 12000)) & 0xFFFF, 2);
  }
  return fclose(file) == 0;
}

#endif  // RIDOV_EXAMPLES_TINY_ASSETS_H
