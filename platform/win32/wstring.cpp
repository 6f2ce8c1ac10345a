// Wide string functions and formatted output over UTF-16 code units.
#include "wstring.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cehost/text.h"
#include "winbase.h"

size_t wcslen(const WCHAR* s) {
  const WCHAR* p = s;
  while (*p) ++p;
  return static_cast<size_t>(p - s);
}

size_t wcsnlen(const WCHAR* s, size_t maxlen) {
  size_t n = 0;
  while (n < maxlen && s[n]) ++n;
  return n;
}

WCHAR* wcscpy(WCHAR* dst, const WCHAR* src) {
  WCHAR* d = dst;
  while ((*d++ = *src++) != 0) {
  }
  return dst;
}

WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t count) {
  size_t i = 0;
  for (; i < count && src[i]; ++i) dst[i] = src[i];
  for (; i < count; ++i) dst[i] = 0;
  return dst;
}

WCHAR* wcscat(WCHAR* dst, const WCHAR* src) {
  wcscpy(dst + wcslen(dst), src);
  return dst;
}

int wcscmp(const WCHAR* a, const WCHAR* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

int wcsncmp(const WCHAR* a, const WCHAR* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    if (!a[i]) return 0;
  }
  return 0;
}

int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const WCHAR ca = towlower(a[i]);
    const WCHAR cb = towlower(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (!ca) return 0;
  }
  return 0;
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) { return _wcsnicmp(a, b, SIZE_MAX); }

const WCHAR* wcschr(const WCHAR* s, WCHAR c) {
  for (;; ++s) {
    if (*s == c) return s;
    if (!*s) return nullptr;
  }
}

WCHAR* wcschr(WCHAR* s, WCHAR c) { return const_cast<WCHAR*>(wcschr(static_cast<const WCHAR*>(s), c)); }

const WCHAR* wcsrchr(const WCHAR* s, WCHAR c) {
  const WCHAR* found = nullptr;
  for (;; ++s) {
    if (*s == c) found = s;
    if (!*s) return found;
  }
}

WCHAR* wcsrchr(WCHAR* s, WCHAR c) { return const_cast<WCHAR*>(wcsrchr(static_cast<const WCHAR*>(s), c)); }

const WCHAR* wcsstr(const WCHAR* s, const WCHAR* find) {
  const size_t n = wcslen(find);
  if (n == 0) return s;
  for (; *s; ++s)
    if (wcsncmp(s, find, n) == 0) return s;
  return nullptr;
}

WCHAR* _wcsdup(const WCHAR* s) {
  const size_t n = wcslen(s) + 1;
  auto* copy = static_cast<WCHAR*>(std::malloc(n * sizeof(WCHAR)));
  if (copy) std::memcpy(copy, s, n * sizeof(WCHAR));
  return copy;
}

namespace {

// Parses like strtoull on the ASCII digits of a wide string; sets *overflow when the value
// does not fit 64 bits.
unsigned long long ParseUnsigned(const WCHAR* s, WCHAR** end, int base, bool* negative,
                                 bool* overflow) {
  const WCHAR* p = s;
  while (*p == u' ' || (*p >= u'\t' && *p <= u'\r')) ++p;
  *negative = false;
  *overflow = false;
  if (*p == u'+' || *p == u'-') *negative = (*p++ == u'-');
  if ((base == 0 || base == 16) && p[0] == u'0' && (p[1] == u'x' || p[1] == u'X')) {
    p += 2;
    base = 16;
  } else if (base == 0) {
    base = p[0] == u'0' ? 8 : 10;
  }
  unsigned long long value = 0;
  const WCHAR* digits = p;
  for (;; ++p) {
    int d;
    if (*p >= u'0' && *p <= u'9') d = *p - u'0';
    else if (*p >= u'a' && *p <= u'z') d = *p - u'a' + 10;
    else if (*p >= u'A' && *p <= u'Z') d = *p - u'A' + 10;
    else break;
    if (d >= base) break;
    if (value > (ULLONG_MAX - d) / base) *overflow = true;
    value = value * base + d;
  }
  if (end) *end = const_cast<WCHAR*>(p == digits ? s : p);
  return p == digits ? 0 : value;
}

}  // namespace

ULONG wcstoul(const WCHAR* s, WCHAR** end, int base) {
  bool negative, overflow;
  const unsigned long long v = ParseUnsigned(s, end, base, &negative, &overflow);
  if (overflow || v > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  return negative ? static_cast<ULONG>(0u - static_cast<ULONG>(v)) : static_cast<ULONG>(v);
}

LONG wcstol(const WCHAR* s, WCHAR** end, int base) {
  bool negative, overflow;
  const unsigned long long v = ParseUnsigned(s, end, base, &negative, &overflow);
  if (negative) return (overflow || v > 0x80000000ull) ? INT32_MIN : static_cast<LONG>(0 - static_cast<long long>(v));
  return (overflow || v > 0x7FFFFFFFull) ? INT32_MAX : static_cast<LONG>(v);
}

int _wtoi(const WCHAR* s) { return wcstol(s, nullptr, 10); }

int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args) {
  const std::u16string text = cehost::FormatWide(format, args);
  const size_t n = text.size() < count ? text.size() : count;
  std::memcpy(buffer, text.data(), n * sizeof(WCHAR));
  if (text.size() < count) buffer[text.size()] = 0;
  return text.size() <= count ? static_cast<int>(text.size()) : -1;
}

int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
  va_list ap;
  va_start(ap, format);
  const int n = _vsnwprintf(buffer, count, format, ap);
  va_end(ap);
  return n;
}

int vswprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args) {
  if (count == 0) return -1;
  const std::u16string text = cehost::FormatWide(format, args);
  const size_t n = text.size() < count ? text.size() : count - 1;
  std::memcpy(buffer, text.data(), n * sizeof(WCHAR));
  buffer[n] = 0;
  return text.size() < count ? static_cast<int>(text.size()) : -1;
}

int swprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
  va_list ap;
  va_start(ap, format);
  const int n = vswprintf(buffer, count, format, ap);
  va_end(ap);
  return n;
}

int wvsprintfW(WCHAR* buffer, const WCHAR* format, va_list args) {
  const int n = vswprintf(buffer, 1025, format, args);
  return n < 0 ? 1024 : n;
}

int wsprintfW(WCHAR* buffer, const WCHAR* format, ...) {
  va_list ap;
  va_start(ap, format);
  const int n = wvsprintfW(buffer, format, ap);
  va_end(ap);
  return n;
}

int _vsnprintf(char* buffer, size_t count, const char* format, va_list args) {
  va_list ap;
  va_copy(ap, args);
  const int needed = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  if (needed < 0) return -1;
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  const size_t len = static_cast<size_t>(needed);
  const size_t n = len < count ? len : count;
  std::memcpy(buffer, text.data(), n);
  if (len < count) buffer[len] = 0;
  return len <= count ? needed : -1;
}

int _snprintf(char* buffer, size_t count, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  const int n = _vsnprintf(buffer, count, format, ap);
  va_end(ap);
  return n;
}

HRESULT StringCchCopyNW(WCHAR* dst, size_t cch, const WCHAR* src, size_t cchSrc) {
  if (!dst || cch == 0 || cch > STRSAFE_MAX_CCH) return STRSAFE_E_INVALID_PARAMETER;
  if (!src) src = u"";
  size_t i = 0;
  for (; i + 1 < cch && i < cchSrc && src[i]; ++i) dst[i] = src[i];
  dst[i] = 0;
  return (i < cchSrc && src[i]) ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

HRESULT StringCchCopyW(WCHAR* dst, size_t cch, const WCHAR* src) {
  return StringCchCopyNW(dst, cch, src, SIZE_MAX);
}

HRESULT StringCchCatW(WCHAR* dst, size_t cch, const WCHAR* src) {
  if (!dst || cch == 0 || cch > STRSAFE_MAX_CCH) return STRSAFE_E_INVALID_PARAMETER;
  const size_t len = wcsnlen(dst, cch);
  if (len == cch) return STRSAFE_E_INVALID_PARAMETER;
  return StringCchCopyNW(dst + len, cch - len, src, SIZE_MAX);
}

HRESULT StringCchLengthW(const WCHAR* s, size_t cchMax, size_t* pcch) {
  if (!s || cchMax > STRSAFE_MAX_CCH) {
    if (pcch) *pcch = 0;
    return STRSAFE_E_INVALID_PARAMETER;
  }
  const size_t n = wcsnlen(s, cchMax);
  if (pcch) *pcch = n == cchMax ? 0 : n;
  return n == cchMax ? STRSAFE_E_INVALID_PARAMETER : S_OK;
}

HRESULT StringCchVPrintfW(WCHAR* dst, size_t cch, const WCHAR* format, va_list args) {
  if (!dst || cch == 0 || cch > STRSAFE_MAX_CCH) return STRSAFE_E_INVALID_PARAMETER;
  const std::u16string text = cehost::FormatWide(format, args);
  return StringCchCopyNW(dst, cch, text.c_str(), text.size());
}

HRESULT StringCchPrintfW(WCHAR* dst, size_t cch, const WCHAR* format, ...) {
  va_list ap;
  va_start(ap, format);
  const HRESULT hr = StringCchVPrintfW(dst, cch, format, ap);
  va_end(ap);
  return hr;
}
