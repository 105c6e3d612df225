// Vertex and index buffer handles: creation, data writes into the device
// buffer and the system copy, release and re-creation around a rebuild.
// Threads: the main thread, or a loading job whose device calls post to it
// (the lock and creation go through the main-thread pairs).
// Platform: IDirect3DDevice9 CreateVertexBuffer / CreateIndexBuffer and
// buffer Lock / Unlock, through the device call table.
#include "VuViderezaBuffer.h"

#include <string.h>

#include "RaRadaraLog.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraphics.h"
#include "ZiDezaru.h"

namespace {

const char LOG_BUFFER_SIZE_BAD[] = "バッファのサイズが不正です %d x %d";
const char LOG_VERTEX_BUFFER_FAILED[] = "頂点バッファの作成に失敗しました";
const char LOG_INDEX_BUFFER_FAILED[] = "インデックスバッファの作成に失敗しました";

}  // namespace

namespace {

enum { BUFFER_ELEMENT_MAX = 0x7fffffff };

bool IsVertexType(const BufferHandleRecord* record) {
  return HANDLE_TYPE_OF(record->header.handle) == HANDLETYPE_VERTEX_BUFFER;
}

BufferHandleRecord* LiveRecord(int handle, int type) {
  HandleRecordHeader* header = GetHandleRecordOfType(handle, type);
  return reinterpret_cast<BufferHandleRecord*>(header);
}

// Device buffers are kept only where the device can draw from them.
bool DeviceTakesBuffers() {
  return HasDirect3DDevice() && (DeviceLayer.hardwareVertexProcessing || GetShaderModelLevel() >= 200);
}

int WriteRecord(BufferHandleRecord* record, int start, const void* data, int count) {
  if (start < 0 || count < 0 || (data == nullptr && count > 0) ||
      static_cast<uint32_t>(start) + static_cast<uint32_t>(count) > record->elementCount)
    return -1;
  const uint32_t offset = record->elementSize * static_cast<uint32_t>(start);
  const uint32_t size = record->elementSize * static_cast<uint32_t>(count);
  if (size == 0) return 0;
  if (record->buffer != nullptr) {
    void* locked = nullptr;
    if (LockBufferOnMainThread(record->buffer, offset, size, &locked, 0, 0) != D3D_OK || locked == nullptr) {
      LogPrintf(IsVertexType(record) ? "頂点バッファのロックに失敗しました"
                                     : "インデックスバッファのロックに失敗しました");
      return -1;
    }
    memcpy(locked, data, size);
    UnlockBufferOnMainThread(record->buffer, 0);
  }
  memmove(static_cast<uint8_t*>(record->systemCopy) + offset, data, size);
  return 0;
}

int CreateBufferHandle(int type, uint32_t elementType, int elementSize, int elementCount) {
  if (elementSize <= 0 || elementCount <= 0 ||
      static_cast<uint64_t>(elementSize) * static_cast<uint64_t>(elementCount) > BUFFER_ELEMENT_MAX) {
    LogPrintf(LOG_BUFFER_SIZE_BAD, elementSize, elementCount);
    return -1;
  }
  const int handle = CreateHandle(type, -1);
  if (handle == -1) return -1;
  BufferHandleRecord* record = reinterpret_cast<BufferHandleRecord*>(GetHandleRecordOfType(handle, type));
  record->elementType = elementType;
  record->elementSize = static_cast<uint32_t>(elementSize);
  record->elementCount = static_cast<uint32_t>(elementCount);
  record->buffer = nullptr;
  record->systemCopy = MEM_ALLOC_ZEROED(static_cast<size_t>(elementSize) * elementCount);
  if (record->systemCopy == nullptr) {
    DeleteHandle(handle);
    return -1;
  }
  if (DeviceTakesBuffers() && CreateBufferObject(record) != 0) {
    DeleteHandle(handle);
    return -1;
  }
  return handle;
}

template <typename F>
void ForEachBufferRecord(F function) {
  const int types[2] = {HANDLETYPE_VERTEX_BUFFER, HANDLETYPE_INDEX_BUFFER};
  for (int type : types) {
    HandleManager& manager = HandleManagers[type];
    if (!manager.initialized) continue;
    for (HandleListNode* node = manager.listHead.next; node != nullptr && node != &manager.listTail; node = node->next)
      function(static_cast<BufferHandleRecord*>(node->owner));
  }
}

}  // namespace

int CreateVertexBufferHandle(int vertexSize, int vertexCount) {
  return CreateBufferHandle(HANDLETYPE_VERTEX_BUFFER, 0, vertexSize, vertexCount);
}

int CreateIndexBufferHandle(int indexCount, int indexType) {
  const uint32_t type = indexType == INDEX_TYPE_32BIT ? INDEX_TYPE_32BIT : INDEX_TYPE_16BIT;
  return CreateBufferHandle(HANDLETYPE_INDEX_BUFFER, type, type == INDEX_TYPE_32BIT ? 4 : 2, indexCount);
}

int DeleteVertexBufferHandle(int handle) {
  if (GetHandleRecordOfType(handle, HANDLETYPE_VERTEX_BUFFER) == nullptr) return -1;
  return DeleteHandle(handle);
}

int DeleteIndexBufferHandle(int handle) {
  if (GetHandleRecordOfType(handle, HANDLETYPE_INDEX_BUFFER) == nullptr) return -1;
  return DeleteHandle(handle);
}

int SetVertexBufferData(int start, const void* data, int count, int handle) {
  BufferHandleRecord* record = LiveRecord(handle, HANDLETYPE_VERTEX_BUFFER);
  return record == nullptr ? -1 : WriteRecord(record, start, data, count);
}

int SetIndexBufferData(int start, const void* data, int count, int handle) {
  BufferHandleRecord* record = LiveRecord(handle, HANDLETYPE_INDEX_BUFFER);
  return record == nullptr ? -1 : WriteRecord(record, start, data, count);
}

int GetBufferHandleElementCount(int handle) {
  HandleRecordHeader* header = GetHandleRecord(handle);
  const int type = HANDLE_TYPE_OF(handle);
  if (header == nullptr || (type != HANDLETYPE_VERTEX_BUFFER && type != HANDLETYPE_INDEX_BUFFER)) return -1;
  return static_cast<int>(reinterpret_cast<BufferHandleRecord*>(header)->elementCount);
}

IDirect3DVertexBuffer9* GetVertexBufferObject(int handle) {
  BufferHandleRecord* record = LiveRecord(handle, HANDLETYPE_VERTEX_BUFFER);
  return record == nullptr ? nullptr : static_cast<IDirect3DVertexBuffer9*>(record->buffer);
}

IDirect3DIndexBuffer9* GetIndexBufferObject(int handle) {
  BufferHandleRecord* record = LiveRecord(handle, HANDLETYPE_INDEX_BUFFER);
  return record == nullptr ? nullptr : static_cast<IDirect3DIndexBuffer9*>(record->buffer);
}

int ReleaseBufferHandleRecord(HandleRecordHeader* header) {
  BufferHandleRecord* record = reinterpret_cast<BufferHandleRecord*>(header);
  if (record->buffer != nullptr) ReleaseComObjectOnMainThread(record->buffer, 0);
  record->buffer = nullptr;
  if (record->systemCopy != nullptr) MemFree(record->systemCopy);
  record->systemCopy = nullptr;
  return 0;
}

int CreateBufferObject(BufferHandleRecord* record) {
  if (record->buffer != nullptr) return 0;
  const UINT length = record->elementSize * record->elementCount;
  if (IsVertexType(record)) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    if (CreateDeviceVertexBufferOnMainThread(length, D3DUSAGE_WRITEONLY, BUFFER_VERTEX_FVF, D3DPOOL_DEFAULT, &buffer,
                                             nullptr, 0) != D3D_OK ||
        buffer == nullptr) {
      LogPrintf(LOG_VERTEX_BUFFER_FAILED);
      return -1;
    }
    record->buffer = buffer;
  } else {
    IDirect3DIndexBuffer9* buffer = nullptr;
    const D3DFORMAT format = record->elementType == INDEX_TYPE_32BIT ? D3DFMT_INDEX32 : D3DFMT_INDEX16;
    if (CreateDeviceIndexBufferOnMainThread(length, D3DUSAGE_WRITEONLY, format, D3DPOOL_DEFAULT, &buffer, nullptr, 0) !=
            D3D_OK ||
        buffer == nullptr) {
      LogPrintf(LOG_INDEX_BUFFER_FAILED);
      return -1;
    }
    record->buffer = buffer;
  }
  if (WriteRecord(record, 0, record->systemCopy, static_cast<int>(record->elementCount)) != 0) {
    ReleaseComObjectOnMainThread(record->buffer, 0);
    record->buffer = nullptr;
    return -1;
  }
  return 0;
}

int ReleaseAllBufferObjects() {
  ForEachBufferRecord([](BufferHandleRecord* record) {
    if (record->buffer != nullptr) ReleaseComObjectOnMainThread(record->buffer, 0);
    record->buffer = nullptr;
  });
  return 0;
}

int RecreateAllBufferObjects() {
  if (!DeviceTakesBuffers()) return 0;
  ForEachBufferRecord([](BufferHandleRecord* record) { CreateBufferObject(record); });
  return 0;
}
