#include "event_queue.h"

#include <chrono>

#include "evcode.h"

namespace cehost {
namespace {

template <typename Predicate>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, DWORD timeoutMs, Predicate ready) {
  if (timeoutMs == INFINITE) {
    cv.wait(lock, ready);
    return true;
  }
  return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

}  // namespace

void EventQueue::Restart(const std::vector<IBaseFilter*>& renderers) {
  std::lock_guard<std::mutex> guard(lock_);
  pending_.clear();
  for (IBaseFilter* f : renderers) pending_.insert(reinterpret_cast<LONG_PTR>(f));
  armed_ = true;
  completed_ = false;
  completion_code_ = 0;
  completion_status_ = S_OK;
}

void EventQueue::OnRun() {
  std::lock_guard<std::mutex> guard(lock_);
  if (armed_ && !completed_ && pending_.empty()) {
    PostLocked(EC_COMPLETE, S_OK, 0);
    CompleteLocked(EC_COMPLETE);
  }
}

void EventQueue::Disarm() {
  std::lock_guard<std::mutex> guard(lock_);
  armed_ = false;
  completed_ = false;
  pending_.clear();
}

void EventQueue::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
  std::lock_guard<std::mutex> guard(lock_);
  if (code == EC_COMPLETE) {
    // A renderer's own completion: counted, not passed on. Late or repeated ones (a
    // renderer of an earlier run, one counted already) are ignored.
    if (!armed_ || completed_ || pending_.erase(param2) == 0) return;
    if (FAILED(static_cast<HRESULT>(param1)) && SUCCEEDED(completion_status_))
      completion_status_ = static_cast<HRESULT>(param1);
    if (pending_.empty()) {
      PostLocked(EC_COMPLETE, completion_status_, 0);
      CompleteLocked(EC_COMPLETE);
    }
    return;
  }
  PostLocked(code, param1, param2);
  if ((code == EC_ERRORABORT || code == EC_USERABORT) && armed_ && !completed_) CompleteLocked(code);
}

void EventQueue::PostLocked(LONG code, LONG_PTR param1, LONG_PTR param2) {
  if (events_.size() == kMaxQueued) events_.pop_front();
  events_.push_back(Event{code, param1, param2});
  changed_.notify_all();
}

void EventQueue::CompleteLocked(LONG code) {
  completed_ = true;
  completion_code_ = code;
  changed_.notify_all();
}

bool EventQueue::Get(LONG* code, LONG_PTR* param1, LONG_PTR* param2, DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(lock_);
  if (!WaitFor(changed_, lock, timeoutMs, [&] { return !events_.empty(); })) return false;
  const Event e = events_.front();
  events_.pop_front();
  *code = e.code;
  *param1 = e.param1;
  *param2 = e.param2;
  return true;
}

bool EventQueue::WaitForCompletion(DWORD timeoutMs, LONG* code) {
  std::unique_lock<std::mutex> lock(lock_);
  if (!WaitFor(changed_, lock, timeoutMs, [&] { return completed_; })) return false;
  *code = completion_code_;
  return true;
}

}  // namespace cehost
