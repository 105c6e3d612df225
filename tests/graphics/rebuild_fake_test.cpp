// Device loss and rebuild against the fake device call table: losses the
// machine cannot produce (a lost or not-reset device found on activation),
// the order of releases and re-creations, user shaders made again on the
// new device and a refused re-creation, a restart that falls back to
// software (graphics refilled as memory images and drawn onto the software
// screen), a hundred rebuilds that leave no memory block behind, and the
// transfer-texture pool's upkeep.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "FakeDirect3D.h"
#include "LogCapture.h"
#include "DiDAridIrer.h"
#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "ReReziRader.h"
#include "TestFiles.h"
#include "RuRovoreziZuzu.h"
#include "VeRavoro.h"
#include "VuViderezaBuffer.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphPool.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VuViderezaRebuild.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShader.h"
#include "VuViderezaShape.h"
#include "VuViderezaShaderCode.h"
#include "VuViderezaShadowMap.h"
#include "VuViderezaTransform.h"
#include "ZiDezaru.h"

using test_support::FakeDirect3D;
using test_support::LogCapture;

namespace {

std::vector<std::string>* Order = nullptr;
int Releases = 0;
char Objects[16];
// What every lock of the fake hands out: room for a 2048 x 2048 ARGB8 texture
// (the fonts' glyph caches are locked and filled on a rebuild too).
uint8_t Memory[1 << 24];

class RebuildFakeTest : public ::testing::Test {
 protected:
  FakeDirect3D fake;
  LogCapture log_{test_support::SharedTempFolder("RIDOV_REBUILD_TEST_FOLDER", "rebuild")};
  void SetUp() override {
    StartupSettings.windowed = 1;
    Screen.width = 640;
    Screen.height = 480;
    Screen.colorBits = 32;
    ASSERT_EQ(0, InitializeGraphicsSystem());
    ASSERT_EQ(1, DeviceLayer.hardware);
    Releases = 0;
    fake.table.ReleaseComObject = [](IUnknown*) -> ULONG {
      Releases++;
      return 0;
    };
    // Texture surfaces, fills, index buffers and locks the common fake leaves out.
    fake.table.GetTextureSurfaceLevel = [](IDirect3DTexture9*, UINT, IDirect3DSurface9** s) -> HRESULT {
      *s = reinterpret_cast<IDirect3DSurface9*>(&Objects[0]);
      return D3D_OK;
    };
    fake.table.ColorFillDeviceSurface = [](IDirect3DSurface9*, const RECT*, D3DCOLOR) -> HRESULT { return D3D_OK; };
    fake.table.CreateDeviceIndexBuffer = [](UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DIndexBuffer9** b,
                                            HANDLE*) -> HRESULT {
      *b = reinterpret_cast<IDirect3DIndexBuffer9*>(&Objects[1]);
      return D3D_OK;
    };
    fake.table.LockBuffer = [](IDirect3DResource9*, UINT, UINT, void** data, DWORD) -> HRESULT {
      *data = Memory;
      return D3D_OK;
    };
    fake.table.UnlockBuffer = [](IDirect3DResource9*) -> HRESULT { return D3D_OK; };
    fake.table.LockTextureRect = [](IDirect3DTexture9*, UINT, D3DLOCKED_RECT* locked, const RECT*, DWORD) -> HRESULT {
      locked->pBits = Memory;
      locked->Pitch = 8192;
      return D3D_OK;
    };
    fake.table.UnlockTextureRect = [](IDirect3DTexture9*, UINT) -> HRESULT { return D3D_OK; };
  }
  void TearDown() override {
    Order = nullptr;
    SetDeviceBeforeResetCallback(nullptr, nullptr);
    SetDeviceAfterRestoreCallback(nullptr, nullptr);
    TerminateGraphicsSystem();
    StartupSettings.windowed = 0;
    WinSys.active = 0;
  }
  int UserPixelShader() {
    const void* code;
    uint32_t size;
    if (FindShaderCode(1, "ps_mask_blend.pso", &code, &size) != 0) return -1;
    return LoadPixelShaderFromMemory(code, static_cast<int>(size));
  }
  static ShaderHandleRecord* Shader(int handle) {
    return reinterpret_cast<ShaderHandleRecord*>(GetHandleRecord(handle));
  }
  int DevicesMade() const { return fake.Count("CreateDevice("); }
};

// Activation of a window whose device reports code: rebuilt or not.
struct LossCase {
  HRESULT cooperativeLevel;
  bool rebuilt;
};

TEST_F(RebuildFakeTest, ActivationRebuildsOnlyALostOrNotResetDevice) {
  const LossCase cases[] = {
      {D3D_OK, false}, {D3DERR_DEVICELOST, true}, {D3DERR_DEVICENOTRESET, true}, {D3DERR_DRIVERINTERNALERROR, true}};
  for (const LossCase& c : cases) {
    const int before = DevicesMade();
    fake.cooperativeLevel = c.cooperativeLevel;
    WinSys.active = 0;
    OnActivationChange(WA_ACTIVE, 0);
    EXPECT_EQ(c.rebuilt ? before + 1 : before, DevicesMade()) << std::hex << c.cooperativeLevel;
    EXPECT_EQ(1, HasDirect3DDevice());
  }
}

TEST_F(RebuildFakeTest, ObjectsAreReleasedBeforeTheDeviceEndsAndMadeAgainAfterItStarts) {
  const int target = MakeBlankGraph(32, 32, 1, 1);
  ASSERT_GT(target, 0) << log_.Text();
  const int vb = CreateVertexBufferHandle(16, 8);
  ASSERT_GT(vb, 0);
  const int map = MakeShadowMap(64, 64, 16, 0);
  ASSERT_GT(map, 0);
  const int shader = UserPixelShader();
  ASSERT_GT(shader, 0);
  std::vector<std::string> order;
  Order = &order;
  SetDeviceBeforeResetCallback([](void*) { Order->push_back("before"); }, nullptr);
  SetDeviceAfterRestoreCallback([](void*) { Order->push_back(HasDirect3DDevice() ? "after" : "after:none"); }, nullptr);
  fake.calls.clear();
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_EQ((std::vector<std::string>{"before", "after"}), order);
  EXPECT_EQ(1, DevicesMade());
  GraphicHandleRecord* record = GetGraphicRecord(target, 0);
  ASSERT_NE(nullptr, record);
  EXPECT_NE(nullptr, record->image->textures[0].texture);
  EXPECT_NE(nullptr, GetVertexBufferObject(vb));
  EXPECT_NE(nullptr, reinterpret_cast<ShadowMapRecord*>(GetHandleRecord(map))->texture);
  EXPECT_NE(nullptr, Shader(shader)->shader) << "the user shader is made on the new device";
  // Buffer and shader re-creation come after the new device.
  const std::string calls = fake.Joined();
  const size_t device = calls.find("CreateDevice(");
  ASSERT_NE(std::string::npos, device);
  const size_t buffer = calls.find("CreateVertexBuffer");
  ASSERT_NE(std::string::npos, buffer);
  EXPECT_GT(buffer, device) << "the buffer is made on the new device";
  EXPECT_EQ(1, GetDeviceRebuiltFlag());
}

TEST_F(RebuildFakeTest, AUserShaderThatCannotBeMadeAgainIsLoggedAndLeftEmpty) {
  const int shader = UserPixelShader();
  ASSERT_GT(shader, 0);
  fake.shaderResult = E_FAIL;  // base shaders and the user's fail on the new device
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_EQ(nullptr, Shader(shader)->shader);
  EXPECT_TRUE(log_.Has("ピクセルシェーダーの作成に失敗しました")) << log_.Text();
  fake.shaderResult = D3D_OK;
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_NE(nullptr, Shader(shader)->shader) << "kept code makes it on the next device";
  EXPECT_EQ(0, DeleteHandle(shader));
}

TEST_F(RebuildFakeTest, ARestartWithoutADeviceLeavesSoftwareModeAndStillReturnsZero) {
  const int target = MakeBlankGraph(16, 16, 1, 0);
  ASSERT_GT(target, 0);
  for (int i = 0; i < 16; i++) fake.createDeviceResults.push_back(D3DERR_NOTAVAILABLE);
  EXPECT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_EQ(0, DeviceLayer.hardware);
  EXPECT_EQ(0, HasDirect3DDevice());
  EXPECT_EQ(-1, SetDrawTargetOfIndex(1, target, 0));
  EXPECT_EQ(0, DeleteGraphicHandle(target));
}

// A screen pixel of the software screen as 0x00RRGGBB (32-bit screen).
uint32_t ScreenPixel(int x, int y) {
  const uint8_t* row = SoftwareScreenImage.pixels + y * SoftwareScreenImage.header->pitch;
  return reinterpret_cast<const uint32_t*>(row)[x] & 0xffffff;
}

// A device that cannot be made again leaves drawing on the software screen:
// the graphics come back as memory images filled from their sources, and
// drawing reaches the screen. A later restart stays with memory images.
TEST_F(RebuildFakeTest, ARestartWithoutADeviceFallsBackToTheSoftwareScreen) {
  BaseImageRecord image;
  ASSERT_EQ(0, CreateBaseImageARGB8(8, 6, &image));
  for (int y = 0; y < 6; y++)
    for (int x = 0; x < 8; x++) SetBaseImagePixelRGBA(&image, x, y, 20 + x * 25, 40 + y * 30, 200, 255);
  const int graphic = MakeGraphFromBaseImages(&image, nullptr, 0);
  ASSERT_GT(graphic, 0) << log_.Text();
  ASSERT_EQ(0, IsValidMemImg(&SoftwareScreenImage));
  const auto expectGraphicIsTheImage = [&](const char* when) {
    BaseImageRecord read;
    ASSERT_EQ(0, ReadGraphToBaseImage(graphic, &read)) << when;
    int wrong = 0;
    for (int y = 0; y < 6; y++)
      for (int x = 0; x < 8; x++)
        wrong += (GetBaseImagePixelARGB8(&read, x, y) & 0xffffff) != (GetBaseImagePixelARGB8(&image, x, y) & 0xffffff);
    EXPECT_EQ(0, wrong) << when;
    ReleaseBaseImage(&read);
  };
  for (int i = 0; i < 16; i++) fake.createDeviceResults.push_back(D3DERR_NOTAVAILABLE);
  EXPECT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_EQ(0, DeviceLayer.hardware);
  EXPECT_EQ(1, IsValidMemImg(&SoftwareScreenImage)) << "a screen to draw on";
  EXPECT_TRUE(log_.Has("ソフトウエア描画に切り替えます")) << log_.Text();
  GraphicHandleRecord* record = GetGraphicRecord(graphic, 0);
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(0, record->image->format.textureBacked);
  EXPECT_EQ(1, IsValidMemImg(&record->softImage));
  expectGraphicIsTheImage("after the fall-back");

  LibraryState.started = 1;
  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
  ASSERT_EQ(0, ClearDrawTarget(nullptr));
  ASSERT_EQ(0, DrawImageAt(10, 20, graphic, 0));
  LibraryState.started = 0;
  int wrong = 0;
  for (int y = 0; y < 6; y++)
    for (int x = 0; x < 8; x++)
      wrong += ScreenPixel(10 + x, 20 + y) != (GetBaseImagePixelARGB8(&image, x, y) & 0xffffff);
  EXPECT_EQ(0, wrong) << "the graphic drawn onto the software screen";
  EXPECT_EQ(ScreenPixel(0, 0), ScreenPixel(30, 30)) << "the rest cleared";

  fake.createDeviceResults.clear();  // a device could be made now
  EXPECT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_EQ(0, DeviceLayer.hardware) << "memory-image graphics stay in memory";
  expectGraphicIsTheImage("after a second restart");
  EXPECT_EQ(0, DeleteGraphicHandle(graphic));
  ReleaseBaseImage(&image);
}

TEST_F(RebuildFakeTest, ReleasingTheDeviceAloneDropsEveryObjectAndARebuildBringsThemBack) {
  const int vb = CreateVertexBufferHandle(16, 8);
  const int shader = UserPixelShader();
  ASSERT_GT(vb, 0);
  ASSERT_GT(shader, 0);
  ReleaseGraphicsDevice();
  EXPECT_EQ(0, HasDirect3DDevice());
  EXPECT_EQ(nullptr, GetVertexBufferObject(vb));
  EXPECT_EQ(nullptr, Shader(shader)->shader);
  const uint8_t bytes[16 * 2] = {1, 2, 3};
  EXPECT_EQ(0, SetVertexBufferData(0, bytes, 2, vb)) << "the system copy takes writes while lost";
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  EXPECT_NE(nullptr, GetVertexBufferObject(vb));
  EXPECT_NE(nullptr, Shader(shader)->shader);
}

TEST_F(RebuildFakeTest, ANewModeBecomesTheScreenSettingAndThe32BitMemoryImageType) {
  ASSERT_EQ(0, RebuildGraphicsDevice(32, 800, 600, 0, 1));
  int width = 0, height = 0;
  GetScreenSizeSetting(&width, &height);
  EXPECT_EQ(800, width);
  EXPECT_EQ(600, height);
  EXPECT_EQ(32, Screen.colorBits);
  EXPECT_EQ(1, HasDirect3DDevice());
  ASSERT_FALSE(fake.deviceParams.empty());
  EXPECT_EQ(800u, fake.deviceParams.back().BackBufferWidth);
}

TEST_F(RebuildFakeTest, AHundredRebuildsLeaveNoMemoryBlockAndReleaseAsMuchEachTime) {
  ASSERT_GT(MakeBlankGraph(32, 32, 1, 1), 0);
  ASSERT_GT(CreateVertexBufferHandle(16, 8), 0);
  ASSERT_GT(CreateIndexBufferHandle(12, INDEX_TYPE_16BIT), 0);
  ASSERT_GT(MakeShadowMap(64, 64, 16, 0), 0);
  ASSERT_GT(UserPixelShader(), 0);
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  const int blocks = GetAllocCount();
  Releases = 0;
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  const int perRebuild = Releases;
  EXPECT_GT(perRebuild, 10);
  for (int i = 0; i < 99; i++) {
    Releases = 0;
    ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
    ASSERT_EQ(perRebuild, Releases) << "rebuild " << i;
  }
  EXPECT_EQ(blocks, GetAllocCount());
}

// Matrices and lights as the device received them, each with the position
// its call has in the fake's log.
struct MatrixCall {
  size_t at;
  DWORD state;
  D3DMATRIX matrix;
};
struct LightCall {
  size_t at;
  DWORD index;
  D3DLIGHT9 light;
};
std::vector<MatrixCall>* Matrices = nullptr;
std::vector<LightCall>* LightsSent = nullptr;

D3DMATRIX NumberedMatrix(float base) {
  D3DMATRIX m;
  for (int i = 0; i < 16; i++) (&m._11)[i] = base + static_cast<float>(i);
  return m;
}

class RebuildStatesFakeTest : public RebuildFakeTest {
 protected:
  void SetUp() override {
    RebuildFakeTest::SetUp();
    Matrices = &matrices_;
    LightsSent = &lights_;
    fake.table.SetDeviceTransform = [](D3DTRANSFORMSTATETYPE state, const D3DMATRIX* m) -> HRESULT {
      std::vector<std::string>& calls = FakeDirect3D::current->calls;
      Matrices->push_back({calls.size(), static_cast<DWORD>(state), *m});
      calls.push_back("SetTransform(" + std::to_string(state) + ")");
      return D3D_OK;
    };
    fake.table.SetDeviceLightRaw = [](DWORD index, const D3DLIGHT9* light) -> HRESULT {
      std::vector<std::string>& calls = FakeDirect3D::current->calls;
      LightsSent->push_back({calls.size(), index, *light});
      calls.push_back("SetLight(" + std::to_string(index) + "," + std::to_string(light->Type) + ")");
      return D3D_OK;
    };
  }
  void TearDown() override {
    Matrices = nullptr;
    LightsSent = nullptr;
    RebuildFakeTest::TearDown();
  }
  // Position of the last new device's creation in the log.
  size_t LastDevice() const {
    for (size_t i = fake.calls.size(); i-- > 0;)
      if (fake.calls[i].rfind("CreateDevice(", 0) == 0) return i;
    return std::string::npos;
  }
  bool SentAfter(size_t from, const std::string& call) const {
    return std::find(fake.calls.begin() + static_cast<std::ptrdiff_t>(from), fake.calls.end(), call) !=
           fake.calls.end();
  }
  bool MatrixSentAfter(size_t from, DWORD state, const D3DMATRIX& m) const {
    for (const MatrixCall& c : matrices_)
      if (c.at > from && c.state == state && memcmp(&c.matrix, &m, sizeof m) == 0) return true;
    return false;
  }
  std::vector<MatrixCall> matrices_;
  std::vector<LightCall> lights_;
};

TEST_F(RebuildStatesFakeTest, EveryCachedStateIsSentToTheNewDevice) {
  // A new draw target resets the 3-D view, so it comes before the world matrix.
  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
  ASSERT_EQ(0, SetClipRect(10, 20, 300, 200));
  const D3DMATRIX texture1 = NumberedMatrix(1.0f), texture3 = NumberedMatrix(100.0f);
  ASSERT_EQ(0, SetTextureTransformCached(1, &texture1));
  ASSERT_EQ(0, SetTextureTransformCached(3, &texture3));
  Matrix4 world;
  memcpy(&world, &texture3, sizeof world);
  world.m[3][0] = 7.5f;
  ASSERT_EQ(0, StoreWorldMatrix(&world));
  ASSERT_EQ(0, SetUseLighting(1));
  ASSERT_EQ(0, SetAmbientColor(0x80402010));
  const int light = CreateDirectionalLight(0.0f, 0.0f, 1.0f);
  ASSERT_GE(light, 0);
  GetLightRecord(light)->light.Diffuse = {0.25f, 0.5f, 0.75f, 1.0f};
  ASSERT_EQ(0, ApplyLightsToDevice());
  // Indices the stage programs leave on the higher stages.
  for (int t = 4; t < RENDER_STAGES; t++) {
    RenderState.stages[t].texCoordIndex = static_cast<DWORD>(RENDER_STAGES - 1 - t);
    RenderState.stages[t].set |= 1;
  }

  fake.calls.clear();
  matrices_.clear();
  lights_.clear();
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  const size_t device = LastDevice();
  ASSERT_NE(std::string::npos, device);

  struct Expected {
    const char* what;
    std::string call;
  };
  std::vector<Expected> table = {
      {"stage 1 texture transform on", "TSS(1,24,3)"},
      {"stage 3 texture transform on", "TSS(3,24,3)"},
      {"stage 5 texture transform off", "TSS(5,24,0)"},
      {"stage 7 texture transform off", "TSS(7,24,0)"},
      {"lighting on", "RS(137,1)"},
      {"ambient colour", "RS(139," + std::to_string(0x80402010u) + ")"},
      {"viewport of the draw area", "Viewport(10,20,290,180)"},
      {"scissor of the draw area", "Scissor(10,20,300,200)"},
  };
  for (int t = 4; t < RENDER_STAGES; t++)
    table.push_back({"texture-coordinate index",
                     "TSS(" + std::to_string(t) + ",11," + std::to_string(RENDER_STAGES - 1 - t) + ")"});
  for (const Expected& e : table) EXPECT_TRUE(SentAfter(device, e.call)) << e.what << ": " << e.call;

  EXPECT_TRUE(MatrixSentAfter(device, D3DTS_TEXTURE1, texture1)) << "stage 1 matrix";
  EXPECT_TRUE(MatrixSentAfter(device, D3DTS_TEXTURE3, texture3)) << "stage 3 matrix";
  D3DMATRIX worldSent;
  memcpy(&worldSent, &world, sizeof worldSent);
  EXPECT_TRUE(MatrixSentAfter(device, D3DTS_WORLD, worldSent)) << "world matrix";
  int lightIndex = -1;
  for (const LightCall& c : lights_)
    if (c.at > device && c.light.Type == D3DLIGHT_DIRECTIONAL && c.light.Diffuse.r == 0.25f &&
        c.light.Diffuse.g == 0.5f && c.light.Diffuse.b == 0.75f)
      lightIndex = static_cast<int>(c.index);
  ASSERT_GE(lightIndex, 0) << "the light's data on the new device";
  EXPECT_TRUE(SentAfter(device, "LightEnable(" + std::to_string(lightIndex) + ",1)"));
  // The cache mirrors what was sent last.
  EXPECT_EQ(0x80402010u, GetAmbientColorWord());
  EXPECT_EQ(10u, RenderState.viewport.X);
  EXPECT_EQ(180u, RenderState.viewport.Height);
  EXPECT_EQ(0, DeleteLightHandle(light));
}

// A screen-mode change ends and starts the whole graphics system: the new
// size reaches the queries and the device, render target 0 is the screen
// with the whole draw size as draw area, and the further targets are empty.
struct ModeCase {
  int width, height;              // asked for
  int screenWidth, screenHeight;  // back buffer
  int queryWidth, queryHeight;    // GetScreenModeSize and GetScreenSizeSetting
  int emulation;                  // 320 x 240 drawn doubled
};

TEST_F(RebuildStatesFakeTest, AModeChangeShowsTheNewSizeWithTheScreenAsTheOnlyTarget) {
  const ModeCase cases[] = {
      {800, 600, 800, 600, 800, 600, 0},
      {320, 240, 640, 480, 320, 240, 1},
      {1024, 768, 1024, 768, 1024, 768, 0},
      {640, 480, 640, 480, 640, 480, 0},
  };
  fake.table.SetDeviceRenderTarget = [](DWORD index, IDirect3DSurface9* surface) -> HRESULT {
    FakeDirect3D::current->calls.push_back("RT(" + std::to_string(index) + (surface ? ",surface)" : ",null)"));
    return D3D_OK;
  };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const int first = MakeBlankGraph(32, 32, 1, 1), second = MakeBlankGraph(32, 32, 1, 1);
    ASSERT_GT(first, 0) << log_.Text();
    ASSERT_GT(second, 0);
    ASSERT_EQ(0, SetDrawTarget(first));
    ASSERT_EQ(0, SetDrawTargetOfIndex(1, second, 0));
    ASSERT_EQ(second, GetDrawTargetOfIndex(1, nullptr));
    fake.calls.clear();

    ASSERT_EQ(0, ChangeScreenMode(c.width, c.height, 32, 0, 0));
    EXPECT_EQ(0, Screen.modeChanging);
    int w = 0, h = 0, bits = 0;
    GetScreenModeSize(&w, &h, &bits);
    EXPECT_EQ(c.queryWidth, w);
    EXPECT_EQ(c.queryHeight, h);
    EXPECT_EQ(32, bits);
    GetScreenSizeSetting(&w, &h);
    EXPECT_EQ(c.queryWidth, w);
    EXPECT_EQ(c.queryHeight, h);
    EXPECT_EQ(c.screenWidth, Screen.width);
    EXPECT_EQ(c.emulation, IsScreenEmulationOn());
    ASSERT_FALSE(fake.deviceParams.empty());
    EXPECT_EQ(static_cast<UINT>(c.screenWidth), fake.deviceParams.back().BackBufferWidth);
    EXPECT_EQ(static_cast<UINT>(c.screenHeight), fake.deviceParams.back().BackBufferHeight);

    // The restarted graphics system draws to the front screen, as at start-up.
    EXPECT_EQ(SCREEN_FRONT, GetDrawTarget());
    EXPECT_EQ(0, GetDrawTargetOfIndex(1, nullptr));
    const RECT whole = {0, 0, c.queryWidth, c.queryHeight};
    EXPECT_TRUE(EqualRect(&whole, &CurrentDrawState.drawArea) != 0)
        << CurrentDrawState.drawArea.right << "x" << CurrentDrawState.drawArea.bottom;
    EXPECT_EQ(0, CurrentDrawState.areaEmpty);
    EXPECT_EQ(static_cast<DWORD>(c.queryWidth), RenderState.viewport.Width);
    EXPECT_EQ(static_cast<DWORD>(c.queryHeight), RenderState.viewport.Height);
    const size_t device = LastDevice();
    ASSERT_NE(std::string::npos, device);
    EXPECT_TRUE(SentAfter(device, "RT(0,surface)"));
    // The new device starts with no further target; the cache knows it.
    EXPECT_FALSE(SentAfter(device, "RT(1,surface)"));
    EXPECT_EQ(nullptr, GetCachedRenderTarget(1));
  }
}

// A refused 320 x 240 request falls back to the mode from before, which
// keeps drawing at its own size.
TEST_F(RebuildFakeTest, ARefused320x240RequestFallsBackToTheOldModeWithoutEmulation) {
  ASSERT_EQ(0, ChangeScreenMode(800, 600, 32, 0, 0));
  ASSERT_EQ(0, IsScreenEmulationOn());
  fake.directDrawFailures = 2;  // 640 x 480 drawn doubled, tried twice
  ASSERT_EQ(0, ChangeScreenMode(320, 240, 32, 0, 0));
  int w = 0, h = 0;
  GetScreenModeSize(&w, &h, nullptr);
  EXPECT_EQ(800, w);
  EXPECT_EQ(600, h);
  EXPECT_EQ(0, IsScreenEmulationOn());
  GetScreenSizeSetting(&w, &h);
  EXPECT_EQ(800, w);
  EXPECT_EQ(600, h);
  EXPECT_EQ(800, Screen.width);
}

// Render target 0 as the device last received it.
IDirect3DSurface9* DeviceTarget0 = nullptr;

class SubBackBufferFakeTest : public RebuildStatesFakeTest {
 protected:
  void SetUp() override {
    RebuildStatesFakeTest::SetUp();
    DeviceTarget0 = nullptr;
    fake.table.SetDeviceRenderTarget = [](DWORD index, IDirect3DSurface9* surface) -> HRESULT {
      if (index == 0) DeviceTarget0 = surface;
      FakeDirect3D::current->calls.push_back("RT(" + std::to_string(index) + ")");
      return D3D_OK;
    };
  }
  // The last call of a kind ("Viewport(", "Scissor("), or empty.
  std::string Last(const std::string& prefix) const {
    for (size_t i = fake.calls.size(); i-- > 0;)
      if (fake.calls[i].rfind(prefix, 0) == 0) return fake.calls[i];
    return "";
  }
  std::string CachedViewport() const {
    const D3DVIEWPORT9& v = RenderState.viewport;
    return "Viewport(" + std::to_string(v.X) + "," + std::to_string(v.Y) + "," + std::to_string(v.Width) + "," +
           std::to_string(v.Height) + ")";
  }
};

TEST_F(SubBackBufferFakeTest, TheSubBackBufferIsRenderTargetZeroInTheCachesAndThroughARebuild) {
  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
  ASSERT_EQ(0, SetClipRect(10, 20, 300, 200));
  ASSERT_EQ(0, UseSubBackBuffer());
  IDirect3DSurface9* sub = DeviceLayer.subBackBuffer;
  ASSERT_NE(nullptr, sub);
  EXPECT_EQ(sub, DeviceTarget0);
  EXPECT_EQ(sub, GetCachedRenderTarget(0));
  // The new render target 0 took the whole-surface viewport, and so did the cache.
  EXPECT_EQ("Viewport(0,0,640,480)", Last("Viewport("));
  EXPECT_EQ(Last("Viewport("), CachedViewport());
  // The same draw area again is not skipped by a stale cached viewport.
  fake.calls.clear();
  ASSERT_EQ(0, SetClipRect(10, 20, 300, 200));
  EXPECT_EQ("Viewport(10,20,290,180)", Last("Viewport("));

  fake.calls.clear();
  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  ASSERT_NE(std::string::npos, LastDevice());
  ASSERT_NE(nullptr, DeviceLayer.subBackBuffer) << "made again on the new device";
  EXPECT_EQ(DeviceLayer.subBackBuffer, DeviceTarget0);
  EXPECT_EQ(DeviceLayer.subBackBuffer, GetCachedRenderTarget(0));
  EXPECT_EQ("Viewport(10,20,290,180)", Last("Viewport("));
  EXPECT_EQ(Last("Viewport("), CachedViewport());
  EXPECT_EQ("Scissor(10,20,300,200)", Last("Scissor("));

  // The whole screen again: the cache must not skip it.
  fake.calls.clear();
  ASSERT_EQ(0, SetClipRect(0, 0, 640, 480));
  EXPECT_EQ("Viewport(0,0,640,480)", Last("Viewport("));
  // The present copies the sub back buffer into the back buffer.
  fake.calls.clear();
  EXPECT_EQ(0, PresentSoftwareScreen(nullptr));
  const auto stretch = std::find(fake.calls.begin(), fake.calls.end(), "StretchRect");
  ASSERT_NE(fake.calls.end(), stretch);
  const auto present = std::find_if(fake.calls.begin(), fake.calls.end(),
                                    [](const std::string& c) { return c.rfind("Present(", 0) == 0; });
  ASSERT_NE(fake.calls.end(), present);
  EXPECT_LT(stretch, present);
}

TEST_F(SubBackBufferFakeTest, DrawingIntoAGraphicKeepsItAsRenderTargetZero) {
  const int graph = MakeBlankGraph(64, 32, 1, 1);
  ASSERT_GT(graph, 0);
  ASSERT_EQ(0, SetDrawTarget(graph));
  IDirect3DSurface9* graphSurface = DeviceTarget0;
  ASSERT_NE(nullptr, graphSurface);
  ASSERT_EQ(0, UseSubBackBuffer());
  EXPECT_EQ(graphSurface, DeviceTarget0);
  EXPECT_EQ(graphSurface, GetCachedRenderTarget(0));
  EXPECT_EQ("Viewport(0,0,64,32)", CachedViewport());
  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
  EXPECT_EQ(DeviceLayer.subBackBuffer, DeviceTarget0);
  EXPECT_EQ(DeviceLayer.subBackBuffer, GetCachedRenderTarget(0));
  // The device resets its viewport to the new render target by itself; the
  // cache follows it.
  EXPECT_EQ("Viewport(0,0,640,480)", CachedViewport());
}

}  // namespace

namespace {

TransferTextureEntry PoolEntry(int busy, int age, int now) {
  TransferTextureEntry e{};
  e.used = 1;
  e.busy = static_cast<uint8_t>(busy);
  e.width = 64;
  e.height = 32;
  e.mipCount = 1;
  e.pixelFormat = 3;
  e.lastUse = now - age;
  return e;
}

TEST_F(RebuildFakeTest, TheTransferPoolFreesIdleEntriesAndSurvivesARebuild) {
  ASSERT_EQ(0, InitASyncLoad(GetCurrentThreadId()));
  const int now = GetMillisecondCount();
  TransferPool.entries[0] = PoolEntry(0, 2500, now);  // idle: freed
  TransferPool.entries[1] = PoolEntry(1, 2500, now);  // busy: kept
  TransferPool.entries[2] = PoolEntry(0, 100, now);   // recently used: kept
  TransferPool.count = 3;
  for (int i = 0; i < 3; i++) ASSERT_EQ(0, CreatePooledTransferTexture(&TransferPool.entries[i]));
  int offThread = 0;
  std::thread([&offThread] { offThread = ReleaseIdleTransferTextures(); }).join();
  EXPECT_EQ(-1, offThread) << "only the main thread frees idle entries";
  Releases = 0;
  ASSERT_EQ(0, ReleaseIdleTransferTextures());
  EXPECT_EQ(2, TransferPool.count);
  EXPECT_EQ(1, Releases);
  EXPECT_EQ(0, TransferPool.entries[0].used);

  // A rebuild releases the used entries' textures and makes them again.
  Releases = 0;
  ASSERT_EQ(0, ReleaseAllDeviceObjects());
  EXPECT_EQ(nullptr, TransferPool.entries[1].texture);
  ASSERT_EQ(0, RecreateAllDeviceObjects());
  EXPECT_NE(nullptr, TransferPool.entries[1].texture);
  EXPECT_NE(nullptr, TransferPool.entries[2].texture);
  EXPECT_EQ(2, TransferPool.count);

  ASSERT_EQ(0, ReleaseTransferTextures(1));
  EXPECT_EQ(1, TransferPool.count) << "the busy one stays";
  ASSERT_EQ(0, ReleaseTransferTextures(0));
  EXPECT_EQ(0, TransferPool.count);
  EndASyncLoad();
}

TEST_F(RebuildFakeTest, AFailedPoolTextureLogsItsSizeAndThePoolOnce) {
  fake.textureResult = [] { return static_cast<HRESULT>(E_OUTOFMEMORY); };
  TransferPool.entries[5] = PoolEntry(0, 0, 0);
  TransferPool.count = 1;
  EXPECT_EQ(-1, CreatePooledTransferTexture(&TransferPool.entries[5]));
  EXPECT_EQ(-1, CreatePooledTransferTexture(&TransferPool.entries[5]));
  fake.textureResult = nullptr;
  const std::string text = log_.Text();
  EXPECT_NE(std::string::npos, text.find("SizeX:64 SizeY:32")) << text;
  const size_t list = text.find("非管理テクスチャへのデータ転送用システムメモリ配置テクスチャの数：1");
  ASSERT_NE(std::string::npos, list);
  EXPECT_EQ(std::string::npos, text.find("非管理テクスチャへのデータ転送用", list + 1)) << "listed once";
  EXPECT_NE(std::string::npos, text.find("No5. UseFlag:1 UseCount:0 CubeMap:0 SizeX:64 SizeY:32"));
  ReleaseTransferTextures(0);
}

}  // namespace
