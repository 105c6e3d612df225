// Model device buffers: a base's sub-meshes grouped by vertex layout into
// shared write-only vertex and index buffers in the default pool, filled
// from the system-memory geometry through one lock of each whole buffer;
// per-copy dynamic vertex buffers; their release when the device goes and
// their rebuild after it is back.
// Threads: main thread, or a loading worker with every device call posted
// to the main thread (the on-main-thread flag). No lock of its own.
// Platform: IDirect3DDevice9 CreateVertexBuffer / CreateIndexBuffer and
// buffer Lock / Unlock / Release, through the device layer's main-thread pairs.
#include <string.h>

#include "MoDerov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraphics.h"
#include "ZiDezaru.h"

namespace {

enum {
  FVF_RIGID = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR,  // 0x0D2
  TEXCOORD_SIZE4 = 2,
  RIGID_BLOCK = 32,
  SKIN4_BLOCK = 48,
  SKIN8_BLOCK = 64,
};

int SlotSkinKind(int slot) { return slot / 18; }
int SlotNormalMapped(int slot) { return (slot / 9) % 2; }
int SlotSetCount(int slot) { return slot % 9; }

bool FullDeviceMode() {
  return DeviceLayer.hardware && (DeviceLayer.hardwareVertexProcessing || DeviceCaps.vertexShader2);
}

ModelVertexGroup* NewGroup(ModelBaseRecord* base, int slot) {
  ModelVertexGroup* group = static_cast<ModelVertexGroup*>(MEM_ALLOC_ZEROED(sizeof(ModelVertexGroup)));
  if (group == nullptr) return nullptr;
  base->groupCount++;
  base->slotGroupCount[slot]++;
  if (base->slotLast[slot] != nullptr) {
    base->slotLast[slot]->next = group;
    group->prev = base->slotLast[slot];
  } else {
    base->slotFirst[slot] = group;
  }
  base->slotLast[slot] = group;
  return group;
}

void AssignToGroup(ModelSubMesh* subMesh, ModelVertexGroup* group) {
  subMesh->group = group;
  subMesh->firstVertex = group->vertexCount;
  subMesh->firstIndex = group->indexCount;
  group->vertexCount += subMesh->vertexCount;
  group->indexCount += subMesh->indexCount1 + subMesh->indexCount2;
}

void UnlinkGroup(ModelBaseRecord* base, int slot, ModelVertexGroup* group) {
  if (group->prev != nullptr) group->prev->next = group->next;
  else base->slotFirst[slot] = group->next;
  if (group->next != nullptr) group->next->prev = group->prev;
  else base->slotLast[slot] = group->prev;
  base->slotGroupCount[slot]--;
  base->groupCount--;
}

void ForgetGroup(ModelBaseRecord* base, const ModelVertexGroup* group) {
  for (int i = 0; i < base->subMeshCount; i++) {
    if (base->subMeshes[i].group != group) continue;
    base->subMeshes[i].group = nullptr;
    base->subMeshes[i].firstVertex = 0;
    base->subMeshes[i].firstIndex = 0;
  }
}

void ReleaseBuffer(IDirect3DResource9*& buffer, int unlock, int onMainThread) {
  if (buffer == nullptr) return;
  if (unlock) UnlockBufferOnMainThread(buffer, onMainThread);
  ReleaseComObjectOnMainThread(buffer, onMainThread);
  buffer = nullptr;
}

const uint8_t* AlignedBlock(const void* block) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(block);
  return reinterpret_cast<const uint8_t*>((address + 15) & ~static_cast<uintptr_t>(15));
}

// Writes n bytes and moves on.
template <typename T>
void Put(uint8_t*& out, const T* data, size_t bytes) {
  memcpy(out, data, bytes);
  out += bytes;
}

void PutBoneIndices(uint8_t*& out, const uint8_t* stored, int count) {
  for (int i = 0; i < count; i++) *out++ = static_cast<uint8_t>(static_cast<int8_t>(stored[i]) * 3);
}

// One device vertex of the slot's layout (see the layout table in the header).
void WriteDeviceVertex(uint8_t* out, int skin, int mapped, int sets, const uint8_t* source,
                       const ModelDirection* direction, const uint8_t* block) {
  const uint32_t* words = reinterpret_cast<const uint32_t*>(source);
  if (skin == 0) {
    Put(out, block, 12);
  } else if (skin == 1) {
    Put(out, block + 16, 12);
    PutBoneIndices(out, block + 44, 4);
    Put(out, block, 16);
  } else {
    Put(out, block + 48, 12);
    PutBoneIndices(out, block + 44, 4);
    PutBoneIndices(out, block + 60, 4);
    Put(out, block, 32);
  }
  if (mapped) {
    Put(out, direction->tangent1, 12);
    Put(out, direction->tangent2, 12);
  }
  Put(out, direction->normal, 12);
  Put(out, &words[MODEL_SOURCE_DIFFUSE_WORD], 4);
  Put(out, &words[MODEL_SOURCE_SPECULAR_WORD], 4);
  const float one = 1.0f;
  for (int set = 0; set < sets; set++) {
    Put(out, &words[MODEL_SOURCE_TEXCOORD_WORD + set * 2], 8);
    Put(out, &one, 4);
    Put(out, &one, 4);
  }
}

void FillSubMesh(const ModelSubMesh* subMesh) {
  const ModelVertexGroup* group = subMesh->group;
  const ModelMeshEntry* mesh = subMesh->mesh;
  const int slot = GetModelSubMeshSlot(subMesh);
  const int skin = SlotSkinKind(slot), mapped = SlotNormalMapped(slot), sets = SlotSetCount(slot);
  const int blockSize = skin == 0 ? RIGID_BLOCK : skin == 1 ? SKIN4_BLOCK : SKIN8_BLOCK;
  const uint8_t* blocks = AlignedBlock(subMesh->positions);
  const uint8_t* sources = static_cast<const uint8_t*>(mesh->vertices);
  const ModelDirection* directions = mesh->frame->directions;
  uint8_t* vertices = static_cast<uint8_t*>(group->lockedVertices);
  for (int i = 0; i < subMesh->vertexCount; i++) {
    const uint8_t* source = sources + static_cast<size_t>(subMesh->sourceIndices[i]) * mesh->vertexStride;
    const uint32_t directionIndex = reinterpret_cast<const uint32_t*>(source)[MODEL_SOURCE_DIRECTION_WORD];
    WriteDeviceVertex(vertices + static_cast<size_t>(subMesh->firstVertex + i) * group->stride, skin, mapped, sets,
                      source, &directions[directionIndex], blocks + static_cast<size_t>(i) * blockSize);
  }
  uint16_t* indices = static_cast<uint16_t*>(group->lockedIndices) + subMesh->firstIndex;
  if (subMesh->indexCount1 > 0) memcpy(indices, subMesh->indices1, subMesh->indexCount1 * 2u);
  if (subMesh->indexCount2 > 0) memcpy(indices + subMesh->indexCount1, subMesh->indices2, subMesh->indexCount2 * 2u);
}

int CreateGroupBuffers(ModelVertexGroup* group, int onMainThread) {
  if (CreateDeviceVertexBufferOnMainThread(static_cast<UINT>(group->vertexCount * group->stride), D3DUSAGE_WRITEONLY,
                                           group->fvf, D3DPOOL_DEFAULT, &group->vertexBuffer, nullptr,
                                           onMainThread) != D3D_OK ||
      group->vertexBuffer == nullptr)
    return -1;
  if (LockBufferOnMainThread(group->vertexBuffer, 0, 0, &group->lockedVertices, 0, onMainThread) != D3D_OK ||
      group->lockedVertices == nullptr)
    return -1;
  if (CreateDeviceIndexBufferOnMainThread(static_cast<UINT>(group->indexCount * 2), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                                          D3DPOOL_DEFAULT, &group->indexBuffer, nullptr, onMainThread) != D3D_OK ||
      group->indexBuffer == nullptr)
    return -1;
  if (LockBufferOnMainThread(group->indexBuffer, 0, 0, &group->lockedIndices, 0, onMainThread) != D3D_OK ||
      group->lockedIndices == nullptr)
    return -1;
  return 0;
}

// Calls f(model) for every live model of the base without pending loads.
template <typename F>
void ForEachCopyOf(const ModelBaseRecord* base, F f) {
  HandleManager& manager = HandleManagers[HANDLETYPE_MODEL];
  if (!manager.initialized) return;
  for (int slot = manager.lowestSlot; manager.count > 0 && slot <= manager.highestSlot; slot++) {
    ModelRecord* model = reinterpret_cast<ModelRecord*>(manager.slots[slot]);
    if (model == nullptr || model->header.asyncLoadCount != 0 || model->base != base) continue;
    f(model);
  }
}

}  // namespace

int GetModelSubMeshSlot(const ModelSubMesh* subMesh) {
  if (subMesh->skinKind >= MODEL_SKIN_KINDS || subMesh->mesh == nullptr) return -1;
  const ModelMeshEntry* mesh = subMesh->mesh;
  if (mesh->texCoordSetCount < 0 || mesh->texCoordSetCount > MODEL_TEXCOORD_SETS_MAX) return -1;
  const int mapped = mesh->material != nullptr && mesh->material->normalMap != 0 ? 1 : 0;
  return (subMesh->skinKind * 2 + mapped) * 9 + mesh->texCoordSetCount;
}

void GetModelSlotLayout(int slot, uint32_t* fvf, int* stride) {
  static const int BASE_STRIDES[MODEL_SKIN_KINDS][2] = {{64, 56}, {52, 76}, {72, 96}};
  const int skin = SlotSkinKind(slot), mapped = SlotNormalMapped(slot), sets = SlotSetCount(slot);
  *stride = BASE_STRIDES[skin][mapped] + 16 * sets;
  *fvf = 0;
  if (skin == 0 && !mapped) {
    *fvf = FVF_RIGID | (static_cast<uint32_t>(sets) << D3DFVF_TEXCOUNT_SHIFT);
    for (int set = 0; set < sets; set++) *fvf |= static_cast<uint32_t>(TEXCOORD_SIZE4) << (16 + 2 * set);
  }
}

int AssignModelVertexGroups(ModelBaseRecord* base) {
  base->groupCount = 0;
  for (int slot = 0; slot < MODEL_LAYOUT_SLOTS; slot++) {
    base->slotGroupCount[slot] = 0;
    base->slotFirst[slot] = nullptr;
    base->slotLast[slot] = nullptr;
  }
  for (int i = 0; i < base->subMeshCount; i++) {
    ModelSubMesh* subMesh = &base->subMeshes[i];
    subMesh->group = nullptr;
    subMesh->firstVertex = 0;
    subMesh->firstIndex = 0;
    const int slot = GetModelSubMeshSlot(subMesh);
    if (slot < 0) continue;
    ModelVertexGroup* group = base->slotLast[slot];
    if (group == nullptr && (group = NewGroup(base, slot)) == nullptr) {
      FreeModelVertexGroups(base, 0);
      return -1;
    }
    const bool wasEmpty = group->vertexCount == 0 && group->indexCount == 0;
    AssignToGroup(subMesh, group);
    if (!wasEmpty && (group->indexCount >= MODEL_GROUP_INDEX_LIMIT || group->vertexCount >= MODEL_GROUP_VERTEX_LIMIT)) {
      group->vertexCount -= subMesh->vertexCount;
      group->indexCount -= subMesh->indexCount1 + subMesh->indexCount2;
      if ((group = NewGroup(base, slot)) == nullptr) {
        FreeModelVertexGroups(base, 0);
        return -1;
      }
      AssignToGroup(subMesh, group);
    }
  }
  for (int slot = 0; slot < MODEL_LAYOUT_SLOTS; slot++) {
    ModelVertexGroup* last = base->slotLast[slot];
    if (last == nullptr || last->indexCount != 0) continue;
    ForgetGroup(base, last);
    UnlinkGroup(base, slot, last);
    MemFree(last);
  }
  return 0;
}

void FreeModelVertexGroups(ModelBaseRecord* base, int onMainThread) {
  for (int slot = 0; slot < MODEL_LAYOUT_SLOTS; slot++) {
    ModelVertexGroup* group = base->slotFirst[slot];
    while (group != nullptr) {
      ModelVertexGroup* next = group->next;
      IDirect3DResource9* vertices = group->vertexBuffer;
      IDirect3DResource9* indices = group->indexBuffer;
      ReleaseBuffer(vertices, group->lockedVertices != nullptr, onMainThread);
      ReleaseBuffer(indices, group->lockedIndices != nullptr, onMainThread);
      MemFree(group);
      group = next;
    }
    base->slotFirst[slot] = nullptr;
    base->slotLast[slot] = nullptr;
    base->slotGroupCount[slot] = 0;
  }
  base->groupCount = 0;
  for (int i = 0; i < base->subMeshCount; i++) {
    base->subMeshes[i].group = nullptr;
    base->subMeshes[i].firstVertex = 0;
    base->subMeshes[i].firstIndex = 0;
  }
}

void RebuildModelDeviceResources() { RebuildAllModelBases(0); }

int RebuildAllModelBases(int onMainThread) {
  HandleManager& manager = HandleManagers[HANDLETYPE_MODELBASE];
  if (!manager.initialized) return -1;
  for (int slot = manager.lowestSlot; manager.count > 0 && slot <= manager.highestSlot; slot++) {
    HandleRecordHeader* record = manager.slots[slot];
    if (record != nullptr) RebuildModelBaseDeviceBuffers(record->handle, 1, onMainThread);
  }
  return 0;
}

int RebuildModelBaseDeviceBuffers(int handle, int request, int onMainThread) {
  if (!FullDeviceMode()) return 0;
  ModelBaseRecord* base = GetModelBaseRecord(handle, 0);
  if (base == nullptr) return -1;
  if (base->buffersBuilt) return 0;
  base->rebuildRequest = request;
  if (AssignModelVertexGroups(base) < 0) return -1;

  for (int slot = 0; slot < MODEL_LAYOUT_SLOTS; slot++) {
    const bool always = SlotSkinKind(slot) == 0 && !SlotNormalMapped(slot);
    for (ModelVertexGroup* group = base->slotFirst[slot]; group != nullptr; group = group->next) {
      uint32_t fvf;
      int stride;
      GetModelSlotLayout(slot, &fvf, &stride);
      if (!always && !GraphicsSystem.shadersUsable) continue;
      group->fvf = fvf;
      group->stride = stride;
      if (CreateGroupBuffers(group, onMainThread) < 0) {
        FreeModelVertexGroups(base, onMainThread);
        return -1;
      }
    }
  }

  for (int i = 0; i < base->subMeshCount; i++) {
    const ModelSubMesh* subMesh = &base->subMeshes[i];
    if (subMesh->group != nullptr && subMesh->group->lockedVertices != nullptr &&
        subMesh->group->lockedIndices != nullptr)
      FillSubMesh(subMesh);
  }

  for (int slot = 0; slot < MODEL_LAYOUT_SLOTS; slot++) {
    ModelVertexGroup* group = base->slotFirst[slot];
    while (group != nullptr) {
      ModelVertexGroup* next = group->next;
      if (group->vertexBuffer == nullptr || group->indexBuffer == nullptr) {
        UnlinkGroup(base, slot, group);
        IDirect3DResource9* vertices = group->vertexBuffer;
        IDirect3DResource9* indices = group->indexBuffer;
        ReleaseBuffer(vertices, group->lockedVertices != nullptr, onMainThread);
        ReleaseBuffer(indices, group->lockedIndices != nullptr, onMainThread);
        ForgetGroup(base, group);
        MemFree(group);
      } else {
        UnlockBufferOnMainThread(group->vertexBuffer, onMainThread);
        UnlockBufferOnMainThread(group->indexBuffer, onMainThread);
        group->lockedVertices = nullptr;
        group->lockedIndices = nullptr;
      }
      group = next;
    }
  }

  base->buffersBuilt = 1;
  ForEachCopyOf(base, [onMainThread](ModelRecord* model) {
    CreateModelInstanceVertexBuffers(model->header.handle, onMainThread);
  });
  return 0;
}

int CreateModelInstanceVertexBuffers(int handle, int onMainThread) {
  if (!Models.ready) return -1;
  ModelRecord* model = GetModelRecord(handle, onMainThread);
  if (model == nullptr) return -1;
  const bool full = FullDeviceMode();
  const bool shaders = GraphicsSystem.shadersUsable != 0;
  if (!full && !shaders) return 0;
  const ModelBaseRecord* base = model->base;
  if (base == nullptr || model->frames == nullptr) return 0;
  for (int f = 0; f < base->frameCount; f++) {
    const ModelFrameEntry& frame = base->frames[f];
    const ModelCopyFrame& copyFrame = model->frames[f];
    if (!frame.hasCopyVertexData || copyFrame.meshes == nullptr) continue;
    for (int m = 0; m < frame.meshCount; m++) {
      const ModelMeshEntry& mesh = frame.meshes[m];
      ModelCopySubMesh* entries = copyFrame.meshes[m].subMeshes;
      if (!mesh.copiesNeedBuffers || entries == nullptr) continue;
      for (int s = 0; s < mesh.subMeshCount; s++) {
        const ModelSubMesh& subMesh = mesh.subMeshes[s];
        const bool qualifies = subMesh.skinKind == 0 && full ? true : shaders;
        ModelCopySubMesh& entry = entries[s];
        if (!qualifies || entry.vertexBuffer != nullptr || subMesh.group == nullptr) continue;
        CreateDeviceVertexBufferOnMainThread(static_cast<UINT>(subMesh.group->stride * subMesh.vertexCount),
                                             D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, subMesh.group->fvf, D3DPOOL_DEFAULT,
                                             &entry.vertexBuffer, nullptr, onMainThread);
        model->ownVertexBuffers = 1;
        if (entry.state != nullptr) entry.state->changed = 1;
      }
    }
  }
  return 0;
}

int ReleaseModelBaseDeviceBuffers(int handle) {
  ModelBaseRecord* base = GetModelBaseRecord(handle, 0);
  if (base == nullptr) return -1;
  if (!base->buffersBuilt) return 0;
  FreeModelVertexGroups(base, 0);
  base->buffersBuilt = 0;
  ForEachCopyOf(base, [](ModelRecord* model) { ReleaseModelInstanceVertexBuffers(model->header.handle); });
  return 0;
}

int ReleaseModelInstanceVertexBuffers(int handle) {
  ModelRecord* model = GetModelRecord(handle, 1);
  if (model == nullptr) return -1;
  if (model->base == nullptr || model->subMeshBuffers == nullptr) return 0;
  for (int i = 0; i < model->base->subMeshCount; i++) {
    IDirect3DVertexBuffer9*& buffer = model->subMeshBuffers[i].vertexBuffer;
    if (buffer == nullptr) continue;
    ReleaseComObjectOnMainThread(buffer, 0);
    buffer = nullptr;
  }
  return 0;
}

int ReleaseModelDeviceResources() {
  static const int TYPES[] = {HANDLETYPE_MODELBASE, HANDLETYPE_MODEL};
  for (int type : TYPES) {
    HandleManager& manager = HandleManagers[type];
    if (!manager.initialized) continue;
    for (int slot = manager.lowestSlot; manager.count > 0 && slot <= manager.highestSlot; slot++) {
      HandleRecordHeader* record = manager.slots[slot];
      if (record == nullptr) continue;
      if (type == HANDLETYPE_MODELBASE) ReleaseModelBaseDeviceBuffers(record->handle);
      else ReleaseModelInstanceVertexBuffers(record->handle);
    }
  }
  return 0;
}
