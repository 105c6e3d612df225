// The DirectShow road of the movies: a file whose container structure holds
// (MuVevireProbe.cpp) goes to a filter graph built around our movie
// renderer filter, which renders it by name, or else a temporary copy made
// through the file layer (a file inside an archive); the graph's frames
// reach the movie's frame callback, its position decides the end (loop or
// stop).
// Threads and locks: the open runs on the main thread or a loading worker
// (the graph is created on the main thread then); RenderFile runs on a
// thread of its own within a time limit while the opener serves its
// messages, and a render past the limit is abandoned to that thread; the
// refresh runs on the main thread and holds the renderer's frame lock while
// the callback reads the frame buffer, which the streaming thread fills.
// Platform: COM (the filter graph manager: IGraphBuilder, IMediaControl,
// IMediaSeeking, IBasicAudio), CreateThread, MsgWaitForMultipleObjectsEx,
// PeekMessageA, DispatchMessageA, WriteFile, CloseHandle, DeleteFileW.
#include <windows.h>
#include <dshow.h>
#include <stdio.h>
#include <string.h>

#include "MuVevire.h"
#include "MuVevireProbe.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "VeRavoroString.h"
#include "ZeZezuDoz.h"
#include "ZiDezaru.h"
#include "ZoRevOStrmBaseFilter.h"

using RiDov::MovieRenderer;

namespace {

const char LOG_NO_GRAPH[] = "CLSID_FilterGraph の作成に失敗しました";
const char LOG_NO_RENDERER[] = "Could not add renderer filter to graph!";
const char LOG_NO_BASIC_AUDIO[] = "BasicAudio インターフェースの取得に失敗しました";
const char LOG_NO_MEDIA_CONTROL[] = "IID_IMediaControlインターフェイスの取得に失敗しました";
const char LOG_NO_MEDIA_SEEKING[] = "IID_IMediaSeekingインターフェイスの取得に失敗しました";
const char LOG_CANNOT_OPEN[] = "ファイル:%s が開けませんでした";
const char LOG_FAILURE[] = "%s";  // one of the texts above, given by the failing step

enum {
  COPY_CHUNK = 1048576,
  GRAPH_CONTEXT = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
  RENDER_TIME_LIMIT = 5000,  // ms a RenderFile may take before the open gives up
  // The first render of the process also starts the platform's media
  // framework (a plug-in scan on a fresh machine): it is given longer.
  FIRST_RENDER_TIME_LIMIT = 30000,
};
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
  if (r->FormatNumber() == RiDov::MOVIE_FRAME_RGB24) MakeColorFormatRGB8(&m->frameImage.format);
  else if (r->FormatNumber() == RiDov::MOVIE_FRAME_RGB32 && m->useAlpha) MakeColorFormatARGB8(&m->frameImage.format);
  else MakeColorFormatXRGB8(&m->frameImage.format);
  m->currentImage = &m->frameImage;
}

// Copies the file through the file layer into a new temporary file named in
// the record (tempFileFlag set once the file exists). False when the file
// cannot be read or written whole; the caller deletes the partial copy.
bool CopyToTempFile(MovieRecord* m, const char* fileName) {
  bool whole = false;
  void* buffer = nullptr;
  HANDLE file = nullptr;
  char path[FILE_PATH_SIZE];
  int64_t length;
  uint32_t size;
  const StreamHandle stream = FileStreamOpen(fileName, 0, 1, 0);
  if (stream == 0) goto refuse;
  FileStreamSeek(stream, 0, FILE_STREAM_SEEK_END);
  length = FileStreamTell(stream);
  FileStreamSeek(stream, 0, FILE_STREAM_SEEK_SET);
  // Sizes of 4 GB and more do not fit the copy's 32-bit count.
  if (length < 0 || length > 0xFFFFFFFFLL) goto refuse;
  buffer = MEM_ALLOC(COPY_CHUNK);
  if (buffer == nullptr) goto refuse;
  file = CreateTempFile(path);
  if (file == nullptr) goto refuse;
  // The path was made by the ANSI file calls: the process's code page.
  MultiByteToWide(CP_ACP, path, m->fileName, FILE_PATH_SIZE);
  m->tempFileFlag = 1;
  size = static_cast<uint32_t>(length);
  whole = true;
  for (uint32_t copied = 0; copied < size;) {
    const DWORD chunk = size - copied < static_cast<uint32_t>(COPY_CHUNK) ? size - copied
                                                                          : static_cast<DWORD>(COPY_CHUNK);
    DWORD written = 0;
    if (FileStreamRead(buffer, chunk, 1, stream) != 1 || !TempWrite(file, buffer, chunk, &written) ||
        written != chunk) {
      whole = false;
      break;
    }
    copied += chunk;
  }

refuse:
  if (stream != 0) FileStreamClose(stream);
  if (file != nullptr) CloseHandle(file);
  if (buffer != nullptr) MemFree(buffer);
  return whole;
}

size_t ReadStreamAt(void* context, int64_t offset, void* buffer, size_t count) {
  const StreamHandle stream = *static_cast<const StreamHandle*>(context);
  if (FileStreamSeek(stream, offset, FILE_STREAM_SEEK_SET) != 0) return 0;
  return FileStreamRead(buffer, 1, count, stream);
}

// The time RenderFile is given on its thread (0: the limits above), and
// the render itself.
DWORD RenderTimeLimit = 0;
volatile LONG RenderStarted = 0;
HRESULT RealRender(IGraphBuilder* graph, const wchar_t* fileName) { return graph->RenderFile(fileName, nullptr); }
MovieGraphRenderFunction Render = RealRender;
volatile LONG AbandonedRenders = 0;

enum { RENDER_RUNNING = 0, RENDER_FINISHED = 1, RENDER_ABANDONED = 2 };

// One RenderFile on a thread of its own. While the opener waits, it frees
// the job once the render is over; a job it abandons is left by both sides
// (the opener once its interfaces are released, the thread once the render
// returned and its graph reference is released), and the last to leave
// deletes the temporary copy, closed by then, and frees the job.
struct GraphRenderJob {
  IGraphBuilder* graph;  // the job's own reference
  MovieGraphRenderFunction render;
  wchar_t fileName[FILE_PATH_SIZE];
  int tempFile;  // the file is our temporary copy
  HRESULT result;
  volatile LONG state;    // RENDER_RUNNING, then FINISHED (thread) or ABANDONED (opener)
  volatile LONG holders;  // of an abandoned job: 2, then 1, then 0
};

void LeaveAbandonedRender(GraphRenderJob* job) {
  if (InterlockedDecrement(&job->holders) != 0) return;
  if (job->tempFile) DeleteFileW(job->fileName);
  MemFree(job);
  InterlockedDecrement(&AbandonedRenders);
}

// The filter graph manager is registered with the threading model Both:
// its interface pointers serve this thread without marshalling. The thread
// joins the multithreaded apartment for the filters the render creates.
DWORD WINAPI RenderThread(void* parameter) {
  GraphRenderJob* job = static_cast<GraphRenderJob*>(parameter);
  const HRESULT joined = SystemLibs.CoInitializeExFunc != nullptr
                             ? SystemLibs.CoInitializeExFunc(nullptr, COINIT_MULTITHREADED)
                             : E_FAIL;
  job->result = job->render(job->graph, job->fileName);
  if (InterlockedCompareExchange(&job->state, RENDER_FINISHED, RENDER_RUNNING) == RENDER_ABANDONED) {
    job->graph->Release();
    LeaveAbandonedRender(job);
  }
  if (SUCCEEDED(joined) && SystemLibs.CoUninitializeFunc != nullptr) SystemLibs.CoUninitializeFunc();
  return 0;
}

// Waits for the thread, serving this thread's messages meanwhile (a
// WM_QUIT taken is posted again); false when the limit passed first.
bool WaitServingMessages(HANDLE thread, DWORD limit) {
  const DWORD start = GetTickCount();
  bool quit = false;
  WPARAM quitCode = 0;
  bool ended = false;
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    const DWORD left = elapsed < limit ? limit - elapsed : 0;
    const DWORD woke = MsgWaitForMultipleObjectsEx(1, &thread, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) {
      ended = true;
      break;
    }
    if (woke != WAIT_OBJECT_0 + 1) break;  // the limit, or a failed wait
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quitCode = message.wParam;
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  return ended;
}

// RenderFile of the record's file name, bounded by the time limit. A render
// still running at the limit is abandoned: *abandoned receives the job,
// which the caller leaves (LeaveAbandonedRender) after releasing its
// interfaces without stopping the graph, whose lock the render may hold;
// the record's temporary copy passes to the job.
HRESULT RenderWithinLimit(MovieRecord* m, GraphRenderJob** abandoned) {
  *abandoned = nullptr;
  GraphRenderJob* job = static_cast<GraphRenderJob*>(MEM_ALLOC_ZEROED(sizeof(GraphRenderJob)));
  if (job == nullptr) return E_OUTOFMEMORY;
  job->graph = m->graph;
  job->graph->AddRef();
  job->render = Render;
  memcpy(job->fileName, m->fileName, sizeof job->fileName);
  job->tempFile = m->tempFileFlag == 1;
  job->state = RENDER_RUNNING;
  job->holders = 2;
  HANDLE thread = CreateThread(nullptr, 0, RenderThread, job, 0, nullptr);
  if (thread == nullptr) {
    job->graph->Release();
    MemFree(job);
    return E_FAIL;
  }
  const bool first = InterlockedExchange(&RenderStarted, 1) == 0;
  const DWORD limit = RenderTimeLimit != 0 ? RenderTimeLimit
                      : first              ? static_cast<DWORD>(FIRST_RENDER_TIME_LIMIT)
                                           : static_cast<DWORD>(RENDER_TIME_LIMIT);
  const bool ended = WaitServingMessages(thread, limit);
  CloseHandle(thread);
  if (!ended && InterlockedCompareExchange(&job->state, RENDER_ABANDONED, RENDER_RUNNING) == RENDER_RUNNING) {
    InterlockedIncrement(&AbandonedRenders);
    *abandoned = job;
    m->tempFileFlag = 0;
    return VFW_E_TIME_EXPIRED;
  }
  // Finished, at the limit or before: the thread no longer reads the job.
  const HRESULT result = job->result;
  job->graph->Release();
  MemFree(job);
  return result;
}

// With `stop` the graph is stopped first; not while a render thread still
// holds the graph's lock.
void ReleaseGraphInterfaces(MovieRecord* m, bool stop = true) {
  if (stop && m->mediaControl != nullptr) m->mediaControl->Stop();
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

// The failure step: every interface released, the temporary copy deleted
// (or left to an abandoned render), one log line.
int FailGraphOpen(MovieRecord* m, const char* message, GraphRenderJob* abandoned = nullptr) {
  ReleaseGraphInterfaces(m, abandoned == nullptr);
  DeleteTempFile(m);
  if (abandoned != nullptr) LeaveAbandonedRender(abandoned);
  LogPrintf(LOG_FAILURE, message);
  return -1;
}

}  // namespace

void SetMovieTempFileWriter(MovieTempFileWriter writer) { TempWrite = writer != nullptr ? writer : RealWrite; }

void SetMovieGraphRenderLimit(unsigned int milliseconds) { RenderTimeLimit = milliseconds; }

void SetMovieGraphRenderFunction(MovieGraphRenderFunction render) { Render = render != nullptr ? render : RealRender; }

int CountAbandonedMovieRenders() { return static_cast<int>(AbandonedRenders); }

int ProbeMovieFile(const char* fileName) {
  StreamHandle stream = FileStreamOpen(fileName, 0, 1, 0);
  if (stream == 0) return MOVIE_PROBE_UNREADABLE;
  FileStreamSeek(stream, 0, FILE_STREAM_SEEK_END);
  const int64_t size = FileStreamTell(stream);
  int result = MOVIE_PROBE_READ_FAILED;
  if (size >= 0 && FileStreamSeek(stream, 0, FILE_STREAM_SEEK_SET) == 0) {
    const MovieProbeSource source = {&stream, size, ReadStreamAt};
    result = ProbeMovieContainer(&source);
  }
  FileStreamClose(stream);
  return result;
}

int OpenMovieWithMediaGraph(MovieRecord* m, const char* fileName, int* width, int* height, int, int workerFlag) {
  m->frameImage.pixels = nullptr;
  // Damaged and foreign files never reach the graph, whose parsers can wait
  // forever or crash on them; a file not readable here is left to it.
  const int probed = ProbeMovieFile(fileName);
  if (probed != MOVIE_PROBE_PLAYABLE && probed != MOVIE_PROBE_UNREADABLE) {
    LogPrintf(LOG_CANNOT_OPEN, fileName);
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
  GraphRenderJob* abandoned = nullptr;
  HRESULT rendered = RenderWithinLimit(m, &abandoned);
  if (FAILED(rendered) && abandoned == nullptr && m->tempFileFlag != 1) {
    // Not openable by name (inside an archive, say): a temporary copy.
    rendered = CopyToTempFile(m, fileName) ? RenderWithinLimit(m, &abandoned) : E_FAIL;
  }
  // A graph that rendered the file without our renderer has no picture.
  if (SUCCEEDED(rendered) && renderer->Width() <= 0) rendered = VFW_E_CANNOT_RENDER;
  if (FAILED(rendered)) {
    char message[LOG_LINE_SIZE];
    snprintf(message, sizeof message, LOG_CANNOT_OPEN, fileName);
    return FailGraphOpen(m, message, abandoned);
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

void ReleaseMovieGraph(MovieRecord* m) {
  // The graph's source may hold the temporary copy open: released first.
  ReleaseGraphInterfaces(m);
  DeleteTempFile(m);
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

void RequestMovieGraphFrame(MovieRecord* m) {
  if (RendererOf(m) != nullptr) RendererOf(m)->MarkFrameAgain();
}

int GetMovieFrameFormat(const MovieRecord* m) {
  return !m->theoraFlag && m->renderer != nullptr ? RendererOf(m)->FormatNumber() : -1;
}
