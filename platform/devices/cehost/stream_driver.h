// StreamDriver: a stream driver as the device manager calls it. The host's built-in drivers
// (the emulated VPU "VCU1:", scaler "MSC0:", redirector "RDR0:") derive from it and register
// an instance with cehost::RegisterBuiltInDriver; driver libraries listed in the registry are
// wrapped in one by the device manager (see driver_library.h).
//
// The object is the device context: constructing it is the driver's Init and its destructor
// is its Deinit. The destructor runs once the driver is deactivated (or, for a library, the
// process exits) and its last open handle is closed. Open contexts are 32-bit values of the
// driver's choosing, as on the device.
//
// Threads: every method may be called from any thread, concurrently, also for one open
// context; a driver guards its own state. Methods report failure through SetLastError, which
// reaches the caller of CreateFileW, DeviceIoControl and the rest unchanged.
//
// References: buffers are the caller's, borrowed for the duration of the call; the driver
// keeps no pointer into them. The device manager and every open handle each hold a reference
// to the driver object.
#pragma once

#include "windows.h"

namespace cehost {

class CEHOST_EXPORT StreamDriver {
 public:
  virtual ~StreamDriver();

  // Required. CreateFileW of the device: returns a nonzero open context, or 0 with a last
  // error to make CreateFileW fail.
  virtual DWORD Open(DWORD access, DWORD share) = 0;
  // Optional; the default does nothing and returns TRUE. Called once per successful Open,
  // when the last handle of that open is closed and no call on it is in progress.
  virtual BOOL Close(DWORD open_context);
  // Required. DeviceIoControl: the caller's buffers as given (either may be null with size
  // 0); `bytes_returned` is never null. Returns TRUE, or FALSE with a last error.
  virtual BOOL IOControl(DWORD open_context, DWORD code, BYTE* in, DWORD in_size, BYTE* out,
                         DWORD out_size, DWORD* bytes_returned) = 0;
  // Optional; the defaults fail with ERROR_NOT_SUPPORTED. Read and Write return the bytes
  // moved, Seek the new position (method FILE_BEGIN, FILE_CURRENT or FILE_END), 0xFFFFFFFF
  // with a last error on failure.
  virtual DWORD Read(DWORD open_context, void* buffer, DWORD count);
  virtual DWORD Write(DWORD open_context, const void* buffer, DWORD count);
  virtual DWORD Seek(DWORD open_context, LONG amount, DWORD method);
};

}  // namespace cehost
