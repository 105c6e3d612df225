// The movie renderer filter through direct calls: accepted and refused media
// types, pitch and row order per format, YUV frames converted to XRGB8,
// re-negotiation, the first sample's buffers and the new-frame flag, and
// samples shorter than one frame.
#include <windows.h>

#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "LogCapture.h"
#include "ZoRevOStrmBaseFilter.h"

using RiDov::CreateMovieRenderer;
using RiDov::MovieRenderer;

namespace {

GUID FourCC(char a, char b, char c, char d) {
  GUID g = {static_cast<DWORD>(MAKEFOURCC(a, b, c, d)), 0, 0x10, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
  return g;
}

// A video type with its own format block.
struct VideoType {
  VIDEOINFOHEADER info = {};
  AM_MEDIA_TYPE type = {};
  VideoType(const GUID& subtype, int width, int height, const GUID& format = FORMAT_VideoInfo,
            const GUID& major = MEDIATYPE_Video) {
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    type.majortype = major;
    type.subtype = subtype;
    type.formattype = format;
    type.cbFormat = sizeof(info);
    type.pbFormat = reinterpret_cast<BYTE*>(&info);
  }
};

// A sample over a byte vector: only what the renderer calls.
class FakeSample : public IMediaSample {
 public:
  explicit FakeSample(std::vector<uint8_t> bytes)
      : bytes_(std::move(bytes)), length_(static_cast<LONG>(bytes_.size())) {}
  STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetPointer(BYTE** buffer) override {
    *buffer = bytes_.data();
    return S_OK;
  }
  STDMETHODIMP_(LONG) GetSize() override { return static_cast<LONG>(bytes_.size()); }
  STDMETHODIMP GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return VFW_E_SAMPLE_TIME_NOT_SET; }
  STDMETHODIMP SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return S_OK; }
  STDMETHODIMP IsSyncPoint() override { return S_OK; }
  STDMETHODIMP SetSyncPoint(BOOL) override { return S_OK; }
  STDMETHODIMP IsPreroll() override { return S_FALSE; }
  STDMETHODIMP SetPreroll(BOOL) override { return S_OK; }
  STDMETHODIMP_(LONG) GetActualDataLength() override { return length_; }
  STDMETHODIMP SetActualDataLength(LONG length) override {
    length_ = length;
    return S_OK;
  }
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** type) override {
    *type = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return S_OK; }
  STDMETHODIMP IsDiscontinuity() override { return S_FALSE; }
  STDMETHODIMP SetDiscontinuity(BOOL) override { return S_OK; }
  STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
  STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return S_OK; }

 private:
  std::vector<uint8_t> bytes_;
  LONG length_;
};

// Rows numbered in their first byte(s): row r of `pitch` bytes holds r + 1.
std::vector<uint8_t> NumberedRows(int pitch, int height) {
  std::vector<uint8_t> bytes(static_cast<size_t>(pitch) * height);
  for (int r = 0; r < height; r++) memset(&bytes[static_cast<size_t>(r) * pitch], r + 1, pitch);
  return bytes;
}

struct Renderer {
  MovieRenderer* r = CreateMovieRenderer(nullptr, nullptr);
  ~Renderer() { r->Release(); }
  MovieRenderer* operator->() { return r; }
};

}  // namespace

TEST(MovieRendererFilter, RefusesWhatItCannotShow) {
  Renderer r;
  struct Case {
    VideoType type;
    HRESULT expected;
  } cases[] = {
      {VideoType(MEDIASUBTYPE_RGB32, 64, 48, FORMAT_WaveFormatEx), E_INVALIDARG},
      {VideoType(MEDIASUBTYPE_RGB32, 64, 48, FORMAT_VideoInfo, MEDIATYPE_Audio), E_FAIL},
      {VideoType(MEDIASUBTYPE_RGB565, 64, 48), E_FAIL},
      {VideoType(MEDIASUBTYPE_RGB32, 0, 48), E_FAIL},
      {VideoType(MEDIASUBTYPE_RGB32, 64, 0), E_FAIL},
      {VideoType(FourCC('Y', 'U', 'Y', '2'), 64, 48), S_OK},
      {VideoType(MEDIASUBTYPE_RGB24, 64, -48), S_OK},
  };
  EXPECT_EQ(r->CheckMediaType(nullptr), E_POINTER);
  for (Case& c : cases) EXPECT_EQ(r->CheckMediaType(&c.type.type), c.expected);
  VideoType small(MEDIASUBTYPE_RGB32, 64, 48);
  small.type.cbFormat = sizeof(VIDEOINFOHEADER) - 4;  // a format block too short for its header
  EXPECT_EQ(r->CheckMediaType(&small.type), E_INVALIDARG);
  EXPECT_EQ(r->SetMediaType(&cases[2].type.type), VFW_E_TYPE_NOT_ACCEPTED);
}

// Format number, pitch, row order and conversion per accepted type.
TEST(MovieRendererFilter, PitchAndOrderPerFormat) {
  struct Case {
    GUID subtype;
    int width, height;
    int number, pitch, bottomUp, conversion;
  } cases[] = {
      {MEDIASUBTYPE_RGB24, 101, 10, 0, 304, 1, 0},           {MEDIASUBTYPE_RGB24, 100, 10, 0, 300, 1, 0},
      {MEDIASUBTYPE_RGB32, 64, 240, 1, 256, 1, 0},           {MEDIASUBTYPE_RGB32, 64, -240, 1, 256, 0, 0},
      {FourCC('Y', 'V', '1', '2'), 64, 48, 2, 256, 0, 1},    {FourCC('N', 'V', '1', '2'), 64, 48, 3, 256, 0, 1},
      {FourCC('Y', 'U', 'Y', '2'), 320, 240, 4, 1280, 0, 1}, {FourCC('U', 'Y', 'V', 'Y'), 64, 48, 5, 256, 0, 1},
      {FourCC('Y', 'V', 'Y', 'U'), 64, 48, 6, 256, 0, 1},    {FourCC('N', 'V', '1', '1'), 64, 48, 7, 256, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.number << " " << c.width << "x" << c.height);
    Renderer r;
    VideoType type(c.subtype, c.width, c.height);
    ASSERT_EQ(r->CheckMediaType(&type.type), S_OK);
    ASSERT_EQ(r->SetMediaType(&type.type), S_OK);
    EXPECT_EQ(r->FormatNumber(), c.number);
    EXPECT_EQ(r->Pitch(), c.pitch);
    EXPECT_EQ(r->BottomUp(), c.bottomUp);
    EXPECT_EQ(r->ConversionFlag(), c.conversion);
    EXPECT_EQ(r->Width(), c.width);
    EXPECT_EQ(r->Height(), c.height < 0 ? -c.height : c.height);
    // The first type allocates nothing; the first sample does.
    EXPECT_EQ(r->FrameBuffer(), nullptr);
  }
}

// RGB32 rows reversed for a positive height, copied as they come for a
// negative one; the first sample makes the buffer and sets the flag.
TEST(MovieRendererFilter, BottomUpRowsAreReversed) {
  for (int height : {240, -240}) {
    SCOPED_TRACE(height);
    Renderer r;
    VideoType type(MEDIASUBTYPE_RGB32, 16, height);
    ASSERT_EQ(r->SetMediaType(&type.type), S_OK);
    EXPECT_EQ(r->PeekNewFrame(), 0);
    FakeSample sample(NumberedRows(64, 240));
    EXPECT_EQ(r->DoRenderSample(&sample), S_OK);
    ASSERT_NE(r->FrameBuffer(), nullptr);
    EXPECT_EQ(r->TakeNewFrame(), 1);
    EXPECT_EQ(r->TakeNewFrame(), 0);
    const uint8_t* frame = static_cast<const uint8_t*>(r->FrameBuffer());
    EXPECT_EQ(frame[0], height > 0 ? 240 : 1);
    EXPECT_EQ(frame[239 * 64 + 63], height > 0 ? 1 : 240);
  }
}

// A YUY2 frame converted into the frame buffer: grey 128 in the left half,
// Y 255 / V 255 (red clamped to 255) in the right; then the same filter
// re-negotiated to RGB32 copies without conversion.
TEST(MovieRendererFilter, YuvConvertedThenRenegotiatedToRgb) {
  Renderer r;
  VideoType yuy2(FourCC('Y', 'U', 'Y', '2'), 4, 2);
  ASSERT_EQ(r->SetMediaType(&yuy2.type), S_OK);
  const std::vector<uint8_t> packed = {128, 128, 128, 128, 255, 128, 255, 255, 128, 128, 128, 128, 255, 128, 255, 255};
  FakeSample sample(packed);
  ASSERT_EQ(r->DoRenderSample(&sample), S_OK);
  ASSERT_NE(r->ConversionImage(), nullptr);
  EXPECT_EQ(r->ConversionImage()->width, 4);
  EXPECT_EQ(r->ConversionImage()->height, 2);
  const uint8_t* frame = static_cast<const uint8_t*>(r->FrameBuffer());
  const uint8_t grey[4] = {128, 128, 128, 255};
  EXPECT_EQ(memcmp(frame, grey, 4), 0);
  EXPECT_EQ(frame[4 * 2 + 2], 255);  // red clamped
  EXPECT_EQ(frame[r->Pitch() + 4 * 3 + 2], 255);
  EXPECT_EQ(r->TakeNewFrame(), 1);

  VideoType rgb(MEDIASUBTYPE_RGB32, 4, -2);
  ASSERT_EQ(r->SetMediaType(&rgb.type), S_OK);
  EXPECT_EQ(r->ConversionFlag(), 0);
  EXPECT_EQ(r->ConversionImage(), nullptr);
  EXPECT_EQ(r->PeekNewFrame(), 0);
  ASSERT_NE(r->FrameBuffer(), nullptr);  // a later type allocates at once
  std::vector<uint8_t> pixels(32);
  for (size_t i = 0; i < pixels.size(); i++) pixels[i] = static_cast<uint8_t>(i * 3);
  FakeSample rgbSample(pixels);
  ASSERT_EQ(r->DoRenderSample(&rgbSample), S_OK);
  EXPECT_EQ(memcmp(r->FrameBuffer(), pixels.data(), pixels.size()), 0);
}

// A sample shorter than one frame is dropped (one log line), the frame kept.
TEST(MovieRendererFilter, ShortSamplesAreDropped) {
  test_support::LogCapture log("movie_renderer");
  Renderer r;
  VideoType type(FourCC('Y', 'V', '1', '2'), 8, 8);
  ASSERT_EQ(r->SetMediaType(&type.type), S_OK);
  std::vector<uint8_t> planes(8 * 8, 16);  // Y 16, U = V = 128: grey 16
  planes.resize(8 * 8 * 3 / 2, 128);
  FakeSample full(planes);
  ASSERT_EQ(r->DoRenderSample(&full), S_OK);
  EXPECT_EQ(r->TakeNewFrame(), 1);
  FakeSample shorter(std::vector<uint8_t>(8 * 8 * 3 / 2, 235));
  shorter.SetActualDataLength(8 * 8);
  EXPECT_EQ(r->DoRenderSample(&shorter), S_OK);
  EXPECT_EQ(r->DoRenderSample(&shorter), S_OK);
  EXPECT_EQ(r->TakeNewFrame(), 0);
  EXPECT_EQ(r->ShortSamples(), 2);
  EXPECT_EQ(static_cast<const uint8_t*>(r->FrameBuffer())[0], 16);  // still the first frame
  EXPECT_TRUE(log.Has("ムービーのサンプルが 1 フレームに足りません( 64 / 96 バイト )")) << log.Text();
  EXPECT_EQ(r->DoRenderSample(nullptr), E_POINTER);
}
