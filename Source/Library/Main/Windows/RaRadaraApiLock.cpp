// Library-wide API lock: a queue of waiting threads served in arrival order,
// re-entered freely by its owner.
#include "RaRadaraApiLock.h"

LibraryLockState LibraryLock;

// Line tags recorded in the guard for diagnosis.
enum {
  LOCK_TAG_LINE = 1382,
  UNLOCK_TAG_LINE = 1552,
};

namespace {

// Creates the events and the guard once. A thread that finds another one
// creating them waits until they are ready.
void CreateLibraryLock() {
  if (LibraryLock.created == 2) return;
  if (InterlockedCompareExchange(&LibraryLock.created, 1, 0) == 0) {
    for (int i = 0; i < LIBRARY_LOCK_WAITER_MAX; i++) {
      LibraryLock.waiters[i].threadId = 0;
      LibraryLock.waiters[i].event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    LibraryLock.recursion = 0;
    LibraryLock.locked = 0;
    LibraryLock.owner = static_cast<DWORD>(-1);
    LibraryLock.waiterCount = 0;
    InitLock(&LibraryLock.guard);
    InterlockedExchange(&LibraryLock.created, 2);
    return;
  }
  while (LibraryLock.created != 2) Sleep(0);
}

// Under the guard.
void TakeLibraryLock(DWORD self) {
  LibraryLock.recursion++;
  LibraryLock.locked = 1;
  LibraryLock.owner = self;
  LeaveLock(&LibraryLock.guard);
}

// Under the guard: the head leaves the queue. Its event moves to the slot
// that falls free at the tail.
void RemoveLibraryLockHead() {
  const int count = LibraryLock.waiterCount;
  if (count > 1) {
    const HANDLE event = LibraryLock.waiters[0].event;
    for (int i = 1; i < count; i++) LibraryLock.waiters[i - 1] = LibraryLock.waiters[i];
    LibraryLock.waiters[count - 1].event = event;
    LibraryLock.waiters[count - 1].threadId = 0;
  }
  LibraryLock.waiterCount = count - 1;
}

}  // namespace

int LockLibraryCall() {
  CreateLibraryLock();
  const DWORD self = GetCurrentThreadId();
  for (;;) {
    EnterLock(&LibraryLock.guard, __FILE__, LOCK_TAG_LINE);
    if (LibraryLock.locked) {
      if (LibraryLock.owner == self) {
        TakeLibraryLock(self);
        return 0;
      }
    } else if (LibraryLock.waiterCount == 0) {
      TakeLibraryLock(self);
      return 0;
    } else if (LibraryLock.waiters[0].threadId == self) {
      RemoveLibraryLockHead();
      TakeLibraryLock(self);
      return 0;
    }

    // Join the tail, even when the lock is free: the head goes first.
    if (LibraryLock.waiterCount == LIBRARY_LOCK_WAITER_MAX) {
      LeaveLock(&LibraryLock.guard);
      Sleep(1);
      continue;
    }
    LibraryLockWaiter* entry = &LibraryLock.waiters[LibraryLock.waiterCount];
    entry->threadId = self;
    const HANDLE event = entry->event;
    LibraryLock.waiterCount++;
    LeaveLock(&LibraryLock.guard);

    // Wait until this thread is the head and the lock is free. Only the
    // head's event is ever set; a slot without an event polls.
    for (;;) {
      if (event != nullptr) {
        WaitForSingleObject(event, INFINITE);
        ResetEvent(event);
      } else {
        Sleep(1);
      }
      EnterLock(&LibraryLock.guard, __FILE__, LOCK_TAG_LINE);
      if (!LibraryLock.locked && LibraryLock.waiterCount > 0 && LibraryLock.waiters[0].threadId == self) {
        RemoveLibraryLockHead();
        TakeLibraryLock(self);
        return 0;
      }
      LeaveLock(&LibraryLock.guard);
    }
  }
}

int UnlockLibraryCall() {
  if (LibraryLock.created != 2) return 0;
  EnterLock(&LibraryLock.guard, __FILE__, UNLOCK_TAG_LINE);
  if (!LibraryLock.locked || LibraryLock.owner != GetCurrentThreadId() || LibraryLock.recursion <= 0) {
    LeaveLock(&LibraryLock.guard);
    return 0;
  }
  HANDLE wake = nullptr;
  if (LibraryLock.recursion == 1) {
    LibraryLock.locked = 0;
    LibraryLock.owner = static_cast<DWORD>(-1);
    if (LibraryLock.waiterCount >= 1) wake = LibraryLock.waiters[0].event;
  }
  LibraryLock.recursion--;
  LeaveLock(&LibraryLock.guard);
  if (wake != nullptr) {
    SetEvent(wake);
    Sleep(0);
  }
  return 0;
}

int DeleteLibraryCallLock() {
  if (LibraryLock.created != 2) return 0;
  LibraryLock.created = 0;
  for (int i = 0; i < LIBRARY_LOCK_WAITER_MAX; i++) {
    if (LibraryLock.waiters[i].event != nullptr) CloseHandle(LibraryLock.waiters[i].event);
    LibraryLock.waiters[i].event = nullptr;
    LibraryLock.waiters[i].threadId = 0;
  }
  LibraryLock.recursion = 0;
  LibraryLock.locked = 0;
  LibraryLock.owner = static_cast<DWORD>(-1);
  LibraryLock.waiterCount = 0;
  DeleteLock(&LibraryLock.guard);
  return 0;
}
