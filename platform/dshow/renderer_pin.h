// CRendererInputPin: the input pin of CBaseRenderer. It passes samples, end of stream,
// flushes and new segments to the renderer and asks it about media types.
//
// A renderer that needs its own allocator or pin behaviour derives from this class and
// creates its pin in GetPin.
//
// Threads: as CBaseRenderer.
#pragma once

#include "inputpin.h"

class CBaseRenderer;

class CRendererInputPin : public CBaseInputPin {
 public:
  CRendererInputPin(CBaseRenderer* pRenderer, HRESULT* phr, LPCWSTR Name);

  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP Receive(IMediaSample* pMediaSample) override;
  STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT Active() override;
  HRESULT Inactive() override;

 protected:
  CBaseRenderer* m_pRenderer;
};
