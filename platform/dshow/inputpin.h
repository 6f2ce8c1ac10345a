// CBaseInputPin: an input pin that receives samples through IMemInputPin. It hands out an
// allocator when the upstream pin asks (a CMemAllocator unless overridden), remembers the
// allocator the upstream pin chose, and keeps the flushing and run-time error state that
// CheckStreaming reports.
//
// A derived pin (or its filter) overrides Receive, calls the base Receive first and goes on
// only when it returned S_OK. The base Receive also re-checks a media type attached to the
// sample (CheckMediaType); a refused type is a run-time error: the stream ends and the graph
// gets EC_ERRORABORT.
//
// Threads: Receive, EndOfStream and NewSegment come from the upstream streaming thread;
// BeginFlush/EndFlush and state changes from the application's thread (filter lock).
// m_bFlushing and m_bRunTimeError are shared between them and atomic.
#pragma once

#include <atomic>

#include "basepin.h"

class CBaseInputPin : public CBasePin, public IMemInputPin {
 public:
  CBaseInputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName);
  ~CBaseInputPin() override;

  DECLARE_IUNKNOWN
  // Answers IMemInputPin; overrides call the base.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Optional to override: the allocator this pin proposes (created on first use).
  STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
  // Optional to override (call the base): records the allocator upstream will use.
  STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
  // Optional: the base states no requirements (E_NOTIMPL).
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
  // Required in practice: the base only checks (CheckStreaming and an attached media type)
  // and returns S_OK when the sample may be processed.
  STDMETHODIMP Receive(IMediaSample* pSample) override;
  STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) override;
  STDMETHODIMP ReceiveCanBlock() override;

  // Optional to override; overrides call the base. BeginFlush makes Receive answer S_FALSE
  // until EndFlush.
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  // S_OK when a sample may be processed now; S_FALSE while flushing; VFW_E_NOT_CONNECTED,
  // VFW_E_WRONG_STATE (stopped) or VFW_E_RUNTIME_ERROR otherwise.
  virtual HRESULT CheckStreaming();

  HRESULT BreakConnect() override;
  // Decommits the allocator and clears the flushing and error state.
  HRESULT Inactive() override;

  BOOL IsReadOnly() const { return m_bReadOnly; }
  BOOL IsFlushing() const { return m_bFlushing; }
  IMemAllocator* Allocator() const { return m_pAllocator; }  // borrowed

 protected:
  IMemAllocator* m_pAllocator = nullptr;  // referenced; the one upstream uses
  BOOL m_bReadOnly = FALSE;
  std::atomic<bool> m_bFlushing{false};
  std::atomic<bool> m_bRunTimeError{false};
};
