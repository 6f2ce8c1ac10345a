// AMovieDllRegisterServer2: a deliverable's DllRegisterServer / DllUnregisterServer.
#include <vector>

#include "cehost/module.h"
#include "factory.h"
#include "filter_registration.h"

#pragma weak g_Templates
#pragma weak g_cTemplates

namespace {

// The path of the library this code is linked into (the program's own path when the code is
// linked into a program, which has no module handle of its own).
HRESULT OwnModulePath(std::vector<WCHAR>* path) {
  HMODULE module = cehost::ModuleFromAddress(reinterpret_cast<const void*>(&AMovieDllRegisterServer2));
  path->assign(MAX_PATH, 0);
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path->data(), static_cast<DWORD>(path->size()));
    if (n == 0) return E_FAIL;
    if (n < path->size()) return S_OK;
    path->assign(path->size() * 2, 0);
  }
}

}  // namespace

HRESULT WINAPI AMovieDllRegisterServer2(BOOL bRegister) {
  using namespace cehost::dshow;
  const int count = &g_cTemplates ? g_cTemplates : 0;
  std::vector<WCHAR> path;
  if (bRegister) {
    const HRESULT hr = OwnModulePath(&path);
    if (FAILED(hr)) return hr;
  }
  for (int i = 0; i < count; i++) {
    const CFactoryTemplate& t = g_Templates[i];
    HRESULT hr;
    if (bRegister) {
      hr = WriteComRegistration(*t.m_ClsID, t.m_Name, path.data());
      if (SUCCEEDED(hr) && t.m_pAMovieSetup_Filter) hr = WriteFilterRegistration(*t.m_pAMovieSetup_Filter);
    } else {
      hr = t.m_pAMovieSetup_Filter ? RemoveFilterRegistration(*t.m_pAMovieSetup_Filter->clsID) : S_OK;
      const HRESULT hrCom = RemoveComRegistration(*t.m_ClsID);
      if (SUCCEEDED(hr)) hr = hrCom;
    }
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}
