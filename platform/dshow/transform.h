// CTransformFilter: a filter with one input and one output pin that turns each input sample
// into one output sample in a separate buffer, on the upstream streaming thread.
//
// A derived filter supplies CheckInputType, CheckTransform, GetMediaType, DecideBufferSize
// and Transform. The base Receive takes an output buffer, copies the input's times, media
// times and sync-point, preroll and discontinuity flags onto it, calls Transform, delivers
// the output on S_OK, drops it on S_FALSE (sending EC_QUALITY_CHANGE once) and returns any
// failure upstream. End of stream, flushes and new segments go straight downstream.
//
// Pins: when GetPin is first called and the derived class has not created its own, the base
// creates a CTransformInputPin "XForm In" and a CTransformOutputPin "XForm Out" (FindPin also
// knows them as "In" and "Out"). The filter deletes its pins.
//
// Threads: Receive, EndOfStream and NewSegment run on the upstream streaming thread under
// m_csReceive; state changes and connection on the application's thread under m_csFilter.
// Stop takes m_csReceive after deactivating the input, so it waits for a Receive in progress.
#pragma once

#include <atomic>

#include "basefilter.h"
#include "mtype.h"

class CTransformInputPin;
class CTransformOutputPin;

class CTransformFilter : public CBaseFilter {
 public:
  CTransformFilter(LPCTSTR pName, LPUNKNOWN pUnk, REFCLSID clsid);
  ~CTransformFilter() override;

  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override;
  // Pin names first, then the ids "In" (pin 0) and "Out" (pin 1).
  STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;

  // Optional to override; overrides call the base. Stop ends streaming (StopStreaming);
  // Pause from stopped starts it (StartStreaming). With the input unconnected, Pause sends
  // end of stream downstream once, since no data can ever come.
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;

  // Required when the base Receive is used: fills pOut from pIn. S_OK delivers pOut,
  // S_FALSE drops it, a failure is returned upstream. The base returns E_UNEXPECTED.
  virtual HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut);
  // Required: S_OK when the input type is acceptable.
  virtual HRESULT CheckInputType(const CMediaType* mtIn) = 0;
  // Required: S_OK when the output type goes with the input type.
  virtual HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) = 0;
  // Required: sizes the output allocator (SetProperties).
  virtual HRESULT DecideBufferSize(IMemAllocator* pAllocator, ALLOCATOR_PROPERTIES* pprop) = 0;
  // Required: the output type proposed at iPosition; VFW_S_NO_MORE_ITEMS after the last.
  virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) = 0;

  // Optional hooks; the base does nothing and succeeds (AlterQuality: S_FALSE, meaning
  // "pass the message upstream").
  virtual HRESULT StartStreaming();
  virtual HRESULT StopStreaming();
  virtual HRESULT AlterQuality(Quality q);
  virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt);
  virtual HRESULT CheckConnect(PIN_DIRECTION dir, IPin* pPin);
  virtual HRESULT BreakConnect(PIN_DIRECTION dir);
  virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pReceivePin);

  // Optional to override (see the class comment for the base behaviour). Called with
  // m_csReceive held (Receive, EndOfStream) or the filter lock held (flushes).
  virtual HRESULT Receive(IMediaSample* pSample);
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

  CCritSec* pStateLock() { return &m_csFilter; }

 protected:
  // An output buffer carrying the input's times and flags.
  HRESULT InitializeOutputSample(IMediaSample* pSample, IMediaSample** ppOutSample);

  BOOL m_bEOSDelivered = FALSE;  // end of stream sent for an unconnected input (m_csFilter)
  // Set by Receive on the streaming thread, cleared by Pause on the application's thread
  // (which cannot take m_csReceive: a Receive may be waiting downstream for the run).
  std::atomic<BOOL> m_bSampleSkipped{FALSE};   // the last Transform dropped its sample
  std::atomic<BOOL> m_bQualityChanged{FALSE};  // EC_QUALITY_CHANGE sent since the last Pause

  CCritSec m_csFilter;   // the filter lock, shared with the pins
  CCritSec m_csReceive;  // serialises the streaming calls

  // Owned; created by the derived class's constructor or by GetPin.
  CTransformInputPin* m_pInput = nullptr;
  CTransformOutputPin* m_pOutput = nullptr;

  friend class CTransformInputPin;
  friend class CTransformOutputPin;
};
