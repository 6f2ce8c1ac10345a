// CAMThread: a worker thread that takes numbered requests from other threads.
//
// A derived class implements ThreadProc; other threads send requests with CallWorker, which
// waits until the worker answers with Reply. The worker takes requests with GetRequest
// (waiting) or CheckRequest (polling); a request stays pending until the worker answers it
// with Reply, so a loop that polls with CheckRequest can leave a request it does not handle
// to an outer GetRequest. Create starts the thread; Close waits for it to end.
//
// Threads: CallWorker may be called from any thread (m_AccessLock serialises callers);
// GetRequest, CheckRequest and Reply belong to the worker. The request parameter and reply
// value are handed over under the two events, which order the accesses.
#pragma once

#include "amevent.h"
#include "critsec.h"
#include "windows.h"

class CAMThread {
 public:
  explicit CAMThread(HRESULT* phr = nullptr);
  virtual ~CAMThread();
  CAMThread(const CAMThread&) = delete;
  CAMThread& operator=(const CAMThread&) = delete;

  // Held by CallWorker for the whole exchange: one request at a time.
  CCritSec m_AccessLock;
  // Free for the derived class to guard the worker's state.
  CCritSec m_WorkerLock;

  // Starts the thread; FALSE if it is already running or cannot be created.
  BOOL Create();
  // Sends a request and waits for the worker's reply; E_FAIL (as a DWORD) without a thread.
  DWORD CallWorker(DWORD dwParam);
  // Waits for the thread to end and forgets it. The thread must be on its way out.
  void Close();
  BOOL ThreadExists() const { return __atomic_load_n(&m_hThread, __ATOMIC_ACQUIRE) != nullptr; }

  // Worker side. GetRequest waits for a request, CheckRequest tells whether one is pending;
  // neither consumes it: Reply answers (and so consumes) the pending request.
  DWORD GetRequest();
  BOOL CheckRequest(DWORD* pParam);
  void Reply(DWORD dw);
  HANDLE GetRequestHandle() const { return m_EventSend; }
  DWORD GetRequestParam() const { return m_dwParam; }

  // Required: the thread's body. Its return value is the thread's exit code.
  virtual DWORD ThreadProc() = 0;

 protected:
  // The thread's handle (null when none), for setting its priority.
  HANDLE ThreadHandle() const { return __atomic_load_n(&m_hThread, __ATOMIC_ACQUIRE); }

  // Set by Create, cleared by Close (atomic accesses); derived classes read it to set the
  // thread's priority.
  HANDLE m_hThread = nullptr;

 private:
  static DWORD WINAPI InitialThreadProc(LPVOID pv);

  CAMEvent m_EventSend;      // manual-reset: a request is pending (reset by Reply)
  CAMEvent m_EventComplete;  // auto-reset: the worker replied
  DWORD m_dwParam = 0;       // written by the caller before m_EventSend
  DWORD m_dwReturnVal = 0;   // written by the worker before m_EventComplete
};
