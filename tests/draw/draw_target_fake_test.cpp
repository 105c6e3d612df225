// Draw targets against the fake device call table: the destination copy
// that a render-target graphic with alpha gets (its work surface filled
// under each shape draw, off for the screen, for graphics without alpha,
// with a further render target and once the work graphic is gone), render
// targets of further indices kept through the render-target cache (so a
// filter pass unsets and restores them), a read-back that locks the back
// buffer in place when the probe chose that, and a copy out of a view
// inside a larger graphic taking the view's own pixels.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeDirect3D.h"
#include "LogCapture.h"
#include "RaRadara.h"
#include "TestFiles.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"
#include "VuViderezaFilter.h"
#include "VuViderezaGraph.h"
#include "VuViderezaGraphView.h"
#include "VuViderezaGraphics.h"
#include "VuViderezaRebuild.h"
#include "VuViderezaShape.h"

using test_support::FakeDirect3D;

namespace {

// Textures and their level-0 surfaces: surface i belongs to texture i.
char Textures[256];
char Surfaces[256];
int NextTexture = 0;

struct Stretch {
  IDirect3DSurface9* from;
  RECT fromRect;
  IDirect3DSurface9* to;
  RECT toRect;
};
std::vector<Stretch> Stretches;
IDirect3DSurface9* DeviceTargets[8];
struct Lock {
  IDirect3DSurface9* surface;
  RECT rect;
};
std::vector<Lock> Locks;

RECT RectOrEmpty(const RECT* r) { return r != nullptr ? *r : RECT{-1, -1, -1, -1}; }

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class DrawTargetFakeTest : public ::testing::Test {
 protected:
  FakeDirect3D fake;
  test_support::LogCapture log_{test_support::SharedTempFolder("RIDOV_DRAW_TEST_FOLDER", "draw_target")};
  void SetUp() override {
    NextTexture = 0;
    Stretches.clear();
    Locks.clear();
    for (IDirect3DSurface9*& s : DeviceTargets) s = nullptr;
    fake.table.CreateDeviceTexture = [](UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9** texture,
                                        HANDLE*) -> HRESULT {
      *texture = reinterpret_cast<IDirect3DTexture9*>(&Textures[NextTexture++ % 256]);
      return D3D_OK;
    };
    fake.table.GetTextureSurfaceLevel = [](IDirect3DTexture9* texture, UINT, IDirect3DSurface9** s) -> HRESULT {
      *s = reinterpret_cast<IDirect3DSurface9*>(&Surfaces[reinterpret_cast<char*>(texture) - Textures]);
      return D3D_OK;
    };
    fake.table.ColorFillDeviceSurface = [](IDirect3DSurface9*, const RECT*, D3DCOLOR) -> HRESULT { return D3D_OK; };
    fake.table.StretchDeviceRect = [](IDirect3DSurface9* from, const RECT* fromRect, IDirect3DSurface9* to,
                                      const RECT* toRect, D3DTEXTUREFILTERTYPE) -> HRESULT {
      Stretches.push_back({from, RectOrEmpty(fromRect), to, RectOrEmpty(toRect)});
      return D3D_OK;
    };
    fake.table.SetDeviceRenderTarget = [](DWORD index, IDirect3DSurface9* s) -> HRESULT {
      if (index < 8) DeviceTargets[index] = s;
      return D3D_OK;
    };
    fake.table.LockSurfaceRect = [](IDirect3DSurface9* s, D3DLOCKED_RECT* locked, const RECT* rect, DWORD) -> HRESULT {
      static std::vector<unsigned char> pixels(640 * 480 * 4);
      Locks.push_back({s, RectOrEmpty(rect)});
      locked->pBits = pixels.data();
      locked->Pitch = 640 * 4;
      return D3D_OK;
    };
    StartupSettings.windowed = 1;
    Screen.width = 640;
    Screen.height = 480;
    Screen.colorBits = 32;
    ASSERT_EQ(0, InitializeGraphicsSystem());
    ASSERT_EQ(1, DeviceLayer.hardware);
    fake.calls.clear();
  }
  void TearDown() override {
    TerminateGraphicsSystem();
    StartupSettings.windowed = 0;
  }
  static int MakeTarget(int width, int height, int alpha) {
    GraphCreateSettings settings;
    InitDrawableGraphSettings(&settings, 32, alpha);
    return CreateBlankGraphHandle(&settings, width, height, 0, 0, 0);
  }
  static IDirect3DSurface9* SurfaceOf(int graphic) {
    GraphicHandleRecord* record = GetGraphicRecord(graphic, 0);
    return record != nullptr && record->image != nullptr ? record->image->textures[0].faces[0] : nullptr;
  }
};

TEST_F(DrawTargetFakeTest, AnAlphaRenderTargetGetsItsDestinationCopyUnderEachShape) {
  const int target = MakeTarget(64, 32, 1);
  ASSERT_GT(target, 0) << log_.Text();
  ASSERT_EQ(0, SetDrawTarget(target));
  EXPECT_EQ(1, CurrentDrawState.destinationBlend);
  ASSERT_NE(nullptr, DrawTargetWorkSurface);
  EXPECT_NE(SurfaceOf(target), DrawTargetWorkSurface);
  EXPECT_EQ(DestinationBlend.workSurface, DrawTargetWorkSurface);
  EXPECT_EQ(SurfaceOf(target), DestinationBlend.targetSurface);
  // The work target is the 64 x 64 square of the cache.
  EXPECT_EQ(DestinationBlend.workHandle, GetWorkRenderTargetGraph(0, 64, 32, 0));
  EXPECT_FLOAT_EQ(1.0f / 64.0f, DestinationBlend.invWidth);

  Stretches.clear();
  ASSERT_EQ(0, DrawRectShape(4, 5, 20, 10, MakeColorValue(255, 0, 0), 1));
  FlushVertexBatch(0);
  ASSERT_EQ(1u, Stretches.size()) << "the destination under the box copied once";
  EXPECT_EQ(SurfaceOf(target), Stretches[0].from);
  EXPECT_EQ(DrawTargetWorkSurface, Stretches[0].to);
  EXPECT_TRUE(SameRect(RECT{4, 5, 20, 10}, Stretches[0].fromRect));
  EXPECT_TRUE(SameRect(RECT{4, 5, 20, 10}, Stretches[0].toRect));

  // The screen as draw target: no copy.
  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
  EXPECT_EQ(0, CurrentDrawState.destinationBlend);
  EXPECT_EQ(nullptr, DrawTargetWorkSurface);
  Stretches.clear();
  ASSERT_EQ(0, DrawRectShape(4, 5, 20, 10, MakeColorValue(255, 0, 0), 1));
  FlushVertexBatch(0);
  EXPECT_TRUE(Stretches.empty());
}

TEST_F(DrawTargetFakeTest, TheDestinationCopyIsOffWhereItDoesNotApply) {
  const int opaque = MakeTarget(32, 32, 0);
  const int target = MakeTarget(32, 32, 1);
  const int further = MakeTarget(32, 32, 1);
  ASSERT_GT(opaque, 0);
  ASSERT_GT(target, 0);
  ASSERT_GT(further, 0);
  ASSERT_EQ(0, SetDrawTarget(opaque));
  EXPECT_EQ(0, CurrentDrawState.destinationBlend) << "no alpha";
  EXPECT_EQ(nullptr, DrawTargetWorkSurface);

  ASSERT_EQ(0, SetDrawTarget(target));
  ASSERT_EQ(1, CurrentDrawState.destinationBlend);
  ASSERT_EQ(0, SetDrawTargetOfIndex(1, further, 0));
  EXPECT_EQ(0, CurrentDrawState.destinationBlend) << "a further render target is set";
  EXPECT_EQ(nullptr, DrawTargetWorkSurface);
  ASSERT_EQ(0, SetDrawTargetOfIndex(1, -1, 0));
  EXPECT_EQ(1, CurrentDrawState.destinationBlend) << "and is gone again";

  // The work graphic deleted behind the draw state's back.
  ASSERT_EQ(0, DeleteGraphicHandle(DestinationBlend.workHandle));
  EXPECT_EQ(0, CurrentDrawState.destinationBlend);
  EXPECT_EQ(nullptr, DrawTargetWorkSurface);
  Stretches.clear();
  ASSERT_EQ(0, DrawRectShape(0, 0, 8, 8, MakeColorValue(0, 0, 255), 1));
  FlushVertexBatch(0);
  EXPECT_TRUE(Stretches.empty());
  ASSERT_EQ(0, SetDrawTarget(SCREEN_BACK));
}

// A further render target goes through the render-target cache: a filter
// pass draws with index 0 alone and puts the further ones back.
TEST_F(DrawTargetFakeTest, AFilterPassUnsetsAndRestoresFurtherRenderTargets) {
  const int further = MakeTarget(32, 32, 1);
  const int third = MakeTarget(32, 32, 1);
  ASSERT_GT(further, 0);
  ASSERT_GT(third, 0);
  ASSERT_EQ(0, SetDrawTargetOfIndex(1, further, 0));
  ASSERT_EQ(0, SetDrawTargetOfIndex(3, third, 0));
  EXPECT_EQ(SurfaceOf(further), DeviceTargets[1]);
  EXPECT_EQ(SurfaceOf(further), GetCachedRenderTarget(1));
  EXPECT_EQ(SurfaceOf(third), GetCachedRenderTarget(3));

  FilterDrawSave save;
  BeginFilterDrawState(&save);
  EXPECT_EQ(nullptr, DeviceTargets[1]) << "a pass draws into index 0 alone";
  EXPECT_EQ(nullptr, DeviceTargets[3]);
  EndFilterDrawState(&save);
  EXPECT_EQ(SurfaceOf(further), DeviceTargets[1]);
  EXPECT_EQ(SurfaceOf(third), DeviceTargets[3]);

  ASSERT_EQ(0, SetDrawTargetOfIndex(1, -1, 0));
  EXPECT_EQ(nullptr, DeviceTargets[1]);
  EXPECT_EQ(nullptr, GetCachedRenderTarget(1));
  // A deleted graphic leaves its index through the cache as well.
  ASSERT_EQ(0, DeleteGraphicHandle(third));
  EXPECT_EQ(nullptr, DeviceTargets[3]);
  EXPECT_EQ(nullptr, GetCachedRenderTarget(3));
}

// The probe's choice: lock the back buffer in place, or copy it out
// through a render target and a system-memory surface.
TEST_F(DrawTargetFakeTest, ReadBackLocksTheBackBufferWhenTheProbeChoseIt) {
  const RECT rect = {10, 20, 42, 36};
  BaseImageRecord image;
  for (int lock = 0; lock < 2; lock++) {
    DeviceCaps.useBackBufferLock = lock;
    Locks.clear();
    fake.calls.clear();
    ASSERT_EQ(0, ReadBackGraphicPixels(&rect, &image, SCREEN_BACK, 0, 1, 0)) << lock;
    EXPECT_EQ(32, image.width);
    EXPECT_EQ(16, image.height);
    ASSERT_EQ(1u, Locks.size()) << lock;
    if (lock) {
      EXPECT_EQ(DeviceLayer.backBuffer, Locks[0].surface);
      EXPECT_TRUE(SameRect(rect, Locks[0].rect));
      EXPECT_EQ(0, fake.Count("CreateRenderTarget(")) << fake.Joined();
    } else {
      EXPECT_NE(DeviceLayer.backBuffer, Locks[0].surface);
      EXPECT_EQ(1, fake.Count("CreateRenderTarget(32x16)")) << fake.Joined();
    }
    EndGraphicPixelReadBack();
  }
}

// A view lies at (8, 4) of its graphic's texture: its rectangle (2, 3)-(10, 9)
// is (10, 7)-(18, 13) there.
TEST_F(DrawTargetFakeTest, CopyingOutOfAViewTakesTheViewsOwnPixels) {
  const int whole = MakeTarget(64, 32, 1);
  const int target = MakeTarget(16, 16, 1);
  ASSERT_GT(whole, 0);
  ASSERT_GT(target, 0);
  const int view = CreateDerivedGraph(8, 4, 20, 16, whole);
  ASSERT_GT(view, 0);
  Stretches.clear();
  ASSERT_EQ(0, CopyScreenRectToGraph(view, 0, {2, 3, 10, 9}, 1, 2, target));
  ASSERT_EQ(1u, Stretches.size());
  EXPECT_EQ(SurfaceOf(whole), Stretches[0].from);
  EXPECT_TRUE(SameRect(RECT{10, 7, 18, 13}, Stretches[0].fromRect));
  EXPECT_EQ(SurfaceOf(target), Stretches[0].to);
  EXPECT_TRUE(SameRect(RECT{1, 2, 9, 8}, Stretches[0].toRect));
  EXPECT_EQ(-1, CopyScreenRectToGraph(view, 0, {12, 0, 22, 4}, 0, 0, target)) << "beyond the view";
}

}  // namespace
