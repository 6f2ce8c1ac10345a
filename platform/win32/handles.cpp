// The handle table, waits, and the waitable kernel objects: events, semaphores and mutexes.
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <unordered_map>

#include "cehost/kernel_object.h"

namespace cehost {

// A thread blocked in a wait; registered on every object it waits for.
struct Waiter {
  std::condition_variable cv;
  // Set by PulseEvent on an object the waiter waits for: the wait ends on it.
  KernelObject* pulsed = nullptr;
};

KernelObject::~KernelObject() = default;

void KernelObject::WakeWaitersLocked() {
  for (Waiter* w : waiters_) w->cv.notify_one();
}

std::mutex& WaitLock() {
  static std::mutex lock;
  return lock;
}

namespace {

struct HandleTable {
  std::mutex lock;
  // Handle values count up from 0x100 in steps of 4, like the device's, and are never
  // reused, so a stale handle is always detected. Guarded by `lock`.
  uintptr_t next = 0x100;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
};

HandleTable& Table() {
  // Never destroyed: handles may be closed from static destructors of other libraries.
  static HandleTable* table = new HandleTable;
  return *table;
}

// The pseudo handle GetCurrentThread() returns.
const HANDLE kCurrentThreadPseudo = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

}  // namespace

HANDLE IssueHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  const uintptr_t value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<ThreadObject> CurrentThreadObject();
std::shared_ptr<KernelObject> ThreadObjectAsKernel(const std::shared_ptr<ThreadObject>& t);

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  if (handle == kCurrentThreadPseudo) return ThreadObjectAsKernel(CurrentThreadObject());
  HandleTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == t.objects.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second;
}

size_t LiveHandleCountForTesting() {
  HandleTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  return t.objects.size();
}

namespace {

class EventObject : public KernelObject {
 public:
  EventObject(bool manual, bool initial) : manual_(manual), signaled_(initial) {}
  bool IsWaitable() const override { return true; }
  bool IsSignaledLocked(DWORD) const override { return signaled_; }
  void AcquireLocked(DWORD) override {
    if (!manual_) signaled_ = false;
  }
  void Set() {
    std::lock_guard<std::mutex> guard(WaitLock());
    signaled_ = true;
    WakeWaitersLocked();
  }
  void Reset() {
    std::lock_guard<std::mutex> guard(WaitLock());
    signaled_ = false;
  }
  // Releases the threads waiting now (one of them for an auto-reset event), then resets.
  void Pulse() {
    std::lock_guard<std::mutex> guard(WaitLock());
    for (Waiter* w : waiters_) {
      if (w->pulsed) continue;
      w->pulsed = this;
      w->cv.notify_one();
      if (!manual_) break;
    }
    signaled_ = false;
  }

 private:
  const bool manual_;
  bool signaled_;  // guarded by WaitLock()
};

class SemaphoreObject : public KernelObject {
 public:
  SemaphoreObject(LONG initial, LONG maximum) : count_(initial), max_(maximum) {}
  bool IsWaitable() const override { return true; }
  bool IsSignaledLocked(DWORD) const override { return count_ > 0; }
  void AcquireLocked(DWORD) override { --count_; }
  BOOL Release(LONG n, LONG* previous) {
    std::lock_guard<std::mutex> guard(WaitLock());
    if (n <= 0 || n > max_ - count_) {
      SetLastError(ERROR_INVALID_PARAMETER);  // the device reports too many posts this way
      return FALSE;
    }
    if (previous) *previous = count_;
    count_ += n;
    WakeWaitersLocked();
    return TRUE;
  }

 private:
  LONG count_;  // guarded by WaitLock()
  const LONG max_;
};

class MutexObject : public KernelObject {
 public:
  explicit MutexObject(DWORD owner) : owner_(owner), depth_(owner ? 1 : 0) {}
  bool IsWaitable() const override { return true; }
  bool IsSignaledLocked(DWORD tid) const override { return owner_ == 0 || owner_ == tid; }
  void AcquireLocked(DWORD tid) override {
    owner_ = tid;
    ++depth_;
  }
  BOOL Release() {
    std::lock_guard<std::mutex> guard(WaitLock());
    if (owner_ != GetCurrentThreadId()) {
      SetLastError(ERROR_NOT_OWNER_OF_MUTEX);
      return FALSE;
    }
    if (--depth_ == 0) {
      owner_ = 0;
      WakeWaitersLocked();
    }
    return TRUE;
  }
  static constexpr DWORD ERROR_NOT_OWNER_OF_MUTEX = 288;

 private:
  DWORD owner_;  // guarded by WaitLock(); 0 when free
  DWORD depth_;  // guarded by WaitLock()
};

}  // namespace

}  // namespace cehost

using cehost::KernelObject;

namespace {
template <typename T>
std::shared_ptr<T> Typed(HANDLE h) {
  return cehost::LookupHandleAs<T>(h);
}
}  // namespace

extern "C" {

BOOL CloseHandle(HANDLE hObject) {
  std::shared_ptr<KernelObject> object;
  {
    cehost::HandleTable& t = cehost::Table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(hObject));
    if (it == t.objects.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    object = std::move(it->second);
    t.objects.erase(it);
  }
  return object->OnHandleClosed();
}

BOOL DuplicateHandle(HANDLE, HANDLE hSource, HANDLE, LPHANDLE lpTarget, DWORD, BOOL, DWORD) {
  if (!lpTarget) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::shared_ptr<KernelObject> object = cehost::LookupHandle(hSource);
  if (!object) return FALSE;
  *lpTarget = cehost::IssueHandle(std::move(object));
  return TRUE;
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                             DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<KernelObject>> objects;
  objects.reserve(nCount);
  for (DWORD i = 0; i < nCount; ++i) {
    std::shared_ptr<KernelObject> o = cehost::LookupHandle(lpHandles[i]);
    if (!o || !o->IsWaitable()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objects.push_back(std::move(o));
  }
  const DWORD tid = GetCurrentThreadId();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
  cehost::Waiter waiter;
  std::unique_lock<std::mutex> lock(cehost::WaitLock());
  for (;;) {
    if (bWaitAll) {
      const bool all = std::all_of(objects.begin(), objects.end(),
                                   [tid](const auto& o) { return o->IsSignaledLocked(tid); });
      if (all) {
        for (auto& o : objects) o->AcquireLocked(tid);
        return WAIT_OBJECT_0;
      }
    } else {
      for (DWORD i = 0; i < nCount; ++i) {
        if (objects[i]->IsSignaledLocked(tid)) {
          objects[i]->AcquireLocked(tid);
          return WAIT_OBJECT_0 + i;
        }
      }
    }
    if (waiter.pulsed) {
      for (DWORD i = 0; i < nCount; ++i)
        if (objects[i].get() == waiter.pulsed) return WAIT_OBJECT_0 + i;
    }
    if (dwMilliseconds == 0 ||
        (dwMilliseconds != INFINITE && std::chrono::steady_clock::now() >= deadline))
      return WAIT_TIMEOUT;
    for (auto& o : objects) o->waiters_.push_back(&waiter);
    if (dwMilliseconds == INFINITE)
      waiter.cv.wait(lock);
    else
      waiter.cv.wait_until(lock, deadline);
    for (auto& o : objects) {
      auto& w = o->waiters_;
      w.erase(std::find(w.begin(), w.end(), &waiter));
    }
  }
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
  if (lpName) {
    // Named objects are shared between processes on the device; nothing here needs them.
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  return cehost::IssueHandle(std::make_shared<cehost::EventObject>(bManualReset, bInitialState));
}

BOOL SetEvent(HANDLE hEvent) {
  auto e = Typed<cehost::EventObject>(hEvent);
  if (!e) return FALSE;
  e->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  auto e = Typed<cehost::EventObject>(hEvent);
  if (!e) return FALSE;
  e->Reset();
  return TRUE;
}

BOOL PulseEvent(HANDLE hEvent) {
  auto e = Typed<cehost::EventObject>(hEvent);
  if (!e) return FALSE;
  e->Pulse();
  return TRUE;
}

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG lInitialCount, LONG lMaximumCount,
                        LPCWSTR lpName) {
  if (lpName) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (lMaximumCount <= 0 || lInitialCount < 0 || lInitialCount > lMaximumCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return cehost::IssueHandle(std::make_shared<cehost::SemaphoreObject>(lInitialCount, lMaximumCount));
}

BOOL ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LPLONG lpPreviousCount) {
  auto s = Typed<cehost::SemaphoreObject>(hSemaphore);
  return s ? s->Release(lReleaseCount, lpPreviousCount) : FALSE;
}

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName) {
  if (lpName) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  return cehost::IssueHandle(
      std::make_shared<cehost::MutexObject>(bInitialOwner ? GetCurrentThreadId() : 0));
}

BOOL ReleaseMutex(HANDLE hMutex) {
  auto m = Typed<cehost::MutexObject>(hMutex);
  return m ? m->Release() : FALSE;
}

}  // extern "C"
