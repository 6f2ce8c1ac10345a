// mediahost selfcheck: exercises each service of the host layer for real and reports one line
// per check. Each check cleans up after itself, also when it fails.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cehost/device_manager.h"
#include "cehost/physical_arena.h"
#include "cehost/registry.h"
#include "cehost/text.h"
#include "command.h"
#include "objbase.h"
#include "windows.h"
#include "winioctl.h"
#include "winreg.h"

namespace mediahost {

namespace {

// A check returns "" when it passed, else what went wrong.
using Result = std::string;

std::string Error(const char* what, DWORD code) {
  char number[16];
  std::snprintf(number, sizeof number, code > 0xFFFF ? "0x%08X" : "%u", static_cast<unsigned>(code));
  return std::string(what) + " (error " + number + ")";
}

// ---- Kernel objects and a thread ----

struct ThreadWork {
  HANDLE ready;
  CRITICAL_SECTION lock;
  int counter;  // guarded by lock
};

DWORD WINAPI Worker(LPVOID parameter) {
  auto* work = static_cast<ThreadWork*>(parameter);
  EnterCriticalSection(&work->lock);
  work->counter += 41;
  LeaveCriticalSection(&work->lock);
  SetEvent(work->ready);
  return 42;
}

Result CheckKernel() {
  ThreadWork work{CreateEventW(nullptr, FALSE, FALSE, nullptr), {}, 1};
  if (!work.ready) return Error("CreateEventW failed", GetLastError());
  InitializeCriticalSection(&work.lock);
  Result result;
  HANDLE thread = nullptr;
  if (WaitForSingleObject(work.ready, 10) != WAIT_TIMEOUT) {
    result = "an unsignalled event did not time out";
  } else if (!(thread = CreateThread(nullptr, 0, Worker, &work, 0, nullptr))) {
    result = Error("CreateThread failed", GetLastError());
  } else if (WaitForSingleObject(work.ready, 5000) != WAIT_OBJECT_0) {
    result = "the thread did not signal its event";
  } else if (WaitForSingleObject(work.ready, 0) != WAIT_TIMEOUT) {
    result = "an auto-reset event stayed signalled";
  } else if (WaitForSingleObject(thread, 5000) != WAIT_OBJECT_0) {
    result = "the thread did not end";
  } else {
    DWORD code = 0;
    EnterCriticalSection(&work.lock);
    const int counter = work.counter;
    LeaveCriticalSection(&work.lock);
    if (!GetExitCodeThread(thread, &code) || code != 42 || counter != 42)
      result = "the thread's work or exit code is wrong";
  }
  if (thread) CloseHandle(thread);
  CloseHandle(work.ready);
  DeleteCriticalSection(&work.lock);
  if (result.empty() && (CloseHandle(work.ready) || GetLastError() != ERROR_INVALID_HANDLE))
    result = "a closed handle was accepted";
  return result;
}

// ---- Registry ----

Result RegistryRoundTrip(HKEY key, const std::u16string& path) {
  const WCHAR text[] = u"selfcheck \u00e9\u00e8";
  const WCHAR multi[] = u"a\0b\0";
  const DWORD number = 0xC0FFEE;
  const BYTE binary[] = {0, 0xFF, 0x10};
  struct Value {
    const char16_t* name;
    DWORD type;
    const void* data;
    DWORD size;
  };
  const Value values[] = {{u"Text", REG_SZ, text, sizeof text},
                          {u"List", REG_MULTI_SZ, multi, sizeof multi},
                          {u"Number", REG_DWORD, &number, sizeof number},
                          {u"Bytes", REG_BINARY, binary, sizeof binary}};
  for (const Value& v : values) {
    const LONG r = RegSetValueExW(key, v.name, 0, v.type, static_cast<const BYTE*>(v.data), v.size);
    if (r != ERROR_SUCCESS) return Error("RegSetValueExW failed", r);
  }
  // Read back through a second handle, opened with other letter case.
  std::u16string upper = path;
  CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  HKEY again;
  LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, upper.c_str(), 0, KEY_READ, &again);
  if (r != ERROR_SUCCESS) return Error("RegOpenKeyExW failed", r);
  Result result;
  for (const Value& v : values) {
    BYTE data[64];
    DWORD type = 0, size = sizeof data;
    r = RegQueryValueExW(again, v.name, nullptr, &type, data, &size);
    if (r != ERROR_SUCCESS || type != v.type || size != v.size || std::memcmp(data, v.data, size)) {
      result = "value " + cehost::ToUtf8(v.name) + " did not read back";
      break;
    }
  }
  DWORD count = 0;
  if (result.empty() &&
      (RegQueryInfoKeyW(again, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                        nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
       count != 4))
    result = "RegQueryInfoKeyW did not count the values";
  RegCloseKey(again);
  return result;
}

Result CheckRegistry() {
  const std::u16string path =
      u"cehost-selfcheck-" + cehost::FromUtf8(std::to_string(static_cast<unsigned>(getpid())));
  HKEY key;
  DWORD disposition = 0;
  LONG r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                           nullptr, &key, &disposition);
  if (r != ERROR_SUCCESS) return Error("RegCreateKeyExW failed", r);
  Result result = disposition == REG_CREATED_NEW_KEY ? RegistryRoundTrip(key, path)
                                                     : "the scratch key existed already";
  RegCloseKey(key);
  r = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
  if (result.empty() && r != ERROR_SUCCESS) result = Error("RegDeleteKeyW failed", r);
  if (result.empty() && RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) !=
                            ERROR_FILE_NOT_FOUND)
    result = "the scratch key survived its deletion";
  return result;
}

// ---- Device manager and physical-memory arena ----

constexpr DWORD kIoctlEcho = CTL_CODE(FILE_DEVICE_UNKNOWN, 1, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kIoctlFail = CTL_CODE(FILE_DEVICE_UNKNOWN, 2, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kFailStatus = 0x80090308;

// Echoes its input; fails kIoctlFail with kFailStatus. Counts closes.
class EchoDriver : public cehost::StreamDriver {
 public:
  DWORD Open(DWORD, DWORD) override { return 1; }
  BOOL Close(DWORD) override {
    ++closes;
    return TRUE;
  }
  BOOL IOControl(DWORD, DWORD code, BYTE* in, DWORD in_size, BYTE* out, DWORD out_size,
                 DWORD* returned) override {
    if (code == kIoctlEcho && out_size >= in_size) {
      if (in_size) std::memcpy(out, in, in_size);
      *returned = in_size;
      return TRUE;
    }
    SetLastError(code == kIoctlFail ? kFailStatus : static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    return FALSE;
  }
  int closes = 0;  // only the selfcheck's thread calls
};

Result CheckDevices() {
  auto driver = std::make_shared<EchoDriver>();
  if (!cehost::RegisterBuiltInDriver(u"CHK", 0, driver))
    return Error("RegisterBuiltInDriver failed", GetLastError());
  Result result;
  HANDLE h = CreateFileW(u"CHK0:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    result = Error("CreateFileW(CHK0:) failed", GetLastError());
  } else {
    char in[] = "ping", out[8] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(h, kIoctlEcho, in, 5, out, sizeof out, &returned, nullptr) ||
        returned != 5 || std::strcmp(out, "ping") != 0)
      result = "the driver's answer did not come back";
    else if (DeviceIoControl(h, kIoctlFail, nullptr, 0, nullptr, 0, nullptr, nullptr) ||
             GetLastError() != kFailStatus)
      result = "the driver's status did not reach the last error";
    CloseHandle(h);
    if (result.empty() && driver->closes != 1) result = "closing the handle did not close the driver";
  }
  cehost::DeactivateDevice(u"CHK", 0);
  if (result.empty() &&
      (CreateFileW(u"CHK0:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE ||
       GetLastError() != ERROR_FILE_NOT_FOUND))
    result = "a deactivated device still opened";
  return result;
}

Result CheckArena() {
  cehost::PhysicalArena& arena = cehost::PhysicalArena::Instance();
  if (!arena.Available()) return "the arena could not be mapped";
  const DWORD frames = arena.Allocate(0, 1920 * 1088 * 3 / 2, 0x10000);
  const DWORD image = arena.Allocate(1, 800 * 480 * 2);
  Result result;
  if (!frames || !image) {
    result = Error("Allocate failed", GetLastError());
  } else if (frames % 0x10000 != 0) {
    result = "a block is not aligned as asked";
  } else {
    auto* p = static_cast<BYTE*>(arena.MapRange(image, 800 * 480 * 2));
    if (!p || p != arena.ToVirtual(image) || arena.ToPhysical(p + 7) != image + 7) {
      result = "physical and virtual addresses do not translate";
    } else {
      std::memset(p, 0xA5, 800 * 480 * 2);
      if (static_cast<BYTE*>(arena.ToVirtual(image + 1000))[0] != 0xA5)
        result = "memory written did not read back";
      else if (arena.MapRange(image, 800 * 480 * 2 + 4096 * 2))
        result = "a range past the block's end was accepted";
    }
  }
  if (frames) arena.Free(0, frames);
  if (image) arena.Free(1, image);
  return result;
}

// ---- COM ----

Result CheckCom() {
  const bool initialised = SUCCEEDED(CoInitialize(nullptr));
  Result result;
  if (auto* block = static_cast<BYTE*>(CoTaskMemAlloc(64))) {
    std::memset(block, 7, 64);
    auto* grown = static_cast<BYTE*>(CoTaskMemRealloc(block, 4096));
    if (!grown || grown[63] != 7) result = "CoTaskMemRealloc lost the contents";
    CoTaskMemFree(grown ? grown : block);
  } else {
    result = "CoTaskMemAlloc failed";
  }

  // {6706A55F-AE71-4B5E-9511-456E042553F8}, an arbitrary CLSID
  const GUID g = {0x6706A55F, 0xAE71, 0x4B5E, {0x95, 0x11, 0x45, 0x6E, 0x04, 0x25, 0x53, 0xF8}};
  WCHAR text[39];
  GUID back{};
  if (result.empty() &&
      (StringFromGUID2(g, text, 39) != 39 || CLSIDFromString(text, &back) != S_OK || back != g))
    result = "a GUID did not survive its text form";
  void* object = nullptr;
  const HRESULT hr = result.empty() ? CoCreateInstance(CLSID_NULL, nullptr, CLSCTX_INPROC_SERVER,
                                                       IID_IUnknown, &object)
                                    : REGDB_E_CLASSNOTREG;
  if (hr != REGDB_E_CLASSNOTREG)
    result = Error("creating an unregistered class did not report it unregistered",
                   static_cast<DWORD>(hr));
  if (initialised) CoUninitialize();
  return result;
}

}  // namespace

int RunSelfcheck(const Command& self, const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(self, "unexpected argument '" + args[0] + "'");
  struct Check {
    std::string name;
    Result (*run)();
  };
  const Check checks[] = {
      {"kernel objects and a thread", CheckKernel},
      {"registry round trip in " + cehost::RegistryPath(), CheckRegistry},
      {"device manager with a built-in driver", CheckDevices},
      {"physical-memory arena", CheckArena},
      {"COM task memory, GUID text and class lookup", CheckCom},
  };
  int failed = 0;
  for (const Check& check : checks) {
    const Result result = check.run();
    if (result.empty()) {
      std::printf("[ ok ] %s\n", check.name.c_str());
    } else {
      std::printf("[FAIL] %s: %s\n", check.name.c_str(), result.c_str());
      ++failed;
    }
    std::fflush(stdout);
  }
  const int total = static_cast<int>(std::size(checks));
  if (failed == 0) {
    std::printf("selfcheck: all %d checks passed\n", total);
    return 0;
  }
  std::printf("selfcheck: %d of %d checks failed\n", failed, total);
  std::fprintf(stderr, "mediahost selfcheck: %d of %d checks failed\n", failed, total);
  return kExitFailure;
}

}  // namespace mediahost
