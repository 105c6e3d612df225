// Loading graphics: an image file decoded into base images, made into one
// whole graphic and cut into tile graphics sharing its textures
// (LoadImageDivided), one graphic from an image or movie file
// (LoadImageGraph), graphics from base images, derived tiles, blank
// graphics and the settings of library-internal graphics.
// Threads: main thread; a blank graphic may be made by a loading job (its
// device calls posted to the main thread). Platform: none directly (the
// image loaders and the graphic creation below it).
#include <string.h>

#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "DaDode.h"
#include "DiDAridIrer.h"
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

namespace {

// The image as ARGB8 with the transparent colour at alpha 0 and each
// transparent pixel next to a drawn one (left, up, right, down; later
// writes win) taking that pixel's colour at alpha 0, so that filtering at
// the edges does not blend in the key colour. -1 when out of memory.
int FillTransparentEdges(const BaseImageRecord* image, uint32_t key, BaseImageRecord* out) {
  if (CreateBaseImageARGB8(image->width, image->height, out) < 0) return -1;
  const int w = image->width, h = image->height;
  uint32_t* pixels = static_cast<uint32_t*>(out->pixels);
  const int stride = out->pitch / 4;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const uint32_t p = GetBaseImagePixelARGB8(image, x, y);
      pixels[y * stride + x] = (p & 0xffffff) == key ? (p & 0xffffff) : p;
    }
  const auto transparent = [&](int x, int y) { return (GetBaseImagePixelARGB8(image, x, y) & 0xffffff) == key; };
  static const int STEPS[4][2] = {{-1, 0}, {0, -1}, {1, 0}, {0, 1}};
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      if (transparent(x, y)) continue;
      const uint32_t colour = GetBaseImagePixelARGB8(image, x, y) & 0xffffff;
      for (const int* step : STEPS) {
        const int nx = x + step[0], ny = y + step[1];
        if (nx >= 0 && ny >= 0 && nx < w && ny < h && transparent(nx, ny)) pixels[ny * stride + nx] = colour;
      }
    }
  return 0;
}

int CreateGraphFromImage(const GraphCreateSettings* settings, int handle, BaseImageRecord* image,
                         BaseImageRecord* alpha, int transparent, int inJob);

}  // namespace

// Sets up the graphic for the image and transfers it whole at (0, 0).
int CreateGraphFromBaseImages(const GraphCreateSettings* settings, int handle, BaseImageRecord* image,
                              BaseImageRecord* alphaImage, int transparent, int inJob) {
  if (!Screen.graphicsUp) return -1;
  BaseImageRecord* alpha = alphaImage != nullptr && alphaImage->pixels != nullptr ? alphaImage : nullptr;
  if (alpha != nullptr && (alpha->width != image->width || alpha->height != image->height)) return -1;
  GraphCreateSettings local = *settings;
  local.cube = image->cubeFlag > 0 ? 1 : 0;
  if (local.transparentFromTopLeft) local.transparentColor = static_cast<int>(GetBaseImagePixelARGB8(image, 0, 0) & 0xffffff);
  BaseImageRecord filled;
  memset(&filled, 0, sizeof filled);
  if (local.fillTransparentEdges && !local.noTransparentColor && image->format.kind == 0 && !image->cubeFlag) {
    if (FillTransparentEdges(image, static_cast<uint32_t>(local.transparentColor) & 0xffffff, &filled) < 0) return -1;
    image = &filled;
  }
  const int result = CreateGraphFromImage(&local, handle, image, alpha, transparent, inJob);
  if (filled.pixels != nullptr) ReleaseBaseImage(&filled);
  return result;
}

namespace {

int CreateGraphFromImage(const GraphCreateSettings* settings, int handle, BaseImageRecord* image,
                         BaseImageRecord* alpha, int transparent, int inJob) {
  GraphCreateSettings local = *settings;
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

}  // namespace

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

namespace {

// Decodes the file, makes the whole graphic in wholeHandle and the tiles in
// handles, remembers the source; the caller deletes wholeHandle (and the
// tiles on failure).
int LoadDividedGraphInto(const GraphCreateSettings* settings, const char* file, int count, int across, int down,
                         int width, int height, const int* handles, int wholeHandle, int transparent, int mirror,
                         int inJob) {
  ImageLoadSettings loadSettings;
  SnapshotImageLoadSettings(&loadSettings);
  BaseImageRecord image, alpha;
  memset(&image, 0, sizeof image);
  memset(&alpha, 0, sizeof alpha);
  if (LoadBaseImagePair(&loadSettings, file, nullptr, 0, 0, nullptr, 0, 0, &image, &alpha, mirror) < 0) {
    char path[MAX_PATH];
    FullPath(file, path);
    LogPrintf(LOG_IMAGE_LOAD_FAILED, path);
    return -1;
  }
  const int result = CreateDivGraphFromGraphImage(settings, wholeHandle, &image, &alpha, count, across, down, width,
                                                  height, const_cast<int*>(handles), transparent, mirror, inJob);
  if (result == 0) {
    RememberGraphicSource(handles[0], file, nullptr, nullptr, mirror, -1);
    for (int i = 1; i < count; i++) RememberGraphicSource(handles[i], nullptr, nullptr, nullptr, mirror, handles[0]);
  }
  ReleaseBaseImage(&image);
  if (alpha.pixels != nullptr) ReleaseBaseImage(&alpha);
  return result;
}

// The loading job of a divided graphic: settings, file, grid, flags, the
// whole-image handle and the tiles' handles.
int LoadDividedGraphJob(ASyncJob* job) {
  int offset = 0;
  GraphCreateSettings settings;
  memcpy(&settings, UnpackASyncData(job->params, &offset), sizeof settings);
  const char* file = UnpackASyncString(job->params, &offset);
  const int count = UnpackASyncInt(job->params, &offset);
  const int across = UnpackASyncInt(job->params, &offset);
  const int down = UnpackASyncInt(job->params, &offset);
  const int width = UnpackASyncInt(job->params, &offset);
  const int height = UnpackASyncInt(job->params, &offset);
  const int transparent = UnpackASyncInt(job->params, &offset);
  const int mirror = UnpackASyncInt(job->params, &offset);
  const int wholeHandle = UnpackASyncInt(job->params, &offset);
  const int* handles = static_cast<const int*>(UnpackASyncData(job->params, &offset));
  const int result = LoadDividedGraphInto(&settings, file, count, across, down, width, height, handles, wholeHandle,
                                          transparent, mirror, 1);
  // Pending loads go before any deletion: deleting waits for them.
  SubHandleAsyncCount(wholeHandle);
  for (int i = 0; i < count; i++) SubHandleAsyncCount(handles[i]);
  DeleteGraphicHandle(wholeHandle);
  if (result < 0)
    for (int i = 0; i < count; i++) DeleteGraphicHandle(handles[i]);
  return 0;
}

// Queues the load; the handles stay pending until the job ends. 0 / -1.
int QueueDividedGraphLoad(const GraphCreateSettings* settings, const char* file, int count, int across, int down,
                          int width, int height, const int* handles, int wholeHandle, int transparent, int mirror) {
  char path[MAX_PATH];
  FullPath(file, path);
  const int words[9] = {count, across, down, width, height, transparent, mirror, wholeHandle, 0};
  int size = 0;
  PackASyncData(nullptr, &size, settings, sizeof *settings);
  if (PackASyncString(nullptr, &size, path) < 0) return -1;
  for (int i = 0; i < 8; i++) PackASyncInt(nullptr, &size, words[i]);
  if (PackASyncData(nullptr, &size, handles, count * static_cast<int>(sizeof(int))) < 0) return -1;
  ASyncJob* job = AllocASyncJob(size);
  if (job == nullptr) return -1;
  int offset = 0;
  PackASyncData(job->params, &offset, settings, sizeof *settings);
  PackASyncString(job->params, &offset, path);
  for (int i = 0; i < 8; i++) PackASyncInt(job->params, &offset, words[i]);
  PackASyncData(job->params, &offset, handles, count * static_cast<int>(sizeof(int)));
  job->function = LoadDividedGraphJob;
  // The tiles are pending before the job can run; the whole-image handle
  // is counted with the queueing.
  for (int i = 0; i < count; i++) AddHandleAsyncCount(handles[i], -1);
  if (AddASyncJobForHandle(job, wholeHandle) < 0) {
    for (int i = 0; i < count; i++) SubHandleAsyncCount(handles[i]);
    return -1;
  }
  return 0;
}

}  // namespace

int LoadDividedGraph(const char* file, int count, int across, int down, int width, int height, int* handles,
                     int transparent, int mirror) {
  if (file == nullptr || handles == nullptr || count <= 0 || across <= 0 || down <= 0 || width <= 0 || height <= 0)
    return -1;
  WaitWhileInactive();
  memset(handles, 0xff, count * sizeof(int));
  for (int i = 0; i < count; i++) {
    handles[i] = AllocGraphicHandle();
    if (handles[i] < 0) {
      for (int k = 0; k < i; k++) DeleteGraphicHandle(handles[k]);
      memset(handles, 0xff, count * sizeof(int));
      return -1;
    }
  }
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  int result = -1;
  const int wholeHandle = AllocGraphicHandle();
  if (wholeHandle >= 0) {
    if (IsASyncLoadEnabled()) {
      result = QueueDividedGraphLoad(&settings, file, count, across, down, width, height, handles, wholeHandle,
                                     transparent, mirror);
      if (result == 0) return 0;
    } else {
      result = LoadDividedGraphInto(&settings, file, count, across, down, width, height, handles, wholeHandle,
                                    transparent, mirror, 0);
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

void InitImageFormatDesc(GraphCreateSettings* settings, int colorBits, int alpha, int alphaTest) {
  memset(settings, 0, sizeof *settings);
  settings->transparentColor = 0xff00ff;
  settings->colorBits = colorBits;
  settings->alpha = alpha;
  settings->alphaTest = alphaTest;
  settings->notManaged = 0;  // managed pool
  settings->mipCount = 1;
  settings->reserved = 1;
}

void InitDrawableGraphSettings(GraphCreateSettings* settings, int colorBits, int alpha) {
  memset(settings, 0, sizeof *settings);
  settings->transparentColor = 0xff00ff;
  settings->colorBits = colorBits;
  settings->drawable = 1;
  settings->drawableAlpha = alpha;
  settings->mipCount = 1;
  settings->reserved = 1;
}

namespace {

// The job of an asynchronous blank graphic: settings, handle, size, flag, alpha.
int CreateBlankGraphJob(ASyncJob* job) {
  int offset = 0;
  GraphCreateSettings settings;
  memcpy(&settings, UnpackASyncData(job->params, &offset), sizeof settings);
  const int handle = UnpackASyncInt(job->params, &offset);
  const int width = UnpackASyncInt(job->params, &offset);
  const int height = UnpackASyncInt(job->params, &offset);
  const int flag = UnpackASyncInt(job->params, &offset);
  const int alpha = UnpackASyncInt(job->params, &offset);
  // The pending load goes first: a failed creation deletes the handle,
  // which must not wait for this very job.
  SubHandleAsyncCount(handle);
  CreateGraphicFromImageData(&settings, handle, width, height, !flag, alpha, 0, 0, -1, 1);
  return 0;
}

}  // namespace

int CreateBlankGraphHandle(const GraphCreateSettings* settings, int width, int height, int flag, int async,
                           int inJob) {
  if (settings == nullptr || width <= 0 || height <= 0) return -1;
  if (!inJob) WaitWhileInactive();
  const int handle = AllocGraphicHandle();
  if (handle < 0) return -1;
  if (async && !inJob) {
    int size = 0;
    PackASyncData(nullptr, &size, settings, sizeof *settings);
    for (int i = 0; i < 5; i++) PackASyncInt(nullptr, &size, 0);
    ASyncJob* job = AllocASyncJob(size);
    if (job == nullptr) {
      DeleteHandle(handle);
      return -1;
    }
    int offset = 0;
    PackASyncData(job->params, &offset, settings, sizeof *settings);
    PackASyncInt(job->params, &offset, handle);
    PackASyncInt(job->params, &offset, width);
    PackASyncInt(job->params, &offset, height);
    PackASyncInt(job->params, &offset, flag);
    PackASyncInt(job->params, &offset, settings->alpha);
    job->function = CreateBlankGraphJob;
    if (AddASyncJobForHandle(job, handle) < 0) {
      DeleteHandle(handle);
      return -1;
    }
    return handle;
  }
  // On failure the creation deletes the handle itself.
  if (CreateGraphicFromImageData(settings, handle, width, height, !flag, settings->alpha, 0, 0, -1, inJob) < 0)
    return -1;
  return handle;
}

int MakeBlankGraph(int width, int height, int drawable, int alpha) {
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  settings.alpha = alpha ? 1 : 0;
  if (drawable) {
    settings.drawable = 1;
    settings.drawableAlpha = alpha ? 1 : 0;
  }
  return CreateBlankGraphHandle(&settings, width, height, 0, IsASyncLoadEnabled(), 0);
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
