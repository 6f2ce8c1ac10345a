#include "combase.h"

#include <cstring>

#include "objbase.h"

volatile LONG CBaseObject::m_cObjects = 0;

CBaseObject::CBaseObject(LPCTSTR) { InterlockedIncrement(&m_cObjects); }

CBaseObject::~CBaseObject() { InterlockedDecrement(&m_cObjects); }

CUnknown::CUnknown(LPCTSTR pName, LPUNKNOWN pUnk)
    : CBaseObject(pName), m_cRef(0), m_ndUnknown(this), m_pUnknown(pUnk ? pUnk : &m_ndUnknown) {}

CUnknown::CUnknown(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT*) : CUnknown(pName, pUnk) {}

CUnknown::~CUnknown() = default;

STDMETHODIMP CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IUnknown) return GetInterface(&m_ndUnknown, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingAddRef() {
  const LONG count = InterlockedIncrement(&m_cRef);
  ASSERT(count > 0);
  return static_cast<ULONG>(count);
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingRelease() {
  const LONG count = InterlockedDecrement(&m_cRef);
  ASSERT(count >= 0);
  if (count == 0) {
    // Guard against the destructor's own AddRef/Release pairs (an object that queries one
    // of its aggregated parts while going away) deleting it twice.
    m_cRef = 1;
    delete this;
    return 0;
  }
  return static_cast<ULONG>(count);
}

HRESULT WINAPI GetInterface(LPUNKNOWN pUnk, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  *ppv = pUnk;
  pUnk->AddRef();
  return S_OK;
}

HRESULT WINAPI AMGetWideString(LPCWSTR psz, LPWSTR* ppszReturn) {
  CheckPointer(ppszReturn, E_POINTER);
  CheckPointer(psz, E_POINTER);
  const size_t bytes = (wcslen(psz) + 1) * sizeof(WCHAR);
  *ppszReturn = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*ppszReturn) return E_OUTOFMEMORY;
  std::memcpy(*ppszReturn, psz, bytes);
  return S_OK;
}
