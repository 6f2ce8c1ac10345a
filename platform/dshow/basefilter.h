// CBaseFilter: the filter object every filter derives from. It keeps the filter's state,
// clock, start time, name and graph, answers IBaseFilter/IMediaFilter, and moves its pins
// through the state changes (Pause activates connected pins, Stop deactivates them).
//
// A derived filter supplies its pins (GetPinCount, GetPin) and usually overrides Stop, Pause
// or Run to start and stop its own work, calling the base. NotifyEvent reaches the graph.
//
// Threads: state changes, connection and enumeration come from the application's thread,
// under the filter lock (*m_pLock, given by the derived class and shared with its pins).
// m_State is also read by streaming threads, so it is atomic. m_pClock and m_tStart change
// only while the filter is stopped or under the filter lock.
#pragma once

#include <atomic>

#include "combase.h"
#include "critsec.h"
#include "reftime.h"
#include "setup.h"
#include "strmif.h"

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
 public:
  // pLock: the filter lock, owned by the derived class (it may not be constructed yet).
  CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid);
  CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT* phr);
  ~CBaseFilter() override;

  DECLARE_IUNKNOWN
  // Answers IBaseFilter, IMediaFilter, IPersist, IAMovieSetup; overrides call the base.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IPersist
  STDMETHODIMP GetClassID(CLSID* pClsID) override;

  // IMediaFilter. Optional to override; overrides call the base.
  // Stop deactivates the connected pins (the first failure is returned, all are stopped).
  STDMETHODIMP Stop() override;
  // From stopped, activates the connected pins; a failure leaves the filter stopped.
  STDMETHODIMP Pause() override;
  // Pauses first when stopped, then runs the connected pins (CBasePin::Run).
  STDMETHODIMP Run(REFERENCE_TIME tStart) override;
  STDMETHODIMP GetState(DWORD dwMSecs, FILTER_STATE* State) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override;

  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
  // Finds a pin by its id (QueryId; by default its name).
  STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* pVendorInfo) override;

  // IAMovieSetup: (un)registers GetSetupData with the filter mapper; S_FALSE without data.
  STDMETHODIMP Register() override;
  STDMETHODIMP Unregister() override;

  // Required: the number of pins and pin n (null when n is out of range). The filter owns
  // its pins; the pointer is borrowed.
  virtual int GetPinCount() = 0;
  virtual CBasePin* GetPin(int n) = 0;
  // Optional: the filter's registration data (null: none, the default).
  virtual const AMOVIESETUP_FILTER* GetSetupData() { return nullptr; }

  // Sends an event to the graph (E_NOTIMPL outside a graph). For EC_COMPLETE the second
  // parameter becomes this filter's IBaseFilter, which the graph counts renderers by.
  HRESULT NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);

  // The stream time now (the clock's time less the start time); VFW_E_NO_CLOCK without one.
  HRESULT StreamTime(CRefTime& rtStream);

  BOOL IsActive() const { return m_State != State_Stopped; }
  BOOL IsStopped() const { return m_State == State_Stopped; }
  IFilterGraph* GetFilterGraph() const { return m_pGraph; }  // borrowed
  // Has the graph reconnect a pin (after a type change); E_NOINTERFACE outside a graph.
  HRESULT ReconnectPin(IPin* pPin, const AM_MEDIA_TYPE* pmt);

  // Pin list version: bump it when pins are added or removed, so enumerators notice.
  virtual LONG GetPinVersion() { return m_PinVersion; }
  void IncrementPinVersion() { InterlockedIncrement(&m_PinVersion); }

  // Read by streaming threads, changed by state changes (under *m_pLock).
  std::atomic<FILTER_STATE> m_State{State_Stopped};

 protected:
  IReferenceClock* m_pClock = nullptr;  // referenced; null when running without a clock
  CRefTime m_tStart;                    // clock time of stream time 0 (set by Run)
  CLSID m_clsid;
  CCritSec* m_pLock;                    // the filter lock (not owned)
  WCHAR* m_pName = nullptr;             // name in the graph (owned)
  IFilterGraph* m_pGraph = nullptr;     // not referenced: the graph owns the filter
  IMediaEventSink* m_pSink = nullptr;   // the graph's, not referenced
  volatile LONG m_PinVersion = 1;
};
