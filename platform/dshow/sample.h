// CMediaSample: a buffer handed out by an allocator, with its times, flags and an optional
// attached media type (IMediaSample).
//
// An allocator creates its samples once, over pieces of its memory; GetBuffer hands one out
// with one reference; the last Release clears the flags and times and gives the sample back
// to the allocator (ReleaseBuffer). Derived samples (physical-memory samples, frame samples)
// add interfaces through QueryInterface and may hook Release.
//
// Threads: one owner at a time sets and reads the fields (the thread holding the reference
// it got from GetBuffer, then each receiver in turn); the reference count is interlocked.
#pragma once

#include "strmif.h"

class CBaseAllocator;

class CMediaSample : public IMediaSample {
 public:
  // pAllocator: the allocator the sample returns to (not referenced: the allocator owns
  // the sample). pBuffer/length: the memory, which may also be set later with SetPointer.
  CMediaSample(LPCTSTR pName, CBaseAllocator* pAllocator, HRESULT* phr, LPBYTE pBuffer = nullptr,
               LONG length = 0);
  virtual ~CMediaSample();
  CMediaSample(const CMediaSample&) = delete;
  CMediaSample& operator=(const CMediaSample&) = delete;

  // Optional to override; must call the base for IIDs it does not know (the base answers
  // IID_IMediaSample and IID_IUnknown).
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  // Optional to override (must call the base): the last release resets the sample and
  // hands it back to its allocator.
  STDMETHODIMP_(ULONG) Release() override;

  // Sets the memory the sample describes; the actual length becomes cBytes.
  HRESULT SetPointer(BYTE* ptr, LONG cBytes);

  STDMETHODIMP GetPointer(BYTE** ppBuffer) override;
  STDMETHODIMP_(LONG) GetSize() override;
  STDMETHODIMP GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
  STDMETHODIMP SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
  STDMETHODIMP IsSyncPoint() override;
  STDMETHODIMP SetSyncPoint(BOOL bIsSyncPoint) override;
  STDMETHODIMP IsPreroll() override;
  STDMETHODIMP SetPreroll(BOOL bIsPreroll) override;
  STDMETHODIMP_(LONG) GetActualDataLength() override;
  // VFW_E_BUFFER_OVERFLOW for a length outside 0..GetSize().
  STDMETHODIMP SetActualDataLength(LONG lActual) override;
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
  STDMETHODIMP IsDiscontinuity() override;
  STDMETHODIMP SetDiscontinuity(BOOL bDiscontinuity) override;
  STDMETHODIMP GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
  STDMETHODIMP SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;

  // Reference count: interlocked; 0 while the sample is on its allocator's free list.
  // Derived samples may read it in Release (1 before the decrement means "last").
  LONG volatile m_cRef;

 protected:
  friend class CBaseAllocator;

  enum {
    Sample_SyncPoint = 0x01,
    Sample_Preroll = 0x02,
    Sample_Discontinuity = 0x04,
    Sample_TypeChanged = 0x08,
    Sample_TimeValid = 0x10,
    Sample_MediaTimeValid = 0x20,
    Sample_StopValid = 0x100,
  };

  DWORD m_dwFlags = 0;
  LPBYTE m_pBuffer;
  LONG m_lActual;
  LONG m_cbBuffer;
  CBaseAllocator* m_pAllocator;
  CMediaSample* m_pNext = nullptr;  // free-list link, guarded by the allocator's lock
  REFERENCE_TIME m_Start = 0;
  REFERENCE_TIME m_End = 0;
  LONGLONG m_MediaStart = 0;
  LONGLONG m_MediaEnd = 0;
  AM_MEDIA_TYPE* m_pMediaType = nullptr;  // attached type (task memory), when TypeChanged
};
