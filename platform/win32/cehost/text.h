// Text conversions for host-layer code: UTF-16 <-> UTF-8 (paths, SQLite, messages) and the
// wide formatter behind the swprintf family.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "wintypes.h"

namespace cehost {

// Unpaired surrogates become U+FFFD; the conversion never fails.
CEHOST_EXPORT std::string ToUtf8(std::u16string_view text);
CEHOST_EXPORT std::string ToUtf8(const WCHAR* text);  // null gives ""
// Invalid UTF-8 sequences become U+FFFD; *invalid (when given) tells whether there were any.
CEHOST_EXPORT std::u16string FromUtf8(std::string_view text, bool* invalid = nullptr);

// The whole output of a device-style wide format (see wstring.h), without truncation.
CEHOST_EXPORT std::u16string FormatWide(const WCHAR* format, va_list args);
CEHOST_EXPORT std::u16string FormatWideF(const WCHAR* format, ...);

}  // namespace cehost
