// Ogg Theora decoder of the movies: opening (header read, whole-file index of
// data frames, time frames, key frames and pages), the decode thread with its
// stock of decoded frames, delivery of the wanted frame's picture rectangle
// as a 32-bit XRGB8 image or into a Direct3D YUV surface (YV12, YUY2 or
// UYVY), seeking, stepping and information.
// Threads and locks: one decode thread and one lock per decoder; the lock
// guards the thread state, the requests, the wanted frame and the stock
// entries' used / frame / in-use fields; decoding, plane copies and colour
// conversion run outside it. An entry a consumer converts is marked in use
// and the thread neither frees nor refills it meanwhile.
// The surface is made, locked and released on the main thread (posted there
// from a loading worker).
// Platform: CreateThread, Sleep, CloseHandle; libogg and libtheora (legacy
// interface) for the framing and decoding; Direct3D 9 offscreen plain
// surfaces through the device call table.
#include "MuVevire.h"

#include <string.h>

#include "RaRadaraLog.h"
#include "VuViderezaDevice.h"
#include "ZiDezaru.h"

namespace {

const char LOG_NO_MEMORY[] = "Theora ムービーデコード処理用のメモリ確保に失敗しました";
const char LOG_NO_THREAD[] = "Theora ムービーデコード用スレッドの作成に失敗しました";
const char LOG_NO_PAGES[] = "Theora ページ情報格納用メモリの確保に失敗しました";
const char LOG_NO_KEYS[] = "Theora キーフレーム情報格納用メモリの確保に失敗しました";
const char LOG_NO_TIMEMAP[] = "Theora タイムフレームとデータフレーム対応情報格納用メモリの確保に失敗しました";
const char LOG_NO_IMAGE[] = "Theora ムービーデコードフレームストック用画像バッファの確保に失敗しました";
const char LOG_NO_STOCK[] = "Theora ムービーデコードフレームストック用のメモリ確保に失敗しました";
const char LOG_NO_FRAMES[] = "Theora ムービーにフレームがありません";
const char LOG_INDEX_FAILED[] = "Theora ムービーのインデックス作成中にメモリが不足しました";
const char LOG_PLANE_FAILED[] = "Theora ムービーデコードフレームのプレーン用メモリ確保に失敗しました";
const char LOG_BAD_PICTURE[] = "Theora ムービーの画像サイズが不正です";
const char LOG_FETCH_TIMEOUT[] = "Theora ムービーフレームの待ち時間が限度を超えました";

enum {
  STOCK_FULL_IDLE_MS = 200,
  FETCH_WAIT_LIMIT_MS = 10000,
  SURFACE_TRIES = 3,
  FOURCC_YV12 = 0x32315659,
  FOURCC_YUY2 = 0x32595559,
  FOURCC_UYVY = 0x59565955,
};

// Surface formats in the order they are tried.
const uint32_t SurfaceFormats[3] = {FOURCC_YV12, FOURCC_YUY2, FOURCC_UYVY};

// Conversion tables in units of 1/16384.
uint8_t ClampTable[1280];  // index v + 512
int RedFromV[256], GreenFromU[256], GreenFromV[256], BlueFromU[256], LumaTable[256];

inline void Lock(TheoraDecoder* d) { ENTER_LOCK(&d->lock); }
inline void Unlock(TheoraDecoder* d) { LeaveLock(&d->lock); }

// Grows a table by THEORA_TABLE_STEP entries when `count` reached `capacity`.
template <typename T>
int GrowTable(T** table, int64_t count, int64_t* capacity) {
  if (count < *capacity) return 0;
  void* grown = MEM_REALLOC(*table, static_cast<size_t>((*capacity + THEORA_TABLE_STEP) * sizeof(T)));
  if (grown == nullptr) return -1;
  *table = static_cast<T*>(grown);
  *capacity += THEORA_TABLE_STEP;
  return 0;
}

// Takes the next packet of the Theora stream; 0 at the end of the file.
int NextPacket(TheoraDecoder* d) {
  while (ogg_stream_packetout(&d->streamState, &d->packet) != 1) {
    if (ogg_sync_pageout(&d->sync, &d->page) > 0) {
      ogg_stream_pagein(&d->streamState, &d->page);
    } else if (d->files.Eof(d->stream) != 0 || ReadTheoraData(d, THEORA_READ_SIZE) == 0) {
      return 0;
    }
  }
  return 1;
}

// Back to the start of the stream; the decoder then holds no picture.
void RestartStream(TheoraDecoder* d) {
  ogg_sync_reset(&d->sync);
  ogg_stream_reset(&d->streamState);
  d->files.Seek(d->stream, d->pages[0].offset, FILE_STREAM_SEEK_SET);
  d->decoderFrame = -1;
  InterlockedIncrement(&d->restarts);
}

// Builds the index; -1 when a table cannot grow.
int IndexTheoraFile(TheoraDecoder* d) {
  int64_t offset = 0, pageOffset = 0;
  bool newPage = false;
  int64_t t = 0;
  int64_t pageCap = d->pageCapacity, mapCap = d->timeMapCapacity;
  for (;;) {
    while (ogg_stream_packetout(&d->streamState, &d->packet) != 1) {
      if (ogg_sync_pageout(&d->sync, &d->page) > 0) {
        pageOffset = offset;
        offset += d->page.header_len + d->page.body_len;
        newPage = true;
        ogg_stream_pagein(&d->streamState, &d->page);
      } else if (ReadTheoraData(d, THEORA_READ_SIZE) == 0) {
        d->pageCapacity = static_cast<int>(pageCap);
        d->timeMapCapacity = static_cast<int>(mapCap);
        return 0;
      }
    }
    int key = theora_packet_iskeyframe(&d->packet);
    if (key < 0) continue;
    // The exact frame number of the granule position, so that an N-frame
    // clip has N time frames.
    // A granule beyond what the packets read so far could reach is not
    // followed: the index stays bounded by the file.
    if (d->packet.granulepos >= 0) {
      const int64_t g = theora_granule_frame(&d->state, d->packet.granulepos);
      if (g >= 0 && g <= d->dataFrameCount + THEORA_GRANULE_GAP_LIMIT) t = g;
    }
    if (newPage) {
      if (GrowTable(&d->pages, d->pageCount, &pageCap) != 0) return -1;
      d->pages[d->pageCount].offset = static_cast<int>(pageOffset);
      d->pages[d->pageCount].firstFrame = static_cast<int>(d->dataFrameCount);
      d->pages[d->pageCount].frameCount = 0;
      d->pageCount++;
      newPage = false;
    }
    if (GrowTable(&d->keyFlags, d->dataFrameCount, &d->keyCapacity) != 0) return -1;
    d->keyFlags[d->dataFrameCount] = key == 1 ? 1 : 0;
    for (; d->timeFrameCount <= t; d->timeFrameCount++) {
      if (GrowTable(&d->timeMap, d->timeFrameCount, &mapCap) != 0) return -1;
      d->timeMap[d->timeFrameCount] = static_cast<uint32_t>(d->dataFrameCount);
    }
    t++;
    d->dataFrameCount++;
    if (d->pageCount > 0) d->pages[d->pageCount - 1].frameCount++;
  }
}

void FreeStock(TheoraDecoder* d) {
  if (d->stock == nullptr) return;
  for (int i = 0; i < d->stockSize; i++) {
    if (d->stock[i].yCopy != nullptr) MemFree(d->stock[i].yCopy);
    if (d->stock[i].uCopy != nullptr) MemFree(d->stock[i].uCopy);
    if (d->stock[i].vCopy != nullptr) MemFree(d->stock[i].vCopy);
  }
  MemFree(d->stock);
  d->stock = nullptr;
}

// Copies the decoder's picture into a free entry; -1 when a plane cannot be allocated.
int StorePicture(TheoraDecoder* d, TheoraStockFrame* e) {
  yuv_buffer yuv;
  memset(&yuv, 0, sizeof(yuv));
  theora_decode_YUVout(&d->state, &yuv);
  if (e->yWidth != yuv.y_width || e->yHeight != yuv.y_height || e->yStride != yuv.y_stride) {
    if (e->yCopy != nullptr) MemFree(e->yCopy);
    e->yCopy = nullptr;
  }
  if (e->uvWidth != yuv.uv_width || e->uvHeight != yuv.uv_height || e->uvStride != yuv.uv_stride) {
    if (e->uCopy != nullptr) MemFree(e->uCopy);
    if (e->vCopy != nullptr) MemFree(e->vCopy);
    e->uCopy = e->vCopy = nullptr;
  }
  e->yWidth = yuv.y_width;
  e->yHeight = yuv.y_height;
  e->yStride = yuv.y_stride;
  e->uvWidth = yuv.uv_width;
  e->uvHeight = yuv.uv_height;
  e->uvStride = yuv.uv_stride;
  // Strides may be negative (rows bottom-up in memory): copy row by row, top first.
  int yRow = yuv.y_stride < 0 ? -yuv.y_stride : yuv.y_stride;
  int uvRow = yuv.uv_stride < 0 ? -yuv.uv_stride : yuv.uv_stride;
  if (e->yCopy == nullptr) e->yCopy = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(yRow) * e->yHeight));
  if (e->uCopy == nullptr) e->uCopy = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(uvRow) * e->uvHeight));
  if (e->vCopy == nullptr) e->vCopy = static_cast<unsigned char*>(MEM_ALLOC(static_cast<size_t>(uvRow) * e->uvHeight));
  if (e->yCopy == nullptr || e->uCopy == nullptr || e->vCopy == nullptr) return -1;
  e->yStride = yRow;
  e->uvStride = uvRow;
  for (int y = 0; y < e->yHeight; y++)
    memcpy(e->yCopy + static_cast<size_t>(y) * yRow, yuv.y + static_cast<intptr_t>(y) * yuv.y_stride, yRow);
  for (int y = 0; y < e->uvHeight; y++) {
    memcpy(e->uCopy + static_cast<size_t>(y) * uvRow, yuv.u + static_cast<intptr_t>(y) * yuv.uv_stride, uvRow);
    memcpy(e->vCopy + static_cast<size_t>(y) * uvRow, yuv.v + static_cast<intptr_t>(y) * yuv.uv_stride, uvRow);
  }
  return 0;
}

TheoraStockFrame* FindEntry(TheoraDecoder* d, int frame) {
  for (int i = 0; i < d->stockSize; i++)
    if (d->stock[i].used && d->stock[i].frame == frame) return &d->stock[i];
  return nullptr;
}

// Distance of frame f after the wanted frame w on the movie's loop.
inline int64_t LoopDistance(int64_t f, int64_t w, int64_t count) {
  int64_t k = f - w;
  return k < 0 ? k + count : k;
}

// One upkeep pass, the lock held on entry and exit.
void StockUpkeep(TheoraDecoder* d) {
  const int64_t count = d->dataFrameCount;
  const int64_t w = d->wantedFrame < 0 ? 0 : d->wantedFrame;
  const int64_t window = d->stockSize < count ? d->stockSize : count;
  // Keep the frames of the window [W, W + N) on the loop, whatever
  // direction the wanted frame moved; the rest is stale.
  if (!d->endOfData) {
    for (int i = 0; i < d->stockSize; i++) {
      TheoraStockFrame* e = &d->stock[i];
      if (e->used && !e->inUse && LoopDistance(e->frame, w, count) >= window) e->used = 0;
    }
  }
  TheoraStockFrame* slot = nullptr;
  for (int i = 0; i < d->stockSize && slot == nullptr; i++)
    if (!d->stock[i].used && !d->stock[i].inUse) slot = &d->stock[i];
  int64_t target = -1;
  if (slot != nullptr && !d->endOfData) {
    for (int64_t k = 0; k < window; k++) {
      int64_t f = (w + k) % count;
      if (FindEntry(d, static_cast<int>(f)) == nullptr) {
        target = f;
        break;
      }
    }
  }
  if (target < 0) {
    if (d->threadState != THEORA_THREAD_FULL) {
      d->threadState = THEORA_THREAD_FULL;
      d->stockFullTime = static_cast<unsigned int>(GetMillisecondCount());
    }
    return;
  }
  d->threadState = THEORA_THREAD_FILLING;
  int p = d->decoderFrame;
  if (target != p) {
    Unlock(d);
    int r;
    if (target > p) {
      r = DecodeTheoraFrames(d, static_cast<int>(target - p));
    } else {
      RestartStream(d);
      r = DecodeTheoraFrames(d, static_cast<int>(target + 1));
    }
    Lock(d);
    if (r < 0) {
      d->endOfData = 1;
      Unlock(d);
      Sleep(1);
      Lock(d);
      return;
    }
  }
  Unlock(d);
  int stored = StorePicture(d, slot);
  Lock(d);
  if (stored != 0) {
    LogPrintf(LOG_PLANE_FAILED);
    d->endOfData = 1;
    return;
  }
  slot->frame = d->decoderFrame;
  slot->used = 1;
}

DWORD WINAPI TheoraDecodeThreadEntry(LPVOID parameter) {
  TheoraDecoder* d = static_cast<TheoraDecoder*>(parameter);
  Lock(d);
  while (d->stopRequest != 1) {
    if (d->holdRequest == 1) {
      d->threadState = THEORA_THREAD_HELD;
      Unlock(d);
      Sleep(1);
      Lock(d);
      continue;
    }
    if (d->seekRequest == 1) {
      d->threadState = THEORA_THREAD_SEEKING;
      int target = d->seekTarget;
      Unlock(d);
      if (target >= d->dataFrameCount || target < 0) {
        Lock(d);
        break;
      }
      RestartStream(d);
      int r = DecodeTheoraFrames(d, target + 1);
      Lock(d);
      for (int i = 0; i < d->stockSize; i++)
        if (!d->stock[i].inUse) d->stock[i].used = 0;
      d->seekRequest = 0;
      d->endOfData = r < 0 ? 1 : 0;
      continue;
    }
    StockUpkeep(d);
    int idle = d->threadState == THEORA_THREAD_FULL &&
               static_cast<unsigned int>(GetMillisecondCount()) - d->stockFullTime > STOCK_FULL_IDLE_MS;
    if (d->endOfData) idle = 1;
    Unlock(d);
    Sleep(idle ? 1 : 0);
    Lock(d);
  }
  d->threadState = THEORA_THREAD_ENDED;
  Unlock(d);
  return 0;
}

void ConvertPixel(uint8_t* out, int l, int r, int g, int b) {
  out[0] = ClampTable[(l + b) / 16384 + 512];
  out[1] = ClampTable[(l + g) / 16384 + 512];
  out[2] = ClampTable[(l + r) / 16384 + 512];
  out[3] = 255;
}

inline uint8_t LimitByte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// The surface covers the picture rectangle, rounded up to even sides.
int SurfaceWidth(const TheoraDecoder* d) { return (static_cast<int>(d->info.frame_width) + 1) & ~1; }
int SurfaceHeight(const TheoraDecoder* d) { return (static_cast<int>(d->info.frame_height) + 1) & ~1; }

inline int Below(int v, int limit) { return v < limit ? v : limit - 1; }

// count bytes of a plane row from column `from`, the last column repeated
// past the plane's width.
void CopyRowClamped(uint8_t* out, const uint8_t* row, int from, int count, int width) {
  if (from + count <= width) {
    memcpy(out, row + from, count);
    return;
  }
  for (int k = 0; k < count; k++) out[k] = row[Below(from + k, width)];
}

// The entry's picture rectangle into the locked surface in its format.
// Only 4:2:0 planes are copied; chroma sample (i, j) of the surface is the
// plane's sample (offset / 2 + i, offset / 2 + j).
void CopyPlanesToSurface(const TheoraDecoder* d, const TheoraStockFrame* f, uint8_t* bits, int pitch) {
  if (f->yWidth != 2 * f->uvWidth || f->yHeight != 2 * f->uvHeight) return;
  const int ox = static_cast<int>(d->info.offset_x), oy = static_cast<int>(d->info.offset_y);
  const int w = SurfaceWidth(d), h = SurfaceHeight(d);
  const int cx = ox >> 1, cy = oy >> 1;
  auto yRow = [f](int y) { return f->yCopy + static_cast<size_t>(Below(y, f->yHeight)) * f->yStride; };
  auto uRow = [f](int y) { return f->uCopy + static_cast<size_t>(Below(y, f->uvHeight)) * f->uvStride; };
  auto vRow = [f](int y) { return f->vCopy + static_cast<size_t>(Below(y, f->uvHeight)) * f->uvStride; };
  if (d->surfaceFormat == FOURCC_YV12) {
    const int half = pitch / 2;
    uint8_t* vPlane = bits + static_cast<size_t>(h) * pitch;
    uint8_t* uPlane = vPlane + static_cast<size_t>(h / 2) * half;
    for (int y = 0; y < h; y++) CopyRowClamped(bits + static_cast<size_t>(y) * pitch, yRow(oy + y), ox, w, f->yWidth);
    for (int j = 0; j < h / 2; j++) {
      CopyRowClamped(vPlane + static_cast<size_t>(j) * half, vRow(cy + j), cx, w / 2, f->uvWidth);
      CopyRowClamped(uPlane + static_cast<size_t>(j) * half, uRow(cy + j), cx, w / 2, f->uvWidth);
    }
    return;
  }
  // Packed: two rows of two pixels share one chroma pair.
  const bool uyvy = d->surfaceFormat == FOURCC_UYVY;
  for (int j = 0; j < h / 2; j++) {
    const uint8_t* upper = yRow(oy + 2 * j);
    const uint8_t* lower = yRow(oy + 2 * j + 1);
    const uint8_t* u = uRow(cy + j);
    const uint8_t* v = vRow(cy + j);
    uint8_t* out0 = bits + static_cast<size_t>(2 * j) * pitch;
    uint8_t* out1 = out0 + pitch;
    for (int i = 0; i < w / 2; i++) {
      const int x0 = Below(ox + 2 * i, f->yWidth), x1 = Below(ox + 2 * i + 1, f->yWidth);
      const uint8_t cu = u[Below(cx + i, f->uvWidth)], cv = v[Below(cx + i, f->uvWidth)];
      uint8_t* a = out0 + 4 * i;
      uint8_t* b = out1 + 4 * i;
      if (uyvy) {
        a[0] = cu, a[1] = upper[x0], a[2] = cv, a[3] = upper[x1];
        b[0] = cu, b[1] = lower[x0], b[2] = cv, b[3] = lower[x1];
      } else {
        a[0] = upper[x0], a[1] = cu, a[2] = upper[x1], a[3] = cv;
        b[0] = lower[x0], b[1] = cu, b[2] = lower[x1], b[3] = cv;
      }
    }
  }
}

// Locks the surface (re-created when asked or when a lock fails, up to three
// tries) and copies the entry into it; true when it was written.
bool DeliverToSurface(TheoraDecoder* d, const TheoraStockFrame* entry, int asyncFlag) {
  for (int attempt = 0; attempt < SURFACE_TRIES; attempt++) {
    if (d->surface != nullptr && d->surfaceRecreate == 0) {
      D3DLOCKED_RECT locked;
      if (LockSurfaceRectOnMainThread(d->surface, &locked, nullptr, 0, asyncFlag) == D3D_OK) {
        CopyPlanesToSurface(d, entry, static_cast<uint8_t*>(locked.pBits), locked.Pitch);
        UnlockSurfaceRectOnMainThread(d->surface, asyncFlag);
        return true;
      }
    }
    CreateTheoraSurface(d, asyncFlag);
  }
  return false;
}

}  // namespace

int ReadTheoraData(TheoraDecoder* d, int size) {
  char* buffer = ogg_sync_buffer(&d->sync, size);
  size_t got = d->files.Read(buffer, 1, static_cast<size_t>(size), d->stream);
  ogg_sync_wrote(&d->sync, static_cast<long>(got));
  return static_cast<int>(got);
}

int ReadTheoraHeaders(TheoraDecoder* d) {
  // Find the Theora stream among the beginning-of-stream pages.
  bool found = false;
  while (!found) {
    if (ReadTheoraData(d, THEORA_READ_SIZE) == 0) return -1;
    bool bosDone = false;
    while (!found && !bosDone && ogg_sync_pageout(&d->sync, &d->page) == 1) {
      if (ogg_page_bos(&d->page) == 0) {
        bosDone = true;  // past the beginning-of-stream pages without a Theora stream
        break;
      }
      ogg_stream_state test;
      ogg_stream_init(&test, ogg_page_serialno(&d->page));
      ogg_stream_pagein(&test, &d->page);
      if (ogg_stream_packetout(&test, &d->packet) == 1 &&
          theora_decode_header(&d->info, &d->comment, &d->packet) == 0) {
        d->streamState = test;
        d->streamStateReady = 1;
        d->headerCount = 1;
        found = true;
      } else {
        ogg_stream_clear(&test);
      }
    }
    if (bosDone && !found) return -1;
  }
  while (d->headerCount < 3) {
    int r;
    while (d->headerCount < 3 && (r = ogg_stream_packetout(&d->streamState, &d->packet)) != 0) {
      if (r < 0) return -1;
      if (theora_decode_header(&d->info, &d->comment, &d->packet) != 0) return -1;
      d->headerCount++;
    }
    if (d->headerCount >= 3) break;
    if (ogg_sync_pageout(&d->sync, &d->page) > 0) {
      ogg_stream_pagein(&d->streamState, &d->page);
    } else if (ReadTheoraData(d, THEORA_READ_SIZE) == 0) {
      return -1;  // end of file while searching for the codec headers
    }
  }
  return 1;
}

int DecodeTheoraFrames(TheoraDecoder* d, int count) {
  InterlockedIncrement(&d->decodeCalls);
  if (count > d->longestDecode) d->longestDecode = count;
  const int p = d->decoderFrame;
  // The last key frame among the packets this call handles (P + 1 .. P + n):
  // the packets before it are not decoded, the key frame replaces their picture.
  int64_t lastKey = -1;
  for (int k = 1; k <= count; k++) {
    int64_t f = static_cast<int64_t>(p) + k;
    if (f >= 0 && f < d->dataFrameCount && d->keyFlags[f] == 1) lastKey = f;
  }
  int key = 0;
  for (int k = 1; k <= count;) {
    if (NextPacket(d) == 0) return -1;
    key = theora_packet_iskeyframe(&d->packet);
    if (key < 0) continue;  // header packets at the start of the stream
    int64_t frame = static_cast<int64_t>(p) + k;
    if (lastKey < 0 || frame >= lastKey) {
      if (d->packet.granulepos >= 0) {
        ogg_int64_t gp = d->packet.granulepos;
        theora_control(&d->state, TH_DECCTL_SET_GRANPOS, &gp, sizeof(gp));
      }
      theora_decode_packetin(&d->state, &d->packet);
    }
    d->decoderFrame = static_cast<int>(frame);
    k++;
  }
  return key == 1 ? 1 : 0;
}

namespace {
// The page, key and time tables, the frame image and the stock of a new
// decoder, under its lock. -1 (logged) when one cannot be made.
int PrepareTheoraTables(TheoraDecoder* d, int stockSize, int asyncFlag) {
  d->pages = static_cast<TheoraPageEntry*>(MEM_ALLOC(sizeof(TheoraPageEntry) * THEORA_TABLE_STEP));
  if (d->pages == nullptr) {
    LogPrintf(LOG_NO_PAGES);
    return -1;
  }
  d->pageCapacity = THEORA_TABLE_STEP;
  d->keyFlags = static_cast<uint8_t*>(MEM_ALLOC(THEORA_TABLE_STEP));
  if (d->keyFlags == nullptr) {
    LogPrintf(LOG_NO_KEYS);
    return -1;
  }
  d->keyCapacity = THEORA_TABLE_STEP;
  d->timeMap = static_cast<uint32_t*>(MEM_ALLOC(sizeof(uint32_t) * THEORA_TABLE_STEP));
  if (d->timeMap == nullptr) {
    LogPrintf(LOG_NO_TIMEMAP);
    return -1;
  }
  d->timeMapCapacity = THEORA_TABLE_STEP;
  if (IndexTheoraFile(d) != 0) {
    LogPrintf(LOG_INDEX_FAILED);
    return -1;
  }
  // A stream without frame packets has nothing to show.
  if (d->dataFrameCount == 0 || d->timeFrameCount == 0) {
    LogPrintf(LOG_NO_FRAMES);
    return -1;
  }
  d->pages[0].offset = 0;
  Unlock(d);
  CreateTheoraSurface(d, asyncFlag);
  Lock(d);
  if (CreateBaseImageXRGB8(static_cast<int>(d->info.frame_width), static_cast<int>(d->info.frame_height),
                           &d->frameImage) != 0) {
    LogPrintf(LOG_NO_IMAGE);
    return -1;
  }
  d->stock = static_cast<TheoraStockFrame*>(MEM_ALLOC_ZEROED(sizeof(TheoraStockFrame) * stockSize));
  if (d->stock == nullptr) {
    LogPrintf(LOG_NO_STOCK);
    return -1;
  }
  d->stockSize = stockSize;
  return 0;
}
}  // namespace

TheoraDecoder* OpenTheoraMovie(const FileStreamFunctionTable* files, StreamHandle stream, int stockSize,
                               int asyncFlag) {
  char magic[4];
  if (files->Read(magic, 1, 4, stream) != 4 || memcmp(magic, "OggS", 4) != 0) return nullptr;
  files->Seek(stream, 0, FILE_STREAM_SEEK_SET);
  TheoraDecoder* d = static_cast<TheoraDecoder*>(MEM_ALLOC_ZEROED(sizeof(TheoraDecoder)));
  if (d == nullptr) {
    LogPrintf(LOG_NO_MEMORY);
    return nullptr;
  }
  int prepared;
  InitLock(&d->lock);
  d->wantedFrame = -1;
  d->currentTimeFrame = -1;
  d->decoderFrame = -1;
  ogg_sync_init(&d->sync);
  theora_info_init(&d->info);
  theora_comment_init(&d->comment);
  d->files = *files;
  d->stream = stream;
  if (ReadTheoraHeaders(d) != 1) goto refuse;
  // A picture of at least 1 x 1 within a frame of bounded size.
  if (d->info.frame_width < 1 || d->info.frame_height < 1 || d->info.width > THEORA_PICTURE_SIDE_LIMIT ||
      d->info.height > THEORA_PICTURE_SIDE_LIMIT) {
    LogPrintf(LOG_BAD_PICTURE);
    goto refuse;
  }
  Lock(d);
  d->holdRequest = 1;
  d->threadState = THEORA_THREAD_FULL;
  d->stockFullTime = static_cast<unsigned int>(GetMillisecondCount());
  d->thread = CreateThread(nullptr, 0, TheoraDecodeThreadEntry, d, 0, &d->threadId);
  if (d->thread == nullptr) {
    LogPrintf(LOG_NO_THREAD);
    Unlock(d);
    goto refuse;
  }
  theora_decode_init(&d->state, &d->info);
  d->stateReady = 1;
  ogg_sync_reset(&d->sync);
  ogg_stream_reset(&d->streamState);
  d->files.Seek(d->stream, 0, FILE_STREAM_SEEK_SET);
  prepared = PrepareTheoraTables(d, stockSize, asyncFlag);
  Unlock(d);
  if (prepared != 0) goto refuse;
  SeekTheoraMovie(d, 0);
  FetchTheoraFrame(d, 1, 1, asyncFlag);
  return d;

refuse:
  CloseTheoraMovie(d);
  return nullptr;
}

int CloseTheoraMovie(TheoraDecoder* d) {
  if (d->thread != nullptr) {
    Lock(d);
    d->stopRequest = 1;
    Unlock(d);
    for (;;) {
      Lock(d);
      int state = d->threadState;
      Unlock(d);
      if (state == THEORA_THREAD_ENDED) break;
      Sleep(1);
    }
    WaitForSingleObject(d->thread, INFINITE);
    CloseHandle(d->thread);
    d->thread = nullptr;
  }
  FreeStock(d);
  ReleaseTheoraSurface(d, 0);
  if (d->pages != nullptr) MemFree(d->pages);
  if (d->keyFlags != nullptr) MemFree(d->keyFlags);
  if (d->timeMap != nullptr) MemFree(d->timeMap);
  if (d->frameImage.pixels != nullptr) ReleaseBaseImage(&d->frameImage);
  if (d->streamStateReady) ogg_stream_clear(&d->streamState);
  if (d->stateReady) theora_clear(&d->state);
  theora_comment_clear(&d->comment);
  theora_info_clear(&d->info);
  ogg_sync_clear(&d->sync);
  DeleteLock(&d->lock);
  MemFree(d);
  return 0;
}

// ---- Colour conversion and delivery ----

void SetupYuvToRgbTables() {
  for (int v = -512; v < 768; v++) ClampTable[v + 512] = LimitByte(v);
  for (int i = 0; i < 256; i++) {
    RedFromV[i] = 26148 * (i - 128);
    GreenFromU[i] = -6406 * (i - 128);
    GreenFromV[i] = -13320 * (i - 128);
    BlueFromU[i] = 33062 * (i - 128);
    LumaTable[i] = 19070 * (i - 16);
  }
}

void ConvertTheoraPlanesGeneral(const TheoraStockFrame* f, int offsetX, int offsetY, BaseImageRecord* image) {
  // Chroma sample of the pixel for each layout: halved only along the
  // directions the chroma planes are subsampled in.
  int shiftX = f->uvWidth * 2 == f->yWidth ? 1 : 0;
  int shiftY = f->uvHeight * 2 == f->yHeight ? 1 : 0;
  for (int y = 0; y < image->height; y++) {
    int sy = y + offsetY;
    const uint8_t* yRow = f->yCopy + static_cast<size_t>(sy) * f->yStride;
    const uint8_t* uRow = f->uCopy + static_cast<size_t>(sy >> shiftY) * f->uvStride;
    const uint8_t* vRow = f->vCopy + static_cast<size_t>(sy >> shiftY) * f->uvStride;
    uint8_t* out = static_cast<uint8_t*>(image->pixels) + static_cast<intptr_t>(y) * image->pitch;
    for (int x = 0; x < image->width; x++) {
      int sx = x + offsetX;
      float l = 1.164f * static_cast<float>(yRow[sx] - 16);
      float u = static_cast<float>(uRow[sx >> shiftX] - 128);
      float v = static_cast<float>(vRow[sx >> shiftX] - 128);
      out[x * 4 + 2] = LimitByte(static_cast<int>(l + 1.596f * v));
      out[x * 4 + 1] = LimitByte(static_cast<int>(l - 0.391f * u - 0.813f * v));
      out[x * 4 + 0] = LimitByte(static_cast<int>(l + 2.018f * u));
      out[x * 4 + 3] = 255;
    }
  }
}

void ConvertTheoraPlanes(const TheoraStockFrame* f, int offsetX, int offsetY, BaseImageRecord* image) {
  if (f->yWidth != 2 * f->uvWidth || f->yHeight != 2 * f->uvHeight) {
    ConvertTheoraPlanesGeneral(f, offsetX, offsetY, image);
    return;
  }
  // Per pixel of the picture rectangle; the chroma sample of its 2 x 2 block.
  for (int y = 0; y < image->height; y++) {
    int sy = y + offsetY;
    const uint8_t* yRow = f->yCopy + static_cast<size_t>(sy) * f->yStride;
    const uint8_t* uRow = f->uCopy + static_cast<size_t>(sy >> 1) * f->uvStride;
    const uint8_t* vRow = f->vCopy + static_cast<size_t>(sy >> 1) * f->uvStride;
    uint8_t* out = static_cast<uint8_t*>(image->pixels) + static_cast<intptr_t>(y) * image->pitch;
    for (int x = 0; x < image->width; x++) {
      int sx = x + offsetX;
      int u = uRow[sx >> 1], v = vRow[sx >> 1];
      ConvertPixel(out + x * 4, LumaTable[yRow[sx]], RedFromV[v], GreenFromU[u] + GreenFromV[v], BlueFromU[u]);
    }
  }
}

int FetchTheoraFrame(TheoraDecoder* d, int wantImage, int wantSurface, int asyncFlag) {
  // A surface released for a device reset is made anew on its next delivery.
  bool surface = wantSurface && !d->surfaceCurrent && (d->surface != nullptr || d->surfaceRecreate);
  bool image = wantImage && !d->imageCurrent;
  if (!surface && !image) return 0;
  DWORD start = GetTickCount();
  TheoraStockFrame* entry = nullptr;
  Lock(d);
  for (;;) {
    if (d->threadState == THEORA_THREAD_SEEKING) {
      Unlock(d);
      Sleep(1);
      Lock(d);
      continue;
    }
    if (d->threadState == THEORA_THREAD_ENDED) break;
    entry = FindEntry(d, d->wantedFrame);
    if (entry != nullptr || d->endOfData) break;
    if (GetTickCount() - start > FETCH_WAIT_LIMIT_MS) {
      LogPrintf(LOG_FETCH_TIMEOUT);
      break;
    }
    Unlock(d);
    Sleep(0);
    Lock(d);
  }
  if (entry == nullptr) {
    Unlock(d);
    return 0;
  }
  entry->inUse = 1;
  Unlock(d);
  // A surface that cannot be written stays not current: the next call tries again.
  const bool surfaceDone = surface && DeliverToSurface(d, entry, asyncFlag);
  if (image) {
    ConvertTheoraPlanes(entry, static_cast<int>(d->info.offset_x), static_cast<int>(d->info.offset_y), &d->frameImage);
  }
  Lock(d);
  entry->inUse = 0;
  if (image) d->imageCurrent = 1;
  if (surfaceDone) d->surfaceCurrent = 1;
  Unlock(d);
  return 1;
}

void CreateTheoraSurface(TheoraDecoder* d, int asyncFlag) {
  ReleaseTheoraSurface(d, asyncFlag);
  if (!DeviceLayer.hardware || !HasDirect3DDevice()) return;
  for (uint32_t format : SurfaceFormats) {
    d->surfaceFormat = format;
    IDirect3DSurface9* made = nullptr;
    CreateDeviceOffscreenPlainSurfaceOnMainThread(SurfaceWidth(d), SurfaceHeight(d), static_cast<D3DFORMAT>(format),
                                                  D3DPOOL_DEFAULT, &made, nullptr, asyncFlag);
    if (made != nullptr) {
      d->surface = made;
      d->surfaceCurrent = 0;
      return;
    }
  }
  d->surfaceFormat = 0;
}

void ReleaseTheoraSurface(TheoraDecoder* d, int asyncFlag) {
  d->surfaceRecreate = 0;
  if (d->surface != nullptr) {
    ReleaseComObjectOnMainThread(d->surface, asyncFlag);
    d->surface = nullptr;
  }
}

int RequestTheoraFrameRefresh(TheoraDecoder* d) {
  // A default-pool surface must be gone before the device is reset; the
  // textures made anew after it want the frame again.
  ReleaseTheoraSurface(d, 0);
  d->surfaceRecreate = 1;
  MarkTheoraFrameStale(d);
  return 0;
}

void MarkTheoraFrameStale(TheoraDecoder* d) {
  Lock(d);
  d->imageCurrent = 0;
  d->surfaceCurrent = 0;
  Unlock(d);
}

// ---- Seeking, timing and information ----

int SeekTheoraMovie(TheoraDecoder* d, int timeFrame) {
  Lock(d);
  int t = timeFrame < 0 ? 0 : timeFrame;
  if (t >= d->timeFrameCount) t = d->timeFrameCount - 1;
  int frame = static_cast<int>(d->timeMap[t]);
  if (frame == d->wantedFrame) {
    Unlock(d);
    return 0;
  }
  d->imageCurrent = 0;
  d->surfaceCurrent = 0;
  d->holdRequest = 1;
  Unlock(d);
  for (;;) {
    Lock(d);
    int state = d->threadState;
    Unlock(d);
    if (state == THEORA_THREAD_HELD || state == THEORA_THREAD_ENDED) break;
    Sleep(0);
  }
  Lock(d);
  d->wantedFrame = frame;
  d->currentTimeFrame = t;
  d->seekTarget = frame;
  d->seekRequest = 1;
  d->holdRequest = 0;
  Unlock(d);
  return 0;
}

void AdvanceTheoraFrame(TheoraDecoder* d, int count) {
  if (count < 1) return;
  Lock(d);
  int64_t t = static_cast<int64_t>(d->currentTimeFrame) + count;
  if (t >= d->timeFrameCount) t %= d->timeFrameCount;
  d->currentTimeFrame = static_cast<int>(t);
  d->wantedFrame = static_cast<int>(d->timeMap[t]);
  d->imageCurrent = 0;
  d->surfaceCurrent = 0;
  Unlock(d);
}

int GetTheoraCurrentFrame(TheoraDecoder* d) { return d->currentTimeFrame; }

void GetTheoraMovieInfo(TheoraDecoder* d, TheoraMovieInfo* info) {
  info->frameRate = static_cast<double>(static_cast<uint32_t>(d->info.fps_numerator)) /
                    static_cast<double>(static_cast<uint32_t>(d->info.fps_denominator));
  info->timeFrameCount = d->timeFrameCount;
  info->width = static_cast<int>(d->info.frame_width);
  info->height = static_cast<int>(d->info.frame_height);
}

BaseImageRecord* GetTheoraBaseImage(TheoraDecoder* d) { return &d->frameImage; }

IDirect3DSurface9* GetTheoraFrameImage(TheoraDecoder* d) { return d->surface; }
