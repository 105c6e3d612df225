// Archive format: every version opened from caller memory, as tables only
// and whole into memory; keys; names and folders; damaged headers and
// tables. Archives are written by the packer core for each test.
#include <gtest/gtest.h>

#include <string.h>
#include <windows.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ArchivePacker.h"
#include "PackerSamples.h"
#include "RoRezedur_.h"
#include "TestFiles.h"
#include "ZeZezuDoz.h"
#include "ZiDezaru.h"

namespace {

using test_support::File;
using test_support::FileTimeOf;
using test_support::Folder;
using test_support::NewTempFolder;
using test_support::Options;
using test_support::PixelBytes;
using test_support::RandomBytes;
using test_support::RemoveTree;
using test_support::TextBytes;
using test_support::WriteFileBytes;

typedef std::vector<uint8_t> Bytes;

Bytes WordBytes(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"enemy", "bullet", "player", "Item", "score", ",", "\r\n", "120"};
  std::mt19937 random(seed);
  Bytes out;
  while (out.size() < n) {
    const char* word = kWords[random() % 8];
    out.insert(out.end(), word, word + strlen(word));
  }
  out.resize(n);
  return out;
}

std::vector<PackerEntry> SampleEntries() {
  return {
      File("PLAYER\\thiko.png", PixelBytes(20000)),
      File("readme.txt", WordBytes(5000, 1)),
      File("Data/enemy_ptn.csv", WordBytes(3001, 2)),
      File("empty.bin", {}),
      File("sub\\deep\\noise.bin", RandomBytes(3000, 3)),
      File("sub\\Mixed.Case.Name.dat", RandomBytes(100, 4)),
      Folder("emptyfolder"),
  };
}

Bytes Build(const std::vector<PackerEntry>& entries, const PackerOptions& options, PackerLayout* layout = nullptr) {
  Bytes archive;
  std::string error;
  EXPECT_TRUE(BuildArchive(entries, options, &archive, layout, &error)) << error;
  return archive;
}

void Put(Bytes* image, uint64_t at, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) (*image)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t Get(const Bytes& image, uint64_t at, int width) {
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | image[at + i];
  return value;
}

// Flips the scrambling of the header and table block (or, below version 5,
// of the whole image); the same call scrambles them again.
void FlipScrambling(Bytes* image, const PackerLayout& layout, int version) {
  if (version < 5) {
    ApplyArchiveKey(image->data(), image->size(), 0, layout.key);
    return;
  }
  ApplyArchiveKey(image->data(), layout.headerSize, 0, layout.key);
  ApplyArchiveKey(image->data() + layout.tableOffset, layout.tableSize, 0, layout.key);
}

// A file's bytes as the archive holds them, unpacked.
Bytes MemberBytes(ArchiveRecord* archive, const std::string& path) {
  const ArchiveFileEntry* entry = FindArchiveFile(path.c_str(), archive);
  ArchiveEntryInfo info;
  if (GetArchiveEntryInfo(archive, entry, &info) != 0) return Bytes(1, 0xEE);
  const uint8_t* data = archive->image + archive->header.dataOffset + info.dataOffset;
  if (info.packedSize == ARCHIVE_STORED_64) {
    uint32_t position = 0, size = 0;
    if (GetArchiveFileLocation(archive, path.c_str(), &position, &size) != 0) return Bytes(2, 0xEE);
    EXPECT_EQ(data, archive->image + position);
    return Bytes(archive->image + position, archive->image + position + size);
  }
  Bytes out(static_cast<size_t>(info.size) + 1);
  if (UnpackLZ(data, out.data()) != static_cast<int>(info.size)) return Bytes(3, 0xEE);
  out.resize(static_cast<size_t>(info.size));
  return out;
}

bool IsZeroed(const ArchiveRecord& record) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&record);
  for (size_t i = 0; i < sizeof(record); ++i)
    if (p[i] != 0) return false;
  return true;
}

class ArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    allocCount_ = GetAllocCount();
    InitArchiveRecord(&record_);
  }
  void TearDown() override {
    CloseArchive(&record_);
    if (!folder_.empty()) RemoveTree(folder_);
    EXPECT_EQ(allocCount_, GetAllocCount()) << "blocks left behind";
  }
  std::string PathOf(const char* name) {
    if (folder_.empty()) folder_ = NewTempFolder("archive");
    return folder_ + "\\" + name;
  }

  ArchiveRecord record_;
  std::string folder_;
  int allocCount_ = 0;
};

// ---------------------------------------------------------------------------
// Every version, packing and key

struct Variant {
  int version;
  int pack;
  const char* key;
};

std::string VariantName(const testing::TestParamInfo<Variant>& info) {
  const Variant& v = info.param;
  const char* pack = v.pack == PACK_NEVER ? "Stored" : v.pack == PACK_ALWAYS ? "Packed" : "Auto";
  return "V" + std::to_string(v.version) + pack + (v.key[0] ? "Key" + std::to_string(strlen(v.key)) : "NoKey");
}

std::vector<Variant> AllVariants() {
  std::vector<Variant> variants;
  for (int version = 0; version <= 6; ++version)
    for (int pack : {PACK_NEVER, PACK_ALWAYS, PACK_AUTO})
      for (const char* key : {"", "secret", "a key text longer than twelve"}) variants.push_back({version, pack, key});
  return variants;
}

class ArchiveVariantTest : public ArchiveTest, public ::testing::WithParamInterface<Variant> {
 protected:
  Bytes BuildVariant(PackerLayout* layout = nullptr) {
    return Build(SampleEntries(), Options(GetParam().version, GetParam().pack, GetParam().key), layout);
  }
  void ExpectSampleFiles(ArchiveRecord* archive) {
    for (const PackerEntry& entry : SampleEntries()) {
      if (entry.folder) continue;
      SCOPED_TRACE(entry.path);
      EXPECT_EQ(entry.data, MemberBytes(archive, entry.path));
    }
  }
};

TEST_P(ArchiveVariantTest, CallerMemoryOpensAndIsRestoredOnClose) {
  PackerLayout layout;
  const Bytes original = BuildVariant(&layout);
  Bytes image = original;
  ASSERT_EQ(0, OpenArchiveFromMemory(&record_, image.data(), image.size(), GetParam().key));
  EXPECT_EQ(GetParam().version, record_.header.version);
  EXPECT_EQ(GetParam().version < 6 ? 1 : 0, record_.oldLayout);
  EXPECT_EQ(1, record_.inMemory);
  EXPECT_EQ(1, record_.callerMemory);
  EXPECT_EQ(image.size(), record_.imageSize);
  EXPECT_EQ(image.data(), GetArchiveMemoryImage(&record_));
  ExpectSampleFiles(&record_);

  // Packing as asked, where the version can pack.
  for (const PackerFileLayout& file : layout.files) {
    const bool canPack = GetParam().version >= 2;
    if (GetParam().pack == PACK_NEVER || !canPack) {
      EXPECT_FALSE(file.packed) << file.path;
    }
    if (GetParam().pack == PACK_ALWAYS && canPack) {
      EXPECT_TRUE(file.packed) << file.path;
    }
  }

  // The layout's own finder answers; the other one does not.
  const ArchiveFileEntry* oldEntry = FindArchiveFileEntryOld("readme.txt", &record_);
  const ArchiveFileEntry* newEntry = FindArchiveFileEntry("readme.txt", &record_);
  EXPECT_EQ(GetParam().version < 6, oldEntry != nullptr);
  EXPECT_EQ(GetParam().version == 6, newEntry != nullptr);

  EXPECT_EQ(0, CloseArchive(&record_));
  EXPECT_TRUE(IsZeroed(record_));
  EXPECT_TRUE(image == original) << "caller's bytes changed";
}

TEST_P(ArchiveVariantTest, TablesOnlyReadsFileData) {
  const Bytes original = BuildVariant();
  WriteFileBytes(PathOf("a.RVA"), original);
  ASSERT_EQ(0, OpenArchiveFileTablesOnly(&record_, PathOf("a.RVA").c_str(), GetParam().key));
  EXPECT_EQ(0, record_.inMemory);
  EXPECT_EQ(nullptr, GetArchiveMemoryImage(&record_));
  EXPECT_STREQ(PathOf("a.RVA").c_str(), record_.path);

  for (const PackerEntry& entry : SampleEntries()) {
    if (entry.folder) continue;
    SCOPED_TRACE(entry.path);
    ArchiveEntryInfo info;
    ASSERT_EQ(0, GetArchiveEntryInfo(&record_, FindArchiveFile(entry.path.c_str(), &record_), &info));
    EXPECT_EQ(entry.data.size(), info.size);
    EXPECT_EQ(entry.lastWriteTime, info.lastWriteTime);
    EXPECT_EQ(entry.creationTime, info.creationTime);
    const bool packed = info.packedSize != ARCHIVE_STORED_64;
    const uint64_t position = record_.header.dataOffset + info.dataOffset;
    Bytes stored(static_cast<size_t>(packed ? info.packedSize : info.size) + 1);
    const uint64_t keyPosition = GetParam().version >= 5 ? info.size : position;
    ASSERT_EQ(0, ReadArchiveBlock(stored.data(), stored.size() - 1, record_.key, keyPosition, position, record_.file));
    stored.pop_back();
    if (packed) {
      Bytes out(entry.data.size() + 1);
      ASSERT_EQ(static_cast<int>(entry.data.size()), UnpackLZ(stored.data(), out.data()));
      out.pop_back();
      EXPECT_EQ(entry.data, out);
    } else {
      EXPECT_EQ(entry.data, stored);
    }
  }
  EXPECT_EQ(0, CloseArchive(&record_));
  EXPECT_TRUE(IsZeroed(record_));
}

TEST_P(ArchiveVariantTest, WholeFileInMemoryAtOnceAndAsynchronously) {
  WriteFileBytes(PathOf("a.RVA"), BuildVariant());
  for (int async : {0, 1}) {
    SCOPED_TRACE(async ? "async" : "at once");
    ASSERT_EQ(0, OpenArchiveFileInMemory(&record_, PathOf("a.RVA").c_str(), GetParam().key, async));
    if (async) {
      for (int i = 0; i < 10000 && FinishArchiveAsyncOpen(&record_) == 0; ++i) Sleep(1);
    }
    EXPECT_EQ(1, FinishArchiveAsyncOpen(&record_));
    EXPECT_EQ(1, record_.inMemory);
    EXPECT_EQ(0, record_.callerMemory);
    ASSERT_NE(nullptr, GetArchiveMemoryImage(&record_));
    ExpectSampleFiles(&record_);
    EXPECT_EQ(0, CloseArchive(&record_));
  }
}

INSTANTIATE_TEST_SUITE_P(AllVersions, ArchiveVariantTest, ::testing::ValuesIn(AllVariants()), VariantName);

// Operations that run before an asynchronous whole-file read has finished
// wait for it.
TEST_F(ArchiveTest, OperationsWaitForAPendingRead) {
  WriteFileBytes(PathOf("a.RVA"), Build(SampleEntries(), Options(5)));
  ASSERT_EQ(0, OpenArchiveFileInMemory(&record_, PathOf("a.RVA").c_str(), nullptr, 1));
  EXPECT_NE(nullptr, FindArchiveFile("PLAYER\\THIKO.PNG", &record_));
  EXPECT_EQ(0, record_.pendingRead);
  EXPECT_EQ(PixelBytes(20000), MemberBytes(&record_, "player/thiko.png"));
  EXPECT_EQ(0, CloseArchive(&record_));

  // Closed while the read may still run.
  ASSERT_EQ(0, OpenArchiveFileInMemory(&record_, PathOf("a.RVA").c_str(), nullptr, 1));
  EXPECT_EQ(0, CloseArchive(&record_));
  EXPECT_TRUE(IsZeroed(record_));
}

// ---------------------------------------------------------------------------
// Keys

TEST_F(ArchiveTest, KeyTextAndFallbackKey) {
  struct Case {
    const char* name;
    const char* writtenWith;  // null: the fallback key
    const char* openedWith;
    bool opens;
  };
  const Case cases[] = {
      {"NoKeyOpensWithNoKey", "", nullptr, true},         {"NoKeyOpensWithEmptyText", "", "", true},
      {"KeyTextOpensWithIt", "abc", "abc", true},         {"KeyTextNeedsIt", "abc", nullptr, false},
      {"OtherKeyTextFails", "abc", "zzz", false},         {"NoKeyRefusesAKeyText", "", "abc", false},
      {"FallbackOpensWithNoKey", nullptr, nullptr, true}, {"FallbackOpensWithAnyKeyText", nullptr, "anything", true},
  };
  for (int version : {3, 5, 6})
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << " version " << version);
      PackerOptions options = Options(version);
      if (c.writtenWith == nullptr) options.fallbackKey = true;
      else options.keyText = c.writtenWith;
      const Bytes original = Build(SampleEntries(), options);
      Bytes image = original;
      EXPECT_EQ(c.opens ? 0 : -1, OpenArchiveFromMemory(&record_, image.data(), image.size(), c.openedWith));
      if (c.opens) {
        EXPECT_EQ(WordBytes(5000, 1), MemberBytes(&record_, "readme.txt"));
      } else {
        EXPECT_TRUE(IsZeroed(record_));
      }
      CloseArchive(&record_);
      EXPECT_TRUE(image == original);

      WriteFileBytes(PathOf("k.RVA"), original);
      EXPECT_EQ(c.opens ? 0 : -1, OpenArchiveFileTablesOnly(&record_, PathOf("k.RVA").c_str(), c.openedWith));
      CloseArchive(&record_);
    }
}

TEST_F(ArchiveTest, KeyMaking) {
  uint8_t none[12], empty[12], a[12], b[12];
  MakeArchiveKey(nullptr, none);
  MakeArchiveKey("", empty);
  EXPECT_EQ(0, memcmp(none, empty, 12));

  // The text repeats from its start; only its first 12 bytes count.
  MakeArchiveKey("ab", a);
  MakeArchiveKey("ababababababzzz", b);
  EXPECT_EQ(0, memcmp(a, b, 12));
  MakeArchiveKey("0123456789AB", a);
  MakeArchiveKey("0123456789ABCDEF", b);
  EXPECT_EQ(0, memcmp(a, b, 12));
  MakeArchiveKey("abc", b);
  MakeArchiveKey("ab", a);
  EXPECT_NE(0, memcmp(a, b, 12));
  EXPECT_NE(0, memcmp(a, none, 12));
}

TEST_F(ArchiveTest, ApplyArchiveKeyFollowsTheKeyPosition) {
  uint8_t key[12];
  MakeArchiveKey("position test", key);
  const Bytes original = RandomBytes(300, 5);
  for (size_t size : {0u, 1u, 11u, 47u, 48u, 49u, 96u, 200u, 300u})
    for (uint64_t position : {0ull, 1ull, 11ull, 12ull, 13ull, 0x100000007ull}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " position " << position);
      Bytes data(original.begin(), original.begin() + size);
      ApplyArchiveKey(data.data(), size, position, key);
      for (size_t i = 0; i < size; ++i)
        ASSERT_EQ(static_cast<uint8_t>(original[i] ^ key[(position + i) % 12]), data[i]) << i;
      ApplyArchiveKey(data.data(), size, position, key);
      EXPECT_TRUE(std::equal(data.begin(), data.end(), original.begin()));
    }
}

// ---------------------------------------------------------------------------
// Code pages and names

TEST_F(ArchiveTest, CodePageGivesTheCharacterSet) {
  struct Case {
    int version;
    uint32_t codePage;
    uint64_t highBits;  // version 6: set in the field's upper half
    int charSet;
  };
  const Case cases[] = {
      {3, 932, 0, 0},  {4, 932, 0, 1}, {4, 936, 0, 4}, {5, 949, 0, 2}, {5, 950, 0, 3},
      {5, 1252, 0, 0}, {6, 949, 0, 2}, {6, 932, 0, 1}, {6, 0, 0, 0},   {6, 932, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "version " << c.version << " code page " << c.codePage);
    PackerOptions options = Options(c.version);
    options.codePage = c.codePage;
    PackerLayout layout;
    Bytes image = Build(SampleEntries(), options, &layout);
    if (c.highBits != 0) {
      FlipScrambling(&image, layout, c.version);
      Put(&image, 40 + 4, c.highBits, 4);
      FlipScrambling(&image, layout, c.version);
    }
    ASSERT_EQ(0, OpenArchiveFromMemory(&record_, image.data(), image.size(), nullptr));
    EXPECT_EQ(c.charSet, record_.charSet);
    CloseArchive(&record_);
  }
}

TEST_F(ArchiveTest, NamesMatchCaseInsensitiveForSingleByteLettersOnly) {
  const std::vector<PackerEntry> entries = {
      File("Thiko.png", TextBytes("thiko")),
      File("\x82\x60.txt", TextBytes("full-width A")),  // double-byte upper-case A
      File("\x82\x61"
           "b.txt",
           TextBytes("trail a")),                       // trail byte equal to "a"
      File("\x95\x5C\\inner.txt", TextBytes("inner")),  // folder whose trail byte is "\"
  };
  for (int version : {3, 6}) {
    SCOPED_TRACE(version);
    Bytes image = Build(entries, Options(version));
    ASSERT_EQ(0, OpenArchiveFromMemory(&record_, image.data(), image.size(), nullptr));
    struct Lookup {
      const char* path;
      const char* expected;  // null: not found
    };
    const Lookup lookups[] = {
        {"THIKO.PNG", "thiko"},
        {"thiko.PNG", "thiko"},
        {"\\Thiko.png", "thiko"},
        {"\x82\x60.TXT", "full-width A"},
        {"\x82\x81.txt", nullptr},  // double-byte lower-case a is another name
        {"\x82\x61"
         "B.TXT",
         "trail a"},
        {"\x82\x41"
         "B.TXT",
         nullptr},  // the trail byte was not upper-cased
        {"\x95\x5C\\INNER.TXT", "inner"},
        {"\x95\x5C/inner.txt", "inner"},
        {"\x95\\inner.txt", nullptr},
    };
    for (const Lookup& l : lookups) {
      SCOPED_TRACE(l.path);
      if (l.expected == nullptr) {
        EXPECT_EQ(nullptr, FindArchiveFile(l.path, &record_));
      } else {
        EXPECT_EQ(TextBytes(l.expected), MemberBytes(&record_, l.path));
      }
    }
    CloseArchive(&record_);
  }

  // Code page 949: every byte from 0x80 leads, so 0xB0 "a" is one character.
  PackerOptions korean = Options(6);
  korean.codePage = 949;
  Bytes image = Build({File("\xB0"
                            "a.txt",
                            TextBytes("hangul"))},
                      korean);
  ASSERT_EQ(0, OpenArchiveFromMemory(&record_, image.data(), image.size(), nullptr));
  EXPECT_EQ(TextBytes("hangul"), MemberBytes(&record_,
                                             "\xB0"
                                             "a.TXT"));
  EXPECT_EQ(nullptr, FindArchiveFile("\xB0"
                                     "A.TXT",
                                     &record_));
  CloseArchive(&record_);
}

TEST_F(ArchiveTest, SearchNames) {
  Bytes image = Build(SampleEntries(), Options(6));
  ASSERT_EQ(0, OpenArchiveFromMemory(&record_, image.data(), image.size(), nullptr));
  ArchiveSearchName name;
  int consumed = -1;
  EXPECT_EQ(3, MakeArchiveSearchName("abc\\def", &record_, &name, &consumed));
  EXPECT_EQ(4, consumed);
  EXPECT_EQ(1, name.units);
  EXPECT_EQ('A' + 'B' + 'C', name.sum);
  EXPECT_EQ(0, memcmp(name.bytes, "ABC\0", 4));

  EXPECT_EQ(4, MakeArchiveSearchName("abcd", &record_, &name, &consumed));
  EXPECT_EQ(4, consumed);
  EXPECT_EQ(2, name.units);  // at least one NUL
  EXPECT_EQ(0, memcmp(name.bytes, "ABCD\0\0\0\0", 8));

  EXPECT_EQ(0, MakeArchiveSearchName("/x", &record_, &name, &consumed));
  EXPECT_EQ(1, consumed);
  EXPECT_EQ(2, MakeArchiveSearchName("\x95\x5C", &record_, &name, nullptr));

  const std::string longest(ARCHIVE_NAME_MAX - 1, 'n');
  EXPECT_EQ(ARCHIVE_NAME_MAX - 1, MakeArchiveSearchName(longest.c_str(), &record_, &name, nullptr));
  const std::string tooLong(ARCHIVE_NAME_MAX, 'n');
  EXPECT_EQ(-1, MakeArchiveSearchName(tooLong.c_str(), &record_, &name, &consumed));
  EXPECT_EQ(nullptr, FindArchiveFile(tooLong.c_str(), &record_));
  CloseArchive(&record_);
}

// ---------------------------------------------------------------------------
// Folders

class ArchiveFolderTest : public ArchiveTest {
 protected:
  void SetUp() override {
    ArchiveTest::SetUp();
    image_ = Build({File("sub\\deep\\x.txt", TextBytes("x")), File("sub\\y.txt", TextBytes("y")),
                    File("top.txt", TextBytes("top"))},
                   Options(6));
    ASSERT_EQ(0, OpenArchiveFromMemory(&record_, image_.data(), image_.size(), nullptr));
    root_ = record_.currentDirectory;
    ASSERT_EQ(0, ChangeArchiveDirectory(&record_, "SUB", 1, nullptr));
    sub_ = record_.currentDirectory;
    ASSERT_EQ(0, ChangeArchiveDirectory(&record_, "DEEP", 1, nullptr));
    deep_ = record_.currentDirectory;
    record_.currentDirectory = root_;
    ASSERT_NE(root_, sub_);
    ASSERT_NE(sub_, deep_);
  }
  unsigned char* Named(char which) { return which == 'R' ? root_ : which == 'S' ? sub_ : deep_; }

  Bytes image_;
  unsigned char* root_ = nullptr;
  unsigned char* sub_ = nullptr;
  unsigned char* deep_ = nullptr;
};

TEST_F(ArchiveFolderTest, ChangeDirectoryTable) {
  struct Case {
    char from;  // R root, S sub, D deep
    const char* path;
    int restore;
    int result;
    char to;
    const char* failed;  // the missing component, upper-cased
  };
  const Case cases[] = {
      {'R', ".", 1, 0, 'R', nullptr},
      {'D', ".", 1, 0, 'D', nullptr},
      {'D', "\\", 1, 0, 'R', nullptr},
      {'D', "/", 1, 0, 'R', nullptr},
      {'D', "..", 1, 0, 'S', nullptr},
      {'S', "..", 1, 0, 'R', nullptr},
      {'R', "..", 1, 0, 'R', nullptr},  // the root's parent is the root
      {'R', "sub", 1, 0, 'S', nullptr},
      {'R', "Sub\\Deep", 1, 0, 'D', nullptr},
      {'R', "\\SUB\\DEEP\\", 1, 0, 'D', nullptr},
      {'S', "/sub/deep", 1, 0, 'D', nullptr},
      {'R', "SUB/../SUB/./DEEP", 1, 0, 'D', nullptr},
      {'D', "..\\..", 1, 0, 'R', nullptr},
      {'R', "sub//deep", 1, 0, 'D', nullptr},
      {'R', "nope", 1, -1, 'R', "NOPE"},
      {'R', "sub\\nope\\deep", 1, -1, 'R', "NOPE"},
      {'R', "sub\\nope", 0, -1, 'S', "NOPE"},
      {'R', "top.txt", 1, -1, 'R', "TOP.TXT"},  // a file is no folder
      {'S', "deep\\x.txt", 0, -1, 'D', "X.TXT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from << " " << c.path);
    record_.currentDirectory = Named(c.from);
    ArchiveSearchName failed;
    memset(&failed, 0, sizeof(failed));
    EXPECT_EQ(c.result, ChangeArchiveDirectory(&record_, c.path, c.restore, &failed));
    EXPECT_EQ(Named(c.to), record_.currentDirectory);
    if (c.failed != nullptr) {
      EXPECT_STREQ(c.failed, reinterpret_cast<const char*>(failed.bytes));
    }
  }
}

TEST_F(ArchiveFolderTest, FindingAFileKeepsTheCurrentFolder) {
  record_.currentDirectory = sub_;
  EXPECT_EQ(TextBytes("x"), MemberBytes(&record_, "deep\\x.txt"));
  EXPECT_EQ(TextBytes("y"), MemberBytes(&record_, "y.txt"));
  EXPECT_EQ(TextBytes("top"), MemberBytes(&record_, "\\top.txt"));
  EXPECT_EQ(TextBytes("top"), MemberBytes(&record_, "..\\top.txt"));
  EXPECT_EQ(sub_, record_.currentDirectory);
  EXPECT_EQ(nullptr, FindArchiveFile("top.txt", &record_));
  EXPECT_EQ(nullptr, FindArchiveFile("deep", &record_));    // a folder is no file
  EXPECT_EQ(nullptr, FindArchiveFile("deep\\", &record_));  // no file name
  EXPECT_EQ(nullptr, FindArchiveFile("nope\\x.txt", &record_));
  EXPECT_EQ(sub_, record_.currentDirectory);
}

// ---------------------------------------------------------------------------
// Damaged archives

// A mutation of the header or tables of a packed archive, made in plain
// form through the layout.
struct Damage {
  const char* name;
  void (*apply)(Bytes* image, const PackerLayout& layout, int version);
};

int Wide(int version) { return version >= 6 ? 8 : 4; }

const Damage kHeaderDamage[] = {
    {"Magic", [](Bytes* image, const PackerLayout&, int) { (*image)[0] = 'X'; }},
    {"Version7", [](Bytes* image, const PackerLayout&, int) { Put(image, 2, 7, 2); }},
    {"TableSizeZero", [](Bytes* image, const PackerLayout&, int) { Put(image, 4, 0, 4); }},
    {"TableSizePastTheEnd",
     [](Bytes* image, const PackerLayout& layout, int) { Put(image, 4, layout.tableSize + 1, 4); }},
    {"TableOffsetPastTheEnd", [](Bytes* image, const PackerLayout&,
                                 int version) { Put(image, 8 + Wide(version), image->size(), Wide(version)); }},
    {"HugeTableOffset", [](Bytes* image, const PackerLayout&,
                           int version) { Put(image, 8 + Wide(version), 0xFFFFFFF0ull, Wide(version)); }},
    {"FileTableOffsetPastTheTable",
     [](Bytes* image, const PackerLayout& layout, int version) {
       Put(image, 8 + 2 * Wide(version), layout.tableSize + 4, Wide(version));
     }},
    {"DirectoryTableOffsetPastTheTable",
     [](Bytes* image, const PackerLayout& layout, int version) {
       Put(image, 8 + 3 * Wide(version), layout.tableSize - 4, Wide(version));
     }},
    {"RootEntryCountHuge",
     [](Bytes* image, const PackerLayout& layout, int version) {
       Put(image, layout.tableOffset + layout.directoryTableOffset + 2 * Wide(version), 0x10000000, Wide(version));
     }},
    {"RootFirstEntryPastTheTable",
     [](Bytes* image, const PackerLayout& layout, int version) {
       Put(image, layout.tableOffset + layout.directoryTableOffset + 3 * Wide(version), layout.tableSize,
           Wide(version));
     }},
};

TEST_F(ArchiveTest, DamagedHeadersAndTablesFailToOpen) {
  for (int version : {1, 3, 4, 5, 6})
    for (const Damage& damage : kHeaderDamage) {
      SCOPED_TRACE(testing::Message() << damage.name << " version " << version);
      PackerLayout layout;
      Bytes image = Build(SampleEntries(), Options(version), &layout);
      FlipScrambling(&image, layout, version);
      damage.apply(&image, layout, version);
      FlipScrambling(&image, layout, version);
      const Bytes damaged = image;

      EXPECT_EQ(-1, OpenArchiveFromMemory(&record_, image.data(), image.size(), nullptr));
      EXPECT_TRUE(IsZeroed(record_));
      EXPECT_TRUE(image == damaged) << "image left changed";

      WriteFileBytes(PathOf("d.RVA"), damaged);
      EXPECT_EQ(-1, OpenArchiveFileTablesOnly(&record_, PathOf("d.RVA").c_str(), nullptr));
      EXPECT_TRUE(IsZeroed(record_));
      EXPECT_EQ(-1, OpenArchiveFileInMemory(&record_, PathOf("d.RVA").c_str(), nullptr, 0));
      EXPECT_TRUE(IsZeroed(record_));
    }
}

TEST_F(ArchiveTest, ShortAndMissingFilesFailToOpen) {
  const Bytes image = Build(SampleEntries(), Options(6));
  for (size_t size : {0u, 1u, 4u, 20u, 47u}) {
    SCOPED_TRACE(size);
    Bytes cut(image.begin(), image.begin() + size);
    EXPECT_EQ(-1, OpenArchiveFromMemory(&record_, cut.data(), cut.size(), nullptr));
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), image.begin()));
    WriteFileBytes(PathOf("s.RVA"), cut);
    EXPECT_EQ(-1, OpenArchiveFileTablesOnly(&record_, PathOf("s.RVA").c_str(), nullptr));
    EXPECT_EQ(-1, OpenArchiveFileInMemory(&record_, PathOf("s.RVA").c_str(), nullptr, 0));
    EXPECT_TRUE(IsZeroed(record_));
  }
  // Tables that run past the end of a cut file.
  Bytes cut(image.begin(), image.end() - 10);
  WriteFileBytes(PathOf("s.RVA"), cut);
  EXPECT_EQ(-1, OpenArchiveFileTablesOnly(&record_, PathOf("s.RVA").c_str(), nullptr));
  EXPECT_EQ(-1, OpenArchiveFileTablesOnly(&record_, PathOf("missing.RVA").c_str(), nullptr));
  EXPECT_EQ(-1, OpenArchiveFileInMemory(&record_, PathOf("missing.RVA").c_str(), nullptr, 1));
  EXPECT_EQ(-1, OpenArchiveFromMemory(&record_, nullptr, 100, nullptr));
  EXPECT_TRUE(IsZeroed(record_));
}

// Entries that point outside the tables or the image: versions 5 and 6
// walk every file when opened from memory and refuse the archive; older
// ones find the fault when the entry is used.
TEST_F(ArchiveTest, DamagedEntries) {
  const std::vector<PackerEntry> entries = {File("sub\\a.txt", TextBytes("aaaa")), File("b.txt", TextBytes("bbbb")),
                                            File("c.txt", TextBytes("cccc"))};
  struct EntryDamage {
    const char* name;
    int field;  // 0 name offset, 1 data offset, 2 size
    uint64_t value;
  };
  const EntryDamage damages[] = {
      {"NameOffsetPastTheTable", 0, 0x7FFFFFF0},
      {"DataOffsetPastTheImage", 1, 0x7FFFFFF0},
      {"SizePastTheImage", 2, 0x7FFFFFF0},
  };
  for (int version : {3, 5, 6})
    for (const EntryDamage& damage : damages) {
      SCOPED_TRACE(testing::Message() << damage.name << " version " << version);
      PackerLayout layout;
      Bytes image = Build(entries, Options(version, PACK_NEVER), &layout);
      const PackerFileLayout& b = layout.files[0];  // the root's files come first
      ASSERT_EQ("b.txt", b.path);
      const int w = Wide(version);
      // Field positions in the entry.
      const uint64_t offsets[3] = {0, version >= 6 ? 40u : 32u, version >= 6 ? 48u : 36u};
      FlipScrambling(&image, layout, version);
      Put(&image, b.entryPosition + offsets[damage.field], damage.value, w);
      FlipScrambling(&image, layout, version);
      const Bytes damaged = image;

      const int result = OpenArchiveFromMemory(&record_, image.data(), image.size(), nullptr);
      if (version >= 5 && damage.field != 0) {
        EXPECT_EQ(-1, result);
        EXPECT_TRUE(image == damaged);
      } else {
        ASSERT_EQ(0, result);
        uint32_t position = 0, size = 0;
        EXPECT_EQ(-1, GetArchiveFileLocation(&record_, "b.txt", &position, &size));
        EXPECT_EQ(TextBytes("cccc"), MemberBytes(&record_, "c.txt"));
        EXPECT_EQ(TextBytes("aaaa"), MemberBytes(&record_, "sub\\a.txt"));
        CloseArchive(&record_);
        EXPECT_TRUE(image == damaged);
      }
      // Tables only: the entry is refused when it is used.
      WriteFileBytes(PathOf("e.RVA"), damaged);
      ASSERT_EQ(0, OpenArchiveFileTablesOnly(&record_, PathOf("e.RVA").c_str(), nullptr));
      EXPECT_NE(nullptr, FindArchiveFile("c.txt", &record_));
      CloseArchive(&record_);
    }
}

// File data lying over the header or the tables would change them while
// versions 5 and 6 are unscrambled in place: refused, image untouched.
TEST_F(ArchiveTest, DataOverHeaderOrTablesIsRefusedInPlace) {
  for (int version : {5, 6})
    for (int overTables : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "version " << version << (overTables ? " tables" : " header"));
      PackerLayout layout;
      Bytes image = Build({File("a.txt", TextBytes("aaaa")), File("b.txt", TextBytes("bbbb"))}, Options(version),
                          &layout);
      const uint64_t target = overTables ? layout.tableOffset + 8 : 2;
      // The data offset is counted from the data area, which follows the header.
      const int64_t offset = static_cast<int64_t>(target) - static_cast<int64_t>(layout.dataOffset);
      if (offset < 0) {
        // Reach the header by moving the data area itself.
        FlipScrambling(&image, layout, version);
        Put(&image, 8, 0, Wide(version));
        FlipScrambling(&image, layout, version);
      } else {
        FlipScrambling(&image, layout, version);
        Put(&image, layout.files[1].entryPosition + (version >= 6 ? 40 : 32), static_cast<uint64_t>(offset),
            Wide(version));
        FlipScrambling(&image, layout, version);
      }
      const Bytes damaged = image;
      EXPECT_EQ(-1, OpenArchiveFromMemory(&record_, image.data(), image.size(), nullptr));
      EXPECT_TRUE(image == damaged);
    }
}

// A folder whose directory entry leads back to the root: lookups stay
// bounded by the path, and the memory walk of versions 5 and 6 refuses it.
TEST_F(ArchiveTest, FolderLoopsAreBounded) {
  for (int version : {3, 6}) {
    SCOPED_TRACE(version);
    PackerLayout layout;
    Bytes image = Build({File("sub\\a.txt", TextBytes("a")), File("b.txt", TextBytes("b"))}, Options(version), &layout);
    const int entrySize = ArchiveFileEntrySize(version);
    // The root's own entry comes first, then "sub".
    const uint64_t subEntry = layout.tableOffset + layout.fileTableOffset + entrySize;
    const uint64_t dataField = subEntry + (version >= 6 ? 40 : 32);
    FlipScrambling(&image, layout, version);
    ASSERT_NE(0u, Get(image, dataField, Wide(version)));
    Put(&image, dataField, 0, Wide(version));  // "sub" is the root again
    FlipScrambling(&image, layout, version);
    const Bytes damaged = image;
    const int result = OpenArchiveFromMemory(&record_, image.data(), image.size(), nullptr);
    if (version >= 5) {
      EXPECT_EQ(-1, result);
      EXPECT_TRUE(image == damaged);
      continue;
    }
    ASSERT_EQ(0, result);
    EXPECT_EQ(TextBytes("b"), MemberBytes(&record_, "sub\\sub\\sub\\b.txt"));
    EXPECT_EQ(nullptr, FindArchiveFile("sub\\a.txt", &record_));
    CloseArchive(&record_);
    EXPECT_TRUE(image == damaged);
  }
}

// Versions 0 and 1 have no packed size: asking the packer to pack stores.
TEST_F(ArchiveTest, OldVersionsStoreEveryFile) {
  for (int version : {0, 1}) {
    PackerLayout layout;
    Build(SampleEntries(), Options(version, PACK_ALWAYS), &layout);
    for (const PackerFileLayout& file : layout.files) EXPECT_FALSE(file.packed) << file.path;
  }
}

TEST_F(ArchiveTest, PackerRefusesBadInput) {
  Bytes out;
  std::string error;
  EXPECT_FALSE(BuildArchive(SampleEntries(), Options(7), &out, nullptr, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(BuildArchive({File("a.txt", {}), File("A.TXT", {})}, Options(6), &out, nullptr, &error));
  EXPECT_FALSE(BuildArchive({File("a\\\\b.txt", {})}, Options(6), &out, nullptr, &error));
  EXPECT_FALSE(BuildArchive({File("a", {}), File("a\\b.txt", {})}, Options(6), &out, nullptr, &error));
  EXPECT_TRUE(BuildArchive({Folder("a"), File("a\\b.txt", {})}, Options(6), &out, nullptr, &error)) << error;
}

}  // namespace
