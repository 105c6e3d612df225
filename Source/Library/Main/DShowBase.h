// Our own DirectShow base layer, shared by the sound decoder's graph and the
// movie renderer: media types that own their format block, the media-type and
// pin enumerators, media samples and the memory allocator, the base filter,
// its input and output pins, the in-place transform filter and the base
// renderer (DShowBaseFilter.cpp, DShowBaseRenderer.cpp).
//
// Reference counts: a pin has none of its own; its AddRef / Release go to its
// filter, which owns the pins and deletes them with itself. Filters are not
// aggregated (the outer object is accepted and must be null). A media sample
// going back to zero references returns to its allocator's free list; the
// allocator lives while any of its samples is out.
#ifndef DSHOWBASE_H
#define DSHOWBASE_H

#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>
#include <uuids.h>
#include <control.h>
#include <evcode.h>
#include <amvideo.h>

namespace RiDov {

// Frees the format block and the reference of a media type, leaving it empty.
void FreeMediaTypeContents(AM_MEDIA_TYPE* type);
// Deep copy into `to` (whose contents are not freed); E_OUTOFMEMORY when the
// format block cannot be copied (`to` is then empty).
HRESULT CopyMediaTypeContents(AM_MEDIA_TYPE* to, const AM_MEDIA_TYPE* from);
// A CoTaskMemAlloc'd copy, as IEnumMediaTypes::Next hands out; null on failure.
AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE* from);
void DeleteMediaTypeCopy(AM_MEDIA_TYPE* type);

// A media type owning its format block.
class D_CMediaType : public AM_MEDIA_TYPE {
 public:
  D_CMediaType();
  D_CMediaType(const D_CMediaType& other);
  ~D_CMediaType();
  D_CMediaType& operator=(const D_CMediaType& other);
  HRESULT Set(const AM_MEDIA_TYPE& other);
  void Reset();
  bool IsEmpty() const { return majortype == GUID_NULL; }
  // GUID_NULL fields of this type accept anything: S_OK, or
  // VFW_E_INVALID_MEDIA_TYPE at the first set field that differs.
  HRESULT AcceptsPartially(const AM_MEDIA_TYPE* offered) const;
};

// IEnumMediaTypes over copies of up to a few types.
class D_CEnumMediaTypes final : public IEnumMediaTypes {
 public:
  enum { CAPACITY = 8 };
  // Null on allocation failure; the new object has one reference.
  static D_CEnumMediaTypes* Create(const AM_MEDIA_TYPE* const* types, int count);
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumMediaTypes** out) override;

 private:
  D_CEnumMediaTypes() : refCount_(1), count_(0), position_(0) {}
  volatile LONG refCount_;
  D_CMediaType types_[CAPACITY];
  int count_;
  int position_;
};

// QueryInterface's answers: the object as the asked interface with a
// reference, or no interface.
template <class I>
HRESULT GiveInterface(I* object, void** out) {
  *out = object;
  object->AddRef();
  return S_OK;
}
inline HRESULT NoInterface(void** out) {
  *out = nullptr;
  return E_NOINTERFACE;
}

// A critical section and its scope guard.
class D_CCritSec {
 public:
  D_CCritSec() { InitializeCriticalSection(&section_); }
  ~D_CCritSec() { DeleteCriticalSection(&section_); }
  void Lock() { EnterCriticalSection(&section_); }
  void Unlock() { LeaveCriticalSection(&section_); }
  D_CCritSec(const D_CCritSec&) = delete;
  D_CCritSec& operator=(const D_CCritSec&) = delete;

 private:
  CRITICAL_SECTION section_;
};

class D_CAutoLock {
 public:
  explicit D_CAutoLock(D_CCritSec* lock) : lock_(lock) { lock_->Lock(); }
  ~D_CAutoLock() { lock_->Unlock(); }
  D_CAutoLock(const D_CAutoLock&) = delete;
  D_CAutoLock& operator=(const D_CAutoLock&) = delete;

 private:
  D_CCritSec* lock_;
};

class D_CBaseAllocator;

// A media sample over memory it does not own.
class D_CMediaSample : public IMediaSample {
 public:
  D_CMediaSample(D_CBaseAllocator* allocator, BYTE* buffer, LONG size);
  virtual ~D_CMediaSample();
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  // At zero the sample goes back to its allocator.
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetPointer(BYTE** buffer) override;
  STDMETHODIMP_(LONG) GetSize() override;
  STDMETHODIMP GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  STDMETHODIMP SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  STDMETHODIMP IsSyncPoint() override;
  STDMETHODIMP SetSyncPoint(BOOL sync) override;
  STDMETHODIMP IsPreroll() override;
  STDMETHODIMP SetPreroll(BOOL preroll) override;
  STDMETHODIMP_(LONG) GetActualDataLength() override;
  STDMETHODIMP SetActualDataLength(LONG length) override;
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** type) override;
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* type) override;
  STDMETHODIMP IsDiscontinuity() override;
  STDMETHODIMP SetDiscontinuity(BOOL discontinuity) override;
  STDMETHODIMP GetMediaTime(LONGLONG* start, LONGLONG* end) override;
  STDMETHODIMP SetMediaTime(LONGLONG* start, LONGLONG* end) override;

  // Points the sample at other memory (the allocator's business).
  void SetPointer(BYTE* buffer, LONG size);
  // Clears times, flags and the media type (a sample handed out anew).
  void ResetProperties();
  D_CMediaSample* nextFree;  // the allocator's free list

 private:
  D_CBaseAllocator* allocator_;
  BYTE* buffer_;
  LONG size_;
  LONG actual_;
  volatile LONG refCount_;
  DWORD flags_;  // AM_SAMPLE_* bits
  REFERENCE_TIME start_, end_;
  LONGLONG mediaStart_, mediaEnd_;
  bool mediaTimeValid_;
  AM_MEDIA_TYPE* type_;  // a CreateMediaTypeCopy, or null
};

// IMemAllocator with a free list of samples; GetBuffer waits for a free one.
// Alloc and Free make and delete the samples (derived allocators).
class D_CBaseAllocator : public IMemAllocator {
 public:
  D_CBaseAllocator();
  virtual ~D_CBaseAllocator();
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* props) override;
  STDMETHODIMP Commit() override;
  STDMETHODIMP Decommit() override;
  STDMETHODIMP GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;
  STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override;

  bool IsCommitted() const { return committed_; }
  bool HasEvent() const { return freeEvent_ != nullptr; }

 protected:
  // The base check of an allocation: VFW_E_SIZENOTSET without properties,
  // S_FALSE when samples exist and nothing changed, else S_OK.
  virtual HRESULT Alloc();
  // Deletes the samples (all are in the free list).
  virtual void Free() = 0;
  void AddFreeSample(D_CMediaSample* sample);  // a new sample, counted
  D_CMediaSample* TakeFreeSample();            // for Free: pops one, uncounted
  void FreeIfDone();                           // decommitted and all back: Free
  // The bytes from one sample's start to the next (size and prefix rounded
  // up to the alignment); -1 for negative or overflowing properties.
  LONGLONG SlotSize() const;
  // count_ samples at `slot` steps from `first`, each prefix_ bytes into its
  // slot; E_OUTOFMEMORY (and none kept) when one cannot be made.
  HRESULT MakeSamples(BYTE* first, LONGLONG slot);
  // The common start of a derived Alloc (lock held): the base check, then
  // the old samples freed and the slot size: S_OK to go on, S_FALSE when
  // nothing changed, or the failure.
  HRESULT PrepareAlloc(LONGLONG* slot);

  D_CCritSec lock_;
  LONG count_, size_, alignment_, prefix_;
  bool changed_;

 private:
  volatile LONG refCount_;
  bool committed_;
  bool decommitPending_;
  D_CMediaSample* free_;
  LONG allocated_;  // samples made
  LONG freeCount_;
  HANDLE freeEvent_;  // set while a sample is free or on decommit
};

// Samples in one block of memory of its own.
class D_CMemAllocator : public D_CBaseAllocator {
 public:
  // Null on allocation failure; one reference.
  static D_CMemAllocator* Create();
  ~D_CMemAllocator() override;

 protected:
  D_CMemAllocator() : block_(nullptr) {}
  HRESULT Alloc() override;
  void Free() override;

 private:
  BYTE* block_;
};

class D_CBaseFilter;

// IPin of a filter; connection, media types, segment, flushing flag.
class D_CBasePin : public IPin {
 public:
  D_CBasePin(D_CBaseFilter* filter, D_CCritSec* lock, const wchar_t* name, PIN_DIRECTION direction);
  virtual ~D_CBasePin();
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
  STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // S_OK when the pin takes the type.
  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) = 0;
  // The preferred types by position: S_OK, VFW_S_NO_MORE_ITEMS past the last.
  virtual HRESULT GetMediaType(int position, D_CMediaType* type);
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type);
  // The peer's direction and anything else a pin wants of it.
  virtual HRESULT CheckConnect(IPin* pin);
  virtual HRESULT CompleteConnect(IPin* receiver);
  virtual HRESULT BreakConnect();
  // State changes of the filter (stopped to paused, back to stopped).
  virtual HRESULT Active();
  virtual HRESULT Inactive();

  bool IsConnected() const { return connected_ != nullptr; }
  IPin* GetConnected() const { return connected_; }
  const D_CMediaType& CurrentMediaType() const { return type_; }
  REFERENCE_TIME CurrentStartTime() const { return segmentStart_; }
  REFERENCE_TIME CurrentStopTime() const { return segmentStop_; }
  double CurrentRate() const { return segmentRate_; }
  bool IsFlushing() const { return flushing_; }
  bool IsStopped() const;
  D_CBaseFilter* Filter() const { return filter_; }

 protected:
  HRESULT AttemptConnection(IPin* receiver, const AM_MEDIA_TYPE* type);
  // Both ends of a connection: the peer and the type checked (BreakConnect
  // on a refusal), then the connection taken and its type set.
  HRESULT CheckPeerAndType(IPin* peer, const AM_MEDIA_TYPE* type);
  HRESULT TakeConnection(IPin* peer, const AM_MEDIA_TYPE* type);
  void DropConnection();
  HRESULT TryMediaTypes(IPin* receiver, const AM_MEDIA_TYPE* partial, IEnumMediaTypes* types);

  D_CBaseFilter* filter_;
  D_CCritSec* lock_;  // the filter's lock
  wchar_t name_[MAX_PIN_NAME];
  PIN_DIRECTION direction_;
  IPin* connected_;  // with a reference
  D_CMediaType type_;
  REFERENCE_TIME segmentStart_, segmentStop_;
  double segmentRate_;
  volatile bool flushing_;
};

// Input pin with IMemInputPin: the allocator agreed with upstream and the
// streaming checks of Receive.
class D_CBaseInputPin : public D_CBasePin, public IMemInputPin {
 public:
  D_CBaseInputPin(D_CBaseFilter* filter, D_CCritSec* lock, const wchar_t* name);
  ~D_CBaseInputPin() override;
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
  // The streaming checks and a type change carried by the sample; derived
  // pins call it first and stop on anything but S_OK.
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
  STDMETHODIMP ReceiveCanBlock() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  HRESULT BreakConnect() override;
  HRESULT Inactive() override;

  // VFW_E_NOT_CONNECTED, S_FALSE while flushing, VFW_E_WRONG_STATE when
  // stopped, else S_OK.
  HRESULT CheckStreaming();
  IMemAllocator* PeekAllocator() const { return allocator_; }
  bool IsReadOnly() const { return readOnly_; }
  // The last received sample's properties (stream id, flags, times).
  const AM_SAMPLE2_PROPERTIES& SampleProps() const { return sampleProps_; }

 protected:
  IMemAllocator* allocator_;  // with a reference
  bool readOnly_;
  AM_SAMPLE2_PROPERTIES sampleProps_;
};

// Output pin feeding a downstream IMemInputPin through the agreed allocator.
class D_CBaseOutputPin : public D_CBasePin {
 public:
  D_CBaseOutputPin(D_CBaseFilter* filter, D_CCritSec* lock, const wchar_t* name);
  ~D_CBaseOutputPin() override;
  HRESULT CompleteConnect(IPin* receiver) override;
  HRESULT BreakConnect() override;
  HRESULT Active() override;
  HRESULT Inactive() override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  // The downstream pin's allocator, else one of ours; sized by
  // DecideBufferSize, announced with NotifyAllocator.
  virtual HRESULT DecideAllocator(IMemInputPin* input, IMemAllocator** allocator);
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags);
  HRESULT Deliver(IMediaSample* sample);
  HRESULT DeliverEndOfStream();
  HRESULT DeliverBeginFlush();
  HRESULT DeliverEndFlush();
  HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
  IMemAllocator* PeekAllocator() const { return allocator_; }
  IMemInputPin* PeekInputPin() const { return input_; }

 protected:
  IMemAllocator* allocator_;  // with a reference
  IMemInputPin* input_;       // the downstream pin's, with a reference
};

// IBaseFilter over pins a derived filter supplies; state changes reach every
// pin (Active / Inactive) under the filter lock.
class D_CBaseFilter : public IBaseFilter {
 public:
  D_CBaseFilter(const wchar_t* name, IUnknown* outer, D_CCritSec* lock, REFCLSID clsid);
  virtual ~D_CBaseFilter();
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeout, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
  STDMETHODIMP EnumPins(IEnumPins** pins) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

  virtual int GetPinCount() = 0;
  virtual D_CBasePin* GetPin(int index) = 0;
  // Sends an event to the graph's IMediaEventSink; E_NOTIMPL outside a graph.
  HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);

  FILTER_STATE State() const { return state_; }
  REFERENCE_TIME StartTime() const { return start_; }
  IReferenceClock* Clock() const { return clock_; }
  IFilterGraph* Graph() const { return graph_; }
  D_CCritSec* FilterLock() const { return lock_; }
  LONG ReferenceCount() const { return refCount_; }

 protected:
  D_CCritSec* lock_;
  FILTER_STATE state_;
  REFERENCE_TIME start_;
  IReferenceClock* clock_;  // with a reference
  IFilterGraph* graph_;     // not referenced (the graph holds the filter)
  IMediaEventSink* sink_;   // not referenced
  CLSID clsid_;
  wchar_t name_[MAX_FILTER_NAME];

 private:
  volatile LONG refCount_;
};

class D_CTransInPlaceFilter;

// Input pin of an in-place transform: upstream's samples go on downstream.
class D_CTransInPlaceInputPin : public D_CBaseInputPin {
 public:
  D_CTransInPlaceInputPin(D_CTransInPlaceFilter* filter, D_CCritSec* lock, const wchar_t* name);
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT GetMediaType(int position, D_CMediaType* type) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  // Downstream's allocator when the output is connected, else the base one.
  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;

 protected:
  D_CTransInPlaceFilter* transform_;
};

class D_CTransInPlaceOutputPin : public D_CBaseOutputPin {
 public:
  D_CTransInPlaceOutputPin(D_CTransInPlaceFilter* filter, D_CCritSec* lock, const wchar_t* name);
  // Only the input's connected type.
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT GetMediaType(int position, D_CMediaType* type) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT DecideAllocator(IMemInputPin* input, IMemAllocator** allocator) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

 protected:
  D_CTransInPlaceFilter* transform_;
};

// A filter that passes each sample on after Transform sees it (in place).
// The derived filter makes its pins (usually in its constructor) through
// SetPins; the filter deletes them.
class D_CTransInPlaceFilter : public D_CBaseFilter {
 public:
  D_CTransInPlaceFilter(const wchar_t* name, IUnknown* outer, REFCLSID clsid, bool modifiesData);
  ~D_CTransInPlaceFilter() override;
  int GetPinCount() override;
  D_CBasePin* GetPin(int index) override;

  virtual HRESULT CheckInputType(const AM_MEDIA_TYPE* type) = 0;
  // The sample as it passes: S_OK delivers it, S_FALSE drops it, a failure
  // is returned to upstream.
  virtual HRESULT Transform(IMediaSample* sample) = 0;
  // Transform and delivery (a copy first when the two pins' allocators
  // differ). Called by the input pin after its streaming checks.
  virtual HRESULT Receive(IMediaSample* sample);

  D_CTransInPlaceInputPin* InputPin() const { return input_; }
  D_CTransInPlaceOutputPin* OutputPin() const { return output_; }
  bool ModifiesData() const { return modifiesData_; }

 protected:
  void SetPins(D_CTransInPlaceInputPin* input, D_CTransInPlaceOutputPin* output);
  // A sample of the output allocator holding a copy of `source`; null on failure.
  IMediaSample* CopySample(IMediaSample* source);

  D_CCritSec filterLock_;   // the filter's state lock
  D_CCritSec receiveLock_;  // held while a sample streams through
  D_CTransInPlaceInputPin* input_;
  D_CTransInPlaceOutputPin* output_;
  bool modifiesData_;
};

class D_CBaseRenderer;

class D_CRendererInputPin : public D_CBaseInputPin {
 public:
  D_CRendererInputPin(D_CBaseRenderer* renderer, D_CCritSec* lock, const wchar_t* name);
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT BreakConnect() override;
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

 private:
  D_CBaseRenderer* renderer_;
};

// A renderer with one input pin "In": checks and sets media types through
// the derived filter, holds each sample until its time on the graph's clock
// (at once without a clock; the first sample while paused is shown at once,
// later ones wait for Run), calls DoRenderSample, and sends EC_COMPLETE after
// the end of stream while running. Exposes IMediaSeeking and IMediaPosition-free
// seeking passed to the upstream pin, and IAMFilterMiscFlags (a renderer).
class D_CBaseRenderer : public D_CBaseFilter, public IMediaSeeking, public IAMFilterMiscFlags {
 public:
  D_CBaseRenderer(REFCLSID clsid, const wchar_t* name, IUnknown* outer, HRESULT* result);
  ~D_CBaseRenderer() override;
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  int GetPinCount() override;
  D_CBasePin* GetPin(int index) override;

  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type);
  virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;
  virtual HRESULT BreakConnect();

  // Called by the input pin after its streaming checks.
  HRESULT Receive(IMediaSample* sample);
  HRESULT EndOfStream();
  HRESULT BeginFlush();
  HRESULT EndFlush();
  D_CRendererInputPin* InputPin() const { return input_; }
  LONG RenderedCount() const { return rendered_; }

  // IAMFilterMiscFlags
  STDMETHODIMP_(ULONG) GetMiscFlags() override;
  // IMediaSeeking, passed to the pin upstream of ours.
  STDMETHODIMP GetCapabilities(DWORD* capabilities) override;
  STDMETHODIMP CheckCapabilities(DWORD* capabilities) override;
  STDMETHODIMP IsFormatSupported(const GUID* format) override;
  STDMETHODIMP QueryPreferredFormat(GUID* format) override;
  STDMETHODIMP GetTimeFormat(GUID* format) override;
  STDMETHODIMP IsUsingTimeFormat(const GUID* format) override;
  STDMETHODIMP SetTimeFormat(const GUID* format) override;
  STDMETHODIMP GetDuration(LONGLONG* duration) override;
  STDMETHODIMP GetStopPosition(LONGLONG* stop) override;
  STDMETHODIMP GetCurrentPosition(LONGLONG* current) override;
  STDMETHODIMP ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                 const GUID* sourceFormat) override;
  STDMETHODIMP SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
  STDMETHODIMP GetPositions(LONGLONG* current, LONGLONG* stop) override;
  STDMETHODIMP GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  STDMETHODIMP SetRate(double rate) override;
  STDMETHODIMP GetRate(double* rate) override;
  STDMETHODIMP GetPreroll(LONGLONG* preroll) override;

 protected:
  // The upstream pin's IMediaSeeking with a reference, or null.
  IMediaSeeking* UpstreamSeeking();

  D_CCritSec filterLock_;
  D_CCritSec receiveLock_;
  D_CRendererInputPin* input_;
  HANDLE wakeEvent_;  // set on a state change or flush: a held sample re-checks
  bool endOfStream_;
  bool completeSent_;
  bool prerolled_;  // a sample was shown while paused
  volatile LONG rendered_;
};

// IAsyncReader source over memory: D_CMemStream holds the bytes,
// D_CMemReader is the filter with one output pin of the given media type.
class D_CMemStream {
 public:
  // `rateLimit` (bytes per second) is kept but not enforced: 0xFFFFFFFF none.
  D_CMemStream(const BYTE* data, LONGLONG length, DWORD rateLimit);
  // Copies what lies inside the stream: S_OK, S_FALSE when short.
  HRESULT Read(LONGLONG position, LONG length, BYTE* buffer, LONG* read);
  LONGLONG Size() const { return length_; }

 private:
  const BYTE* data_;
  LONGLONG length_;
  DWORD rateLimit_;
};

class D_CMemReader;

class D_CAsyncOutputPin : public D_CBasePin, public IAsyncReader {
 public:
  D_CAsyncOutputPin(D_CMemReader* reader, D_CCritSec* lock);
  ~D_CAsyncOutputPin() override;
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT GetMediaType(int position, D_CMediaType* type) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  // IAsyncReader
  STDMETHODIMP RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props, IMemAllocator** actual) override;
  STDMETHODIMP Request(IMediaSample* sample, DWORD_PTR user) override;
  STDMETHODIMP WaitForNext(DWORD timeout, IMediaSample** sample, DWORD_PTR* user) override;
  STDMETHODIMP SyncReadAligned(IMediaSample* sample) override;
  STDMETHODIMP SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
  STDMETHODIMP Length(LONGLONG* total, LONGLONG* available) override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

 private:
  enum { QUEUE_SIZE = 64 };
  struct Done {
    IMediaSample* sample;
    DWORD_PTR user;
    HRESULT result;
  };
  HRESULT ReadInto(IMediaSample* sample);
  D_CMemReader* reader_;
  D_CCritSec queueLock_;
  HANDLE queueEvent_;  // set while the queue has entries or while flushing
  Done queue_[QUEUE_SIZE];
  int queueHead_, queueCount_;
  bool readerFlushing_;
};

class D_CMemReader : public D_CBaseFilter {
 public:
  // Null on allocation failure (E_OUTOFMEMORY in *result); one reference.
  static D_CMemReader* Create(D_CMemStream* stream, const AM_MEDIA_TYPE* type, HRESULT* result);
  ~D_CMemReader() override;
  int GetPinCount() override;
  D_CBasePin* GetPin(int index) override;
  D_CMemStream* Stream() const { return stream_; }
  const D_CMediaType& OfferedType() const { return type_; }

 private:
  D_CMemReader(D_CMemStream* stream, HRESULT* result);
  D_CCritSec filterLock_;
  D_CMemStream* stream_;
  D_CMediaType type_;
  D_CAsyncOutputPin* pin_;
};

}  // namespace RiDov

#endif  // DSHOWBASE_H
