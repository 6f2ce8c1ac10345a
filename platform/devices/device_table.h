// DeviceTable: the device manager's table of active devices, name -> driver. CreateFileW asks
// it for a device's driver; built-in drivers are put in by RegisterBuiltInDriver; drivers
// listed in the registry are activated into it on first use.
//
// Threads: any thread. `lock_` guards the table for short look-ups only; activations are
// serialised by `activation_lock_`, which is recursive because a driver's Init may open
// another device (and so activate it) on the same thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "cehost/stream_driver.h"

namespace cehost {

class DeviceTable {
 public:
  // The process's table; never destroyed (handles may be closed by static destructors).
  static DeviceTable& Instance();

  bool Register(std::u16string_view prefix, DWORD index, std::shared_ptr<StreamDriver> driver);
  bool Deactivate(std::u16string_view prefix, DWORD index);
  // The driver serving a device name ("XXXn:"), activating a registry-listed library when
  // needed; null with the thread's last error (see fileapi.h) when there is none.
  std::shared_ptr<StreamDriver> Find(LPCWSTR name);

  // Drops the table's references to every library driver, so each is deinitialised once
  // its last handle is closed. Run at process exit.
  void DeactivateLibraries();

 private:
  struct Entry {
    std::shared_ptr<StreamDriver> driver;
    bool from_library = false;
  };

  // Activates the registry-listed driver for `key` (the upper-case prefix and the index).
  std::shared_ptr<StreamDriver> Activate(const std::u16string& key);

  std::mutex lock_;
  std::map<std::u16string, Entry> active_;  // guarded by lock_; key "XXXn", prefix upper-case
  std::recursive_mutex activation_lock_;
};

}  // namespace cehost
