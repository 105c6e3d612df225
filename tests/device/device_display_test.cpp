// The device layer on the real Direct3D 9 (Wine over Mesa, the harness's
// Xvfb), brought up by the library's start-up: device creation and format choice, clear + present read back from
// the back buffer and from the window, the wait setting, the last release,
// and the software screen shown through GDI, plain and doubled.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaGraphicsSoftware.h"
#include "WindowFixture.h"

namespace {

using test_support::BackBufferPixel;

class DeviceDisplayTest : public test_support::DeviceWindowTest {
 protected:
  // Once the window's first paints are done: a black screen with one block
  // of the colour (0xRRGGBB) presented, the block checked in the back buffer,
  // time for the frame to reach the screen.
  void PresentBlock(const D3DRECT& block, DWORD color) {
    Settle();
    ClearDevice(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 0), 1.0f, 0);
    ClearDevice(1, &block, D3DCLEAR_TARGET, 0xFF000000 | color, 1.0f, 0);
    ASSERT_EQ(0, PresentSoftwareScreen(nullptr));
    EXPECT_EQ(color, BackBufferPixel((block.x1 + block.x2) / 2, (block.y1 + block.y2) / 2));
    Sleep(100);
  }
};

TEST_F(DeviceDisplayTest, StartCreatesTheDeviceAndLogsTheFormatChoices) {
  ASSERT_EQ(0, LibraryStartUp());
  ASSERT_EQ(1, DeviceLayer.hardware);
  EXPECT_NE(nullptr, DeviceLayer.swapChain);
  EXPECT_NE(nullptr, DeviceLayer.depthBuffer);
  EXPECT_EQ(32, Screen.colorBits);
  EXPECT_TRUE(log_.Has("画面のフォーマットは D3DFMT_X8R8G8B8 です\r\n")) << log_.Text();
  EXPECT_TRUE(log_.Has("16bit カラーフォーマットは "));
  EXPECT_TRUE(log_.Has("描画用 32bit カラーフォーマットは D3DFMT_X8R8G8B8 です\r\n"));
  EXPECT_TRUE(log_.Has("バックバッファロック"));
  EXPECT_EQ(0, LibraryShutDown());
}

TEST_F(DeviceDisplayTest, AClearedAndPresentedFrameReadsBackInItsColor) {
  ASSERT_EQ(0, LibraryStartUp());
  ASSERT_EQ(1, DeviceLayer.hardware);
  Settle();  // the window's first paints are done
  const D3DCOLOR color = D3DCOLOR_XRGB(40, 160, 220);
  ASSERT_EQ(D3D_OK, ClearDevice(0, nullptr, D3DCLEAR_TARGET, color, 1.0f, 0));
  ASSERT_EQ(0, PresentBackBuffer());
  EXPECT_EQ(0x28A0DCu, BackBufferPixel(0, 0));
  EXPECT_EQ(0x28A0DCu, BackBufferPixel(639, 479));
  Sleep(100);
  EXPECT_EQ(0x28A0DCu, WindowPixel(320, 240));
  EXPECT_EQ(0x28A0DCu, WindowPixel(639, 479));
  EXPECT_EQ(0, LibraryShutDown());
}

TEST_F(DeviceDisplayTest, TheWaitSettingChoosesThePresentInterval) {
  for (int wait : {0, 1}) {
    SetWaitVSync(wait);
    ASSERT_EQ(0, LibraryStartUp());
    ASSERT_EQ(1, DeviceLayer.hardware);
    D3DPRESENT_PARAMETERS params = {};
    ASSERT_EQ(D3D_OK, DeviceLayer.swapChain->GetPresentParameters(&params));
    EXPECT_EQ(wait ? D3DPRESENT_INTERVAL_ONE : D3DPRESENT_INTERVAL_IMMEDIATE, params.PresentationInterval);
    EXPECT_EQ(0, LibraryShutDown());
  }
}

// The last release of the device at the end returns 0.
TEST_F(DeviceDisplayTest, TheDevicesLastReleaseReturnsZero) {
  test_support::DeviceReleaseRecorder recorder;
  ASSERT_EQ(0, LibraryStartUp());
  ASSERT_EQ(1, DeviceLayer.hardware);
  EXPECT_EQ(0, LibraryShutDown());
  ASSERT_FALSE(recorder.Releases().empty());
  EXPECT_EQ(0u, recorder.Releases().back());
  EXPECT_TRUE(log_.Has("Direct3DDevice9 の解放 2\r\n"));
}

TEST_F(DeviceDisplayTest, AnEmulatedScreenIsShownDoubled) {
  SetEmulate320x240(1);
  ASSERT_EQ(0, LibraryStartUp());
  ASSERT_EQ(1, DeviceLayer.hardware);
  ASSERT_NO_FATAL_FAILURE(PresentBlock({100, 50, 110, 60}, 0xFF0000));
  EXPECT_EQ(0xFF0000u, WindowPixel(201, 101));
  EXPECT_EQ(0xFF0000u, WindowPixel(218, 118));
  EXPECT_EQ(0x000000u, WindowPixel(101, 51));
  EXPECT_EQ(0x000000u, WindowPixel(222, 122));
  EXPECT_EQ(0, LibraryShutDown());
}

// While the front screen is the draw target, the window timer shows it
// every 32 ms; another target stops it.
int TimerPresents = 0;
HRESULT (*RealPresentSwapChain)(IDirect3DSwapChain9*, const RECT*, const RECT*, HWND, const RGNDATA*, DWORD) = nullptr;
HRESULT CountPresent(IDirect3DSwapChain9* chain, const RECT* source, const RECT* dest, HWND window,
                     const RGNDATA* dirty, DWORD flags) {
  TimerPresents++;
  return RealPresentSwapChain(chain, source, dest, window, dirty, flags);
}

void PumpFor(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(5);
  }
}

TEST_F(DeviceDisplayTest, TheWindowTimerShowsTheFrontScreen) {
  Direct3DCallTable table = *GetRealDirect3DCallTable();
  RealPresentSwapChain = table.PresentSwapChain;
  table.PresentSwapChain = CountPresent;
  SetDirect3DCallTable(&table);
  ASSERT_EQ(0, LibraryStartUp());  // ends with the front screen as the draw target
  ASSERT_EQ(1, DeviceLayer.hardware);
  ASSERT_EQ(-4, GetDrawTarget());
  TimerPresents = 0;
  // The 32 ms timer presents again and again; a loaded machine may run
  // fewer ticks than the period allows, so several are asked, not all.
  PumpFor(1000);
  EXPECT_GE(TimerPresents, 4);
  SetDrawTarget(DRAW_TARGET_BACK_BUFFER);
  PumpFor(100);  // a tick already due may still run once
  // Paints from other windows on the display may still present, so the
  // timer itself is looked for: once stopped it is not armed again.
  const UINT_PTR kScreenTimerId = 0x7FFF;
  EXPECT_FALSE(KillTimer(GetMainWindowHandle(), kScreenTimerId));
  PumpFor(200);
  EXPECT_FALSE(KillTimer(GetMainWindowHandle(), kScreenTimerId));
  EXPECT_EQ(0, LibraryShutDown());
  SetDirect3DCallTable(nullptr);
}

// Under Wine each present comes back as a paint of the whole client area.
// With the back screen as the draw target such a paint must not present at
// once, or paints and presents feed each other without end and a loop that
// empties the message queue never returns.
TEST_F(DeviceDisplayTest, APaintCausedByAPresentDoesNotPresentAgain) {
  Direct3DCallTable table = *GetRealDirect3DCallTable();
  RealPresentSwapChain = table.PresentSwapChain;
  table.PresentSwapChain = CountPresent;
  SetDirect3DCallTable(&table);
  ASSERT_EQ(0, LibraryStartUp());
  ASSERT_EQ(1, DeviceLayer.hardware);
  SetDrawTarget(DRAW_TARGET_BACK_BUFFER);
  Settle();
  TimerPresents = 0;
  ASSERT_EQ(0, PresentBackBuffer());
  PumpFor(600);
  // Ours, and a few from other windows' paints at most; the loop makes one
  // per paint, dozens in this time.
  EXPECT_LE(TimerPresents, 4);
  EXPECT_GE(TimerPresents, 1);
  EXPECT_EQ(0, LibraryShutDown());
  SetDirect3DCallTable(nullptr);
}

// A window scaled by 2 shows the 640 x 480 screen stretched over its
// 1280 x 960 client area, with no second render target.
TEST_F(DeviceDisplayTest, AScaledWindowShowsTheScreenStretched) {
  StartupSettings.scaleX = 2.0;
  StartupSettings.scaleY = 2.0;
  ASSERT_EQ(0, LibraryStartUp());
  ASSERT_EQ(1, DeviceLayer.hardware);
  RECT client;
  GetClientRect(GetMainWindowHandle(), &client);
  EXPECT_EQ(1280, client.right);
  EXPECT_EQ(960, client.bottom);
  ASSERT_NO_FATAL_FAILURE(PresentBlock({300, 200, 310, 210}, 0x00FF00));
  StartupSettings.scaleX = 0;
  StartupSettings.scaleY = 0;
  EXPECT_EQ(0x00FF00u, WindowPixel(601, 401));
  EXPECT_EQ(0x00FF00u, WindowPixel(618, 418));
  EXPECT_EQ(0x000000u, WindowPixel(305, 205));
  EXPECT_EQ(0x000000u, WindowPixel(622, 422));
  EXPECT_EQ(0, LibraryShutDown());
}

// The software screen: a pattern of 16- or 32-bit pixels appears in the
// window, plain or doubled under the emulation.
struct SoftCase {
  int bits;
  bool emulate;
};

class SoftwareScreenTest : public DeviceDisplayTest, public ::testing::WithParamInterface<SoftCase> {};

DWORD PatternColor(int x, int y) {
  const int r = (x * 7) & 0xF8, g = (y * 5) & 0xFC, b = ((x + y) * 3) & 0xF8;
  return static_cast<DWORD>(r << 16 | g << 8 | b);
}

// What GDI shows of a pattern colour: 5- and 6-bit channels of a 16-bit
// screen widen by repeating their top bits.
DWORD Shown(DWORD color, int bits) {
  if (bits == 32) return color;
  const DWORD r = color >> 16 & 0xFF, g = color >> 8 & 0xFF, b = color & 0xFF;
  return (r | r >> 5) << 16 | (g | g >> 6) << 8 | (b | b >> 5);
}

TEST_P(SoftwareScreenTest, APatternAppearsInTheWindow) {
  const SoftCase c = GetParam();
  ASSERT_EQ(0, SetUseHardwareRendering(0));
  SetEmulate320x240(c.emulate ? 1 : 0);
  ASSERT_EQ(0, LibraryStartUp());
  ASSERT_EQ(0, DeviceLayer.hardware);
  const int width = 640, height = 480, bytes = c.bits / 8;
  const int pitch = width * bytes;
  std::vector<unsigned char> pixels(static_cast<size_t>(pitch) * height);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      const DWORD color = PatternColor(x, y);
      unsigned char* p = &pixels[static_cast<size_t>(y) * pitch + x * bytes];
      if (c.bits == 32) {
        memcpy(p, &color, 4);
      } else {
        const WORD value = static_cast<WORD>((color >> 8 & 0xF800) | (color >> 5 & 0x07E0) | (color >> 3 & 0x1F));
        memcpy(p, &value, 2);
      }
    }
  SoftwareScreenView view = {pixels.data(), pitch, c.bits, 0, 0, 0};
  if (c.bits == 32) {
    view.redMask = 0xFF0000;
    view.greenMask = 0x00FF00;
    view.blueMask = 0x0000FF;
  } else {
    view.redMask = 0xF800;
    view.greenMask = 0x07E0;
    view.blueMask = 0x001F;
  }
  SetSoftwareScreenView(&view);
  ASSERT_EQ(0, PresentBackBuffer());
  Settle();
  const int points[][2] = {{0, 0}, {17, 3}, {100, 200}, {319, 239}, {250, 31}};
  for (const auto& point : points) {
    const int x = point[0], y = point[1];
    SCOPED_TRACE(x * 1000 + y);
    if (c.emulate) {
      EXPECT_EQ(Shown(PatternColor(x, y), c.bits), WindowPixel(2 * x, 2 * y));
      EXPECT_EQ(Shown(PatternColor(x, y), c.bits), WindowPixel(2 * x + 1, 2 * y + 1));
    } else {
      EXPECT_EQ(Shown(PatternColor(x, y), c.bits), WindowPixel(x, y));
      EXPECT_EQ(Shown(PatternColor(x + 320, y + 240), c.bits), WindowPixel(x + 320, y + 240));
    }
  }
  SetSoftwareScreenView(nullptr);
  EXPECT_EQ(0, LibraryShutDown());
}

INSTANTIATE_TEST_SUITE_P(Formats, SoftwareScreenTest,
                         ::testing::Values(SoftCase{16, false}, SoftCase{32, false}, SoftCase{16, true},
                                           SoftCase{32, true}));

// Software start-up makes the screen's memory images in the colour bits'
// format, the primary filled with the background colour and presented by
// GDI; shut-down frees them.
class SoftwareScreenImageTest : public DeviceDisplayTest, public ::testing::WithParamInterface<int> {};

TEST_P(SoftwareScreenImageTest, ThePrimaryImageIsWhatTheWindowShows) {
  const int bits = GetParam();
  ASSERT_EQ(0, SetUseHardwareRendering(0));
  ASSERT_EQ(0, SetScreenMode(640, 480, bits, 0));
  ASSERT_EQ(0, SetBackgroundColor(0x48, 0x8C, 0xD0));
  ASSERT_EQ(0, LibraryStartUp());
  ASSERT_EQ(0, DeviceLayer.hardware);
  MEMIMG* screen = &SoftwareScreenImage;
  ASSERT_TRUE(IsValidMemImg(screen));
  EXPECT_EQ(screen, SoftwareDrawTarget);
  EXPECT_EQ(640, screen->width);
  EXPECT_EQ(480, screen->height);
  EXPECT_EQ(bits == 32 ? MEMIMG_COLOR_32 : MEMIMG_COLOR_16, screen->header->colorType);
  EXPECT_EQ(bits / 8, MemImgBytesPerPixel(screen));
  for (int i = 0; i < 2; i++) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(IsValidMemImg(&SoftwareWorkImages[i]));
    EXPECT_EQ(640, SoftwareWorkImages[i].width);
    EXPECT_EQ(480, SoftwareWorkImages[i].height);
    EXPECT_EQ(screen->header->colorType, SoftwareWorkImages[i].header->colorType);
    EXPECT_EQ(i, SoftwareWorkImages[i].header->alphaFlag);
  }
  const int pitch = screen->header->pitch;
  // The background, in the screen's pixel format.
  const DWORD background = 0x488CD0;
  for (const int corner : {0, 479}) {
    const unsigned char* row = screen->pixels + static_cast<size_t>(corner) * pitch;
    if (bits == 32) {
      DWORD value;
      memcpy(&value, row + 639 * 4, 4);
      EXPECT_EQ(background, value & 0xFFFFFF);
    } else {
      WORD value;
      memcpy(&value, row + 639 * 2, 2);
      EXPECT_EQ((0x48 >> 3) << 11 | (0x8C >> 2) << 5 | (0xD0 >> 3), value);
    }
  }
  Settle();
  ASSERT_EQ(0, PresentBackBuffer());
  Settle();
  EXPECT_EQ(Shown(background & (bits == 32 ? 0xFFFFFF : 0xF8FCF8), bits), WindowPixel(600, 400));
  // A pattern written into the primary image reaches the window.
  for (int y = 0; y < 480; y++)
    for (int x = 0; x < 640; x++) {
      const DWORD color = PatternColor(x, y);
      unsigned char* p = screen->pixels + static_cast<size_t>(y) * pitch + x * (bits / 8);
      if (bits == 32) {
        memcpy(p, &color, 4);
      } else {
        const WORD value = static_cast<WORD>((color >> 8 & 0xF800) | (color >> 5 & 0x07E0) | (color >> 3 & 0x1F));
        memcpy(p, &value, 2);
      }
    }
  ASSERT_EQ(0, PresentBackBuffer());
  Settle();
  const int points[][2] = {{0, 0}, {17, 3}, {100, 200}, {639, 479}, {250, 31}, {500, 300}};
  for (const auto& point : points) {
    SCOPED_TRACE(point[0] * 1000 + point[1]);
    EXPECT_EQ(Shown(PatternColor(point[0], point[1]), bits), WindowPixel(point[0], point[1]));
  }
  EXPECT_EQ(0, LibraryShutDown());
  SetBackgroundColor(0, 0, 0);
  EXPECT_FALSE(IsValidMemImg(&SoftwareScreenImage));
  EXPECT_FALSE(IsValidMemImg(&SoftwareWorkImages[0]));
  EXPECT_FALSE(IsValidMemImg(&SoftwareWorkImages[1]));
  EXPECT_EQ(nullptr, SoftwareDrawTarget);
}

INSTANTIATE_TEST_SUITE_P(Formats, SoftwareScreenImageTest, ::testing::Values(16, 32));

}  // namespace

namespace {

// What the platform gives here: the vertical-blank wait of DirectDraw and the
// cooperative level of a windowed device.
TEST_F(DeviceDisplayTest, TheRefreshMeasurementAndCooperativeLevelOfThisPlatform) {
  ASSERT_EQ(0, LibraryStartUp());
  ASSERT_EQ(1, DeviceLayer.hardware);
  ASSERT_NE(nullptr, DeviceLayer.directDraw);
  const int64_t start = GetMicrosecondCount();
  for (int i = 0; i < 10; i++) WaitVerticalBlankTimed();
  const int64_t tenWaits = GetMicrosecondCount() - start;
  printf("refresh period %lld us; ten timed waits %lld us\n", static_cast<long long>(DeviceLayer.refreshPeriod),
         static_cast<long long>(tenWaits));
  // Wine's DirectDraw wait returns at once, so no period is measured and
  // the fixed 4 ms wait paces the frames.
  EXPECT_EQ(-1, DeviceLayer.refreshPeriod);
  EXPECT_GE(tenWaits, 9 * 4000);
  EXPECT_EQ(0, TestDeviceCooperativeLevel());
  EXPECT_EQ(0, LibraryShutDown());
}

}  // namespace
