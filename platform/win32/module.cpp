// Shared libraries: loading, symbols and module paths.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>

#include "cehost/module.h"
#include "cehost/text.h"
#include "winbase.h"
#include "wstring.h"

namespace cehost {

namespace {
std::mutex g_error_lock;
std::string g_last_loader_error;  // guarded by g_error_lock
}  // namespace

std::string LastLoaderError() {
  std::lock_guard<std::mutex> guard(g_error_lock);
  return g_last_loader_error;
}

HMODULE ModuleFromAddress(const void* address) {
  Dl_info info;
  if (!dladdr(address, &info) || !info.dli_fname) return nullptr;
  // The library is loaded (the address is in it), so the handle stays valid after the
  // reference taken here is given back.
  void* handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle;
}

}  // namespace cehost

extern "C" {

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
  if (!lpLibFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string path = cehost::ToUtf8(lpLibFileName);
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    {
      std::lock_guard<std::mutex> guard(cehost::g_error_lock);
      cehost::g_last_loader_error = why ? why : "unknown loader error";
    }
    SetLastError(access(path.c_str(), F_OK) == 0 ? ERROR_DLL_INIT_FAILED : ERROR_MOD_NOT_FOUND);
  }
  return handle;
}

BOOL FreeLibrary(HMODULE hLibModule) {
  if (!hLibModule || dlclose(hLibModule) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

void* GetProcAddressA(HMODULE hModule, LPCSTR lpProcName) {
  if (!hModule || !lpProcName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* p = dlsym(hModule, lpProcName);
  if (!p) SetLastError(ERROR_PROC_NOT_FOUND);
  return p;
}

void* GetProcAddressW(HMODULE hModule, LPCWSTR lpProcName) {
  if (!lpProcName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return GetProcAddressA(hModule, cehost::ToUtf8(lpProcName).c_str());
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  std::string path;
  if (!hModule) {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) {
      SetLastError(ERROR_GEN_FAILURE);
      return 0;
    }
    path.assign(buf, static_cast<size_t>(n));
  } else {
    link_map* map = nullptr;
    if (dlinfo(hModule, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    path = map->l_name;
    if (!path.empty() && path[0] != '/') {
      char* real = realpath(path.c_str(), nullptr);
      if (real) {
        path = real;
        free(real);
      }
    }
  }
  const std::u16string wide = cehost::FromUtf8(path);
  if (!lpFilename || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (wide.size() >= nSize) {
    std::memcpy(lpFilename, wide.data(), (nSize - 1) * sizeof(WCHAR));
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
  return static_cast<DWORD>(wide.size());
}

}  // extern "C"
