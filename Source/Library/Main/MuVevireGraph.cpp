// The DirectShow road of the movies: a filter graph built around our movie
// renderer filter renders the file by name, or else a temporary copy made
// through the file layer (a file inside an archive); the graph's frames
// reach the movie's frame callback, its position decides the end (loop or
// stop).
// Threads and locks: the open runs on the main thread or a loading worker
// (the graph is created on the main thread then); the refresh runs on the
// main thread and holds the renderer's frame lock while the callback reads
// the frame buffer, which the streaming thread fills.
// Platform: COM (the filter graph manager: IGraphBuilder, IMediaControl,
// IMediaSeeking, IBasicAudio), WriteFile, CloseHandle, DeleteFileW.
#include <windows.h>
#include <dshow.h>
#include <stdio.h>
#include <string.h>

#include "MuVevire.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "VeRavoroString.h"
#include "ZeZezuDoz.h"
#include "ZiDezaru.h"
#include "ZoRevOStrmBaseFilter.h"

using RiDov::MovieRenderer;

namespace {

const char LOG_NO_GRAPH[] = "CLSID_FilterGraph の作成に失敗しました\n";
const char LOG_NO_RENDERER[] = "Could not add renderer filter to graph!\n";
const char LOG_NO_BASIC_AUDIO[] = "BasicAudio インターフェースの取得に失敗しました\n";
const char LOG_NO_MEDIA_CONTROL[] = "IID_IMediaControlインターフェイスの取得に失敗しました\n";
const char LOG_NO_MEDIA_SEEKING[] = "IID_IMediaSeekingインターフェイスの取得に失敗しました\n";
const char LOG_CANNOT_OPEN[] = "ファイル:%s が開けませんでした\n";

enum { COPY_CHUNK = 1048576, GRAPH_CONTEXT = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER };
// How long past its stop position a graph may still be delivering frames.
const LONGLONG END_GRACE = 10000000;  // 1 s in 100 ns units

BOOL RealWrite(HANDLE file, const void* data, DWORD size, DWORD* written) {
  return WriteFile(file, data, size, written, nullptr);
}
MovieTempFileWriter TempWrite = RealWrite;

template <typename T>
void ReleaseInterface(T** object) {
  if (*object != nullptr) {
    (*object)->Release();
    *object = nullptr;
  }
}

MovieRenderer* RendererOf(const MovieRecord* m) { return static_cast<MovieRenderer*>(m->renderer); }

// The frame image from the renderer's buffer, sizes and format number;
// the caller holds the frame lock.
void FillFrameImage(MovieRecord* m) {
  MovieRenderer* r = RendererOf(m);
  m->frameImage.width = r->Width();
  m->frameImage.height = r->Height();
  m->frameImage.pitch = r->Pitch();
  m->frameImage.pixels = r->FrameBuffer();
  if (r->FormatNumber() == RiDov::MOVIE_FRAME_RGB24)
    MakeColorFormatRGB8(&m->frameImage.format);
  else if (r->FormatNumber() == RiDov::MOVIE_FRAME_RGB32 && m->useAlpha)
    MakeColorFormatARGB8(&m->frameImage.format);
  else
    MakeColorFormatXRGB8(&m->frameImage.format);
  m->currentImage = &m->frameImage;
}

// Copies the file through the file layer into a new temporary file named in
// the record (tempFileFlag set once the file exists). False when the file
// cannot be read or written whole; the caller deletes the partial copy.
bool CopyToTempFile(MovieRecord* m, const char* fileName) {
  const StreamHandle stream = FileStreamOpen(fileName, 0, 1, 0);
  if (stream == 0) return false;
  FileStreamSeek(stream, 0, FILE_STREAM_SEEK_END);
  const int64_t length = FileStreamTell(stream);
  FileStreamSeek(stream, 0, FILE_STREAM_SEEK_SET);
  // Sizes of 4 GB and more do not fit the copy's 32-bit count.
  void* buffer = length >= 0 && length <= 0xFFFFFFFFLL ? MEM_ALLOC(COPY_CHUNK) : nullptr;
  if (buffer == nullptr) {
    FileStreamClose(stream);
    return false;
  }
  char path[FILE_PATH_SIZE];
  HANDLE file = CreateTempFile(path);
  if (file == nullptr) {
    FileStreamClose(stream);
    MemFree(buffer);
    return false;
  }
  // The path was made by the ANSI file calls: the process's code page.
  MultiByteToWide(CP_ACP, path, m->fileName, FILE_PATH_SIZE);
  m->tempFileFlag = 1;
  const uint32_t size = static_cast<uint32_t>(length);
  bool whole = true;
  for (uint32_t copied = 0; copied < size;) {
    const DWORD chunk = size - copied < static_cast<uint32_t>(COPY_CHUNK) ? size - copied : static_cast<DWORD>(COPY_CHUNK);
    DWORD written = 0;
    if (FileStreamRead(buffer, chunk, 1, stream) != 1 || !TempWrite(file, buffer, chunk, &written) ||
        written != chunk) {
      whole = false;
      break;
    }
    copied += chunk;
  }
  FileStreamClose(stream);
  CloseHandle(file);
  MemFree(buffer);
  return whole;
}

// True unless the file starts like a movie container the graph can play
// (AVI / WAV RIFF, MPEG program or elementary stream, MPEG-TS, ASF, MP4 /
// QuickTime, Matroska, FLV, Ogg). Damaged images and junk reach this road
// after the image loaders refuse them, and the platform's parsers can wait
// forever on such a file inside RenderFile, so it never goes to the graph.
bool LooksLikeStillImageOrJunk(const char* fileName) {
  const StreamHandle stream = FileStreamOpen(fileName, 0, 1, 0);
  if (stream == 0) return false;  // not readable here: the graph decides
  unsigned char head[16] = {};
  const size_t got = FileStreamRead(head, 1, sizeof head, stream);
  FileStreamClose(stream);
  if (got < sizeof head) return true;
  static const struct {
    size_t offset;
    const char* bytes;
    size_t size;
  } kContainers[] = {{0, "RIFF", 4},          {0, "\0\0\x01\xBA", 4}, {0, "\0\0\x01\xB3", 4},
                     {0, "\x30\x26\xB2\x75", 4}, {4, "ftyp", 4},      {4, "moov", 4},
                     {4, "mdat", 4},          {4, "free", 4},          {4, "wide", 4},
                     {0, "\x1A\x45\xDF\xA3", 4}, {0, "FLV", 3},       {0, "OggS", 4}};
  for (const auto& c : kContainers)
    if (memcmp(head + c.offset, c.bytes, c.size) == 0) return false;
  return !(head[0] == 0x47 && got >= 1);  // MPEG transport stream sync byte
}

void ReleaseGraphInterfaces(MovieRecord* m) {
  if (m->mediaControl != nullptr) m->mediaControl->Stop();
  ReleaseInterface(&m->basicAudio);
  ReleaseInterface(&m->mediaSeeking);
  ReleaseInterface(&m->mediaControl);
  ReleaseInterface(&m->graph);  // the graph's last reference also ends the renderer
  m->renderer = nullptr;
}

void DeleteTempFile(MovieRecord* m) {
  if (m->tempFileFlag == 1) {
    DeleteFileW(m->fileName);
    m->tempFileFlag = 0;
  }
}

// The failure step: every interface released, the temporary copy deleted,
// one log line.
int FailGraphOpen(MovieRecord* m, const char* message) {
  ReleaseGraphInterfaces(m);
  DeleteTempFile(m);
  LogWriteText(message);
  return -1;
}

}  // namespace

void SetMovieTempFileWriter(MovieTempFileWriter writer) { TempWrite = writer != nullptr ? writer : RealWrite; }

int OpenMovieWithMediaGraph(MovieRecord* m, const char* fileName, int* width, int* height, int, int workerFlag) {
  m->frameImage.pixels = nullptr;
  if (LooksLikeStillImageOrJunk(fileName)) {
    char message[LOG_LINE_SIZE];
    snprintf(message, sizeof message, LOG_CANNOT_OPEN, fileName);
    LogWriteText(message);
    return -1;
  }
  if (FAILED(CreateComInstance(CLSID_FilterGraph, nullptr, GRAPH_CONTEXT, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&m->graph), workerFlag)) ||
      m->graph == nullptr) {
    m->graph = nullptr;
    return FailGraphOpen(m, LOG_NO_GRAPH);
  }
  MovieRenderer* renderer = RiDov::CreateMovieRenderer(nullptr, nullptr);
  if (renderer == nullptr) return FailGraphOpen(m, LOG_NO_RENDERER);
  const HRESULT added = m->graph->AddFilter(static_cast<IBaseFilter*>(renderer), L"MovieRenderer");
  // The graph holds the filter from here; refused, our reference ends it.
  renderer->Release();
  if (FAILED(added)) return FailGraphOpen(m, LOG_NO_RENDERER);
  m->renderer = renderer;
  if (FAILED(m->graph->QueryInterface(IID_IBasicAudio, reinterpret_cast<void**>(&m->basicAudio))))
    return FailGraphOpen(m, LOG_NO_BASIC_AUDIO);
  if (FAILED(m->graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m->mediaControl))))
    return FailGraphOpen(m, LOG_NO_MEDIA_CONTROL);
  if (FAILED(m->graph->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&m->mediaSeeking))))
    return FailGraphOpen(m, LOG_NO_MEDIA_SEEKING);
  MultiByteToWide(GetCodePage(), fileName, m->fileName, FILE_PATH_SIZE);
  HRESULT rendered = m->graph->RenderFile(m->fileName, nullptr);
  if (FAILED(rendered) && m->tempFileFlag != 1) {
    // Not openable by name (inside an archive, say): a temporary copy.
    rendered = CopyToTempFile(m, fileName) ? m->graph->RenderFile(m->fileName, nullptr) : E_FAIL;
  }
  // A graph that rendered the file without our renderer has no picture.
  if (SUCCEEDED(rendered) && renderer->Width() <= 0) rendered = VFW_E_CANNOT_RENDER;
  if (FAILED(rendered)) {
    char message[LOG_LINE_SIZE];
    snprintf(message, sizeof message, LOG_CANNOT_OPEN, fileName);
    return FailGraphOpen(m, message);
  }
  m->mediaSeeking->GetStopPosition(&m->stopPosition);
  renderer->LockFrame();
  FillFrameImage(m);
  renderer->UnlockFrame();
  m->width = renderer->Width();
  m->height = renderer->Height();
  if (width != nullptr) *width = m->width;
  if (height != nullptr) *height = m->height;
  return 0;
}

int ReleaseMovieGraph(MovieRecord* m) {
  // The graph's source may hold the temporary copy open: released first.
  ReleaseGraphInterfaces(m);
  DeleteTempFile(m);
  return 0;
}

int RefreshMovieGraphFrame(MovieRecord* m) {
  MovieRenderer* r = RendererOf(m);
  if (r != nullptr && r->TakeNewFrame() && m->frameCallback != nullptr) {
    r->LockFrame();
    FillFrameImage(m);
    m->frameCallback(m, m->callbackParameter);
    r->UnlockFrame();
  }
  if (m->mediaSeeking == nullptr || m->mediaControl == nullptr) return 0;
  LONGLONG position = 0;
  m->mediaSeeking->GetCurrentPosition(&position);
  if (position < m->stopPosition) return 0;
  // The graph's position may run ahead of the frames still on their way:
  // the end waits for the renderer's end of stream (a second at most).
  if (r != nullptr && !r->EndOfStreamSeen() && position < m->stopPosition + END_GRACE) return 0;
  if (m->playType & MOVIE_PLAY_LOOP_BIT) {
    LONGLONG start = 0;
    m->mediaSeeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    m->mediaControl->Run();
  } else {
    m->mediaControl->Pause();
    m->playWanted = 0;
    m->stopped = 1;
  }
  return 0;
}

int RequestMovieGraphFrame(MovieRecord* m) {
  if (RendererOf(m) != nullptr) RendererOf(m)->MarkFrameAgain();
  return 0;
}

int GetMovieFrameFormat(const MovieRecord* m) {
  return !m->theoraFlag && m->renderer != nullptr ? RendererOf(m)->FormatNumber() : -1;
}
