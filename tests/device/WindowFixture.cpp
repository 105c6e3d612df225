#include "WindowFixture.h"

#include "FakeDirect3D.h"
#include "RaRadara.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"

namespace test_support {

void DeviceWindowTest::SetUp() {
  ResetDeviceLayer();
  ASSERT_EQ(0, log_.StartResult());
  ChangeWindowMode(1);
  SetScreenMode(640, 480, 32, 0);
  SetTitleText("RiDov device test");
  SetAlwaysRunFlag(1);
}

void DeviceWindowTest::TearDown() {
  LibraryShutDown();
  ResetDeviceLayer();
}

void DeviceWindowTest::Settle() {
  MSG msg;
  for (int i = 0; i < 3; i++) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(50);
  }
}

DWORD DeviceWindowTest::WindowPixel(int x, int y) {
  GdiFlush();
  POINT point = {x, y};
  ClientToScreen(GetMainWindowHandle(), &point);
  HDC dc = GetDC(nullptr);
  const COLORREF c = GetPixel(dc, point.x, point.y);
  ReleaseDC(nullptr, dc);
  return static_cast<DWORD>(GetRValue(c)) << 16 | static_cast<DWORD>(GetGValue(c)) << 8 | GetBValue(c);
}

}  // namespace test_support
