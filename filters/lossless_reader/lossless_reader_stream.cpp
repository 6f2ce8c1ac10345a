#include "lossless_reader_stream.h"

#include <cstring>

#include "debug_print.h"
#include "lossless_reader_filter.h"
#include "sample_table.h"

namespace lossless_reader {

namespace {

// 100 ns units of a number of sound samples at a rate (rounded down; rate not 0).
REFERENCE_TIME SamplesToTime(uint64_t samples, uint32_t rate) {
  return REFERENCE_TIME(samples / rate * UNITS + samples % rate * UNITS / rate);
}

}  // namespace

CLosslessReaderStream::CLosslessReaderStream(HRESULT* phr, CLosslessReaderFilter* pFilter)
    : CSourceStream(nullptr, phr, pFilter, u"Output"),
      CSourceSeeking(nullptr, static_cast<IPin*>(this), phr, &m_csStream),
      m_pReader(pFilter) {
  CAutoLock lock(&m_csStream);
  m_rtDuration = kDefaultDuration;
  m_rtStop = kDefaultDuration;
}

CLosslessReaderStream::~CLosslessReaderStream() = default;

STDMETHODIMP CLosslessReaderStream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IMediaSeeking) return CSourceSeeking::NonDelegatingQueryInterface(riid, ppv);
  return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

void CLosslessReaderStream::SetDuration(REFERENCE_TIME duration) {
  CAutoLock lock(&m_csStream);
  m_rtDuration = duration;
  m_rtStop = duration;
}

HRESULT CLosslessReaderStream::GetMediaType(CMediaType* pmt) {
  CheckPointer(pmt, E_POINTER);
  CAutoLock lock(m_pFilter->pStateLock());
  return pmt->Set(m_pReader->m_mt);
}

HRESULT CLosslessReaderStream::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
  CheckPointer(pAlloc, E_POINTER);
  CheckPointer(pRequest, E_POINTER);
  CAutoLock lock(m_pFilter->pStateLock());
  pRequest->cBuffers = kSampleCount;
  pRequest->cbBuffer = kSampleBytes;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < kSampleBytes ? E_FAIL : S_OK;
}

STDMETHODIMP CLosslessReaderStream::Notify(IBaseFilter*, Quality) { return S_OK; }

HRESULT CLosslessReaderStream::OnThreadCreate() {
  CAutoLock lock(&m_csStream);
  m_rtPosition = m_rtStart;
  m_rtStreamTime = 0;
  // A start set while stopped is where playback begins (frame 0 for a start of 0).
  if (!Reposition(m_rtStart)) DebugPrint(u"CLosslessReaderStream::OnThreadCreate - alac_seek() failed.");
  return S_OK;
}

HRESULT CLosslessReaderStream::OnThreadDestroy() { return S_OK; }

HRESULT CLosslessReaderStream::OnThreadStartPlay() {
  REFERENCE_TIME start, stop;
  double rate;
  {
    CAutoLock lock(&m_csStream);
    m_bDiscontinuity = TRUE;
    start = m_rtStart;
    stop = m_rtStop;
    rate = m_dRateSeeking;
  }
  return DeliverNewSegment(start, stop, rate);
}

bool CLosslessReaderStream::Reposition(REFERENCE_TIME position) {
  CLosslessReaderFilter* f = m_pReader;
  const uint32_t rate = f->m_demux_res.sound_sample_rate;
  // Whole seconds times the rate; a position before 0 means 0, one beyond what 32 bits count
  // lies past the end of any track.
  const double target = position <= 0 ? 0.0 : double(position / UNITS) * rate;
  if (target >= 4294967296.0) return false;
  uint32_t done = 0, index = 0;
  if (!alac_seek(&f->m_demux_res, &f->m_stream, uint32_t(target), &done, &index)) return false;
  f->m_index = index;
  f->m_pendingOffset = 0;
  f->m_pendingBytes = 0;
  m_rtPosition = SamplesToTime(done, rate);
  return true;
}

HRESULT CLosslessReaderStream::DecodeNextFrame() {
  CLosslessReaderFilter* f = m_pReader;
  if (f->m_index >= f->m_demux_res.sample_size_count) {
    DebugPrint(u"CLosslessReaderStream::FillBuffer - EOF, pFilter->m_index = %d", int(f->m_index));
    return S_FALSE;
  }
  uint32_t duration = 0, size = 0;
  if (!lookup_sample(&f->m_demux_res, f->m_index, &duration, &size)) {
    DebugPrint(u"CLosslessReaderStream::FillBuffer - sample failed.");
    return S_FALSE;
  }
  if (size > CLosslessReaderFilter::kCompressedFrameBytes) {
    DebugPrint(u"CLosslessReaderStream::FillBuffer - sorry buffer too small! (is 1024 * 64 want %i)", int(size));
    return S_FALSE;
  }
  stream_read(&f->m_stream, size, f->m_buffer);
  uint32_t bytes = 0;
  decode_frame(&f->m_alac, f->m_buffer, size, f->m_pDestBuffer, f->m_destBufferBytes, &bytes);
  f->m_index += 1;
  // The count is whole sound samples; a frame declaring more than the buffer holds (other bit
  // depths are not decoded) is cut to what the buffer has.
  if (bytes > f->m_destBufferBytes) bytes = f->m_destBufferBytes - f->m_destBufferBytes % f->m_alac.bytes_per_frame;
  f->m_pendingOffset = 0;
  f->m_pendingBytes = bytes;
  return S_OK;
}

HRESULT CLosslessReaderStream::FillBuffer(IMediaSample* pSample) {
  CheckPointer(pSample, E_POINTER);
  CAutoLock lock(&m_csStream);
  CLosslessReaderFilter* f = m_pReader;
  if (m_rtPosition >= m_rtStop) return S_FALSE;

  BYTE* data = nullptr;
  HRESULT hr = pSample->GetPointer(&data);
  if (FAILED(hr)) return hr;
  // Whole sound samples only (DecideBufferSize made the sample larger than one).
  const uint32_t unit = f->m_alac.bytes_per_frame > 0 ? uint32_t(f->m_alac.bytes_per_frame) : 1;
  const uint32_t room = uint32_t(pSample->GetSize()) - uint32_t(pSample->GetSize()) % unit;
  ASSERT(room > 0);

  uint32_t filled = 0;
  while (filled < room) {
    if (f->m_pendingBytes == 0) {
      if (DecodeNextFrame() != S_OK) {
        if (filled == 0) return S_FALSE;
        // Deliver what this sample already holds; the same stop ends the stream next time.
        break;
      }
    }
    const uint32_t n = f->m_pendingBytes < room - filled ? f->m_pendingBytes : room - filled;
    std::memcpy(data + filled, f->m_pDestBuffer + f->m_pendingOffset, n);
    filled += n;
    f->m_pendingOffset += n;
    f->m_pendingBytes -= n;
    if (f->m_pendingBytes == 0 && f->m_index >= f->m_demux_res.sample_size_count) break;
  }
  pSample->SetActualDataLength(LONG(filled));

  const DemuxResult& res = f->m_demux_res;
  const int64_t bytes_per_second = int64_t(res.sound_sample_size / 8) * res.channel_count * res.sound_sample_rate;
  const REFERENCE_TIME d = REFERENCE_TIME(filled) * UNITS / bytes_per_second;
  REFERENCE_TIME start = REFERENCE_TIME(double(m_rtStreamTime) / m_dRateSeeking);
  REFERENCE_TIME stop = start + REFERENCE_TIME(double(d) / m_dRateSeeking);
  pSample->SetTime(&start, &stop);
  m_rtStreamTime += d;
  m_rtPosition += d;

  pSample->SetSyncPoint(TRUE);
  if (m_bDiscontinuity) {
    pSample->SetDiscontinuity(TRUE);
    m_bDiscontinuity = FALSE;
  }
  return S_OK;
}

void CLosslessReaderStream::UpdateFromSeek(bool newStart) {
  if (!ThreadExists()) return;
  DeliverBeginFlush();
  Stop();
  DeliverEndFlush();
  {
    CAutoLock lock(&m_csStream);
    if (newStart) {
      // The worker may have filled one more sample between the seek and its stop, moving
      // both on: the new start holds all the same.
      m_rtPosition = m_rtStart;
      m_rtStreamTime = 0;
    }
    if (!Reposition(m_rtPosition)) DebugPrint(u"CLosslessReaderStream::UpdateFromSeek - alac_seek() failed.");
  }
  Run();
}

HRESULT CLosslessReaderStream::ChangeStart() {
  {
    CAutoLock lock(&m_csStream);
    m_rtPosition = m_rtStart;
    m_rtStreamTime = 0;
  }
  UpdateFromSeek(true);
  return S_OK;
}

HRESULT CLosslessReaderStream::ChangeStop() {
  {
    CAutoLock lock(&m_csStream);
    if (m_rtPosition < m_rtStop) return S_OK;
  }
  UpdateFromSeek(false);
  return S_OK;
}

HRESULT CLosslessReaderStream::ChangeRate() { return S_OK; }

STDMETHODIMP CLosslessReaderStream::SetRate(double dRate) {
  if (dRate != 1.0) return E_INVALIDARG;
  {
    CAutoLock lock(&m_csStream);
    m_dRateSeeking = dRate;
  }
  UpdateFromSeek(false);
  return S_OK;
}

}  // namespace lossless_reader
