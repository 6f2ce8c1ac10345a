#include "test_filters.h"

#include <algorithm>
#include <cstring>

#include "pcm_format.h"

namespace cehost::test {

// ---- CGainTransform ----

CGainTransform::CGainTransform() : CTransformFilter(NAME("Gain"), nullptr, CLSID_GainTransform) {}

CGainTransform* CGainTransform::Create() {
  auto* f = new CGainTransform();
  f->AddRef();
  return f;
}

namespace {
bool Is16BitPcm(const CMediaType* mt) {
  WAVEFORMATEX wfx;
  return SUCCEEDED(PcmFormatFromMediaType(*mt, &wfx)) && wfx.wBitsPerSample == 16;
}
}  // namespace

HRESULT CGainTransform::CheckInputType(const CMediaType* mtIn) {
  return Is16BitPcm(mtIn) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CGainTransform::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
  return Is16BitPcm(mtIn) && *mtIn == *mtOut ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CGainTransform::GetMediaType(int iPosition, CMediaType* pMediaType) {
  if (iPosition < 0) return E_INVALIDARG;
  if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
  *pMediaType = m_pInput->CurrentMediaType();
  return S_OK;
}

HRESULT CGainTransform::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
  ALLOCATOR_PROPERTIES upstream{};
  if (!m_pInput->Allocator() || FAILED(m_pInput->Allocator()->GetProperties(&upstream))) return E_UNEXPECTED;
  pProp->cBuffers = 2;
  pProp->cbBuffer = std::max<LONG>(upstream.cbBuffer, 1);
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = pAlloc->SetProperties(pProp, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pProp->cbBuffer ? E_FAIL : S_OK;
}

HRESULT CGainTransform::Transform(IMediaSample* pIn, IMediaSample* pOut) {
  const int n = seen_++;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = answers_.find(n);
    if (it != answers_.end()) return it->second;
  }
  BYTE *in = nullptr, *out = nullptr;
  HRESULT hr = pIn->GetPointer(&in);
  if (SUCCEEDED(hr)) hr = pOut->GetPointer(&out);
  if (FAILED(hr)) return hr;
  const LONG length = pIn->GetActualDataLength();
  if (length > pOut->GetSize()) return E_UNEXPECTED;
  for (LONG i = 0; i + 1 < length; i += 2) {
    int16_t v;
    std::memcpy(&v, in + i, 2);
    v = static_cast<int16_t>(-v);
    std::memcpy(out + i, &v, 2);
  }
  pOut->SetActualDataLength(length);
  transformed_++;
  return S_OK;
}

HRESULT CGainTransform::StartStreaming() {
  started_++;
  seen_ = 0;
  return S_OK;
}

HRESULT CGainTransform::StopStreaming() {
  stopped_++;
  return S_OK;
}

// ---- CToneSource ----

class CToneSource::CToneStream : public CSourceStream, public CSourceSeeking {
 public:
  CToneStream(CToneSource* filter, REFERENCE_TIME duration, HRESULT* phr)
      : CSourceStream(NAME("Tone"), phr, filter, u"Output"),
        CSourceSeeking(NAME("Tone seeking"), static_cast<IPin*>(this), phr, &m_csStream) {
    m_rtDuration = duration;
    m_rtStop = duration;
  }

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IMediaSeeking) return CSourceSeeking::NonDelegatingQueryInterface(riid, ppv);
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT GetMediaType(CMediaType* pmt) override {
    WAVEFORMATEX wfx{WAVE_FORMAT_PCM, 1, kRate, kRate * 2, 2, 16, 0};
    return MediaTypeFromPcmFormat(wfx, pmt);
  }

  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = 3;
    request->cbBuffer = kFramesPerSample * 2;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }

  Counts counts() const {
    return Counts{threadCreates_, threadDestroys_, startPlays_, changeStarts_, changeStops_, changeRates_};
  }

 protected:
  HRESULT OnThreadCreate() override {
    threadCreates_++;
    CAutoLock lock(&m_csStream);
    Reposition();
    return S_OK;
  }
  HRESULT OnThreadDestroy() override {
    threadDestroys_++;
    return S_OK;
  }
  HRESULT OnThreadStartPlay() override {
    startPlays_++;
    REFERENCE_TIME start, stop;
    double rate;
    {
      CAutoLock lock(&m_csStream);
      start = m_rtStart;
      stop = m_rtStop;
      rate = m_dRateSeeking;
    }
    return DeliverNewSegment(start, stop, rate);
  }

  HRESULT FillBuffer(IMediaSample* pSample) override {
    priority_ = CeGetThreadPriority(GetCurrentThread());
    CAutoLock lock(&m_csStream);
    const uint64_t end = std::min(TimeToFrames(m_rtStop, kRate), TimeToFrames(m_rtDuration, kRate));
    if (position_ >= end) return S_FALSE;
    const uint64_t n = std::min<uint64_t>(kFramesPerSample, end - position_);
    BYTE* data = nullptr;
    pSample->GetPointer(&data);
    for (uint64_t i = 0; i < n; i++) {
      const int16_t v = static_cast<int16_t>((position_ + i) & 0x7FFF);
      std::memcpy(data + 2 * i, &v, 2);
    }
    pSample->SetActualDataLength(static_cast<LONG>(2 * n));
    REFERENCE_TIME start = FramesToTime(played_, kRate), stop = FramesToTime(played_ + n, kRate);
    pSample->SetTime(&start, &stop);
    LONGLONG mediaStart = static_cast<LONGLONG>(position_), mediaStop = static_cast<LONGLONG>(position_ + n);
    pSample->SetMediaTime(&mediaStart, &mediaStop);
    pSample->SetSyncPoint(TRUE);
    pSample->SetDiscontinuity(discontinuity_);
    discontinuity_ = FALSE;
    position_ += n;
    played_ += n;
    return S_OK;
  }

  HRESULT ChangeStart() override {
    changeStarts_++;
    return UpdateFromSeek();
  }
  HRESULT ChangeStop() override {
    changeStops_++;
    return S_OK;  // FillBuffer reads the stop each time
  }
  HRESULT ChangeRate() override {
    changeRates_++;
    return UpdateFromSeek();
  }

 private:
  void Reposition() {
    position_ = TimeToFrames(m_rtStart, kRate);
    played_ = 0;
    discontinuity_ = TRUE;
  }
  HRESULT UpdateFromSeek() {
    if (!ThreadExists()) return S_OK;
    DeliverBeginFlush();
    Stop();
    DeliverEndFlush();
    {
      CAutoLock lock(&m_csStream);
      Reposition();
    }
    Run();
    return S_OK;
  }

  CCritSec m_csStream;
  uint64_t position_ = 0;  // guarded by m_csStream
  uint64_t played_ = 0;    // guarded by m_csStream
  BOOL discontinuity_ = TRUE;
  std::atomic<int> priority_{-1};
  std::atomic<int> threadCreates_{0}, threadDestroys_{0}, startPlays_{0}, changeStarts_{0}, changeStops_{0},
      changeRates_{0};

  friend class CToneSource;
};

CToneSource::CToneSource(REFERENCE_TIME duration) : CSource(NAME("Tone source"), nullptr, CLSID_ToneSource) {
  HRESULT hr = S_OK;
  m_stream = new CToneStream(this, duration, &hr);
}

CToneSource* CToneSource::Create(REFERENCE_TIME duration) {
  auto* f = new CToneSource(duration);
  f->AddRef();
  return f;
}

CToneSource::Counts CToneSource::GetCounts() const { return m_stream->counts(); }

bool CToneSource::WorkerRunning() const { return m_stream->ThreadExists(); }

int CToneSource::WorkerPriority() const { return m_stream->priority_; }

// ---- CTestRenderer ----

CTestRenderer::CTestRenderer() : CBaseVideoRenderer(CLSID_TestRenderer, NAME("Test renderer"), nullptr, nullptr) {}

CTestRenderer* CTestRenderer::Create() {
  auto* f = new CTestRenderer();
  f->AddRef();
  return f;
}

std::vector<CTestRenderer::Drawn> CTestRenderer::DrawnSamples() const {
  std::lock_guard<std::mutex> guard(lock_);
  return drawn_;
}

HRESULT CTestRenderer::CheckMediaType(const CMediaType* pmt) {
  return pmt->majortype == MEDIATYPE_Audio ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTestRenderer::DoRenderSample(IMediaSample* pSample) {
  drawingPriority_ = CeGetThreadPriority(GetCurrentThread());
  REFERENCE_TIME start = 0, stop = 0;
  pSample->GetTime(&start, &stop);
  CRefTime now;
  if (FAILED(StreamTime(now))) now = 0;
  std::lock_guard<std::mutex> guard(lock_);
  drawn_.push_back(Drawn{start, now});
  return S_OK;
}

void CTestRenderer::OnReceiveFirstSample(IMediaSample*) { firstSamples_++; }

HRESULT CTestRenderer::ShouldDrawSampleNow(IMediaSample* pSample, REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd) {
  const HRESULT hr = CBaseVideoRenderer::ShouldDrawSampleNow(pSample, pStart, pEnd);
  return FAILED(hr) && drawLate_ ? S_OK : hr;
}

STDMETHODIMP CTestRenderer::Pause() {
  const HRESULT hr = CBaseVideoRenderer::Pause();
  if (hr == S_FALSE && readyWithoutSample_) {
    Ready();
    return S_OK;
  }
  return hr;
}

}  // namespace cehost::test
