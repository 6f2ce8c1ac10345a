#include "device_table.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "cehost/device_manager.h"
#include "library_driver.h"
#include "winreg.h"

namespace cehost {

namespace {

bool IsPrefixLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// The table key of a device, "XXXn" with the prefix upper-cased; empty when the prefix is not
// three letters or the index not 0..9.
std::u16string DeviceKey(std::u16string_view prefix, DWORD index) {
  if (prefix.size() != 3 || index > 9) return {};
  std::u16string key;
  for (char16_t c : prefix) {
    if (!IsPrefixLetter(c)) return {};
    key.push_back(c >= u'a' ? static_cast<char16_t>(c - u'a' + u'A') : c);
  }
  key.push_back(static_cast<char16_t>(u'0' + index));
  return key;
}

// A REG_SZ value without its terminator (and anything after a first NUL); false when it is
// missing or not a string.
bool ReadString(HKEY key, const char16_t* name, std::u16string* out) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  std::u16string text(size / sizeof(char16_t), u'\0');
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
      ERROR_SUCCESS)
    return false;
  text.resize(size / sizeof(char16_t));
  text.resize(std::min(text.size(), text.find(u'\0')));
  *out = std::move(text);
  return true;
}

// A REG_DWORD value, or `fallback` when it is missing or not a DWORD.
DWORD ReadDword(HKEY key, const char16_t* name, DWORD fallback) {
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value)
    return fallback;
  return value;
}

void DeactivateLibrariesAtExit() { DeviceTable::Instance().DeactivateLibraries(); }

}  // namespace

DeviceTable& DeviceTable::Instance() {
  static DeviceTable* table = new DeviceTable;
  return *table;
}

bool DeviceTable::Register(std::u16string_view prefix, DWORD index,
                           std::shared_ptr<StreamDriver> driver) {
  const std::u16string key = DeviceKey(prefix, index);
  if (key.empty() || !driver) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  if (!active_.emplace(key, Entry{std::move(driver), false}).second) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  return true;
}

bool DeviceTable::Deactivate(std::u16string_view prefix, DWORD index) {
  std::shared_ptr<StreamDriver> released;  // let go outside the lock: it may run Deinit
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = active_.find(DeviceKey(prefix, index));
    if (it == active_.end()) {
      SetLastError(ERROR_DEV_NOT_EXIST);
      return false;
    }
    released = std::move(it->second.driver);
    active_.erase(it);
  }
  return true;
}

void DeviceTable::DeactivateLibraries() {
  std::vector<std::shared_ptr<StreamDriver>> released;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = active_.begin(); it != active_.end();) {
      if (it->second.from_library) {
        released.push_back(std::move(it->second.driver));
        it = active_.erase(it);
      } else {
        ++it;
      }
    }
  }
}

std::shared_ptr<StreamDriver> DeviceTable::Find(LPCWSTR name) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::u16string_view text(name);
  const bool device_name = text.size() == 5 && text[3] >= u'0' && text[3] <= u'9' && text[4] == u':';
  const std::u16string key =
      device_name ? DeviceKey(text.substr(0, 3), static_cast<DWORD>(text[3] - u'0')) : u"";
  if (key.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = active_.find(key);
    if (it != active_.end()) return it->second.driver;
  }
  return Activate(key);
}

std::shared_ptr<StreamDriver> DeviceTable::Activate(const std::u16string& key) {
  std::lock_guard<std::recursive_mutex> activation(activation_lock_);
  {
    // Another thread may have activated it while this one waited.
    std::lock_guard<std::mutex> guard(lock_);
    auto it = active_.find(key);
    if (it != active_.end()) return it->second.driver;
  }
  HKEY drivers;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn", 0, KEY_READ, &drivers) !=
      ERROR_SUCCESS) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  std::u16string library, prefix, name;
  for (DWORD i = 0; library.empty(); ++i) {
    WCHAR sub[256];
    DWORD chars = 256;
    if (RegEnumKeyExW(drivers, i, sub, &chars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    HKEY entry;
    if (RegOpenKeyExW(drivers, sub, 0, KEY_READ, &entry) != ERROR_SUCCESS) continue;
    if (ReadString(entry, u"Prefix", &prefix) &&
        DeviceKey(prefix, ReadDword(entry, u"Index", 0)) == key &&
        ReadString(entry, u"Dll", &library))
      name.assign(sub, chars);
    RegCloseKey(entry);
  }
  RegCloseKey(drivers);
  if (library.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  std::shared_ptr<StreamDriver> driver =
      LibraryDriver::Load(library, prefix, u"Drivers\\BuiltIn\\" + name);
  if (!driver) return nullptr;
  {
    std::lock_guard<std::mutex> guard(lock_);
    active_[key] = Entry{driver, true};
  }
  // Registered after the library was loaded, so it runs before the library's own static
  // destructors: Deinit still finds the library's state intact.
  std::atexit(&DeactivateLibrariesAtExit);
  return driver;
}

bool RegisterBuiltInDriver(std::u16string_view prefix, DWORD index,
                           std::shared_ptr<StreamDriver> driver) {
  return DeviceTable::Instance().Register(prefix, index, std::move(driver));
}

bool DeactivateDevice(std::u16string_view prefix, DWORD index) {
  return DeviceTable::Instance().Deactivate(prefix, index);
}

}  // namespace cehost
