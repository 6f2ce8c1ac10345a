// EventQueue: the graph's events on their way to the application, and the completion of a
// run.
//
// Filters' events (IMediaEventSink::Notify) are queued for GetEvent, except each renderer's
// own EC_COMPLETE: the queue counts those, and once every renderer of the run has completed
// it queues one EC_COMPLETE (param1 S_OK, or the first failure a renderer reported; param2
// 0). A run is complete with that EC_COMPLETE, or with EC_ERRORABORT or EC_USERABORT, which
// WaitForCompletion waits for.
//
// Threads: Notify comes from streaming threads, everything else from the application's
// thread; all state is guarded by lock_, which is never held while calling out.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <vector>

#include "strmif.h"

namespace cehost {

class CEHOST_EXPORT EventQueue {
 public:
  // Events kept for the application; older ones are dropped beyond this.
  static constexpr size_t kMaxQueued = 1024;

  // Starts counting completion afresh for these renderers (borrowed pointers, compared only).
  void Restart(const std::vector<IBaseFilter*>& renderers);
  // The graph is running: with no renderer at all the run is complete at once.
  void OnRun();
  // Stops counting: nothing is running any more.
  void Disarm();

  void Notify(LONG code, LONG_PTR param1, LONG_PTR param2);

  // The oldest queued event; false when none arrives within the timeout.
  bool Get(LONG* code, LONG_PTR* param1, LONG_PTR* param2, DWORD timeoutMs);
  // The event that completed the run; false when the run does not complete within the
  // timeout.
  bool WaitForCompletion(DWORD timeoutMs, LONG* code);

 private:
  struct Event {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
  };
  void PostLocked(LONG code, LONG_PTR param1, LONG_PTR param2);
  void CompleteLocked(LONG code);

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Event> events_;
  std::set<LONG_PTR> pending_;   // renderers that have not completed
  bool armed_ = false;           // a run is being counted
  bool completed_ = false;
  LONG completion_code_ = 0;
  HRESULT completion_status_ = S_OK;
};

}  // namespace cehost
