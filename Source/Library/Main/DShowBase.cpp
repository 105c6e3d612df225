// DirectShow base layer: media types owning their format blocks (copy,
// free, partial matching) and the media-type enumerator handed out by pins.
// Threads: an enumerator is used by one thread at a time (COM rules); its
// reference count is atomic.
// Platform: CoTaskMemAlloc, CoTaskMemFree, IUnknown::Release.
#include "DShowBase.h"

#include <new>
#include <string.h>

namespace RiDov {

void FreeMediaTypeContents(AM_MEDIA_TYPE* type) {
  if (type->cbFormat != 0 && type->pbFormat != nullptr) CoTaskMemFree(type->pbFormat);
  if (type->pUnk != nullptr) type->pUnk->Release();
  memset(type, 0, sizeof(*type));
}

HRESULT CopyMediaTypeContents(AM_MEDIA_TYPE* to, const AM_MEDIA_TYPE* from) {
  *to = *from;
  to->pbFormat = nullptr;
  if (from->cbFormat != 0 && from->pbFormat != nullptr) {
    to->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from->cbFormat));
    if (to->pbFormat == nullptr) {
      memset(to, 0, sizeof(*to));
      return E_OUTOFMEMORY;
    }
    memcpy(to->pbFormat, from->pbFormat, from->cbFormat);
  } else {
    to->cbFormat = 0;
  }
  if (to->pUnk != nullptr) to->pUnk->AddRef();
  return S_OK;
}

AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE* from) {
  AM_MEDIA_TYPE* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (type == nullptr) return nullptr;
  if (FAILED(CopyMediaTypeContents(type, from))) {
    CoTaskMemFree(type);
    return nullptr;
  }
  return type;
}

void DeleteMediaTypeCopy(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return;
  FreeMediaTypeContents(type);
  CoTaskMemFree(type);
}

D_CMediaType::D_CMediaType() { memset(static_cast<AM_MEDIA_TYPE*>(this), 0, sizeof(AM_MEDIA_TYPE)); }

D_CMediaType::D_CMediaType(const D_CMediaType& other) : D_CMediaType() { Set(other); }

D_CMediaType::~D_CMediaType() { FreeMediaTypeContents(this); }

D_CMediaType& D_CMediaType::operator=(const D_CMediaType& other) {
  if (this != &other) Set(other);
  return *this;
}

HRESULT D_CMediaType::Set(const AM_MEDIA_TYPE& other) {
  if (&other == this) return S_OK;
  FreeMediaTypeContents(this);
  return CopyMediaTypeContents(this, &other);
}

void D_CMediaType::Reset() { FreeMediaTypeContents(this); }

HRESULT D_CMediaType::AcceptsPartially(const AM_MEDIA_TYPE* offered) const {
  if (offered == nullptr) return E_POINTER;
  if (majortype == GUID_NULL) return S_OK;
  if (majortype != offered->majortype) return VFW_E_INVALID_MEDIA_TYPE;
  if (subtype == GUID_NULL) return S_OK;
  if (subtype != offered->subtype) return VFW_E_INVALID_MEDIA_TYPE;
  if (formattype == GUID_NULL) return S_OK;
  if (formattype != offered->formattype) return VFW_E_INVALID_MEDIA_TYPE;
  return S_OK;
}

D_CEnumMediaTypes* D_CEnumMediaTypes::Create(const AM_MEDIA_TYPE* const* types, int count) {
  if (count < 0 || count > CAPACITY) return nullptr;
  D_CEnumMediaTypes* e = new (std::nothrow) D_CEnumMediaTypes();
  if (e == nullptr) return nullptr;
  for (int i = 0; i < count; i++) {
    if (FAILED(e->types_[i].Set(*types[i]))) {
      delete e;
      return nullptr;
    }
  }
  e->count_ = count;
  return e;
}

STDMETHODIMP D_CEnumMediaTypes::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IEnumMediaTypes) {
    return GiveInterface(static_cast<IEnumMediaTypes*>(this), out);
  }
  return NoInterface(out);
}

STDMETHODIMP_(ULONG) D_CEnumMediaTypes::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }

STDMETHODIMP_(ULONG) D_CEnumMediaTypes::Release() {
  LONG left = InterlockedDecrement(&refCount_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP D_CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (types == nullptr) return E_POINTER;
  if (count > 1 && fetched == nullptr) return E_INVALIDARG;
  ULONG got = 0;
  while (got < count && position_ < count_) {
    AM_MEDIA_TYPE* copy = CreateMediaTypeCopy(&types_[position_]);
    if (copy == nullptr) break;
    types[got++] = copy;
    position_++;
  }
  if (fetched != nullptr) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

STDMETHODIMP D_CEnumMediaTypes::Skip(ULONG count) {
  ULONG left = static_cast<ULONG>(count_ - position_);
  if (count > left) {
    position_ = count_;
    return S_FALSE;
  }
  position_ += static_cast<int>(count);
  return S_OK;
}

STDMETHODIMP D_CEnumMediaTypes::Reset() {
  position_ = 0;
  return S_OK;
}

STDMETHODIMP D_CEnumMediaTypes::Clone(IEnumMediaTypes** out) {
  if (out == nullptr) return E_POINTER;
  const AM_MEDIA_TYPE* list[CAPACITY];
  for (int i = 0; i < count_; i++) list[i] = &types_[i];
  D_CEnumMediaTypes* copy = Create(list, count_);
  if (copy == nullptr) {
    *out = nullptr;
    return E_OUTOFMEMORY;
  }
  copy->position_ = position_;
  *out = copy;
  return S_OK;
}

}  // namespace RiDov
