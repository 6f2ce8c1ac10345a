// CWavFileSource: a source filter that reads a PCM WAV file (wav_parser.h; RIFF or RF64, so
// of any size) and delivers it on its output pin ("Output") in samples of about 100 ms,
// time-stamped from 0 at each start or seek (divided by the rate), with the frame numbers
// as media times. The pin seeks (IMediaSeeking): a new start, stop or rate while the worker
// runs flushes downstream, stops the worker, repositions and starts it again; the first
// sample after each start carries the discontinuity flag and a new segment announces the
// start, stop and rate. A run starts at the current start position.
//
// Threads: Load and the seeking calls come from the application's thread, FillBuffer from
// the pin's worker; the position, the file and the seeking state are guarded by the
// stream's m_csStream, which the worker holds for each FillBuffer and which is never held
// while the worker is stopped or started.
#pragma once

#include <cstdio>
#include <string>

#include "source.h"
#include "wav_parser.h"

namespace cehost {

class CWavFileSource : public CSource, public IFileSourceFilter {
 public:
  // A new source with one reference.
  static HRESULT Create(CWavFileSource** source);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Opens and parses the file (once per filter: a second Load gives E_UNEXPECTED; the media
  // type argument is ignored). Failures: E_POINTER, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
  // and the like for a file that does not open, the parser's codes for its contents.
  STDMETHODIMP Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

  // Why the last Load failed, in a few words.
  std::string LoadError();
  // The loaded file's layout (zeros before Load).
  WavInfo Info();

 private:
  class CWavFileStream;
  explicit CWavFileSource(HRESULT* phr);
  ~CWavFileSource() override;

  CWavFileStream* m_pStream = nullptr;  // owned through CSource's pin list
  // Set by Load under the filter lock (m_cStateLock) before any connection; then read only.
  std::u16string m_fileName;
  std::string m_loadError;
};

}  // namespace cehost
