// The software screen: creation and release of the primary memory image and
// the two work images, the primary filled with the background colour and
// handed to the GDI present as its view.
// Threads: main thread.
// Platform: none (the present's GDI blit reads the view).
#include "VuViderezaGraphicsSoftware.h"

#include <string.h>

#include "RaRadaraLog.h"
#include "VuViderezaDevice.h"
#include "RaRadara.h"

namespace {

const char LOG_WORK_IMAGE_FAILED[] = "作業用 MEMIMG の作成に失敗しました\n";

}  // namespace

MEMIMG SoftwareScreenImage;
MEMIMG SoftwareWorkImages[2];
MEMIMG* SoftwareDrawTarget = nullptr;

namespace {

uint32_t Channel(int value, int width, int shift) {
  if (width == 0) return 0;
  return static_cast<uint32_t>((value & 255) >> (8 - width)) << shift;
}

uint32_t BackgroundPixel(const ColorFormatRecord* format) {
  return Channel(Screen.background[0], format->redWidth, format->redShift) |
         Channel(Screen.background[1], format->greenWidth, format->greenShift) |
         Channel(Screen.background[2], format->blueWidth, format->blueShift) | format->spareMask;
}

}  // namespace

int CreateSoftwareScreenImages() {
  const int colorType = Screen.colorBits != 16 ? MEMIMG_COLOR_32 : MEMIMG_COLOR_16;
  if (CreateMemImgOfColorType(&SoftwareScreenImage, Screen.width, Screen.height, colorType) < 0) {
    FatalErrorExit("プライマリサーフェス用の MEMIMG の作成に失敗しました\n");
    return -1;
  }
  for (int i = 0; i < 2; i++) {
    MEMIMG* work = &SoftwareWorkImages[i];
    memset(work, 0, sizeof *work);
    if (CreateMemImg(work, {Screen.width, Screen.height, -1, 0, colorType, 0, i, 0, nullptr}) < 0) {
      // Drawing that needs a work image refuses without it.
      FreeFailedMemImg(work);
      memset(work, 0, sizeof *work);
      LogWriteText(LOG_WORK_IMAGE_FAILED);
    }
  }
  const ColorFormatRecord* format = SoftwareScreenImage.header->colorFormat;
  FillMemImgRectRaw(&SoftwareScreenImage, nullptr, BackgroundPixel(format));
  SoftwareDrawTarget = &SoftwareScreenImage;
  const SoftwareScreenView view = {SoftwareScreenImage.pixels, SoftwareScreenImage.header->pitch,
                                   format->bitsPerPixel,       format->redMask,
                                   format->greenMask,          format->blueMask};
  SetSoftwareScreenView(&view);
  return 0;
}

int ReleaseSoftwareScreenImages() {
  SetSoftwareScreenView(nullptr);
  SoftwareDrawTarget = nullptr;
  if (IsValidMemImg(&SoftwareScreenImage)) ReleaseMemImg(&SoftwareScreenImage);
  for (MEMIMG& work : SoftwareWorkImages)
    if (IsValidMemImg(&work)) ReleaseMemImg(&work);
  return 0;
}
