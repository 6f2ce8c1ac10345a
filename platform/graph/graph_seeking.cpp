// FilterGraph's IMediaSeeking: forwarded to the seekable output pins of its sources.
#include <algorithm>

#include "filter_graph.h"
#include "renderer.h"

namespace cehost {
namespace {

class SeekingList {
 public:
  explicit SeekingList(std::vector<IMediaSeeking*> list) : list_(std::move(list)) {}
  ~SeekingList() {
    for (IMediaSeeking* s : list_) s->Release();
  }
  SeekingList(const SeekingList&) = delete;
  SeekingList& operator=(const SeekingList&) = delete;
  bool empty() const { return list_.empty(); }
  IMediaSeeking* first() const { return list_.front(); }
  const std::vector<IMediaSeeking*>& all() const { return list_; }

 private:
  std::vector<IMediaSeeking*> list_;
};

}  // namespace

std::vector<IMediaSeeking*> FilterGraph::SeekingLocked() const {
  std::vector<IMediaSeeking*> result;
  for (const Entry& e : filters_) {
    IEnumPins* pins = nullptr;
    if (FAILED(e.filter->EnumPins(&pins))) continue;
    IPin* pin = nullptr;
    ULONG fetched = 0;
    while (pins->Next(1, &pin, &fetched) == S_OK && fetched == 1) {
      PIN_DIRECTION dir = PINDIR_INPUT;
      pin->QueryDirection(&dir);
      IMediaSeeking* seeking = nullptr;
      if (dir == PINDIR_OUTPUT &&
          SUCCEEDED(pin->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking))))
        result.push_back(seeking);
      pin->Release();
    }
    pins->Release();
  }
  return result;
}

#define FORWARD_TO_SOURCE(call)                        \
  std::lock_guard<std::mutex> guard(lock_);            \
  SeekingList seeking(SeekingLocked());                \
  if (seeking.empty()) return E_NOTIMPL;               \
  return seeking.first()->call

HRESULT STDMETHODCALLTYPE FilterGraph::GetCapabilities(DWORD* p) { FORWARD_TO_SOURCE(GetCapabilities(p)); }
HRESULT STDMETHODCALLTYPE FilterGraph::CheckCapabilities(DWORD* p) { FORWARD_TO_SOURCE(CheckCapabilities(p)); }
HRESULT STDMETHODCALLTYPE FilterGraph::IsFormatSupported(const GUID* p) { FORWARD_TO_SOURCE(IsFormatSupported(p)); }
HRESULT STDMETHODCALLTYPE FilterGraph::QueryPreferredFormat(GUID* p) { FORWARD_TO_SOURCE(QueryPreferredFormat(p)); }
HRESULT STDMETHODCALLTYPE FilterGraph::GetTimeFormat(GUID* p) { FORWARD_TO_SOURCE(GetTimeFormat(p)); }
HRESULT STDMETHODCALLTYPE FilterGraph::IsUsingTimeFormat(const GUID* p) { FORWARD_TO_SOURCE(IsUsingTimeFormat(p)); }
HRESULT STDMETHODCALLTYPE FilterGraph::SetTimeFormat(const GUID* p) { FORWARD_TO_SOURCE(SetTimeFormat(p)); }
HRESULT STDMETHODCALLTYPE FilterGraph::GetDuration(LONGLONG* p) { FORWARD_TO_SOURCE(GetDuration(p)); }
HRESULT STDMETHODCALLTYPE FilterGraph::GetStopPosition(LONGLONG* p) { FORWARD_TO_SOURCE(GetStopPosition(p)); }
HRESULT STDMETHODCALLTYPE FilterGraph::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                                         LONGLONG Source, const GUID* pSourceFormat) {
  FORWARD_TO_SOURCE(ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat));
}
HRESULT STDMETHODCALLTYPE FilterGraph::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
  FORWARD_TO_SOURCE(GetPositions(pCurrent, pStop));
}
HRESULT STDMETHODCALLTYPE FilterGraph::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
  FORWARD_TO_SOURCE(GetAvailable(pEarliest, pLatest));
}
HRESULT STDMETHODCALLTYPE FilterGraph::GetRate(double* p) { FORWARD_TO_SOURCE(GetRate(p)); }
HRESULT STDMETHODCALLTYPE FilterGraph::GetPreroll(LONGLONG* p) { FORWARD_TO_SOURCE(GetPreroll(p)); }

#undef FORWARD_TO_SOURCE

HRESULT STDMETHODCALLTYPE FilterGraph::SetRate(double dRate) {
  std::lock_guard<std::mutex> guard(lock_);
  SeekingList seeking(SeekingLocked());
  if (seeking.empty()) return E_NOTIMPL;
  HRESULT result = S_OK;
  for (IMediaSeeking* s : seeking.all()) {
    const HRESULT hr = s->SetRate(dRate);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                                    DWORD dwStopFlags) {
  std::lock_guard<std::mutex> guard(lock_);
  SeekingList seeking(SeekingLocked());
  if (seeking.empty()) return E_NOTIMPL;
  // Stream time starts again at 0 after a seek: a running graph is paused across it and run
  // again with a new start time.
  const FILTER_STATE was = state_;
  if (was == State_Running) {
    const HRESULT hr = PauseLocked();
    if (FAILED(hr)) return hr;
  }
  HRESULT result = S_OK;
  for (IMediaSeeking* s : seeking.all()) {
    LONGLONG current = pCurrent ? *pCurrent : 0, stop = pStop ? *pStop : 0;
    const HRESULT hr = s->SetPositions(pCurrent ? &current : nullptr, dwCurrentFlags, pStop ? &stop : nullptr, dwStopFlags);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  if (was != State_Stopped) {
    paused_stream_time_ = 0;
    events_.Restart(RenderersLocked());
  }
  if (was == State_Running) {
    const HRESULT hr = RunLocked();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

HRESULT STDMETHODCALLTYPE FilterGraph::GetCurrentPosition(LONGLONG* pCurrent) {
  if (!pCurrent) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  SeekingList seeking(SeekingLocked());
  if (seeking.empty()) return E_NOTIMPL;
  LONGLONG start = 0;
  double rate = 1.0;
  seeking.first()->GetPositions(&start, nullptr);
  seeking.first()->GetRate(&rate);
  // The renderer that is furthest behind tells how far playback got.
  bool any = false;
  REFERENCE_TIME rendered = 0;
  for (IBaseFilter* f : RenderersLocked()) {
    IRenderedTime* progress = nullptr;
    if (FAILED(f->QueryInterface(IID_IRenderedTime, reinterpret_cast<void**>(&progress)))) continue;
    REFERENCE_TIME t = 0;
    if (progress->GetRenderedTime(&t) == S_OK) {
      rendered = any ? std::min(rendered, t) : t;
      any = true;
    }
    progress->Release();
  }
  *pCurrent = start + static_cast<LONGLONG>(static_cast<double>(rendered) * rate);
  return S_OK;
}

}  // namespace cehost
