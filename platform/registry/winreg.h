// The registry API of the device. HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT, HKEY_CURRENT_USER
// and HKEY_USERS are separate trees of one persistent database (cehost/registry.h says where
// it lives); key and value names compare without regard to case (each UTF-16 unit folded with
// towlower) and keep the case they were created with; every call is one transaction, durable
// once it has returned ERROR_SUCCESS; results are Win32 error numbers.
//
// Rules shared by the functions:
// - HKEYs are validated: a closed or made-up HKEY gives ERROR_INVALID_HANDLE; a handle whose
//   key was deleted (by this or another process) gives ERROR_KEY_DELETED.
// - Subkey paths are components joined by '\'; one trailing '\' is accepted, a leading one
//   or an empty component gives ERROR_BAD_PATHNAME; a component holds at most 255 characters
//   and a value name at most 16383 (else ERROR_INVALID_PARAMETER). A null or empty subkey
//   names the key itself. A null value name is the key's default value.
// - Missing keys and values give ERROR_FILE_NOT_FOUND.
// - Data buffers: with a null data pointer the size is reported (the first pass of the usual
//   two-pass query); with a buffer too small, ERROR_MORE_DATA, the size needed is reported and
//   the buffer is left as it was. Name buffers (RegEnum*) count characters including the
//   terminator on input; on success they report the length without it, on ERROR_MORE_DATA the
//   size needed with it.
// - Data is stored as given: REG_SZ and REG_MULTI_SZ keep whatever terminators the writer
//   included, and every type (known or not) round-trips as raw bytes.
// - Subkeys and values enumerate in creation order; rewriting a value keeps its place.
// - Classes, security attributes, access masks and options are accepted and ignored.
//
// Threads: every function may be called from any thread; calls are serialised per process.
// Several processes may use one database at once.
#pragma once

#include "winbase.h"

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef ACCESS_MASK REGSAM;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

extern "C" {

CEHOST_EXPORT LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                                   DWORD dwOptions, REGSAM samDesired,
                                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                   LPDWORD lpdwDisposition);
CEHOST_EXPORT LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                 PHKEY phkResult);
CEHOST_EXPORT LONG RegCloseKey(HKEY hKey);
CEHOST_EXPORT LONG RegFlushKey(HKEY hKey);
CEHOST_EXPORT LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                    LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
CEHOST_EXPORT LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                                  const BYTE* lpData, DWORD cbData);
CEHOST_EXPORT LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
// Deletes the key and everything under it (the device's form).
CEHOST_EXPORT LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
CEHOST_EXPORT LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                                 LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                                 PFILETIME lpftLastWriteTime);
CEHOST_EXPORT LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName,
                                 LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                 LPBYTE lpData, LPDWORD lpcbData);
CEHOST_EXPORT LONG RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass,
                                    LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                    LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                    LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                    LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                    PFILETIME lpftLastWriteTime);

}  // extern "C"
