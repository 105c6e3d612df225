#include "WindowFixture.h"

#include "FakeDirect3D.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"

namespace test_support {

HWND DeviceTestWindow = nullptr;
int LibraryStarted = 1;

namespace {
LRESULT CALLBACK TestWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_ERASEBKGND) return 1;
  if (msg == WM_PAINT) {
    // As the library's window does: a paint shows the screen again.
    PAINTSTRUCT paint;
    BeginPaint(hwnd, &paint);
    if (Screen.graphicsUp) PresentSoftwareScreen(nullptr);
    EndPaint(hwnd, &paint);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}
}  // namespace

void DeviceWindowTest::SetUp() {
  LibraryStarted = 1;
  ResetDeviceLayer();
  LoadSystemLibraries();
  SetupPerformanceCounter();
  InitializeCom();
  HINSTANCE inst = GetModuleHandleA(nullptr);
  WNDCLASSA wc = {};
  wc.lpfnWndProc = TestWindowProc;
  wc.hInstance = inst;
  wc.lpszClassName = "DeviceTestWindow";
  RegisterClassA(&wc);
  RECT rect = {0, 0, 640, 480};
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  AdjustWindowRect(&rect, style, FALSE);
  DeviceTestWindow = CreateWindowA("DeviceTestWindow", "device", style | WS_VISIBLE, 0, 0,
                                   rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                                   inst, nullptr);
  ASSERT_NE(nullptr, DeviceTestWindow);
  UpdateWindow(DeviceTestWindow);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

void DeviceWindowTest::TearDown() {
  TerminateGraphicsSystem();
  DestroyWindow(DeviceTestWindow);
  DeviceTestWindow = nullptr;
  UnregisterClassA("DeviceTestWindow", GetModuleHandleA(nullptr));
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
  // Through the screen: what Direct3D presents does not pass through the
  // window's own GDI surface.
  GdiFlush();
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  POINT point = {x, y};
  ClientToScreen(DeviceTestWindow, &point);
  HDC dc = GetDC(nullptr);
  const COLORREF c = GetPixel(dc, point.x, point.y);
  ReleaseDC(nullptr, dc);
  return static_cast<DWORD>(GetRValue(c)) << 16 | static_cast<DWORD>(GetGValue(c)) << 8 | GetBValue(c);
}

}  // namespace test_support

// Window layer for the test window (these come before the library's).
HWND GetMainWindowHandle() { return test_support::DeviceTestWindow; }
HWND GetOutputWindowHandle() { return test_support::DeviceTestWindow; }
int IsLibraryStarted() { return test_support::LibraryStarted; }
