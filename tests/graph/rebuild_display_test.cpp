// Device rebuild on the real device (Wine over Mesa, the harness's Xvfb):
// every kind of device object comes back with its contents and the old
// device is left with no object of ours; matrices, draw area and a second
// render target are as before; the callbacks run around it; a device made
// "not reset" by a real Reset is rebuilt on activation; repeated rebuilds
// leave no memory block and no device object behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "RaRadara.h"
#include "ReReziRader.h"
#include "RiDov.h"
#include "RuRovoreziZuzu.h"
#include "VeRavoro.h"
#include "VuViderezaBuffer.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaRebuild.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShader.h"
#include "VuViderezaShaderCode.h"
#include "VuViderezaShadowMap.h"
#include "VuViderezaTransform.h"
#include "WindowFixture.h"
#include "ZiDezaru.h"

namespace {

std::string SheetPath() {
  char full[MAX_PATH];
  std::string path = std::string(QUINSEL_DATA_DIR) + "/img/player/thiko.png";
  return GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr) ? std::string(full) : path;
}

std::vector<uint8_t> Pattern(size_t size, int seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; i++) bytes[i] = static_cast<uint8_t>(i * 11 + seed);
  return bytes;
}

using test_support::BackBufferPixel;
using test_support::DeviceBufferBytes;

Matrix4 Numbered(float base) {
  Matrix4 m;
  float* f = &m.m[0][0];
  for (int i = 0; i < 16; i++) f[i] = base + static_cast<float>(i);
  return m;
}

bool SameMatrix(const Matrix4& a, const Matrix4& b) { return memcmp(&a, &b, sizeof a) == 0; }

IDirect3DSurface9* DeviceRenderTarget(DWORD index) {
  IDirect3DSurface9* surface = nullptr;
  if (DeviceLayer.device->GetRenderTarget(index, &surface) != D3D_OK) return nullptr;
  surface->Release();  // only compared
  return surface;
}

class RebuildDisplayTest : public test_support::DeviceWindowTest {
 protected:
  void SetUp() override {
    DeviceWindowTest::SetUp();
    ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
    ASSERT_EQ(1, DeviceLayer.hardware);
    ASSERT_EQ(0, LoadImageToBaseImage(SheetPath().c_str(), nullptr, 0, 0, &file_, 0)) << SheetPath();
  }
  void TearDown() override {
    SetDeviceBeforeResetCallback(nullptr, nullptr);
    SetDeviceAfterRestoreCallback(nullptr, nullptr);
    ReleaseBaseImage(&file_);
    DeviceWindowTest::TearDown();
  }
  // Tile i of the 4 x 4 sheet read back against the file (black is the
  // transparent colour: alpha 0).
  int WrongTilePixels(int handle, int i) {
    BaseImageRecord read;
    if (ReadGraphToBaseImage(handle, &read) != 0) return -1;
    int wrong = 0;
    for (int y = 0; y < 80; y++)
      for (int x = 0; x < 55; x++) {
        const uint32_t f = GetBaseImagePixelARGB8(&file_, i % 4 * 55 + x, i / 4 * 80 + y);
        if (GetBaseImagePixelARGB8(&read, x, y) != ((f & 0xffffff) == 0 ? 0 : f)) wrong++;
      }
    ReleaseBaseImage(&read);
    return wrong;
  }
  // Every pixel of a graphic equal to value (-1 when it cannot be read).
  int PixelsOtherThan(int handle, uint32_t value) {
    BaseImageRecord read;
    if (ReadGraphToBaseImage(handle, &read) != 0) return -1;
    int other = 0;
    for (int y = 0; y < read.height; y++)
      for (int x = 0; x < read.width; x++) other += GetBaseImagePixelARGB8(&read, x, y) != value;
    ReleaseBaseImage(&read);
    return other;
  }
  int UserPixelShader() {
    const void* code;
    uint32_t size;
    if (FindShaderCode(1, "ps_mask_blend.pso", &code, &size) != 0) return -1;
    return LoadPixelShaderFromMemory(code, static_cast<int>(size));
  }
  BaseImageRecord file_{};
};

TEST_F(RebuildDisplayTest, EveryDeviceObjectComesBackAndTheOldDeviceKeepsNone) {
  int tiles[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, tiles, 1));
  const int target = MakeBlankGraph(64, 32, 1, 1);
  ASSERT_GT(target, 0) << log_.Text();
  const int vb = CreateVertexBufferHandle(32, 40);
  ASSERT_GT(vb, 0);
  const std::vector<uint8_t> vertices = Pattern(32 * 40, 5);
  ASSERT_EQ(0, SetVertexBufferData(0, vertices.data(), 40, vb));
  const int map = MakeShadowMap(128, 128, 16, 1);
  ASSERT_GT(map, 0) << log_.Text();
  const int shader = UserPixelShader();
  ASSERT_GT(shader, 0) << log_.Text();

  test_support::DeviceReleaseRecorder recorder;
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  ASSERT_EQ(1, HasDirect3DDevice());
  // The old device's last release reached 0: no texture, surface, buffer or
  // shader of ours kept it alive.
  ASSERT_FALSE(recorder.Releases().empty());
  EXPECT_EQ(0u, recorder.Releases().back()) << "objects of the old device were left";

  for (int i = 0; i < 16; i++) EXPECT_EQ(0, WrongTilePixels(tiles[i], i)) << "tile " << i;
  EXPECT_EQ(0, PixelsOtherThan(target, 0)) << "a blank render target reads back cleared";
  EXPECT_EQ(vertices, DeviceBufferBytes(GetVertexBufferObject(vb), 32 * 40));
  ShadowMapRecord* m = reinterpret_cast<ShadowMapRecord*>(GetHandleRecord(map));
  ASSERT_NE(nullptr, m);
  EXPECT_NE(nullptr, m->texture);
  EXPECT_NE(nullptr, m->depthSurface);
  ShaderHandleRecord* s = reinterpret_cast<ShaderHandleRecord*>(GetHandleRecord(shader));
  ASSERT_NE(nullptr, s);
  ASSERT_NE(nullptr, s->shader);
  EXPECT_EQ(0, SetDevicePixelShaderFromHandle(shader));
  UINT length = 0;
  EXPECT_EQ(D3D_OK, reinterpret_cast<IDirect3DPixelShader9*>(s->shader)->GetFunction(nullptr, &length));
  EXPECT_GT(length, 0u);
  EXPECT_EQ(1, GetDeviceRebuiltFlag());
}

TEST_F(RebuildDisplayTest, MatricesDrawAreaAndASecondRenderTargetAreAsBefore) {
  const Matrix4 world = Numbered(1.0f), view = Numbered(20.0f), projection = Numbered(40.0f);
  ASSERT_EQ(0, StoreWorldMatrix(&world));
  ASSERT_EQ(0, StoreViewMatrix(&view));
  ASSERT_EQ(0, StoreProjectionMatrix(&projection));
  ASSERT_EQ(0, SetViewportRect(10, 20, 300, 200));
  const D3DVIEWPORT9 area = RenderState.viewport;
  const int second = MakeBlankGraph(64, 64, 1, 1);
  ASSERT_GT(second, 0);
  const bool twoTargets = AreShadersUsable() && DeviceCaps.maxRenderTargets >= 2;
  if (twoTargets) {
    ASSERT_EQ(0, SetDrawTargetOfIndex(1, second, 0));
  }

  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_TRUE(SameMatrix(world, Transforms.world));
  EXPECT_TRUE(SameMatrix(view, Transforms.view));
  EXPECT_TRUE(SameMatrix(projection, Transforms.projection));
  D3DMATRIX sent;
  ASSERT_EQ(D3D_OK, DeviceLayer.device->GetTransform(D3DTS_WORLD, &sent));
  EXPECT_EQ(0, memcmp(&sent, &world, sizeof sent)) << "the new device has the world matrix";
  ASSERT_EQ(D3D_OK, DeviceLayer.device->GetTransform(D3DTS_VIEW, &sent));
  EXPECT_EQ(0, memcmp(&sent, &view, sizeof sent));
  D3DVIEWPORT9 viewport;
  ASSERT_EQ(D3D_OK, DeviceLayer.device->GetViewport(&viewport));
  EXPECT_EQ(area.X, viewport.X);
  EXPECT_EQ(area.Y, viewport.Y);
  EXPECT_EQ(area.Width, viewport.Width);
  EXPECT_EQ(area.Height, viewport.Height);
  if (!twoTargets) GTEST_SKIP() << "one render target only";
  int surface = -1;
  EXPECT_EQ(second, GetDrawTargetOfIndex(1, &surface));
  GraphicHandleRecord* record = GetGraphicRecord(second, 0);
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(record->image->textures[0].faces[0], DeviceRenderTarget(1));
  // Deleting it takes it off the device.
  ASSERT_EQ(0, DeleteGraphicHandle(second));
  EXPECT_EQ(0, GetDrawTargetOfIndex(1, nullptr));
  EXPECT_EQ(nullptr, DeviceRenderTarget(1));
}

TEST_F(RebuildDisplayTest, SecondTargetsRefuseWhatIsNoRenderTarget) {
  if (!AreShadersUsable() || DeviceCaps.maxRenderTargets < 2) GTEST_SKIP() << "one render target only";
  int tiles[2];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 2, 2, 1, 55, 80, tiles, 1));
  EXPECT_EQ(-1, SetDrawTargetOfIndex(1, tiles[0], 0)) << "a plain texture";
  EXPECT_EQ(-1, SetDrawTargetOfIndex(-1, tiles[0], 0));
  EXPECT_EQ(-1, SetDrawTargetOfIndex(DeviceCaps.maxRenderTargets, tiles[0], 0));
  EXPECT_EQ(0, GetDrawTargetOfIndex(1, nullptr));
  const int target = MakeBlankGraph(32, 32, 1, 0);
  ASSERT_EQ(0, SetDrawTargetOfIndex(1, target, 0));
  EXPECT_EQ(0, SetDrawTargetOfIndex(1, -1, 0)) << "no graphic clears the slot";
  EXPECT_EQ(0, GetDrawTargetOfIndex(1, nullptr));
  EXPECT_EQ(nullptr, DeviceRenderTarget(1));
}

struct CallbackLog {
  std::vector<std::string> calls;
  RebuildDisplayTest* test;
  int tile;
  int wrongAtRestore = -2;
};

TEST_F(RebuildDisplayTest, CallbacksRunBeforeTheReleaseAndAfterTheRestore) {
  int tiles[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, tiles, 1));
  static CallbackLog log;
  log = CallbackLog{};
  log.tile = tiles[5];
  SetDeviceBeforeResetCallback(
      [](void* data) {
        static_cast<CallbackLog*>(data)->calls.push_back(HasDirect3DDevice() ? "before:device" : "before:none");
      },
      &log);
  SetDeviceAfterRestoreCallback(
      [](void* data) {
        CallbackLog* l = static_cast<CallbackLog*>(data);
        l->calls.push_back("after");
        BaseImageRecord read;
        l->wrongAtRestore = ReadGraphToBaseImage(l->tile, &read) == 0 ? 0 : -1;
        if (l->wrongAtRestore == 0) {
          l->wrongAtRestore = GetBaseImagePixelARGB8(&read, 27, 40) == 0 ? 1 : 0;  // the sprite's middle is drawn
          ReleaseBaseImage(&read);
        }
      },
      &log);
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_EQ((std::vector<std::string>{"before:device", "after"}), log.calls);
  EXPECT_EQ(0, log.wrongAtRestore) << "the tiles are back when the after-restore callback runs";
  EXPECT_EQ(0, WrongTilePixels(tiles[5], 5));
}

TEST_F(RebuildDisplayTest, ARealResetLeavesTheDeviceNotResetAndActivationRebuildsIt) {
  int tiles[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, tiles, 1));
  const int target = MakeBlankGraph(64, 64, 1, 1);  // a default-pool texture keeps Reset from working
  ASSERT_GT(target, 0);
  IDirect3DSwapChain9* chain = nullptr;
  ASSERT_EQ(D3D_OK, DeviceLayer.device->GetSwapChain(0, &chain));
  D3DPRESENT_PARAMETERS params;
  ASSERT_EQ(D3D_OK, chain->GetPresentParameters(&params));
  chain->Release();
  EndDrawScene();
  EXPECT_NE(D3D_OK, DeviceLayer.device->Reset(&params));
  ASSERT_EQ(1, TestDeviceCooperativeLevel()) << "the device is not reset";
  IDirect3DDevice9* old = DeviceLayer.device;

  OnActivationChange(WA_INACTIVE, 0);
  OnActivationChange(WA_ACTIVE, 0);
  ASSERT_EQ(1, HasDirect3DDevice());
  EXPECT_EQ(0, TestDeviceCooperativeLevel());
  EXPECT_TRUE(old != DeviceLayer.device || GetDeviceRebuiltFlag() == 1);
  for (int i = 0; i < 16; i++) EXPECT_EQ(0, WrongTilePixels(tiles[i], i)) << "tile " << i;
  EXPECT_EQ(0, PixelsOtherThan(target, 0));
}

TEST_F(RebuildDisplayTest, RepeatedRebuildsLeaveNoBlockAndNoDeviceObject) {
  int tiles[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, tiles, 1));
  ASSERT_GT(MakeBlankGraph(64, 64, 1, 1), 0);
  const int vb = CreateVertexBufferHandle(16, 16);
  ASSERT_GT(vb, 0);
  ASSERT_GT(CreateIndexBufferHandle(32, INDEX_TYPE_32BIT), 0);
  ASSERT_GT(MakeShadowMap(64, 64, 32, 0), 0);
  ASSERT_GT(UserPixelShader(), 0);
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());  // first-use blocks (tables, caches) made once
  const int blocks = GetAllocCount();
  test_support::DeviceReleaseRecorder recorder;
  const int REBUILDS = 10;  // a hundred run against the fake device
  for (int i = 0; i < REBUILDS; i++) ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_EQ(blocks, GetAllocCount()) << "memory blocks after " << REBUILDS << " rebuilds";
  const std::vector<ULONG>& releases = recorder.Releases();
  EXPECT_EQ(REBUILDS, std::count(releases.begin(), releases.end(), 0u))
      << "every old device ended with its last release";
  for (int i = 0; i < 16; i++) EXPECT_EQ(0, WrongTilePixels(tiles[i], i)) << "tile " << i;
}

// A windowed screen-mode change through SetScreenMode: 640 x 480 to
// 800 x 600 and back. Each mode ends and starts the graphics system, so the
// graphics of the old mode go with it; the same file loads again to the same
// pixels. After each change the back buffer, the client area and the size
// queries have the new size, and a frame drawn over the whole new screen
// reads back from the back buffer and from the window.
TEST_F(RebuildDisplayTest, AWindowedModeChangeResizesBuffersWindowAndDrawing) {
  int tiles[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, tiles, 1));
  BaseImageRecord before;
  ASSERT_EQ(0, ReadGraphToBaseImage(tiles[5], &before));
  Settle();

  const int sizes[][2] = {{800, 600}, {640, 480}};
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1];
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    ASSERT_EQ(0, SetScreenMode(w, h, 32, 0)) << log_.Text();
    Settle();
    ASSERT_EQ(1, HasDirect3DDevice());

    D3DSURFACE_DESC desc;
    ASSERT_EQ(D3D_OK, DeviceLayer.backBuffer->GetDesc(&desc));
    EXPECT_EQ(static_cast<UINT>(w), desc.Width);
    EXPECT_EQ(static_cast<UINT>(h), desc.Height);
    RECT client;
    ASSERT_TRUE(GetClientRect(GetMainWindowHandle(), &client));
    EXPECT_EQ(w, client.right);
    EXPECT_EQ(h, client.bottom);
    int qw = 0, qh = 0, bits = 0;
    GetScreenModeSize(&qw, &qh, &bits);
    EXPECT_EQ(w, qw);
    EXPECT_EQ(h, qh);
    EXPECT_EQ(32, bits);
    GetScreenSizeSetting(&qw, &qh);
    EXPECT_EQ(w, qw);
    EXPECT_EQ(h, qh);

    // The old mode's graphics went with it; the file loads again to the same pixels.
    ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, tiles, 1)) << log_.Text();
    BaseImageRecord after;
    ASSERT_EQ(0, ReadGraphToBaseImage(tiles[5], &after));
    ASSERT_EQ(before.width, after.width);
    ASSERT_EQ(before.height, after.height);
    int different = 0;
    for (int y = 0; y < before.height; y++)
      for (int x = 0; x < before.width; x++)
        different += GetBaseImagePixelARGB8(&before, x, y) != GetBaseImagePixelARGB8(&after, x, y);
    ReleaseBaseImage(&after);
    EXPECT_EQ(0, different);
    for (int i = 0; i < 16; i++) EXPECT_EQ(0, WrongTilePixels(tiles[i], i)) << "tile " << i;

    // The frame: a background over the whole screen, a box in each corner,
    // tile 5 in the middle drawn without transparency.
    struct Box {
      int x1, y1, x2, y2, r, g, b;
    };
    const Box boxes[] = {{0, 0, w, h, 20, 40, 60},
                         {0, 0, 8, 8, 0, 250, 0},
                         {w - 8, 0, w, 8, 0, 0, 250},
                         {0, h - 8, 8, h, 250, 250, 0},
                         {w - 8, h - 8, w, h, 250, 10, 10}};
    for (const Box& b : boxes) ASSERT_EQ(0, DrawRectShape(b.x1, b.y1, b.x2, b.y2, MakeColorValue(b.r, b.g, b.b), 1));
    const int tileX = w / 2 - 27, tileY = h / 2 - 40;
    ASSERT_EQ(0, DrawImageAt(tileX, tileY, tiles[5], 0));
    ASSERT_EQ(0, PresentBackBuffer());
    struct Probe {
      int x, y;
      DWORD rgb;
    };
    const Probe probes[] = {{0, 0, 0x00FA00},         {7, 7, 0x00FA00},         {8, 8, 0x14283C},
                            {w - 1, 0, 0x0000FA},     {0, h - 1, 0xFAFA00},     {w - 1, h - 1, 0xFA0A0A},
                            {w - 8, h - 8, 0xFA0A0A}, {w - 9, h - 9, 0x14283C}, {w / 2, 20, 0x14283C}};
    for (const Probe& p : probes) EXPECT_EQ(p.rgb, BackBufferPixel(p.x, p.y)) << "back buffer at " << p.x << "," << p.y;
    // Row 40 of the tile as the file has it.
    int wrongRow = 0;
    for (int x = 0; x < 55; x++)
      wrongRow += BackBufferPixel(tileX + x, tileY + 40) !=
                  (GetBaseImagePixelARGB8(&file_, 55 + x, 80 + 40) & 0xFFFFFF);
    EXPECT_EQ(0, wrongRow) << "pixels of the drawn tile";
    Settle();
    // The window shows the whole frame: its far corner too.
    EXPECT_EQ(0xFA0A0Au, WindowPixel(w - 1, h - 1));
    EXPECT_EQ(0x00FA00u, WindowPixel(0, 0));
  }
  ReleaseBaseImage(&before);
}

}  // namespace
