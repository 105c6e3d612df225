// Views, screen copies, read-back and work render targets on the real
// device (Wine over Mesa, the harness's Xvfb): pixels read back against the
// file or the colour put on the back buffer.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "RaRadara.h"
#include "ReReziRader.h"
#include "RiDov.h"
#include "VeRavoro.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphView.h"
#include "VuViderezaRebuild.h"
#include "WindowFixture.h"

namespace {

std::string SheetPath() {
  char full[MAX_PATH];
  std::string path = std::string(QUINSEL_DATA_DIR) + "/img/player/thiko.png";
  return GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr) ? std::string(full) : path;
}

int GraphCount() { return HandleManagers[HANDLETYPE_GRAPH].count; }

class GraphViewTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(1, DeviceLayer.hardware);
    ASSERT_EQ(0, LoadImageToBaseImage(SheetPath().c_str(), nullptr, 0, 0, &file_, 0));
  }
  void TearDown() override {
    ReleaseBaseImage(&file_);
    DeviceWindowTest::TearDown();
  }
  // The back buffer filled with one colour (render target 0 is the back buffer).
  void FillBackBuffer(D3DCOLOR color) {
    EndDrawScene();
    ASSERT_EQ(D3D_OK, ColorFillDeviceSurface(DeviceLayer.backBuffer, nullptr, color));
  }
  // Pixels of a graphic (or of rect of it) that differ from value.
  int Other(int handle, uint32_t value, const RECT* rect = nullptr) {
    BaseImageRecord read;
    if (ReadGraphToBaseImage(handle, &read, rect) != 0) return -1;
    int other = 0;
    for (int y = 0; y < read.height; y++)
      for (int x = 0; x < read.width; x++) other += GetBaseImagePixelARGB8(&read, x, y) != value;
    ReleaseBaseImage(&read);
    return other;
  }
  BaseImageRecord file_{};
};

uint32_t Expected(uint32_t filePixel) { return (filePixel & 0xffffff) == 0 ? 0 : filePixel; }

TEST_F(GraphViewTest, AViewShowsItsRectangleAndAnOverhangIsClipped) {
  int whole[1];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 1, 1, 1, 220, 320, whole, 1));
  const int view = CreateDerivedGraph(60, 90, 40, 50, whole[0]);
  ASSERT_GT(view, 0);
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(view, &read));
  ASSERT_EQ(40, read.width);
  int wrong = 0;
  for (int y = 0; y < 50; y++)
    for (int x = 0; x < 40; x++)
      wrong += GetBaseImagePixelARGB8(&read, x, y) != Expected(GetBaseImagePixelARGB8(&file_, 60 + x, 90 + y));
  EXPECT_EQ(0, wrong);
  ReleaseBaseImage(&read);
  const int overhang = CreateDerivedGraph(200, 300, 50, 50, whole[0]);
  int w = 0, h = 0;
  ASSERT_EQ(0, GetGraphicSize(overhang, &w, &h));
  EXPECT_EQ(20, w);
  EXPECT_EQ(20, h);
  const int before = GraphCount();
  EXPECT_EQ(-1, CreateDerivedGraph(220, 0, 5, 5, whole[0])) << "the point lies outside";
  EXPECT_EQ(-1, CreateDerivedGraph(0, 0, 0, 5, whole[0]));
  EXPECT_EQ(-1, CreateDerivedGraph(0, 0, 5, 5, 12345));
  EXPECT_EQ(before, GraphCount()) << "a refused view leaves no handle";
  // A part of a graphic read back.
  const RECT part = {10, 20, 30, 25};
  ASSERT_EQ(0, ReadGraphToBaseImage(whole[0], &read, &part));
  EXPECT_EQ(20, read.width);
  EXPECT_EQ(5, read.height);
  EXPECT_EQ(Expected(GetBaseImagePixelARGB8(&file_, 15, 22)), GetBaseImagePixelARGB8(&read, 5, 2));
  ReleaseBaseImage(&read);
  const RECT outside = {0, 0, 221, 10};
  EXPECT_EQ(-1, ReadGraphToBaseImage(whole[0], &read, &outside));
}

TEST_F(GraphViewTest, TheDrawTargetCopiesIntoRenderTargetsAndPlainTextures) {
  FillBackBuffer(0xFF2050A0);
  const int drawable = MakeBlankGraph(32, 16, 1, 0);
  const int plain = MakeBlankGraph(32, 16, 0, 0);
  ASSERT_GT(drawable, 0);
  ASSERT_GT(plain, 0);
  ASSERT_EQ(0, CopyDrawTargetRectToGraph(100, 100, 132, 116, drawable)) << log_.Text();
  EXPECT_EQ(0, Other(drawable, 0xFF2050A0));
  ASSERT_EQ(0, CopyDrawTargetRectToGraph(0, 0, 32, 16, plain)) << log_.Text();
  EXPECT_EQ(0, Other(plain, 0xFF2050A0));
  EXPECT_EQ(-1, CopyDrawTargetRectToGraph(0, 0, 33, 16, plain)) << "another size";
}

TEST_F(GraphViewTest, ACopyReachingBeyondTheScreenFailsWithoutTouchingTheTarget) {
  FillBackBuffer(0xFF00FF00);
  const int target = MakeBlankGraph(64, 64, 1, 1);
  ASSERT_GT(target, 0);
  int sw = 0, sh = 0;
  ASSERT_EQ(0, GetGraphicSize(-2, &sw, &sh));
  EXPECT_EQ(-1, CopyScreenRectToGraph(-2, 0, {sw - 10, 0, sw + 1, 10}, 0, 0, target));
  EXPECT_EQ(-1, CopyScreenRectToGraph(-2, 0, {0, 0, 10, 10}, 60, 0, target)) << "does not fit the target";
  EXPECT_EQ(0, Other(target, 0)) << "the target stays cleared";
  ASSERT_EQ(0, CopyScreenRectToGraph(-2, 0, {0, 0, 10, 10}, 54, 54, target));
  const RECT corner = {54, 54, 64, 64};
  EXPECT_EQ(0, Other(target, 0xFF00FF00, &corner));
}

TEST_F(GraphViewTest, AWideTexturePieceReadsBackWholeBeyondTheScreenWidth) {
  BaseImageRecord image;
  ASSERT_EQ(0, CreateBaseImageARGB8(1024, 8, &image));
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 1024; x++) SetBaseImagePixelRGBA(&image, x, y, x & 255, x >> 2 & 255, y * 30, 255);
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  const int handle = AllocGraphicHandle();
  ASSERT_EQ(0, CreateGraphFromBaseImages(&settings, handle, &image, nullptr, 0, 0));
  int sw = 0;
  ASSERT_EQ(0, GetGraphicSize(-2, &sw, nullptr));
  ASSERT_LT(sw, 1024);
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(handle, &read));
  int wrong = 0;
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 1024; x++) wrong += GetBaseImagePixelARGB8(&read, x, y) != GetBaseImagePixelARGB8(&image, x, y);
  EXPECT_EQ(0, wrong);
  ReleaseBaseImage(&read);
  ReleaseBaseImage(&image);
}

TEST_F(GraphViewTest, WorkRenderTargetsAreSharedByPowerOfTwoSizeFloatnessAndSlot) {
  const int a = GetWorkRenderTargetGraph(0, 300, 20, 0);
  ASSERT_GT(a, 0) << log_.Text();
  EXPECT_EQ(a, GetWorkRenderTargetGraph(0, 500, 500, 0));
  int w = 0, h = 0;
  ASSERT_EQ(0, GetGraphicSize(a, &w, &h));
  EXPECT_EQ(512, w);
  EXPECT_EQ(512, h);
  const int other = GetWorkRenderTargetGraph(0, 300, 20, 1);
  EXPECT_GT(other, 0);
  EXPECT_NE(a, other);
  EXPECT_NE(a, GetWorkRenderTargetGraph(0, 100, 100, 0));
  ASSERT_EQ(0, DeleteGraphicHandle(a));
  const int again = GetWorkRenderTargetGraph(0, 400, 1, 0);
  EXPECT_GT(again, 0);
  EXPECT_NE(a, again) << "a deleted work target is made again";
  EXPECT_EQ(0, Other(again, 0));
}

TEST_F(GraphViewTest, ReadBackOfTheBackBufferDescribesTheRectangle) {
  FillBackBuffer(0xFF123456);
  const RECT rect = {5, 6, 25, 16};
  BaseImageRecord read;
  ASSERT_EQ(0, ReadBackGraphicPixels(&rect, &read, -2, 0, 1, 0));
  EXPECT_EQ(20, read.width);
  EXPECT_EQ(10, read.height);
  EXPECT_EQ(0x123456u, GetBaseImagePixelARGB8(&read, 19, 9) & 0xffffff);
  EXPECT_EQ(0, EndGraphicPixelReadBack());
  const RECT wrong = {5, 6, 4, 16};
  EXPECT_EQ(-1, ReadBackGraphicPixels(&wrong, &read, -2, 0, 1, 0));
}

// A full mip chain: every level is the one above halved, down to 1 x 1.
TEST_F(GraphViewTest, AFullMipChainHalvesEachLevel) {
  BaseImageRecord image;
  ASSERT_EQ(0, CreateBaseImageARGB8(64, 32, &image));
  for (int y = 0; y < 32; y++)
    for (int x = 0; x < 64; x++) SetBaseImagePixelRGBA(&image, x, y, x < 32 ? 200 : 0, 0, x < 32 ? 0 : 100, 255);
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  const GraphCreateSettings saved = settings;
  settings.mipCount = -1;
  const int handle = AllocGraphicHandle();
  ASSERT_EQ(0, CreateGraphFromBaseImages(&settings, handle, &image, nullptr, 0, 0));
  SetGraphCreateSettings(&saved);
  GraphicHandleRecord* record = GetGraphicRecord(handle, 0);
  ASSERT_NE(nullptr, record);
  ASSERT_EQ(7, record->image->mipCount);  // 64 x 32 down to 1 x 1
  IDirect3DTexture9* texture = record->image->textures[0].texture;
  const ColorFormatRecord* format = GetColorFormatForPixelFormat(record->image->pixelFormat);
  auto levelPixel = [&](int level, int x, int y) {
    D3DLOCKED_RECT locked;
    if (texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY) != D3D_OK) return 0xDEADu;
    BaseImageRecord view{};
    view.format = *format;
    view.width = x + 1;
    view.height = y + 1;
    view.pitch = locked.Pitch;
    view.pixels = locked.pBits;
    const uint32_t p = GetBaseImagePixelARGB8(&view, x, y);
    texture->UnlockRect(level);
    return p;
  };
  EXPECT_EQ(0xFFC80000u, levelPixel(1, 0, 0)) << "left half stays red";
  EXPECT_EQ(0xFF000064u, levelPixel(1, 31, 15)) << "right half stays blue";
  EXPECT_EQ(0xFFC80000u, levelPixel(5, 0, 0));  // 2 x 1
  EXPECT_EQ(0xFF000064u, levelPixel(5, 1, 0));
  EXPECT_EQ(0xFF640032u, levelPixel(6, 0, 0)) << "the last level is the average";
  ReleaseBaseImage(&image);
}

// A cube image: six faces into a cube texture, each face read back in
// place, and all six back after a rebuild from the kept copy.
TEST_F(GraphViewTest, ACubeImageFillsSixFacesThatComeBackAfterARebuild) {
  const uint32_t colors[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF};
  std::vector<uint32_t> pixels(6 * 16 * 16);
  for (int f = 0; f < 6; f++)
    for (int i = 0; i < 256; i++) pixels[f * 256 + i] = colors[f];
  BaseImageRecord cube{};
  MakeColorFormatARGB8(&cube.format);
  cube.width = cube.height = 16;
  cube.pitch = 64;
  cube.pixels = pixels.data();
  cube.cubeFlag = 1;
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  const int handle = CreateGraphFromBaseImageWithSettings({&settings, 0, -1, 0, 0, 0}, &cube, nullptr, 0);
  ASSERT_GT(handle, 0) << log_.Text();
  GraphicHandleRecord* record = GetGraphicRecord(handle, 0);
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(1, record->image->format.cube);
  auto faceColor = [&](int face) {
    const RECT rect = {3, 4, 5, 6};
    BaseImageRecord read;
    if (ReadBackGraphicPixels(&rect, &read, handle, face, 1, 0) != 0) return 0xDEADu;
    const uint32_t p = GetBaseImagePixelARGB8(&read, 1, 1);
    EndGraphicPixelReadBack();
    return p;
  };
  for (int f = 0; f < 6; f++) EXPECT_EQ(colors[f], faceColor(f)) << "face " << f;
  pixels.assign(pixels.size(), 0);  // the graphic keeps its own copy
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  for (int f = 0; f < 6; f++) EXPECT_EQ(colors[f], faceColor(f)) << "face " << f << " after the rebuild";
  // A plain image does not go into a cube graphic.
  BaseImageRecord plain;
  ASSERT_EQ(0, CreateBaseImageARGB8(16, 16, &plain));
  const RECT whole = {0, 0, 16, 16};
  EXPECT_EQ(-1, TransferImageToGraphTexture({&plain, nullptr, handle, &whole, 0, 0, 0, 0}, 0));
  ReleaseBaseImage(&plain);
}

// A DXT1 image goes into a DXT1 texture block for block; a plain image
// into it is refused with its log line and changes nothing.
TEST_F(GraphViewTest, BlocksGoIntoADxtTextureAndAPlainImageIsRefused) {
  if (GetDeviceFormatForPixelFormat(6) == 0) GTEST_SKIP() << "no DXT1 textures";
  std::vector<uint8_t> blocks(4 * 8);
  for (int b = 0; b < 4; b++) {
    const uint16_t color0 = static_cast<uint16_t>(0xF800 >> (b * 3)), color1 = 0x001F;
    memcpy(&blocks[b * 8], &color0, 2);
    memcpy(&blocks[b * 8 + 2], &color1, 2);
    for (int i = 4; i < 8; i++) blocks[b * 8 + i] = static_cast<uint8_t>(0x1B * (b + 1) + i);
  }
  BaseImageRecord dxt{};
  dxt.format = *GetColorFormatForPixelFormat(6);
  dxt.width = dxt.height = 8;
  dxt.pitch = 16;  // one row of two blocks
  dxt.pixels = blocks.data();
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  const int handle = AllocGraphicHandle();
  ASSERT_EQ(0, CreateGraphFromBaseImages(&settings, handle, &dxt, nullptr, 0, 0)) << log_.Text();
  GraphicHandleRecord* record = GetGraphicRecord(handle, 0);
  ASSERT_NE(nullptr, record);
  ASSERT_EQ(6, record->image->pixelFormat);
  IDirect3DTexture9* texture = record->image->textures[0].texture;
  auto textureBlocks = [&]() {
    std::vector<uint8_t> out;
    D3DLOCKED_RECT locked;
    if (texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY) != D3D_OK) return out;
    for (int row = 0; row < 2; row++) {
      const uint8_t* p = static_cast<const uint8_t*>(locked.pBits) + row * locked.Pitch;
      out.insert(out.end(), p, p + 16);
    }
    texture->UnlockRect(0);
    return out;
  };
  EXPECT_EQ(blocks, textureBlocks());
  BaseImageRecord plain;
  ASSERT_EQ(0, CreateBaseImageARGB8(8, 8, &plain));
  const RECT whole = {0, 0, 8, 8};
  TransferImageToGraphTexture({&plain, nullptr, handle, &whole, 0, 0, 0, 0}, 0);
  ReleaseBaseImage(&plain);
  EXPECT_TRUE(log_.Has("DXTフォーマットのテクスチャに標準形式のイメージを転送することはできません")) << log_.Text();
  EXPECT_EQ(blocks, textureBlocks()) << "the refused image changed nothing";
}

// Render-target graphics: their own depth surface unless told otherwise;
// a multi-sampled one draws into its multi-sample surface, which the
// resolution copies into the texture.
TEST_F(GraphViewTest, RenderTargetsGetDepthAndMultiSampleSurfaces) {
  GraphCreateSettings settings;
  InitDrawableGraphSettings(&settings, 32, 1);
  const int plain = CreateBlankGraphHandle(&settings, 64, 64, 0, 0, 0);
  ASSERT_GT(plain, 0);
  EXPECT_NE(nullptr, GetGraphicRecord(plain, 0)->image->textures[0].writeOnlySurface);
  EXPECT_EQ(0, IsMultiSampleGraph(plain));
  settings.noDepth = 1;
  const int noDepth = CreateBlankGraphHandle(&settings, 64, 64, 0, 0, 0);
  ASSERT_GT(noDepth, 0);
  EXPECT_EQ(nullptr, GetGraphicRecord(noDepth, 0)->image->textures[0].writeOnlySurface);

  settings.noDepth = 0;
  settings.multiSampleType = 4;
  const int sampled = CreateBlankGraphHandle(&settings, 64, 64, 0, 0, 0);
  ASSERT_GT(sampled, 0) << log_.Text();
  GraphTextureEntry& entry = GetGraphicRecord(sampled, 0)->image->textures[0];
  if (entry.multiSampleSurface == nullptr) GTEST_SKIP() << "no multi-sampling on this device";
  EXPECT_EQ(1, IsMultiSampleGraph(sampled));
  EndDrawScene();
  ASSERT_EQ(D3D_OK, ColorFillDeviceSurface(entry.multiSampleSurface, nullptr, 0xFF405060));
  // The texture itself, read through a system-memory copy of its surface.
  auto texturePixel = [&]() {
    IDirect3DSurface9* copy = nullptr;
    if (DeviceLayer.device->CreateOffscreenPlainSurface(64, 64, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &copy, nullptr) !=
        D3D_OK)
      return 0xDEADu;
    uint32_t value = 0xDEAD;
    D3DLOCKED_RECT locked;
    if (DeviceLayer.device->GetRenderTargetData(entry.faces[0], copy) == D3D_OK &&
        copy->LockRect(&locked, nullptr, D3DLOCK_READONLY) == D3D_OK) {
      value = static_cast<const uint32_t*>(locked.pBits)[10 * locked.Pitch / 4 + 10];
      copy->UnlockRect();
    }
    copy->Release();
    return value;
  };
  EXPECT_EQ(0u, texturePixel()) << "the texture waits for the resolution";
  EXPECT_EQ(0, Other(sampled, 0xFF405060)) << "read-back takes the multi-sample surface";
  ASSERT_EQ(0, ResolveMultiSampleSurface(&entry, 0));
  EXPECT_EQ(0xFF405060u, texturePixel());
}

}  // namespace
