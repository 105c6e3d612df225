// Damaged images: every valid fixture is mutated many times (cuts, flipped
// bytes, odd sizes and counts in its header, inserted and removed bytes)
// and each mutant goes through the whole loader table. A load either fails
// with -1 or gives an image whose pixels lie inside its block; nothing
// crashes or hangs, and nothing stays allocated.
//
// RIDOV_IMAGE_MUTATIONS sets the mutants per fixture (default 3000); the
// seed is fixed, RIDOV_IMAGE_MUTATION_SEED changes it.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "ReReziRader.h"
#include "ZiDezaru.h"
#include "image_fixtures.h"

using namespace imgfix;

namespace {

int EnvNumber(const char* name, int fallback) {
  const char* text = getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return atoi(text);
}

// Header fields worth hitting with odd values, by format.
std::vector<size_t> FieldOffsets(const std::string& format) {
  if (format == "BMP") return {2, 10, 14, 18, 22, 26, 28, 30, 34, 46, 54, 58};
  if (format == "TGA") return {0, 1, 2, 3, 5, 7, 8, 10, 12, 14, 16, 17};
  if (format == "DDS") return {4, 8, 12, 16, 20, 28, 80, 84, 88, 92, 108, 112, 116};
  if (format == "PNG") return {8, 16, 20, 24, 25, 26, 28, 32, 33, 37, 41};
  if (format == "BGRA") return {4, 8, 12};
  return {2, 4, 6, 8, 10, 20, 40, 60, 80, 100, 140, 160};
}

// Recomputes the CRC of every whole PNG chunk, so that a mutant reaches
// the chunk's reader instead of failing its check.
void FixPngCrcs(Bytes& png) {
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t length = (static_cast<uint32_t>(png[at]) << 24) | (static_cast<uint32_t>(png[at + 1]) << 16) |
                            (static_cast<uint32_t>(png[at + 2]) << 8) | png[at + 3];
    if (length > png.size() - at - 12) break;
    const uint32_t crc = static_cast<uint32_t>(crc32(0, &png[at + 4], length + 4));
    for (int i = 0; i < 4; i++) png[at + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    at += 12 + length;
  }
}

struct Mutant {
  Bytes data;
  std::string how;
};

// Damages the inflated image data of a PNG (filter bytes, samples, length)
// and packs it again, so that libpng's row handling sees the damage.
bool MutatePngImageData(Bytes& png, std::mt19937& random) {
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t length = (static_cast<uint32_t>(png[at]) << 24) | (static_cast<uint32_t>(png[at + 1]) << 16) |
                            (static_cast<uint32_t>(png[at + 2]) << 8) | png[at + 3];
    if (length > png.size() - at - 12) return false;
    if (memcmp(&png[at + 4], "IDAT", 4) == 0) {
      Bytes raw(1 << 16);
      uLongf rawSize = static_cast<uLongf>(raw.size());
      if (uncompress(raw.data(), &rawSize, &png[at + 8], length) != Z_OK) return false;
      raw.resize(rawSize);
      switch (random() % 3) {
        case 0: raw.resize(random() % (raw.size() + 1)); break;
        case 1: raw.insert(raw.end(), 1 + random() % 32, static_cast<uint8_t>(random())); break;
        default:
          for (int i = 0; i < 3 && !raw.empty(); i++) raw[random() % raw.size()] = static_cast<uint8_t>(random());
          break;
      }
      uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
      Bytes packed(packedSize);
      compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6);
      packed.resize(packedSize);
      Bytes out(png.begin(), png.begin() + at);
      Append(out, PngChunk("IDAT", packed));
      out.insert(out.end(), png.begin() + at + 12 + length, png.end());
      png.swap(out);
      return true;
    }
    at += 12 + length;
  }
  return false;
}

Mutant Mutate(const ImageFixture& fixture, std::mt19937& random) {
  Mutant m{fixture.data, ""};
  Bytes& d = m.data;
  auto below = [&](size_t n) { return n == 0 ? static_cast<size_t>(0) : static_cast<size_t>(random() % n); };
  static const uint32_t odd32[] = {0,     1,          0xffffffffu, 0x7fffffffu, 0x80000000u, 16384, 16385, 65535,
                                   65536, 0x01000000, 0x10000000,  124,         125,         40,    12};
  static const uint32_t odd16[] = {0, 1, 0xffff, 0x7fff, 0x8000, 0x4000, 0x4001, 8192, 8193, 256, 255};
  const std::vector<size_t> fields = FieldOffsets(fixture.format);
  int steps = 1 + static_cast<int>(below(3));
  if (fixture.format == "PNG" && below(3) == 0 && MutatePngImageData(d, random)) {
    m.how += "image data; ";
    steps = static_cast<int>(below(2));
  }
  for (int step = 0; step < steps && !d.empty(); step++) {
    char note[96];
    switch (below(8)) {
      case 0: {  // cut
        const size_t length = below(d.size());
        d.resize(length);
        snprintf(note, sizeof(note), "cut at %u; ", static_cast<unsigned>(length));
        break;
      }
      case 1: {  // flipped bytes anywhere
        const size_t at = below(d.size());
        d[at] ^= static_cast<uint8_t>(1 + below(255));
        snprintf(note, sizeof(note), "flip %u; ", static_cast<unsigned>(at));
        break;
      }
      case 2: {  // a byte of the header area
        const size_t at = below(d.size() < 160 ? d.size() : 160);
        d[at] = static_cast<uint8_t>(random());
        snprintf(note, sizeof(note), "byte %u; ", static_cast<unsigned>(at));
        break;
      }
      case 3:
      case 4: {  // an odd 32- or 16-bit value on a field, either byte order
        size_t at = below(2) ? fields[below(fields.size())] : below(d.size() < 128 ? d.size() : 128);
        const bool wide = below(2) != 0;
        const uint32_t v = wide ? odd32[below(sizeof(odd32) / 4)] : odd16[below(sizeof(odd16) / 4)];
        const int bytes = wide ? 4 : 2;
        const bool bigEndian = below(2) != 0;
        for (int i = 0; i < bytes && at + i < d.size(); i++)
          d[at + i] = static_cast<uint8_t>(v >> (8 * (bigEndian ? bytes - 1 - i : i)));
        snprintf(note, sizeof(note), "value %08x at %u; ", v, static_cast<unsigned>(at));
        break;
      }
      case 5: {  // inserted bytes
        const size_t at = below(d.size() + 1);
        const size_t n = 1 + below(16);
        Bytes more(n);
        for (uint8_t& b : more) b = static_cast<uint8_t>(random());
        d.insert(d.begin() + at, more.begin(), more.end());
        snprintf(note, sizeof(note), "insert %u at %u; ", static_cast<unsigned>(n), static_cast<unsigned>(at));
        break;
      }
      case 6: {  // removed bytes
        const size_t at = below(d.size());
        const size_t n = 1 + below(16);
        d.erase(d.begin() + at, d.begin() + (at + n < d.size() ? at + n : d.size()));
        snprintf(note, sizeof(note), "erase %u at %u; ", static_cast<unsigned>(n), static_cast<unsigned>(at));
        break;
      }
      default: {  // a run of one value over part of the data
        const size_t at = below(d.size());
        const size_t n = 1 + below(64);
        const uint8_t v = below(2) ? 0xff : 0;
        for (size_t i = at; i < d.size() && i < at + n; i++) d[i] = v;
        snprintf(note, sizeof(note), "fill %u at %u; ", static_cast<unsigned>(n), static_cast<unsigned>(at));
        break;
      }
    }
    m.how += note;
  }
  if (fixture.format == "PNG" && below(2)) {
    FixPngCrcs(d);
    m.how += "CRCs fixed; ";
  }
  return m;
}

// A decoded image must describe memory inside its own pixel block.
::testing::AssertionResult ImageIsSound(BaseImageRecord* image) {
  if (image->pixels == nullptr) return ::testing::AssertionFailure() << "no pixels";
  if (image->width < 1 || image->height < 1 || image->width > IMAGE_LOAD_SIDE_MAX ||
      image->height > IMAGE_LOAD_SIDE_MAX)
    return ::testing::AssertionFailure() << "size " << image->width << " x " << image->height;
  const MemBlockHeader* block = reinterpret_cast<const MemBlockHeader*>(image->pixels) - 1;
  const int64_t blockSize = block->size;
  int64_t needed;
  if (image->format.kind != 0) {
    needed = GetBaseImageFaceStride(image) * (image->cubeFlag > 0 ? 6 : 1);
  } else {
    const int64_t row = static_cast<int64_t>(image->width) * image->format.bytesPerPixel;
    if (image->pitch < row) return ::testing::AssertionFailure() << "pitch " << image->pitch << " below " << row;
    needed = static_cast<int64_t>(image->pitch) * (image->height - 1) + row;
  }
  if (needed > blockSize)
    return ::testing::AssertionFailure() << "needs " << needed << " bytes, block has " << blockSize;
  // Reading pixels expands compressed images and walks the palette.
  const int xs[2] = {0, image->width - 1}, ys[2] = {0, image->height - 1};
  for (int x : xs)
    for (int y : ys) {
      int r, g, b, a;
      if (GetBaseImagePixelRGBA(image, x, y, &r, &g, &b, &a) != 0)
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") unreadable";
    }
  return ::testing::AssertionSuccess();
}

std::string SaveMutant(const Bytes& data, const std::string& name) {
  char base[MAX_PATH];
  GetTempPathA(sizeof(base), base);
  std::string path = std::string(base) + "ridov_mutant_" + name;
  for (char& c : path)
    if (c == ' ') c = '_';
  FILE* file = fopen(path.c_str(), "wb");
  if (file != nullptr) {
    fwrite(data.data(), 1, data.size(), file);
    fclose(file);
  }
  return path;
}

class ImageMutationTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ImageMutationTest, MutantsFailCleanlyOrDecodeSoundly) {
  const std::string format = GetParam();
  const int perFixture = EnvNumber("RIDOV_IMAGE_MUTATIONS", 3000);
  const int seed = EnvNumber("RIDOV_IMAGE_MUTATION_SEED", 20240611);
  std::vector<ImageFixture> fixtures;
  for (ImageFixture& f : AllFixtures())
    if (f.format == format) fixtures.push_back(f);
  ASSERT_FALSE(fixtures.empty());

  const int allocCount = GetAllocCount();
  int decoded = 0, refused = 0;
  for (const ImageFixture& fixture : fixtures) {
    std::mt19937 random(static_cast<uint32_t>(seed) ^ static_cast<uint32_t>(std::hash<std::string>()(fixture.name)));
    for (int round = 0; round < perFixture; round++) {
      Mutant m = Mutate(fixture, random);
      BaseImageRecord image;
      const DWORD start = GetTickCount();
      int result;
      if (round % 200 == 199) {
        // Now and then through a file, for the file streams.
        const std::string path = SaveMutant(m.data, "file");
        result = LoadImageToBaseImage(path.c_str(), nullptr, 0, 0, &image, 0);
        DeleteFileA(path.c_str());
      } else {
        result = LoadFromMemory(m.data, &image);
      }
      const DWORD took = GetTickCount() - start;
      if (result == 0) {
        decoded++;
        EXPECT_TRUE(ImageIsSound(&image))
            << fixture.name << ": " << m.how << " saved as " << SaveMutant(m.data, fixture.name);
        ReleaseBaseImage(&image);
      } else {
        refused++;
        ASSERT_EQ(-1, result) << fixture.name << ": " << m.how;
        ASSERT_EQ(nullptr, image.pixels);
      }
      EXPECT_LT(took, 2000u) << fixture.name << ": " << m.how << " took " << took << " ms, saved as "
                             << SaveMutant(m.data, fixture.name);
      if (HasFailure()) return;
    }
    CheckAllAllocHeaders();
  }
  EXPECT_EQ(allocCount, GetAllocCount()) << "blocks left behind";
  EXPECT_GT(refused, 0);
  printf("[ mutation ] %s: %d fixtures x %d mutants, %d decoded, %d refused\n", format.c_str(),
         static_cast<int>(fixtures.size()), perFixture, decoded, refused);
}

INSTANTIATE_TEST_SUITE_P(Formats, ImageMutationTest, ::testing::Values("BMP", "TGA", "DDS", "PNG", "JPEG", "BGRA"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// Cut at every length: each prefix of each fixture loads or fails cleanly.
TEST(ImageTruncation, EveryPrefixOfEveryFixture) {
  const int allocCount = GetAllocCount();
  for (const ImageFixture& fixture : AllFixtures()) {
    SCOPED_TRACE(fixture.name);
    for (size_t length = 0; length < fixture.data.size(); length++) {
      Bytes cut(fixture.data.begin(), fixture.data.begin() + length);
      BaseImageRecord image;
      const int result = LoadFromMemory(cut, &image);
      if (result == 0) {
        EXPECT_TRUE(ImageIsSound(&image)) << length;
        ReleaseBaseImage(&image);
      } else {
        ASSERT_EQ(-1, result) << length;
      }
    }
  }
  CheckAllAllocHeaders();
  EXPECT_EQ(allocCount, GetAllocCount()) << "blocks left behind";
}

}  // namespace
