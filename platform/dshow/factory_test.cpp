// The server entry points and the registration of this test program's own templates.
#include <gtest/gtest.h>

#include <filesystem>

#include "cehost/registry.h"
#include "cehost/text.h"
#include "filter_registration.h"
#include "streams.h"
#include "testsupport.h"
#include "winreg.h"

namespace {

DEFINE_GUID(CLSID_TestNull, 0x1F0E4C2A, 0x0001, 0x4E55, 0x9A, 0x11, 0x30, 0x61, 0x7A, 0x22, 0x10, 0x01);
DEFINE_GUID(CLSID_TestFailing, 0x1F0E4C2A, 0x0002, 0x4E55, 0x9A, 0x11, 0x30, 0x61, 0x7A, 0x22, 0x10, 0x02);
DEFINE_GUID(CLSID_TestComOnly, 0x1F0E4C2A, 0x0003, 0x4E55, 0x9A, 0x11, 0x30, 0x61, 0x7A, 0x22, 0x10, 0x03);

// A renderer that accepts anything and keeps nothing.
class CNullFilter : public CBaseRenderer {
 public:
  CNullFilter(LPUNKNOWN pUnk, HRESULT* phr) : CBaseRenderer(CLSID_TestNull, NAME("Null"), pUnk, phr) {}
  HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
  HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }
  static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) { return new CNullFilter(pUnk, phr); }
};

int g_failingDestroyed = 0;
class CFailing : public CUnknown {
 public:
  CFailing(LPUNKNOWN pUnk, HRESULT* phr) : CUnknown(NAME("Failing"), pUnk) { *phr = E_ACCESSDENIED; }
  ~CFailing() override { g_failingDestroyed++; }
  static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) { return new CFailing(pUnk, phr); }
};

int g_initCalls = 0;
void CALLBACK InitRoutine(BOOL loading, const CLSID* clsid) {
  if (loading && *clsid == CLSID_TestComOnly) g_initCalls++;
}

const AMOVIESETUP_MEDIATYPE kInputTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM},
                                             {&MEDIATYPE_Audio, &MEDIASUBTYPE_IEEE_FLOAT}};
const AMOVIESETUP_MEDIATYPE kOutputTypes[] = {{&MEDIATYPE_Audio, nullptr}};
const AMOVIESETUP_PIN kPins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, u"Output", 2, kInputTypes},
    {u"Output", FALSE, TRUE, TRUE, TRUE, nullptr, nullptr, 1, kOutputTypes},
};
const AMOVIESETUP_FILTER kNullSetup = {&CLSID_TestNull, u"Null Test Filter", MERIT_DO_NOT_USE, 2, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {u"Null Test Filter (template)", &CLSID_TestNull, CNullFilter::CreateInstance, nullptr, &kNullSetup},
    {u"Failing", &CLSID_TestFailing, CFailing::CreateInstance, nullptr, nullptr},
    {u"COM only", &CLSID_TestComOnly, CFailing::CreateInstance, InitRoutine, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

namespace {

IClassFactory* Factory(REFCLSID clsid) {
  IClassFactory* factory = nullptr;
  EXPECT_EQ(DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  return factory;
}

TEST(ServerEntryPoints, CreateObjectsThroughTheClassFactory) {
  EXPECT_EQ(g_initCalls, 1);  // the load routine ran when the program started
  EXPECT_EQ(DllCanUnloadNow(), S_OK);

  IClassFactory* factory = Factory(CLSID_TestNull);
  ASSERT_NE(factory, nullptr);
  IBaseFilter* filter = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
  CLSID clsid{};
  EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestNull);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the filter is alive
  filter->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);

  // Locked servers stay loaded.
  factory = Factory(CLSID_TestNull);
  factory->LockServer(TRUE);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  factory = Factory(CLSID_TestNull);
  factory->LockServer(FALSE);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(ServerEntryPoints, Failures) {
  void* p = reinterpret_cast<void*>(1);
  const CLSID CLSID_Unknown = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
  EXPECT_EQ(DllGetClassObject(CLSID_Unknown, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(DllGetClassObject(CLSID_TestNull, IID_IBaseFilter, &p), E_NOINTERFACE);

  // A creation that reports a failure: the object is destroyed and the code returned.
  IClassFactory* factory = Factory(CLSID_TestFailing);
  ASSERT_NE(factory, nullptr);
  const int destroyed = g_failingDestroyed;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &p), E_ACCESSDENIED);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(g_failingDestroyed, destroyed + 1);
  factory->Release();

  // An aggregated object can only be asked for its own IUnknown.
  factory = Factory(CLSID_TestNull);
  IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
  EXPECT_EQ(factory->CreateInstance(outer, IID_IBaseFilter, &p), E_NOINTERFACE);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// An aggregated filter answers IUnknown calls through its outer object.
class Outer : public IUnknown {
 public:
  virtual ~Outer() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    queries++;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  int refs = 1;
  int queries = 0;
};

TEST(ServerEntryPoints, AggregationDelegatesToTheOuterObject) {
  Outer outer;
  IClassFactory* factory = Factory(CLSID_TestNull);
  IUnknown* inner = nullptr;
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  factory->Release();
  IBaseFilter* filter = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
  EXPECT_EQ(outer.refs, 2);  // the inner object's interfaces count on the outer object
  IUnknown* viaFilter = nullptr;
  EXPECT_EQ(filter->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&viaFilter)), E_NOINTERFACE);
  EXPECT_EQ(outer.queries, 1);
  filter->Release();
  EXPECT_EQ(outer.refs, 1);
  inner->Release();  // the inner object's own count: destroys it
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

class Registration : public testing::Test {
 protected:
  void SetUp() override { cehost::ReopenRegistry(); }
  void TearDown() override { cehost::ReopenRegistry(); }
  cehost::test::TempDir dir_;
  cehost::test::ScopedEnv registry_{"CEHOST_REGISTRY", (dir_ / "registry.db").string()};
};

TEST_F(Registration, WritesComAndFilterEntriesAndRemovesBoth) {
  using namespace cehost::dshow;
  ASSERT_EQ(AMovieDllRegisterServer2(TRUE), S_OK);

  std::vector<RegisteredFilter> filters;
  ASSERT_EQ(ReadFilterRegistrations(&filters), S_OK);
  ASSERT_EQ(filters.size(), 1u);  // only the template with setup data is a filter
  const RegisteredFilter& f = filters[0];
  EXPECT_EQ(f.clsid, CLSID_TestNull);
  EXPECT_EQ(f.name, u"Null Test Filter");
  EXPECT_EQ(f.merit, static_cast<DWORD>(MERIT_DO_NOT_USE));
  EXPECT_EQ(f.threadingModel, u"Both");
  // The module path is this program (the code registering itself).
  EXPECT_TRUE(std::filesystem::equivalent(cehost::ToUtf8(f.modulePath), "/proc/self/exe"));
  ASSERT_EQ(f.pins.size(), 2u);
  EXPECT_EQ(f.pins[0].name, u"Input");
  EXPECT_FALSE(f.pins[0].output);
  EXPECT_EQ(f.pins[0].connectsToPin, u"Output");
  ASSERT_EQ(f.pins[0].types.size(), 2u);
  EXPECT_EQ(f.pins[0].types[1].majorType, MEDIATYPE_Audio);
  EXPECT_EQ(f.pins[0].types[1].subType, MEDIASUBTYPE_IEEE_FLOAT);
  EXPECT_TRUE(f.pins[1].output);
  EXPECT_TRUE(f.pins[1].zero);
  EXPECT_TRUE(f.pins[1].many);
  EXPECT_EQ(f.pins[1].connectsToFilter, GUID_NULL);
  EXPECT_TRUE(f.pins[1].connectsToPin.empty());
  EXPECT_EQ(f.pins[1].types[0].subType, GUID_NULL);  // "any" written for a null pointer
  EXPECT_TRUE(IsComClassRegistered(CLSID_TestComOnly));

  // Registering again replaces; unregistering removes both halves, twice is harmless.
  ASSERT_EQ(AMovieDllRegisterServer2(TRUE), S_OK);
  ASSERT_EQ(AMovieDllRegisterServer2(FALSE), S_OK);
  ASSERT_EQ(AMovieDllRegisterServer2(FALSE), S_OK);
  ASSERT_EQ(ReadFilterRegistrations(&filters), S_OK);
  EXPECT_TRUE(filters.empty());
  EXPECT_FALSE(IsComClassRegistered(CLSID_TestNull));
  EXPECT_FALSE(IsComClassRegistered(CLSID_TestComOnly));
}

TEST_F(Registration, FilterRegistersItsOwnSetupData) {
  IClassFactory* factory = Factory(CLSID_TestNull);
  IAMovieSetup* setup = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IAMovieSetup, reinterpret_cast<void**>(&setup)), S_OK);
  factory->Release();
  // CNullFilter has no GetSetupData of its own.
  EXPECT_EQ(setup->Register(), S_FALSE);
  setup->Release();
}

TEST_F(Registration, DamagedEntriesAreReportedNotGuessed) {
  using namespace cehost::dshow;
  ASSERT_EQ(AMovieDllRegisterServer2(TRUE), S_OK);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Filters\\{1F0E4C2A-0001-4E55-9A11-30617A221001}\\Pins\\1", 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const WCHAR notAGuid[] = u"{nonsense}";
  ASSERT_EQ(RegSetValueExW(key, u"ConnectsToFilter", 0, REG_SZ, reinterpret_cast<const BYTE*>(notAGuid),
                           sizeof(notAGuid)),
            ERROR_SUCCESS);
  RegCloseKey(key);
  std::vector<RegisteredFilter> filters;
  std::u16string bad;
  EXPECT_EQ(ReadFilterRegistrations(&filters, &bad), HRESULT_FROM_WIN32(ERROR_BADDB));
  EXPECT_EQ(bad, u"{1F0E4C2A-0001-4E55-9A11-30617A221001}");
  AMovieDllRegisterServer2(FALSE);
}

}  // namespace
