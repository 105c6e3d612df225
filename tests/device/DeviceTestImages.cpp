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

int MakeArgbRenderTargetGraph(int width, int height) {
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  settings.drawable = 1;
  settings.drawableAlpha = 1;
  settings.alpha = 1;
  const int handle = AllocGraphicHandle();
  return CreateGraphicFromImageData(&settings, handle, {width, height, 1, 0, 0, -1}, 0) == 0 ? handle : -1;
}

void BeginRawShaderDraw(IDirect3DSurface9* surface, D3DCOLOR clear, bool linear) {
  EndDrawScene();
  SetDeviceRenderTarget(0, surface);
  ClearDevice(0, nullptr, D3DCLEAR_TARGET, clear, 1.0f, 0);
  BeginDrawSceneOnce();
  SetDeviceRenderState(D3DRS_ZENABLE, FALSE);
  SetDeviceRenderState(D3DRS_LIGHTING, FALSE);
  SetDeviceRenderState(D3DRS_FOGENABLE, FALSE);
  SetDeviceRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  SetDeviceRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  SetDeviceRenderState(D3DRS_ALPHATESTENABLE, FALSE);
  for (int s = 0; s < 2; s++) {
    SetDeviceSamplerState(s, D3DSAMP_MAGFILTER, linear ? D3DTEXF_LINEAR : D3DTEXF_POINT);
    SetDeviceSamplerState(s, D3DSAMP_MINFILTER, linear ? D3DTEXF_LINEAR : D3DTEXF_POINT);
    SetDeviceSamplerState(s, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    SetDeviceSamplerState(s, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    SetDeviceSamplerState(s, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
  }
  SetDeviceVertexShader(nullptr);
}

bool ReadableTarget::Create(int width, int height) {
  Release();
  return CreateDeviceRenderTarget(width, height, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, &target_, nullptr) ==
             D3D_OK &&
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
