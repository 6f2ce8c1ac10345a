// CBasePin: what every pin shares. It keeps the connection (the peer pin and the agreed
// media type), runs the connection protocol, and forwards its reference counting to its
// filter (a pin lives exactly as long as its filter).
//
// Connection: the connecting (output) pin's Connect proposes media types, its own first,
// then the receiving pin's; for each it checks CheckConnect and CheckMediaType, stores the
// type (SetMediaType), asks the receiver (ReceiveConnection, which runs the same checks)
// and finally CompleteConnect. Any failure undoes the attempt (BreakConnect).
//
// Threads: connection and state calls come from the application's thread under the filter
// lock (*m_pLock). Streaming calls (EndOfStream, flushes, NewSegment) come from streaming
// threads; m_tStart/m_tStop/m_dRate are written by NewSegment on the streaming thread.
#pragma once

#include "combase.h"
#include "critsec.h"
#include "mtype.h"
#include "reftime.h"
#include "strmif.h"

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  // pFilter: owns the pin. pLock: the filter lock. pName: copied.
  CBasePin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
           PIN_DIRECTION dir);
  ~CBasePin() override;

  DECLARE_IUNKNOWN
  // Answers IPin and IQualityControl; overrides call the base.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // Counted on the filter.
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

  // IPin
  STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
  // VFW_E_NOT_STOPPED unless the filter is stopped; S_FALSE when not connected.
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pPin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
  // The pin's name, as task memory. Optional to override.
  STDMETHODIMP QueryId(LPWSTR* Id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
  // Optional; the base does nothing.
  STDMETHODIMP EndOfStream() override;
  // Optional to override; overrides call the base, which records the segment.
  STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

  // IQualityControl. Notify: optional; the base has no use for quality messages (E_NOTIMPL).
  STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;
  STDMETHODIMP SetSink(IQualityControl* piqc) override;

  // Required: S_OK when the pin accepts the type, anything else when it does not.
  virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
  // Optional: the type the pin proposes at iPosition (S_OK), VFW_S_NO_MORE_ITEMS after the
  // last one. The base proposes none (E_UNEXPECTED).
  virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);
  // Optional; overrides call the base, which stores the connection type.
  virtual HRESULT SetMediaType(const CMediaType* pmt);
  // Optional; overrides call the base, which refuses a peer of the same direction.
  virtual HRESULT CheckConnect(IPin* pPin);
  // Optional; undoes CheckConnect's work. The base does nothing.
  virtual HRESULT BreakConnect();
  // Optional; last step of a connection. The base does nothing.
  virtual HRESULT CompleteConnect(IPin* pReceivePin);
  // Optional state hooks, called for connected pins by CBaseFilter: Active on stopped ->
  // paused, Inactive on -> stopped, Run on -> running. The base does nothing.
  virtual HRESULT Active();
  virtual HRESULT Inactive();
  virtual HRESULT Run(REFERENCE_TIME tStart);

  virtual LONG GetMediaTypeVersion() { return m_TypeVersion; }
  void IncrementTypeVersion() { InterlockedIncrement(&m_TypeVersion); }

  BOOL IsConnected() const { return m_Connected != nullptr; }
  IPin* GetConnected() const { return m_Connected; }  // borrowed
  BOOL IsStopped() const;
  LPWSTR Name() const { return m_pName; }
  CMediaType& CurrentMediaType() { return m_mt; }
  REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
  REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
  double CurrentRate() const { return m_dRate; }

  // Drops the connection without the state check (lock held).
  HRESULT DisconnectInternal();

 protected:
  HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
  HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum);
  HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);

  WCHAR* m_pName = nullptr;
  IPin* m_Connected = nullptr;  // referenced while connected
  PIN_DIRECTION m_dir;
  CCritSec* m_pLock;
  bool m_bCanReconnectWhenActive = false;
  CBaseFilter* m_pFilter;
  IQualityControl* m_pQSink = nullptr;  // not referenced
  volatile LONG m_TypeVersion = 1;
  CMediaType m_mt;  // the connection type
  REFERENCE_TIME m_tStart = 0;
  REFERENCE_TIME m_tStop = MAX_TIME;
  double m_dRate = 1.0;
};
