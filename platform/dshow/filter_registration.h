// The registry entries of a registered filter class: the COM entry that CoCreateInstance
// reads and the filter mapper entry that lists the filter's merit, pins and media types.
// Written by DllRegisterServer (AMovieDllRegisterServer2) and IAMovieSetup::Register, read
// back by `mediahost list`.
//
// Layout (GUIDs in their braced upper-case text form, "{XXXXXXXX-XXXX-...}"):
//
//   HKEY_CLASSES_ROOT\CLSID\{clsid}                       (default)         REG_SZ  class name
//   HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32        (default)         REG_SZ  library path
//                                                         "ThreadingModel"  REG_SZ  "Both"
//   HKEY_CLASSES_ROOT\Filters\{clsid}                     "FriendlyName"    REG_SZ
//                                                         "Merit"           REG_DWORD
//   HKEY_CLASSES_ROOT\Filters\{clsid}\Pins\<n>            (n = 0, 1, ... in setup order)
//                                                         "Name"            REG_SZ
//                                                         "Output"          REG_DWORD 0/1
//                                                         "Rendered"        REG_DWORD 0/1
//                                                         "Zero"            REG_DWORD 0/1
//                                                         "Many"            REG_DWORD 0/1
//                                                         "ConnectsToFilter" REG_SZ GUID
//                                                         "ConnectsToPin"   REG_SZ (absent: none)
//   HKEY_CLASSES_ROOT\Filters\{clsid}\Pins\<n>\Types\<m>  "MajorType"       REG_SZ GUID
//                                                         "SubType"         REG_SZ GUID
//
// A null GUID pointer in the setup data is written as the null GUID (any). Registering a
// class replaces its previous entries; unregistering removes both trees and succeeds when
// they are absent.
//
// Threads: any thread; each registry call is one transaction, a whole registration is not.
#pragma once

#include <string>
#include <vector>

#include "setup.h"
#include "windows.h"

namespace cehost::dshow {

HRESULT WriteComRegistration(REFCLSID clsid, LPCWSTR className, LPCWSTR modulePath);
HRESULT RemoveComRegistration(REFCLSID clsid);
HRESULT WriteFilterRegistration(const AMOVIESETUP_FILTER& setup);
HRESULT RemoveFilterRegistration(REFCLSID clsid);

struct RegisteredPinType {
  GUID majorType{};
  GUID subType{};
};

struct RegisteredPin {
  std::u16string name;
  bool output = false;
  bool rendered = false;
  bool zero = false;
  bool many = false;
  GUID connectsToFilter{};
  std::u16string connectsToPin;
  std::vector<RegisteredPinType> types;
};

struct RegisteredFilter {
  CLSID clsid{};
  std::u16string name;          // the mapper's friendly name
  DWORD merit = 0;
  std::u16string modulePath;    // from the COM entry; empty when it is missing
  std::u16string threadingModel;
  std::vector<RegisteredPin> pins;
};

// Every filter in the mapper, in CLSID order. Entries that cannot be read completely (a
// value of the wrong type, a GUID that does not parse) give HRESULT_FROM_WIN32(ERROR_BADDB)
// with the CLSID text in *badEntry when given.
HRESULT ReadFilterRegistrations(std::vector<RegisteredFilter>* filters, std::u16string* badEntry = nullptr);
// One filter; HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when it is not in the mapper.
HRESULT ReadFilterRegistration(REFCLSID clsid, RegisteredFilter* filter);
// Whether the COM entry of the class exists.
bool IsComClassRegistered(REFCLSID clsid);

}  // namespace cehost::dshow
