#include "library_driver.h"

#include "cehost/module.h"
#include "cehost/text.h"

namespace cehost {

namespace {

template <typename Fn>
bool Bind(HMODULE module, const std::string& prefix, const char* entry, Fn* out) {
  *out = reinterpret_cast<Fn>(GetProcAddressA(module, (prefix + "_" + entry).c_str()));
  return *out != nullptr;
}

}  // namespace

std::shared_ptr<LibraryDriver> LibraryDriver::Load(const std::u16string& library,
                                                   const std::u16string& prefix,
                                                   const std::u16string& key_path) {
  HMODULE module = LoadLibraryW(library.c_str());
  if (!module) {
    const DWORD error = GetLastError();
    OutputDebugStringA(("devices: cannot load " + ToUtf8(library) + ": " + LastLoaderError() +
                        "\r\n").c_str());
    SetLastError(error);
    return nullptr;
  }
  // From here the library is unloaded by the destructor, which runs Deinit only once Init
  // has succeeded.
  std::shared_ptr<LibraryDriver> driver(new LibraryDriver(module));
  const std::string p = ToUtf8(prefix);
  if (!Bind(module, p, "Init", &driver->init_) || !Bind(module, p, "Deinit", &driver->deinit_) ||
      !Bind(module, p, "Open", &driver->open_) || !Bind(module, p, "Close", &driver->close_) ||
      !Bind(module, p, "IOControl", &driver->io_control_)) {
    OutputDebugStringA(("devices: " + ToUtf8(library) + " lacks an entry point of " + p +
                        "\r\n").c_str());
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  Bind(module, p, "Read", &driver->read_);
  Bind(module, p, "Write", &driver->write_);
  Bind(module, p, "Seek", &driver->seek_);

  SetLastError(ERROR_SUCCESS);
  const DWORD context = driver->init_(key_path.c_str(), nullptr);
  if (context == 0) {
    const DWORD error = GetLastError();
    driver->deinit_ = nullptr;  // Init failed: nothing to undo
    SetLastError(error ? error : static_cast<DWORD>(ERROR_GEN_FAILURE));
    return nullptr;
  }
  driver->device_context_ = context;
  return driver;
}

LibraryDriver::~LibraryDriver() {
  const DWORD error = GetLastError();  // the destructor may run at the end of anyone's call
  if (deinit_ && device_context_) deinit_(device_context_);
  FreeLibrary(module_);
  SetLastError(error);
}

DWORD LibraryDriver::Open(DWORD access, DWORD share) {
  return open_(device_context_, access, share);
}

BOOL LibraryDriver::Close(DWORD open_context) { return close_(open_context); }

BOOL LibraryDriver::IOControl(DWORD open_context, DWORD code, BYTE* in, DWORD in_size, BYTE* out,
                              DWORD out_size, DWORD* bytes_returned) {
  return io_control_(open_context, code, in, in_size, out, out_size, bytes_returned);
}

DWORD LibraryDriver::Read(DWORD open_context, void* buffer, DWORD count) {
  return read_ ? read_(open_context, buffer, count) : StreamDriver::Read(open_context, buffer, count);
}

DWORD LibraryDriver::Write(DWORD open_context, const void* buffer, DWORD count) {
  return write_ ? write_(open_context, buffer, count)
                : StreamDriver::Write(open_context, buffer, count);
}

DWORD LibraryDriver::Seek(DWORD open_context, LONG amount, DWORD method) {
  return seek_ ? seek_(open_context, amount, static_cast<WORD>(method))
               : StreamDriver::Seek(open_context, amount, method);
}

}  // namespace cehost
