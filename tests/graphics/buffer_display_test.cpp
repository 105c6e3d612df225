// Vertex and index buffer handles and shadow maps on the real Direct3D 9
// (Wine over Mesa, the harness's Xvfb) through the library's start-up:
// the device buffers hold what was written, also after their release and
// re-creation around a rebuild; a shadow map's surfaces are render targets
// of its size and format.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "RaRadara.h"
#include "RiDov.h"
#include "VeRavoro.h"
#include "VuViderezaBuffer.h"
#include "VuViderezaDevice.h"
#include "VuViderezaShadowMap.h"
#include "WindowFixture.h"

namespace {

using BufferDisplayTest = test_support::DeviceWindowTest;

using test_support::DeviceBufferBytes;

std::vector<uint8_t> Pattern(size_t size, int seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; i++) bytes[i] = static_cast<uint8_t>(i * 13 + seed);
  return bytes;
}

TEST_F(BufferDisplayTest, BuffersKeepTheirContentsThroughReleaseAndRecreation) {
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  ASSERT_EQ(1, HasDirect3DDevice());
  const int vb = CreateVertexBufferHandle(48, 64);
  const int ib = CreateIndexBufferHandle(96, 0);
  ASSERT_NE(-1, vb);
  ASSERT_NE(-1, ib);
  ASSERT_NE(nullptr, GetVertexBufferObject(vb)) << log_.Text();
  ASSERT_NE(nullptr, GetIndexBufferObject(ib));
  const std::vector<uint8_t> vertices = Pattern(48 * 64, 1);
  const std::vector<uint8_t> indices = Pattern(2 * 96, 9);
  ASSERT_EQ(0, SetVertexBufferData(0, vertices.data(), 64, vb));
  ASSERT_EQ(0, SetIndexBufferData(0, indices.data(), 96, ib));
  EXPECT_EQ(-1, SetVertexBufferData(60, Pattern(48 * 5, 3).data(), 5, vb));
  EXPECT_EQ(vertices, DeviceBufferBytes(GetVertexBufferObject(vb), 48 * 64)) << "the refused write changed nothing";

  ASSERT_EQ(0, ReleaseAllBufferObjects());
  EXPECT_EQ(nullptr, GetVertexBufferObject(vb));
  std::vector<uint8_t> expected = vertices;
  const std::vector<uint8_t> lost = Pattern(48 * 2, 200);
  ASSERT_EQ(0, SetVertexBufferData(10, lost.data(), 2, vb));
  memcpy(expected.data() + 480, lost.data(), lost.size());
  ASSERT_EQ(0, RecreateAllBufferObjects());
  EXPECT_EQ(expected, DeviceBufferBytes(GetVertexBufferObject(vb), 48 * 64));
  EXPECT_EQ(indices, DeviceBufferBytes(reinterpret_cast<IDirect3DResource9*>(GetIndexBufferObject(ib)), 2 * 96));
  EXPECT_EQ(0, DeleteVertexBufferHandle(vb));
  EXPECT_EQ(0, DeleteIndexBufferHandle(ib));
  EXPECT_EQ(0, LibraryShutDown());
}

TEST_F(BufferDisplayTest, AShadowMapIsARenderTargetOfItsSizeWithItsOwnDepth) {
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  const int map = MakeShadowMap(256, 128, 32, 1);
  ASSERT_NE(-1, map) << log_.Text();
  ShadowMapRecord* r = reinterpret_cast<ShadowMapRecord*>(GetHandleRecordOfType(map, HANDLETYPE_SHADOWMAP));
  for (int pass = 0; pass < 2; pass++) {
    ASSERT_NE(nullptr, r->surface);
    ASSERT_NE(nullptr, r->depthSurface);
    D3DSURFACE_DESC desc;
    ASSERT_EQ(D3D_OK, GetSurfaceDesc(r->surface, &desc));
    EXPECT_EQ(256u, desc.Width);
    EXPECT_EQ(128u, desc.Height);
    EXPECT_EQ(static_cast<D3DFORMAT>(DeviceFormats.oneFloat32), desc.Format);
    EXPECT_EQ(static_cast<DWORD>(D3DUSAGE_RENDERTARGET), desc.Usage);
    ASSERT_EQ(D3D_OK, GetSurfaceDesc(r->depthSurface, &desc));
    EXPECT_EQ(256u, desc.Width);
    EXPECT_EQ(static_cast<DWORD>(D3DUSAGE_DEPTHSTENCIL), desc.Usage);
    ReleaseAllShadowMapSurfaces();
    EXPECT_EQ(nullptr, r->texture);
    RecreateAllShadowMapSurfaces();
  }
  EXPECT_EQ(0, DeleteShadowMap(map));
  EXPECT_EQ(0, LibraryShutDown());
}

}  // namespace
