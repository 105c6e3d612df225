// Loading graphics: an image file decoded into base images, made into one
// whole graphic and cut into tile graphics sharing its textures
// (LoadImageDivided), one graphic from an image or movie file
// (LoadImageGraph), graphics from base images, derived tiles.
// Threads: main thread. Platform: none directly (the image loaders and the
// graphic creation below it).
#include <string.h>

#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "DaDode.h"
#include "ReReziRader.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "ZiDezaru.h"

namespace {

const char LOG_DIVIDE_FAILED[] = "グラフィックの分割に失敗しました in CreateDivGraphFromGraphImage";
const char LOG_IMAGE_LOAD_FAILED[] = "画像ファイル %s のロードに失敗しました";
const char LOG_IMAGE_MISSING[] = "画像ファイル %s がありません";

void FullPath(const char* file, char (&path)[MAX_PATH]) {
  if (BuildAbsolutePath(file, path, sizeof path, nullptr) < 0) {
    strncpy(path, file, sizeof path - 1);
    path[MAX_PATH - 1] = 0;
  }
}

}  // namespace

int MakeDerivedTile(int handle, int x, int y, int width, int height, int source, int inJob) {
  GraphicHandleRecord* src = GetGraphicRecord(source, 1);
  if (src == nullptr || x < 0 || y < 0 || x >= src->width || y >= src->height) return -1;
  if (x + width > src->width) width = src->width - x;
  if (y + height > src->height) height = src->height - y;
  return MakeDerivedGraph(handle, source, x, y, width, height, inJob);
}

// Sets up the graphic for the image and transfers it whole at (0, 0).
int CreateGraphFromBaseImages(const GraphCreateSettings* settings, int handle, BaseImageRecord* image,
                              BaseImageRecord* alphaImage, int transparent, int inJob) {
  if (!Screen.graphicsUp) return -1;
  BaseImageRecord* alpha = alphaImage != nullptr && alphaImage->pixels != nullptr ? alphaImage : nullptr;
  if (alpha != nullptr && (alpha->width != image->width || alpha->height != image->height)) return -1;
  GraphCreateSettings local = *settings;
  local.cube = image->cubeFlag > 0 ? 1 : 0;
  if (local.transparentFromTopLeft) local.transparentColor = static_cast<int>(GetBaseImagePixelARGB8(image, 0, 0) & 0xffffff);
  RecomputeSpareBitsMask(&image->format);
  if (alpha != nullptr) RecomputeSpareBitsMask(&alpha->format);
  const int hasAlpha = image->format.alphaWidth != 0 || alpha != nullptr;
  const int palette8 = image->format.bytesPerPixel == 1 && !hasAlpha;
  const int mips = image->mipLevelCount > 1 ? image->mipLevelCount : -1;
  if (CreateGraphicFromImageData(&local, handle, image->width, image->height, transparent, hasAlpha, palette8,
                                 image->format.kind, mips, inJob) < 0)
    return -1;
  RECT whole = {0, 0, image->width, image->height};
  return TransferImageToGraphTexture(image, alpha, handle, &whole, 0, 0, local.noTransparentColor == 0, 0, inJob);
}

int CreateDivGraphFromGraphImage(const GraphCreateSettings* settings, int wholeHandle, BaseImageRecord* image,
                                 BaseImageRecord* alphaImage, int count, int across, int, int width, int height,
                                 int* handles, int transparent, int mirror, int inJob) {
  if (CreateGraphFromBaseImages(settings, wholeHandle, image, alphaImage, transparent, inJob) < 0) return -1;
  for (int i = 0; i < count; i++) {
    const int column = i % across, row = i / across;
    const int x = (mirror ? across - 1 - column : column) * width;
    if (MakeDerivedTile(handles[i], x, row * height, width, height, wholeHandle, inJob) < 0) {
      LogPrintf(LOG_DIVIDE_FAILED);
      return -1;
    }
  }
  return 0;
}

int LoadDividedGraph(const char* file, int count, int across, int down, int width, int height, int* handles,
                     int transparent, int mirror) {
  if (handles == nullptr || count <= 0 || across <= 0 || down <= 0 || width <= 0 || height <= 0) return -1;
  memset(handles, 0xff, count * sizeof(int));
  for (int i = 0; i < count; i++) {
    handles[i] = AllocGraphicHandle();
    if (handles[i] < 0) {
      for (int k = 0; k < i; k++) DeleteGraphicHandle(handles[k]);
      memset(handles, 0xff, count * sizeof(int));
      return -1;
    }
  }
  int result = -1;
  const int wholeHandle = AllocGraphicHandle();
  if (wholeHandle >= 0) {
    ImageLoadSettings loadSettings;
    SnapshotImageLoadSettings(&loadSettings);
    BaseImageRecord image, alpha;
    memset(&image, 0, sizeof image);
    memset(&alpha, 0, sizeof alpha);
    if (LoadBaseImagePair(&loadSettings, file, nullptr, 0, 0, nullptr, 0, 0, &image, &alpha, mirror) < 0) {
      char path[MAX_PATH];
      FullPath(file, path);
      LogPrintf(LOG_IMAGE_LOAD_FAILED, path);
    } else {
      GraphCreateSettings settings;
      GetGraphCreateSettings(&settings);
      result = CreateDivGraphFromGraphImage(&settings, wholeHandle, &image, &alpha, count, across, down, width,
                                            height, handles, transparent, mirror, 0);
      if (result == 0) {
        RememberGraphicSource(handles[0], file, nullptr, nullptr, mirror, -1);
        for (int i = 1; i < count; i++) RememberGraphicSource(handles[i], nullptr, nullptr, nullptr, mirror, handles[0]);
      }
      ReleaseBaseImage(&image);
      if (alpha.pixels != nullptr) ReleaseBaseImage(&alpha);
    }
    DeleteGraphicHandle(wholeHandle);
  }
  if (result < 0) {
    for (int i = 0; i < count; i++) DeleteGraphicHandle(handles[i]);
    memset(handles, 0xff, count * sizeof(int));
  }
  return result;
}

int LoadImageDivided(const char* file, int count, int across, int down, int tileWidth, int tileHeight, int* handles,
                     int transparent) {
  return LoadDividedGraph(file, count, across, down, tileWidth, tileHeight, handles, !transparent, 0);
}

int LoadImageGraph(const char* file) {
  if (file == nullptr) return -1;
  const int handle = AllocGraphicHandle();
  if (handle < 0) return -1;
  ImageLoadSettings loadSettings;
  SnapshotImageLoadSettings(&loadSettings);
  BaseImageRecord image, alpha;
  memset(&image, 0, sizeof image);
  memset(&alpha, 0, sizeof alpha);
  if (LoadBaseImagePair(&loadSettings, file, nullptr, 0, 0, nullptr, 0, 0, &image, &alpha, 0) >= 0) {
    GraphCreateSettings settings;
    GetGraphCreateSettings(&settings);
    int result = CreateGraphFromBaseImages(&settings, handle, &image, &alpha, 1, 0);
    if (result == 0) RememberGraphicSource(handle, file, nullptr, nullptr, 0, -1);
    ReleaseBaseImage(&image);
    if (alpha.pixels != nullptr) ReleaseBaseImage(&alpha);
    if (result < 0) {
      DeleteGraphicHandle(handle);
      return -1;
    }
    return handle;
  }
  // No image loader takes the file: a file that exists is tried as a movie.
  const StreamHandle stream = FileStreamOpen(file, 0, 1, 0);
  if (stream == 0) {
    char path[MAX_PATH];
    FullPath(file, path);
    LogPrintf(LOG_IMAGE_MISSING, path);
    DeleteGraphicHandle(handle);
    return -1;
  }
  FileStreamClose(stream);
  if (LoadMovieGraphic(handle, file, 0) < 0) {
    DeleteGraphicHandle(handle);
    return -1;
  }
  return handle;
}
