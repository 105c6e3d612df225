// The DirectShow base layer in a real filter graph (the platform's graph
// manager under Wine): a push source, an in-place transform and a renderer,
// all built on our base classes, connect, run, deliver every sample in
// order, report completion, stop, and leave no reference behind. Direct
// calls: the allocator's waiting and decommit, the memory reader's
// IAsyncReader.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "DShowBase.h"
#include "ZoRevOStrmBaseFilterGrabber.h"

#include <mmreg.h>

using namespace RiDov;

namespace {

constexpr int kSamples = 12;
constexpr LONG kSampleBytes = 400;
constexpr REFERENCE_TIME kSampleTime = 200000;  // 20 ms

struct ComScope {
  ComScope() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~ComScope() { CoUninitialize(); }
};

void FillPcmType(D_CMediaType* type) {
  WAVEFORMATEX wave = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  AM_MEDIA_TYPE t;
  memset(&t, 0, sizeof(t));
  t.majortype = MEDIATYPE_Audio;
  t.subtype = MEDIASUBTYPE_PCM;
  t.formattype = FORMAT_WaveFormatEx;
  t.bFixedSizeSamples = TRUE;
  t.lSampleSize = 4;
  t.cbFormat = sizeof(wave);
  t.pbFormat = reinterpret_cast<BYTE*>(&wave);
  type->Set(t);
}

int destroyed = 0;
int sourceBuffers = 3;  // what the test source asks of the allocator

class TestSource;

class TestSourcePin : public D_CBaseOutputPin {
 public:
  TestSourcePin(D_CBaseFilter* filter, D_CCritSec* lock) : D_CBaseOutputPin(filter, lock, L"Out") {}
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override {
    D_CMediaType mine;
    FillPcmType(&mine);
    return type->majortype == mine.majortype && type->subtype == mine.subtype ? S_OK : S_FALSE;
  }
  HRESULT GetMediaType(int position, D_CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    FillPcmType(type);
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    ALLOCATOR_PROPERTIES want = *request, got;
    want.cBuffers = sourceBuffers;
    want.cbBuffer = kSampleBytes;
    return allocator->SetProperties(&want, &got);
  }
};

// Pushes kSamples samples (byte i of sample n = n + i) from a thread of its
// own while running, then the end of stream.
class TestSource : public D_CBaseFilter {
 public:
  TestSource() : D_CBaseFilter(L"TestSource", nullptr, &lock_, GUID_NULL), pin_(this, &lock_), thread_(nullptr) {}
  ~TestSource() override {
    Join();
    destroyed++;
  }
  int GetPinCount() override { return 1; }
  D_CBasePin* GetPin(int index) override { return index == 0 ? &pin_ : nullptr; }
  STDMETHODIMP Run(REFERENCE_TIME start) override {
    HRESULT hr = D_CBaseFilter::Run(start);
    if (SUCCEEDED(hr) && thread_ == nullptr) thread_ = CreateThread(nullptr, 0, &Push, this, 0, nullptr);
    return hr;
  }
  STDMETHODIMP Stop() override {
    HRESULT hr = D_CBaseFilter::Stop();
    Join();
    return hr;
  }
  TestSourcePin* Pin() { return &pin_; }

 private:
  void Join() {
    if (thread_ == nullptr) return;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  static DWORD WINAPI Push(void* self) {
    TestSource* s = static_cast<TestSource*>(self);
    for (int n = 0; n < kSamples; n++) {
      REFERENCE_TIME start = n * kSampleTime, end = start + kSampleTime;
      IMediaSample* sample = nullptr;
      if (s->pin_.GetDeliveryBuffer(&sample, &start, &end, 0) != S_OK) return 0;
      BYTE* data = nullptr;
      sample->GetPointer(&data);
      for (LONG i = 0; i < kSampleBytes; i++) data[i] = static_cast<BYTE>(n + i);
      sample->SetActualDataLength(kSampleBytes);
      HRESULT hr = s->pin_.Deliver(sample);
      sample->Release();
      if (hr != S_OK) return 0;
    }
    s->pin_.DeliverEndOfStream();
    return 0;
  }
  D_CCritSec lock_;
  TestSourcePin pin_;
  HANDLE thread_;
};

class TestTransform : public D_CTransInPlaceFilter {
 public:
  TestTransform() : D_CTransInPlaceFilter(L"TestTransform", nullptr, GUID_NULL, false), seen(0) {
    SetPins(new D_CTransInPlaceInputPin(this, &filterLock_, L"Input"),
            new D_CTransInPlaceOutputPin(this, &filterLock_, L"Output"));
  }
  ~TestTransform() override { destroyed++; }
  HRESULT CheckInputType(const AM_MEDIA_TYPE* type) override {
    return type->majortype == MEDIATYPE_Audio ? S_OK : VFW_E_INVALID_MEDIA_TYPE;
  }
  HRESULT Transform(IMediaSample*) override {
    seen++;
    return S_OK;
  }
  volatile LONG seen;
};

class TestRenderer : public D_CBaseRenderer {
 public:
  TestRenderer() : D_CBaseRenderer(GUID_NULL, L"TestRenderer", nullptr, &created) {}
  ~TestRenderer() override { destroyed++; }
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override {
    return type->formattype == FORMAT_WaveFormatEx ? S_OK : E_FAIL;
  }
  HRESULT DoRenderSample(IMediaSample* sample) override {
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    firstBytes.push_back(data[0]);
    lengths.push_back(sample->GetActualDataLength());
    return S_OK;
  }
  HRESULT created;
  std::vector<int> firstBytes;
  std::vector<LONG> lengths;
};

template <class T>
T* Query(IUnknown* from, REFIID iid) {
  T* out = nullptr;
  return SUCCEEDED(from->QueryInterface(iid, reinterpret_cast<void**>(&out))) ? out : nullptr;
}

struct GraphRun {
  long code = 0;
  HRESULT waited = E_FAIL;
  DWORD elapsedMs = 0;
};

// Builds source -> transform -> renderer, runs it (with or without the
// graph's clock) to completion and releases the graph.
GraphRun RunChain(TestSource* source, IBaseFilter* middle, IPin* middleIn, IPin* middleOut, TestRenderer* renderer,
                  bool withClock) {
  GraphRun result;
  IGraphBuilder* graph = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  if (graph == nullptr) return result;
  EXPECT_EQ(graph->AddFilter(source, L"Source"), S_OK);
  EXPECT_EQ(graph->AddFilter(middle, L"Middle"), S_OK);
  EXPECT_EQ(graph->AddFilter(renderer, L"Renderer"), S_OK);
  EXPECT_EQ(graph->ConnectDirect(source->Pin(), middleIn, nullptr), S_OK);
  EXPECT_EQ(graph->ConnectDirect(middleOut, renderer->InputPin(), nullptr), S_OK);
  // In place: the renderer gets upstream's allocator, and the same type.
  EXPECT_EQ(renderer->InputPin()->PeekAllocator(), source->Pin()->PeekAllocator());
  EXPECT_EQ(renderer->InputPin()->CurrentMediaType().subtype, MEDIASUBTYPE_PCM);

  IMediaFilter* filter = Query<IMediaFilter>(graph, IID_IMediaFilter);
  IMediaControl* control = Query<IMediaControl>(graph, IID_IMediaControl);
  IMediaEvent* events = Query<IMediaEvent>(graph, IID_IMediaEvent);
  if (filter != nullptr && control != nullptr && events != nullptr) {
    if (!withClock) {
      EXPECT_EQ(filter->SetSyncSource(nullptr), S_OK);
    }
    DWORD began = GetTickCount();
    EXPECT_TRUE(SUCCEEDED(control->Run()));
    result.waited = events->WaitForCompletion(10000, &result.code);
    result.elapsedMs = GetTickCount() - began;
    EXPECT_TRUE(SUCCEEDED(control->Stop()));
  }
  if (events != nullptr) events->Release();
  if (control != nullptr) control->Release();
  if (filter != nullptr) filter->Release();
  graph->Release();
  return result;
}

TEST(DShowGraph, ChainConnectsRunsDeliversInOrderAndLeavesNoReference) {
  ComScope com;
  destroyed = 0;
  TestSource* source = new TestSource();
  TestTransform* transform = new TestTransform();
  TestRenderer* renderer = new TestRenderer();
  ASSERT_EQ(renderer->created, S_OK);
  GraphRun run = RunChain(source, transform, transform->InputPin(), transform->OutputPin(), renderer, false);
  EXPECT_EQ(run.waited, S_OK);
  EXPECT_EQ(run.code, EC_COMPLETE);
  EXPECT_EQ(transform->seen, kSamples);
  ASSERT_EQ(renderer->firstBytes.size(), static_cast<size_t>(kSamples));
  for (int n = 0; n < kSamples; n++) {
    EXPECT_EQ(renderer->firstBytes[n], n) << n;
    EXPECT_EQ(renderer->lengths[n], kSampleBytes) << n;
  }
  // The released graph let go of everything: ours is the last reference.
  EXPECT_EQ(source->ReferenceCount(), 1);
  EXPECT_EQ(transform->ReferenceCount(), 1);
  EXPECT_EQ(renderer->ReferenceCount(), 1);
  EXPECT_FALSE(renderer->InputPin()->IsConnected());
  EXPECT_EQ(source->Release(), 0u);
  EXPECT_EQ(transform->Release(), 0u);
  EXPECT_EQ(renderer->Release(), 0u);
  EXPECT_EQ(destroyed, 3);
}

TEST(DShowGraph, RendererHoldsSamplesToTheirClockTime) {
  ComScope com;
  TestSource* source = new TestSource();
  TestTransform* transform = new TestTransform();
  TestRenderer* renderer = new TestRenderer();
  GraphRun run = RunChain(source, transform, transform->InputPin(), transform->OutputPin(), renderer, true);
  EXPECT_EQ(run.code, EC_COMPLETE);
  EXPECT_EQ(renderer->RenderedCount(), kSamples);
  // The last sample starts at (kSamples - 1) x 20 ms on the graph's clock.
  EXPECT_GE(run.elapsedMs + 15, static_cast<DWORD>((kSamples - 1) * kSampleTime / 10000));
  source->Release();
  transform->Release();
  renderer->Release();
}

TEST(DShowGraph, AllocatorWaitsForAFreeSampleAndDecommitWakesTheWaiter) {
  D_CMemAllocator* allocator = D_CMemAllocator::Create();
  ASSERT_NE(allocator, nullptr);
  ALLOCATOR_PROPERTIES want = {1, 64, 16, 0}, got;
  ASSERT_EQ(allocator->SetProperties(&want, &got), S_OK);
  IMediaSample* sample = nullptr;
  EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  ASSERT_EQ(allocator->Commit(), S_OK);
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 16, 0u);
  IMediaSample* second = nullptr;
  EXPECT_EQ(allocator->GetBuffer(&second, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
  // A waiter on another thread is woken by the decommit.
  struct Waiter {
    static DWORD WINAPI Run(void* a) {
      IMediaSample* s = nullptr;
      return static_cast<DWORD>(static_cast<D_CMemAllocator*>(a)->GetBuffer(&s, nullptr, nullptr, 0));
    }
  };
  HANDLE thread = CreateThread(nullptr, 0, &Waiter::Run, allocator, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 100), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(allocator->Decommit(), S_OK);
  EXPECT_EQ(WaitForSingleObject(thread, 2000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(static_cast<HRESULT>(code), VFW_E_NOT_COMMITTED);
  CloseHandle(thread);
  // The sample out keeps the allocator: its release frees the last of it.
  EXPECT_EQ(allocator->Release(), 1u);
  EXPECT_EQ(sample->Release(), 0u);
}

TEST(DShowGraph, MemoryReaderAnswersSyncAndQueuedReads) {
  std::vector<BYTE> bytes(1000);
  for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<BYTE>(i * 7);
  D_CMemStream stream(bytes.data(), static_cast<LONGLONG>(bytes.size()), 0xFFFFFFFF);
  AM_MEDIA_TYPE type;
  memset(&type, 0, sizeof(type));
  type.majortype = MEDIATYPE_Stream;
  type.subtype = MEDIASUBTYPE_MPEG1Audio;
  HRESULT hr = E_FAIL;
  D_CMemReader* reader = D_CMemReader::Create(&stream, &type, &hr);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(hr, S_OK);
  IAsyncReader* async = Query<IAsyncReader>(reader->GetPin(0), IID_IAsyncReader);
  ASSERT_NE(async, nullptr);
  LONGLONG total = 0, available = 0;
  EXPECT_EQ(async->Length(&total, &available), S_OK);
  EXPECT_EQ(total, 1000);
  BYTE buffer[100];
  EXPECT_EQ(async->SyncRead(10, 20, buffer), S_OK);
  EXPECT_EQ(memcmp(buffer, bytes.data() + 10, 20), 0);
  EXPECT_EQ(async->SyncRead(990, 20, buffer), S_FALSE);  // short at the end

  ALLOCATOR_PROPERTIES want = {2, 100, 1, 0};
  IMemAllocator* allocator = nullptr;
  ASSERT_EQ(async->RequestAllocator(nullptr, &want, &allocator), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* sample = nullptr;
  REFERENCE_TIME start = 500 * 10000000LL, end = 600 * 10000000LL;
  ASSERT_EQ(allocator->GetBuffer(&sample, &start, &end, 0), S_OK);
  EXPECT_EQ(async->Request(sample, 77), S_OK);
  IMediaSample* done = nullptr;
  DWORD_PTR user = 0;
  EXPECT_EQ(async->WaitForNext(0, &done, &user), S_OK);
  EXPECT_EQ(done, sample);
  EXPECT_EQ(user, 77u);
  BYTE* data = nullptr;
  done->GetPointer(&data);
  EXPECT_EQ(memcmp(data, bytes.data() + 500, 100), 0);
  EXPECT_EQ(async->WaitForNext(10, &done, &user), VFW_E_TIMEOUT);
  // Flushing: nothing pending, the wait ends at once.
  EXPECT_EQ(async->BeginFlush(), S_OK);
  EXPECT_EQ(async->WaitForNext(INFINITE, &done, &user), VFW_E_WRONG_STATE);
  EXPECT_EQ(done, nullptr);
  EXPECT_EQ(async->Request(sample, 1), VFW_E_WRONG_STATE);
  EXPECT_EQ(async->EndFlush(), S_OK);
  sample->Release();
  allocator->Decommit();
  allocator->Release();
  async->Release();
  EXPECT_EQ(reader->Release(), 0u);
}

// ---- sample grabber ----

struct Grabbed {
  std::vector<int> firstBytes;
  std::vector<int> typeChanged;
  std::vector<REFERENCE_TIME> starts;
  std::vector<BYTE*> pointers;
  DWORD userData = 0;
};

HRESULT RecordSample(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME*, int typeChanged, DWORD user) {
  Grabbed* g = reinterpret_cast<Grabbed*>(static_cast<uintptr_t>(user));
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  g->firstBytes.push_back(data[0]);
  g->typeChanged.push_back(typeChanged);
  g->starts.push_back(*start);
  g->pointers.push_back(data);
  g->userData = user;
  return S_OK;
}

AM_MEDIA_TYPE PlainType(const GUID& major, const GUID& sub, const GUID& format) {
  AM_MEDIA_TYPE t;
  memset(&t, 0, sizeof(t));
  t.majortype = major;
  t.subtype = sub;
  t.formattype = format;
  return t;
}

TEST(SampleGrabber, AcceptedTypeDecidesTheInputTable) {
  HRESULT hr = E_FAIL;
  D_CSampleGrabber* grabber = D_CSampleGrabber::CreateInstance(nullptr, &hr);
  ASSERT_NE(grabber, nullptr);
  EXPECT_EQ(hr, S_OK);
  const AM_MEDIA_TYPE pcm = PlainType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
  const AM_MEDIA_TYPE video = PlainType(MEDIATYPE_Video, MEDIASUBTYPE_RGB32, FORMAT_VideoInfo);
  const AM_MEDIA_TYPE audioOther = PlainType(MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1AudioPayload, FORMAT_WaveFormatEx);
  const AM_MEDIA_TYPE pcmNoFormat = PlainType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_None);
  const AM_MEDIA_TYPE acceptPcm = PlainType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, GUID_NULL);
  const AM_MEDIA_TYPE acceptPcmWave = PlainType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx);
  struct Row {
    const AM_MEDIA_TYPE* accepted;  // null: nothing set
    const AM_MEDIA_TYPE* offered;
    HRESULT expected;
  };
  const Row rows[] = {
      {nullptr, &video, S_OK},
      {nullptr, &pcm, S_OK},
      {&acceptPcm, &pcm, S_OK},
      {&acceptPcm, &pcmNoFormat, S_OK},
      {&acceptPcm, &video, VFW_E_INVALID_MEDIA_TYPE},
      {&acceptPcm, &audioOther, VFW_E_INVALID_MEDIA_TYPE},
      {&acceptPcmWave, &pcmNoFormat, VFW_E_INVALID_MEDIA_TYPE},
      {&acceptPcmWave, &pcm, S_OK},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(grabber->SetAcceptedMediaType(row.accepted), S_OK);
    EXPECT_EQ(grabber->CheckInputType(row.offered), row.expected) << (&row - rows);
  }
  EXPECT_EQ(grabber->CheckInputType(nullptr), E_POINTER);
  AM_MEDIA_TYPE connected;
  EXPECT_EQ(grabber->GetConnectedMediaType(&connected), VFW_E_NOT_CONNECTED);
  // The grabber interface by its id.
  IGrabberSample* grab = Query<IGrabberSample>(static_cast<IBaseFilter*>(grabber), IID_IGrabberSample);
  ASSERT_NE(grab, nullptr);
  grab->Release();
  EXPECT_EQ(grabber->Release(), 0u);
}

TEST(SampleGrabber, CallbackSeesEverySampleWithTypeChangeOnceAndPassesItOn) {
  ComScope com;
  HRESULT hr = E_FAIL;
  D_CSampleGrabber* grabber = D_CSampleGrabber::CreateInstance(nullptr, &hr);
  ASSERT_NE(grabber, nullptr);
  const AM_MEDIA_TYPE acceptPcm = PlainType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, GUID_NULL);
  ASSERT_EQ(grabber->SetAcceptedMediaType(&acceptPcm), S_OK);
  Grabbed grabbed;
  DWORD user = static_cast<DWORD>(reinterpret_cast<uintptr_t>(&grabbed));
  ASSERT_EQ(grabber->SetCallback(&RecordSample, user), S_OK);
  TestSource* source = new TestSource();
  TestRenderer* renderer = new TestRenderer();
  GraphRun run = RunChain(source, grabber, grabber->InputPin(), grabber->OutputPin(), renderer, false);
  EXPECT_EQ(run.code, EC_COMPLETE);
  ASSERT_EQ(grabbed.firstBytes.size(), static_cast<size_t>(kSamples));
  EXPECT_EQ(grabbed.userData, user);
  for (int n = 0; n < kSamples; n++) {
    EXPECT_EQ(grabbed.firstBytes[n], n);
    EXPECT_EQ(grabbed.typeChanged[n], n == 0 ? 1 : 0) << n;
    EXPECT_EQ(grabbed.starts[n], n * kSampleTime) << n;
  }
  EXPECT_EQ(renderer->firstBytes.size(), static_cast<size_t>(kSamples));  // passed on unchanged
  EXPECT_EQ(grabber->ReferenceCount(), 1);
  source->Release();
  renderer->Release();
  EXPECT_EQ(grabber->Release(), 0u);
}

TEST(SampleGrabber, DeliveryBufferHoldsTheSamplesAndIsRefusedWhenConnected) {
  ComScope com;
  HRESULT hr = E_FAIL;
  D_CSampleGrabber* grabber = D_CSampleGrabber::CreateInstance(nullptr, &hr);
  ASSERT_NE(grabber, nullptr);
  static BYTE buffer[kSampleBytes];
  ALLOCATOR_PROPERTIES two = {2, kSampleBytes, 1, 0};
  EXPECT_EQ(grabber->SetDeliveryBuffer(two, buffer), E_INVALIDARG);
  ALLOCATOR_PROPERTIES one = {1, kSampleBytes, 1, 0};
  EXPECT_EQ(grabber->SetDeliveryBuffer(one, nullptr), E_POINTER);
  ASSERT_EQ(grabber->SetDeliveryBuffer(one, buffer), S_OK);
  Grabbed grabbed;
  grabber->SetCallback(&RecordSample, static_cast<DWORD>(reinterpret_cast<uintptr_t>(&grabbed)));
  IGraphBuilder* graph = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  sourceBuffers = 1;
  TestSource* source = new TestSource();
  graph->AddFilter(source, L"Source");
  graph->AddFilter(grabber, L"Grabber");
  EXPECT_EQ(graph->ConnectDirect(source->Pin(), grabber->InputPin(), nullptr), S_OK);
  EXPECT_EQ(grabber->SetDeliveryBuffer(one, buffer), E_INVALIDARG);
  AM_MEDIA_TYPE connected;
  ASSERT_EQ(grabber->GetConnectedMediaType(&connected), S_OK);
  EXPECT_EQ(connected.subtype, MEDIASUBTYPE_PCM);
  FreeMediaTypeContents(&connected);
  IMediaControl* control = Query<IMediaControl>(graph, IID_IMediaControl);
  IMediaFilter* filter = Query<IMediaFilter>(graph, IID_IMediaFilter);
  filter->SetSyncSource(nullptr);
  control->Run();
  for (int i = 0; i < 200 && grabbed.firstBytes.size() < static_cast<size_t>(kSamples); i++) Sleep(10);
  control->Stop();
  sourceBuffers = 3;
  ASSERT_EQ(grabbed.firstBytes.size(), static_cast<size_t>(kSamples));
  for (BYTE* p : grabbed.pointers) EXPECT_EQ(p, buffer);
  EXPECT_EQ(buffer[0], kSamples - 1);  // the last sample's bytes are in the owner's buffer
  filter->Release();
  control->Release();
  graph->Release();
  source->Release();
  EXPECT_EQ(grabber->Release(), 0u);
}

}  // namespace
