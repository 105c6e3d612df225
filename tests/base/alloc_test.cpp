// Tracked memory allocator: block headers, guard copies, the live-block
// list, its dump and the damage report.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "TestFiles.h"
#include "ZiDezaru.h"

namespace {

using test_support::LogCapture;
using test_support::RemoveTree;
using test_support::SharedTempFolder;

const char* const kFolderVariable = "RIDOV_ALLOC_TEST_FOLDER";

MemBlockHeader* HeaderOf(void* pointer) {
  return reinterpret_cast<MemBlockHeader*>(static_cast<unsigned char*>(pointer) - sizeof(MemBlockHeader));
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// A started log without stamps, so that lines compare exactly. The log
// folder is one per test run, shared with the child processes of the death
// tests (a child runs the whole test again).
class AllocTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, log_.StartResult()); }
  void TearDown() override { RemoveTree(log_.Folder()); }
  std::string LogText() const { return log_.Text(); }
  void ClearLog() { StartLog(); }

  LogCapture log_{SharedTempFolder(kFolderVariable, "alloc")};
};

std::string BlockLine(void* pointer, const char* name, const char* data) {
  const MemBlockHeader* block = HeaderOf(pointer);
  char line[256];
  snprintf(line, sizeof(line), "\tsize:%10d(%10.3fkb)  file:%-26s  line:%-5d  ID:%-5d  addr:%08x%s",
           static_cast<int>(block->size), block->size / 1024.0, name, block->line, block->allocNumber,
           static_cast<unsigned int>(reinterpret_cast<uintptr_t>(pointer)), data);
  return line;
}

struct NameCase {
  const char* file;
  const char* tail;
};

TEST_F(AllocTest, NameTails) {
  const NameCase cases[] = {
      {"0123456789abcdefghijklmnopqrstuvwxyzABCD", "pqrstuvwxyzABCD"},  // 40: last 15
      {"abcdefghij", "abcdefghij"},                                     // 10: whole
      {"abcdefghijklmno", "abcdefghijklmno"},                           // 15: whole
      {"abcdefghijklmnop", "bcdefghijklmnop"},                          // 16: last 15
      {"", ""},
      {nullptr, ""},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.tail);
    void* p = MemAlloc(8, c.file, 321);
    ASSERT_NE(nullptr, p);
    const MemBlockHeader* block = HeaderOf(p);
    EXPECT_STREQ(c.tail, block->fileTail);
    for (size_t i = strlen(c.tail) + 1; i < sizeof(block->fileTail); i++)
      EXPECT_EQ(0xA5, static_cast<unsigned char>(block->fileTail[i])) << i;
    EXPECT_EQ(321, block->line);
    EXPECT_EQ(8u, block->size);

    // A reallocation takes the new caller's name the same way.
    p = MemRealloc(p, 24, c.file == nullptr ? "short.cpp" : "0123456789abcdefghijklmnopqrstuvwxyzABCD", 9);
    ASSERT_NE(nullptr, p);
    EXPECT_STREQ(c.file == nullptr ? "short.cpp" : "pqrstuvwxyzABCD", HeaderOf(p)->fileTail);
    EXPECT_EQ(9, HeaderOf(p)->line);
    MemFree(p);
  }
}

TEST_F(AllocTest, HeaderFieldsAndGuardCopies) {
  void* p = MemAlloc(40, "guards.cpp", 70000);  // lines are kept in 16 bits
  ASSERT_NE(nullptr, p);
  const MemBlockHeader* block = HeaderOf(p);
  EXPECT_EQ(static_cast<uint16_t>(70000), block->line);
  EXPECT_EQ(nullptr, block->newer);
  EXPECT_EQ(0, memcmp(block, block->guard1, MEM_HEADER_FIELDS_SIZE));
  EXPECT_EQ(0, memcmp(block, static_cast<unsigned char*>(p) + 40, MEM_HEADER_FIELDS_SIZE));
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % 8);

  void* q = MemAlloc(4, "guards.cpp", 2);
  EXPECT_EQ(static_cast<uint16_t>(block->allocNumber + 1), HeaderOf(q)->allocNumber);
  // The older neighbour's guard copies follow its new newer link.
  EXPECT_EQ(HeaderOf(q), block->newer);
  EXPECT_EQ(block, HeaderOf(q)->older);
  EXPECT_EQ(0, memcmp(block, block->guard1, MEM_HEADER_FIELDS_SIZE));
  EXPECT_EQ(0, memcmp(block, static_cast<unsigned char*>(p) + 40, MEM_HEADER_FIELDS_SIZE));
  EXPECT_EQ(0, CheckAllAllocHeaders());
  MemFree(q);
  MemFree(p);
}

TEST_F(AllocTest, TotalsFollowEveryCall) {
  const size_t total = GetAllocTotalSize();
  const int count = GetAllocCount();
  void* a = MemAlloc(100, "t.cpp", 1);
  void* b = MemAllocZeroed(28, "t.cpp", 2);
  EXPECT_EQ(total + 128, GetAllocTotalSize());
  EXPECT_EQ(count + 2, GetAllocCount());
  a = MemRealloc(a, 50, "t.cpp", 3);
  EXPECT_EQ(total + 78, GetAllocTotalSize());
  EXPECT_EQ(count + 2, GetAllocCount());
  MemFree(a);
  MemFree(b);
  MemFree(nullptr);
  EXPECT_EQ(total, GetAllocTotalSize());
  EXPECT_EQ(count, GetAllocCount());
}

TEST_F(AllocTest, ZeroedAllocationIsZero) {
  void* dirty = MemAlloc(256, "z.cpp", 1);
  memset(dirty, 0xCC, 256);
  MemFree(dirty);
  unsigned char* p = static_cast<unsigned char*>(MemAllocZeroed(256, "z.cpp", 2));
  ASSERT_NE(nullptr, p);
  for (int i = 0; i < 256; i++) ASSERT_EQ(0, p[i]) << i;
  MemFree(p);
}

TEST_F(AllocTest, ZeroByteAllocationIsTraced) {
  void* a = MemAlloc(0, "zero.cpp", 12);
  void* b = MemAlloc(0, "zero.cpp", 13);
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  EXPECT_NE(a, b);
  std::string expected = "mem alloc  " + BlockLine(a, "zero.cpp", "  data:<> ]\r\n") + "mem alloc  " +
                         BlockLine(b, "zero.cpp", "  data:<> ]\r\n");
  EXPECT_EQ(expected, LogText());

  ClearLog();
  const std::string line = BlockLine(b, "zero.cpp", "  data:<> ]\r\n");
  MemFree(b);
  EXPECT_EQ("mem free  " + line, LogText());

  ClearLog();
  a = MemRealloc(a, 0, "again.cpp", 5);
  EXPECT_EQ("mem realloc  " + BlockLine(a, "again.cpp", "  data:<> ]\r\n"), LogText());
  MemFree(a);
}

TEST_F(AllocTest, OtherSizesAreNotTraced) {
  void* p = MemAlloc(1, "quiet.cpp", 1);
  p = MemRealloc(p, 2, "quiet.cpp", 2);
  MemFree(p);
  EXPECT_EQ("", LogText());
}

TEST_F(AllocTest, DumpLineShowsSixteenDataBytes) {
  unsigned char* p = static_cast<unsigned char*>(MemAlloc(20, "data.cpp", 44));
  const unsigned char bytes[20] = {'A', 'b', 0x00, 0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF, 'z',
                                   '0', '9', '<',  '>',  '[',  ']',  'X',  'Y',  'Z',  'W'};
  memcpy(p, bytes, sizeof(bytes));
  ClearLog();
  LogAllocBlockInfo(HeaderOf(p), 1);
  LogAllocBlockInfo(HeaderOf(p), 0);
  EXPECT_EQ(
      BlockLine(p, "data.cpp", "  data:<Ab.. ~\x7f..z09<>[]> [41 62 00 1f 20 7e 7f 80 ff 7a 30 39 3c 3e 5b 5d]\r\n") +
          BlockLine(p, "data.cpp", "\r\n"),
      LogText());
  EXPECT_NE(std::string::npos, LogText().find("\tsize:        20(     0.020kb)  file:data.cpp    "));
  MemFree(p);
}

TEST_F(AllocTest, ReallocToTheSameSizeKeepsTheAddress) {
  void* p = MemAlloc(32, "first.cpp", 1);
  memset(p, 0x5A, 32);
  const uint16_t number = HeaderOf(p)->allocNumber;
  void* q = MemRealloc(p, 32, "second.cpp", 2);
  EXPECT_EQ(p, q);
  EXPECT_NE(number, HeaderOf(q)->allocNumber);
  EXPECT_STREQ("second.cpp", HeaderOf(q)->fileTail);
  EXPECT_EQ(2, HeaderOf(q)->line);
  for (int i = 0; i < 32; i++) EXPECT_EQ(0x5A, static_cast<unsigned char*>(q)[i]);
  MemFree(q);
}

TEST_F(AllocTest, GrowingZeroFillsTheAddedBytes) {
  // Shrink then grow: in place the old trailing guard copy would stay in
  // the added bytes.
  unsigned char* p = static_cast<unsigned char*>(MemAlloc(64, "grow.cpp", 1));
  memset(p, 0xCC, 64);
  p = static_cast<unsigned char*>(MemRealloc(p, 8, "grow.cpp", 2));
  ASSERT_NE(nullptr, p);
  void* neighbour = MemAlloc(16, "grow.cpp", 3);  // p is no longer the newest
  const int sizes[] = {40, 300, 4000};
  int previous = 8;
  for (int size : sizes) {
    SCOPED_TRACE(size);
    p = static_cast<unsigned char*>(MemRealloc(p, size, "grow.cpp", 4));
    ASSERT_NE(nullptr, p);
    for (int i = 0; i < 8; i++) EXPECT_EQ(0xCC, p[i]) << i;
    for (int i = previous; i < size; i++) ASSERT_EQ(0, p[i]) << i;
    EXPECT_EQ(0, memcmp(HeaderOf(p), p + size, MEM_HEADER_FIELDS_SIZE));
    EXPECT_EQ(HeaderOf(p), HeaderOf(neighbour)->older);
    EXPECT_EQ(0, CheckAllAllocHeaders());
    memset(p + 8, 0xEE, size - 8);
    p = static_cast<unsigned char*>(MemRealloc(p, 8, "grow.cpp", 5));
    previous = 8;
  }
  MemFree(neighbour);
  MemFree(p);
}

TEST_F(AllocTest, ReallocOfNullAllocates) {
  const int count = GetAllocCount();
  void* p = MemRealloc(nullptr, 10, "null.cpp", 7);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(count + 1, GetAllocCount());
  EXPECT_STREQ("null.cpp", HeaderOf(p)->fileTail);
  MemFree(p);
}

TEST_F(AllocTest, FailedAllocationsReturnNullAndKeepTheBlock) {
  const int count = GetAllocCount();
  const size_t total = GetAllocTotalSize();
  EXPECT_EQ(nullptr, MemAlloc(0xFFFFFFF0u, "huge.cpp", 1));
  EXPECT_EQ(nullptr, MemAlloc(0x7FFFFF00u, "huge.cpp", 2));
  unsigned char* p = static_cast<unsigned char*>(MemAlloc(16, "keep.cpp", 3));
  memset(p, 0x11, 16);
  EXPECT_EQ(nullptr, MemRealloc(p, 0xFFFFFFF0u, "huge.cpp", 4));
  EXPECT_EQ(nullptr, MemRealloc(p, 0x7FFFFF00u, "huge.cpp", 5));
  EXPECT_STREQ("keep.cpp", HeaderOf(p)->fileTail);
  EXPECT_EQ(16u, HeaderOf(p)->size);
  for (int i = 0; i < 16; i++) EXPECT_EQ(0x11, p[i]);
  EXPECT_EQ(count + 1, GetAllocCount());
  EXPECT_EQ(total + 16, GetAllocTotalSize());
  EXPECT_EQ(0, CheckAllAllocHeaders());
  // Each failure wrote the dump.
  EXPECT_NE(std::string::npos, LogText().find("Alloc memory dump\r\n"));
  MemFree(p);
}

TEST_F(AllocTest, DumpListsNewestFirstAndFollowsFrees) {
  void* a = MemAlloc(1, "dump_a.cpp", 1);
  void* b = MemAlloc(2, "dump_b.cpp", 2);
  void* c = MemAlloc(3, "dump_c.cpp", 3);
  MemFree(b);  // from the middle
  ClearLog();
  DumpAllocList();
  std::string text = LogText();
  size_t at = text.find("dump_a.cpp");
  size_t ct = text.find("dump_c.cpp");
  EXPECT_EQ(0u, text.find("\r\nAlloc memory dump\r\n"));
  ASSERT_NE(std::string::npos, at);
  ASSERT_NE(std::string::npos, ct);
  EXPECT_LT(ct, at);
  EXPECT_EQ(std::string::npos, text.find("dump_b.cpp"));

  MemFree(c);  // the newest: the older block becomes the head
  EXPECT_EQ(nullptr, HeaderOf(a)->newer);
  void* d = MemAlloc(4, "dump_d.cpp", 4);
  EXPECT_EQ(HeaderOf(a), HeaderOf(d)->older);
  EXPECT_EQ(0, CheckAllAllocHeaders());
  MemFree(a);
  MemFree(d);
}

TEST_F(AllocTest, ThreadsShareTheList) {
  const size_t total = GetAllocTotalSize();
  const int count = GetAllocCount();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([t] {
      std::vector<void*> blocks;
      for (int i = 0; i < 500; i++) {
        void* p = MemAlloc(1 + (i * 7 + t) % 100, "thread.cpp", t);
        if (i % 3 == 0) p = MemRealloc(p, 1 + (i * 13) % 200, "thread.cpp", t);
        blocks.push_back(p);
        if (i % 2 == 1) {
          MemFree(blocks.front());
          blocks.erase(blocks.begin());
        }
      }
      for (void* p : blocks) MemFree(p);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(total, GetAllocTotalSize());
  EXPECT_EQ(count, GetAllocCount());
  EXPECT_EQ(0, CheckAllAllocHeaders());
}

// The following run in a fresh child process, where no other test has left
// blocks behind and where a damaged block may end the process.

TEST_F(AllocTest, EmptyDumpAfterFreeingEverything) {
  EXPECT_EXIT(
      {
        void* a = MemAlloc(10, "e.cpp", 1);
        void* b = MemAllocZeroed(20, "e.cpp", 2);
        void* c = MemAlloc(30, "e.cpp", 3);
        a = MemRealloc(a, 100, "e.cpp", 4);
        MemFree(b);
        MemFree(c);
        MemFree(a);
        StartLog();
        DumpAllocList();
        exit(GetAllocCount() == 0 && GetAllocTotalSize() == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ("\r\nAlloc memory dump\r\n\tTotal size:0(0.000kb)  Alloc num:0\r\n\r\n", LogText());
}

// Checks the damage report in the log: the message, the three guard lines
// (as byte lists), the block line with data and the two guard copies read
// as headers.
void ExpectDamageReport(const std::string& text, int damagedCopy, int damagedByte) {
  std::vector<std::string> lines = SplitLines(text);
  ASSERT_EQ(7u, lines.size()) << text;
  EXPECT_EQ("以下のメモリ確保情報が破損しました、強制終了します", lines[0]);
  const char* prefixes[3] = {"HEAD  BASE:", "HEAD TEMP1:", "HEAD TEMP2:"};
  const std::regex hexLine(
      "(?:[0-9a-f]{2} [0-9a-f]{2} [0-9a-f]{2} [0-9a-f]{2}  ){3}[0-9a-f]{2} [0-9a-f]{2} [0-9a-f]{2} [0-9a-f]{2}"
      "    (?:[0-9a-f]{2} [0-9a-f]{2} [0-9a-f]{2} [0-9a-f]{2}  ){3}[0-9a-f]{2} [0-9a-f]{2} [0-9a-f]{2} "
      "[0-9a-f]{2}");
  std::vector<unsigned int> bytes[3];
  for (int i = 0; i < 3; i++) {
    const std::string& line = lines[1 + i];
    ASSERT_EQ(0u, line.find(prefixes[i])) << line;
    const std::string hex = line.substr(strlen(prefixes[i]));
    ASSERT_TRUE(std::regex_match(hex, hexLine)) << line;
    std::istringstream in(hex);
    unsigned int value;
    while (in >> std::hex >> value) bytes[i].push_back(value);
    ASSERT_EQ(32u, bytes[i].size());
  }
  // The damaged copy differs from the header in the one byte; the other agrees.
  for (int k = 0; k < 32; k++) {
    EXPECT_EQ(bytes[0][k], bytes[3 - damagedCopy][k]) << k;
    if (k == damagedByte) EXPECT_NE(bytes[0][k], bytes[damagedCopy][k]) << k;
    else EXPECT_EQ(bytes[0][k], bytes[damagedCopy][k]) << k;
  }
  EXPECT_TRUE(std::regex_match(lines[4], std::regex("\tsize:        16\\(     0\\.016kb\\)  file:damage\\.cpp {16}"
                                                    "  line:77     ID:\\d+ *  addr:[0-9a-f]{8}  data:<"
                                                    "0123456789abcdef> \\[30 31 32 33 34 35 36 37 38 39 "
                                                    "61 62 63 64 65 66\\]")))
      << lines[4];
  for (int i = 5; i < 7; i++)
    EXPECT_TRUE(std::regex_match(lines[i], std::regex("\tsize: *-?\\d+\\( *-?[0-9.]+kb\\)  file:.*  line:\\d+ *"
                                                      "  ID:\\d+ *  addr:[0-9a-f]{8}")))
        << lines[i];
}

void* DamagedBlock() {
  void* p = MemAlloc(16, "damage.cpp", 77);
  memcpy(p, "0123456789abcdef", 16);
  return p;
}

TEST_F(AllocTest, DamageBeforeTheBlockEndsTheProcess) {
  EXPECT_EXIT(
      {
        unsigned char* p = static_cast<unsigned char*>(DamagedBlock());
        StartLog();
        p[-1] ^= 0xFF;  // last byte of guard copy 1
        MemFree(p);
      },
      ::testing::ExitedWithCode(-1), "");
  ExpectDamageReport(LogText(), 1, 31);
}

TEST_F(AllocTest, DamageAfterTheBlockEndsTheProcess) {
  EXPECT_EXIT(
      {
        unsigned char* p = static_cast<unsigned char*>(DamagedBlock());
        StartLog();
        p[16] ^= 0x01;  // first byte of guard copy 2
        MemFree(p);
      },
      ::testing::ExitedWithCode(-1), "");
  ExpectDamageReport(LogText(), 2, 0);
}

TEST_F(AllocTest, DamagedSizeIsReportedWithoutAWildRead) {
  EXPECT_EXIT(
      {
        void* p = DamagedBlock();
        StartLog();
        HeaderOf(p)->size = 0x7FFFFFF0;
        MemFree(p);
      },
      ::testing::ExitedWithCode(-1), "");
  std::vector<std::string> lines = SplitLines(LogText());
  ASSERT_EQ(7u, lines.size());
  EXPECT_EQ("以下のメモリ確保情報が破損しました、強制終了します", lines[0]);
  EXPECT_EQ(0u, lines[4].find("\tsize:2147483632("));
}

// An underrun that fills the end of the header and guard copy 1 with one
// value leaves both size fields equal and garbage: the check must bound the
// size by the heap block, and its report must reach the log. One test per
// case: a death test's child runs its whole test again.
struct Underrun {
  unsigned char fill;
  int bytes;  // overwritten just before the user data
};

class AllocUnderrunTest : public AllocTest, public ::testing::WithParamInterface<Underrun> {};

TEST_P(AllocUnderrunTest, IsReported) {
  const Underrun c = GetParam();
  EXPECT_EXIT(
      {
        void* keep = MemAlloc(64, "keep.cpp", 5);
        unsigned char* p = static_cast<unsigned char*>(MemAlloc(64, "under.cpp", 9));
        void* newer = MemAlloc(64, "newer.cpp", 11);
        for (int i = 0; i < 64; i++) p[i] = static_cast<unsigned char>('a' + i % 26);
        StartLog();
        memset(p - c.bytes, c.fill, c.bytes);
        MemFree(p);
        MemFree(keep);
        MemFree(newer);
        exit(0);
      },
      ::testing::ExitedWithCode(-1), "");
  std::vector<std::string> lines = SplitLines(LogText());
  ASSERT_EQ(7u, lines.size()) << LogText();
  EXPECT_EQ("以下のメモリ確保情報が破損しました、強制終了します", lines[0]);
  EXPECT_EQ(0u, lines[1].find("HEAD  BASE:"));
  EXPECT_EQ(0u, lines[2].find("HEAD TEMP1:"));
  // Guard copy 2 was read where the heap block puts it: intact ("under.cp").
  EXPECT_EQ(0u, lines[3].find("HEAD TEMP2:75 6e 64 65  72 2e 63 70")) << lines[3];
  EXPECT_EQ(0u, lines[4].find("\tsize:")) << lines[4];
  EXPECT_NE(std::string::npos, lines[4].find("  data:<")) << lines[4];
}

INSTANTIATE_TEST_SUITE_P(FillAndLength, AllocUnderrunTest,
                         ::testing::Values(Underrun{0x41, 44}, Underrun{0x41, 64}, Underrun{0x10, 44},
                                           Underrun{0x10, 64}, Underrun{0x00, 44}, Underrun{0x00, 64},
                                           Underrun{0xFF, 44}, Underrun{0xFF, 64}));

TEST_F(AllocTest, DamageIsFoundByRealloc) {
  EXPECT_EXIT(
      {
        unsigned char* p = static_cast<unsigned char*>(DamagedBlock());
        StartLog();
        p[16] ^= 0x01;
        MemRealloc(p, 1000, "r.cpp", 1);
        exit(0);
      },
      ::testing::ExitedWithCode(-1), "");
  ExpectDamageReport(LogText(), 2, 0);
}

}  // namespace
