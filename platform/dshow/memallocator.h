// CMemAllocator: the platform memory allocator. Its samples share one block of ordinary
// memory, cut into buffers of (prefix + size) rounded up to the alignment.
//
// SetProperties rules: a null pActual gives E_POINTER; an alignment of 0, one that is not a
// power of two, or one the system's allocation granularity (64 KB) is not a multiple of gives
// VFW_E_BADALIGN; committed gives VFW_E_ALREADY_COMMITTED; samples still out give
// VFW_E_BUFFERS_OUTSTANDING. The granted size is (prefix + size) rounded up to the alignment,
// less the prefix. The memory is kept across Decommit/Commit and replaced only when the
// properties change.
//
// Threads: as CBaseAllocator.
#pragma once

#include "allocator.h"

class CMemAllocator : public CBaseAllocator {
 public:
  CMemAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
  ~CMemAllocator() override;

  static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;

 protected:
  // Keeps the memory for the next Commit.
  void Free() override;
  // Deletes the samples and the memory.
  void ReallyFree();
  HRESULT Alloc() override;

  LPBYTE m_pBuffer = nullptr;  // the block all samples point into (lock held)
};

// A new CMemAllocator with one reference, for pins that have no allocator of their own.
HRESULT WINAPI CreateMemoryAllocator(IMemAllocator** ppAllocator);
