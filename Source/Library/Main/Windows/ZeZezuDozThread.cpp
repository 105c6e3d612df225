// Thread and lock wrappers: critical-section locks (also made on first
// use), threads with priority and resume, and sleeping.
#include "ZeZezuDozThread.h"

int InitLock(LockRecord* lock) {
  InitializeCriticalSection(&lock->section);
  lock->file[0] = '\0';
  lock->line = 0;
  lock->threadId = 0;
  return 0;
}

void InitLockOnce(LockRecord* lock, volatile LONG* state) {
  if (*state == 2) return;
  if (InterlockedCompareExchange(state, 1, 0) == 0) {
    InitLock(lock);
    InterlockedExchange(state, 2);
  } else {
    while (*state != 2) Sleep(0);
  }
}

int EnterOnceLock(OnceLockRecord* once, const char* file, int line) {
  InitLockOnce(&once->lock, &once->state);
  return EnterLock(&once->lock, file, line);
}

int LeaveOnceLock(OnceLockRecord* once) { return LeaveLock(&once->lock); }

int DeleteLock(LockRecord* lock) {
  DeleteCriticalSection(&lock->section);
  return 0;
}

int EnterLock(LockRecord* lock, const char* file, int line) {
  DWORD id = GetCurrentThreadId();
  EnterCriticalSection(&lock->section);
  int i = 0;
  if (file != nullptr) {
    for (; i < 255 && file[i] != '\0'; ++i) lock->file[i] = file[i];
  }
  lock->file[i] = '\0';
  lock->line = static_cast<unsigned int>(line);
  lock->threadId = id;
  return 0;
}

int LeaveLock(LockRecord* lock) {
  LeaveCriticalSection(&lock->section);
  return 0;
}

DWORD WINAPI ThreadRecordEntry(LPVOID param) {
  ThreadRecord* record = static_cast<ThreadRecord*>(param);
  SuspendCurrentThread();
  record->function(record, record->parameter);
  ExitThread(0);
  return 0;
}

int StartThreadRecord(ThreadRecord* record, ThreadRecordFunction function, void* parameter) {
  record->function = function;
  record->parameter = parameter;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, ThreadRecordEntry, record, 0, &id);
  if (thread == nullptr) {
    record->thread = nullptr;
    record->threadId = 0;
    return -1;
  }
  record->thread = thread;
  record->threadId = id;
  return 0;
}

int SetThreadRecordPriority(ThreadRecord* record, int level) {
  static const int kPriority[4] = {THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                   THREAD_PRIORITY_HIGHEST};
  if (level < 0 || level > 3) return 0;
  return SetThreadPriority(record->thread, kPriority[level]);
}

int ResumeThreadRecord(ThreadRecord* record) {
  // The previous suspend count is 0 when the thread was already running;
  // a failed call reads as "was suspended" so callers do not spin on it.
  return ResumeThread(record->thread) != 0 ? 1 : 0;
}

void SuspendCurrentThread() { SuspendThread(GetCurrentThread()); }

int IsThreadRecordValid(const ThreadRecord* record) { return record->thread != nullptr ? 1 : 0; }

DWORD GetThreadRecordId(const ThreadRecord* record) { return record->threadId; }

void CloseThreadRecord(ThreadRecord* record) {
  if (record->thread != nullptr) CloseHandle(record->thread);
  record->thread = nullptr;
}

void SleepThread(int milliseconds) {
  // A negative time would turn into INFINITE (or nearly) as a DWORD.
  Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0);
}
