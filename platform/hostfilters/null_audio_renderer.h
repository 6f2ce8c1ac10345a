// CNullAudioRenderer: the host's stand-in for a sound device. It accepts PCM audio
// (pcm_format.h) and consumes it at the pace of the graph's clock: each sample is taken at
// its start time and the stream completes at the last sample's stop time (CBaseRenderer's
// scheduling); without a clock it consumes as fast as the data comes. Nothing is played.
//
// Threads: counters are updated on the streaming thread and read from any thread.
#pragma once

#include <atomic>

#include "renderer.h"

namespace cehost {

class CNullAudioRenderer : public CBaseRenderer {
 public:
  // A new renderer with one reference.
  static HRESULT Create(CNullAudioRenderer** renderer);

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT DoRenderSample(IMediaSample* pSample) override;

  uint64_t BytesConsumed() const { return m_bytes; }
  uint64_t SamplesConsumed() const { return m_samples; }

 private:
  explicit CNullAudioRenderer(HRESULT* phr);

  std::atomic<uint64_t> m_bytes{0};
  std::atomic<uint64_t> m_samples{0};
};

}  // namespace cehost
