// The Theora YUV surface path against a small fake of the device calls:
// the format chosen (YV12, else YUY2, else UYVY), the picture rectangle
// written in each layout, the re-creation after a refresh request, failed
// locks, and no surface in software mode.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "MovieFixtures.h"
#include "VuViderezaDevice.h"

using movie_test::OpenedMovie;

namespace {

const D3DFORMAT kYV12 = static_cast<D3DFORMAT>(MAKEFOURCC('Y', 'V', '1', '2'));
const D3DFORMAT kYUY2 = static_cast<D3DFORMAT>(MAKEFOURCC('Y', 'U', 'Y', '2'));
const D3DFORMAT kUYVY = static_cast<D3DFORMAT>(MAKEFOURCC('U', 'Y', 'V', 'Y'));
const int kPitch = 128;

// The device calls the surface path makes, recorded; surfaces are dummy
// addresses, a lock hands out one shared buffer.
struct SurfaceFake {
  std::set<D3DFORMAT> refused;
  std::vector<std::string> calls;
  std::vector<uint8_t> bits = std::vector<uint8_t>(kPitch * 128, 0xEE);  // room for 64 x 64 in every layout
  int failingLocks = 0;
  UINT width = 0, height = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  int live = 0;
};
SurfaceFake* Fake = nullptr;
char SurfaceObjects[16];

class SurfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fake = &fake_;
    table_ = *GetRealDirect3DCallTable();
    table_.CreateDeviceOffscreenPlainSurface = [](UINT w, UINT h, D3DFORMAT format, D3DPOOL pool, IDirect3DSurface9** s,
                                                  HANDLE*) -> HRESULT {
      Fake->calls.push_back("Create");
      if (Fake->refused.count(format) != 0 || pool != D3DPOOL_DEFAULT) {
        *s = nullptr;
        return D3DERR_NOTAVAILABLE;
      }
      Fake->width = w;
      Fake->height = h;
      Fake->format = format;
      Fake->live++;
      *s = reinterpret_cast<IDirect3DSurface9*>(&SurfaceObjects[Fake->live % 16]);
      return D3D_OK;
    };
    table_.LockSurfaceRect = [](IDirect3DSurface9*, D3DLOCKED_RECT* locked, const RECT*, DWORD) -> HRESULT {
      Fake->calls.push_back("Lock");
      if (Fake->failingLocks > 0) {
        Fake->failingLocks--;
        return D3DERR_INVALIDCALL;
      }
      locked->pBits = Fake->bits.data();
      locked->Pitch = kPitch;
      return D3D_OK;
    };
    table_.UnlockSurfaceRect = [](IDirect3DSurface9*) -> HRESULT {
      Fake->calls.push_back("Unlock");
      return D3D_OK;
    };
    table_.ReleaseComObject = [](IUnknown*) -> ULONG {
      Fake->calls.push_back("Release");
      Fake->live--;
      return 0;
    };
    SetDirect3DCallTable(&table_);
    DeviceLayer.hardware = 1;
    DeviceLayer.device = reinterpret_cast<IDirect3DDevice9*>(&SurfaceObjects[0]);
  }
  void TearDown() override {
    SetDirect3DCallTable(nullptr);
    DeviceLayer.hardware = 0;
    DeviceLayer.device = nullptr;
    Fake = nullptr;
  }
  int Count(const char* call) const {
    int n = 0;
    for (const std::string& c : fake_.calls) n += c == call;
    return n;
  }
  uint8_t At(int offset) const { return fake_.bits[offset]; }

  SurfaceFake fake_;
  Direct3DCallTable table_;
};

// Luma of the 50 x 30 clip's quadrants (40, 100 / 160, 220) at a picture pixel.
int QuadrantLuma(int x, int y) { return x < 25 ? (y < 15 ? 40 : 160) : (y < 15 ? 100 : 220); }

}  // namespace

// The 50 x 30 picture inside its 64 x 32 frame, in each surface format: the
// luma of each quadrant at its place, grey chroma, the layout's byte order.
TEST_F(SurfaceTest, PictureRectangleInEachFormat) {
  struct Case {
    std::set<D3DFORMAT> refused;
    D3DFORMAT expected;
  } cases[] = {{{}, kYV12}, {{kYV12}, kYUY2}, {{kYV12, kYUY2}, kUYVY}};
  const int probes[][2] = {{2, 2}, {47, 2}, {2, 27}, {47, 27}, {0, 0}, {49, 29}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "format " << std::hex << c.expected);
    fake_.refused = c.refused;
    fake_.calls.clear();
    fake_.bits.assign(fake_.bits.size(), 0xEE);
    OpenedMovie movie("odd50x30.ogv");
    ASSERT_NE(movie.decoder, nullptr);
    EXPECT_EQ(movie.decoder->surfaceFormat, static_cast<uint32_t>(c.expected));
    EXPECT_EQ(fake_.format, c.expected);
    EXPECT_EQ(fake_.width, 50u);
    EXPECT_EQ(fake_.height, 30u);
    EXPECT_EQ(Count("Create"), static_cast<int>(c.refused.size()) + 1);
    // The open delivered frame 0 into the surface.
    EXPECT_EQ(movie.decoder->surfaceCurrent, 1);
    EXPECT_EQ(Count("Lock"), 1);
    EXPECT_EQ(Count("Unlock"), 1);
    for (const auto& p : probes) {
      const int x = p[0], y = p[1];
      SCOPED_TRACE(::testing::Message() << x << "," << y);
      int luma, u, v;
      if (c.expected == kYV12) {
        luma = At(y * kPitch + x);
        const int vPlane = 30 * kPitch, uPlane = vPlane + 15 * (kPitch / 2);
        v = At(vPlane + (y / 2) * (kPitch / 2) + x / 2);
        u = At(uPlane + (y / 2) * (kPitch / 2) + x / 2);
      } else {
        const int pair = y * kPitch + (x / 2) * 4;
        const bool yuy2 = c.expected == kYUY2;
        luma = At(pair + (yuy2 ? 0 : 1) + (x & 1) * 2);
        u = At(pair + (yuy2 ? 1 : 0));
        v = At(pair + (yuy2 ? 3 : 2));
      }
      EXPECT_NEAR(luma, QuadrantLuma(x, y), 6);
      EXPECT_NEAR(u, 128, 4);
      EXPECT_NEAR(v, 128, 4);
    }
    // Nothing written past the surface: the row after the last pixel pair.
    if (c.expected != kYV12) {
      EXPECT_EQ(At(29 * kPitch + 100), 0xEE);
    }
    EXPECT_EQ(fake_.live, 1);
  }
  EXPECT_EQ(fake_.live, 0);  // each close released its surface
}

// After a refresh request (device loss) the surface is released at once and
// the next surface delivery makes a new one before it locks.
TEST_F(SurfaceTest, RefreshRequestReleasesAndRecreatesTheSurface) {
  OpenedMovie movie("grey30.ogv");
  ASSERT_NE(movie.decoder, nullptr);
  TheoraDecoder* d = movie.decoder;
  ASSERT_NE(d->surface, nullptr);
  EXPECT_EQ(FetchTheoraFrame(d, 1, 1, 0), 0);  // both already current
  fake_.calls.clear();
  EXPECT_EQ(RequestTheoraFrameRefresh(d), 0);
  EXPECT_EQ(fake_.calls, std::vector<std::string>({"Release"}));
  EXPECT_EQ(d->surface, nullptr);
  EXPECT_EQ(fake_.live, 0);
  EXPECT_EQ(FetchTheoraFrame(d, 0, 1, 0), 1);
  EXPECT_EQ(fake_.calls, std::vector<std::string>({"Release", "Create", "Lock", "Unlock"}));
  EXPECT_EQ(d->surfaceCurrent, 1);
  EXPECT_EQ(fake_.live, 1);
  EXPECT_NEAR(At(0), 16, 3);  // frame 0 of the grey clip: luma 16
}

// A lock that fails three times leaves the surface not current (after three
// re-creations) but still delivers the image; the next call tries again.
TEST_F(SurfaceTest, FailedLocksSkipTheSurfaceButNotTheImage) {
  OpenedMovie movie("grey30.ogv");
  ASSERT_NE(movie.decoder, nullptr);
  TheoraDecoder* d = movie.decoder;
  AdvanceTheoraFrame(d, 3);
  fake_.calls.clear();
  fake_.failingLocks = 3;
  EXPECT_EQ(FetchTheoraFrame(d, 1, 1, 0), 1);
  EXPECT_EQ(Count("Lock"), 3);
  EXPECT_EQ(Count("Create"), 3);
  EXPECT_EQ(d->surfaceCurrent, 0);
  EXPECT_EQ(d->imageCurrent, 1);
  EXPECT_EQ(movie_test::FrameOfGrey(GetTheoraBaseImage(d)), 3);
  EXPECT_EQ(FetchTheoraFrame(d, 1, 1, 0), 1);
  EXPECT_EQ(d->surfaceCurrent, 1);
  EXPECT_NEAR(At(0), 16 + 6 * 3, 3);
  EXPECT_EQ(fake_.live, 1);
}

TEST_F(SurfaceTest, SoftwareModeMakesNoSurface) {
  DeviceLayer.hardware = 0;
  OpenedMovie movie("grey30.ogv");
  ASSERT_NE(movie.decoder, nullptr);
  EXPECT_EQ(movie.decoder->surface, nullptr);
  EXPECT_EQ(GetTheoraFrameImage(movie.decoder), nullptr);
  EXPECT_EQ(Count("Create"), 0);
  EXPECT_EQ(movie.decoder->imageCurrent, 1);
}
