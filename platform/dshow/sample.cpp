#include "sample.h"

#include "allocator.h"
#include "mtype.h"

CMediaSample::CMediaSample(LPCTSTR, CBaseAllocator* pAllocator, HRESULT* phr, LPBYTE pBuffer, LONG length)
    : m_cRef(0), m_pBuffer(pBuffer), m_lActual(length), m_cbBuffer(length), m_pAllocator(pAllocator) {
  if (length < 0 && phr) *phr = VFW_E_BUFFER_OVERFLOW;
}

CMediaSample::~CMediaSample() {
  if (m_pMediaType) DeleteMediaType(m_pMediaType);
}

STDMETHODIMP CMediaSample::QueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IMediaSample || riid == IID_IUnknown) {
    *ppv = static_cast<IMediaSample*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMediaSample::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

STDMETHODIMP_(ULONG) CMediaSample::Release() {
  const LONG count = InterlockedDecrement(&m_cRef);
  ASSERT(count >= 0);
  if (count == 0) {
    if (m_dwFlags & Sample_TypeChanged) SetMediaType(nullptr);
    m_dwFlags = 0;
    m_pAllocator->ReleaseBuffer(this);
  }
  return static_cast<ULONG>(count);
}

HRESULT CMediaSample::SetPointer(BYTE* ptr, LONG cBytes) {
  if (cBytes < 0) return VFW_E_BUFFER_OVERFLOW;
  m_pBuffer = ptr;
  m_cbBuffer = cBytes;
  m_lActual = cBytes;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** ppBuffer) {
  CheckPointer(ppBuffer, E_POINTER);
  *ppBuffer = m_pBuffer;
  return S_OK;
}

STDMETHODIMP_(LONG) CMediaSample::GetSize() { return m_cbBuffer; }

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
  if (!(m_dwFlags & Sample_TimeValid)) return VFW_E_SAMPLE_TIME_NOT_SET;
  CheckPointer(pTimeStart, E_POINTER);
  CheckPointer(pTimeEnd, E_POINTER);
  *pTimeStart = m_Start;
  if (!(m_dwFlags & Sample_StopValid)) {
    *pTimeEnd = m_Start + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *pTimeEnd = m_End;
  return S_OK;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
  if (!pTimeStart) {
    m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
    return S_OK;
  }
  m_Start = *pTimeStart;
  m_dwFlags |= Sample_TimeValid;
  if (pTimeEnd) {
    m_End = *pTimeEnd;
    m_dwFlags |= Sample_StopValid;
  } else {
    m_dwFlags &= ~Sample_StopValid;
  }
  return S_OK;
}

STDMETHODIMP CMediaSample::IsSyncPoint() { return (m_dwFlags & Sample_SyncPoint) ? S_OK : S_FALSE; }

STDMETHODIMP CMediaSample::SetSyncPoint(BOOL bIsSyncPoint) {
  if (bIsSyncPoint)
    m_dwFlags |= Sample_SyncPoint;
  else
    m_dwFlags &= ~Sample_SyncPoint;
  return S_OK;
}

STDMETHODIMP CMediaSample::IsPreroll() { return (m_dwFlags & Sample_Preroll) ? S_OK : S_FALSE; }

STDMETHODIMP CMediaSample::SetPreroll(BOOL bIsPreroll) {
  if (bIsPreroll)
    m_dwFlags |= Sample_Preroll;
  else
    m_dwFlags &= ~Sample_Preroll;
  return S_OK;
}

STDMETHODIMP_(LONG) CMediaSample::GetActualDataLength() { return m_lActual; }

STDMETHODIMP CMediaSample::SetActualDataLength(LONG lActual) {
  if (lActual < 0 || lActual > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
  m_lActual = lActual;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
  CheckPointer(ppMediaType, E_POINTER);
  if (!(m_dwFlags & Sample_TypeChanged)) {
    *ppMediaType = nullptr;
    return S_FALSE;
  }
  *ppMediaType = CreateMediaType(m_pMediaType);
  return *ppMediaType ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
  if (m_pMediaType) {
    DeleteMediaType(m_pMediaType);
    m_pMediaType = nullptr;
  }
  if (!pMediaType) {
    m_dwFlags &= ~Sample_TypeChanged;
    return S_OK;
  }
  m_pMediaType = CreateMediaType(pMediaType);
  if (!m_pMediaType) {
    m_dwFlags &= ~Sample_TypeChanged;
    return E_OUTOFMEMORY;
  }
  m_dwFlags |= Sample_TypeChanged;
  return S_OK;
}

STDMETHODIMP CMediaSample::IsDiscontinuity() { return (m_dwFlags & Sample_Discontinuity) ? S_OK : S_FALSE; }

STDMETHODIMP CMediaSample::SetDiscontinuity(BOOL bDiscontinuity) {
  if (bDiscontinuity)
    m_dwFlags |= Sample_Discontinuity;
  else
    m_dwFlags &= ~Sample_Discontinuity;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
  if (!(m_dwFlags & Sample_MediaTimeValid)) return VFW_E_MEDIA_TIME_NOT_SET;
  CheckPointer(pTimeStart, E_POINTER);
  CheckPointer(pTimeEnd, E_POINTER);
  *pTimeStart = m_MediaStart;
  *pTimeEnd = m_MediaEnd;
  return S_OK;
}

STDMETHODIMP CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
  if (!pTimeStart) {
    m_dwFlags &= ~Sample_MediaTimeValid;
    return S_OK;
  }
  CheckPointer(pTimeEnd, E_POINTER);
  m_MediaStart = *pTimeStart;
  m_MediaEnd = *pTimeEnd;
  m_dwFlags |= Sample_MediaTimeValid;
  return S_OK;
}
