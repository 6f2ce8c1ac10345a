// FilterGraph: the host's filter graph. It holds filters, connects their pins, moves them
// through the states together, hands their events to the application and forwards seeking
// to the source.
//
// Use (application thread):
//
//   cehost::FilterGraph* graph = nullptr;
//   cehost::FilterGraph::Create(&graph);
//   graph->AddFilter(source, u"Source");               // or AddFilterByClsid
//   graph->AddFilter(sink, u"Sink");
//   graph->ConnectFilters(source, sink);               // or ConnectDirect(pinOut, pinIn, mt)
//   graph->UseSystemClock();                           // real time; default: as fast as the data allows
//   graph->Run();
//   LONG code; graph->WaitForCompletion(INFINITE, &code);
//   graph->Stop();
//   graph->Release();                                  // disconnects and releases the filters
//
// Connection: the output pin proposes its media types (then the input pin's), the input pin
// checks them, then the pins agree an allocator (CBasePin / CBaseOutputPin).
//
// State changes go to the filters downstream first (renderers before sources). Run from
// stopped pauses first; with a clock the run starts when every filter has completed its
// pause (at most kCueTimeoutMs), stream time 0 being a few milliseconds after that.
//
// Completion: see EventQueue. Renderers are the filters that say so (IAMFilterMiscFlags) and
// those with a connected input and no output pin.
//
// Seeking: the graph's IMediaSeeking (QueryInterface) forwards to the seekable output pins
// of its source filters; a seek while running pauses, seeks and runs again (stream time
// restarts at 0). GetCurrentPosition is the seek start plus what the renderers have drawn.
//
// Threads: the application's thread calls everything except IMediaEventSink::Notify, which
// filters call from streaming threads. The filter list and state are guarded by lock_ (held
// by the application's thread across filter calls, never taken by Notify); the events have
// their own lock (EventQueue).
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "event_queue.h"
#include "strmif.h"

namespace cehost {

class CEHOST_EXPORT FilterGraph final : public IFilterGraph, public IMediaEventSink, public IMediaSeeking {
 public:
  static constexpr DWORD kCueTimeoutMs = 5000;
  static constexpr REFERENCE_TIME kStartLatency = 100000;  // 10 ms

  // A new, empty graph without a clock, with one reference.
  static HRESULT Create(FilterGraph** graph);

  // IUnknown: IFilterGraph, IMediaEventSink, IMediaSeeking.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IFilterGraph. AddFilter keeps a reference; a name already in use gets a number appended
  // (VFW_S_DUPLICATE_NAME). Filters are added, removed and connected only while stopped
  // (VFW_E_NOT_STOPPED); pins of filters outside the graph give VFW_E_NOT_IN_GRAPH.
  HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
  HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* pFilter) override;
  HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** ppEnum) override;
  HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
  HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
  // Connects the pin's connection again with the same media type.
  HRESULT STDMETHODCALLTYPE Reconnect(IPin* ppin) override;
  // Breaks one side of a connection (call it for both pins).
  HRESULT STDMETHODCALLTYPE Disconnect(IPin* ppin) override;
  HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override;

  // IMediaEventSink
  HRESULT STDMETHODCALLTYPE Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

  // IMediaSeeking, forwarded to the sources (E_NOTIMPL without a seekable source).
  HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* pCapabilities) override;
  HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* pCapabilities) override;
  HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* pFormat) override;
  HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* pFormat) override;
  HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* pFormat) override;
  HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* pFormat) override;
  HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* pFormat) override;
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* pDuration) override;
  HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* pStop) override;
  HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* pCurrent) override;
  HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                              const GUID* pSourceFormat) override;
  HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                         DWORD dwStopFlags) override;
  HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
  HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
  HRESULT STDMETHODCALLTYPE SetRate(double dRate) override;
  HRESULT STDMETHODCALLTYPE GetRate(double* pdRate) override;
  HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* pllPreroll) override;

  // ---- Host API ----
  // Creates a filter through CoCreateInstance and adds it; *ppFilter (optional) receives a
  // reference.
  HRESULT AddFilterByClsid(REFCLSID clsid, LPCWSTR pName, IBaseFilter** ppFilter);
  // Connects the first unconnected output pin of upstream to the first unconnected input pin
  // of downstream (VFW_E_NOT_FOUND when either has none). pmt: a full or partial type, or null.
  HRESULT ConnectFilters(IBaseFilter* upstream, IBaseFilter* downstream, const AM_MEDIA_TYPE* pmt = nullptr);
  // The clock of later runs (referenced): null runs without a clock, as fast as the data
  // allows. Only while stopped.
  HRESULT SetSyncSource(IReferenceClock* pClock);
  // SetSyncSource with a new system clock (the monotonic system time).
  HRESULT UseSystemClock();

  HRESULT Run();
  HRESULT Pause();
  HRESULT Stop();
  // The graph's state; VFW_S_STATE_INTERMEDIATE while a filter has not completed its last
  // state change within the timeout.
  HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state);

  // The oldest event; E_ABORT when none arrives within the timeout.
  HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, DWORD timeoutMs);
  // Waits for the run to complete (EC_COMPLETE, EC_ERRORABORT or EC_USERABORT in *code);
  // E_ABORT on timeout, VFW_E_WRONG_STATE while stopped.
  HRESULT WaitForCompletion(DWORD timeoutMs, LONG* code);

 private:
  struct Entry {
    IBaseFilter* filter;  // referenced
    std::u16string name;
  };

  FilterGraph() = default;
  ~FilterGraph();

  bool ContainsLocked(IBaseFilter* filter) const;
  bool PinInGraphLocked(IPin* pin) const;
  // The filters, downstream before upstream.
  std::vector<IBaseFilter*> DownstreamFirstLocked() const;
  std::vector<IBaseFilter*> RenderersLocked() const;
  // The seekable output pins of the graph's filters, each with a reference.
  std::vector<IMediaSeeking*> SeekingLocked() const;
  HRESULT PauseLocked();
  HRESULT StopLocked();
  HRESULT RunLocked();
  REFERENCE_TIME ClockTimeLocked() const;

  std::atomic<LONG> refs_{1};
  mutable std::mutex lock_;
  std::vector<Entry> filters_;                 // guarded by lock_
  IReferenceClock* clock_ = nullptr;           // guarded by lock_, referenced
  FILTER_STATE state_ = State_Stopped;         // guarded by lock_
  REFERENCE_TIME start_time_ = 0;              // guarded by lock_: clock time of stream time 0
  REFERENCE_TIME paused_stream_time_ = 0;      // guarded by lock_: where a paused run resumes
  EventQueue events_;
};

}  // namespace cehost
