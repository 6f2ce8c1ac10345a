// The device manager's host-side API: built-in drivers register themselves under a device
// name, and devices are deactivated by name. Opening a device goes through CreateFileW
// (fileapi.h); driver libraries listed in the registry are activated there on first use.
//
// Threads: every function may be called from any thread.
#pragma once

#include <memory>
#include <string_view>

#include "cehost/stream_driver.h"

namespace cehost {

// Makes `driver` serve device `prefix` (three letters, any case) number `index` (0..9), so
// CreateFileW(u"<prefix><index>:") opens it. The device manager holds a reference until the
// device is deactivated. False with ERROR_INVALID_PARAMETER for a bad prefix or index or a null
// driver, ERROR_ALREADY_EXISTS when the device is active.
CEHOST_EXPORT bool RegisterBuiltInDriver(std::u16string_view prefix, DWORD index,
                                         std::shared_ptr<StreamDriver> driver);

// Takes the device off the name table: later CreateFileW calls fail (or, for a driver listed
// in the registry, load it afresh). Handles already open keep working until closed; the
// driver's Deinit (destructor) runs after the last of them. False with ERROR_DEV_NOT_EXIST
// when the device is not active.
CEHOST_EXPORT bool DeactivateDevice(std::u16string_view prefix, DWORD index);

}  // namespace cehost
