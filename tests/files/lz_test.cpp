// LZ unpacker and packer: the code forms one by one, damaged blocks, and
// round trips through the packer. Blocks and outputs sit directly before a
// no-access page, so any read past the packed size or write past the
// unpacked size crashes the test.
#include <gtest/gtest.h>

#include <string.h>
#include <windows.h>

#include <algorithm>
#include <unordered_map>
#include <random>
#include <string>
#include <vector>

#include "ArchivePacker.h"
#include "RoRezedur_.h"
#include "TestFiles.h"
#include "ZiDezaru.h"

namespace {

using test_support::RandomBytes;

typedef std::vector<uint8_t> Bytes;

// `size` bytes that end where a no-access page begins.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(size_t size) : size_(size) {
    const size_t page = 4096;
    pages_ = (size + page - 1) / page + 1;
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, pages_ * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base_ + (pages_ - 1) * page, page, PAGE_NOACCESS, &old);
    data_ = base_ + (pages_ - 1) * page - size;
  }
  GuardedBuffer(const Bytes& bytes) : GuardedBuffer(bytes.size()) {
    if (!bytes.empty()) memcpy(data_, bytes.data(), bytes.size());
  }
  ~GuardedBuffer() { VirtualFree(base_, 0, MEM_RELEASE); }
  uint8_t* data() { return data_; }
  Bytes bytes() const { return Bytes(data_, data_ + size_); }

 private:
  uint8_t* base_;
  uint8_t* data_;
  size_t pages_;
  size_t size_;
};

void Put32(Bytes* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A block with the given head and codes; the packed size covers the codes.
Bytes Block(uint32_t unpackedSize, uint8_t escape, const Bytes& codes) {
  Bytes block;
  Put32(&block, unpackedSize);
  Put32(&block, static_cast<uint32_t>(LZ_HEAD_SIZE + codes.size()));
  block.push_back(escape);
  block.insert(block.end(), codes.begin(), codes.end());
  return block;
}

// Unpacks a guarded copy of `block` into a guarded output of the size its
// head gives.
int Unpack(const Bytes& block, Bytes* out) {
  GuardedBuffer input(block);
  const uint32_t size = block.size() >= 4
                            ? (block[0] | block[1] << 8 | block[2] << 16 | static_cast<uint32_t>(block[3]) << 24)
                            : 0;
  const size_t outSize = size > (64u << 20) ? 16 : size;  // a huge head never gets that far
  GuardedBuffer output(outSize);
  const int result = UnpackLZ(input.data(), output.data());
  if (out != nullptr) *out = output.bytes();
  return result;
}

Bytes Text(const char* text) { return Bytes(text, text + strlen(text)); }

Bytes Repeat(const Bytes& unit, size_t count) {
  Bytes out;
  for (size_t i = 0; i < count; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// n literal bytes that never equal `escape`.
Bytes Literals(size_t n, uint8_t escape, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out(n);
  for (uint8_t& b : out) {
    b = static_cast<uint8_t>(random());
    if (b == escape) b = static_cast<uint8_t>(escape + 1);
  }
  return out;
}

// The expected output of a copy, done byte by byte.
void CopyBack(Bytes* out, size_t distance, size_t length) {
  for (size_t i = 0; i < length; ++i) out->push_back((*out)[out->size() - distance]);
}

// Words from a small vocabulary, like script or table text.
Bytes WordText(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"enemy", "bullet", "player", "item", "score", "stage", "speed",
                                       "angle", "0",      "120",    "3000", ",",     "\r\n",  "shot"};
  std::mt19937 random(seed);
  Bytes out;
  while (out.size() < n) {
    const char* word = kWords[random() % (sizeof(kWords) / sizeof(kWords[0]))];
    out.insert(out.end(), word, word + strlen(word));
    out.push_back(' ');
  }
  out.resize(n);
  return out;
}

class LZTest : public ::testing::Test {
 protected:
  void SetUp() override { allocCount_ = GetAllocCount(); }
  void TearDown() override { EXPECT_EQ(allocCount_, GetAllocCount()) << "blocks left behind"; }
  int allocCount_ = 0;
};

// ---------------------------------------------------------------------------
// Code forms

struct CodeCase {
  const char* name;
  Bytes block;
  Bytes expected;
};

std::vector<CodeCase> CodeCases() {
  std::vector<CodeCase> cases;

  // 0x41, an escaped 0xFE, then copy code 0: length 4, one-byte distance 0+1.
  cases.push_back(
      {"EscapeExample", Block(6, 0xFE, {0x41, 0xFE, 0xFE, 0xFE, 0x00, 0x00}), {0x41, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE}});

  // Escape + 1 stands for the escape's own value as a code: 0x10 = length
  // (0x10 >> 3) + 4 = 6, one-byte distance.
  {
    Bytes expected = Text("ABCD");
    CopyBack(&expected, 4, 6);
    cases.push_back({"EscapePlusOne", Block(10, 0x10, {'A', 'B', 'C', 'D', 0x10, 0x11, 0x03}), expected});
  }

  // 0xFF stands for 0xFE: length bits 31, extension byte, three-byte
  // distance field (0x010000 -> 65537).
  {
    const Bytes lead = Literals(65537, 0x20, 1);
    Bytes codes = lead;
    Bytes tail = {0x20, 0xFF, 0x02, 0x00, 0x00, 0x01};  // extension 2: length 31 + 64 + 4 = 99
    codes.insert(codes.end(), tail.begin(), tail.end());
    Bytes expected = lead;
    CopyBack(&expected, 65537, 99);
    cases.push_back({"Code255ThreeByteDistance", Block(static_cast<uint32_t>(expected.size()), 0x20, codes), expected});
  }

  // The longest copy: extension 255 gives 31 + 255 * 32 + 4 = 8195.
  {
    Bytes expected(1, 'x');
    CopyBack(&expected, 1, 8195);
    cases.push_back({"Length8195", Block(8196, 0x00, {'x', 0x00, 0xFD, 0xFF, 0x00}), expected});
  }

  // Two-byte distance: field 0x0100 -> 257.
  {
    const Bytes lead = Literals(300, 0x01, 2);
    Bytes codes = lead;
    Bytes tail = {0x01, 0x02, 0x00, 0x01};  // c = 1 (written 2): length 4, two-byte field
    codes.insert(codes.end(), tail.begin(), tail.end());
    Bytes expected = lead;
    CopyBack(&expected, 257, 4);
    cases.push_back({"TwoByteDistance", Block(304, 0x01, codes), expected});
  }

  // Overlapping copies repeat the last `distance` bytes, at every distance
  // below and above the 16-byte step.
  for (int distance : {1, 2, 3, 5, 7, 15, 16, 17, 31}) {
    const Bytes lead = Literals(distance, 0xF0, 3 + distance);
    const uint32_t length = 100;
    const uint32_t extra = length - 4;
    Bytes codes = lead;
    Bytes tail = {0xF0, static_cast<uint8_t>(((extra & 31) << 3) | 4), static_cast<uint8_t>(extra >> 5),
                  static_cast<uint8_t>(distance - 1)};
    codes.insert(codes.end(), tail.begin(), tail.end());
    Bytes expected = lead;
    CopyBack(&expected, distance, length);
    cases.push_back({"Overlap", Block(static_cast<uint32_t>(expected.size()), 0xF0, codes), expected});
  }

  // A copy, literals and a second copy; the output ends exactly on a copy.
  {
    Bytes expected = Text("hello, ");
    CopyBack(&expected, 7, 5);
    Bytes more = Text("world");
    expected.insert(expected.end(), more.begin(), more.end());
    CopyBack(&expected, 5, 5);
    Bytes codes = Concat({Text("hello, "), {0x00, 0x09, 0x06}, Text("world"), {0x00, 0x09, 0x04}});
    cases.push_back({"CopiesBetweenLiterals", Block(static_cast<uint32_t>(expected.size()), 0x00, codes), expected});
  }

  cases.push_back({"Empty", Block(0, 0x00, {}), {}});
  return cases;
}

TEST_F(LZTest, CodeFormsUnpackAsSpecified) {
  for (const CodeCase& c : CodeCases()) {
    SCOPED_TRACE(c.name);
    Bytes out;
    EXPECT_EQ(static_cast<int>(c.expected.size()), Unpack(c.block, &out));
    EXPECT_EQ(c.expected, out);
  }
}

TEST_F(LZTest, NullDestinationGivesTheSizeOnly) {
  const Bytes block = Block(6, 0xFE, {0x41, 0xFE, 0xFE, 0xFE, 0x00, 0x00});
  EXPECT_EQ(6, UnpackLZ(block.data(), nullptr));
  EXPECT_EQ(-1, UnpackLZ(nullptr, nullptr));
}

// ---------------------------------------------------------------------------
// Held-out blocks: written here from the code rules alone (not by the
// packer), with lengths and distances at the edges of every form, escaped
// escape bytes, and sizes around the point where the unpacker's wide steps
// give way to its last bytes.

// Writes blocks code by code and keeps the bytes they stand for.
class BlockWriter {
 public:
  explicit BlockWriter(uint8_t escape) : escape_(escape) {}
  void Literal(uint8_t b) {
    codes_.push_back(b);
    if (b == escape_) codes_.push_back(b);
    expected_.push_back(b);
  }
  void Copy(uint32_t length, uint32_t distance) {
    CopyCode(length, distance);
    CopyBack(&expected_, distance, length);
  }
  // The code bytes of a copy, with no output: for damaged blocks.
  void CopyCode(uint32_t length, uint32_t distance) {
    const uint32_t extra = length - 4;
    const uint32_t field = distance - 1;
    const unsigned fieldSize = field < 0x100 ? 1 : field < 0x10000 ? 2 : 3;
    unsigned c = ((extra & 31) << 3) | (extra >= 32 ? 4 : 0) | (fieldSize - 1);
    if (c >= escape_) ++c;
    codes_.push_back(escape_);
    codes_.push_back(static_cast<uint8_t>(c));
    if (extra >= 32) codes_.push_back(static_cast<uint8_t>(extra >> 5));
    for (unsigned i = 0; i < fieldSize; ++i) codes_.push_back(static_cast<uint8_t>(field >> (8 * i)));
  }
  size_t codeSize() const { return codes_.size(); }
  size_t size() const { return expected_.size(); }
  Bytes block() const { return Block(static_cast<uint32_t>(expected_.size()), escape_, codes_); }
  const Bytes& expected() const { return expected_; }

 private:
  uint8_t escape_;
  Bytes codes_;
  Bytes expected_;
};

TEST_F(LZTest, HeldOutBlocksUnpackExactly) {
  static const uint32_t kLengths[] = {4,  5,  6,  7,  8,  15, 16,  17,  20,  31,  32,   33,   35,   36,  37,
                                      47, 48, 49, 63, 64, 65, 100, 255, 256, 257, 1000, 4095, 8194, 8195};
  static const uint32_t kDistances[] = {1,   2,   3,    4,    5,     6,     7,     8,      9,     12, 15,
                                        16,  17,  24,   31,   32,    33,    48,    63,     64,    65, 255,
                                        256, 257, 1000, 4096, 65535, 65536, 65537, 100000, 300000};
  std::mt19937 random(31);
  int blocks = 0;
  for (int escape : {0x00, 0x01, 0x41, 0x7F, 0xFE, 0xFF}) {
    for (int round = 0; round < 12; ++round) {
      SCOPED_TRACE(testing::Message() << "escape " << escape << " round " << round);
      BlockWriter w(static_cast<uint8_t>(escape));
      const size_t target = round < 4 ? 2000 : round < 8 ? 40000 : 400000;
      // A first run of literals, some of them the escape byte.
      for (int i = 0; i < 40; ++i) w.Literal(static_cast<uint8_t>(i % 5 == 0 ? escape : random()));
      while (w.size() < target) {
        const unsigned kind = random() % 8;
        if (kind < 3) {
          const unsigned n = random() % 4 == 0 ? random() % 200 : random() % 6;
          for (unsigned i = 0; i < n; ++i) w.Literal(static_cast<uint8_t>(random() % 16 == 0 ? escape : random()));
          continue;
        }
        uint32_t length = kLengths[random() % (sizeof(kLengths) / sizeof(kLengths[0]))];
        uint32_t distance = kind == 7 ? 1 + random() % static_cast<uint32_t>(w.size())
                                      : kDistances[random() % (sizeof(kDistances) / sizeof(kDistances[0]))];
        if (distance > w.size()) distance = static_cast<uint32_t>(w.size());
        if (length > 300 && random() % 4 != 0) length = 4 + random() % 60;
        w.Copy(length, distance);
      }
      // The block ends on a copy, an escaped escape or a plain literal.
      if (round % 3 == 0) w.Copy(4 + round, 1 + round);
      if (round % 3 == 1) w.Literal(static_cast<uint8_t>(escape));
      Bytes out;
      ASSERT_EQ(static_cast<int>(w.size()), Unpack(w.block(), &out));
      ASSERT_EQ(w.expected(), out);
      ++blocks;
    }
  }
  // Every block size from 2 to 300 bytes, so that each code form also meets
  // the end of the block.
  for (uint32_t size = 2; size <= 300; ++size) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    BlockWriter w(0xE0);
    w.Literal(static_cast<uint8_t>(size));
    w.Literal(0xE0);
    while (w.size() < size) {
      const uint32_t left = size - static_cast<uint32_t>(w.size());
      if (left < 4 || random() % 3 == 0) {
        w.Literal(static_cast<uint8_t>(random() % 3 == 0 ? 0xE0 : random()));
        continue;
      }
      const uint32_t length = 4 + random() % std::min<uint32_t>(left - 3, 40);
      w.Copy(length, 1 + random() % static_cast<uint32_t>(w.size()));
    }
    Bytes out;
    ASSERT_EQ(static_cast<int>(size), Unpack(w.block(), &out));
    ASSERT_EQ(w.expected(), out);
    ++blocks;
  }
  EXPECT_EQ(6 * 12 + 299, blocks);
}

// The same held-out codes with one byte of the output missing: the last
// code would write past the end and must fail with nothing written there.
TEST_F(LZTest, HeldOutBlocksOneByteShortFail) {
  std::mt19937 random(32);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    BlockWriter w(0x55);
    for (int i = 0; i < 64 + round; ++i) w.Literal(static_cast<uint8_t>(random()));
    const int ending = round % 3;
    if (ending == 0) w.Copy(4 + random() % 100, 1 + random() % 30);
    if (ending == 1) w.Literal(0x55);
    if (ending == 2) w.Copy(8195, 64);
    Bytes block = w.block();
    const uint32_t shorter = static_cast<uint32_t>(w.size() - 1);
    for (int i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>(shorter >> (8 * i));
    EXPECT_EQ(-1, Unpack(block, nullptr));
  }
}

// Blocks that put one code at every distance from the end of the codes and
// of the output, across the point where the unpacker's wide steps give way
// to its last bytes: a lead of literals, the code under test, then a tail
// of 0 to 63 literals (with a short copy after them in half the blocks, so
// that the output's end and the codes' end fall at different places).
enum ProbeKind { PROBE_COPY, PROBE_RUN, PROBE_ESCAPED };
struct Probe {
  ProbeKind kind;
  uint32_t length;    // copy length, or literal run length
  uint32_t distance;  // copy distance, or where the escape byte sits in the run (0: none; 1: first and last)
};

std::vector<Probe> BoundaryProbes() {
  std::vector<Probe> probes;
  // Overlapping copies at distances 1 to 20, lengths on both sides of 16
  // and 32 and of the extension byte (35 is the longest without it).
  static const uint32_t kLengths[] = {4, 5, 8, 15, 16, 17, 31, 32, 33, 35, 36, 37, 64, 65, 100};
  for (uint32_t distance = 1; distance <= 20; ++distance)
    for (uint32_t length : kLengths) probes.push_back({PROBE_COPY, length, distance});
  for (uint32_t distance : {31u, 32u, 33u, 47u, 48u, 49u, 64u})
    for (uint32_t length : {4u, 33u, 36u}) probes.push_back({PROBE_COPY, length, distance});
  // Literal runs around 13 (the shortest run the escape scan after a code
  // may miss), 16, 32 and 64, some with an escaped escape inside.
  for (uint32_t length : {1u, 12u, 13u, 14u, 15u, 16u, 17u, 31u, 32u, 33u, 47u, 63u, 64u, 65u, 70u}) {
    probes.push_back({PROBE_RUN, length, 0});
    probes.push_back({PROBE_RUN, length, length / 2 + 1});
  }
  // Escaped escape bytes first and last with 14 to 16 literals between:
  // the second at the edge of the 16 bytes scanned after the first.
  for (uint32_t length : {16u, 17u, 18u}) probes.push_back({PROBE_RUN, length, 1});
  probes.push_back({PROBE_ESCAPED, 1, 0});
  return probes;
}

// Writes the block for `probe` with `tail` literals after it. `damage`:
// 0 none; 1 the copy's distance reaches one byte before the output's start.
BlockWriter BoundaryBlock(const Probe& probe, uint32_t tail, bool copyAfterTail, uint8_t escape, int damage) {
  BlockWriter w(escape);
  std::mt19937 random(probe.length * 131 + probe.distance * 7 + tail);
  auto literal = [&]() {
    uint8_t b = static_cast<uint8_t>(random());
    if (b == escape) b = static_cast<uint8_t>(b + 1);
    w.Literal(b);
  };
  // The lead: enough output for distance 64, with a copy and an escaped
  // escape byte so that the fast loop runs before the probe.
  for (int i = 0; i < 40; ++i) literal();
  w.Literal(escape);
  w.Copy(30, 7);
  switch (probe.kind) {
    case PROBE_COPY:
      if (damage == 1) w.CopyCode(probe.length, static_cast<uint32_t>(w.size()) + 1);
      else w.Copy(probe.length, probe.distance);
      break;
    case PROBE_RUN:
      for (uint32_t i = 1; i <= probe.length; ++i) {
        if (i == probe.distance || (probe.distance == 1 && i == probe.length)) w.Literal(escape);
        else literal();
      }
      break;
    case PROBE_ESCAPED: w.Literal(escape); break;
  }
  for (uint32_t i = 0; i < tail; ++i) literal();
  if (copyAfterTail) w.Copy(9, 3);
  return w;
}

TEST_F(LZTest, BoundaryBlocksUnpackExactly) {
  int blocks = 0;
  for (const Probe& probe : BoundaryProbes())
    for (uint32_t tail = 0; tail < 64; ++tail)
      for (bool copyAfterTail : {false, true}) {
        SCOPED_TRACE(testing::Message() << "kind " << probe.kind << " length " << probe.length << " distance "
                                        << probe.distance << " tail " << tail << " copy " << copyAfterTail);
        const uint8_t escape = static_cast<uint8_t>(tail % 3 == 0 ? 0x00 : tail % 3 == 1 ? 0x7F : 0xFF);
        const BlockWriter w = BoundaryBlock(probe, tail, copyAfterTail, escape, 0);
        Bytes out;
        ASSERT_EQ(static_cast<int>(w.size()), Unpack(w.block(), &out));
        ASSERT_EQ(w.expected(), out);
        ++blocks;
      }
  EXPECT_GT(blocks, 40000);
}

// The same blocks damaged at each of those places: a size one byte short or
// one byte long, a copy reaching before the output's start, and codes cut
// off inside the last code.
TEST_F(LZTest, BoundaryBlocksDamagedFail) {
  for (const Probe& probe : BoundaryProbes())
    for (uint32_t tail = 0; tail < 64; tail += probe.kind == PROBE_COPY ? 1 : 3) {
      SCOPED_TRACE(testing::Message() << "kind " << probe.kind << " length " << probe.length << " distance "
                                      << probe.distance << " tail " << tail);
      const bool copyAfterTail = tail % 2 == 1;
      const BlockWriter w = BoundaryBlock(probe, tail, copyAfterTail, 0x41, 0);
      for (int delta : {-1, 1}) {
        Bytes block = w.block();
        const uint32_t size = static_cast<uint32_t>(w.size() + delta);
        for (int i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>(size >> (8 * i));
        EXPECT_EQ(-1, Unpack(block, nullptr)) << "size " << delta;
      }
      if (probe.kind == PROBE_COPY) {
        const BlockWriter bad = BoundaryBlock(probe, tail, copyAfterTail, 0x41, 1);
        EXPECT_EQ(-1, Unpack(bad.block(), nullptr)) << "distance before the start";
      }
      if (copyAfterTail) {
        // The last code is the 3-byte copy: cut one or two of its bytes.
        for (uint32_t cut : {1u, 2u}) {
          Bytes block = w.block();
          block.resize(block.size() - cut);
          const uint32_t packed = static_cast<uint32_t>(block.size());
          for (int i = 0; i < 4; ++i) block[4 + i] = static_cast<uint8_t>(packed >> (8 * i));
          EXPECT_EQ(-1, Unpack(block, nullptr)) << "cut " << cut;
        }
      }
    }
}

// ---------------------------------------------------------------------------
// Damaged blocks

TEST_F(LZTest, DamagedBlocksFailWithoutStrayAccess) {
  struct Case {
    const char* name;
    Bytes block;
  };
  Bytes shortHead = Block(4, 0x00, {});
  shortHead[4] = 8;  // packed size below the head
  Bytes hugeSize = Block(0x80000000u, 0x00, {'a'});
  const Bytes lead300 = Literals(300, 0x00, 9);

  const Case cases[] = {
      {"PackedSizeBelowHead", shortHead},
      {"UnpackedSizeAboveIntRange", hugeSize},
      {"EscapeAtTheEnd", Block(2, 0x00, {'a', 0x00})},
      {"CopyWithoutDistance", Block(5, 0x00, {'a', 0x00, 0x01})},
      {"ExtensionByteMissing", Block(40, 0x00, {'a', 0x00, 0x05})},
      {"TwoByteDistanceCutShort", Block(5, 0x00, {'a', 0x00, 0x02, 0x00})},
      {"ThreeByteDistanceCutShort", Block(5, 0x00, {'a', 0x00, 0x03, 0x00, 0x00})},
      {"OutputShortOfItsSize", Block(10, 0x00, {'a', 'b', 'c'})},
      {"LiteralsPastTheSize", Block(2, 0x00, {'a', 'b', 'c'})},
      {"EscapedLiteralPastTheSize", Block(1, 0x00, {'a', 0x00, 0x00})},
      {"DistanceBeforeTheStart", Block(8, 0x00, {'a', 'b', 'c', 'd', 0x00, 0x01, 0x04})},
      {"CopyAtTheVeryStart", Block(4, 0x00, {0x00, 0x01, 0x00})},
      {"ThreeByteDistanceBeforeTheStart", Block(310, 0x00, Concat({lead300, {0x00, 0x03, 0x00, 0x00, 0x01}}))},
      {"CopyPastTheSize", Block(7, 0x00, {'a', 'b', 'c', 'd', 0x00, 0x01, 0x00})},
      {"LongCopyPastTheSize", Block(100, 0x00, {'a', 0x00, 0xFD, 0xFF, 0x00})},
      {"DistanceSizeThree", Block(8, 0x00, {'a', 'b', 'c', 'd', 0x00, 0x04, 0x00, 0x00, 0x00, 0x00})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(-1, Unpack(c.block, nullptr));
  }
}

// Packed size smaller than the codes: the unpacker stops at the packed
// size even though valid codes follow.
TEST_F(LZTest, CodesAfterThePackedSizeAreNotRead) {
  Bytes block = Block(6, 0x00, {'a', 'b', 'c', 'd', 'e', 'f'});
  block[4] = static_cast<uint8_t>(LZ_HEAD_SIZE + 3);
  GuardedBuffer input(block);
  GuardedBuffer output(6);
  EXPECT_EQ(-1, UnpackLZ(input.data(), output.data()));
}

TEST_F(LZTest, RandomDamageNeverCrashes) {
  const Bytes source = Concat({WordText(3000, 5), RandomBytes(500, 6), Repeat(Text("ab"), 300)});
  const Bytes good = PackLZ(source.data(), source.size());
  std::mt19937 random(7);
  int failures = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes block = good;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      const size_t at = LZ_HEAD_SIZE + random() % (block.size() - LZ_HEAD_SIZE);
      block[at] = static_cast<uint8_t>(random());
    }
    if (round % 5 == 0) {
      // Cut the codes short as a truncated file would.
      const uint32_t cut = static_cast<uint32_t>(LZ_HEAD_SIZE + random() % (block.size() - LZ_HEAD_SIZE));
      block.resize(cut);
      for (int i = 0; i < 4; ++i) block[4 + i] = static_cast<uint8_t>(cut >> (8 * i));
    }
    const int result = Unpack(block, nullptr);
    if (result < 0) ++failures;
    else EXPECT_EQ(static_cast<int>(source.size()), result);
  }
  EXPECT_GT(failures, 0);
}

// ---------------------------------------------------------------------------
// Packer

struct RoundTrip {
  const char* name;
  Bytes data;
  double maxRatio;  // packed size / size must stay below this
  int escape;
};

std::vector<RoundTrip> RoundTrips() {
  Bytes everyByte;
  for (int r = 0; r < 40; ++r)
    for (int b = 0; b < 256; ++b) everyByte.push_back(static_cast<uint8_t>(b));
  const Bytes farPart = RandomBytes(100000, 11);  // repeats only 100000 bytes back
  const Bytes nearPart = RandomBytes(300, 12);
  return {
      {"Empty", {}, 10.0, -1},
      {"OneByte", Text("a"), 11.0, -1},
      {"ShortText", Text("abcabcabcabcabcabcabc"), 1.0, -1},
      {"Zeros", Bytes(100000, 0), 0.01, -1},
      {"WordText", WordText(200000, 13), 0.3, -1},
      {"Random", RandomBytes(65536, 14), 1.01, -1},
      {"EveryByteValue", everyByte, 0.05, -1},
      {"FarRepeat", Concat({farPart, farPart}), 0.51, -1},
      {"NearRepeats", Repeat(Concat({nearPart, Text("x")}), 50), 0.05, -1},
      {"EscapeIsFrequent", WordText(50000, 15), 0.3, 'e'},
      {"LongestCopies", Bytes(LZ_MAX_LENGTH * 3 + 7, 0x55), 0.01, -1},
  };
}

TEST_F(LZTest, PackerRoundTripsAndFindsMatches) {
  for (const RoundTrip& t : RoundTrips()) {
    SCOPED_TRACE(t.name);
    LZPackOptions options;
    options.escape = t.escape;
    const Bytes block = PackLZ(t.data.data(), t.data.size(), options);
    ASSERT_GE(block.size(), static_cast<size_t>(LZ_HEAD_SIZE));
    EXPECT_EQ(block.size(), block[4] | block[5] << 8 | block[6] << 16 | static_cast<size_t>(block[7]) << 24);
    EXPECT_LT(static_cast<double>(block.size()), t.maxRatio * static_cast<double>(t.data.size()) + LZ_HEAD_SIZE + 1);
    Bytes out;
    EXPECT_EQ(static_cast<int>(t.data.size()), Unpack(block, &out));
    EXPECT_EQ(t.data, out);
  }
}

// Without lazy matching and with short chains the output is still exact.
TEST_F(LZTest, PackerSettingsKeepTheBytes) {
  const Bytes data = Concat({WordText(30000, 16), RandomBytes(3000, 17), WordText(30000, 16)});
  for (int lazy : {0, 1})
    for (int chain : {1, 4, 4096}) {
      SCOPED_TRACE(testing::Message() << "lazy " << lazy << " chain " << chain);
      LZPackOptions options;
      options.lazy = lazy;
      options.chainLimit = chain;
      const Bytes block = PackLZ(data.data(), data.size(), options);
      Bytes out;
      EXPECT_EQ(static_cast<int>(data.size()), Unpack(block, &out));
      EXPECT_EQ(data, out);
    }
}

// The fewest code bytes that can write `data`, found without the packer: at
// every position every earlier occurrence of its first four bytes is
// compared, and each copy length is priced at its cheapest distance.
size_t SmallestCodeSize(const Bytes& data, uint8_t escape) {
  auto copyCost = [](size_t length, size_t distance) {
    const size_t field = distance - 1;
    return 2 + (length - LZ_MIN_LENGTH >= 32 ? 1 : 0) + (field < 0x100 ? 1 : field < 0x10000 ? 2 : 3);
  };
  const size_t n = data.size();
  std::vector<size_t> cost(n + 1, SIZE_MAX);
  cost[0] = 0;
  std::unordered_map<uint32_t, std::vector<size_t>> seen;  // positions by their first four bytes
  for (size_t i = 0; i < n; ++i) {
    cost[i + 1] = std::min(cost[i + 1], cost[i] + (data[i] == escape ? 2 : 1));
    if (i + LZ_MIN_LENGTH > n) continue;
    uint32_t key;
    memcpy(&key, &data[i], 4);
    std::vector<size_t>& earlier = seen[key];
    const size_t most = std::min<size_t>(LZ_MAX_LENGTH, n - i);
    size_t longest = LZ_MIN_LENGTH - 1;
    for (size_t k = earlier.size(); k-- > 0 && longest < most;) {
      const size_t from = earlier[k];
      size_t length = 0;
      while (length < most && data[from + length] == data[i + length]) ++length;
      // Nearer occurrences were seen first, so lengths up to `longest` had a
      // cheaper distance already.
      for (size_t l = longest + 1; l <= length; ++l)
        cost[i + l] = std::min(cost[i + l], cost[i] + copyCost(l, i - from));
      longest = std::max(longest, length);
    }
    earlier.push_back(i);
  }
  return cost[n];
}

// Words of random letters, a few far more frequent than the rest, with
// numbers and line ends.
Bytes RankedWords(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<std::string> words(500);
  for (std::string& word : words)
    for (size_t j = 2 + random() % 8; j > 0; --j) word += static_cast<char>('a' + random() % 26);
  Bytes out;
  while (out.size() < n) {
    const double u = (random() % 100000) / 100000.0;
    const std::string& word = words[static_cast<size_t>(words.size() * u * u * u)];
    out.insert(out.end(), word.begin(), word.end());
    const std::string tail = random() % 10 == 0 ? " " + std::to_string(random() % 10000) + ".\n" : " ";
    out.insert(out.end(), tail.begin(), tail.end());
  }
  out.resize(n);
  return out;
}

// The optimal parse leaves nothing on the table: no sequence of codes the
// unpacker accepts is shorter than the packer's.
TEST_F(LZTest, PackerWritesTheFewestBytesTheCodesAllow) {
  Bytes everyValue = RandomBytes(20000, 31);
  for (int b = 0; b < 256; ++b) everyValue.push_back(static_cast<uint8_t>(b));
  everyValue.push_back(0x41);  // 0x41 is no longer the least frequent byte
  const struct {
    const char* name;
    Bytes data;
    int escape;
  } cases[] = {
      {"RankedWords", RankedWords(40000, 21), -1},
      {"WordText", WordText(12000, 22), -1},
      {"FrequentEscape", WordText(8000, 23), ' '},
      {"NearAndFarRepeats",
       Concat(
           {RandomBytes(300, 24), RankedWords(70000, 25), RandomBytes(300, 24), Bytes(600, 7), RankedWords(3000, 25)}),
       -1},
      {"EveryByteValue", Concat({everyValue, everyValue}), -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LZPackOptions options;
    options.escape = c.escape;
    const Bytes block = PackLZ(c.data.data(), c.data.size(), options);
    const uint8_t escape = block[8];
    if (c.escape >= 0) {
      EXPECT_EQ(c.escape, escape);
    } else {
      size_t counts[256] = {};
      for (uint8_t b : c.data) ++counts[b];
      EXPECT_EQ(*std::min_element(counts, counts + 256), counts[escape]);
    }
    EXPECT_EQ(SmallestCodeSize(c.data, escape), block.size() - LZ_HEAD_SIZE);
    Bytes out;
    EXPECT_EQ(static_cast<int>(c.data.size()), Unpack(block, &out));
    EXPECT_EQ(c.data, out);
  }
}

}  // namespace
