#include "filter_registration.h"

#include <algorithm>

#include "cehost/text.h"
#include "objbase.h"
#include "winreg.h"

namespace cehost::dshow {
namespace {

// Longest string value read back; registration strings are names, paths and GUIDs.
constexpr DWORD kMaxStringBytes = 64 * 1024;
// Bounds on what one registration may hold, so a damaged registry cannot make us loop.
constexpr int kMaxPins = 1024;
constexpr int kMaxTypes = 4096;

class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

HRESULT FromWin32(LONG r) { return r == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(r)); }

std::u16string GuidText(REFGUID guid) {
  WCHAR text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

const GUID& OrNull(const GUID* guid) { return guid ? *guid : GUID_NULL; }

[[nodiscard]] LONG SetString(HKEY key, LPCWSTR name, const std::u16string& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

[[nodiscard]] LONG SetDword(HKEY key, LPCWSTR name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

[[nodiscard]] LONG ReadString(HKEY key, LPCWSTR name, std::u16string* out) {
  DWORD type = 0, bytes = 0;
  LONG r = RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
  if (r != ERROR_SUCCESS) return r;
  if (type != REG_SZ || bytes % sizeof(WCHAR) != 0 || bytes > kMaxStringBytes) return ERROR_BADDB;
  std::u16string text(bytes / sizeof(WCHAR), u'\0');
  r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(text.data()), &bytes);
  if (r != ERROR_SUCCESS) return r;
  text.resize(bytes / sizeof(WCHAR));
  while (!text.empty() && text.back() == u'\0') text.pop_back();
  *out = std::move(text);
  return ERROR_SUCCESS;
}

[[nodiscard]] LONG ReadDword(HKEY key, LPCWSTR name, DWORD* out) {
  DWORD type = 0, bytes = sizeof(*out);
  const LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(out), &bytes);
  if (r != ERROR_SUCCESS) return r;
  return type == REG_DWORD && bytes == sizeof(*out) ? ERROR_SUCCESS : ERROR_BADDB;
}

[[nodiscard]] LONG ReadFlag(HKEY key, LPCWSTR name, bool* out) {
  DWORD value = 0;
  const LONG r = ReadDword(key, name, &value);
  *out = value != 0;
  return r;
}

[[nodiscard]] LONG ReadGuid(HKEY key, LPCWSTR name, GUID* out) {
  std::u16string text;
  const LONG r = ReadString(key, name, &text);
  if (r != ERROR_SUCCESS) return r;
  return SUCCEEDED(CLSIDFromString(text.c_str(), out)) ? ERROR_SUCCESS : ERROR_BADDB;
}

std::u16string FilterKeyPath(REFCLSID clsid) { return u"Filters\\" + GuidText(clsid); }

LONG WritePin(HKEY filterKey, int index, const AMOVIESETUP_PIN& pin) {
  Key pinKey;
  const std::u16string path = u"Pins\\" + cehost::FromUtf8(std::to_string(index));
  LONG r = RegCreateKeyExW(filterKey, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, pinKey.out(), nullptr);
  if (r != ERROR_SUCCESS) return r;
  HKEY k = pinKey.get();
  if ((r = SetString(k, u"Name", pin.strName ? pin.strName : u"")) != ERROR_SUCCESS) return r;
  if ((r = SetDword(k, u"Output", pin.bOutput ? 1 : 0)) != ERROR_SUCCESS) return r;
  if ((r = SetDword(k, u"Rendered", pin.bRendered ? 1 : 0)) != ERROR_SUCCESS) return r;
  if ((r = SetDword(k, u"Zero", pin.bZero ? 1 : 0)) != ERROR_SUCCESS) return r;
  if ((r = SetDword(k, u"Many", pin.bMany ? 1 : 0)) != ERROR_SUCCESS) return r;
  if ((r = SetString(k, u"ConnectsToFilter", GuidText(OrNull(pin.clsConnectsToFilter)))) != ERROR_SUCCESS) return r;
  if (pin.strConnectsToPin && (r = SetString(k, u"ConnectsToPin", pin.strConnectsToPin)) != ERROR_SUCCESS) return r;
  for (UINT t = 0; t < pin.nMediaTypes; t++) {
    Key typeKey;
    const std::u16string typePath = u"Types\\" + cehost::FromUtf8(std::to_string(t));
    r = RegCreateKeyExW(k, typePath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, typeKey.out(), nullptr);
    if (r != ERROR_SUCCESS) return r;
    if ((r = SetString(typeKey.get(), u"MajorType", GuidText(OrNull(pin.lpMediaType[t].clsMajorType)))) != ERROR_SUCCESS)
      return r;
    if ((r = SetString(typeKey.get(), u"SubType", GuidText(OrNull(pin.lpMediaType[t].clsMinorType)))) != ERROR_SUCCESS)
      return r;
  }
  return ERROR_SUCCESS;
}

LONG ReadPin(HKEY pinKey, RegisteredPin* pin) {
  LONG r;
  if ((r = ReadString(pinKey, u"Name", &pin->name)) != ERROR_SUCCESS) return r;
  if ((r = ReadFlag(pinKey, u"Output", &pin->output)) != ERROR_SUCCESS) return r;
  if ((r = ReadFlag(pinKey, u"Rendered", &pin->rendered)) != ERROR_SUCCESS) return r;
  if ((r = ReadFlag(pinKey, u"Zero", &pin->zero)) != ERROR_SUCCESS) return r;
  if ((r = ReadFlag(pinKey, u"Many", &pin->many)) != ERROR_SUCCESS) return r;
  if ((r = ReadGuid(pinKey, u"ConnectsToFilter", &pin->connectsToFilter)) != ERROR_SUCCESS) return r;
  r = ReadString(pinKey, u"ConnectsToPin", &pin->connectsToPin);
  if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) return r;
  for (int t = 0; t < kMaxTypes; t++) {
    Key typeKey;
    const std::u16string path = u"Types\\" + cehost::FromUtf8(std::to_string(t));
    r = RegOpenKeyExW(pinKey, path.c_str(), 0, KEY_READ, typeKey.out());
    if (r == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (r != ERROR_SUCCESS) return r;
    RegisteredPinType type;
    if ((r = ReadGuid(typeKey.get(), u"MajorType", &type.majorType)) != ERROR_SUCCESS) return r;
    if ((r = ReadGuid(typeKey.get(), u"SubType", &type.subType)) != ERROR_SUCCESS) return r;
    pin->types.push_back(type);
  }
  return ERROR_BADDB;
}

LONG ReadFilter(REFCLSID clsid, RegisteredFilter* filter) {
  Key filterKey;
  LONG r = RegOpenKeyExW(HKEY_CLASSES_ROOT, FilterKeyPath(clsid).c_str(), 0, KEY_READ, filterKey.out());
  if (r != ERROR_SUCCESS) return r;
  *filter = RegisteredFilter{};
  filter->clsid = clsid;
  if ((r = ReadString(filterKey.get(), u"FriendlyName", &filter->name)) != ERROR_SUCCESS) return r;
  if ((r = ReadDword(filterKey.get(), u"Merit", &filter->merit)) != ERROR_SUCCESS) return r;
  for (int n = 0;; n++) {
    if (n == kMaxPins) return ERROR_BADDB;
    Key pinKey;
    const std::u16string path = u"Pins\\" + cehost::FromUtf8(std::to_string(n));
    r = RegOpenKeyExW(filterKey.get(), path.c_str(), 0, KEY_READ, pinKey.out());
    if (r == ERROR_FILE_NOT_FOUND) break;
    if (r != ERROR_SUCCESS) return r;
    RegisteredPin pin;
    if ((r = ReadPin(pinKey.get(), &pin)) != ERROR_SUCCESS) return r;
    filter->pins.push_back(std::move(pin));
  }
  // The COM half may be missing (a damaged or half-removed registration): report it empty.
  Key serverKey;
  const std::u16string serverPath = u"CLSID\\" + GuidText(clsid) + u"\\InprocServer32";
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, serverPath.c_str(), 0, KEY_READ, serverKey.out()) == ERROR_SUCCESS) {
    if (ReadString(serverKey.get(), nullptr, &filter->modulePath) != ERROR_SUCCESS) filter->modulePath.clear();
    if (ReadString(serverKey.get(), u"ThreadingModel", &filter->threadingModel) != ERROR_SUCCESS)
      filter->threadingModel.clear();
  }
  return ERROR_SUCCESS;
}

}  // namespace

HRESULT WriteComRegistration(REFCLSID clsid, LPCWSTR className, LPCWSTR modulePath) {
  if (!modulePath) return E_POINTER;
  const std::u16string path = u"CLSID\\" + GuidText(clsid);
  Key classKey;
  LONG r = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, classKey.out(),
                           nullptr);
  if (r == ERROR_SUCCESS) r = SetString(classKey.get(), nullptr, className ? className : u"");
  Key serverKey;
  if (r == ERROR_SUCCESS)
    r = RegCreateKeyExW(classKey.get(), u"InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, serverKey.out(),
                        nullptr);
  if (r == ERROR_SUCCESS) r = SetString(serverKey.get(), nullptr, modulePath);
  if (r == ERROR_SUCCESS) r = SetString(serverKey.get(), u"ThreadingModel", u"Both");
  if (r != ERROR_SUCCESS) {
    RemoveComRegistration(clsid);
    return FromWin32(r);
  }
  return S_OK;
}

HRESULT RemoveComRegistration(REFCLSID clsid) {
  const LONG r = RegDeleteKeyW(HKEY_CLASSES_ROOT, (u"CLSID\\" + GuidText(clsid)).c_str());
  return r == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(r);
}

HRESULT WriteFilterRegistration(const AMOVIESETUP_FILTER& setup) {
  if (!setup.clsID || (setup.nPins && !setup.lpPin)) return E_POINTER;
  const REFCLSID clsid = *setup.clsID;
  HRESULT hr = RemoveFilterRegistration(clsid);
  if (FAILED(hr)) return hr;
  Key filterKey;
  LONG r = RegCreateKeyExW(HKEY_CLASSES_ROOT, FilterKeyPath(clsid).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           filterKey.out(), nullptr);
  if (r == ERROR_SUCCESS) r = SetString(filterKey.get(), u"FriendlyName", setup.strName ? setup.strName : u"");
  if (r == ERROR_SUCCESS) r = SetDword(filterKey.get(), u"Merit", setup.dwMerit);
  for (UINT i = 0; r == ERROR_SUCCESS && i < setup.nPins; i++) {
    const AMOVIESETUP_PIN& pin = setup.lpPin[i];
    if (pin.nMediaTypes && !pin.lpMediaType)
      r = ERROR_INVALID_PARAMETER;
    else
      r = WritePin(filterKey.get(), static_cast<int>(i), pin);
  }
  if (r != ERROR_SUCCESS) {
    RemoveFilterRegistration(clsid);
    return FromWin32(r);
  }
  return S_OK;
}

HRESULT RemoveFilterRegistration(REFCLSID clsid) {
  const LONG r = RegDeleteKeyW(HKEY_CLASSES_ROOT, FilterKeyPath(clsid).c_str());
  return r == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(r);
}

HRESULT ReadFilterRegistration(REFCLSID clsid, RegisteredFilter* filter) {
  if (!filter) return E_POINTER;
  return FromWin32(ReadFilter(clsid, filter));
}

HRESULT ReadFilterRegistrations(std::vector<RegisteredFilter>* filters, std::u16string* badEntry) {
  if (!filters) return E_POINTER;
  filters->clear();
  Key filtersKey;
  LONG r = RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Filters", 0, KEY_READ, filtersKey.out());
  if (r == ERROR_FILE_NOT_FOUND) return S_OK;
  if (r != ERROR_SUCCESS) return FromWin32(r);
  std::vector<std::u16string> names;
  for (DWORD index = 0;; index++) {
    WCHAR name[256];
    DWORD chars = 256;
    r = RegEnumKeyExW(filtersKey.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r == ERROR_MORE_DATA) {
      // Not a CLSID (too long): not ours.
      if (badEntry) *badEntry = u"(a key name of more than 255 characters)";
      return HRESULT_FROM_WIN32(ERROR_BADDB);
    }
    if (r != ERROR_SUCCESS) return FromWin32(r);
    names.emplace_back(name, chars);
  }
  std::sort(names.begin(), names.end());
  for (const std::u16string& name : names) {
    CLSID clsid;
    RegisteredFilter filter;
    if (FAILED(CLSIDFromString(name.c_str(), &clsid)) || (r = ReadFilter(clsid, &filter)) != ERROR_SUCCESS) {
      if (badEntry) *badEntry = name;
      return HRESULT_FROM_WIN32(ERROR_BADDB);
    }
    filters->push_back(std::move(filter));
  }
  return S_OK;
}

bool IsComClassRegistered(REFCLSID clsid) {
  Key classKey;
  return RegOpenKeyExW(HKEY_CLASSES_ROOT, (u"CLSID\\" + GuidText(clsid)).c_str(), 0, KEY_READ, classKey.out()) ==
         ERROR_SUCCESS;
}

}  // namespace cehost::dshow
