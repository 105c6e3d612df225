// Harness check: a real window and a Direct3D 9 device on it.
#include <windows.h>
#include <d3d9.h>
#include <gtest/gtest.h>

namespace {

LRESULT CALLBACK HarnessWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcA(hwnd, msg, wp, lp); }

TEST(Harness, WindowAndDirect3D9Device) {
  HINSTANCE inst = GetModuleHandleA(nullptr);
  WNDCLASSA wc = {};
  wc.lpfnWndProc = HarnessWndProc;
  wc.hInstance = inst;
  wc.lpszClassName = "HarnessWindow";
  ASSERT_NE(RegisterClassA(&wc), 0);

  HWND hwnd = CreateWindowA("HarnessWindow", "harness", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240, nullptr, nullptr, inst,
                            nullptr);
  ASSERT_NE(hwnd, nullptr);
  ShowWindow(hwnd, SW_SHOW);

  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr);

  D3DDISPLAYMODE mode = {};
  ASSERT_EQ(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), D3D_OK);

  D3DPRESENT_PARAMETERS pp = {};
  pp.Windowed = TRUE;
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.BackBufferFormat = D3DFMT_UNKNOWN;
  pp.hDeviceWindow = hwnd;
  IDirect3DDevice9* dev = nullptr;
  HRESULT hr = d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, hwnd, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp,
                                 &dev);
  ASSERT_EQ(hr, D3D_OK);
  ASSERT_NE(dev, nullptr);
  EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 255), 1.0f, 0), D3D_OK);
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

  EXPECT_EQ(dev->Release(), 0u);
  EXPECT_EQ(d3d->Release(), 0u);
  EXPECT_NE(DestroyWindow(hwnd), 0);
  EXPECT_NE(UnregisterClassA("HarnessWindow", inst), 0);
}

}  // namespace
