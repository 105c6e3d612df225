// Archive file layer: archives standing in for folders, reading members of
// every version, shared archives, handles, searches and wildcards, limits,
// damaged members, and the archives the command-line packer made at build
// time. Each test works in a fresh current directory with the layer's
// functions installed as the file-stream table.
#include <gtest/gtest.h>

#include <string.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ArchivePacker.h"
#include "DaDode.h"
#include "LogCapture.h"
#include "PackerSamples.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "RoRezedur_.h"
#include "TestFiles.h"
#include "ZeZezuDoz.h"
#include "ZiDezaru.h"

namespace {

using test_support::File;
using test_support::FileTimeOf;
using test_support::Folder;
using test_support::LogCapture;
using test_support::NewTempFolder;
using test_support::Options;
using test_support::PixelBytes;
using test_support::RandomBytes;
using test_support::ReadFileBytes;
using test_support::RemoveTree;
using test_support::TextBytes;
using test_support::WriteFileBytes;

typedef std::vector<uint8_t> Bytes;

std::vector<PackerEntry> SampleEntries() {
  return {
      File("player\\thiko.png", PixelBytes(30000)),       File("readme.txt", TextBytes("quinsel\r\nimages\r\n")),
      File("data\\enemy_ptn.csv", RandomBytes(70000, 1)), File("empty.bin", {}),
      File("sub\\deep\\noise.bin", RandomBytes(3001, 2)),
  };
}

void WriteArchive(const std::string& path, const std::vector<PackerEntry>& entries, const PackerOptions& options) {
  Bytes archive;
  std::string error;
  ASSERT_TRUE(BuildArchive(entries, options, &archive, nullptr, &error)) << error;
  WriteFileBytes(path, archive);
}

// Waits until no asynchronous read is pending (at most 10 s).
bool WaitIdle(StreamHandle stream) {
  for (int i = 0; i < 10000; ++i) {
    if (FileStreamIdleCheck(stream) == 1) return true;
    Sleep(1);
  }
  return false;
}

// The whole file through the file-stream table in uneven pieces; a marker
// byte when it does not open.
Bytes ReadThroughStreams(const std::string& path, int async = 0) {
  const StreamHandle stream = FileStreamOpen(path.c_str(), 0, 1, async);
  if (stream == 0) return Bytes(1, 0xEE);
  Bytes bytes;
  unsigned char buffer[777];
  for (;;) {
    const size_t got = FileStreamRead(buffer, 1, sizeof(buffer), stream);
    EXPECT_TRUE(WaitIdle(stream));
    if (got == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  EXPECT_NE(0, FileStreamEof(stream));
  EXPECT_EQ(0, FileStreamClose(stream));
  return bytes;
}

ArchiveLayerStats Stats() {
  ArchiveLayerStats stats = {};
  GetArchiveLayerStats(&stats);
  return stats;
}

class ArchiveFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    allocCount_ = GetAllocCount();
    folder_ = NewTempFolder("arcfile");
    GetCurrentDirectoryA(sizeof(savedDirectory_), savedDirectory_);
    ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
    EXPECT_EQ(0, StartArchiveLayer());
    SetupFileStreamFunctions(GetArchiveFileFunctions());
  }
  void TearDown() override {
    EXPECT_EQ(0, Stats().openFiles) << "files left open";
    SetArchiveKeyText(nullptr);
    EXPECT_EQ(0, EndArchiveLayer());
    EXPECT_EQ(0, Stats().openArchives) << "archives left open";
    SetupFileStreamFunctions(nullptr);
    SetCurrentDirectoryA(savedDirectory_);
    RemoveTree(folder_);
    EXPECT_EQ(allocCount_, GetAllocCount()) << "blocks left behind";
  }
  std::string PathOf(const std::string& name) const { return folder_ + "\\" + name; }
  void MakeFolder(const std::string& name) { CreateDirectoryA(PathOf(name).c_str(), nullptr); }

  std::string folder_;
  char savedDirectory_[MAX_PATH] = {};
  int allocCount_ = 0;
};

// ---------------------------------------------------------------------------
// Round trips

struct Variant {
  int version;
  int pack;
  const char* key;
  int async;
};

std::string VariantName(const testing::TestParamInfo<Variant>& info) {
  const Variant& v = info.param;
  return "V" + std::to_string(v.version) + (v.pack == PACK_NEVER ? "Stored" : "Packed") + (v.key[0] ? "Key" : "NoKey") +
         (v.async ? "Async" : "");
}

std::vector<Variant> Variants() {
  std::vector<Variant> variants;
  for (int version : {1, 3, 5, 6})
    for (int pack : {PACK_NEVER, PACK_ALWAYS})
      for (const char* key : {"", "round trip key"})
        for (int async : {0, 1}) variants.push_back({version, pack, key, async});
  return variants;
}

class ArchiveRoundTripTest : public ArchiveFileTest, public ::testing::WithParamInterface<Variant> {};

TEST_P(ArchiveRoundTripTest, MembersReadBackByteIdentical) {
  WriteArchive(PathOf("img.RVA"), SampleEntries(), Options(GetParam().version, GetParam().pack, GetParam().key));
  SetArchiveKeyText(GetParam().key);
  for (const PackerEntry& entry : SampleEntries()) {
    SCOPED_TRACE(entry.path);
    EXPECT_EQ(entry.data, ReadThroughStreams("img\\" + entry.path, GetParam().async));
  }
  // Full and odd forms of one path.
  EXPECT_EQ(PixelBytes(30000), ReadThroughStreams(PathOf("IMG\\PLAYER\\THIKO.PNG"), GetParam().async));
  EXPECT_EQ(PixelBytes(30000), ReadThroughStreams("img/./sub/../player/thiko.png", GetParam().async));
  EXPECT_EQ(1, Stats().tableLoads);
}

// Reads scattered over a member after seeks give the same bytes as the file.
TEST_P(ArchiveRoundTripTest, SeeksAndPieces) {
  WriteArchive(PathOf("img.RVA"), SampleEntries(), Options(GetParam().version, GetParam().pack, GetParam().key));
  SetArchiveKeyText(GetParam().key);
  const Bytes expected = RandomBytes(70000, 1);
  const StreamHandle stream = FileStreamOpen("img\\data\\enemy_ptn.csv", 0, 1, GetParam().async);
  ASSERT_NE(0u, stream);
  std::mt19937 random(9);
  for (int i = 0; i < 50; ++i) {
    const uint64_t at = random() % expected.size();
    const size_t size = 1 + random() % 5000;
    ASSERT_EQ(0, FileStreamSeek(stream, static_cast<int64_t>(at), FILE_STREAM_SEEK_SET));
    Bytes piece(size);
    const size_t got = FileStreamRead(piece.data(), 1, size, stream);
    ASSERT_TRUE(WaitIdle(stream));
    ASSERT_EQ(std::min<uint64_t>(size, expected.size() - at), got);
    EXPECT_TRUE(std::equal(piece.begin(), piece.begin() + got, expected.begin() + at)) << "at " << at;
    EXPECT_EQ(static_cast<int64_t>(at + got), FileStreamTell(stream));
  }
  EXPECT_EQ(0, FileStreamClose(stream));
}

INSTANTIATE_TEST_SUITE_P(Versions, ArchiveRoundTripTest, ::testing::ValuesIn(Variants()), VariantName);

// ---------------------------------------------------------------------------
// Archives standing in for folders

TEST_F(ArchiveFileTest, ArchiveWithoutFolderServesTheFile) {
  WriteArchive(PathOf("img.RVA"), SampleEntries(), Options(6));
  EXPECT_FALSE(GetFileAttributesA(PathOf("img").c_str()) != INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(PixelBytes(30000), ReadThroughStreams("img/player/thiko.png"));
  EXPECT_EQ(Bytes(1, 0xEE), ReadThroughStreams("img/player/missing.png"));
}

TEST_F(ArchiveFileTest, ArchiveWinsOverTheFolder) {
  WriteArchive(PathOf("img.RVA"), SampleEntries(), Options(6));
  MakeFolder("img");
  MakeFolder("img\\player");
  WriteFileBytes(PathOf("img\\player\\thiko.png"), TextBytes("disk copy"));
  WriteFileBytes(PathOf("img\\only_on_disk.txt"), TextBytes("disk only"));
  EXPECT_EQ(PixelBytes(30000), ReadThroughStreams("img/player/thiko.png"));
  EXPECT_EQ(Bytes(1, 0xEE), ReadThroughStreams("img/only_on_disk.txt"));
  EXPECT_EQ(0, Stats().openFiles);
  // Nothing stays held by the failed open.
  EXPECT_EQ(0, CloseUnusedArchives());
  EXPECT_EQ(0, Stats().openArchives);
}

TEST_F(ArchiveFileTest, OutermostArchiveIsUsed) {
  WriteArchive(PathOf("a.RVA"), {File("b\\c", TextBytes("outer"))}, Options(6));
  MakeFolder("a");
  WriteArchive(PathOf("a\\b.RVA"), {File("c", TextBytes("inner")), File("d", TextBytes("inner only"))}, Options(6));
  EXPECT_EQ(TextBytes("outer"), ReadThroughStreams("a\\b\\c"));
  EXPECT_EQ(Bytes(1, 0xEE), ReadThroughStreams("a\\b\\d"));
  EXPECT_EQ(1, Stats().openArchives);
}

TEST_F(ArchiveFileTest, PlainFilesAndLookAlikeFolders) {
  WriteArchive(PathOf("img.RVA"), SampleEntries(), Options(6));
  MakeFolder("img2");
  WriteFileBytes(PathOf("img2\\x.txt"), TextBytes("img2 on disk"));
  WriteFileBytes(PathOf("top.txt"), TextBytes("top"));
  EXPECT_EQ(TextBytes("img2 on disk"), ReadThroughStreams("img2\\x.txt"));
  EXPECT_EQ(TextBytes("top"), ReadThroughStreams("top.txt"));
  EXPECT_EQ(Bytes(1, 0xEE), ReadThroughStreams("nothing\\here.txt"));
  // Empty components drop out of the full path, as on disk.
  EXPECT_EQ(TextBytes("quinsel\r\nimages\r\n"), ReadThroughStreams("img\\\\readme.txt"));
  // A damaged archive stands for nothing: the folder is read, and the log
  // says why.
  LogCapture log(PathOf("log"));
  WriteFileBytes(PathOf("img2.RVA"), TextBytes("not an archive at all"));
  EXPECT_EQ(TextBytes("img2 on disk"), ReadThroughStreams("img2\\x.txt"));
  EXPECT_NE(std::string::npos, log.Text().find("IMG2.RVA を開けませんでした、壊れているか鍵が違います\r\n"));
}

TEST_F(ArchiveFileTest, ClosingTheLastMemberKeepsTheArchiveOpen) {
  WriteArchive(PathOf("img.RVA"), SampleEntries(), Options(5));
  const StreamHandle first = FileStreamOpen("img\\readme.txt", 0, 1, 0);
  ASSERT_NE(0u, first);
  EXPECT_EQ(ARCHIVE_HANDLE_TAG, first & ARCHIVE_HANDLE_TAG);
  EXPECT_EQ(1, Stats().openFiles);
  EXPECT_EQ(0, FileStreamClose(first));
  EXPECT_EQ(1, Stats().openArchives);
  EXPECT_EQ(1, Stats().tableLoads);

  // Later opens use the open archive (through the cache and without it).
  EXPECT_EQ(TextBytes("quinsel\r\nimages\r\n"), ReadThroughStreams("img\\readme.txt"));
  EXPECT_EQ(PixelBytes(30000), ReadThroughStreams(PathOf("img\\player\\thiko.png")));
  WriteFileBytes(PathOf("other.txt"), TextBytes("o"));
  EXPECT_EQ(TextBytes("o"), ReadThroughStreams("other.txt"));
  EXPECT_EQ(PixelBytes(30000), ReadThroughStreams("IMG\\PLAYER\\THIKO.PNG"));
  EXPECT_EQ(1, Stats().tableLoads);

  // Unused archives close on request, and open again on the next use.
  EXPECT_EQ(0, CloseUnusedArchives());
  EXPECT_EQ(0, Stats().openArchives);
  EXPECT_EQ(TextBytes("quinsel\r\nimages\r\n"), ReadThroughStreams("img\\readme.txt"));
  EXPECT_EQ(2, Stats().tableLoads);
}

TEST_F(ArchiveFileTest, ArchivesInUseStayOpenWhenUnusedOnesClose) {
  WriteArchive(PathOf("a.RVA"), SampleEntries(), Options(6));
  WriteArchive(PathOf("b.RVA"), SampleEntries(), Options(3));
  const StreamHandle held = FileStreamOpen("a\\readme.txt", 0, 1, 0);
  ASSERT_NE(0u, held);
  EXPECT_EQ(PixelBytes(30000), ReadThroughStreams("b\\player\\thiko.png"));
  EXPECT_EQ(2, Stats().openArchives);
  EXPECT_EQ(0, CloseUnusedArchives());
  EXPECT_EQ(1, Stats().openArchives);
  unsigned char buffer[7];
  EXPECT_EQ(7u, FileStreamRead(buffer, 1, 7, held));
  EXPECT_EQ(0, memcmp(buffer, "quinsel", 7));
  EXPECT_EQ(0, FileStreamClose(held));
}

// ---------------------------------------------------------------------------
// Handles, reads, seeks and ends

TEST_F(ArchiveFileTest, UnknownHandlesAreRefused) {
  WriteArchive(PathOf("img.RVA"), SampleEntries(), Options(6));
  const StreamHandle open = ArchiveFileOpen("img\\readme.txt", 0, 1, 0);
  ASSERT_NE(0u, open);
  const StreamHandle stale = ArchiveFileOpen("img\\empty.bin", 0, 1, 0);
  ASSERT_NE(0u, stale);
  ASSERT_EQ(0, ArchiveFileClose(stale));

  const StreamHandle handles[] = {
      0,
      stale,
      ARCHIVE_HANDLE_TAG | 12345,                  // a free entry
      ARCHIVE_HANDLE_TAG | ARCHIVE_OPEN_FILE_MAX,  // past the table
      ARCHIVE_HANDLE_TAG | ARCHIVE_HANDLE_INDEX_MASK,
      open & ARCHIVE_HANDLE_INDEX_MASK,  // an open entry without the tag
  };
  for (StreamHandle handle : handles) {
    SCOPED_TRACE(testing::Message() << std::hex << handle);
    unsigned char buffer[4] = {};
    EXPECT_EQ(-1, ArchiveFileTell(handle));
    EXPECT_EQ(-1, ArchiveFileSeek(handle, 0, FILE_STREAM_SEEK_SET));
    EXPECT_EQ(0u, ArchiveFileRead(buffer, 1, 4, handle));
    EXPECT_EQ(-1, ArchiveFileEof(handle));
    EXPECT_EQ(-1, ArchiveFileIdleCheck(handle));
    EXPECT_EQ(-1, ArchiveFileClose(handle));
  }
  EXPECT_EQ(0, ArchiveFileClose(open));
}

// A 10-byte member reads and seeks as a disk file does, except
// that seeks stop at the size.
TEST_F(ArchiveFileTest, ReadsSeeksAndEnds) {
  const Bytes ten = TextBytes("0123456789");
  for (int pack : {PACK_NEVER, PACK_ALWAYS})
    for (int version : {3, 6}) {
      SCOPED_TRACE(testing::Message() << "version " << version << (pack == PACK_NEVER ? " stored" : " packed"));
      EXPECT_EQ(0, CloseUnusedArchives());  // so that the file can be written again
      WriteArchive(PathOf("m.RVA"), {File("ten.bin", ten)}, Options(version, pack));
      WriteFileBytes(PathOf("ten.bin"), ten);
      for (const char* path : {"m\\ten.bin", "ten.bin"}) {
        SCOPED_TRACE(path);
        const bool member = path[0] == 'm';
        const StreamHandle s = FileStreamOpen(path, 0, 1, 0);
        ASSERT_NE(0u, s);
        char buffer[16] = {};
        EXPECT_EQ(2u, FileStreamRead(buffer, 4, 3, s));
        EXPECT_EQ(0, memcmp(buffer, "01234567", 8));
        EXPECT_EQ(0, FileStreamEof(s));
        EXPECT_EQ(0u, FileStreamRead(buffer, 4, 1, s));  // two bytes left: no whole element
        EXPECT_NE(0, FileStreamEof(s));
        EXPECT_EQ(8, FileStreamTell(s));
        EXPECT_EQ(2u, FileStreamRead(buffer, 1, 5, s));
        EXPECT_EQ(0, memcmp(buffer, "89", 2));
        EXPECT_EQ(0u, FileStreamRead(buffer, 1, 1, s));
        EXPECT_NE(0, FileStreamEof(s));

        EXPECT_EQ(0, FileStreamSeek(s, -5, FILE_STREAM_SEEK_SET));
        EXPECT_EQ(0, FileStreamTell(s));
        EXPECT_EQ(0, FileStreamEof(s));
        EXPECT_EQ(0, FileStreamSeek(s, 3, FILE_STREAM_SEEK_SET));
        EXPECT_EQ(0, FileStreamSeek(s, 2, FILE_STREAM_SEEK_CUR));
        EXPECT_EQ(1u, FileStreamRead(buffer, 1, 1, s));
        EXPECT_EQ('5', buffer[0]);
        EXPECT_EQ(0, FileStreamSeek(s, -1, FILE_STREAM_SEEK_END));
        EXPECT_EQ(1u, FileStreamRead(buffer, 1, 1, s));
        EXPECT_EQ('9', buffer[0]);
        EXPECT_EQ(0, FileStreamSeek(s, 5, FILE_STREAM_SEEK_END));
        if (member) {
          EXPECT_EQ(10, FileStreamTell(s));  // clamped to the size
          EXPECT_EQ(0, FileStreamSeek(s, -100, FILE_STREAM_SEEK_CUR));
          EXPECT_EQ(0, FileStreamTell(s));
        }
        EXPECT_EQ(0u, FileStreamRead(buffer, 0, 4, s));
        EXPECT_EQ(0u, FileStreamRead(buffer, 4, 0, s));
        EXPECT_EQ(0, FileStreamClose(s));
      }
    }
}

TEST_F(ArchiveFileTest, AsynchronousMembersReportIdleOnlyWhenDone) {
  WriteArchive(PathOf("img.RVA"), SampleEntries(), Options(6, PACK_NEVER, "k"));
  SetArchiveKeyText("k");
  const StreamHandle s = FileStreamOpen("img\\data\\enemy_ptn.csv", 0, 1, 1);
  ASSERT_NE(0u, s);
  Bytes data(70000);
  EXPECT_EQ(1u, FileStreamRead(data.data(), 70000, 1, s));
  ASSERT_TRUE(WaitIdle(s));
  EXPECT_EQ(RandomBytes(70000, 1), data);
  // A read followed at once by tell completes the read first.
  ASSERT_EQ(0, FileStreamSeek(s, 100, FILE_STREAM_SEEK_SET));
  EXPECT_EQ(100u, FileStreamRead(data.data(), 1, 100, s));
  EXPECT_EQ(200, FileStreamTell(s));
  EXPECT_EQ(1, FileStreamIdleCheck(s));
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 100, RandomBytes(70000, 1).begin() + 100));
  EXPECT_EQ(0, FileStreamClose(s));
}

// ---------------------------------------------------------------------------
// Damaged members and limits

TEST_F(ArchiveFileTest, DamagedMembersFailWithALogLine) {
  LogCapture log(PathOf("log"));
  PackerLayout layout;
  Bytes archive;
  std::string error;
  ASSERT_TRUE(BuildArchive(SampleEntries(), Options(6, PACK_ALWAYS), &archive, &layout, &error));
  const PackerFileLayout* thiko = nullptr;
  for (const PackerFileLayout& file : layout.files)
    if (file.path == "player\\thiko.png") thiko = &file;
  ASSERT_NE(nullptr, thiko);
  ASSERT_TRUE(thiko->packed);
  // The block's head now claims another unpacked size.
  archive[thiko->dataPosition] ^= 0x01;
  WriteFileBytes(PathOf("img.RVA"), archive);

  EXPECT_EQ(0u, FileStreamOpen("img\\player\\thiko.png", 0, 1, 0));
  EXPECT_NE(std::string::npos, log.Text().find("アーカイブ内のファイルのデータが壊れています"));
  EXPECT_EQ(TextBytes("quinsel\r\nimages\r\n"), ReadThroughStreams("img\\readme.txt"));

  // Opened asynchronously the fault shows when the data arrives: nothing
  // can be read.
  const StreamHandle s = FileStreamOpen("img\\player\\thiko.png", 0, 1, 1);
  ASSERT_NE(0u, s);
  unsigned char buffer[16];
  EXPECT_EQ(0u, FileStreamRead(buffer, 1, 16, s));
  EXPECT_NE(0, FileStreamEof(s));
  EXPECT_EQ(0, FileStreamClose(s));
}

// Packed members hold no system file once unpacked, so the whole table can
// be filled without running out of the process's file handles.
TEST_F(ArchiveFileTest, OpenFileLimit) {
  LogCapture log(PathOf("log"));
  WriteArchive(PathOf("m.RVA"), {File("a.txt", TextBytes("aaaaaaaa"))}, Options(6, PACK_ALWAYS));
  std::vector<StreamHandle> handles;
  for (int i = 0; i < ARCHIVE_OPEN_FILE_MAX; ++i) {
    const StreamHandle s = ArchiveFileOpen("m\\a.txt", 0, 1, 0);
    if (s == 0) break;
    handles.push_back(s);
  }
  ASSERT_EQ(static_cast<size_t>(ARCHIVE_OPEN_FILE_MAX), handles.size());
  EXPECT_EQ(0u, ArchiveFileOpen("m\\a.txt", 0, 1, 0));
  EXPECT_NE(std::string::npos, log.Text().find("同時に開けるファイルの数が限界を超えました\r\n"));
  const StreamHandle freed = handles[12345];
  EXPECT_EQ(0, ArchiveFileClose(freed));
  const StreamHandle again = ArchiveFileOpen("m\\a.txt", 0, 1, 0);
  EXPECT_EQ(freed, again);  // the first free entry
  handles[12345] = again;
  char buffer[8];
  EXPECT_EQ(8u, ArchiveFileRead(buffer, 1, 8, handles.back()));
  for (StreamHandle s : handles) ArchiveFileClose(s);
}

// Opens, reads and closes from several threads at once over one archive.
TEST_F(ArchiveFileTest, ThreadsShareArchives) {
  WriteArchive(PathOf("img.RVA"), SampleEntries(), Options(6, PACK_AUTO, "threads"));
  SetArchiveKeyText("threads");
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &failures]() {
      const std::vector<PackerEntry> entries = SampleEntries();
      for (int i = 0; i < 60; ++i) {
        const PackerEntry& entry = entries[(i + t) % entries.size()];
        const StreamHandle s = ArchiveFileOpen(("img\\" + entry.path).c_str(), 0, 1, 0);
        if (s == 0) {
          ++failures[t];
          continue;
        }
        Bytes data(entry.data.size() + 1);
        const size_t got = ArchiveFileRead(data.data(), 1, data.size(), s);
        data.resize(got);
        if (data != entry.data) ++failures[t];
        ArchiveFileClose(s);
      }
    });
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(0, failures[t]) << "thread " << t;
  EXPECT_EQ(1, Stats().tableLoads);
}

// Ending the layer while other threads enter its lock: they go on working
// and the layer starts again.
TEST_F(ArchiveFileTest, EndingTheLayerWhileOtherThreadsUseIt) {
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> users;
  for (int t = 0; t < 3; ++t) {
    users.emplace_back([&] {
      ArchiveLayerStats stats;
      while (!stop)
        if (GetArchiveLayerStats(&stats) != 0 || stats.openFiles != 0) ++failures;
    });
  }
  for (int i = 0; i < 3000; ++i) {
    EndArchiveLayer();
    StartArchiveLayer();
  }
  stop = true;
  for (std::thread& user : users) user.join();
  EXPECT_EQ(0, failures);
  EXPECT_EQ(0, EndArchiveLayer());
  EXPECT_EQ(-1, EndArchiveLayer());
  EXPECT_EQ(0, StartArchiveLayer());
  EXPECT_EQ(-1, StartArchiveLayer());
}

// ---------------------------------------------------------------------------
// Searches

TEST_F(ArchiveFileTest, WildcardTable) {
  struct Case {
    const char* pattern;
    const char* name;
    int match;
  };
  const Case cases[] = {
      {"*", "ABC", 1},
      {"*", ".", 1},
      {"*", "..", 1},
      {"*.*", "..", 1},
      {".", ".", 1},
      {".", "..", 0},
      {"..", "..", 1},
      {"*.PNG", "A.PNG", 1},
      {"*.PNG", "A.B.PNG", 0},
      {"*.PNG", "A.PNGX", 0},
      {"A?C", "ABC", 1},
      {"A?C", "AC", 0},
      {"***X", "ABX", 1},
      {"", "", 1},
      {"ABC", "AB", 0},
      {"AB", "ABC", 0},
      {"?", "", 0},
      {"*X*", "AXB", 1},
      {"T*.PNG", "THIKO.PNG", 1},
      {"\x82\x60*",
       "\x82\x60"
       "B",
       1},
      {"\x82\x60*",
       "\x82\x61"
       "B",
       0},
      {"?", "\x82\x60", 0},
      {"??", "\x82\x60", 1},
      // A name that ends first never matches, even before a closing "*".
      {"T*", "T", 0},
      {"T*", "TX", 1},
      {"*", "", 0},
      {"*X*", "AX", 0},
      {"A**", "A", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "\"" << c.pattern << "\" \"" << c.name << "\"");
    EXPECT_EQ(c.match, MatchArchiveWildcard(c.pattern, c.name, 1));
  }
}

std::vector<std::string> Search(const std::string& pattern, std::vector<FileInfoRecord>* infos = nullptr) {
  std::vector<std::string> names;
  FileInfoRecord info;
  const intptr_t search = GetFileAccessTable()->FindFirst(pattern.c_str(), &info);
  if (search == -1) return {"<none>"};
  do {
    names.push_back(info.name);
    if (infos != nullptr) infos->push_back(info);
  } while (GetFileAccessTable()->FindNext(search, &info) == 0);
  EXPECT_EQ(0, GetFileAccessTable()->FindClose(search));
  return names;
}

typedef std::vector<std::string> Names;

TEST_F(ArchiveFileTest, SearchInsideAnArchive) {
  WriteArchive(PathOf("img.RVA"),
               {File("a.png", TextBytes("a")), File("b.PNG", TextBytes("bb")), File("c.txt", TextBytes("c")),
                File("x.y.png", TextBytes("x")), File("player\\thiko.png", PixelBytes(500)),
                File("player\\Two.png", TextBytes("2")), Folder("empty")},
               Options(6));
  struct Case {
    const char* pattern;
    Names names;
  };
  const Case cases[] = {
      {"img\\*", {".", "a.png", "b.PNG", "c.txt", "x.y.png", "player", "empty"}},
      {"img\\*.png", {"a.png", "b.PNG"}},
      {"img\\?.*", {"a.png", "b.PNG", "c.txt", "x.y.png"}},
      {"img\\player\\*", {".", "..", "thiko.png", "Two.png"}},
      {"img/PLAYER/t*", {"thiko.png", "Two.png"}},
      {"img\\player\\..", {".."}},
      {"img\\player\\.", {"."}},
      {"img\\.", {"."}},
      {"img\\..", {"<none>"}},  // the archive's root has no ".."
      {"img\\empty\\*", {".", ".."}},
      {"img\\player", {"player"}},
      {"img\\*.zzz", {"<none>"}},
      {"img\\nope\\*", {"<none>"}},
      {"img\\a.png\\*", {"<none>"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(c.names, Search(c.pattern));
  }

  std::vector<FileInfoRecord> infos;
  ASSERT_EQ(Names({".", "..", "thiko.png", "Two.png"}), Search("img\\player\\*", &infos));
  EXPECT_EQ(1, infos[0].isDirectory);
  EXPECT_EQ(0u, infos[0].size);
  EXPECT_EQ(0, infos[1].lastWriteTime[0]);  // no times for "." and ".."
  EXPECT_EQ(0, infos[2].isDirectory);
  EXPECT_EQ(500u, infos[2].size);
  FILETIME written;
  const uint64_t time = FileTimeOf(2022, 5, 6);
  written.dwLowDateTime = static_cast<DWORD>(time);
  written.dwHighDateTime = static_cast<DWORD>(time >> 32);
  int fields[6];
  FileTimeToLocalFields(&written, &fields[0], &fields[1], &fields[2], &fields[3], &fields[4], &fields[5]);
  EXPECT_TRUE(std::equal(fields, fields + 6, infos[2].lastWriteTime));
  EXPECT_EQ(2022, infos[2].lastWriteTime[0]);

  std::vector<FileInfoRecord> root;
  Search("img\\*", &root);
  EXPECT_EQ(1, root[5].isDirectory);  // "player"

  // Searches hold their archive only while they run.
  EXPECT_EQ(0, CloseUnusedArchives());
  EXPECT_EQ(0, Stats().openArchives);
}

TEST_F(ArchiveFileTest, OpenSearchHoldsItsArchive) {
  WriteArchive(PathOf("img.RVA"), SampleEntries(), Options(6));
  FileInfoRecord info;
  const intptr_t search = ArchiveFindFirst("img\\*", &info);
  ASSERT_NE(-1, search);
  EXPECT_EQ(0, CloseUnusedArchives());
  EXPECT_EQ(1, Stats().openArchives);
  Names names;
  while (ArchiveFindNext(search, &info) == 0) names.push_back(info.name);
  EXPECT_EQ(Names({"player", "readme.txt", "data", "empty.bin", "sub"}), names);
  EXPECT_EQ(-1, ArchiveFindNext(search, &info));
  EXPECT_EQ(0, ArchiveFindClose(search));
  EXPECT_EQ(-1, ArchiveFindClose(search));  // no longer a search
  EXPECT_EQ(-1, ArchiveFindNext(search, &info));
  EXPECT_EQ(-1, ArchiveFindClose(12345));
}

TEST_F(ArchiveFileTest, SearchOnDiskThroughTheLayer) {
  MakeFolder("disk");
  WriteFileBytes(PathOf("disk\\one.txt"), TextBytes("1"));
  WriteFileBytes(PathOf("disk\\two.txt"), TextBytes("22"));
  Names names = Search("disk\\*.txt");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(Names({"one.txt", "two.txt"}), names);
  EXPECT_EQ(Names({"<none>"}), Search("disk\\*.png"));
}

// ---------------------------------------------------------------------------
// The library's defaults and the command-line packer

TEST_F(ArchiveFileTest, DefaultFileFunctionsAreTheArchiveLayer) {
  SetupFileStreamFunctions(nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(ArchiveFileOpen), reinterpret_cast<void*>(GetFileAccessTable()->Open));
  EXPECT_EQ(reinterpret_cast<void*>(ArchiveFindClose), reinterpret_cast<void*>(GetFileAccessTable()->FindClose));

  WriteArchive(PathOf("data.RVA"), {File("enemy_ptn.csv", TextBytes("A,1\r\n"))}, Options(6));
  const int file = OpenReadFile("data/enemy_ptn.csv", 0);
  ASSERT_GT(file, 0);
  std::string text;
  for (int c; (c = ReadFileChar(file)) != -1;) text += static_cast<char>(c);
  EXPECT_EQ("A,1\r\n", text);
  EXPECT_EQ(0, CloseReadFile(file));
  TerminateFileHandles();
}

// Resolved while the current directory is still the test program's.
std::string FullPath(const char* path) {
  char full[MAX_PATH];
  return GetFullPathNameA(path, MAX_PATH, full, nullptr) ? std::string(full) : std::string(path);
}
const std::string kSamples = FullPath(RIDOV_PACKER_SAMPLES);
const std::string kSampleSource = FullPath(RIDOV_PACKER_SAMPLE_SOURCE);

// The build packed the packer's own folder with the command-line tool in
// several ways; every file reads back as it is on disk.
TEST_F(ArchiveFileTest, ArchivesFromTheCommandLinePacker) {
  Names files;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((kSampleSource + "\\*").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, find) << kSampleSource;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 4u);

  struct Sample {
    const char* name;
    const char* key;
  };
  const Sample samples[] = {{"v1", ""}, {"v3_key", "packer key"}, {"v5_stored", ""}, {"v6", ""}, {"v6_packed", ""}};
  for (const Sample& sample : samples) {
    SCOPED_TRACE(sample.name);
    SetArchiveKeyText(sample.key);
    const std::string folder = kSamples + "\\" + sample.name;
    for (const std::string& name : files) {
      SCOPED_TRACE(name);
      const Bytes expected = ReadFileBytes(kSampleSource + "\\" + name);
      ASSERT_FALSE(expected.empty());
      EXPECT_EQ(expected, ReadThroughStreams(folder + "\\" + name));
    }
    Names listed = Search(folder + "\\*");
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(".", listed[0]);
    listed.erase(listed.begin());
    EXPECT_EQ(files, listed);
    CloseUnusedArchives();
  }
}

}  // namespace
