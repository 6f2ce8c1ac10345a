// CCaptureSink: a renderer for tests that keeps everything that reaches it: each sample's
// bytes, times, media times, flags and attached media type, and the stream events (flushes,
// new segments, end of stream) in the order they came.
//
// It accepts every media type unless given one to require (a partial type matches as in
// CMediaType::MatchesPartial). An optional hook sees each sample before it is kept; its
// failure is returned upstream (the sample is still recorded). Without a clock samples are
// kept as they arrive; with one, at their time (CBaseRenderer).
//
// Threads: the streaming thread records under m_recordLock; the accessors return copies and
// may be called from any thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "renderer.h"

namespace cehost {

struct CapturedSample {
  std::vector<BYTE> bytes;
  HRESULT timeResult = VFW_E_SAMPLE_TIME_NOT_SET;  // what GetTime answered
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  bool hasMediaTime = false;
  LONGLONG mediaStart = 0;
  LONGLONG mediaStop = 0;
  bool syncPoint = false;
  bool preroll = false;
  bool discontinuity = false;
  std::optional<CMediaType> type;  // the type attached to the sample
};

struct CaptureEvent {
  enum Kind { kSample, kBeginFlush, kEndFlush, kNewSegment, kEndOfStream };
  Kind kind;
  size_t sample = 0;  // kSample: index into Samples()
  REFERENCE_TIME start = 0, stop = 0;  // kNewSegment
  double rate = 0;                     // kNewSegment
};

class CCaptureSink : public CBaseRenderer {
 public:
  using SampleHook = std::function<HRESULT(IMediaSample*)>;

  // A new sink with one reference; accept: the type to require, or null for any.
  static HRESULT Create(const CMediaType* accept, CCaptureSink** sink);

  void SetSampleHook(SampleHook hook);

  std::vector<CapturedSample> Samples() const;
  std::vector<CaptureEvent> Events() const;
  // All sample bytes, in order.
  std::vector<BYTE> Bytes() const;
  // The type the input pin is connected with.
  CMediaType ConnectionType();
  // Waits for the count of end-of-stream events to reach n; false on timeout.
  bool WaitForEndOfStream(DWORD timeoutMs, size_t n = 1) const;

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT DoRenderSample(IMediaSample* pSample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

 private:
  CCaptureSink(const CMediaType* accept, HRESULT* phr);
  void Record(CaptureEvent event);

  const std::optional<CMediaType> m_accept;
  mutable std::mutex m_recordLock;
  mutable std::condition_variable m_recorded;
  std::vector<CapturedSample> m_samples;  // guarded by m_recordLock
  std::vector<CaptureEvent> m_events;     // guarded by m_recordLock
  size_t m_endOfStreams = 0;              // guarded by m_recordLock
  SampleHook m_hook;                      // guarded by m_recordLock (copied out to call)
};

}  // namespace cehost
