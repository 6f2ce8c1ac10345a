#include "renderer.h"

#include <new>

#include "renderer_pin.h"
#include "thread_priority.h"

namespace {

// Runs the calling streaming thread at the renderer priority while it is in the renderer.
class RendererPriorityScope {
 public:
  explicit RendererPriorityScope(int priority) : thread_(GetCurrentThread()), old_(CeGetThreadPriority(thread_)) {
    if (old_ != THREAD_PRIORITY_ERROR_RETURN && old_ != priority) CeSetThreadPriority(thread_, priority);
  }
  ~RendererPriorityScope() {
    if (old_ != THREAD_PRIORITY_ERROR_RETURN) CeSetThreadPriority(thread_, old_);
  }
  RendererPriorityScope(const RendererPriorityScope&) = delete;
  RendererPriorityScope& operator=(const RendererPriorityScope&) = delete;

 private:
  HANDLE thread_;
  int old_;
};

// With a clock, end of stream closer than this to its time is sent at once.
constexpr REFERENCE_TIME kEndOfStreamSlack = 10000;  // 1 ms

}  // namespace

CBaseRenderer::CBaseRenderer(REFCLSID RenderClass, LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseFilter(pName, pUnk, &m_InterfaceLock, RenderClass),
      m_RenderEvent(FALSE, phr),
      m_ThreadSignal(TRUE, phr),
      m_evComplete(TRUE, phr) {
  // Stopped is a complete state; streaming threads may wait once the filter is paused.
  Ready();
  SourceThreadCanWait(FALSE);
}

CBaseRenderer::~CBaseRenderer() {
  ASSERT(!m_pMediaSample);
  delete m_pInputPin;
}

STDMETHODIMP CBaseRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
  if (riid == IID_IRenderedTime) return GetInterface(static_cast<IRenderedTime*>(this), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CBaseRenderer::GetPin(int n) {
  CAutoLock lock(&m_InterfaceLock);
  if (n != 0) return nullptr;
  if (!m_pInputPin) {
    HRESULT hr = S_OK;
    m_pInputPin = new (std::nothrow) CRendererInputPin(this, &hr, u"In");
    if (m_pInputPin && FAILED(hr)) {
      delete m_pInputPin;
      m_pInputPin = nullptr;
    }
  }
  return m_pInputPin;
}

STDMETHODIMP CBaseRenderer::FindPin(LPCWSTR Id, IPin** ppPin) {
  CheckPointer(ppPin, E_POINTER);
  CheckPointer(Id, E_POINTER);
  CBasePin* pPin = GetPin(0);
  if (pPin && (wcscmp(Id, u"In") == 0 || wcscmp(Id, pPin->Name()) == 0)) {
    *ppPin = pPin;
    pPin->AddRef();
    return S_OK;
  }
  *ppPin = nullptr;
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseRenderer::GetRenderedTime(REFERENCE_TIME* pStreamTime) {
  CheckPointer(pStreamTime, E_POINTER);
  CAutoLock lock(&m_RendererLock);
  *pStreamTime = m_bRendered ? m_rtRendered : 0;
  return m_bRendered ? S_OK : S_FALSE;
}

// ---- State changes (application thread) ----

STDMETHODIMP CBaseRenderer::Stop() {
  CAutoLock lock(&m_InterfaceLock);
  if (m_State == State_Stopped) return S_OK;
  if (!m_pInputPin || !m_pInputPin->IsConnected()) {
    m_State = State_Stopped;
    Ready();
    return S_OK;
  }
  // Deactivating the pin decommits the allocator (an upstream thread waiting for a buffer
  // gives up) and releases the pending sample.
  CBaseFilter::Stop();
  {
    CAutoLock sampleLock(&m_RendererLock);
    StopStreaming();
    CancelNotification();
    ResetEndOfStream();
  }
  SourceThreadCanWait(FALSE);
  Ready();
  WaitForReceiveToComplete();
  ClearPendingSample();
  return S_OK;
}

STDMETHODIMP CBaseRenderer::Pause() {
  CAutoLock lock(&m_InterfaceLock);
  const FILTER_STATE oldState = m_State;
  if (oldState == State_Paused) return CompleteStateChange(State_Paused);
  if (!m_pInputPin || !m_pInputPin->IsConnected()) {
    m_State = State_Paused;
    return CompleteStateChange(State_Paused);
  }
  if (oldState == State_Stopped) m_nRenderPriority = cehost::dshow::RendererThreadPriority();
  const HRESULT hr = CBaseFilter::Pause();
  if (FAILED(hr)) return hr;
  {
    CAutoLock sampleLock(&m_RendererLock);
    StopStreaming();
    CancelNotification();
    if (oldState == State_Stopped) m_bRendered = FALSE;
  }
  SourceThreadCanWait(TRUE);
  if (oldState == State_Stopped) ClearPendingSample();
  return CompleteStateChange(oldState);
}

STDMETHODIMP CBaseRenderer::Run(REFERENCE_TIME StartTime) {
  CAutoLock lock(&m_InterfaceLock);
  if (m_State == State_Running) return S_OK;
  if (!m_pInputPin || !m_pInputPin->IsConnected()) {
    // Nothing will ever come: this renderer is complete at once.
    NotifyEvent(EC_COMPLETE, S_OK, 0);
    m_State = State_Running;
    return S_OK;
  }
  Ready();
  const HRESULT hr = CBaseFilter::Run(StartTime);
  if (FAILED(hr)) return hr;
  SourceThreadCanWait(TRUE);
  return StartStreaming();
}

STDMETHODIMP CBaseRenderer::GetState(DWORD dwMSecs, FILTER_STATE* State) {
  CheckPointer(State, E_POINTER);
  const bool complete = m_evComplete.Wait(dwMSecs);
  *State = m_State;
  return complete ? S_OK : VFW_S_STATE_INTERMEDIATE;
}

HRESULT CBaseRenderer::CompleteStateChange(FILTER_STATE OldState) {
  if (!m_pInputPin || !m_pInputPin->IsConnected() || IsEndOfStream() ||
      (HaveCurrentSample() && OldState != State_Stopped)) {
    Ready();
    return S_OK;
  }
  NotReady();
  return S_FALSE;
}

HRESULT CBaseRenderer::StartStreaming() {
  CAutoLock sampleLock(&m_RendererLock);
  if (m_bStreaming) return S_OK;
  m_bStreaming = TRUE;
  OnStartStreaming();
  if (!m_pMediaSample) return SendEndOfStream();
  // The sample presented while paused is drawn at its time, or now if it would be dropped.
  if (!ScheduleSample(m_pMediaSample)) m_RenderEvent.Set();
  return S_OK;
}

HRESULT CBaseRenderer::StopStreaming() {
  ASSERT(CritCheckIn(&m_RendererLock));
  if (m_bStreaming) {
    m_bStreaming = FALSE;
    OnStopStreaming();
  }
  return S_OK;
}

void CBaseRenderer::SourceThreadCanWait(BOOL bCanWait) {
  if (bCanWait)
    m_ThreadSignal.Reset();
  else
    m_ThreadSignal.Set();
}

void CBaseRenderer::WaitForReceiveToComplete() {
  while (m_bInReceive) Sleep(1);
}

// ---- Samples (streaming thread) ----

HRESULT CBaseRenderer::Receive(IMediaSample* pSample) {
  CheckPointer(pSample, E_POINTER);
  RendererPriorityScope priority(m_nRenderPriority);
  HRESULT hr = PrepareReceive(pSample);
  if (hr != S_OK) return hr == VFW_E_SAMPLE_REJECTED ? S_OK : hr;

  if (m_State == State_Paused) {
    m_bInReceive = false;
    {
      CAutoLock lock(&m_InterfaceLock);
      if (m_State == State_Stopped) return S_OK;
      m_bInReceive = true;
      CAutoLock sampleLock(&m_RendererLock);
      if (m_pMediaSample) OnReceiveFirstSample(m_pMediaSample);
    }
    Ready();
  }

  hr = WaitForRenderTime();
  m_bInReceive = false;
  if (FAILED(hr)) return S_OK;  // flushed or stopped meanwhile: the sample is gone

  CAutoLock lock(&m_InterfaceLock);
  if (m_State == State_Stopped) return S_OK;
  m_bInReceive = true;
  CAutoLock sampleLock(&m_RendererLock);
  hr = S_OK;
  if (m_pMediaSample) {
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = SUCCEEDED(m_pMediaSample->GetTime(&start, &stop));
    hr = Render(m_pMediaSample);
    if (timed) {
      m_rtRendered = stop;
      m_bRendered = TRUE;
    }
    ClearPendingSample();
  }
  SendEndOfStream();
  CancelNotification();
  m_bInReceive = false;
  return hr;
}

HRESULT CBaseRenderer::PrepareReceive(IMediaSample* pSample) {
  CAutoLock lock(&m_InterfaceLock);
  m_bInReceive = true;
  HRESULT hr = m_pInputPin->CBaseInputPin::Receive(pSample);
  if (hr != S_OK) {
    m_bInReceive = false;
    return hr;
  }
  // A type attached to the sample (already checked by the pin) becomes the current type.
  AM_MEDIA_TYPE* pmt = nullptr;
  if (pSample->GetMediaType(&pmt) == S_OK && pmt) {
    hr = m_pInputPin->SetMediaType(static_cast<CMediaType*>(pmt));
    DeleteMediaType(pmt);
    if (FAILED(hr)) {
      m_bInReceive = false;
      return hr;
    }
  }

  CAutoLock sampleLock(&m_RendererLock);
  if (m_pMediaSample || m_bEOS) {
    // Samples come one at a time, and none after end of stream.
    Ready();
    m_bInReceive = false;
    return m_bEOS ? VFW_E_SAMPLE_REJECTED_EOS : E_UNEXPECTED;
  }
  REFERENCE_TIME start = 0, stop = 0;
  if (SUCCEEDED(pSample->GetTime(&start, &stop)) && stop > m_SignalTime) m_SignalTime = stop;
  if (m_bStreaming && !ScheduleSample(pSample)) {
    m_cFramesDropped++;
    m_bInReceive = false;
    return VFW_E_SAMPLE_REJECTED;
  }
  m_pMediaSample = pSample;
  m_pMediaSample->AddRef();
  return S_OK;
}

HRESULT CBaseRenderer::GetSampleTimes(IMediaSample* pMediaSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime) {
  if (FAILED(pMediaSample->GetTime(pStartTime, pEndTime))) return S_OK;
  if (!m_pClock) return S_OK;
  return ShouldDrawSampleNow(pMediaSample, pStartTime, pEndTime);
}

HRESULT CBaseRenderer::ShouldDrawSampleNow(IMediaSample*, REFERENCE_TIME*, REFERENCE_TIME*) { return S_FALSE; }

BOOL CBaseRenderer::ScheduleSample(IMediaSample* pMediaSample) {
  ASSERT(CritCheckIn(&m_RendererLock));
  if (!pMediaSample) return FALSE;
  REFERENCE_TIME start = 0, stop = 0;
  HRESULT hr = GetSampleTimes(pMediaSample, &start, &stop);
  if (FAILED(hr)) return FALSE;
  if (hr == S_OK || !m_pClock) {
    m_RenderEvent.Set();
    return TRUE;
  }
  ASSERT(m_dwAdvise == 0);
  hr = m_pClock->AdviseTime(m_tStart, start, reinterpret_cast<HEVENT>(static_cast<HANDLE>(m_RenderEvent)), &m_dwAdvise);
  if (FAILED(hr)) {
    // A time the clock cannot schedule: draw it now rather than lose it.
    m_dwAdvise = 0;
    m_RenderEvent.Set();
  }
  return TRUE;
}

HRESULT CBaseRenderer::CancelNotification() {
  ASSERT(CritCheckIn(&m_RendererLock));
  const DWORD_PTR advise = m_dwAdvise;
  if (m_dwAdvise) {
    m_pClock->Unadvise(m_dwAdvise);
    m_dwAdvise = 0;
  }
  m_RenderEvent.Reset();
  return advise ? S_OK : S_FALSE;
}

HRESULT CBaseRenderer::WaitForRenderTime() {
  const HANDLE objects[2] = {m_ThreadSignal, m_RenderEvent};
  OnWaitStart();
  const DWORD result = WaitForMultipleObjects(2, objects, FALSE, INFINITE);
  OnWaitEnd();
  if (result != WAIT_OBJECT_0 + 1) return VFW_E_STATE_CHANGED;
  CAutoLock sampleLock(&m_RendererLock);
  m_dwAdvise = 0;  // one-shot: the clock has let go of it
  return S_OK;
}

HRESULT CBaseRenderer::Render(IMediaSample* pMediaSample) {
  if (!pMediaSample) return S_FALSE;
  OnRenderStart(pMediaSample);
  const HRESULT hr = DoRenderSample(pMediaSample);
  OnRenderEnd(pMediaSample);
  m_cFramesDrawn++;
  return hr;
}

HRESULT CBaseRenderer::ClearPendingSample() {
  CAutoLock sampleLock(&m_RendererLock);
  if (m_pMediaSample) {
    m_pMediaSample->Release();
    m_pMediaSample = nullptr;
  }
  return S_OK;
}

BOOL CBaseRenderer::HaveCurrentSample() {
  CAutoLock sampleLock(&m_RendererLock);
  return m_pMediaSample != nullptr;
}

IMediaSample* CBaseRenderer::GetCurrentSample() {
  CAutoLock sampleLock(&m_RendererLock);
  if (m_pMediaSample) m_pMediaSample->AddRef();
  return m_pMediaSample;
}

BOOL CBaseRenderer::IsEndOfStream() {
  CAutoLock sampleLock(&m_RendererLock);
  return m_bEOS;
}

BOOL CBaseRenderer::IsStreaming() {
  CAutoLock sampleLock(&m_RendererLock);
  return m_bStreaming;
}

// ---- End of stream ----

HRESULT CBaseRenderer::EndOfStream() {
  ASSERT(CritCheckIn(&m_RendererLock));
  if (m_State == State_Stopped) return S_OK;
  m_bEOS = TRUE;
  if (m_pMediaSample) return S_OK;  // sent once the pending sample is drawn
  // No sample will come: a pause waiting for one is complete.
  Ready();
  // While paused, completion waits for Run (a seek pauses, and an early EC_COMPLETE
  // would mislead).
  if (m_bStreaming) SendEndOfStream();
  return S_OK;
}

HRESULT CBaseRenderer::SendEndOfStream() {
  ASSERT(CritCheckIn(&m_RendererLock));
  if (!m_bEOS || m_bEOSDelivered || m_pMediaSample || !m_bStreaming) return S_OK;
  if (m_pClock && m_dwAdvise == 0) {
    REFERENCE_TIME now = 0;
    if (SUCCEEDED(m_pClock->GetTime(&now)) && m_tStart + m_SignalTime > now + kEndOfStreamSlack &&
        m_bEOSWaiting) {
      // The thread that brought the end of stream waits for the last sample's stop time.
      const HRESULT hr = m_pClock->AdviseTime(m_tStart, m_SignalTime,
                                              reinterpret_cast<HEVENT>(static_cast<HANDLE>(m_RenderEvent)), &m_dwAdvise);
      if (SUCCEEDED(hr)) return S_OK;
      m_dwAdvise = 0;
    }
  }
  return NotifyEndOfStream();
}

HRESULT CBaseRenderer::NotifyEndOfStream() {
  ASSERT(CritCheckIn(&m_RendererLock));
  if (!m_bStreaming || m_bEOSDelivered) return S_OK;
  m_bEOSDelivered = TRUE;
  // A thread waiting for the end-of-stream time has nothing more to wait for.
  if (m_bEOSWaiting) m_RenderEvent.Set();
  return NotifyEvent(EC_COMPLETE, S_OK, 0);
}

HRESULT CBaseRenderer::WaitForEndOfStream() {
  ASSERT(m_bInReceive);
  {
    RendererPriorityScope priority(m_nRenderPriority);
    for (;;) {
      const HANDLE objects[2] = {m_ThreadSignal, m_RenderEvent};
      const DWORD result = WaitForMultipleObjects(2, objects, FALSE, INFINITE);
      CAutoLock sampleLock(&m_RendererLock);
      if (result != WAIT_OBJECT_0 + 1 || !m_bEOS || m_bEOSDelivered) break;
      m_dwAdvise = 0;
      // Paused since the advise was set: Run sets it up again (StartStreaming).
      if (!m_bStreaming) continue;
      NotifyEndOfStream();
      break;
    }
    CAutoLock sampleLock(&m_RendererLock);
    m_bEOSWaiting = FALSE;
    CancelNotification();
  }
  m_bInReceive = false;
  return S_OK;
}

HRESULT CBaseRenderer::ResetEndOfStream() {
  ASSERT(CritCheckIn(&m_RendererLock));
  m_bEOS = FALSE;
  m_bEOSDelivered = FALSE;
  m_SignalTime = 0;
  return S_OK;
}

// ---- Flushes and segments ----

HRESULT CBaseRenderer::BeginFlush() {
  CAutoLock lock(&m_InterfaceLock);
  {
    CAutoLock sampleLock(&m_RendererLock);
    if (m_State == State_Paused) NotReady();
    SourceThreadCanWait(FALSE);
    CancelNotification();
    ClearPendingSample();
    ResetEndOfStream();
    m_bRendered = FALSE;
  }
  WaitForReceiveToComplete();
  return S_OK;
}

HRESULT CBaseRenderer::EndFlush() {
  CAutoLock lock(&m_InterfaceLock);
  CAutoLock sampleLock(&m_RendererLock);
  if (m_State != State_Stopped) SourceThreadCanWait(TRUE);
  return S_OK;
}

HRESULT CBaseRenderer::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) {
  ASSERT(CritCheckIn(&m_RendererLock));
  m_bRendered = FALSE;
  m_SignalTime = 0;
  return S_OK;
}

// ---- Connection hooks ----

HRESULT CBaseRenderer::SetMediaType(const CMediaType*) { return S_OK; }
HRESULT CBaseRenderer::CompleteConnect(IPin*) { return S_OK; }
HRESULT CBaseRenderer::BreakConnect() { return S_OK; }
HRESULT CBaseRenderer::Active() { return S_OK; }
HRESULT CBaseRenderer::Inactive() { return ClearPendingSample(); }
