#include "memallocator.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

bool IsPowerOfTwo(LONG value) { return value > 0 && (value & (value - 1)) == 0; }

}  // namespace

CMemAllocator::CMemAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr) : CBaseAllocator(pName, pUnk, phr) {}

// A committed allocator holds a reference on itself, so it is never destroyed committed.
CMemAllocator::~CMemAllocator() { ReallyFree(); }

CUnknown* WINAPI CMemAllocator::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  CUnknown* pUnkRet = new (std::nothrow) CMemAllocator(NAME("CMemAllocator"), pUnk, phr);
  if (!pUnkRet && phr) *phr = E_OUTOFMEMORY;
  return pUnkRet;
}

STDMETHODIMP CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) {
  CheckPointer(pActual, E_POINTER);
  CheckPointer(pRequest, E_POINTER);
  CAutoLock lck(this);
  *pActual = ALLOCATOR_PROPERTIES{};

  SYSTEM_INFO info;
  GetSystemInfo(&info);
  // Buffers start at multiples of the alignment only if it divides the block's placement
  // (the allocation granularity) and every stride; both need a power of two.
  if (!IsPowerOfTwo(pRequest->cbAlign) ||
      (info.dwAllocationGranularity & static_cast<DWORD>(pRequest->cbAlign - 1)) != 0)
    return VFW_E_BADALIGN;
  if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
  if (m_lAllocated != m_lFree.GetCount()) return VFW_E_BUFFERS_OUTSTANDING;
  if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0 || pRequest->cbPrefix < 0) return E_INVALIDARG;

  int64_t size = int64_t{pRequest->cbPrefix} + pRequest->cbBuffer;
  const int64_t remainder = size % pRequest->cbAlign;
  if (remainder) size += pRequest->cbAlign - remainder;
  if (size > INT32_MAX) return E_INVALIDARG;

  pActual->cBuffers = m_lCount = pRequest->cBuffers;
  pActual->cbBuffer = m_lSize = static_cast<LONG>(size - pRequest->cbPrefix);
  pActual->cbAlign = m_lAlignment = pRequest->cbAlign;
  pActual->cbPrefix = m_lPrefix = pRequest->cbPrefix;
  m_bChanged = TRUE;
  return S_OK;
}

HRESULT CMemAllocator::Alloc() {
  CAutoLock lck(this);
  HRESULT hr = CBaseAllocator::Alloc();
  if (FAILED(hr)) return hr;
  if (hr == S_FALSE) {
    ASSERT(m_pBuffer);
    return S_OK;
  }
  if (m_pBuffer) ReallyFree();

  // The stride is a multiple of the alignment (SetProperties rounded prefix + size).
  const int64_t stride = int64_t{m_lPrefix} + m_lSize;
  const int64_t total = stride * m_lCount;
  if (stride <= 0 || total / m_lCount != stride || total > INT32_MAX) return E_OUTOFMEMORY;
  const size_t align = static_cast<size_t>(m_lAlignment) < alignof(std::max_align_t)
                           ? alignof(std::max_align_t)
                           : static_cast<size_t>(m_lAlignment);
  const size_t bytes = (static_cast<size_t>(total) + align - 1) / align * align;
  m_pBuffer = static_cast<LPBYTE>(std::aligned_alloc(align, bytes));
  if (!m_pBuffer) return E_OUTOFMEMORY;

  LPBYTE next = m_pBuffer;
  for (; m_lAllocated < m_lCount; m_lAllocated++, next += stride) {
    CMediaSample* pSample = new (std::nothrow)
        CMediaSample(NAME("Default memory media sample"), this, &hr, next + m_lPrefix, m_lSize);
    if (!pSample) return E_OUTOFMEMORY;
    m_lFree.Add(pSample);
  }
  m_bChanged = FALSE;
  return S_OK;
}

void CMemAllocator::Free() {}

void CMemAllocator::ReallyFree() {
  ASSERT(m_lAllocated == m_lFree.GetCount());
  while (CMediaSample* pSample = m_lFree.RemoveHead()) delete pSample;
  m_lAllocated = 0;
  std::free(m_pBuffer);
  m_pBuffer = nullptr;
}

HRESULT WINAPI CreateMemoryAllocator(IMemAllocator** ppAllocator) {
  CheckPointer(ppAllocator, E_POINTER);
  HRESULT hr = S_OK;
  CMemAllocator* pAllocator = new (std::nothrow) CMemAllocator(NAME("CMemAllocator"), nullptr, &hr);
  if (!pAllocator) return E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete pAllocator;
    return hr;
  }
  return pAllocator->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(ppAllocator));
}
