// The Reg* functions: argument checks, HKEY handles, buffer rules (the two-pass size query and
// ERROR_MORE_DATA), over the process's one RegistryStore.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>

#include "cehost/registry.h"
#include "registry_store.h"
#include "winreg.h"
#include "wstring.h"

namespace cehost {

namespace {

// The process's registry connection and its open keys.
struct RegistryState {
  std::mutex lock;  // held for the whole of every registry call
  std::unique_ptr<RegistryStore> store;  // guarded by lock; null until first use
  // Open HKEYs: handle value -> key id. Values count up in steps of 4 and are never reused,
  // so a closed or stale HKEY is always recognised. Guarded by lock.
  std::unordered_map<uintptr_t, KeyId> keys;
  uintptr_t next_handle = 0x1000;  // guarded by lock
};

RegistryState& State() {
  // Never destroyed: keys may be closed from static destructors of other libraries.
  static RegistryState* state = new RegistryState;
  return *state;
}

KeyId RootId(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return 1;
  if (key == HKEY_CURRENT_USER) return 2;
  if (key == HKEY_LOCAL_MACHINE) return 3;
  if (key == HKEY_USERS) return 4;
  return 0;
}

// One registry call: holds the registry lock and opens the database on first use.
class Call {
 public:
  Call() : guard_(State().lock) {}

  // ERROR_SUCCESS when the store is usable.
  LONG Open() {
    RegistryState& s = State();
    if (s.store) return ERROR_SUCCESS;
    const std::string path = RegistryPath();
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    LONG error = ERROR_SUCCESS;
    s.store = RegistryStore::Open(path, &error);
    if (!s.store) {
      const std::string message =
          "registry: cannot use " + path + " (error " + std::to_string(error) + ")\r\n";
      OutputDebugStringA(message.c_str());
    }
    return error;
  }

  // The key id behind an HKEY; ERROR_INVALID_HANDLE for anything not open.
  LONG Resolve(HKEY key, KeyId* id) {
    if (const KeyId root = RootId(key)) {
      *id = root;
      return ERROR_SUCCESS;
    }
    auto& keys = State().keys;
    auto it = keys.find(reinterpret_cast<uintptr_t>(key));
    if (it == keys.end()) return ERROR_INVALID_HANDLE;
    *id = it->second;
    return ERROR_SUCCESS;
  }

  // Opens the store and resolves the handle.
  LONG Begin(HKEY key, KeyId* id) {
    const LONG r = Resolve(key, id);
    return r != ERROR_SUCCESS ? r : Open();
  }

  HKEY Issue(KeyId id) {
    RegistryState& s = State();
    const uintptr_t value = s.next_handle;
    s.next_handle += 4;
    s.keys.emplace(value, id);
    return reinterpret_cast<HKEY>(value);
  }

  RegistryStore& store() { return *State().store; }

 private:
  std::lock_guard<std::mutex> guard_;
};

// Splits "a\b\c" into its components. One trailing backslash is accepted; a leading one or
// an empty component is ERROR_BAD_PATHNAME. Null or empty gives no components.
LONG SplitPath(LPCWSTR path, std::vector<std::u16string_view>* parts) {
  parts->clear();
  if (!path) return ERROR_SUCCESS;
  std::u16string_view rest(path);
  if (!rest.empty() && rest.back() == u'\\') rest.remove_suffix(1);
  while (!rest.empty()) {
    const size_t cut = rest.find(u'\\');
    const std::u16string_view part = rest.substr(0, cut);
    if (part.empty()) return ERROR_BAD_PATHNAME;
    if (part.size() > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
    parts->push_back(part);
    if (cut == std::u16string_view::npos) break;
    rest.remove_prefix(cut + 1);
    if (rest.empty()) return ERROR_BAD_PATHNAME;
  }
  return ERROR_SUCCESS;
}

// The value name of a call: null means the key's default (unnamed) value.
LONG ValueName(LPCWSTR name, std::u16string_view* out) {
  *out = name ? std::u16string_view(name) : std::u16string_view();
  return out->size() > kMaxValueNameChars ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

// Copies a name into a caller's buffer of *chars characters (terminator included). On
// success *chars becomes the length without the terminator; when the buffer is too small it
// becomes the size needed with the terminator and nothing is written.
LONG CopyName(const std::u16string& name, LPWSTR buffer, LPDWORD chars) {
  if (name.size() + 1 > *chars) {
    *chars = static_cast<DWORD>(name.size() + 1);
    return ERROR_MORE_DATA;
  }
  std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *chars = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// The data half of a query: reports type and size, copies the bytes when the buffer holds
// them, ERROR_MORE_DATA (size reported, buffer untouched) when it does not.
LONG CopyData(const RegistryValue& value, LPDWORD type, LPBYTE data, LPDWORD bytes) {
  if (type) *type = value.type;
  if (!bytes) return ERROR_SUCCESS;
  const DWORD size = static_cast<DWORD>(value.data.size());
  const bool fits = *bytes >= size;
  *bytes = size;
  if (!data) return ERROR_SUCCESS;
  if (!fits) return ERROR_MORE_DATA;
  if (size) std::memcpy(data, value.data.data(), size);
  return ERROR_SUCCESS;
}

}  // namespace

std::string RegistryPath() {
  if (const char* p = std::getenv("CEHOST_REGISTRY"); p && *p) return p;
  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* pw = getpwuid(getuid());
      home = pw && pw->pw_dir ? pw->pw_dir : "/tmp";
    }
    base = std::string(home) + "/.local/share";
  }
  return base + "/cehost/registry.db";
}

void ReopenRegistry() {
  RegistryState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.store.reset();
  s.keys.clear();
}

}  // namespace cehost

using cehost::Call;
using cehost::KeyId;

extern "C" {

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM,
                     LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  std::vector<std::u16string_view> path;
  LONG r = cehost::SplitPath(lpSubKey, &path);
  if (r != ERROR_SUCCESS) return r;
  Call call;
  KeyId id;
  r = call.Begin(hKey, &id);
  if (r != ERROR_SUCCESS) return r;
  bool created = false;
  r = call.store().CreateKey(id, path, &id, &created);
  if (r != ERROR_SUCCESS) return r;
  *phkResult = call.Issue(id);
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  std::vector<std::u16string_view> path;
  LONG r = cehost::SplitPath(lpSubKey, &path);
  if (r != ERROR_SUCCESS) return r;
  Call call;
  KeyId id;
  r = call.Begin(hKey, &id);
  if (r == ERROR_SUCCESS) r = call.store().OpenKey(id, path, &id);
  if (r != ERROR_SUCCESS) return r;
  *phkResult = call.Issue(id);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  if (cehost::RootId(hKey)) return ERROR_SUCCESS;
  Call call;
  return cehost::State().keys.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS
                                                                        : ERROR_INVALID_HANDLE;
}

LONG RegFlushKey(HKEY hKey) {
  // Every call is already committed durably; only the handle is checked.
  Call call;
  KeyId id;
  return call.Resolve(hKey, &id);
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  std::u16string_view name;
  LONG r = cehost::ValueName(lpValueName, &name);
  if (r != ERROR_SUCCESS) return r;
  Call call;
  KeyId id;
  r = call.Begin(hKey, &id);
  cehost::RegistryValue value;
  if (r == ERROR_SUCCESS) r = call.store().QueryValue(id, name, &value);
  if (r != ERROR_SUCCESS) return r;
  return cehost::CopyData(value, lpType, lpData, lpcbData);
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
  if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
  std::u16string_view name;
  LONG r = cehost::ValueName(lpValueName, &name);
  if (r != ERROR_SUCCESS) return r;
  Call call;
  KeyId id;
  r = call.Begin(hKey, &id);
  return r != ERROR_SUCCESS ? r : call.store().SetValue(id, name, dwType, lpData, cbData);
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  std::u16string_view name;
  LONG r = cehost::ValueName(lpValueName, &name);
  if (r != ERROR_SUCCESS) return r;
  Call call;
  KeyId id;
  r = call.Begin(hKey, &id);
  return r != ERROR_SUCCESS ? r : call.store().DeleteValue(id, name);
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  std::vector<std::u16string_view> path;
  LONG r = cehost::SplitPath(lpSubKey, &path);
  if (r != ERROR_SUCCESS) return r;
  // No subkey would mean the key itself, and for a root the whole tree: refused.
  if (path.empty()) return ERROR_INVALID_PARAMETER;
  Call call;
  KeyId id;
  r = call.Begin(hKey, &id);
  return r != ERROR_SUCCESS ? r : call.store().DeleteKey(id, path);
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD,
                   LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
  Call call;
  KeyId id;
  LONG r = call.Begin(hKey, &id);
  std::u16string name;
  FILETIME written;
  if (r == ERROR_SUCCESS) r = call.store().EnumKey(id, dwIndex, &name, &written);
  if (r != ERROR_SUCCESS) return r;
  r = cehost::CopyName(name, lpName, lpcchName);
  if (r != ERROR_SUCCESS) return r;
  // Keys have no class here.
  if (lpcchClass) {
    if (lpClass && *lpcchClass) lpClass[0] = 0;
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime) *lpftLastWriteTime = written;
  return ERROR_SUCCESS;
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  Call call;
  KeyId id;
  LONG r = call.Begin(hKey, &id);
  cehost::RegistryValue value;
  if (r == ERROR_SUCCESS) r = call.store().EnumValue(id, dwIndex, &value);
  if (r != ERROR_SUCCESS) return r;
  r = cehost::CopyName(value.name, lpValueName, lpcchValueName);
  if (r != ERROR_SUCCESS) {
    // Report type and size all the same, so one retry with both buffers sized suffices.
    (void)cehost::CopyData(value, lpType, nullptr, lpcbData);
    return r;
  }
  return cehost::CopyData(value, lpType, lpData, lpcbData);
}

LONG RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                      LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  Call call;
  KeyId id;
  LONG r = call.Begin(hKey, &id);
  cehost::RegistryKeyInfo info;
  if (r == ERROR_SUCCESS) r = call.store().QueryInfo(id, &info);
  if (r != ERROR_SUCCESS) return r;
  if (lpcchClass) {
    if (lpClass && *lpcchClass) lpClass[0] = 0;
    *lpcchClass = 0;
  }
  if (lpcSubKeys) *lpcSubKeys = info.subkeys;
  if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = info.max_subkey_chars;
  if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
  if (lpcValues) *lpcValues = info.values;
  if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = info.max_value_name_chars;
  if (lpcbMaxValueLen) *lpcbMaxValueLen = info.max_value_bytes;
  if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
  if (lpftLastWriteTime) *lpftLastWriteTime = info.written;
  return ERROR_SUCCESS;
}

}  // extern "C"
