// Code pages (the ANSI page 1252, the OEM page 437, UTF-8), case mapping and character
// classes of UTF-16 text.
#include <locale.h>
#include <wctype.h>

#include <string>

#include "cehost/text.h"
#include "winbase.h"
#include "wstring.h"

namespace {

// The device's code-page choice, made in one place.
constexpr UINT kAnsiCodePage = 1252;
constexpr UINT kOemCodePage = 437;

// Bytes 0x80..0x9F of Windows-1252 (0xA0..0xFF are Latin-1). The five bytes the page leaves
// undefined map to the C1 control with the same number, as the device maps them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178
};

// Bytes 0x80..0xFF of code page 437.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0
};

char16_t ByteToWide(UINT page, unsigned char b) {
  if (b < 0x80) return b;
  if (page == 437) return kCp437High[b - 0x80];
  return b < 0xA0 ? kCp1252High[b - 0x80] : b;
}

// -1 when the character has no byte in the page.
int WideToByte(UINT page, char16_t c) {
  if (c < 0x80) return c;
  if (page == 1252 && c >= 0xA0 && c <= 0xFF) return c;
  const char16_t* table = page == 437 ? kCp437High : kCp1252High;
  const int n = page == 437 ? 128 : 32;
  for (int i = 0; i < n; ++i)
    if (table[i] == c) return 0x80 + i;
  return -1;
}

// Resolves CP_ACP/CP_OEMCP; 0 for a code page this system does not have.
UINT ResolvePage(UINT page) {
  switch (page) {
    case CP_ACP: return kAnsiCodePage;
    case CP_OEMCP: return kOemCodePage;
    case 1252:
    case 437:
    case CP_UTF8: return page;
    default: return 0;
  }
}

// The locale whose case mapping and classes are Unicode's, independent of the environment.
locale_t UnicodeLocale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

}  // namespace

extern "C" {

UINT GetACP(void) { return kAnsiCodePage; }
UINT GetOEMCP(void) { return kOemCodePage; }

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  const UINT page = ResolvePage(CodePage);
  if (page == 0 || !lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && !lpWideCharStr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t n = cbMultiByte == -1 ? std::char_traits<char>::length(lpMultiByteStr) + 1
                                     : static_cast<size_t>(cbMultiByte);
  std::u16string wide;
  if (page == CP_UTF8) {
    bool invalid = false;
    wide = cehost::FromUtf8(std::string_view(lpMultiByteStr, n), &invalid);
    if ((dwFlags & MB_ERR_INVALID_CHARS) && invalid) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else {
    wide.reserve(n);
    for (size_t i = 0; i < n; ++i)
      wide.push_back(ByteToWide(page, static_cast<unsigned char>(lpMultiByteStr[i])));
  }
  if (cchWideChar == 0) return static_cast<int>(wide.size());
  if (wide.size() > static_cast<size_t>(cchWideChar)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::char_traits<char16_t>::copy(lpWideCharStr, wide.data(), wide.size());
  return static_cast<int>(wide.size());
}

int WideCharToMultiByte(UINT CodePage, DWORD, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
  const UINT page = ResolvePage(CodePage);
  if (page == 0 || !lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && !lpMultiByteStr) ||
      (page == CP_UTF8 && (lpDefaultChar || lpUsedDefaultChar))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t n = cchWideChar == -1 ? wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
  std::string bytes;
  bool used_default = false;
  if (page == CP_UTF8) {
    bytes = cehost::ToUtf8(std::u16string_view(lpWideCharStr, n));
  } else {
    const char fallback = lpDefaultChar ? *lpDefaultChar : '?';
    bytes.reserve(n);
    for (size_t i = 0; i < n; ++i) {
      const int b = WideToByte(page, lpWideCharStr[i]);
      if (b < 0) {
        used_default = true;
        bytes.push_back(fallback);
      } else {
        bytes.push_back(static_cast<char>(b));
      }
    }
  }
  if (lpUsedDefaultChar) *lpUsedDefaultChar = used_default;
  if (cbMultiByte == 0) return static_cast<int>(bytes.size());
  if (bytes.size() > static_cast<size_t>(cbMultiByte)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::char_traits<char>::copy(lpMultiByteStr, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}

DWORD CharUpperBuffW(LPWSTR lpsz, DWORD cchLength) {
  if (!lpsz) return 0;
  for (DWORD i = 0; i < cchLength; ++i) lpsz[i] = towupper(lpsz[i]);
  return cchLength;
}

DWORD CharLowerBuffW(LPWSTR lpsz, DWORD cchLength) {
  if (!lpsz) return 0;
  for (DWORD i = 0; i < cchLength; ++i) lpsz[i] = towlower(lpsz[i]);
  return cchLength;
}

LPWSTR CharUpperW(LPWSTR lpsz) {
  // A pointer below 0x10000 carries one character in its low word, as on the device.
  const uintptr_t v = reinterpret_cast<uintptr_t>(lpsz);
  if (v < 0x10000) return reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(towupper(static_cast<WCHAR>(v))));
  CharUpperBuffW(lpsz, static_cast<DWORD>(wcslen(lpsz)));
  return lpsz;
}

LPWSTR CharLowerW(LPWSTR lpsz) {
  const uintptr_t v = reinterpret_cast<uintptr_t>(lpsz);
  if (v < 0x10000) return reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(towlower(static_cast<WCHAR>(v))));
  CharLowerBuffW(lpsz, static_cast<DWORD>(wcslen(lpsz)));
  return lpsz;
}

}  // extern "C"

WCHAR towupper(WCHAR c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? c - 0x20 : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  locale_t l = UnicodeLocale();
  if (!l) return c;
  const wint_t u = towupper_l(c, l);
  return u <= 0xFFFF ? static_cast<WCHAR>(u) : c;
}

WCHAR towlower(WCHAR c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? c + 0x20 : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  locale_t l = UnicodeLocale();
  if (!l) return c;
  const wint_t u = towlower_l(c, l);
  return u <= 0xFFFF ? static_cast<WCHAR>(u) : c;
}

int iswctype(WCHAR c, unsigned short mask) {
  locale_t l = UnicodeLocale();
  int type = 0;
  if (l && !(c >= 0xD800 && c <= 0xDFFF)) {
    if (iswupper_l(c, l)) type |= _UPPER;
    if (iswlower_l(c, l)) type |= _LOWER;
    if (iswdigit_l(c, l)) type |= _DIGIT;
    if (iswspace_l(c, l)) type |= _SPACE;
    if (iswpunct_l(c, l)) type |= _PUNCT;
    if (iswcntrl_l(c, l)) type |= _CONTROL;
    if (iswblank_l(c, l) || c == u' ') type |= _BLANK;
    if (iswxdigit_l(c, l)) type |= _HEX;
    if (iswalpha_l(c, l)) type |= 0x0100;
  }
  return type & mask;
}
