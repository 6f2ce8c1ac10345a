// DebugPrint: the LosslessReader deliverable's diagnostic line. It formats a wide message
// (device rules: %s is a wide string, %hs an 8-bit one, %ld and %lu 32-bit) into at most 256
// characters and writes "LOSSLESSREADER:", the message and "\r\n" to the debug output as one
// line. Nothing depends on these lines; they are for whoever watches the debug output.
// Any thread may call it; it keeps no state.
#pragma once

#include "windows.h"

namespace lossless_reader {

void DebugPrint(const WCHAR* format, ...);

}  // namespace lossless_reader
