#include "thread_priority.h"

#include "winreg.h"

namespace cehost::dshow {
namespace {

int ReadPriority(LPCWSTR name, int fallback) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\CeHost\\MediaGraph\\ThreadPriority", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS)
    return fallback;
  DWORD type = 0, value = 0, size = sizeof(value);
  const LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value) || value > 255) return fallback;
  return static_cast<int>(value);
}

}  // namespace

int SourceThreadPriority() { return ReadPriority(u"Source", kDefaultSourceThreadPriority); }

int RendererThreadPriority() { return ReadPriority(u"Renderer", kDefaultRendererThreadPriority); }

}  // namespace cehost::dshow
