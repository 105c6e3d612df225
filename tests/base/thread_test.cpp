// LockRecord and ThreadRecord wrappers.
#include <gtest/gtest.h>

#include <string.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "ZeZezuDozThread.h"

namespace {

// ---------------------------------------------------------------------------
// Locks

class LockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(&lock_, 'x', sizeof(lock_));
    ASSERT_EQ(0, InitLock(&lock_));
  }
  void TearDown() override { EXPECT_EQ(0, DeleteLock(&lock_)); }
  LockRecord lock_;
};

// Tries the lock from another thread; true when it could be taken.
bool TakenByOtherThread(LockRecord* lock) {
  bool entered = false;
  std::thread other([&] {
    entered = TryEnterCriticalSection(&lock->section) != 0;
    if (entered) LeaveCriticalSection(&lock->section);
  });
  other.join();
  return entered;
}

TEST_F(LockTest, InitEmptiesTheFileField) {
  EXPECT_EQ('\0', lock_.file[0]);
  EXPECT_TRUE(TakenByOtherThread(&lock_));
}

TEST_F(LockTest, EnterRecordsFileLineAndThread) {
  EXPECT_EQ(0, EnterLock(&lock_, "Source/Thing.cpp", 42));
  EXPECT_STREQ("Source/Thing.cpp", lock_.file);
  EXPECT_EQ(42u, lock_.line);
  EXPECT_EQ(GetCurrentThreadId(), lock_.threadId);
  EXPECT_EQ(0, LeaveLock(&lock_));

  const int line = __LINE__ + 1;
  ENTER_LOCK(&lock_);
  EXPECT_STREQ(__FILE__, lock_.file);
  EXPECT_EQ(static_cast<unsigned int>(line), lock_.line);
  LeaveLock(&lock_);
}

TEST_F(LockTest, LongFileNameKeepsFirst255Characters) {
  std::string name;
  for (int i = 0; i < 300; ++i) name += static_cast<char>('a' + i % 26);
  EnterLock(&lock_, name.c_str(), 7);
  EXPECT_EQ(255u, strlen(lock_.file));
  EXPECT_EQ(name.substr(0, 255), std::string(lock_.file));
  LeaveLock(&lock_);

  // Exactly 255 fits whole; a shorter later entry replaces it entirely.
  EnterLock(&lock_, name.substr(0, 255).c_str(), 8);
  EXPECT_EQ(name.substr(0, 255), std::string(lock_.file));
  LeaveLock(&lock_);
  EnterLock(&lock_, "b.cpp", 9);
  EXPECT_STREQ("b.cpp", lock_.file);
  LeaveLock(&lock_);
}

TEST_F(LockTest, RecursiveEntryOnOneThread) {
  EnterLock(&lock_, "a.cpp", 1);
  EnterLock(&lock_, "a.cpp", 2);  // must not deadlock
  EXPECT_EQ(2u, lock_.line);
  EXPECT_FALSE(TakenByOtherThread(&lock_));
  LeaveLock(&lock_);
  EXPECT_FALSE(TakenByOtherThread(&lock_));  // still held once
  LeaveLock(&lock_);
  EXPECT_TRUE(TakenByOtherThread(&lock_));
}

TEST_F(LockTest, OtherThreadWaitsUntilLeave) {
  volatile LONG entered = 0;
  DWORD otherId = 0;
  EnterLock(&lock_, "main.cpp", 1);
  std::thread other([&] {
    otherId = GetCurrentThreadId();
    EnterLock(&lock_, "other.cpp", 2);
    InterlockedExchange(&entered, 1);
    LeaveLock(&lock_);
  });
  Sleep(50);
  EXPECT_EQ(0, entered);
  EXPECT_STREQ("main.cpp", lock_.file);
  LeaveLock(&lock_);
  other.join();
  EXPECT_EQ(1, entered);
  EXPECT_STREQ("other.cpp", lock_.file);
  EXPECT_EQ(2u, lock_.line);
  EXPECT_EQ(otherId, lock_.threadId);
}

TEST_F(LockTest, SerialisesReadModifyWrite) {
  volatile int counter = 0;
  const int kThreads = 4, kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        ENTER_LOCK(&lock_);
        const int value = counter;
        if ((i & 255) == 0) SwitchToThread();
        counter = value + 1;
        LeaveLock(&lock_);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(kThreads * kRounds, counter);
}

// A zero-filled once-lock is made by whichever thread enters first and
// then excludes like any lock.
TEST(OnceLock, FirstEntriesFromManyThreadsShareOneLock) {
  for (int round = 0; round < 20; ++round) {
    static OnceLockRecord once;
    memset(&once, 0, sizeof(once));
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&] {
        for (int i = 0; i < 2000; ++i) {
          ENTER_ONCE_LOCK(&once);
          const int seen = counter;
          if (i % 50 == 0) Sleep(0);
          counter = seen + 1;
          LeaveOnceLock(&once);
        }
      });
    for (std::thread& thread : threads) thread.join();
    ASSERT_EQ(8000, counter) << "round " << round;
    EXPECT_EQ(2, once.state);
    DeleteLock(&once.lock);
  }
}

// ---------------------------------------------------------------------------
// Threads

struct Probe {
  volatile LONG calls = 0;
  ThreadRecord* seenRecord = nullptr;
  void* seenParameter = nullptr;
  DWORD seenThreadId = 0;
  HANDLE running = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~Probe() {
    CloseHandle(running);
    CloseHandle(release);
  }
};

void ProbeFunction(ThreadRecord* record, void* parameter) {
  Probe* probe = static_cast<Probe*>(parameter);
  probe->seenRecord = record;
  probe->seenParameter = parameter;
  probe->seenThreadId = GetCurrentThreadId();
  InterlockedIncrement(&probe->calls);
  SetEvent(probe->running);
  WaitForSingleObject(probe->release, 10000);
}

// Waits until the new thread has suspended itself: its suspend count then
// reads 1 (the probe's own suspend is undone at once).
bool WaitUntilSelfSuspended(const ThreadRecord& record) {
  for (int i = 0; i < 5000; ++i) {
    const DWORD previous = SuspendThread(record.thread);
    ResumeThread(record.thread);
    if (previous == 1) return true;
    Sleep(1);
  }
  return false;
}

// Resumes as the loading workers do: repeat while the thread had not yet
// suspended itself.
int ResumeUntilSuspendedOnce(ThreadRecord* record) {
  for (int i = 0; i < 5000; ++i) {
    if (ResumeThreadRecord(record) != 0) return 1;
    Sleep(1);
  }
  return 0;
}

class ThreadRecordTest : public ::testing::Test {
 protected:
  void SetUp() override { memset(&record_, 0, sizeof(record_)); }
  void TearDown() override {
    if (IsThreadRecordValid(&record_)) {
      SetEvent(probe_.release);
      if (probe_.calls == 0) ResumeUntilSuspendedOnce(&record_);
      WaitForSingleObject(record_.thread, 10000);
      CloseThreadRecord(&record_);
    }
  }
  ThreadRecord record_;
  Probe probe_;
};

TEST_F(ThreadRecordTest, FunctionRunsOnlyAfterResume) {
  ASSERT_EQ(0, StartThreadRecord(&record_, ProbeFunction, &probe_));
  ASSERT_TRUE(IsThreadRecordValid(&record_));
  EXPECT_EQ(reinterpret_cast<void*>(ProbeFunction), reinterpret_cast<void*>(record_.function));
  EXPECT_EQ(&probe_, record_.parameter);

  ASSERT_TRUE(WaitUntilSelfSuspended(record_));
  Sleep(30);
  EXPECT_EQ(0, probe_.calls);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(probe_.running, 0));

  EXPECT_EQ(1, ResumeThreadRecord(&record_));
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(probe_.running, 5000));
  EXPECT_EQ(1, probe_.calls);
  EXPECT_EQ(&record_, probe_.seenRecord);
  EXPECT_EQ(&probe_, probe_.seenParameter);
  EXPECT_EQ(GetThreadRecordId(&record_), probe_.seenThreadId);

  SetEvent(probe_.release);
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(record_.thread, 5000));
  DWORD code = 99;
  ASSERT_TRUE(GetExitCodeThread(record_.thread, &code));
  EXPECT_EQ(0u, code);
  EXPECT_EQ(1, probe_.calls);
}

TEST_F(ThreadRecordTest, ResumingARunningThreadReturnsZeroAndLeavesItRunning) {
  ASSERT_EQ(0, StartThreadRecord(&record_, ProbeFunction, &probe_));
  ASSERT_EQ(1, ResumeUntilSuspendedOnce(&record_));
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(probe_.running, 5000));

  EXPECT_EQ(0, ResumeThreadRecord(&record_));
  EXPECT_EQ(0, ResumeThreadRecord(&record_));
  // Still running, not suspended: it finishes once released.
  SetEvent(probe_.release);
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(record_.thread, 5000));
  EXPECT_EQ(1, probe_.calls);
}

TEST_F(ThreadRecordTest, PriorityLevels) {
  ASSERT_EQ(0, StartThreadRecord(&record_, ProbeFunction, &probe_));
  ASSERT_TRUE(WaitUntilSelfSuspended(record_));

  struct Level {
    int level;
    int priority;
  };
  const Level levels[] = {{0, THREAD_PRIORITY_LOWEST},
                          {1, THREAD_PRIORITY_BELOW_NORMAL},
                          {2, THREAD_PRIORITY_NORMAL},
                          {3, THREAD_PRIORITY_HIGHEST}};
  for (const Level& l : levels) {
    EXPECT_NE(0, SetThreadRecordPriority(&record_, l.level)) << l.level;
    EXPECT_EQ(l.priority, GetThreadPriority(record_.thread)) << l.level;
  }

  // Out-of-range levels leave the priority as it is.
  SetThreadRecordPriority(&record_, 1);
  for (int level : {4, 5, -1, 100}) {
    SetThreadRecordPriority(&record_, level);
    EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, GetThreadPriority(record_.thread)) << level;
  }
}

TEST_F(ThreadRecordTest, CloseClearsTheHandle) {
  ASSERT_EQ(0, StartThreadRecord(&record_, ProbeFunction, &probe_));
  const DWORD id = GetThreadRecordId(&record_);
  EXPECT_NE(0u, id);
  SetEvent(probe_.release);
  ASSERT_EQ(1, ResumeUntilSuspendedOnce(&record_));
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(record_.thread, 5000));

  CloseThreadRecord(&record_);
  EXPECT_EQ(0, IsThreadRecordValid(&record_));
  EXPECT_EQ(nullptr, record_.thread);
  EXPECT_EQ(id, GetThreadRecordId(&record_));
  CloseThreadRecord(&record_);  // a second close is harmless
  EXPECT_EQ(0, IsThreadRecordValid(&record_));
}

TEST(ThreadRecordEmpty, CallsOnARecordWithoutThreadAreHarmless) {
  ThreadRecord record;
  memset(&record, 0, sizeof(record));
  EXPECT_EQ(0, IsThreadRecordValid(&record));
  // A failed resume reads as "was suspended" so callers do not spin.
  EXPECT_EQ(1, ResumeThreadRecord(&record));
  EXPECT_EQ(0, SetThreadRecordPriority(&record, 2));
  CloseThreadRecord(&record);
}

TEST(SleepThread, WaitsAndNegativeTimeDoesNotHang) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  SleepThread(30);
  QueryPerformanceCounter(&end);
  EXPECT_GE((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart, 20);

  QueryPerformanceCounter(&start);
  SleepThread(-1);
  SleepThread(0);
  QueryPerformanceCounter(&end);
  EXPECT_LT((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart, 1000);
}

}  // namespace
