#include "sourcestream.h"

#include "source.h"
#include "thread_priority.h"

CSourceStream::CSourceStream(LPCTSTR pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName)
    : CAMThread(phr), CBaseOutputPin(pObjectName, pms, pms->pStateLock(), phr, pName), m_pFilter(pms) {
  const HRESULT hr = m_pFilter->AddPin(this);
  if (FAILED(hr) && phr) *phr = hr;
}

CSourceStream::~CSourceStream() { m_pFilter->RemovePin(this); }

STDMETHODIMP CSourceStream::QueryId(LPWSTR* Id) {
  CheckPointer(Id, E_POINTER);
  const int number = m_pFilter->FindPinNumber(this) + 1;
  if (number < 1) return VFW_E_NOT_FOUND;
  WCHAR text[16];
  swprintf(text, 16, u"%d", number);
  return AMGetWideString(text, Id);
}

HRESULT CSourceStream::Active() {
  CAutoLock lock(m_pFilter->pStateLock());
  if (m_pFilter->IsActive()) return S_FALSE;
  if (!IsConnected()) return S_OK;
  HRESULT hr = CBaseOutputPin::Active();
  if (FAILED(hr)) return hr;
  ASSERT(!ThreadExists());
  if (!Create()) return E_FAIL;
  CeSetThreadPriority(ThreadHandle(), cehost::dshow::SourceThreadPriority());
  hr = Init();
  if (FAILED(hr)) return hr;
  return Pause();
}

HRESULT CSourceStream::Inactive() {
  CAutoLock lock(m_pFilter->pStateLock());
  if (!IsConnected()) return S_OK;
  // Decommitting first makes a worker waiting for a buffer give up.
  HRESULT hr = CBaseOutputPin::Inactive();
  if (FAILED(hr)) return hr;
  if (ThreadExists()) {
    hr = Stop();
    if (FAILED(hr)) return hr;
    hr = Exit();
    if (FAILED(hr)) return hr;
    Close();
  }
  return S_OK;
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* pMediaType) {
  CAutoLock lock(m_pFilter->pStateLock());
  CMediaType mt;
  if (GetMediaType(&mt) != S_OK) return E_FAIL;
  return mt == *pMediaType ? S_OK : E_FAIL;
}

HRESULT CSourceStream::GetMediaType(int iPosition, CMediaType* pMediaType) {
  CAutoLock lock(m_pFilter->pStateLock());
  if (iPosition < 0) return E_INVALIDARG;
  if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
  return GetMediaType(pMediaType);
}

HRESULT CSourceStream::GetMediaType(CMediaType*) { return E_UNEXPECTED; }

DWORD CSourceStream::ThreadProc() {
  Command com;
  do {
    com = GetRequest();
    if (com != CMD_INIT) Reply(static_cast<DWORD>(E_UNEXPECTED));
  } while (com != CMD_INIT);

  HRESULT hr = OnThreadCreate();
  if (FAILED(hr)) {
    OnThreadDestroy();
    Reply(static_cast<DWORD>(hr));
    return 1;
  }
  Reply(S_OK);

  Command cmd;
  do {
    cmd = GetRequest();
    switch (cmd) {
      case CMD_EXIT:
      case CMD_STOP:
        Reply(S_OK);
        break;
      case CMD_RUN:
      case CMD_PAUSE:
        Reply(S_OK);
        DoBufferProcessingLoop();
        break;
      default:
        Reply(static_cast<DWORD>(E_NOTIMPL));
        break;
    }
  } while (cmd != CMD_EXIT);

  hr = OnThreadDestroy();
  return FAILED(hr) ? 1 : 0;
}

namespace {

// Failures a downstream filter gives while it is being stopped; they end delivery quietly.
bool IsStateChangeFailure(HRESULT hr) {
  return hr == VFW_E_WRONG_STATE || hr == VFW_E_NOT_COMMITTED || hr == VFW_E_NOT_CONNECTED;
}

}  // namespace

HRESULT CSourceStream::DoBufferProcessingLoop() {
  Command com;
  OnThreadStartPlay();
  do {
    while (!CheckRequest(&com)) {
      IMediaSample* pSample = nullptr;
      HRESULT hr = GetDeliveryBuffer(&pSample, nullptr, nullptr, 0);
      if (FAILED(hr)) {
        // Decommitted: a command is on its way.
        Sleep(1);
        continue;
      }
      hr = FillBuffer(pSample);
      if (hr == S_OK) {
        hr = Deliver(pSample);
        pSample->Release();
        if (hr == S_OK) continue;
        // Downstream refused: flushing or stopping (wait for the next command), or failed.
        if (FAILED(hr) && !IsStateChangeFailure(hr)) m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
        return S_OK;
      }
      pSample->Release();
      DeliverEndOfStream();
      if (hr == S_FALSE) return S_OK;
      m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
      return hr;
    }
    // Run and Pause need no change of course; anything but Stop is unexpected here.
    if (com == CMD_RUN || com == CMD_PAUSE)
      Reply(S_OK);
    else if (com != CMD_STOP)
      Reply(static_cast<DWORD>(E_UNEXPECTED));
  } while (com != CMD_STOP);
  return S_FALSE;
}
