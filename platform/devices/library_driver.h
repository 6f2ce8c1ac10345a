// LibraryDriver: a stream-driver library (driver_library.h) behind the StreamDriver
// interface. The device table creates one when it activates a device listed in the registry;
// the object holds the loaded library and the device context its Init returned.
//
// Threads: the entry points are called from whatever thread calls the device, concurrently;
// the library guards its own state. Construction and destruction are the table's business.
#pragma once

#include <memory>
#include <string>

#include "cehost/stream_driver.h"
#include "driver_library.h"

namespace cehost {

class LibraryDriver : public StreamDriver {
 public:
  // Loads `library`, binds "<prefix>_Init" and the rest, and runs Init with `key_path`. Null,
  // with the thread's last error set (see fileapi.h), when any step fails; a library that
  // was loaded is then unloaded again.
  static std::shared_ptr<LibraryDriver> Load(const std::u16string& library,
                                             const std::u16string& prefix,
                                             const std::u16string& key_path);
  // Deinit, then unloads the library.
  ~LibraryDriver() override;

  DWORD Open(DWORD access, DWORD share) override;
  BOOL Close(DWORD open_context) override;
  BOOL IOControl(DWORD open_context, DWORD code, BYTE* in, DWORD in_size, BYTE* out,
                 DWORD out_size, DWORD* bytes_returned) override;
  DWORD Read(DWORD open_context, void* buffer, DWORD count) override;
  DWORD Write(DWORD open_context, const void* buffer, DWORD count) override;
  DWORD Seek(DWORD open_context, LONG amount, DWORD method) override;

 private:
  explicit LibraryDriver(HMODULE module) : module_(module) {}

  HMODULE module_;
  DWORD device_context_ = 0;
  PFN_STREAM_INIT init_ = nullptr;
  PFN_STREAM_DEINIT deinit_ = nullptr;
  PFN_STREAM_OPEN open_ = nullptr;
  PFN_STREAM_CLOSE close_ = nullptr;
  PFN_STREAM_IOCONTROL io_control_ = nullptr;
  PFN_STREAM_READ read_ = nullptr;    // optional
  PFN_STREAM_WRITE write_ = nullptr;  // optional
  PFN_STREAM_SEEK seek_ = nullptr;    // optional
};

}  // namespace cehost
