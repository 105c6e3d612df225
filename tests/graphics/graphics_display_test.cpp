// The graphics layer on the real Direct3D 9 (Wine over Mesa, the harness's
// Xvfb) through the library's start-up: programmable shaders in use, the
// embedded archives searched by name, a second start-up doing nothing, the
// mask-blend shader's pixels read back, the device's last release after a
// shader handle was made.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <vector>

#include "RaRadara.h"
#include "RiDov.h"
#include "VeRavoro.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaShader.h"
#include "VuViderezaShaderCode.h"
#include "WindowFixture.h"

namespace {

using test_support::BackBufferPixel;

// A 4 x 4 A8R8G8B8 texture; the left two columns get `left`, the rest `right`.
IDirect3DTexture9* MakeTexture(DWORD left, DWORD right) {
  IDirect3DTexture9* texture = nullptr;
  if (CreateDeviceTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr) != D3D_OK) return nullptr;
  D3DLOCKED_RECT locked;
  if (LockTextureRect(texture, 0, &locked, nullptr, 0) != D3D_OK) return texture;
  for (int y = 0; y < 4; y++) {
    DWORD* row = reinterpret_cast<DWORD*>(static_cast<unsigned char*>(locked.pBits) + y * locked.Pitch);
    for (int x = 0; x < 4; x++) row[x] = x < 2 ? left : right;
  }
  UnlockTextureRect(texture, 0);
  return texture;
}

using GraphicsDisplayTest = test_support::DeviceWindowTest;

TEST_F(GraphicsDisplayTest, ProgrammableShadersAreUsedAndFoundByName) {
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  ASSERT_EQ(1, DeviceLayer.hardware);
  EXPECT_EQ(1, AreShadersUsable());
  EXPECT_TRUE(log_.Has("プログラマブルシェーダーを使用します\r\n")) << log_.Text();
  EXPECT_FALSE(log_.Has("プログラマブルシェーダーを使用しません"));
  EXPECT_GE(GetShaderModelLevel(), 200);
  // Every drawing shader the archive holds has its object; the others none.
  char name[64];
  const void* code;
  uint32_t size;
  for (int slot = 0; slot < BASE_NONETEX_SHADERS; slot++) {
    snprintf(name, sizeof name, "ps_nonetex_type%d_ach%d.pso", slot / 2, slot % 2);
    EXPECT_EQ(FindShaderCode(1, name, &code, &size) == 0, GraphicsSystem.nonetexShaders[slot] != nullptr) << name;
  }
  for (int slot = 0; slot < BASE_BLEND_SHADERS; slot++) {
    snprintf(name, sizeof name, "ps_blend%d_type%d_igcolor%d_igtalpha%d_ach%d.pso", slot / 56, slot / 8 % 7,
             slot / 4 % 2, slot / 2 % 2, slot % 2);
    EXPECT_EQ(FindShaderCode(1, name, &code, &size) == 0, GraphicsSystem.blendShaders[slot] != nullptr) << name;
  }
  ASSERT_EQ(0, FindShaderCode(1, "ps_mask_blend.pso", &code, &size));
  EXPECT_EQ(0xFFFF0200u, *static_cast<const DWORD*>(code));  // ps_2_0
  EXPECT_NE(nullptr, GraphicsSystem.maskBlendShader);
  EXPECT_EQ(-1, FindShaderCode(1, "ps_missing.pso", &code, &size));
  EXPECT_NE(nullptr, GraphicsSystem.checkVertexShader);
  EXPECT_NE(nullptr, GraphicsSystem.checkPixelShader);
  // The model head: the check entries have code, the rest are empty.
  EXPECT_NE(nullptr, ShaderCode.groups[0][0].code);
  EXPECT_NE(nullptr, ShaderCode.groups[2][0].code);
  EXPECT_NE(nullptr, ShaderCode.groups[6][0].code);
  EXPECT_NE(nullptr, ShaderCode.groups[9][0].code);
  EXPECT_EQ(nullptr, ShaderCode.groups[0][1].code);
  EXPECT_EQ(nullptr, ShaderCode.groups[9][1599].code);
  EXPECT_EQ(0, LibraryShutDown());
}

TEST_F(GraphicsDisplayTest, ASecondStartIsZeroAndRegistersNothing) {
  ASSERT_EQ(0, LibraryStartUp());
  const void* code;
  uint32_t size;
  ASSERT_EQ(0, FindShaderCode(1, "ps_mask_blend.pso", &code, &size));
  const int shader = LoadPixelShaderFromMemory(code, static_cast<int>(size));
  ASSERT_GT(shader, 0);
  const int count = HandleManagers[HANDLETYPE_SHADER].count;
  IDirect3DDevice9* device = DeviceLayer.device;
  EXPECT_EQ(0, InitializeGraphicsSystem());
  EXPECT_EQ(count, HandleManagers[HANDLETYPE_SHADER].count);
  EXPECT_NE(nullptr, GetHandleRecordOfType(shader, HANDLETYPE_SHADER));
  EXPECT_EQ(device, DeviceLayer.device);
  EXPECT_EQ(0, LibraryShutDown());
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_SHADER].initialized);
}

// The mask-blend shader keeps the colour buffer where the mask is set and
// leaves the target elsewhere (alpha 0, blended away).
TEST_F(GraphicsDisplayTest, TheMaskBlendShaderDrawsWhereTheMaskIsSet) {
  ASSERT_EQ(0, LibraryStartUp());
  ASSERT_EQ(1, AreShadersUsable());
  IDirect3DTexture9* color = MakeTexture(0xFFC86432, 0xFFC86432);
  IDirect3DTexture9* mask = MakeTexture(0xFF000000, 0x00000000);
  ASSERT_NE(nullptr, color);
  ASSERT_NE(nullptr, mask);
  EndDrawScene();
  ClearDevice(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 255), 1.0f, 0);
  BeginDrawSceneOnce();
  SetDeviceRenderState(D3DRS_ZENABLE, FALSE);
  SetDeviceRenderState(D3DRS_LIGHTING, FALSE);
  SetDeviceRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  SetDeviceRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  SetDeviceRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  for (int s = 0; s < 2; s++) {
    SetDeviceSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    SetDeviceSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  }
  SetDeviceTexture(0, color);
  SetDeviceTexture(1, mask);
  SetDeviceVertexShader(nullptr);
  SetDevicePixelShader(GraphicsSystem.maskBlendShader);
  SetDeviceFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
  struct Vertex {
    float x, y, z, rhw, u, v;
  };
  const Vertex quad[4] = {
      {-0.5f, -0.5f, 0, 1, 0, 0}, {63.5f, -0.5f, 0, 1, 1, 0}, {-0.5f, 63.5f, 0, 1, 0, 1}, {63.5f, 63.5f, 0, 1, 1, 1}};
  EXPECT_EQ(D3D_OK, DrawDevicePrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex)));
  EndDrawScene();
  SetDevicePixelShader(nullptr);
  SetDeviceTexture(0, nullptr);
  SetDeviceTexture(1, nullptr);
  SetDeviceRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  EXPECT_EQ(0xC86432u, BackBufferPixel(8, 32));
  EXPECT_EQ(0x0000FFu, BackBufferPixel(56, 32));
  EXPECT_EQ(0x0000FFu, BackBufferPixel(100, 32));  // outside the quad
  ReleaseComObject(color);
  ReleaseComObject(mask);
  EXPECT_EQ(0, LibraryShutDown());
}

TEST_F(GraphicsDisplayTest, AfterTheEndTheDevicesLastReleaseIsZero) {
  test_support::DeviceReleaseRecorder recorder;
  ASSERT_EQ(0, LibraryStartUp());
  const void* code;
  uint32_t size;
  ASSERT_EQ(0, FindShaderCode(1, "ps_mask_blend.pso", &code, &size));
  ASSERT_GT(LoadPixelShaderFromMemory(code, static_cast<int>(size)), 0);  // left for the end to delete
  EXPECT_EQ(0, LibraryShutDown());
  ASSERT_FALSE(recorder.Releases().empty());
  EXPECT_EQ(0u, recorder.Releases().back());
}

}  // namespace
