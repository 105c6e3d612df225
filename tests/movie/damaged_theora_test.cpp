// Damaged Ogg Theora files: granule positions far ahead (page CRCs fixed),
// pictures of zero or oversized sides, cuts at every page boundary and
// seeded random flips. Each open ends within its limit, with a refusal or an
// index bounded by the file, and leaves no block in the allocator.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "DamagedMovies.h"
#include "LogCapture.h"
#include "MovieFixtures.h"
#include "TestFiles.h"
#include "ZiDezaru.h"

using movie_test::Bytes;
using movie_test::FixturePath;

namespace {

using movie_test::FixOggCrc;
using movie_test::OggPage;
using movie_test::OggPages;

Bytes PutGranule(const Bytes& b, const OggPage& p, uint64_t g) {
  Bytes out = movie_test::PutLE32(b, p.at + 6, static_cast<uint32_t>(g));
  return FixOggCrc(movie_test::PutLE32(out, p.at + 10, static_cast<uint32_t>(g >> 32)), p);
}

class DamagedTheora : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.reset(new test_support::LogCapture("damaged_theora"));
    folder_ = test_support::NewTempFolder("damaged_theora");
    const char* scale = getenv("RIDOV_TIME_SCALE");
    limitMs_ = 3000 * (scale != nullptr && atoi(scale) > 0 ? atoi(scale) : 1);
  }
  void TearDown() override {
    test_support::RemoveTree(folder_);
    log_.reset();
  }
  // Opens the bytes as a movie in time; 1 opened, 0 refused.
  int Open(const std::string& name, const Bytes& bytes) {
    SetupYuvToRgbTables();
    const std::string path = folder_ + "\\case.ogv";
    test_support::WriteFileBytes(path, bytes);
    const int before = GetAllocCount();
    StreamHandle s = FileStreamOpen(path.c_str(), 0, 1, 0);
    EXPECT_NE(s, 0u) << name;
    if (s == 0) return 0;
    const DWORD start = GetTickCount();
    TheoraDecoder* d = OpenTheoraMovie(GetFileAccessTable(), s, THEORA_MOVIE_STOCK_SIZE, 0);
    EXPECT_LT(GetTickCount() - start, static_cast<DWORD>(limitMs_)) << name;
    if (d != nullptr) {
      // An index no larger than the file's packets allow.
      EXPECT_GE(d->info.frame_width, 1u) << name;
      EXPECT_GE(d->info.frame_height, 1u) << name;
      EXPECT_LE(d->timeFrameCount, d->dataFrameCount + THEORA_GRANULE_GAP_LIMIT + 1) << name;
      EXPECT_LE(d->dataFrameCount, static_cast<int64_t>(bytes.size())) << name;
      CloseTheoraMovie(d);
    }
    FileStreamClose(s);
    EXPECT_EQ(GetAllocCount(), before) << name;
    return d != nullptr ? 1 : 0;
  }
  std::unique_ptr<test_support::LogCapture> log_;
  std::string folder_;
  int limitMs_ = 3000;
};

}  // namespace

TEST_F(DamagedTheora, GranulesFarAheadKeepTheIndexBounded) {
  for (const char* file : {"grey30.ogv", "withsound.ogv"}) {
    const Bytes ogv = test_support::ReadFileBytes(FixturePath(file));
    const std::vector<OggPage> pages = OggPages(ogv);
    ASSERT_GE(pages.size(), 4u) << file;
    for (size_t i = 0; i < pages.size(); i++) {
      for (uint64_t g : {0x7FFFFFFFull, 0x4000000000000000ull, 0xFFFFFFFFFFFFFFFEull}) {
        const std::string name = std::string(file) + " page " + std::to_string(i) + " granule " + std::to_string(g);
        Open(name, PutGranule(ogv, pages[i], g));
      }
    }
  }
}

TEST_F(DamagedTheora, PictureSidesAreChecked) {
  const Bytes ogv = test_support::ReadFileBytes(FixturePath("grey30.ogv"));
  const std::vector<OggPage> pages = OggPages(ogv);
  const size_t id = pages[0].at + 27 + ogv[pages[0].at + 26];  // identification packet
  ASSERT_EQ(memcmp(&ogv[id + 1], "theora", 6), 0);
  struct Row {
    const char* name;
    size_t at;
    std::vector<uint8_t> bytes;
    int opened;
  } rows[] = {
      {"picture width 0", id + 14, {0, 0, 0}, 0},
      {"picture height 0", id + 17, {0, 0, 0}, 0},
      {"frame of 64 x 1,048,560", id + 12, {0xFF, 0xFF}, 0},
      {"frame of 1,048,560 x 48", id + 10, {0xFF, 0xFF}, 0},
      {"undamaged", id, {0x80}, 1},
  };
  for (const Row& r : rows) {
    const int before = static_cast<int>(log_->Text().size());
    Bytes b = ogv;
    for (size_t k = 0; k < r.bytes.size(); k++) b[r.at + k] = r.bytes[k];
    EXPECT_EQ(Open(r.name, FixOggCrc(b, pages[0])), r.opened) << r.name;
    if (r.opened == 0 && r.at != id + 10 && r.at != id + 12) {
      EXPECT_NE(log_->Text().find("Theora ムービーの画像サイズが不正です", before), std::string::npos) << r.name;
    }
  }
}

TEST_F(DamagedTheora, CutsAndRandomFlips) {
  const Bytes ogv = test_support::ReadFileBytes(FixturePath("withsound.ogv"));
  const std::vector<OggPage> pages = OggPages(ogv);
  for (const OggPage& p : pages)
    for (int d : {-1, 0, 1, 30})
      if (p.at + d > 0 && p.at + d < ogv.size())
        Open("cut to " + std::to_string(p.at + d), movie_test::Cut(ogv, p.at + d));
  std::mt19937 random(4402);
  for (int i = 0; i < 20; i++) {
    Bytes b = ogv;
    std::string name = "flipped at";
    for (int k = 0; k < 2; k++) {
      const size_t at = random() % 400;
      b[at] = static_cast<uint8_t>(random());
      name += " " + std::to_string(at);
    }
    // With the CRC fixed the damage reaches the decoder.
    for (const OggPage& p : pages)
      if (p.at < 400) b = FixOggCrc(b, p);
    Open(name, b);
  }
}
