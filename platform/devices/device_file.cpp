// CreateFileW and the calls on an open device: the handle is a kernel object holding the
// driver and the open context, so CloseHandle and handle validation work as for any handle.
#include <memory>

#include "cehost/kernel_object.h"
#include "device_table.h"
#include "winioctl.h"

namespace cehost {

namespace {

// One successful Open of a device. Every call on the handle holds a reference, so the
// driver's Close runs only after the last handle is closed and the last call has returned.
class DeviceHandle : public KernelObject {
 public:
  DeviceHandle(std::shared_ptr<StreamDriver> driver, DWORD open_context)
      : driver_(std::move(driver)), open_context_(open_context) {}
  ~DeviceHandle() override {
    // May run at the end of another thread's call: keep that thread's last error.
    const DWORD error = GetLastError();
    driver_->Close(open_context_);
    SetLastError(error);
  }

  StreamDriver& driver() const { return *driver_; }
  DWORD open_context() const { return open_context_; }

 private:
  const std::shared_ptr<StreamDriver> driver_;
  const DWORD open_context_;
};

std::shared_ptr<DeviceHandle> Lookup(HANDLE h) { return LookupHandleAs<DeviceHandle>(h); }

bool BufferOk(const void* buffer, DWORD size) {
  if (buffer || size == 0) return true;
  SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

}  // namespace

}  // namespace cehost

extern "C" {

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  std::shared_ptr<cehost::StreamDriver> driver = cehost::DeviceTable::Instance().Find(lpFileName);
  if (!driver) return INVALID_HANDLE_VALUE;
  SetLastError(ERROR_SUCCESS);
  const DWORD open = driver->Open(dwDesiredAccess, dwShareMode);
  if (open == 0) {
    if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_GEN_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  return cehost::IssueHandle(std::make_shared<cehost::DeviceHandle>(std::move(driver), open));
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED) {
  auto device = cehost::Lookup(hDevice);
  if (!device || !cehost::BufferOk(lpInBuffer, nInBufferSize) ||
      !cehost::BufferOk(lpOutBuffer, nOutBufferSize))
    return FALSE;
  DWORD returned = 0;
  const BOOL ok = device->driver().IOControl(
      device->open_context(), dwIoControlCode, static_cast<BYTE*>(lpInBuffer), nInBufferSize,
      static_cast<BYTE*>(lpOutBuffer), nOutBufferSize, &returned);
  if (lpBytesReturned) *lpBytesReturned = returned;
  return ok;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  auto device = cehost::Lookup(hFile);
  if (!device || !cehost::BufferOk(lpBuffer, nNumberOfBytesToRead)) return FALSE;
  const DWORD n = device->driver().Read(device->open_context(), lpBuffer, nNumberOfBytesToRead);
  if (n == 0xFFFFFFFFu) return FALSE;
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = n;
  return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  auto device = cehost::Lookup(hFile);
  if (!device || !cehost::BufferOk(lpBuffer, nNumberOfBytesToWrite)) return FALSE;
  const DWORD n = device->driver().Write(device->open_context(), lpBuffer, nNumberOfBytesToWrite);
  if (n == 0xFFFFFFFFu) return FALSE;
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = n;
  return TRUE;
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                     DWORD dwMoveMethod) {
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = 0;
  auto device = cehost::Lookup(hFile);
  if (!device) return INVALID_SET_FILE_POINTER;
  return device->driver().Seek(device->open_context(), lDistanceToMove, dwMoveMethod);
}

}  // extern "C"
