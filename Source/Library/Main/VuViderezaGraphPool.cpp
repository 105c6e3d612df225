// The transfer-texture pool: system-memory textures of dynamic usage kept
// between transfers into default-pool textures, freed when idle by the
// message pump's upkeep, released and made again around a device rebuild.
// Threads: main thread (the idle release refuses any other). Platform:
// IDirect3DDevice9 CreateTexture / CreateCubeTexture through the call table.
#include "VuViderezaGraphPool.h"

#include "DiDAridIrer.h"
#include "RaRadaraLog.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "ZiDezaru.h"

namespace {

const char LOG_POOL_TEXTURE_FAILED[] =
    "メモリテクスチャの作成に失敗しました  エラーコード:0x%08x SizeX:%d SizeY:%d Format:%d 総メモリ確保数:%d "
    "総確保メモリサイズ:%dByte(%dKByte)";
const char LOG_POOL_CUBE_FAILED[] =
    "メモリキューブマップテクスチャの作成に失敗しました  エラーコード:0x%08x SizeX:%d SizeY:%d Format:%d "
    "総メモリ確保数:%d 総確保メモリサイズ:%dByte(%dKByte)";
const char LOG_POOL_LIST[] = "非管理テクスチャへのデータ転送用システムメモリ配置テクスチャの数：%d";
const char LOG_POOL_ENTRY[] = "No%d. UseFlag:%d UseCount:%d CubeMap:%d SizeX:%d SizeY:%d MipMapCount:%d Format:%d";

int FailureListed = 0;

void ReleaseEntryTexture(TransferTextureEntry& entry) {
  if (entry.texture != nullptr) ReleaseComObject(entry.texture);
  entry.texture = nullptr;
}

template <typename Keep>
int FreeEntries(Keep keep) {
  for (TransferTextureEntry& entry : TransferPool.entries) {
    if (!entry.used || keep(entry)) continue;
    ReleaseEntryTexture(entry);
    entry = TransferTextureEntry{};
    TransferPool.count--;
  }
  return 0;
}

}  // namespace

TransferTexturePool TransferPool;

int ReleaseTransferTextures(int idleOnly) {
  return FreeEntries([idleOnly](const TransferTextureEntry& e) { return idleOnly && e.busy; });
}

int ReleaseIdleTransferTextures() {
  if (!IsMainThread()) return -1;
  const int now = static_cast<int>(GetMillisecondCount());
  return FreeEntries(
      [now](const TransferTextureEntry& e) { return e.busy || now - e.lastUse < TRANSFER_IDLE_MILLISECONDS; });
}

int CreatePooledTransferTexture(TransferTextureEntry* entry) {
  if (entry == nullptr || !HasDirect3DDevice()) return -1;
  const D3DFORMAT format = static_cast<D3DFORMAT>(GetDeviceFormatForPixelFormat(entry->pixelFormat));
  HRESULT hr;
  if (entry->cube) {
    IDirect3DCubeTexture9* cube = nullptr;
    const DeviceTextureDesc desc = {static_cast<UINT>(entry->width),
                                    0,
                                    static_cast<UINT>(entry->mipCount),
                                    D3DUSAGE_DYNAMIC,
                                    format,
                                    D3DPOOL_SYSTEMMEM};
    hr = CreateDeviceCubeTextureOnMainThread(desc, &cube, 0);
    entry->texture = hr == D3D_OK ? cube : nullptr;
  } else {
    IDirect3DTexture9* texture = nullptr;
    const DeviceTextureDesc desc = {static_cast<UINT>(entry->width),
                                    static_cast<UINT>(entry->height),
                                    static_cast<UINT>(entry->mipCount),
                                    D3DUSAGE_DYNAMIC,
                                    format,
                                    D3DPOOL_SYSTEMMEM};
    hr = CreateDeviceTextureOnMainThread(desc, &texture, 0);
    entry->texture = hr == D3D_OK ? texture : nullptr;
  }
  if (entry->texture != nullptr) return 0;
  const int total = static_cast<int>(GetAllocTotalSize());
  LogPrintf(entry->cube ? LOG_POOL_CUBE_FAILED : LOG_POOL_TEXTURE_FAILED, static_cast<unsigned>(hr), entry->width,
            entry->height, static_cast<int>(format), GetAllocCount(), total, total / 1024);
  if (!FailureListed) {
    FailureListed = 1;
    LogPrintf(LOG_POOL_LIST, TransferPool.count);
    for (int i = 0; i < TRANSFER_POOL_SIZE; i++) {
      const TransferTextureEntry& e = TransferPool.entries[i];
      if (!e.used) continue;
      LogPrintf(LOG_POOL_ENTRY, i, e.used, e.useCount, e.cube, e.width, e.height, e.mipCount, e.pixelFormat);
    }
  }
  return -1;
}

void ReleasePooledTransferTextureObjects() {
  for (TransferTextureEntry& entry : TransferPool.entries)
    if (entry.used) ReleaseEntryTexture(entry);
}

void RecreatePooledTransferTextureObjects() {
  for (TransferTextureEntry& entry : TransferPool.entries)
    if (entry.used && entry.texture == nullptr) CreatePooledTransferTexture(&entry);
}
