#include "ModelRecords.h"

#include <string.h>

#include "ZiDezaru.h"

namespace test_support {

namespace {

constexpr int kDirections = 7;

// Carves typed arrays out of one zeroed block.
class Arena {
 public:
  explicit Arena(size_t size) : base_(static_cast<uint8_t*>(MEM_ALLOC_ZEROED(size))), size_(size) {}
  template <typename T>
  T* Take(size_t count) {
    used_ = (used_ + 15) & ~static_cast<size_t>(15);
    T* p = reinterpret_cast<T*>(base_ + used_);
    used_ += count * sizeof(T);
    return used_ <= size_ ? p : nullptr;
  }
  void* Block() const { return base_; }

 private:
  uint8_t* base_;
  size_t size_;
  size_t used_ = 0;
};

void* Owned(size_t size) { return MEM_ALLOC_ZEROED(size); }

int BlockSize(int skin) { return skin == 0 ? 32 : skin == 1 ? 48 : 64; }

uint8_t* Aligned16(void* p) {
  return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + 15) & ~static_cast<uintptr_t>(15));
}

int SourceStride(int sets) { return 24 + 8 * sets; }

}  // namespace

int MakeModelBase(const BaseSpec& spec) {
  const int handle = CreateHandle(HANDLETYPE_MODELBASE, -1);
  if (handle < 0) return -1;
  ModelBaseRecord* base = reinterpret_cast<ModelBaseRecord*>(GetHandleRecordOfType(handle, HANDLETYPE_MODELBASE));
  const int meshes = static_cast<int>(spec.meshes.size());
  const int subs = static_cast<int>(spec.subMeshes.size());
  Arena arena(4096 + meshes * (sizeof(ModelMeshEntry) + sizeof(ModelMaterial) + 32) +
              subs * (sizeof(ModelSubMesh) + 16));
  base->dataBlock = arena.Block();
  base->refCount = spec.refCount;
  base->frameCount = 1;
  base->frames = arena.Take<ModelFrameEntry>(1);
  base->meshCount = meshes;
  base->meshes = arena.Take<ModelMeshEntry>(meshes);
  ModelMaterial* materials = arena.Take<ModelMaterial>(meshes);
  base->subMeshCount = subs;
  base->subMeshes = arena.Take<ModelSubMesh>(subs);
  base->ownedBlockCount = 2;
  base->ownedBlocks = arena.Take<ModelOwnedBlock>(2);
  base->pairedCount = 2;
  base->paired = arena.Take<ModelPairedBlock>(2);

  ModelFrameEntry& frame = base->frames[0];
  frame.meshCount = meshes;
  frame.meshes = base->meshes;
  frame.hasCopyVertexData = spec.copyVertexData;
  frame.directions = static_cast<ModelDirection*>(Owned(kDirections * sizeof(ModelDirection)));
  frame.directionsOwned = 1;
  for (int d = 0; d < kDirections; d++) {
    float* f = frame.directions[d].normal;
    for (int k = 0; k < 9; k++) f[k] = static_cast<float>(d * 10 + k) + 0.5f;
  }

  // Sub-meshes of each mesh lie next to each other in spec order.
  std::vector<int> sources(meshes, 0);
  int next = 0;
  for (int m = 0; m < meshes; m++) {
    ModelMeshEntry& mesh = base->meshes[m];
    mesh.frame = &frame;
    mesh.material = &materials[m];
    materials[m].normalMap = spec.meshes[m].normalMap;
    mesh.copiesNeedBuffers = static_cast<uint8_t>(spec.meshes[m].copiesNeedBuffers);
    mesh.texCoordSetCount = spec.meshes[m].sets;
    mesh.vertexStride = SourceStride(spec.meshes[m].sets);
    mesh.subMeshes = &base->subMeshes[next];
    for (const SubMeshSpec& s : spec.subMeshes) {
      if (s.mesh != m) continue;
      mesh.subMeshCount++;
      sources[m] += s.vertexCount;
      next++;
    }
    if (spec.vertexData) {
      mesh.vertices = Owned(static_cast<size_t>(sources[m] + 1) * mesh.vertexStride);
      mesh.verticesOwned = 1;
      for (int j = 0; j < sources[m]; j++) {
        uint32_t* w = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(mesh.vertices) + j * mesh.vertexStride);
        w[0] = 0xAAAAAAAAu;
        w[1] = static_cast<uint32_t>((j * 3 + 1) % kDirections);
        w[2] = 0xFF000000u + static_cast<uint32_t>(j * 0x010203 + m);
        w[3] = 0x80000000u + static_cast<uint32_t>(j * 0x030201);
        w[4] = 0xBBBBBBBBu;
        for (int k = 0; k < 2 * spec.meshes[m].sets; k++) {
          const float value = static_cast<float>(j) + 0.125f * static_cast<float>(k + 1);
          memcpy(&w[5 + k], &value, 4);
        }
      }
    }
  }

  // Fill the sub-meshes in mesh order so that each mesh's run is contiguous.
  std::vector<int> used(meshes, 0);
  int index = 0;
  for (int m = 0; m < meshes; m++) {
    for (size_t k = 0; k < spec.subMeshes.size(); k++) {
      const SubMeshSpec& s = spec.subMeshes[k];
      if (s.mesh != m) continue;
      ModelSubMesh& sub = base->subMeshes[index];
      sub.mesh = &base->meshes[m];
      sub.skinKind = static_cast<uint16_t>(s.skin);
      sub.vertexCount = s.vertexCount;
      sub.indexCount1 = static_cast<uint16_t>(s.indexCount1);
      sub.indexCount2 = static_cast<uint16_t>(s.indexCount2);
      if (s.indexCount1 > 0) sub.indices1 = static_cast<uint16_t*>(Owned(s.indexCount1 * 2));
      if (s.indexCount2 > 0) sub.indices2 = static_cast<uint16_t*>(Owned(s.indexCount2 * 2));
      for (int i = 0; i < s.indexCount1; i++) sub.indices1[i] = static_cast<uint16_t>(i * 3 + 1 + index);
      for (int i = 0; i < s.indexCount2; i++) sub.indices2[i] = static_cast<uint16_t>(0x8000 + i * 7 + index);
      if (spec.vertexData) {
        sub.sourceIndices = static_cast<int*>(Owned(s.vertexCount * sizeof(int) + 4));
        sub.sourceIndicesOwned = 1;
        for (int i = 0; i < s.vertexCount; i++) sub.sourceIndices[i] = used[m] + (i * 5 + 1) % s.vertexCount;
        const int block = BlockSize(s.skin);
        sub.positions = Owned(static_cast<size_t>(s.vertexCount) * block + 16);
        sub.positionsOwned = 1;
        uint8_t* p = Aligned16(sub.positions);
        for (int i = 0; i < s.vertexCount; i++) {
          uint8_t* v = p + i * block;
          for (int f = 0; f < block / 4; f++) {
            const float value = static_cast<float>(index * 1000 + i) + 0.25f * static_cast<float>(f);
            memcpy(v + 4 * f, &value, 4);
          }
          if (s.skin != 0)
            for (int b = 0; b < 4; b++) v[44 + b] = static_cast<uint8_t>(static_cast<int8_t>(i * 5 - 20 + b));
          if (s.skin == 2)
            for (int b = 0; b < 4; b++) v[60 + b] = static_cast<uint8_t>(static_cast<int8_t>(90 - i * 3 - b));
        }
      }
      used[m] += s.vertexCount;
      index++;
    }
  }

  if (spec.textureCount > 0) {
    base->textureCount = spec.textureCount;
    base->textures = static_cast<ModelTextureEntry*>(Owned(spec.textureCount * sizeof(ModelTextureEntry)));
    base->texturesOwned = 1;
    for (int t = 0; t < spec.textureCount; t++) {
      ModelTextureEntry& e = base->textures[t];
      e.block1Owned = e.block2Owned = e.block3Owned = 1;
      e.block1 = Owned(8);
      e.block2 = Owned(8);
      e.block3 = Owned(8);
      e.graph = -1;
    }
  }
  base->ownedBlocks[0] = {Owned(16), 1};
  base->ownedBlocks[1] = {arena.Take<int>(4), 0};
  base->paired[0] = {1, Owned(8), Owned(8)};
  base->paired[1] = {0, nullptr, nullptr};
  base->otherBlock = Owned(32);
  base->smallState4[0] = 4;
  base->smallState5[4] = 5;
  ModelChainBlock* second = static_cast<ModelChainBlock*>(Owned(sizeof(ModelChainBlock)));
  base->chain = static_cast<ModelChainBlock*>(Owned(sizeof(ModelChainBlock)));
  base->chain->next = second;
  base->rigidBodyCount = spec.rigidBodies;
  base->jointCount = spec.joints;
  return handle;
}

int MakeModel(int baseHandle, bool overridesInUse) {
  ModelBaseRecord* base = GetModelBaseRecord(baseHandle, 1);
  if (base == nullptr) return -1;
  const int handle = CreateHandle(HANDLETYPE_MODEL, -1);
  if (handle < 0) return -1;
  ModelRecord* model = reinterpret_cast<ModelRecord*>(GetHandleRecordOfType(handle, HANDLETYPE_MODEL));
  const int frames = base->frameCount, subs = base->subMeshCount;
  Arena arena(4096 + frames * (sizeof(ModelCopyFrame) + base->meshCount * sizeof(ModelCopyMesh) + 64) +
              subs * (sizeof(ModelCopySubMesh) + sizeof(ModelSubMeshState) + 32) +
              (base->rigidBodyCount + 1) * sizeof(ModelRigidBodyEntry) +
              (base->jointCount + 1) * sizeof(ModelJointEntry));
  model->dataBlock = arena.Block();
  model->baseHandle = baseHandle;
  model->base = base;
  model->stateFlag1 = model->stateFlag2 = 1;
  model->subMeshBuffers = arena.Take<ModelCopySubMesh>(subs);
  for (int i = 0; i < subs; i++) model->subMeshBuffers[i].state = arena.Take<ModelSubMeshState>(1);
  model->frames = arena.Take<ModelCopyFrame>(frames);
  for (int f = 0; f < frames; f++) {
    ModelCopyFrame& frame = model->frames[f];
    const ModelFrameEntry& source = base->frames[f];
    frame.meshes = arena.Take<ModelCopyMesh>(source.meshCount);
    for (int m = 0; m < source.meshCount; m++)
      frame.meshes[m].subMeshes = model->subMeshBuffers + (source.meshes[m].subMeshes - base->subMeshes);
    for (void*& block : frame.blocks) block = Owned(8);
  }
  for (void*& block : model->wholeBlocks) block = Owned(8);
  for (int f = -1; f < frames; f++) {
    ModelFrameBlock* block = static_cast<ModelFrameBlock*>(Owned(sizeof(ModelFrameBlock)));
    block->head = arena.Take<ModelFrameChainHead>(1);
    block->head->first = static_cast<ModelFrameNode*>(Owned(sizeof(ModelFrameNode)));
    block->head->first->next = static_cast<ModelFrameNode*>(Owned(sizeof(ModelFrameNode)));
    (f < 0 ? model->wholeFrameBlock : model->frames[f].frameBlock) = block;
  }
  model->slotCapacity = 2;
  model->slots = static_cast<ModelSlot*>(Owned(2 * sizeof(ModelSlot)));
  model->slots[0] = {1, Owned(8)};
  model->slotsInUse = 1;
  model->frameSlots = arena.Take<ModelFrameSlot>(frames * 2);
  for (int f = 0; f < frames; f++) model->frameSlots[f * 2] = {1, 77};
  if (base->textureCount > 0) {
    model->overrides = static_cast<ModelTextureOverride*>(Owned(base->textureCount * sizeof(ModelTextureOverride)));
    model->overridesOwned = 1;
    for (int t = 0; t < base->textureCount; t++) {
      ModelTextureOverride& o = model->overrides[t];
      o.graph = -1;
      if (!overridesInUse) continue;
      o.inUse = 1;
      o.block1 = Owned(4);
      o.block2 = Owned(4);
      o.block3 = Owned(4);
      o.block4 = Owned(4);
      o.alphaBytes = Owned(4);
      o.colorBytes = Owned(4);
    }
  }
  model->rigidBodies = arena.Take<ModelRigidBodyEntry>(base->rigidBodyCount + 1);
  model->joints = arena.Take<ModelJointEntry>(base->jointCount + 1);

  model->prevCopy = base->lastInstance;
  if (base->lastInstance != nullptr) base->lastInstance->nextCopy = model;
  else base->firstInstance = model;
  base->lastInstance = model;
  base->instanceCount++;
  base->refCount++;
  return handle;
}

std::vector<uint8_t> ExpectedDeviceVertex(const ModelSubMesh* sub, int i, int stride) {
  std::vector<uint8_t> out(stride, 0);
  const ModelMeshEntry* mesh = sub->mesh;
  const int skin = sub->skinKind, sets = mesh->texCoordSetCount;
  const bool mapped = mesh->material->normalMap != 0;
  const uint8_t* block = Aligned16(sub->positions) + i * BlockSize(skin);
  const uint8_t* source = static_cast<const uint8_t*>(mesh->vertices) + sub->sourceIndices[i] * mesh->vertexStride;
  uint32_t direction;
  memcpy(&direction, source + 4, 4);
  const ModelDirection& d = mesh->frame->directions[direction];
  size_t at = 0;
  auto put = [&](const void* data, size_t n) {
    memcpy(out.data() + at, data, n);
    at += n;
  };
  // Position, bone indices (x 3, low byte), weights.
  const int positionAt = skin == 0 ? 0 : skin == 1 ? 16 : 48;
  put(block + positionAt, 12);
  const int bones = skin == 0 ? 0 : skin == 1 ? 4 : 8;
  for (int b = 0; b < bones; b++) {
    const int offset = b < 4 ? 44 + b : 60 + (b - 4);
    const uint8_t value = static_cast<uint8_t>(static_cast<int8_t>(block[offset]) * 3);
    put(&value, 1);
  }
  put(block, bones * 4);
  if (mapped) {
    put(d.tangent1, 12);
    put(d.tangent2, 12);
  }
  put(d.normal, 12);
  put(source + 8, 4);
  put(source + 12, 4);
  const float one = 1.0f;
  for (int s = 0; s < sets; s++) {
    put(source + 20 + 8 * s, 8);
    put(&one, 4);
    put(&one, 4);
  }
  return out;
}

std::vector<uint8_t> MakeBmp(int width, int height, const std::function<uint32_t(int, int)>& color) {
  const int pitch = (width * 3 + 3) & ~3;
  const uint32_t size = 54 + static_cast<uint32_t>(pitch) * height;
  std::vector<uint8_t> file(size, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) file[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, size);
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  file[26] = 1;
  file[28] = 24;
  for (int y = 0; y < height; y++) {
    uint8_t* row = file.data() + 54 + static_cast<size_t>(height - 1 - y) * pitch;
    for (int x = 0; x < width; x++) {
      const uint32_t c = color(x, y);
      row[x * 3] = static_cast<uint8_t>(c);
      row[x * 3 + 1] = static_cast<uint8_t>(c >> 8);
      row[x * 3 + 2] = static_cast<uint8_t>(c >> 16);
    }
  }
  return file;
}

}  // namespace test_support
