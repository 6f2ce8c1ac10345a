// CBaseVideoRenderer: CBaseRenderer for video frames. It drops a frame that arrives after
// its stop time has passed on the clock (ShouldDrawSampleNow fails for it) and keeps frame
// statistics (IQualProp).
//
// A derived renderer supplies CheckMediaType and DoRenderSample, and may override
// ShouldDrawSampleNow (calling the base) to draw late frames anyway.
//
// Threads: as CBaseRenderer; the statistics are guarded by the sample lock.
#pragma once

#include "renderer.h"

class CBaseVideoRenderer : public CBaseRenderer, public IQualProp {
 public:
  CBaseVideoRenderer(REFCLSID RenderClass, LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
  ~CBaseVideoRenderer() override;

  DECLARE_IUNKNOWN
  // Adds IQualProp; overrides call the base.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // S_FALSE (draw at its start time) for a frame still due; E_FAIL (drop it) for one whose
  // stop time has already passed.
  HRESULT ShouldDrawSampleNow(IMediaSample* pMediaSample, REFERENCE_TIME* pStartTime,
                              REFERENCE_TIME* pEndTime) override;

  // IQualProp: frames dropped and drawn since the filter last paused from stopped; the
  // timing statistics are not kept (0).
  STDMETHODIMP get_FramesDroppedInRenderer(int* pcFrames) override;
  STDMETHODIMP get_FramesDrawn(int* pcFramesDrawn) override;
  STDMETHODIMP get_AvgFrameRate(int* piAvgFrameRate) override;
  STDMETHODIMP get_Jitter(int* iJitter) override;
  STDMETHODIMP get_AvgSyncOffset(int* piAvg) override;
  STDMETHODIMP get_DevSyncOffset(int* piDev) override;

  STDMETHODIMP Pause() override;
};
