// Threads, priorities, last error, critical sections, interlocked operations and Sleep.
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <new>
#include <thread>

#include "cehost/kernel_object.h"

namespace cehost {

// A thread's kernel object: signaled when the thread has ended. The priority is recorded on
// the device's 0..255 scale and reported back, but not applied to the host scheduler: host
// threads all run at the normal priority, which is harmless for every use here.
class ThreadObject : public KernelObject {
 public:
  ThreadObject() = default;
  explicit ThreadObject(DWORD id) : id_(id) {}
  bool IsWaitable() const override { return true; }
  bool IsSignaledLocked(DWORD) const override { return exited_; }

  void Exit(DWORD code) {
    std::lock_guard<std::mutex> guard(WaitLock());
    exit_code_ = code;
    exited_ = true;
    WakeWaitersLocked();
  }
  DWORD ExitCode() const {
    std::lock_guard<std::mutex> guard(WaitLock());
    return exited_ ? exit_code_ : STILL_ACTIVE;
  }

  std::atomic<int> priority_{CE_THREAD_PRIO_256_NORMAL};

  // Start-up hand-shake: the new thread publishes its id, then waits while suspended
  // (CREATE_SUSPENDED). Guarded by start_lock_; id_ is fixed once published.
  std::mutex start_lock_;
  std::condition_variable start_cv_;
  DWORD id_ = 0;
  int suspend_count_ = 0;

 private:
  bool exited_ = false;   // guarded by WaitLock()
  DWORD exit_code_ = 0;   // guarded by WaitLock()
};

namespace {

thread_local DWORD t_last_error = 0;
thread_local DWORD t_thread_id = 0;
thread_local std::shared_ptr<ThreadObject> t_self;

struct StartBlock {  // what a new thread needs; owned by the thread once started
  std::shared_ptr<ThreadObject> self;
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
};

void* ThreadMain(void* arg) {
  std::unique_ptr<StartBlock> start(static_cast<StartBlock*>(arg));
  t_self = start->self;
  {
    std::unique_lock<std::mutex> lock(t_self->start_lock_);
    t_self->id_ = GetCurrentThreadId();
    t_self->start_cv_.notify_all();
    t_self->start_cv_.wait(lock, [&] { return t_self->suspend_count_ == 0; });
  }
  const DWORD code = start->routine(start->parameter);
  t_self->Exit(code);
  t_self.reset();
  return nullptr;
}

}  // namespace

std::shared_ptr<ThreadObject> CurrentThreadObject() {
  if (!t_self) t_self = std::make_shared<ThreadObject>(GetCurrentThreadId());
  return t_self;
}

std::shared_ptr<KernelObject> ThreadObjectAsKernel(const std::shared_ptr<ThreadObject>& t) {
  return t;
}

}  // namespace cehost

using cehost::ThreadObject;

extern "C" {

DWORD GetLastError(void) { return cehost::t_last_error; }
void SetLastError(DWORD dwErrCode) { cehost::t_last_error = dwErrCode; }

DWORD GetCurrentThreadId(void) {
  if (cehost::t_thread_id == 0) cehost::t_thread_id = static_cast<DWORD>(syscall(SYS_gettid));
  return cehost::t_thread_id;
}

HANDLE GetCurrentThread(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }
HANDLE GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }
DWORD GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (!lpStartAddress) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto self = std::make_shared<ThreadObject>();
  if (dwCreationFlags & CREATE_SUSPENDED) self->suspend_count_ = 1;
  auto* start = new cehost::StartBlock{self, lpStartAddress, lpParameter};

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (dwStackSize >= static_cast<SIZE_T>(PTHREAD_STACK_MIN)) pthread_attr_setstacksize(&attr, dwStackSize);
  pthread_t thread;
  const int rc = pthread_create(&thread, &attr, &cehost::ThreadMain, start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete start;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // The id is the host's thread id, which only the new thread can read; it publishes it
  // before it runs the routine.
  DWORD id;
  {
    std::unique_lock<std::mutex> lock(self->start_lock_);
    self->start_cv_.wait(lock, [&] { return self->id_ != 0; });
    id = self->id_;
  }
  if (lpThreadId) *lpThreadId = id;
  return cehost::IssueHandle(std::move(self));
}

DWORD ResumeThread(HANDLE hThread) {
  auto t = cehost::LookupHandleAs<ThreadObject>(hThread);
  if (!t) return 0xFFFFFFFFu;
  std::lock_guard<std::mutex> guard(t->start_lock_);
  const DWORD previous = static_cast<DWORD>(t->suspend_count_);
  if (t->suspend_count_ > 0 && --t->suspend_count_ == 0) t->start_cv_.notify_all();
  return previous;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  auto t = cehost::LookupHandleAs<ThreadObject>(hThread);
  if (!t) return FALSE;
  if (!lpExitCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpExitCode = t->ExitCode();
  return TRUE;
}

BOOL CeSetThreadPriority(HANDLE hThread, int nPriority) {
  if (nPriority < 0 || nPriority > 255) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto t = cehost::LookupHandleAs<ThreadObject>(hThread);
  if (!t) return FALSE;
  t->priority_ = nPriority;
  return TRUE;
}

int CeGetThreadPriority(HANDLE hThread) {
  auto t = cehost::LookupHandleAs<ThreadObject>(hThread);
  return t ? t->priority_.load() : THREAD_PRIORITY_ERROR_RETURN;
}

BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
  if (nPriority < THREAD_PRIORITY_TIME_CRITICAL || nPriority > THREAD_PRIORITY_IDLE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return CeSetThreadPriority(hThread, 248 + nPriority);
}

int GetThreadPriority(HANDLE hThread) {
  const int p = CeGetThreadPriority(hThread);
  if (p == THREAD_PRIORITY_ERROR_RETURN) return p;
  // Real-time priorities above the relative range read as time-critical, as on the device.
  return p < 248 ? THREAD_PRIORITY_TIME_CRITICAL : p - 248;
}

void Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    sched_yield();
    return;
  }
  if (dwMilliseconds == INFINITE) {
    for (;;) pause();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

// ---- Critical sections ----

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::Storage));

namespace {
std::recursive_mutex* MutexOf(LPCRITICAL_SECTION cs) {
  return std::launder(reinterpret_cast<std::recursive_mutex*>(cs->Storage));
}
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  new (cs->Storage) std::recursive_mutex();
  cs->OwnerThread = 0;
  cs->LockCount = 0;
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) { MutexOf(cs)->~recursive_mutex(); }

// OwnerThread is read by other threads (to ask "do I hold it?"), so it is written atomically.
void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  MutexOf(cs)->lock();
  __atomic_store_n(&cs->OwnerThread, GetCurrentThreadId(), __ATOMIC_RELAXED);
  ++cs->LockCount;
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  if (!MutexOf(cs)->try_lock()) return FALSE;
  __atomic_store_n(&cs->OwnerThread, GetCurrentThreadId(), __ATOMIC_RELAXED);
  ++cs->LockCount;
  return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  if (--cs->LockCount == 0) __atomic_store_n(&cs->OwnerThread, 0u, __ATOMIC_RELAXED);
  MutexOf(cs)->unlock();
}

// ---- Interlocked operations ----

LONG InterlockedIncrement(LONG volatile* p) { return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedDecrement(LONG volatile* p) { return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedExchange(LONG volatile* p, LONG value) {
  return __atomic_exchange_n(p, value, __ATOMIC_SEQ_CST);
}
LONG InterlockedExchangeAdd(LONG volatile* p, LONG value) {
  return __atomic_fetch_add(p, value, __ATOMIC_SEQ_CST);
}
LONG InterlockedCompareExchange(LONG volatile* p, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}
PVOID InterlockedExchangePointer(PVOID volatile* p, PVOID value) {
  return __atomic_exchange_n(p, value, __ATOMIC_SEQ_CST);
}
PVOID InterlockedCompareExchangePointer(PVOID volatile* p, PVOID exchange, PVOID comparand) {
  __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}

}  // extern "C"
