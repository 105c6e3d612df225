// Loading graphics: an image source (a file, image-file bytes, a GDI
// bitmap or base images) decoded into base images, made into one whole
// graphic and cut into tile graphics sharing its textures
// (LoadImageDivided), or into one graphic (LoadImageGraph, movie graphics
// for files no image loader takes); live graphics refilled from a source;
// derived tiles, blank graphics and the settings of library-internal
// graphics. Each road runs at once or as a loading job that works on
// copies of the caller's records.
// Threads: main thread and loading jobs (their device calls posted to the
// main thread). Platform: none directly (the image loaders and the graphic
// creation below it).
#include <string.h>

#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "DaDode.h"
#include "DiDAridIrer.h"
#include "ReReziRader.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaGraph.h"
#include "VuViderezaSoftImage.h"
#include "ZiDezaru.h"

namespace {

const char LOG_DIVIDE_FAILED[] = "グラフィックの分割に失敗しました in CreateDivGraphFromGraphImage";
const char LOG_IMAGE_LOAD_FAILED[] = "画像ファイル %s のロードに失敗しました";
const char LOG_IMAGE_MISSING[] = "画像ファイル %s がありません";

enum { BLANK_JOB_INTS = 4 };  // a blank graphic job's handle, width, height, alpha

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
      const uint32_t color = GetBaseImagePixelARGB8(image, x, y) & 0xffffff;
      for (const int* step : STEPS) {
        const int nx = x + step[0], ny = y + step[1];
        if (nx >= 0 && ny >= 0 && nx < w && ny < h && transparent(nx, ny)) pixels[ny * stride + nx] = color;
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
  if (local.transparentFromTopLeft)
    local.transparentColor = static_cast<int>(GetBaseImagePixelARGB8(image, 0, 0) & 0xffffff);
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
  if (CreateGraphicFromImageData(
          &local, handle, {image->width, image->height, hasAlpha, palette8, image->format.kind, mips}, inJob) < 0)
    return -1;
  RECT whole = {0, 0, image->width, image->height};
  return TransferImageToGraphTexture({image, alpha, handle, &whole, 0, 0, local.noTransparentColor == 0, 0}, inJob);
}

}  // namespace

namespace {

// One load of the single-graphic or the divided road: its one source (a
// file, image-file bytes, a GDI bitmap or base images), what is made of it
// and the switches of the call. Packed whole into a loading job, with
// copies of the records the pointers name.
struct GraphLoadRequest {
  GraphCreateSettings settings;
  int noRestore;     // the restore switch at the call: remember no source
  int reuse;         // refill live handles instead of making new ones
  int handle;        // single road
  int wholeHandle;   // divided road: the whole image while it loads, -1 none
  const char* file;  // full path
  const void* bytes;
  int size;
  const void* alphaBytes;
  int alphaSize;
  const BITMAPINFO* bitmapInfo;
  const void* bitmapBits;
  const BITMAPINFO* alphaBitmapInfo;
  const void* alphaBitmapBits;
  const BaseImageRecord* image;
  const BaseImageRecord* alphaImage;
  int count, across, down, width, height;  // divided road
  int* handles;
  int transparent;
  int mirror;
};

GraphLoadRequest NewRequest(int reuse, int transparent, int mirror) {
  GraphLoadRequest request;
  memset(&request, 0, sizeof request);
  GetGraphCreateSettings(&request.settings);
  request.noRestore = GetGraphRestoreSwitch();
  request.reuse = reuse;
  request.handle = -1;
  request.wholeHandle = -1;
  request.transparent = transparent;
  request.mirror = mirror;
  return request;
}

// The images one load works on.
struct SourceImages {
  BaseImageRecord image, alpha;  // decoded here, or the caller's records
  BaseImageRecord* alphaUsed;    // &alpha when there is an alpha image
  int loadedHere;                // the pixels are ours to free
};

// Frees the colour image and, when it holds pixels, the alpha image.
void ReleaseImagePair(BaseImageRecord* image, BaseImageRecord* alpha) {
  ReleaseBaseImage(image);
  if (alpha->pixels != nullptr) ReleaseBaseImage(alpha);
}

void ReleaseSourceImages(SourceImages* s) {
  if (!s->loadedHere) return;
  ReleaseImagePair(&s->image, &s->alpha);
  s->loadedHere = 0;
}

// A copy of a single-level image's pixels under a record of its own. -1
// when out of memory.
int CopyBaseImage(const BaseImageRecord* from, BaseImageRecord* to) {
  const size_t bytes = static_cast<size_t>(GetBaseImageDataSize(from)) * (from->cubeFlag > 0 ? 6 : 1);
  void* pixels = MEM_ALLOC(bytes);
  if (pixels == nullptr) return -1;
  memcpy(pixels, from->pixels, bytes);
  *to = *from;
  to->pixels = pixels;
  return 0;
}

// Bytes of a bitmap header with the masks or colour table behind it.
int BitmapInfoSize(const BITMAPINFO* info) {
  const BITMAPINFOHEADER& h = info->bmiHeader;
  int colors = static_cast<int>(h.biClrUsed);
  if (colors == 0 && h.biBitCount <= 8) colors = 1 << h.biBitCount;
  if (colors < 0 || colors > 256) colors = 256;
  const int header = h.biSize >= sizeof(BITMAPINFOHEADER) && h.biSize <= 256 ? static_cast<int>(h.biSize)
                                                                             : static_cast<int>(sizeof h);
  return header + (h.biCompression == BI_BITFIELDS && header == static_cast<int>(sizeof h) ? 12 : 0) + colors * 4;
}

// Decodes or takes the request's source. Given images are used as they are,
// or copied when they are to be mirrored (the caller's pixels stay as they
// were). -1 when the source gives no image.
int LoadSourceImages(const GraphLoadRequest* r, SourceImages* s) {
  memset(s, 0, sizeof *s);
  if (r->image != nullptr) {
    const bool alpha = r->alphaImage != nullptr && r->alphaImage->pixels != nullptr;
    if (!r->mirror) {
      s->image = *r->image;
      if (alpha) s->alpha = *r->alphaImage;
    } else {
      if (CopyBaseImage(r->image, &s->image) < 0) return -1;
      if (alpha && CopyBaseImage(r->alphaImage, &s->alpha) < 0) {
        ReleaseBaseImage(&s->image);
        return -1;
      }
      s->loadedHere = 1;
    }
  } else if (r->bitmapInfo != nullptr) {
    if (CreateBaseImageFromDIB(r->bitmapInfo, r->bitmapBits, &s->image, 1) < 0) return -1;
    if (r->alphaBitmapInfo != nullptr && r->alphaBitmapBits != nullptr &&
        CreateBaseImageFromDIB(r->alphaBitmapInfo, r->alphaBitmapBits, &s->alpha, 1) < 0) {
      ReleaseBaseImage(&s->image);
      return -1;
    }
    s->loadedHere = 1;
  } else {
    ImageLoadSettings loadSettings;
    SnapshotImageLoadSettings(&loadSettings);
    const int result = r->file != nullptr
                           ? LoadBaseImagePair(&loadSettings, r->file, nullptr, 0, 0, nullptr, 0, 0, &s->image,
                                               &s->alpha, r->mirror)
                           : LoadBaseImagePair(&loadSettings, nullptr, r->bytes, r->size, 1, r->alphaBytes,
                                               r->alphaSize, r->alphaBytes != nullptr ? 1 : 2, &s->image, &s->alpha,
                                               r->mirror);
    if (result < 0) return -1;
    s->loadedHere = 1;
    if (s->alpha.pixels != nullptr) s->alphaUsed = &s->alpha;
    return 0;
  }
  if (s->alpha.pixels != nullptr) s->alphaUsed = &s->alpha;
  if (r->mirror && (r->image != nullptr || r->bitmapInfo != nullptr)) {
    MirrorBaseImageHorizontally(&s->image);
    if (s->alphaUsed != nullptr) MirrorBaseImageHorizontally(&s->alpha);
  }
  return 0;
}

// Keeps what the graphic was made from for the restore: the file, copies of
// the bytes, or a copy of the images in use (a bitmap's images included).
void RememberRequestSource(const GraphLoadRequest* r, SourceImages* s, int handle) {
  if (r->file != nullptr) RememberGraphicSource(handle, r->file, nullptr, nullptr, r->mirror, -1, r->noRestore);
  else if (r->bytes != nullptr)
    RememberGraphicSourceBytes(handle, r->bytes, r->size, r->alphaBytes, r->alphaSize, r->mirror, r->noRestore);
  else RememberGraphicSource(handle, nullptr, &s->image, s->alphaUsed, r->mirror, -1, r->noRestore);
}

// Packs the request and copies of what its pointers name (the file name,
// the tiles' handles, the bitmap headers, the base-image records; the
// bytes and pixels stay the caller's). A null area measures. -1 when a
// piece does not fit a job.
int PackLoadRequest(void* area, int* offset, const GraphLoadRequest* r) {
  const BaseImageRecord* images[2] = {r->image, r->alphaImage};
  const BITMAPINFO* infos[2] = {r->bitmapInfo, r->alphaBitmapInfo};
  if (PackASyncData(area, offset, r, sizeof *r) < 0 || PackASyncString(area, offset, r->file) < 0) return -1;
  if (PackASyncData(area, offset, r->handles, r->handles != nullptr ? r->count * static_cast<int>(sizeof(int)) : 0) < 0)
    return -1;
  for (const BaseImageRecord* image : images) {
    PackASyncInt(area, offset, image != nullptr ? 1 : 0);
    if (image != nullptr) PackASyncData(area, offset, image, sizeof *image);
  }
  for (const BITMAPINFO* info : infos) {
    PackASyncInt(area, offset, info != nullptr ? 1 : 0);
    if (info != nullptr && PackASyncData(area, offset, info, BitmapInfoSize(info)) < 0) return -1;
  }
  return 0;
}

// What a job's request points at: inside the job's parameters, or here.
struct UnpackedRequest {
  GraphLoadRequest request;
  BaseImageRecord images[2];
};

void UnpackLoadRequest(const void* area, UnpackedRequest* u) {
  int offset = 0;
  GraphLoadRequest& r = u->request;
  memcpy(&r, UnpackASyncData(area, &offset), sizeof r);
  r.file = UnpackASyncString(area, &offset);
  int size = 0;
  const void* handles = UnpackASyncData(area, &offset, &size);
  r.handles = size > 0 ? static_cast<int*>(const_cast<void*>(handles)) : nullptr;
  for (int i = 0; i < 2; i++) {
    const BaseImageRecord* image = nullptr;
    if (UnpackASyncInt(area, &offset)) {
      memcpy(&u->images[i], UnpackASyncData(area, &offset), sizeof u->images[i]);
      image = &u->images[i];
    }
    (i == 0 ? r.image : r.alphaImage) = image;
  }
  for (int i = 0; i < 2; i++) {
    const BITMAPINFO* info = nullptr;
    if (UnpackASyncInt(area, &offset)) info = static_cast<const BITMAPINFO*>(UnpackASyncData(area, &offset));
    (i == 0 ? r.bitmapInfo : r.alphaBitmapInfo) = info;
  }
}

// Queues the request as a job running `function`; every handle named is
// pending until it ends. 0 / -1 (nothing counted).
int QueueLoadRequest(const GraphLoadRequest* r, ASyncJobFunction function, int keyHandle) {
  int size = 0;
  if (PackLoadRequest(nullptr, &size, r) < 0) return -1;
  ASyncJob* job = AllocASyncJob(size);
  if (job == nullptr) return -1;
  int offset = 0;
  PackLoadRequest(job->params, &offset, r);
  job->function = function;
  // The tiles are pending before the job can run; the key handle is
  // counted with the queueing.
  const int tiles = r->handles != nullptr ? r->count : 0;
  for (int i = 0; i < tiles; i++)
    if (r->handles[i] != keyHandle) AddHandleAsyncCount(r->handles[i], -1);
  if (AddASyncJobForHandle(job, keyHandle) < 0) {
    for (int i = 0; i < tiles; i++)
      if (r->handles[i] != keyHandle) SubHandleAsyncCount(r->handles[i]);
    return -1;
  }
  return 0;
}

// Refills live tiles from the image: each tile takes its grid cell (its
// source point), the whole image going once into a descriptor that all of
// them share (each where its cell lies), else each tile its own rectangle.
int RefillDividedGraph(const GraphLoadRequest& r, BaseImageRecord* image, BaseImageRecord* alpha, int inJob) {
  const GraphCreateSettings* settings = &r.settings;
  const int count = r.count, across = r.across, down = r.down, width = r.width, height = r.height;
  const int* handles = r.handles;
  const int mirror = r.mirror;
  RecomputeSpareBitsMask(&image->format);
  if (alpha != nullptr) RecomputeSpareBitsMask(&alpha->format);
  if (image->width < across * width || image->height < down * height) return -1;
  if (alpha != nullptr && (alpha->width != image->width || alpha->height != image->height)) return -1;
  GraphicHandleRecord* first = GetGraphicRecord(handles[0], 1);
  if (first == nullptr || first->image == nullptr) return -1;
  bool shared = true;
  for (int i = 0; i < count; i++) {
    GraphicHandleRecord* record = GetGraphicRecord(handles[i], 1);
    if (record == nullptr || record->image == nullptr) return -1;
    const int column = i % across;
    record->sourceX = (mirror ? across - 1 - column : column) * width;
    record->sourceY = i / across * height;
    // One transfer serves only tiles that sit in the shared image where
    // their cell lies in the new one.
    if (record->image != first->image || record->x != record->sourceX || record->y != record->sourceY) shared = false;
  }
  if (settings->transparentFromTopLeft) {
    const uint32_t key = GetBaseImagePixelARGB8(image, 0, 0) & 0xffffff;
    for (int i = 0; i < count; i++) GetGraphicRecord(handles[i], 1)->image->transparentColor = key;
  }
  const int apply = settings->noTransparentColor == 0;
  if (shared) {
    const RECT whole = {0, 0, image->width, image->height};
    return TransferImageToGraphTexture({image, alpha, handles[0], &whole, 0, 0, apply, 1}, inJob);
  }
  for (int i = 0; i < count; i++) {
    GraphicHandleRecord* record = GetGraphicRecord(handles[i], 1);
    const RECT cell = {record->sourceX, record->sourceY, record->sourceX + record->width,
                       record->sourceY + record->height};
    if (TransferImageToGraphTexture({image, alpha, handles[i], &cell, 0, 0, apply, 0}, inJob) != 0) return -1;
  }
  return 0;
}

// The whole graphic from the image in the request's wholeHandle and the
// tiles cut from it (mirror: columns from the right); with reuse the live
// tiles refilled from the image instead (it must cover the grid). 0 / -1.
int CreateDivGraphFromGraphImage(const GraphLoadRequest& r, BaseImageRecord* image, BaseImageRecord* alphaImage,
                                 int inJob) {
  BaseImageRecord* alpha = alphaImage != nullptr && alphaImage->pixels != nullptr ? alphaImage : nullptr;
  if (r.reuse) return RefillDividedGraph(r, image, alpha, inJob);
  if (CreateGraphFromBaseImages(&r.settings, r.wholeHandle, image, alpha, r.transparent, inJob) < 0) return -1;
  for (int i = 0; i < r.count; i++) {
    const int column = i % r.across, row = i / r.across;
    const int x = (r.mirror ? r.across - 1 - column : column) * r.width;
    if (MakeDerivedTile(r.handles[i], x, row * r.height, r.width, r.height, r.wholeHandle, inJob) < 0) {
      LogPrintf(LOG_DIVIDE_FAILED);
      return -1;
    }
  }
  return 0;
}

// Makes or refills the tiles from the request's source and remembers the
// source on tile 0, the other tiles deriving from it; the caller deletes
// the whole-image handle (and new tiles on failure).
int LoadGraphFromFile(const GraphLoadRequest* r, int inJob) {
  SourceImages s;
  if (LoadSourceImages(r, &s) < 0) {
    if (r->file != nullptr) LogPrintf(LOG_IMAGE_LOAD_FAILED, r->file);
    return -1;
  }
  const int result = CreateDivGraphFromGraphImage(*r, &s.image, s.alphaUsed, inJob);
  if (result == 0) {
    RememberRequestSource(r, &s, r->handles[0]);
    for (int i = 1; i < r->count; i++)
      RememberGraphicSource(r->handles[i], nullptr, nullptr, nullptr, r->mirror, r->handles[0], r->noRestore);
  }
  ReleaseSourceImages(&s);
  return result;
}

// The loading job of divided graphics.
int LoadDividedGraphJob(ASyncJob* job) {
  UnpackedRequest unpacked;
  UnpackLoadRequest(job->params, &unpacked);
  const GraphLoadRequest& r = unpacked.request;
  const int result = LoadGraphFromFile(&r, 1);
  // Pending loads go before any deletion: deleting waits for them.
  if (r.wholeHandle >= 0) SubHandleAsyncCount(r.wholeHandle);
  for (int i = 0; i < r.count; i++) SubHandleAsyncCount(r.handles[i]);
  if (!r.reuse) {
    DeleteGraphicHandle(r.wholeHandle);
    if (result < 0)
      for (int i = 0; i < r.count; i++) DeleteGraphicHandle(r.handles[i]);
  }
  return 0;
}

// The divided road: new tiles (and the whole-image handle they are cut
// from) or live ones refilled, at once or as a loading job. 0 / -1; a
// failure leaves no new handle (the array then holds -1).
int LoadDividedGraphRequest(GraphLoadRequest* r, int async) {
  if (r->handles == nullptr || r->count <= 0 || r->across <= 0 || r->down <= 0 || r->width <= 0 || r->height <= 0)
    return -1;
  WaitWhileInactive();
  r->wholeHandle = -1;
  if (r->reuse) {
    for (int i = 0; i < r->count; i++)
      if (GetGraphicRecord(r->handles[i], 0) == nullptr) return -1;  // not live, or still loading
  } else {
    memset(r->handles, 0xff, r->count * sizeof(int));
    for (int i = 0; i < r->count; i++) {
      r->handles[i] = AllocGraphicHandle();
      if (r->handles[i] < 0) {
        for (int k = 0; k < i; k++) DeleteGraphicHandle(r->handles[k]);
        memset(r->handles, 0xff, r->count * sizeof(int));
        return -1;
      }
    }
    r->wholeHandle = AllocGraphicHandle();
  }
  int result = -1;
  if (r->reuse || r->wholeHandle >= 0) {
    if (async) {
      result = QueueLoadRequest(r, LoadDividedGraphJob, r->reuse ? r->handles[0] : r->wholeHandle);
      if (result == 0) return 0;
    } else {
      result = LoadGraphFromFile(r, 0);
    }
  }
  if (!r->reuse) {
    DeleteGraphicHandle(r->wholeHandle);
    if (result < 0) {
      for (int i = 0; i < r->count; i++) DeleteGraphicHandle(r->handles[i]);
      memset(r->handles, 0xff, r->count * sizeof(int));
    }
  }
  return result;
}

// A request for the tiles of the grid.
GraphLoadRequest DividedRequest(int reuse, const TileGrid& grid, int* handles, int transparent, int mirror) {
  GraphLoadRequest request = NewRequest(reuse, transparent, mirror);
  request.count = grid.count;
  request.across = grid.across;
  request.down = grid.down;
  request.width = grid.width;
  request.height = grid.height;
  request.handles = handles;
  return request;
}

}  // namespace

int LoadDividedGraph(const char* file, const TileGrid& grid, int* handles, int transparent, int mirror) {
  if (file == nullptr) return -1;
  char path[MAX_PATH];
  FullPath(file, path);
  GraphLoadRequest request = DividedRequest(0, grid, handles, transparent, mirror);
  request.file = path;
  return LoadDividedGraphRequest(&request, IsASyncLoadEnabled());
}

int LoadImageDivided(const char* file, int count, int across, int down, int tileWidth, int tileHeight, int* handles,
                     int transparent) {
  return LoadDividedGraph(file, {count, across, down, tileWidth, tileHeight}, handles, !transparent, 0);
}

int ReloadImageDivided(const char* file, int count, int across, int down, int tileWidth, int tileHeight,
                       const int* handles, int transparent) {
  if (file == nullptr) return -1;
  char path[MAX_PATH];
  FullPath(file, path);
  GraphLoadRequest request = DividedRequest(1, {count, across, down, tileWidth, tileHeight}, const_cast<int*>(handles),
                                            !transparent, 0);
  request.file = path;
  return LoadDividedGraphRequest(&request, IsASyncLoadEnabled());
}

int LoadImageDividedFromMemory(const void* bytes, int size, int count, int across, int down, int tileWidth,
                               int tileHeight, int* handles, int transparent) {
  if (bytes == nullptr || size <= 0) return -1;
  GraphLoadRequest request = DividedRequest(0, {count, across, down, tileWidth, tileHeight}, handles, !transparent, 0);
  request.bytes = bytes;
  request.size = size;
  return LoadDividedGraphRequest(&request, IsASyncLoadEnabled());
}

int LoadImageDividedFromBitmap(const BITMAPINFO* info, const void* bits, int count, int across, int down, int tileWidth,
                               int tileHeight, int* handles, int transparent) {
  if (info == nullptr || bits == nullptr) return -1;
  GraphLoadRequest request = DividedRequest(0, {count, across, down, tileWidth, tileHeight}, handles, !transparent, 0);
  request.bitmapInfo = info;
  request.bitmapBits = bits;
  return LoadDividedGraphRequest(&request, IsASyncLoadEnabled());
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

// The job of an asynchronous blank graphic: settings, handle, size, alpha.
int CreateBlankGraphJob(ASyncJob* job) {
  int offset = 0;
  GraphCreateSettings settings;
  memcpy(&settings, UnpackASyncData(job->params, &offset), sizeof settings);
  const int handle = UnpackASyncInt(job->params, &offset);
  const int width = UnpackASyncInt(job->params, &offset);
  const int height = UnpackASyncInt(job->params, &offset);
  const int alpha = UnpackASyncInt(job->params, &offset);
  // The pending load goes first: a failed creation deletes the handle,
  // which must not wait for this very job.
  SubHandleAsyncCount(handle);
  CreateGraphicFromImageData(&settings, handle, {width, height, alpha, 0, 0, -1}, 1);
  return 0;
}

}  // namespace

int CreateBlankGraphHandle(const GraphCreateSettings* settings, int width, int height, [[maybe_unused]] int flag,
                           int async, int inJob) {
  if (settings == nullptr || width <= 0 || height <= 0) return -1;
  if (!inJob) WaitWhileInactive();
  const int handle = AllocGraphicHandle();
  if (handle < 0) return -1;
  if (async && !inJob) {
    int size = 0;
    PackASyncData(nullptr, &size, settings, sizeof *settings);
    for (int i = 0; i < BLANK_JOB_INTS; i++) PackASyncInt(nullptr, &size, 0);
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
    PackASyncInt(job->params, &offset, settings->alpha);
    job->function = CreateBlankGraphJob;
    if (AddASyncJobForHandle(job, handle) < 0) {
      DeleteHandle(handle);
      return -1;
    }
    return handle;
  }
  // On failure the creation deletes the handle itself.
  if (CreateGraphicFromImageData(settings, handle, {width, height, settings->alpha, 0, 0, -1}, inJob) < 0) return -1;
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
// The single-graphic road: one graphic from a file, image bytes, a GDI
// bitmap or base images, new or refilled, at once or as a loading job.

namespace {

const char LOG_GRAPHIC_FILE_FAILED[] = "右記のグラフィックファイルのロードに失敗しました：%s ";

int LoadSingleGraphFromRequest(const GraphLoadRequest* r, int inJob) {
  SourceImages s;
  if (LoadSourceImages(r, &s) < 0) {
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
  int result;
  if (r->reuse) {
    GraphicHandleRecord* record = GetGraphicRecord(r->handle, 1);
    if (record == nullptr || record->image == nullptr || record->width != s.image.width ||
        record->height != s.image.height) {
      result = -1;
    } else {
      record->sourceX = record->sourceY = 0;
      const RECT whole = {0, 0, s.image.width, s.image.height};
      result = TransferImageToGraphTexture(
          {&s.image, s.alphaUsed, r->handle, &whole, 0, 0, r->settings.noTransparentColor == 0, 0}, inJob);
    }
  } else {
    result = CreateGraphFromBaseImages(&r->settings, r->handle, &s.image, s.alphaUsed, r->transparent, inJob);
  }
  if (result == 0) RememberRequestSource(r, &s, r->handle);
  ReleaseSourceImages(&s);
  return result;
}

int LoadSingleGraphJob(ASyncJob* job) {
  UnpackedRequest unpacked;
  UnpackLoadRequest(job->params, &unpacked);
  const GraphLoadRequest& r = unpacked.request;
  const int result = LoadSingleGraphFromRequest(&r, 1);
  // The pending load goes first: deleting waits for it.
  SubHandleAsyncCount(r.handle);
  if (result < 0 && !r.reuse && GetGraphicRecord(r.handle, 1) != nullptr) DeleteGraphicHandle(r.handle);
  return 0;
}

// The new handle, 0 after a refill, or -1.
int LoadGraphRequest(GraphLoadRequest* r, int async, int inJob) {
  if (!inJob) WaitWhileInactive();
  if (r->reuse) {
    if (GetGraphicRecord(r->handle, 0) == nullptr) return -1;  // not live, or still loading
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
  if (QueueLoadRequest(r, LoadSingleGraphJob, r->handle) == 0) return r->reuse ? 0 : r->handle;
  if (!r->reuse) DeleteGraphicHandle(r->handle);
  return -1;
}

GraphLoadRequest SingleRequest(const GraphCreateTarget& target) {
  GraphLoadRequest request = NewRequest(target.reuse, target.transparent, target.mirror);
  if (target.settings != nullptr) request.settings = *target.settings;
  request.handle = target.handle;
  return request;
}

}  // namespace

int CreateGraphFromMemoryWithSettings(const GraphCreateTarget& target, const void* bytes, int size,
                                      const void* alphaBytes, int alphaSize) {
  if (target.settings == nullptr || bytes == nullptr || size <= 0) return -1;
  GraphLoadRequest request = SingleRequest(target);
  request.bytes = bytes;
  request.size = size;
  request.alphaBytes = alphaBytes;
  request.alphaSize = alphaBytes != nullptr ? alphaSize : 0;
  return LoadGraphRequest(&request, target.async, 0);
}

int CreateGraphFromBitmapWithSettings(const GraphCreateTarget& target, const BITMAPINFO* info, const void* bits,
                                      const BITMAPINFO* alphaInfo, const void* alphaBits) {
  if (target.settings == nullptr || info == nullptr || bits == nullptr) return -1;
  GraphLoadRequest request = SingleRequest(target);
  request.bitmapInfo = info;
  request.bitmapBits = bits;
  if (alphaInfo != nullptr && alphaBits != nullptr) {
    request.alphaBitmapInfo = alphaInfo;
    request.alphaBitmapBits = alphaBits;
  }
  return LoadGraphRequest(&request, target.async, 0);
}

int CreateGraphFromBaseImageWithSettings(const GraphCreateTarget& target, const BaseImageRecord* image,
                                         const BaseImageRecord* alphaImage, int inJob) {
  if (target.settings == nullptr || image == nullptr || image->pixels == nullptr) return -1;
  GraphLoadRequest request = SingleRequest(target);
  request.image = image;
  request.alphaImage = alphaImage;
  return LoadGraphRequest(&request, target.async, inJob);
}

int MakeGraphFromBaseImages(const BaseImageRecord* image, const BaseImageRecord* alphaImage, int transparent) {
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  return CreateGraphFromBaseImageWithSettings({&settings, 0, -1, transparent, 0, 0}, image, alphaImage, 0);
}

int LoadImageGraph(const char* file) {
  if (file == nullptr) return -1;
  char path[MAX_PATH];
  FullPath(file, path);
  GraphLoadRequest request = SingleRequest({nullptr, 0, -1, 0, 0, 0});
  request.file = path;
  return LoadGraphRequest(&request, IsASyncLoadEnabled(), 0);
}

int MakeGraphFromMemory(const void* bytes, int size, const void* alphaBytes, int alphaSize, int transparent) {
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  return CreateGraphFromMemoryWithSettings({&settings, 0, -1, !transparent, 0, IsASyncLoadEnabled()}, bytes, size,
                                           alphaBytes, alphaSize);
}

int ReloadGraphFromMemory(int graphic, const void* bytes, int size, const void* alphaBytes, int alphaSize,
                          int transparent) {
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  return CreateGraphFromMemoryWithSettings({&settings, 1, graphic, !transparent, 0, IsASyncLoadEnabled()}, bytes, size,
                                           alphaBytes, alphaSize);
}

int MakeGraphFromBitmap(const BITMAPINFO* info, const void* bits, const BITMAPINFO* alphaInfo, const void* alphaBits,
                        int transparent) {
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  return CreateGraphFromBitmapWithSettings({&settings, 0, -1, !transparent, 0, IsASyncLoadEnabled()}, info, bits,
                                           alphaInfo, alphaBits);
}

int ReloadGraphFromBitmap(int graphic, const BITMAPINFO* info, const void* bits, const BITMAPINFO* alphaInfo,
                          const void* alphaBits, int transparent) {
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  return CreateGraphFromBitmapWithSettings({&settings, 1, graphic, !transparent, 0, IsASyncLoadEnabled()}, info, bits,
                                           alphaInfo, alphaBits);
}

int MakeGraphFromSoftImage(int softImage, int transparent) {
  const BaseImageRecord* image = GetSoftImageBaseImage(softImage);
  if (image == nullptr) return -1;
  return MakeGraphFromBaseImages(image, nullptr, !transparent);
}

int CreateGraphicFromBaseImage(const BaseImageRecord* image, const BaseImageRecord* alphaImage, int handle, int destX,
                               int destY) {
  GraphicHandleRecord* record = GetGraphicRecord(handle, 0);
  if (record == nullptr || image == nullptr) return -1;
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  const RECT whole = {0, 0, image->width, image->height};
  if (TransferImageToGraphTexture(
          {image, alphaImage, handle, &whole, destX, destY, settings.noTransparentColor == 0, 0}, 0) != 0)
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
  return TransferImageToGraphTexture(
      {image, alphaImage, handle, source, destX, destY, settings.noTransparentColor == 0, 0}, 0);
}
