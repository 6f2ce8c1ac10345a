#include "adopt_new_filter.h"
#include "null_audio_renderer.h"

#include <new>

#include "hostfilter_guids.h"
#include "pcm_format.h"

namespace cehost {

CNullAudioRenderer::CNullAudioRenderer(HRESULT* phr)
    : CBaseRenderer(CLSID_HostNullAudioRenderer, NAME("Null audio renderer"), nullptr, phr) {}

HRESULT CNullAudioRenderer::Create(CNullAudioRenderer** renderer) {
  HRESULT hr = S_OK;
  return AdoptNewFilter(new (std::nothrow) CNullAudioRenderer(&hr), &hr, renderer);
}

HRESULT CNullAudioRenderer::CheckMediaType(const CMediaType* pmt) {
  WAVEFORMATEX wfx;
  return PcmFormatFromMediaType(*pmt, &wfx);
}

HRESULT CNullAudioRenderer::DoRenderSample(IMediaSample* pSample) {
  const LONG length = pSample->GetActualDataLength();
  if (length > 0) m_bytes += static_cast<uint64_t>(length);
  m_samples++;
  return S_OK;
}

}  // namespace cehost
