// Byte ring buffer: growth, wrapped reads and writes, peeking, and a failed
// growth that keeps the held bytes.
#include <gtest/gtest.h>

#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "LogCapture.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "TestFiles.h"
#include "ZaVizeDidazu.h"
#include "ZiDezaru.h"

namespace {

using test_support::LogCapture;
using test_support::PatternBytes;

class RingBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(&ring_, 0x5A, sizeof(ring_));
    ASSERT_EQ(0, InitRingBuffer(&ring_));
    allocCount_ = GetAllocCount();
  }
  void TearDown() override {
    EXPECT_EQ(0, ReleaseRingBuffer(&ring_));
    EXPECT_EQ(allocCount_, GetAllocCount());
  }
  void Write(const std::vector<unsigned char>& bytes) {
    ASSERT_EQ(0, WriteRingBuffer(&ring_, bytes.data(), static_cast<int>(bytes.size())));
  }
  std::vector<unsigned char> Read(int size, int peek = 0) {
    std::vector<unsigned char> bytes(size);
    EXPECT_EQ(0, ReadRingBuffer(&ring_, bytes.data(), size, peek));
    return bytes;
  }
  void ExpectState(int read, int write, int held, int capacity) {
    EXPECT_EQ(read, ring_.readPosition);
    EXPECT_EQ(write, ring_.writePosition);
    EXPECT_EQ(held, ring_.dataSize);
    EXPECT_EQ(capacity, ring_.capacity);
  }
  RingBuffer ring_;
  int allocCount_ = 0;
};

TEST_F(RingBufferTest, InitClearsEveryField) {
  EXPECT_EQ(nullptr, ring_.data);
  ExpectState(0, 0, 0, 0);
}

TEST_F(RingBufferTest, FreshReserveTakesNeededPlus1000) {
  ASSERT_EQ(0, ReserveRingBuffer(&ring_, 10));
  ASSERT_NE(nullptr, ring_.data);
  ExpectState(0, 0, 0, 1010);
  // Room enough: nothing changes.
  unsigned char* block = ring_.data;
  ASSERT_EQ(0, ReserveRingBuffer(&ring_, 1010));
  EXPECT_EQ(block, ring_.data);
  EXPECT_EQ(1010, ring_.capacity);
}

TEST_F(RingBufferTest, GrowthUnwrapsHeldBytesToTheStart) {
  ASSERT_EQ(0, ReserveRingBuffer(&ring_, 10));
  const std::vector<unsigned char> first = PatternBytes(1000, 1);
  Write(first);
  Read(700);
  const std::vector<unsigned char> tail(first.begin() + 700, first.end());
  const std::vector<unsigned char> more = PatternBytes(600, 3);
  Write(more);  // wraps: 10 bytes at the end, 590 at the start
  ExpectState(700, 590, 900, 1010);

  ASSERT_EQ(0, ReserveRingBuffer(&ring_, 200));
  ExpectState(0, 900, 900, 1350 + 200 + 1000);
  std::vector<unsigned char> expected = tail;
  expected.insert(expected.end(), more.begin(), more.end());
  EXPECT_EQ(0, memcmp(expected.data(), ring_.data, 900));
  EXPECT_EQ(expected, Read(900));
}

TEST_F(RingBufferTest, ShortReadFailsAndChangesNothing) {
  Write(PatternBytes(4, 9));
  const RingBuffer before = ring_;
  std::vector<unsigned char> out(5, 0xEE);
  EXPECT_EQ(-1, ReadRingBuffer(&ring_, out.data(), 5, 0));
  EXPECT_EQ(-1, ReadRingBuffer(&ring_, out.data(), 5, 1));
  EXPECT_EQ(0, memcmp(&before, &ring_, sizeof(ring_)));
  EXPECT_EQ(std::vector<unsigned char>(5, 0xEE), out);
  EXPECT_EQ(PatternBytes(4, 9), Read(4));
}

TEST_F(RingBufferTest, ReadWrapsPastTheEnd) {
  ASSERT_EQ(0, ReserveRingBuffer(&ring_, 10));
  Write(PatternBytes(1005, 0));
  Read(1005);
  ExpectState(1005, 1005, 0, 1010);
  const std::vector<unsigned char> bytes = PatternBytes(10, 40);
  Write(bytes);
  ExpectState(1005, 5, 10, 1010);
  EXPECT_EQ(0, memcmp(ring_.data + 1005, bytes.data(), 5));
  EXPECT_EQ(0, memcmp(ring_.data, bytes.data() + 5, 5));
  EXPECT_EQ(bytes, Read(10));
  ExpectState(5, 5, 0, 1010);
}

TEST_F(RingBufferTest, PositionAtCapacityFoldsToZero) {
  ASSERT_EQ(0, ReserveRingBuffer(&ring_, 10));
  Write(PatternBytes(1010, 2));
  ExpectState(0, 0, 1010, 1010);
  Read(1010);
  ExpectState(0, 0, 0, 1010);
  // A position left at the capacity by a writer is taken as 0.
  ring_.readPosition = 1010;
  ring_.writePosition = 1010;
  ASSERT_EQ(0, ReserveRingBuffer(&ring_, 5));
  ExpectState(0, 0, 0, 1010);
}

TEST_F(RingBufferTest, PeekLeavesTheBufferUnchanged) {
  ASSERT_EQ(0, ReserveRingBuffer(&ring_, 10));
  Write(PatternBytes(1005, 0));
  Read(1000);
  const std::vector<unsigned char> bytes = PatternBytes(12, 77);
  Write(bytes);  // held bytes wrap
  const RingBuffer before = ring_;
  EXPECT_EQ(bytes.size() + 5, static_cast<size_t>(ring_.dataSize));
  const std::vector<unsigned char> peeked = Read(17, 1);
  EXPECT_EQ(0, memcmp(&before, &ring_, sizeof(ring_)));
  EXPECT_EQ(peeked, Read(17));
  EXPECT_EQ(0, ring_.dataSize);
}

TEST_F(RingBufferTest, NegativeSizesAreRefused) {
  unsigned char byte = 0;
  EXPECT_EQ(-1, ReserveRingBuffer(&ring_, -1));
  EXPECT_EQ(-1, ReadRingBuffer(&ring_, &byte, -1, 0));
  EXPECT_EQ(-1, WriteRingBuffer(&ring_, &byte, -1));
  ExpectState(0, 0, 0, 0);
}

void* FailingAlloc(size_t, const char*, int) { return nullptr; }

class RingBufferFailTest : public RingBufferTest {
 protected:
  void TearDown() override {
    RingBufferAlloc = MemAlloc;
    RingBufferTest::TearDown();
  }
};

TEST_F(RingBufferFailTest, FailedGrowthKeepsBlockAndBytes) {
  LogCapture log("ring");
  ASSERT_EQ(0, ReserveRingBuffer(&ring_, 10));
  Write(PatternBytes(1005, 0));
  Read(1000);
  const std::vector<unsigned char> held = PatternBytes(900, 5);
  Write(held);
  const RingBuffer before = ring_;
  std::vector<unsigned char> image(ring_.data, ring_.data + ring_.capacity);

  RingBufferAlloc = FailingAlloc;
  EXPECT_EQ(-1, ReserveRingBuffer(&ring_, 300));
  RingBufferAlloc = MemAlloc;

  EXPECT_EQ(0, memcmp(&before, &ring_, sizeof(ring_)));
  EXPECT_EQ(0, memcmp(image.data(), ring_.data, image.size()));
  // 905 held: 905 * 3 / 2 + 300 + 1000.
  EXPECT_NE(std::string::npos,
            log.Text().find("リングバッファの再確保に失敗しました(確保しようとしたサイズ 2657 byte)\r\n"));
  std::vector<unsigned char> expected = PatternBytes(1005, 0);
  expected.erase(expected.begin(), expected.begin() + 1000);
  expected.insert(expected.end(), held.begin(), held.end());
  EXPECT_EQ(expected, Read(905));
}

TEST_F(RingBufferFailTest, FailedWriteWritesNothing) {
  Write(PatternBytes(20, 1));
  RingBufferAlloc = FailingAlloc;
  const std::vector<unsigned char> big = PatternBytes(5000, 2);
  EXPECT_EQ(-1, WriteRingBuffer(&ring_, big.data(), 5000));
  RingBufferAlloc = MemAlloc;
  EXPECT_EQ(20, ring_.dataSize);
  EXPECT_EQ(PatternBytes(20, 1), Read(20));
}

TEST_F(RingBufferFailTest, SizeBeyondIntRangeIsRefusedWithoutAllocating) {
  LogCapture log("ring");
  Write(PatternBytes(100, 1));
  const RingBuffer before = ring_;
  EXPECT_EQ(-1, ReserveRingBuffer(&ring_, 0x7FFFFFFF));
  EXPECT_EQ(0, memcmp(&before, &ring_, sizeof(ring_)));
  EXPECT_NE(std::string::npos, log.Text().find("リングバッファの再確保に失敗しました"));
  EXPECT_EQ(PatternBytes(100, 1), Read(100));
}

}  // namespace
