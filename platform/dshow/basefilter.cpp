#include "basefilter.h"

#include <cstring>
#include <new>

#include "basepin.h"
#include "enums.h"
#include "filter_registration.h"

CBaseFilter::CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid)
    : CUnknown(pName, pUnk), m_clsid(clsid), m_pLock(pLock) {
  ASSERT(pLock);
}

CBaseFilter::CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT*)
    : CBaseFilter(pName, pUnk, pLock, clsid) {}

CBaseFilter::~CBaseFilter() {
  delete[] m_pName;
  if (m_pClock) m_pClock->Release();
}

STDMETHODIMP CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IBaseFilter) return GetInterface(static_cast<IBaseFilter*>(this), ppv);
  if (riid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
  if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
  if (riid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseFilter::GetClassID(CLSID* pClsID) {
  CheckPointer(pClsID, E_POINTER);
  *pClsID = m_clsid;
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetState(DWORD, FILTER_STATE* State) {
  CheckPointer(State, E_POINTER);
  *State = m_State;
  return S_OK;
}

STDMETHODIMP CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
  CAutoLock lock(m_pLock);
  if (pClock) pClock->AddRef();
  if (m_pClock) m_pClock->Release();
  m_pClock = pClock;
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetSyncSource(IReferenceClock** pClock) {
  CheckPointer(pClock, E_POINTER);
  CAutoLock lock(m_pLock);
  *pClock = m_pClock;
  if (m_pClock) m_pClock->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseFilter::Stop() {
  CAutoLock lock(m_pLock);
  HRESULT hr = S_OK;
  if (m_State != State_Stopped) {
    const int count = GetPinCount();
    for (int i = 0; i < count; i++) {
      CBasePin* pPin = GetPin(i);
      if (pPin && pPin->IsConnected()) {
        const HRESULT hrPin = pPin->Inactive();
        if (FAILED(hrPin) && SUCCEEDED(hr)) hr = hrPin;
      }
    }
  }
  m_State = State_Stopped;
  return hr;
}

STDMETHODIMP CBaseFilter::Pause() {
  CAutoLock lock(m_pLock);
  if (m_State == State_Stopped) {
    const int count = GetPinCount();
    for (int i = 0; i < count; i++) {
      CBasePin* pPin = GetPin(i);
      if (pPin && pPin->IsConnected()) {
        const HRESULT hr = pPin->Active();
        if (FAILED(hr)) return hr;
      }
    }
  }
  m_State = State_Paused;
  return S_OK;
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME tStart) {
  CAutoLock lock(m_pLock);
  m_tStart = tStart;
  if (m_State == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (m_State != State_Running) {
    const int count = GetPinCount();
    for (int i = 0; i < count; i++) {
      CBasePin* pPin = GetPin(i);
      if (pPin && pPin->IsConnected()) {
        const HRESULT hr = pPin->Run(tStart);
        if (FAILED(hr)) return hr;
      }
    }
  }
  m_State = State_Running;
  return S_OK;
}

HRESULT CBaseFilter::StreamTime(CRefTime& rtStream) {
  CAutoLock lock(m_pLock);
  if (!m_pClock) return VFW_E_NO_CLOCK;
  REFERENCE_TIME now = 0;
  const HRESULT hr = m_pClock->GetTime(&now);
  if (FAILED(hr)) return hr;
  rtStream = now - m_tStart;
  return S_OK;
}

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins** ppEnum) {
  CheckPointer(ppEnum, E_POINTER);
  *ppEnum = new (std::nothrow) CEnumPins(this, nullptr);
  if (!*ppEnum) return E_OUTOFMEMORY;
  (*ppEnum)->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
  CheckPointer(ppPin, E_POINTER);
  CheckPointer(Id, E_POINTER);
  CAutoLock lock(m_pLock);
  const int count = GetPinCount();
  for (int i = 0; i < count; i++) {
    CBasePin* pPin = GetPin(i);
    if (pPin && wcscmp(pPin->Name(), Id) == 0) {
      *ppPin = pPin;
      pPin->AddRef();
      return S_OK;
    }
  }
  *ppPin = nullptr;
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
  CheckPointer(pInfo, E_POINTER);
  CAutoLock lock(m_pLock);
  pInfo->achName[0] = 0;
  if (m_pName) {
    size_t n = wcslen(m_pName);
    if (n >= MAX_FILTER_NAME) n = MAX_FILTER_NAME - 1;
    std::memcpy(pInfo->achName, m_pName, n * sizeof(WCHAR));
    pInfo->achName[n] = 0;
  }
  pInfo->pGraph = m_pGraph;
  if (m_pGraph) m_pGraph->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
  CAutoLock lock(m_pLock);
  m_pGraph = pGraph;
  m_pSink = nullptr;
  if (m_pGraph) {
    IMediaEventSink* pSink = nullptr;
    if (SUCCEEDED(m_pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&pSink)))) {
      // Not kept referenced: the graph outlives its filters' membership.
      pSink->Release();
      m_pSink = pSink;
    }
  }
  delete[] m_pName;
  m_pName = nullptr;
  if (pName) {
    const size_t n = wcslen(pName) + 1;
    m_pName = new (std::nothrow) WCHAR[n];
    if (!m_pName) return E_OUTOFMEMORY;
    std::memcpy(m_pName, pName, n * sizeof(WCHAR));
  }
  return S_OK;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT CBaseFilter::NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
  IMediaEventSink* pSink = m_pSink;
  if (!pSink) return E_NOTIMPL;
  if (EventCode == EC_COMPLETE) EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return pSink->Notify(EventCode, EventParam1, EventParam2);
}

HRESULT CBaseFilter::ReconnectPin(IPin* pPin, const AM_MEDIA_TYPE*) {
  CAutoLock lock(m_pLock);
  if (!m_pGraph) return E_NOINTERFACE;
  return m_pGraph->Reconnect(pPin);
}

STDMETHODIMP CBaseFilter::Register() {
  const AMOVIESETUP_FILTER* pSetup = GetSetupData();
  if (!pSetup) return S_FALSE;
  return cehost::dshow::WriteFilterRegistration(*pSetup);
}

STDMETHODIMP CBaseFilter::Unregister() {
  const AMOVIESETUP_FILTER* pSetup = GetSetupData();
  if (!pSetup) return S_FALSE;
  return cehost::dshow::RemoveFilterRegistration(*pSetup->clsID);
}
