// The braced text form of GUIDs.
#include <cstdio>

#include "objbase.h"
#include "wstring.h"

namespace {

int HexValue(WCHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hex digits at s; false when any is not a hex digit.
bool ReadHex(const WCHAR* s, int digits, unsigned long long* out) {
  unsigned long long v = 0;
  for (int i = 0; i < digits; ++i) {
    const int d = HexValue(s[i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<unsigned>(d);
  }
  *out = v;
  return true;
}

}  // namespace

extern "C" {

int StringFromGUID2(REFGUID g, LPOLESTR lpsz, int cchMax) {
  if (!lpsz || cchMax < 39) return 0;
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  for (int i = 0; i < 39; ++i) lpsz[i] = static_cast<WCHAR>(text[i]);
  return 39;
}

HRESULT CLSIDFromString(LPCOLESTR s, LPCLSID out) {
  if (!s || !out) return E_INVALIDARG;
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (wcslen(s) != 38 || s[0] != u'{' || s[9] != u'-' || s[14] != u'-' || s[19] != u'-' ||
      s[24] != u'-' || s[37] != u'}')
    return CO_E_CLASSSTRING;
  GUID g;
  unsigned long long v;
  if (!ReadHex(s + 1, 8, &v)) return CO_E_CLASSSTRING;
  g.Data1 = static_cast<DWORD>(v);
  if (!ReadHex(s + 10, 4, &v)) return CO_E_CLASSSTRING;
  g.Data2 = static_cast<WORD>(v);
  if (!ReadHex(s + 15, 4, &v)) return CO_E_CLASSSTRING;
  g.Data3 = static_cast<WORD>(v);
  static const int kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(s + kByteAt[i], 2, &v)) return CO_E_CLASSSTRING;
    g.Data4[i] = static_cast<BYTE>(v);
  }
  *out = g;
  return S_OK;
}

HRESULT IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
  const HRESULT hr = CLSIDFromString(lpsz, lpiid);
  return hr == CO_E_CLASSSTRING ? E_INVALIDARG : hr;
}

}  // extern "C"
