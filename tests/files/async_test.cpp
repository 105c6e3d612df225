// Asynchronous loading: parameter packing, the job queue and its slots, the
// workers' choice of jobs and running limit, main-thread requests, and the
// waits that depend on them (handle deletion, file-handle opening, COM
// creation for a worker).
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DaDode.h"
#include "DiDAridIrer.h"
#include "LogCapture.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "TestFiles.h"
#include "VeRavoro.h"
#include "ZiDezaru.h"

namespace {

using test_support::LogCapture;
using test_support::NewTempFolder;
using test_support::RemoveTree;
using test_support::SharedTempFolder;
using test_support::WriteFileBytes;

// ---------------------------------------------------------------------------
// Helpers

// Polls until `done` holds or `milliseconds` pass; serves main-thread
// requests meanwhile when asked to.
bool WaitUntil(const std::function<bool()>& done, int milliseconds = 10000, bool serve = false) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > static_cast<DWORD>(milliseconds)) return false;
    if (serve) ServeMainThreadRequests();
    Sleep(1);
  }
  return true;
}

// Millisecond clock under the test's control.
std::atomic<int> FakeNow{1000};
int FakeClock(int) { return FakeNow.load(); }

// A job that runs a test-owned body; the body's address travels as the
// packed parameter.
struct Task {
  std::function<void()> body;
};

int RunTask(ASyncJob* job) {
  int offset = 0;
  Task* task = reinterpret_cast<Task*>(static_cast<intptr_t>(UnpackASyncInt(job->params, &offset)));
  task->body();
  return 0;
}

// A manual-reset event.
class Gate {
 public:
  Gate() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Gate() { CloseHandle(event_); }
  void Open() { SetEvent(event_); }
  void Wait() { WaitForSingleObject(event_, 20000); }

 private:
  HANDLE event_;
};

// Counts the jobs running at once.
struct Concurrency {
  std::atomic<int> now{0};
  std::atomic<int> most{0};
  void Enter() {
    const int n = ++now;
    int seen = most.load();
    while (n > seen && !most.compare_exchange_weak(seen, n)) {
    }
  }
  void Leave() { --now; }
};

// Main-thread request with one argument (params[0]).
struct RequestProbe {
  static int Function(MainThreadRequest* request);
  static std::function<int(int)> handler;
};
std::function<int(int)> RequestProbe::handler;
int RequestProbe::Function(MainThreadRequest* request) { return handler(static_cast<int>(request->params[0])); }

int PostValue(int value) {
  MainThreadRequest request = {};
  request.function = RequestProbe::Function;
  request.params[0] = static_cast<uintptr_t>(value);
  return PostMainThreadRequest(&request);
}

// Loading set up with this thread as the main thread, a log without
// stamps, and the real clock unless a test sets the fake one. The workers,
// if a test starts them, are stopped and every job freed at the end. The
// log folder is one per run, shared with the child processes of the death
// tests.
class ASyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    allocCount_ = GetAllocCount();
    ASSERT_EQ(0, InitASyncLoad(GetCurrentThreadId()));
  }
  void TearDown() override {
    EXPECT_EQ(0, EndASyncLoad());
    ASyncLoadTimeSource = GetMillisecondCount;
    RequestProbe::handler = nullptr;
    tasks_.clear();
    EXPECT_EQ(allocCount_, GetAllocCount()) << "blocks left behind";
  }

  // Makes a job for `body`; the test keeps the body alive.
  ASyncJob* MakeJob(std::function<void()> body) {
    tasks_.push_back(std::unique_ptr<Task>(new Task{std::move(body)}));
    int size = 0;
    PackASyncInt(nullptr, &size, 0);
    ASyncJob* job = AllocASyncJob(size);
    if (job == nullptr) return nullptr;
    job->function = RunTask;
    int offset = 0;
    PackASyncInt(job->params, &offset, static_cast<int>(reinterpret_cast<intptr_t>(tasks_.back().get())));
    return job;
  }
  int Queue(std::function<void()> body) {
    ASyncJob* job = MakeJob(std::move(body));
    if (job == nullptr || AddASyncJob(job) != 0) return -1;
    return job->slot;
  }
  int BusyWorkers() const {
    int busy = 0;
    for (const ASyncWorker& worker : ASyncLoad.workers) busy += worker.busy && !worker.sleeping ? 1 : 0;
    return busy;
  }
  std::string LogText() const { return log_.Text(); }

  std::deque<std::unique_ptr<Task>> tasks_;
  LogCapture log_{SharedTempFolder("RIDOV_ASYNC_TEST_FOLDER", "async")};
  int allocCount_ = 0;
};

// ---------------------------------------------------------------------------
// Packing

TEST(ASyncPackTest, MeasureThenWriteThenReadBackInOrder) {
  const unsigned char block[5] = {1, 2, 0, 0xFF, 9};
  auto pack = [&](unsigned char* area, int* offset) {
    EXPECT_EQ(0, PackASyncInt(area, offset, -123456789));
    EXPECT_EQ(0, PackASyncString(area, offset, "img\\player\\thiko.png"));
    EXPECT_EQ(0, PackASyncData(area, offset, block, 5));
    EXPECT_EQ(0, PackASyncString(area, offset, nullptr));
    EXPECT_EQ(0, PackASyncString(area, offset, ""));
    EXPECT_EQ(0, PackASyncData(area, offset, nullptr, 0));
    EXPECT_EQ(0, PackASyncInt(area, offset, 7));
  };
  int size = 0;
  pack(nullptr, &size);
  // int 4; text 2 + 21; block 2 + 5; null text 2; empty text 2 + 1; empty block 2; int 4.
  EXPECT_EQ(4 + 23 + 7 + 2 + 3 + 2 + 4, size);

  std::vector<unsigned char> area(size + 1, 0xCC);
  int written = 0;
  pack(area.data(), &written);
  EXPECT_EQ(size, written);
  EXPECT_EQ(0xCC, area[size]);  // nothing beyond the measured size
  // The null text is the length word 2 alone; a text's word counts its NUL and itself.
  EXPECT_EQ(23, area[4] | area[5] << 8);
  EXPECT_EQ(2, area[34] | area[35] << 8);

  int offset = 0;
  EXPECT_EQ(-123456789, UnpackASyncInt(area.data(), &offset));
  EXPECT_STREQ("img\\player\\thiko.png", UnpackASyncString(area.data(), &offset));
  int blockSize = -1;
  const void* data = UnpackASyncData(area.data(), &offset, &blockSize);
  ASSERT_EQ(5, blockSize);
  EXPECT_EQ(0, memcmp(block, data, 5));
  EXPECT_EQ(nullptr, UnpackASyncString(area.data(), &offset));
  const char* empty = UnpackASyncString(area.data(), &offset);
  ASSERT_NE(nullptr, empty);
  EXPECT_STREQ("", empty);
  UnpackASyncData(area.data(), &offset, &blockSize);
  EXPECT_EQ(0, blockSize);
  EXPECT_EQ(7, UnpackASyncInt(area.data(), &offset));
  EXPECT_EQ(size, offset);
}

TEST(ASyncPackTest, OversizeBlocksAreRefusedWithoutMovingTheOffset) {
  std::string longText(65533, 'x');
  int offset = 10;
  EXPECT_EQ(-1, PackASyncString(nullptr, &offset, longText.c_str()));
  EXPECT_EQ(-1, PackASyncData(nullptr, &offset, longText.data(), 65534));
  EXPECT_EQ(-1, PackASyncData(nullptr, &offset, longText.data(), -1));
  EXPECT_EQ(10, offset);
  // The largest that fit.
  EXPECT_EQ(0, PackASyncString(nullptr, &offset, longText.c_str() + 1));
  EXPECT_EQ(10 + 65535, offset);
  offset = 0;
  EXPECT_EQ(0, PackASyncData(nullptr, &offset, longText.data(), 65533));
  EXPECT_EQ(65535, offset);
}

// ---------------------------------------------------------------------------
// Set-up and the queue

TEST_F(ASyncTest, SetUpOnceAndEndOnce) {
  EXPECT_EQ(-1, InitASyncLoad(GetCurrentThreadId()));
  EXPECT_EQ(1, IsMainThread());
  int other = -1;
  std::thread([&] { other = IsMainThread(); }).join();
  EXPECT_EQ(0, other);
  EXPECT_EQ(0, EndASyncLoad());
  EXPECT_EQ(-1, EndASyncLoad());
  EXPECT_EQ(0, IsMainThread());
  EXPECT_EQ(-1, ServeMainThreadRequests());
  EXPECT_EQ(-1, RemoveASyncJob(0, 1));
  EXPECT_EQ(-1, StartASyncLoadThreads(4));
  ASSERT_EQ(0, InitASyncLoad(GetCurrentThreadId()));
}

TEST_F(ASyncTest, ServingOffTheMainThreadIsRefused) {
  int result = 0;
  std::thread([&] { result = ServeMainThreadRequests(); }).join();
  EXPECT_EQ(-1, result);
  EXPECT_EQ(0, ServeMainThreadRequests());
}

TEST_F(ASyncTest, RunningLimitIsProcessorsLessOneAndAtLeastOne) {
  const int cases[][2] = {{0, 1}, {1, 1}, {2, 1}, {4, 3}, {8, 7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    ASSERT_EQ(0, StartASyncLoadThreads(c[0]));
    EXPECT_EQ(c[1], ASyncLoad.runningLimit);
    EXPECT_EQ(0, ASyncLoad.runningCount);
    for (const ASyncWorker& worker : ASyncLoad.workers) {
      EXPECT_TRUE(IsThreadRecordValid(&worker.thread));
      EXPECT_EQ(1, worker.sleeping);
    }
    EXPECT_EQ(-1, StartASyncLoadThreads(c[0]));  // already running
    ASSERT_EQ(0, StopASyncLoadThreads());
    for (const ASyncWorker& worker : ASyncLoad.workers) {
      EXPECT_FALSE(IsThreadRecordValid(&worker.thread));
      EXPECT_EQ(1, worker.ended);
    }
    EXPECT_EQ(0, ASyncLoad.runningCount);
  }
}

TEST_F(ASyncTest, JobOrderIsEarliestQueueTimeThenHigherSlot) {
  ASyncLoadTimeSource = FakeClock;
  ASSERT_EQ(0, StartASyncLoadThreads(2));  // running limit 1
  Gate release;
  Concurrency running;
  std::mutex mutex;
  std::vector<char> order;
  auto record = [&](char name) {
    return [&, name] {
      running.Enter();
      {
        std::lock_guard<std::mutex> hold(mutex);
        order.push_back(name);
      }
      running.Leave();
    };
  };

  FakeNow = 500;
  ASSERT_EQ(0, Queue([&] {
              running.Enter();
              release.Wait();
              running.Leave();
            }));
  ASSERT_TRUE(WaitUntil([&] { return running.now == 1; }));

  // Queued while the only running worker is blocked: none of these starts.
  const struct {
    char name;
    int time;
  } jobs[] = {{'a', 50}, {'b', 30}, {'c', 30}, {'d', 70}, {'e', 30}, {'f', -5}};
  for (const auto& job : jobs) {
    FakeNow = job.time;
    ASSERT_GT(Queue(record(job.name)), 0);
  }
  Sleep(50);
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(1, ASyncLoad.runningCount);

  release.Open();
  ASSERT_TRUE(WaitUntil([&] { return GetASyncJobCount() == 0; }));
  // Signed times: -5 is the earliest; the three at 30 run from the highest slot down.
  EXPECT_EQ((std::vector<char>{'f', 'e', 'c', 'b', 'a', 'd'}), order);
  EXPECT_EQ(1, running.most);
}

TEST_F(ASyncTest, RemovingAWaitingJobFreesItAndItNeverRuns) {
  ASSERT_EQ(0, StartASyncLoadThreads(1));
  Gate release;
  std::atomic<int> ran{0};
  const int blocker = Queue([&] { release.Wait(); });
  ASSERT_EQ(0, blocker);
  ASSERT_TRUE(WaitUntil([&] { return ASyncLoad.jobs[blocker]->running == 1; }));

  const int allocated = GetAllocCount();
  const int waiting = Queue([&] { ran++; });
  ASSERT_EQ(1, waiting);
  EXPECT_EQ(allocated + 1, GetAllocCount());
  EXPECT_EQ(2, GetASyncJobCount());

  EXPECT_EQ(0, RemoveASyncJob(waiting, 1));
  EXPECT_EQ(nullptr, ASyncLoad.jobs[waiting]);
  EXPECT_EQ(1, GetASyncJobCount());
  EXPECT_EQ(allocated, GetAllocCount());
  EXPECT_EQ(1, ASyncLoad.jobHighWater);  // lowered past the freed top slot

  // The running job is refused and stays; empty and outside slots are no job.
  EXPECT_EQ(-2, RemoveASyncJob(blocker, 1));
  ASSERT_NE(nullptr, ASyncLoad.jobs[blocker]);
  EXPECT_EQ(1, ASyncLoad.jobs[blocker]->running);
  EXPECT_EQ(-1, RemoveASyncJob(waiting, 1));
  EXPECT_EQ(-1, RemoveASyncJob(-1, 0));
  EXPECT_EQ(-1, RemoveASyncJob(ASYNC_JOB_MAX, 0));

  release.Open();
  ASSERT_TRUE(WaitUntil([&] { return GetASyncJobCount() == 0; }));
  Sleep(20);
  EXPECT_EQ(0, ran);
  EXPECT_EQ(0, ASyncLoad.jobHighWater);
}

TEST_F(ASyncTest, AfterTheHighWaterReachesTheEndNewJobsTakeTheLowestFreeSlot) {
  // No workers: the jobs stay queued.
  for (int i = 0; i < ASYNC_JOB_MAX; i++) {
    ASyncJob* job = AllocASyncJob(0);
    ASSERT_NE(nullptr, job);
    ASSERT_EQ(0, AddASyncJob(job));
    ASSERT_EQ(i, job->slot);
  }
  EXPECT_EQ(ASYNC_JOB_MAX, ASyncLoad.jobHighWater);
  EXPECT_EQ(ASYNC_JOB_MAX, GetASyncJobCount());

  ASSERT_EQ(0, RemoveASyncJob(300, 1));
  ASSERT_EQ(0, RemoveASyncJob(7, 1));
  EXPECT_EQ(ASYNC_JOB_MAX, ASyncLoad.jobHighWater);  // not the top slot
  for (int expected : {7, 300}) {
    ASyncJob* job = AllocASyncJob(0);
    ASSERT_EQ(0, AddASyncJob(job));
    EXPECT_EQ(expected, job->slot);
  }

  // Freeing the top slots lowers the index; the next job takes it again from there.
  ASSERT_EQ(0, RemoveASyncJob(ASYNC_JOB_MAX - 2, 1));
  EXPECT_EQ(ASYNC_JOB_MAX, ASyncLoad.jobHighWater);
  ASSERT_EQ(0, RemoveASyncJob(ASYNC_JOB_MAX - 1, 1));
  EXPECT_EQ(ASYNC_JOB_MAX - 2, ASyncLoad.jobHighWater);
  ASyncJob* job = AllocASyncJob(0);
  ASSERT_EQ(0, AddASyncJob(job));
  EXPECT_EQ(ASYNC_JOB_MAX - 2, job->slot);
  EXPECT_EQ(ASYNC_JOB_MAX - 1, ASyncLoad.jobHighWater);

  for (int i = ASYNC_JOB_MAX - 1; i >= 0; i--) RemoveASyncJob(i, 1);
  EXPECT_EQ(0, GetASyncJobCount());
  EXPECT_EQ(0, ASyncLoad.jobHighWater);
}

TEST_F(ASyncTest, AJobThatCannotBeAllocatedIsLogged) {
  const int paramSize = 0x7FFF0000;
  EXPECT_EQ(nullptr, AllocASyncJob(paramSize));
  char line[128];
  snprintf(line, sizeof(line), "非同期読み込みデータを格納するメモリ領域 %dByte の確保に失敗しました\r\n",
           static_cast<int>(offsetof(ASyncJob, params)) + paramSize);
  EXPECT_NE(std::string::npos, LogText().find(line)) << LogText();
  // A small job has the record's fields and at least the parameter bytes, zeroed.
  ASyncJob* job = AllocASyncJob(6);
  ASSERT_NE(nullptr, job);
  EXPECT_EQ(-1, job->slot);
  EXPECT_EQ(nullptr, job->function);
  for (int i = 0; i < 6; i++) EXPECT_EQ(0, job->params[i]);
  MemFree(job);
}

TEST_F(ASyncTest, AFullQueueEndsTheProcess) {
  EXPECT_EXIT(
      {
        StartLog();
        for (int i = 0; i <= ASYNC_JOB_MAX; i++) AddASyncJob(AllocASyncJob(0));
        exit(0);
      },
      ::testing::ExitedWithCode(-1), "");
  EXPECT_EQ("非同期読み込みデータの数が許容量を越えました終了します\r\n", LogText());
}

TEST_F(ASyncTest, AJobForAHandleIsCountedOnItBeforeItCanRun) {
  ASSERT_EQ(0, StartASyncLoadThreads(4));
  ASSERT_EQ(0, InitHandleType(29, sizeof(HandleRecordHeader), 64, ReturnZero, nullptr, "test"));
  for (int i = 0; i < 50; i++) {
    const int handle = CreateHandle(29, -1);
    ASSERT_GE(handle, 0);
    std::atomic<int> seen{-1};
    ASyncJob* job = MakeJob([&, handle] {
      seen = IsHandleASyncLoading(handle);
      SubHandleAsyncCount(handle);
    });
    ASSERT_EQ(0, AddASyncJobForHandle(job, handle));
    ASSERT_TRUE(WaitUntil([&] { return IsHandleASyncLoading(handle) == 0; }));
    EXPECT_EQ(1, seen);
    ASSERT_EQ(0, DeleteHandle(handle));
  }
  // An invalid handle: nothing is queued and the job is freed.
  EXPECT_EQ(-1, AddASyncJobForHandle(MakeJob([] {}), 0x12345678));
  ASSERT_TRUE(WaitUntil([&] { return GetASyncJobCount() == 0; }));
  EXPECT_EQ(0, TermHandleType(29));
}

// ---------------------------------------------------------------------------
// Running limit and waking

TEST_F(ASyncTest, TopUpKeepsOneLessThanTheLimitRunningAndJobsReachTheLimit) {
  Gate release;
  Concurrency running;
  auto blocking = [&] {
    running.Enter();
    release.Wait();
    running.Leave();
  };
  // Queued before the workers exist: nobody is woken.
  for (int i = 0; i < 5; i++) ASSERT_EQ(i, Queue(blocking));
  ASSERT_EQ(0, StartASyncLoadThreads(4));  // running limit 3
  Sleep(30);
  EXPECT_EQ(0, running.now);

  // A pump pass wakes workers up to limit - 1.
  ASSERT_EQ(0, ServeMainThreadRequests());
  ASSERT_TRUE(WaitUntil([&] { return running.now == 2; }));
  ServeMainThreadRequests();
  Sleep(30);
  EXPECT_EQ(2, running.now);
  EXPECT_EQ(2, ASyncLoad.runningCount);

  // A new job wakes one more, up to the limit, and no further.
  ASSERT_EQ(5, Queue(blocking));
  ASSERT_TRUE(WaitUntil([&] { return running.now == 3; }));
  ASSERT_EQ(6, Queue(blocking));
  Sleep(30);
  EXPECT_EQ(3, running.now);

  release.Open();
  ASSERT_TRUE(WaitUntil([&] { return GetASyncJobCount() == 0; }, 10000, true));
  EXPECT_EQ(3, running.most);
}

TEST_F(ASyncTest, WithOneProcessorOneJobRunsAtATime) {
  ASSERT_EQ(0, StartASyncLoadThreads(1));
  Concurrency running;
  for (int i = 0; i < 20; i++) {
    ASSERT_GE(Queue([&] {
                running.Enter();
                Sleep(2);
                running.Leave();
              }),
              0);
  }
  ASSERT_TRUE(WaitUntil([&] { return GetASyncJobCount() == 0; }, 10000, true));
  EXPECT_EQ(1, running.most);
}

// ---------------------------------------------------------------------------
// Main-thread requests

TEST_F(ASyncTest, RequestsAreServedInOrderAcrossPassesWithTheMainThreadsResults) {
  ASyncLoadTimeSource = FakeClock;
  FakeNow = 0;
  const DWORD mainThread = GetCurrentThreadId();
  std::vector<int> served;
  std::vector<int> passOf;
  int pass = 0;
  // Each request takes 1 ms of the fake clock; its value is made here.
  RequestProbe::handler = [&](int value) {
    EXPECT_EQ(mainThread, GetCurrentThreadId());
    served.push_back(value);
    passOf.push_back(pass);
    FakeNow += 1;
    return value * 7 + static_cast<int>(GetCurrentThreadId() & 0xFFFF);
  };
  const int expectedBase = static_cast<int>(mainThread & 0xFFFF);

  ASSERT_EQ(0, StartASyncLoadThreads(5));  // four at once
  std::atomic<int> results[4][3];
  for (auto& row : results)
    for (auto& value : row) value = 0;
  for (int j = 0; j < 4; j++) {
    ASSERT_GE(Queue([&, j] {
                for (int k = 0; k < 3; k++) results[j][k] = PostValue(j * 10 + k);
              }),
              0);
  }
  ASSERT_TRUE(WaitUntil([&] { return ASyncLoad.requestCount == 4; }));
  std::vector<int> posted;
  for (int i = 0; i < 4; i++) posted.push_back(static_cast<int>(ASyncLoad.requests[i]->params[0]));

  // Pass 1: requests at 0, 1 and 2 ms run; at 3 ms more than 2 ms have passed.
  pass = 1;
  ASSERT_EQ(0, ServeMainThreadRequests());
  ASSERT_EQ(3u, served.size());
  EXPECT_EQ(std::vector<int>(posted.begin(), posted.begin() + 3), served);
  // The fourth is now at the front, ahead of anything posted since.
  ASSERT_GE(ASyncLoad.requestCount, 1);
  EXPECT_EQ(posted[3], static_cast<int>(ASyncLoad.requests[0]->params[0]));
  pass = 2;
  ASSERT_EQ(0, ServeMainThreadRequests());
  ASSERT_GE(served.size(), 4u);
  EXPECT_EQ(posted[3], served[3]);
  EXPECT_EQ(2, passOf[3]);

  pass = 3;
  ASSERT_TRUE(WaitUntil([&] { return GetASyncJobCount() == 0; }, 10000, true));
  ASSERT_EQ(12u, served.size());
  for (int j = 0; j < 4; j++) {
    // Each worker's own requests were served in the order it posted them.
    std::vector<int> mine;
    for (int value : served)
      if (value / 10 == j) mine.push_back(value);
    EXPECT_EQ((std::vector<int>{j * 10, j * 10 + 1, j * 10 + 2}), mine);
    for (int k = 0; k < 3; k++) EXPECT_EQ((j * 10 + k) * 7 + expectedBase, results[j][k]) << j << k;
  }
}

TEST_F(ASyncTest, AServedWorkerResumesBeforeIdleOnesWhenASlotFrees) {
  ASSERT_EQ(0, StartASyncLoadThreads(1));  // running limit 1
  RequestProbe::handler = [](int value) { return value + 1; };
  Gate release;
  std::atomic<int> result{0};
  std::atomic<int> otherRunning{0};
  ASSERT_EQ(0, Queue([&] { result = PostValue(41); }));
  ASSERT_TRUE(WaitUntil([&] { return ASyncLoad.requestCount == 1; }));
  // Another job takes the free place while the first waits for the main thread.
  ASSERT_EQ(1, Queue([&] {
              otherRunning = 1;
              release.Wait();
            }));
  ASSERT_TRUE(WaitUntil([&] { return otherRunning == 1; }));

  // Served, but the limit is reached: its worker stays asleep for now.
  ASSERT_EQ(0, ServeMainThreadRequests());
  Sleep(30);
  EXPECT_EQ(0, result);
  // The other job ends; its worker hands its place to the served one
  // (no further pump pass is needed).
  release.Open();
  ASSERT_TRUE(WaitUntil([&] { return result == 42; }));
  ASSERT_TRUE(WaitUntil([&] { return GetASyncJobCount() == 0; }));
}

TEST_F(ASyncTest, ARequestFromAThreadThatIsNoWorkerEndsTheProcess) {
  EXPECT_EXIT(
      {
        StartLog();
        PostValue(1);
        exit(0);
      },
      ::testing::ExitedWithCode(-1), "");
  EXPECT_EQ("非同期読み込みスレッド以外からメインスレッドへの処理依頼が行われました\r\n", LogText());
}

TEST_F(ASyncTest, StoppingServesTheWorkersThatWaitForTheMainThread) {
  ASSERT_EQ(0, StartASyncLoadThreads(3));
  RequestProbe::handler = [](int value) { return value; };
  std::atomic<int> sum{0};
  for (int j = 0; j < 2; j++) ASSERT_GE(Queue([&, j] { sum += PostValue(j + 1); }), 0);
  ASSERT_TRUE(WaitUntil([&] { return ASyncLoad.requestCount == 2; }));
  ASSERT_EQ(0, StopASyncLoadThreads());
  EXPECT_EQ(3, sum);
  for (const ASyncWorker& worker : ASyncLoad.workers) EXPECT_EQ(1, worker.ended);
}

// ---------------------------------------------------------------------------
// Waits of the handle manager, file handles and COM creation

// Aborts the run when a wait never ends, instead of hanging until the
// harness's time-out.
class Watchdog {
 public:
  explicit Watchdog(DWORD milliseconds) : done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = std::thread([this, milliseconds] {
      if (WaitForSingleObject(done_, milliseconds) == WAIT_TIMEOUT) {
        fprintf(stderr, "deadlock: the test did not finish in %lu ms\n", milliseconds);
        fflush(stderr);
        ExitProcess(3);
      }
    });
  }
  ~Watchdog() {
    SetEvent(done_);
    thread_.join();
    CloseHandle(done_);
  }

 private:
  HANDLE done_;
  std::thread thread_;
};

TEST_F(ASyncTest, DeletingAHandleWhoseJobPostsRequestsCompletes) {
  const int kType = 29;
  ASSERT_EQ(0, InitHandleType(kType, sizeof(HandleRecordHeader), 1024, ReturnZero, nullptr, "test"));
  ASSERT_EQ(0, StartASyncLoadThreads(3));  // two at once: the loading job and the churn
  Watchdog watchdog(60000);

  // Request functions take the type lock, while a second job deletes
  // handles with a pending count, which holds the type lock as it asks the
  // queue for their job.
  RequestProbe::handler = [&](int value) {
    ENTER_LOCK(&HandleManagers[kType].lock);
    const int made = value * 3;
    LeaveLock(&HandleManagers[kType].lock);
    return made;
  };
  std::atomic<bool> stopChurn{false};
  std::atomic<int> churned{0};
  struct StopOnExit {
    std::atomic<bool>* flag;
    ~StopOnExit() { *flag = true; }
  } stopOnExit{&stopChurn};
  ASSERT_EQ(0, Queue([&] {
              while (!stopChurn) {
                const int other = CreateHandle(kType, -1);
                if (other < 0) continue;
                AddHandleAsyncCount(other, ASYNC_JOB_MAX - 1);  // a slot no job takes here
                DeleteHandle(other);
                churned++;
              }
            }));
  ASSERT_TRUE(WaitUntil([&] { return churned > 0; }));

  for (int i = 0; i < 200; i++) {
    const int handle = CreateHandle(kType, -1);
    ASSERT_GE(handle, 0);
    std::atomic<int> bad{0};
    std::atomic<int> finished{0};
    ASyncJob* job = MakeJob([&, handle, i] {
      for (int k = 0; k < 3; k++)
        if (PostValue(i * 4 + k) != (i * 4 + k) * 3) bad++;
      finished = 1;
      SubHandleAsyncCount(handle);
    });
    ASSERT_EQ(0, AddASyncJobForHandle(job, handle));
    // The job runs and waits for the main thread; nobody has served it yet.
    ASSERT_TRUE(WaitUntil([&] { return ASyncLoad.requestCount >= 1; })) << i;
    ASSERT_EQ(0, DeleteHandle(handle)) << i;
    EXPECT_EQ(1, finished) << i;
    EXPECT_EQ(0, bad) << i;
    EXPECT_EQ(nullptr, GetHandleRecord(handle));
  }
  stopChurn = true;
  ASSERT_TRUE(WaitUntil([&] { return GetASyncJobCount() == 0; }, 10000, true));
  EXPECT_EQ(0, HandleManagers[kType].count);
  EXPECT_EQ(0, TermHandleType(kType));
}

TEST_F(ASyncTest, DeletingAHandleWhoseJobWaitsRemovesTheJobWithoutWaiting) {
  const int kType = 29;
  ASSERT_EQ(0, InitHandleType(kType, sizeof(HandleRecordHeader), 64, ReturnZero, nullptr, "test"));
  ASSERT_EQ(0, StartASyncLoadThreads(1));
  Gate release;
  ASSERT_EQ(0, Queue([&] { release.Wait(); }));
  ASSERT_TRUE(WaitUntil([&] { return ASyncLoad.runningCount == 1 && BusyWorkers() == 1; }));

  std::atomic<int> ran{0};
  const int handle = CreateHandle(kType, -1);
  ASSERT_EQ(0, AddASyncJobForHandle(MakeJob([&] { ran++; }), handle));
  EXPECT_EQ(2, GetASyncJobCount());
  ASSERT_EQ(0, DeleteHandle(handle));
  EXPECT_EQ(1, GetASyncJobCount());
  release.Open();
  ASSERT_TRUE(WaitUntil([&] { return GetASyncJobCount() == 0; }));
  EXPECT_EQ(0, ran);
  EXPECT_EQ(0, TermHandleType(kType));
}

TEST_F(ASyncTest, DeletingAHandleLeavesAnotherHandlesJobInItsOldSlot) {
  // A record keeps only the slot of its last job; once that job is done the
  // slot can hold another handle's job, which the deletion must not take.
  const int kType = 29;
  ASSERT_EQ(0, InitHandleType(kType, sizeof(HandleRecordHeader), 64, ReturnZero, nullptr, "test"));
  std::atomic<int> ran{0};
  const int first = CreateHandle(kType, -1);
  const int second = CreateHandle(kType, -1);
  ASSERT_EQ(0, AddASyncJobForHandle(MakeJob([&] { ran++; }), first));
  ASSERT_EQ(0, AddASyncJobForHandle(MakeJob([&] { ran++; }), first));
  ASSERT_EQ(1, GetHandleRecord(first)->asyncJobIndex);
  // The later job finishes: its slot frees and the count drops.
  ASSERT_EQ(0, RemoveASyncJob(1, 1));
  ASSERT_EQ(0, SubHandleAsyncCount(first));
  ASSERT_EQ(0, AddASyncJobForHandle(MakeJob([&] { ran++; }), second));
  ASSERT_NE(nullptr, ASyncLoad.jobs[1]);
  ASSERT_EQ(second, ASyncLoad.jobs[1]->handle);

  EXPECT_EQ(-1, RemoveASyncJobOfHandle(1, first, 1));
  ASSERT_EQ(0, DeleteHandle(first));
  ASSERT_NE(nullptr, ASyncLoad.jobs[1]);
  EXPECT_EQ(second, ASyncLoad.jobs[1]->handle);
  EXPECT_EQ(1, IsHandleASyncLoading(second));
  EXPECT_EQ(0, RemoveASyncJobOfHandle(1, second, 1));
  EXPECT_EQ(0, ran);
  ASSERT_EQ(0, SubHandleAsyncCount(second));
  EXPECT_EQ(0, TermHandleType(kType));
}

class ASyncFileTest : public ASyncTest {
 protected:
  void SetUp() override {
    ASyncTest::SetUp();
    SetupFileStreamFunctions(nullptr);
    dir_ = NewTempFolder("asyncfile");
  }
  void TearDown() override {
    TerminateFileHandles();
    RemoveTree(dir_);
    ASyncTest::TearDown();
  }
  std::string PathOf(const char* name) const { return dir_ + "\\" + name; }
  void Write(const char* name, const char* bytes) {
    WriteFileBytes(PathOf(name), std::vector<unsigned char>(bytes, bytes + strlen(bytes)));
  }
  std::string dir_;
};

TEST_F(ASyncFileTest, OpenRunsAsAJobAndTheHandleReadsAfterIt) {
  Write("data.csv", "xy");
  ASSERT_EQ(0, StartASyncLoadThreads(2));
  const int handle = OpenReadFileCore(PathOf("data.csv").c_str(), 0, 1);
  ASSERT_GT(handle, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsHandleASyncLoading(handle) == 0; }, 10000, true));
  EXPECT_EQ('x', ReadFileChar(handle));
  EXPECT_EQ('y', ReadFileChar(handle));
  EXPECT_EQ(-1, ReadFileChar(handle));
  EXPECT_EQ(0, CloseReadFile(handle));
}

TEST_F(ASyncFileTest, AFailedOpenTakesItsHandleAway) {
  ASSERT_EQ(0, StartASyncLoadThreads(2));
  const int handle = OpenReadFileCore(PathOf("missing.csv").c_str(), 0, 1);
  ASSERT_GT(handle, 0);
  ASSERT_TRUE(WaitUntil([&] { return GetHandleRecord(handle) == nullptr; }, 10000, true));
  EXPECT_TRUE(WaitUntil([&] { return GetASyncJobCount() == 0; }));
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_FILE].count);
}

TEST_F(ASyncFileTest, ClosingBeforeTheJobRanRemovesIt) {
  Write("data.csv", "z");
  // No workers: the job waits in the queue.
  const int handle = OpenReadFileCore(PathOf("data.csv").c_str(), 0, 1);
  ASSERT_GT(handle, 0);
  EXPECT_EQ(1, GetASyncJobCount());
  EXPECT_EQ(0, ReadFileChar(handle));  // refused while pending
  EXPECT_EQ(0, CloseReadFile(handle));
  EXPECT_EQ(0, GetASyncJobCount());
  EXPECT_EQ(nullptr, GetHandleRecord(handle));
}

// COM creation double: records where and with what it ran.
struct ComProbe {
  static DWORD thread;
  static CLSID classId;
  static IUnknown* outer;
  static DWORD context;
  static IID interfaceId;
  static void** object;
  static HRESULT WINAPI Create(REFCLSID classId, IUnknown* outer, DWORD context, REFIID interfaceId, void** object) {
    ComProbe::thread = GetCurrentThreadId();
    ComProbe::classId = classId;
    ComProbe::outer = outer;
    ComProbe::context = context;
    ComProbe::interfaceId = interfaceId;
    ComProbe::object = object;
    *object = reinterpret_cast<void*>(0x5678);
    return 0x00012345;
  }
};
DWORD ComProbe::thread;
CLSID ComProbe::classId;
IUnknown* ComProbe::outer;
DWORD ComProbe::context;
IID ComProbe::interfaceId;
void** ComProbe::object;

TEST_F(ASyncTest, ComCreationForTheMainThreadIsPostedFromAWorker) {
  struct Restore {
    decltype(SystemLibs.CoCreateInstanceFunc) saved = SystemLibs.CoCreateInstanceFunc;
    ~Restore() { SystemLibs.CoCreateInstanceFunc = saved; }
  } restore;
  SystemLibs.CoCreateInstanceFunc = ComProbe::Create;
  ASSERT_EQ(0, StartASyncLoadThreads(2));
  const CLSID classId = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
  const IID interfaceId = {0x99aabbcc, 0xddee, 0xff00, {8, 7, 6, 5, 4, 3, 2, 1}};
  IUnknown* outer = reinterpret_cast<IUnknown*>(0x1234);
  const DWORD kInProcServer = 1;

  for (int onMainThread = 0; onMainThread < 2; onMainThread++) {
    SCOPED_TRACE(onMainThread);
    ComProbe::thread = 0;
    void* object = nullptr;
    std::atomic<long> result{0};
    std::atomic<DWORD> worker{0};
    ASSERT_GE(Queue([&] {
                worker = GetCurrentThreadId();
                result = CreateComInstance(classId, outer, kInProcServer, interfaceId, &object, onMainThread);
              }),
              0);
    ASSERT_TRUE(WaitUntil([&] { return GetASyncJobCount() == 0; }, 10000, true));
    EXPECT_EQ(0x00012345, result);
    EXPECT_EQ(onMainThread ? GetCurrentThreadId() : worker.load(), ComProbe::thread);
    EXPECT_EQ(0, memcmp(&classId, &ComProbe::classId, sizeof(classId)));
    EXPECT_EQ(0, memcmp(&interfaceId, &ComProbe::interfaceId, sizeof(interfaceId)));
    EXPECT_EQ(outer, ComProbe::outer);
    EXPECT_EQ(kInProcServer, ComProbe::context);
    EXPECT_EQ(&object, ComProbe::object);
    EXPECT_EQ(reinterpret_cast<void*>(0x5678), object);
  }
  // Outside a worker the creation runs at once, on the calling thread.
  void* object = nullptr;
  ComProbe::thread = 0;
  EXPECT_EQ(0x00012345, CreateComInstance(classId, outer, 0, interfaceId, &object, 1));
  EXPECT_EQ(GetCurrentThreadId(), ComProbe::thread);
}

}  // namespace
