// File streams: the file-stream function table and the stream tables over
// files and memory, memory streams, file handles (with the asynchronous-open
// job), and full-path building.
#include <gtest/gtest.h>

#include <string.h>
#include <windows.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "DaDode.h"
#include "LogCapture.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "StartTogether.h"
#include "TestFiles.h"
#include "VeRavoro.h"
#include "VeRavoroString.h"
#include "ZeZezuDoz.h"
#include "ZiDezaru.h"

namespace {

using test_support::LogCapture;
using test_support::NewTempFolder;
using test_support::RemoveTree;
using test_support::WriteFileBytes;

// Fresh folder per test, the default file functions, and no block left
// behind at the end (file handles are ended first, as shut-down does).
class StreamFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    allocCount_ = GetAllocCount();
    folder_ = NewTempFolder("stream");
    SetupFileStreamFunctions(nullptr);
  }
  void TearDown() override {
    TerminateFileHandles();
    SetupFileStreamFunctions(nullptr);
    SetFileOpenJobQueueFunction(nullptr);
    RemoveTree(folder_);
    EXPECT_EQ(allocCount_, GetAllocCount()) << "blocks left behind";
  }
  std::string PathOf(const char* name) const { return folder_ + "\\" + name; }

  std::string folder_;
  int allocCount_ = 0;
};

bool WaitIdle(const StreamFunctionTable* table, StreamHandle stream) {
  for (int i = 0; i < 10000; ++i) {
    if (table->IdleCheck(stream) != 0) return true;
    Sleep(1);
  }
  return false;
}

// ---------------------------------------------------------------------------
// One random sequence through every kind of stream

// A stream under test: its table, its handle, and its own read buffer.
struct StreamUnderTest {
  const char* name;
  const StreamFunctionTable* table;
  StreamHandle stream;
  std::vector<unsigned char> buffer;
};

TEST_F(StreamFixture, RandomSeeksAndReadsAgreeAcrossFileModesAndMemory) {
  std::mt19937 random(20240611);
  std::vector<unsigned char> bytes(400 * 1024 + 37);  // more than three caches
  for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
  WriteFileBytes(PathOf("data.bin"), bytes);
  const std::string path = PathOf("data.bin");
  const int64_t size = static_cast<int64_t>(bytes.size());

  // The plain file-access set, so the cached streams' records can be read
  // (the default set hands out archive-layer handles).
  ASSERT_EQ(0, SetupFileStreamFunctions(GetPlainFileStreamFunctions()));
  struct RestoreDefaultSet {
    ~RestoreDefaultSet() { SetupFileStreamFunctions(nullptr); }
  } restoreDefaultSet;
  const StreamFunctionTable* files = GetFileStreamTable();
  MemoryStream* memory = CreateMemoryStream(bytes.data(), static_cast<uint32_t>(bytes.size()));
  ASSERT_NE(nullptr, memory);
  std::vector<StreamUnderTest> streams = {
      {"direct", files, FileStreamOpen(path.c_str(), 0, 1, 0), {}},
      {"cached", files, FileStreamOpen(path.c_str(), 1, 1, 0), {}},
      {"async", files, FileStreamOpen(path.c_str(), 0, 1, 1), {}},
      {"cached async", files, FileStreamOpen(path.c_str(), 1, 1, 1), {}},
      {"memory", GetMemoryStreamTable(), reinterpret_cast<StreamHandle>(memory), {}},
  };
  // Closes what is still open when an assertion leaves early.
  struct CloseLeftOpen {
    std::vector<StreamUnderTest>* streams;
    ~CloseLeftOpen() {
      for (StreamUnderTest& s : *streams)
        if (s.stream != 0) s.table->Close(s.stream);
    }
  } closeLeftOpen{&streams};
  for (const StreamUnderTest& s : streams) ASSERT_NE(0u, s.stream) << s.name;

  // Element sizes from bytes to pages; counts up to about 200 KB a read.
  const size_t elementSizes[] = {1, 2, 3, 4, 7, 16, 100, 512, 4096, 65536};
  int64_t position = 0;  // the model's position, kept within 0..size
  uint64_t cacheServed = 0;
  // How often the sequence met the cases that matter.
  int clampedSeeks = 0, shortenedReads = 0, endReads = 0, emptyRequests = 0;
  for (int step = 0; step < 1500; ++step) {
    SCOPED_TRACE(testing::Message() << "step " << step << " at " << position);
    // Now and then a pause long enough for the readers to fill their caches.
    if (step % 150 == 75) Sleep(250);

    const int action = static_cast<int>(random() % 10);
    if (action < 3) {
      // Seek to a target from -64 to the size, often near either end, from
      // a random origin; below 0 every stream stops at 0.
      int64_t target;
      switch (random() % 4) {
        case 0: target = static_cast<int64_t>(random() % 129) - 64; break;   // around the start
        case 1: target = size - static_cast<int64_t>(random() % 65); break;  // just before the end
        default: target = static_cast<int64_t>(random() % (bytes.size() + 1)); break;
      }
      const int origin = static_cast<int>(random() % 3);
      const int64_t offset = origin == 0 ? target : origin == 1 ? target - position : target - size;
      for (StreamUnderTest& s : streams) {
        ASSERT_EQ(0, s.table->Seek(s.stream, offset, origin)) << s.name;
      }
      position = target < 0 ? 0 : target;
      if (target < 0) ++clampedSeeks;
    } else {
      size_t elementSize = elementSizes[random() % (sizeof(elementSizes) / sizeof(elementSizes[0]))];
      const size_t count = random() % (200 * 1024 / elementSize + 2);
      // Where less than one element is left, memory hands out the partial
      // element while files stop; this sequence reads such tails by bytes.
      const int64_t left = size - position;
      if (left > 0 && left < static_cast<int64_t>(elementSize)) elementSize = 1;

      size_t expected = 0;
      if (left > 0) {
        expected = count;
        if (static_cast<uint64_t>(left) < static_cast<uint64_t>(elementSize) * count)
          expected = static_cast<size_t>(left) / elementSize;
      }
      const bool expectEnd = count != 0 && left == 0;
      if (count == 0) ++emptyRequests;
      if (expectEnd) ++endReads;
      if (left > 0 && expected < count) ++shortenedReads;
      for (StreamUnderTest& s : streams) {
        s.buffer.assign(elementSize * count + 1, 0xA5);
        const size_t got = s.table->Read(s.buffer.data(), elementSize, count, s.stream);
        ASSERT_TRUE(WaitIdle(s.table, s.stream)) << s.name;
        ASSERT_EQ(expected, got) << s.name << " element " << elementSize << " count " << count;
        ASSERT_EQ(0, memcmp(s.buffer.data(), bytes.data() + position, expected * elementSize)) << s.name;
        ASSERT_EQ(0xA5, s.buffer[expected * elementSize]) << s.name << ": wrote past what it read";
        if (expectEnd) {
          ASSERT_NE(0, s.table->Eof(s.stream)) << s.name;
        }
      }
      position += static_cast<int64_t>(expected * elementSize);
    }
    for (StreamUnderTest& s : streams) {
      ASSERT_TRUE(WaitIdle(s.table, s.stream)) << s.name;
      ASSERT_EQ(position, s.table->Tell(s.stream)) << s.name;
      ASSERT_EQ(streams[0].table->Eof(streams[0].stream) != 0, s.table->Eof(s.stream) != 0) << s.name;
    }
  }
  // The pauses let the cached readers serve some reads from their caches.
  cacheServed = reinterpret_cast<FileAccessRecord*>(streams[1].stream)->cacheServed +
                reinterpret_cast<FileAccessRecord*>(streams[3].stream)->cacheServed;
  EXPECT_GT(cacheServed, 0u);
  EXPECT_GT(clampedSeeks, 0);
  EXPECT_GT(shortenedReads, 0);
  EXPECT_GT(endReads, 0);
  EXPECT_GT(emptyRequests, 0);

  for (StreamUnderTest& s : streams) {
    EXPECT_EQ(0, s.table->Close(s.stream)) << s.name;
    s.stream = 0;
  }
}

// ---------------------------------------------------------------------------
// Memory streams

class MemoryStreamTest : public StreamFixture {
 protected:
  void SetUp() override {
    StreamFixture::SetUp();
    for (int i = 0; i < 10; ++i) data_[i] = static_cast<unsigned char>(0x10 + i);
    stream_ = CreateMemoryStream(data_, sizeof(data_));
    ASSERT_NE(nullptr, stream_);
  }
  void TearDown() override {
    EXPECT_EQ(0, CloseMemoryStream(stream_));
    StreamFixture::TearDown();
  }
  unsigned char data_[10];
  MemoryStream* stream_ = nullptr;
};

TEST_F(MemoryStreamTest, StartsAtZeroOverItsData) {
  EXPECT_EQ(data_, stream_->data);
  EXPECT_EQ(10u, stream_->size);
  EXPECT_EQ(0, MemoryStreamTell(stream_));
  EXPECT_EQ(0, MemoryStreamEof(stream_));
  EXPECT_EQ(1, MemoryStreamIdle(stream_));
}

TEST_F(MemoryStreamTest, WholeElementsThenThePartialOneThenTheEnd) {
  unsigned char buffer[16];
  memset(buffer, 0xEE, sizeof(buffer));
  EXPECT_EQ(2u, MemoryStreamRead(buffer, 4, 3, stream_));
  EXPECT_EQ(0, memcmp(buffer, data_, 8));
  EXPECT_EQ(0xEE, buffer[8]);
  EXPECT_EQ(8, MemoryStreamTell(stream_));

  memset(buffer, 0xEE, sizeof(buffer));
  EXPECT_EQ(1u, MemoryStreamRead(buffer, 4, 3, stream_));  // the 2 bytes left, copied whole
  EXPECT_EQ(0, memcmp(buffer, data_ + 8, 2));
  EXPECT_EQ(0xEE, buffer[2]);
  EXPECT_EQ(10, MemoryStreamTell(stream_));
  EXPECT_EQ(0, MemoryStreamEof(stream_));

  EXPECT_EQ(0u, MemoryStreamRead(buffer, 4, 3, stream_));
  EXPECT_EQ(1, MemoryStreamEof(stream_));
}

TEST_F(MemoryStreamTest, ZeroElementRequestCopiesNothing) {
  unsigned char buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(0u, MemoryStreamRead(buffer, 4, 0, stream_));
  EXPECT_EQ(0u, MemoryStreamRead(buffer, 0, 4, stream_));
  EXPECT_EQ(0xEE, buffer[0]);
  EXPECT_EQ(0, MemoryStreamTell(stream_));
  EXPECT_EQ(0, MemoryStreamEof(stream_));
  // Also at the end, where it leaves the end flag alone.
  MemoryStreamSeek(stream_, 0, 2);
  EXPECT_EQ(0u, MemoryStreamRead(buffer, 1, 0, stream_));
  EXPECT_EQ(0, MemoryStreamEof(stream_));
}

TEST_F(MemoryStreamTest, SeeksClampToTheData) {
  struct Case {
    int64_t offset;
    int origin;
    int64_t position;
  };
  const Case cases[] = {
      {-5, 0, 0},  {5, 2, 10}, {-3, 2, 7},         {4, 0, 4},         {2, 1, 8},         {-100, 1, 0},
      {11, 0, 10}, {3, 9, 0},  {INT64_MAX, 1, 10}, {INT64_MIN, 1, 0}, {INT64_MIN, 2, 0},
  };
  unsigned char byte;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " origin " << c.origin);
    MemoryStreamSeek(stream_, 6, 0);
    MemoryStreamRead(&byte, 1, 8, stream_);  // leaves the end flag set
    EXPECT_EQ(0, MemoryStreamSeek(stream_, 6, 0));
    EXPECT_EQ(0, MemoryStreamSeek(stream_, c.offset, c.origin));
    EXPECT_EQ(c.position, MemoryStreamTell(stream_));
    EXPECT_EQ(0, MemoryStreamEof(stream_));
  }
}

TEST_F(MemoryStreamTest, TableReachesTheStream) {
  const StreamFunctionTable* table = GetMemoryStreamTable();
  const StreamHandle handle = reinterpret_cast<StreamHandle>(stream_);
  unsigned char buffer[4];
  EXPECT_EQ(0, table->Seek(handle, 3, 0));
  EXPECT_EQ(2u, table->Read(buffer, 2, 2, handle));
  EXPECT_EQ(0, memcmp(buffer, data_ + 3, 4));
  EXPECT_EQ(7, table->Tell(handle));
  EXPECT_EQ(1, table->IdleCheck(handle));
  EXPECT_EQ(0, table->Eof(handle));
  EXPECT_EQ(0, table->Seek(handle, 0, 2));
  EXPECT_EQ(0u, table->Read(buffer, 1, 1, handle));
  EXPECT_NE(0, table->Eof(handle));

  MemoryStream* other = CreateMemoryStream(data_, 4);
  ASSERT_NE(nullptr, other);
  EXPECT_EQ(0, table->Close(reinterpret_cast<StreamHandle>(other)));  // frees the record, not the data
  EXPECT_EQ(0x10, data_[0]);
}

// ---------------------------------------------------------------------------
// The file-stream table

// A table that counts the calls it passes on to the plain file functions.
struct CountingTable {
  static const FileStreamFunctionTable* inner;
  static int opens, reads, closes;
  static StreamHandle Open(const char* path, int cache, int block, int async) {
    ++opens;
    return inner->Open(path, cache, block, async);
  }
  static size_t Read(void* buffer, size_t size, size_t count, StreamHandle stream) {
    ++reads;
    return inner->Read(buffer, size, count, stream);
  }
  static int Close(StreamHandle stream) {
    ++closes;
    return inner->Close(stream);
  }
};
const FileStreamFunctionTable* CountingTable::inner = nullptr;
int CountingTable::opens = 0;
int CountingTable::reads = 0;
int CountingTable::closes = 0;

TEST_F(StreamFixture, StreamTableFollowsTheInstalledFileFunctions) {
  WriteFileBytes(PathOf("a.txt"), {'x', 'y', 'z'});
  FileStreamFunctionTable plain = *GetFileAccessTable();
  FileStreamFunctionTable counting = plain;
  CountingTable::inner = &plain;
  CountingTable::opens = CountingTable::reads = CountingTable::closes = 0;
  counting.Open = CountingTable::Open;
  counting.Read = CountingTable::Read;
  counting.Close = CountingTable::Close;

  const StreamFunctionTable* files = GetFileStreamTable();
  EXPECT_EQ(0, SetupFileStreamFunctions(&counting));
  EXPECT_EQ(CountingTable::Open, GetFileAccessTable()->Open);
  const StreamHandle stream = FileStreamOpen(PathOf("a.txt").c_str(), 0, 1, 0);
  ASSERT_NE(0u, stream);
  char buffer[3];
  EXPECT_EQ(3u, files->Read(buffer, 1, 3, stream));
  EXPECT_EQ(0, files->Close(stream));
  EXPECT_EQ(1, CountingTable::opens);
  EXPECT_EQ(1, CountingTable::reads);
  EXPECT_EQ(1, CountingTable::closes);

  // Null puts the library's own set back.
  EXPECT_EQ(0, SetupFileStreamFunctions(nullptr));
  EXPECT_EQ(plain.Open, GetFileAccessTable()->Open);
  const StreamHandle again = FileStreamOpen(PathOf("a.txt").c_str(), 0, 1, 0);
  ASSERT_NE(0u, again);
  EXPECT_EQ(0, FileStreamClose(again));
  EXPECT_EQ(1, CountingTable::opens);
}

TEST_F(StreamFixture, DirectoryAndSearchSlotsReachTheDisk) {
  WriteFileBytes(PathOf("only.txt"), {'1'});
  char saved[FILE_PATH_SIZE];
  ASSERT_EQ(0, FileStreamGetDirectory(saved));
  ASSERT_EQ(0, FileStreamSetDirectory(folder_.c_str()));
  char now[FILE_PATH_SIZE];
  ASSERT_EQ(0, FileStreamGetDirectory(now));
  EXPECT_EQ(0, lstrcmpiA(folder_.c_str(), now));

  const FileStreamFunctionTable* table = GetFileAccessTable();
  FileInfoRecord info;
  const intptr_t search = table->FindFirst("*.txt", &info);
  ASSERT_NE(-1, search);
  EXPECT_STREQ("only.txt", info.name);
  EXPECT_EQ(1u, info.size);
  EXPECT_EQ(-1, table->FindNext(search, &info));
  EXPECT_EQ(0, table->FindClose(search));
  ASSERT_EQ(0, FileStreamSetDirectory(saved));
}

// ---------------------------------------------------------------------------
// File handles

class FileHandleTest : public StreamFixture {};

TEST_F(FileHandleTest, ReadsBytesAsSignedCharsUntilTheEnd) {
  WriteFileBytes(PathOf("text.csv"), {'A', ',', '7', 0x0A});
  for (int asyncRead = 0; asyncRead <= 1; ++asyncRead) {
    SCOPED_TRACE(asyncRead);
    const int handle = OpenReadFile(PathOf("text.csv").c_str(), asyncRead);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(HANDLETYPE_FILE, HANDLE_TYPE_OF(handle));
    EXPECT_EQ('A', ReadFileChar(handle));
    EXPECT_EQ(',', ReadFileChar(handle));
    EXPECT_EQ('7', ReadFileChar(handle));
    EXPECT_EQ(0x0A, ReadFileChar(handle));
    EXPECT_EQ(-1, ReadFileChar(handle));
    EXPECT_EQ(-1, ReadFileChar(handle));
    EXPECT_EQ(0, CloseReadFile(handle));
  }
}

// File handles set their type up on the first open: threads opening their
// first files at once each get a working handle.
TEST_F(FileHandleTest, FirstOpensFromManyThreadsAllWork) {
  WriteFileBytes(PathOf("first.txt"), {'Q'});
  constexpr int kThreads = 6;
  for (int round = 0; round < 30; ++round) {
    TerminateFileHandles();
    int read[kThreads];
    test_support::StartTogether(kThreads, [&](int t) {
      const int handle = OpenReadFile(PathOf("first.txt").c_str(), 0);
      read[t] = handle > 0 ? ReadFileChar(handle) : -2;
      if (handle > 0 && CloseReadFile(handle) != 0) read[t] = -3;
    });
    for (int t = 0; t < kThreads; ++t) ASSERT_EQ('Q', read[t]) << "round " << round << " thread " << t;
    EXPECT_EQ(0, HandleManagers[HANDLETYPE_FILE].count);
  }
}

TEST_F(FileHandleTest, ByteFFReadsLikeTheEnd) {
  WriteFileBytes(PathOf("ff.bin"), {0x41, 0xFF, 0x42, 0x80});
  const int handle = OpenReadFile(PathOf("ff.bin").c_str(), 0);
  ASSERT_GT(handle, 0);
  EXPECT_EQ(0x41, ReadFileChar(handle));
  EXPECT_EQ(-1, ReadFileChar(handle));
  EXPECT_EQ(0x42, ReadFileChar(handle));
  EXPECT_EQ(-128, ReadFileChar(handle));  // a signed byte
  EXPECT_EQ(0, CloseReadFile(handle));
}

TEST_F(FileHandleTest, MissingFileGivesZeroNoHandleAndNoLogLine) {
  LogCapture log(folder_);
  EXPECT_EQ(0, OpenReadFile(PathOf("missing.csv").c_str(), 0));
  EXPECT_EQ(0, OpenReadFile(PathOf("missing.csv").c_str(), 1));
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_FILE].count);
  EXPECT_EQ("", log.Text());
}

TEST_F(FileHandleTest, InvalidAndStaleHandlesAreRefusedWithALogLine) {
  WriteFileBytes(PathOf("a.txt"), {'a'});
  const int handle = OpenReadFile(PathOf("a.txt").c_str(), 0);
  ASSERT_GT(handle, 0);
  ASSERT_EQ(0, CloseReadFile(handle));

  LogCapture log(folder_);
  EXPECT_EQ(0, ReadFileChar(handle));
  EXPECT_EQ(-1, CloseReadFile(handle));
  EXPECT_NE(std::string::npos, log.Text().find("ReadFileChar"));
  const std::string before = log.Text();
  EXPECT_EQ(0, ReadFileChar(-1));  // "no handle" passes silently
  EXPECT_EQ(-1, CloseReadFile(-1));
  EXPECT_EQ(before, log.Text());
  // Another type's handle is no file handle.
  EXPECT_EQ(0, ReadFileChar((HANDLETYPE_GRAPH << HANDLE_TYPE_SHIFT) | (1 << HANDLE_CHECK_SHIFT)));
}

TEST_F(FileHandleTest, MemoryImageHandleReadsNothingAndFreesItsImageOnClose) {
  WriteFileBytes(PathOf("a.txt"), {'a'});
  const int handle = OpenReadFile(PathOf("a.txt").c_str(), 0);
  ASSERT_GT(handle, 0);
  FileHandleRecord* record = reinterpret_cast<FileHandleRecord*>(GetHandleRecord(handle));
  ASSERT_NE(nullptr, record);
  // Made into a memory-image handle: its stream is closed and a block taken.
  FileStreamClose(record->stream);
  record->stream = 0;
  record->kind = FILE_HANDLE_MEMORY;
  record->memoryImage = MEM_ALLOC(64);
  ASSERT_NE(nullptr, record->memoryImage);
  EXPECT_EQ(-1, ReadFileChar(handle));
  EXPECT_EQ(0, CloseReadFile(handle));  // the fixture's leak check sees the block freed
}

TEST_F(FileHandleTest, EndingTheTypeClosesOpenFiles) {
  WriteFileBytes(PathOf("a.txt"), {'a', 'b'});
  EXPECT_EQ(-1, TerminateFileHandles());
  ASSERT_EQ(0, InitializeFileHandles());
  EXPECT_EQ(-1, InitializeFileHandles());
  int handles[3];
  for (int& handle : handles) {
    handle = OpenReadFile(PathOf("a.txt").c_str(), 1);
    ASSERT_GT(handle, 0);
  }
  EXPECT_EQ('a', ReadFileChar(handles[1]));
  EXPECT_EQ(0, TerminateFileHandles());
  for (int handle : handles) EXPECT_EQ(nullptr, GetHandleRecord(handle));
  EXPECT_EQ(-1, TerminateFileHandles());
  // Opening again sets the type up again.
  const int handle = OpenReadFile(PathOf("a.txt").c_str(), 0);
  EXPECT_GT(handle, 0);
  EXPECT_NE(0, HandleManagers[HANDLETYPE_FILE].initialized);
}

// The loader's side of an asynchronous open, as a test double: it keeps
// the job for the test to run, counting it on the handle as a queued job is.
struct QueuedOpen {
  static int handle;
  static std::string path;
  static int asyncRead;
  static int queued;
  static int refuse;
  static int Queue(int h, const char* fullPath, int read) {
    if (refuse) return -1;
    handle = h;
    path = fullPath;
    asyncRead = read;
    ++queued;
    AddHandleAsyncCount(h, 0);
    return 0;
  }
  // Runs the job on another thread, as a loading worker would.
  static int RunOnWorker() {
    int result = 0;
    std::thread worker([&] { result = OpenFileHandleJob(handle, path.c_str(), asyncRead); });
    worker.join();
    return result;
  }
};
int QueuedOpen::handle = -1;
std::string QueuedOpen::path;
int QueuedOpen::asyncRead = 0;
int QueuedOpen::queued = 0;
int QueuedOpen::refuse = 0;

class AsyncOpenTest : public FileHandleTest {
 protected:
  void SetUp() override {
    FileHandleTest::SetUp();
    QueuedOpen::handle = -1;
    QueuedOpen::queued = 0;
    QueuedOpen::refuse = 0;
    SetFileOpenJobQueueFunction(QueuedOpen::Queue);
    ASSERT_EQ(0, FileAccessGetCurrentDir(savedDir_));
  }
  void TearDown() override {
    FileAccessSetCurrentDir(savedDir_);
    QueuedOpen::path.clear();
    QueuedOpen::path.shrink_to_fit();
    FileHandleTest::TearDown();
  }
  char savedDir_[FILE_PATH_SIZE];
};

TEST_F(AsyncOpenTest, HandleComesAtOnceAndReadsOnlyAfterTheJob) {
  WriteFileBytes(PathOf("late.csv"), {'Q', 'R'});
  ASSERT_EQ(0, FileAccessSetCurrentDir(folder_.c_str()));
  const int handle = OpenReadFileCore("late.csv", 1, 1);
  ASSERT_GT(handle, 0);
  ASSERT_EQ(1, QueuedOpen::queued);
  EXPECT_EQ(handle, QueuedOpen::handle);
  EXPECT_EQ(1, QueuedOpen::asyncRead);
  // The job gets the full path, made while the directory was current.
  EXPECT_EQ(0, lstrcmpiA((folder_ + "\\late.csv").c_str(), QueuedOpen::path.c_str())) << QueuedOpen::path;
  ASSERT_EQ(0, FileAccessSetCurrentDir(savedDir_));

  EXPECT_EQ(1, IsHandleASyncLoading(handle));
  EXPECT_EQ(0, ReadFileChar(handle));  // refused while the job is pending

  EXPECT_EQ(0, QueuedOpen::RunOnWorker());
  EXPECT_EQ(0, IsHandleASyncLoading(handle));
  EXPECT_EQ('Q', ReadFileChar(handle));
  EXPECT_EQ('R', ReadFileChar(handle));
  EXPECT_EQ(-1, ReadFileChar(handle));
  EXPECT_EQ(0, CloseReadFile(handle));
}

TEST_F(AsyncOpenTest, FailedJobTakesItsHandleAway) {
  const int handle = OpenReadFileCore(PathOf("missing.csv").c_str(), 0, 1);
  ASSERT_GT(handle, 0);
  EXPECT_NE(nullptr, GetHandleRecord(handle));
  EXPECT_EQ(-1, QueuedOpen::RunOnWorker());
  EXPECT_EQ(nullptr, GetHandleRecord(handle));
  EXPECT_EQ(0, ReadFileChar(handle));
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_FILE].count);
}

TEST_F(AsyncOpenTest, NoJobMeansNoHandle) {
  WriteFileBytes(PathOf("a.csv"), {'a'});
  QueuedOpen::refuse = 1;
  EXPECT_EQ(0, OpenReadFileCore(PathOf("a.csv").c_str(), 0, 1));
  SetFileOpenJobQueueFunction(nullptr);
  EXPECT_EQ(0, OpenReadFileCore(PathOf("a.csv").c_str(), 0, 1));
  EXPECT_EQ(0, HandleManagers[HANDLETYPE_FILE].count);
  // The plain open is not affected.
  const int handle = OpenReadFileCore(PathOf("a.csv").c_str(), 0, 0);
  EXPECT_GT(handle, 0);
  EXPECT_EQ('a', ReadFileChar(handle));
}

TEST_F(AsyncOpenTest, OpenReadFileFollowsTheLibrarySetting) {
  // The asynchronous-loading setting is off, so no job is made.
  WriteFileBytes(PathOf("a.csv"), {'a'});
  const int handle = OpenReadFile(PathOf("a.csv").c_str(), 0);
  EXPECT_GT(handle, 0);
  EXPECT_EQ(0, QueuedOpen::queued);
  EXPECT_EQ('a', ReadFileChar(handle));
}

// ---------------------------------------------------------------------------
// Full paths

struct PathCase {
  const char* base;
  const char* path;
  const char* expected;
};

const PathCase kPathCases[] = {
    {"E:\\game", "..\\data\\x.csv", "E:\\data\\x.csv"},
    {"E:\\game", "\\x", "E:\\x"},
    {"E:\\game", "/x/y", "E:\\x\\y"},
    {"E:\\game", "D:y", "D:\\y"},
    {"E:\\game", "D:\\y\\z", "D:\\y\\z"},
    {"E:\\game", "\\\\srv\\share\\a", "\\\\srv\\share\\a"},
    {"E:\\game", "a\\.\\b\\", "E:\\game\\a\\b"},
    {"E:\\game", "a/b", "E:\\game\\a\\b"},
    {"E:\\game", "a\\\\b", "E:\\game\\a\\b"},  // empty components are skipped
    {"E:\\game\\", "a", "E:\\game\\a"},        // one trailing separator of the base goes
    {"E:\\game", "", "E:\\game"},
    {"E:\\game", "a\\..", "E:\\game\\a\\.."},  // a last component is kept as it is
    {"E:\\", "..\\x", "E:\\x"},
    {"E:\\game", "..\\..\\..\\x", "E:\\x"},  // ".." never climbs above the drive
    {"E:\\game\\sub", "..\\..\\..\\..\\x\\y", "E:\\x\\y"},
    // Shift-JIS: 0x95 0x5C is one character whose trail byte is "\".
    {"E:\\game", "\x95\x5C\\a.txt", "E:\\game\\\x95\x5C\\a.txt"},
    {"E:\\game", "\x95\x5C\x95\x5C\\..\\x", "E:\\game\\x"},
    {"E:\\game\\\x95\x5C", "a", "E:\\game\\\x95\x5C\\a"},  // the trail byte is not a trailing separator
    {"E:\\game\\\x95\x5C", "..\\x", "E:\\game\\x"},        // nor the place to cut
    {"E:\\\x95\x5C"
     "a\x95\x5C",
     "..\\b", "E:\\b"},
};

class BuildAbsolutePathTest : public StreamFixture, public ::testing::WithParamInterface<PathCase> {
 protected:
  void SetUp() override {
    StreamFixture::SetUp();
    savedCharSet_ = GetCharSet();
    SetCharSet(CHARSET_SHIFTJIS);
  }
  void TearDown() override {
    SetCharSet(savedCharSet_);
    StreamFixture::TearDown();
  }
  int savedCharSet_ = 0;
};

TEST_P(BuildAbsolutePathTest, MakesTheFullPath) {
  const PathCase& c = GetParam();
  char output[FILE_PATH_SIZE];
  memset(output, 0x5A, sizeof(output));
  ASSERT_EQ(0, BuildAbsolutePath(c.path, output, sizeof(output), c.base));
  EXPECT_STREQ(c.expected, output);
  char again[FILE_PATH_SIZE];
  ASSERT_EQ(0, ConvertToFullPath(c.path, again, sizeof(again), c.base));
  EXPECT_STREQ(c.expected, again);
}

INSTANTIATE_TEST_SUITE_P(Table, BuildAbsolutePathTest, ::testing::ValuesIn(kPathCases));

TEST_F(StreamFixture, BuildAbsolutePathWithoutPathGivesTheBase) {
  char output[FILE_PATH_SIZE];
  ASSERT_EQ(0, BuildAbsolutePath(nullptr, output, sizeof(output), "C:\\base\\"));
  EXPECT_STREQ("C:\\base\\", output);
}

TEST_F(StreamFixture, BuildAbsolutePathDefaultsToTheCurrentDirectory) {
  char saved[FILE_PATH_SIZE];
  ASSERT_EQ(0, FileStreamGetDirectory(saved));
  ASSERT_EQ(0, FileStreamSetDirectory(folder_.c_str()));
  char output[FILE_PATH_SIZE];
  EXPECT_EQ(0, BuildAbsolutePath("sub\\x.png", output, sizeof(output), nullptr));
  EXPECT_EQ(0, lstrcmpiA((folder_ + "\\sub\\x.png").c_str(), output)) << output;
  EXPECT_EQ(0, BuildAbsolutePath(nullptr, output, sizeof(output), nullptr));
  EXPECT_EQ(0, lstrcmpiA(folder_.c_str(), output)) << output;
  ASSERT_EQ(0, FileStreamSetDirectory(saved));
}

TEST_F(StreamFixture, BuildAbsolutePathNeverWritesPastTheBuffer) {
  // "E:\game\abcd" is 12 characters: it fits in 13 bytes, not in 12.
  char output[32];
  memset(output, 0x5A, sizeof(output));
  EXPECT_EQ(0, BuildAbsolutePath("abcd", output, 13, "E:\\game"));
  EXPECT_STREQ("E:\\game\\abcd", output);
  for (size_t i = 13; i < sizeof(output); ++i) EXPECT_EQ(0x5A, output[i]) << i;

  memset(output, 0x5A, sizeof(output));
  EXPECT_EQ(-1, BuildAbsolutePath("abcd", output, 12, "E:\\game"));
  EXPECT_EQ('\0', output[0]);
  for (size_t i = 12; i < sizeof(output); ++i) EXPECT_EQ(0x5A, output[i]) << i;

  // Too long on the way but short at the end still fails: the output
  // never held the whole path.
  memset(output, 0x5A, sizeof(output));
  EXPECT_EQ(-1, BuildAbsolutePath("averyveryverylongname\\..\\b", output, 16, "E:\\game"));
  for (size_t i = 16; i < sizeof(output); ++i) EXPECT_EQ(0x5A, output[i]) << i;

  // A base longer than the buffer, and a null output or size.
  const std::string longBase = "C:\\" + std::string(300, 'd');
  char path[FILE_PATH_SIZE];
  EXPECT_EQ(-1, BuildAbsolutePath("x", path, sizeof(path), longBase.c_str()));
  EXPECT_EQ(-1, BuildAbsolutePath(nullptr, path, sizeof(path), longBase.c_str()));
  EXPECT_EQ(-1, BuildAbsolutePath("x", nullptr, sizeof(path), "C:\\"));
  EXPECT_EQ(-1, BuildAbsolutePath("x", path, 0, "C:\\"));
}

}  // namespace
