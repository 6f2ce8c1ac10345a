// UTF-16 <-> UTF-8 conversion and the device-style wide formatter.
#include "cehost/text.h"

#include <cstdio>
#include <cstring>

#include "wstring.h"

namespace cehost {

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::string ToUtf8(const WCHAR* text) {
  return text ? ToUtf8(std::u16string_view(text, wcslen(text))) : std::string();
}

std::u16string FromUtf8(std::string_view text, bool* invalid) {
  if (invalid) *invalid = false;
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char b0 = static_cast<unsigned char>(text[i]);
    int extra;
    char32_t cp;
    char32_t min;
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    } else if ((b0 & 0xE0) == 0xC0) {
      extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
      out.push_back(0xFFFD);
      if (invalid) *invalid = true;
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= text.size() || (static_cast<unsigned char>(text[j]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(text[j]) & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(0xFFFD);
      if (invalid) *invalid = true;
      i = ok ? j : i + 1;
      continue;
    }
    AppendUtf16(out, cp);
    i = j;
  }
  return out;
}

namespace {

// One conversion of a wide format (the text from % to its letter), parsed.
struct FormatItem {
  std::string flags;
  int width = -1;      // -1: none
  int precision = -1;  // -1: none
  enum Length { kNone, kShort, kChar, kLong, kLongLong, kPtr, kLongDouble, kWide } length = kNone;
  char conv = 0;
};

void Pad(std::u16string& out, size_t have, const FormatItem& item, bool after_text) {
  if (item.width < 0 || static_cast<size_t>(item.width) <= have) return;
  const bool left_justify = item.flags.find('-') != std::string::npos;
  if (left_justify == after_text) out.append(item.width - have, u' ');
}

void AppendString(std::u16string& out, std::u16string_view text, const FormatItem& item) {
  if (item.precision >= 0 && text.size() > static_cast<size_t>(item.precision))
    text = text.substr(0, item.precision);
  Pad(out, text.size(), item, false);
  out.append(text);
  Pad(out, text.size(), item, true);
}

// Integer and floating conversions are done by the C library on an equivalent narrow format,
// with the argument already read at the device's width.
template <typename T>
void AppendNumber(std::u16string& out, const FormatItem& item, const char* length, T value) {
  std::string fmt = "%" + item.flags;
  if (item.width >= 0) fmt += std::to_string(item.width);
  if (item.precision >= 0) fmt += "." + std::to_string(item.precision);
  fmt += length;
  fmt += item.conv;
  char small[128];
  const int n = std::snprintf(small, sizeof small, fmt.c_str(), value);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    out.append(small, small + n);
  } else {
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), fmt.c_str(), value);
    out.append(big.begin(), big.begin() + n);
  }
}

}  // namespace

std::u16string FormatWide(const WCHAR* format, va_list args) {
  std::u16string out;
  if (!format) return out;
  va_list ap;
  va_copy(ap, args);
  const WCHAR* p = format;
  while (*p) {
    if (*p != u'%') {
      out.push_back(*p++);
      continue;
    }
    const WCHAR* start = p++;
    if (*p == u'%') {
      out.push_back(u'%');
      ++p;
      continue;
    }
    FormatItem item;
    while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0')
      item.flags.push_back(static_cast<char>(*p++));
    if (*p == u'*') {
      item.width = va_arg(ap, int);
      if (item.width < 0) {
        item.flags.push_back('-');
        item.width = -item.width;
      }
      ++p;
    } else {
      while (*p >= u'0' && *p <= u'9') item.width = (item.width < 0 ? 0 : item.width) * 10 + (*p++ - u'0');
    }
    if (*p == u'.') {
      ++p;
      item.precision = 0;
      if (*p == u'*') {
        item.precision = va_arg(ap, int);
        if (item.precision < 0) item.precision = -1;
        ++p;
      } else {
        while (*p >= u'0' && *p <= u'9') item.precision = item.precision * 10 + (*p++ - u'0');
      }
    }
    if (*p == u'h') {
      ++p;
      item.length = FormatItem::kShort;
      if (*p == u'h') ++p, item.length = FormatItem::kChar;
    } else if (*p == u'l') {
      ++p;
      item.length = FormatItem::kLong;
      if (*p == u'l') ++p, item.length = FormatItem::kLongLong;
    } else if (*p == u'L') {
      ++p, item.length = FormatItem::kLongDouble;
    } else if (*p == u'w') {
      ++p, item.length = FormatItem::kWide;
    } else if (*p == u'z' || *p == u't' || *p == u'j') {
      item.length = *p == u'j' ? FormatItem::kLongLong : FormatItem::kPtr;
      ++p;
    } else if (*p == u'I') {
      if (p[1] == u'6' && p[2] == u'4') {
        p += 3, item.length = FormatItem::kLongLong;
      } else if (p[1] == u'3' && p[2] == u'2') {
        p += 3, item.length = FormatItem::kNone;
      } else {
        ++p, item.length = FormatItem::kPtr;
      }
    }
    const WCHAR conv = *p;
    if (conv == 0 || conv > 0x7F) {
      // An incomplete conversion is printed as written.
      out.append(start, p);
      continue;
    }
    ++p;
    item.conv = static_cast<char>(conv);
    switch (conv) {
      case u'd':
      case u'i':
        switch (item.length) {
          case FormatItem::kLongLong: AppendNumber(out, item, "ll", va_arg(ap, long long)); break;
          case FormatItem::kPtr: AppendNumber(out, item, "ll", static_cast<long long>(va_arg(ap, intptr_t))); break;
          case FormatItem::kShort: AppendNumber(out, item, "", static_cast<int>(static_cast<short>(va_arg(ap, int)))); break;
          case FormatItem::kChar: AppendNumber(out, item, "", static_cast<int>(static_cast<signed char>(va_arg(ap, int)))); break;
          default: AppendNumber(out, item, "", va_arg(ap, int)); break;  // "l" is 32-bit here
        }
        break;
      case u'u':
      case u'x':
      case u'X':
      case u'o':
        switch (item.length) {
          case FormatItem::kLongLong: AppendNumber(out, item, "ll", va_arg(ap, unsigned long long)); break;
          case FormatItem::kPtr: AppendNumber(out, item, "ll", static_cast<unsigned long long>(va_arg(ap, uintptr_t))); break;
          case FormatItem::kShort: AppendNumber(out, item, "", static_cast<unsigned>(static_cast<unsigned short>(va_arg(ap, unsigned)))); break;
          case FormatItem::kChar: AppendNumber(out, item, "", static_cast<unsigned>(static_cast<unsigned char>(va_arg(ap, unsigned)))); break;
          default: AppendNumber(out, item, "", va_arg(ap, unsigned)); break;
        }
        break;
      case u'f':
      case u'F':
      case u'e':
      case u'E':
      case u'g':
      case u'G':
      case u'a':
      case u'A':
        if (item.length == FormatItem::kLongDouble)
          AppendNumber(out, item, "L", va_arg(ap, long double));
        else
          AppendNumber(out, item, "", va_arg(ap, double));
        break;
      case u'p': {
        // Pointers print as 8 upper-case hex digits when they fit 32 bits, as on the device.
        const uintptr_t v = reinterpret_cast<uintptr_t>(va_arg(ap, void*));
        FormatItem hex = item;
        hex.conv = 'X';
        if (hex.precision < 0) hex.precision = v > 0xFFFFFFFFu ? 16 : 8;
        AppendNumber(out, hex, "ll", static_cast<unsigned long long>(v));
        break;
      }
      case u'c':
      case u'C': {
        const bool narrow = conv == u'C' ? item.length != FormatItem::kLong && item.length != FormatItem::kWide
                                         : item.length == FormatItem::kShort;
        const int v = va_arg(ap, int);
        const char16_t c = narrow ? static_cast<char16_t>(static_cast<unsigned char>(v))
                                  : static_cast<char16_t>(v);
        AppendString(out, std::u16string_view(&c, 1), item);
        break;
      }
      case u's':
      case u'S': {
        const bool narrow = conv == u'S' ? item.length != FormatItem::kLong && item.length != FormatItem::kWide
                                         : item.length == FormatItem::kShort;
        if (narrow) {
          const char* s = va_arg(ap, const char*);
          // 8-bit strings are taken byte for byte (ASCII and Latin-1 print as such).
          std::u16string wide;
          if (!s) s = "(null)";
          const size_t n = item.precision >= 0 ? strnlen(s, item.precision) : std::strlen(s);
          for (size_t i = 0; i < n; ++i) wide.push_back(static_cast<unsigned char>(s[i]));
          AppendString(out, wide, item);
        } else {
          const WCHAR* s = va_arg(ap, const WCHAR*);
          if (!s) s = u"(null)";
          const size_t n = item.precision >= 0 ? wcsnlen(s, item.precision) : wcslen(s);
          AppendString(out, std::u16string_view(s, n), item);
        }
        break;
      }
      case u'n':
        (void)va_arg(ap, void*);  // never written through: format strings are not trusted
        break;
      default:
        out.append(start, p);
        break;
    }
  }
  va_end(ap);
  return out;
}

std::u16string FormatWideF(const WCHAR* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::u16string s = FormatWide(format, ap);
  va_end(ap);
  return s;
}

}  // namespace cehost
