// Pictures for the display tests on the real device: A8R8G8B8 textures and
// graphics made from a pixel function, and a render target read back whole.
#ifndef DEVICE_TEST_IMAGES_H
#define DEVICE_TEST_IMAGES_H

#include <windows.h>
#include <d3d9.h>
#include <stdint.h>

#include <functional>
#include <vector>

namespace test_support {

using PixelSource = std::function<uint32_t(int x, int y)>;  // 0xAARRGGBB

// A managed A8R8G8B8 texture of w x h texels; null when it cannot be made.
IDirect3DTexture9* MakeArgbTexture(int width, int height, const PixelSource& texel);
// A graphic with an alpha channel made from the pixels; -1 on failure.
int MakeArgbGraph(int width, int height, const PixelSource& pixel);
// A render-target graphic with an alpha channel; -1 on failure.
int MakeArgbRenderTargetGraph(int width, int height);
// Raw draws that show a pixel shader's own output: `surface` as render
// target cleared to `clear`, no blending, alpha test, Z, fog or culling, no
// vertex shader; samplers 0 and 1 clamped, point or linear.
void BeginRawShaderDraw(IDirect3DSurface9* surface, D3DCOLOR clear, bool linear);

// An A8R8G8B8 render target with its system-memory copy.
class ReadableTarget {
 public:
  ~ReadableTarget() { Release(); }
  bool Create(int width, int height);
  void Release();
  IDirect3DSurface9* Surface() const { return target_; }
  // The top-left w x h pixels (0xDEADDEAD where they cannot be read).
  std::vector<uint32_t> Read(int width, int height);

 private:
  IDirect3DSurface9* target_ = nullptr;
  IDirect3DSurface9* copy_ = nullptr;
};

}  // namespace test_support

#endif  // DEVICE_TEST_IMAGES_H
