// The COM runtime: per-thread initialisation counts, and object creation through the
// registry: HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 names the library, whose
// DllGetClassObject gives the class factory.
//
// Loaded servers are kept in a cache, one library reference each, until CoFreeUnusedLibraries
// finds that the library's DllCanUnloadNow says S_OK; a library without that export stays
// loaded for the life of the process.
#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cehost/module.h"
#include "cehost/text.h"
#include "objbase.h"
#include "winbase.h"
#include "winreg.h"

namespace {

thread_local int t_initialised = 0;  // CoInitialize calls not yet undone, this thread

struct Server {
  HMODULE module;
  LPFNCANUNLOADNOW can_unload_now;  // null: never unloaded
};

std::mutex& ServersLock() {
  static std::mutex* lock = new std::mutex;  // never destroyed: used from static destructors
  return *lock;
}

// Library path -> loaded server. Guarded by ServersLock().
std::map<std::u16string, Server>& Servers() {
  static auto* servers = new std::map<std::u16string, Server>;
  return *servers;
}

// The library registered for a class.
HRESULT ServerPath(REFCLSID clsid, std::u16string* path) {
  WCHAR text[39];
  StringFromGUID2(clsid, text, 39);
  const std::u16string key = u"CLSID\\" + std::u16string(text) + u"\\InprocServer32";
  HKEY server;
  LONG r = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &server);
  if (r != ERROR_SUCCESS) return r == ERROR_FILE_NOT_FOUND ? REGDB_E_CLASSNOTREG : REGDB_E_READREGDB;
  DWORD type = 0, size = 0;
  r = RegQueryValueExW(server, nullptr, nullptr, &type, nullptr, &size);
  std::u16string value(size / sizeof(WCHAR), u'\0');
  if (r == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ))
    r = RegQueryValueExW(server, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()),
                         &size);
  else if (r == ERROR_SUCCESS)
    r = ERROR_FILE_NOT_FOUND;  // not a string: as good as missing
  RegCloseKey(server);
  if (r != ERROR_SUCCESS) return r == ERROR_FILE_NOT_FOUND ? REGDB_E_CLASSNOTREG : REGDB_E_READREGDB;
  value.resize(std::min(value.size(), value.find(u'\0')));
  if (value.empty()) return REGDB_E_CLASSNOTREG;
  *path = std::move(value);
  return S_OK;
}

}  // namespace

extern "C" {

HRESULT CoInitializeEx(LPVOID, DWORD) { return t_initialised++ == 0 ? S_OK : S_FALSE; }

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize(void) {
  if (t_initialised > 0) --t_initialised;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD clsctx, LPVOID, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  if (!(clsctx & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;  // in-process servers only
  std::u16string path;
  HRESULT hr = ServerPath(rclsid, &path);
  if (FAILED(hr)) return hr;

  // This call's own library reference keeps the library loaded while the factory is fetched,
  // even if CoFreeUnusedLibraries drops the cache's reference meanwhile.
  HMODULE module = LoadLibraryW(path.c_str());
  if (!module) {
    OutputDebugStringA(("com: cannot load " + cehost::ToUtf8(path) + ": " +
                        cehost::LastLoaderError() + "\r\n").c_str());
    return CO_E_DLLNOTFOUND;
  }
  auto get_class_object =
      reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(module, "DllGetClassObject"));
  if (!get_class_object) {
    FreeLibrary(module);
    return CO_E_ERRORINDLL;
  }
  hr = get_class_object(rclsid, riid, ppv);
  if (FAILED(hr)) *ppv = nullptr;

  // The cache keeps one reference per library; this call's becomes it, or is given back.
  const auto can_unload_now =
      reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(module, "DllCanUnloadNow"));
  std::lock_guard<std::mutex> guard(ServersLock());
  if (!Servers().try_emplace(path, Server{module, can_unload_now}).second) FreeLibrary(module);
  return hr;
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN outer, DWORD clsctx, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, clsctx, nullptr, IID_IClassFactory,
                                reinterpret_cast<LPVOID*>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

void CoFreeUnusedLibraries(void) {
  std::vector<HMODULE> unload;
  {
    std::lock_guard<std::mutex> guard(ServersLock());
    auto& servers = Servers();
    for (auto it = servers.begin(); it != servers.end();) {
      if (it->second.can_unload_now && it->second.can_unload_now() == S_OK) {
        unload.push_back(it->second.module);
        it = servers.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (HMODULE module : unload) FreeLibrary(module);
}

}  // extern "C"
