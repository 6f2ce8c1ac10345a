// The COM runtime of the host: initialisation, object creation through the registry, task
// memory, and GUID text forms.
//
// Threads: every function may be called from any thread.
#pragma once

#include "guid.h"
#include "unknwn.h"

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER)
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2

extern "C" {

// Per-thread counters only: S_OK for a thread's first call, S_FALSE after; every call is
// undone by one CoUninitialize. Nothing else depends on them (there are no apartments), so
// object creation works on threads that never called CoInitialize.
CEHOST_EXPORT HRESULT CoInitialize(LPVOID reserved);
CEHOST_EXPORT HRESULT CoInitializeEx(LPVOID reserved, DWORD coinit);
CEHOST_EXPORT void CoUninitialize(void);

// Reads the default value of HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 (the library's
// path), loads that library, asks its DllGetClassObject for the class factory and creates the
// object. The library stays loaded until CoFreeUnusedLibraries finds it unused.
// Failures: REGDB_E_CLASSNOTREG when the class is not registered (or clsctx does not allow an
// in-process server), REGDB_E_READREGDB when the registry cannot be read, CO_E_DLLNOTFOUND
// when the library cannot be loaded, CO_E_ERRORINDLL when it lacks DllGetClassObject; else
// what the factory returns. *ppv is null after any failure.
CEHOST_EXPORT HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN outer, DWORD clsctx, REFIID riid,
                                       LPVOID* ppv);
CEHOST_EXPORT HRESULT CoGetClassObject(REFCLSID rclsid, DWORD clsctx, LPVOID reserved, REFIID riid,
                                       LPVOID* ppv);
// Unloads every loaded server whose DllCanUnloadNow returns S_OK. A server without that
// export is never unloaded.
CEHOST_EXPORT void CoFreeUnusedLibraries(void);

CEHOST_EXPORT LPVOID CoTaskMemAlloc(SIZE_T cb);
CEHOST_EXPORT LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
CEHOST_EXPORT void CoTaskMemFree(LPVOID pv);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex; returns the characters written
// including the terminator (39), or 0 when cchMax is below 39.
CEHOST_EXPORT int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// Parses the braced form (either case); CO_E_CLASSSTRING (or E_INVALIDARG) on bad text.
CEHOST_EXPORT HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
CEHOST_EXPORT HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid);

}  // extern "C"

#define CO_E_CLASSSTRING ((HRESULT)0x800401F3L)

// The exports of an in-process server, as the runtime binds them.
typedef HRESULT (*LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT (*LPFNCANUNLOADNOW)(void);
