// Library-wide API lock: re-entrance, strict arrival order, the tail rule
// for a thread that asks again, the full waiter table and tear-down.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "RaRadaraApiLock.h"

namespace {

bool WaitUntil(const std::function<bool()>& done, int milliseconds = 10000) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > static_cast<DWORD>(milliseconds)) return false;
    Sleep(1);
  }
  return true;
}

int Waiters() {
  ENTER_LOCK(&LibraryLock.guard);
  const int count = LibraryLock.waiterCount;
  LeaveLock(&LibraryLock.guard);
  return count;
}

// Every test starts and ends with no lock.
class ApiLockTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteLibraryCallLock(); }
  void TearDown() override { DeleteLibraryCallLock(); }
};

TEST_F(ApiLockTest, FirstUseCreatesTheEventsAndTearDownClosesThem) {
  EXPECT_EQ(0, LibraryLock.created);
  ASSERT_EQ(0, LockLibraryCall());
  EXPECT_EQ(2, LibraryLock.created);
  for (const LibraryLockWaiter& waiter : LibraryLock.waiters) {
    ASSERT_NE(nullptr, waiter.event);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(waiter.event, 0));  // unsignalled
  }
  EXPECT_EQ(0, UnlockLibraryCall());
  EXPECT_EQ(0, DeleteLibraryCallLock());
  EXPECT_EQ(0, LibraryLock.created);
  for (const LibraryLockWaiter& waiter : LibraryLock.waiters) EXPECT_EQ(nullptr, waiter.event);
  // Created again on the next use.
  ASSERT_EQ(0, LockLibraryCall());
  EXPECT_EQ(2, LibraryLock.created);
  EXPECT_EQ(GetCurrentThreadId(), LibraryLock.owner);
  UnlockLibraryCall();
}

TEST_F(ApiLockTest, RecursionReleasesOnlyAtCountZero) {
  for (int i = 1; i <= 3; i++) {
    ASSERT_EQ(0, LockLibraryCall());
    EXPECT_EQ(i, LibraryLock.recursion);
  }
  std::atomic<int> taken{0};
  std::thread other([&] {
    LockLibraryCall();
    taken = 1;
    UnlockLibraryCall();
  });
  ASSERT_TRUE(WaitUntil([] { return Waiters() == 1; }));
  for (int i = 2; i >= 1; i--) {
    UnlockLibraryCall();
    EXPECT_EQ(i, LibraryLock.recursion);
    EXPECT_EQ(1, LibraryLock.locked);
    EXPECT_EQ(GetCurrentThreadId(), LibraryLock.owner);
    Sleep(20);
    EXPECT_EQ(0, taken);
  }
  UnlockLibraryCall();
  other.join();
  EXPECT_EQ(1, taken);
  EXPECT_EQ(0, LibraryLock.recursion);
  EXPECT_EQ(0, LibraryLock.locked);
  EXPECT_EQ(static_cast<DWORD>(-1), LibraryLock.owner);
  EXPECT_EQ(0, Waiters());
}

TEST_F(ApiLockTest, UnlockByAThreadThatDoesNotHoldItChangesNothing) {
  EXPECT_EQ(0, UnlockLibraryCall());  // never created
  ASSERT_EQ(0, LockLibraryCall());
  std::thread([] { UnlockLibraryCall(); }).join();
  EXPECT_EQ(1, LibraryLock.recursion);
  EXPECT_EQ(GetCurrentThreadId(), LibraryLock.owner);
  UnlockLibraryCall();
  UnlockLibraryCall();  // one too many
  EXPECT_EQ(0, LibraryLock.recursion);
  EXPECT_EQ(0, LibraryLock.locked);
}

TEST_F(ApiLockTest, WaitingThreadsAcquireInArrivalOrder) {
  ASSERT_EQ(0, LockLibraryCall());
  std::mutex mutex;
  std::vector<int> order;
  std::vector<std::thread> threads;
  std::vector<DWORD> ids(8);
  for (int i = 0; i < 8; i++) {
    threads.emplace_back([&, i] {
      ids[i] = GetCurrentThreadId();
      LockLibraryCall();
      LockLibraryCall();  // re-entrant for the new owner too
      {
        std::lock_guard<std::mutex> hold(mutex);
        order.push_back(i);
      }
      UnlockLibraryCall();
      UnlockLibraryCall();
    });
    // Thread i is queued before thread i + 1 starts.
    ASSERT_TRUE(WaitUntil([&] { return Waiters() == i + 1; }));
    EXPECT_EQ(ids[i], LibraryLock.waiters[i].threadId);
  }
  UnlockLibraryCall();
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}), order);
  EXPECT_EQ(0, Waiters());
  EXPECT_EQ(0, LibraryLock.locked);
  // Every slot still has its own event, none left signalled.
  for (int i = 0; i < 9; i++) {
    ASSERT_NE(nullptr, LibraryLock.waiters[i].event);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(LibraryLock.waiters[i].event, 0)) << i;
    for (int k = 0; k < i; k++) EXPECT_NE(LibraryLock.waiters[k].event, LibraryLock.waiters[i].event);
  }
}

TEST_F(ApiLockTest, AThreadThatReleasesAndAsksAgainGoesToTheTail) {
  std::mutex mutex;
  std::vector<char> order;
  auto note = [&](char name) {
    std::lock_guard<std::mutex> hold(mutex);
    order.push_back(name);
  };
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> holding{0};
  std::thread owner([&] {
    LockLibraryCall();
    holding = 1;
    WaitForSingleObject(release, 20000);
    UnlockLibraryCall();
    LockLibraryCall();  // at once, while others wait
    note('o');
    UnlockLibraryCall();
  });
  ASSERT_TRUE(WaitUntil([&] { return holding == 1; }));
  std::vector<std::thread> waiters;
  for (char name : {'a', 'b'}) {
    const int before = Waiters();
    waiters.emplace_back([&, name] {
      LockLibraryCall();
      note(name);
      UnlockLibraryCall();
    });
    ASSERT_TRUE(WaitUntil([&] { return Waiters() == before + 1; }));
  }
  SetEvent(release);
  owner.join();
  for (std::thread& thread : waiters) thread.join();
  CloseHandle(release);
  EXPECT_EQ((std::vector<char>{'a', 'b', 'o'}), order);
}

TEST_F(ApiLockTest, WithTheWaiterTableFullANewThreadPollsUntilASlotFrees) {
  ASSERT_EQ(0, LockLibraryCall());
  // Fill the table with entries of threads that do not exist.
  ENTER_LOCK(&LibraryLock.guard);
  for (int i = 0; i < LIBRARY_LOCK_WAITER_MAX; i++) LibraryLock.waiters[i].threadId = 0x7FFF0000u + i;
  LibraryLock.waiterCount = LIBRARY_LOCK_WAITER_MAX;
  LeaveLock(&LibraryLock.guard);

  std::atomic<int> taken{0};
  DWORD id = 0;
  std::thread late([&] {
    id = GetCurrentThreadId();
    LockLibraryCall();
    taken = 1;
    UnlockLibraryCall();
  });
  Sleep(50);
  EXPECT_EQ(LIBRARY_LOCK_WAITER_MAX, Waiters());  // not queued: still polling

  // The table empties: the poller queues at the head and gets the lock when it is freed.
  ENTER_LOCK(&LibraryLock.guard);
  LibraryLock.waiterCount = 0;
  LeaveLock(&LibraryLock.guard);
  ASSERT_TRUE(WaitUntil([] { return Waiters() == 1; }));
  EXPECT_EQ(id, LibraryLock.waiters[0].threadId);
  EXPECT_EQ(0, taken);
  UnlockLibraryCall();
  late.join();
  EXPECT_EQ(1, taken);
}

}  // namespace
