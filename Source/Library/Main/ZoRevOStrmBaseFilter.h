// The movie renderer filter: the end of a movie's DirectShow graph. It takes
// uncompressed video (RGB24, RGB32 and six YUV layouts), converts YUV frames
// to 32-bit XRGB and keeps the latest frame, top row first, with a new-frame
// flag that the movie refresh reads and clears.
#ifndef ZOREVOSTRMBASEFILTER_H
#define ZOREVOSTRMBASEFILTER_H

#include "DShowBase.h"
#include "ReReziRader.h"

namespace RiDov {

enum MovieFrameFormat {
  MOVIE_FRAME_RGB24 = 0,
  MOVIE_FRAME_RGB32 = 1,
  MOVIE_FRAME_YV12 = 2,
  MOVIE_FRAME_NV12 = 3,
  MOVIE_FRAME_YUY2 = 4,
  MOVIE_FRAME_UYVY = 5,
  MOVIE_FRAME_YVYU = 6,
  MOVIE_FRAME_NV11 = 7,
};

extern const CLSID CLSID_MovieRenderer;

class MovieRenderer : public D_CBaseRenderer {
 public:
  MovieRenderer(IUnknown* outer, HRESULT* result);
  ~MovieRenderer() override;
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
  void AllocateFrameBuffer();

  // Read by the movie code; the frame buffer and sizes only between
  // LockFrame and UnlockFrame (a new media type replaces them).
  int FormatNumber() const { return formatNumber_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int Pitch() const { return pitch_; }
  void* FrameBuffer() const { return frameBuffer_; }
  int ConversionFlag() const { return conversion_; }
  int BottomUp() const { return bottomUp_; }
  const BaseImageRecord* ConversionImage() const { return conversionImage_; }
  // The new-frame flag, cleared as it is read; Mark sets it again when a
  // frame is held (the movie asks for it again after a device reset).
  int TakeNewFrame() { return InterlockedExchange(&newFrame_, 0) != 0 ? 1 : 0; }
  int PeekNewFrame() const { return newFrame_ != 0 ? 1 : 0; }
  void MarkFrameAgain();
  void LockFrame() { frameLock_.Lock(); }
  void UnlockFrame() { frameLock_.Unlock(); }
  // The upstream end of stream arrived (cleared by a flush or a stop).
  bool EndOfStreamSeen() {
    D_CAutoLock lock(&filterLock_);
    return endOfStream_;
  }
  // Samples dropped for a length below one frame.
  LONG ShortSamples() const { return shortSamples_; }

 private:
  // Bytes one sample of the current media type must hold.
  LONG FrameLength() const;
  void ReleaseConversionImage();

  int mediaTypeSet_;
  int conversion_;
  BaseImageRecord* conversionImage_;
  int formatNumber_;
  void* frameBuffer_;
  volatile LONG newFrame_;
  int bottomUp_;
  int width_, height_;
  int pitch_;
  D_CCritSec frameLock_;
  volatile LONG shortSamples_;
};

// A new renderer with one reference, or null.
MovieRenderer* CreateMovieRenderer(IUnknown* outer, HRESULT* result);

}  // namespace RiDov

#endif  // ZOREVOSTRMBASEFILTER_H
