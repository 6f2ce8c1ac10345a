// Host-side helpers for shared libraries.
#pragma once

#include <string>

#include "wintypes.h"

namespace cehost {

// The module (as LoadLibraryW would return it) holding the given code or data address; a
// library uses the address of one of its own functions to learn its own path, which
// DllRegisterServer writes to the registry.
CEHOST_EXPORT HMODULE ModuleFromAddress(const void* address);

// The loader's text for the last LoadLibraryW that failed in this process.
CEHOST_EXPORT std::string LastLoaderError();

}  // namespace cehost
