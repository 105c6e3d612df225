// The sample grabber filter ("SampleGrabber"): accepted-type check, the
// callback on every media sample, pass-through delivery; its input pin
// ("Input") with the optional delivery buffer and that buffer's allocator.
// Threads: the callback runs on the graph's streaming thread inside the
// grabber's lock, which also guards the accepted type and the callback.
// Platform: the strmif.h interfaces through our base layer (DShowBase).
#include "ZoRevOStrmBaseFilterGrabber.h"

#include <new>
#include <stdint.h>
#include <string.h>

namespace RiDov {

const IID IID_IGrabberSample = {0x6B652FFF, 0x11FE, 0x4FCE, {0x92, 0xAD, 0x02, 0x66, 0xB5, 0xD7, 0xC7, 0x8F}};
const CLSID CLSID_D_SampleGrabber = {0x2FA4F053, 0x6D60, 0x4CB0, {0x95, 0x03, 0x8E, 0x89, 0x23, 0x4F, 0x3F, 0x73}};

// ---- allocator over the delivery buffer ----

D_CSampleGrabberAllocator::D_CSampleGrabberAllocator(D_CSampleGrabberInputPin* pin) : pin_(pin) {}

D_CSampleGrabberAllocator::~D_CSampleGrabberAllocator() {
  D_CAutoLock lock(&lock_);
  Free();
  pin_ = nullptr;  // the buffer is not ours to free
}

STDMETHODIMP D_CSampleGrabberAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  HRESULT hr = D_CMemAllocator::SetProperties(request, actual);
  if (FAILED(hr)) return hr;
  const ALLOCATOR_PROPERTIES& mine = pin_->BufferProps();
  if (request->cbAlign != mine.cbAlign) return VFW_E_BADALIGN;
  if (request->cbPrefix != mine.cbPrefix || request->cbBuffer > mine.cbBuffer || request->cBuffers > mine.cBuffers) {
    return E_FAIL;
  }
  D_CAutoLock lock(&lock_);
  *actual = mine;
  count_ = mine.cBuffers;
  size_ = mine.cbBuffer;
  alignment_ = mine.cbAlign;
  prefix_ = mine.cbPrefix;
  return S_OK;
}

HRESULT D_CSampleGrabberAllocator::Alloc() {
  D_CAutoLock lock(&lock_);
  LONGLONG slot = 0;
  HRESULT hr = PrepareAlloc(&slot);
  if (hr != S_OK) return SUCCEEDED(hr) ? S_OK : hr;
  BYTE* buffer = pin_ != nullptr ? pin_->DeliveryBuffer() : nullptr;
  if (buffer == nullptr) return E_OUTOFMEMORY;
  return MakeSamples(buffer, slot);
}

void D_CSampleGrabberAllocator::Free() {
  while (D_CMediaSample* s = TakeFreeSample()) delete s;
}

// ---- input pin ----

D_CSampleGrabberInputPin::D_CSampleGrabberInputPin(D_CSampleGrabber* filter, D_CCritSec* lock, HRESULT* result)
    : D_CTransInPlaceInputPin(filter, lock, L"Input"), grabber_(filter), privateAllocator_(nullptr), buffer_(nullptr),
      typeChanged_(0) {
  memset(&bufferProps_, 0, sizeof(bufferProps_));
  if (result != nullptr) *result = S_OK;
}

D_CSampleGrabberInputPin::~D_CSampleGrabberInputPin() {
  if (privateAllocator_ != nullptr) privateAllocator_->Release();
}

HRESULT D_CSampleGrabberInputPin::SetDeliveryBuffer(ALLOCATOR_PROPERTIES props, BYTE* buffer) {
  if (props.cBuffers != 1) return E_INVALIDARG;
  if (buffer == nullptr) return E_POINTER;
  bufferProps_ = props;
  buffer_ = buffer;
  if (privateAllocator_ != nullptr) privateAllocator_->Release();
  privateAllocator_ = new (std::nothrow) D_CSampleGrabberAllocator(this);
  if (privateAllocator_ == nullptr || !privateAllocator_->HasEvent()) {
    if (privateAllocator_ != nullptr) privateAllocator_->Release();
    privateAllocator_ = nullptr;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT D_CSampleGrabberInputPin::GetMediaType(int position, D_CMediaType* type) {
  if (type == nullptr) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return grabber_->CopyAcceptedType(type) == S_OK ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP D_CSampleGrabberInputPin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (types == nullptr) return E_POINTER;
  D_CTransInPlaceOutputPin* out = grabber_->OutputPin();
  if (out != nullptr && out->IsConnected()) return out->GetConnected()->EnumMediaTypes(types);
  D_CMediaType accepted;
  if (GetMediaType(0, &accepted) != S_OK) return E_OUTOFMEMORY;
  const AM_MEDIA_TYPE* list[1] = {&accepted};
  *types = D_CEnumMediaTypes::Create(list, 1);
  return *types != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT D_CSampleGrabberInputPin::SetMediaType(const AM_MEDIA_TYPE* type) {
  typeChanged_ = 1;
  return D_CTransInPlaceInputPin::SetMediaType(type);
}

STDMETHODIMP D_CSampleGrabberInputPin::GetAllocator(IMemAllocator** allocator) {
  if (privateAllocator_ == nullptr) return D_CTransInPlaceInputPin::GetAllocator(allocator);
  if (allocator == nullptr) return E_POINTER;
  privateAllocator_->AddRef();
  *allocator = privateAllocator_;
  return S_OK;
}

STDMETHODIMP D_CSampleGrabberInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (privateAllocator_ != nullptr) {
    if (allocator != privateAllocator_) return E_FAIL;
    if (readOnly && grabber_->ModifiesData()) return E_FAIL;
  }
  return D_CTransInPlaceInputPin::NotifyAllocator(allocator, readOnly);
}

STDMETHODIMP D_CSampleGrabberInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) {
  if (props == nullptr) return E_POINTER;
  if (privateAllocator_ == nullptr) return D_CTransInPlaceInputPin::GetAllocatorRequirements(props);
  *props = bufferProps_;
  return S_OK;
}

// ---- filter ----

D_CSampleGrabber::D_CSampleGrabber(IUnknown* outer, HRESULT* result)
    : D_CTransInPlaceFilter(L"SampleGrabber", outer, CLSID_D_SampleGrabber, false), callback_(nullptr), userData_(0) {
  HRESULT hr = S_OK;
  D_CSampleGrabberInputPin* input = new (std::nothrow) D_CSampleGrabberInputPin(this, &filterLock_, &hr);
  D_CTransInPlaceOutputPin* output = new (std::nothrow) D_CTransInPlaceOutputPin(this, &filterLock_, L"Output");
  SetPins(input, output);
  *result = input != nullptr && output != nullptr && SUCCEEDED(hr) ? S_OK : E_OUTOFMEMORY;
}

D_CSampleGrabber* D_CSampleGrabber::CreateInstance(IUnknown* outer, HRESULT* result) {
  HRESULT hr = E_OUTOFMEMORY;
  D_CSampleGrabber* grabber = new (std::nothrow) D_CSampleGrabber(outer, &hr);
  if (grabber != nullptr && FAILED(hr)) {
    grabber->Release();
    grabber = nullptr;
  }
  if (result != nullptr) *result = grabber != nullptr ? S_OK : E_OUTOFMEMORY;
  return grabber;
}

STDMETHODIMP D_CSampleGrabber::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IGrabberSample) {
    return GiveInterface(static_cast<IGrabberSample*>(this), out);
  }
  return D_CTransInPlaceFilter::QueryInterface(iid, out);
}

STDMETHODIMP_(ULONG) D_CSampleGrabber::AddRef() { return D_CTransInPlaceFilter::AddRef(); }
STDMETHODIMP_(ULONG) D_CSampleGrabber::Release() { return D_CTransInPlaceFilter::Release(); }

HRESULT D_CSampleGrabber::CheckInputType(const AM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  D_CAutoLock lock(&grabberLock_);
  return accepted_.AcceptsPartially(type);
}

HRESULT D_CSampleGrabber::Receive(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  return D_CTransInPlaceFilter::Receive(sample);
}

HRESULT D_CSampleGrabber::Transform(IMediaSample* sample) {
  D_CAutoLock lock(&grabberLock_);
  if (callback_ == nullptr) return S_OK;
  REFERENCE_TIME start = 0, stop = 0;
  sample->GetTime(&start, &stop);
  start += input_->CurrentStartTime();
  stop += input_->CurrentStartTime();
  int changed = static_cast<D_CSampleGrabberInputPin*>(input_)->TakeTypeChanged();
  return callback_(sample, &start, &stop, changed, userData_);
}

STDMETHODIMP D_CSampleGrabber::SetAcceptedMediaType(const AM_MEDIA_TYPE* type) {
  D_CAutoLock lock(&grabberLock_);
  if (type == nullptr) {
    accepted_.Reset();
    return S_OK;
  }
  return accepted_.Set(*type);
}

HRESULT D_CSampleGrabber::CopyAcceptedType(D_CMediaType* type) {
  D_CAutoLock lock(&grabberLock_);
  if (accepted_.IsEmpty()) {
    type->Reset();
    return S_OK;
  }
  return type->Set(accepted_);
}

STDMETHODIMP D_CSampleGrabber::GetConnectedMediaType(AM_MEDIA_TYPE* type) {
  if (input_ == nullptr || !input_->IsConnected()) return VFW_E_NOT_CONNECTED;
  return input_->ConnectionMediaType(type);
}

STDMETHODIMP D_CSampleGrabber::SetCallback(SampleGrabberCallback callback, DWORD userData) {
  D_CAutoLock lock(&grabberLock_);
  callback_ = callback;
  userData_ = userData;
  return S_OK;
}

STDMETHODIMP D_CSampleGrabber::SetDeliveryBuffer(ALLOCATOR_PROPERTIES props, BYTE* buffer) {
  if (input_ == nullptr || output_ == nullptr) return E_POINTER;
  if (input_->IsConnected() || output_->IsConnected()) return E_INVALIDARG;
  return static_cast<D_CSampleGrabberInputPin*>(input_)->SetDeliveryBuffer(props, buffer);
}

}  // namespace RiDov
