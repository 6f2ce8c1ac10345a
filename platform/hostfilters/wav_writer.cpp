#include "adopt_new_filter.h"
#include "wav_writer.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "hostfilter_guids.h"
#include "objbase.h"
#include "pcm_format.h"
#include "renderer_pin.h"

namespace cehost {
namespace {

void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void BuildHeader(const WAVEFORMATEX& wfx, uint32_t dataBytes, uint8_t header[CWavWriter::kHeaderBytes]) {
  std::memcpy(header, "RIFF", 4);
  Put32(header + 4, 36 + dataBytes + (dataBytes & 1));
  std::memcpy(header + 8, "WAVEfmt ", 8);
  Put32(header + 16, 16);
  Put16(header + 20, WAVE_FORMAT_PCM);
  Put16(header + 22, wfx.nChannels);
  Put32(header + 24, wfx.nSamplesPerSec);
  Put32(header + 28, wfx.nAvgBytesPerSec);
  Put16(header + 32, wfx.nBlockAlign);
  Put16(header + 34, wfx.wBitsPerSample);
  std::memcpy(header + 36, "data", 4);
  Put32(header + 40, dataBytes);
}

// The largest data size whose RIFF size (36 + data + pad) still fits 32 bits.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36 - 1;

}  // namespace

CWavWriter::CWavWriter(HRESULT* phr) : CBaseRenderer(CLSID_HostWavWriter, NAME("WAV writer"), nullptr, phr) {}

CWavWriter::~CWavWriter() { CloseFile(); }

HRESULT CWavWriter::Create(CWavWriter** writer) {
  HRESULT hr = S_OK;
  return AdoptNewFilter(new (std::nothrow) CWavWriter(&hr), &hr, writer);
}

STDMETHODIMP CWavWriter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IFileSinkFilter) return GetInterface(static_cast<IFileSinkFilter*>(this), ppv);
  return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CWavWriter::SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE*) {
  CheckPointer(pszFileName, E_POINTER);
  CAutoLock lock(&m_InterfaceLock);
  if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
  m_fileName = pszFileName;
  return S_OK;
}

STDMETHODIMP CWavWriter::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
  CheckPointer(ppszFileName, E_POINTER);
  CAutoLock lock(&m_InterfaceLock);
  *ppszFileName = nullptr;
  if (!m_fileName.empty()) {
    const HRESULT hr = AMGetWideString(m_fileName.c_str(), ppszFileName);
    if (FAILED(hr)) return hr;
  }
  if (pmt) {
    const HRESULT hr = m_pInputPin ? m_pInputPin->ConnectionMediaType(pmt) : VFW_E_NOT_CONNECTED;
    if (FAILED(hr)) static_cast<CMediaType*>(pmt)->InitMediaType();
  }
  return S_OK;
}

HRESULT CWavWriter::CheckMediaType(const CMediaType* pmt) {
  WAVEFORMATEX wfx;
  return PcmFormatFromMediaType(*pmt, &wfx);
}

HRESULT CWavWriter::SetMediaType(const CMediaType* pmt) {
  WAVEFORMATEX wfx;
  HRESULT hr = PcmFormatFromMediaType(*pmt, &wfx);
  if (FAILED(hr)) return hr;
  CAutoLock sampleLock(&m_RendererLock);
  if (m_file && std::memcmp(&wfx, &m_format, sizeof(wfx)) != 0) return VFW_E_TYPE_NOT_ACCEPTED;
  m_format = wfx;
  return S_OK;
}

HRESULT CWavWriter::OpenFile() {
  CAutoLock sampleLock(&m_RendererLock);
  if (m_file) return S_OK;
  if (m_fileName.empty()) return E_UNEXPECTED;
  m_file = _wfopen(m_fileName.c_str(), u"wb");
  if (!m_file) {
    switch (errno) {
      case ENOENT:
      case ENOTDIR:
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
      case EACCES:
      case EPERM:
      case EROFS:
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
      case ENOSPC:
        return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
      default:
        return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    }
  }
  m_dataBytes = 0;
  m_writeError = S_OK;
  uint8_t header[kHeaderBytes];
  BuildHeader(m_format, 0, header);
  if (std::fwrite(header, 1, sizeof(header), m_file) != sizeof(header)) m_writeError = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
  return m_writeError;
}

STDMETHODIMP CWavWriter::Run(REFERENCE_TIME tStart) {
  CAutoLock lock(&m_InterfaceLock);
  // The file is made when the graph first runs, so a failure fails the run.
  if (m_State != State_Running && m_pInputPin && m_pInputPin->IsConnected()) {
    const HRESULT hr = OpenFile();
    if (FAILED(hr)) return hr;
  }
  return CBaseRenderer::Run(tStart);
}

HRESULT CWavWriter::DoRenderSample(IMediaSample* pSample) {
  if (!m_file) return E_UNEXPECTED;
  if (FAILED(m_writeError)) return m_writeError;
  BYTE* data = nullptr;
  HRESULT hr = pSample->GetPointer(&data);
  if (FAILED(hr)) return hr;
  const LONG length = pSample->GetActualDataLength();
  if (length <= 0) return S_OK;
  if (m_dataBytes + static_cast<uint64_t>(length) > kMaxDataBytes) {
    m_writeError = HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
    return m_writeError;
  }
  if (std::fwrite(data, 1, static_cast<size_t>(length), m_file) != static_cast<size_t>(length)) {
    m_writeError = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    return m_writeError;
  }
  m_dataBytes += static_cast<uint64_t>(length);
  return S_OK;
}

HRESULT CWavWriter::CloseFile() {
  CAutoLock sampleLock(&m_RendererLock);
  if (!m_file) return S_OK;
  HRESULT hr = m_writeError;
  uint8_t header[kHeaderBytes];
  const uint32_t bytes = static_cast<uint32_t>(m_dataBytes);
  BuildHeader(m_format, bytes, header);
  const uint8_t pad = 0;
  if ((bytes & 1) && std::fwrite(&pad, 1, 1, m_file) != 1) hr = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
  if (std::fseek(m_file, 0, SEEK_SET) != 0 || std::fwrite(header, 1, sizeof(header), m_file) != sizeof(header))
    hr = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
  if (std::fclose(m_file) != 0 && SUCCEEDED(hr)) hr = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
  m_file = nullptr;
  return hr;
}

STDMETHODIMP CWavWriter::Stop() {
  const HRESULT hr = CBaseRenderer::Stop();
  const HRESULT hrClose = CloseFile();
  return FAILED(hr) ? hr : hrClose;
}

uint64_t CWavWriter::DataBytes() {
  CAutoLock sampleLock(&m_RendererLock);
  return m_dataBytes;
}

}  // namespace cehost
