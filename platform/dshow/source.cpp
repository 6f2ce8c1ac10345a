#include "source.h"

#include <cstring>
#include <new>

#include "sourcestream.h"

CSource::CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid, HRESULT*) : CSource(pName, lpunk, clsid) {}

CSource::CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid) : CBaseFilter(pName, lpunk, &m_cStateLock, clsid) {}

CSource::~CSource() {
  // Each stream's destructor removes it from the array.
  while (m_iPins != 0) delete m_paStreams[m_iPins - 1];
  ASSERT(!m_paStreams);
}

HRESULT CSource::AddPin(CSourceStream* pStream) {
  CAutoLock lock(&m_cStateLock);
  CSourceStream** paStreams = new (std::nothrow) CSourceStream*[m_iPins + 1];
  if (!paStreams) return E_OUTOFMEMORY;
  if (m_paStreams) {
    std::memcpy(paStreams, m_paStreams, m_iPins * sizeof(m_paStreams[0]));
    delete[] m_paStreams;
  }
  m_paStreams = paStreams;
  m_paStreams[m_iPins++] = pStream;
  IncrementPinVersion();
  return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pStream) {
  CAutoLock lock(&m_cStateLock);
  for (int i = 0; i < m_iPins; i++) {
    if (m_paStreams[i] != pStream) continue;
    if (m_iPins == 1) {
      delete[] m_paStreams;
      m_paStreams = nullptr;
    } else {
      std::memmove(&m_paStreams[i], &m_paStreams[i + 1], (m_iPins - i - 1) * sizeof(m_paStreams[0]));
    }
    m_iPins--;
    IncrementPinVersion();
    return S_OK;
  }
  return S_FALSE;
}

int CSource::GetPinCount() {
  CAutoLock lock(&m_cStateLock);
  return m_iPins;
}

CBasePin* CSource::GetPin(int n) {
  CAutoLock lock(&m_cStateLock);
  if (n >= 0 && n < m_iPins) return m_paStreams[n];
  return nullptr;
}

int CSource::FindPinNumber(IPin* iPin) {
  CAutoLock lock(&m_cStateLock);
  for (int i = 0; i < m_iPins; i++)
    if (static_cast<IPin*>(m_paStreams[i]) == iPin) return i;
  return -1;
}

STDMETHODIMP CSource::FindPin(LPCWSTR Id, IPin** ppPin) {
  CheckPointer(ppPin, E_POINTER);
  CheckPointer(Id, E_POINTER);
  if (SUCCEEDED(CBaseFilter::FindPin(Id, ppPin))) return S_OK;
  WCHAR* end = nullptr;
  const ULONG number = wcstoul(Id, &end, 10);
  CBasePin* pPin = (end != Id && *end == 0 && number >= 1) ? GetPin(static_cast<int>(number - 1)) : nullptr;
  *ppPin = pPin;
  if (!pPin) return VFW_E_NOT_FOUND;
  pPin->AddRef();
  return S_OK;
}
