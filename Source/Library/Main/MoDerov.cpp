// Model handles: types 13 (model base) and 14 (model) registered in
// Direct3D mode, their bulk deletion and their delete callbacks, which
// give back a copy's slots, buffers, blocks, physics objects and texture
// overrides before they drop the copy's reference on its base; a base is
// released only when its last reference goes.
// Threads: main thread; the delete callbacks run under their type's lock
// (the handle manager's), a copy's callback also takes the base type's.
// Platform: none directly (device buffers and graphics through their layers).
#include "MoDerov.h"

#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "ZiDezaru.h"

ModelState Models = {0, {-1, -1, -1, -1}};

namespace {

const char MODEL_TYPE_NAME[] = "３Ｄモデル";

template <typename T>
void FreeAndClear(T*& block) {
  if (block != nullptr) MemFree(block);
  block = nullptr;
}

// The copy's own handle still names it and it has no pending loads.
bool CopyStillValid(const ModelRecord* model) { return GetModelRecord(model->header.handle, 0) == model; }

}  // namespace

ModelBaseRecord* GetModelBaseRecord(int handle, int acceptPending) {
  if (handle < 0) return nullptr;
  HandleRecordHeader* header = GetHandleRecordOfType(handle, HANDLETYPE_MODELBASE);
  if (header == nullptr || (!acceptPending && header->asyncLoadCount != 0)) return nullptr;
  return reinterpret_cast<ModelBaseRecord*>(header);
}

ModelRecord* GetModelRecord(int handle, int acceptPending) {
  if (handle < 0) return nullptr;
  HandleRecordHeader* header = GetHandleRecordOfType(handle, HANDLETYPE_MODEL);
  if (header == nullptr || (!acceptPending && header->asyncLoadCount != 0)) return nullptr;
  return reinterpret_cast<ModelRecord*>(header);
}

int SetupModelHandleTypes() {
  if (Models.ready || !DeviceLayer.hardware) return 0;
  InitHandleType(HANDLETYPE_MODELBASE, sizeof(ModelBaseRecord), MODEL_HANDLE_MAX, ReturnZero,
                 ReleaseModelBaseHandleRecord, MODEL_TYPE_NAME);
  InitHandleType(HANDLETYPE_MODEL, sizeof(ModelRecord), MODEL_HANDLE_MAX, ReturnZero, ReleaseModelHandleRecord,
                 MODEL_TYPE_NAME);
  for (int& texture : Models.defaultTextures) texture = -1;
  Models.ready = 1;
  return 0;
}

int ShutdownModelHandleTypes() {
  if (!Models.ready) return 0;
  DeleteAllHandlesOfType(HANDLETYPE_MODEL, nullptr);
  DeleteAllHandlesOfType(HANDLETYPE_MODELBASE, nullptr);
  // A base still holding references past its copies would be freed by the
  // type's end without its buffers and blocks: release those bases whole.
  HandleManager& bases = HandleManagers[HANDLETYPE_MODELBASE];
  for (int slot = bases.lowestSlot; bases.initialized && bases.count > 0 && slot <= bases.highestSlot; slot++) {
    ModelBaseRecord* base = reinterpret_cast<ModelBaseRecord*>(bases.slots[slot]);
    if (base == nullptr) continue;
    base->refCount = 1;
    DeleteHandle(base->header.handle);
  }
  TermHandleType(HANDLETYPE_MODEL);
  TermHandleType(HANDLETYPE_MODELBASE);
  Models.ready = 0;
  return 0;
}

int DeleteAllModels() { return DeleteAllHandlesOfType(HANDLETYPE_MODEL, nullptr); }

int DeleteAllModelBases() { return DeleteAllHandlesOfType(HANDLETYPE_MODELBASE, nullptr); }

int ReleaseModelSlot(int handle, int slot) {
  if (!Models.ready) return -1;
  ModelRecord* model = GetModelRecord(handle, 0);
  if (model == nullptr || slot < 0 || slot >= model->slotCapacity) return -1;
  if (model->slots != nullptr && model->slots[slot].inUse) {
    FreeAndClear(model->slots[slot].block);
    model->slots[slot].inUse = 0;
    if (model->frameSlots != nullptr && model->base != nullptr) {
      for (int frame = 0; frame < model->base->frameCount; frame++) {
        ModelFrameSlot& entry = model->frameSlots[frame * model->slotCapacity + slot];
        entry.flag = 0;
        entry.value = 0;
      }
    }
    model->slotsInUse--;
  }
  model->stateFlag1 = 0;
  model->stateFlag2 = 0;
  return 0;
}

int ReleaseModelFrameBlock(int handle, int frame) {
  ModelRecord* model = GetModelRecord(handle, 0);
  if (model == nullptr) return -1;
  ModelFrameBlock** selected = nullptr;
  if (frame == -1) {
    selected = &model->wholeFrameBlock;
  } else {
    if (model->base == nullptr || model->frames == nullptr || frame < 0 || frame >= model->base->frameCount) return -1;
    selected = &model->frames[frame].frameBlock;
  }
  ModelFrameBlock* block = *selected;
  *selected = nullptr;
  if (block != nullptr) {
    if (block->head != nullptr) {
      ModelFrameNode* node = block->head->first;
      while (node != nullptr) {
        ModelFrameNode* next = node->next;
        MemFree(node);
        node = next;
      }
    }
    MemFree(block);
  }
  return 0;
}

int ReleaseModelHandleRecord(HandleRecordHeader* record) {
  ModelRecord* model = reinterpret_cast<ModelRecord*>(record);
  const int handle = record->handle;
  ModelBaseRecord* base = model->base;
  if (base == nullptr) {
    FreeAndClear(model->dataBlock);
    return 0;
  }
  for (int slot = 0; slot < model->slotCapacity; slot++) ReleaseModelSlot(handle, slot);
  ReleaseModelInstanceVertexBuffers(handle);
  FreeAndClear(model->slots);
  for (void*& block : model->wholeBlocks) {
    if (CopyStillValid(model)) FreeAndClear(block);
  }
  if (model->frames != nullptr) {
    for (int frame = 0; frame < base->frameCount; frame++) {
      for (void*& block : model->frames[frame].blocks) {
        if (CopyStillValid(model)) FreeAndClear(block);
      }
    }
  }
  ReleaseModelFrameBlock(handle, -1);
  for (int frame = 0; frame < base->frameCount; frame++) ReleaseModelFrameBlock(handle, frame);
  if (base->rigidBodyCount != 0) TerminateModelInstancePhysics(model);
  if (model->overrides != nullptr) {
    for (int i = 0; i < base->textureCount; i++) {
      ModelTextureOverride& entry = model->overrides[i];
      if (!entry.inUse) continue;
      FreeAndClear(entry.block1);
      FreeAndClear(entry.block2);
      FreeAndClear(entry.alphaBytes);
      FreeAndClear(entry.block3);
      FreeAndClear(entry.block4);
      FreeAndClear(entry.colorBytes);
      DeleteGraphicHandle(entry.graph);
      entry.graph = -1;
      entry.inUse = 0;
    }
  }
  if (model->overridesOwned) FreeAndClear(model->overrides);
  if (model->prevCopy != nullptr) model->prevCopy->nextCopy = model->nextCopy;
  if (model->nextCopy != nullptr) model->nextCopy->prevCopy = model->prevCopy;
  if (base->lastInstance == model) base->lastInstance = model->prevCopy;
  if (base->firstInstance == model) base->firstInstance = model->nextCopy;
  base->instanceCount--;
  DeleteHandle(model->baseHandle);
  FreeAndClear(model->dataBlock);
  return 0;
}

int ReleaseModelBaseHandleRecord(HandleRecordHeader* record) {
  ModelBaseRecord* base = reinterpret_cast<ModelBaseRecord*>(record);
  if (--base->refCount > 0) return 1;
  ReleaseModelBaseDeviceBuffers(record->handle);
  FreeAndClear(base->otherBlock);
  for (int& word : base->smallState4) word = 0;
  for (int& word : base->smallState5) word = 0;
  if (base->textures != nullptr) {
    for (int i = 0; i < base->textureCount; i++) {
      ModelTextureEntry& entry = base->textures[i];
      if (entry.block1Owned) FreeAndClear(entry.block1);
      DeleteGraphicHandle(entry.graph);
      entry.graph = 0;
      if (entry.block3Owned) FreeAndClear(entry.block3);
      if (entry.block2Owned) FreeAndClear(entry.block2);
      FreeAndClear(entry.colorBytes);
      FreeAndClear(entry.alphaBytes);
    }
    if (base->texturesOwned) FreeAndClear(base->textures);
  }
  if (base->ownedBlocks != nullptr) {
    for (int i = 0; i < base->ownedBlockCount; i++) {
      if (base->ownedBlocks[i].owned) FreeAndClear(base->ownedBlocks[i].block);
    }
  }
  if (base->frames != nullptr) {
    for (int i = 0; i < base->frameCount; i++) {
      if (base->frames[i].directionsOwned) FreeAndClear(base->frames[i].directions);
    }
  }
  if (base->meshes != nullptr) {
    for (int i = 0; i < base->meshCount; i++) {
      if (base->meshes[i].verticesOwned) FreeAndClear(base->meshes[i].vertices);
    }
  }
  if (base->subMeshes != nullptr) {
    for (int i = 0; i < base->subMeshCount; i++) {
      ModelSubMesh& subMesh = base->subMeshes[i];
      FreeAndClear(subMesh.indices1);
      FreeAndClear(subMesh.indices2);
      if (subMesh.sourceIndicesOwned) FreeAndClear(subMesh.sourceIndices);
      if (subMesh.positionsOwned) FreeAndClear(subMesh.positions);
    }
  }
  if (base->paired != nullptr) {
    for (int i = 0; i < base->pairedCount; i++) {
      if (!base->paired[i].flag) continue;
      FreeAndClear(base->paired[i].first);
      FreeAndClear(base->paired[i].second);
    }
  }
  ModelChainBlock* block = base->chain;
  while (block != nullptr) {
    ModelChainBlock* next = block->next;
    MemFree(block);
    block = next;
  }
  base->chain = nullptr;
  FreeAndClear(base->dataBlock);
  return 0;
}
