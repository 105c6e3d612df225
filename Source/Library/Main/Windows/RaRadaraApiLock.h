// Library-wide API lock: re-entrant for its owner, handed to waiting
// threads strictly in arrival order. Start-up, shut-down and the message
// pump hold it around their bodies.
#ifndef RARADARA_APILOCK_H
#define RARADARA_APILOCK_H

#include <windows.h>

#include "ZeZezuDozThread.h"

enum {
  LIBRARY_LOCK_WAITER_MAX = 4096,
};

// One queue entry. The event belongs to the entry's slot, not to the
// thread: it travels with the entry while the queue moves up, and the head's
// event goes to the freed tail slot when the head leaves.
struct LibraryLockWaiter {
  DWORD threadId;
  HANDLE event;  // manual reset
};

struct LibraryLockState {
  LockRecord guard;       // protects every field below
  volatile LONG created;  // 0 none, 1 being created, 2 events and guard exist
  int recursion;          // how many times the owner holds the lock
  int locked;
  DWORD owner;                                         // (DWORD)-1 when free
  LibraryLockWaiter waiters[LIBRARY_LOCK_WAITER_MAX];  // 0 .. waiterCount-1, head first
  int waiterCount;
};
extern LibraryLockState LibraryLock;

// Returns when the calling thread holds the lock; creates it on first use.
int LockLibraryCall();
// Gives up one level; a thread that does not hold the lock changes nothing.
int UnlockLibraryCall();
// Tear-down by shut-down and the fatal-error exit: no thread may be inside
// or waiting. The next LockLibraryCall creates the lock again.
int DeleteLibraryCallLock();

#endif  // RARADARA_APILOCK_H
