// The LosslessReader deliverable's COM server: one factory template with the filter's
// registration data, and the registration exports (DllGetClassObject and DllCanUnloadNow come
// from the base classes).
#include "factory.h"
#include "lossless_reader_clsid.h"
#include "lossless_reader_filter.h"

namespace {

// One output pin of any type, connecting to any filter's "Input"; automatic graph building
// never picks the filter (the player adds it by CLSID).
const AMOVIESETUP_MEDIATYPE sudPinTypes = {&GUID_NULL, &GUID_NULL};
const AMOVIESETUP_PIN sudPins = {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, u"Input", 1, &sudPinTypes};
const AMOVIESETUP_FILTER sudLosslessReader = {&CLSID_LosslessReader, u"Lossless Reader Filter", MERIT_DO_NOT_USE, 1,
                                              &sudPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {u"Lossless Reader Filter", &CLSID_LosslessReader, lossless_reader::CLosslessReaderFilter::CreateInstance, nullptr,
     &sudLosslessReader},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI CEHOST_EXPORT DllRegisterServer() { return AMovieDllRegisterServer2(TRUE); }
STDAPI CEHOST_EXPORT DllUnregisterServer() { return AMovieDllRegisterServer2(FALSE); }
