#include "pcm_format.h"

#include <cstring>

namespace cehost {

bool IsValidPcmFormat(const WAVEFORMATEX& wfx) {
  if (wfx.wFormatTag != WAVE_FORMAT_PCM) return false;
  if (wfx.nChannels == 0 || wfx.nChannels > 1024 || wfx.nSamplesPerSec == 0) return false;
  if (wfx.wBitsPerSample % 8 != 0 || wfx.wBitsPerSample < 8 || wfx.wBitsPerSample > 32) return false;
  const uint32_t block = uint32_t{wfx.nChannels} * (wfx.wBitsPerSample / 8);
  if (wfx.nBlockAlign != block) return false;
  return uint64_t{block} * wfx.nSamplesPerSec == wfx.nAvgBytesPerSec;
}

HRESULT PcmFormatFromMediaType(const CMediaType& mt, WAVEFORMATEX* wfx) {
  if (mt.majortype != MEDIATYPE_Audio || mt.subtype != MEDIASUBTYPE_PCM || mt.formattype != FORMAT_WaveFormatEx ||
      mt.cbFormat < sizeof(PCMWAVEFORMAT) || !mt.pbFormat)
    return VFW_E_TYPE_NOT_ACCEPTED;
  WAVEFORMATEX f{};
  std::memcpy(&f, mt.pbFormat, sizeof(PCMWAVEFORMAT));
  f.cbSize = 0;
  if (!IsValidPcmFormat(f)) return VFW_E_TYPE_NOT_ACCEPTED;
  *wfx = f;
  return S_OK;
}

HRESULT MediaTypeFromPcmFormat(const WAVEFORMATEX& wfx, CMediaType* mt) {
  if (!IsValidPcmFormat(wfx)) return E_INVALIDARG;
  mt->InitMediaType();
  mt->SetType(&MEDIATYPE_Audio);
  mt->SetSubtype(&MEDIASUBTYPE_PCM);
  mt->SetFormatType(&FORMAT_WaveFormatEx);
  mt->SetSampleSize(wfx.nBlockAlign);
  WAVEFORMATEX copy = wfx;
  copy.cbSize = 0;
  return mt->SetFormat(reinterpret_cast<BYTE*>(&copy), sizeof(copy)) ? S_OK : E_OUTOFMEMORY;
}

REFERENCE_TIME FramesToTime(uint64_t frames, DWORD rate) {
  // Whole seconds and the remainder separately: frames x 10^7 overflows 64 bits beyond about
  // 9 x 10^11 frames, which a large file can hold.
  const uint64_t seconds = frames / rate, rest = frames % rate;
  return static_cast<REFERENCE_TIME>(seconds * UNITS + rest * UNITS / rate);
}

uint64_t TimeToFrames(REFERENCE_TIME time, DWORD rate) {
  if (time <= 0) return 0;
  const uint64_t t = static_cast<uint64_t>(time);
  return t / UNITS * rate + (t % UNITS * rate + UNITS / 2) / UNITS;
}

}  // namespace cehost
