// Models on the real Direct3D 9 (Wine over Mesa, the harness's Xvfb)
// through the library's start-up: the types are registered, a base's
// device buffers hold the layout bytes and hold them again after a real
// device rebuild, copies get their buffers back, and the default and model
// textures are refilled from their image bytes with the pixels they stand for.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "ModelRecords.h"
#include "MoDerov.h"
#include "RaRadara.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphics.h"
#include "WindowFixture.h"
#include "ZiDezaru.h"

using test_support::BaseSpec;
using test_support::MakeBmp;
using test_support::MakeModel;
using test_support::MakeModelBase;

namespace {

using ModelDisplayTest = test_support::DeviceWindowTest;

using test_support::DeviceBufferBytes;

// Every sub-mesh's written vertex bytes and its indices, as the device holds them.
void ExpectDeviceHoldsTheSubMeshes(const ModelBaseRecord* r) {
  for (int i = 0; i < r->subMeshCount; i++) {
    const ModelSubMesh& s = r->subMeshes[i];
    ASSERT_NE(nullptr, s.group) << i;
    const std::vector<uint8_t> vertices = DeviceBufferBytes(s.group->vertexBuffer,
                                                            static_cast<UINT>(s.group->vertexCount * s.group->stride));
    const std::vector<uint8_t> indices = DeviceBufferBytes(s.group->indexBuffer,
                                                           static_cast<UINT>(s.group->indexCount * 2));
    ASSERT_FALSE(vertices.empty()) << i;
    ASSERT_FALSE(indices.empty()) << i;
    const int written = s.skinKind == 0 && !s.mesh->material->normalMap ? s.group->stride - 32 : s.group->stride;
    for (int v = 0; v < s.vertexCount; v++) {
      const std::vector<uint8_t> expected = test_support::ExpectedDeviceVertex(&s, v, s.group->stride);
      const uint8_t* got = vertices.data() + (s.firstVertex + v) * s.group->stride;
      ASSERT_EQ(std::vector<uint8_t>(expected.begin(), expected.begin() + written),
                std::vector<uint8_t>(got, got + written))
          << "sub-mesh " << i << " vertex " << v;
    }
    std::vector<uint16_t> expected(s.indices1, s.indices1 + s.indexCount1);
    if (s.indexCount2 > 0) expected.insert(expected.end(), s.indices2, s.indices2 + s.indexCount2);
    const uint16_t* got = reinterpret_cast<const uint16_t*>(indices.data()) + s.firstIndex;
    EXPECT_EQ(expected, std::vector<uint16_t>(got, got + expected.size())) << i;
  }
}

TEST_F(ModelDisplayTest, BuffersHoldTheSameBytesAfterARealDeviceRebuild) {
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  ASSERT_EQ(1, Models.ready) << "registered by the start-up in Direct3D mode";
  ASSERT_TRUE(DeviceLayer.hardwareVertexProcessing || DeviceCaps.vertexShader2);
  BaseSpec spec;
  spec.meshes = {{0, 0, 1}, {2, 0, 0}, {1, 1, 0}, {2, 0, 1}, {3, 0, 0}, {1, 1, 0}};
  spec.subMeshes = {{0, 0, 40, 60, 6}, {1, 0, 30, 36, 0}, {2, 0, 20, 24, 3}, {3, 1, 25, 30, 0},
                    {4, 2, 16, 18, 3}, {5, 2, 12, 12, 0}, {0, 0, 9, 12, 0}};
  spec.copyVertexData = 1;
  const int base = MakeModelBase(spec);
  const int copy = MakeModel(base);
  ModelBaseRecord* r = GetModelBaseRecord(base, 0);
  ModelRecord* c = GetModelRecord(copy, 0);
  ASSERT_EQ(0, RebuildModelBaseDeviceBuffers(base, 1, 0)) << log_.Text();
  const bool shaders = AreShadersUsable() != 0;
  if (!shaders) GTEST_SKIP() << "the device has no usable shaders: only rigid groups would be built";
  ExpectDeviceHoldsTheSubMeshes(r);
  ASSERT_NE(nullptr, c->subMeshBuffers[0].vertexBuffer);

  ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode());
  ASSERT_EQ(1, HasDirect3DDevice());
  ASSERT_EQ(1, r->buffersBuilt) << "rebuilt with the device";
  EXPECT_NE(nullptr, r->subMeshes[0].group->vertexBuffer);
  ExpectDeviceHoldsTheSubMeshes(r);
  EXPECT_NE(nullptr, c->subMeshBuffers[0].vertexBuffer) << "the copy's dynamic buffer is back";
  EXPECT_NE(nullptr, c->subMeshBuffers[1].vertexBuffer) << "the first mesh's second sub-mesh";
  EXPECT_EQ(nullptr, c->subMeshBuffers[2].vertexBuffer) << "its mesh asks for none";
  ASSERT_EQ(0, DeleteHandle(copy));
  ASSERT_EQ(0, DeleteHandle(base));
  EXPECT_EQ(nullptr, GetModelBaseRecord(base, 1));
  EXPECT_EQ(0, LibraryShutDown());
  EXPECT_EQ(0, Models.ready);
}

uint32_t GraphPixel(BaseImageRecord* image, int x, int y) { return GetBaseImagePixelARGB8(image, x, y); }

// The graphic's pixels, or an empty image.
struct GraphPixels {
  explicit GraphPixels(int graph) { ok = ReadGraphToBaseImage(graph, &image) == 0; }
  ~GraphPixels() {
    if (ok) ReleaseBaseImage(&image);
  }
  BaseImageRecord image = {};
  bool ok = false;
};

void ExpectDefaultTextures() {
  {
    GraphPixels white(Models.defaultTextures[MODEL_TEXTURE_WHITE]);
    ASSERT_TRUE(white.ok);
    ASSERT_EQ(8, white.image.width);
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 8; x++) ASSERT_EQ(0xFFFFFFFFu, GraphPixel(&white.image, x, y)) << x << "," << y;
  }
  {
    GraphPixels black(Models.defaultTextures[MODEL_TEXTURE_BLACK]);
    ASSERT_TRUE(black.ok);
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 8; x++) ASSERT_EQ(0u, GraphPixel(&black.image, x, y) & 0xFFFFFF);
  }
  {
    GraphPixels ramp(Models.defaultTextures[MODEL_TEXTURE_RAMP4]);
    GraphPixels grey(Models.defaultTextures[MODEL_TEXTURE_GREY_RAMP]);
    ASSERT_TRUE(ramp.ok);
    ASSERT_TRUE(grey.ok);
    ASSERT_EQ(256, ramp.image.width);
    ASSERT_EQ(256, grey.image.width);
    for (int y = 0; y < 8; y++) {
      for (int x = 0; x < 256; x++) {
        const uint32_t step = static_cast<uint32_t>(x / 64) * 0x55;
        ASSERT_EQ(step * 0x010101u, GraphPixel(&ramp.image, x, y) & 0xFFFFFF) << x << "," << y;
        ASSERT_EQ(static_cast<uint32_t>(x) * 0x010101u, GraphPixel(&grey.image, x, y) & 0xFFFFFF) << x << "," << y;
      }
    }
  }
}

TEST_F(ModelDisplayTest, TexturesAreRefilledAfterARealDeviceRebuild) {
  ASSERT_EQ(0, LibraryStartUp()) << log_.Text();
  ASSERT_EQ(1, Models.ready);
  EXPECT_EQ(0, RebuildModelTextures()) << "no default texture yet: nothing to refill";
  for (int& texture : Models.defaultTextures) texture = AllocGraphicHandle();

  BaseSpec spec;
  spec.textureCount = 2;
  const int base = MakeModelBase(spec);
  const int copy = MakeModel(base);
  ModelBaseRecord* r = GetModelBaseRecord(base, 0);
  auto gradient = [](int x, int y) -> uint32_t { return static_cast<uint32_t>(x * 2) << 16 | (y * 4) << 8 | 0x40; };
  const std::vector<uint8_t> color = MakeBmp(100, 60, gradient);
  const std::vector<uint8_t> alpha = MakeBmp(16, 16, [](int x, int) -> uint32_t { return (x * 16) * 0x010101u; });
  const std::vector<uint8_t> flat = MakeBmp(8, 8, [](int, int) -> uint32_t { return 0x505050; });
  auto owned = [](const std::vector<uint8_t>& bytes) {
    void* block = MEM_ALLOC(bytes.size());
    memcpy(block, bytes.data(), bytes.size());
    return block;
  };
  r->textures[0].colorBytes = owned(color);
  r->textures[0].colorSize = static_cast<int>(color.size());
  r->textures[1].alphaBytes = owned(alpha);
  r->textures[1].alphaSize = static_cast<int>(alpha.size());
  r->textures[0].graph = AllocGraphicHandle();
  r->textures[1].graph = AllocGraphicHandle();
  ModelTextureOverride& o = GetModelRecord(copy, 0)->overrides[1];
  MemFree(o.colorBytes);
  MemFree(o.alphaBytes);
  o.colorBytes = owned(flat);
  o.colorSize = static_cast<int>(flat.size());
  o.alphaBytes = nullptr;
  o.normalMap = 1;
  o.heightFactor = 1.0f;
  o.inUse = 1;
  o.graph = AllocGraphicHandle();
  // The first override stays without image bytes: refused, its handle kept.
  ModelTextureOverride& bare = GetModelRecord(copy, 0)->overrides[0];
  MemFree(bare.colorBytes);
  MemFree(bare.alphaBytes);
  bare.colorBytes = bare.alphaBytes = nullptr;
  bare.inUse = 1;
  bare.graph = AllocGraphicHandle();

  BaseImageRecord expected = {}, unused = {};
  ASSERT_EQ(0, LoadModelTextureImages(&expected, &unused,
                                      {color.data(), static_cast<int>(color.size()), nullptr, 0, 0, 0.0f, 0}));
  for (int pass = 0; pass < 2; pass++) {
    ASSERT_EQ(0, RebuildGraphicsDeviceKeepMode()) << pass;
    ExpectDefaultTextures();
    {
      GraphPixels t0(r->textures[0].graph);
      ASSERT_TRUE(t0.ok);
      ASSERT_EQ(128, t0.image.width);
      ASSERT_EQ(64, t0.image.height);
      for (int y = 0; y < 64; y += 3)
        for (int x = 0; x < 128; x += 5)
          ASSERT_EQ(GraphPixel(&expected, x, y) & 0xFFFFFF, GraphPixel(&t0.image, x, y) & 0xFFFFFF) << x << "," << y;
    }
    {
      GraphPixels t1(r->textures[1].graph);
      ASSERT_TRUE(t1.ok);
      ASSERT_EQ(16, t1.image.width);
      EXPECT_EQ(0xFFFFFFu, GraphPixel(&t1.image, 3, 3) & 0xFFFFFF) << "white colour";
      EXPECT_EQ(0x30u, GraphPixel(&t1.image, 3, 3) >> 24) << "alpha from the alpha image";
    }
    {
      GraphPixels normals(o.graph);
      ASSERT_TRUE(normals.ok);
      EXPECT_EQ(0x7F7FFFu, GraphPixel(&normals.image, 5, 2) & 0xFFFFFF);
    }
    EXPECT_NE(nullptr, GetGraphicRecord(bare.graph, 0)) << "a refused texture keeps its handle";
  }
  ReleaseBaseImage(&expected);
  EXPECT_EQ(0, LibraryShutDown());
}

}  // namespace
