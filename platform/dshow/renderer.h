// CBaseRenderer: a filter with one input pin that consumes samples at their time on the
// reference clock (or at once without a clock), on the upstream streaming thread.
//
// A derived renderer supplies CheckMediaType and DoRenderSample. For each sample, Receive
// schedules it (GetSampleTimes: no time or no clock means now; otherwise ShouldDrawSampleNow
// decides: S_OK now, S_FALSE at its start time, a failure drops it), waits for its time and
// draws it (Render: OnRenderStart, DoRenderSample, OnRenderEnd). While the filter is paused
// the first sample is presented with OnReceiveFirstSample and completes the pause (the
// state-complete event, which GetState waits on); it is drawn again at its time once the
// filter runs. After end of stream the renderer sends EC_COMPLETE when the last sample has
// been drawn, and with a clock not before that sample's stop time.
//
// Threads: Receive and EndOfStream run on the upstream streaming thread, which waits for
// the clock without holding a lock and renders holding both locks; state changes and
// flushes come from the application's thread. m_InterfaceLock is the filter lock;
// m_RendererLock (the sample lock) guards the pending sample, the end-of-stream state, the
// streaming flag, the advise and the statistics. While inside the renderer the streaming
// thread runs at the registry's renderer priority (thread_priority.h).
#pragma once

#include <atomic>

#include "amevent.h"
#include "basefilter.h"
#include "mtype.h"

class CRendererInputPin;

// How far a renderer has got: the stop time (stream time, as stamped on the samples) of the
// last sample it drew since the stream last started, flushed or began a new segment.
DEFINE_GUID(IID_IRenderedTime, 0x6B1C2F4E, 0x93A7, 0x4D0B, 0x8E, 0x51, 0x2C, 0x7F, 0x0A, 0x64, 0xD3, 0x19);
struct IRenderedTime : public IUnknown {
  // S_OK with the time; S_FALSE (and 0) when nothing was drawn yet.
  virtual HRESULT STDMETHODCALLTYPE GetRenderedTime(REFERENCE_TIME* pStreamTime) = 0;
  CEHOST_INTERFACE_DTOR(IRenderedTime)
};

class CBaseRenderer : public CBaseFilter, public IAMFilterMiscFlags, public IRenderedTime {
 public:
  CBaseRenderer(REFCLSID RenderClass, LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
  ~CBaseRenderer() override;

  DECLARE_IUNKNOWN
  // Adds IAMFilterMiscFlags and IRenderedTime; overrides call the base.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Optional to override; overrides call the base. Pause from stopped does not complete
  // until a sample or end of stream arrives (S_FALSE; GetState reports
  // VFW_S_STATE_INTERMEDIATE meanwhile) unless the input is unconnected. Run starts
  // streaming; Stop releases a waiting streaming thread and the pending sample.
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME StartTime) override;
  STDMETHODIMP GetState(DWORD dwMSecs, FILTER_STATE* State) override;
  STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;

  ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }
  STDMETHODIMP GetRenderedTime(REFERENCE_TIME* pStreamTime) override;

  int GetPinCount() override { return 1; }
  // Creates the input pin "In" on first use. Optional to override (a renderer with its own
  // pin class); the filter owns the pin (m_pInputPin).
  CBasePin* GetPin(int n) override;

  // Required: S_OK for an acceptable input type.
  virtual HRESULT CheckMediaType(const CMediaType*) = 0;
  // Required: consumes the sample (drawing, writing, counting).
  virtual HRESULT DoRenderSample(IMediaSample* pMediaSample) = 0;

  // Optional hooks; the base does nothing (and succeeds).
  virtual HRESULT SetMediaType(const CMediaType* pmt);
  virtual HRESULT CompleteConnect(IPin* pReceivePin);
  virtual HRESULT BreakConnect();
  virtual HRESULT Active();
  // The base releases the pending sample.
  virtual HRESULT Inactive();
  virtual void OnReceiveFirstSample(IMediaSample*) {}
  virtual void OnRenderStart(IMediaSample*) {}
  virtual void OnRenderEnd(IMediaSample*) {}
  virtual HRESULT OnStartStreaming() { return S_OK; }
  virtual HRESULT OnStopStreaming() { return S_OK; }
  virtual void OnWaitStart() {}
  virtual void OnWaitEnd() {}

  // Optional: how to schedule a sample that has times, with a clock. S_OK: draw now;
  // S_FALSE: at its start time (the base); a failure: drop it.
  virtual HRESULT ShouldDrawSampleNow(IMediaSample* pMediaSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime);
  // Optional to override (call the base): releases the pending sample (sample lock).
  virtual HRESULT ClearPendingSample();
  // Draws a sample now: OnRenderStart, DoRenderSample, OnRenderEnd. Returns DoRenderSample's
  // result; S_FALSE for a null sample.
  virtual HRESULT Render(IMediaSample* pMediaSample);

  // Streaming calls, reached through the input pin. Optional to override; overrides call the
  // base. EndOfStream and NewSegment run with both locks held.
  virtual HRESULT Receive(IMediaSample* pMediaSample);
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

  // The state-complete event: Ready sets it (GetState no longer waits), NotReady clears it.
  void Ready() { m_evComplete.Set(); }
  void NotReady() { m_evComplete.Reset(); }
  BOOL CheckReady() { return m_evComplete.Check(); }

  BOOL IsEndOfStream();
  BOOL IsStreaming();
  BOOL HaveCurrentSample();
  // The pending sample with a reference added, or null.
  IMediaSample* GetCurrentSample();

  // Waits (on the streaming thread that brought the end of stream, without locks) for the
  // end-of-stream time that EndOfStream set up, then sends EC_COMPLETE; a flush, a stop or
  // the completion itself ends the wait. Called by the pin when m_bEOSWaiting is set.
  HRESULT WaitForEndOfStream();

  CCritSec* InterfaceLock() { return &m_InterfaceLock; }
  CCritSec* RendererLock() { return &m_RendererLock; }

 protected:
  HRESULT PrepareReceive(IMediaSample* pMediaSample);
  HRESULT WaitForRenderTime();
  // Sets up the pending sample's advise (sample lock); FALSE: drop the sample.
  BOOL ScheduleSample(IMediaSample* pMediaSample);
  // S_OK: draw now; S_FALSE: at its time; failure: drop.
  HRESULT GetSampleTimes(IMediaSample* pMediaSample, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime);
  HRESULT CancelNotification();
  HRESULT StartStreaming();
  HRESULT StopStreaming();
  HRESULT CompleteStateChange(FILTER_STATE OldState);
  // Sends EC_COMPLETE now or sets up its time (sample lock held).
  HRESULT SendEndOfStream();
  HRESULT NotifyEndOfStream();
  HRESULT ResetEndOfStream();
  // FALSE releases (and keeps out) streaming threads waiting in the renderer.
  void SourceThreadCanWait(BOOL bCanWait);
  // Waits until no streaming thread is inside the renderer (interface lock held).
  void WaitForReceiveToComplete();

  CRendererInputPin* m_pInputPin = nullptr;  // owned
  CCritSec m_InterfaceLock;
  CCritSec m_RendererLock;

  CAMEvent m_RenderEvent;     // auto-reset: the clock says it is time
  CAMEvent m_ThreadSignal;    // manual-reset: set = streaming threads must not wait
  CAMEvent m_evComplete;      // manual-reset: the last state change has completed

  // Guarded by m_RendererLock.
  BOOL m_bStreaming = FALSE;
  DWORD_PTR m_dwAdvise = 0;
  IMediaSample* m_pMediaSample = nullptr;  // the pending sample, referenced
  BOOL m_bEOS = FALSE;                      // end of stream received
  BOOL m_bEOSDelivered = FALSE;             // EC_COMPLETE sent
  BOOL m_bEOSWaiting = FALSE;               // EndOfStream's thread waits for m_SignalTime
  REFERENCE_TIME m_SignalTime = 0;          // stop time of the latest sample
  REFERENCE_TIME m_rtRendered = 0;          // stop time of the last sample drawn
  BOOL m_bRendered = FALSE;                 // m_rtRendered is valid
  int m_cFramesDropped = 0;
  int m_cFramesDrawn = 0;

  // A streaming thread is inside the renderer outside the interface lock.
  std::atomic<bool> m_bInReceive{false};
  // The renderer thread priority for this run (read at Pause from stopped).
  std::atomic<int> m_nRenderPriority{249};

  friend class CRendererInputPin;
};
