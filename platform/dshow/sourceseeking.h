// CSourceSeeking: IMediaSeeking for a source stream, in media time (100 ns units). It keeps
// the duration, the start and stop positions and the rate, and tells the derived stream
// about each change (ChangeStart, ChangeStop, ChangeRate), which restarts its delivery.
//
// A stream derives from CSourceStream and CSourceSeeking, passes its own IUnknown as the
// owner and a lock of its own (shared with its worker), writes DECLARE_IUNKNOWN, answers
// IID_IMediaSeeking in its NonDelegatingQueryInterface with
// CSourceSeeking::NonDelegatingQueryInterface, and sets m_rtDuration and m_rtStop once it
// knows the length. The seeking part has no reference count of its own: its IUnknown
// calls go to the owner.
//
// Threads: IMediaSeeking calls come from the application's thread; the positions and rate
// are guarded by *m_pLock, which is not held while the Change* calls run.
#pragma once

#include "combase.h"
#include "critsec.h"
#include "reftime.h"
#include "strmif.h"

class CSourceSeeking : public IMediaSeeking {
 public:
  virtual ~CSourceSeeking();
  CSourceSeeking(const CSourceSeeking&) = delete;
  CSourceSeeking& operator=(const CSourceSeeking&) = delete;

  // Answered by the owner.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return m_pOwner->QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return m_pOwner->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return m_pOwner->Release(); }
  // IID_IMediaSeeking: this part, with a reference on the owner; else E_NOINTERFACE.
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv);

  STDMETHODIMP IsFormatSupported(const GUID* pFormat) override;
  STDMETHODIMP QueryPreferredFormat(GUID* pFormat) override;
  STDMETHODIMP SetTimeFormat(const GUID* pFormat) override;
  STDMETHODIMP IsUsingTimeFormat(const GUID* pFormat) override;
  STDMETHODIMP GetTimeFormat(GUID* pFormat) override;
  STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
  STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;
  // Not tracked here: the graph knows how far playback got (E_NOTIMPL).
  STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;
  STDMETHODIMP GetCapabilities(DWORD* pCapabilities) override;
  STDMETHODIMP CheckCapabilities(DWORD* pCapabilities) override;
  STDMETHODIMP ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                 const GUID* pSourceFormat) override;
  // Absolute or relative start; absolute, relative or incremental (from the new start)
  // stop. Calls ChangeStop when the stop changed, then ChangeStart when the start changed,
  // and returns the last result.
  STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD CurrentFlags, LONGLONG* pStop, DWORD StopFlags) override;
  STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
  STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
  // Optional to override. The base stores a positive rate and calls ChangeRate.
  STDMETHODIMP SetRate(double dRate) override;
  STDMETHODIMP GetRate(double* pdRate) override;
  STDMETHODIMP GetPreroll(LONGLONG* pPreroll) override;

 protected:
  // pUnk: the stream's IUnknown (the owner). pLock: guards the positions (not owned).
  CSourceSeeking(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, CCritSec* pLock);

  // Required: react to a new start, stop or rate (called without *m_pLock held).
  virtual HRESULT ChangeStart() = 0;
  virtual HRESULT ChangeStop() = 0;
  virtual HRESULT ChangeRate() = 0;

  // Guarded by *m_pLock. Until the stream knows better the duration is 0 (unknown) and the
  // stop is MAX_TIME (play to the end).
  CRefTime m_rtDuration;
  CRefTime m_rtStart;
  CRefTime m_rtStop;
  double m_dRateSeeking = 1.0;
  DWORD m_dwSeekingCaps;
  CCritSec* m_pLock;

 private:
  LPUNKNOWN m_pOwner;  // not referenced: the owner contains this part
};
