// The graphics layer against the fake device call table: the render-state
// cache (device calls and batch flushes counted), the shader-constant
// cache, shader handles, the pure tables (brightness colours, vertex
// declarations, light combinations, depth sizes), transforms, the camera
// and the lights.
#include <windows.h>

#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "FakeDirect3D.h"
#include "LogCapture.h"
#include "DiDAridIrer.h"
#include "RaRadara.h"
#include "RuRovoreziZuzu.h"
#include "TestFiles.h"
#include "VeRavoro.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaDraw.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaRenderState.h"
#include "VuViderezaShader.h"
#include "VuViderezaShaderCode.h"
#include "VuViderezaTransform.h"
#include "ZiDezaru.h"

using test_support::FakeDirect3D;
using test_support::LogCapture;

namespace {

int Flushes = 0;
int CountFlush(int) {
  Flushes++;
  return 0;
}

class GraphicsFakeTest : public ::testing::Test {
 protected:
  FakeDirect3D fake;
  LogCapture log_{test_support::SharedTempFolder("RIDOV_GRAPHICS_TEST_FOLDER", "graphics")};
  void SetUp() override {
    StartupSettings.windowed = 1;
    Screen.width = 640;
    Screen.height = 480;
    Screen.colorBits = 32;
    ASSERT_EQ(0, InitializeGraphicsSystem());
    RenderStateBatchFlush = CountFlush;
    Flushes = 0;
    fake.calls.clear();
  }
  void TearDown() override {
    RenderStateBatchFlush = FlushVertexBatch;
    TerminateGraphicsSystem();
    SetShaderCodeBlocks(nullptr);
    StartupSettings.windowed = 0;
  }
};

TEST_F(GraphicsFakeTest, StartUpUsesTheEmbeddedShadersAndWritesTheBaseConstants) {
  EXPECT_EQ(1, AreShadersUsable());
  EXPECT_EQ(300, GetShaderModelLevel());
  EXPECT_TRUE(log_.Has("プログラマブルシェーダーを使用します"));
  EXPECT_NE(nullptr, GraphicsSystem.maskBlendShader);
  EXPECT_NE(nullptr, GraphicsSystem.brightnessTexture);
  // Until filters exist the accuracy check fails softly.
  EXPECT_EQ(0, GraphicsSystem.filtersExact);
  const float* vertex0 = reinterpret_cast<const float*>(ShaderConstants.device[0].data);
  const float* pixel0 = reinterpret_cast<const float*>(ShaderConstants.device[3].data);
  EXPECT_EQ(1.0f, vertex0[1]);
  EXPECT_EQ(2.0f, pixel0[3]);
}

TEST_F(GraphicsFakeTest, WithoutShaderModel2TheBaseConstantsAreStillWritten) {
  TerminateGraphicsSystem();
  fake.vertexShaderVersion = D3DVS_VERSION(1, 1);
  fake.calls.clear();
  ASSERT_EQ(0, InitializeGraphicsSystem());
  EXPECT_EQ(0, AreShadersUsable());
  EXPECT_EQ(0, GetShaderModelLevel());
  EXPECT_TRUE(log_.Has("プログラマブルシェーダーを使用しません"));
  EXPECT_EQ(0, fake.Count("VSConstF(")) << "no shaders: nothing reaches the device";
  const float* vertex0 = reinterpret_cast<const float*>(ShaderConstants.device[0].data);
  const float* pixel0 = reinterpret_cast<const float*>(ShaderConstants.device[3].data);
  EXPECT_EQ(1.0f, vertex0[1]);
  EXPECT_EQ(0.5f, pixel0[1]);
  EXPECT_EQ(0, ShaderConstants.supplier[0][0]);
}

TEST_F(GraphicsFakeTest, ViewportAndScissorEndTheSceneAndCompareTheirArea) {
  BeginDrawSceneOnce();
  fake.calls.clear();
  ASSERT_EQ(0, SetViewportRect(10, 20, 110, 220));
  EXPECT_EQ(1, fake.Count("EndScene"));
  EXPECT_EQ(1, fake.Count("Viewport(10,20,100,200)"));
  D3DVIEWPORT9 depthOnly = RenderState.viewport;
  depthOnly.MaxZ = 0.5f;  // only x, y, width and height are compared
  ASSERT_EQ(0, SetViewportCached(&depthOnly));
  EXPECT_EQ(1, fake.Count("Viewport("));
  const RECT area = {1, 2, 3, 4};
  BeginDrawSceneOnce();
  ASSERT_EQ(0, SetScissorRectCached(&area));
  ASSERT_EQ(0, SetScissorRectCached(&area));
  EXPECT_EQ(1, fake.Count("Scissor(1,2,3,4)"));
  EXPECT_EQ(2, fake.Count("EndScene"));
  fake.table.SetDeviceViewport = [](const D3DVIEWPORT9*) -> HRESULT { return D3DERR_INVALIDCALL; };
  EXPECT_EQ(-1, SetViewportRect(0, 0, 50, 50));
  EXPECT_TRUE(log_.Has("ビューポートのセットに失敗しました ErrorCode 8876086c"));
  EXPECT_EQ(100u, RenderState.viewport.Width);  // the old one kept
}

TEST_F(GraphicsFakeTest, TheModelCodeStartsAfterAHeadOf52182Sizes) {
  ASSERT_EQ(1, ShaderCode.setUp);
  const uint8_t* block = static_cast<const uint8_t*>(ShaderCode.modelBuffer);
  EXPECT_EQ(block + 52182 * 2, ShaderCode.groups[0][0].code);
  EXPECT_EQ(&ShaderCode.modelEntries[52181 - 1600], ShaderCode.groups[9]);
  EXPECT_EQ(block[0] | block[1] << 8, ShaderCode.groups[0][0].size);
}

TEST_F(GraphicsFakeTest, TheModelShaderChoiceFollowsTheLights) {
  ApplyLightsToDevice();  // the standard directional light at index 0
  SetLightingEnableCached(1);
  // Lights (3, 0, 0): L3 number 10, M3 of (2, 0, 0) number 4.
  EXPECT_EQ(20, ModelShaderChoice.vertexIndex);
  EXPECT_EQ(8, ModelShaderChoice.pixelIndex);
  EXPECT_EQ(0, ModelShaderChoice.moreThanThreeLights);
  SetFogVertexModeCached(D3DFOG_LINEAR);
  SetFogEnableCached(1);
  EXPECT_EQ(2 * (10 + 3 * 20), ModelShaderChoice.vertexIndex);
  EXPECT_EQ(3, ModelShaderChoice.thirdIndex);
}

TEST_F(GraphicsFakeTest, ACachedStateIsSentAndFlushedOnlyWhenItChanges) {
  ASSERT_EQ(0, SetZEnableCached(0));
  fake.calls.clear();
  Flushes = 0;
  EXPECT_EQ(0, SetZEnableCached(1));
  EXPECT_EQ(0, SetZEnableCached(1));
  EXPECT_EQ(1, fake.Count("RS(7,1)"));
  EXPECT_EQ(1, Flushes);
  // Re-apply all: sent again without a flush.
  RenderState.reapplyAll = 1;
  EXPECT_EQ(0, SetZEnableCached(1));
  RenderState.reapplyAll = 0;
  EXPECT_EQ(2, fake.Count("RS(7,1)"));
  EXPECT_EQ(1, Flushes);
}

TEST_F(GraphicsFakeTest, CullSettingsMapToDeviceCullModes) {
  const struct {
    int setting;
    const char* sent;
  } cases[] = {{2, "RS(22,2)"}, {0, "RS(22,1)"}, {1, "RS(22,3)"}, {7, "RS(22,3)"}};
  for (const auto& c : cases) {
    fake.calls.clear();
    EXPECT_EQ(0, SetCullModeCached(c.setting));
    EXPECT_EQ(1, fake.Count(c.sent)) << c.setting << "\n" << fake.Joined();
  }
}

TEST_F(GraphicsFakeTest, SamplerFilterModesSetEverySampler) {
  EXPECT_EQ(-1, SetSamplerFilterCached(5));
  EXPECT_EQ(0u, fake.calls.size());
  const struct {
    int mode;
    DWORD mag, min, mip;
  } cases[] = {{2, 2, 3, 2}, {1, 2, 2, 0}, {0, 1, 1, 0}};
  // Start-up sent point filtering: mode 2 changes all three states of
  // every sampler, later modes only the states that differ.
  const int sent[3] = {36, 24, 24};
  for (int i = 0; i < 3; i++) {
    const auto& c = cases[i];
    fake.calls.clear();
    ASSERT_EQ(0, SetSamplerFilterCached(c.mode));
    EXPECT_EQ(sent[i], fake.Count("SS(")) << c.mode;
    for (int s = 0; s < 12; s++) {
      const std::string prefix = "SS(" + std::to_string(s) + ",";
      EXPECT_EQ(c.mag, RenderState.samplers[s].magFilter);
      EXPECT_EQ(c.min, RenderState.samplers[s].minFilter);
      EXPECT_EQ(c.mip, RenderState.samplers[s].mipFilter);
      if (i == 0) {
        EXPECT_EQ(1, fake.Count(prefix + "6,3)")) << s;
      }
    }
    fake.calls.clear();
    ASSERT_EQ(0, SetSamplerFilterCached(c.mode));
    EXPECT_EQ(0u, fake.calls.size());
  }
}

TEST_F(GraphicsFakeTest, AddressModesTakeOneSamplerOrAllTwelve) {
  EXPECT_EQ(0, SetTextureAddressModeCached(-1, 1, 2, 4));
  EXPECT_EQ(36, fake.Count("SS("));
  for (int s = 0; s < 12; s++) EXPECT_EQ(1, fake.Count("SS(" + std::to_string(s) + ",1,1)"));
  fake.calls.clear();
  EXPECT_EQ(0, SetTextureAddressUCached(11, 3));
  EXPECT_EQ(1u, fake.calls.size());
  EXPECT_EQ(-1, SetTextureAddressUCached(12, 3));
  EXPECT_EQ(-1, SetTextureAddressModeCached(12, 1, 1, 1));
  EXPECT_EQ(1u, fake.calls.size());
}

TEST_F(GraphicsFakeTest, AGridStripIsDrawnInCallsOfAtMostAThousandIndices) {
  std::vector<unsigned char> vertices(40 * 40 * 36);
  EXPECT_EQ(-1, DrawVertexGridStrip(vertices.data(), 1, 40));
  ASSERT_EQ(0, DrawVertexGridStrip(vertices.data(), 40, 40));
  int calls = 0, indices = 0;
  for (const std::string& call : fake.calls) {
    unsigned count = 0, stride = 0;
    if (sscanf(call.c_str(), "DrawIndexedUP(%u,%u)", &count, &stride) != 2) continue;
    calls++;
    EXPECT_LE(count + 2, 1000u);
    EXPECT_EQ(36u, stride);
    indices += count + 2;
  }
  // 39 row strips of 80 indices; rows in one call are joined by two
  // repeated indices each.
  EXPECT_GT(calls, 1);
  EXPECT_EQ(39 * 80 + 2 * (39 - calls), indices);
}

TEST_F(GraphicsFakeTest, TheHighestActiveSetSuppliesARegister) {
  const float a[4] = {1, 1, 1, 1}, b[4] = {2, 2, 2, 2};
  ASSERT_EQ(0, SetShaderConstantCached(&ShaderConstants, 3, 0, 5, a, 1, 1));
  ASSERT_EQ(0, SetShaderConstantSetMask(&ShaderConstants, 3));
  ASSERT_EQ(0, SetShaderConstantCached(&ShaderConstants, 3, 1, 5, b, 1, 1));
  EXPECT_EQ(2.0f, fake.lastPixelConstants.at(0));
  // Set 0 writing under set 1 sends nothing new.
  fake.calls.clear();
  ASSERT_EQ(0, SetShaderConstantCached(&ShaderConstants, 3, 0, 5, a, 1, 1));
  EXPECT_EQ(2.0f, fake.lastPixelConstants.at(0));
  ASSERT_EQ(0, SetShaderConstantSetMask(&ShaderConstants, 1));
  EXPECT_EQ(1.0f, fake.lastPixelConstants.at(0));
  ASSERT_EQ(0, SetShaderConstantSetMask(&ShaderConstants, 3));
  EXPECT_EQ(2.0f, fake.lastPixelConstants.at(0));
  fake.calls.clear();
  ASSERT_EQ(0, ReleaseShaderConstantRange(&ShaderConstants, 3, 1, 5, 1));
  EXPECT_EQ(1, fake.Count("PSConstF(5,1)"));
  EXPECT_EQ(1.0f, fake.lastPixelConstants.at(0));
  EXPECT_EQ(0, ShaderConstants.supplier[3][5]);
}

TEST(ShaderConstRanges, AddMergesAndRemoveSplits) {
  struct Op {
    bool add;
    int start, end;
  };
  const struct {
    std::vector<Op> ops;
    std::vector<std::pair<int, int>> expected;
  } cases[] = {
      {{{true, 0, 4}, {true, 8, 10}}, {{0, 4}, {8, 10}}},         {{{true, 0, 4}, {true, 4, 6}}, {{0, 6}}},  // touching
      {{{true, 8, 10}, {true, 0, 2}, {true, 1, 9}}, {{0, 10}}},    // overlapping both
      {{{true, 0, 10}, {false, 3, 5}}, {{0, 3}, {5, 10}}},         // split
      {{{true, 0, 10}, {false, 0, 3}, {false, 8, 12}}, {{3, 8}}},  // trims
      {{{true, 0, 2}, {true, 4, 6}, {false, 0, 6}}, {}},
  };
  for (const auto& c : cases) {
    ShaderConstRangeList list = {};
    for (const Op& op : c.ops) {
      if (op.add) {
        AddShaderConstRange(&list, op.start, op.end);
      } else {
        RemoveShaderConstRange(&list, op.start, op.end);
      }
    }
    ASSERT_EQ(c.expected.size(), list.count);
    for (size_t i = 0; i < c.expected.size(); i++) {
      EXPECT_EQ(c.expected[i].first, list.ranges[i][0]);
      EXPECT_EQ(c.expected[i].second, list.ranges[i][1]);
    }
  }
}

TEST_F(GraphicsFakeTest, AShaderKeepsItsConstantCountOrZero) {
  std::vector<unsigned char> code(64, 0);
  code[0] = 0x00, code[1] = 0x03, code[2] = 0xFF, code[3] = 0xFF;  // ps_3_0
  const int plain = LoadPixelShaderFromMemory(code.data(), static_cast<int>(code.size()));
  code[4] = 0xFE, code[5] = 0xFF;  // a comment token: the constant table
  code[24] = 7;
  const int withTable = LoadPixelShaderFromMemory(code.data(), static_cast<int>(code.size()));
  ASSERT_GT(plain, 0);
  ASSERT_GT(withTable, 0);
  auto record = [](int h) { return reinterpret_cast<ShaderHandleRecord*>(GetHandleRecord(h)); };
  EXPECT_EQ(0u, record(plain)->constantCount);
  EXPECT_EQ(nullptr, record(plain)->constantInfo);
  EXPECT_EQ(7u, record(withTable)->constantCount);
  EXPECT_EQ(static_cast<const unsigned char*>(record(withTable)->code) + 40, record(withTable)->constantInfo);
  EXPECT_EQ(-1, SetShaderDrawTexture(16, plain));
  EXPECT_EQ(-1, SetCurrentVertexShaderHandle(plain));  // a pixel shader
  EXPECT_EQ(0, SetCurrentPixelShaderHandle(plain));
  EXPECT_EQ(0, DeleteHandle(plain));
  EXPECT_EQ(0, UserShaderDraw.pixelShader);
  fake.shaderResult = E_FAIL;
  EXPECT_EQ(-1, LoadPixelShaderFromMemory(code.data(), static_cast<int>(code.size())));
}

// With asynchronous loading on, the handle comes back at once and a loading
// worker makes the shader from a copy of the code (the caller's block may
// change or go right after the call); a refused creation deletes the handle.
TEST_F(GraphicsFakeTest, AnAsynchronousShaderIsMadeByAWorkerFromACopyOfTheCode) {
  ASSERT_EQ(0, InitASyncLoad(GetCurrentThreadId()));
  ASSERT_EQ(0, StartASyncLoadThreads(1));
  SetASyncLoadEnabled(1);
  const auto waitForJobs = [] {
    for (int i = 0; i < 5000 && GetASyncJobCount() > 0; i++) {
      ServeMainThreadRequests();
      Sleep(1);
    }
    return GetASyncJobCount() == 0;
  };
  std::vector<unsigned char> code(64, 0);
  code[0] = 0x00, code[1] = 0x03, code[2] = 0xFF, code[3] = 0xFF;  // ps_3_0
  code[4] = 0xFE, code[5] = 0xFF;
  code[24] = 5;
  const std::vector<unsigned char> original = code;
  const int shader = LoadPixelShaderFromMemory(code.data(), static_cast<int>(code.size()));
  ASSERT_GT(shader, 0);
  auto record = [](int h) { return reinterpret_cast<ShaderHandleRecord*>(GetHandleRecord(h)); };
  // The device call waits for this thread, so the job cannot have ended.
  EXPECT_EQ(1, record(shader)->header.asyncLoadCount) << "pending until the job ends";
  EXPECT_EQ(-1, SetCurrentPixelShaderHandle(shader)) << "not usable while pending";
  std::fill(code.begin(), code.end(), 0xAB);
  ASSERT_TRUE(waitForJobs());
  ASSERT_NE(nullptr, record(shader));
  EXPECT_EQ(0, record(shader)->header.asyncLoadCount);
  EXPECT_NE(nullptr, record(shader)->shader);
  EXPECT_EQ(5u, record(shader)->constantCount);
  ASSERT_NE(nullptr, record(shader)->code);
  EXPECT_EQ(0, memcmp(original.data(), record(shader)->code, original.size())) << "the code as it was at the call";
  EXPECT_EQ(0, SetCurrentPixelShaderHandle(shader));
  EXPECT_EQ(0, DeleteHandle(shader));

  fake.shaderResult = E_FAIL;
  const int refused = LoadPixelShaderFromMemory(original.data(), static_cast<int>(original.size()));
  ASSERT_GT(refused, 0);
  ASSERT_TRUE(waitForJobs());
  EXPECT_EQ(nullptr, GetHandleRecord(refused)) << "a failed creation deletes its handle";
  EXPECT_TRUE(log_.Has("頂点シェーダーの作成に失敗しました")) << log_.Text();
  SetASyncLoadEnabled(0);
  EXPECT_EQ(0, EndASyncLoad());
}

TEST_F(GraphicsFakeTest, ADamagedShaderBlockFailsCleanly) {
  ReleaseBaseShaders();
  ReleaseShaderCodeArchives();
  const ShaderCodeBlocks* built = GetBuiltInShaderCodeBlocks();
  std::vector<uint8_t> model(built->model, built->model + built->modelSize);
  model[model.size() / 2] ^= 0x5A;
  model.resize(model.size() - 3);
  model[4] = static_cast<uint8_t>(model.size());  // head agrees, data cut short
  model[5] = static_cast<uint8_t>(model.size() >> 8);
  ShaderCodeBlocks damaged = *built;
  damaged.model = model.data();
  damaged.modelSize = model.size();
  SetShaderCodeBlocks(&damaged);
  const int blocks = GetAllocCount();
  CreateBaseShaders();
  EXPECT_EQ(0, AreShadersUsable());
  EXPECT_EQ(0, ShaderCode.setUp);
  EXPECT_EQ(blocks, GetAllocCount());
  EXPECT_TRUE(log_.Has("シェーダーコードを展開するメモリ領域の確保に失敗しました"));
  EXPECT_TRUE(log_.Has("プログラマブルシェーダーを使用しません"));
  SetShaderCodeBlocks(nullptr);
  CreateBaseShaders();
  EXPECT_EQ(1, AreShadersUsable());
}

TEST(GraphicsTables, MaxBrightnessColors) {
  const struct {
    int in[3], out[3];
  } cases[] = {
      {{0, 0, 0}, {255, 255, 255}},    {{40, 40, 40}, {255, 255, 255}},
      {{100, 50, 0}, {255, 127, 0}},                                        // s 255; mid 255 - (255 - 127) = 127
      {{0, 0, 9}, {0, 0, 255}},        {{300, 150, 150}, {255, 150, 150}},  // clamped to 255: s = 105, mid = min
      {{20, 100, 60}, {51, 255, 153}},  // s = 204; 255 - (255 - 127) x 204 / 255 = 153
  };
  for (const auto& c : cases) {
    int r, g, b;
    MaxBrightnessColor(c.in[0], c.in[1], c.in[2], &r, &g, &b);
    EXPECT_EQ(c.out[0], r) << c.in[0] << "," << c.in[1] << "," << c.in[2];
    EXPECT_EQ(c.out[1], g) << c.in[0] << "," << c.in[1] << "," << c.in[2];
    EXPECT_EQ(c.out[2], b) << c.in[0] << "," << c.in[1] << "," << c.in[2];
  }
}

TEST(GraphicsTables, VertexDeclarationStridesAndNumbering) {
  const int strides[6] = {32, 52, 72, 56, 76, 96};
  const int elements[6] = {4, 6, 8, 6, 8, 10};
  D3DVERTEXELEMENT9 e[24];
  for (int base = 0; base < 6; base++) {
    for (int k = 0; k <= 8; k++) {
      int stride = 0;
      const int n = GetModelVertexDeclarationElements(base * 9 + k, e, &stride);
      EXPECT_EQ(strides[base], stride);
      ASSERT_EQ(elements[base] + k, n);
      EXPECT_EQ(0xFF, e[n].Stream);  // the end marker
      if (k > 0) {
        EXPECT_EQ(stride + 16 * (k - 1), e[n - 1].Offset);
        EXPECT_EQ(D3DDECLUSAGE_TEXCOORD, e[n - 1].Usage);
        EXPECT_EQ(k - 1, e[n - 1].UsageIndex);
      }
    }
  }
  EXPECT_EQ(-1, GetModelVertexDeclarationElements(54, e, nullptr));
  EXPECT_EQ(6, GetFixedVertexDeclarationElements(0, e));
  EXPECT_EQ(9, GetFixedVertexDeclarationElements(1, e));
  EXPECT_EQ(80, e[8].Offset);
  EXPECT_EQ(-1, GetFixedVertexDeclarationElements(2, e));
}

TEST(GraphicsTables, LightCombinationTablesNumberNonIncreasingSequences) {
  std::vector<uint16_t> l6(4096), l3(64), m3(27);
  BuildLightCombinationTables(l6.data(), l3.data(), m3.data());
  EXPECT_EQ(83, l6[4095]);  // (3,3,3,3,3,3): the last of 84
  EXPECT_EQ(19, l3[63]);    // the last of 20
  EXPECT_EQ(9, m3[26]);     // the last of 10
  // (0,0,0), (1,0,0), (1,1,0), (1,1,1), (2,0,0), (2,1,0)
  EXPECT_EQ(5, l3[2 * 16 + 1 * 4 + 0]);
  // Spot lights: (2,2,2) follows (2,2,0), (2,2,1).
  EXPECT_EQ(l3[2 * 16 + 2 * 4 + 1] + 1, l3[2 * 16 + 2 * 4 + 2]);
  EXPECT_EQ(0, l3[1]);  // (0,0,1) is not non-increasing
  int numbered = 0;
  for (uint16_t v : l6) numbered += v != 0 ? 1 : 0;
  EXPECT_EQ(83, numbered);  // all but the first, which is 0
}

TEST(GraphicsTables, DepthBufferSidesArePowersOfTwo) {
  const int cases[][2] = {{0, 1}, {1, 1}, {2, 2}, {3, 4}, {640, 1024}, {700, 1024}, {1000, 1024}, {1024, 1024}};
  for (const auto& c : cases) EXPECT_EQ(c[1], DepthBufferSideFor(c[0])) << c[0];
}

TEST_F(GraphicsFakeTest, AThousandBySevenHundredScreenGetsA1024SquareZBuffer) {
  TerminateGraphicsSystem();
  Screen.width = 1000;
  Screen.height = 700;
  fake.calls.clear();
  ASSERT_EQ(0, InitializeGraphicsSystem());
  EXPECT_EQ(1, fake.Count("CreateDepthStencilSurface(1024x1024,")) << fake.Joined();
}

TEST_F(GraphicsFakeTest, EveryStoreOfAMatrixReachesTheDevice) {
  Matrix4 m;
  CreateIdentityMatrix(&m);
  m.m[3][0] = 5.0f;
  StoreWorldMatrix(&m);
  StoreWorldMatrix(&m);
  EXPECT_EQ(2, fake.Count("SetTransform(256)"));
  EXPECT_EQ(2, fake.Count("VSConstF(94,4)"));
  const float* registers = reinterpret_cast<const float*>(ShaderConstants.device[0].data) + 94 * 4;
  EXPECT_EQ(5.0f, registers[3]);  // transposed: row 0, column 3
  fake.calls.clear();
  ASSERT_EQ(0, SetPerspectiveFov(1.0f));
  EXPECT_EQ(1, fake.Count("SetTransform(3)"));
  EXPECT_EQ(1, fake.Count("VSConstF(2,4)"));
  // Software mode: stored, no device call.
  DeviceLayer.hardware = 0;
  fake.calls.clear();
  m.m[3][0] = 7.0f;
  StoreWorldMatrix(&m);
  DeviceLayer.hardware = 1;
  EXPECT_EQ(0u, fake.calls.size());
  EXPECT_EQ(7.0f, Transforms.world.m[3][0]);
}

TEST_F(GraphicsFakeTest, ProjectionModesSwitch) {
  SetProjectionNearFar(10.0f, 10000.0f);  // the draw target's view set its own range
  const float user[16] = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1, 1, 0, 0, -1, 0};
  SetProjectionMatrix(user);
  EXPECT_EQ(2, SceneViewState.projectionMode);
  EXPECT_EQ(2.0f, Transforms.projection.m[0][0]);
  SetPerspectiveFov(1.0471976f);
  EXPECT_EQ(0, SceneViewState.projectionMode);
  // 60 degrees, 4:3: y scale 1 / tan(30) = 1.7320508, x scale y x 0.75.
  EXPECT_NEAR(1.7320508f, Transforms.projection.m[1][1], 1e-5);
  EXPECT_NEAR(1.2990381f, Transforms.projection.m[0][0], 1e-5);
  // near 10, far 10000: z scale far / (far - near), z offset -near x that.
  EXPECT_NEAR(10000.0f / 9990.0f, Transforms.projection.m[2][2], 1e-6);
  EXPECT_NEAR(-10.0f * 10000.0f / 9990.0f, Transforms.projection.m[3][2], 1e-3);
  EXPECT_EQ(1.0f, Transforms.projection.m[2][3]);
}

TEST_F(GraphicsFakeTest, CameraAnglesLookingStraightDownAndUp) {
  SetCameraPositionAndTarget(0, 10, 0, 0, 0, 0, 0, 0, 1);
  EXPECT_FLOAT_EQ(0.0f, SceneViewState.horizontalRotation);
  EXPECT_FLOAT_EQ(1.5707964f, SceneViewState.verticalRotation);
  SetCameraPositionAndTarget(0, 0, 0, 0, 10, 0, 0, 0, 1);
  EXPECT_FLOAT_EQ(-1.5707964f, SceneViewState.verticalRotation);
  // Looking along +z from (0, 0, -5): the view moves the eye to the origin.
  SetCameraPositionAndTarget(0, 0, -5, 0, 0, 0, 0, 1, 0);
  EXPECT_NEAR(0.0f, SceneViewState.horizontalRotation, 1e-6);
  EXPECT_NEAR(0.0f, SceneViewState.verticalRotation, 1e-6);
  EXPECT_NEAR(5.0f, Transforms.view.m[3][2], 1e-6);
  EXPECT_EQ(1.0f, Transforms.view.m[0][0]);
}

TEST_F(GraphicsFakeTest, AnUpAlongTheViewDirectionGivesNoNaN) {
  SetCameraPositionAndTarget(0, 0, 0, 0, 5, 0, 0, 1, 0);
  SetCameraPositionAndTarget(1, 1, 1, 1, 1, 1, 0, 1, 0);  // no direction at all
  for (int r = 0; r < 4; r++) {
    for (int c = 0; c < 4; c++) EXPECT_FALSE(isnan(Transforms.view.m[r][c])) << r << "," << c;
  }
}

TEST_F(GraphicsFakeTest, LightsGoToTheDeviceDirectionalThenSpotThenPoint) {
  const int point = CreateLight();
  GetLightRecord(point)->light.Type = D3DLIGHT_POINT;
  const int spot = CreateLight();
  GetLightRecord(spot)->light.Type = D3DLIGHT_SPOT;
  const int directional = CreateDirectionalLight(0, -1, 0);
  ASSERT_GT(directional, 0);
  fake.calls.clear();
  ApplyLightsToDevice();
  std::vector<std::string> lights;
  for (const std::string& call : fake.calls) {
    if (call.compare(0, 9, "SetLight(") == 0) lights.push_back(call);
  }
  // The standard light first (slot 0), then the new directional one.
  const std::vector<std::string> expected = {"SetLight(0,3)", "SetLight(1,3)", "SetLight(2,2)", "SetLight(3,1)"};
  EXPECT_EQ(expected, lights);
  fake.calls.clear();
  ApplyLightsToDevice();
  EXPECT_EQ(0, fake.Count("SetLight(")) << "nothing changed";
  // Deleting two lights switches the now unused device indices off.
  DeleteLightHandle(spot);
  DeleteLightHandle(point);
  fake.calls.clear();
  ApplyLightsToDevice();
  EXPECT_EQ(1, fake.Count("LightEnable(2,0)"));
  EXPECT_EQ(1, fake.Count("LightEnable(3,0)"));
  EXPECT_EQ(0, fake.Count("SetLight("));
}

TEST_F(GraphicsFakeTest, DeletingTheLastSlotLetsTheNextLightTakeIt) {
  const int a = CreateLight();
  const int b = CreateLight();
  const int end = SceneViewState.lights.endIndex;
  ASSERT_EQ(0, DeleteLightHandle(b));
  EXPECT_EQ(end - 1, SceneViewState.lights.endIndex);
  const int c = CreateLight();
  EXPECT_EQ(b & 0xFFFF, c & 0xFFFF);
  EXPECT_NE(b, c);  // a new check value
  EXPECT_EQ(nullptr, GetLightRecord(b));
  EXPECT_EQ(-1, DeleteLightHandle(b));
  DeleteAllLightsExceptStandard();
  EXPECT_EQ(nullptr, GetLightRecord(a));
  EXPECT_NE(nullptr, GetLightRecord(SceneViewState.lights.standardLight));
  InitializeLights();  // the graphics state reset keeps it
  EXPECT_NE(nullptr, GetLightRecord(SceneViewState.lights.standardLight));
  EXPECT_EQ(1, SceneViewState.lights.count);
}

// A lit draw gives the device the lights made since the last one, and
// their constants carry position and direction in view space.
TEST_F(GraphicsFakeTest, ALitDrawSendsNewLightsWithViewSpaceConstants) {
  // Looking along +x: the world's +x is the view's +z.
  SetCameraPositionAndTarget(0, 0, 0, 1, 0, 0, 0, 1, 0);
  const int light = CreateDirectionalLight(2, 0, 0);
  ASSERT_GT(light, 0);
  fake.calls.clear();
  ApplyDrawStateForTexture(nullptr, DRAW_FLAG_LIGHTING);
  EXPECT_EQ(1, fake.Count("RS(137,1)")) << "lighting on\n" << fake.Joined();
  const int index = GetLightRecord(light)->deviceIndex;
  ASSERT_GE(index, 0);
  ASSERT_LT(index, 4);
  EXPECT_EQ(1, fake.Count("SetLight(" + std::to_string(index) + ",3)")) << fake.Joined();
  const float* vertex = reinterpret_cast<const float*>(ShaderConstants.device[0].data);
  const float* direction = vertex + (14 + 7 * index + 1) * 4;
  EXPECT_NEAR(0.0f, direction[0], 1e-6f);
  EXPECT_NEAR(0.0f, direction[1], 1e-6f);
  EXPECT_NEAR(1.0f, direction[2], 1e-6f);
  // A turned camera moves them again.
  SetCameraPositionAndTarget(0, 0, 0, -1, 0, 0, 0, 1, 0);
  EXPECT_NEAR(-1.0f, direction[2], 1e-6f);
  // Switched off by the user, a lit draw leaves lighting off.
  SetUseLighting(0);
  fake.calls.clear();
  ApplyDrawStateForTexture(nullptr, DRAW_FLAG_LIGHTING);
  EXPECT_EQ(0, fake.Count("RS(137,1)")) << fake.Joined();
  EXPECT_EQ(0, RenderState.lighting);
  SetUseLighting(1);
}

// The 3-D Z switch sets the second Z setting set, which draws with bit 11 use.
TEST_F(GraphicsFakeTest, TheThreeDZBufferSwitchTurnsZOnForThreeDDraws) {
  ApplyDrawStateForTexture(nullptr, DRAW_FLAG_Z_SET_2);
  fake.calls.clear();
  EXPECT_EQ(0, SetUseZBuffer3D(0)) << "unchanged";
  ASSERT_EQ(0, SetUseZBuffer3D(1));
  EXPECT_EQ(1, RenderState.statesChanged);
  ApplyDrawStateForTexture(nullptr, DRAW_FLAG_Z_SET_2);
  EXPECT_EQ(1, fake.Count("RS(7,1)")) << fake.Joined();
  EXPECT_EQ(1, fake.Count("RS(14,1)")) << fake.Joined();
  // 2-D draws keep the first set (Z off).
  fake.calls.clear();
  ApplyDrawStateForTexture(nullptr, 0);
  EXPECT_EQ(1, fake.Count("RS(7,0)")) << fake.Joined();
  ASSERT_EQ(0, SetUseZBuffer3D(0));
  fake.calls.clear();
  ApplyDrawStateForTexture(nullptr, DRAW_FLAG_Z_SET_2);
  EXPECT_EQ(0, fake.Count("RS(7,1)"));
}

}  // namespace
