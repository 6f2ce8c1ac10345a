// The C run time's wide string functions for UTF-16 strings (WCHAR), and the wide formatted
// output the deliverables use for messages (swprintf family and the StringCch helpers).
//
// Formatting follows the device's rules, which differ from glibc's: in a wide format "%s"
// takes a wide string and "%S" or "%hs" an 8-bit one; "%c" a wide character and "%C" or
// "%hc" an 8-bit one; the "l" length on integers means 32 bits (LONG), and "ll" or "I64" 64
// bits; "I" and "z" mean pointer size. A null string prints "(null)".
#pragma once

// The C library's own declarations come first, so that the std:: names they bring in stay
// the wchar_t ones and the WCHAR overloads below only add to the global ones.
#include <cstdarg>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>

#include "winerror.h"
#include "wintypes.h"

CEHOST_EXPORT size_t wcslen(const WCHAR* s);
CEHOST_EXPORT size_t wcsnlen(const WCHAR* s, size_t maxlen);
CEHOST_EXPORT WCHAR* wcscpy(WCHAR* dst, const WCHAR* src);
CEHOST_EXPORT WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t count);
CEHOST_EXPORT WCHAR* wcscat(WCHAR* dst, const WCHAR* src);
CEHOST_EXPORT int wcscmp(const WCHAR* a, const WCHAR* b);
CEHOST_EXPORT int wcsncmp(const WCHAR* a, const WCHAR* b, size_t count);
// Case-insensitive comparisons fold with Unicode's simple lower-case mapping.
CEHOST_EXPORT int _wcsicmp(const WCHAR* a, const WCHAR* b);
CEHOST_EXPORT int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t count);
CEHOST_EXPORT const WCHAR* wcschr(const WCHAR* s, WCHAR c);
CEHOST_EXPORT WCHAR* wcschr(WCHAR* s, WCHAR c);
CEHOST_EXPORT const WCHAR* wcsrchr(const WCHAR* s, WCHAR c);
CEHOST_EXPORT WCHAR* wcsrchr(WCHAR* s, WCHAR c);
CEHOST_EXPORT const WCHAR* wcsstr(const WCHAR* s, const WCHAR* find);
// A copy allocated with malloc (free it with free); null when out of memory.
CEHOST_EXPORT WCHAR* _wcsdup(const WCHAR* s);
// 32-bit results as on the device: out-of-range values clamp to the limits of ULONG and LONG.
CEHOST_EXPORT ULONG wcstoul(const WCHAR* s, WCHAR** end, int base);
CEHOST_EXPORT LONG wcstol(const WCHAR* s, WCHAR** end, int base);
CEHOST_EXPORT int _wtoi(const WCHAR* s);

// Formats at most `count` characters. Returns the length when it fits (a terminator is added
// when there is room for it), -1 when the output was cut at `count` characters.
CEHOST_EXPORT int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);
CEHOST_EXPORT int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
// ISO form: `count` includes the terminator, which is always written when count > 0.
// Returns the length, or -1 when the output did not fit (it is then cut and terminated).
CEHOST_EXPORT int vswprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);
CEHOST_EXPORT int swprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
// The window-system forms: output limited to 1024 characters, as on the device.
CEHOST_EXPORT int wvsprintfW(WCHAR* buffer, const WCHAR* format, va_list args);
CEHOST_EXPORT int wsprintfW(WCHAR* buffer, const WCHAR* format, ...);

// Narrow forms with the device's truncation rule of _vsnwprintf.
CEHOST_EXPORT int _vsnprintf(char* buffer, size_t count, const char* format, va_list args);
CEHOST_EXPORT int _snprintf(char* buffer, size_t count, const char* format, ...);

// Safe string helpers: the destination holds `cch` characters including the terminator and
// is always terminated when cch > 0. Output that does not fit is cut and reported.
#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007AL)
#define STRSAFE_E_INVALID_PARAMETER ((HRESULT)0x80070057L)
#define STRSAFE_MAX_CCH 2147483647
CEHOST_EXPORT HRESULT StringCchCopyW(WCHAR* dst, size_t cch, const WCHAR* src);
CEHOST_EXPORT HRESULT StringCchCopyNW(WCHAR* dst, size_t cch, const WCHAR* src, size_t cchSrc);
CEHOST_EXPORT HRESULT StringCchCatW(WCHAR* dst, size_t cch, const WCHAR* src);
CEHOST_EXPORT HRESULT StringCchLengthW(const WCHAR* s, size_t cchMax, size_t* pcch);
CEHOST_EXPORT HRESULT StringCchVPrintfW(WCHAR* dst, size_t cch, const WCHAR* format, va_list args);
CEHOST_EXPORT HRESULT StringCchPrintfW(WCHAR* dst, size_t cch, const WCHAR* format, ...);
