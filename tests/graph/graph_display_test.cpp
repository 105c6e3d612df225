// Graphics on the real device (Wine over Mesa, the harness's Xvfb): the
// game's sprite sheet loaded into tiles that read back equal to the file,
// tile counts, refused tile grids, mirrored loads, the repeated edge texel,
// the shared texture's last release.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "RiDov.h"
#include "ReReziRader.h"
#include "VeRavoro.h"
#include "VuViderezaDevice.h"
#include "DiDAridIrer.h"
#include "VuViderezaGraph.h"
#include "VuViderezaRebuild.h"
#include "RaRadaraServices.h"
#include "WindowFixture.h"


namespace {

std::string SheetPath() {
  char full[MAX_PATH];
  std::string path = std::string(QUINSEL_DATA_DIR) + "/img/player/thiko.png";
  return GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr) ? std::string(full) : path;
}

// Graphics beyond those alive after start-up (the filters keep work targets).
int StartGraphCount = 0;
int GraphCount() { return HandleManagers[HANDLETYPE_GRAPH].count - StartGraphCount; }

// What a file pixel becomes in a texture: the transparent colour (black)
// gets alpha 0.
uint32_t Expected(uint32_t filePixel) { return (filePixel & 0xffffff) == 0 ? 0 : filePixel; }

class GraphDisplayTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(1, DeviceLayer.hardware);
    StartGraphCount = HandleManagers[HANDLETYPE_GRAPH].count;
    ASSERT_EQ(0, LoadImageToBaseImage(SheetPath().c_str(), nullptr, 0, 0, &file_, 0)) << SheetPath();
    ASSERT_EQ(220, file_.width);
    ASSERT_EQ(320, file_.height);
  }
  void TearDown() override {
    ReleaseBaseImage(&file_);
    DeviceWindowTest::TearDown();
  }
  // Tile i read back against the file's cell; mirror: each tile left-right.
  void ExpectTileEqualsFile(int handle, int i, int mirror) {
    BaseImageRecord read;
    ASSERT_EQ(0, ReadGraphToBaseImage(handle, &read)) << i;
    ASSERT_EQ(55, read.width);
    ASSERT_EQ(80, read.height);
    int wrong = 0;
    for (int y = 0; y < 80; y++)
      for (int x = 0; x < 55; x++) {
        const int fx = i % 4 * 55 + (mirror ? 54 - x : x), fy = i / 4 * 80 + y;
        if (GetBaseImagePixelARGB8(&read, x, y) != Expected(GetBaseImagePixelARGB8(&file_, fx, fy))) wrong++;
      }
    EXPECT_EQ(0, wrong) << "tile " << i;
    ReleaseBaseImage(&read);
  }
  BaseImageRecord file_{};
};

TEST_F(GraphDisplayTest, SheetLoadsAsSixteenTilesEqualToTheFile) {
  int handles[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, handles, 1)) << log_.Text();
  EXPECT_EQ(16, GraphCount());  // the whole-image handle is gone
  int opaque = 0;
  for (int y = 0; y < 320; y++)
    for (int x = 0; x < 220; x++) opaque += (GetBaseImagePixelARGB8(&file_, x, y) >> 24) == 255;
  EXPECT_GT(opaque, 1000);  // the sheet draws something
  for (int i = 0; i < 16; i++) {
    EXPECT_EQ(1, IsGraphicHandleValid(handles[i]));
    int w = 0, h = 0;
    EXPECT_EQ(0, GetGraphicSize(handles[i], &w, &h));
    EXPECT_EQ(55, w);
    EXPECT_EQ(80, h);
    ExpectTileEqualsFile(handles[i], i, 0);
  }
  for (int i = 0; i < 16; i++) EXPECT_EQ(0, DeleteGraphicHandle(handles[i]));
  EXPECT_EQ(0, GraphCount());
}

TEST_F(GraphDisplayTest, TileCountsAndRefusedGrids) {
  int handles[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 5, 4, 4, 55, 80, handles, 1));
  EXPECT_EQ(5, GraphCount());
  for (int i = 0; i < 5; i++) ExpectTileEqualsFile(handles[i], i, 0);
  for (int i = 0; i < 5; i++) DeleteGraphicHandle(handles[i]);
  // The fourth column of 100-wide tiles starts at x = 300, outside the image.
  EXPECT_EQ(-1, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 100, 100, handles, 1));
  EXPECT_TRUE(log_.Has("グラフィックの分割に失敗しました in CreateDivGraphFromGraphImage")) << log_.Text();
  EXPECT_EQ(0, GraphCount());
  for (int i = 0; i < 16; i++) EXPECT_EQ(-1, handles[i]);
  EXPECT_EQ(-1, LoadImageDivided("no_such_sheet.png", 4, 2, 2, 10, 10, handles, 1));
  EXPECT_TRUE(log_.Has("のロードに失敗しました"));
  EXPECT_EQ(0, GraphCount());
  EXPECT_EQ(-1, LoadImageDivided(SheetPath().c_str(), 0, 4, 4, 55, 80, handles, 1));
  EXPECT_EQ(-1, GetGraphicSize(-3, nullptr, nullptr));
  int w = 0, h = 0;
  EXPECT_EQ(0, GetGraphicSize(-2, &w, &h));
  EXPECT_EQ(640, w);
  EXPECT_EQ(480, h);
}

TEST_F(GraphDisplayTest, MirrorLoadMirrorsEachTileInPlace) {
  int handles[16];
  ASSERT_EQ(0, LoadDividedGraph(SheetPath().c_str(), 16, 4, 4, 55, 80, handles, 0, 1));
  for (int i = 0; i < 16; i++) ExpectTileEqualsFile(handles[i], i, 1);
  for (int i = 0; i < 16; i++) DeleteGraphicHandle(handles[i]);
}

TEST_F(GraphDisplayTest, EdgeTexelRepeatedAndSharedTextureFreedAtLastTile) {
  int handles[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, handles, 1));
  GraphicHandleRecord* record = GetGraphicRecord(handles[0], 0);
  ASSERT_NE(nullptr, record);
  ASSERT_EQ(1, record->image->textureCount);
  GraphTextureEntry& e = record->image->textures[0];
  EXPECT_EQ(256, e.allocWidth);
  EXPECT_EQ(512, e.allocHeight);
  IDirect3DTexture9* texture = e.texture;
  ASSERT_NE(nullptr, texture);
  D3DLOCKED_RECT locked;
  ASSERT_EQ(D3D_OK, LockTextureRect(texture, 0, &locked, nullptr, D3DLOCK_READONLY));
  int wrong = 0;
  auto at = [&](int x, int y) {
    return reinterpret_cast<const uint32_t*>(static_cast<const unsigned char*>(locked.pBits) + y * locked.Pitch)[x];
  };
  for (int y = 0; y < 320; y++) wrong += at(220, y) != at(219, y);
  for (int x = 0; x <= 220; x++) wrong += at(x, 320) != at(x, 319);
  UnlockTextureRect(texture, 0);
  EXPECT_EQ(0, wrong);
  // The texture lives while any tile shares it.
  texture->AddRef();
  for (int i = 0; i < 15; i++) DeleteGraphicHandle(handles[i]);
  // Ours, the descriptor's and its level-0 surface's.
  EXPECT_EQ(3u, texture->AddRef() - 1);
  texture->Release();
  DeleteGraphicHandle(handles[15]);
  EXPECT_EQ(0u, texture->Release());
}

}  // namespace

namespace {

int DecodeCount = 0;
int CountingLoader(ImageLoadStream*, BaseImageRecord*) {
  DecodeCount++;
  return -1;  // the built-in loaders decode
}

TEST_F(GraphDisplayTest, RestoreRefillsTilesDecodingTheSheetOnce) {
  int handles[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, handles, 1));
  // A second sheet from a copy that is gone before the restore.
  char folder[MAX_PATH], copy[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  snprintf(copy, sizeof copy, "%sgraph_restore_%lu.png", folder, GetCurrentProcessId());
  ASSERT_TRUE(CopyFileA(SheetPath().c_str(), copy, FALSE));
  int gone[2];
  ASSERT_EQ(0, LoadImageDivided(copy, 2, 2, 1, 55, 80, gone, 1));
  ASSERT_TRUE(DeleteFileA(copy));
  int after[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, after, 1));
  // Device objects gone and made again empty, as a rebuild does.
  ASSERT_EQ(0, ReleaseAllGraphTextures());
  ASSERT_EQ(0, CreateAllGraphTextures());
  ASSERT_EQ(0, AddUserImageLoader(CountingLoader));
  DecodeCount = 0;
  ASSERT_EQ(0, RestoreGraphicsResources());
  EXPECT_TRUE(log_.Has("ファイル:")) << log_.Text();
  EXPECT_TRUE(log_.Has("がロードできませんでした"));
  EXPECT_TRUE(log_.Has("グラフィックの復帰が完了しました"));
  EXPECT_EQ(2, DecodeCount);  // once per run of the sheet's tiles; the missing copy never opens
  for (int i = 0; i < 16; i++) {
    ExpectTileEqualsFile(handles[i], i, 0);
    ExpectTileEqualsFile(after[i], i, 0);
  }
  BaseImageRecord empty;
  ASSERT_EQ(0, ReadGraphToBaseImage(gone[0], &empty));
  EXPECT_EQ(0u, GetBaseImagePixelARGB8(&empty, 20, 40));
  ReleaseBaseImage(&empty);
}

}  // namespace

namespace {

TEST_F(GraphDisplayTest, TilesReadBackIdenticalAfterADeviceRebuild) {
  int handles[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, handles, 1));
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  ASSERT_EQ(1, HasDirect3DDevice());
  EXPECT_TRUE(log_.Has("グラフィックの復帰が完了しました")) << log_.Text();
  for (int i = 0; i < 16; i++) ExpectTileEqualsFile(handles[i], i, 0);
  for (int i = 0; i < 16; i++) DeleteGraphicHandle(handles[i]);
}

}  // namespace

namespace {

// Waits for the loading jobs, serving the main-thread requests they post.
bool WaitForJobs() {
  for (int i = 0; i < 5000 && GetASyncJobCount() > 0; i++) {
    ServeMainThreadRequests();
    Sleep(1);
  }
  return GetASyncJobCount() == 0;
}

TEST_F(GraphDisplayTest, AnAsynchronousLoadReturnsPendingTilesThatBecomeTheFile) {
  SetASyncLoadEnabled(1);
  int handles[16];
  const int result = LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, handles, 1);
  SetASyncLoadEnabled(0);
  ASSERT_EQ(0, result);
  int w = 0, h = 0;
  EXPECT_EQ(0, GetGraphicSize(handles[3], &w, &h)) << "a pending tile has a handle";
  // Its device calls wait for this thread, so the job cannot have ended.
  EXPECT_EQ(0, IsGraphicHandleValid(handles[3])) << "but is not ready for drawing";
  ASSERT_TRUE(WaitForJobs());
  EXPECT_EQ(16, GraphCount()) << "the whole-image handle is gone";
  for (int i = 0; i < 16; i++) {
    ASSERT_EQ(1, IsGraphicHandleValid(handles[i]));
    ExpectTileEqualsFile(handles[i], i, 0);
  }
}

TEST_F(GraphDisplayTest, AnAsynchronousLoadOfAMissingFileDeletesItsTiles) {
  SetASyncLoadEnabled(1);
  int handles[4];
  const int result = LoadImageDivided("no_such_sheet.png", 4, 2, 2, 10, 10, handles, 1);
  SetASyncLoadEnabled(0);
  ASSERT_EQ(0, result);
  ASSERT_TRUE(WaitForJobs());
  EXPECT_EQ(0, GraphCount());
  EXPECT_TRUE(log_.Has("のロードに失敗しました")) << log_.Text();
}

TEST_F(GraphDisplayTest, ARebuildWaitsForAQueuedLoad) {
  SetASyncLoadEnabled(1);
  int handles[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, handles, 1));
  const int blank = MakeBlankGraph(32, 32, 1, 1);
  SetASyncLoadEnabled(0);
  ASSERT_GT(blank, 0);
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_EQ(0, GetASyncJobCount());
  for (int i = 0; i < 16; i++) ExpectTileEqualsFile(handles[i], i, 0);
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(blank, &read));
  EXPECT_EQ(0u, GetBaseImagePixelARGB8(&read, 5, 5));
  ReleaseBaseImage(&read);
}

TEST_F(GraphDisplayTest, EdgeFillGivesTransparentNeighboursTheColourAtAlphaZero) {
  BaseImageRecord image;
  ASSERT_EQ(0, CreateBaseImageARGB8(5, 4, &image));
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 5; x++) SetBaseImagePixelRGBA(&image, x, y, 0, 0, 0, 255);  // the key colour
  SetBaseImagePixelRGBA(&image, 1, 1, 200, 10, 20, 255);
  SetBaseImagePixelRGBA(&image, 3, 2, 5, 100, 250, 255);
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  settings.fillTransparentEdges = 1;
  const int handle = AllocGraphicHandle();
  ASSERT_EQ(0, CreateGraphFromBaseImages(&settings, handle, &image, nullptr, 0, 0));
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(handle, &read));
  // Expected: raster order, each drawn pixel writing its four transparent
  // neighbours (later writes win); drawn pixels unchanged.
  uint32_t expected[4][5] = {};
  const int drawn[2][2] = {{1, 1}, {3, 2}};
  for (const auto& d : drawn) {
    const uint32_t colour = GetBaseImagePixelARGB8(&image, d[0], d[1]) & 0xffffff;
    const int steps[4][2] = {{-1, 0}, {0, -1}, {1, 0}, {0, 1}};
    for (const auto& s : steps) {
      const int x = d[0] + s[0], y = d[1] + s[1];
      if (x >= 0 && y >= 0 && x < 5 && y < 4 && (GetBaseImagePixelARGB8(&image, x, y) & 0xffffff) == 0)
        expected[y][x] = colour;
    }
  }
  for (const auto& d : drawn) expected[d[1]][d[0]] = GetBaseImagePixelARGB8(&image, d[0], d[1]);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 5; x++) EXPECT_EQ(expected[y][x], GetBaseImagePixelARGB8(&read, x, y)) << x << "," << y;
  ReleaseBaseImage(&read);
  ReleaseBaseImage(&image);
}

}  // namespace

namespace {

std::string ReadWholeFile(const std::string& path) {
  std::string bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  fclose(f);
  return bytes;
}

// The whole sheet read back against the file.
int WrongSheetPixels(int handle, const BaseImageRecord& file) {
  BaseImageRecord read;
  if (ReadGraphToBaseImage(handle, &read) != 0) return -1;
  int wrong = 0;
  for (int y = 0; y < 320; y++)
    for (int x = 0; x < 220; x++) wrong += GetBaseImagePixelARGB8(&read, x, y) != Expected(GetBaseImagePixelARGB8(&file, x, y));
  ReleaseBaseImage(&read);
  return wrong;
}

TEST_F(GraphDisplayTest, OneGraphicFromAFileAndRefusedFiles) {
  const int handle = LoadImageGraph(SheetPath().c_str());
  ASSERT_GT(handle, 0) << log_.Text();
  EXPECT_EQ(0, WrongSheetPixels(handle, file_));
  EXPECT_EQ(1, GraphCount());
  EXPECT_EQ(-1, LoadImageGraph("no_such_picture.png"));
  EXPECT_TRUE(log_.Has("がありません")) << log_.Text();
  char folder[MAX_PATH], damaged[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  snprintf(damaged, sizeof damaged, "%sgraph_damaged_%lu.png", folder, GetCurrentProcessId());
  FILE* f = fopen(damaged, "wb");
  ASSERT_NE(nullptr, f);
  fputs("\x89PNG\r\n\x1a\nthis is no image at all", f);
  fclose(f);
  EXPECT_EQ(-1, LoadImageGraph(damaged));
  EXPECT_TRUE(log_.Has("右記のグラフィックファイルのロードに失敗しました")) << log_.Text();
  DeleteFileA(damaged);
  EXPECT_EQ(1, GraphCount()) << "refused loads leave no handle";
  ASSERT_EQ(0, DeleteGraphicHandle(handle));
  BaseImageRecord read;
  EXPECT_EQ(-1, ReadGraphToBaseImage(handle, &read)) << "a stale handle";
  EXPECT_EQ(-1, GetGraphicSize(handle, nullptr, nullptr));
}

TEST_F(GraphDisplayTest, AGraphicFromImageBytesKeepsACopyForTheRestore) {
  std::string* bytes = new std::string(ReadWholeFile(SheetPath()));
  ASSERT_GT(bytes->size(), 100u);
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  const int handle = CreateGraphFromMemoryWithSettings(&settings, 0, -1, bytes->data(),
                                                       static_cast<int>(bytes->size()), nullptr, 0, 1, 0, 0);
  delete bytes;  // the graphic keeps its own copy
  ASSERT_GT(handle, 0) << log_.Text();
  EXPECT_EQ(0, WrongSheetPixels(handle, file_));
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_EQ(0, WrongSheetPixels(handle, file_)) << "restored from the kept bytes";
  EXPECT_FALSE(log_.Has("メモリからの画像データのローができませんでした"));
  const int before = HandleManagers[HANDLETYPE_GRAPH].count;  // internal graphics went with the rebuild
  const char junk[16] = "not an image";
  EXPECT_EQ(-1, CreateGraphFromMemoryWithSettings(&settings, 0, -1, junk, sizeof junk, nullptr, 0, 1, 0, 0));
  EXPECT_EQ(before, HandleManagers[HANDLETYPE_GRAPH].count) << "a refused load leaves no handle";
}

TEST_F(GraphDisplayTest, ARefillNeedsTheSameSizeAndKeepsTheHandle) {
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  const int handle = CreateGraphFromBaseImageWithSettings(&settings, 0, -1, &file_, nullptr, 1, 0, 0, 0);
  ASSERT_GT(handle, 0);
  BaseImageRecord other;
  ASSERT_EQ(0, CreateBaseImageARGB8(220, 320, &other));
  for (int y = 0; y < 320; y++)
    for (int x = 0; x < 220; x++) SetBaseImagePixelRGBA(&other, x, y, 10, 200, 30, 255);
  ASSERT_EQ(0, CreateGraphFromBaseImageWithSettings(&settings, 1, handle, &other, nullptr, 1, 0, 0, 0));
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(handle, &read));
  EXPECT_EQ(0xFF0AC81Eu, GetBaseImagePixelARGB8(&read, 100, 100));
  ReleaseBaseImage(&read);
  ReleaseBaseImage(&other);
  BaseImageRecord small;
  ASSERT_EQ(0, CreateBaseImageARGB8(10, 10, &small));
  EXPECT_EQ(-1, CreateGraphFromBaseImageWithSettings(&settings, 1, handle, &small, nullptr, 1, 0, 0, 0));
  EXPECT_EQ(1, IsGraphicHandleValid(handle)) << "a refused refill leaves the graphic";
  ReleaseBaseImage(&small);
  // The base-image copy survives a rebuild.
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  ASSERT_EQ(0, ReadGraphToBaseImage(handle, &read));
  EXPECT_EQ(0xFF0AC81Eu, GetBaseImagePixelARGB8(&read, 100, 100));
  ReleaseBaseImage(&read);
}

}  // namespace
