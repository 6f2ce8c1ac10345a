// CSource: a filter whose pins are CSourceStream output pins, each pushing data on its own
// worker thread.
//
// A derived filter creates its streams in its constructor (each stream adds itself to the
// filter); the filter deletes them when it goes. Pins are found by name or by their
// one-based number ("1", "2", ...).
//
// Threads: m_cStateLock is the filter lock, shared with the streams for state changes and
// connection; derived filters also guard their own loading state with it.
#pragma once

#include "basefilter.h"

class CSourceStream;

class CSource : public CBaseFilter {
 public:
  CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid, HRESULT* phr);
  CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid);
  ~CSource() override;

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;
  STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;

  CCritSec* pStateLock() { return &m_cStateLock; }
  // Called by CSourceStream's constructor and destructor.
  HRESULT AddPin(CSourceStream* pStream);
  HRESULT RemovePin(CSourceStream* pStream);
  // The zero-based number of a pin of this filter, or -1.
  int FindPinNumber(IPin* iPin);

 protected:
  int m_iPins = 0;
  CSourceStream** m_paStreams = nullptr;  // owned array of owned streams
  CCritSec m_cStateLock;
};
