// Restore after device loss: the source block each graphic remembers (a
// file's full path or a copy of its base images, shared by the tiles cut
// from it) and the walk that refills every graphic from it, keeping the
// last decoded file so that a sheet's tiles decode it once.
// Threads: main thread, asynchronous loading switched off during the walk.
// Platform: none directly (the texture creation and transfer below it).
#include <string.h>

#include "DaDode.h"
#include "MoDerov.h"
#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RaRadaraServices.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "ZiDezaru.h"

namespace {

const char LOG_NAME_MEMORY_FAILED[] = "転送する画像ファイルのファイル名を保存するメモリ領域の確保に失敗しました";
const char LOG_IMAGE_MEMORY_FAILED[] = "転送する基本イメージを保存するメモリ領域の確保に失敗しました";
const char LOG_RESTORE_START[] = "グラフィックを復帰します";
const char LOG_RESTORE_FILE_FAILED[] = "ファイル:%s がロードできませんでした";
const char LOG_RESTORE_DONE[] = "グラフィックの復帰が完了しました";

}  // namespace

namespace {

GraphicsRestoreFunction RestoreFunction = nullptr;

GraphSourceBlock* BlockOf(int handle) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, 1);
  return record != nullptr ? static_cast<GraphSourceBlock*>(record->sourceBlock) : nullptr;
}

}  // namespace

void ReleaseGraphSourceBlock(GraphSourceBlock* block) {
  if (block != nullptr && --block->refCount <= 0) MemFree(block);
}

int RememberGraphicSource(int handle, const char* fileName, const BaseImageRecord* image,
                          const BaseImageRecord* alphaImage, int mirror, int derivedFrom) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, 1);
  if (record == nullptr) return -1;
  ReleaseGraphSourceBlock(static_cast<GraphSourceBlock*>(record->sourceBlock));
  record->sourceBlock = nullptr;
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
    const size_t colourBytes = static_cast<size_t>(GetBaseImageDataSize(image));
    const size_t alphaBytes = alphaImage != nullptr && alphaImage->pixels != nullptr
                                  ? static_cast<size_t>(GetBaseImageDataSize(alphaImage))
                                  : 0;
    block = static_cast<GraphSourceBlock*>(MEM_ALLOC_ZEROED(sizeof(GraphSourceBlock) + 2 * sizeof(BaseImageRecord) +
                                                            colourBytes + alphaBytes));
    if (block == nullptr) {
      LogPrintf(LOG_IMAGE_MEMORY_FAILED);
      return -1;
    }
    unsigned char* at = reinterpret_cast<unsigned char*>(block + 1);
    block->image = reinterpret_cast<BaseImageRecord*>(at);
    *block->image = *image;
    block->image->pixels = at + 2 * sizeof(BaseImageRecord);
    memcpy(block->image->pixels, image->pixels, colourBytes);
    if (alphaBytes != 0) {
      block->alphaImage = reinterpret_cast<BaseImageRecord*>(at + sizeof(BaseImageRecord));
      *block->alphaImage = *alphaImage;
      block->alphaImage->pixels = at + 2 * sizeof(BaseImageRecord) + colourBytes;
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
  for (int slot = manager.lowestSlot; slot <= manager.highestSlot && slot < manager.maxCount; slot++) {
    GraphicHandleRecord* record = reinterpret_cast<GraphicHandleRecord*>(manager.slots[slot]);
    if (record == nullptr || record->sourceBlock == nullptr || record->image == nullptr) continue;
    GraphSourceBlock* block = static_cast<GraphSourceBlock*>(record->sourceBlock);
    const BaseImageRecord* colour = block->image;
    const BaseImageRecord* alphaImage = block->alphaImage;
    if (block->fileName != nullptr) {
      if (!loaded || strcmp(lastFile, block->fileName) != 0 || lastMirror != block->mirror) {
        if (loaded) {
          ReleaseBaseImage(&image);
          if (alpha.pixels != nullptr) ReleaseBaseImage(&alpha);
          memset(&image, 0, sizeof image);
          memset(&alpha, 0, sizeof alpha);
          loaded = 0;
        }
        if (LoadBaseImagePair(&settings, block->fileName, nullptr, 0, 0, nullptr, 0, 0, &image, &alpha,
                              block->mirror) < 0) {
          LogPrintf(LOG_RESTORE_FILE_FAILED, block->fileName);
          lastFile[0] = 0;
          continue;
        }
        loaded = 1;
        strncpy(lastFile, block->fileName, sizeof lastFile - 1);
        lastFile[sizeof lastFile - 1] = 0;
        lastMirror = block->mirror;
      }
      colour = &image;
      alphaImage = alpha.pixels != nullptr ? &alpha : nullptr;
    }
    if (colour == nullptr) continue;
    RECT rect = {record->sourceX, record->sourceY, record->sourceX + record->width,
                 record->sourceY + record->height};
    TransferImageToGraphTexture(colour, alphaImage, record->header.handle, &rect, 0, 0,
                                create.noTransparentColor == 0, 0, 0);
  }
  if (loaded) {
    ReleaseBaseImage(&image);
    if (alpha.pixels != nullptr) ReleaseBaseImage(&alpha);
  }
  LogPrintf(LOG_RESTORE_DONE);
}

int RestoreGraphicsResources() {
  const int async = IsASyncLoadEnabled();
  SetASyncLoadEnabled(0);
  if (RestoreFunction != nullptr)
    RestoreFunction();
  else
    RestoreAllGraphics();
  RebuildModelTextures();
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
