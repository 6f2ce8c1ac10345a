// CBaseOutputPin: an output pin that delivers samples to a downstream IMemInputPin. At
// connection it agrees an allocator with the input pin (DecideAllocator: the input pin's
// own allocator first, else a CMemAllocator of ours, sized by DecideBufferSize); it commits
// the allocator when the filter pauses and decommits it when the filter stops.
//
// A derived pin supplies CheckMediaType, GetMediaType and DecideBufferSize; its filter fills
// buffers from GetDeliveryBuffer and sends them with Deliver, and passes stream events on
// with the Deliver* calls.
//
// Threads: delivery runs on the filter's streaming thread; connection and state changes on
// the application's thread under the filter lock. m_pAllocator and m_pInputPin change only
// while the filter is stopped.
#pragma once

#include "basepin.h"

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName);
  ~CBaseOutputPin() override;

  // Optional to override; overrides call the base. CompleteConnect runs DecideAllocator.
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  // The base asks the peer for IMemInputPin.
  HRESULT CheckConnect(IPin* pPin) override;
  // The base decommits and releases the allocator and the peer's IMemInputPin.
  HRESULT BreakConnect() override;
  // Commits / decommits the allocator (VFW_E_NO_ALLOCATOR without one).
  HRESULT Active() override;
  HRESULT Inactive() override;

  // Optional: picks the allocator (see the class comment) and calls NotifyAllocator.
  virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc);
  // Optional: the allocator used when the input pin offers none (a CMemAllocator).
  virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);
  // Required: sets the buffer count and size on the allocator (SetProperties) from the
  // input pin's requirements in *ppropInputRequest (alignment at least 1).
  virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest) = 0;

  // An empty sample from the allocator (waits for one to be free).
  virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                    REFERENCE_TIME* pEndTime, DWORD dwFlags);
  // Sends a sample to the input pin (borrowed: the caller still releases it).
  virtual HRESULT Deliver(IMediaSample* pSample);
  virtual HRESULT DeliverEndOfStream();
  virtual HRESULT DeliverBeginFlush();
  virtual HRESULT DeliverEndFlush();
  virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

  // Input-side calls have no meaning on an output pin.
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

 protected:
  IMemAllocator* m_pAllocator = nullptr;  // referenced while connected
  IMemInputPin* m_pInputPin = nullptr;    // the peer's, referenced while connected
};
