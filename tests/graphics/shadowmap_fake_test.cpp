// Shadow maps against the fake device call table: the light basis and the
// fitted light view and projection against hand-computed values, the
// surfaces and their formats, the slots, release and re-creation.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "FakeDirect3D.h"
#include "LogCapture.h"
#include "RaRadara.h"
#include "RuRovoreziZuzu.h"
#include "TestFiles.h"
#include "VeRavoro.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaDraw.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaShader.h"
#include "VuViderezaShadowMap.h"
#include "VuViderezaTransform.h"

using test_support::FakeDirect3D;
using test_support::LogCapture;

namespace {

uint8_t LevelSurfaces[16];
int NextLevel = 0;

class ShadowMapFakeTest : public ::testing::Test {
 protected:
  FakeDirect3D fake;
  LogCapture log_{test_support::SharedTempFolder("RIDOV_SHADOWMAP_TEST_FOLDER", "shadowmap")};
  void SetUp() override {
    fake.table.GetTextureSurfaceLevel = [](IDirect3DTexture9*, UINT, IDirect3DSurface9** s) -> HRESULT {
      *s = reinterpret_cast<IDirect3DSurface9*>(&LevelSurfaces[NextLevel++ % 16]);
      return D3D_OK;
    };
    StartupSettings.windowed = 1;
    Screen.width = 640;
    Screen.height = 480;
    Screen.colorBits = 32;
    ASSERT_EQ(0, InitializeGraphicsSystem());
    fake.calls.clear();
  }
  void TearDown() override {
    TerminateGraphicsSystem();
    StartupSettings.windowed = 0;
  }
  static ShadowMapRecord* Record(int handle) {
    return reinterpret_cast<ShadowMapRecord*>(GetHandleRecordOfType(handle, HANDLETYPE_SHADOWMAP));
  }
};

// Columns of the basis are the light's x, y and z axes.
void ExpectAxes(const Matrix4& basis, const float x[3], const float y[3], const float z[3], const char* what) {
  for (int i = 0; i < 3; i++) {
    EXPECT_NEAR(x[i], basis.m[i][0], 1e-6f) << what << " x axis " << i;
    EXPECT_NEAR(y[i], basis.m[i][1], 1e-6f) << what << " y axis " << i;
    EXPECT_NEAR(z[i], basis.m[i][2], 1e-6f) << what << " z axis " << i;
  }
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(0.0f, basis.m[3][i]);
    EXPECT_EQ(0.0f, basis.m[i][3]);
  }
  EXPECT_EQ(1.0f, basis.m[3][3]);
}

TEST(ShadowLightBasis, HandComputedAxes) {
  struct Case {
    const char* what;
    float direction[3];
    float x[3], y[3], z[3];
  } cases[] = {
      // Straight up or down: the cross product with (0, 1, 0) vanishes and
      // (1, 0, 0) is used.
      {"down", {0, -1, 0}, {0, 0, -1}, {1, 0, 0}, {0, -1, 0}},
      {"up", {0, 1, 0}, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
      {"along x", {2, 0, 0}, {0, 0, -1}, {0, 1, 0}, {1, 0, 0}},
      {"along z", {0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
      {"3-0-4", {3, 0, 4}, {0.8f, 0, -0.6f}, {0, 1, 0}, {0.6f, 0, 0.8f}},
      // (1, 1, 0) / sqrt 2: x = (0, 0, -1), y = z cross x.
      {"diagonal", {1, 1, 0}, {0, 0, -1}, {-0.70710678f, 0.70710678f, 0}, {0.70710678f, 0.70710678f, 0}},
  };
  for (const Case& c : cases) {
    Matrix4 basis;
    Vector3 unit;
    BuildShadowLightBasis(&basis, &unit, c.direction[0], c.direction[1], c.direction[2]);
    ExpectAxes(basis, c.x, c.y, c.z, c.what);
    EXPECT_NEAR(c.z[0], unit.x, 1e-6f) << c.what;
    EXPECT_NEAR(c.z[1], unit.y, 1e-6f) << c.what;
    EXPECT_NEAR(c.z[2], unit.z, 1e-6f) << c.what;
  }
}

TEST_F(ShadowMapFakeTest, ANewMapLooksDownWithItsDefaults) {
  const int map = MakeShadowMap(256, 128, 32, 1);
  ASSERT_NE(-1, map);
  ShadowMapRecord* r = Record(map);
  EXPECT_EQ(256, r->width);
  EXPECT_EQ(128, r->height);
  EXPECT_FLOAT_EQ(0.002f, r->bias);
  EXPECT_FLOAT_EQ(0.0007f, r->bias2);
  EXPECT_EQ(0, r->blurCount);
  EXPECT_EQ(0.0f, r->lightDirection.x);
  EXPECT_EQ(-1.0f, r->lightDirection.y);
  const float x[3] = {0, 0, -1}, y[3] = {1, 0, 0}, z[3] = {0, -1, 0};
  ExpectAxes(r->lightBasis, x, y, z, "default");
  EXPECT_EQ(1, fake.Count("CreateDepthStencilSurface(256x128,D3DFMT_D32)"));
  EXPECT_NE(nullptr, r->texture);
  EXPECT_NE(nullptr, r->surface);
}

TEST_F(ShadowMapFakeTest, TheLightViewAndProjectionFitTheAreaBox) {
  const int map = MakeShadowMap(64, 64, 16, 1);
  ASSERT_NE(-1, map);
  // Light along +z: the basis is the identity, the box is taken as it is.
  ASSERT_EQ(0, SetShadowMapDrawArea(map, -10, -20, -30, 10, 20, 30));
  ASSERT_EQ(0, SetShadowMapLightDirection(map, 0, 0, 5));
  ShadowMapRecord* r = Record(map);
  EXPECT_FLOAT_EQ(0.1f, r->projectionScale[0]);
  EXPECT_FLOAT_EQ(0.05f, r->projectionScale[1]);
  EXPECT_FLOAT_EQ(1.0f / 60, r->projectionScale[2]);
  EXPECT_FLOAT_EQ(0.0f, r->lightView.m[3][0]);
  EXPECT_FLOAT_EQ(0.0f, r->lightView.m[3][1]);
  EXPECT_FLOAT_EQ(30.0f, r->lightView.m[3][2]);
  // Light along (3, 0, 4) over the box (0, 0, 0)-(5, 2, 5): light x is
  // 0.8 x - 0.6 z in [-3, 4], light y is y in [0, 2], light z is
  // 0.6 x + 0.8 z in [0, 7].
  ASSERT_EQ(0, SetShadowMapDrawArea(map, 0, 0, 0, 5, 2, 5));
  ASSERT_EQ(0, SetShadowMapLightDirection(map, 3, 0, 4));
  EXPECT_NEAR(-0.5f, r->lightView.m[3][0], 1e-5f);
  EXPECT_NEAR(-1.0f, r->lightView.m[3][1], 1e-5f);
  EXPECT_NEAR(0.0f, r->lightView.m[3][2], 1e-5f);
  EXPECT_NEAR(2.0f / 7, r->projectionScale[0], 1e-6f);
  EXPECT_NEAR(1.0f, r->projectionScale[1], 1e-6f);
  EXPECT_NEAR(1.0f / 7, r->projectionScale[2], 1e-6f);
  // Every corner lands in the unit box of the projection, and the extreme
  // ones on its faces.
  float low[3] = {1e9f, 1e9f, 1e9f}, high[3] = {-1e9f, -1e9f, -1e9f};
  for (int i = 0; i < 8; i++) {
    Vector3 p;
    VectorTransform(&p, &r->areaCorners[i], &r->lightView);
    const float v[3] = {p.x * r->projectionScale[0], p.y * r->projectionScale[1], p.z * r->projectionScale[2]};
    for (int k = 0; k < 3; k++) {
      low[k] = std::min(low[k], v[k]);
      high[k] = std::max(high[k], v[k]);
    }
  }
  EXPECT_NEAR(-1.0f, low[0], 1e-5f);
  EXPECT_NEAR(1.0f, high[0], 1e-5f);
  EXPECT_NEAR(-1.0f, low[1], 1e-5f);
  EXPECT_NEAR(1.0f, high[1], 1e-5f);
  EXPECT_NEAR(0.0f, low[2], 1e-5f);
  EXPECT_NEAR(1.0f, high[2], 1e-5f);
}

TEST_F(ShadowMapFakeTest, OnlyAMapBeingDrawnReplacesTheCamera) {
  const int map = MakeShadowMap(64, 64, 32, 0);
  const Matrix4 camera = *GetViewMatrix();
  ASSERT_EQ(0, SetShadowMapLightDirection(map, 1, -1, 0));
  EXPECT_EQ(0, memcmp(&camera, GetViewMatrix(), sizeof camera));
  ShadowMapRecord* r = Record(map);
  r->beingDrawn = 1;
  ASSERT_EQ(0, SetShadowMapDrawArea(map, -1, -1, -1, 1, 1, 1));
  EXPECT_EQ(0, memcmp(&r->lightView, GetViewMatrix(), sizeof camera));
  EXPECT_EQ(2, SceneViewState.projectionMode);
  EXPECT_FLOAT_EQ(r->projectionScale[0], SceneViewState.userProjection.m[0][0]);
  EXPECT_FLOAT_EQ(r->projectionScale[2], SceneViewState.userProjection.m[2][2]);
  EXPECT_EQ(0.0f, SceneViewState.userProjection.m[3][2]);
  r->beingDrawn = 0;
}

TEST_F(ShadowMapFakeTest, BadInputIsRefused) {
  EXPECT_EQ(-1, MakeShadowMap(0, 64, 16, 0));
  EXPECT_EQ(-1, MakeShadowMap(64, -1, 16, 0));
  EXPECT_TRUE(log_.Has("シャドウマップのサイズが不正です"));
  const int map = MakeShadowMap(64, 64, 16, 0);
  ShadowMapRecord* r = Record(map);
  const Vector3 before = r->lightDirection;
  EXPECT_EQ(-1, SetShadowMapLightDirection(map, 0, 0, 0));
  EXPECT_TRUE(log_.Has("シャドウマップのライトの向きが不正です"));
  EXPECT_EQ(before.y, r->lightDirection.y);
  EXPECT_EQ(-1, SetShadowMapLightDirection(map + 1, 0, 1, 0)) << "wrong check value";
  EXPECT_EQ(-1, SetShadowMapLightDirection(12345, 0, 1, 0));
  EXPECT_EQ(-1, SetUseShadowMap(2, map));
  EXPECT_EQ(-1, SetUseShadowMap(0, map + 1));
  EXPECT_EQ(-1, DeleteShadowMap(map + 1));
}

TEST_F(ShadowMapFakeTest, TextureAndDepthFormatsFollowTheDataKind) {
  DeviceFormats.oneFloat16 = D3DFMT_R16F;
  DeviceFormats.oneFloat32 = D3DFMT_R32F;
  DeviceFormats.oneInt16 = D3DFMT_L16;
  DeviceFormats.z16 = D3DFMT_D16;
  DeviceFormats.z32 = D3DFMT_D24X8;
  static D3DFORMAT made;
  fake.table.CreateDeviceTexture = [](UINT, UINT, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DTexture9** t, HANDLE*) -> HRESULT {
    if (levels != 1 || usage != D3DUSAGE_RENDERTARGET || pool != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
    made = format;
    *t = reinterpret_cast<IDirect3DTexture9*>(&LevelSurfaces[15]);
    return D3D_OK;
  };
  struct Case {
    int bits, isFloat;
    D3DFORMAT texture;
    const char* depth;
  } cases[] = {
      {16, 1, D3DFMT_R16F, "D3DFMT_D16"},
      {32, 1, D3DFMT_R32F, "D3DFMT_D24X8"},
      {16, 0, D3DFMT_L16, "D3DFMT_D16"},
      {32, 0, D3DFMT_R32F, "D3DFMT_D24X8"},
  };
  for (const Case& c : cases) {
    fake.calls.clear();
    const int map = MakeShadowMap(32, 16, c.bits, c.isFloat);
    ASSERT_NE(-1, map);
    EXPECT_EQ(c.texture, made) << c.bits << " " << c.isFloat;
    EXPECT_EQ(1, fake.Count(std::string("CreateDepthStencilSurface(32x16,") + c.depth + ")")) << fake.Joined();
    DeleteShadowMap(map);
  }
  DeviceFormats.oneInt16 = 0;
  EXPECT_EQ(-1, MakeShadowMap(32, 16, 16, 0));
  EXPECT_TRUE(log_.Has("シャドウマップデータ用のフォーマットで作成できるテクスチャフォーマットがありませんでした"));
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_SHADOWMAP].count) << "a failed creation leaves no handle";
}

TEST_F(ShadowMapFakeTest, FailedSurfacesLogAndLeaveNoHandle) {
  fake.table.CreateDeviceTexture = [](UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9**,
                                      HANDLE*) -> HRESULT { return D3DERR_OUTOFVIDEOMEMORY; };
  const int releasedBefore = fake.released;
  EXPECT_EQ(-1, MakeShadowMap(32, 32, 32, 1));
  EXPECT_TRUE(log_.Has("シャドウマップ用テクスチャの作成に失敗しました"));
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_SHADOWMAP].count);
  EXPECT_EQ(releasedBefore + 1, fake.released) << "the depth surface made first is released";
  fake.table.CreateDeviceDepthStencilSurface = [](UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL,
                                                  IDirect3DSurface9**,
                                                  HANDLE*) -> HRESULT { return D3DERR_OUTOFVIDEOMEMORY; };
  EXPECT_EQ(-1, MakeShadowMap(32, 32, 32, 1));
  EXPECT_TRUE(log_.Has("シャドウマップ用深度サーフェスの作成に失敗しました"));
}

TEST_F(ShadowMapFakeTest, DeletingAMapClearsItsSlotsAndReleasesItsObjects) {
  const int a = MakeShadowMap(64, 64, 32, 1);
  const int b = MakeShadowMap(64, 64, 32, 1);
  ASSERT_EQ(0, SetUseShadowMap(0, a));
  ASSERT_EQ(0, SetUseShadowMap(1, a));
  const int releasedBefore = fake.released;
  ASSERT_EQ(0, DeleteShadowMap(a));
  EXPECT_EQ(0, ShadowMaps.slots[0]);
  EXPECT_EQ(0, ShadowMaps.slots[1]);
  EXPECT_EQ(releasedBefore + 3, fake.released) << "depth surface, level surface, texture";
  ASSERT_EQ(0, SetUseShadowMap(0, b));
  ASSERT_EQ(0, SetUseShadowMap(0, -1));
  EXPECT_EQ(0, ShadowMaps.slots[0]);
}

TEST_F(ShadowMapFakeTest, SurfacesAreReleasedAndMadeAgainAroundARebuild) {
  const int map = MakeShadowMap(128, 64, 16, 1);
  ASSERT_EQ(0, SetShadowMapLightDirection(map, 1, -2, 3));
  ShadowMapRecord* r = Record(map);
  const Matrix4 view = r->lightView;
  const int releasedBefore = fake.released;
  ASSERT_EQ(0, ReleaseAllShadowMapSurfaces());
  EXPECT_EQ(releasedBefore + 3, fake.released);
  EXPECT_EQ(nullptr, r->texture);
  EXPECT_EQ(nullptr, r->surface);
  EXPECT_EQ(nullptr, r->depthSurface);
  fake.calls.clear();
  ASSERT_EQ(0, RecreateAllShadowMapSurfaces());
  EXPECT_NE(nullptr, r->texture);
  EXPECT_NE(nullptr, r->surface);
  EXPECT_EQ(1, fake.Count("CreateDepthStencilSurface(128x64,"));
  EXPECT_EQ(0, memcmp(&view, &r->lightView, sizeof view)) << "the light's view is kept";
}

}  // namespace

namespace {

TEST_F(ShadowMapFakeTest, DeletingAMapBeingDrawnEndsTheDrawing) {
  const int map = MakeShadowMap(64, 64, 32, 1);
  Record(map)->beingDrawn = 1;
  ShadowMaps.drawingHandle = map;
  ShadowMaps.drawing = 1;
  ASSERT_EQ(0, DeleteShadowMap(map));
  EXPECT_EQ(0, ShadowMaps.drawingHandle);
  EXPECT_EQ(0, ShadowMaps.drawing);
}

}  // namespace

namespace {

// Render targets set on the fake device, by index.
IDirect3DSurface9* DeviceTargets[4];

TEST_F(ShadowMapFakeTest, DrawingIntoAMapUsesTheLightViewAndItsEndPutsTheCameraBack) {
  fake.table.SetDeviceRenderTarget = [](DWORD index, IDirect3DSurface9* s) -> HRESULT {
    if (index < 4) DeviceTargets[index] = s;
    return D3D_OK;
  };
  const int map = MakeShadowMap(256, 128, 32, 1);
  ASSERT_GT(map, 0);
  int w = 0, h = 0;
  ASSERT_EQ(0, GetGraphicSize(map, &w, &h)) << "a map answers the graphic size query";
  EXPECT_EQ(256, w);
  EXPECT_EQ(128, h);
  ASSERT_EQ(0, SetShadowMapDrawArea(map, -10, -20, -30, 10, 20, 30));
  ASSERT_EQ(0, SetShadowMapLightDirection(map, 0, -1, 1));
  const Matrix4 view = Transforms.view, projection = Transforms.projection;
  const int mode = SceneViewState.projectionMode;
  EXPECT_EQ(-1, EndShadowMapDraw()) << "nothing is being drawn";

  ASSERT_EQ(0, BeginShadowMapDraw(map));
  ShadowMapRecord* r = Record(map);
  EXPECT_EQ(map, GetShadowMapBeingDrawn());
  EXPECT_EQ(r->surface, DeviceTargets[0]);
  EXPECT_EQ(0, memcmp(&r->lightView, &Transforms.view, sizeof view)) << "the light's view is the view";
  EXPECT_NEAR(r->projectionScale[0], Transforms.projection.m[0][0], 1e-6f);

  ASSERT_EQ(0, EndShadowMapDraw());
  EXPECT_EQ(0, GetShadowMapBeingDrawn());
  EXPECT_EQ(0, r->beingDrawn);
  EXPECT_EQ(DeviceLayer.backBuffer, DeviceTargets[0]) << "the screen is render target 0 again";
  EXPECT_EQ(0, memcmp(&view, &Transforms.view, sizeof view));
  EXPECT_EQ(0, memcmp(&projection, &Transforms.projection, sizeof projection));
  EXPECT_EQ(mode, SceneViewState.projectionMode);
  EXPECT_EQ(-1, EndShadowMapDraw());

  // Deleting the map being drawn ends the drawing the same way.
  ASSERT_EQ(0, BeginShadowMapDraw(map));
  ASSERT_EQ(0, DeleteShadowMap(map));
  EXPECT_EQ(0, GetShadowMapBeingDrawn());
  EXPECT_EQ(DeviceLayer.backBuffer, DeviceTargets[0]);
  EXPECT_EQ(0, memcmp(&view, &Transforms.view, sizeof view));
}

// The draw-target switch draws into a map: the map is render target 0 and
// the draw target, with the light's view and a draw area of the whole map;
// the next switch ends it and puts back the camera and the draw area, and a
// switch from one map to another ends the first.
TEST_F(ShadowMapFakeTest, TheDrawTargetSwitchDrawsIntoAMapAndTheNextSwitchEndsIt) {
  fake.table.SetDeviceRenderTarget = [](DWORD index, IDirect3DSurface9* s) -> HRESULT {
    if (index < 4) DeviceTargets[index] = s;
    return D3D_OK;
  };
  const int map = MakeShadowMap(256, 128, 32, 1);
  const int other = MakeShadowMap(64, 64, 16, 0);
  ASSERT_GT(map, 0);
  ASSERT_GT(other, 0);
  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
  ASSERT_EQ(0, SetClipRect(10, 20, 300, 200));
  const Matrix4 view = Transforms.view;
  ASSERT_EQ(-1, SetDrawTargetFace(map, 1)) << "a map has one face";

  ASSERT_EQ(0, SetDrawTarget(map));
  ShadowMapRecord* r = Record(map);
  EXPECT_EQ(map, GetDrawTarget());
  EXPECT_EQ(map, GetShadowMapBeingDrawn());
  EXPECT_EQ(1, r->beingDrawn);
  EXPECT_EQ(r->surface, DeviceTargets[0]);
  EXPECT_EQ(r->surface, GetCachedRenderTarget(0));
  EXPECT_EQ(0, memcmp(&r->lightView, &Transforms.view, sizeof view));
  EXPECT_EQ(256, CurrentDrawState.drawArea.right);
  EXPECT_EQ(128, CurrentDrawState.drawArea.bottom);
  EXPECT_EQ(256u, RenderState.viewport.Width);
  // The light's projection reaches the device uncorrected.
  Matrix4 combined;
  GetCombinedProjection(&combined);
  EXPECT_EQ(0, memcmp(&combined, &Transforms.projection, sizeof combined));

  ASSERT_EQ(0, SetDrawTarget(other));
  EXPECT_EQ(0, r->beingDrawn) << "the first map's drawing ended";
  EXPECT_EQ(other, GetShadowMapBeingDrawn());
  EXPECT_EQ(Record(other)->surface, DeviceTargets[0]);

  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
  EXPECT_EQ(0, GetShadowMapBeingDrawn());
  EXPECT_EQ(0, Record(other)->beingDrawn);
  EXPECT_EQ(SCREEN_BACK, GetDrawTarget());
  EXPECT_EQ(DeviceLayer.backBuffer, DeviceTargets[0]);
  EXPECT_EQ(0, memcmp(&view, &Transforms.view, sizeof view)) << "the camera's view is back";
  EXPECT_EQ(10, CurrentDrawState.drawArea.left);
  EXPECT_EQ(20, CurrentDrawState.drawArea.top);
  EXPECT_EQ(300, CurrentDrawState.drawArea.right);
  EXPECT_EQ(200, CurrentDrawState.drawArea.bottom);
}

// A point through the sent rows (registers 44-46) lands where the light's
// view, the fitted box and the texture mapping put it.
TEST_F(ShadowMapFakeTest, SlotConstantsCarryTheMapsTextureSpaceTransformAndBiases) {
  const int map = MakeShadowMap(64, 32, 32, 1);
  ASSERT_EQ(0, SetShadowMapDrawArea(map, -4, -2, -8, 4, 2, 8));
  ASSERT_EQ(0, SetShadowMapLightDirection(map, 0, 0, 1));  // basis = identity
  ASSERT_EQ(0, SetUseShadowMap(0, map));
  const float* vertex = reinterpret_cast<const float*>(ShaderConstants.device[0].data);
  const float* rows = vertex + 44 * 4;
  // The box corner (4, 2, 8): x at the right edge, y at the top, z at the far end.
  const float corners[2][3] = {{4, 2, 8}, {-4, -2, -8}};
  const float expected[2][3] = {{1.0f, 0.0f, 1.0f}, {0.0f, 1.0f, 0.0f}};
  for (int c = 0; c < 2; c++)
    for (int k = 0; k < 3; k++) {
      const float* row = rows + k * 4;
      const float v = row[0] * corners[c][0] + row[1] * corners[c][1] + row[2] * corners[c][2] + row[3];
      EXPECT_NEAR(expected[c][k], v, 1e-5f) << "corner " << c << " output " << k;
    }
  EXPECT_NEAR(0.002f, vertex[47 * 4], 1e-7f);
  EXPECT_NEAR(0.0007f, vertex[47 * 4 + 1], 1e-7f);
  EXPECT_NEAR(1.0f / 64, vertex[47 * 4 + 2], 1e-7f);
  EXPECT_EQ(1.0f, vertex[50 * 4]) << "slot 0 in use";
  EXPECT_EQ(0.0f, vertex[57 * 4]) << "slot 1 empty";
  EXPECT_EQ(1.0f, vertex[54 * 4]) << "an empty slot's bias is 1.0";
  const float* pixel = reinterpret_cast<const float*>(ShaderConstants.device[3].data) + 18 * 4;
  EXPECT_NEAR(0.002f, pixel[0], 1e-7f);
  EXPECT_NEAR(0.0007f, pixel[1], 1e-7f);
  EXPECT_EQ(1.0f, pixel[2]);
  EXPECT_EQ(0.0f, pixel[3]);
  ASSERT_EQ(0, SetUseShadowMap(0, 0));
  EXPECT_EQ(0.0f, vertex[50 * 4]);
  EXPECT_EQ(1.0f, pixel[0]);
}

}  // namespace
