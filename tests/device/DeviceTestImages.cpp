#include "DeviceTestImages.h"

#include <string.h>

#include "ReReziRader.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"

int CreateGraphFromBaseImages(const GraphCreateSettings* settings, int handle, BaseImageRecord* image,
                              BaseImageRecord* alphaImage, int transparent, int inJob);

namespace test_support {

IDirect3DTexture9* MakeArgbTexture(int width, int height, const PixelSource& texel) {
  IDirect3DTexture9* texture = nullptr;
  if (CreateDeviceTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr) != D3D_OK) {
    return nullptr;
  }
  D3DLOCKED_RECT locked;
  if (LockTextureRect(texture, 0, &locked, nullptr, 0) == D3D_OK) {
    for (int y = 0; y < height; y++) {
      DWORD* row = reinterpret_cast<DWORD*>(static_cast<unsigned char*>(locked.pBits) + y * locked.Pitch);
      for (int x = 0; x < width; x++) row[x] = texel(x, y);
    }
    UnlockTextureRect(texture, 0);
  }
  return texture;
}

int MakeArgbGraph(int width, int height, const PixelSource& pixel) {
  BaseImageRecord image;
  if (CreateBaseImageARGB8(width, height, &image) != 0) return -1;
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      const uint32_t p = pixel(x, y);
      SetBaseImagePixelRGBA(&image, x, y, (p >> 16) & 255, (p >> 8) & 255, p & 255, p >> 24);
    }
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  settings.noTransparentColor = 1;
  const int handle = AllocGraphicHandle();
  const int result = CreateGraphFromBaseImages(&settings, handle, &image, nullptr, 0, 0);
  ReleaseBaseImage(&image);
  return result == 0 ? handle : -1;
}

bool ReadableTarget::Create(int width, int height) {
  Release();
  return CreateDeviceRenderTarget(width, height, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, &target_,
                                  nullptr) == D3D_OK &&
         CreateDeviceOffscreenPlainSurface(width, height, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &copy_, nullptr) ==
             D3D_OK;
}

void ReadableTarget::Release() {
  if (copy_ != nullptr) ReleaseComObject(copy_);
  if (target_ != nullptr) ReleaseComObject(target_);
  copy_ = target_ = nullptr;
}

std::vector<uint32_t> ReadableTarget::Read(int width, int height) {
  std::vector<uint32_t> pixels(width * height, 0xDEADDEAD);
  EndDrawScene();
  if (GetDeviceRenderTargetData(target_, copy_) != D3D_OK) return pixels;
  D3DLOCKED_RECT locked;
  if (LockSurfaceRect(copy_, &locked, nullptr, D3DLOCK_READONLY) != D3D_OK) return pixels;
  for (int y = 0; y < height; y++) {
    memcpy(&pixels[y * width], static_cast<unsigned char*>(locked.pBits) + y * locked.Pitch, width * 4);
  }
  UnlockSurfaceRect(copy_);
  return pixels;
}

}  // namespace test_support
