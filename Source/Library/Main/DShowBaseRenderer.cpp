// DirectShow base layer: the base renderer (one input pin, samples held to
// their time on the graph's clock, end of stream reported as EC_COMPLETE,
// seeking passed upstream) and the memory source (D_CMemStream and the
// D_CMemReader filter whose output pin is an IAsyncReader).
// Threads: samples arrive on upstream's streaming thread and wait there
// without the filter lock (the renderer's receive lock is held meanwhile);
// Stop, Pause, Run and flushing wake a waiting sample through an event. The
// reader answers requests at once, queueing them for WaitForNext under its
// queue lock.
// Platform: IReferenceClock::GetTime, IMediaSeeking of the upstream pin,
// IMediaEventSink of the graph, events.
#include <new>
#include <string.h>

#include "DShowBase.h"

namespace RiDov {

namespace {

const REFERENCE_TIME UNITS_PER_BYTE = 10000000;  // the reader's byte positions as times
const DWORD LONGEST_WAIT_MS = 1000;              // a held sample re-checks its state at least this often

}  // namespace

// ---- renderer input pin ----

D_CRendererInputPin::D_CRendererInputPin(D_CBaseRenderer* renderer, D_CCritSec* lock, const wchar_t* name)
    : D_CBaseInputPin(renderer, lock, name), renderer_(renderer) {}

HRESULT D_CRendererInputPin::CheckMediaType(const AM_MEDIA_TYPE* type) { return renderer_->CheckMediaType(type); }

HRESULT D_CRendererInputPin::SetMediaType(const AM_MEDIA_TYPE* type) {
  HRESULT hr = D_CBaseInputPin::SetMediaType(type);
  if (FAILED(hr)) return hr;
  return renderer_->SetMediaType(type);
}

HRESULT D_CRendererInputPin::BreakConnect() {
  renderer_->BreakConnect();
  return D_CBaseInputPin::BreakConnect();
}

STDMETHODIMP D_CRendererInputPin::Receive(IMediaSample* sample) {
  HRESULT hr = D_CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  return renderer_->Receive(sample);
}

STDMETHODIMP D_CRendererInputPin::EndOfStream() {
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  return renderer_->EndOfStream();
}

STDMETHODIMP D_CRendererInputPin::BeginFlush() {
  D_CBaseInputPin::BeginFlush();
  return renderer_->BeginFlush();
}

STDMETHODIMP D_CRendererInputPin::EndFlush() {
  renderer_->EndFlush();
  return D_CBaseInputPin::EndFlush();
}

// ---- renderer ----

D_CBaseRenderer::D_CBaseRenderer(REFCLSID clsid, const wchar_t* name, IUnknown* outer, HRESULT* result)
    : D_CBaseFilter(name, outer, &filterLock_, clsid), input_(nullptr),
      wakeEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)), endOfStream_(false), completeSent_(false),
      prerolled_(false), rendered_(0) {
  input_ = new (std::nothrow) D_CRendererInputPin(this, &filterLock_, L"In");
  if (result != nullptr) *result = input_ != nullptr && wakeEvent_ != nullptr ? S_OK : E_OUTOFMEMORY;
}

D_CBaseRenderer::~D_CBaseRenderer() {
  delete input_;
  if (wakeEvent_ != nullptr) CloseHandle(wakeEvent_);
}

STDMETHODIMP D_CBaseRenderer::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IMediaSeeking) {
    return GiveInterface(static_cast<IMediaSeeking*>(this), out);
  }
  if (iid == IID_IAMFilterMiscFlags) {
    return GiveInterface(static_cast<IAMFilterMiscFlags*>(this), out);
  }
  return D_CBaseFilter::QueryInterface(iid, out);
}

STDMETHODIMP_(ULONG) D_CBaseRenderer::AddRef() { return D_CBaseFilter::AddRef(); }
STDMETHODIMP_(ULONG) D_CBaseRenderer::Release() { return D_CBaseFilter::Release(); }

int D_CBaseRenderer::GetPinCount() { return 1; }
D_CBasePin* D_CBaseRenderer::GetPin(int index) { return index == 0 ? input_ : nullptr; }

HRESULT D_CBaseRenderer::SetMediaType(const AM_MEDIA_TYPE*) { return S_OK; }
HRESULT D_CBaseRenderer::BreakConnect() { return S_OK; }

STDMETHODIMP D_CBaseRenderer::Stop() {
  D_CAutoLock lock(&filterLock_);
  HRESULT hr = D_CBaseFilter::Stop();
  endOfStream_ = false;
  completeSent_ = false;
  prerolled_ = false;
  SetEvent(wakeEvent_);
  return hr;
}

STDMETHODIMP D_CBaseRenderer::Pause() {
  D_CAutoLock lock(&filterLock_);
  if (state_ == State_Stopped) {
    endOfStream_ = false;
    completeSent_ = false;
    prerolled_ = false;
  }
  HRESULT hr = D_CBaseFilter::Pause();
  SetEvent(wakeEvent_);
  return hr;
}

STDMETHODIMP D_CBaseRenderer::Run(REFERENCE_TIME start) {
  D_CAutoLock lock(&filterLock_);
  if (state_ == State_Stopped) {
    endOfStream_ = false;
    completeSent_ = false;
    prerolled_ = false;
  }
  HRESULT hr = D_CBaseFilter::Run(start);
  if (FAILED(hr)) return hr;
  SetEvent(wakeEvent_);
  if (endOfStream_ && !completeSent_) {
    completeSent_ = true;
    NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
  }
  return hr;
}

HRESULT D_CBaseRenderer::Receive(IMediaSample* sample) {
  D_CAutoLock streaming(&receiveLock_);
  for (;;) {
    filterLock_.Lock();
    if (state_ == State_Stopped || input_->IsFlushing()) {
      filterLock_.Unlock();
      return state_ == State_Stopped ? VFW_E_WRONG_STATE : S_FALSE;
    }
    if (state_ == State_Paused) {
      if (!prerolled_) {
        prerolled_ = true;  // the first sample shows at once while paused
        filterLock_.Unlock();
        break;
      }
      filterLock_.Unlock();
      WaitForSingleObject(wakeEvent_, LONGEST_WAIT_MS);
      continue;
    }
    // Running: hold the sample until its start time on the clock.
    REFERENCE_TIME start = 0, end = 0;
    DWORD waitMs = 0;
    if (clock_ != nullptr && SUCCEEDED(sample->GetTime(&start, &end))) {
      REFERENCE_TIME now = 0;
      clock_->GetTime(&now);
      REFERENCE_TIME due = start_ + start;
      if (due > now) {
        REFERENCE_TIME ms = (due - now) / 10000 + 1;
        waitMs = ms > LONGEST_WAIT_MS ? LONGEST_WAIT_MS : static_cast<DWORD>(ms);
      }
    }
    filterLock_.Unlock();
    if (waitMs == 0) break;
    WaitForSingleObject(wakeEvent_, waitMs);
  }
  HRESULT hr = DoRenderSample(sample);
  InterlockedIncrement(&rendered_);
  return hr;
}

HRESULT D_CBaseRenderer::EndOfStream() {
  D_CAutoLock streaming(&receiveLock_);
  D_CAutoLock lock(&filterLock_);
  endOfStream_ = true;
  if (state_ == State_Running && !completeSent_) {
    completeSent_ = true;
    NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
  }
  return S_OK;
}

HRESULT D_CBaseRenderer::BeginFlush() {
  SetEvent(wakeEvent_);
  return S_OK;
}

HRESULT D_CBaseRenderer::EndFlush() {
  D_CAutoLock lock(&filterLock_);
  endOfStream_ = false;
  completeSent_ = false;
  prerolled_ = false;
  return S_OK;
}

STDMETHODIMP_(ULONG) D_CBaseRenderer::GetMiscFlags() { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

IMediaSeeking* D_CBaseRenderer::UpstreamSeeking() {
  D_CAutoLock lock(&filterLock_);
  IPin* upstream = input_->GetConnected();
  IMediaSeeking* seeking = nullptr;
  if (upstream == nullptr || FAILED(upstream->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)))) {
    return nullptr;
  }
  return seeking;
}

// Each seeking call goes to the pin upstream of ours; E_NOTIMPL without one.
#define D_PASS_SEEKING(call)                  \
  IMediaSeeking* seeking = UpstreamSeeking(); \
  if (seeking == nullptr) return E_NOTIMPL;   \
  HRESULT hr = seeking->call;                 \
  seeking->Release();                         \
  return hr

STDMETHODIMP D_CBaseRenderer::GetCapabilities(DWORD* capabilities) { D_PASS_SEEKING(GetCapabilities(capabilities)); }
STDMETHODIMP D_CBaseRenderer::CheckCapabilities(DWORD* capabilities) {
  D_PASS_SEEKING(CheckCapabilities(capabilities));
}

STDMETHODIMP D_CBaseRenderer::IsFormatSupported(const GUID* format) {
  if (format == nullptr) return E_POINTER;
  IMediaSeeking* seeking = UpstreamSeeking();
  if (seeking == nullptr) return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
  HRESULT hr = seeking->IsFormatSupported(format);
  seeking->Release();
  return hr;
}

STDMETHODIMP D_CBaseRenderer::QueryPreferredFormat(GUID* format) { D_PASS_SEEKING(QueryPreferredFormat(format)); }
STDMETHODIMP D_CBaseRenderer::GetTimeFormat(GUID* format) { D_PASS_SEEKING(GetTimeFormat(format)); }
STDMETHODIMP D_CBaseRenderer::IsUsingTimeFormat(const GUID* format) { D_PASS_SEEKING(IsUsingTimeFormat(format)); }
STDMETHODIMP D_CBaseRenderer::SetTimeFormat(const GUID* format) { D_PASS_SEEKING(SetTimeFormat(format)); }
STDMETHODIMP D_CBaseRenderer::GetDuration(LONGLONG* duration) { D_PASS_SEEKING(GetDuration(duration)); }
STDMETHODIMP D_CBaseRenderer::GetStopPosition(LONGLONG* stop) { D_PASS_SEEKING(GetStopPosition(stop)); }
STDMETHODIMP D_CBaseRenderer::GetCurrentPosition(LONGLONG* current) { D_PASS_SEEKING(GetCurrentPosition(current)); }
STDMETHODIMP D_CBaseRenderer::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                                const GUID* sourceFormat) {
  D_PASS_SEEKING(ConvertTimeFormat(target, targetFormat, source, sourceFormat));
}
STDMETHODIMP D_CBaseRenderer::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  D_PASS_SEEKING(SetPositions(current, currentFlags, stop, stopFlags));
}
STDMETHODIMP D_CBaseRenderer::GetPositions(LONGLONG* current, LONGLONG* stop) {
  D_PASS_SEEKING(GetPositions(current, stop));
}
STDMETHODIMP D_CBaseRenderer::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  D_PASS_SEEKING(GetAvailable(earliest, latest));
}
STDMETHODIMP D_CBaseRenderer::SetRate(double rate) { D_PASS_SEEKING(SetRate(rate)); }
STDMETHODIMP D_CBaseRenderer::GetRate(double* rate) { D_PASS_SEEKING(GetRate(rate)); }
STDMETHODIMP D_CBaseRenderer::GetPreroll(LONGLONG* preroll) { D_PASS_SEEKING(GetPreroll(preroll)); }

#undef D_PASS_SEEKING

// ---- memory source ----

D_CMemStream::D_CMemStream(const BYTE* data, LONGLONG length, DWORD rateLimit)
    : data_(data), length_(length < 0 ? 0 : length), rateLimit_(rateLimit) {}

HRESULT D_CMemStream::Read(LONGLONG position, LONG length, BYTE* buffer, LONG* read) {
  *read = 0;
  if (length < 0) return E_INVALIDARG;
  if (position < 0 || position >= length_) return length == 0 ? S_OK : S_FALSE;
  LONGLONG left = length_ - position;
  LONG n = left < length ? static_cast<LONG>(left) : length;
  memcpy(buffer, data_ + position, static_cast<size_t>(n));
  *read = n;
  return n == length ? S_OK : S_FALSE;
}

D_CAsyncOutputPin::D_CAsyncOutputPin(D_CMemReader* reader, D_CCritSec* lock)
    : D_CBasePin(reader, lock, L"Output", PINDIR_OUTPUT), reader_(reader),
      queueEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), queueHead_(0), queueCount_(0), readerFlushing_(false) {}

D_CAsyncOutputPin::~D_CAsyncOutputPin() {
  if (queueEvent_ != nullptr) CloseHandle(queueEvent_);
}

STDMETHODIMP D_CAsyncOutputPin::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IAsyncReader) {
    return GiveInterface(static_cast<IAsyncReader*>(this), out);
  }
  return D_CBasePin::QueryInterface(iid, out);
}

STDMETHODIMP_(ULONG) D_CAsyncOutputPin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) D_CAsyncOutputPin::Release() { return filter_->Release(); }

HRESULT D_CAsyncOutputPin::CheckMediaType(const AM_MEDIA_TYPE* type) {
  const D_CMediaType& offered = reader_->OfferedType();
  if (type->majortype != offered.majortype) return S_FALSE;
  if (offered.subtype != GUID_NULL && type->subtype != offered.subtype) return S_FALSE;
  return S_OK;
}

HRESULT D_CAsyncOutputPin::GetMediaType(int position, D_CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return type->Set(reader_->OfferedType());
}

HRESULT D_CAsyncOutputPin::CheckConnect(IPin* pin) { return D_CBasePin::CheckConnect(pin); }

HRESULT D_CAsyncOutputPin::BreakConnect() {
  D_CAutoLock lock(&queueLock_);
  queueCount_ = 0;
  queueHead_ = 0;
  return S_OK;
}

STDMETHODIMP D_CAsyncOutputPin::RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                                 IMemAllocator** actual) {
  if (props == nullptr || actual == nullptr) return E_POINTER;
  *actual = nullptr;
  ALLOCATOR_PROPERTIES want = *props;
  if (want.cbAlign < 1) want.cbAlign = 1;
  ALLOCATOR_PROPERTIES got;
  if (preferred != nullptr && SUCCEEDED(preferred->SetProperties(&want, &got))) {
    preferred->AddRef();
    *actual = preferred;
    return S_OK;
  }
  D_CMemAllocator* own = D_CMemAllocator::Create();
  if (own == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = own->SetProperties(&want, &got);
  if (FAILED(hr)) {
    own->Release();
    return hr;
  }
  *actual = own;
  return S_OK;
}

HRESULT D_CAsyncOutputPin::ReadInto(IMediaSample* sample) {
  REFERENCE_TIME start = 0, end = 0;
  if (FAILED(sample->GetTime(&start, &end))) return E_INVALIDARG;
  BYTE* buffer = nullptr;
  if (FAILED(sample->GetPointer(&buffer)) || buffer == nullptr) return E_POINTER;
  LONGLONG position = start / UNITS_PER_BYTE;
  LONGLONG wanted = (end - start) / UNITS_PER_BYTE;
  if (wanted < 0 || wanted > sample->GetSize()) return E_INVALIDARG;
  LONG read = 0;
  HRESULT hr = reader_->Stream()->Read(position, static_cast<LONG>(wanted), buffer, &read);
  if (FAILED(hr)) return hr;
  sample->SetActualDataLength(read);
  return hr;
}

STDMETHODIMP D_CAsyncOutputPin::Request(IMediaSample* sample, DWORD_PTR user) {
  if (sample == nullptr) return E_POINTER;
  D_CAutoLock lock(&queueLock_);
  if (readerFlushing_) return VFW_E_WRONG_STATE;
  if (queueCount_ == QUEUE_SIZE) return E_OUTOFMEMORY;
  HRESULT hr = ReadInto(sample);
  if (FAILED(hr)) return hr;
  Done& d = queue_[(queueHead_ + queueCount_) % QUEUE_SIZE];
  d.sample = sample;
  d.user = user;
  d.result = hr;
  queueCount_++;
  SetEvent(queueEvent_);
  return S_OK;
}

STDMETHODIMP D_CAsyncOutputPin::WaitForNext(DWORD timeout, IMediaSample** sample, DWORD_PTR* user) {
  if (sample == nullptr || user == nullptr) return E_POINTER;
  *sample = nullptr;
  *user = 0;
  for (;;) {
    queueLock_.Lock();
    if (queueCount_ > 0) {
      Done d = queue_[queueHead_];
      queueHead_ = (queueHead_ + 1) % QUEUE_SIZE;
      queueCount_--;
      if (queueCount_ == 0 && !readerFlushing_) ResetEvent(queueEvent_);
      queueLock_.Unlock();
      *sample = d.sample;
      *user = d.user;
      return d.result;
    }
    if (readerFlushing_) {
      queueLock_.Unlock();
      return VFW_E_WRONG_STATE;
    }
    ResetEvent(queueEvent_);
    queueLock_.Unlock();
    if (WaitForSingleObject(queueEvent_, timeout) != WAIT_OBJECT_0) return VFW_E_TIMEOUT;
  }
}

STDMETHODIMP D_CAsyncOutputPin::SyncReadAligned(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  return ReadInto(sample);
}

STDMETHODIMP D_CAsyncOutputPin::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  if (buffer == nullptr) return E_POINTER;
  LONG read = 0;
  return reader_->Stream()->Read(position, length, buffer, &read);
}

STDMETHODIMP D_CAsyncOutputPin::Length(LONGLONG* total, LONGLONG* available) {
  if (total == nullptr || available == nullptr) return E_POINTER;
  *total = reader_->Stream()->Size();
  *available = *total;
  return S_OK;
}

STDMETHODIMP D_CAsyncOutputPin::BeginFlush() {
  D_CAutoLock lock(&queueLock_);
  readerFlushing_ = true;
  for (int i = 0; i < queueCount_; i++) queue_[(queueHead_ + i) % QUEUE_SIZE].result = VFW_E_WRONG_STATE;
  SetEvent(queueEvent_);
  return S_OK;
}

STDMETHODIMP D_CAsyncOutputPin::EndFlush() {
  D_CAutoLock lock(&queueLock_);
  readerFlushing_ = false;
  if (queueCount_ == 0) ResetEvent(queueEvent_);
  return S_OK;
}

D_CMemReader::D_CMemReader(D_CMemStream* stream, HRESULT* result)
    : D_CBaseFilter(L"Mem Reader", nullptr, &filterLock_, GUID_NULL), stream_(stream), pin_(nullptr) {
  pin_ = new (std::nothrow) D_CAsyncOutputPin(this, &filterLock_);
  *result = pin_ != nullptr ? S_OK : E_OUTOFMEMORY;
}

D_CMemReader* D_CMemReader::Create(D_CMemStream* stream, const AM_MEDIA_TYPE* type, HRESULT* result) {
  HRESULT hr = E_OUTOFMEMORY;
  D_CMemReader* reader = stream != nullptr && type != nullptr ? new (std::nothrow) D_CMemReader(stream, &hr) : nullptr;
  if (reader != nullptr && SUCCEEDED(hr)) hr = reader->type_.Set(*type);
  if (reader != nullptr && FAILED(hr)) {
    reader->Release();
    reader = nullptr;
  }
  if (result != nullptr) *result = stream == nullptr || type == nullptr ? E_POINTER : hr;
  return reader;
}

D_CMemReader::~D_CMemReader() { delete pin_; }

int D_CMemReader::GetPinCount() { return 1; }
D_CBasePin* D_CMemReader::GetPin(int index) { return index == 0 ? pin_ : nullptr; }

}  // namespace RiDov
