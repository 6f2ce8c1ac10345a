// CWavWriter: a renderer that writes the PCM audio it receives to a WAV file
// (IFileSinkFilter names the file).
//
// The file is created (replacing an old one) when the graph first runs after a stop, so a
// graph that never runs leaves no file; samples are appended as they are rendered; Stop
// writes the final sizes and closes the file. Any PCM format of pcm_format.h is accepted; a
// mid-stream change to another format is refused (the stream fails rather than mixing
// formats in one file).
//
// File written (little-endian):
//
//   Offset  Size  Field
//   0       4     "RIFF"
//   4       4     36 + data bytes + pad byte (fixed at Stop)
//   8       4     "WAVE"
//   12      4     "fmt "
//   16      4     16
//   20      16    format tag 1, channels, rate, bytes per second, block align, bits
//   36      4     "data"
//   40      4     data bytes (fixed at Stop)
//   44      n     the samples, then one zero pad byte when n is odd
//
// The sizes are 32-bit: a stream that would pass 4 GiB fails with
// HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW) before the file is damaged.
//
// Threads: the streaming thread writes (DoRenderSample, under the renderer's sample lock);
// the application's thread opens the file in Run and closes it in Stop. m_file and the
// counts are only touched under the sample lock.
#pragma once

#include <cstdio>
#include <string>

#include "mmreg.h"
#include "renderer.h"
#include "strmif.h"

namespace cehost {

class CWavWriter : public CBaseRenderer, public IFileSinkFilter {
 public:
  static constexpr uint32_t kHeaderBytes = 44;

  // A new writer with one reference.
  static HRESULT Create(CWavWriter** writer);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IFileSinkFilter. The name may be changed only while stopped; the media type is ignored.
  STDMETHODIMP SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

  STDMETHODIMP Run(REFERENCE_TIME tStart) override;
  STDMETHODIMP Stop() override;

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;
  HRESULT DoRenderSample(IMediaSample* pSample) override;

  // Data bytes written to the current (or last) file.
  uint64_t DataBytes();

 private:
  CWavWriter(HRESULT* phr);
  ~CWavWriter() override;
  HRESULT OpenFile();
  HRESULT CloseFile();

  std::u16string m_fileName;     // guarded by the filter lock
  WAVEFORMATEX m_format{};       // the connected format (filter lock / sample lock)
  FILE* m_file = nullptr;        // guarded by the sample lock
  uint64_t m_dataBytes = 0;      // guarded by the sample lock
  HRESULT m_writeError = S_OK;   // the first write failure of this file (sample lock)
};

}  // namespace cehost
