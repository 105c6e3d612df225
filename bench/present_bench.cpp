// Frame rate of an empty clear + present loop with the vertical-blank wait
// off, through the library (PresentBackBuffer) next to the same loop made
// straight on the platform in the same run: Direct3D (the device's Clear
// and the swap chain's Present) and software (SetDIBitsToDevice of the same
// image). Ratios are the plain loop's rate over the library's. Also the
// time from process start to the first presented frame.
#include <stdio.h>
#include <windows.h>

#include <vector>

#include "RaRadara.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"

namespace {

enum { FRAMES = 200 };

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Milliseconds since the process was created.
double SinceProcessStart() {
  FILETIME created, exited, kernel, user, now;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG a = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  const ULONGLONG b = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<double>(b - a) / 10000.0;
}

template <typename F>
double FramesPerSecond(F frame) {
  const double start = Now();
  for (int i = 0; i < FRAMES; i++) frame();
  return FRAMES / (Now() - start);
}

// Best rate of each loop over alternating rounds (the machine is shared).
template <typename A, typename B>
void BestOfRounds(A library, B plain, double* libraryRate, double* plainRate) {
  for (int i = 0; i < 20; i++) library(), plain();  // warm up
  *libraryRate = *plainRate = 0;
  for (int round = 0; round < 4; round++) {
    const double a = FramesPerSecond(library), b = FramesPerSecond(plain);
    if (a > *libraryRate) *libraryRate = a;
    if (b > *plainRate) *plainRate = b;
  }
}

void Settings(int hardware) {
  ChangeWindowMode(1);
  SetScreenMode(640, 480, 32, 0);
  SetAlwaysRunFlag(1);
  SetUseHardwareRendering(hardware);
  SetWaitVSync(0);
}

void Report(const char* mode, double library, double plain) {
  printf("%-9s library %8.1f frames/s   plain %8.1f frames/s   ratio %.2f\n", mode, library, plain,
         plain / library);
}

}  // namespace

int main() {
  // Direct3D, with the first frame timed from process start.
  Settings(1);
  if (LibraryStartUp() != 0) return 1;
  ClearDevice(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 80), 1.0f, 0);
  PresentBackBuffer();
  const double firstFrame = SinceProcessStart();
  if (!DeviceLayer.hardware) {
    printf("no Direct3D device\n");
    LibraryShutDown();
    return 1;
  }
  double library = 0, plain = 0;
  BestOfRounds([] {
    ClearDevice(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 80), 1.0f, 0);
    PresentBackBuffer();
    PumpWindowMessages();
  }, [] {
    DeviceLayer.device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 80), 1.0f, 0);
    DeviceLayer.swapChain->Present(nullptr, nullptr, nullptr, nullptr, 0);
    PumpWindowMessages();
  }, &library, &plain);
  Report("Direct3D", library, plain);
  LibraryShutDown();

  // Software screen shown through GDI.
  Settings(0);
  if (LibraryStartUp() != 0) return 1;
  static std::vector<unsigned int> pixels(640 * 480, 0x00405060);
  const SoftwareScreenView view = {pixels.data(), 640 * 4, 32, 0xFF0000, 0x00FF00, 0x0000FF};
  SetSoftwareScreenView(&view);
  double softLibrary = 0, softPlain = 0;
  BestOfRounds([] {
    PresentBackBuffer();
    PumpWindowMessages();
  }, [] {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 640;
    info.bmiHeader.biHeight = -480;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(GetMainWindowHandle());
    SetDIBitsToDevice(dc, 0, 0, 640, 480, 0, 0, 0, 480, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(GetMainWindowHandle(), dc);
    PumpWindowMessages();
  }, &softLibrary, &softPlain);
  Report("software", softLibrary, softPlain);
  SetSoftwareScreenView(nullptr);
  LibraryShutDown();

  printf("first presented frame %.0f ms after process start\n", firstFrame);
  return 0;
}
