// Kernel objects behind HANDLEs: the handle table, and the base class that other parts of the
// host layer (the device manager's open devices, for example) derive from so that their
// handles are issued, validated, waited on and closed like every other handle.
//
// Threads: every function may be called from any thread. The handle table has its own lock;
// the signal state of every waitable object is guarded by the one process-wide wait lock
// (WaitLock()), which is what makes WaitForMultipleObjects atomic across objects.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "winbase.h"

namespace cehost {

struct Waiter;

class CEHOST_EXPORT KernelObject : public std::enable_shared_from_this<KernelObject> {
 public:
  virtual ~KernelObject();

  // Waitable objects override these three; they run with WaitLock() held.
  // Optional; the default is "not waitable", and a wait on such a handle fails with
  // ERROR_INVALID_HANDLE.
  virtual bool IsWaitable() const { return false; }
  virtual bool IsSignaledLocked(DWORD /*thread_id*/) const { return false; }
  // Takes the signal for the waiting thread (resets an auto-reset event, takes a semaphore
  // count, takes mutex ownership). Called only after IsSignaledLocked returned true.
  virtual void AcquireLocked(DWORD /*thread_id*/) {}

  // Called when a handle to the object is closed (one call per handle, before the handle
  // leaves the table). Optional; the default does nothing. Returns FALSE with a last error
  // to make CloseHandle fail (the handle is removed all the same).
  virtual BOOL OnHandleClosed() { return TRUE; }

  // Wakes the threads waiting on this object so they look at its state again. Call with
  // WaitLock() held, after changing the state.
  void WakeWaitersLocked();

  // Waiters registered on the object; guarded by WaitLock().
  std::vector<Waiter*> waiters_;
};

// The process-wide lock of every waitable object's state.
CEHOST_EXPORT std::mutex& WaitLock();

// Issues a new handle for the object (never a value issued before in this process).
CEHOST_EXPORT HANDLE IssueHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null (with ERROR_INVALID_HANDLE as the last error) when the
// handle is not a live handle of the wanted type.
CEHOST_EXPORT std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  std::shared_ptr<T> typed = std::dynamic_pointer_cast<T>(LookupHandle(handle));
  if (!typed) SetLastError(ERROR_INVALID_HANDLE);
  return typed;
}

// Number of live handles, for leak checks in tests.
CEHOST_EXPORT size_t LiveHandleCountForTesting();

// Thread objects: the calling thread's own object (created on first use for threads the host
// did not start) and its recorded 0..255 priority.
class ThreadObject;
CEHOST_EXPORT std::shared_ptr<ThreadObject> CurrentThreadObject();

}  // namespace cehost
