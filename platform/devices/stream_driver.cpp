// The optional methods of StreamDriver.
#include "cehost/stream_driver.h"

namespace cehost {

StreamDriver::~StreamDriver() = default;

BOOL StreamDriver::Close(DWORD) { return TRUE; }

DWORD StreamDriver::Read(DWORD, void*, DWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return 0xFFFFFFFFu;
}

DWORD StreamDriver::Write(DWORD, const void*, DWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return 0xFFFFFFFFu;
}

DWORD StreamDriver::Seek(DWORD, LONG, DWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return 0xFFFFFFFFu;
}

}  // namespace cehost
