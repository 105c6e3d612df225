// The back buffer read whole (after the batch is drawn and the scene ended)
// as 0xRRGGBB values, row by row; 0xDEAD everywhere when it cannot be read.
#ifndef DRAWDISPLAY_FRAME_READBACK_H
#define DRAWDISPLAY_FRAME_READBACK_H

#include <stdint.h>

#include <vector>

#include "VuViderezaDevice.h"
#include "VuViderezaDraw.h"

inline std::vector<uint32_t> ReadBackBufferFrame(int width, int height) {
  FlushVertexBatch(0);
  EndDrawScene();
  std::vector<uint32_t> out(static_cast<size_t>(width) * height, 0xDEADu);
  D3DLOCKED_RECT locked = {};
  if (LockSurfaceRect(DeviceLayer.backBuffer, &locked, nullptr, D3DLOCK_READONLY) != D3D_OK) return out;
  for (int y = 0; y < height; y++) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(locked.pBits) +
                                                            y * locked.Pitch);
    for (int x = 0; x < width; x++) out[static_cast<size_t>(y) * width + x] = row[x] & 0xFFFFFF;
  }
  UnlockSurfaceRect(DeviceLayer.backBuffer);
  return out;
}

#endif  // DRAWDISPLAY_FRAME_READBACK_H
