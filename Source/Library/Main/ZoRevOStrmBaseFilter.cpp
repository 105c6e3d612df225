// The movie renderer filter on our DirectShow base renderer: media types
// accepted (video info headers of RGB24, RGB32, YV12, NV12, YUY2, UYVY, YVYU
// and NV11), the format number, pitch and row order taken when a type is
// set, YUV samples converted to XRGB8, each frame copied top row first
// into the frame buffer; samples shorter than one frame are dropped.
// Threads and locks: types are set while the graph connects (or on the
// streaming thread for a type carried by a sample); samples arrive on the
// streaming thread. The frame lock guards the buffers and sizes against a
// reader on the main thread; the new-frame flag is set after the copy.
// Platform: IMediaSample of the upstream allocator.
#include "ZoRevOStrmBaseFilter.h"

#include <new>
#include <string.h>

#include "RaRadaraLog.h"
#include "ZiDezaru.h"

namespace RiDov {

namespace {

const char LOG_SHORT_SAMPLE[] = "ムービーのサンプルが 1 フレームに足りません( %ld / %ld バイト )";

// Video subtypes by FourCC.
GUID FourCCSubtype(DWORD fourCC) {
  GUID g = {fourCC, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  return g;
}

struct SubtypeEntry {
  GUID subtype;
  int number;
};

// In the order they are compared.
const SubtypeEntry Subtypes[] = {
    {FourCCSubtype(MAKEFOURCC('N', 'V', '1', '1')), MOVIE_FRAME_NV11},
    {FourCCSubtype(MAKEFOURCC('Y', 'V', 'Y', 'U')), MOVIE_FRAME_YVYU},
    {FourCCSubtype(MAKEFOURCC('U', 'Y', 'V', 'Y')), MOVIE_FRAME_UYVY},
    {FourCCSubtype(MAKEFOURCC('Y', 'U', 'Y', '2')), MOVIE_FRAME_YUY2},
    {FourCCSubtype(MAKEFOURCC('N', 'V', '1', '2')), MOVIE_FRAME_NV12},
    {FourCCSubtype(MAKEFOURCC('Y', 'V', '1', '2')), MOVIE_FRAME_YV12},
    {MEDIASUBTYPE_RGB32, MOVIE_FRAME_RGB32},
    {MEDIASUBTYPE_RGB24, MOVIE_FRAME_RGB24},
};

typedef int (*YuvConverter)(const void* frame, int width, int height, BaseImageRecord* image);
// By format number; null for the RGB formats.
const YuvConverter Converters[8] = {nullptr,
                                    nullptr,
                                    ConvertYV12ToBaseImage,
                                    ConvertNV12ToBaseImage,
                                    ConvertYUY2ToBaseImage,
                                    ConvertUYVYToBaseImage,
                                    ConvertYVYUToBaseImage,
                                    ConvertNV11ToBaseImage};

int FormatNumberOf(const AM_MEDIA_TYPE* type) {
  for (const SubtypeEntry& e : Subtypes)
    if (type->subtype == e.subtype) return e.number;
  return -1;
}

const BITMAPINFOHEADER* BitmapHeaderOf(const AM_MEDIA_TYPE* type) {
  return &reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader;
}

}  // namespace

// {71771540-2017-11CF-AE26-0020AFD79767}
const CLSID CLSID_MovieRenderer = {0x71771540, 0x2017, 0x11CF, {0xAE, 0x26, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x67}};

MovieRenderer::MovieRenderer(IUnknown* outer, HRESULT* result)
    : D_CBaseRenderer(CLSID_MovieRenderer, nullptr, outer, result), mediaTypeSet_(0), conversion_(0),
      conversionImage_(nullptr), formatNumber_(0), frameBuffer_(nullptr), newFrame_(0), bottomUp_(0), width_(0),
      height_(0), pitch_(0), shortSamples_(0) {}

MovieRenderer::~MovieRenderer() {
  if (frameBuffer_ != nullptr) MemFree(frameBuffer_);
  ReleaseConversionImage();
}

void MovieRenderer::ReleaseConversionImage() {
  if (conversionImage_ == nullptr) return;
  ReleaseBaseImage(conversionImage_);
  delete conversionImage_;
  conversionImage_ = nullptr;
}

HRESULT MovieRenderer::CheckMediaType(const AM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  if (type->formattype != FORMAT_VideoInfo || type->pbFormat == nullptr || type->cbFormat < sizeof(VIDEOINFOHEADER))
    return E_INVALIDARG;
  if (type->majortype != MEDIATYPE_Video) return E_FAIL;
  if (FormatNumberOf(type) < 0) return E_FAIL;
  // A frame needs a size.
  const BITMAPINFOHEADER* bitmap = BitmapHeaderOf(type);
  if (bitmap->biWidth <= 0 || bitmap->biHeight == 0 || bitmap->biWidth > 0x4000 || bitmap->biHeight > 0x4000 ||
      bitmap->biHeight < -0x4000)
    return E_FAIL;
  return S_OK;
}

HRESULT MovieRenderer::SetMediaType(const AM_MEDIA_TYPE* type) {
  // The format number comes from the type being set, whatever was checked last.
  if (CheckMediaType(type) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  D_CAutoLock lock(&frameLock_);
  formatNumber_ = FormatNumberOf(type);
  const BITMAPINFOHEADER* bitmap = BitmapHeaderOf(type);
  width_ = bitmap->biWidth;
  bottomUp_ = bitmap->biHeight >= 0 ? 1 : 0;
  height_ = bitmap->biHeight >= 0 ? bitmap->biHeight : -bitmap->biHeight;
  ReleaseConversionImage();
  if (formatNumber_ == MOVIE_FRAME_RGB24) {
    pitch_ = (3 * width_ + 3) & ~3;
    conversion_ = 0;
  } else if (formatNumber_ == MOVIE_FRAME_RGB32) {
    pitch_ = 4 * width_;
    conversion_ = 0;
  } else {
    bottomUp_ = 0;  // the converted image is top row first
    pitch_ = 4 * width_;
    conversion_ = 1;
  }
  if (frameBuffer_ != nullptr) {
    MemFree(frameBuffer_);
    frameBuffer_ = nullptr;
  }
  AllocateFrameBuffer();
  newFrame_ = 0;
  mediaTypeSet_ = 1;
  return S_OK;
}

void MovieRenderer::AllocateFrameBuffer() {
  if (!mediaTypeSet_) return;
  if (conversion_ && conversionImage_ == nullptr) {
    conversionImage_ = new (std::nothrow) BaseImageRecord();
    if (conversionImage_ != nullptr && CreateBaseImageXRGB8(width_, height_, conversionImage_) != 0) {
      delete conversionImage_;
      conversionImage_ = nullptr;
    }
  }
  if (frameBuffer_ == nullptr) frameBuffer_ = MEM_ALLOC(static_cast<size_t>(pitch_) * height_);
}

LONG MovieRenderer::FrameLength() const {
  const LONG pixels = static_cast<LONG>(width_) * height_;
  switch (formatNumber_) {
    case MOVIE_FRAME_RGB24:
    case MOVIE_FRAME_RGB32: return static_cast<LONG>(pitch_) * height_;
    case MOVIE_FRAME_YV12:
    case MOVIE_FRAME_NV12: return pixels + 2 * static_cast<LONG>(width_ / 2) * (height_ / 2);
    case MOVIE_FRAME_NV11: return pixels + 2 * static_cast<LONG>(width_ / 4) * height_;
    default: return 2 * pixels;
  }
}

HRESULT MovieRenderer::DoRenderSample(IMediaSample* sample) {
  if (sample == nullptr) return E_POINTER;
  D_CAutoLock lock(&frameLock_);
  AllocateFrameBuffer();
  if (frameBuffer_ == nullptr || (conversion_ && conversionImage_ == nullptr)) return S_OK;
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || data == nullptr) return S_OK;
  const LONG length = sample->GetActualDataLength();
  if (length < FrameLength()) {
    if (InterlockedIncrement(&shortSamples_) == 1) LogPrintf(LOG_SHORT_SAMPLE, length, FrameLength());
    return S_OK;
  }
  const uint8_t* source = data;
  if (conversion_) {
    Converters[formatNumber_](data, width_, height_, conversionImage_);
    source = static_cast<const uint8_t*>(conversionImage_->pixels);
  }
  uint8_t* target = static_cast<uint8_t*>(frameBuffer_);
  if (bottomUp_) {
    for (int row = 0; row < height_; row++)
      memcpy(target + static_cast<size_t>(height_ - 1 - row) * pitch_, source + static_cast<size_t>(row) * pitch_,
             pitch_);
  } else {
    memcpy(target, source, static_cast<size_t>(pitch_) * height_);
  }
  InterlockedExchange(&newFrame_, 1);
  return S_OK;
}

void MovieRenderer::MarkFrameAgain() {
  D_CAutoLock lock(&frameLock_);
  if (frameBuffer_ != nullptr) InterlockedExchange(&newFrame_, 1);
}

MovieRenderer* CreateMovieRenderer(IUnknown* outer, HRESULT* result) {
  HRESULT hr = S_OK;
  MovieRenderer* renderer = new (std::nothrow) MovieRenderer(outer, &hr);
  if (renderer != nullptr && FAILED(hr)) {
    renderer->Release();
    renderer = nullptr;
  }
  if (result != nullptr) *result = renderer != nullptr ? hr : E_OUTOFMEMORY;
  return renderer;
}

}  // namespace RiDov
