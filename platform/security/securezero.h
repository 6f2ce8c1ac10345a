// Wiping memory that held secrets (passwords, one-way values, keys, cipher states).
//
// An ordinary memset before a free is dead code to the optimiser and may be dropped; this
// wipe is always performed. Safe from any thread.
#pragma once

#include "windows.h"

extern "C" {

// Overwrites `cb` bytes at `ptr` with zeros and returns `ptr`. A null pointer with cb 0 is a
// no-op.
CEHOST_EXPORT PVOID SecureZeroMemory(PVOID ptr, SIZE_T cb);

}  // extern "C"
