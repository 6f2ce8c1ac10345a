// What a stream-driver library exports, and how the registry lists it, for drivers loaded by
// the device manager the way the device's services host loads them (authsvc for "SSP0:").
//
// Registry layout: one key per driver under HKEY_LOCAL_MACHINE\Drivers\BuiltIn\<Name>:
//
//   Value    Type       Meaning
//   "Dll"    REG_SZ     the library: a path, or a file name the loader searches for
//   "Prefix" REG_SZ     the three-letter device prefix; also the prefix of the export names
//   "Index"  REG_DWORD  the device index 0..9 (0 when missing)
//
// The first key (in enumeration order) whose Prefix matches without regard to case and whose
// Index matches serves the device. The library is loaded at the first CreateFileW of the
// device, its entry points are bound by name ("<Prefix>_Init", ...), and Init runs once with
// the key's path relative to HKEY_LOCAL_MACHINE ("Drivers\BuiltIn\<Name>"). A load or Init
// that fails is retried at the next CreateFileW.
//
// Required exports: Init, Deinit, Open, Close, IOControl. Optional: Read, Write, Seek (calls
// to a missing one fail with ERROR_NOT_SUPPORTED). PowerUp and PowerDown are not called: the
// host has no power events.
//
// Contexts are 32-bit, as on the device: a driver that needs per-open state keeps a table and
// returns an index (never a pointer, which does not fit 32 bits on the host).
//
// Deinit runs (and the library is unloaded) when the device is deactivated
// (cehost::DeactivateDevice) or the process exits, once the last handle to the device is
// closed. A driver whose handles are still open at exit is not deinitialised: other threads
// may still be inside it.
#pragma once

#include "windows.h"

extern "C" {

// Returns the device context, 0 on failure (with a last error).
typedef DWORD (*PFN_STREAM_INIT)(LPCWSTR registry_path, LPCVOID bus_context);
typedef BOOL (*PFN_STREAM_DEINIT)(DWORD device_context);
// Returns an open context, 0 on failure (with a last error).
typedef DWORD (*PFN_STREAM_OPEN)(DWORD device_context, DWORD access, DWORD share);
typedef BOOL (*PFN_STREAM_CLOSE)(DWORD open_context);
// Returns TRUE, or FALSE with the driver's status in the thread's last error.
typedef BOOL (*PFN_STREAM_IOCONTROL)(DWORD open_context, DWORD code, PBYTE in, DWORD in_size,
                                     PBYTE out, DWORD out_size, PDWORD bytes_returned);
// Read and Write return the bytes moved, Seek the new position; 0xFFFFFFFF on failure.
typedef DWORD (*PFN_STREAM_READ)(DWORD open_context, LPVOID buffer, DWORD count);
typedef DWORD (*PFN_STREAM_WRITE)(DWORD open_context, LPCVOID buffer, DWORD count);
typedef DWORD (*PFN_STREAM_SEEK)(DWORD open_context, LONG amount, WORD type);

}  // extern "C"
