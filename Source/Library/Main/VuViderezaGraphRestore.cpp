// Restore after device loss: the source block each graphic remembers (a
// file's full path, a copy of its image bytes or of its base images, shared
// by the tiles cut from it; none while the restore switch is set) and the
// walk that refills every graphic from it, keeping the last decoded file
// so that a sheet's tiles decode it once.
// Threads: main thread, asynchronous loading switched off during the walk.
// Platform: none directly (the texture creation and transfer below it).
#include <string.h>

#include "DaDode.h"
#include "MoDerov.h"
#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "VeVidu.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "ZiDezaru.h"

namespace {

const char LOG_NAME_MEMORY_FAILED[] = "転送する画像ファイルのファイル名を保存するメモリ領域の確保に失敗しました";
const char LOG_IMAGE_MEMORY_FAILED[] = "転送する基本イメージを保存するメモリ領域の確保に失敗しました";
const char LOG_RESTORE_START[] = "グラフィックを復帰します";
const char LOG_RESTORE_FILE_FAILED[] = "ファイル:%s がロードできませんでした";
const char LOG_RESTORE_BYTES_FAILED[] = "メモリからの画像データのローができませんでした";
const char LOG_BYTES_MEMORY_FAILED[] = "転送する画像データを保存するメモリ領域の確保に失敗しました";
const char LOG_RESTORE_DONE[] = "グラフィックの復帰が完了しました";

}  // namespace

namespace {

GraphicsRestoreFunction RestoreFunction = nullptr;
// Non-zero: graphics made from now on remember no source.
int RestoreSwitch = 0;

bool NoRestore(int noRestore) { return noRestore < 0 ? RestoreSwitch != 0 : noRestore != 0; }

// Frees a held colour and alpha image pair and empties both records.
void ReleaseHeldImages(BaseImageRecord* image, BaseImageRecord* alpha) {
  ReleaseBaseImage(image);
  if (alpha->pixels != nullptr) ReleaseBaseImage(alpha);
  memset(image, 0, sizeof *image);
  memset(alpha, 0, sizeof *alpha);
}

GraphSourceBlock* BlockOf(int handle) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, 1);
  return record != nullptr ? static_cast<GraphSourceBlock*>(record->sourceBlock) : nullptr;
}

}  // namespace

void ReleaseGraphSourceBlock(GraphSourceBlock* block) {
  if (block != nullptr && --block->refCount <= 0) MemFree(block);
}

int GetGraphRestoreSwitch() { return RestoreSwitch; }

int SetRememberGraphSource(int remember) {
  RestoreSwitch = remember ? 0 : 1;
  return 0;
}

int RememberGraphicSource(int handle, const char* fileName, const BaseImageRecord* image,
                          const BaseImageRecord* alphaImage, int mirror, int derivedFrom, int noRestore) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, 1);
  if (record == nullptr) return -1;
  ReleaseGraphSourceBlock(static_cast<GraphSourceBlock*>(record->sourceBlock));
  record->sourceBlock = nullptr;
  if (NoRestore(noRestore)) return 0;
  if (derivedFrom >= 0) {
    GraphSourceBlock* shared = BlockOf(derivedFrom);
    if (shared != nullptr) shared->refCount++;
    record->sourceBlock = shared;
    return 0;
  }
  GraphSourceBlock* block = nullptr;
  if (fileName != nullptr) {
    char path[MAX_PATH];
    if (BuildAbsolutePath(fileName, path, sizeof path, nullptr) < 0) {
      strncpy(path, fileName, sizeof path - 1);
      path[sizeof path - 1] = 0;
    }
    const size_t length = strlen(path) + 1;
    block = static_cast<GraphSourceBlock*>(MEM_ALLOC_ZEROED(sizeof(GraphSourceBlock) + length));
    if (block == nullptr) {
      LogPrintf(LOG_NAME_MEMORY_FAILED);
      return -1;
    }
    block->fileName = reinterpret_cast<char*>(block + 1);
    memcpy(block->fileName, path, length);
  } else if (image != nullptr) {
    // A cube image holds six faces, each of the size one reports.
    const size_t colorBytes = static_cast<size_t>(GetBaseImageDataSize(image)) * (image->cubeFlag > 0 ? 6 : 1);
    const size_t alphaBytes = alphaImage != nullptr && alphaImage->pixels != nullptr
                                  ? static_cast<size_t>(GetBaseImageDataSize(alphaImage)) *
                                        (alphaImage->cubeFlag > 0 ? 6 : 1)
                                  : 0;
    block = static_cast<GraphSourceBlock*>(
        MEM_ALLOC_ZEROED(sizeof(GraphSourceBlock) + 2 * sizeof(BaseImageRecord) + colorBytes + alphaBytes));
    if (block == nullptr) {
      LogPrintf(LOG_IMAGE_MEMORY_FAILED);
      return -1;
    }
    unsigned char* at = reinterpret_cast<unsigned char*>(block + 1);
    block->image = reinterpret_cast<BaseImageRecord*>(at);
    *block->image = *image;
    block->image->pixels = at + 2 * sizeof(BaseImageRecord);
    memcpy(block->image->pixels, image->pixels, colorBytes);
    if (alphaBytes != 0) {
      block->alphaImage = reinterpret_cast<BaseImageRecord*>(at + sizeof(BaseImageRecord));
      *block->alphaImage = *alphaImage;
      block->alphaImage->pixels = at + 2 * sizeof(BaseImageRecord) + colorBytes;
      memcpy(block->alphaImage->pixels, alphaImage->pixels, alphaBytes);
    }
  } else {
    return 0;
  }
  block->mirror = mirror;
  block->refCount = 1;
  record->sourceBlock = block;
  return 0;
}

int RememberGraphicSourceBytes(int handle, const void* bytes, int size, const void* alphaBytes, int alphaSize,
                               int mirror, int noRestore) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, 1);
  if (record == nullptr || bytes == nullptr || size <= 0) return -1;
  ReleaseGraphSourceBlock(static_cast<GraphSourceBlock*>(record->sourceBlock));
  record->sourceBlock = nullptr;
  if (NoRestore(noRestore)) return 0;
  if (alphaBytes == nullptr || alphaSize < 0) alphaSize = 0;
  GraphSourceBlock* block = static_cast<GraphSourceBlock*>(
      MEM_ALLOC_ZEROED(sizeof(GraphSourceBlock) + static_cast<size_t>(size) + alphaSize));
  if (block == nullptr) {
    LogPrintf(LOG_BYTES_MEMORY_FAILED);
    return -1;
  }
  unsigned char* at = reinterpret_cast<unsigned char*>(block + 1);
  block->bytes = at;
  block->size = size;
  memcpy(at, bytes, static_cast<size_t>(size));
  if (alphaSize > 0) {
    block->alphaBytes = at + size;
    block->alphaSize = alphaSize;
    memcpy(at + size, alphaBytes, static_cast<size_t>(alphaSize));
  }
  block->mirror = mirror;
  block->refCount = 1;
  record->sourceBlock = block;
  return 0;
}

int SetGraphicsRestoreCallback(GraphicsRestoreFunction function) {
  RestoreFunction = function != nullptr ? function : RestoreAllGraphics;
  return 0;
}

int HasGraphicsRestoreCallback() { return RestoreFunction != nullptr ? 1 : 0; }

void RestoreAllGraphics() {
  LogPrintf(LOG_RESTORE_START);
  HandleManager& manager = HandleManagers[HANDLETYPE_GRAPH];
  if (!manager.initialized) return;
  ImageLoadSettings settings;
  SnapshotImageLoadSettings(&settings);
  GraphCreateSettings create;
  GetGraphCreateSettings(&create);
  BaseImageRecord image, alpha;
  memset(&image, 0, sizeof image);
  memset(&alpha, 0, sizeof alpha);
  char lastFile[MAX_PATH] = "";
  int lastMirror = 0, loaded = 0;
  // The last images decoded from memory, kept for the next graphic of the same bytes.
  BaseImageRecord memoryImage, memoryAlpha;
  memset(&memoryImage, 0, sizeof memoryImage);
  memset(&memoryAlpha, 0, sizeof memoryAlpha);
  const void* lastBytes = nullptr;
  const void* lastAlphaBytes = nullptr;
  int lastBytesMirror = 0, memoryLoaded = 0;
  for (int slot = manager.lowestSlot; slot <= manager.highestSlot && slot < manager.maxCount; slot++) {
    GraphicHandleRecord* record = reinterpret_cast<GraphicHandleRecord*>(manager.slots[slot]);
    if (record == nullptr || record->sourceBlock == nullptr || record->image == nullptr) continue;
    GraphSourceBlock* block = static_cast<GraphSourceBlock*>(record->sourceBlock);
    const BaseImageRecord* color = block->image;
    const BaseImageRecord* alphaImage = block->alphaImage;
    if (block->fileName != nullptr) {
      if (!loaded || strcmp(lastFile, block->fileName) != 0 || lastMirror != block->mirror) {
        if (loaded) {
          ReleaseHeldImages(&image, &alpha);
          loaded = 0;
        }
        if (LoadBaseImagePair(&settings, block->fileName, nullptr, 0, 0, nullptr, 0, 0, &image, &alpha, block->mirror) <
            0) {
          LogPrintf(LOG_RESTORE_FILE_FAILED, block->fileName);
          lastFile[0] = 0;
          continue;
        }
        loaded = 1;
        strncpy(lastFile, block->fileName, sizeof lastFile - 1);
        lastFile[sizeof lastFile - 1] = 0;
        lastMirror = block->mirror;
      }
      color = &image;
      alphaImage = alpha.pixels != nullptr ? &alpha : nullptr;
    } else if (block->bytes != nullptr) {
      if (!memoryLoaded || lastBytes != block->bytes || lastAlphaBytes != block->alphaBytes ||
          lastBytesMirror != block->mirror) {
        if (memoryLoaded) {
          ReleaseHeldImages(&memoryImage, &memoryAlpha);
          memoryLoaded = 0;
        }
        if (LoadBaseImagePair(&settings, nullptr, block->bytes, block->size, 1, block->alphaBytes, block->alphaSize,
                              block->alphaBytes != nullptr ? 1 : 2, &memoryImage, &memoryAlpha, block->mirror) < 0) {
          LogPrintf(LOG_RESTORE_BYTES_FAILED);
          lastBytes = nullptr;
          continue;
        }
        memoryLoaded = 1;
        lastBytes = block->bytes;
        lastAlphaBytes = block->alphaBytes;
        lastBytesMirror = block->mirror;
      }
      color = &memoryImage;
      alphaImage = memoryAlpha.pixels != nullptr ? &memoryAlpha : nullptr;
    }
    if (color == nullptr) continue;
    RECT rect = {record->sourceX, record->sourceY, record->sourceX + record->width, record->sourceY + record->height};
    TransferImageToGraphTexture(
        {color, alphaImage, record->header.handle, &rect, 0, 0, create.noTransparentColor == 0, 0}, 0);
  }
  if (loaded) {
    ReleaseHeldImages(&image, &alpha);
  }
  if (memoryLoaded) {
    ReleaseHeldImages(&memoryImage, &memoryAlpha);
  }
  LogPrintf(LOG_RESTORE_DONE);
}

int RestoreGraphicsResources() {
  const int async = IsASyncLoadEnabled();
  SetASyncLoadEnabled(0);
  if (RestoreFunction != nullptr) RestoreFunction();
  else RestoreAllGraphics();
  RebuildModelTextures();
  // Fonts are made again under their old handles; their caches refill on use.
  RecreateAllFontHandles();
  SetASyncLoadEnabled(async);
  return 0;
}

namespace {

template <typename F>
int ForEachDescriptor(F f) {
  HandleManager& manager = HandleManagers[HANDLETYPE_GRAPH];
  if (!manager.initialized) return 0;
  int result = 0;
  for (int slot = manager.lowestSlot; slot <= manager.highestSlot && slot < manager.maxCount; slot++) {
    GraphicHandleRecord* record = reinterpret_cast<GraphicHandleRecord*>(manager.slots[slot]);
    if (record != nullptr && record->image != nullptr && f(record->image) < 0) result = -1;
  }
  return result;
}

}  // namespace

int ReleaseAllGraphTextures() {
  RequestMovieGraphicsRefresh();
  return ForEachDescriptor([](GraphImageDescriptor* image) { return ReleaseImageTextures(image); });
}

int CreateAllGraphTextures() {
  return ForEachDescriptor([](GraphImageDescriptor* image) { return CreateImageTextures(image, 0); });
}
