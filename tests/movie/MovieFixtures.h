// Paths of the movie fixtures and small helpers shared by the movie tests.
#ifndef MOVIE_FIXTURES_H
#define MOVIE_FIXTURES_H

#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "MuVevire.h"

namespace movie_test {

inline std::string FixturePath(const char* name) {
  const char* dir = getenv("RIDOV_MOVIE_FIXTURES");
  return std::string(dir != nullptr ? dir : ".") + "/" + name;
}

// Opens the fixture on a library stream; the decoder or null.
struct OpenedMovie {
  StreamHandle stream = 0;
  TheoraDecoder* decoder = nullptr;
  explicit OpenedMovie(const char* name) {
    SetupYuvToRgbTables();
    stream = FileStreamOpen(FixturePath(name).c_str(), 0, 1, 0);
    if (stream != 0) decoder = OpenTheoraMovie(GetFileAccessTable(), stream, THEORA_MOVIE_STOCK_SIZE, 0);
  }
  ~OpenedMovie() {
    if (decoder != nullptr) CloseTheoraMovie(decoder);
    if (stream != 0) FileStreamClose(stream);
  }
  OpenedMovie(const OpenedMovie&) = delete;
  OpenedMovie& operator=(const OpenedMovie&) = delete;
};

inline std::vector<uint8_t> ImageBytes(const BaseImageRecord* image) {
  const uint8_t* p = static_cast<const uint8_t*>(image->pixels);
  std::vector<uint8_t> out;
  for (int y = 0; y < image->height; y++)
    out.insert(out.end(), p + y * image->pitch, p + y * image->pitch + image->width * 4);
  return out;
}

// Mean green of the image: the grey fixtures' frame n has luma 16 + 6 n, so
// green is about 1.164 x 6 n.
inline double MeanGreen(const BaseImageRecord* image) {
  const uint8_t* p = static_cast<const uint8_t*>(image->pixels);
  double sum = 0;
  for (int y = 0; y < image->height; y++)
    for (int x = 0; x < image->width; x++) sum += p[y * image->pitch + x * 4 + 1];
  return sum / (image->width * image->height);
}

inline int FrameOfGrey(const BaseImageRecord* image) { return static_cast<int>(MeanGreen(image) / (1.164 * 6) + 0.5); }

}  // namespace movie_test

#endif  // MOVIE_FIXTURES_H
