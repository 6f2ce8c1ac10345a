#include "enums.h"

#include <new>

#include "basefilter.h"
#include "basepin.h"

CEnumPins::CEnumPins(CBaseFilter* pFilter, CEnumPins* pEnumPins) : m_pFilter(pFilter) {
  m_pFilter->AddRef();
  if (pEnumPins) {
    m_Position = pEnumPins->m_Position;
    m_PinCount = pEnumPins->m_PinCount;
    m_Version = pEnumPins->m_Version;
  } else {
    m_PinCount = pFilter->GetPinCount();
    m_Version = pFilter->GetPinVersion();
  }
}

CEnumPins::~CEnumPins() { m_pFilter->Release(); }

STDMETHODIMP CEnumPins::QueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IEnumPins || riid == IID_IUnknown) return GetInterface(static_cast<IEnumPins*>(this), ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CEnumPins::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

STDMETHODIMP_(ULONG) CEnumPins::Release() {
  const LONG count = InterlockedDecrement(&m_cRef);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

bool CEnumPins::AreWeOutOfSync() const { return m_pFilter->GetPinVersion() != m_Version; }

STDMETHODIMP CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
  CheckPointer(ppPins, E_POINTER);
  if (!pcFetched && cPins > 1) return E_INVALIDARG;
  if (pcFetched) *pcFetched = 0;
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG fetched = 0;
  while (fetched < cPins && m_Position < m_PinCount) {
    CBasePin* pPin = m_pFilter->GetPin(m_Position++);
    if (!pPin) break;
    ppPins[fetched] = pPin;
    pPin->AddRef();
    fetched++;
  }
  if (pcFetched) *pcFetched = fetched;
  return fetched == cPins ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumPins::Skip(ULONG cPins) {
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  const ULONG left = static_cast<ULONG>(m_PinCount - m_Position);
  if (cPins > left) return S_FALSE;
  m_Position += static_cast<int>(cPins);
  return S_OK;
}

STDMETHODIMP CEnumPins::Reset() {
  m_Version = m_pFilter->GetPinVersion();
  m_PinCount = m_pFilter->GetPinCount();
  m_Position = 0;
  return S_OK;
}

STDMETHODIMP CEnumPins::Clone(IEnumPins** ppEnum) {
  CheckPointer(ppEnum, E_POINTER);
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  *ppEnum = new (std::nothrow) CEnumPins(m_pFilter, this);
  if (!*ppEnum) return E_OUTOFMEMORY;
  (*ppEnum)->AddRef();
  return S_OK;
}

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pPin, CEnumMediaTypes* pEnumMediaTypes) : m_pPin(pPin) {
  m_pPin->AddRef();
  if (pEnumMediaTypes) {
    m_Position = pEnumMediaTypes->m_Position;
    m_Version = pEnumMediaTypes->m_Version;
  } else {
    m_Version = pPin->GetMediaTypeVersion();
  }
}

CEnumMediaTypes::~CEnumMediaTypes() { m_pPin->Release(); }

STDMETHODIMP CEnumMediaTypes::QueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IEnumMediaTypes || riid == IID_IUnknown)
    return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CEnumMediaTypes::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

STDMETHODIMP_(ULONG) CEnumMediaTypes::Release() {
  const LONG count = InterlockedDecrement(&m_cRef);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

bool CEnumMediaTypes::AreWeOutOfSync() { return m_pPin->GetMediaTypeVersion() != m_Version; }

STDMETHODIMP CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) {
  CheckPointer(ppMediaTypes, E_POINTER);
  if (!pcFetched && cMediaTypes > 1) return E_INVALIDARG;
  if (pcFetched) *pcFetched = 0;
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG fetched = 0;
  while (fetched < cMediaTypes) {
    CMediaType cmt;
    if (m_pPin->GetMediaType(m_Position, &cmt) != S_OK) break;
    m_Position++;
    ppMediaTypes[fetched] = CreateMediaType(&cmt);
    if (!ppMediaTypes[fetched]) {
      while (fetched > 0) DeleteMediaType(ppMediaTypes[--fetched]);
      return E_OUTOFMEMORY;
    }
    fetched++;
  }
  if (pcFetched) *pcFetched = fetched;
  return fetched == cMediaTypes ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumMediaTypes::Skip(ULONG cMediaTypes) {
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  for (ULONG i = 0; i < cMediaTypes; i++) {
    CMediaType cmt;
    if (m_pPin->GetMediaType(m_Position, &cmt) != S_OK) return S_FALSE;
    m_Position++;
  }
  return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Reset() {
  m_Position = 0;
  m_Version = m_pPin->GetMediaTypeVersion();
  return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
  CheckPointer(ppEnum, E_POINTER);
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  *ppEnum = new (std::nothrow) CEnumMediaTypes(m_pPin, this);
  if (!*ppEnum) return E_OUTOFMEMORY;
  (*ppEnum)->AddRef();
  return S_OK;
}
