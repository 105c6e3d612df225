// The vertex batch and the draw-state setters against the fake device call
// table: the append rule (383 quads wait, the 384th flushes first), empty
// flushes, kind changes, a flush posted from a loading worker, the blend
// mode and tint rules, the clip-area table.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "DiDAridIrer.h"
#include "FakeDirect3D.h"
#include "LogCapture.h"
#include "RaRadara.h"
#include "TestFiles.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaGraphicsSoftware.h"
#include "VuViderezaRenderState.h"

using test_support::FakeDirect3D;

namespace {

struct DrawCall {
  D3DPRIMITIVETYPE type;
  UINT count;
  UINT stride;
  DWORD thread;
};
std::vector<DrawCall> Draws;

HRESULT RecordDraw(D3DPRIMITIVETYPE type, UINT count, const void*, UINT stride) {
  Draws.push_back({type, count, stride, GetCurrentThreadId()});
  return D3D_OK;
}

class DrawFakeTest : public ::testing::Test {
 protected:
  FakeDirect3D fake;
  test_support::LogCapture log_{test_support::SharedTempFolder("RIDOV_DRAW_TEST_FOLDER", "draw_fake")};
  void SetUp() override {
    StartupSettings.windowed = 1;
    Screen.width = 640;
    Screen.height = 480;
    Screen.colorBits = 32;
    ASSERT_EQ(0, InitializeGraphicsSystem());
    fake.table.DrawDevicePrimitiveUP = RecordDraw;
    FlushVertexBatch(0);
    Draws.clear();
    fake.calls.clear();
  }
  void TearDown() override {
    TerminateGraphicsSystem();
    StartupSettings.windowed = 0;
  }
};

TEST_F(DrawFakeTest, TheQuadThatNoLongerFitsFlushesTheBatchFirst) {
  // Kind 0 holds 2304 vertices: 383 quads (2298) fit, the 384th would not
  // stay below the capacity.
  for (int i = 0; i < 383; i++) AppendBatchQuad(VERTEX_KIND_PLAIN);
  EXPECT_TRUE(Draws.empty());
  EXPECT_EQ(2298, VertexBatch.count);
  AppendBatchQuad(VERTEX_KIND_PLAIN);
  ASSERT_EQ(1u, Draws.size());
  EXPECT_EQ(D3DPT_TRIANGLELIST, Draws[0].type);
  EXPECT_EQ(766u, Draws[0].count);
  EXPECT_EQ(28u, Draws[0].stride);
  EXPECT_EQ(6, VertexBatch.count);
  EXPECT_EQ(0, FlushVertexBatch(0));
  ASSERT_EQ(2u, Draws.size());
  EXPECT_EQ(2u, Draws[1].count);
}

TEST_F(DrawFakeTest, AnEmptyFlushMakesNoDeviceCall) {
  EXPECT_EQ(0, FlushVertexBatch(0));
  EXPECT_TRUE(Draws.empty());
  EXPECT_TRUE(fake.calls.empty()) << fake.Joined();
  EXPECT_EQ(GetVertexBatchBuffer(VERTEX_CLASS_2D, VertexBatch.kind), VertexBatch.write);
}

TEST_F(DrawFakeTest, AnotherVertexKindFlushesAndStartsItsOwnBuffer) {
  AppendBatchQuad(VERTEX_KIND_PLAIN);
  void* at = AppendBatchQuad(VERTEX_KIND_BLEND);
  ASSERT_EQ(1u, Draws.size());
  EXPECT_EQ(28u, Draws[0].stride);
  EXPECT_EQ(GetVertexBatchBuffer(VERTEX_CLASS_2D, VERTEX_KIND_BLEND), at);
  EXPECT_EQ(1, fake.Count("SetFVF(324)"));  // 0x144 for the first flush
  FlushVertexBatch(0);
  ASSERT_EQ(2u, Draws.size());
  EXPECT_EQ(48u, Draws[1].stride);
  EXPECT_EQ(1, fake.Count("SetFVF(964)"));  // 0x3C4
  // The pre-filled fields the builders rely on.
  const Vertex2DTex3* v = static_cast<const Vertex2DTex3*>(at);
  EXPECT_EQ(1.0f, v[5].rhw);
  EXPECT_EQ(0xFFFFFFFFu, v[5].specular);
}

TEST_F(DrawFakeTest, AFlushWhileTheEndIsRequestedDiscardsTheVertices) {
  AppendBatchQuad(VERTEX_KIND_TEX);
  SetEndRequestFlag();
  EXPECT_EQ(0, FlushVertexBatch(0));
  ClearEndRequestFlag();
  EXPECT_TRUE(Draws.empty());
  EXPECT_EQ(0, VertexBatch.count);
}

int FlushFromWorker(ASyncJob* job) {
  volatile int* result = *reinterpret_cast<int**>(job->params);
  *result = FlushVertexBatch(1);
  return 0;
}

TEST_F(DrawFakeTest, AWorkersFlushRunsOnTheMainThread) {
  ASSERT_EQ(0, InitASyncLoad(GetCurrentThreadId()));
  ASSERT_EQ(0, StartASyncLoadThreads(1));
  AppendBatchQuad(VERTEX_KIND_TEX);
  volatile int result = 7;
  ASyncJob* job = AllocASyncJob(sizeof(void*));
  ASSERT_NE(nullptr, job);
  job->function = FlushFromWorker;
  int* target = const_cast<int*>(&result);
  memcpy(job->params, &target, sizeof target);
  ASSERT_EQ(0, AddASyncJob(job));
  for (int i = 0; i < 5000 && result == 7; i++) {
    ServeMainThreadRequests();
    Sleep(1);
  }
  EXPECT_EQ(0, result);
  ASSERT_EQ(1u, Draws.size());
  EXPECT_EQ(GetCurrentThreadId(), Draws[0].thread);
  EXPECT_EQ(0, EndASyncLoad());
}

TEST_F(DrawFakeTest, BlendModeClampsItsParameterAndTheVertexAlphaFollows) {
  RenderState.statesChanged = 0;
  EXPECT_EQ(0, SetBlendMode(1, 300));
  EXPECT_EQ(255, CurrentDrawState.blendParam);
  EXPECT_EQ(0xFF000000u, MakeDrawDiffuseColor() & 0xFF000000u);
  EXPECT_EQ(1, RenderState.statesChanged);
  RenderState.statesChanged = 0;
  EXPECT_EQ(0, SetBlendMode(1, 64));  // the parameter alone
  EXPECT_EQ(0, RenderState.statesChanged);
  EXPECT_EQ(0x40FFFFFFu, CurrentDrawState.diffuseColor);
  EXPECT_EQ(0, SetBlendMode(0, 64));
  EXPECT_EQ(0xFFFFFFFFu, CurrentDrawState.diffuseColor);  // mode 0 draws opaque
}

TEST_F(DrawFakeTest, OnlyATintToOrFromWhiteChangesTheShaderChoice) {
  struct Case {
    int r, g, b;
    int changed;
  } cases[] = {{255, 255, 255, 0}, {200, 255, 255, 1}, {100, 50, 0, 0}, {255, 255, 255, 1}, {-5, 300, 128, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.r);
    RenderState.statesChanged = 0;
    EXPECT_EQ(0, SetDrawTint(c.r, c.g, c.b));
    EXPECT_EQ(c.changed, RenderState.statesChanged);
  }
  EXPECT_EQ(0x00FF80u, CurrentDrawState.brightness);  // clamped
  EXPECT_EQ(0x00FF80u, MemImgDrawState.drawBright & 0xFFFFFF);
}

TEST_F(DrawFakeTest, ClipRectTable) {
  struct Case {
    int l, t, r, b;
    RECT area;
    int empty;
  } cases[] = {
      {100, 50, 20, 10, {20, 10, 100, 50}, 0},   {-5, 0, 1000, 480, {0, 0, 640, 480}, 0},
      {10, 10, 10, 50, {10, 10, 10, 50}, 1},     {0, 0, 640, 480, {0, 0, 640, 480}, 0},
      {700, -20, 800, -10, {640, 0, 640, 0}, 1}, {5, 6, 7, 8, {5, 6, 7, 8}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.l * 1000 + c.t);
    EXPECT_EQ(0, SetClipRect(c.l, c.t, c.r, c.b));
    EXPECT_EQ(c.area.left, CurrentDrawState.drawArea.left);
    EXPECT_EQ(c.area.top, CurrentDrawState.drawArea.top);
    EXPECT_EQ(c.area.right, CurrentDrawState.drawArea.right);
    EXPECT_EQ(c.area.bottom, CurrentDrawState.drawArea.bottom);
    EXPECT_EQ(static_cast<float>(c.area.left), CurrentDrawState.drawAreaF[0]);
    EXPECT_EQ(static_cast<float>(c.area.bottom), CurrentDrawState.drawAreaF[3]);
    EXPECT_TRUE(EqualRect(&c.area, &MemImgDrawState.drawArea));
    EXPECT_EQ(c.empty, CurrentDrawState.areaEmpty);
    EXPECT_EQ(c.l, CurrentDrawState.requestedArea.left);
    if (!c.empty) {
      EXPECT_EQ(static_cast<DWORD>(c.area.left), RenderState.viewport.X);
      EXPECT_EQ(static_cast<DWORD>(c.area.right - c.area.left), RenderState.viewport.Width);
      EXPECT_TRUE(EqualRect(&c.area, &RenderState.scissor));
    }
  }
}

TEST_F(DrawFakeTest, RefusedDrawTargetsChangeNothing) {
  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
  ASSERT_EQ(0, SetClipRect(10, 20, 30, 40));
  EXPECT_EQ(-1, SetDrawTarget(-1));
  EXPECT_EQ(-1, SetDrawTarget(-6));
  EXPECT_EQ(-1, SetDrawTarget(12345));
  EXPECT_EQ(SCREEN_BACK, GetDrawTarget());
  EXPECT_EQ(20, CurrentDrawState.drawArea.top);
  // The same size keeps the area.
  EXPECT_EQ(0, SetDrawTarget(SCREEN_FRONT));
  EXPECT_EQ(20, CurrentDrawState.drawArea.top);
  EXPECT_EQ(640, CurrentDrawState.drawScreenWidth);
}

TEST_F(DrawFakeTest, ColorValuesInTheScreenFormat) {
  EXPECT_EQ(0xFFFFFFFFu, MakeColorValue(255, 255, 255));
  EXPECT_EQ(0xFF102030u, MakeColorValue(0x10, 0x20, 0x30));
  int r, g, b;
  SplitColorValue(0xFF102030u, &r, &g, &b);
  EXPECT_EQ(0x10, r);
  EXPECT_EQ(0x30, b);
  Screen.colorBits = 16;
  EXPECT_EQ(0xFFFFu, MakeColorValue(255, 255, 255));
  EXPECT_EQ(0xF800u, MakeColorValue(255, 0, 0));
  SplitColorValue(0x07E0u, &r, &g, &b);
  EXPECT_EQ(0, r);
  EXPECT_EQ(255, g);
  Screen.colorBits = 32;
}

TEST_F(DrawFakeTest, BlendModeThreeSubtractsWithTheBlendOperation) {
  DeviceCaps.subtractBlendNative = 1;
  static IDirect3DTexture9* const kTexture = reinterpret_cast<IDirect3DTexture9*>(0x1000);
  SetBlendMode(3, 128);
  ApplyDrawStateForTexture(kTexture, DRAW_FLAG_PIXEL_EXACT);
  EXPECT_EQ(16, DrawPrep.row);
  EXPECT_EQ(1, fake.Count("RS(171,3)")) << fake.Joined();  // BLENDOP REVSUBTRACT
  DeviceCaps.subtractBlendNative = 0;
  RenderState.choosePixelShader = 1;
  ApplyDrawStateForTexture(kTexture, DRAW_FLAG_PIXEL_EXACT);
  EXPECT_EQ(3, DrawPrep.row);
  EXPECT_EQ(1, SubtractEmulationNeeded());
}

TEST_F(DrawFakeTest, TransparencyFlagsChooseAlphaTestOrBlending) {
  static IDirect3DTexture9* const kTexture = reinterpret_cast<IDirect3DTexture9*>(0x1000);
  SetBlendMode(0, 0);
  SetSamplingMode(0);
  const int alphaImage = DRAW_FLAG_TRANSPARENT | DRAW_FLAG_ALPHA_CHANNEL;
  ApplyDrawStateForTexture(kTexture, alphaImage | DRAW_FLAG_PIXEL_EXACT);
  EXPECT_EQ(0, DrawPrep.row);
  EXPECT_EQ(1, DrawPrep.alphaTestOn);
  EXPECT_EQ(16, DrawPrep.alphaRef);
  EXPECT_EQ(D3DCMP_GREATER, DrawPrep.alphaFunc);
  SetSamplingMode(1);
  ApplyDrawStateForTexture(kTexture, alphaImage);  // stretched, bilinear
  EXPECT_EQ(1, DrawPrep.row);
  EXPECT_EQ(1, DrawPrep.alphaTestOn);
  EXPECT_EQ(0, DrawPrep.alphaRef);
  // The same pair again needs no application.
  EXPECT_FALSE(DrawStateApplyNeeded(kTexture, alphaImage));
  EXPECT_TRUE(DrawStateApplyNeeded(kTexture, alphaImage | DRAW_FLAG_PIXEL_EXACT));
  SetSamplingMode(0);
  EXPECT_TRUE(DrawStateApplyNeeded(kTexture, alphaImage));
}

}  // namespace

namespace {

// Software rendering: the setters keep the software draw state; the draw
// target is the screen's memory image.
class DrawSoftwareTest : public ::testing::Test {
 protected:
  FakeDirect3D fake;
  test_support::LogCapture log_{test_support::SharedTempFolder("RIDOV_DRAW_TEST_FOLDER", "draw_soft")};
  void SetUp() override {
    StartupSettings.windowed = 1;
    Screen.width = 320;
    Screen.height = 200;
    Screen.colorBits = 16;
    SetUseHardwareRendering(0);
    ASSERT_EQ(0, InitializeGraphicsSystem());
    ASSERT_EQ(0, DeviceLayer.hardware);
  }
  void TearDown() override {
    TerminateGraphicsSystem();
    SetUseHardwareRendering(1);
    StartupSettings.windowed = 0;
  }
};

TEST_F(DrawSoftwareTest, TheSettersKeepTheSoftwareDrawStateAndTheScreenImage) {
  EXPECT_EQ(&SoftwareScreenImage, SoftwareDrawTarget);
  EXPECT_EQ(0, SetDrawTarget(SCREEN_BACK));
  EXPECT_EQ(&SoftwareScreenImage, SoftwareDrawTarget);
  EXPECT_EQ(320, CurrentDrawState.drawScreenWidth);
  EXPECT_EQ(0, SetClipRect(300, 150, 10, 20));
  const RECT area = {10, 20, 300, 150};
  EXPECT_TRUE(EqualRect(&area, &MemImgDrawState.drawArea));
  EXPECT_EQ(0, SetBlendMode(2, 99));
  EXPECT_EQ(2, MemImgDrawState.blendMode);
  EXPECT_EQ(99, MemImgDrawState.blendParam);
  EXPECT_EQ(0, SetDrawTint(10, 20, 30));
  EXPECT_EQ(0x0A141Eu, MemImgDrawState.drawBright & 0xFFFFFF);
  EXPECT_EQ(0xFFFFu, MakeColorValue(255, 255, 255));
  EXPECT_EQ(0x001Fu, MakeColorValue(0, 0, 255));
  EXPECT_EQ(-1, SetDrawTarget(1));  // no graphic to draw into
  EXPECT_EQ(SCREEN_BACK, GetDrawTarget());
  EXPECT_EQ(-1, FlushVertexBatch(0));  // no device: nothing drawn
}

}  // namespace
