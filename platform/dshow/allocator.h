// CBaseAllocator: the buffer pool behind IMemAllocator. It keeps the negotiated properties,
// the list of free samples and the commit state; derived allocators provide the memory and
// the samples (Alloc, Free).
//
// Use: SetProperties, Commit (which calls Alloc), GetBuffer / sample Release as often as
// needed, Decommit. GetBuffer waits for a free sample; Decommit makes waiting and later
// GetBuffer calls fail with VFW_E_NOT_COMMITTED, and Free runs once every sample has come
// back. A committed allocator holds a reference on itself until that Free, so samples still
// out at Decommit can always be returned.
//
// Threads: any thread. The allocator is its own lock (CAutoLock lck(this)), which guards
// every member below; waiting GetBuffer calls sleep on m_hSem without the lock.
#pragma once

#include "combase.h"
#include "critsec.h"
#include "sample.h"
#include "strmif.h"

class CBaseAllocator : public CUnknown, public IMemAllocator, public CCritSec {
 public:
  // bEvent: create the semaphore that waiting GetBuffer calls sleep on (always wanted).
  CBaseAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, BOOL bEvent = TRUE,
                 BOOL fEnableReleaseCallback = FALSE);
  ~CBaseAllocator() override;

  DECLARE_IUNKNOWN
  // Answers IID_IMemAllocator; optional to override, must call the base.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Optional to override. The base takes the request as granted when the allocator is not
  // committed and every sample is home (VFW_E_ALREADY_COMMITTED, VFW_E_BUFFERS_OUTSTANDING);
  // E_INVALIDARG for negative values.
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
  STDMETHODIMP Commit() override;
  STDMETHODIMP Decommit() override;
  STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                         DWORD dwFlags) override;
  STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override;

  // Wakes every GetBuffer waiting for a sample (lock held).
  void NotifySample();
  // Counts one more GetBuffer waiting (lock held).
  void SetWaiting() { m_lWaiting++; }

 protected:
  // Singly linked list of free samples through CMediaSample::m_pNext.
  class CSampleList {
   public:
    CMediaSample* Head() const { return m_List; }
    static CMediaSample* Next(CMediaSample* pSample) { return pSample->m_pNext; }
    int GetCount() const { return m_nOnList; }
    void Add(CMediaSample* pSample) {
      pSample->m_pNext = m_List;
      m_List = pSample;
      m_nOnList++;
    }
    CMediaSample* RemoveHead() {
      CMediaSample* pSample = m_List;
      if (pSample) {
        m_List = pSample->m_pNext;
        m_nOnList--;
      }
      return pSample;
    }
    void Remove(CMediaSample* pSample);

   private:
    CMediaSample* m_List = nullptr;
    int m_nOnList = 0;
  };

  // Required: gives the samples and memory back. Called with the lock held once the
  // allocator is decommitted and every sample is home.
  virtual void Free() = 0;
  // Optional to override; overrides call the base first. The base checks the properties
  // (VFW_E_SIZENOTSET when the count, size or alignment is not positive) and answers
  // S_FALSE when nothing changed since the last allocation, S_OK when the derived class
  // must (re)allocate.
  virtual HRESULT Alloc();

  CSampleList m_lFree;
  HANDLE m_hSem = nullptr;  // waiting GetBuffer calls sleep here
  LONG m_lWaiting = 0;      // GetBuffer calls waiting for a sample
  LONG m_lCount = 0;        // buffers wanted
  LONG m_lAllocated = 0;    // samples created
  LONG m_lSize = 0;         // size of each buffer
  LONG m_lAlignment = 0;
  LONG m_lPrefix = 0;
  BOOL m_bChanged = FALSE;  // properties changed since the last Alloc
  BOOL m_bCommitted = FALSE;
  BOOL m_bDecommitInProgress = FALSE;  // decommitted, waiting for samples to come home
};
