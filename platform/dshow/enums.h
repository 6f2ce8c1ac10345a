// The enumerators filters and pins hand out: CEnumPins walks a filter's pins (GetPin),
// CEnumMediaTypes a pin's proposed types (GetMediaType). Each holds a reference on the
// filter and fails with VFW_E_ENUM_OUT_OF_SYNC once the pin list or type list changed
// (Reset starts again).
//
// Threads: an enumerator is used by one thread at a time.
#pragma once

#include "combase.h"
#include "strmif.h"

class CBaseFilter;
class CBasePin;

class CEnumPins : public IEnumPins {
 public:
  // pFilter is referenced for the enumerator's life. pEnumPins: the one to clone, or null.
  CEnumPins(CBaseFilter* pFilter, CEnumPins* pEnumPins);
  virtual ~CEnumPins();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
  STDMETHODIMP Skip(ULONG cPins) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumPins** ppEnum) override;

 private:
  bool AreWeOutOfSync() const;

  int m_Position = 0;
  int m_PinCount = 0;
  CBaseFilter* m_pFilter;
  LONG m_Version = 0;
  volatile LONG m_cRef = 0;
};

class CEnumMediaTypes : public IEnumMediaTypes {
 public:
  // pPin: its filter is referenced for the enumerator's life.
  CEnumMediaTypes(CBasePin* pPin, CEnumMediaTypes* pEnumMediaTypes);
  virtual ~CEnumMediaTypes();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // Each type returned is task memory the caller frees with DeleteMediaType.
  STDMETHODIMP Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
  STDMETHODIMP Skip(ULONG cMediaTypes) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumMediaTypes** ppEnum) override;

 private:
  bool AreWeOutOfSync();

  int m_Position = 0;
  CBasePin* m_pPin;
  LONG m_Version = 0;
  volatile LONG m_cRef = 0;
};
