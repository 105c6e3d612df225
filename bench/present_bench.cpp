// Frame rate of an empty clear + present loop with the vertical-blank wait
// off, through the library (PresentBackBuffer) next to the same loop made
// straight on the platform in the same run: Direct3D (the device's Clear
// and the swap chain's Present) and software (SetDIBitsToDevice of the same
// image). Ratios are the plain loop's rate over the library's. Also the
// time from process start to the first presented frame, of this program
// started again as a library program and as a plain program that makes the
// same window and device and presents one cleared frame (best of rounds,
// the two alternating), and its ratio.
#include <stdio.h>
#include <string.h>
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

// The plain program: the library's window (class style, windowed style,
// 640 x 480 client) and device (HAL, hardware vertex processing, copy swap,
// lockable back buffer of the desktop format, immediate presents), one
// cleared frame presented. The milliseconds from process start, or -1.
LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcA(window, message, w, l);
}

int PlainFirstFrame() {
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = PlainWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = "PlainBenchWindow";
  if (RegisterClassExA(&windowClass) == 0) return -1;
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame = {0, 0, 640, 480};
  AdjustWindowRect(&frame, style, FALSE);
  HWND window = CreateWindowExA(0, "PlainBenchWindow", "plain", style | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) return -1;
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  IDirect3D9* direct3D = Direct3DCreate9(D3D_SDK_VERSION);
  if (direct3D == nullptr) return -1;
  D3DDISPLAYMODE mode = {};
  direct3D->GetAdapterDisplayMode(0, &mode);
  D3DPRESENT_PARAMETERS params = {};
  params.BackBufferWidth = 640;
  params.BackBufferHeight = 480;
  params.BackBufferCount = 1;
  params.BackBufferFormat = mode.Format;
  params.SwapEffect = D3DSWAPEFFECT_COPY;
  params.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  params.hDeviceWindow = window;
  params.Windowed = TRUE;
  params.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  IDirect3DDevice9* device = nullptr;
  if (FAILED(direct3D->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &device)))
    return -1;
  device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 80), 1.0f, 0);
  device->Present(nullptr, nullptr, nullptr, nullptr);
  const int ms = static_cast<int>(SinceProcessStart());
  device->Release();
  direct3D->Release();
  DestroyWindow(window);
  return ms;
}

// This program started again with the argument; its exit code (-1 when it
// could not run).
int RunAgain(const char* argument) {
  char path[MAX_PATH];
  if (GetModuleFileNameA(nullptr, path, sizeof path) == 0) return -1;
  char command[MAX_PATH + 32];
  snprintf(command, sizeof command, "\"%s\" %s", path, argument);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

void Report(const char* mode, double library, double plain) {
  printf("%-9s library %8.1f frames/s   plain %8.1f frames/s   ratio %.2f\n", mode, library, plain, plain / library);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "--plain") == 0) return PlainFirstFrame();
  if (argc > 1 && strcmp(argv[1], "--library") == 0) {
    Settings(1);
    if (LibraryStartUp() != 0) return -1;
    ClearDevice(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 80), 1.0f, 0);
    PresentBackBuffer();
    const int ms = static_cast<int>(SinceProcessStart());
    LibraryShutDown();
    return ms;
  }
  // First frames, the two programs alternating; the best of each.
  int libraryFirst = -1, plainFirst = -1;
  for (int round = 0; round < 3; round++) {
    const int a = RunAgain("--library"), b = RunAgain("--plain");
    if (a >= 0 && (libraryFirst < 0 || a < libraryFirst)) libraryFirst = a;
    if (b >= 0 && (plainFirst < 0 || b < plainFirst)) plainFirst = b;
  }

  Settings(1);
  if (LibraryStartUp() != 0) return 1;
  if (!DeviceLayer.hardware) {
    printf("no Direct3D device\n");
    LibraryShutDown();
    return 1;
  }
  double library = 0, plain = 0;
  BestOfRounds(
      [] {
        ClearDevice(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 80), 1.0f, 0);
        PresentBackBuffer();
        PumpWindowMessages();
      },
      [] {
        DeviceLayer.device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 80), 1.0f, 0);
        DeviceLayer.swapChain->Present(nullptr, nullptr, nullptr, nullptr, 0);
        PumpWindowMessages();
      },
      &library, &plain);
  Report("Direct3D", library, plain);
  LibraryShutDown();

  // Software screen shown through GDI.
  Settings(0);
  if (LibraryStartUp() != 0) return 1;
  static std::vector<unsigned int> pixels(640 * 480, 0x00405060);
  const SoftwareScreenView view = {pixels.data(), 640 * 4, 32, 0xFF0000, 0x00FF00, 0x0000FF};
  SetSoftwareScreenView(&view);
  double softLibrary = 0, softPlain = 0;
  BestOfRounds(
      [] {
        PresentBackBuffer();
        PumpWindowMessages();
      },
      [] {
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
      },
      &softLibrary, &softPlain);
  Report("software", softLibrary, softPlain);
  SetSoftwareScreenView(nullptr);
  LibraryShutDown();

  printf("first presented frame after process start: library %d ms, plain %d ms, ratio %.2f\n", libraryFirst,
         plainFirst, plainFirst > 0 ? static_cast<double>(libraryFirst) / plainFirst : 0.0);
  return 0;
}
