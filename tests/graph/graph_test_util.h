// Helpers for the graph scenarios: references released at scope end, PCM types and test
// signals, a clock the test moves by hand, and waiting for a condition.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "filter_graph.h"
#include "mmreg.h"
#include "mtype.h"
#include "refclock.h"

namespace cehost::test {

// Holds one reference.
template <typename T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p) : p_(p) {}
  ~Ref() { reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  T** out() {
    reset();
    return &p_;
  }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

inline WAVEFORMATEX PcmFormat(DWORD rate, WORD channels, WORD bits = 16) {
  const WORD block = static_cast<WORD>(channels * bits / 8);
  return WAVEFORMATEX{WAVE_FORMAT_PCM, channels, rate, rate * block, block, bits, 0};
}

inline CMediaType PcmType(DWORD rate, WORD channels, WORD bits = 16) {
  CMediaType mt(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  WAVEFORMATEX wfx = PcmFormat(rate, channels, bits);
  mt.SetSampleSize(wfx.nBlockAlign);
  mt.SetFormat(reinterpret_cast<BYTE*>(&wfx), sizeof(wfx));
  return mt;
}

// Bytes 0, 1, 2, ... (mod 251, so that pieces and offsets show in the data).
inline std::vector<BYTE> Ramp(size_t n, size_t from = 0) {
  std::vector<BYTE> bytes(n);
  for (size_t i = 0; i < n; i++) bytes[i] = static_cast<BYTE>((from + i) % 251);
  return bytes;
}

// A reference clock whose time the test sets.
class ManualClock : public CBaseReferenceClock {
 public:
  ManualClock() : CBaseReferenceClock(nullptr, nullptr, nullptr) {}
  REFERENCE_TIME GetPrivateTime() override { return now_; }
  void Set(REFERENCE_TIME t) {
    now_ = t;
    TriggerThread();
  }
  void Advance(REFERENCE_TIME by) { Set(now_ + by); }
  // A new clock with one reference.
  static ManualClock* Create() {
    auto* c = new ManualClock();
    c->NonDelegatingAddRef();
    return c;
  }

 private:
  std::atomic<REFERENCE_TIME> now_{1000000000};
};

// Polls until the condition holds; false after the timeout.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The events queued so far (without waiting).
inline std::vector<LONG> DrainEvents(FilterGraph* graph) {
  std::vector<LONG> codes;
  LONG code;
  LONG_PTR p1, p2;
  while (graph->GetEvent(&code, &p1, &p2, 0) == S_OK) codes.push_back(code);
  return codes;
}

}  // namespace cehost::test
