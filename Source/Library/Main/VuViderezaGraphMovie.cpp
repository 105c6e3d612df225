// Movie graphics: a graphic made at a movie's frame size and bound to the
// movie handle (its dependent handle, deleted with it), refilled by the
// movie's frame callback: a Theora movie's YUV surface stretch-copied onto
// the texture (the device converts it), or the frame image transferred; the
// refresh every draw of such a graphic runs first, the requests made before
// the device objects are released, and play / pause of a movie graphic.
// Threads: main thread; the load may run on a loading worker (its device
// calls posted to the main thread, the first frame left to the first refresh).
// Platform: Direct3D 9 StretchRect through the device call table.
#include <string.h>

#include "DaDode.h"
#include "MuVevire.h"
#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RiDov.h"
#include "VuViderezaDevice.h"
#include "VuViderezaDeviceLinks.h"
#include "VuViderezaGraph.h"
#include "ZoRevOStrmBaseFilter.h"

namespace {

const char LOG_MOVIE_LOAD_FAILED[] = "右記のグラフィックファイルのロードに失敗しました：%s ";
const char LOG_MOVIE_GRAPH_FAILED[] = "右記のグラフィックファイルの格納用グラフィック領域の作成に失敗しました：%s";

// The movie of a graphic bound to one, or null.
MovieRecord* MovieOfGraphic(const GraphicHandleRecord* g) {
  return g != nullptr && g->dependentHandle != -1 ? GetMovieRecord(g->dependentHandle) : nullptr;
}

// The Theora surface onto level 0 of each of the graphic's textures.
void StretchSurfaceToGraphic(GraphicHandleRecord* g, IDirect3DSurface9* surface) {
  FlushVertexBatch(1);
  GraphImageDescriptor* image = g->image;
  for (int i = 0; i < image->textureCount; i++) {
    GraphTextureEntry& e = image->textures[i];
    if (e.faces[0] == nullptr) continue;
    RECT source = {e.x, e.y, e.x + e.usedWidth, e.y + e.usedHeight};
    RECT dest = {0, 0, e.usedWidth, e.usedHeight};
    StretchDeviceRect(surface, &source, e.faces[0], &dest, D3DTEXF_NONE);
  }
}

// A frame image into the graphic; with right-half alpha the right half of
// the frame is the alpha of the left half.
void TransferFrameToGraphic(GraphicHandleRecord* g, const MovieRecord* m, const BaseImageRecord* frame) {
  if (frame == nullptr || frame->pixels == nullptr) return;
  RECT whole = {0, 0, g->width, g->height};
  if (m->rightHalfAlpha) {
    BaseImageRecord color = *frame, alpha = *frame;
    color.width = alpha.width = g->width;
    alpha.pixels = static_cast<uint8_t*>(frame->pixels) + g->width * frame->format.bytesPerPixel;
    TransferImageToGraphTexture({&color, &alpha, g->header.handle, &whole, 0, 0, 0, 0}, 0);
    return;
  }
  TransferImageToGraphTexture({frame, nullptr, g->header.handle, &whole, 0, 0, 0, 0}, 0);
}

// The frame callback: the current frame into the graphic when it changed.
void UpdateMovieGraphic(MovieRecord* m, uint32_t parameter) {
  GraphicHandleRecord* g = GetGraphicRecord(static_cast<int>(parameter), 0);
  if (g == nullptr || g->image == nullptr) return;
  if (!m->theoraFlag) {
    TransferFrameToGraphic(g, m, m->currentImage);
    return;
  }
  TheoraDecoder* d = m->decoder;
  if (g->image->format.drawable) {
    // A render-target texture takes the surface only; it is made anew when
    // a device reset released it.
    if (FetchTheoraFrame(d, 0, 1, 0) == 1 && d->surfaceCurrent && d->surface != nullptr)
      StretchSurfaceToGraphic(g, d->surface);
    return;
  }
  if (FetchTheoraFrame(d, 1, 0, 0) == 1) TransferFrameToGraphic(g, m, GetTheoraBaseImage(d));
}

}  // namespace

int LoadMovieGraphic(int handle, const char* file, int inJob) {
  MovieLoadSettings movieSettings;
  GetMovieLoadSettings(&movieSettings);
  int width = 0, height = 0;
  const int movie = CreateMovieFromFile(&movieSettings, file, &width, &height, 0, inJob);
  if (movie < 0) {
    LogPrintf(LOG_MOVIE_LOAD_FAILED, file);
    return -1;
  }
  MovieRecord* m = GetMovieRecord(movie);
  const int alpha = (m->useAlpha && !m->theoraFlag && GetMovieFrameFormat(m) == RiDov::MOVIE_FRAME_RGB32) ||
                    m->rightHalfAlpha;
  // Unmanaged, one level; a render target when the device converts the
  // Theora surface into it.
  const int surfacePath = m->theoraFlag && !m->rightHalfAlpha && GetTheoraFrameImage(m->decoder) != nullptr;
  GraphCreateSettings settings;
  GetGraphCreateSettings(&settings);
  settings.notManaged = 1;
  settings.mipCount = 0;
  settings.colorBits = alpha ? 32 : (Screen.colorBits != 0 ? Screen.colorBits : 16);
  settings.drawable = surfacePath;
  settings.drawableAlpha = 0;
  settings.noDepth = 1;
  const int graphWidth = m->rightHalfAlpha ? width / 2 : width;
  if (CreateGraphicFromImageData(&settings, handle, {graphWidth, height, alpha, 0, 0, 1}, inJob) < 0) {
    LogPrintf(LOG_MOVIE_GRAPH_FAILED, file);
    DeleteHandle(movie);
    return -1;
  }
  GraphicHandleRecord* g = GetGraphicRecord(handle, 1);
  g->dependentHandle = movie;
  SetMovieFrameCallback(movie, UpdateMovieGraphic, static_cast<uint32_t>(handle));
  // The frame the open delivered, into the new texture: at once on the main
  // thread, else by the first refresh.
  if (m->theoraFlag) MarkTheoraFrameStale(m->decoder);
  if (!inJob && g->header.asyncLoadCount == 0) UpdateMovieGraphic(m, static_cast<uint32_t>(handle));
  return 0;
}

int RefreshGraphicMovie(int graphic) {
  MovieRecord* m = MovieOfGraphic(GetGraphicRecord(graphic, 0));
  return m != nullptr ? RefreshMovieFrame(m->header.handle, 0) : 0;
}

void RequestMovieGraphicsRefresh() {
  HandleManager& manager = HandleManagers[HANDLETYPE_GRAPH];
  if (!manager.initialized) return;
  for (int slot = manager.lowestSlot; slot <= manager.highestSlot && slot < manager.maxCount; slot++) {
    const GraphicHandleRecord* g = reinterpret_cast<GraphicHandleRecord*>(manager.slots[slot]);
    if (g != nullptr && g->dependentHandle != -1) RequestMovieFrameRefresh(g->dependentHandle);
  }
}

int PlayMovieGraph(int graphic, int playType) {
  MovieRecord* m = MovieOfGraphic(GetGraphicRecord(graphic, 0));
  return m != nullptr ? StartMoviePlayback(m->header.handle, playType, 0) : -1;
}

int PauseMovieGraph(int graphic) {
  MovieRecord* m = MovieOfGraphic(GetGraphicRecord(graphic, 0));
  return m != nullptr ? PauseMoviePlayback(m->header.handle, 0) : -1;
}
