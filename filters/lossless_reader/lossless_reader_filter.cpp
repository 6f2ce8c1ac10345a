#include "lossless_reader_filter.h"

#include <cstdlib>
#include <new>

#include "debug_print.h"
#include "lossless_reader_clsid.h"
#include "lossless_reader_stream.h"
#include "mmreg.h"
#include "objbase.h"

namespace lossless_reader {

namespace {

// A decoded frame is held whole before it is delivered. Usual files need 16 KB (4096 stereo
// sound samples) to 48 KB (six channels); a configuration asking for more than this is refused
// rather than given an outsized buffer.
constexpr uint64_t kMaxDecodedFrameBytes = 1 << 20;

// Sound samples of the track: the duration runs, counted up to the frames the track has
// (frames past the end of the runs have no duration).
uint64_t TotalSoundSamples(const DemuxResult& res) {
  uint64_t frames_left = res.sample_size_count;
  uint64_t total = 0;
  for (uint32_t r = 0; r < res.duration_run_count && frames_left != 0; ++r) {
    const uint64_t n = res.duration_runs[r].sample_count < frames_left ? res.duration_runs[r].sample_count : frames_left;
    total += n * res.duration_runs[r].sample_duration;
    frames_left -= n;
  }
  return total;
}

}  // namespace

CUnknown* WINAPI CLosslessReaderFilter::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  ASSERT(phr);
  auto* filter = new (std::nothrow) CLosslessReaderFilter(pUnk, phr);
  if (!filter) *phr = E_OUTOFMEMORY;
  return filter;
}

CLosslessReaderFilter::CLosslessReaderFilter(LPUNKNOWN pUnk, HRESULT* phr)
    : CSource(nullptr, pUnk, CLSID_LosslessReader) {
  CAutoLock lock(&m_cStateLock);
  m_pStream = new (std::nothrow) CLosslessReaderStream(phr, this);
  if (!m_pStream) {
    *phr = E_OUTOFMEMORY;
  } else if (FindPinNumber(m_pStream) < 0) {
    // The pin could not join the pin list (its constructor set *phr), so the list will not
    // delete it.
    delete m_pStream;
    m_pStream = nullptr;
  }
}

CLosslessReaderFilter::~CLosslessReaderFilter() { ReleaseFile(); }

void CLosslessReaderFilter::ReleaseFile() {
  delete[] m_pFileName;
  m_pFileName = nullptr;
  std::free(m_pDestBuffer);
  m_pDestBuffer = nullptr;
  m_destBufferBytes = 0;
  std::free(m_buffer);
  m_buffer = nullptr;
  if (m_pFile) std::fclose(m_pFile);
  m_pFile = nullptr;
  alac_free_buffers(&m_alac);
  demux_result_free(&m_demux_res);
  m_alac = AlacDecoder{};
  m_stream = FileStream{};
  m_index = 0;
  m_pendingOffset = 0;
  m_pendingBytes = 0;
}

STDMETHODIMP CLosslessReaderFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
  return CSource::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CLosslessReaderFilter::Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) {
  CAutoLock lock(&m_cStateLock);
  if (m_pFile) return E_FAIL;
  CheckPointer(pszFileName, E_POINTER);
  // The tables and the decoder belong to the worker once the filter is active.
  if (!IsStopped()) return VFW_E_NOT_STOPPED;

  WCHAR path[MAX_PATH];
  const size_t length = wcsnlen(pszFileName, MAX_PATH);
  if (length == MAX_PATH) {
    DebugPrint(u"CLosslessReaderFilter::Load - the path is longer than %d characters.", MAX_PATH - 1);
    return E_FAIL;
  }
  wcscpy(path, pszFileName);

  if (FAILED(ReadTheFile(path, pmt))) {
    ReleaseFile();
    return E_FAIL;
  }
  m_pFileName = new (std::nothrow) WCHAR[length + 1];
  if (m_pFileName) wcscpy(m_pFileName, path);
  return S_OK;
}

HRESULT CLosslessReaderFilter::ReadTheFile(LPCWSTR path, const AM_MEDIA_TYPE* pmt) {
  m_pFile = _wfopen(path, u"rb");
  if (!m_pFile) {
    DebugPrint(u"CLosslessReaderFilter::ReadTheFile - failed to open input file '%s'.", path);
    return E_FAIL;
  }
  stream_init(&m_stream, m_pFile);
  if (!qtmovie_read(&m_stream, &m_demux_res)) {
    DebugPrint(u"CLosslessReaderFilter::ReadTheFile - failed to load the QuickTime movie headers");
    return E_FAIL;
  }
  const DemuxResult& res = m_demux_res;
  alac_configure_output(res.sound_sample_size, res.channel_count, &m_alac);

  if (res.sound_sample_size == 20 || res.sound_sample_size == 24 || res.sound_sample_size == 32) {
    DebugPrint(u"CLosslessReaderFilter::ReadTheFile - m_demux_res.sound_sample_size = %d", int(res.sound_sample_size));
    return E_FAIL;
  }
  if (res.sound_sample_rate == 96000) {
    DebugPrint(u"CLosslessReaderFilter::ReadTheFile - m_demux_res.sound_sample_rate = %d", int(res.sound_sample_rate));
    return E_FAIL;
  }
  if (!alac_load_config(&m_alac, res.codec_config)) {
    DebugPrint(u"CLosslessReaderFilter::ReadTheFile - alac_load_config() failed.");
    return E_FAIL;
  }
  // Playback divides by the rate; the container reader refuses a description without one.
  ASSERT(res.sound_sample_rate != 0 && res.channel_count != 0 && res.sound_sample_size >= 8);

  // Every decoded frame must fit the frame buffer, and one sound sample must fit the 16-bit
  // block size of the output type (and so the delivered sample).
  const uint64_t frame_bytes = alac_max_frame_bytes(&m_alac);
  if (frame_bytes > kMaxDecodedFrameBytes || m_alac.bytes_per_frame > 0xFFFF) {
    DebugPrint(u"CLosslessReaderFilter::ReadTheFile - decoded frames of %lu bytes are too large.",
               static_cast<DWORD>(frame_bytes > 0xFFFFFFFF ? 0xFFFFFFFF : frame_bytes));
    return E_FAIL;
  }

  // Zeroed: channels the decoder does not write (beyond the first element) stay silent.
  m_pDestBuffer = static_cast<BYTE*>(std::calloc(frame_bytes, 1));
  if (!m_pDestBuffer) {
    DebugPrint(u"CLosslessReaderFilter::ReadTheFile - m_pDestBuffer allocation failed.");
    return E_FAIL;
  }
  m_destBufferBytes = static_cast<uint32_t>(frame_bytes);
  m_buffer = static_cast<BYTE*>(std::malloc(kCompressedFrameBytes));
  if (!m_buffer) {
    DebugPrint(u"CLosslessReaderFilter::ReadTheFile - m_buffer allocation failed.");
    return E_FAIL;
  }

  CMediaType mt;
  if (pmt) {
    if (FAILED(mt.Set(*pmt))) return E_FAIL;
  } else {
    mt.SetType(&MEDIATYPE_Audio);
    mt.SetSubtype(&MEDIASUBTYPE_PCM);
    mt.SetFormatType(&FORMAT_WaveFormatEx);
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = res.channel_count;
    wfx.nSamplesPerSec = res.sound_sample_rate;
    wfx.nBlockAlign = static_cast<WORD>(res.channel_count * res.sound_sample_size / 8);
    wfx.nAvgBytesPerSec = static_cast<DWORD>(wfx.nBlockAlign) * wfx.nSamplesPerSec;
    wfx.wBitsPerSample = res.sound_sample_size;
    wfx.cbSize = 0;
    if (!mt.SetFormat(reinterpret_cast<BYTE*>(&wfx), sizeof(wfx))) return E_FAIL;
  }
  if (FAILED(m_mt.Set(mt))) return E_FAIL;

  // The duration in 64 bits: a long track's PCM byte count passes 32 bits.
  const uint64_t samples = TotalSoundSamples(res);
  const uint64_t seconds = samples / res.sound_sample_rate;
  const REFERENCE_TIME duration =
      seconds > uint64_t(MAX_TIME / UNITS - 1)
          ? MAX_TIME
          : REFERENCE_TIME(seconds * UNITS + samples % res.sound_sample_rate * UNITS / res.sound_sample_rate);
  m_pStream->SetDuration(duration);
  m_index = 0;
  return S_OK;
}

STDMETHODIMP CLosslessReaderFilter::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
  CheckPointer(ppszFileName, E_POINTER);
  CAutoLock lock(&m_cStateLock);
  *ppszFileName = nullptr;
  if (m_pFileName) {
    const HRESULT hr = AMGetWideString(m_pFileName, ppszFileName);
    if (FAILED(hr)) return hr;
  }
  if (pmt) {
    const HRESULT hr = CopyMediaType(pmt, &m_mt);
    if (FAILED(hr)) {
      CoTaskMemFree(*ppszFileName);
      *ppszFileName = nullptr;
      return hr;
    }
  }
  return S_OK;
}

}  // namespace lossless_reader
