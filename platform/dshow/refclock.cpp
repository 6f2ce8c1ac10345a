#include "refclock.h"

#include <chrono>
#include <new>
#include <vector>

#include "reftime.h"

CBaseReferenceClock::CBaseReferenceClock(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT*) : CUnknown(pName, pUnk) {}

CBaseReferenceClock::~CBaseReferenceClock() { StopThread(); }

void CBaseReferenceClock::StopThread() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_exit = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

STDMETHODIMP_(ULONG) CBaseReferenceClock::NonDelegatingRelease() {
  const LONG count = InterlockedDecrement(&m_cRef);
  if (count == 0) {
    StopThread();
    m_cRef = 1;
    delete this;
  }
  return static_cast<ULONG>(count);
}

STDMETHODIMP CBaseReferenceClock::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IReferenceClock) return GetInterface(static_cast<IReferenceClock*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

REFERENCE_TIME CBaseReferenceClock::GetPrivateTime() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

STDMETHODIMP CBaseReferenceClock::GetTime(REFERENCE_TIME* pTime) {
  CheckPointer(pTime, E_POINTER);
  const REFERENCE_TIME now = GetPrivateTime();
  std::lock_guard<std::mutex> guard(m_lock);
  if (now > m_lastTime) m_lastTime = now;
  *pTime = m_lastTime;
  return S_OK;
}

void CBaseReferenceClock::EnsureThreadLocked() {
  if (!m_thread.joinable()) m_thread = std::thread(&CBaseReferenceClock::ThreadMain, this);
}

STDMETHODIMP CBaseReferenceClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                                             DWORD_PTR* pdwAdviseCookie) {
  CheckPointer(pdwAdviseCookie, E_POINTER);
  *pdwAdviseCookie = 0;
  REFERENCE_TIME due = 0;
  if (!hEvent || __builtin_add_overflow(baseTime, streamTime, &due)) return E_INVALIDARG;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    EnsureThreadLocked();
    *pdwAdviseCookie = m_nextCookie++;
    m_advises[*pdwAdviseCookie] = Advise{due, 0, reinterpret_cast<HANDLE>(hEvent)};
  }
  m_wake.notify_all();
  return S_OK;
}

STDMETHODIMP CBaseReferenceClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                                 HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) {
  CheckPointer(pdwAdviseCookie, E_POINTER);
  *pdwAdviseCookie = 0;
  if (!hSemaphore || periodTime <= 0 || startTime < 0) return E_INVALIDARG;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    EnsureThreadLocked();
    *pdwAdviseCookie = m_nextCookie++;
    m_advises[*pdwAdviseCookie] = Advise{startTime, periodTime, reinterpret_cast<HANDLE>(hSemaphore)};
  }
  m_wake.notify_all();
  return S_OK;
}

STDMETHODIMP CBaseReferenceClock::Unadvise(DWORD_PTR dwAdviseCookie) {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_advises.erase(dwAdviseCookie) ? S_OK : S_FALSE;
}

void CBaseReferenceClock::TriggerThread() {
  { std::lock_guard<std::mutex> guard(m_lock); }
  m_wake.notify_all();
}

void CBaseReferenceClock::ThreadMain() {
  std::unique_lock<std::mutex> lock(m_lock);
  std::vector<std::pair<HANDLE, bool>> due;  // handle, periodic
  while (!m_exit) {
    lock.unlock();
    const REFERENCE_TIME now = GetPrivateTime();
    lock.lock();
    REFERENCE_TIME next = MAX_TIME;
    due.clear();
    for (auto it = m_advises.begin(); it != m_advises.end();) {
      Advise& advise = it->second;
      if (advise.due <= now) {
        due.emplace_back(advise.handle, advise.period != 0);
        if (advise.period == 0) {
          it = m_advises.erase(it);
          continue;
        }
        // Once per period, however late the thread ran.
        advise.due += ((now - advise.due) / advise.period + 1) * advise.period;
      }
      if (advise.due < next) next = advise.due;
      ++it;
    }
    if (!due.empty()) {
      // Signalled under the lock, so an Unadvise that returned never sees its event set later.
      for (const auto& [handle, periodic] : due) {
        if (periodic)
          ReleaseSemaphore(handle, 1, nullptr);
        else
          SetEvent(handle);
      }
      continue;
    }
    // Sleep until the next advise is due (in real time; a clock whose time jumps calls
    // TriggerThread), looking again at least once a second.
    REFERENCE_TIME wait = next == MAX_TIME ? UNITS : next - now;
    if (wait > UNITS) wait = UNITS;
    m_wake.wait_for(lock, std::chrono::nanoseconds(wait * 100));
  }
}

HRESULT WINAPI CreateSystemClock(IReferenceClock** ppClock) {
  CheckPointer(ppClock, E_POINTER);
  HRESULT hr = S_OK;
  CBaseReferenceClock* pClock = new (std::nothrow) CBaseReferenceClock(NAME("System clock"), nullptr, &hr);
  if (!pClock) return E_OUTOFMEMORY;
  return pClock->NonDelegatingQueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(ppClock));
}
