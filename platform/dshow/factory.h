// CFactoryTemplate: one creatable class of a filter deliverable (its name, CLSID, creation
// function, optional load routine and registration data), and the server entry points the
// base classes give every deliverable.
//
// A deliverable defines the table and its size:
//
//   CFactoryTemplate g_Templates[] = {
//     {u"My Filter", &CLSID_MyFilter, CMyFilter::CreateInstance, nullptr, &sudMyFilter},
//   };
//   int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
//
// and exports DllRegisterServer / DllUnregisterServer that call AMovieDllRegisterServer2
// (TRUE / FALSE). DllGetClassObject and DllCanUnloadNow come from the base classes and are
// exported by every library that links them.
//
// Threads: the entry points may be called from any thread.
#pragma once

#include "combase.h"
#include "setup.h"

// Creates an object: pUnkOuter is the controlling IUnknown when aggregated (or null); *phr
// is S_OK on entry and receives a failure. Returns the object without a reference, or null.
typedef CUnknown*(CALLBACK* LPFNNewCOMObject)(LPUNKNOWN pUnkOuter, HRESULT* phr);
// Called with TRUE when the deliverable is loaded and FALSE when it is unloaded.
typedef void(CALLBACK* LPFNInitRoutine)(BOOL bLoading, const CLSID* rclsid);

class CFactoryTemplate {
 public:
  const WCHAR* m_Name;
  const CLSID* m_ClsID;
  LPFNNewCOMObject m_lpfnNew;
  LPFNInitRoutine m_lpfnInit;
  const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;

  BOOL IsClassID(REFCLSID rclsid) const { return rclsid == *m_ClsID; }
  CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) const { return m_lpfnNew(pUnk, phr); }
};

// Defined by each deliverable (see above).
extern CFactoryTemplate g_Templates[];
extern int g_cTemplates;

// Registers (TRUE) or unregisters (FALSE) every template of the deliverable: the COM entry
// HKEY_CLASSES_ROOT\CLSID\{clsid} (name, InprocServer32 = this library's path, ThreadingModel
// "Both") and, for templates with setup data, the filter mapper entry (filter_registration.h).
// Unregistering something not registered succeeds.
HRESULT WINAPI AMovieDllRegisterServer2(BOOL bRegister);

extern "C" {
// The class factory of a template's CLSID (riid IID_IClassFactory or IID_IUnknown);
// CLASS_E_CLASSNOTAVAILABLE for a CLSID the deliverable does not serve.
CEHOST_EXPORT HRESULT DllGetClassObject(REFCLSID rClsID, REFIID riid, void** pv);
// S_OK when no object of the deliverable is alive and no factory holds a server lock.
CEHOST_EXPORT HRESULT DllCanUnloadNow(void);
}

// Every library that defines templates includes this header: the references below pull the
// base classes' entry points out of the static library into it.
[[maybe_unused]] __attribute__((used)) static const void* const cehost_dll_entry_points[] = {
    reinterpret_cast<const void*>(&DllGetClassObject), reinterpret_cast<const void*>(&DllCanUnloadNow)};
