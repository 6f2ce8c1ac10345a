// Media types: copies own their format blocks, comparison, partial matching, the format-block
// helpers filters rely on, and FourCC subtypes.
#include <gtest/gtest.h>

#include "streams.h"

namespace {

CMediaType PcmType(DWORD rate) {
  CMediaType mt(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  WAVEFORMATEX wfx{WAVE_FORMAT_PCM, 2, rate, rate * 4, 4, 16, 0};
  EXPECT_TRUE(mt.SetFormat(reinterpret_cast<BYTE*>(&wfx), sizeof(wfx)));
  return mt;
}

TEST(MediaType, CopiesOwnTheirFormatAndCompareByIt) {
  CMediaType a = PcmType(44100);
  CMediaType b(a);
  EXPECT_NE(a.Format(), b.Format());
  EXPECT_TRUE(a == b);
  reinterpret_cast<WAVEFORMATEX*>(b.Format())->nSamplesPerSec = 48000;
  EXPECT_FALSE(a == b);
  b = a;
  EXPECT_TRUE(a == b);
  b.SetSubtype(&MEDIASUBTYPE_IEEE_FLOAT);
  EXPECT_TRUE(a != b);

  // Through the bare-struct helpers too.
  AM_MEDIA_TYPE* copy = CreateMediaType(&a);
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(a == CMediaType(*copy));
  DeleteMediaType(copy);
}

TEST(MediaType, AllocFormatBufferKeepsABlockOfTheSameLength) {
  CMediaType mt = PcmType(44100);
  BYTE* before = mt.Format();
  EXPECT_EQ(mt.AllocFormatBuffer(sizeof(WAVEFORMATEX)), before);
  EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(mt.Format())->nSamplesPerSec, 44100u);
  BYTE* bigger = mt.ReallocFormatBuffer(40);
  ASSERT_NE(bigger, nullptr);
  EXPECT_EQ(mt.FormatLength(), 40u);
  EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(bigger)->nSamplesPerSec, 44100u);  // kept
  mt.ResetFormatBuffer();
  EXPECT_EQ(mt.Format(), nullptr);
  EXPECT_EQ(mt.FormatLength(), 0u);
}

TEST(MediaType, PartialMatch) {
  const CMediaType full = PcmType(44100);
  CMediaType anyAudio(&MEDIATYPE_Audio);
  EXPECT_TRUE(anyAudio.IsPartiallySpecified());
  EXPECT_FALSE(full.IsPartiallySpecified());
  EXPECT_TRUE(full.MatchesPartial(&anyAudio));
  CMediaType video(&MEDIATYPE_Video);
  EXPECT_FALSE(full.MatchesPartial(&video));
  // A partial type with a format type also pins the format bytes.
  CMediaType otherRate = PcmType(48000);
  otherRate.SetSubtype(&GUID_NULL);
  EXPECT_FALSE(full.MatchesPartial(&otherRate));
}

TEST(MediaType, FourccSubtypes) {
  EXPECT_EQ(static_cast<const GUID&>(FOURCCMap(MAKEFOURCC('H', '2', '6', '4'))), MEDIASUBTYPE_H264);
  EXPECT_EQ(static_cast<const GUID&>(FOURCCMap(WAVE_FORMAT_PCM)), MEDIASUBTYPE_PCM);
  EXPECT_EQ(FOURCCMap::FourCCOf(MEDIASUBTYPE_YV12), MAKEFOURCC('Y', 'V', '1', '2'));
  EXPECT_EQ(FOURCCMap::FourCCOf(MEDIASUBTYPE_RGB565), 0u);  // not of the pattern
}

TEST(MediaType, AudioTypeFromWaveFormat) {
  WAVEFORMATEX wfx{WAVE_FORMAT_PCM, 6, 48000, 48000 * 12, 12, 16, 99};
  AM_MEDIA_TYPE mt;
  ASSERT_EQ(CreateAudioMediaType(&wfx, &mt, TRUE), S_OK);
  EXPECT_EQ(mt.majortype, MEDIATYPE_Audio);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_PCM);
  EXPECT_EQ(mt.formattype, FORMAT_WaveFormatEx);
  EXPECT_EQ(mt.lSampleSize, 12u);
  ASSERT_EQ(mt.cbFormat, 18u);
  // PCM carries no extra bytes, whatever cbSize said.
  EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(mt.pbFormat)->cbSize, 0);
  FreeMediaType(mt);
}

}  // namespace
