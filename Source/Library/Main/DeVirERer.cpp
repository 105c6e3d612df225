// MP3 through a DirectShow graph: the file image served by D_CMemReader as
// an MPEG-1 audio stream, the platform's parser and decoder chosen by
// rendering, our sample grabber catching the PCM, the chosen audio renderer
// taken out of the graph and replaced by the null renderer, and the graph
// run without a clock until it reports completion.
// Threads: the grabber callback appends PCM on the graph's streaming thread
// inside the grabber's lock; the calling thread only waits (pumping window
// messages) until completion, an error, the program's end, or a stall of
// MP3_GRAPH_STALL_LIMIT_MS without new PCM.
// Platform: CoCreateInstance (through the system-library table) of the
// filter graph and the null renderer; IGraphBuilder, IMediaFilter,
// IMediaControl, IMediaEvent; the window pump.
#include "DeVirERer.h"

#include <new>
#include <stdint.h>
#include <string.h>

#include "RaRadara.h"
#include "RaRadaraLog.h"
#include "RaRadaraSystem.h"
#include "ZiDezaru.h"

using namespace RiDov;

// In strmiids, though mingw-w64's uuids.h does not name it.
extern "C" const CLSID CLSID_NullRenderer;

namespace {

const char LOG_MEMSTREAM_FAILED[] = "MP3変換用 D_CMemStream の作成に失敗しました";
const char LOG_MEMREADER_FAILED[] = "MP3変換用 D_CMemReader の作成に失敗しました";
const char LOG_NULLRENDER_FAILED[] = "MP3変換用 NullRender の作成に失敗しました";
const char LOG_GRAPH_FAILED[] = "MP3変換用 IGraphBuilder の作成に失敗しました";
const char LOG_GRABBER_FAILED[] = "MP3変換用 D_CSampleGrabber の作成に失敗しました";
const char LOG_GRABBER_TYPE_FAILED[] = "サンプルグラバフィルタのメディアタイプの設定に失敗しました";
const char LOG_ADD_GRABBER_FAILED[] = "サンプルグラバフィルタのグラフへの追加に失敗しました";
const char LOG_ADD_MEMFILE_FAILED[] = "メモリファイルフィルタのグラフへの追加に失敗しました";
const char LOG_RENDER_FAILED[] = "グラフの構築に失敗しました";
const char LOG_ADD_NULLRENDER_FAILED[] = "ヌルレンダラーフィルタのグラフへの追加に失敗しました";
const char LOG_SWAP_RENDERER_FAILED[] = "既存レンダラーをNullレンダラーと交換する処理が失敗しました";
const char LOG_NO_AUDIO[] = "音声が含まれていないか、オーディオフォーマットの取得に失敗しました。";
const char LOG_BAD_STREAM_FORMAT[] = "サポート外のストリームフォーマットです。";
const char LOG_BAD_AUDIO_FORMAT[] = "サポート外のオーディオフォーマットです。";
const char LOG_CALLBACK_FAILED[] = "コールバック関数を設定できません";
const char LOG_PCM_ALLOC_FAILED[] = "PCMデータを格納するメモリ領域の確保に失敗しました";
const char LOG_MEDIAFILTER_FAILED[] = "IMediaFilter の取得に失敗しました";
const char LOG_MEDIACONTROL_FAILED[] = "IMediaControl の取得に失敗しました";
const char LOG_MEDIAEVENT_FAILED[] = "IMediaEvent の取得に失敗しました";
const char LOG_PROGRAM_ENDED[] = "MP3変換の途中でソフトが終了しました";
const char LOG_DECODE_ERROR[] = "MP3変換の途中でエラーが発生しました";
const char LOG_PCM_REALLOC_FAILED[] = "PCMデータを格納するメモリ領域の再確保に失敗しました";
const char LOG_FAILURE[] = "%s";  // one of the texts above, given by the failing step
const char LOG_NOT_MPEG_AUDIO[] = "MP3変換用のデータにMPEGオーディオのフレームがありません";

enum {
  PCM_GROW_STEP = 1048576,  // the least a grow adds
  PCM_FIRST_CAPACITY = 1048576,
  COMPLETION_WAIT_MS = 100,
};

// Everything one decode creates, released by ReleaseGraph.
struct GraphParts {
  unsigned char* image;
  D_CMemStream* stream;
  D_CMemReader* reader;
  IBaseFilter* readerFilter;
  IBaseFilter* nullRenderer;
  IGraphBuilder* graph;
  D_CSampleGrabber* grabber;
  IMediaFilter* mediaFilter;
  IMediaControl* control;
  IMediaEvent* events;
};

template <class T>
void ReleaseAndClear(T** object) {
  if (*object != nullptr) (*object)->Release();
  *object = nullptr;
}

// The graph and its filters; the stream image stays.
void ReleaseFilters(GraphParts* p) {
  if (p->control != nullptr) p->control->Stop();
  ReleaseAndClear(&p->events);
  ReleaseAndClear(&p->control);
  ReleaseAndClear(&p->mediaFilter);
  ReleaseAndClear(&p->graph);
  ReleaseAndClear(&p->nullRenderer);
  ReleaseAndClear(&p->readerFilter);
  ReleaseAndClear(&p->grabber);
  ReleaseAndClear(&p->reader);
  delete p->stream;
  p->stream = nullptr;
}

void ReleaseGraph(GraphParts* p) {
  ReleaseFilters(p);
  if (p->image != nullptr) MemFree(p->image);
  p->image = nullptr;
}

int Fail(GraphParts* p, SoundConversion* c, const char* message) {
  if (message != nullptr) LogPrintf(LOG_FAILURE, message);
  ReleaseGraph(p);
  MemoryConvertArea* m = &c->area.memory;
  if (m->data != nullptr) MemFree(m->data);
  m->data = nullptr;
  m->capacity = 0;
  m->size = 0;
  return -1;
}

// The renderer that rendering chose: the first filter with a connected
// input pin and no output pin. Its input is disconnected from the pin
// feeding it, which is returned with a reference (the renderer too).
IPin* TakeOverRenderer(IGraphBuilder* graph, IBaseFilter** renderer) {
  *renderer = nullptr;
  IEnumFilters* filters = nullptr;
  if (FAILED(graph->EnumFilters(&filters)) || filters == nullptr) return nullptr;
  IPin* feeding = nullptr;
  IBaseFilter* filter = nullptr;
  while (feeding == nullptr && filters->Next(1, &filter, nullptr) == S_OK) {
    IPin* in = FindFilterPin(filter, PINDIR_INPUT);
    IPin* out = FindFilterPin(filter, PINDIR_OUTPUT);
    IPin* upstream = nullptr;
    if (in != nullptr && out == nullptr && SUCCEEDED(in->ConnectedTo(&upstream)) && upstream != nullptr) {
      graph->Disconnect(upstream);
      graph->Disconnect(in);
      feeding = upstream;
      *renderer = filter;
      filter->AddRef();
    }
    if (in != nullptr) in->Release();
    if (out != nullptr) out->Release();
    filter->Release();
    filter = nullptr;
  }
  filters->Release();
  return feeding;
}

// Rendering sometimes (under load, with either of the platform's MPEG
// chains) connects the decoder's PCM straight to the audio renderer and
// leaves the grabber out. Then `feeding` (the pin that fed the renderer) is
// connected to the grabber, and the grabber's output, with a reference, is
// returned for the null renderer; null when the grabber is in the chain or
// cannot be connected.
IPin* SpliceGrabber(IGraphBuilder* graph, IBaseFilter* grabber, IPin* feeding) {
  IPin* input = FindFilterPin(grabber, PINDIR_INPUT);
  IPin* output = FindFilterPin(grabber, PINDIR_OUTPUT);
  IPin* upstream = nullptr;
  IPin* result = nullptr;
  if (input != nullptr && output != nullptr) {
    if (SUCCEEDED(input->ConnectedTo(&upstream)) && upstream != nullptr) {
      upstream->Release();
    } else if (graph->Connect(feeding, input) == S_OK) {
      result = output;
      output = nullptr;
    }
  }
  if (input != nullptr) input->Release();
  if (output != nullptr) output->Release();
  return result;
}

// Connects the renderer's former feed to the null renderer, through the
// grabber when rendering left it out; the grabber's output connection can
// fail too, and the feed then goes to the null renderer directly (the graph
// then counts as one without the grabber).
HRESULT ConnectNullRenderer(IGraphBuilder* graph, IBaseFilter* grabber, IPin* feeding, IPin* nullInput) {
  IPin* spliced = SpliceGrabber(graph, grabber, feeding);
  if (spliced == nullptr) return graph->Connect(feeding, nullInput);
  HRESULT hr = graph->Connect(spliced, nullInput);
  spliced->Release();
  if (hr == S_OK) return hr;
  IPin* input = FindFilterPin(grabber, PINDIR_INPUT);
  if (input != nullptr) {
    graph->Disconnect(feeding);
    graph->Disconnect(input);
    input->Release();
  }
  return graph->Connect(feeding, nullInput);
}

// Waits for completion; 0, or -1 after logging why not.
int WaitForDecode(IMediaEvent* events, SoundConversion* c) {
  if (PumpWindowMessagesCore() != 0) {
    LogPrintf(LOG_PROGRAM_ENDED);
    return -1;
  }
  DWORD lastGrowth = GetTickCount();
  int lastSize = 0;
  for (;;) {
    long code = 0;
    HRESULT hr = events->WaitForCompletion(COMPLETION_WAIT_MS, &code);
    if (hr == S_OK && code == EC_ERRORABORT) {
      LogPrintf(LOG_DECODE_ERROR);
      return -1;
    }
    if (hr == S_OK && code == EC_COMPLETE) return 0;
    // No completion can come from a graph that stalls: bound the wait.
    int size = c->area.memory.size;
    if (size != lastSize || c->area.memory.data == nullptr) {
      lastSize = size;
      lastGrowth = GetTickCount();
    } else if (GetTickCount() - lastGrowth > static_cast<DWORD>(MP3_GRAPH_STALL_LIMIT_MS)) {
      LogPrintf(LOG_DECODE_ERROR);
      return -1;
    }
    if (PumpWindowMessagesCore() != 0) {
      LogPrintf(LOG_PROGRAM_ENDED);
      return -1;
    }
  }
}

}  // namespace

IPin* FindFilterPin(IBaseFilter* filter, PIN_DIRECTION direction) {
  IEnumPins* pins = nullptr;
  if (FAILED(filter->EnumPins(&pins)) || pins == nullptr) return nullptr;
  IPin* found = nullptr;
  IPin* pin = nullptr;
  while (found == nullptr && pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION d;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction) {
      found = pin;
    } else {
      pin->Release();
    }
    pin = nullptr;
  }
  pins->Release();
  return found;
}

HRESULT Mp3GrabberCallback(IMediaSample* sample, REFERENCE_TIME*, REFERENCE_TIME*, int, DWORD userData) {
  SoundConversion* c = reinterpret_cast<SoundConversion*>(static_cast<uintptr_t>(userData));
  MemoryConvertArea* m = &c->area.memory;
  if (m->data == nullptr) return 0;
  BYTE* bytes = nullptr;
  if (FAILED(sample->GetPointer(&bytes)) || bytes == nullptr) return 0;
  int length = sample->GetActualDataLength();
  if (length <= 0) return 0;
  if (m->size + length > m->capacity) {
    // Grow by half again (at least 1 MB and at least the sample).
    int64_t grown = static_cast<int64_t>(m->capacity) +
                    (m->capacity / 2 > PCM_GROW_STEP ? m->capacity / 2 : PCM_GROW_STEP);
    if (grown < static_cast<int64_t>(m->size) + length) grown = static_cast<int64_t>(m->size) + length;
    unsigned char* bigger = grown > 0x7FFFFFFF
                                ? nullptr
                                : static_cast<unsigned char*>(MemAlloc(static_cast<size_t>(grown), "DeVirERer", 3048));
    if (bigger == nullptr) {
      MemFree(m->data);
      m->data = nullptr;
      return 0;
    }
    memcpy(bigger, m->data, static_cast<size_t>(m->size));
    MemFree(m->data);
    m->data = bigger;
    m->capacity = static_cast<int>(grown);
  }
  memcpy(m->data + m->size, bytes, static_cast<size_t>(length));
  m->size += length;
  return 0;
}

namespace {
int DecodeWithGraph(SoundConversion* c);
}  // namespace

void (*Mp3GraphRenderedHook)(IGraphBuilder* graph, IBaseFilter* grabber) = nullptr;
void (*Mp3GraphBeforeSwapHook)(IGraphBuilder* graph, IBaseFilter* grabber) = nullptr;

int DecodeMp3WithMediaGraph(SoundConversion* c) {
  // A loading worker has no COM of its own: it joins the multithreaded
  // apartment for the decode (a thread already in one keeps it).
  HRESULT joined = SystemLibs.CoInitializeExFunc != nullptr
                       ? SystemLibs.CoInitializeExFunc(nullptr, COINIT_MULTITHREADED)
                       : E_FAIL;
  int result = DecodeWithGraph(c);
  if (SUCCEEDED(joined) && SystemLibs.CoUninitializeFunc != nullptr) SystemLibs.CoUninitializeFunc();
  return result;
}

namespace {
int DecodeWithGraph(SoundConversion* c) {
  memset(&c->area, 0, sizeof(c->area));
  MemoryConvertArea* m = &c->area.memory;
  GraphParts p;
  memset(&p, 0, sizeof(p));

  // 1: the whole stream into memory.
  StreamFunctionTable& f = c->stream.functions;
  f.Seek(c->stream.handle, 0, FILE_STREAM_SEEK_END);
  int64_t fileSize = f.Tell(c->stream.handle);
  f.Seek(c->stream.handle, 0, FILE_STREAM_SEEK_SET);
  if (fileSize < 0 || fileSize > 0x7FFFFFFF) return Fail(&p, c, nullptr);
  // An empty stream goes on to be refused by the graph, with its log line.
  p.image = static_cast<unsigned char*>(MemAlloc(fileSize > 0 ? static_cast<size_t>(fileSize) : 1, "DeVirERer", 3120));
  if (p.image == nullptr) return Fail(&p, c, nullptr);
  if (fileSize > 0 &&
      static_cast<int64_t>(f.Read(p.image, 1, static_cast<size_t>(fileSize), c->stream.handle)) != fileSize) {
    return Fail(&p, c, nullptr);
  }

  // Only MPEG audio goes to the platform's graph: its parsers take any
  // stream they recognise, damaged ones included, and some of those hang or
  // end the process.
  if (!LooksLikeMpegAudio(p.image, fileSize)) return Fail(&p, c, LOG_NOT_MPEG_AUDIO);

  // Rendering sometimes leaves the grabber out of the chain it builds (the
  // platform's choice, not the stream's): a graph whose grabber is not
  // connected is built once more before the stream counts as soundless.
  AM_MEDIA_TYPE connected;
  for (int attempt = 0;; attempt++) {
    // 2-3: the memory source.
    p.stream = new (std::nothrow) D_CMemStream(p.image, fileSize, 0xFFFFFFFF);
    if (p.stream == nullptr) return Fail(&p, c, LOG_MEMSTREAM_FAILED);
    D_CMediaType streamType;
    streamType.majortype = MEDIATYPE_Stream;
    streamType.subtype = MEDIASUBTYPE_MPEG1Audio;
    HRESULT hr = E_FAIL;
    p.reader = D_CMemReader::Create(p.stream, &streamType, &hr);
    if (p.reader == nullptr || FAILED(hr)) return Fail(&p, c, LOG_MEMREADER_FAILED);
    p.readerFilter = p.reader;
    p.readerFilter->AddRef();

    // 4-6: null renderer, graph, grabber.
    hr = CreateComInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                           reinterpret_cast<void**>(&p.nullRenderer), 0);
    if (FAILED(hr) || p.nullRenderer == nullptr) return Fail(&p, c, LOG_NULLRENDER_FAILED);
    hr = CreateComInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_IGraphBuilder,
                           reinterpret_cast<void**>(&p.graph), 0);
    if (FAILED(hr) || p.graph == nullptr) return Fail(&p, c, LOG_GRAPH_FAILED);
    p.grabber = D_CSampleGrabber::CreateInstance(nullptr, &hr);
    if (p.grabber == nullptr) return Fail(&p, c, LOG_GRABBER_FAILED);

    // 7-9: the grabber takes PCM audio only; both filters into the graph.
    D_CMediaType pcm;
    pcm.majortype = MEDIATYPE_Audio;
    pcm.subtype = MEDIASUBTYPE_PCM;
    if (p.grabber->SetAcceptedMediaType(&pcm) != S_OK) return Fail(&p, c, LOG_GRABBER_TYPE_FAILED);
    if (FAILED(p.graph->AddFilter(p.grabber, L"SampleGrabber"))) return Fail(&p, c, LOG_ADD_GRABBER_FAILED);
    if (FAILED(p.graph->AddFilter(p.readerFilter, L"MemFile"))) return Fail(&p, c, LOG_ADD_MEMFILE_FAILED);

    // 10: rendering builds reader -> parser -> decoder -> grabber -> renderer.
    if (FAILED(p.graph->Render(p.reader->GetPin(0)))) return Fail(&p, c, LOG_RENDER_FAILED);
    if (Mp3GraphBeforeSwapHook != nullptr) Mp3GraphBeforeSwapHook(p.graph, p.grabber);

    // 11-13: the chosen renderer gives way to the null renderer, and leaves
    // the graph (a renderer left in it could keep completion from arriving).
    if (FAILED(p.graph->AddFilter(p.nullRenderer, L"File Renderer"))) return Fail(&p, c, LOG_ADD_NULLRENDER_FAILED);
    IBaseFilter* oldRenderer = nullptr;
    IPin* feeding = TakeOverRenderer(p.graph, &oldRenderer);
    IPin* nullInput = FindFilterPin(p.nullRenderer, PINDIR_INPUT);
    hr = feeding != nullptr && nullInput != nullptr ? ConnectNullRenderer(p.graph, p.grabber, feeding, nullInput)
                                                    : E_FAIL;
    if (oldRenderer != nullptr) {
      p.graph->RemoveFilter(oldRenderer);
      oldRenderer->Release();
    }
    if (feeding != nullptr) feeding->Release();
    if (nullInput != nullptr) nullInput->Release();
    if (hr != S_OK) return Fail(&p, c, LOG_SWAP_RENDERER_FAILED);
    if (Mp3GraphRenderedHook != nullptr) Mp3GraphRenderedHook(p.graph, p.grabber);

    // 14-15: the decoded format, as 16/8-bit PCM.
    memset(&connected, 0, sizeof(connected));
    if (p.grabber->GetConnectedMediaType(&connected) == S_OK) break;
    if (attempt > 0) return Fail(&p, c, LOG_NO_AUDIO);
    ReleaseFilters(&p);
  }
  D_CMediaType type;
  const HRESULT hr = type.Set(connected);
  FreeMediaTypeContents(&connected);
  if (FAILED(hr)) return Fail(&p, c, LOG_NO_AUDIO);
  if (type.formattype != FORMAT_WaveFormatEx || type.pbFormat == nullptr || type.cbFormat < sizeof(WAVEFORMAT)) {
    return Fail(&p, c, LOG_BAD_STREAM_FORMAT);
  }
  const WAVEFORMATEX* wave = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
  if (wave->wFormatTag != WAVE_FORMAT_PCM || wave->nChannels == 0 || wave->nBlockAlign == 0) {
    return Fail(&p, c, LOG_BAD_AUDIO_FORMAT);
  }
  memset(&c->outputFormat, 0, sizeof(c->outputFormat));
  c->outputFormat.wFormatTag = WAVE_FORMAT_PCM;
  c->outputFormat.nChannels = wave->nChannels;
  c->outputFormat.nSamplesPerSec = wave->nSamplesPerSec;
  c->outputFormat.nBlockAlign = wave->nBlockAlign;
  c->outputFormat.nAvgBytesPerSec = wave->nBlockAlign * wave->nSamplesPerSec;
  c->outputFormat.wBitsPerSample = static_cast<WORD>(wave->nBlockAlign * 8 / wave->nChannels);

  // 16-17: the callback and a first PCM block that grows as data arrives.
  if (p.grabber->SetCallback(Mp3GrabberCallback, static_cast<DWORD>(reinterpret_cast<uintptr_t>(c))) != S_OK) {
    return Fail(&p, c, LOG_CALLBACK_FAILED);
  }
  m->data = static_cast<unsigned char*>(MemAlloc(PCM_FIRST_CAPACITY, "DeVirERer", 3307));
  if (m->data == nullptr) return Fail(&p, c, LOG_PCM_ALLOC_FAILED);
  m->capacity = PCM_FIRST_CAPACITY;
  m->size = 0;

  // 18-21: no clock (as fast as the decoder goes), then run.
  if (FAILED(p.graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&p.mediaFilter)))) {
    return Fail(&p, c, LOG_MEDIAFILTER_FAILED);
  }
  p.mediaFilter->SetSyncSource(nullptr);
  if (FAILED(p.graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&p.control)))) {
    return Fail(&p, c, LOG_MEDIACONTROL_FAILED);
  }
  if (FAILED(p.graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&p.events)))) {
    return Fail(&p, c, LOG_MEDIAEVENT_FAILED);
  }
  if (FAILED(p.control->Run())) return Fail(&p, c, LOG_DECODE_ERROR);

  // 22-23: wait, then stop the graph before the PCM is handed out.
  if (WaitForDecode(p.events, c) != 0) return Fail(&p, c, nullptr);
  p.control->Stop();
  p.grabber->SetCallback(nullptr, 0);
  if (m->data == nullptr) return Fail(&p, c, LOG_PCM_REALLOC_FAILED);
  c->blockSize = static_cast<int>(c->outputFormat.nAvgBytesPerSec);
  c->kind = SOUND_CONVERT_MEMORY;
  m->readPosition = 0;
  ReleaseGraph(&p);
  return 0;
}
}  // namespace
