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

// Frees the colour image and, when it holds pixels, the alpha image.
void ReleaseImagePair(BaseImageRecord* image, BaseImageRecord* alpha) {
  ReleaseBaseImage(image);
  if (alpha->pixels != nullptr) ReleaseBaseImage(alpha);
}

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
  ReleaseImagePair(&image, &alpha);
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

int MakeBlankCubeGraph(int size, int alpha) {
  if (size < 1) return -1;
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  settings.cube = 1;
  settings.alpha = settings.drawableAlpha = alpha ? 1 : 0;
  settings.drawable = 1;
  settings.maxTextureSide = 0;  // the six faces are one texture
  return CreateBlankGraphHandle(&settings, size, size, 0, IsASyncLoadEnabled(), 0);
}

// ---------------------------------------------------------------------------
// The single-graphic road: one graphic from a file, image bytes or base
// images, at once or as a loading job.

namespace {

const char LOG_GRAPHIC_FILE_FAILED[] = "右記のグラフィックファイルのロードに失敗しました：%s ";

// What one single-graphic load works from (exactly one source is set).
struct SingleGraphRequest {
  GraphCreateSettings settings;
  int reuse;
  int handle;
  const char* file;  // full path
  const void* bytes;
  int size;
  const void* alphaBytes;
  int alphaSize;
  const BaseImageRecord* image;
  const BaseImageRecord* alphaImage;
  int transparent;
  int mirror;
};

int LoadSingleGraphFromRequest(const SingleGraphRequest* r, int inJob) {
  BaseImageRecord image, alpha;
  memset(&image, 0, sizeof image);
  memset(&alpha, 0, sizeof alpha);
  BaseImageRecord* colour = &image;
  BaseImageRecord* alphaUsed = nullptr;
  int loadedHere = 0;
  if (r->image != nullptr) {
    // The caller's images: worked on through copies of their records.
    image = *r->image;
    if (r->alphaImage != nullptr && r->alphaImage->pixels != nullptr) {
      alpha = *r->alphaImage;
      alphaUsed = &alpha;
    }
  } else {
    ImageLoadSettings loadSettings;
    SnapshotImageLoadSettings(&loadSettings);
    const int result =
        r->file != nullptr
            ? LoadBaseImagePair(&loadSettings, r->file, nullptr, 0, 0, nullptr, 0, 0, &image, &alpha, r->mirror)
            : LoadBaseImagePair(&loadSettings, nullptr, r->bytes, r->size, 1, r->alphaBytes, r->alphaSize,
                                r->alphaBytes != nullptr ? 1 : 2, &image, &alpha, r->mirror);
    if (result < 0) {
      if (r->file != nullptr) {
        // No image loader takes it: a file that exists is tried as a movie.
        const StreamHandle stream = FileStreamOpen(r->file, 0, 1, 0);
        if (stream == 0) {
          LogPrintf(LOG_IMAGE_MISSING, r->file);
        } else {
          FileStreamClose(stream);
          if (!r->reuse) return LoadMovieGraphic(r->handle, r->file, inJob);
          LogPrintf(LOG_GRAPHIC_FILE_FAILED, r->file);
        }
      }
      return -1;
    }
    loadedHere = 1;
    if (alpha.pixels != nullptr) alphaUsed = &alpha;
  }
  int result;
  if (r->reuse) {
    GraphicHandleRecord* record = GetGraphicRecord(r->handle, 1);
    if (record == nullptr || record->image == nullptr || record->width != image.width ||
        record->height != image.height) {
      result = -1;
    } else {
      const RECT whole = {0, 0, image.width, image.height};
      result = TransferImageToGraphTexture(colour, alphaUsed, r->handle, &whole, 0, 0,
                                           r->settings.noTransparentColor == 0, 0, inJob);
    }
  } else {
    result = CreateGraphFromBaseImages(&r->settings, r->handle, colour, alphaUsed, r->transparent, inJob);
  }
  if (result == 0) {
    if (r->file != nullptr)
      RememberGraphicSource(r->handle, r->file, nullptr, nullptr, r->mirror, -1);
    else if (r->bytes != nullptr)
      RememberGraphicSourceBytes(r->handle, r->bytes, r->size, r->alphaBytes, r->alphaSize, r->mirror);
    else
      RememberGraphicSource(r->handle, nullptr, colour, alphaUsed, r->mirror, -1);
  }
  if (loadedHere) ReleaseImagePair(&image, &alpha);
  return result;
}

int LoadSingleGraphJob(ASyncJob* job) {
  int offset = 0;
  SingleGraphRequest request;
  memcpy(&request, UnpackASyncData(job->params, &offset), sizeof request);
  request.file = UnpackASyncString(job->params, &offset);
  const int result = LoadSingleGraphFromRequest(&request, 1);
  // The pending load goes first: deleting waits for it.
  SubHandleAsyncCount(request.handle);
  if (result < 0 && !request.reuse && GetGraphicRecord(request.handle, 1) != nullptr) DeleteGraphicHandle(request.handle);
  return 0;
}

// The new handle, 0 after a refill, or -1.
int LoadGraphRequest(SingleGraphRequest* r, int async, int inJob) {
  if (!inJob) WaitWhileInactive();
  if (r->reuse) {
    GraphicHandleRecord* record = GetGraphicRecord(r->handle, 0);
    if (record == nullptr) return -1;
  } else {
    r->handle = AllocGraphicHandle();
    if (r->handle < 0) return -1;
  }
  if (!async || inJob) {
    // A failed creation deletes a new handle itself; one that failed before that is deleted here.
    const int result = LoadSingleGraphFromRequest(r, inJob);
    if (result < 0) {
      if (!r->reuse && GetGraphicRecord(r->handle, 1) != nullptr) DeleteGraphicHandle(r->handle);
      return -1;
    }
    return r->reuse ? 0 : r->handle;
  }
  int size = 0;
  PackASyncData(nullptr, &size, r, sizeof *r);
  if (PackASyncString(nullptr, &size, r->file) < 0) return -1;
  ASyncJob* job = AllocASyncJob(size);
  if (job != nullptr) {
    int offset = 0;
    PackASyncData(job->params, &offset, r, sizeof *r);
    PackASyncString(job->params, &offset, r->file);
    job->function = LoadSingleGraphJob;
    if (AddASyncJobForHandle(job, r->handle) == 0) return r->reuse ? 0 : r->handle;
  }
  if (!r->reuse) DeleteGraphicHandle(r->handle);
  return -1;
}

SingleGraphRequest NewRequest(const GraphCreateSettings* settings, int reuse, int handle, int transparent, int mirror) {
  SingleGraphRequest request;
  memset(&request, 0, sizeof request);
  request.settings = *settings;
  request.reuse = reuse;
  request.handle = handle;
  request.transparent = transparent;
  request.mirror = mirror;
  return request;
}

}  // namespace

int CreateGraphFromMemoryWithSettings(const GraphCreateSettings* settings, int reuse, int handle, const void* bytes,
                                      int size, const void* alphaBytes, int alphaSize, int transparent, int mirror,
                                      int async) {
  if (settings == nullptr || bytes == nullptr || size <= 0) return -1;
  SingleGraphRequest request = NewRequest(settings, reuse, handle, transparent, mirror);
  request.bytes = bytes;
  request.size = size;
  request.alphaBytes = alphaBytes;
  request.alphaSize = alphaBytes != nullptr ? alphaSize : 0;
  return LoadGraphRequest(&request, async, 0);
}

int CreateGraphFromBaseImageWithSettings(const GraphCreateSettings* settings, int reuse, int handle,
                                         const BaseImageRecord* image, const BaseImageRecord* alphaImage,
                                         int transparent, int mirror, int async, int inJob) {
  if (settings == nullptr || image == nullptr || image->pixels == nullptr) return -1;
  SingleGraphRequest request = NewRequest(settings, reuse, handle, transparent, mirror);
  request.image = image;
  request.alphaImage = alphaImage;
  return LoadGraphRequest(&request, async, inJob);
}

int MakeGraphFromBaseImages(const BaseImageRecord* image, const BaseImageRecord* alphaImage, int transparent) {
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  return CreateGraphFromBaseImageWithSettings(&settings, 0, -1, image, alphaImage, transparent, 0, 0, 0);
}

int LoadImageGraph(const char* file) {
  if (file == nullptr) return -1;
  char path[MAX_PATH];
  FullPath(file, path);
  SingleGraphRequest request;
  memset(&request, 0, sizeof request);
  GetGraphCreateSettings(&request.settings);
  request.file = path;
  return LoadGraphRequest(&request, IsASyncLoadEnabled(), 0);
}

int CreateGraphicFromBaseImage(const BaseImageRecord* image, const BaseImageRecord* alphaImage, int handle, int destX,
                               int destY) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, 0);
  if (record == nullptr || image == nullptr) return -1;
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  const RECT whole = {0, 0, image->width, image->height};
  if (TransferImageToGraphTexture(image, alphaImage, handle, &whole, destX, destY, settings.noTransparentColor == 0, 0,
                                  0) != 0)
    return -1;
  record = GetGraphicRecord(handle, 0);
  record->sourceX = -destX;
  record->sourceY = -destY;
  return RememberGraphicSource(handle, nullptr, image, alphaImage, 0, -1);
}

int TransferImageRectToGraph(int handle, const BaseImageRecord* image, const BaseImageRecord* alphaImage,
                             const RECT* source, int destX, int destY) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, 0);
  if (record == nullptr || image == nullptr || source == nullptr) return -1;
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  record->sourceX = source->left - destX;
  record->sourceY = source->top - destY;
  return TransferImageToGraphTexture(image, alphaImage, handle, source, destX, destY,
                                     settings.noTransparentColor == 0, 0, 0);
}
