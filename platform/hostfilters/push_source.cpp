#include "adopt_new_filter.h"
#include "push_source.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "hostfilter_guids.h"

namespace cehost {

class CPushSource::CPushStream : public CSourceStream {
 public:
  CPushStream(CPushSource* filter, HRESULT* phr)
      : CSourceStream(NAME("Push stream"), phr, filter, u"Output"), m_source(filter) {}

  HRESULT GetMediaType(CMediaType* pmt) override {
    *pmt = m_source->m_config.outputType;
    return S_OK;
  }

  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* request) override {
    LONG largest = 1;
    for (const PushBuffer& b : m_source->m_config.buffers) {
      const LONG size = static_cast<LONG>(b.bytes.size());
      largest = std::max(largest, m_source->m_config.pieceSize > 0 ? std::min(size, m_source->m_config.pieceSize) : size);
    }
    request->cBuffers = std::max<LONG>(1, m_source->m_config.bufferCount);
    request->cbBuffer = largest;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < largest ? E_FAIL : S_OK;
  }

 protected:
  HRESULT OnThreadCreate() override {
    m_buffer = 0;
    m_offset = 0;
    return S_OK;
  }

  HRESULT FillBuffer(IMediaSample* pSample) override {
    const std::vector<PushBuffer>& buffers = m_source->m_config.buffers;
    if (m_buffer >= buffers.size()) return S_FALSE;
    const PushBuffer& b = buffers[m_buffer];
    if (FAILED(b.fillResult)) return b.fillResult;

    const size_t left = b.bytes.size() - m_offset;
    const LONG piece = m_source->m_config.pieceSize;
    const size_t n = piece > 0 ? std::min(left, static_cast<size_t>(piece)) : left;
    BYTE* data = nullptr;
    HRESULT hr = pSample->GetPointer(&data);
    if (FAILED(hr)) return hr;
    if (n > static_cast<size_t>(pSample->GetSize())) return E_UNEXPECTED;
    if (n) std::memcpy(data, b.bytes.data() + m_offset, n);
    pSample->SetActualDataLength(static_cast<LONG>(n));

    if (m_offset == 0) {
      if (b.hasTime) {
        REFERENCE_TIME start = b.start, stop = b.stop;
        pSample->SetTime(&start, &stop);
      }
      if (b.hasMediaTime) {
        LONGLONG start = b.mediaStart, stop = b.mediaStop;
        pSample->SetMediaTime(&start, &stop);
      }
      pSample->SetSyncPoint(b.syncPoint);
      pSample->SetPreroll(b.preroll);
      pSample->SetDiscontinuity(b.discontinuity);
      if (b.type) {
        hr = pSample->SetMediaType(const_cast<CMediaType*>(&*b.type));
        if (FAILED(hr)) return hr;
      }
    }
    m_offset += n;
    if (m_offset >= b.bytes.size()) {
      m_buffer++;
      m_offset = 0;
    }
    return S_OK;
  }

  HRESULT Deliver(IMediaSample* pSample) override {
    const HRESULT hr = CSourceStream::Deliver(pSample);
    if (hr == S_OK) m_source->m_delivered++;
    return hr;
  }

 private:
  CPushSource* m_source;
  // The worker's position in the script (worker thread only).
  size_t m_buffer = 0;
  size_t m_offset = 0;
};

CPushSource::CPushSource(PushSourceConfig config, HRESULT* phr)
    : CSource(NAME("Push source"), nullptr, CLSID_HostPushSource), m_config(std::move(config)) {
  CPushStream* stream = new (std::nothrow) CPushStream(this, phr);
  if (!stream && phr) *phr = E_OUTOFMEMORY;
}

HRESULT CPushSource::Create(PushSourceConfig config, CPushSource** source) {
  HRESULT hr = S_OK;
  return AdoptNewFilter(new (std::nothrow) CPushSource(std::move(config), &hr), &hr, source);
}

}  // namespace cehost
