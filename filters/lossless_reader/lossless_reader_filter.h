// CLosslessReaderFilter: the LosslessReader deliverable's source filter, "Lossless Reader
// Filter". It reads an M4A file holding one ALAC track; its single output pin
// (CLosslessReaderStream, "Output") decodes the frames on the pin's worker thread and delivers
// interleaved 16-bit PCM with time stamps, and seeks by time through IMediaSeeking.
//
// The application creates it by CLSID_LosslessReader, hands it a path with
// IFileSourceFilter::Load (once), connects the pin to an audio consumer and runs the graph.
// Files of 20, 24 or 32 bits per sample and files at exactly 96000 Hz are refused.
//
// Threads: Load, GetCurFile and connection run on the application's thread under the filter
// lock m_cStateLock, which also guards m_mt and m_pFileName. Load sets up the file, the
// container tables, the decoder and the frame buffers while the filter is stopped; from then on
// they (with m_index and the decoded-frame cursor) are touched by one thread at a time: the
// pin's worker while it runs, or the application's thread repositioning them while the worker
// is stopped (CLosslessReaderStream), in both cases under the stream's m_csStream.
#pragma once

#include <cstdint>
#include <cstdio>

#include "alac_decoder.h"
#include "demux.h"
#include "file_stream.h"
#include "mtype.h"
#include "source.h"

namespace lossless_reader {

class CLosslessReaderStream;

class CLosslessReaderFilter : public CSource, public IFileSourceFilter {
 public:
  // The factory template's creation function: a new filter without a reference, or null with
  // *phr set (E_OUTOFMEMORY when the filter or its pin cannot be allocated).
  static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

  DECLARE_IUNKNOWN
  // Adds IFileSourceFilter; everything else is CSource's.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Opens and reads the file (pszFileName borrowed for the call) and builds the output type,
  // or takes *pmt as it is when given. E_FAIL when a file is already loaded or this one cannot
  // be played (after a "LOSSLESSREADER:" debug line naming the reason; nothing of it is kept,
  // so another Load may follow); E_POINTER for a null path; VFW_E_NOT_STOPPED unless stopped.
  STDMETHODIMP Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
  // *ppszFileName: a task-memory copy of the loaded path (the caller frees it), or null before
  // a successful Load. *pmt (optional): a copy of the output type (empty before Load), whose
  // format block the caller frees.
  STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

 private:
  friend class CLosslessReaderStream;

  // The compressed bytes of one frame (m_buffer); the container keeps frame sizes in 16 bits.
  static constexpr uint32_t kCompressedFrameBytes = 65536;

  CLosslessReaderFilter(LPUNKNOWN pUnk, HRESULT* phr);
  ~CLosslessReaderFilter() override;

  HRESULT ReadTheFile(LPCWSTR path, const AM_MEDIA_TYPE* pmt);
  // Closes the file and frees the tables, the decoder and the buffers (a failed load, the end).
  void ReleaseFile();

  // Guarded by m_cStateLock.
  CMediaType m_mt;             // the output type, set by Load; empty until then
  WCHAR* m_pFileName = nullptr;  // owned copy of the loaded path (null when the copy failed)
  CLosslessReaderStream* m_pStream = nullptr;  // the output pin, owned through CSource's pin list

  // Set up by Load; afterwards touched by one thread at a time (see the class comment).
  AlacDecoder m_alac{};
  FileStream m_stream{};
  DemuxResult m_demux_res{};
  FILE* m_pFile = nullptr;        // owned; non-null once a file is loaded
  BYTE* m_pDestBuffer = nullptr;  // owned: the PCM of one decoded frame
  uint32_t m_destBufferBytes = 0;  // its size: the most one frame of this file decodes to
  BYTE* m_buffer = nullptr;       // owned: the compressed bytes of one frame
  uint32_t m_index = 0;           // the next frame to decode
  // The part of the decoded frame in m_pDestBuffer not yet delivered: a frame that does not
  // fit in what is left of a sample continues in the next one.
  uint32_t m_pendingOffset = 0;
  uint32_t m_pendingBytes = 0;
};

}  // namespace lossless_reader
