#include "videorenderer.h"

CBaseVideoRenderer::CBaseVideoRenderer(REFCLSID RenderClass, LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseRenderer(RenderClass, pName, pUnk, phr) {}

CBaseVideoRenderer::~CBaseVideoRenderer() = default;

STDMETHODIMP CBaseVideoRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IQualProp) return GetInterface(static_cast<IQualProp*>(this), ppv);
  return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseVideoRenderer::ShouldDrawSampleNow(IMediaSample*, REFERENCE_TIME*, REFERENCE_TIME* pEndTime) {
  if (!m_pClock) return S_OK;
  REFERENCE_TIME now = 0;
  if (FAILED(m_pClock->GetTime(&now))) return S_FALSE;
  return *pEndTime < now - m_tStart ? E_FAIL : S_FALSE;
}

STDMETHODIMP CBaseVideoRenderer::Pause() {
  if (m_State == State_Stopped) {
    CAutoLock sampleLock(&m_RendererLock);
    m_cFramesDropped = 0;
    m_cFramesDrawn = 0;
  }
  return CBaseRenderer::Pause();
}

STDMETHODIMP CBaseVideoRenderer::get_FramesDroppedInRenderer(int* pcFrames) {
  CheckPointer(pcFrames, E_POINTER);
  CAutoLock sampleLock(&m_RendererLock);
  *pcFrames = m_cFramesDropped;
  return S_OK;
}

STDMETHODIMP CBaseVideoRenderer::get_FramesDrawn(int* pcFramesDrawn) {
  CheckPointer(pcFramesDrawn, E_POINTER);
  CAutoLock sampleLock(&m_RendererLock);
  *pcFramesDrawn = m_cFramesDrawn;
  return S_OK;
}

STDMETHODIMP CBaseVideoRenderer::get_AvgFrameRate(int* piAvgFrameRate) {
  CheckPointer(piAvgFrameRate, E_POINTER);
  *piAvgFrameRate = 0;
  return S_OK;
}

STDMETHODIMP CBaseVideoRenderer::get_Jitter(int* iJitter) {
  CheckPointer(iJitter, E_POINTER);
  *iJitter = 0;
  return S_OK;
}

STDMETHODIMP CBaseVideoRenderer::get_AvgSyncOffset(int* piAvg) {
  CheckPointer(piAvg, E_POINTER);
  *piAvg = 0;
  return S_OK;
}

STDMETHODIMP CBaseVideoRenderer::get_DevSyncOffset(int* piDev) {
  CheckPointer(piDev, E_POINTER);
  *piDev = 0;
  return S_OK;
}
