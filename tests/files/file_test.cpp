// Windows file access: direct, cached and asynchronous files, the read-ahead
// cache, seeks and ends, folder search, the current directory and temporary
// files. Every test writes its own files into a fresh temporary folder.
#include <gtest/gtest.h>

#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "DaDode.h"
#include "LogCapture.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "TestFiles.h"
#include "ZeZezuDoz.h"
#include "ZiDezaru.h"

namespace {

using test_support::LogCapture;
using test_support::NewTempFolder;
using test_support::PatternBytes;
using test_support::RemoveTree;
using test_support::WriteFileBytes;

// Waits for a threaded file's command to finish (at most 10 s).
bool WaitIdle(FileAccessRecord* file) {
  for (int i = 0; i < 10000; ++i) {
    if (IsFileAccessIdle(file) == 1) return true;
    Sleep(1);
  }
  return false;
}

// Fresh folder per test; every block the test took must be back at the end.
class FileFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    allocCount_ = GetAllocCount();
    folder_ = NewTempFolder("file");
  }
  void TearDown() override {
    RemoveTree(folder_);
    EXPECT_EQ(allocCount_, GetAllocCount()) << "blocks left behind";
  }
  std::string PathOf(const char* name) const { return folder_ + "\\" + name; }

  std::string folder_;
  int allocCount_ = 0;
};

// ---------------------------------------------------------------------------
// The same behaviour in every mode

struct Mode {
  const char* name;
  int cache;
  int async;
};

const Mode kModes[] = {{"Direct", 0, 0}, {"Cached", 1, 0}, {"Async", 0, 1}, {"CachedAsync", 1, 1}};

class FileAccessModeTest : public FileFixture, public ::testing::WithParamInterface<Mode> {
 protected:
  FileAccessRecord* Open(const std::string& path) {
    return OpenFileAccess(path.c_str(), GetParam().cache, 1, GetParam().async);
  }
  // A read followed by the wait an asynchronous file needs before its data
  // may be used.
  size_t Read(void* buffer, size_t elementSize, size_t count, FileAccessRecord* file) {
    const size_t result = ReadFileAccess(buffer, elementSize, count, file);
    EXPECT_TRUE(WaitIdle(file));
    return result;
  }
};

TEST_P(FileAccessModeTest, OpenRecordsModeAndSize) {
  WriteFileBytes(PathOf("a.bin"), PatternBytes(1234));
  FileAccessRecord* file = Open(PathOf("a.bin"));
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(GetParam().cache | GetParam().async, file->threaded);
  EXPECT_EQ(1234u, file->size);
  EXPECT_EQ(0u, GetFileAccessPosition(file));
  EXPECT_EQ(0, IsFileAccessEnd(file));
  EXPECT_EQ(1, IsFileAccessIdle(file));
  EXPECT_EQ(GetParam().cache != 0, file->cacheBuffer != nullptr);
  EXPECT_EQ(0, CloseFileAccess(file));
}

TEST_P(FileAccessModeTest, ReadsWholeElementsThenSetsTheEnd) {
  const std::vector<unsigned char> bytes = PatternBytes(30);
  WriteFileBytes(PathOf("30.bin"), bytes);
  FileAccessRecord* file = Open(PathOf("30.bin"));
  ASSERT_NE(nullptr, file);

  unsigned char buffer[40];
  memset(buffer, 0xEE, sizeof(buffer));
  EXPECT_EQ(7u, Read(buffer, 4, 10, file));
  EXPECT_EQ(0, memcmp(buffer, bytes.data(), 28));
  EXPECT_EQ(0xEE, buffer[28]);  // the partial last element is not read
  EXPECT_EQ(28u, GetFileAccessPosition(file));
  EXPECT_EQ(0, IsFileAccessEnd(file));

  EXPECT_EQ(0u, Read(buffer, 4, 10, file));
  EXPECT_EQ(-1, IsFileAccessEnd(file));
  EXPECT_EQ(28u, GetFileAccessPosition(file));

  // Byte elements still reach the last two bytes, and the end after them.
  EXPECT_EQ(2u, Read(buffer, 1, 10, file));
  EXPECT_EQ(0, memcmp(buffer, bytes.data() + 28, 2));
  EXPECT_EQ(0, IsFileAccessEnd(file));
  EXPECT_EQ(0u, Read(buffer, 1, 1, file));
  EXPECT_EQ(-1, IsFileAccessEnd(file));
  EXPECT_EQ(0, CloseFileAccess(file));
}

TEST_P(FileAccessModeTest, EmptyRequestsReadNothingAndChangeNothing) {
  WriteFileBytes(PathOf("a.bin"), PatternBytes(8));
  FileAccessRecord* file = Open(PathOf("a.bin"));
  ASSERT_NE(nullptr, file);
  unsigned char buffer[8] = {};
  EXPECT_EQ(0u, Read(buffer, 0, 5, file));
  EXPECT_EQ(0u, Read(buffer, 4, 0, file));
  EXPECT_EQ(0u, GetFileAccessPosition(file));
  EXPECT_EQ(0, IsFileAccessEnd(file));

  // At the end too: the end flag is left as it was.
  ASSERT_EQ(0, SeekFileAccess(file, 0, 2));
  EXPECT_EQ(0u, Read(buffer, 1, 0, file));
  EXPECT_EQ(0, IsFileAccessEnd(file));
  EXPECT_EQ(0, CloseFileAccess(file));
}

TEST_P(FileAccessModeTest, SeeksClampBelowZeroAndMayPassTheEnd) {
  const std::vector<unsigned char> bytes = PatternBytes(30);
  WriteFileBytes(PathOf("30.bin"), bytes);
  FileAccessRecord* file = Open(PathOf("30.bin"));
  ASSERT_NE(nullptr, file);
  unsigned char buffer[8];

  struct Case {
    int64_t offset;
    int origin;
    uint64_t position;
  };
  const Case cases[] = {
      {-5, 0, 0},
      {12, 0, 12},
      {3, 1, 15},
      {-100, 1, 0},
      {-4, 2, 26},
      {-100, 2, 0},
      {0, 2, 30},
      {10, 2, 40},
      {100, 0, 100},
      {5, 7, 0},  // unknown origin: start
      {int64_t{1} << 32, 1, (uint64_t{1} << 32) + 12},
      {INT64_MIN, 0, 0},
      {INT64_MIN, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " origin " << c.origin);
    ASSERT_EQ(0, SeekFileAccess(file, 12, 0));
    EXPECT_EQ(0, SeekFileAccess(file, c.offset, c.origin));
    EXPECT_EQ(c.position, GetFileAccessPosition(file));
    EXPECT_EQ(0, IsFileAccessEnd(file));
    if (c.position < 30) {
      ASSERT_EQ(1u, Read(buffer, 1, 1, file));
      EXPECT_EQ(bytes[c.position], buffer[0]);
    } else {
      // At or past the end: nothing, and the end flag.
      EXPECT_EQ(0u, Read(buffer, 1, 1, file));
      EXPECT_EQ(-1, IsFileAccessEnd(file));
      EXPECT_EQ(c.position, GetFileAccessPosition(file));
    }
  }

  // A seek clears the end flag; reading from a valid place works again.
  EXPECT_EQ(0, SeekFileAccess(file, -2, 2));
  EXPECT_EQ(0, IsFileAccessEnd(file));
  EXPECT_EQ(2u, Read(buffer, 1, 8, file));
  EXPECT_EQ(0, memcmp(buffer, bytes.data() + 28, 2));
  EXPECT_EQ(0, CloseFileAccess(file));
}

TEST_P(FileAccessModeTest, MissingFileGivesNothingAndNoLogLine) {
  LogCapture log(folder_);
  EXPECT_EQ(nullptr, Open(PathOf("missing.bin")));
  EXPECT_EQ(nullptr, Open(folder_ + "\\no_folder\\missing.bin"));
  EXPECT_EQ(nullptr, OpenFileAccess(nullptr, GetParam().cache, 1, GetParam().async));
  EXPECT_EQ("", log.Text());
}

TEST_P(FileAccessModeTest, EmptyFileIsAtItsEnd) {
  WriteFileBytes(PathOf("empty.bin"), {});
  FileAccessRecord* file = Open(PathOf("empty.bin"));
  ASSERT_NE(nullptr, file);
  unsigned char buffer[4];
  EXPECT_EQ(0u, Read(buffer, 1, 4, file));
  EXPECT_EQ(-1, IsFileAccessEnd(file));
  EXPECT_EQ(0, CloseFileAccess(file));
}

INSTANTIATE_TEST_SUITE_P(Modes, FileAccessModeTest, ::testing::ValuesIn(kModes),
                         [](const testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Threaded files

TEST_F(FileFixture, AsynchronousReadReturnsAtOnceAndFillsTheBufferInTheBackground) {
  const std::vector<unsigned char> bytes = PatternBytes(3 * 1024 * 1024);
  WriteFileBytes(PathOf("big.bin"), bytes);
  FileAccessRecord* file = OpenFileAccess(PathOf("big.bin").c_str(), 0, 1, 1);
  ASSERT_NE(nullptr, file);

  std::vector<unsigned char> buffer(bytes.size());
  EXPECT_EQ(3u * 1024, ReadFileAccess(buffer.data(), 1024, 3 * 1024, file));
  // The client's position moves at once; the data is there once idle.
  EXPECT_EQ(bytes.size(), GetFileAccessPosition(file));
  ASSERT_TRUE(WaitIdle(file));
  EXPECT_EQ(bytes, buffer);
  EXPECT_EQ(bytes.size(), file->readDone);
  EXPECT_EQ(0, CloseFileAccess(file));
}

TEST_F(FileFixture, ClosingWaitsForARunningAsynchronousRead) {
  const std::vector<unsigned char> bytes = PatternBytes(4 * 1024 * 1024);
  WriteFileBytes(PathOf("big.bin"), bytes);
  for (int cache = 0; cache <= 1; ++cache) {
    FileAccessRecord* file = OpenFileAccess(PathOf("big.bin").c_str(), cache, 1, 1);
    ASSERT_NE(nullptr, file);
    std::vector<unsigned char> buffer(bytes.size());
    EXPECT_EQ(1u, ReadFileAccess(buffer.data(), bytes.size(), 1, file));
    EXPECT_EQ(0, CloseFileAccess(file));
    EXPECT_EQ(bytes, buffer);  // the read had finished before the close returned
  }
}

TEST_F(FileFixture, CachedFileServesASequentialReadAfterAPauseFromTheCache) {
  const std::vector<unsigned char> bytes = PatternBytes(600 * 1024);
  WriteFileBytes(PathOf("stream.bin"), bytes);
  FileAccessRecord* file = OpenFileAccess(PathOf("stream.bin").c_str(), 1, 1, 0);
  ASSERT_NE(nullptr, file);
  std::vector<unsigned char> buffer(bytes.size());

  // The first read comes before the reader has had a quiet moment.
  ASSERT_EQ(1000u, ReadFileAccess(buffer.data(), 1, 1000, file));
  EXPECT_EQ(0, memcmp(buffer.data(), bytes.data(), 1000));

  // After a pause the reader has filled the cache from the next byte on.
  Sleep(400);
  uint64_t served = file->cacheServed;
  ASSERT_EQ(5000u, ReadFileAccess(buffer.data(), 1, 5000, file));
  EXPECT_EQ(0, memcmp(buffer.data(), bytes.data() + 1000, 5000));
  EXPECT_EQ(served + 5000, file->cacheServed);

  // A read longer than what the cache holds takes the rest from the file.
  served = file->cacheServed;
  ASSERT_EQ(200000u, ReadFileAccess(buffer.data(), 1, 200000, file));
  EXPECT_EQ(0, memcmp(buffer.data(), bytes.data() + 6000, 200000));
  EXPECT_GT(file->cacheServed, served);
  EXPECT_LE(file->cacheServed - served, static_cast<uint64_t>(FILE_ACCESS_CACHE_SIZE));

  // A seek empties the cache; a pause fills it again from the new place.
  ASSERT_EQ(0, SeekFileAccess(file, 400000, 0));
  Sleep(400);
  served = file->cacheServed;
  ASSERT_EQ(1u, ReadFileAccess(buffer.data(), 4096, 1, file));
  EXPECT_EQ(0, memcmp(buffer.data(), bytes.data() + 400000, 4096));
  EXPECT_EQ(served + 4096, file->cacheServed);

  // The cache stops at the end of the file.
  ASSERT_EQ(0, SeekFileAccess(file, -100, 2));
  Sleep(400);
  served = file->cacheServed;
  EXPECT_EQ(25u, ReadFileAccess(buffer.data(), 4, 30, file));
  EXPECT_EQ(0, memcmp(buffer.data(), bytes.data() + bytes.size() - 100, 100));
  EXPECT_EQ(served + 100, file->cacheServed);
  EXPECT_EQ(0u, ReadFileAccess(buffer.data(), 1, 1, file));
  EXPECT_EQ(-1, IsFileAccessEnd(file));
  EXPECT_EQ(0, CloseFileAccess(file));
}

TEST_F(FileFixture, ReadThatSkipsAheadIsNotServedFromTheCache) {
  const std::vector<unsigned char> bytes = PatternBytes(300 * 1024);
  WriteFileBytes(PathOf("stream.bin"), bytes);
  FileAccessRecord* file = OpenFileAccess(PathOf("stream.bin").c_str(), 1, 1, 0);
  ASSERT_NE(nullptr, file);
  Sleep(400);  // the cache now holds the file's start
  const uint64_t served = file->cacheServed;
  ASSERT_EQ(0, SeekFileAccess(file, 1, 1));
  unsigned char buffer[64];
  ASSERT_EQ(64u, ReadFileAccess(buffer, 1, 64, file));
  EXPECT_EQ(0, memcmp(buffer, bytes.data() + 1, 64));
  EXPECT_EQ(served, file->cacheServed);
  EXPECT_EQ(0, CloseFileAccess(file));
}

TEST_F(FileFixture, OpenFileIsSharedForReadingOnly) {
  WriteFileBytes(PathOf("a.bin"), PatternBytes(16));
  for (int cache = 0; cache <= 1; ++cache) {
    FileAccessRecord* file = OpenFileAccess(PathOf("a.bin").c_str(), cache, 1, 0);
    ASSERT_NE(nullptr, file);
    FileAccessRecord* second = OpenFileAccess(PathOf("a.bin").c_str(), cache, 1, 0);
    EXPECT_NE(nullptr, second);
    HANDLE writer = CreateFileA(PathOf("a.bin").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    if (second != nullptr) CloseFileAccess(second);
    CloseFileAccess(file);
  }
}

TEST_F(FileFixture, NullRecordIsRefused) {
  unsigned char buffer[4];
  EXPECT_EQ(-1, CloseFileAccess(nullptr));
  EXPECT_EQ(-1, SeekFileAccess(nullptr, 0, 0));
  EXPECT_EQ(0u, ReadFileAccess(buffer, 1, 4, nullptr));
  EXPECT_EQ(0, IsFileAccessEnd(nullptr));
  EXPECT_EQ(-1, IsFileAccessIdle(nullptr));
}

// ---------------------------------------------------------------------------
// Folder search

// Sets a file's last-write time to the given local time.
void SetLocalWriteTime(const std::string& path, const SYSTEMTIME& local) {
  FILETIME localTime, utc;
  ASSERT_TRUE(SystemTimeToFileTime(&local, &localTime));
  ASSERT_TRUE(LocalFileTimeToFileTime(&localTime, &utc));
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &utc));
  CloseHandle(file);
}

TEST_F(FileFixture, FindListsEntriesWithKindSizeAndLocalTimes) {
  WriteFileBytes(PathOf("small.txt"), PatternBytes(10));
  WriteFileBytes(PathOf("large.dat"), PatternBytes(70000));
  CreateDirectoryA(PathOf("sub").c_str(), nullptr);
  SYSTEMTIME when = {};
  when.wYear = 2009;
  when.wMonth = 3;
  when.wDay = 4;
  when.wHour = 5;
  when.wMinute = 6;
  when.wSecond = 8;
  SetLocalWriteTime(PathOf("small.txt"), when);

  struct Seen {
    int isDirectory;
    uint64_t size;
    int count;
  };
  Seen small = {}, large = {}, sub = {};
  int others = 0;
  FileInfoRecord info;
  memset(&info, 0xCC, sizeof(info));
  const intptr_t search = FindFirstFileEntry((folder_ + "\\*").c_str(), &info);
  ASSERT_NE(-1, search);
  do {
    const std::string name = info.name;
    Seen* seen = name == "small.txt" ? &small : name == "large.dat" ? &large : name == "sub" ? &sub : nullptr;
    if (seen == nullptr) {
      EXPECT_TRUE(name == "." || name == "..") << name;
      ++others;
      continue;
    }
    seen->isDirectory = info.isDirectory;
    seen->size = info.size;
    seen->count++;
    if (name == "small.txt") {
      const int expected[6] = {2009, 3, 4, 5, 6, 8};
      for (int i = 0; i < 6; ++i) EXPECT_EQ(expected[i], info.lastWriteTime[i]) << i;
    }
    EXPECT_GE(info.creationTime[0], 1980);
    EXPECT_GE(info.creationTime[1], 1);
    EXPECT_LE(info.creationTime[1], 12);
  } while (FindNextFileEntry(search, &info) == 0);
  EXPECT_EQ(-1, FindNextFileEntry(search, &info));  // stays at the end
  EXPECT_EQ(0, CloseFileFind(search));

  EXPECT_EQ(1, small.count);
  EXPECT_EQ(0, small.isDirectory);
  EXPECT_EQ(10u, small.size);
  EXPECT_EQ(1, large.count);
  EXPECT_EQ(70000u, large.size);
  EXPECT_EQ(1, sub.count);
  EXPECT_EQ(1, sub.isDirectory);
  EXPECT_EQ(2, others);
}

TEST_F(FileFixture, FindWithPatternAndWithoutRecord) {
  WriteFileBytes(PathOf("a.png"), PatternBytes(1));
  WriteFileBytes(PathOf("b.png"), PatternBytes(2));
  WriteFileBytes(PathOf("c.txt"), PatternBytes(3));
  int found = 0;
  const intptr_t search = FindFirstFileEntry((folder_ + "\\*.png").c_str(), nullptr);
  ASSERT_NE(-1, search);
  do ++found;
  while (FindNextFileEntry(search, nullptr) == 0);
  EXPECT_EQ(0, CloseFileFind(search));
  EXPECT_EQ(2, found);
}

TEST_F(FileFixture, FindOfNothingFails) {
  FileInfoRecord info;
  EXPECT_EQ(-1, FindFirstFileEntry((folder_ + "\\*.none").c_str(), &info));
  EXPECT_EQ(-1, FindFirstFileEntry((folder_ + "\\missing\\*").c_str(), &info));
  EXPECT_EQ(-1, FindFirstFileEntry(nullptr, &info));
  EXPECT_EQ(-1, FindNextFileEntry(-1, &info));
  EXPECT_EQ(-1, CloseFileFind(-1));
}

// ---------------------------------------------------------------------------
// Current directory

TEST_F(FileFixture, CurrentDirectoryIsSetAndReadBack) {
  char saved[FILE_PATH_SIZE];
  ASSERT_EQ(0, FileAccessGetCurrentDir(saved));
  EXPECT_NE('\0', saved[0]);

  ASSERT_EQ(0, FileAccessSetCurrentDir(folder_.c_str()));
  char now[FILE_PATH_SIZE];
  ASSERT_EQ(0, FileAccessGetCurrentDir(now));
  EXPECT_EQ(0, lstrcmpiA(folder_.c_str(), now)) << now;

  // Relative opens now look in the folder.
  WriteFileBytes(PathOf("here.bin"), PatternBytes(3));
  FileAccessRecord* file = OpenFileAccess("here.bin", 0, 1, 0);
  EXPECT_NE(nullptr, file);
  if (file != nullptr) CloseFileAccess(file);

  EXPECT_EQ(-1, FileAccessSetCurrentDir((folder_ + "\\missing").c_str()));
  EXPECT_EQ(-1, FileAccessSetCurrentDir(nullptr));
  ASSERT_EQ(0, FileAccessGetCurrentDir(now));
  EXPECT_EQ(0, lstrcmpiA(folder_.c_str(), now));  // a failed change keeps the old one

  ASSERT_EQ(0, FileAccessSetCurrentDir(saved));
}

// ---------------------------------------------------------------------------
// Temporary files

// Points TMP at another folder for the life of the object.
class TempFolderOverride {
 public:
  explicit TempFolderOverride(const std::string& folder) {
    char value[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("TMP", value, sizeof(value));
    hadValue_ = length > 0 && length < sizeof(value);
    if (hadValue_) saved_ = value;
    SetEnvironmentVariableA("TMP", folder.c_str());
  }
  ~TempFolderOverride() { SetEnvironmentVariableA("TMP", hadValue_ ? saved_.c_str() : nullptr); }

 private:
  bool hadValue_ = false;
  std::string saved_;
};

TEST_F(FileFixture, TempFileIsNewEmptyWritableAndNamed) {
  TempFolderOverride temp(folder_ + "\\");
  char path[FILE_PATH_SIZE];
  memset(path, 0, sizeof(path));
  HANDLE file = CreateTempFile(path);
  ASSERT_NE(nullptr, file);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);

  // A full path in the temporary folder, name starting with "tmp".
  const std::string name = path;
  ASSERT_GT(name.size(), folder_.size() + 1);
  EXPECT_EQ(0, lstrcmpiA(folder_.c_str(), name.substr(0, folder_.size()).c_str())) << name;
  EXPECT_EQ(0, lstrcmpiA("\\tmp", name.substr(folder_.size(), 4).c_str())) << name;

  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
  // Nobody else may open it while it is held.
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  CloseHandle(file);
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExA(path, GetFileExInfoStandard, &data));
  EXPECT_EQ(3u, data.nFileSizeLow);

  // A second one gets another name; a null buffer is allowed.
  char second[FILE_PATH_SIZE];
  HANDLE other = CreateTempFile(second);
  ASSERT_NE(nullptr, other);
  EXPECT_STRNE(path, second);
  CloseHandle(other);
  HANDLE unnamed = CreateTempFile(nullptr);
  ASSERT_NE(nullptr, unnamed);
  CloseHandle(unnamed);
}

TEST_F(FileFixture, TempFolderWithoutTrailingSeparatorStillWorks) {
  TempFolderOverride temp(folder_);
  char path[FILE_PATH_SIZE];
  HANDLE file = CreateTempFile(path);
  ASSERT_NE(nullptr, file);
  CloseHandle(file);
  EXPECT_EQ(0, lstrcmpiA(folder_.c_str(), std::string(path).substr(0, folder_.size()).c_str())) << path;
}

// Wine runs as root and ignores folder permissions, so the folders that
// cannot be written are ones that cannot exist: a folder under a regular
// file, and a folder on a drive letter that is not mapped.
TEST_F(FileFixture, TempFileInUnwritableFolderFailsAndLeavesTheBufferAlone) {
  WriteFileBytes(PathOf("plain.txt"), PatternBytes(4));
  std::vector<std::string> folders = {PathOf("plain.txt") + "\\sub\\", PathOf("plain.txt") + "\\"};
  const DWORD drives = GetLogicalDrives();
  for (char letter = 'Q'; letter <= 'Y'; ++letter) {
    if ((drives & (1u << (letter - 'A'))) == 0) {
      folders.push_back(std::string(1, letter) + ":\\nothing\\");
      break;
    }
  }
  ASSERT_EQ(3u, folders.size()) << "no free drive letter";

  for (const std::string& folder : folders) {
    SCOPED_TRACE(folder);
    TempFolderOverride temp(folder);
    char path[FILE_PATH_SIZE];
    memset(path, 0x5A, sizeof(path));
    EXPECT_EQ(nullptr, CreateTempFile(path));
    for (size_t i = 0; i < sizeof(path); ++i) ASSERT_EQ(0x5A, static_cast<unsigned char>(path[i])) << i;
  }
  // Nothing was left beside the file either.
  int entries = 0;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA((folder_ + "\\*").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  do ++entries;
  while (FindNextFileA(search, &data));
  FindClose(search);
  EXPECT_EQ(3, entries);  // ".", ".." and plain.txt
}

}  // namespace
