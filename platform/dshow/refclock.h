// CBaseReferenceClock: an IReferenceClock over the system's monotonic clock (100 ns units),
// with advises served by a thread of the clock's own: AdviseTime sets an event once the
// clock reaches a time, AdvisePeriodic releases a semaphore once per period.
//
// A clock with another time base overrides GetPrivateTime and calls TriggerThread whenever
// its time jumps, so that due advises fire.
//
// Threads: any thread may call the IReferenceClock methods; the advise list is guarded by
// m_lock (a std::mutex, never held while calling out) and served by m_thread, which runs
// from the first advise until the last reference goes.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "combase.h"
#include "strmif.h"

class CBaseReferenceClock : public CUnknown, public IReferenceClock {
 public:
  CBaseReferenceClock(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
  ~CBaseReferenceClock() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // The last release ends the advise thread before any destructor runs, since the thread
  // calls GetPrivateTime, which a derived clock overrides.
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

  // Never goes backwards, even if GetPrivateTime does.
  STDMETHODIMP GetTime(REFERENCE_TIME* pTime) override;
  // The event (a HANDLE) is set once the clock reaches baseTime + streamTime, at once if
  // that time has passed. E_INVALIDARG for a null event or a time that overflows.
  STDMETHODIMP AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                          DWORD_PTR* pdwAdviseCookie) override;
  // The semaphore (a HANDLE) is released at startTime and every periodTime after it.
  STDMETHODIMP AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE hSemaphore,
                              DWORD_PTR* pdwAdviseCookie) override;
  // S_FALSE when the advise is unknown (already fired, or never set).
  STDMETHODIMP Unadvise(DWORD_PTR dwAdviseCookie) override;

  // Optional to override: the clock's raw time. The base reads the monotonic system clock.
  virtual REFERENCE_TIME GetPrivateTime();
  // Makes the advise thread look at the time again.
  void TriggerThread();

 private:
  struct Advise {
    REFERENCE_TIME due;
    REFERENCE_TIME period;  // 0 for a one-shot advise
    HANDLE handle;
  };
  void EnsureThreadLocked();
  void StopThread();
  void ThreadMain();

  std::mutex m_lock;
  std::condition_variable m_wake;
  std::map<DWORD_PTR, Advise> m_advises;  // guarded by m_lock
  DWORD_PTR m_nextCookie = 1;             // guarded by m_lock
  bool m_exit = false;                    // guarded by m_lock
  REFERENCE_TIME m_lastTime = 0;          // guarded by m_lock
  std::thread m_thread;                   // started under m_lock, joined by the destructor
};

// A new system clock with one reference.
HRESULT WINAPI CreateSystemClock(IReferenceClock** ppClock);
