// Media samples: times, media times, flags, attached media types and what the last Release
// resets.
#include <gtest/gtest.h>

#include "streams.h"

namespace {

class SampleTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CreateMemoryAllocator(&allocator_), S_OK);
    ALLOCATOR_PROPERTIES request{1, 64, 1, 0}, actual{};
    ASSERT_EQ(allocator_->SetProperties(&request, &actual), S_OK);
    ASSERT_EQ(allocator_->Commit(), S_OK);
    ASSERT_EQ(allocator_->GetBuffer(&sample_, nullptr, nullptr, 0), S_OK);
  }
  void TearDown() override {
    if (sample_) sample_->Release();
    allocator_->Decommit();
    allocator_->Release();
  }
  IMemAllocator* allocator_ = nullptr;
  IMediaSample* sample_ = nullptr;
};

TEST_F(SampleTest, Times) {
  REFERENCE_TIME start = 0, stop = 0;
  EXPECT_EQ(sample_->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);

  REFERENCE_TIME s = 100, e = 200;
  ASSERT_EQ(sample_->SetTime(&s, &e), S_OK);
  EXPECT_EQ(sample_->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(start, 100);
  EXPECT_EQ(stop, 200);

  // A start without a stop: the stop reads as start + 1.
  ASSERT_EQ(sample_->SetTime(&s, nullptr), S_OK);
  EXPECT_EQ(sample_->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
  EXPECT_EQ(stop, 101);

  ASSERT_EQ(sample_->SetTime(nullptr, nullptr), S_OK);
  EXPECT_EQ(sample_->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);

  LONGLONG ms = 0, me = 0;
  EXPECT_EQ(sample_->GetMediaTime(&ms, &me), VFW_E_MEDIA_TIME_NOT_SET);
  LONGLONG m1 = 5, m2 = 9;
  ASSERT_EQ(sample_->SetMediaTime(&m1, &m2), S_OK);
  EXPECT_EQ(sample_->GetMediaTime(&ms, &me), S_OK);
  EXPECT_EQ(ms, 5);
  EXPECT_EQ(me, 9);
}

TEST_F(SampleTest, Flags) {
  struct Flag {
    const char* name;
    HRESULT (STDMETHODCALLTYPE IMediaSample::*is)();
    HRESULT (STDMETHODCALLTYPE IMediaSample::*set)(BOOL);
  };
  const Flag flags[] = {{"sync point", &IMediaSample::IsSyncPoint, &IMediaSample::SetSyncPoint},
                        {"preroll", &IMediaSample::IsPreroll, &IMediaSample::SetPreroll},
                        {"discontinuity", &IMediaSample::IsDiscontinuity, &IMediaSample::SetDiscontinuity}};
  for (const Flag& f : flags) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ((sample_->*f.is)(), S_FALSE);
    (sample_->*f.set)(TRUE);
    EXPECT_EQ((sample_->*f.is)(), S_OK);
    // The other flags are independent.
    for (const Flag& other : flags) {
      if (&other == &f) continue;
      EXPECT_EQ((sample_->*other.is)(), S_FALSE);
    }
    (sample_->*f.set)(FALSE);
    EXPECT_EQ((sample_->*f.is)(), S_FALSE);
  }
}

TEST_F(SampleTest, ActualLengthStaysInsideTheBuffer) {
  EXPECT_EQ(sample_->SetActualDataLength(64), S_OK);
  EXPECT_EQ(sample_->SetActualDataLength(0), S_OK);
  EXPECT_EQ(sample_->SetActualDataLength(65), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample_->SetActualDataLength(-1), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample_->GetActualDataLength(), 0);
}

TEST_F(SampleTest, AttachedMediaTypeIsACopy) {
  AM_MEDIA_TYPE* got = reinterpret_cast<AM_MEDIA_TYPE*>(1);
  EXPECT_EQ(sample_->GetMediaType(&got), S_FALSE);
  EXPECT_EQ(got, nullptr);

  CMediaType mt(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  WAVEFORMATEX wfx{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  ASSERT_TRUE(mt.SetFormat(reinterpret_cast<BYTE*>(&wfx), sizeof(wfx)));
  ASSERT_EQ(sample_->SetMediaType(&mt), S_OK);
  mt.ResetFormatBuffer();  // the sample kept its own copy

  ASSERT_EQ(sample_->GetMediaType(&got), S_OK);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->subtype, MEDIASUBTYPE_PCM);
  ASSERT_EQ(got->cbFormat, sizeof(WAVEFORMATEX));
  EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(got->pbFormat)->nSamplesPerSec, 44100u);
  DeleteMediaType(got);

  ASSERT_EQ(sample_->SetMediaType(nullptr), S_OK);
  EXPECT_EQ(sample_->GetMediaType(&got), S_FALSE);
}

TEST_F(SampleTest, LastReleaseClearsTimesFlagsAndType) {
  REFERENCE_TIME s = 1, e = 2;
  sample_->SetTime(&s, &e);
  sample_->SetSyncPoint(TRUE);
  sample_->SetDiscontinuity(TRUE);
  CMediaType mt(&MEDIATYPE_Video);
  sample_->SetMediaType(&mt);
  sample_->Release();
  // One buffer only: GetBuffer hands the same sample back, clean.
  ASSERT_EQ(allocator_->GetBuffer(&sample_, nullptr, nullptr, 0), S_OK);
  REFERENCE_TIME start, stop;
  EXPECT_EQ(sample_->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_EQ(sample_->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(sample_->IsDiscontinuity(), S_FALSE);
  AM_MEDIA_TYPE* got = nullptr;
  EXPECT_EQ(sample_->GetMediaType(&got), S_FALSE);
}

}  // namespace
