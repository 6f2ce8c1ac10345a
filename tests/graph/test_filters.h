// Filters written on the base classes for the graph scenarios.
//
// CGainTransform: a CTransformFilter over 16-bit PCM that negates every sample (so the
// output differs from the input in a checkable way); for chosen sample numbers its
// Transform answers S_FALSE (drop) or a failure.
//
// CToneSource / its stream: a CSource whose single pin (CSourceStream + CSourceSeeking)
// produces a given duration of 16-bit mono PCM at 8 kHz, 100 ms a sample, valued by frame
// number, and counts the hooks the base classes call.
//
// CTestRenderer: a CBaseVideoRenderer that records what it draws, with switches for drawing
// late frames and for completing a pause without a sample.
//
// Threads: counters are atomic; recorded lists are guarded by a mutex.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "streams.h"

namespace cehost::test {

DEFINE_GUID(CLSID_GainTransform, 0x0C5B7A10, 0x1E2F, 0x4A3B, 0x8C, 0x4D, 0x5E, 0x6F, 0x70, 0x81, 0x92, 0x01);
DEFINE_GUID(CLSID_ToneSource, 0x0C5B7A10, 0x1E2F, 0x4A3B, 0x8C, 0x4D, 0x5E, 0x6F, 0x70, 0x81, 0x92, 0x02);
DEFINE_GUID(CLSID_TestRenderer, 0x0C5B7A10, 0x1E2F, 0x4A3B, 0x8C, 0x4D, 0x5E, 0x6F, 0x70, 0x81, 0x92, 0x03);

class CGainTransform : public CTransformFilter {
 public:
  static CGainTransform* Create();  // one reference

  // Transform answers hr for the n-th sample it sees (counting from 0).
  void AnswerFor(int n, HRESULT hr) {
    std::lock_guard<std::mutex> guard(lock_);
    answers_[n] = hr;
  }
  int Transformed() const { return transformed_; }
  int Started() const { return started_; }
  int Stopped() const { return stopped_; }

  HRESULT CheckInputType(const CMediaType* mtIn) override;
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
  HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override;
  HRESULT StartStreaming() override;
  HRESULT StopStreaming() override;

 private:
  CGainTransform();
  std::mutex lock_;
  std::map<int, HRESULT> answers_;  // guarded by lock_
  std::atomic<int> seen_{0}, transformed_{0}, started_{0}, stopped_{0};
};

class CToneSource : public CSource {
 public:
  static constexpr DWORD kRate = 8000;
  static constexpr LONG kFramesPerSample = 800;  // 100 ms

  static CToneSource* Create(REFERENCE_TIME duration);  // one reference

  struct Counts {
    int threadCreates, threadDestroys, startPlays, changeStarts, changeStops, changeRates;
  };
  Counts GetCounts() const;
  bool WorkerRunning() const;
  // The worker's priority when it last filled a buffer (0..255; -1 before that).
  int WorkerPriority() const;

 private:
  class CToneStream;
  explicit CToneSource(REFERENCE_TIME duration);
  CToneStream* m_stream;
};

class CTestRenderer : public CBaseVideoRenderer {
 public:
  static CTestRenderer* Create();  // one reference

  struct Drawn {
    REFERENCE_TIME start;
    REFERENCE_TIME clockTime;  // stream time when it was drawn (0 without a clock)
  };
  std::vector<Drawn> DrawnSamples() const;
  int FirstSamples() const { return firstSamples_; }
  // The drawing thread's priority when it last drew (-1 before that).
  int DrawingPriority() const { return drawingPriority_; }

  // Draw late frames anyway (as a renderer that never drops would).
  void SetDrawLate(bool on) { drawLate_ = on; }
  // Complete a pause from stopped at once, without waiting for a sample.
  void SetReadyWithoutSample(bool on) { readyWithoutSample_ = on; }

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT DoRenderSample(IMediaSample* pSample) override;
  void OnReceiveFirstSample(IMediaSample* pSample) override;
  HRESULT ShouldDrawSampleNow(IMediaSample* pSample, REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd) override;
  STDMETHODIMP Pause() override;

 private:
  CTestRenderer();
  mutable std::mutex lock_;
  std::vector<Drawn> drawn_;  // guarded by lock_
  std::atomic<int> firstSamples_{0};
  std::atomic<int> drawingPriority_{-1};
  std::atomic<bool> drawLate_{false}, readyWithoutSample_{false};
};

}  // namespace cehost::test
