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
  ASSERT_EQ(0, LoadDividedGraph(SheetPath().c_str(), {16, 4, 4, 55, 80}, handles, 0, 1));
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

TEST_F(GraphDisplayTest, EdgeFillGivesTransparentNeighboursTheColorAtAlphaZero) {
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
    const uint32_t color = GetBaseImagePixelARGB8(&image, d[0], d[1]) & 0xffffff;
    const int steps[4][2] = {{-1, 0}, {0, -1}, {1, 0}, {0, 1}};
    for (const auto& s : steps) {
      const int x = d[0] + s[0], y = d[1] + s[1];
      if (x >= 0 && y >= 0 && x < 5 && y < 4 && (GetBaseImagePixelARGB8(&image, x, y) & 0xffffff) == 0)
        expected[y][x] = color;
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
    for (int x = 0; x < 220; x++)
      wrong += GetBaseImagePixelARGB8(&read, x, y) != Expected(GetBaseImagePixelARGB8(&file, x, y));
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
  const int handle = CreateGraphFromMemoryWithSettings({&settings, 0, -1, 1, 0, 0}, bytes->data(),
                                                       static_cast<int>(bytes->size()), nullptr, 0);
  delete bytes;  // the graphic keeps its own copy
  ASSERT_GT(handle, 0) << log_.Text();
  EXPECT_EQ(0, WrongSheetPixels(handle, file_));
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_EQ(0, WrongSheetPixels(handle, file_)) << "restored from the kept bytes";
  EXPECT_FALSE(log_.Has("メモリからの画像データのローができませんでした"));
  const int before = HandleManagers[HANDLETYPE_GRAPH].count;  // internal graphics went with the rebuild
  const char junk[16] = "not an image";
  EXPECT_EQ(-1, CreateGraphFromMemoryWithSettings({&settings, 0, -1, 1, 0, 0}, junk, sizeof junk, nullptr, 0));
  EXPECT_EQ(before, HandleManagers[HANDLETYPE_GRAPH].count) << "a refused load leaves no handle";
}

TEST_F(GraphDisplayTest, ARefillNeedsTheSameSizeAndKeepsTheHandle) {
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  const int handle = CreateGraphFromBaseImageWithSettings({&settings, 0, -1, 1, 0, 0}, &file_, nullptr, 0);
  ASSERT_GT(handle, 0);
  BaseImageRecord other;
  ASSERT_EQ(0, CreateBaseImageARGB8(220, 320, &other));
  for (int y = 0; y < 320; y++)
    for (int x = 0; x < 220; x++) SetBaseImagePixelRGBA(&other, x, y, 10, 200, 30, 255);
  ASSERT_EQ(0, CreateGraphFromBaseImageWithSettings({&settings, 1, handle, 1, 0, 0}, &other, nullptr, 0));
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(handle, &read));
  EXPECT_EQ(0xFF0AC81Eu, GetBaseImagePixelARGB8(&read, 100, 100));
  ReleaseBaseImage(&read);
  ReleaseBaseImage(&other);
  BaseImageRecord small;
  ASSERT_EQ(0, CreateBaseImageARGB8(10, 10, &small));
  EXPECT_EQ(-1, CreateGraphFromBaseImageWithSettings({&settings, 1, handle, 1, 0, 0}, &small, nullptr, 0));
  EXPECT_EQ(1, IsGraphicHandleValid(handle)) << "a refused refill leaves the graphic";
  ReleaseBaseImage(&small);
  // The base-image copy survives a rebuild.
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  ASSERT_EQ(0, ReadGraphToBaseImage(handle, &read));
  EXPECT_EQ(0xFF0AC81Eu, GetBaseImagePixelARGB8(&read, 100, 100));
  ReleaseBaseImage(&read);
}

}  // namespace

namespace {

// The file's pixels as a top-down 32-bit GDI bitmap (no alpha: the fourth
// byte is unused) with red and blue swapped when asked.
struct SheetBitmap {
  BITMAPINFO info{};
  std::string bits;
  SheetBitmap(const BaseImageRecord& file, bool swap) {
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = file.width;
    info.bmiHeader.biHeight = -file.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bits.resize(static_cast<size_t>(file.width) * file.height * 4);
    uint32_t* out = reinterpret_cast<uint32_t*>(&bits[0]);
    for (int y = 0; y < file.height; y++)
      for (int x = 0; x < file.width; x++) out[y * file.width + x] = Color(file, x, y, swap);
  }
  // The colour the bitmap holds for a file pixel.
  static uint32_t Color(const BaseImageRecord& file, int x, int y, bool swap) {
    const uint32_t p = GetBaseImagePixelARGB8(&file, x, y) & 0xffffff;
    return swap ? (p & 0x00ff00) | (p >> 16) | (p & 0xff) << 16 : p;
  }
};

// A bitmap's pixel as a graphic shows it: the transparent colour (black)
// clear, any other colour opaque.
uint32_t ExpectedFromBitmap(uint32_t color) { return color == 0 ? 0 : color | 0xff000000u; }

// Pixels of rectangle (x, y, w, h) of a graphic that differ from the
// expectation at the same place of the source (fx, fy the source's origin).
template <typename F>
int WrongPixels(int handle, int w, int h, int fx, int fy, F expected) {
  BaseImageRecord read;
  if (ReadGraphToBaseImage(handle, &read) != 0) return -1;
  int wrong = 0;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) wrong += GetBaseImagePixelARGB8(&read, x, y) != expected(fx + x, fy + y);
  ReleaseBaseImage(&read);
  return wrong;
}

// Writes the bitmap's colours as a 24-bit BMP file (rows bottom-up).
bool WriteBmp(const std::string& path, const SheetBitmap& bitmap) {
  const int width = bitmap.info.bmiHeader.biWidth, height = -bitmap.info.bmiHeader.biHeight;
  const int pitch = (width * 3 + 3) / 4 * 4;
  std::string rows(static_cast<size_t>(pitch) * height, '\0');
  const uint32_t* colors = reinterpret_cast<const uint32_t*>(bitmap.bits.data());
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      const uint32_t c = colors[y * width + x];
      char* at = &rows[static_cast<size_t>(height - 1 - y) * pitch + x * 3];
      at[0] = static_cast<char>(c & 0xff);
      at[1] = static_cast<char>(c >> 8 & 0xff);
      at[2] = static_cast<char>(c >> 16 & 0xff);
    }
  BITMAPINFOHEADER info = bitmap.info.bmiHeader;
  info.biBitCount = 24;
  info.biHeight = height;
  BITMAPFILEHEADER head{};
  head.bfType = 0x4D42;
  head.bfOffBits = sizeof head + sizeof info;
  head.bfSize = static_cast<DWORD>(head.bfOffBits + rows.size());
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  fwrite(&head, sizeof head, 1, f);
  fwrite(&info, sizeof info, 1, f);
  fwrite(rows.data(), 1, rows.size(), f);
  return fclose(f) == 0;
}

std::string TempName(const char* name) {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + name + std::to_string(GetCurrentProcessId()) + ".bmp";
}

// Graphics from image bytes and from GDI bitmaps, single and divided, read
// back equal to their source; each keeps a copy that a rebuild refills from.
TEST_F(GraphDisplayTest, GraphicsFromBytesAndBitmapsReadBackEqualToTheirSource) {
  const std::string bytes = ReadWholeFile(SheetPath());
  ASSERT_GT(bytes.size(), 100u);
  const SheetBitmap bitmap(file_, false);
  const auto fromFile = [&](int x, int y) { return Expected(GetBaseImagePixelARGB8(&file_, x, y)); };
  const auto fromBitmap = [&](int x, int y) { return ExpectedFromBitmap(SheetBitmap::Color(file_, x, y, false)); };
  const int single[2] = {MakeGraphFromMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, 0, 1),
                         MakeGraphFromBitmap(&bitmap.info, bitmap.bits.data(), nullptr, nullptr, 1)};
  int tiles[2][16];
  ASSERT_EQ(0, LoadImageDividedFromMemory(bytes.data(), static_cast<int>(bytes.size()), 16, 4, 4, 55, 80, tiles[0], 1));
  ASSERT_EQ(0, LoadImageDividedFromBitmap(&bitmap.info, bitmap.bits.data(), 16, 4, 4, 55, 80, tiles[1], 1));
  ASSERT_GT(single[0], 0) << log_.Text();
  ASSERT_GT(single[1], 0) << log_.Text();
  EXPECT_EQ(2 + 32, GraphCount()) << "the whole-image handles are gone";
  for (int pass = 0; pass < 2; pass++) {
    SCOPED_TRACE(pass == 0 ? "made" : "after a rebuild");
    EXPECT_EQ(0, WrongPixels(single[0], 220, 320, 0, 0, fromFile));
    EXPECT_EQ(0, WrongPixels(single[1], 220, 320, 0, 0, fromBitmap));
    for (int i = 0; i < 16; i++) {
      EXPECT_EQ(0, WrongPixels(tiles[0][i], 55, 80, i % 4 * 55, i / 4 * 80, fromFile)) << "tile " << i;
      EXPECT_EQ(0, WrongPixels(tiles[1][i], 55, 80, i % 4 * 55, i / 4 * 80, fromBitmap)) << "tile " << i;
    }
    if (pass == 0) {
      ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
    }
  }
  EXPECT_FALSE(log_.Has("メモリからの画像データのローができませんでした")) << log_.Text();
  // A bitmap refills a graphic of its size in place; a smaller one is refused.
  const SheetBitmap swapped(file_, true);
  ASSERT_EQ(0, ReloadGraphFromBitmap(single[0], &swapped.info, swapped.bits.data(), nullptr, nullptr, 1));
  EXPECT_EQ(0, WrongPixels(single[0], 220, 320, 0, 0,
                           [&](int x, int y) { return ExpectedFromBitmap(SheetBitmap::Color(file_, x, y, true)); }));
  ASSERT_EQ(0, ReloadGraphFromMemory(single[0], bytes.data(), static_cast<int>(bytes.size()), nullptr, 0, 1));
  EXPECT_EQ(0, WrongPixels(single[0], 220, 320, 0, 0, fromFile));
  BITMAPINFO small = bitmap.info;
  small.bmiHeader.biWidth = 10;
  small.bmiHeader.biHeight = -10;
  EXPECT_EQ(-1, ReloadGraphFromBitmap(single[0], &small, bitmap.bits.data(), nullptr, nullptr, 1));
  EXPECT_EQ(1, IsGraphicHandleValid(single[0]));
  const int before = GraphCount();
  EXPECT_EQ(-1, MakeGraphFromMemory("junk", 4, nullptr, 0, 1));
  int refused[4];
  EXPECT_EQ(-1, LoadImageDividedFromBitmap(&small, bitmap.bits.data(), 4, 2, 2, 55, 80, refused, 1));
  EXPECT_EQ(-1, refused[0]);
  EXPECT_EQ(before, GraphCount()) << "refused loads leave no handle";
}

// Refilling tiles: each tile takes its grid cell of the new image, whether
// the tiles share one texture (one transfer) or come from several loads
// (one rectangle each); a file that does not cover the grid is refused.
TEST_F(GraphDisplayTest, ReloadImageDividedRefillsTheTilesInPlace) {
  const SheetBitmap swapped(file_, true);
  const std::string path = TempName("graph_reload_");
  ASSERT_TRUE(WriteBmp(path, swapped));
  const auto fromSwapped = [&](int x, int y) { return ExpectedFromBitmap(SheetBitmap::Color(file_, x, y, true)); };
  const auto fromFile = [&](int x, int y) { return Expected(GetBaseImagePixelARGB8(&file_, x, y)); };
  int first[16], second[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, first, 1));
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, second, 1));
  ASSERT_EQ(0, ReloadImageDivided(path.c_str(), 16, 4, 4, 55, 80, first, 1)) << log_.Text();
  for (int i = 0; i < 16; i++)
    EXPECT_EQ(0, WrongPixels(first[i], 55, 80, i % 4 * 55, i / 4 * 80, fromSwapped)) << "shared tile " << i;
  // Half of one sheet's tiles and half of the other's.
  int mixed[16];
  for (int i = 0; i < 16; i++) mixed[i] = i < 8 ? first[i] : second[i];
  ASSERT_EQ(0, ReloadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, mixed, 1));
  for (int i = 0; i < 16; i++) {
    EXPECT_EQ(0, WrongPixels(mixed[i], 55, 80, i % 4 * 55, i / 4 * 80, fromFile)) << "mixed tile " << i;
    if (i >= 8) {
      EXPECT_EQ(0, WrongPixels(first[i], 55, 80, i % 4 * 55, i / 4 * 80, fromSwapped)) << "tile " << i << " untouched";
    }
  }
  // The refilled tiles come back from their new source after a rebuild.
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_EQ(0, WrongPixels(mixed[0], 55, 80, 0, 0, fromFile));
  EXPECT_EQ(0, WrongPixels(first[15], 55, 80, 165, 240, fromSwapped));
  EXPECT_EQ(-1, ReloadImageDivided(path.c_str(), 16, 4, 4, 56, 80, first, 1)) << "a grid wider than the image";
  EXPECT_EQ(-1, ReloadImageDivided("no_such_sheet.png", 16, 4, 4, 55, 80, first, 1));
  EXPECT_EQ(32, GraphCount()) << "refused refills leave the tiles";
  EXPECT_EQ(0, WrongPixels(first[15], 55, 80, 165, 240, fromSwapped));
  DeleteFileA(path.c_str());
}

// An asynchronous load from base images works on copies of the caller's
// records: the caller's record may go as soon as the call returns.
TEST_F(GraphDisplayTest, AnAsynchronousLoadFromBaseImagesCopiesTheCallersRecords) {
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  BaseImageRecord* record = new BaseImageRecord(file_);
  const int handle = CreateGraphFromBaseImageWithSettings({&settings, 0, -1, 1, 0, 1}, record, nullptr, 0);
  memset(record, 0, sizeof *record);
  delete record;
  ASSERT_GT(handle, 0);
  EXPECT_EQ(0, IsGraphicHandleValid(handle)) << "pending until the job ends";
  ASSERT_TRUE(WaitForJobs());
  ASSERT_EQ(1, IsGraphicHandleValid(handle)) << log_.Text();
  EXPECT_EQ(0, WrongSheetPixels(handle, file_));
  // Tiles from a bitmap by a job: the header and the handle array may go
  // at once (the bits stay until the load ends).
  const SheetBitmap swapped(file_, true);
  SetASyncLoadEnabled(1);
  BITMAPINFO* info = new BITMAPINFO(swapped.info);
  int* handles = new int[4];
  const int result = LoadImageDividedFromBitmap(info, swapped.bits.data(), 4, 2, 2, 55, 80, handles, 1);
  SetASyncLoadEnabled(0);
  int tiles[4];
  memcpy(tiles, handles, sizeof tiles);
  memset(info, 0, sizeof *info);
  delete info;
  memset(handles, 0xff, 4 * sizeof(int));
  delete[] handles;
  ASSERT_EQ(0, result);
  ASSERT_TRUE(WaitForJobs());
  for (int i = 0; i < 4; i++) {
    ASSERT_EQ(1, IsGraphicHandleValid(tiles[i])) << log_.Text();
    EXPECT_EQ(0, WrongPixels(tiles[i], 55, 80, i % 2 * 55, i / 2 * 80,
                             [&](int x, int y) { return ExpectedFromBitmap(SheetBitmap::Color(file_, x, y, true)); }))
        << "tile " << i;
  }
}

// With the restore switch set, graphics keep no source: a device loss
// leaves them empty. Graphics made after it is set back keep theirs.
TEST_F(GraphDisplayTest, WithTheRestoreSwitchSetGraphicsComeBackEmpty) {
  const std::string bytes = ReadWholeFile(SheetPath());
  ASSERT_EQ(0, SetRememberGraphSource(0));
  int forgotten[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, forgotten, 1));
  const int single = MakeGraphFromMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, 0, 1);
  ASSERT_EQ(0, SetRememberGraphSource(1));
  int kept[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, kept, 1));
  ASSERT_GT(single, 0);
  EXPECT_EQ(nullptr, GetGraphicRecord(single, 0)->sourceBlock);
  for (int i = 0; i < 16; i++) {
    EXPECT_EQ(nullptr, GetGraphicRecord(forgotten[i], 0)->sourceBlock) << i;
    EXPECT_NE(nullptr, GetGraphicRecord(kept[i], 0)->sourceBlock) << i;
  }
  EXPECT_EQ(0, WrongSheetPixels(single, file_)) << "drawn as usual until the loss";
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  const auto empty = [](int, int) { return 0u; };
  EXPECT_EQ(0, WrongPixels(single, 220, 320, 0, 0, empty));
  EXPECT_EQ(0, WrongPixels(forgotten[5], 55, 80, 0, 0, empty));
  ExpectTileEqualsFile(kept[5], 5, 0);
}

}  // namespace
