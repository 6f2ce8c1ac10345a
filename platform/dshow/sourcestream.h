// CSourceStream: the output pin of a CSource, with a worker thread that fills and delivers
// buffers.
//
// When the filter pauses from stopped, the pin commits its allocator and starts the worker
// (OnThreadCreate, then the delivery loop: OnThreadStartPlay, then FillBuffer and Deliver
// until FillBuffer returns S_FALSE, after which the base delivers end of stream). A failure
// from FillBuffer ends the stream too and sends EC_ERRORABORT; so does a failure from
// downstream (other than a stopped or flushing downstream). When the filter stops, the pin
// decommits its allocator and ends the worker (OnThreadDestroy).
//
// Run, Pause and Stop (the commands, not the filter states) restart or end the delivery
// loop: a seeking source calls DeliverBeginFlush, Stop, DeliverEndFlush, repositions, then
// Run.
//
// A derived stream supplies FillBuffer, DecideBufferSize and either GetMediaType(CMediaType*)
// (one type, which CheckMediaType then requires exactly) or the position form with
// CheckMediaType.
//
// Threads: the worker runs FillBuffer and delivery; commands come from the application's
// thread through CAMThread::CallWorker. The worker's priority is the registry's source
// thread priority (thread_priority.h).
#pragma once

#include "amthread.h"
#include "outputpin.h"

class CSource;

class CSourceStream : public CAMThread, public CBaseOutputPin {
 public:
  // pms: the filter, which the stream adds itself to.
  CSourceStream(LPCTSTR pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName);
  ~CSourceStream() override;

  // Starts the worker when the filter pauses from stopped (connected pins only).
  HRESULT Active() override;
  // Decommits, then ends the worker.
  HRESULT Inactive() override;

  // The one-based pin number.
  STDMETHODIMP QueryId(LPWSTR* Id) override;

  // Optional: the base accepts exactly the type of GetMediaType(CMediaType*).
  HRESULT CheckMediaType(const CMediaType* pMediaType) override;
  // Optional: the base offers GetMediaType(CMediaType*) at position 0.
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
  // Required unless the position form is overridden. The base returns E_UNEXPECTED.
  virtual HRESULT GetMediaType(CMediaType* pMediaType);

 protected:
  enum Command { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };

  // Required: fills the sample (data, length, times, flags). S_OK delivers it, S_FALSE ends
  // the stream, a failure ends it with EC_ERRORABORT.
  virtual HRESULT FillBuffer(IMediaSample* pSamp) = 0;
  // Optional hooks on the worker thread; the base does nothing. OnThreadCreate runs once
  // when the worker starts (a failure stops it), OnThreadStartPlay each time the delivery
  // loop starts, OnThreadDestroy when the worker ends.
  virtual HRESULT OnThreadCreate() { return S_OK; }
  virtual HRESULT OnThreadDestroy() { return S_OK; }
  virtual HRESULT OnThreadStartPlay() { return S_OK; }

  // Commands to the worker (application thread); each waits for the worker's answer.
  HRESULT Init() { return static_cast<HRESULT>(CallWorker(CMD_INIT)); }
  HRESULT Exit() { return static_cast<HRESULT>(CallWorker(CMD_EXIT)); }
  HRESULT Run() { return static_cast<HRESULT>(CallWorker(CMD_RUN)); }
  HRESULT Pause() { return static_cast<HRESULT>(CallWorker(CMD_PAUSE)); }
  HRESULT Stop() { return static_cast<HRESULT>(CallWorker(CMD_STOP)); }

  Command GetRequest() { return static_cast<Command>(CAMThread::GetRequest()); }
  BOOL CheckRequest(Command* pCom) {
    DWORD param = 0;
    const BOOL got = CAMThread::CheckRequest(&param);
    if (got && pCom) *pCom = static_cast<Command>(param);
    return got;
  }

  // The worker's body: commands until CMD_EXIT, the delivery loop for Run and Pause.
  DWORD ThreadProc() override;
  // Optional to override: delivers until a command arrives or the stream ends.
  virtual HRESULT DoBufferProcessingLoop();

  CSource* m_pFilter;  // the owning filter
};
