#include "filter_graph.h"

#include <chrono>
#include <functional>
#include <new>
#include <set>

#include "mtype.h"
#include "objbase.h"
#include "refclock.h"
#include "renderer.h"

namespace cehost {
namespace {

template <typename T>
void SafeRelease(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

// The filter's pins, each with a reference.
std::vector<IPin*> PinsOf(IBaseFilter* filter) {
  std::vector<IPin*> pins;
  IEnumPins* e = nullptr;
  if (FAILED(filter->EnumPins(&e))) return pins;
  IPin* pin = nullptr;
  ULONG fetched = 0;
  while (e->Next(1, &pin, &fetched) == S_OK && fetched == 1) pins.push_back(pin);
  e->Release();
  return pins;
}

void ReleaseAll(std::vector<IPin*>& pins) {
  for (IPin* p : pins) p->Release();
  pins.clear();
}

PIN_DIRECTION DirectionOf(IPin* pin) {
  PIN_DIRECTION dir = PINDIR_INPUT;
  pin->QueryDirection(&dir);
  return dir;
}

// The filter a pin belongs to (borrowed: the pin's filter outlives the call).
IBaseFilter* FilterOf(IPin* pin) {
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info)) || !info.pFilter) return nullptr;
  info.pFilter->Release();
  return info.pFilter;
}

void DisconnectPins(IBaseFilter* filter) {
  std::vector<IPin*> pins = PinsOf(filter);
  for (IPin* pin : pins) {
    IPin* peer = nullptr;
    if (pin->ConnectedTo(&peer) == S_OK) {
      peer->Disconnect();
      peer->Release();
    }
    pin->Disconnect();
  }
  ReleaseAll(pins);
}

// A snapshot of the graph's filters.
class FilterEnumerator final : public IEnumFilters {
 public:
  explicit FilterEnumerator(std::vector<IBaseFilter*> filters) : filters_(std::move(filters)) {
    for (IBaseFilter* f : filters_) f->AddRef();
  }
  virtual ~FilterEnumerator() {
    for (IBaseFilter* f : filters_) f->Release();
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumFilters) {
      *ppv = static_cast<IEnumFilters*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IBaseFilter** out, ULONG* fetched) override {
    if (!out) return E_POINTER;
    if (!fetched && count > 1) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && position_ < filters_.size()) {
      out[n] = filters_[position_++];
      out[n]->AddRef();
      n++;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    if (filters_.size() - position_ < count) {
      position_ = filters_.size();
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumFilters** out) override {
    if (!out) return E_POINTER;
    auto* copy = new (std::nothrow) FilterEnumerator(filters_);
    if (!copy) return E_OUTOFMEMORY;
    copy->position_ = position_;
    *out = copy;
    return S_OK;
  }

 private:
  std::vector<IBaseFilter*> filters_;
  size_t position_ = 0;
  std::atomic<ULONG> refs_{1};
};

}  // namespace

HRESULT FilterGraph::Create(FilterGraph** graph) {
  if (!graph) return E_POINTER;
  *graph = new (std::nothrow) FilterGraph();
  return *graph ? S_OK : E_OUTOFMEMORY;
}

FilterGraph::~FilterGraph() {
  std::lock_guard<std::mutex> guard(lock_);
  StopLocked();
  for (Entry& e : filters_) DisconnectPins(e.filter);
  for (Entry& e : filters_) {
    e.filter->JoinFilterGraph(nullptr, nullptr);
    e.filter->Release();
  }
  filters_.clear();
  SafeRelease(clock_);
}

HRESULT STDMETHODCALLTYPE FilterGraph::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IFilterGraph)
    *ppv = static_cast<IFilterGraph*>(this);
  else if (riid == IID_IMediaEventSink)
    *ppv = static_cast<IMediaEventSink*>(this);
  else if (riid == IID_IMediaSeeking)
    *ppv = static_cast<IMediaSeeking*>(this);
  else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE FilterGraph::AddRef() { return static_cast<ULONG>(++refs_); }

ULONG STDMETHODCALLTYPE FilterGraph::Release() {
  const LONG n = --refs_;
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

// ---- Filters and connections ----

bool FilterGraph::ContainsLocked(IBaseFilter* filter) const {
  for (const Entry& e : filters_)
    if (e.filter == filter) return true;
  return false;
}

bool FilterGraph::PinInGraphLocked(IPin* pin) const {
  IBaseFilter* filter = FilterOf(pin);
  return filter && ContainsLocked(filter);
}

HRESULT STDMETHODCALLTYPE FilterGraph::AddFilter(IBaseFilter* pFilter, LPCWSTR pName) {
  if (!pFilter) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  if (ContainsLocked(pFilter)) return E_INVALIDARG;
  const std::u16string base = pName && *pName ? pName : u"Filter";
  std::u16string name = base;
  HRESULT result = S_OK;
  for (int n = 1;; n++) {
    bool taken = false;
    for (const Entry& e : filters_) taken = taken || e.name == name;
    if (!taken) break;
    WCHAR suffix[16];
    swprintf(suffix, 16, u" %04d", n);
    name = base + suffix;
    result = VFW_S_DUPLICATE_NAME;
  }
  HRESULT hr = pFilter->JoinFilterGraph(this, name.c_str());
  if (FAILED(hr)) return hr;
  pFilter->AddRef();
  filters_.push_back(Entry{pFilter, name});
  pFilter->SetSyncSource(clock_);
  return result;
}

HRESULT STDMETHODCALLTYPE FilterGraph::RemoveFilter(IBaseFilter* pFilter) {
  if (!pFilter) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  for (auto it = filters_.begin(); it != filters_.end(); ++it) {
    if (it->filter != pFilter) continue;
    DisconnectPins(pFilter);
    pFilter->JoinFilterGraph(nullptr, nullptr);
    pFilter->SetSyncSource(nullptr);
    filters_.erase(it);
    pFilter->Release();
    return S_OK;
  }
  return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE FilterGraph::EnumFilters(IEnumFilters** ppEnum) {
  if (!ppEnum) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<IBaseFilter*> filters;
  for (const Entry& e : filters_) filters.push_back(e.filter);
  *ppEnum = new (std::nothrow) FilterEnumerator(std::move(filters));
  return *ppEnum ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE FilterGraph::FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) {
  if (!pName || !ppFilter) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  for (const Entry& e : filters_) {
    if (e.name == pName) {
      *ppFilter = e.filter;
      e.filter->AddRef();
      return S_OK;
    }
  }
  *ppFilter = nullptr;
  return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE FilterGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
  if (!ppinOut || !ppinIn) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!PinInGraphLocked(ppinOut) || !PinInGraphLocked(ppinIn)) return VFW_E_NOT_IN_GRAPH;
  if (DirectionOf(ppinOut) != PINDIR_OUTPUT || DirectionOf(ppinIn) != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
  return ppinOut->Connect(ppinIn, pmt);
}

HRESULT FilterGraph::ConnectFilters(IBaseFilter* upstream, IBaseFilter* downstream, const AM_MEDIA_TYPE* pmt) {
  if (!upstream || !downstream) return E_POINTER;
  auto firstFree = [](IBaseFilter* filter, PIN_DIRECTION dir) -> IPin* {
    std::vector<IPin*> pins = PinsOf(filter);
    IPin* found = nullptr;
    for (IPin* pin : pins) {
      IPin* peer = nullptr;
      const bool connected = pin->ConnectedTo(&peer) == S_OK;
      if (peer) peer->Release();
      if (!found && !connected && DirectionOf(pin) == dir) {
        found = pin;
        found->AddRef();
      }
    }
    ReleaseAll(pins);
    return found;
  };
  IPin* out = firstFree(upstream, PINDIR_OUTPUT);
  IPin* in = firstFree(downstream, PINDIR_INPUT);
  const HRESULT hr = out && in ? ConnectDirect(out, in, pmt) : VFW_E_NOT_FOUND;
  SafeRelease(out);
  SafeRelease(in);
  return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::Reconnect(IPin* ppin) {
  if (!ppin) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  IPin* peer = nullptr;
  if (ppin->ConnectedTo(&peer) != S_OK) return VFW_E_NOT_CONNECTED;
  AM_MEDIA_TYPE mt{};
  HRESULT hr = ppin->ConnectionMediaType(&mt);
  if (SUCCEEDED(hr)) {
    IPin* out = DirectionOf(ppin) == PINDIR_OUTPUT ? ppin : peer;
    IPin* in = out == ppin ? peer : ppin;
    in->Disconnect();
    out->Disconnect();
    hr = out->Connect(in, &mt);
    FreeMediaType(mt);
  }
  peer->Release();
  return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::Disconnect(IPin* ppin) {
  if (!ppin) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  return ppin->Disconnect();
}

HRESULT FilterGraph::AddFilterByClsid(REFCLSID clsid, LPCWSTR pName, IBaseFilter** ppFilter) {
  if (ppFilter) *ppFilter = nullptr;
  IBaseFilter* filter = nullptr;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
  if (FAILED(hr)) return hr;
  hr = AddFilter(filter, pName);
  if (SUCCEEDED(hr) && ppFilter)
    *ppFilter = filter;
  else
    filter->Release();
  return hr;
}

// ---- Clock and state ----

HRESULT FilterGraph::SetSyncSource(IReferenceClock* pClock) {
  std::lock_guard<std::mutex> guard(lock_);
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  if (pClock) pClock->AddRef();
  SafeRelease(clock_);
  clock_ = pClock;
  for (Entry& e : filters_) e.filter->SetSyncSource(clock_);
  return S_OK;
}

HRESULT FilterGraph::UseSystemClock() {
  IReferenceClock* clock = nullptr;
  HRESULT hr = CreateSystemClock(&clock);
  if (FAILED(hr)) return hr;
  hr = SetSyncSource(clock);
  clock->Release();
  return hr;
}

HRESULT STDMETHODCALLTYPE FilterGraph::SetDefaultSyncSource() { return UseSystemClock(); }

REFERENCE_TIME FilterGraph::ClockTimeLocked() const {
  REFERENCE_TIME now = 0;
  if (clock_) clock_->GetTime(&now);
  return now;
}

std::vector<IBaseFilter*> FilterGraph::DownstreamFirstLocked() const {
  std::vector<IBaseFilter*> order;
  std::set<IBaseFilter*> visited;
  std::function<void(IBaseFilter*)> visit = [&](IBaseFilter* filter) {
    if (!visited.insert(filter).second) return;
    std::vector<IPin*> pins = PinsOf(filter);
    for (IPin* pin : pins) {
      if (DirectionOf(pin) != PINDIR_OUTPUT) continue;
      IPin* peer = nullptr;
      if (pin->ConnectedTo(&peer) != S_OK) continue;
      IBaseFilter* next = FilterOf(peer);
      peer->Release();
      if (next && ContainsLocked(next)) visit(next);
    }
    ReleaseAll(pins);
    order.push_back(filter);
  };
  for (const Entry& e : filters_) visit(e.filter);
  return order;
}

std::vector<IBaseFilter*> FilterGraph::RenderersLocked() const {
  std::vector<IBaseFilter*> renderers;
  for (const Entry& e : filters_) {
    IAMFilterMiscFlags* flags = nullptr;
    if (SUCCEEDED(e.filter->QueryInterface(IID_IAMFilterMiscFlags, reinterpret_cast<void**>(&flags)))) {
      const bool renderer = flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER;
      flags->Release();
      if (renderer) {
        renderers.push_back(e.filter);
        continue;
      }
    }
    std::vector<IPin*> pins = PinsOf(e.filter);
    int outputs = 0, connectedInputs = 0;
    for (IPin* pin : pins) {
      IPin* peer = nullptr;
      const bool connected = pin->ConnectedTo(&peer) == S_OK;
      if (peer) peer->Release();
      if (DirectionOf(pin) == PINDIR_OUTPUT)
        outputs++;
      else if (connected)
        connectedInputs++;
    }
    ReleaseAll(pins);
    if (outputs == 0 && connectedInputs > 0) renderers.push_back(e.filter);
  }
  return renderers;
}

HRESULT FilterGraph::PauseLocked() {
  if (state_ == State_Paused) return S_OK;
  if (state_ == State_Stopped) {
    events_.Restart(RenderersLocked());
    paused_stream_time_ = 0;
  } else if (clock_) {
    paused_stream_time_ = ClockTimeLocked() - start_time_;
  }
  for (IBaseFilter* f : DownstreamFirstLocked()) {
    const HRESULT hr = f->Pause();
    if (FAILED(hr)) {
      StopLocked();
      return hr;
    }
  }
  state_ = State_Paused;
  return S_OK;
}

HRESULT FilterGraph::RunLocked() {
  if (state_ == State_Running) return S_OK;
  HRESULT hr = PauseLocked();
  if (FAILED(hr)) return hr;
  const std::vector<IBaseFilter*> order = DownstreamFirstLocked();
  if (clock_) {
    // Let the renderers cue their first samples, so the run starts on time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCueTimeoutMs);
    for (IBaseFilter* f : order) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      FILTER_STATE fs;
      f->GetState(left.count() > 0 ? static_cast<DWORD>(left.count()) : 0, &fs);
    }
    start_time_ = ClockTimeLocked() + kStartLatency - paused_stream_time_;
  } else {
    start_time_ = 0;
  }
  for (IBaseFilter* f : order) {
    hr = f->Run(start_time_);
    if (FAILED(hr)) {
      StopLocked();
      return hr;
    }
  }
  state_ = State_Running;
  events_.OnRun();
  return S_OK;
}

HRESULT FilterGraph::StopLocked() {
  HRESULT first = S_OK;
  for (IBaseFilter* f : DownstreamFirstLocked()) {
    const HRESULT hr = f->Stop();
    if (FAILED(hr) && SUCCEEDED(first)) first = hr;
  }
  state_ = State_Stopped;
  paused_stream_time_ = 0;
  events_.Disarm();
  return first;
}

HRESULT FilterGraph::Run() {
  std::lock_guard<std::mutex> guard(lock_);
  return RunLocked();
}

HRESULT FilterGraph::Pause() {
  std::lock_guard<std::mutex> guard(lock_);
  return PauseLocked();
}

HRESULT FilterGraph::Stop() {
  std::lock_guard<std::mutex> guard(lock_);
  return StopLocked();
}

HRESULT FilterGraph::GetState(DWORD timeoutMs, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  *state = state_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs == INFINITE ? 0 : timeoutMs);
  for (const Entry& e : filters_) {
    DWORD wait = INFINITE;
    if (timeoutMs != INFINITE) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      wait = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
    }
    FILTER_STATE fs;
    const HRESULT hr = e.filter->GetState(wait, &fs);
    if (FAILED(hr) || hr == VFW_S_STATE_INTERMEDIATE) return hr;
  }
  return S_OK;
}

// ---- Events ----

HRESULT STDMETHODCALLTYPE FilterGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
  events_.Notify(EventCode, EventParam1, EventParam2);
  return S_OK;
}

HRESULT FilterGraph::GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, DWORD timeoutMs) {
  if (!code || !param1 || !param2) return E_POINTER;
  return events_.Get(code, param1, param2, timeoutMs) ? S_OK : E_ABORT;
}

HRESULT FilterGraph::WaitForCompletion(DWORD timeoutMs, LONG* code) {
  if (!code) return E_POINTER;
  *code = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (state_ == State_Stopped) return VFW_E_WRONG_STATE;
  }
  return events_.WaitForCompletion(timeoutMs, code) ? S_OK : E_ABORT;
}

}  // namespace cehost
