#include "renderer_pin.h"

#include "renderer.h"

CRendererInputPin::CRendererInputPin(CBaseRenderer* pRenderer, HRESULT* phr, LPCWSTR pPinName)
    : CBaseInputPin(NAME("Renderer pin"), pRenderer, &pRenderer->m_InterfaceLock, phr, pPinName),
      m_pRenderer(pRenderer) {}

STDMETHODIMP CRendererInputPin::EndOfStream() {
  bool wait = false;
  HRESULT hr;
  {
    CAutoLock lock(&m_pRenderer->m_InterfaceLock);
    CAutoLock sampleLock(&m_pRenderer->m_RendererLock);
    hr = CheckStreaming();
    if (hr != S_OK) return hr;
    // Tells SendEndOfStream that this thread can wait for the end-of-stream time.
    m_pRenderer->m_bEOSWaiting = TRUE;
    hr = m_pRenderer->EndOfStream();
    if (SUCCEEDED(hr)) hr = CBaseInputPin::EndOfStream();
    wait = m_pRenderer->m_bEOSWaiting && m_pRenderer->m_dwAdvise != 0;
    if (wait)
      m_pRenderer->m_bInReceive = true;  // set under the interface lock: flushes and Stop wait for us
    else
      m_pRenderer->m_bEOSWaiting = FALSE;
  }
  if (wait) m_pRenderer->WaitForEndOfStream();
  return hr;
}

STDMETHODIMP CRendererInputPin::BeginFlush() {
  HRESULT hr = CBaseInputPin::BeginFlush();
  if (FAILED(hr)) return hr;
  return m_pRenderer->BeginFlush();
}

STDMETHODIMP CRendererInputPin::EndFlush() {
  const HRESULT hr = m_pRenderer->EndFlush();
  if (FAILED(hr)) return hr;
  return CBaseInputPin::EndFlush();
}

STDMETHODIMP CRendererInputPin::Receive(IMediaSample* pSample) { return m_pRenderer->Receive(pSample); }

STDMETHODIMP CRendererInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  CAutoLock lock(&m_pRenderer->m_InterfaceLock);
  CAutoLock sampleLock(&m_pRenderer->m_RendererLock);
  CBasePin::NewSegment(tStart, tStop, dRate);
  return m_pRenderer->NewSegment(tStart, tStop, dRate);
}

HRESULT CRendererInputPin::BreakConnect() {
  const HRESULT hr = m_pRenderer->BreakConnect();
  if (FAILED(hr)) return hr;
  return CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::CompleteConnect(IPin* pReceivePin) {
  const HRESULT hr = m_pRenderer->CompleteConnect(pReceivePin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CompleteConnect(pReceivePin);
}

HRESULT CRendererInputPin::SetMediaType(const CMediaType* pmt) {
  const HRESULT hr = CBaseInputPin::SetMediaType(pmt);
  if (FAILED(hr)) return hr;
  return m_pRenderer->SetMediaType(pmt);
}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* pmt) { return m_pRenderer->CheckMediaType(pmt); }

HRESULT CRendererInputPin::Active() { return m_pRenderer->Active(); }

HRESULT CRendererInputPin::Inactive() {
  // The pending sample goes back before the allocator is decommitted, so the decommit can
  // free the buffers at once.
  m_pRenderer->Inactive();
  return CBaseInputPin::Inactive();
}
