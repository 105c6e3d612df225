// Movie graphics on the real device (Wine over Mesa, the harness's Xvfb):
// a Theora clip loaded through the graphic loader plays on an injected
// clock and each refresh (what a draw runs first) shows the due frame in
// the graphic's texture, read back; on the YUV surface road and, with the
// surfaces refused, on the image road; drawn each frame, the screen shows
// the frames in order, also drawn only as quads; the frame survives a device
// rebuild;
// loading and deleting leaves no handle or memory block behind.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "MovieFixtures.h"
#include "DiDAridIrer.h"
#include "RaRadaraServices.h"
#include "RiDov.h"
#include "VeVirud.h"
#include "VeRavoro.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaGraph.h"
#include "WindowFixture.h"
#include "ZiDezaru.h"

using movie_test::FixturePath;
using test_support::BackBufferPixel;

namespace {

int64_t FakeNow = 0;
int64_t FakeClock() { return FakeNow; }
const int64_t kStart = 1000000000;

class MovieGraphTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(1, DeviceLayer.hardware);
    FakeNow = kStart;
    SetMovieClockSource(FakeClock);
  }
  void TearDown() override {
    SetDirect3DCallTable(nullptr);
    SetMovieClockSource(nullptr);
    DeviceWindowTest::TearDown();
  }
  double MeanGreenOf(int graphic) {
    BaseImageRecord read;
    if (ReadGraphToBaseImage(graphic, &read) != 0) return -1000;
    const double green = movie_test::MeanGreen(&read);
    ReleaseBaseImage(&read);
    return green;
  }
  // The frame number the graphic's texture shows (grey clip: luma 16 + 6 n),
  // by our conversion (green 1.164 x 6 n) or, on the surface road, by the
  // device's: that one is calibrated on frame 0 (a device may pass luma
  // through unscaled, green 16 + 6 n).
  int ShownFrame(int graphic) {
    const double green = MeanGreenOf(graphic);
    return static_cast<int>((green - greenOfFrame0_) / greenStep_ + 0.5);
  }
  void CalibrateOnFrame0(int graphic) {
    greenOfFrame0_ = MeanGreenOf(graphic);
    if (greenOfFrame0_ > 8) greenStep_ = 6;
  }
  double greenOfFrame0_ = 0, greenStep_ = 1.164 * 6;
  // Plays the clip through its 30 frames, a refresh in the middle of each.
  void ExpectFramesInOrder(int graphic) {
    ASSERT_EQ(0, PlayMovieGraph(graphic, 1));
    std::vector<int> shown, expected;
    for (int k = 0; k < 30; k++) {
      FakeNow = kStart + (k * 1000000 + 500000) / 30;
      ASSERT_EQ(0, RefreshGraphicMovie(graphic));
      shown.push_back(ShownFrame(graphic));
      expected.push_back(k);
    }
    EXPECT_EQ(shown, expected);
  }
};

}  // namespace

TEST_F(MovieGraphTest, SurfaceRoadShowsTheFramesInOrder) {
  const int g = LoadImageGraph(FixturePath("grey30.ogv").c_str());
  ASSERT_GE(g, 0) << log_.Text();
  int w = 0, h = 0;
  ASSERT_EQ(0, GetGraphicSize(g, &w, &h));
  EXPECT_EQ(64, w);
  EXPECT_EQ(48, h);
  GraphicHandleRecord* record = GetGraphicRecord(g, 0);
  MovieRecord* movie = GetMovieRecord(record->dependentHandle);
  ASSERT_NE(movie, nullptr);
  ASSERT_NE(GetTheoraFrameImage(movie->decoder), nullptr) << "the device made no YUV surface";
  EXPECT_EQ(1, record->image->format.drawable);
  CalibrateOnFrame0(g);  // the first frame, shown before playing
  EXPECT_TRUE(greenOfFrame0_ < 3 || (greenOfFrame0_ > 13 && greenOfFrame0_ < 19)) << greenOfFrame0_;
  ExpectFramesInOrder(g);
  EXPECT_EQ(0, PauseMovieGraph(g));
  EXPECT_EQ(1, movie->stopped);
}

TEST_F(MovieGraphTest, ImageRoadWhenTheDeviceRefusesYuvSurfaces) {
  Direct3DCallTable table = *GetRealDirect3DCallTable();
  table.CreateDeviceOffscreenPlainSurface = [](UINT w, UINT h, D3DFORMAT format, D3DPOOL pool,
                                               IDirect3DSurface9** surface, HANDLE* shared) -> HRESULT {
    if (static_cast<DWORD>(format) > 0xFFFF) {  // the FourCC formats
      *surface = nullptr;
      return D3DERR_NOTAVAILABLE;
    }
    return GetRealDirect3DCallTable()->CreateDeviceOffscreenPlainSurface(w, h, format, pool, surface, shared);
  };
  SetDirect3DCallTable(&table);
  const int g = LoadImageGraph(FixturePath("grey30.ogv").c_str());
  ASSERT_GE(g, 0) << log_.Text();
  GraphicHandleRecord* record = GetGraphicRecord(g, 0);
  MovieRecord* movie = GetMovieRecord(record->dependentHandle);
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(nullptr, GetTheoraFrameImage(movie->decoder));
  EXPECT_EQ(0, record->image->format.drawable);
  ExpectFramesInOrder(g);
  DeleteGraphicHandle(g);
}

// The user's road: the movie loaded as a graphic and drawn each frame; the
// back buffer under the drawn graphic shows the frames in order (its grey
// level is the frame's marker).
TEST_F(MovieGraphTest, DrawnEachFrameTheScreenShowsTheFramesInOrder) {
  const int g = LoadImageGraph(FixturePath("grey30.ogv").c_str());
  ASSERT_GE(g, 0) << log_.Text();
  CalibrateOnFrame0(g);
  ASSERT_EQ(0, PlayMovieGraph(g, 3));
  std::vector<int> shown, expected;
  for (int k = 0; k < 45; k++) {
    FakeNow = kStart + (k * 1000000 + 500000) / 30;
    BeginDrawSceneOnce();
    ClearDevice(0, nullptr, D3DCLEAR_TARGET, 0xFFFF00FF, 1.0f, 0);
    ASSERT_EQ(0, DrawImageAt(100, 80, g, 0));
    FlushVertexBatch(0);
    EndDrawScene();
    const DWORD pixel = BackBufferPixel(100 + 32, 80 + 24);
    const double green = (pixel >> 8) & 255;
    shown.push_back(static_cast<int>((green - greenOfFrame0_) / greenStep_ + 0.5));
    expected.push_back(k % 30);
    EXPECT_EQ(0xFF00FFu, BackBufferPixel(99, 79));  // outside the graphic
  }
  EXPECT_EQ(shown, expected);
}

// Drawn only as a quad, or turned at unequal scales (also a quad), the
// movie still moves on with each draw and ends.
TEST_F(MovieGraphTest, QuadDrawsMoveTheMovieOn) {
  const int g = LoadImageGraph(FixturePath("grey30.ogv").c_str());
  ASSERT_GE(g, 0) << log_.Text();
  CalibrateOnFrame0(g);
  ASSERT_EQ(0, PlayMovieGraph(g, 1));
  std::vector<int> shown, expected;
  for (int k = 0; k < 30; k += 3) {
    FakeNow = kStart + (k * 1000000 + 500000) / 30;
    BeginDrawSceneOnce();
    if (k % 2 == 0) {
      ASSERT_EQ(0, DrawImageQuad(100, 80, 164, 90, 160, 140, 96, 128, g, 0));
    } else {
      ASSERT_EQ(0, DrawImageRotatedScaledXY(200, 200, 32, 24, 1.5, 0.5, 0.3, g, 0, 0));
    }
    FlushVertexBatch(0);
    EndDrawScene();
    shown.push_back(ShownFrame(g));
    expected.push_back(k);
  }
  EXPECT_EQ(shown, expected);
  MovieRecord* movie = GetMovieRecord(GetGraphicRecord(g, 0)->dependentHandle);
  ASSERT_NE(movie, nullptr);
  FakeNow = kStart + 2000000;  // past the end
  BeginDrawSceneOnce();
  ASSERT_EQ(0, DrawImageQuad(100, 80, 164, 90, 160, 140, 96, 128, g, 0));
  FlushVertexBatch(0);
  EndDrawScene();
  EXPECT_EQ(1, movie->stopped);
  DeleteGraphicHandle(g);
}

// An AVI through the DirectShow road as a graphic: played in real time,
// the refreshed graphic shows the frames in order up to the last one.
TEST_F(MovieGraphTest, DirectShowMovieGraphicShowsItsFramesInOrder) {
  const int g = LoadImageGraph(FixturePath("raw30.avi").c_str());
  ASSERT_GE(g, 0) << log_.Text();
  MovieRecord* movie = GetMovieRecord(GetGraphicRecord(g, 0)->dependentHandle);
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(0, movie->theoraFlag);
  int w = 0, h = 0;
  ASSERT_EQ(0, GetGraphicSize(g, &w, &h));
  EXPECT_EQ(64, w);
  EXPECT_EQ(48, h);
  ASSERT_EQ(0, PlayMovieGraph(g, 1));
  std::vector<int> shown;
  for (int i = 0; i < 600 && !movie->stopped; i++) {
    ASSERT_EQ(0, RefreshGraphicMovie(g));
    const int frame = ShownFrame(g);
    if (shown.empty() || shown.back() != frame) shown.push_back(frame);
    Sleep(5);
  }
  EXPECT_EQ(1, movie->stopped);
  ASSERT_GE(shown.size(), 5u);
  for (size_t k = 1; k < shown.size(); k++) EXPECT_GT(shown[k], shown[k - 1]) << k;
  EXPECT_EQ(29, shown.back());
  DeleteGraphicHandle(g);
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_MOVIE].count);
}

// A Theora movie with a sound track: the graphic's movie carries the track
// as a sound handle, which plays with the movie and stops with its pause.
TEST_F(MovieGraphTest, SoundTrackPlaysAndPausesWithTheMovie) {
  const int g = LoadImageGraph(FixturePath("withsound.ogv").c_str());
  ASSERT_GE(g, 0) << log_.Text();
  MovieRecord* movie = GetMovieRecord(GetGraphicRecord(g, 0)->dependentHandle);
  ASSERT_NE(movie, nullptr);
  ASSERT_GE(movie->soundHandle, 0) << log_.Text();
  EXPECT_NE(1, IsSoundHandlePlaying(movie->soundHandle));
  ASSERT_EQ(0, PlayMovieGraph(g, 1));
  EXPECT_EQ(1, IsSoundHandlePlaying(movie->soundHandle));
  ASSERT_EQ(0, RefreshGraphicMovie(g));
  ASSERT_EQ(0, PauseMovieGraph(g));
  EXPECT_NE(1, IsSoundHandlePlaying(movie->soundHandle));
  const int sound = movie->soundHandle;
  DeleteGraphicHandle(g);
  EXPECT_EQ(-1, IsSoundHandlePlaying(sound));  // deleted with the movie
}

namespace {
std::string WorkerFile;
volatile int WorkerHandle = -2;
int WorkerWidth = 0;
int OpenOnWorker(ASyncJob*) {
  MovieLoadSettings settings = {0, 0};
  int height = 0;
  WorkerHandle = CreateMovieFromFile(&settings, WorkerFile.c_str(), &WorkerWidth, &height, 0, 1);
  return 0;
}
}  // namespace

// Opened on a loading worker: the COM creation and the device calls go to
// the main thread, which serves them while it waits.
TEST_F(MovieGraphTest, OpenOnALoadingWorker) {
  for (const char* name : {"grey30.ogv", "raw30.avi"}) {
    SCOPED_TRACE(name);
    WorkerFile = FixturePath(name);
    WorkerHandle = -2;
    ASyncJob* job = AllocASyncJob(0);
    ASSERT_NE(job, nullptr);
    job->function = OpenOnWorker;
    ASSERT_EQ(0, AddASyncJob(job));
    for (int i = 0; i < 10000 && WorkerHandle == -2; i++) {
      ServeMainThreadRequests();
      Sleep(1);
    }
    ASSERT_GE(WorkerHandle, 0) << log_.Text();
    EXPECT_EQ(64, WorkerWidth);
    MovieRecord* movie = GetMovieRecord(WorkerHandle);
    ASSERT_NE(movie, nullptr);
    if (movie->theoraFlag) {
      EXPECT_NE(nullptr, GetTheoraFrameImage(movie->decoder));
      EXPECT_EQ(1, movie->decoder->surfaceCurrent);
      EXPECT_EQ(1, movie->decoder->imageCurrent);
    } else {
      EXPECT_NE(nullptr, movie->graph);
    }
    EXPECT_EQ(0, DeleteHandle(WorkerHandle));
  }
}

// A device rebuild releases the surface and the textures; the next refresh
// shows the same frame again.
TEST_F(MovieGraphTest, FrameComesBackAfterADeviceRebuild) {
  const int g = LoadImageGraph(FixturePath("grey30.ogv").c_str());
  ASSERT_GE(g, 0) << log_.Text();
  CalibrateOnFrame0(g);
  ASSERT_EQ(0, PlayMovieGraph(g, 1));
  FakeNow = kStart + 12 * 1000000 / 30 + 1000;
  ASSERT_EQ(0, RefreshGraphicMovie(g));
  ASSERT_EQ(12, ShownFrame(g));
  ASSERT_EQ(0, PauseMovieGraph(g));
  RebuildGraphicsDeviceKeepMode();
  ASSERT_EQ(0, RefreshGraphicMovie(g));
  EXPECT_EQ(12, ShownFrame(g));
}

TEST_F(MovieGraphTest, LoadAndDeleteLoopsLeaveNothingBehind) {
  const int graphs = HandleManagers[HANDLETYPE_GRAPH].count;
  const int blocks = GetAllocCount();
  for (int i = 0; i < 10; i++) {
    const int g = LoadImageGraph(FixturePath("grey30.ogv").c_str());
    ASSERT_GE(g, 0) << log_.Text();
    RefreshGraphicMovie(g);
    EXPECT_EQ(1, HandleManagers[HANDLETYPE_MOVIE].count);
    DeleteGraphicHandle(g);
  }
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_MOVIE].count);
  EXPECT_EQ(graphs, HandleManagers[HANDLETYPE_GRAPH].count);
  EXPECT_EQ(blocks, GetAllocCount());
}

TEST_F(MovieGraphTest, MissingAndDamagedFilesGiveMinusOneAndALogLine) {
  const int graphs = HandleManagers[HANDLETYPE_GRAPH].count;
  EXPECT_EQ(-1, LoadImageGraph(FixturePath("absent.ogv").c_str()));
  EXPECT_TRUE(log_.Has("がありません")) << log_.Text();
  EXPECT_EQ(-1, LoadImageGraph(FixturePath("damaged.ogv").c_str()));
  EXPECT_TRUE(log_.Has("右記のグラフィックファイルのロードに失敗しました")) << log_.Text();
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_MOVIE].count);
  EXPECT_EQ(graphs, HandleManagers[HANDLETYPE_GRAPH].count);
}

// Damaged images reach the movie road after the image loaders refuse them:
// a PNG and a BMP with valid signatures and junk bodies, random bytes behind
// an image name. Each is refused promptly with the loader's and both movie
// lines, leaving no handle and no memory block.
TEST_F(MovieGraphTest, DamagedImagesThroughTheGraphicLoaderAreRefused) {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  std::string junk;
  uint32_t seed = 777;
  for (int i = 0; i < 3000; i++) junk += static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {{"png", std::string("\x89PNG\r\n\x1a\n") + "this is no image at all"},
               {"bmp", std::string("BM\x36\x10\0\0\0\0\0\0\x36\0\0\0", 14) + junk.substr(0, 300)},
               {"png", junk}};
  const int graphs = HandleManagers[HANDLETYPE_GRAPH].count;
  const int blocks = GetAllocCount();
  int n = 0;
  for (const auto& c : cases) {
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%smovie_damaged_%lu_%d.%s", folder, GetCurrentProcessId(), n++, c.name);
    SCOPED_TRACE(path);
    FILE* f = fopen(path, "wb");
    ASSERT_NE(nullptr, f);
    fwrite(c.bytes.data(), 1, c.bytes.size(), f);
    fclose(f);
    EXPECT_EQ(-1, LoadImageGraph(path));
    EXPECT_TRUE(log_.Has(std::string("ファイル:") + path + " が開けませんでした")) << log_.Text();
    EXPECT_TRUE(log_.Has("ムービーファイルオープン処理時にエラーが発生しました")) << log_.Text();
    EXPECT_TRUE(log_.Has("右記のグラフィックファイルのロードに失敗しました")) << log_.Text();
    DeleteFileA(path);
  }
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_MOVIE].count);
  EXPECT_EQ(graphs, HandleManagers[HANDLETYPE_GRAPH].count);
  EXPECT_EQ(blocks, GetAllocCount());
}
