// The DirectShow road of the movies in the platform's filter graph (Wine's
// quartz with the GStreamer decoders): frames of ffmpeg-made AVI files reach
// the frame callback equal (within a tolerance) to ffmpeg's own decode, the
// end of the movie loops or stops, a file inside an archive plays from a
// temporary copy made in 1 MB pieces and deleted with the handle, files no
// road can play give -1 and their log lines, and open / close loops leave
// nothing behind.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "ArchivePacker.h"
#include "LogCapture.h"
#include "MovieFixtures.h"
#include "PackerSamples.h"
#include "RaRadaraSystem.h"
#include "RoRezedur_.h"
#include "TestFiles.h"
#include "ZiDezaru.h"
#include "ZoRevOStrmBaseFilter.h"

using movie_test::FixturePath;

namespace {

constexpr int kWidth = 64, kHeight = 48, kFrames = 30;

// ffmpeg's decode of a fixture: kFrames frames of B, G, R, 0, top row first.
std::vector<uint8_t> Reference(const char* name) {
  std::vector<uint8_t> bytes;
  FILE* f = fopen(FixturePath(name).c_str(), "rb");
  if (f == nullptr) return bytes;
  bytes.resize(kWidth * kHeight * 4 * kFrames);
  bytes.resize(fread(bytes.data(), 1, bytes.size(), f));
  fclose(f);
  return bytes;
}

// Mean absolute difference of the image against reference frame n (B, G, R).
double Difference(const BaseImageRecord* image, const std::vector<uint8_t>& reference, int n) {
  const int bytes = image->format.bytesPerPixel;
  double sum = 0;
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) {
      const uint8_t* p = static_cast<const uint8_t*>(image->pixels) + y * image->pitch + x * bytes;
      const uint8_t* r = &reference[((n * kHeight + y) * kWidth + x) * 4];
      for (int c = 0; c < 3; c++) sum += abs(p[c] - r[c]);
    }
  return sum / (kWidth * kHeight * 3);
}

// What the frame callback saw: for each new frame, the closest reference
// frame and its difference.
struct Seen {
  int frame;
  double difference;
};
std::vector<Seen> SeenFrames;
const std::vector<uint8_t>* CurrentReference = nullptr;

void MatchFrame(MovieRecord* m, uint32_t) {
  const BaseImageRecord* image = m->currentImage;
  if (image == nullptr || image->pixels == nullptr || image->width != kWidth || image->height != kHeight) {
    SeenFrames.push_back({-1, 999});
    return;
  }
  Seen best = {-1, 1e9};
  for (int n = 0; n < kFrames; n++) {
    const double d = Difference(image, *CurrentReference, n);
    if (d < best.difference) best = {n, d};
  }
  SeenFrames.push_back(best);
}

std::vector<DWORD> Writes;
DWORD ShortWriteAt = 0;  // 1-based write that comes back short; 0 none
BOOL CountingWrite(HANDLE file, const void* data, DWORD size, DWORD* written) {
  Writes.push_back(size);
  if (ShortWriteAt == Writes.size()) size /= 2;
  return WriteFile(file, data, size, written, nullptr);
}

int TempFileCount() {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((std::string(folder) + "tmp*.tmp").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do count++;
  while (FindNextFileA(find, &data));
  FindClose(find);
  return count;
}

class MovieGraphRoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    LoadSystemLibraries();
    InitializeCom();
    StartArchiveLayer();
    SetupFileStreamFunctions(GetArchiveFileFunctions());
  }
  static void TearDownTestSuite() {
    SetupFileStreamFunctions(nullptr);
    EndArchiveLayer();
    TerminateCom();
    FreeSystemLibraries();
  }
  void SetUp() override {
    ASSERT_EQ(SetupMovieHandleType(), 0);
    SeenFrames.clear();
    Writes.clear();
    ShortWriteAt = 0;
    SetMovieTempFileWriter(CountingWrite);
  }
  void TearDown() override {
    EXPECT_EQ(EndMovieSystem(), 0);
    SetMovieTempFileWriter(nullptr);
  }
  int Open(const std::string& path) {
    MovieLoadSettings settings = {0, 0};
    return CreateMovieFromFile(&settings, path.c_str(), nullptr, nullptr, 0, 0);
  }
  // Plays the movie, refreshing every 5 ms until it ends (or 5 s pass).
  void PlayToTheEnd(int handle, int playType) {
    ASSERT_EQ(StartMoviePlayback(handle, playType, 0), 0);
    MovieRecord* m = GetMovieRecord(handle);
    for (int i = 0; i < 1000 && !m->stopped; i++) {
      RefreshMovieFrame(handle, 0);
      Sleep(5);
    }
  }
};

}  // namespace

// Raw BGR24 and Motion JPEG through the graph: frames arrive in order and
// each equals ffmpeg's decode of its frame within the tolerance.
TEST_F(MovieGraphRoad, FramesMatchAnIndependentDecode) {
  struct Case {
    const char* file;
    const char* reference;
    double tolerance;  // mean absolute difference per channel
  } cases[] = {{"raw30.avi", "raw30.bgr0", 0.5}, {"mjpeg30.avi", "mjpeg30.bgr0", 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::vector<uint8_t> reference = Reference(c.reference);
    ASSERT_EQ(reference.size(), static_cast<size_t>(kWidth * kHeight * 4 * kFrames));
    CurrentReference = &reference;
    SeenFrames.clear();
    test_support::LogCapture log("movie_graph");
    int w = 0, h = 0;
    MovieLoadSettings settings = {0, 0};
    const int handle = CreateMovieFromFile(&settings, FixturePath(c.file).c_str(), &w, &h, 0, 0);
    ASSERT_GE(handle, 0) << log.Text();
    MovieRecord* m = GetMovieRecord(handle);
    EXPECT_EQ(m->theoraFlag, 0);
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);
    EXPECT_GT(m->stopPosition, 0);
    EXPECT_EQ(m->stopped, 1);
    EXPECT_EQ(m->currentImage, &m->frameImage);
    const int format = GetMovieFrameFormat(m);
    EXPECT_TRUE(format >= 0 && format <= 7) << format;
    SetMovieFrameCallback(handle, MatchFrame, 0);
    PlayToTheEnd(handle, 1);
    EXPECT_EQ(m->stopped, 1);
    EXPECT_EQ(m->playWanted, 0);
    ASSERT_GE(SeenFrames.size(), 5u) << "format " << format;
    int last = -1;
    for (const Seen& s : SeenFrames) {
      EXPECT_GE(s.frame, last) << "frames out of order";
      EXPECT_LE(s.difference, c.tolerance) << "frame " << s.frame << ", format " << format;
      last = s.frame;
    }
    EXPECT_EQ(last, kFrames - 1);
    EXPECT_EQ(DeleteHandle(handle), 0);
  }
}

// With the loop bit the graph goes back to the start at its stop position.
TEST_F(MovieGraphRoad, LoopStartsAgainFromTheBeginning) {
  const std::vector<uint8_t> reference = Reference("raw30.bgr0");
  CurrentReference = &reference;
  const int handle = Open(FixturePath("raw30.avi"));
  ASSERT_GE(handle, 0);
  SetMovieFrameCallback(handle, MatchFrame, 0);
  ASSERT_EQ(StartMoviePlayback(handle, 3, 0), 0);
  MovieRecord* m = GetMovieRecord(handle);
  bool wrapped = false;
  for (int i = 0; i < 600 && !wrapped; i++) {
    RefreshMovieFrame(handle, 0);
    for (size_t k = 1; k < SeenFrames.size(); k++)
      if (SeenFrames[k].frame < SeenFrames[k - 1].frame) wrapped = true;
    Sleep(5);
  }
  EXPECT_TRUE(wrapped);
  EXPECT_EQ(m->stopped, 0);
  EXPECT_EQ(m->playWanted, 1);
  EXPECT_EQ(DeleteHandle(handle), 0);
}

// A movie inside an archive: DirectShow cannot open it by name, so it plays
// from a temporary copy written in 1 MB pieces, as long as the file and
// deleted with the handle.
TEST_F(MovieGraphRoad, FileInsideAnArchivePlaysFromATemporaryCopy) {
  const std::string dir = test_support::NewTempFolder("movie_archive");
  const std::vector<uint8_t> movie = test_support::ReadFileBytes(FixturePath("raw280.avi"));
  ASSERT_EQ(movie.size(), 2592962u);
  std::vector<uint8_t> archive;
  std::string error;
  ASSERT_TRUE(BuildArchive({test_support::File("clip.avi", movie)}, test_support::Options(6), &archive, nullptr,
                          &error))
      << error;
  test_support::WriteFileBytes(dir + "\\mv.RVA", archive);
  const int temps = TempFileCount();
  test_support::LogCapture log("movie_archive");
  const int handle = Open(dir + "\\mv\\clip.avi");
  ASSERT_GE(handle, 0) << log.Text();
  EXPECT_EQ(Writes, std::vector<DWORD>({1048576, 1048576, 495810}));
  MovieRecord* m = GetMovieRecord(handle);
  EXPECT_EQ(m->tempFileFlag, 1);
  EXPECT_EQ(m->width, kWidth);
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(m->fileName, GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 2592962u);
  EXPECT_EQ(TempFileCount(), temps + 1);
  const std::wstring name = m->fileName;
  EXPECT_EQ(DeleteHandle(handle), 0);
  EXPECT_EQ(GetFileAttributesW(name.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(TempFileCount(), temps);
  test_support::RemoveTree(dir);
}

// A short write stops the copy; the open fails, leaving no file or handle.
TEST_F(MovieGraphRoad, ShortWriteFailsTheOpenAndDeletesTheCopy) {
  const std::string dir = test_support::NewTempFolder("movie_short");
  const std::vector<uint8_t> movie = test_support::ReadFileBytes(FixturePath("raw280.avi"));
  std::vector<uint8_t> archive;
  std::string error;
  ASSERT_TRUE(BuildArchive({test_support::File("clip.avi", movie)}, test_support::Options(6), &archive, nullptr,
                          &error));
  test_support::WriteFileBytes(dir + "\\mv.RVA", archive);
  const int temps = TempFileCount();
  ShortWriteAt = 2;
  test_support::LogCapture log("movie_short");
  EXPECT_EQ(Open(dir + "\\mv\\clip.avi"), -1);
  EXPECT_EQ(Writes.size(), 2u);
  EXPECT_TRUE(log.Has("ムービーファイルオープン処理時にエラーが発生しました")) << log.Text();
  EXPECT_EQ(TempFileCount(), temps);
  EXPECT_EQ(HandleManagers[HANDLETYPE_MOVIE].count, 0);
  test_support::RemoveTree(dir);
}

// Files neither road can play: -1, the two log lines, no handle, no file.
TEST_F(MovieGraphRoad, UnplayableFilesLogBothLinesAndLeaveNothing) {
  const int temps = TempFileCount();
  for (const char* name : {"notogg.bin", "damaged.ogv", "absent.avi"}) {
    SCOPED_TRACE(name);
    test_support::LogCapture log("movie_bad");
    const std::string path = FixturePath(name);
    EXPECT_EQ(Open(path), -1);
    if (std::string(name) != "absent.avi") {
      EXPECT_TRUE(log.Has("ファイル:" + path + " が開けませんでした")) << log.Text();
    }
    EXPECT_TRUE(log.Has("ムービーファイルオープン処理時にエラーが発生しました")) << log.Text();
    EXPECT_EQ(HandleManagers[HANDLETYPE_MOVIE].count, 0);
  }
  EXPECT_EQ(TempFileCount(), temps);
}

// Damaged images (a valid signature, then junk) and random bytes behind
// image and movie names: every one is refused in bounded time with both log
// lines, leaving no handle, temporary file or memory block.
TEST_F(MovieGraphRoad, DamagedImagesAreRefusedWithoutHanging) {
  const std::string dir = test_support::NewTempFolder("movie_damaged");
  std::vector<uint8_t> junk(4096);
  uint32_t seed = 12345;
  for (uint8_t& b : junk) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  const std::string png = std::string("\x89PNG\r\n\x1a\n") + "this is no image at all";
  std::vector<uint8_t> bmp = {'B', 'M', 0x36, 0x10, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0};
  bmp.insert(bmp.end(), junk.begin(), junk.begin() + 200);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {{"bad.png", std::vector<uint8_t>(png.begin(), png.end())},
               {"bad.bmp", bmp},
               {"noise.jpg", junk},
               {"noise.avi", junk},
               {"tiny.avi", {'R', 'I', 'F', 'F'}},
               {"empty.png", {}}};
  const int temps = TempFileCount();
  const int blocks = GetAllocCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + "\\" + c.name;
    test_support::WriteFileBytes(path, c.bytes);
    test_support::LogCapture log("movie_damaged");
    const DWORD start = GetTickCount();
    EXPECT_EQ(Open(path), -1);
    EXPECT_LT(GetTickCount() - start, 20000u);
    EXPECT_TRUE(log.Has("ファイル:" + path + " が開けませんでした")) << log.Text();
    EXPECT_TRUE(log.Has("ムービーファイルオープン処理時にエラーが発生しました")) << log.Text();
    EXPECT_EQ(HandleManagers[HANDLETYPE_MOVIE].count, 0);
  }
  EXPECT_EQ(GetAllocCount(), blocks);
  EXPECT_EQ(TempFileCount(), temps);
  test_support::RemoveTree(dir);
}

TEST_F(MovieGraphRoad, OpenCloseLoopsLeaveNoBlocks) {
  const int first = Open(FixturePath("raw30.avi"));  // the platform's one-time set-up
  ASSERT_GE(first, 0);
  DeleteHandle(first);
  const int blocks = GetAllocCount();
  for (int i = 0; i < 10; i++) {
    const int handle = Open(FixturePath("raw30.avi"));
    ASSERT_GE(handle, 0);
    ASSERT_EQ(StartMoviePlayback(handle, 1, 0), 0);
    Sleep(20);
    RefreshMovieFrame(handle, 0);
    EXPECT_EQ(DeleteHandle(handle), 0);
  }
  EXPECT_EQ(GetAllocCount(), blocks);
  EXPECT_EQ(HandleManagers[HANDLETYPE_MOVIE].count, 0);
}
