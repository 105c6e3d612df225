// Model handles and device buffers against the fake device call table: the
// device buffers are byte arrays kept here (so layouts, grouping, usage
// flags and injected creation failures can be checked byte for byte),
// the capability flags are forced. Records are built by hand as the
// library's loader would fill them; leaks are counted through the tracked
// allocator.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "FakeDirect3D.h"
#include "LogCapture.h"
#include "ModelRecords.h"
#include "MoDerov.h"
#include "RaRadara.h"
#include "TestFiles.h"
#include "VeRavoro.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraphics.h"
#include "ZiDezaru.h"

using test_support::BaseSpec;
using test_support::FakeDirect3D;
using test_support::LogCapture;
using test_support::MakeModel;
using test_support::MakeModelBase;
using test_support::MeshSpec;
using test_support::SubMeshSpec;

namespace {

struct BufferInfo {
  std::vector<uint8_t> bytes;
  DWORD usage;
  DWORD fvf;         // vertex buffers
  D3DFORMAT format;  // index buffers
  D3DPOOL pool;
  bool vertex;
  int locks = 0, unlocks = 0;
};
std::map<void*, BufferInfo> Buffers;
int Created = 0, Released = 0;
int FailIndexCreation = -1;  // the index buffer creation with this number fails
int IndexCreations = 0;
uint8_t Objects[4096];
int NextObject = 0;

void* NewObject(UINT length, DWORD usage, D3DPOOL pool, bool vertex) {
  void* object = &Objects[NextObject++ % 4096];
  BufferInfo& info = Buffers[object];
  info = BufferInfo{};
  info.bytes.assign(length, 0xEE);
  info.usage = usage;
  info.pool = pool;
  info.vertex = vertex;
  Created++;
  return object;
}

class ModelFakeTest : public ::testing::Test {
 protected:
  FakeDirect3D fake;
  LogCapture log_{test_support::SharedTempFolder("RIDOV_MODEL_TEST_FOLDER", "model")};
  void SetUp() override {
    Buffers.clear();
    Created = Released = 0;
    FailIndexCreation = -1;
    IndexCreations = 0;
    fake.table.CreateDeviceVertexBuffer = [](UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                             IDirect3DVertexBuffer9** b, HANDLE*) -> HRESULT {
      if (length == 0) return D3DERR_INVALIDCALL;
      *b = static_cast<IDirect3DVertexBuffer9*>(NewObject(length, usage, pool, true));
      Buffers[*b].fvf = fvf;
      return D3D_OK;
    };
    fake.table.CreateDeviceIndexBuffer = [](UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                            IDirect3DIndexBuffer9** b, HANDLE*) -> HRESULT {
      if (IndexCreations++ == FailIndexCreation || length == 0) {
        *b = nullptr;
        return D3DERR_OUTOFVIDEOMEMORY;
      }
      *b = static_cast<IDirect3DIndexBuffer9*>(NewObject(length, usage, pool, false));
      Buffers[*b].format = format;
      return D3D_OK;
    };
    fake.table.LockBuffer = [](IDirect3DResource9* b, UINT offset, UINT size, void** data, DWORD) -> HRESULT {
      BufferInfo& info = Buffers.at(b);
      info.locks++;
      if (size == 0) size = static_cast<UINT>(info.bytes.size()) - offset;
      if (offset + size > info.bytes.size()) return D3DERR_INVALIDCALL;
      *data = info.bytes.data() + offset;
      return D3D_OK;
    };
    fake.table.UnlockBuffer = [](IDirect3DResource9* b) -> HRESULT {
      Buffers.at(b).unlocks++;
      return D3D_OK;
    };
    fake.table.ReleaseComObject = [](IUnknown* object) -> ULONG {
      if (Buffers.erase(object) != 0) Released++;
      return 0;
    };
    StartupSettings.windowed = 1;
    Screen.width = 640;
    Screen.height = 480;
    Screen.colorBits = 32;
    ASSERT_EQ(0, InitializeGraphicsSystem());
    ASSERT_EQ(1, DeviceLayer.hardware);
    DeviceLayer.hardwareVertexProcessing = 1;
    DeviceCaps.vertexShader2 = 1;
    GraphicsSystem.shadersUsable = 1;
    ASSERT_EQ(0, SetupModelHandleTypes());
    ASSERT_EQ(1, Models.ready);
  }
  void TearDown() override {
    ShutdownModelHandleTypes();
    TerminateGraphicsSystem();
    StartupSettings.windowed = 0;
  }
  static ModelBaseRecord* Base(int handle) { return GetModelBaseRecord(handle, 1); }
  static ModelRecord* Copy(int handle) { return GetModelRecord(handle, 1); }
  static int LiveBuffers() { return static_cast<int>(Buffers.size()); }
};

// ---------------------------------------------------------------------------
// Handle types.

TEST(ModelTypes, SetUpOnlyInDirect3DModeAndOnce) {
  FakeDirect3D fake;
  DeviceLayer.hardware = 0;
  EXPECT_EQ(0, ShutdownModelHandleTypes()) << "tear-down before set-up";
  EXPECT_EQ(0, SetupModelHandleTypes());
  EXPECT_EQ(0, Models.ready);
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_MODELBASE].initialized);
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_MODEL].initialized);
  EXPECT_EQ(-1, RebuildAllModelBases(0));
  EXPECT_EQ(-1, RebuildModelTextures());

  DeviceLayer.hardware = 1;
  ASSERT_EQ(0, SetupModelHandleTypes());
  EXPECT_EQ(1, Models.ready);
  EXPECT_STREQ("３Ｄモデル", HandleManagers[HANDLETYPE_MODELBASE].displayName);
  EXPECT_STREQ("３Ｄモデル", HandleManagers[HANDLETYPE_MODEL].displayName);
  EXPECT_EQ(MODEL_HANDLE_MAX, HandleManagers[HANDLETYPE_MODEL].maxCount);
  for (int texture : Models.defaultTextures) EXPECT_EQ(-1, texture);
  const int base = MakeModelBase(BaseSpec{});
  ASSERT_NE(-1, base);
  EXPECT_EQ(0, SetupModelHandleTypes());
  EXPECT_NE(nullptr, GetModelBaseRecord(base, 0)) << "a second set-up keeps the live records";
  EXPECT_EQ(0, ShutdownModelHandleTypes());
  EXPECT_EQ(0, Models.ready);
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_MODELBASE].initialized);
  DeviceLayer.hardware = 0;
}

TEST_F(ModelFakeTest, ABaseIsReleasedWhenItsLastReferenceGoes) {
  const int before = GetAllocCount();
  BaseSpec spec;
  spec.meshes = {MeshSpec{}};
  spec.subMeshes = {SubMeshSpec{}};
  spec.textureCount = 2;
  spec.refCount = 2;
  const int base = MakeModelBase(spec);
  ASSERT_NE(-1, base);
  EXPECT_EQ(0, DeleteHandle(base));
  ASSERT_NE(nullptr, Base(base)) << "the handle stays valid";
  EXPECT_EQ(1, Base(base)->refCount);
  EXPECT_EQ(0, DeleteHandle(base));
  EXPECT_EQ(nullptr, Base(base));
  EXPECT_EQ(-1, DeleteHandle(base));
  EXPECT_EQ(before, GetAllocCount()) << "every owned block was freed";
}

TEST_F(ModelFakeTest, DeletingCopiesUnlinksThemAndDropsOneReferenceEach) {
  BaseSpec spec;
  spec.meshes = {MeshSpec{}};
  spec.subMeshes = {SubMeshSpec{}};
  const int base = MakeModelBase(spec);
  const int before = GetAllocCount();
  const int a = MakeModel(base), b = MakeModel(base), c = MakeModel(base);
  ModelBaseRecord* r = Base(base);
  ASSERT_EQ(4, r->refCount);
  ASSERT_EQ(3, r->instanceCount);

  ASSERT_EQ(0, DeleteHandle(b));  // the middle one
  EXPECT_EQ(3, r->refCount);
  EXPECT_EQ(2, r->instanceCount);
  EXPECT_EQ(Copy(a), r->firstInstance);
  EXPECT_EQ(Copy(c), r->lastInstance);
  EXPECT_EQ(Copy(c), Copy(a)->nextCopy);
  EXPECT_EQ(Copy(a), Copy(c)->prevCopy);

  ASSERT_EQ(0, DeleteHandle(c));  // the last one
  EXPECT_EQ(Copy(a), r->lastInstance);
  EXPECT_EQ(nullptr, Copy(a)->nextCopy);
  ASSERT_EQ(0, DeleteHandle(a));  // the only one
  EXPECT_EQ(nullptr, r->firstInstance);
  EXPECT_EQ(nullptr, r->lastInstance);
  EXPECT_EQ(0, r->instanceCount);
  EXPECT_EQ(1, r->refCount);
  EXPECT_EQ(before, GetAllocCount()) << "each copy gave back all it owned";
  ASSERT_EQ(0, DeleteHandle(base));
  EXPECT_EQ(nullptr, Base(base));
}

TEST_F(ModelFakeTest, ACopyHoldingTheLastReferenceReleasesItsBase) {
  const int before = GetAllocCount();
  BaseSpec spec;
  spec.meshes = {MeshSpec{}};
  spec.subMeshes = {SubMeshSpec{}};
  spec.textureCount = 1;
  const int base = MakeModelBase(spec);
  const int copy = MakeModel(base, true);
  ASSERT_EQ(0, DeleteHandle(base));  // the creator's reference
  ASSERT_NE(nullptr, Base(base));
  ASSERT_EQ(0, DeleteHandle(copy));
  EXPECT_EQ(nullptr, Base(base));
  EXPECT_EQ(before, GetAllocCount());
}

TEST_F(ModelFakeTest, ACopyWithoutABaseFreesOnlyItsDataBlock) {
  const int handle = CreateHandle(HANDLETYPE_MODEL, -1);
  ModelRecord* r = Copy(handle);
  r->dataBlock = MEM_ALLOC(16);
  r->slots = static_cast<ModelSlot*>(MEM_ALLOC_ZEROED(sizeof(ModelSlot)));  // not the callback's to free
  r->slotCapacity = 1;
  const int before = GetAllocCount();
  EXPECT_EQ(0, DeleteHandle(handle));
  EXPECT_EQ(before - 2, GetAllocCount()) << "the data block and the record";
  MemFree(r->slots);  // the record is gone; the slot array was left alone
}

TEST_F(ModelFakeTest, SlotsAndFrameBlocksAreReleasedByIndex) {
  BaseSpec spec;
  spec.meshes = {MeshSpec{}};
  spec.subMeshes = {SubMeshSpec{}};
  const int base = MakeModelBase(spec);
  const int copy = MakeModel(base);
  ModelRecord* r = Copy(copy);
  int count = GetAllocCount();

  EXPECT_EQ(0, ReleaseModelSlot(copy, 1)) << "a free slot";
  EXPECT_EQ(0, r->stateFlag1);
  EXPECT_EQ(0, r->stateFlag2);
  EXPECT_EQ(1, r->slotsInUse);
  EXPECT_EQ(count, GetAllocCount());
  ASSERT_EQ(0, ReleaseModelSlot(copy, 0));
  EXPECT_EQ(0, r->slots[0].inUse);
  EXPECT_EQ(nullptr, r->slots[0].block);
  EXPECT_EQ(0, r->frameSlots[0].flag);
  EXPECT_EQ(0, r->frameSlots[0].value);
  EXPECT_EQ(0, r->slotsInUse);
  EXPECT_EQ(count - 1, GetAllocCount());
  for (int bad : {-1, 2}) EXPECT_EQ(-1, ReleaseModelSlot(copy, bad));
  EXPECT_EQ(-1, ReleaseModelSlot(base, 0)) << "a base handle";

  count = GetAllocCount();
  ASSERT_EQ(0, ReleaseModelFrameBlock(copy, -1));
  EXPECT_EQ(nullptr, r->wholeFrameBlock);
  EXPECT_EQ(count - 3, GetAllocCount()) << "the block and its two nodes";
  EXPECT_EQ(0, ReleaseModelFrameBlock(copy, -1)) << "nothing left";
  ASSERT_EQ(0, ReleaseModelFrameBlock(copy, 0));
  EXPECT_EQ(count - 6, GetAllocCount());
  for (int bad : {-2, 1}) EXPECT_EQ(-1, ReleaseModelFrameBlock(copy, bad));

  r->header.asyncLoadCount = 1;
  EXPECT_EQ(-1, ReleaseModelSlot(copy, 0)) << "pending loads";
  EXPECT_EQ(-1, ReleaseModelFrameBlock(copy, -1));
  r->header.asyncLoadCount = 0;
  EXPECT_EQ(0, DeleteHandle(copy));
}

TEST_F(ModelFakeTest, TearDownReleasesBasesStillHoldingReferences) {
  const int before = GetAllocCount();
  BaseSpec spec;
  spec.meshes = {MeshSpec{}};
  spec.subMeshes = {SubMeshSpec{}};
  spec.refCount = 3;
  MakeModelBase(spec);
  MakeModel(MakeModelBase(spec));
  ASSERT_EQ(0, ShutdownModelHandleTypes());
  ASSERT_EQ(0, SetupModelHandleTypes());
  EXPECT_EQ(before, GetAllocCount());
}

// ---------------------------------------------------------------------------
// Grouping and layouts.

TEST_F(ModelFakeTest, SlotsAndLayouts) {
  struct Case {
    int skin, mapped, sets;
    uint32_t fvf;
    int stride;
  };
  const Case cases[] = {
      {0, 0, 0, 0x0D2, 64}, {0, 0, 1, 0x201D2, 80}, {0, 0, 2, 0xA02D2, 96}, {0, 0, 8, 0x0D2 | 0x800 | 0xAAAA0000, 192},
      {0, 1, 0, 0, 56},     {0, 1, 3, 0, 104},      {1, 0, 0, 0, 52},       {1, 1, 2, 0, 108},
      {2, 0, 1, 0, 88},     {2, 1, 8, 0, 224},
  };
  for (const Case& c : cases) {
    ModelMaterial material = {c.mapped};
    ModelMeshEntry mesh = {};
    mesh.material = &material;
    mesh.texCoordSetCount = c.sets;
    ModelSubMesh sub = {};
    sub.mesh = &mesh;
    sub.skinKind = static_cast<uint16_t>(c.skin);
    const int slot = GetModelSubMeshSlot(&sub);
    EXPECT_EQ((c.skin * 2 + c.mapped) * 9 + c.sets, slot);
    uint32_t fvf = 1;
    int stride = 0;
    GetModelSlotLayout(slot, &fvf, &stride);
    EXPECT_EQ(c.fvf, fvf) << c.skin << "/" << c.mapped << "/" << c.sets;
    EXPECT_EQ(c.stride, stride) << c.skin << "/" << c.mapped << "/" << c.sets;
  }
  ModelMaterial material = {0};
  ModelMeshEntry mesh = {};
  mesh.material = &material;
  ModelSubMesh sub = {};
  sub.mesh = &mesh;
  sub.skinKind = 3;
  EXPECT_EQ(-1, GetModelSubMeshSlot(&sub)) << "unknown skin kind";
  sub.skinKind = 0;
  mesh.texCoordSetCount = 9;
  EXPECT_EQ(-1, GetModelSubMeshSlot(&sub)) << "too many sets";
}

TEST_F(ModelFakeTest, AGroupEndsExactlyAtTheVertexLimit) {
  BaseSpec spec;
  spec.vertexData = false;
  spec.meshes = {MeshSpec{}};
  spec.subMeshes = {{0, 0, 0x30000, 6, 0}, {0, 0, 0x30000, 6, 0}, {0, 0, 10, 3, 0}};
  ModelBaseRecord* r = Base(MakeModelBase(spec));
  ASSERT_EQ(0, AssignModelVertexGroups(r));
  EXPECT_EQ(2, r->groupCount);
  EXPECT_EQ(2, r->slotGroupCount[0]);
  ModelSubMesh* s = r->subMeshes;
  EXPECT_EQ(r->slotFirst[0], s[0].group);
  EXPECT_EQ(r->slotLast[0], s[1].group) << "the sum reaches 393,216: a new group";
  EXPECT_EQ(0, s[1].firstVertex);
  EXPECT_EQ(0, s[1].firstIndex);
  EXPECT_EQ(s[1].group, s[2].group);
  EXPECT_EQ(0x30000, s[2].firstVertex);
  EXPECT_EQ(6, s[2].firstIndex);
  EXPECT_EQ(0x30000 + 10, s[1].group->vertexCount);
  EXPECT_EQ(s[1].group, r->slotFirst[0]->next);
  EXPECT_EQ(r->slotFirst[0], s[1].group->prev);
  FreeModelVertexGroups(r, 0);
  EXPECT_EQ(0, r->groupCount);
  EXPECT_EQ(nullptr, s[0].group);
}

TEST_F(ModelFakeTest, AGroupEndsExactlyAtTheIndexLimit) {
  BaseSpec spec;
  spec.vertexData = false;
  spec.meshes = {MeshSpec{}};
  // Six sub-meshes of 131,070 indices, then 12 more: 786,432 in all.
  spec.subMeshes.assign(6, SubMeshSpec{0, 0, 4, 65535, 65535});
  spec.subMeshes.push_back(SubMeshSpec{0, 0, 4, 6, 6});
  spec.subMeshes.push_back(SubMeshSpec{0, 0, 4, 3, 0});
  ModelBaseRecord* r = Base(MakeModelBase(spec));
  ASSERT_EQ(0, AssignModelVertexGroups(r));
  ModelSubMesh* s = r->subMeshes;
  EXPECT_EQ(2, r->slotGroupCount[0]);
  EXPECT_EQ(s[0].group, s[5].group);
  EXPECT_EQ(5 * 131070, s[5].firstIndex);
  EXPECT_EQ(786420, s[0].group->indexCount);
  EXPECT_NE(s[5].group, s[6].group);
  EXPECT_EQ(0, s[6].firstIndex);
  EXPECT_EQ(s[6].group, s[7].group);
  EXPECT_EQ(12, s[7].firstIndex);
  EXPECT_EQ(4, s[7].firstVertex);
  FreeModelVertexGroups(r, 0);
}

TEST_F(ModelFakeTest, AnOversizedSubMeshKeepsAnEmptyGroupAndLastEmptyGroupsGo) {
  BaseSpec spec;
  spec.vertexData = false;
  spec.meshes = {MeshSpec{}, MeshSpec{1, 0, 0}};
  // Slot 0: one sub-mesh above the vertex limit, then one without indices
  // after the limit is reached. Slot 1: only index-less sub-meshes.
  spec.subMeshes = {{0, 0, 0x60001, 3, 0}, {0, 0, 4, 0, 0}, {1, 0, 5, 0, 0}, {1, 0, 6, 0, 0}};
  ModelBaseRecord* r = Base(MakeModelBase(spec));
  ASSERT_EQ(0, AssignModelVertexGroups(r));
  ModelSubMesh* s = r->subMeshes;
  ASSERT_NE(nullptr, s[0].group) << "the first group was empty: no empty group left in the chain";
  EXPECT_EQ(1, r->slotGroupCount[0]) << "the index-less second group was dropped";
  EXPECT_EQ(nullptr, s[1].group);
  EXPECT_EQ(0, r->slotGroupCount[1]);
  EXPECT_EQ(nullptr, s[2].group);
  EXPECT_EQ(nullptr, s[3].group);
  EXPECT_EQ(1, r->groupCount);
  FreeModelVertexGroups(r, 0);
}

// A base with one sub-mesh of every layout family and a few set counts.
BaseSpec EveryLayout() {
  BaseSpec spec;
  spec.meshes = {{0, 0, 1}, {2, 0, 0}, {1, 1, 0}, {2, 0, 1}, {0, 1, 0}, {3, 0, 0}, {1, 1, 0}};
  spec.subMeshes = {{0, 0, 5, 6, 3}, {1, 0, 4, 3, 0}, {2, 0, 3, 3, 3}, {3, 1, 6, 6, 0},
                    {4, 1, 3, 3, 0}, {5, 2, 4, 3, 3}, {6, 2, 5, 6, 0}, {0, 0, 7, 3, 0}};
  spec.copyVertexData = 1;
  return spec;
}

void ExpectBuffersHoldTheSubMeshes(const ModelBaseRecord* r) {
  for (int i = 0; i < r->subMeshCount; i++) {
    const ModelSubMesh& s = r->subMeshes[i];
    ASSERT_NE(nullptr, s.group) << i;
    const BufferInfo& vb = Buffers.at(s.group->vertexBuffer);
    const BufferInfo& ib = Buffers.at(s.group->indexBuffer);
    for (int v = 0; v < s.vertexCount; v++) {
      const std::vector<uint8_t> expected = test_support::ExpectedDeviceVertex(&s, v, s.group->stride);
      const int written = s.skinKind == 0 && !s.mesh->material->normalMap ? s.group->stride - 32 : s.group->stride;
      const uint8_t* got = vb.bytes.data() + (s.firstVertex + v) * s.group->stride;
      EXPECT_EQ(std::vector<uint8_t>(expected.begin(), expected.begin() + written),
                std::vector<uint8_t>(got, got + written))
          << "sub-mesh " << i << " vertex " << v;
    }
    std::vector<uint16_t> indices(s.indices1, s.indices1 + s.indexCount1);
    if (s.indexCount2 > 0) indices.insert(indices.end(), s.indices2, s.indices2 + s.indexCount2);
    const uint16_t* gotIndices = reinterpret_cast<const uint16_t*>(ib.bytes.data()) + s.firstIndex;
    EXPECT_EQ(indices, std::vector<uint16_t>(gotIndices, gotIndices + indices.size())) << "sub-mesh " << i;
  }
}

TEST_F(ModelFakeTest, RebuildWritesEveryLayoutIntoWriteOnlyDefaultPoolBuffers) {
  const int base = MakeModelBase(EveryLayout());
  ModelBaseRecord* r = Base(base);
  ASSERT_EQ(0, RebuildModelBaseDeviceBuffers(base, 7, 0));
  EXPECT_EQ(1, r->buffersBuilt);
  EXPECT_EQ(7, r->rebuildRequest);
  EXPECT_EQ(7, r->groupCount) << "the two rigid 0-set sub-meshes share one group";
  EXPECT_EQ(r->subMeshes[0].group, r->subMeshes[1].group);
  EXPECT_EQ(5, r->subMeshes[1].firstVertex);
  EXPECT_EQ(9, r->subMeshes[1].firstIndex);
  ExpectBuffersHoldTheSubMeshes(r);
  for (const auto& entry : Buffers) {
    const BufferInfo& b = entry.second;
    EXPECT_EQ(static_cast<DWORD>(D3DUSAGE_WRITEONLY), b.usage);
    EXPECT_EQ(D3DPOOL_DEFAULT, b.pool);
    EXPECT_EQ(1, b.locks) << "one lock of each whole buffer";
    EXPECT_EQ(1, b.unlocks);
    if (!b.vertex) {
      EXPECT_EQ(D3DFMT_INDEX16, b.format);
    }
  }
  EXPECT_EQ(0x0D2u, r->subMeshes[0].group->fvf);
  EXPECT_EQ(0xA02D2u, r->subMeshes[2].group->fvf);
  EXPECT_EQ(0u, r->subMeshes[3].group->fvf);

  const int created = Created;
  EXPECT_EQ(0, RebuildModelBaseDeviceBuffers(base, 1, 0)) << "already built";
  EXPECT_EQ(created, Created);
  ASSERT_EQ(0, ReleaseModelBaseDeviceBuffers(base));
  EXPECT_EQ(0, LiveBuffers());
  EXPECT_EQ(0, r->buffersBuilt);
  EXPECT_EQ(0, r->groupCount);
  EXPECT_EQ(nullptr, r->subMeshes[3].group);
  ASSERT_EQ(0, RebuildAllModelBases(0));
  EXPECT_EQ(1, r->rebuildRequest);
  ExpectBuffersHoldTheSubMeshes(r);
}

TEST_F(ModelFakeTest, WithoutUsableShadersOnlyRigidUnmappedGroupsGetBuffers) {
  GraphicsSystem.shadersUsable = 0;
  const int base = MakeModelBase(EveryLayout());
  ModelBaseRecord* r = Base(base);
  ASSERT_EQ(0, RebuildModelBaseDeviceBuffers(base, 1, 0));
  for (int i = 0; i < r->subMeshCount; i++) {
    const ModelSubMesh& s = r->subMeshes[i];
    const bool kept = s.skinKind == 0 && !s.mesh->material->normalMap;
    EXPECT_EQ(kept, s.group != nullptr) << i;
  }
  EXPECT_EQ(2, r->groupCount);
  EXPECT_EQ(4, LiveBuffers());
  for (int slot = 0; slot < MODEL_LAYOUT_SLOTS; slot++)
    if (slot >= 9) {
      EXPECT_EQ(nullptr, r->slotFirst[slot]) << slot;
    }
}

TEST_F(ModelFakeTest, ADeviceWithoutVertexProcessingGetsNoBuffers) {
  DeviceLayer.hardwareVertexProcessing = 0;
  DeviceCaps.vertexShader2 = 0;
  const int base = MakeModelBase(EveryLayout());
  EXPECT_EQ(0, RebuildModelBaseDeviceBuffers(base, 1, 0));
  EXPECT_EQ(0, Created);
  EXPECT_EQ(0, Base(base)->buffersBuilt);
  DeviceCaps.vertexShader2 = 1;
  EXPECT_EQ(0, RebuildModelBaseDeviceBuffers(base, 1, 0)) << "vertex shader 2.0 is enough";
  EXPECT_EQ(1, Base(base)->buffersBuilt);
}

TEST_F(ModelFakeTest, AFailedCreationFreesEverything) {
  const int base = MakeModelBase(EveryLayout());
  ModelBaseRecord* r = Base(base);
  const int before = GetAllocCount();
  FailIndexCreation = 3;
  EXPECT_EQ(-1, RebuildModelBaseDeviceBuffers(base, 1, 0));
  EXPECT_EQ(0, LiveBuffers()) << "every buffer made was released";
  EXPECT_EQ(Created, Released);
  EXPECT_EQ(0, r->buffersBuilt);
  EXPECT_EQ(0, r->groupCount);
  for (int slot = 0; slot < MODEL_LAYOUT_SLOTS; slot++) {
    EXPECT_EQ(nullptr, r->slotFirst[slot]);
    EXPECT_EQ(0, r->slotGroupCount[slot]);
  }
  for (int i = 0; i < r->subMeshCount; i++) EXPECT_EQ(nullptr, r->subMeshes[i].group);
  EXPECT_EQ(before, GetAllocCount()) << "no group left allocated";
  FailIndexCreation = -1;
  ASSERT_EQ(0, RebuildModelBaseDeviceBuffers(base, 1, 0)) << "a later rebuild starts again";
  ExpectBuffersHoldTheSubMeshes(r);
}

TEST_F(ModelFakeTest, CopiesGetDynamicBuffersOfTheirOwn) {
  const int base = MakeModelBase(EveryLayout());
  const int copy = MakeModel(base);
  ModelBaseRecord* r = Base(base);
  ModelRecord* c = Copy(copy);
  ASSERT_EQ(0, RebuildModelBaseDeviceBuffers(base, 1, 0));
  EXPECT_EQ(1, c->ownVertexBuffers);
  for (int i = 0; i < r->subMeshCount; i++) {
    const ModelSubMesh& s = r->subMeshes[i];
    const ModelCopySubMesh& e = c->subMeshBuffers[i];
    if (!s.mesh->copiesNeedBuffers) {
      EXPECT_EQ(nullptr, e.vertexBuffer) << i;
      continue;
    }
    ASSERT_NE(nullptr, e.vertexBuffer) << i;
    const BufferInfo& b = Buffers.at(e.vertexBuffer);
    EXPECT_EQ(static_cast<DWORD>(D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY), b.usage);
    EXPECT_EQ(static_cast<size_t>(s.group->stride * s.vertexCount), b.bytes.size());
    EXPECT_EQ(s.group->fvf, b.fvf);
    EXPECT_EQ(1, e.state->changed);
  }
  const int live = LiveBuffers();
  EXPECT_EQ(0, CreateModelInstanceVertexBuffers(copy, 0));
  EXPECT_EQ(live, LiveBuffers()) << "existing buffers are kept";
  ASSERT_EQ(0, ReleaseModelDeviceResources());
  EXPECT_EQ(0, LiveBuffers());
  EXPECT_EQ(1, c->ownVertexBuffers) << "the flag stays";
  EXPECT_EQ(nullptr, c->subMeshBuffers[0].vertexBuffer);

  c->header.asyncLoadCount = 1;
  EXPECT_EQ(-1, CreateModelInstanceVertexBuffers(copy, 0)) << "pending loads";
  EXPECT_EQ(0, CreateModelInstanceVertexBuffers(copy, 1));
  c->header.asyncLoadCount = 0;
  ASSERT_EQ(0, RebuildAllModelBases(0));
  EXPECT_NE(nullptr, c->subMeshBuffers[0].vertexBuffer) << "rebuilt with the base";
  ASSERT_EQ(0, DeleteHandle(copy));
  EXPECT_EQ(14, LiveBuffers()) << "the copy's buffers went with it, the base's stay";
}

TEST_F(ModelFakeTest, InvalidHandlesAreRefused) {
  const int base = MakeModelBase(EveryLayout());
  const int copy = MakeModel(base);
  EXPECT_EQ(-1, RebuildModelBaseDeviceBuffers(copy, 1, 0));
  EXPECT_EQ(-1, RebuildModelBaseDeviceBuffers(-1, 1, 0));
  EXPECT_EQ(-1, ReleaseModelBaseDeviceBuffers(copy));
  EXPECT_EQ(-1, CreateModelInstanceVertexBuffers(base, 0));
  EXPECT_EQ(-1, ReleaseModelInstanceVertexBuffers(base));
  Base(base)->header.asyncLoadCount = 1;
  EXPECT_EQ(-1, RebuildModelBaseDeviceBuffers(base, 1, 0)) << "pending loads";
  EXPECT_EQ(-1, ReleaseModelBaseDeviceBuffers(base));
  Base(base)->header.asyncLoadCount = 0;
  EXPECT_EQ(0, Created);
}

TEST_F(ModelFakeTest, TheEndOfTheGraphicsSystemReleasesAndDeletesModels) {
  const int base = MakeModelBase(EveryLayout());
  MakeModel(base);
  ASSERT_EQ(0, RebuildModelBaseDeviceBuffers(base, 1, 0));
  ASSERT_EQ(0, DeleteHandle(base));
  ASSERT_GT(LiveBuffers(), 0);
  ASSERT_EQ(0, TerminateGraphicsSystem());
  EXPECT_EQ(0, LiveBuffers());
  EXPECT_EQ(nullptr, Base(base));
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_MODEL].count);
  EXPECT_EQ(1, Models.ready) << "the types stay registered";
  ASSERT_EQ(0, InitializeGraphicsSystem());
}

}  // namespace
