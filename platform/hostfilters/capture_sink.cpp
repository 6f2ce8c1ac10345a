#include "adopt_new_filter.h"
#include "capture_sink.h"

#include <chrono>
#include <new>

#include "hostfilter_guids.h"
#include "renderer_pin.h"

namespace cehost {

CCaptureSink::CCaptureSink(const CMediaType* accept, HRESULT* phr)
    : CBaseRenderer(CLSID_HostCaptureSink, NAME("Capture sink"), nullptr, phr),
      m_accept(accept ? std::optional<CMediaType>(*accept) : std::nullopt) {}

HRESULT CCaptureSink::Create(const CMediaType* accept, CCaptureSink** sink) {
  HRESULT hr = S_OK;
  return AdoptNewFilter(new (std::nothrow) CCaptureSink(accept, &hr), &hr, sink);
}

void CCaptureSink::SetSampleHook(SampleHook hook) {
  std::lock_guard<std::mutex> guard(m_recordLock);
  m_hook = std::move(hook);
}

HRESULT CCaptureSink::CheckMediaType(const CMediaType* pmt) {
  if (!m_accept) return S_OK;
  return pmt->MatchesPartial(&*m_accept) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CCaptureSink::DoRenderSample(IMediaSample* pSample) {
  CapturedSample s;
  BYTE* data = nullptr;
  if (SUCCEEDED(pSample->GetPointer(&data)) && data) {
    const LONG n = pSample->GetActualDataLength();
    s.bytes.assign(data, data + (n > 0 ? n : 0));
  }
  s.timeResult = pSample->GetTime(&s.start, &s.stop);
  s.hasMediaTime = pSample->GetMediaTime(&s.mediaStart, &s.mediaStop) == S_OK;
  s.syncPoint = pSample->IsSyncPoint() == S_OK;
  s.preroll = pSample->IsPreroll() == S_OK;
  s.discontinuity = pSample->IsDiscontinuity() == S_OK;
  AM_MEDIA_TYPE* pmt = nullptr;
  if (pSample->GetMediaType(&pmt) == S_OK && pmt) {
    s.type = CMediaType(*pmt);
    DeleteMediaType(pmt);
  }
  SampleHook hook;
  {
    std::lock_guard<std::mutex> guard(m_recordLock);
    m_samples.push_back(std::move(s));
    m_events.push_back(CaptureEvent{CaptureEvent::kSample, m_samples.size() - 1});
    hook = m_hook;
  }
  m_recorded.notify_all();
  return hook ? hook(pSample) : S_OK;
}

void CCaptureSink::Record(CaptureEvent event) {
  {
    std::lock_guard<std::mutex> guard(m_recordLock);
    if (event.kind == CaptureEvent::kEndOfStream) m_endOfStreams++;
    m_events.push_back(event);
  }
  m_recorded.notify_all();
}

HRESULT CCaptureSink::EndOfStream() {
  Record(CaptureEvent{CaptureEvent::kEndOfStream});
  return CBaseRenderer::EndOfStream();
}

HRESULT CCaptureSink::BeginFlush() {
  Record(CaptureEvent{CaptureEvent::kBeginFlush});
  return CBaseRenderer::BeginFlush();
}

HRESULT CCaptureSink::EndFlush() {
  Record(CaptureEvent{CaptureEvent::kEndFlush});
  return CBaseRenderer::EndFlush();
}

HRESULT CCaptureSink::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  Record(CaptureEvent{CaptureEvent::kNewSegment, 0, tStart, tStop, dRate});
  return CBaseRenderer::NewSegment(tStart, tStop, dRate);
}

std::vector<CapturedSample> CCaptureSink::Samples() const {
  std::lock_guard<std::mutex> guard(m_recordLock);
  return m_samples;
}

std::vector<CaptureEvent> CCaptureSink::Events() const {
  std::lock_guard<std::mutex> guard(m_recordLock);
  return m_events;
}

std::vector<BYTE> CCaptureSink::Bytes() const {
  std::lock_guard<std::mutex> guard(m_recordLock);
  std::vector<BYTE> all;
  for (const CapturedSample& s : m_samples) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
  return all;
}

CMediaType CCaptureSink::ConnectionType() {
  CBasePin* pin = GetPin(0);
  CAutoLock lock(&m_InterfaceLock);
  return pin ? pin->CurrentMediaType() : CMediaType();
}

bool CCaptureSink::WaitForEndOfStream(DWORD timeoutMs, size_t n) const {
  std::unique_lock<std::mutex> lock(m_recordLock);
  return m_recorded.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_endOfStreams >= n; });
}

}  // namespace cehost
