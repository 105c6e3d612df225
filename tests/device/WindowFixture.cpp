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

// Reads the back buffer pixel (x, y) as 0xRRGGBB.
DWORD BackBufferPixel(int x, int y) {
  D3DLOCKED_RECT locked = {};
  const RECT area = {x, y, x + 1, y + 1};
  if (LockSurfaceRect(DeviceLayer.backBuffer, &locked, &area, D3DLOCK_READONLY) != D3D_OK) return 0xDEAD;
  const DWORD value = *static_cast<const DWORD*>(locked.pBits) & 0xFFFFFF;
  UnlockSurfaceRect(DeviceLayer.backBuffer);
  return value;
}

std::vector<uint8_t> DeviceBufferBytes(IDirect3DResource9* buffer, UINT size) {
  void* data = nullptr;
  if (buffer == nullptr || LockBuffer(buffer, 0, size, &data, D3DLOCK_READONLY) != D3D_OK) return {};
  std::vector<uint8_t> bytes(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
  UnlockBuffer(buffer);
  return bytes;
}

namespace {
ULONG (*RealRelease)(IUnknown*) = nullptr;
std::vector<ULONG> DeviceReleases;
Direct3DCallTable RecordingTable;
ULONG RecordRelease(IUnknown* object) {
  const bool device = object == DeviceLayer.device;
  const ULONG count = RealRelease(object);
  if (device) DeviceReleases.push_back(count);
  return count;
}
}  // namespace

DeviceReleaseRecorder::DeviceReleaseRecorder() {
  RecordingTable = *GetRealDirect3DCallTable();
  RealRelease = RecordingTable.ReleaseComObject;
  RecordingTable.ReleaseComObject = RecordRelease;
  DeviceReleases.clear();
  SetDirect3DCallTable(&RecordingTable);
}

DeviceReleaseRecorder::~DeviceReleaseRecorder() { SetDirect3DCallTable(nullptr); }

const std::vector<ULONG>& DeviceReleaseRecorder::Releases() const { return DeviceReleases; }

}  // namespace test_support
