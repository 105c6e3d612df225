// Asynchronous loading: the job queue and its worker threads, the requests
// workers post to the main thread and their serving, the file-open job and
// the packing helpers for job parameters.
#include "DiDAridIrer.h"

#include <string.h>

#include "DaDode.h"
#include "RaRadaraLog.h"
#include "VeRavoro.h"
#include "ZiDezaru.h"

// Start-up: logs the text, ends the library and the process.
void FatalErrorExit(const char* text);

ASyncLoadState ASyncLoad;
int (*ASyncLoadTimeSource)(int) = GetMillisecondCount;

namespace {

// Log texts.
const char LOG_QUEUE_FULL[] = "非同期読み込みデータの数が許容量を越えました終了します";
const char LOG_REQUEST_NOT_FROM_WORKER[] = "非同期読み込みスレッド以外からメインスレッドへの処理依頼が行われました";
const char LOG_NO_MEMORY_FOR_JOB[] = "非同期読み込みデータを格納するメモリ領域 %dByte の確保に失敗しました";
const char LOG_REQUESTS_FULL[] = "非同期読み込みスレッドからメインスレッドへの処理依頼数が許容量を越えました終了します";

unsigned int ASyncNow() { return static_cast<unsigned int>(ASyncLoadTimeSource(0)); }

void LeaveASyncLock() { LeaveLock(&ASyncLoad.lock); }

// Queue times compare as signed values.
bool IsEarlier(unsigned int a, unsigned int b) { return static_cast<int>(a) < static_cast<int>(b); }

// ---------------------------------------------------------------------------
// Waking workers

// Under the lock. Resumes one sleeping worker when fewer than the running
// limit + extra run: first a worker whose job was interrupted by a request
// that has since been served (earliest job first), else, unless busyOnly,
// the one asleep longest. 1 when one was woken.
int WakeWorkerCore(int extra, int busyOnly) {
  if (ASyncLoad.runningCount >= ASyncLoad.runningLimit + extra) return 0;
  int chosen = -1;
  bool chosenBusy = false;
  for (int i = 0; i < ASYNC_WORKER_COUNT; i++) {
    const ASyncWorker* worker = &ASyncLoad.workers[i];
    if (!IsThreadRecordValid(&worker->thread) || !worker->sleeping || worker->ended || worker->waiting) continue;
    if (worker->busy && worker->job != nullptr) {
      if (!chosenBusy || IsEarlier(worker->job->queueTime, ASyncLoad.workers[chosen].job->queueTime)) {
        chosen = i;
        chosenBusy = true;
      }
    } else if (!chosenBusy && !busyOnly) {
      if (chosen < 0 || IsEarlier(worker->sleepTime, ASyncLoad.workers[chosen].sleepTime)) chosen = i;
    }
  }
  if (chosen < 0) return 0;

  ASyncWorker* worker = &ASyncLoad.workers[chosen];
  // A worker that has marked itself asleep may not have suspended itself
  // yet; resume again until the resume finds it suspended.
  while (ResumeThreadRecord(&worker->thread) == 0) SwitchToThread();
  worker->sleeping = 0;
  ASyncLoad.runningCount++;
  return 1;
}

}  // namespace

void WakeASyncWorker(int extra) {
  if (!ASyncLoad.initialized) return;
  ENTER_LOCK(&ASyncLoad.lock);
  WakeWorkerCore(extra, 0);
  LeaveASyncLock();
}

// ---------------------------------------------------------------------------
// Job queue

namespace {

// Under the lock: empties a used slot and returns its job.
ASyncJob* TakeJobOutOfSlot(int slot) {
  ASyncJob* job = ASyncLoad.jobs[slot];
  ASyncLoad.jobs[slot] = nullptr;
  ASyncLoad.jobCount--;
  if (slot == ASyncLoad.jobHighWater - 1) {
    int top = slot;
    while (top > 0 && ASyncLoad.jobs[top - 1] == nullptr) top--;
    ASyncLoad.jobHighWater = top;
  }
  return job;
}

// Under the lock: empties a used slot and frees its job.
void RemoveJobSlot(int slot) { MemFree(TakeJobOutOfSlot(slot)); }

}  // namespace

ASyncJob* AllocASyncJob(int paramSize) {
  if (paramSize < 0) paramSize = 0;
  size_t total = offsetof(ASyncJob, params) + static_cast<size_t>(paramSize);
  if (total < sizeof(ASyncJob)) total = sizeof(ASyncJob);
  ASyncJob* job = static_cast<ASyncJob*>(MEM_ALLOC_ZEROED(total));
  if (job == nullptr) {
    LogPrintf(LOG_NO_MEMORY_FOR_JOB, static_cast<int>(total));
    return nullptr;
  }
  job->slot = -1;
  job->handle = -1;
  return job;
}

int AddASyncJob(ASyncJob* job) {
  if (job == nullptr || !ASyncLoad.initialized) return -1;
  ENTER_LOCK(&ASyncLoad.lock);
  if (ASyncLoad.jobCount >= ASYNC_JOB_MAX) {
    LeaveASyncLock();
    FatalErrorExit(LOG_QUEUE_FULL);
    return -1;
  }
  int slot;
  if (ASyncLoad.jobHighWater < ASYNC_JOB_MAX) {
    slot = ASyncLoad.jobHighWater;
    ASyncLoad.jobHighWater = slot + 1;
  } else {
    for (slot = 0; ASyncLoad.jobs[slot] != nullptr; slot++) {
    }
  }
  job->slot = slot;
  job->running = 0;
  job->queueTime = ASyncNow();
  ASyncLoad.jobs[slot] = job;
  ASyncLoad.jobCount++;
  WakeWorkerCore(0, 0);
  LeaveASyncLock();
  return 0;
}

int AddASyncJobForHandle(ASyncJob* job, int handle) {
  if (job == nullptr) return -1;
  if (!ASyncLoad.initialized) {
    MemFree(job);
    return -1;
  }
  // Holding the lock keeps the woken workers from taking the job before
  // the handle counts it.
  ENTER_LOCK(&ASyncLoad.lock);
  if (AddASyncJob(job) != 0) {
    LeaveASyncLock();
    MemFree(job);
    return -1;
  }
  job->handle = handle;
  if (AddHandleAsyncCount(handle, job->slot) != 0) {
    RemoveJobSlot(job->slot);
    LeaveASyncLock();
    return -1;
  }
  LeaveASyncLock();
  return 0;
}

int RemoveASyncJob(int slot, int refuseRunning) {
  if (!ASyncLoad.initialized) return -1;
  ENTER_LOCK(&ASyncLoad.lock);
  if (slot < 0 || slot >= ASYNC_JOB_MAX || ASyncLoad.jobs[slot] == nullptr) {
    LeaveASyncLock();
    return -1;
  }
  if (refuseRunning && ASyncLoad.jobs[slot]->running) {
    LeaveASyncLock();
    return -2;
  }
  ASyncJob* job = TakeJobOutOfSlot(slot);
  if (job->running) job->slot = -1;  // its function still uses it: the worker frees it when that returns
  else MemFree(job);
  LeaveASyncLock();
  return 0;
}

int RemoveASyncJobOfHandle(int slot, int handle, int refuseRunning) {
  if (!ASyncLoad.initialized) return -1;
  // The lock is re-entrant: the check and the removal happen in one hold.
  ENTER_LOCK(&ASyncLoad.lock);
  int result = -1;
  if (slot >= 0 && slot < ASYNC_JOB_MAX && ASyncLoad.jobs[slot] != nullptr && ASyncLoad.jobs[slot]->handle == handle) {
    result = RemoveASyncJob(slot, refuseRunning);
  }
  LeaveASyncLock();
  return result;
}

int GetASyncJobCount() {
  if (!ASyncLoad.initialized) return 0;
  ENTER_LOCK(&ASyncLoad.lock);
  const int count = ASyncLoad.jobCount;
  LeaveASyncLock();
  return count;
}

// ---------------------------------------------------------------------------
// Workers

namespace {

// Puts the calling worker to sleep. Called holding the lock, which it lets
// go; returns once the worker is resumed.
void SleepWorker(ASyncWorker* self) {
  self->sleeping = 1;
  self->sleepTime = ASyncNow();
  ASyncLoad.runningCount--;
  LeaveASyncLock();
  SuspendCurrentThread();
}

void ASyncLoadWorkerLoop(int index) {
  ASyncWorker* self = &ASyncLoad.workers[index];
  while (ASyncLoad.endFlag != 1) {
    // Choosing and going to sleep happen under one hold of the lock, so a
    // job queued or a request served meanwhile always finds this worker
    // either running or asleep.
    ENTER_LOCK(&ASyncLoad.lock);
    // The earliest queued job that no worker runs; on equal times the
    // later slot.
    ASyncJob* chosen = nullptr;
    for (int i = 0; i < ASyncLoad.jobHighWater; i++) {
      ASyncJob* job = ASyncLoad.jobs[i];
      if (job == nullptr || job->running) continue;
      if (chosen == nullptr || !IsEarlier(chosen->queueTime, job->queueTime)) chosen = job;
    }
    if (chosen != nullptr) {
      chosen->running = 1;
      self->busy = 1;
      self->job = chosen;
      LeaveASyncLock();

      if (chosen->function != nullptr) chosen->function(chosen);

      ENTER_LOCK(&ASyncLoad.lock);
      // Still queued unless RemoveASyncJob took it out while it ran; the
      // job is this worker's to free either way.
      if (chosen->slot >= 0 && ASyncLoad.jobs[chosen->slot] == chosen) TakeJobOutOfSlot(chosen->slot);
      MemFree(chosen);
      self->busy = 0;
      self->job = nullptr;
      LeaveASyncLock();
      continue;
    }

    // Nothing to take. A worker whose request has been served takes this
    // one's place; an idle one would find nothing either.
    WakeWorkerCore(1, 1);
    SleepWorker(self);
  }

  ENTER_LOCK(&ASyncLoad.lock);
  self->ended = 1;
  ASyncLoad.runningCount--;
  LeaveASyncLock();
}

void ASyncLoadThreadEntry(ThreadRecord* record, void* parameter) {
  ASyncLoadWorkerLoop(static_cast<int>(reinterpret_cast<intptr_t>(parameter)));
}

}  // namespace

int StartASyncLoadThreads(int processorCount) {
  if (!ASyncLoad.initialized) return -1;
  ENTER_LOCK(&ASyncLoad.lock);
  for (int i = 0; i < ASYNC_WORKER_COUNT; i++) {
    if (IsThreadRecordValid(&ASyncLoad.workers[i].thread)) {
      LeaveASyncLock();
      return -1;
    }
  }
  memset(ASyncLoad.workers, 0, sizeof(ASyncLoad.workers));
  ASyncLoad.endFlag = 0;
  ASyncLoad.workerCount = ASYNC_WORKER_COUNT;
  ASyncLoad.runningLimit = processorCount - 1 < 1 ? 1 : processorCount - 1;
  ASyncLoad.runningCount = 0;

  for (int i = 0; i < ASYNC_WORKER_COUNT; i++) {
    ASyncWorker* worker = &ASyncLoad.workers[i];
    worker->sleeping = 1;
    worker->sleepTime = ASyncNow();
    if (StartThreadRecord(&worker->thread, ASyncLoadThreadEntry, reinterpret_cast<void*>(static_cast<intptr_t>(i))) !=
        0) {
      worker->sleeping = 0;
      LeaveASyncLock();
      // Let the workers already made leave again.
      StopASyncLoadThreads();
      return -1;
    }
    SetThreadRecordPriority(&worker->thread, 0);
  }
  LeaveASyncLock();
  SleepThread(16);
  return 0;
}

int StopASyncLoadThreads() {
  if (!ASyncLoad.initialized) return -1;
  ENTER_LOCK(&ASyncLoad.lock);
  ASyncLoad.endFlag = 1;
  LeaveASyncLock();

  const int caller = GetASyncWorkerIndex();
  const int onMainThread = IsMainThread();
  for (int i = 0; i < ASYNC_WORKER_COUNT; i++) {
    ASyncWorker* worker = &ASyncLoad.workers[i];
    if (!IsThreadRecordValid(&worker->thread) || i == caller) continue;  // a worker cannot wait for itself
    while (!worker->ended) {
      // Off the main thread nobody can serve a waiting worker.
      if (!onMainThread && worker->waiting) break;
      ServeMainThreadRequests();
      ENTER_LOCK(&ASyncLoad.lock);
      if (ASyncLoad.runningCount == 0) WakeWorkerCore(0, 0);
      LeaveASyncLock();
      SleepThread(1);
    }
    if (worker->ended) {
      WaitForSingleObject(worker->thread.thread, INFINITE);
      CloseThreadRecord(&worker->thread);
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Main-thread requests

int IsMainThread() { return ASyncLoad.initialized && GetCurrentThreadId() == ASyncLoad.mainThreadId ? 1 : 0; }

int GetASyncWorkerIndex() {
  if (!ASyncLoad.initialized) return -1;
  const DWORD self = GetCurrentThreadId();
  int index = -1;
  ENTER_LOCK(&ASyncLoad.lock);
  for (int i = 0; i < ASYNC_WORKER_COUNT; i++) {
    const ASyncWorker* worker = &ASyncLoad.workers[i];
    if (IsThreadRecordValid(&worker->thread) && !worker->ended && GetThreadRecordId(&worker->thread) == self) {
      index = i;
      break;
    }
  }
  LeaveASyncLock();
  return index;
}

int IsASyncLoadWorkerThread() { return GetASyncWorkerIndex() >= 0 ? 1 : 0; }

int PostMainThreadRequest(MainThreadRequest* request) {
  const int index = GetASyncWorkerIndex();
  if (index < 0) {
    FatalErrorExit(LOG_REQUEST_NOT_FROM_WORKER);
    return -1;
  }
  ENTER_LOCK(&ASyncLoad.lock);
  if (ASyncLoad.requestCount >= ASYNC_REQUEST_MAX) {
    LeaveASyncLock();
    FatalErrorExit(LOG_REQUESTS_FULL);
    return -1;
  }
  ASyncWorker* self = &ASyncLoad.workers[index];
  request->result = 0;
  request->workerIndex = index;
  ASyncLoad.requests[ASyncLoad.requestCount++] = request;
  self->waiting = 1;
  // Another worker may run in this one's place meanwhile.
  WakeWorkerCore(1, 0);
  // Resumed once the main thread has stored the result.
  SleepWorker(self);
  return __atomic_load_n(&request->result, __ATOMIC_SEQ_CST);
}

int ServeMainThreadRequests() {
  if (!IsMainThread()) return -1;
  ENTER_LOCK(&ASyncLoad.lock);
  if (ASyncLoad.requestCount > 0) {
    const unsigned int start = ASyncNow();
    // Only the requests queued now: a pass ends even when workers keep posting.
    for (int left = ASyncLoad.requestCount; left > 0 && ASyncLoad.requestCount > 0; left--) {
      if (static_cast<int>(ASyncNow() - start) > ASYNC_SERVE_TIME_LIMIT) break;
      MainThreadRequest* request = ASyncLoad.requests[0];
      ASyncLoad.requestCount--;
      memmove(&ASyncLoad.requests[0], &ASyncLoad.requests[1], sizeof(ASyncLoad.requests[0]) * ASyncLoad.requestCount);
      ASyncLoad.requests[ASyncLoad.requestCount] = nullptr;

      // The function may take other locks (a handle type's): run it outside.
      LeaveASyncLock();
      const int result = request->function != nullptr ? request->function(request) : 0;
      ENTER_LOCK(&ASyncLoad.lock);

      const int worker = request->workerIndex;
      __atomic_store_n(&request->result, result, __ATOMIC_SEQ_CST);
      if (worker >= 0 && worker < ASYNC_WORKER_COUNT) ASyncLoad.workers[worker].waiting = 0;
      WakeWorkerCore(0, 0);
    }
  }

  // Keep workers running while jobs wait, leaving a processor to this thread.
  if (ASyncLoad.jobCount > 0) {
    int target = ASyncLoad.runningLimit - 1;
    if (target <= 0) target = 1;
    if (target > ASyncLoad.jobCount) target = ASyncLoad.jobCount;
    while (ASyncLoad.runningCount < target) {
      if (!WakeWorkerCore(0, 0)) break;
    }
  }
  LeaveASyncLock();
  return 0;
}

// ---------------------------------------------------------------------------
// Set-up

namespace {

// File handles open through a loading job: handle, full path, read flag.
int RunFileOpenJob(ASyncJob* job) {
  int offset = 0;
  const int handle = UnpackASyncInt(job->params, &offset);
  const char* path = UnpackASyncString(job->params, &offset);
  const int asyncRead = UnpackASyncInt(job->params, &offset);
  OpenFileHandleJob(handle, path, asyncRead);
  return 0;
}

int QueueFileOpenJob(int handle, const char* fullPath, int asyncRead) {
  int size = 0;
  PackASyncInt(nullptr, &size, handle);
  if (PackASyncString(nullptr, &size, fullPath) != 0) return -1;
  PackASyncInt(nullptr, &size, asyncRead);
  ASyncJob* job = AllocASyncJob(size);
  if (job == nullptr) return -1;
  job->function = RunFileOpenJob;
  int offset = 0;
  PackASyncInt(job->params, &offset, handle);
  PackASyncString(job->params, &offset, fullPath);
  PackASyncInt(job->params, &offset, asyncRead);
  return AddASyncJobForHandle(job, handle);
}

}  // namespace

int InitASyncLoad(unsigned int mainThreadId) {
  if (ASyncLoad.initialized) return -1;
  memset(&ASyncLoad, 0, sizeof(ASyncLoad));
  ASyncLoad.mainThreadId = mainThreadId;
  ASyncLoad.workerCount = ASYNC_WORKER_COUNT;
  ASyncLoad.runningLimit = 1;
  InitLock(&ASyncLoad.lock);
  ASyncLoad.initialized = 1;
  SetHandleASyncJobFunctions(RemoveASyncJobOfHandle, ServeMainThreadRequests);
  SetFileOpenJobQueueFunction(QueueFileOpenJob);
  return 0;
}

int EndASyncLoad() {
  if (!ASyncLoad.initialized) return -1;
  for (int i = 0; i < ASYNC_WORKER_COUNT; i++) {
    if (IsThreadRecordValid(&ASyncLoad.workers[i].thread)) {
      StopASyncLoadThreads();
      break;
    }
  }
  SetHandleASyncJobFunctions(nullptr, nullptr);
  SetFileOpenJobQueueFunction(nullptr);

  ENTER_LOCK(&ASyncLoad.lock);
  for (int i = 0; i < ASYNC_JOB_MAX; i++) {
    if (ASyncLoad.jobs[i] != nullptr) RemoveJobSlot(i);
  }
  LeaveASyncLock();
  DeleteLock(&ASyncLoad.lock);
  memset(&ASyncLoad, 0, sizeof(ASyncLoad));
  return 0;
}

// ---------------------------------------------------------------------------
// Parameter packing

namespace {

void WriteU16(void* area, int offset, unsigned int value) {
  const uint16_t word = static_cast<uint16_t>(value);
  memcpy(static_cast<unsigned char*>(area) + offset, &word, 2);
}

unsigned int ReadU16(const void* area, int offset) {
  uint16_t word;
  memcpy(&word, static_cast<const unsigned char*>(area) + offset, 2);
  return word;
}

}  // namespace

int PackASyncInt(void* area, int* offset, int value) {
  if (area != nullptr) memcpy(static_cast<unsigned char*>(area) + *offset, &value, 4);
  *offset += 4;
  return 0;
}

int PackASyncData(void* area, int* offset, const void* data, int size) {
  if (size < 0 || size > 0xFFFF - 2) return -1;
  if (area != nullptr) {
    WriteU16(area, *offset, static_cast<unsigned int>(size) + 2);
    unsigned char* bytes = static_cast<unsigned char*>(area) + *offset + 2;
    if (data != nullptr) memcpy(bytes, data, static_cast<size_t>(size));
    else memset(bytes, 0, static_cast<size_t>(size));
  }
  *offset += 2 + size;
  return 0;
}

int PackASyncString(void* area, int* offset, const char* text) {
  if (text == nullptr) {
    if (area != nullptr) WriteU16(area, *offset, 2);
    *offset += 2;
    return 0;
  }
  const size_t length = strlen(text) + 1;
  if (length > 0xFFFF - 2) return -1;
  if (area != nullptr) {
    WriteU16(area, *offset, static_cast<unsigned int>(length) + 2);
    memcpy(static_cast<unsigned char*>(area) + *offset + 2, text, length);
  }
  *offset += 2 + static_cast<int>(length);
  return 0;
}

int UnpackASyncInt(const void* area, int* offset) {
  int value;
  memcpy(&value, static_cast<const unsigned char*>(area) + *offset, 4);
  *offset += 4;
  return value;
}

const void* UnpackASyncData(const void* area, int* offset, int* size) {
  unsigned int head = ReadU16(area, *offset);
  if (head < 2) head = 2;
  const void* data = static_cast<const unsigned char*>(area) + *offset + 2;
  if (size != nullptr) *size = static_cast<int>(head) - 2;
  *offset += static_cast<int>(head);
  return data;
}

const char* UnpackASyncString(const void* area, int* offset) {
  const unsigned int head = ReadU16(area, *offset);
  if (head <= 2) {
    *offset += 2;
    return nullptr;
  }
  const char* text = reinterpret_cast<const char*>(area) + *offset + 2;
  *offset += static_cast<int>(head);
  return text;
}
