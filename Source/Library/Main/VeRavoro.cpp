// Handle manager: per-type managers, slot choice and check values, record
// lookup, creation and deletion with the type's callbacks, and the count of
// asynchronous loads pending on a handle.
#include "VeRavoro.h"

#include "RaRadaraLog.h"
#include "VeRavoroString.h"
#include "ZiDezaru.h"

namespace {

// Log texts.
const char LOG_INVALID_HANDLE[] = "%s : 無効なハンドルです( 0x%08x )";
const char LOG_KEPT_RECORDS_FREED[] = "%sハンドルの終了時に残っていたデータ %d 個を解放しました";
const char LOG_TYPE_NOT_SET_UP[] = "ハンドルタイプ %d は初期化されていないためハンドルを作成できません";
const char LOG_WANTED_HANDLE_UNUSABLE[] = "%sハンドルの作成に指定されたハンドル値( 0x%08x )は使えません";
const char LOG_TYPE_FULL[] = "%sハンドルの数が限界数( %d )に達していて新たなハンドルを作成できません";
const char LOG_NO_MEMORY_FOR_RECORD[] = "%sハンドルのデータを格納するメモリ領域の確保に失敗しました";

}  // namespace

HandleManager HandleManagers[HANDLE_TYPE_COUNT];

// ---------------------------------------------------------------------------
// Link to asynchronous loading. A record's pending count belongs to jobs of
// the loading queue; deleting the record removes its job or, when the job
// already runs, waits for it. The loader installs its two functions here
// (SetHandleASyncJobFunctions); with none installed no job can exist, so a
// pending count is taken as "no such job".

namespace {

HandleASyncRemoveJobFunction ASyncRemoveJob = nullptr;
HandleASyncServeFunction ASyncServeMainThread = nullptr;

}  // namespace

int SetHandleASyncJobFunctions(HandleASyncRemoveJobFunction removeJob, HandleASyncServeFunction serveMainThread) {
  ASyncRemoveJob = removeJob;
  ASyncServeMainThread = serveMainThread;
  return 0;
}

namespace {

// 0 removed before it ran, -1 no such job, -2 the job is running.
int RemovePendingJob(const HandleRecordHeader* record) {
  if (ASyncRemoveJob == nullptr) return -1;
  return ASyncRemoveJob(record->asyncJobIndex, record->handle, 1);
}

int ReadPendingCount(const HandleRecordHeader* record) {
  return __atomic_load_n(&record->asyncLoadCount, __ATOMIC_SEQ_CST);
}

}  // namespace

// ---------------------------------------------------------------------------
// Lists

int HandleListInit(HandleListNode* head, HandleListNode* tail) {
  head->data = -1;
  head->owner = nullptr;
  head->prev = nullptr;
  head->next = tail;
  tail->data = -1;
  tail->owner = nullptr;
  tail->prev = head;
  tail->next = nullptr;
  return 0;
}

int HandleListAddFront(HandleListNode* head, HandleListNode* node, int data, void* owner) {
  node->data = data;
  node->owner = owner;
  node->prev = head;
  node->next = head->next;
  head->next->prev = node;
  head->next = node;
  return 0;
}

int HandleListRemove(HandleListNode* node) {
  node->prev->next = node->next;
  node->next->prev = node->prev;
  node->prev = nullptr;
  node->next = nullptr;
  return 0;
}

int ReturnZero(HandleRecordHeader*) { return 0; }

// ---------------------------------------------------------------------------
// Validity

namespace {

// Set-up and end of types: a type may be set up on its first use by any
// thread (file handles on the first open), so the test of the initialised
// flag and the set-up that follows run under one lock.
OnceLockRecord TypeSetUpLock;

int IsInitialized(const HandleManager* manager) { return __atomic_load_n(&manager->initialized, __ATOMIC_ACQUIRE); }

HandleManager* ManagerOf(int type) {
  if (type < 0 || type >= HANDLE_TYPE_COUNT) return nullptr;
  HandleManager* manager = &HandleManagers[type];
  return IsInitialized(manager) ? manager : nullptr;
}

HandleRecordHeader* FindRecord(HandleManager* manager, int handle) {
  if (manager == nullptr || !IsInitialized(manager) || handle < 0) return nullptr;
  if ((handle & HANDLE_TYPE_MASK) != manager->typeTag) return nullptr;
  const int slot = HANDLE_INDEX_OF(handle);
  if (slot >= manager->maxCount) return nullptr;
  HandleRecordHeader* record = manager->slots[slot];
  if (record == nullptr) return nullptr;
  if ((record->checkValue << HANDLE_CHECK_SHIFT) != (handle & HANDLE_CHECK_MASK)) return nullptr;
  return record;
}

}  // namespace

HandleRecordHeader* GetHandleRecord(int handle) {
  if (handle < 0) return nullptr;
  return FindRecord(&HandleManagers[HANDLE_TYPE_OF(handle)], handle);
}

HandleRecordHeader* GetHandleRecordOfType(int handle, int type) { return FindRecord(ManagerOf(type), handle); }

namespace {

// A negative value is "no handle" and passes silently; anything else that
// fails the test is a caller's fault worth a line.
void LogInvalidHandle(const char* operation, int handle) {
  if (handle < 0) return;
  LogPrintf(LOG_INVALID_HANDLE, operation, handle);
}

// ---------------------------------------------------------------------------
// Types

int InitHandleTypeLocked(int type, int recordSize, int maxCount, HandleRecordCallback createCallback,
                         HandleRecordCallback deleteCallback, const char* displayName) {
  HandleManager* manager = &HandleManagers[type];
  if (manager->initialized) return -1;
  if (recordSize < static_cast<int>(sizeof(HandleRecordHeader)) || maxCount <= 0 || maxCount > HANDLE_MAX_SLOTS)
    return -1;

  const int checkCounter = manager->checkCounter;
  MemFill(manager, 0, sizeof(HandleManager));
  manager->checkCounter = checkCounter;

  manager->typeTag = type << HANDLE_TYPE_SHIFT;
  manager->recordSize = recordSize;
  manager->maxCount = maxCount;
  manager->createCallback = createCallback;
  manager->deleteCallback = deleteCallback;
  if (displayName != nullptr) CopyStringLimited(manager->displayName, displayName, HANDLE_NAME_SIZE - 1);

  manager->slots = static_cast<HandleRecordHeader**>(MEM_ALLOC_ZEROED(sizeof(HandleRecordHeader*) * maxCount));
  if (manager->slots == nullptr) {
    MemFill(manager, 0, sizeof(HandleManager));
    manager->checkCounter = checkCounter;
    return -1;
  }
  HandleListInit(&manager->listHead, &manager->listTail);
  InitLock(&manager->lock);
  // Last, so that lock-free lookups see a whole manager.
  __atomic_store_n(&manager->initialized, 1, __ATOMIC_RELEASE);
  return 0;
}

}  // namespace

int InitHandleType(int type, int recordSize, int maxCount, HandleRecordCallback createCallback,
                   HandleRecordCallback deleteCallback, const char* displayName) {
  if (type < 0 || type >= HANDLE_TYPE_COUNT) return -1;
  ENTER_ONCE_LOCK(&TypeSetUpLock);
  const int result = InitHandleTypeLocked(type, recordSize, maxCount, createCallback, deleteCallback, displayName);
  LeaveOnceLock(&TypeSetUpLock);
  return result;
}

int TermHandleType(int type) {
  HandleManager* manager = ManagerOf(type);
  if (manager == nullptr) return -1;

  DeleteAllHandlesOfType(type, nullptr);

  // Records whose delete callback kept them can no longer be reached once
  // the type ends: give their memory back.
  int kept = 0;
  for (int slot = 0; slot < manager->maxCount && manager->count > 0; ++slot) {
    HandleRecordHeader* record = manager->slots[slot];
    if (record == nullptr) continue;
    HandleListRemove(&record->listNode);
    manager->slots[slot] = nullptr;
    manager->count -= 1;
    MemFree(record);
    ++kept;
  }
  if (kept > 0) LogPrintf(LOG_KEPT_RECORDS_FREED, manager->displayName, kept);

  ENTER_ONCE_LOCK(&TypeSetUpLock);
  if (!manager->initialized) {
    // Ended by another thread meanwhile.
    LeaveOnceLock(&TypeSetUpLock);
    return -1;
  }
  __atomic_store_n(&manager->initialized, 0, __ATOMIC_RELEASE);
  MemFree(manager->slots);
  DeleteLock(&manager->lock);
  const int checkCounter = manager->checkCounter;
  MemFill(manager, 0, sizeof(HandleManager));
  manager->checkCounter = checkCounter;
  LeaveOnceLock(&TypeSetUpLock);
  return 0;
}

// ---------------------------------------------------------------------------
// Create

namespace {

int ChooseSlot(const HandleManager* manager, int wantedHandle) {
  if (wantedHandle >= 0 && manager->slots[HANDLE_INDEX_OF(wantedHandle)] == nullptr)
    return HANDLE_INDEX_OF(wantedHandle);
  if (manager->count == 0) return 0;
  if (manager->highestSlot + 1 < manager->maxCount) return manager->highestSlot + 1;
  if (manager->lowestSlot > 0) return manager->lowestSlot - 1;
  for (int slot = 0; slot < manager->maxCount; ++slot) {
    if (manager->slots[slot] == nullptr) return slot;
  }
  return -1;
}

}  // namespace

int CreateHandle(int type, int wantedHandle) {
  HandleManager* manager = ManagerOf(type);
  if (manager == nullptr) {
    LogPrintf(LOG_TYPE_NOT_SET_UP, type);
    return -1;
  }
  if (wantedHandle < 0) wantedHandle = -1;
  if (wantedHandle >= 0 &&
      ((wantedHandle & HANDLE_TYPE_MASK) != manager->typeTag || HANDLE_INDEX_OF(wantedHandle) >= manager->maxCount)) {
    LogPrintf(LOG_WANTED_HANDLE_UNUSABLE, manager->displayName, wantedHandle);
    return -1;
  }

  ENTER_LOCK(&manager->lock);

  if (manager->count >= manager->maxCount) {
    LeaveLock(&manager->lock);
    LogPrintf(LOG_TYPE_FULL, manager->displayName, manager->maxCount);
    return -1;
  }

  const int slot = ChooseSlot(manager, wantedHandle);
  HandleRecordHeader* record = static_cast<HandleRecordHeader*>(MEM_ALLOC_ZEROED(manager->recordSize));
  if (slot < 0 || record == nullptr) {
    MemFree(record);
    LeaveLock(&manager->lock);
    LogPrintf(LOG_NO_MEMORY_FOR_RECORD, manager->displayName);
    return -1;
  }

  int check;
  if (wantedHandle < 0) {
    manager->checkCounter += 1;
    if (manager->checkCounter >= HANDLE_CHECK_LIMIT) manager->checkCounter = 0;
    check = manager->checkCounter;
  } else {
    check = HANDLE_CHECK_OF(wantedHandle);
  }

  const int handle = (check << HANDLE_CHECK_SHIFT) | manager->typeTag | slot;
  record->checkValue = check;
  record->recordSize = static_cast<unsigned int>(manager->recordSize);
  record->handle = handle;
  manager->slots[slot] = record;

  manager->count += 1;
  if (manager->count == 1) {
    manager->lowestSlot = slot;
    manager->highestSlot = slot;
  } else {
    if (slot > manager->highestSlot) manager->highestSlot = slot;
    if (slot < manager->lowestSlot) manager->lowestSlot = slot;
  }

  HandleListAddFront(&manager->listHead, &record->listNode, handle, record);

  if (manager->createCallback != nullptr) manager->createCallback(record);

  LeaveLock(&manager->lock);
  return handle;
}

// ---------------------------------------------------------------------------
// Delete

int DeleteHandle(int handle) {
  if (handle < 0) return -1;
  const int type = HANDLE_TYPE_OF(handle);
  HandleManager* manager = ManagerOf(type);
  if (manager == nullptr) {
    LogInvalidHandle("DeleteHandle", handle);
    return -1;
  }

  ENTER_LOCK(&manager->lock);
  HandleRecordHeader* record = FindRecord(manager, handle);
  if (record == nullptr) {
    LeaveLock(&manager->lock);
    LogInvalidHandle("DeleteHandle", handle);
    return -1;
  }

  if (record->deleteFlag != nullptr) *record->deleteFlag = -1;

  if (ReadPendingCount(record) != 0 && RemovePendingJob(record) == -2) {
    // The job runs: wait outside the type lock, serving the main-thread
    // requests it may be waiting on.
    // The record is looked up again under the lock on every pass: the job
    // may resize it, or delete its own handle and free it.
    LeaveLock(&manager->lock);
    for (;;) {
      ENTER_LOCK(&manager->lock);
      HandleRecordHeader* current = FindRecord(manager, handle);
      const int pending = current != nullptr ? ReadPendingCount(current) : 0;
      LeaveLock(&manager->lock);
      if (pending == 0) break;
      if (ASyncServeMainThread != nullptr) ASyncServeMainThread();
      Sleep(0);
    }
    ENTER_LOCK(&manager->lock);
    record = FindRecord(manager, handle);
    if (record == nullptr) {
      // Deleted by someone else meanwhile.
      LeaveLock(&manager->lock);
      return -1;
    }
  }

  if (manager->deleteCallback != nullptr && manager->deleteCallback(record) == 1) {
    LeaveLock(&manager->lock);
    return 0;
  }

  const int slot = HANDLE_INDEX_OF(handle);
  HandleListRemove(&record->listNode);
  MemFree(record);
  manager->slots[slot] = nullptr;
  manager->count -= 1;

  if (manager->count == 0) {
    manager->lowestSlot = 0;
    manager->highestSlot = 0;
  } else if (slot == manager->highestSlot) {
    int next = slot - 1;
    while (next > manager->lowestSlot && manager->slots[next] == nullptr) --next;
    manager->highestSlot = next;
  } else if (slot == manager->lowestSlot) {
    int next = slot + 1;
    while (next < manager->highestSlot && manager->slots[next] == nullptr) ++next;
    manager->lowestSlot = next;
  }

  LeaveLock(&manager->lock);
  return 0;
}

int DeleteAllHandlesOfType(int type, HandleRecordCallback keepFilter) {
  HandleManager* manager = ManagerOf(type);
  if (manager == nullptr) return -1;

  // First pass: drop the jobs that have not started yet.
  ENTER_LOCK(&manager->lock);
  if (manager->count > 0) {
    for (int slot = manager->lowestSlot; slot <= manager->highestSlot; ++slot) {
      HandleRecordHeader* record = manager->slots[slot];
      if (record == nullptr) continue;
      if (keepFilter != nullptr && keepFilter(record) != 0) continue;
      if (ReadPendingCount(record) == 0) continue;
      const int result = RemovePendingJob(record);
      if (result == 0 || result == -1) __atomic_store_n(&record->asyncLoadCount, 0, __ATOMIC_SEQ_CST);
    }
  }
  LeaveLock(&manager->lock);

  // Second pass: delete, waiting for running jobs. A worker may delete
  // records meanwhile, so each one is read under the lock; DeleteHandle
  // takes the lock again itself.
  ENTER_LOCK(&manager->lock);
  for (int slot = manager->lowestSlot; manager->count > 0 && slot <= manager->highestSlot; ++slot) {
    HandleRecordHeader* record = manager->slots[slot];
    if (record == nullptr) continue;
    if (keepFilter != nullptr && keepFilter(record) != 0) continue;
    const int handle = record->handle;
    LeaveLock(&manager->lock);
    DeleteHandle(handle);
    ENTER_LOCK(&manager->lock);
  }
  LeaveLock(&manager->lock);
  return 0;
}

// ---------------------------------------------------------------------------
// Record operations

int IsHandleASyncLoading(int handle) {
  HandleRecordHeader* record = GetHandleRecord(handle);
  if (record == nullptr) return -1;
  return ReadPendingCount(record) != 0 ? 1 : 0;
}

int AddHandleAsyncCount(int handle, int jobIndex) {
  HandleRecordHeader* record = GetHandleRecord(handle);
  if (record == nullptr) {
    LogInvalidHandle("AddHandleAsyncCount", handle);
    return -1;
  }
  __atomic_add_fetch(&record->asyncLoadCount, 1, __ATOMIC_SEQ_CST);
  record->asyncJobIndex = jobIndex;
  return 0;
}

int SubHandleAsyncCount(int handle) {
  HandleRecordHeader* record = GetHandleRecord(handle);
  if (record == nullptr) {
    LogInvalidHandle("SubHandleAsyncCount", handle);
    return -1;
  }
  // Never below zero: an unmatched call would leave the record loading for ever.
  int count = ReadPendingCount(record);
  do {
    if (count <= 0) return -1;
  } while (!__atomic_compare_exchange_n(&record->asyncLoadCount, &count, count - 1, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST));
  return 0;
}

int SetHandleDeleteFlagPtr(int handle, int* flag) {
  HandleRecordHeader* record = GetHandleRecord(handle);
  if (record == nullptr) {
    LogInvalidHandle("SetHandleDeleteFlagPtr", handle);
    return -1;
  }
  record->deleteFlag = flag;
  return 0;
}

int ResizeHandleRecord(int handle, int newSize) {
  HandleRecordHeader* record = GetHandleRecord(handle);
  if (record == nullptr) {
    LogInvalidHandle("ResizeHandleRecord", handle);
    return -1;
  }
  if (newSize < static_cast<int>(sizeof(HandleRecordHeader))) return -1;
  if (record->recordSize == static_cast<unsigned int>(newSize)) return 0;

  HandleManager* manager = &HandleManagers[HANDLE_TYPE_OF(handle)];
  ENTER_LOCK(&manager->lock);
  record = FindRecord(manager, handle);
  if (record == nullptr) {
    LeaveLock(&manager->lock);
    return -1;
  }
  HandleRecordHeader* moved = static_cast<HandleRecordHeader*>(MEM_REALLOC(record, newSize));
  if (moved == nullptr) {
    LeaveLock(&manager->lock);
    return -1;
  }
  moved->recordSize = static_cast<unsigned int>(newSize);
  if (moved != record) {
    manager->slots[HANDLE_INDEX_OF(handle)] = moved;
    moved->listNode.owner = moved;
    moved->listNode.prev->next = &moved->listNode;
    moved->listNode.next->prev = &moved->listNode;
  }
  LeaveLock(&manager->lock);
  return 0;
}
