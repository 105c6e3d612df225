// Device tests through the library's start-up: a 640 x 480 x 32 window
// (running while inactive), the log captured; the library is shut down and
// the device-layer state reset after each test.
#ifndef DEVICE_WINDOW_FIXTURE_H
#define DEVICE_WINDOW_FIXTURE_H

#include <windows.h>
#include <d3d9.h>
#include <stdint.h>

#include <gtest/gtest.h>

#include <vector>

#include "LogCapture.h"

namespace test_support {

class DeviceWindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Lets the window's pending messages (its first paints) run.
  void Settle();
  // The main window's client pixel (x, y) as 0xRRGGBB, read from the screen:
  // what Direct3D presents does not pass through the window's GDI surface.
  DWORD WindowPixel(int x, int y);

  LogCapture log_{"device_window"};
};

// The back buffer pixel (x, y) as 0xRRGGBB (0xDEAD when it cannot be read).
DWORD BackBufferPixel(int x, int y);
// A device buffer's first size bytes, read through a read-only lock (empty
// when it cannot be locked).
std::vector<uint8_t> DeviceBufferBytes(IDirect3DResource9* buffer, UINT size);

// While it lives, the real call table runs with a Release that records
// what each Release of the device returned.
class DeviceReleaseRecorder {
 public:
  DeviceReleaseRecorder();
  ~DeviceReleaseRecorder();
  const std::vector<ULONG>& Releases() const;
};

}  // namespace test_support

#endif  // DEVICE_WINDOW_FIXTURE_H
