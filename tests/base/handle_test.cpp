// Handle manager: value layout, check values, validity, slot choice,
// callbacks, record resizing, bulk deletion and the wait for loading jobs.
#include <gtest/gtest.h>

#include <string.h>
#include <windows.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "StartTogether.h"
#include "VeRavoro.h"
#include "ZiDezaru.h"

namespace {

using test_support::LogCapture;

std::string Format(const char* format, int value) {
  char text[256];
  snprintf(text, sizeof(text), format, value);
  return text;
}

struct TestRecord {
  HandleRecordHeader head;
  int value;
  int keep;            // the delete callback keeps the record while set
  int handleAtCreate;  // the handle the create callback saw
  unsigned char rest[20];
};

// Types 20-31 have no manager in the library.
constexpr int kType = 25;
constexpr int kOtherType = 24;
constexpr int kTag = kType << 26;

int CreateCalls = 0;
int DeleteCalls = 0;

int NoteCreate(HandleRecordHeader* record) {
  ++CreateCalls;
  reinterpret_cast<TestRecord*>(record)->handleAtCreate = record->handle;
  return 0;
}

int KeepWhenAsked(HandleRecordHeader* record) {
  ++DeleteCalls;
  return reinterpret_cast<TestRecord*>(record)->keep ? 1 : 0;
}

int Handle(int check, int slot) { return kTag | (check << 16) | slot; }

class HandleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateCalls = 0;
    DeleteCalls = 0;
    allocCount_ = GetAllocCount();
    Open(kType, 8);
  }
  void TearDown() override {
    SetHandleASyncJobFunctions(nullptr, nullptr);
    TermHandleType(kType);
    TermHandleType(kOtherType);
    EXPECT_EQ(allocCount_, GetAllocCount());
  }
  // A fresh manager whose check values start again at 1.
  void Open(int type, int maxCount) {
    TermHandleType(type);
    HandleManagers[type].checkCounter = 0;
    ASSERT_EQ(0, InitHandleType(type, sizeof(TestRecord), maxCount, NoteCreate, KeepWhenAsked, "テスト"));
  }
  int Make(int wanted = -1) {
    const int handle = CreateHandle(kType, wanted);
    EXPECT_GE(handle, 0);
    return handle;
  }
  TestRecord* Record(int handle) { return reinterpret_cast<TestRecord*>(GetHandleRecord(handle)); }
  HandleManager& Manager() { return HandleManagers[kType]; }
  int allocCount_ = 0;
};

// ---------------------------------------------------------------------------
// Values

TEST_F(HandleTest, FirstHandleLayoutAndRecord) {
  const int handle = Make();
  EXPECT_EQ(kType << 26 | 1 << 16 | 0, handle);
  EXPECT_EQ(kType, HANDLE_TYPE_OF(handle));
  EXPECT_EQ(1, HANDLE_CHECK_OF(handle));
  EXPECT_EQ(0, HANDLE_INDEX_OF(handle));

  TestRecord* record = Record(handle);
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(1, record->head.checkValue);
  EXPECT_EQ(handle, record->head.handle);
  EXPECT_EQ(sizeof(TestRecord), record->head.recordSize);
  EXPECT_EQ(nullptr, record->head.deleteFlag);
  EXPECT_EQ(0, record->head.asyncLoadCount);
  EXPECT_EQ(handle, record->head.listNode.data);
  EXPECT_EQ(record, record->head.listNode.owner);
  EXPECT_EQ(0, record->value);
  EXPECT_EQ(std::vector<unsigned char>(20, 0), std::vector<unsigned char>(record->rest, record->rest + 20));
  // The create callback ran on the finished header.
  EXPECT_EQ(1, CreateCalls);
  EXPECT_EQ(handle, record->handleAtCreate);

  EXPECT_EQ(Handle(2, 1), Make());
  EXPECT_EQ(2, Manager().count);
}

TEST_F(HandleTest, CheckValueWrapsAt1023) {
  for (int i = 1; i <= 1022; ++i) {
    const int handle = Make();
    ASSERT_EQ(Handle(i, 0), handle);
    ASSERT_EQ(0, DeleteHandle(handle));
  }
  const int wrapped = Make();
  EXPECT_EQ(Handle(0, 0), wrapped);
  EXPECT_EQ(wrapped, Record(wrapped)->head.handle);
  ASSERT_EQ(0, DeleteHandle(wrapped));
  EXPECT_EQ(Handle(1, 0), Make());
}

TEST_F(HandleTest, StaleHandleIsRejectedAfterSlotReuse) {
  LogCapture log("handle");
  const int old = Make();
  ASSERT_EQ(0, DeleteHandle(old));
  const int fresh = Make();
  EXPECT_EQ(HANDLE_INDEX_OF(old), HANDLE_INDEX_OF(fresh));
  EXPECT_NE(old, fresh);
  EXPECT_EQ(nullptr, GetHandleRecord(old));
  EXPECT_EQ(-1, DeleteHandle(old));
  EXPECT_NE(nullptr, GetHandleRecord(fresh));
  EXPECT_EQ(1, Manager().count);
  EXPECT_TRUE(log.Has(Format("DeleteHandle : 無効なハンドルです( 0x%08x )\r\n", old)));
}

TEST_F(HandleTest, InvalidValuesChangeNothing) {
  const int handle = Make();
  TestRecord* record = Record(handle);
  const int invalid[] = {
      -1,
      static_cast<int>(static_cast<unsigned int>(handle) | 0x80000000u),  // bit 31
      (handle & ~HANDLE_TYPE_MASK) | (26 << 26),                          // type not set up
      (handle & ~HANDLE_TYPE_MASK) | (0 << 26),                           // type without manager
      (handle & ~HANDLE_INDEX_MASK) | 8,                                  // slot = maximum
      (handle & ~HANDLE_INDEX_MASK) | 0xFFFF,                             // far beyond
      (handle & ~HANDLE_INDEX_MASK) | 3,                                  // empty slot
      (handle & ~HANDLE_CHECK_MASK) | (2 << 16),                          // stale check
      (handle & ~HANDLE_CHECK_MASK) | (1022 << 16),
  };
  int flag = 5;
  for (int value : invalid) {
    SCOPED_TRACE(value);
    EXPECT_EQ(nullptr, GetHandleRecord(value));
    EXPECT_EQ(nullptr, GetHandleRecordOfType(value, kType));
    EXPECT_EQ(-1, IsHandleASyncLoading(value));
    EXPECT_EQ(-1, AddHandleAsyncCount(value, 3));
    EXPECT_EQ(-1, SubHandleAsyncCount(value));
    EXPECT_EQ(-1, SetHandleDeleteFlagPtr(value, &flag));
    EXPECT_EQ(-1, ResizeHandleRecord(value, 4096));
    EXPECT_EQ(-1, DeleteHandle(value));
  }
  EXPECT_EQ(record, Record(handle));
  EXPECT_EQ(1, Manager().count);
  EXPECT_EQ(0, record->head.asyncLoadCount);
  EXPECT_EQ(nullptr, record->head.deleteFlag);
  EXPECT_EQ(sizeof(TestRecord), record->head.recordSize);
  EXPECT_EQ(0, DeleteCalls);
  EXPECT_EQ(5, flag);
}

TEST_F(HandleTest, ForeignTypeHandleIsRejected) {
  Open(kOtherType, 8);
  const int mine = Make();
  const int foreign = CreateHandle(kOtherType, -1);
  ASSERT_EQ(kOtherType << 26 | 1 << 16 | 0, foreign);
  EXPECT_EQ(nullptr, GetHandleRecordOfType(foreign, kType));
  EXPECT_EQ(nullptr, GetHandleRecordOfType(mine, kOtherType));
  EXPECT_NE(nullptr, GetHandleRecordOfType(foreign, kOtherType));
  EXPECT_EQ(GetHandleRecordOfType(foreign, kOtherType), GetHandleRecord(foreign));
  EXPECT_EQ(nullptr, GetHandleRecordOfType(mine, -1));
  EXPECT_EQ(nullptr, GetHandleRecordOfType(mine, 32));

  // Nor may it name the slot of a new handle of another type.
  LogCapture log("handle");
  EXPECT_EQ(-1, CreateHandle(kType, foreign));
  EXPECT_EQ(1, Manager().count);
  EXPECT_TRUE(log.Has(Format("テストハンドルの作成に指定されたハンドル値( 0x%08x )は使えません\r\n", foreign)));
}

TEST_F(HandleTest, CreateOnTypeNotSetUpFails) {
  LogCapture log("handle");
  EXPECT_EQ(-1, CreateHandle(26, -1));
  EXPECT_EQ(-1, CreateHandle(32, -1));
  EXPECT_EQ(-1, CreateHandle(-1, -1));
  EXPECT_EQ(-1, DeleteHandle(26 << 26 | 1 << 16));
  EXPECT_TRUE(log.Has("ハンドルタイプ 26 は初期化されていないためハンドルを作成できません\r\n"));
}

// ---------------------------------------------------------------------------
// Wanted handles

TEST_F(HandleTest, WantedHandleWithFreeSlotComesBackExactly) {
  const int wanted = Handle(77, 5);
  EXPECT_EQ(wanted, Make(wanted));
  EXPECT_EQ(77, Record(wanted)->head.checkValue);
  // The counter did not move.
  EXPECT_EQ(Handle(1, 6), Make());
}

TEST_F(HandleTest, WantedHandleWithTakenSlotKeepsItsCheckValue) {
  const int first = Make();
  const int again = Make(Handle(500, HANDLE_INDEX_OF(first)));
  EXPECT_EQ(Handle(500, 1), again);
  EXPECT_NE(nullptr, Record(first));
  EXPECT_EQ(Handle(2, 2), Make());
}

TEST_F(HandleTest, WantedSlotOutOfRangeIsRefused) {
  LogCapture log("handle");
  Make();
  for (int slot : {8, 9, 0xFFFF}) {
    SCOPED_TRACE(slot);
    EXPECT_EQ(-1, CreateHandle(kType, Handle(3, slot)));
    EXPECT_TRUE(
        log.Has(Format("テストハンドルの作成に指定されたハンドル値( 0x%08x )は使えません\r\n", Handle(3, slot))));
  }
  EXPECT_EQ(1, Manager().count);
  EXPECT_EQ(0, Manager().lowestSlot);
  EXPECT_EQ(0, Manager().highestSlot);
  EXPECT_EQ(1, CreateCalls);
  // Any other negative value means no wanted handle.
  EXPECT_EQ(Handle(2, 1), Make(-5));
}

// ---------------------------------------------------------------------------
// Slots

TEST_F(HandleTest, SlotAboveHighestThenBelowLowestThenScan) {
  // Only 5 and 7 in use: nothing above 7, so below 5.
  Make(Handle(1, 5));
  Make(Handle(1, 7));
  EXPECT_EQ(4, HANDLE_INDEX_OF(Make()));
  EXPECT_EQ(3, HANDLE_INDEX_OF(Make()));
  EXPECT_EQ(3, Manager().lowestSlot);
  EXPECT_EQ(7, Manager().highestSlot);
}

TEST_F(HandleTest, BothEndsTakenScansFromZero) {
  std::vector<int> handles;
  for (int i = 0; i < 8; ++i) handles.push_back(Make());
  for (int i = 0; i < 8; ++i) EXPECT_EQ(i, HANDLE_INDEX_OF(handles[i]));
  for (int i = 1; i <= 6; ++i) ASSERT_EQ(0, DeleteHandle(handles[i]));
  EXPECT_EQ(0, Manager().lowestSlot);
  EXPECT_EQ(7, Manager().highestSlot);
  EXPECT_EQ(1, HANDLE_INDEX_OF(Make()));
  EXPECT_EQ(2, HANDLE_INDEX_OF(Make()));
}

TEST_F(HandleTest, FullTypeRefusesAndLogs) {
  LogCapture log("handle");
  for (int i = 0; i < 8; ++i) Make();
  EXPECT_EQ(-1, CreateHandle(kType, -1));
  EXPECT_EQ(-1, CreateHandle(kType, Handle(1, 3)));
  EXPECT_EQ(8, Manager().count);
  EXPECT_TRUE(log.Has("テストハンドルの数が限界数( 8 )に達していて新たなハンドルを作成できません\r\n"));
}

TEST_F(HandleTest, DeletionMovesTheUsedRange) {
  std::vector<int> handles;
  for (int i = 0; i < 7; ++i) handles.push_back(Make());
  for (int i : {1, 2, 4, 5}) ASSERT_EQ(0, DeleteHandle(handles[i]));
  EXPECT_EQ(0, Manager().lowestSlot);
  EXPECT_EQ(6, Manager().highestSlot);
  ASSERT_EQ(0, DeleteHandle(handles[6]));
  EXPECT_EQ(3, Manager().highestSlot);
  ASSERT_EQ(0, DeleteHandle(handles[0]));
  EXPECT_EQ(3, Manager().lowestSlot);
  EXPECT_EQ(3, Manager().highestSlot);
}

TEST_F(HandleTest, DeletingTheOnlyHandleResetsTheRange) {
  const int handle = Make(Handle(1, 5));
  EXPECT_EQ(5, Manager().lowestSlot);
  EXPECT_EQ(5, Manager().highestSlot);
  ASSERT_EQ(0, DeleteHandle(handle));
  EXPECT_EQ(0, Manager().count);
  EXPECT_EQ(0, Manager().lowestSlot);
  EXPECT_EQ(0, Manager().highestSlot);
  EXPECT_EQ(Handle(1, 0), Make());
}

// ---------------------------------------------------------------------------
// Deletion

TEST_F(HandleTest, DeleteFlagIsSetToMinusOne) {
  const int handle = Make();
  int owner = handle;
  ASSERT_EQ(0, SetHandleDeleteFlagPtr(handle, &owner));
  ASSERT_EQ(0, DeleteHandle(handle));
  EXPECT_EQ(-1, owner);

  const int other = Make();
  int untouched = other;
  ASSERT_EQ(0, SetHandleDeleteFlagPtr(other, &untouched));
  ASSERT_EQ(0, SetHandleDeleteFlagPtr(other, nullptr));
  ASSERT_EQ(0, DeleteHandle(other));
  EXPECT_EQ(other, untouched);
}

TEST_F(HandleTest, DeleteCallbackCanKeepItsRecord) {
  const int handle = Make();
  TestRecord* record = Record(handle);
  record->keep = 1;
  record->value = 42;
  ASSERT_EQ(0, DeleteHandle(handle));
  EXPECT_EQ(1, DeleteCalls);
  EXPECT_EQ(record, Record(handle));
  EXPECT_EQ(42, record->value);
  EXPECT_EQ(1, Manager().count);
  EXPECT_EQ(handle, Manager().listHead.next->data);

  record->keep = 0;
  ASSERT_EQ(0, DeleteHandle(handle));
  EXPECT_EQ(2, DeleteCalls);
  EXPECT_EQ(nullptr, Record(handle));
  EXPECT_EQ(0, Manager().count);
}

int KeepOdd(HandleRecordHeader* record) { return reinterpret_cast<TestRecord*>(record)->value & 1; }

TEST_F(HandleTest, DeleteAllHonoursTheKeepFilter) {
  std::vector<int> handles;
  for (int i = 0; i < 6; ++i) {
    handles.push_back(Make());
    Record(handles.back())->value = i;
  }
  ASSERT_EQ(0, DeleteAllHandlesOfType(kType, KeepOdd));
  EXPECT_EQ(3, Manager().count);
  EXPECT_EQ(3, DeleteCalls);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(i & 1, Record(handles[i]) != nullptr) << i;

  ASSERT_EQ(0, DeleteAllHandlesOfType(kType, nullptr));
  EXPECT_EQ(0, Manager().count);
  EXPECT_EQ(-1, DeleteAllHandlesOfType(26, nullptr));
}

// The delete pass reads every record under the type lock, so a worker's
// DeleteHandle cannot free it while it is read: the keep filter, asked with
// the record, always runs inside the lock.
int FilterCalls = 0;
int FilterCallsOutsideTheLock = 0;

int KeepNoneNotingTheLock(HandleRecordHeader*) {
  ++FilterCalls;
  bool free = false;
  std::thread probe([&] {
    free = TryEnterCriticalSection(&HandleManagers[kType].lock.section) != 0;
    if (free) LeaveCriticalSection(&HandleManagers[kType].lock.section);
  });
  probe.join();
  if (free) ++FilterCallsOutsideTheLock;
  return 0;
}

TEST_F(HandleTest, DeleteAllReadsEachRecordUnderTheLock) {
  for (int i = 0; i < 5; ++i) Make();
  FilterCalls = 0;
  FilterCallsOutsideTheLock = 0;
  ASSERT_EQ(0, DeleteAllHandlesOfType(kType, KeepNoneNotingTheLock));
  EXPECT_EQ(0, Manager().count);
  EXPECT_EQ(10, FilterCalls);  // both passes
  EXPECT_EQ(0, FilterCallsOutsideTheLock);
}

TEST_F(HandleTest, ListHoldsLiveRecordsNewestFirst) {
  const int a = Make();
  const int b = Make();
  const int c = Make();
  ASSERT_EQ(0, DeleteHandle(b));
  std::vector<int> walked;
  for (HandleListNode* node = Manager().listHead.next; node != &Manager().listTail; node = node->next) {
    EXPECT_EQ(node, &static_cast<HandleRecordHeader*>(node->owner)->listNode);
    EXPECT_EQ(node, node->next->prev);
    walked.push_back(node->data);
  }
  EXPECT_EQ((std::vector<int>{c, a}), walked);
}

// ---------------------------------------------------------------------------
// Resizing

TEST_F(HandleTest, ResizeKeepsContentsAndRelinks) {
  const int before = Make();
  const int handle = Make();
  const int after = Make();
  Record(handle)->value = 1234;
  const int bigger = static_cast<int>(sizeof(TestRecord)) + 4096;
  ASSERT_EQ(0, ResizeHandleRecord(handle, bigger));

  TestRecord* record = Record(handle);
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(static_cast<unsigned int>(bigger), record->head.recordSize);
  EXPECT_EQ(1234, record->value);
  const unsigned char* added = reinterpret_cast<unsigned char*>(record) + sizeof(TestRecord);
  EXPECT_EQ(std::vector<unsigned char>(4096, 0), std::vector<unsigned char>(added, added + 4096));
  EXPECT_EQ(record, record->head.listNode.owner);
  EXPECT_EQ(&record->head.listNode, record->head.listNode.prev->next);
  EXPECT_EQ(&record->head.listNode, record->head.listNode.next->prev);
  EXPECT_EQ(after, record->head.listNode.prev->data);
  EXPECT_EQ(before, record->head.listNode.next->data);

  EXPECT_EQ(0, ResizeHandleRecord(handle, bigger));
  EXPECT_EQ(-1, ResizeHandleRecord(handle, sizeof(HandleRecordHeader) - 1));
  ASSERT_EQ(0, ResizeHandleRecord(handle, sizeof(TestRecord)));
  EXPECT_EQ(1234, Record(handle)->value);
  ASSERT_EQ(0, DeleteHandle(handle));
  EXPECT_EQ(2, Manager().count);
}

// ---------------------------------------------------------------------------
// Set-up and tear-down

TEST_F(HandleTest, SetUpArgumentsAreChecked) {
  EXPECT_EQ(-1, InitHandleType(kType, sizeof(TestRecord), 8, NoteCreate, KeepWhenAsked, "テスト"));
  EXPECT_EQ(-1, InitHandleType(32, sizeof(TestRecord), 8, ReturnZero, ReturnZero, "x"));
  EXPECT_EQ(-1, InitHandleType(-1, sizeof(TestRecord), 8, ReturnZero, ReturnZero, "x"));
  EXPECT_EQ(-1, InitHandleType(26, sizeof(HandleRecordHeader) - 4, 8, ReturnZero, ReturnZero, "x"));
  EXPECT_EQ(-1, InitHandleType(26, sizeof(TestRecord), 0, ReturnZero, ReturnZero, "x"));
  EXPECT_EQ(-1, InitHandleType(26, sizeof(TestRecord), 0x10001, ReturnZero, ReturnZero, "x"));
  EXPECT_EQ(0, HandleManagers[26].initialized);
  EXPECT_EQ(-1, TermHandleType(26));
}

TEST_F(HandleTest, CheckValuesContinueAfterReSetUp) {
  Make();
  Make();
  const int last = Make();
  EXPECT_EQ(3, HANDLE_CHECK_OF(last));
  ASSERT_EQ(0, TermHandleType(kType));
  EXPECT_EQ(0, Manager().initialized);
  EXPECT_EQ(nullptr, GetHandleRecord(last));
  EXPECT_EQ(3, DeleteCalls);
  ASSERT_EQ(0, InitHandleType(kType, sizeof(TestRecord), 8, NoteCreate, KeepWhenAsked, "テスト"));
  EXPECT_EQ(Handle(4, 0), Make());
}

TEST_F(HandleTest, TermFreesRecordsTheCallbackKept) {
  LogCapture log("handle");
  Record(Make())->keep = 1;
  Make();
  Record(Make())->keep = 1;
  ASSERT_EQ(0, TermHandleType(kType));
  EXPECT_EQ(3, DeleteCalls);
  EXPECT_TRUE(log.Has("テストハンドルの終了時に残っていたデータ 2 個を解放しました\r\n"));
  // TearDown finds no block left over.
}

TEST(HandleList, SentinelsAndFrontInsertion) {
  HandleListNode head, tail, a, b;
  ASSERT_EQ(0, HandleListInit(&head, &tail));
  EXPECT_EQ(-1, head.data);
  EXPECT_EQ(-1, tail.data);
  EXPECT_EQ(nullptr, head.owner);
  EXPECT_EQ(nullptr, head.prev);
  EXPECT_EQ(nullptr, tail.next);
  EXPECT_EQ(&tail, head.next);
  int ownerA = 0, ownerB = 0;
  ASSERT_EQ(0, HandleListAddFront(&head, &a, 10, &ownerA));
  ASSERT_EQ(0, HandleListAddFront(&head, &b, 20, &ownerB));
  EXPECT_EQ(&b, head.next);
  EXPECT_EQ(&a, b.next);
  EXPECT_EQ(&tail, a.next);
  EXPECT_EQ(&a, tail.prev);
  EXPECT_EQ(20, b.data);
  EXPECT_EQ(&ownerB, b.owner);
  ASSERT_EQ(0, HandleListRemove(&b));
  EXPECT_EQ(&a, head.next);
  EXPECT_EQ(&head, a.prev);
  ASSERT_EQ(0, HandleListRemove(&a));
  EXPECT_EQ(&tail, head.next);
  EXPECT_EQ(&head, tail.prev);
}

// ---------------------------------------------------------------------------
// Loading jobs

std::atomic<int> RemoveCalls{0};
std::atomic<int> ServeCalls{0};
std::atomic<int> RemoveResult{0};
std::atomic<int> LastJobIndex{-1};
std::atomic<int> LastRefuseFlag{-1};

int FakeRemoveJob(int jobIndex, int /*handle*/, int refuseRunning) {
  ++RemoveCalls;
  LastJobIndex = jobIndex;
  LastRefuseFlag = refuseRunning;
  return RemoveResult;
}

int FakeServe() {
  ++ServeCalls;
  return 0;
}

class HandleJobTest : public HandleTest {
 protected:
  void SetUp() override {
    HandleTest::SetUp();
    RemoveCalls = 0;
    ServeCalls = 0;
    LastJobIndex = -1;
    LastRefuseFlag = -1;
    SetHandleASyncJobFunctions(FakeRemoveJob, FakeServe);
  }
};

TEST_F(HandleJobTest, PendingCount) {
  const int handle = Make();
  EXPECT_EQ(0, IsHandleASyncLoading(handle));
  ASSERT_EQ(0, AddHandleAsyncCount(handle, 7));
  EXPECT_EQ(1, IsHandleASyncLoading(handle));
  EXPECT_EQ(7, Record(handle)->head.asyncJobIndex);
  ASSERT_EQ(0, AddHandleAsyncCount(handle, 9));
  EXPECT_EQ(2, Record(handle)->head.asyncLoadCount);
  EXPECT_EQ(9, Record(handle)->head.asyncJobIndex);
  ASSERT_EQ(0, SubHandleAsyncCount(handle));
  ASSERT_EQ(0, SubHandleAsyncCount(handle));
  EXPECT_EQ(0, IsHandleASyncLoading(handle));
  // An unmatched call does not take the count below zero.
  EXPECT_EQ(-1, SubHandleAsyncCount(handle));
  EXPECT_EQ(0, Record(handle)->head.asyncLoadCount);
}

TEST_F(HandleJobTest, JobNotStartedIsRemovedWithoutWaiting) {
  const int handle = Make();
  ASSERT_EQ(0, AddHandleAsyncCount(handle, 11));
  RemoveResult = 0;
  ASSERT_EQ(0, DeleteHandle(handle));
  EXPECT_EQ(1, RemoveCalls);
  EXPECT_EQ(11, LastJobIndex);
  EXPECT_EQ(1, LastRefuseFlag);
  EXPECT_EQ(0, ServeCalls);
  EXPECT_EQ(nullptr, Record(handle));
}

TEST_F(HandleJobTest, RecordWithoutPendingJobsLeavesTheQueueAlone) {
  ASSERT_EQ(0, DeleteHandle(Make()));
  EXPECT_EQ(0, RemoveCalls);
}

TEST_F(HandleJobTest, RunningJobIsAwaitedOutsideTheTypeLock) {
  const int handle = Make();
  ASSERT_EQ(0, AddHandleAsyncCount(handle, 4));
  RemoveResult = -2;
  std::atomic<int> madeByJob{-1};
  std::atomic<bool> jobDone{false};
  std::thread job([&] {
    while (ServeCalls == 0) Sleep(1);
    Sleep(30);
    // The job needs the type lock: the waiting deletion must not hold it.
    madeByJob = CreateHandle(kType, -1);
    jobDone = true;
    SubHandleAsyncCount(handle);
  });
  ASSERT_EQ(0, DeleteHandle(handle));
  EXPECT_TRUE(jobDone);
  job.join();
  EXPECT_GT(ServeCalls, 0);
  EXPECT_EQ(nullptr, Record(handle));
  ASSERT_GE(madeByJob, 0);
  EXPECT_NE(nullptr, Record(madeByJob));
  EXPECT_EQ(1, Manager().count);
}

TEST_F(HandleJobTest, WithoutLoaderPendingCountsAreNotAwaited) {
  SetHandleASyncJobFunctions(nullptr, nullptr);
  const int handle = Make();
  ASSERT_EQ(0, AddHandleAsyncCount(handle, 1));
  ASSERT_EQ(0, DeleteHandle(handle));
  EXPECT_EQ(0, RemoveCalls);
  EXPECT_EQ(nullptr, Record(handle));
}

TEST_F(HandleJobTest, DeleteAllClearsCountsOfJobsItRemoved) {
  const int kept = Make();
  Record(kept)->value = 1;
  ASSERT_EQ(0, AddHandleAsyncCount(kept, 1));
  const int a = Make();
  ASSERT_EQ(0, AddHandleAsyncCount(a, 2));
  const int b = Make();
  ASSERT_EQ(0, AddHandleAsyncCount(b, 3));
  ASSERT_EQ(0, AddHandleAsyncCount(b, 3));
  RemoveResult = -1;
  ASSERT_EQ(0, DeleteAllHandlesOfType(kType, KeepOdd));
  // One removal per record in the first pass, none while deleting.
  EXPECT_EQ(2, RemoveCalls);
  EXPECT_EQ(0, ServeCalls);
  EXPECT_EQ(nullptr, Record(a));
  EXPECT_EQ(nullptr, Record(b));
  EXPECT_EQ(1, Record(kept)->head.asyncLoadCount);
  ASSERT_EQ(0, SubHandleAsyncCount(kept));
}

// ---------------------------------------------------------------------------
// Threads

// Threads that set a type up at the same moment: one set-up wins, no slot
// table is lost, and a handle made just after it is never wiped by a
// slower set-up.
TEST_F(HandleTest, FirstSetUpFromManyThreadsHappensOnce) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 60; ++round) {
    TermHandleType(kOtherType);
    const int blocks = GetAllocCount();
    std::atomic<int> wins{0};
    int handles[kThreads];
    test_support::StartTogether(kThreads, [&](int t) {
      if (InitHandleType(kOtherType, sizeof(TestRecord), 64, ReturnZero, ReturnZero, "race") == 0) ++wins;
      handles[t] = CreateHandle(kOtherType, -1);
    });
    ASSERT_EQ(1, wins) << "round " << round;
    EXPECT_EQ(blocks + 1 + kThreads, GetAllocCount()) << "round " << round;  // one slot table
    EXPECT_EQ(kThreads, HandleManagers[kOtherType].count) << "round " << round;
    for (int t = 0; t < kThreads; ++t)
      ASSERT_NE(nullptr, GetHandleRecordOfType(handles[t], kOtherType)) << "round " << round << " thread " << t;
  }
}

TEST_F(HandleTest, ThreadsCreateAndDeleteConcurrently) {
  Open(kType, 64);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::vector<int> mine;
      for (int i = 0; i < 400; ++i) {
        const int handle = CreateHandle(kType, -1);
        TestRecord* record = Record(handle);
        if (handle < 0 || record == nullptr || record->head.handle != handle || record->value != 0) {
          ++failures;
          continue;
        }
        record->value = t + 1;
        mine.push_back(handle);
        if (mine.size() == 8) {
          for (int h : mine) {
            if (Record(h) == nullptr || Record(h)->value != t + 1 || DeleteHandle(h) != 0) ++failures;
          }
          mine.clear();
        }
      }
      for (int h : mine) DeleteHandle(h);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, failures);
  EXPECT_EQ(0, Manager().count);
  EXPECT_EQ(Manager().listHead.next, &Manager().listTail);
}

}  // namespace
