// Soft-image handle type.
#include "VuViderezaSoftImage.h"

#include <string.h>

#include "RaRadaraLog.h"

namespace {

// Log texts.
const char LOG_BAD_SOFT_IMAGE_SIZE[] = "ソフトイメージのサイズが不正です( %d x %d )";
const char LOG_NO_MEMORY_FOR_SOFT_IMAGE[] = "ソフトイメージ用のメモリの確保に失敗しました( %d x %d )";

}  // namespace

int SoftImageHandlesSetUp = 0;

namespace {

SoftImageRecord* GetSoftImageRecord(int handle) {
  if (!SoftImageHandlesSetUp) return nullptr;
  HandleRecordHeader* header = GetHandleRecordOfType(handle, HANDLETYPE_SOFTIMAGE);
  if (header == nullptr || header->asyncLoadCount != 0) return nullptr;
  return reinterpret_cast<SoftImageRecord*>(header);
}

}  // namespace

int SetupSoftImageHandles() {
  if (SoftImageHandlesSetUp) return -1;
  if (InitHandleType(HANDLETYPE_SOFTIMAGE, static_cast<int>(sizeof(SoftImageRecord)), SOFTIMAGE_HANDLE_MAX, ReturnZero,
                     ReleaseSoftImageHandleRecord, "ソフトイメージ") != 0)
    return -1;
  SoftImageHandlesSetUp = 1;
  return 0;
}

int ShutdownSoftImageHandles() {
  if (!SoftImageHandlesSetUp) return -1;
  SoftImageHandlesSetUp = 0;
  TermHandleType(HANDLETYPE_SOFTIMAGE);
  return 0;
}

int ReleaseSoftImageHandleRecord(HandleRecordHeader* record) {
  if (record == nullptr) return 0;
  ReleaseBaseImage(&(reinterpret_cast<SoftImageRecord*>(record))->image);
  return 0;
}

int DeleteAllSoftImages() {
  if (!SoftImageHandlesSetUp) return -1;
  return DeleteAllHandlesOfType(HANDLETYPE_SOFTIMAGE, nullptr);
}

int MakeSoftImage(int width, int height, int withAlpha) {
  if (!SoftImageHandlesSetUp) return -1;
  if (width <= 0 || height <= 0) {
    LogPrintf(LOG_BAD_SOFT_IMAGE_SIZE, width, height);
    return -1;
  }
  int handle = CreateHandle(HANDLETYPE_SOFTIMAGE, -1);
  if (handle == -1) return -1;
  SoftImageRecord* record = GetSoftImageRecord(handle);
  if (record == nullptr) {
    DeleteHandle(handle);
    return -1;
  }
  int result = withAlpha ? CreateBaseImageARGB8(width, height, &record->image)
                         : CreateBaseImageXRGB8(width, height, &record->image);
  if (result != 0) {
    LogPrintf(LOG_NO_MEMORY_FOR_SOFT_IMAGE, width, height);
    DeleteHandle(handle);
    return -1;
  }
  memset(record->image.pixels, 0, static_cast<size_t>(record->image.pitch) * record->image.height);
  return handle;
}

int DeleteSoftImage(int handle) {
  if (GetSoftImageRecord(handle) == nullptr) return -1;
  return DeleteHandle(handle);
}

BaseImageRecord* GetSoftImageBaseImage(int handle) {
  SoftImageRecord* record = GetSoftImageRecord(handle);
  return record != nullptr ? &record->image : nullptr;
}
