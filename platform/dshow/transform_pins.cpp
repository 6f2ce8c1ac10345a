#include "transform_pins.h"

#include "transform.h"

CTransformInputPin::CTransformInputPin(LPCTSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr,
                                       LPCWSTR pName)
    : CBaseInputPin(pObjectName, pTransformFilter, &pTransformFilter->m_csFilter, phr, pName),
      m_pTransformFilter(pTransformFilter) {}

STDMETHODIMP CTransformInputPin::QueryId(LPWSTR* Id) { return AMGetWideString(u"In", Id); }

HRESULT CTransformInputPin::CheckConnect(IPin* pPin) {
  const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pPin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CheckConnect(pPin);
}

HRESULT CTransformInputPin::BreakConnect() {
  ASSERT(IsStopped());
  m_pTransformFilter->BreakConnect(PINDIR_INPUT);
  return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* pReceivePin) {
  const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, pReceivePin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* mtIn) {
  HRESULT hr = m_pTransformFilter->CheckInputType(mtIn);
  if (hr != S_OK) return hr;
  CTransformOutputPin* pOutput = m_pTransformFilter->m_pOutput;
  if (pOutput && pOutput->IsConnected())
    return m_pTransformFilter->CheckTransform(mtIn, &pOutput->CurrentMediaType());
  return hr;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* mt) {
  const HRESULT hr = CBasePin::SetMediaType(mt);
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->SetMediaType(PINDIR_INPUT, mt);
}

STDMETHODIMP CTransformInputPin::Receive(IMediaSample* pSample) {
  CAutoLock lck(&m_pTransformFilter->m_csReceive);
  HRESULT hr = CBaseInputPin::Receive(pSample);
  if (hr == S_OK) hr = m_pTransformFilter->Receive(pSample);
  return hr;
}

STDMETHODIMP CTransformInputPin::EndOfStream() {
  CAutoLock lck(&m_pTransformFilter->m_csReceive);
  HRESULT hr = CheckStreaming();
  if (hr == S_OK) hr = m_pTransformFilter->EndOfStream();
  return hr;
}

STDMETHODIMP CTransformInputPin::BeginFlush() {
  CAutoLock lck(&m_pTransformFilter->m_csFilter);
  if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
  const HRESULT hr = CBaseInputPin::BeginFlush();
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->BeginFlush();
}

STDMETHODIMP CTransformInputPin::EndFlush() {
  CAutoLock lck(&m_pTransformFilter->m_csFilter);
  if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
  const HRESULT hr = m_pTransformFilter->EndFlush();
  if (FAILED(hr)) return hr;
  return CBaseInputPin::EndFlush();
}

STDMETHODIMP CTransformInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  CBasePin::NewSegment(tStart, tStop, dRate);
  return m_pTransformFilter->NewSegment(tStart, tStop, dRate);
}

CTransformOutputPin::CTransformOutputPin(LPCTSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr,
                                         LPCWSTR pName)
    : CBaseOutputPin(pObjectName, pTransformFilter, &pTransformFilter->m_csFilter, phr, pName),
      m_pTransformFilter(pTransformFilter) {}

STDMETHODIMP CTransformOutputPin::QueryId(LPWSTR* Id) { return AMGetWideString(u"Out", Id); }

HRESULT CTransformOutputPin::CheckConnect(IPin* pPin) {
  // The output type depends on the input type.
  if (!m_pTransformFilter->m_pInput || !m_pTransformFilter->m_pInput->IsConnected()) return E_UNEXPECTED;
  const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pPin);
  if (FAILED(hr)) return hr;
  return CBaseOutputPin::CheckConnect(pPin);
}

HRESULT CTransformOutputPin::BreakConnect() {
  ASSERT(IsStopped());
  m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
  return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* pReceivePin) {
  const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, pReceivePin);
  if (FAILED(hr)) return hr;
  return CBaseOutputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
  return m_pTransformFilter->DecideBufferSize(pAlloc, pProp);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* mtOut) {
  CTransformInputPin* pInput = m_pTransformFilter->m_pInput;
  if (!pInput || !pInput->IsConnected()) return E_INVALIDARG;
  return m_pTransformFilter->CheckTransform(&pInput->CurrentMediaType(), mtOut);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* pmt) {
  const HRESULT hr = CBasePin::SetMediaType(pmt);
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, pmt);
}

HRESULT CTransformOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
  CTransformInputPin* pInput = m_pTransformFilter->m_pInput;
  if (!pInput || !pInput->IsConnected()) return VFW_S_NO_MORE_ITEMS;
  return m_pTransformFilter->GetMediaType(iPosition, pMediaType);
}

STDMETHODIMP CTransformOutputPin::Notify(IBaseFilter*, Quality q) {
  const HRESULT hr = m_pTransformFilter->AlterQuality(q);
  if (hr != S_FALSE) return hr;
  // Upstream: the sink set on the input pin, or the pin it is connected to.
  CTransformInputPin* pInput = m_pTransformFilter->m_pInput;
  IPin* pUpstream = pInput ? pInput->GetConnected() : nullptr;
  if (!pUpstream) return VFW_E_NOT_CONNECTED;
  IQualityControl* pQC = nullptr;
  if (FAILED(pUpstream->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&pQC)))) return VFW_E_NOT_FOUND;
  const HRESULT hrNotify = pQC->Notify(m_pTransformFilter, q);
  pQC->Release();
  return hrNotify;
}
