// Texture splitting against the fake device call table: a device whose caps
// allow only square textures gets every texture of a graphic square, and a
// tile over the seams still gets one piece per texture it overlaps.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "FakeDirect3D.h"
#include "LogCapture.h"
#include "RaRadara.h"
#include "TestFiles.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphView.h"
#include "VuViderezaGraphics.h"

using test_support::FakeDirect3D;
using test_support::LogCapture;

namespace {

char Surface[4];
DWORD TextureCaps = 0;
std::vector<std::pair<UINT, UINT>>* Made = nullptr;  // CreateTexture sizes

class GraphSplitFakeTest : public ::testing::TestWithParam<DWORD> {
 protected:
  FakeDirect3D fake;
  LogCapture log_{test_support::SharedTempFolder("RIDOV_SPLIT_TEST_FOLDER", "split")};
  std::vector<std::pair<UINT, UINT>> made_;
  GraphCreateSettings saved_{};

  void SetUp() override {
    TextureCaps = GetParam();
    Made = &made_;
    fake.table.GetDeviceCapsOfDevice = [](D3DCAPS9* caps) -> HRESULT {
      *caps = {};
      caps->VertexShaderVersion = D3DVS_VERSION(3, 0);
      caps->PixelShaderVersion = D3DPS_VERSION(3, 0);
      caps->NumSimultaneousRTs = 4;
      caps->MaxTextureWidth = caps->MaxTextureHeight = 4096;
      caps->MaxPrimitiveCount = 65535;
      caps->MaxVertexIndex = 0xFFFFFF;
      caps->TextureCaps = TextureCaps;
      return D3D_OK;
    };
    fake.table.CreateDeviceTexture = [](UINT w, UINT h, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9** texture,
                                        HANDLE*) -> HRESULT {
      Made->push_back({w, h});
      *texture = reinterpret_cast<IDirect3DTexture9*>(&Surface[1]);
      return D3D_OK;
    };
    fake.table.GetTextureSurfaceLevel = [](IDirect3DTexture9*, UINT, IDirect3DSurface9** s) -> HRESULT {
      *s = reinterpret_cast<IDirect3DSurface9*>(&Surface[0]);
      return D3D_OK;
    };
    fake.table.ColorFillDeviceSurface = [](IDirect3DSurface9*, const RECT*, D3DCOLOR) -> HRESULT { return D3D_OK; };
    StartupSettings.windowed = 1;
    Screen.width = 640;
    Screen.height = 480;
    Screen.colorBits = 32;
    ASSERT_EQ(0, InitializeGraphicsSystem());
    ASSERT_EQ(1, DeviceLayer.hardware);
    GetGraphCreateSettings(&saved_);
    GraphCreateSettings settings = saved_;
    settings.maxTextureSide = 256;
    SetGraphCreateSettings(&settings);
  }
  void TearDown() override {
    SetGraphCreateSettings(&saved_);
    TerminateGraphicsSystem();
    StartupSettings.windowed = 0;
    Made = nullptr;
  }
};

TEST_P(GraphSplitFakeTest, ASquareOnlyDeviceGetsSquareTexturesAndTilesKeepTheirPieces) {
  const bool squareOnly = (GetParam() & D3DPTEXTURECAPS_SQUAREONLY) != 0;
  ASSERT_EQ(squareOnly ? 1 : 0, DeviceCaps.squareOnly);
  made_.clear();
  const int image = MakeBlankGraph(600, 200, 1, 0);  // drawable: one texture each, no system copy
  ASSERT_GT(image, 0) << log_.Text();
  const GraphicHandleRecord* record = GetGraphicRecord(image, 0);
  ASSERT_NE(nullptr, record);
  const int textures = record->image->textureCount;
  EXPECT_EQ(squareOnly ? 44 : 5, textures);
  ASSERT_EQ(static_cast<size_t>(textures), made_.size());
  int square = 0, area = 0;
  for (int i = 0; i < textures; i++) {
    const GraphTextureEntry& e = record->image->textures[i];
    EXPECT_EQ(static_cast<UINT>(e.allocWidth), made_[static_cast<size_t>(i)].first);
    EXPECT_EQ(static_cast<UINT>(e.allocHeight), made_[static_cast<size_t>(i)].second);
    square += e.allocWidth == e.allocHeight;
    area += e.usedWidth * e.usedHeight;
  }
  EXPECT_EQ(squareOnly ? textures : 2, square);
  EXPECT_EQ(600 * 200, area);
  EXPECT_EQ(textures, record->pieceCount) << "the whole graphic draws from every texture";

  // Tiles over the seams: the pieces tile the tile, each inside its texture.
  struct Tile {
    int x, y, w, h, pieces, squarePieces;
  } tiles[] = {
      {250, 10, 20, 20, 2, 2},    // across the first seam
      {500, 60, 20, 10, 2, 3},    // the 64-wide column: its squares' seam at y 64
      {570, 120, 30, 80, 3, 19},  // the 64, 16 and 8 wide columns down to the bottom: 3 + 6 + 10
      {10, 10, 50, 50, 1, 1},     // inside one texture
  };
  for (const Tile& t : tiles) {
    const int tile = CreateDerivedGraph(t.x, t.y, t.w, t.h, image);
    ASSERT_GT(tile, 0);
    const GraphicHandleRecord* r = GetGraphicRecord(tile, 0);
    EXPECT_EQ(squareOnly ? t.squarePieces : t.pieces, r->pieceCount) << t.x << "," << t.y;
    int covered = 0;
    for (int i = 0; i < r->pieceCount; i++) {
      const GraphPiece& p = r->pieces[i];
      covered += p.width * p.height;
      EXPECT_EQ(t.x + p.x, p.entry->x + p.texX);
      EXPECT_EQ(t.y + p.y, p.entry->y + p.texY);
      EXPECT_LE(p.texX + p.width, p.entry->usedWidth);
      EXPECT_LE(p.texY + p.height, p.entry->usedHeight);
      EXPECT_FLOAT_EQ(static_cast<float>(p.texX + p.width) / p.entry->allocWidth, p.corners[14]);
    }
    EXPECT_EQ(t.w * t.h, covered);
    EXPECT_EQ(0, DeleteGraphicHandle(tile));
  }
  EXPECT_EQ(0, DeleteGraphicHandle(image));
}

INSTANTIATE_TEST_SUITE_P(Caps, GraphSplitFakeTest,
                         ::testing::Values(static_cast<DWORD>(0), static_cast<DWORD>(D3DPTEXTURECAPS_SQUAREONLY)));

}  // namespace
