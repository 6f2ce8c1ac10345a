// The class factory and the server entry points every deliverable gets from the base classes.
#include <new>

#include "factory.h"

// A program that links the base classes without serving classes (a test, a host tool) has
// no table; the entry points then serve nothing.
#pragma weak g_Templates
#pragma weak g_cTemplates

namespace {

// The factory of one template. Server locks are counted per module, beside the live-object
// count of CBaseObject.
class CClassFactory final : public IClassFactory, public CBaseObject {
 public:
  explicit CClassFactory(const CFactoryTemplate* pTemplate)
      : CBaseObject(NAME("Class factory")), m_pTemplate(pTemplate) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IClassFactory || riid == IID_IUnknown) return GetInterface(static_cast<IClassFactory*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG count = InterlockedDecrement(&m_cRef);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
  }

  STDMETHODIMP CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** pv) override {
    CheckPointer(pv, E_POINTER);
    *pv = nullptr;
    // An aggregated object is only ever asked for its own IUnknown.
    if (pUnkOuter && riid != IID_IUnknown) return E_NOINTERFACE;
    HRESULT hr = S_OK;
    CUnknown* pObj = m_pTemplate->CreateInstance(pUnkOuter, &hr);
    if (!pObj) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr)) {
      delete pObj;
      return hr;
    }
    pObj->NonDelegatingAddRef();
    hr = pObj->NonDelegatingQueryInterface(riid, pv);
    pObj->NonDelegatingRelease();
    return hr;
  }

  STDMETHODIMP LockServer(BOOL fLock) override {
    if (fLock)
      InterlockedIncrement(&m_cLocked);
    else
      InterlockedDecrement(&m_cLocked);
    return S_OK;
  }

  static LONG Locks() { return m_cLocked; }

 private:
  const CFactoryTemplate* m_pTemplate;
  volatile LONG m_cRef = 0;
  static volatile LONG m_cLocked;
};

volatile LONG CClassFactory::m_cLocked = 0;

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID rClsID, REFIID riid, void** pv) {
  CheckPointer(pv, E_POINTER);
  *pv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  const int count = &g_cTemplates ? g_cTemplates : 0;
  for (int i = 0; i < count; i++) {
    const CFactoryTemplate* pT = &g_Templates[i];
    if (!pT->IsClassID(rClsID)) continue;
    CClassFactory* pFactory = new (std::nothrow) CClassFactory(pT);
    if (!pFactory) return E_OUTOFMEMORY;
    pFactory->AddRef();
    const HRESULT hr = pFactory->QueryInterface(riid, pv);
    pFactory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT DllCanUnloadNow(void) {
  return CBaseObject::ObjectsActive() == 0 && CClassFactory::Locks() == 0 ? S_OK : S_FALSE;
}

// The templates' load routines run when the library is loaded and unloaded. The table is
// constant-initialised, so it is complete before any constructor runs.
__attribute__((constructor)) static void RunInitRoutinesOnLoad() {
  const int count = &g_cTemplates ? g_cTemplates : 0;
  for (int i = 0; i < count; i++)
    if (g_Templates[i].m_lpfnInit) g_Templates[i].m_lpfnInit(TRUE, g_Templates[i].m_ClsID);
}

__attribute__((destructor)) static void RunInitRoutinesOnUnload() {
  const int count = &g_cTemplates ? g_cTemplates : 0;
  for (int i = 0; i < count; i++)
    if (g_Templates[i].m_lpfnInit) g_Templates[i].m_lpfnInit(FALSE, g_Templates[i].m_ClsID);
}
