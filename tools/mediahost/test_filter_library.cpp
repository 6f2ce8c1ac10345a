// A small filter library for the registration tests, written as a deliverable is: a factory
// table, setup data and the two registration exports over the base classes.
#include "streams.h"

namespace {

DEFINE_GUID(CLSID_MediahostTestSink, 0x7D2C5E91, 0x3A4B, 0x4C5D, 0x9E, 0x6F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65);
DEFINE_GUID(CLSID_MediahostTestHelper, 0x7D2C5E91, 0x3A4B, 0x4C5D, 0x9E, 0x6F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x66);

class CTestSink : public CBaseRenderer {
 public:
  CTestSink(LPUNKNOWN pUnk, HRESULT* phr) : CBaseRenderer(CLSID_MediahostTestSink, NAME("Test sink"), pUnk, phr) {}
  HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
  HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }
  static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    CUnknown* object = new (std::nothrow) CTestSink(pUnk, phr);
    if (!object) *phr = E_OUTOFMEMORY;
    return object;
  }
};

const FOURCCMap kH264(MAKEFOURCC('H', '2', '6', '4'));
const AMOVIESETUP_MEDIATYPE kInputTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}, {&MEDIATYPE_Video, &kH264}};
const AMOVIESETUP_MEDIATYPE kOutputTypes[] = {{&MEDIATYPE_Audio, nullptr}};
const AMOVIESETUP_PIN kPins[] = {
    {u"Input", TRUE, FALSE, FALSE, FALSE, &CLSID_NULL, u"Output", 2, kInputTypes},
    {u"Output", FALSE, TRUE, TRUE, FALSE, &CLSID_NULL, nullptr, 1, kOutputTypes},
};
const AMOVIESETUP_FILTER kSetup = {&CLSID_MediahostTestSink, u"Mediahost Test Sink", MERIT_DO_NOT_USE, 2, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {u"Mediahost Test Sink", &CLSID_MediahostTestSink, CTestSink::CreateInstance, nullptr, &kSetup},
    {u"Mediahost Test Helper", &CLSID_MediahostTestHelper, CTestSink::CreateInstance, nullptr, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI CEHOST_EXPORT DllRegisterServer() { return AMovieDllRegisterServer2(TRUE); }
STDAPI CEHOST_EXPORT DllUnregisterServer() { return AMovieDllRegisterServer2(FALSE); }
