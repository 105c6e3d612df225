// The generated game data as the library reads it: every picture the game
// cuts into tiles loads through the image loader at the size the game cuts
// it to, with the tiles the game shows visible and told apart; the packed
// archives stand in for the folders (the folder-to-archive substitution of
// the archive layer), their members read back byte for byte and their
// pictures decode to the same pixels; the MP3s decode through the
// system's Audio Compression Manager, as the sound loader plays them.
#include <gtest/gtest.h>

#include <windows.h>
// after windows.h, which leaves the multimedia headers out
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DaDode.h"
#include "ReReziRader.h"
#include "RoRezedur_.h"
#include "TestFiles.h"
#include "ZiDezaru.h"

namespace {

using test_support::ReadFileBytes;

typedef std::vector<unsigned char> Bytes;

std::string FullPath(const char* path) {
  char full[MAX_PATH];
  return GetFullPathNameA(path, MAX_PATH, full, nullptr) ? std::string(full) : std::string(path);
}
const std::string kData = FullPath(QUINSEL_DATA_DIR);
const std::string kPack = FullPath(QUINSEL_PACK_DIR);

enum Look { LOOK_SPRITE, LOOK_OPAQUE };

// One divided load of the game, the tiles it shows and the tiles that must
// look different from each other.
struct SheetLoad {
  const char* file;
  int count, across, down, w, h;
  Look look;
  std::vector<int> shown;
  std::vector<int> distinct;
};

const std::vector<SheetLoad>& Loads() {
  static const std::vector<SheetLoad> loads = {
      {"img/player/thiko.png",
       16,
       4,
       4,
       55,
       80,
       LOOK_SPRITE,
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
       {0, 1, 4, 8, 12, 13, 14, 15}},
      {"img/enemy/rubyrou.png", 16, 4, 4, 50, 50, LOOK_SPRITE, {0}, {}},
      {"img/enemy/flamefly.png", 16, 4, 4, 50, 50, LOOK_SPRITE, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 2, 4, 5, 6, 7}},
      {"img/enemy/agcat.png", 16, 4, 4, 150, 120, LOOK_SPRITE, {0}, {}},
      {"img/enemy/cannon.png", 16, 4, 4, 75, 75, LOOK_SPRITE, {1, 8}, {1, 8}},
      {"img/enemy/doradora.png", 16, 4, 4, 150, 120, LOOK_SPRITE, {0, 4}, {0, 4}},
      {"img/enemy/fairyknight.png", 16, 4, 4, 150, 240, LOOK_SPRITE, {0, 4, 5, 6}, {0, 4, 5, 6}},
      {"img/enemy/kukuru.png", 16, 4, 4, 130, 130, LOOK_SPRITE, {0}, {}},
      {"img/bullet/player.png", 16, 4, 4, 32, 32, LOOK_SPRITE, {0}, {}},
      {"img/bullet/player.png", 16, 4, 4, 32, 32, LOOK_SPRITE, {0}, {}},
      {"img/bullet/bigfire.png", 16, 4, 4, 70, 70, LOOK_SPRITE, {0}, {}},
      {"img/bullet/fullfire.png", 16, 4, 4, 155, 190, LOOK_SPRITE, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"img/bullet/flower.png", 16, 4, 4, 51, 51, LOOK_SPRITE, {0}, {}},
      {"img/bullet/bullet.png", 16, 4, 4, 38, 38, LOOK_SPRITE, {0, 3}, {0, 3}},
      {"img/bullet/lazer.png", 16, 4, 4, 32, 160, LOOK_SPRITE, {0}, {}},
      {"img/bullet/tornado.png", 16, 4, 4, 40, 40, LOOK_SPRITE, {0}, {}},
      {"img/item/quinsel.png", 16, 4, 4, 35, 35, LOOK_SPRITE, {0}, {}},
      {"img/item/seed.png", 16, 4, 4, 40, 40, LOOK_SPRITE, {0}, {}},
      {"img/item/seed.png", 16, 4, 4, 45, 45, LOOK_SPRITE, {0, 1, 2, 3}, {0, 1, 2, 3}},
      {"img/item/quinsel.png", 16, 4, 4, 35, 35, LOOK_SPRITE, {0}, {}},
      {"img/item/magic.png", 16, 4, 4, 80, 80, LOOK_SPRITE, {0, 4, 8}, {0, 4, 8}},
      {"img/stage/stage1.png", 1, 1, 1, 540, 4000, LOOK_OPAQUE, {0}, {}},
      {"img/status/status.png",
       40,
       10,
       4,
       40,
       40,
       LOOK_SPRITE,
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 20},
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 20}},
      {"img/status/frame3.png", 1, 1, 1, 154, 155, LOOK_SPRITE, {0}, {}},
      {"img/status/hp_bar.png", 2, 2, 1, 53, 46, LOOK_SPRITE, {0, 1}, {0, 1}},
      {"img/status/mp_on2.png", 1, 1, 1, 154, 155, LOOK_SPRITE, {0}, {}},
      {"img/status/mp_on2_white.png", 1, 1, 1, 154, 155, LOOK_SPRITE, {0}, {}},
      {"img/status/mp_off2.png", 1, 1, 1, 154, 155, LOOK_SPRITE, {0}, {}},
      {"img/status/enemy_hp.png", 1, 1, 1, 1, 300, LOOK_SPRITE, {0}, {}},
      {"img/status/enemy_hp_frame.png", 1, 1, 1, 1, 300, LOOK_SPRITE, {0}, {}},
  };
  return loads;
}

// A decoded picture as 8-bit RGBA, row by row.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> rgba;  // r | g << 8 | b << 16 | a << 24
  uint32_t At(int x, int y) const { return rgba[static_cast<size_t>(y) * width + x]; }
  static int Alpha(uint32_t p) { return static_cast<int>(p >> 24); }
};

// Through the library's image loader (the current file-stream table).
bool LoadPicture(const std::string& path, Picture* out) {
  BaseImageRecord image;
  if (LoadImageToBaseImage(path.c_str(), nullptr, 0, 0, &image, 0) != 0) return false;
  out->width = image.width;
  out->height = image.height;
  out->rgba.resize(static_cast<size_t>(image.width) * image.height);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      int r = 0, g = 0, b = 0, a = 0;
      GetBaseImagePixelRGBA(&image, x, y, &r, &g, &b, &a);
      out->rgba[static_cast<size_t>(y) * image.width + x] = static_cast<uint32_t>(r) | g << 8 | b << 16 |
                                                            static_cast<uint32_t>(a) << 24;
    }
  const bool hasAlpha = image.format.alphaWidth != 0;
  ReleaseBaseImage(&image);
  return hasAlpha;
}

std::string Native(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Visible pixels of a tile, and the tile's pixels for comparison.
int VisibleIn(const Picture& p, int x0, int y0, int w, int h) {
  int n = 0;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) n += Picture::Alpha(p.At(x, y)) != 0;
  return n;
}
std::vector<uint32_t> TilePixels(const Picture& p, int x0, int y0, int w, int h) {
  std::vector<uint32_t> out;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) out.push_back(p.At(x, y));
  return out;
}

// Every file below a folder, as paths relative to it with "/".
void ListFiles(const std::string& root, const std::string& rel, std::vector<std::string>* out) {
  WIN32_FIND_DATAA data;
  const std::string pattern = root + "\\" + Native(rel) + (rel.empty() ? "*" : "\\*");
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    const std::string child = rel.empty() ? name : rel + "/" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ListFiles(root, child, out);
    else out->push_back(child);
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

Bytes ReadThroughStreams(const std::string& path) {
  const StreamHandle stream = FileStreamOpen(path.c_str(), 0, 1, 0);
  if (stream == 0) return Bytes(1, 0xEE);
  Bytes bytes;
  unsigned char buffer[65536];
  for (size_t got; (got = FileStreamRead(buffer, 1, sizeof(buffer), stream)) != 0;)
    bytes.insert(bytes.end(), buffer, buffer + got);
  EXPECT_EQ(0, FileStreamClose(stream));
  return bytes;
}

// The archive layer is the file-stream table, as in the game.
class AssetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    allocCount_ = GetAllocCount();
    EXPECT_EQ(0, StartArchiveLayer());
    SetupFileStreamFunctions(GetArchiveFileFunctions());
  }
  void TearDown() override {
    EXPECT_EQ(0, EndArchiveLayer());
    SetupFileStreamFunctions(nullptr);
    EXPECT_EQ(allocCount_, GetAllocCount()) << "blocks left behind";
  }
  int allocCount_ = 0;
};

TEST_F(AssetsTest, EveryPictureLoadsAtTheSizeTheGameCutsAndShowsItsTiles) {
  // The size of a file is that of its largest cut: seed.png is cut in 40
  // and in 45 pixel tiles.
  struct Size {
    std::string file;
    int w, h;
  };
  std::vector<Size> sizes;
  for (const SheetLoad& load : Loads()) {
    auto it = std::find_if(sizes.begin(), sizes.end(), [&](const Size& s) { return s.file == load.file; });
    if (it == sizes.end()) it = sizes.insert(sizes.end(), {load.file, 0, 0});
    it->w = std::max(it->w, load.across * load.w);
    it->h = std::max(it->h, load.down * load.h);
  }
  EXPECT_EQ(27u, sizes.size());

  for (const SheetLoad& load : Loads()) {
    SCOPED_TRACE(load.file + std::string(" in ") + std::to_string(load.w) + "x" + std::to_string(load.h));
    Picture p;
    ASSERT_TRUE(LoadPicture(kData + "\\" + Native(load.file), &p)) << "no picture with alpha";
    const Size& size = *std::find_if(sizes.begin(), sizes.end(), [&](const Size& s) { return s.file == load.file; });
    ASSERT_EQ(size.w, p.width);
    ASSERT_EQ(size.h, p.height);
    ASSERT_LE(load.count, load.across * load.down);

    int clear = 0;
    for (uint32_t px : p.rgba) {
      clear += Picture::Alpha(px) == 0;
      // Black is the transparent colour of the graphics: never a visible pixel.
      if (Picture::Alpha(px) != 0) {
        ASSERT_NE(0u, px & 0xFFFFFFu) << "visible black pixel";
      }
    }
    if (load.look == LOOK_OPAQUE) EXPECT_EQ(0, clear);
    else EXPECT_GT(clear, 0);

    for (int tile : load.shown) {
      const int x0 = tile % load.across * load.w, y0 = tile / load.across * load.h;
      const int visible = VisibleIn(p, x0, y0, load.w, load.h);
      // Strips one pixel wide show only a short end (see below).
      EXPECT_GE(visible * (load.w > 1 ? 20 : 100), load.w * load.h) << "tile " << tile << " is nearly empty";
      if (load.look == LOOK_SPRITE && load.w > 1) {
        // Sprites stand free: their tile corners are see-through.
        EXPECT_EQ(0, Picture::Alpha(p.At(x0, y0))) << "tile " << tile;
        EXPECT_EQ(0, Picture::Alpha(p.At(x0 + load.w - 1, y0 + load.h - 1))) << "tile " << tile;
      }
    }
    for (size_t i = 0; i < load.distinct.size(); ++i)
      for (size_t j = i + 1; j < load.distinct.size(); ++j) {
        const int a = load.distinct[i], b = load.distinct[j];
        EXPECT_NE(TilePixels(p, a % load.across * load.w, a / load.across * load.h, load.w, load.h),
                  TilePixels(p, b % load.across * load.w, b / load.across * load.h, load.w, load.h))
            << "tiles " << a << " and " << b << " look the same";
      }
  }
}

// How the game combines pieces: the seed read in 40-pixel tiles shows the
// same first seed as in 45-pixel tiles; the gauge tube covers the rows the
// panel uncovers (13-138 of the picture) and nothing else; the boss ring
// strips draw one end only, so that each strip marks one angle.
TEST_F(AssetsTest, PiecesFitHowTheGameDrawsThem) {
  Picture seed;
  ASSERT_TRUE(LoadPicture(kData + "\\img\\item\\seed.png", &seed));
  EXPECT_EQ(VisibleIn(seed, 0, 0, 45, 45), VisibleIn(seed, 0, 0, 40, 40));

  for (const char* gauge : {"mp_on2.png", "mp_on2_white.png", "mp_off2.png"}) {
    SCOPED_TRACE(gauge);
    Picture p;
    ASSERT_TRUE(LoadPicture(kData + "\\img\\status\\" + gauge, &p));
    int top = p.height, bottom = -1;
    for (int y = 0; y < p.height; ++y) {
      if (VisibleIn(p, 0, y, p.width, 1) == 0) continue;
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
    EXPECT_EQ(13, top);
    EXPECT_EQ(138, bottom);
  }

  for (const char* strip : {"enemy_hp.png", "enemy_hp_frame.png"}) {
    SCOPED_TRACE(strip);
    Picture p;
    ASSERT_TRUE(LoadPicture(kData + "\\img\\status\\" + strip, &p));
    EXPECT_GT(VisibleIn(p, 0, 0, 1, 30), 0);
    EXPECT_EQ(0, VisibleIn(p, 0, 30, 1, 270));
  }
  // The gauge and its frame do not cover each other.
  Picture gauge, frame;
  ASSERT_TRUE(LoadPicture(kData + "\\img\\status\\enemy_hp.png", &gauge));
  ASSERT_TRUE(LoadPicture(kData + "\\img\\status\\enemy_hp_frame.png", &frame));
  for (int y = 0; y < 300; ++y)
    EXPECT_FALSE(Picture::Alpha(gauge.At(0, y)) != 0 && Picture::Alpha(frame.At(0, y)) != 0) << "row " << y;
}

// In the packed folder only the archives exist: every file of the four
// folders reads through the archive layer as it is on disk, and the
// pictures decode to the same pixels.
TEST_F(AssetsTest, ArchivesStandInForTheFolders) {
  std::vector<std::string> files;
  for (const char* top : {"img", "sound", "music", "data"}) {
    ListFiles(kData, top, &files);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((kPack + "\\" + top).c_str())) << "folder " << top;
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((kPack + "\\" + top + ".RVA").c_str())) << top;
  }
  EXPECT_EQ(47u, files.size());
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const Bytes disk = ReadFileBytes(kData + "\\" + Native(file));
    ASSERT_FALSE(disk.empty());
    EXPECT_TRUE(disk == ReadThroughStreams(kPack + "\\" + Native(file))) << "differs from the archive member";
  }
  // The game's own spelling, relative to the current folder.
  char saved[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, saved);
  ASSERT_TRUE(SetCurrentDirectoryA(kPack.c_str()));
  EXPECT_TRUE(ReadFileBytes(kData + "\\data\\enemy_ptn.csv") == ReadThroughStreams("data/enemy_ptn.csv"));
  for (const char* file : {"img/player/thiko.png", "img/stage/stage1.png", "img/status/enemy_hp.png"}) {
    SCOPED_TRACE(file);
    Picture packed, plain;
    EXPECT_TRUE(LoadPicture(file, &packed));
    EXPECT_TRUE(LoadPicture(kData + "\\" + Native(file), &plain));
    EXPECT_EQ(plain.width, packed.width);
    EXPECT_EQ(plain.height, packed.height);
    EXPECT_TRUE(plain.rgba == packed.rgba);
  }
  SetCurrentDirectoryA(saved);
  CloseUnusedArchives();
}

// Each MP3 opens as MPEG Layer-3 in the Audio Compression Manager and its
// first frames convert to PCM that is not silent.
TEST_F(AssetsTest, Mp3sConvertThroughTheAudioCompressionManager) {
  std::vector<std::string> files;
  ListFiles(kData, "sound", &files);
  ListFiles(kData, "music", &files);
  int mp3s = 0;
  for (const std::string& file : files) {
    if (file.size() < 4 || file.compare(file.size() - 4, 4, ".mp3") != 0) continue;
    SCOPED_TRACE(file);
    ++mp3s;
    Bytes data = ReadFileBytes(kData + "\\" + Native(file));
    ASSERT_GT(data.size(), 4u);
    ASSERT_EQ(0xFF, data[0]);
    ASSERT_EQ(0xFA, data[1] & 0xFE);  // MPEG-1 Layer III
    static const int kBitrates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    const int bitrate = kBitrates[data[2] >> 4];
    ASSERT_GT(bitrate, 0);
    ASSERT_EQ(0, (data[2] >> 2) & 3) << "44.1 kHz";
    const int channels = (data[3] >> 6) == 3 ? 1 : 2;
    const int frameBytes = 144000 * bitrate / 44100;

    MPEGLAYER3WAVEFORMAT mp3 = {};
    mp3.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    mp3.wfx.nChannels = static_cast<WORD>(channels);
    mp3.wfx.nSamplesPerSec = 44100;
    mp3.wfx.nAvgBytesPerSec = bitrate * 1000 / 8;
    mp3.wfx.nBlockAlign = 1;
    mp3.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    mp3.wID = MPEGLAYER3_ID_MPEG;
    mp3.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
    mp3.nBlockSize = static_cast<WORD>(frameBytes);
    mp3.nFramesPerBlock = 1;
    WAVEFORMATEX pcm = {};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    ASSERT_EQ(0u, acmFormatSuggest(nullptr, &mp3.wfx, &pcm, sizeof pcm, ACM_FORMATSUGGESTF_WFORMATTAG));
    HACMSTREAM stream = nullptr;
    ASSERT_EQ(0u, acmStreamOpen(&stream, nullptr, &mp3.wfx, &pcm, nullptr, 0, 0, 0));

    const DWORD sourceBytes = static_cast<DWORD>(std::min<size_t>(data.size(), 8 * frameBytes));
    DWORD outBytes = 0;
    ASSERT_EQ(0u, acmStreamSize(stream, sourceBytes, &outBytes, ACM_STREAMSIZEF_SOURCE));
    std::vector<unsigned char> out(outBytes + 65536);
    ACMSTREAMHEADER header = {};
    header.cbStruct = sizeof header;
    header.pbSrc = data.data();
    header.cbSrcLength = sourceBytes;
    header.pbDst = out.data();
    header.cbDstLength = static_cast<DWORD>(out.size());
    ASSERT_EQ(0u, acmStreamPrepareHeader(stream, &header, 0));
    EXPECT_EQ(0u, acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START));
    EXPECT_GT(header.cbDstLengthUsed, 0u);
    int loudest = 0;
    for (DWORD i = 0; i + 1 < header.cbDstLengthUsed; i += 2)
      loudest = std::max(loudest, std::abs(static_cast<int>(static_cast<int16_t>(out[i] | out[i + 1] << 8))));
    EXPECT_GT(loudest, 1000) << "silent";
    acmStreamUnprepareHeader(stream, &header, 0);
    acmStreamClose(stream, 0);
  }
  EXPECT_EQ(13, mp3s);  // 5 effects, 8 music
}

}  // namespace
