// A stream-driver library for the device tests, loaded by the device manager from the
// registry as the services host would load it. Init fails (with ERROR_DEVICE_NOT_AVAILABLE)
// when its registry key holds "FailInit" = 1. Read fills the buffer with 'r', Write accepts
// everything, Seek returns the distance.
#include <cstring>

#include "device_test_driver.h"
#include "winreg.h"
#include "wstring.h"

namespace {
TestDriverState g_state;  // touched by whichever thread calls; the tests call from one
}  // namespace

extern "C" {

CEHOST_EXPORT TestDriverState* TST_StateForTesting() { return &g_state; }

CEHOST_EXPORT DWORD TST_Init(LPCWSTR registry_path, LPCVOID) {
  ++g_state.inits;
  wcsncpy(g_state.init_path, registry_path, 127);
  HKEY key;
  DWORD fail = 0, size = sizeof fail;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, registry_path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    RegQueryValueExW(key, u"FailInit", nullptr, nullptr, reinterpret_cast<BYTE*>(&fail), &size);
    RegCloseKey(key);
  }
  if (fail) {
    SetLastError(ERROR_DEVICE_NOT_AVAILABLE);
    return 0;
  }
  return 0x51;
}

CEHOST_EXPORT BOOL TST_Deinit(DWORD) {
  ++g_state.deinits;
  return TRUE;
}

CEHOST_EXPORT DWORD TST_Open(DWORD, DWORD access, DWORD share) {
  g_state.access = access;
  g_state.share = share;
  return static_cast<DWORD>(++g_state.opens);
}

CEHOST_EXPORT BOOL TST_Close(DWORD) {
  ++g_state.closes;
  return TRUE;
}

CEHOST_EXPORT BOOL TST_IOControl(DWORD, DWORD code, PBYTE in, DWORD in_size, PBYTE out,
                                 DWORD out_size, PDWORD returned) {
  switch (code) {
    case IOCTL_TEST_ECHO:
      if (out_size < in_size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
      }
      if (in_size) std::memcpy(out, in, in_size);
      *returned = in_size;
      return TRUE;
    case IOCTL_TEST_FAIL: {
      DWORD status = ERROR_INVALID_PARAMETER;
      if (in && in_size == sizeof status) std::memcpy(&status, in, sizeof status);
      SetLastError(status);
      return FALSE;
    }
    default:
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
  }
}

CEHOST_EXPORT DWORD TST_Read(DWORD, LPVOID buffer, DWORD count) {
  std::memset(buffer, 'r', count);
  return count;
}

CEHOST_EXPORT DWORD TST_Write(DWORD, LPCVOID, DWORD count) { return count; }

CEHOST_EXPORT DWORD TST_Seek(DWORD, LONG amount, WORD) { return static_cast<DWORD>(amount); }

}  // extern "C"
