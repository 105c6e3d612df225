// DirectShow base layer: media samples, the memory allocator, the pin and
// filter bases, input and output pins, the pin enumerator and the in-place
// transform filter.
// Threads: connection and state changes come from the graph's thread under
// the filter lock; samples arrive on upstream's streaming thread (in-place
// filters hold their receive lock meanwhile); an allocator guards its free
// list with its own lock, and GetBuffer waits on its event without it.
// Platform: the strmif.h interfaces (IPin, IMemInputPin, IMemAllocator,
// IMediaSample, IBaseFilter, IMediaEventSink), CoTaskMemAlloc, events.
#include <new>
#include <stdint.h>
#include <string.h>
#include <wchar.h>

#include "DShowBase.h"
#include "ZiDezaru.h"

namespace RiDov {

namespace {

// IEnumPins over the pins of a filter, holding a reference on the filter.
class PinEnumerator final : public IEnumPins {
 public:
  PinEnumerator(D_CBaseFilter* filter, int position) : refCount_(1), filter_(filter), position_(position) {
    filter_->AddRef();
  }
  ~PinEnumerator() { filter_->Release(); }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumPins) {
      return GiveInterface(static_cast<IEnumPins*>(this), out);
    }
    return NoInterface(out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = InterlockedDecrement(&refCount_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (pins == nullptr) return E_POINTER;
    if (count > 1 && fetched == nullptr) return E_INVALIDARG;
    ULONG got = 0;
    while (got < count && position_ < filter_->GetPinCount()) {
      D_CBasePin* pin = filter_->GetPin(position_++);
      if (pin == nullptr) continue;
      pin->AddRef();
      pins[got++] = pin;
    }
    if (fetched != nullptr) *fetched = got;
    return got == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    int total = filter_->GetPinCount();
    if (position_ + static_cast<int>(count) > total) {
      position_ = total;
      return S_FALSE;
    }
    position_ += static_cast<int>(count);
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumPins** out) override {
    if (out == nullptr) return E_POINTER;
    *out = new (std::nothrow) PinEnumerator(filter_, position_);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  volatile LONG refCount_;
  D_CBaseFilter* filter_;
  int position_;
};

bool IsFullySpecified(const AM_MEDIA_TYPE* type) {
  return type != nullptr && type->majortype != GUID_NULL && type->subtype != GUID_NULL && type->formattype != GUID_NULL;
}

// GUID_NULL fields of `partial` (or a null `partial`) match anything.
bool MatchesPartially(const AM_MEDIA_TYPE* partial, const AM_MEDIA_TYPE* type) {
  if (partial == nullptr) return true;
  if (partial->majortype != GUID_NULL && partial->majortype != type->majortype) return false;
  if (partial->subtype != GUID_NULL && partial->subtype != type->subtype) return false;
  if (partial->formattype != GUID_NULL && partial->formattype != type->formattype) return false;
  return true;
}

bool SameMediaType(const AM_MEDIA_TYPE* a, const AM_MEDIA_TYPE* b) {
  return a->majortype == b->majortype && a->subtype == b->subtype && a->formattype == b->formattype &&
         a->cbFormat == b->cbFormat && (a->cbFormat == 0 || memcmp(a->pbFormat, b->pbFormat, a->cbFormat) == 0);
}

void CopyName(wchar_t* to, size_t capacity, const wchar_t* from) {
  if (from == nullptr) from = L"";
  wcsncpy(to, from, capacity - 1);
  to[capacity - 1] = L'\0';
}

}  // namespace

// ---- media sample ----

D_CMediaSample::D_CMediaSample(D_CBaseAllocator* allocator, BYTE* buffer, LONG size)
    : nextFree(nullptr), allocator_(allocator), buffer_(buffer), size_(size), actual_(size), refCount_(0), flags_(0),
      start_(0), end_(0), mediaStart_(0), mediaEnd_(0), mediaTimeValid_(false), type_(nullptr) {}

D_CMediaSample::~D_CMediaSample() { DeleteMediaTypeCopy(type_); }

STDMETHODIMP D_CMediaSample::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IMediaSample) {
    return GiveInterface(static_cast<IMediaSample*>(this), out);
  }
  return NoInterface(out);
}

STDMETHODIMP_(ULONG) D_CMediaSample::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

STDMETHODIMP_(ULONG) D_CMediaSample::Release() {
  LONG left = InterlockedDecrement(&refCount_);
  if (left == 0) allocator_->ReleaseBuffer(this);
  return static_cast<ULONG>(left);
}

STDMETHODIMP D_CMediaSample::GetPointer(BYTE** buffer) {
  if (buffer == nullptr) return E_POINTER;
  *buffer = buffer_;
  return S_OK;
}

STDMETHODIMP_(LONG) D_CMediaSample::GetSize() { return size_; }

STDMETHODIMP D_CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  if (start == nullptr || end == nullptr) return E_POINTER;
  if (!(flags_ & AM_SAMPLE_TIMEVALID)) return VFW_E_SAMPLE_TIME_NOT_SET;
  *start = start_;
  if (!(flags_ & AM_SAMPLE_STOPVALID)) {
    *end = start_ + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *end = end_;
  return S_OK;
}

STDMETHODIMP D_CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  flags_ &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
  if (start != nullptr) {
    start_ = *start;
    flags_ |= AM_SAMPLE_TIMEVALID;
    if (end != nullptr) {
      end_ = *end;
      flags_ |= AM_SAMPLE_STOPVALID;
    }
  }
  return S_OK;
}

STDMETHODIMP D_CMediaSample::IsSyncPoint() { return (flags_ & AM_SAMPLE_SPLICEPOINT) ? S_OK : S_FALSE; }

STDMETHODIMP D_CMediaSample::SetSyncPoint(BOOL sync) {
  flags_ = sync ? (flags_ | AM_SAMPLE_SPLICEPOINT) : (flags_ & ~AM_SAMPLE_SPLICEPOINT);
  return S_OK;
}

STDMETHODIMP D_CMediaSample::IsPreroll() { return (flags_ & AM_SAMPLE_PREROLL) ? S_OK : S_FALSE; }

STDMETHODIMP D_CMediaSample::SetPreroll(BOOL preroll) {
  flags_ = preroll ? (flags_ | AM_SAMPLE_PREROLL) : (flags_ & ~AM_SAMPLE_PREROLL);
  return S_OK;
}

STDMETHODIMP_(LONG) D_CMediaSample::GetActualDataLength() { return actual_; }

STDMETHODIMP D_CMediaSample::SetActualDataLength(LONG length) {
  if (length < 0 || length > size_) return VFW_E_BUFFER_OVERFLOW;
  actual_ = length;
  return S_OK;
}

STDMETHODIMP D_CMediaSample::GetMediaType(AM_MEDIA_TYPE** type) {
  if (type == nullptr) return E_POINTER;
  *type = nullptr;
  if (type_ == nullptr) return S_FALSE;
  *type = CreateMediaTypeCopy(type_);
  return *type != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP D_CMediaSample::SetMediaType(AM_MEDIA_TYPE* type) {
  DeleteMediaTypeCopy(type_);
  type_ = nullptr;
  flags_ &= ~AM_SAMPLE_TYPECHANGED;
  if (type == nullptr) return S_OK;
  type_ = CreateMediaTypeCopy(type);
  if (type_ == nullptr) return E_OUTOFMEMORY;
  flags_ |= AM_SAMPLE_TYPECHANGED;
  return S_OK;
}

STDMETHODIMP D_CMediaSample::IsDiscontinuity() { return (flags_ & AM_SAMPLE_DATADISCONTINUITY) ? S_OK : S_FALSE; }

STDMETHODIMP D_CMediaSample::SetDiscontinuity(BOOL discontinuity) {
  flags_ = discontinuity ? (flags_ | AM_SAMPLE_DATADISCONTINUITY) : (flags_ & ~AM_SAMPLE_DATADISCONTINUITY);
  return S_OK;
}

STDMETHODIMP D_CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (start == nullptr || end == nullptr) return E_POINTER;
  if (!mediaTimeValid_) return VFW_E_MEDIA_TIME_NOT_SET;
  *start = mediaStart_;
  *end = mediaEnd_;
  return S_OK;
}

STDMETHODIMP D_CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (start == nullptr || end == nullptr) {
    mediaTimeValid_ = false;
    return S_OK;
  }
  mediaStart_ = *start;
  mediaEnd_ = *end;
  mediaTimeValid_ = true;
  return S_OK;
}

void D_CMediaSample::SetPointer(BYTE* buffer, LONG size) {
  buffer_ = buffer;
  size_ = size;
  actual_ = size;
}

void D_CMediaSample::ResetProperties() {
  flags_ = 0;
  mediaTimeValid_ = false;
  actual_ = size_;
  DeleteMediaTypeCopy(type_);
  type_ = nullptr;
}

// ---- allocators ----

D_CBaseAllocator::D_CBaseAllocator()
    : count_(0), size_(0), alignment_(0), prefix_(0), changed_(false), refCount_(1), committed_(false),
      decommitPending_(false), free_(nullptr), allocated_(0), freeCount_(0),
      freeEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

D_CBaseAllocator::~D_CBaseAllocator() {
  if (freeEvent_ != nullptr) CloseHandle(freeEvent_);
}

STDMETHODIMP D_CBaseAllocator::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IMemAllocator) {
    return GiveInterface(static_cast<IMemAllocator*>(this), out);
  }
  return NoInterface(out);
}

STDMETHODIMP_(ULONG) D_CBaseAllocator::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

STDMETHODIMP_(ULONG) D_CBaseAllocator::Release() {
  LONG left = InterlockedDecrement(&refCount_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP D_CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (request == nullptr || actual == nullptr) return E_POINTER;
  D_CAutoLock lock(&lock_);
  if (committed_) return VFW_E_ALREADY_COMMITTED;
  if (freeCount_ != allocated_) return VFW_E_BUFFERS_OUTSTANDING;
  LONG align = request->cbAlign;
  if (align <= 0 || (align & (align - 1)) != 0) return VFW_E_BADALIGN;
  count_ = request->cBuffers;
  size_ = request->cbBuffer;
  alignment_ = align;
  prefix_ = request->cbPrefix;
  changed_ = true;
  actual->cBuffers = count_;
  actual->cbBuffer = size_;
  actual->cbAlign = alignment_;
  actual->cbPrefix = prefix_;
  return S_OK;
}

STDMETHODIMP D_CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
  if (props == nullptr) return E_POINTER;
  D_CAutoLock lock(&lock_);
  props->cBuffers = count_;
  props->cbBuffer = size_;
  props->cbAlign = alignment_;
  props->cbPrefix = prefix_;
  return S_OK;
}

HRESULT D_CBaseAllocator::Alloc() {
  if (count_ <= 0 || size_ <= 0 || alignment_ <= 0) return VFW_E_SIZENOTSET;
  if (allocated_ > 0 && !changed_) return S_FALSE;
  return S_OK;
}

STDMETHODIMP D_CBaseAllocator::Commit() {
  D_CAutoLock lock(&lock_);
  if (committed_) return S_OK;
  if (decommitPending_) {
    // Samples still out from before: keep them.
    decommitPending_ = false;
  } else {
    HRESULT hr = Alloc();
    if (FAILED(hr)) return hr;
  }
  committed_ = true;
  if (free_ != nullptr) SetEvent(freeEvent_);
  else ResetEvent(freeEvent_);
  return S_OK;
}

STDMETHODIMP D_CBaseAllocator::Decommit() {
  D_CAutoLock lock(&lock_);
  if (!committed_) return S_OK;
  committed_ = false;
  SetEvent(freeEvent_);  // waiters see the decommit
  decommitPending_ = true;
  FreeIfDone();
  return S_OK;
}

STDMETHODIMP D_CBaseAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                         DWORD flags) {
  if (sample == nullptr) return E_POINTER;
  *sample = nullptr;
  D_CMediaSample* taken = nullptr;
  for (;;) {
    lock_.Lock();
    if (!committed_) {
      lock_.Unlock();
      return VFW_E_NOT_COMMITTED;
    }
    if (free_ != nullptr) {
      taken = free_;
      free_ = taken->nextFree;
      taken->nextFree = nullptr;
      freeCount_--;
      if (free_ == nullptr) ResetEvent(freeEvent_);
      lock_.Unlock();
      break;
    }
    if (flags & AM_GBF_NOWAIT) {
      lock_.Unlock();
      return VFW_E_TIMEOUT;
    }
    ResetEvent(freeEvent_);
    lock_.Unlock();
    WaitForSingleObject(freeEvent_, INFINITE);
  }
  AddRef();  // a sample out keeps its allocator
  taken->ResetProperties();
  taken->SetTime(start, end);
  taken->AddRef();
  *sample = taken;
  return S_OK;
}

STDMETHODIMP D_CBaseAllocator::ReleaseBuffer(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  D_CMediaSample* s = static_cast<D_CMediaSample*>(sample);
  {
    D_CAutoLock lock(&lock_);
    s->nextFree = free_;
    free_ = s;
    freeCount_++;
    SetEvent(freeEvent_);
    FreeIfDone();
  }
  Release();
  return S_OK;
}

void D_CBaseAllocator::AddFreeSample(D_CMediaSample* sample) {
  sample->nextFree = free_;
  free_ = sample;
  allocated_++;
  freeCount_++;
}

D_CMediaSample* D_CBaseAllocator::TakeFreeSample() {
  D_CMediaSample* s = free_;
  if (s != nullptr) {
    free_ = s->nextFree;
    s->nextFree = nullptr;
    freeCount_--;
    allocated_--;
  }
  return s;
}

LONGLONG D_CBaseAllocator::SlotSize() const {
  if (size_ < 0 || prefix_ < 0 || count_ < 0 || alignment_ <= 0) return -1;
  LONGLONG slot = static_cast<LONGLONG>(size_) + prefix_;
  slot = (slot + alignment_ - 1) & ~static_cast<LONGLONG>(alignment_ - 1);
  return slot * count_ + alignment_ > 0x7FFFFFFF ? -1 : slot;
}

HRESULT D_CBaseAllocator::MakeSamples(BYTE* first, LONGLONG slot) {
  for (LONG i = 0; i < count_; i++) {
    D_CMediaSample* s = new (std::nothrow) D_CMediaSample(this, first + slot * i + prefix_, size_);
    if (s == nullptr) {
      Free();
      return E_OUTOFMEMORY;
    }
    AddFreeSample(s);
  }
  changed_ = false;
  return S_OK;
}

HRESULT D_CBaseAllocator::PrepareAlloc(LONGLONG* slot) {
  HRESULT hr = D_CBaseAllocator::Alloc();
  if (hr != S_OK) return hr;
  Free();
  *slot = SlotSize();
  return *slot < 0 ? E_OUTOFMEMORY : S_OK;
}

void D_CBaseAllocator::FreeIfDone() {
  if (!decommitPending_ || freeCount_ != allocated_) return;
  decommitPending_ = false;
  Free();
}

D_CMemAllocator* D_CMemAllocator::Create() {
  D_CMemAllocator* a = new (std::nothrow) D_CMemAllocator();
  if (a != nullptr && !a->HasEvent()) {
    delete a;
    return nullptr;
  }
  return a;
}

D_CMemAllocator::~D_CMemAllocator() {
  D_CAutoLock lock(&lock_);
  Free();
}

HRESULT D_CMemAllocator::Alloc() {
  D_CAutoLock lock(&lock_);
  LONGLONG slot = 0;
  HRESULT hr = PrepareAlloc(&slot);
  if (hr != S_OK) return SUCCEEDED(hr) ? S_OK : hr;
  LONGLONG total = slot * count_ + alignment_ - 1;  // room to align the first slot
  block_ = static_cast<BYTE*>(MEM_ALLOC(static_cast<size_t>(total)));
  if (block_ == nullptr) return E_OUTOFMEMORY;
  uintptr_t base = (reinterpret_cast<uintptr_t>(block_) + alignment_ - 1) & ~static_cast<uintptr_t>(alignment_ - 1);
  return MakeSamples(reinterpret_cast<BYTE*>(base), slot);
}

void D_CMemAllocator::Free() {
  while (D_CMediaSample* s = TakeFreeSample()) delete s;
  if (block_ != nullptr) MemFree(block_);
  block_ = nullptr;
}

// ---- pins ----

D_CBasePin::D_CBasePin(D_CBaseFilter* filter, D_CCritSec* lock, const wchar_t* name, PIN_DIRECTION direction)
    : filter_(filter), lock_(lock), direction_(direction), connected_(nullptr), segmentStart_(0),
      segmentStop_(0x7FFFFFFFFFFFFFFFLL), segmentRate_(1.0), flushing_(false) {
  CopyName(name_, MAX_PIN_NAME, name);
}

D_CBasePin::~D_CBasePin() {
  if (connected_ != nullptr) connected_->Release();
}

STDMETHODIMP D_CBasePin::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IPin) {
    return GiveInterface(static_cast<IPin*>(this), out);
  }
  return NoInterface(out);
}

STDMETHODIMP_(ULONG) D_CBasePin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) D_CBasePin::Release() { return filter_->Release(); }

bool D_CBasePin::IsStopped() const { return filter_->State() == State_Stopped; }

STDMETHODIMP D_CBasePin::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
  if (receiver == nullptr) return E_POINTER;
  D_CAutoLock lock(lock_);
  if (connected_ != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  if (IsFullySpecified(type)) return AttemptConnection(receiver, type);
  IEnumMediaTypes* types = nullptr;
  HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
  // Our own types first, then the receiver's.
  for (int pass = 0; pass < 2; pass++) {
    types = nullptr;
    HRESULT got = pass == 0 ? EnumMediaTypes(&types) : receiver->EnumMediaTypes(&types);
    if (FAILED(got) || types == nullptr) continue;
    HRESULT tried = TryMediaTypes(receiver, type, types);
    types->Release();
    if (tried == S_OK) return S_OK;
    if (FAILED(tried) && tried != VFW_E_NO_ACCEPTABLE_TYPES) hr = tried;
  }
  return hr;
}

HRESULT D_CBasePin::TryMediaTypes(IPin* receiver, const AM_MEDIA_TYPE* partial, IEnumMediaTypes* types) {
  HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
  AM_MEDIA_TYPE* candidate = nullptr;
  ULONG fetched = 0;
  while (types->Next(1, &candidate, &fetched) == S_OK && fetched == 1) {
    HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
    if (MatchesPartially(partial, candidate)) hr = AttemptConnection(receiver, candidate);
    DeleteMediaTypeCopy(candidate);
    candidate = nullptr;
    if (hr == S_OK) return S_OK;
    if (FAILED(hr)) last = hr;
  }
  return last;
}

HRESULT D_CBasePin::CheckPeerAndType(IPin* peer, const AM_MEDIA_TYPE* type) {
  HRESULT hr = CheckConnect(peer);
  if (SUCCEEDED(hr)) {
    hr = CheckMediaType(type);
    if (hr == S_OK) return S_OK;
    if (SUCCEEDED(hr)) hr = VFW_E_TYPE_NOT_ACCEPTED;
  }
  BreakConnect();
  return hr;
}

HRESULT D_CBasePin::TakeConnection(IPin* peer, const AM_MEDIA_TYPE* type) {
  connected_ = peer;
  connected_->AddRef();
  return SetMediaType(type);
}

void D_CBasePin::DropConnection() {
  BreakConnect();
  connected_->Release();
  connected_ = nullptr;
  type_.Reset();
}

HRESULT D_CBasePin::AttemptConnection(IPin* receiver, const AM_MEDIA_TYPE* type) {
  HRESULT hr = CheckPeerAndType(receiver, type);
  if (FAILED(hr)) return hr;
  hr = TakeConnection(receiver, type);
  if (SUCCEEDED(hr)) {
    hr = receiver->ReceiveConnection(this, type);
    if (SUCCEEDED(hr)) {
      hr = CompleteConnect(receiver);
      if (SUCCEEDED(hr)) return S_OK;
      receiver->Disconnect();
    }
  }
  DropConnection();
  return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
}

STDMETHODIMP D_CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (connector == nullptr || type == nullptr) return E_POINTER;
  D_CAutoLock lock(lock_);
  if (connected_ != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  HRESULT hr = CheckPeerAndType(connector, type);
  if (FAILED(hr)) return hr;
  hr = TakeConnection(connector, type);
  if (SUCCEEDED(hr)) hr = CompleteConnect(connector);
  if (SUCCEEDED(hr)) return S_OK;
  DropConnection();
  return hr;
}

STDMETHODIMP D_CBasePin::Disconnect() {
  D_CAutoLock lock(lock_);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  if (connected_ == nullptr) return S_FALSE;
  DropConnection();
  return S_OK;
}

STDMETHODIMP D_CBasePin::ConnectedTo(IPin** pin) {
  if (pin == nullptr) return E_POINTER;
  D_CAutoLock lock(lock_);
  *pin = connected_;
  if (connected_ == nullptr) return VFW_E_NOT_CONNECTED;
  connected_->AddRef();
  return S_OK;
}

STDMETHODIMP D_CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  D_CAutoLock lock(lock_);
  if (connected_ == nullptr) {
    memset(type, 0, sizeof(*type));
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaTypeContents(type, &type_);
}

STDMETHODIMP D_CBasePin::QueryPinInfo(PIN_INFO* info) {
  if (info == nullptr) return E_POINTER;
  info->pFilter = filter_;
  filter_->AddRef();
  info->dir = direction_;
  CopyName(info->achName, MAX_PIN_NAME, name_);
  return S_OK;
}

STDMETHODIMP D_CBasePin::QueryDirection(PIN_DIRECTION* direction) {
  if (direction == nullptr) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

STDMETHODIMP D_CBasePin::QueryId(LPWSTR* id) {
  if (id == nullptr) return E_POINTER;
  size_t bytes = (wcslen(name_) + 1) * sizeof(wchar_t);
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (*id == nullptr) return E_OUTOFMEMORY;
  memcpy(*id, name_, bytes);
  return S_OK;
}

STDMETHODIMP D_CBasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  return CheckMediaType(type) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP D_CBasePin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (types == nullptr) return E_POINTER;
  D_CMediaType list[D_CEnumMediaTypes::CAPACITY];
  const AM_MEDIA_TYPE* pointers[D_CEnumMediaTypes::CAPACITY];
  int count = 0;
  while (count < D_CEnumMediaTypes::CAPACITY && GetMediaType(count, &list[count]) == S_OK) {
    pointers[count] = &list[count];
    count++;
  }
  *types = D_CEnumMediaTypes::Create(pointers, count);
  return *types != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP D_CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
STDMETHODIMP D_CBasePin::EndOfStream() { return S_OK; }

STDMETHODIMP D_CBasePin::BeginFlush() {
  flushing_ = true;
  return S_OK;
}

STDMETHODIMP D_CBasePin::EndFlush() {
  flushing_ = false;
  return S_OK;
}

STDMETHODIMP D_CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  segmentStart_ = start;
  segmentStop_ = stop;
  segmentRate_ = rate;
  return S_OK;
}

HRESULT D_CBasePin::GetMediaType(int position, D_CMediaType*) {
  return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

HRESULT D_CBasePin::SetMediaType(const AM_MEDIA_TYPE* type) { return type_.Set(*type); }

HRESULT D_CBasePin::CheckConnect(IPin* pin) {
  PIN_DIRECTION other;
  HRESULT hr = pin->QueryDirection(&other);
  if (FAILED(hr)) return hr;
  return other == direction_ ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT D_CBasePin::CompleteConnect(IPin*) { return S_OK; }
HRESULT D_CBasePin::BreakConnect() { return S_OK; }
HRESULT D_CBasePin::Active() { return S_OK; }
HRESULT D_CBasePin::Inactive() { return S_OK; }

// ---- input pin ----

D_CBaseInputPin::D_CBaseInputPin(D_CBaseFilter* filter, D_CCritSec* lock, const wchar_t* name)
    : D_CBasePin(filter, lock, name, PINDIR_INPUT), allocator_(nullptr), readOnly_(false) {
  memset(&sampleProps_, 0, sizeof(sampleProps_));
}

D_CBaseInputPin::~D_CBaseInputPin() {
  if (allocator_ != nullptr) allocator_->Release();
}

STDMETHODIMP D_CBaseInputPin::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IMemInputPin) {
    return GiveInterface(static_cast<IMemInputPin*>(this), out);
  }
  return D_CBasePin::QueryInterface(iid, out);
}

STDMETHODIMP_(ULONG) D_CBaseInputPin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) D_CBaseInputPin::Release() { return filter_->Release(); }

STDMETHODIMP D_CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) return E_POINTER;
  D_CAutoLock lock(lock_);
  if (allocator_ == nullptr) {
    allocator_ = D_CMemAllocator::Create();
    if (allocator_ == nullptr) {
      *allocator = nullptr;
      return E_OUTOFMEMORY;
    }
  }
  allocator_->AddRef();
  *allocator = allocator_;
  return S_OK;
}

STDMETHODIMP D_CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (allocator == nullptr) return E_POINTER;
  D_CAutoLock lock(lock_);
  allocator->AddRef();
  if (allocator_ != nullptr) allocator_->Release();
  allocator_ = allocator;
  readOnly_ = readOnly != FALSE;
  return S_OK;
}

STDMETHODIMP D_CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT D_CBaseInputPin::CheckStreaming() {
  if (connected_ == nullptr) return VFW_E_NOT_CONNECTED;
  if (flushing_) return S_FALSE;
  if (IsStopped()) return VFW_E_WRONG_STATE;
  return S_OK;
}

STDMETHODIMP D_CBaseInputPin::Receive(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  AM_SAMPLE2_PROPERTIES& p = sampleProps_;
  memset(&p, 0, sizeof(p));
  p.cbData = sizeof(p);
  p.dwStreamId = AM_STREAM_MEDIA;
  // A sample that knows its properties (stream id included) tells them.
  IMediaSample2* full = nullptr;
  if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&full))) && full != nullptr) {
    hr = full->GetProperties(sizeof(p), reinterpret_cast<BYTE*>(&p));
    full->Release();
    if (SUCCEEDED(hr)) {
      AM_MEDIA_TYPE* carried = p.pMediaType;
      p.pMediaType = nullptr;  // not kept: the type is taken below
      if (carried != nullptr && (p.dwSampleFlags & AM_SAMPLE_TYPECHANGED)) {
        D_CAutoLock lock(lock_);
        hr = CheckMediaType(carried) == S_OK ? SetMediaType(carried) : VFW_E_INVALIDMEDIATYPE;
        if (FAILED(hr)) return hr;
      }
      return S_OK;
    }
    memset(&p, 0, sizeof(p));
    p.cbData = sizeof(p);
    p.dwStreamId = AM_STREAM_MEDIA;
  }
  if (sample->IsSyncPoint() == S_OK) p.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
  if (sample->IsPreroll() == S_OK) p.dwSampleFlags |= AM_SAMPLE_PREROLL;
  if (sample->IsDiscontinuity() == S_OK) p.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
  HRESULT timed = sample->GetTime(&p.tStart, &p.tStop);
  if (timed == S_OK) p.dwSampleFlags |= AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
  else if (timed == VFW_S_NO_STOP_TIME) p.dwSampleFlags |= AM_SAMPLE_TIMEVALID;
  p.lActual = sample->GetActualDataLength();
  p.cbBuffer = sample->GetSize();
  sample->GetPointer(&p.pbBuffer);
  AM_MEDIA_TYPE* changed = nullptr;
  if (sample->GetMediaType(&changed) == S_OK && changed != nullptr) {
    p.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
    D_CAutoLock lock(lock_);
    hr = CheckMediaType(changed) == S_OK ? SetMediaType(changed) : VFW_E_INVALIDMEDIATYPE;
    DeleteMediaTypeCopy(changed);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

STDMETHODIMP D_CBaseInputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
  if (samples == nullptr || processed == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  *processed = 0;
  while (*processed < count) {
    hr = Receive(samples[*processed]);
    if (hr != S_OK) break;
    (*processed)++;
  }
  return hr;
}

STDMETHODIMP D_CBaseInputPin::ReceiveCanBlock() { return S_OK; }

STDMETHODIMP D_CBaseInputPin::BeginFlush() {
  flushing_ = true;
  return S_OK;
}

STDMETHODIMP D_CBaseInputPin::EndFlush() {
  flushing_ = false;
  return S_OK;
}

HRESULT D_CBaseInputPin::BreakConnect() {
  if (allocator_ != nullptr) {
    allocator_->Decommit();
    allocator_->Release();
    allocator_ = nullptr;
  }
  return S_OK;
}

HRESULT D_CBaseInputPin::Inactive() {
  flushing_ = false;
  if (allocator_ != nullptr) allocator_->Decommit();
  return S_OK;
}

// ---- output pin ----

D_CBaseOutputPin::D_CBaseOutputPin(D_CBaseFilter* filter, D_CCritSec* lock, const wchar_t* name)
    : D_CBasePin(filter, lock, name, PINDIR_OUTPUT), allocator_(nullptr), input_(nullptr) {}

D_CBaseOutputPin::~D_CBaseOutputPin() {
  if (allocator_ != nullptr) allocator_->Release();
  if (input_ != nullptr) input_->Release();
}

HRESULT D_CBaseOutputPin::CompleteConnect(IPin* receiver) {
  if (input_ == nullptr) {
    HRESULT hr = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input_));
    if (FAILED(hr)) return VFW_E_NO_TRANSPORT;
  }
  return DecideAllocator(input_, &allocator_);
}

HRESULT D_CBaseOutputPin::DecideAllocator(IMemInputPin* input, IMemAllocator** allocator) {
  ALLOCATOR_PROPERTIES props;
  memset(&props, 0, sizeof(props));
  input->GetAllocatorRequirements(&props);
  if (props.cbAlign == 0) props.cbAlign = 1;
  *allocator = nullptr;
  HRESULT hr = input->GetAllocator(allocator);
  if (SUCCEEDED(hr)) {
    hr = DecideBufferSize(*allocator, &props);
    if (SUCCEEDED(hr)) hr = input->NotifyAllocator(*allocator, FALSE);
    if (SUCCEEDED(hr)) return S_OK;
  }
  if (*allocator != nullptr) (*allocator)->Release();
  *allocator = D_CMemAllocator::Create();
  if (*allocator == nullptr) return E_OUTOFMEMORY;
  hr = DecideBufferSize(*allocator, &props);
  if (SUCCEEDED(hr)) hr = input->NotifyAllocator(*allocator, FALSE);
  if (SUCCEEDED(hr)) return S_OK;
  (*allocator)->Release();
  *allocator = nullptr;
  return hr;
}

HRESULT D_CBaseOutputPin::BreakConnect() {
  if (allocator_ != nullptr) {
    allocator_->Decommit();
    allocator_->Release();
    allocator_ = nullptr;
  }
  if (input_ != nullptr) {
    input_->Release();
    input_ = nullptr;
  }
  return S_OK;
}

HRESULT D_CBaseOutputPin::Active() {
  if (connected_ == nullptr) return S_OK;
  return allocator_ != nullptr ? allocator_->Commit() : VFW_E_NO_ALLOCATOR;
}

HRESULT D_CBaseOutputPin::Inactive() {
  if (allocator_ != nullptr) allocator_->Decommit();
  return S_OK;
}

STDMETHODIMP D_CBaseOutputPin::EndOfStream() { return E_UNEXPECTED; }
STDMETHODIMP D_CBaseOutputPin::BeginFlush() { return E_UNEXPECTED; }
STDMETHODIMP D_CBaseOutputPin::EndFlush() { return E_UNEXPECTED; }

HRESULT D_CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                            DWORD flags) {
  if (allocator_ == nullptr) return VFW_E_NO_ALLOCATOR;
  return allocator_->GetBuffer(sample, start, end, flags);
}

HRESULT D_CBaseOutputPin::Deliver(IMediaSample* sample) {
  if (input_ == nullptr) return VFW_E_NOT_CONNECTED;
  return input_->Receive(sample);
}

HRESULT D_CBaseOutputPin::DeliverEndOfStream() {
  if (connected_ == nullptr) return VFW_E_NOT_CONNECTED;
  return connected_->EndOfStream();
}

HRESULT D_CBaseOutputPin::DeliverBeginFlush() {
  if (connected_ == nullptr) return VFW_E_NOT_CONNECTED;
  return connected_->BeginFlush();
}

HRESULT D_CBaseOutputPin::DeliverEndFlush() {
  if (connected_ == nullptr) return VFW_E_NOT_CONNECTED;
  return connected_->EndFlush();
}

HRESULT D_CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  if (connected_ == nullptr) return VFW_E_NOT_CONNECTED;
  return connected_->NewSegment(start, stop, rate);
}

// ---- filter ----

D_CBaseFilter::D_CBaseFilter(const wchar_t* name, IUnknown*, D_CCritSec* lock, REFCLSID clsid)
    : lock_(lock), state_(State_Stopped), start_(0), clock_(nullptr), graph_(nullptr), sink_(nullptr), clsid_(clsid),
      refCount_(1) {
  CopyName(name_, MAX_FILTER_NAME, name);
}

D_CBaseFilter::~D_CBaseFilter() {
  if (clock_ != nullptr) clock_->Release();
}

STDMETHODIMP D_CBaseFilter::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter || iid == IID_IBaseFilter) {
    return GiveInterface(static_cast<IBaseFilter*>(this), out);
  }
  return NoInterface(out);
}

STDMETHODIMP_(ULONG) D_CBaseFilter::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

STDMETHODIMP_(ULONG) D_CBaseFilter::Release() {
  LONG left = InterlockedDecrement(&refCount_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP D_CBaseFilter::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

STDMETHODIMP D_CBaseFilter::Stop() {
  D_CAutoLock lock(lock_);
  HRESULT result = S_OK;
  if (state_ != State_Stopped) {
    for (int i = 0; i < GetPinCount(); i++) {
      D_CBasePin* pin = GetPin(i);
      if (pin != nullptr && pin->IsConnected()) {
        HRESULT hr = pin->Inactive();
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
      }
    }
  }
  state_ = State_Stopped;
  return result;
}

STDMETHODIMP D_CBaseFilter::Pause() {
  D_CAutoLock lock(lock_);
  if (state_ == State_Stopped) {
    for (int i = 0; i < GetPinCount(); i++) {
      D_CBasePin* pin = GetPin(i);
      if (pin != nullptr && pin->IsConnected()) {
        HRESULT hr = pin->Active();
        if (FAILED(hr)) return hr;
      }
    }
  }
  state_ = State_Paused;
  return S_OK;
}

STDMETHODIMP D_CBaseFilter::Run(REFERENCE_TIME start) {
  D_CAutoLock lock(lock_);
  start_ = start;
  if (state_ == State_Stopped) {
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  state_ = State_Running;
  return S_OK;
}

STDMETHODIMP D_CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
  if (state == nullptr) return E_POINTER;
  *state = state_;
  return S_OK;
}

STDMETHODIMP D_CBaseFilter::SetSyncSource(IReferenceClock* clock) {
  D_CAutoLock lock(lock_);
  if (clock != nullptr) clock->AddRef();
  if (clock_ != nullptr) clock_->Release();
  clock_ = clock;
  return S_OK;
}

STDMETHODIMP D_CBaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (clock == nullptr) return E_POINTER;
  D_CAutoLock lock(lock_);
  *clock = clock_;
  if (clock_ != nullptr) clock_->AddRef();
  return S_OK;
}

STDMETHODIMP D_CBaseFilter::EnumPins(IEnumPins** pins) {
  if (pins == nullptr) return E_POINTER;
  *pins = new (std::nothrow) PinEnumerator(this, 0);
  return *pins != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP D_CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (id == nullptr || pin == nullptr) return E_POINTER;
  for (int i = 0; i < GetPinCount(); i++) {
    D_CBasePin* p = GetPin(i);
    PIN_INFO info;
    if (p == nullptr || FAILED(p->QueryPinInfo(&info))) continue;
    if (info.pFilter != nullptr) info.pFilter->Release();
    if (wcscmp(info.achName, id) == 0) {
      p->AddRef();
      *pin = p;
      return S_OK;
    }
  }
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP D_CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (info == nullptr) return E_POINTER;
  CopyName(info->achName, MAX_FILTER_NAME, name_);
  info->pGraph = graph_;
  if (graph_ != nullptr) graph_->AddRef();
  return S_OK;
}

STDMETHODIMP D_CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  D_CAutoLock lock(lock_);
  graph_ = graph;
  sink_ = nullptr;
  if (graph != nullptr) {
    IMediaEventSink* sink = nullptr;
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) && sink != nullptr) {
      sink_ = sink;
      sink->Release();  // the graph outlives its filters' membership
    }
    if (name != nullptr) CopyName(name_, MAX_FILTER_NAME, name);
  } else {
    name_[0] = L'\0';
  }
  return S_OK;
}

STDMETHODIMP D_CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT D_CBaseFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
  IMediaEventSink* sink = sink_;
  if (sink == nullptr) return E_NOTIMPL;
  return sink->Notify(code, param1, param2);
}

// ---- in-place transform ----

D_CTransInPlaceInputPin::D_CTransInPlaceInputPin(D_CTransInPlaceFilter* filter, D_CCritSec* lock, const wchar_t* name)
    : D_CBaseInputPin(filter, lock, name), transform_(filter) {}

HRESULT D_CTransInPlaceInputPin::CheckMediaType(const AM_MEDIA_TYPE* type) { return transform_->CheckInputType(type); }

HRESULT D_CTransInPlaceInputPin::GetMediaType(int position, D_CMediaType* type) {
  return D_CBaseInputPin::GetMediaType(position, type);
}

HRESULT D_CTransInPlaceInputPin::SetMediaType(const AM_MEDIA_TYPE* type) { return D_CBaseInputPin::SetMediaType(type); }

STDMETHODIMP D_CTransInPlaceInputPin::Receive(IMediaSample* sample) {
  HRESULT hr = D_CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  return transform_->Receive(sample);
}

STDMETHODIMP D_CTransInPlaceInputPin::EndOfStream() {
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  D_CTransInPlaceOutputPin* out = transform_->OutputPin();
  return out != nullptr && out->IsConnected() ? out->DeliverEndOfStream() : S_OK;
}

STDMETHODIMP D_CTransInPlaceInputPin::BeginFlush() {
  D_CBaseInputPin::BeginFlush();
  D_CTransInPlaceOutputPin* out = transform_->OutputPin();
  return out != nullptr && out->IsConnected() ? out->DeliverBeginFlush() : S_OK;
}

STDMETHODIMP D_CTransInPlaceInputPin::EndFlush() {
  D_CBaseInputPin::EndFlush();
  D_CTransInPlaceOutputPin* out = transform_->OutputPin();
  return out != nullptr && out->IsConnected() ? out->DeliverEndFlush() : S_OK;
}

STDMETHODIMP D_CTransInPlaceInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  D_CBaseInputPin::NewSegment(start, stop, rate);
  D_CTransInPlaceOutputPin* out = transform_->OutputPin();
  return out != nullptr && out->IsConnected() ? out->DeliverNewSegment(start, stop, rate) : S_OK;
}

STDMETHODIMP D_CTransInPlaceInputPin::GetAllocator(IMemAllocator** allocator) {
  if (allocator == nullptr) return E_POINTER;
  D_CTransInPlaceOutputPin* out = transform_->OutputPin();
  if (out != nullptr && out->PeekInputPin() != nullptr) return out->PeekInputPin()->GetAllocator(allocator);
  return D_CBaseInputPin::GetAllocator(allocator);
}

STDMETHODIMP D_CTransInPlaceInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  return D_CBaseInputPin::NotifyAllocator(allocator, readOnly);
}

D_CTransInPlaceOutputPin::D_CTransInPlaceOutputPin(D_CTransInPlaceFilter* filter, D_CCritSec* lock, const wchar_t* name)
    : D_CBaseOutputPin(filter, lock, name), transform_(filter) {}

HRESULT D_CTransInPlaceOutputPin::CheckMediaType(const AM_MEDIA_TYPE* type) {
  D_CTransInPlaceInputPin* in = transform_->InputPin();
  if (in == nullptr || !in->IsConnected()) return VFW_E_NOT_CONNECTED;
  // An input connected with a partial type (no format) has nothing to pass
  // on: renderers read the format block of what they are offered.
  if (type->formattype == GUID_NULL) return VFW_E_TYPE_NOT_ACCEPTED;
  return SameMediaType(type, &in->CurrentMediaType()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT D_CTransInPlaceOutputPin::GetMediaType(int position, D_CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  D_CTransInPlaceInputPin* in = transform_->InputPin();
  if (in == nullptr || !in->IsConnected()) return VFW_E_NOT_CONNECTED;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return type->Set(in->CurrentMediaType());
}

HRESULT D_CTransInPlaceOutputPin::CheckConnect(IPin* pin) {
  HRESULT hr = D_CBaseOutputPin::CheckConnect(pin);
  if (FAILED(hr)) return hr;
  D_CTransInPlaceInputPin* in = transform_->InputPin();
  if (in == nullptr || !in->IsConnected()) return VFW_E_NOT_CONNECTED;
  return pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input_)) == S_OK ? S_OK : VFW_E_NO_TRANSPORT;
}

HRESULT D_CTransInPlaceOutputPin::DecideAllocator(IMemInputPin* input, IMemAllocator** allocator) {
  // Upstream's allocator straight through, so samples pass without a copy.
  D_CTransInPlaceInputPin* in = transform_->InputPin();
  IMemAllocator* shared = in != nullptr ? in->PeekAllocator() : nullptr;
  if (shared != nullptr && SUCCEEDED(input->NotifyAllocator(shared, in->IsReadOnly() ? TRUE : FALSE))) {
    shared->AddRef();
    *allocator = shared;
    return S_OK;
  }
  return D_CBaseOutputPin::DecideAllocator(input, allocator);
}

HRESULT D_CTransInPlaceOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  ALLOCATOR_PROPERTIES want = *request;
  D_CTransInPlaceInputPin* in = transform_->InputPin();
  if (in != nullptr && in->PeekAllocator() != nullptr) {
    ALLOCATOR_PROPERTIES upstream;
    if (SUCCEEDED(in->PeekAllocator()->GetProperties(&upstream))) {
      if (want.cBuffers < upstream.cBuffers) want.cBuffers = upstream.cBuffers;
      if (want.cbBuffer < upstream.cbBuffer) want.cbBuffer = upstream.cbBuffer;
    }
  }
  if (want.cBuffers < 1) want.cBuffers = 1;
  if (want.cbBuffer < 1) want.cbBuffer = 65536;
  if (want.cbAlign < 1) want.cbAlign = 1;
  ALLOCATOR_PROPERTIES actual;
  HRESULT hr = allocator->SetProperties(&want, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < want.cbBuffer ? E_FAIL : S_OK;
}

D_CTransInPlaceFilter::D_CTransInPlaceFilter(const wchar_t* name, IUnknown* outer, REFCLSID clsid, bool modifiesData)
    : D_CBaseFilter(name, outer, &filterLock_, clsid), input_(nullptr), output_(nullptr), modifiesData_(modifiesData) {}

D_CTransInPlaceFilter::~D_CTransInPlaceFilter() {
  delete input_;
  delete output_;
}

void D_CTransInPlaceFilter::SetPins(D_CTransInPlaceInputPin* input, D_CTransInPlaceOutputPin* output) {
  input_ = input;
  output_ = output;
}

int D_CTransInPlaceFilter::GetPinCount() { return 2; }

D_CBasePin* D_CTransInPlaceFilter::GetPin(int index) {
  if (index == 0) return input_;
  if (index == 1) return output_;
  return nullptr;
}

IMediaSample* D_CTransInPlaceFilter::CopySample(IMediaSample* source) {
  IMediaSample* copy = nullptr;
  REFERENCE_TIME start = 0, end = 0;
  HRESULT timed = source->GetTime(&start, &end);
  if (FAILED(output_->GetDeliveryBuffer(&copy, nullptr, nullptr, 0)) || copy == nullptr) return nullptr;
  BYTE* from = nullptr;
  BYTE* to = nullptr;
  LONG length = source->GetActualDataLength();
  if (FAILED(source->GetPointer(&from)) || FAILED(copy->GetPointer(&to)) || length > copy->GetSize() ||
      FAILED(copy->SetActualDataLength(length))) {
    copy->Release();
    return nullptr;
  }
  memcpy(to, from, static_cast<size_t>(length));
  if (timed == S_OK) copy->SetTime(&start, &end);
  else if (timed == VFW_S_NO_STOP_TIME) copy->SetTime(&start, nullptr);
  copy->SetSyncPoint(source->IsSyncPoint() == S_OK);
  copy->SetPreroll(source->IsPreroll() == S_OK);
  copy->SetDiscontinuity(source->IsDiscontinuity() == S_OK);
  AM_MEDIA_TYPE* type = nullptr;
  if (source->GetMediaType(&type) == S_OK && type != nullptr) {
    copy->SetMediaType(type);
    DeleteMediaTypeCopy(type);
  }
  return copy;
}

HRESULT D_CTransInPlaceFilter::Receive(IMediaSample* sample) {
  D_CAutoLock streaming(&receiveLock_);
  bool outputConnected = output_ != nullptr && output_->IsConnected();
  if (input_->SampleProps().dwStreamId != AM_STREAM_MEDIA) {
    return outputConnected ? output_->Deliver(sample) : S_OK;
  }
  IMediaSample* work = sample;
  IMediaSample* copy = nullptr;
  if (outputConnected && output_->PeekAllocator() != input_->PeekAllocator()) {
    copy = CopySample(sample);
    if (copy == nullptr) return E_UNEXPECTED;
    work = copy;
  }
  HRESULT hr = Transform(work);
  if (hr == S_OK) {
    hr = outputConnected ? output_->Deliver(work) : S_OK;
  } else if (SUCCEEDED(hr)) {
    hr = S_OK;  // dropped
  }
  if (copy != nullptr) copy->Release();
  return hr;
}

}  // namespace RiDov
