#include "amthread.h"

CAMThread::CAMThread(HRESULT* phr) : m_EventSend(TRUE, phr), m_EventComplete(FALSE, phr) {}

CAMThread::~CAMThread() { Close(); }

DWORD WINAPI CAMThread::InitialThreadProc(LPVOID pv) {
  return static_cast<CAMThread*>(pv)->ThreadProc();
}

BOOL CAMThread::Create() {
  CAutoLock lock(&m_AccessLock);
  if (ThreadExists()) return FALSE;
  HANDLE thread = CreateThread(nullptr, 0, &CAMThread::InitialThreadProc, this, 0, nullptr);
  if (!thread) return FALSE;
  __atomic_store_n(&m_hThread, thread, __ATOMIC_RELEASE);
  return TRUE;
}

DWORD CAMThread::CallWorker(DWORD dwParam) {
  CAutoLock lock(&m_AccessLock);
  if (!ThreadExists()) return static_cast<DWORD>(E_FAIL);
  m_dwParam = dwParam;
  m_EventSend.Set();
  m_EventComplete.Wait();
  return m_dwReturnVal;
}

void CAMThread::Close() {
  HANDLE thread = __atomic_exchange_n(&m_hThread, nullptr, __ATOMIC_ACQ_REL);
  if (thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
}

DWORD CAMThread::GetRequest() {
  m_EventSend.Wait();
  return m_dwParam;
}

BOOL CAMThread::CheckRequest(DWORD* pParam) {
  if (!m_EventSend.Check()) return FALSE;
  if (pParam) *pParam = m_dwParam;
  return TRUE;
}

void CAMThread::Reply(DWORD dw) {
  m_dwReturnVal = dw;
  // Before the completion: once the caller runs again it may send the next request.
  m_EventSend.Reset();
  m_EventComplete.Set();
}
