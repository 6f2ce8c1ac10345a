#include "inputpin.h"

#include "basefilter.h"
#include "memallocator.h"

CBaseInputPin::CBaseInputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
  if (m_pAllocator) m_pAllocator->Release();
}

STDMETHODIMP CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator) {
  CheckPointer(ppAllocator, E_POINTER);
  CAutoLock lock(m_pLock);
  if (!m_pAllocator) {
    const HRESULT hr = CreateMemoryAllocator(&m_pAllocator);
    if (FAILED(hr)) return hr;
  }
  *ppAllocator = m_pAllocator;
  m_pAllocator->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
  CheckPointer(pAllocator, E_POINTER);
  CAutoLock lock(m_pLock);
  IMemAllocator* pOld = m_pAllocator;
  pAllocator->AddRef();
  m_pAllocator = pAllocator;
  if (pOld) pOld->Release();
  m_bReadOnly = bReadOnly ? TRUE : FALSE;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::CheckStreaming() {
  if (!IsConnected()) return VFW_E_NOT_CONNECTED;
  if (IsStopped()) return VFW_E_WRONG_STATE;
  if (m_bFlushing) return S_FALSE;
  if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::Receive(IMediaSample* pSample) {
  CheckPointer(pSample, E_POINTER);
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  AM_MEDIA_TYPE* pmt = nullptr;
  if (pSample->GetMediaType(&pmt) != S_OK || !pmt) return S_OK;
  hr = CheckMediaType(static_cast<CMediaType*>(pmt));
  DeleteMediaType(pmt);
  if (hr == S_OK) return S_OK;
  m_bRunTimeError = true;
  EndOfStream();
  m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
  return VFW_E_INVALIDMEDIATYPE;
}

STDMETHODIMP CBaseInputPin::ReceiveMultiple(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) {
  CheckPointer(pSamples, E_POINTER);
  CheckPointer(nSamplesProcessed, E_POINTER);
  HRESULT hr = S_OK;
  *nSamplesProcessed = 0;
  while (nSamples-- > 0) {
    hr = Receive(pSamples[*nSamplesProcessed]);
    if (hr != S_OK) break;
    (*nSamplesProcessed)++;
  }
  return hr;
}

STDMETHODIMP CBaseInputPin::ReceiveCanBlock() { return S_OK; }

STDMETHODIMP CBaseInputPin::BeginFlush() {
  CAutoLock lock(m_pLock);
  m_bFlushing = true;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::EndFlush() {
  CAutoLock lock(m_pLock);
  m_bFlushing = false;
  m_bRunTimeError = false;
  return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
  if (m_pAllocator) {
    m_pAllocator->Decommit();
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
  m_bRunTimeError = false;
  m_bFlushing = false;
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Decommit();
}
