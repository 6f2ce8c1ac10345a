#include "adopt_new_filter.h"
#include "wav_file_source.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "hostfilter_guids.h"
#include "objbase.h"
#include "pcm_format.h"
#include "sourceseeking.h"
#include "sourcestream.h"

namespace cehost {
namespace {

// About this much audio per sample, and never more than this many bytes.
constexpr DWORD kSampleMs = 100;
constexpr uint64_t kMaxSampleBytes = 1 << 20;

class FileByteSource : public WavByteSource {
 public:
  FileByteSource(FILE* file, uint64_t size) : file_(file), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override {
    if (offset > size_ || n > size_ - offset) return false;
    if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return std::fread(buffer, 1, n, file_) == n;
  }

 private:
  FILE* file_;
  uint64_t size_;
};

HRESULT OpenError(int error) {
  switch (error) {
    case ENOENT:
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case ENOTDIR:
      return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
      return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    default:
      return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
  }
}

}  // namespace

class CWavFileSource::CWavFileStream : public CSourceStream, public CSourceSeeking {
 public:
  CWavFileStream(CWavFileSource* filter, HRESULT* phr)
      : CSourceStream(NAME("WAV file stream"), phr, filter, u"Output"),
        CSourceSeeking(NAME("WAV file seeking"), static_cast<IPin*>(this), phr, &m_csStream) {}

  ~CWavFileStream() override {
    if (m_file) std::fclose(m_file);
  }

  DECLARE_IUNKNOWN

  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IMediaSeeking) return CSourceSeeking::NonDelegatingQueryInterface(riid, ppv);
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
  }

  // Takes the opened file over (Load, before any connection).
  void SetFile(FILE* file, const WavInfo& info) {
    CAutoLock lock(&m_csStream);
    m_file = file;
    m_info = info;
    m_rtDuration = FramesToTime(info.Frames(), info.format.nSamplesPerSec);
    m_rtStop = m_rtDuration;
  }

  WavInfo Info() {
    CAutoLock lock(&m_csStream);
    return m_info;
  }

  HRESULT GetMediaType(CMediaType* pmt) override {
    CAutoLock lock(&m_csStream);
    if (!m_file) return E_UNEXPECTED;
    return MediaTypeFromPcmFormat(m_info.format, pmt);
  }

  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* request) override {
    LONG bytes;
    {
      CAutoLock lock(&m_csStream);
      if (!m_file) return E_UNEXPECTED;
      const uint64_t block = m_info.format.nBlockAlign;
      uint64_t frames = std::max<uint64_t>(1, uint64_t{m_info.format.nSamplesPerSec} * kSampleMs / 1000);
      frames = std::max<uint64_t>(1, std::min(frames, kMaxSampleBytes / block));
      bytes = static_cast<LONG>(frames * block);
    }
    request->cBuffers = std::max<LONG>(request->cBuffers, 4);
    request->cbBuffer = bytes;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < bytes ? E_FAIL : S_OK;
  }

 protected:
  HRESULT OnThreadCreate() override {
    CAutoLock lock(&m_csStream);
    Reposition();
    return S_OK;
  }

  HRESULT OnThreadStartPlay() override {
    REFERENCE_TIME start, stop;
    double rate;
    {
      CAutoLock lock(&m_csStream);
      start = m_rtStart;
      stop = m_rtStop;
      rate = m_dRateSeeking;
    }
    return DeliverNewSegment(start, stop, rate);
  }

  HRESULT FillBuffer(IMediaSample* pSample) override {
    CAutoLock lock(&m_csStream);
    if (m_next >= m_end) return S_FALSE;
    BYTE* data = nullptr;
    HRESULT hr = pSample->GetPointer(&data);
    if (FAILED(hr)) return hr;
    const uint64_t block = m_info.format.nBlockAlign;
    const uint64_t frames = std::min<uint64_t>(static_cast<uint64_t>(pSample->GetSize()) / block, m_end - m_next);
    if (frames == 0) return E_UNEXPECTED;
    const size_t bytes = static_cast<size_t>(frames * block);
    if (fseeko(m_file, static_cast<off_t>(m_info.dataOffset + m_next * block), SEEK_SET) != 0 ||
        std::fread(data, 1, bytes, m_file) != bytes)
      return HRESULT_FROM_WIN32(ERROR_READ_FAULT);  // the file shrank since it was loaded
    pSample->SetActualDataLength(static_cast<LONG>(bytes));

    const DWORD rate = m_info.format.nSamplesPerSec;
    REFERENCE_TIME start = static_cast<REFERENCE_TIME>(FramesToTime(m_played, rate) / m_dRateSeeking);
    REFERENCE_TIME stop = static_cast<REFERENCE_TIME>(FramesToTime(m_played + frames, rate) / m_dRateSeeking);
    pSample->SetTime(&start, &stop);
    LONGLONG mediaStart = static_cast<LONGLONG>(m_next), mediaStop = static_cast<LONGLONG>(m_next + frames);
    pSample->SetMediaTime(&mediaStart, &mediaStop);
    pSample->SetSyncPoint(TRUE);
    pSample->SetDiscontinuity(m_discontinuity);
    m_discontinuity = FALSE;
    m_next += frames;
    m_played += frames;
    return S_OK;
  }

  HRESULT ChangeStart() override { return Restart(); }
  HRESULT ChangeRate() override { return Restart(); }
  HRESULT ChangeStop() override {
    {
      CAutoLock lock(&m_csStream);
      const uint64_t end = EndFrame();
      // Still ahead: the worker just stops earlier (or later).
      if (m_next < end || m_next < m_end) {
        m_end = end;
        if (m_next < m_end) return S_OK;
      }
    }
    return Restart();
  }

 private:
  uint64_t EndFrame() const {
    if (m_rtStop >= m_rtDuration) return m_info.Frames();
    return std::min(TimeToFrames(m_rtStop, m_info.format.nSamplesPerSec), m_info.Frames());
  }

  // The worker's position from the seeking state (m_csStream held).
  void Reposition() {
    m_next = std::min(TimeToFrames(m_rtStart, m_info.format.nSamplesPerSec), m_info.Frames());
    m_end = EndFrame();
    m_played = 0;
    m_discontinuity = TRUE;
  }

  // A seek while the worker runs: flush what is downstream, stop the worker, reposition,
  // start it again. While stopped the next run picks the new positions up.
  HRESULT Restart() {
    if (!ThreadExists()) return S_OK;
    DeliverBeginFlush();
    Stop();
    DeliverEndFlush();
    {
      CAutoLock lock(&m_csStream);
      Reposition();
    }
    Run();
    return S_OK;
  }

  CCritSec m_csStream;
  // Guarded by m_csStream.
  FILE* m_file = nullptr;  // owned
  WavInfo m_info;
  uint64_t m_next = 0;    // next frame to read
  uint64_t m_end = 0;     // frame to stop at
  uint64_t m_played = 0;  // frames delivered since the last start or seek
  BOOL m_discontinuity = TRUE;
};

CWavFileSource::CWavFileSource(HRESULT* phr) : CSource(NAME("WAV file source"), nullptr, CLSID_HostWavFileSource) {
  CAutoLock lock(&m_cStateLock);
  m_pStream = new (std::nothrow) CWavFileStream(this, phr);
  if (!m_pStream && phr) *phr = E_OUTOFMEMORY;
}

CWavFileSource::~CWavFileSource() = default;

HRESULT CWavFileSource::Create(CWavFileSource** source) {
  HRESULT hr = S_OK;
  return AdoptNewFilter(new (std::nothrow) CWavFileSource(&hr), &hr, source);
}

STDMETHODIMP CWavFileSource::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
  return CSource::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CWavFileSource::Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE*) {
  CheckPointer(pszFileName, E_POINTER);
  CAutoLock lock(&m_cStateLock);
  if (!m_fileName.empty()) return E_UNEXPECTED;
  FILE* file = _wfopen(pszFileName, u"rb");
  if (!file) {
    const int error = errno;
    m_loadError = "cannot open the file";
    return OpenError(error);
  }
  uint64_t size = 0;
  if (fseeko(file, 0, SEEK_END) == 0) size = static_cast<uint64_t>(ftello(file));
  FileByteSource bytes(file, size);
  WavInfo info;
  const HRESULT hr = ParseWav(bytes, &info, &m_loadError);
  if (FAILED(hr)) {
    std::fclose(file);
    return hr;
  }
  m_pStream->SetFile(file, info);
  m_fileName = pszFileName;
  m_loadError.clear();
  return S_OK;
}

STDMETHODIMP CWavFileSource::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
  CheckPointer(ppszFileName, E_POINTER);
  CAutoLock lock(&m_cStateLock);
  *ppszFileName = nullptr;
  if (!m_fileName.empty()) {
    const HRESULT hr = AMGetWideString(m_fileName.c_str(), ppszFileName);
    if (FAILED(hr)) return hr;
  }
  if (pmt) {
    CMediaType mt;
    if (FAILED(m_pStream->GetMediaType(&mt))) mt.InitMediaType();
    return CopyMediaType(pmt, &mt);
  }
  return S_OK;
}

std::string CWavFileSource::LoadError() {
  CAutoLock lock(&m_cStateLock);
  return m_loadError;
}

WavInfo CWavFileSource::Info() { return m_pStream->Info(); }

}  // namespace cehost
