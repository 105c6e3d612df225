// Graphics in software mode (memory images instead of textures), headless
// against the fake device table: the sheet's tiles are views of one memory
// image equal to the file, blank graphics, the palette image's transparent
// index, read-back of a rectangle, copies from the software screen, and the
// shared image freed with the last tile.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "FakeDirect3D.h"
#include "LogCapture.h"
#include "RaRadara.h"
#include "ReReziRader.h"
#include "RiDov.h"
#include "TestFiles.h"
#include "VeRavoro.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphView.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaGraphicsSoftware.h"
#include "ZiDezaru.h"

using test_support::FakeDirect3D;
using test_support::LogCapture;

namespace {

std::string SheetPath() {
  char full[MAX_PATH];
  std::string path = std::string(QUINSEL_DATA_DIR) + "/img/player/thiko.png";
  return GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr) ? std::string(full) : path;
}

class GraphSoftwareTest : public ::testing::Test {
 protected:
  FakeDirect3D fake;
  LogCapture log_{test_support::SharedTempFolder("RIDOV_GRAPH_SOFTWARE_FOLDER", "graph_software")};
  void SetUp() override {
    StartupSettings.windowed = 1;
    Screen.width = 320;
    Screen.height = 240;
    Screen.colorBits = 32;
    Screen.software = 1;
    ASSERT_EQ(0, InitializeGraphicsSystem());
    ASSERT_EQ(0, DeviceLayer.hardware);
    blocks_ = GetAllocCount();
  }
  void TearDown() override {
    TerminateGraphicsSystem();
    Screen.software = 0;
    StartupSettings.windowed = 0;
  }
  int blocks_ = 0;
};

TEST_F(GraphSoftwareTest, TheSheetsTilesAreViewsEqualToTheFile) {
  BaseImageRecord file;
  ASSERT_EQ(0, LoadImageToBaseImage(SheetPath().c_str(), nullptr, 0, 0, &file, 0));
  int tiles[16];
  ASSERT_EQ(0, LoadImageDivided(SheetPath().c_str(), 16, 4, 4, 55, 80, tiles, 1)) << log_.Text();
  for (int i = 0; i < 16; i++) {
    GraphicHandleRecord* record = GetGraphicRecord(tiles[i], 0);
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(1, IsValidMemImg(&record->softImage));
    EXPECT_EQ(0, record->pieceCount);
    BaseImageRecord read;
    ASSERT_EQ(0, ReadGraphToBaseImage(tiles[i], &read));
    int wrong = 0;
    for (int y = 0; y < 80; y++)
      for (int x = 0; x < 55; x++)
        wrong += (GetBaseImagePixelARGB8(&read, x, y) & 0xffffff) !=
                 (GetBaseImagePixelARGB8(&file, i % 4 * 55 + x, i / 4 * 80 + y) & 0xffffff);
    EXPECT_EQ(0, wrong) << "tile " << i;
    ReleaseBaseImage(&read);
  }
  // A rectangle of one tile.
  const RECT part = {50, 70, 55, 80};
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(tiles[5], &read, &part));
  EXPECT_EQ(5, read.width);
  EXPECT_EQ(GetBaseImagePixelARGB8(&file, 55 + 52, 80 + 75) & 0xffffff, GetBaseImagePixelARGB8(&read, 2, 5) & 0xffffff);
  ReleaseBaseImage(&read);
  ReleaseBaseImage(&file);
  for (int i = 0; i < 16; i++) ASSERT_EQ(0, DeleteGraphicHandle(tiles[i]));
  EXPECT_EQ(blocks_, GetAllocCount()) << "the shared image goes with the last tile";
}

TEST_F(GraphSoftwareTest, BlankGraphicsAreClearedMemoryImages) {
  const int handle = MakeBlankGraph(40, 30, 1, 1);
  ASSERT_GT(handle, 0) << log_.Text();
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(handle, &read));
  int other = 0;
  for (int y = 0; y < 30; y++)
    for (int x = 0; x < 40; x++) other += GetBaseImagePixelARGB8(&read, x, y) != 0;
  EXPECT_EQ(0, other);
  ReleaseBaseImage(&read);
  EXPECT_EQ(-1, MakeBlankGraph(0, 30, 0, 0));
}

// A palette image's transparent index: the first entry equal to the key colour, else none.
struct PaletteCase {
  uint32_t entries[3];
  uint32_t expectedIndex;
};

TEST_F(GraphSoftwareTest, APaletteImageIsTransparentOnlyAtAnEntryEqualToTheKey) {
  const PaletteCase cases[] = {{{0x102030, 0x000000, 0x000000}, 1u},
                               {{0x102030, 0x405060, 0x708090}, 0xffffffffu},
                               {{0x000000, 0x102030, 0x000000}, 0u}};
  for (const PaletteCase& c : cases) {
    ColorFormatRecord format;
    MakeColorFormatPal8(&format);
    memset(format.palette, 0, sizeof format.palette);
    for (int i = 0; i < 256; i++) format.palette[i][0] = format.palette[i][1] = format.palette[i][2] = 0xEE;
    for (int i = 0; i < 3; i++) {
      format.palette[i][0] = static_cast<uint8_t>(c.entries[i]);
      format.palette[i][1] = static_cast<uint8_t>(c.entries[i] >> 8);
      format.palette[i][2] = static_cast<uint8_t>(c.entries[i] >> 16);
    }
    BaseImageRecord image;
    ASSERT_EQ(0, CreateBaseImageWithFormat(4, 2, &format, &image));
    memset(image.pixels, 1, static_cast<size_t>(image.pitch) * 2);
    GraphCreateSettings settings;
    GetGraphCreateSettings(&settings);
    const int handle = AllocGraphicHandle();
    ASSERT_EQ(0, CreateGraphFromBaseImages(&settings, handle, &image, nullptr, 0, 0));
    GraphicHandleRecord* record = GetGraphicRecord(handle, 0);
    ASSERT_NE(nullptr, record);
    ASSERT_EQ(1, record->image->softImage.header->palettised);
    EXPECT_EQ(c.expectedIndex, record->image->softImage.header->transparentColor) << std::hex << c.entries[0];
    DeleteGraphicHandle(handle);
    ReleaseBaseImage(&image);
  }
}

TEST_F(GraphSoftwareTest, TheScreenCopiesIntoAGraphicAndABadRectangleFails) {
  FillMemImgRectRaw(&SoftwareScreenImage, nullptr, 0x00336699);
  const int target = MakeBlankGraph(16, 8, 0, 0);
  ASSERT_GT(target, 0);
  ASSERT_EQ(0, CopyScreenRectToGraph(-2, 0, {10, 10, 26, 18}, 0, 0, target));
  BaseImageRecord read;
  ASSERT_EQ(0, ReadGraphToBaseImage(target, &read));
  EXPECT_EQ(0x336699u, GetBaseImagePixelARGB8(&read, 15, 7) & 0xffffff);
  ReleaseBaseImage(&read);
  EXPECT_EQ(-1, CopyScreenRectToGraph(-2, 0, {310, 0, 330, 8}, 0, 0, target)) << "beyond the screen";
  EXPECT_EQ(-1, CopyScreenRectToGraph(-2, 0, {0, 0, 16, 8}, 1, 0, target)) << "does not fit the target";
}

}  // namespace
