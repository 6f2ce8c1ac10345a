// CAMEvent: a kernel event (auto- or manual-reset) owned by an object.
//
// Threads: Set, Reset, Wait and Check may be called from any thread.
#pragma once

#include "windows.h"

class CAMEvent {
 public:
  // phr receives E_OUTOFMEMORY when the event cannot be created.
  explicit CAMEvent(BOOL fManualReset = FALSE, HRESULT* phr = nullptr);
  ~CAMEvent();
  CAMEvent(const CAMEvent&) = delete;
  CAMEvent& operator=(const CAMEvent&) = delete;

  operator HANDLE() const { return m_hEvent; }
  void Set() { SetEvent(m_hEvent); }
  void Reset() { ResetEvent(m_hEvent); }
  // TRUE when signalled within the timeout.
  BOOL Wait(DWORD dwTimeout = INFINITE) { return WaitForSingleObject(m_hEvent, dwTimeout) == WAIT_OBJECT_0; }
  // Wait(0); for an auto-reset event this consumes the signal.
  BOOL Check() { return Wait(0); }

 protected:
  HANDLE m_hEvent;
};

// A manual-reset CAMEvent.
class CAMManualResetEvent : public CAMEvent {
 public:
  explicit CAMManualResetEvent(HRESULT* phr = nullptr) : CAMEvent(TRUE, phr) {}
};
