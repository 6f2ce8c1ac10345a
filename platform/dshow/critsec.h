// CCritSec: a recursive critical section; CAutoLock holds one for a scope.
//
// Threads: any thread may lock; the owner may lock again (recursion).
#pragma once

#include "windows.h"

class CCritSec {
 public:
  CCritSec() { InitializeCriticalSection(&m_CritSec); }
  ~CCritSec() { DeleteCriticalSection(&m_CritSec); }
  CCritSec(const CCritSec&) = delete;
  CCritSec& operator=(const CCritSec&) = delete;

  void Lock() { EnterCriticalSection(&m_CritSec); }
  void Unlock() { LeaveCriticalSection(&m_CritSec); }

  // True when the calling thread owns the lock (for contract assertions).
  bool IsOwnedByCurrentThread() const {
    return __atomic_load_n(&m_CritSec.OwnerThread, __ATOMIC_ACQUIRE) == GetCurrentThreadId();
  }

 private:
  CRITICAL_SECTION m_CritSec;
};

inline BOOL CritCheckIn(const CCritSec* pcCrit) { return pcCrit->IsOwnedByCurrentThread(); }
inline BOOL CritCheckOut(const CCritSec* pcCrit) { return !pcCrit->IsOwnedByCurrentThread(); }

class CAutoLock {
 public:
  explicit CAutoLock(CCritSec* plock) : m_pLock(plock) { m_pLock->Lock(); }
  ~CAutoLock() { m_pLock->Unlock(); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;

 protected:
  CCritSec* m_pLock;
};
