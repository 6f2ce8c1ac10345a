// Object creation through the registry: a test server registers itself, is created by CLSID,
// stays loaded while its objects live and is unloaded when unused; registration problems give
// their own result codes.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "cehost/module.h"
#include "cehost/text.h"
#include "com_test_server.h"
#include "test_registry.h"
#include "winreg.h"

namespace {

using cehost::test::ScopedTestRegistry;

// {0B5D0A4E-5A49-4E7B-9D38-3C8E7F0B1A21}, registered only by the tests that need it.
DEFINE_GUID(CLSID_Elsewhere, 0x0B5D0A4E, 0x5A49, 0x4E7B, 0x9D, 0x38, 0x3C, 0x8E, 0x7F, 0x0B, 0x1A, 0x21);

// Runs one of the server's registration exports, holding the library only for the call.
HRESULT RunServerExport(const char* name) {
  HMODULE module = LoadLibraryW(cehost::FromUtf8(COM_TEST_SERVER).c_str());
  if (!module) return E_FAIL;
  auto fn = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, name));
  const HRESULT hr = fn ? fn() : E_FAIL;
  FreeLibrary(module);
  return hr;
}

bool ServerLoaded() {
  void* handle = dlopen(COM_TEST_SERVER, RTLD_LAZY | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

// Registers CLSID_Elsewhere with `path` as its library (null: a key without a default value).
void RegisterElsewhere(const std::u16string* path) {
  WCHAR clsid[39];
  StringFromGUID2(CLSID_Elsewhere, clsid, 39);
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT,
                            (u"CLSID\\" + std::u16string(clsid) + u"\\InprocServer32").c_str(), 0,
                            nullptr, 0, 0, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegDeleteValueW(key, nullptr);
  if (path)
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path->c_str()),
                   static_cast<DWORD>((path->size() + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
}

TEST(ComRuntime, RegisteredServerIsCreatedByClsidAndUnloadedWhenUnused) {
  ScopedTestRegistry registry;
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);

  ASSERT_EQ(RunServerExport("DllRegisterServer"), S_OK);
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT,
                          u"clsid\\{567a55c2-197f-4ded-b793-ee6fa70b336c}\\InprocServer32", 0,
                          KEY_READ, &key),
            ERROR_SUCCESS);
  WCHAR text[MAX_PATH];
  DWORD size = sizeof text;
  ASSERT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(cehost::ToUtf8(text), COM_TEST_SERVER);
  size = sizeof text;
  ASSERT_EQ(RegQueryValueExW(key, u"ThreadingModel", nullptr, nullptr, reinterpret_cast<BYTE*>(text),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(text), u"Both");
  RegCloseKey(key);
  ASSERT_FALSE(ServerLoaded());

  ITestCounter* counter = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter,
                             reinterpret_cast<void**>(&counter)),
            S_OK);
  ASSERT_NE(counter, nullptr);
  EXPECT_EQ(counter->Add(2), S_OK);
  EXPECT_EQ(counter->Add(3), S_OK);
  // While an object lives its library stays, whatever CoFreeUnusedLibraries is asked.
  CoFreeUnusedLibraries();
  EXPECT_TRUE(ServerLoaded());
  EXPECT_EQ(counter->Total(), 5);
  counter->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ServerLoaded());

  // The factory's own answers come through; the library can be loaded again.
  void* unknown = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_IClassFactory, &unknown),
            E_NOINTERFACE);
  EXPECT_EQ(unknown, nullptr);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(ServerLoaded()) << "a locked server stays";
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ServerLoaded());

  ASSERT_EQ(RunServerExport("DllUnregisterServer"), S_OK);
  counter = reinterpret_cast<ITestCounter*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter,
                             reinterpret_cast<void**>(&counter)),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(counter, nullptr);
  CoUninitialize();
  CoUninitialize();
}

TEST(ComRuntime, RegistrationProblemsHaveTheirOwnResults) {
  ScopedTestRegistry registry;
  void* object = nullptr;
  auto create = [&](DWORD clsctx = CLSCTX_INPROC_SERVER) {
    return CoCreateInstance(CLSID_Elsewhere, nullptr, clsctx, IID_IUnknown, &object);
  };
  EXPECT_EQ(create(), REGDB_E_CLASSNOTREG);
  RegisterElsewhere(nullptr);
  EXPECT_EQ(create(), REGDB_E_CLASSNOTREG) << "a key without a library path";
  const std::u16string missing = u"/nonexistent/server.so";
  RegisterElsewhere(&missing);
  EXPECT_EQ(create(), CO_E_DLLNOTFOUND);
  EXPECT_EQ(create(CLSCTX_LOCAL_SERVER), REGDB_E_CLASSNOTREG);
  // A library that loads but is no COM server: the registry library itself.
  WCHAR path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(cehost::ModuleFromAddress(reinterpret_cast<const void*>(&RegOpenKeyExW)),
                               path, MAX_PATH),
            0u);
  const std::u16string not_a_server = path;
  RegisterElsewhere(&not_a_server);
  EXPECT_EQ(create(), CO_E_ERRORINDLL);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_Elsewhere, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
            E_POINTER);
}

}  // namespace
