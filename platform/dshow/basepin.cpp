#include "basepin.h"

#include <cstring>
#include <new>

#include "basefilter.h"
#include "enums.h"

CBasePin::CBasePin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
                   PIN_DIRECTION dir)
    : CUnknown(pObjectName, nullptr), m_dir(dir), m_pLock(pLock), m_pFilter(pFilter) {
  ASSERT(pFilter && pLock);
  if (pName) {
    const size_t n = wcslen(pName) + 1;
    m_pName = new (std::nothrow) WCHAR[n];
    if (m_pName)
      std::memcpy(m_pName, pName, n * sizeof(WCHAR));
    else if (phr)
      *phr = E_OUTOFMEMORY;
  }
}

CBasePin::~CBasePin() {
  // A filter destroyed while connected (its graph went away first): drop the reference.
  if (m_Connected) m_Connected->Release();
  delete[] m_pName;
}

STDMETHODIMP CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
  if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }

STDMETHODIMP_(ULONG) CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

BOOL CBasePin::IsStopped() const { return m_pFilter->IsStopped(); }

STDMETHODIMP CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
  CheckPointer(pReceivePin, E_POINTER);
  CAutoLock lock(m_pLock);
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  return AgreeMediaType(pReceivePin, static_cast<const CMediaType*>(pmt));
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) {
  if (pmt && !pmt->IsPartiallySpecified()) return AttemptConnection(pReceivePin, pmt);

  // The connecting pin proposes its own types first, then the receiver's.
  HRESULT hrFailure = VFW_E_NO_ACCEPTABLE_TYPES;
  for (int pass = 0; pass < 2; pass++) {
    IEnumMediaTypes* pEnum = nullptr;
    HRESULT hr = pass == 0 ? EnumMediaTypes(&pEnum) : pReceivePin->EnumMediaTypes(&pEnum);
    if (FAILED(hr)) continue;
    hr = TryMediaTypes(pReceivePin, pmt, pEnum);
    pEnum->Release();
    if (SUCCEEDED(hr)) return S_OK;
    // A specific failure tells more than "no type was accepted".
    if (hr != VFW_E_NO_ACCEPTABLE_TYPES && hr != VFW_E_TYPE_NOT_ACCEPTED && hr != E_FAIL && hr != E_INVALIDARG)
      hrFailure = hr;
  }
  return hrFailure;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum) {
  HRESULT hrFailure = VFW_E_NO_ACCEPTABLE_TYPES;
  for (;;) {
    AM_MEDIA_TYPE* pMediaType = nullptr;
    ULONG fetched = 0;
    if (pEnum->Next(1, &pMediaType, &fetched) != S_OK || fetched != 1) return hrFailure;
    const CMediaType* pCandidate = static_cast<CMediaType*>(pMediaType);
    HRESULT hr = VFW_E_TYPE_NOT_ACCEPTED;
    if (!pmt || pCandidate->MatchesPartial(pmt)) hr = AttemptConnection(pReceivePin, pCandidate);
    DeleteMediaType(pMediaType);
    if (SUCCEEDED(hr)) return hr;
    if (hrFailure == VFW_E_NO_ACCEPTABLE_TYPES || hrFailure == VFW_E_TYPE_NOT_ACCEPTED) hrFailure = hr;
  }
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt) {
  ASSERT(CritCheckIn(m_pLock));
  HRESULT hr = CheckConnect(pReceivePin);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(pmt);
  if (hr == S_OK) {
    m_Connected = pReceivePin;
    m_Connected->AddRef();
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr)) {
      hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
      if (SUCCEEDED(hr)) {
        hr = CompleteConnect(pReceivePin);
        if (SUCCEEDED(hr)) return hr;
        pReceivePin->Disconnect();
      }
    }
  } else if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
    hr = VFW_E_TYPE_NOT_ACCEPTED;
  }
  if (m_Connected) {
    m_Connected->Release();
    m_Connected = nullptr;
  }
  BreakConnect();
  return hr;
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
  CheckPointer(pConnector, E_POINTER);
  CheckPointer(pmt, E_POINTER);
  CAutoLock lock(m_pLock);
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  HRESULT hr = CheckConnect(pConnector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  const CMediaType* pcmt = static_cast<const CMediaType*>(pmt);
  hr = CheckMediaType(pcmt);
  if (hr != S_OK) {
    BreakConnect();
    if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) hr = VFW_E_TYPE_NOT_ACCEPTED;
    return hr;
  }
  m_Connected = pConnector;
  m_Connected->AddRef();
  hr = SetMediaType(pcmt);
  if (SUCCEEDED(hr)) {
    hr = CompleteConnect(pConnector);
    if (SUCCEEDED(hr)) return S_OK;
  }
  m_Connected->Release();
  m_Connected = nullptr;
  BreakConnect();
  return hr;
}

STDMETHODIMP CBasePin::Disconnect() {
  CAutoLock lock(m_pLock);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
  if (!m_Connected) return S_FALSE;
  const HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;
  m_Connected->Release();
  m_Connected = nullptr;
  return S_OK;
}

STDMETHODIMP CBasePin::ConnectedTo(IPin** pPin) {
  CheckPointer(pPin, E_POINTER);
  CAutoLock lock(m_pLock);
  *pPin = m_Connected;
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  m_Connected->AddRef();
  return S_OK;
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  CheckPointer(pmt, E_POINTER);
  CAutoLock lock(m_pLock);
  if (!m_Connected) {
    static_cast<CMediaType*>(pmt)->InitMediaType();
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(pmt, &m_mt);
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
  CheckPointer(pInfo, E_POINTER);
  pInfo->pFilter = m_pFilter;
  m_pFilter->AddRef();
  pInfo->achName[0] = 0;
  if (m_pName) {
    size_t n = wcslen(m_pName);
    if (n >= MAX_PIN_NAME) n = MAX_PIN_NAME - 1;
    std::memcpy(pInfo->achName, m_pName, n * sizeof(WCHAR));
    pInfo->achName[n] = 0;
  }
  pInfo->dir = m_dir;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
  CheckPointer(pPinDir, E_POINTER);
  *pPinDir = m_dir;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR* Id) { return AMGetWideString(m_pName ? m_pName : u"", Id); }

STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  CheckPointer(pmt, E_POINTER);
  const HRESULT hr = CheckMediaType(static_cast<const CMediaType*>(pmt));
  return FAILED(hr) ? S_FALSE : hr;
}

STDMETHODIMP CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  CheckPointer(ppEnum, E_POINTER);
  *ppEnum = new (std::nothrow) CEnumMediaTypes(this, nullptr);
  if (!*ppEnum) return E_OUTOFMEMORY;
  (*ppEnum)->AddRef();
  return S_OK;
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

STDMETHODIMP CBasePin::EndOfStream() { return S_OK; }

STDMETHODIMP CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  m_tStart = tStart;
  m_tStop = tStop;
  m_dRate = dRate;
  return S_OK;
}

STDMETHODIMP CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

STDMETHODIMP CBasePin::SetSink(IQualityControl* piqc) {
  CAutoLock lock(m_pLock);
  m_pQSink = piqc;
  return S_OK;
}

HRESULT CBasePin::GetMediaType(int, CMediaType*) { return E_UNEXPECTED; }

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) {
  const HRESULT hr = m_mt.Set(*pmt);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CBasePin::CheckConnect(IPin* pPin) {
  PIN_DIRECTION dir;
  const HRESULT hr = pPin->QueryDirection(&dir);
  if (FAILED(hr)) return hr;
  return dir == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }

HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }

HRESULT CBasePin::Active() { return S_OK; }

HRESULT CBasePin::Inactive() { return S_OK; }

HRESULT CBasePin::Run(REFERENCE_TIME) { return S_OK; }
