// Thread and lock wrappers over the Windows services.
#ifndef ZEZEZUDOZ_THREAD_H
#define ZEZEZUDOZ_THREAD_H

#include <windows.h>

struct LockRecord {
  CRITICAL_SECTION section;
  char file[256];         // source file of the last entry (diagnosis only)
  unsigned int line;      // source line of the last entry
  unsigned int threadId;  // thread of the last entry
};

struct ThreadRecord;
typedef void (*ThreadRecordFunction)(ThreadRecord* record, void* parameter);

struct ThreadRecord {
  ThreadRecordFunction function;
  void* parameter;
  HANDLE thread;  // null when no thread
  DWORD threadId;
};

int InitLock(LockRecord* lock);
// Makes the lock on its first use, once even when threads race for it.
// `state`: 0 not made, 1 being made, 2 ready.
void InitLockOnce(LockRecord* lock, volatile LONG* state);
int DeleteLock(LockRecord* lock);

// A lock made on its first entry, once even when threads race for it. A
// zero-filled record (any static one) is ready to use; it lives until the
// process ends, so no thread can find it deleted under it.
struct OnceLockRecord {
  LockRecord lock;
  volatile LONG state;  // as for InitLockOnce
};
int EnterOnceLock(OnceLockRecord* once, const char* file, int line);
int LeaveOnceLock(OnceLockRecord* once);
int EnterLock(LockRecord* lock, const char* file, int line);
int LeaveLock(LockRecord* lock);

// The started thread suspends itself at once; it runs its function when
// resumed with ResumeThreadRecord.
int StartThreadRecord(ThreadRecord* record, ThreadRecordFunction function, void* parameter);
DWORD WINAPI ThreadRecordEntry(LPVOID record);
// level: 0 lowest, 1 below normal, 2 normal, 3 highest; other values do nothing.
int SetThreadRecordPriority(ThreadRecord* record, int level);
int ResumeThreadRecord(ThreadRecord* record);
void SuspendCurrentThread();
int IsThreadRecordValid(const ThreadRecord* record);
DWORD GetThreadRecordId(const ThreadRecord* record);
void CloseThreadRecord(ThreadRecord* record);
void SleepThread(int milliseconds);

#define ENTER_LOCK(lock) EnterLock((lock), __FILE__, __LINE__)
#define ENTER_ONCE_LOCK(once) EnterOnceLock((once), __FILE__, __LINE__)

#endif  // ZEZEZUDOZ_THREAD_H
