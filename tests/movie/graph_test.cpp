// The DirectShow road of the movies in the platform's filter graph (Wine's
// quartz with the GStreamer decoders): frames of ffmpeg-made AVI files reach
// the frame callback equal (within a tolerance) to ffmpeg's own decode, the
// end of the movie loops or stops, a file inside an archive plays from a
// temporary copy made in 1 MB pieces and deleted with the handle, files no
// road can play give -1 and their log lines, and open / close loops leave
// nothing behind. Damaged containers are refused before the graph sees
// them; a render past the time limit is abandoned to its thread, the open
// failing at the limit while the calling thread's messages are served.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "ArchivePacker.h"
#include "DamagedMovies.h"
#include "LogCapture.h"
#include "MovieFixtures.h"
#include "MuVevireProbe.h"
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

// Render seams: counting calls (then the real RenderFile), blocking until
// released, and posting a message to the opener's window mid-render.
volatile LONG RenderCalls = 0;
HANDLE RenderRelease = nullptr;  // manual-reset: lets blocked renders return
HRESULT CountingRender(IGraphBuilder* graph, const wchar_t* name) {
  InterlockedIncrement(&RenderCalls);
  return graph->RenderFile(name, nullptr);
}
HRESULT BlockingRender(IGraphBuilder*, const wchar_t*) {
  InterlockedIncrement(&RenderCalls);
  WaitForSingleObject(RenderRelease, 30000);
  return E_FAIL;
}
// The render by name fails at once, the one of the temporary copy blocks.
HRESULT BlockingCopyRender(IGraphBuilder*, const wchar_t*) {
  if (InterlockedIncrement(&RenderCalls) == 1) return E_FAIL;
  WaitForSingleObject(RenderRelease, 30000);
  return E_FAIL;
}

// Polls until every abandoned render has returned (or 20 s pass).
bool AbandonedRendersEnd() {
  for (int i = 0; i < 2000 && CountAbandonedMovieRenders() != 0; i++) Sleep(10);
  return CountAbandonedMovieRenders() == 0;
}

std::vector<uint8_t> FixtureBytes(const char* name) { return test_support::ReadFileBytes(FixturePath(name)); }

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
    RenderCalls = 0;
    RenderRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    SetEvent(RenderRelease);
    EXPECT_TRUE(AbandonedRendersEnd());
    CloseHandle(RenderRelease);
    SetMovieGraphRenderFunction(nullptr);
    SetMovieGraphRenderLimit(0);
    EXPECT_EQ(EndMovieSystem(), 0);
    SetMovieTempFileWriter(nullptr);
  }
  // The archive "mv.RVA" in a new folder holding `movie` as clip.avi.
  std::string ArchiveWith(const std::vector<uint8_t>& movie, const char* tag) {
    const std::string dir = test_support::NewTempFolder(tag);
    std::vector<uint8_t> archive;
    std::string error;
    EXPECT_TRUE(
        BuildArchive({test_support::File("clip.avi", movie)}, test_support::Options(6), &archive, nullptr, &error))
        << error;
    test_support::WriteFileBytes(dir + "\\mv.RVA", archive);
    return dir;
  }
  // Opens and deletes one movie, so that the platform's one-time set-up is
  // done; the live block count then, or -1 when the open failed.
  int BlocksAfterAFirstOpen() {
    const int first = Open(FixturePath("raw30.avi"));
    if (first < 0) return -1;
    DeleteHandle(first);
    return GetAllocCount();
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
  ASSERT_TRUE(
      BuildArchive({test_support::File("clip.avi", movie)}, test_support::Options(6), &archive, nullptr, &error))
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
  ASSERT_TRUE(
      BuildArchive({test_support::File("clip.avi", movie)}, test_support::Options(6), &archive, nullptr, &error));
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
  const int blocks = BlocksAfterAFirstOpen();
  ASSERT_GE(blocks, 0);
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

// Valid files of every walked container pass the check, as do rewrites
// that stay valid; other movie signatures pass on their signature; files
// with none are refused.
TEST_F(MovieGraphRoad, ContainerCheckPassesValidFiles) {
  for (const char* name : {"raw30.avi", "mjpeg30.avi", "raw280.avi", "clip.mp4", "clip.mpg", "clip.vob", "vorbis.ogg",
                           "grey30.ogv", "withsound.ogv"}) {
    EXPECT_EQ(ProbeMovieFile(FixturePath(name).c_str()), MOVIE_PROBE_PLAYABLE) << name;
  }
  const std::vector<uint8_t> avi = FixtureBytes("raw30.avi"), mp4 = FixtureBytes("clip.mp4"),
                             mpg = FixtureBytes("clip.mpg");
  ASSERT_FALSE(avi.empty() || mp4.empty() || mpg.empty());
  const std::string dir = test_support::NewTempFolder("movie_probe");
  std::vector<movie_test::DamagedMovie> cases = movie_test::ValidRewrites(avi, mp4, mpg);
  const std::vector<uint8_t> junk = test_support::RandomBytes(600, 7);
  const auto behind = [&junk](std::vector<uint8_t> head) {
    head.insert(head.end(), junk.begin(), junk.end());
    return head;
  };
  cases.push_back({"matroska.mkv", behind({0x1A, 0x45, 0xDF, 0xA3}), MOVIE_PROBE_PLAYABLE});
  cases.push_back({"flash.flv", behind({'F', 'L', 'V', 1}), MOVIE_PROBE_PLAYABLE});
  cases.push_back({"asf.wmv", behind({0x30, 0x26, 0xB2, 0x75}), MOVIE_PROBE_PLAYABLE});
  cases.push_back({"video.m1v", behind({0, 0, 1, 0xB3}), MOVIE_PROBE_PLAYABLE});
  cases.push_back({"transport.ts", behind({0x47, 0x40, 0x00, 0x10}), MOVIE_PROBE_PLAYABLE});
  cases.push_back({"noise.avi", behind({0x12, 0x34}), MOVIE_PROBE_NOT_A_CONTAINER});
  cases.push_back({"fifteen.avi", movie_test::Cut(avi, 15), MOVIE_PROBE_NOT_A_CONTAINER});
  for (const movie_test::DamagedMovie& c : cases) {
    const std::string path = dir + "\\" + c.name;
    test_support::WriteFileBytes(path, c.bytes);
    EXPECT_EQ(ProbeMovieFile(path.c_str()), c.expected) << c.name;
  }
  EXPECT_EQ(ProbeMovieFile((dir + "\\absent.avi").c_str()), MOVIE_PROBE_UNREADABLE);
  test_support::RemoveTree(dir);
}

// An AVI's movi is walked for its first chunks only; the walk goes on
// after the list.
TEST_F(MovieGraphRoad, ContainerCheckWalksTheHeadOfALongMovi) {
  const std::vector<uint8_t> avi = FixtureBytes("raw30.avi");
  ASSERT_FALSE(avi.empty());
  const std::string dir = test_support::NewTempFolder("movie_long");
  for (const movie_test::DamagedMovie& c : movie_test::LongMoviAvis(avi)) {
    const std::string path = dir + "\\" + c.name;
    test_support::WriteFileBytes(path, c.bytes);
    EXPECT_EQ(ProbeMovieFile(path.c_str()), c.expected) << c.name;
  }
  test_support::RemoveTree(dir);
}

// Damaged AVI, MP4, MPEG and Ogg files made from the valid fixtures: each
// is refused by the container check with its reason, quickly, with both log
// lines, no handle, and RenderFile never called.
TEST_F(MovieGraphRoad, DamagedContainersNeverReachTheGraph) {
  const std::vector<uint8_t> avi = FixtureBytes("raw30.avi"), mp4 = FixtureBytes("clip.mp4"),
                             mpg = FixtureBytes("clip.mpg"), vob = FixtureBytes("clip.vob"),
                             ogg = FixtureBytes("vorbis.ogg");
  ASSERT_EQ(avi.size(), 282962u);
  ASSERT_GE(mp4.size(), 1000u);
  ASSERT_EQ(mpg.size(), 4096u);
  ASSERT_EQ(vob.size(), 4096u);
  ASSERT_GE(ogg.size(), 1000u);
  std::vector<movie_test::DamagedMovie> cases;
  for (const auto& part : {movie_test::DamagedAvis(avi), movie_test::DamagedMp4s(mp4),
                           movie_test::DamagedProgramStreams(mpg, vob), movie_test::DamagedOggs(ogg)})
    cases.insert(cases.end(), part.begin(), part.end());
  ASSERT_EQ(cases.size(), 48u);
  SetMovieGraphRenderFunction(CountingRender);
  const std::string dir = test_support::NewTempFolder("movie_broken");
  const int temps = TempFileCount();
  const int blocks = GetAllocCount();
  for (const movie_test::DamagedMovie& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + "\\" + c.name;
    test_support::WriteFileBytes(path, c.bytes);
    EXPECT_EQ(ProbeMovieFile(path.c_str()), c.expected);
    test_support::LogCapture log("movie_broken");
    const DWORD start = GetTickCount();
    EXPECT_EQ(Open(path), -1);
    EXPECT_LT(GetTickCount() - start, 2000u);
    EXPECT_TRUE(log.Has("ファイル:" + path + " が開けませんでした")) << log.Text();
    EXPECT_TRUE(log.Has("ムービーファイルオープン処理時にエラーが発生しました")) << log.Text();
    EXPECT_EQ(HandleManagers[HANDLETYPE_MOVIE].count, 0);
  }
  EXPECT_EQ(RenderCalls, 0);
  EXPECT_TRUE(Writes.empty());
  EXPECT_EQ(GetAllocCount(), blocks);
  EXPECT_EQ(TempFileCount(), temps);
  test_support::RemoveTree(dir);
}

// The check reads through the archive layer: a cut AVI inside an archive is
// refused before any temporary copy or render.
TEST_F(MovieGraphRoad, DamagedMovieInsideAnArchiveIsRefusedBeforeTheCopy) {
  const std::vector<uint8_t> movie = movie_test::Cut(FixtureBytes("raw280.avi"), 2000000);
  const std::string dir = ArchiveWith(movie, "movie_archive_cut");
  const std::string path = dir + "\\mv\\clip.avi";
  SetMovieGraphRenderFunction(CountingRender);
  const int temps = TempFileCount();
  EXPECT_EQ(ProbeMovieFile(path.c_str()), MOVIE_PROBE_PAST_END);
  test_support::LogCapture log("movie_archive_cut");
  EXPECT_EQ(Open(path), -1);
  EXPECT_TRUE(log.Has("ファイル:" + path + " が開けませんでした")) << log.Text();
  EXPECT_TRUE(log.Has("ムービーファイルオープン処理時にエラーが発生しました")) << log.Text();
  EXPECT_EQ(RenderCalls, 0);
  EXPECT_TRUE(Writes.empty());
  EXPECT_EQ(TempFileCount(), temps);
  EXPECT_EQ(HandleManagers[HANDLETYPE_MOVIE].count, 0);
  test_support::RemoveTree(dir);
}

// A render that hangs: the open gives up at the limit (no temporary copy is
// tried after it), and the abandoned thread frees what it holds once the
// render returns.
TEST_F(MovieGraphRoad, HangingRenderEndsTheOpenAtTheLimit) {
  SetMovieGraphRenderFunction(BlockingRender);
  SetMovieGraphRenderLimit(300);
  const int blocks = GetAllocCount();
  test_support::LogCapture log("movie_hang");
  const std::string path = FixturePath("raw30.avi");
  const DWORD start = GetTickCount();
  EXPECT_EQ(Open(path), -1);
  const DWORD took = GetTickCount() - start;
  EXPECT_GE(took, 250u);
  EXPECT_LT(took, 3000u);
  EXPECT_TRUE(log.Has("ファイル:" + path + " が開けませんでした")) << log.Text();
  EXPECT_TRUE(log.Has("ムービーファイルオープン処理時にエラーが発生しました")) << log.Text();
  EXPECT_EQ(HandleManagers[HANDLETYPE_MOVIE].count, 0);
  EXPECT_EQ(RenderCalls, 1);
  EXPECT_TRUE(Writes.empty());
  EXPECT_EQ(CountAbandonedMovieRenders(), 1);
  SetEvent(RenderRelease);
  EXPECT_TRUE(AbandonedRendersEnd());
  EXPECT_EQ(GetAllocCount(), blocks);
}

// The render of a temporary copy hangs: the copy stays while the render
// runs and is deleted by the abandoned thread when it returns.
TEST_F(MovieGraphRoad, AbandonedRenderOfACopyDeletesItWhenItReturns) {
  const std::string dir = ArchiveWith(FixtureBytes("raw30.avi"), "movie_hang_copy");
  SetMovieGraphRenderFunction(BlockingCopyRender);
  SetMovieGraphRenderLimit(300);
  const std::string path = dir + "\\mv\\clip.avi";
  // The archive layer keeps the opened archive's blocks from here on.
  ASSERT_EQ(ProbeMovieFile(path.c_str()), MOVIE_PROBE_PLAYABLE);
  const int temps = TempFileCount();
  const int blocks = GetAllocCount();
  test_support::LogCapture log("movie_hang_copy");
  EXPECT_EQ(Open(path), -1);
  EXPECT_TRUE(log.Has("ファイル:" + path + " が開けませんでした")) << log.Text();
  EXPECT_TRUE(log.Has("ムービーファイルオープン処理時にエラーが発生しました")) << log.Text();
  EXPECT_EQ(RenderCalls, 2);
  EXPECT_EQ(Writes, std::vector<DWORD>({282962}));
  EXPECT_EQ(CountAbandonedMovieRenders(), 1);
  EXPECT_EQ(TempFileCount(), temps + 1);
  SetEvent(RenderRelease);
  EXPECT_TRUE(AbandonedRendersEnd());
  EXPECT_EQ(TempFileCount(), temps);
  EXPECT_EQ(GetAllocCount(), blocks);
  EXPECT_EQ(HandleManagers[HANDLETYPE_MOVIE].count, 0);
  test_support::RemoveTree(dir);
}

// The real RenderFile against a limit of 1 ms: abandoned, the graph is
// released by the render's thread when it returns, nothing is left, and the
// next open with the normal limit plays.
TEST_F(MovieGraphRoad, RealRenderPastATinyLimitIsAbandonedSafely) {
  const int blocks = BlocksAfterAFirstOpen();
  ASSERT_GE(blocks, 0);
  SetMovieGraphRenderFunction(CountingRender);
  SetMovieGraphRenderLimit(1);
  test_support::LogCapture log("movie_tiny_limit");
  const std::string path = FixturePath("raw30.avi");
  EXPECT_EQ(Open(path), -1);
  EXPECT_TRUE(log.Has("ファイル:" + path + " が開けませんでした")) << log.Text();
  EXPECT_TRUE(log.Has("ムービーファイルオープン処理時にエラーが発生しました")) << log.Text();
  EXPECT_TRUE(AbandonedRendersEnd());
  EXPECT_EQ(RenderCalls, 1);
  EXPECT_EQ(GetAllocCount(), blocks);
  EXPECT_EQ(HandleManagers[HANDLETYPE_MOVIE].count, 0);
  SetMovieGraphRenderLimit(0);
  const int handle = Open(path);
  ASSERT_GE(handle, 0) << log.Text();
  EXPECT_EQ(GetMovieRecord(handle)->width, kWidth);
  EXPECT_EQ(DeleteHandle(handle), 0);
}

namespace {

const UINT kProbeMessage = WM_USER + 7;
volatile LONG RenderingNow = 0;
int ServedWhileRendering = -1;  // -1: not served

LRESULT CALLBACK WaitProbeWindow(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == kProbeMessage) {
    ServedWhileRendering = RenderingNow != 0 ? 1 : 0;
    PostQuitMessage(5);
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

HWND ProbeWindow = nullptr;
HRESULT PostingRender(IGraphBuilder* graph, const wchar_t* name) {
  InterlockedExchange(&RenderingNow, 1);
  PostMessageA(ProbeWindow, kProbeMessage, 0, 0);
  Sleep(300);
  const HRESULT result = graph->RenderFile(name, nullptr);
  InterlockedExchange(&RenderingNow, 0);
  return result;
}

}  // namespace

// While the render runs, the opening thread serves its window messages; a
// WM_QUIT taken meanwhile is left in the queue for the program's loop.
TEST_F(MovieGraphRoad, WaitServesTheOpenersMessages) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WaitProbeWindow;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "RiDovMovieWaitProbe";
  RegisterClassA(&windowClass);
  ProbeWindow = CreateWindowA("RiDovMovieWaitProbe", "", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, windowClass.hInstance,
                              nullptr);
  ASSERT_NE(ProbeWindow, nullptr);
  ServedWhileRendering = -1;
  SetMovieGraphRenderFunction(PostingRender);
  const int handle = Open(FixturePath("raw30.avi"));
  EXPECT_GE(handle, 0);
  EXPECT_EQ(ServedWhileRendering, 1);
  MSG message;
  const BOOL quit = PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  EXPECT_TRUE(quit);
  if (quit) {
    EXPECT_EQ(message.wParam, 5u);
  }
  if (handle >= 0) {
    EXPECT_EQ(DeleteHandle(handle), 0);
  }
  DestroyWindow(ProbeWindow);
  UnregisterClassA("RiDovMovieWaitProbe", windowClass.hInstance);
}
