// The Theora decoder: recognition, the index, the decode thread's stock,
// stepping and looping against a sequential decode, seeking, information,
// and the colour conversion of the picture rectangle.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "MovieFixtures.h"

using movie_test::FixturePath;
using movie_test::FrameOfGrey;
using movie_test::ImageBytes;
using movie_test::OpenedMovie;

namespace {

// Waits (bounded) until the predicate holds under the decoder's lock.
template <typename Predicate>
bool WaitUnderLock(TheoraDecoder* d, Predicate predicate) {
  for (int i = 0; i < 5000; i++) {
    ENTER_LOCK(&d->lock);
    bool ok = predicate(d);
    LeaveLock(&d->lock);
    if (ok) return true;
    Sleep(1);
  }
  return false;
}

std::vector<int> StockFrames(TheoraDecoder* d) {
  std::vector<int> frames;
  ENTER_LOCK(&d->lock);
  for (int i = 0; i < d->stockSize; i++)
    if (d->stock[i].used) frames.push_back(d->stock[i].frame);
  LeaveLock(&d->lock);
  std::sort(frames.begin(), frames.end());
  return frames;
}

std::vector<int> Range(int from, int to) {
  std::vector<int> r;
  for (int i = from; i < to; i++) r.push_back(i);
  return r;
}

bool IsFull(TheoraDecoder* d) { return d->threadState == THEORA_THREAD_FULL; }

}  // namespace

TEST(TheoraOpen, NonOggInputIsRefusedAfterFourBytes) {
  StreamHandle s = FileStreamOpen(FixturePath("notogg.bin").c_str(), 0, 1, 0);
  ASSERT_NE(s, 0u);
  EXPECT_EQ(OpenTheoraMovie(GetFileAccessTable(), s, 10, 0), nullptr);
  EXPECT_EQ(FileStreamTell(s), 4);
  FileStreamClose(s);
}

TEST(TheoraOpen, VorbisFileIsRefusedQuietly) {
  test_support::LogCapture log("theora_vorbis");
  OpenedMovie movie("vorbis.ogg");
  ASSERT_NE(movie.stream, 0u);
  EXPECT_EQ(movie.decoder, nullptr);
  EXPECT_EQ(log.Text().find("Theora"), std::string::npos) << log.Text();
}

TEST(TheoraOpen, NFrameClipsGiveNFrames) {
  struct Case {
    const char* file;
    int frames;
  } cases[] = {{"grey30.ogv", 30}, {"f1000.ogv", 1000}, {"f1001.ogv", 1001}, {"withsound.ogv", 30}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    OpenedMovie movie(c.file);
    ASSERT_NE(movie.decoder, nullptr);
    TheoraMovieInfo info;
    GetTheoraMovieInfo(movie.decoder, &info);
    EXPECT_EQ(info.timeFrameCount, c.frames);
    EXPECT_EQ(movie.decoder->dataFrameCount, c.frames);
    EXPECT_EQ(movie.decoder->pages[0].offset, 0);
    int framesInPages = 0;
    for (int i = 0; i < movie.decoder->pageCount; i++) framesInPages += movie.decoder->pages[i].frameCount;
    EXPECT_EQ(framesInPages, c.frames);
    for (int t = 0; t < c.frames; t++) ASSERT_EQ(movie.decoder->timeMap[t], static_cast<uint32_t>(t));
    EXPECT_EQ(movie.decoder->keyFlags[0], 1);
    // The tables grow in steps of 1000 entries: 1000 frames fit, 1001 grow them.
    EXPECT_EQ(movie.decoder->timeMapCapacity, c.frames > 1000 ? 2000 : 1000);
    EXPECT_EQ(movie.decoder->keyCapacity, c.frames > 1000 ? 2000 : 1000);
    EXPECT_EQ(GetTheoraCurrentFrame(movie.decoder), 0);
  }
}

TEST(TheoraOpen, InformationAndExactFrameRate) {
  OpenedMovie ntsc("ntsc.ogv");
  ASSERT_NE(ntsc.decoder, nullptr);
  TheoraMovieInfo info;
  GetTheoraMovieInfo(ntsc.decoder, &info);
  EXPECT_EQ(info.frameRate, 30000.0 / 1001.0);
  EXPECT_EQ(info.width, 32);
  EXPECT_EQ(info.height, 32);
  EXPECT_EQ(info.timeFrameCount, 5);
}

TEST(TheoraOpen, CloseWhileTheThreadIsHeld) {
  OpenedMovie movie("grey30.ogv");
  ASSERT_NE(movie.decoder, nullptr);
  TheoraDecoder* d = movie.decoder;
  ENTER_LOCK(&d->lock);
  d->holdRequest = 1;
  LeaveLock(&d->lock);
  ASSERT_TRUE(WaitUnderLock(d, [](TheoraDecoder* x) { return x->threadState == THEORA_THREAD_HELD; }));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CloseTheoraMovie(d), 0);
  movie.decoder = nullptr;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(TheoraStock, FillsThenIsFullAndSteppingFreesTheOldest) {
  OpenedMovie movie("grey30.ogv");
  ASSERT_NE(movie.decoder, nullptr);
  TheoraDecoder* d = movie.decoder;
  ASSERT_TRUE(WaitUnderLock(d, [](TheoraDecoder* x) { return IsFull(x) && x->stock[9].used; }));
  EXPECT_EQ(StockFrames(d), Range(0, 10));
  EXPECT_EQ(FrameOfGrey(GetTheoraBaseImage(d)), 0);

  AdvanceTheoraFrame(d, 1);
  ASSERT_EQ(FetchTheoraFrame(d, 1, 0, 0), 1);
  EXPECT_EQ(FrameOfGrey(GetTheoraBaseImage(d)), 1);
  ASSERT_TRUE(WaitUnderLock(d, [](TheoraDecoder* x) {
    bool has10 = false;
    for (int i = 0; i < x->stockSize; i++) has10 |= x->stock[i].used && x->stock[i].frame == 10;
    return IsFull(x) && has10;
  }));
  EXPECT_EQ(StockFrames(d), Range(1, 11));
  // Nothing new asked: no delivery, no wait.
  EXPECT_EQ(FetchTheoraFrame(d, 1, 0, 0), 0);
}

TEST(TheoraStock, AJumpOfMoreThanTheStockDecodesInOneCall) {
  OpenedMovie movie("grey30.ogv");
  ASSERT_NE(movie.decoder, nullptr);
  TheoraDecoder* d = movie.decoder;
  ASSERT_TRUE(WaitUnderLock(d, [](TheoraDecoder* x) { return IsFull(x) && x->stock[9].used; }));
  long restartsBefore = d->restarts;
  ENTER_LOCK(&d->lock);
  d->longestDecode = 0;
  LeaveLock(&d->lock);
  AdvanceTheoraFrame(d, 16);  // wanted 16, decoder at 9
  ASSERT_EQ(FetchTheoraFrame(d, 1, 0, 0), 1);
  EXPECT_EQ(FrameOfGrey(GetTheoraBaseImage(d)), 16);
  // One call brought the decoder from 9 to 16; no restart.
  EXPECT_EQ(d->longestDecode, 7);
  EXPECT_EQ(d->restarts, restartsBefore);
  ASSERT_TRUE(WaitUnderLock(d, [](TheoraDecoder* x) { return IsFull(x); }));
  EXPECT_EQ(StockFrames(d), Range(16, 26));
}

// Looping five times, by steps of 1 and by other steps across the loop
// point, gives exactly the pictures of a sequential decode.
TEST(TheoraStock, LoopingEqualsASequentialDecode) {
  std::vector<std::vector<uint8_t>> reference;
  {
    OpenedMovie first("grey30.ogv");
    ASSERT_NE(first.decoder, nullptr);
    for (int i = 0; i < 30; i++) {
      if (i > 0) {  // the open delivered frame 0
        AdvanceTheoraFrame(first.decoder, 1);
        ASSERT_EQ(FetchTheoraFrame(first.decoder, 1, 0, 0), 1) << i;
      }
      reference.push_back(ImageBytes(GetTheoraBaseImage(first.decoder)));
      ASSERT_EQ(FrameOfGrey(GetTheoraBaseImage(first.decoder)), i);
    }
  }
  auto start = std::chrono::steady_clock::now();
  for (int stepSize : {1, 7}) {
    SCOPED_TRACE(stepSize);
    OpenedMovie movie("grey30.ogv");
    ASSERT_NE(movie.decoder, nullptr);
    int frame = 0;
    for (int k = 0; k < 150 / stepSize; k++) {
      AdvanceTheoraFrame(movie.decoder, stepSize);
      frame = (frame + stepSize) % 30;
      ASSERT_EQ(GetTheoraCurrentFrame(movie.decoder), frame);
      ASSERT_EQ(FetchTheoraFrame(movie.decoder, 1, 0, 0), 1) << "step " << k;
      ASSERT_EQ(ImageBytes(GetTheoraBaseImage(movie.decoder)), reference[frame]) << "frame " << frame;
    }
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(TheoraSeek, ClampsBelowZeroAndPastTheEnd) {
  OpenedMovie movie("grey30.ogv");
  ASSERT_NE(movie.decoder, nullptr);
  TheoraDecoder* d = movie.decoder;
  struct Case {
    int target, frame;
  } cases[] = {{12, 12}, {-5, 0}, {30, 29}, {3, 3}, {1000, 29}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    EXPECT_EQ(SeekTheoraMovie(d, c.target), 0);
    EXPECT_EQ(GetTheoraCurrentFrame(d), c.frame);
    ASSERT_EQ(FetchTheoraFrame(d, 1, 0, 0), 1);
    EXPECT_EQ(FrameOfGrey(GetTheoraBaseImage(d)), c.frame);
  }
  // The frame already wanted: nothing held, nothing to deliver.
  EXPECT_EQ(SeekTheoraMovie(d, 45), 0);
  EXPECT_EQ(GetTheoraCurrentFrame(d), 29);
  EXPECT_EQ(FetchTheoraFrame(d, 1, 0, 0), 0);
  // Stepping from the last frame wraps to the first.
  SeekTheoraMovie(d, 29);
  AdvanceTheoraFrame(d, 1);
  EXPECT_EQ(GetTheoraCurrentFrame(d), 0);
  ASSERT_EQ(FetchTheoraFrame(d, 1, 0, 0), 1);
  EXPECT_EQ(FrameOfGrey(GetTheoraBaseImage(d)), 0);
}

// ---- Conversion ----

namespace {

// A 4 x 4 frame (4:2:0, or 4:4:4 with full chroma) of one Y, U and V value.
struct Planes {
  std::vector<uint8_t> y, u, v;
  TheoraStockFrame frame{};
  Planes(int yv, int uv, int vv, bool full) {
    int cw = full ? 4 : 2;
    y.assign(16, static_cast<uint8_t>(yv));
    u.assign(cw * cw, static_cast<uint8_t>(uv));
    v.assign(cw * cw, static_cast<uint8_t>(vv));
    frame.yCopy = y.data();
    frame.uCopy = u.data();
    frame.vCopy = v.data();
    frame.yWidth = frame.yHeight = frame.yStride = 4;
    frame.uvWidth = frame.uvHeight = frame.uvStride = cw;
  }
};

}  // namespace

TEST(TheoraConvert, BlackWhiteAndClampsOnBothPaths) {
  SetupYuvToRgbTables();
  struct Case {
    int y, u, v;
    int b, g, r;
  } cases[] = {
      {16, 128, 128, 0, 0, 0},
      {235, 128, 128, 254, 254, 254},
      {0, 128, 0, -1, -1, 0},        // red sum negative: clamped to 0
      {255, 255, 128, 255, -1, -1},  // blue sum above 255: clamped
  };
  for (const Case& c : cases) {
    for (bool full : {false, true}) {
      SCOPED_TRACE(::testing::Message() << c.y << "," << c.u << "," << c.v << (full ? " general" : " integer"));
      Planes p(c.y, c.u, c.v, full);
      BaseImageRecord image{};
      ASSERT_EQ(CreateBaseImageXRGB8(4, 4, &image), 0);
      ConvertTheoraPlanes(&p.frame, 0, 0, &image);
      const uint8_t* px = static_cast<const uint8_t*>(image.pixels) + image.pitch * 3 + 12;
      if (c.b >= 0) {
        EXPECT_EQ(px[0], c.b);
      }
      if (c.g >= 0) {
        EXPECT_EQ(px[1], c.g);
      }
      if (c.r >= 0) {
        EXPECT_EQ(px[2], c.r);
      }
      EXPECT_EQ(px[3], 255);
      ReleaseBaseImage(&image);
    }
  }
}

// The integer path against the floating-point formula over a sweep of values.
TEST(TheoraConvert, IntegerPathFollowsTheFormula) {
  SetupYuvToRgbTables();
  for (int y = 0; y < 256; y += 17)
    for (int u = 0; u < 256; u += 15)
      for (int v = 0; v < 256; v += 15) {
        Planes p(y, u, v, false);
        BaseImageRecord image{};
        ASSERT_EQ(CreateBaseImageXRGB8(4, 4, &image), 0);
        ConvertTheoraPlanes(&p.frame, 0, 0, &image);
        const uint8_t* px = static_cast<const uint8_t*>(image.pixels);
        double l = 1.164 * (y - 16);
        auto lim = [](double x) { return x < 0 ? 0.0 : (x > 255 ? 255.0 : x); };
        EXPECT_NEAR(px[2], lim(l + 1.596 * (v - 128)), 1.01);
        EXPECT_NEAR(px[1], lim(l - 0.391 * (u - 128) - 0.813 * (v - 128)), 1.01);
        EXPECT_NEAR(px[0], lim(l + 2.018 * (u - 128)), 1.01);
        ReleaseBaseImage(&image);
      }
}

// A 50 x 30 picture inside its 64 x 32 encoded frame: the image is the
// picture, each quadrant its own luma.
TEST(TheoraConvert, OddSizedClipShowsItsOwnPicture) {
  OpenedMovie movie("odd50x30.ogv");
  ASSERT_NE(movie.decoder, nullptr);
  TheoraMovieInfo info;
  GetTheoraMovieInfo(movie.decoder, &info);
  EXPECT_EQ(info.width, 50);
  EXPECT_EQ(info.height, 30);
  EXPECT_EQ(movie.decoder->info.width, 64u);
  EXPECT_EQ(movie.decoder->info.height, 32u);
  BaseImageRecord* image = GetTheoraBaseImage(movie.decoder);
  ASSERT_EQ(image->width, 50);
  ASSERT_EQ(image->height, 30);
  struct Corner {
    int x, y, luma;
  } corners[] = {{2, 2, 40}, {47, 2, 100}, {2, 27, 160}, {47, 27, 220}, {49, 29, 220}, {0, 0, 40}};
  for (const Corner& c : corners) {
    SCOPED_TRACE(::testing::Message() << c.x << "," << c.y);
    int g = static_cast<const uint8_t*>(image->pixels)[c.y * image->pitch + c.x * 4 + 1];
    EXPECT_NEAR(g, 1.164 * (c.luma - 16), 8);
  }
}
