#include "debug_print.h"

#include <cstdarg>

namespace lossless_reader {

namespace {
constexpr size_t kMessageChars = 256;
constexpr WCHAR kTag[] = u"LOSSLESSREADER:";
}  // namespace

void DebugPrint(const WCHAR* format, ...) {
  WCHAR message[kMessageChars];
  va_list args;
  va_start(args, format);
  // A message longer than the buffer is cut, as on the device; the line still goes out.
  _vsnwprintf(message, kMessageChars - 1, format, args);
  va_end(args);
  message[kMessageChars - 1] = 0;

  WCHAR line[sizeof(kTag) / sizeof(WCHAR) + kMessageChars + 2];
  wcscpy(line, kTag);
  wcscat(line, message);
  wcscat(line, u"\r\n");
  OutputDebugStringW(line);
}

}  // namespace lossless_reader
