// The pins of CTransformFilter. Both pass their connection checks and media types to the
// filter: the input pin accepts what CheckInputType (and, when the output is connected,
// CheckTransform) accepts; the output pin offers the filter's GetMediaType types once the
// input is connected and accepts what CheckTransform accepts.
//
// Threads: as CTransformFilter. The input pin's Receive and EndOfStream take the filter's
// m_csReceive; its flush calls take m_csFilter.
#pragma once

#include "inputpin.h"
#include "outputpin.h"

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
 public:
  CTransformInputPin(LPCTSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr, LPCWSTR pName);

  STDMETHODIMP QueryId(LPWSTR* Id) override;  // "In"

  HRESULT CheckConnect(IPin* pPin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  HRESULT CheckMediaType(const CMediaType* mtIn) override;
  HRESULT SetMediaType(const CMediaType* mt) override;

  STDMETHODIMP Receive(IMediaSample* pSample) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

 protected:
  CTransformFilter* m_pTransformFilter;
};

class CTransformOutputPin : public CBaseOutputPin {
 public:
  CTransformOutputPin(LPCTSTR pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr, LPCWSTR pName);

  STDMETHODIMP QueryId(LPWSTR* Id) override;  // "Out"

  HRESULT CheckConnect(IPin* pPin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
  HRESULT CheckMediaType(const CMediaType* mtOut) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
  // Asks the filter (AlterQuality), then passes the message upstream.
  STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;

 protected:
  CTransformFilter* m_pTransformFilter;
};
