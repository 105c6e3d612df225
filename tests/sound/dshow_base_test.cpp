// The DirectShow base layer through direct calls: media types owning their
// format blocks, partial matching, the media-type enumerator.
#include <gtest/gtest.h>
#include <string.h>

#include "DShowBase.h"

#include <mmreg.h>

using namespace RiDov;

namespace {

AM_MEDIA_TYPE PcmType(WAVEFORMATEX* format) {
  AM_MEDIA_TYPE t;
  memset(&t, 0, sizeof(t));
  t.majortype = MEDIATYPE_Audio;
  t.subtype = MEDIASUBTYPE_PCM;
  t.formattype = FORMAT_WaveFormatEx;
  t.cbFormat = sizeof(*format);
  t.pbFormat = reinterpret_cast<BYTE*>(format);
  return t;
}

TEST(DShowBase, MediaTypesOwnTheirFormatBlocks) {
  WAVEFORMATEX wave = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  AM_MEDIA_TYPE offered = PcmType(&wave);
  D_CMediaType a;
  EXPECT_TRUE(a.IsEmpty());
  ASSERT_EQ(a.Set(offered), S_OK);
  EXPECT_NE(a.pbFormat, offered.pbFormat);
  EXPECT_EQ(memcmp(a.pbFormat, &wave, sizeof(wave)), 0);
  D_CMediaType b(a);
  EXPECT_NE(b.pbFormat, a.pbFormat);
  wave.nChannels = 1;  // the copies are independent of the source
  EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(b.pbFormat)->nChannels, 2);
  b.Reset();
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(b.pbFormat, nullptr);
  b = a;
  EXPECT_EQ(b.cbFormat, sizeof(WAVEFORMATEX));
}

TEST(DShowBase, PartialMatchingTable) {
  WAVEFORMATEX wave = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  AM_MEDIA_TYPE pcm = PcmType(&wave);
  AM_MEDIA_TYPE video = pcm;
  video.majortype = MEDIATYPE_Video;
  video.subtype = MEDIASUBTYPE_RGB32;
  AM_MEDIA_TYPE otherFormat = pcm;
  otherFormat.formattype = FORMAT_VideoInfo;
  const GUID null = GUID_NULL;
  const struct {
    GUID major, sub, format;
    const AM_MEDIA_TYPE* offered;
    HRESULT result;
  } rows[] = {
      {null, null, null, &video, S_OK},  // nothing set: anything
      {MEDIATYPE_Audio, MEDIASUBTYPE_PCM, null, &pcm, S_OK},
      {MEDIATYPE_Audio, MEDIASUBTYPE_PCM, null, &otherFormat, S_OK},
      {MEDIATYPE_Audio, MEDIASUBTYPE_PCM, null, &video, VFW_E_INVALID_MEDIA_TYPE},
      {MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, &otherFormat, VFW_E_INVALID_MEDIA_TYPE},
      {MEDIATYPE_Audio, MEDIASUBTYPE_IEEE_FLOAT, null, &pcm, VFW_E_INVALID_MEDIA_TYPE},
      {MEDIATYPE_Audio, null, null, &pcm, S_OK},
      {MEDIATYPE_Audio, null, null, nullptr, E_POINTER},
  };
  for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); i++) {
    AM_MEDIA_TYPE wanted;
    memset(&wanted, 0, sizeof(wanted));
    wanted.majortype = rows[i].major;
    wanted.subtype = rows[i].sub;
    wanted.formattype = rows[i].format;
    D_CMediaType accepted;
    accepted.Set(wanted);
    EXPECT_EQ(accepted.AcceptsPartially(rows[i].offered), rows[i].result) << "row " << i;
  }
}

TEST(DShowBase, EnumeratorHandsOutCopies) {
  WAVEFORMATEX wave = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  AM_MEDIA_TYPE first = PcmType(&wave);
  AM_MEDIA_TYPE second = first;
  second.subtype = MEDIASUBTYPE_IEEE_FLOAT;
  const AM_MEDIA_TYPE* list[] = {&first, &second};
  D_CEnumMediaTypes* e = D_CEnumMediaTypes::Create(list, 2);
  ASSERT_NE(e, nullptr);
  AM_MEDIA_TYPE* got[3] = {};
  ULONG fetched = 9;
  EXPECT_EQ(e->Next(3, got, nullptr), E_INVALIDARG);
  EXPECT_EQ(e->Next(1, got, nullptr), S_OK);
  EXPECT_TRUE(got[0]->subtype == MEDIASUBTYPE_PCM);
  EXPECT_NE(got[0]->pbFormat, first.pbFormat);
  DeleteMediaTypeCopy(got[0]);
  IEnumMediaTypes* clone = nullptr;
  ASSERT_EQ(e->Clone(&clone), S_OK);
  EXPECT_EQ(e->Next(3, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 1u);
  EXPECT_TRUE(got[0]->subtype == MEDIASUBTYPE_IEEE_FLOAT);
  DeleteMediaTypeCopy(got[0]);
  // The clone stands where the original stood.
  EXPECT_EQ(clone->Next(1, got, &fetched), S_OK);
  EXPECT_TRUE(got[0]->subtype == MEDIASUBTYPE_IEEE_FLOAT);
  DeleteMediaTypeCopy(got[0]);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(1), S_OK);
  EXPECT_EQ(e->Skip(5), S_FALSE);
  EXPECT_EQ(e->Next(1, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  IUnknown* unknown = nullptr;
  EXPECT_EQ(e->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown->Release(), 1u);
  EXPECT_EQ(clone->Release(), 0u);
  EXPECT_EQ(e->Release(), 0u);
  EXPECT_EQ(D_CEnumMediaTypes::Create(list, D_CEnumMediaTypes::CAPACITY + 1), nullptr);
}

}  // namespace
