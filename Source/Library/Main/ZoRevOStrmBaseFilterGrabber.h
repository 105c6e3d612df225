// The sample grabber: an in-place DirectShow filter that accepts the media
// type its owner sets and hands every sample passing through it to a
// callback (with its times, a type-changed flag and a user word) before
// passing it on unchanged; optionally its samples live in a buffer of the
// owner's (SetDeliveryBuffer).
#ifndef ZOREVOSTRMBASEFILTERGRABBER_H
#define ZOREVOSTRMBASEFILTERGRABBER_H

#include "DShowBase.h"

namespace RiDov {

// (sample, start time, stop time, type-changed flag, user data) -> result
// of the sample's Transform (S_OK passes it on).
typedef HRESULT (*SampleGrabberCallback)(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                         int typeChanged, DWORD userData);

extern const IID IID_IGrabberSample;
extern const CLSID CLSID_D_SampleGrabber;

struct IGrabberSample : public IUnknown {
  // Null resets to "accept anything"; GUID_NULL fields accept anything.
  virtual HRESULT STDMETHODCALLTYPE SetAcceptedMediaType(const AM_MEDIA_TYPE* type) = 0;
  // VFW_E_NOT_CONNECTED until the input pin connects.
  virtual HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCallback(SampleGrabberCallback callback, DWORD userData) = 0;
  // One buffer (count 1) the samples point into; only while unconnected.
  virtual HRESULT STDMETHODCALLTYPE SetDeliveryBuffer(ALLOCATOR_PROPERTIES props, BYTE* buffer) = 0;
};

class D_CSampleGrabberInputPin;

// Samples pointing into the input pin's delivery buffer.
class D_CSampleGrabberAllocator : public D_CMemAllocator {
 public:
  explicit D_CSampleGrabberAllocator(D_CSampleGrabberInputPin* pin);
  ~D_CSampleGrabberAllocator() override;
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;

 protected:
  HRESULT Alloc() override;
  void Free() override;  // the sample objects only; the buffer is the owner's

 private:
  D_CSampleGrabberInputPin* pin_;
};

class D_CSampleGrabber;

class D_CSampleGrabberInputPin : public D_CTransInPlaceInputPin {
 public:
  D_CSampleGrabberInputPin(D_CSampleGrabber* filter, D_CCritSec* lock, HRESULT* result);
  ~D_CSampleGrabberInputPin() override;
  HRESULT SetDeliveryBuffer(ALLOCATOR_PROPERTIES props, BYTE* buffer);
  HRESULT GetMediaType(int position, D_CMediaType* type) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;

  // Read and cleared by the filter's Transform.
  int TakeTypeChanged() {
    int changed = typeChanged_;
    typeChanged_ = 0;
    return changed;
  }
  const ALLOCATOR_PROPERTIES& BufferProps() const { return bufferProps_; }
  BYTE* DeliveryBuffer() const { return buffer_; }

 private:
  D_CSampleGrabber* grabber_;
  D_CSampleGrabberAllocator* privateAllocator_;
  ALLOCATOR_PROPERTIES bufferProps_;
  BYTE* buffer_;
  int typeChanged_;
};

class D_CSampleGrabber : public D_CTransInPlaceFilter, public IGrabberSample {
 public:
  // Null with E_OUTOFMEMORY in *result when the filter or its pins cannot be
  // made; one reference.
  static D_CSampleGrabber* CreateInstance(IUnknown* outer, HRESULT* result);
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  HRESULT CheckInputType(const AM_MEDIA_TYPE* type) override;
  HRESULT Transform(IMediaSample* sample) override;
  HRESULT Receive(IMediaSample* sample) override;

  STDMETHODIMP SetAcceptedMediaType(const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP GetConnectedMediaType(AM_MEDIA_TYPE* type) override;
  STDMETHODIMP SetCallback(SampleGrabberCallback callback, DWORD userData) override;
  STDMETHODIMP SetDeliveryBuffer(ALLOCATOR_PROPERTIES props, BYTE* buffer) override;

  // The accepted type, copied under the grabber's lock.
  HRESULT CopyAcceptedType(D_CMediaType* type);

 private:
  D_CSampleGrabber(IUnknown* outer, HRESULT* result);
  D_CMediaType accepted_;
  SampleGrabberCallback callback_;
  D_CCritSec grabberLock_;  // guards the accepted type and the callback
  DWORD userData_;
};

}  // namespace RiDov

#endif  // ZOREVOSTRMBASEFILTERGRABBER_H
