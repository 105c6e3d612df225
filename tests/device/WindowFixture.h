// A 640 x 480 client-area window for device tests, with the window-layer
// entries the device layer calls answered for it; the device-layer state is
// reset around each test.
#ifndef DEVICE_WINDOW_FIXTURE_H
#define DEVICE_WINDOW_FIXTURE_H

#include <windows.h>

#include <gtest/gtest.h>

namespace test_support {

extern HWND DeviceTestWindow;
extern int LibraryStarted;  // what IsLibraryStarted answers (1 from SetUp)

class DeviceWindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Lets the window's messages run and a presented frame reach the screen.
  void Settle();
  // The window's client pixel (x, y) as 0xRRGGBB, read from its DC.
  DWORD WindowPixel(int x, int y);
};

}  // namespace test_support

#endif  // DEVICE_WINDOW_FIXTURE_H
