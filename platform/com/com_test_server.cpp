// An in-process COM server for the runtime tests, built like a filter deliverable: the four
// Dll* exports, a class factory, and registration that writes the library's own path.
#include <atomic>
#include <string>

#include "cehost/module.h"
#include "com_test_server.h"
#include "winreg.h"

namespace {

std::atomic<LONG> g_objects{0};  // live TestCounter objects, any thread
std::atomic<LONG> g_locks{0};    // LockServer(TRUE) calls not yet undone, any thread

class TestCounter : public ITestCounter {
 public:
  TestCounter() { ++g_objects; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITestCounter) {
      *ppv = static_cast<ITestCounter*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE Add(LONG amount) override {
    total_ += amount;
    return S_OK;
  }
  LONG STDMETHODCALLTYPE Total() override { return total_; }

 private:
  virtual ~TestCounter() { --g_objects; }
  std::atomic<LONG> refs_{1};
  std::atomic<LONG> total_{0};
};

// The class factory is a static object: its references do not keep the library loaded,
// LockServer does.
class Factory : public IClassFactory {
 public:
  virtual ~Factory() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    TestCounter* counter = new TestCounter;
    const HRESULT hr = counter->QueryInterface(riid, ppv);
    counter->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ++g_locks : --g_locks;
    return S_OK;
  }
};

Factory g_factory;

std::u16string ClassKey() {
  WCHAR clsid[39];
  StringFromGUID2(CLSID_TestCounter, clsid, 39);
  return u"CLSID\\" + std::u16string(clsid);
}

LONG SetString(HKEY key, const char16_t* name, const std::u16string& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

}  // namespace

extern "C" {

CEHOST_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_TestCounter) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

CEHOST_EXPORT HRESULT DllCanUnloadNow() {
  return g_objects.load() == 0 && g_locks.load() == 0 ? S_OK : S_FALSE;
}

CEHOST_EXPORT HRESULT DllRegisterServer() {
  WCHAR path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(cehost::ModuleFromAddress(reinterpret_cast<const void*>(
                                         &DllRegisterServer)),
                                     path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return SELFREG_E_CLASS;
  HKEY key;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, (ClassKey() + u"\\InprocServer32").c_str(), 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return SELFREG_E_CLASS;
  const bool ok = SetString(key, nullptr, path) == ERROR_SUCCESS &&
                  SetString(key, u"ThreadingModel", u"Both") == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok ? S_OK : SELFREG_E_CLASS;
}

CEHOST_EXPORT HRESULT DllUnregisterServer() {
  const LONG r = RegDeleteKeyW(HKEY_CLASSES_ROOT, ClassKey().c_str());
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}

}  // extern "C"
