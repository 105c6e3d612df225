// Asynchronous loading: a job taken out of the queue while a worker runs it
// stays the worker's until its function returns.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>

#include "DiDAridIrer.h"
#include "ZiDezaru.h"

namespace {

const int kMagic = 0x5A17C0DE;

struct RemovalProbe {
  HANDLE release = nullptr;
  std::atomic<int> started{0};
  std::atomic<int> paramsIntact{-1};
  std::atomic<int> laterRan{0};
};
RemovalProbe* Probe = nullptr;

// Blocks until released, then reads its parameters again.
int BlockingJob(ASyncJob* job) {
  Probe->started = 1;
  WaitForSingleObject(Probe->release, 20000);
  int offset = 0;
  Probe->paramsIntact = UnpackASyncInt(job->params, &offset) == kMagic ? 1 : 0;
  return 0;
}

int LaterJob(ASyncJob*) {
  Probe->laterRan++;
  return 0;
}

ASyncJob* MakeMagicJob(ASyncJobFunction function) {
  int size = 0;
  PackASyncInt(nullptr, &size, kMagic);
  ASyncJob* job = AllocASyncJob(size);
  if (job == nullptr) return nullptr;
  job->function = function;
  int offset = 0;
  PackASyncInt(job->params, &offset, kMagic);
  return job;
}

bool WaitFor(const std::atomic<int>& value, int wanted, int milliseconds) {
  const DWORD start = GetTickCount();
  while (value.load() != wanted) {
    if (GetTickCount() - start > static_cast<DWORD>(milliseconds)) return false;
    Sleep(1);
  }
  return true;
}

TEST(ASyncRunningJobRemovalTest, ARunningJobTakenOutOfTheQueueIsFreedByItsWorkerOnly) {
  const int allocCount = GetAllocCount();
  RemovalProbe probe;
  probe.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Probe = &probe;
  ASSERT_EQ(0, InitASyncLoad(GetCurrentThreadId()));
  ASSERT_EQ(0, StartASyncLoadThreads(2));  // running limit 1

  for (int round = 0; round < 20; round++) {
    probe.started = 0;
    probe.paramsIntact = -1;
    probe.laterRan = 0;
    ResetEvent(probe.release);

    ASyncJob* running = MakeMagicJob(BlockingJob);
    ASSERT_NE(nullptr, running);
    ASSERT_EQ(0, AddASyncJob(running));
    ASSERT_EQ(0, running->slot);
    ASSERT_TRUE(WaitFor(probe.started, 1, 10000));

    // Not refused: the job leaves the queue at once, its slot is free.
    EXPECT_EQ(0, RemoveASyncJob(0, 0));
    EXPECT_EQ(nullptr, ASyncLoad.jobs[0]);
    EXPECT_EQ(0, GetASyncJobCount());
    EXPECT_EQ(0, ASyncLoad.jobHighWater);
    EXPECT_EQ(-1, RemoveASyncJob(0, 0));

    // A new job takes the freed slot; it must not be mistaken for the old one.
    ASyncJob* later = MakeMagicJob(LaterJob);
    ASSERT_NE(nullptr, later);
    ASSERT_EQ(0, AddASyncJob(later));
    ASSERT_EQ(0, later->slot);

    SetEvent(probe.release);
    ASSERT_TRUE(WaitFor(probe.laterRan, 1, 10000)) << "round " << round;
    EXPECT_EQ(1, probe.paramsIntact.load()) << "round " << round;
    const DWORD start = GetTickCount();
    while (GetASyncJobCount() != 0 && GetTickCount() - start < 10000) Sleep(1);
    EXPECT_EQ(0, GetASyncJobCount());
  }

  ASSERT_EQ(0, StopASyncLoadThreads());
  ASSERT_EQ(0, EndASyncLoad());
  Probe = nullptr;
  CloseHandle(probe.release);
  EXPECT_EQ(allocCount, GetAllocCount()) << "blocks left behind";
}

}  // namespace
