#include "allocator.h"

#include <climits>

void CBaseAllocator::CSampleList::Remove(CMediaSample* pSample) {
  for (CMediaSample** link = &m_List; *link; link = &(*link)->m_pNext) {
    if (*link == pSample) {
      *link = pSample->m_pNext;
      m_nOnList--;
      return;
    }
  }
  ASSERT(!"sample not on the list");
}

CBaseAllocator::CBaseAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, BOOL bEvent, BOOL)
    : CUnknown(pName, pUnk) {
  if (bEvent) {
    m_hSem = CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
    if (!m_hSem && phr) *phr = E_OUTOFMEMORY;
  }
}

CBaseAllocator::~CBaseAllocator() {
  ASSERT(!m_bCommitted);
  if (m_hSem) CloseHandle(m_hSem);
}

STDMETHODIMP CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) {
  CheckPointer(pRequest, E_POINTER);
  CheckPointer(pActual, E_POINTER);
  CAutoLock lck(this);
  *pActual = ALLOCATOR_PROPERTIES{};
  if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0 || pRequest->cbAlign < 0 || pRequest->cbPrefix < 0)
    return E_INVALIDARG;
  if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
  if (m_lAllocated != m_lFree.GetCount()) return VFW_E_BUFFERS_OUTSTANDING;
  *pActual = *pRequest;
  m_lCount = pRequest->cBuffers;
  m_lSize = pRequest->cbBuffer;
  m_lAlignment = pRequest->cbAlign;
  m_lPrefix = pRequest->cbPrefix;
  m_bChanged = TRUE;
  return S_OK;
}

STDMETHODIMP CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* pActual) {
  CheckPointer(pActual, E_POINTER);
  CAutoLock lck(this);
  pActual->cBuffers = m_lCount;
  pActual->cbBuffer = m_lSize;
  pActual->cbAlign = m_lAlignment;
  pActual->cbPrefix = m_lPrefix;
  return S_OK;
}

HRESULT CBaseAllocator::Alloc() {
  if (m_lCount <= 0 || m_lSize <= 0 || m_lAlignment <= 0) return VFW_E_SIZENOTSET;
  ASSERT(m_lFree.GetCount() == m_lAllocated);
  return m_bChanged ? S_OK : S_FALSE;
}

STDMETHODIMP CBaseAllocator::Commit() {
  CAutoLock lck(this);
  if (m_bCommitted) return S_OK;
  m_bCommitted = TRUE;
  if (m_bDecommitInProgress) {
    // The samples never went away; keep using them and the reference already held.
    m_bDecommitInProgress = FALSE;
    return S_OK;
  }
  const HRESULT hr = Alloc();
  if (FAILED(hr)) {
    m_bCommitted = FALSE;
    return hr;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP CBaseAllocator::Decommit() {
  bool release = false;
  {
    CAutoLock lck(this);
    if (!m_bCommitted) return S_OK;
    m_bCommitted = FALSE;
    if (m_lFree.GetCount() < m_lAllocated) {
      m_bDecommitInProgress = TRUE;
    } else {
      m_bDecommitInProgress = FALSE;
      Free();
      release = true;
    }
    NotifySample();
  }
  if (release) Release();
  return S_OK;
}

STDMETHODIMP CBaseAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*, DWORD dwFlags) {
  CheckPointer(ppBuffer, E_POINTER);
  *ppBuffer = nullptr;
  CMediaSample* pSample = nullptr;
  for (;;) {
    {
      CAutoLock lck(this);
      if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
      pSample = m_lFree.RemoveHead();
      if (!pSample) {
        if (dwFlags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
        SetWaiting();
      }
    }
    if (pSample) break;
    WaitForSingleObject(m_hSem, INFINITE);
  }
  ASSERT(pSample->m_cRef == 0);
  pSample->m_cRef = 1;
  *ppBuffer = pSample;
  return S_OK;
}

STDMETHODIMP CBaseAllocator::ReleaseBuffer(IMediaSample* pSample) {
  CheckPointer(pSample, E_POINTER);
  bool release = false;
  {
    CAutoLock lck(this);
    m_lFree.Add(static_cast<CMediaSample*>(pSample));
    if (m_lWaiting != 0) NotifySample();
    if (m_bDecommitInProgress && m_lFree.GetCount() == m_lAllocated) {
      Free();
      m_bDecommitInProgress = FALSE;
      release = true;
    }
  }
  // The reference taken by Commit: may delete the allocator, so nothing follows.
  if (release) Release();
  return S_OK;
}

void CBaseAllocator::NotifySample() {
  if (m_lWaiting != 0) {
    ReleaseSemaphore(m_hSem, m_lWaiting, nullptr);
    m_lWaiting = 0;
  }
}
