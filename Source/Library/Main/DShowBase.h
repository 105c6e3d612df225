// Our own DirectShow base layer, shared by the sound decoder's graph and the
// movie renderer: media types that own their format block, and a media-type
// enumerator.
#ifndef DSHOWBASE_H
#define DSHOWBASE_H

#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>
#include <uuids.h>

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

}  // namespace RiDov

#endif  // DSHOWBASE_H
