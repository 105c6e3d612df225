// Shader-constant cache and shader handles (type 12).
// The cache: four constant sets per constant type; for each register the
// highest active set that uses it supplies the value in force, and only
// values in force reach the device (while shaders are usable). Every sent
// value is also kept in the type's device image for the re-send after a
// reset. Shader handles keep a copy of their code for re-creation.
// Threads: the cache on the main thread only; shader creation may run in a
// loading job and then reaches the device through the main-thread pairs.
// Platform: IDirect3DDevice9 constant setters and shader creation, through
// the device call table.
#include "VuViderezaShader.h"

#include <string.h>

#include "DiDAridIrer.h"
#include "RaRadaraLog.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaRenderState.h"
#include "ZiDezaru.h"

namespace {

const char LOG_VERTEX_SHADER_FAILED[] = "頂点シェーダーの作成に失敗しました";
const char LOG_MEMORY_FAILED[] = "メモリの確保に失敗しました";
const char LOG_PIXEL_SHADER_FAILED[] = "ピクセルシェーダーの作成に失敗しました";

}  // namespace

ShaderConstantCache ShaderConstants;
UserShaderDrawState UserShaderDraw;

namespace {

const int RegisterCounts[SHADER_CONST_TYPES] = {256, 16, 16, 224, 16, 16};
const int RegisterBytes[SHADER_CONST_TYPES] = {16, 16, 4, 16, 16, 4};

bool ValidType(int type) { return type >= 0 && type < SHADER_CONST_TYPES; }

ShaderConstBlock& SetBlock(ShaderConstantCache* cache, int type, int set) {
  return cache->sets[type * SHADER_CONST_SETS + set];
}

void SendToDevice(int type, int start, const void* data, int count) {
  switch (type) {
    case 0: SetDeviceVertexShaderConstantF(start, static_cast<const float*>(data), count); break;
    case 1: SetDeviceVertexShaderConstantI(start, static_cast<const int*>(data), count); break;
    case 2: SetDeviceVertexShaderConstantB(start, static_cast<const BOOL*>(data), count); break;
    case 3: SetDevicePixelShaderConstantF(start, static_cast<const float*>(data), count); break;
    case 4: SetDevicePixelShaderConstantI(start, static_cast<const int*>(data), count); break;
    case 5: SetDevicePixelShaderConstantB(start, static_cast<const BOOL*>(data), count); break;
  }
}

// Sends registers [start, end) built from each register's supplier block.
void SendFromSuppliers(ShaderConstantCache* cache, int type, int start, int end) {
  const int bytes = RegisterBytes[type];
  uint8_t buffer[4096];
  int runStart = -1;
  for (int r = start; r <= end; r++) {
    const int supplier = r < end ? static_cast<int>(cache->supplier[type][r])
                                 : static_cast<int>(SHADER_CONST_NO_SUPPLIER);
    if (supplier != SHADER_CONST_NO_SUPPLIER) {
      memcpy(buffer + (r - start) * bytes, SetBlock(cache, type, supplier).data + r * bytes, bytes);
      if (runStart < 0) runStart = r;
    } else if (runStart >= 0) {
      ApplyShaderConstants(buffer + (runStart - start) * bytes, runStart, cache, type, r - runStart);
      runStart = -1;
    }
  }
}

// The highest active set at or below `below` that uses the register.
int SupplierBelow(const ShaderConstantCache* cache, int type, int reg, int below) {
  for (int s = below; s >= 0; s--) {
    if (cache->setActive[s] && cache->usedMaps[type * SHADER_CONST_SETS + s][reg]) return s;
  }
  return SHADER_CONST_NO_SUPPLIER;
}

void InitBlock(ShaderConstBlock* block, int type) {
  memset(block, 0, sizeof *block);
  block->registerCount = RegisterCounts[type];
  block->bytesPerRegister = RegisterBytes[type];
}

}  // namespace

int AddShaderConstRange(ShaderConstRangeList* list, int start, int end) {
  if (start >= end) return 0;
  uint16_t out[SHADER_CONST_MAX_RANGES + 1][2];
  uint32_t n = 0;
  bool placed = false;
  for (uint32_t i = 0; i < list->count; i++) {
    const int s = list->ranges[i][0], e = list->ranges[i][1];
    if (e < start) {
      out[n][0] = s, out[n][1] = e, n++;
    } else if (s > end) {
      if (!placed) out[n][0] = start, out[n][1] = end, n++, placed = true;
      out[n][0] = s, out[n][1] = e, n++;
    } else {  // overlaps or touches: merge
      if (s < start) start = s;
      if (e > end) end = e;
    }
    if (n > SHADER_CONST_MAX_RANGES) return -1;
  }
  if (!placed) out[n][0] = start, out[n][1] = end, n++;
  if (n > SHADER_CONST_MAX_RANGES) return -1;
  memcpy(list->ranges, out, n * sizeof out[0]);
  list->count = n;
  return 0;
}

int RemoveShaderConstRange(ShaderConstRangeList* list, int start, int end) {
  if (start >= end) return 0;
  uint16_t out[SHADER_CONST_MAX_RANGES + 1][2];
  uint32_t n = 0;
  for (uint32_t i = 0; i < list->count; i++) {
    const int s = list->ranges[i][0], e = list->ranges[i][1];
    if (e <= start || s >= end) {
      out[n][0] = s, out[n][1] = e, n++;
    } else {
      if (s < start) out[n][0] = s, out[n][1] = start, n++;
      if (e > end) out[n][0] = end, out[n][1] = e, n++;
    }
    if (n > SHADER_CONST_MAX_RANGES) return -1;
  }
  memcpy(list->ranges, out, n * sizeof out[0]);
  list->count = n;
  return 0;
}

int InitShaderConstantCache(ShaderConstantCache* cache) {
  memset(cache, 0, sizeof *cache);
  for (int t = 0; t < SHADER_CONST_TYPES; t++) {
    for (int s = 0; s < SHADER_CONST_SETS; s++) InitBlock(&SetBlock(cache, t, s), t);
    InitBlock(&cache->device[t], t);
    memset(cache->supplier[t], SHADER_CONST_NO_SUPPLIER, sizeof cache->supplier[t]);
  }
  return 0;
}

int ApplyShaderConstants(const void* data, int start, ShaderConstantCache* cache, int type, int count) {
  if (!ValidType(type) || count <= 0) return 0;
  if (AreShadersUsable() && HasDirect3DDevice()) SendToDevice(type, start, data, count);
  memcpy(cache->device[type].data + start * RegisterBytes[type], data, count * RegisterBytes[type]);
  return 0;
}

int SetShaderConstantCached(ShaderConstantCache* cache, int type, int set, int start, const void* data, int count,
                            int record) {
  if (!ValidType(type) || set < 0 || set >= SHADER_CONST_SETS || data == nullptr || start < 0 || count <= 0 ||
      start + count > RegisterCounts[type])
    return -1;
  ShaderConstBlock& block = SetBlock(cache, type, set);
  if (record) AddShaderConstRange(&block.used, start, start + count);
  memcpy(block.data + start * RegisterBytes[type], data, count * RegisterBytes[type]);
  bool mixed = false;
  uint8_t* used = cache->usedMaps[type * SHADER_CONST_SETS + set];
  for (int r = start; r < start + count; r++) {
    used[r] = 1;
    if (!cache->setActive[set]) continue;
    const int supplier = cache->supplier[type][r];
    if (supplier != SHADER_CONST_NO_SUPPLIER && supplier > set && cache->setActive[supplier]) {
      mixed = true;
    } else {
      cache->supplier[type][r] = static_cast<uint8_t>(set);
    }
  }
  if (!cache->setActive[set]) return 0;
  if (mixed) {
    SendFromSuppliers(cache, type, start, start + count);
  } else {
    ApplyShaderConstants(data, start, cache, type, count);
  }
  return 0;
}

int ReleaseShaderConstantRange(ShaderConstantCache* cache, int type, int set, int start, int count) {
  if (!ValidType(type) || set < 0 || set >= SHADER_CONST_SETS || start < 0 || count <= 0 ||
      start + count > RegisterCounts[type])
    return -1;
  RemoveShaderConstRange(&SetBlock(cache, type, set).used, start, start + count);
  uint8_t* used = cache->usedMaps[type * SHADER_CONST_SETS + set];
  bool changed = false;
  for (int r = start; r < start + count; r++) {
    used[r] = 0;
    if (cache->supplier[type][r] == set) {
      cache->supplier[type][r] = static_cast<uint8_t>(SupplierBelow(cache, type, r, set - 1));
      changed = true;
    }
  }
  if (changed) SendFromSuppliers(cache, type, start, start + count);
  return 0;
}

int SetShaderConstantSetMask(ShaderConstantCache* cache, int mask) {
  if (static_cast<uint32_t>(mask) == cache->activeMask) return 0;
  cache->activeMask = static_cast<uint32_t>(mask);
  for (int s = 0; s < SHADER_CONST_SETS; s++) cache->setActive[s] = (mask >> s) & 1;
  for (int t = 0; t < SHADER_CONST_TYPES; t++) {
    uint8_t next[SHADER_CONST_MAX_REGISTERS];
    memset(next, SHADER_CONST_NO_SUPPLIER, sizeof next);
    for (int s = 0; s < SHADER_CONST_SETS; s++) {
      if (!cache->setActive[s]) continue;
      const ShaderConstRangeList& list = SetBlock(cache, t, s).used;
      for (uint32_t i = 0; i < list.count; i++) {
        for (int r = list.ranges[i][0]; r < list.ranges[i][1]; r++) next[r] = static_cast<uint8_t>(s);
      }
    }
    // Send each run of registers whose supplier changed.
    uint8_t previous[SHADER_CONST_MAX_REGISTERS];
    memcpy(previous, cache->supplier[t], sizeof previous);
    memcpy(cache->supplier[t], next, sizeof next);
    int runStart = -1;
    for (int r = 0; r <= RegisterCounts[t]; r++) {
      const bool differs = r < RegisterCounts[t] && next[r] != previous[r] && next[r] != SHADER_CONST_NO_SUPPLIER;
      if (differs && runStart < 0) runStart = r;
      if (!differs && runStart >= 0) {
        SendFromSuppliers(cache, t, runStart, r);
        runStart = -1;
      }
    }
  }
  return 0;
}

int ReapplyAllShaderConstants(ShaderConstantCache* cache) {
  if (!AreShadersUsable() || !HasDirect3DDevice()) return 0;
  for (int t = 0; t < SHADER_CONST_TYPES; t++) SendToDevice(t, 0, cache->device[t].data, RegisterCounts[t]);
  return 0;
}

// ---------------------------------------------------------------------------
// Shader handles.

namespace {

ShaderHandleRecord* ShaderRecordOf(int handle, bool acceptDeleting) {
  ShaderHandleRecord* record = reinterpret_cast<ShaderHandleRecord*>(GetHandleRecordOfType(handle, HANDLETYPE_SHADER));
  if (record == nullptr) return nullptr;
  if (!acceptDeleting && record->header.deleteFlag != nullptr && *record->header.deleteFlag < 0) return nullptr;
  // Still being made by a loading job.
  if (!acceptDeleting && record->header.asyncLoadCount > 0) return nullptr;
  return record;
}

}  // namespace

int CreateShaderFromCode(int handle, int vertex, const void* code, int size, int freeCode) {
  ShaderHandleRecord* record = ShaderRecordOf(handle, true);
  void* copy = nullptr;
  IUnknown* shader = nullptr;
  HRESULT hr;
  if (record == nullptr || code == nullptr || size < 4) goto failed;
  if (vertex) {
    hr = CreateDeviceVertexShaderOnMainThread(static_cast<const DWORD*>(code),
                                              reinterpret_cast<IDirect3DVertexShader9**>(&shader), 0);
  } else {
    hr = CreateDevicePixelShaderOnMainThread(static_cast<const DWORD*>(code),
                                             reinterpret_cast<IDirect3DPixelShader9**>(&shader), 0);
  }
  if (FAILED(hr) || shader == nullptr) {
    LogPrintf(LOG_VERTEX_SHADER_FAILED);
    shader = nullptr;
    goto failed;
  }
  copy = MEM_ALLOC(size);
  if (copy == nullptr) {
    LogPrintf(LOG_MEMORY_FAILED);
    goto failed;
  }
  memcpy(copy, code, size);
  record->vertex = vertex ? 1 : 0;
  record->code = copy;
  {
    const uint8_t* bytes = static_cast<const uint8_t*>(copy);
    if (size >= 40 && bytes[4] == 0xFE && bytes[5] == 0xFF) {
      record->constantCount = static_cast<uint32_t>(bytes[24] | bytes[25] << 8 | bytes[26] << 16 | bytes[27] << 24);
      record->constantInfo = bytes + 40;
    } else {
      record->constantCount = 0;
      record->constantInfo = nullptr;
    }
  }
  record->shader = shader;
  if (freeCode) MemFree(const_cast<void*>(code));
  return 0;

failed:
  if (shader != nullptr) ReleaseComObjectOnMainThread(shader, 0);
  if (freeCode && code != nullptr) MemFree(const_cast<void*>(code));
  return -1;
}

namespace {

// The loading job of a shader: the handle, the kind and the job's own copy
// of the code (freed by the creation).
int CreateShaderHandleJob(ASyncJob* job) {
  int offset = 0;
  const int handle = UnpackASyncInt(job->params, &offset);
  const int vertex = UnpackASyncInt(job->params, &offset);
  const int size = UnpackASyncInt(job->params, &offset);
  const void* code;
  memcpy(&code, UnpackASyncData(job->params, &offset), sizeof code);
  const int result = CreateShaderFromCode(handle, vertex, code, size, 1);
  // The pending load goes first: deleting waits for it.
  SubHandleAsyncCount(handle);
  if (result != 0) DeleteHandle(handle);
  return 0;
}

// Queues the creation; the handle is pending until the job ends. The code
// is copied (or taken over with freeCode), so the caller's block may go at
// once. 0 / -1 (the caller's block then freed when freeCode is set).
int QueueShaderCreation(int handle, int vertex, const void* code, int size, int freeCode) {
  const void* own = code;
  if (!freeCode) {
    void* copy = MEM_ALLOC(size);
    if (copy == nullptr) {
      LogPrintf(LOG_MEMORY_FAILED);
      return -1;
    }
    memcpy(copy, code, size);
    own = copy;
  }
  int length = 0;
  for (int i = 0; i < 3; i++) PackASyncInt(nullptr, &length, 0);
  PackASyncData(nullptr, &length, &own, sizeof own);
  ASyncJob* job = AllocASyncJob(length);
  if (job != nullptr) {
    int offset = 0;
    PackASyncInt(job->params, &offset, handle);
    PackASyncInt(job->params, &offset, vertex);
    PackASyncInt(job->params, &offset, size);
    PackASyncData(job->params, &offset, &own, sizeof own);
    job->function = CreateShaderHandleJob;
    if (AddASyncJobForHandle(job, handle) == 0) return 0;
  }
  MemFree(const_cast<void*>(own));
  return -1;
}

}  // namespace

int CreateShaderHandleFromCode(int vertex, const void* code, int size, int freeCode, int async) {
  if (!HasDirect3DDevice() || !AreShadersUsable() || !Screen.graphicsUp || code == nullptr || size < 4) {
    if (freeCode && code != nullptr) MemFree(const_cast<void*>(code));
    return -1;
  }
  const int handle = CreateHandle(HANDLETYPE_SHADER, -1);
  if (handle < 0) {
    if (freeCode) MemFree(const_cast<void*>(code));
    return -1;
  }
  if (async && !IsASyncLoadWorkerThread()) {
    if (QueueShaderCreation(handle, vertex, code, size, freeCode) == 0) return handle;
    DeleteHandle(handle);
    return -1;
  }
  if (CreateShaderFromCode(handle, vertex, code, size, freeCode) != 0) {
    DeleteHandle(handle);
    return -1;
  }
  return handle;
}

int LoadPixelShaderFromMemory(const void* code, int size) {
  return CreateShaderHandleFromCode(0, code, size, 0, IsASyncLoadEnabled());
}

int LoadVertexShaderFromMemory(const void* code, int size) {
  return CreateShaderHandleFromCode(1, code, size, 0, IsASyncLoadEnabled());
}

int ReleaseShaderHandleRecord(HandleRecordHeader* header) {
  ShaderHandleRecord* record = reinterpret_cast<ShaderHandleRecord*>(header);
  if (UserShaderDraw.vertexShader == header->handle) UserShaderDraw.vertexShader = 0;
  if (UserShaderDraw.pixelShader == header->handle) UserShaderDraw.pixelShader = 0;
  if (record->code != nullptr) MemFree(record->code);
  record->code = nullptr;
  if (record->shader != nullptr) {
    // The device still holds it as current: unset it there too.
    if (record->shader == reinterpret_cast<IUnknown*>(RenderState.vertexShader)) {
      if (HasDirect3DDevice()) SetDeviceVertexShader(nullptr);
      RenderState.vertexShader = nullptr;
    }
    if (record->shader == reinterpret_cast<IUnknown*>(RenderState.pixelShader)) {
      if (HasDirect3DDevice()) SetDevicePixelShader(nullptr);
      RenderState.pixelShader = nullptr;
    }
    ReleaseComObjectOnMainThread(record->shader, 0);
  }
  record->shader = nullptr;
  return 0;
}

int SetShaderDrawTexture(int stage, int handle) {
  if (stage < 0 || stage > 15) return -1;
  if (handle == -1) {
    UserShaderDraw.textures[stage] = 0;
    return 0;
  }
  if (GetHandleRecordOfType(handle, HANDLETYPE_GRAPH) == nullptr &&
      GetHandleRecordOfType(handle, HANDLETYPE_SHADOWMAP) == nullptr)
    return -1;
  UserShaderDraw.textures[stage] = handle;
  return 0;
}

namespace {

int SetCurrentShaderHandle(int handle, int vertex, int* slot) {
  if (handle <= 0) {
    *slot = 0;
    return 0;
  }
  ShaderHandleRecord* record = ShaderRecordOf(handle, false);
  if (record == nullptr || record->vertex != static_cast<uint32_t>(vertex)) return -1;
  *slot = handle;
  return 0;
}

}  // namespace

int SetCurrentVertexShaderHandle(int handle) { return SetCurrentShaderHandle(handle, 1, &UserShaderDraw.vertexShader); }
int SetCurrentPixelShaderHandle(int handle) { return SetCurrentShaderHandle(handle, 0, &UserShaderDraw.pixelShader); }

int ApplyShaderDrawSetup(const ShaderDrawSetup* setup) {
  if (setup == nullptr) return -1;
  for (int i = 0; i < setup->stageCount && i < 16; i++) {
    SetShaderDrawTexture(i, setup->textures[i] == 0 ? -1 : setup->textures[i]);
  }
  SetCurrentVertexShaderHandle(setup->vertexShader);
  SetCurrentPixelShaderHandle(setup->pixelShader);
  return 0;
}

int CurrentShaderSetupToRecord(ShaderDrawSetup* setup, int n) {
  if (setup == nullptr) return -1;
  if (n < 0) n = 0;
  if (n > 16) n = 16;
  setup->vertexShader = UserShaderDraw.vertexShader;
  setup->pixelShader = UserShaderDraw.pixelShader;
  setup->stageCount = n;
  for (int i = 0; i < n; i++) setup->textures[i] = UserShaderDraw.textures[i];
  SetShaderConstantSetMask(&ShaderConstants, 3);
  return 0;
}

int SetDeviceVertexShaderFromHandle(int handle) {
  ShaderHandleRecord* record = ShaderRecordOf(handle, false);
  if (record == nullptr || record->vertex != 1 || !HasDirect3DDevice()) return -1;
  IDirect3DVertexShader9* shader = reinterpret_cast<IDirect3DVertexShader9*>(record->shader);
  if (shader != RenderState.vertexShader) {
    SetDeviceVertexShader(shader);
    RenderState.vertexShader = shader;
    RenderState.statesChanged = 1;
  }
  return 0;
}

int SetDevicePixelShaderFromHandle(int handle) {
  ShaderHandleRecord* record = ShaderRecordOf(handle, false);
  if (record == nullptr || record->vertex != 0 || !HasDirect3DDevice()) return -1;
  IDirect3DPixelShader9* shader = reinterpret_cast<IDirect3DPixelShader9*>(record->shader);
  if (shader != RenderState.pixelShader) {
    SetDevicePixelShader(shader);
    RenderState.pixelShader = shader;
    RenderState.statesChanged = 1;
    RenderState.choosePixelShader = 1;
  }
  return 0;
}

namespace {

template <typename F>
void ForEachShaderRecord(F function) {
  HandleManager& manager = HandleManagers[HANDLETYPE_SHADER];
  if (!manager.initialized) return;
  for (HandleListNode* node = manager.listHead.next; node != nullptr && node != &manager.listTail; node = node->next)
    function(static_cast<ShaderHandleRecord*>(node->owner));
}

}  // namespace

int ReleaseAllShaderObjects() {
  ForEachShaderRecord([](ShaderHandleRecord* record) {
    if (record->shader == nullptr) return;
    if (record->shader == reinterpret_cast<IUnknown*>(RenderState.vertexShader)) RenderState.vertexShader = nullptr;
    if (record->shader == reinterpret_cast<IUnknown*>(RenderState.pixelShader)) RenderState.pixelShader = nullptr;
    ReleaseComObjectOnMainThread(record->shader, 0);
    record->shader = nullptr;
  });
  return 0;
}

int RecreateAllShaderObjects() {
  if (!HasDirect3DDevice()) return 0;
  ForEachShaderRecord([](ShaderHandleRecord* record) {
    if (record->shader != nullptr || record->code == nullptr) return;
    IUnknown* shader = nullptr;
    const DWORD* code = static_cast<const DWORD*>(record->code);
    const HRESULT hr = record->vertex ? CreateDeviceVertexShaderOnMainThread(
                                            code, reinterpret_cast<IDirect3DVertexShader9**>(&shader), 0)
                                      : CreateDevicePixelShaderOnMainThread(
                                            code, reinterpret_cast<IDirect3DPixelShader9**>(&shader), 0);
    if (FAILED(hr) || shader == nullptr) {
      LogPrintf(record->vertex ? LOG_VERTEX_SHADER_FAILED : LOG_PIXEL_SHADER_FAILED);
      return;
    }
    record->shader = shader;
  });
  return 0;
}
