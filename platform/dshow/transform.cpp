#include "transform.h"

#include <new>

#include "transform_pins.h"

CTransformFilter::CTransformFilter(LPCTSTR pName, LPUNKNOWN pUnk, REFCLSID clsid)
    : CBaseFilter(pName, pUnk, &m_csFilter, clsid) {}

CTransformFilter::~CTransformFilter() {
  delete m_pInput;
  delete m_pOutput;
}

CBasePin* CTransformFilter::GetPin(int n) {
  if (!m_pInput) {
    HRESULT hr = S_OK;
    m_pInput = new (std::nothrow) CTransformInputPin(NAME("Transform input pin"), this, &hr, u"XForm In");
    if (!m_pInput) return nullptr;
  }
  if (!m_pOutput) {
    HRESULT hr = S_OK;
    m_pOutput = new (std::nothrow) CTransformOutputPin(NAME("Transform output pin"), this, &hr, u"XForm Out");
    if (!m_pOutput) {
      delete m_pInput;
      m_pInput = nullptr;
      return nullptr;
    }
  }
  if (n == 0) return m_pInput;
  if (n == 1) return m_pOutput;
  return nullptr;
}

STDMETHODIMP CTransformFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
  CheckPointer(ppPin, E_POINTER);
  CheckPointer(Id, E_POINTER);
  if (SUCCEEDED(CBaseFilter::FindPin(Id, ppPin))) return S_OK;
  CBasePin* pPin = nullptr;
  if (wcscmp(Id, u"In") == 0)
    pPin = GetPin(0);
  else if (wcscmp(Id, u"Out") == 0)
    pPin = GetPin(1);
  *ppPin = pPin;
  if (!pPin) return VFW_E_NOT_FOUND;
  pPin->AddRef();
  return S_OK;
}

STDMETHODIMP CTransformFilter::Stop() {
  CAutoLock lck1(&m_csFilter);
  if (m_State == State_Stopped) return S_OK;
  if (!m_pInput || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
    m_State = State_Stopped;
    m_bEOSDelivered = FALSE;
    return S_OK;
  }
  // Decommitting the input allocator first releases an upstream thread waiting for a
  // buffer; taking m_csReceive then waits for a Receive in progress to finish.
  m_pInput->Inactive();
  CAutoLock lck2(&m_csReceive);
  m_pOutput->Inactive();
  const HRESULT hr = StopStreaming();
  if (SUCCEEDED(hr)) {
    m_State = State_Stopped;
    m_bEOSDelivered = FALSE;
  }
  return hr;
}

STDMETHODIMP CTransformFilter::Pause() {
  CAutoLock lck(&m_csFilter);
  HRESULT hr = S_OK;
  if (m_State == State_Paused) {
    // Nothing to do.
  } else if (!m_pInput || !m_pInput->IsConnected()) {
    if (m_pOutput && !m_bEOSDelivered) {
      m_pOutput->DeliverEndOfStream();
      m_bEOSDelivered = TRUE;
    }
    m_State = State_Paused;
  } else if (!m_pOutput->IsConnected()) {
    m_State = State_Paused;
  } else {
    if (m_State == State_Stopped) {
      CAutoLock lck2(&m_csReceive);
      hr = StartStreaming();
    }
    if (SUCCEEDED(hr)) hr = CBaseFilter::Pause();
  }
  m_bSampleSkipped = FALSE;
  m_bQualityChanged = FALSE;
  return hr;
}

HRESULT CTransformFilter::Transform(IMediaSample*, IMediaSample*) { return E_UNEXPECTED; }

HRESULT CTransformFilter::StartStreaming() { return S_OK; }
HRESULT CTransformFilter::StopStreaming() { return S_OK; }
HRESULT CTransformFilter::AlterQuality(Quality) { return S_FALSE; }
HRESULT CTransformFilter::SetMediaType(PIN_DIRECTION, const CMediaType*) { return S_OK; }
HRESULT CTransformFilter::CheckConnect(PIN_DIRECTION, IPin*) { return S_OK; }
HRESULT CTransformFilter::BreakConnect(PIN_DIRECTION) { return S_OK; }
HRESULT CTransformFilter::CompleteConnect(PIN_DIRECTION, IPin*) { return S_OK; }

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* pSample, IMediaSample** ppOutSample) {
  *ppOutSample = nullptr;
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT hrTime = pSample->GetTime(&start, &stop);
  const bool hasStart = SUCCEEDED(hrTime);
  const bool hasStop = hrTime == S_OK;
  const bool sync = pSample->IsSyncPoint() == S_OK;
  const bool discontinuity = pSample->IsDiscontinuity() == S_OK;

  DWORD flags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
  if (!sync) flags |= AM_GBF_NOTASYNCPOINT;
  IMediaSample* pOut = nullptr;
  const HRESULT hr = m_pOutput->GetDeliveryBuffer(&pOut, hasStart ? &start : nullptr, hasStop ? &stop : nullptr, flags);
  if (FAILED(hr)) return hr;

  if (hasStart) pOut->SetTime(&start, hasStop ? &stop : nullptr);
  LONGLONG mediaStart = 0, mediaStop = 0;
  if (pSample->GetMediaTime(&mediaStart, &mediaStop) == S_OK) pOut->SetMediaTime(&mediaStart, &mediaStop);
  pOut->SetSyncPoint(sync);
  pOut->SetPreroll(pSample->IsPreroll() == S_OK);
  pOut->SetDiscontinuity(discontinuity);
  if (discontinuity) m_bSampleSkipped = FALSE;
  *ppOutSample = pOut;
  return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* pSample) {
  if (!m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
  IMediaSample* pOutSample = nullptr;
  HRESULT hr = InitializeOutputSample(pSample, &pOutSample);
  if (FAILED(hr)) return hr;
  hr = Transform(pSample, pOutSample);
  if (hr == S_OK) {
    hr = m_pOutput->Deliver(pOutSample);
    m_bSampleSkipped = FALSE;
  } else if (hr == S_FALSE) {
    m_bSampleSkipped = TRUE;
    if (!m_bQualityChanged.exchange(TRUE)) NotifyEvent(EC_QUALITY_CHANGE, 0, 0);
    hr = S_OK;
  }
  pOutSample->Release();
  return hr;
}

HRESULT CTransformFilter::EndOfStream() { return m_pOutput ? m_pOutput->DeliverEndOfStream() : S_OK; }

HRESULT CTransformFilter::BeginFlush() { return m_pOutput ? m_pOutput->DeliverBeginFlush() : S_OK; }

HRESULT CTransformFilter::EndFlush() { return m_pOutput ? m_pOutput->DeliverEndFlush() : S_OK; }

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  return m_pOutput ? m_pOutput->DeliverNewSegment(tStart, tStop, dRate) : S_OK;
}
