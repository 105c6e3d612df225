// Asynchronous loading: a queue of loading jobs run by a pool of worker
// threads at low priority, and the requests the workers post to the main
// thread for work that must happen there (device calls, COM creation).
#ifndef DIDARIDIRER_H
#define DIDARIDIRER_H

#include <stddef.h>
#include <stdint.h>

#include "ZeZezuDozThread.h"

enum {
  ASYNC_JOB_MAX = 32768,
  ASYNC_WORKER_COUNT = 32,
  ASYNC_REQUEST_MAX = ASYNC_WORKER_COUNT,  // one pending request per worker
  ASYNC_SERVE_TIME_LIMIT = 2,              // milliseconds per ServeMainThreadRequests pass
  MAIN_THREAD_REQUEST_PARAM_COUNT = 13,
};

struct ASyncJob;
// Runs on a worker with the job record; the result is ignored.
typedef int (*ASyncJobFunction)(ASyncJob* job);

struct ASyncJob {
  int slot;                // queue slot index
  int handle;              // handle the job was queued for, -1 for none
  volatile int running;    // 1 once a worker has taken the job
  unsigned int queueTime;  // millisecond clock when queued
  ASyncJobFunction function;
  unsigned char params[4];  // packed parameters; at least the requested size
};

struct MainThreadRequest;
// Runs on the main thread; its result is handed back to the posting worker.
typedef int (*MainThreadRequestFunction)(MainThreadRequest* request);

struct MainThreadRequest {
  MainThreadRequestFunction function;
  int workerIndex;  // the posting worker
  int result;
  uintptr_t params[MAIN_THREAD_REQUEST_PARAM_COUNT];  // the call's arguments, for the poster's use
};

struct ASyncWorker {
  ThreadRecord thread;
  volatile int ended;      // the thread has left its loop
  volatile int busy;       // running a job's function
  volatile int waiting;    // waiting for a main-thread request to be served
  volatile int sleeping;   // suspended, or about to be
  unsigned int sleepTime;  // millisecond clock when it went to sleep
  ASyncJob* job;           // the job it runs
};

// Guarded by `lock`.
struct ASyncLoadState {
  int initialized;
  unsigned int mainThreadId;
  volatile int endFlag;
  int workerCount;
  int runningLimit;  // processors - 1, at least 1
  int runningCount;  // workers not sleeping
  LockRecord lock;
  ASyncJob* jobs[ASYNC_JOB_MAX];  // null = free
  int jobCount;
  int jobHighWater;  // one past the highest slot in use
  ASyncWorker workers[ASYNC_WORKER_COUNT];
  MainThreadRequest* requests[ASYNC_REQUEST_MAX];  // posting order
  int requestCount;
};
extern ASyncLoadState ASyncLoad;

// Millisecond clock for queue times, sleep times and the serve budget;
// GetMillisecondCount unless replaced (tests).
extern int (*ASyncLoadTimeSource)(int);

// Set-up. InitASyncLoad also links the handle manager and the file handles
// to the queue; EndASyncLoad stops workers still running, frees the jobs
// left in the queue and unlinks them.
int InitASyncLoad(unsigned int mainThreadId);
int EndASyncLoad();
// Running limit = processorCount - 1, at least 1. -1 when not set up, when
// the workers already exist, or when a thread cannot be made.
int StartASyncLoadThreads(int processorCount);
int StopASyncLoadThreads();

// Jobs.
ASyncJob* AllocASyncJob(int paramSize);
int AddASyncJob(ASyncJob* job);  // -1 when not set up (the job stays the caller's)
// Queues the job and counts it on the handle before any worker can take it.
// -1 when either fails; the job is then freed and nothing is counted.
int AddASyncJobForHandle(ASyncJob* job, int handle);
// 0 removed and freed, -1 no job in that slot, -2 running and refused. A
// running job that is not refused leaves the queue at once; its worker
// frees it when the job's function returns.
int RemoveASyncJob(int slot, int refuseRunning);
// As RemoveASyncJob, but only when the job in the slot was queued for the
// handle: a record keeps the slot of its last job only, and an older slot
// may meanwhile hold another handle's job. -1 when it does not.
int RemoveASyncJobOfHandle(int slot, int handle, int refuseRunning);
int GetASyncJobCount();

// Threads and main-thread requests.
int IsMainThread();
int GetASyncWorkerIndex();  // the calling worker's index, or -1
int IsASyncLoadWorkerThread();
// Called on a worker: returns the request's result once the main thread has
// run it. Any other thread ends the process.
int PostMainThreadRequest(MainThreadRequest* request);
int ServeMainThreadRequests();  // -1 when not on the main thread
void WakeASyncWorker(int extra);

// Parameter packing. A null area only advances the offset, so a first pass
// measures and a second one writes; unpack in the same order.
int PackASyncInt(void* area, int* offset, int value);
// -1 (nothing written, offset unchanged) for a block over 65533 bytes.
int PackASyncData(void* area, int* offset, const void* data, int size);
// -1 (nothing written, offset unchanged) for a text over 65532 bytes.
int PackASyncString(void* area, int* offset, const char* text);
int UnpackASyncInt(const void* area, int* offset);
const void* UnpackASyncData(const void* area, int* offset, int* size = nullptr);
const char* UnpackASyncString(const void* area, int* offset);  // null for a null text

#endif  // DIDARIDIRER_H
