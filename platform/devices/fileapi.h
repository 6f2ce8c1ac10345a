// The file functions of the device as the host offers them: for stream devices only. A name
// of the form "XXXn:" (three letters, one digit, a colon; letters in any case) opens device n
// of the driver with prefix XXX; ordinary files are read with _wfopen and friends instead.
//
// Failures, with the thread's last error:
// - a name that is not a device name: ERROR_INVALID_NAME;
// - a device name with no driver, built in or listed in the registry: ERROR_FILE_NOT_FOUND;
// - a driver library that cannot be loaded: ERROR_MOD_NOT_FOUND or ERROR_DLL_INIT_FAILED;
//   one that lacks a required entry point: ERROR_PROC_NOT_FOUND;
// - a driver whose Init or Open fails: the error the driver set (ERROR_GEN_FAILURE if none);
// - a handle that is not an open device: ERROR_INVALID_HANDLE;
// - a null buffer with a non-zero size: ERROR_INVALID_PARAMETER.
// When a driver's IOControl, Read, Write or Seek fails, its own last error is what the caller
// sees.
//
// Threads: every function may be called from any thread; one handle may be used by several
// threads at once (the driver sees the calls concurrently).
#pragma once

#include "winbase.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

// Accepted and ignored: device I/O on the host is synchronous.
typedef struct _OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  union {
    struct {
      DWORD Offset;
      DWORD OffsetHigh;
    };
    PVOID Pointer;
  };
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

extern "C" {

// Opens a device; dwDesiredAccess and dwShareMode go to the driver's Open. The creation
// disposition, attributes and template are ignored. CloseHandle closes the handle; the
// driver's Close runs when the last handle to the open and every call in progress on it have
// finished.
CEHOST_EXPORT HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                 LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                 DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                 HANDLE hTemplateFile);
// Calls the driver's IOControl with the buffers as given. *lpBytesReturned (when given)
// receives what the driver reports (0 if it reports nothing).
CEHOST_EXPORT BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                   DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                   LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped);
CEHOST_EXPORT BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                            LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
CEHOST_EXPORT BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                             LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
// Devices have 32-bit positions: *lpDistanceToMoveHigh (when given) is ignored on input and
// set to 0. Returns the driver's new position, or INVALID_SET_FILE_POINTER on failure.
CEHOST_EXPORT DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                                   DWORD dwMoveMethod);

}  // extern "C"

#define CreateFile CreateFileW
