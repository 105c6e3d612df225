// The device layer against the fake call table: creation retries and
// fall-backs, the refresh measurement on a fake clock, format choice,
// display-mode changes, the screen-mode fall-back chain, the multisample
// search, main-thread posting and the present rectangles.
#include <windows.h>

#include <ddraw.h>

#include <gtest/gtest.h>

#include <atomic>

#include "DiDAridIrer.h"
#include "FakeDirect3D.h"
#include "LogCapture.h"
#include "RaRadara.h"
#include "TestFiles.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"

using test_support::FakeDirect3D;
using test_support::LogCapture;

namespace {

class DeviceFakeTest : public ::testing::Test {
 protected:
  FakeDirect3D fake;
  LogCapture log_{test_support::SharedTempFolder("RIDOV_DEVICE_TEST_FOLDER", "device")};
  // In a window unless a test says otherwise (no window is made).
  void SetUp() override { StartupSettings.windowed = 1; }
  void TearDown() override {
    EndGraphicsSystem();
    StartupSettings.windowed = 0;
  }
  bool Logged(const char* text) const { return log_.Has(text); }
  // The graphics system up at 1024 x 768 x 32.
  void StartGraphicsAt1024x768() {
    Screen = {};
    Screen.width = 1024;
    Screen.height = 768;
    Screen.colorBits = 32;
    ASSERT_EQ(0, InitializeGraphicsSystem());
  }
  void StartWithScreen(int width, int height, int bits) {
    Screen.width = width;
    Screen.height = height;
    Screen.colorBits = bits;
    ASSERT_EQ(0, StartGraphicsSystem());
  }
};

TEST_F(DeviceFakeTest, ARefusedDeviceIsMadeAgainWithSoftwareVertexProcessing) {
  fake.createDeviceResults = {D3DERR_NOTAVAILABLE};
  StartWithScreen(640, 480, 16);
  ASSERT_EQ(2u, fake.deviceFlags.size());
  EXPECT_NE(0u, fake.deviceFlags[0] & D3DCREATE_HARDWARE_VERTEXPROCESSING);
  EXPECT_NE(0u, fake.deviceFlags[1] & D3DCREATE_SOFTWARE_VERTEXPROCESSING);
  EXPECT_EQ(0, DeviceLayer.hardwareVertexProcessing);
  EXPECT_EQ(1, DeviceLayer.hardware);
  EXPECT_TRUE(Logged("ソフトウエア頂点演算を使用します\r\n"));
  EXPECT_FALSE(Logged("ハードウエア頂点演算を使用します"));
}

TEST_F(DeviceFakeTest, ADeviceWithShaderModelTwoUsesHardwareVertexProcessing) {
  StartWithScreen(640, 480, 16);
  ASSERT_EQ(1u, fake.deviceFlags.size());
  EXPECT_NE(0u, fake.deviceFlags[0] & D3DCREATE_HARDWARE_VERTEXPROCESSING);
  EXPECT_TRUE(Logged("ハードウエア頂点演算を使用します\r\n"));
}

TEST_F(DeviceFakeTest, AMissingD3D9DllFailsTheStart) {
  fake.d3d9Missing = true;
  EXPECT_EQ(-1, StartGraphicsSystem());
  EXPECT_TRUE(Logged("d3d9.dll の読み込みに失敗しました\r\n"));
  EXPECT_EQ(0, fake.Count("CreateDirectDraw7"));
  EXPECT_EQ(0, DeviceLayer.hardware);
}

TEST_F(DeviceFakeTest, AFailedDirectDrawFreesTheDllAndFailsTheStart) {
  fake.directDrawFailures = 1;
  EXPECT_EQ(-1, StartGraphicsSystem());
  EXPECT_EQ(1, fake.Count("FreeLibrary"));
  EXPECT_EQ(nullptr, DeviceLayer.d3d9);
  EXPECT_TRUE(Logged("オブジェクトの取得に失敗しました\r\n"));
}

// The DirectDraw object only waits for the vertical blank: it names no
// window, so it never gives the main window a pixel format of its own that
// the device's context would then have to restore around every draw.
TEST_F(DeviceFakeTest, DirectDrawTakesTheNormalLevelWithoutTheMainWindow) {
  WinSys.mainWindow = reinterpret_cast<HWND>(0x4321);  // only the fake table sees it
  const int result = CreateDirectDrawObject();
  WinSys.mainWindow = nullptr;
  ASSERT_EQ(0, result);
  ASSERT_EQ(1u, fake.directDrawLevels.size());
  EXPECT_EQ(nullptr, fake.directDrawLevels[0].first);
  EXPECT_EQ(static_cast<DWORD>(DDSCL_NORMAL), fake.directDrawLevels[0].second);
}

TEST_F(DeviceFakeTest, NoDeviceInAnyModeFallsBackToSoftwareRendering) {
  fake.vertexShaderVersion = 0;  // one creation call per attempt
  fake.createDeviceResults.assign(4, D3DERR_NOTAVAILABLE);
  StartWithScreen(640, 480, 16);
  EXPECT_EQ(0, DeviceLayer.hardware);
  EXPECT_EQ(nullptr, DeviceLayer.device);
  EXPECT_EQ(nullptr, DeviceLayer.direct3D);
  EXPECT_EQ(4, fake.Count("CreateDevice"));
  EXPECT_TRUE(Logged("Direct3DDevice9 の作成に失敗しました\r\n"));
  // The screen-size fall-backs of the probe stay.
  EXPECT_EQ(1024, Screen.width);
  EXPECT_EQ(768, Screen.height);
}

TEST_F(DeviceFakeTest, TheProbeFallsBackTo32BitsThen800x600) {
  fake.vertexShaderVersion = 0;
  fake.createDeviceResults = {D3DERR_NOTAVAILABLE, D3DERR_NOTAVAILABLE};
  fake.displayFormat = D3DFMT_R5G6B5;
  StartWithScreen(640, 480, 16);
  ASSERT_EQ(3u, fake.deviceParams.size());
  EXPECT_EQ(800u, fake.deviceParams[2].BackBufferWidth);
  EXPECT_EQ(600u, fake.deviceParams[2].BackBufferHeight);
  EXPECT_EQ(1, DeviceLayer.hardware);
}

TEST_F(DeviceFakeTest, PresentParametersOfAWindowFollowTheDesktopAndTheWaitSetting) {
  struct Case {
    D3DFORMAT desktop;
    int wait;
    int bits;
    UINT interval;
  } cases[] = {
      {D3DFMT_X8R8G8B8, 1, 32, D3DPRESENT_INTERVAL_ONE},
      {D3DFMT_R5G6B5, 0, 16, D3DPRESENT_INTERVAL_IMMEDIATE},
      {D3DFMT_X1R5G5B5, 1, 16, D3DPRESENT_INTERVAL_ONE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(GetD3DFormatName(c.desktop));
    fake.deviceParams.clear();
    fake.displayFormat = c.desktop;
    SetWaitVSync(c.wait);
    StartWithScreen(640, 480, c.bits == 32 ? 16 : 32);  // the desktop decides
    ASSERT_EQ(1u, fake.deviceParams.size());
    const D3DPRESENT_PARAMETERS& p = fake.deviceParams[0];
    EXPECT_EQ(c.bits, Screen.colorBits);
    EXPECT_EQ(TRUE, p.Windowed);
    EXPECT_EQ(c.desktop, p.BackBufferFormat);
    EXPECT_EQ(c.interval, p.PresentationInterval);
    EXPECT_EQ(D3DSWAPEFFECT_COPY, p.SwapEffect);
    EXPECT_EQ(static_cast<DWORD>(D3DPRESENTFLAG_LOCKABLE_BACKBUFFER), p.Flags);
    EXPECT_EQ(1u, p.BackBufferCount);
    EXPECT_EQ(640u, p.BackBufferWidth);
    EndGraphicsSystem();
  }
}

TEST_F(DeviceFakeTest, FullScreenAt16BitsTakesX1R5G5B5WithoutR5G6B5Modes) {
  StartupSettings.windowed = 0;
  for (UINT modes : {1u, 0u}) {
    fake.deviceParams.clear();
    fake.r5g6b5Modes = modes;
    Screen.refreshRate = 75;
    StartWithScreen(800, 600, 16);
    ASSERT_EQ(1u, fake.deviceParams.size());
    const D3DPRESENT_PARAMETERS& p = fake.deviceParams[0];
    EXPECT_EQ(FALSE, p.Windowed);
    EXPECT_EQ(modes ? D3DFMT_R5G6B5 : D3DFMT_X1R5G5B5, p.BackBufferFormat);
    EXPECT_EQ(75u, p.FullScreen_RefreshRateInHz);
    EXPECT_EQ(16, Screen.colorBits);
    EndGraphicsSystem();
  }
}

TEST_F(DeviceFakeTest, EveryBufferStartsInTheBackgroundColor) {
  SetBackgroundColor(10, 20, 30);
  StartWithScreen(640, 480, 32);
  EXPECT_EQ(4, fake.Count("Clear(1,ff0a141e)"));
  EXPECT_EQ(3, fake.Count("PresentDevice"));
}

TEST_F(DeviceFakeTest, TheZBufferHasPowerOfTwoSides) {
  StartWithScreen(1000, 700, 32);
  EXPECT_EQ(1, fake.Count("CreateDepthStencilSurface(1024x1024,D3DFMT_D16)"));
  EXPECT_TRUE(Logged("Ｚバッファを作成します.... 成功\r\n"));
}

TEST_F(DeviceFakeTest, EveryFormatChoiceIsLogged) {
  StartWithScreen(640, 480, 32);
  const char* lines[] = {
      "画面のフォーマットは D3DFMT_X8R8G8B8 です\r\n",
      "24bit Zバッファフォーマットは D3DFMT_D24X8 です\r\n",
      "32bit Zバッファフォーマットは D3DFMT_D32 です\r\n",
      "16bit カラーフォーマットは D3DFMT_R5G6B5 です\r\n",
      "アルファ付き 16bit カラーフォーマットは D3DFMT_A4R4G4B4 です\r\n",
      "アルファテスト用 16bit カラーフォーマットは D3DFMT_A1R5G5B5 です\r\n",
      "ＤＸＴ１テクスチャフォーマットはD3DFMT_DXT1 です\r\n",
      "描画用 16bit カラーフォーマットは D3DFMT_X1R5G5B5 です\r\n",
      "描画用２チャンネル浮動小数点32ビット型カラーフォーマットは D3DFMT_G32R32F です\r\n",
      "ピクセルシェーダーバージョンコード：ffff0300\r\n",
  };
  for (const char* line : lines) EXPECT_TRUE(Logged(line)) << line;
  EXPECT_EQ(D3DFMT_X8R8G8B8, DeviceFormats.defaultTarget);
  EXPECT_EQ(D3DFMT_A8R8G8B8, DeviceFormats.defaultAlphaTest);
  EXPECT_EQ(4, DeviceCaps.maxRenderTargets);
  EXPECT_EQ(2048, DeviceCaps.maxTextureSize);
}

TEST_F(DeviceFakeTest, ADeviceWithoutDxt1TakesTheAlphaTestFormat) {
  fake.refusedFormats = {D3DFMT_DXT1, D3DFMT_A1R5G5B5};
  StartWithScreen(640, 480, 16);
  EXPECT_EQ(D3DFMT_A8R8G8B8, DeviceFormats.alphaTest16);
  EXPECT_EQ(D3DFMT_A8R8G8B8, DeviceFormats.dxt[0]);
  EXPECT_TRUE(Logged("ＤＸＴ１テクスチャフォーマットは使えません\r\n"));
}

TEST_F(DeviceFakeTest, NoSixteenBitTextureFormatFailsTheProbeIntoSoftware) {
  fake.refusedFormats = {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5};
  StartWithScreen(640, 480, 16);
  EXPECT_TRUE(Logged("使用できる 16bit カラーフォーマットが見つかりませんでした\r\n"));
  EXPECT_EQ(0, DeviceLayer.hardware);
  EXPECT_EQ(nullptr, DeviceLayer.device);
}

TEST_F(DeviceFakeTest, ZAndTargetFormatsFallBackInTheirOrder) {
  fake.refusedFormats = {D3DFMT_D24X8, D3DFMT_D32, D3DFMT_A16B16G16R16, D3DFMT_R32F};
  StartWithScreen(640, 480, 16);
  EXPECT_EQ(D3DFMT_D16, DeviceFormats.z24);
  EXPECT_EQ(D3DFMT_D16, DeviceFormats.z32);
  EXPECT_EQ(0, DeviceFormats.abgrInt16);
  EXPECT_TRUE(Logged("使用できる描画用ABGR整数16ビット型カラーフォーマットがありませんでした\r\n"));
  EXPECT_EQ(D3DFMT_G32R32F, DeviceFormats.oneFloat32);
  EXPECT_EQ(1, DeviceLayer.hardware);  // render-target slots may stay empty
}

// After start-up SetScreenMode reports how the change ended: 0 for the mode
// asked, -2 when it fell back to the 640 x 480 default, -1 when nothing
// changed.
TEST_F(DeviceFakeTest, SetScreenModeAfterStartUpReportsTheOutcome) {
  struct Case {
    int failures, result, width;
  } cases[] = {{0, 0, 800}, {1, -1, 1024}, {2, -2, 640}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failures);
    ASSERT_NO_FATAL_FAILURE(StartGraphicsAt1024x768());
    LibraryState.started = 1;
    fake.directDrawFailures = c.failures;
    EXPECT_EQ(c.result, SetScreenMode(800, 600, 32, 0));
    EXPECT_EQ(c.width, Screen.width);
    LibraryState.started = 0;
    TerminateGraphicsSystem();
  }
}

// 320 x 240 in a window is drawn doubled on a 640 x 480 screen: the change
// succeeded, and the program draws at the size it asked for.
TEST_F(DeviceFakeTest, SetScreenMode320x240InAWindowReportsSuccess) {
  ASSERT_NO_FATAL_FAILURE(StartGraphicsAt1024x768());
  LibraryState.started = 1;
  EXPECT_EQ(0, SetScreenMode(320, 240, 32, 0));
  int w = 0, h = 0;
  GetScreenModeSize(&w, &h, nullptr);
  EXPECT_EQ(320, w);
  EXPECT_EQ(240, h);
  EXPECT_EQ(640, Screen.width);
  EXPECT_EQ(1, IsScreenEmulationOn());
  // Back to a plain size: the emulation ends and that succeeds too.
  EXPECT_EQ(0, SetScreenMode(800, 600, 32, 0));
  EXPECT_EQ(0, IsScreenEmulationOn());
  LibraryState.started = 0;
  TerminateGraphicsSystem();
}

// ---------------------------------------------------------------------------
// Vertical blank.

TEST_F(DeviceFakeTest, ASteadyRefreshIsMeasured) {
  DeviceLayer.directDraw = reinterpret_cast<IDirectDraw7*>(&fake);
  fake.blankIntervals = {16667};
  MeasureRefreshPeriod();
  EXPECT_EQ(16667, DeviceLayer.refreshPeriod);
  DeviceLayer.directDraw = nullptr;
}

TEST_F(DeviceFakeTest, AJitteringRefreshStaysUnknownAndTheTimedWaitUses4000) {
  DeviceLayer.directDraw = reinterpret_cast<IDirectDraw7*>(&fake);
  fake.blankIntervals = {16000, 17500};
  MeasureRefreshPeriod();
  EXPECT_EQ(-1, DeviceLayer.refreshPeriod);
  EXPECT_EQ(61 + 1, fake.Count("WaitForVerticalBlank"));  // 1 + 60 tries + the timed wait

  // The timed wait right after a blank sleeps until 4000 us have passed.
  fake.calls.clear();
  fake.blankIntervals = {100000};
  DeviceLayer.lastVerticalBlank = fake.clock;
  const int64_t start = fake.clock;
  WaitVerticalBlankTimed();
  ASSERT_EQ(1, fake.Count("WaitForVerticalBlank"));
  EXPECT_EQ("WaitForVerticalBlank@" + std::to_string(start + 4000), fake.calls.back());
  EXPECT_EQ("Sleep(0)", fake.calls.front());
  DeviceLayer.directDraw = nullptr;
}

// Wine's DirectDraw wait returns at once: the sleeps between the waits are
// no refresh period.
TEST_F(DeviceFakeTest, AWaitThatReturnsAtOnceLeavesThePeriodUnknown) {
  DeviceLayer.directDraw = reinterpret_cast<IDirectDraw7*>(&fake);
  fake.waitBlankReturnsAtOnce = true;
  MeasureRefreshPeriod();
  EXPECT_EQ(-1, DeviceLayer.refreshPeriod);
  fake.waitBlankReturnsAtOnce = false;
  fake.waitBlankFails = true;
  MeasureRefreshPeriod();
  EXPECT_EQ(-1, DeviceLayer.refreshPeriod);
  DeviceLayer.directDraw = nullptr;
}

TEST_F(DeviceFakeTest, TheTimedWaitUsesTheMeasuredPeriodLessThreeMilliseconds) {
  DeviceLayer.directDraw = reinterpret_cast<IDirectDraw7*>(&fake);
  DeviceLayer.refreshPeriod = 16667;
  DeviceLayer.lastVerticalBlank = fake.clock;
  const int64_t start = fake.clock;
  WaitVerticalBlankTimed();
  EXPECT_EQ("WaitForVerticalBlank@" + std::to_string(start + 14000), fake.calls.back());
  DeviceLayer.directDraw = nullptr;
}

// ---------------------------------------------------------------------------
// Display modes.

DEVMODEA Mode(DWORD width, DWORD height, DWORD bits, DWORD refresh) {
  DEVMODEA mode = {};
  mode.dmPelsWidth = width;
  mode.dmPelsHeight = height;
  mode.dmBitsPerPel = bits;
  mode.dmDisplayFrequency = refresh;
  return mode;
}

TEST_F(DeviceFakeTest, TheModeListHoldsSixteenBitsAndMore) {
  fake.displayModes = {Mode(640, 480, 8, 60), Mode(640, 480, 16, 60), Mode(800, 600, 32, 75), Mode(320, 240, 8, 60)};
  ASSERT_EQ(2, GetDisplayModeCount());
  const DisplayModeEntry entry = GetDisplayModeEntry(1);
  EXPECT_EQ(800, entry.width);
  EXPECT_EQ(600, entry.height);
  EXPECT_EQ(32, entry.colorBits);
  EXPECT_EQ(75, entry.refreshRate);
  for (int index : {-1, 2}) {
    const DisplayModeEntry none = GetDisplayModeEntry(index);
    EXPECT_EQ(-1, none.width);
    EXPECT_EQ(-1, none.height);
    EXPECT_EQ(-1, none.colorBits);
    EXPECT_EQ(-1, none.refreshRate);
  }
  EXPECT_EQ(1, IsDisplayModeAvailable(640, 480, 16));
  EXPECT_EQ(0, IsDisplayModeAvailable(640, 480, 8));
}

TEST_F(DeviceFakeTest, ADisplayModeChangeFallsBackStepByStep) {
  struct Case {
    int width, height, bits, refresh;
    std::function<bool(const DEVMODEA*, DWORD)> accept;
    int result, changes, endWidth, endRefresh, emulate;
  } cases[] = {
      {800, 600, 24, 0, nullptr, -1, 0, 800, 0, 0},
      {800, 600, 32, 85, nullptr, 0, 1, 800, 85, 0},
      {800, 600, 32, 85, [](const DEVMODEA* m, DWORD) { return m->dmDisplayFrequency == 0; }, 0, 2, 800, 0, 0},
      {320, 240, 16, 0, [](const DEVMODEA* m, DWORD) { return m->dmPelsWidth == 640; }, 0, 3, 640, 0, 1},
      {1024, 768, 16, 0, [](const DEVMODEA*, DWORD) { return false; }, -1, 2, 1024, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width * 100 + c.bits);
    fake.modeChanges.clear();
    fake.acceptMode = c.accept;
    Screen = {};
    SetScreenSizeSetting(c.width, c.height);
    Screen.colorBits = c.bits;
    Screen.refreshRate = c.refresh;
    EXPECT_EQ(c.result, ChangeDisplayMode());
    EXPECT_EQ(static_cast<size_t>(c.changes), fake.modeChanges.size());
    EXPECT_EQ(c.endWidth, Screen.width);
    EXPECT_EQ(c.endRefresh, Screen.refreshRate);
    EXPECT_EQ(c.emulate, Screen.emulate320x240);
    EXPECT_EQ(c.result == 0 ? 1 : 0, DeviceLayer.displayModeChanged);
    DeviceLayer.displayModeChanged = 0;
  }
  EXPECT_TRUE(Logged("画面モードの変更に失敗しました\r\n"));
}

// ---------------------------------------------------------------------------
// Screen settings.

TEST_F(DeviceFakeTest, SetScreenModeBeforeStartUp) {
  EXPECT_EQ(-1, SetScreenMode(800, 600, 24, 0));
  EXPECT_EQ(0, Screen.width);
  EXPECT_EQ(16, GetColorBitDepth());
  EXPECT_EQ(-1, SetScreenMode(0, 600, 16, 0));

  EXPECT_EQ(0, SetScreenMode(320, 240, 16, 0));
  int width = 0, height = 0;
  GetScreenSizeSetting(&width, &height);
  EXPECT_EQ(320, width);
  EXPECT_EQ(240, height);

  // With the emulation switch a 640 x 480 screen draws at 320 x 240.
  SetEmulate320x240(1);
  EXPECT_EQ(0, SetScreenMode(640, 480, 32, 60));
  GetScreenSizeSetting(&width, &height);
  EXPECT_EQ(320, width);
  EXPECT_EQ(240, height);
  int bits = 0;
  GetScreenModeSize(&width, &height, &bits);
  EXPECT_EQ(320, width);
  EXPECT_EQ(32, bits);
  EXPECT_EQ(60, Screen.refreshRate);
}

TEST_F(DeviceFakeTest, SoftwareRenderingIsChosenBeforeStartUp) {
  EXPECT_EQ(1, GetUseHardwareRendering());
  EXPECT_EQ(0, SetUseHardwareRendering(0));
  EXPECT_EQ(0, GetUseHardwareRendering());
  StartWithScreen(640, 480, 16);
  EXPECT_EQ(0, fake.Count("CreateDevice"));
  EXPECT_EQ(0, DeviceLayer.hardware);
}

// The chain after a failed start: the mode from before, 640 x 480 x 16,
// 640 x 480 x 32; the first that starts ends it. (On the fake's 32-bit
// desktop a window always ends at 32 bits.)
TEST_F(DeviceFakeTest, TheScreenModeFallBackChainStopsAtTheFirstStart) {
  struct Case {
    int failures, width, height;
  } cases[] = {{0, 800, 600}, {1, 1024, 768}, {2, 640, 480}, {3, 640, 480}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failures);
    ASSERT_NO_FATAL_FAILURE(StartGraphicsAt1024x768());
    fake.calls.clear();
    fake.directDrawFailures = c.failures;
    EXPECT_EQ(0, ChangeScreenMode(800, 600, 32, 0, 0));
    EXPECT_EQ(c.failures + 1, fake.Count("CreateDirectDraw7"));
    EXPECT_EQ(c.width, Screen.width);
    EXPECT_EQ(c.height, Screen.height);
    EXPECT_EQ(32, Screen.colorBits);
    EXPECT_EQ(1, Screen.graphicsUp);
    EXPECT_EQ(0, Screen.modeChanging);
    TerminateGraphicsSystem();
  }
  EXPECT_TRUE(Logged("画面モード変更処理は正常に終了しました\r\n"));
}

TEST_F(DeviceFakeTest, AnUnchangedModeIsNotRestartedUnlessForced) {
  Screen.width = 640;
  Screen.height = 480;
  Screen.colorBits = 32;
  ASSERT_EQ(0, InitializeGraphicsSystem());
  fake.calls.clear();
  EXPECT_EQ(0, ChangeScreenMode(-1, -1, -1, 0, -1));
  EXPECT_EQ(0, fake.Count("CreateDirectDraw7"));
  EXPECT_EQ(0, ChangeScreenMode(-1, -1, -1, 1, -1));
  EXPECT_EQ(1, fake.Count("CreateDirectDraw7"));
  TerminateGraphicsSystem();
}

TEST_F(DeviceFakeTest, WhenEveryScreenModeFailsTheProcessEnds) {
  EXPECT_EXIT(
      {
        StartGraphicsAt1024x768();
        fake.directDrawFailures = 100;
        ChangeScreenMode(800, 600, 32, 0, 0);
        exit(0);
      },
      ::testing::ExitedWithCode(-1), "");
  EXPECT_TRUE(Logged("予期せぬ画面モード変更不能現象が起きました2\r\n"));
}

// ---------------------------------------------------------------------------
// Wrappers.

TEST_F(DeviceFakeTest, CooperativeLevelCodesMapToZeroOrOne) {
  const HRESULT codes[] = {D3D_OK, D3DERR_DEVICELOST, D3DERR_DEVICENOTRESET, D3DERR_DRIVERINTERNALERROR};
  const int expected[] = {0, 1, 1, 1};
  for (int i = 0; i < 4; i++) {
    fake.cooperativeLevel = codes[i];
    EXPECT_EQ(expected[i], TestDeviceCooperativeLevel()) << i;
  }
}

TEST_F(DeviceFakeTest, BufferCreationWithoutADeviceMakesNoCall) {
  IDirect3DVertexBuffer9* buffer = nullptr;
  EXPECT_EQ(-1, CreateDeviceVertexBufferOnMainThread(64, 0, 0, D3DPOOL_DEFAULT, &buffer, nullptr, 0));
  EXPECT_EQ(0, fake.Count("CreateVertexBuffer"));
  StartWithScreen(640, 480, 32);
  EXPECT_EQ(D3D_OK, CreateDeviceVertexBufferOnMainThread(64, 0, 0, D3DPOOL_DEFAULT, &buffer, nullptr, 0));
  EXPECT_EQ(1, fake.Count("CreateVertexBuffer"));
}

TEST_F(DeviceFakeTest, MultiSampleSearch) {
  struct Case {
    int supported, asked, failFast;
    DWORD quality, levels0, levels1;
    int result, count;
    DWORD outQuality;
  } cases[] = {
      {4, 8, 0, 9, 3, 5, 0, 4, 2},   // lowered to 4, quality min(3,5) - 1
      {4, 8, 1, 9, 3, 5, -1, 8, 0},  // fail fast
      {0, 2, 0, 5, 1, 1, 0, 0, 0},   // nothing supported
      {8, 4, 0, 0, 2, 2, 0, 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.asked * 10 + c.failFast);
    fake.maxMultiSamples = c.supported;
    fake.multiSampleLevels[0] = c.levels0;
    fake.multiSampleLevels[1] = c.levels1;
    D3DMULTISAMPLE_TYPE count = static_cast<D3DMULTISAMPLE_TYPE>(c.asked);
    DWORD quality = c.quality;
    EXPECT_EQ(c.result, FindSupportedMultiSampleType(D3DFMT_X8R8G8B8, &count, &quality, c.failFast));
    EXPECT_EQ(c.count, static_cast<int>(count));
    EXPECT_EQ(c.outQuality, quality);
  }
}

// A worker's texture creation runs on the main thread and hands back
// exactly the main thread's result.
int PostedTextureJob(ASyncJob* job) {
  IDirect3DTexture9* texture = nullptr;
  HRESULT* result = *reinterpret_cast<HRESULT**>(job->params);
  *result = CreateDeviceTextureOnMainThread({8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED}, &texture, 1);
  return 0;
}

TEST_F(DeviceFakeTest, APostedCallReturnsTheMainThreadsResult) {
  ASSERT_EQ(0, InitASyncLoad(GetCurrentThreadId()));
  ASSERT_EQ(0, StartASyncLoadThreads(1));
  fake.textureResult = [] { return static_cast<HRESULT>(D3DERR_OUTOFVIDEOMEMORY); };
  volatile HRESULT result = 1;
  ASyncJob* job = AllocASyncJob(sizeof(void*));
  ASSERT_NE(nullptr, job);
  job->function = PostedTextureJob;
  HRESULT* target = const_cast<HRESULT*>(&result);
  memcpy(job->params, &target, sizeof(target));
  ASSERT_EQ(0, AddASyncJob(job));
  for (int i = 0; i < 5000 && result == 1; i++) {
    ServeMainThreadRequests();
    Sleep(1);
  }
  EXPECT_EQ(D3DERR_OUTOFVIDEOMEMORY, result);
  EXPECT_EQ(GetCurrentThreadId(), fake.textureThread);
  EXPECT_EQ(0, EndASyncLoad());
}

// ---------------------------------------------------------------------------
// Present.

TEST_F(DeviceFakeTest, AnEmulatedScreenPresentsDoubledAndMapsUpdateRectangles) {
  SetEmulate320x240(1);
  StartWithScreen(640, 480, 32);
  fake.calls.clear();
  EXPECT_EQ(0, PresentSoftwareScreen(nullptr));
  EXPECT_EQ(1, fake.Count("Present(0,0,320,240 -> 0,0,640,480)"));
  // A paint rectangle of the 640 x 480 window shows the screen area under it.
  const RECT paint = {100, 60, 300, 260};
  EXPECT_EQ(0, PresentSoftwareScreen(&paint));
  EXPECT_EQ(1, fake.Count("Present(50,30,150,130 -> 100,60,300,260)")) << fake.Joined();
  // An empty rectangle presents nothing.
  const RECT empty = {10, 10, 10, 50};
  EXPECT_EQ(-1, PresentSoftwareScreen(&empty));
  EXPECT_EQ(2, fake.Count("Present("));
}

// A window scaled by 2: the 640 x 480 screen fills a 1280 x 960 client
// area, and a paint rectangle of the window presents the screen area under
// it (window coordinates halved), not the same numbers taken as screen
// coordinates.
TEST_F(DeviceFakeTest, AScaledWindowPresentsTheRegionUnderAPaintRectangle) {
  StartupSettings.scaleX = 2.0;
  StartupSettings.scaleY = 2.0;
  StartWithScreen(640, 480, 32);
  fake.calls.clear();
  EXPECT_EQ(0, PresentSoftwareScreen(nullptr));
  const RECT paint = {200, 100, 600, 500};
  EXPECT_EQ(0, PresentSoftwareScreen(&paint));
  StartupSettings.scaleX = 0;
  StartupSettings.scaleY = 0;
  ASSERT_EQ(2u, fake.calls.size()) << fake.Joined();
  EXPECT_EQ("Present(0,0,640,480 -> 0,0,1280,960)", fake.calls[0]);
  EXPECT_EQ("Present(100,50,300,250 -> 200,100,600,500)", fake.calls[1]);
}

TEST_F(DeviceFakeTest, APresentThatReportsALostDeviceFails) {
  StartWithScreen(640, 480, 32);
  fake.presentResult = D3DERR_DEVICELOST;
  EXPECT_EQ(-1, PresentSoftwareScreen(nullptr));
  fake.presentResult = D3D_OK;
  EXPECT_EQ(0, PresentSoftwareScreen(nullptr));
  EXPECT_EQ(2, fake.Count("Present(0,0,640,480 -> 0,0,640,480)"));
}

TEST_F(DeviceFakeTest, AMinimisedWindowPresentsNothing) {
  StartWithScreen(640, 480, 32);
  WinSys.minimized = 1;
  fake.calls.clear();
  EXPECT_EQ(0, PresentSoftwareScreen(nullptr));
  WinSys.minimized = 0;
  EXPECT_EQ(0, fake.Count("Present("));
}

TEST_F(DeviceFakeTest, APresentNeedsAStartedLibraryAndNoEndRequest) {
  StartWithScreen(640, 480, 32);
  fake.calls.clear();
  EXPECT_EQ(-1, PresentBackBuffer());  // not started
  LibraryState.started = 1;
  EXPECT_EQ(0, PresentBackBuffer());
  SetEndRequestFlag();
  EXPECT_EQ(-1, PresentBackBuffer());
  ClearEndRequestFlag();
  LibraryState.started = 0;
  EXPECT_EQ(1, fake.Count("Present("));
  EXPECT_EQ(0, GetPresentingFlag());
}

TEST_F(DeviceFakeTest, A320x240FullScreenStartsAs640x480DrawingAt320x240) {
  StartupSettings.windowed = 0;
  fake.displayModes = {Mode(640, 480, 16, 60)};
  ASSERT_EQ(0, SetScreenMode(320, 240, 16, 0));
  ASSERT_EQ(0, InitializeGraphicsSystem());
  EXPECT_EQ(640, Screen.width);
  EXPECT_EQ(480, Screen.height);
  int width = 0, height = 0;
  GetScreenSizeSetting(&width, &height);
  EXPECT_EQ(320, width);
  EXPECT_EQ(240, height);
  EXPECT_EQ(1, IsScreenEmulationOn());
  ASSERT_FALSE(fake.deviceParams.empty());
  EXPECT_EQ(640u, fake.deviceParams.back().BackBufferWidth);
  TerminateGraphicsSystem();
}

TEST_F(DeviceFakeTest, ASubBackBufferIsCopiedToTheBackBufferBeforePresent) {
  StartWithScreen(640, 480, 32);
  ASSERT_EQ(0, UseSubBackBuffer());
  EXPECT_EQ(1, fake.Count("CreateRenderTarget(640x480)"));
  ASSERT_EQ(0, UseSubBackBuffer());  // made once
  fake.calls.clear();
  EXPECT_EQ(0, PresentSoftwareScreen(nullptr));
  ASSERT_EQ(2u, fake.calls.size());
  EXPECT_EQ("StretchRect", fake.calls[0]);
}

TEST_F(DeviceFakeTest, TheEndReleasesEverythingAndRestoresTheDesktop) {
  StartWithScreen(640, 480, 32);
  DeviceLayer.displayModeChanged = 1;
  fake.released = 0;
  EXPECT_EQ(0, EndGraphicsSystem());
  EXPECT_EQ(1, fake.Count("RestoreDisplay"));
  EXPECT_EQ(nullptr, DeviceLayer.device);
  EXPECT_EQ(nullptr, DeviceLayer.direct3D);
  EXPECT_EQ(nullptr, DeviceLayer.directDraw);
  EXPECT_EQ(nullptr, DeviceLayer.d3d9);
  // Depth buffer, back buffer, swap chain, device, Direct3D, DirectDraw;
  // and the graphics layer's: the two check shaders and the mask shader,
  // 54 + 2 vertex declarations, the brightness volume texture, the drawing
  // shaders.
  EXPECT_EQ(6 + 3 + 56 + 1 + BASE_NONETEX_SHADERS + BASE_BLEND_SHADERS, fake.released);
  EXPECT_TRUE(Logged("Direct3D9 DLL の解放 1\r\n"));
}

TEST_F(DeviceFakeTest, DialogBoxModeIsSentOffThenOn) {
  StartWithScreen(640, 480, 32);
  fake.calls.clear();
  SetDialogBoxModeFlag(1);
  ASSERT_EQ(2u, fake.calls.size());
  EXPECT_EQ("SetDialogBoxMode(0)", fake.calls[0]);
  EXPECT_EQ("SetDialogBoxMode(1)", fake.calls[1]);
  EXPECT_EQ(1, GetDialogBoxModeFlag());
}

}  // namespace
